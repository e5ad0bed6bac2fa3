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
  char title[1024] = {0};
  char text[2048] = {0};
  GetWindowTextA(window, title, sizeof title);
  GetDlgItemTextA(window, 0xFFFF, text, sizeof text);  // the box's text control
  state->boxes.push_back({title, text, 0});
  PostMessageA(window, WM_COMMAND, GetDlgItem(window, IDYES) ? state->answer : IDOK, 0);
  return TRUE;
}

}  // namespace

MessageBoxWatch::MessageBoxWatch(int answer) : state_(new State) {
  State* state = state_.get();
  state->answer = answer;
  state->thread = std::thread([state] {
    while (!state->stop) {
      EnumWindows(CollectBox, reinterpret_cast<LPARAM>(state));
      Sleep(10);
    }
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

struct MessageBoxWatch::State {
  size_t skip = 0;  // transcript lines written before the watch began
};

namespace {

std::string TranscriptPath() {
  const char* root = std::getenv("WINSIM_ROOT");
  return std::string(root ? root : "") + "/state/messagebox.log";
}

std::vector<std::string> TranscriptLines() {
  std::vector<std::string> lines;
  std::ifstream in(TranscriptPath(), std::ios::binary);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\\' && i + 1 < s.size()) {
      c = s[++i];
      c = c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    out += c;
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
    // style \t answer \t title \t text
    const std::string& line = lines[i];
    size_t b = line.find('\t', line.find('\t') + 1);
    size_t c = b == std::string::npos ? b : line.find('\t', b + 1);
    if (c == std::string::npos) continue;
    boxes.push_back({Unescape(line.substr(b + 1, c - b - 1)), Unescape(line.substr(c + 1)),
                     (UINT)std::strtoul(line.c_str(), nullptr, 16)});
  }
  return boxes;
}

#endif
