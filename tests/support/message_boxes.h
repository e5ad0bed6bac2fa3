/*
 * What message boxes a test made the program show. On the host the machine keeps a transcript;
 * under Wine a watcher thread finds each box of this process, reads it and presses its default
 * button, so the same test runs in both worlds.
 */
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
  MessageBoxWatch();
  ~MessageBoxWatch();
  // The boxes shown since this watch began, in order.
  std::vector<ShownBox> Boxes() const;

  struct State;  // the world's own bookkeeping

 private:
  std::unique_ptr<State> state_;
};

#endif
