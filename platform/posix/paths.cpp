/*
 * Windows paths in the simulated machine. Every file function of the host layer turns its path
 * argument into a host path here, so that drive letters, '\' and '/', "." and "..", the
 * trimming of trailing dots and spaces, forbidden characters, the MAX_PATH limit and the
 * case-insensitive lookup behave the same way for all of them.
 */
#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/machine.h"
#include "platform/posix/winsim.h"

namespace winsim {
namespace detail {

// Finds name in the host folder dir: the exact spelling first, else the first entry (in byte
// order, so that the answer does not depend on the order readdir gives) equal without regard
// to case.
bool FindEntryNoAlias(const std::string& dir, const std::string& name, std::string* actual) {
  struct stat st;
  if (lstat((dir == "/" ? "/" + name : dir + "/" + name).c_str(), &st) == 0) {
    *actual = name;
    return true;
  }
  // Every new file's name misses above: reading the whole folder each time would make filling
  // a folder quadratic.
  int indexed = FindFoldedEntry(dir, name, actual);
  if (indexed >= 0) return indexed == 1;
  DIR* d = opendir(dir.c_str());
  if (!d) return false;
  bool found = false;
  while (struct dirent* e = readdir(d)) {
    std::string entry = e->d_name;
    if (entry == "." || entry == "..") continue;
    if (EqualNoCase(entry, name) && (!found || entry < *actual)) {
      *actual = entry;
      found = true;
    }
  }
  closedir(d);
  return found;
}

namespace {

bool IsSep(char c) { return c == '\\' || c == '/'; }

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char LowerDrive(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

// The current folder of the process as drive letter and components. WINSIM_CWD stands in for
// the folder a process was started in; anything unusable there falls back to C:\ .
void CurrentFolder(char* drive, std::vector<std::string>* comps) {
  *drive = 'c';
  comps->clear();
  const char* cwd = std::getenv("WINSIM_CWD");
  if (!cwd || !IsDriveLetter(cwd[0]) || cwd[1] != ':' || (cwd[2] && !IsSep(cwd[2]))) return;
  *drive = LowerDrive(cwd[0]);
  std::string part;
  for (const char* p = cwd + 2;; ++p) {
    if (*p == '\0' || IsSep(*p)) {
      if (part == "..") {
        if (!comps->empty()) comps->pop_back();
      } else if (!part.empty() && part != ".") {
        comps->push_back(part);
      }
      part.clear();
      if (*p == '\0') break;
    } else {
      part += *p;
    }
  }
}

bool HasInvalidChar(const char* p) {
  for (; *p; ++p) {
    unsigned char c = (unsigned char)*p;
    if (c < 32 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*' || c == ':')
      return true;
  }
  return false;
}

// Appends the components of rel to comps, applying "." and ".." and Windows' trimming: a
// folder component loses one trailing dot, the last component every trailing dot and space.
void AddComponents(const char* rel, std::vector<std::string>* comps) {
  std::vector<std::string> parts;
  std::string part;
  for (const char* p = rel;; ++p) {
    if (*p == '\0' || IsSep(*p)) {
      if (!part.empty()) parts.push_back(part);
      part.clear();
      if (*p == '\0') break;
    } else {
      part += *p;
    }
  }
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string name = parts[i];
    if (name == ".") continue;
    if (name == "..") {
      if (!comps->empty()) comps->pop_back();
      continue;
    }
    if (i + 1 < parts.size()) {
      if (name.back() == '.') name.pop_back();
    } else {
      while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    }
    if (!name.empty()) comps->push_back(name);
  }
}

std::string Join(const std::string& dir, const std::string& name) {
  return dir == "/" ? "/" + name : dir + "/" + name;
}

// Finds name in the host folder dir, by its own name or by its short alias.
bool FindEntry(const std::string& dir, const std::string& name, std::string* actual) {
  return FindEntryNoAlias(dir, name, actual) || FindShortAlias(dir, name, actual);
}

bool IsHostDir(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The host folder behind drive letter (lower case), or empty when the drive does not exist.
std::string DriveFolder(char letter) {
  std::string root = Root();
  if (!root.empty()) {
    std::string folder = root + "/drive_" + std::string(1, letter);
    if (IsHostDir(folder)) return folder;
  }
  if (letter == 'z') return "/";
  return std::string();
}

}  // namespace

DWORD ResolvePath(const char* windowsPath, ResolvedPath* out) {
  *out = ResolvedPath();
  if (!windowsPath || !*windowsPath) return ERROR_PATH_NOT_FOUND;
  // The ANSI functions convert the name into a MAX_PATH buffer before anything else.
  if (std::strlen(windowsPath) > MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;

  const char* p = windowsPath;
  if (IsSep(p[0]) && IsSep(p[1]) && (p[2] == '?' || p[2] == '.') && IsSep(p[3])) {
    p += 4;  // \\?\C:\... and \\.\C:\... name the same files as C:\...
    if (!(IsDriveLetter(p[0]) && p[1] == ':' && IsSep(p[2]))) return ERROR_PATH_NOT_FOUND;
  } else if (IsSep(p[0]) && IsSep(p[1])) {
    return ERROR_BAD_NETPATH;  // the machine has no network
  }

  char drive;
  std::vector<std::string> comps;
  CurrentFolder(&drive, &comps);
  if (IsDriveLetter(p[0]) && p[1] == ':') {
    char given = LowerDrive(p[0]);
    p += 2;
    if (IsSep(*p) || given != drive) comps.clear();  // drive-relative paths of another drive
    drive = given;                                   // start at its root
  } else if (IsSep(*p)) {
    comps.clear();
  }
  if (HasInvalidChar(p)) return ERROR_INVALID_NAME;

  size_t len = std::strlen(windowsPath);
  out->trailingSeparator = len > 0 && IsSep(windowsPath[len - 1]);
  AddComponents(p, &comps);

  std::string full = std::string(1, (char)(drive - 'a' + 'A')) + ":\\";
  for (size_t i = 0; i < comps.size(); ++i) full += (i ? "\\" : "") + comps[i];
  if (full.size() >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  out->windows = full;

  std::string host = DriveFolder(drive);
  if (host.empty()) return ERROR_PATH_NOT_FOUND;
  for (size_t i = 0; i < comps.size(); ++i) {
    std::string actual;
    bool last = i + 1 == comps.size();
    if (!FindEntry(host, comps[i], &actual)) {
      if (!last) return ERROR_PATH_NOT_FOUND;
      out->host = Join(host, comps[i]);
      return 0;
    }
    host = Join(host, actual);
    if (!last && !IsHostDir(host)) return ERROR_PATH_NOT_FOUND;
  }
  struct stat st;
  out->host = host;
  out->exists = lstat(host.c_str(), &st) == 0;
  out->isDir = out->exists && IsHostDir(host);
  return 0;
}

std::string WindowsPathOfHost(const std::string& hostPath) {
  std::string root = Root();
  if (!root.empty()) {
    char buf[PATH_MAX];
    if (realpath(root.c_str(), buf)) {
      std::string prefix = std::string(buf) + "/drive_";
      if (hostPath.compare(0, prefix.size(), prefix) == 0 && hostPath.size() > prefix.size() &&
          IsDriveLetter(hostPath[prefix.size()]) &&
          (hostPath.size() == prefix.size() + 1 || hostPath[prefix.size() + 1] == '/')) {
        std::string rest = hostPath.substr(prefix.size() + 1);
        for (char& c : rest)
          if (c == '/') c = '\\';
        char letter = hostPath[prefix.size()];
        if (letter >= 'a') letter = (char)(letter - 'a' + 'A');
        return std::string(1, letter) + ":" + (rest.empty() ? "\\" : rest);
      }
    }
  }
  std::string rest = hostPath;
  for (char& c : rest)
    if (c == '/') c = '\\';
  return "Z:" + rest;
}

}  // namespace detail

std::string HostPath(const char* windowsPath) {
  detail::ResolvedPath resolved;
  if (detail::ResolvePath(windowsPath, &resolved) != 0) return std::string();
  return resolved.host;
}

}  // namespace winsim
