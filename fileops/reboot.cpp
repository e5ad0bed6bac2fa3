/* Replace on reboot: the numbered copy, MoveFileExA on the NT family, wininit.ini elsewhere. */
#include "fileops/reboot.h"

#include <string.h>

#include "fileops/system_probes.h"
#include "support/log.h"
#include "support/paths.h"
#include "support/report.h"
#include "support/text.h"

LONG RebootCopyCount = 0;

namespace {

// The 95-family edit works in fixed buffers that outlive the call; it is never re-entered.
const DWORD kShortBufferSize = 1024;
char g_shortDestination[kShortBufferSize];
char g_shortSource[kShortBufferSize];  // also the wininit.ini path, once the source is in the line
char g_iniLine[kShortBufferSize];

const char kRenameHeader[] = "[Rename]\r\n";
const DWORD kRenameHeaderLength = 10;
const char kNewLine[] = "\r\n";

// The next copy name in folder; false (ERROR_FILENAME_EXCED_RANGE) when it would not fit.
bool NextCopyPath(char* out, const char* folder) {
  out[0] = '\0';
  RebootCopyCount++;
  char name[32];
  wsprintfA(name, "_pw%d.pw_", (int)RebootCopyCount);
  return JoinPath(out, folder, name);
}

// Copies source to a numbered copy in folder that did not exist before. A copy left from an
// earlier run may still be waiting for its own replacement at the next start: overwriting it
// would carry this run's file onto that run's target, so its number is passed over.
BOOL MakeRebootCopy(const char* source, const char* folder, char* copy) {
  for (;;) {
    if (!NextCopyPath(copy, folder)) return FALSE;
    if (CopyFileA(source, copy, TRUE)) return TRUE;
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return FALSE;
  }
}

// Removes a file this operation made, keeping the error of the failure that made it useless
// for the caller.
void DeleteKeepingError(const char* path) {
  DWORD error = GetLastError();
  DeleteFileA(path);
  SetLastError(error);
}

// GetShortPathNameA into a 1024-byte buffer; false on failure or when the answer did not fit.
bool ShortPath(const char* path, char* out) {
  DWORD got = GetShortPathNameA(path, out, kShortBufferSize);
  return got != 0 && got <= kShortBufferSize;
}

// The long-name warning. The long name is shown in full, so the user can find the file; the
// short one as the name it will bear in that same folder.
void WarnLongName(const char* destination, const char* shortDestination) {
  static const char kFormat[] =
      "Pondwick file '%s' is locked and will be copied after reboot as '%s'.\n"
      "For correct Pondwick operation you can rename the file back to the long name\n"
      "or re-install Pondwick, when this file became unlocked.\n"
      "Please, inform Pondwick Support about this problem.";
  const char* shortName = GetFileNamePart(shortDestination);
  const char* longName = destination;
  // wsprintfA writes at most 1024 bytes: a path that long is shown by its name only.
  if (sizeof kFormat + strlen(longName) + strlen(shortName) > 1024)
    longName = GetFileNamePart(destination);
  char message[1024];
  wsprintfA(message, kFormat, longName, shortName);
  ReportError(message, nullptr, 0);
}

// The first "\n[" at or after from in the zero-terminated text: the start of the next section.
// Callers start at the header's own line feed, so a section that follows an empty [Rename]
// directly is found too.
char* NextSectionStart(char* from) {
  for (char* p = from; *p; ++p)
    if (p[0] == '\n' && p[1] == '[') return p + 1;
  return nullptr;
}

// Adds the line to the [Rename] section of the mapped text (old length size, zero bytes behind
// it, room enough for a CR LF, the header and the line) and answers the new length.
DWORD InsertRenameLine(char* text, DWORD size, const char* line, DWORD length) {
  // A last line without its line end would otherwise run into what is appended.
  bool joinsLastLine = size > 0 && text[size - 1] != '\n';
  char* header = FindStringNoCase(text, kRenameHeader);
  if (!header) {
    DWORD at = size;
    if (joinsLastLine) {
      memcpy(text + at, kNewLine, 2);
      at += 2;
    }
    memcpy(text + at, kRenameHeader, kRenameHeaderLength);
    at += kRenameHeaderLength;
    memcpy(text + at, line, length);
    return at + length;
  }
  char* next = NextSectionStart(header + kRenameHeaderLength - 1);
  if (next) {
    DWORD at = (DWORD)(next - text);
    memmove(text + at + length, text + at, size - at);
    memcpy(text + at, line, length);
    return size + length;
  }
  DWORD at = size;
  if (joinsLastLine) {
    memcpy(text + at, kNewLine, 2);
    at += 2;
  }
  memcpy(text + at, line, length);
  return at + length;
}

// Cuts the file to length and closes it; whether the cut was made.
bool CloseAt(HANDLE file, DWORD length) {
  bool cut = SetFilePointer(file, (LONG)length, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
             SetEndOfFile(file);
  CloseHandle(file);
  return cut;
}

// The wininit.ini edit itself; *made tells whether the destination was created empty for its
// short name.
LONG ScheduleIn9x(const char* source, const char* destination, bool* made) {
  WriteLog("MoveFileOnReboot9x() - from ", source, 0);
  WriteLog("                     to ", destination ? destination : "", 0);
  strcpy(g_shortDestination, "NUL");
  if (destination) {
    // Only an existing file has a short name: a missing one is made empty; CREATE_NEW leaves
    // an existing one alone.
    DWORD attributes = GetFileAttributesA(destination);
    if (attributes == INVALID_FILE_ATTRIBUTES) attributes = 0;
    HANDLE empty =
        CreateFileA(destination, 0, FILE_SHARE_READ, nullptr, CREATE_NEW, attributes, nullptr);
    if (empty != INVALID_HANDLE_VALUE) {
      *made = true;
      CloseHandle(empty);
    }
    if (!ShortPath(destination, g_shortDestination)) {
      WriteLog("MoveFileOnReboot9x() - failed to get short name for", destination,
               (LONG)GetLastError());
      return 0;
    }
    // After the start the file stands under its short name only.
    if (lstrcmpiA(GetFileNamePart(destination), GetFileNamePart(g_shortDestination)) != 0)
      WarnLongName(destination, g_shortDestination);
  }
  if (!source || !ShortPath(source, g_shortSource)) {
    WriteLog("MoveFileOnReboot9x() - failed to get short name for", source, (LONG)GetLastError());
    return 0;
  }
  // Both short paths are below 1024 bytes, the line with them need not be.
  if (strlen(g_shortDestination) + 1 + strlen(g_shortSource) + 2 >= kShortBufferSize) {
    WriteLog("MoveFileOnReboot9x() - ini line ", g_shortSource, ERROR_BUFFER_OVERFLOW);
    return 0;
  }
  DWORD length = (DWORD)wsprintfA(g_iniLine, "%s=%s\r\n", g_shortDestination, g_shortSource);
  WriteLog("MoveFileOnReboot9x() - ini line ", g_iniLine, 0);

  char* iniPath = g_shortSource;
  UINT folder = GetWindowsDirectoryA(iniPath, 1008);
  if (folder == 0 || folder >= 1008) {
    iniPath[0] = '\0';
    if (folder) SetLastError(ERROR_BUFFER_OVERFLOW);
  } else {
    strcat(iniPath, "\\wininit.ini");
  }
  HANDLE file = iniPath[0]
                    ? CreateFileA(iniPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)
                    : INVALID_HANDLE_VALUE;
  if (file == INVALID_HANDLE_VALUE) {
    WriteLog("MoveFileOnReboot9x() - failed to open", iniPath, (LONG)GetLastError());
    return 0;
  }
  DWORD size = GetFileSize(file, nullptr);
  // Room for the line and a header, and for a line end that the old last line may lack.
  DWORD room = size + 2 + kRenameHeaderLength + length;
  HANDLE mapping = size < room ? CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, room, nullptr)
                               : nullptr;  // no file that size is a wininit.ini
  if (!mapping) {
    WriteLog("MoveFileOnReboot9x() - failed to create mapping", iniPath, (LONG)GetLastError());
    CloseHandle(file);
    return 0;
  }
  char* text = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
  if (!text) {
    // The mapping has already lengthened the file with zeros: it gets its old length back.
    WriteLog("MoveFileOnReboot9x() - failed to map view", iniPath, (LONG)GetLastError());
    CloseHandle(mapping);
    CloseAt(file, size);
    return 0;
  }
  DWORD newLength = InsertRenameLine(text, size, g_iniLine, length);
  UnmapViewOfFile(text);
  CloseHandle(mapping);
  // Uncut, the file ends in the zeros of the mapping's spare room, which no start of Windows
  // reads as lines: the replacement is then not one it can be counted on to make.
  if (!CloseAt(file, newLength)) {
    WriteLog("MoveFileOnReboot9x() - failed to cut", iniPath, (LONG)GetLastError());
    return 0;
  }
  return 1;
}

// Windows does not replace a read-only file at its start. The attribute goes only once the
// replacement is scheduled, so a target whose replacement can't be scheduled keeps it.
bool ClearReadOnly(const char* target, DWORD attributes) {
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return true;
  if (SetFileAttributesA(target, attributes & ~(DWORD)FILE_ATTRIBUTE_READONLY)) return true;
  WriteLog("ActMoveFileOnReboot() - can't clear read-only", target, (LONG)GetLastError());
  return false;
}

}  // namespace

LONG ActMoveFileOnReboot(const char* source, const char* folder) {
  WriteLog("ActMoveFileOnReboot() - move ", source, 0);
  WriteLog("                          to ", folder, 0);
  if (!source || !folder) return 0;
  char destination[MAX_PATH];
  char copy[MAX_PATH] = "";
  if (!JoinPath(destination, folder, GetFileNamePart(source)) ||
      !MakeRebootCopy(source, folder, copy)) {
    WriteLog("ActMoveFileOnReboot() - can't copy to", copy[0] ? copy : folder,
             (LONG)GetLastError());
    return 0;
  }
  DWORD attributes = GetFileAttributesA(destination);
  if (MoveFileOnReboot(copy, destination) && ClearReadOnly(destination, attributes)) return 1;
  // A copy whose replacement can't be scheduled (or would fail at the start) would lie beside
  // its target for good; without it a scheduled move finds nothing to move.
  DeleteKeepingError(copy);
  return 0;
}

void ScheduleStaleCopiesRemoval(const char* folder) {
  char mask[MAX_PATH], path[MAX_PATH];
  if (!folder || !JoinPath(mask, folder, "_pw*.pw_")) return;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA(mask, &entry);
  if (find == INVALID_HANDLE_VALUE) return;  // none, as after every run that ended well
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        JoinPath(path, folder, entry.cFileName))
      MoveFileOnReboot(path, nullptr);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
}

LONG ActDelFileOnReboot(const char* path, const char* context) {
  (void)context;
  return MoveFileOnReboot(path, nullptr);
}

LONG MoveFileOnReboot(const char* source, const char* destination) {
  if (IsWindowsNT()) return MoveFileOnRebootNT(source, destination);
  return MoveFileOnReboot9x(source, destination);
}

LONG MoveFileOnRebootNT(const char* source, const char* destination) {
  HMODULE kernel = GetModuleHandleA("KERNEL32.dll");
  if (!kernel) return 0;
  MoveFileExAFn moveFileEx = ProcAs<MoveFileExAFn>(GetProcAddress(kernel, "MoveFileExA"));
  if (!moveFileEx) return 0;
  BOOL moved =
      moveFileEx(source, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
  DWORD error = GetLastError();
  WriteLog("MoveFileOnRebootNT() - MoveFileEx ", moved ? "OK" : "FAIL", (LONG)error);
  return moved;
}

LONG MoveFileOnReboot9x(const char* source, const char* destination) {
  bool made = false;
  if (ScheduleIn9x(source, destination, &made)) return 1;
  // An empty file made only to learn its short name would stand in the installation folder
  // for good, in place of a file that was never there.
  if (made) DeleteKeepingError(destination);
  return 0;
}
