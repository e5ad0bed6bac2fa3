/*
 * Short (8.3) names. A name that is not a legal 8.3 name gets an alias in Windows' own style,
 * "PONDWI~1.TXT", when a short name is first asked for; the aliases of the whole machine live in
 * $WINSIM_ROOT/state/short-names, one "folder TAB alias TAB long name" line each (the folder as
 * a host path below the machine's root), so that every process, and every path given later,
 * finds the same file by its alias. An alias whose long name is gone no longer counts.
 */
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/machine.h"

using winsim::detail::EqualNoCase;
using winsim::detail::Fail;
using winsim::detail::ResolvedPath;

namespace {

struct Alias {
  std::string dir;  // below the root: "/drive_c/pwtest"
  std::string alias;
  std::string name;
};

bool IsDosInvalid(unsigned char c) {
  return c < 0x20 || c >= 0x80 || std::strchr("*?<>|\"+=,;[] :/\\", c) != nullptr;
}

// Whether name is already a legal 8.3 name: up to 8 characters, one dot and up to 3 more, none
// of the characters that DOS names refuse. Case does not matter.
bool IsLegal83(const std::string& name) {
  if (name.empty() || name.size() > 12) return false;
  size_t dot = std::string::npos;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '.') {
      if (dot != std::string::npos) return false;
      dot = i;
    } else if (IsDosInvalid((unsigned char)name[i])) {
      return false;
    }
  }
  if (dot == std::string::npos) return name.size() <= 8;
  return dot > 0 && dot <= 8 && name.size() - dot - 1 <= 3;
}

// The characters of part that an 8.3 name keeps, upper-cased: no spaces or dots, and '_' for
// characters DOS names do not allow.
std::string DosChars(const std::string& part) {
  std::string out;
  for (char c : part) {
    unsigned char u = (unsigned char)c;
    if (c == ' ' || c == '.') continue;
    out += IsDosInvalid(u) ? '_' : (char)winsim::detail::FoldUpper1252(u);
  }
  return out;
}

std::string RelativeDir(const std::string& hostDir) {
  std::string root = winsim::detail::Root();
  if (!root.empty() && hostDir.compare(0, root.size(), root) == 0)
    return hostDir.substr(root.size());
  return hostDir;
}

bool IsEntry(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The alias file, under a lock of its own: shared to read, exclusive to add.
class AliasFile {
 public:
  explicit AliasFile(bool exclusive) {
    std::string state = winsim::detail::StateDir();
    if (state.empty()) return;
    path_ = state + "/short-names";
    fd_ = open((path_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0)
      while (flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
      }
  }
  ~AliasFile() {
    if (fd_ >= 0) close(fd_);
  }
  bool Ok() const { return fd_ >= 0; }
  std::vector<Alias> Read() const {
    std::vector<Alias> all;
    std::ifstream in(path_, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      size_t a = line.find('\t'), b = a == std::string::npos ? a : line.find('\t', a + 1);
      if (b == std::string::npos) continue;
      all.push_back(Alias{line.substr(0, a), line.substr(a + 1, b - a - 1), line.substr(b + 1)});
    }
    return all;
  }
  bool Add(const Alias& alias) const {
    std::ofstream out(path_, std::ios::binary | std::ios::app);
    out << alias.dir << '\t' << alias.alias << '\t' << alias.name << '\n';
    return (bool)out;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

// The live alias of name in hostDir, or empty.
std::string AliasOf(const std::vector<Alias>& all, const std::string& hostDir,
                    const std::string& name) {
  std::string dir = RelativeDir(hostDir);
  for (const Alias& a : all)
    if (a.dir == dir && a.name == name && !IsEntry(hostDir + "/" + a.alias) &&
        IsEntry(hostDir + "/" + a.name))
      return a.alias;
  return std::string();
}

// Whether candidate already names something in hostDir: a file, or another file's live alias.
bool Taken(const std::vector<Alias>& all, const std::string& hostDir,
           const std::string& candidate) {
  std::string actual;
  if (winsim::detail::FindEntryNoAlias(hostDir, candidate, &actual)) return true;
  std::string dir = RelativeDir(hostDir);
  for (const Alias& a : all)
    if (a.dir == dir && EqualNoCase(a.alias, candidate) && IsEntry(hostDir + "/" + a.name))
      return true;
  return false;
}

// Windows' form: up to six characters of the name, "~N", and up to three of the extension.
std::string MakeAlias(const std::vector<Alias>& all, const std::string& hostDir,
                      const std::string& name) {
  std::string trimmed = name;
  while (!trimmed.empty() && trimmed[0] == '.') trimmed.erase(0, 1);
  size_t dot = trimmed.rfind('.');
  std::string base = DosChars(trimmed.substr(0, dot));
  std::string ext = dot == std::string::npos ? std::string() : DosChars(trimmed.substr(dot + 1));
  if (base.empty()) base = "_";
  if (ext.size() > 3) ext.resize(3);
  for (unsigned n = 1; n < 1000000; ++n) {
    std::string tail = "~" + std::to_string(n);
    std::string candidate = base.substr(0, 8 - tail.size()) + tail + (ext.empty() ? "" : "." + ext);
    if (!Taken(all, hostDir, candidate)) return candidate;
  }
  return std::string();
}

// The short name of the entry name in hostDir: name itself when it is a legal 8.3 name, else
// its alias, made now when it has none.
bool ShortNameOf(const std::string& hostDir, const std::string& name, std::string* out) {
  if (IsLegal83(name)) {
    *out = name;
    return true;
  }
  {
    AliasFile shared(false);
    if (!shared.Ok()) return false;
    *out = AliasOf(shared.Read(), hostDir, name);
    if (!out->empty()) return true;
  }
  AliasFile exclusive(true);
  if (!exclusive.Ok()) return false;
  std::vector<Alias> all = exclusive.Read();
  *out = AliasOf(all, hostDir, name);  // another process may have made it meanwhile
  if (!out->empty()) return true;
  *out = MakeAlias(all, hostDir, name);
  return !out->empty() && exclusive.Add(Alias{RelativeDir(hostDir), *out, name});
}

}  // namespace

namespace winsim {
namespace detail {

bool FindShortAlias(const std::string& hostDir, const std::string& alias, std::string* actual) {
  if (alias.find('~') == std::string::npos) return false;
  AliasFile shared(false);
  if (!shared.Ok()) return false;
  std::string dir = RelativeDir(hostDir);
  for (const Alias& a : shared.Read())
    if (a.dir == dir && EqualNoCase(a.alias, alias) && IsEntry(hostDir + "/" + a.name)) {
      *actual = a.name;
      return true;
    }
  return false;
}

}  // namespace detail
}  // namespace winsim

extern "C" DWORD WINAPI GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size) {
  WINSIM_FAULT_POINT(0u, ERROR_ACCESS_DENIED);
  if (!longPath) return Fail(ERROR_INVALID_PARAMETER, 0u);
  if (!*longPath) return Fail(ERROR_BAD_PATHNAME, 0u);
  std::string out;
  const char* p = longPath;
  if ((p[0] == '\\' || p[0] == '/') && (p[1] == '\\' || p[1] == '/') && p[2] == '?' &&
      (p[3] == '\\' || p[3] == '/')) {
    out.assign(p, 4);
    p += 4;
  }
  if (std::strpbrk(p, "*?")) return Fail(ERROR_INVALID_NAME, 0u);
  if (p[0] && p[0] != '/' && p[1] == ':') {
    out.append(p, 2);
    p += 2;
  }
  // Each component in turn must exist; it is replaced by its short name, separators and the
  // dot components stay as given. Components are looked up by the path as given: a short path
  // may be longer than its long one ("+" is "_~1") and need not fit where the long one does.
  std::string given = out;
  while (*p) {
    if (*p == '\\' || *p == '/') {
      given += *p;
      out += *p++;
      continue;
    }
    const char* end = p;
    while (*end && *end != '\\' && *end != '/') ++end;
    std::string component(p, end);
    p = end;
    given += component;
    if (component == "." || component == "..") {
      out += component;
      continue;
    }
    ResolvedPath resolved;
    if (winsim::detail::ResolvePath(given.c_str(), &resolved) != 0 || !resolved.exists)
      return Fail(ERROR_FILE_NOT_FOUND, 0u);
    size_t slash = resolved.host.rfind('/');
    std::string shortName;
    if (!ShortNameOf(resolved.host.substr(0, slash), resolved.host.substr(slash + 1), &shortName))
      return Fail(ERROR_ACCESS_DENIED, 0u);
    out += shortName;
  }
  if (!shortPath || out.size() + 1 > size) return (DWORD)out.size() + 1;
  std::memcpy(shortPath, out.c_str(), out.size() + 1);
  return (DWORD)out.size();
}
