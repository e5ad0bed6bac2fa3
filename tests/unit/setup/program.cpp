/*
 * The setup program itself, started as another process: the help box it shows, the second
 * instance that exits without a window, and the failure of a bare program that carries no
 * container behind its image.
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
  std::string title, text;
  int windows = 0;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
  auto* found = reinterpret_cast<Found*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != found->pid || !IsWindowVisible(window)) return TRUE;
  found->windows++;
  char cls[32] = "", title[256] = "", text[1024] = "";
  GetClassNameA(window, cls, sizeof cls);
  if (std::string(cls) != "#32770") return TRUE;
  GetWindowTextA(window, title, sizeof title);
  GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
  found->title = title;
  found->text = text;
  PostMessageA(window, WM_COMMAND, IDOK, 0);
  return FALSE;
}

// Watches the child's windows until it ends: the first message box is read and closed.
Found WatchChild(ChildProcess& child) {
  Found found;
  found.pid = child.Id();
  for (int i = 0; i < 3000 && child.Wait(0) == STILL_ACTIVE; ++i) {
    if (found.text.empty()) EnumWindows(FindBox, reinterpret_cast<LPARAM>(&found));
    Sleep(10);
  }
  return found;
}

#endif

}  // namespace

TEST(SetupProgramTest, HelpBoxIsShownFromTheCommandLine) {
  TestMachine machine;
  ChildProcess setup;
#ifndef _WIN32
  MessageBoxWatch boxes;
#endif
  ASSERT_TRUE(setup.Start("\"" + SetupProgram() + "\" /silent /?")) << GetLastError();
#ifdef _WIN32
  Found found = WatchChild(setup);
  EXPECT_EQ(found.title, "Pondwick Install/Uninstall command-line switches");
  EXPECT_EQ(found.text.substr(0, 31), "Common command-line parameters:");
#endif
  EXPECT_EQ(setup.Wait(), 0u);
#ifndef _WIN32
  auto shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, "Pondwick Install/Uninstall command-line switches");
#endif
}

TEST(SetupProgramTest, SilentSecondInstanceExitsWithoutAnyWindow) {
  TestMachine machine;
  HANDLE running = CreateEventA(nullptr, FALSE, FALSE, kEvent);
  ASSERT_NE(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
  MessageBoxWatch boxes;
  ChildProcess setup;
  ASSERT_TRUE(setup.Start("\"" + SetupProgram() + "\" /silent"));
#ifdef _WIN32
  Found found = WatchChild(setup);
  EXPECT_EQ(found.windows, 0);
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
