/* File names that the setup installs exactly as they are packed, or refusals that say why not. */
#include "tools/pwpack/file_names.h"

#include <map>

#include "container/file_sink.h"

namespace pwpack {

namespace {

// Windows-1252's bytes 0x80 to 0x9F; 0 where the code page leaves the byte undefined.
const char32_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                            0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// The next code point of utf8 from at (advanced past it); false for bytes that are not UTF-8.
bool NextCodePoint(const std::string& utf8, size_t* at, char32_t* c) {
  unsigned char b = (unsigned char)utf8[*at];
  int more = b < 0x80             ? 0
             : (b & 0xE0) == 0xC0 ? 1
             : (b & 0xF0) == 0xE0 ? 2
             : (b & 0xF8) == 0xF0 ? 3
                                  : -1;
  if (more < 0 || *at + more >= utf8.size()) return false;
  *c = more == 0 ? b : b & (0x3F >> more);
  for (int i = 1; i <= more; ++i) {
    unsigned char n = (unsigned char)utf8[*at + i];
    if ((n & 0xC0) != 0x80) return false;
    *c = (*c << 6) | (n & 0x3F);
  }
  static const char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
  if (*c < kLeast[more] || *c > 0x10FFFF || (*c >= 0xD800 && *c <= 0xDFFF)) return false;
  *at += more + 1;
  return true;
}

}  // namespace

bool ToWindows1252(const std::string& utf8, std::string* cp1252) {
  cp1252->clear();
  for (size_t at = 0; at < utf8.size();) {
    char32_t c = 0;
    if (!NextCodePoint(utf8, &at, &c)) return false;
    int byte = c < 0x80 || (c >= 0xA0 && c <= 0xFF) ? (int)c : -1;
    for (int i = 0; i < 32 && byte < 0; ++i)
      if (kHigh[i] == c && c != 0) byte = 0x80 + i;
    if (byte < 0) return false;
    *cp1252 += (char)byte;
  }
  return true;
}

std::string NameProblem(const std::string& name) {
  if (name.size() > 254) return "a name longer than 254 bytes";
  if (name.find('\0') != std::string::npos || !IsPlainFileName(name.c_str()))
    return "Windows forbids this name or would store it under another (a forbidden character, "
           "a final dot or blank, a device name)";
  return "";
}

std::string CaseKey(const std::string& name) {
  std::string key = name;
  for (char& ch : key) {
    unsigned char c = (unsigned char)ch;
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
      c -= 0x20;
    else if (c == 0x9A || c == 0x9C || c == 0x9E)
      c -= 0x10;  // š œ ž
    else if (c == 0xFF)
      c = 0x9F;  // ÿ
    ch = (char)c;
  }
  return key;
}

std::string CheckFolderNames(const std::vector<std::string>& utf8,
                             std::vector<std::string>* cp1252) {
  std::map<std::string, std::string> seen;  // case key -> the name that has it
  cp1252->clear();
  for (const std::string& name : utf8) {
    std::string bytes;
    if (!ToWindows1252(name, &bytes))
      return "'" + name + "': the target's code page (Windows-1252) cannot hold this name";
    std::string problem = NameProblem(bytes);
    if (!problem.empty()) return "'" + name + "': " + problem;
    auto other = seen.emplace(CaseKey(bytes), name);
    if (!other.second)
      return "'" + name + "' and '" + other.first->second +
             "' differ only in case: Windows would store them as one file";
    cp1252->push_back(bytes);
  }
  return "";
}

}  // namespace pwpack
