/* The integrity test over the block chain. */
#include "container/test_sfx.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "container/block_chain.h"
#include "tests/support/log_reader.h"
#include "tests/support/setup_file_builder.h"
#include "tests/support/test_machine.h"
#include "tests/support/view.h"

namespace {

using Lines = std::vector<std::string>;

}  // namespace

TEST(TestSfx, WhatTheTestCoversAndWhatItDoesNot) {
  TestMachine machine;
  SetupFileBuilder builder;
  builder.Block("pondwick", std::string(70000, 'p')).BlockWithCrc("affid", "stored", 0);
  builder.Block("langs", "lang");
  const std::string good = builder.Build();
  auto flipped = [&](size_t at) {
    std::string b = good;
    b[at] ^= 0x01;
    return b;
  };
  auto data = [&](size_t block) { return builder.BlockOffset(block) + kSfxHeaderSize; };
  SetupFileBuilder damagedSecond;
  damagedSecond.Block("one", "1").BlockWithCrc("two", "2", 0xDEADBEEF).Block("three", "3");
  std::string stopsAtOnce = damagedSecond.Build();
  // Were the walk to go on past the second block, this broken link would be logged.
  PutLe32(stopsAtOnce, damagedSecond.BlockOffset(1) + 10, 0xFFFFFFF0);
  std::string loops = good;
  PutLe32(loops, builder.BlockOffset(1) + 10, builder.BlockOffset(0));

  const char kOk[] = "[0] TestSFX() -  OK", kFail[] = "[0] TestSFX() -  FAIL",
             kBadCrc[] = "[0] TestSFX - Bad CRC ", kBadParams[] = "[0] TestSFX - Bad Params ";
  auto check = [&](const char* what, const std::string& bytes, int result, const Lines& lines) {
    LogCapture log(machine);
    ExactView view(bytes);
    EXPECT_EQ(TestSFX(view.data(), view.size()), result) << what;
    EXPECT_EQ(log.Entries(), lines) << what;
  };
  check("good", good, 1, {kOk});
  check("blocks with CRC 0 only", SetupFileBuilder().BlockWithCrc("a", "x", 0).Build(), 1, {kOk});
  check("first block's data", flipped(data(0) + 3), 0, {kBadCrc});
  check("last block's data", flipped(data(2)), 0, {kBadCrc});
  check("a block with CRC 0 is not covered", flipped(data(1)), 1, {kOk});
  check("nor is a header's name", flipped(builder.BlockOffset(0) + 15), 1, {kOk});
  check("nor the image", flipped(0x100), 1, {kOk});
  check("nor the bytes behind the last block", good + "trailer", 1, {kOk});
  // The CRC of no bytes is 0.
  check("no data, CRC not 0", SetupFileBuilder().BlockWithCrc("e", "", 0x1234).Build(), 0,
        {kBadCrc});
  check("a mismatch stops the test at once", stopsAtOnce, 0, {kBadCrc});
  check("no bytes", "", 0, {kBadParams});
  check("no MZ", "Z" + good.substr(1), 0, {"[0] GetNextSfxBlock: No DOS Sign ", kFail});
  // A link broken after the first block fails the test as one before it does: the blocks
  // behind it would be neither tested nor found. Only a link of 0 ends the chain.
  check("second signature", flipped(builder.BlockOffset(1)), 0,
        {"[0] GetNextSfxBlock: Bad next signature ", kFail});
  check("a link back", loops, 0,
        {"[0] GetNextSfxBlock: Current section does not fit in SFX ", kFail});
  LogCapture log(machine);
  EXPECT_EQ(TestSFX(nullptr, 100), 0);
  EXPECT_EQ(log.Entries(), Lines({kBadParams}));
}
