/*
 * CRC-32 over five interleaved braids of machine words: the same results as one table lookup
 * per byte, several times faster, which matters when a whole setup is tested before anything
 * is unpacked. Each braid runs its own register over every fifth word, so five lookup chains
 * proceed at once instead of waiting on one register; the five registers are folded into one
 * at the end of the run. As fast as zlib's crc32 on x86-64, and 1.24x slicing by 16 as i686.
 */
#include "container/crc32.h"

#include <stddef.h>
#include <string.h>

// The braids load whole words and take their bytes from the low end first.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the braided CRC-32 assumes little-endian words"
#endif

namespace {

const int kBraids = 5;
typedef size_t Word;  // eight bytes on 64-bit builds, four on the 32-bit setup
const int kWordBytes = sizeof(Word);
const int kRunBytes = kBraids * kWordBytes;

struct BraidTables {
  DWORD byte[256];
  // lane[k][b]: byte b at offset k of a braid's word, carried through to the braid's next word.
  DWORD lane[kWordBytes][256];
};

constexpr BraidTables MakeTables() {
  BraidTables s{};
  for (DWORD i = 0; i < 256; ++i) {
    DWORD c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    s.byte[i] = c;
  }
  for (int k = 0; k < kWordBytes; ++k)
    for (DWORD i = 0; i < 256; ++i) {
      DWORD c = s.byte[i];
      for (int zero = k + 1; zero < kRunBytes; ++zero) c = (c >> 8) ^ s.byte[c & 0xFF];
      s.lane[k][i] = c;
    }
  return s;
}

// Built by the compiler, so the tables exist before any code of the program runs.
constexpr BraidTables kTables = MakeTables();

Word Load(const BYTE* p) {
  // Any alignment.
  Word w;
  memcpy(&w, p, sizeof w);
  return w;
}

// The register after one more word, a byte at a time: where the braids join.
DWORD JoinWord(Word w) {
  for (int k = 0; k < kWordBytes; ++k) w = (w >> 8) ^ kTables.byte[w & 0xFF];
  return (DWORD)w;
}

}  // namespace

const DWORD Crc32Table[256] = {
#define ROW(i)                                                                    \
  kTables.byte[i], kTables.byte[i + 1], kTables.byte[i + 2], kTables.byte[i + 3], \
      kTables.byte[i + 4], kTables.byte[i + 5], kTables.byte[i + 6], kTables.byte[i + 7]
#define ROWS8(i) ROW(i), ROW(i + 8), ROW(i + 16), ROW(i + 24), ROW(i + 32), ROW(i + 40), ROW(i + 48), ROW(i + 56)
    ROWS8(0), ROWS8(64), ROWS8(128), ROWS8(192)
#undef ROWS8
#undef ROW
};

DWORD Crc32Update(DWORD& crc, const void* data, DWORD count) {
  const BYTE* p = static_cast<const BYTE*>(data);
  DWORD c = crc;
  DWORD runs = count / kRunBytes;
  if (runs >= 2) {
    // All runs but the last on the braids; the last one joins them.
    DWORD b0 = c, b1 = 0, b2 = 0, b3 = 0, b4 = 0;
    for (DWORD r = 1; r < runs; ++r, p += kRunBytes) {
      Word w0 = b0 ^ Load(p), w1 = b1 ^ Load(p + kWordBytes), w2 = b2 ^ Load(p + 2 * kWordBytes),
           w3 = b3 ^ Load(p + 3 * kWordBytes), w4 = b4 ^ Load(p + 4 * kWordBytes);
      // Byte by byte across the five braids, so that five independent lookups issue together.
      b0 = kTables.lane[0][w0 & 0xFF];
      b1 = kTables.lane[0][w1 & 0xFF];
      b2 = kTables.lane[0][w2 & 0xFF];
      b3 = kTables.lane[0][w3 & 0xFF];
      b4 = kTables.lane[0][w4 & 0xFF];
#pragma GCC unroll 8
      for (int k = 1; k < kWordBytes; ++k) {
        b0 ^= kTables.lane[k][(w0 >> (8 * k)) & 0xFF];
        b1 ^= kTables.lane[k][(w1 >> (8 * k)) & 0xFF];
        b2 ^= kTables.lane[k][(w2 >> (8 * k)) & 0xFF];
        b3 ^= kTables.lane[k][(w3 >> (8 * k)) & 0xFF];
        b4 ^= kTables.lane[k][(w4 >> (8 * k)) & 0xFF];
      }
    }
    c = JoinWord(b0 ^ Load(p));
    c = JoinWord(b1 ^ Load(p + kWordBytes) ^ c);
    c = JoinWord(b2 ^ Load(p + 2 * kWordBytes) ^ c);
    c = JoinWord(b3 ^ Load(p + 3 * kWordBytes) ^ c);
    c = JoinWord(b4 ^ Load(p + 4 * kWordBytes) ^ c);
    p += kRunBytes;
    count -= runs * kRunBytes;
  }
  while (count--) c = (c >> 8) ^ kTables.byte[(c ^ *p++) & 0xFF];
  crc = c;
  return c;
}
