/* The setup log: where it lives, how a line looks, and how lines reach the disk. */
#include "support/log.h"

#include "support/open_access_security.h"

char LogFolderPath[256];
char LogFilePath[256];
bool LogReady = false;

void GetLogDrive(char* drive) {
  char windows[256] = {0};
  if (GetWindowsDirectoryA(windows, sizeof windows) != 0 && windows[0] != '\0' &&
      windows[1] == ':' && windows[2] == '\\') {
    drive[0] = windows[0];
    drive[1] = ':';
    drive[2] = '\0';
    return;
  }
  // A network path, a failed call, anything not of the drive-letter form: the log goes to C:.
  drive[0] = 'C';
  drive[1] = ':';
  drive[2] = '\0';
}

void DeleteOldLogs() {
  char drive[4];
  char path[MAX_PATH];
  GetLogDrive(drive);
  wsprintfA(path, "%s\\_pw.log", drive);
  DeleteFileA(path);
  wsprintfA(path, "%s\\_pw\\_pw.log", drive);
  DeleteFileA(path);
}

void InitLog() {
  if (LogReady) return;
  char drive[4];
  GetLogDrive(drive);
  wsprintfA(LogFolderPath, "%s\\_pw", drive);

  LPSECURITY_ATTRIBUTES security = CreateOpenAccessSecurity();
  // Any entry of that name will do, even a file: then the log simply can't be created.
  if (GetFileAttributesA(LogFolderPath) != INVALID_FILE_ATTRIBUTES ||
      CreateDirectoryA(LogFolderPath, security)) {
    wsprintfA(LogFilePath, "%s\\_pw.log", LogFolderPath);
    HANDLE file = CreateFileA(LogFilePath, GENERIC_WRITE, 0, security, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      LogReady = true;
      CloseHandle(file);
    }
  }
  FreeOpenAccessSecurity(security);
}

void WriteLog(const char* text, const char* detail, LONG code) {
  if (LogFilePath[0] == '\0') return;
  // Callers often log a failure and then report it with GetLastError(): logging must not
  // change what they will read.
  DWORD lastError = GetLastError();
  HANDLE file = CreateFileA(LogFilePath, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    WORD year = now.wYear >= 2000 ? now.wYear - 2000 : now.wYear - 1900;
    char line[1024];
    wsprintfA(line, "%02hd-%02hd-%02hd %02hd:%02hd:%02hd.%03hd [%X] %s %s\r\n", now.wDay,
              now.wMonth, year, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, (DWORD)code,
              text ? text : "", detail ? detail : "");
    // What was stored counts: for a cut line some wsprintfA answer more than they stored, and
    // the log would get the terminator.
    int length = lstrlenA(line);
    DWORD written = 0;
    // The log is only ever appended to: where the end can't be reached, writing would overwrite
    // the run's first lines, so the line is dropped as if the open had failed.
    if (SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER)
      WriteFile(file, line, (DWORD)length, &written, nullptr);
    CloseHandle(file);
  }
  SetLastError(lastError);
}
