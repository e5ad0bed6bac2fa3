/*
 * Hands out a block's data in order, straight from the mapped setup file: the decoder pulls
 * the compressed stream through it piece by piece, and no block is ever copied whole.
 */
#ifndef CONTAINER_BLOCK_READER_H
#define CONTAINER_BLOCK_READER_H

#include "container/mapped_file.h"
#include "platform/win32.h"

class BlockReader {
 public:
  // The mapping must stay open for the reader's whole life; the reader does not own it.
  explicit BlockReader(const MappedFile& mapping) : mapping_(mapping) {}

  // Selects the block found by name (FindSfxBlock's rules): 0, or E_FAIL when there is none.
  HRESULT Open(const char* name);

  // Copies the next min(size, bytes left) bytes to buffer and reports how many in *count (0 at
  // the end). E_UNEXPECTED before a block is selected; E_INVALIDARG for no buffer or size 0.
  HRESULT Read(void* buffer, DWORD size, DWORD* count);

  DWORD Length() const { return length_; }
  DWORD Position() const { return position_; }

 private:
  const MappedFile& mapping_;
  const BYTE* data_ = nullptr;
  DWORD position_ = 0;
  DWORD length_ = 0;
};

#endif
