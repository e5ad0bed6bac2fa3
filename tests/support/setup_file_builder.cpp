/* Setup files for tests; see setup_file_builder.h. */
#include "tests/support/setup_file_builder.h"

DWORD ReferenceCrc32(const std::string& bytes) {
  DWORD crc = 0xFFFFFFFF;
  for (unsigned char byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320u : 0);
  }
  return ~crc;
}

void PutLe16(std::string& bytes, size_t offset, WORD value) {
  for (int i = 0; i < 2; ++i) bytes[offset + i] = (char)(value >> (8 * i));
}

void PutLe32(std::string& bytes, size_t offset, DWORD value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = (char)(value >> (8 * i));
}

DWORD GetLe32(const std::string& bytes, size_t offset) {
  DWORD value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | (unsigned char)bytes[offset + i];
  return value;
}

SetupFileBuilder& SetupFileBuilder::Block(const std::string& name, const std::string& data) {
  return BlockWithCrc(name, data, ReferenceCrc32(data));
}

SetupFileBuilder& SetupFileBuilder::BlockWithCrc(const std::string& name, const std::string& data,
                                                 DWORD crc) {
  blocks_.push_back({name, data, crc});
  return *this;
}

DWORD SetupFileBuilder::BlockOffset(size_t i) const {
  DWORD offset = kImageSize;
  for (size_t k = 0; k < i; ++k) offset += 22 + (DWORD)blocks_[k].data.size();
  return offset;
}

std::string SetupFileBuilder::Build() const {
  std::string out = "MZ" + std::string(kImageSize - 2, '\0');
  PutLe32(out, 0x3C, 0x40);  // where a PE header would be; the container never looks at it
  if (!blocks_.empty()) {
    PutLe32(out, 0x28, kImageSize);
    PutLe32(out, 0x2C, kImageSize);
    PutLe32(out, 0x30, (DWORD)blocks_.size());
    PutLe32(out, 0x34, (DWORD)blocks_.size());
  }
  for (size_t i = 0; i < blocks_.size(); ++i) {
    const Entry& b = blocks_[i];
    std::string header = "WP" + std::string(20, '\0');
    PutLe32(header, 2, 22 + (DWORD)b.data.size());
    PutLe32(header, 6, b.crc);
    PutLe32(header, 10, i + 1 < blocks_.size() ? BlockOffset(i + 1) : 0);
    header.replace(14, b.name.size() < 8 ? b.name.size() : 8, b.name, 0, 8);
    out += header + b.data;
  }
  return out;
}
