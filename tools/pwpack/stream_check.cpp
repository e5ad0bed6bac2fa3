/* Decoding a packed block to check it; see stream_check.h. */
#include "tools/pwpack/stream_check.h"

#include <lzma.h>

#include <cstring>

#include "container/crc32.h"

namespace pwpack {
namespace {

// Follows the decoded stream as it arrives: table, then contents and CRC per file.
class Checker {
 public:
  explicit Checker(StreamReport* report) : r_(report) {}

  // False once nothing more is wanted (a bad table, or the table read in table-only mode).
  bool Take(const uint8_t* p, size_t n, bool tableOnly) {
    r_->decoded += n;
    while (n > 0 && !r_->complete) {
      if (!r_->tableOk) {
        size_t want = (table_.size() < 4 ? 4 : tableSize_) - table_.size();
        size_t take = std::min(want, n);
        table_.append(reinterpret_cast<const char*>(p), take);
        p += take;
        n -= take;
        if (table_.size() == 4) tableSize_ = (uint8_t)table_[0] | ((uint8_t)table_[1] << 8);
        if (table_.size() >= 4 && tableSize_ < 4) return Bad("table size below 4");
        if (table_.size() < 4 || table_.size() < tableSize_) continue;
        if (!Parse()) return false;
        if (tableOnly) return false;
        continue;
      }
      TableEntry& f = r_->files[index_];
      if (done_ < f.size) {
        size_t take = std::min<size_t>(f.size - done_, n);
        DWORD reg = crc_;
        Crc32Update(reg, p, (DWORD)take);
        crc_ = reg;
        done_ += (uint32_t)take;
        p += take;
        n -= take;
        continue;
      }
      crcField_ += (char)*p++;
      --n;
      if (crcField_.size() < 4) continue;
      uint32_t stored = 0;
      for (int i = 3; i >= 0; --i) stored = (stored << 8) | (uint8_t)crcField_[i];
      f.crc = stored;
      f.crcOk = stored == ~crc_;
      if (!f.crcOk && r_->problem.empty()) r_->problem = "CRC mismatch in " + f.name;
      NextFile();
    }
    return true;
  }

 private:
  bool Bad(const std::string& why) {
    r_->problem = "bad file table: " + why;
    return false;
  }

  bool Parse() {
    size_t count = (uint8_t)table_[2] | ((uint8_t)table_[3] << 8);
    size_t at = 4;
    for (size_t i = 0; i < count; ++i) {
      if (tableSize_ - at < 5) return Bad("entries run past the table");
      uint32_t size = 0;
      for (int k = 3; k >= 0; --k) size = (size << 8) | (uint8_t)table_[at + k];
      size_t nameLength = (uint8_t)table_[at + 4];
      if (nameLength == 0 || tableSize_ - at - 5 < nameLength) return Bad("a name runs past the table");
      std::string name = table_.substr(at + 5, nameLength);
      size_t zero = name.find('\0');
      if (zero == std::string::npos) return Bad("a name without its terminating zero");
      r_->files.push_back({name.substr(0, zero), size, false});
      at += 5 + nameLength;
    }
    r_->tableOk = true;
    index_ = 0;
    if (r_->files.empty()) r_->complete = true;
    return true;
  }

  void NextFile() {
    crc_ = 0xFFFFFFFF;
    done_ = 0;
    crcField_.clear();
    if (++index_ == r_->files.size()) r_->complete = true;
  }

  StreamReport* r_;
  std::string table_;
  size_t tableSize_ = 0;
  size_t index_ = 0;
  uint32_t done_ = 0;
  uint32_t crc_ = 0xFFFFFFFF;
  std::string crcField_;
};

}  // namespace

StreamReport CheckPackedBlock(const uint8_t* data, uint32_t length, bool tableOnly,
                              const Progress& progress) {
  StreamReport report;
  if (length < 5) {
    report.problem = "fewer than 5 property bytes";
    return report;
  }
  lzma_options_lzma options{};
  if (data[0] >= 225) {
    report.problem = "property byte " + std::to_string(data[0]) + " is out of range";
    return report;
  }
  options.lc = data[0] % 9;
  options.lp = (data[0] / 9) % 5;
  options.pb = data[0] / 45;
  std::memcpy(&options.dict_size, data + 1, 4);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream strm = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&strm, filters) != LZMA_OK) {
    report.problem = "liblzma refused the block's properties";
    return report;
  }
  Checker checker(&report);
  strm.next_in = data + 5;
  strm.avail_in = length - 5;
  std::string out(1 << 20, '\0');
  bool wanted = true;
  lzma_ret ret = LZMA_OK;
  while (wanted && ret == LZMA_OK) {
    strm.next_out = reinterpret_cast<uint8_t*>(&out[0]);
    strm.avail_out = out.size();
    ret = lzma_code(&strm, LZMA_FINISH);
    wanted = checker.Take(reinterpret_cast<const uint8_t*>(out.data()), out.size() - strm.avail_out,
                          tableOnly);
    if (progress) progress(length - 5 - strm.avail_in, length - 5);
  }
  lzma_end(&strm);
  if (wanted && !report.complete && report.problem.empty())
    report.problem = report.tableOk ? "the stream ends before its last file" : "the stream ends inside its file table";
  return report;
}

}  // namespace pwpack
