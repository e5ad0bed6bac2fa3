/*
 * The machine's Windows version, the user's token, and the restart of Windows.
 *
 * machine.ini settings:
 *   [windows]  version=5.1 (default) | 95 | 98 | me | nt4 | 2000 | xp | 2003 | vista | 7 | N.M
 *              extended=no        GetVersionExA refuses the extended record (old systems)
 *   [security] admin=yes|no       the user is in the Administrators group (default yes)
 *              groups=N           N more groups in the token (enough of them exceed 1 KB)
 *              shutdown=yes|no    the token holds SeShutdownPrivilege (default yes)
 *   [shutdown] refuse=CODE        ExitWindowsEx fails with this error instead of accepting
 * Every restart request is written to state/reboot-requests: flags, reason, and the outcome.
 */
#include "platform/posix/security.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/handles.h"
#include "platform/posix/machine.h"

using winsim::detail::EqualNoCase;
using winsim::detail::Fail;

namespace {

constexpr DWORD kErrorCallNotImplemented = 120;

struct Version {
  const char* name;
  DWORD major, minor, build, platform;
  const char* servicePack;
};

const Version kVersions[] = {
    {"95", 4, 0, 950, VER_PLATFORM_WIN32_WINDOWS, ""},
    {"98", 4, 10, 1998, VER_PLATFORM_WIN32_WINDOWS, ""},
    {"me", 4, 90, 3000, VER_PLATFORM_WIN32_WINDOWS, ""},
    {"nt4", 4, 0, 1381, VER_PLATFORM_WIN32_NT, "Service Pack 6"},
    {"2000", 5, 0, 2195, VER_PLATFORM_WIN32_NT, "Service Pack 4"},
    {"xp", 5, 1, 2600, VER_PLATFORM_WIN32_NT, "Service Pack 2"},
    {"2003", 5, 2, 3790, VER_PLATFORM_WIN32_NT, "Service Pack 2"},
    {"vista", 6, 0, 6002, VER_PLATFORM_WIN32_NT, "Service Pack 2"},
    {"7", 6, 1, 7601, VER_PLATFORM_WIN32_NT, "Service Pack 1"},
};

Version MachineVersion() {
  std::string given = winsim::detail::Setting("windows", "version", "5.1");
  for (const Version& v : kVersions)
    if (EqualNoCase(given, v.name)) return v;
  unsigned major = 0, minor = 0;
  if (std::sscanf(given.c_str(), "%u.%u", &major, &minor) == 2) {
    for (const Version& v : kVersions)
      if (v.major == major && v.minor == minor) return v;
    return Version{"", major, minor, 0, VER_PLATFORM_WIN32_NT, ""};
  }
  return kVersions[5];
}

bool Flag(const char* section, const char* key, bool fallback) {
  std::string v = winsim::detail::Setting(section, key, fallback ? "yes" : "no");
  return EqualNoCase(v, "yes") || v == "1" || EqualNoCase(v, "true");
}

/* ---- SIDs ---- */

std::mutex g_sidLock;
std::set<void*>* g_sids = new std::set<void*>;

std::string SidBytes(const BYTE authority[6], const std::vector<DWORD>& subs) {
  std::string sid;
  sid += (char)1;  // revision
  sid += (char)subs.size();
  sid.append(reinterpret_cast<const char*>(authority), 6);
  for (DWORD s : subs) sid.append(reinterpret_cast<const char*>(&s), 4);
  return sid;
}

size_t SidLength(const void* sid) { return 8 + 4 * (size_t) static_cast<const BYTE*>(sid)[1]; }

// The groups of the user's token, each as the bytes of its SID.
std::vector<std::string> TokenGroupSids() {
  const BYTE world[6] = SECURITY_WORLD_SID_AUTHORITY;
  const BYTE nt[6] = SECURITY_NT_AUTHORITY;
  std::vector<std::string> groups = {SidBytes(world, {0})};
  long extra = std::strtol(winsim::detail::Setting("security", "groups", "0").c_str(), nullptr, 10);
  for (long i = 0; i < extra && i < 4096; ++i)
    groups.push_back(SidBytes(nt, {21, 1004336348, 1177238915, 682003330, (DWORD)(1100 + i)}));
  if (Flag("security", "admin", true))
    groups.push_back(SidBytes(nt, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}));
  groups.push_back(SidBytes(nt, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS}));
  groups.push_back(SidBytes(nt, {4}));   // INTERACTIVE
  groups.push_back(SidBytes(nt, {11}));  // Authenticated Users
  return groups;
}

/* ---- Tokens ---- */

struct TokenObject : winsim::detail::KernelObject {
  DWORD access = 0;
};

std::atomic<bool> g_shutdownEnabled{false};

const struct {
  const char* name;
  DWORD luid;
} kPrivileges[] = {{"SeShutdownPrivilege", 19},
                   {"SeBackupPrivilege", 17},
                   {"SeRestorePrivilege", 18},
                   {"SeDebugPrivilege", 20},
                   {"SeChangeNotifyPrivilege", 23}};

}  // namespace

extern "C" BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  // It fails only for a record it does not know (machine.ini's extended=no stands for that), and
  // then for every call of a run alike: no single call of it fails on its own.
  WINSIM_FAULT_POINT(FALSE);
  if (!info) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  DWORD size = info->dwOSVersionInfoSize;
  bool extended = size == sizeof(OSVERSIONINFOEXA);
  if (size != sizeof(OSVERSIONINFOA) && !extended) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  if (extended && !Flag("windows", "extended", true)) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  Version v = MachineVersion();
  info->dwMajorVersion = v.major;
  info->dwMinorVersion = v.minor;
  // The 95 family keeps the version in the build number's high word.
  info->dwBuildNumber = v.platform == VER_PLATFORM_WIN32_NT
                            ? v.build
                            : (v.major << 24) | (v.minor << 16) | (v.build & 0xFFFF);
  info->dwPlatformId = v.platform;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  std::snprintf(info->szCSDVersion, sizeof info->szCSDVersion, "%s", v.servicePack);
  if (extended) {
    auto* ex = reinterpret_cast<LPOSVERSIONINFOEXA>(info);
    unsigned pack = 0;
    std::sscanf(v.servicePack, "Service Pack %u", &pack);
    ex->wServicePackMajor = (WORD)pack;
    ex->wServicePackMinor = 0;
    ex->wSuiteMask = 0x100;  // VER_SUITE_SINGLEUSERTS
    ex->wProductType = 1;    // VER_NT_WORKSTATION
    ex->wReserved = 0;
  }
  return TRUE;
}

extern "C" BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count,
                                                DWORD sub0, DWORD sub1, DWORD sub2, DWORD sub3,
                                                DWORD sub4, DWORD sub5, DWORD sub6, DWORD sub7,
                                                PSID* sid) {
  WINSIM_FAULT_POINT(FALSE, ERROR_ACCESS_DENIED);
  if (!authority || !sid || count == 0 || count > 8) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  const DWORD all[8] = {sub0, sub1, sub2, sub3, sub4, sub5, sub6, sub7};
  std::string bytes = SidBytes(authority->Value, std::vector<DWORD>(all, all + count));
  void* block = std::malloc(bytes.size());
  if (!block) return Fail(ERROR_NOT_ENOUGH_MEMORY, FALSE);
  std::memcpy(block, bytes.data(), bytes.size());
  std::lock_guard<std::mutex> guard(g_sidLock);
  g_sids->insert(block);
  *sid = block;
  return TRUE;
}

extern "C" PVOID WINAPI FreeSid(PSID sid) {
  {
    std::lock_guard<std::mutex> guard(g_sidLock);
    if (!sid || g_sids->erase(sid) == 0) return sid;  // not one of ours: handed back untouched
  }
  std::free(sid);
  return nullptr;
}

extern "C" BOOL WINAPI EqualSid(PSID a, PSID b) {
  if (!a || !b) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  size_t length = SidLength(a);
  SetLastError(0);
  return length == SidLength(b) && std::memcmp(a, b, length) == 0;
}

extern "C" BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass,
                                           LPVOID info, DWORD size, PDWORD returned) {
  WINSIM_FAULT_POINT(FALSE, ERROR_ACCESS_DENIED);
  auto object = winsim::detail::FindObject<TokenObject>(token);
  if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!(object->access & TOKEN_QUERY)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (infoClass != TokenGroups) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (!returned) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  std::vector<std::string> sids = TokenGroupSids();
  size_t head = offsetof(TOKEN_GROUPS, Groups) + sids.size() * sizeof(SID_AND_ATTRIBUTES);
  size_t needed = head;
  for (const std::string& s : sids) needed += s.size();
  *returned = (DWORD)needed;
  if (!info || size < needed) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  auto* groups = static_cast<PTOKEN_GROUPS>(info);
  groups->GroupCount = (DWORD)sids.size();
  BYTE* place = static_cast<BYTE*>(info) + head;
  for (size_t i = 0; i < sids.size(); ++i) {
    std::memcpy(place, sids[i].data(), sids[i].size());
    groups->Groups[i].Sid = place;
    groups->Groups[i].Attributes =
        SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;
    place += sids[i].size();
  }
  return TRUE;
}

extern "C" BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reason) {
  WINSIM_FAULT_POINT(FALSE, ERROR_PRIVILEGE_NOT_HELD, ERROR_ACCESS_DENIED);
  DWORD refusal = 0;
  OSVERSIONINFOA info;
  info.dwOSVersionInfoSize = sizeof info;
  bool nt = GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
  if (nt && !g_shutdownEnabled && (flags & (EWX_SHUTDOWN | EWX_REBOOT | EWX_POWEROFF)))
    refusal = ERROR_PRIVILEGE_NOT_HELD;
  else
    refusal =
        (DWORD)std::strtoul(winsim::detail::Setting("shutdown", "refuse", "0").c_str(), nullptr, 0);
  std::string state = winsim::detail::StateDir();
  if (!state.empty()) {
    char line[64];
    int n = std::snprintf(line, sizeof line, "%08X\t%08X\t%s\n", flags, reason,
                          refusal ? "refused" : "accepted");
    int fd =
        open((state + "/reboot-requests").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ssize_t ignored = write(fd, line, (size_t)n);
      (void)ignored;
      close(fd);
    }
  }
  if (refusal) return Fail(refusal, FALSE);
  return TRUE;
}

namespace winsim {
namespace detail {

BOOL WINAPI HostCheckTokenMembership(HANDLE token, PSID sid, PBOOL isMember) {
  if (FaultHit("CheckTokenMembership", WINSIM_CALLER(), {ERROR_ACCESS_DENIED})) return FALSE;
  if (!sid || !isMember) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  // Without a token the caller's own is used; a given one must be one of ours.
  if (token && !FindObject<TokenObject>(token)) return Fail(ERROR_INVALID_HANDLE, FALSE);
  std::string wanted(static_cast<const char*>(sid), SidLength(sid));
  *isMember = FALSE;
  for (const std::string& group : TokenGroupSids())
    if (group == wanted) *isMember = TRUE;
  return TRUE;
}

BOOL WINAPI HostOpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  if (FaultHit("OpenProcessToken", WINSIM_CALLER(), {ERROR_ACCESS_DENIED})) return FALSE;
  if (!token) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  OSVERSIONINFOA info;
  info.dwOSVersionInfoSize = sizeof info;
  if (GetVersionExA(&info) && info.dwPlatformId != VER_PLATFORM_WIN32_NT)
    return Fail(kErrorCallNotImplemented, FALSE);  // the 95 family has no tokens
  if (process != GetCurrentProcess()) return Fail(ERROR_INVALID_HANDLE, FALSE);
  auto object = std::make_shared<TokenObject>();
  object->access = access;
  *token = AddHandle(object);
  return TRUE;
}

BOOL WINAPI HostLookupPrivilegeValueA(LPCSTR system, LPCSTR name, PLUID luid) {
  if (FaultHit("LookupPrivilegeValueA", WINSIM_CALLER(), {ERROR_ACCESS_DENIED})) return FALSE;
  if (system && *system) return Fail(ERROR_BAD_NETPATH, FALSE);  // the machine has no network
  if (!name || !luid) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  for (const auto& p : kPrivileges)
    if (EqualNoCase(p.name, name)) {
      luid->LowPart = p.luid;
      luid->HighPart = 0;
      return TRUE;
    }
  return Fail(ERROR_NO_SUCH_PRIVILEGE, FALSE);
}

BOOL WINAPI HostAdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                                      DWORD bufferLength, PTOKEN_PRIVILEGES previousState,
                                      PDWORD returnLength) {
  if (FaultHit("AdjustTokenPrivileges", WINSIM_CALLER(), {ERROR_ACCESS_DENIED})) return FALSE;
  (void)bufferLength;
  (void)previousState;
  (void)returnLength;
  auto object = FindObject<TokenObject>(token);
  if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (!(object->access & TOKEN_ADJUST_PRIVILEGES)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (disableAll) {
    g_shutdownEnabled = false;
    return Fail(ERROR_SUCCESS, TRUE);
  }
  if (!newState) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  bool allAssigned = true;
  for (DWORD i = 0; i < newState->PrivilegeCount; ++i) {
    const LUID_AND_ATTRIBUTES& p = newState->Privileges[i];
    if (p.Luid.LowPart != 19 || p.Luid.HighPart != 0) {
      allAssigned = false;  // the user holds no other privilege worth enabling here
      continue;
    }
    if (!Flag("security", "shutdown", true)) {
      allAssigned = false;
      continue;
    }
    g_shutdownEnabled = (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
  }
  // Success either way; the last error says whether every privilege was there to adjust.
  return Fail(allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED, TRUE);
}

}  // namespace detail
}  // namespace winsim
