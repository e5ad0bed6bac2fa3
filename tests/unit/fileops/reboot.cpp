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
  PendingList pending;
  Wininit wininit;
  std::string inst = Folder("inst"), temp = Folder("temp"), source = inst + "\\_pw1.pw_";
};

}  // namespace

TEST_F(RebootTest, CopiesAreNumberedBesideTheTargetAndNeverOverwriteAWaitingOne) {
  for (const char* name : {"a.dll", "b.dll"}) Put(temp + "\\" + name, std::string("new ") + name);
  Put(inst + "\\a.dll", "old");
  Put(inst + "\\_pw2.pw_", "earlier run");  // still waiting for its own replacement
  for (const char* name : {"a.dll", "b.dll"})
    EXPECT_NE(ActMoveFileOnReboot((temp + "\\" + name).c_str(), inst.c_str()), 0) << name;
  EXPECT_EQ(RebootCopyCount, 3);
  const std::string scheduled = PendingPair(inst + "\\_pw1.pw_", inst + "\\a.dll") +
                                PendingPair(inst + "\\_pw3.pw_", inst + "\\b.dll") + '\0';
  EXPECT_EQ(pending.Added(), scheduled);
  EXPECT_FALSE(wininit.Exists()) << "the NT family never touches wininit.ini";

  // A failed copy uses up its number and schedules nothing.
  EXPECT_EQ(ActMoveFileOnReboot((temp + "\\missing.dll").c_str(), inst.c_str()), 0);
  EXPECT_EQ(ActMoveFileOnReboot(nullptr, inst.c_str()), 0);
  EXPECT_EQ(RebootCopyCount, 4);
  EXPECT_TRUE(Logged("[2] ActMoveFileOnReboot() - can't copy to " + inst + "\\_pw4.pw_"));
  // A target that cannot be named within MAX_PATH is refused before any copy is made.
  std::string distant = LongWayTo(inst), thirty = temp + "\\a-name-of-thirty-characters.x";
  Put(thirty, "x");
  EXPECT_EQ(ActMoveFileOnReboot(thirty.c_str(), distant.c_str()), 0);
  EXPECT_TRUE(Logged("[CE] ActMoveFileOnReboot() - can't copy to " + distant));
  EXPECT_EQ(RebootCopyCount, 4);
  EXPECT_EQ(pending.Added(), scheduled);
  EXPECT_EQ(Tree(inst), "_pw1.pw_=new a.dll _pw2.pw_=earlier run _pw3.pw_=new b.dll a.dll=old")
      << "the target is replaced only at the next start";
}

// A copy left by a run cut short goes at the next start, after any move scheduled for it.
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

// "@" in the expected text stands for the line "short target=short source" (NUL: delete).
TEST_F(RebootTest, WininitGetsTheLineInItsRenameSectionWhereverThatStandsOrIsLeftAlone) {
  const std::string old = inst + "\\a.dll", longName = inst + "\\Pondwick Identities.dll";
  for (const std::string& file : {source, old, longName}) Put(file, "old");
  struct Case {
    const char *before, *after;
    std::string target;
  } cases[] = {
      {nullptr, "[Rename]\r\n@", old},
      {"[rename]\r\nX=Y\r\n", "[rename]\r\nX=Y\r\n@", old},
      {"[RENAME]\r\nX=Y\r\n[Other]\r\nk=v\r\n", "[RENAME]\r\nX=Y\r\n@[Other]\r\nk=v\r\n", old},
      // A header with a lone line feed is not the section.
      {"[Rename]\nX=Y\n", "[Rename]\nX=Y\n[Rename]\r\n@", old},
      // A last line without its line end is never joined to what follows it.
      {"[Other]\r\nk=v", "[Other]\r\nk=v\r\n[Rename]\r\n@", old},
      {"[Rename]\r\nX=Y", "[Rename]\r\nX=Y\r\n@", old},
      // An empty section directly followed by the next one still gets the line.
      {"[Rename]\r\n[Other]\r\nk=v\r\n", "[Rename]\r\n@[Other]\r\nk=v\r\n", old},
      {"[Rename]\r\n", "[Rename]\r\n@", ""},
      // A missing destination is made empty, so that it has a short name.
      {nullptr, "[Rename]\r\n@", inst + "\\new.dll"},
      {nullptr, "[Rename]\r\n@", longName},
  };
  for (const Case& c : cases) {
    DeleteFileA(wininit.Path().c_str());
    ASSERT_TRUE(!c.before || wininit.Write(c.before));
    const char* target = c.target.empty() ? nullptr : c.target.c_str();
    EXPECT_EQ(MoveFileOnReboot9x(source.c_str(), target), 1) << c.target;
    std::string expected = c.after;
    expected.replace(expected.find('@'), 1,
                     (target ? ShortPath(target) : "NUL") + "=" + ShortPath(source) + "\r\n");
    EXPECT_EQ(wininit.Text(), expected) << (c.before ? c.before : "(no file)") << c.target;
  }
  EXPECT_EQ(Tree(inst), "Pondwick Identities.dll=old _pw1.pw_=old a.dll=old new.dll=");
  std::string shortName = GetFileNamePart(ShortPath(longName).c_str());
  EXPECT_TRUE(Logged("Pondwick file '" + longName +
                         "' is locked and will be copied after reboot as '" + shortName +
                         "'.\nFor correct Pondwick operation",
                     true))
      << "the warning, logged under SilentMode";

  // Failures leave the file as it was.
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

TEST_F(RebootTest, HostFailedEditsLeaveWininitAndTheDestinationAsTheyWere) {
  const std::string other = "[Other]\r\nk=v\r\n", f8 = "[8] MoveFileOnReboot9x() - failed to ",
                    ini = " " + wininit.Path();
  Put(source, "new");
  Put(inst + "\\old.dll", "old");
  struct Fault {
    const char *function, *target;
    DWORD error;
    std::string line;
  } faults[] = {
      {"CreateFileMappingA", nullptr, ERROR_NOT_ENOUGH_MEMORY, f8 + "create mapping" + ini},
      {"MapViewOfFile", nullptr, ERROR_NOT_ENOUGH_MEMORY, f8 + "map view" + ini},
      // Uncut, the edit is followed by the mapping's zeros: nothing a start can count on.
      {"SetEndOfFile", nullptr, ERROR_DISK_FULL, "[70] MoveFileOnReboot9x() - failed to cut" + ini},
      // The empty destination made for its short name goes again; one that was there stays.
      {"GetShortPathNameA", "new.dll", ERROR_NOT_ENOUGH_MEMORY,
       f8 + "get short name for " + inst + "\\new.dll"},
      {"CreateFileMappingA", "old.dll", ERROR_NOT_ENOUGH_MEMORY, f8 + "create mapping" + ini},
  };
  for (const Fault& f : faults) {
    ASSERT_TRUE(wininit.Write(other));
    FailNext(f.function, f.error);
    std::string target = f.target ? inst + "\\" + f.target : "";
    EXPECT_EQ(MoveFileOnReboot9x(source.c_str(), f.target ? target.c_str() : nullptr), 0) << f.line;
    EXPECT_TRUE(Logged(f.line)) << f.line;
    EXPECT_EQ(f.error == ERROR_DISK_FULL ? other : wininit.Text(), other) << f.line;
  }
  EXPECT_EQ(Tree(inst), "_pw1.pw_=new old.dll=old");

  // Short paths longer than the long ones ("+" is "_~1"): a line that does not fit is refused.
  std::string deep = "C:";
  for (int i = 0; i < 127; ++i) deep += "\\+";
  ASSERT_TRUE(CreateFolderTree(deep.c_str()));
  Put(deep + "\\s", "new");
  EXPECT_EQ(MoveFileOnReboot9x((deep + "\\s").c_str(), (deep + "\\d").c_str()), 0);
  EXPECT_TRUE(Logged("[6F] MoveFileOnReboot9x() - ini line  " + ShortPath(deep + "\\s")));
  EXPECT_EQ(Tree(deep), "s=new") << "the empty destination goes again";
  EXPECT_EQ(wininit.Text(), other);
}

// A copy that can't be scheduled would wait beside its target for good: it goes again.
TEST_F(RebootTest, HostACopyWhoseReplacementCannotBeScheduledIsRemoved) {
  std::string target = inst + "\\a.dll";
  Put(temp + "\\a.dll", "new a");
  Put(target, "old a");
  // Without MoveFileExA nothing is scheduled, nor logged.
  machine.SetSetting("functions", "missing", "MoveFileExA");
  EXPECT_EQ(MoveFileOnReboot(target.c_str(), nullptr), 0);
  EXPECT_EQ(log.Entries(), std::vector<std::string>{});
  machine.SetSetting("functions", "missing", "");

  ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
  FailNext("MoveFileExA", ERROR_ACCESS_DENIED);
  EXPECT_TRUE(FAILS_WITH(ActMoveFileOnReboot((temp + "\\a.dll").c_str(), inst.c_str()), 0,
                         ERROR_ACCESS_DENIED))
      << "the scheduling's error, for the caller";
  EXPECT_TRUE(Logged("[5] MoveFileOnRebootNT() - MoveFileEx  FAIL"));
  EXPECT_EQ(Tree(inst), "a.dll=old a");
  EXPECT_TRUE(GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_READONLY)
      << "a target whose replacement is not scheduled keeps its attribute";
  EXPECT_EQ(pending.Added(), "");

  // Scheduled, but the read-only attribute that would refuse the move stays: the copy goes.
  FailNext("SetFileAttributesA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(ActMoveFileOnReboot((temp + "\\a.dll").c_str(), inst.c_str()), 0);
  EXPECT_TRUE(Logged("[5] ActMoveFileOnReboot() - can't clear read-only " + target));
  EXPECT_EQ(Tree(inst), "a.dll=old a");
}
#endif
