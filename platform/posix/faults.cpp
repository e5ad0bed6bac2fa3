/*
 * The thread's last error, and the fault knobs: counted calls of named Win32 functions, some of
 * which are made to fail on purpose so that tests reach every failure path of their callers.
 */
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/machine.h"
#include "platform/posix/winsim.h"

namespace {

thread_local DWORD g_lastError = 0;

struct Fault {
  unsigned nth;
  DWORD error;
  bool andLater;
};

struct FunctionState {
  unsigned calls = 0;
  std::vector<Fault> faults;
};

struct Knobs {
  std::mutex lock;
  bool envRead = false;
  std::map<std::string, FunctionState> functions;
  int trace = -1;  // WINSIM_TRACE's file, when this process keeps a trace
  std::string kill;  // WINSIM_KILL's FUNCTION#N, when this process is to be ended at a call
};

Knobs& TheKnobs() {
  // Never destroyed: calls may still arrive from other static destructors at exit.
  static Knobs* knobs = new Knobs;
  return *knobs;
}

bool ParseUnsigned(const std::string& text, unsigned long* value) {
  if (text.empty()) return false;
  const char* begin = text.c_str();
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    begin += 2;
    base = 16;
  }
  if (!*begin || *begin == '-' || *begin == '+') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(begin, &end, base);
  if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFul) return false;
  *value = v;
  return true;
}

// The file name of this process's program, as the machine knows it (setup.exe, pwwipeout.exe):
// for a Windows image that a player plays, the image's name.
std::string OwnProgramName() {
  if (const char* module = std::getenv("WINSIM_MODULE"); module && *module) {
    const char* name = module;
    for (const char* p = module; *p; ++p)
      if (*p == '\\' || *p == '/') name = p + 1;
    return name;
  }
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return std::string();
  path[n] = '\0';
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

// An item of WINSIM_FAULTS or WINSIM_TRACE may start with "PROGRAM:" to apply only in processes
// of that program; a whole process tree inherits the variables, so this is how a test fails the
// setup's own calls and not those of the programs it starts. Strips the prefix when it matches;
// false when the item is meant for another program.
bool ForThisProgram(std::string* item) {
  size_t colon = item->find(':');
  size_t hash = item->find('#');
  // A Windows-style or host path ("C:\...", "/...") is no program prefix.
  if (colon == std::string::npos || colon == 0 || colon == 1 ||
      (hash != std::string::npos && hash < colon) || item->find('/') < colon)
    return true;
  static const std::string own = OwnProgramName();
  bool mine = strcasecmp(item->substr(0, colon).c_str(), own.c_str()) == 0;
  item->erase(0, colon + 1);
  return mine;
}

// WINSIM_TRACE=[PROGRAM:]HOSTFILE: every counted call is appended to the file as one line,
// "FUNCTION +OFFSET" (the caller's return address within its program), then " ?E,E,..." (the
// errors the function plausibly fails with), " !ERROR" when the knobs made it fail, and
// " KILLED" when WINSIM_KILL ended the process there. The fault sweep reads it to learn which
// calls an installation makes and how each may fail.
void OpenTrace(Knobs& knobs) {
  const char* env = std::getenv("WINSIM_TRACE");
  if (!env || !*env) return;
  std::string target(env);
  if (!ForThisProgram(&target)) return;
  knobs.trace = open(target.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

// WINSIM_KILL=[PROGRAM:]FUNCTION#N: the Nth call of FUNCTION ends the process before it does
// anything, as a power cut or an end-task would.
void ReadKill(Knobs& knobs) {
  const char* env = std::getenv("WINSIM_KILL");
  if (!env || !*env) return;
  std::string item(env);
  if (ForThisProgram(&item)) knobs.kill = item;
}

void Trace(Knobs& knobs, const char* function, const void* caller,
           std::initializer_list<DWORD> plausible, const char* outcome) {
  if (knobs.trace < 0) return;
  uintptr_t offset = reinterpret_cast<uintptr_t>(caller);
  Dl_info info;
  if (caller && dladdr(caller, &info) && info.dli_fbase)
    offset -= reinterpret_cast<uintptr_t>(info.dli_fbase);
  std::string line = std::string(function) + " +0x";
  char number[32];
  std::snprintf(number, sizeof number, "%lx", (unsigned long)offset);
  line += number;
  const char* separator = " ?";
  for (DWORD error : plausible) {
    line += separator + std::to_string(error);
    separator = ",";
  }
  line += std::string(outcome) + "\n";
  if (write(knobs.trace, line.data(), line.size()) != (ssize_t)line.size()) {
    close(knobs.trace);  // a trace that lost a line would mislead: stop writing it
    knobs.trace = -1;
  }
}

// WINSIM_FAULTS: [PROGRAM:]FUNCTION#N=ERROR or [PROGRAM:]FUNCTION#N+=ERROR, comma-separated. A
// malformed item is reported and ignored rather than guessed at.
void ReadEnvFaults(Knobs& knobs) {
  knobs.envRead = true;
  OpenTrace(knobs);
  ReadKill(knobs);
  const char* env = std::getenv("WINSIM_FAULTS");
  if (!env) return;
  std::string all(env);
  size_t start = 0;
  while (start <= all.size()) {
    size_t comma = all.find(',', start);
    if (comma == std::string::npos) comma = all.size();
    std::string item = all.substr(start, comma - start);
    start = comma + 1;
    while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.erase(0, 1);
    while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.pop_back();
    if (item.empty() || !ForThisProgram(&item)) continue;
    size_t hash = item.find('#');
    size_t eq = item.find('=', hash == std::string::npos ? 0 : hash);
    unsigned long nth = 0, error = 0;
    bool later = false;
    bool ok = hash != std::string::npos && hash > 0 && eq != std::string::npos;
    if (ok) {
      std::string count = item.substr(hash + 1, eq - hash - 1);
      if (!count.empty() && count.back() == '+') {
        later = true;
        count.pop_back();
      }
      ok = ParseUnsigned(count, &nth) && nth > 0 && ParseUnsigned(item.substr(eq + 1), &error);
    }
    if (!ok) {
      std::fprintf(stderr, "winsim: ignoring malformed WINSIM_FAULTS item '%s'\n", item.c_str());
      continue;
    }
    knobs.functions[item.substr(0, hash)].faults.push_back(
        Fault{(unsigned)nth, (DWORD)error, later});
  }
}

}  // namespace

extern "C" DWORD WINAPI GetLastError(void) { return g_lastError; }

extern "C" void WINAPI SetLastError(DWORD code) { g_lastError = code; }

namespace winsim {

void SetFault(const char* function, unsigned nth, DWORD error, bool andLater) {
  Knobs& knobs = TheKnobs();
  std::lock_guard<std::mutex> guard(knobs.lock);
  if (!knobs.envRead) ReadEnvFaults(knobs);
  knobs.functions[function].faults.push_back(Fault{nth, error, andLater});
}

void ClearFaults() {
  Knobs& knobs = TheKnobs();
  std::lock_guard<std::mutex> guard(knobs.lock);
  knobs.envRead = true;  // the environment's knobs are gone for good too
  knobs.functions.clear();
}

unsigned CallCount(const char* function) {
  Knobs& knobs = TheKnobs();
  std::lock_guard<std::mutex> guard(knobs.lock);
  if (!knobs.envRead) ReadEnvFaults(knobs);
  auto it = knobs.functions.find(function);
  return it == knobs.functions.end() ? 0 : it->second.calls;
}

namespace detail {

thread_local int g_internal = 0;

InternalCalls::InternalCalls() { ++g_internal; }
InternalCalls::~InternalCalls() { --g_internal; }

bool FaultHit(const char* function, const void* caller, std::initializer_list<DWORD> plausible) {
  if (g_internal > 0) return false;  // a step of a call already counted
  Knobs& knobs = TheKnobs();
  std::unique_lock<std::mutex> guard(knobs.lock);
  if (!knobs.envRead) ReadEnvFaults(knobs);
  FunctionState& state = knobs.functions[function];
  unsigned call = ++state.calls;
  if (!knobs.kill.empty() && knobs.kill == std::string(function) + "#" + std::to_string(call)) {
    Trace(knobs, function, caller, plausible, " KILLED");
    guard.unlock();
    KillStartedProcesses();
    raise(SIGKILL);
  }
  for (const Fault& f : state.faults) {
    if (call == f.nth || (f.andLater && call > f.nth)) {
      g_lastError = f.error;
      Trace(knobs, function, caller, plausible, (" !" + std::to_string(f.error)).c_str());
      return true;
    }
  }
  Trace(knobs, function, caller, plausible, "");
  return false;
}

DWORD ErrorFromErrno(int err, DWORD fallback) {
  switch (err) {
    case 0:
      return fallback;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EBUSY:
    case ETXTBSY:
      return ERROR_SHARING_VIOLATION;
    default:
      return fallback;
  }
}

}  // namespace detail
}  // namespace winsim
