/*
 * The simulated machine's folder and its settings file, machine.ini. Settings are read from the
 * file on every request: tests change the machine (and the file) between cases in one process,
 * and a value remembered from an earlier machine would be a wrong answer.
 */
#include "platform/posix/machine.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace winsim {
namespace detail {

namespace {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n'))
    --e;
  return s.substr(b, e - b);
}

}  // namespace

std::string Root() {
  const char* root = std::getenv("WINSIM_ROOT");
  if (!root || !*root) return std::string();
  std::string r(root);
  while (r.size() > 1 && r.back() == '/') r.pop_back();
  return r;
}

std::string Setting(const char* section, const char* key, const std::string& fallback) {
  std::string root = Root();
  if (root.empty()) return fallback;
  std::ifstream in(root + "/machine.ini", std::ios::binary);
  if (!in) return fallback;
  std::string line;
  bool inSection = false;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      inSection =
          close != std::string::npos && EqualNoCase(Trim(line.substr(1, close - 1)), section);
      continue;
    }
    if (!inSection) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (EqualNoCase(Trim(line.substr(0, eq)), key)) return Trim(line.substr(eq + 1));
  }
  return fallback;
}

std::vector<std::string> SettingList(const char* section, const char* key) {
  std::vector<std::string> items;
  std::string all = Setting(section, key, std::string());
  size_t start = 0;
  while (start <= all.size()) {
    size_t comma = all.find(',', start);
    if (comma == std::string::npos) comma = all.size();
    std::string item = Trim(all.substr(start, comma - start));
    if (!item.empty()) items.push_back(item);
    start = comma + 1;
  }
  return items;
}

std::string StateDir() {
  std::string root = Root();
  if (root.empty()) return root;
  std::string dir = root + "/state";
  mkdir(dir.c_str(), 0755);  // an existing folder is the usual case
  return dir;
}

}  // namespace detail
}  // namespace winsim
