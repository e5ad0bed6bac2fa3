/* The integrity test over the block chain. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "container/block_chain.h"
#include "container/mapped_file.h"
#include "container/test_sfx.h"
#include "tests/support/log_reader.h"
#include "tests/support/setup_file_builder.h"
#include "tests/support/test_machine.h"
#include "tests/support/view.h"

namespace {

const char kOk[] = "[0] TestSFX() -  OK";
const char kFail[] = "[0] TestSFX() -  FAIL";
const char kBadCrc[] = "[0] TestSFX - Bad CRC ";

class TestSfxTest : public ::testing::Test {
 protected:
  int Test(const std::string& bytes) {
    LogCapture log(machine);
    ExactView view(bytes);
    int result = TestSFX(view.data(), view.size());
    lines = log.Entries();
    return result;
  }
  TestMachine machine;
  std::vector<std::string> lines;
};

}  // namespace

TEST_F(TestSfxTest, GoodContainersPass) {
  SetupFileBuilder builder;
  builder.Block("pondwick", std::string(70000, 'p')).BlockWithCrc("affid", "A1", 0).Block("langs",
                                                                                          "l");
  EXPECT_EQ(Test(builder.Build()), 1);
  EXPECT_EQ(lines, std::vector<std::string>({kOk}));

  SetupFileBuilder unchecked;
  unchecked.BlockWithCrc("a", "x", 0).BlockWithCrc("b", "y", 0);
  EXPECT_EQ(Test(unchecked.Build()), 1) << "blocks with CRC 0 are passed over";
  EXPECT_EQ(lines, std::vector<std::string>({kOk}));
}

TEST_F(TestSfxTest, WhatTheTestCoversAndWhatItDoesNot) {
  SetupFileBuilder builder;
  builder.Block("pondwick", "program").BlockWithCrc("affid", "stored", 0).Block("langs", "lang");
  const std::string good = builder.Build();
  auto flipped = [&](size_t at) {
    std::string b = good;
    b[at] ^= 0x01;
    return b;
  };
  const size_t firstData = builder.BlockOffset(0) + 22;
  const size_t storedData = builder.BlockOffset(1) + 22;
  const size_t lastData = builder.BlockOffset(2) + 22;

  EXPECT_EQ(Test(flipped(firstData + 3)), 0);
  EXPECT_EQ(lines, std::vector<std::string>({kBadCrc}));
  EXPECT_EQ(Test(flipped(lastData)), 0);
  EXPECT_EQ(lines, std::vector<std::string>({kBadCrc}));

  EXPECT_EQ(Test(flipped(storedData)), 1) << "a block with CRC 0 is not covered";
  EXPECT_EQ(Test(flipped(builder.BlockOffset(0) + 15)), 1) << "nor is a header's name";
  EXPECT_EQ(Test(flipped(0x100)), 1) << "nor the image";
  EXPECT_EQ(Test(good + "trailer"), 1) << "nor the bytes behind the last block";

  // A block with no data cannot carry a non-zero CRC: the CRC of no bytes is 0.
  EXPECT_EQ(Test(SetupFileBuilder().BlockWithCrc("e", "", 0x1234).Build()), 0);
  EXPECT_EQ(lines, std::vector<std::string>({kBadCrc}));
}

TEST_F(TestSfxTest, AMismatchStopsTheTestAtOnce) {
  SetupFileBuilder builder;
  builder.Block("one", "1").BlockWithCrc("two", "2", 0xDEADBEEF).Block("three", "3");
  std::string bytes = builder.Build();
  // Were the walk to go on past the second block, this broken link would be logged.
  PutLe32(bytes, builder.BlockOffset(1) + 10, 0xFFFFFFF0);
  EXPECT_EQ(Test(bytes), 0);
  EXPECT_EQ(lines, std::vector<std::string>({kBadCrc}));
}

TEST_F(TestSfxTest, BrokenLinksAndBadParameters) {
  EXPECT_EQ(Test(""), 0);
  EXPECT_EQ(lines, std::vector<std::string>({"[0] TestSFX - Bad Params "}));
  {
    LogCapture log(machine);
    EXPECT_EQ(TestSFX(nullptr, 100), 0);
    EXPECT_EQ(log.Entries(), std::vector<std::string>({"[0] TestSFX - Bad Params "}));
  }

  SetupFileBuilder builder;
  builder.Block("one", "1").Block("two", "2");
  std::string noFirst = builder.Build();
  noFirst[0] = 'Z';
  EXPECT_EQ(Test(noFirst), 0);
  EXPECT_EQ(lines, std::vector<std::string>({"[0] GetNextSfxBlock: No DOS Sign ", kFail}));

  // A link broken after the first block fails the test as one before it does: the blocks
  // behind it would be neither tested nor found. Only a link of 0 ends the chain.
  std::string noSecond = builder.Build();
  noSecond[builder.BlockOffset(1)] = '?';
  EXPECT_EQ(Test(noSecond), 0);
  EXPECT_EQ(lines, std::vector<std::string>({"[0] GetNextSfxBlock: Bad next signature ", kFail}));
  std::string loops = builder.Build();
  PutLe32(loops, builder.BlockOffset(1) + 10, (DWORD)builder.BlockOffset(0));
  EXPECT_EQ(Test(loops), 0);
  EXPECT_EQ(lines, std::vector<std::string>(
                       {"[0] GetNextSfxBlock: Current section does not fit in SFX ", kFail}));
}

TEST_F(TestSfxTest, AMappedSetupFilePasses) {
  std::string bytes = SetupFileBuilder()
                          .ImageSize(0xFA00)
                          .Block("pondwick", std::string(100000, 'q'))
                          .BlockWithCrc("affid", "affiliate", 0)
                          .Block("langs", "de en fr")
                          .Trailer(std::string(3, '\0'))
                          .Build();
  std::string path = machine.Path("setup.exe");
  ASSERT_TRUE(TestMachine::WriteBytes(path, bytes));
  LogCapture log(machine);
  MappedFile file;
  ASSERT_TRUE(file.Open(path.c_str(), GENERIC_READ, OPEN_EXISTING));
  EXPECT_EQ(TestSFX(file.View(), file.Size()), 1);
  EXPECT_EQ(log.Entries(), std::vector<std::string>({kOk}));
}
