/*
 * Dialogs from templates of the program's resources: CreateDialogParamA reads the classic
 * dialog template, sizes the dialog and its controls in dialog units of the template's font,
 * and runs the dialog procedure through DefDlgProcA, as the dialog manager does. Also the
 * static control and the registration of the common controls' classes.
 */
#include <atomic>
#include <cstring>
#include <string>

#include "platform/posix/machine.h"
#include "platform/posix/user_internal.h"

using winsim::detail::EqualNoCase;
using winsim::detail::Fail;
using winsim::detail::FindWindowObject;

namespace {

std::atomic<bool> g_progressRegistered{false};

// MulDiv: a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c) {
  long long product = (long long)a * b;
  long long half = c / 2;
  return (int)((product >= 0) == (c > 0) ? (product + half) / c : (product - half) / c);
}

// Reads a dialog template within its resource's bounds; any read past the end sets failed.
struct TemplateReader {
  const BYTE* base;
  const BYTE* at;
  const BYTE* end;
  bool failed = false;

  WORD Word() {
    if (end - at < 2) {
      failed = true;
      return 0;
    }
    WORD v = (WORD)(at[0] | (at[1] << 8));
    at += 2;
    return v;
  }
  DWORD Dword() {
    WORD low = Word();
    return low | ((DWORD)Word() << 16);
  }
  // A UTF-16 string, as 8-bit text of the system code page (code points above 255 become '?').
  std::string String() {
    std::string text;
    for (WORD c = Word(); c != 0 && !failed; c = Word()) text.push_back(c < 0x100 ? (char)c : '?');
    return text;
  }
  // sz_Or_Ord: nothing (0), an ordinal (0xFFFF then the value), or a string.
  void StringOrOrdinal(std::string* text, WORD* ordinal) {
    text->clear();
    *ordinal = 0;
    if (end - at < 2) {
      failed = true;
      return;
    }
    WORD first = (WORD)(at[0] | (at[1] << 8));
    if (first == 0) {
      at += 2;
    } else if (first == 0xFFFF) {
      at += 2;
      *ordinal = Word();
    } else {
      *text = String();
    }
  }
  void AlignDword() {
    size_t offset = (size_t)(at - base);
    size_t skip = (4 - offset % 4) % 4;
    if ((size_t)(end - at) < skip)
      at = end;
    else
      at += skip;
  }
};

const char* PredefinedClass(WORD atom) {
  switch (atom) {
    case 0x80:
      return "Button";
    case 0x81:
      return "Edit";
    case 0x82:
      return "Static";
    case 0x83:
      return "ListBox";
    case 0x84:
      return "ScrollBar";
    case 0x85:
      return "ComboBox";
    default:
      return "";
  }
}

// Dialog base units of a template font. MS Sans Serif 8, the classic dialog font, measures 7 by
// 13 under Wine; other sizes scale from it. Without a font, the system font's 8 by 16.
void BaseUnits(bool hasFont, int points, int* x, int* y) {
  if (!hasFont || points <= 0) {
    *x = 8;
    *y = 16;
    return;
  }
  *x = MulDiv(points, 7, 8) > 0 ? MulDiv(points, 7, 8) : 1;
  *y = MulDiv(points, 13, 8) > 0 ? MulDiv(points, 13, 8) : 1;
}

RECT DialogRect(int baseX, int baseY, int x, int y, int cx, int cy) {
  RECT r;
  r.left = MulDiv(x, baseX, 4);
  r.top = MulDiv(y, baseY, 8);
  r.right = r.left + MulDiv(cx, baseX, 4);
  r.bottom = r.top + MulDiv(cy, baseY, 8);
  return r;
}

struct ItemTemplate {
  DWORD style, exStyle;
  short x, y, cx, cy;
  WORD id;
  std::string className;
  std::string text;
};

}  // namespace

namespace winsim {
namespace detail {

WNDPROC ClassProc(const std::string& className, std::string* canonicalName) {
  struct Known {
    const char* name;
    WNDPROC proc;
    bool (*registered)();
  };
  static const Known kClasses[] = {
      {"#32770", &DefDlgProcA, [] { return true; }},
      {"Static", &StaticProc, [] { return true; }},
      {"msctls_progress32", &ProgressProc, [] { return g_progressRegistered.load(); }},
  };
  for (const Known& k : kClasses)
    if (EqualNoCase(className, k.name) && k.registered()) {
      *canonicalName = k.name;
      return k.proc;
    }
  return nullptr;
}

LRESULT CALLBACK StaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto w = FindWindowObject(window);
  if (!w) return 0;
  if (message == WM_SETFONT) {
    w->font = reinterpret_cast<HFONT>(wParam);
    return 0;
  }
  if (message == WM_GETFONT) return reinterpret_cast<LRESULT>(w->font);
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace detail
}  // namespace winsim

extern "C" BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* init) {
  WINSIM_FAULT_POINT(FALSE, ERROR_ACCESS_DENIED);
  if (!init || init->dwSize != sizeof(INITCOMMONCONTROLSEX)) return FALSE;
  if (init->dwICC & ICC_PROGRESS_CLASS) g_progressRegistered = true;
  return TRUE;
}

extern "C" LRESULT WINAPI DefDlgProcA(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto w = FindWindowObject(dialog);
  if (!w) return 0;
  if (w->dialogProc) {
    INT_PTR handled = w->dialogProc(dialog, message, wParam, lParam);
    w = FindWindowObject(dialog);  // the procedure may have destroyed the dialog
    if (handled) {
      if (message == WM_INITDIALOG) return handled;
      return w ? w->dialogResult : 0;
    }
    if (!w) return 0;
  }
  switch (message) {
    case WM_CLOSE: {
      // A close request becomes the Cancel command; what that does is the procedure's choice.
      HWND cancel = winsim::detail::ChildWithId(dialog, IDCANCEL);
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), reinterpret_cast<LPARAM>(cancel));
      return 0;
    }
    case WM_SETFONT:
      w->font = reinterpret_cast<HFONT>(wParam);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(w->font);
    case WM_INITDIALOG:
    case WM_COMMAND:
      return 0;
    default:
      return DefWindowProcA(dialog, message, wParam, lParam);
  }
}

extern "C" HWND WINAPI CreateDialogParamA(HINSTANCE instance, LPCSTR name, HWND parent,
                                          DLGPROC proc, LPARAM param) {
  WINSIM_FAULT_POINT((HWND) nullptr, ERROR_RESOURCE_NAME_NOT_FOUND, ERROR_ACCESS_DENIED);
  DWORD size = 0;
  const BYTE* data = winsim::detail::FindProgramResource(instance, RT_DIALOG, name, &size);
  if (!data) return nullptr;

  TemplateReader t{data, data, data + size};
  DWORD style = t.Dword();
  DWORD exStyle = t.Dword();
  WORD count = t.Word();
  short x = (short)t.Word(), y = (short)t.Word(), cx = (short)t.Word(), cy = (short)t.Word();
  std::string menu, className, caption, face;
  WORD menuId = 0, classAtom = 0, points = 0;
  t.StringOrOrdinal(&menu, &menuId);
  t.StringOrOrdinal(&className, &classAtom);
  caption = t.String();
  if (style & DS_SETFONT) {
    points = t.Word();
    face = t.String();
  }
  // Extended templates (DIALOGEX) and dialogs with menus or classes of their own are not
  // among what the host draws.
  if (t.failed || style == 0xFFFF0001u || !menu.empty() || menuId || !className.empty() ||
      classAtom)
    return Fail(ERROR_RESOURCE_DATA_NOT_FOUND, (HWND) nullptr);

  std::vector<ItemTemplate> items;
  for (WORD i = 0; i < count && !t.failed; ++i) {
    t.AlignDword();
    ItemTemplate item;
    item.style = t.Dword();
    item.exStyle = t.Dword();
    item.x = (short)t.Word();
    item.y = (short)t.Word();
    item.cx = (short)t.Word();
    item.cy = (short)t.Word();
    item.id = t.Word();
    WORD atom = 0, textOrdinal = 0;
    t.StringOrOrdinal(&item.className, &atom);
    if (atom) item.className = PredefinedClass(atom);
    t.StringOrOrdinal(&item.text, &textOrdinal);
    WORD extra = t.Word();
    if ((size_t)(t.end - t.at) < extra) t.failed = true;
    t.at += t.failed ? 0 : extra;
    items.push_back(item);
  }
  if (t.failed) return Fail(ERROR_RESOURCE_DATA_NOT_FOUND, (HWND) nullptr);

  int baseX, baseY;
  BaseUnits((style & DS_SETFONT) != 0, points, &baseX, &baseY);

  // The dialog manager's additions to the template's styles; the dialog starts hidden and is
  // shown after its initialization when the template asks for WS_VISIBLE.
  DWORD dialogStyle = (style | WS_CLIPSIBLINGS | DS_3DLOOK) & ~(DWORD)WS_VISIBLE;
  DWORD dialogExStyle = exStyle | WS_EX_CONTROLPARENT;
  if (style & DS_MODALFRAME) dialogExStyle |= WS_EX_DLGMODALFRAME;
  if ((dialogExStyle & WS_EX_DLGMODALFRAME) || (style & (WS_DLGFRAME | WS_THICKFRAME)))
    dialogExStyle |= WS_EX_WINDOWEDGE;

  RECT client = DialogRect(baseX, baseY, x, y, cx, cy);
  HWND dialog =
      winsim::detail::NewWindow("#32770", caption, dialogStyle, dialogExStyle, client, parent, 0);
  if (!dialog) return nullptr;
  auto w = FindWindowObject(dialog);
  // The template places the client area; the window's frame goes around it. A top-level dialog
  // is then kept on the work area, as Wine keeps it on its monitor.
  RECT r{client.left - w->frame.left, client.top - w->frame.top, client.right + w->frame.right,
         client.bottom + w->frame.bottom};
  if (!(style & WS_CHILD)) {
    if (auto owner = FindWindowObject(w->owner)) {
      POINT o = winsim::detail::ClientOrigin(*owner);
      r = RECT{r.left + o.x, r.top + o.y, r.right + o.x, r.bottom + o.y};
    }
    RECT area;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    LONG dx = r.left < area.left ? area.left - r.left : 0;
    LONG dy = r.top < area.top ? area.top - r.top : 0;
    r = RECT{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
  }
  w->rect = r;
  w->isDialog = true;
  w->dialogProc = proc;
  w->baseX = baseX;
  w->baseY = baseY;

  HFONT font = (style & DS_SETFONT) ? reinterpret_cast<HFONT>(0x30000 + points) : nullptr;
  if (font) SendMessageA(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
  HWND focus = nullptr;
  for (const ItemTemplate& item : items) {
    RECT rect = DialogRect(baseX, baseY, item.x, item.y, item.cx, item.cy);
    HWND control =
        winsim::detail::NewWindow(item.className, item.text, item.style | WS_CHILD,
                                  item.exStyle | WS_EX_NOPARENTNOTIFY, rect, dialog, item.id);
    if (!control) {
      // A control that can't be made fails the whole dialog, with that control's error.
      DWORD error = GetLastError();
      DestroyWindow(dialog);
      return Fail(error, (HWND) nullptr);
    }
    if (font) SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
    if (!focus && (item.style & WS_TABSTOP)) focus = control;
  }
  SendMessageA(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(focus), param);
  if (!IsWindow(dialog)) return nullptr;  // the procedure ended it during its initialization
  if (style & WS_VISIBLE) ShowWindow(dialog, SW_SHOWNORMAL);
  return dialog;
}

extern "C" HWND WINAPI GetDlgItem(HWND dialog, int id) {
  return winsim::detail::ChildWithId(dialog, id);
}

extern "C" BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
  HWND control = GetDlgItem(dialog, id);
  return control ? SetWindowTextA(control, text) : FALSE;
}

extern "C" UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size) {
  HWND control = GetDlgItem(dialog, id);
  if (!control) {
    if (buffer && size > 0) buffer[0] = '\0';
    return 0;
  }
  return (UINT)GetWindowTextA(control, buffer, size);
}

extern "C" LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
  HWND control = GetDlgItem(dialog, id);
  return control ? SendMessageA(control, message, wParam, lParam) : 0;
}

extern "C" BOOL WINAPI MapDialogRect(HWND dialog, LPRECT rect) {
  auto w = FindWindowObject(dialog);
  if (!w || !w->isDialog) return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
  if (!rect) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  rect->left = MulDiv(rect->left, w->baseX, 4);
  rect->right = MulDiv(rect->right, w->baseX, 4);
  rect->top = MulDiv(rect->top, w->baseY, 8);
  rect->bottom = MulDiv(rect->bottom, w->baseY, 8);
  return TRUE;
}
