/*
 * The fault sweep: every platform call that a whole installation makes is made to fail, one at a
 * time, with each error that call plausibly gives, and the installation must survive it.
 *
 * For each kind of installation a clean run is traced first (WINSIM_TRACE): the list of counted
 * calls in the order the setup made them, each with its call site. Then, for every call index
 * (or every Nth, see PW_SWEEP_STRIDE) and every error in Plausible(), a fresh machine runs the
 * same installation with only that call of setup.exe failing (WINSIM_FAULTS with the program
 * prefix, so the configuration program and the product are untouched), and the run is judged by
 * what any observer of the machine can see:
 *   - the setup ended on its own, within the bound, with no sanitizer report and no crash code;
 *   - its exit code is one the setup gives: 0, -1, -4, -5 or a failure HRESULT;
 *   - the log lines written before the failing call are the clean run's lines;
 *   - a failed run was reported (a message box, or the log line of the report when the box itself
 *     is what failed);
 *   - no folder or file of the private temporary folder is left in the temporary folders unless
 *     its deletion is scheduled or the log says that removing it failed;
 *   - nothing changed outside the folders an installation may change;
 *   - every file of the installation folder holds either the old or the new bytes (a copy made
 *     for a restart may sit beside it, when its replacement is scheduled), and a run that ends
 *     with 0 has every new file in place, scheduled, or named by a log line with an error code.
 *
 * Environment: PW_SWEEP_STRIDE=N tries every Nth call index (default 1, the full sweep);
 * PW_SWEEP_OFFSET=K starts at index K (default 0); PW_SWEEP_ONLY=FUNCTION#N=ERROR runs just
 * that fault and prints what the machine showed. The summary line says how many runs and
 * distinct call sites were tried.
 */
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/winsim.h"
#include "tests/e2e/install_runner.h"

namespace {

using e2e::Choices;
using e2e::Installation;
using e2e::Machine;
using e2e::Observed;

struct Kind {
  const char* name;
  unsigned blocks;
  Choices choices;
  Machine machine;
};

// The three installations whose calls are swept: a fresh fixed install with nothing in the way,
// an update with one file held open (the restart path, declined), and the portable edition.
const Kind kKinds[] = {
    {"Fixed",
     e2e::kAll,
     {"{I}", "1", nullptr, nullptr, nullptr},
     {false, nullptr, nullptr, false, false, IDNO, false, false, nullptr}},
    {"LockedRestart",
     e2e::kAll,
     {"{I}", "1", nullptr, nullptr, nullptr},
     {true, "pondwick.dll", nullptr, false, false, IDNO, false, false, nullptr}},
    {"Portable",
     e2e::kAll | e2e::kPortable,
     {"{I}", "0", nullptr, "yes", "{R}"},
     {false, nullptr, nullptr, false, false, IDNO, false, false, nullptr}},
};

// ---- What the errors are ----

// The errors a call of function plausibly fails with on a real machine: its typical error, a
// refusal of access, and a full disk for writers and a sharing violation for openers.
std::vector<DWORD> Plausible(const std::string& function) {
  static const std::map<std::string, std::vector<DWORD>> kErrors = {
      {"CreateFileA", {ERROR_FILE_NOT_FOUND, ERROR_SHARING_VIOLATION, ERROR_DISK_FULL}},
      {"WriteFile", {ERROR_DISK_FULL}},
      {"ReadFile", {ERROR_READ_FAULT}},
      {"SetFilePointer", {ERROR_NEGATIVE_SEEK}},
      {"CloseHandle", {ERROR_INVALID_HANDLE}},
      {"CopyFileA", {ERROR_SHARING_VIOLATION, ERROR_DISK_FULL}},
      {"MoveFileA", {ERROR_SHARING_VIOLATION, ERROR_DISK_FULL}},
      {"MoveFileExA", {ERROR_SHARING_VIOLATION, ERROR_DISK_FULL}},
      {"DeleteFileA", {ERROR_SHARING_VIOLATION}},
      {"RemoveDirectoryA", {ERROR_DIR_NOT_EMPTY, ERROR_SHARING_VIOLATION}},
      {"CreateDirectoryA", {ERROR_ALREADY_EXISTS, ERROR_DISK_FULL}},
      {"GetFileAttributesA", {ERROR_FILE_NOT_FOUND}},
      {"SetFileAttributesA", {ERROR_FILE_NOT_FOUND}},
      {"FindFirstFileA", {ERROR_PATH_NOT_FOUND}},
      {"FindNextFileA", {ERROR_NOT_ENOUGH_MEMORY}},
      {"FindClose", {ERROR_INVALID_HANDLE}},
      {"GetFileSize", {ERROR_INVALID_HANDLE}},
      {"CreateFileMappingA", {ERROR_NOT_ENOUGH_MEMORY}},
      {"MapViewOfFile", {ERROR_NOT_ENOUGH_MEMORY}},
      {"UnmapViewOfFile", {ERROR_INVALID_ADDRESS}},
      {"GetTempPathA", {ERROR_PATH_NOT_FOUND}},
      {"GetTempFileNameA", {ERROR_FILE_EXISTS, ERROR_DISK_FULL}},
      {"GetModuleFileNameA", {ERROR_INSUFFICIENT_BUFFER}},
      {"GetWindowsDirectoryA", {ERROR_INSUFFICIENT_BUFFER}},
      {"GetSystemDirectoryA", {ERROR_INSUFFICIENT_BUFFER}},
      {"LoadLibraryA", {ERROR_MOD_NOT_FOUND}},
      {"GetProcAddress", {ERROR_PROC_NOT_FOUND}},
      {"CreateProcessA", {ERROR_FILE_NOT_FOUND, ERROR_NOT_ENOUGH_MEMORY}},
      {"WaitForSingleObject", {ERROR_INVALID_HANDLE}},
      {"GetExitCodeProcess", {ERROR_INVALID_HANDLE}},
      {"CreateEventA", {ERROR_INVALID_HANDLE}},
      {"RegCreateKeyExA", {ERROR_FILE_NOT_FOUND}},
      {"RegOpenKeyExA", {ERROR_FILE_NOT_FOUND}},
      {"RegQueryValueExA", {ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA}},
      {"RegSetValueExA", {ERROR_DISK_FULL}},
      {"RegDeleteValueA", {ERROR_FILE_NOT_FOUND}},
      {"RegCloseKey", {ERROR_INVALID_HANDLE}},
      {"LocalAlloc", {ERROR_NOT_ENOUGH_MEMORY}},
      {"LocalFree", {ERROR_INVALID_HANDLE}},
      {"CreateDialogParamA", {ERROR_RESOURCE_NAME_NOT_FOUND}},
      {"LoadImageA", {ERROR_RESOURCE_NAME_NOT_FOUND}},
      {"SetWindowTextA", {ERROR_INVALID_WINDOW_HANDLE}},
      {"SetWindowPos", {ERROR_INVALID_WINDOW_HANDLE}},
      {"DestroyWindow", {ERROR_INVALID_WINDOW_HANDLE}},
      {"MessageBoxA", {ERROR_NOT_ENOUGH_MEMORY}},
      {"ExitWindowsEx", {ERROR_PRIVILEGE_NOT_HELD}},
  };
  std::vector<DWORD> errors;
  auto it = kErrors.find(function);
  if (it != kErrors.end()) errors = it->second;
  errors.push_back(ERROR_ACCESS_DENIED);
  return errors;
}

// ---- The trace of a run ----

struct Call {
  std::string function;
  std::string site;  // "+0x..." within the setup program
  bool failed = false;
};

std::vector<Call> ReadTrace(const std::string& path) {
  std::vector<Call> calls;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Call call;
    std::string mark;
    fields >> call.function >> call.site >> mark;
    call.failed = !mark.empty() && mark[0] == '!';
    if (!call.function.empty()) calls.push_back(call);
  }
  return calls;
}

std::string SelfFolder() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  path[n] = '\0';
  std::string self(path);
  return self.substr(0, self.rfind('/'));
}

// The setup program that plays setup.exe on the host: call sites are offsets into it.
std::string SetupBinary() { return SelfFolder() + "/../setup/setup"; }

// "Function (file:line)" of each call site, from the setup program's debugging information.
std::map<std::string, std::string> NameSites(const std::set<std::string>& sites) {
  std::map<std::string, std::string> names;
  if (sites.empty()) return names;
  std::string command = "addr2line -f -C -s -e '" + SetupBinary() + "'";
  std::vector<std::string> order(sites.begin(), sites.end());
  for (const std::string& site : order) {
    // The return address is just past the call: one byte back lies within it.
    unsigned long offset = std::strtoul(site.c_str() + 1, nullptr, 16);
    char hex[32];
    std::snprintf(hex, sizeof hex, " 0x%lx", offset ? offset - 1 : 0);
    command += hex;
  }
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return names;
  char function[1024], place[1024];
  for (const std::string& site : order) {
    if (!std::fgets(function, sizeof function, pipe) || !std::fgets(place, sizeof place, pipe))
      break;
    std::string f(function), p(place);
    while (!f.empty() && f.back() == '\n') f.pop_back();
    while (!p.empty() && p.back() == '\n') p.pop_back();
    size_t paren = f.find('(');
    if (paren != std::string::npos) f.erase(paren);
    names[site] = f + " (" + p + ")";
  }
  pclose(pipe);
  return names;
}

// ---- What the machine holds ----

// Every file and folder under a host folder, with its size and time for files.
void Snapshot(const std::string& host, const std::string& relative,
              std::map<std::string, std::string>* out) {
  DIR* dir = opendir(host.c_str());
  if (!dir) return;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string path = host + "/" + name, rel = relative + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      (*out)[rel] = "dir";
      Snapshot(path, rel, out);
    } else {
      (*out)[rel] = std::to_string(st.st_size) + "@" + std::to_string(st.st_mtim.tv_sec) + "." +
                    std::to_string(st.st_mtim.tv_nsec);
    }
  }
  closedir(dir);
}

// The host path relative to drive C's folder that a Windows path C:\A\B stands for: "/A/B".
std::string Relative(const std::string& windowsPath) {
  std::string rel = windowsPath.size() > 2 ? windowsPath.substr(2) : std::string();
  for (char& c : rel)
    if (c == '\\') c = '/';
  return rel;
}

bool Under(const std::string& path, const std::string& folder) {
  return path == folder || path.rfind(folder + "/", 0) == 0;
}

bool Contains(const std::vector<std::string>& lines, const std::string& part) {
  for (const std::string& line : lines)
    if (line.find(part) != std::string::npos) return true;
  return false;
}

// The code of a log line "[code] text", written in hexadecimal.
unsigned long CodeOf(const std::string& line) {
  if (line.empty() || line[0] != '[') return 0;
  return std::strtoul(line.c_str() + 1, nullptr, 16);
}

// Whether the last message box of a failed run is the report of a step that ends the run with
// that result ("caption|text"; the text starts with the report's message).
bool ReportFits(LONG code, const std::string& box) {
  static const std::map<LONG, std::vector<std::string>> kReports = {
      {-1, {"Can't create temp folder to unpack files", "Pondwick requires Internet Explorer"}},
      {-4, {"Installation folder is not specified.", "Can't create folder "}},
      {-5, {"Some files remain locked in ", "Root folder for Roamkit is not specified."}},
  };
  // Any other failure is a failure HRESULT of these steps.
  static const std::vector<std::string> kOthers = {
      "Can't extract from SFX ", "Corrupted Setup File ", "Can't unpack pondwick.bin to ",
      "failed to run ", "Can't unpack portable.bin to ", "Can't create folder "};
  auto it = kReports.find(code);
  const std::vector<std::string>& allowed = it != kReports.end() ? it->second : kOthers;
  std::string text = box.substr(box.find('|') + 1);
  for (const std::string& message : allowed)
    if (text.rfind(message, 0) == 0) return true;
  return false;
}

// Whether wininit.ini's [Rename] (as Observed lists it) replaces or deletes path: its lines name
// files by their short names, TARGET=SOURCE or NUL=SOURCE.
// The temporary folder is named {T} there too.
bool InWininit(const std::vector<std::string>& pending, const std::string& path, bool isTemp) {
  char shortName[MAX_PATH] = "";
  DWORD n = GetShortPathNameA(path.c_str(), shortName, sizeof shortName);
  if (n == 0 || n >= sizeof shortName) return false;
  std::string source = isTemp ? std::string("{T}") : std::string(shortName);
  for (const std::string& line : pending)
    if (line.rfind("wininit: ", 0) == 0 && line.size() > source.size() &&
        line.compare(line.size() - source.size(), std::string::npos, source) == 0 &&
        line[line.size() - source.size() - 1] == '=')
      return true;
  return false;
}

// A failing look-up of a run-time function stands for a system without it, which the setup
// meets quietly (no MoveFileExA: nothing is scheduled, and nothing is said).
bool IsLookUp(const std::string& function) {
  return function == "GetProcAddress" || function == "LoadLibraryA" ||
         function == "GetModuleHandleA";
}

// ---- One run and its judgement ----

struct Clean {
  Observed seen;
  std::vector<Call> calls;
  std::set<std::string> logSites;  // the call sites of the log's own WriteFile
  std::set<std::string> logFolder; // what the log folder holds after a clean run
};

std::string TracePath(const std::string& kind, const std::string& what) {
  return SelfFolder() + "/../tmp/sweep-" + kind + "-" + what + ".trace";
}

std::string SanitizerPrefix(const std::string& kind) {
  return SelfFolder() + "/../tmp/sweep-" + kind + "-sanitizer";
}

// Runs the installation with the trace on and the given fault (or none); keeps the trace's calls.
// The installation stays in *install for judging: its machine is gone with it.
Observed RunInstall(const Kind& kind, const std::string& faults, std::vector<Call>* calls,
                    std::map<std::string, std::string>* before,
                    std::map<std::string, std::string>* after, std::string* problem,
                    std::unique_ptr<Installation>* install) {
  Machine machine = kind.machine;
  machine.faults = faults.empty() ? nullptr : faults.c_str();
  install->reset();  // one machine at a time: each sets the process's WINSIM_ROOT
  install->reset(new Installation(kind.blocks, kind.choices, machine));
  Observed seen;
  if (!(*install)->Problem().empty()) {
    *problem = "machine not ready: " + (*install)->Problem();
    return seen;
  }
  std::string trace = TracePath(kind.name, faults.empty() ? "clean" : "fault");
  unlink(trace.c_str());
  std::string drive = winsim::HostPath("C:\\");
  before->clear();
  Snapshot(drive, "", before);
  setenv("WINSIM_TRACE", ("setup.exe:" + trace).c_str(), 1);
  seen = (*install)->Install("");
  unsetenv("WINSIM_TRACE");
  after->clear();
  Snapshot(drive, "", after);
  *calls = ReadTrace(trace);
  if (!(*install)->Problem().empty()) *problem = (*install)->Problem();
  return seen;
}

// Everything wrong with one faulted run, one line each; empty when it survived.
std::vector<std::string> Judge(const Kind& kind, const Clean& clean, Installation& install,
                               const Observed& seen, const std::vector<Call>& calls,
                               const std::map<std::string, std::string>& before,
                               const std::map<std::string, std::string>& after,
                               const std::string& function, DWORD error) {
  std::vector<std::string> wrong;
  auto bad = [&wrong](const std::string& what) { wrong.push_back(what); };

  // Ended, and ended well enough.
  LONG code = (LONG)seen.exitCode;
  bool knownCode = code == 0 || code == -1 || code == -4 || code == -5 ||
                   (seen.exitCode & 0xF0000000u) == 0x80000000u;
  if (seen.exitCode == STILL_ACTIVE) bad("the setup did not end within the bound");
  else if (!knownCode) bad("exit code " + std::to_string(seen.exitCode) + " is no result of the setup");
  std::string sanitizer = SanitizerPrefix(kind.name);
  for (const char* suffix : {"asan", "ubsan"}) {
    DIR* dir = opendir((SelfFolder() + "/../tmp").c_str());
    if (!dir) break;
    std::string stem = sanitizer.substr(sanitizer.rfind('/') + 1) + "-" + suffix;
    while (dirent* entry = readdir(dir))
      if (std::string(entry->d_name).rfind(stem, 0) == 0) {
        std::string path = SelfFolder() + "/../tmp/" + entry->d_name;
        std::ifstream in(path);
        std::string first;
        std::getline(in, first);
        std::getline(in, first);
        bad(std::string("sanitizer report: ") + first);
        unlink(path.c_str());
      }
    closedir(dir);
  }

  // The failing call must have happened.
  size_t failedAt = calls.size();
  for (size_t i = 0; i < calls.size(); ++i)
    if (calls[i].failed) {
      failedAt = i;
      break;
    }
  if (failedAt == calls.size()) bad("the chosen call never failed: the run took another way");

  // The log up to the failing call is the clean run's.
  size_t written = 0;
  for (size_t i = 0; i < failedAt && i < calls.size(); ++i)
    if (calls[i].function == "WriteFile" && clean.logSites.count(calls[i].site)) ++written;
  for (size_t i = 0; i < written; ++i) {
    if (i >= seen.wholeLog.size() || i >= clean.seen.wholeLog.size()) {
      bad("log line " + std::to_string(i + 1) + " written before the failure is gone");
      break;
    }
    if (seen.wholeLog[i] != clean.seen.wholeLog[i]) {
      bad("log line " + std::to_string(i + 1) + " differs: '" + seen.wholeLog[i] + "' against '" +
          clean.seen.wholeLog[i] + "'");
      break;
    }
  }

  // A failed run says so, with the report that belongs to its result.
  if (code != 0 && knownCode && function != "MessageBoxA") {
    if (seen.boxes.empty())
      bad("exit code " + std::to_string(code) + " without any report");
    else if (!ReportFits(code, seen.boxes.back()))
      bad("exit code " + std::to_string(code) + " ends with the report '" + seen.boxes.back() + "'");
  }

  // Leftovers in the temporary folders.
  std::string systemTemp = Relative(install.Dir() + "\\tmp"), logFolder = "/_pw";
  for (const auto& entry : after) {
    bool inTemp = Under(entry.first, systemTemp) && entry.first != systemTemp;
    bool inLog = Under(entry.first, logFolder) && entry.first != logFolder;
    if (!inTemp && !inLog) continue;
    std::string name = entry.first.substr(entry.first.find('/', 1) == std::string::npos
                                              ? 0
                                              : (inTemp ? systemTemp : logFolder).size());
    if (inLog && clean.logFolder.count(name)) continue;  // the log files
    // Only what lies directly in the folder: a whole leftover is one finding.
    if (name.find('/', 1) != std::string::npos) continue;
    std::string windows = (inTemp ? install.Dir() + "\\tmp" : std::string("C:\\_pw")) + "\\" +
                          name.substr(1);
    bool isTemp = windows == install.TempFolder();
    bool scheduled = Contains(seen.pending, (isTemp ? std::string("{T}") : windows) + " -> ") ||
                     InWininit(seen.pending, windows, isTemp) || IsLookUp(function);
    // The word: a failed removal, a failed scheduling, or a failure line naming it.
    bool reported = Contains(seen.wholeLog, "Cleanup files err ") ||
                    Contains(seen.wholeLog, "Cleanup folder err ") ||
                    (isTemp && Contains(seen.wholeLog, "MoveFileEx  FAIL"));
    for (const std::string& line : seen.wholeLog)
      reported = reported || (CodeOf(line) != 0 && line.find(windows) != std::string::npos);
    if (!scheduled && !reported) bad("left behind without a word: " + windows);
  }

  // Nothing outside the folders an installation may change.
  std::vector<std::string> allowed = {Relative(install.Dir() + "\\Pondwick"),
                                      Relative(install.Dir() + "\\Roamkit"),
                                      Relative(install.Dir() + "\\records"), systemTemp, logFolder};
  // A version that can't be read counts as the 95 family, which replaces files through
  // wininit.ini.
  if (function == "GetVersionExA") allowed.push_back("/WINDOWS/wininit.ini");
  std::set<std::string> changed;
  for (const auto& entry : after) {
    auto old = before.find(entry.first);
    if (old == before.end() || old->second != entry.second) changed.insert(entry.first);
  }
  for (const auto& entry : before)
    if (!after.count(entry.first)) changed.insert(entry.first);
  for (const std::string& path : changed) {
    bool ok = false;
    for (const std::string& folder : allowed) ok = ok || Under(path, folder);
    if (!ok) bad("changed outside the installation's folders: C:" + path);
  }

  // The installation folder: old or new bytes, never a mix; copies beside only when scheduled.
  std::istringstream files(seen.files == "-" ? std::string() : seen.files);
  std::string item;
  std::set<std::string> newFiles;
  while (files >> item) {
    size_t eq = item.find('=');
    std::string name = item.substr(0, eq);
    if (item.back() == '/') continue;
    if (eq == std::string::npos) {
      newFiles.insert(name);
      continue;
    }
    std::string what = item.substr(eq + 1);
    if (what == "old") continue;
    bool copy = name.rfind("_pw", 0) == 0 && name.size() > 7 &&
                name.compare(name.size() - 4, 4, ".pw_") == 0;
    std::string target = install.Dir() + "\\Pondwick\\" + what;
    std::string path = install.Dir() + "\\Pondwick\\" + name;
    if (copy && what.find('?') == std::string::npos &&
        (Contains(seen.pending, path + " -> " + target) || InWininit(seen.pending, path, false)))
      continue;
    bad("installation folder holds " + item);
  }
  if (code == 0 && clean.seen.exitCode == 0) {
    std::istringstream expected(clean.seen.files);
    while (expected >> item) {
      std::string name = item.substr(0, item.find('='));
      if (name.rfind("_pw", 0) == 0 || newFiles.count(name)) continue;
      bool scheduled = Contains(seen.pending, " -> " + install.Dir() + "\\Pondwick\\" + name);
      bool logged = false;
      for (const std::string& line : seen.wholeLog)
        logged = logged || (line.find(name) != std::string::npos && CodeOf(line) != 0);
      // A block whose failure the run tolerates and reports brings none of its files: "langs"
      // (the run goes on as the English version) and "affid".
      bool lng = name.size() > 4 && name.compare(name.size() - 4, 4, ".lng") == 0;
      logged = logged || (lng && Contains(seen.wholeLog, "] ENGLISH Ver") &&
                          Contains(seen.wholeLog, "] Err unpack to"));
      logged = logged || (name == "affid.txt" && (Contains(seen.wholeLog, "] Err save to ") ||
                                                  Contains(seen.wholeLog, "] Err write ")));
      // The clean run's outcome may itself leave a file for the restart; so may this one.
      if (!scheduled && !logged && !Contains(clean.seen.pending, "\\" + name))
        bad("ended with 0, yet " + name + " is neither new, scheduled nor reported");
    }
  }
  (void)error;
  return wrong;
}

size_t EnvNumber(const char* name, size_t fallback) {
  const char* v = std::getenv(name);
  return v && *v ? (size_t)std::strtoul(v, nullptr, 10) : fallback;
}

class FaultSweep : public ::testing::TestWithParam<Kind> {};

TEST_P(FaultSweep, EveryFailingCallIsSurvived) {
  const Kind& kind = GetParam();
  std::string sanitizer = SanitizerPrefix(kind.name);
  std::string options = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
  setenv("ASAN_OPTIONS", (options + (options.empty() ? "" : ":") + "log_path=" + sanitizer + "-asan").c_str(), 1);
  options = std::getenv("UBSAN_OPTIONS") ? std::getenv("UBSAN_OPTIONS") : "";
  setenv("UBSAN_OPTIONS", (options + (options.empty() ? "" : ":") + "log_path=" + sanitizer + "-ubsan").c_str(), 1);

  // The clean run.
  Clean clean;
  std::map<std::string, std::string> before, after;
  std::string problem;
  std::unique_ptr<Installation> install;
  clean.seen = RunInstall(kind, "", &clean.calls, &before, &after, &problem, &install);
  install.reset();
  ASSERT_TRUE(problem.empty()) << problem;
  ASSERT_FALSE(clean.calls.empty()) << "no trace: is WINSIM_TRACE honoured?";
  std::set<std::string> sites;
  for (const Call& call : clean.calls) sites.insert(call.site);
  std::map<std::string, std::string> names = NameSites(sites);
  for (const Call& call : clean.calls)
    if (call.function == "WriteFile" && names[call.site].rfind("WriteLog ", 0) == 0)
      clean.logSites.insert(call.site);
  ASSERT_FALSE(clean.logSites.empty()) << "cannot tell the log's writes: no debugging information?";
  for (const auto& entry : after)
    if (entry.first.rfind("/_pw/", 0) == 0) clean.logFolder.insert(entry.first.substr(4));

  size_t stride = EnvNumber("PW_SWEEP_STRIDE", 1), offset = EnvNumber("PW_SWEEP_OFFSET", 0);
  if (stride == 0) stride = 1;
  std::map<std::string, unsigned> ordinal;
  std::vector<unsigned> nth(clean.calls.size());
  for (size_t i = 0; i < clean.calls.size(); ++i) nth[i] = ++ordinal[clean.calls[i].function];

  // PW_SWEEP_ONLY=FUNCTION#N=ERROR runs that one fault and shows what the machine saw.
  const char* only = std::getenv("PW_SWEEP_ONLY");
  size_t runs = 0, failures = 0;
  std::set<std::string> tried;
  std::string report;
  for (size_t i = offset; i < clean.calls.size(); i += stride) {
    const Call& call = clean.calls[i];
    for (DWORD error : Plausible(call.function)) {
      std::string item = call.function + "#" + std::to_string(nth[i]) + "=" + std::to_string(error);
      if (only && *only && item != only) continue;
      tried.insert(call.function + " " + call.site);
      std::string fault = "setup.exe:" + item;
      std::vector<Call> calls;
      problem.clear();
      Observed seen = RunInstall(kind, fault, &calls, &before, &after, &problem, &install);
      if (problem.rfind("machine not ready", 0) == 0) {  // a loaded machine: once more
        problem.clear();
        seen = RunInstall(kind, fault, &calls, &before, &after, &problem, &install);
      }
      ++runs;
      std::vector<std::string> wrong;
      if (problem.empty())
        wrong = Judge(kind, clean, *install, seen, calls, before, after, call.function, error);
      else
        wrong.push_back(problem);
      install.reset();
      if (only && *only) {
        std::printf("exit %ld\n", (long)(LONG)seen.exitCode);
        for (const std::string& line : seen.wholeLog) std::printf("log: %s\n", line.c_str());
        for (const std::string& box : seen.boxes) std::printf("box: %s\n", box.c_str());
        std::printf("files: %s\n", seen.files.c_str());
        for (const std::string& p : seen.pending) std::printf("pending: %s\n", p.c_str());
      }
      if (wrong.empty()) continue;
      ++failures;
      if (failures > 25) continue;  // enough to go on with
      report += "\n" + fault + " at call " + std::to_string(i + 1) + " from " + names[call.site] +
                " (exit " + std::to_string((LONG)seen.exitCode) + "):";
      for (const std::string& w : wrong) report += "\n    " + w;
    }
  }
  std::printf("fault sweep %s: %zu calls traced, %zu distinct call sites (%zu tried), %zu runs, "
              "%zu failed\n",
              kind.name, clean.calls.size(), sites.size(), tried.size(), runs, failures);
  EXPECT_EQ(failures, 0u) << report;
}

INSTANTIATE_TEST_SUITE_P(Installations, FaultSweep, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
