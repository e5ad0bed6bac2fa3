/*
 * Folders and whole files: removing folders, listing them (FindFirstFileA and friends), copying
 * files, and the temporary folder and names. Copies obey the same rules as CreateFileA: a
 * read-only target or one that another open refuses to share is left as it was.
 */
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/handles.h"
#include "platform/posix/machine.h"

using winsim::detail::ErrorFromErrno;
using winsim::detail::Fail;
using winsim::detail::ResolvedPath;

namespace {

bool IsReadOnly(const struct stat& st) { return !S_ISDIR(st.st_mode) && !(st.st_mode & S_IWUSR); }

bool Earlier(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

bool IsDriveRoot(const std::string& windows) { return windows.size() == 3; }  // "C:\"

/* ---- Listings ---- */

struct FindObject : winsim::detail::KernelObject {
  std::string hostDir;
  std::vector<std::string> names;  // taken when the listing opens
  size_t next = 0;
};

// Windows' wildcard match without regard to case: '*' any run, '?' any one character.
bool Match(const char* name, const char* mask) {
  if (!*mask) return !*name;
  if (*mask == '*') {
    while (*mask == '*') ++mask;
    if (!*mask) return true;
    for (const char* p = name; *p; ++p)
      if (Match(p, mask)) return true;
    return Match("", mask);
  }
  if (!*name) return std::strcmp(mask, ".") == 0 || std::strcmp(mask, ".*") == 0;
  if (*mask == '?' || winsim::detail::FoldUpper1252((unsigned char)*mask) ==
                          winsim::detail::FoldUpper1252((unsigned char)*name))
    return Match(name + 1, mask + 1);
  return false;
}

void FillFindData(const std::string& hostDir, const std::string& name, LPWIN32_FIND_DATAA data) {
  std::memset(data, 0, sizeof *data);
  struct stat st;
  std::string host = name == "." ? hostDir : name == ".." ? hostDir + "/.." : hostDir + "/" + name;
  if (stat(host.c_str(), &st) == 0) {
    data->dwFileAttributes =
        S_ISDIR(st.st_mode)
            ? FILE_ATTRIBUTE_DIRECTORY
            : FILE_ATTRIBUTE_ARCHIVE | (IsReadOnly(st) ? FILE_ATTRIBUTE_READONLY : 0);
    uint64_t size = S_ISDIR(st.st_mode) ? 0 : (uint64_t)st.st_size;
    data->nFileSizeHigh = (DWORD)(size >> 32);
    data->nFileSizeLow = (DWORD)size;
    auto store = [](FILETIME* ft, const struct timespec& ts) {
      uint64_t v = winsim::detail::FileTimeFromUnix(ts.tv_sec, ts.tv_nsec);
      ft->dwLowDateTime = (DWORD)v;
      ft->dwHighDateTime = (DWORD)(v >> 32);
    };
    store(&data->ftCreationTime, Earlier(st.st_mtim, st.st_ctim) ? st.st_mtim : st.st_ctim);
    store(&data->ftLastAccessTime, st.st_atim);
    store(&data->ftLastWriteTime, st.st_mtim);
  } else {
    data->dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
  }
  std::snprintf(data->cFileName, sizeof data->cFileName, "%s", name.c_str());
}

/* ---- Copies ---- */

struct OpenFile {
  int fd = -1;
  winsim::detail::ShareToken share = 0;
  ~OpenFile() {
    winsim::detail::ShareClose(share);
    if (fd >= 0) close(fd);
  }
  DWORD Admit(DWORD access, DWORD shareMode) {
    struct stat st;
    if (fstat(fd, &st) != 0) return ErrorFromErrno(errno);
    return winsim::detail::ShareOpen(winsim::detail::FileKey{st.st_dev, st.st_ino},
                                     winsim::detail::DataAccessOf(access), shareMode, &share);
  }
};

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= (size_t)n;
  }
  return true;
}

}  // namespace

extern "C" BOOL WINAPI RemoveDirectoryA(LPCSTR name) {
  WINSIM_FAULT_POINT(FALSE, ERROR_DIR_NOT_EMPTY, ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED);
  ResolvedPath path;
  if (DWORD err = winsim::detail::ResolvePath(name, &path)) return Fail(err, FALSE);
  if (!path.exists) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  if (!path.isDir) return Fail(ERROR_DIRECTORY, FALSE);
  if (IsDriveRoot(path.windows)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (rmdir(path.host.c_str()) != 0)
    return Fail(errno == EEXIST ? (DWORD)ERROR_DIR_NOT_EMPTY : ErrorFromErrno(errno), FALSE);
  return TRUE;
}

extern "C" HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
  WINSIM_FAULT_POINT(INVALID_HANDLE_VALUE, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED);
  if (!pattern || !data) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  std::string all(pattern);
  size_t cut = all.find_last_of("\\/");
  std::string folder, mask;
  if (cut == std::string::npos) {
    bool drive = all.size() >= 2 && all[1] == ':';
    folder = drive ? all.substr(0, 2) : ".";
    mask = drive ? all.substr(2) : all;
  } else {
    folder = all.substr(0, cut + 1);
    mask = all.substr(cut + 1);
  }
  if (mask.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
  // The folder part is looked up by itself: its wildcards, if any, are no wildcards there.
  ResolvedPath dir;
  if (DWORD err = winsim::detail::ResolvePath(folder.c_str(), &dir))
    return Fail(err, INVALID_HANDLE_VALUE);
  if (!dir.exists || !dir.isDir) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);

  auto find = std::make_shared<FindObject>();
  find->hostDir = dir.host;
  std::vector<std::string> names;
  if (!IsDriveRoot(dir.windows)) names = {".", ".."};
  DIR* d = opendir(dir.host.c_str());
  if (!d) return Fail(ErrorFromErrno(errno), INVALID_HANDLE_VALUE);
  std::vector<std::string> entries;
  while (struct dirent* e = readdir(d)) {
    std::string entry = e->d_name;
    if (entry != "." && entry != "..") entries.push_back(entry);
  }
  closedir(d);
  // In the order NTFS keeps names: without regard to case.
  std::sort(entries.begin(), entries.end(), [](const std::string& a, const std::string& b) {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
      unsigned char x = winsim::detail::FoldUpper1252((unsigned char)a[i]);
      unsigned char y = winsim::detail::FoldUpper1252((unsigned char)b[i]);
      if (x != y) return x < y;
    }
    return a.size() < b.size();
  });
  names.insert(names.end(), entries.begin(), entries.end());
  for (const std::string& n : names)
    if (Match(n.c_str(), mask.c_str())) find->names.push_back(n);
  if (find->names.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
  FillFindData(find->hostDir, find->names[0], data);
  find->next = 1;
  SetLastError(0);
  return winsim::detail::AddHandle(find);
}

extern "C" BOOL WINAPI FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA data) {
  WINSIM_FAULT_POINT(FALSE, ERROR_NOT_ENOUGH_MEMORY, ERROR_ACCESS_DENIED);
  auto find = winsim::detail::FindObject<FindObject>(handle);
  if (!find) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!data) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (find->next >= find->names.size()) return Fail(ERROR_NO_MORE_FILES, FALSE);
  FillFindData(find->hostDir, find->names[find->next++], data);
  return TRUE;
}

extern "C" BOOL WINAPI FindClose(HANDLE handle) {
  WINSIM_FAULT_POINT(FALSE, ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED);
  if (!winsim::detail::FindObject<FindObject>(handle)) return Fail(ERROR_INVALID_HANDLE, FALSE);
  winsim::detail::RemoveHandle(handle);
  return TRUE;
}

extern "C" BOOL WINAPI CopyFileA(LPCSTR existing, LPCSTR target, BOOL failIfExists) {
  WINSIM_FAULT_POINT(FALSE, ERROR_SHARING_VIOLATION, ERROR_DISK_FULL, ERROR_ACCESS_DENIED);
  ResolvedPath from, to;
  if (DWORD err = winsim::detail::ResolvePath(existing, &from)) return Fail(err, FALSE);
  if (!from.exists) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  if (from.isDir) return Fail(ERROR_ACCESS_DENIED, FALSE);
  OpenFile source;
  source.fd = open(from.host.c_str(), O_RDONLY | O_CLOEXEC);
  if (source.fd < 0) return Fail(ErrorFromErrno(errno), FALSE);
  if (DWORD err = source.Admit(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE))
    return Fail(err, FALSE);
  struct stat st;
  if (fstat(source.fd, &st) != 0) return Fail(ErrorFromErrno(errno), FALSE);

  if (DWORD err = winsim::detail::ResolvePath(target, &to)) return Fail(err, FALSE);
  OpenFile dest;
  const bool existed = to.exists;
  if (existed) {
    if (failIfExists) return Fail(ERROR_FILE_EXISTS, FALSE);
    struct stat now;
    if (to.isDir || stat(to.host.c_str(), &now) != 0 || IsReadOnly(now))
      return Fail(ERROR_ACCESS_DENIED, FALSE);
    dest.fd = open(to.host.c_str(), O_WRONLY | O_CLOEXEC);
  } else {
    if (to.trailingSeparator) return Fail(ERROR_INVALID_NAME, FALSE);
    dest.fd = open(to.host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  }
  if (dest.fd < 0) return Fail(ErrorFromErrno(errno), FALSE);
  // The target is admitted before anything of it changes: a refused one keeps its content.
  if (DWORD err = dest.Admit(GENERIC_WRITE, 0)) {
    if (!existed) unlink(to.host.c_str());
    return Fail(err, FALSE);
  }
  if (ftruncate(dest.fd, 0) != 0) return Fail(ErrorFromErrno(errno), FALSE);
  char buf[65536];
  for (;;) {
    ssize_t n = read(source.fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(ErrorFromErrno(errno, ERROR_READ_FAULT), FALSE);
    if (n == 0) break;
    if (!WriteAll(dest.fd, buf, (size_t)n))
      return Fail(ErrorFromErrno(errno, ERROR_DISK_FULL), FALSE);
  }
  // The copy keeps the source's last-write time and its read-only attribute, as Windows' does.
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  futimens(dest.fd, times);
  fchmod(dest.fd, IsReadOnly(st) ? 0444 : 0644);
  SetLastError(existed ? ERROR_ALREADY_EXISTS : 0);
  return TRUE;
}

extern "C" DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer) {
  WINSIM_FAULT_POINT(0u, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED);
  std::string path = winsim::detail::Setting("windows", "temp", "C:\\WINDOWS\\TEMP");
  if (path.empty() || path.back() != '\\') path += '\\';
  if (!buffer || path.size() >= size) return (DWORD)path.size() + 1;
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return (DWORD)path.size();
}

extern "C" UINT WINAPI GetTempFileNameA(LPCSTR path, LPCSTR prefix, UINT unique, LPSTR buffer) {
  WINSIM_FAULT_POINT(0u, ERROR_FILE_EXISTS, ERROR_DISK_FULL, ERROR_ACCESS_DENIED);
  if (!path || !buffer) return Fail(ERROR_INVALID_PARAMETER, 0u);
  // The name needs up to 14 more characters (backslash, prefix, four digits, ".tmp", NUL).
  if (std::strlen(path) > MAX_PATH - 14) return Fail(ERROR_BUFFER_OVERFLOW, 0u);
  std::string base(path);
  if (base.empty() || base.back() != '\\') base += '\\';
  if (prefix) base += std::string(prefix).substr(0, 3);
  // The folder must exist, even when a given number means nothing is created in it.
  ResolvedPath dir;
  if (winsim::detail::ResolvePath(path, &dir) != 0 || !dir.exists || !dir.isDir)
    return Fail(ERROR_DIRECTORY, 0u);
  unique &= 0xFFFF;
  char digits[16];
  if (unique) {
    // A given number only forms the name: no file is created or looked for.
    std::snprintf(digits, sizeof digits, "%X.tmp", unique);
    std::snprintf(buffer, MAX_PATH, "%s%s", base.c_str(), digits);
    return unique;
  }
  UINT start = (GetTickCount() & 0xFFFF) ? (GetTickCount() & 0xFFFF) : 1;
  UINT number = start;
  do {
    std::snprintf(digits, sizeof digits, "%X.tmp", number);
    std::string name = base + digits;
    ResolvedPath file;
    if (DWORD err = winsim::detail::ResolvePath(name.c_str(), &file)) return Fail(err, 0u);
    int fd = open(file.host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      close(fd);
      std::snprintf(buffer, MAX_PATH, "%s", name.c_str());
      return number;
    }
    if (errno != EEXIST) return Fail(ErrorFromErrno(errno), 0u);
    number = number == 0xFFFF ? 1 : number + 1;
  } while (number != start);
  return Fail(ERROR_FILE_EXISTS, 0u);
}
