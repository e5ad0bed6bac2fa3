/*
 * Reading a packed block without writing anything: decode it, list its file table, and check
 * every file's CRC-32. pwpack's list and verify use it; extraction goes through the setup's
 * own UnpackSFX.
 */
#ifndef TOOLS_PWPACK_STREAM_CHECK_H
#define TOOLS_PWPACK_STREAM_CHECK_H

#include <cstdint>
#include <string>
#include <vector>

#include "tools/pwpack/pack_writer.h"

namespace pwpack {

struct TableEntry {
  std::string name;
  uint32_t size = 0;
  bool crcOk = false;  // known only when the whole stream was checked
  uint32_t crc = 0;    // the CRC-32 the stream stores for the file, once it was read
};

struct StreamReport {
  bool tableOk = false;       // the decoded stream starts with a consistent file table
  bool complete = false;      // every record arrived
  std::vector<TableEntry> files;
  uint64_t decoded = 0;       // bytes decoded in all
  std::string problem;        // what went wrong, for the user
};

// Decodes block data (5 property bytes and a raw LZMA stream). With tableOnly, stops once the
// table is read.
StreamReport CheckPackedBlock(const uint8_t* data, uint32_t length, bool tableOnly,
                              const Progress& progress = nullptr);

}  // namespace pwpack

#endif
