/*
 * The setup container: a chain of named blocks behind the executable image, reached through
 * four words in the DOS header's reserved area (0x28 first block offset, 0x2C its copy, 0x30
 * block count, 0x34 its copy). Each block is a 22-byte header and its data; each header gives
 * the absolute file offset of the next block, 0 for the last. Everything is read in place.
 */
#ifndef CONTAINER_BLOCK_CHAIN_H
#define CONTAINER_BLOCK_CHAIN_H

#include "platform/win32.h"

const WORD kSfxBlockSignature = 0x5057;  // the bytes 'W' 'P'
const DWORD kSfxHeaderSize = 22;
const DWORD kSfxFirstOffsetWord = 0x28;
const DWORD kSfxFirstOffsetCopyWord = 0x2C;
const DWORD kSfxBlockCountWord = 0x30;
const DWORD kSfxBlockCountCopyWord = 0x34;

inline WORD ReadLe16(const BYTE* p) { return (WORD)(p[0] | (p[1] << 8)); }
inline DWORD ReadLe32(const BYTE* p) {
  return (DWORD)p[0] | ((DWORD)p[1] << 8) | ((DWORD)p[2] << 16) | ((DWORD)p[3] << 24);
}

// A block header as it lies in the file: byte arrays only, so it can sit at any address.
struct SfxBlockHeader {
  BYTE signature[2];
  BYTE blockSize[4];   // the whole block, header included
  BYTE dataCrc[4];     // CRC-32 of the data; 0 exempts the block from the integrity test
  BYTE nextOffset[4];  // absolute file offset of the next block; 0 ends the chain
  char name[8];        // zero-filled behind the name; no terminator when 8 characters long

  WORD Signature() const { return ReadLe16(signature); }
  DWORD BlockSize() const { return ReadLe32(blockSize); }
  DWORD DataCrc() const { return ReadLe32(dataCrc); }
  DWORD NextOffset() const { return ReadLe32(nextOffset); }
  DWORD DataLength() const { return BlockSize() - kSfxHeaderSize; }
  const BYTE* Data() const { return reinterpret_cast<const BYTE*>(this) + kSfxHeaderSize; }
};
static_assert(sizeof(SfxBlockHeader) == 22, "a block header is 22 bytes in the file");

// The block after current, or the first block when current is null. Null at the end of the
// chain (no log line) or when a check fails (one log line naming the check). Never reads
// outside view[0, size), and refuses a link back to a block the walk has already visited, so
// every walk from the start ends.
const SfxBlockHeader* GetNextSfxBlock(const void* view, DWORD size, const SfxBlockHeader* current);

// The data of the first block in chain order whose name starts with the first min(8,
// strlen(name)) bytes of name (case-sensitive), with its length in *length; null when none
// matches or the walk stops early (*length is 0 then).
const BYTE* FindSfxBlock(const void* view, DWORD size, const char* name, DWORD* length);

#endif
