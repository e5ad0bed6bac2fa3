/*
 * Whole installations, driven through Win32 only so that one source runs over the host layer
 * and under Wine. A Scenario says how the setup file is built, how the machine is prepared and
 * what the configuration program chooses; Installation builds the setup with pwpack's writer,
 * prepares the machine, runs the setup as another process and gathers what an observer of the
 * machine sees: exit code, log, message boxes, installed files, registry, pending operations.
 * Restart() then carries out the next start of Windows and the logon, and gathers again.
 *
 * Expected texts name the scenario's places by placeholders, filled in before comparing:
 *   {D} the scenario's folder          {I} the installation folder {D}\Pondwick
 *   {S} the setup file {D}\setup.exe   {R} the portable root {D}\Roamkit
 *   {P} the system temp folder {D}\tmp (C:\_pw after the fall-back)
 * What the machine shows names the setup's private temporary folder {T}, as its log names it.
 *   {L} the log's folder C:\_pw     {E<hex>} the system's text for that error
 *   {W<n>} a folder below {D} whose path is exactly n characters long (n decimal)
 * A log line's code may be written [*] where it is whatever error the system last left behind.
 */
#ifndef TESTS_HARNESS_INSTALL_RUNNER_H
#define TESTS_HARNESS_INSTALL_RUNNER_H

#include <memory>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tools/pwpack/pack_writer.h"

namespace e2e {

enum Blocks : unsigned {
  kLangs = 1,         // a "langs" block
  kAffid = 2,         // an "affid" block
  kPortable = 4,      // a "portable" block: the portable edition
  kCorrupt = 8,       // one byte of the "pondwick" block's data flipped
  kNoCrc = 16,        // the "pondwick" block carries no CRC (exempt from the integrity test)
  kNoConfig = 32,     // the "pondwick" block lacks the configuration program
  kBadPortable = 64,  // the "portable" block: no CRC, and properties no decoder accepts
  kConsoleConfig = 128,  // pwwipeout.exe built as a console program (the same on the host)
  kAll = kLangs | kAffid,
};

// What pwwipeout.exe is told to leave in the registry (see demo/pwwipeout.cpp): nullptr leaves
// the value alone, "(empty)" writes an empty string.
struct Choices {
  const char* folder;
  const char* fresh;
  const char* cancel;
  const char* admin;
  const char* root;
  // A folder of this name that it leaves in its working folder, the setup's temporary folder.
  const char* leave = nullptr;
};

// The machine before the run.
struct Machine {
  bool installed;        // an older product is already in {I}
  const char* locked;    // a file of {I} held open (read, share read) by another process
  const char* readOnly;  // a file of {I} marked read-only
  bool badTemp;          // the system temp folder does not exist
  bool win98;            // the machine reports the 95 family
  int answer;            // the restart question's answer: IDYES or IDNO
  bool staleCancel;      // "_CancelInstall" = 1 left in the product key by an earlier run
  bool signedSetup;      // the setup is signed (osslsigncode) before it runs
  const char* faults;    // host only: WINSIM_FAULTS for the setup's process tree
};

// A registry value exactly as the configuration program leaves it: any type, any bytes (the
// bytes may hold placeholders).
struct RawValue {
  const char* name;
  DWORD type;
  std::string bytes;
};

// Where a scenario puts things other than the usual places, and values written raw.
struct Extras {
  const char* setupFolder = nullptr;    // the setup's folder instead of {D}
  const char* setupName = nullptr;      // its file name instead of setup.exe
  const char* installFolder = nullptr;  // what {I} stands for instead of {D}\Pondwick
  std::vector<RawValue> raw;            // written by the configuration program after the rest
};

// What can be seen on the machine at one moment.
struct Observed {
  DWORD exitCode = 0;
  std::vector<std::string> log;        // from "RunSfx() - START" on, "[code] text detail"
  std::vector<std::string> wholeLog;   // every line, in the order written, {T} named as such
  std::vector<std::string> boxes;      // "caption|text" of each message box
  std::string files;                   // the tree of {I} (see Installation::Tree)
  std::string portable;                // the tree of {R}
  std::vector<std::string> values;     // the product key's values, "name=value"
  std::vector<std::string> rawValues;  // the same, byte for byte: "name=type:hex"
  std::string runOnce;                 // the RunOnce value "Pondwick", "-" when missing
  std::vector<std::string> pending;    // "source -> target" (or "source -> " for a deletion),
                                       // then "wininit: LINE" for each line of [Rename]
  bool tempExists = false;             // {T} is still there
  std::string tempFiles;               // and what it holds (see Tree), "-" when gone
  std::vector<std::string> configStarts, productStarts;  // the demo programs' records
};

// What this world's setups are made of: the stub that the container goes behind (the setup
// program under Wine, a minimal image that the host layer plays) and the product's files. For
// tests that assemble setups of their own.
struct SetupParts {
  std::string stub;
  std::vector<pwpack::PackFile> pondwick, langs, portable;
  std::string affid;
};
bool GetSetupParts(SetupParts* parts, std::string* error);

class Installation {
 public:
  Installation(unsigned blocks, const Choices& choices, const Machine& machine,
               const Extras& extras = Extras());
  ~Installation();
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  // Empty when the machine and the setup are ready; else what went wrong.
  const std::string& Problem() const { return problem_; }
  // Puts these bytes in place of the setup that the blocks made (a setup the test assembled).
  void UseSetup(const std::string& bytes);
  // Runs the setup with the command-line tail and observes the machine.
  Observed Install(const std::string& tail);
  // Ends the process holding the locked file, carries out the next start of Windows and the
  // logon's RunOnce values, and observes the machine again.
  Observed Restart(size_t productStartsExpected);
  // The expected text with the placeholders filled in.
  std::string Fill(const std::string& text) const;
  // The scenario's folder {D}, and the setup's private temporary folder {T} once the log has
  // named it (else empty).
  const std::string& Dir() const { return dir_; }
  const std::string& TempFolder() const { return tempFolder_; }
  // Whether this machine refuses writers of read-only files (Wine as root does not).
  bool ReadOnlyEnforced() const { return readOnlyEnforced_; }

 private:
  void Observe(Observed* seen);
  std::string Tree(const std::string& folder) const;
  void CleanShared();
  std::string HostPathOf(const std::string& path) const;
  void Sign(const std::string& unsignedPath);

  Machine machine_;
  std::string problem_, dir_, install_, root_, setup_, records_, tempPath_, tempFolder_;
  bool readOnlyEnforced_ = true;
  struct World;
  std::unique_ptr<World> world_;
};

// Per-file lines of a folder walk come in the order the system lists the folder, which differs
// between file systems: each walk's per-file groups are put in byte order before comparing.
std::vector<std::string> CanonicalLog(const std::vector<std::string>& lines);

}  // namespace e2e

#endif
