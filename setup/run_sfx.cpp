/*
 * The installation sequence. Steps 1 to 19 prepare: test the container, unpack it into a private
 * temporary folder, hand over to the configuration program and read back its choices. Steps 20
 * to 28 deploy: move the files into the installation folder, decide whether Windows must
 * restart, finish the portable edition, and start the product or ask for the restart.
 *
 * RunSfx owns the mapping of its own file, the progress window and the maker's registry key for
 * the length of the call: the steps return their result and RunSfx releases all three on the
 * way out, whichever step ended the run.
 */
#include "setup/run_sfx.h"

#include <stdio.h>
#include <string.h>

#include "container/block_chain.h"
#include "container/mapped_file.h"
#include "container/test_sfx.h"
#include "container/unpack.h"
#include "fileops/file_actions.h"
#include "fileops/processes.h"
#include "fileops/reboot.h"
#include "setup/product_key.h"
#include "setup/product_names.h"
#include "setup/startup.h"
#include "support/log.h"
#include "support/paths.h"
#include "support/progress_window.h"
#include "support/report.h"

namespace {

// What one run holds, filled step by step.
struct Run {
  char* tail = nullptr;
  MappedFile mapping;
  ProgressWindow window;
  ProductKey key;
  char setupPath[MAX_PATH] = "";
  char tempPath[MAX_PATH] = "";
  char tempFolder[MAX_PATH] = "";
  char installerDir[MAX_PATH] = "";
  char configArgs[MAX_PATH] = "";
  char installFolder[MAX_PATH] = "";
  char portableRoot[MAX_PATH] = "";
  bool isMultiLanguage = false;
  bool isPortable = false;
  bool useAdmin = false;
  DWORD wasFresh = 1;
  bool rebootRequired = false;
};

// Forms "folder\name" into out (MAX_PATH bytes). A path that would not fit is never cut: it is
// refused with a log line, and the caller takes the step's own failure.
bool FormPath(char* out, const char* folder, const char* name) {
  if (JoinPath(out, folder, name)) return true;
  WriteLog("RunSfx() - path too long in ", folder, ERROR_FILENAME_EXCED_RANGE);
  return false;
}

// The full path of the running setup into path (MAX_PATH bytes); false when the system gives
// none or one that does not fit, which would name another file.
bool GetSetupPath(char* path) {
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n > 0 && n < MAX_PATH) return true;
  if (n >= MAX_PATH) SetLastError(ERROR_FILENAME_EXCED_RANGE);
  path[0] = '\0';
  return false;
}

// The command that starts the product once after a restart, into out (MAX_PATH bytes); false
// when it would not fit, since Windows runs no longer command from RunOnce.
bool FormRunOnceCommand(char* out, const char* installFolder) {
  int n = snprintf(out, MAX_PATH, "\"%s\\identities.exe\" -fr", installFolder);
  return n >= 0 && n < MAX_PATH;
}

// The length of the longest name in folder, and at least that of the product's program, which
// is started from the installation folder whatever was unpacked.
size_t LongestName(const char* folder) {
  size_t longest = strlen("identities.exe");
  char mask[MAX_PATH];
  WIN32_FIND_DATAA entry;
  HANDLE find = JoinPath(mask, folder, "*.*") ? FindFirstFileA(mask, &entry) : INVALID_HANDLE_VALUE;
  if (find == INVALID_HANDLE_VALUE) return longest;
  do {
    size_t n = strlen(entry.cFileName);
    if (n > longest) longest = n;
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return longest;
}

// Whether the installation folder can hold every file unpacked into TempFolder and, in the
// fixed edition, be named in the command that RunOnce may have to carry. A folder that can't
// would end in copies that all fail, or in a restart that starts nothing.
bool InstallFolderFits(const Run& run) {
  char command[MAX_PATH];
  bool fits = strlen(run.installFolder) + 1 + LongestName(run.tempFolder) < MAX_PATH &&
              (run.isPortable || FormRunOnceCommand(command, run.installFolder));
  if (!fits)
    WriteLog("RunSfx() - path too long in ", run.installFolder, ERROR_FILENAME_EXCED_RANGE);
  return fits;
}

// TempFolder's deletion at the next start of Windows: its files first, since Windows removes a
// folder then only when it is empty. Whether all of it was scheduled.
bool ScheduleTempFolderRemoval(const char* tempFolder) {
  bool files = ForEachFile(tempFolder, ActDelFileOnReboot, nullptr, nullptr) != 0;
  return MoveFileOnReboot(tempFolder, nullptr) && files;
}

// TempFolder goes now. What can't go now (a file held open by a virus scanner, a listing that
// broke off) goes at the next start of Windows rather than staying in the user's temporary
// folder for good, with the unpacked product in it.
void RemoveTempFolder(const char* tempFolder) {
  if (!CleanupFolder(tempFolder)) ScheduleTempFolderRemoval(tempFolder);
}

// The run ends here after a failure once TempFolder exists: it goes, with everything in it.
// The key is closed by the caller of the steps, after this, as on every way out.
HRESULT Abandon(Run& run, HRESULT result) {
  RemoveTempFolder(run.tempFolder);
  run.key.Close();
  return result;
}

// Makes a folder that files are about to go into, with the folders above it; a folder that
// can't be made is reported with the system's error.
bool MakeFolder(const char* folder) {
  if (CreateFolderTree(folder)) return true;
  ReportError("Can't create folder ", folder, (LONG)GetLastError());
  return false;
}

// Steps 3 to 11: the container is tested and unpacked into TempFolder.
HRESULT Prepare(Run& run) {
  run.window.SetText("Preparing Installation...");
  if (!GetSetupPath(run.setupPath) ||
      !run.mapping.Open(run.setupPath, GENERIC_READ, OPEN_EXISTING)) {
    ReportError("Can't extract from SFX ", run.setupPath, (LONG)GetLastError());
    return E_FAIL;
  }

  run.window.SetText("Testing Integrity...");
  run.window.SetPos(100);
  if (!TestSFX(run.mapping.View(), run.mapping.Size())) {
    ReportError("Corrupted Setup File ", run.setupPath, 0);
    return E_FAIL;
  }

  run.window.SetPos(200);
  DWORD length = GetTempPathA(MAX_PATH, run.tempPath);
  if (length == 0 || length >= MAX_PATH) {
    // A temporary folder whose name does not fit is no more usable than none at all.
    LONG error = length ? ERROR_FILENAME_EXCED_RANGE : (LONG)GetLastError();
    WriteLog("Can't get temp path, will try", LogFolderPath, error);
    snprintf(run.tempPath, sizeof run.tempPath, "%s", LogFolderPath);
  }
  StripTrailingBackslash(run.tempPath);
  WriteLog("GetTempPath: ", run.tempPath, 0);

  if (!CreateTempFolder(run.tempPath, run.tempFolder)) {
    WriteLog("Bad TEMP! Try to create temp folder near", LogFilePath, 0);
    snprintf(run.tempPath, sizeof run.tempPath, "%s", LogFolderPath);
    if (!CreateTempFolder(run.tempPath, run.tempFolder)) {
      ReportError("Can't create temp folder to unpack files", nullptr, 0);
      return kResultStopped;
    }
  }

  run.window.SetText("Extracting Program Files...");
  run.window.SetPos(400);
  HRESULT result = UnpackSFX(run.mapping, "pondwick", run.tempFolder);
  if (result < 0) {
    ReportError("Can't unpack pondwick.bin to ", run.tempFolder, result);
    return Abandon(run, result);
  }

  run.window.SetText("Extracting Language Files...");
  run.window.SetPos(700);
  run.isMultiLanguage = UnpackSFX(run.mapping, "langs", run.tempFolder) >= 0;
  WriteLog(run.isMultiLanguage ? "MULTILANGUAGE Ver" : "ENGLISH Ver", nullptr, 0);

  // Without an "affid" block there is simply no affid.txt: the save's result plays no part.
  run.window.SetPos(800);
  run.window.SetText("Extracting Affiliate ID...");
  char affid[MAX_PATH];
  if (FormPath(affid, run.tempFolder, "affid.txt")) SaveSFX(run.mapping, "affid", affid, TRUE);

  run.window.SetPos(900);
  DWORD portableLength = 0;
  run.isPortable =
      FindSfxBlock(run.mapping.View(), run.mapping.Size(), "portable", &portableLength) != nullptr;
  WriteLog(run.isPortable ? "PORTABLE Ver" : "FIXED Ver", nullptr, 0);

  // The folder of the setup: C:\Downloads\setup.exe gives C:\Downloads, C:\setup.exe gives C:.
  if (GetSetupPath(run.installerDir)) {
    char* name = GetFileNamePart(run.installerDir);
    if (name && name != run.installerDir) *name = '\0';
    StripTrailingBackslash(run.installerDir);
  }
  return 0;
}

// Steps 12 to 19: the configuration program is run and its choices are read back.
HRESULT Configure(Run& run) {
  run.key.Open();
  run.key.SetString(names::kInstallerDir, run.installerDir);
  run.key.Delete(names::kWasFresh);

  // The tail is passed on whole or not at all: a cut option could mean something else.
  int n = snprintf(run.configArgs, sizeof run.configArgs, "%s %s", run.isPortable ? "pp" : "ii",
                   run.tail);
  if (n < 0 || n >= (int)sizeof run.configArgs) {
    run.configArgs[0] = '\0';
    ReportError(
        "The command line is too long: Setup can pass at most 256 characters on to the "
        "configuration program. Please, run Setup again with fewer options.",
        nullptr, 0);
    return Abandon(run, E_INVALIDARG);
  }

  run.window.SetPos(1000);
  run.window.Show(false);
  HRESULT result = RunProcess(run.tempFolder, "pwwipeout.exe", run.configArgs);
  if (result < 0) {
    ReportError("failed to run ", run.tempFolder, result);
    Sleep(500);
    return Abandon(run, result);
  }

  DWORD cancel = 0;
  run.key.GetNumber(names::kCancelInstall, &cancel);
  if (cancel) {
    WriteLog("PwWipeout cancelled", nullptr, 0);
    Sleep(500);
    return Abandon(run, kResultStopped);
  }

  LONG error = run.key.GetString(run.isPortable ? names::kFolderPortable : names::kFolder,
                                 run.installFolder, sizeof run.installFolder);
  WriteLog("PondwickFolder set to ", run.installFolder, 0);
  if (error != ERROR_SUCCESS || !run.installFolder[0]) {
    ReportError(
        "Installation folder is not specified. Please, run Setup again and report this error to "
        "support@pondwick.example",
        nullptr, error);
    return Abandon(run, kResultNoFolder);
  }
  StripTrailingBackslash(run.installFolder);
  // A folder too deep for the product is refused like a missing one, before anything is
  // touched.
  if (!InstallFolderFits(run)) {
    ReportError(
        "Installation folder is not specified. Please, run Setup again and report this error to "
        "support@pondwick.example",
        nullptr, ERROR_FILENAME_EXCED_RANGE);
    return Abandon(run, kResultNoFolder);
  }

  if (!run.isPortable) {
    char useAdmin[64] = "";
    run.key.GetString(names::kUseAdminFiles, useAdmin, sizeof useAdmin);
    WriteLog("_UseAdminFiles: ", useAdmin, 0);
    run.useAdmin = lstrcmpiA(useAdmin, "yes") == 0;
  }

  run.wasFresh = 1;
  run.key.GetNumber(names::kWasFresh, &run.wasFresh);
  WriteLog("WasFresh", run.wasFresh ? "YES" : "NO", 0);
  return 0;
}

// Step 26: the portable files go into the root folder, and the product gets copies in TempPath
// to run from.
HRESULT UnpackPortable(Run& run) {
  LONG error = run.key.GetString(names::kPortableRoot, run.portableRoot, sizeof run.portableRoot);
  if (error != ERROR_SUCCESS || !run.portableRoot[0]) {
    ReportError(
        "Root folder for Roamkit is not specified. Please, run Setup again and report this "
        "error to support@pondwick.example",
        nullptr, error);
    return Abandon(run, kResultFilesLocked);
  }
  StripTrailingBackslash(run.portableRoot);

  run.window.SetText("Copying Portable Files...");
  if (!MakeFolder(run.portableRoot)) return Abandon(run, HRESULT_FROM_WIN32(GetLastError()));
  HRESULT result = UnpackSFX(run.mapping, "portable", run.portableRoot);
  if (result < 0) {
    ReportError("Can't unpack portable.bin to ", run.portableRoot, result);
    return Abandon(run, result);
  }

  for (const char* name : names::kProductCopies) {
    char source[MAX_PATH];
    if (FormPath(source, run.installFolder, name)) ActCopyFile(source, run.tempPath);
  }
  return 0;
}

// The error of the first file that got no scheduled replacement, for the report; the walk
// that schedules them runs once per run, on this one thread.
bool g_unscheduled = false;
DWORD g_unscheduledError = 0;

LONG ScheduleReplacement(const char* path, const char* folder) {
  if (ActMoveFileOnReboot(path, folder)) return 1;
  if (!g_unscheduled) g_unscheduledError = GetLastError();
  g_unscheduled = true;
  return 0;
}

// Step 27, restart path: what is still in TempFolder replaces its target at the next start,
// TempFolder goes then too, and the product starts once at the next logon. A file that can
// get no replacement would leave the product broken after the restart: then nothing is asked
// and nothing started, TempFolder goes now, and the run ends with -5. The replacements already
// scheduled stay, each a whole new file.
HRESULT ScheduleAfterRestart(Run& run) {
  WriteLog("RunSfx() - configuring post-reboot", nullptr, LockedFileCount);
  run.window.SetText("Configuring Post-reboot actions...");
  g_unscheduled = false;
  g_unscheduledError = 0;
  if (!ForEachFile(run.tempFolder, ScheduleReplacement, run.installFolder, nullptr) ||
      g_unscheduled) {
    ReportError("Some files remain locked in ", run.installFolder, (LONG)g_unscheduledError);
    return Abandon(run, kResultFilesLocked);
  }
  // The files left in TempFolder have their copies beside their targets by now, so nothing in it
  // is needed any more: when its deletion can't be scheduled in full, it goes now.
  if (!ScheduleTempFolderRemoval(run.tempFolder)) CleanupFolder(run.tempFolder);

  HKEY runOnce = nullptr;
  LONG written =
      RegCreateKeyExA(HKEY_CURRENT_USER, names::kRunOnceKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &runOnce, nullptr);
  if (written != ERROR_SUCCESS) runOnce = nullptr;
  // The folder was checked to fit the command before anything was copied.
  char command[MAX_PATH];
  if (FormRunOnceCommand(command, run.installFolder)) {
    if (runOnce)
      written = RegSetValueExA(runOnce, names::kRunOnceValue, 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(command), (DWORD)strlen(command) + 1);
    WriteLog("Post-setup scheduled ", command, 0);
    // The files are in place after the restart all the same, but the product will not start by
    // itself then: the user is told rather than left waiting for it.
    if (written != ERROR_SUCCESS)
      ReportError("Pondwick will not start by itself after the restart: ", command, written);
  }

  AskForReboot(ForceReboot);
  if (runOnce) RegCloseKey(runOnce);
  return 0;
}

// Step 27, direct path: TempFolder goes, and the product runs now; the setup waits for it.
void StartProductNow(Run& run) {
  run.window.SetText("Deleting Temporary Files...");
  RemoveTempFolder(run.tempFolder);
  run.window.SetPos(1000);
  run.window.Show(false);
  RunProcess(run.isPortable ? run.tempPath : run.installFolder, "identities.exe",
             SilentMode ? "-frs" : "-fr");
  if (run.isPortable) {
    for (const char* name : names::kProductCopies) {
      char copy[MAX_PATH];
      // The copies lie in a folder that nothing else cleans. One that can't go now (a child the
      // product left running, a virus scanner) goes at the next start rather than stay for good.
      if (FormPath(copy, run.tempPath, name) && !ActDelFile(copy, nullptr)) {
        WriteLog("ActDelFile() - can't delete", copy, (LONG)GetLastError());
        ActDelFileOnReboot(copy, nullptr);
      }
    }
  }
}

// Steps 20 to 28: the files go into place and the run is finished one way or the other.
HRESULT Deploy(Run& run) {
  run.window.SetText("Copying Files...");
  run.window.SetPos(0);
  run.window.SetStep(run.isMultiLanguage ? 17 : 30);
  run.window.Show(!SilentMode);

  // The configuration program names the folder; it need not have made it.
  if (!run.useAdmin && !MakeFolder(run.installFolder)) return Abandon(run, kResultNoFolder);

  LockedFileCount = 0;
  if (!run.useAdmin) {
    ScheduleStaleCopiesRemoval(run.installFolder);
    ForEachFile(run.tempFolder, ActCheckLocked, run.installFolder, nullptr);
  } else {
    WriteLog("!!! Copying files skipped by bUseAdmin", nullptr, 0);
  }

  // The portable edition runs from copies of these files at once, so it cannot wait for a
  // restart: it stops before anything is copied.
  if (run.isPortable && LockedFileCount != 0) {
    ReportError("Some files remain locked in ", run.installFolder, 0);
    return Abandon(run, kResultFilesLocked);
  }

  // A failed copy is counted in LockedFileCount and finished by the restart. A listing that
  // broke off (reported by the walk) leaves files behind that nothing counted: without the
  // restart they would be deleted with TempFolder, so the restart finishes them too.
  bool movesLeftOver = false, copyFailed = false;
  if (!run.useAdmin) {
    LONG counted = LockedFileCount;
    movesLeftOver = !ForEachFile(run.tempFolder, ActMoveFile, run.installFolder, &run.window) &&
                    LockedFileCount == counted;
    copyFailed = LockedFileCount != counted;
  }
  WriteLog("Files moved to ", run.installFolder, 0);
  // The portable edition has no restart to finish the move: it would run a product of old and
  // new files.
  if (run.isPortable && (movesLeftOver || copyFailed)) {
    ReportError("Some files remain locked in ", run.installFolder, 0);
    return Abandon(run, kResultFilesLocked);
  }

  run.rebootRequired = !run.isPortable && !run.useAdmin &&
                       (run.wasFresh == 0 || LockedFileCount != 0 || movesLeftOver);
  if (run.rebootRequired) WriteLog("!!! REBOOT required", nullptr, 0);
  run.window.SetPos(990);

  if (run.isPortable) {
    HRESULT result = UnpackPortable(run);
    if (result < 0) return result;
  }

  if (run.rebootRequired) {
    HRESULT result = ScheduleAfterRestart(run);
    if (result < 0) return result;
  } else {
    StartProductNow(run);
  }

  run.window.SetPos(1000);
  WriteLog("RunSfx() - END", nullptr, 0);
  run.window.Destroy();
  run.key.Close();
  return 0;
}

// comctl32 is not one of the system's known DLLs, so it is not imported: loaded from System32
// only (see LoadSystemLibrary), it can't be replaced by a file beside the setup. It stays
// loaded for the window's life; without it the window can't be made and the run goes on
// without one.
void RegisterProgressBarClass() {
  HMODULE comctl = LoadSystemLibrary("comctl32.dll");
  if (!comctl) return;
  auto init = ProcAs<InitCommonControlsExFn>(GetProcAddress(comctl, "InitCommonControlsEx"));
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  if (init) init(&controls);
}

}  // namespace

HRESULT RunSfx(char* tail) {
  WriteLog("RunSfx() - START", nullptr, 0);

  Run run;
  run.tail = tail ? tail : const_cast<char*>("");
  RegisterProgressBarClass();
  run.window.Create(nullptr, 0);
  run.window.Show(!SilentMode);

  HRESULT result = Prepare(run);
  if (result >= 0) result = Configure(run);
  if (result >= 0) result = Deploy(run);

  // Every way out: the key (when a step left it open), the mapping, then the window.
  run.key.Close();
  run.mapping.Close();
  run.window.Destroy();
  return result;
}
