/* Text helpers. */
#include "support/text.h"

#include <string.h>

#include "platform/win32.h"

char* FindStringNoCase(char* text, const char* pattern) {
  if (!text || !pattern) return nullptr;
  size_t n = strlen(pattern);
  char* end = text + strlen(text);
  for (char* at = text;; at = CharNextA(at)) {
    if ((size_t)(end - at) < n) return nullptr;
    char kept = at[n];
    at[n] = '\0';
    bool equal = lstrcmpiA(at, pattern) == 0;
    at[n] = kept;
    if (equal) return at;
    if (at == end) return nullptr;
  }
}
