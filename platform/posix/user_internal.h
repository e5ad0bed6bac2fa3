/*
 * What the host layer's user32 and comctl32 files share: the window objects behind HWNDs, the
 * window classes the host knows, the program's resources, and the hooks of the terminal drawing.
 * Nothing outside platform/posix includes this.
 */
#ifndef PLATFORM_POSIX_USER_INTERNAL_H
#define PLATFORM_POSIX_USER_INTERNAL_H

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"

namespace winsim {
namespace detail {

/* ---- Metrics (user_windows.cpp): the numbers of Wine's default look at 96 dpi ---- */

constexpr int kCaptionHeight = 19;  // SM_CYCAPTION
constexpr int kDialogFrame = 3;     // SM_CXDLGFRAME, SM_CYDLGFRAME
constexpr int kBorder = 1;          // SM_CXBORDER, SM_CYBORDER
constexpr int kThickFrame = 4;      // SM_CXFRAME, SM_CYFRAME

/* ---- Windows (user_windows.cpp) ---- */

struct Window {
  HWND handle = nullptr;
  std::string className;  // as registered: "#32770", "Static", "msctls_progress32"
  WNDPROC proc = nullptr;
  std::thread::id thread;  // the creating thread, whose queue gets the window's messages
  std::string text;
  DWORD style = 0;
  DWORD exStyle = 0;
  RECT rect{};  // screen coordinates for a top-level window, the parent's client area's for a child
  RECT frame{};           // thickness of the non-client area on each side
  HWND parent = nullptr;  // of a child
  HWND owner = nullptr;   // of a top-level window
  int id = 0;
  std::vector<HWND> children;  // in creation order
  LONG_PTR userData = 0;       // GWLP_USERDATA
  bool destroying = false;

  // Dialogs
  bool isDialog = false;
  DLGPROC dialogProc = nullptr;
  LONG_PTR dialogResult = 0;  // DWLP_MSGRESULT
  LONG_PTR dialogUser = 0;    // DWLP_USER
  int baseX = 0;              // horizontal and vertical dialog base units
  int baseY = 0;

  // Fonts and icons
  HFONT font = nullptr;
  HICON bigIcon = nullptr;
  HICON smallIcon = nullptr;

  // The progress bar
  int low = 0;
  int high = 100;
  int pos = 0;
  int step = 10;
};

// The live window a handle names, or null (destroyed, never created, or not a window).
std::shared_ptr<Window> FindWindowObject(HWND handle);

// Creates a window of a registered class; rect is in the parent's client coordinates for a child
// (WS_CHILD) and in screen coordinates otherwise. Sends no message. Fails with
// ERROR_CANNOT_FIND_WND_CLASS for an unknown class.
HWND NewWindow(const std::string& className, const std::string& text, DWORD style, DWORD exStyle,
               const RECT& rect, HWND parentOrOwner, int id);

// The window's client area's top-left corner in screen coordinates.
POINT ClientOrigin(const Window& window);

// Children of a window whose id matches (the first one, as GetDlgItem finds it).
HWND ChildWithId(HWND parent, int id);

/* ---- Classes (user_dialog.cpp, comctl_progress.cpp) ---- */

LRESULT CALLBACK StaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The class procedure of a class name (without regard to case), or null when no such class is
// registered yet; the progress bar's class exists once InitCommonControlsEx registered it.
WNDPROC ClassProc(const std::string& className, std::string* canonicalName);

/* ---- The message queue (user_queue.cpp) ---- */

// Drops the posted messages of a window that is being destroyed.
void DropMessagesOf(HWND window);

/* ---- Resources (user_resources.cpp) ---- */

// The program's module handle, as GetModuleHandleA(NULL) gives it.
HMODULE ProgramModule();
// The data of a resource of the program, or null; sets the Windows error when not found.
const BYTE* FindProgramResource(HMODULE module, LPCSTR type, LPCSTR name, DWORD* size);

/* ---- Drawing on the terminal (user_terminal.cpp) ---- */

// Something visible about the window (or one of its children) changed: its top-level window's
// line on the terminal is redrawn, or erased when that window is hidden or gone.
void WindowChanged(HWND window);
// The top-level window is being destroyed: its line is erased if it is the one drawn.
void WindowGone(HWND topLevel);

}  // namespace detail
}  // namespace winsim

#endif
