/* TestSFX: walk the chain and check each block's data CRC. */
#include "container/test_sfx.h"

#include "container/block_chain.h"
#include "container/crc32.h"
#include "support/log.h"

int TestSFX(const void* view, DWORD size) {
  if (!view || size == 0) {
    WriteLog("TestSFX - Bad Params", nullptr, 0);
    return 0;
  }
  bool visited = false;
  for (const SfxBlockHeader* block = GetNextSfxBlock(view, size, nullptr); block;
       block = GetNextSfxBlock(view, size, block)) {
    visited = true;
    DWORD stored = block->DataCrc();
    if (stored == 0) continue;
    DWORD crc = 0xFFFFFFFF;
    Crc32Update(crc, block->Data(), block->DataLength());
    if (~crc != stored) {
      WriteLog("TestSFX - Bad CRC", nullptr, 0);
      return 0;
    }
  }
  WriteLog("TestSFX() - ", visited ? "OK" : "FAIL", 0);
  return visited ? 1 : 0;
}
