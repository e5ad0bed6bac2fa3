/* The certificate table of a PE image, read from its security directory. */
#include "tools/pwpack/signature.h"

#include "container/block_chain.h"  // the little-endian readers

namespace pwpack {

Signature ReadSignature(const unsigned char* file, size_t size) {
  Signature s;
  if (size < 0x40 || file[0] != 'M' || file[1] != 'Z') return s;
  uint64_t pe = ReadLe32(file + 0x3C);
  if (pe + 24 + 2 > size || ReadLe32(file + pe) != 0x00004550) return s;  // "PE\0\0"
  // The data directories follow the optional header's fixed part: 96 bytes in PE32, 112 in
  // PE32+. The security directory is the fifth, and holds a file offset, not an address.
  uint32_t magic = ReadLe16(file + pe + 24);
  uint64_t directories = pe + 24 + (magic == 0x20B ? 112 : 96);
  uint32_t optionalSize = ReadLe16(file + pe + 20);
  if ((magic != 0x10B && magic != 0x20B) || directories + 5 * 8 > size ||
      directories + 5 * 8 > pe + 24 + optionalSize)
    return s;
  uint32_t count = ReadLe32(file + directories - 4);  // NumberOfRvaAndSizes
  s.pe = true;
  if (count < 5) return s;
  s.tableAt = ReadLe32(file + directories + 4 * 8);
  s.tableSize = ReadLe32(file + directories + 4 * 8 + 4);
  s.isSigned = s.tableAt != 0 && s.tableSize != 0;
  return s;
}

SignatureVerdict JudgeSignature(const Signature& s, uint64_t fileSize, uint64_t containerAt,
                                uint64_t containerEnd) {
  SignatureVerdict v;
  if (!s.isSigned) {
    v.lines = "signature: none\n";
    return v;
  }
  uint64_t tableEnd = s.tableAt + s.tableSize;
  v.lines = "signature: certificate table at " + std::to_string(s.tableAt) + ", " +
            std::to_string(s.tableSize) + " bytes\n";
  if (tableEnd > fileSize) {
    v.lines += "signature: FAILED, the certificate table runs past the file's end\n";
    v.ok = false;
  }
  if (containerAt >= s.tableAt) {
    v.lines += "container: FAILED, it starts after the certificate table: not signed\n";
    v.ok = false;
  } else if (containerEnd > s.tableAt) {
    v.lines += "container: FAILED, it runs into the certificate table\n";
    v.ok = false;
  } else {
    v.lines += "container: inside the signed range\n";
  }
  if (fileSize > tableEnd) {
    v.lines += "after the signature: FAILED, " + std::to_string(fileSize - tableEnd) +
               " bytes appended (Windows rejects them under EnableCertPaddingCheck)\n";
    v.ok = false;
  } else {
    v.lines += "after the signature: nothing\n";
  }
  return v;
}

}  // namespace pwpack
