/* The blocks of a built setup as pwpack's commands walk them. */
#ifndef PWPACK_BLOCKS_H
#define PWPACK_BLOCKS_H

#include <cstring>
#include <string>
#include <vector>

#include "container/block_chain.h"

namespace pwpack {

inline std::vector<const SfxBlockHeader*> Blocks(const BYTE* view, DWORD size) {
  std::vector<const SfxBlockHeader*> blocks;
  for (const SfxBlockHeader* b = GetNextSfxBlock(view, size, nullptr); b;
       b = GetNextSfxBlock(view, size, b))
    blocks.push_back(b);
  return blocks;
}

// A name of 8 characters has no terminator in the header.
inline std::string BlockName(const SfxBlockHeader* b) {
  return std::string(b->name, strnlen(b->name, 8));
}

}  // namespace pwpack

#endif
