/* The Windows version and administrator probes. */
#include "fileops/system_probes.h"

#include <gtest/gtest.h>

#include <tuple>

#include "tests/support/test_machine.h"
#ifndef _WIN32
#include "platform/posix/winsim.h"
#endif

TEST(SystemProbesTest, VersionsFamiliesAndAdminVerdicts) {
  TestMachine machine;
  EXPECT_EQ(IsWindowsNT(), 1);
  EXPECT_GE(GetWindowsVersion(), 0x500u);
  BOOL admin = 7;
  EXPECT_NE(CheckAdminRights(&admin), 0);
  EXPECT_TRUE(admin == 0 || admin == 1) << admin;
  EXPECT_EQ(CheckAdminRights(nullptr), 0);

#ifndef _WIN32
  struct Case {
    const char *admin, *missing, *groups;  // the functions missing; the token's extra groups
    BOOL preset, result, flag;
    unsigned tokenReads;
  } cases[] = {
      {"yes", "", "0", 0, 1, 1, 0},
      {"no", "", "0", 1, 1, 0, 0},
      {"yes", "CheckTokenMembership", "0", 0, 1, 1, 1},
      {"no", "CheckTokenMembership", "0", 1, 0, 1, 1},  // no verdict: the preset stands
      {"no", "CheckTokenMembership", "0", 0, 0, 0, 1},
      {"yes", "CheckTokenMembership", "60", 0, 1, 1, 2},  // read again, larger
      {"yes", "CheckTokenMembership,OpenProcessToken", "0", 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.admin) + " " + c.missing + " " + c.groups);
    machine.SetSetting("security", "admin", c.admin);
    machine.SetSetting("security", "groups", c.groups);
    machine.SetSetting("functions", "missing", c.missing);
    winsim::ClearFaults();
    BOOL flag = c.preset;
    EXPECT_EQ(CheckAdminRights(&flag), c.result);
    EXPECT_EQ(flag, c.flag);
    EXPECT_EQ(winsim::CallCount("GetTokenInformation"), c.tokenReads);
  }

  // The 95 family: everybody is an administrator, and no token is touched.
  machine.SetSetting("windows", "version", "98");
  winsim::ClearFaults();
  BOOL flag = 0;
  EXPECT_EQ(CheckAdminRights(&flag), 1);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(winsim::CallCount("AllocateAndInitializeSid"), 0u);
  machine.SetSetting("windows", "version", "5.1");

  machine.SetSetting("functions", "missing", "CheckTokenMembership");
  machine.SetSetting("security", "groups", "60");
  for (auto [function, nth] :
       {std::make_pair("AllocateAndInitializeSid", 1u), std::make_pair("OpenProcessToken", 1u),
        std::make_pair("GetTokenInformation", 1u), std::make_pair("GetTokenInformation", 2u),
        std::make_pair("LocalAlloc", 1u), std::make_pair("LocalAlloc", 2u)}) {
    winsim::ClearFaults();
    winsim::SetFault(function, nth, ERROR_NOT_ENOUGH_MEMORY);
    flag = 5;
    EXPECT_EQ(CheckAdminRights(&flag), 0) << function;
    EXPECT_EQ(flag, 5) << function;
  }
  winsim::ClearFaults();

  for (auto v : {std::make_tuple("5.1", "yes", 1, 0x501u), std::make_tuple("98", "yes", 0, 0x40Au),
                 std::make_tuple("nt4", "no", 0, 0u)}) {
    machine.SetSetting("windows", "version", std::get<0>(v));
    machine.SetSetting("windows", "extended", std::get<1>(v));
    EXPECT_EQ(IsWindowsNT(), std::get<2>(v)) << std::get<0>(v);
    EXPECT_EQ(GetWindowsVersion(), std::get<3>(v)) << std::get<0>(v);
  }
#endif
}
