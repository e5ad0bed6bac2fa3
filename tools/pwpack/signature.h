/*
 * Where a setup's Authenticode signature lies, and whether its container is covered by it.
 * Windows hashes the image and everything behind it up to the certificate table, so a container
 * signed with the setup lies before that table; bytes behind the table are what
 * EnableCertPaddingCheck rejects and what a tampered download looks like.
 */
#ifndef PWPACK_SIGNATURE_H
#define PWPACK_SIGNATURE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace pwpack {

struct Signature {
  bool pe = false;        // the headers of a PE image could be read
  bool isSigned = false;  // its security directory names a certificate table
  uint64_t tableAt = 0, tableSize = 0;
};

Signature ReadSignature(const unsigned char* file, size_t size);

// What the signature says of a container at [containerAt, containerEnd) of a file of fileSize
// bytes: the lines to print, and whether a verification fails on it.
struct SignatureVerdict {
  std::string lines;
  bool ok = true;
};

SignatureVerdict JudgeSignature(const Signature& signature, uint64_t fileSize, uint64_t containerAt,
                                uint64_t containerEnd);

}  // namespace pwpack

#endif
