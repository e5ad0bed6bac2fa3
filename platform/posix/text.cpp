/*
 * Strings in the ANSI code page, which on the simulated machine is Windows-1252: case folding,
 * lstrcmpiA's linguistic order, lstrlenA, CharNextA and the wsprintfA formatter.
 */
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/posix/machine.h"

namespace winsim {
namespace detail {

unsigned char FoldUpper1252(unsigned char c) {
  if (c >= 'a' && c <= 'z') return (unsigned char)(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return (unsigned char)(c - 32);
  switch (c) {
    case 0x9A:
      return 0x8A;  // s caron
    case 0x9C:
      return 0x8C;  // oe
    case 0x9E:
      return 0x8E;  // z caron
    case 0xFF:
      return 0x9F;  // y diaeresis
    default:
      return c;
  }
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldUpper1252((unsigned char)a[i]) != FoldUpper1252((unsigned char)b[i])) return false;
  return true;
}

}  // namespace detail
}  // namespace winsim

namespace {

/* ---- lstrcmpiA: Windows' word sort, case ignored ---- */

// Windows sorts punctuation and symbols first (in its own order, not ASCII's), then digits,
// then letters; accents count only when the letters are otherwise equal; hyphen and apostrophe
// count only when everything else is equal.
const char kSymbolOrder[] = " !\"#$%&()*,./:;?@[\\]^_`{|}~+<=>";

enum Class { kSymbol = 1, kDigit = 2, kLetter = 3 };

struct Weight {
  int cls;
  int primary;
  int accent;
};

// Letters of Windows-1252 beyond ASCII: the base letter(s) they sort as, and an accent rank.
struct Latin {
  unsigned char c;
  const char* base;
  int accent;
};
const Latin kLatin[] = {
    {0x83, "F", 9},  {0x8A, "S", 5},  {0x8C, "OE", 0}, {0x8E, "Z", 5}, {0x9A, "S", 5},
    {0x9C, "OE", 0}, {0x9E, "Z", 5},  {0x9F, "Y", 4},  {0xC0, "A", 2}, {0xC1, "A", 1},
    {0xC2, "A", 3},  {0xC3, "A", 6},  {0xC4, "A", 4},  {0xC5, "A", 7}, {0xC6, "AE", 0},
    {0xC7, "C", 8},  {0xC8, "E", 2},  {0xC9, "E", 1},  {0xCA, "E", 3}, {0xCB, "E", 4},
    {0xCC, "I", 2},  {0xCD, "I", 1},  {0xCE, "I", 3},  {0xCF, "I", 4}, {0xD0, "D", 10},
    {0xD1, "N", 6},  {0xD2, "O", 2},  {0xD3, "O", 1},  {0xD4, "O", 3}, {0xD5, "O", 6},
    {0xD6, "O", 4},  {0xD8, "O", 11}, {0xD9, "U", 2},  {0xDA, "U", 1}, {0xDB, "U", 3},
    {0xDC, "U", 4},  {0xDD, "Y", 1},  {0xDF, "SS", 0},
};

struct SortKey {
  std::vector<Weight> main;
  std::vector<std::pair<size_t, unsigned char>> special;  // hyphens and apostrophes
};

SortKey KeyOf(const char* s) {
  SortKey key;
  for (size_t i = 0; s[i]; ++i) {
    unsigned char c = winsim::detail::FoldUpper1252((unsigned char)s[i]);
    if (c < 0x20 || c == 0x7F) continue;  // control characters weigh nothing
    if (c == '-' || c == '\'' || c == 0xAD) {
      key.special.push_back({i, c});
      continue;
    }
    if (c >= '0' && c <= '9') {
      key.main.push_back({kDigit, c, 0});
      continue;
    }
    if (c >= 'A' && c <= 'Z') {
      key.main.push_back({kLetter, c, 0});
      continue;
    }
    if (c == 0xDE) {  // thorn sorts after z
      key.main.push_back({kLetter, 'Z' + 1, 0});
      continue;
    }
    bool letter = false;
    for (const Latin& l : kLatin)
      if (l.c == c) {
        for (const char* b = l.base; *b; ++b) key.main.push_back({kLetter, *b, l.accent});
        letter = true;
        break;
      }
    if (letter) continue;
    const char* at = c < 0x80 ? std::strchr(kSymbolOrder, c) : nullptr;
    key.main.push_back({kSymbol, at ? (int)(at - kSymbolOrder) : 256 + c, 0});
  }
  return key;
}

template <typename T, typename Less>
int CompareSeq(const std::vector<T>& a, const std::vector<T>& b, Less less) {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (less(a[i], b[i])) return -1;
    if (less(b[i], a[i])) return 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

/* ---- wsprintfA ---- */

// 1252's characters in 0x80-0x9F, by their Unicode code point, for wide arguments.
const uint16_t k1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char AnsiOfWide(uint16_t w) {
  if (w < 0x80 || (w >= 0xA0 && w <= 0xFF)) return (char)w;
  for (int i = 0; i < 32; ++i)
    if (k1252High[i] == w) return (char)(0x80 + i);
  return '?';
}

// The 1024-byte output limit of wsprintfA, with room for the NUL.
constexpr size_t kMaxOut = 1023;

struct Out {
  char* buf;
  size_t n = 0;
  void Put(char c) {
    if (n < kMaxOut) buf[n++] = c;
  }
  void Pad(long count, char c) {
    for (long i = 0; i < count; ++i) Put(c);
  }
};

enum Size { kInt, kShort, kLong, kWide, kPtr, kI64 };

}  // namespace

extern "C" int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) {
  if (!a && !b) return 0;
  if (!a) return -1;
  if (!b) return 1;
  SortKey ka = KeyOf(a), kb = KeyOf(b);
  int r = CompareSeq(ka.main, kb.main, [](const Weight& x, const Weight& y) {
    return x.cls != y.cls ? x.cls < y.cls : x.primary < y.primary;
  });
  if (r == 0)
    r = CompareSeq(ka.main, kb.main,
                   [](const Weight& x, const Weight& y) { return x.accent < y.accent; });
  if (r == 0) r = CompareSeq(ka.special, kb.special, std::less<std::pair<size_t, unsigned char>>());
  return r;
}

extern "C" int WINAPI lstrlenA(LPCSTR text) { return text ? (int)std::strlen(text) : 0; }

extern "C" LPSTR WINAPI CharNextA(LPCSTR text) {
  if (!text) return nullptr;
  return const_cast<LPSTR>(*text ? text + 1 : text);
}

extern "C" int WINAPI wvsprintfA(LPSTR buffer, LPCSTR format, va_list arguments) {
  va_list args;
  va_copy(args, arguments);
  Out out{buffer};
  const char* p = format ? format : "";
  while (*p && out.n < kMaxOut) {
    if (*p != '%') {
      out.Put(*p++);
      continue;
    }
    ++p;
    if (*p == '%') {
      out.Put(*p++);
      continue;
    }
    // [-][#][0][width][.precision][size]type, the flags in this order only, as Windows reads them
    bool left = false, prefix = false, zero = false;
    long width = 0, precision = 0;
    if (*p == '-') left = true, ++p;
    if (*p == '#') prefix = true, ++p;
    if (*p == '0') zero = true, ++p;
    while (*p >= '0' && *p <= '9' && width < 100000) width = width * 10 + (*p++ - '0');
    while (*p >= '0' && *p <= '9') ++p;
    if (*p == '.') {
      ++p;
      while (*p >= '0' && *p <= '9' && precision < 100000)
        precision = precision * 10 + (*p++ - '0');
      while (*p >= '0' && *p <= '9') ++p;
    }
    Size size = kInt;
    if (*p == 'l')
      size = kLong, ++p;
    else if (*p == 'h')
      size = kShort, ++p;
    else if (*p == 'w')
      size = kWide, ++p;
    else if (*p == 'I') {
      if (p[1] == '6' && p[2] == '4')
        size = kI64, p += 3;
      else if (p[1] == '3' && p[2] == '2')
        p += 3;
      else
        size = kPtr, ++p;
    }
    if (left) zero = false;
    char type = *p;
    bool upper = false;
    switch (type) {
      case 'c':
      case 'C': {
        bool wide = type == 'c' ? size == kLong : size != kShort;
        int value = va_arg(args, int);
        char c = wide ? AnsiOfWide((uint16_t)value) : (char)value;
        if (!left) out.Pad(width - 1, ' ');
        out.Put(c);
        if (left) out.Pad(width - 1, ' ');
        ++p;
        continue;
      }
      case 's':
      case 'S': {
        bool wide = type == 's' ? (size == kLong || size == kWide) : size != kShort;
        std::string text;
        if (wide) {
          const uint16_t* w = va_arg(args, const uint16_t*);
          if (!w) text = "(null)";
          for (; w && *w && (!precision || (long)text.size() < precision); ++w)
            text += AnsiOfWide(*w);
        } else {
          const char* s = va_arg(args, const char*);
          if (!s) s = "(null)";
          // A precision of 0 means the whole string, as it does for Windows.
          size_t len = 0;
          while (s[len] && (!precision || (long)len < precision)) ++len;
          text.assign(s, len);
        }
        if (!left) out.Pad(width - (long)text.size(), ' ');
        for (char c : text) out.Put(c);
        if (left) out.Pad(width - (long)text.size(), ' ');
        ++p;
        continue;
      }
      case 'p':
        width = 2 * (long)sizeof(void*);
        zero = !left;
        size = kPtr;
        upper = true;
        break;
      case 'X':
        upper = true;
        break;
      case 'd':
      case 'i':
      case 'u':
      case 'x':
        break;
      default:
        // Not a conversion: the character is printed as it is, after any padding.
        if (!left) out.Pad(width - precision, ' ');
        continue;
    }
    ++p;
    // The number, read at the size the prefix gave.
    long long sv = 0;
    unsigned long long uv = 0;
    if (size == kPtr) {
      intptr_t v = va_arg(args, intptr_t);
      sv = v;
      uv = (uintptr_t)v;
    } else if (size == kI64) {
      sv = va_arg(args, long long);
      uv = (unsigned long long)sv;
    } else {
      int v = va_arg(args, int);
      sv = v;
      uv = (unsigned)v;
    }
    char digits[24];
    int nd = 0;
    bool negative = (type == 'd' || type == 'i') && sv < 0;
    unsigned long long mag = negative ? 0ull - (unsigned long long)sv : uv;
    if (negative && size != kI64 && size != kPtr) mag = (unsigned)mag;
    unsigned base = (type == 'x' || type == 'X' || type == 'p') ? 16 : 10;
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
      digits[nd++] = set[mag % base];
      mag /= base;
    } while (mag);
    bool hexPrefix = prefix && base == 16;
    long len = nd + (negative ? 1 : 0);  // the number as written, sign included
    long field = precision > len ? precision : len;
    if (zero && width > field) field = width;
    if (!left) out.Pad(width - field, ' ');
    if (hexPrefix) {
      out.Put('0');
      out.Put(upper ? 'X' : 'x');
    }
    if (negative) out.Put('-');
    out.Pad(field - len, '0');
    while (nd > 0) out.Put(digits[--nd]);
    if (left) out.Pad(width - field, ' ');
  }
  va_end(args);
  out.buf[out.n] = '\0';
  return (int)out.n;
}

extern "C" int WINAPIV wsprintfA(LPSTR buffer, LPCSTR format, ...) {
  va_list args;
  va_start(args, format);
  int n = wvsprintfA(buffer, format, args);
  va_end(args);
  return n;
}
