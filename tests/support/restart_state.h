/* What a test leaves for the next start of Windows, kept as it was and put back after the test:
 * under Wine the pending-operation list and wininit.ini belong to the prefix every test shares,
 * and a left-over entry would act at its next wineboot. */
#ifndef TESTS_SUPPORT_RESTART_STATE_H
#define TESTS_SUPPORT_RESTART_STATE_H

#include <string>

#include "tests/support/test_machine.h"

inline constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr char kPending[] = "PendingFileRenameOperations";

class PendingList {
 public:
  PendingList()
      : had_(ReadValue(HKEY_LOCAL_MACHINE, kSessionManager, kPending, nullptr, &saved_)) {}
  ~PendingList() {
    DeleteValue(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
    if (had_) SetValue(HKEY_LOCAL_MACHINE, kSessionManager, kPending, REG_MULTI_SZ, saved_);
  }
  // What the test added to the list, with the closing empty string (which moves to the end).
  std::string Added() const {
    std::string now, before = saved_.substr(0, saved_.empty() ? 0 : saved_.size() - 1);
    ReadValue(HKEY_LOCAL_MACHINE, kSessionManager, kPending, nullptr, &now);
    return now.compare(0, before.size(), before) == 0 ? now.substr(before.size())
                                                      : "changed: " + now;
  }

 private:
  std::string saved_;  // before had_, which its constructor fills
  bool had_;
};

// A file of the Windows folder.
inline std::string WindowsFile(const char* name) {
  char folder[MAX_PATH] = "";
  GetWindowsDirectoryA(folder, sizeof folder);
  return std::string(folder) + "\\" + name;
}

// The Windows folder's wininit.ini; the test starts without one.
class Wininit {
 public:
  Wininit() : path_(WindowsFile("wininit.ini")), had_(TestMachine::ReadBytes(path_, &saved_)) {
    DeleteFileA(path_.c_str());
  }
  ~Wininit() {
    DeleteFileA(path_.c_str());
    if (had_) TestMachine::WriteBytes(path_, saved_);
  }
  const std::string& Path() const { return path_; }
  bool Write(const std::string& text) const { return TestMachine::WriteBytes(path_, text); }
  std::string Text() const {
    std::string text;
    TestMachine::ReadBytes(path_, &text);
    return text;
  }
  bool Exists() const { return TestMachine::Exists(path_); }

 private:
  std::string path_, saved_;  // before had_, which its constructor fills
  bool had_;
};

// One pair of the pending list as Windows writes it: "\??\source", then "!\??\target" ("!" for
// MOVEFILE_REPLACE_EXISTING), or an empty string when the source is to be deleted.
inline std::string PendingPair(const std::string& source, const std::string& target,
                               bool replace = true) {
  return "\\??\\" + source + std::string(1, '\0') +
         (target.empty() ? "" : (replace ? "!" : "") + std::string("\\??\\") + target) +
         std::string(1, '\0');
}

#endif
