/*
 * What the two stand-in programs share: their instructions come from the environment, and what
 * they saw is appended to a record file in the folder PW_DEMO_RECORD names, so that a test or
 * the demo can read afterwards how the setup started them.
 */
#ifndef DEMO_DEMO_RECORD_H
#define DEMO_DEMO_RECORD_H

#include <stdlib.h>
#include <string.h>

#include <string>

#include "platform/win32.h"

namespace demo {

// An instruction from the environment; "(none)" and an unset variable both mean "not given".
inline bool Instruction(const char* variable, std::string* value) {
  const char* v = getenv(variable);
  if (!v || strcmp(v, "(none)") == 0) return false;
  // "(empty)" stands for an empty string, which some environments cannot carry.
  *value = strcmp(v, "(empty)") == 0 ? "" : v;
  return true;
}

// Appends text to the file name in the record folder; without PW_DEMO_RECORD nothing is kept.
inline void AppendRecord(const char* name, const std::string& text) {
  std::string folder;
  if (!Instruction("PW_DEMO_RECORD", &folder) || folder.empty()) return;
  std::string path = folder + "\\" + name;
  // Another run may be appending at the same moment (a product started twice): wait for it.
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int i = 0; i < 500; ++i) {
    file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) break;
    Sleep(10);
  }
  if (file == INVALID_HANDLE_VALUE) return;
  SetFilePointer(file, 0, nullptr, FILE_END);
  DWORD written = 0;
  WriteFile(file, text.data(), (DWORD)text.size(), &written, nullptr);
  CloseHandle(file);
}

// The process's exact command line and working folder, as two lines.
inline std::string StartLines() {
  char folder[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof folder, folder);
  return std::string("command line: ") + GetCommandLineA() + "\r\nfolder: " + folder + "\r\n";
}

}  // namespace demo

#endif
