/*
 * The host layer's token and privilege functions that callers may only reach through
 * GetProcAddress (old Windows lacks them); system.cpp lists them in its export table.
 */
#ifndef PLATFORM_POSIX_SECURITY_H
#define PLATFORM_POSIX_SECURITY_H

#include "platform/win32.h"

namespace winsim {
namespace detail {

BOOL WINAPI HostCheckTokenMembership(HANDLE token, PSID sid, PBOOL isMember);
BOOL WINAPI HostOpenProcessToken(HANDLE process, DWORD access, PHANDLE token);
BOOL WINAPI HostLookupPrivilegeValueA(LPCSTR system, LPCSTR name, PLUID luid);
BOOL WINAPI HostAdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                                      DWORD bufferLength, PTOKEN_PRIVILEGES previousState,
                                      PDWORD returnLength);

}  // namespace detail
}  // namespace winsim

#endif
