/*
 * DecodeBlock: liblzma's raw LZMA1 decoder between the block reader and the file sink. Built
 * setups carry neither an end marker nor the unpacked size, so the end of the block's data is
 * the end of the stream; the decoder then stops with LZMA_BUF_ERROR, which is a normal end here.
 */
#include <lzma.h>

#include <memory>
#include <new>

#include "container/file_sink.h"
#include "container/unpack.h"
#include "support/progress_window.h"
#include "support/report.h"

namespace {

const DWORD kInputPiece = 64 * 1024;
const DWORD kOutputPiece = 256 * 1024;
// Windows takes a window that has answered no message for 5 s for hung and shows it as "(Not
// Responding)"; a big block on a slow PC decodes for longer than that.
const DWORD kPumpEvery = 200;  // ms

// The 5 property bytes as LZMA1 options: (pb * 5 + lp) * 9 + lc, then the dictionary size.
HRESULT DecoderOptions(const BYTE* props, lzma_options_lzma* options) {
  if (props[0] >= 9 * 5 * 5) return E_INVALIDARG;
  *options = lzma_options_lzma();
  options->lc = props[0] % 9;
  options->lp = (props[0] / 9) % 5;
  options->pb = props[0] / 45;
  options->dict_size =
      (DWORD)props[1] | ((DWORD)props[2] << 8) | ((DWORD)props[3] << 16) | ((DWORD)props[4] << 24);
  return S_OK;
}

HRESULT FromLzma(lzma_ret ret) {
  return ret == LZMA_MEM_ERROR || ret == LZMA_MEMLIMIT_ERROR ? E_OUTOFMEMORY : E_FAIL;
}

// The stream has ended (normally, at a marker, or where the data turned out malformed).
bool IsEndOfStream(lzma_ret ret) {
  return ret == LZMA_STREAM_END || ret == LZMA_BUF_ERROR || ret == LZMA_DATA_ERROR ||
         ret == LZMA_FORMAT_ERROR;
}

class Decoder {
 public:
  ~Decoder() { lzma_end(&stream_); }
  lzma_stream* operator->() { return &stream_; }
  lzma_stream* get() { return &stream_; }

 private:
  lzma_stream stream_ = LZMA_STREAM_INIT;
};

}  // namespace

HRESULT DecodeBlock(BlockReader& reader, const char* folder) {
  Decoder decoder;
  FileSink sink(folder);

  BYTE props[5];
  DWORD got = 0;
  HRESULT result = reader.Read(props, sizeof props, &got);
  if (FAILED(result)) {
    ReportError("Read DecoderProperties error", nullptr, result);
    return result;
  }
  if (got < sizeof props) {
    ReportError("Read DecoderProperties size mismatch", nullptr, 0);
    return E_FAIL;
  }

  lzma_options_lzma options;
  result = DecoderOptions(props, &options);
  if (SUCCEEDED(result)) {
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_ret ret = lzma_raw_decoder(decoder.get(), filters);
    // Anything but a lack of memory means the decoder refuses these properties (liblzma, for
    // one, takes no lc + lp above 4).
    if (ret != LZMA_OK) result = ret == LZMA_MEM_ERROR ? E_OUTOFMEMORY : E_INVALIDARG;
  }
  if (FAILED(result)) {
    ReportError("SetDecoderProperties error", nullptr, result);
    return result;
  }

  // Pieces of the compressed data and of the decoded stream; memory stays the same whatever
  // the size of the block.
  std::unique_ptr<BYTE[]> input(new (std::nothrow) BYTE[kInputPiece]);
  std::unique_ptr<BYTE[]> output(new (std::nothrow) BYTE[kOutputPiece]);
  if (!input || !output) {
    ReportError("Failed to decode stream ", nullptr, E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  }
  lzma_action action = LZMA_RUN;
  DWORD pumped = GetTickCount() - kPumpEvery;  // the first piece takes the messages at once
  for (;;) {
    if (decoder->avail_in == 0 && action == LZMA_RUN) {
      result = reader.Read(input.get(), kInputPiece, &got);
      if (FAILED(result)) break;
      if (got == 0) action = LZMA_FINISH;  // the block's data is used up: the stream's end
      decoder->next_in = input.get();
      decoder->avail_in = got;
    }
    decoder->next_out = output.get();
    decoder->avail_out = kOutputPiece;
    lzma_ret ret = lzma_code(decoder.get(), action);
    DWORD produced = kOutputPiece - (DWORD)decoder->avail_out;
    if (produced > 0) {
      result = sink.Write(output.get(), produced);
      if (FAILED(result)) break;
    }
    if (GetTickCount() - pumped >= kPumpEvery) {
      PumpMessages();
      pumped = GetTickCount();
    }
    if (ret == LZMA_OK) continue;
    if (!IsEndOfStream(ret)) result = FromLzma(ret);
    break;
  }
  // A stream that ends before its last file leaves files the table promised unwritten.
  if (SUCCEEDED(result) && !sink.Complete()) result = E_FAIL;
  if (FAILED(result)) ReportError("Failed to decode stream ", nullptr, result);
  return result;
}
