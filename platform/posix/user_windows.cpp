/*
 * Windows of the host layer: the table behind HWNDs, their texts, styles and rectangles, showing,
 * moving and destroying them, sent messages and the default window procedure; and the screen,
 * whose size and work area come from machine.ini ([display] screen= and workarea=).
 */
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/posix/machine.h"
#include "platform/posix/user_internal.h"

using winsim::detail::Fail;
using winsim::detail::FindWindowObject;
using winsim::detail::Window;

namespace {

struct Table {
  std::recursive_mutex lock;
  std::map<HWND, std::shared_ptr<Window>> windows;
  // Handles are never reused in a process, so a stale HWND never names a newer window.
  uintptr_t next = 0x10020;
};

Table& TheTable() {
  // Never destroyed: windows may still be asked about from static destructors at exit.
  static Table* table = new Table;
  return *table;
}

bool IsChild(const Window& w) { return (w.style & WS_CHILD) != 0; }

// What surrounds the client area, as AdjustWindowRectEx computes it.
RECT FrameOf(DWORD style, DWORD exStyle) {
  int side = 0;
  if (style & WS_THICKFRAME)
    side = winsim::detail::kThickFrame;
  else if ((style & WS_DLGFRAME) || (exStyle & WS_EX_DLGMODALFRAME))
    side = winsim::detail::kDialogFrame;
  else if (style & WS_BORDER)
    side = winsim::detail::kBorder;
  RECT frame{side, side, side, side};
  if ((style & WS_CAPTION) == WS_CAPTION) frame.top += winsim::detail::kCaptionHeight;
  return frame;
}

// The screen's size and the work area: machine.ini [display] screen=WIDTHxHEIGHT and
// workarea=LEFT,TOP,RIGHT,BOTTOM; a missing or unreadable value gives 1024x768 and the whole
// screen, which is what Wine shows in the test X server.
void Screen(int* width, int* height) {
  std::string value = winsim::detail::Setting("display", "screen", "");
  int w = 0, h = 0;
  char tail = 0;
  if (std::sscanf(value.c_str(), "%dx%d%c", &w, &h, &tail) != 2 || w <= 0 || h <= 0) {
    w = 1024;
    h = 768;
  }
  *width = w;
  *height = h;
}

RECT WorkArea() {
  int width, height;
  Screen(&width, &height);
  RECT area{0, 0, width, height};
  std::string value = winsim::detail::Setting("display", "workarea", "");
  int l, t, r, b;
  char tail = 0;
  if (std::sscanf(value.c_str(), "%d,%d,%d,%d%c", &l, &t, &r, &b, &tail) == 4 && l < r && t < b)
    area = RECT{l, t, r, b};
  return area;
}

std::shared_ptr<Window> Find(HWND handle) {
  std::shared_ptr<Window> w = FindWindowObject(handle);
  if (!w) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

RECT ScreenRect(const Window& w) {
  RECT r = w.rect;
  if (IsChild(w)) {
    if (auto parent = FindWindowObject(w.parent)) {
      POINT o = winsim::detail::ClientOrigin(*parent);
      r.left += o.x;
      r.right += o.x;
      r.top += o.y;
      r.bottom += o.y;
    }
  }
  return r;
}

void SendDestroy(HWND handle) {
  auto w = FindWindowObject(handle);
  if (!w) return;
  SendMessageA(handle, WM_DESTROY, 0, 0);
  std::vector<HWND> children = w->children;
  for (HWND child : children) SendDestroy(child);
}

void SendNcDestroyAndRemove(HWND handle) {
  auto w = FindWindowObject(handle);
  if (!w) return;
  std::vector<HWND> children = w->children;
  for (HWND child : children) SendNcDestroyAndRemove(child);
  SendMessageA(handle, WM_NCDESTROY, 0, 0);
  winsim::detail::DropMessagesOf(handle);
  Table& t = TheTable();
  std::lock_guard<std::recursive_mutex> guard(t.lock);
  t.windows.erase(handle);
  if (auto parent = FindWindowObject(w->parent)) {
    auto& list = parent->children;
    for (auto it = list.begin(); it != list.end(); ++it)
      if (*it == handle) {
        list.erase(it);
        break;
      }
  }
}

std::string CopyText(LPCSTR text) { return text ? std::string(text) : std::string(); }

}  // namespace

namespace winsim {
namespace detail {

std::shared_ptr<Window> FindWindowObject(HWND handle) {
  if (!handle) return nullptr;
  Table& t = TheTable();
  std::lock_guard<std::recursive_mutex> guard(t.lock);
  auto it = t.windows.find(handle);
  if (it == t.windows.end() || it->second->destroying) return nullptr;
  return it->second;
}

HWND NewWindow(const std::string& className, const std::string& text, DWORD style, DWORD exStyle,
               const RECT& rect, HWND parentOrOwner, int id) {
  std::string canonical;
  WNDPROC proc = ClassProc(className, &canonical);
  if (!proc) return Fail(ERROR_CANNOT_FIND_WND_CLASS, (HWND) nullptr);
  std::shared_ptr<Window> parent;
  if (parentOrOwner && !(parent = FindWindowObject(parentOrOwner)))
    return Fail(ERROR_INVALID_WINDOW_HANDLE, (HWND) nullptr);
  auto w = std::make_shared<Window>();
  w->className = canonical;
  w->proc = proc;
  w->thread = std::this_thread::get_id();
  w->text = text;
  w->style = style;
  w->exStyle = exStyle;
  w->rect = rect;
  w->frame = FrameOf(style, exStyle);
  w->id = id;
  if (style & WS_CHILD) {
    if (!parent) return Fail(ERROR_INVALID_PARAMETER, (HWND) nullptr);  // a child needs a parent
    w->parent = parentOrOwner;
  } else if (parent) {
    // The owner of a top-level window is always a top-level window itself.
    while (parent && (parent->style & WS_CHILD)) parent = FindWindowObject(parent->parent);
    w->owner = parent ? parent->handle : nullptr;
  }
  Table& t = TheTable();
  std::lock_guard<std::recursive_mutex> guard(t.lock);
  w->handle = reinterpret_cast<HWND>(t.next);
  t.next += 2;
  t.windows[w->handle] = w;
  if (style & WS_CHILD) parent->children.push_back(w->handle);
  return w->handle;
}

POINT ClientOrigin(const Window& window) {
  RECT r = ScreenRect(window);
  return POINT{r.left + window.frame.left, r.top + window.frame.top};
}

HWND ChildWithId(HWND parent, int id) {
  auto w = FindWindowObject(parent);
  if (!w) return Fail(ERROR_INVALID_WINDOW_HANDLE, (HWND) nullptr);
  for (HWND child : w->children) {
    auto c = FindWindowObject(child);
    if (c && c->id == id) return child;
  }
  return Fail(ERROR_CONTROL_ID_NOT_FOUND, (HWND) nullptr);
}

}  // namespace detail
}  // namespace winsim

extern "C" LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto w = Find(window);
  if (!w) return 0;
  // The host has one thread per window owner in practice; a message sent from another thread
  // is delivered directly rather than through the owner's queue.
  return w->proc(window, message, wParam, lParam);
}

extern "C" LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto w = FindWindowObject(window);
  if (!w) return 0;
  switch (message) {
    case WM_SETTEXT:
      w->text = CopyText(reinterpret_cast<LPCSTR>(lParam));
      winsim::detail::WindowChanged(window);
      return TRUE;
    case WM_GETTEXT: {
      char* buffer = reinterpret_cast<char*>(lParam);
      if (!buffer || wParam == 0) return 0;
      size_t n = w->text.size() < wParam - 1 ? w->text.size() : wParam - 1;
      std::memcpy(buffer, w->text.data(), n);
      buffer[n] = '\0';
      return (LRESULT)n;
    }
    case WM_GETTEXTLENGTH:
      return (LRESULT)w->text.size();
    case WM_SETICON: {
      HICON& slot = wParam == ICON_BIG ? w->bigIcon : w->smallIcon;
      HICON previous = slot;
      slot = reinterpret_cast<HICON>(lParam);
      return reinterpret_cast<LRESULT>(previous);
    }
    case WM_GETICON:
      return reinterpret_cast<LRESULT>(wParam == ICON_BIG ? w->bigIcon : w->smallIcon);
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    default:
      return 0;
  }
}

extern "C" BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
  WINSIM_FAULT_POINT(FALSE, ERROR_INVALID_WINDOW_HANDLE, ERROR_ACCESS_DENIED);
  if (!Find(window)) return FALSE;
  return (BOOL)SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

extern "C" int WINAPI GetWindowTextA(HWND window, LPSTR buffer, int size) {
  if (!Find(window)) {
    if (buffer && size > 0) buffer[0] = '\0';
    return 0;
  }
  if (!buffer || size <= 0) return 0;
  return (int)SendMessageA(window, WM_GETTEXT, (WPARAM)size, reinterpret_cast<LPARAM>(buffer));
}

extern "C" int WINAPI GetClassNameA(HWND window, LPSTR buffer, int size) {
  auto w = Find(window);
  if (!w || !buffer || size <= 0) return 0;
  size_t n = w->className.size() < (size_t)size - 1 ? w->className.size() : (size_t)size - 1;
  std::memcpy(buffer, w->className.data(), n);
  buffer[n] = '\0';
  return (int)n;
}

extern "C" BOOL WINAPI ShowWindow(HWND window, int command) {
  auto w = Find(window);
  if (!w) return FALSE;
  BOOL wasVisible = (w->style & WS_VISIBLE) != 0;
  DWORD style = w->style;
  switch (command) {
    case SW_HIDE:
      style &= ~(DWORD)WS_VISIBLE;
      break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
      style |= WS_VISIBLE | WS_MINIMIZE;
      break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
      style = (style | WS_VISIBLE) & ~(DWORD)(WS_MINIMIZE | WS_MAXIMIZE);
      break;
    default:  // SW_SHOW, SW_SHOWNA, SW_SHOWNOACTIVATE and the rest show the window as it is
      style |= WS_VISIBLE;
      break;
  }
  bool changed = (style ^ w->style) & WS_VISIBLE;
  w->style = style;
  if (changed) SendMessageA(window, WM_SHOWWINDOW, (style & WS_VISIBLE) ? TRUE : FALSE, 0);
  winsim::detail::WindowChanged(window);
  return wasVisible;
}

extern "C" BOOL WINAPI IsWindow(HWND window) { return FindWindowObject(window) != nullptr; }

extern "C" BOOL WINAPI IsWindowVisible(HWND window) {
  for (auto w = FindWindowObject(window); w; w = FindWindowObject(w->parent)) {
    if (!(w->style & WS_VISIBLE)) return FALSE;
    if (!(w->style & WS_CHILD)) return TRUE;
  }
  return FALSE;
}

extern "C" BOOL WINAPI DestroyWindow(HWND window) {
  WINSIM_FAULT_POINT(FALSE, ERROR_INVALID_WINDOW_HANDLE, ERROR_ACCESS_DENIED);
  auto w = Find(window);
  if (!w) return FALSE;
  if (w->thread != std::this_thread::get_id()) return Fail(ERROR_ACCESS_DENIED, FALSE);
  // Windows that this one owns go first, as Windows destroys them with their owner.
  std::vector<HWND> owned;
  {
    Table& t = TheTable();
    std::lock_guard<std::recursive_mutex> guard(t.lock);
    for (auto& entry : t.windows)
      if (entry.second->owner == window && !entry.second->destroying) owned.push_back(entry.first);
  }
  for (HWND o : owned) DestroyWindow(o);
  if (!(w->style & WS_CHILD)) winsim::detail::WindowGone(window);
  SendDestroy(window);
  SendNcDestroyAndRemove(window);  // finds nothing left when WM_DESTROY destroyed it already
  w->destroying = true;
  if (w->style & WS_CHILD) winsim::detail::WindowChanged(w->parent);
  return TRUE;
}

extern "C" BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
  auto w = Find(window);
  if (!w || !rect) return FALSE;
  *rect = ScreenRect(*w);
  return TRUE;
}

extern "C" BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
  auto w = Find(window);
  if (!w || !rect) return FALSE;
  LONG width = w->rect.right - w->rect.left - w->frame.left - w->frame.right;
  LONG height = w->rect.bottom - w->rect.top - w->frame.top - w->frame.bottom;
  *rect = RECT{0, 0, width > 0 ? width : 0, height > 0 ? height : 0};
  return TRUE;
}

extern "C" BOOL WINAPI SetWindowPos(HWND window, HWND after, int x, int y, int cx, int cy,
                                    UINT flags) {
  WINSIM_FAULT_POINT(FALSE, ERROR_INVALID_WINDOW_HANDLE, ERROR_ACCESS_DENIED);
  (void)after;  // the host keeps no z-order
  auto w = Find(window);
  if (!w) return FALSE;
  RECT r = w->rect;
  if (!(flags & SWP_NOMOVE)) {
    r.right += x - r.left;
    r.bottom += y - r.top;
    r.left = x;
    r.top = y;
  }
  if (!(flags & SWP_NOSIZE)) {
    r.right = r.left + (cx > 0 ? cx : 0);
    r.bottom = r.top + (cy > 0 ? cy : 0);
  }
  w->rect = r;
  if (flags & SWP_SHOWWINDOW) ShowWindow(window, SW_SHOWNA);
  if (flags & SWP_HIDEWINDOW) ShowWindow(window, SW_HIDE);
  SendMessageA(window, WM_WINDOWPOSCHANGED, 0, 0);
  return TRUE;
}

extern "C" LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index) {
  auto w = Find(window);
  if (!w) return 0;
  switch (index) {
    case GWL_STYLE:
      return (LONG_PTR)(LONG)w->style;
    case GWL_EXSTYLE:
      return (LONG_PTR)(LONG)w->exStyle;
    case GWL_ID:
      return w->id;
    case GWLP_USERDATA:
      return w->userData;
    default:
      break;
  }
  if (w->isDialog) {
    if (index == DWLP_MSGRESULT) return w->dialogResult;
    if (index == DWLP_DLGPROC) return reinterpret_cast<LONG_PTR>(w->dialogProc);
    if (index == DWLP_USER) return w->dialogUser;
  }
  return Fail(ERROR_INVALID_INDEX, (LONG_PTR)0);
}

extern "C" LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
  auto w = Find(window);
  if (!w) return 0;
  LONG_PTR previous = GetWindowLongPtrA(window, index);
  switch (index) {
    case GWL_STYLE:
      w->style = (DWORD)value;
      winsim::detail::WindowChanged(window);
      return previous;
    case GWL_EXSTYLE:
      w->exStyle = (DWORD)value;
      return previous;
    case GWL_ID:
      w->id = (int)value;
      return previous;
    case GWLP_USERDATA:
      w->userData = value;
      return previous;
    default:
      break;
  }
  if (w->isDialog) {
    if (index == DWLP_MSGRESULT) {
      w->dialogResult = value;
      return previous;
    }
    if (index == DWLP_DLGPROC) {
      w->dialogProc = reinterpret_cast<DLGPROC>(value);
      return previous;
    }
    if (index == DWLP_USER) {
      w->dialogUser = value;
      return previous;
    }
  }
  return Fail(ERROR_INVALID_INDEX, (LONG_PTR)0);
}

extern "C" LONG WINAPI GetWindowLongA(HWND window, int index) {
  return (LONG)GetWindowLongPtrA(window, index);
}

extern "C" LONG WINAPI SetWindowLongA(HWND window, int index, LONG value) {
  return (LONG)SetWindowLongPtrA(window, index, value);
}

extern "C" HWND WINAPI GetWindow(HWND window, UINT relation) {
  auto w = Find(window);
  if (!w) return nullptr;
  if (relation == GW_OWNER) return w->owner;
  return Fail(ERROR_INVALID_PARAMETER, (HWND) nullptr);  // the host keeps no z-order
}

extern "C" HWND WINAPI GetParent(HWND window) {
  auto w = Find(window);
  if (!w) return nullptr;
  return (w->style & WS_CHILD) ? w->parent : w->owner;
}

extern "C" int WINAPI MapWindowPoints(HWND from, HWND to, LPPOINT points, UINT count) {
  POINT origin[2] = {{0, 0}, {0, 0}};
  HWND ends[2] = {from, to};
  for (int i = 0; i < 2; ++i) {
    if (!ends[i]) continue;  // the desktop: screen coordinates
    auto w = Find(ends[i]);
    if (!w) return 0;
    origin[i] = winsim::detail::ClientOrigin(*w);
  }
  LONG dx = origin[0].x - origin[1].x;
  LONG dy = origin[0].y - origin[1].y;
  for (UINT i = 0; points && i < count; ++i) {
    points[i].x += dx;
    points[i].y += dy;
  }
  SetLastError(ERROR_SUCCESS);  // a zero answer is then told apart from a failure
  return MAKELONG((WORD)(SHORT)dx, (WORD)(SHORT)dy);
}

extern "C" BOOL WINAPI SystemParametersInfoA(UINT action, UINT param, PVOID data, UINT winIni) {
  WINSIM_FAULT_POINT(FALSE, ERROR_ACCESS_DENIED);
  (void)param;
  (void)winIni;
  if (action != SPI_GETWORKAREA || !data) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  *static_cast<RECT*>(data) = WorkArea();
  return TRUE;
}

extern "C" int WINAPI GetSystemMetrics(int index) {
  int width, height;
  switch (index) {
    case SM_CXSCREEN:
      Screen(&width, &height);
      return width;
    case SM_CYSCREEN:
      Screen(&width, &height);
      return height;
    case SM_CYCAPTION:
      return winsim::detail::kCaptionHeight;
    case SM_CXBORDER:
    case SM_CYBORDER:
      return winsim::detail::kBorder;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
      return winsim::detail::kDialogFrame;
    case SM_CXICON:
    case SM_CYICON:
      return 32;
    case SM_CXSMICON:
    case SM_CYSMICON:
      return 16;
    default:
      return 0;
  }
}
