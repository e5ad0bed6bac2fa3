/*
 * try_runner: runs a setup as a user would, answering its message boxes, for scripts/try-setup.
 *   try_runner [--yes] SETUP [ARGUMENTS...]
 * Prints each box as "box: CAPTION|TEXT -> ANSWER" when it appears and, once the setup ended,
 * "exit: CODE (0xHEX)": the whole 32-bit code, which a Unix shell under Wine would cut to 8 bits.
 * A box with a No button (the restart question) is answered No, or Yes with --yes; any other
 * box is confirmed with OK. Exit code: the setup's, or 2 when it could not be started.
 */
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

struct Watch {
  DWORD pid;
  bool yes;
  std::set<HWND> answered;
};

BOOL CALLBACK AnswerBox(HWND window, LPARAM param) {
  Watch* watch = reinterpret_cast<Watch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char cls[16] = "";
  GetClassNameA(window, cls, sizeof cls);
  // The progress window is a dialog too, but without buttons: a box has OK or No.
  bool box = GetDlgItem(window, IDOK) || GetDlgItem(window, IDNO);
  if (pid != watch->pid || std::string(cls) != "#32770" || !box || !IsWindowVisible(window) ||
      !watch->answered.insert(window).second)
    return TRUE;
  char caption[512] = "", text[2048] = "";
  GetWindowTextA(window, caption, sizeof caption);
  GetDlgItemTextA(window, 0xFFFF, text, sizeof text);  // a message box's text control
  int answer = GetDlgItem(window, IDNO) ? (watch->yes ? IDYES : IDNO) : IDOK;
  std::printf("box: %s|%s -> %s\n", caption, text,
              answer == IDYES  ? "Yes"
              : answer == IDNO ? "No"
                               : "OK");
  std::fflush(stdout);
  PostMessageA(window, WM_COMMAND, answer, 0);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  bool yes = argc > 1 && std::string(argv[1]) == "--yes";
  if (yes) ++first;
  if (first >= argc) {
    std::fprintf(stderr, "usage: try_runner [--yes] SETUP [ARGUMENTS...]\n");
    return 2;
  }
  std::string line = "\"" + std::string(argv[first]) + "\"";
  for (int i = first + 1; i < argc; ++i) {
    std::string arg = argv[i];
    line += arg.find(' ') == std::string::npos ? " " + arg : " \"" + arg + "\"";
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "try_runner: cannot start %s (error %lu)\n", argv[first],
                 (unsigned long)GetLastError());
    return 2;
  }
  Watch watch{process.dwProcessId, yes, {}};
  while (WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT)
    EnumWindows(AnswerBox, reinterpret_cast<LPARAM>(&watch));
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::printf("exit: %ld (0x%08lX)\n", (long)(LONG)code, (unsigned long)code);
  return (int)code;
}
