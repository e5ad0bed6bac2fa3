/* The temporary folder, the folder walk and the four file actions. */
#include "fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/win32_checks.h"

namespace {

std::vector<std::string> g_visited;

LONG Record(const char* path, const char* context) {
  g_visited.push_back(path);
  EXPECT_STREQ(context, "ctx");
  std::string p(path);
  return p.substr(p.size() - 2) != "\\b";  // the entry "b" fails
}

using FileActionsTest = FileopsTest;

}  // namespace

TEST_F(FileActionsTest, TempFolderIsMadeUnderTheBaseOrNotAtAll) {
  char folder[MAX_PATH];
  ASSERT_TRUE(CreateTempFolder(machine.Dir().c_str(), folder));
  std::string made(folder);
  EXPECT_EQ(made.rfind(machine.Dir() + "\\PWS", 0), 0u) << made;
  EXPECT_EQ(lstrcmpiA(made.substr(made.size() - 4).c_str(), ".TMP"), 0) << made;
  EXPECT_EQ(GetFileAttributesA(folder) & FILE_ATTRIBUTE_DIRECTORY, (DWORD)FILE_ATTRIBUTE_DIRECTORY);

  // Failures leave the output empty: a missing base, and one too long for the name, which is
  // refused before the name is formed.
  strcpy(folder, "stale");
  EXPECT_FALSE(CreateTempFolder(machine.Path("missing").c_str(), folder));
  EXPECT_STREQ(folder, "");
  EXPECT_TRUE(Logged("[10B] CreateTempFolder: Can't get temp name"));
  EXPECT_FALSE(CreateTempFolder(machine.Dir().c_str(), nullptr));
  strcpy(folder, "stale");
  EXPECT_FALSE(CreateTempFolder(LongWayTo(machine.Dir()).c_str(), folder));
  EXPECT_STREQ(folder, "");
  EXPECT_TRUE(Logged("[6F] CreateTempFolder: Can't get temp name"));
}

TEST_F(FileActionsTest, WalkAppliesTheActionToEveryEntryAndGoesOnAfterFailures) {
  std::string w = Folder("w");
  for (const char* name : {"a", "b", "c.txt"}) Put(w + "\\" + name, name);
  ASSERT_TRUE(CreateDirectoryA((w + "\\sub").c_str(), nullptr));
  g_visited.clear();
  EXPECT_EQ(ForEachFile(w.c_str(), Record, "ctx", nullptr), 0);
  std::sort(g_visited.begin(), g_visited.end());
  EXPECT_EQ(g_visited, (std::vector<std::string>{w + "\\a", w + "\\b", w + "\\c.txt", w + "\\sub"}))
      << "each entry once, the dot entries never";

  g_visited.clear();
  EXPECT_EQ(ForEachFile(Folder("empty").c_str(), Record, "ctx", nullptr), 1);
  EXPECT_TRUE(g_visited.empty());
  EXPECT_EQ(ForEachFile(nullptr, Record, "ctx", nullptr), 0);
  EXPECT_EQ(ForEachFile(machine.Dir().c_str(), nullptr, "ctx", nullptr), 0);
  EXPECT_EQ(ForEachFile(machine.Path("none").c_str(), ActDelFile, nullptr, nullptr), 0);
  EXPECT_TRUE(Logged("[3] Can't find any files matching  " + machine.Path("none") + "\\*.*: "));
}

TEST_F(FileActionsTest, EntriesWhosePathWouldNotFitAreRefusedNotCut) {
  std::string w = Folder("w");
  Put(w + "\\a-name-of-thirty-characters.x", "x");
  Put(w + "\\s", "s");
  std::string folder = LongWayTo(w);
  g_visited.clear();
  EXPECT_EQ(ForEachFile(folder.c_str(), Record, "ctx", nullptr), 0);
  ASSERT_EQ(g_visited.size(), 1u) << "only the entry that fits";
  EXPECT_EQ(g_visited[0], folder + "\\s");
  EXPECT_TRUE(Logged("[CE] File operation failed for  a-name-of-thirty-characters.x: "));

  // The actions refuse a destination that would not fit in the same way.
  std::string source = w + "\\a-name-of-thirty-characters.x";
  EXPECT_EQ(ActCopyFile(source.c_str(), folder.c_str()), 0);
  EXPECT_TRUE(Logged("[CE]                   to  " + folder));
  EXPECT_EQ(ActMoveFile(source.c_str(), folder.c_str()), 1);
  EXPECT_EQ(ActCheckLocked(source.c_str(), folder.c_str()), 1);
  EXPECT_EQ(LockedFileCount, 2);
  EXPECT_TRUE(TestMachine::Exists(source)) << "the source stays";
}

TEST_F(FileActionsTest, FolderTreesAreMadeWithEveryMissingFolderAbove) {
  std::string deep = machine.Path("a\\b\\c");
  EXPECT_TRUE(CreateFolderTree(deep.c_str()));
  EXPECT_EQ(log.Entries(),
            (std::vector<std::string>{"[0] CreateFolderTree() - made  " + machine.Path("a"),
                                      "[0] CreateFolderTree() - made  " + machine.Path("a\\b"),
                                      "[0] CreateFolderTree() - made  " + deep}));
  EXPECT_TRUE(CreateFolderTree((deep + "\\").c_str())) << "a folder that is there";
  EXPECT_EQ(log.Entries().size(), 3u) << "and nothing made for it";

  // A file in the way, as the folder or above it: the system's error, and the file stays.
  Put(machine.Path("f"), "x");
  for (const char* folder : {"f", "f\\sub"}) {
    EXPECT_TRUE(
        FAILS_WITH(CreateFolderTree(machine.Path(folder).c_str()), FALSE, ERROR_ALREADY_EXISTS))
        << folder;
  }
  EXPECT_EQ(Read(machine.Path("f")), "x");
  EXPECT_FALSE(CreateFolderTree(""));

  // A folder too long to name is refused whole, and a drive's root that isn't there is no folder.
  EXPECT_TRUE(FAILS_WITH(CreateFolderTree(machine.Path(std::string(300, 'l')).c_str()), FALSE,
                         ERROR_FILENAME_EXCED_RANGE));
  EXPECT_FALSE(CreateFolderTree("Q:\\"));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(log.Entries().size(), 3u) << "nothing made";
}

TEST_F(FileActionsTest, CleanupLeavesAFolderWithAReadOnlyFile) {
  std::string dir = Folder("t");
  Put(dir + "\\ro", "r");
  ASSERT_TRUE(SetFileAttributesA((dir + "\\ro").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(CleanupFolder(dir.c_str()));
  EXPECT_TRUE(LoggedAnywhere("] Cleanup files err  " + dir));
  EXPECT_TRUE(TestMachine::Exists(dir + "\\ro")) << "no attribute is cleared";
  SetFileAttributesA((dir + "\\ro").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(CleanupFolder(dir.c_str()));
  EXPECT_FALSE(CleanupFolder(nullptr));
}

// Targets held open without write sharing, and folders, can't be written: the lock probe counts
// them, and the move leaves them and their sources for the restart (read-only targets are the
// e2e row ReadOnlyTarget).
TEST_F(FileActionsTest, ProbeAndMoveCountTargetsThatCannotBeWritten) {
  std::string dest = Folder("dest");
  for (const char* name : {"free", "held"}) {
    Put(machine.Path(name), std::string("new ") + name);
    Put(dest + "\\" + name, "old");
  }
  ASSERT_TRUE(CreateDirectoryA((dest + "\\folder").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(machine.Path("folder").c_str(), nullptr));
  HeldByChild held(machine.Dir(), "file \"" + dest + "\\held\" 0x80000000 1");
  ASSERT_EQ(held.Ready(), "ok");

  for (const char* name : {"missing", "free", "held", "folder"})
    EXPECT_EQ(ActCheckLocked(("C:\\src\\" + std::string(name)).c_str(), dest.c_str()), 1) << name;
  EXPECT_EQ(LockedFileCount, 2) << "held and folder";
  LockedFileCount = 0;
  for (const char* name : {"free", "held", "folder"})
    EXPECT_EQ(ActMoveFile(machine.Path(name).c_str(), dest.c_str()), 1) << name;
  EXPECT_EQ(LockedFileCount, 2) << "held and folder";
  EXPECT_FALSE(TestMachine::Exists(machine.Path("free")));
  EXPECT_EQ(Read(dest + "\\free"), "new free");
  EXPECT_TRUE(TestMachine::Exists(machine.Path("held"))) << "the source stays";
  EXPECT_EQ(Read(dest + "\\held"), "old");
  held.Release();

  // A copy overwrites, and keeps its source.
  EXPECT_NE(ActCopyFile(machine.Path("held").c_str(), dest.c_str()), 0);
  EXPECT_EQ(Read(dest + "\\held"), "new held");
  EXPECT_TRUE(TestMachine::Exists(machine.Path("held")));
}

#ifndef _WIN32

TEST_F(FileActionsTest, HostSameTickNameAndFailingListingEnd) {
  machine.SetSetting("clock", "ticks", "0x1ABCD");
  ASSERT_TRUE(CreateDirectoryA(machine.Path("PWSABCD.TMP").c_str(), nullptr));
  char folder[MAX_PATH];
  EXPECT_FALSE(CreateTempFolder(machine.Dir().c_str(), folder));
  EXPECT_STREQ(folder, "");
  EXPECT_TRUE(Logged("[B7] CreateTempFolder: !!!"));
  // Ticks whose low 16 bits are zero still name a folder, and leave no file.
  machine.SetSetting("clock", "ticks", "0x30000");
  ASSERT_TRUE(CreateTempFolder(machine.Dir().c_str(), folder));
  EXPECT_EQ(std::string(folder), machine.Path("PWS1.tmp"));
  EXPECT_EQ(GetFileAttributesA(folder), (DWORD)FILE_ATTRIBUTE_DIRECTORY);

  std::string w = Folder("w");
  Put(w + "\\x", "x");
  Put(w + "\\y", "y");
  winsim::SetFault("FindNextFileA", 3, ERROR_NOT_READY);  // after ".", ".." and "x"
  EXPECT_EQ(ForEachFile(w.c_str(), ActDelFile, nullptr, nullptr), 0);
  winsim::ClearFaults();
  EXPECT_TRUE(Logged("[15] File operation failed for  " + w + "\\x: "))
      << "the last path formed, with the error that ended the listing";
  EXPECT_TRUE(TestMachine::Exists(w + "\\y"));

  // A folder held for a moment (a console host that still has it as its working folder) is
  // waited for; one held for good is reported after about two seconds.
  FailNext("RemoveDirectoryA", ERROR_SHARING_VIOLATION);
  EXPECT_TRUE(CleanupFolder(w.c_str()));
  EXPECT_FALSE(TestMachine::Exists(w));
  Folder("w");
  unsigned before = winsim::CallCount("RemoveDirectoryA");
  FailNext("RemoveDirectoryA", ERROR_SHARING_VIOLATION, true);
  EXPECT_FALSE(CleanupFolder(w.c_str()));
  EXPECT_EQ(winsim::CallCount("RemoveDirectoryA") - before, 21u) << "20 more tries, 100 ms apart";
  winsim::ClearFaults();
  EXPECT_TRUE(Logged("[20] Cleanup folder err  " + w));

  // A folder tree that can't be made whole takes away the folders it made.
  winsim::SetFault("CreateDirectoryA", winsim::CallCount("CreateDirectoryA") + 3,
                   ERROR_ACCESS_DENIED);
  EXPECT_TRUE(
      FAILS_WITH(CreateFolderTree(machine.Path("u\\v\\w").c_str()), FALSE, ERROR_ACCESS_DENIED));
  winsim::ClearFaults();
  EXPECT_FALSE(TestMachine::Exists(machine.Path("u")));
}

#endif
