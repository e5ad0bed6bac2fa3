/* The walk along the block chain and the lookup of a block by name. */
#include "container/block_chain.h"

#include <string.h>

#include "support/log.h"

namespace {

const char kNoDosSign[] = "GetNextSfxBlock: No DOS Sign";
const char kBadDosHeader[] = "GetNextSfxBlock: Bad SFX data in DOS Header";
const char kBadCurrentSignature[] = "GetNextSfxBlock: Bad signature in current section";
const char kCurrentDoesNotFit[] = "GetNextSfxBlock: Current section does not fit in SFX";
const char kBadNextSignature[] = "GetNextSfxBlock: Bad next signature";
const char kNextBadSize[] = "GetNextSfxBlock: Next sect bad size";

// A header starting at offset lies wholly inside the view.
bool HeaderFits(DWORD offset, DWORD size) {
  return offset < size && size - offset >= kSfxHeaderSize;
}

// Checks the block that a link points to. Null when it is a good block, else the log line.
const char* CheckCandidate(const BYTE* view, DWORD size, DWORD offset) {
  const SfxBlockHeader* block = reinterpret_cast<const SfxBlockHeader*>(view + offset);
  if (block->Signature() != kSfxBlockSignature) return kBadNextSignature;
  DWORD blockSize = block->BlockSize();
  // 64-bit sum: an offset plus size that wraps past 2^32 must not pass as small.
  if (blockSize < kSfxHeaderSize || (unsigned long long)offset + blockSize > size)
    return kNextBadSize;
  return nullptr;
}

// The offset of the first block, or 0 with *error set.
DWORD FirstOffset(const BYTE* view, DWORD size, const char** error) {
  if (size < 2 || view[0] != 0x4D || view[1] != 0x5A) {
    *error = kNoDosSign;
    return 0;
  }
  if (size < kSfxBlockCountCopyWord + 4) {
    *error = kBadDosHeader;
    return 0;
  }
  DWORD offset = ReadLe32(view + kSfxFirstOffsetWord);
  DWORD count = ReadLe32(view + kSfxBlockCountWord);
  if (offset == 0 || offset != ReadLe32(view + kSfxFirstOffsetCopyWord) || count == 0 ||
      count != ReadLe32(view + kSfxBlockCountCopyWord) || !HeaderFits(offset, size)) {
    *error = kBadDosHeader;
    return 0;
  }
  return offset;
}

// Whether the chain from the first block reaches target before (or at) the block at current.
// Callers walk from the start, so the blocks up to current are exactly the ones visited; the
// walk is bounded in case current is not on the chain at all. Headers may overlap (one's
// signature in the name of the one before), so the bound is every offset a header can start
// at, not the number of whole headers the file holds.
bool VisitedBefore(const BYTE* view, DWORD size, DWORD current, DWORD target) {
  const char* error = nullptr;
  DWORD offset = FirstOffset(view, size, &error);
  for (DWORD steps = 0; offset != 0 && steps <= size; ++steps) {
    if (offset == target) return true;
    if (offset == current || CheckCandidate(view, size, offset)) return false;
    offset = reinterpret_cast<const SfxBlockHeader*>(view + offset)->NextOffset();
    if (!HeaderFits(offset, size)) return false;
  }
  return offset == target;
}

}  // namespace

const SfxBlockHeader* GetNextSfxBlock(const void* viewArg, DWORD size,
                                      const SfxBlockHeader* current) {
  const BYTE* view = static_cast<const BYTE*>(viewArg);
  if (!view || size == 0) return nullptr;

  DWORD offset;
  if (current) {
    const BYTE* at = reinterpret_cast<const BYTE*>(current);
    // A current block outside the view can't be read at all; it is as bad as a wrong signature.
    if (at < view || !HeaderFits((DWORD)(at - view), size) ||
        current->Signature() != kSfxBlockSignature) {
      WriteLog(kBadCurrentSignature, nullptr, 0);
      return nullptr;
    }
    offset = current->NextOffset();
    if (offset == 0) return nullptr;
    if (!HeaderFits(offset, size) || VisitedBefore(view, size, (DWORD)(at - view), offset)) {
      WriteLog(kCurrentDoesNotFit, nullptr, 0);
      return nullptr;
    }
  } else {
    const char* error = nullptr;
    offset = FirstOffset(view, size, &error);
    if (offset == 0) {
      WriteLog(error, nullptr, 0);
      return nullptr;
    }
  }

  if (const char* error = CheckCandidate(view, size, offset)) {
    WriteLog(error, nullptr, 0);
    return nullptr;
  }
  return reinterpret_cast<const SfxBlockHeader*>(view + offset);
}

const BYTE* FindSfxBlock(const void* view, DWORD size, const char* name, DWORD* length) {
  if (!view || !name || !length) return nullptr;
  *length = 0;
  size_t n = strlen(name);
  if (n > sizeof(SfxBlockHeader::name)) n = sizeof(SfxBlockHeader::name);
  for (const SfxBlockHeader* block = GetNextSfxBlock(view, size, nullptr); block;
       block = GetNextSfxBlock(view, size, block)) {
    if (memcmp(block->name, name, n) == 0) {
      *length = block->DataLength();
      return block->Data();
    }
  }
  return nullptr;
}
