/*
 * The installation scenarios: one table, one runner. Each row builds a setup, prepares the
 * machine, runs the setup with a command line and checks everything it left behind; where the
 * run leaves work for the next start of Windows, the restart is carried out and the final state
 * checked too. The same rows run over the host layer and under Wine.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/install_runner.h"

namespace {

using e2e::Choices;
using e2e::Machine;
using e2e::Observed;
using Lines = std::vector<std::string>;

struct Row {
  const char* name;
  unsigned blocks;
  const char* tail;
  Choices choices;
  Machine machine;
  // Right after the run.
  int exitCode;
  Lines log;
  Lines boxes;
  const char* files;    // the tree of {I}: names in byte order; "=old" an older file's bytes,
                        // "=NAME" the payload file NAME's bytes
  Lines values;         // the product key
  const char* runOnce;  // "-" when missing
  Lines pending;
  bool tempExists;
  Lines configStarts;
  Lines productStarts;
  // After the restart, when the run left work for it.
  const char* restartedFiles;
  Lines restartedProductStarts;
  const char* portableFiles;
};

const Choices kChoose = {"{I}", "1", nullptr, nullptr, nullptr};
const Choices kUpdate = {"{I}", "0", nullptr, nullptr, nullptr};
const Machine kClean = {false, nullptr, nullptr, false, false, IDNO, false, false, nullptr};

// The lines without the last n.
Lines operator-(Lines a, size_t n) {
  a.resize(a.size() > n ? a.size() - n : 0);
  return a;
}

Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The configuration program's record of one start with the given arguments.
std::string Config(const std::string& args) {
  return "command line: \"{T}\\pwwipeout.exe\" " + args + "\r\nfolder: {T}\r\n" +
         "_InstallerDir: {D}\r\n_WasFresh at start: gone\r\n";
}

// The product's record of one start from folder with the given arguments.
std::string Product(const std::string& folder, const std::string& args, const std::string& beside) {
  return "start\r\ncommand line: \"" + folder + "\\identities.exe\" " + args +
         "\r\nfolder: " + folder + "\r\nbeside: " + beside + "\r\n";
}

const char kAllFiles[] =
    "affid.txt de.lng en.lng identities.exe pondwick.dll pwwipeout.exe readme.txt";
const char* const kNames[] = {"affid.txt",    "de.lng",        "en.lng",    "identities.exe",
                              "pondwick.dll", "pwwipeout.exe", "readme.txt"};

// ---- The log, piece by piece ----
// From the start to the configuration program's end: the container as given, the tail as given.
Lines Prepared(unsigned blocks, const std::string& args, bool badTemp = false) {
  Lines l = {"[0] RunSfx() - START ", "[0] TestSFX() -  OK", "[0] GetTempPath:  {D}\\tmp",
             "[*] CreateTempFolder: in {D}\\tmp"};
  if (badTemp)  // the folder is missing: no temporary name in it (ERROR_DIRECTORY)
    l = l + Lines{"[10B] CreateTempFolder: Can't get temp name ",
                  "[0] Bad TEMP! Try to create temp folder near {L}\\_pw.log",
                  "[*] CreateTempFolder: in {L}"};
  l = l + Lines{"[*] CreateTempFolder: {T}", "[0] UnpackSFX()  pondwick",
                "[0]  ... Unpacked to {T}", "[0] UnpackSFX()  langs"};
  l = l + (blocks & e2e::kLangs ? Lines{"[0]  ... Unpacked to {T}", "[0] MULTILANGUAGE Ver "}
                                : Lines{"[0] Err open  langs", "[0] ENGLISH Ver "});
  l = l + Lines{"[0] SaveSFX()  affid"};
  l = l + (blocks & e2e::kAffid ? Lines{"[0]  ... saved to  {T}\\affid.txt"}
                                : Lines{"[0] Err open  affid"});
  return l + Lines{blocks & e2e::kPortable ? "[0] PORTABLE Ver " : "[0] FIXED Ver ",
                   "[0] RunProcess() -  \"{T}\\pwwipeout.exe\" " + args,
                   "[0]  ... running, wait for it ", "[0]  ... finished "};
}

// The choices read back in the fixed edition; then, when files are to be copied, the folders
// of {I} that the setup makes ("{MADE I}" stands for their lines, none where {I} exists).
Lines Chosen(const char* admin, bool fresh, bool copies = true) {
  Lines l = {"[0] PondwickFolder set to  {I}", std::string("[0] _UseAdminFiles:  ") + admin,
             fresh ? "[0] WasFresh YES" : "[0] WasFresh NO"};
  if (copies) l.push_back("{MADE I}");
  return l;
}

// A walk of {T}, with the lines of each file.
Lines Walk(const std::vector<Lines>& files, bool ok = true) {
  Lines l = {"[0] ForEachFile() - by mask  {T}\\*.*"};
  for (const Lines& f : files) l = l + f;
  return l + Lines{ok ? "[0] ForEachFile() -  OK" : "[0] ForEachFile() -  FAIL"};
}

std::vector<Lines> Each(Lines (*lines)(const std::string&), const char* const* names = kNames,
                        size_t count = 7) {
  std::vector<Lines> all;
  for (size_t i = 0; i < count; ++i) all.push_back(lines(names[i]));
  return all;
}

Lines Moved(const std::string& name) {
  return {"[0] ActMoveFile() - move  {T}\\" + name, "[0] ActMoveFile() - moved to {I}\\" + name};
}
// Copied over an older file: the code is whatever the copy left (ERROR_ALREADY_EXISTS or none).
Lines Replaced(const std::string& name) {
  return {"[0] ActMoveFile() - move  {T}\\" + name, "[*] ActMoveFile() - moved to {I}\\" + name};
}
Lines NotLocked(const std::string& name) {
  return {"[0] ActCheckLocked() - not locked {I}\\" + name};
}
Lines Deleted(const std::string& name) { return {"[0] ActDelFile() - file  {T}\\" + name}; }

// The direct end: temp folder removed (with what is left in it), product started.
Lines Direct(const Lines& left, const std::string& args) {
  return Lines{"[0] Cleanup folder  {T}"} + left +
         Lines{"[0] RunProcess() -  \"{I}\\identities.exe\" " + args,
               "[0]  ... running, wait for it ", "[0]  ... finished ", "[0] RunSfx() - END "};
}

// The files as the move walk leaves them, with the folder "cache" that the configuration
// program left in {T}: a folder can't be copied, so it stays for the restart.
std::vector<Lines> MovedBesideCache() {
  std::vector<Lines> files = Each(Moved);
  files.push_back(
      {"[0] ActMoveFile() - move  {T}\\cache", "[5] ActMoveFile() - after reboot {I}\\cache"});
  return files;
}

// TempFolder can't be removed while the folder "cache" is in it: that is logged, and what is
// left goes at the next start of Windows.
const Lines kCacheStays = Lines{"[0] Cleanup folder  {T}"} +
                          Walk({{"[0] ActDelFile() - file  {T}\\cache"}}, false) +
                          Lines{"[*] Cleanup files err  {T}"} +
                          Walk({{"[*] MoveFileOnRebootNT() - MoveFileEx  OK"}}) +
                          Lines{"[*] MoveFileOnRebootNT() - MoveFileEx  OK"};
const std::vector<std::string> kCacheScheduled = {"{T}\\cache -> ", "{T} -> "};

// An update whose pondwick.dll is held open: found locked, not copied, left for the restart.
Lines LockedPondwickLeftForTheRestart() {
  return Walk({NotLocked("identities.exe"), {"[20] ActCheckLocked() - locked {I}\\pondwick.dll"}}) +
         Walk({Moved("affid.txt"),
               Moved("de.lng"),
               Moved("en.lng"),
               Replaced("identities.exe"),
               {"[0] ActMoveFile() - move  {T}\\pondwick.dll",
                "[20] ActMoveFile() - after reboot {I}\\pondwick.dll"},
               Moved("pwwipeout.exe"),
               Moved("readme.txt")}) +
         Lines{"[0] Files moved to  {I}", "[0] !!! REBOOT required ",
               "[2] RunSfx() - configuring post-reboot "};
}

const char kRestartQuestion[] =
    "Pondwick Setup|Pondwick Setup requires you to reboot your computer.\n"
    "Do you want to reboot now?";
const char kRunOnce[] = "\"{I}\\identities.exe\" -fr";

// A run that stops before anything is copied: its log up to the report, then {T} goes with
// everything unpacked; nothing in {I}, no RunOnce, nothing pending, no product started.
Row Stopped(const char* name, const char* tail, const Choices& choices, int exitCode,
            const Lines& log, const Lines& boxes, const Lines& values, const Lines& configStarts) {
  return {name,
          e2e::kAll,
          tail,
          choices,
          kClean,
          exitCode,
          log + Lines{"[0] Cleanup folder  {T}"} + Walk(Each(Deleted)),
          boxes,
          "-",
          values,
          "-",
          {},
          false,
          configStarts,
          {},
          nullptr,
          {},
          nullptr};
}

const Row kRows[] = {
    {"FixedFreshNothingLocked",
     e2e::kAll,
     "",
     kChoose,
     kClean,
     0,
     Prepared(e2e::kAll, "ii ") + Chosen("", true) + Walk({}) + Walk(Each(Moved)) +
         Lines{"[0] Files moved to  {I}"} + Direct(Walk({}), "-fr"),
     {},
     kAllFiles,
     {"_InstallerDir={D}", "_WasFresh=1", "PondwickFolder={I}"},
     "-",
     {},
     false,
     {Config("ii ")},
     {Product("{I}", "-fr", kAllFiles)},
     nullptr,
     {},
     nullptr},
    {"FixedFreshSilent",
     e2e::kAll,
     "/silent /lang=de-german",
     kChoose,
     kClean,
     0,
     Prepared(e2e::kAll, "ii /silent /lang=de-german") + Chosen("", true) + Walk({}) +
         Walk(Each(Moved)) + Lines{"[0] Files moved to  {I}"} + Direct(Walk({}), "-frs"),
     {},
     kAllFiles,
     {"_InstallerDir={D}", "_WasFresh=1", "PondwickFolder={I}"},
     "-",
     {},
     false,
     {Config("ii /silent /lang=de-german")},
     {Product("{I}", "-frs", kAllFiles)},
     nullptr,
     {},
     nullptr},
    {"FixedEnglishWithoutAffid",
     0,
     "/silent",
     kChoose,
     kClean,
     0,
     Prepared(0, "ii /silent") + Chosen("", true) + Walk({}) +
         Walk({Moved("identities.exe"), Moved("pondwick.dll"), Moved("pwwipeout.exe"),
               Moved("readme.txt")}) +
         Lines{"[0] Files moved to  {I}"} + Direct(Walk({}), "-frs"),
     {},
     "identities.exe pondwick.dll pwwipeout.exe readme.txt",
     {"_InstallerDir={D}", "_WasFresh=1", "PondwickFolder={I}"},
     "-",
     {},
     false,
     {Config("ii /silent")},
     {Product("{I}", "-frs", "identities.exe pondwick.dll pwwipeout.exe readme.txt")},
     nullptr,
     {},
     nullptr},
    {"FixedAdminFilesCopyNothing",
     e2e::kAll,
     "",
     {"{I}", "1", nullptr, "Yes", nullptr},
     kClean,
     0,
     Prepared(e2e::kAll, "ii ") + Chosen("Yes", true, false) +
         Lines{"[0] !!! Copying files skipped by bUseAdmin ", "[0] Files moved to  {I}",
               "[0] Cleanup folder  {T}"} +
         Walk(Each(Deleted)) +
         Lines{"[0] RunProcess() -  \"{I}\\identities.exe\" -fr",
               "[2]  ... Can't run  \"{I}\\identities.exe\" -fr: {E2}", "", " ",
               "[0] RunSfx() - END "},
     {"\"{I}\\identities.exe\" -fr| ... Can't run  \"{I}\\identities.exe\" -fr: {E2}\r\n\r\n"},
     "-",
     {"_InstallerDir={D}", "_WasFresh=1", "PondwickFolder={I}", "_UseAdminFiles=Yes"},
     "-",
     {},
     false,
     {Config("ii ")},
     {},
     nullptr,
     {},
     nullptr},
    {"FixedNotFreshRestartDeclined",
     e2e::kAll,
     "",
     kUpdate,
     {true, nullptr, nullptr, false, false, IDNO, false, false, nullptr},
     0,
     Prepared(e2e::kAll, "ii ") + Chosen("", false) +
         Walk({NotLocked("identities.exe"), NotLocked("pondwick.dll")}) +
         Walk({Moved("affid.txt"), Moved("de.lng"), Moved("en.lng"), Replaced("identities.exe"),
               Replaced("pondwick.dll"), Moved("pwwipeout.exe"), Moved("readme.txt")}) +
         Lines{"[0] Files moved to  {I}", "[0] !!! REBOOT required ",
               "[0] RunSfx() - configuring post-reboot "} +
         Walk({}) + Walk({}) +
         Lines{"[*] MoveFileOnRebootNT() - MoveFileEx  OK",
               "[0] Post-setup scheduled  \"{I}\\identities.exe\" -fr",
               "[0] AskForReboot() - cancelled ", "[0] RunSfx() - END "},
     {kRestartQuestion},
     kAllFiles,
     {"_InstallerDir={D}", "_WasFresh=0", "PondwickFolder={I}"},
     kRunOnce,
     {"{T} -> "},
     true,
     {Config("ii ")},
     {},
     kAllFiles,
     {Product("{I}", "-fr", kAllFiles)},
     nullptr},
    {"FixedLockedRestartDeclined",
     e2e::kAll,
     "",
     kChoose,
     {true, "pondwick.dll", nullptr, false, false, IDNO, false, false, nullptr},
     0,
     Prepared(e2e::kAll, "ii ") + Chosen("", true) + LockedPondwickLeftForTheRestart() +
         Walk({{"[0] ActMoveFileOnReboot() - move  {T}\\pondwick.dll",
                "[0]                           to  {I}",
                "[*] MoveFileOnRebootNT() - MoveFileEx  OK"}}) +
         Walk({{"[*] MoveFileOnRebootNT() - MoveFileEx  OK"}}) +
         Lines{"[*] MoveFileOnRebootNT() - MoveFileEx  OK",
               "[0] Post-setup scheduled  \"{I}\\identities.exe\" -fr",
               "[0] AskForReboot() - cancelled ", "[0] RunSfx() - END "},
     {kRestartQuestion},
     "_pw1.pw_=pondwick.dll affid.txt de.lng en.lng identities.exe pondwick.dll=old "
     "pwwipeout.exe readme.txt",
     {"_InstallerDir={D}", "_WasFresh=1", "PondwickFolder={I}"},
     kRunOnce,
     {"{I}\\_pw1.pw_ -> {I}\\pondwick.dll", "{T}\\pondwick.dll -> ", "{T} -> "},
     true,
     {Config("ii ")},
     {},
     kAllFiles,
     {Product("{I}", "-fr", kAllFiles)},
     nullptr},
    Stopped("CancelledByTheConfiguration", "", {"{I}", "1", "1", nullptr, nullptr}, -1,
            Prepared(e2e::kAll, "ii ") + Lines{"[0] PwWipeout cancelled "}, {},
            {"_InstallerDir={D}", "_WasFresh=1", "_CancelInstall=1", "PondwickFolder={I}"},
            {Config("ii ")}),
    Stopped("NoInstallationFolder", "/silent", {nullptr, "1", nullptr, nullptr, nullptr}, -4,
            Prepared(e2e::kAll, "ii /silent") +
                Lines{"[0] PondwickFolder set to  ",
                      "[2] Installation folder is not specified. Please, run Setup again and report "
                      "this error to support@pondwick.example : {E2}",
                      "", " "},
            {}, {"_InstallerDir={D}", "_WasFresh=1"}, {Config("ii /silent")}),
    {"CorruptedPackedBlock",
     e2e::kAll | e2e::kCorrupt,
     "",
     kChoose,
     kClean,
     (int)0x80004005,
     {"[0] RunSfx() - START ", "[0] TestSFX - Bad CRC ", "[0] Corrupted Setup File  {S}", " "},
     {"{S}|Corrupted Setup File  {S}\r\n"},
     "-",
     {},
     "-",
     {},
     false,
     {},
     {},
     nullptr,
     {},
     nullptr},
    // The portable edition reads neither "_UseAdminFiles" nor, for the restart, "_WasFresh".
    {"PortableNothingLocked",
     e2e::kAll | e2e::kPortable,
     "",
     {"{I}", "0", nullptr, "yes", "{R}"},
     kClean,
     0,
     Prepared(e2e::kAll | e2e::kPortable, "pp ") +
         Lines{"[0] PondwickFolder set to  {I}", "[0] WasFresh NO", "{MADE I}"} + Walk({}) +
         Walk(Each(Moved)) +
         Lines{"[0] Files moved to  {I}", "{MADE R}", "[0] UnpackSFX()  portable",
               "[0]  ... Unpacked to {R}", "[0] ActCopyFile() - from  {I}\\identities.exe",
               "[0]                   to  {P}\\identities.exe",
               "[0] ActCopyFile() - from  {I}\\pondwick.dll",
               "[0]                   to  {P}\\pondwick.dll",
               "[0] ActCopyFile() - from  {I}\\affid.txt",
               "[0]                   to  {P}\\affid.txt", "[0] Cleanup folder  {T}"} +
         Walk({}) +
         Lines{"[0] RunProcess() -  \"{P}\\identities.exe\" -fr", "[0]  ... running, wait for it ",
               "[0]  ... finished ", "[0] ActDelFile() - file  {P}\\identities.exe",
               "[0] ActDelFile() - file  {P}\\pondwick.dll",
               "[0] ActDelFile() - file  {P}\\affid.txt", "[0] RunSfx() - END "},
     {},
     kAllFiles,
     {"_InstallerDir={D}", "_WasFresh=0", "PondwickFolderPort={I}", "_UseAdminFiles=yes",
      "_PortableRootFolder={R}"},
     "-",
     {},
     false,
     {Config("pp ")},
     {Product("{P}", "-fr", "affid.txt identities.exe pondwick.dll")},
     nullptr,
     {},
     "roamkit.ini"},
    {"PortableLocked",
     e2e::kAll | e2e::kPortable,
     "/silent",
     {"{I}", "1", nullptr, nullptr, "{R}"},
     {true, "pondwick.dll", nullptr, false, false, IDNO, false, false, nullptr},
     -5,
     Prepared(e2e::kAll | e2e::kPortable, "pp /silent") +
         Lines{"[0] PondwickFolder set to  {I}", "[0] WasFresh YES", "{MADE I}"} +
         Walk({NotLocked("identities.exe"), {"[20] ActCheckLocked() - locked {I}\\pondwick.dll"}}) +
         Lines{"[0] Some files remain locked in  {I}", " ", "[0] Cleanup folder  {T}"} +
         Walk(Each(Deleted)),
     {},
     "identities.exe=old pondwick.dll=old",
     {"_InstallerDir={D}", "_WasFresh=1", "PondwickFolderPort={I}", "_PortableRootFolder={R}"},
     "-",
     {},
     false,
     {Config("pp /silent")},
     {},
     nullptr,
     {},
     "-"},
    {"PortableWithoutRoot",
     e2e::kAll | e2e::kPortable,
     "/silent",
     {"{I}", "1", nullptr, nullptr, "(empty)"},
     kClean,
     -5,
     Prepared(e2e::kAll | e2e::kPortable, "pp /silent") +
         Lines{"[0] PondwickFolder set to  {I}", "[0] WasFresh YES", "{MADE I}"} + Walk({}) +
         Walk(Each(Moved)) +
         Lines{"[0] Files moved to  {I}",
               "[0] Root folder for Roamkit is not specified. Please, run Setup again and report "
               "this error to support@pondwick.example ",
               " ", "[0] Cleanup folder  {T}"} +
         Walk({}),
     {},
     kAllFiles,
     {"_InstallerDir={D}", "_WasFresh=1", "PondwickFolderPort={I}", "_PortableRootFolder="},
     "-",
     {},
     false,
     {Config("pp /silent")},
     {},
     nullptr,
     {},
     "-"},
    // The system's temp folder is missing: the private folder is made beside the log.
    {"NoUsableTempFolder",
     e2e::kLangs,
     "/silent",
     kChoose,
     {false, nullptr, nullptr, true, false, IDNO, false, false, nullptr},
     0,
     Prepared(e2e::kLangs, "ii /silent", true) + Chosen("", true) + Walk({}) +
         Walk({Moved("de.lng"), Moved("en.lng"), Moved("identities.exe"), Moved("pondwick.dll"),
               Moved("pwwipeout.exe"), Moved("readme.txt")}) +
         Lines{"[0] Files moved to  {I}"} + Direct(Walk({}), "-frs"),
     {},
     "de.lng en.lng identities.exe pondwick.dll pwwipeout.exe readme.txt",
     {"_InstallerDir={D}", "_WasFresh=1", "PondwickFolder={I}"},
     "-",
     {},
     false,
     {Config("ii /silent")},
     {Product("{I}", "-frs", "de.lng en.lng identities.exe pondwick.dll pwwipeout.exe readme.txt")},
     nullptr,
     {},
     nullptr},
    // With /silent /reboot nothing is shown, and Windows is asked to restart at once.
    {"SilentForcedRestart",
     e2e::kAll,
     "/silent /reboot",
     kChoose,
     {true, "pondwick.dll", nullptr, false, false, 0, false, false, nullptr},
     0,
     Prepared(e2e::kAll, "ii /silent /reboot") + Chosen("", true) +
         LockedPondwickLeftForTheRestart() +
         Walk({{"[0] ActMoveFileOnReboot() - move  {T}\\pondwick.dll",
                "[0]                           to  {I}",
                "[*] MoveFileOnRebootNT() - MoveFileEx  OK"}}) +
         Walk({{"[*] MoveFileOnRebootNT() - MoveFileEx  OK"}}) +
         Lines{"[*] MoveFileOnRebootNT() - MoveFileEx  OK",
               "[0] Post-setup scheduled  \"{I}\\identities.exe\" -fr",
               "[0] AskForReboot() - rebooting ", "[0] RunSfx() - END "},
     {},
     "_pw1.pw_=pondwick.dll affid.txt de.lng en.lng identities.exe pondwick.dll=old "
     "pwwipeout.exe readme.txt",
     {"_InstallerDir={D}", "_WasFresh=1", "PondwickFolder={I}"},
     kRunOnce,
     {"{I}\\_pw1.pw_ -> {I}\\pondwick.dll", "{T}\\pondwick.dll -> ", "{T} -> "},
     true,
     {Config("ii /silent /reboot")},
     {},
     kAllFiles,
     {Product("{I}", "-fr", kAllFiles)},
     nullptr},
    // An update answered Yes: every file was moved, the restart finishes the rest.
    {"UpdateRestartAccepted",
     e2e::kAll,
     "",
     kUpdate,
     {true, nullptr, nullptr, false, false, IDYES, false, false, nullptr},
     0,
     Prepared(e2e::kAll, "ii ") + Chosen("", false) +
         Walk({NotLocked("identities.exe"), NotLocked("pondwick.dll")}) +
         Walk({Moved("affid.txt"), Moved("de.lng"), Moved("en.lng"), Replaced("identities.exe"),
               Replaced("pondwick.dll"), Moved("pwwipeout.exe"), Moved("readme.txt")}) +
         Lines{"[0] Files moved to  {I}", "[0] !!! REBOOT required ",
               "[0] RunSfx() - configuring post-reboot "} +
         Walk({}) + Walk({}) +
         Lines{"[*] MoveFileOnRebootNT() - MoveFileEx  OK",
               "[0] Post-setup scheduled  \"{I}\\identities.exe\" -fr",
               "[0] AskForReboot() - rebooting ", "[0] RunSfx() - END "},
     {kRestartQuestion},
     kAllFiles,
     {"_InstallerDir={D}", "_WasFresh=0", "PondwickFolder={I}"},
     kRunOnce,
     {"{T} -> "},
     true,
     {Config("ii ")},
     {},
     kAllFiles,
     {Product("{I}", "-fr", kAllFiles)},
     nullptr},
    // A file marked read-only cannot be opened for writing: it counts as locked. Windows does
    // not replace a read-only file at its next start, so the setup clears the attribute when it
    // schedules the replacement: after the restart the new file stands and the copy is gone.
    {"ReadOnlyTarget",
     e2e::kAll,
     "",
     kChoose,
     {true, nullptr, "readme.txt", false, false, IDNO, false, false, nullptr},
     0,
     Prepared(e2e::kAll, "ii ") + Chosen("", true) +
         Walk({NotLocked("identities.exe"),
               NotLocked("pondwick.dll"),
               {"[5] ActCheckLocked() - locked {I}\\readme.txt"}}) +
         Walk({Moved("affid.txt"),
               Moved("de.lng"),
               Moved("en.lng"),
               Replaced("identities.exe"),
               Replaced("pondwick.dll"),
               Moved("pwwipeout.exe"),
               {"[0] ActMoveFile() - move  {T}\\readme.txt",
                "[5] ActMoveFile() - after reboot {I}\\readme.txt"}}) +
         Lines{"[0] Files moved to  {I}", "[0] !!! REBOOT required ",
               "[2] RunSfx() - configuring post-reboot "} +
         Walk({{"[0] ActMoveFileOnReboot() - move  {T}\\readme.txt",
                "[0]                           to  {I}",
                "[*] MoveFileOnRebootNT() - MoveFileEx  OK"}}) +
         Walk({{"[*] MoveFileOnRebootNT() - MoveFileEx  OK"}}) +
         Lines{"[*] MoveFileOnRebootNT() - MoveFileEx  OK",
               "[0] Post-setup scheduled  \"{I}\\identities.exe\" -fr",
               "[0] AskForReboot() - cancelled ", "[0] RunSfx() - END "},
     {kRestartQuestion},
     "_pw1.pw_=readme.txt affid.txt de.lng en.lng identities.exe pondwick.dll pwwipeout.exe "
     "readme.txt=old",
     {"_InstallerDir={D}", "_WasFresh=1", "PondwickFolder={I}"},
     kRunOnce,
     {"{I}\\_pw1.pw_ -> {I}\\readme.txt", "{T}\\readme.txt -> ", "{T} -> "},
     true,
     {Config("ii ")},
     {},
     "affid.txt de.lng en.lng identities.exe pondwick.dll pwwipeout.exe readme.txt",
     {Product("{I}", "-fr",
              "affid.txt de.lng en.lng identities.exe pondwick.dll pwwipeout.exe readme.txt")},
     nullptr},
    // The 95 family: the replacements go into wininit.ini's [Rename] section, by short names.
    {"Windows98Locked",
     e2e::kAll,
     "/silent",
     kChoose,
     {true, "pondwick.dll", nullptr, false, true, IDNO, false, false, nullptr},
     0,
     Prepared(e2e::kAll, "ii /silent") + Chosen("", true) + LockedPondwickLeftForTheRestart() +
         Walk({{"[0] ActMoveFileOnReboot() - move  {T}\\pondwick.dll",
                "[0]                           to  {I}",
                "[0] MoveFileOnReboot9x() - from  {I}\\_pw1.pw_",
                "[0]                      to  {I}\\pondwick.dll",
                "[0] MoveFileOnReboot9x() - ini line  {I}\\pondwick.dll={I}\\_pw1.pw_", ""}}) +
         Walk({{"[0] MoveFileOnReboot9x() - from  {T}\\pondwick.dll",
                "[0]                      to  ",
                "[0] MoveFileOnReboot9x() - ini line  NUL={T}\\pondwick.dll", ""}}) +
         Lines{"[0] MoveFileOnReboot9x() - from  {T}", "[0]                      to  ",
               "[0] MoveFileOnReboot9x() - ini line  NUL={T}", "",
               "[0] Post-setup scheduled  \"{I}\\identities.exe\" -fr",
               "[0] AskForReboot() - cancelled ", "[0] RunSfx() - END "},
     {kRestartQuestion},
     "_pw1.pw_=pondwick.dll affid.txt de.lng en.lng identities.exe pondwick.dll=old "
     "pwwipeout.exe readme.txt",
     {"_InstallerDir={D}", "_WasFresh=1", "PondwickFolder={I}"},
     kRunOnce,
     {"wininit: [Rename]", "wininit: {I}\\pondwick.dll={I}\\_pw1.pw_",
      "wininit: NUL={T}\\pondwick.dll", "wininit: NUL={T}"},
     true,
     {Config("ii /silent")},
     {},
     kAllFiles,
     {Product("{I}", "-fr", kAllFiles)},
     nullptr},
    // A "_CancelInstall" left from an earlier run cancels this one too.
    {"StaleCancel",
     e2e::kAll,
     "",
     kChoose,
     {false, nullptr, nullptr, false, false, IDNO, true, false, nullptr},
     -1,
     Prepared(e2e::kAll, "ii ") + Lines{"[0] PwWipeout cancelled ", "[0] Cleanup folder  {T}"} +
         Walk(Each(Deleted)),
     {},
     "-",
     {"_InstallerDir={D}", "_WasFresh=1", "_CancelInstall=1", "PondwickFolder={I}"},
     "-",
     {},
     false,
     {Config("ii ")},
     {},
     nullptr,
     {},
     nullptr},
    // A tail that would not reach the configuration program whole is refused, never cut.
    {"TailTooLong",
     e2e::kAll,
     "/silent "
     "/lang="
     "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
     "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
     "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
     kChoose,
     kClean,
     (int)0x80070057,
     Lines{"[0] RunSfx() - START ", "[0] TestSFX() -  OK", "[0] GetTempPath:  {D}\\tmp",
           "[*] CreateTempFolder: in {D}\\tmp", "[*] CreateTempFolder: {T}",
           "[0] UnpackSFX()  pondwick", "[0]  ... Unpacked to {T}", "[0] UnpackSFX()  langs",
           "[0]  ... Unpacked to {T}", "[0] MULTILANGUAGE Ver ", "[0] SaveSFX()  affid",
           "[0]  ... saved to  {T}\\affid.txt", "[0] FIXED Ver ",
           "[0] The command line is too long: Setup can pass at most 256 characters on to the "
           "configuration program. Please, run Setup again with fewer options. ",
           " ", "[0] Cleanup folder  {T}"} +
         Walk(Each(Deleted)),
     {},
     "-",
     {"_InstallerDir={D}"},
     "-",
     {},
     false,
     {},
     {},
     nullptr,
     {},
     nullptr},
    // Signed by the vendor: the certificate table behind the container changes nothing.
    {"SignedSetup",
     e2e::kAll,
     "",
     kChoose,
     {false, nullptr, nullptr, false, false, IDNO, false, true, nullptr},
     0,
     Prepared(e2e::kAll, "ii ") + Chosen("", true) + Walk({}) + Walk(Each(Moved)) +
         Lines{"[0] Files moved to  {I}"} + Direct(Walk({}), "-fr"),
     {},
     kAllFiles,
     {"_InstallerDir={D}", "_WasFresh=1", "PondwickFolder={I}"},
     "-",
     {},
     false,
     {Config("ii ")},
     {Product("{I}", "-fr", kAllFiles)},
     nullptr,
     {},
     nullptr},
    // No "_PortableRootFolder" at all: the report carries the read's own error.
    {"PortableRootMissing",
     e2e::kAll | e2e::kPortable,
     "/silent",
     {"{I}", "1", nullptr, nullptr, nullptr},
     kClean,
     -5,
     Prepared(e2e::kAll | e2e::kPortable, "pp /silent") +
         Lines{"[0] PondwickFolder set to  {I}", "[0] WasFresh YES", "{MADE I}"} + Walk({}) +
         Walk(Each(Moved)) +
         Lines{"[0] Files moved to  {I}",
               "[2] Root folder for Roamkit is not specified. Please, run Setup again and report "
               "this error to support@pondwick.example : {E2}",
               "", " ", "[0] Cleanup folder  {T}"} +
         Walk({}),
     {},
     kAllFiles,
     {"_InstallerDir={D}", "_WasFresh=1", "PondwickFolderPort={I}"},
     "-",
     {},
     false,
     {Config("pp /silent")},
     {},
     nullptr,
     {},
     "-"},
    // The portable block does not unpack: what was moved stays, the run ends with the failure.
    {"PortableDoesNotUnpack",
     e2e::kAll | e2e::kPortable | e2e::kBadPortable,
     "/silent",
     {"{I}", "1", nullptr, nullptr, "{R}"},
     kClean,
     (int)0x80070057,
     Prepared(e2e::kAll | e2e::kPortable, "pp /silent") +
         Lines{"[0] PondwickFolder set to  {I}", "[0] WasFresh YES", "{MADE I}"} + Walk({}) +
         Walk(Each(Moved)) +
         Lines{"[0] Files moved to  {I}", "{MADE R}", "[0] UnpackSFX()  portable",
               "[80070057] SetDecoderProperties error : {E80070057}", "", " ",
               "[80070057] Err unpack to {R}: {E80070057}", "", " ",
               "[80070057] Can't unpack portable.bin to  {R}: {E80070057}", "", " ",
               "[0] Cleanup folder  {T}"} +
         Walk({}),
     {},
     kAllFiles,
     {"_InstallerDir={D}", "_WasFresh=1", "PondwickFolderPort={I}", "_PortableRootFolder={R}"},
     "-",
     {},
     false,
     {Config("pp /silent")},
     {},
     nullptr,
     {},
     ""},
    // The configuration program is missing from the container: it cannot be started.
    {"NoConfigurationProgram",
     e2e::kAll | e2e::kNoConfig,
     "/silent",
     kChoose,
     kClean,
     (int)0x80070002,
     Prepared(e2e::kAll, "ii /silent") - 2 +
         Lines{"[2]  ... Can't run  \"{T}\\pwwipeout.exe\" ii /silent: {E2}", "", " ",
               "[80070002] failed to run  {T}: {E2}", "", " ", "[0] Cleanup folder  {T}"} +
         Walk({Deleted("affid.txt"), Deleted("de.lng"), Deleted("en.lng"),
               Deleted("identities.exe"), Deleted("pondwick.dll"), Deleted("readme.txt")}),
     {},
     "-",
     {"_InstallerDir={D}"},
     "-",
     {},
     false,
     {},
     {},
     nullptr,
     {},
     nullptr},
    // A packed block exempt from the integrity test whose properties no decoder accepts.
    {"PondwickDoesNotUnpack",
     e2e::kAll | e2e::kNoCrc | e2e::kCorrupt,
     "/silent",
     kChoose,
     kClean,
     (int)0x80070057,
     Lines{"[0] RunSfx() - START ", "[0] TestSFX() -  OK", "[0] GetTempPath:  {D}\\tmp",
           "[*] CreateTempFolder: in {D}\\tmp", "[*] CreateTempFolder: {T}",
           "[0] UnpackSFX()  pondwick", "[80070057] SetDecoderProperties error : {E80070057}", "",
           " ", "[80070057] Err unpack to {T}: {E80070057}", "", " ",
           "[80070057] Can't unpack pondwick.bin to  {T}: {E80070057}", "", " ",
           "[0] Cleanup folder  {T}"} +
         Walk({}),
     {},
     "-",
     {},
     "-",
     {},
     false,
     {},
     {},
     nullptr,
     {},
     nullptr},
    // A file that can be neither copied into place nor scheduled (here a folder that the
    // configuration program left in {T}) would be missing after the restart: no restart is
    // asked for and nothing is left for it, the run ends with -5 and says so.
    {"FixedLeftoverCannotBeScheduled",
     e2e::kAll,
     "/silent",
     {"{I}", "1", nullptr, nullptr, nullptr, "cache"},
     kClean,
     -5,
     Prepared(e2e::kAll, "ii /silent") + Chosen("", true) + Walk({}) + Walk(MovedBesideCache()) +
         Lines{"[0] Files moved to  {I}", "[0] !!! REBOOT required ",
               "[1] RunSfx() - configuring post-reboot "} +
         Walk({{"[0] ActMoveFileOnReboot() - move  {T}\\cache",
                "[0]                           to  {I}",
                "[5] ActMoveFileOnReboot() - can't copy to {I}\\_pw1.pw_"}},
              false) +
         Lines{"[5] Some files remain locked in  {I}: {E5}", "", " "} + kCacheStays,
     {},
     kAllFiles,
     {"_InstallerDir={D}", "_WasFresh=1", "PondwickFolder={I}"},
     "-",
     kCacheScheduled,
     true,
     {Config("ii /silent")},
     {},
     nullptr,
     {},
     nullptr},
    // The portable edition can't run a product whose files were not all copied.
    {"PortableCopyFails",
     e2e::kAll | e2e::kPortable,
     "/silent",
     {"{I}", "1", nullptr, nullptr, "{R}", "cache"},
     kClean,
     -5,
     Prepared(e2e::kAll | e2e::kPortable, "pp /silent") +
         Lines{"[0] PondwickFolder set to  {I}", "[0] WasFresh YES", "{MADE I}"} + Walk({}) +
         Walk(MovedBesideCache()) +
         Lines{"[0] Files moved to  {I}", "[0] Some files remain locked in  {I}", " "} +
         kCacheStays,
     {},
     kAllFiles,
     {"_InstallerDir={D}", "_WasFresh=1", "PondwickFolderPort={I}", "_PortableRootFolder={R}"},
     "-",
     kCacheScheduled,
     true,
     {Config("pp /silent")},
     {},
     nullptr,
     {},
     "-"},
    // Host only: the locked file's copy is made but its replacement can't be scheduled. The
    // copy goes again, the old file stays, and the run ends with -5 without a restart.
    {"HostReplacementCannotBeScheduled",
     e2e::kAll,
     "/silent",
     kChoose,
     {true, "pondwick.dll", nullptr, false, false, IDNO, false, false, "MoveFileExA#1=5"},
     -5,
     Prepared(e2e::kAll, "ii /silent") + Chosen("", true) + LockedPondwickLeftForTheRestart() +
         Walk({{"[0] ActMoveFileOnReboot() - move  {T}\\pondwick.dll",
                "[0]                           to  {I}",
                "[5] MoveFileOnRebootNT() - MoveFileEx  FAIL"}},
              false) +
         Lines{"[5] Some files remain locked in  {I}: {E5}", "", " ", "[0] Cleanup folder  {T}"} +
         Walk({Deleted("pondwick.dll")}),
     {},
     "affid.txt de.lng en.lng identities.exe pondwick.dll=old pwwipeout.exe readme.txt",
     {"_InstallerDir={D}", "_WasFresh=1", "PondwickFolder={I}"},
     "-",
     {},
     false,
     {Config("ii /silent")},
     {},
     nullptr,
     {},
     nullptr},
    // Host only: the setup cannot map its own file.
    {"HostSetupFileCannotBeMapped",
     e2e::kAll,
     "/silent",
     kChoose,
     {false, nullptr, nullptr, false, false, IDNO, false, false, "CreateFileMappingA#1=8"},
     (int)0x80004005,
     {"[0] RunSfx() - START ", "[8] Can't extract from SFX  {S}: {E8}", "", " "},
     {},
     "-",
     {},
     "-",
     {},
     false,
     {},
     {},
     nullptr,
     {},
     nullptr},
    // Host only: no temporary folder can be made anywhere.
    {"HostNoTemporaryFolderAtAll",
     e2e::kAll,
     "/silent",
     kChoose,
     {false, nullptr, nullptr, false, false, IDNO, false, false, "GetTempFileNameA#1+=5"},
     -1,
     {"[0] RunSfx() - START ", "[0] TestSFX() -  OK", "[0] GetTempPath:  {D}\\tmp",
      "[*] CreateTempFolder: in {D}\\tmp", "[5] CreateTempFolder: Can't get temp name ",
      "[0] Bad TEMP! Try to create temp folder near {L}\\_pw.log", "[*] CreateTempFolder: in {L}",
      "[5] CreateTempFolder: Can't get temp name ", "[0] Can't create temp folder to unpack files ",
      " "},
     {},
     "-",
     {},
     "-",
     {},
     false,
     {},
     {},
     nullptr,
     {},
     nullptr},
};

Lines FillAll(const e2e::Installation& run, const Lines& lines) {
  Lines out;
  for (const auto& l : lines) out.push_back(run.Fill(l));
  return out;
}

// The observed lines, with the code of each line that the expected ones write [*] made [*].
Lines AnyCodes(Lines seen, const Lines& expected) {
  for (size_t i = 0; i < seen.size() && i < expected.size(); ++i)
    if (expected[i].rfind("[*]", 0) == 0 && seen[i].find(']') != std::string::npos)
      seen[i] = "[*" + seen[i].substr(seen[i].find(']'));
  return seen;
}

Lines WithoutFolder(Lines records) {
  for (std::string& r : records) {
    size_t at = r.find("folder: ");
    if (at != std::string::npos) r.erase(at, r.find("\r\n", at) + 2 - at);
  }
  return records;
}

void Dump(const char* when, const Observed& seen) {
  if (!std::getenv("PW_E2E_DUMP")) return;
  std::printf("== %s: exit 0x%X\n", when, (unsigned)seen.exitCode);
  for (const auto& l : seen.log) std::printf("log: %s\n", l.c_str());
  for (const auto& l : seen.boxes) std::printf("box: %s\n", l.c_str());
  std::printf("files: %s\nportable: %s\nrunonce: %s\ntemp exists: %d\n", seen.files.c_str(),
              seen.portable.c_str(), seen.runOnce.c_str(), (int)seen.tempExists);
  for (const auto& l : seen.values) std::printf("value: %s\n", l.c_str());
  for (const auto& l : seen.pending) std::printf("pending: %s\n", l.c_str());
  for (const auto& l : seen.configStarts) std::printf("config: %s", l.c_str());
  for (const auto& l : seen.productStarts) std::printf("product: %s", l.c_str());
}

// A row is named by its name in test reports, not by its bytes.
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// The expected lines with "{MADE I}" and "{MADE R}" put as the setup logs the folders it makes
// for {I} or {R}: one line for each that is missing now, from the top down.
Lines WithFoldersMade(const e2e::Installation& run, const Lines& lines) {
  Lines out;
  for (const std::string& line : lines) {
    if (line != "{MADE I}" && line != "{MADE R}") {
      out.push_back(line);
      continue;
    }
    std::string folder = run.Fill(line == "{MADE I}" ? "{I}" : "{R}");
    for (size_t at = folder.find('\\', 3);; at = folder.find('\\', at + 1)) {
      std::string above = folder.substr(0, at);
      if (GetFileAttributesA(above.c_str()) == INVALID_FILE_ATTRIBUTES)
        out.push_back("[0] CreateFolderTree() - made  " + above);
      if (at == std::string::npos) break;
    }
  }
  return out;
}

// Runs one row and checks everything the run leaves behind; extras.raw values must stay as
// the configuration program wrote them, byte for byte.
void RunRow(const Row& row, const e2e::Extras& extras = e2e::Extras()) {
  e2e::Installation run(row.blocks, row.choices, row.machine, extras);
  ASSERT_EQ(run.Problem(), "");
#ifdef _WIN32
  if (row.machine.faults) GTEST_SKIP() << "the host layer's fault knobs make this failure";
#endif
  if (row.machine.readOnly && !run.ReadOnlyEnforced())
    GTEST_SKIP() << "this machine lets a writer past the read-only attribute (Wine as root)";
  Lines log = e2e::CanonicalLog(WithFoldersMade(run, FillAll(run, row.log)));
  Observed seen = run.Install(row.tail);
  Dump("install", seen);
  ASSERT_EQ(run.Problem(), "");
  EXPECT_EQ(seen.exitCode, (DWORD)row.exitCode);
  EXPECT_EQ(AnyCodes(seen.log, log), log);
  EXPECT_EQ(seen.boxes, FillAll(run, row.boxes));
  EXPECT_EQ(seen.files, run.Fill(row.files));
  EXPECT_EQ(seen.values, FillAll(run, row.values));
  EXPECT_EQ(seen.runOnce, run.Fill(row.runOnce));
  EXPECT_EQ(seen.pending, FillAll(run, row.pending));
  EXPECT_EQ(seen.tempExists, row.tempExists);
  EXPECT_EQ(seen.configStarts, FillAll(run, row.configStarts));
  EXPECT_EQ(seen.productStarts, FillAll(run, row.productStarts));
  if (row.portableFiles) {
    EXPECT_EQ(seen.portable, run.Fill(row.portableFiles));
  }
  for (const e2e::RawValue& v : extras.raw) {
    std::string written = std::string(v.name) + "=" + std::to_string(v.type) + ":";
    for (char c : run.Fill(v.bytes)) {
      static const char kDigits[] = "0123456789abcdef";
      written += kDigits[(unsigned char)c >> 4];
      written += kDigits[(unsigned char)c & 15];
    }
    // Wine's RegQueryValueExA counts the terminator it adds to a string stored without one.
    bool kept =
        std::find(seen.rawValues.begin(), seen.rawValues.end(), written) != seen.rawValues.end() ||
        (v.type == REG_SZ && std::find(seen.rawValues.begin(), seen.rawValues.end(),
                                       written + "00") != seen.rawValues.end());
    EXPECT_TRUE(kept) << written << " is no longer as the configuration program left it: "
                      << ::testing::PrintToString(seen.rawValues);
  }
  if (!row.restartedFiles) return;

  Observed after = run.Restart(row.restartedProductStarts.size());
  Dump("restart", after);
  ASSERT_EQ(run.Problem(), "");
  EXPECT_EQ(after.files, run.Fill(row.restartedFiles)) << "locked files replaced";
#ifdef _WIN32
  // Wine's wineboot carries out wininit.ini's "NUL=" lines with DeleteFile, which leaves a
  // folder in place: there the 95 family's temporary folder can only be found emptied.
  if (row.machine.win98) {
    EXPECT_EQ(after.tempFiles, "") << "the private temporary folder is emptied";
  } else {
    EXPECT_FALSE(after.tempExists) << "the private temporary folder is gone";
  }
#else
  EXPECT_FALSE(after.tempExists) << "the private temporary folder is gone";
#endif
  EXPECT_EQ(after.pending, Lines()) << "nothing left for a later start";
  EXPECT_EQ(after.runOnce, "-") << "RunOnce is carried out once";
  // After a restart the logon starts the product from a folder of its own choosing.
  EXPECT_EQ(WithoutFolder(after.productStarts),
            WithoutFolder(FillAll(run, row.restartedProductStarts)));
}

class InstallTest : public ::testing::TestWithParam<Row> {};

TEST_P(InstallTest, LeavesTheMachineAsExpected) { RunRow(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Scenarios, InstallTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           return std::string(info.param.name);
                         });

// ---- Odd inputs ----
// What a careless or broken configuration program may leave, command lines and paths at their
// limits, and names beyond ASCII. Each run ends as the setup's design says, or with a clear
// failure, and nothing is read or written past a buffer (the host runs all of these under
// ASan and UBSan).

// The bytes of a literal, terminators inside it included, its own final one left out: B("0\0")
// is the two bytes of the text "0" with its terminator, B("yes") the three without.
template <size_t N>
std::string B(const char (&text)[N]) {
  return std::string(text, N - 1);
}

const char kFresh[] = "_WasFresh=1";

struct OddRow {
  Row row;
  e2e::Extras extras;
};

e2e::Extras Raw(std::vector<e2e::RawValue> values) {
  e2e::Extras extras;
  extras.raw = std::move(values);
  return extras;
}

e2e::Extras Placed(const char* setupFolder, const char* setupName, const char* installFolder) {
  e2e::Extras extras;
  extras.setupFolder = setupFolder;
  extras.setupName = setupName;
  extras.installFolder = installFolder;
  return extras;
}

// The configuration program's record when the setup runs from installerDir.
std::string ConfigFrom(const std::string& args, const std::string& installerDir) {
  return "command line: \"{T}\\pwwipeout.exe\" " + args + "\r\nfolder: {T}\r\n" +
         "_InstallerDir: " + installerDir + "\r\n_WasFresh at start: gone\r\n";
}

// A silent fixed-edition run that installs everything into {I} and starts the product.
Row Installs(const char* name, const std::string& tail, const char* adminLogged, bool fresh,
             const Lines& values, const std::string& installerDir = "{D}") {
  std::string args = "ii " + tail;
  return {name,
          e2e::kAll,
          nullptr,
          kChoose,
          kClean,
          0,
          Prepared(e2e::kAll, args) + Chosen(adminLogged, fresh) + Walk({}) + Walk(Each(Moved)) +
              Lines{"[0] Files moved to  {I}"} + Direct(Walk({}), "-frs"),
          {},
          kAllFiles,
          values,
          "-",
          {},
          false,
          {ConfigFrom(args, installerDir)},
          {Product("{I}", "-frs", kAllFiles)},
          nullptr,
          {},
          nullptr};
}

// A silent run whose "_UseAdminFiles" is taken as "yes": nothing is copied, everything
// unpacked goes with the temporary folder, and {I}, which nobody made, holds no product to start.
Row CopiesNothing(const char* name, const char* adminLogged, const Lines& values) {
  return {name,
          e2e::kAll,
          "/silent",
          {"{I}", nullptr, nullptr, nullptr, nullptr},
          kClean,
          0,
          Prepared(e2e::kAll, "ii /silent") + Chosen(adminLogged, true, false) +
              Lines{"[0] !!! Copying files skipped by bUseAdmin ", "[0] Files moved to  {I}",
                    "[0] Cleanup folder  {T}"} +
              Walk(Each(Deleted)) +
              Lines{"[0] RunProcess() -  \"{I}\\identities.exe\" -frs",
                    "[2]  ... Can't run  \"{I}\\identities.exe\" -frs: {E2}", "", " ",
                    "[0] RunSfx() - END "},
          {},
          "-",
          values,
          "-",
          {},
          false,
          {Config("ii /silent")},
          {},
          nullptr,
          {},
          nullptr};
}


// A silent run that ends because the configuration program cancelled.
Row Cancelled(const char* name, const Lines& values) {
  return Stopped(name, "/silent", {"{I}", nullptr, nullptr, nullptr, nullptr}, -1,
                 Prepared(e2e::kAll, "ii /silent") + Lines{"[0] PwWipeout cancelled "}, {}, values,
                 {Config("ii /silent")});
}

// A run that finds no usable installation folder: the report (a box unless silent) with the
// read's error, the temporary folder removed, -4.
Row NoFolder(const char* name, const char* tail, const char* folder, const char* errorHex,
             const Lines& values, const Lines& boxes) {
  std::string code = errorHex;
  std::string report =
      "Installation folder is not specified. Please, run Setup again and report this error to "
      "support@pondwick.example : {E" +
      code + "}";
  return Stopped(name, tail, {folder, nullptr, nullptr, nullptr, nullptr}, -4,
                 Prepared(e2e::kAll, std::string("ii ") + tail) +
                     Lines{"[0] PondwickFolder set to  ", "[" + code + "] " + report, "", " "},
                 boxes, values, {Config(std::string("ii ") + tail)});
}

// A silent run whose installation folder leaves no room for the product's program in it.
Row FolderTooDeep(const char* name) {
  return Stopped(
      name, "/silent", kChoose, -4,
      Prepared(e2e::kAll, "ii /silent") +
          Lines{"[0] PondwickFolder set to  {I}", "[CE] RunSfx() - path too long in  {I}",
                "[CE] Installation folder is not specified. Please, run Setup again and "
                "report this error to support@pondwick.example : {ECE}",
                "", " "},
      {}, {"_InstallerDir={D}", kFresh, "PondwickFolder={I}"}, {Config("ii /silent")});
}

// A run whose installation folder can't be made: the report (a box) with the system's error.
Row FolderNotMade(const char* name) {
  return Stopped(name, nullptr, kChoose, -4,
                 Prepared(e2e::kAll, "ii ") + Chosen("", true, false) +
                     Lines{"[B7] Can't create folder  {I}: {EB7}", "", " "},
                 {"{I}|Can't create folder  {I}: {EB7}\r\n\r\n"},
                 {"_InstallerDir={D}", kFresh, "PondwickFolder={I}"}, {Config("ii ")});
}

// A silent run refused before the configuration program starts: the tail would not reach it
// whole.
Row TailRefused(const char* name) {
  return Stopped(name, nullptr, kChoose, (int)0x80070057,
                 Prepared(e2e::kAll, "") - 3 +
                     Lines{"[0] The command line is too long: Setup can pass at most 256 "
                           "characters on to the configuration program. Please, run Setup again "
                           "with fewer options. ",
                           " "},
                 {}, {"_InstallerDir={D}"}, {});
}

const std::string kTail256 = "/silent /lang=" + std::string(256 - 14, 'x');
const std::string kTailHuge = "/silent /lang=" + std::string(30000 - 14, 'x');

OddRow WithTail(Row row, const std::string& tail) {
  // Rows keep their tail as a pointer: these live as long as the program.
  static std::vector<std::unique_ptr<std::string>> tails;
  tails.emplace_back(new std::string(tail));
  row.tail = tails.back()->c_str();
  return {row, e2e::Extras()};
}

Row WithBlocks(Row row, unsigned blocks) {
  row.blocks = blocks;
  return row;
}

OddRow WithTail(Row row, const std::string& tail, e2e::Extras extras) {
  OddRow odd = WithTail(row, tail);
  odd.extras = std::move(extras);
  return odd;
}

const OddRow kOddRows[] = {
    // The setup reads a number's bytes whatever their stored type: the text "0" is the number
    // 0x30, not 0, so the run counts as fresh.
    WithTail(Installs("FreshStoredAsText", "/silent", "", true,
                      {"_InstallerDir={D}", "_WasFresh=0", "PondwickFolder={I}"}),
             "/silent", Raw({{"_WasFresh", REG_SZ, B("0\0")}})),
    // The text "1" is 0x31: cancelled.
    WithTail(Cancelled("CancelStoredAsText",
                       {"_InstallerDir={D}", "_CancelInstall=1", "PondwickFolder={I}"}),
             "/silent", Raw({{"_CancelInstall", REG_SZ, B("1\0")}})),
    // Two bytes fill the number's low half: 1, cancelled.
    WithTail(Cancelled("CancelOfTwoBytes",
                       {"_InstallerDir={D}", "_CancelInstall=\x01", "PondwickFolder={I}"}),
             "/silent", Raw({{"_CancelInstall", REG_BINARY, B("\x01\0")}})),
    // Eight bytes do not fit the number: each read fails and the value counts as missing, so
    // the run is neither cancelled nor taken for an update.
    WithTail(
        Installs("NumbersOfEightBytesCountAsMissing", "/silent", "", true,
                 {"_InstallerDir={D}", "_WasFresh=", "_CancelInstall=\x01", "PondwickFolder={I}"}),
        "/silent",
        Raw({{"_WasFresh", REG_DWORD, B("\0\0\0\0\0\0\0\0")},
             {"_CancelInstall", REG_BINARY, B("\x01\0\0\0\0\0\0\0")}})),
    // A string stored without its terminator is read as far as it was stored, and no further.
    WithTail(Installs("FolderWithoutTerminator", "/silent", "", true,
                      {"_InstallerDir={D}", kFresh, "PondwickFolder={I}"}),
             "/silent", Raw({{"PondwickFolder", REG_SZ, B("{I}")}})),
    WithTail(CopiesNothing("AdminFilesWithoutTerminator", "yes",
                           {"_InstallerDir={D}", "PondwickFolder={I}", "_UseAdminFiles=yes"}),
             "/silent", Raw({{"_UseAdminFiles", REG_SZ, B("yes")}})),
    // 300 bytes do not fit the folder's 260: the read fails with its own error.
    WithTail(NoFolder("FolderOfThreeHundredBytes", "", nullptr, "EA",
                      {"_InstallerDir={D}", "PondwickFolder=C:\\" + std::string(296, 'p')},
                      {"Error|Installation folder is not specified. Please, run Setup again and "
                       "report this error to support@pondwick.example : {EEA}\r\n\r\n"}),
             "", Raw({{"PondwickFolder", REG_SZ, "C:\\" + std::string(296, 'p') + '\0'}})),
    // 260 characters and the terminator do not fit either; 259 do.
    WithTail(NoFolder("FolderOfTwoHundredSixtyCharacters", "/silent", "{W260}", "EA",
                      {"_InstallerDir={D}", "PondwickFolder={W260}"}, {}),
             "/silent"),
    WithTail(NoFolder("FolderOfTwoHundredSixtyWithoutTerminator", "/silent", nullptr, "EA",
                      {"_InstallerDir={D}", "PondwickFolder={W260}"}, {}),
             "/silent", Raw({{"PondwickFolder", REG_SZ, B("{W260}")}})),
    // 259 characters fit, but leave no room for a file in the folder: refused before anything
    // is copied, rather than a restart that would install nothing.
    WithTail(FolderTooDeep("FolderOf259"), "/silent", Placed(nullptr, nullptr, "{W259}")),
    // 239 characters hold every file, but not the command that RunOnce would carry after a
    // restart (at most 260 characters): refused too. 238 installs, its folders made.
    WithTail(FolderTooDeep("FolderOf239"), "/silent", Placed(nullptr, nullptr, "{W239}")),
    // The installation folder can't be made where a file stands (the setup itself): reported
    // with the system's error, nothing copied, no restart asked for, -4.
    WithTail(FolderNotMade("FolderCannotBeMade"), "", Placed(nullptr, nullptr, "{D}\\setup.exe")),
    WithTail(Installs("FolderOf238", "/silent", "", true,
                      {"_InstallerDir={D}", kFresh, "PondwickFolder={W238}"}),
             "/silent", Placed(nullptr, nullptr, "{W238}")),
    // "yes" in any case, nothing around it.
    WithTail(Installs("AdminFilesYesAndBlank", "/silent", "yes ", true,
                      {"_InstallerDir={D}", kFresh, "PondwickFolder={I}", "_UseAdminFiles=yes "}),
             "/silent", Raw({{"_UseAdminFiles", REG_SZ, B("yes \0")}})),
    WithTail(CopiesNothing("AdminFilesYesUpperCase", "YES",
                           {"_InstallerDir={D}", "PondwickFolder={I}", "_UseAdminFiles=YES"}),
             "/silent", Raw({{"_UseAdminFiles", REG_SZ, B("YES\0")}})),
    // A string ends at its first terminator, as every reader of a string value sees it.
    WithTail(CopiesNothing("AdminFilesYesThenJunk", "yes",
                           {"_InstallerDir={D}", "PondwickFolder={I}", "_UseAdminFiles=yes"}),
             "/silent", Raw({{"_UseAdminFiles", REG_SZ, B("yes\0junk\0")}})),
    // Exactly 64 bytes: read whole when the last is the terminator...
    WithTail(Installs("AdminFilesOfSixtyFourBytes", "/silent",
                      ("yes" + std::string(60, ' ')).c_str(), true,
                      {"_InstallerDir={D}", kFresh, "PondwickFolder={I}",
                       "_UseAdminFiles=yes" + std::string(60, ' ')}),
             "/silent", Raw({{"_UseAdminFiles", REG_SZ, "yes" + std::string(60, ' ') + '\0'}})),
    // ...and refused when no terminator is left for it, even with one inside.
    WithTail(Installs("AdminFilesOfSixtyFourBytesUnterminated", "/silent", "", true,
                      {"_InstallerDir={D}", kFresh, "PondwickFolder={I}", "_UseAdminFiles=yes"}),
             "/silent", Raw({{"_UseAdminFiles", REG_SZ, B("yes\0") + std::string(60, 'j')}})),
    // 256 characters reach the configuration program whole; 257 are refused (TailTooLong),
    // and so is a tail of 30000, without harm.
    WithTail(Installs("TailOf256", kTail256, "", true,
                      {"_InstallerDir={D}", kFresh, "PondwickFolder={I}"}),
             kTail256),
    WithTail(TailRefused("TailOf30000"), kTailHuge),
    // The setup 259 characters deep: its folder is handed on whole.
    WithTail(Installs("SetupPathOf259", "/silent", "", true,
                      {"_InstallerDir={W247}", kFresh, "PondwickFolder={I}"}, "{W247}"),
             "/silent", Placed("{W247}", "PwSetup.exe", nullptr)),
    // A console configuration program: its console host may hold {T} as its working folder a
    // moment after it ended; the temporary folder still goes.
    WithTail(WithBlocks(Installs("ConsoleConfigurationProgram", "/silent", "", true,
                                 {"_InstallerDir={D}", kFresh, "PondwickFolder={I}"}),
                        e2e::kAll | e2e::kConsoleConfig),
             "/silent"),
    // Names of the system code page beyond ASCII (Windows-1252) pass unchanged.
    WithTail(Installs("NamesBeyondAscii", "/silent", "", true,
                      {"_InstallerDir={D}\\T\xE9l\xE9"
                       "chargements",
                       kFresh,
                       "PondwickFolder={D}\\Pondwick \xFC"
                       "ber"},
                      "{D}\\T\xE9l\xE9"
                      "chargements"),
             "/silent",
             Placed("{D}\\T\xE9l\xE9"
                    "chargements",
                    nullptr,
                    "{D}\\Pondwick \xFC"
                    "ber")),
};

void PrintTo(const OddRow& odd, std::ostream* out) { *out << odd.row.name; }

class OddInputTest : public ::testing::TestWithParam<OddRow> {};

TEST_P(OddInputTest, EndsAsDesignedOrFailsClearly) {
  const OddRow& odd = GetParam();
#ifdef _WIN32
  if (odd.extras.installFolder && GetACP() != 1252)
    GTEST_SKIP() << "this prefix's code page is " << GetACP() << ", not Windows-1252";
#endif
  RunRow(odd.row, odd.extras);
}

INSTANTIATE_TEST_SUITE_P(OddInputs, OddInputTest, ::testing::ValuesIn(kOddRows),
                         [](const ::testing::TestParamInfo<OddRow>& info) {
                           return std::string(info.param.row.name);
                         });

}  // namespace
