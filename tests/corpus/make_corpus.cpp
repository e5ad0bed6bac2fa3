// make_corpus DIR writes DIR/<case>.exe for every malformed setup (to look at or seed a fuzzer)
// and DIR/expected.txt with what a whole install of each must do. The setups are made behind
// pwpack's minimal image with stand-in files; the e2e test uses the product's own, in memory.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/corpus/malformed_setups.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  fs::path dir = argv[1];
  fs::create_directories(dir);
  corpus::Parts parts;
  parts.stub = pwpack::MinimalStub();
  parts.pondwick = {{"pwwipeout.exe", "configuration"}, {"identities.exe", "product"}};
  parts.langs = {{"de.lng", "[de]\r\n"}, {"en.lng", "[en]\r\n"}};
  parts.portable = {{"roamkit.ini", "[Roamkit]\r\n"}};
  parts.affid = "PWAFF-0042";
  std::ofstream expected(dir / "expected.txt", std::ios::binary);
  for (const corpus::Case& c : corpus::Cases()) {
    std::string setup, error;
    if (!c.make(parts, &setup, &error)) {
      std::fprintf(stderr, "%s: %s\n", c.name, error.c_str());
      return 1;
    }
    std::ofstream(dir / (std::string(c.name) + ".exe"), std::ios::binary)
        .write(setup.data(), (std::streamsize)setup.size());
    expected << c.name << ": " << c.damage << "\n  exit code " << std::hex << (unsigned)c.exitCode
             << std::dec << "\n";
    for (const std::string& box : c.boxes) expected << "  box " << box << "\n";
    for (const std::string& line : c.decisive) expected << "  log " << line << "\n";
  }
  return 0;
}
