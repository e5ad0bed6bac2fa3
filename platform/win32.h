/*
 * The one header through which every module reaches Win32.
 *
 * On Windows it is <windows.h> and <commctrl.h>. On Linux it declares the same names (types,
 * constants, functions) with the same meaning, and platform/posix implements them over a
 * simulated machine held in a folder (see platform/posix/machine.h). Modules call Win32 by its
 * own names and never include a POSIX header.
 */
#ifndef PLATFORM_WIN32_H
#define PLATFORM_WIN32_H

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commctrl.h>

#else /* the host layer */

/* Each area of the host layer declares its part of Win32 in a header of its own. */
#include "platform/posix/api/base.h"
#include "platform/posix/api/registry.h"
#include "platform/posix/api/process.h"
#include "platform/posix/api/user.h"

#endif /* _WIN32 */

/* Signatures of the functions that the modules look up at run time, for both worlds. */
typedef BOOL(WINAPI* InitializeSecurityDescriptorFn)(PSECURITY_DESCRIPTOR descriptor,
                                                     DWORD revision);
typedef BOOL(WINAPI* SetSecurityDescriptorDaclFn)(PSECURITY_DESCRIPTOR descriptor,
                                                  BOOL daclPresent, PACL dacl,
                                                  BOOL daclDefaulted);
typedef BOOL(WINAPI* CheckTokenMembershipFn)(HANDLE token, PSID sid, PBOOL isMember);
typedef BOOL(WINAPI* OpenProcessTokenFn)(HANDLE process, DWORD access, PHANDLE token);
typedef BOOL(WINAPI* LookupPrivilegeValueAFn)(LPCSTR system, LPCSTR name, PLUID luid);
typedef BOOL(WINAPI* AdjustTokenPrivilegesFn)(HANDLE token, BOOL disableAll,
                                              PTOKEN_PRIVILEGES newState, DWORD bufferLength,
                                              PTOKEN_PRIVILEGES previousState,
                                              PDWORD returnLength);
typedef BOOL(WINAPI* MoveFileExAFn)(LPCSTR existing, LPCSTR target, DWORD flags);
typedef BOOL(WINAPI* SetDefaultDllDirectoriesFn)(DWORD flags);
typedef BOOL(WINAPI* InitCommonControlsExFn)(const INITCOMMONCONTROLSEX* init);
/* SetDefaultDllDirectories' flag; older headers lack it. */
#define PW_LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800

#ifdef __cplusplus
/* A looked-up procedure as the function type it really has. The detour through void(*)(void)
 * keeps GCC's cast-function-type check quiet without hiding a real mismatch elsewhere. */
template <typename Fn>
inline Fn ProcAs(FARPROC proc) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)(void)>(proc));
}
#endif

#endif /* PLATFORM_WIN32_H */
