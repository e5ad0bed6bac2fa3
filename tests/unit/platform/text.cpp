/* Texts through Win32: system error messages, wsprintfA, lstrcmpiA and the small string calls. */

#include <cstring>
#include <tuple>
#include <utility>

#include "tests/unit/platform/file_helpers.h"

namespace {

// FormatMessageA of a system message into a buffer it allocates: the text, or "" on failure.
std::string SystemMessage(DWORD id, DWORD* length = nullptr) {
  char* text = nullptr;
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, id, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0,
      nullptr);
  if (length) *length = n;
  const std::string result = text ? text : "";
  EXPECT_EQ(LocalFree(text), nullptr);
  return result;
}

std::string Format(const char* format, ...) {
  char out[1100];
  std::memset(out, '#', sizeof out);
  va_list args;
  va_start(args, format);
  int n = wvsprintfA(out, format, args);
  va_end(args);
  EXPECT_EQ(n, (int)std::strlen(out)) << format;
  return out;
}

}  // namespace

// The host layer must match Windows' wording; Wine words these differently ("Access denied.").
TEST(Text, SystemMessages) {
  const std::pair<DWORD, const char*> cases[] = {
      {0, "The operation completed successfully.\r\n"},
      {2, "The system cannot find the file specified.\r\n"},
      {3, "The system cannot find the path specified.\r\n"},
      {5, "Access is denied.\r\n"},
      {32, "The process cannot access the file because it is being used by another process.\r\n"},
      {87, "The parameter is incorrect.\r\n"},
      {112, "There is not enough space on the disk.\r\n"},
      {183, "Cannot create a file when that file already exists.\r\n"},
      {1223, "The operation was canceled by the user.\r\n"},
#ifndef _WIN32
      {6, "The handle is invalid.\r\n"},
      {8, "Not enough memory resources are available to process this command.\r\n"},
      {14, "Not enough memory resources are available to complete this operation.\r\n"},
      {19, "The media is write protected.\r\n"},
      {21, "The device is not ready.\r\n"},
      {39, "The disk is full.\r\n"},
      {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
      {206, "The filename or extension is too long.\r\n"},
      {1006,
       "The volume for a file has been externally altered so that the opened file is no "
       "longer valid.\r\n"},
      {1392, "The file or directory is corrupted and unreadable.\r\n"},
      {0x80004005, "Unspecified error\r\n"},
      {0x8000FFFF, "Catastrophic failure\r\n"},
#endif
  };
  for (const auto& [id, windows] : cases) {
    DWORD length = 0;
    std::string text = SystemMessage(id, &length);
    ASSERT_FALSE(text.empty()) << id;
    EXPECT_EQ(length, (DWORD)text.size()) << id;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << id;
    if (id < 0x10000) {
      EXPECT_EQ(SystemMessage(0x80070000u | id), text) << "the HRESULT of Win32 code " << id;
    }
    EXPECT_EQ(text, kWine ? text : windows);
  }
  for (DWORD unknown : {0x12345u, 0x80070000u | 9999u}) {
    DWORD length = 1;
    EXPECT_TRUE(FAILS_WITH(SystemMessage(unknown, &length), "", ERROR_MR_MID_NOT_FOUND)) << unknown;
    EXPECT_EQ(length, 0u);
  }

  // Into the caller's buffer: the same text when it fits, nothing when it does not.
  const DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  const std::string expected = SystemMessage(ERROR_ACCESS_DENIED);
  char buf[256];
  EXPECT_EQ(FormatMessageA(kFlags, nullptr, 5, 0, buf, sizeof buf, nullptr), expected.size());
  EXPECT_EQ(std::string(buf), expected);
  EXPECT_TRUE(FAILS_WITH(FormatMessageA(kFlags, nullptr, 5, 0, buf, 5, nullptr), 0u,
                         ERROR_INSUFFICIENT_BUFFER));
}

TEST(Text, WsprintfFormats) {
  EXPECT_EQ(Format("%d|%i|%u|%x|%X|%c|%s|%%", -42, 7, 3000000000u, 0xbeef, 0xBEEF, 'z', "str"),
            "-42|7|3000000000|beef|BEEF|z|str|%");
  EXPECT_EQ(Format("[%5d][%-5d][%05d][%.5d][%-05d]", 42, 42, -42, -42, 42),
            "[   42][42   ][-0042][-0042][42   ]");
  EXPECT_EQ(Format("[%#x][%#X][%#6x][%#x][%08X]", 255, 255, 0x1f, 0, 0x1234),
            "[0xff][0XFF][    0x1f][0x0][00001234]");
  EXPECT_EQ(
      Format("[%.3s][%5s][%-5s][%.0s][%s]", "abcdef", "ab", "ab", "whole", (const char*)nullptr),
      "[abc][   ab][ab   ][whole][(null)]");
  EXPECT_EQ(Format("[%3c][%-3c]", 'a', 'b'), "[  a][b  ]");
  EXPECT_EQ(Format("%lu %ld %lx %hu", (DWORD)4000000000u, (LONG)-5, (DWORD)0xABCDEF, 65535),
            "4000000000 -5 abcdef 65535");
  EXPECT_EQ(Format("%I64d %I64u %I64x", -5ll, 18446744073709551615ull, 0x123456789abull),
            "-5 18446744073709551615 123456789ab");
  EXPECT_EQ(Format("%y%"), "y") << "not a conversion: the character as it is";
  EXPECT_EQ(Format("%d", (int)0x80000000u), "-2147483648");

  // The output stops at 1023 characters and a NUL, even inside a number.
  char out[2048];
  std::memset(out, '#', sizeof out);
  int n = wsprintfA(out, "%s", std::string(1500, 'a').c_str());
  EXPECT_EQ(std::strlen(out), 1023u);
  EXPECT_EQ(out[1024], '#') << "nothing written past the 1024 bytes";
  // Windows answers what it stored; Wine answers 1024, one more.
  EXPECT_TRUE(n == 1023 || (kWine && n == 1024)) << n;
  wsprintfA(out, "%s%d", std::string(1020, 'b').c_str(), 12345);
  EXPECT_EQ(std::string(out + 1020), "123");
  EXPECT_EQ(Format("%s", std::string(1022, 'c').c_str()), std::string(1022, 'c'));
}

TEST(Text, CompareWithoutCaseLengthsAndCharNext) {
  auto expectAll = [](std::initializer_list<std::tuple<const char*, const char*, int>> cases) {
    for (auto [a, b, expected] : cases)
      EXPECT_EQ(lstrcmpiA(a, b), expected)
          << testing::PrintToString(a) << " vs " << testing::PrintToString(b);
  };
  expectAll({{"abc", "ABC", 0},       {"a", "B", -1},         {"B", "a", 1},
             {"abc", "abcd", -1},     {"abcd", "abc", 1},     {"", "", 0},
             {"", "a", -1},           {"_", "a", -1},         {"1", "a", -1},
             {"[", "a", -1},          {"Z", "_", 1},          {"a b", "ab", -1},
             {".", "a", -1},          {"A.txt", "a_txt", -1}, {"a-b", "ab", 1},
             {"ab", "a-b", -1},       {"co-op", "coop", 1},   {"SETUP.EXE", "setup.exe", 0},
             {"file10", "file9", -1}, {nullptr, nullptr, 0},  {nullptr, "a", -1},
             {"a", nullptr, 1},       {nullptr, "", -1}});
  // In the host's Windows-1252 an accent counts only after the letters; a-grave sorts with a.
  if (!kWine)
    expectAll({{"\xe9", "\xc9", 0},
               {"\xe9", "E", 1},
               {"a", "\xe0", -1},
               {"z", "\xe0", 1},
               {"\xe9t\xe9", "ETE", 1},
               {"\xe9t\xe9z", "ETEA", 1},
               {"\xe9t\xe9\x61", "ETEZ", -1}});

  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_EQ(lstrlenA("setup"), 5);
  const char* text = "ab";
  EXPECT_EQ(CharNextA(text + 1), text + 2);
  EXPECT_EQ(CharNextA(text + 2), text + 2) << "the terminating zero is not passed";
}
