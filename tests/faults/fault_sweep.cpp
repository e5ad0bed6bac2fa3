/*
 * The fault sweep: every platform call that a whole installation makes is made to fail, one at a
 * time, with each error that call plausibly gives, and the setup is ended at each of those calls
 * as a power cut would end it; each run must keep the installer's promise.
 *
 * For each kind of installation a clean run is traced first (WINSIM_TRACE): the list of counted
 * calls in the order the setup made them, each with its call site and the errors its function
 * declares plausible. Then, for every call index (or every Nth, see PW_SWEEP_STRIDE):
 *   - faulted runs: for every plausible error, a fresh machine runs the same installation with
 *     only that call of setup.exe failing (WINSIM_FAULTS with the program prefix, so the
 *     configuration program and the product are untouched);
 *   - a killed run: a fresh machine runs it with the setup ended at that call (WINSIM_KILL), then
 *     Windows starts again (winsim boot), then the same setup runs again without faults.
 * Each run is judged by named checks (see the Check functions), by what a user or a deployment
 * script sees: the result and the boxes, the files, the pending replacements, the restart.
 *
 * Environment: PW_SWEEP_STRIDE=N tries every Nth call index (default 1, the full sweep);
 * PW_SWEEP_OFFSET=K starts at index K (default 0); PW_SWEEP_KILLS_EVERY=K kills at every Kth of
 * the indices tried (default 1: at each); PW_SWEEP_MODE=faults or kills runs one half;
 * PW_SWEEP_ONLY=FUNCTION#N=ERROR (or FUNCTION#N=kill) runs just that one and prints what the
 * machine showed. The summary line gives runs, kills, failures and what killed runs left behind.
 */
#include <dirent.h>
#include <gtest/gtest.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "setup/product_names.h"
#include "tests/harness/install_runner.h"

namespace {

using namespace e2e;

struct Kind {
  const char* name;
  Scenario scenario;
};

// The four installations whose calls are swept, as the e2e scenarios of their kinds but with no
// options, so that every box is shown: a fresh fixed install with nothing in the way, an update
// with one file held open (the restart path, declined) on the NT family and on the 95 family
// (wininit.ini), and the portable edition.
const Kind kKinds[] = {
    {"Fixed", {}},
    {"LockedRestart", With({Locked("pondwick.dll")})},
    {"Portable", With({Portable("{R}"), WasFresh("0"), Admin("yes")})},
    {"Locked95", With({Locked("pondwick.dll"), Win98()})},
};

// ---- The trace of a run ----

struct Call {
  std::string function;
  std::string site;            // "+0x..." within the setup program
  std::vector<DWORD> errors;   // the errors its function declares plausible
  bool failed = false, killed = false;
};

std::vector<Call> ReadTrace(const std::string& path) {
  std::vector<Call> calls;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Call call;
    std::string mark;
    fields >> call.function >> call.site;
    while (fields >> mark) {
      if (mark[0] == '!') call.failed = true;
      if (mark == "KILLED") call.killed = true;
      if (mark[0] != '?') continue;
      std::istringstream list(mark.substr(1));
      std::string error;
      while (std::getline(list, error, ','))
        call.errors.push_back((DWORD)std::strtoul(error.c_str(), nullptr, 10));
    }
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
  Lines order(sites.begin(), sites.end());
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

bool Contains(const Lines& lines, const std::string& part) {
  auto has = [&part](const std::string& line) { return line.find(part) != std::string::npos; };
  return std::any_of(lines.begin(), lines.end(), has);
}

// Whether the last message box of a failed run is the report of a step that ends the run with
// that result ("caption|text"; the text starts with the report's message).
bool ReportFits(LONG code, const std::string& box) {
  static const std::map<LONG, Lines> kReports = {
      {kResultStopped,
       {"Can't create temp folder to unpack files", "Pondwick requires Internet Explorer"}},
      {kResultNoFolder, {"Installation folder is not specified.", "Can't create folder "}},
      {kResultFilesLocked,
       {"Some files remain locked in ", "Root folder for Roamkit is not specified."}},
  };
  // Any other failure is a failure HRESULT of these steps.
  static const Lines kOthers = {"Can't extract from SFX ",       "Corrupted Setup File ",
                                "Can't unpack pondwick.bin to ", "failed to run ",
                                "Can't unpack portable.bin to ", "Can't create folder "};
  auto it = kReports.find(code);
  const Lines& allowed = it != kReports.end() ? it->second : kOthers;
  std::string text = box.substr(box.find('|') + 1);
  for (const std::string& message : allowed)
    if (text.rfind(message, 0) == 0) return true;
  return false;
}

// Whether wininit.ini's [Rename] (as Observed lists it) replaces or deletes path: its lines name
// files by their short names, TARGET=SOURCE or NUL=SOURCE.
// The temporary folder is named {T} there too.
bool InWininit(const Lines& pending, const std::string& path, bool isTemp) {
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

// ---- The files of an installation ----

// A numbered copy made beside its target for the restart: _pwN.pw_.
bool IsRestartCopy(const std::string& name) {
  return name.rfind("_pw", 0) == 0 && name.size() > 7 &&
         name.compare(name.size() - 4, 4, ".pw_") == 0;
}

// The product's files, as the clean run installs them (in place, or as a copy's target).
std::set<std::string> PayloadNames(const Observed& clean) {
  std::set<std::string> names;
  for (const auto& entry : clean.installed)
    if (entry.second == "/") continue;
    else if (IsRestartCopy(entry.first)) names.insert(entry.second);
    else names.insert(entry.first);
  return names;
}

// A block whose failure the run tolerates, and reports in its log, brings none of its files:
// "langs" (the run goes on as the English version) and "affid".
bool ToleratedMissing(const std::string& name, const Observed& seen) {
  bool lng = name.size() > 4 && name.compare(name.size() - 4, 4, ".lng") == 0;
  return (lng && Contains(seen.wholeLog, "] ENGLISH Ver") &&
          Contains(seen.wholeLog, "] Err unpack to")) ||
         (name == "affid.txt" &&
          (Contains(seen.wholeLog, "] Err save to ") || Contains(seen.wholeLog, "] Err write ")));
}

// Whether the copy is scheduled to replace the target at the next start.
bool ScheduledOver(const Observed& seen, const std::string& copy, const std::string& target) {
  return Contains(seen.pending, copy + " -> " + target) || InWininit(seen.pending, copy, false);
}

// ---- One run and its judgement ----

// One run on a fresh machine with the trace on and the given fault or kill (or none). The
// installation stays for judging: its machine goes with it.
struct Trial {
  std::unique_ptr<Installation> install;
  Observed seen;
  std::vector<Call> calls;
  Drive before, after;
  std::string problem;
};

// The clean run, and what the faulted runs are held to.
struct Clean : Trial {
  std::set<std::string> logSites;  // the call sites of the log's own WriteFile
  std::set<std::string> logFolder;  // what the log folder holds after a clean run
};

// What one run showed, for the checks.
struct Look {
  const Kind& kind;
  const Clean& clean;
  Installation& install;
  const Observed& seen;
  const std::vector<Call>& calls;
  const Drive& before;
  const Drive& after;
  std::string function;  // the failing call's function ("" for a run without faults)
  std::string Folder() const { return install.Dir() + "\\Pondwick"; }
};

// What a run broke: one line per finding, led by the name of the promise it broke.
struct Findings {
  Lines lines;
  void operator()(const char* check, const std::string& detail) {
    lines.push_back(std::string(check) + ": " + detail);
  }
};

std::string SanitizerPrefix(const std::string& kind) {
  return SelfFolder() + "/../tmp/sweep-" + kind + "-sanitizer";
}

// The setup ended on its own, within the bound, with a result it gives.
bool CheckEnded(const Observed& seen, Findings& bad) {
  LONG code = (LONG)seen.exitCode;
  bool known = code == 0 || code == kResultStopped || code == kResultNoFolder ||
               code == kResultFilesLocked || (seen.exitCode & 0xF0000000u) == 0x80000000u;
  if (seen.exitCode == STILL_ACTIVE) bad("ended", "the setup did not end within the bound");
  else if (!known) bad("ended", "exit code " + std::to_string(seen.exitCode) + " is no result");
  return known && seen.exitCode != STILL_ACTIVE;
}

void CheckNoSanitizerReport(const std::string& kind, Findings& bad) {
  std::string prefix = SanitizerPrefix(kind);
  std::string folder = prefix.substr(0, prefix.rfind('/'));
  for (const char* suffix : {"asan", "ubsan"}) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) break;
    std::string stem = prefix.substr(prefix.rfind('/') + 1) + "-" + suffix;
    while (dirent* entry = readdir(dir))
      if (std::string(entry->d_name).rfind(stem, 0) == 0) {
        std::string path = folder + "/" + entry->d_name;
        std::ifstream in(path);
        std::string first;
        std::getline(in, first);
        std::getline(in, first);
        bad("no sanitizer report", first);
        unlink(path.c_str());
      }
    closedir(dir);
  }
}

// The log lines written before the failing call are the clean run's.
void CheckLogKept(const Look& look, size_t failedAt, Findings& bad) {
  size_t written = 0;
  for (size_t i = 0; i < failedAt && i < look.calls.size(); ++i)
    if (look.calls[i].function == "WriteFile" && look.clean.logSites.count(look.calls[i].site))
      ++written;
  const auto &now = look.seen.wholeLog, &then = look.clean.seen.wholeLog;
  for (size_t i = 0; i < written; ++i) {
    bool gone = i >= now.size() || i >= then.size();
    if (!gone && now[i] == then[i]) continue;
    bad("log kept", "line " + std::to_string(i + 1) +
                        (gone ? " written before the failure is gone"
                              : " '" + now[i] + "' was '" + then[i] + "'"));
    return;
  }
}

// A failed run says so with the report of its result: a box, or its log line when the box is
// what failed.
void CheckReported(const Look& look, Findings& bad) {
  LONG code = (LONG)look.seen.exitCode;
  if (code == 0) return;
  if (look.function == "MessageBoxA") {
    for (const std::string& line : look.seen.wholeLog) {
      size_t text = line.find("] ");
      if (text != std::string::npos && ReportFits(code, "|" + line.substr(text + 2))) return;
    }
    bad("failure reported", "exit code " + std::to_string(code) + ", no report in the log");
  } else if (look.seen.boxes.empty()) {
    bad("failure reported", "exit code " + std::to_string(code) + " without any box");
  } else if (!ReportFits(code, look.seen.boxes.back())) {
    bad("failure reported",
        "exit code " + std::to_string(code) + " ends with '" + look.seen.boxes.back() + "'");
  }
}

// Nothing of the private temporary folder stays in the temporary folders unless its deletion
// is scheduled.
void CheckTempGoneOrScheduled(const Look& look, Findings& bad) {
  for (const std::string& folder : {look.install.Dir() + "\\tmp", std::string("C:\\_pw")})
    for (const auto& entry : Snapshot(folder)) {
      const std::string& path = entry.first;
      // New in the folder itself, the log files aside: a whole leftover is one finding.
      if (path.find('\\', folder.size() + 1) != std::string::npos || look.before.count(path) ||
          look.clean.logFolder.count(path))
        continue;
      bool isTemp = path == look.install.TempFolder();
      if (!Contains(look.seen.pending, (isTemp ? std::string("{T}") : path) + " -> ") &&
          !InWininit(look.seen.pending, path, isTemp))
        bad("temporary folder gone or scheduled", "left behind: " + path);
    }
}

// Only what the private temporary folder holds is scheduled for deletion, and the copies the
// portable product ran from. The log names that folder {T}; when the log line naming it is what
// failed, it is known by its place and prefix.
void CheckNothingNeededDeleted(const Look& look, Findings& bad) {
  Lines temps = {"{T}", look.install.Dir() + "\\tmp\\PWS", "C:\\_pw\\PWS"};
  for (const std::string& p : look.seen.pending) {
    bool deletion = p.size() > 4 && p.compare(p.size() - 4, 4, " -> ") == 0;
    bool nul = p.rfind("wininit: NUL=", 0) == 0;
    if (!deletion && !nul) continue;
    bool temp = false;
    for (const std::string& t : temps) temp = temp || p.find(t) == (nul ? 13 : 0);
    // A numbered copy that an earlier run left is deleted after any move of it.
    std::string source = nul ? p.substr(13) : p.substr(0, p.size() - 4);
    for (const char* copy : names::kProductCopies)
      for (const std::string& path : {look.install.Dir() + "\\tmp\\", std::string("C:\\_pw\\")})
        temp = temp || source == path + copy;
    std::string name = source.substr(source.rfind('\\') + 1);
    for (char& c : name) c = (char)std::tolower((unsigned char)c);
    if (!temp && !IsRestartCopy(name)) bad("nothing needed deleted", p);
  }
}

// Nothing changed outside the folders an installation may change; the 95 family replaces files
// through wininit.ini.
void CheckNothingOutside(const Look& look, Findings& bad) {
  Lines allowed = look.install.Fill(Lines{"{I}", "{R}", "{D}\\records", "{D}\\tmp", "{L}"});
  if (look.kind.scenario.win98) allowed.push_back("C:\\WINDOWS\\wininit.ini");
  for (const std::string& change : Changes(look.before, look.after, allowed))
    bad("nothing changed outside", change);
}

// Whether a numbered copy in the installation folder holds name's new bytes and is scheduled to
// replace it at the next start.
bool CopyScheduledOver(const Look& look, const std::map<std::string, std::string>& files,
                       const std::string& name) {
  for (const auto& entry : files)
    if (IsRestartCopy(entry.first) && entry.second == name &&
        ScheduledOver(look.seen, look.Folder() + "\\" + entry.first, look.Folder() + "\\" + name))
      return true;
  return false;
}

// Every file of the installation folder holds the old or the new bytes; a numbered copy lies
// beside its target only while it holds the target's new bytes and replaces it at the start.
void CheckOldOrNew(const Look& look, Findings& bad) {
  const std::map<std::string, std::string>& files = look.seen.installed;
  for (const auto& entry : files) {
    const std::string &name = entry.first, &what = entry.second;
    if (what.empty() || what == "old" || what == "/") continue;
    // On the 95 family a new file's target is made empty, for its short name, and replaced at
    // the start by its copy.
    if (what == "?0" && CopyScheduledOver(look, files, name)) continue;
    std::string path = look.Folder() + "\\" + name;
    if (IsRestartCopy(name) && (Contains(look.seen.pending, path + " -> ") ||
                                Contains(look.seen.pending, "wininit: NUL=" + path)))
      continue;  // left by an earlier run, deleted at the start
    if (IsRestartCopy(name) && what.find('?') == std::string::npos &&
        what.rfind("old ", 0) != 0 &&
        ScheduledOver(look.seen, look.Folder() + "\\" + name, look.Folder() + "\\" + what))
      continue;
    bad("old or new", "the installation folder holds " + name + "=" + what);
  }
}

// Result 0: every product file is in place with its new bytes, or its numbered copy holds them
// and replaces it at the next start.
void CheckInstalledOrScheduled(const Look& look, Findings& bad) {
  if (look.seen.exitCode != 0) return;
  const std::map<std::string, std::string>& files = look.seen.installed;
  for (const std::string& name : PayloadNames(look.clean.seen)) {
    auto it = files.find(name);
    if (it != files.end() && it->second.empty()) continue;
    if (!CopyScheduledOver(look, files, name) && !ToleratedMissing(name, look.seen))
      bad("result 0 means installed", name + " is neither new nor scheduled");
  }
}

// Result 0, then the next start of Windows: every product file holds its new bytes, no numbered
// copy and no temporary folder is left, and a RunOnce value starts the installed product once.
void CheckAfterRestart(const Look& look, Findings& bad) {
  if (look.seen.exitCode != 0) return;
  Observed after = look.install.Restart(0);
  if (!look.install.Problem().empty()) {
    bad("after the restart", look.install.Problem());
    return;
  }
  const std::map<std::string, std::string>& files = after.installed;
  bool productRenamed = false;
  for (const std::string& name : PayloadNames(look.clean.seen)) {
    auto it = files.find(name);
    bool fresh = it != files.end() && it->second.empty();
    // The 95 family replaces files at its start by their short names only: a long name is lost
    // then, which the run told the user, naming both.
    bool shortened = false;
    if (!fresh && Contains(look.seen.wholeLog, "] Pondwick file '" + look.Folder() + "\\" + name +
                                                   "' is locked and will be copied after reboot as"))
      for (const auto& entry : files) shortened = shortened || entry.second == name;
    productRenamed = productRenamed || (shortened && name == "identities.exe");
    if (!fresh && !shortened && !ToleratedMissing(name, look.seen))
      bad("after the restart", name + (it == files.end() ? " is missing" : "=" + it->second));
  }
  for (const auto& entry : files)
    if (IsRestartCopy(entry.first)) bad("after the restart", "a copy is left: " + entry.first);
  if (after.tempExists) bad("after the restart", "the temporary folder is left");
  if (look.seen.runOnce == "-") {
    // The restart path starts the product through RunOnce, or says that it can't.
    if (Contains(look.seen.wholeLog, "] !!! REBOOT required") &&
        !Contains(look.seen.wholeLog, "] Pondwick will not start by itself after the restart: "))
      bad("after the restart", "the restart path left no RunOnce value and said nothing");
    return;
  }
  if (look.seen.runOnce.find(look.Folder() + "\\identities.exe") == std::string::npos)
    bad("after the restart", "RunOnce names another program: " + look.seen.runOnce);
  if (after.runOnce != "-") bad("after the restart", "RunOnce is still there");
  if (after.productStarts.size() != look.seen.productStarts.size() + (productRenamed ? 0 : 1))
    bad("after the restart", "the product started " +
                                 std::to_string(after.productStarts.size() -
                                                look.seen.productStarts.size()) +
                                 " times at the logon");
}

// The pending replacements are well formed: PendingFileRenameOperations is pairs of strings
// with a source each, closed by an empty string; wininit.ini is whole lines of text. wininit.ini
// is edited in place through a mapping that first lengthens it with zeros, which the edit then
// cuts off: a run ended in between (cutShort) may leave zeros behind whole lines.
void CheckPendingWellFormed(const char* when, bool cutShort, Findings& bad) {
  DWORD type = 0;
  std::string list, ini;
  if (ReadValue(HKEY_LOCAL_MACHINE, kSessionManager, kPending, &type, &list)) {
    Lines strings = Split(list, std::string(1, '\0'));
    bool ok = type == REG_MULTI_SZ && list.size() >= 2 && list.back() == '\0' && !strings.empty() &&
              strings.back().empty();
    if (ok) strings.pop_back();
    ok = ok && strings.size() % 2 == 0;
    for (size_t i = 0; ok && i < strings.size(); i += 2) ok = !strings[i].empty();
    if (!ok) bad("pending replacements well formed", std::string(when) + ": the registry list");
  }
  TestMachine::ReadBytes("C:\\WINDOWS\\wininit.ini", &ini);
  if (cutShort)
    while (!ini.empty() && ini.back() == '\0') ini.pop_back();
  bool ok = ini.find('\0') == std::string::npos &&
            (ini.empty() || (ini.size() >= 2 && ini.compare(ini.size() - 2, 2, "\r\n") == 0));
  if (!ok) bad("pending replacements well formed", std::string(when) + ": wininit.ini");
}

// The log is readable: every line is "[code] text", but for one cut line at most.
void CheckLogReadable(const Observed& seen, Findings& bad) {
  size_t unreadable = 0;
  for (const std::string& line : seen.wholeLog) {
    size_t close = line.find("] ");
    bool readable = line.empty() || (line[0] == '[' && close != std::string::npos &&
                                     line.find_first_not_of("0123456789ABCDEFabcdef-", 1) == close);
    if (!readable && ++unreadable == 2) bad("log readable", line);
  }
}

// The PWS*.tmp folders in the system temporary folder, and the bytes they hold.
void CountLeftovers(const Installation& install, size_t* folders, unsigned long long* bytes) {
  std::string temp = install.Dir() + "\\tmp";
  for (const auto& entry : Snapshot(temp)) {
    std::string rest = entry.first.substr(temp.size() + 1);
    if (strncasecmp(rest.c_str(), "PWS", 3) != 0) continue;
    if (entry.second == "folder")
      *folders += rest.find('\\') == std::string::npos;
    else
      *bytes += std::strtoull(entry.second.c_str(), nullptr, 10);
  }
}

// By process too: one installation may be swept by several processes side by side
// (PW_SWEEP_OFFSET), and a shared trace would mix their calls.
std::string TracePath(const std::string& kind, const std::string& what) {
  return SelfFolder() + "/../tmp/sweep-" + kind + "-" + what + "-" + std::to_string(getpid()) +
         ".trace";
}

void RunInstall(const Kind& kind, const std::string& fault, const std::string& kill, Trial* run) {
  Scenario scenario = kind.scenario;
  scenario.faults = fault;
  run->install.reset();  // one machine at a time: each sets the process's WINSIM_ROOT
  run->install.reset(new Installation(scenario));
  run->problem = run->install->Problem();
  if (!run->problem.empty()) {
    run->problem = "machine not ready: " + run->problem;
    return;
  }
  std::string trace = TracePath(kind.name, fault.empty() && kill.empty() ? "clean" : "fault");
  unlink(trace.c_str());
  run->before = Snapshot("C:");
  setenv("WINSIM_TRACE", ("setup.exe:" + trace).c_str(), 1);
  if (!kill.empty()) setenv("WINSIM_KILL", kill.c_str(), 1);
  run->seen = run->install->Install();
  unsetenv("WINSIM_TRACE");
  unsetenv("WINSIM_KILL");
  run->after = Snapshot("C:");
  run->calls = ReadTrace(trace);
  run->problem = run->install->Problem();
}

// A run with one failing call.
Lines JudgeFault(const Look& look) {
  Findings bad;
  bool ended = CheckEnded(look.seen, bad);
  CheckNoSanitizerReport(look.kind.name, bad);
  size_t failedAt = look.calls.size();
  for (size_t i = 0; i < look.calls.size() && failedAt == look.calls.size(); ++i)
    if (look.calls[i].failed) failedAt = i;
  if (failedAt == look.calls.size())
    bad("failing call reached", "the run took another way and never made it");
  CheckLogKept(look, failedAt, bad);
  if (ended) CheckReported(look, bad);
  CheckTempGoneOrScheduled(look, bad);
  CheckNothingNeededDeleted(look, bad);
  CheckNothingOutside(look, bad);
  CheckOldOrNew(look, bad);
  CheckInstalledOrScheduled(look, bad);
  if (bad.lines.empty()) CheckAfterRestart(look, bad);
  return bad.lines;
}

// A run ended at one call; then the restart, then the same setup again without faults.
Lines JudgeKill(const Look& killed, size_t* leftovers, unsigned long long* leftoverBytes,
                Observed* rerunSeen) {
  Findings bad;
  CheckNoSanitizerReport(killed.kind.name, bad);
  bool cut = false;
  for (const Call& call : killed.calls) cut = cut || call.killed;
  if (!cut) bad("killed", "the run took another way and never made the call");
  CheckPendingWellFormed("after the cut", true, bad);
  killed.install.Restart(0);
  if (!killed.install.Problem().empty()) bad("restart after the cut", killed.install.Problem());
  CheckPendingWellFormed("after the restart", false, bad);
  if (!bad.lines.empty()) return bad.lines;

  Drive before = Snapshot("C:"), nothing;
  *rerunSeen = killed.install.Install();
  const Observed& seen = *rerunSeen;
  std::vector<Call> none;
  Look rerun{killed.kind, killed.clean, killed.install, seen, none, before, nothing, ""};
  if (CheckEnded(seen, bad) && seen.exitCode != 0)
    bad("the setup run again installs", "exit code " + std::to_string((LONG)seen.exitCode) +
                                            (seen.boxes.empty() ? "" : ", " + seen.boxes.back()));
  CheckNoSanitizerReport(killed.kind.name, bad);
  CheckTempGoneOrScheduled(rerun, bad);
  CheckNothingNeededDeleted(rerun, bad);
  CheckOldOrNew(rerun, bad);
  CheckInstalledOrScheduled(rerun, bad);
  CheckPendingWellFormed("after the run again", false, bad);
  CheckLogReadable(seen, bad);
  if (bad.lines.empty()) CheckAfterRestart(rerun, bad);
  CountLeftovers(killed.install, leftovers, leftoverBytes);
  return bad.lines;
}

size_t EnvNumber(const char* name, size_t fallback) {
  const char* v = std::getenv(name);
  return v && *v ? (size_t)std::strtoul(v, nullptr, 10) : fallback;
}

void PrintSeen(const Observed& seen) {
  std::printf("exit %ld\n", (long)(LONG)seen.exitCode);
  for (const std::string& line : seen.wholeLog) std::printf("log: %s\n", line.c_str());
  for (const std::string& box : seen.boxes) std::printf("box: %s\n", box.c_str());
  std::printf("files: %s\nrunOnce: %s\n", seen.files.c_str(), seen.runOnce.c_str());
  for (const std::string& p : seen.pending) std::printf("pending: %s\n", p.c_str());
}

class FaultSweep : public ::testing::TestWithParam<Kind> {};

TEST_P(FaultSweep, EveryFailingOrKilledCallKeepsThePromise) {
  const Kind& kind = GetParam();
  std::string sanitizer = SanitizerPrefix(kind.name);
  for (const char* tool : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
    std::string options = std::getenv(tool) ? std::getenv(tool) : "";
    std::string suffix = tool[0] == 'A' ? "-asan" : "-ubsan";
    setenv(tool, (options + (options.empty() ? "" : ":") + "log_path=" + sanitizer + suffix).c_str(),
           1);
  }

  // The clean run.
  Clean clean;
  RunInstall(kind, "", "", &clean);
  clean.install.reset();
  ASSERT_TRUE(clean.problem.empty()) << clean.problem;
  ASSERT_FALSE(clean.calls.empty()) << "no trace: is WINSIM_TRACE honoured?";
  ASSERT_EQ(clean.seen.exitCode, 0u) << "the clean run failed";
  std::set<std::string> sites;
  for (const Call& call : clean.calls) sites.insert(call.site);
  std::map<std::string, std::string> names = NameSites(sites);
  for (const Call& call : clean.calls)
    if (call.function == "WriteFile" && names[call.site].rfind("WriteLog ", 0) == 0)
      clean.logSites.insert(call.site);
  ASSERT_FALSE(clean.logSites.empty()) << "cannot tell the log's writes: no debugging information?";
  for (const auto& entry : clean.after)
    if (entry.first.rfind("C:\\_pw\\", 0) == 0) clean.logFolder.insert(entry.first);

  size_t stride = EnvNumber("PW_SWEEP_STRIDE", 1), offset = EnvNumber("PW_SWEEP_OFFSET", 0);
  if (stride == 0) stride = 1;
  size_t killsEvery = EnvNumber("PW_SWEEP_KILLS_EVERY", 1);
  if (killsEvery == 0) killsEvery = 1;
  std::string mode = std::getenv("PW_SWEEP_MODE") ? std::getenv("PW_SWEEP_MODE") : "";
  std::map<std::string, unsigned> ordinal;
  std::vector<unsigned> nth(clean.calls.size());
  for (size_t i = 0; i < clean.calls.size(); ++i) nth[i] = ++ordinal[clean.calls[i].function];

  // PW_SWEEP_ONLY=FUNCTION#N=ERROR (or =kill) runs that one and shows what the machine saw.
  const char* only = std::getenv("PW_SWEEP_ONLY");
  Trial run;
  bool single = only && *only;
  size_t runs = 0, kills = 0, failures = 0, leftovers = 0;
  unsigned long long leftoverBytes = 0;
  std::set<std::string> tried;
  std::string report;
  auto record = [&](const std::string& what, size_t i, LONG code, const Lines& wrong) {
    if (wrong.empty()) return;
    if (++failures > 25) return;  // enough to go on with
    report += "\n" + what + " at call " + std::to_string(i + 1) + " from " +
              names[clean.calls[i].site] + " (exit " + std::to_string(code) + "):";
    for (const std::string& w : wrong) report += "\n    " + w;
  };
  for (size_t i = offset; i < clean.calls.size(); i += stride) {
    const Call& call = clean.calls[i];
    std::string at = call.function + "#" + std::to_string(nth[i]);
    for (DWORD error : mode == "kills" ? std::vector<DWORD>() : call.errors) {
      std::string item = at + "=" + std::to_string(error);
      if (single && item != only) continue;
      tried.insert(call.function + " " + call.site);
      std::string fault = "setup.exe:" + item;
      RunInstall(kind, fault, "", &run);
      if (run.problem.rfind("machine not ready", 0) == 0)  // a loaded machine: once more
        RunInstall(kind, fault, "", &run);
      ++runs;
      Look look{kind,      clean,      *run.install, run.seen,
                run.calls, run.before, run.after,    call.function};
      Lines wrong = run.problem.empty() ? JudgeFault(look) : Lines{run.problem};
      if (single) PrintSeen(run.seen);
      run.install.reset();
      record(fault, i, (LONG)run.seen.exitCode, wrong);
    }
    if (mode == "faults" || (single && at + "=kill" != only)) continue;
    if (!single && (i - offset) / stride % killsEvery != 0) continue;
    RunInstall(kind, "", "setup.exe:" + at, &run);
    ++kills;
    Observed rerun;
    Look look{kind, clean, *run.install, run.seen, run.calls, run.before, run.after, call.function};
    Lines wrong = run.problem.empty() ? JudgeKill(look, &leftovers, &leftoverBytes, &rerun)
                                      : Lines{run.problem};
    if (single) {
      PrintSeen(run.seen);
      std::printf("-- run again\n");
      PrintSeen(rerun);
    }
    run.install.reset();
    record("killed at " + at, i, (LONG)rerun.exitCode, wrong);
  }
  std::printf("fault sweep %s: %zu calls traced, %zu distinct call sites (%zu tried), %zu runs, "
              "%zu kills, %zu failed; killed runs left %zu PWS*.tmp folders (%llu bytes)\n",
              kind.name, clean.calls.size(), sites.size(), tried.size(), runs, kills, failures,
              leftovers, leftoverBytes);
  EXPECT_EQ(failures, 0u) << report;
}

INSTANTIATE_TEST_SUITE_P(Installations, FaultSweep, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
