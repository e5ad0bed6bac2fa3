/* pwpack as its users run it: commands, output, exit codes, and refusals of bad input. */
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/pwpack/pack_writer.h"

namespace fs = std::filesystem;

namespace {

class PwpackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/pwpack-test-XXXXXX";
    dir_ = mkdtemp(tmpl);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs pwpack with args; returns its exit code and keeps its output (stdout and stderr).
  int Run(const std::string& args) {
    std::string cmd = std::string(PWPACK_PATH) + " " + args + " >" + dir_ + "/out.txt 2>&1";
    int status = std::system(cmd.c_str());
    output = Read(dir_ + "/out.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void Write(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::string P(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
  std::string output;
};

}  // namespace

TEST_F(PwpackTest, BuildListVerifyAndExtractRoundTrip) {
  std::string big(200000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = (char)((i * 7) ^ (i >> 5));
  Write(P("p/identities.exe"), big);
  Write(P("p/readme.txt"), "Pondwick\r\n");
  Write(P("p/empty.dat"), "");
  Write(P("l/de.lng"), "Hallo");
  Write(P("affid.txt"), "AFF-7");

  for (const char* marker : {"", " --end-marker"}) {
    ASSERT_EQ(Run("build --out " + P("setup.exe") + " --packed pondwick=" + P("p") +
                  " --stored affid=" + P("affid.txt") + " --packed langs=" + P("l") + marker),
              0)
        << output;
    ASSERT_EQ(Run("list " + P("setup.exe")), 0) << output;
    EXPECT_NE(output.find("pondwick"), std::string::npos);
    EXPECT_NE(output.find("  00000000  stored"), std::string::npos) << "stored blocks carry CRC 0\n"
                                                                   << output;
    EXPECT_LT(output.find("empty.dat"), output.find("identities.exe")) << "sorted by name";
    ASSERT_EQ(Run("verify " + P("setup.exe")), 0) << output;
    EXPECT_NE(output.find("pondwick packed, 3 files"), std::string::npos) << output;

    fs::remove_all(P("out"));
    ASSERT_EQ(Run("extract " + P("setup.exe") + " pondwick " + P("out")), 0) << output;
    EXPECT_EQ(Read(P("out/identities.exe")), big);
    EXPECT_EQ(Read(P("out/readme.txt")), "Pondwick\r\n");
    EXPECT_TRUE(fs::exists(P("out/empty.dat")));
    ASSERT_EQ(Run("extract " + P("setup.exe") + " affid " + P("out")), 0) << output;
    EXPECT_EQ(Read(P("out/affid.bin")), "AFF-7");
  }

  // CRCs on request, and none where asked.
  ASSERT_EQ(Run("build --out " + P("crc.exe") + " --stored affid=" + P("affid.txt") +
                " --crc affid --packed langs=" + P("l") + " --no-crc langs"),
            0);
  ASSERT_EQ(Run("list " + P("crc.exe")), 0);
  char crc[16];
  std::snprintf(crc, sizeof crc, "%08X", pwpack::Crc32("AFF-7"));
  EXPECT_NE(output.find(crc), std::string::npos) << output;
  EXPECT_NE(output.find("00000000  packed"), std::string::npos) << output;

  // A broken link behind the first block fails verify, as it fails the setup's own test.
  std::string setup = Read(P("crc.exe"));
  auto le32 = [&setup](size_t at) {
    return (uint32_t)(uint8_t)setup[at] | (uint32_t)(uint8_t)setup[at + 1] << 8 |
           (uint32_t)(uint8_t)setup[at + 2] << 16 | (uint32_t)(uint8_t)setup[at + 3] << 24;
  };
  size_t first = le32(0x28);
  setup[first + le32(first + 2)] = 'X';  // the second block's signature
  Write(P("broken.exe"), setup);
  EXPECT_EQ(Run("verify " + P("broken.exe")), 1) << output;
  EXPECT_NE(output.find("integrity test: FAILED"), std::string::npos) << output;
}

TEST_F(PwpackTest, RefusesWhatItCannotDoWithTheRightExitCode) {
  Write(P("l/en.lng"), "Hello");
  Write(P("sub/dir/x.txt"), "x");
  Write(P("notpe.exe"), "MZ this is not a PE image at all, just text of some length....");
  Write(P("stub.exe"), pwpack::MinimalStub());

  EXPECT_EQ(Run(""), 2);
  EXPECT_EQ(Run("frobnicate"), 2);
  EXPECT_EQ(Run("build --packed langs=" + P("l")), 2) << "no --out";
  EXPECT_EQ(Run("build --out " + P("o.exe")), 2) << "no blocks";
  EXPECT_EQ(Run("build --out " + P("o.exe") + " --packed langs"), 2);
  EXPECT_EQ(Run("--help"), 0);
  EXPECT_NE(output.find("pwpack build"), std::string::npos);

  EXPECT_EQ(Run("build --out " + P("o.exe") + " --packed toolongname=" + P("l")), 1);
  EXPECT_EQ(Run("build --out " + P("o.exe") + " --packed pondwick=" + P("sub")), 1)
      << "folders inside a packed folder are refused";
  EXPECT_EQ(Run("build --out " + P("o.exe") + " --packed langs=" + P("missing")), 1);
  EXPECT_EQ(Run("build --stub " + P("notpe.exe") + " --out " + P("o.exe") + " --packed langs=" +
                P("l")),
            1);

  // A real stub works once; the result carries a container and is refused as a stub.
  ASSERT_EQ(Run("build --stub " + P("stub.exe") + " --out " + P("one.exe") + " --packed langs=" +
                P("l")),
            0)
      << output;
  EXPECT_EQ(Run("build --stub " + P("one.exe") + " --out " + P("two.exe") + " --packed langs=" +
                P("l")),
            1);
  EXPECT_NE(output.find("behind its image"), std::string::npos) << output;

  // Damaged setups: a failed check, never a crash.
  std::string setup = Read(P("one.exe"));
  setup[setup.size() - 3] ^= 0x40;
  Write(P("bad.exe"), setup);
  EXPECT_EQ(Run("verify " + P("bad.exe")), 1) << output;
  Write(P("junk.exe"), std::string(5000, 'J'));
  EXPECT_EQ(Run("list " + P("junk.exe")), 1);
  EXPECT_EQ(Run("verify " + P("missing.exe")), 1);
  EXPECT_EQ(Run("extract " + P("one.exe") + " nothere " + P("out")), 1);
}

TEST_F(PwpackTest, AStubsCoffStringTableGivesWayToTheContainer) {
  // What MinGW's linker leaves behind the last section: an empty symbol table and the string
  // table of long section names, which the header points at.
  std::string stub = pwpack::MinimalStub();
  const uint32_t end = (uint32_t)stub.size();
  auto put32 = [](std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = (char)(v >> (8 * i));
  };
  std::string withStrings = stub + std::string("\x0e\0\0\0.eh_frame\0", 14);
  put32(withStrings, 0x40 + 12, end);
  std::string setup, error;
  ASSERT_TRUE(pwpack::WriteSetup(withStrings, {{"langs", "x", true}}, &setup, &error)) << error;
  EXPECT_EQ(setup.substr(end, 2), "WP") << "the container starts right after the last section";
  EXPECT_EQ(setup.substr(0x40 + 12, 8), std::string(8, '\0')) << "the header no longer points there";

  // Anything else behind the image is still refused.
  std::string other = withStrings + "more";
  EXPECT_FALSE(pwpack::WriteSetup(other, {{"langs", "x", true}}, &setup, &error));
  std::string unpointed = stub + std::string("\x0e\0\0\0.eh_frame\0", 14);
  EXPECT_FALSE(pwpack::WriteSetup(unpointed, {{"langs", "x", true}}, &setup, &error));
}
