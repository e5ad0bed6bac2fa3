/* MoveFileExA (now and at the next start), short names, and the restart that carries moves out. */

#include <vector>

#include "tests/support/restart_state.h"
#include "tests/unit/platform/file_helpers.h"

namespace {

std::string Short(const std::string& path) {
  char out[1024] = "";
  DWORD n = GetShortPathNameA(path.c_str(), out, sizeof out);
  EXPECT_TRUE(n > 0 && n < sizeof out) << path << " error " << GetLastError();
  return out;
}

class MovesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(move, nullptr); }
  TestMachine machine;
  PendingList pending;
  MoveFileExAFn move = LookUpMoveFileEx();
};

}  // namespace

TEST_F(MovesTest, MovesNowReplaceOnlyWhenAskedDelayedOnesWaitShortNamesAlias) {
  std::string a = machine.Path("a.txt"), b = machine.Path("b.txt"), c = machine.Path("c.txt");
  ASSERT_TRUE(TestMachine::WriteBytes(a, "a") && TestMachine::WriteBytes(b, "b"));
  EXPECT_TRUE(FAILS_WITH(move(a.c_str(), b.c_str(), 0), FALSE, ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(move(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(TestMachine::Exists(a));
  EXPECT_EQ(Read(b), "a");
  EXPECT_TRUE(move(b.c_str(), c.c_str(), 0));
  EXPECT_EQ(Read(c), "a");
  // Held files are neither renamed nor deleted: Files.ShareModesOfTwoOpens.
  EXPECT_TRUE(move(c.c_str(), nullptr, 0)) << "no target: deleted";
  EXPECT_FALSE(TestMachine::Exists(c));

  // A delayed move touches nothing now; one that may not replace its target is listed without the
  // "!" (replacing moves and deletions, as setup schedules them: fileops' RebootTest).
  ASSERT_TRUE(TestMachine::WriteBytes(b, "b"));
  EXPECT_TRUE(move(b.c_str(), c.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(pending.Added(), PendingPair(b, c, false) + '\0') << "the only entry";
  EXPECT_EQ(Read(b), "b");
  EXPECT_FALSE(TestMachine::Exists(c));

  // Short names name the same files.
  std::string folder = machine.Path("Pondwick Program Files");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  std::string plain = folder + "\\a.txt", longName = folder + "\\Pondwick notes.text";
  ASSERT_TRUE(TestMachine::WriteBytes(plain, "plain") && TestMachine::WriteBytes(longName, "long"));

  std::string shortFolder = Short(folder);
  EXPECT_NE(shortFolder, folder);
  EXPECT_EQ(Short(plain), shortFolder + "\\a.txt") << "an 8.3 name is its own short name";
  std::string shortLong = Short(longName);
  std::string name = shortLong.substr(shortFolder.size() + 1);
  EXPECT_EQ(shortLong, shortFolder + "\\" + name);
  EXPECT_NE(name.find('~'), std::string::npos) << name;
  EXPECT_LE(name.size(), 12u) << name;
  EXPECT_EQ(name.substr(name.size() - 4), ".TEX");
  EXPECT_EQ(Read(shortLong), "long") << "the short path reaches the file";
  EXPECT_EQ(Short(shortLong), shortLong);

  // Windows' answer for a buffer that is too small: the size needed, nothing written.
  char small[4] = "xyz";
  EXPECT_EQ(GetShortPathNameA(longName.c_str(), small, sizeof small), shortLong.size() + 1);
  EXPECT_STREQ(small, "xyz");

#ifndef _WIN32
  // The host's aliases take Windows' own form and last while their file does.
  std::string one = machine.Path("Pondwick notes.txt"), two = machine.Path("pondwick NOTES 2.txt");
  for (const std::string& made : {one, two, machine.Path(".profile"), machine.Path("a.b.html")})
    ASSERT_TRUE(TestMachine::WriteBytes(made, "x"));
  EXPECT_EQ(Short(one), "C:\\pwtest\\PONDWI~1.TXT");
  EXPECT_EQ(Short(two), "C:\\pwtest\\PONDWI~2.TXT");
  EXPECT_EQ(Short(one), "C:\\pwtest\\PONDWI~1.TXT") << "asked again, the same alias";
  EXPECT_EQ(Short(machine.Path(".profile")), "C:\\pwtest\\PROFIL~1");
  EXPECT_EQ(Short(machine.Path("a.b.html")), "C:\\pwtest\\AB~1.HTM");
  EXPECT_EQ(Short("c:/pwtest/./Pondwick notes.txt"), "c:/pwtest/./PONDWI~1.TXT")
      << "separators, dots and the drive stay as given";
  EXPECT_EQ(Read("C:\\PWTEST\\pondwi~2.txt"), "x");
  EXPECT_TRUE(DeleteFileA("C:\\pwtest\\PONDWI~1.TXT"));
  EXPECT_FALSE(TestMachine::Exists(one));
  EXPECT_FALSE(TestMachine::Exists("C:\\pwtest\\PONDWI~1.TXT")) << "the alias went with its file";
  EXPECT_TRUE(FAILS_WITH(GetShortPathNameA(nullptr, nullptr, 0), 0u, ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(FAILS_WITH(GetShortPathNameA("", nullptr, 0), 0u, ERROR_BAD_PATHNAME));
#endif
}

#ifndef _WIN32

TEST_F(MovesTest, HostRestartDoesPendingMovesThenWininitThenRunOnce) {
  const std::string inst = machine.Path("inst"), temp = machine.Path("PWS1.TMP");
  const std::string longName = inst + "\\Pondwick Identities.dll";
  ASSERT_TRUE(CreateDirectoryA(inst.c_str(), nullptr) && CreateDirectoryA(temp.c_str(), nullptr));
  for (const char* name : {"a.dll", "_pw1.pw_", "Pondwick Identities.dll", "_pw2.pw_", "gone.tmp"})
    ASSERT_TRUE(TestMachine::WriteBytes(inst + "\\" + name, name));
  ASSERT_TRUE(move((inst + "\\_pw1.pw_").c_str(), (inst + "\\a.dll").c_str(),
                   MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
  ASSERT_TRUE(move(temp.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  // The 95 family's way: a long-named target ends up under its short name.
  const std::string shortName = Short(longName);
  Wininit wininit;
  ASSERT_TRUE(wininit.Write("[Other]\r\nk=v\r\n[rename]\r\n" + shortName + "=" + inst +
                            "\\_pw2.pw_\r\nNUL=" + inst + "\\gone.tmp\r\n"));
  std::vector<std::string> expected = {
      "move " + inst + "\\_pw1.pw_ to " + inst + "\\a.dll", "delete " + temp,
      "move " + inst + "\\_pw2.pw_ to " + shortName, "delete " + inst + "\\gone.tmp",
      "rename " + wininit.Path() + " to C:\\WINDOWS\\wininit.bak"};

  const char kRunOnce[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
  const std::string report = machine.Path("report.txt"), user = machine.Path("user.txt");
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    const bool hklm = root == HKEY_LOCAL_MACHINE;
    std::string command = "\"" + ChildProgram() + "\" report \"" + (hklm ? report : user) + "\" 0";
    ASSERT_TRUE(SetValue(root, kRunOnce, "Pondwick", REG_SZ, command + '\0'));
    expected.push_back(std::string("run ") + (hklm ? "HKLM" : "HKCU") +
                       " RunOnce \"Pondwick\": " + command);
  }

  std::vector<std::string> steps;
  EXPECT_EQ(winsim::Boot(&steps), 0);
  EXPECT_EQ(steps, expected);
  EXPECT_EQ(Read(inst + "\\a.dll"), "_pw1.pw_");
  EXPECT_EQ(Read(inst + "\\PONDWI~1.DLL"), "_pw2.pw_");
  for (const std::string& gone : {inst + "\\_pw1.pw_", temp, longName, inst + "\\gone.tmp"})
    EXPECT_FALSE(TestMachine::Exists(gone)) << gone;
  for (const std::string& made : {std::string("C:\\WINDOWS\\wininit.bak"), report, user})
    EXPECT_TRUE(TestMachine::Exists(made)) << made;
  // The pending list, wininit.ini and the RunOnce values are gone: a second start does nothing.
  steps.clear();
  EXPECT_EQ(winsim::Boot(&steps), 0);
  EXPECT_EQ(steps, std::vector<std::string>{});
}

#endif
