/* MappedFile: the whole file in one view, shared for reading, released on every way out. */
#include "container/mapped_file.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/support/test_machine.h"
#include "tests/support/win32_checks.h"
#ifndef _WIN32
#include "platform/posix/winsim.h"
#endif

namespace {

unsigned long long Ticks(const FILETIME& t) {
  return ((unsigned long long)t.dwHighDateTime << 32) | t.dwLowDateTime;
}

// A handle of another opener of path (INVALID_HANDLE_VALUE when refused).
HANDLE OpenOther(const std::string& path, DWORD access, DWORD share) {
  return CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

bool HoldsNothing(const MappedFile& file) { return !file.View() && !file.Size(); }

class MappedFileTest : public ::testing::Test {
 protected:
  std::string Make(const std::string& name, const std::string& bytes) {
    std::string path = machine.Path(name);
    EXPECT_TRUE(TestMachine::WriteBytes(path, bytes));
    return path;
  }
  TestMachine machine;
};

}  // namespace

TEST_F(MappedFileTest, AReadOnlyMappingShowsTheWholeFileAndSharesItForReadingOnly) {
  std::string content(100000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = (char)(i * 7);
  std::string path = Make("setup.exe", content);

  MappedFile file;
  ASSERT_TRUE(file.Open(path.c_str(), GENERIC_READ, OPEN_EXISTING));
  ASSERT_NE(file.View(), nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.View()), file.Size()), content);
  EXPECT_FALSE(file.Writable());

  HANDLE reader = OpenOther(path, GENERIC_READ, FILE_SHARE_READ);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "others may read";
  CloseHandle(reader);
  EXPECT_TRUE(FAILS_WITH(OpenOther(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE),
                         INVALID_HANDLE_VALUE, ERROR_SHARING_VIOLATION))
      << "nobody may write";
  EXPECT_FALSE(DeleteFileA(path.c_str())) << "nor delete";

  const BYTE* view = file.View();
  EXPECT_FALSE(file.Open(Make("other.bin", "other").c_str(), GENERIC_READ, OPEN_EXISTING));
  EXPECT_EQ(file.View(), view);
  EXPECT_EQ(file.Size(), content.size());

  EXPECT_TRUE(file.Close());
  EXPECT_TRUE(HoldsNothing(file));
  EXPECT_TRUE(file.Close()) << "closing an object that holds nothing succeeds";
  EXPECT_TRUE(DeleteFileA(path.c_str())) << "everything was released";
}

TEST_F(MappedFileTest, FilesThatCannotBeMappedLeaveNothingHeld) {
  std::string empty = Make("empty.exe", "");
  MappedFile file;
  // An empty file has nothing to map: the caller's report must not read as success.
  for (const auto& [path, error] : {std::make_pair(empty, ERROR_FILE_INVALID),
                                    std::make_pair(machine.Path("missing.exe"), ERROR_FILE_NOT_FOUND),
                                    std::make_pair(machine.Path("no\\such.exe"), ERROR_PATH_NOT_FOUND)}) {
    EXPECT_TRUE(FAILS_WITH(file.Open(path.c_str(), GENERIC_READ, OPEN_EXISTING), FALSE, error));
    EXPECT_TRUE(HoldsNothing(file)) << path;
  }
  EXPECT_TRUE(DeleteFileA(empty.c_str())) << "the file was closed again";
  EXPECT_TRUE(file.Open(Make("good.exe", "MZ").c_str(), GENERIC_READ, OPEN_EXISTING))
      << "the same object opens a good file afterwards";
}

TEST_F(MappedFileTest, AWritableMappingWritesThroughAndStampsTheFileOnClose) {
  std::string path = Make("data.bin", "abcdef");
  HANDLE h = OpenOther(path, GENERIC_WRITE, 0);
  FILETIME old = {0x12345678, 0x01B00000}, before, times[3];  // far in the past
  ASSERT_TRUE(SetFileTime(h, &old, &old, &old));
  CloseHandle(h);

  // Stamped even when nothing was written through the view.
  GetSystemTimeAsFileTime(&before);
  MappedFile file;
  ASSERT_TRUE(file.Open(path.c_str(), GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING));
  EXPECT_TRUE(file.Writable());
  EXPECT_EQ(OpenOther(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE)
      << "a writable mapping shares nothing";
  EXPECT_TRUE(file.Close());
  h = OpenOther(path, GENERIC_READ, FILE_SHARE_READ);
  ASSERT_TRUE(GetFileTime(h, &times[0], &times[1], &times[2]));
  CloseHandle(h);
  // All three times; coarse file systems round them down to a couple of seconds.
  for (const FILETIME& t : times) EXPECT_GE(Ticks(t) + 20000000ULL, Ticks(before));

  ASSERT_TRUE(file.Open(path.c_str(), GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING));
  const_cast<BYTE*>(file.View())[0] = 'X';
  EXPECT_TRUE(file.Close());
  std::string after;
  EXPECT_TRUE(TestMachine::ReadBytes(path, &after) && after == "Xbcdef") << after;
}

#ifndef _WIN32

TEST_F(MappedFileTest, HostEveryFailingStepReleasesWhatWasTakenAndKeepsItsError) {
  std::string path = Make("setup.exe", "MZ and more");
  // Each step, and the handles that were open when it failed.
  for (auto [function, error, closes] : std::vector<std::tuple<const char*, DWORD, unsigned>>{
           {"CreateFileA", ERROR_SHARING_VIOLATION, 0},
           {"GetFileSize", ERROR_INVALID_HANDLE, 1},
           {"CreateFileMappingA", ERROR_NOT_ENOUGH_MEMORY, 1},
           {"MapViewOfFile", ERROR_NOT_ENOUGH_MEMORY, 2}}) {
    winsim::ClearFaults();
    winsim::SetFault(function, 1, error);
    MappedFile file;
    EXPECT_TRUE(FAILS_WITH(file.Open(path.c_str(), GENERIC_READ, OPEN_EXISTING), FALSE, error));
    EXPECT_EQ(file.View(), nullptr);
    EXPECT_EQ(winsim::CallCount("CloseHandle"), closes) << function;
  }
  winsim::ClearFaults();

  MappedFile file;
  ASSERT_TRUE(file.Open(path.c_str(), GENERIC_READ, OPEN_EXISTING));
  winsim::SetFault("CloseHandle", 2, ERROR_INVALID_HANDLE);
  EXPECT_FALSE(file.Close());
  winsim::ClearFaults();
  EXPECT_TRUE(HoldsNothing(file));
  EXPECT_TRUE(file.Close());
}

#endif
