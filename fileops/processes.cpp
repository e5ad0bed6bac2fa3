/* Child programs and the restart of Windows. */
#include "fileops/processes.h"

#include <string.h>

#include "support/log.h"
#include "support/report.h"

namespace {

const size_t kCommandLineSize = 520;

// A failure that left no error code behind would convert to 0, which reads as success.
HRESULT FailureOf(DWORD error) { return error ? HRESULT_FROM_WIN32(error) : E_FAIL; }

}  // namespace

HRESULT RunProcess(const char* folder, const char* program, const char* params) {
  const char* dir = folder ? folder : "";
  const char* name = program ? program : "";
  char commandLine[kCommandLineSize];
  // Two quotes, the backslash and the terminator, and a space before any parameters.
  size_t needed = strlen(dir) + strlen(name) + 4 + (params ? 1 + strlen(params) : 0);
  if (needed > sizeof commandLine) {
    WriteLog("RunProcess() - ", name, 0);
    ReportError(" ... Can't run ", name, ERROR_FILENAME_EXCED_RANGE);
    return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  }
  if (params)
    wsprintfA(commandLine, "\"%s\\%s\" %s", dir, name, params);
  else
    wsprintfA(commandLine, "\"%s\\%s\"", dir, name);
  WriteLog("RunProcess() - ", commandLine, 0);

  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child;
  memset(&child, 0, sizeof child);
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, TRUE, 0, nullptr, folder, &startup,
                      &child)) {
    DWORD error = GetLastError();
    ReportError(" ... Can't run ", commandLine, (LONG)error);
    return FailureOf(error);
  }
  WriteLog(" ... running, wait for it", nullptr, 0);
  DWORD waited = WaitForSingleObject(child.hProcess, INFINITE);
  DWORD waitError = GetLastError();
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(child.hProcess, &exitCode)) exitCode = 0;
  WriteLog(" ... finished", nullptr, (LONG)exitCode);
  if (child.hThread) CloseHandle(child.hThread);
  if (child.hProcess) CloseHandle(child.hProcess);
  return waited == WAIT_OBJECT_0 ? 0 : FailureOf(waitError);
}

BOOL EnableShutdownPrivilege() {
  // The 95 family's advapi32 lacks these: they are looked up, never imported.
  HMODULE advapi = GetModuleHandleA("ADVAPI32.dll");
  if (!advapi) return 0;
  FARPROC open = GetProcAddress(advapi, "OpenProcessToken");
  FARPROC lookup = GetProcAddress(advapi, "LookupPrivilegeValueA");
  FARPROC adjust = GetProcAddress(advapi, "AdjustTokenPrivileges");
  if (!open || !lookup || !adjust) return 0;
  HANDLE token = nullptr;
  if (!ProcAs<OpenProcessTokenFn>(open)(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                                        &token))
    return 0;
  TOKEN_PRIVILEGES privileges;
  memset(&privileges, 0, sizeof privileges);
  privileges.PrivilegeCount = 1;
  ProcAs<LookupPrivilegeValueAFn>(lookup)(nullptr, SE_SHUTDOWN_NAME,
                                          &privileges.Privileges[0].Luid);
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  BOOL adjusted =
      ProcAs<AdjustTokenPrivilegesFn>(adjust)(token, FALSE, &privileges, 0, nullptr, nullptr);
  CloseHandle(token);
  return adjusted;
}

void AskForReboot(BOOL noAsk) {
  if (!noAsk) {
    int answer = MessageBoxA(nullptr,
                             "Pondwick Setup requires you to reboot your computer.\n"
                             "Do you want to reboot now?",
                             "Pondwick Setup", MB_YESNO | MB_ICONQUESTION);
    if (answer != IDYES && answer != IDOK) {
      WriteLog("AskForReboot() - cancelled", nullptr, 0);
      return;
    }
  }
  WriteLog("AskForReboot() - rebooting", nullptr, 0);
  EnableShutdownPrivilege();
  if (!ExitWindowsEx(EWX_REBOOT, 0)) {
    ReportError("Reboot Failed.", nullptr, (LONG)GetLastError());
    WriteLog("AskForReboot() - cancelled", nullptr, 0);
  }
}
