/* The host's Windows version records and the restart of Windows, as machine.ini sets them. */
#ifndef _WIN32

#include <gtest/gtest.h>

#include "platform/win32.h"
#include "tests/support/test_machine.h"
#include "tests/support/win32_checks.h"

// The versions themselves and the token's groups are seen through the probes that read them
// (fileops' SystemProbesTest), the refusal machine.ini asks for and the record of restart
// requests through AskForReboot (fileops' ProcessesTest); here, what those leave out.
TEST(SecurityHost, VersionRecordsAndTheRestartPrivilege) {
  TestMachine machine;
  machine.SetSetting("windows", "extended", "no");
  OSVERSIONINFOA plain = {};
  plain.dwOSVersionInfoSize = sizeof plain;
  EXPECT_TRUE(GetVersionExA(&plain)) << "the plain record is still accepted";
  EXPECT_EQ(plain.dwMajorVersion * 256 + plain.dwMinorVersion, 0x501u) << "the default machine";
  plain.dwOSVersionInfoSize = 100;
  EXPECT_TRUE(FAILS_WITH(GetVersionExA(&plain), FALSE, ERROR_INSUFFICIENT_BUFFER));

  EXPECT_TRUE(FAILS_WITH(ExitWindowsEx(EWX_REBOOT, 0), FALSE, ERROR_PRIVILEGE_NOT_HELD));
  machine.SetSetting("windows", "version", "98");
  EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0)) << "the 95 family has no privileges";
}

#endif
