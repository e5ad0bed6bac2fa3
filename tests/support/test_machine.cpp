/* A fresh machine or scratch folder per test; see test_machine.h. */
#include "tests/support/test_machine.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

std::string TestMachine::Path(const std::string& name) const { return dir_ + "\\" + name; }

bool TestMachine::WriteBytes(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = bytes.empty() || WriteFile(h, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
  CloseHandle(h);
  return ok && written == bytes.size();
}

bool TestMachine::ReadBytes(const std::string& path, std::string* bytes) {
  bytes->clear();
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  char buf[65536];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(h, buf, sizeof buf, &got, nullptr) != 0) && got > 0)
    bytes->append(buf, got);
  CloseHandle(h);
  return ok;
}

bool TestMachine::Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool ReadValue(HKEY root, const char* keyName, const char* name, DWORD* type, std::string* data) {
  HKEY key;
  if (RegOpenKeyExA(root, keyName, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  bool ok = RegQueryValueExA(key, name, nullptr, type, nullptr, &size) == ERROR_SUCCESS;
  data->assign(ok ? size : 0, '\0');
  ok = ok && RegQueryValueExA(key, name, nullptr, type, (BYTE*)(size ? &(*data)[0] : nullptr),
                              &size) == ERROR_SUCCESS;
  data->resize(ok ? size : 0);
  RegCloseKey(key);
  return ok;
}

bool SetValue(HKEY root, const char* keyName, const char* name, DWORD type,
              const std::string& data) {
  HKEY key;
  if (RegCreateKeyExA(root, keyName, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  bool ok = RegSetValueExA(key, name, 0, type, (const BYTE*)data.data(), (DWORD)data.size()) ==
            ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

void DeleteValue(HKEY root, const char* keyName, const char* name) {
  HKEY key;
  if (RegOpenKeyExA(root, keyName, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

#ifdef _WIN32

#include <process.h>

TestMachine::TestMachine() {
  static int counter = 0;
  CreateDirectoryA("C:\\pwtest", nullptr);
  dir_ = "C:\\pwtest\\" + std::to_string(_getpid()) + "-" + std::to_string(++counter);
  fs::remove_all(dir_);
  CreateDirectoryA(dir_.c_str(), nullptr);
}

TestMachine::~TestMachine() {
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

#else

#include "platform/posix/winsim.h"

TestMachine::TestMachine() {
  const char* base = std::getenv("PW_TEST_TMP");
  root_ = std::string(base && *base ? base : "/tmp") + "/winsim-XXXXXX";
  if (!mkdtemp(&root_[0])) std::abort();
  for (const char* sub : {"/drive_c/WINDOWS", "/drive_c/pwtest", "/state", "/registry"})
    fs::create_directories(root_ + sub);
  ini_lines_ = {"[windows]", "directory=C:\\WINDOWS"};
  WriteIni();
  setenv("WINSIM_ROOT", root_.c_str(), 1);
  // A fresh machine starts with no faults set and every call counter at zero.
  winsim::ClearFaults();
  dir_ = "C:\\pwtest";
}

TestMachine::~TestMachine() {
  winsim::ClearFaults();
  unsetenv("WINSIM_ROOT");
  std::error_code ec;
  fs::remove_all(root_, ec);
}

std::string TestMachine::HostPathOfC(const std::string& winPath) const {
  std::string rest = winPath.substr(2);
  std::replace(rest.begin(), rest.end(), '\\', '/');
  return root_ + "/drive_c" + rest;
}

void TestMachine::AddDrive(char letter) {
  fs::create_directories(root_ + "/drive_" + std::string(1, (char)std::tolower(letter)));
}

void TestMachine::SetSetting(const std::string& section, const std::string& key,
                             const std::string& value) {
  const std::string head = "[" + section + "]", line = key + "=" + value;
  auto it = std::find(ini_lines_.begin(), ini_lines_.end(), head);
  if (it == ini_lines_.end()) it = ini_lines_.insert(it, head);
  auto pos = it + 1;
  while (pos != ini_lines_.end() && (*pos)[0] != '[' && pos->rfind(key + "=", 0) != 0) ++pos;
  if (pos == ini_lines_.end() || (*pos)[0] == '[')
    ini_lines_.insert(pos, line);
  else
    *pos = line;
  WriteIni();
}

void TestMachine::WriteIni() {
  std::ofstream out(root_ + "/machine.ini", std::ios::binary | std::ios::trunc);
  for (const auto& line : ini_lines_) out << line << "\n";
}

#endif
