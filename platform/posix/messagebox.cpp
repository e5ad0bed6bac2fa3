/*
 * MessageBoxA on a machine nobody looks at: each box is written to the transcript
 * state/messagebox.log and answered from state/messagebox-answers (one button id per line, used
 * in order) or, when no answer is scripted, with the button that Enter would press.
 */
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/posix/machine.h"

namespace {

constexpr UINT kCancelTryContinue = 6;
constexpr int kIdTryAgain = 10;
constexpr int kIdContinue = 11;

// The button that has the focus when the box opens: the first, or the one MB_DEFBUTTONn names.
int DefaultButton(UINT type) {
  static const int kButtons[][3] = {{IDOK, 0, 0},
                                    {IDOK, IDCANCEL, 0},
                                    {IDABORT, IDRETRY, IDIGNORE},
                                    {IDYES, IDNO, IDCANCEL},
                                    {IDYES, IDNO, 0},
                                    {IDRETRY, IDCANCEL, 0},
                                    {IDCANCEL, kIdTryAgain, kIdContinue}};
  UINT kind = type & MB_TYPEMASK;
  if (kind > kCancelTryContinue) kind = MB_OK;
  unsigned which = (type >> 8) & 0xF;  // MB_DEFBUTTON2 is 0x100, MB_DEFBUTTON3 0x200
  if (which > 2 || kButtons[kind][which] == 0) which = 0;
  return kButtons[kind][which];
}

std::string Escape(const char* text) {
  std::string out;
  for (const char* p = text; p && *p; ++p) {
    switch (*p) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += *p;
    }
  }
  return out;
}

bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += (size_t)n;
  }
  return true;
}

// Takes the first scripted answer, if any, removing its line; under a lock so that boxes of
// several processes of one machine take answers one at a time.
bool TakeScriptedAnswer(const std::string& file, int* answer) {
  int fd = open(file.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  flock(fd, LOCK_EX);
  std::string all;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) all.append(buf, (size_t)n);
  bool found = false;
  // Blank lines are skipped; a line that is not a number is consumed and reported.
  while (!all.empty() && !found) {
    size_t eol = all.find('\n');
    std::string line = all.substr(0, eol);
    all = eol == std::string::npos ? std::string() : all.substr(eol + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty()) continue;
    char* end = nullptr;
    long value = std::strtol(line.c_str(), &end, 10);
    if (*end == '\0' && value > 0 && value < 0x10000) {
      *answer = (int)value;
      found = true;
    } else {
      std::fprintf(stderr, "winsim: ignoring message-box answer '%s'\n", line.c_str());
    }
  }
  if (ftruncate(fd, 0) == 0 && lseek(fd, 0, SEEK_SET) == 0) WriteAll(fd, all);
  flock(fd, LOCK_UN);
  close(fd);
  return found;
}

}  // namespace

extern "C" int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  WINSIM_FAULT_POINT(0, ERROR_NOT_ENOUGH_MEMORY, ERROR_ACCESS_DENIED);
  (void)owner;
  const char* title = caption ? caption : "Error";
  int answer = DefaultButton(type);
  std::string state = winsim::detail::StateDir();
  if (state.empty()) {
    std::fprintf(stderr, "[%s] %s\n", title, text ? text : "");
    return answer;
  }
  TakeScriptedAnswer(state + "/messagebox-answers", &answer);
  char head[32];
  std::snprintf(head, sizeof head, "%08X\t%d\t", type, answer);
  std::string line = head + Escape(title) + "\t" + Escape(text) + "\n";
  int fd =
      open((state + "/messagebox.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0 || !WriteAll(fd, line))
    std::fprintf(stderr, "winsim: cannot write the message-box transcript\n");
  if (fd >= 0) close(fd);
  return answer;
}
