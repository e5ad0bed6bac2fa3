/* Second processes for tests; see child_process.h. */
#include "tests/support/child_process.h"

#include <atomic>

#include "tests/support/test_machine.h"

std::string TestProgramFolder() {
  char self[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, self, sizeof self);
  std::string path(self);
  return path.substr(0, path.find_last_of('\\'));
}

#ifdef _WIN32
static const char kExe[] = ".exe";
#else
static const char kExe[] = "";
#endif

std::string ChildProgram() { return TestProgramFolder() + "\\pw_child" + kExe; }

std::string SetupProgram() { return TestProgramFolder() + "\\..\\setup\\setup" + kExe; }

bool WaitForFile(const std::string& path, DWORD ms) {
  for (DWORD waited = 0; waited < ms && !TestMachine::Exists(path); waited += 10) Sleep(10);
  return TestMachine::Exists(path);
}

bool ReadOnlyIsEnforced(const std::string& scratchFolder) {
  std::string probe = scratchFolder + "\\read-only.probe";
  TestMachine::WriteBytes(probe, "p");
  SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_READONLY);
  HANDLE h = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(probe.c_str());
  return h == INVALID_HANDLE_VALUE;
}

ChildProcess::~ChildProcess() {
  if (!info_.hProcess) return;
  if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
    TerminateProcess(info_.hProcess, 1);
    WaitForSingleObject(info_.hProcess, 5000);
  }
  CloseHandle(info_.hThread);
  CloseHandle(info_.hProcess);
}

bool ChildProcess::Start(const std::string& commandLine, const char* folder, DWORD flags) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  std::string line = commandLine;
  return CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, flags, nullptr, folder,
                        &startup, &info_) != 0;
}

DWORD ChildProcess::Wait(DWORD ms) {
  DWORD code = STILL_ACTIVE;
  if (info_.hProcess && WaitForSingleObject(info_.hProcess, ms) == WAIT_OBJECT_0)
    GetExitCodeProcess(info_.hProcess, &code);
  return code;
}

HeldByChild::HeldByChild(const std::string& scratch, const std::string& args) {
  static std::atomic<int> counter{0};
  std::string stem = scratch + "\\held" + std::to_string(++counter);
  readyFile_ = stem + ".ready";
  releaseFile_ = stem + ".release";
  if (!child_.Start("\"" + ChildProgram() + "\" " + args + " \"" + readyFile_ + "\" \"" +
                    releaseFile_ + "\""))
    return;
  // The file may exist a moment before its one write lands in it. A loaded machine can take
  // many seconds to start a process; only a child that never reports fails the test.
  for (int i = 0; i < 6000 && (!TestMachine::ReadBytes(readyFile_, &ready_) || ready_.empty()); ++i)
    Sleep(10);
}

void HeldByChild::Release() {
  TestMachine::WriteBytes(releaseFile_, "");
  child_.Wait(20000);
}
