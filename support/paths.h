/* Path helpers; byte by byte, without regard to double-byte characters. */
#ifndef SUPPORT_PATHS_H
#define SUPPORT_PATHS_H

// The part of path after its last backslash, slash or colon; path itself when it has none;
// null for a null path. A caller tells the cases apart by comparing the result with path.
const char* GetFileNamePart(const char* path);
inline char* GetFileNamePart(char* path) {
  return const_cast<char*>(GetFileNamePart(static_cast<const char*>(path)));
}

// Removes one trailing backslash (not a slash) from path and returns path; null stays null.
char* StripTrailingBackslash(char* path);

// Writes "folder\name" into out (MAX_PATH bytes) when it fits with its terminator. Otherwise
// out is left empty, the last error is ERROR_FILENAME_EXCED_RANGE and the answer false: a path
// cut short would name another file.
bool JoinPath(char* out, const char* folder, const char* name);

#endif
