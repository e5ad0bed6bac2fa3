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

// A CRC-32 as pwpack prints it.
std::string Crc(const std::string& bytes) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08X", pwpack::Crc32(bytes));
  return hex;
}

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
  // Runs args, which must end with code and say each of texts.
  void Expect(const std::string& args, int code, std::initializer_list<std::string> texts = {}) {
    EXPECT_EQ(Run(args), code) << args << "\n" << output;
    for (const std::string& text : texts)
      EXPECT_NE(output.find(text), npos) << text << "\n" << output;
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

  std::string dir_, output;
};

}  // namespace

TEST_F(PwpackTest, BuildListVerifyAndExtractRoundTrip) {
  std::string big(200000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = (char)((i * 7) ^ (i >> 5));
  Write({"p/identities.exe", big, "p/readme.txt", "Pondwick\r\n", "p/empty.dat", "", "l/de.lng",
         "Hallo", "affid.txt", "AFF-7"});

  // The second build asks for the stored block's CRC and none for a packed one.
  const std::string crc = Crc("AFF-7") + "  stored";
  const std::string build =
      "build --out @setup.exe --packed pondwick=@p --stored affid=@affid.txt --packed langs=@l";
  for (const char* extra : {"", " --end-marker --crc affid --no-crc langs"}) {
    ASSERT_EQ(Run(build + extra), 0) << output;
    Expect("list @setup.exe", 0, {"pondwick", *extra ? crc : std::string("  00000000  stored")});
    EXPECT_EQ(output.find("00000000  packed") != npos, *extra != '\0') << extra << "\n" << output;
    EXPECT_LT(output.find("empty.dat"), output.find("identities.exe")) << "sorted by name";
    Expect("verify @setup.exe", 0, {"pondwick packed, 3 files"});

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
  Expect("verify @broken.exe", 1, {"integrity test: FAILED"});
}

TEST_F(PwpackTest, RefusesWhatItCannotDoWithTheRightExitCode) {
  Write({"l/en.lng", "Hello", "sub/dir/x.txt", "x", "stub.exe", pwpack::MinimalStub(), "notpe.exe",
         "MZ this is not a PE image at all, just text of some length...."});
  ASSERT_EQ(Run("build --stub @stub.exe --out @one.exe --packed langs=@l"), 0) << output;
  std::string damaged = Read("one.exe");
  damaged[damaged.size() - 3] ^= 0x40;
  Write({"bad.exe", damaged, "junk.exe", std::string(5000, 'J')});

  // Wrong usage and unusable input are 2, a damaged setup fails its check with 1; never a crash.
  for (const char* usage :
       {"", "frobnicate", "build --packed langs=@l", "build --out @o.exe",
        "build --out @o.exe --packed langs", "build --out @o.exe --packed toolongname=@l",
        "build --out @o.exe --packed pondwick=@sub", "build --out @o.exe --packed langs=@missing",
        "list @junk.exe", "build --stub @notpe.exe --out @o.exe --packed langs=@l",
        "verify @missing.exe", "extract @one.exe nothere @out", "diff @one.exe @missing.exe"})
    Expect(usage, 2);
  Expect("verify @bad.exe", 1);
  Expect("--help", 0, {"pwpack build"});

  // A built setup carries a container behind its image and is refused as a stub.
  Expect("build --stub @one.exe --out @two.exe --packed langs=@l", 2, {"behind its image"});
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

// A name Windows would store under another name, or not at all, is refused (exit 2) and named
// before anything is packed; a name it keeps is stored in Windows-1252. "A/B": two files.
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
    Expect("build --out @o.exe --packed pondwick=@ok --packed langs=@bad", 2,
           {"'" + names.substr(names.rfind('/') + 1) + "'"});
    EXPECT_FALSE(fs::exists(dir_ + "o.exe"));
  }
  // Kept: what Windows-1252 holds, COM with a digit beyond 9, and names alike but for case
  // beyond it (ß has no capital of its own).
  for (const char* name :
       {"\u00dcn\u00efcode \u20ac.txt", "COM0", "COM10", "stra\u00dfe", "STRASSE"})
    Write(std::string("good/") + name, "x");
  ASSERT_EQ(Run("build --out @o.exe --packed pondwick=@good"), 0) << output;
  Expect("list @o.exe", 0, {"\334n\357code \200.txt", "stra\337e"});  // in Windows-1252
}

// A setup signed after packing keeps its container inside the signed range; a container after
// the certificate table, or bytes appended behind the signature, fail verify.
TEST_F(PwpackTest, VerifyKnowsWhereTheSignatureLies) {
  Write("l/en.lng", "Hello");
  ASSERT_EQ(Run("build --out @setup.exe --packed langs=@l"), 0) << output;
  Expect("verify @setup.exe", 0, {"signature: none"});
  ASSERT_EQ(
      std::system(("sh " PW_SIGN_SCRIPT " " + dir_ + "setup.exe " + dir_ + "signed.exe").c_str()),
      0);
  ASSERT_TRUE(fs::exists(dir_ + "signed.exe")) << Read("signed.exe.log");
  for (const char* command : {"verify", "list"})
    Expect(std::string(command) + " @signed.exe", 0,
           {"container: inside the signed range", "after the signature: nothing"});

  const std::string signedSetup = Read("signed.exe");
  Write("appended.exe", signedSetup + "tampered");
  Expect("verify @appended.exe", 1, {"FAILED, 8 bytes appended"});
  Expect("list @appended.exe", 0);  // list only tells

  // The security directory moved to before the container: the container is no longer signed.
  std::string moved = signedSetup;
  size_t directory = GetLe32(moved, 0x3C) + 24 + 96 + 4 * 8;
  DWORD table = GetLe32(moved, directory), first = GetLe32(moved, 0x28);
  ASSERT_LT(first, table);
  PutLe32(moved, directory, first);
  PutLe32(moved, directory + 4, (DWORD)moved.size() - first);
  Write("moved.exe", moved);
  Expect("verify @moved.exe", 1, {"container: FAILED, it starts after the certificate table"});
}

// diff names every block and every file that differs, by size and CRC-32; a stub that differs
// (here by its signature) alone leaves the payload the same.
TEST_F(PwpackTest, DiffTellsWhatChangedBetweenTwoBuilds) {
  Write({"a/p/same.txt", "same", "a/p/changed.dll", "version 1", "a/p/gone.txt", "gone",
         "a/l/en.lng", "Hello", "a/affid.txt", "AFF-7", "b/p/same.txt", "same", "b/p/changed.dll",
         "version 2!", "b/p/new.txt", "new", "b/affid.txt", "AFF-8"});
  Expect(
      "build --out @a.exe --packed pondwick=@a/p --packed langs=@a/l --stored affid=@a/affid.txt",
      0);
  ASSERT_EQ(Run("build --out @b.exe --packed pondwick=@b/p --stored affid=@b/affid.txt"), 0);
  Expect("diff @a.exe @b.exe", 1,
         {"stub: same, 1024 bytes, CRC-32 " + Crc(pwpack::MinimalStub()) + "\n",
          "  file changed.dll: changed: 9 bytes, CRC-32 " + Crc("version 1") +
              " -> 10 bytes, CRC-32 " + Crc("version 2!") + "\n",
          "  file gone.txt: removed: 4 bytes, CRC-32 " + Crc("gone") + "\n",
          "  file new.txt: added: 3 bytes, CRC-32 " + Crc("new") + "\n",
          "block affid: changed: stored, 5 bytes, CRC-32 " + Crc("AFF-7") +
              " -> stored, 5 bytes, CRC-32 " + Crc("AFF-8") + "\n",
          "block langs: removed: packed, ", "payload: differs\n"});
  EXPECT_EQ(output.find("same.txt"), npos) << "only what differs is listed\n" << output;

  // The same build again, and signed: only the stub differs.
  ASSERT_EQ(std::system(("sh " PW_SIGN_SCRIPT " " + dir_ + "a.exe " + dir_ + "signed.exe").c_str()),
            0);
  for (const char* other : {"a.exe", "signed.exe"}) {
    Expect(std::string("diff @a.exe @") + other, 0, {"payload: same\n"});
    EXPECT_EQ(output.find("stub: differs") == npos, other == std::string("a.exe")) << output;
  }
  Write("junk.exe", std::string(5000, 'J'));
  Expect("diff @a.exe @junk.exe", 2);
  Expect("diff @a.exe", 2);
}
