/* Start-up and the command line. */
#include "setup/startup.h"

#include <stdio.h>
#include <string.h>

#include "fileops/system_probes.h"
#include "setup/product_names.h"
#include "support/log.h"
#include "support/paths.h"
#include "support/report.h"

bool ForceReboot = false;

namespace {

const char kHelpText[] =
    "Common command-line parameters:\n"
    "  /?, /help - this help message\n"
    "  /silent - command-line operation\n"
    "  /reboot - force reboot if necessary, don't ask\n"
    "  /close  - force browsers close, don't ask\n"
    "  /lang=<xx-xxxxxx>\n"
    "\n"
    "Fixed Install parameters:\n"
    "  /home=<user data folder>\n"
    "  /bin=<PW program files folder>\n"
    "  /gator - import user data from Gator\n";

const char kSingleInstanceEvent[] = "{6F2A9C41-0B7E-4D3A-9E15-C84B27D03A6E}-PwSetup";

}  // namespace

char* CommandLineTail(char* commandLine) {
  char* p = commandLine;
  if (*p == '"') {
    // A quoted name runs to the closing quote (part of the name) or to the end; CharNextA
    // steps over double-byte characters, whose second byte may look like a quote.
    p = CharNextA(p);
    while (*p && *p != '"') p = CharNextA(p);
    if (*p == '"') ++p;
  } else {
    while ((unsigned char)*p > ' ') ++p;
  }
  while (*p && (unsigned char)*p <= ' ') ++p;
  return p;
}

bool InternetExplorerVersionPasses(const char* version) {
  if (!version || version[0] < '0' || version[0] > '9') return false;
  // A leading number of two or more digits is at least 10 unless it starts with a zero ("05").
  bool twoDigits = version[1] >= '0' && version[1] <= '9';
  return twoDigits && version[0] != '0' ? true : version[0] >= '5';
}

namespace {

bool g_dllSearchRestricted = false;

}  // namespace

bool RestrictDllSearch() {
  HMODULE kernel = GetModuleHandleA("KERNEL32.dll");
  auto setDefault =
      kernel
          ? ProcAs<SetDefaultDllDirectoriesFn>(GetProcAddress(kernel, "SetDefaultDllDirectories"))
          : nullptr;
  g_dllSearchRestricted = setDefault && setDefault(PW_LOAD_LIBRARY_SEARCH_SYSTEM32);
  return g_dllSearchRestricted;
}

bool SystemLibraryPath(const char* name, char* out) {
  out[0] = '\0';
  if (g_dllSearchRestricted) {
    snprintf(out, MAX_PATH, "%s", name);
    return true;
  }
  // Without the restriction a bare name would be looked for beside the setup first.
  char system[MAX_PATH];
  UINT n = GetSystemDirectoryA(system, sizeof system);
  return n > 0 && n < sizeof system && JoinPath(out, system, name);
}

HMODULE LoadSystemLibrary(const char* name) {
  char path[MAX_PATH];
  return SystemLibraryPath(name, path) ? LoadLibraryA(path) : nullptr;
}

int SetupMain(char* tail, RunSfxFn runSfx) {
  RestrictDllSearch();
  if (FindStringNoCase(tail, "/help") || FindStringNoCase(tail, "/?")) {
    MessageBoxA(nullptr, kHelpText, "Pondwick Install/Uninstall command-line switches",
                MB_OK | MB_ICONINFORMATION);
    return 0;
  }
  SilentMode = FindStringNoCase(tail, "/silent") != nullptr;
  ForceReboot = FindStringNoCase(tail, "/reboot") != nullptr;

  // Only the event's existence counts: it is never signalled or waited for.
  HANDLE instance = CreateEventA(nullptr, FALSE, FALSE, kSingleInstanceEvent);
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    ReportError(
        "Pondwick Setup is already running. Please, finish the previous setup before running a "
        "new one.",
        nullptr, 0);
    if (instance) CloseHandle(instance);
    // Nothing was installed by this run: a script that waits for it must not read success.
    return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
  }

  DeleteOldLogs();
  InitLog();

  HKEY ieKey = nullptr;
  char version[128] = "";
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Internet Explorer", 0,
                    KEY_QUERY_VALUE, &ieKey) != ERROR_SUCCESS) {
    ieKey = nullptr;
  } else {
    DWORD size = sizeof version;
    // Whatever its type, the value is read as a string; one that does not fit with its
    // terminator counts as missing rather than being read past its end.
    if (RegQueryValueExA(ieKey, "Version", nullptr, nullptr, reinterpret_cast<BYTE*>(version),
                         &size) != ERROR_SUCCESS ||
        (size == sizeof version && version[size - 1] != '\0'))
      version[0] = '\0';
    else if (size < sizeof version)
      version[size] = '\0';
  }
  WriteLog("IE", version, 0);
  if (!InternetExplorerVersionPasses(version)) {
    ReportError(
        "Pondwick requires Internet Explorer 5.0 or higher. Please, update IE and run Setup "
        "again.",
        version, 0);
    if (instance) CloseHandle(instance);
    if (ieKey) RegCloseKey(ieKey);
    return kResultStopped;
  }

  BOOL admin = 1;
  CheckAdminRights(&admin);
  WriteLog("Admin rights - ", admin ? "YES" : "NO", (LONG)GetWindowsVersion());

  int result = runSfx(tail);

  if (instance) CloseHandle(instance);
  if (ieKey) RegCloseKey(ieKey);
  return result;
}
