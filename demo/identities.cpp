/*
 * identities.exe, the stand-in product. The setup starts it at the end of an installation (or
 * Windows does, once, after the restart); it appends to identities.txt in the folder
 * PW_DEMO_RECORD one entry per start: its command line, its working folder and the files it
 * finds beside itself, so the record tells how often, how and from where it was started.
 */
#include <algorithm>
#include <string>
#include <vector>

#include "demo/demo_record.h"

namespace {

// The names of the files in the folder that holds this program, in byte order.
std::string FilesBesideSelf() {
  char self[MAX_PATH] = "";
  DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
  if (length == 0 || length >= sizeof self) return "(unknown)";
  std::string pattern(self);
  pattern = pattern.substr(0, pattern.find_last_of('\\') + 1) + "*";
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE walk = FindFirstFileA(pattern.c_str(), &found);
  if (walk != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileA(walk, &found));
    FindClose(walk);
  }
  std::sort(names.begin(), names.end());
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : " ") + name;
  return list;
}

}  // namespace

int main() {
  demo::AppendRecord("identities.txt",
                     "start\r\n" + demo::StartLines() + "beside: " + FilesBesideSelf() + "\r\n");
  return 0;
}
