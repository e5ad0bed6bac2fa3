/* Setup files for tests: an "image" that starts with a DOS header, the four container words, and
 * a chain of blocks behind it, linked in order; tests then damage the bytes with the Put helpers.
 */
#ifndef TESTS_SUPPORT_SETUP_FILE_BUILDER_H
#define TESTS_SUPPORT_SETUP_FILE_BUILDER_H

#include <string>
#include <tuple>
#include <vector>

#include "platform/win32.h"

// CRC-32 computed bit by bit, independently of the code under test.
DWORD ReferenceCrc32(const std::string& bytes);

void PutLe16(std::string& bytes, size_t offset, WORD value);
void PutLe32(std::string& bytes, size_t offset, DWORD value);
DWORD GetLe32(const std::string& bytes, size_t offset);

class SetupFileBuilder {
 public:
  // A block whose data CRC is the data's true CRC-32.
  SetupFileBuilder& Block(const std::string& name, const std::string& data) {
    return BlockWithCrc(name, data, ReferenceCrc32(data));
  }
  // A block with the given data CRC field (0 for a stored block that is exempt from the test).
  SetupFileBuilder& BlockWithCrc(const std::string& name, const std::string& data, DWORD crc) {
    blocks_.push_back({name, data, crc});
    return *this;
  }

  std::string Build() const;
  // File offset of block i in what Build() returns.
  DWORD BlockOffset(size_t i) const;

 private:
  static const DWORD kImageSize = 0x200;  // the bytes in front of the first block
  std::vector<std::tuple<std::string, std::string, DWORD>> blocks_;  // name, data, data CRC
};

#endif
