/*
 * What the host layer's own files share: the simulated machine (WINSIM_ROOT, machine.ini), the
 * translation of Windows paths into it, the last-error and fault-knob helpers, and the mapping of
 * host errno values to Windows error codes. Nothing outside platform/posix includes this.
 */
#ifndef PLATFORM_POSIX_MACHINE_H
#define PLATFORM_POSIX_MACHINE_H

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace winsim {
namespace detail {

/* ---- Fault knobs (faults.cpp) ---- */

// Counts a call of function and says whether this call is one that must fail; when it is, the
// chosen error is already the thread's last error. caller (the function's return address) only
// goes into the trace, so that a call can be told from another of the same function. plausible
// lists the errors the function gives on a real machine when it fails for reasons of the
// machine's own (a full disk, a file held open, a refused access); the trace carries them, so
// that the fault sweep fails each call with each of them. A call that WINSIM_KILL names ends the
// process here, with everything it started, and does not return.
bool FaultHit(const char* function, const void* caller, std::initializer_list<DWORD> plausible);

// Ends, without any cleanup, every process this one started that may still run: what a power
// cut does to them (process.cpp).
void KillStartedProcesses();

// While one lives, this thread's Win32 calls are steps of a host function that was counted
// itself: they are neither counted, traced nor made to fail (Windows makes no such calls).
class InternalCalls {
 public:
  InternalCalls();
  ~InternalCalls();
  InternalCalls(const InternalCalls&) = delete;
  InternalCalls& operator=(const InternalCalls&) = delete;
};

// The caller of the Win32 function this is expanded in.
#define WINSIM_CALLER() __builtin_return_address(0)

// The first line of every faultable Win32 function:
// `WINSIM_FAULT_POINT(failure value, plausible errors...);` (see FaultHit). A function that
// declares none still counts its calls, and the sweep still ends a run at each of them.
// __func__ of an extern "C" function is its Win32 name, which is what the knobs are keyed by.
#define WINSIM_FAULT_POINT(failure, ...)                                                       \
  do {                                                                                         \
    if (::winsim::detail::FaultHit(__func__, WINSIM_CALLER(), {__VA_ARGS__})) return failure; \
  } while (0)

/* ---- Errors ---- */

// Sets the last error and hands back value, so that failures read `return Fail(CODE, FALSE);`.
template <typename T>
inline T Fail(DWORD code, T value) {
  SetLastError(code);
  return value;
}

// The Windows error code for a host errno; fallback for values that have no closer match.
DWORD ErrorFromErrno(int err, DWORD fallback = ERROR_ACCESS_DENIED);

/* ---- System DLLs (system.cpp) ---- */

// The handle of a system DLL by its LoadLibraryA name, as every process has it loaded; null with
// ERROR_MOD_NOT_FOUND for another name or one that machine.ini lists as missing.
HMODULE SystemModule(const char* name);

/* ---- The machine (machine.cpp) ---- */

// $WINSIM_ROOT without a trailing slash, or empty when no machine is set.
std::string Root();

// A value of machine.ini (read afresh on each call), or fallback when absent. Section and key
// are matched without regard to case, as Windows' own profile functions do.
std::string Setting(const char* section, const char* key, const std::string& fallback);

// A comma-separated setting split into trimmed, non-empty items.
std::vector<std::string> SettingList(const char* section, const char* key);

// The host folder of $WINSIM_ROOT/state, created when missing; empty without a machine.
std::string StateDir();

/* ---- Text helpers (text.cpp) ---- */

// Upper case of a Windows-1252 character (ASCII and the 1252 letters); others unchanged.
unsigned char FoldUpper1252(unsigned char c);
// Equal without regard to case under Windows-1252 folding.
bool EqualNoCase(const std::string& a, const std::string& b);

/* ---- Time (clock.cpp) ---- */

// 100 ns intervals since 1601-01-01 UTC for a Unix time, and back.
uint64_t FileTimeFromUnix(int64_t seconds, long nanoseconds);
void UnixFromFileTime(uint64_t fileTime, int64_t* seconds, long* nanoseconds);

/* ---- Paths (paths.cpp) ---- */

struct ResolvedPath {
  std::string host;                // the host path it stands for
  std::string windows;             // the full Windows path, normalised ("C:\dir\name")
  bool exists = false;             // the last component exists (any kind)
  bool isDir = false;              // ... and is a folder
  bool trailingSeparator = false;  // the given path ended in '\' or '/'
};

// Translates a Windows path into the machine. Returns 0, or the Windows error the file
// functions give for it: ERROR_PATH_NOT_FOUND (empty path, missing drive, missing or non-folder
// intermediate component), ERROR_INVALID_NAME, ERROR_FILENAME_EXCED_RANGE, ERROR_BAD_NETPATH.
// A missing last component is not an error: it keeps the given spelling, for creation.
DWORD ResolvePath(const char* windowsPath, ResolvedPath* out);

// Finds name in the host folder dir: the exact spelling first, else the first entry (in byte
// order) equal without regard to case; actual is the entry's own spelling.
bool FindEntryNoAlias(const std::string& dir, const std::string& name, std::string* actual);

// What FindEntryNoAlias finds when the exact spelling is missing, from an index of the folder's
// names kept per process (folder_index.cpp): 1 found, 0 none, -1 no index (read the folder).
int FindFoldedEntry(const std::string& dir, const std::string& name, std::string* actual);

// Finds the live entry of dir whose short alias is alias (short_names.cpp).
bool FindShortAlias(const std::string& dir, const std::string& alias, std::string* actual);

// The Windows path of a host path: inside the machine as its drive path, else under Z:.
std::string WindowsPathOfHost(const std::string& hostPath);

}  // namespace detail
}  // namespace winsim

#endif
