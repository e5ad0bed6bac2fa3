/* The message boxes a test made the program show: on the host from the machine's transcript (of
 * every process); under Wine a watcher thread finds, reads and answers each box of the process
 * watched. So the same test runs in both worlds. */
#ifndef TESTS_SUPPORT_MESSAGE_BOXES_H
#define TESTS_SUPPORT_MESSAGE_BOXES_H

#include <memory>
#include <string>
#include <vector>

#include "platform/win32.h"

struct ShownBox {
  std::string title;  // as shown: a box without a caption shows "Error"
  std::string text;
  UINT style;         // the MB_ flags; known on the host only (0 under Wine)
};

class MessageBoxWatch {
 public:
  // Under Wine a question (a box with Yes) gets answer; any other box, or any box of a watch
  // without an answer, gets OK. The host answers from the machine's script.
  explicit MessageBoxWatch(int answer = IDOK);
  ~MessageBoxWatch();
  // Under Wine, watches that process instead of this one.
  void Follow(DWORD pid);
  // The boxes shown since this watch began, in order.
  std::vector<ShownBox> Boxes() const;

  struct State;  // the world's own bookkeeping

 private:
  std::unique_ptr<State> state_;
};

#endif
