/*
 * The progress window as a person sees it under Wine: the window is shown with a status text
 * and the bar at 400, checked from the window itself (texts, styles, rectangles, centring, no
 * close box, the bar's painted pixels), and held on screen while screenshot.sh photographs it.
 *   progress_window_screen READY_FILE DONE_FILE
 * READY_FILE receives "left top right bottom" of the window once it is ready to be taken;
 * the program then waits (at most 60 s) for DONE_FILE to appear. Exit code: failed checks.
 */
#include <cstdio>
#include <cstring>

#include "resources/resource.h"
#include "support/progress_window.h"

namespace {

int g_failures = 0;

void Check(bool ok, const char* what, long got, long want) {
  std::printf("%s %s: got %ld, want %ld\n", ok ? "ok  " : "FAIL", what, got, want);
  if (!ok) ++g_failures;
}

void CheckEqual(const char* what, long got, long want) { Check(got == want, what, got, want); }

void CheckText(const char* what, const char* got, const char* want) {
  bool ok = std::strcmp(got, want) == 0;
  std::printf("%s %s: got \"%s\", want \"%s\"\n", ok ? "ok  " : "FAIL", what, got, want);
  if (!ok) ++g_failures;
}

RECT InDialog(HWND dialog, HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// Lets the window paint: the setup's own updates do the same between its steps.
void Settle() {
  for (int i = 0; i < 20; ++i) {
    PumpMessages();
    Sleep(25);
  }
}

}  // namespace

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
  Settle();

  char text[128];
  GetWindowTextA(window, text, sizeof text);
  CheckText("caption", text, "Pondwick Setup");
  GetDlgItemTextA(window, IDC_STATUS_TEXT, text, sizeof text);
  CheckText("status text", text, "Copying files...");
  CheckEqual("visible", IsWindowVisible(window), TRUE);
  DWORD style = (DWORD)GetWindowLongA(window, GWL_STYLE);
  CheckEqual("caption style", (long)(style & WS_CAPTION), WS_CAPTION);
  CheckEqual("no system menu, so no close box", (long)(style & WS_SYSMENU), 0);
  HWND bar = GetDlgItem(window, IDC_PROGRESS_BAR);
  HWND status = GetDlgItem(window, IDC_STATUS_TEXT);
  CheckEqual("smooth bar", (long)(GetWindowLongA(bar, GWL_STYLE) & PBS_SMOOTH), PBS_SMOOTH);
  CheckEqual("bar position", (long)SendMessageA(bar, PBM_GETPOS, 0, 0), 400);

  RECT barRect = InDialog(window, bar), statusRect = InDialog(window, status);
  Check(statusRect.bottom <= barRect.top, "status line above the bar (status bottom, bar top)",
        statusRect.bottom, barRect.top);
  CheckEqual("same left edge", statusRect.left, barRect.left);
  CheckEqual("same width", statusRect.right - statusRect.left, barRect.right - barRect.left);

  RECT area, own;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  GetWindowRect(window, &own);
  LONG width = own.right - own.left, height = own.bottom - own.top;
  CheckEqual("centred: left", own.left, (area.left + area.right) / 2 - width / 2);
  CheckEqual("centred: top", own.top, (area.top + area.bottom) / 2 - height / 2);

  // The painted bar: 40% of it in the highlight colour, the rest not.
  RECT barScreen;
  GetWindowRect(bar, &barScreen);
  HDC screen = GetDC(nullptr);
  LONG midY = (barScreen.top + barScreen.bottom) / 2;
  LONG inner = barScreen.right - barScreen.left;
  COLORREF filled = 0, empty = 0;
  // A loaded machine (or a prefix's first window) can take a few seconds to paint: look again,
  // letting the window paint between looks, until the bar shows or five seconds have passed.
  for (int i = 0; i < 100; ++i) {
    filled = GetPixel(screen, barScreen.left + inner / 5, midY);
    empty = GetPixel(screen, barScreen.left + inner * 4 / 5, midY);
    if (filled == GetSysColor(COLOR_HIGHLIGHT)) break;
    PumpMessages();
    Sleep(50);
  }
  ReleaseDC(nullptr, screen);
  CheckEqual("filled part of the bar in the highlight colour", (long)filled,
             (long)GetSysColor(COLOR_HIGHLIGHT));
  Check(empty != filled, "the part past 400 is not filled (colour)", (long)empty, (long)filled);

  std::FILE* ready = std::fopen(argv[1], "wb");
  if (ready) {
    std::fprintf(ready, "%ld %ld %ld %ld\n", own.left, own.top, own.right, own.bottom);
    std::fclose(ready);
  }
  for (int i = 0; i < 600 && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES; ++i) {
    PumpMessages();
    Sleep(100);
  }
  progress.Destroy();
  std::printf("%d failed checks\n", g_failures);
  return g_failures;
}
