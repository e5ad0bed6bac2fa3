/*
 * The progress bar control (msctls_progress32) of comctl32: a range, a position kept inside it,
 * and a step. Stepping past the top of the range starts over from the bottom, carrying the
 * overshoot, as Wine's control does.
 */
#include "platform/posix/user_internal.h"

using winsim::detail::FindWindowObject;

namespace {

void Clamp(winsim::detail::Window& w) {
  if (w.pos < w.low) w.pos = w.low;
  if (w.pos > w.high) w.pos = w.high;
}

// Both range messages answer the previous range as two words, low and high.
LRESULT SetRange(HWND window, winsim::detail::Window& w, int low, int high) {
  LRESULT previous = (LRESULT)(DWORD)MAKELONG(w.low, w.high);
  w.low = low;
  w.high = high;
  Clamp(w);
  winsim::detail::WindowChanged(window);
  return previous;
}

}  // namespace

namespace winsim {
namespace detail {

LRESULT CALLBACK ProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto w = FindWindowObject(window);
  if (!w) return 0;
  int old = w->pos;
  switch (message) {
    case PBM_SETRANGE:
      return SetRange(window, *w, LOWORD(lParam), HIWORD(lParam));
    case PBM_SETRANGE32:
      return SetRange(window, *w, (int)wParam, (int)lParam);
    case PBM_GETRANGE:
      if (lParam) {
        PPBRANGE range = reinterpret_cast<PPBRANGE>(lParam);
        range->iLow = w->low;
        range->iHigh = w->high;
      }
      return wParam ? w->low : w->high;
    case PBM_SETPOS:
      w->pos = (int)wParam;
      break;
    case PBM_DELTAPOS:
      w->pos += (int)wParam;
      break;
    case PBM_SETSTEP: {
      int previous = w->step;
      w->step = (int)wParam;
      return previous;
    }
    case PBM_STEPIT: {
      int span = w->high - w->low;
      w->pos += w->step;
      if (span <= 0)
        w->pos = w->low;
      else if (w->pos > w->high)
        w->pos = (w->pos - w->low) % span + w->low;
      else if (w->pos < w->low)
        w->pos = (w->pos - w->low) % span + w->high;
      break;
    }
    case PBM_GETPOS:
      return w->pos;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
  Clamp(*w);
  if (w->pos != old) WindowChanged(window);
  return old;
}

}  // namespace detail
}  // namespace winsim
