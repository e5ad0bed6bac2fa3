/* BlockReader, DecodeBlock, UnpackSFX and SaveSFX over real LZMA blocks in a setup file. */
#include "container/unpack.h"

#include <gtest/gtest.h>
#include <lzma.h>

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

using Lines = std::vector<std::string>;

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

  void OpenSetup(const SetupFileBuilder& builder) {
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
  OpenSetup(SetupFileBuilder().Block("pondwick", "0123456789").Block("langs", "L"));
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

  LogCapture log(machine);
  BlockReader unopened(file);
  EXPECT_EQ(DecodeBlock(unopened, Folder().c_str()), E_UNEXPECTED);
  EXPECT_EQ(log.Entries().at(0).rfind("[8000FFFF] Read DecoderProperties error : ", 0), 0u);
}

TEST_F(UnpackTest, PackedBlocksOfManySizesUnpackWithAndWithoutEndMarker) {
  // Both worlds link the one decoder the setup ships with, not whatever the system carries.
  EXPECT_GE(lzma_version_number(), 50080000u) << lzma_version_string();
  // The stream sizes vary so that the decoder's trailing bytes fall at many places.
  std::vector<size_t> sizes = {0, 1, 2, 3, 5, 100, 4095, 4096, 65537, 300001};
  for (int marker = 0; marker < 2; ++marker) {
    for (size_t i = 0; i < sizes.size(); ++i) {
      std::vector<pwpack::PackFile> files = {{"a.txt", Content(sizes[i], (unsigned)i)},
                                             {"empty.dat", ""},
                                             {"z.bin", Content(sizes[(i + 3) % sizes.size()], 7)}};
      OpenSetup(
          SetupFileBuilder().Block("pondwick", Packed(files, marker != 0)).Block("langs", "x"));
      std::string folder = Folder();
      LogCapture log(machine);
      ASSERT_EQ(UnpackSFX(file, "pondwick", folder.c_str()), S_OK) << sizes[i] << " " << marker;
      for (const auto& f : files)
        ASSERT_EQ(Bytes(folder + "\\" + f.name), f.contents) << f.name << " " << sizes[i];
      EXPECT_EQ(log.Entries(),
                Lines({"[0] UnpackSFX()  pondwick", "[0]  ... Unpacked to " + folder}));
    }
  }
}

TEST_F(UnpackTest, BadBlocksFailWithTheirOwnReports) {
  std::string good = Packed({{"a.txt", Content(5000, 1)}, {"b.txt", Content(7000, 2)}});
  std::string badProps = good, huge = good;
  badProps[0] = (char)225;  // above (pb 4 * 5 + lp 4) * 9 + lc 8
  PutLe32(huge, 1, 0xFFFFFFF0);
  OpenSetup(SetupFileBuilder()
                .Block("props", badProps)
                .BlockWithCrc("cut", good.substr(0, good.size() / 2), 0)
                .Block("huge", huge));
  // The decoding's report follows "UnpackSFX() ", UnpackSFX's own ends the log.
  auto check = [&](const char* block, HRESULT result, const std::string& report, bool aWritten) {
    std::string folder = Folder();
    LogCapture log(machine);
    EXPECT_EQ(UnpackSFX(file, block, folder.c_str()), result) << block;
    Lines lines = log.Entries();
    ASSERT_GE(lines.size(), 3u) << block;
    EXPECT_EQ(lines[1].rfind(report, 0), 0u) << block << ": " << lines[1];
    EXPECT_EQ(lines.back(), " ") << block;
    EXPECT_EQ(TestMachine::Exists(folder + "\\a.txt"), aWritten) << block;
    EXPECT_FALSE(TestMachine::Exists(folder + "\\b.txt")) << block;
  };
  check("props", E_INVALIDARG, "[80070057] SetDecoderProperties error : ", false);
  check("cut", E_FAIL, "[80004005] Failed to decode stream  : ", true);
#ifdef _WIN32
  // A 32-bit process can't hold a 4 GiB window; a 64-bit host might, so this runs on Windows.
  check("huge", E_OUTOFMEMORY, "[8007000E] SetDecoderProperties error : ", false);
#endif
}

TEST_F(UnpackTest, SaveSfxWritesExactlyTheStoredBytesOrNothing) {
  OpenSetup(SetupFileBuilder()
                .BlockWithCrc("affid", "AFF-42", 0)
                .BlockWithCrc("empty", "", 0)
                .Block("langs", "next block"));
  std::string path = machine.Path("affid.txt"), empty = machine.Path("empty.bin");
  {
    LogCapture log(machine);
    EXPECT_EQ(SaveSFX(file, "affid", path.c_str(), 1), S_OK);
    EXPECT_EQ(Bytes(path), "AFF-42") << "nothing of the next block's header";
    EXPECT_EQ(SaveSFX(file, "affid", path.c_str(), 0), HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
    ASSERT_TRUE(TestMachine::WriteBytes(path, "older and longer"));
    EXPECT_EQ(SaveSFX(file, "affid", path.c_str(), 1), S_OK);
    EXPECT_EQ(Bytes(path), "AFF-42") << "overwriting replaces the file";
    EXPECT_EQ(SaveSFX(file, "empty", empty.c_str(), 0), S_OK);
    EXPECT_EQ(Bytes(empty), "");
    EXPECT_EQ(SaveSFX(file, "missing", path.c_str(), 1), E_FAIL);

    Lines lines = log.Entries();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "[0] SaveSFX()  affid");
    EXPECT_EQ(lines[1], "[0]  ... saved to  " + path);
    EXPECT_EQ(lines[3].rfind("[50] Err save to  " + path + ": ", 0), 0u) << lines[3];
    EXPECT_EQ(lines.back(), "[0] Err open  missing");
  }
#ifndef _WIN32
  winsim::ClearFaults();  // the calls above are not counted
  winsim::SetFault("WriteFile", 1, ERROR_DISK_FULL);
  EXPECT_EQ(SaveSFX(file, "affid", path.c_str(), 1), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
  EXPECT_FALSE(TestMachine::Exists(path)) << "no short copy is left";
  ASSERT_TRUE(TestMachine::WriteBytes(path, "an older copy"));
  winsim::ClearFaults();
  winsim::SetFault("WriteFile", 1, 0);
  EXPECT_EQ(SaveSFX(file, "affid", path.c_str(), 1), E_FAIL) << "no code is still a failure";
  winsim::ClearFaults();
  EXPECT_FALSE(TestMachine::Exists(path)) << "the truncated file was closed and removed";
  winsim::SetFault("WriteFile", 1, ERROR_DISK_FULL);
  EXPECT_EQ(SaveSFX(file, "empty", path.c_str(), 1), HRESULT_FROM_WIN32(ERROR_DISK_FULL))
      << "a refused write of nothing is a failure too";
  winsim::ClearFaults();
#endif
}

// Messages are taken while a block decodes, so that the progress window never looks hung.
TEST_F(UnpackTest, MessagesAreTakenWhileABlockDecodes) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  ProgressWindow window;
  ASSERT_TRUE(window.Create(nullptr, 0) != nullptr);
  HWND bar = GetDlgItem(window.Handle(), IDC_PROGRESS_BAR);
  OpenSetup(SetupFileBuilder().Block("pondwick", Packed({{"a.bin", Content(600000, 3)}})));
  ASSERT_TRUE(PostMessageA(bar, PBM_SETPOS, 345, 0));
  EXPECT_EQ(UnpackSFX(file, "pondwick", Folder().c_str()), S_OK);
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 345) << "the posted position is taken";
}
