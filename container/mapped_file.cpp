/* MappedFile: open, map whole, and release on every way out. */
#include "container/mapped_file.h"

bool MappedFile::Open(const char* path, DWORD access, DWORD disposition) {
  if (file_ != INVALID_HANDLE_VALUE) return false;
  writable_ = (access & GENERIC_WRITE) != 0;

  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) attributes = 0;
  file_ = CreateFileA(path, access, writable_ ? 0 : FILE_SHARE_READ, nullptr, disposition,
                      attributes, nullptr);
  if (file_ == INVALID_HANDLE_VALUE) return false;

  size_ = GetFileSize(file_, nullptr);
  if (size_ == INVALID_FILE_SIZE) {
    size_ = 0;
  } else if (size_ == 0) {
    // Nothing to map; say so as the system would for an empty mapping, so that the caller's
    // report never reads as success.
    SetLastError(ERROR_FILE_INVALID);
  } else {
    mapping_ = CreateFileMappingA(file_, nullptr, writable_ ? PAGE_READWRITE : PAGE_READONLY, 0, 0,
                                  nullptr);
    if (mapping_) {
      view_ = static_cast<BYTE*>(
          MapViewOfFile(mapping_, writable_ ? FILE_MAP_ALL_ACCESS : FILE_MAP_READ, 0, 0, size_));
      if (view_) return true;
    }
  }
  // The caller reports the failure with GetLastError(): keep the code of the step that failed.
  DWORD error = GetLastError();
  Close();
  SetLastError(error);
  return false;
}

bool MappedFile::Close() {
  bool ok = true;
  if (view_) {
    ok = UnmapViewOfFile(view_) != 0 && ok;
    view_ = nullptr;
  }
  if (mapping_) {
    ok = CloseHandle(mapping_) != 0 && ok;
    mapping_ = nullptr;
  }
  if (file_ != INVALID_HANDLE_VALUE) {
    if (writable_) {
      FILETIME now;
      GetSystemTimeAsFileTime(&now);
      SetFileTime(file_, &now, &now, &now);
    }
    ok = CloseHandle(file_) != 0 && ok;
    file_ = INVALID_HANDLE_VALUE;
  }
  size_ = 0;
  writable_ = false;
  return ok;
}
