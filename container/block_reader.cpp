/* BlockReader: the selected block's data, in order, from the view. */
#include "container/block_reader.h"

#include <string.h>

#include "container/block_chain.h"

HRESULT BlockReader::Open(const char* name) {
  DWORD length = 0;
  const BYTE* data = FindSfxBlock(mapping_.View(), mapping_.Size(), name, &length);
  if (!data) return E_FAIL;
  data_ = data;
  length_ = length;
  position_ = 0;
  return S_OK;
}

HRESULT BlockReader::Read(void* buffer, DWORD size, DWORD* count) {
  if (count) *count = 0;
  if (!data_) return E_UNEXPECTED;
  if (!buffer || size == 0) return E_INVALIDARG;
  DWORD left = length_ - position_;
  DWORD take = size < left ? size : left;
  memcpy(buffer, data_ + position_, take);
  position_ += take;
  if (count) *count = take;
  return S_OK;
}
