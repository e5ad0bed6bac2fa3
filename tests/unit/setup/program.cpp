/*
 * The setup program itself, started as another process: the second instance that exits without
 * a window, and the failure of a bare program that carries no container behind its image. (Its
 * help box is SetupMain's, in startup.cpp.)
 */
#include <gtest/gtest.h>

#include <string>

#include "tests/support/child_process.h"
#include "tests/support/message_boxes.h"
#include "tests/support/test_machine.h"

namespace {

const char kEvent[] = "{6F2A9C41-0B7E-4D3A-9E15-C84B27D03A6E}-PwSetup";

#ifdef _WIN32

struct Found {
  DWORD pid;
  int windows;
};

// Counts the child's visible windows; a box among them is answered, so that the child can end.
BOOL CALLBACK CountWindow(HWND window, LPARAM param) {
  auto* found = reinterpret_cast<Found*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != found->pid || !IsWindowVisible(window)) return TRUE;
  found->windows++;
  PostMessageA(window, WM_COMMAND, IDOK, 0);
  return TRUE;
}

// Watches the child until it ends: how many windows it showed (each counted while it stands).
int WatchChild(ChildProcess& child) {
  Found found = {child.Id(), 0};
  for (int i = 0; i < 3000 && child.Wait(0) == STILL_ACTIVE; ++i) {
    EnumWindows(CountWindow, reinterpret_cast<LPARAM>(&found));
    Sleep(10);
  }
  return found.windows;
}

#endif

}  // namespace

TEST(SetupProgramTest, SilentSecondInstanceExitsWithoutAnyWindow) {
  TestMachine machine;
  HANDLE running = CreateEventA(nullptr, FALSE, FALSE, kEvent);
  ASSERT_NE(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
  MessageBoxWatch boxes;
  ChildProcess setup;
  ASSERT_TRUE(setup.Start("\"" + SetupProgram() + "\" /silent"));
#ifdef _WIN32
  EXPECT_EQ(WatchChild(setup), 0);
#endif
  EXPECT_EQ(setup.Wait(), 0x800700B7u);
  EXPECT_TRUE(boxes.Boxes().empty());
  CloseHandle(running);
}

#ifndef _WIN32

TEST(SetupProgramTest, HostWithoutAContainerItReportsACorruptedSetupFile) {
  TestMachine machine;
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Internet Explorer", 0, nullptr, 0,
                  KEY_SET_VALUE, nullptr, &key, nullptr);
  RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("6.0"), 4);
  RegCloseKey(key);
  MessageBoxWatch boxes;
  ChildProcess setup;
  ASSERT_TRUE(setup.Start("\"" + SetupProgram() + "\""));
  EXPECT_EQ(setup.Wait(), 0x80004005u) << "E_FAIL, never success";
  auto shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text.rfind("Corrupted Setup File ", 0), 0u) << shown[0].text;
}

#endif
