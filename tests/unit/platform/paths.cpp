/* Windows paths: the spellings that name one file, the names every file call refuses alike and,
 * on the host, how drives, the current folder and the host's own spellings map to host paths. */

#include <fcntl.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

#include "tests/unit/platform/file_helpers.h"

TEST(Paths, SpellingsOfOneFile) {
  TestMachine machine;
  ASSERT_TRUE(CreateDirectoryA(machine.Path("SubDir").c_str(), nullptr));
  ASSERT_TRUE(TestMachine::WriteBytes(machine.Path("SubDir\\MixedCase.TXT"), "mixed"));
  for (const char* spelling :
       {"\\subdir\\mixedcase.txt", "\\SUBDIR\\MIXEDCASE.TXT", "/SubDir/MixedCase.TXT",
        "\\.\\SubDir\\.\\x\\..\\MixedCase.TXT", "\\SubDir\\\\MixedCase.TXT",
        "\\SubDir\\MixedCase.TXT...", "\\SubDir\\MixedCase.TXT  ", "\\SubDir.\\MixedCase.TXT"})
    EXPECT_EQ(Read(machine.Dir() + spelling), "mixed") << spelling;
  // Writing through another spelling reaches the same file rather than making a second one.
  ASSERT_TRUE(TestMachine::WriteBytes(machine.Path("SUBDIR\\mixedCASE.txt"), "rewritten"));
  EXPECT_EQ(Read(machine.Path("SubDir\\MixedCase.TXT")), "rewritten");
}

// Each file call refuses these names with one error; creating ones too, bar a missing last name.
TEST(Paths, NamesEveryCallRefusesAlike) {
  TestMachine machine;
  ASSERT_TRUE(TestMachine::WriteBytes(machine.Path("plain"), "x"));
  const std::string other = machine.Path("other");
  MoveFileExAFn move = LookUpMoveFileEx();
  ASSERT_NE(move, nullptr);
  const std::pair<std::string, DWORD> cases[] = {
      {"none", ERROR_FILE_NOT_FOUND},     {"none\\x", ERROR_PATH_NOT_FOUND},
      {"plain\\x", ERROR_PATH_NOT_FOUND}, {"a<b", ERROR_INVALID_NAME},
      {"a>b", ERROR_INVALID_NAME},        {"a|b", ERROR_INVALID_NAME},
      {"a\"b", ERROR_INVALID_NAME},       {"a?b", ERROR_INVALID_NAME},
      {"a*b", ERROR_INVALID_NAME},        {std::string(300, 'n'), ERROR_FILENAME_EXCED_RANGE}};
  for (const auto& [name, error] : cases) {
    SCOPED_TRACE(name);
    const std::string path = machine.Path(name);
    const char* p = path.c_str();
    EXPECT_TRUE(OpenFails(path, GENERIC_READ, kShareAll, OPEN_EXISTING, error));
    EXPECT_TRUE(FAILS_WITH(GetFileAttributesA(p), INVALID_FILE_ATTRIBUTES, error));
    EXPECT_TRUE(FAILS_WITH(SetFileAttributesA(p, FILE_ATTRIBUTE_NORMAL), FALSE, error));
    EXPECT_TRUE(FAILS_WITH(DeleteFileA(p), FALSE, error));
    EXPECT_TRUE(FAILS_WITH(RemoveDirectoryA(p), FALSE, error));
    EXPECT_TRUE(FAILS_WITH(CopyFileA(p, other.c_str(), FALSE), FALSE, error));
    EXPECT_TRUE(FAILS_WITH(move(p, other.c_str(), 0), FALSE, error));
    if (error == ERROR_FILE_NOT_FOUND) {
      EXPECT_TRUE(FAILS_WITH(GetShortPathNameA(p, nullptr, 0), 0u, error));
      continue;
    }
    EXPECT_TRUE(OpenFails(path, GENERIC_WRITE, 0, CREATE_ALWAYS, error));
    EXPECT_TRUE(FAILS_WITH(CreateDirectoryA(p, nullptr), FALSE, error));
  }
  EXPECT_TRUE(OpenFails("", GENERIC_READ, 0, OPEN_EXISTING, ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(TestMachine::Exists(other));
}

#ifndef _WIN32

TEST(PathsHost, DrivesCurrentFolderAndHostSpellings) {
  TestMachine machine;
  const std::string c = machine.Root() + "/drive_c/pwtest";
  EXPECT_EQ(winsim::HostPath("c:\\PWTEST\\new.txt"), c + "/new.txt")
      << "existing components take their real spelling, a new one keeps the given one";
  EXPECT_EQ(winsim::HostPath(machine.Path("a\\..\\b").c_str()), c + "/b");
  EXPECT_EQ(winsim::HostPath("\\\\?\\C:\\pwtest"), c);
  EXPECT_EQ(winsim::HostPath("\\\\server\\share\\x"), "") << "no network";
  EXPECT_EQ(winsim::HostPath("C:\\a|b"), "");

  EXPECT_TRUE(FAILS_WITH(CreateDirectoryA("D:\\data", nullptr), FALSE, ERROR_PATH_NOT_FOUND))
      << "no drive D: yet";
  machine.AddDrive('D');
  EXPECT_TRUE(CreateDirectoryA("d:\\data", nullptr));
  EXPECT_TRUE(TestMachine::Exists("Z:" + machine.Root() + "/drive_d/data"));

  // Z: is the host's root unless the machine has a drive_z; without a machine, the only drive.
  EXPECT_EQ(winsim::HostPath("Z:\\tmp"), "/tmp");
  EXPECT_EQ(winsim::HostPath("z:/"), "/");
  EXPECT_EQ(GetFileAttributesA("Z:\\"), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
  unsetenv("WINSIM_ROOT");
  EXPECT_TRUE(
      FAILS_WITH(GetFileAttributesA("C:\\WINDOWS"), INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA("Z:\\tmp"), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
  setenv("WINSIM_ROOT", machine.Root().c_str(), 1);
  machine.AddDrive('z');
  EXPECT_EQ(winsim::HostPath("Z:\\tmp"), machine.Root() + "/drive_z/tmp");

  // Relative paths use the current folder.
  ASSERT_TRUE(TestMachine::WriteBytes(machine.Path("rel.txt"), "relative"));
  setenv("WINSIM_CWD", "c:\\PwTest", 1);
  for (const char* relative : {"rel.txt", ".\\sub\\..\\rel.txt", "C:rel.txt", "\\pwtest\\rel.txt"})
    EXPECT_EQ(Read(relative), "relative") << relative;
  machine.AddDrive('e');
  EXPECT_EQ(winsim::HostPath("E:x"), machine.Root() + "/drive_e/x") << "another drive's root";
  // 259 characters in all is the longest full path, however short the given one.
  const size_t room = 259 - machine.Dir().size() - 1;
  EXPECT_TRUE(TestMachine::WriteBytes(std::string(room, 'x'), "edge"));
  EXPECT_TRUE(OpenFails(std::string(room + 1, 'y'), GENERIC_WRITE, 0, CREATE_ALWAYS,
                        ERROR_FILENAME_EXCED_RANGE));
  unsetenv("WINSIM_CWD");
  EXPECT_EQ(winsim::HostPath("pwtest\\rel.txt"), machine.Root() + "/drive_c/pwtest/rel.txt")
      << "C:\\ by default";

  // Names the layer refuses, and Windows-1252 letters it folds.
  for (const char* bad : {"C:\\pwtest\\a:b", "C:\\pwtest\\a\x01", "C:\\pw\ttest\\x"})
    EXPECT_TRUE(FAILS_WITH(GetFileAttributesA(bad), INVALID_FILE_ATTRIBUTES, ERROR_INVALID_NAME));

  ASSERT_TRUE(TestMachine::WriteBytes(machine.Path("\xC9t\xE9.txt"), "summer"));
  EXPECT_EQ(Read(machine.Path("\xE9T\xC9.TXT")), "summer");

  // Where the host has two spellings, the exact one wins, else the first in byte order.
  std::ofstream(machine.HostPathOfC(machine.Path("abc")), std::ios::binary) << "lower";
  std::ofstream(machine.HostPathOfC(machine.Path("ABC")), std::ios::binary) << "upper";
  EXPECT_EQ(Read(machine.Path("abc")), "lower");
  EXPECT_EQ(Read(machine.Path("ABC")), "upper");
  EXPECT_EQ(Read(machine.Path("Abc")), "upper");
}

// Names looked up without regard to case follow changes that bypass this process's layer, as
// another process's would: made, renamed, removed, and the whole folder replaced.
TEST(PathsHost, SpellingsFollowChangesMadeElsewhere) {
  TestMachine machine;
  const std::string dir = machine.Root() + "/drive_c/pwtest", moved = dir + ".old";
  const std::string late = machine.Path("LATE.TXT"), later = machine.Path("later.TXT");
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(GetFileAttributesA(late.c_str()), INVALID_FILE_ATTRIBUTES) << round;
    std::ofstream(dir + "/Late.txt") << "made";
    EXPECT_EQ(Read(late), "made") << round;
    ASSERT_EQ(std::rename((dir + "/Late.txt").c_str(), (dir + "/Later.txt").c_str()), 0);
    EXPECT_EQ(GetFileAttributesA(late.c_str()), INVALID_FILE_ATTRIBUTES) << round;
    EXPECT_EQ(Read(later), "made") << round;
    std::ofstream(dir + "/other") << "other";
    ASSERT_EQ(renameat2(AT_FDCWD, (dir + "/Later.txt").c_str(), AT_FDCWD, (dir + "/other").c_str(),
                        RENAME_EXCHANGE),
              0);
    EXPECT_EQ(Read(later) + Read(machine.Path("OTHER")), "othermade") << "names swapped, both kept";
    ASSERT_EQ(std::remove((dir + "/Later.txt").c_str()), 0);
    EXPECT_EQ(GetFileAttributesA(later.c_str()), INVALID_FILE_ATTRIBUTES) << round;
    ASSERT_EQ(std::remove((dir + "/other").c_str()), 0);
    // The second round runs in a new folder under the same path.
    std::filesystem::rename(dir, moved);
    std::filesystem::create_directory(dir);
  }
}

#endif
