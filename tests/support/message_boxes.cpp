/* Message boxes seen by a test; see message_boxes.h. */
#include "tests/support/message_boxes.h"

#ifdef _WIN32

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

struct MessageBoxWatch::State {
  std::mutex mutex;
  std::vector<ShownBox> boxes;
  std::set<HWND> seen;
  std::atomic<bool> stop{false};
  std::atomic<DWORD> pid{0};  // 0: this process
  int answer = IDOK;
  std::thread thread;
};

namespace {

BOOL CALLBACK CollectBox(HWND window, LPARAM param) {
  auto* state = reinterpret_cast<MessageBoxWatch::State*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char cls[32] = {0};
  GetClassNameA(window, cls, sizeof cls);
  // The progress window is a dialog too: a message box has the static text 0xFFFF.
  if (pid != (state->pid ? state->pid.load() : GetCurrentProcessId()) ||
      std::string(cls) != "#32770" || !IsWindowVisible(window) || !GetDlgItem(window, 0xFFFF))
    return TRUE;
  std::lock_guard<std::mutex> lock(state->mutex);
  if (!state->seen.insert(window).second) return TRUE;
  char title[1024] = "", text[2048] = "";
  GetWindowTextA(window, title, sizeof title);
  GetDlgItemTextA(window, 0xFFFF, text, sizeof text);  // the box's text control
  state->boxes.push_back({title, text, 0});
  PostMessageA(window, WM_COMMAND, GetDlgItem(window, IDYES) ? state->answer : IDOK, 0);
  return TRUE;
}

}  // namespace

MessageBoxWatch::MessageBoxWatch(int answer) : state_(new State) {
  state_->answer = answer;
  state_->thread = std::thread([state = state_.get()] {
    for (; !state->stop; Sleep(10)) EnumWindows(CollectBox, reinterpret_cast<LPARAM>(state));
  });
}

MessageBoxWatch::~MessageBoxWatch() {
  state_->stop = true;
  state_->thread.join();
}

void MessageBoxWatch::Follow(DWORD pid) { state_->pid = pid; }

std::vector<ShownBox> MessageBoxWatch::Boxes() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->boxes;
}

#else

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tests/support/log_reader.h"

struct MessageBoxWatch::State {
  size_t skip = 0;  // transcript lines written before the watch began
};

namespace {

// One line a box: style \t answer \t title \t text, with \\, tab, CR and LF escaped.
std::vector<std::string> TranscriptLines() {
  const char* root = std::getenv("WINSIM_ROOT");
  std::ostringstream text;
  text << std::ifstream(std::string(root ? root : "") + "/state/messagebox.log").rdbuf();
  return Split(text.str(), "\n");
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i] == '\\' && i + 1 < s.size() ? s[++i] : '\0';
    out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c ? c : s[i];
  }
  return out;
}

}  // namespace

MessageBoxWatch::MessageBoxWatch(int) : state_(new State) {
  state_->skip = TranscriptLines().size();
}

MessageBoxWatch::~MessageBoxWatch() = default;

void MessageBoxWatch::Follow(DWORD) {}

std::vector<ShownBox> MessageBoxWatch::Boxes() const {
  std::vector<ShownBox> boxes;
  std::vector<std::string> lines = TranscriptLines();
  for (size_t i = state_->skip; i < lines.size(); ++i) {
    std::vector<std::string> f = Split(lines[i] + "\t", "\t");
    if (f.size() == 4)
      boxes.push_back(
          {Unescape(f[2]), Unescape(f[3]), (UINT)std::strtoul(f[0].c_str(), nullptr, 16)});
  }
  return boxes;
}

#endif
