/*
 * FileSink fed an arbitrary decoded stream. The first input bytes choose where the stream is cut;
 * the same stream fed whole must give the same result and the same files.
 */
#include <stddef.h>
#include <stdint.h>

#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "container/file_sink.h"
#include "tests/fuzz/fuzz_machine.h"

namespace {

// The first failure (or S_OK), whether the sink was complete, and the files it left.
using Outcome = std::tuple<HRESULT, bool, std::map<std::string, std::string>>;

Outcome Run(const FuzzMachine& machine, const uint8_t* data, const std::vector<size_t>& cuts) {
  machine.Clear();
  HRESULT result = S_OK;
  bool complete;
  {
    FileSink sink(machine.Out());
    for (size_t i = 0, at = 0; i < cuts.size() && SUCCEEDED(result); at = cuts[i++])
      result = sink.Write(data + at, (DWORD)(cuts[i] - at));
    complete = sink.Complete();
  }
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(machine.HostOut(), ec))
    files[entry.path().filename().string()] = ReadAll(entry.path());
  return {result, complete, files};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static FuzzMachine machine;
  // Byte 0: how many cuts (up to 7); then one byte per cut, spread over the stream.
  if (size < 2 || size < 1 + data[0] % 8u) return 0;
  size_t cutCount = data[0] % 8, length = size - 1 - cutCount;
  const uint8_t* stream = data + 1 + cutCount;
  std::vector<size_t> cuts;
  for (size_t i = 0, at = 0; i < cutCount; ++i) cuts.push_back(at += data[1 + i] % (length - at + 1));
  cuts.push_back(length);
  if (Run(machine, stream, cuts) != Run(machine, stream, {length}))
    __builtin_trap();  // the cut changed what was written
  machine.Clear();
  return 0;
}
