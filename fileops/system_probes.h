/*
 * Probes of the running system: the Windows family and version, and whether the user belongs to
 * the local Administrators group. Nothing is cached: every call asks the system again.
 */
#ifndef FILEOPS_SYSTEM_PROBES_H
#define FILEOPS_SYSTEM_PROBES_H

#include "platform/win32.h"

// 1 on the NT family; 0 on the 95 family and when the version cannot be read.
BOOL IsWindowsNT();

// Major version * 256 + minor version (0x501 for 5.1); 0 when the version cannot be read.
DWORD GetWindowsVersion();

// Nonzero when a verdict was reached; *isAdmin then tells membership. On the 95 family every
// user counts as an administrator. Where CheckTokenMembership is missing, the token's groups
// are searched, and a user found in no Administrators group gets 0 with *isAdmin as preset.
BOOL CheckAdminRights(BOOL* isAdmin);

#endif
