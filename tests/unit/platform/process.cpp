/*
 * Processes, named events, share modes across processes, folder listings, copies, temporary
 * names and folder removal; and, on the host, the machine's version, token and restart settings.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "platform/win32.h"
#include "tests/support/child_process.h"
#include "tests/support/test_machine.h"
#include "tests/support/win32_checks.h"
#ifndef _WIN32
#include "platform/posix/winsim.h"
#endif

namespace {

bool SameNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return toupper((unsigned char)x) == toupper((unsigned char)y);
         });
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

class ProcessTest : public ::testing::Test {
 protected:
  TestMachine machine;
};

}  // namespace

TEST_F(ProcessTest, ChildGetsTheExactCommandLineFolderAndFullExitCode) {
  std::string out = machine.Path("report.txt");
  std::string line = Quoted(ChildProgram()) + "  report  \"" + out + "\" 0x12345678";
  ChildProcess child;
  ASSERT_TRUE(child.Start(line, machine.Dir().c_str())) << GetLastError();
  EXPECT_EQ(child.Wait(), 0x12345678u);
  std::string report;
  ASSERT_TRUE(TestMachine::ReadBytes(out, &report));
  size_t eol = report.find('\n');
  EXPECT_EQ(report.substr(0, eol), line);
  EXPECT_TRUE(SameNoCase(report.substr(eol + 1), machine.Dir() + "\n")) << report;
}

TEST_F(ProcessTest, StartFailuresGiveWindowsErrors) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::string missing = Quoted(machine.Path("missing.exe"));
  EXPECT_TRUE(FAILS_WITH(CreateProcessA(nullptr, &missing[0], nullptr, nullptr, FALSE, 0, nullptr,
                                        nullptr, &startup, &info),
                         FALSE, ERROR_FILE_NOT_FOUND));
  std::string inMissingFolder = Quoted(machine.Path("none\\missing.exe"));
  EXPECT_TRUE(FAILS_WITH(CreateProcessA(nullptr, &inMissingFolder[0], nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &info),
                         FALSE, ERROR_FILE_NOT_FOUND))
      << "searched for, not opened";
  std::string child = Quoted(ChildProgram());
  EXPECT_TRUE(FAILS_WITH(CreateProcessA(nullptr, &child[0], nullptr, nullptr, FALSE, 0, nullptr,
                                        machine.Path("no folder").c_str(), &startup, &info),
                         FALSE, ERROR_DIRECTORY));
}

TEST_F(ProcessTest, NamedEventExistsWhileAnyProcessHoldsIt) {
  std::string name = "PwTestEvent-" + std::to_string(GetCurrentProcessId());
  {
    HeldByChild held(machine.Dir(), "event " + name);
    ASSERT_EQ(held.Ready(), "new");
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    ASSERT_NE(event, nullptr);
    CloseHandle(event);
  }
  HANDLE mine = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
  EXPECT_NE(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS) << "gone with its last holder";
  HeldByChild other(machine.Dir(), "event " + name);
  EXPECT_EQ(other.Ready(), "exists") << "and seen by another process while this one holds it";
  other.Release();
  HANDLE again = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
  CloseHandle(again);
  CloseHandle(mine);
}

TEST_F(ProcessTest, ShareModesHoldAcrossProcesses) {
  std::string file = machine.Path("held.dat");
  ASSERT_TRUE(TestMachine::WriteBytes(file, "content"));
  {
    HeldByChild held(machine.Dir(), "file \"" + file + "\" 0x40000000 0");
    ASSERT_EQ(held.Ready(), "ok");
    EXPECT_TRUE(
        FAILS_WITH(CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr),
                   INVALID_HANDLE_VALUE, ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(FAILS_WITH(DeleteFileA(file.c_str()), FALSE, ERROR_SHARING_VIOLATION));
    ASSERT_TRUE(TestMachine::WriteBytes(machine.Path("new.dat"), "new"));
    EXPECT_TRUE(FAILS_WITH(CopyFileA(machine.Path("new.dat").c_str(), file.c_str(), FALSE), FALSE,
                           ERROR_SHARING_VIOLATION));
  }
  std::string content;
  ASSERT_TRUE(TestMachine::ReadBytes(file, &content));
  EXPECT_EQ(content, "content") << "the refused copy left the target alone";
  {
    HeldByChild reader(machine.Dir(), "file \"" + file + "\" 0x80000000 1");
    ASSERT_EQ(reader.Ready(), "ok");
    HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << "readers that share reading coexist";
    CloseHandle(h);
    EXPECT_TRUE(FAILS_WITH(CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr),
                           INVALID_HANDLE_VALUE, ERROR_SHARING_VIOLATION));
  }
  EXPECT_TRUE(DeleteFileA(file.c_str())) << "free once the other process let go";
}

TEST_F(ProcessTest, CopyFileRespectsExistingAndReadOnlyTargets) {
  std::string from = machine.Path("from.txt"), to = machine.Path("to.txt");
  ASSERT_TRUE(TestMachine::WriteBytes(from, "fresh"));
  ASSERT_TRUE(TestMachine::WriteBytes(to, "old"));
  EXPECT_TRUE(FAILS_WITH(CopyFileA(from.c_str(), to.c_str(), TRUE), FALSE, ERROR_FILE_EXISTS));
  std::string content;
  if (ReadOnlyIsEnforced(machine.Dir())) {
    ASSERT_TRUE(SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(FAILS_WITH(CopyFileA(from.c_str(), to.c_str(), FALSE), FALSE, ERROR_ACCESS_DENIED));
    ASSERT_TRUE(TestMachine::ReadBytes(to, &content));
    EXPECT_EQ(content, "old");
    ASSERT_TRUE(SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_NORMAL));
  }
  EXPECT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE));
  ASSERT_TRUE(TestMachine::ReadBytes(to, &content));
  EXPECT_EQ(content, "fresh");
  EXPECT_TRUE(FAILS_WITH(CopyFileA(machine.Path("missing").c_str(), to.c_str(), FALSE), FALSE,
                         ERROR_FILE_NOT_FOUND));
}

TEST_F(ProcessTest, ListingsShowDotEntriesAndEndWithNoMoreFiles) {
  ASSERT_TRUE(CreateDirectoryA(machine.Path("sub").c_str(), nullptr));
  ASSERT_TRUE(TestMachine::WriteBytes(machine.Path("sub\\a.txt"), "a"));
  ASSERT_TRUE(TestMachine::WriteBytes(machine.Path("sub\\NoDot"), "bb"));
  ASSERT_TRUE(CreateDirectoryA(machine.Path("sub\\inner").c_str(), nullptr));
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(machine.Path("sub\\*.*").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  std::set<std::string> names;
  do {
    names.insert(data.cFileName);
    if (std::string(data.cFileName) == "NoDot") {
      EXPECT_EQ(data.nFileSizeLow, 2u);
    }
    if (std::string(data.cFileName) == "inner") {
      EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    }
  } while (FindNextFileA(find, &data));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
  EXPECT_TRUE(FindClose(find));
  EXPECT_EQ(names, (std::set<std::string>{".", "..", "a.txt", "NoDot", "inner"}));

  EXPECT_TRUE(FAILS_WITH(FindFirstFileA(machine.Path("sub\\*.zip").c_str(), &data),
                         INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(FAILS_WITH(FindFirstFileA(machine.Path("none\\*.*").c_str(), &data),
                         INVALID_HANDLE_VALUE, ERROR_PATH_NOT_FOUND));
}

TEST_F(ProcessTest, FoldersAreRemovedOnlyWhenEmpty) {
  std::string dir = machine.Path("d");
  ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  ASSERT_TRUE(TestMachine::WriteBytes(dir + "\\f", "x"));
  EXPECT_TRUE(FAILS_WITH(RemoveDirectoryA(dir.c_str()), FALSE, ERROR_DIR_NOT_EMPTY));
  EXPECT_TRUE(FAILS_WITH(RemoveDirectoryA((dir + "\\f").c_str()), FALSE, ERROR_DIRECTORY));
  ASSERT_TRUE(DeleteFileA((dir + "\\f").c_str()));
  EXPECT_TRUE(RemoveDirectoryA(dir.c_str()));
  EXPECT_FALSE(TestMachine::Exists(dir));
}

TEST_F(ProcessTest, TempNamesWithANumberAreOnlyFormed) {
  char name[MAX_PATH];
  EXPECT_EQ(GetTempFileNameA(machine.Dir().c_str(), "PWSX", 0x1234ABCD, name), 0xABCDu);
  EXPECT_TRUE(SameNoCase(name, machine.Dir() + "\\PWSABCD.tmp")) << name;
  EXPECT_FALSE(TestMachine::Exists(name));
  char temp[MAX_PATH];
  DWORD length = GetTempPathA(sizeof temp, temp);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(temp[length - 1], '\\');
  EXPECT_EQ(GetTempPathA(2, temp), length + 1) << "the size needed";
}

#ifndef _WIN32

TEST_F(ProcessTest, HostVersionFollowsTheMachine) {
  OSVERSIONINFOEXA ex = {};
  ex.dwOSVersionInfoSize = sizeof ex;
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)));
  EXPECT_EQ(ex.dwMajorVersion * 256 + ex.dwMinorVersion, 0x501u) << "the default machine";
  EXPECT_EQ(ex.dwPlatformId, (DWORD)VER_PLATFORM_WIN32_NT);
  machine.SetSetting("windows", "version", "98");
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)));
  EXPECT_EQ(ex.dwPlatformId, (DWORD)VER_PLATFORM_WIN32_WINDOWS);
  EXPECT_EQ(ex.dwMinorVersion, 10u);
  machine.SetSetting("windows", "extended", "no");
  EXPECT_FALSE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)));
  OSVERSIONINFOA plain = {};
  plain.dwOSVersionInfoSize = sizeof plain;
  EXPECT_TRUE(GetVersionExA(&plain)) << "the plain record is still accepted";
  plain.dwOSVersionInfoSize = 100;
  EXPECT_TRUE(FAILS_WITH(GetVersionExA(&plain), FALSE, ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(ProcessTest, HostTokenGroupsTellTheSizeTheyNeed) {
  machine.SetSetting("security", "groups", "60");
  HMODULE advapi = GetModuleHandleA("advapi32.dll");
  auto open = ProcAs<OpenProcessTokenFn>(GetProcAddress(advapi, "OpenProcessToken"));
  ASSERT_NE(open, nullptr);
  HANDLE token = nullptr;
  ASSERT_TRUE(open(GetCurrentProcess(), TOKEN_QUERY, &token));
  BYTE small[1024];
  DWORD needed = 0;
  EXPECT_TRUE(FAILS_WITH(GetTokenInformation(token, TokenGroups, small, sizeof small, &needed),
                         FALSE, ERROR_INSUFFICIENT_BUFFER));
  ASSERT_GT(needed, 1024u);
  std::string big(needed, '\0');
  ASSERT_TRUE(GetTokenInformation(token, TokenGroups, &big[0], needed, &needed));
  EXPECT_EQ(reinterpret_cast<TOKEN_GROUPS*>(&big[0])->GroupCount, 65u);
  CloseHandle(token);
}

TEST_F(ProcessTest, HostRestartNeedsThePrivilegeOnNtAndIsRecorded) {
  EXPECT_TRUE(FAILS_WITH(ExitWindowsEx(EWX_REBOOT, 0), FALSE, ERROR_PRIVILEGE_NOT_HELD));
  machine.SetSetting("windows", "version", "98");
  EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0)) << "the 95 family has no privileges";
  machine.SetSetting("shutdown", "refuse", "1223");
  EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT, 0));
  EXPECT_EQ(GetLastError(), 1223u);
  std::string record;
  ASSERT_TRUE(TestMachine::ReadBytes("Z:" + machine.Root() + "/state/reboot-requests", &record));
  EXPECT_EQ(record,
            "00000002\t00000000\trefused\n00000002\t00000000\taccepted\n"
            "00000002\t00000000\trefused\n");
}

#endif
