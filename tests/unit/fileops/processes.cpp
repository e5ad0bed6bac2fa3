/* Child programs, the shutdown privilege and the restart question. */
#include "fileops/processes.h"

#include <string.h>

#include "fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/message_boxes.h"

namespace {

using ProcessesTest = FileopsTest;

#ifdef _WIN32
const char kChild[] = "pw_child.exe";
#else
const char kChild[] = "pw_child";
#endif

}  // namespace

TEST_F(ProcessesTest, ChildRunsFromItsFolderWithTheQuotedCommandLine) {
  std::string folder = TestProgramFolder(), program = "\"" + folder + "\\" + kChild + "\"",
              out = machine.Path("report.txt");
  EXPECT_EQ(RunProcess(folder.c_str(), kChild, ("report \"" + out + "\" 7").c_str()), 0)
      << "the child's exit code is not the result";
  std::string report = Read(out);
  size_t eol = report.find('\n');
  EXPECT_EQ(report.substr(0, eol), program + " report \"" + out + "\" 7");
  EXPECT_EQ(lstrcmpiA(report.substr(eol + 1).c_str(), (folder + "\n").c_str()), 0) << report;

  // Without parameters the command line is the quoted path alone; pw_child answers 0x40.
  EXPECT_EQ(RunProcess(folder.c_str(), kChild, nullptr), 0);
  const std::string running = "[0]  ... running, wait for it ";
  EXPECT_EQ(log.Entries(),
            (std::vector<std::string>{"[0] RunProcess() -  " + report.substr(0, eol), running,
                                      "[7]  ... finished ", "[0] RunProcess() -  " + program,
                                      running, "[40]  ... finished "}));
}

TEST_F(ProcessesTest, AMissingProgramOrAnOverlongCommandLineIsAFailureStatus) {
  EXPECT_EQ(RunProcess(machine.Dir().c_str(), "missing.exe", "/x"), (HRESULT)0x80070002);
  EXPECT_TRUE(Logged("[2]  ... Can't run  \"" + machine.Dir() + "\\missing.exe\" /x: "));
  EXPECT_FALSE(Logged("[0]  ... running"));
  // Quotes, backslash, space and terminator: one byte too many for the 520.
  std::string params(520 - machine.Dir().size() - strlen("missing.exe") - 4, 'p');
  EXPECT_EQ(RunProcess(machine.Dir().c_str(), "missing.exe", params.c_str()), (HRESULT)0x800700CE);
  EXPECT_TRUE(Logged("[CE]  ... Can't run  missing.exe: "));
  params.pop_back();  // fits: then the start itself is tried
  EXPECT_EQ(RunProcess(machine.Dir().c_str(), "missing.exe", params.c_str()), (HRESULT)0x80070002);
}

#ifndef _WIN32

// The restart is only ever asked of the host: under Wine it would end the test's session.
TEST_F(ProcessesTest, HostRestartQuestionHasFourOutcomes) {
  std::string answers = "Z:" + machine.Root() + "/state/messagebox-answers",
              requests = "Z:" + machine.Root() + "/state/reboot-requests";
  const std::string rebooting = "[0] AskForReboot() - rebooting ",
                    cancelled = "[0] AskForReboot() - cancelled ",
                    question =
                        "Pondwick Setup|Pondwick Setup requires you to reboot your "
                        "computer.\nDo you want to reboot now?|" +
                        std::to_string(MB_YESNO | MB_ICONQUESTION);
  const std::vector<std::string> refused = {
      rebooting, "[4C7] Reboot Failed. : The operation was canceled by the user.", "", " ",
      cancelled};
  struct Case {
    BOOL noAsk;
    const char *answer, *refuse, *request;  // the scripted button, when asked; [shutdown] refuse
    std::vector<std::string> lines;
  } cases[] = {
      {FALSE, "7", "0", "", {cancelled}},
      {FALSE, "6", "0", "accepted", {rebooting}},
      {TRUE, nullptr, "0", "accepted", {rebooting}},
      {TRUE, nullptr, "1223", "refused", refused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.answer ? c.answer : "not asked") + ", refuse " + c.refuse);
    for (const std::string& file : {log.Path(), requests}) DeleteFileA(file.c_str());
    machine.SetSetting("shutdown", "refuse", c.refuse);
    if (c.answer) TestMachine::WriteBytes(answers, std::string(c.answer) + "\n");
    MessageBoxWatch boxes;
    AskForReboot(c.noAsk);
    EXPECT_EQ(log.Entries(), c.lines);
    EXPECT_EQ(Read(requests),
              *c.request ? "00000002\t00000000\t" + std::string(c.request) + "\n" : "");
    std::string shown;
    for (const ShownBox& b : boxes.Boxes())
      shown += b.title + "|" + b.text + "|" + std::to_string(b.style);
    EXPECT_EQ(shown, c.noAsk ? "" : question);
  }
}

TEST_F(ProcessesTest, HostShutdownPrivilegeNeedsTheTokenFunctions) {
  EXPECT_TRUE(EnableShutdownPrivilege());
  EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0)) << "the privilege is enabled";
  for (const char* missing :
       {"OpenProcessToken", "LookupPrivilegeValueA", "AdjustTokenPrivileges"}) {
    machine.SetSetting("functions", "missing", missing);
    EXPECT_FALSE(EnableShutdownPrivilege()) << missing;
  }
  machine.SetSetting("functions", "missing", "");
  FailNext("OpenProcessToken", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(EnableShutdownPrivilege());
  machine.SetSetting("security", "shutdown", "no");
  EXPECT_TRUE(EnableShutdownPrivilege()) << "adjusting succeeds; the privilege was not there";
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ALL_ASSIGNED);
}

TEST_F(ProcessesTest, HostAFailedWaitClosesTheHandlesAndGivesItsError) {
  winsim::SetFault("WaitForSingleObject", 1, ERROR_INVALID_HANDLE);
  EXPECT_EQ(RunProcess(TestProgramFolder().c_str(), kChild, nullptr), (HRESULT)0x80070006);
  winsim::ClearFaults();
  EXPECT_TRUE(Logged("[0]  ... running, wait for it"));
  EXPECT_TRUE(Logged("]  ... finished", true)) << "with whatever exit code the system gave";
  // A start or a wait that fails without an error code is still a failure, never 0.
  for (const char* function : {"CreateProcessA", "WaitForSingleObject"}) {
    winsim::SetFault(function, 1, ERROR_SUCCESS);
    EXPECT_EQ(RunProcess(TestProgramFolder().c_str(), kChild, nullptr), E_FAIL) << function;
    winsim::ClearFaults();
  }
}

#endif
