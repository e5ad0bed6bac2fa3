/* The temporary folder, the folder walk and the four file actions. */
#include "fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/win32_checks.h"

namespace {

std::vector<std::string> g_visited;

LONG Record(const char* path, const char* context) {
  g_visited.push_back(path);
  EXPECT_STREQ(context, "ctx");
  return std::string(path).substr(strlen(path) - 2) != "\\b";  // the entry "b" fails
}

using Entries = std::vector<std::string>;

// ForEachFile over folder with Record: its result, then the entries it gave Record, sorted.
Entries Walk(const std::string& folder) {
  g_visited.clear();
  LONG result = ForEachFile(folder.c_str(), Record, "ctx", nullptr);
  std::sort(g_visited.begin(), g_visited.end());
  g_visited.insert(g_visited.begin(), std::to_string(result));
  return g_visited;
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

  // Failures leave the output empty: a missing base, one too long for the name (refused first).
  EXPECT_FALSE(CreateTempFolder(machine.Dir().c_str(), nullptr));
  for (auto [base, code] : {std::make_pair(machine.Path("missing"), "[10B]"),
                            std::make_pair(LongWayTo(machine.Dir()), "[6F]")}) {
    strcpy(folder, "stale");
    EXPECT_FALSE(CreateTempFolder(base.c_str(), folder)) << base;
    EXPECT_STREQ(folder, "") << base;
    EXPECT_TRUE(Logged(code + std::string(" CreateTempFolder: Can't get temp name"))) << base;
  }
}

// Every entry once, dot entries never; a failure does not end the walk; too long is refused.
TEST_F(FileActionsTest, WalkAppliesTheActionToEveryEntryThatFits) {
  std::string w = Folder("w"), distant = LongWayTo(w),
              thirty = w + "\\a-name-of-thirty-characters.x";
  for (const char* name : {"a", "b", "c.txt"}) Put(w + "\\" + name, name);
  ASSERT_TRUE(CreateDirectoryA((w + "\\sub").c_str(), nullptr));
  EXPECT_EQ(Walk(w), (Entries{"0", w + "\\a", w + "\\b", w + "\\c.txt", w + "\\sub"}));
  Put(thirty, "x");
  DeleteFileA((w + "\\b").c_str());
  EXPECT_EQ(Walk(distant), (Entries{"0", distant + "\\a", distant + "\\c.txt", distant + "\\sub"}));
  EXPECT_TRUE(Logged("[CE] File operation failed for  a-name-of-thirty-characters.x: "));
  EXPECT_EQ(Walk(Folder("empty")), Entries{"1"});
  EXPECT_EQ(ForEachFile(nullptr, Record, "ctx", nullptr), 0);
  EXPECT_EQ(ForEachFile(machine.Dir().c_str(), nullptr, "ctx", nullptr), 0);
  EXPECT_EQ(ForEachFile(machine.Path("none").c_str(), ActDelFile, nullptr, nullptr), 0);
  EXPECT_TRUE(Logged("[3] Can't find any files matching  " + machine.Path("none") + "\\*.*: "));

  // The actions refuse a destination that would not fit in the same way; the source stays.
  EXPECT_EQ(ActCopyFile(thirty.c_str(), distant.c_str()), 0);
  EXPECT_TRUE(Logged("[CE]                   to  " + distant));
  for (auto act : {ActMoveFile, ActCheckLocked}) EXPECT_EQ(act(thirty.c_str(), distant.c_str()), 1);
  EXPECT_EQ(LockedFileCount, 2);
  EXPECT_EQ(Read(thirty), "x");
}

TEST_F(FileActionsTest, FolderTreesAreMadeWithEveryMissingFolderAboveAndCleanedUp) {
  std::string deep = machine.Path("a\\b\\c");
  EXPECT_TRUE(CreateFolderTree(deep.c_str()));
  EXPECT_TRUE(CreateFolderTree((deep + "\\").c_str())) << "a folder that is there";
  const std::vector<std::string> made = {"[0] CreateFolderTree() - made  " + machine.Path("a"),
                                         "[0] CreateFolderTree() - made  " + machine.Path("a\\b"),
                                         "[0] CreateFolderTree() - made  " + deep};
  EXPECT_EQ(log.Entries(), made);

  // Refused with the system's error: a file in the way, as the folder or above it (it stays); a
  // folder too long to name (refused whole); a drive's root that isn't there; no folder at all.
  Put(machine.Path("f"), "x");
  for (auto [folder, error] :
       {std::make_pair(machine.Path("f"), ERROR_ALREADY_EXISTS),
        std::make_pair(machine.Path("f\\sub"), ERROR_ALREADY_EXISTS),
        std::make_pair(machine.Path(std::string(300, 'l')), ERROR_FILENAME_EXCED_RANGE),
        std::make_pair(std::string("Q:\\"), ERROR_PATH_NOT_FOUND),
        std::make_pair(std::string(), ERROR_PATH_NOT_FOUND)})
    EXPECT_TRUE(FAILS_WITH(CreateFolderTree(folder.c_str()), FALSE, error)) << folder;
  EXPECT_EQ(Read(machine.Path("f")), "x");
  EXPECT_EQ(log.Entries(), made) << "nothing more made";
  // A last name "." is the folder above it, made like any other (its own make then fails).
  EXPECT_TRUE(CreateFolderTree(machine.Path("n\\.").c_str()));
  EXPECT_EQ(GetFileAttributesA(machine.Path("n").c_str()), (DWORD)FILE_ATTRIBUTE_DIRECTORY);

  std::string dir = Folder("t");
  Put(dir + "\\ro", "r");
  ASSERT_TRUE(SetFileAttributesA((dir + "\\ro").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(CleanupFolder(dir.c_str()));
  EXPECT_TRUE(Logged("] Cleanup files err  " + dir, true));
  EXPECT_EQ(Tree(dir), "ro=r") << "no attribute is cleared";
  SetFileAttributesA((dir + "\\ro").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(CleanupFolder(dir.c_str()));
  EXPECT_FALSE(CleanupFolder(nullptr));
}

// Targets held open without write sharing, and folders, are counted by the lock probe and left
// with their sources by the move (read-only ones: e2e ReadOnlyTarget). A copy overwrites.
TEST_F(FileActionsTest, ProbeAndMoveCountTargetsThatCannotBeWritten) {
  std::string src = Folder("src"), dest = Folder("dest");
  for (const std::string& dir : {src, dest}) {
    ASSERT_TRUE(CreateDirectoryA((dir + "\\folder").c_str(), nullptr));
    for (const char* name : {"free", "held"}) Put(dir + "\\" + name, dir == src ? "new" : "old");
  }
  HeldByChild held(machine.Dir(), "file \"" + dest + "\\held\" 0x80000000 1");
  ASSERT_EQ(held.Ready(), "ok");
  for (const char* name : {"missing", "free", "held", "folder"})
    EXPECT_EQ(ActCheckLocked(("C:\\src\\" + std::string(name)).c_str(), dest.c_str()), 1) << name;
  EXPECT_EQ(LockedFileCount, 2) << "held and folder";
  LockedFileCount = 0;
  for (const char* name : {"free", "held", "folder"})
    EXPECT_EQ(ActMoveFile((src + "\\" + name).c_str(), dest.c_str()), 1) << name;
  EXPECT_EQ(LockedFileCount, 2) << "held and folder";
  EXPECT_EQ(Tree(src) + " | " + Tree(dest), "folder/ held=new | folder/ free=new held=old");
  held.Release();
  EXPECT_NE(ActCopyFile((src + "\\held").c_str(), dest.c_str()), 0);
  EXPECT_EQ(Tree(src) + " | " + Tree(dest), "folder/ held=new | folder/ free=new held=new");
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
  for (const char* name : {"x", "y"}) Put(w + "\\" + name, name);
  winsim::SetFault("FindNextFileA", 3, ERROR_NOT_READY);  // after ".", ".." and "x"
  EXPECT_EQ(ForEachFile(w.c_str(), ActDelFile, nullptr, nullptr), 0);
  EXPECT_TRUE(Logged("[15] File operation failed for  " + w + "\\x: "))
      << "the last path formed, with the error that ended the listing";
  EXPECT_EQ(Tree(w), "y=y");

  // A folder held for a moment (a console host's working folder) is waited for, 20 more tries.
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
  EXPECT_FALSE(TestMachine::Exists(machine.Path("u")));
}

#endif
