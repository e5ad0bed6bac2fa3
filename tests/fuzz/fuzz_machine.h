/*
 * The simulated machine the fuzz targets write into: made once per fuzzing process, silent (no
 * boxes), without a log (lines are dropped), with one scratch folder emptied after every input.
 */
#ifndef TESTS_FUZZ_FUZZ_MACHINE_H
#define TESTS_FUZZ_FUZZ_MACHINE_H

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/log.h"
#include "support/report.h"

// Whole host files.
inline void WriteAll(const std::string& hostPath, const std::string& bytes) {
  std::ofstream(hostPath, std::ios::binary | std::ios::trunc) << bytes;
}
inline std::string ReadAll(const std::string& hostPath) {
  std::ostringstream s;
  s << std::ifstream(hostPath, std::ios::binary).rdbuf();
  return s.str();
}

class FuzzMachine {
 public:
  FuzzMachine() {
    char tmpl[] = "/tmp/winsim-fuzz-XXXXXX";
    root_ = mkdtemp(tmpl) ? tmpl : "/tmp/winsim-fuzz";
    std::filesystem::create_directories(HostOut());
    setenv("WINSIM_ROOT", root_.c_str(), 1);
    SilentMode = true;
    LogFilePath[0] = '\0';
  }
  ~FuzzMachine() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  // Windows path of the scratch folder.
  const char* Out() const { return "C:\\out"; }
  std::string HostOut() const { return HostC("out"); }
  // The host path of C:\name.
  std::string HostC(const std::string& name) const { return root_ + "/drive_c/" + name; }
  // Empties the scratch folder for the next input.
  void Clear() const {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(HostOut(), ec))
      std::filesystem::remove_all(entry.path(), ec);
  }

 private:
  std::string root_;
};

#endif
