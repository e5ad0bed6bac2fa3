/* What every fileops test starts from: a fresh machine, a captured log, silent reports. */
#ifndef TESTS_UNIT_FILEOPS_FIXTURE_H
#define TESTS_UNIT_FILEOPS_FIXTURE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "fileops/file_actions.h"
#include "support/report.h"
#include "tests/support/log_reader.h"
#include "tests/support/test_machine.h"
#ifndef _WIN32
#include "platform/posix/winsim.h"
#endif

class FileopsTest : public ::testing::Test {
 protected:
  FileopsTest() : log(machine) {
    LockedFileCount = 0;
    SilentMode = true;  // reports go to the log only
  }
  ~FileopsTest() override { SilentMode = false; }
  // Whether some log entry starts with text (anywhere: holds it).
  bool Logged(const std::string& text, bool anywhere = false) const {
    for (const std::string& e : log.Entries())
      if (anywhere ? e.find(text) != std::string::npos : e.rfind(text, 0) == 0) return true;
    return false;
  }
  // A fresh empty folder of the test (the test's own folder holds the captured log).
  std::string Folder(const std::string& name) {
    std::string path = machine.Path(name);
    EXPECT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path;
    return path;
  }
  static void Put(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(TestMachine::WriteBytes(path, bytes)) << path;
  }
  static std::string Read(const std::string& path) {
    std::string bytes;
    TestMachine::ReadBytes(path, &bytes);
    return bytes;
  }
  // What folder holds, sorted by name: "name=bytes" for a file, "name/" for a folder.
  static std::string Tree(const std::string& folder) {
    std::set<std::string> entries;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &found)) {
      std::string name = found.cFileName, path = folder + "\\" + name;
      bool dir = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
      if (name != "." && name != "..") entries.insert(dir ? name + "/" : name + "=" + Read(path));
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    std::string tree;
    for (const std::string& e : entries) tree += (tree.empty() ? "" : " ") + e;
    return tree;
  }
  // dir by a 250-character detour: its mask fits in MAX_PATH, a 30-character name added does not.
  static std::string LongWayTo(std::string path) {
    while (path.size() < 248) path += "\\.";
    if (path.size() < 250) path += "\\";
    return path;
  }

  TestMachine machine;
  LogCapture log;
};

#endif
