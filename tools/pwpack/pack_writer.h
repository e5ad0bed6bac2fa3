/*
 * Writing setup containers: the decoded-stream format of a packed block, its LZMA compression,
 * and the chain of blocks behind an executable image. Reading is the setup's own container
 * module; only writing lives here.
 */
#ifndef TOOLS_PWPACK_PACK_WRITER_H
#define TOOLS_PWPACK_PACK_WRITER_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pwpack {

struct PackFile {
  std::string name;      // a plain file name
  std::string contents;
};

// The table (size, count, entries) followed by each file's contents and CRC-32. False with
// *error when the files do not fit the format (names, counts, sizes).
bool MakeDecodedStream(const std::vector<PackFile>& files, std::string* stream, std::string* error);

// Called now and then while compressing or decoding: bytes done of total.
using Progress = std::function<void(uint64_t done, uint64_t total)>;

// 5 property bytes (lc 3, lp 0, pb 2: 0x5D; a 4 MiB dictionary) and the raw LZMA1 stream, with
// or without an end marker; built setups carry none. level (0-9) trades time for size only: the
// decoder sees the same properties at every level.
bool CompressBlock(const std::string& stream, bool endMarker, std::string* data, std::string* error,
                   const Progress& progress = nullptr, unsigned level = 6);

struct Block {
  std::string name;  // up to 8 characters
  std::string data;
  bool crc;          // carry the data's CRC-32 (else 0: exempt from the integrity test)
};

// Where the image ends: the first byte after its last section (false when stub is no PE image).
bool ImageEnd(const std::string& stub, uint32_t* end, std::string* error);

// A minimal valid 32-bit MZ/PE image, for setups that the host world plays.
std::string MinimalStub();

// stub + the blocks in order, chained, with the four container words filled in. Refuses a stub
// that already carries data behind its image; a COFF symbol and string table there (which
// MinGW's linker leaves) is dropped instead.
bool WriteSetup(const std::string& stub, const std::vector<Block>& blocks, std::string* setup,
                std::string* error);

uint32_t Crc32(const std::string& bytes);

}  // namespace pwpack

#endif
