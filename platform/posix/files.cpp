/*
 * Files and folders: CreateFileA and the calls on its handles, attributes, folders, deletion and
 * file times. The read-only attribute is the file's owner-write permission bit being clear; the
 * layer enforces it itself, because the kernel lets root write anyway.
 */
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/posix/handles.h"
#include "platform/posix/machine.h"

using winsim::detail::DataAccess;
using winsim::detail::ErrorFromErrno;
using winsim::detail::Fail;
using winsim::detail::FileObject;
using winsim::detail::FindObject;
using winsim::detail::ResolvedPath;

namespace {

bool IsReadOnly(const struct stat& st) { return !S_ISDIR(st.st_mode) && !(st.st_mode & S_IWUSR); }

// Opens the host object and enters it in the share ledger; 0 or the Windows error.
DWORD Admit(FileObject* file, int flags, DWORD share) {
  file->fd = open(file->hostPath.c_str(), flags | O_CLOEXEC, 0666);
  if (file->fd < 0 && errno == EACCES && !file->data.Any() && !(flags & O_CREAT))
    file->fd = open(file->hostPath.c_str(), O_PATH | O_CLOEXEC);  // attribute queries only
  if (file->fd < 0) return ErrorFromErrno(errno);
  struct stat st;
  if (fstat(file->fd, &st) != 0) return ErrorFromErrno(errno);
  file->key = winsim::detail::FileKey{st.st_dev, st.st_ino};
  file->isDir = S_ISDIR(st.st_mode);
  return winsim::detail::ShareOpen(file->key, file->data, share, &file->share);
}

std::shared_ptr<FileObject> FileOf(HANDLE handle) {
  auto file = FindObject<FileObject>(handle);
  if (!file) SetLastError(ERROR_INVALID_HANDLE);
  return file;
}

}  // namespace

extern "C" HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share,
                                     LPSECURITY_ATTRIBUTES sa, DWORD disposition, DWORD flags,
                                     HANDLE tmpl) {
  WINSIM_FAULT_POINT(INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND, ERROR_SHARING_VIOLATION, ERROR_DISK_FULL, ERROR_ACCESS_DENIED);
  (void)sa;    // any security record is accepted; the machine has no ACLs
  (void)tmpl;  // template attributes beyond read-only are not kept on the host
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING)
    return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  ResolvedPath path;
  if (DWORD err = winsim::detail::ResolvePath(name, &path)) return Fail(err, INVALID_HANDLE_VALUE);

  auto file = std::make_shared<FileObject>();
  file->hostPath = path.host;
  file->access = access;
  file->data = winsim::detail::DataAccessOf(access);
  const bool truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
  const int sync = (flags & FILE_FLAG_WRITE_THROUGH) ? O_DSYNC : 0;
  // A handle that deletes its file on close takes part in sharing as a deleter.
  if (flags & FILE_FLAG_DELETE_ON_CLOSE) file->data.del = true;
  // Only a handle actually handed out may delete its file when closed: a refused open of an
  // existing file must leave that file alone.
  auto handOut = [&](DWORD lastError) {
    file->deleteOnClose = (flags & FILE_FLAG_DELETE_ON_CLOSE) != 0;
    SetLastError(lastError);
    return winsim::detail::AddHandle(file);
  };

  // Shared while an existing file is opened, exclusive while one is made: see CreationLock.
  winsim::detail::CreationLock creation(!path.exists && disposition != OPEN_EXISTING &&
                                        disposition != TRUNCATE_EXISTING);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (path.exists) {
      if (disposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
      if (path.isDir) {
        if (!(flags & FILE_FLAG_BACKUP_SEMANTICS))
          return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        if (truncate)
          return Fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);  // a folder is not emptied
        if (DWORD err = Admit(file.get(), O_RDONLY | O_DIRECTORY, share))
          return Fail(err, INVALID_HANDLE_VALUE);
        return handOut(disposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS : 0);
      }
      if (path.trailingSeparator) return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
      struct stat st;
      if (stat(path.host.c_str(), &st) != 0)
        return Fail(ErrorFromErrno(errno), INVALID_HANDLE_VALUE);
      if (IsReadOnly(st) && (file->data.write || truncate))
        return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
      int mode = (file->data.write || truncate) ? O_RDWR : O_RDONLY;
      if (DWORD err = Admit(file.get(), mode | sync, share)) return Fail(err, INVALID_HANDLE_VALUE);
      if (truncate) {
        // Cutting a file under a live view would leave the view's pages without backing.
        if (winsim::detail::ShareIsMapped(file->key))
          return Fail(ERROR_USER_MAPPED_FILE, INVALID_HANDLE_VALUE);
        if (ftruncate(file->fd, 0) != 0) return Fail(ErrorFromErrno(errno), INVALID_HANDLE_VALUE);
        if (disposition == CREATE_ALWAYS && (flags & FILE_ATTRIBUTE_READONLY))
          fchmod(file->fd, 0444);
      }
      bool existedNote = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
      return handOut(existedNote ? ERROR_ALREADY_EXISTS : 0);
    }

    if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)
      return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    if (path.trailingSeparator) return Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
    DWORD err = Admit(file.get(), O_RDWR | O_CREAT | O_EXCL | sync, share);
    if (err == ERROR_ALREADY_EXISTS && file->fd < 0) {
      // Another creator won the race: go again as an open of the existing file.
      path.exists = true;
      continue;
    }
    if (err) {
      if (file->fd >= 0) unlink(path.host.c_str());
      return Fail(err == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : err, INVALID_HANDLE_VALUE);
    }
    fchmod(file->fd, (flags & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644);
    return handOut(0);
  }
  return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
}

extern "C" BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read,
                                LPOVERLAPPED ov) {
  WINSIM_FAULT_POINT(FALSE, ERROR_READ_FAULT, ERROR_ACCESS_DENIED);
  (void)ov;  // host handles are synchronous; OVERLAPPED is opaque here
  if (read) *read = 0;
  auto file = FileOf(handle);
  if (!file) return FALSE;
  if (file->isDir) return Fail(ERROR_INVALID_FUNCTION, FALSE);
  if (!file->data.read) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (toRead && !buffer) return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
  DWORD done = 0;
  while (done < toRead) {
    ssize_t n = ::read(file->fd, static_cast<char*>(buffer) + done, toRead - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (read) *read = done;
      return Fail(ErrorFromErrno(errno, ERROR_READ_FAULT), FALSE);
    }
    if (n == 0) break;  // end of file: success with what there was
    done += (DWORD)n;
  }
  if (read) *read = done;
  return TRUE;
}

extern "C" BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written,
                                 LPOVERLAPPED ov) {
  WINSIM_FAULT_POINT(FALSE, ERROR_DISK_FULL, ERROR_ACCESS_DENIED);
  (void)ov;
  if (written) *written = 0;
  auto file = FileOf(handle);
  if (!file) return FALSE;
  if (file->isDir) return Fail(ERROR_INVALID_FUNCTION, FALSE);
  if (!file->data.write) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (toWrite && !buffer) return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
  DWORD done = 0;
  while (done < toWrite) {
    ssize_t n = ::write(file->fd, static_cast<const char*>(buffer) + done, toWrite - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (written) *written = done;
      return Fail(ErrorFromErrno(n < 0 ? errno : ENOSPC, ERROR_WRITE_FAULT), FALSE);
    }
    done += (DWORD)n;
  }
  if (written) *written = done;
  return TRUE;
}

extern "C" DWORD WINAPI SetFilePointer(HANDLE handle, LONG distance, PLONG distanceHigh,
                                       DWORD method) {
  WINSIM_FAULT_POINT(INVALID_SET_FILE_POINTER, ERROR_NEGATIVE_SEEK, ERROR_ACCESS_DENIED);
  auto file = FileOf(handle);
  if (!file) return INVALID_SET_FILE_POINTER;
  int64_t move = distanceHigh
                     ? (int64_t)(((uint64_t)(uint32_t)*distanceHigh << 32) | (uint32_t)distance)
                     : (int64_t)distance;
  int whence = method == FILE_BEGIN     ? SEEK_SET
               : method == FILE_CURRENT ? SEEK_CUR
               : method == FILE_END     ? SEEK_END
                                        : -1;
  if (whence < 0) return Fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
  int64_t base = 0;
  if (whence == SEEK_CUR) base = lseek(file->fd, 0, SEEK_CUR);
  if (whence == SEEK_END) {
    struct stat st;
    base = fstat(file->fd, &st) == 0 ? st.st_size : -1;
  }
  if (base < 0) return Fail(ErrorFromErrno(errno), INVALID_SET_FILE_POINTER);
  // Overflow of base + move is a position no file can have.
  if ((move > 0 && base > INT64_MAX - move) || base + move < 0)
    return Fail(ERROR_NEGATIVE_SEEK, INVALID_SET_FILE_POINTER);
  off_t pos = lseek(file->fd, base + move, SEEK_SET);
  if (pos < 0) return Fail(ErrorFromErrno(errno), INVALID_SET_FILE_POINTER);
  if (distanceHigh) *distanceHigh = (LONG)((uint64_t)pos >> 32);
  // A real position whose low part is 0xFFFFFFFF must be told apart from the failure value.
  if ((DWORD)pos == INVALID_SET_FILE_POINTER) SetLastError(0);
  return (DWORD)pos;
}

extern "C" BOOL WINAPI SetEndOfFile(HANDLE handle) {
  WINSIM_FAULT_POINT(FALSE, ERROR_DISK_FULL, ERROR_ACCESS_DENIED);
  auto file = FileOf(handle);
  if (!file) return FALSE;
  if (file->isDir || !file->data.write) return Fail(ERROR_ACCESS_DENIED, FALSE);
  off_t pos = lseek(file->fd, 0, SEEK_CUR);
  struct stat st;
  if (pos < 0 || fstat(file->fd, &st) != 0) return Fail(ErrorFromErrno(errno), FALSE);
  if (pos < st.st_size && winsim::detail::ShareIsMapped(file->key))
    return Fail(ERROR_USER_MAPPED_FILE, FALSE);
  if (ftruncate(file->fd, pos) != 0) return Fail(ErrorFromErrno(errno), FALSE);
  return TRUE;
}

extern "C" DWORD WINAPI GetFileSize(HANDLE handle, LPDWORD sizeHigh) {
  WINSIM_FAULT_POINT(INVALID_FILE_SIZE, ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED);
  auto file = FileOf(handle);
  if (!file) return INVALID_FILE_SIZE;
  struct stat st;
  if (fstat(file->fd, &st) != 0) return Fail(ErrorFromErrno(errno), INVALID_FILE_SIZE);
  uint64_t size = file->isDir ? 0 : (uint64_t)st.st_size;
  if (sizeHigh) *sizeHigh = (DWORD)(size >> 32);
  if ((DWORD)size == INVALID_FILE_SIZE) SetLastError(0);
  return (DWORD)size;
}

extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR name) {
  WINSIM_FAULT_POINT(INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED);
  ResolvedPath path;
  if (DWORD err = winsim::detail::ResolvePath(name, &path))
    return Fail(err, INVALID_FILE_ATTRIBUTES);
  struct stat st;
  if (!path.exists || stat(path.host.c_str(), &st) != 0)
    return Fail(ERROR_FILE_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
  if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  if (path.trailingSeparator) return Fail(ERROR_PATH_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
  return FILE_ATTRIBUTE_ARCHIVE | (IsReadOnly(st) ? FILE_ATTRIBUTE_READONLY : 0);
}

extern "C" BOOL WINAPI SetFileAttributesA(LPCSTR name, DWORD attributes) {
  WINSIM_FAULT_POINT(FALSE, ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED);
  ResolvedPath path;
  if (DWORD err = winsim::detail::ResolvePath(name, &path)) return Fail(err, FALSE);
  struct stat st;
  if (!path.exists || stat(path.host.c_str(), &st) != 0) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  // Folders take the attribute on Windows without it refusing anything; on the host a folder
  // without write permission would refuse new entries for other users, so folders keep theirs.
  if (S_ISDIR(st.st_mode)) return TRUE;
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~0222) : (mode | S_IWUSR);
  if (chmod(path.host.c_str(), mode) != 0) return Fail(ErrorFromErrno(errno), FALSE);
  return TRUE;
}

extern "C" BOOL WINAPI CreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES sa) {
  WINSIM_FAULT_POINT(FALSE, ERROR_ALREADY_EXISTS, ERROR_DISK_FULL, ERROR_ACCESS_DENIED);
  (void)sa;
  ResolvedPath path;
  if (DWORD err = winsim::detail::ResolvePath(name, &path)) return Fail(err, FALSE);
  if (path.exists) return Fail(ERROR_ALREADY_EXISTS, FALSE);
  if (mkdir(path.host.c_str(), 0755) != 0) return Fail(ErrorFromErrno(errno), FALSE);
  return TRUE;
}

extern "C" BOOL WINAPI DeleteFileA(LPCSTR name) {
  WINSIM_FAULT_POINT(FALSE, ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED);
  ResolvedPath path;
  if (DWORD err = winsim::detail::ResolvePath(name, &path)) return Fail(err, FALSE);
  struct stat st;
  if (!path.exists || lstat(path.host.c_str(), &st) != 0) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  if (path.isDir) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (path.trailingSeparator) return Fail(ERROR_INVALID_NAME, FALSE);
  // Windows opens the file for DELETE first (the share check), then asks for the deletion (the
  // read-only check): a read-only file held open without FILE_SHARE_DELETE is a sharing error.
  DWORD err = winsim::detail::ShareDelete(winsim::detail::FileKey{st.st_dev, st.st_ino}, [&] {
    struct stat now;
    if (stat(path.host.c_str(), &now) == 0 && IsReadOnly(now)) return (DWORD)ERROR_ACCESS_DENIED;
    return unlink(path.host.c_str()) == 0 ? (DWORD)0 : ErrorFromErrno(errno);
  });
  if (err) return Fail(err, FALSE);
  return TRUE;
}

namespace {

struct timespec TimespecOf(const FILETIME* ft) {
  struct timespec ts;
  uint64_t value = ((uint64_t)ft->dwHighDateTime << 32) | ft->dwLowDateTime;
  // 0 leaves the time alone, and so does all-ones (which Windows uses to stop updates).
  if (value == 0 || value == UINT64_MAX) {
    ts.tv_sec = 0;
    ts.tv_nsec = UTIME_OMIT;
    return ts;
  }
  int64_t sec;
  long nsec;
  winsim::detail::UnixFromFileTime(value, &sec, &nsec);
  ts.tv_sec = (time_t)sec;
  ts.tv_nsec = nsec;
  return ts;
}

void StoreFileTime(LPFILETIME out, const struct timespec& ts) {
  if (!out) return;
  uint64_t v = winsim::detail::FileTimeFromUnix(ts.tv_sec, ts.tv_nsec);
  out->dwLowDateTime = (DWORD)v;
  out->dwHighDateTime = (DWORD)(v >> 32);
}

}  // namespace

extern "C" BOOL WINAPI SetFileTime(HANDLE handle, const FILETIME* creation, const FILETIME* access,
                                   const FILETIME* write) {
  WINSIM_FAULT_POINT(FALSE, ERROR_ACCESS_DENIED);
  (void)creation;  // the host keeps no settable creation time
  auto file = FileOf(handle);
  if (!file) return FALSE;
  if (!file->data.write) return Fail(ERROR_ACCESS_DENIED, FALSE);
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = 0;
  times[0].tv_nsec = times[1].tv_nsec = UTIME_OMIT;
  if (access) times[0] = TimespecOf(access);
  if (write) times[1] = TimespecOf(write);
  if (futimens(file->fd, times) != 0) return Fail(ErrorFromErrno(errno), FALSE);
  return TRUE;
}

extern "C" BOOL WINAPI GetFileTime(HANDLE handle, LPFILETIME creation, LPFILETIME access,
                                   LPFILETIME write) {
  WINSIM_FAULT_POINT(FALSE, ERROR_ACCESS_DENIED);
  auto file = FileOf(handle);
  if (!file) return FALSE;
  struct stat st;
  if (fstat(file->fd, &st) != 0) return Fail(ErrorFromErrno(errno), FALSE);
  // The creation time is the older of change and modification times: the host has no birth time
  // that every file system keeps, and a creation later than the last write would look wrong.
  struct timespec born = st.st_ctim;
  if (st.st_mtim.tv_sec < born.tv_sec ||
      (st.st_mtim.tv_sec == born.tv_sec && st.st_mtim.tv_nsec < born.tv_nsec))
    born = st.st_mtim;
  StoreFileTime(creation, born);
  StoreFileTime(access, st.st_atim);
  StoreFileTime(write, st.st_mtim);
  return TRUE;
}
