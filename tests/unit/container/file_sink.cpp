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

class FileSinkTest : public ::testing::Test {
 protected:
  void SetUp() override { SilentMode = true; }
  void TearDown() override { SilentMode = false; }

  // A fresh folder for one run.
  std::string Folder() {
    std::string folder = machine.Path("out" + std::to_string(++runs_));
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
  }

  // Feeds the stream cut at the given positions; returns the first failure (or 0).
  HRESULT Feed(const std::string& folder, const std::string& stream, std::vector<size_t> cuts,
               bool* complete = nullptr) {
    FileSink sink(folder.c_str());
    cuts.push_back(stream.size());
    size_t at = 0;
    HRESULT result = S_OK;
    for (size_t cut : cuts) {
      result = sink.Write(reinterpret_cast<const BYTE*>(stream.data()) + at, (DWORD)(cut - at));
      at = cut;
      if (FAILED(result)) break;
    }
    if (complete) *complete = sink.Complete();
    return result;
  }

  static Files Read(const std::string& folder, const std::vector<std::string>& names) {
    Files files;
    for (const std::string& name : names) {
      std::string bytes;
      if (TestMachine::ReadBytes(folder + "\\" + name, &bytes)) files[name] = bytes;
    }
    return files;
  }

  TestMachine machine;
  int runs_ = 0;
};

}  // namespace

TEST_F(FileSinkTest, TheDocumentedExampleStream) {
  const unsigned char bytes[] = {0x0F, 0x00, 0x01, 0x00, 0x03, 0x00, 0x00, 0x00, 0x06, 0x61, 0x2E,
                                 0x74, 0x78, 0x74, 0x00, 0x61, 0x62, 0x63, 0xC2, 0x41, 0x24, 0x35};
  std::string example(reinterpret_cast<const char*>(bytes), sizeof bytes);
  EXPECT_EQ(Stream({{"a.txt", "abc"}}), example) << "the writer produces the same bytes";
  std::string folder = Folder();
  bool complete = false;
  EXPECT_EQ(Feed(folder, example, {}, &complete), S_OK);
  EXPECT_TRUE(complete);
  EXPECT_EQ(Read(folder, {"a.txt"}), (Files{{"a.txt", "abc"}}));
}

TEST_F(FileSinkTest, EveryCutGivesTheSameFilesAndReports) {
  std::string big(300, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = (char)(i * 13);
  const std::vector<std::string> names = {"a.txt", "empty.dat", "b.bin", "c"};
  const std::string stream =
      Stream({{"a.txt", "abc"}, {"empty.dat", ""}, {"b.bin", big}, {"c", "z"}}) + "garbage";
  const Files expected = {{"a.txt", "abc"}, {"empty.dat", ""}, {"b.bin", big}, {"c", "z"}};

  LogCapture log(machine);
  std::string whole = Folder();
  ASSERT_EQ(Feed(whole, stream, {}), S_OK);
  ASSERT_EQ(Read(whole, names), expected);

  // Every single cut: inside the table header, the table, each CRC field, at file boundaries.
  for (size_t cut = 1; cut < stream.size(); ++cut) {
    std::string folder = Folder();
    bool complete = false;
    ASSERT_EQ(Feed(folder, stream, {cut}, &complete), S_OK) << "cut at " << cut;
    ASSERT_TRUE(complete) << "cut at " << cut;
    ASSERT_EQ(Read(folder, names), expected) << "cut at " << cut;
  }
  // One byte at a time.
  std::vector<size_t> bytes;
  for (size_t i = 1; i < stream.size(); ++i) bytes.push_back(i);
  std::string folder = Folder();
  EXPECT_EQ(Feed(folder, stream, bytes), S_OK);
  EXPECT_EQ(Read(folder, names), expected);
  EXPECT_TRUE(log.Entries().empty()) << "success reports nothing";

  // An empty file appears only once the first byte of its CRC field has arrived.
  size_t emptyCrc = stream.find("abc") + 3 + 4;
  std::string partial = Folder();
  Feed(partial, stream.substr(0, emptyCrc), {});
  EXPECT_FALSE(TestMachine::Exists(partial + "\\empty.dat"));
  Feed(partial, stream.substr(0, emptyCrc + 1), {});
  EXPECT_TRUE(TestMachine::Exists(partial + "\\empty.dat"));
}

TEST_F(FileSinkTest, LargePiecesAndAnEmptyTable) {
  std::string large(5 << 20, 'L');
  for (size_t i = 0; i < large.size(); i += 4093) large[i] = (char)i;
  std::string stream = Stream({{"large.bin", large}, {"small.txt", "s"}});
  std::string folder = Folder();
  EXPECT_EQ(Feed(folder, stream, {4u << 20}), S_OK) << "a 4 MiB piece, then the rest";
  EXPECT_EQ(Read(folder, {"large.bin", "small.txt"}),
            (Files{{"large.bin", large}, {"small.txt", "s"}}));

  bool complete = false;
  std::string none = Folder();
  EXPECT_EQ(Feed(none, RawStream(4, 0, "", "anything behind"), {2}, &complete), S_OK);
  EXPECT_TRUE(complete) << "a table without files is done at once; the rest is discarded";
}

TEST_F(FileSinkTest, ACrcMismatchStopsAtThatFile) {
  std::string stream = Stream({{"one", "1111"}, {"two", "2222"}, {"three", "3333"}});
  size_t second = stream.find("2222");
  stream[second + 4] ^= 0x55;  // the second file's CRC field
  LogCapture log(machine);
  std::string folder = Folder();
  FileSink sink(folder.c_str());
  EXPECT_EQ(sink.Write(reinterpret_cast<const BYTE*>(stream.data()), (DWORD)stream.size()), E_FAIL);
  EXPECT_EQ(sink.Write(reinterpret_cast<const BYTE*>("x"), 1), E_FAIL) << "failed for good";
  EXPECT_FALSE(sink.Complete());
  EXPECT_EQ(Read(folder, {"one", "two", "three"}), (Files{{"one", "1111"}}))
      << "the mismatching file is removed; the next is not created";
  EXPECT_EQ(log.Entries(), std::vector<std::string>({"[0] CRC Error in file  two", " "}));
}

TEST_F(FileSinkTest, AStreamEndingInsideAFileLeavesNoShortFile) {
  std::string stream = Stream({{"one", "1111"}, {"two", std::string(1000, '2')}});
  std::string folder = Folder();
  bool complete = true;
  EXPECT_EQ(Feed(folder, stream.substr(0, stream.size() - 600), {40}, &complete), S_OK);
  EXPECT_FALSE(complete);
  EXPECT_EQ(Read(folder, {"one", "two"}), (Files{{"one", "1111"}}))
      << "the whole file stays; the one the stream ended in is gone with its sink";
}

TEST_F(FileSinkTest, AFileThatCannotBeCreated) {
  LogCapture log(machine);
  std::string missing = machine.Path("no-such-folder");
  EXPECT_EQ(Feed(missing, Stream({{"a.txt", "abc"}}), {}), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  std::vector<std::string> lines = log.Entries();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].rfind("[3] Error creating file  " + missing + "\\a.txt: ", 0), 0u) << lines[0];
}

TEST_F(FileSinkTest, NamesThatLeaveTheFolderAndContradictoryTablesAreRefused) {
  // Nothing is created from a table that holds a name that is not a plain file name.
  for (std::string bad :
       {".",        "..",      "..\\evil.txt", "sub/evil.txt", "C:evil.txt", "NUL",
        "com1.txt", "lpt9",    "CONOUT$",      "CON .txt",     "aux  ",      "Com\xB9.tar.gz",
        "LPT\xB3",  "readme.", "readme ",      "a*.txt",       "a?",         "a|b",
        "a\tb",     "a\"b",     "COM\xB2.txt",  "lpt\xB2"}) {
    LogCapture log(machine);
    std::string stream = Stream({{"first.txt", "ok"}});
    // Swap in the bad name by hand: the writer refuses to make such a table.
    std::string table = Entry(2, "first.txt" + std::string(1, '\0')) + Entry(1, bad + '\0');
    stream = RawStream((WORD)(4 + table.size()), 2, table, "ok" + std::string(4, '\0') + "x");
    std::string folder = Folder();
    EXPECT_EQ(Feed(folder, stream, {}), E_FAIL) << bad;
    EXPECT_FALSE(TestMachine::Exists(folder + "\\first.txt")) << bad;
    ASSERT_FALSE(log.Entries().empty());
    EXPECT_EQ(log.Entries()[0].rfind("[7B] Error creating file  " + bad + ": ", 0), 0u)
        << log.Entries()[0];
  }
  EXPECT_FALSE(IsPlainFileName(""));
  EXPECT_TRUE(IsPlainFileName("nul.txt.bak") == false);
  EXPECT_TRUE(IsPlainFileName("console.txt"));
  EXPECT_TRUE(IsPlainFileName("com10"));
  for (const char* good : {"com0.txt", "COM\xB4", "con-fig.txt", " con", ".profile", "n\xE9.txt"})
    EXPECT_TRUE(IsPlainFileName(good)) << good;

  // Tables that contradict themselves, read without leaving the table (ASan watches).
  struct Case {
    const char* what;
    std::string stream;
  };
  std::vector<Case> cases = {
      {"table size below 4", RawStream(3, 0, "", "xyz")},
      {"entries run past the table", RawStream(9, 1, Entry(1, "ab"), "")},
      {"two entries in room for one", RawStream(4 + 8, 2, Entry(1, "ab") + Entry(1, "c") + "\0")},
      {"name length 0", RawStream(4 + 5, 1, Entry(1, ""), "x")},
      {"name without its zero", RawStream(4 + 7, 1, Entry(1, "ab"), "x0000")},
  };
  for (const Case& c : cases) {
    LogCapture log(machine);
    std::string folder = Folder();
    EXPECT_EQ(Feed(folder, c.stream, {}), E_FAIL) << c.what;
    ASSERT_FALSE(log.Entries().empty()) << c.what;
    EXPECT_EQ(log.Entries()[0], "[0] Bad file table  " + folder) << c.what;
  }

  // A composed path that would not fit in MAX_PATH is refused, not cut.
  std::string deep = machine.Dir();
  while (deep.size() < 200) deep += "\\dddddddddd";
  std::string name(70, 'n');
  LogCapture log(machine);
  EXPECT_EQ(Feed(deep, Stream({{name, "x"}}), {}), HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
  ASSERT_FALSE(log.Entries().empty());
  EXPECT_NE(log.Entries()[0].find(deep + "\\" + name), std::string::npos);
}

#ifndef _WIN32

TEST_F(FileSinkTest, HostFailingCallsOfTheSink) {
  std::string stream = Stream({{"one", "1111"}, {"two", std::string(1000, '2')}});
  {
    // The second file can't be created: the first stays, the report names the path.
    LogCapture log(machine);
    std::string folder = Folder();
    winsim::ClearFaults();
    winsim::SetFault("CreateFileA", 2, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Feed(folder, stream, {}), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    winsim::ClearFaults();
    EXPECT_EQ(Read(folder, {"one", "two"}), (Files{{"one", "1111"}}));
    ASSERT_FALSE(log.Entries().empty());
    EXPECT_EQ(log.Entries()[0].rfind("[5] Error creating file  " + folder + "\\two: ", 0), 0u);
  }
  {
    // A write that fails: the short file is gone, the whole one before it stays; the code is
    // the system's.
    winsim::ClearFaults();
    std::string folder = Folder();
    winsim::SetFault("WriteFile", 3, ERROR_DISK_FULL);
    EXPECT_EQ(Feed(folder, stream, {stream.size() - 500}), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    winsim::ClearFaults();
    EXPECT_EQ(Read(folder, {"one", "two"}), (Files{{"one", "1111"}}));
  }
  {
    // A write that fails without any system code must not read as success.
    winsim::ClearFaults();
    std::string folder = Folder();
    winsim::SetFault("WriteFile", 1, 0);
    EXPECT_EQ(Feed(folder, stream, {}), E_FAIL);
    winsim::ClearFaults();
  }
}

#endif
