/*
 * A whole file mapped into memory: the setup reads its own executable, and the container behind
 * the image, through one read-only view without copying any of it.
 */
#ifndef CONTAINER_MAPPED_FILE_H
#define CONTAINER_MAPPED_FILE_H

#include "platform/win32.h"

class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile() { Close(); }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // Opens path with access (GENERIC_READ, or with GENERIC_WRITE) and a CreateFileA disposition,
  // and maps all of it. False when already open (nothing changes), when the file is empty, or
  // when any step fails; then nothing is held and GetLastError() tells why.
  bool Open(const char* path, DWORD access, DWORD disposition);

  // Unmaps and closes; a writable file gets the current time as all three of its times first.
  // True when every release that was needed succeeded (also when nothing was held).
  bool Close();

  const BYTE* View() const { return view_; }
  DWORD Size() const { return size_; }
  bool Writable() const { return writable_; }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  HANDLE mapping_ = nullptr;
  BYTE* view_ = nullptr;
  DWORD size_ = 0;
  bool writable_ = false;
};

#endif
