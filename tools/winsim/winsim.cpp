/*
 * winsim: makes and inspects simulated machines for the host build.
 *   winsim init DIR [--windows 5.1|98|95|me|nt4|2000|xp|2003|vista|7] [--admin yes|no]
 *                   [--check-token-membership yes|no] [--groups N] [--extended yes|no]
 *                   [--reboot accept|refuse] [--ie VERSION|none] [--answers ID,ID,...]
 *   winsim show DIR          machine.ini, the registry hives, message boxes, restart requests
 *   winsim run DIR PROGRAM [ARGS...]   starts PROGRAM (a Windows path) in the machine, waits
 *                                      for it and exits with its exit code's low 8 bits
 *   winsim boot DIR          what the next start of Windows does: pending renames and deletions,
 *                            wininit.ini [Rename], RunOnce; one line per step. A step the
 *                            system cannot do (a folder not empty, say) is skipped and marked
 *                            "(failed, error N)", as Windows goes on with its start: exit 0
 */
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/winsim.h"
#include "platform/win32.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: winsim init DIR [--windows V] [--admin yes|no] "
               "[--check-token-membership yes|no]\n"
               "                       [--groups N] [--extended yes|no] [--reboot accept|refuse]\n"
               "                       [--ie VERSION|none] [--answers ID,...]\n"
               "       winsim show DIR\n"
               "       winsim run DIR PROGRAM [ARGS...]\n"
               "       winsim boot DIR\n");
  return 2;
}

bool MakeDirs(const std::string& path) {
  std::string partial;
  std::stringstream parts(path);
  std::string part;
  if (!path.empty() && path[0] == '/') partial = "/";
  while (std::getline(parts, part, '/')) {
    if (part.empty()) continue;
    partial += part + "/";
    if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

bool YesNo(const std::string& v) { return v == "yes" || v == "no"; }

int Init(const std::string& dir, const std::vector<std::string>& args) {
  std::map<std::string, std::string> opt = {
      {"--windows", "5.1"},      {"--admin", "yes"},    {"--check-token-membership", "yes"},
      {"--groups", "0"},         {"--extended", "yes"}, {"--reboot", "accept"},
      {"--ie", "6.0.2900.2180"}, {"--answers", ""}};
  for (size_t i = 0; i < args.size(); i += 2) {
    if (!opt.count(args[i]) || i + 1 >= args.size()) return Usage();
    opt[args[i]] = args[i + 1];
  }
  if (!YesNo(opt["--admin"]) || !YesNo(opt["--check-token-membership"]) ||
      !YesNo(opt["--extended"]) || (opt["--reboot"] != "accept" && opt["--reboot"] != "refuse"))
    return Usage();
  for (const char* sub : {"/drive_c/WINDOWS/TEMP", "/drive_c/Program Files", "/state", "/registry"})
    if (!MakeDirs(dir + sub)) {
      std::perror(("winsim: " + dir + sub).c_str());
      return 1;
    }
  std::ofstream ini(dir + "/machine.ini", std::ios::trunc);
  ini << "[windows]\ndirectory=C:\\WINDOWS\ntemp=C:\\WINDOWS\\TEMP\nversion=" << opt["--windows"]
      << "\nextended=" << opt["--extended"] << "\n\n[security]\nadmin=" << opt["--admin"]
      << "\ngroups=" << opt["--groups"] << "\n";
  if (opt["--check-token-membership"] == "no")
    ini << "\n[functions]\nmissing=CheckTokenMembership\n";
  // ERROR_ACCESS_DENIED, as when a program vetoes the end of the session.
  if (opt["--reboot"] == "refuse") ini << "\n[shutdown]\nrefuse=5\n";
  ini.close();
  if (!opt["--answers"].empty()) {
    std::ofstream answers(dir + "/state/messagebox-answers", std::ios::trunc);
    std::stringstream ids(opt["--answers"]);
    std::string id;
    while (std::getline(ids, id, ',')) answers << id << "\n";
  }
  if (opt["--ie"] != "none") {
    setenv("WINSIM_ROOT", dir.c_str(), 1);
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Internet Explorer", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
      std::fprintf(stderr, "winsim: cannot write the registry\n");
      return 1;
    }
    const std::string& v = opt["--ie"];
    RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                   (DWORD)v.size() + 1);
    RegCloseKey(key);
  }
  std::printf("machine ready in %s\n", dir.c_str());
  return 0;
}

void ShowFile(const std::string& title, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::printf("== %s\n", title.c_str());
  if (!in) {
    std::printf("(none)\n");
    return;
  }
  std::cout << in.rdbuf();
  std::cout.flush();
  std::printf("\n");
}

int Show(const std::string& dir) {
  ShowFile("machine.ini", dir + "/machine.ini");
  ShowFile("HKEY_LOCAL_MACHINE (registry/system.reg)", dir + "/registry/system.reg");
  ShowFile("HKEY_CURRENT_USER (registry/user.reg)", dir + "/registry/user.reg");
  ShowFile("message boxes (style, answer, caption, text)", dir + "/state/messagebox.log");
  ShowFile("restart requests (flags, reason, outcome)", dir + "/state/reboot-requests");
  return 0;
}

int Run(const std::string& dir, const std::vector<std::string>& args) {
  if (args.empty()) return Usage();
  setenv("WINSIM_ROOT", dir.c_str(), 1);
  std::string line = "\"" + args[0] + "\"";
  for (size_t i = 1; i < args.size(); ++i) {
    bool quote = args[i].empty() || args[i].find_first_of(" \t") != std::string::npos;
    line += " " + (quote ? "\"" + args[i] + "\"" : args[i]);
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &child)) {
    std::fprintf(stderr, "winsim: cannot start %s (error %u)\n", args[0].c_str(),
                 (unsigned)GetLastError());
    return 127;
  }
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  std::printf("exit code %u (0x%08X)\n", (unsigned)code, (unsigned)code);
  return (int)(code & 0xFF);
}

int Boot(const std::string& dir) {
  setenv("WINSIM_ROOT", dir.c_str(), 1);
  std::vector<std::string> steps;
  int failed = winsim::Boot(&steps);
  for (const std::string& step : steps) std::printf("%s\n", step.c_str());
  std::printf("restart done: %zu steps, %d failed\n", steps.size(), failed);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  std::string command = argv[1], dir = argv[2];
  std::vector<std::string> rest(argv + 3, argv + argc);
  if (command == "init") return Init(dir, rest);
  if (command == "show") return rest.empty() ? Show(dir) : Usage();
  if (command == "run") return Run(dir, rest);
  if (command == "boot") return rest.empty() ? Boot(dir) : Usage();
  return Usage();
}
