/* The temporary folder, the folder walk and the file actions. */
#include "fileops/file_actions.h"

#include <string.h>

#include "support/log.h"
#include "support/paths.h"
#include "support/progress_window.h"
#include "support/report.h"

LONG LockedFileCount = 0;

namespace {

// The destination path of source in folder: the folder and the source's file-name part.
bool DestinationPath(char* out, const char* source, const char* folder) {
  return JoinPath(out, folder ? folder : "", GetFileNamePart(source ? source : ""));
}

bool IsFolder(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Where the folders below a path's root begin: after "C:\", after "\\server\share\", after a
// leading "\"; 0 for a relative path.
size_t RootLength(const char* path) {
  if (path[0] && path[1] == ':') return path[2] == '\\' ? 3 : 2;
  if (path[0] != '\\') return 0;
  if (path[1] != '\\') return 1;
  size_t at = 2;
  for (int separators = 0; path[at] && separators < 2; ++at)
    if (path[at] == '\\') ++separators;
  return at;
}

}  // namespace

BOOL CreateFolderTree(const char* folder) {
  if (!folder || !folder[0]) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (IsFolder(folder)) return TRUE;
  char path[MAX_PATH];
  size_t length = strlen(folder);
  if (length >= sizeof path) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }
  strcpy(path, folder);
  // The ends of the folders made here, so that a failure takes them away again: a failed run
  // leaves nothing of its own outside its folders.
  size_t made[MAX_PATH / 2];
  size_t count = 0;
  bool good = true, madeLast = false;
  DWORD error = ERROR_PATH_NOT_FOUND;
  for (size_t at = RootLength(path); good && at <= length; ++at) {
    if (folder[at] != '\\' && folder[at] != '\0') continue;
    if (at == 0 || folder[at - 1] == '\\') continue;  // "a\\b" and a trailing backslash
    path[at] = '\0';
    madeLast = CreateDirectoryA(path, nullptr) != 0;
    if (madeLast) {
      made[count++] = at;
      WriteLog("CreateFolderTree() - made ", path, 0);
    } else {
      error = GetLastError();  // already there as a folder, or the reason it can't be
      good = IsFolder(path);
    }
    if (good) path[at] = folder[at];
  }
  if (good && (madeLast || IsFolder(folder))) return TRUE;
  while (count > 0) {
    path[made[--count]] = '\0';
    RemoveDirectoryA(path);
  }
  SetLastError(error ? error : ERROR_PATH_NOT_FOUND);
  return FALSE;
}

BOOL CreateTempFolder(const char* base, char* output) {
  WriteLog("CreateTempFolder: in", base, (LONG)GetLastError());
  if (!base || !output) return 0;
  output[0] = '\0';
  // GetTempFileNameA adds up to 13 characters and the terminator to the base.
  bool named = strlen(base) <= MAX_PATH - 14;
  if (!named)
    SetLastError(ERROR_BUFFER_OVERFLOW);
  else {
    // A unique number whose low 16 bits are zero makes GetTempFileNameA create a file of that
    // name itself, which the folder then can't take: once in 65,536 ms the temporary folder
    // would fail and leave an empty file behind.
    UINT unique = GetTickCount();
    if ((unique & 0xFFFF) == 0) unique |= 1;
    named = GetTempFileNameA(base, "PWS", unique, output) != 0;
  }
  if (!named) {
    output[0] = '\0';
    WriteLog("CreateTempFolder: Can't get temp name", nullptr, (LONG)GetLastError());
    return 0;
  }
  BOOL made = CreateDirectoryA(output, nullptr);
  if (!made) output[0] = '\0';
  WriteLog("CreateTempFolder:", made ? output : "!!!", (LONG)GetLastError());
  return made;
}

BOOL CleanupFolder(const char* folder) {
  if (!folder) return 0;
  WriteLog("Cleanup folder ", folder, 0);
  if (!ForEachFile(folder, ActDelFile, nullptr, nullptr)) {
    WriteLog("Cleanup files err ", folder, (LONG)GetLastError());
    return 0;
  }
  BOOL removed = RemoveDirectoryA(folder);
  // A console program's host may still hold the folder as its working folder for a moment
  // after the program ended: a sharing violation is waited out, for about two seconds.
  for (int tries = 0; !removed && GetLastError() == ERROR_SHARING_VIOLATION && tries < 20;
       ++tries) {
    Sleep(100);
    removed = RemoveDirectoryA(folder);
  }
  if (!removed) WriteLog("Cleanup folder err ", folder, (LONG)GetLastError());
  return removed;
}

LONG ForEachFile(const char* folder, FileAction action, const char* context,
                 ProgressWindow* window) {
  if (!folder || !action) return 0;
  char mask[MAX_PATH];
  if (!JoinPath(mask, folder, "*.*")) {
    ReportError("Can't find any files matching ", folder, ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  WriteLog("ForEachFile() - by mask ", mask, 0);
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA(mask, &entry);
  if (find == INVALID_HANDLE_VALUE) {
    ReportError("Can't find any files matching ", mask, (LONG)GetLastError());
    return 0;
  }
  LONG result = 1;
  char path[MAX_PATH];
  strcpy(path, mask);  // the last path formed; the mask until an entry is taken
  do {
    if (strcmp(entry.cFileName, ".") == 0 || strcmp(entry.cFileName, "..") == 0) continue;
    if (window) {
      window->SetText(entry.cFileName);
      window->StepIt();
    }
    if (!JoinPath(path, folder, entry.cFileName)) {
      // The entry cannot be named within MAX_PATH: it is not touched, and the walk fails.
      ReportError("File operation failed for ", entry.cFileName, ERROR_FILENAME_EXCED_RANGE);
      strcpy(path, mask);
      result = 0;
      continue;
    }
    if (!action(path, context)) result = 0;
  } while (FindNextFileA(find, &entry));
  DWORD ended = GetLastError();
  if (ended != ERROR_NO_MORE_FILES) {
    ReportError("File operation failed for ", path, (LONG)ended);
    result = 0;
  }
  FindClose(find);
  WriteLog("ForEachFile() - ", result == 1 ? "OK" : "FAIL", 0);
  return result;
}

LONG ActDelFile(const char* path, const char* context) {
  (void)context;
  WriteLog("ActDelFile() - file ", path, 0);
  return DeleteFileA(path);
}

LONG ActCopyFile(const char* path, const char* folder) {
  char target[MAX_PATH];
  WriteLog("ActCopyFile() - from ", path, 0);
  if (!DestinationPath(target, path, folder)) {
    WriteLog("                  to ", folder, ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  WriteLog("                  to ", target, 0);
  return CopyFileA(path, target, FALSE);
}

LONG ActMoveFile(const char* path, const char* folder) {
  WriteLog("ActMoveFile() - move ", path, 0);
  char target[MAX_PATH];
  BOOL copied = DestinationPath(target, path, folder) && CopyFileA(path, target, FALSE);
  if (!copied) {
    // Left for the replacement at the next start of Windows.
    LockedFileCount++;
    WriteLog("ActMoveFile() - after reboot", target[0] ? target : folder, (LONG)GetLastError());
    return 1;
  }
  DeleteFileA(path);
  WriteLog("ActMoveFile() - moved to", target, (LONG)GetLastError());
  return copied;
}

LONG ActCheckLocked(const char* path, const char* folder) {
  char target[MAX_PATH];
  if (!DestinationPath(target, path, folder)) {
    // A target that cannot be named cannot be written either.
    LockedFileCount++;
    WriteLog("ActCheckLocked() - locked", folder, ERROR_FILENAME_EXCED_RANGE);
    return 1;
  }
  if (GetFileAttributesA(target) == INVALID_FILE_ATTRIBUTES) return 1;
  HANDLE file = CreateFileA(target, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    LockedFileCount++;
    WriteLog("ActCheckLocked() - locked", target, (LONG)GetLastError());
  } else {
    CloseHandle(file);
    WriteLog("ActCheckLocked() - not locked", target, 0);
  }
  return 1;
}
