/* The progress window, the queue drain that keeps it painted, and CenterWindow. */
#include "support/progress_window.h"

#include "resources/resource.h"

namespace {

// The object whose dialog this thread is creating. The dialog's first message takes it and
// attaches it to the window (DWLP_USER), so the object is reachable from that message on;
// one slot per thread is all the bookkeeping that creations on several threads need.
thread_local ProgressWindow* t_creating = nullptr;

}  // namespace

ProgressWindow::ProgressWindow() : window_(nullptr) {}

ProgressWindow::~ProgressWindow() {
  if (window_ && IsWindow(window_)) DestroyWindow(window_);
}

HWND ProgressWindow::Create(HWND parent, LPARAM value) {
  // A second window would be orphaned, still pointing at this object after it is gone.
  if (window_ && IsWindow(window_)) return window_;
  t_creating = this;
  HWND window = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PROGRESS),
                                   parent, &ProgressWindow::DialogProc, value);
  // Cleared whether or not a message took it: no pointer to this object outlives its creation.
  t_creating = nullptr;
  return window;
}

void ProgressWindow::Show(bool visible) { ShowWindow(window_, visible ? SW_SHOW : SW_HIDE); }

void ProgressWindow::SetText(const char* text) {
  PumpMessages();
  SetDlgItemTextA(window_, IDC_STATUS_TEXT, text);
}

void ProgressWindow::SetPos(int position) {
  PumpMessages();
  SendDlgItemMessageA(window_, IDC_PROGRESS_BAR, PBM_SETPOS, (WPARAM)position, 0);
}

void ProgressWindow::SetStep(int step) {
  PumpMessages();
  SendDlgItemMessageA(window_, IDC_PROGRESS_BAR, PBM_SETSTEP, (WPARAM)step, 0);
}

void ProgressWindow::StepIt() {
  PumpMessages();
  SendDlgItemMessageA(window_, IDC_PROGRESS_BAR, PBM_STEPIT, 0, 0);
}

void ProgressWindow::Destroy() { DestroyWindow(window_); }

INT_PTR CALLBACK ProgressWindow::DialogProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  (void)wParam;
  (void)lParam;
  ProgressWindow* self = reinterpret_cast<ProgressWindow*>(GetWindowLongPtrA(window, DWLP_USER));
  if (!self && t_creating) {
    self = t_creating;
    t_creating = nullptr;
    self->window_ = window;
    SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
  }
  if (!self) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      self->OnInitDialog();
      return TRUE;  // the dialog manager gives the default focus
    case WM_NCDESTROY:
      // The window is gone: the object must not name it, nor the window the object.
      SetWindowLongPtrA(window, DWLP_USER, 0);
      self->window_ = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

void ProgressWindow::OnInitDialog() {
  CenterWindow(window_, nullptr);
  HINSTANCE instance = GetModuleHandleA(nullptr);
  // The icons stay loaded until the process ends.
  HANDLE big =
      LoadImageA(instance, MAKEINTRESOURCEA(IDI_SETUP), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                 GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR);
  SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  HANDLE small =
      LoadImageA(instance, MAKEINTRESOURCEA(IDI_SETUP), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                 GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR);
  SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
  SendDlgItemMessageA(window_, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 1000));
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage((int)msg.wParam);
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

BOOL CenterWindow(HWND window, HWND centre) {
  DWORD style = (DWORD)GetWindowLongA(window, GWL_STYLE);
  bool child = (style & WS_CHILD) != 0;
  if (!centre) centre = child ? GetParent(window) : GetWindow(window, GW_OWNER);

  RECT own = {0, 0, 0, 0};
  GetWindowRect(window, &own);
  RECT area = {0, 0, 0, 0}, middle = {0, 0, 0, 0};
  if (!child) {
    if (centre) {
      DWORD centreStyle = (DWORD)GetWindowLongA(centre, GWL_STYLE);
      if (!(centreStyle & WS_VISIBLE) || (centreStyle & WS_MINIMIZE)) centre = nullptr;
    }
    // Without a work area the whole screen stands in for it: an unread rectangle would place
    // the window anywhere.
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0))
      area = RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (centre)
      GetWindowRect(centre, &middle);
    else
      middle = area;
  } else {
    HWND parent = GetParent(window);
    GetClientRect(parent, &area);
    GetClientRect(centre, &middle);
    MapWindowPoints(centre, parent, reinterpret_cast<POINT*>(&middle), 2);
  }

  int width = own.right - own.left;
  int height = own.bottom - own.top;
  int left = (middle.left + middle.right) / 2 - width / 2;
  int top = (middle.top + middle.bottom) / 2 - height / 2;
  if (left < area.left)
    left = area.left;
  else if (left + width > area.right)
    left = area.right - width;
  if (top < area.top)
    top = area.top;
  else if (top + height > area.bottom)
    top = area.bottom - height;
  return SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
