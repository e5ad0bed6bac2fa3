/* The installation sequence in this process, where whole installs (tests/e2e) reach awkwardly:
 * over-long paths, refused calls. Host only: WINSIM_MODULE names the setup's module. */
#ifndef _WIN32

#include "setup/run_sfx.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fileops/file_actions.h"
#include "fileops/reboot.h"
#include "platform/posix/winsim.h"
#include "setup/product_names.h"
#include "setup/startup.h"
#include "support/log.h"
#include "support/report.h"
#include "tests/support/log_reader.h"
#include "tests/support/restart_state.h"
#include "tests/support/test_machine.h"
#include "tools/pwpack/pack_writer.h"

namespace {

std::string Packed(const std::vector<pwpack::PackFile>& files) {
  std::string stream, data, error;
  EXPECT_TRUE(pwpack::MakeDecodedStream(files, &stream, &error)) << error;
  EXPECT_TRUE(pwpack::CompressBlock(stream, false, &data, &error)) << error;
  return data;
}

void SetValue(const char* name, const std::string& value) {
  ASSERT_TRUE(::SetValue(HKEY_CURRENT_USER, names::kProductKey, name, REG_SZ, value + '\0'));
}

// The names in folder, read on the host (none when it is missing).
std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(winsim::HostPath(folder.c_str()), ec))
    names.push_back(e.path().filename().string());
  return names;
}

class RunSfxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SilentMode = true;
    ForceReboot = false;
    CreateDirectoryA(temp_.c_str(), nullptr);
    machine_.SetSetting("windows", "temp", temp_);
    CreateDirectoryA(machine_.Path("_pw").c_str(), nullptr);
    snprintf(LogFolderPath, sizeof LogFolderPath, "%s", machine_.Path("_pw").c_str());
    setenv("WINSIM_MODULE", setup_.c_str(), 1);
    SetValue(names::kFolder, install_ + "\\");
    WriteSetup(false);
  }
  void TearDown() override {
    unsetenv("WINSIM_MODULE");
    SilentMode = false;
    LogFolderPath[0] = '\0';
  }

  // A program of the payload: records its command line and working folder.
  std::string Recorder(const std::string& record) const {
    return "#!/bin/sh\nprintf '%s\\n%s\\n' \"$WINSIM_CMDLINE\" \"$WINSIM_CWD\" > '" +
           machine_.HostPathOfC(machine_.Path(record)) + "'\n";
  }
  void WriteSetup(bool portable, const std::string& langName = "de.lng") {
    std::string pondwick = Packed({{"pwwipeout.exe", Recorder("config.txt")},
                                   {"identities.exe", Recorder("product.txt")},
                                   {"pondwick.dll", "library"}});
    std::vector<pwpack::Block> blocks = {{"pondwick", pondwick, true},
                                         {"langs", Packed({{langName, "deutsch"}}), true},
                                         {"affid", "affiliate 42", false}};
    if (portable) blocks.push_back({"portable", Packed({{"roam.dat", "roaming"}}), true});
    std::string setup, error;
    ASSERT_TRUE(pwpack::WriteSetup(pwpack::MinimalStub(), blocks, &setup, &error)) << error;
    ASSERT_TRUE(TestMachine::WriteBytes(setup_, setup));
  }
  // RunSfx over tail, the nth call of function (later: and on) failing; counts start at the run.
  HRESULT Run(std::string tail, const char* function = nullptr, unsigned nth = 0, DWORD error = 0,
              bool later = false) {
    tail_ = tail;
    winsim::ClearFaults();
    if (function) winsim::SetFault(function, nth, error, later);
    HRESULT result = RunSfx(&tail_[0]);
    if (function) winsim::ClearFaults();
    return result;
  }
  std::string Read(const std::string& name) const {
    std::string bytes;
    return TestMachine::ReadBytes(machine_.Path(name), &bytes) ? bytes : "(missing)";
  }
  // Whether some log entry is text (part: holds it).
  bool Logged(const std::string& text, bool part = false) const {
    for (const std::string& e : log_.Entries())
      if (part ? e.find(text) != std::string::npos : e == text) return true;
    return false;
  }

  TestMachine machine_;
  LogCapture log_{machine_};
  std::string temp_ = machine_.Path("temp"), install_ = machine_.Path("Install"),
              setup_ = machine_.Path("setup.exe"), tail_;
};

}  // namespace

// A move whose TempFolder listing breaks off leaves what it did not reach for the restart.
TEST_F(RunSfxTest, HostAMoveWhoseListingBreaksOffIsFinishedByTheRestart) {
  // The longest-name look and the check walk each take "..", five files and the end.
  ASSERT_EQ(Run("/silent", "FindNextFileA", 17, ERROR_NOT_ENOUGH_MEMORY), 0);
  EXPECT_TRUE(Logged("[8] File operation failed for ", true));
  EXPECT_TRUE(Logged("[0] !!! REBOOT required "));
  EXPECT_EQ(Read("product.txt"), "(missing)") << "the product waits for the restart";
  EXPECT_EQ(Listing(install_).size(), 5u) << "each file moved, or copied beside its target";
  EXPECT_FALSE(Listing(temp_).empty()) << "TempFolder stays until the restart deletes it";
}

// TempFolder never stays for good: one that can't be removed goes at the next start; on the
// restart path, one whose deletion can't be scheduled goes at once (its files have their copies).
TEST_F(RunSfxTest, HostTempFolderNeverStaysForGood) {
  PendingList pending;
  ASSERT_EQ(Run("/silent", "RemoveDirectoryA", 1, ERROR_ACCESS_DENIED), 0);
  std::vector<std::string> left = Listing(temp_);
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(Logged("[5] Cleanup folder err  " + temp_ + "\\" + left[0]));
  EXPECT_EQ(pending.Added(), PendingPair(temp_ + "\\" + left[0], "") + '\0');
  EXPECT_EQ(Read("Install\\pondwick.dll"), "library");
  RemoveDirectoryA((temp_ + "\\" + left[0]).c_str());

  // pondwick.dll held open: its copy and TempFolder's file are scheduled, TempFolder itself not.
  std::string held = install_ + "\\pondwick.dll";
  HANDLE holder =
      CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  RebootCopyCount = 0;  // copies are numbered through the process's runs
  ASSERT_EQ(Run("/silent", "MoveFileExA", 3, ERROR_ACCESS_DENIED), 0);
  EXPECT_TRUE(Logged("[0] !!! REBOOT required "));
  EXPECT_NE(pending.Added().find(PendingPair(install_ + "\\_pw1.pw_", held)), std::string::npos);
  EXPECT_TRUE(Listing(temp_).empty()) << "TempFolder removed at once";

  // The product's start after the restart can't be written: files still scheduled, user told.
  ASSERT_EQ(Run("/silent"), 0);
  unsigned writes = winsim::CallCount("RegSetValueExA");  // the RunOnce value is the last
  ASSERT_EQ(Run("/silent", "RegSetValueExA", writes, ERROR_ACCESS_DENIED), 0);
  // The walk that schedules the replacements fails: the run says so rather than count on them.
  ASSERT_EQ(Run("/silent", "FindFirstFileA", 5, ERROR_PATH_NOT_FOUND), kResultFilesLocked);
  EXPECT_TRUE(Logged("[0] Some files remain locked in  " + install_));
  CloseHandle(holder);
  EXPECT_TRUE(Logged("[5] Pondwick will not start by itself after the restart:  \"" + install_ +
                         "\\identities.exe\" -fr: ",
                     true));
}

// The portable edition has no restart to finish a broken-off move: it stops with -5.
TEST_F(RunSfxTest, HostPortableEditionStopsWhenTheMoveIsLeftUnfinished) {
  WriteSetup(true);
  SetValue(names::kFolderPortable, install_);
  std::string root = machine_.Path("Roam");
  CreateDirectoryA(root.c_str(), nullptr);
  SetValue(names::kPortableRoot, root);
  // Listings: the longest name, the earlier run's copies, the lock probe, then the move.
  ASSERT_EQ(Run("", "FindFirstFileA", 4, ERROR_PATH_NOT_FOUND), kResultFilesLocked);
  EXPECT_TRUE(Logged("[3] Can't find any files matching  " + temp_, true));
  EXPECT_TRUE(Logged("[0] Some files remain locked in  " + install_));
  EXPECT_EQ(Read("product.txt"), "(missing)");
  EXPECT_EQ(Read("Roam\\roam.dat"), "(missing)") << "stopped before the portable files";
  EXPECT_TRUE(Listing(temp_).empty()) << "TempFolder removed";

  // The last three deletions of a clean run, the product's copies, failing: logged, scheduled.
  ASSERT_EQ(Run(""), 0);
  unsigned deletions = winsim::CallCount("DeleteFileA");
  PendingList pending;
  ASSERT_EQ(Run("", "DeleteFileA", deletions - 2, ERROR_ACCESS_DENIED, true), 0);
  std::string scheduled;
  for (const char* name : {"identities.exe", "pondwick.dll", "affid.txt"}) {
    EXPECT_TRUE(Logged("[5] ActDelFile() - can't delete " + temp_ + "\\" + name)) << name;
    scheduled += PendingPair(temp_ + "\\" + name, "");
    DeleteFileA((temp_ + "\\" + name).c_str());
  }
  EXPECT_EQ(pending.Added(), scheduled + '\0');
  EXPECT_TRUE(DeleteFileA(setup_.c_str())) << "setup file still mapped: " << GetLastError();
}

// Paths from the installation folder or temporary path that do not fit are refused, never cut.
TEST_F(RunSfxTest, HostPathsThatDoNotFitAreRefusedNotCut) {
  // A system temporary folder whose name does not fit counts as none.
  machine_.SetSetting("windows", "temp", "C:\\" + std::string(260, 't'));
  ASSERT_EQ(Run(""), 0);
  EXPECT_TRUE(Logged("[CE] Can't get temp path, will try " + machine_.Path("_pw")));
  EXPECT_TRUE(Logged("[0] GetTempPath:  " + machine_.Path("_pw")));

  // No payload name fits in TempFolder: refused; TempFolder goes now or (too deep) at restart.
  std::string deep = machine_.Dir() + "\\" + std::string(243 - machine_.Dir().size(), 'd');
  ASSERT_TRUE(CreateFolderTree(deep.c_str()));
  machine_.SetSetting("windows", "temp", deep);
  PendingList pending;
  EXPECT_EQ(Run(""), HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
  std::vector<std::string> left = Listing(deep);
  EXPECT_EQ(pending.Added(), left.empty() ? "" : PendingPair(deep + "\\" + left[0], "") + '\0');
  machine_.SetSetting("windows", "temp", temp_);

  // The longest name unpacked decides: 238 + 1 + 21 is too long, where 238 + 1 + 14 would fit.
  std::string folder = install_ + "\\" + std::string(238 - install_.size() - 1, 'f');
  WriteSetup(false, "deutsch-schweiz-1.lng");
  SetValue(names::kFolder, folder);
  ASSERT_EQ(Run(""), kResultNoFolder);
  EXPECT_TRUE(Logged("[CE] RunSfx() - path too long in  " + folder));
  EXPECT_FALSE(TestMachine::Exists(folder)) << "refused before anything is made";
}

// Refused calls (last: an empty folder value) end the run with the step's result, file released.
TEST_F(RunSfxTest, HostRefusedCallsEndTheRunCleanly) {
  struct Case {
    const char *function, *line;  // line: a log line the failure leaves, or part of it
    DWORD nth, error;
    HRESULT result;
  } cases[] = {
      {"MapViewOfFile", "[8] Can't extract from SFX ", 1, ERROR_NOT_ENOUGH_MEMORY, E_FAIL},
      {"CreateDirectoryA", "[0] Can't create temp folder to unpack files", 1, ERROR_ACCESS_DENIED,
       kResultStopped},
      {"CreateDirectoryA", "[5] Can't create folder ", 2, ERROR_ACCESS_DENIED, kResultNoFolder},
      {"CreateProcessA", "[80070005] failed to run ", 1, ERROR_ACCESS_DENIED, (HRESULT)0x80070005},
      {"RegCreateKeyExA", "[5] Installation folder is not specified.", 1, ERROR_ACCESS_DENIED,
       kResultNoFolder},
      {"",
       "[0] Installation folder is not specified. Please, run Setup again and report this "
       "error to support@pondwick.example ",
       0, 0, kResultNoFolder},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    WriteSetup(false);
    if (!*c.function) SetValue(names::kFolder, "");
    // Every folder from the nth on fails (both temporary tries); of the others, the nth call.
    EXPECT_EQ(Run("", *c.function ? c.function : nullptr, c.nth, c.error,
                  std::string(c.function) == "CreateDirectoryA"),
              c.result);
    EXPECT_TRUE(Logged(c.line, *c.function)) << c.line;
    EXPECT_TRUE(Listing(temp_).empty()) << "TempFolder removed";
    EXPECT_EQ(Read("product.txt"), "(missing)");
    EXPECT_FALSE(TestMachine::Exists(install_)) << "nothing made";
    EXPECT_TRUE(DeleteFileA(setup_.c_str())) << "setup file still mapped: " << GetLastError();
  }
}

#endif
