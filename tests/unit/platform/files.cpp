/* Files and folders: handles, share modes, deletion, read-only files, times, mappings, listings,
 * copies and temporary names. Under Wine the real calls answer: the host layer's yardstick. */

#include <cstring>
#include <map>

#include "tests/unit/platform/file_helpers.h"

#ifndef _WIN32
#include <sys/stat.h>

#endif

namespace {

DWORD SizeOf(const std::string& path) {
  HANDLE h = Open(path, 0, 0, OPEN_EXISTING);
  DWORD size = GetFileSize(h, nullptr);
  CloseHandle(h);
  return size;
}

// Whether two opens of one file may coexist: each one's data access must be allowed by the
// other's share mode. An open without data access (attributes only) never conflicts.
bool Compatible(DWORD access1, DWORD share1, DWORD access2, DWORD share2) {
  auto kinds = [](DWORD access) {
    return ((access & (GENERIC_READ | GENERIC_EXECUTE)) ? FILE_SHARE_READ : 0u) |
           ((access & GENERIC_WRITE) ? FILE_SHARE_WRITE : 0u) |
           ((access & DELETE) ? FILE_SHARE_DELETE : 0u);
  };
  DWORD kinds1 = kinds(access1), kinds2 = kinds(access2);
  return !kinds1 || !kinds2 || ((kinds1 & ~share2) == 0 && (kinds2 & ~share1) == 0);
}

const DWORD kAccesses[] = {0, GENERIC_READ, GENERIC_WRITE, DELETE, GENERIC_READ | GENERIC_WRITE};

}  // namespace

// Each disposition on a missing file and on one of 7 bytes: the last error and size it leaves.
TEST(Files, DispositionsAndTheirLastErrors) {
  TestMachine machine;
  const DWORD kRefused = 0xFFFF, kAny = 0xFFFE, kBad = ERROR_INVALID_PARAMETER;
  // disposition, then the last error and the size for a missing file and for an existing one
  const DWORD cases[][5] = {{CREATE_NEW, 0, 0, ERROR_FILE_EXISTS, kRefused},
                            {OPEN_ALWAYS, 0, 0, ERROR_ALREADY_EXISTS, 7},
                            {CREATE_ALWAYS, 0, 0, ERROR_ALREADY_EXISTS, 0},
                            {TRUNCATE_EXISTING, ERROR_FILE_NOT_FOUND, kRefused, 0, 0},
                            {OPEN_EXISTING, ERROR_FILE_NOT_FOUND, kRefused, kAny, 7},
                            {0, kBad, kRefused, kBad, kRefused}};
  SECURITY_ATTRIBUTES sa = {};  // any security record is accepted, an all-zero one included
  DWORD written = 0;
  int n = 0;
  for (const auto& c : cases)
    for (int exists = 0; exists < 2; ++exists) {
      SCOPED_TRACE(testing::Message() << "disposition " << c[0] << (exists ? " of a file" : ""));
      const std::string file = machine.Path("d" + std::to_string(n++));
      ASSERT_TRUE(!exists || TestMachine::WriteBytes(file, "content"));
      SetLastError(pwtest::kUnsetError);
      HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, &sa, c[0], FILE_FLAG_WRITE_THROUGH, 0);
      const DWORD error = GetLastError(), size = c[2 + 2 * exists];
      EXPECT_TRUE(c[1 + 2 * exists] == kAny || error == c[1 + 2 * exists]) << error;
      EXPECT_EQ(h == INVALID_HANDLE_VALUE ? kRefused : GetFileSize(h, nullptr), size);
      EXPECT_TRUE(h == INVALID_HANDLE_VALUE || WriteFile(h, "x", 1, &written, nullptr));
      CloseHandle(h);
      EXPECT_EQ(TestMachine::Exists(file), exists || size != kRefused);
    }
}

TEST(Files, ReadWriteThePointerTimesAndClosedHandles) {
  TestMachine machine;
  const std::string file = machine.Path("rw.bin");
  FILETIME before, created, accessed, written;
  GetSystemTimeAsFileTime(&before);
  HANDLE h = Open(file, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_TRUE(GetFileTime(h, &created, &accessed, &written));
  const unsigned long long tenSeconds = 100000000ull;
  EXPECT_LT(Ticks(before) - tenSeconds, Ticks(written)) << "a fresh file's write time is now";
  EXPECT_LT(Ticks(written), Ticks(before) + tenSeconds);
  EXPECT_LE(Ticks(created), Ticks(written) + tenSeconds);
  char buf[32] = {0};
  DWORD n = 99;
  EXPECT_TRUE(WriteFile(h, "", 0, &n, nullptr) && n == 0) << "a write of nothing: " << n;
  EXPECT_TRUE(WriteFile(h, "hello world", 11, &n, nullptr) && n == 11) << n;
  n = 99;
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr) && n == 0) << "reading at the end: " << n;
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
  auto seek = [h](LONG low, LONG high, DWORD method) {
    low = (LONG)SetFilePointer(h, low, &high, method);
    return (unsigned long long)(DWORD)high << 32 | (DWORD)low;
  };
  auto size = [h] {
    DWORD high = 7, low = GetFileSize(h, &high);
    return (unsigned long long)high << 32 | low;
  };
  EXPECT_EQ(seek(0x10, 1, FILE_BEGIN), 0x100000010ull);
  EXPECT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(size(), 0x100000010ull);
  EXPECT_EQ(seek(-0x10, -1, FILE_CURRENT), 0x100000000ull) << "a 64-bit negative move";
  EXPECT_EQ(seek(5, 0, FILE_BEGIN), 5ull);
  EXPECT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(size(), 5ull);
  // 2020-01-02 03:04:05.1234500 UTC
  const unsigned long long stamp = 0x1d5c1194ad6d6c4ull;
  FILETIME set{(DWORD)stamp, (DWORD)(stamp >> 32)}, zero{0, 0};
  EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &set));
  EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &zero)) << "zero leaves a time alone";
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(Read(file), "hello");

  // Handles refuse what they were not opened for; Wine lets GENERIC_READ set times, Windows not.
  h = Open(file, GENERIC_READ, kShareAll, OPEN_EXISTING);
  ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &written));
  EXPECT_EQ(Ticks(written), stamp) << "the time is kept by the file";
  EXPECT_TRUE(kWine ||
              FAILS_WITH(SetFileTime(h, nullptr, nullptr, &set), FALSE, ERROR_ACCESS_DENIED))
      << GetLastError();
  EXPECT_TRUE(FAILS_WITH(WriteFile(h, "x", 1, &n, nullptr), FALSE, ERROR_ACCESS_DENIED));
  // Windows checks the handle's access first; Wine passes the host's EINVAL on.
  EXPECT_FALSE(SetEndOfFile(h));
  EXPECT_TRUE(GetLastError() == ERROR_ACCESS_DENIED ||
              (kWine && GetLastError() == ERROR_INVALID_PARAMETER));
  CloseHandle(h);
  h = Open(file, GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  EXPECT_TRUE(FAILS_WITH(ReadFile(h, buf, 1, &n, nullptr), FALSE, ERROR_ACCESS_DENIED));
  EXPECT_TRUE(FAILS_WITH(WriteFile(h, nullptr, 4, &n, nullptr), FALSE, ERROR_INVALID_USER_BUFFER));

  // A closed handle is refused by everything, a second close included.
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_TRUE(FAILS_WITH(CloseHandle(h), FALSE, ERROR_INVALID_HANDLE));
  EXPECT_TRUE(FAILS_WITH(CloseHandle(nullptr), FALSE, ERROR_INVALID_HANDLE));
  EXPECT_TRUE(CloseHandle(INVALID_HANDLE_VALUE)) << "the current process's pseudo-handle";
  EXPECT_TRUE(FAILS_WITH(ReadFile(h, buf, 4, &n, nullptr), FALSE, ERROR_INVALID_HANDLE));
  EXPECT_TRUE(FAILS_WITH(WriteFile(h, buf, 4, &n, nullptr), FALSE, ERROR_INVALID_HANDLE));
  EXPECT_TRUE(FAILS_WITH(GetFileSize(h, nullptr), INVALID_FILE_SIZE, ERROR_INVALID_HANDLE));
  EXPECT_TRUE(FAILS_WITH(SetFilePointer(h, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER,
                         ERROR_INVALID_HANDLE));
}

// Every first open against every second one (each disposition, FILE_FLAG_DELETE_ON_CLOSE, or
// DeleteFileA in turn): refused exactly when incompatible, and then harmless; else it does its job.
TEST(Files, ShareModesOfTwoOpens) {
  TestMachine machine;
  std::string file = machine.Path("shared.txt");
  const DWORD kDispositions[] = {OPEN_EXISTING, OPEN_ALWAYS, CREATE_ALWAYS, TRUNCATE_EXISTING,
                                 OPEN_EXISTING};
  const DWORD kGone = 0xFFFFFFFF;
  int turn = 0;
  for (DWORD access1 : kAccesses)
    for (DWORD share1 = 0; share1 <= (access1 ? kShareAll : 0); ++share1) {
      HANDLE first = INVALID_HANDLE_VALUE;
      for (DWORD access2 : kAccesses)
        for (DWORD share2 = 0; share2 <= (access2 ? kShareAll : 0); ++share2) {
          const int kind = turn++ % 6;
          SCOPED_TRACE(testing::Message() << std::hex << access1 << "/" << share1 << " then "
                                          << access2 << "/" << share2 << " kind " << kind);
          const bool admitted =
              kind == 5 ? Compatible(access1, share1, DELETE, kShareAll)
                        : Compatible(access1, share1, access2 | (kind == 4 ? DELETE : 0), share2);
          if (first == INVALID_HANDLE_VALUE) {
            // A fresh file each time: rewriting an emptied one makes the host flush it, slowly.
            DeleteFileA(file.c_str());
            file = machine.Path("shared" + std::to_string(turn));
            ASSERT_TRUE(TestMachine::WriteBytes(file, "content"));
            first = Open(file, access1, share1, OPEN_EXISTING);
            // Each open holds its own entry: a twin's close leaves the first's refusals in force.
            CloseHandle(Open(file, access1, share1, OPEN_EXISTING));
          }
          HANDLE second = INVALID_HANDLE_VALUE;
          const bool done = kind == 5
                                ? DeleteFileA(file.c_str()) != 0
                                : (second = Open(file, access2, share2, kDispositions[kind],
                                                 kind == 4 ? FILE_FLAG_DELETE_ON_CLOSE : 0)) !=
                                      INVALID_HANDLE_VALUE;
          EXPECT_EQ(done, admitted);
          EXPECT_TRUE(done || GetLastError() == ERROR_SHARING_VIOLATION) << GetLastError();
          CloseHandle(second);
          if (admitted && kind >= 2) {  // emptied or deleted: what is left shows once all close
            CloseHandle(first);
            first = INVALID_HANDLE_VALUE;
          }
          const DWORD left = !admitted ? 7 : kind >= 4 ? kGone : (kind == 2 || kind == 3) ? 0 : 7;
          EXPECT_EQ(TestMachine::Exists(file) ? SizeOf(file) : kGone, left);
        }
      CloseHandle(first);
    }

  ASSERT_TRUE(TestMachine::WriteBytes(file, "content"));
  // The same rule when the first open is another process's, for MoveFileExA too.
  const MoveFileExAFn move = LookUpMoveFileEx();
  ASSERT_NE(move, nullptr);
  {
    HeldByChild held(machine.Dir(), "file \"" + file + "\" 0x80000000 3");  // reads, shares R|W
    ASSERT_EQ(held.Ready(), "ok");
    for (DWORD access2 : kAccesses)
      for (DWORD share2 = 0; share2 <= kShareAll; ++share2) {
        HANDLE h = Open(file, access2, share2, OPEN_EXISTING);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, Compatible(GENERIC_READ, 3, access2, share2))
            << std::hex << access2 << "/" << share2;
        CloseHandle(h);
      }
    EXPECT_TRUE(FAILS_WITH(DeleteFileA(file.c_str()), FALSE, ERROR_SHARING_VIOLATION));
    const std::string other = machine.Path("other");
    EXPECT_TRUE(FAILS_WITH(move(file.c_str(), other.c_str(), 0), FALSE, ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(FAILS_WITH(move(file.c_str(), nullptr, 0), FALSE, ERROR_SHARING_VIOLATION));
  }
  EXPECT_TRUE(DeleteFileA(file.c_str())) << "free once the other process let go";
}

// Read-only files refuse writers, deleters and copies; copies respect existing and held targets.
TEST(Files, ReadOnlyAttributeDeletionAndCopies) {
  TestMachine machine;
  const std::string file = machine.Path("ro.txt"), from = machine.Path("from.txt");
  const char *src = from.c_str(), *dst = file.c_str();
  ASSERT_TRUE(TestMachine::WriteBytes(file, "original") && TestMachine::WriteBytes(from, "fresh"));
  EXPECT_EQ(GetFileAttributesA(file.c_str()), (DWORD)FILE_ATTRIBUTE_ARCHIVE);
#ifdef _WIN32
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
#else
  // The attribute is the owner's write bit: one cleared on the host counts, even for root.
  const std::string host = machine.HostPathOfC(file);
  struct stat st;
  chmod(host.c_str(), 0444);
#endif
  EXPECT_EQ(GetFileAttributesA(file.c_str()) & ~FILE_ATTRIBUTE_ARCHIVE,
            (DWORD)FILE_ATTRIBUTE_READONLY);
  HANDLE h = Open(file, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << "readers are welcome";
  EXPECT_TRUE(FAILS_WITH(DeleteFileA(file.c_str()), FALSE, ERROR_SHARING_VIOLATION))
      << "read-only and open: the share check comes first";
  CloseHandle(h);
  EXPECT_TRUE(FAILS_WITH(DeleteFileA(file.c_str()), FALSE, ERROR_ACCESS_DENIED));
  // Wine run by root lets the host decide, and root may write; the host layer never lets it.
  const bool refuses = ReadOnlyIsEnforced(machine.Dir());
  EXPECT_TRUE(refuses || kWine);
  if (refuses) {
    for (DWORD d : {OPEN_EXISTING, OPEN_ALWAYS, CREATE_ALWAYS, TRUNCATE_EXISTING})
      EXPECT_TRUE(OpenFails(file, GENERIC_WRITE, 0, d, ERROR_ACCESS_DENIED)) << d;
    EXPECT_TRUE(OpenFails(file, GENERIC_READ, 0, CREATE_ALWAYS, ERROR_ACCESS_DENIED))
        << "CREATE_ALWAYS would empty it, whatever the access";
    EXPECT_TRUE(FAILS_WITH(CopyFileA(src, dst, FALSE), FALSE, ERROR_ACCESS_DENIED));
  }
  EXPECT_EQ(Read(file), "original");
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_FALSE(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY);
#ifndef _WIN32
  EXPECT_TRUE(stat(host.c_str(), &st) == 0 && (st.st_mode & S_IWUSR));
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(stat(host.c_str(), &st) == 0 && !(st.st_mode & S_IWUSR));
  ASSERT_TRUE(SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL));
#endif
  EXPECT_TRUE(TestMachine::WriteBytes(file, "changed")) << "writable again";
  EXPECT_TRUE(FAILS_WITH(CopyFileA(src, dst, TRUE), FALSE, ERROR_FILE_EXISTS));
  h = Open(file, GENERIC_WRITE, 0, OPEN_EXISTING);
  EXPECT_TRUE(FAILS_WITH(CopyFileA(src, dst, FALSE), FALSE, ERROR_SHARING_VIOLATION));
  CloseHandle(h);
  EXPECT_EQ(Read(file), "changed");
  EXPECT_TRUE(CopyFileA(src, dst, FALSE));
  EXPECT_EQ(Read(file), "fresh");
  EXPECT_TRUE(DeleteFileA(file.c_str()));

  // Created read-only: the creating handle may still write.
  h = Open(file, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_READONLY);
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(h, "abc", 3, &n, nullptr));
  CloseHandle(h);
  EXPECT_TRUE(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(Read(file), "abc");
  SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(Files, MappingsAndViews) {
  TestMachine machine;
  const std::string file = machine.Path("map.bin");
  ASSERT_TRUE(TestMachine::WriteBytes(file, "0123456789"));
  auto noView = [](HANDLE m, DWORD access, DWORD offset, SIZE_T size, DWORD error) {
    return FAILS_WITH(MapViewOfFile(m, access, 0, offset, size), nullptr, error);
  };
  auto noMapping = [](HANDLE h, DWORD protect, DWORD size, DWORD error) {
    return FAILS_WITH(CreateFileMappingA(h, nullptr, protect, 0, size, nullptr), nullptr, error);
  };

  HANDLE h = Open(file, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  HANDLE m = CreateFileMappingA(h, nullptr, PAGE_READONLY, 0, 0, nullptr);
  const char* view = static_cast<const char*>(MapViewOfFile(m, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(std::string(view, 10), "0123456789");
  EXPECT_TRUE(noView(m, FILE_MAP_WRITE, 0, 0, ERROR_ACCESS_DENIED)) << "writing a read-only one";
  EXPECT_TRUE(noView(m, FILE_MAP_READ, 100, 0, ERROR_MAPPED_ALIGNMENT)) << "a misaligned offset";
  EXPECT_TRUE(noMapping(h, PAGE_READWRITE, 0, ERROR_ACCESS_DENIED)) << "writable, of a reader";
  EXPECT_TRUE(noMapping(h, PAGE_READONLY, 90000, ERROR_NOT_ENOUGH_MEMORY)) << "lengthening it";

  // The mapping outlives its file handle; the file's share entry goes with the handle.
  EXPECT_TRUE(OpenFails(file, GENERIC_WRITE, kShareAll, OPEN_EXISTING, ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(view[9], '9');
  h = Open(file, GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << "the mapping alone refuses no writer";
  CloseHandle(h);
  // Windows refuses to delete a mapped file, also when only a view is left; Wine lets it go.
  EXPECT_TRUE(kWine || FAILS_WITH(DeleteFileA(file.c_str()), FALSE, ERROR_ACCESS_DENIED))
      << GetLastError();
  EXPECT_TRUE(CloseHandle(m));
  EXPECT_EQ(view[0], '0') << "the view outlives the mapping handle";
  EXPECT_TRUE(kWine || !DeleteFileA(file.c_str()));
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_TRUE(FAILS_WITH(UnmapViewOfFile(view), FALSE, ERROR_INVALID_ADDRESS)) << "unmapped twice";
  EXPECT_TRUE(DeleteFileA(file.c_str())) << "free once the views and the mapping are gone";

  // An empty file has nothing to map at its own size.
  ASSERT_TRUE(TestMachine::WriteBytes(file, ""));
  h = Open(file, GENERIC_READ | GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  EXPECT_TRUE(noMapping(h, PAGE_READONLY, 0, ERROR_FILE_INVALID));

  // A writable mapping bigger than the file lengthens it; writes through the view reach it.
  m = CreateFileMappingA(h, nullptr, PAGE_READWRITE, 0, 70000, nullptr);
  EXPECT_EQ(GetFileSize(h, nullptr), 70000u);
  char* rw = static_cast<char*>(MapViewOfFile(m, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(rw, nullptr);
  std::memcpy(rw, "written", 7);
  rw[69999] = 'Z';
  const char* tail = static_cast<const char*>(MapViewOfFile(m, FILE_MAP_READ, 0, 65536, 0));
  ASSERT_NE(tail, nullptr) << "a view at an aligned offset, to the mapping's end";
  EXPECT_EQ(tail[69999 - 65536], 'Z') << "two views of one mapping share their pages";
  EXPECT_TRUE(noView(m, FILE_MAP_READ, 65536, 10000, ERROR_ACCESS_DENIED)) << "past the mapping";
  EXPECT_TRUE(noView(m, FILE_MAP_READ, 131072, 0, ERROR_INVALID_PARAMETER)) << "starting past it";
  EXPECT_TRUE(noView(nullptr, FILE_MAP_READ, 0, 0, ERROR_INVALID_HANDLE));
  SetFilePointer(h, 100, nullptr, FILE_BEGIN);
  EXPECT_TRUE(FAILS_WITH(SetEndOfFile(h), FALSE, ERROR_USER_MAPPED_FILE)) << "cutting it";
  SetFilePointer(h, 80000, nullptr, FILE_BEGIN);
  EXPECT_TRUE(SetEndOfFile(h)) << "lengthening it is fine";
  EXPECT_TRUE(OpenFails(file, GENERIC_WRITE, kShareAll, CREATE_ALWAYS, ERROR_USER_MAPPED_FILE))
      << "a mapped file cannot be emptied";
  EXPECT_TRUE(UnmapViewOfFile(tail + 5)) << "any address inside the view names it";
  EXPECT_TRUE(UnmapViewOfFile(rw) && CloseHandle(m) && CloseHandle(h));
  std::string bytes = Read(file);
  ASSERT_EQ(bytes.size(), 80000u);
  EXPECT_EQ(bytes.substr(0, 7), "written");
  EXPECT_EQ(bytes[69999], 'Z');
  EXPECT_TRUE(FAILS_WITH(UnmapViewOfFile(&bytes), FALSE, ERROR_INVALID_ADDRESS)) << "no view";

  // A mapping of the paging file has the size it is given, zeroed, shared by its views.
  EXPECT_TRUE(noMapping(INVALID_HANDLE_VALUE, PAGE_READWRITE, 0, ERROR_INVALID_PARAMETER));
  m = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 100000, nullptr);
  rw = static_cast<char*>(MapViewOfFile(m, FILE_MAP_WRITE, 0, 0, 0));
  tail = static_cast<const char*>(MapViewOfFile(m, FILE_MAP_READ, 0, 65536, 0));
  ASSERT_TRUE(rw && tail);
  EXPECT_EQ(rw[0], 0);
  rw[65536 + 10] = 'q';
  EXPECT_EQ(tail[10], 'q');
  EXPECT_TRUE(CloseHandle(m) && UnmapViewOfFile(rw));
  EXPECT_EQ(tail[10], 'q') << "a view keeps the memory after the mapping and other views go";
  EXPECT_TRUE(UnmapViewOfFile(tail));
}

// Folders: made once, opened only as folders, removed only when empty; listings; temporary names.
TEST(Folders, MadeOpenedRemovedListedAndTemporaryNames) {
  TestMachine machine;
  const std::string dir = machine.Path("sub"), plain = dir + "\\f";
  EXPECT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  EXPECT_TRUE(FAILS_WITH(CreateDirectoryA(dir.c_str(), nullptr), FALSE, ERROR_ALREADY_EXISTS));
  ASSERT_TRUE(TestMachine::WriteBytes(plain, "x"));
  EXPECT_TRUE(FAILS_WITH(CreateDirectoryA(plain.c_str(), nullptr), FALSE, ERROR_ALREADY_EXISTS));
  EXPECT_EQ(GetFileAttributesA(dir.c_str()), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesA((dir + "\\").c_str()), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(FAILS_WITH(DeleteFileA(dir.c_str()), FALSE, ERROR_ACCESS_DENIED));

  // Backup semantics open a folder, which then has no data and is never emptied.
  EXPECT_TRUE(OpenFails(dir, GENERIC_READ, kShareAll, OPEN_EXISTING, ERROR_ACCESS_DENIED));
  EXPECT_TRUE(OpenFails(dir, GENERIC_WRITE, kShareAll, OPEN_ALWAYS, ERROR_ACCESS_DENIED));
  for (DWORD disposition : {(DWORD)CREATE_NEW, (DWORD)CREATE_ALWAYS, (DWORD)TRUNCATE_EXISTING})
    EXPECT_TRUE(OpenFails(dir, GENERIC_WRITE, kShareAll, disposition, ERROR_FILE_EXISTS,
                          FILE_FLAG_BACKUP_SEMANTICS))
        << disposition;
  HANDLE h = Open(dir, 0, kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  h = Open(dir, GENERIC_READ, kShareAll, OPEN_ALWAYS, FILE_FLAG_BACKUP_SEMANTICS);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
  char buf[4];
  DWORD n = 0;
  EXPECT_TRUE(FAILS_WITH(ReadFile(h, buf, sizeof buf, &n, nullptr), FALSE, ERROR_INVALID_FUNCTION));
  CloseHandle(h);

  // A trailing separator says "folder": a file named so is not found as one.
  EXPECT_TRUE(OpenFails(plain + "\\", GENERIC_READ, kShareAll, OPEN_EXISTING, ERROR_INVALID_NAME));
  EXPECT_TRUE(OpenFails(dir + "\\new\\", GENERIC_WRITE, kShareAll, CREATE_NEW, ERROR_INVALID_NAME));
  EXPECT_TRUE(FAILS_WITH(GetFileAttributesA((plain + "\\").c_str()), INVALID_FILE_ATTRIBUTES,
                         ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(FAILS_WITH(DeleteFileA((plain + "\\").c_str()), FALSE, ERROR_INVALID_NAME));
  EXPECT_EQ(Read(plain), "x");

  EXPECT_TRUE(FAILS_WITH(RemoveDirectoryA(dir.c_str()), FALSE, ERROR_DIR_NOT_EMPTY));
  EXPECT_TRUE(FAILS_WITH(RemoveDirectoryA(plain.c_str()), FALSE, ERROR_DIRECTORY));
  ASSERT_TRUE(DeleteFileA(plain.c_str()));
  EXPECT_TRUE(RemoveDirectoryA(dir.c_str()));
  EXPECT_FALSE(TestMachine::Exists(dir));

  ASSERT_TRUE(CreateDirectoryA(machine.Path("sub").c_str(), nullptr));
  ASSERT_TRUE(TestMachine::WriteBytes(machine.Path("sub\\a.txt"), "a"));
  ASSERT_TRUE(TestMachine::WriteBytes(machine.Path("sub\\NoDot"), "bb"));
  ASSERT_TRUE(CreateDirectoryA(machine.Path("sub\\inner").c_str(), nullptr));
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(machine.Path("sub\\*.*").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  std::map<std::string, DWORD> seen;  // each name's size, or kFolder
  const DWORD kFolder = 0xFFFFFFFF;
  do {
    seen[data.cFileName] =
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? kFolder : data.nFileSizeLow;
  } while (FindNextFileA(find, &data));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
  EXPECT_TRUE(FindClose(find));
  EXPECT_EQ(seen,
            (std::map<std::string, DWORD>{
                {".", kFolder}, {"..", kFolder}, {"a.txt", 1}, {"NoDot", 2}, {"inner", kFolder}}));

  EXPECT_TRUE(FAILS_WITH(FindFirstFileA(machine.Path("sub\\*.zip").c_str(), &data),
                         INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(FAILS_WITH(FindFirstFileA(machine.Path("none\\*.*").c_str(), &data),
                         INVALID_HANDLE_VALUE, ERROR_PATH_NOT_FOUND));

  // A temporary name with a number given is only formed; the temporary folder ends in a separator.
  char name[MAX_PATH], temp[MAX_PATH];
  EXPECT_EQ(GetTempFileNameA(machine.Dir().c_str(), "PWSX", 0x1234ABCD, name), 0xABCDu);
  EXPECT_EQ(lstrcmpiA(name, (machine.Dir() + "\\PWSABCD.tmp").c_str()), 0) << name;
  EXPECT_FALSE(TestMachine::Exists(name));
  DWORD length = GetTempPathA(sizeof temp, temp);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(temp[length - 1], '\\');
  EXPECT_EQ(GetTempPathA(2, temp), length + 1) << "the size needed";
}

#ifndef _WIN32

// FUNCTION ARGS, failed by a knob on its next call, gives its failure value and the knob's error.
#define FAILS_BY_KNOB(function, args, failure)                                       \
  (winsim::SetFault(#function, winsim::CallCount(#function) + 1, ERROR_WRITE_FAULT), \
   FAILS_WITH(function args, failure, ERROR_WRITE_FAULT))

// Each file call failed by a knob (SystemHost.FaultKnobs) gives its failure value, changes nothing.
TEST(FilesHost, FailuresOfEachCallAndOfTheHost) {
  TestMachine machine;
  const std::string file = machine.Path("f.txt");
  ASSERT_TRUE(TestMachine::WriteBytes(file, "1"));
  winsim::SetFault("CreateFileA", winsim::CallCount("CreateFileA") + 1, ERROR_DISK_FULL);
  EXPECT_TRUE(OpenFails(file, GENERIC_READ, kShareAll, OPEN_EXISTING, ERROR_DISK_FULL));
  HANDLE h = Open(file, GENERIC_READ | GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  DWORD n = 0;
  EXPECT_TRUE(FAILS_BY_KNOB(WriteFile, (h, "x", 1, &n, nullptr), FALSE));
  EXPECT_TRUE(FAILS_BY_KNOB(GetFileAttributesA, (file.c_str()), INVALID_FILE_ATTRIBUTES));
  EXPECT_TRUE(FAILS_BY_KNOB(SetFilePointer, (h, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER));
  EXPECT_TRUE(FAILS_BY_KNOB(GetFileSize, (h, nullptr), INVALID_FILE_SIZE));
  EXPECT_TRUE(
      FAILS_BY_KNOB(CreateFileMappingA, (h, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr));
  EXPECT_TRUE(FAILS_BY_KNOB(CloseHandle, (h), FALSE));
  EXPECT_TRUE(CloseHandle(h)) << "a refused close left the handle open";
  EXPECT_TRUE(FAILS_BY_KNOB(DeleteFileA, (file.c_str()), FALSE));
  EXPECT_EQ(Read(file), "1");
  winsim::ClearFaults();

  // A failure of the host's own becomes the Windows error: /dev/full answers writes with ENOSPC.
  h = Open("Z:\\dev\\full", GENERIC_WRITE, kShareAll, OPEN_EXISTING);
  n = 99;
  EXPECT_TRUE(FAILS_WITH(WriteFile(h, "data", 4, &n, nullptr), FALSE, ERROR_DISK_FULL));
  EXPECT_EQ(n, 0u);
  CloseHandle(h);
}

#endif
