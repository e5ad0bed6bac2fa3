/* The temporary folder, the folder walk and the four file actions. */
#include <set>

#include "fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/win32_checks.h"
#ifndef _WIN32
#include "platform/posix/winsim.h"
#endif

namespace {

std::vector<std::string> g_visited;

LONG Record(const char* path, const char* context) {
  g_visited.push_back(path);
  EXPECT_STREQ(context, "ctx");
  std::string p(path);
  return p.substr(p.size() - 2) != "\\b";  // the entry "b" fails
}

bool EndsWithNoCase(const std::string& s, const std::string& end) {
  if (s.size() < end.size()) return false;
  for (size_t i = 0; i < end.size(); ++i)
    if (toupper((unsigned char)s[s.size() - end.size() + i]) != toupper((unsigned char)end[i]))
      return false;
  return true;
}

using FileActionsTest = FileopsTest;

}  // namespace

TEST_F(FileActionsTest, TempFolderIsMadeUnderTheBaseAndCleanedUp) {
  char folder[MAX_PATH];
  ASSERT_TRUE(CreateTempFolder(machine.Dir().c_str(), folder));
  std::string made(folder);
  EXPECT_EQ(made.rfind(machine.Dir() + "\\PWS", 0), 0u) << made;
  EXPECT_TRUE(EndsWithNoCase(made, ".TMP")) << made;
  EXPECT_EQ(GetFileAttributesA(folder) & FILE_ATTRIBUTE_DIRECTORY, (DWORD)FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(LoggedAnywhere("] CreateTempFolder: " + made));
  EXPECT_TRUE(LoggedAnywhere("] CreateTempFolder: in " + machine.Dir()));

  ASSERT_TRUE(TestMachine::WriteBytes(made + "\\one", "1"));
  ASSERT_TRUE(TestMachine::WriteBytes(made + "\\two", "2"));
  EXPECT_TRUE(CleanupFolder(folder));
  EXPECT_FALSE(TestMachine::Exists(made));
  EXPECT_TRUE(Logged("[0] Cleanup folder  " + made));
  EXPECT_TRUE(Logged("[0] ActDelFile() - file  " + made + "\\one"));
}

TEST_F(FileActionsTest, TempFolderFailuresLeaveTheOutputEmpty) {
  char folder[MAX_PATH] = "stale";
  EXPECT_FALSE(CreateTempFolder(machine.Path("missing").c_str(), folder));
  EXPECT_STREQ(folder, "");
  EXPECT_TRUE(Logged("[10B] CreateTempFolder: Can't get temp name")) << "a missing base";
  EXPECT_FALSE(CreateTempFolder(machine.Dir().c_str(), nullptr));
  // A base too long for the name is refused before the name is formed.
  strcpy(folder, "stale");
  EXPECT_FALSE(CreateTempFolder(LongWayTo(machine.Dir()).c_str(), folder));
  EXPECT_STREQ(folder, "");
  EXPECT_TRUE(Logged("[6F] CreateTempFolder: Can't get temp name"));
}

TEST_F(FileActionsTest, WalkAppliesTheActionToEveryEntryAndGoesOnAfterFailures) {
  std::string w = Folder("w");
  for (const char* name : {"a", "b", "c.txt"})
    ASSERT_TRUE(TestMachine::WriteBytes(w + "\\" + name, name));
  ASSERT_TRUE(CreateDirectoryA((w + "\\sub").c_str(), nullptr));
  ASSERT_TRUE(SetFileAttributesA((w + "\\c.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  g_visited.clear();
  EXPECT_EQ(ForEachFile(w.c_str(), Record, "ctx", nullptr), 0);
  std::set<std::string> visited(g_visited.begin(), g_visited.end());
  EXPECT_EQ(visited, (std::set<std::string>{w + "\\a", w + "\\b", w + "\\c.txt", w + "\\sub"}));
  EXPECT_EQ(g_visited.size(), 4u) << "each entry once, the dot entries never";
  EXPECT_TRUE(Logged("[0] ForEachFile() - by mask  " + w + "\\*.*"));
  EXPECT_TRUE(Logged("[0] ForEachFile() -  FAIL"));
  SetFileAttributesA((w + "\\c.txt").c_str(), FILE_ATTRIBUTE_NORMAL);

  ASSERT_TRUE(CreateDirectoryA(machine.Path("empty").c_str(), nullptr));
  g_visited.clear();
  EXPECT_EQ(ForEachFile(machine.Path("empty").c_str(), Record, "ctx", nullptr), 1);
  EXPECT_TRUE(g_visited.empty());
  EXPECT_TRUE(Logged("[0] ForEachFile() -  OK"));
  EXPECT_EQ(ForEachFile(nullptr, Record, "ctx", nullptr), 0);
  EXPECT_EQ(ForEachFile(machine.Dir().c_str(), nullptr, "ctx", nullptr), 0);
}

TEST_F(FileActionsTest, WalkOfAMissingFolderIsReported) {
  std::string mask = machine.Path("none") + "\\*.*";
  EXPECT_EQ(ForEachFile(machine.Path("none").c_str(), ActDelFile, nullptr, nullptr), 0);
  EXPECT_TRUE(Logged("[3] Can't find any files matching  " + mask + ": "));
}

TEST_F(FileActionsTest, EntriesWhosePathWouldNotFitAreRefusedNotCut) {
  std::string w = Folder("w");
  ASSERT_TRUE(TestMachine::WriteBytes(w + "\\a-name-of-thirty-characters.x", "x"));
  ASSERT_TRUE(TestMachine::WriteBytes(w + "\\s", "s"));
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
  EXPECT_EQ(GetFileAttributesA(deep.c_str()) & FILE_ATTRIBUTE_DIRECTORY,
            (DWORD)FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(log.Entries(),
            (std::vector<std::string>{"[0] CreateFolderTree() - made  " + machine.Path("a"),
                                      "[0] CreateFolderTree() - made  " + machine.Path("a\\b"),
                                      "[0] CreateFolderTree() - made  " + deep}));
  EXPECT_TRUE(CreateFolderTree((deep + "\\").c_str())) << "a folder that is there";
  EXPECT_EQ(log.Entries().size(), 3u) << "and nothing made for it";

  // A file in the way, as the folder or above it: the system's error, and the file stays.
  ASSERT_TRUE(TestMachine::WriteBytes(machine.Path("f"), "x"));
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

TEST_F(FileActionsTest, CleanupLeavesAFolderWithASubfolderOrAReadOnlyFile) {
  std::string dir = machine.Path("t");
  ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((dir + "\\inner").c_str(), nullptr));
  EXPECT_FALSE(CleanupFolder(dir.c_str()));
  EXPECT_TRUE(TestMachine::Exists(dir));
  EXPECT_TRUE(LoggedAnywhere("] Cleanup files err  " + dir));
  ASSERT_TRUE(RemoveDirectoryA((dir + "\\inner").c_str()));

  ASSERT_TRUE(TestMachine::WriteBytes(dir + "\\ro", "r"));
  ASSERT_TRUE(SetFileAttributesA((dir + "\\ro").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(CleanupFolder(dir.c_str()));
  EXPECT_TRUE(TestMachine::Exists(dir + "\\ro")) << "no attribute is cleared";
  SetFileAttributesA((dir + "\\ro").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(CleanupFolder(dir.c_str()));
  EXPECT_FALSE(CleanupFolder(nullptr));
}

TEST_F(FileActionsTest, CopyOverwritesAndLogsBothPaths) {
  ASSERT_TRUE(CreateDirectoryA(machine.Path("dest").c_str(), nullptr));
  ASSERT_TRUE(TestMachine::WriteBytes(machine.Path("f.dll"), "new"));
  ASSERT_TRUE(TestMachine::WriteBytes(machine.Path("dest\\f.dll"), "old"));
  EXPECT_NE(ActCopyFile(machine.Path("f.dll").c_str(), machine.Path("dest").c_str()), 0);
  EXPECT_EQ(Read(machine.Path("dest\\f.dll")), "new");
  EXPECT_TRUE(TestMachine::Exists(machine.Path("f.dll")));
  EXPECT_EQ(log.Entries(),
            (std::vector<std::string>{"[0] ActCopyFile() - from  " + machine.Path("f.dll"),
                                      "[0]                   to  " + machine.Path("dest\\f.dll")}));
}

TEST_F(FileActionsTest, MoveCopiesThenDeletesAndCountsWhatCannotBePlaced) {
  std::string dest = machine.Path("dest");
  ASSERT_TRUE(CreateDirectoryA(dest.c_str(), nullptr));
  for (const char* name : {"free", "ro", "held"}) {
    ASSERT_TRUE(TestMachine::WriteBytes(machine.Path(name), std::string("new ") + name));
    ASSERT_TRUE(TestMachine::WriteBytes(dest + "\\" + name, "old"));
  }
  ASSERT_TRUE(SetFileAttributesA((dest + "\\ro").c_str(), FILE_ATTRIBUTE_READONLY));
  HeldByChild held(machine.Dir(), "file \"" + dest + "\\held\" 0x40000000 0");
  ASSERT_EQ(held.Ready(), "ok");

  EXPECT_EQ(ActMoveFile(machine.Path("free").c_str(), dest.c_str()), 1);
  EXPECT_FALSE(TestMachine::Exists(machine.Path("free")));
  EXPECT_EQ(Read(dest + "\\free"), "new free");
  EXPECT_TRUE(Logged("[0] ActMoveFile() - move  " + machine.Path("free")));
  EXPECT_EQ(LockedFileCount, 0);

  const bool readOnly = ReadOnlyIsEnforced(machine.Dir());
  if (readOnly) {
    EXPECT_EQ(ActMoveFile(machine.Path("ro").c_str(), dest.c_str()), 1);
    EXPECT_TRUE(Logged("[5] ActMoveFile() - after reboot " + dest + "\\ro"));
  }
  EXPECT_EQ(ActMoveFile(machine.Path("held").c_str(), dest.c_str()), 1);
  EXPECT_TRUE(Logged("[20] ActMoveFile() - after reboot " + dest + "\\held"));
  ASSERT_TRUE(CreateDirectoryA(machine.Path("sub").c_str(), nullptr));
  EXPECT_EQ(ActMoveFile(machine.Path("sub").c_str(), dest.c_str()), 1);
  EXPECT_EQ(LockedFileCount, readOnly ? 3 : 2);
  held.Release();
  for (const char* name : {"ro", "held"}) {
    if (!readOnly && std::string(name) == "ro") continue;
    EXPECT_TRUE(TestMachine::Exists(machine.Path(name))) << "the source stays: " << name;
    EXPECT_EQ(Read(dest + "\\" + name), "old") << name;
  }
  SetFileAttributesA((dest + "\\ro").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FileActionsTest, LockProbeCountsTargetsThatCannotBeWrittenExclusively) {
  std::string dest = machine.Path("dest");
  ASSERT_TRUE(CreateDirectoryA(dest.c_str(), nullptr));
  ASSERT_TRUE(TestMachine::WriteBytes(dest + "\\free", "f"));
  ASSERT_TRUE(TestMachine::WriteBytes(dest + "\\ro", "r"));
  ASSERT_TRUE(TestMachine::WriteBytes(dest + "\\held", "h"));
  ASSERT_TRUE(CreateDirectoryA((dest + "\\folder").c_str(), nullptr));
  ASSERT_TRUE(SetFileAttributesA((dest + "\\ro").c_str(), FILE_ATTRIBUTE_READONLY));
  HeldByChild held(machine.Dir(), "file \"" + dest + "\\held\" 0x80000000 1");
  ASSERT_EQ(held.Ready(), "ok");

  EXPECT_EQ(ActCheckLocked("C:\\src\\missing", dest.c_str()), 1);
  EXPECT_TRUE(log.Entries().empty()) << "a missing target writes no line";
  EXPECT_EQ(LockedFileCount, 0);
  EXPECT_EQ(ActCheckLocked("C:\\src\\free", dest.c_str()), 1);
  EXPECT_TRUE(Logged("[0] ActCheckLocked() - not locked " + dest + "\\free"));
  EXPECT_EQ(LockedFileCount, 0);
  const bool readOnly = ReadOnlyIsEnforced(machine.Dir());
  EXPECT_EQ(ActCheckLocked("C:\\src\\ro", dest.c_str()), 1);
  if (readOnly) {
    EXPECT_TRUE(Logged("[5] ActCheckLocked() - locked " + dest + "\\ro"));
  }
  EXPECT_EQ(ActCheckLocked("C:\\src\\held", dest.c_str()), 1);
  EXPECT_TRUE(Logged("[20] ActCheckLocked() - locked " + dest + "\\held"));
  EXPECT_EQ(ActCheckLocked("C:\\src\\folder", dest.c_str()), 1);
  EXPECT_EQ(LockedFileCount, readOnly ? 3 : 2);
  EXPECT_EQ(GetFileAttributesA((dest + "\\ro").c_str()) & FILE_ATTRIBUTE_READONLY,
            (DWORD)FILE_ATTRIBUTE_READONLY)
      << "no attribute is changed";
  held.Release();
  SetFileAttributesA((dest + "\\ro").c_str(), FILE_ATTRIBUTE_NORMAL);
}

#ifndef _WIN32

TEST_F(FileActionsTest, HostSameTickNameAndFailingListingEnd) {
  machine.SetSetting("clock", "ticks", "0x1ABCD");
  ASSERT_TRUE(CreateDirectoryA(machine.Path("PWSABCD.TMP").c_str(), nullptr));
  char folder[MAX_PATH];
  EXPECT_FALSE(CreateTempFolder(machine.Dir().c_str(), folder));
  EXPECT_STREQ(folder, "");
  EXPECT_TRUE(Logged("[B7] CreateTempFolder: !!!"));

  std::string w = Folder("w");
  ASSERT_TRUE(TestMachine::WriteBytes(w + "\\x", "x"));
  ASSERT_TRUE(TestMachine::WriteBytes(w + "\\y", "y"));
  winsim::SetFault("FindNextFileA", 3, ERROR_NOT_READY);  // after ".", ".." and "x"
  EXPECT_EQ(ForEachFile(w.c_str(), ActDelFile, nullptr, nullptr), 0);
  winsim::ClearFaults();
  EXPECT_TRUE(Logged("[15] File operation failed for  " + w + "\\x: "))
      << "the last path formed, with the error that ended the listing";
  EXPECT_TRUE(TestMachine::Exists(w + "\\y"));

  // A folder held for a moment (a console host that still has it as its working folder) is
  // waited for; one held for good is reported after about two seconds.
  winsim::SetFault("RemoveDirectoryA", winsim::CallCount("RemoveDirectoryA") + 1,
                   ERROR_SHARING_VIOLATION);
  EXPECT_TRUE(CleanupFolder(w.c_str()));
  EXPECT_FALSE(TestMachine::Exists(w));
  Folder("w");
  unsigned before = winsim::CallCount("RemoveDirectoryA");
  winsim::SetFault("RemoveDirectoryA", before + 1, ERROR_SHARING_VIOLATION, true);
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
