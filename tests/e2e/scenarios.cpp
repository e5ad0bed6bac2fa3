// The installation scenarios, one table over the host layer and under Wine: each row builds a
// setup, prepares the machine, runs the setup and checks all it left behind, and after the
// restart too where the run left work for the next start of Windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <utility>

#include "tests/harness/install_runner.h"

namespace {

using namespace e2e;

const int kFail = (int)0x80004005;        // E_FAIL
const int kInvalidArg = (int)0x80070057;  // E_INVALIDARG

// The product's record of one start from folder with the given arguments.
std::string Product(const std::string& folder, const std::string& args, const std::string& beside) {
  return "start\r\ncommand line: \"" + folder + "\\identities.exe\" " + args +
         "\r\nfolder: " + folder + "\r\nbeside: " + beside + "\r\n";
}

const char kAllFiles[] =
    "affid.txt de.lng en.lng identities.exe pondwick.dll pwwipeout.exe readme.txt";

// The payload's files that a setup of these blocks unpacks, in byte order.
Lines Names(unsigned blocks) {
  Lines names = {"identities.exe", "pondwick.dll", "readme.txt"};
  if (blocks & kAffid) names.push_back("affid.txt");
  if (blocks & kLangs) names = names + Lines{"de.lng", "en.lng"};
  if (!(blocks & kNoConfig)) names.push_back("pwwipeout.exe");
  std::sort(names.begin(), names.end());
  return names;
}

// ---- The log, piece by piece ----
// From the start to the private temporary folder made. Where the system's temp folder yields
// no name (badTemp: the code why), the fall-back beside the log, {L}, and the last line.
Lines TempMade(const std::string& badTemp = "",
               const std::string& last = "[*] CreateTempFolder: {T}") {
  Lines l = {"[0] RunSfx() - START ", "[0] TestSFX() -  OK", "[0] GetTempPath:  {D}\\tmp",
             "[*] CreateTempFolder: in {D}\\tmp"};
  if (!badTemp.empty())
    l = l + Lines{"[" + badTemp + "] CreateTempFolder: Can't get temp name ",
                  "[0] Bad TEMP! Try to create temp folder near {L}\\_pw.log",
                  "[*] CreateTempFolder: in {L}"};
  return l + Lines{last};
}

// A report of what went wrong (and its box), with the system's text for the error unless 0.
Lines Report(const std::string& code, const std::string& text, const std::string& error = "") {
  if (code == "0") return {"[0] " + text, " "};
  return {"[" + code + "] " + text + ": {E" + (error.empty() ? code : error) + "}", "", " "};
}
std::string Box(const std::string& caption, const std::string& text, const std::string& code) {
  return caption + "|" + text + ": {E" + code + "}\r\n\r\n";
}

const std::string kReportIt =
    " is not specified. Please, run Setup again and report this error to support@pondwick.example ";
const std::string kNoFolder = "Installation folder" + kReportIt;
const std::string kNoRoot = "Root folder for Roamkit" + kReportIt;
const char kStillLocked[] = "Some files remain locked in  {I}";

// A walk of {T}, with the lines of each file.
Lines Walk(const std::vector<Lines>& files, bool ok = true) {
  Lines l = {"[0] ForEachFile() - by mask  {T}\\*.*"};
  for (const Lines& f : files) l = l + f;
  return l + Lines{ok ? "[0] ForEachFile() -  OK" : "[0] ForEachFile() -  FAIL"};
}

// The temporary folder goes, these files of it deleted first.
Lines Cleanup(const Lines& names, bool ok = true) {
  std::vector<Lines> files;
  for (const std::string& f : names) files.push_back({"[0] ActDelFile() - file  {T}\\" + f});
  return Lines{"[0] Cleanup folder  {T}"} + Walk(files, ok);
}
const Lines kTempGone = Cleanup({});  // emptied by the moves

// The move walk left files for the next start of Windows (the code is whatever it left last).
Lines RebootRequired(const std::string& code) {
  return {"[0] !!! REBOOT required ", "[" + code + "] RunSfx() - configuring post-reboot "};
}

// The file of {T} that the restart walk could neither copy over its target nor schedule.
Lines NotScheduled(const std::string& code, const std::string& file, const std::string& why) {
  return RebootRequired(code) +
         Walk({{"[0] ActMoveFileOnReboot() - move  {T}\\" + file,
                "[0]                           to  {I}", why}},
              false) +
         Report("5", kStillLocked);
}

// A packed block whose properties no decoder accepts, unpacked into folder.
Lines BadProperties(const std::string& block, const std::string& folder) {
  return Report("80070057", "SetDecoderProperties error ") +
         Report("80070057", "Err unpack to " + folder) +
         Report("80070057", "Can't unpack " + block + ".bin to  " + folder);
}

const char kRestartQuestion[] =
    "Pondwick Setup|Pondwick Setup requires you to reboot your computer.\n"
    "Do you want to reboot now?";
const char kRunOnce[] = "\"{I}\\identities.exe\" -fr";

std::string Tail(size_t n) { return "/silent /lang=" + std::string(n - 14, 'x'); }

// One installation, and everything it is expected to leave.
struct Row : Scenario {
  const char* name = nullptr;
  // Right after the run, as Observed has it; the product key by default Key() once the program
  // ran. In the tree of {I}, "=old" marks an older file's bytes, "=NAME" the payload file NAME's.
  int exitCode = 0;
  Lines log, boxes, values, pending, configStarts, productStarts;
  std::string files = "-", runOnce = "-";  // a RunOnce value left: the restart is checked too
  bool tempExists = false;
  const char* portableFiles = nullptr;  // the tree of {R}, when it is checked

  bool Has(const char* option) const { return tail.find(option) != std::string::npos; }
  std::string Args() const { return (blocks & kPortable ? "pp " : "ii ") + tail; }
  std::string ProductArgs() const { return Has("/silent") ? "-frs" : "-fr"; }
  // The configuration program's record of its start.
  std::string ConfigStart() const {
    return "command line: \"{T}\\pwwipeout.exe\" " + Args() + "\r\nfolder: {T}\r\n" +
           "_InstallerDir: " + (setupFolder ? setupFolder : "{D}") +
           "\r\n_WasFresh at start: gone\r\n";
  }
  // The file of {I} that can't be written now: held open, or read-only. And its code.
  std::string Stuck() const { return locked ? locked : readOnly ? readOnly : ""; }
  std::string StuckCode() const { return locked ? "20" : "5"; }
  bool Old(const std::string& file) const {
    return installed && (file == "identities.exe" || file == "pondwick.dll" || file == Stuck());
  }

  // The product key as the program leaves it, in the runner's order: "_InstallerDir" from the
  // setup, then each choice, a raw value (shown up to its first terminator) over its choice.
  Lines Key() const {
    const char *installer = setupFolder ? setupFolder : "{D}",
               *cancelled = staleCancel ? "1" : cancel;
    const char* chosen[] = {installer, fresh, cancelled, folder, nullptr, admin, root};
    if (blocks & kPortable) std::swap(chosen[3], chosen[4]);
    Lines key;
    for (size_t i = 0; i < 7; ++i) {
      const char* value = chosen[i] && std::string(chosen[i]) == "(empty)" ? "" : chosen[i];
      for (const RawValue& v : raw)
        if (kValueNames[i] == std::string(v.name)) value = v.bytes.c_str();
      if (value) key.push_back(kValueNames[i] + ("=" + std::string(value)));
    }
    return key;
  }

  // From the start to the configuration program's end: the container as given, the tail as given.
  Lines Prepared() const {
    bool langs = blocks & kLangs;
    return TempMade(badTemp ? "10B" : "") +  // the folder is missing: ERROR_DIRECTORY
           Lines{"[0] UnpackSFX()  pondwick",
                 "[0]  ... Unpacked to {T}",
                 "[0] UnpackSFX()  langs",
                 langs ? "[0]  ... Unpacked to {T}" : "[0] Err open  langs",
                 langs ? "[0] MULTILANGUAGE Ver " : "[0] ENGLISH Ver ",
                 "[0] SaveSFX()  affid",
                 blocks & kAffid ? "[0]  ... saved to  {T}\\affid.txt" : "[0] Err open  affid",
                 blocks & kPortable ? "[0] PORTABLE Ver " : "[0] FIXED Ver ",
                 "[0] RunProcess() -  \"{T}\\pwwipeout.exe\" " + Args(),
                 "[0]  ... running, wait for it ",
                 "[0]  ... finished "};
  }

  // The choices read back ("_UseAdminFiles" only in the fixed edition); then, when files are to
  // be copied, "{MADE I}": the lines of the folders of {I} that the setup makes.
  Lines Chosen(const char* admin, bool copies = true) const {
    Lines l = {"[0] PondwickFolder set to  {I}"};
    if (admin) l.push_back(std::string("[0] _UseAdminFiles:  ") + admin);
    l.push_back(fresh && std::string(fresh) == "0" ? "[0] WasFresh NO" : "[0] WasFresh YES");
    if (copies) l.push_back("{MADE I}");
    return l;
  }

  // The walk that looks for files of {I} in use.
  Lines Checked() const {
    std::vector<Lines> files;
    for (const std::string& f : Names(blocks))
      if (Old(f))
        files.push_back({f == Stuck() ? "[" + StuckCode() + "] ActCheckLocked() - locked {I}\\" + f
                                      : "[0] ActCheckLocked() - not locked {I}\\" + f});
    return Walk(files);
  }

  // That walk, then the one that moves every file into place, but a file in use and a folder left
  // in {T}: they stay for the restart. Over an older file the code is whatever the copy left.
  Lines Copied() const {
    std::vector<Lines> files;
    Lines names = Names(blocks);
    if (leave) names.push_back(leave);
    for (const std::string& f : names) {
      bool left = leave && f == leave, stays = left || f == Stuck();
      std::string code = left ? "5" : f == Stuck() ? StuckCode() : Old(f) ? "*" : "0";
      std::string to = stays ? "after reboot {I}\\" : "moved to {I}\\";
      files.push_back(
          {"[0] ActMoveFile() - move  {T}\\" + f, "[" + code + "] ActMoveFile() - " + to + f});
    }
    return Checked() + Walk(files) + Lines{"[0] Files moved to  {I}"};
  }
};

// ---- Rows, step by step: from the default scenario, each step changes one input, writes a common
// ending's outcome (Installs, Restarts, Stops, ...) from the inputs before it, or one expectation.
using Step = std::function<void(Row&)>;

Row R(const char* name, const std::string& tail, std::initializer_list<Step> steps) {
  Row row;
  row.name = name;
  row.tail = tail;
  for (const Step& step : steps) step(row);
  if (!row.configStarts.empty()) row.values = row.Key();
  return row;
}

Step Exit(int code) { return Set(&Row::exitCode, code); }
Step Log(const Lines& l) { return Set(&Row::log, l); }
Step Then(const Lines& l) {
  return [=](Row& r) { r.log = r.log + l; };
}
Step PortableFiles(const char* tree) { return Set(&Row::portableFiles, tree); }

// ---- Common endings ----
// Every file moved into {I} (or left for the restart); the configuration program ran.
Step Copies(const char* admin) {
  return [=](Row& r) {
    r.log = r.Prepared() + r.Chosen(admin) + r.Copied();
    r.files = "";
    for (const std::string& f : Names(r.blocks))
      r.files += (r.files.empty() ? "" : " ") + f + (f == r.Stuck() ? "=old" : "");
    r.configStarts = {r.ConfigStart()};
  };
}

// A fixed-edition run that installs everything into {I} and starts the product.
Step Installs(const std::string& admin = "") {
  return [=](Row& r) {
    Copies(admin.c_str())(r);
    r.log = r.log + kTempGone +
            Lines{"[0] RunProcess() -  \"{I}\\identities.exe\" " + r.ProductArgs(),
                  "[0]  ... running, wait for it ", "[0]  ... finished ", "[0] RunSfx() - END "};
    r.productStarts = {Product("{I}", r.ProductArgs(), r.files)};
  };
}

// An update, or a file of {I} that can't be written now: the stuck file's copy is scheduled over
// it, the restart asked for (or made at once: /reboot, Yes), and the product started after it.
void Restarts(Row& r) {
  std::string stuck = r.Stuck();
  std::vector<std::pair<std::string, std::string>> scheduled;  // from, to ("" deletes)
  if (!stuck.empty()) scheduled = {{"{I}\\_pw1.pw_", "{I}\\" + stuck}, {"{T}\\" + stuck, ""}};
  scheduled.push_back({"{T}", ""});
  // Each as logged, and as left in the pending list or, on the 95 family, wininit.ini.
  std::vector<Lines> logged;
  r.pending = r.win98 ? Lines{"wininit: [Rename]"} : Lines{};
  for (const auto& s : scheduled) {
    std::string to = s.second.empty() ? "NUL" : s.second;
    logged.push_back(r.win98
                         ? Lines{"[0] MoveFileOnReboot9x() - from  " + s.first,
                                 "[0]                      to  " + s.second,
                                 "[0] MoveFileOnReboot9x() - ini line  " + to + "=" + s.first, ""}
                         : Lines{"[*] MoveFileOnRebootNT() - MoveFileEx  OK"});
    r.pending.push_back(r.win98 ? "wininit: " + to + "=" + s.first : s.first + " -> " + s.second);
  }
  Lines move = {"[0] ActMoveFileOnReboot() - move  {T}\\" + stuck,
                "[0]                           to  {I}"};
  Lines walks = stuck.empty() ? Walk({}) + Walk({}) : Walk({move + logged[0]}) + Walk({logged[1]});
  Copies("")(r);
  r.log = r.log + RebootRequired(stuck.empty() ? "0" : "2") + walks + logged.back() +
          Lines{std::string("[0] Post-setup scheduled  ") + kRunOnce,
                r.Has("/reboot") || r.answer == IDYES ? "[0] AskForReboot() - rebooting "
                                                      : "[0] AskForReboot() - cancelled ",
                "[0] RunSfx() - END "};
  r.boxes = r.Has("/reboot") ? Lines{} : Lines{kRestartQuestion};
  if (!stuck.empty()) r.files = "_pw1.pw_=" + stuck + " " + r.files;
  r.runOnce = kRunOnce;
  r.tempExists = true;
}

// A run that stops before anything is copied: its log to the configuration program's end (cut
// short: the program did not run, the key holds the setup's value alone), the report, {T} gone.
// The box, if any, is shown unless silent.
Step Stops(int exit, const Lines& report, size_t cut = 0, const std::string& box = "") {
  return [=](Row& r) {
    r.exitCode = exit;
    r.log = r.Prepared();
    r.log = Lines(r.log.begin(), r.log.end() - cut) + report + Cleanup(Names(r.blocks));
    if (!cut) r.configStarts = {r.ConfigStart()};
    if (cut) r.values = {r.Key().front()};
    if (!box.empty() && !r.Has("/silent")) r.boxes = {box};
  };
}

// A run whose "_UseAdminFiles" is taken as "yes": nothing is copied, everything unpacked goes
// with the temporary folder, and {I}, which nobody made, holds no product to start.
Step CopiesNothing(const char* admin) {
  return [=](Row& r) {
    std::string product = "\"{I}\\identities.exe\" " + r.ProductArgs();
    r.log = r.Prepared() + r.Chosen(admin, false) +
            Lines{"[0] !!! Copying files skipped by bUseAdmin ", "[0] Files moved to  {I}"} +
            Cleanup(Names(r.blocks)) + Lines{"[0] RunProcess() -  " + product} +
            Report("2", " ... Can't run  " + product) + Lines{"[0] RunSfx() - END "};
    if (!r.Has("/silent")) r.boxes = {Box(product, " ... Can't run  " + product, "2")};
    r.configStarts = {r.ConfigStart()};
  };
}

Step Cancels() { return Stops(-1, {"[0] PwWipeout cancelled "}); }

// No usable installation folder: the report with the read's error.
Step NoFolder(const std::string& code) {
  return Stops(-4, Lines{"[0] PondwickFolder set to  "} + Report(code, kNoFolder), 0,
               Box("Error", kNoFolder, code));
}

// An installation folder that leaves no room for the product's program in it.
Step TooDeep() {
  return Stops(-4,
               Lines{"[0] PondwickFolder set to  {I}", "[CE] RunSfx() - path too long in  {I}"} +
                   Report("CE", kNoFolder));
}

// The installation folder can't be made: the report with the system's error.
void FolderNotMade(Row& r) {
  Stops(-4, r.Chosen("", false) + Report("B7", "Can't create folder  {I}"), 0,
        Box("{I}", "Can't create folder  {I}", "B7"))(r);
}

// Refused before the configuration program starts: the tail would not reach it whole.
Step TailRefused() {
  return Stops(kInvalidArg,
               Report("0",
                      "The command line is too long: Setup can pass at most 256 characters on to "
                      "the configuration program. Please, run Setup again with fewer options. "),
               3);
}

// The portable edition finds a file of {I} in use: nothing is moved, -5.
void StaysLocked(Row& r) {
  Stops(-5, r.Chosen(nullptr) + r.Checked() + Report("0", kStillLocked))(r);
  r.portableFiles = "-";
}

// The portable edition without a root (code: why the read failed): what was moved stays.
Step NoRoot(const std::string& code) {
  return [=](Row& r) {
    Copies(nullptr)(r);
    r.log = r.log + Report(code, kNoRoot) + kTempGone;
    r.exitCode = -5;
    r.portableFiles = "-";
  };
}

// After the report, -5: {T} can't be removed while the folder "cache" that the configuration
// program left is in it. That is logged, and what is left goes at the next start of Windows.
Step CacheStays(const Lines& report) {
  return [=](Row& r) {
    r.log = r.log + report + Cleanup({"cache"}, false) + Lines{"[*] Cleanup files err  {T}"} +
            Walk({{"[*] MoveFileOnRebootNT() - MoveFileEx  OK"}}) +
            Lines{"[*] MoveFileOnRebootNT() - MoveFileEx  OK"};
    r.exitCode = -5;
    r.pending = {"{T}\\cache -> ", "{T} -> "};
    r.tempExists = true;
  };
}

// The portable edition unpacks {R}, runs the product's programs from copies in {P}, deletes them.
void RunsFromTemp(Row& r) {
  Copies(nullptr)(r);
  Lines copied, deleted;
  for (std::string f : {"identities.exe", "pondwick.dll", "affid.txt"}) {
    copied = copied +
             Lines{"[0] ActCopyFile() - from  {I}\\" + f, "[0]                   to  {P}\\" + f};
    deleted.push_back("[0] ActDelFile() - file  {P}\\" + f);
  }
  r.log = r.log + Lines{"{MADE R}", "[0] UnpackSFX()  portable", "[0]  ... Unpacked to {R}"} +
          copied + kTempGone +
          Lines{"[0] RunProcess() -  \"{P}\\identities.exe\" -fr", "[0]  ... running, wait for it ",
                "[0]  ... finished "} +
          deleted + Lines{"[0] RunSfx() - END "};
  r.productStarts = {Product("{P}", "-fr", "affid.txt identities.exe pondwick.dll")};
  r.portableFiles = "roamkit.ini";
}

// A literal's bytes but its final terminator: B("0\0") is "0" with a terminator, B("yes") without.
template <size_t N>
std::string B(const char (&text)[N]) {
  return std::string(text, N - 1);
}

const std::string kPadded = "yes" + std::string(60, ' ');

// ---- The rows ----
const Row kRows[] = {
    R("FixedFreshNothingLocked", "", {Installs()}),
    R("FixedFreshSilent", "/silent /lang=de-german", {Installs()}),
    R("FixedEnglishWithoutAffid", "/silent", {Blocks(0), Installs()}),
    R("FixedAdminFilesCopyNothing", "", {Admin("Yes"), CopiesNothing("Yes")}),
    R("FixedNotFreshRestartDeclined", "", {WasFresh("0"), Installed(), Restarts}),
    R("FixedLockedRestartDeclined", "", {Locked("pondwick.dll"), Restarts}),
    R("CancelledByTheConfiguration", "", {Cancel("1"), Cancels()}),
    R("NoInstallationFolder", "/silent", {Folder(nullptr), NoFolder("2")}),
    R("CorruptedPackedBlock", "",
      {Blocks(kAll | kCorrupt), Exit(kFail),
       Log(Lines{"[0] RunSfx() - START ", "[0] TestSFX - Bad CRC "} +
           Report("0", "Corrupted Setup File  {S}")),
       Set(&Row::boxes, Lines{"{S}|Corrupted Setup File  {S}\r\n"})}),
    // The portable edition reads neither "_UseAdminFiles" nor, for the restart, "_WasFresh".
    R("PortableNothingLocked", "", {Portable("{R}"), WasFresh("0"), Admin("yes"), RunsFromTemp}),
    R("PortableLocked", "/silent",
      {Portable("{R}"), Locked("pondwick.dll"), StaysLocked,
       Set(&Row::files, "identities.exe=old pondwick.dll=old")}),
    R("PortableWithoutRoot", "/silent", {Portable("(empty)"), NoRoot("0")}),
    // The system's temp folder is missing: the private folder is made beside the log.
    R("NoUsableTempFolder", "/silent", {Blocks(kLangs), BadTemp(), Installs()}),
    // With /silent /reboot nothing is shown, and Windows is asked to restart at once.
    R("SilentForcedRestart", "/silent /reboot", {Locked("pondwick.dll"), Answer(0), Restarts}),
    // An update answered Yes: every file was moved, the restart finishes the rest.
    R("UpdateRestartAccepted", "", {WasFresh("0"), Installed(), Answer(IDYES), Restarts}),
    // A read-only file counts as locked. Windows does not replace a read-only file at its next
    // start, so the setup clears the attribute when it schedules the replacement.
    R("ReadOnlyTarget", "", {ReadOnly("readme.txt"), Restarts}),
    // The 95 family: the replacements go into wininit.ini's [Rename] section, by short names.
    R("Windows98Locked", "/silent", {Locked("pondwick.dll"), Win98(), Restarts}),
    // A "_CancelInstall" left from an earlier run cancels this one too.
    R("StaleCancel", "", {StaleCancel(), Cancels()}),
    // A tail that would not reach the configuration program whole is refused, never cut.
    R("TailTooLong", Tail(257), {TailRefused()}),
    // Signed by the vendor: the certificate table behind the container changes nothing.
    R("SignedSetup", "", {Signed(), Installs()}),
    // No "_PortableRootFolder" at all: the report carries the read's own error.
    R("PortableRootMissing", "/silent", {Portable(nullptr), NoRoot("2")}),
    // The portable block does not unpack: what was moved stays, the run ends with the failure.
    R("PortableDoesNotUnpack", "/silent",
      {Portable("{R}"), Blocks(kAll | kPortable | kBadPortable), Copies(nullptr),
       Then(Lines{"{MADE R}", "[0] UnpackSFX()  portable"} + BadProperties("portable", "{R}") +
            kTempGone),
       Exit(kInvalidArg), PortableFiles("")}),
    // The configuration program is missing from the container: it cannot be started.
    R("NoConfigurationProgram", "/silent",
      {Blocks(kAll | kNoConfig),
       Stops((int)0x80070002,
             Report("2", " ... Can't run  \"{T}\\pwwipeout.exe\" ii /silent") +
                 Report("80070002", "failed to run  {T}", "2"),
             2)}),
    // A packed block exempt from the integrity test whose properties no decoder accepts.
    R("PondwickDoesNotUnpack", "/silent",
      {Blocks(kAll | kNoCrc | kCorrupt), Exit(kInvalidArg),
       Log(TempMade() + Lines{"[0] UnpackSFX()  pondwick"} + BadProperties("pondwick", "{T}") +
           kTempGone)}),
    // A file that can be neither copied into place nor scheduled (a folder the configuration
    // program left in {T}) would be missing after a restart: none is asked for, -5, said so.
    R("FixedLeftoverCannotBeScheduled", "/silent",
      {Leave("cache"), Copies(""),
       CacheStays(
           NotScheduled("1", "cache", "[5] ActMoveFileOnReboot() - can't copy to {I}\\_pw1.pw_"))}),
    // The portable edition can't run a product whose files were not all copied.
    R("PortableCopyFails", "/silent",
      {Portable("{R}"), Leave("cache"), Copies(nullptr), CacheStays(Report("0", kStillLocked)),
       PortableFiles("-")}),
    // Host only: the locked file's copy is made but its replacement can't be scheduled. The
    // copy goes again, the old file stays, and the run ends with -5 without a restart.
    R("HostReplacementCannotBeScheduled", "/silent",
      {Locked("pondwick.dll"), Faults("MoveFileExA#1=5"), Copies(""),
       Then(NotScheduled("2", "pondwick.dll", "[5] MoveFileOnRebootNT() - MoveFileEx  FAIL") +
            Cleanup({"pondwick.dll"})),
       Exit(-5)}),
    // Host only: the setup cannot map its own file.
    R("HostSetupFileCannotBeMapped", "/silent",
      {Faults("CreateFileMappingA#1=8"), Exit(kFail),
       Log(Lines{"[0] RunSfx() - START "} + Report("8", "Can't extract from SFX  {S}"))}),
    // Host only: no temporary folder can be made anywhere.
    R("HostNoTemporaryFolderAtAll", "/silent",
      {Faults("GetTempFileNameA#1+=5"), Exit(-1),
       Log(TempMade("5", "[5] CreateTempFolder: Can't get temp name ") +
           Report("0", "Can't create temp folder to unpack files "))}),
    // ---- Odd inputs ----
    // What a careless configuration program may leave, command lines and paths at their limits,
    // names beyond ASCII: each run ends as designed or fails clearly, never past a buffer (the
    // host runs these under ASan and UBSan).
    // The setup reads a number's bytes whatever their stored type: the text "0" is the number
    // 0x30, not 0, so the run counts as fresh.
    R("FreshStoredAsText", "/silent", {Raw("_WasFresh", REG_SZ, B("0\0")), Installs()}),
    // The text "1" is 0x31: cancelled ("_WasFresh" left alone, here and below where it is unset).
    R("CancelStoredAsText", "/silent",
      {WasFresh(nullptr), Raw("_CancelInstall", REG_SZ, B("1\0")), Cancels()}),
    // Two bytes fill the number's low half: 1, cancelled.
    R("CancelOfTwoBytes", "/silent",
      {WasFresh(nullptr), Raw("_CancelInstall", REG_BINARY, B("\x01\0")), Cancels()}),
    // Eight bytes do not fit the number: counted as missing, neither cancelled nor an update.
    R("NumbersOfEightBytesCountAsMissing", "/silent",
      {Raw("_WasFresh", REG_DWORD, B("\0\0\0\0\0\0\0\0")),
       Raw("_CancelInstall", REG_BINARY, B("\x01\0\0\0\0\0\0\0")), Installs()}),
    // A string stored without its terminator is read as far as it was stored, and no further.
    R("FolderWithoutTerminator", "/silent", {Raw("PondwickFolder", REG_SZ, B("{I}")), Installs()}),
    R("AdminFilesWithoutTerminator", "/silent",
      {WasFresh(nullptr), Raw("_UseAdminFiles", REG_SZ, B("yes")), CopiesNothing("yes")}),
    // 300 bytes do not fit the folder's 260: the read fails with its own error.
    R("FolderOfThreeHundredBytes", "",
      {Folder(nullptr), WasFresh(nullptr),
       Raw("PondwickFolder", REG_SZ, "C:\\" + std::string(296, 'p') + '\0'), NoFolder("EA")}),
    // 260 characters and the terminator do not fit either; 259 do.
    R("FolderOfTwoHundredSixtyCharacters", "/silent",
      {Folder("{W260}"), WasFresh(nullptr), NoFolder("EA")}),
    R("FolderOfTwoHundredSixtyWithoutTerminator", "/silent",
      {Folder(nullptr), WasFresh(nullptr), Raw("PondwickFolder", REG_SZ, B("{W260}")),
       NoFolder("EA")}),
    // 259 characters fit, but leave no room for a file in the folder: refused before anything
    // is copied, rather than a restart that would install nothing.
    R("FolderOf259", "/silent", {InstallTo("{W259}"), TooDeep()}),
    // 239 characters hold every file, but not the command that RunOnce would carry after a
    // restart (at most 260 characters): refused too. 238 installs, its folders made.
    R("FolderOf239", "/silent", {InstallTo("{W239}"), TooDeep()}),
    // The installation folder can't be made where a file stands (the setup itself): reported
    // with the system's error, nothing copied, no restart asked for, -4.
    R("FolderCannotBeMade", "", {InstallTo("{D}\\setup.exe"), FolderNotMade}),
    R("FolderOf238", "/silent", {InstallTo("{W238}"), Installs()}),
    // "yes" in any case, nothing around it.
    R("AdminFilesYesAndBlank", "/silent",
      {Raw("_UseAdminFiles", REG_SZ, B("yes \0")), Installs("yes ")}),
    R("AdminFilesYesUpperCase", "/silent",
      {WasFresh(nullptr), Raw("_UseAdminFiles", REG_SZ, B("YES\0")), CopiesNothing("YES")}),
    // A string ends at its first terminator, as every reader of a string value sees it.
    R("AdminFilesYesThenJunk", "/silent",
      {WasFresh(nullptr), Raw("_UseAdminFiles", REG_SZ, B("yes\0junk\0")), CopiesNothing("yes")}),
    // Exactly 64 bytes: read whole when the last is the terminator...
    R("AdminFilesOfSixtyFourBytes", "/silent",
      {Raw("_UseAdminFiles", REG_SZ, kPadded + '\0'), Installs(kPadded)}),
    // ...and refused when no terminator is left for it, even with one inside.
    R("AdminFilesOfSixtyFourBytesUnterminated", "/silent",
      {Raw("_UseAdminFiles", REG_SZ, B("yes\0") + std::string(60, 'j')), Installs()}),
    // 256 characters reach the configuration program whole; 257 (TailTooLong) and 30000 don't.
    R("TailOf256", Tail(256), {Installs()}),
    R("TailOf30000", Tail(30000), {TailRefused()}),
    // The setup 259 characters deep: its folder is handed on whole.
    R("SetupPathOf259", "/silent", {SetupAt("{W247}", "PwSetup.exe"), Installs()}),
    // A console configuration program: its console host may hold {T} as its working folder a
    // moment after it ended; the temporary folder still goes.
    R("ConsoleConfigurationProgram", "/silent", {Blocks(kAll | kConsoleConfig), Installs()}),
    // Names of the system code page beyond ASCII (Windows-1252) pass unchanged.
    R("NamesBeyondAscii", "/silent",
      {SetupAt("{D}\\T\351l\351chargements", nullptr), InstallTo("{D}\\Pondwick \374ber"),
       Installs()}),
};

Lines WithoutFolder(Lines records) {
  for (std::string& r : records) {
    size_t at = r.find("folder: ");
    if (at != std::string::npos) r.erase(at, r.find("\r\n", at) + 2 - at);
  }
  return records;
}

// A row is named by its name in test reports, not by its bytes.
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// Runs one row and checks all the run leaves; values written raw stay as written, byte for byte.
void RunRow(const Row& row) {
  Installation run(row);
  if (!run.Unsupported().empty()) GTEST_SKIP() << run.Unsupported();
  ASSERT_EQ(run.Problem(), "");
  // "{MADE I}" and "{MADE R}" are put as the setup logs the folders it makes for {I} or {R}: one
  // line for each that is missing now, from the top down.
  Lines log;
  for (const std::string& line : run.Fill(row.log)) {
    bool made = line == "{MADE I}" || line == "{MADE R}";
    if (!made) log.push_back(line);
    std::string folder = run.Fill(line == "{MADE I}" ? "{I}" : "{R}");
    for (size_t at = folder.find('\\', 3); made; at = folder.find('\\', at + 1)) {
      std::string above = folder.substr(0, at);
      if (GetFileAttributesA(above.c_str()) == INVALID_FILE_ATTRIBUTES)
        log.push_back("[0] CreateFolderTree() - made  " + above);
      if (at == std::string::npos) break;
    }
  }
  log = CanonicalLog(log);
  Observed seen = run.Install();
  ASSERT_EQ(run.Problem(), "");
  EXPECT_EQ(seen.exitCode, (DWORD)row.exitCode);
  // Where the expected line writes its code [*], so does the observed one.
  for (size_t i = 0; i < seen.log.size() && i < log.size(); ++i)
    if (log[i].rfind("[*]", 0) == 0 && seen.log[i].find(']') != std::string::npos)
      seen.log[i] = "[*" + seen.log[i].substr(seen.log[i].find(']'));
  EXPECT_EQ(seen.log, log);
  EXPECT_EQ(seen.boxes, run.Fill(row.boxes));
  EXPECT_EQ(seen.files, run.Fill(row.files));
  EXPECT_EQ(seen.values, run.Fill(row.values));
  EXPECT_EQ(seen.runOnce, run.Fill(row.runOnce));
  EXPECT_EQ(seen.pending, run.Fill(row.pending));
  EXPECT_EQ(seen.tempExists, row.tempExists);
  EXPECT_EQ(seen.configStarts, run.Fill(row.configStarts));
  EXPECT_EQ(seen.productStarts, run.Fill(row.productStarts));
  EXPECT_TRUE(!row.portableFiles || seen.portable == run.Fill(row.portableFiles)) << seen.portable;
  const Lines& raw = seen.rawValues;
  auto kept = [&raw](const std::string& v) { return std::count(raw.begin(), raw.end(), v) > 0; };
  for (const RawValue& v : row.raw) {
    std::string written = v.name + ("=" + std::to_string(v.type)) + ":" + Hex(run.Fill(v.bytes));
    // Wine's RegQueryValueExA counts the terminator it adds to a string stored without one.
    EXPECT_TRUE(kept(written) || (v.type == REG_SZ && kept(written + "00")))
        << written << " is no longer as the configuration program left it: "
        << ::testing::PrintToString(seen.rawValues);
  }
  if (row.runOnce == "-") return;  // no work left for the restart

  Observed after = run.Restart(1);
  ASSERT_EQ(run.Problem(), "");
  EXPECT_EQ(after.files, kAllFiles) << "locked files replaced";
  // Wine's wineboot carries out wininit.ini's "NUL=" lines with DeleteFile, which leaves a
  // folder in place: there the 95 family's temporary folder can only be found emptied.
  EXPECT_EQ(after.tempFiles, kWine && row.win98 ? "" : "-") << "the private temporary folder";
  EXPECT_EQ(after.pending, Lines()) << "nothing left for a later start";
  EXPECT_EQ(after.runOnce, "-") << "RunOnce is carried out once";
  // After a restart the logon starts the product from a folder of its own choosing.
  EXPECT_EQ(WithoutFolder(after.productStarts),
            WithoutFolder({run.Fill(Product("{I}", "-fr", kAllFiles))}));
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) { return info.param.name; }

class InstallTest : public ::testing::TestWithParam<Row> {};

TEST_P(InstallTest, LeavesTheMachineAsExpected) { RunRow(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Scenarios, InstallTest, ::testing::ValuesIn(kRows), RowName);

}  // namespace
