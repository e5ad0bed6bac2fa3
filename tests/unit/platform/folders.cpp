/* Folders and whole files: making and removing folders, listings, copies, temporary names. */
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/win32.h"
#include "tests/support/child_process.h"
#include "tests/support/test_machine.h"
#include "tests/support/win32_checks.h"
#include "tests/unit/platform/file_helpers.h"

TEST(Folders, MadeOnceAndRemovedOnlyWhenEmpty) {
  TestMachine machine;
  const std::string dir = machine.Path("d"), file = dir + "\\f";
  EXPECT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  EXPECT_TRUE(FAILS_WITH(CreateDirectoryA(dir.c_str(), nullptr), FALSE, ERROR_ALREADY_EXISTS));
  ASSERT_TRUE(TestMachine::WriteBytes(file, "x"));
  EXPECT_TRUE(FAILS_WITH(CreateDirectoryA(file.c_str(), nullptr), FALSE, ERROR_ALREADY_EXISTS))
      << "a file is there";
  EXPECT_TRUE(FAILS_WITH(RemoveDirectoryA(dir.c_str()), FALSE, ERROR_DIR_NOT_EMPTY));
  EXPECT_TRUE(FAILS_WITH(RemoveDirectoryA(file.c_str()), FALSE, ERROR_DIRECTORY));
  ASSERT_TRUE(DeleteFileA(file.c_str()));
  EXPECT_TRUE(RemoveDirectoryA(dir.c_str()));
  EXPECT_FALSE(TestMachine::Exists(dir));
}

TEST(Folders, ListingsShowDotEntriesAndEndWithNoMoreFiles) {
  TestMachine machine;
  ASSERT_TRUE(CreateDirectoryA(machine.Path("sub").c_str(), nullptr));
  ASSERT_TRUE(TestMachine::WriteBytes(machine.Path("sub\\a.txt"), "a"));
  ASSERT_TRUE(TestMachine::WriteBytes(machine.Path("sub\\NoDot"), "bb"));
  ASSERT_TRUE(CreateDirectoryA(machine.Path("sub\\inner").c_str(), nullptr));
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(machine.Path("sub\\*.*").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  std::set<std::string> names;
  do {
    const std::string name = data.cFileName;
    names.insert(name);
    if (name == "NoDot" || name == "inner") {
      EXPECT_EQ(data.nFileSizeLow, name == "NoDot" ? 2u : 0u);
      EXPECT_EQ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, name == "inner");
    }
  } while (FindNextFileA(find, &data));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
  EXPECT_TRUE(FindClose(find));
  EXPECT_EQ(names, (std::set<std::string>{".", "..", "a.txt", "NoDot", "inner"}));

  EXPECT_TRUE(FAILS_WITH(FindFirstFileA(machine.Path("sub\\*.zip").c_str(), &data),
                         INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(FAILS_WITH(FindFirstFileA(machine.Path("none\\*.*").c_str(), &data),
                         INVALID_HANDLE_VALUE, ERROR_PATH_NOT_FOUND));
}

// Refused copies (onto a file held open: see Files.ShareModesOfTwoOpens) leave the target alone.
TEST(Folders, CopiesRespectExistingAndReadOnlyTargets) {
  TestMachine machine;
  const std::string from = machine.Path("from.txt"), to = machine.Path("to.txt");
  ASSERT_TRUE(TestMachine::WriteBytes(from, "fresh"));
  ASSERT_TRUE(TestMachine::WriteBytes(to, "old"));
  EXPECT_TRUE(FAILS_WITH(CopyFileA(from.c_str(), to.c_str(), TRUE), FALSE, ERROR_FILE_EXISTS));
  if (ReadOnlyIsEnforced(machine.Dir())) {
    ASSERT_TRUE(SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(FAILS_WITH(CopyFileA(from.c_str(), to.c_str(), FALSE), FALSE, ERROR_ACCESS_DENIED));
    ASSERT_TRUE(SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_NORMAL));
  }
  EXPECT_EQ(Read(to), "old");
  EXPECT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE));
  EXPECT_EQ(Read(to), "fresh");
}

TEST(Folders, TempNamesWithANumberAreOnlyFormed) {
  TestMachine machine;
  char name[MAX_PATH];
  EXPECT_EQ(GetTempFileNameA(machine.Dir().c_str(), "PWSX", 0x1234ABCD, name), 0xABCDu);
  EXPECT_EQ(lstrcmpiA(name, (machine.Dir() + "\\PWSABCD.tmp").c_str()), 0) << name;
  EXPECT_FALSE(TestMachine::Exists(name));
  char temp[MAX_PATH];
  DWORD length = GetTempPathA(sizeof temp, temp);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(temp[length - 1], '\\');
  EXPECT_EQ(GetTempPathA(2, temp), length + 1) << "the size needed";
}
