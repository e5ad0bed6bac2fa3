/*
 * What the next start of Windows does to the machine (`winsim boot`): the delayed moves of
 * PendingFileRenameOperations, then wininit.ini's [Rename] section as the 95 family's wininit
 * does it, then the RunOnce values of the machine and of the user. Everything goes through the
 * layer's own Win32 calls, so paths, short names and share rules are the machine's.
 */
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/machine.h"
#include "platform/posix/moves.h"
#include "platform/posix/winsim.h"

namespace {

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingValue[] = "PendingFileRenameOperations";
const char kRunOnce[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

class Steps {
 public:
  explicit Steps(std::vector<std::string>* log) : log_(log) {}
  void Note(const std::string& what, bool ok) {
    if (!ok) ++failed_;
    if (log_)
      log_->push_back(what + (ok ? "" : " (failed, error " + std::to_string(GetLastError()) + ")"));
  }
  int Failed() const { return failed_; }

 private:
  std::vector<std::string>* log_;
  int failed_ = 0;
};

// A deletion at start: a file, or a folder that is empty by then.
BOOL DeleteAtStart(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return RemoveDirectoryA(path.c_str());
  return DeleteFileA(path.c_str());
}

std::string WithoutNtPrefix(const std::string& path) {
  return path.compare(0, 4, "\\??\\") == 0 ? path.substr(4) : path;
}

void PendingOperations(Steps* steps) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                    &key) != ERROR_SUCCESS)
    return;
  DWORD type = 0, size = 0;
  std::string list;
  if (RegQueryValueExA(key, kPendingValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    list.resize(size);
    if (size && RegQueryValueExA(key, kPendingValue, nullptr, &type,
                                 reinterpret_cast<BYTE*>(&list[0]), &size) != ERROR_SUCCESS)
      size = 0;
    list.resize(size);
    RegDeleteValueA(key, kPendingValue);
  }
  RegCloseKey(key);
  std::vector<std::string> strings;
  for (size_t at = 0; at < list.size();) {
    size_t end = list.find('\0', at);
    if (end == std::string::npos) end = list.size();
    strings.push_back(list.substr(at, end - at));
    at = end + 1;
  }
  // Pairs of source and target; the list ends with an empty source.
  for (size_t i = 0; i + 1 < strings.size() && !strings[i].empty(); i += 2) {
    std::string source = WithoutNtPrefix(strings[i]);
    std::string target = strings[i + 1];
    if (target.empty()) {
      steps->Note("delete " + source, DeleteAtStart(source) != 0);
      continue;
    }
    DWORD flags = 0;
    if (target[0] == '!') {
      flags = MOVEFILE_REPLACE_EXISTING;
      target.erase(0, 1);
    }
    target = WithoutNtPrefix(target);
    steps->Note("move " + source + " to " + target,
                winsim::detail::HostMoveFileExA(source.c_str(), target.c_str(), flags) != 0);
  }
}

bool IsHeader(const std::string& line) { return !line.empty() && line[0] == '['; }

void WininitRenames(Steps* steps) {
  char folder[MAX_PATH];
  UINT n = GetWindowsDirectoryA(folder, sizeof folder);
  if (n == 0 || n >= sizeof folder - 13) return;
  std::string ini = std::string(folder) + "\\wininit.ini";
  std::string text;
  HANDLE file = CreateFileA(ini.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(file, buf, sizeof buf, &got, nullptr) && got) text.append(buf, got);
  CloseHandle(file);

  bool inRename = false;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (IsHeader(line)) {
      inRename = line.size() >= 8 && lstrcmpiA(line.substr(0, 8).c_str(), "[Rename]") == 0;
      continue;
    }
    size_t eq = line.find('=');
    if (!inRename || eq == std::string::npos) continue;
    std::string target = line.substr(0, eq), source = line.substr(eq + 1);
    if (lstrcmpiA(target.c_str(), "NUL") == 0) {
      steps->Note("delete " + source, DeleteAtStart(source) != 0);
      continue;
    }
    // The 95 family's wininit works below Windows, on short names only: the target is deleted
    // and the source takes the target's name as written, so a long name is lost.
    if (GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES) DeleteFileA(target.c_str());
    steps->Note("move " + source + " to " + target,
                winsim::detail::HostMoveFileExA(source.c_str(), target.c_str(), 0) != 0);
  }
  std::string bak = std::string(folder) + "\\wininit.bak";
  steps->Note(
      "rename " + ini + " to " + bak,
      winsim::detail::HostMoveFileExA(ini.c_str(), bak.c_str(), MOVEFILE_REPLACE_EXISTING) != 0);
}

void RunOnce(HKEY root, const char* rootName, Steps* steps) {
  HKEY key;
  if (RegOpenKeyExA(root, kRunOnce, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
    return;
  std::vector<std::pair<std::string, std::string>> values;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameSize = sizeof name, type = 0, size = 0;
    if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      break;
    std::string data(size, '\0');
    nameSize = sizeof name;
    if (size && RegEnumValueA(key, i, name, &nameSize, nullptr, &type,
                              reinterpret_cast<BYTE*>(&data[0]), &size) != ERROR_SUCCESS)
      break;
    if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
    values.emplace_back(name, std::string(data.c_str()));
  }
  // Each value is deleted before its command runs, so a command that fails is not run again.
  for (const auto& value : values) {
    RegDeleteValueA(key, value.first.c_str());
    std::string line = value.second;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    bool started = !line.empty() && CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0,
                                                   nullptr, nullptr, &startup, &child);
    if (started) {
      WaitForSingleObject(child.hProcess, INFINITE);
      CloseHandle(child.hThread);
      CloseHandle(child.hProcess);
    }
    steps->Note(
        std::string("run ") + rootName + " RunOnce \"" + value.first + "\": " + value.second,
        started);
  }
  RegCloseKey(key);
}

}  // namespace

namespace winsim {

int Boot(std::vector<std::string>* log) {
  Steps steps(log);
  PendingOperations(&steps);
  WininitRenames(&steps);
  RunOnce(HKEY_LOCAL_MACHINE, "HKLM", &steps);
  RunOnce(HKEY_CURRENT_USER, "HKCU", &steps);
  return steps.Failed();
}

}  // namespace winsim
