/* Second processes for tests, pw_child (see child.cpp) and the setup program, started through
 * CreateProcessA in both worlds, so a test observes what another process really does. */
#ifndef TESTS_SUPPORT_CHILD_PROCESS_H
#define TESTS_SUPPORT_CHILD_PROCESS_H

#include <string>

#include "platform/win32.h"

// Windows paths of the running test program's folder, of pw_child and of this build's setup.
std::string TestProgramFolder();
std::string ChildProgram();
std::string SetupProgram();

// Polls for a file to appear, up to ms milliseconds.
bool WaitForFile(const std::string& path, DWORD ms = 20000);

// Whether the platform refuses to open a read-only file for writing. Windows and the host layer
// do; Wine running as root does not, since it leaves the check to the (root) file system.
bool ReadOnlyIsEnforced(const std::string& scratchFolder);

class ChildProcess {
 public:
  ChildProcess() = default;
  // Ends a child that is still running.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // CreateProcessA with commandLine (no application name), folder and creation flags; false
  // with GetLastError.
  bool Start(const std::string& commandLine, const char* folder = nullptr, DWORD flags = 0);
  // Waits up to ms for the end; the exit code, or STILL_ACTIVE when it did not end in time.
  DWORD Wait(DWORD ms = 30000);
  DWORD Id() const { return info_.dwProcessId; }

 private:
  PROCESS_INFORMATION info_ = {};
};

// A pw_child that holds something (event, file) until released; Ready() is its report.
class HeldByChild {
 public:
  // scratch: a folder for the ready and release files; args: the command and its arguments
  // before READY and RELEASE.
  HeldByChild(const std::string& scratch, const std::string& args);
  ~HeldByChild() { Release(); }
  // The child's report once it holds (empty when it did not report in time).
  const std::string& Ready() const { return ready_; }
  // Lets the child end and waits for it; harmless to repeat.
  void Release();

 private:
  std::string readyFile_, releaseFile_, ready_;
  ChildProcess child_;
};

#endif
