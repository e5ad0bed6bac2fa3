/*
 * The malformed-setup corpus: setup files damaged in every way that the container walk, the
 * integrity test and the extraction refuse, each made from a healthy setup by pwpack's writer and
 * one deliberate change, with what a whole install must then do: exit code, message boxes, the
 * deciding log lines and how far the run gets. Expected texts use the placeholders of
 * tests/harness/install_runner.h ({S} setup file, {T} private temporary folder, {I} installation
 * folder, {R} portable root, {D} scenario's folder, {E<hex>} the system's text for an error code).
 */
#ifndef TESTS_CORPUS_MALFORMED_SETUPS_H
#define TESTS_CORPUS_MALFORMED_SETUPS_H

#include <functional>
#include <string>
#include <vector>

#include "tools/pwpack/pack_writer.h"

namespace corpus {

// A healthy setup's image and block files; the damage never depends on them, so any world's will
// do.
struct Parts {
  std::string stub;
  std::vector<pwpack::PackFile> pondwick, langs, portable;
  std::string affid;
};

// The packed data of files; each stream is packed once per program.
bool PackFiles(const std::vector<pwpack::PackFile>& files, std::string* data, std::string* error);

// How far a run of the damaged setup gets.
enum class Stage {
  kBeforeTemp,  // refused by the integrity test: no temporary folder, no registry value
  kUnpacking,   // "pondwick" does not unpack: the temporary folder goes again, nothing runs
  kRunGoesOn,   // the damage is in a block the run does without: it installs
  kPortable,    // the "portable" block does not unpack, after the files were moved
};

using Lines = std::vector<std::string>;

struct Case {
  const char* name;
  std::string damage;  // what is wrong with the file
  Stage stage;
  std::function<bool(const Parts& parts, std::string* setup, std::string* error)> make;
  int exitCode;
  Lines decisive;     // log lines that must appear one after the other, "[code] text detail"
  Lines boxes;        // every message box of the run, "caption|text"
  const char* files;  // the tree of {I} afterwards (as Installation::Tree), "-" for none
};

const std::vector<Case>& Cases();

}  // namespace corpus

#endif
