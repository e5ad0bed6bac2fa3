/* CRC-32: the table, the check values, and results that do not depend on how data is cut. */
#include <gtest/gtest.h>

#include <string>

#include "container/crc32.h"
#include "tests/support/setup_file_builder.h"

namespace {

DWORD Crc(const std::string& s) {
  DWORD reg = 0xFFFFFFFF;
  Crc32Update(reg, s.data(), (DWORD)s.size());
  return ~reg;
}

}  // namespace

TEST(Crc32, TableCheckValuesAndAnyCutOrAlignment) {
  for (DWORD i = 0; i < 256; ++i) {
    DWORD c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    ASSERT_EQ(Crc32Table[i], c) << i;
  }
  DWORD reg = 0x12345678;
  EXPECT_EQ(Crc32Update(reg, "x", 0), 0x12345678u) << "no bytes leave the register as it is";
  EXPECT_EQ(reg, 0x12345678u);

  EXPECT_EQ(Crc("123456789"), 0xCBF43926u);
  EXPECT_EQ(Crc("abc"), 0x352441C2u);
  EXPECT_EQ(Crc(""), 0u);
  EXPECT_EQ(Crc(std::string(1, '\0')), 0xD202EF8Du);

  std::string data;
  DWORD seed = 1;
  for (int i = 0; i < 5000; ++i) {
    seed = seed * 1103515245u + 12345u;
    data += (char)(seed >> 23);
  }
  const DWORD whole = ReferenceCrc32(data);
  EXPECT_EQ(Crc(data), whole);

  for (size_t piece = 1; piece <= 19; ++piece) {
    reg = 0xFFFFFFFF;
    for (size_t at = 0; at < data.size(); at += piece) {
      DWORD returned = Crc32Update(reg, data.data() + at, (DWORD)std::min(piece, data.size() - at));
      ASSERT_EQ(returned, reg) << "the result is also stored back";
    }
    EXPECT_EQ(~reg, whole) << "pieces of " << piece;
  }
  // Every start alignment, every short tail, and where the braids begin and join.
  for (size_t start = 0; start < 8; ++start)
    for (size_t length = 0; length < 130; ++length)
      ASSERT_EQ(Crc(data.substr(start, length)), ReferenceCrc32(data.substr(start, length)))
          << start << "+" << length;
}
