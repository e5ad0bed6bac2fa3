/* Whole installations on a prepared machine; see install_runner.h. */
#include "tests/harness/install_runner.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "tests/support/message_boxes.h"
#include "tests/support/setup_file_builder.h"

#ifndef _WIN32
#include "platform/posix/winsim.h"
#endif

namespace e2e {

namespace {

const char kLogFolder[] = "C:\\_pw";

// What an older installation left in {I}; readme.txt only where a scenario marks it read-only.
const std::map<std::string, std::string> kOldFiles = {{"identities.exe", "identities 1.0\r\n"},
                                                      {"pondwick.dll", "Pondwick library 1.0\r\n"},
                                                      {"readme.txt", "Pondwick 1.0\r\n"}};

// The setup's parts in this world, the console build of the configuration program (which counts
// as it), and what each file of the product or of an older one is by its bytes: NAME, "old NAME".
struct Payload : SetupParts {
  std::string consoleConfig, problem;
  std::map<std::string, std::string> known;
};

const Payload& ThePayload() {
  static const Payload payload = [] {
    Payload p;
    auto read = [&p](const std::string& path) {
      std::string bytes;
      if (!TestMachine::ReadBytes(path, &bytes) || bytes.empty()) p.problem = "cannot read " + path;
      return bytes;
    };
    std::string demo = TestProgramFolder() + "\\..\\demo\\", exe = kWine ? ".exe" : "";
    p.pondwick = {{"identities.exe", read(demo + "identities" + exe)},
                  {"pwwipeout.exe", read(demo + "pwwipeout" + exe)},
                  {"pondwick.dll", "Pondwick library 2.0\r\n"},
                  {"readme.txt", "Pondwick 2.0: remembers who you are.\r\n"}};
    // The host has no console programs of another kind: there it is the same program. Under
    // Wine the stub is the setup program (pwpack's writer drops the symbol table that the
    // linker leaves behind the image); the host layer plays a minimal image.
    p.consoleConfig = kWine ? read(demo + "pwwipeout_console.exe") : p.pondwick[1].contents;
    p.stub = kWine ? read(SetupProgram()) : pwpack::MinimalStub();
    p.langs = {{"de.lng", "[de]\r\nHello=Hallo\r\n"}, {"en.lng", "[en]\r\nHello=Hello\r\n"}};
    p.portable = {{"roamkit.ini", "[Roamkit]\r\nPortable=1\r\n"}};
    p.affid = "PWAFF-0042";
    for (const auto* list : {&p.pondwick, &p.langs, &p.portable})
      for (const auto& f : *list) p.known[f.contents] = f.name;
    p.known[p.affid] = "affid.txt";
    p.known[p.consoleConfig] = "pwwipeout.exe";
    for (const auto& f : kOldFiles) p.known[f.second] = "old " + f.first;
    return p;
  }();
  return payload;
}

bool BuildSetup(unsigned blocks, const std::string& path, std::string* error) {
  SetupParts parts;
  if (!GetSetupParts(&parts, error)) return false;
  std::vector<pwpack::PackFile> pondwick;
  for (pwpack::PackFile f : parts.pondwick) {
    if (f.name == "pwwipeout.exe" && (blocks & kConsoleConfig))
      f.contents = ThePayload().consoleConfig;
    if (f.name != "pwwipeout.exe" || !(blocks & kNoConfig)) pondwick.push_back(f);
  }
  std::vector<pwpack::Block> chain;
  auto pack = [&](const char* name, const std::vector<pwpack::PackFile>& files, bool crc) {
    chain.push_back({name, "", crc});
    return corpus::PackFiles(files, &chain.back().data, error);
  };
  if (!pack("pondwick", pondwick, !(blocks & kNoCrc)) ||
      ((blocks & kLangs) && !pack("langs", parts.langs, true)))
    return false;
  if (blocks & kAffid) chain.push_back({"affid", parts.affid, false});
  if ((blocks & kPortable) && !pack("portable", parts.portable, !(blocks & kBadPortable)))
    return false;
  std::string setup;
  if (!pwpack::WriteSetup(parts.stub, chain, &setup, error)) return false;
  // The CRC is of the intact data. The first property byte (lc, lp, pb: 0x5D) becomes 0xFF, which
  // no decoder accepts: the same failure in either world, whatever the payload's programs are.
  auto damage = [&setup](const pwpack::Block& block) {
    size_t at = setup.find(block.data);
    if (at != std::string::npos) setup[at] ^= (char)0xA2;
    return at != std::string::npos;
  };
  if (((blocks & kCorrupt) && !damage(chain.front())) ||
      ((blocks & kBadPortable) && !damage(chain.back())))
    *error = "packed data not found in the setup";
  else if (!TestMachine::WriteBytes(path, setup))
    *error = "cannot write " + path;
  return error->empty();
}

void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
  SetEnvironmentVariableA(name, value);
#else
  value ? setenv(name, value, 1) : unsetenv(name);
#endif
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

bool IsFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A folder below dir whose path is exactly length characters: segments of "w", none longer
// than a file system allows a name to be. Shorter than dir plus two characters gives dir.
std::string DeepFolder(const std::string& dir, size_t length) {
  std::string folder = dir;
  while (folder.size() + 2 <= length) {
    size_t need = length - folder.size();  // a backslash and at least one character
    size_t segment = need <= 101 ? need - 1 : (need - 101 >= 2 ? 100 : 98);
    folder += "\\" + std::string(segment, 'w');
  }
  return folder;
}

// The records a demo program appended, one entry per start.
Lines Records(const std::string& path, const std::string& separator) {
  std::string all;
  Lines entries;
  TestMachine::ReadBytes(path, &all);
  for (size_t at = all.empty() ? std::string::npos : 0, next; at != std::string::npos; at = next) {
    next = all.find(separator, at + 1);
    entries.push_back(all.substr(at, next - at));  // to the end where there is no next
  }
  return entries;
}

// Whether path is one of the folders or lies in one, compared without regard to case.
bool Within(const std::string& path, const Lines& folders) {
  for (const std::string& folder : folders)
    if (lstrcmpiA(path.substr(0, folder.size()).c_str(), folder.c_str()) == 0 &&
        (path.size() == folder.size() || path[folder.size()] == '\\'))
      return true;
  return false;
}

// A folder's tree (see Observed::files), "-" when it is missing; its entries classified (see
// Observed::installed).
std::string Tree(const std::string& folder, std::map<std::string, std::string>* entries = nullptr) {
  std::map<std::string, std::string> own;
  std::string tree;
  for (const auto& entry : Snapshot(folder)) {  // in byte order of the names
    std::string name = entry.first.substr(folder.size() + 1), bytes;
    if (name.find('\\') != std::string::npos) continue;
    if (entry.second != "folder") TestMachine::ReadBytes(entry.first, &bytes);
    auto known = ThePayload().known.find(bytes);
    std::string& what = (entries ? *entries : own)[name];
    what = entry.second == "folder"            ? "/"
           : known == ThePayload().known.end() ? "?" + std::to_string(bytes.size())
           : known->second == name             ? ""
           : known->second == "old " + name    ? "old"
                                               : known->second;
    tree += (tree.empty() ? "" : " ") + name + (what == "/" || what.empty() ? what : "=" + what);
  }
  return IsFolder(folder) ? tree : "-";
}

// Under Wine the registry, the log and wininit.ini belong to the prefix that every scenario
// shares: each starts from, and leaves, a clean state. On the host each machine is new anyway.
void CleanShared() {
  for (const char* name : kValueNames) DeleteValue(HKEY_CURRENT_USER, names::kProductKey, name);
  DeleteValue(HKEY_CURRENT_USER, names::kRunOnceKey, names::kRunOnceValue);
  DeleteValue(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
  for (const char* name : {"wininit.ini", "wininit.bak"}) DeleteFileA(WindowsFile(name).c_str());
}

// The host's own path of a file of this machine, for the host's programs.
std::string HostPathOf(const std::string& path) {
#ifdef _WIN32
  // Wine keeps drive C: in the prefix's drive_c.
  const char* prefix = std::getenv("WINEPREFIX");
  return std::string(prefix ? prefix : "") + "/drive_c" + Replace(path.substr(2), "\\", "/");
#else
  return winsim::HostPath(path.c_str());
#endif
}

#ifdef _WIN32
// Under Wine, ExitWindowsEx starts wineboot, which would carry out the pending operations at once,
// while the file they replace is still held and before the run has been observed. A window that
// refuses to end the session, as any program may on Windows, leaves the restart to Restart().
// Its thread waits for messages alone, so that it answers at once.
class SessionKeeper {
 public:
  SessionKeeper() {
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this, ready] {
      WNDCLASSA type = {0,       Refuse,  0,       0,       GetModuleHandleA(nullptr),
                        nullptr, nullptr, nullptr, nullptr, "PwSessionKeeper"};
      RegisterClassA(&type);  // a second keeper finds the class there
      HWND window = CreateWindowA(type.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  type.hInstance, nullptr);
      id_ = GetCurrentThreadId();
      MSG msg;
      PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before we say ready
      SetEvent(ready);
      while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
      if (window) DestroyWindow(window);
    });
    WaitForSingleObject(ready, 10000);
    CloseHandle(ready);
  }
  ~SessionKeeper() {
    PostThreadMessageA(id_, WM_QUIT, 0, 0);
    thread_.join();
  }

 private:
  static LRESULT CALLBACK Refuse(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return message == WM_QUERYENDSESSION ? FALSE : DefWindowProcA(window, message, wParam, lParam);
  }
  std::atomic<DWORD> id_{0};
  std::thread thread_;
};
#endif

}  // namespace

bool GetSetupParts(SetupParts* parts, std::string* error) {
  *parts = ThePayload();
  return (*error = ThePayload().problem).empty();
}

Installation::Installation(const Scenario& s) : scenario_(s) {
  dir_ = machine_.Dir();
  install_ = s.installFolder ? Fill(s.installFolder) : dir_ + "\\Pondwick";
  root_ = dir_ + "\\Roamkit";
  std::string setupFolder = s.setupFolder ? Fill(s.setupFolder) : dir_;
  setup_ = setupFolder + "\\" + (s.setupName ? s.setupName : "setup.exe");
  for (size_t at = setupFolder.find('\\', 3); at != std::string::npos;  // and those above it
       at = setupFolder.find('\\', at + 1))
    CreateDirectoryA(setupFolder.substr(0, at).c_str(), nullptr);
  if (!CreateDirectoryA(setupFolder.c_str(), nullptr) && !IsFolder(setupFolder))
    problem_ = "cannot make " + setupFolder;
  records_ = dir_ + "\\records";
  std::string systemTemp = dir_ + "\\tmp";
  tempPath_ = s.badTemp ? kLogFolder : systemTemp;
  CleanShared();
  CreateDirectoryA(records_.c_str(), nullptr);
  if (!s.badTemp) CreateDirectoryA(systemTemp.c_str(), nullptr);

#ifdef _WIN32
  for (const char* name : {"TMP", "TEMP"}) SetVariable(name, systemTemp.c_str());
  if (s.win98)
    SetValue(HKEY_CURRENT_USER, "Software\\Wine", "Version", REG_SZ, std::string("win98", 6));
#else
  machine_.SetSetting("windows", "temp", systemTemp);
  machine_.SetSetting("windows", "version", s.win98 ? "98" : "5.1");
  machine_.SetSetting("programs", "player", winsim::HostPath(SetupProgram().c_str()));
  SetValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Internet Explorer", "Version", REG_SZ,
           "6.0.2900.2180" + std::string(1, '\0'));
  if (s.answer)
    TestMachine::WriteBytes("Z:" + machine_.Root() + "\\state\\messagebox-answers",
                            std::to_string(s.answer) + "\n");
#endif

  SetVariable("PW_DEMO_RECORD", records_.c_str());
  const char* const told[][2] = {{"PW_DEMO_FOLDER", s.folder}, {"PW_DEMO_FRESH", s.fresh},
                                 {"PW_DEMO_CANCEL", s.cancel}, {"PW_DEMO_ADMIN", s.admin},
                                 {"PW_DEMO_ROOT", s.root},     {"PW_DEMO_LEAVE", s.leave}};
  for (const auto& t : told) SetVariable(t[0], t[1] ? Fill(t[1]).c_str() : "(none)");
  std::string raw;
  for (const RawValue& v : s.raw)
    raw += (raw.empty() ? "" : ";") + std::string(v.name) + "=" + std::to_string(v.type) + ":" +
           Hex(Fill(v.bytes));
  SetVariable("PW_DEMO_RAW", raw.empty() ? "(none)" : raw.c_str());

  if (s.staleCancel)
    SetValue(HKEY_CURRENT_USER, names::kProductKey, names::kCancelInstall, REG_DWORD,
             std::string("\1\0\0\0", 4));
  if (s.installed) CreateDirectoryA(install_.c_str(), nullptr);
  for (const auto& old : kOldFiles)
    if (s.installed && (old.first != "readme.txt" || (s.readOnly && old.first == s.readOnly)) &&
        !TestMachine::WriteBytes(install_ + "\\" + old.first, old.second))
      problem_ = "cannot write the older product";
  std::string readOnly = install_ + "\\" + (s.readOnly ? s.readOnly : "");
  if (s.readOnly && !SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY))
    problem_ = "cannot mark " + readOnly + " read-only";
  if (s.locked) {  // the product in use: its file open for reading, others may read, not write
    holder_.reset(
        new HeldByChild(dir_, "file \"" + install_ + "\\" + s.locked + "\" 0x80000000 1"));
    if (holder_->Ready() != "ok") problem_ = "the file was not held: '" + holder_->Ready() + "'";
  }
  std::string error;
  if (!BuildSetup(s.blocks, s.signedSetup ? dir_ + "\\unsigned.exe" : setup_, &error))
    problem_ = error;
  else if (s.signedSetup)
    Sign(dir_ + "\\unsigned.exe");
}

std::string Installation::Unsupported() const {
  if (kWine && !scenario_.faults.empty()) return "the host layer's fault knobs make this failure";
  if (scenario_.readOnly && !ReadOnlyIsEnforced(dir_))
    return "this machine lets a writer past the read-only attribute (Wine as root)";
#ifdef _WIN32
  if (scenario_.installFolder && GetACP() != 1252)
    return "this prefix's code page is " + std::to_string(GetACP()) + ", not Windows-1252";
#endif
  return "";
}

// Signs the file into setup_ with tests/harness/sign_setup.sh, a host program; Wine starts host
// programs without a handle to wait on, so the signed file is waited for instead.
void Installation::Sign(const std::string& unsignedPath) {
  ChildProcess signer;
  std::string before, after, log;
  if (!signer.Start("Z:\\bin\\sh " + std::string(PW_SIGN_SCRIPT) + " " + HostPathOf(unsignedPath) +
                    " " + HostPathOf(setup_))) {
    problem_ = "cannot start the signing script: " + std::to_string(GetLastError());
  } else if (!WaitForFile(setup_, 60000)) {
    TestMachine::ReadBytes(setup_ + ".log", &log);
    problem_ = "signing failed: " + log;
  }
  if (!problem_.empty()) return;
  // The certificate table must lie behind the container: the PE's security directory (data
  // directory 4) points past the unsigned file's end.
  TestMachine::ReadBytes(unsignedPath, &before);
  for (int i = 0; i < 100; ++i, Sleep(20))
    if (TestMachine::ReadBytes(setup_, &after) && after.size() > before.size()) break;
  auto le32 = [&after](size_t at) { return at + 4 <= after.size() ? GetLe32(after, at) : 0; };
  DWORD pe = le32(0x3C);
  DWORD table = le32(pe + 24 + 128), size = le32(pe + 24 + 132);  // PE32: directories at 96
  if (size == 0 || table < before.size() || (size_t)table + size > after.size())
    problem_ = "no certificate table behind the container (at " + std::to_string(table) + ", " +
               std::to_string(size) + " bytes)";
}

Installation::~Installation() {
  holder_.reset();
  // Wine's removal of the scratch folder can't reach folders at MAX_PATH, and one left behind
  // would meet a later machine of that name: they go first, deepest first (only empty ones).
  for (size_t length = 300; length > dir_.size() + 1; --length)
    for (std::string folder = DeepFolder(dir_, length); folder.size() > dir_.size();
         folder.erase(folder.rfind('\\')))
      RemoveDirectoryA(folder.c_str());
  if (scenario_.readOnly)
    SetFileAttributesA((install_ + "\\" + scenario_.readOnly).c_str(), FILE_ATTRIBUTE_NORMAL);
  if (scenario_.win98) DeleteValue(HKEY_CURRENT_USER, "Software\\Wine", "Version");
  CleanShared();
}

std::string Installation::Fill(const std::string& text) const {
  std::string out = text;
  const std::string places[][2] = {
      {"{I}", install_}, {"{R}", root_}, {"{S}", setup_}, {"{P}", tempPath_}, {"{L}", kLogFolder}};
  for (const auto& place : places) out = Replace(out, place[0], place[1]);
  // {W<n>} and {E<hex>}: a folder n characters long, and the system's own text for that error
  // code, as the error reports append it.
  for (const char* head : {"{W", "{E"})
    for (size_t at = out.find(head); at != std::string::npos; at = out.find(head, at + 1)) {
      size_t end = out.find('}', at);
      if (end == std::string::npos) break;
      std::string text, number = out.substr(at + 2, end - at - 2);
      char message[512] = "";
      if (head[1] == 'W')
        text = DeepFolder(dir_, std::strtoul(number.c_str(), nullptr, 10));
      else if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                              (DWORD)std::strtoul(number.c_str(), nullptr, 16), 0, message,
                              sizeof message, nullptr))
        text = message;
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      out.replace(at, end + 1 - at, text);
    }
  return Replace(out, "{D}", dir_);
}

Lines Installation::Fill(const Lines& lines) const {
  Lines out;
  for (const std::string& line : lines) out.push_back(Fill(line));
  return out;
}

void Installation::UseSetup(const std::string& bytes) {
  if (!TestMachine::WriteBytes(setup_, bytes)) problem_ = "cannot write " + setup_;
}

Observed Installation::Install() {
  Observed seen;
  // The host answers from the machine's script, written with the machine.
  MessageBoxWatch boxes(scenario_.answer ? scenario_.answer : IDNO);
  ChildProcess setup;
  std::string line = "\"" + setup_ + "\"" + (scenario_.tail.empty() ? "" : " " + scenario_.tail);
  SetVariable("WINSIM_FAULTS", scenario_.faults.empty() ? nullptr : scenario_.faults.c_str());
#ifdef _WIN32
  SessionKeeper keeper;
  // Without a console, as when started from Explorer: a console program that the setup starts
  // then gets a console (and its host) of its own.
  bool started = setup.Start(line, nullptr, DETACHED_PROCESS);
#else
  bool started = setup.Start(line);
#endif
  SetVariable("WINSIM_FAULTS", nullptr);
  if (!started) {
    problem_ = "cannot start the setup: " + std::to_string(GetLastError());
    return seen;
  }
  boxes.Follow(setup.Id());
  seen.exitCode = setup.Wait(120000);
  for (const ShownBox& box : boxes.Boxes()) seen.boxes.push_back(box.title + "|" + box.text);
  return Observe(&seen);
}

Observed Installation::Restart(size_t productStartsExpected) {
  // The session ends first: the program holding the file lets go of it.
  holder_.reset();
  Observed seen;
  ChildProcess boot;
#ifdef _WIN32
  if (scenario_.win98) DeleteValue(HKEY_CURRENT_USER, "Software\\Wine", "Version");
  if (!boot.Start("wineboot.exe -r") || boot.Wait(120000) == STILL_ACTIVE)
    problem_ = "wineboot -r failed";
  // Wine leaves HKCU RunOnce to the logon: do what it does, delete the value, then run it.
  std::string command;
  if (ReadValue(HKEY_CURRENT_USER, names::kRunOnceKey, names::kRunOnceValue, nullptr, &command)) {
    DeleteValue(HKEY_CURRENT_USER, names::kRunOnceKey, names::kRunOnceValue);
    ChildProcess product;
    if (product.Start(command.c_str())) product.Wait(60000);
  }
#else
  std::string winsim = TestProgramFolder() + "\\..\\tools\\winsim\\winsim";
  if (!boot.Start("\"" + winsim + "\" boot " + machine_.Root()) || boot.Wait(120000) != 0)
    problem_ = "winsim boot failed";
#endif
  // The logon may start the product on its own: give it time to leave its record.
  for (int i = 0;
       i < 500 && Observe(&(seen = Observed())).productStarts.size() < productStartsExpected; ++i)
    Sleep(20);
  return seen;
}

const Observed& Installation::Observe(Observed* seen) {
  Lines all = LogEntries(kLogFolder + std::string("\\_pw.log"));
  bool started = false;
  for (const std::string& line : all) {
    started = started || line.find("] RunSfx() - START") != std::string::npos;
    if (!started) continue;
    seen->log.push_back(line);
    // "CreateTempFolder: PATH" names the folder once it is made (its code is whatever error
    // the system left behind: Wine leaves one even on success).
    static const char kMade[] = "] CreateTempFolder: ";
    size_t at = line.find(kMade);
    std::string detail = at == std::string::npos ? "" : line.substr(at + sizeof kMade - 1);
    if (!detail.empty() && detail.rfind("in ", 0) != 0 && detail.rfind("Can't ", 0) != 0 &&
        detail != "!!!")
      tempFolder_ = detail;
  }
  seen->wholeLog = all;

  seen->files = Tree(install_, &seen->installed);
  seen->portable = Tree(root_);
  DWORD type = 0;
  for (const char* name : kValueNames) {
    std::string data;
    if (!ReadValue(HKEY_CURRENT_USER, names::kProductKey, name, &type, &data)) continue;
    seen->rawValues.push_back(std::string(name) + "=" + std::to_string(type) + ":" + Hex(data));
    std::string shown = type == REG_DWORD && data.size() == 4 ? std::to_string(GetLe32(data, 0))
                                                              : std::string(data.c_str());
    seen->values.push_back(std::string(name) + "=" + shown);
  }
  std::string runOnce, list, ini;
  bool hasRunOnce =
      ReadValue(HKEY_CURRENT_USER, names::kRunOnceKey, names::kRunOnceValue, &type, &runOnce);
  seen->runOnce = hasRunOnce ? runOnce.c_str() : "-";

  // PendingFileRenameOperations: sources and targets alternate; an empty string ends the list.
  ReadValue(HKEY_LOCAL_MACHINE, kSessionManager, kPending, &type, &list);
  // Either path may carry the NT prefix \??\, a source a "!" before it: both go.
  Lines strings = Split(list, std::string(1, '\0'));
  for (std::string& s : strings)
    s.erase(0, s.rfind("!", 0) == 0), s.erase(0, s.rfind("\\??\\", 0) == 0 ? 4 : 0);
  for (size_t i = 0; i + 1 < strings.size(); i += 2)
    seen->pending.push_back(strings[i] + " -> " + strings[i + 1]);
  TestMachine::ReadBytes(WindowsFile("wininit.ini"), &ini);
  for (const std::string& l : Split(ini, "\r\n")) seen->pending.push_back("wininit: " + l);

  seen->tempExists = !tempFolder_.empty() && TestMachine::Exists(tempFolder_);
  seen->tempFiles = seen->tempExists ? Tree(tempFolder_) : "-";
  seen->configStarts = Records(records_ + "\\pwwipeout.txt", "command line: ");
  seen->productStarts = Records(records_ + "\\identities.txt", "start\r\n");
  for (auto* list : {&seen->log, &seen->wholeLog, &seen->boxes, &seen->pending, &seen->configStarts,
                     &seen->productStarts})
    for (std::string& line : *list) line = Replace(line, tempFolder_, "{T}");
  seen->log = CanonicalLog(seen->log);
  return *seen;
}

Lines CanonicalLog(const Lines& lines) {
  static const char* const kHeads[] = {"] ActMoveFile() - move ", "] ActDelFile() - file ",
                                       "] ActMoveFileOnReboot() - move ", "] ActCopyFile() - from ",
                                       "] ActCheckLocked() - "};
  Lines out;
  for (size_t i = 0; i < lines.size();) {
    out.push_back(lines[i++]);
    if (out.back().find("] ForEachFile() - by mask ") == std::string::npos) continue;
    // One group per file: from a line of an Act... action to the next such line.
    std::vector<Lines> groups;
    for (; i < lines.size() && lines[i].find("] ForEachFile() - ") == std::string::npos; ++i) {
      size_t code = lines[i].find(']');
      bool head = false;
      for (const char* h : kHeads)
        head = head || (code != std::string::npos && lines[i].find(h) == code);
      if (head || groups.empty()) groups.emplace_back();
      groups.back().push_back(lines[i]);
    }
    std::sort(groups.begin(), groups.end());
    for (const auto& g : groups) out.insert(out.end(), g.begin(), g.end());
  }
  return out;
}

Drive Snapshot(const std::string& folder) {
  Drive drive;
  WIN32_FIND_DATAA found;
  HANDLE walk = FindFirstFileA((folder + "\\*").c_str(), &found);
  for (bool more = walk != INVALID_HANDLE_VALUE; more; more = FindNextFileA(walk, &found)) {
    std::string name = found.cFileName, path = folder + "\\" + name;
    bool isFolder = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    if (name == "." || name == "..") continue;
    drive[path] = isFolder ? "folder"
                           : std::to_string(found.nFileSizeLow) + " bytes, written " +
                                 std::to_string(found.ftLastWriteTime.dwHighDateTime) + ":" +
                                 std::to_string(found.ftLastWriteTime.dwLowDateTime);
    // Wine keeps its system folder up to date while programs run, and links the users' folders
    // into the host's home: neither is walked there. Nothing of a setup's lands in them.
    if (isFolder && (!kWine || !Within(path, {"C:\\windows", "C:\\users"}))) {
      Drive below = Snapshot(path);
      drive.insert(below.begin(), below.end());
    }
  }
  if (walk != INVALID_HANDLE_VALUE) FindClose(walk);
  return drive;
}

Lines Changes(const Drive& before, const Drive& after, const Lines& allowed) {
  Lines changes;
  for (const auto& entry : after) {
    if (Within(entry.first, allowed)) continue;
    auto old = before.find(entry.first);
    if (old == before.end())
      changes.push_back("+" + entry.first);
    else if (old->second != entry.second)
      changes.push_back("~" + entry.first + " (" + old->second + " -> " + entry.second + ")");
  }
  for (const auto& entry : before)
    if (!Within(entry.first, allowed) && after.find(entry.first) == after.end())
      changes.push_back("-" + entry.first);
  return changes;
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  for (char c : bytes) hex += {"0123456789abcdef"[(BYTE)c >> 4], "0123456789abcdef"[(BYTE)c & 15]};
  return hex;
}

}  // namespace e2e
