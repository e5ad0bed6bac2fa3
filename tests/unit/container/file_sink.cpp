/* FileSink: the decoded stream, cut anywhere, becomes the same files and the same reports. */
#include "container/file_sink.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/report.h"
#include "tests/support/log_reader.h"
#include "tests/support/setup_file_builder.h"
#include "tests/support/test_machine.h"
#include "tools/pwpack/pack_writer.h"
#ifndef _WIN32
#include "platform/posix/winsim.h"
#endif

namespace {

using Files = std::map<std::string, std::string>;
using Lines = std::vector<std::string>;

std::string Stream(const std::vector<pwpack::PackFile>& files) {
  std::string stream, error;
  EXPECT_TRUE(pwpack::MakeDecodedStream(files, &stream, &error)) << error;
  return stream;
}

// A hand-made stream, for tables that the writer would never produce.
std::string RawStream(WORD tableSize, WORD count, const std::string& entries,
                      const std::string& rest = "") {
  std::string s(4, '\0');
  PutLe16(s, 0, tableSize);
  PutLe16(s, 2, count);
  return s + entries + rest;
}

std::string Entry(DWORD size, const std::string& nameField) {
  std::string e(5, '\0');
  PutLe32(e, 0, size);
  e[4] = (char)nameField.size();
  return e + nameField;
}

// What feeding one stream left: the first failure (or 0), whether the sink was complete, every
// file in the folder and the log. Pieces after a failure are fed too: the sink must keep
// answering with that failure.
struct Outcome {
  HRESULT result = S_OK;
  bool complete = false;
  Files files;
  Lines log;
};

class FileSinkTest : public ::testing::Test {
 protected:
  void SetUp() override { SilentMode = true; }
  void TearDown() override { SilentMode = false; }

  // Feeds the stream cut at the given positions into a fresh folder (or the one given).
  Outcome Feed(const std::string& stream, std::vector<size_t> cuts = {}, std::string folder = "") {
    if (folder.empty()) {
      folder = machine.Path("out" + std::to_string(++runs_));
      CreateDirectoryA(folder.c_str(), nullptr);
    }
    last = folder;
    Outcome out;
    LogCapture log(machine);
    {
      FileSink sink(folder.c_str());
      cuts.push_back(stream.size());
      size_t at = 0;
      for (size_t cut : cuts) {
        HRESULT r = sink.Write(reinterpret_cast<const BYTE*>(stream.data()) + at, DWORD(cut - at));
        at = cut;
        if (SUCCEEDED(out.result)) out.result = r;
        EXPECT_EQ(r, out.result) << "a failed sink takes nothing more";
      }
      out.complete = sink.Complete();
    }
    WIN32_FIND_DATAA found;
    HANDLE walk = FindFirstFileA((folder + "\\*").c_str(), &found);
    for (BOOL more = walk != INVALID_HANDLE_VALUE; more; more = FindNextFileA(walk, &found)) {
      std::string name = found.cFileName, bytes;
      if (name != "." && name != ".." && TestMachine::ReadBytes(folder + "\\" + name, &bytes))
        out.files[name] = bytes;
    }
    if (walk != INVALID_HANDLE_VALUE) FindClose(walk);
    out.log = log.Entries();
    return out;
  }

  TestMachine machine;
  std::string last;  // the folder of the last Feed
  int runs_ = 0;
};

// Whether the log's first line starts with prefix.
::testing::AssertionResult FirstLine(const Outcome& out, const std::string& prefix) {
  if (!out.log.empty() && out.log[0].rfind(prefix, 0) == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "log starts with \"" << (out.log.empty() ? "" : out.log[0]) << "\", not \"" << prefix
         << "\"";
}

}  // namespace

TEST_F(FileSinkTest, WhatStreamsWholeShortAndDamagedLeave) {
  const unsigned char bytes[] = {0x0F, 0x00, 0x01, 0x00, 0x03, 0x00, 0x00, 0x00, 0x06, 0x61, 0x2E,
                                 0x74, 0x78, 0x74, 0x00, 0x61, 0x62, 0x63, 0xC2, 0x41, 0x24, 0x35};
  std::string example(reinterpret_cast<const char*>(bytes), sizeof bytes);
  EXPECT_EQ(Stream({{"a.txt", "abc"}}), example) << "the writer produces the same bytes";
  std::string large(5 << 20, 'L');
  for (size_t i = 0; i < large.size(); i += 4093) large[i] = (char)i;
  std::string two = Stream({{"one", "1111"}, {"two", std::string(1000, '2')}});
  std::string crc = Stream({{"one", "1111"}, {"two", "2222"}, {"three", "3333"}});
  crc[crc.find("2222") + 4] ^= 0x55;  // the second file's CRC field
  std::string empty = Stream({{"a.txt", "abc"}, {"empty.dat", ""}});
  size_t emptyCrc = empty.find("abc") + 3 + 4;
  auto check = [&](const char* what, const std::string& stream, std::vector<size_t> cuts,
                   HRESULT result, bool complete, const Files& files, const char* report) {
    Outcome out = Feed(stream, cuts);
    EXPECT_EQ(out.result, result) << what;
    EXPECT_EQ(out.complete, complete) << what;
    EXPECT_EQ(out.files, files) << what;
    EXPECT_EQ(out.log, (report ? Lines{report, " "} : Lines())) << what;
  };
  check("the documented example", example, {}, S_OK, true, {{"a.txt", "abc"}}, nullptr);
  check("a 4 MiB piece, then the rest", Stream({{"large.bin", large}, {"small.txt", "s"}}),
        {4u << 20}, S_OK, true, {{"large.bin", large}, {"small.txt", "s"}}, nullptr);
  check("a table without files is done at once; the rest is discarded",
        RawStream(4, 0, "", "anything behind"), {2}, S_OK, true, {}, nullptr);
  check("the stream ends inside a file: the whole one stays, the short one goes with the sink",
        two.substr(0, two.size() - 600), {40}, S_OK, false, {{"one", "1111"}}, nullptr);
  // An empty file appears only once the first byte of its CRC field has arrived.
  check("before the empty file's CRC field", empty.substr(0, emptyCrc), {}, S_OK, false,
        {{"a.txt", "abc"}}, nullptr);
  check("one byte of the empty file's CRC field", empty.substr(0, emptyCrc + 1), {}, S_OK, false,
        {{"a.txt", "abc"}, {"empty.dat", ""}}, nullptr);
  check("a CRC mismatch: that file is removed, the next is not created", crc, {crc.size() - 1},
        E_FAIL, false, {{"one", "1111"}}, "[0] CRC Error in file  two");
}

TEST_F(FileSinkTest, EveryCutGivesTheSameFiles) {
  std::string big(300, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = (char)(i * 13);
  const Files expected = {{"a.txt", "abc"}, {"empty.dat", ""}, {"b.bin", big}, {"c", "z"}};
  const std::string stream =
      Stream({{"a.txt", "abc"}, {"empty.dat", ""}, {"b.bin", big}, {"c", "z"}}) + "garbage";
  // Whole, every single cut (inside the table header, the table, each CRC field, at file
  // boundaries), and one byte at a time.
  std::vector<std::vector<size_t>> cuts = {{}, {}};
  for (size_t cut = 1; cut < stream.size(); ++cut) {
    cuts.push_back({cut});
    cuts[1].push_back(cut);
  }
  for (const std::vector<size_t>& c : cuts) {
    Outcome out = Feed(stream, c);
    std::string at = c.size() == 1 ? std::to_string(c[0]) : std::to_string(c.size()) + " cuts";
    ASSERT_EQ(out.result, S_OK) << at;
    ASSERT_TRUE(out.complete) << at;
    ASSERT_EQ(out.files, expected) << at;
    ASSERT_TRUE(out.log.empty()) << "success reports nothing";
  }
}

TEST_F(FileSinkTest, NamesThatLeaveTheFolderAndContradictoryTablesAreRefused) {
  // Nothing is created from a table that holds a name that is not a plain file name.
  for (std::string bad :
       {".",        "..",      "..\\evil.txt", "sub/evil.txt", "C:evil.txt", "NUL",
        "com1.txt", "lpt9",    "CONOUT$",      "CON .txt",     "aux  ",      "Com\xB9.tar.gz",
        "LPT\xB3",  "readme.", "readme ",      "a*.txt",       "a?",         "a|b",
        "a\tb",     "a\"b",    "COM\xB2.txt",  "lpt\xB2",      "",           "nul.txt.bak"}) {
    // Swap in the bad name by hand: the writer refuses to make such a table.
    std::string table = Entry(2, "first.txt" + std::string(1, '\0')) + Entry(1, bad + '\0');
    Outcome out = Feed(RawStream((WORD)(4 + table.size()), 2, table, "ok" + std::string(4, '\0')));
    EXPECT_EQ(out.result, E_FAIL) << bad;
    EXPECT_EQ(out.files, Files()) << bad;
    EXPECT_TRUE(FirstLine(out, "[7B] Error creating file  " + bad + ": "));
  }
  for (const char* good : {"console.txt", "com10", "com0.txt", "COM\xB4", "con-fig.txt", " con",
                           ".profile", "n\xE9.txt"})
    EXPECT_TRUE(IsPlainFileName(good)) << good;
  EXPECT_FALSE(IsPlainFileName(nullptr));

  // Tables that contradict themselves, read without leaving the table (ASan watches).
  for (const std::string& stream :
       {RawStream(3, 0, "", "xyz"), RawStream(9, 1, Entry(1, "ab"), ""),
        RawStream(4 + 8, 2, Entry(1, "ab") + Entry(1, "c") + '\0'),
        RawStream(4 + 5, 1, Entry(1, ""), "x"), RawStream(4 + 7, 1, Entry(1, "ab"), "x0000")}) {
    Outcome out = Feed(stream);
    EXPECT_EQ(out.result, E_FAIL);
    EXPECT_EQ(out.log.empty() ? "" : out.log[0], "[0] Bad file table  " + last);
  }

  // Where the file can't be made: a folder that is not there, and a composed path that would
  // not fit in MAX_PATH, which is refused, not cut.
  std::string missing = machine.Path("no-such-folder");
  Outcome out = Feed(Stream({{"a.txt", "abc"}}), {}, missing);
  EXPECT_EQ(out.result, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(FirstLine(out, "[3] Error creating file  " + missing + "\\a.txt: "));
  std::string deep = machine.Dir();
  while (deep.size() < 200) deep += "\\dddddddddd";
  std::string name(70, 'n');
  out = Feed(Stream({{name, "x"}}), {}, deep);
  EXPECT_EQ(out.result, HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_TRUE(FirstLine(out, "[CE] Error creating file  " + deep + "\\" + name));
}

#ifndef _WIN32

TEST_F(FileSinkTest, HostFailingCallsOfTheSink) {
  std::string stream = Stream({{"one", "1111"}, {"two", std::string(1000, '2')}});
  // The whole file before the failure stays, the short one goes; the code is the system's, and
  // with none still a failure.
  auto check = [&](const char* function, unsigned nth, DWORD error, HRESULT result,
                   const Files& files, const std::string& report, const char* file) {
    winsim::ClearFaults();
    winsim::SetFault(function, nth, error);
    Outcome out = Feed(stream, {stream.size() - 500});
    winsim::ClearFaults();
    EXPECT_EQ(out.result, result) << function;
    EXPECT_EQ(out.files, files) << function;
    EXPECT_TRUE(FirstLine(out, report + last + "\\" + file));
  };
  check("CreateFileA", 2, ERROR_ACCESS_DENIED, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED),
        {{"one", "1111"}}, "[5] Error creating file  ", "two");
  check("WriteFile", 3, ERROR_DISK_FULL, HRESULT_FROM_WIN32(ERROR_DISK_FULL), {{"one", "1111"}},
        "[70] Error writing to file  ", "two");
  check("WriteFile", 1, 0, E_FAIL, {}, "[0] Error writing to file  ", "one");
}

#endif
