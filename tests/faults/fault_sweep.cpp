/*
 * The fault sweep: every platform call of a whole installation fails in turn, with each error its
 * function declares plausible, and the setup is ended at each such call as by a power cut; every
 * run must keep the installer's promise as a user or a deployment script sees it (the result and
 * the boxes, the files, the pending replacements, the restart). A clean run is traced first
 * (WINSIM_TRACE: each counted call with its site and plausible errors). A faulted run fails one
 * call of setup.exe only (WINSIM_FAULTS with the program prefix: the configuration program and the
 * product are untouched); a killed run (WINSIM_KILL) is followed by the next start of Windows and
 * the same setup run again without faults.
 * PW_SWEEP_STRIDE=N tries every Nth call (default 1) from PW_SWEEP_OFFSET (default 0), killing at
 * every PW_SWEEP_KILLS_EVERY-th of those (default 1); PW_SWEEP_MODE=faults or kills runs one half;
 * PW_SWEEP_ONLY=FUNCTION#N=ERROR (or =kill) runs just that one and prints what the machine showed.
 */
#include <dirent.h>
#include <gtest/gtest.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
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

#include "setup/product_names.h"
#include "tests/harness/install_runner.h"

namespace {

using namespace e2e;

struct Kind {
  const char* name;
  Scenario scenario;
};

// With no options, so that every box is shown: a fresh fixed install, an update with one file held
// open (the restart path, declined) on the NT and on the 95 family, and the portable edition.
const Kind kKinds[] = {
    {"Fixed", {}},
    {"LockedRestart", With({Locked("pondwick.dll")})},
    {"Portable", With({Portable("{R}"), WasFresh("0"), Admin("yes")})},
    {"Locked95", With({Locked("pondwick.dll"), Win98()})},
};

struct Call {
  std::string function, site;  // site: "+0x..." within the setup program
  std::vector<DWORD> errors;   // the errors its function declares plausible
  bool failed = false, killed = false;
};

std::vector<Call> ReadTrace(const std::string& path) {
  std::vector<Call> calls;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    Call call;
    fields >> call.function >> call.site;
    for (std::string mark; fields >> mark;) {
      call.failed = call.failed || mark[0] == '!';
      call.killed = call.killed || mark == "KILLED";
      if (mark[0] == '?')
        for (const std::string& error : Split(mark.substr(1), ","))
          call.errors.push_back((DWORD)std::strtoul(error.c_str(), nullptr, 10));
    }
    if (!call.function.empty()) calls.push_back(call);
  }
  return calls;
}

std::string SelfFolder() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string self(path, n > 0 ? (size_t)n : 0);
  return n > 0 ? self.substr(0, self.rfind('/')) : ".";
}

// "Function (file:line)" of each call site, from the debugging information of the host's setup.
std::map<std::string, std::string> NameSites(const std::set<std::string>& sites) {
  std::map<std::string, std::string> names;
  std::string command = "addr2line -f -C -s -e '" + SelfFolder() + "/../setup/setup'";
  for (const std::string& site : sites) {
    // The return address is just past the call: one byte back lies within it.
    char hex[32];
    std::snprintf(hex, sizeof hex, " 0x%lx",
                  std::max(std::strtoul(site.c_str() + 1, nullptr, 16), 1ul) - 1);
    command += hex;
  }
  FILE* pipe = popen(command.c_str(), "r");
  char function[1024], place[1024];
  for (auto site = sites.begin();
       pipe && site != sites.end() && std::fgets(function, sizeof function, pipe) &&
       std::fgets(place, sizeof place, pipe);
       ++site)
    names[*site] = std::string(function, std::strcspn(function, "(\n")) + " (" +
                   std::string(place, std::strcspn(place, "\n")) + ")";
  if (pipe) pclose(pipe);
  return names;
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

bool Contains(const Lines& lines, const std::string& part) {
  auto has = [&part](const std::string& line) { return line.find(part) != std::string::npos; };
  return std::any_of(lines.begin(), lines.end(), has);
}

// Whether the last box of a failed run ("caption|text") is the report of a step that ends the run
// with that result: its text starts with the report's message.
bool ReportFits(LONG code, const std::string& box) {
  static const std::map<LONG, Lines> kReports = {
      {kResultStopped,
       {"Can't create temp folder to unpack files", "Pondwick requires Internet Explorer"}},
      {kResultNoFolder, {"Installation folder is not specified.", "Can't create folder "}},
      {kResultFilesLocked,
       {"Some files remain locked in ", "Root folder for Roamkit is not specified."}},
      // 0 (never a failure's result): any failure HRESULT comes from one of these steps.
      {0,
       {"Can't extract from SFX ", "Corrupted Setup File ", "Can't unpack pondwick.bin to ",
        "failed to run ", "Can't unpack portable.bin to ", "Can't create folder "}}};
  auto it = kReports.find(code);
  std::string text = box.substr(box.find('|') + 1);
  for (const std::string& message : (it != kReports.end() ? it : kReports.find(0))->second)
    if (text.rfind(message, 0) == 0) return true;
  return false;
}

// Whether wininit.ini's [Rename] (as Observed lists it) replaces or deletes path: its lines are
// TARGET=SOURCE or NUL=SOURCE by short names, and name the temporary folder {T}.
bool InWininit(const Lines& pending, const std::string& path, bool isTemp) {
  char shortName[MAX_PATH] = "";
  DWORD n = GetShortPathNameA(path.c_str(), shortName, sizeof shortName);
  if (n == 0 || n >= sizeof shortName) return false;
  std::string source = "=" + std::string(isTemp ? "{T}" : shortName);
  for (const std::string& line : pending)
    if (line.rfind("wininit: ", 0) == 0 && EndsWith(line, source)) return true;
  return false;
}

// A numbered copy made beside its target for the restart: _pwN.pw_.
bool IsRestartCopy(const std::string& name) {
  return name.rfind("_pw", 0) == 0 && name.size() > 7 && EndsWith(name, ".pw_");
}

// The product's files, as the clean run installs them (in place, or as a copy's target).
std::set<std::string> PayloadNames(const Observed& clean) {
  std::set<std::string> names;
  for (const auto& entry : clean.installed)
    if (entry.second != "/") names.insert(IsRestartCopy(entry.first) ? entry.second : entry.first);
  return names;
}

// A block whose failure the run tolerates and logs brings none of its files: "langs", "affid".
bool ToleratedMissing(const std::string& name, const Observed& seen) {
  const Lines& log = seen.wholeLog;
  return (EndsWith(name, ".lng") && Contains(log, "] ENGLISH Ver") &&
          Contains(log, "] Err unpack to")) ||
         (name == "affid.txt" &&
          (Contains(log, "] Err save to ") || Contains(log, "] Err write ")));
}

// Whether the copy is scheduled to replace the target at the next start.
bool ScheduledOver(const Observed& seen, const std::string& copy, const std::string& target) {
  return Contains(seen.pending, copy + " -> " + target) || InWininit(seen.pending, copy, false);
}

// One traced run on a fresh machine with a fault, a kill or neither; kept, machine and all, to
// judge.
struct Trial {
  const Kind* kind = nullptr;
  const Trial* clean = nullptr;  // the clean run, which a faulted run is held to
  std::string function;          // the failing call's function ("" for a run without faults)
  std::unique_ptr<Installation> install;
  Observed seen;
  std::vector<Call> calls;
  Drive before, after;
  std::string problem;
  std::set<std::string> logSites;   // the clean run's: the call sites of the log's own WriteFile
  std::set<std::string> logFolder;  // the clean run's: what the log folder holds afterwards
  std::string Folder() const { return install->Dir() + "\\Pondwick"; }
};

// What a run broke: one line per finding, led by the name of the promise it broke.
struct Findings {
  Lines lines;
  void operator()(const char* check, const std::string& detail) {
    lines.push_back(std::string(check) + ": " + detail);
  }
};

// Each report (asan or ubsan) is found once: it goes when read.
void CheckNoSanitizerReport(const std::string& kind, Findings& bad) {
  std::string folder = SelfFolder() + "/../tmp", stem = "sweep-" + kind + "-sanitizer-";
  DIR* dir = opendir(folder.c_str());
  for (dirent* entry; dir && (entry = readdir(dir));) {
    if (std::string(entry->d_name).rfind(stem, 0) != 0) continue;
    std::string path = folder + "/" + entry->d_name, second;
    std::ifstream in(path);
    for (int i = 0; i < 2; ++i) std::getline(in, second);
    bad("no sanitizer report", second);
    unlink(path.c_str());
  }
  if (dir) closedir(dir);
}

// The log lines written before the failing call are the clean run's.
void CheckLogKept(const Trial& run, size_t failedAt, Findings& bad) {
  size_t written = 0;
  for (size_t i = 0; i < failedAt && i < run.calls.size(); ++i)
    written += run.calls[i].function == "WriteFile" && run.clean->logSites.count(run.calls[i].site);
  const auto &now = run.seen.wholeLog, &then = run.clean->seen.wholeLog;
  for (size_t i = 0; i < written; ++i) {
    bool gone = i >= now.size() || i >= then.size();
    if (!gone && now[i] == then[i]) continue;
    return bad("log kept", "line " + std::to_string(i + 1) +
                               (gone ? " written before the failure is gone"
                                     : " '" + now[i] + "' was '" + then[i] + "'"));
  }
}

// A failed run says so with the report of its result: a box, or its log line when the box is
// what failed.
void CheckReported(const Trial& run, Findings& bad) {
  LONG code = (LONG)run.seen.exitCode;
  const Lines& boxes = run.seen.boxes;
  std::string exit = "exit code " + std::to_string(code);
  if (code == 0) return;
  if (run.function == "MessageBoxA") {
    for (const std::string& line : run.seen.wholeLog) {
      size_t text = line.find("] ");
      if (text != std::string::npos && ReportFits(code, "|" + line.substr(text + 2))) return;
    }
    bad("failure reported", exit + ", no report in the log");
  } else if (boxes.empty() || !ReportFits(code, boxes.back())) {
    bad("failure reported",
        exit + (boxes.empty() ? " without any box" : " ends with '" + boxes.back() + "'"));
  }
}

// Nothing of the private temporary folder stays behind unless its deletion is scheduled.
void CheckTempGoneOrScheduled(const Trial& run, Findings& bad) {
  for (const std::string& folder : {run.install->Dir() + "\\tmp", std::string("C:\\_pw")})
    for (const auto& entry : Snapshot(folder)) {
      const std::string& path = entry.first;
      // New in the folder itself, the log files aside: a whole leftover is one finding.
      if (path.find('\\', folder.size() + 1) != std::string::npos || run.before.count(path) ||
          run.clean->logFolder.count(path))
        continue;
      bool isTemp = path == run.install->TempFolder();
      if (!Contains(run.seen.pending, (isTemp ? std::string("{T}") : path) + " -> ") &&
          !InWininit(run.seen.pending, path, isTemp))
        bad("temporary folder gone or scheduled", "left behind: " + path);
    }
}

// Only what the private temporary folder holds is scheduled for deletion, and the copies the
// portable product ran from. The log names that folder {T}; when the log line naming it is what
// failed, it is known by its place and prefix.
void CheckNothingNeededDeleted(const Trial& run, Findings& bad) {
  Lines temps = {"{T}", run.install->Dir() + "\\tmp\\PWS", "C:\\_pw\\PWS"};
  for (const std::string& p : run.seen.pending) {
    bool deletion = p.size() > 4 && EndsWith(p, " -> "), nul = p.rfind("wininit: NUL=", 0) == 0;
    if (!deletion && !nul) continue;
    bool temp = false;
    for (const std::string& t : temps) temp = temp || p.find(t) == (nul ? 13 : 0);
    // A numbered copy that an earlier run left is deleted after any move of it.
    std::string source = nul ? p.substr(13) : p.substr(0, p.size() - 4);
    for (const char* copy : names::kProductCopies)
      for (const std::string& path : {run.install->Dir() + "\\tmp\\", std::string("C:\\_pw\\")})
        temp = temp || source == path + copy;
    std::string name = source.substr(source.rfind('\\') + 1);
    for (char& c : name) c = (char)std::tolower((unsigned char)c);
    if (!temp && !IsRestartCopy(name)) bad("nothing needed deleted", p);
  }
}

// Whether a numbered copy in the installation folder holds name's new bytes and is scheduled to
// replace it at the next start.
bool CopyScheduledOver(const Trial& run, const std::string& name) {
  for (const auto& entry : run.seen.installed)
    if (IsRestartCopy(entry.first) && entry.second == name &&
        ScheduledOver(run.seen, run.Folder() + "\\" + entry.first, run.Folder() + "\\" + name))
      return true;
  return false;
}

// Every file of the installation folder holds the old or the new bytes; a numbered copy lies
// beside its target only while it holds the target's new bytes and replaces it at the start.
void CheckOldOrNew(const Trial& run, Findings& bad) {
  for (const auto& entry : run.seen.installed) {
    const std::string &name = entry.first, &what = entry.second, path = run.Folder() + "\\" + name;
    if (what.empty() || what == "old" || what == "/") continue;
    // On the 95 family a new file's target is made empty, for its short name, and replaced at
    // the start by its copy.
    if (what == "?0" && CopyScheduledOver(run, name)) continue;
    if (IsRestartCopy(name) && (Contains(run.seen.pending, path + " -> ") ||
                                Contains(run.seen.pending, "wininit: NUL=" + path)))
      continue;  // left by an earlier run, deleted at the start
    if (IsRestartCopy(name) && what.find('?') == std::string::npos && what.rfind("old ", 0) != 0 &&
        ScheduledOver(run.seen, path, run.Folder() + "\\" + what))
      continue;
    bad("old or new", "the installation folder holds " + name + "=" + what);
  }
}

// Result 0: every product file is in place with its new bytes, or its numbered copy holds them
// and replaces it at the next start.
void CheckInstalledOrScheduled(const Trial& run, Findings& bad) {
  if (run.seen.exitCode != 0) return;
  for (const std::string& name : PayloadNames(run.clean->seen)) {
    auto it = run.seen.installed.find(name);
    if (it != run.seen.installed.end() && it->second.empty()) continue;
    if (!CopyScheduledOver(run, name) && !ToleratedMissing(name, run.seen))
      bad("result 0 means installed", name + " is neither new nor scheduled");
  }
}

// Result 0, then the next start of Windows: every product file holds its new bytes, no numbered
// copy and no temporary folder is left, and a RunOnce value starts the installed product once.
void CheckAfterRestart(const Trial& run, Findings& findings) {
  auto bad = [&findings](const std::string& detail) { findings("after the restart", detail); };
  if (run.seen.exitCode != 0) return;
  Observed after = run.install->Restart(0);
  if (!run.install->Problem().empty()) return bad(run.install->Problem());
  const std::map<std::string, std::string>& files = after.installed;
  bool productRenamed = false;
  for (const std::string& name : PayloadNames(run.clean->seen)) {
    auto it = files.find(name);
    bool fresh = it != files.end() && it->second.empty();
    // The 95 family replaces files at its start by their short names only: a long name is lost
    // then, which the run told the user, naming both.
    bool shortened = false;
    if (!fresh && Contains(run.seen.wholeLog, "] Pondwick file '" + run.Folder() + "\\" + name +
                                                  "' is locked and will be copied after reboot as"))
      for (const auto& entry : files) shortened = shortened || entry.second == name;
    productRenamed = productRenamed || (shortened && name == "identities.exe");
    if (!fresh && !shortened && !ToleratedMissing(name, run.seen))
      bad(name + (it == files.end() ? " is missing" : "=" + it->second));
  }
  for (const auto& entry : files)
    if (IsRestartCopy(entry.first)) bad("a copy is left: " + entry.first);
  if (after.tempExists) bad("the temporary folder is left");
  if (run.seen.runOnce == "-") {
    // The restart path starts the product through RunOnce, or says that it can't.
    if (Contains(run.seen.wholeLog, "] !!! REBOOT required") &&
        !Contains(run.seen.wholeLog, "] Pondwick will not start by itself after the restart: "))
      bad("the restart path left no RunOnce value and said nothing");
    return;
  }
  if (run.seen.runOnce.find(run.Folder() + "\\identities.exe") == std::string::npos)
    bad("RunOnce names another program: " + run.seen.runOnce);
  if (after.runOnce != "-") bad("RunOnce is still there");
  size_t starts = after.productStarts.size() - run.seen.productStarts.size();
  if (starts != (productRenamed ? 0u : 1u))
    bad("the product started " + std::to_string(starts) + " times at the logon");
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
  while (cutShort && !ini.empty() && ini.back() == '\0') ini.pop_back();
  if (ini.find('\0') != std::string::npos || (!ini.empty() && !EndsWith(ini, "\r\n")))
    bad("pending replacements well formed", std::string(when) + ": wininit.ini");
}

// Runs the installation of run's kind with fault or kill on a fresh machine.
void RunInstall(const std::string& fault, const std::string& kill, Trial* run) {
  Scenario scenario = run->kind->scenario;
  scenario.faults = fault;
  run->install.reset();  // one machine at a time: each sets the process's WINSIM_ROOT
  run->install.reset(new Installation(scenario));
  run->problem = run->install->Problem();
  if (!run->problem.empty()) {
    run->problem = "machine not ready: " + run->problem;
    return;
  }
  // By process too: processes sweeping one installation side by side (PW_SWEEP_OFFSET) must not
  // mix their calls in one trace.
  std::string trace = SelfFolder() + "/../tmp/sweep-" + run->kind->name + "-" +
                      (fault.empty() && kill.empty() ? "clean" : "fault") + "-" +
                      std::to_string(getpid()) + ".trace";
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

// A run with one failing call; or a run ended at one call: the pending replacements after the cut
// and after the restart, then the same setup run again without faults, which must install, and
// the PWS*.tmp folders (and their bytes) it leaves in the system temporary folder are counted.
void Judge(Trial& run, bool kill, Findings& bad, size_t* leftovers, unsigned long long* bytes) {
  CheckNoSanitizerReport(run.kind->name, bad);
  if (kill) {
    if (std::none_of(run.calls.begin(), run.calls.end(), [](const Call& c) { return c.killed; }))
      bad("killed", "the run took another way and never made the call");
    CheckPendingWellFormed("after the cut", true, bad);
    run.install->Restart(0);
    if (!run.install->Problem().empty()) bad("restart after the cut", run.install->Problem());
    CheckPendingWellFormed("after the restart", false, bad);
    if (!bad.lines.empty()) return;
    run.before = Snapshot("C:");
    run.seen = run.install->Install();
    CheckNoSanitizerReport(run.kind->name, bad);
  }
  // The setup ended on its own, within the bound, with a result it gives.
  LONG code = (LONG)run.seen.exitCode;
  bool ended = run.seen.exitCode != STILL_ACTIVE &&
               (code == 0 || code == kResultStopped || code == kResultNoFolder ||
                code == kResultFilesLocked || (run.seen.exitCode & 0xF0000000u) == 0x80000000u);
  if (run.seen.exitCode == STILL_ACTIVE)
    bad("ended", "the setup did not end within the bound");
  else if (!ended)
    bad("ended", "exit code " + std::to_string(run.seen.exitCode) + " is no result");
  if (kill) {
    if (ended && run.seen.exitCode != 0)
      bad("the setup run again installs",
          "exit code " + std::to_string(code) +
              (run.seen.boxes.empty() ? "" : ", " + run.seen.boxes.back()));
    CheckPendingWellFormed("after the run again", false, bad);
    size_t unreadable = 0;  // every log line is "[code] text", but for one cut line at most
    for (const std::string& line : run.seen.wholeLog) {
      size_t close = line.find("] ");
      bool readable =
          line.empty() || (line[0] == '[' && close != std::string::npos &&
                           line.find_first_not_of("0123456789ABCDEFabcdef-", 1) == close);
      if (!readable && ++unreadable == 2) bad("log readable", line);
    }
  } else {
    auto failed =
        std::find_if(run.calls.begin(), run.calls.end(), [](const Call& c) { return c.failed; });
    if (failed == run.calls.end())
      bad("failing call reached", "the run took another way and never made it");
    CheckLogKept(run, failed - run.calls.begin(), bad);
    if (ended) CheckReported(run, bad);
    // Nothing changed outside where an installation may write; the 95 family uses wininit.ini.
    Lines allowed = run.install->Fill(Lines{"{I}", "{R}", "{D}\\records", "{D}\\tmp", "{L}"});
    if (run.kind->scenario.win98) allowed.push_back("C:\\WINDOWS\\wininit.ini");
    for (const std::string& change : Changes(run.before, run.after, allowed))
      bad("nothing changed outside", change);
  }
  CheckTempGoneOrScheduled(run, bad);
  CheckNothingNeededDeleted(run, bad);
  CheckOldOrNew(run, bad);
  CheckInstalledOrScheduled(run, bad);
  if (bad.lines.empty()) CheckAfterRestart(run, bad);
  if (!kill) return;
  std::string temp = run.install->Dir() + "\\tmp";
  for (const auto& entry : Snapshot(temp)) {
    std::string rest = entry.first.substr(temp.size() + 1);
    if (strncasecmp(rest.c_str(), "PWS", 3) != 0) continue;
    bool folder = entry.second == "folder";
    *leftovers += folder && rest.find('\\') == std::string::npos;
    *bytes += folder ? 0 : std::strtoull(entry.second.c_str(), nullptr, 10);
  }
}

std::string Env(const char* name) { return std::getenv(name) ? std::getenv(name) : ""; }

size_t EnvNumber(const char* name, size_t fallback) {
  size_t n = (size_t)std::strtoul(Env(name).c_str(), nullptr, 10);
  return n ? n : fallback;
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
  for (const char* tool : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
    std::string options = Env(tool);
    options += (options.empty() ? "log_path=" : ":log_path=") + SelfFolder() + "/../tmp/sweep-" +
               kind.name + "-sanitizer-" + (tool[0] == 'A' ? "asan" : "ubsan");
    setenv(tool, options.c_str(), 1);
  }

  Trial clean;
  clean.kind = &kind;
  RunInstall("", "", &clean);
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
  size_t killsEvery = EnvNumber("PW_SWEEP_KILLS_EVERY", 1);
  std::string mode = Env("PW_SWEEP_MODE"), only = Env("PW_SWEEP_ONLY");
  size_t runs = 0, kills = 0, failures = 0, leftovers = 0;
  unsigned long long leftoverBytes = 0;
  std::set<std::string> tried;
  std::string report;
  // One run failing or killed at call i ("at"), judged; the first failures are told in full.
  auto trial = [&](size_t i, const std::string& at, const std::string& fault, bool kill) {
    Trial run;
    run.kind = &kind, run.clean = &clean, run.function = clean.calls[i].function;
    RunInstall(fault, kill ? "setup.exe:" + at : "", &run);
    if (run.problem.rfind("machine not ready", 0) == 0)  // a loaded machine: once more
      RunInstall(fault, kill ? "setup.exe:" + at : "", &run);
    if (!only.empty()) PrintSeen(run.seen);
    Findings bad{run.problem.empty() ? Lines() : Lines{run.problem}};
    if (run.problem.empty()) Judge(run, kill, bad, &leftovers, &leftoverBytes);
    if (!only.empty() && kill) std::printf("-- run again\n"), PrintSeen(run.seen);
    ++(kill ? kills : runs);
    if (bad.lines.empty() || ++failures > 25) return;  // enough to go on with
    report += "\n" + (kill ? "killed at " + at : fault) + " at call " + std::to_string(i + 1) +
              " from " + names[clean.calls[i].site] + " (exit " +
              std::to_string((LONG)run.seen.exitCode) + "):";
    for (const std::string& w : bad.lines) report += "\n    " + w;
  };
  std::map<std::string, unsigned> ordinal;
  for (size_t i = 0; i < clean.calls.size(); ++i) {
    const Call& call = clean.calls[i];
    std::string at = call.function + "#" + std::to_string(++ordinal[call.function]);
    if (i < offset || (i - offset) % stride != 0) continue;
    for (DWORD error : mode == "kills" ? std::vector<DWORD>() : call.errors) {
      std::string item = at + "=" + std::to_string(error);
      if (!only.empty() && item != only) continue;
      tried.insert(call.function + " " + call.site);
      trial(i, at, "setup.exe:" + item, false);
    }
    bool kill = only.empty() ? (i - offset) / stride % killsEvery == 0 : at + "=kill" == only;
    if (mode != "faults" && kill) trial(i, at, "", true);
  }
  std::printf("fault sweep %s: %zu calls traced, %zu distinct call sites (%zu tried), %zu runs, "
              "%zu kills, %zu failed; killed runs left %zu PWS*.tmp folders (%llu bytes)\n",
              kind.name, clean.calls.size(), sites.size(), tried.size(), runs, kills, failures,
              leftovers, leftoverBytes);
  EXPECT_EQ(failures, 0u) << report;
}

INSTANTIATE_TEST_SUITE_P(Installations, FaultSweep, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
