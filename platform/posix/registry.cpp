/*
 * The registry: one REGEDIT4 text file per hive under $WINSIM_ROOT/registry (system.reg for
 * HKEY_LOCAL_MACHINE, user.reg for HKEY_CURRENT_USER; HKEY_CLASSES_ROOT is HKLM\Software\Classes).
 * Every call reads the hive afresh; a change is made under an exclusive lock of the hive and
 * written to a new file that then replaces the old one, so two processes changing one hive at
 * once never lose each other's values and a reader never sees half a file.
 */
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/handles.h"
#include "platform/posix/machine.h"

using winsim::detail::EqualNoCase;
using winsim::detail::FoldUpper1252;

namespace {

constexpr LONG kErrorKeyDeleted = 1018;
constexpr LONG kErrorNoAccess = 998;
constexpr LONG kErrorBadPathname = 161;

struct Value {
  std::string name;  // "" is the key's default value
  DWORD type = REG_NONE;
  std::string data;
};

struct Key {
  std::string spelling;  // the path below the hive root as first created
  std::vector<Value> values;
};

// A hive: keys by their upper-cased path below the root ("" is the root itself).
struct Hive {
  std::map<std::string, Key> keys;
};

enum HiveId { kMachine, kUser };

const char* HiveFile(HiveId id) { return id == kMachine ? "system.reg" : "user.reg"; }
const char* HiveRoot(HiveId id) {
  return id == kMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::string Upper(const std::string& s) {
  std::string out(s);
  for (char& c : out) c = (char)FoldUpper1252((unsigned char)c);
  return out;
}

// An open key: its hive and path, and the access it was opened with.
struct KeyObject : winsim::detail::KernelObject {
  HiveId hive = kMachine;
  std::string path;
  REGSAM access = 0;
};

/* ---- The hive files ---- */

std::string RegistryDir() {
  std::string root = winsim::detail::Root();
  if (root.empty()) return root;
  std::string dir = root + "/registry";
  mkdir(dir.c_str(), 0755);
  return dir;
}

std::string HexBytes(const std::string& data) {
  std::string out;
  char b[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(b, sizeof b, i ? ",%02x" : "%02x", (unsigned char)data[i]);
    out += b;
  }
  return out;
}

bool PlainString(const std::string& data) {
  if (data.empty() || data.back() != '\0') return false;
  for (size_t i = 0; i + 1 < data.size(); ++i)
    if ((unsigned char)data[i] < 0x20) return false;
  return true;
}

std::string Quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string Serialise(HiveId id, const Hive& hive) {
  std::string out = "REGEDIT4\n";
  for (const auto& entry : hive.keys) {
    const Key& key = entry.second;
    out += "\n[" + std::string(HiveRoot(id)) + (key.spelling.empty() ? "" : "\\") + key.spelling +
           "]\n";
    for (const Value& v : key.values) {
      out += v.name.empty() ? "@" : Quoted(v.name);
      out += "=";
      if (v.type == REG_SZ && PlainString(v.data)) {
        out += Quoted(v.data.substr(0, v.data.size() - 1));
      } else if (v.type == REG_DWORD && v.data.size() == 4) {
        DWORD d;
        std::memcpy(&d, v.data.data(), 4);
        char b[16];
        std::snprintf(b, sizeof b, "dword:%08x", d);
        out += b;
      } else if (v.type == REG_BINARY) {
        out += "hex:" + HexBytes(v.data);
      } else {
        char b[24];
        std::snprintf(b, sizeof b, "hex(%x):", v.type);
        out += b + HexBytes(v.data);
      }
      out += "\n";
    }
  }
  return out;
}

// Reads a quoted string starting at s[*i] == '"'; false when it does not close.
bool ReadQuoted(const std::string& s, size_t* i, std::string* out) {
  out->clear();
  for (size_t j = *i + 1; j < s.size(); ++j) {
    if (s[j] == '\\' && j + 1 < s.size()) {
      *out += s[++j];
    } else if (s[j] == '"') {
      *i = j + 1;
      return true;
    } else {
      *out += s[j];
    }
  }
  return false;
}

bool ParseHex(const std::string& text, std::string* out) {
  out->clear();
  std::string digits;
  for (char c : text) {
    if (c == ',' || c == ' ' || c == '\t') {
      if (!digits.empty()) out->push_back((char)std::stoul(digits, nullptr, 16));
      digits.clear();
    } else if (std::isxdigit((unsigned char)c) && digits.size() < 2) {
      digits += c;
    } else {
      return false;
    }
  }
  if (!digits.empty()) out->push_back((char)std::stoul(digits, nullptr, 16));
  return true;
}

bool ParseValue(const std::string& line, Value* v) {
  size_t i = 0;
  if (line[0] == '@') {
    v->name.clear();
    i = 1;
  } else if (!ReadQuoted(line, &i, &v->name)) {
    return false;
  }
  if (i >= line.size() || line[i] != '=') return false;
  std::string data = line.substr(i + 1);
  if (!data.empty() && data[0] == '"') {
    size_t j = 0;
    std::string s;
    if (!ReadQuoted(data, &j, &s)) return false;
    v->type = REG_SZ;
    v->data = s + '\0';
    return true;
  }
  if (data.compare(0, 6, "dword:") == 0) {
    DWORD d = (DWORD)std::strtoul(data.c_str() + 6, nullptr, 16);
    v->type = REG_DWORD;
    v->data.assign(reinterpret_cast<const char*>(&d), 4);
    return true;
  }
  if (data.compare(0, 4, "hex:") == 0) {
    v->type = REG_BINARY;
    return ParseHex(data.substr(4), &v->data);
  }
  if (data.compare(0, 4, "hex(") == 0) {
    size_t close = data.find("):");
    if (close == std::string::npos) return false;
    v->type = (DWORD)std::strtoul(data.c_str() + 4, nullptr, 16);
    return ParseHex(data.substr(close + 2), &v->data);
  }
  return false;
}

Hive Parse(HiveId id, const std::string& text) {
  Hive hive;
  hive.keys[""];  // the root always exists
  std::istringstream in(text);
  std::string line, joined;
  Key* current = nullptr;
  const std::string root = HiveRoot(id);
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.back() == '\\' && line[0] != '[') {  // continued hex data
      joined += line.substr(0, line.size() - 1);
      continue;
    }
    line = joined + line;
    joined.clear();
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    line = line.substr(start);
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      std::string path = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
      if (!EqualNoCase(path.substr(0, root.size()), root)) {
        current = nullptr;
        continue;
      }
      path = path.size() > root.size() ? path.substr(root.size() + 1) : std::string();
      current = &hive.keys[Upper(path)];
      current->spelling = path;
      continue;
    }
    Value v;
    if (current && ParseValue(line, &v)) current->values.push_back(v);
  }
  return hive;
}

// The hive, read under a lock of its own lock file: shared to read, exclusive to change.
class HiveLock {
 public:
  HiveLock(HiveId id, bool exclusive) : id_(id) {
    std::string dir = RegistryDir();
    if (dir.empty()) return;
    path_ = dir + "/" + HiveFile(id);
    fd_ = open((path_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0)
      while (flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
      }
  }
  ~HiveLock() {
    if (fd_ >= 0) close(fd_);
  }
  bool Ok() const { return fd_ >= 0; }
  Hive Read() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return Parse(id_, text.str());
  }
  LONG Write(const Hive& hive) const {
    std::string tmp = path_ + ".new";
    std::string text = Serialise(id_, hive);
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return (LONG)winsim::detail::ErrorFromErrno(errno);
    bool ok = write(fd, text.data(), text.size()) == (ssize_t)text.size() && fsync(fd) == 0;
    close(fd);
    if (!ok || rename(tmp.c_str(), path_.c_str()) != 0) {
      unlink(tmp.c_str());
      return ERROR_WRITE_FAULT;
    }
    return ERROR_SUCCESS;
  }

 private:
  HiveId id_;
  std::string path_;
  int fd_ = -1;
};

/* ---- Keys ---- */

// The hive and path a key handle stands for; false for a handle that is no key.
bool Locate(HKEY key, HiveId* hive, std::string* path, REGSAM* access) {
  uintptr_t value = reinterpret_cast<uintptr_t>(key);
  *access = KEY_ALL_ACCESS;  // predefined keys allow whatever the subkey's opening asks
  if (value == 0x80000002u) {
    *hive = kMachine;
    path->clear();
    return true;
  }
  if (value == 0x80000000u) {
    *hive = kMachine;
    *path = "Software\\Classes";
    return true;
  }
  if (value == 0x80000001u) {
    *hive = kUser;
    path->clear();
    return true;
  }
  auto object = winsim::detail::FindObject<KeyObject>(key);
  if (!object) return false;
  *hive = object->hive;
  *path = object->path;
  *access = object->access;
  return true;
}

// Joins a subkey to a path: separators collapsed, no leading or trailing ones. A subkey that
// begins with a backslash is refused, as Windows does.
bool JoinSubKey(const std::string& base, const char* subKey, std::string* out) {
  *out = base;
  if (!subKey || !*subKey) return true;
  if (subKey[0] == '\\') return false;
  std::string part;
  for (const char* p = subKey;; ++p) {
    if (*p == '\\' || *p == '\0') {
      if (!part.empty()) *out += (out->empty() ? "" : "\\") + part;
      part.clear();
      if (!*p) break;
    } else {
      part += *p;
    }
  }
  return true;
}

Value* FindValue(Key& key, const char* name) {
  std::string wanted = name ? name : "";
  for (Value& v : key.values)
    if (EqualNoCase(v.name, wanted)) return &v;
  return nullptr;
}

HKEY NewKeyHandle(HiveId hive, const std::string& path, REGSAM access) {
  auto object = std::make_shared<KeyObject>();
  object->hive = hive;
  object->path = path;
  object->access = access;
  return reinterpret_cast<HKEY>(winsim::detail::AddHandle(object));
}

LONG FaultCode() { return (LONG)GetLastError(); }

}  // namespace

// As WINSIM_FAULT_POINT, with the error as the result, as the registry's functions give it.
#define REG_FAULT_POINT(...) \
  if (winsim::detail::FaultHit(__func__, WINSIM_CALLER(), {__VA_ARGS__})) return FaultCode()

extern "C" LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className,
                                       DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES sa,
                                       PHKEY result, LPDWORD disposition) {
  REG_FAULT_POINT(ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED);
  (void)reserved;
  (void)className;
  (void)options;  // volatile keys are kept like the others
  (void)sa;
  if (!result) return ERROR_INVALID_PARAMETER;
  HiveId hive;
  std::string base, path;
  REGSAM baseAccess;
  if (!Locate(key, &hive, &base, &baseAccess)) return ERROR_INVALID_HANDLE;
  if (!JoinSubKey(base, subKey, &path)) return kErrorBadPathname;
  HiveLock lock(hive, true);
  if (!lock.Ok()) return ERROR_ACCESS_DENIED;
  Hive h = lock.Read();
  if (!h.keys.count(Upper(base))) return kErrorKeyDeleted;
  auto existing = h.keys.find(Upper(path));
  const bool created = existing == h.keys.end();
  std::string spelling = created ? path : existing->second.spelling;
  if (created) {
    // Every missing key on the way is made too, each with its path as given here.
    for (size_t sep = 0; sep != std::string::npos;) {
      sep = path.find('\\', sep + 1);
      std::string partial = path.substr(0, sep);
      Key& k = h.keys[Upper(partial)];
      if (k.spelling.empty()) k.spelling = partial;
    }
    if (LONG err = lock.Write(h)) return err;
  }
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = NewKeyHandle(hive, spelling, access);
  return ERROR_SUCCESS;
}

extern "C" LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access,
                                     PHKEY result) {
  REG_FAULT_POINT(ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED);
  (void)options;
  if (!result) return ERROR_INVALID_PARAMETER;
  HiveId hive;
  std::string base, path;
  REGSAM baseAccess;
  if (!Locate(key, &hive, &base, &baseAccess)) return ERROR_INVALID_HANDLE;
  if (!JoinSubKey(base, subKey, &path)) return kErrorBadPathname;
  HiveLock lock(hive, false);
  Hive h = lock.Read();
  auto it = h.keys.find(Upper(path));
  if (it == h.keys.end()) return ERROR_FILE_NOT_FOUND;
  *result = NewKeyHandle(hive, it->second.spelling.empty() ? path : it->second.spelling, access);
  return ERROR_SUCCESS;
}

extern "C" LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type,
                                        BYTE* data, LPDWORD size) {
  REG_FAULT_POINT(ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA, ERROR_ACCESS_DENIED);
  if (reserved) return ERROR_INVALID_PARAMETER;
  if (data && !size) return kErrorNoAccess;
  HiveId hive;
  std::string path;
  REGSAM access;
  if (!Locate(key, &hive, &path, &access)) return ERROR_INVALID_HANDLE;
  if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  HiveLock lock(hive, false);
  Hive h = lock.Read();
  auto it = h.keys.find(Upper(path));
  if (it == h.keys.end()) return kErrorKeyDeleted;
  Value* v = FindValue(it->second, name);
  if (!v) return ERROR_FILE_NOT_FOUND;
  if (type) *type = v->type;
  DWORD needed = (DWORD)v->data.size();
  if (!data) {
    if (size) *size = needed;
    return ERROR_SUCCESS;
  }
  if (*size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  std::memcpy(data, v->data.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

extern "C" LONG WINAPI RegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type,
                                      const BYTE* data, DWORD size) {
  REG_FAULT_POINT(ERROR_DISK_FULL, ERROR_ACCESS_DENIED);
  (void)reserved;
  if (size && !data) return kErrorNoAccess;
  HiveId hive;
  std::string path;
  REGSAM access;
  if (!Locate(key, &hive, &path, &access)) return ERROR_INVALID_HANDLE;
  if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  HiveLock lock(hive, true);
  if (!lock.Ok()) return ERROR_ACCESS_DENIED;
  Hive h = lock.Read();
  auto it = h.keys.find(Upper(path));
  if (it == h.keys.end()) return kErrorKeyDeleted;
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (Value* v = FindValue(it->second, name)) {
    v->type = type;
    v->data = bytes;
  } else {
    Value nv;
    nv.name = name ? name : "";
    nv.type = type;
    nv.data = bytes;
    it->second.values.push_back(nv);
  }
  return lock.Write(h);
}

extern "C" LONG WINAPI RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize,
                                     LPDWORD reserved, LPDWORD type, BYTE* data,
                                     LPDWORD dataSize) {
  REG_FAULT_POINT(ERROR_ACCESS_DENIED);
  if (reserved || !name || !nameSize) return ERROR_INVALID_PARAMETER;
  if (data && !dataSize) return ERROR_INVALID_PARAMETER;
  HiveId hive;
  std::string path;
  REGSAM access;
  if (!Locate(key, &hive, &path, &access)) return ERROR_INVALID_HANDLE;
  if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  HiveLock lock(hive, false);
  Hive h = lock.Read();
  auto it = h.keys.find(Upper(path));
  if (it == h.keys.end()) return kErrorKeyDeleted;
  if (index >= it->second.values.size()) return ERROR_NO_MORE_ITEMS;
  const Value& v = it->second.values[index];
  // The name must fit with its terminator, and then the data, as Windows checks them.
  if (v.name.size() >= *nameSize) return ERROR_MORE_DATA;
  std::memcpy(name, v.name.c_str(), v.name.size() + 1);
  *nameSize = (DWORD)v.name.size();
  if (type) *type = v.type;
  if (dataSize) {
    if (data && *dataSize < v.data.size()) {
      *dataSize = (DWORD)v.data.size();
      return ERROR_MORE_DATA;
    }
    if (data) std::memcpy(data, v.data.data(), v.data.size());
    *dataSize = (DWORD)v.data.size();
  }
  return ERROR_SUCCESS;
}

extern "C" LONG WINAPI RegDeleteValueA(HKEY key, LPCSTR name) {
  REG_FAULT_POINT(ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED);
  HiveId hive;
  std::string path;
  REGSAM access;
  if (!Locate(key, &hive, &path, &access)) return ERROR_INVALID_HANDLE;
  if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  HiveLock lock(hive, true);
  if (!lock.Ok()) return ERROR_ACCESS_DENIED;
  Hive h = lock.Read();
  auto it = h.keys.find(Upper(path));
  if (it == h.keys.end()) return kErrorKeyDeleted;
  auto& values = it->second.values;
  for (auto v = values.begin(); v != values.end(); ++v)
    if (EqualNoCase(v->name, name ? name : "")) {
      values.erase(v);
      return lock.Write(h);
    }
  return ERROR_FILE_NOT_FOUND;
}

extern "C" LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  REG_FAULT_POINT(ERROR_ACCESS_DENIED);
  HiveId hive;
  std::string base, path;
  REGSAM access;
  if (!Locate(key, &hive, &base, &access)) return ERROR_INVALID_HANDLE;
  if (!subKey || !JoinSubKey(base, subKey, &path)) return kErrorBadPathname;
  HiveLock lock(hive, true);
  if (!lock.Ok()) return ERROR_ACCESS_DENIED;
  Hive h = lock.Read();
  std::string upper = Upper(path);
  if (upper.empty() || !h.keys.count(upper)) return ERROR_FILE_NOT_FOUND;
  for (const auto& entry : h.keys)  // a key with subkeys stays, as on Windows
    if (entry.first.size() > upper.size() && entry.first.compare(0, upper.size(), upper) == 0 &&
        entry.first[upper.size()] == '\\')
      return ERROR_ACCESS_DENIED;
  h.keys.erase(upper);
  return lock.Write(h);
}

extern "C" LONG WINAPI RegCloseKey(HKEY key) {
  REG_FAULT_POINT(ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED);
  if ((reinterpret_cast<uintptr_t>(key) & 0xFFFFFFF0u) == 0x80000000u) return ERROR_SUCCESS;
  if (!winsim::detail::FindObject<KeyObject>(key)) return ERROR_INVALID_HANDLE;
  winsim::detail::RemoveHandle(key);
  return ERROR_SUCCESS;
}
