/*
 * What a person running the host build sees of its windows: while standard error is a terminal,
 * the visible top-level window is one line there, its caption, the texts of its visible static
 * controls and a bar for its progress control, redrawn in place whenever one of them changes,
 * and erased when the window is hidden or destroyed. Nothing is written to anything else.
 */
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/posix/user_internal.h"

using winsim::detail::FindWindowObject;
using winsim::detail::Window;

namespace {

constexpr int kBarCells = 30;

std::mutex g_lock;
HWND g_drawn = nullptr;  // the top-level window whose line is on the terminal
std::string g_line;

HWND TopLevelOf(HWND window) {
  auto w = FindWindowObject(window);
  while (w && (w->style & WS_CHILD)) w = FindWindowObject(w->parent);
  return w ? w->handle : nullptr;
}

int Columns() {
  struct winsize size {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20) return size.ws_col;
  return 80;
}

std::string Bar(const Window& bar) {
  long span = (long)bar.high - bar.low;
  long done = span > 0 ? ((long)bar.pos - bar.low) : 0;
  int filled = span > 0 ? (int)(done * kBarCells / span) : 0;
  int percent = span > 0 ? (int)(done * 100 / span) : 0;
  char tail[8];
  std::snprintf(tail, sizeof tail, "] %3d%%", percent);
  return "[" + std::string((size_t)filled, '#') + std::string((size_t)(kBarCells - filled), '.') +
         tail;
}

// The line of a visible top-level window: "[Caption] texts  [bar] nn%", cut to the terminal.
std::string Render(const Window& top) {
  std::string texts, bars;
  for (HWND child : top.children) {
    auto c = FindWindowObject(child);
    if (!c || !(c->style & WS_VISIBLE)) continue;
    if (c->className == "Static" && !c->text.empty()) {
      if (!texts.empty()) texts += " ";
      texts += c->text;
    } else if (c->className == "msctls_progress32") {
      bars += " " + Bar(*c);
    }
  }
  for (char& ch : texts)
    if ((unsigned char)ch < 0x20) ch = ' ';  // a line break of the text would break the line
  std::string head = "[" + top.text + "] ";
  size_t room = (size_t)Columns() - 1;
  size_t fixed = head.size() + bars.size();
  if (fixed >= room) return (head + bars).substr(0, room);
  texts.resize(room - fixed, ' ');  // cut or padded: the bar stays at the line's end
  return head + texts + bars;
}

void Write(const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(STDERR_FILENO, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += (size_t)n;
  }
}

void EraseLocked() {
  Write("\r\x1b[K");
  g_drawn = nullptr;
  g_line.clear();
}

}  // namespace

namespace winsim {
namespace detail {

void WindowChanged(HWND window) {
  if (!isatty(STDERR_FILENO)) return;
  HWND top = TopLevelOf(window);
  auto w = FindWindowObject(top);
  std::lock_guard<std::mutex> guard(g_lock);
  if (!w || !(w->style & WS_VISIBLE)) {
    if (top && g_drawn == top) EraseLocked();
    return;
  }
  std::string line = Render(*w);
  if (g_drawn == top && line == g_line) return;
  Write("\r" + line + "\x1b[K");
  g_drawn = top;
  g_line = line;
}

void WindowGone(HWND topLevel) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (topLevel && g_drawn == topLevel && isatty(STDERR_FILENO)) EraseLocked();
  if (g_drawn == topLevel) g_drawn = nullptr;
}

}  // namespace detail
}  // namespace winsim
