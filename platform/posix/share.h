/*
 * Share modes: which opens of a file may coexist. CreateFileA asks here before it hands out a
 * handle, DeleteFileA before it removes a name, and file mappings register here so that a mapped
 * file is neither deleted nor emptied while a mapping of it lives. The ledger is keyed by the host
 * file's identity (device and inode), not by its name, and held under $WINSIM_ROOT/state for
 * every process of the machine: an open in one process refuses a conflicting open in another.
 */
#ifndef PLATFORM_POSIX_SHARE_H
#define PLATFORM_POSIX_SHARE_H

#include <sys/types.h>

#include <cstdint>
#include <functional>

#include "platform/win32.h"

namespace winsim {
namespace detail {

// Specific file rights, which callers may give instead of the generic ones.
constexpr DWORD kFileReadData = 0x0001;
constexpr DWORD kFileWriteData = 0x0002;
constexpr DWORD kFileAppendData = 0x0004;
constexpr DWORD kFileExecute = 0x0020;

// The access a CreateFileA access mask amounts to for sharing.
struct DataAccess {
  bool read = false;
  bool write = false;
  bool del = false;
  bool Any() const { return read || write || del; }
};
DataAccess DataAccessOf(DWORD desiredAccess);

struct FileKey {
  dev_t dev;
  ino_t ino;
};

using ShareToken = uint64_t;  // 0: the open takes no part in sharing

// Admits an open with the given access and share mode, or answers ERROR_SHARING_VIOLATION when
// an existing open (or the new one) refuses the other. Opens without data access (attribute
// queries) never conflict and get token 0.
DWORD ShareOpen(const FileKey& file, DataAccess access, DWORD shareMode, ShareToken* token);
void ShareClose(ShareToken token);

// On Windows a new file and its creator's share mode appear as one: no other open can come
// between them. Creators hold this lock exclusively from before the file exists until their
// open is admitted; every other open holds it shared from before it opens the file until it is
// admitted, so that it meets a new file only with its creator's share mode on it.
class CreationLock {
 public:
  explicit CreationLock(bool creating);
  ~CreationLock();
  CreationLock(const CreationLock&) = delete;
  CreationLock& operator=(const CreationLock&) = delete;

 private:
  int fd_;
};

// Mappings keep their file in use until the mapping and its views are gone.
void ShareAddMapping(const FileKey& file);
void ShareRemoveMapping(const FileKey& file);
bool ShareIsMapped(const FileKey& file);

// Runs remove (which unlinks the name and answers 0 or an error) only when the file may be
// deleted, as Windows decides it: an open that refuses FILE_SHARE_DELETE gives
// ERROR_SHARING_VIOLATION, then a mapping (handle or view) ERROR_ACCESS_DENIED. The check and
// the removal are one step for this process.
DWORD ShareDelete(const FileKey& file, const std::function<DWORD()>& remove);

}  // namespace detail
}  // namespace winsim

#endif
