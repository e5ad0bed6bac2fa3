/* The setup log: where it goes, what a line looks like, and when lines are lost. */
#include "support/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

#include "support/open_access_security.h"
#include "tests/support/log_reader.h"
#include "tests/support/test_machine.h"
#ifndef _WIN32
#include "platform/posix/winsim.h"
#endif

namespace {

const auto Exists = &TestMachine::Exists;
const char kLogFile[] = "C:\\_pw\\_pw.log";
using Lines = std::vector<std::string>;

// Each test starts as a fresh process, with no log (under Wine the prefix's C:\_pw is cleared).
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  void TearDown() override { Fresh(); }
  static void Fresh() {
    LogReady = false;
    LogFilePath[0] = LogFolderPath[0] = '\0';
#ifdef _WIN32
    std::error_code ec;
    std::filesystem::remove_all("C:\\_pw", ec);
    std::filesystem::remove("C:\\_pw.log", ec);
#endif
  }
  static std::string Raw(const char* path = kLogFile) {
    std::string bytes;
    EXPECT_TRUE(TestMachine::ReadBytes(path, &bytes)) << path;
    return bytes;
  }
  TestMachine machine;
};

}  // namespace

TEST_F(LogTest, LinesReachTheLogAfterInitLogWheneverItCanBeOpenedInTheirFormat) {
  WriteLog("lost", "line", 0);
  EXPECT_FALSE(TestMachine::Exists("C:\\_pw")) << "lines before InitLog are lost";
  InitLog();
  EXPECT_STREQ(LogFolderPath, "C:\\_pw");
  EXPECT_TRUE(LogReady);
  EXPECT_EQ(Raw(), "") << "a new log is empty";

  SYSTEMTIME before;
  GetSystemTime(&before);
  WriteLog("RunSfx() - START", nullptr, 0);
  WriteLog("text", "detail", -1);
  WriteLog(nullptr, "C:\\x", E_FAIL);
  SetLastError(ERROR_SHARING_VIOLATION);
  WriteLog("own\r\nline end ", nullptr, 0x1A);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION) << "a line keeps the last error";
  WriteLog(nullptr, nullptr, 0);
  InitLog();  // the second does nothing
  // Each line opens the log afresh: one that meets the file held open is lost.
  HANDLE held = CreateFileA(kLogFile, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  WriteLog("lost", nullptr, 0);
  CloseHandle(held);
  WriteLog("second", nullptr, 0);
  // Each line behind its time stamp; the line's own line end is written as it is.
  EXPECT_EQ(LogEntries(kLogFile),
            Lines({"[0] RunSfx() - START ", "[FFFFFFFF] text detail", "[80004005]  C:\\x",
                   "[1A] own", "line end  ", "[0]  ", "[0] second "}));
  char date[16];
  wsprintfA(date, "%02d-%02d-%02d ", before.wDay, before.wMonth, before.wYear - 2000);
  EXPECT_EQ(Raw().substr(0, 9), date) << "day, month and year less 2000 of the system time (UTC)";

  // A deleted log is made again. A line is cut at 1023 characters, without its line end.
  ASSERT_TRUE(DeleteFileA(kLogFile));
  WriteLog(std::string(2000, 'x').c_str(), "d", 0);
  WriteLog("next", nullptr, 0);
  std::string raw = Raw();
  EXPECT_EQ(raw.find_first_not_of('x', 26), 1023u) << "the first line holds 1023 characters";
  EXPECT_EQ(raw.find("\r\n"), raw.size() - 2) << "the cut line runs into the next one";
  EXPECT_EQ(raw.substr(raw.size() - 8), " next \r\n");
  EXPECT_EQ(raw.find('\0'), std::string::npos) << "the cut line's terminator is not written";

  ASSERT_TRUE(TestMachine::WriteBytes("C:\\_pw.log", "stray"));
  DeleteOldLogs();
  EXPECT_EQ(std::make_tuple(Exists(kLogFile), Exists("C:\\_pw.log"), Exists("C:\\_pw")),
            std::make_tuple(false, false, true))
      << "only the files go";
  DeleteOldLogs();  // nothing left to delete: no harm
}

TEST_F(LogTest, AFileInPlaceOfTheFolderLosesEveryLine) {
  ASSERT_TRUE(TestMachine::WriteBytes("C:\\_pw", "not a folder"));
  InitLog();
  EXPECT_STREQ(LogFolderPath, "C:\\_pw");
  EXPECT_STREQ(LogFilePath, kLogFile) << "the entry is taken for the folder";
  EXPECT_FALSE(LogReady);
  WriteLog("lost", nullptr, 0);
  EXPECT_EQ(Raw("C:\\_pw"), "not a folder");
}

TEST_F(LogTest, OpenAccessSecurityGrantsEveryoneFullAccess) {
  LPSECURITY_ATTRIBUTES sa = CreateOpenAccessSecurity();
  ASSERT_NE(sa, nullptr);
  EXPECT_EQ(sa->nLength, sizeof(SECURITY_ATTRIBUTES));
  EXPECT_EQ(sa->bInheritHandle, TRUE);
  ASSERT_NE(sa->lpSecurityDescriptor, nullptr);
  const BYTE* sd = static_cast<const BYTE*>(sa->lpSecurityDescriptor);
  EXPECT_EQ(sd[0], SECURITY_DESCRIPTOR_REVISION);
  EXPECT_EQ(sd[2] & 0x0C, 0x04) << "DACL present, not defaulted";
  FreeOpenAccessSecurity(sa);
  FreeOpenAccessSecurity(nullptr);
}

#ifndef _WIN32

TEST_F(LogTest, HostLogDriveFollowsTheWindowsDirectory) {
  machine.AddDrive('d');
  machine.SetSetting("windows", "directory", "D:\\WINNT");
  InitLog();
  EXPECT_STREQ(LogFolderPath, "D:\\_pw");
  WriteLog("on d", nullptr, 0);
  EXPECT_EQ(LogEntries("D:\\_pw\\_pw.log").size(), 1u);
  DeleteOldLogs();
  EXPECT_FALSE(TestMachine::Exists("D:\\_pw\\_pw.log"));

  // Anything else gives C:, the long one too big for the call's buffer, the last a failing call.
  for (std::string other : Lines{"\\\\server\\share\\windows", "D:WINNT", "", "WINDOWS", "D:/WINNT",
                                 "D:\\" + std::string(254, 'W'), "D:\\WINNT"}) {
    machine.SetSetting("windows", "directory", other);
    if (other == "D:\\WINNT") FailNext("GetWindowsDirectoryA", ERROR_ACCESS_DENIED);
    char drive[4];
    GetLogDrive(drive);
    EXPECT_STREQ(drive, "C:") << "Windows directory '" << other << "'";
  }
}

// Each failing call loses what depends on it, no more. A fixed clock: 1999 is logged as "99".
TEST_F(LogTest, HostFailedCallsLoseLinesButNeverWhatIsAlreadyLogged) {
  winsim::SetFault("CreateDirectoryA", 1, ERROR_ACCESS_DENIED);
  InitLog();
  EXPECT_STREQ(LogFolderPath, "C:\\_pw") << "kept for the temporary folder";
  EXPECT_STREQ(LogFilePath, "");
  EXPECT_FALSE(LogReady);
  WriteLog("lost", nullptr, 0);
  EXPECT_FALSE(TestMachine::Exists("C:\\_pw"));

  // A log file that can't be created is tried again by each line.
  FailNext("CreateFileA", ERROR_ACCESS_DENIED);
  InitLog();
  EXPECT_STREQ(LogFilePath, kLogFile);
  EXPECT_FALSE(LogReady);
  machine.SetSetting("clock", "utc", "1999-12-31 23:59:58.007");
  WriteLog("made by the line", nullptr, 0);
  InitLog();
  EXPECT_TRUE(LogReady) << "InitLog was not done yet, so it runs again";

  // A line that can't reach the end is dropped, not written over the first.
  FailNext("SetFilePointer", ERROR_NEGATIVE_SEEK);
  WriteLog("would overwrite the first", nullptr, 0);
  machine.SetSetting("clock", "utc", "2005-05-06 21:35:43.015");
  WriteLog("third", nullptr, 0);
  EXPECT_EQ(Raw(),
            "31-12-99 23:59:58.007 [0] made by the line \r\n"
            "06-05-05 21:35:43.015 [0] third \r\n");
}

// Missing function or library: no record at all. Present but failing: an all-zero record, still
// passed on. The record itself can't be allocated: none. ADVAPI32 is released whenever loaded.
TEST_F(LogTest, HostSecurityFunctionsMissingOrFailing) {
  const struct {
    const char* missingFrom;  // a machine setting's section, or null for a failing call
    const char* name;
    bool record;
  } cases[] = {{"functions", "SetSecurityDescriptorDacl", false},
               {"functions", "InitializeSecurityDescriptor", false},
               {"libraries", "advapi32.dll", false},
               {nullptr, "InitializeSecurityDescriptor", true},
               {nullptr, "SetSecurityDescriptorDacl", true},
               {nullptr, "LocalAlloc", false}};
  for (const auto& c : cases) {
    if (c.missingFrom) machine.SetSetting(c.missingFrom, "missing", c.name);
    if (!c.missingFrom) winsim::SetFault(c.name, 1, ERROR_INVALID_PARAMETER);
    LPSECURITY_ATTRIBUTES sa = CreateOpenAccessSecurity();
    EXPECT_EQ(sa != nullptr, c.record) << c.name;
    EXPECT_TRUE(!sa || (!sa->nLength && !sa->lpSecurityDescriptor && !sa->bInheritHandle))
        << c.name;
    EXPECT_EQ(winsim::CallCount("FreeLibrary"), c.name == std::string("advapi32.dll") ? 0u : 1u)
        << c.name;
    FreeOpenAccessSecurity(sa);
    if (c.missingFrom) machine.SetSetting(c.missingFrom, "missing", "");
    winsim::ClearFaults();
  }
  machine.SetSetting("libraries", "missing", "advapi32.dll");
  InitLog();
  EXPECT_TRUE(LogReady) << "default security is enough for the log";
}

#endif
