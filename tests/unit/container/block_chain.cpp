/* The walk along the block chain, its checks and log lines, the integrity test over it, and the
 * lookup by name. */
#include "container/block_chain.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "container/test_sfx.h"
#include "tests/support/log_reader.h"
#include "tests/support/setup_file_builder.h"
#include "tests/support/test_machine.h"
#include "tests/support/view.h"

namespace {

using Lines = std::vector<std::string>;

struct WalkResult {
  Lines names, log, test;  // test: the integrity test's result and log
};

const char kOk[] = "[0] TestSFX() -  OK", kFail[] = "[0] TestSFX() -  FAIL";

// One log line of the walk, as LogEntries shows it.
std::string Line(const char* text) { return std::string("[0] GetNextSfxBlock: ") + text + " "; }

// The builder's blocks linked in the given order instead, the first of them first.
std::string Relinked(const SetupFileBuilder& builder, const std::vector<size_t>& order) {
  std::string bytes = builder.Build();
  PutLe32(bytes, kSfxFirstOffsetWord, builder.BlockOffset(order[0]));
  PutLe32(bytes, kSfxFirstOffsetCopyWord, builder.BlockOffset(order[0]));
  for (size_t i = 0; i < order.size(); ++i)
    PutLe32(bytes, builder.BlockOffset(order[i]) + 10,
            i + 1 < order.size() ? builder.BlockOffset(order[i + 1]) : 0);
  return bytes;
}

class ChainTest : public ::testing::Test {
 protected:
  WalkResult Walk(const std::string& bytes) {
    LogCapture log(machine);
    ExactView view(bytes);
    WalkResult result;
    for (const SfxBlockHeader* b = GetNextSfxBlock(view.data(), view.size(), nullptr); b;
         b = GetNextSfxBlock(view.data(), view.size(), b)) {
      result.names.push_back(std::string(b->name, strnlen(b->name, 8)));
      if (result.names.size() > 5000) break;
    }
    result.log = log.Entries();
    result.test = Test(bytes);
    return result;
  }
  // TestSFX's result and log.
  Lines Test(const std::string& bytes) {
    LogCapture log(machine);
    ExactView view(bytes);
    Lines lines = {std::to_string(TestSFX(view.data(), view.size()))}, logged = log.Entries();
    lines.insert(lines.end(), logged.begin(), logged.end());
    return lines;
  }

  TestMachine machine;
};

}  // namespace

TEST_F(ChainTest, EveryCheckOfTheWalkStopsItWithItsOwnLineAndFailsTheIntegrityTest) {
  SetupFileBuilder builder;
  builder.Block("one", std::string(70000, '1')).BlockWithCrc("two", "2222", 0).Block("three", "3");
  const std::string good = builder.Build();
  const DWORD size = (DWORD)good.size(), first = builder.BlockOffset(0);
  const DWORD second = builder.BlockOffset(1), third = builder.BlockOffset(2);
  auto with = [&](std::vector<std::pair<DWORD, DWORD>> words) {
    std::string b = good;
    for (const auto& w : words) PutLe32(b, w.first, w.second);
    return b;
  };
  auto withByte = [&](DWORD at, char c) {
    std::string b = good;
    b[at] = c;
    return b;
  };
  const Lines none, one = {"one"}, two = {"one", "two"}, all = {"one", "two", "three"};
  const char kDos[] = "Bad SFX data in DOS Header", kSignature[] = "Bad next signature",
             kSize[] = "Next sect bad size", kNoFit[] = "Current section does not fit in SFX";
  auto check = [&](const char* what, const std::string& bytes, const Lines& names,
                   const char* line) {  // line: null when the walk ends quietly
    WalkResult r = Walk(bytes);
    EXPECT_EQ(r.names, names) << what;
    EXPECT_EQ(r.log, line ? Lines{Line(line)} : Lines()) << what;
    // A walk that stops at a link it refuses fails the integrity test: the blocks behind it
    // would be neither tested nor found. Only a link of 0 ends the chain.
    EXPECT_EQ(r.test, (line ? Lines{"0", Line(line), kFail} : Lines{"1", kOk})) << what;
  };
  check("well formed", good, all, nullptr);
  check("padding and a certificate table behind the last block",
        good + std::string(5, '\0') + "\x30\x82 certificate", all, nullptr);
  check("both counts disagree with the chain", with({{0x30, 9}, {0x34, 9}}), all, nullptr);
  check("no MZ", withByte(1, 'X'), none, "No DOS Sign");
  check("one byte", "M", none, "No DOS Sign");
  check("MZ only", "MZ", none, kDos);
  check("header cut before the words", good.substr(0, 0x36), none, kDos);
  check("offset copies differ", with({{0x2C, first + 1}}), none, kDos);
  check("both offsets 0", with({{0x28, 0}, {0x2C, 0}}), none, kDos);
  check("both counts 0", with({{0x30, 0}, {0x34, 0}}), none, kDos);
  check("count copies differ", with({{0x34, 4}}), none, kDos);
  check("first offset equals the size", with({{0x28, size}, {0x2C, size}}), none, kDos);
  check("first header runs past the end", with({{0x28, size - 21}, {0x2C, size - 21}}), none, kDos);
  check("first signature", withByte(first + 1, 'Q'), none, kSignature);
  check("second signature", withByte(second, 'w'), one, kSignature);
  check("last block one byte past the end", with({{third + 2, size - third + 1}}), two, kSize);
  // Sizes below a header or whose end wraps past 2^32; links to the end, a cut header, past 2^32.
  for (DWORD bad : std::vector<DWORD>{0, 21, 0xFFFFFFFF, 0xFFFFFFFF - first + 1})
    check("size", with({{first + 2, bad}}), none, kSize);
  for (DWORD next : std::vector<DWORD>{size, size - 21, 0xFFFFFFFF})
    check("next", with({{first + 10, next}}), one, kNoFit);
  check("next 0 ends the chain, wherever it is", with({{second + 10, 0}}), two, nullptr);
  check("back to the first", with({{third + 10, first}}), all, kNoFit);
  check("to itself", with({{second + 10, second}}), two, kNoFit);
  // Going backwards is allowed as long as no block comes twice.
  check("stored in reverse order", Relinked(builder, {2, 1, 0}), {"three", "two", "one"}, nullptr);

  // The integrity test covers the data of blocks with a CRC, and nothing else.
  const Lines ok = {"1", kOk}, badCrc = {"0", "[0] TestSFX - Bad CRC "};
  auto flip = [&](DWORD at) { return withByte(at, (char)(good[at] ^ 1)); };
  EXPECT_EQ(Test(flip(first + kSfxHeaderSize + 3)), badCrc) << "first block's data";
  EXPECT_EQ(Test(flip(third + kSfxHeaderSize)), badCrc) << "last block's data";
  EXPECT_EQ(Test(flip(second + kSfxHeaderSize)), ok) << "a block with CRC 0 is not covered";
  EXPECT_EQ(Test(flip(first + 15)), ok) << "nor is a header's name";
  EXPECT_EQ(Test(flip(0x100)), ok) << "nor the image";
  EXPECT_EQ(Test(SetupFileBuilder().BlockWithCrc("a", "x", 0).Build()), ok) << "CRC 0 only";
  EXPECT_EQ(Test(SetupFileBuilder().BlockWithCrc("e", "", 0x1234).Build()), badCrc)
      << "the CRC of no bytes is 0";
  // Were the test to go on past a mismatch, the broken link behind it would be logged.
  EXPECT_EQ(Test(with({{second + 6, 0xDEADBEEF}, {second + 10, 0xFFFFFFF0}})), badCrc);
  EXPECT_EQ(Test(""), Lines({"0", "[0] TestSFX - Bad Params "}));

  // A current block that is not one: a broken signature, or a header that runs out of the view.
  // Nothing is logged for no view or no size.
  LogCapture log(machine);
  ExactView bad(withByte(second, 'X')), view(good);
  EXPECT_EQ(GetNextSfxBlock(bad.data(), size, (const SfxBlockHeader*)(bad.data() + second)), nullptr);
  EXPECT_EQ(GetNextSfxBlock(view.data(), size, (const SfxBlockHeader*)(view.data() + size - 4)),
            nullptr);
  EXPECT_EQ(GetNextSfxBlock(nullptr, size, nullptr), nullptr);
  EXPECT_EQ(GetNextSfxBlock(view.data(), 0, nullptr), nullptr);
  EXPECT_EQ(TestSFX(nullptr, 100), 0);
  const std::string current = Line("Bad signature in current section");
  EXPECT_EQ(log.Entries(), Lines({current, current, "[0] TestSFX - Bad Params "}));

  // The documented header of a last block named langs with 4 data bytes and CRC 0.
  std::string doc = SetupFileBuilder().BlockWithCrc("langs", "abcd", 0).Build();
  EXPECT_EQ(doc.substr(0x200, 22), std::string("WP\x1A\0\0\0\0\0\0\0\0\0\0\0langs\0\0\0", 22));
}

TEST_F(ChainTest, LongAndOverlappingChainsEnd) {
  // 3000 empty blocks, each linking to the one stored before it: every link goes backwards.
  SetupFileBuilder builder;
  std::vector<size_t> order;
  for (size_t i = 0; i < 3000; ++i) {
    builder.Block("b", "");
    order.insert(order.begin(), i);
  }
  WalkResult r = Walk(Relinked(builder, order));
  EXPECT_EQ(r.names.size(), 3000u);
  EXPECT_TRUE(r.log.empty());

  // Overlapping headers (each one's signature and size in the name of the one before): a chain
  // longer than the file has room for whole headers, linking back near its end, still ends.
  const DWORD n = 100;
  SetupFileBuilder overlapping;
  std::string bytes = overlapping.Block("x", std::string(14 * (n - 1), '\0')).Build();
  const DWORD at0 = overlapping.BlockOffset(0);
  for (DWORD i = 0; i < n; ++i) {
    bytes.replace(at0 + 14 * i, 2, "WP");
    PutLe32(bytes, at0 + 14 * i + 2, kSfxHeaderSize);
    PutLe32(bytes, at0 + 14 * i + 10, at0 + 14 * (i + 1 < n ? i + 1 : 90));
  }
  ASSERT_GT(n, (DWORD)bytes.size() / kSfxHeaderSize);
  r = Walk(bytes);
  EXPECT_EQ(r.names.size(), n) << "each block once";
  EXPECT_EQ(r.log, Lines({Line("Current section does not fit in SFX")}));
}

TEST_F(ChainTest, LookupIsAPrefixMatchOnAtMostEightBytes) {
  SetupFileBuilder builder;
  builder.Block("pondwick", "P").BlockWithCrc("affid", "A", 0).Block("langs", "L1");
  builder.Block("langs", "L2").Block("portable", "R").Block("empty", "");
  std::string bytes = builder.Build();
  LogCapture log(machine);
  ExactView view(bytes);
  // Case-sensitive; the first of two in chain order; an empty name matches the first block;
  // eight characters have no terminator in the header.
  for (const auto& [name, expected] : std::vector<std::pair<const char*, const char*>>{
           {"lang", "L1"}, {"langs", "L1"}, {"pondwick.bin", "P"}, {"Langs", "none/0"}, {"", "P"},
           {"portable", "R"}, {"portables", "R"}, {"affidavit", "none/0"}, {"missing", "none/0"}}) {
    DWORD length = 12345;
    auto data = reinterpret_cast<const char*>(FindSfxBlock(view.data(), view.size(), name, &length));
    EXPECT_EQ(data ? std::string(data, length) : "none/" + std::to_string(length), expected) << name;
  }

  DWORD length = 99;
  const BYTE* data = FindSfxBlock(view.data(), view.size(), "empty", &length);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(data, view.data() + view.size()) << "just behind its header, at the end of the file";
  EXPECT_EQ(FindSfxBlock(nullptr, view.size(), "langs", &length), nullptr);
  EXPECT_EQ(FindSfxBlock(view.data(), view.size(), nullptr, &length), nullptr);
  EXPECT_EQ(FindSfxBlock(view.data(), view.size(), "langs", nullptr), nullptr);
  EXPECT_TRUE(log.Entries().empty());

  // Blocks behind a broken link can't be found; each lookup walks again and logs it again.
  bytes[builder.BlockOffset(1)] = 'x';
  ExactView broken(bytes);
  LogCapture brokenLog(machine);
  EXPECT_NE(FindSfxBlock(broken.data(), broken.size(), "pondwick", &length), nullptr);
  length = 7;
  EXPECT_EQ(FindSfxBlock(broken.data(), broken.size(), "langs", &length), nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(FindSfxBlock(broken.data(), broken.size(), "langs", &length), nullptr);
  EXPECT_EQ(brokenLog.Entries(), Lines({Line("Bad next signature"), Line("Bad next signature")}));
}
