/* The walk along the block chain, its checks and log lines, and the lookup by name. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "container/block_chain.h"
#include "support/log.h"
#include "tests/support/log_reader.h"
#include "tests/support/setup_file_builder.h"
#include "tests/support/test_machine.h"
#include "tests/support/view.h"

namespace {

struct WalkResult {
  std::vector<std::string> names;
  std::vector<std::string> log;
};

class ChainTest : public ::testing::Test {
 protected:
  // Walks the whole chain the way callers do and collects names and log lines.
  WalkResult Walk(const std::string& bytes) {
    LogCapture log(machine);
    ExactView view(bytes);
    WalkResult result;
    for (const SfxBlockHeader* b = GetNextSfxBlock(view.data(), view.size(), nullptr); b;
         b = GetNextSfxBlock(view.data(), view.size(), b)) {
      result.names.push_back(std::string(b->name, strnlen(b->name, 8)));
      if (result.names.size() > 1000) break;
    }
    result.log = log.Entries();
    return result;
  }
  // One log line of the walk, as LogEntries shows it.
  static std::string Line(const char* text) { return std::string("[0] GetNextSfxBlock: ") + text + " "; }

  TestMachine machine;
};

std::string ThreeBlocks() {
  return SetupFileBuilder()
      .Block("pondwick", "program files")
      .BlockWithCrc("affid", "AFF-1", 0)
      .Block("langs", "language files")
      .Build();
}

}  // namespace

TEST_F(ChainTest, AWellFormedChainIsWalkedInOrderWithoutLogLines) {
  WalkResult r = Walk(ThreeBlocks());
  EXPECT_EQ(r.names, std::vector<std::string>({"pondwick", "affid", "langs"}));
  EXPECT_TRUE(r.log.empty());

  // Padding and a certificate table behind the last block change nothing.
  std::string signed_ = SetupFileBuilder()
                            .Block("pondwick", "program files")
                            .Block("langs", "x")
                            .Trailer(std::string(5, '\0') + "\x30\x82 certificate")
                            .Build();
  EXPECT_EQ(Walk(signed_).names, std::vector<std::string>({"pondwick", "langs"}));

  // The documented header of a last block named langs with 4 data bytes and CRC 0.
  std::string one = SetupFileBuilder().BlockWithCrc("langs", "abcd", 0).Build();
  const unsigned char expected[22] = {0x57, 0x50, 0x1A, 0, 0, 0, 0, 0, 0, 0, 0,
                                      0,    0,    0,    0x6C, 0x61, 0x6E, 0x67, 0x73, 0, 0, 0};
  EXPECT_EQ(one.substr(0x200, 22), std::string(reinterpret_cast<const char*>(expected), 22));
}

TEST_F(ChainTest, DosHeaderChecks) {
  const std::string good = ThreeBlocks();
  struct Case {
    const char* what;
    std::string bytes;
    const char* line;
  };
  std::vector<Case> cases;
  auto with = [&](size_t offset, DWORD value) {
    std::string b = good;
    PutLe32(b, offset, value);
    return b;
  };
  std::string noMz = good;
  noMz[1] = 'X';
  cases.push_back({"no MZ", noMz, "No DOS Sign"});
  cases.push_back({"one byte", "M", "No DOS Sign"});
  cases.push_back({"MZ only", "MZ", "Bad SFX data in DOS Header"});
  cases.push_back({"header cut before the words", good.substr(0, 0x36), "Bad SFX data in DOS Header"});
  cases.push_back({"offset copies differ", with(0x2C, 0x201), "Bad SFX data in DOS Header"});
  cases.push_back({"offset 0", with(0x28, 0), "Bad SFX data in DOS Header"});
  std::string bothZero = with(0x28, 0);
  PutLe32(bothZero, 0x2C, 0);
  cases.push_back({"both offsets 0", bothZero, "Bad SFX data in DOS Header"});
  cases.push_back({"count 0", with(0x30, 0), "Bad SFX data in DOS Header"});
  cases.push_back({"count copies differ", with(0x34, 4), "Bad SFX data in DOS Header"});
  std::string atEnd = with(0x28, (DWORD)good.size());
  PutLe32(atEnd, 0x2C, (DWORD)good.size());
  cases.push_back({"first offset equals the size", atEnd, "Bad SFX data in DOS Header"});
  std::string headerCut = with(0x28, (DWORD)good.size() - 21);
  PutLe32(headerCut, 0x2C, (DWORD)good.size() - 21);
  cases.push_back({"first header runs past the end", headerCut, "Bad SFX data in DOS Header"});

  for (const Case& c : cases) {
    WalkResult r = Walk(c.bytes);
    EXPECT_TRUE(r.names.empty()) << c.what;
    EXPECT_EQ(r.log, std::vector<std::string>({Line(c.line)})) << c.what;
  }
  // A block count that disagrees with the chain is fine as long as both copies agree.
  std::string count9 = with(0x30, 9);
  PutLe32(count9, 0x34, 9);
  EXPECT_EQ(Walk(count9).names.size(), 3u);
}

TEST_F(ChainTest, BlockSignatureAndSizeChecks) {
  SetupFileBuilder builder;
  builder.Block("pondwick", "0123456789").Block("langs", "abc");
  const std::string good = builder.Build();
  const DWORD first = builder.BlockOffset(0), second = builder.BlockOffset(1);

  std::string badFirst = good;
  badFirst[first + 1] = 'Q';
  EXPECT_EQ(Walk(badFirst).log, std::vector<std::string>({Line("Bad next signature")}));

  std::string badSecond = good;
  badSecond[second] = 'w';
  WalkResult r = Walk(badSecond);
  EXPECT_EQ(r.names, std::vector<std::string>({"pondwick"}));
  EXPECT_EQ(r.log, std::vector<std::string>({Line("Bad next signature")}));

  // The last block ends exactly at the end of the file: fine; one byte further: refused.
  EXPECT_EQ(Walk(good).names.size(), 2u);
  std::string pastEnd = good;
  PutLe32(pastEnd, second + 2, 22 + 3 + 1);
  r = Walk(pastEnd);
  EXPECT_EQ(r.names, std::vector<std::string>({"pondwick"}));
  EXPECT_EQ(r.log, std::vector<std::string>({Line("Next sect bad size")}));

  // Sizes below a header, and sizes whose end wraps past 2^32.
  for (DWORD size : std::vector<DWORD>{0u, 1u, 21u, 0xFFFFFFFFu, 0xFFFFFFFFu - first + 1}) {
    std::string b = good;
    PutLe32(b, first + 2, size);
    r = Walk(b);
    EXPECT_TRUE(r.names.empty()) << size;
    EXPECT_EQ(r.log, std::vector<std::string>({Line("Next sect bad size")})) << size;
  }
  // A block of size 22 is a block with no data.
  std::string empty = SetupFileBuilder().Block("a", "").Build();
  EXPECT_EQ(Walk(empty).names, std::vector<std::string>({"a"}));
}

TEST_F(ChainTest, NextLinkChecks) {
  SetupFileBuilder builder;
  builder.Block("one", "1111").Block("two", "2222").Block("three", "3333");
  const std::string good = builder.Build();
  const DWORD size = (DWORD)good.size();
  const DWORD first = builder.BlockOffset(0), second = builder.BlockOffset(1);
  const DWORD third = builder.BlockOffset(2);

  for (DWORD next : std::vector<DWORD>{size, size + 100, size - 21, size - 1, 0xFFFFFFFFu}) {
    std::string b = good;
    PutLe32(b, first + 10, next);
    WalkResult r = Walk(b);
    EXPECT_EQ(r.names, std::vector<std::string>({"one"})) << next;
    EXPECT_EQ(r.log, std::vector<std::string>({Line("Current section does not fit in SFX")}))
        << next;
  }
  // Next offset 0 ends the chain quietly, wherever it is.
  std::string shortChain = good;
  PutLe32(shortChain, second + 10, 0);
  WalkResult r = Walk(shortChain);
  EXPECT_EQ(r.names, std::vector<std::string>({"one", "two"}));
  EXPECT_TRUE(r.log.empty());

  // A current block handed in with a bad signature, or one outside the view.
  LogCapture log(machine);
  ExactView view(good);
  std::string copy = good;
  copy[third] = 'X';
  ExactView damaged(copy);
  const SfxBlockHeader* inside = reinterpret_cast<const SfxBlockHeader*>(damaged.data() + third);
  EXPECT_EQ(GetNextSfxBlock(damaged.data(), damaged.size(), inside), nullptr);
  const SfxBlockHeader* outside = reinterpret_cast<const SfxBlockHeader*>(view.data() + size - 4);
  EXPECT_EQ(GetNextSfxBlock(view.data(), view.size(), outside), nullptr);
  EXPECT_EQ(log.Entries(), std::vector<std::string>({Line("Bad signature in current section"),
                                                      Line("Bad signature in current section")}));
  EXPECT_EQ(GetNextSfxBlock(nullptr, size, nullptr), nullptr);
  EXPECT_EQ(GetNextSfxBlock(view.data(), 0, nullptr), nullptr);
  EXPECT_EQ(log.Entries().size(), 2u) << "no view or no size: no log line";
}

TEST_F(ChainTest, ALinkBackToAVisitedBlockEndsTheWalk) {
  SetupFileBuilder builder;
  builder.Block("one", "1111").Block("two", "2222").Block("three", "3333");
  const std::string good = builder.Build();
  const DWORD first = builder.BlockOffset(0), second = builder.BlockOffset(1);
  const DWORD third = builder.BlockOffset(2);
  const std::vector<std::string> cycle = {Line("Current section does not fit in SFX")};

  std::string toFirst = good;
  PutLe32(toFirst, third + 10, first);
  WalkResult r = Walk(toFirst);
  EXPECT_EQ(r.names, std::vector<std::string>({"one", "two", "three"}));
  EXPECT_EQ(r.log, cycle);

  std::string self = good;
  PutLe32(self, second + 10, second);
  r = Walk(self);
  EXPECT_EQ(r.names, std::vector<std::string>({"one", "two"}));
  EXPECT_EQ(r.log, cycle);

  // Going backwards is allowed as long as no block comes twice: blocks stored in reverse order.
  SetupFileBuilder reversed;
  reversed.Block("c", "3").Block("b", "2").Block("a", "1");
  std::string back = reversed.Build();
  DWORD a = reversed.BlockOffset(2), b = reversed.BlockOffset(1), c = reversed.BlockOffset(0);
  PutLe32(back, 0x28, a);
  PutLe32(back, 0x2C, a);
  PutLe32(back, a + 10, b);
  PutLe32(back, b + 10, c);
  PutLe32(back, c + 10, 0);
  r = Walk(back);
  EXPECT_EQ(r.names, std::vector<std::string>({"a", "b", "c"}));
  EXPECT_TRUE(r.log.empty());
}

TEST_F(ChainTest, ALongBackwardChainStillEnds) {
  // 3000 empty blocks, each linking to the one stored before it: every link goes backwards.
  const int n = 3000;
  SetupFileBuilder builder;
  for (int i = 0; i < n; ++i) builder.Block("b", "");
  std::string bytes = builder.Build();
  DWORD last = builder.BlockOffset(n - 1);
  PutLe32(bytes, 0x28, last);
  PutLe32(bytes, 0x2C, last);
  for (int i = 0; i < n; ++i)
    PutLe32(bytes, builder.BlockOffset(i) + 10, i == 0 ? 0 : builder.BlockOffset(i - 1));
  LogCapture log(machine);
  ExactView view(bytes);
  int count = 0;
  for (const SfxBlockHeader* b = GetNextSfxBlock(view.data(), view.size(), nullptr); b;
       b = GetNextSfxBlock(view.data(), view.size(), b))
    ++count;
  EXPECT_EQ(count, n);
  EXPECT_TRUE(log.Entries().empty());
}

// Headers may overlap (each one's signature and size inside the name of the one before): a
// chain of more of them than the file holds whole headers, linking back near its end, must
// still be seen to come back.
TEST_F(ChainTest, OverlappingHeadersThatLinkBackEndTheWalk) {
  const DWORD first = 0x40, n = 100;
  std::string bytes(first + 14 * (n - 1) + kSfxHeaderSize, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  for (DWORD word : {kSfxFirstOffsetWord, kSfxFirstOffsetCopyWord}) PutLe32(bytes, word, first);
  for (DWORD word : {kSfxBlockCountWord, kSfxBlockCountCopyWord}) PutLe32(bytes, word, n);
  for (DWORD i = 0; i < n; ++i) {
    DWORD at = first + 14 * i;
    bytes[at] = 'W';
    bytes[at + 1] = 'P';
    PutLe32(bytes, at + 2, kSfxHeaderSize);
    PutLe32(bytes, at + 10, first + 14 * (i + 1 < n ? i + 1 : 90));
  }
  ASSERT_GT(n, (DWORD)bytes.size() / kSfxHeaderSize);
  WalkResult r = Walk(bytes);
  EXPECT_EQ(r.names.size(), n) << "each block once";
  EXPECT_EQ(r.log, std::vector<std::string>({Line("Current section does not fit in SFX")}));
}

TEST_F(ChainTest, LookupIsAPrefixMatchOnAtMostEightBytes) {
  std::string bytes = SetupFileBuilder()
                          .Block("pondwick", "P")
                          .BlockWithCrc("affid", "A", 0)
                          .Block("langs", "L1")
                          .Block("langs", "L2")
                          .Block("portable", "R")
                          .Block("empty", "")
                          .Build();
  LogCapture log(machine);
  ExactView view(bytes);
  auto find = [&](const char* name) {
    DWORD length = 12345;
    const BYTE* data = FindSfxBlock(view.data(), view.size(), name, &length);
    return data ? std::string(reinterpret_cast<const char*>(data), length)
                : "none/" + std::to_string(length);
  };
  EXPECT_EQ(find("lang"), "L1");
  EXPECT_EQ(find("langs"), "L1") << "the first of two in chain order";
  EXPECT_EQ(find("pondwick.bin"), "P");
  EXPECT_EQ(find("Langs"), "none/0") << "case-sensitive";
  EXPECT_EQ(find(""), "P") << "an empty name matches the first block";
  EXPECT_EQ(find("portable"), "R") << "eight characters, no terminator in the header";
  EXPECT_EQ(find("portables"), "R");
  EXPECT_EQ(find("affidavit"), "none/0");
  EXPECT_EQ(find("missing"), "none/0");

  DWORD length = 99;
  const BYTE* data = FindSfxBlock(view.data(), view.size(), "empty", &length);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(data, view.data() + view.size()) << "just behind its header, at the end of the file";

  EXPECT_EQ(FindSfxBlock(nullptr, view.size(), "langs", &length), nullptr);
  EXPECT_EQ(FindSfxBlock(view.data(), view.size(), nullptr, &length), nullptr);
  EXPECT_EQ(FindSfxBlock(view.data(), view.size(), "langs", nullptr), nullptr);
  EXPECT_TRUE(log.Entries().empty());
}

TEST_F(ChainTest, BlocksBehindABrokenLinkCannotBeFound) {
  SetupFileBuilder builder;
  builder.Block("pondwick", "P").Block("affid", "A").Block("langs", "L");
  std::string bytes = builder.Build();
  bytes[builder.BlockOffset(1)] = 'x';
  LogCapture log(machine);
  ExactView view(bytes);
  DWORD length = 7;
  EXPECT_NE(FindSfxBlock(view.data(), view.size(), "pondwick", &length), nullptr);
  EXPECT_EQ(FindSfxBlock(view.data(), view.size(), "langs", &length), nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(FindSfxBlock(view.data(), view.size(), "langs", &length), nullptr);
  EXPECT_EQ(log.Entries(), std::vector<std::string>({Line("Bad next signature"),
                                                      Line("Bad next signature")}))
      << "each lookup walks again and logs the damage again";
}
