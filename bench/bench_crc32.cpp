/*
 * CRC-32 throughput over 64 MiB: the sixteen-bytes-per-step routine the setup uses, against
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

void Report(benchmark::State& state) {
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)kSize);
  state.counters["GB/s"] =
      benchmark::Counter((double)state.iterations() * (double)kSize / 1e9,
                         benchmark::Counter::kIsRate);
}

void Crc32Sliced(benchmark::State& state) {
  const std::vector<BYTE>& data = Data();
  for (auto _ : state) {
    DWORD reg = 0xFFFFFFFF;
    Crc32Update(reg, data.data(), (DWORD)data.size());
    benchmark::DoNotOptimize(reg);
  }
  Report(state);
}

void Crc32Zlib(benchmark::State& state) {
  const std::vector<BYTE>& data = Data();
  DWORD reg = 0xFFFFFFFF;
  Crc32Update(reg, data.data(), (DWORD)data.size());
  if (crc32(0, data.data(), (uInt)data.size()) != ~reg) {
    std::fprintf(stderr, "bench_crc32: zlib and the setup disagree\n");
    std::abort();
  }
  for (auto _ : state) {
    uLong crc = crc32(0, data.data(), (uInt)data.size());
    benchmark::DoNotOptimize(crc);
  }
  Report(state);
}

void Crc32BytePerStep(benchmark::State& state) {
  const std::vector<BYTE>& data = Data();
  for (auto _ : state) {
    DWORD reg = 0xFFFFFFFF;
    for (BYTE b : data) reg = (reg >> 8) ^ Crc32Table[(reg ^ b) & 0xFF];
    benchmark::DoNotOptimize(reg);
  }
  Report(state);
}

}  // namespace

BENCHMARK(Crc32Sliced)->Unit(benchmark::kMillisecond);
BENCHMARK(Crc32Zlib)->Unit(benchmark::kMillisecond);
BENCHMARK(Crc32BytePerStep)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
