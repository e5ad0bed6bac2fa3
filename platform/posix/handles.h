/*
 * Kernel objects and the handles that name them. A HANDLE of the host layer is a key into one
 * process-wide table; objects are shared_ptr-owned so that a mapping (or a view) can keep its
 * file alive after the file's handle is closed, as Windows does.
 */
#ifndef PLATFORM_POSIX_HANDLES_H
#define PLATFORM_POSIX_HANDLES_H

#include <memory>
#include <string>

#include "platform/posix/share.h"
#include "platform/win32.h"

namespace winsim {
namespace detail {

struct KernelObject {
  virtual ~KernelObject() = default;
};

// An open file or folder (CreateFileA).
struct FileObject : KernelObject {
  int fd = -1;
  FileKey key{};
  ShareToken share = 0;
  DWORD access = 0;  // as asked of CreateFileA
  DataAccess data;
  bool isDir = false;
  bool deleteOnClose = false;
  std::string hostPath;
  ~FileObject() override;
};

// A file mapping (CreateFileMappingA): of a file, or of the paging file (a memfd) when none.
struct MappingObject : KernelObject {
  std::shared_ptr<FileObject> file;  // null for paging-file mappings
  int memfd = -1;
  uint64_t size = 0;
  bool writable = false;
  int Fd() const { return file ? file->fd : memfd; }
  ~MappingObject() override;
};

HANDLE AddHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> FindHandle(HANDLE handle);
// Removes the table's reference; false when the handle is not in the table.
bool RemoveHandle(HANDLE handle);

template <typename T>
std::shared_ptr<T> FindObject(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(FindHandle(handle));
}

}  // namespace detail
}  // namespace winsim

#endif
