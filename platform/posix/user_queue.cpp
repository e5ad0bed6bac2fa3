/*
 * The message queues: one per thread, holding the messages posted to the thread or to its
 * windows, first in first out, and the quit request of PostQuitMessage, which Windows hands out
 * only once no posted message is left. The host has no input, so nothing else ever queues.
 */
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/posix/machine.h"
#include "platform/posix/user_internal.h"

using winsim::detail::Fail;
using winsim::detail::FindWindowObject;

namespace {

struct Queue {
  std::deque<MSG> posted;
  bool quit = false;
  int quitCode = 0;
};

struct Queues {
  std::mutex lock;
  std::map<std::thread::id, Queue> byThread;
};

Queues& TheQueues() {
  static Queues* queues = new Queues;  // never destroyed, as the window table
  return *queues;
}

bool InRange(UINT message, UINT low, UINT high) {
  return (low == 0 && high == 0) || (message >= low && message <= high);
}

// A message for `window` passes the window filter when it is for that window or one of its
// descendants; a null filter takes every message of the thread, (HWND)-1 only thread messages.
bool ForWindow(HWND target, HWND filter) {
  if (!filter) return true;
  if (filter == reinterpret_cast<HWND>(-1)) return target == nullptr;
  for (auto w = FindWindowObject(target); w; w = FindWindowObject(w->parent))
    if (w->handle == filter) return true;
  return false;
}

}  // namespace

namespace winsim {
namespace detail {

void DropMessagesOf(HWND window) {
  Queues& q = TheQueues();
  std::lock_guard<std::mutex> guard(q.lock);
  for (auto& entry : q.byThread) {
    auto& posted = entry.second.posted;
    for (auto it = posted.begin(); it != posted.end();)
      it = it->hwnd == window ? posted.erase(it) : it + 1;
  }
}

}  // namespace detail
}  // namespace winsim

extern "C" BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WINSIM_FAULT_POINT(FALSE, ERROR_ACCESS_DENIED);
  std::thread::id thread = std::this_thread::get_id();
  if (window) {
    auto w = FindWindowObject(window);
    if (!w) return Fail(ERROR_INVALID_WINDOW_HANDLE, FALSE);
    thread = w->thread;
  }
  MSG msg{};
  msg.hwnd = window;
  msg.message = message;
  msg.wParam = wParam;
  msg.lParam = lParam;
  Queues& q = TheQueues();
  std::lock_guard<std::mutex> guard(q.lock);
  q.byThread[thread].posted.push_back(msg);
  return TRUE;
}

extern "C" void WINAPI PostQuitMessage(int exitCode) {
  Queues& q = TheQueues();
  std::lock_guard<std::mutex> guard(q.lock);
  Queue& mine = q.byThread[std::this_thread::get_id()];
  mine.quit = true;
  mine.quitCode = exitCode;
}

extern "C" BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax,
                                    UINT remove) {
  if (!msg) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  Queues& q = TheQueues();
  std::lock_guard<std::mutex> guard(q.lock);
  auto found = q.byThread.find(std::this_thread::get_id());
  if (found == q.byThread.end()) return FALSE;
  Queue& mine = found->second;
  for (auto it = mine.posted.begin(); it != mine.posted.end(); ++it) {
    if (!InRange(it->message, filterMin, filterMax) || !ForWindow(it->hwnd, window)) continue;
    *msg = *it;
    if (remove & PM_REMOVE) mine.posted.erase(it);
    return TRUE;
  }
  if (mine.quit && InRange(WM_QUIT, filterMin, filterMax)) {
    *msg = MSG{};
    msg->message = WM_QUIT;
    msg->wParam = (WPARAM)mine.quitCode;
    if (remove & PM_REMOVE) mine.quit = false;
    return TRUE;
  }
  return FALSE;
}

extern "C" BOOL WINAPI TranslateMessage(const MSG* msg) {
  (void)msg;  // no keyboard on the host: no key message to turn into characters
  return FALSE;
}

extern "C" LRESULT WINAPI DispatchMessageA(const MSG* msg) {
  if (!msg || !msg->hwnd) return 0;
  auto w = FindWindowObject(msg->hwnd);
  if (!w) return Fail(ERROR_INVALID_WINDOW_HANDLE, (LRESULT)0);
  return w->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}
