/*
 * pwpack: builds setup files (a stub executable with the container of blocks behind it) and
 * lists, verifies and extracts them.
 *
 *   pwpack build [--stub STUB] --out SETUP (--packed NAME=DIR | --stored NAME=FILE)...
 *                [--no-crc NAME]... [--crc NAME]... [--end-marker]
 *   pwpack list SETUP
 *   pwpack verify SETUP
 *   pwpack extract SETUP BLOCK DIR
 *   pwpack diff SETUP-A SETUP-B
 *
 * Exit codes: 0 done; 1 a check failed, the payloads differ, or the work failed (a damaged
 * setup, a file that can't be written); 2 wrong usage or input that can't be used as given (a
 * missing file, a file name the setup could not install as it is named, no container).
 */
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "container/block_chain.h"
#include "container/mapped_file.h"
#include "container/test_sfx.h"
#include "container/unpack.h"
#include "support/log.h"
#include "support/report.h"
#include "tools/pwpack/blocks.h"
#include "tools/pwpack/file_names.h"
#include "tools/pwpack/pack_writer.h"
#include "tools/pwpack/setup_diff.h"
#include "tools/pwpack/signature.h"
#include "tools/pwpack/stream_check.h"

namespace fs = std::filesystem;
using namespace pwpack;

namespace {

const char kUsage[] =
    "usage: pwpack build [--stub STUB] --out SETUP (--packed NAME=DIR | --stored NAME=FILE)...\n"
    "                    [--no-crc NAME]... [--crc NAME]... [--end-marker]\n"
    "       pwpack list SETUP\n"
    "       pwpack verify SETUP\n"
    "       pwpack extract SETUP BLOCK DIR\n"
    "       pwpack diff SETUP-A SETUP-B\n"
    "\n"
    "build    packs each DIR's files (sorted by name) as an LZMA block and each FILE as a stored\n"
    "         block, in the order given, behind the stub's image. Packed blocks carry their\n"
    "         CRC-32 and stored blocks 0, unless --no-crc or --crc says otherwise. Without\n"
    "         --stub a minimal executable image is used.\n"
    "list     shows the blocks, the file table of each packed block, and where the signature\n"
    "         lies: whether the setup is signed, whether the container lies inside the signed\n"
    "         range, and whether bytes follow the certificate table.\n"
    "verify   runs the setup's integrity test and decodes every packed block, checking every\n"
    "         file's CRC-32; writes nothing. A signed setup fails it when its container starts\n"
    "         after the certificate table or bytes were appended behind the signature.\n"
    "extract  unpacks a packed block (or saves a stored one) into DIR, as the setup does.\n"
    "diff     prints what differs between two setups: the stub (size, CRC-32), each block\n"
    "         (kind, size, CRC-32 of its data) and each file of a packed block (added,\n"
    "         removed, changed: size, CRC-32). Exit 0 when the payloads (the blocks and their\n"
    "         files) are the same, 1 when they differ; a stub alone (signed, rebuilt) does not\n"
    "         count.\n"
    "\n"
    "build refuses, before it compresses anything, a file name that Windows would store under\n"
    "another name or not at all: a final dot or blank, a character Windows forbids, a device\n"
    "name (CON, NUL, COM1, \"aux .txt\", ...), a character Windows-1252 lacks, and two names\n"
    "that differ only in case.\n"
    "\n"
    "exit codes: 0 done; 1 a check failed, diff found the payloads differ, or the work failed\n"
    "(a damaged setup, an output that can't be written); 2 wrong usage or unusable input (a\n"
    "missing or unreadable file, a refused file name, no container, no such block).\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "pwpack: %s\n\n%s", problem.c_str(), kUsage);
  return 2;
}

int Refuse(const std::string& problem) {
  std::fprintf(stderr, "pwpack: %s\n", problem.c_str());
  return 2;
}

int Fail(const std::string& problem) {
  std::fprintf(stderr, "pwpack: %s\n", problem.c_str());
  return 1;
}

bool ReadWhole(const fs::path& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *bytes = s.str();
  return !in.bad();
}

// A progress bar on stderr, drawn only on a terminal and only for work worth watching.
class Bar {
 public:
  Bar(const std::string& what, uint64_t total)
      : what_(what), shown_(total > (8u << 20) && isatty(2)) {}
  ~Bar() {
    if (shown_ && drawn_) std::fprintf(stderr, "\r%-70s\r", "");
  }
  Progress Callback() {
    return [this](uint64_t done, uint64_t total) { Draw(done, total); };
  }

 private:
  void Draw(uint64_t done, uint64_t total) {
    if (!shown_ || total == 0) return;
    int percent = (int)(done * 100 / total);
    if (percent == last_) return;
    last_ = percent;
    drawn_ = true;
    int filled = percent * 30 / 100;
    std::fprintf(stderr, "\r%-12s [%s%s] %3d%%", what_.c_str(), std::string(filled, '#').c_str(),
                 std::string(30 - filled, ' ').c_str(), percent);
    std::fflush(stderr);
  }
  std::string what_;
  bool shown_;
  bool drawn_ = false;
  int last_ = -1;
};

// The path as the setup's own code expects it: a Windows path (on the host, through Z:).
std::string WindowsPath(const fs::path& path) {
#ifdef _WIN32
  return fs::absolute(path).string();
#else
  std::string s = "Z:" + fs::absolute(path).lexically_normal().string();
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
#endif
}

// The setup's reporting goes to a log file of our own, shown when something fails.
class QuietLog {
 public:
  QuietLog() {
    SilentMode = true;
    path_ = fs::temp_directory_path() / ("pwpack-" + std::to_string(getpid()) + ".log");
    std::string w = WindowsPath(path_);
    std::snprintf(LogFilePath, sizeof LogFilePath, "%s", w.c_str());
  }
  ~QuietLog() {
    std::error_code ec;
    fs::remove(path_, ec);
  }
  void Show() const {
    std::string text;
    if (ReadWhole(path_, &text) && !text.empty()) std::fprintf(stderr, "%s", text.c_str());
  }

 private:
  fs::path path_;
};

bool SplitAssignment(const std::string& arg, std::string* name, std::string* value) {
  size_t eq = arg.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == arg.size()) return false;
  *name = arg.substr(0, eq);
  *value = arg.substr(eq + 1);
  return true;
}

// A packed block's files: their paths, and their names as the setup will install them.
struct FolderFiles {
  std::vector<fs::path> paths;
  std::vector<std::string> names;
};

// Lists dir's files, sorted by name. A name that the setup would install under another name or
// not at all is refused here, before anything is read or compressed.
int ListFolder(const fs::path& dir, FolderFiles* files) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return Refuse("not a folder: " + dir.string());
  std::vector<fs::path> paths;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (!entry.is_regular_file())
      return Refuse("only plain files can be packed, and " + entry.path().string() + " is not one");
    paths.push_back(entry.path());
  }
  if (ec) return Refuse("cannot list " + dir.string() + ": " + ec.message());
  std::sort(paths.begin(), paths.end());
  std::vector<std::string> utf8;
  for (const fs::path& path : paths) utf8.push_back(path.filename().u8string());
  std::string refused = CheckFolderNames(utf8, &files->names);
  if (!refused.empty()) return Refuse(dir.string() + ": " + refused);
  files->paths = paths;
  return 0;
}

// 0 when packed; else the exit code: 2 for input that can't be packed, 1 for a failed compression.
int PackFolder(const std::string& name, const fs::path& dir, const FolderFiles& listed,
               bool endMarker, std::string* data) {
  std::vector<PackFile> files(listed.paths.size());
  for (size_t i = 0; i < files.size(); ++i) {
    files[i].name = listed.names[i];
    if (!ReadWhole(listed.paths[i], &files[i].contents))
      return Refuse("cannot read " + listed.paths[i].string());
  }
  std::string stream, error;
  if (!MakeDecodedStream(files, &stream, &error)) return Refuse(dir.string() + ": " + error);
  Bar bar(name, stream.size());
  return CompressBlock(stream, endMarker, data, &error, bar.Callback()) ? 0 : Fail(error);
}

int Build(const std::vector<std::string>& args) {
  std::string stubPath, outPath;
  bool endMarker = false;
  struct Source {
    std::string name, path;
    bool packed;
  };
  std::vector<Source> sources;
  std::set<std::string> noCrc, crc;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    std::string v, name, path;
    if (a == "--end-marker") {
      endMarker = true;
    } else if (a == "--stub" || a == "--out" || a == "--no-crc" || a == "--crc") {
      if (!value(&v)) return Usage(a + " needs a value");
      if (a == "--stub") stubPath = v;
      if (a == "--out") outPath = v;
      if (a == "--no-crc") noCrc.insert(v);
      if (a == "--crc") crc.insert(v);
    } else if (a == "--packed" || a == "--stored") {
      if (!value(&v) || !SplitAssignment(v, &name, &path)) return Usage(a + " needs NAME=PATH");
      if (name.size() > 8) return Usage("block names have 1 to 8 characters: '" + name + "'");
      sources.push_back({name, path, a == "--packed"});
    } else {
      return Usage("unknown argument '" + a + "'");
    }
  }
  if (outPath.empty()) return Usage("build needs --out");
  if (sources.empty()) return Usage("build needs at least one --packed or --stored block");
  for (const std::string& n : noCrc)
    if (crc.count(n)) return Usage("block '" + n + "' is named by both --crc and --no-crc");

  std::string stub;
  if (stubPath.empty()) {
    stub = MinimalStub();
  } else if (!ReadWhole(stubPath, &stub)) {
    return Refuse("cannot read the stub " + stubPath);
  }
  std::vector<FolderFiles> listed(sources.size());
  for (size_t i = 0; i < sources.size(); ++i)
    if (sources[i].packed)
      if (int refused = ListFolder(sources[i].path, &listed[i])) return refused;
  std::vector<Block> blocks;
  std::string error;
  for (size_t i = 0; i < sources.size(); ++i) {
    const Source& s = sources[i];
    Block b{s.name, std::string(), s.packed};
    if (s.packed) {
      if (int failed = PackFolder(s.name, s.path, listed[i], endMarker, &b.data)) return failed;
    } else if (!ReadWhole(s.path, &b.data)) {
      return Refuse("cannot read " + s.path);
    }
    if (noCrc.count(s.name)) b.crc = false;
    if (crc.count(s.name)) b.crc = true;
    blocks.push_back(std::move(b));
  }
  std::string setup;
  // What WriteSetup refuses is the input: a stub that is no image or carries data already.
  if (!WriteSetup(stub, blocks, &setup, &error)) return Refuse(error);
  std::string tmp = outPath + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(setup.data(), (std::streamsize)setup.size());
    if (!out) return Fail("cannot write " + tmp);
  }
  std::error_code ec;
  fs::rename(tmp, outPath, ec);
  if (ec) return Fail("cannot write " + outPath + ": " + ec.message());
  std::printf("%s: %zu bytes, %zu blocks\n", outPath.c_str(), setup.size(), blocks.size());
  return 0;
}

// The setup file mapped through the setup's own MappedFile.
bool Map(const std::string& path, MappedFile* file) {
  if (file->Open(WindowsPath(path).c_str(), GENERIC_READ, OPEN_EXISTING)) return true;
  std::fprintf(stderr, "pwpack: cannot open %s (system error %lu)\n", path.c_str(),
               (unsigned long)GetLastError());
  return false;
}

// Prints where the signature lies against the container; false when that fails verification.
bool ShowSignature(const MappedFile& file, const std::vector<const SfxBlockHeader*>& blocks) {
  const BYTE* view = file.View();
  uint64_t at = blocks.empty() ? file.Size() : reinterpret_cast<const BYTE*>(blocks.front()) - view;
  uint64_t end = blocks.empty() ? at
                                : reinterpret_cast<const BYTE*>(blocks.back()) - view +
                                      blocks.back()->BlockSize();
  SignatureVerdict verdict = JudgeSignature(ReadSignature(view, file.Size()), file.Size(), at, end);
  std::printf("%s", verdict.lines.c_str());
  return verdict.ok;
}

int List(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("list needs exactly one setup file");
  QuietLog log;
  MappedFile file;
  if (!Map(args[0], &file)) return 2;
  std::vector<const SfxBlockHeader*> blocks = Blocks(file.View(), file.Size());
  if (blocks.empty()) {
    log.Show();
    return Refuse(args[0] + " has no readable container");
  }
  std::printf("%-8s  %10s  %10s  %8s  %s\n", "block", "offset", "size", "data CRC", "kind");
  for (const SfxBlockHeader* b : blocks) {
    StreamReport table = CheckPackedBlock(b->Data(), b->DataLength(), true);
    std::printf("%-8s  %10u  %10u  %08X  %s\n", BlockName(b).c_str(),
                (unsigned)(reinterpret_cast<const BYTE*>(b) - file.View()), (unsigned)b->BlockSize(),
                (unsigned)b->DataCrc(), table.tableOk ? "packed" : "stored");
    for (const TableEntry& f : table.files) std::printf("          %10u  %s\n", f.size, f.name.c_str());
  }
  ShowSignature(file, blocks);
  log.Show();
  return 0;
}

int Verify(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("verify needs exactly one setup file");
  QuietLog log;
  MappedFile file;
  if (!Map(args[0], &file)) return 2;
  bool ok = TestSFX(file.View(), file.Size()) == 1;
  std::printf("integrity test: %s\n", ok ? "OK" : "FAILED");
  std::vector<const SfxBlockHeader*> blocks = Blocks(file.View(), file.Size());
  ok = ShowSignature(file, blocks) && ok;
  for (const SfxBlockHeader* b : blocks) {
    Bar bar(BlockName(b), b->DataLength());
    StreamReport r = CheckPackedBlock(b->Data(), b->DataLength(), false, bar.Callback());
    if (!r.tableOk && r.files.empty() && r.decoded == 0) {
      std::printf("%-8s stored, %u bytes\n", BlockName(b).c_str(), (unsigned)b->DataLength());
      continue;
    }
    if (!r.tableOk) {
      std::printf("%-8s stored, %u bytes (no file table)\n", BlockName(b).c_str(),
                  (unsigned)b->DataLength());
      continue;
    }
    bool good = r.complete && r.problem.empty();
    std::printf("%-8s packed, %zu files, %llu bytes decoded: %s\n", BlockName(b).c_str(),
                r.files.size(), (unsigned long long)r.decoded,
                good ? "OK" : r.problem.c_str());
    ok = ok && good;
  }
  if (!ok) log.Show();
  return ok ? 0 : 1;
}

int Extract(const std::vector<std::string>& args) {
  if (args.size() != 3) return Usage("extract needs SETUP BLOCK DIR");
  QuietLog log;
  MappedFile file;
  if (!Map(args[0], &file)) return 2;
  const std::string& name = args[1];
  DWORD length = 0;
  const BYTE* data = FindSfxBlock(file.View(), file.Size(), name.c_str(), &length);
  if (!data) {
    log.Show();
    return Refuse("no block '" + name + "' in " + args[0]);
  }
  std::error_code ec;
  fs::create_directories(args[2], ec);
  HRESULT result;
  if (CheckPackedBlock(data, length, true).tableOk) {
    result = UnpackSFX(file, name.c_str(), WindowsPath(args[2]).c_str());
  } else {
    std::string target = WindowsPath(fs::path(args[2]) / (name + ".bin"));
    result = SaveSFX(file, name.c_str(), target.c_str(), 1);
  }
  if (FAILED(result)) {
    log.Show();
    return Fail("extraction failed (result " + std::to_string((unsigned long)(DWORD)result) + ")");
  }
  std::printf("%s extracted to %s\n", name.c_str(), args[2].c_str());
  return 0;
}

int Diff(const std::vector<std::string>& args) {
  if (args.size() != 2) return Usage("diff needs two setup files");
  QuietLog log;
  MappedFile a, b;
  if (!Map(args[0], &a) || !Map(args[1], &b)) return 2;
  SetupDiff diff = DiffSetups(a.View(), a.Size(), b.View(), b.Size());
  if (!diff.readable) {
    log.Show();
    return Refuse("no readable container in " + args[0] + " or " + args[1]);
  }
  std::printf("%s", diff.lines.c_str());
  return diff.payloadDiffers ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage("no command");
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::printf("%s", kUsage);
    return 0;
  }
  std::string command = args[0];
  args.erase(args.begin());
  if (command == "build") return Build(args);
  if (command == "list") return List(args);
  if (command == "verify") return Verify(args);
  if (command == "extract") return Extract(args);
  if (command == "diff") return Diff(args);
  return Usage("unknown command '" + command + "'");
}
