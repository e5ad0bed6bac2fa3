/* The two path helpers. */
#include "support/paths.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "platform/win32.h"
#include "tests/support/win32_checks.h"

TEST(Paths, GetFileNamePartPointsPastTheLastSeparator) {
  // Callers cut the path where the part starts, so the part is checked by its place in the path.
  const struct {
    const char* path;
    ptrdiff_t part;
  } cases[] = {{"C:\\a\\b.txt", 5}, {"C:\\", 3},   {"C:", 2},    {"C:b", 2}, {"dir/", 4},
               {"a/b\\c", 4},       {"a\\b/c", 4}, {"b.txt", 0}, {"", 0}};
  for (auto& c : cases) EXPECT_EQ(GetFileNamePart(c.path) - c.path, c.part) << c.path;
  EXPECT_EQ(GetFileNamePart(static_cast<const char*>(nullptr)), nullptr);

  char folder[] = "C:\\Temp\\setup.exe";
  *GetFileNamePart(folder) = '\0';
  EXPECT_STREQ(folder, "C:\\Temp\\") << "the writable overload cuts the path in place";
}

TEST(Paths, StripTrailingBackslashRemovesOneBackslashOnly) {
  const char* cases[][2] = {
      {"C:\\Temp\\", "C:\\Temp"}, {"C:\\", "C:"}, {"C:\\Temp", "C:\\Temp"},
      {"C:\\a\\\\", "C:\\a\\"},   {"", ""},       {"C:\\Temp/", "C:\\Temp/"},
      {"\\", ""},
  };
  for (auto& c : cases) {
    char buffer[32];
    strcpy(buffer, c[0]);
    EXPECT_EQ(StripTrailingBackslash(buffer), buffer);
    EXPECT_STREQ(buffer, c[1]) << c[0];
  }
  EXPECT_EQ(StripTrailingBackslash(nullptr), nullptr);
}

TEST(Paths, JoinPathFitsMaxPathOrRefusesWithoutCutting) {
  char out[MAX_PATH];
  std::string folder(250, 'f');
  EXPECT_TRUE(JoinPath(out, folder.c_str(), "12345678"));  // 259 characters and the terminator
  EXPECT_EQ(std::string(out), folder + "\\12345678");
  EXPECT_TRUE(
      FAILS_WITH(JoinPath(out, folder.c_str(), "123456789"), false, ERROR_FILENAME_EXCED_RANGE));
  EXPECT_STREQ(out, "") << "nothing half written";
}
