/* The machine a test runs on: on the host a fresh simulated machine (WINSIM_ROOT), removed after
 * the test; under Wine the Wine prefix. Either way the test gets an empty folder of its own (a
 * Windows path) and works through Win32. */
#ifndef TESTS_SUPPORT_TEST_MACHINE_H
#define TESTS_SUPPORT_TEST_MACHINE_H

#include <map>
#include <string>
#include <vector>

#include "platform/win32.h"

#ifndef _WIN32
#include "platform/posix/winsim.h"
#endif

class TestMachine {
 public:
  TestMachine();
  ~TestMachine();
  TestMachine(const TestMachine&) = delete;
  TestMachine& operator=(const TestMachine&) = delete;

  // Windows path of this test's empty scratch folder (no trailing backslash), and of a name in it.
  const std::string& Dir() const { return dir_; }
  std::string Path(const std::string& name) const;

  // Whole-file helpers over Win32 (CreateFileA, ReadFile, WriteFile).
  static bool WriteBytes(const std::string& path, const std::string& bytes);
  static bool ReadBytes(const std::string& path, std::string* bytes);
  static bool Exists(const std::string& path);

#ifndef _WIN32
  // Host only: the folder that holds the simulated machine, and the host path behind a path of
  // its drive C: ("C:\x\y" -> root/drive_c/x/y).
  const std::string& Root() const { return root_; }
  std::string HostPathOfC(const std::string& winPath) const;
  // Host only: sets one setting of machine.ini (written at once); makes drive LETTER exist.
  void SetSetting(const std::string& section, const std::string& key, const std::string& value);
  void AddDrive(char letter);
#endif

 private:
  std::string dir_;
#ifndef _WIN32
  std::string root_;
  std::map<std::string, std::map<std::string, std::string>> ini_;
#endif
};

// Whole registry values over Win32: a value's type and bytes, false when it is missing (type may
// be null); setting makes the key.
#ifndef _WIN32
// The next call of function (and, with andLater, every later one) fails with error.
inline void FailNext(const char* function, DWORD error, bool andLater = false) {
  winsim::SetFault(function, winsim::CallCount(function) + 1, error, andLater);
}
#endif

bool ReadValue(HKEY root, const char* key, const char* name, DWORD* type, std::string* data);
bool SetValue(HKEY root, const char* key, const char* name, DWORD type, const std::string& data);
void DeleteValue(HKEY root, const char* key, const char* name);

#endif
