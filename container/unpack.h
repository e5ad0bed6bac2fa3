/*
 * Taking named blocks out of the setup container: packed blocks are decoded (LZMA) and unpacked
 * into a folder file by file, each checked against its CRC-32; stored blocks are saved as they
 * are. Every failure is reported where it happens, and again by each caller on the way out.
 */
#ifndef CONTAINER_UNPACK_H
#define CONTAINER_UNPACK_H

#include "container/block_reader.h"
#include "container/mapped_file.h"
#include "platform/win32.h"

// Decodes the reader's block (5 LZMA property bytes, then a raw LZMA stream) into files in
// folder. 0, or the failure result (E_FAIL also when the stream ends before its last file).
HRESULT DecodeBlock(BlockReader& reader, const char* folder);

// Unpacks the packed block name into folder (an existing folder, no trailing backslash).
HRESULT UnpackSFX(const MappedFile& mapping, const char* name, const char* folder);

// Writes the data of block name to path, unchanged; CREATE_NEW unless overwrite is non-zero.
HRESULT SaveSFX(const MappedFile& mapping, const char* name, const char* path, DWORD overwrite);

#endif
