/* Whole installations on a prepared machine; see install_runner.h. */
#include "tests/harness/install_runner.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "setup/product_names.h"
#include "tests/support/child_process.h"
#include "tests/support/log_reader.h"
#include "tests/support/message_boxes.h"
#include "tests/support/test_machine.h"
#include "tools/pwpack/pack_writer.h"

#ifndef _WIN32
#include "platform/posix/winsim.h"
#endif

namespace e2e {

namespace {

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kLogFolder[] = "C:\\_pw";
const char kLogFile[] = "C:\\_pw\\_pw.log";
// The values the setup and the configuration program exchange, in the order they are shown.
const char* const kValueNames[] = {
    names::kInstallerDir,   names::kWasFresh,      names::kCancelInstall, names::kFolder,
    names::kFolderPortable, names::kUseAdminFiles, names::kPortableRoot};

#ifdef _WIN32
const char kExe[] = ".exe";
#else
const char kExe[] = "";
#endif

// The product's files as the setup carries them: the two demo programs and a few data files.
struct Payload {
  std::vector<pwpack::PackFile> pondwick, langs, portable;
  std::string consoleConfig;  // pwwipeout.exe as a console program
  std::string affid;
  std::map<std::string, std::string> all;  // every file by name, affid.txt included
  std::string problem;
};

const Payload& ThePayload() {
  static Payload p;
  static bool made = false;
  if (made) return p;
  made = true;
  for (const char* program : {"identities", "pwwipeout"}) {
    std::string bytes;
    std::string path = TestProgramFolder() + "\\..\\demo\\" + program + kExe;
    if (!TestMachine::ReadBytes(path, &bytes) || bytes.empty()) p.problem = "cannot read " + path;
    p.pondwick.push_back({std::string(program) + ".exe", bytes});
  }
  // The host has no console programs of another kind: there it is the same program.
  p.consoleConfig = p.pondwick.back().contents;
#ifdef _WIN32
  std::string console = TestProgramFolder() + "\\..\\demo\\pwwipeout_console.exe";
  if (!TestMachine::ReadBytes(console, &p.consoleConfig)) p.problem = "cannot read " + console;
#endif
  p.pondwick.push_back({"pondwick.dll", "Pondwick library 2.0\r\n"});
  p.pondwick.push_back({"readme.txt", "Pondwick 2.0: remembers who you are.\r\n"});
  p.langs = {{"de.lng", "[de]\r\nHello=Hallo\r\n"}, {"en.lng", "[en]\r\nHello=Hello\r\n"}};
  p.portable = {{"roamkit.ini", "[Roamkit]\r\nPortable=1\r\n"}};
  p.affid = "PWAFF-0042";
  for (const auto* list : {&p.pondwick, &p.langs, &p.portable})
    for (const auto& f : *list) p.all[f.name] = f.contents;
  p.all["affid.txt"] = p.affid;
  return p;
}

// What an older installation left in {I}; readme.txt only where a row marks it read-only.
const std::map<std::string, std::string>& OldFiles() {
  static const std::map<std::string, std::string> old = {
      {"identities.exe", "identities 1.0\r\n"},
      {"pondwick.dll", "Pondwick library 1.0\r\n"},
      {"readme.txt", "Pondwick 1.0\r\n"}};
  return old;
}

// Packed blocks cost time to compress: each is made once per test program.
bool PackedBlock(const std::string& name, const std::vector<pwpack::PackFile>& files,
                 std::string* data, std::string* error) {
  static std::map<std::string, std::string> made;
  auto found = made.find(name);
  if (found != made.end()) {
    *data = found->second;
    return true;
  }
  std::string stream;
  if (!pwpack::MakeDecodedStream(files, &stream, error) ||
      !pwpack::CompressBlock(stream, false, data, error, nullptr, 1))
    return false;
  made[name] = *data;
  return true;
}

bool SetupStub(std::string* stub, std::string* error) {
#ifdef _WIN32
  // pwpack's writer drops the symbol table that the linker leaves behind the image.
  if (!TestMachine::ReadBytes(SetupProgram(), stub)) {
    *error = "cannot read " + SetupProgram();
    return false;
  }
#else
  (void)error;  // the host's stub is made, not read
  *stub = pwpack::MinimalStub();
#endif
  return true;
}

bool BuildSetup(unsigned blocks, const std::string& path, std::string* error) {
  const Payload& p = ThePayload();
  if (!p.problem.empty()) {
    *error = p.problem;
    return false;
  }
  std::string stub;
  if (!SetupStub(&stub, error)) return false;
  std::vector<pwpack::Block> chain;
  pwpack::Block pondwick{"pondwick", "", (blocks & kNoCrc) == 0};
  if (blocks & kNoConfig) {
    std::vector<pwpack::PackFile> without;
    for (const auto& f : p.pondwick)
      if (f.name != "pwwipeout.exe") without.push_back(f);
    if (!PackedBlock("pondwick-without-config", without, &pondwick.data, error)) return false;
  } else if (blocks & kConsoleConfig) {
    std::vector<pwpack::PackFile> files = p.pondwick;
    for (auto& f : files)
      if (f.name == "pwwipeout.exe") f.contents = p.consoleConfig;
    if (!PackedBlock("pondwick-console-config", files, &pondwick.data, error)) return false;
  } else if (!PackedBlock("pondwick", p.pondwick, &pondwick.data, error)) {
    return false;
  }
  chain.push_back(pondwick);
  if (blocks & kLangs) {
    chain.push_back({"langs", "", true});
    if (!PackedBlock("langs", p.langs, &chain.back().data, error)) return false;
  }
  if (blocks & kAffid) chain.push_back({"affid", p.affid, false});
  if (blocks & kPortable) {
    chain.push_back({"portable", "", (blocks & kBadPortable) == 0});
    if (!PackedBlock("portable", p.portable, &chain.back().data, error)) return false;
  }
  std::string setup;
  if (!pwpack::WriteSetup(stub, chain, &setup, error)) return false;
  if (blocks & kCorrupt) {
    // The chain carries the CRC of the intact data; one byte of it changes afterwards.
    size_t at = setup.find(pondwick.data);
    if (at == std::string::npos) {
      *error = "packed data not found in the setup";
      return false;
    }
    // The first property byte (lc, lp, pb: 0x5D) becomes 0xFF, which no decoder accepts: the
    // same failure in either world, whatever the payload's programs are.
    setup[at] ^= (char)0xA2;
  }
  if (blocks & kBadPortable) {
    size_t at = setup.find(chain.back().data);
    if (at == std::string::npos) {
      *error = "portable data not found in the setup";
      return false;
    }
    setup[at] ^= (char)0xA2;
  }
  if (!TestMachine::WriteBytes(path, setup)) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
  SetEnvironmentVariableA(name, value);
#else
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}

bool ReadValue(HKEY root, const char* keyName, const char* name, DWORD* type, std::string* data) {
  HKEY key;
  if (RegOpenKeyExA(root, keyName, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  bool ok = RegQueryValueExA(key, name, nullptr, type, nullptr, &size) == ERROR_SUCCESS;
  if (ok) {
    data->assign(size, '\0');
    ok = RegQueryValueExA(key, name, nullptr, type,
                          reinterpret_cast<BYTE*>(size ? &(*data)[0] : nullptr),
                          &size) == ERROR_SUCCESS;
    data->resize(size);
  }
  RegCloseKey(key);
  return ok;
}

void DeleteValue(HKEY root, const char* keyName, const char* name) {
  HKEY key;
  if (RegOpenKeyExA(root, keyName, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  RegDeleteValueA(key, name);
  RegCloseKey(key);
}

void SetString(HKEY root, const char* keyName, const char* name, const std::string& value) {
  HKEY key;
  if (RegCreateKeyExA(root, keyName, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return;
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 (DWORD)value.size() + 1);
  RegCloseKey(key);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (char c : bytes) {
    hex += kDigits[(BYTE)c >> 4];
    hex += kDigits[(BYTE)c & 15];
  }
  return hex;
}

// Makes folder and every missing folder above it; false when it is not there afterwards.
bool MakeFolders(const std::string& folder) {
  for (size_t at = folder.find('\\', 3); at != std::string::npos; at = folder.find('\\', at + 1))
    CreateDirectoryA(folder.substr(0, at).c_str(), nullptr);
  CreateDirectoryA(folder.c_str(), nullptr);
  DWORD attributes = GetFileAttributesA(folder.c_str());
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

std::string StripNtPrefix(std::string path) {
  if (path.rfind("!", 0) == 0) path.erase(0, 1);
  if (path.rfind("\\??\\", 0) == 0) path.erase(0, 4);
  return path;
}

// The records a demo program appended, one entry per start.
std::vector<std::string> Records(const std::string& path, const std::string& separator) {
  std::string all;
  std::vector<std::string> entries;
  if (!TestMachine::ReadBytes(path, &all)) return entries;
  size_t at = 0;
  while (at < all.size()) {
    size_t next = all.find(separator, at + 1);
    entries.push_back(all.substr(at, next == std::string::npos ? std::string::npos : next - at));
    if (next == std::string::npos) break;
    at = next;
  }
  return entries;
}

#ifdef _WIN32
// Under Wine the boxes of the setup are found on the screen, read, and answered: the restart
// question as the scenario says, every other box with its OK button.
struct BoxWatch {
  DWORD pid;
  int answer;
  std::mutex lock;
  std::vector<std::string> boxes;
  std::set<HWND> seen;
  std::atomic<bool> stop{false};
  std::thread thread;

  BoxWatch(DWORD process, int restartAnswer) : pid(process), answer(restartAnswer) {
    thread = std::thread([this] {
      while (!stop) {
        EnumWindows(Visit, reinterpret_cast<LPARAM>(this));
        Sleep(20);
      }
    });
  }
  ~BoxWatch() {
    stop = true;
    thread.join();
  }
  static BOOL CALLBACK Visit(HWND window, LPARAM param) {
    auto* self = reinterpret_cast<BoxWatch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char cls[32] = "";
    GetClassNameA(window, cls, sizeof cls);
    if (owner != self->pid || std::string(cls) != "#32770" || !IsWindowVisible(window)) return TRUE;
    // The progress window is a dialog too: a message box has the static text 0xFFFF.
    if (!GetDlgItem(window, 0xFFFF)) return TRUE;
    std::lock_guard<std::mutex> guard(self->lock);
    if (!self->seen.insert(window).second) return TRUE;
    char title[1024] = "", text[2048] = "";
    GetWindowTextA(window, title, sizeof title);
    GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
    self->boxes.push_back(std::string(title) + "|" + text);
    bool question = GetDlgItem(window, IDYES) != nullptr;
    PostMessageA(window, WM_COMMAND, question ? (self->answer ? self->answer : IDNO) : IDOK, 0);
    return TRUE;
  }
};
#endif

}  // namespace

bool GetSetupParts(SetupParts* parts, std::string* error) {
  const Payload& p = ThePayload();
  if (!p.problem.empty()) {
    *error = p.problem;
    return false;
  }
  parts->pondwick = p.pondwick;
  parts->langs = p.langs;
  parts->portable = p.portable;
  parts->affid = p.affid;
  return SetupStub(&parts->stub, error);
}

#ifdef _WIN32
// Under Wine, ExitWindowsEx starts wineboot, which ends the session and carries out the pending
// operations at once, while the file they replace is still held and before the run has been
// observed. A window that refuses to end the session stops that, as any program may on Windows:
// the restart is then the one Restart() carries out.
class SessionKeeper {
 public:
  SessionKeeper() {
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this, ready] {
      WNDCLASSA type = {};
      type.lpfnWndProc = Refuse;
      type.hInstance = GetModuleHandleA(nullptr);
      type.lpszClassName = "PwSessionKeeper";
      RegisterClassA(&type);  // a second keeper finds the class there
      HWND window = CreateWindowA("PwSessionKeeper", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  type.hInstance, nullptr);
      threadId_ = GetCurrentThreadId();
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
    PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
    thread_.join();
  }
  SessionKeeper(const SessionKeeper&) = delete;
  SessionKeeper& operator=(const SessionKeeper&) = delete;

 private:
  static LRESULT CALLBACK Refuse(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_QUERYENDSESSION) return FALSE;
    return DefWindowProcA(window, message, wParam, lParam);
  }
  std::thread thread_;
  std::atomic<DWORD> threadId_{0};
};
#endif

struct Installation::World {
  TestMachine machine;
  std::unique_ptr<HeldByChild> holder;
#ifndef _WIN32
  std::unique_ptr<MessageBoxWatch> boxes;
#endif
};

Installation::Installation(unsigned blocks, const Choices& choices, const Machine& machine,
                           const Extras& extras)
    : machine_(machine), world_(new World) {
  dir_ = world_->machine.Dir();
  install_ = extras.installFolder ? Fill(extras.installFolder) : dir_ + "\\Pondwick";
  root_ = dir_ + "\\Roamkit";
  std::string setupFolder = extras.setupFolder ? Fill(extras.setupFolder) : dir_;
  setup_ = setupFolder + "\\" + (extras.setupName ? extras.setupName : "setup.exe");
  if (!MakeFolders(setupFolder)) problem_ = "cannot make " + setupFolder;
  records_ = dir_ + "\\records";
  tempPath_ = machine.badTemp ? std::string(kLogFolder) : dir_ + "\\tmp";
  CleanShared();
  CreateDirectoryA(records_.c_str(), nullptr);
  std::string systemTemp = dir_ + "\\tmp";
  if (!machine.badTemp) CreateDirectoryA(systemTemp.c_str(), nullptr);
  readOnlyEnforced_ = ReadOnlyIsEnforced(dir_);

#ifdef _WIN32
  SetVariable("TMP", systemTemp.c_str());
  SetVariable("TEMP", systemTemp.c_str());
  if (machine.win98) SetString(HKEY_CURRENT_USER, "Software\\Wine", "Version", "win98");
#else
  TestMachine& m = world_->machine;
  m.SetSetting("windows", "temp", systemTemp);
  m.SetSetting("windows", "version", machine.win98 ? "98" : "5.1");
  m.SetSetting("programs", "player", winsim::HostPath(SetupProgram().c_str()));
  SetString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Internet Explorer", "Version",
            "6.0.2900.2180");
  if (machine.answer)
    TestMachine::WriteBytes("Z:" + m.Root() + "\\state\\messagebox-answers",
                            std::to_string(machine.answer) + "\n");
#endif

  SetVariable("PW_DEMO_RECORD", records_.c_str());
  struct {
    const char* variable;
    const char* value;
  } told[] = {{"PW_DEMO_FOLDER", choices.folder},
              {"PW_DEMO_FRESH", choices.fresh},
              {"PW_DEMO_CANCEL", choices.cancel},
              {"PW_DEMO_ADMIN", choices.admin},
              {"PW_DEMO_ROOT", choices.root},
              {"PW_DEMO_LEAVE", choices.leave}};
  for (const auto& t : told) SetVariable(t.variable, t.value ? Fill(t.value).c_str() : "(none)");
  std::string raw;
  for (const RawValue& v : extras.raw)
    raw += (raw.empty() ? "" : ";") + std::string(v.name) + "=" + std::to_string(v.type) + ":" +
           Hex(Fill(v.bytes));
  SetVariable("PW_DEMO_RAW", raw.empty() ? "(none)" : raw.c_str());

  if (machine.staleCancel) {
    HKEY key;
    DWORD one = 1;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, names::kProductKey, 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &key, nullptr) == ERROR_SUCCESS) {
      RegSetValueExA(key, names::kCancelInstall, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                     sizeof one);
      RegCloseKey(key);
    }
  }
  if (machine.installed) {
    CreateDirectoryA(install_.c_str(), nullptr);
    for (const char* name : {"identities.exe", "pondwick.dll"})
      if (!TestMachine::WriteBytes(install_ + "\\" + name, OldFiles().at(name)))
        problem_ = "cannot write the older product";
  }
  if (machine.readOnly) {
    std::string target = install_ + "\\" + machine.readOnly;
    auto old = OldFiles().find(machine.readOnly);
    if (!TestMachine::Exists(target) && old != OldFiles().end())
      TestMachine::WriteBytes(target, old->second);
    if (!SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY))
      problem_ = "cannot mark " + target + " read-only";
  }
  if (machine.locked) {
    std::string target = install_ + "\\" + machine.locked;
    // The product in use: its file open for reading, others may read but not write.
    world_->holder.reset(new HeldByChild(dir_, "file \"" + target + "\" 0x80000000 1"));
    if (world_->holder->Ready() != "ok")
      problem_ = "the file was not held: '" + world_->holder->Ready() + "'";
  }
  std::string error;
  if (!machine.signedSetup) {
    if (!BuildSetup(blocks, setup_, &error)) problem_ = error;
  } else if (!BuildSetup(blocks, dir_ + "\\unsigned.exe", &error)) {
    problem_ = error;
  } else {
    Sign(dir_ + "\\unsigned.exe");
  }
}

// The host's own path of a file of this machine, for the host's programs.
std::string Installation::HostPathOf(const std::string& path) const {
#ifdef _WIN32
  // Wine keeps drive C: in the prefix's drive_c.
  const char* prefix = std::getenv("WINEPREFIX");
  std::string rest = path.substr(2);
  for (char& c : rest)
    if (c == '\\') c = '/';
  return std::string(prefix ? prefix : "") + "/drive_c" + rest;
#else
  return winsim::HostPath(path.c_str());
#endif
}

// Signs the file into setup_ with tests/harness/sign_setup.sh, a host program; Wine starts host
// programs without a handle to wait on, so the signed file is waited for instead.
void Installation::Sign(const std::string& unsignedPath) {
  ChildProcess signer;
  std::string line = "Z:\\bin\\sh " + std::string(PW_SIGN_SCRIPT) + " " + HostPathOf(unsignedPath) +
                     " " + HostPathOf(setup_);
  if (!signer.Start(line)) {
    problem_ = "cannot start the signing script: " + std::to_string(GetLastError());
    return;
  }
  if (!WaitForFile(setup_, 60000)) {
    std::string log;
    TestMachine::ReadBytes(setup_ + ".log", &log);
    problem_ = "signing failed: " + log;
    return;
  }
  // The certificate table must lie behind the container: the PE's security directory (data
  // directory 4) points past the unsigned file's end.
  std::string before, after;
  TestMachine::ReadBytes(unsignedPath, &before);
  for (int i = 0; i < 100 && after.size() <= before.size(); ++i) {
    TestMachine::ReadBytes(setup_, &after);
    if (after.size() <= before.size()) Sleep(20);
  }
  auto le32 = [&after](size_t at) {
    return at + 4 > after.size()
               ? 0u
               : (DWORD)(BYTE)after[at] | (DWORD)(BYTE)after[at + 1] << 8 |
                     (DWORD)(BYTE)after[at + 2] << 16 | (DWORD)(BYTE)after[at + 3] << 24;
  };
  DWORD pe = le32(0x3C);
  DWORD table = le32(pe + 24 + 128), size = le32(pe + 24 + 132);  // PE32: directories at 96
  if (size == 0 || table < before.size() || (size_t)table + size > after.size())
    problem_ = "no certificate table behind the container (at " + std::to_string(table) + ", " +
               std::to_string(size) + " bytes)";
}

Installation::~Installation() {
  world_->holder.reset();
  // Folders at MAX_PATH are out of reach of the scratch folder's removal under Wine, and a
  // folder left behind would meet a later machine of the same name: they go first, deepest
  // first, through the same calls that made them (only empty ones go).
  for (size_t length = 300; length > dir_.size() + 1; --length) {
    std::string folder = DeepFolder(dir_, length);
    while (folder.size() > dir_.size()) {
      RemoveDirectoryA(folder.c_str());
      folder.erase(folder.rfind('\\'));
    }
  }
  if (machine_.readOnly) {
    std::string target = install_ + "\\" + machine_.readOnly;
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
#ifdef _WIN32
  if (machine_.win98) DeleteValue(HKEY_CURRENT_USER, "Software\\Wine", "Version");
#endif
  CleanShared();
}

// Under Wine the registry, the log and wininit.ini belong to the prefix that every scenario
// shares: each starts from, and leaves, a clean state. On the host each machine is new anyway.
void Installation::CleanShared() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, names::kProductKey, 0, KEY_ALL_ACCESS, &key) ==
      ERROR_SUCCESS) {
    for (const char* name : kValueNames) RegDeleteValueA(key, name);
    RegCloseKey(key);
  }
  DeleteValue(HKEY_CURRENT_USER, names::kRunOnceKey, names::kRunOnceValue);
  DeleteValue(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations");
  char windows[MAX_PATH] = "";
  GetWindowsDirectoryA(windows, sizeof windows);
  for (const char* name : {"\\wininit.ini", "\\wininit.bak"})
    DeleteFileA((std::string(windows) + name).c_str());
}

std::string Installation::Fill(const std::string& text) const {
  std::string out = Replace(text, "{I}", install_);
  out = Replace(out, "{R}", root_);
  out = Replace(out, "{S}", setup_);
  out = Replace(out, "{P}", tempPath_);
  out = Replace(out, "{L}", kLogFolder);
  for (size_t at = out.find("{W"); at != std::string::npos; at = out.find("{W", at + 1)) {
    size_t end = out.find('}', at);
    if (end == std::string::npos) break;
    size_t length = (size_t)std::strtoul(out.substr(at + 2, end - at - 2).c_str(), nullptr, 10);
    out.replace(at, end + 1 - at, DeepFolder(dir_, length));
  }
  // {E<hex>}: the system's own text for that error code, as the error reports append it.
  for (size_t at = out.find("{E"); at != std::string::npos; at = out.find("{E", at + 1)) {
    size_t end = out.find('}', at);
    if (end == std::string::npos) break;
    DWORD code = (DWORD)std::strtoul(out.substr(at + 2, end - at - 2).c_str(), nullptr, 16);
    char message[512] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   message, sizeof message, nullptr);
    std::string text = message;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    out.replace(at, end + 1 - at, text);
  }
  return Replace(out, "{D}", dir_);
}

void Installation::UseSetup(const std::string& bytes) {
  if (!TestMachine::WriteBytes(setup_, bytes)) problem_ = "cannot write " + setup_;
}

Observed Installation::Install(const std::string& tail) {
  Observed seen;
#ifndef _WIN32
  world_->boxes.reset(new MessageBoxWatch);
#else
  SessionKeeper keeper;
#endif
  ChildProcess setup;
  std::string line = "\"" + setup_ + "\"" + (tail.empty() ? "" : " " + tail);
#ifndef _WIN32
  if (machine_.faults) setenv("WINSIM_FAULTS", machine_.faults, 1);
#endif
#ifdef _WIN32
  // Without a console, as when started from Explorer: a console program that the setup starts
  // then gets a console (and its host) of its own.
  bool started = setup.Start(line, nullptr, DETACHED_PROCESS);
#else
  bool started = setup.Start(line);
  unsetenv("WINSIM_FAULTS");
#endif
  if (!started) {
    problem_ = "cannot start the setup: " + std::to_string(GetLastError());
    return seen;
  }
  {
#ifdef _WIN32
    BoxWatch watch(setup.Id(), machine_.answer);
    seen.exitCode = setup.Wait(120000);
    std::lock_guard<std::mutex> guard(watch.lock);
    seen.boxes = watch.boxes;
#else
    seen.exitCode = setup.Wait(120000);
    for (const ShownBox& box : world_->boxes->Boxes())
      seen.boxes.push_back(box.title + "|" + box.text);
#endif
  }
  Observe(&seen);
  return seen;
}

Observed Installation::Restart(size_t productStartsExpected) {
  // The session ends first: the program holding the file lets go of it.
  world_->holder.reset();
  Observed seen;
  ChildProcess boot;
#ifdef _WIN32
  if (machine_.win98) DeleteValue(HKEY_CURRENT_USER, "Software\\Wine", "Version");
  if (!boot.Start("wineboot.exe -r") || boot.Wait(120000) == STILL_ACTIVE)
    problem_ = "wineboot -r failed";
  // Wine leaves HKCU RunOnce to the logon: do what it does, delete the value, then run it.
  DWORD type = 0;
  std::string command;
  if (ReadValue(HKEY_CURRENT_USER, names::kRunOnceKey, names::kRunOnceValue, &type, &command)) {
    DeleteValue(HKEY_CURRENT_USER, names::kRunOnceKey, names::kRunOnceValue);
    ChildProcess product;
    if (product.Start(command.c_str())) product.Wait(60000);
  }
#else
  std::string winsim = TestProgramFolder() + "\\..\\tools\\winsim\\winsim";
  if (!boot.Start("\"" + winsim + "\" boot " + world_->machine.Root()) || boot.Wait(120000) != 0)
    problem_ = "winsim boot failed";
#endif
  // The logon may start the product on its own: give it time to leave its record.
  for (int i = 0; i < 500; ++i) {
    Observe(&seen);
    if (seen.productStarts.size() >= productStartsExpected) break;
    Sleep(20);
  }
  return seen;
}

std::string Installation::Tree(const std::string& folder) const {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE walk = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (walk == INVALID_HANDLE_VALUE) return "-";
  do {
    std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      names.push_back(name + "/");
      continue;
    }
    std::string bytes;
    TestMachine::ReadBytes(folder + "\\" + name, &bytes);
    const auto& all = ThePayload().all;
    auto same = all.find(name);
    auto old = OldFiles().find(name);
    // The console build of the configuration program stands for it where a row packs it.
    bool console = name == "pwwipeout.exe" && bytes == ThePayload().consoleConfig;
    if ((same != all.end() && same->second == bytes) || console) {
      names.push_back(name);
    } else if (old != OldFiles().end() && old->second == bytes) {
      names.push_back(name + "=old");
    } else {
      std::string what = "?" + std::to_string(bytes.size());
      for (const auto& f : all)
        if (f.second == bytes) what = f.first;
      for (const auto& f : OldFiles())
        if (f.second == bytes) what = "old " + f.first;
      names.push_back(name + "=" + what);
    }
  } while (FindNextFileA(walk, &found));
  FindClose(walk);
  std::sort(names.begin(), names.end());
  std::string tree;
  for (const auto& n : names) tree += (tree.empty() ? "" : " ") + n;
  return tree;
}

void Installation::Observe(Observed* seen) {
  std::vector<std::string> all = LogEntries(kLogFile);
  seen->log.clear();
  bool started = false;
  for (const std::string& line : all) {
    if (line.find("] RunSfx() - START") != std::string::npos) started = true;
    if (!started) continue;
    seen->log.push_back(line);
    // "CreateTempFolder: PATH" names the folder once it is made (its code is whatever error
    // the system left behind: Wine leaves one even on success).
    static const char kMade[] = "] CreateTempFolder: ";
    size_t at = line.find(kMade);
    if (at != std::string::npos) {
      std::string detail = line.substr(at + sizeof kMade - 1);
      if (detail.rfind("in ", 0) != 0 && detail.rfind("Can't ", 0) != 0 && detail != "!!!")
        tempFolder_ = detail;
    }
  }
  for (auto* list : {&seen->log, &seen->boxes})
    for (std::string& line : *list)
      if (!tempFolder_.empty()) line = Replace(line, tempFolder_, "{T}");
  seen->wholeLog = all;
  for (std::string& line : seen->wholeLog)
    if (!tempFolder_.empty()) line = Replace(line, tempFolder_, "{T}");
  seen->log = CanonicalLog(seen->log);

  seen->files = Tree(install_);
  seen->portable = Tree(root_);
  seen->values.clear();
  seen->rawValues.clear();
  for (const char* name : kValueNames) {
    DWORD type = 0;
    std::string data;
    if (!ReadValue(HKEY_CURRENT_USER, names::kProductKey, name, &type, &data)) continue;
    seen->rawValues.push_back(std::string(name) + "=" + std::to_string(type) + ":" + Hex(data));
    if (type == REG_DWORD && data.size() == 4) {
      DWORD number =
          (BYTE)data[0] | (BYTE)data[1] << 8 | (BYTE)data[2] << 16 | (DWORD)(BYTE)data[3] << 24;
      seen->values.push_back(std::string(name) + "=" + std::to_string(number));
    } else {
      seen->values.push_back(std::string(name) + "=" + data.c_str());
    }
  }
  DWORD type = 0;
  std::string runOnce;
  seen->runOnce =
      ReadValue(HKEY_CURRENT_USER, names::kRunOnceKey, names::kRunOnceValue, &type, &runOnce)
          ? std::string(runOnce.c_str())
          : "-";

  seen->pending.clear();
  std::string list;
  if (ReadValue(HKEY_LOCAL_MACHINE, kSessionManager, "PendingFileRenameOperations", &type, &list)) {
    std::vector<std::string> strings;
    for (size_t at = 0; at < list.size();) {
      size_t end = list.find('\0', at);
      if (end == std::string::npos) end = list.size();
      strings.push_back(list.substr(at, end - at));
      at = end + 1;
    }
    // The list ends with an empty string; between, sources and targets alternate.
    while (!strings.empty() && strings.back().empty() && strings.size() % 2 == 1)
      strings.pop_back();
    if (strings.size() % 2 == 1 && strings.back().empty()) strings.pop_back();
    for (size_t i = 0; i + 1 < strings.size(); i += 2)
      seen->pending.push_back(StripNtPrefix(strings[i]) + " -> " + StripNtPrefix(strings[i + 1]));
  }
  char windows[MAX_PATH] = "";
  GetWindowsDirectoryA(windows, sizeof windows);
  std::string ini;
  if (TestMachine::ReadBytes(std::string(windows) + "\\wininit.ini", &ini)) {
    size_t at = 0;
    while (at < ini.size()) {
      size_t end = ini.find("\r\n", at);
      seen->pending.push_back("wininit: " +
                              ini.substr(at, end == std::string::npos ? end : end - at));
      if (end == std::string::npos) break;
      at = end + 2;
    }
  }
  for (std::string& p : seen->pending)
    if (!tempFolder_.empty()) p = Replace(p, tempFolder_, "{T}");

  seen->tempExists = !tempFolder_.empty() && TestMachine::Exists(tempFolder_);
  seen->tempFiles = seen->tempExists ? Tree(tempFolder_) : "-";
  seen->configStarts = Records(records_ + "\\pwwipeout.txt", "command line: ");
  seen->productStarts = Records(records_ + "\\identities.txt", "start\r\n");
  for (auto* list : {&seen->configStarts, &seen->productStarts})
    for (std::string& r : *list)
      if (!tempFolder_.empty()) r = Replace(r, tempFolder_, "{T}");
}

std::vector<std::string> CanonicalLog(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < lines.size()) {
    out.push_back(lines[i]);
    if (lines[i].find("] ForEachFile() - by mask ") == std::string::npos) {
      ++i;
      continue;
    }
    // One group per file: from a line of an Act... action to the next such line.
    std::vector<std::vector<std::string>> groups;
    size_t j = i + 1;
    for (; j < lines.size() && lines[j].find("] ForEachFile() - ") == std::string::npos; ++j) {
      static const char* const kHeads[] = {"] ActMoveFile() - move ", "] ActDelFile() - file ",
                                           "] ActMoveFileOnReboot() - move ",
                                           "] ActCopyFile() - from ", "] ActCheckLocked() - "};
      bool head = false;
      size_t code = lines[j].find(']');
      for (const char* h : kHeads)
        head = head || (code != std::string::npos && lines[j].find(h) == code);
      if (head || groups.empty()) groups.emplace_back();
      groups.back().push_back(lines[j]);
    }
    std::sort(groups.begin(), groups.end());
    for (const auto& g : groups) out.insert(out.end(), g.begin(), g.end());
    i = j;
  }
  return out;
}

}  // namespace e2e
