/* Replace on reboot: the numbered copies, the NT family's delayed moves, the wininit.ini edit. */
#include "fileops/reboot.h"

#include "fixture.h"
#include "support/paths.h"
#include "tests/support/child_process.h"
#include "tests/support/restart_state.h"
#include "tests/support/win32_checks.h"

namespace {

std::string ShortPath(const std::string& path) {
  char out[1024] = "";
  EXPECT_NE(GetShortPathNameA(path.c_str(), out, sizeof out), 0u) << path;
  return out;
}

class RebootTest : public FileopsTest {
 protected:
  RebootTest() { RebootCopyCount = 0; }
  // The copy that the 95 family's edit is asked to schedule.
  void MakeSource() { Put(source, "new"); }
  PendingList pending;
  Wininit wininit;
  std::string inst = Folder("inst"), source = inst + "\\_pw1.pw_";
};

}  // namespace

TEST_F(RebootTest, CopiesAreNumberedBesideTheTargetAndNeverOverwriteAWaitingOne) {
  std::string temp = Folder("temp");
  Put(temp + "\\a.dll", "new a");
  Put(temp + "\\b.dll", "new b");
  Put(inst + "\\a.dll", "old a");
  // An earlier run's copy, still waiting for its own replacement.
  Put(inst + "\\_pw2.pw_", "earlier run");

  EXPECT_NE(ActMoveFileOnReboot((temp + "\\a.dll").c_str(), inst.c_str()), 0);
  EXPECT_NE(ActMoveFileOnReboot((temp + "\\b.dll").c_str(), inst.c_str()), 0);
  EXPECT_EQ(RebootCopyCount, 3);
  EXPECT_EQ(Read(inst + "\\_pw1.pw_"), "new a");
  EXPECT_EQ(Read(inst + "\\_pw2.pw_"), "earlier run");
  EXPECT_EQ(Read(inst + "\\_pw3.pw_"), "new b");
  EXPECT_EQ(Read(inst + "\\a.dll"), "old a") << "replaced only at the next start";
  const std::string scheduled = PendingPair(inst + "\\_pw1.pw_", inst + "\\a.dll") +
                                PendingPair(inst + "\\_pw3.pw_", inst + "\\b.dll") + '\0';
  EXPECT_EQ(pending.Added(), scheduled);
  EXPECT_FALSE(wininit.Exists()) << "the NT family never touches wininit.ini";

  // A copy that fails still uses up its number, and nothing is scheduled.
  EXPECT_EQ(ActMoveFileOnReboot((temp + "\\missing.dll").c_str(), inst.c_str()), 0);
  EXPECT_EQ(ActMoveFileOnReboot(nullptr, inst.c_str()), 0);
  EXPECT_EQ(RebootCopyCount, 4);
  EXPECT_TRUE(Logged("[2] ActMoveFileOnReboot() - can't copy to " + inst + "\\_pw4.pw_"));
  // A target that cannot be named within MAX_PATH is refused before any copy is made.
  std::string distant = LongWayTo(inst);
  Put(temp + "\\a-name-of-thirty-characters.x", "x");
  EXPECT_EQ(
      ActMoveFileOnReboot((temp + "\\a-name-of-thirty-characters.x").c_str(), distant.c_str()), 0);
  EXPECT_TRUE(Logged("[CE] ActMoveFileOnReboot() - can't copy to " + distant));
  EXPECT_EQ(RebootCopyCount, 4);
  EXPECT_EQ(pending.Added(), scheduled);
}

// A copy left by a run cut short goes at the next start; one that an earlier run scheduled is
// moved onto its target first, and other files are left alone.
TEST_F(RebootTest, StaleCopiesGoAtTheNextStartAfterTheirOwnReplacement) {
  for (const char* name : {"_pw1.pw_", "_pw7.pw_", "a.dll", "_pw1.pw_.txt"})
    Put(inst + "\\" + name, name);
  ASSERT_TRUE(CreateDirectoryA((inst + "\\_pw3.pw_").c_str(), nullptr)) << "a folder is no copy";
  ASSERT_NE(MoveFileOnReboot(source.c_str(), (inst + "\\a.dll").c_str()), 0);
  ScheduleStaleCopiesRemoval(inst.c_str());
  // The listing's order is the file system's.
  std::string moved = PendingPair(source, inst + "\\a.dll"), one = PendingPair(source, ""),
              seven = PendingPair(inst + "\\_pw7.pw_", "");
  std::string added = pending.Added();
  EXPECT_TRUE(added == moved + one + seven + '\0' || added == moved + seven + one + '\0') << added;
  EXPECT_EQ(Read(inst + "\\_pw7.pw_"), "_pw7.pw_") << "deleted only at the next start";
}

TEST_F(RebootTest, WininitGetsItsRenameSectionWhereverItStands) {
  std::string target = inst + "\\a.dll";
  MakeSource();
  Put(target, "old");
  const std::string line = ShortPath(target) + "=" + ShortPath(source) + "\r\n";
  struct Case {
    const char* before;
    std::string after;
  } cases[] = {
      {nullptr, "[Rename]\r\n" + line},
      {"[rename]\r\nX=Y\r\n", "[rename]\r\nX=Y\r\n" + line},
      {"[RENAME]\r\nX=Y\r\n[Other]\r\nk=v\r\n",
       "[RENAME]\r\nX=Y\r\n" + line + "[Other]\r\nk=v\r\n"},
      // A header with a lone line feed is not the section.
      {"[Rename]\nX=Y\n", "[Rename]\nX=Y\n[Rename]\r\n" + line},
      // A last line without its line end is never joined to what follows it.
      {"[Other]\r\nk=v", "[Other]\r\nk=v\r\n[Rename]\r\n" + line},
      {"[Rename]\r\nX=Y", "[Rename]\r\nX=Y\r\n" + line},
      // An empty section directly followed by the next one still gets the line.
      {"[Rename]\r\n[Other]\r\nk=v\r\n", "[Rename]\r\n" + line + "[Other]\r\nk=v\r\n"},
  };
  for (const Case& c : cases) {
    if (c.before)
      ASSERT_TRUE(wininit.Write(c.before));
    else
      DeleteFileA(wininit.Path().c_str());
    EXPECT_EQ(MoveFileOnReboot9x(source.c_str(), target.c_str()), 1);
    EXPECT_EQ(wininit.Text(), c.after) << (c.before ? c.before : "(no file)");
  }
  EXPECT_EQ(Read(target), "old");

  // No destination: the source is deleted at the start.
  ASSERT_TRUE(wininit.Write("[Rename]\r\n"));
  EXPECT_EQ(MoveFileOnReboot9x(source.c_str(), nullptr), 1);
  EXPECT_EQ(wininit.Text(), "[Rename]\r\nNUL=" + ShortPath(source) + "\r\n");
}

TEST_F(RebootTest, WininitDestinationIsMadeAndALongNameIsReported) {
  MakeSource();
  std::string made = inst + "\\new.dll";
  EXPECT_EQ(MoveFileOnReboot9x(source.c_str(), made.c_str()), 1);
  EXPECT_TRUE(TestMachine::Exists(made)) << "made empty, so that it has a short name";
  EXPECT_EQ(Read(made), "");

  std::string longName = inst + "\\Pondwick Identities.dll";
  Put(longName, "old");
  EXPECT_EQ(MoveFileOnReboot9x(source.c_str(), longName.c_str()), 1);
  std::string shortPath = ShortPath(longName);
  std::string shortName = GetFileNamePart(shortPath.c_str());
  EXPECT_TRUE(LoggedAnywhere("Pondwick file '" + longName +
                             "' is locked and will be copied after reboot as '" + shortName +
                             "'.\nFor correct Pondwick operation"))
      << "the warning, logged under SilentMode";
  EXPECT_NE(wininit.Text().find(ShortPath(longName) + "=" + ShortPath(source) + "\r\n"),
            std::string::npos);
  EXPECT_EQ(Read(longName), "old");
}

TEST_F(RebootTest, WininitFailuresLeaveTheFileAsItWas) {
  MakeSource();
  ASSERT_TRUE(wininit.Write("[Rename]\r\n"));
  EXPECT_EQ(MoveFileOnReboot9x((inst + "\\gone").c_str(), nullptr), 0);
  EXPECT_TRUE(Logged("[2] MoveFileOnReboot9x() - failed to get short name for " + inst + "\\gone"));

  HeldByChild held(machine.Dir(), "file \"" + wininit.Path() + "\" 0x80000000 1");
  ASSERT_EQ(held.Ready(), "ok");
  EXPECT_EQ(MoveFileOnReboot9x(source.c_str(), nullptr), 0);
  EXPECT_TRUE(Logged("[20] MoveFileOnReboot9x() - failed to open " + wininit.Path()));
  held.Release();
  EXPECT_EQ(wininit.Text(), "[Rename]\r\n");
}

#ifndef _WIN32

// Where MoveFileExA is missing nothing is scheduled, and nothing logged.
TEST_F(RebootTest, HostAMissingMoveFileExIsQuiet) {
  MakeSource();
  machine.SetSetting("functions", "missing", "MoveFileExA");
  EXPECT_EQ(MoveFileOnReboot(source.c_str(), nullptr), 0);
  EXPECT_EQ(log.Entries(), std::vector<std::string>{});
  EXPECT_EQ(pending.Added(), "");
}

TEST_F(RebootTest, HostMappingFailuresGiveTheFileItsOldLength) {
  const std::string other = "[Other]\r\nk=v\r\n";
  MakeSource();
  struct Fault {
    const char* function;
    DWORD error;
    const char *code, *step;
  };
  for (const Fault& f :
       {Fault{"CreateFileMappingA", ERROR_NOT_ENOUGH_MEMORY, "[8]", "create mapping"},
        Fault{"MapViewOfFile", ERROR_NOT_ENOUGH_MEMORY, "[8]", "map view"},
        Fault{"SetEndOfFile", ERROR_DISK_FULL, "[70]", "cut"}}) {
    ASSERT_TRUE(wininit.Write(other));
    FailNext(f.function, f.error);
    EXPECT_EQ(MoveFileOnReboot9x(source.c_str(), nullptr), 0) << f.function;
    EXPECT_TRUE(Logged(std::string(f.code) + " MoveFileOnReboot9x() - failed to " + f.step + " " +
                       wininit.Path()));
    // Uncut, the edit is followed by the mapping's zeros: nothing a start can count on.
    if (f.error != ERROR_DISK_FULL) {
      EXPECT_EQ(wininit.Text(), other) << f.function << ": no zeros left behind";
    }
  }
  ASSERT_TRUE(wininit.Write(other));

  FailNext("GetShortPathNameA", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(MoveFileOnReboot9x(source.c_str(), (inst + "\\new.dll").c_str()), 0);
  EXPECT_TRUE(
      Logged("[8] MoveFileOnReboot9x() - failed to get short name for " + inst + "\\new.dll"));
  EXPECT_FALSE(TestMachine::Exists(inst + "\\new.dll")) << "the empty destination goes again";
  EXPECT_EQ(wininit.Text(), other);
  // A destination that was there before stays, whatever fails.
  Put(inst + "\\old.dll", "old");
  FailNext("CreateFileMappingA", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(MoveFileOnReboot9x(source.c_str(), (inst + "\\old.dll").c_str()), 0);
  EXPECT_EQ(Read(inst + "\\old.dll"), "old");

  // Short paths longer than their long ones ("+" becomes "_~1"): a line that would not fit is
  // refused rather than cut into another rename.
  std::string deep = "C:";
  for (int i = 0; i < 127; ++i) deep += "\\+";
  ASSERT_TRUE(CreateFolderTree(deep.c_str()));
  Put(deep + "\\s", "new");
  EXPECT_EQ(MoveFileOnReboot9x((deep + "\\s").c_str(), (deep + "\\d").c_str()), 0);
  EXPECT_TRUE(Logged("[6F] MoveFileOnReboot9x() - ini line  " + ShortPath(deep + "\\s")));
  EXPECT_FALSE(TestMachine::Exists(deep + "\\d")) << "the empty destination goes again";
  EXPECT_EQ(wininit.Text(), other);
}

// A copy that can't be scheduled would wait beside its target for good: it goes again, and the
// target keeps its old bytes.
TEST_F(RebootTest, HostACopyWhoseReplacementCannotBeScheduledIsRemoved) {
  std::string temp = Folder("temp"), target = inst + "\\a.dll";
  Put(temp + "\\a.dll", "new a");
  Put(target, "old a");
  ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
  FailNext("MoveFileExA", ERROR_ACCESS_DENIED);
  EXPECT_TRUE(FAILS_WITH(ActMoveFileOnReboot((temp + "\\a.dll").c_str(), inst.c_str()), 0,
                         ERROR_ACCESS_DENIED))
      << "the scheduling's error, for the caller";
  winsim::ClearFaults();
  EXPECT_TRUE(Logged("[5] MoveFileOnRebootNT() - MoveFileEx  FAIL"));
  EXPECT_FALSE(TestMachine::Exists(inst + "\\_pw1.pw_"));
  EXPECT_EQ(Read(target), "old a");
  EXPECT_TRUE(GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_READONLY)
      << "a target whose replacement is not scheduled keeps its attribute";
  EXPECT_EQ(pending.Added(), "");

  // Scheduled, but the attribute that would make the start refuse the move can't be cleared:
  // the copy goes, so the scheduled move finds nothing.
  FailNext("SetFileAttributesA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(ActMoveFileOnReboot((temp + "\\a.dll").c_str(), inst.c_str()), 0);
  winsim::ClearFaults();
  EXPECT_TRUE(Logged("[5] ActMoveFileOnReboot() - can't clear read-only " + target));
  EXPECT_FALSE(TestMachine::Exists(inst + "\\_pw2.pw_"));
  EXPECT_NE(ActMoveFileOnReboot((temp + "\\a.dll").c_str(), inst.c_str()), 0);
  EXPECT_FALSE(GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_READONLY);
  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
}
#endif
