/* Error reports: compose the text, log it, show it unless silent. */
#include "support/report.h"

#include <string.h>

#include "support/log.h"

bool SilentMode = false;

void AppendSystemErrorText(DWORD code, char* buffer, size_t capacity) {
  if (!buffer || capacity == 0) return;
  LPSTR text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0,
      nullptr);
  if (length != 0 && text) {
    size_t used = strlen(buffer);
    size_t room = used + 1 < capacity ? capacity - 1 - used : 0;
    size_t take = length < room ? length : room;
    memcpy(buffer + used, text, take);
    buffer[used + take] = '\0';
  }
  if (text) LocalFree(text);
}

void ReportError(const char* message, const char* detail, LONG code) {
  DWORD lastError = GetLastError();
  static const char kLineEnd[] = "\r\n";
  char text[1024];
  // Keep room for the line end so that a report always ends in CR LF, however long its parts.
  const size_t body = sizeof text - (sizeof kLineEnd - 1);
  wsprintfA(text, "%s %s", message ? message : "", detail ? detail : "");
  if (strlen(text) >= body) text[body - 1] = '\0';
  if (code != 0) {
    size_t used = strlen(text);
    const size_t separator = 2;
    if (used + separator < body) {
      memcpy(text + used, ": ", separator + 1);
      AppendSystemErrorText((DWORD)code, text, body);
    }
  }
  strcat(text, kLineEnd);

  WriteLog(text, nullptr, code);
  if (!SilentMode) MessageBoxA(nullptr, text, detail, MB_ICONERROR | MB_SYSTEMMODAL);
  SetLastError(lastError);
}
