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
  bytes[offset] = (char)(value & 0xFF);
  bytes[offset + 1] = (char)(value >> 8);
}

void PutLe32(std::string& bytes, size_t offset, DWORD value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = (char)((value >> (8 * i)) & 0xFF);
}

DWORD GetLe32(const std::string& bytes, size_t offset) {
  DWORD value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | (unsigned char)bytes[offset + i];
  return value;
}

SetupFileBuilder& SetupFileBuilder::ImageSize(DWORD size) {
  image_size_ = size < 0x40 ? 0x40 : size;
  return *this;
}

SetupFileBuilder& SetupFileBuilder::Block(const std::string& name, const std::string& data) {
  return BlockWithCrc(name, data, ReferenceCrc32(data));
}

SetupFileBuilder& SetupFileBuilder::BlockWithCrc(const std::string& name, const std::string& data,
                                                 DWORD crc) {
  blocks_.push_back({name, data, crc});
  return *this;
}

SetupFileBuilder& SetupFileBuilder::Trailer(const std::string& bytes) {
  trailer_ = bytes;
  return *this;
}

DWORD SetupFileBuilder::BlockOffset(size_t i) const {
  DWORD offset = image_size_;
  for (size_t k = 0; k < i; ++k) offset += 22 + (DWORD)blocks_[k].data.size();
  return offset;
}

std::string SetupFileBuilder::Build() const {
  std::string out(image_size_, '\0');
  out[0] = 'M';
  out[1] = 'Z';
  PutLe32(out, 0x3C, 0x40);  // where a PE header would be; the container never looks at it
  if (!blocks_.empty()) {
    PutLe32(out, 0x28, image_size_);
    PutLe32(out, 0x2C, image_size_);
    PutLe32(out, 0x30, (DWORD)blocks_.size());
    PutLe32(out, 0x34, (DWORD)blocks_.size());
  }
  for (size_t i = 0; i < blocks_.size(); ++i) {
    const Entry& b = blocks_[i];
    std::string header(22, '\0');
    header[0] = 'W';
    header[1] = 'P';
    PutLe32(header, 2, 22 + (DWORD)b.data.size());
    PutLe32(header, 6, b.crc);
    PutLe32(header, 10, i + 1 < blocks_.size() ? BlockOffset(i + 1) : 0);
    header.replace(14, b.name.size() < 8 ? b.name.size() : 8, b.name.substr(0, 8));
    out += header;
    out += b.data;
  }
  out += trailer_;
  return out;
}
