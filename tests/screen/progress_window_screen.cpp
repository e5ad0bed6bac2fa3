/*
 * The progress window as a person sees it under Wine: shown with a status text and the bar at
 * 400, its painted pixels checked, and held on screen while screenshot.sh photographs it. Its
 * texts, styles, layout and centring are checked by unit_support, under Wine too.
 *   progress_window_screen READY_FILE DONE_FILE
 * READY_FILE receives "left top right bottom" of the window once it is ready to be taken;
 * the program then waits (at most 60 s) for DONE_FILE to appear. Exit code: failed checks.
 */
#include <cstdio>

#include "resources/resource.h"
#include "support/progress_window.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: progress_window_screen READY_FILE DONE_FILE\n");
    return 100;
  }
  INITCOMMONCONTROLSEX init = {sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&init);
  ProgressWindow progress;
  HWND window = progress.Create(nullptr, 0);
  if (!window) {
    std::printf("FAIL the window was not created: error %lu\n", GetLastError());
    return 101;
  }
  progress.Show(true);
  progress.SetText("Copying files...");
  progress.SetPos(400);

  // The painted bar: 40% of it in the highlight colour, the rest not. A loaded machine (or a
  // prefix's first window) can take a few seconds to paint: look again, letting the window paint
  // between looks, until the bar shows or five seconds have passed.
  RECT bar, own;
  GetWindowRect(GetDlgItem(window, IDC_PROGRESS_BAR), &bar);
  HDC screen = GetDC(nullptr);
  LONG midY = (bar.top + bar.bottom) / 2, width = bar.right - bar.left;
  COLORREF filled = 0, empty = 0, highlight = GetSysColor(COLOR_HIGHLIGHT);
  for (int i = 0; i < 100 && filled != highlight; ++i) {
    PumpMessages();
    Sleep(50);
    filled = GetPixel(screen, bar.left + width / 5, midY);
    empty = GetPixel(screen, bar.left + width * 4 / 5, midY);
  }
  ReleaseDC(nullptr, screen);
  int failures = (filled != highlight) + (empty == filled);
  std::printf(
      "%s the bar painted 40%% in the highlight colour: filled %06lx, past 400 %06lx, "
      "highlight %06lx\n",
      failures ? "FAIL" : "ok  ", filled, empty, highlight);

  GetWindowRect(window, &own);
  if (std::FILE* ready = std::fopen(argv[1], "wb")) {
    std::fprintf(ready, "%ld %ld %ld %ld\n", own.left, own.top, own.right, own.bottom);
    std::fclose(ready);
  }
  for (int i = 0; i < 600 && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES; ++i) {
    PumpMessages();
    Sleep(100);
  }
  progress.Destroy();
  std::printf("%d failed checks\n", failures);
  return failures;
}
