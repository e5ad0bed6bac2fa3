/*
 * The handle table (see handles.h) and CloseHandle. Handle values are never reused within a
 * process, so that a stale handle fails with ERROR_INVALID_HANDLE instead of reaching a newer
 * object.
 */
#include "platform/posix/handles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>

#include "platform/posix/machine.h"

namespace winsim {
namespace detail {

namespace {

struct Table {
  std::mutex lock;
  std::map<uintptr_t, std::shared_ptr<KernelObject>> objects;
  uintptr_t next = 0x1000;
};

Table& TheTable() {
  static Table* table = new Table;  // handles may be closed from other static destructors
  return *table;
}

}  // namespace

FileObject::~FileObject() {
  if (deleteOnClose && !hostPath.empty()) {
    // Only the name that still stands for this file: it may have been replaced meanwhile.
    struct stat st;
    if (lstat(hostPath.c_str(), &st) == 0 && st.st_dev == key.dev && st.st_ino == key.ino)
      unlink(hostPath.c_str());
  }
  ShareClose(share);
  if (fd >= 0) close(fd);
}

MappingObject::~MappingObject() {
  if (file) ShareRemoveMapping(file->key);
  if (memfd >= 0) close(memfd);
}

HANDLE AddHandle(std::shared_ptr<KernelObject> object) {
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.lock);
  uintptr_t value = table.next;
  table.next += 4;  // Windows handles are multiples of four
  table.objects[value] = std::move(object);
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> FindHandle(HANDLE handle) {
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == table.objects.end() ? nullptr : it->second;
}

bool RemoveHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> last;  // destroyed outside the lock: it may close and unlink
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
  if (it == table.objects.end()) return false;
  last = std::move(it->second);
  table.objects.erase(it);
  // A file's share entry goes with its handle (Windows' cleanup), even when a mapping still
  // holds the file itself.
  if (auto* file = dynamic_cast<FileObject*>(last.get())) {
    ShareClose(file->share);
    file->share = 0;
  }
  return true;
}

}  // namespace detail
}  // namespace winsim

extern "C" BOOL WINAPI CloseHandle(HANDLE object) {
  WINSIM_FAULT_POINT(FALSE, ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED);
  // (HANDLE)-1 is the current process's pseudo-handle, which closes without complaint.
  if (object == INVALID_HANDLE_VALUE) return TRUE;
  if (!winsim::detail::RemoveHandle(object))
    return winsim::detail::Fail(ERROR_INVALID_HANDLE, FALSE);
  return TRUE;
}
