/* Path helpers used by the installation sequence and the file actions. */
#include "support/paths.h"

#include <string.h>

#include "platform/win32.h"

const char* GetFileNamePart(const char* path) {
  if (!path) return nullptr;
  for (const char* p = path + strlen(path); p > path; --p) {
    char c = p[-1];
    if (c == '\\' || c == '/' || c == ':') return p;
  }
  return path;
}

char* StripTrailingBackslash(char* path) {
  if (!path) return nullptr;
  size_t n = strlen(path);
  if (n > 0 && path[n - 1] == '\\') path[n - 1] = '\0';
  return path;
}

bool JoinPath(char* out, const char* folder, const char* name) {
  out[0] = '\0';
  if (strlen(folder) + 1 + strlen(name) + 1 > MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  wsprintfA(out, "%s\\%s", folder, name);
  return true;
}
