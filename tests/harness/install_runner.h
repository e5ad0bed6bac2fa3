// Whole installations through Win32 only, so that one source runs over the host layer and under
// Wine. A Scenario says how the setup is built, the machine prepared and what the configuration
// program chooses; Installation does so (pwpack's writer builds the setup), runs the setup as
// another process and observes the machine; Restart() carries out the next start of Windows and
// the logon, and observes again.
//
// Expected texts name the scenario's places by placeholders, filled in before comparing:
//   {D} the scenario's folder          {I} the installation folder {D}\Pondwick
//   {S} the setup file {D}\setup.exe   {R} the portable root {D}\Roamkit
//   {P} the system temp folder {D}\tmp (C:\_pw after the fall-back)
//   {L} the log's folder C:\_pw        {E<hex>} the system's text for that error
//   {W<n>} a folder below {D} whose path is exactly n characters long (n decimal)
// What the machine shows names the setup's private temporary folder {T}, as its log names it.
// A log line's code may be written [*] where it is whatever error the system last left behind.
#ifndef TESTS_HARNESS_INSTALL_RUNNER_H
#define TESTS_HARNESS_INSTALL_RUNNER_H

#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "setup/product_names.h"
#include "tests/corpus/malformed_setups.h"
#include "tests/support/child_process.h"
#include "tests/support/log_reader.h"
#include "tests/support/restart_state.h"
#include "tests/support/test_machine.h"

namespace e2e {

// Where Wine and the host layer part, the code asks this at run time and says why beside it.
#ifdef _WIN32
const bool kWine = true;
#else
const bool kWine = false;
#endif

using Lines = std::vector<std::string>;

enum : unsigned {
  kLangs = 1,            // a "langs" block
  kAffid = 2,            // an "affid" block
  kPortable = 4,         // a "portable" block: the portable edition
  kCorrupt = 8,          // one byte of the "pondwick" block's data flipped
  kNoCrc = 16,           // the "pondwick" block carries no CRC (exempt from the integrity test)
  kNoConfig = 32,        // the "pondwick" block lacks the configuration program
  kBadPortable = 64,     // the "portable" block: no CRC, and properties no decoder accepts
  kConsoleConfig = 128,  // pwwipeout.exe built as a console program (the same on the host)
  kAll = kLangs | kAffid,
};

// A registry value as the configuration program writes it: any type, any bytes (filled).
struct RawValue {
  const char* name;
  DWORD type;
  std::string bytes;
};

// One installation; by default a fixed-edition setup of every block, run on a clean machine
// whose configuration program chooses {I} for a fresh installation.
struct Scenario {
  // The setup, where it is put, and its command-line tail.
  unsigned blocks = kAll;
  const char* setupFolder = nullptr;    // the setup's folder instead of {D}
  const char* setupName = nullptr;      // its file name instead of setup.exe
  const char* installFolder = nullptr;  // what {I} stands for instead of {D}\Pondwick
  std::string tail;
  // What pwwipeout.exe leaves in the registry (demo/pwwipeout.cpp): nullptr leaves the value
  // alone, "(empty)" writes an empty string.
  const char *folder = "{I}", *fresh = "1", *cancel = nullptr, *admin = nullptr, *root = nullptr;
  const char* leave = nullptr;  // a folder it leaves in its working folder, the setup's {T}
  std::vector<RawValue> raw;    // values it writes raw, after the rest
  // The machine before the run.
  bool installed = false;          // an older product is already in {I}
  const char* locked = nullptr;    // a file of {I} held open (read, share read) by another process
  const char* readOnly = nullptr;  // a file of {I} marked read-only
  bool badTemp = false;            // the system temp folder does not exist
  bool win98 = false;              // the machine reports the 95 family
  int answer = IDNO;               // the restart question's answer: IDYES or IDNO
  bool staleCancel = false;        // "_CancelInstall" = 1 left in the product key by an earlier run
  bool signedSetup = false;        // the setup is signed (osslsigncode) before it runs
  std::string faults;              // host only: WINSIM_FAULTS for the setup's process tree
};

// A scenario is written as its differences from the default one, in order.
using Input = std::function<void(Scenario&)>;
inline Scenario With(std::initializer_list<Input> inputs) {
  Scenario s;
  for (const Input& input : inputs) input(s);
  return s;
}
// A change of one field, of a scenario or of anything else built step by step.
template <typename C, typename T, typename V>
std::function<void(C&)> Set(T C::*field, V value) {
  return [=](C& c) { c.*field = value; };
}
inline Input Blocks(unsigned b) { return Set(&Scenario::blocks, b); }
inline Input Both(Input a, Input b) {
  return [=](Scenario& s) { a(s), b(s); };
}
inline Input SetupAt(const char* dir, const char* file) {
  return Both(Set(&Scenario::setupFolder, dir), Set(&Scenario::setupName, file));
}
inline Input InstallTo(const char* dir) { return Set(&Scenario::installFolder, dir); }
inline Input Folder(const char* v) { return Set(&Scenario::folder, v); }
inline Input WasFresh(const char* v) { return Set(&Scenario::fresh, v); }
inline Input Cancel(const char* v) { return Set(&Scenario::cancel, v); }
inline Input Admin(const char* v) { return Set(&Scenario::admin, v); }
inline Input Leave(const char* v) { return Set(&Scenario::leave, v); }
inline Input Raw(const char* name, DWORD type, const std::string& bytes) {
  return [=](Scenario& s) { s.raw.push_back({name, type, bytes}); };
}
// The portable edition, whose root the configuration program chooses.
inline Input Portable(const char* root) {
  return [=](Scenario& s) { s.blocks |= kPortable, s.root = root; };
}
inline Input Installed() { return Set(&Scenario::installed, true); }
inline Input Locked(const char* file) { return Both(Installed(), Set(&Scenario::locked, file)); }
inline Input ReadOnly(const char* f) { return Both(Installed(), Set(&Scenario::readOnly, f)); }
inline Input BadTemp() { return Set(&Scenario::badTemp, true); }
inline Input Win98() { return Set(&Scenario::win98, true); }
inline Input Answer(int answer) { return Set(&Scenario::answer, answer); }
inline Input StaleCancel() { return Set(&Scenario::staleCancel, true); }
inline Input Signed() { return Set(&Scenario::signedSetup, true); }
inline Input Faults(const char* f) { return Set(&Scenario::faults, f); }

// What can be seen on the machine at one moment.
struct Observed {
  DWORD exitCode = 0;
  Lines log;          // from "RunSfx() - START" on, "[code] text detail"
  Lines wholeLog;     // every line, in the order written, {T} named as such
  Lines boxes;        // "caption|text" of each message box
  std::string files;  // the tree of {I}: names in byte order, "-" when it is missing
  // {I}'s entries by name: "" the payload file of that name, "old" an older installation's, "/" a
  // folder, else what the bytes are: "NAME", "old NAME" (another file's) or "?SIZE"
  std::map<std::string, std::string> installed;
  std::string portable;     // the tree of {R}
  Lines values;             // the product key's values, "name=value"
  Lines rawValues;          // the same, byte for byte: "name=type:hex"
  std::string runOnce;      // the RunOnce value "Pondwick", "-" when missing
  Lines pending;            // "source -> target" ("source -> " deletes), then "wininit: LINE"
  bool tempExists = false;  // {T} is still there
  std::string tempFiles;    // and what it holds (as files), "-" when gone
  Lines configStarts, productStarts;  // the demo programs' records
};

// This world's setup parts: the stub the container goes behind (the setup program under Wine, a
// minimal image that the host layer plays) and the product's files.
using SetupParts = corpus::Parts;
bool GetSetupParts(SetupParts* parts, std::string* error);

class Installation {
 public:
  explicit Installation(const Scenario& scenario);
  ~Installation();

  // Empty when the machine and the setup are ready; else what went wrong.
  const std::string& Problem() const { return problem_; }
  // Empty when this world can run the scenario as written; else why it can't.
  std::string Unsupported() const;
  // Puts these bytes in place of the setup that the blocks made.
  void UseSetup(const std::string& bytes);
  // Runs the setup with the scenario's tail and observes the machine.
  Observed Install();
  // Ends the holder of the locked file, carries out the next start of Windows and the logon's
  // RunOnce values, and observes the machine again.
  Observed Restart(size_t productStartsExpected);
  // The expected text with the placeholders filled in.
  std::string Fill(const std::string& text) const;
  Lines Fill(const Lines& lines) const;
  // {D}, and {T} once the log has named it (else empty).
  const std::string& Dir() const { return dir_; }
  const std::string& TempFolder() const { return tempFolder_; }

 private:
  const Observed& Observe(Observed* seen);
  void Sign(const std::string& unsignedPath);

  TestMachine machine_;
  Scenario scenario_;
  std::string problem_, dir_, install_, root_, setup_, records_, tempPath_, tempFolder_;
  std::unique_ptr<HeldByChild> holder_;
};

// Per-file lines of a folder walk come in the order the system lists the folder, which differs
// between file systems: each walk's per-file groups are put in byte order before comparing.
Lines CanonicalLog(const Lines& lines);

// Every entry under a folder by its path: a file's size and last write time, "folder" for a
// folder (its time changes whenever an entry comes and goes beneath it).
using Drive = std::map<std::string, std::string>;
Drive Snapshot(const std::string& folder);
// What changed from before to after outside the folders allowed: "+path", "-path", "~path".
Lines Changes(const Drive& before, const Drive& after, const Lines& allowed);

// The values the setup and the configuration program exchange, in the order they are shown.
const char* const kValueNames[] = {
    names::kInstallerDir,   names::kWasFresh,      names::kCancelInstall, names::kFolder,
    names::kFolderPortable, names::kUseAdminFiles, names::kPortableRoot};
std::string Hex(const std::string& bytes);

inline Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace e2e

#endif
