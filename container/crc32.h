/*
 * CRC-32 of ISO 3309 / IEEE 802.3 (as zlib and PNG): reflected, polynomial 0xEDB88320. The
 * register starts at 0xFFFFFFFF and is inverted after the last byte; stored CRCs hold the
 * inverted value.
 */
#ifndef CONTAINER_CRC32_H
#define CONTAINER_CRC32_H

#include "platform/win32.h"

// Entry i is i put through 8 steps of shift-right-and-XOR-the-polynomial.
extern const DWORD Crc32Table[256];

// Runs the un-inverted register over count bytes of data, stores it back and returns it.
DWORD Crc32Update(DWORD& crc, const void* data, DWORD count);

#endif
