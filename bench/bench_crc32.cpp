/*
 * CRC-32 throughput over 64 MiB: the braided routine the setup uses, against
 * zlib's crc32 on the same data (the speed to reach) and the one-lookup-per-byte loop. Prints
 * GB/s (10^9 bytes per second) and checks that all three agree.
 */
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "container/crc32.h"

namespace {

const size_t kSize = 64u << 20;

const std::vector<BYTE>& Data() {
  static std::vector<BYTE> data = [] {
    std::vector<BYTE> d(kSize);
    DWORD x = 2463534242u;
    for (BYTE& b : d) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      b = (BYTE)x;
    }
    return d;
  }();
  return data;
}

DWORD Braided(const std::vector<BYTE>& data) {
  DWORD reg = 0xFFFFFFFF;
  return ~Crc32Update(reg, data.data(), (DWORD)data.size());
}

DWORD Zlib(const std::vector<BYTE>& data) {
  return (DWORD)crc32(0, data.data(), (uInt)data.size());
}

DWORD BytePerStep(const std::vector<BYTE>& data) {
  DWORD reg = 0xFFFFFFFF;
  for (BYTE b : data) reg = (reg >> 8) ^ Crc32Table[(reg ^ b) & 0xFF];
  return ~reg;
}

// Times one routine, once it has been seen to agree with zlib.
void Crc32(benchmark::State& state, DWORD (*crc)(const std::vector<BYTE>&)) {
  const std::vector<BYTE>& data = Data();
  if (crc(data) != Zlib(data)) {
    std::fprintf(stderr, "bench_crc32: a routine and zlib disagree\n");
    std::abort();
  }
  for (auto _ : state) benchmark::DoNotOptimize(crc(data));
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)kSize);
  state.counters["GB/s"] = benchmark::Counter((double)state.iterations() * (double)kSize / 1e9,
                                              benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK_CAPTURE(Crc32, Braided, Braided)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Crc32, Zlib, Zlib)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Crc32, BytePerStep, BytePerStep)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
