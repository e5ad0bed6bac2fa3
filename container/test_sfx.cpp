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
  const SfxBlockHeader* last = nullptr;
  for (const SfxBlockHeader* block = GetNextSfxBlock(view, size, nullptr); block;
       block = GetNextSfxBlock(view, size, block)) {
    last = block;
    DWORD stored = block->DataCrc();
    if (stored == 0) continue;
    DWORD crc = 0xFFFFFFFF;
    Crc32Update(crc, block->Data(), block->DataLength());
    if (~crc != stored) {
      WriteLog("TestSFX - Bad CRC", nullptr, 0);
      return 0;
    }
  }
  // The chain ends where a block links to nothing. A walk that stopped at a link it refused
  // would leave the blocks behind it untested and unfound: a damaged header in front of
  // "portable" would install the other edition.
  bool intact = last && last->NextOffset() == 0;
  WriteLog("TestSFX() - ", intact ? "OK" : "FAIL", 0);
  return intact ? 1 : 0;
}
