/*
 * pwwipeout.exe, the stand-in configuration program. The setup starts it from its temporary
 * folder with the mode word ("ii" fixed edition, "pp" portable) and its own command-line tail,
 * and afterwards reads the choices it left in HKEY_CURRENT_USER "Software\Tarnwell Labs".
 *
 * Which choices it makes comes from the environment, so one build serves every case:
 *   PW_DEMO_FOLDER  the installation folder ("PondwickFolder", or "PondwickFolderPort" in the
 *                   portable edition); default C:\Program Files\Pondwick
 *   PW_DEMO_FRESH   "_WasFresh" as a number; default 1 unless the product is already in the folder
 *   PW_DEMO_CANCEL  "_CancelInstall" as a number; default not written
 *   PW_DEMO_ADMIN   "_UseAdminFiles"; default not written
 *   PW_DEMO_ROOT    "_PortableRootFolder"; default C:\Roamkit in the portable edition
 *   PW_DEMO_RAW     values written last, exactly as given, to leave what a careless or broken
 *                   configuration program might: "NAME=TYPE:HEX" entries separated by ";", TYPE
 *                   the registry type as a number (1 REG_SZ, 3 REG_BINARY, 4 REG_DWORD) and HEX
 *                   the value's bytes, so a string may lack its terminator or hold one inside
 *   PW_DEMO_LEAVE   a folder of this name is left in the working folder (the setup's private
 *                   temporary folder), as a configuration program may leave its own things there
 * "(none)" leaves a value as it is, "(empty)" writes an empty string. It only chooses: the
 * folders it names are left for the setup to make. What it was given and saw (command line,
 * working folder, "_InstallerDir", whether "_WasFresh" was gone) is appended to pwwipeout.txt in
 * the folder PW_DEMO_RECORD.
 */
#include <stdlib.h>

#include <string>

#include "demo/demo_record.h"
#include "setup/product_names.h"

namespace {

void SetString(HKEY key, const char* name, const std::string& value) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 (DWORD)value.size() + 1);
}

void SetNumber(HKEY key, const char* name, const std::string& value) {
  DWORD number = (DWORD)strtoul(value.c_str(), nullptr, 0);
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Writes each "NAME=TYPE:HEX" entry of the list as it stands; a malformed entry is skipped
// whole, so that nothing half-meant lands in the registry.
void SetRawValues(HKEY key, const std::string& list) {
  size_t at = 0;
  while (at <= list.size()) {
    size_t end = list.find(';', at);
    if (end == std::string::npos) end = list.size();
    std::string entry = list.substr(at, end - at);
    at = end + 1;
    size_t equals = entry.find('='),
           colon = entry.find(':', equals == std::string::npos ? 0 : equals);
    if (equals == std::string::npos || equals == 0 || colon == std::string::npos) continue;
    std::string name = entry.substr(0, equals);
    char* typeEnd = nullptr;
    std::string typeText = entry.substr(equals + 1, colon - equals - 1);
    DWORD type = (DWORD)strtoul(typeText.c_str(), &typeEnd, 0);
    if (typeText.empty() || *typeEnd) continue;
    std::string hex = entry.substr(colon + 1), bytes;
    bool good = hex.size() % 2 == 0;
    for (size_t i = 0; good && i < hex.size(); i += 2) {
      int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
      good = high >= 0 && low >= 0;
      bytes += (char)(high << 4 | low);
    }
    if (!good) continue;
    RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   (DWORD)bytes.size());
  }
}

// The mode word: the first argument after the program's (quoted) name.
std::string ModeWord() {
  std::string line = GetCommandLineA();
  size_t at = 0;
  if (!line.empty() && line[0] == '"') {
    at = line.find('"', 1);
    at = at == std::string::npos ? line.size() : at + 1;
  } else {
    at = line.find(' ');
    if (at == std::string::npos) at = line.size();
  }
  while (at < line.size() && line[at] == ' ') ++at;
  size_t end = line.find(' ', at);
  return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

std::string ReadString(HKEY key, const char* name, bool* present) {
  char buffer[MAX_PATH] = "";
  DWORD size = sizeof buffer - 1;
  *present = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                              &size) == ERROR_SUCCESS;
  return *present ? std::string(buffer) : std::string();
}

}  // namespace

int main() {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, names::kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) != ERROR_SUCCESS)
    return 1;
  bool portable = ModeWord() == "pp";
  bool present = false;
  std::string installerDir = ReadString(key, names::kInstallerDir, &present);
  std::string record = demo::StartLines() +
                       "_InstallerDir: " + (present ? installerDir : std::string("(missing)")) +
                       "\r\n";
  ReadString(key, names::kWasFresh, &present);
  record += std::string("_WasFresh at start: ") + (present ? "present" : "gone") + "\r\n";
  demo::AppendRecord("pwwipeout.txt", record);

  std::string folder = "C:\\Program Files\\Pondwick", value;
  bool folderGiven = !getenv("PW_DEMO_FOLDER") || demo::Instruction("PW_DEMO_FOLDER", &folder);
  if (folderGiven) {
    SetString(key, portable ? names::kFolderPortable : names::kFolder, folder);
  }

  if (demo::Instruction("PW_DEMO_FRESH", &value)) {
    SetNumber(key, names::kWasFresh, value);
  } else if (!getenv("PW_DEMO_FRESH") && folderGiven) {
    // A product already in the folder is an update, which needs a restart to finish.
    std::string product = folder + "\\identities.exe";
    SetNumber(key, names::kWasFresh,
              GetFileAttributesA(product.c_str()) == INVALID_FILE_ATTRIBUTES ? "1" : "0");
  }
  if (demo::Instruction("PW_DEMO_CANCEL", &value)) SetNumber(key, names::kCancelInstall, value);
  if (demo::Instruction("PW_DEMO_ADMIN", &value)) SetString(key, names::kUseAdminFiles, value);
  std::string root = "C:\\Roamkit";
  if (portable && (!getenv("PW_DEMO_ROOT") || demo::Instruction("PW_DEMO_ROOT", &root))) {
    SetString(key, names::kPortableRoot, root);
  }
  if (demo::Instruction("PW_DEMO_RAW", &value)) SetRawValues(key, value);
  if (demo::Instruction("PW_DEMO_LEAVE", &value)) CreateDirectoryA(value.c_str(), nullptr);
  RegCloseKey(key);
  return 0;
}
