/*
 * Takes the decoded stream of a packed block, in pieces of any size, and turns it into files:
 * the file table at its head, then each file's contents followed by its CRC-32. Every piece goes
 * to disk at once; the result never depends on where the stream was cut.
 *
 * Decoded stream (little-endian): table size (2, the 4 header bytes included), file count (2),
 * entries {file size (4), name length (1), name with its zero (name length)}, then per entry the
 * contents and a 4-byte CRC-32 of them.
 */
#ifndef CONTAINER_FILE_SINK_H
#define CONTAINER_FILE_SINK_H

#include <vector>

#include "platform/win32.h"

class FileSink {
 public:
  // folder: where the files go (no trailing backslash); null for none.
  explicit FileSink(const char* folder);
  // Deletes a file that is still open: a stream that ended inside it left it short.
  ~FileSink();
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  // Takes the next count bytes of the stream. 0, or the failure that ends decoding; after a
  // failure the sink takes nothing more and keeps answering with that failure.
  HRESULT Write(const BYTE* data, DWORD count);

  // Every file of the table has been written and verified.
  bool Complete() const { return phase_ == Phase::kDone; }

 private:
  enum class Phase { kTable, kContents, kCrc, kDone, kFailed };
  struct Entry {
    DWORD size;
    const char* name;  // inside table_
  };

  HRESULT TakeTable(const BYTE*& data, DWORD& count);
  HRESULT ParseTable();
  HRESULT TakeContents(const BYTE*& data, DWORD& count);
  HRESULT TakeCrc(const BYTE*& data, DWORD& count);
  HRESULT CreateCurrentFile();
  void CloseCurrentFile();
  void DiscardCurrentFile();
  void NextFile();
  HRESULT Fail(HRESULT result);

  char folder_[MAX_PATH];
  std::vector<BYTE> table_;  // the table's bytes, header included
  std::vector<Entry> entries_;
  DWORD table_size_ = 0;
  DWORD table_have_ = 0;
  BYTE header_[4] = {0};
  DWORD index_ = 0;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  char path_[MAX_PATH];
  DWORD written_ = 0;
  DWORD crc_ = 0xFFFFFFFF;
  BYTE crc_field_[4] = {0};
  DWORD crc_have_ = 0;
  Phase phase_ = Phase::kTable;
  HRESULT failure_ = S_OK;
};

// A name that the table may give a file: a plain file name that stays inside the destination
// folder and that Windows stores as it stands. Refused: an empty name; one with a character
// Windows forbids in names ("\", "/", ":", "*", "?", quote, "<", ">", "|", control characters);
// one that ends in a dot or a blank ("." and ".." too); a device name such as NUL, COM1 or
// "con .txt".
bool IsPlainFileName(const char* name);

#endif
