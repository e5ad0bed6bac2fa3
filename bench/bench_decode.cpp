/*
 * The bounds for UnpackSFX in the world users run (i686 under Wine): one packed block of a
 * setup decoded by liblzma alone into memory, then decoded and written as one file in the
 * setup's piece sizes, then that file's CopyFileA and DeleteFileA; and what each file costs apart
 * from its bytes. Prints seconds per step; scripts/bench-wine sets them beside the setup's own
 * phases.
 *   bench_decode SETUP BLOCK SCRATCH-FOLDER
 */
#include <lzma.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <string>

#include "container/block_chain.h"

static double Now() {
  LARGE_INTEGER t, f;
  QueryPerformanceCounter(&t);
  QueryPerformanceFrequency(&f);
  return (double)t.QuadPart / (double)f.QuadPart;
}

// Decodes data into 256 KiB pieces, each handed to out (when given); returns the bytes decoded.
static unsigned long long Decode(const BYTE* data, DWORD size, HANDLE out) {
  lzma_options_lzma o = lzma_options_lzma();
  o.lc = data[0] % 9, o.lp = data[0] / 9 % 5, o.pb = data[0] / 45, o.dict_size = ReadLe32(data + 1);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &o}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream s = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&s, filters) != LZMA_OK) return 0;
  static BYTE piece[256 * 1024];
  s.next_in = data + 5, s.avail_in = size - 5;
  lzma_ret ret = LZMA_OK;
  for (DWORD written; ret == LZMA_OK;) {
    s.next_out = piece, s.avail_out = sizeof piece;
    ret = lzma_code(&s, LZMA_FINISH);
    if (out && !WriteFile(out, piece, (DWORD)(sizeof piece - s.avail_out), &written, nullptr))
      return 0;
  }
  unsigned long long total = s.total_out;
  lzma_end(&s);
  // Built setups carry no end marker: the stream ends where the data does.
  return ret == LZMA_BUF_ERROR || ret == LZMA_STREAM_END ? total : 0;
}

// Milliseconds per file for 2,000 files of 4 KiB: made in one empty folder (CreateFileA,
// WriteFile, CloseHandle), copied into another (CopyFileA), a log line each as the setup writes
// one (opened, appended with write-through, closed), then the sources deleted (DeleteFileA). The
// first and the second thousand apart: Wine scans a folder for each name that does not exist yet.
static void PerFile(const std::string& dir) {
  static BYTE bytes[4096];
  std::string from = dir + "\\from", to = dir + "\\to", log = dir + "\\log.txt";
  CreateDirectoryA(from.c_str(), nullptr), CreateDirectoryA(to.c_str(), nullptr);
  const char* steps[5] = {"create_ms", "copy_ms", "log_line_ms", "delete_ms", nullptr};
  for (int step = 0; step < 5; ++step) {
    if (steps[step]) printf("%s", steps[step]);
    for (int first = 0; first < 2000; first += 1000) {
      double t0 = Now();
      for (int i = first; i < first + 1000; ++i) {
        char name[16];
        snprintf(name, sizeof name, "\\f%04d.bin", i);
        std::string a = from + name, b = to + name;
        DWORD done;
        if (step == 0 || step == 2) {
          HANDLE h = step == 0
                         ? CreateFileA(a.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr)
                         : CreateFileA(log.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
          if (step == 2) SetFilePointer(h, 0, nullptr, FILE_END);
          WriteFile(h, bytes, step == 0 ? sizeof bytes : 100, &done, nullptr);
          CloseHandle(h);
        } else if (step == 1) {
          CopyFileA(a.c_str(), b.c_str(), FALSE);
        } else {
          DeleteFileA(step == 3 ? a.c_str() : b.c_str());
        }
      }
      if (steps[step]) printf(" %.3f", (Now() - t0) * 1e3 / 1000);
    }
    if (steps[step]) printf("\n");
  }
  DeleteFileA(log.c_str()), RemoveDirectoryA(from.c_str()), RemoveDirectoryA(to.c_str());
}

int main(int argc, char** argv) {
  if (argc != 4) return fprintf(stderr, "usage: bench_decode SETUP BLOCK SCRATCH-FOLDER\n"), 2;
  HANDLE f =
      CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD size = f == INVALID_HANDLE_VALUE ? 0 : GetFileSize(f, nullptr), got = 0;
  std::string setup(size == INVALID_FILE_SIZE ? 0 : size, '\0');
  if (setup.empty() || !ReadFile(f, &setup[0], size, &got, nullptr) || got != size)
    return fprintf(stderr, "bench_decode: cannot read %s\n", argv[1]), 1;
  CloseHandle(f);
  DWORD length = 0;
  const BYTE* data = FindSfxBlock(setup.data(), size, argv[2], &length);
  if (!data || length < 5) return fprintf(stderr, "bench_decode: no block %s\n", argv[2]), 1;

  double t0 = Now();
  unsigned long long bytes = Decode(data, length, nullptr);
  double t1 = Now();
  std::string scratch = std::string(argv[3]) + "\\decoded.bin", copy = scratch + ".copy";
  HANDLE out = CreateFileA(scratch.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  unsigned long long written = Decode(data, length, out);
  CloseHandle(out);
  double t2 = Now();
  BOOL copied = CopyFileA(scratch.c_str(), copy.c_str(), FALSE);
  double t3 = Now();
  BOOL deleted = DeleteFileA(copy.c_str());
  double t4 = Now();
  DeleteFileA(scratch.c_str());
  if (!bytes || written != bytes || !copied || !deleted)
    return fprintf(stderr, "bench_decode: a step failed\n"), 1;
  printf("liblzma %s\nbytes %llu\ndecode %.3f\ndecode_write %.3f\ncopy %.3f\ndelete %.3f\n",
         lzma_version_string(), bytes, t1 - t0, t2 - t1, t3 - t2, t4 - t3);
  PerFile(argv[3]);
  return 0;
}
