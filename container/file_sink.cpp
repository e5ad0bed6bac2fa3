/* FileSink: the decoded stream of a packed block, cut into files as it arrives. */
#include "container/file_sink.h"

#include <string.h>

#include "container/crc32.h"
#include "container/failure.h"
#include "support/report.h"

namespace {

WORD Le16(const BYTE* p) { return (WORD)(p[0] | (p[1] << 8)); }

DWORD Le32(const BYTE* p) {
  return (DWORD)p[0] | ((DWORD)p[1] << 8) | ((DWORD)p[2] << 16) | ((DWORD)p[3] << 24);
}

// Whether Windows reads the name as a device in any folder. It looks at what comes before the
// first dot, without the blanks that end it: "CON", "con.txt", "CON .log" and "Com1.tar.gz"
// all open a device. COM and LPT also take the superscript digits of Windows-1252.
bool IsDeviceName(const char* name) {
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  size_t stem = strcspn(name, ".");
  while (stem > 0 && name[stem - 1] == ' ') --stem;
  char upper[8];
  if (stem == 0 || stem >= sizeof upper) return false;
  for (size_t i = 0; i < stem; ++i)
    upper[i] = (name[i] >= 'a' && name[i] <= 'z') ? (char)(name[i] - 32) : name[i];
  upper[stem] = '\0';
  for (const char* device : kDevices)
    if (strcmp(upper, device) == 0) return true;
  if (stem != 4 || (strncmp(upper, "COM", 3) != 0 && strncmp(upper, "LPT", 3) != 0)) return false;
  unsigned char digit = (unsigned char)upper[3];
  return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

}  // namespace

bool IsPlainFileName(const char* name) {
  if (!name || !*name) return false;
  for (const char* p = name; *p; ++p)
    if ((unsigned char)*p < 32 || strchr("\\/:*?\"<>|", *p)) return false;
  // Windows drops a name's final dots and blanks ("." and ".." among them): the file would
  // stand under another name than the table's.
  char last = name[strlen(name) - 1];
  if (last == '.' || last == ' ') return false;
  return !IsDeviceName(name);
}

FileSink::FileSink(const char* folder) {
  folder_[0] = '\0';
  path_[0] = '\0';
  if (folder) {
    strncpy(folder_, folder, sizeof folder_ - 1);
    folder_[sizeof folder_ - 1] = '\0';
  }
}

// A file still open here is short: the stream ended inside it.
FileSink::~FileSink() { DiscardCurrentFile(); }

HRESULT FileSink::Fail(HRESULT result) {
  CloseCurrentFile();
  phase_ = Phase::kFailed;
  failure_ = result;
  return result;
}

HRESULT FileSink::Write(const BYTE* data, DWORD count) {
  if (phase_ == Phase::kFailed) return failure_;
  while (count > 0) {
    HRESULT result = S_OK;
    switch (phase_) {
      case Phase::kTable:
        result = TakeTable(data, count);
        break;
      case Phase::kContents:
        result = TakeContents(data, count);
        break;
      case Phase::kCrc:
        result = TakeCrc(data, count);
        break;
      case Phase::kDone:
        return S_OK;  // bytes behind the last record are not part of the stream
      case Phase::kFailed:
        return failure_;
    }
    if (FAILED(result)) return Fail(result);
  }
  return S_OK;
}

// Moves bytes from the piece into a field until it holds want bytes; true once it does.
static bool Collect(BYTE* field, DWORD& have, DWORD want, const BYTE*& data, DWORD& count) {
  DWORD take = want - have;
  if (take > count) take = count;
  memcpy(field + have, data, take);
  have += take;
  data += take;
  count -= take;
  return have == want;
}

HRESULT FileSink::TakeTable(const BYTE*& data, DWORD& count) {
  if (table_have_ < sizeof header_) {
    if (!Collect(header_, table_have_, sizeof header_, data, count)) return S_OK;
    table_size_ = Le16(header_);
    if (table_size_ < sizeof header_) return ParseTable();
    table_.assign(header_, header_ + sizeof header_);
    table_.resize(table_size_);
  }
  return Collect(table_.data(), table_have_, table_size_, data, count) ? ParseTable() : S_OK;
}

HRESULT FileSink::ParseTable() {
  // A table that contradicts itself is refused as a whole, before any file is made from it.
  DWORD fileCount = Le16(header_ + 2);
  bool good = table_size_ >= sizeof header_;
  DWORD at = sizeof header_;
  for (DWORD i = 0; good && i < fileCount; ++i) {
    if (table_size_ - at < 5) {
      good = false;
      break;
    }
    DWORD size = Le32(&table_[at]);
    DWORD nameLength = table_[at + 4];
    const char* name = reinterpret_cast<const char*>(&table_[at + 5]);
    if (nameLength == 0 || table_size_ - at - 5 < nameLength ||
        memchr(name, 0, nameLength) == nullptr) {
      good = false;
      break;
    }
    if (!IsPlainFileName(name)) {
      // It would write outside the destination folder, or to a device.
      ReportError("Error creating file ", name, ERROR_INVALID_NAME);
      return E_FAIL;
    }
    entries_.push_back({size, name});
    at += 5 + nameLength;
  }
  if (!good) {
    ReportError("Bad file table ", folder_, 0);
    return E_FAIL;
  }
  index_ = 0;
  phase_ = entries_.empty() ? Phase::kDone : Phase::kContents;
  return S_OK;
}

HRESULT FileSink::CreateCurrentFile() {
  const char* name = entries_[index_].name;
  if (strlen(folder_) + 1 + strlen(name) >= sizeof path_) {
    // The path would not fit: refuse it rather than cut it.
    char longPath[2 * MAX_PATH];
    wsprintfA(longPath, "%s\\%s", folder_, name);
    ReportError("Error creating file ", longPath, ERROR_FILENAME_EXCED_RANGE);
    return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  }
  wsprintfA(path_, "%s\\%s", folder_, name);
  file_ = CreateFileA(path_, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
  if (file_ == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    ReportError("Error creating file ", path_, (LONG)error);
    return FailureFromError(error);
  }
  written_ = 0;
  crc_ = 0xFFFFFFFF;
  return S_OK;
}

HRESULT FileSink::TakeContents(const BYTE*& data, DWORD& count) {
  // The file is made when the first byte of its record arrives (for an empty file, the first
  // byte of its CRC field).
  if (file_ == INVALID_HANDLE_VALUE) {
    HRESULT result = CreateCurrentFile();
    if (FAILED(result)) return result;
  }
  DWORD due = entries_[index_].size - written_;
  DWORD take = due < count ? due : count;
  if (take > 0) {
    DWORD done = 0;
    SetLastError(0);  // a short write must report its own code, not an older one
    BOOL ok = WriteFile(file_, data, take, &done, nullptr);
    if (!ok || done != take) {
      DWORD error = GetLastError();
      DiscardCurrentFile();
      ReportError("Error writing to file ", path_, (LONG)error);
      return FailureFromError(error);
    }
    Crc32Update(crc_, data, take);
    written_ += take;
    data += take;
    count -= take;
  }
  if (written_ == entries_[index_].size) {
    CloseCurrentFile();
    crc_have_ = 0;
    phase_ = Phase::kCrc;
  }
  return S_OK;
}

HRESULT FileSink::TakeCrc(const BYTE*& data, DWORD& count) {
  if (!Collect(crc_field_, crc_have_, sizeof crc_field_, data, count)) return S_OK;
  DWORD expected = Le32(crc_field_);
  DWORD actual = ~crc_;
  crc_ = 0xFFFFFFFF;
  if (expected != actual) {
    // The bytes are not the ones packed; a block whose failure the run tolerates would have
    // them installed, so the file goes like a short one.
    DeleteFileA(path_);
    ReportError("CRC Error in file ", entries_[index_].name, 0);
    return E_FAIL;
  }
  NextFile();
  return S_OK;
}

void FileSink::NextFile() {
  ++index_;
  written_ = 0;
  phase_ = index_ < entries_.size() ? Phase::kContents : Phase::kDone;
}

void FileSink::CloseCurrentFile() {
  if (file_ != INVALID_HANDLE_VALUE) {
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }
}

// A short file is never of use, and a later step could take it for a whole one: a block whose
// failure the run tolerates ("langs") would otherwise have a truncated file moved into the
// installation folder over a good one.
void FileSink::DiscardCurrentFile() {
  if (file_ == INVALID_HANDLE_VALUE) return;
  CloseCurrentFile();
  DWORD error = GetLastError();
  DeleteFileA(path_);
  SetLastError(error);
}
