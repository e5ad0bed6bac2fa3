/* The setup log: where it goes, what a line looks like, and when lines are lost. */
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <string.h>

#include "support/log.h"
#include "support/open_access_security.h"
#include "support/report.h"
#include "tests/support/log_reader.h"
#include "tests/support/test_machine.h"
#ifndef _WIN32
#include "platform/posix/winsim.h"
#endif

namespace {

const char kLogFile[] = "C:\\_pw\\_pw.log";

// Each test starts as a fresh process would: no log yet, not silent. Under Wine the log is the
// prefix's real C:\_pw, so it is cleared before and after.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    RemoveRealLog();
  }
  void TearDown() override {
    Reset();
    RemoveRealLog();
  }
  static void Reset() {
    LogReady = false;
    LogFilePath[0] = '\0';
    LogFolderPath[0] = '\0';
    SilentMode = false;
  }
  static void RemoveRealLog() {
#ifdef _WIN32
    std::error_code ec;
    std::filesystem::remove_all("C:\\_pw", ec);
    std::filesystem::remove("C:\\_pw.log", ec);
#endif
  }
  static std::string Raw(const char* path = kLogFile) {
    std::string bytes;
    TestMachine::ReadBytes(path, &bytes);
    return bytes;
  }
  TestMachine machine;
};

}  // namespace

TEST_F(LogTest, LinesBeforeInitLogAreLost) {
  WriteLog("lost", "line", 0);
  EXPECT_FALSE(TestMachine::Exists(kLogFile));
  EXPECT_FALSE(TestMachine::Exists("C:\\_pw"));
}

TEST_F(LogTest, InitLogCreatesTheLogAndLinesHaveTheirFormat) {
  InitLog();
  EXPECT_STREQ(LogFolderPath, "C:\\_pw");
  EXPECT_STREQ(LogFilePath, "C:\\_pw\\_pw.log");
  EXPECT_TRUE(LogReady);
  EXPECT_EQ(GetFileAttributesA("C:\\_pw") & FILE_ATTRIBUTE_DIRECTORY,
            (DWORD)FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(Raw(), "") << "a new log is empty";

  SYSTEMTIME before;
  GetSystemTime(&before);
  WriteLog("RunSfx() - START", nullptr, 0);
  WriteLog("text", "detail", -1);
  WriteLog(nullptr, "C:\\x", E_FAIL);
  WriteLog("own\r\nline end ", nullptr, 0x1A);
  WriteLog(nullptr, nullptr, 0);

  std::string raw = Raw();
  std::regex shape(
      "(\\d\\d)-(\\d\\d)-(\\d\\d) \\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d \\[0\\] RunSfx\\(\\) - START \r\n"
      "\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d \\[FFFFFFFF\\] text detail\r\n"
      ".{21} \\[80004005\\]  C:\\\\x\r\n"
      ".{21} \\[1A\\] own\r\nline end  \r\n"
      ".{21} \\[0\\]  \r\n");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(raw, m, shape)) << raw;
  // Day, month and year of the system time (UTC), the year less 2000.
  EXPECT_EQ(std::stoi(m[1]), before.wDay);
  EXPECT_EQ(std::stoi(m[2]), before.wMonth);
  EXPECT_EQ(std::stoi(m[3]), before.wYear - 2000);
}

TEST_F(LogTest, ALineIsCutAt1023CharactersWithoutItsLineEnd) {
  InitLog();
  std::string text(2000, 'x');
  WriteLog(text.c_str(), "d", 0);
  WriteLog("next", nullptr, 0);
  std::vector<std::string> lines = LogEntries(kLogFile);
  std::string raw = Raw();
  ASSERT_GE(raw.size(), 1023u);
  EXPECT_EQ(raw.substr(1000, 23), std::string(23, 'x')) << "the first line holds 1023 characters";
  EXPECT_NE(raw.substr(1023, 2), "\r\n");
  ASSERT_EQ(lines.size(), 1u) << "the cut line runs into the next one";
  EXPECT_EQ(raw.substr(raw.size() - 8), " next \r\n");
}

TEST_F(LogTest, SecondInitLogDoesNothingAndOldLogsAreDeleted) {
  InitLog();
  WriteLog("one", nullptr, 0);
  InitLog();
  EXPECT_EQ(LogEntries(kLogFile), std::vector<std::string>({"[0] one "}));

  ASSERT_TRUE(TestMachine::WriteBytes("C:\\_pw.log", "stray"));
  DeleteOldLogs();
  EXPECT_FALSE(TestMachine::Exists(kLogFile));
  EXPECT_FALSE(TestMachine::Exists("C:\\_pw.log"));
  EXPECT_TRUE(TestMachine::Exists("C:\\_pw")) << "only the files go";
  DeleteOldLogs();  // nothing left to delete: no harm
}

TEST_F(LogTest, ALineMeetingTheFileHeldOpenIsLostAndADeletedLogIsMadeAgain) {
  InitLog();
  WriteLog("first", nullptr, 0);
  HANDLE held = CreateFileA(kLogFile, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  WriteLog("lost", nullptr, 0);
  CloseHandle(held);
  WriteLog("second", nullptr, 0);
  EXPECT_EQ(LogEntries(kLogFile), std::vector<std::string>({"[0] first ", "[0] second "}));

  ASSERT_TRUE(DeleteFileA(kLogFile));
  WriteLog("again", nullptr, 0);
  EXPECT_EQ(LogEntries(kLogFile), std::vector<std::string>({"[0] again "}));
}

TEST_F(LogTest, AFileInPlaceOfTheFolderLosesEveryLine) {
  ASSERT_TRUE(TestMachine::WriteBytes("C:\\_pw", "not a folder"));
  InitLog();
  EXPECT_STREQ(LogFolderPath, "C:\\_pw");
  EXPECT_STREQ(LogFilePath, "C:\\_pw\\_pw.log") << "the entry is taken for the folder";
  EXPECT_FALSE(LogReady);
  WriteLog("lost", nullptr, 0);
  std::string content;
  ASSERT_TRUE(TestMachine::ReadBytes("C:\\_pw", &content));
  EXPECT_EQ(content, "not a folder");
#ifdef _WIN32
  DeleteFileA("C:\\_pw");
#endif
}

TEST_F(LogTest, WritingALineKeepsTheCallersLastError) {
  InitLog();
  SetLastError(ERROR_SHARING_VIOLATION);
  WriteLog("line", nullptr, 0);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
}

TEST_F(LogTest, OpenAccessSecurityGrantsEveryoneFullAccess) {
  LPSECURITY_ATTRIBUTES sa = CreateOpenAccessSecurity();
  ASSERT_NE(sa, nullptr);
  EXPECT_EQ(sa->nLength, sizeof(SECURITY_ATTRIBUTES));
  EXPECT_EQ(sa->bInheritHandle, TRUE);
  ASSERT_NE(sa->lpSecurityDescriptor, nullptr);
  const BYTE* sd = static_cast<const BYTE*>(sa->lpSecurityDescriptor);
  EXPECT_EQ(sd[0], SECURITY_DESCRIPTOR_REVISION);
  WORD control = (WORD)(sd[2] | (sd[3] << 8));
  EXPECT_EQ(control & 0x0004, 0x0004) << "DACL present";
  EXPECT_EQ(control & 0x0008, 0) << "not defaulted";
  FreeOpenAccessSecurity(sa);
  FreeOpenAccessSecurity(nullptr);
}

#ifndef _WIN32

TEST_F(LogTest, HostLogDriveFollowsTheWindowsDirectory) {
  machine.AddDrive('d');
  machine.SetSetting("windows", "directory", "D:\\WINNT");
  char drive[4];
  GetLogDrive(drive);
  EXPECT_STREQ(drive, "D:");
  InitLog();
  EXPECT_STREQ(LogFolderPath, "D:\\_pw");
  EXPECT_STREQ(LogFilePath, "D:\\_pw\\_pw.log");
  WriteLog("on d", nullptr, 0);
  EXPECT_EQ(LogEntries("D:\\_pw\\_pw.log").size(), 1u);

  // The last one does not fit the call's buffer: it is answered with the size it needs.
  for (std::string other :
       std::vector<std::string>{"\\\\server\\share\\windows", "D:WINNT", "", "WINDOWS", "D:/WINNT",
                                "D:\\" + std::string(254, 'W')}) {
    machine.SetSetting("windows", "directory", other);
    GetLogDrive(drive);
    EXPECT_STREQ(drive, "C:") << "Windows directory '" << other << "'";
  }
  machine.SetSetting("windows", "directory", "D:\\WINNT");
  winsim::ClearFaults();
  winsim::SetFault("GetWindowsDirectoryA", 1, ERROR_ACCESS_DENIED);
  GetLogDrive(drive);
  EXPECT_STREQ(drive, "C:") << "a failed call gives C:";
  winsim::ClearFaults();
}

TEST_F(LogTest, HostFixedClockShowsTheYearReductionAndUtc) {
  machine.SetSetting("clock", "utc", "1999-12-31 23:59:58.007");
  InitLog();
  WriteLog("a", "b", 0);
  machine.SetSetting("clock", "utc", "2005-05-06 21:35:43.015");
  WriteLog("RunSfx() - START", nullptr, 0);
  EXPECT_EQ(Raw(),
            "31-12-99 23:59:58.007 [0] a b\r\n"
            "06-05-05 21:35:43.015 [0] RunSfx() - START \r\n");
}

TEST_F(LogTest, HostFolderThatCannotBeCreatedLosesLinesButKeepsTheFolderPath) {
  winsim::SetFault("CreateDirectoryA", 1, ERROR_ACCESS_DENIED);
  InitLog();
  winsim::ClearFaults();
  EXPECT_STREQ(LogFolderPath, "C:\\_pw");
  EXPECT_STREQ(LogFilePath, "");
  EXPECT_FALSE(LogReady);
  WriteLog("lost", nullptr, 0);
  EXPECT_FALSE(TestMachine::Exists("C:\\_pw"));
}

TEST_F(LogTest, HostLogFileThatCannotBeCreatedIsTriedAgainByEachLine) {
  winsim::SetFault("CreateFileA", 1, ERROR_ACCESS_DENIED);
  InitLog();
  winsim::ClearFaults();
  EXPECT_STREQ(LogFilePath, "C:\\_pw\\_pw.log");
  EXPECT_FALSE(LogReady);
  WriteLog("made by the line", nullptr, 0);
  EXPECT_EQ(LogEntries(kLogFile), std::vector<std::string>({"[0] made by the line "}));
  InitLog();
  EXPECT_TRUE(LogReady) << "InitLog was not done yet, so it runs again";
}

TEST_F(LogTest, HostSecurityFunctionsMissingOrFailing) {
  // Missing function or library: no record at all, and the log still works.
  winsim::ClearFaults();
  for (auto setting : {std::pair<const char*, const char*>{"functions", "SetSecurityDescriptorDacl"},
                       {"functions", "InitializeSecurityDescriptor"},
                       {"libraries", "advapi32.dll"}}) {
    machine.SetSetting(setting.first, "missing", setting.second);
    EXPECT_EQ(CreateOpenAccessSecurity(), nullptr) << setting.second;
    bool loaded = strcmp(setting.first, "functions") == 0;
    EXPECT_EQ(winsim::CallCount("FreeLibrary"), loaded ? 1u : 0u)
        << "the library is released whenever it was loaded";
    machine.SetSetting(setting.first, "missing", "");
    winsim::ClearFaults();
  }
  // Present but failing: an all-zero record, still passed on.
  for (const char* failing : {"InitializeSecurityDescriptor", "SetSecurityDescriptorDacl"}) {
    winsim::SetFault(failing, 1, ERROR_INVALID_PARAMETER);
    LPSECURITY_ATTRIBUTES sa = CreateOpenAccessSecurity();
    ASSERT_NE(sa, nullptr) << failing;
    EXPECT_EQ(sa->nLength, 0u);
    EXPECT_EQ(sa->lpSecurityDescriptor, nullptr);
    EXPECT_EQ(sa->bInheritHandle, FALSE);
    FreeOpenAccessSecurity(sa);
    winsim::ClearFaults();
  }
  // The record itself can't be allocated: none.
  winsim::SetFault("LocalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(CreateOpenAccessSecurity(), nullptr);
  winsim::ClearFaults();

  machine.SetSetting("libraries", "missing", "advapi32.dll");
  InitLog();
  EXPECT_TRUE(LogReady) << "default security is enough for the log";
}

TEST_F(LogTest, HostALineThatCannotReachTheEndIsDroppedNotWrittenOverTheFirst) {
  InitLog();
  WriteLog("first", nullptr, 0);
  winsim::SetFault("SetFilePointer", winsim::CallCount("SetFilePointer") + 1,
                   ERROR_NEGATIVE_SEEK);
  WriteLog("would overwrite the first", nullptr, 0);
  winsim::ClearFaults();
  WriteLog("third", nullptr, 0);
  EXPECT_EQ(LogEntries(kLogFile), std::vector<std::string>({"[0] first ", "[0] third "}));
}

#endif
