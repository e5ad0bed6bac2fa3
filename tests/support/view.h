/* A copy of some bytes in a heap block of exactly their size, so that any read past the end is
 * caught by AddressSanitizer. */
#ifndef TESTS_SUPPORT_VIEW_H
#define TESTS_SUPPORT_VIEW_H

#include <string.h>

#include <memory>
#include <string>

#include "platform/win32.h"

class ExactView {
 public:
  explicit ExactView(const std::string& bytes)
      : size_((DWORD)bytes.size()), data_(new BYTE[bytes.empty() ? 1 : bytes.size()]) {
    memcpy(data_.get(), bytes.data(), bytes.size());
  }
  const BYTE* data() const { return data_.get(); }
  DWORD size() const { return size_; }

 private:
  DWORD size_;
  std::unique_ptr<BYTE[]> data_;
};

#endif
