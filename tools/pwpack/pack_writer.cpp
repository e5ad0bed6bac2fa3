/* Writing setup containers; see pack_writer.h. */
#include "tools/pwpack/pack_writer.h"

#include <lzma.h>

#include <algorithm>
#include <cstring>

#include "container/block_chain.h"
#include "container/crc32.h"
#include "container/file_sink.h"

namespace pwpack {
namespace {

void Put16(std::string& s, uint16_t v) {
  s += (char)(v & 0xFF);
  s += (char)(v >> 8);
}

void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += (char)((v >> (8 * i)) & 0xFF);
}

void Set32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = (char)((v >> (8 * i)) & 0xFF);
}

uint32_t Get32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | (uint8_t)s[at + i];
  return v;
}

uint16_t Get16(const std::string& s, size_t at) {
  return (uint16_t)((uint8_t)s[at] | ((uint8_t)s[at + 1] << 8));
}

const uint32_t kDictionary = 4u << 20;

}  // namespace

uint32_t Crc32(const std::string& bytes) {
  DWORD reg = 0xFFFFFFFF;
  Crc32Update(reg, bytes.data(), (DWORD)bytes.size());
  return ~reg;
}

bool MakeDecodedStream(const std::vector<PackFile>& files, std::string* stream, std::string* error) {
  std::string table;
  for (const PackFile& f : files) {
    if (!IsPlainFileName(f.name.c_str()) || f.name.size() > 254 ||
        f.name.find('\0') != std::string::npos) {
      *error = "not a plain file name of at most 254 bytes: '" + f.name + "'";
      return false;
    }
    if (f.contents.size() > 0xFFFFFFFFu) {
      *error = "file too large for the format: " + f.name;
      return false;
    }
    Put32(table, (uint32_t)f.contents.size());
    table += (char)(f.name.size() + 1);
    table += f.name;
    table += '\0';
  }
  if (files.size() > 0xFFFF || table.size() + 4 > 0xFFFF) {
    *error = "too many files or names too long for one file table (" +
             std::to_string(files.size()) + " files)";
    return false;
  }
  stream->clear();
  Put16(*stream, (uint16_t)(table.size() + 4));
  Put16(*stream, (uint16_t)files.size());
  *stream += table;
  for (const PackFile& f : files) {
    *stream += f.contents;
    Put32(*stream, Crc32(f.contents));
  }
  return true;
}

bool CompressBlock(const std::string& stream, bool endMarker, std::string* data, std::string* error,
                   const Progress& progress, unsigned level) {
  lzma_options_lzma options;
  if (lzma_lzma_preset(&options, level)) {
    *error = "liblzma has no preset " + std::to_string(level);
    return false;
  }
  options.lc = 3;
  options.lp = 0;
  options.pb = 2;
  options.dict_size = kDictionary;
  // Without the end marker the encoder needs the extended filter; the size itself is ignored.
  options.ext_flags = 0;
  lzma_set_ext_size(options, (uint64_t)stream.size());
  lzma_filter filters[2] = {{endMarker ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA1EXT, &options},
                            {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream strm = LZMA_STREAM_INIT;
  if (lzma_raw_encoder(&strm, filters) != LZMA_OK) {
    *error = "liblzma refused the LZMA1 encoder options";
    return false;
  }
  data->assign(1, (char)((2 * 5 + 0) * 9 + 3));
  Put32(*data, kDictionary);

  const size_t kChunk = 1 << 20;
  std::string out(1 << 20, '\0');
  size_t fed = 0;
  lzma_ret ret = LZMA_OK;
  while (ret == LZMA_OK) {
    if (strm.avail_in == 0 && fed < stream.size()) {
      size_t n = std::min(kChunk, stream.size() - fed);
      strm.next_in = reinterpret_cast<const uint8_t*>(stream.data()) + fed;
      strm.avail_in = n;
      fed += n;
      if (progress) progress(fed, stream.size());
    }
    strm.next_out = reinterpret_cast<uint8_t*>(&out[0]);
    strm.avail_out = out.size();
    ret = lzma_code(&strm, fed == stream.size() ? LZMA_FINISH : LZMA_RUN);
    data->append(out.data(), out.size() - strm.avail_out);
  }
  lzma_end(&strm);
  if (ret != LZMA_STREAM_END) {
    *error = "LZMA compression failed (liblzma code " + std::to_string((int)ret) + ")";
    return false;
  }
  return true;
}

bool ImageEnd(const std::string& stub, uint32_t* end, std::string* error) {
  if (stub.size() < 0x40 || stub[0] != 'M' || stub[1] != 'Z') {
    *error = "not an executable (no MZ header)";
    return false;
  }
  uint32_t pe = Get32(stub, 0x3C);
  if ((uint64_t)pe + 24 > stub.size() || stub.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
    *error = "not a PE image (no PE header where the DOS header points)";
    return false;
  }
  uint16_t sections = Get16(stub, pe + 6);
  uint16_t optional = Get16(stub, pe + 20);
  uint64_t table = (uint64_t)pe + 24 + optional;
  if (table + 40ull * sections > stub.size()) {
    *error = "the section table runs past the end of the file";
    return false;
  }
  uint64_t last = table + 40ull * sections;  // at least the headers
  for (uint16_t i = 0; i < sections; ++i) {
    size_t s = (size_t)(table + 40ull * i);
    uint64_t rawSize = Get32(stub, s + 16), rawPointer = Get32(stub, s + 20);
    if (rawSize) last = std::max(last, rawPointer + rawSize);
  }
  if (last > stub.size()) {
    *error = "a section runs past the end of the file";
    return false;
  }
  *end = (uint32_t)last;
  return true;
}

std::string MinimalStub() {
  const uint32_t kFileAlign = 0x200, kSectionAlign = 0x1000;
  std::string image(2 * kFileAlign, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  Set32(image, 0x3C, 0x40);
  size_t pe = 0x40;
  image.replace(pe, 4, std::string("PE\0\0", 4));
  std::string coff;
  Put16(coff, 0x014C);       // i386
  Put16(coff, 1);            // one section
  Put32(coff, 0);            // time stamp
  Put32(coff, 0);            // symbols
  Put32(coff, 0);
  Put16(coff, 0xE0);         // optional header size
  Put16(coff, 0x0102);       // executable, 32-bit
  std::string opt;
  Put16(opt, 0x010B);        // PE32
  opt += '\x0A';
  opt += '\0';
  Put32(opt, kFileAlign);    // size of code
  Put32(opt, 0);
  Put32(opt, 0);
  Put32(opt, kSectionAlign); // entry point
  Put32(opt, kSectionAlign); // base of code
  Put32(opt, 2 * kSectionAlign);
  Put32(opt, 0x400000);      // image base
  Put32(opt, kSectionAlign);
  Put32(opt, kFileAlign);
  Put16(opt, 4);             // OS version 4.0
  Put16(opt, 0);
  Put16(opt, 0);
  Put16(opt, 0);
  Put16(opt, 4);             // subsystem version 4.0
  Put16(opt, 0);
  Put32(opt, 0);
  Put32(opt, 2 * kSectionAlign);  // size of image
  Put32(opt, kFileAlign);         // size of headers
  Put32(opt, 0);                  // checksum
  Put16(opt, 2);                  // Windows GUI
  Put16(opt, 0);
  Put32(opt, 0x100000);
  Put32(opt, 0x1000);
  Put32(opt, 0x100000);
  Put32(opt, 0x1000);
  Put32(opt, 0);
  Put32(opt, 16);                 // data directories, all empty
  opt.append(16 * 8, '\0');
  std::string section(".text\0\0\0", 8);
  Put32(section, 1);              // virtual size
  Put32(section, kSectionAlign);  // virtual address
  Put32(section, kFileAlign);     // raw size
  Put32(section, kFileAlign);     // raw pointer
  section.append(12, '\0');
  Put32(section, 0x60000020);     // code, execute, read
  std::string headers = coff + opt + section;
  image.replace(pe + 4, headers.size(), headers);
  // The program only returns 0: xor eax, eax; ret.
  image[kFileAlign] = '\x31';
  image[kFileAlign + 1] = '\xC0';
  image[kFileAlign + 2] = '\xC3';
  return image;
}

namespace {

// MinGW's linker leaves a COFF symbol table (often empty) and its string table behind the last
// section, for section names longer than 8 characters. The loader never reads them, so they
// are dropped and the header's pointer to them cleared: the container then starts right after
// the last section, as in every built setup.
bool DropCoffSymbols(std::string& stub, uint32_t end) {
  uint32_t pe = Get32(stub, 0x3C);
  uint32_t pointer = Get32(stub, pe + 12), symbols = Get32(stub, pe + 16);
  if (pointer != end || (uint64_t)symbols * 18 + 4 > stub.size() - end) return false;
  uint64_t strings = (uint64_t)end + symbols * 18;
  if (strings + Get32(stub, (size_t)strings) != stub.size()) return false;
  stub.resize(end);
  Set32(stub, pe + 12, 0);
  Set32(stub, pe + 16, 0);
  return true;
}

}  // namespace

bool WriteSetup(const std::string& stubImage, const std::vector<Block>& blocks, std::string* setup,
                std::string* error) {
  uint32_t end = 0;
  if (!ImageEnd(stubImage, &end, error)) return false;
  std::string stub = stubImage;
  if (end != stub.size() && !DropCoffSymbols(stub, end)) {
    *error = "the stub already carries " + std::to_string(stub.size() - end) +
             " bytes behind its image (a container or a signature): use an unsigned, unpacked stub";
    return false;
  }
  if (blocks.empty()) {
    *error = "a setup needs at least one block";
    return false;
  }
  uint64_t total = stub.size();
  for (const Block& b : blocks) {
    if (b.name.empty() || b.name.size() > 8) {
      *error = "block names have 1 to 8 characters: '" + b.name + "'";
      return false;
    }
    total += kSfxHeaderSize + b.data.size();
  }
  if (total > 0xFFFFFFFFull) {
    *error = "the setup would reach 4 GiB, beyond what its 32-bit offsets can address";
    return false;
  }
  *setup = stub;
  Set32(*setup, kSfxFirstOffsetWord, end);
  Set32(*setup, kSfxFirstOffsetCopyWord, end);
  Set32(*setup, kSfxBlockCountWord, (uint32_t)blocks.size());
  Set32(*setup, kSfxBlockCountCopyWord, (uint32_t)blocks.size());
  for (size_t i = 0; i < blocks.size(); ++i) {
    const Block& b = blocks[i];
    uint32_t offset = (uint32_t)setup->size();
    uint32_t size = kSfxHeaderSize + (uint32_t)b.data.size();
    *setup += "WP";
    Put32(*setup, size);
    Put32(*setup, b.crc ? Crc32(b.data) : 0);
    Put32(*setup, i + 1 < blocks.size() ? offset + size : 0);
    std::string name = b.name;
    name.resize(8, '\0');
    *setup += name;
    *setup += b.data;
  }
  return true;
}

}  // namespace pwpack
