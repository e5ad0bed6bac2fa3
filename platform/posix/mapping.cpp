/*
 * File mappings over mmap. A mapping holds its file open, with its "mapped" mark that refuses
 * deletion and truncation, until the mapping handle is closed and its last view is unmapped; a
 * view holds its mapping the same way. The file's share entry, as on Windows, goes with the
 * file's own handle.
 */
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>

#include "platform/posix/handles.h"
#include "platform/posix/machine.h"

using winsim::detail::ErrorFromErrno;
using winsim::detail::Fail;
using winsim::detail::FileObject;
using winsim::detail::MappingObject;

namespace {

constexpr DWORD kSecCommit = 0x08000000;
constexpr DWORD kPageWriteCopy = 0x08;
constexpr DWORD kPageExecuteRead = 0x20;
constexpr DWORD kPageExecuteReadWrite = 0x40;
constexpr DWORD kPageExecuteWriteCopy = 0x80;
constexpr DWORD kFileMapCopy = 0x0001;
constexpr uint64_t kAllocationGranularity = 65536;

struct View {
  size_t length;
  std::shared_ptr<MappingObject> mapping;
};

struct Views {
  std::mutex lock;
  std::map<uintptr_t, View> byBase;
};

Views& TheViews() {
  static Views* views = new Views;
  return *views;
}

}  // namespace

extern "C" HANDLE WINAPI CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES sa, DWORD protect,
                                            DWORD sizeHigh, DWORD sizeLow, LPCSTR name) {
  WINSIM_FAULT_POINT(nullptr, ERROR_NOT_ENOUGH_MEMORY, ERROR_ACCESS_DENIED);
  (void)sa;
  // Named mappings are shared between processes; the host layer has no such table yet, and an
  // unnamed stand-in would silently give two processes different memory.
  if (name && *name) return Fail(ERROR_NOT_SUPPORTED, (HANDLE) nullptr);
  // Execute rights mean nothing to data files; write-copy mappings need only read access.
  DWORD page = protect & 0xFF;
  bool writable = page == PAGE_READWRITE || page == kPageExecuteReadWrite;
  bool readable = writable || page == PAGE_READONLY || page == kPageExecuteRead ||
                  page == kPageWriteCopy || page == kPageExecuteWriteCopy;
  if ((protect & ~0xFFu & ~kSecCommit) != 0 || !readable)
    return Fail(ERROR_INVALID_PARAMETER, (HANDLE) nullptr);
  auto mapping = std::make_shared<MappingObject>();
  mapping->writable = writable;
  uint64_t size = ((uint64_t)sizeHigh << 32) | sizeLow;

  if (file == INVALID_HANDLE_VALUE) {  // backed by the paging file
    if (size == 0) return Fail(ERROR_INVALID_PARAMETER, (HANDLE) nullptr);
    mapping->memfd = memfd_create("winsim-mapping", MFD_CLOEXEC);
    if (mapping->memfd < 0 || ftruncate(mapping->memfd, (off_t)size) != 0)
      return Fail(ERROR_NOT_ENOUGH_MEMORY, (HANDLE) nullptr);
    mapping->size = size;
    return winsim::detail::AddHandle(mapping);
  }

  auto object = winsim::detail::FindObject<FileObject>(file);
  if (!object) return Fail(ERROR_INVALID_HANDLE, (HANDLE) nullptr);
  if (object->isDir) return Fail(ERROR_INVALID_HANDLE, (HANDLE) nullptr);
  if (!object->data.read || (mapping->writable && !object->data.write))
    return Fail(ERROR_ACCESS_DENIED, (HANDLE) nullptr);
  struct stat st;
  if (fstat(object->fd, &st) != 0) return Fail(ErrorFromErrno(errno), (HANDLE) nullptr);
  uint64_t fileSize = (uint64_t)st.st_size;
  if (size == 0) {
    if (fileSize == 0) return Fail(ERROR_FILE_INVALID, (HANDLE) nullptr);
    size = fileSize;
  } else if (size > fileSize) {
    if (!mapping->writable) return Fail(ERROR_NOT_ENOUGH_MEMORY, (HANDLE) nullptr);
    // Windows lengthens the file; the blocks are reserved now so that a full disk is reported
    // here rather than as a fault when a view is written.
    int err = posix_fallocate(object->fd, (off_t)fileSize, (off_t)(size - fileSize));
    if (err == EOPNOTSUPP || err == EINVAL)
      err = ftruncate(object->fd, (off_t)size) == 0 ? 0 : errno;
    if (err) return Fail(ErrorFromErrno(err, ERROR_DISK_FULL), (HANDLE) nullptr);
  }
  mapping->size = size;
  mapping->file = object;
  winsim::detail::ShareAddMapping(object->key);
  return winsim::detail::AddHandle(mapping);
}

extern "C" LPVOID WINAPI MapViewOfFile(HANDLE handle, DWORD access, DWORD offsetHigh,
                                       DWORD offsetLow, SIZE_T bytes) {
  WINSIM_FAULT_POINT(nullptr, ERROR_NOT_ENOUGH_MEMORY, ERROR_ACCESS_DENIED);
  auto mapping = winsim::detail::FindObject<MappingObject>(handle);
  if (!mapping) return Fail(ERROR_INVALID_HANDLE, (LPVOID) nullptr);
  // Without FILE_MAP_WRITE or FILE_MAP_COPY a view is for reading, FILE_MAP_READ or not.
  bool write = (access & FILE_MAP_WRITE) != 0;
  bool copy = !write && (access & kFileMapCopy) != 0;
  if (write && !mapping->writable) return Fail(ERROR_ACCESS_DENIED, (LPVOID) nullptr);
  uint64_t offset = ((uint64_t)offsetHigh << 32) | offsetLow;
  if (offset % kAllocationGranularity != 0) return Fail(ERROR_MAPPED_ALIGNMENT, (LPVOID) nullptr);
  if (offset >= mapping->size) return Fail(ERROR_INVALID_PARAMETER, (LPVOID) nullptr);
  uint64_t length = bytes ? (uint64_t)bytes : mapping->size - offset;
  if (length > mapping->size - offset) return Fail(ERROR_ACCESS_DENIED, (LPVOID) nullptr);

  int prot = PROT_READ | ((write || copy) ? PROT_WRITE : 0);
  int flags = copy ? MAP_PRIVATE : MAP_SHARED;
  void* base = mmap(nullptr, (size_t)length, prot, flags, mapping->Fd(), (off_t)offset);
  if (base == MAP_FAILED)
    return Fail(ErrorFromErrno(errno, ERROR_NOT_ENOUGH_MEMORY), (LPVOID) nullptr);
  Views& views = TheViews();
  std::lock_guard<std::mutex> guard(views.lock);
  views.byBase[reinterpret_cast<uintptr_t>(base)] = View{(size_t)length, mapping};
  return base;
}

extern "C" BOOL WINAPI UnmapViewOfFile(LPCVOID address) {
  WINSIM_FAULT_POINT(FALSE, ERROR_INVALID_ADDRESS, ERROR_ACCESS_DENIED);
  std::shared_ptr<MappingObject> last;  // released after the lock: it may close the file
  Views& views = TheViews();
  std::lock_guard<std::mutex> guard(views.lock);
  uintptr_t at = reinterpret_cast<uintptr_t>(address);
  // Any address inside a view names that view, as on Windows.
  auto it = views.byBase.upper_bound(at);
  if (it == views.byBase.begin()) return Fail(ERROR_INVALID_ADDRESS, FALSE);
  --it;
  if (at >= it->first + it->second.length) return Fail(ERROR_INVALID_ADDRESS, FALSE);
  munmap(reinterpret_cast<void*>(it->first), it->second.length);
  last = std::move(it->second.mapping);
  views.byBase.erase(it);
  return TRUE;
}
