/* The block chain walk, lookups and the integrity test over an arbitrary file. */
#include <stddef.h>
#include <stdint.h>

#include "container/block_chain.h"
#include "container/test_sfx.h"
#include "tests/fuzz/fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzMachine machine;
  if (size > 0xFFFFFFFFu) return 0;
  DWORD length = 0;
  for (const char* name : {"pondwick", "langs", "affid", "portable", "", "lang"})
    FindSfxBlock(data, (DWORD)size, name, &length);
  TestSFX(data, (DWORD)size);
  int blocks = 0;
  for (const SfxBlockHeader* b = GetNextSfxBlock(data, (DWORD)size, nullptr); b;
       b = GetNextSfxBlock(data, (DWORD)size, b)) {
    // Every block the walk hands out lies wholly inside the input.
    const uint8_t* at = reinterpret_cast<const uint8_t*>(b);
    if (at < data || at + b->BlockSize() > data + size || b->BlockSize() < 22) __builtin_trap();
    if (++blocks > (int)size) __builtin_trap();  // a walk that does not end
  }
  return 0;
}
