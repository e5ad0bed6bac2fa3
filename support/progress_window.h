/*
 * The progress window: the setup's only window, a small captioned dialog (IDD_PROGRESS) with a
 * status line above a progress bar whose range is 0 to 1000. The setup has no message loop:
 * every update first drains the thread's message queue, which keeps the window painted.
 */
#ifndef SUPPORT_PROGRESS_WINDOW_H
#define SUPPORT_PROGRESS_WINDOW_H

#include "platform/win32.h"

class ProgressWindow {
 public:
  ProgressWindow();
  // Destroys the window if the handle still names one.
  ~ProgressWindow();
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;

  // Creates the hidden dialog from IDD_PROGRESS as a modeless dialog; value reaches its
  // WM_INITDIALOG. The progress bar's class must be registered first (InitCommonControlsEx with
  // ICC_PROGRESS_CLASS). Returns the window, or null on failure. An object that already has a
  // window keeps it and returns it.
  HWND Create(HWND parent, LPARAM value);
  // SW_SHOW or SW_HIDE.
  void Show(bool visible);
  // Each update drains the message queue first (PumpMessages), then changes the control; with
  // no window it changes nothing.
  void SetText(const char* text);
  void SetPos(int position);
  void SetStep(int step);
  // Advances by the step; past the top of the range the bar starts over from the bottom.
  void StepIt();
  void Destroy();

  // The window, or null before Create and once the window is gone.
  HWND Handle() const { return window_; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog();

  HWND window_;
};

// Drains the thread's message queue without waiting. A WM_QUIT ends the drain at once and is
// posted again (PostQuitMessage with its exit code) for an outer message loop.
void PumpMessages();

// Moves window to the centre of centre (or, when null, of the window's parent for a child and
// of its owner otherwise), kept inside the work area, or inside the parent's client area for a
// child. A hidden or minimized centre window of a top-level window gives way to the work area.
// Returns what SetWindowPos returned.
BOOL CenterWindow(HWND window, HWND centre);

#endif
