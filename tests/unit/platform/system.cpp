/* The Windows folder, the module path, DLLs and their functions, the local heap and the clock;
 * on the host also settings, versions, the restart privilege, fault knobs and message boxes. */

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

#include "tests/unit/platform/file_helpers.h"

#ifndef _WIN32
#include <unistd.h>

#include <optional>

#endif

namespace {

// Days from 1601-01-01 to a date of the Gregorian calendar, counted the slow, obvious way.
long long DaysSince1601(int year, int month, int day) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  auto leap = [](int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
  long long days = day - 1;
  for (int y = 1601; y < year; ++y) days += leap(y) ? 366 : 365;
  for (int m = 1; m < month; ++m) days += kDays[m - 1] + (m == 2 && leap(year));
  return days;
}

// GetModuleFileNameA(NULL) or GetWindowsDirectoryA into a roomy buffer, cut to the length given.
std::string SystemPath(bool module) {
  char buf[MAX_PATH];
  DWORD n =
      module ? GetModuleFileNameA(nullptr, buf, sizeof buf) : GetWindowsDirectoryA(buf, sizeof buf);
  return std::string(buf, n < sizeof buf ? n : 0);
}
const bool kModule = true, kWindows = false;

}  // namespace

TEST(System, WindowsDirectoryAndModuleFileName) {
  TestMachine machine;
  UINT needed = GetWindowsDirectoryA(nullptr, 0);
  ASSERT_GT(needed, 3u);
  const std::string dir = SystemPath(kWindows);
  EXPECT_EQ(dir.size(), needed - 1) << "the length without the NUL when it fits";
  EXPECT_EQ(dir.substr(1, 2), ":\\");
  EXPECT_EQ(GetFileAttributesA(dir.c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            (DWORD)FILE_ATTRIBUTE_DIRECTORY);
  char exact[MAX_PATH];
  EXPECT_EQ(GetWindowsDirectoryA(exact, needed), needed - 1) << "room for the text and its NUL";
  EXPECT_EQ(exact, dir);
  std::memset(exact, 'x', sizeof exact);
  EXPECT_EQ(GetWindowsDirectoryA(exact, needed - 1), needed) << "one byte short";
  EXPECT_EQ(exact[0], 'x') << "nothing written when it does not fit";

  const std::string path = SystemPath(kModule);
  ASSERT_GT(path.size(), 3u);
  EXPECT_EQ(path.substr(1, 2), ":\\") << path;

  char small[] = "xxxxxx";
  EXPECT_TRUE(FAILS_WITH(GetModuleFileNameA(nullptr, small, 5), 5u, ERROR_INSUFFICIENT_BUFFER))
      << "a cut path answers the buffer's size";
  EXPECT_EQ(std::string(small, 4), path.substr(0, 4));
  // Windows (since Vista) ends the cut path with a NUL; Wine does not.
  EXPECT_TRUE(kWine || small[4] == '\0');
  EXPECT_EQ(small[5], 'x') << "nothing past the buffer";

  // Another program sees its own path: a copy of pw_child in the machine's folder.
  const std::string copy = machine.Path("Child.exe"), out = machine.Path("module.txt");
  ASSERT_TRUE(CopyFileA(ChildProgram().c_str(), copy.c_str(), FALSE));
  ChildProcess child;
  ASSERT_TRUE(child.Start("\"" + copy + "\" module \"" + out + "\""));
  EXPECT_EQ(child.Wait(), 0u);
  EXPECT_EQ(Read(out), copy);
}

TEST(System, LibrariesAndLookedUpFunctions) {
  TestMachine machine;
  for (const char* name : {"kernel32", "KERNEL32.DLL", "advapi32.dll", "User32", "comctl32.dll"})
    EXPECT_TRUE(FreeLibrary(LoadLibraryA(name))) << name << " loads and is freed";
  for (const char* missing : {"nosuchlibrary.dll", "kernel32.exe", (const char*)nullptr})
    EXPECT_TRUE(FAILS_WITH(LoadLibraryA(missing), nullptr, ERROR_MOD_NOT_FOUND))
        << (missing ? missing : "NULL");
  EXPECT_TRUE(
      FAILS_WITH(FreeLibrary(reinterpret_cast<HMODULE>(0x1230000)), FALSE, ERROR_MOD_NOT_FOUND));

  HMODULE advapi = LoadLibraryA("advapi32.dll");
  ASSERT_NE(advapi, nullptr);
  for (const char* name : {"NoSuchFunction", "initializesecuritydescriptor"})  // names are exact
    EXPECT_TRUE(FAILS_WITH(GetProcAddress(advapi, name), nullptr, ERROR_PROC_NOT_FOUND)) << name;

  auto init = ProcAs<InitializeSecurityDescriptorFn>(
      GetProcAddress(advapi, "InitializeSecurityDescriptor"));
  auto setDacl =
      ProcAs<SetSecurityDescriptorDaclFn>(GetProcAddress(advapi, "SetSecurityDescriptorDacl"));
  ASSERT_TRUE(init && setDacl);

  // Room for the descriptor of either world; the 32-bit form is 20 bytes.
  alignas(8) unsigned char sd[64] = {};
  EXPECT_TRUE(FAILS_WITH(setDacl(sd, TRUE, nullptr, FALSE), FALSE, ERROR_UNKNOWN_REVISION))
      << "not initialised";
  EXPECT_TRUE(FAILS_WITH(init(sd, 2), FALSE, ERROR_UNKNOWN_REVISION)) << "an unknown revision";

  std::memset(sd, 0xAB, sizeof sd);
  ASSERT_TRUE(init(sd, SECURITY_DESCRIPTOR_REVISION));
  EXPECT_EQ(sd[0], 1);
  for (int i = 1; i < (int)SECURITY_DESCRIPTOR_MIN_LENGTH; ++i) EXPECT_EQ(sd[i], 0) << "byte " << i;
  // A NULL DACL (access for everyone), defaulted, then none: only the present bit goes.
  for (auto [present, defaulted, control] :
       {std::make_tuple(TRUE, FALSE, 0x4), std::make_tuple(TRUE, TRUE, 0xC),
        std::make_tuple(FALSE, FALSE, 0x8)}) {
    EXPECT_TRUE(setDacl(sd, present, nullptr, defaulted));
    EXPECT_EQ(sd[2] | (sd[3] << 8), control) << present << defaulted;
  }
  FreeLibrary(advapi);
}

TEST(System, LocalHeapAndTheClock) {
  unsigned char* block = static_cast<unsigned char*>(LocalAlloc(LPTR, 300));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 300; ++i) ASSERT_EQ(block[i], 0) << "LMEM_ZEROINIT at " << i;
  block[299] = 1;
  EXPECT_EQ(LocalFree(block), nullptr);
  void* empty = LocalAlloc(LMEM_FIXED, 0);
  EXPECT_NE(empty, nullptr) << "a block of no bytes is still a block";
  EXPECT_EQ(LocalFree(empty), nullptr);
  EXPECT_EQ(LocalFree(nullptr), nullptr);

  // The clock agrees with itself.
  SYSTEMTIME st;
  FILETIME before, after;
  GetSystemTimeAsFileTime(&before);
  GetSystemTime(&st);
  GetSystemTimeAsFileTime(&after);
  EXPECT_GE(st.wYear, 2024);
  const long long days = DaysSince1601(st.wYear, st.wMonth, st.wDay);
  const unsigned long long ms =
      ((days * 24 + st.wHour) * 60 + st.wMinute) * 60000ull + st.wSecond * 1000 + st.wMilliseconds;
  EXPECT_LE(Ticks(before) / 10000, ms);
  EXPECT_LE(ms, Ticks(after) / 10000);
  EXPECT_EQ(st.wDayOfWeek, (days + 1) % 7) << "1601-01-01 was a Monday";
}

#ifndef _WIN32

TEST(SystemHost, SettingsOfTheMachineModulePathClockAndVersions) {
  std::optional<TestMachine> machine(std::in_place);
  machine->SetSetting("windows", "directory", "D:\\WINNT");
  EXPECT_EQ(SystemPath(kWindows), "D:\\WINNT") << "read afresh after a change";

  machine->SetSetting("libraries", "missing", "COMCTL32.DLL, advapi32");
  EXPECT_TRUE(FAILS_WITH(LoadLibraryA("comctl32"), nullptr, ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(LoadLibraryA("ADVAPI32.dll"), nullptr);
  EXPECT_NE(LoadLibraryA("kernel32"), nullptr);
  machine->SetSetting("libraries", "missing", "");

  HMODULE advapi = LoadLibraryA("advapi32");
  ASSERT_NE(advapi, nullptr);
  machine->SetSetting("functions", "missing", "SetSecurityDescriptorDacl");
  EXPECT_TRUE(FAILS_WITH(GetProcAddress(advapi, "SetSecurityDescriptorDacl"), nullptr,
                         ERROR_PROC_NOT_FOUND));
  EXPECT_NE(GetProcAddress(advapi, "InitializeSecurityDescriptor"), nullptr);
  EXPECT_TRUE(FAILS_WITH(GetProcAddress(LoadLibraryA("kernel32"), "InitializeSecurityDescriptor"),
                         nullptr, ERROR_PROC_NOT_FOUND))
      << "found only in its own DLL";
  EXPECT_TRUE(FAILS_WITH(GetProcAddress(nullptr, "InitializeSecurityDescriptor"), nullptr,
                         ERROR_MOD_NOT_FOUND));

  // A program outside the machine is under Z:; a played one is the image it was given.
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
  std::string expected = "Z:" + std::string(exe, n > 0 ? n : 0);
  std::replace(expected.begin(), expected.end(), '/', '\\');
  EXPECT_EQ(SystemPath(kModule), expected);
  setenv("WINSIM_MODULE", "C:\\Setup\\setup.exe", 1);
  EXPECT_EQ(SystemPath(kModule), "C:\\Setup\\setup.exe");
  unsetenv("WINSIM_MODULE");

  // The fixed clock, as GetSystemTime's fields.
  auto now = [] {
    SYSTEMTIME st;
    GetSystemTime(&st);
    return std::vector<WORD>{st.wYear, st.wMonth,  st.wDay,    st.wDayOfWeek,
                             st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
  };
  FILETIME ft;
  machine->SetSetting("clock", "utc", "2021-03-04 05:06:07.089");
  EXPECT_EQ(now(), (std::vector<WORD>{2021, 3, 4, 4, 5, 6, 7, 89})) << "a Thursday";
  GetSystemTimeAsFileTime(&ft);
  EXPECT_EQ(Ticks(ft), 132593079670890000ull);
  machine->SetSetting("clock", "utc", "2000-02-29 23:59:59");
  EXPECT_EQ(now(), (std::vector<WORD>{2000, 2, 29, 2, 23, 59, 59, 0}));
  machine->SetSetting("clock", "utc", "not a time");
  EXPECT_GE(now()[0], 2024) << "an unreadable setting leaves the real clock";

  // The versions themselves and the token's groups: fileops' SystemProbesTest; the refusal
  // machine.ini asks for and the restart requests: AskForReboot in fileops' ProcessesTest.
  machine->SetSetting("windows", "extended", "no");
  OSVERSIONINFOA plain = {};
  plain.dwOSVersionInfoSize = sizeof plain;
  EXPECT_TRUE(GetVersionExA(&plain)) << "the plain record is still accepted";
  EXPECT_EQ(plain.dwMajorVersion * 256 + plain.dwMinorVersion, 0x501u) << "the default machine";
  plain.dwOSVersionInfoSize = 100;
  EXPECT_TRUE(FAILS_WITH(GetVersionExA(&plain), FALSE, ERROR_INSUFFICIENT_BUFFER));

  EXPECT_TRUE(FAILS_WITH(ExitWindowsEx(EWX_REBOOT, 0), FALSE, ERROR_PRIVILEGE_NOT_HELD));
  machine->SetSetting("windows", "version", "98");
  EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0)) << "the 95 family has no privileges";

  machine.emplace();
  EXPECT_EQ(SystemPath(kWindows), "C:\\WINDOWS") << "a setting of one machine leaks into the next";
}

TEST(SystemHost, FaultKnobsAndMessageBoxes) {
  TestMachine machine;
  const std::string log = "Z:" + machine.Root() + "/state/messagebox.log";
  winsim::SetFault("LoadLibraryA", 2, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_NE(LoadLibraryA("kernel32"), nullptr);
  EXPECT_TRUE(FAILS_WITH(LoadLibraryA("kernel32"), nullptr, ERROR_NOT_ENOUGH_MEMORY)) << "call 2";
  EXPECT_NE(LoadLibraryA("kernel32"), nullptr) << "the third works again";
  EXPECT_EQ(winsim::CallCount("LoadLibraryA"), 3u);

  // Each function fails with its own failure value and the chosen code.
  char buf[MAX_PATH];
  winsim::SetFault("FormatMessageA", 1, ERROR_OUTOFMEMORY);
  EXPECT_TRUE(FAILS_WITH(
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, buf, sizeof buf, nullptr), 0u,
      ERROR_OUTOFMEMORY));
  winsim::SetFault("MessageBoxA", 1, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_OK), 0);
  EXPECT_FALSE(TestMachine::Exists(log)) << "a refused box shows nothing";

  HMODULE advapi = LoadLibraryA("advapi32");
  winsim::SetFault("GetProcAddress", winsim::CallCount("GetProcAddress") + 1, ERROR_PROC_NOT_FOUND,
                   true);
  EXPECT_EQ(GetProcAddress(advapi, "InitializeSecurityDescriptor"), nullptr);
  winsim::ClearFaults();
  EXPECT_NE(GetProcAddress(advapi, "InitializeSecurityDescriptor"), nullptr) << "cleared";

  // WINSIM_FAULTS sets knobs for a whole process from its start; ClearFaults removes them too.
  const std::string out = machine.Path("calls.txt");
  setenv("WINSIM_FAULTS", "LoadLibraryA#2=8,GetWindowsDirectoryA#1+=5", 1);
  ChildProcess child;
  const bool started = child.Start("\"" + ChildProgram() + "\" calls \"" + out + "\"");
  unsetenv("WINSIM_FAULTS");
  ASSERT_TRUE(started);
  EXPECT_EQ(child.Wait(), 0u);
  EXPECT_EQ(Read(out), "ok 8 5 5 5 ok ");

  EXPECT_EQ(
      MessageBoxA(nullptr, "Line one\nback\\slash\ttab\r", "Pondwick Setup", MB_OK | MB_ICONERROR),
      IDOK);
  EXPECT_EQ(MessageBoxA(nullptr, "Continue?", nullptr, MB_YESNO | MB_ICONQUESTION), IDYES);
  EXPECT_EQ(Read(log),
            "00000010\t1\tPondwick Setup\tLine one\\nback\\\\slash\\ttab\\r\n"
            "00000024\t6\tError\tContinue?\n");

  // Unscripted boxes get the button Enter would press: the second (0x100) where there is one,
  // the first where a third (0x200) is named that the box lacks.
  const std::pair<UINT, int> defaults[] = {
      {MB_OK, IDOK},           {MB_OKCANCEL, IDOK}, {MB_ABORTRETRYIGNORE, IDABORT},
      {MB_YESNOCANCEL, IDYES}, {MB_YESNO, IDYES},   {MB_RETRYCANCEL, IDRETRY},
      {0x104, IDNO},           {0x200, IDOK}};
  for (auto [type, answer] : defaults)
    EXPECT_EQ(MessageBoxA(nullptr, "x", "y", type), answer) << std::hex << type;

  // Scripted answers are used in order and consumed.
  const std::string answers = "Z:" + machine.Root() + "/state/messagebox-answers";
  ASSERT_TRUE(TestMachine::WriteBytes(answers, "7\n\n2\n"));
  ASSERT_TRUE(TestMachine::WriteBytes(log, ""));
  EXPECT_EQ(MessageBoxA(nullptr, "Retry?", "Setup", MB_YESNO), IDNO);
  EXPECT_EQ(Read(answers), "\n2\n");
  EXPECT_EQ(MessageBoxA(nullptr, "Cancel?", "Setup", MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(MessageBoxA(nullptr, "Done", "Setup", MB_OK), IDOK) << "the script has run out";
  EXPECT_EQ(Read(log),
            "00000004\t7\tSetup\tRetry?\n00000001\t2\tSetup\tCancel?\n00000000\t1\tSetup\tDone\n");

  // Without a machine the box goes to stderr and gets its default.
  unsetenv("WINSIM_ROOT");
  EXPECT_EQ(MessageBoxA(nullptr, "nowhere", "Setup", MB_RETRYCANCEL), IDRETRY);
  setenv("WINSIM_ROOT", machine.Root().c_str(), 1);
}

#endif
