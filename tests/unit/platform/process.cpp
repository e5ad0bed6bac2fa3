/* Processes started by CreateProcessA, and named events that live while any process holds them. */

#include "tests/unit/platform/file_helpers.h"

TEST(Process, ChildrenGetTheirCommandLineFolderAndExitCodeAndShareNamedEvents) {
  TestMachine machine;
  const std::string out = machine.Path("report.txt");
  const std::string line = "\"" + ChildProgram() + "\"  report  \"" + out + "\" 0x12345678";
  ChildProcess child;
  ASSERT_TRUE(child.Start(line, machine.Dir().c_str())) << GetLastError();
  EXPECT_EQ(child.Wait(), 0x12345678u);
  const std::string report = Read(out);
  const size_t eol = report.find('\n');
  EXPECT_EQ(report.substr(0, eol), line);
  EXPECT_EQ(lstrcmpiA(report.substr(eol + 1).c_str(), (machine.Dir() + "\n").c_str()), 0) << report;

  // Failed starts give Windows' errors (a missing program: fileops' ProcessesTest).
  ChildProcess failed;
  EXPECT_TRUE(FAILS_WITH(failed.Start("\"" + machine.Path("none\\missing.exe") + "\""), false,
                         ERROR_FILE_NOT_FOUND))
      << "searched for, not opened";
  EXPECT_TRUE(
      FAILS_WITH(failed.Start("\"" + ChildProgram() + "\"", machine.Path("no folder").c_str()),
                 false, ERROR_DIRECTORY));

  // A named event exists while any process holds it.
  const std::string name = "PwTestEvent-" + std::to_string(GetCurrentProcessId());
  auto existed = [&] {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
    bool result = event && GetLastError() == ERROR_ALREADY_EXISTS;
    if (event) CloseHandle(event);
    return result;
  };
  {
    HeldByChild held(machine.Dir(), "event " + name);
    ASSERT_EQ(held.Ready(), "new");
    EXPECT_TRUE(existed());
  }
  HANDLE mine = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
  EXPECT_NE(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS) << "gone with its last holder";
  HeldByChild other(machine.Dir(), "event " + name);
  EXPECT_EQ(other.Ready(), "exists") << "and seen by another process while this one holds it";
  other.Release();
  EXPECT_TRUE(existed());
  CloseHandle(mine);
}
