/* The Windows version and administrator probes. */
#include "fileops/system_probes.h"

#include <string.h>

namespace {

// The extended record, which systems older than NT 4.0 SP6 refuse: then there is no version.
bool ReadVersion(OSVERSIONINFOEXA* info) {
  memset(info, 0, sizeof *info);
  info->dwOSVersionInfoSize = sizeof *info;
  return GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(info)) != 0;
}

// What CheckAdminRights holds, released on every way out.
struct Held {
  PSID sid = nullptr;
  HANDLE token = nullptr;
  HLOCAL groups = nullptr;
  ~Held() {
    if (groups) LocalFree(groups);
    if (token) CloseHandle(token);
    if (sid) FreeSid(sid);
  }
};

}  // namespace

BOOL IsWindowsNT() {
  OSVERSIONINFOEXA info;
  return ReadVersion(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0;
}

DWORD GetWindowsVersion() {
  OSVERSIONINFOEXA info;
  if (!ReadVersion(&info)) return 0;
  return info.dwMajorVersion * 256 + info.dwMinorVersion;
}

BOOL CheckAdminRights(BOOL* isAdmin) {
  if (!isAdmin) return 0;
  if (!IsWindowsNT()) {
    *isAdmin = 1;
    return 1;
  }
  Held held;
  SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &held.sid))
    return 0;

  // Both functions come with NT-family advapi32 only, so neither is imported.
  HMODULE advapi = GetModuleHandleA("advapi32.dll");
  FARPROC check = advapi ? GetProcAddress(advapi, "CheckTokenMembership") : nullptr;
  if (check) return ProcAs<CheckTokenMembershipFn>(check)(nullptr, held.sid, isAdmin);

  FARPROC open = advapi ? GetProcAddress(advapi, "OpenProcessToken") : nullptr;
  if (!open || !ProcAs<OpenProcessTokenFn>(open)(GetCurrentProcess(), TOKEN_QUERY, &held.token))
    return 0;
  DWORD size = 1024;
  held.groups = LocalAlloc(LMEM_FIXED, size);
  if (!held.groups) return 0;
  SetLastError(0);
  if (!GetTokenInformation(held.token, TokenGroups, held.groups, size, &size)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return 0;
    LocalFree(held.groups);
    held.groups = LocalAlloc(LMEM_FIXED, size);
    if (!held.groups || !GetTokenInformation(held.token, TokenGroups, held.groups, size, &size))
      return 0;
  }
  const TOKEN_GROUPS* groups = static_cast<const TOKEN_GROUPS*>(held.groups);
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    if (EqualSid(groups->Groups[i].Sid, held.sid)) {
      *isAdmin = 1;
      return 1;
    }
  }
  return 0;
}
