/*
 * The system and its modules: the Windows folder, the running program's path, the DLLs and the
 * functions that callers look up at run time (which machine.ini can declare missing, as on old
 * Windows versions), and the local heap.
 */
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "platform/posix/machine.h"
#include "platform/posix/moves.h"
#include "platform/posix/security.h"

using winsim::detail::EqualNoCase;
using winsim::detail::Fail;

namespace {

/* ---- Security descriptors, reached only through GetProcAddress ---- */

constexpr WORD kSeDaclPresent = 0x0004;
constexpr WORD kSeDaclDefaulted = 0x0008;
constexpr WORD kSeSelfRelative = 0x8000;

// The absolute descriptor keeps 32-bit Windows' 20-byte layout (revision, padding, control,
// then owner, group, SACL and DACL slots of four bytes), so that SECURITY_DESCRIPTOR_MIN_LENGTH
// bytes are enough here too. A 64-bit ACL pointer does not fit its slot, so the slot holds its
// low half and the full pointer is kept beside, by descriptor address.
std::mutex g_daclLock;
std::map<const void*, PACL>* g_dacls = new std::map<const void*, PACL>;

BOOL WINAPI HostInitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision) {
  if (winsim::detail::FaultHit("InitializeSecurityDescriptor", WINSIM_CALLER(), {ERROR_ACCESS_DENIED})) return FALSE;
  if (!descriptor) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  if (revision != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION, FALSE);
  std::memset(descriptor, 0, SECURITY_DESCRIPTOR_MIN_LENGTH);
  static_cast<BYTE*>(descriptor)[0] = SECURITY_DESCRIPTOR_REVISION;
  std::lock_guard<std::mutex> guard(g_daclLock);
  g_dacls->erase(descriptor);
  return TRUE;
}

BOOL WINAPI HostSetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL daclPresent,
                                          PACL dacl, BOOL daclDefaulted) {
  if (winsim::detail::FaultHit("SetSecurityDescriptorDacl", WINSIM_CALLER(), {ERROR_ACCESS_DENIED})) return FALSE;
  if (!descriptor) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  BYTE* sd = static_cast<BYTE*>(descriptor);
  // What Windows checks: the revision that InitializeSecurityDescriptor writes, then the form.
  if (sd[0] != SECURITY_DESCRIPTOR_REVISION) return Fail(ERROR_UNKNOWN_REVISION, FALSE);
  WORD control;
  std::memcpy(&control, sd + 2, sizeof control);
  if (control & kSeSelfRelative) return Fail(ERROR_INVALID_SECURITY_DESCR, FALSE);
  uint32_t slot = 0;
  if (!daclPresent) {
    control &= (WORD)~kSeDaclPresent;
  } else {
    control |= kSeDaclPresent;
    if (daclDefaulted)
      control |= kSeDaclDefaulted;
    else
      control &= (WORD)~kSeDaclDefaulted;
    slot = (uint32_t) reinterpret_cast<uintptr_t>(dacl);
    std::lock_guard<std::mutex> guard(g_daclLock);
    (*g_dacls)[descriptor] = dacl;
  }
  std::memcpy(sd + 2, &control, sizeof control);
  if (daclPresent) std::memcpy(sd + 16, &slot, sizeof slot);
  return TRUE;
}

/* ---- Modules ---- */

struct Module {
  const char* name;  // as Windows spells the file, without ".dll"
};

const Module kModules[] = {{"KERNEL32"}, {"ADVAPI32"}, {"USER32"}, {"COMCTL32"}};

struct Export {
  const Module* module;
  const char* name;
  FARPROC proc;
};

template <typename Fn>
FARPROC AsProc(Fn fn) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(fn));
}

// The functions that callers look up by name. Each entry names the DLL that exports it.
// The host has no DLL search path to restrict; it checks the flags as Windows does.
BOOL WINAPI HostSetDefaultDllDirectories(DWORD flags) {
  if (winsim::detail::FaultHit("SetDefaultDllDirectories", WINSIM_CALLER(), {ERROR_ACCESS_DENIED})) return FALSE;
  const DWORD known = 0x00000100 | 0x00000200 | 0x00000400 | 0x00000800 | 0x00001000;
  if (flags == 0 || (flags & ~known) != 0) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  return TRUE;
}

const Export kExports[] = {
    {&kModules[1], "InitializeSecurityDescriptor", AsProc(&HostInitializeSecurityDescriptor)},
    {&kModules[1], "SetSecurityDescriptorDacl", AsProc(&HostSetSecurityDescriptorDacl)},
    {&kModules[1], "CheckTokenMembership", AsProc(&winsim::detail::HostCheckTokenMembership)},
    {&kModules[1], "OpenProcessToken", AsProc(&winsim::detail::HostOpenProcessToken)},
    {&kModules[1], "LookupPrivilegeValueA", AsProc(&winsim::detail::HostLookupPrivilegeValueA)},
    {&kModules[1], "AdjustTokenPrivileges", AsProc(&winsim::detail::HostAdjustTokenPrivileges)},
    {&kModules[0], "MoveFileExA", AsProc(&winsim::detail::HostMoveFileExA)},
    {&kModules[0], "SetDefaultDllDirectories", AsProc(&HostSetDefaultDllDirectories)},
    {&kModules[3], "InitCommonControlsEx", AsProc(&InitCommonControlsEx)},
};

// The module a LoadLibraryA name stands for: the last path component, ".dll" added when the
// name has no extension (a trailing '.' means "no extension"), compared without case.
const Module* ModuleNamed(const char* name) {
  std::string base(name);
  size_t cut = base.find_last_of("\\/");
  if (cut != std::string::npos) base = base.substr(cut + 1);
  if (!base.empty() && base.back() == '.')
    base.pop_back();
  else if (base.size() > 4 && EqualNoCase(base.substr(base.size() - 4), ".dll"))
    base.resize(base.size() - 4);
  else if (base.find('.') != std::string::npos)
    return nullptr;  // another extension: not one of the system DLLs
  for (const Module& m : kModules)
    if (EqualNoCase(base, m.name)) return &m;
  return nullptr;
}

bool Listed(const char* section, const std::string& name, bool dllName) {
  for (std::string item : winsim::detail::SettingList(section, "missing")) {
    if (dllName && item.size() > 4 && EqualNoCase(item.substr(item.size() - 4), ".dll"))
      item.resize(item.size() - 4);
    if (dllName ? EqualNoCase(item, name) : item == name) return true;
  }
  return false;
}

const Module* ModuleOfHandle(HMODULE handle) {
  for (const Module& m : kModules)
    if (handle == reinterpret_cast<HMODULE>(const_cast<Module*>(&m))) return &m;
  return nullptr;
}

// Windows' rule for a string answer into a caller's buffer of size chars: the length without
// the NUL when it fits, else the size needed with the NUL and nothing written.
UINT CopyOut(const std::string& text, LPSTR buffer, UINT size) {
  if (text.size() >= size || !buffer) return (UINT)text.size() + 1;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return (UINT)text.size();
}

/* ---- Local heap ---- */

std::mutex g_heapLock;
std::set<void*>* g_blocks = new std::set<void*>;

}  // namespace

extern "C" UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  WINSIM_FAULT_POINT(0u, ERROR_INSUFFICIENT_BUFFER, ERROR_ACCESS_DENIED);
  return CopyOut(winsim::detail::Setting("windows", "directory", "C:\\WINDOWS"), buffer, size);
}

extern "C" UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  WINSIM_FAULT_POINT(0u, ERROR_INSUFFICIENT_BUFFER, ERROR_ACCESS_DENIED);
  return CopyOut(winsim::detail::Setting("windows", "directory", "C:\\WINDOWS") + "\\system32",
                 buffer, size);
}

extern "C" DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  WINSIM_FAULT_POINT(0u, ERROR_INSUFFICIENT_BUFFER, ERROR_ACCESS_DENIED);
  std::string path;
  if (module) {
    const Module* m = ModuleOfHandle(module);
    if (!m) return Fail(ERROR_MOD_NOT_FOUND, 0u);
    path = winsim::detail::Setting("windows", "directory", "C:\\WINDOWS") + "\\system32\\" +
           m->name + ".dll";
  } else if (const char* given = std::getenv("WINSIM_MODULE"); given && *given) {
    path = given;
  } else {
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return Fail(ERROR_FILE_NOT_FOUND, 0u);
    exe[n] = '\0';
    path = winsim::detail::WindowsPathOfHost(exe);
  }
  if (size == 0 || !buffer) return Fail(ERROR_INSUFFICIENT_BUFFER, 0u);
  if (path.size() >= size) {
    // Truncated to what fits with its NUL; the answer is the buffer's size.
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
    return Fail(ERROR_INSUFFICIENT_BUFFER, size);
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return (DWORD)path.size();
}

namespace winsim {
namespace detail {

HMODULE SystemModule(const char* name) {
  if (!name) return Fail(ERROR_MOD_NOT_FOUND, (HMODULE) nullptr);
  const Module* m = ModuleNamed(name);
  if (!m || Listed("libraries", m->name, true)) return Fail(ERROR_MOD_NOT_FOUND, (HMODULE) nullptr);
  return reinterpret_cast<HMODULE>(const_cast<Module*>(m));
}

}  // namespace detail
}  // namespace winsim

extern "C" HMODULE WINAPI LoadLibraryA(LPCSTR name) {
  WINSIM_FAULT_POINT((HMODULE) nullptr, ERROR_MOD_NOT_FOUND, ERROR_ACCESS_DENIED);
  return winsim::detail::SystemModule(name);
}

extern "C" FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  WINSIM_FAULT_POINT((FARPROC) nullptr, ERROR_PROC_NOT_FOUND, ERROR_ACCESS_DENIED);
  const Module* m = ModuleOfHandle(module);
  if (!m) return Fail(ERROR_MOD_NOT_FOUND, (FARPROC) nullptr);
  // An ordinal (a "name" below 0x10000) names no function the host layer exports.
  if (reinterpret_cast<uintptr_t>(name) < 0x10000)
    return Fail(ERROR_PROC_NOT_FOUND, (FARPROC) nullptr);
  for (const Export& e : kExports)
    if (e.module == m && std::strcmp(e.name, name) == 0 && !Listed("functions", name, false))
      return e.proc;
  return Fail(ERROR_PROC_NOT_FOUND, (FARPROC) nullptr);
}

extern "C" BOOL WINAPI FreeLibrary(HMODULE module) {
  WINSIM_FAULT_POINT(FALSE, ERROR_ACCESS_DENIED);
  if (!ModuleOfHandle(module)) return Fail(ERROR_MOD_NOT_FOUND, FALSE);
  return TRUE;  // system DLLs stay loaded for the life of the process
}

extern "C" HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
  WINSIM_FAULT_POINT((HLOCAL) nullptr, ERROR_NOT_ENOUGH_MEMORY, ERROR_ACCESS_DENIED);
  // Every block is fixed: LMEM_MOVEABLE callers get a pointer, which Windows also accepts as
  // the block's handle.
  void* block =
      (flags & LMEM_ZEROINIT) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
  if (!block) return Fail(ERROR_NOT_ENOUGH_MEMORY, (HLOCAL) nullptr);
  std::lock_guard<std::mutex> guard(g_heapLock);
  g_blocks->insert(block);
  return block;
}

extern "C" HLOCAL WINAPI LocalFree(HLOCAL memory) {
  WINSIM_FAULT_POINT(memory, ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED);
  if (!memory) return nullptr;
  {
    // A pointer that LocalAlloc did not give is refused, not handed to free().
    std::lock_guard<std::mutex> guard(g_heapLock);
    if (g_blocks->erase(memory) == 0) return Fail(ERROR_INVALID_HANDLE, memory);
  }
  std::free(memory);
  return nullptr;
}
