/*
 * Processes and events. A child of CreateProcessA is a real host process: a native program is
 * executed directly, a Windows image (MZ) is played by the native program that machine.ini names
 * ([programs] player=HOST PATH), which then answers the image's Windows path as its own module.
 * The child learns its exact Windows command line from WINSIM_CMDLINE, its current folder from
 * WINSIM_CWD, and leaves its full 32-bit exit code in the file WINSIM_EXIT_FILE names (a host
 * exit status keeps only the low 8 bits).
 *
 * A named event exists for as long as some process of the machine holds a handle to it: each
 * holder keeps a shared flock on state/objects/NAME, and a creator that can take the lock
 * exclusively is the first. Signalled states are kept within the process.
 */
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/handles.h"
#include "platform/posix/machine.h"

extern char** environ;

using winsim::detail::Fail;

namespace {

/* ---- Events ---- */

struct EventState {
  std::mutex lock;
  std::condition_variable changed;
  bool signalled = false;
  bool manualReset = false;
  int nameFd = -1;  // the machine-wide existence of a named event
  std::string name;
  ~EventState();
};

struct EventObject : winsim::detail::KernelObject {
  std::shared_ptr<EventState> state;
};

std::mutex g_namesLock;
std::map<std::string, std::weak_ptr<EventState>>* g_names =
    new std::map<std::string, std::weak_ptr<EventState>>;

EventState::~EventState() {
  if (nameFd >= 0) close(nameFd);
}

// Object names are case-sensitive; the file name keeps letters and digits and encodes the rest.
std::string ObjectFile(const std::string& name) {
  std::string dir = winsim::detail::StateDir();
  if (dir.empty()) dir = "/tmp/winsim-nomachine-" + std::to_string(getuid());
  mkdir(dir.c_str(), 0755);
  dir += "/objects";
  mkdir(dir.c_str(), 0755);
  std::string file = dir + "/";
  for (unsigned char c : name) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '{' || c == '}') {
      file += (char)c;
    } else {
      char b[4];
      std::snprintf(b, sizeof b, "%%%02X", c);
      file += b;
    }
  }
  return file;
}

// Holds the name for this process; answers whether another process held it already.
DWORD HoldName(const std::string& name, int* fd, bool* existed) {
  std::string path = ObjectFile(name);
  int guard = open((path.substr(0, path.rfind('/')) + "/.lock").c_str(),
                   O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (guard < 0) return winsim::detail::ErrorFromErrno(errno);
  while (flock(guard, LOCK_EX) != 0 && errno == EINTR) {
  }
  *fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  DWORD err = 0;
  if (*fd < 0) {
    err = winsim::detail::ErrorFromErrno(errno);
  } else {
    *existed = flock(*fd, LOCK_EX | LOCK_NB) != 0;
    flock(*fd, LOCK_SH);  // from exclusive, or beside the other holders
  }
  close(guard);
  return err;
}

/* ---- Processes ---- */

// The processes this one started and has not yet collected, for KillStartedProcesses (a
// collected one's number may belong to another process by then).
std::mutex g_startedLock;
std::vector<pid_t>* g_started = new std::vector<pid_t>;

void Collected(pid_t pid) {
  std::lock_guard<std::mutex> guard(g_startedLock);
  for (auto it = g_started->begin(); it != g_started->end(); ++it)
    if (*it == pid) {
      g_started->erase(it);
      return;
    }
}

struct ProcessObject : winsim::detail::KernelObject {
  std::mutex lock;
  pid_t pid = 0;
  bool reaped = false;
  int status = 0;
  bool terminated = false;
  DWORD terminateCode = 0;
  std::string exitFile;

  // Collects the child when it has ended; with block, waits for that.
  bool Reap(bool block) {
    std::lock_guard<std::mutex> guard(lock);
    if (reaped) return true;
    for (;;) {
      pid_t got = waitpid(pid, &status, block ? 0 : WNOHANG);
      if (got == pid) {
        reaped = true;
        Collected(pid);
        return true;
      }
      if (got < 0 && errno == EINTR) continue;
      return false;
    }
  }

  DWORD ExitCode() {
    std::string text;
    if (FILE* f = std::fopen(exitFile.c_str(), "r")) {
      char buf[32] = {0};
      if (std::fgets(buf, sizeof buf, f)) text = buf;
      std::fclose(f);
    }
    if (!text.empty()) return (DWORD)std::strtoul(text.c_str(), nullptr, 10);
    if (terminated) return terminateCode;
    if (WIFEXITED(status)) return (DWORD)WEXITSTATUS(status);
    int sig = WTERMSIG(status);
    if (sig == SIGSEGV || sig == SIGBUS) return 0xC0000005u;  // an access violation
    return 3;  // what an abnormal end (abort) leaves on Windows
  }

  ~ProcessObject() override {
    if (!exitFile.empty()) unlink(exitFile.c_str());
  }
};

struct ThreadObject : winsim::detail::KernelObject {
  std::shared_ptr<ProcessObject> process;
};

// The program name a command line starts with: up to the closing quote, or the first blank.
std::string FirstWord(const char* line) {
  std::string word;
  if (*line == '"') {
    for (const char* p = line + 1; *p && *p != '"'; ++p) word += *p;
  } else {
    for (const char* p = line; *p && *p != ' ' && *p != '\t'; ++p) word += *p;
  }
  return word;
}

// The arguments a C runtime makes of a command line (backslashes before quotes, quoted blanks).
std::vector<std::string> SplitArguments(const char* line) {
  std::vector<std::string> args;
  const char* p = line;
  for (;;) {
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) break;
    std::string arg;
    bool quoted = false;
    while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
      size_t slashes = 0;
      while (*p == '\\') {
        ++slashes;
        ++p;
      }
      if (*p == '"') {
        arg.append(slashes / 2, '\\');
        if (slashes % 2) {
          arg += '"';
        } else if (quoted && p[1] == '"') {
          arg += '"';
          ++p;
        } else {
          quoted = !quoted;
        }
        ++p;
      } else {
        arg.append(slashes, '\\');
        if (*p) arg += *p++;
      }
    }
    args.push_back(arg);
  }
  return args;
}

bool StartsWith(const std::string& host, const char* magic) {
  char head[4] = {0};
  int fd = open(host.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ssize_t n = read(fd, head, sizeof head);
  close(fd);
  size_t len = std::strlen(magic);
  return n >= (ssize_t)len && std::memcmp(head, magic, len) == 0;
}

// Finds the program: the name as given, with ".exe" tried first when it has no extension.
DWORD FindProgram(const std::string& name, winsim::detail::ResolvedPath* found) {
  std::string base = name.substr(
      name.find_last_of("\\/:") == std::string::npos ? 0 : name.find_last_of("\\/:") + 1);
  std::vector<std::string> candidates;
  if (base.find('.') == std::string::npos) candidates.push_back(name + ".exe");
  candidates.push_back(name);
  DWORD err = ERROR_FILE_NOT_FOUND;
  for (const std::string& candidate : candidates) {
    DWORD e = winsim::detail::ResolvePath(candidate.c_str(), found);
    if (e) {
      // The program is searched for, not opened: a folder that is missing finds no file.
      err = e == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : e;
      continue;
    }
    if (!found->exists) continue;
    if (found->isDir) return ERROR_ACCESS_DENIED;
    return 0;
  }
  return err;
}

std::atomic<unsigned> g_children{0};

}  // namespace

/* ---- Events ---- */

extern "C" HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES sa, BOOL manualReset, BOOL initialState,
                                      LPCSTR name) {
  WINSIM_FAULT_POINT((HANDLE) nullptr, ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED);
  (void)sa;
  auto object = std::make_shared<EventObject>();
  if (!name || !*name) {
    object->state = std::make_shared<EventState>();
    object->state->manualReset = manualReset != 0;
    object->state->signalled = initialState != 0;
    SetLastError(0);
    return winsim::detail::AddHandle(object);
  }
  if (std::strlen(name) >= MAX_PATH) return Fail(ERROR_FILENAME_EXCED_RANGE, (HANDLE) nullptr);
  std::lock_guard<std::mutex> guard(g_namesLock);
  auto known = g_names->find(name);
  if (known != g_names->end()) {
    if (auto state = known->second.lock()) {
      object->state = state;
      SetLastError(ERROR_ALREADY_EXISTS);
      return winsim::detail::AddHandle(object);
    }
  }
  auto state = std::make_shared<EventState>();
  bool existed = false;
  if (DWORD err = HoldName(name, &state->nameFd, &existed)) return Fail(err, (HANDLE) nullptr);
  state->name = name;
  state->manualReset = manualReset != 0;
  state->signalled = !existed && initialState != 0;
  (*g_names)[name] = state;
  object->state = state;
  SetLastError(existed ? ERROR_ALREADY_EXISTS : 0);
  return winsim::detail::AddHandle(object);
}

extern "C" BOOL WINAPI SetEvent(HANDLE event) {
  WINSIM_FAULT_POINT(FALSE, ERROR_ACCESS_DENIED);
  auto object = winsim::detail::FindObject<EventObject>(event);
  if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
  std::lock_guard<std::mutex> guard(object->state->lock);
  object->state->signalled = true;
  object->state->changed.notify_all();
  return TRUE;
}

extern "C" BOOL WINAPI ResetEvent(HANDLE event) {
  WINSIM_FAULT_POINT(FALSE, ERROR_ACCESS_DENIED);
  auto object = winsim::detail::FindObject<EventObject>(event);
  if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
  std::lock_guard<std::mutex> guard(object->state->lock);
  object->state->signalled = false;
  return TRUE;
}

/* ---- Waiting ---- */

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  WINSIM_FAULT_POINT(WAIT_FAILED, ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED);
  auto handle = winsim::detail::FindHandle(object);
  if (auto event = std::dynamic_pointer_cast<EventObject>(handle)) {
    EventState& s = *event->state;
    std::unique_lock<std::mutex> guard(s.lock);
    auto ready = [&] { return s.signalled; };
    if (milliseconds == INFINITE)
      s.changed.wait(guard, ready);
    else if (!s.changed.wait_for(guard, std::chrono::milliseconds(milliseconds), ready))
      return WAIT_TIMEOUT;
    if (!s.manualReset) s.signalled = false;
    return WAIT_OBJECT_0;
  }
  std::shared_ptr<ProcessObject> process = std::dynamic_pointer_cast<ProcessObject>(handle);
  if (auto thread = std::dynamic_pointer_cast<ThreadObject>(handle)) process = thread->process;
  if (!process) return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
  if (milliseconds == INFINITE) {
    if (!process->Reap(true)) return Fail(winsim::detail::ErrorFromErrno(errno), WAIT_FAILED);
    return WAIT_OBJECT_0;
  }
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (process->Reap(false)) return WAIT_OBJECT_0;
    if (std::chrono::steady_clock::now() >= end) return WAIT_TIMEOUT;
    struct timespec pause = {0, 1000000};
    nanosleep(&pause, nullptr);
  }
}

/* ---- Processes ---- */

extern "C" BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR commandLine,
                                      LPSECURITY_ATTRIBUTES processAttributes,
                                      LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                                      DWORD creationFlags, LPVOID environment,
                                      LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                                      LPPROCESS_INFORMATION processInformation) {
  WINSIM_FAULT_POINT(FALSE, ERROR_FILE_NOT_FOUND, ERROR_NOT_ENOUGH_MEMORY, ERROR_ACCESS_DENIED);
  (void)processAttributes;
  (void)threadAttributes;
  (void)inheritHandles;  // host handles are never inherited: they live in the parent's table
  (void)creationFlags;
  (void)startupInfo;
  if (!processInformation || (!application && !commandLine))
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  std::string line = commandLine ? commandLine : "";
  std::string name = application ? std::string(application) : FirstWord(line.c_str());
  if (name.empty()) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  winsim::detail::ResolvedPath program;
  if (DWORD err = FindProgram(name, &program)) return Fail(err, FALSE);

  std::string hostProgram = program.host;
  std::string module;  // the Windows image a player plays
  if (StartsWith(program.host, "MZ")) {
    hostProgram = winsim::detail::Setting("programs", "player", "");
    if (hostProgram.empty()) return Fail(ERROR_BAD_EXE_FORMAT, FALSE);
    module = program.windows;
  } else if (!StartsWith(program.host,
                         "\x7f"
                         "ELF") &&
             !StartsWith(program.host, "#!")) {
    return Fail(ERROR_BAD_EXE_FORMAT, FALSE);
  }

  // Windows files carry no execute permission, yet any of them can be started: a native
  // program that arrived as data (unpacked, copied) gets the host's execute bits here.
  if (module.empty()) {
    struct stat st;
    if (stat(hostProgram.c_str(), &st) == 0 && (st.st_mode & 0111) != 0111)
      chmod(hostProgram.c_str(), st.st_mode | 0111);
  }

  std::string cwdWindows, cwdHost;
  if (currentDirectory) {
    winsim::detail::ResolvedPath folder;
    if (winsim::detail::ResolvePath(currentDirectory, &folder) != 0 || !folder.exists ||
        !folder.isDir)
      return Fail(ERROR_DIRECTORY, FALSE);
    cwdWindows = folder.windows;
    cwdHost = folder.host;
  }

  // The child's environment: the given block or ours, with the machine's own variables.
  std::vector<std::string> env;
  if (environment) {
    for (const char* p = static_cast<const char*>(environment); *p; p += std::strlen(p) + 1)
      env.push_back(p);
  } else {
    for (char** e = environ; *e; ++e) env.push_back(*e);
  }
  auto setVar = [&env](const std::string& var, const std::string& value, bool keep) {
    for (auto it = env.begin(); it != env.end(); ++it)
      if (it->compare(0, var.size() + 1, var + "=") == 0) {
        env.erase(it);
        break;
      }
    if (keep) env.push_back(var + "=" + value);
  };
  for (const char* inherited : {"WINSIM_ROOT", "WINSIM_FAULTS"})
    if (const char* v = std::getenv(inherited); v && environment) setVar(inherited, v, true);
  std::string state = winsim::detail::StateDir();
  std::string exitFile = (state.empty() ? std::string("/tmp") : state) + "/exit-" +
                         std::to_string(getpid()) + "-" + std::to_string(++g_children);
  unlink(exitFile.c_str());
  setVar("WINSIM_CMDLINE", line.empty() ? "\"" + program.windows + "\"" : line, true);
  setVar("WINSIM_EXIT_FILE", exitFile, true);
  setVar("WINSIM_MODULE", module, !module.empty());
  if (!cwdWindows.empty()) setVar("WINSIM_CWD", cwdWindows, true);

  std::vector<std::string> args = SplitArguments(line.c_str());
  if (args.empty()) args.push_back(program.host);
  args[0] = hostProgram;
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(&e[0]);
  envp.push_back(nullptr);

  // The exec's failure comes back through a pipe that a successful exec closes.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return Fail(winsim::detail::ErrorFromErrno(errno), FALSE);
  pid_t pid = fork();
  if (pid < 0) {
    close(report[0]);
    close(report[1]);
    return Fail(ERROR_NOT_ENOUGH_MEMORY, FALSE);
  }
  if (pid == 0) {
    int err = 0;
    if (!cwdHost.empty() && chdir(cwdHost.c_str()) != 0) err = errno;
    if (!err) {
      execve(hostProgram.c_str(), argv.data(), envp.data());
      err = errno;
    }
    ssize_t ignored = write(report[1], &err, sizeof err);
    (void)ignored;
    _exit(127);
  }
  close(report[1]);
  int childErr = 0;
  ssize_t n;
  while ((n = read(report[0], &childErr, sizeof childErr)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  if (n == (ssize_t)sizeof childErr) {
    waitpid(pid, nullptr, 0);
    return Fail(
        childErr == ENOEXEC ? ERROR_BAD_EXE_FORMAT : winsim::detail::ErrorFromErrno(childErr),
        FALSE);
  }
  {
    std::lock_guard<std::mutex> guard(g_startedLock);
    g_started->push_back(pid);
  }
  auto process = std::make_shared<ProcessObject>();
  process->pid = pid;
  process->exitFile = exitFile;
  auto thread = std::make_shared<ThreadObject>();
  thread->process = process;
  processInformation->hProcess = winsim::detail::AddHandle(process);
  processInformation->hThread = winsim::detail::AddHandle(thread);
  processInformation->dwProcessId = (DWORD)pid;
  processInformation->dwThreadId = (DWORD)pid;
  return TRUE;
}

extern "C" BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
  WINSIM_FAULT_POINT(FALSE, ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED);
  if (!exitCode) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (process == GetCurrentProcess()) {
    *exitCode = STILL_ACTIVE;
    return TRUE;
  }
  auto object = winsim::detail::FindObject<ProcessObject>(process);
  if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
  *exitCode = object->Reap(false) ? object->ExitCode() : (DWORD)STILL_ACTIVE;
  return TRUE;
}

extern "C" BOOL WINAPI TerminateProcess(HANDLE process, UINT exitCode) {
  WINSIM_FAULT_POINT(FALSE, ERROR_ACCESS_DENIED);
  auto object = winsim::detail::FindObject<ProcessObject>(process);
  if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (object->Reap(false)) return Fail(ERROR_ACCESS_DENIED, FALSE);  // it has ended already
  {
    std::lock_guard<std::mutex> guard(object->lock);
    object->terminated = true;
    object->terminateCode = exitCode;
  }
  kill(object->pid, SIGKILL);
  object->Reap(true);
  return TRUE;
}

extern "C" void WINAPI ExitProcess(UINT exitCode) {
  if (const char* file = std::getenv("WINSIM_EXIT_FILE"); file && *file) {
    if (FILE* f = std::fopen(file, "w")) {
      std::fprintf(f, "%u\n", exitCode);
      std::fclose(f);
    }
  }
  std::exit((int)(exitCode & 0xFF));
}

extern "C" HANDLE WINAPI GetCurrentProcess(void) { return INVALID_HANDLE_VALUE; }

extern "C" DWORD WINAPI GetCurrentProcessId(void) { return (DWORD)getpid(); }

extern "C" LPSTR WINAPI GetCommandLineA(void) {
  // Built once, as Windows keeps it in the process's parameters.
  static std::string* line = [] {
    auto* built = new std::string;
    if (const char* given = std::getenv("WINSIM_CMDLINE")) {
      *built = given;
      return built;
    }
    // Started from the host: the program's Windows path and its arguments, quoted as needed.
    std::string all;
    if (FILE* f = std::fopen("/proc/self/cmdline", "rb")) {
      char buf[4096];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) all.append(buf, n);
      std::fclose(f);
    }
    char exe[4096];
    ssize_t len = readlink("/proc/self/exe", exe, sizeof exe - 1);
    exe[len > 0 ? len : 0] = '\0';
    size_t pos = all.find('\0');
    std::string self = winsim::detail::WindowsPathOfHost(exe);
    *built = self.find(' ') == std::string::npos ? self : "\"" + self + "\"";
    while (pos != std::string::npos && pos + 1 < all.size()) {
      size_t next = all.find('\0', pos + 1);
      std::string arg = all.substr(pos + 1, next == std::string::npos ? next : next - pos - 1);
      bool quote = arg.empty() || arg.find_first_of(" \t") != std::string::npos;
      *built += " " + (quote ? "\"" + arg + "\"" : arg);
      pos = next;
    }
    return built;
  }();
  return &(*line)[0];
}

extern "C" DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  WINSIM_FAULT_POINT(0u, ERROR_ACCESS_DENIED);
  winsim::detail::ResolvedPath here;
  if (DWORD err = winsim::detail::ResolvePath(".", &here)) return Fail(err, 0u);
  const std::string& path = here.windows;
  if (!buffer || path.size() >= size) return (DWORD)path.size() + 1;
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return (DWORD)path.size();
}

extern "C" void WINAPI Sleep(DWORD milliseconds) {
  struct timespec pause = {(time_t)(milliseconds / 1000), (long)(milliseconds % 1000) * 1000000};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

extern "C" DWORD WINAPI GetTickCount(void) {
  // [clock] ticks=N stops the tick counter, so that tests can make names that depend on it.
  std::string fixed = winsim::detail::Setting("clock", "ticks", "");
  if (!fixed.empty()) return (DWORD)std::strtoul(fixed.c_str(), nullptr, 0);
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (DWORD)((uint64_t)now.tv_sec * 1000 + (uint64_t)now.tv_nsec / 1000000);
}

namespace winsim {
namespace detail {

void KillStartedProcesses() {
  std::lock_guard<std::mutex> guard(g_startedLock);
  for (pid_t pid : *g_started) kill(pid, SIGKILL);
}

}  // namespace detail
}  // namespace winsim
