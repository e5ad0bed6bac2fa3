/*
 * MoveFileExA, which callers reach through GetProcAddress only (old Windows lacks it). A move
 * now renames within a drive (or copies across drives when allowed) under the same share and
 * read-only rules as DeleteFileA. A move delayed until the next start is appended where Windows
 * keeps it: HKLM "SYSTEM\CurrentControlSet\Control\Session Manager", value
 * PendingFileRenameOperations (REG_MULTI_SZ), as pairs of "\??\source" and "!\??\target" ("!"
 * for MOVEFILE_REPLACE_EXISTING; an empty target deletes the source), ended by an empty string.
 * `winsim boot` carries them out.
 */
#include "platform/posix/moves.h"

#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "platform/posix/machine.h"
#include "platform/posix/share.h"

using winsim::detail::ErrorFromErrno;
using winsim::detail::Fail;
using winsim::detail::ResolvedPath;

namespace {

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingValue[] = "PendingFileRenameOperations";

char DriveOf(const ResolvedPath& path) { return path.windows.empty() ? '\0' : path.windows[0]; }

bool IsReadOnly(const struct stat& st) { return !S_ISDIR(st.st_mode) && !(st.st_mode & S_IWUSR); }

BOOL AddPendingOperation(const ResolvedPath& source, const ResolvedPath* target, DWORD flags) {
  HKEY key;
  LONG err = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, nullptr, 0,
                             KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr);
  if (err != ERROR_SUCCESS) return Fail((DWORD)err, FALSE);
  std::string list;
  DWORD type = 0, size = 0;
  // Operations already waiting must never be lost: a list that can't be read fails the call.
  err = RegQueryValueExA(key, kPendingValue, nullptr, &type, nullptr, &size);
  if (err == ERROR_SUCCESS && type == REG_MULTI_SZ && size > 0) {
    list.resize(size);
    err = RegQueryValueExA(key, kPendingValue, nullptr, &type, reinterpret_cast<BYTE*>(&list[0]),
                           &size);
  }
  if (err != ERROR_SUCCESS && err != ERROR_FILE_NOT_FOUND) {
    RegCloseKey(key);
    return Fail((DWORD)err, FALSE);
  }
  if (!list.empty()) {
    list.resize(size);
    if (!list.empty() && list.back() == '\0') list.pop_back();  // the closing empty string
  }
  list += "\\??\\" + source.windows + '\0';
  if (target)
    list +=
        std::string((flags & MOVEFILE_REPLACE_EXISTING) ? "!" : "") + "\\??\\" + target->windows;
  list += '\0';
  list += '\0';
  err = RegSetValueExA(key, kPendingValue, 0, REG_MULTI_SZ,
                       reinterpret_cast<const BYTE*>(list.data()), (DWORD)list.size());
  RegCloseKey(key);
  if (err != ERROR_SUCCESS) return Fail((DWORD)err, FALSE);
  return TRUE;
}

// Renames from onto to (which may exist and be replaced), under both files' share checks.
DWORD Rename(const ResolvedPath& from, const ResolvedPath& to) {
  struct stat src;
  if (lstat(from.host.c_str(), &src) != 0) return ErrorFromErrno(errno);
  winsim::detail::FileKey sourceKey{src.st_dev, src.st_ino};
  auto move = [&] {
    return rename(from.host.c_str(), to.host.c_str()) == 0 ? (DWORD)0 : ErrorFromErrno(errno);
  };
  struct stat dst;
  if (!to.exists || lstat(to.host.c_str(), &dst) != 0 ||
      (dst.st_dev == src.st_dev && dst.st_ino == src.st_ino))
    return winsim::detail::ShareDelete(sourceKey, move);
  // The target is deleted by the rename: it must allow that as DeleteFileA would.
  return winsim::detail::ShareDelete(winsim::detail::FileKey{dst.st_dev, dst.st_ino},
                                     [&] { return winsim::detail::ShareDelete(sourceKey, move); });
}

}  // namespace

namespace winsim {
namespace detail {

BOOL WINAPI HostMoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags) {
  if (FaultHit("MoveFileExA", WINSIM_CALLER(), {ERROR_SHARING_VIOLATION, ERROR_DISK_FULL, ERROR_ACCESS_DENIED})) return FALSE;
  winsim::detail::InternalCalls steps;
  if (!existing) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  ResolvedPath from, to;
  if (DWORD err = ResolvePath(existing, &from)) return Fail(err, FALSE);
  if (target)
    if (DWORD err = ResolvePath(target, &to)) return Fail(err, FALSE);

  if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
    // The files are looked at only when the system starts.
    if (flags & MOVEFILE_COPY_ALLOWED) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    return AddPendingOperation(from, target ? &to : nullptr, flags);
  }

  if (!target) return DeleteFileA(existing);
  if (!from.exists) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  struct stat dst;
  bool same = false;
  if (to.exists && lstat(to.host.c_str(), &dst) == 0) {
    struct stat src;
    same =
        lstat(from.host.c_str(), &src) == 0 && src.st_dev == dst.st_dev && src.st_ino == dst.st_ino;
    if (!same) {
      if (!(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS, FALSE);
      if (S_ISDIR(dst.st_mode) || IsReadOnly(dst)) return Fail(ERROR_ACCESS_DENIED, FALSE);
    }
  }
  if (DriveOf(from) != DriveOf(to)) {
    if (!(flags & MOVEFILE_COPY_ALLOWED)) return Fail(ERROR_NOT_SAME_DEVICE, FALSE);
    if (from.isDir) return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (!CopyFileA(existing, target, !(flags & MOVEFILE_REPLACE_EXISTING))) return FALSE;
    return DeleteFileA(existing);
  }
  if (DWORD err = Rename(from, to)) return Fail(err, FALSE);
  return TRUE;
}

}  // namespace detail
}  // namespace winsim
