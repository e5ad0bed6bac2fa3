/* The two path helpers. */
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "platform/win32.h"
#include "support/paths.h"

TEST(Paths, GetFileNamePartFindsTheLastSeparator) {
  const char* cases[][2] = {
      {"C:\\a\\b.txt", "b.txt"}, {"C:\\", ""}, {"C:", ""}, {"C:b", "b"},
      {"dir/", ""},              {"a/b\\c", "c"}, {"a\\b/c", "c"},
  };
  for (auto& c : cases) {
    const char* part = GetFileNamePart(c[0]);
    ASSERT_NE(part, nullptr) << c[0];
    EXPECT_STREQ(part, c[1]) << c[0];
    // The part always lies inside the path: callers cut the path at it.
    EXPECT_GE(part, c[0]);
    EXPECT_LE(part, c[0] + strlen(c[0]));
  }
  const char* plain = "b.txt";
  EXPECT_EQ(GetFileNamePart(plain), plain) << "no separator gives the path itself";
  const char* empty = "";
  EXPECT_EQ(GetFileNamePart(empty), empty);
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
  SetLastError(0);
  EXPECT_FALSE(JoinPath(out, folder.c_str(), "123456789"));
  EXPECT_STREQ(out, "") << "nothing half written";
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);
}
