/* FileSink: the decoded stream, cut anywhere, becomes the same files and the same reports. */
#include "container/file_sink.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
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

// The writer's stream of the files, in the order of their names.
std::string Stream(const Files& files) {
  std::vector<pwpack::PackFile> list;
  for (const auto& f : files) list.push_back({f.first, f.second});
  std::string stream, error;
  EXPECT_TRUE(pwpack::MakeDecodedStream(list, &stream, &error)) << error;
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
  std::string e(4, '\0');
  PutLe32(e, 0, size);
  return e + (char)nameField.size() + nameField;
}

// What feeding one stream left: the first failure (or 0), whether the sink was complete, every
// file in the folder, and the log, each line up to the system's text and without empty lines.
using Outcome = std::tuple<HRESULT, bool, Files, Lines>;

// A failed run that reported once, with the log line and the files left.
Outcome Failed(HRESULT result, const std::string& line, const Files& files = {}) {
  return {result, false, files, {line, " "}};
}

class FileSinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SilentMode = true;
    CreateDirectoryA(out.c_str(), nullptr);
  }
  void TearDown() override { SilentMode = false; }

  // Feeds the stream cut at the given positions into the folder, which is emptied again after.
  // Pieces after a failure are fed too: the sink must keep answering with that failure.
  Outcome Feed(const std::string& stream, std::vector<size_t> cuts, const std::string& folder) {
    Outcome outcome{S_OK, false, {}, {}};
    auto& [result, complete, files, lines] = outcome;
    LogCapture log(machine);
    {
      FileSink sink(folder.c_str());
      cuts.push_back(stream.size());
      size_t at = 0;
      for (size_t cut : cuts) {
        HRESULT r = sink.Write(reinterpret_cast<const BYTE*>(stream.data()) + at, DWORD(cut - at));
        at = cut;
        if (SUCCEEDED(result)) result = r;
        EXPECT_EQ(r, result) << "a failed sink takes nothing more";
      }
      complete = sink.Complete();
    }
    WIN32_FIND_DATAA found;
    HANDLE walk = FindFirstFileA((folder + "\\*").c_str(), &found);
    for (BOOL more = walk != INVALID_HANDLE_VALUE; more; more = FindNextFileA(walk, &found))
      if (std::string name = found.cFileName; name != "." && name != "..") {
        EXPECT_TRUE(TestMachine::ReadBytes(folder + "\\" + name, &files[name])) << name;
      }
    if (walk != INVALID_HANDLE_VALUE) FindClose(walk);
    for (const auto& f : files) DeleteFileA((folder + "\\" + f.first).c_str());
    for (const std::string& line : log.Entries())
      if (!line.empty()) lines.push_back(line.substr(0, line.find(": ")));
    return outcome;
  }

  // Feeds the stream cut as given; a short one also cut at each place, and into single bytes.
  void Expect(const char* what, const std::string& stream, const Outcome& expected,
              const std::vector<size_t>& cuts = {}) {
    std::vector<std::vector<size_t>> ways = {cuts, {}};
    for (size_t cut = 1; stream.size() < 200 && cut < stream.size(); ++cut) {
      ways.push_back({cut});
      ways[1].push_back(cut);
    }
    for (const std::vector<size_t>& c : ways)
      ASSERT_EQ(Feed(stream, c, out), expected) << what << ", cut at " << testing::PrintToString(c);
  }

  TestMachine machine;
  const std::string out = machine.Path("out");
};

}  // namespace

TEST_F(FileSinkTest, WhatStreamsWholeCutShortAndDamagedLeave) {
  const std::string example("\x0F\0\x01\0\x03\0\0\0\x06" "a.txt\0abc\xC2" "A$5", 22);
  EXPECT_EQ(Stream({{"a.txt", "abc"}}), example) << "the writer produces the same bytes";
  std::string large(5 << 20, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = (char)((i * 13) ^ (i >> 9));
  const Files big = {{"large.bin", large}, {"small.txt", "s"}};
  const Files four = {{"a.txt", "abc"}, {"b.dat", ""}, {"c.bin", large.substr(0, 100)}, {"d", "z"}};
  std::string two = Stream({{"one", "1111"}, {"two", std::string(100, '2')}});
  std::string crc = Stream({{"a", "1111"}, {"b", "2222"}, {"c", "3333"}});
  crc[crc.find("2222") + 4] ^= 0x55;  // the second file's CRC field
  std::string empty = Stream({{"a.txt", "abc"}, {"empty.dat", ""}});
  size_t emptyCrc = empty.find("abc") + 3 + 4;

  Expect("the documented example", example, {S_OK, true, {{"a.txt", "abc"}}, {}});
  Expect("a 4 MiB piece, then the rest", Stream(big), {S_OK, true, big, {}}, {4u << 20});
  Expect("a table without files is done at once; the rest is discarded",
         RawStream(4, 0, "", "anything behind"), {S_OK, true, {}, {}});
  Expect("four files, an empty one among them, and garbage behind them", Stream(four) + "garbage",
         {S_OK, true, four, {}});
  Expect("the stream ends inside a file: the whole one stays, the short one goes with the sink",
         two.substr(0, two.size() - 60), {S_OK, false, {{"one", "1111"}}, {}});
  // An empty file appears only once the first byte of its CRC field has arrived.
  Expect("before the empty file's CRC field", empty.substr(0, emptyCrc),
         {S_OK, false, {{"a.txt", "abc"}}, {}});
  Expect("one byte of the empty file's CRC field", empty.substr(0, emptyCrc + 1),
         {S_OK, false, {{"a.txt", "abc"}, {"empty.dat", ""}}, {}});
  Expect("a CRC mismatch: that file is removed, the next is not created", crc,
         Failed(E_FAIL, "[0] CRC Error in file  b", {{"a", "1111"}}));
}

TEST_F(FileSinkTest, NamesThatLeaveTheFolderAndContradictoryTablesAreRefused) {
  // Nothing is created from a table that holds a name that is not a plain file name.
  for (std::string bad :
       {".",        "..",      "..\\evil.txt", "sub/evil.txt", "C:evil.txt", "NUL",
        "com1.txt", "lpt9",    "CONOUT$",      "CON .txt",     "aux  ",      "Com\xB9.tar.gz",
        "LPT\xB3",  "readme.", "readme ",      "a*.txt",       "a?",         "a|b",
        "a\tb",     "a\"b",    "COM\xB2.txt",  "lpt\xB2",      "",           "nul.txt.bak"}) {
    // Swap in the bad name by hand: the writer refuses to make such a table.
    std::string table = Entry(2, std::string("first.txt\0", 10)) + Entry(1, bad + '\0');
    std::string stream = RawStream((WORD)(4 + table.size()), 2, table, "ok" + std::string(4, '\0'));
    EXPECT_EQ(Feed(stream, {}, out), Failed(E_FAIL, "[7B] Error creating file  " + bad));
  }
  for (const char* good : {"console.txt", "com10", "com0.txt", "COM\xB4", "con-fig.txt", " con",
                           ".profile", "n\xE9.txt"})
    EXPECT_TRUE(IsPlainFileName(good)) << good;
  EXPECT_FALSE(IsPlainFileName(nullptr));

  // Tables that contradict themselves, read without leaving the table (ASan watches).
  for (const std::string& stream :
       {RawStream(3, 0, "", "xyz"), RawStream(9, 1, Entry(1, "ab"), ""),
        RawStream(4 + 8, 2, Entry(1, "ab") + Entry(1, "c") + '\0'),
        RawStream(4 + 5, 1, Entry(1, ""), "x"), RawStream(4 + 7, 1, Entry(1, "ab"), "x0000")})
    Expect("a contradicting table", stream, Failed(E_FAIL, "[0] Bad file table  " + out));

  // Where the file can't be made: a missing folder, a path past MAX_PATH (refused, not cut).
  std::string missing = machine.Path("no-such-folder"), deep = machine.Dir(), name(70, 'n');
  while (deep.size() < 200) deep += "\\dddddddddd";
  EXPECT_EQ(Feed(Stream({{"a.txt", "abc"}}), {}, missing),
            Failed(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
                   "[3] Error creating file  " + missing + "\\a.txt"));
  EXPECT_EQ(Feed(Stream({{name, "x"}}), {}, deep),
            Failed(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE),
                   "[CE] Error creating file  " + deep + "\\" + name));
}

#ifndef _WIN32

TEST_F(FileSinkTest, HostFailingCallsOfTheSink) {
  std::string stream = Stream({{"one", "1111"}, {"two", std::string(1000, '2')}});
  // The file before the failing one stays, the short one goes; a failure without a code is E_FAIL.
  auto check = [&](const char* function, unsigned nth, DWORD error, HRESULT result,
                   const std::string& line, const std::string& file) {
    winsim::ClearFaults();
    winsim::SetFault(function, nth, error);
    EXPECT_EQ(Feed(stream, {stream.size() - 500}, out),
              Failed(result, line + out + "\\" + file, file == "two" ? Files{{"one", "1111"}} : Files{}))
        << function;
    winsim::ClearFaults();
  };
  check("CreateFileA", 2, ERROR_ACCESS_DENIED, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED),
        "[5] Error creating file  ", "two");
  check("WriteFile", 3, ERROR_DISK_FULL, HRESULT_FROM_WIN32(ERROR_DISK_FULL),
        "[70] Error writing to file  ", "two");
  check("WriteFile", 1, 0, E_FAIL, "[0] Error writing to file  ", "one");
}

#endif
