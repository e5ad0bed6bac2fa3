/* pwpack as its users run it: commands, output, exit codes, and refusals of bad input. */
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/setup_file_builder.h"
#include "tools/pwpack/pack_writer.h"

namespace fs = std::filesystem;

namespace {

const size_t npos = std::string::npos;

class PwpackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/pwpack-test-XXXXXX";
    dir_ = std::string(mkdtemp(tmpl)) + "/";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs pwpack with args, in which "@" stands for this test's folder; returns its exit code and
  // keeps its output (stdout and stderr).
  int Run(std::string args) {
    for (size_t at; (at = args.find('@')) != npos;) args.replace(at, 1, dir_);
    int status = std::system((PWPACK_PATH " " + args + " >" + dir_ + "out.txt 2>&1").c_str());
    output = Read("out.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(dir_ + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  void Write(const std::string& name, const std::string& bytes) const {
    fs::create_directories(fs::path(dir_ + name).parent_path());
    std::ofstream(dir_ + name, std::ios::binary) << bytes;
  }
  // Files given as name, bytes, name, bytes...
  void Write(std::initializer_list<std::string> files) const {
    for (auto f = files.begin(); f != files.end(); f += 2) Write(f[0], f[1]);
  }

  std::string dir_;
  std::string output;
};

}  // namespace

TEST_F(PwpackTest, BuildListVerifyAndExtractRoundTrip) {
  std::string big(200000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = (char)((i * 7) ^ (i >> 5));
  Write({"p/identities.exe", big, "p/readme.txt", "Pondwick\r\n", "p/empty.dat", "", "l/de.lng",
         "Hallo", "affid.txt", "AFF-7"});

  // The second build asks for the stored block's CRC and none for a packed one.
  char crc[24];
  std::snprintf(crc, sizeof crc, "%08X  stored", pwpack::Crc32("AFF-7"));
  const std::string build =
      "build --out @setup.exe --packed pondwick=@p --stored affid=@affid.txt --packed langs=@l";
  for (const char* extra : {"", " --end-marker --crc affid --no-crc langs"}) {
    ASSERT_EQ(Run(build + extra), 0) << output;
    ASSERT_EQ(Run("list @setup.exe"), 0) << output;
    EXPECT_NE(output.find("pondwick"), npos);
    EXPECT_NE(output.find(*extra ? crc : "  00000000  stored"), npos) << extra << "\n" << output;
    EXPECT_EQ(output.find("00000000  packed") != npos, *extra != '\0') << extra << "\n" << output;
    EXPECT_LT(output.find("empty.dat"), output.find("identities.exe")) << "sorted by name";
    ASSERT_EQ(Run("verify @setup.exe"), 0) << output;
    EXPECT_NE(output.find("pondwick packed, 3 files"), npos) << output;

    fs::remove_all(dir_ + "out");
    ASSERT_EQ(Run("extract @setup.exe pondwick @out"), 0) << output;
    EXPECT_EQ(Read("out/identities.exe"), big);
    EXPECT_EQ(Read("out/readme.txt"), "Pondwick\r\n");
    EXPECT_TRUE(fs::exists(dir_ + "out/empty.dat"));
    ASSERT_EQ(Run("extract @setup.exe affid @out"), 0) << output;
    EXPECT_EQ(Read("out/affid.bin"), "AFF-7");
  }

  // A broken link behind the first block fails verify, as it fails the setup's own test.
  std::string setup = Read("setup.exe");
  DWORD first = GetLe32(setup, 0x28);
  setup[first + GetLe32(setup, first + 2)] = 'X';  // the second block's signature
  Write("broken.exe", setup);
  EXPECT_EQ(Run("verify @broken.exe"), 1) << output;
  EXPECT_NE(output.find("integrity test: FAILED"), npos) << output;
}

TEST_F(PwpackTest, RefusesWhatItCannotDoWithTheRightExitCode) {
  Write({"l/en.lng", "Hello", "sub/dir/x.txt", "x", "stub.exe", pwpack::MinimalStub(), "notpe.exe",
         "MZ this is not a PE image at all, just text of some length...."});
  ASSERT_EQ(Run("build --stub @stub.exe --out @one.exe --packed langs=@l"), 0) << output;
  std::string damaged = Read("one.exe");
  damaged[damaged.size() - 3] ^= 0x40;
  Write({"bad.exe", damaged, "junk.exe", std::string(5000, 'J')});

  // Wrong usage and input that can't be used are 2; a damaged setup fails its check with 1. Never
  // a crash.
  for (const char* usage :
       {"", "frobnicate", "build --packed langs=@l", "build --out @o.exe",
        "build --out @o.exe --packed langs", "build --out @o.exe --packed toolongname=@l",
        "build --out @o.exe --packed pondwick=@sub", "build --out @o.exe --packed langs=@missing",
        "list @junk.exe", "build --stub @notpe.exe --out @o.exe --packed langs=@l",
        "verify @missing.exe", "extract @one.exe nothere @out", "diff @one.exe @missing.exe"})
    EXPECT_EQ(Run(usage), 2) << usage << "\n" << output;
  EXPECT_EQ(Run("verify @bad.exe"), 1) << output;
  EXPECT_EQ(Run("--help"), 0);
  EXPECT_NE(output.find("pwpack build"), npos) << "--help shows the usage";

  // A built setup carries a container behind its image and is refused as a stub.
  EXPECT_EQ(Run("build --stub @one.exe --out @two.exe --packed langs=@l"), 2);
  EXPECT_NE(output.find("behind its image"), npos) << output;
}

TEST_F(PwpackTest, AStubsCoffStringTableGivesWayToTheContainer) {
  // What MinGW's linker leaves behind the last section: an empty symbol table and the string
  // table of long section names, which the header points at.
  const std::string stub = pwpack::MinimalStub(), strings("\x0e\0\0\0.eh_frame\0", 14);
  std::string withStrings = stub + strings, setup, error;
  PutLe32(withStrings, 0x40 + 12, (DWORD)stub.size());
  ASSERT_TRUE(pwpack::WriteSetup(withStrings, {{"langs", "x", true}}, &setup, &error)) << error;
  EXPECT_EQ(setup.substr(stub.size(), 2), "WP") << "the container starts right after the image";
  EXPECT_EQ(setup.substr(0x40 + 12, 8), std::string(8, '\0'))
      << "the header no longer points there";

  // Anything else behind the image is still refused.
  for (const std::string& behind : {withStrings + "more", stub + strings})
    EXPECT_FALSE(pwpack::WriteSetup(behind, {{"langs", "x", true}}, &setup, &error));
}

// Every name that Windows would store under another name, or not at all, is refused with exit 2
// and named, before anything is packed; a name it keeps goes into the table in Windows-1252.
// "A/B" stands for two files of one folder.
TEST_F(PwpackTest, RefusesNamesThatWindowsWouldChange) {
  // clang-format off
  const char* const kRefused[] = {
      "0253_libxslt-extensions.", "trailing ", "a<b", "a>b", "a:b", "a\"b", "a\\b", "a|b", "a?b",
      "a*b", "tab\tname", "CON", "con.txt", "aux .txt", "Com1.tar.gz", "LPT\u00b9",
      "com\u00b2.log", "nul", "CONIN$", "\u65e5\u672c.txt", "\xff.bin", "smile\U0001F600",
      "Readme.txt/README.TXT", "\u00dcber.txt/\u00fcber.txt", "\u0152uvre/\u0153uvre",
      "\u0178/\u00ff"};
  // clang-format on
  Write("ok/x.txt", "x");
  for (const std::string names : kRefused) {
    fs::remove_all(dir_ + "bad");
    for (size_t at = 0, end = 0; end != npos; at = end + 1)
      Write("bad/" + names.substr(at, (end = names.find('/', at)) - at), "x");
    EXPECT_EQ(Run("build --out @o.exe --packed pondwick=@ok --packed langs=@bad"), 2) << output;
    EXPECT_NE(output.find("'" + names.substr(names.rfind('/') + 1) + "'"), npos) << output;
    EXPECT_FALSE(fs::exists(dir_ + "o.exe"));
  }
  // Kept: what Windows-1252 holds, COM with a digit beyond 9, and names alike but for case
  // beyond it (ß has no capital of its own).
  fs::remove_all(dir_ + "bad");
  for (const char* name :
       {"\u00dcn\u00efcode \u20ac.txt", "COM0", "COM10", "stra\u00dfe", "STRASSE"})
    Write(std::string("good/") + name, "x");
  ASSERT_EQ(Run("build --out @o.exe --packed pondwick=@good"), 0) << output;
  ASSERT_EQ(Run("list @o.exe"), 0) << output;
  for (const std::string cp1252 : {"\xdcn\xef"
                                   "code \x80.txt",
                                   "stra\xdf"
                                   "e"})
    EXPECT_NE(output.find(cp1252), npos) << output;
}

// A setup signed after packing keeps its container inside the signed range; a container after
// the certificate table, or bytes appended behind the signature, fail verify.
TEST_F(PwpackTest, VerifyKnowsWhereTheSignatureLies) {
  Write("l/en.lng", "Hello");
  ASSERT_EQ(Run("build --out @setup.exe --packed langs=@l"), 0) << output;
  ASSERT_EQ(Run("verify @setup.exe"), 0) << output;
  EXPECT_NE(output.find("signature: none"), npos) << output;
  ASSERT_EQ(
      std::system(("sh " PW_SIGN_SCRIPT " " + dir_ + "setup.exe " + dir_ + "signed.exe").c_str()),
      0);
  ASSERT_TRUE(fs::exists(dir_ + "signed.exe")) << Read("signed.exe.log");
  for (const char* command : {"verify", "list"}) {
    ASSERT_EQ(Run(std::string(command) + " @signed.exe"), 0) << output;
    EXPECT_NE(output.find("container: inside the signed range"), npos) << output;
    EXPECT_NE(output.find("after the signature: nothing"), npos) << output;
  }

  const std::string signedSetup = Read("signed.exe");
  Write("appended.exe", signedSetup + "tampered");
  EXPECT_EQ(Run("verify @appended.exe"), 1) << output;
  EXPECT_NE(output.find("FAILED, 8 bytes appended"), npos) << output;
  EXPECT_EQ(Run("list @appended.exe"), 0) << "list only tells\n" << output;

  // The security directory moved to before the container: the container is no longer signed.
  std::string moved = signedSetup;
  size_t directory = GetLe32(moved, 0x3C) + 24 + 96 + 4 * 8;
  DWORD table = GetLe32(moved, directory), first = GetLe32(moved, 0x28);
  ASSERT_LT(first, table);
  PutLe32(moved, directory, first);
  PutLe32(moved, directory + 4, (DWORD)moved.size() - first);
  Write("moved.exe", moved);
  EXPECT_EQ(Run("verify @moved.exe"), 1) << output;
  EXPECT_NE(output.find("container: FAILED, it starts after the certificate table"), npos)
      << output;
}

// diff names every block and every file that differs, by size and CRC-32; a stub that differs
// (here by its signature) alone leaves the payload the same.
TEST_F(PwpackTest, DiffTellsWhatChangedBetweenTwoBuilds) {
  Write({"a/p/same.txt", "same", "a/p/changed.dll", "version 1", "a/p/gone.txt", "gone",
         "a/l/en.lng", "Hello", "a/affid.txt", "AFF-7", "b/p/same.txt", "same", "b/p/changed.dll",
         "version 2!", "b/p/new.txt", "new", "b/affid.txt", "AFF-8"});
  ASSERT_EQ(Run("build --out @a.exe --packed pondwick=@a/p --packed langs=@a/l "
                "--stored affid=@a/affid.txt"),
            0)
      << output;
  ASSERT_EQ(Run("build --out @b.exe --packed pondwick=@b/p --stored affid=@b/affid.txt"), 0);
  EXPECT_EQ(Run("diff @a.exe @b.exe"), 1) << output;
  auto crc = [](const std::string& bytes) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08X", pwpack::Crc32(bytes));
    return std::string(hex);
  };
  for (const std::string& line :
       {"stub: same, 1024 bytes, CRC-32 " + crc(pwpack::MinimalStub()),
        "  file changed.dll: changed: 9 bytes, CRC-32 " + crc("version 1") +
            " -> 10 bytes, CRC-32 " + crc("version 2!"),
        "  file gone.txt: removed: 4 bytes, CRC-32 " + crc("gone"),
        "  file new.txt: added: 3 bytes, CRC-32 " + crc("new"),
        "block affid: changed: stored, 5 bytes, CRC-32 " + crc("AFF-7") +
            " -> stored, 5 bytes, CRC-32 " + crc("AFF-8"),
        std::string("block langs: removed: packed, "), std::string("payload: differs")})
    EXPECT_NE(output.find(line + (line.back() == ' ' ? "" : "\n")), npos) << line << "\n" << output;
  EXPECT_EQ(output.find("same.txt"), npos) << "only what differs is listed\n" << output;

  // The same build again, and signed: only the stub differs.
  ASSERT_EQ(std::system(("sh " PW_SIGN_SCRIPT " " + dir_ + "a.exe " + dir_ + "signed.exe").c_str()),
            0);
  for (const char* other : {"a.exe", "signed.exe"}) {
    EXPECT_EQ(Run(std::string("diff @a.exe @") + other), 0) << output;
    EXPECT_NE(output.find("payload: same\n"), npos) << output;
    EXPECT_EQ(output.find("stub: differs") == npos, other == std::string("a.exe")) << output;
  }
  Write("junk.exe", std::string(5000, 'J'));
  EXPECT_EQ(Run("diff @a.exe @junk.exe"), 2) << output;
  EXPECT_EQ(Run("diff @a.exe"), 2) << output;
}
