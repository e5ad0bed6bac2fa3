/*
 * pw_child: the second process of cross-process tests, built for both worlds. Each command does
 * one thing a test cannot do to itself, then (where it holds something) writes its ready file
 * and keeps holding until the release file appears or a minute has passed.
 *   pw_child report OUTFILE CODE        writes its command line and current folder, exits CODE
 *   pw_child event NAME READY RELEASE   holds the named event (READY says "new" or "exists")
 *   pw_child file PATH ACCESS SHARE READY RELEASE   holds PATH open (READY says "ok" or the error)
 *   pw_child values KEY COUNT           sets COUNT values in HKEY_CURRENT_USER\KEY, one at a time
 *   pw_child module OUTFILE             writes its own path (GetModuleFileNameA(NULL))
 *   pw_child calls OUTFILE              host only: what its start-up fault knobs make of some calls
 */
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "tests/support/child_process.h"
#include "tests/support/test_machine.h"
#ifndef _WIN32
#include "platform/posix/winsim.h"
#endif

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  // Reports state in READY (argv[at]), then holds h until RELEASE (argv[at + 1]) appears.
  auto hold = [argv](HANDLE h, const std::string& state, int at) {
    if (!TestMachine::WriteBytes(argv[at], state)) return 2;
    WaitForFile(argv[at + 1], 60000);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return 0;
  };
  if (command == "report" && argc == 4) {
    char folder[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof folder, folder);
    if (!TestMachine::WriteBytes(argv[2], std::string(GetCommandLineA()) + "\n" + folder + "\n"))
      return 2;
    ExitProcess((UINT)strtoul(argv[3], nullptr, 0));
  }
  if (command == "event" && argc == 5) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, argv[2]);
    bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    return event ? hold(event, existed ? "exists" : "new", 3) : 2;
  }
  if (command == "file" && argc == 7) {
    HANDLE file =
        CreateFileA(argv[2], (DWORD)strtoul(argv[3], nullptr, 0),
                    (DWORD)strtoul(argv[4], nullptr, 0), nullptr, OPEN_EXISTING, 0, nullptr);
    return hold(file, file == INVALID_HANDLE_VALUE ? std::to_string(GetLastError()) : "ok", 5);
  }
  if (command == "values" && argc == 4) {
    for (DWORD i = 0; i < strtoul(argv[3], nullptr, 0); ++i) {
      std::string name = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(i);
      if (!SetValue(HKEY_CURRENT_USER, argv[2], name.c_str(), REG_DWORD,
                    std::string((char*)&i, sizeof i)))
        return 3;
    }
    return 0;
  }
  if (command == "module" && argc == 3) {
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, sizeof self);
    return TestMachine::WriteBytes(argv[2], self) ? 0 : 2;
  }
#ifndef _WIN32
  // Two LoadLibraryA calls, three GetWindowsDirectoryA calls, and one more once the knobs are
  // cleared: "ok" or the error of each, space-separated.
  if (command == "calls" && argc == 3) {
    char folder[MAX_PATH];
    std::string seen;
    auto note = [&seen](bool ok) { seen += (ok ? "ok" : std::to_string(GetLastError())) + " "; };
    for (int i = 0; i < 2; ++i) note(LoadLibraryA("kernel32") != nullptr);
    for (int i = 0; i < 3; ++i) note(GetWindowsDirectoryA(folder, sizeof folder) != 0);
    winsim::ClearFaults();
    note(GetWindowsDirectoryA(folder, sizeof folder) != 0);
    return TestMachine::WriteBytes(argv[2], seen) ? 0 : 2;
  }
#endif
  fprintf(stderr, "pw_child: unknown command\n");
  return 64;
}
