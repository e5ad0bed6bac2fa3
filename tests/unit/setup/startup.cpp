/* Start-up: the option search, the command-line tail, the IE test and the steps in order; and the
 * setup program itself, as another process, where this process cannot stand in for it. */
#include "setup/startup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

#include "setup/product_names.h"
#include "support/log.h"
#include "support/report.h"
#include "tests/support/child_process.h"
#include "tests/support/log_reader.h"
#include "tests/support/message_boxes.h"
#include "tests/support/test_machine.h"
#ifndef _WIN32
#include "platform/posix/winsim.h"
#endif

namespace {

const char kEvent[] = "{6F2A9C41-0B7E-4D3A-9E15-C84B27D03A6E}-PwSetup", kLog[] = "C:\\_pw\\_pw.log";
const int kSequenceResult = (int)0x80070020;  // FakeRunSfx's

// What the installation sequence saw when start-up called it.
struct Seen {
  int calls = 0;
  std::string tail;
  bool eventHeld = false;
} g_seen;

bool EventExists() {
  HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, kEvent);
  bool exists = GetLastError() == ERROR_ALREADY_EXISTS;
  CloseHandle(probe);
  return exists;
}

HRESULT FakeRunSfx(char* tail) {
  g_seen = {g_seen.calls + 1, tail, EventExists()};
  return kSequenceResult;
}

#ifdef _WIN32
DWORD g_childId, g_childWindows;

// Counts the child's visible windows; a box among them is answered, so that the child can end.
BOOL CALLBACK CountWindow(HWND window, LPARAM) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == g_childId && IsWindowVisible(window)) {
    g_childWindows++;
    PostMessageA(window, WM_COMMAND, IDOK, 0);
  }
  return TRUE;
}
#endif

#ifndef _WIN32
// Internet Explorer's version value, of size bytes (its text and terminator unless given); no
// value without a version, and no key at all with REG_NONE.
void SetIeVersion(const char* version, DWORD type = REG_SZ, DWORD size = 0) {
  const char* ie = "Software\\Microsoft\\Internet Explorer";
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, ie);
  std::string text = version ? version : "";
  if (type != REG_NONE)
    SetValue(HKEY_LOCAL_MACHINE, ie, "Version", type, size ? text.substr(0, size) : text + '\0');
  if (!version) DeleteValue(HKEY_LOCAL_MACHINE, ie, "Version");
}
#endif

// Each case starts as a fresh process: no flags, no log (under Wine the real C:\_pw is cleared).
class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
#ifndef _WIN32
    SetIeVersion("6.0.2900.2180");  // as Wine's prefix has its own
#endif
  }
  void TearDown() override { Reset(); }
  void Reset() {
    g_seen = Seen();
    SilentMode = ForceReboot = LogReady = false;
    LogFilePath[0] = LogFolderPath[0] = '\0';
#ifdef _WIN32
    std::error_code ec;
    std::filesystem::remove_all("C:\\_pw", ec);
#endif
  }
  int Run(const std::string& tail) {
    buffer_ = tail;
    return SetupMain(&buffer_[0], FakeRunSfx);
  }
  TestMachine machine;
  std::string buffer_;
};

}  // namespace

TEST(StartupParsingTest, OptionsTailAndInternetExplorerVersion) {
  // An option is found in any case, anywhere, never past the end; the text is left as it was.
  char text[] = "/home=C:\\x /SILENTly /Reboot", question[] = "x/?y", empty[] = "";
  for (auto [option, at] : std::vector<std::pair<const char*, int>>{
           {"/silent", 11}, {"/reboot", 21}, {"/help", -1}, {"/Reboot ", -1}})
    EXPECT_EQ(FindStringNoCase(text, option), at < 0 ? nullptr : text + at) << option;
  for (auto [in, at] :
       std::vector<std::pair<char*, int>>{{question, 1}, {empty, -1}, {nullptr, -1}})
    EXPECT_EQ(FindStringNoCase(in, "/?"), at < 0 ? nullptr : in + at) << at;
  EXPECT_STREQ(text, "/home=C:\\x /SILENTly /Reboot");

  for (auto [line, tail] :
       {std::make_pair("\"C:\\Program Files\\setup.exe\"  /silent /x", "/silent /x"),
        std::make_pair("setup.exe\t /reboot", "/reboot"),
        std::make_pair("\"C:\\a b\\setup.exe\"/help", "/help"),
        std::make_pair("\"unclosed name /silent", ""), std::make_pair("setup.exe", ""),
        std::make_pair("setup.exe \x01\x1f /x", "/x")}) {
    std::string text = line;
    EXPECT_STREQ(CommandLineTail(&text[0]), tail) << line;
  }

  // Of IE's version, the leading number counts.
  for (const char* ok : {"5.00.2920.0000", "6.0.2900.2180", "9.11.9600.1", "10.0", "11.0.1", "5"})
    EXPECT_TRUE(InternetExplorerVersionPasses(ok)) << ok;
  for (const char* no : {"4.72.3110.8", "", "x", "A.0", " 6.0", "0.5", "04.0", "00", "4a.0"})
    EXPECT_FALSE(InternetExplorerVersionPasses(no)) << no;
}

TEST_F(StartupTest, HelpComesBeforeEverythingElseThenARunSetsTheFlagsAndHandsTheTailOn) {
  MessageBoxWatch boxes;
  EXPECT_EQ(Run("/silent /x/?y"), 0);
  EXPECT_EQ(std::make_tuple(g_seen.calls, SilentMode, TestMachine::Exists(kLog), EventExists()),
            std::make_tuple(0, false, false, false))
      << "no sequence, no flags, no log, no event left behind";
  auto shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, "Pondwick Install/Uninstall command-line switches");
  EXPECT_EQ(shown[0].text.substr(0, 32), "Common command-line parameters:\n");
#ifndef _WIN32
  EXPECT_EQ(shown[0].style, (UINT)MB_ICONINFORMATION);
  EXPECT_EQ(shown[0].text.size(), 338u);
  EXPECT_EQ(shown[0].text.substr(shown[0].text.size() - 39),
            "  /gator - import user data from Gator\n");
#endif

  for (auto [tail, silent, reboot] : {std::make_tuple("/Silent /REBOOTNOW /home=x", true, true),
                                      std::make_tuple("", false, false)}) {
    Reset();
    EXPECT_EQ(Run(tail), kSequenceResult);
    EXPECT_EQ(std::make_tuple(SilentMode, ForceReboot, g_seen.calls, g_seen.tail),
              std::make_tuple(silent, reboot, 1, std::string(tail)));
    EXPECT_TRUE(g_seen.eventHeld) << "the event lives while the sequence runs";
    EXPECT_FALSE(EventExists()) << "and is closed after it";
    std::vector<std::string> lines = LogEntries(kLog);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("[0] IE ", 0), 0u) << lines[0];
    EXPECT_NE(lines[1].find("] Admin rights -  YES"), std::string::npos) << lines[1];
  }
}

// A second setup exits at once, and with a failure (nothing was installed: never 0); it leaves
// the running one's log alone, and when silent (the setup program here) shows no window at all.
TEST_F(StartupTest, ASecondSetupExitsAtOnceAndLeavesTheRunningOnesLogAlone) {
  HeldByChild running(machine.Dir(), std::string("event ") + kEvent);
  ASSERT_EQ(running.Ready(), "new");
  CreateDirectoryA("C:\\_pw", nullptr);
  ASSERT_TRUE(TestMachine::WriteBytes(kLog, "the running setup's log"));
  MessageBoxWatch boxes;
  EXPECT_EQ(Run(""), (int)0x800700B7);
  EXPECT_EQ(g_seen.calls, 0);
  ChildProcess setup;
  ASSERT_TRUE(setup.Start("\"" + SetupProgram() + "\" /silent"));
#ifdef _WIN32
  g_childId = setup.Id();
  for (int i = 0; i < 3000 && setup.Wait(0) == STILL_ACTIVE; ++i) {
    EnumWindows(CountWindow, 0);
    Sleep(10);
  }
  EXPECT_EQ(g_childWindows, 0u);
#endif
  EXPECT_EQ(setup.Wait(), 0x800700B7u);
  auto shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 1u) << "this process's box only";
  EXPECT_EQ(shown[0].text,
            "Pondwick Setup is already running. Please, finish the previous setup before running "
            "a new one. \r\n");
  std::string log;
  EXPECT_TRUE(TestMachine::ReadBytes(kLog, &log) && log == "the running setup's log") << log;
}

#ifndef _WIN32

TEST_F(StartupTest, HostInternetExplorerVersionAndAdministratorLines) {
  const std::string nines(128, '9'), six = "6." + std::string(125, '0'),
                                     stop =
                                         "[0] Pondwick requires Internet Explorer 5.0 or "
                                         "higher. Please, update IE and run Setup again. ";
  struct Case {
    const char *value, *seen;              // the registry value (null: none) and the version logged
    DWORD type, size;                      // REG_NONE: no key; size 0: the text and its terminator
    const char *admin, *windows, *second;  // second: the line after the IE one; null: stopped
  } cases[] = {
      {"4.72.3110.8", "4.72.3110.8", REG_SZ, 0, "yes", "5.1", nullptr},
      // Read as text, without a terminator.
      {"6.0", "6.0", REG_BINARY, 3, "yes", "5.1", "[501] Admin rights -  YES"},
      {nullptr, "", REG_SZ, 0, "yes", "5.1", nullptr},
      {nullptr, "", REG_NONE, 0, "yes", "5.1", nullptr},
      {"", "", REG_SZ, 0, "yes", "5.1", nullptr},
      // A value that fills the whole buffer without a terminator counts as missing; with it,
      // the value is read whole.
      {nines.c_str(), "", REG_BINARY, 128, "yes", "5.1", nullptr},
      {six.c_str(), six.c_str(), REG_SZ, 0, "yes", "5.1", "[501] Admin rights -  YES"},
      // A non-administrator passes, and is logged; the 95 family is all administrators.
      {"6.0", "6.0", REG_SZ, 0, "no", "5.1", "[501] Admin rights -  NO"},
      {"6.0", "6.0", REG_SZ, 0, "no", "98", "[40A] Admin rights -  YES"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.seen) + " " + c.admin + " " + c.windows);
    Reset();
    SetIeVersion(c.value, c.type, c.size);
    machine.SetSetting("security", "admin", c.admin);
    machine.SetSetting("windows", "version", c.windows);
    EXPECT_EQ(Run("/silent"), c.second ? kSequenceResult : kResultStopped);
    EXPECT_EQ(g_seen.calls, c.second ? 1 : 0);
    std::vector<std::string> lines = LogEntries(kLog);
    lines.resize(2);
    EXPECT_EQ(lines, (std::vector<std::string>{"[0] IE " + std::string(c.seen),
                                               c.second ? c.second : stop + c.seen}));
  }
}

#endif

TEST_F(StartupTest, DllSearchIsRestrictedToSystem32WhereTheSystemCan) {
  EXPECT_TRUE(RestrictDllSearch()) << "every supported test system has SetDefaultDllDirectories";
  char path[MAX_PATH];
  ASSERT_TRUE(SystemLibraryPath("comctl32.dll", path));
  EXPECT_STREQ(path, "comctl32.dll") << "the restricted search finds it in System32";
  EXPECT_NE(LoadSystemLibrary("comctl32.dll"), nullptr);
#ifndef _WIN32
  machine.SetSetting("functions", "missing", "SetDefaultDllDirectories");
  EXPECT_FALSE(RestrictDllSearch()) << "older Windows: the search stays as it is, quietly";
  // There a bare name would be looked for beside the setup first: the full path is given.
  ASSERT_TRUE(SystemLibraryPath("comctl32.dll", path));
  EXPECT_STREQ(path, "C:\\WINDOWS\\system32\\comctl32.dll");
  EXPECT_NE(LoadSystemLibrary("comctl32.dll"), nullptr);
  winsim::SetFault("GetSystemDirectoryA", winsim::CallCount("GetSystemDirectoryA") + 1,
                   ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(LoadSystemLibrary("comctl32.dll"), nullptr) << "no path, no load";
  winsim::ClearFaults();
  machine.SetSetting("windows", "directory", "C:\\" + std::string(240, 'W'));
  EXPECT_FALSE(SystemLibraryPath("comctl32.dll", path)) << "a path that does not fit is none";
  EXPECT_STREQ(path, "");
  machine.SetSetting("windows", "directory", "C:\\WINDOWS");
  machine.SetSetting("functions", "missing", "");
  winsim::SetFault("SetDefaultDllDirectories", 1, ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(RestrictDllSearch());
#endif
}
