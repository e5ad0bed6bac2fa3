/*
 * Seed inputs for the fuzz targets, made with pwpack's writer: whole setup files for the chain
 * target, decoded streams (behind a cut-count byte) for the sink, packed block data for the
 * decoder, and wininit.ini files for the 95-family restart. make_seeds DIR writes DIR/chain,
 * DIR/sink, DIR/decode and DIR/wininit.
 */
#include <filesystem>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_machine.h"
#include "tools/pwpack/pack_writer.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  fs::path dir = argv[1];
  for (const char* sub : {"chain", "sink", "decode", "wininit"}) fs::create_directories(dir / sub);
  WriteAll(dir / "wininit" / "0", "[Rename]\r\nNUL=C:\\OLD.TMP\r\n[Other]\r\nkey=value\r\n");
  WriteAll(dir / "wininit" / "1", "[rename]\r\nC:\\A.DLL=C:\\_PW1.PW_");
  WriteAll(dir / "wininit" / "2", "");
  std::vector<std::vector<pwpack::PackFile>> payloads = {
      {{"a.txt", "abc"}},
      {{"empty.dat", ""}, {"readme.txt", "Pondwick\r\n"}, {"z.bin", std::string(300, 'z')}},
      {},
  };
  std::string error;
  int n = 0;
  for (const auto& files : payloads) {
    std::string stream, packed, marked, setup;
    if (!pwpack::MakeDecodedStream(files, &stream, &error) ||
        !pwpack::CompressBlock(stream, false, &packed, &error) ||
        !pwpack::CompressBlock(stream, true, &marked, &error))
      return 1;
    std::vector<pwpack::Block> blocks = {
        {"pondwick", packed, true}, {"affid", "AFF-1", false}, {"langs", marked, true}};
    if (!pwpack::WriteSetup(pwpack::MinimalStub(), blocks, &setup, &error)) return 1;
    std::string id = std::to_string(n++);
    WriteAll(dir / "chain" / id, setup);
    WriteAll(dir / "sink" / id, std::string(1, '\x03') + "\x10\x40\x90" + stream);
    WriteAll(dir / "decode" / id, packed);
    WriteAll(dir / "decode" / (id + "m"), marked);
  }
  return 0;
}
