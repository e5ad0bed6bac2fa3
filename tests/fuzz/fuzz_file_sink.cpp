/*
 * FileSink fed an arbitrary decoded stream. The first input bytes choose where the stream is cut;
 * the same stream fed whole must give the same result and the same files.
 */
#include <stddef.h>
#include <stdint.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "container/file_sink.h"
#include "tests/fuzz/fuzz_machine.h"

namespace {

struct Outcome {
  HRESULT result;
  bool complete;
  std::map<std::string, std::string> files;
};

Outcome Run(const FuzzMachine& machine, const uint8_t* data, const std::vector<size_t>& cuts) {
  machine.Clear();
  Outcome out{S_OK, false, {}};
  {
    FileSink sink(machine.Out());
    size_t at = 0;
    for (size_t cut : cuts) {
      out.result = sink.Write(data + at, (DWORD)(cut - at));
      at = cut;
      if (FAILED(out.result)) break;
    }
    out.complete = sink.Complete();
  }
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(machine.HostOut(), ec))
    out.files[entry.path().filename().string()] = ReadAll(entry.path());
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzMachine machine;
  if (size < 2) return 0;
  // Byte 0: how many cuts (up to 7); then one byte per cut, spread over the stream.
  size_t cutCount = data[0] % 8;
  if (size < 1 + cutCount) return 0;
  const uint8_t* stream = data + 1 + cutCount;
  size_t length = size - 1 - cutCount;
  std::vector<size_t> cuts;
  size_t at = 0;
  for (size_t i = 0; i < cutCount; ++i) {
    at += length ? data[1 + i] % (length - at + 1) : 0;
    cuts.push_back(at);
  }
  cuts.push_back(length);

  Outcome pieces = Run(machine, stream, cuts);
  Outcome whole = Run(machine, stream, {length});
  if (pieces.result != whole.result || pieces.complete != whole.complete ||
      pieces.files != whole.files)
    __builtin_trap();  // the cut changed what was written
  machine.Clear();
  return 0;
}
