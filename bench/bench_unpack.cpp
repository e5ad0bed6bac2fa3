/*
 * Extraction over the host layer: speed and memory. A payload of real files from this machine
 * (shared libraries and documentation, at least 100 MB) is packed as a built setup packs it;
 * then UnpackSFX into a simulated machine (MB/s of decoded data), and the heap's peak during an
 * extraction of a 30 MB and a 200 MB payload (sampled), which should not grow with the payload.
 * The decoder's own bounds are measured where users run the setup: scripts/bench-wine.
 * bench_unpack [MB]   (default 100)
 */
#include <malloc.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "container/mapped_file.h"
#include "container/unpack.h"
#include "support/report.h"
#include "tools/pwpack/pack_writer.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Files of at least 16 KiB from the machine, text and binaries mixed, up to bytes in all.
std::vector<pwpack::PackFile> Payload(size_t bytes) {
  std::vector<fs::path> candidates;
  std::error_code ec;
  for (const char* root : {"/usr/lib/x86_64-linux-gnu", "/usr/share/doc", "/usr/bin", "/usr/lib"}) {
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (ec) break;
      if (it->is_regular_file(ec) && !it->is_symlink(ec) && it->file_size(ec) >= 16384)
        candidates.push_back(it->path());
      if (candidates.size() > 20000) break;
    }
  }
  std::sort(candidates.begin(), candidates.end());
  std::vector<pwpack::PackFile> files;
  size_t total = 0;
  // Every 7th candidate in a pass, so that neighbours in one folder do not fill the payload.
  for (size_t pass = 0; pass < 7 && total < bytes; ++pass) {
    for (size_t i = pass; i < candidates.size() && total < bytes && files.size() < 2500; i += 7) {
      std::ostringstream s;
      s << std::ifstream(candidates[i], std::ios::binary).rdbuf();
      std::string name = std::to_string(files.size()) + "_" + candidates[i].filename().string();
      files.push_back({name.substr(0, 60), s.str().substr(0, bytes - total)});
      total += files.back().contents.size();
    }
  }
  return files;
}

struct Packed {
  std::string setupPath, hostPath;  // inside the machine, and on the host
  uint64_t decoded;
};

Packed Pack(const std::string& root, size_t megabytes, const std::string& name) {
  std::vector<pwpack::PackFile> files = Payload(megabytes << 20);
  std::string stream, data, setup, error;
  if (!pwpack::MakeDecodedStream(files, &stream, &error) ||
      !pwpack::CompressBlock(stream, false, &data, &error, nullptr, 2) ||
      !pwpack::WriteSetup(pwpack::MinimalStub(), {{"pondwick", data, true}}, &setup, &error)) {
    std::fprintf(stderr, "bench_unpack: %s\n", error.c_str());
    std::exit(1);
  }
  Packed p{"C:\\" + name, root + "/drive_c/" + name, stream.size()};
  std::ofstream(p.hostPath, std::ios::binary) << setup;
  std::printf("payload %-10s %zu files, %.1f MB decoded, %.1f MB packed\n", name.c_str(), files.size(),
              stream.size() / 1e6, data.size() / 1e6);
  return p;
}

size_t HeapInUse() {
  struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

// Runs UnpackSFX once; returns seconds, and (when heapPeak is given) the heap's peak above its
// level before, sampled by a second thread.
double Unpack(const Packed& p, const std::string& root, size_t* heapPeak) {
  fs::remove_all(root + "/drive_c/out");
  fs::create_directories(root + "/drive_c/out");
  MappedFile file;
  if (!file.Open(p.setupPath.c_str(), GENERIC_READ, OPEN_EXISTING)) std::exit(1);
  size_t base = HeapInUse();
  std::atomic<bool> done{false};
  std::atomic<size_t> peak{0};
  std::thread sampler([&] {
    while (heapPeak && !done) {
      if (size_t now = HeapInUse(); now > base + peak) peak = now - base;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });
  auto start = Clock::now();
  HRESULT result = UnpackSFX(file, "pondwick", "C:\\out");
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  done = true;
  sampler.join();
  if (result != S_OK) {
    std::fprintf(stderr, "bench_unpack: UnpackSFX failed: %08X\n", (unsigned)result);
    std::exit(1);
  }
  if (heapPeak) *heapPeak = peak;
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  size_t megabytes = argc > 1 ? (size_t)std::atoi(argv[1]) : 100;
  char tmpl[] = "/tmp/winsim-bench-XXXXXX";
  std::string root = mkdtemp(tmpl);
  fs::create_directories(root + "/drive_c");
  setenv("WINSIM_ROOT", root.c_str(), 1);
  SilentMode = true;

  Packed main = Pack(root, megabytes, "main.exe");
  double unpack = 1e9;
  for (int run = 0; run < 3; ++run) unpack = std::min(unpack, Unpack(main, root, nullptr));
  std::printf("UnpackSFX over the host layer: %.1f MB/s\n", main.decoded / 1e6 / unpack);
  size_t peak = 0;

  for (size_t size : {30, 200}) {
    Packed p = Pack(root, size, "m" + std::to_string(size) + ".exe");
    Unpack(p, root, &peak);
    std::printf("heap peak while unpacking %3zu MB: %.2f MiB\n", size, peak / 1048576.0);
    fs::remove(p.hostPath);
  }
  fs::remove_all(root);
  return 0;
}
