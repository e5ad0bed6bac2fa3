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
  BOOL ok;
  while ((ok = ReadFile(h, buf, sizeof buf, &got, nullptr)) && got > 0) bytes->append(buf, got);
  CloseHandle(h);
  return ok;
}

bool TestMachine::Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// use(key) on root\name opened with access (made first when create); false when it cannot be.
template <typename Use>
bool WithKey(HKEY root, const char* name, REGSAM access, bool create, Use use) {
  HKEY key;
  if ((create ? RegCreateKeyExA(root, name, 0, nullptr, 0, access, nullptr, &key, nullptr)
              : RegOpenKeyExA(root, name, 0, access, &key)) != ERROR_SUCCESS)
    return false;
  bool ok = use(key);
  RegCloseKey(key);
  return ok;
}

}  // namespace

bool ReadValue(HKEY root, const char* keyName, const char* name, DWORD* type, std::string* data) {
  return WithKey(root, keyName, KEY_QUERY_VALUE, false, [&](HKEY key) {
    DWORD size = 1 << 20;  // more than any value of a test; a larger one fails, not cut short
    data->assign(size, '\0');
    bool ok =
        RegQueryValueExA(key, name, nullptr, type, (BYTE*)&(*data)[0], &size) == ERROR_SUCCESS;
    data->resize(ok ? size : 0);
    return ok;
  });
}

bool SetValue(HKEY root, const char* keyName, const char* name, DWORD type,
              const std::string& data) {
  return WithKey(root, keyName, KEY_SET_VALUE, true, [&](HKEY key) {
    return RegSetValueExA(key, name, 0, type, (const BYTE*)data.data(), (DWORD)data.size()) ==
           ERROR_SUCCESS;
  });
}

void DeleteValue(HKEY root, const char* keyName, const char* name) {
  WithKey(root, keyName, KEY_SET_VALUE, false,
          [&](HKEY key) { return RegDeleteValueA(key, name) == ERROR_SUCCESS; });
}

#ifdef _WIN32

TestMachine::TestMachine() {
  static int counter = 0;
  dir_ = "C:\\pwtest\\" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
  fs::remove_all(dir_);
  fs::create_directories(dir_);
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
  SetSetting("windows", "directory", "C:\\WINDOWS");
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
  ini_[section][key] = value;
  std::ofstream out(root_ + "/machine.ini", std::ios::binary | std::ios::trunc);
  for (const auto& [name, pairs] : ini_) {
    out << "[" << name << "]\n";
    for (const auto& [k, v] : pairs) out << k << "=" << v << "\n";
  }
}

#endif
