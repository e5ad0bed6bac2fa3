/* BlockReader, DecodeBlock, UnpackSFX and SaveSFX over real LZMA blocks in a setup file. */
#include "container/unpack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "support/progress_window.h"
#include "support/report.h"
#include "tests/support/log_reader.h"
#include "tests/support/setup_file_builder.h"
#include "tests/support/test_machine.h"
#include "tools/pwpack/pack_writer.h"
#ifndef _WIN32
#include "platform/posix/winsim.h"
#endif

namespace {

std::string Packed(const std::vector<pwpack::PackFile>& files, bool endMarker = false) {
  std::string stream, data, error;
  EXPECT_TRUE(pwpack::MakeDecodedStream(files, &stream, &error)) << error;
  EXPECT_TRUE(pwpack::CompressBlock(stream, endMarker, &data, &error)) << error;
  return data;
}

// Some bytes that compress a little, like real files do.
std::string Content(size_t size, unsigned seed) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    seed = seed * 1103515245u + 12345u;
    s[i] = (seed >> 16) % 7 == 0 ? (char)(seed >> 24) : "setup text "[i % 11];
  }
  return s;
}

class UnpackTest : public ::testing::Test {
 protected:
  void SetUp() override { SilentMode = true; }
  void TearDown() override { SilentMode = false; }

  void Setup(const SetupFileBuilder& builder) {
    file.Close();
    std::string path = machine.Path("setup" + std::to_string(++count_) + ".exe");
    ASSERT_TRUE(TestMachine::WriteBytes(path, builder.Build()));
    ASSERT_TRUE(file.Open(path.c_str(), GENERIC_READ, OPEN_EXISTING));
  }
  std::string Folder() {
    std::string folder = machine.Path("out" + std::to_string(++count_));
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
  }
  static std::string Bytes(const std::string& path) {
    std::string bytes;
    EXPECT_TRUE(TestMachine::ReadBytes(path, &bytes)) << path;
    return bytes;
  }

  TestMachine machine;
  MappedFile file;
  int count_ = 0;
};

}  // namespace

TEST_F(UnpackTest, BlockReaderHandsOutTheDataInOrder) {
  Setup(SetupFileBuilder().Block("pondwick", "0123456789").Block("langs", "L"));
  BlockReader reader(file);
  char buf[4];
  DWORD count = 99;
  EXPECT_EQ(reader.Read(buf, sizeof buf, &count), E_UNEXPECTED) << "no block selected yet";
  EXPECT_EQ(reader.Open("missing"), E_FAIL);
  ASSERT_EQ(reader.Open("pondwick"), S_OK);
  EXPECT_EQ(reader.Read(nullptr, 4, &count), E_INVALIDARG);
  EXPECT_EQ(reader.Read(buf, 0, &count), E_INVALIDARG);
  std::string got;
  while (reader.Read(buf, sizeof buf, &count) == S_OK && count > 0) got.append(buf, count);
  EXPECT_EQ(got, "0123456789") << "never a byte of the next block";
  EXPECT_EQ(count, 0u);

  // A reader without a selected block can't hand out the properties.
  LogCapture log(machine);
  BlockReader unopened(file);
  EXPECT_EQ(DecodeBlock(unopened, Folder().c_str()), E_UNEXPECTED);
  ASSERT_FALSE(log.Entries().empty());
  EXPECT_EQ(log.Entries()[0].rfind("[8000FFFF] Read DecoderProperties error : ", 0), 0u)
      << log.Entries()[0];
}

TEST_F(UnpackTest, PackedBlocksOfManySizesUnpackWithAndWithoutEndMarker) {
  // The stream sizes vary so that the decoder's trailing bytes fall at many places.
  std::vector<size_t> sizes = {0, 1, 2, 3, 5, 100, 4095, 4096, 65537, 300001};
  for (int marker = 0; marker < 2; ++marker) {
    for (size_t i = 0; i < sizes.size(); ++i) {
      std::vector<pwpack::PackFile> files = {{"a.txt", Content(sizes[i], (unsigned)i)},
                                             {"empty.dat", ""},
                                             {"z.bin", Content(sizes[(i + 3) % sizes.size()], 7)}};
      Setup(SetupFileBuilder().Block("pondwick", Packed(files, marker != 0)).Block("langs", "x"));
      std::string folder = Folder();
      LogCapture log(machine);
      ASSERT_EQ(UnpackSFX(file, "pondwick", folder.c_str()), S_OK) << sizes[i] << " " << marker;
      for (const auto& f : files)
        ASSERT_EQ(Bytes(folder + "\\" + f.name), f.contents) << f.name << " " << sizes[i];
      EXPECT_EQ(log.Entries(), std::vector<std::string>({"[0] UnpackSFX()  pondwick",
                                                         "[0]  ... Unpacked to " + folder}));
    }
  }
}

TEST_F(UnpackTest, BadBlocksFailWithTheirOwnReports) {
  std::string good = Packed({{"a.txt", Content(5000, 1)}, {"b.txt", Content(7000, 2)}});
  std::string badProps = good, lcLp = good;
  badProps[0] = (char)225;
  lcLp[0] = (char)((0 * 5 + 1) * 9 + 4);  // lc 4 + lp 1: more than liblzma's raw decoder takes
  std::string stream, error, crc;
  ASSERT_TRUE(pwpack::MakeDecodedStream({{"one", "1111"}, {"two", "2222"}}, &stream, &error));
  stream[stream.find("2222") + 4] ^= 1;  // the second file's CRC field
  ASSERT_TRUE(pwpack::CompressBlock(stream, false, &crc, &error));
  Setup(SetupFileBuilder()
            .Block("props", badProps)
            .Block("lclp", lcLp)
            .Block("short", "\x5D\0\0")
            .BlockWithCrc("cut", good.substr(0, good.size() / 2), 0)
            .Block("crc", crc)
            .Block("good", good));
  // The first report after "UnpackSFX() ", and the files left.
  auto check = [&](const char* block, HRESULT result, const std::string& first,
                   std::vector<std::string> files) {
    std::string folder = Folder();
    LogCapture log(machine);
    EXPECT_EQ(UnpackSFX(file, block, folder.c_str()), result) << block;
    std::vector<std::string> lines = log.Entries();
    ASSERT_GE(lines.size(), 2u) << block;
    EXPECT_EQ(lines[1].rfind(first, 0), 0u) << block << ": " << lines[1];
    // A failed decoding is reported (its text ends the log); a block not found only logged.
    EXPECT_EQ(lines.back() == " ", result != S_OK && std::string(block) != "nothere") << block;
    for (std::string name : {"a.txt", "b.txt", "one", "two"})
      EXPECT_EQ(TestMachine::Exists(folder + "\\" + name),
                std::find(files.begin(), files.end(), name) != files.end())
          << block << " " << name;
  };
  check("props", E_INVALIDARG, "[80070057] SetDecoderProperties error : ", {});
  check("lclp", E_INVALIDARG, "[80070057] SetDecoderProperties error : ", {});
  check("short", E_FAIL, "[0] Read DecoderProperties size mismatch ", {});
  // The truncated block wrote what it could, and says the rest is missing.
  check("cut", E_FAIL, "[80004005] Failed to decode stream  : ", {"a.txt"});
  check("crc", E_FAIL, "[0] CRC Error in file  two", {"one"});
  check("nothere", E_FAIL, "[0] Err open  nothere", {});
  check("good", S_OK, "[0]  ... Unpacked to ", {"a.txt", "b.txt"});
}

TEST_F(UnpackTest, SaveSfxWritesExactlyTheStoredBytes) {
  Setup(SetupFileBuilder()
            .BlockWithCrc("affid", "AFF-42", 0)
            .BlockWithCrc("empty", "", 0)
            .Block("langs", "next block"));
  std::string path = machine.Path("affid.txt");
  LogCapture log(machine);
  EXPECT_EQ(SaveSFX(file, "affid", path.c_str(), 1), S_OK);
  EXPECT_EQ(Bytes(path), "AFF-42") << "nothing of the next block's header";
  EXPECT_EQ(SaveSFX(file, "affid", path.c_str(), 0), HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
  ASSERT_TRUE(TestMachine::WriteBytes(path, "older and longer"));
  EXPECT_EQ(SaveSFX(file, "affid", path.c_str(), 1), S_OK);
  EXPECT_EQ(Bytes(path), "AFF-42") << "overwriting replaces the file";
  std::string empty = machine.Path("empty.bin");
  EXPECT_EQ(SaveSFX(file, "empty", empty.c_str(), 0), S_OK);
  EXPECT_EQ(Bytes(empty), "");
  EXPECT_EQ(SaveSFX(file, "missing", path.c_str(), 1), E_FAIL);

  std::vector<std::string> lines = log.Entries();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0], "[0] SaveSFX()  affid");
  EXPECT_EQ(lines[1], "[0]  ... saved to  " + path);
  EXPECT_EQ(lines[3].rfind("[50] Err save to  " + path + ": ", 0), 0u) << lines[3];
  EXPECT_EQ(lines.back(), "[0] Err open  missing");
}

#ifndef _WIN32

TEST_F(UnpackTest, HostSaveSfxWriteFailures) {
  Setup(SetupFileBuilder().BlockWithCrc("affid", "AFF-42", 0));
  std::string path = machine.Path("affid.txt");
  winsim::ClearFaults();
  winsim::SetFault("WriteFile", 1, ERROR_DISK_FULL);
  EXPECT_EQ(SaveSFX(file, "affid", path.c_str(), 1), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
  EXPECT_FALSE(TestMachine::Exists(path)) << "no short copy is left";
  ASSERT_TRUE(TestMachine::WriteBytes(path, "an older copy"));
  winsim::ClearFaults();
  winsim::SetFault("WriteFile", 1, 0);
  EXPECT_EQ(SaveSFX(file, "affid", path.c_str(), 1), E_FAIL) << "no code is still a failure";
  winsim::ClearFaults();
  EXPECT_FALSE(TestMachine::Exists(path)) << "the truncated file was closed and removed";
}

#endif

#ifdef _WIN32

TEST_F(UnpackTest, ADictionaryBeyondTheAddressSpaceIsOutOfMemory) {
  // A 32-bit process can't hold a 4 GiB window; a 64-bit host might, so this runs on Windows.
  std::string data = Packed({{"a.txt", "abc"}});
  PutLe32(data, 1, 0xFFFFFFF0);
  Setup(SetupFileBuilder().Block("pondwick", data));
  LogCapture log(machine);
  EXPECT_EQ(UnpackSFX(file, "pondwick", Folder().c_str()), E_OUTOFMEMORY);
  ASSERT_GE(log.Entries().size(), 2u);
  EXPECT_EQ(log.Entries()[1].rfind("[8007000E] SetDecoderProperties error : ", 0), 0u);
}

#endif

// A message waiting for the setup's thread is taken while a block decodes, so that the progress
// window never looks hung during a long extraction.
TEST_F(UnpackTest, MessagesAreTakenWhileABlockDecodes) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  ProgressWindow window;
  ASSERT_TRUE(window.Create(nullptr, 0) != nullptr);
  HWND bar = GetDlgItem(window.Handle(), IDC_PROGRESS_BAR);
  Setup(SetupFileBuilder().Block("pondwick", Packed({{"a.bin", Content(600000, 3)}})));
  ASSERT_TRUE(PostMessageA(bar, PBM_SETPOS, 345, 0));
  EXPECT_EQ(UnpackSFX(file, "pondwick", Folder().c_str()), S_OK);
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 345) << "the posted position is taken";
}
