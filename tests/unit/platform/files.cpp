/*
 * Files, folders, paths and mappings through Win32. The same cases run over the host layer and,
 * under Wine, against the real APIs: that is what keeps the host layer faithful. Cases that need
 * the host's own controls (drives, the current folder, host paths) are in the FilesHost suite.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/win32.h"
#include "tests/support/test_machine.h"
#include "tests/support/win32_checks.h"

#ifndef _WIN32
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/posix/winsim.h"
#endif

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition,
            DWORD flags = FILE_ATTRIBUTE_NORMAL) {
  return CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

// That opening fails with the error; a handle it gave all the same is closed.
::testing::AssertionResult OpenFails(const std::string& path, DWORD access, DWORD share,
                                     DWORD disposition, DWORD flags, DWORD error) {
  HANDLE h = INVALID_HANDLE_VALUE;
  ::testing::AssertionResult result =
      FAILS_WITH(h = Open(path, access, share, disposition, flags), INVALID_HANDLE_VALUE, error);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return result;
}
::testing::AssertionResult OpenFails(const std::string& path, DWORD access, DWORD share,
                                     DWORD disposition, DWORD error) {
  return OpenFails(path, access, share, disposition, FILE_ATTRIBUTE_NORMAL, error);
}

std::string Read(const std::string& path) {
  std::string bytes;
  EXPECT_TRUE(TestMachine::ReadBytes(path, &bytes)) << path;
  return bytes;
}

DWORD SizeOf(const std::string& path) {
  HANDLE h = Open(path, 0, kShareAll, OPEN_EXISTING);
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << path;
  DWORD size = GetFileSize(h, nullptr);
  CloseHandle(h);
  return size;
}

// Whether this system refuses writers of a read-only file. Windows always does; Wine run by
// root leaves the check to the host, which lets root write, so such runs skip the refusals.
bool ReadOnlyRefusesWriters(const TestMachine& machine) {
#ifdef _WIN32
  const std::string probe = machine.Path("probe.ro");
  if (!TestMachine::WriteBytes(probe, "p") ||
      !SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_READONLY))
    return true;
  HANDLE h = Open(probe, GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  SetFileAttributesA(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(probe.c_str());
  return h == INVALID_HANDLE_VALUE;
#else
  (void)machine;
  return true;
#endif
}

}  // namespace

// Each disposition on a file of 7 bytes and on a missing one: whether it opens, the last error
// it leaves either way, and the size it leaves.
TEST(Files, DispositionsAndTheirLastErrors) {
  TestMachine machine;
  const DWORD kRefused = 0xFFFF, kAny = 0xFFFE;
  struct Case {
    DWORD disposition;
    bool exists;
    DWORD error;
    DWORD size;
  } cases[] = {{CREATE_NEW, false, 0, 0},
               {CREATE_NEW, true, ERROR_FILE_EXISTS, kRefused},
               {OPEN_ALWAYS, false, 0, 0},
               {OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS, 7},
               {CREATE_ALWAYS, false, 0, 0},
               {CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, 0},
               {TRUNCATE_EXISTING, false, ERROR_FILE_NOT_FOUND, kRefused},
               {TRUNCATE_EXISTING, true, 0, 0},
               {OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND, kRefused},
               {OPEN_EXISTING, true, kAny, 7},
               {0, true, ERROR_INVALID_PARAMETER, kRefused}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "disposition " << c.disposition << (c.exists ? " of a file" : " of none"));
    const std::string file = machine.Path("d" + std::to_string(n++));
    ASSERT_TRUE(!c.exists || TestMachine::WriteBytes(file, "content"));
    SetLastError(pwtest::kUnsetError);
    HANDLE h = Open(file, GENERIC_WRITE, 0, c.disposition);
    DWORD error = GetLastError();
    EXPECT_TRUE(c.error == kAny || error == c.error) << error;
    ASSERT_EQ(h != INVALID_HANDLE_VALUE, c.size != kRefused);
    if (h != INVALID_HANDLE_VALUE) {
      EXPECT_EQ(GetFileSize(h, nullptr), c.size);
      CloseHandle(h);
    }
    EXPECT_EQ(TestMachine::Exists(file), c.exists || c.size != kRefused);
  }
  EXPECT_TRUE(OpenFails(machine.Path("nofolder\\x.txt"), GENERIC_READ, 0, OPEN_EXISTING,
                        ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(OpenFails(machine.Path("nofolder\\x.txt"), GENERIC_WRITE, 0, CREATE_ALWAYS,
                        ERROR_PATH_NOT_FOUND));

  // Any security record is accepted, an all-zero one included.
  SECURITY_ATTRIBUTES sa;
  std::memset(&sa, 0, sizeof sa);
  HANDLE h = CreateFileA(machine.Path("sa.txt").c_str(), GENERIC_WRITE, 0, &sa, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(h, "x", 1, &written, nullptr));
  CloseHandle(h);
}

TEST(Files, ReadWriteAndThePointer) {
  TestMachine machine;
  const std::string file = machine.Path("rw.bin");
  HANDLE h = Open(file, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 99;
  EXPECT_TRUE(WriteFile(h, "", 0, &n, nullptr)) << "a write of nothing succeeds";
  EXPECT_EQ(n, 0u);
  EXPECT_TRUE(WriteFile(h, "hello world", 11, &n, nullptr));
  EXPECT_EQ(n, 11u);

  char buf[32] = {0};
  n = 99;
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr)) << "reading at the end succeeds";
  EXPECT_EQ(n, 0u);

  EXPECT_EQ(SetFilePointer(h, 6, nullptr, FILE_BEGIN), 6u);
  EXPECT_TRUE(ReadFile(h, buf, 5, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "world");
  EXPECT_EQ(SetFilePointer(h, -5, nullptr, FILE_CURRENT), 6u);
  EXPECT_EQ(SetFilePointer(h, -11, nullptr, FILE_END), 0u);
  EXPECT_TRUE(ReadFile(h, buf, 100, &n, nullptr)) << "a short read at the end";
  EXPECT_EQ(std::string(buf, n), "hello world");

  SetFilePointer(h, 3, nullptr, FILE_BEGIN);
  EXPECT_TRUE(FAILS_WITH(SetFilePointer(h, -4, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER,
                         ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 3u) << "a refused seek does not move";
  EXPECT_TRUE(FAILS_WITH(SetFilePointer(h, 0, nullptr, 7), INVALID_SET_FILE_POINTER,
                         ERROR_INVALID_PARAMETER));

  // The high part: past 4 GiB and back, with the file cut there and then cut back.
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(h, 0x10, &high, FILE_BEGIN), 0x10u);
  EXPECT_EQ(high, 1);
  EXPECT_TRUE(SetEndOfFile(h));
  DWORD sizeHigh = 0;
  EXPECT_EQ(GetFileSize(h, &sizeHigh), 0x10u);
  EXPECT_EQ(sizeHigh, 1u);
  high = -1;
  EXPECT_EQ(SetFilePointer(h, -(LONG)0x10, &high, FILE_CURRENT), 0u) << "a 64-bit negative move";
  EXPECT_EQ(high, 1);
  high = 0;
  EXPECT_EQ(SetFilePointer(h, 5, &high, FILE_BEGIN), 5u);
  EXPECT_EQ(high, 0);
  EXPECT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(GetFileSize(h, &sizeHigh), 5u);
  EXPECT_EQ(sizeHigh, 0u);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(Read(file), "hello");

  // Handles refuse what they were not opened for.
  h = Open(file, GENERIC_READ, kShareAll, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(FAILS_WITH(WriteFile(h, "x", 1, &n, nullptr), FALSE, ERROR_ACCESS_DENIED));
  EXPECT_FALSE(SetEndOfFile(h));
#ifdef _WIN32
  // Wine passes the host's EINVAL on as ERROR_INVALID_PARAMETER; Windows checks the handle's
  // access first and answers ERROR_ACCESS_DENIED.
  EXPECT_TRUE(GetLastError() == ERROR_ACCESS_DENIED || GetLastError() == ERROR_INVALID_PARAMETER);
#else
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
#endif
  CloseHandle(h);
  h = Open(file, GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(FAILS_WITH(ReadFile(h, buf, 1, &n, nullptr), FALSE, ERROR_ACCESS_DENIED));
  EXPECT_TRUE(FAILS_WITH(WriteFile(h, nullptr, 4, &n, nullptr), FALSE, ERROR_INVALID_USER_BUFFER))
      << "no buffer";
  CloseHandle(h);
}

TEST(Files, HandlesThatAreNotOpen) {
  TestMachine machine;
  HANDLE h = Open(machine.Path("h.txt"), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_TRUE(FAILS_WITH(CloseHandle(h), FALSE, ERROR_INVALID_HANDLE)) << "a second close";
  EXPECT_TRUE(FAILS_WITH(CloseHandle(nullptr), FALSE, ERROR_INVALID_HANDLE));
  EXPECT_TRUE(CloseHandle(INVALID_HANDLE_VALUE)) << "the current process's pseudo-handle";

  char buf[4];
  DWORD n = 0;
  EXPECT_TRUE(FAILS_WITH(ReadFile(h, buf, sizeof buf, &n, nullptr), FALSE, ERROR_INVALID_HANDLE));
  EXPECT_TRUE(FAILS_WITH(WriteFile(h, buf, sizeof buf, &n, nullptr), FALSE, ERROR_INVALID_HANDLE));
  EXPECT_TRUE(FAILS_WITH(GetFileSize(h, nullptr), INVALID_FILE_SIZE, ERROR_INVALID_HANDLE));
  EXPECT_TRUE(FAILS_WITH(SetFilePointer(h, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER,
                         ERROR_INVALID_HANDLE));
}

TEST(Files, ShareModesBetweenOpenHandles) {
  TestMachine machine;
  const std::string file = machine.Path("shared.txt");
  ASSERT_TRUE(TestMachine::WriteBytes(file, "keep me"));

  HANDLE reader = Open(file, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  HANDLE reader2 = Open(file, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(reader2, INVALID_HANDLE_VALUE) << "readers that share reading";

  EXPECT_TRUE(OpenFails(file, GENERIC_WRITE, kShareAll, OPEN_EXISTING, ERROR_SHARING_VIOLATION))
      << "a writer where the readers do not share writing";
  EXPECT_TRUE(
      OpenFails(file, GENERIC_READ, FILE_SHARE_WRITE, OPEN_EXISTING, ERROR_SHARING_VIOLATION))
      << "a reader that does not share reading with the readers";
  EXPECT_TRUE(OpenFails(file, GENERIC_WRITE, kShareAll, CREATE_ALWAYS, ERROR_SHARING_VIOLATION));
  EXPECT_EQ(SizeOf(file), 7u) << "a refused CREATE_ALWAYS must not empty the file";

  HANDLE query = Open(file, 0, 0, OPEN_EXISTING);
  EXPECT_NE(query, INVALID_HANDLE_VALUE) << "opens without data access never conflict";
  EXPECT_EQ(GetFileSize(query, nullptr), 7u);
  CloseHandle(query);

  CloseHandle(reader);
  EXPECT_TRUE(OpenFails(file, GENERIC_WRITE, kShareAll, OPEN_EXISTING, ERROR_SHARING_VIOLATION))
      << "the second reader still refuses writers";
  CloseHandle(reader2);
  HANDLE writer = Open(file, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE) << "once the readers are gone";
  HANDLE reader3 = Open(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  EXPECT_NE(reader3, INVALID_HANDLE_VALUE) << "a reader that shares writing beside the writer";
  CloseHandle(reader3);
  CloseHandle(writer);
}

TEST(Files, DeleteRules) {
  TestMachine machine;
  const std::string file = machine.Path("del.txt");

  EXPECT_TRUE(FAILS_WITH(DeleteFileA(file.c_str()), FALSE, ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(FAILS_WITH(DeleteFileA(machine.Path("nofolder\\del.txt").c_str()), FALSE,
                         ERROR_PATH_NOT_FOUND));
  ASSERT_TRUE(CreateDirectoryA(machine.Path("folder").c_str(), nullptr));
  EXPECT_TRUE(FAILS_WITH(DeleteFileA(machine.Path("folder").c_str()), FALSE, ERROR_ACCESS_DENIED));

  ASSERT_TRUE(TestMachine::WriteBytes(file, "x"));
  HANDLE h = Open(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(FAILS_WITH(DeleteFileA(file.c_str()), FALSE, ERROR_SHARING_VIOLATION))
      << "open without FILE_SHARE_DELETE";
  EXPECT_TRUE(TestMachine::Exists(file));
  CloseHandle(h);

  h = Open(file, GENERIC_READ, kShareAll, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(DeleteFileA(file.c_str())) << "open with FILE_SHARE_DELETE";
  CloseHandle(h);
  EXPECT_FALSE(TestMachine::Exists(file));

  ASSERT_TRUE(TestMachine::WriteBytes(file, "x"));
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(FAILS_WITH(DeleteFileA(file.c_str()), FALSE, ERROR_ACCESS_DENIED)) << "read-only";
  h = Open(file, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(FAILS_WITH(DeleteFileA(file.c_str()), FALSE, ERROR_SHARING_VIOLATION))
      << "read-only and open: the share check comes first";
  CloseHandle(h);
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(DeleteFileA(file.c_str()));
  EXPECT_FALSE(TestMachine::Exists(file));

  h = Open(machine.Path("temp.tmp"), GENERIC_WRITE, 0, CREATE_NEW,
           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(TestMachine::Exists(machine.Path("temp.tmp")));
  CloseHandle(h);
  EXPECT_FALSE(TestMachine::Exists(machine.Path("temp.tmp"))) << "FILE_FLAG_DELETE_ON_CLOSE";

  // Such a handle is a deleter to the share check: others must share deletion.
  h = Open(machine.Path("temp.tmp"), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW,
           FILE_FLAG_DELETE_ON_CLOSE);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(OpenFails(machine.Path("temp.tmp"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        OPEN_EXISTING, ERROR_SHARING_VIOLATION));
  CloseHandle(h);
  ASSERT_TRUE(TestMachine::WriteBytes(file, "precious"));
  h = Open(file, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_TRUE(OpenFails(file, GENERIC_READ, kShareAll, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE,
                        ERROR_SHARING_VIOLATION));
  CloseHandle(h);
  EXPECT_EQ(Read(file), "precious") << "a refused open deletes nothing";
}

TEST(Files, ReadOnlyAttribute) {
  TestMachine machine;
  const std::string file = machine.Path("ro.txt");
  ASSERT_TRUE(TestMachine::WriteBytes(file, "original"));
  DWORD attrs = GetFileAttributesA(file.c_str());
  ASSERT_NE(attrs, INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(attrs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY), 0u);
  EXPECT_TRUE(attrs & FILE_ATTRIBUTE_ARCHIVE);

  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
  attrs = GetFileAttributesA(file.c_str());
  EXPECT_TRUE(attrs & FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(attrs & FILE_ATTRIBUTE_DIRECTORY);
  HANDLE h = Open(file, GENERIC_READ, kShareAll, OPEN_EXISTING);
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << "readers are welcome";
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_FALSE(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY);

  // Created read-only: the creating handle may still write.
  const std::string born = machine.Path("born-ro.txt");
  h = Open(born, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_READONLY);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(h, "abc", 3, &n, nullptr));
  CloseHandle(h);
  EXPECT_TRUE(GetFileAttributesA(born.c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(Read(born), "abc");
  SetFileAttributesA(born.c_str(), FILE_ATTRIBUTE_NORMAL);

  EXPECT_TRUE(
      FAILS_WITH(SetFileAttributesA(machine.Path("none.txt").c_str(), FILE_ATTRIBUTE_NORMAL), FALSE,
                 ERROR_FILE_NOT_FOUND));
}

TEST(Files, ReadOnlyAttributeRefusesWriters) {
  TestMachine machine;
  if (!ReadOnlyRefusesWriters(machine)) GTEST_SKIP() << "read-only files are writable here";
  const std::string file = machine.Path("ro.txt");
  ASSERT_TRUE(TestMachine::WriteBytes(file, "original"));
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));

  for (DWORD disposition :
       {(DWORD)OPEN_EXISTING, (DWORD)OPEN_ALWAYS, (DWORD)CREATE_ALWAYS, (DWORD)TRUNCATE_EXISTING}) {
    EXPECT_TRUE(OpenFails(file, GENERIC_WRITE, 0, disposition, ERROR_ACCESS_DENIED))
        << "disposition " << disposition;
  }
  EXPECT_TRUE(OpenFails(file, GENERIC_READ, 0, CREATE_ALWAYS, ERROR_ACCESS_DENIED))
      << "CREATE_ALWAYS would empty it, whatever the access";
  EXPECT_EQ(Read(file), "original");

  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(TestMachine::WriteBytes(file, "changed")) << "writable again";
  EXPECT_EQ(Read(file), "changed");
}

TEST(Files, FoldersAndAttributes) {
  TestMachine machine;
  const std::string dir = machine.Path("sub");
  EXPECT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  EXPECT_EQ(GetFileAttributesA(dir.c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            (DWORD)FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(FAILS_WITH(CreateDirectoryA(dir.c_str(), nullptr), FALSE, ERROR_ALREADY_EXISTS));
  ASSERT_TRUE(TestMachine::WriteBytes(machine.Path("plain"), "x"));
  EXPECT_TRUE(FAILS_WITH(CreateDirectoryA(machine.Path("plain").c_str(), nullptr), FALSE,
                         ERROR_ALREADY_EXISTS))
      << "a file is there";
  EXPECT_TRUE(FAILS_WITH(CreateDirectoryA(machine.Path("no\\such").c_str(), nullptr), FALSE,
                         ERROR_PATH_NOT_FOUND));

  EXPECT_TRUE(FAILS_WITH(GetFileAttributesA(machine.Path("none").c_str()), INVALID_FILE_ATTRIBUTES,
                         ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(FAILS_WITH(GetFileAttributesA(machine.Path("none\\x").c_str()),
                         INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(FAILS_WITH(GetFileAttributesA(machine.Path("plain\\x").c_str()),
                         INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND))
      << "a file used as a folder";

  // A folder opens only with backup semantics.
  EXPECT_TRUE(OpenFails(dir, GENERIC_READ, kShareAll, OPEN_EXISTING, ERROR_ACCESS_DENIED));
  HANDLE h = Open(dir, 0, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  h = Open(dir, GENERIC_READ, kShareAll, OPEN_ALWAYS, FILE_FLAG_BACKUP_SEMANTICS);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
  char buf[4];
  DWORD n = 0;
  EXPECT_TRUE(FAILS_WITH(ReadFile(h, buf, sizeof buf, &n, nullptr), FALSE, ERROR_INVALID_FUNCTION))
      << "a folder has no data";
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  for (DWORD disposition : {(DWORD)CREATE_NEW, (DWORD)CREATE_ALWAYS, (DWORD)TRUNCATE_EXISTING}) {
    EXPECT_TRUE(OpenFails(dir, GENERIC_WRITE, kShareAll, disposition, FILE_FLAG_BACKUP_SEMANTICS,
                          ERROR_FILE_EXISTS))
        << disposition;
  }
  EXPECT_TRUE(OpenFails(dir, GENERIC_WRITE, kShareAll, OPEN_ALWAYS, ERROR_ACCESS_DENIED))
      << "OPEN_ALWAYS of a folder, no backup semantics";

  // A trailing separator says "folder": a file named so is not found as one.
  const std::string plainSep = machine.Path("plain\\");
  EXPECT_TRUE(OpenFails(plainSep, GENERIC_READ, kShareAll, OPEN_EXISTING, ERROR_INVALID_NAME));
  EXPECT_TRUE(
      OpenFails(machine.Path("new\\"), GENERIC_WRITE, kShareAll, CREATE_NEW, ERROR_INVALID_NAME));
  EXPECT_TRUE(FAILS_WITH(GetFileAttributesA(plainSep.c_str()), INVALID_FILE_ATTRIBUTES,
                         ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(FAILS_WITH(DeleteFileA(plainSep.c_str()), FALSE, ERROR_INVALID_NAME));
  EXPECT_TRUE(TestMachine::Exists(machine.Path("plain")));
  EXPECT_EQ(GetFileAttributesA((dir + "\\").c_str()), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
}

TEST(Files, PathSpellings) {
  TestMachine machine;
  ASSERT_TRUE(CreateDirectoryA(machine.Path("SubDir").c_str(), nullptr));
  ASSERT_TRUE(TestMachine::WriteBytes(machine.Path("SubDir\\MixedCase.TXT"), "mixed"));

  EXPECT_EQ(Read(machine.Path("subdir\\mixedcase.txt")), "mixed") << "any case";
  EXPECT_EQ(Read(machine.Path("SUBDIR\\MIXEDCASE.TXT")), "mixed");
  EXPECT_EQ(Read(machine.Dir() + "/SubDir/MixedCase.TXT"), "mixed") << "forward slashes";
  EXPECT_EQ(Read(machine.Path(".\\SubDir\\.\\x\\..\\MixedCase.TXT")), "mixed") << ". and ..";
  EXPECT_EQ(Read(machine.Path("SubDir\\\\MixedCase.TXT")), "mixed") << "doubled separator";
  EXPECT_EQ(Read(machine.Path("SubDir\\MixedCase.TXT...")), "mixed") << "trailing dots";
  EXPECT_EQ(Read(machine.Path("SubDir\\MixedCase.TXT  ")), "mixed") << "trailing spaces";
  EXPECT_EQ(Read(machine.Path("SubDir.\\MixedCase.TXT")), "mixed") << "a folder's trailing dot";

  // Writing through another spelling reaches the same file rather than making a second one.
  ASSERT_TRUE(TestMachine::WriteBytes(machine.Path("SUBDIR\\mixedCASE.txt"), "rewritten"));
  EXPECT_EQ(Read(machine.Path("SubDir\\MixedCase.TXT")), "rewritten");

  for (const char* bad : {"a<b", "a>b", "a|b", "a\"b", "a?b", "a*b"}) {
    EXPECT_TRUE(FAILS_WITH(GetFileAttributesA(machine.Path(bad).c_str()), INVALID_FILE_ATTRIBUTES,
                           ERROR_INVALID_NAME))
        << bad;
    EXPECT_TRUE(OpenFails(machine.Path(bad), GENERIC_WRITE, 0, CREATE_ALWAYS, ERROR_INVALID_NAME))
        << bad;
  }

  std::string longName = machine.Path(std::string(300, 'n'));
  EXPECT_TRUE(FAILS_WITH(GetFileAttributesA(longName.c_str()), INVALID_FILE_ATTRIBUTES,
                         ERROR_FILENAME_EXCED_RANGE));
  EXPECT_TRUE(OpenFails(longName, GENERIC_WRITE, 0, CREATE_ALWAYS, ERROR_FILENAME_EXCED_RANGE));

  EXPECT_TRUE(OpenFails("", GENERIC_READ, 0, OPEN_EXISTING, ERROR_PATH_NOT_FOUND));
}

TEST(Files, FileTimes) {
  TestMachine machine;
  const std::string file = machine.Path("t.txt");
  FILETIME before;
  GetSystemTimeAsFileTime(&before);
  ASSERT_TRUE(TestMachine::WriteBytes(file, "t"));
  HANDLE h = Open(file, GENERIC_READ | GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME created, accessed, written;
  ASSERT_TRUE(GetFileTime(h, &created, &accessed, &written));
  auto value = [](const FILETIME& ft) {
    return ((unsigned long long)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
  };
  const unsigned long long tenSeconds = 100000000ull;
  EXPECT_LT(value(before) - tenSeconds, value(written)) << "a fresh file's write time is now";
  EXPECT_LT(value(written), value(before) + tenSeconds);
  EXPECT_LE(value(created), value(written) + tenSeconds);

  // 2020-01-02 03:04:05.1234500 UTC
  const unsigned long long stamp = 0x1d5c1194ad6d6c4ull;
  FILETIME set{(DWORD)stamp, (DWORD)(stamp >> 32)};
  EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &set));
  FILETIME zero{0, 0};
  EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &zero)) << "zero leaves a time alone";
  ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &written));
  EXPECT_EQ(value(written), stamp);
  CloseHandle(h);

  h = Open(file, GENERIC_READ, kShareAll, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &written));
  EXPECT_EQ(value(written), stamp) << "the time is kept by the file";
#ifndef _WIN32
  // Windows wants FILE_WRITE_ATTRIBUTES, which GENERIC_READ does not give; Wine does not check.
  EXPECT_TRUE(FAILS_WITH(SetFileTime(h, nullptr, nullptr, &set), FALSE, ERROR_ACCESS_DENIED))
      << "a read-only handle";
#endif
  CloseHandle(h);
}

TEST(Files, MappingsAndViews) {
  TestMachine machine;
  const std::string file = machine.Path("map.bin");
  ASSERT_TRUE(TestMachine::WriteBytes(file, "0123456789"));

  // A read-only view sees the file.
  HANDLE h = Open(file, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  HANDLE m = CreateFileMappingA(h, nullptr, PAGE_READONLY, 0, 0, nullptr);
  ASSERT_NE(m, nullptr);
  const char* view = static_cast<const char*>(MapViewOfFile(m, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(std::string(view, 10), "0123456789");
  EXPECT_TRUE(FAILS_WITH(MapViewOfFile(m, FILE_MAP_WRITE, 0, 0, 0), nullptr, ERROR_ACCESS_DENIED))
      << "writing a read-only mapping";
  EXPECT_TRUE(
      FAILS_WITH(MapViewOfFile(m, FILE_MAP_READ, 0, 100, 0), nullptr, ERROR_MAPPED_ALIGNMENT))
      << "a misaligned offset";
  EXPECT_TRUE(FAILS_WITH(CreateFileMappingA(h, nullptr, PAGE_READWRITE, 0, 0, nullptr), nullptr,
                         ERROR_ACCESS_DENIED))
      << "a writable mapping of a read-only handle";

  // The mapping outlives its file handle; the file's share entry goes with the handle.
  EXPECT_TRUE(OpenFails(file, GENERIC_WRITE, kShareAll, OPEN_EXISTING, ERROR_SHARING_VIOLATION))
      << "the handle refuses writers";
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(view[9], '9');
  HANDLE writer = Open(file, GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE)
      << "with the handle closed, the mapping alone refuses no writer";
  CloseHandle(writer);
#ifndef _WIN32
  // Windows refuses to delete a mapped file (the file system's "cannot delete"); Wine lets
  // the host unlink it.
  EXPECT_TRUE(FAILS_WITH(DeleteFileA(file.c_str()), FALSE, ERROR_ACCESS_DENIED)) << "a mapped file";
#endif
  EXPECT_TRUE(CloseHandle(m));
  EXPECT_EQ(view[0], '0') << "the view outlives the mapping handle";
#ifndef _WIN32
  EXPECT_FALSE(DeleteFileA(file.c_str())) << "still mapped by the view";
#endif
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_TRUE(FAILS_WITH(UnmapViewOfFile(view), FALSE, ERROR_INVALID_ADDRESS))
      << "a view unmapped twice";
  EXPECT_TRUE(DeleteFileA(file.c_str())) << "free once the views and the mapping are gone";

  // An empty file has nothing to map at its own size.
  ASSERT_TRUE(TestMachine::WriteBytes(file, ""));
  h = Open(file, GENERIC_READ | GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(FAILS_WITH(CreateFileMappingA(h, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr,
                         ERROR_FILE_INVALID));

  // A writable mapping bigger than the file lengthens it; writes through the view reach it.
  m = CreateFileMappingA(h, nullptr, PAGE_READWRITE, 0, 70000, nullptr);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(GetFileSize(h, nullptr), 70000u);
  char* rw = static_cast<char*>(MapViewOfFile(m, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(rw, nullptr);
  std::memcpy(rw, "written", 7);
  rw[69999] = 'Z';
  const char* tail = static_cast<const char*>(MapViewOfFile(m, FILE_MAP_READ, 0, 65536, 0));
  ASSERT_NE(tail, nullptr) << "a view at an aligned offset, to the mapping's end";
  EXPECT_EQ(tail[69999 - 65536], 'Z') << "two views of one mapping share their pages";
  EXPECT_TRUE(
      FAILS_WITH(MapViewOfFile(m, FILE_MAP_READ, 0, 65536, 10000), nullptr, ERROR_ACCESS_DENIED))
      << "past the mapping";
  EXPECT_TRUE(
      FAILS_WITH(MapViewOfFile(m, FILE_MAP_READ, 0, 131072, 0), nullptr, ERROR_INVALID_PARAMETER))
      << "starting past it";
  SetFilePointer(h, 100, nullptr, FILE_BEGIN);
  EXPECT_TRUE(FAILS_WITH(SetEndOfFile(h), FALSE, ERROR_USER_MAPPED_FILE))
      << "cutting a mapped file";
  SetFilePointer(h, 80000, nullptr, FILE_BEGIN);
  EXPECT_TRUE(SetEndOfFile(h)) << "lengthening it is fine";
  EXPECT_TRUE(OpenFails(file, GENERIC_WRITE, kShareAll, CREATE_ALWAYS, ERROR_USER_MAPPED_FILE))
      << "a mapped file cannot be emptied";
  EXPECT_TRUE(UnmapViewOfFile(tail + 5)) << "any address inside the view names it";
  EXPECT_TRUE(UnmapViewOfFile(rw));
  EXPECT_TRUE(CloseHandle(m));
  EXPECT_TRUE(CloseHandle(h));
  std::string bytes = Read(file);
  ASSERT_EQ(bytes.size(), 80000u);
  EXPECT_EQ(bytes.substr(0, 7), "written");
  EXPECT_EQ(bytes[69999], 'Z');

  // A read-only mapping cannot lengthen its file.
  h = Open(file, GENERIC_READ, kShareAll, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(FAILS_WITH(CreateFileMappingA(h, nullptr, PAGE_READONLY, 0, 90000, nullptr), nullptr,
                         ERROR_NOT_ENOUGH_MEMORY));
  CloseHandle(h);

  EXPECT_TRUE(FAILS_WITH(UnmapViewOfFile(&bytes), FALSE, ERROR_INVALID_ADDRESS))
      << "an address that is no view";
  EXPECT_TRUE(
      FAILS_WITH(MapViewOfFile(nullptr, FILE_MAP_READ, 0, 0, 0), nullptr, ERROR_INVALID_HANDLE));
}

TEST(Files, PagingFileMappings) {
  EXPECT_TRUE(
      FAILS_WITH(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, nullptr),
                 nullptr, ERROR_INVALID_PARAMETER))
      << "no size to take from a file";
  HANDLE m = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 100000, nullptr);
  ASSERT_NE(m, nullptr);
  char* a = static_cast<char*>(MapViewOfFile(m, FILE_MAP_WRITE, 0, 0, 0));
  const char* b = static_cast<const char*>(MapViewOfFile(m, FILE_MAP_READ, 0, 65536, 0));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(a[0], 0) << "starts zeroed";
  a[65536 + 10] = 'q';
  EXPECT_EQ(b[10], 'q') << "views share the memory";
  EXPECT_TRUE(CloseHandle(m));
  EXPECT_TRUE(UnmapViewOfFile(a));
  EXPECT_EQ(b[10], 'q');
  EXPECT_TRUE(UnmapViewOfFile(b));
}

#ifndef _WIN32

namespace {

std::string HostRead(const std::string& hostPath) {
  std::ifstream in(hostPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Sets an environment variable for the life of one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_.c_str(), old_.c_str(), 1);
    else
      unsetenv(name_.c_str());
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

}  // namespace

TEST(FilesHost, DrivesMapToFolders) {
  TestMachine machine;
  EXPECT_EQ(winsim::HostPath("c:\\PWTEST\\new.txt"), machine.Root() + "/drive_c/pwtest/new.txt")
      << "existing components take their real spelling, a new one keeps the given one";
  EXPECT_EQ(winsim::HostPath(machine.Path("a\\..\\b").c_str()),
            machine.Root() + "/drive_c/pwtest/b");

  EXPECT_TRUE(FAILS_WITH(CreateDirectoryA("D:\\data", nullptr), FALSE, ERROR_PATH_NOT_FOUND))
      << "no drive D: yet";
  machine.AddDrive('D');
  EXPECT_TRUE(CreateDirectoryA("d:\\data", nullptr));
  struct stat st;
  EXPECT_EQ(stat((machine.Root() + "/drive_d/data").c_str(), &st), 0);

  // Z: is the host's root, unless the machine has a drive_z of its own.
  EXPECT_EQ(winsim::HostPath("Z:\\tmp"), "/tmp");
  EXPECT_EQ(GetFileAttributesA("Z:\\") & FILE_ATTRIBUTE_DIRECTORY, (DWORD)FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(winsim::HostPath("z:/"), "/");
  machine.AddDrive('z');
  EXPECT_EQ(winsim::HostPath("Z:\\tmp"), machine.Root() + "/drive_z/tmp");

  EXPECT_EQ(winsim::HostPath("\\\\server\\share\\x"), "") << "no network";
  EXPECT_EQ(winsim::HostPath("C:\\a|b"), "");
  EXPECT_EQ(winsim::HostPath("\\\\?\\C:\\pwtest"), machine.Root() + "/drive_c/pwtest");
}

TEST(FilesHost, WithoutMachineOnlyZExists) {
  ScopedEnv noRoot("WINSIM_ROOT", nullptr);
  EXPECT_TRUE(
      FAILS_WITH(GetFileAttributesA("C:\\WINDOWS"), INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA("Z:\\tmp") & FILE_ATTRIBUTE_DIRECTORY,
            (DWORD)FILE_ATTRIBUTE_DIRECTORY);
}

TEST(FilesHost, RelativePathsUseTheCurrentFolder) {
  TestMachine machine;
  ASSERT_TRUE(TestMachine::WriteBytes(machine.Path("rel.txt"), "relative"));
  {
    ScopedEnv cwd("WINSIM_CWD", "c:\\PwTest");
    EXPECT_EQ(Read("rel.txt"), "relative");
    EXPECT_EQ(Read(".\\sub\\..\\rel.txt"), "relative");
    EXPECT_EQ(Read("C:rel.txt"), "relative") << "drive-relative on the current drive";
    EXPECT_EQ(Read("\\pwtest\\rel.txt"), "relative") << "rooted on the current drive";
    machine.AddDrive('e');
    EXPECT_EQ(winsim::HostPath("E:x"), machine.Root() + "/drive_e/x") << "another drive's root";
  }
  {
    ScopedEnv cwd("WINSIM_CWD", nullptr);
    EXPECT_EQ(winsim::HostPath("pwtest\\rel.txt"), machine.Root() + "/drive_c/pwtest/rel.txt")
        << "C:\\ by default";
  }
}

TEST(FilesHost, NamesTheLayerRefusesOrFolds) {
  TestMachine machine;
  for (const std::string& bad : {std::string("C:\\pwtest\\a:b"), std::string("C:\\pwtest\\a\x01"),
                                 std::string("C:\\pw\ttest\\x")}) {
    EXPECT_TRUE(
        FAILS_WITH(GetFileAttributesA(bad.c_str()), INVALID_FILE_ATTRIBUTES, ERROR_INVALID_NAME));
  }

  // 259 characters in all is the longest full path; 260 is too long.
  const std::string prefix = machine.Dir() + "\\";
  std::string ok = prefix + std::string(259 - prefix.size(), 'x');
  std::string tooLong = prefix + std::string(260 - prefix.size(), 'y');
  EXPECT_TRUE(TestMachine::WriteBytes(ok, "edge"));
  EXPECT_TRUE(OpenFails(tooLong, GENERIC_WRITE, 0, CREATE_ALWAYS, ERROR_FILENAME_EXCED_RANGE));
  // The limit is on the full path, however short the given one.
  {
    ScopedEnv cwd("WINSIM_CWD", machine.Dir().c_str());
    EXPECT_TRUE(OpenFails(std::string(260 - prefix.size(), 'y'), GENERIC_WRITE, 0, CREATE_ALWAYS,
                          ERROR_FILENAME_EXCED_RANGE));
  }

  // Windows-1252 letters fold too.
  ASSERT_TRUE(TestMachine::WriteBytes(machine.Path("\xC9t\xE9.txt"), "summer"));
  EXPECT_EQ(Read(machine.Path("\xE9T\xC9.TXT")), "summer");

  // Where the host has two spellings, the exact one wins, else the first in byte order.
  std::ofstream(machine.HostPathOfC(machine.Path("abc")), std::ios::binary) << "lower";
  std::ofstream(machine.HostPathOfC(machine.Path("ABC")), std::ios::binary) << "upper";
  EXPECT_EQ(Read(machine.Path("abc")), "lower");
  EXPECT_EQ(Read(machine.Path("ABC")), "upper");
  EXPECT_EQ(Read(machine.Path("Abc")), "upper");
}

TEST(FilesHost, ReadOnlyIsTheOwnerWriteBit) {
  TestMachine machine;
  const std::string file = machine.Path("bits.txt");
  const std::string host = machine.HostPathOfC(file);
  ASSERT_TRUE(TestMachine::WriteBytes(file, "x"));
  struct stat st;
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_EQ(stat(host.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & S_IWUSR, 0u);
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL));
  ASSERT_EQ(stat(host.c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);

  // A file made read-only on the host is refused to writers, even though we may be root.
  chmod(host.c_str(), 0444);
  EXPECT_TRUE(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(OpenFails(file, GENERIC_WRITE, 0, OPEN_EXISTING, ERROR_ACCESS_DENIED));
  EXPECT_FALSE(DeleteFileA(file.c_str()));
  EXPECT_EQ(HostRead(host), "x");
}

TEST(FilesHost, HostWriteFailuresBecomeWindowsErrors) {
  TestMachine machine;
  // /dev/full answers every write with ENOSPC.
  HANDLE h = Open("Z:\\dev\\full", GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 99;
  EXPECT_TRUE(FAILS_WITH(WriteFile(h, "data", 4, &n, nullptr), FALSE, ERROR_DISK_FULL));
  EXPECT_EQ(n, 0u);
  CloseHandle(h);
}

// Makes the next call of function fail with error.
static void FailNext(const char* function, DWORD error) {
  winsim::SetFault(function, winsim::CallCount(function) + 1, error);
}

TEST(FilesHost, FaultKnobsFailTheChosenCall) {
  TestMachine machine;
  winsim::ClearFaults();
  const std::string file = machine.Path("f.txt");
  winsim::SetFault("CreateFileA", 2, ERROR_DISK_FULL);
  EXPECT_TRUE(TestMachine::WriteBytes(file, "1"));
  EXPECT_TRUE(OpenFails(file, GENERIC_READ, kShareAll, OPEN_EXISTING, ERROR_DISK_FULL))
      << "the second call";
  EXPECT_EQ(Read(file), "1") << "the third call works again";
  EXPECT_EQ(winsim::CallCount("CreateFileA"), 3u);

  winsim::SetFault("WriteFile", 1, ERROR_WRITE_FAULT, true);
  HANDLE h = Open(file, GENERIC_WRITE, 0, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(FAILS_WITH(WriteFile(h, "x", 1, &n, nullptr), FALSE, ERROR_WRITE_FAULT))
        << "call " << i + 1 << " and later";
  }
  CloseHandle(h);

  // Each function fails with its own failure value.
  FailNext("GetFileAttributesA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
  h = Open(file, GENERIC_READ, kShareAll, OPEN_EXISTING);
  FailNext("SetFilePointer", ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  FailNext("GetFileSize", ERROR_INVALID_PARAMETER);
  EXPECT_EQ(GetFileSize(h, nullptr), INVALID_FILE_SIZE);
  FailNext("CreateFileMappingA", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_TRUE(FAILS_WITH(CreateFileMappingA(h, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr,
                         ERROR_NOT_ENOUGH_MEMORY));
  FailNext("CloseHandle", ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_TRUE(CloseHandle(h)) << "a refused close left the handle open";
  FailNext("DeleteFileA", ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(DeleteFileA(file.c_str()));
  EXPECT_TRUE(TestMachine::Exists(file));

  winsim::ClearFaults();
  EXPECT_EQ(winsim::CallCount("CreateFileA"), 0u);
  EXPECT_TRUE(TestMachine::WriteBytes(file, "2"));
  EXPECT_EQ(winsim::CallCount("CreateFileA"), 1u);
  EXPECT_TRUE(DeleteFileA(file.c_str()));
}

#endif
