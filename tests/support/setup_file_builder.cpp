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

static void PutLe(std::string& bytes, size_t offset, DWORD value, int width) {
  for (int i = 0; i < width; ++i) bytes[offset + i] = (char)(value >> (8 * i));
}
void PutLe16(std::string& bytes, size_t offset, WORD value) { PutLe(bytes, offset, value, 2); }
void PutLe32(std::string& bytes, size_t offset, DWORD value) { PutLe(bytes, offset, value, 4); }

DWORD GetLe32(const std::string& bytes, size_t offset) {
  DWORD value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | (unsigned char)bytes[offset + i];
  return value;
}

DWORD SetupFileBuilder::BlockOffset(size_t i) const {
  DWORD offset = kImageSize;
  for (size_t k = 0; k < i; ++k) offset += 22 + (DWORD)std::get<1>(blocks_[k]).size();
  return offset;
}

std::string SetupFileBuilder::Build() const {
  std::string out = "MZ" + std::string(kImageSize - 2, '\0');
  PutLe32(out, 0x3C, 0x40);  // where a PE header would be; the container never looks at it
  // First block offset, its copy, block count, its copy; all 0 without blocks.
  const DWORD n = (DWORD)blocks_.size(), words[] = {kImageSize, kImageSize, n, n};
  for (int i = 0; i < 4 && n; ++i) PutLe32(out, 0x28 + 4 * i, words[i]);
  for (size_t i = 0; i < blocks_.size(); ++i) {
    const auto& [name, data, crc] = blocks_[i];
    std::string header = "WP" + std::string(20, '\0');
    PutLe32(header, 2, 22 + (DWORD)data.size());
    PutLe32(header, 6, crc);
    PutLe32(header, 10, i + 1 < blocks_.size() ? BlockOffset(i + 1) : 0);
    header.replace(14, name.size() < 8 ? name.size() : 8, name, 0, 8);
    out += header + data;
  }
  return out;
}
