/*
 * What differs between two built setups: the stub, each block (kind, size, CRC-32), and for
 * packed blocks each file. How an engineer finds out why two builds of one release differ.
 */
#ifndef PWPACK_SETUP_DIFF_H
#define PWPACK_SETUP_DIFF_H

#include <cstdint>
#include <string>

namespace pwpack {

struct SetupDiff {
  std::string lines;            // one line per stub, block and differing file
  bool payloadDiffers = false;  // the blocks or their files differ (the stub alone does not count)
  bool readable = true;         // both files hold a readable container
};

SetupDiff DiffSetups(const uint8_t* a, uint32_t aSize, const uint8_t* b, uint32_t bSize);

}  // namespace pwpack

#endif
