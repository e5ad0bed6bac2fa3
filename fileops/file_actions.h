/*
 * The private temporary folder, the folder walk, and the file actions it applies: delete, copy
 * into a folder, move into a folder (a copy, then deletion of the source), and the probe whether
 * the same-named file in a folder is locked. Every step is written to the setup log.
 *
 * Every path formed here lives in a MAX_PATH buffer. One that would not fit is refused with the
 * operation's own failure and log line (code ERROR_FILENAME_EXCED_RANGE), never cut short.
 */
#ifndef FILEOPS_FILE_ACTIONS_H
#define FILEOPS_FILE_ACTIONS_H

#include "platform/win32.h"

class ProgressWindow;

// What ForEachFile applies to each entry: the entry's path and the walk's context (the
// destination folder for the copy, move and lock actions). Nonzero for success.
typedef LONG (*FileAction)(const char* path, const char* context);

// Targets found locked by ActCheckLocked and ActMoveFile; reset only by the caller.
extern LONG LockedFileCount;

// Makes base\PWSxxxx.TMP (xxxx from the tick count) into output, MAX_PATH bytes. Nonzero when
// the folder was made; 0 otherwise, with output empty (when given).
BOOL CreateTempFolder(const char* base, char* output);

// Makes folder and every missing folder above it, logging each one made. Nonzero when folder
// is a folder afterwards; 0 with the system's error (never 0) when it can't be made (a file in
// its place, no access, no such drive), and then the folders this call made are removed again.
BOOL CreateFolderTree(const char* folder);

// Deletes every entry of folder (not descending) and then the folder. Nonzero on full success.
BOOL CleanupFolder(const char* folder);

// Applies action to every entry of folder except "." and "..", subfolders included as they
// are; a failing action marks the walk failed without ending it. With a window, each entry's
// name is shown and the bar stepped first. 1 when every action succeeded and the listing ended
// normally, 0 otherwise (and at once, without a log line, when folder or action is missing).
LONG ForEachFile(const char* folder, FileAction action, const char* context,
                 ProgressWindow* window);

// DeleteFileA's result; the context is ignored.
LONG ActDelFile(const char* path, const char* context);
// Copies path into folder under its own name, over an existing file; CopyFileA's result.
LONG ActCopyFile(const char* path, const char* folder);
// Copies path into folder and deletes the source; a copy that fails counts as locked and
// leaves the source in place. Always nonzero.
LONG ActMoveFile(const char* path, const char* folder);
// Counts folder's file of path's name as locked when it exists and cannot be opened for
// exclusive writing. Always 1.
LONG ActCheckLocked(const char* path, const char* folder);

#endif
