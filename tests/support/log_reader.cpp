/* Log files in tests; see log_reader.h. */
#include "tests/support/log_reader.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "support/log.h"
#include "tests/support/test_machine.h"

namespace {

bool HasTimeStamp(const std::string& line) {
  static const char kShape[] = "00-00-00 00:00:00.000 ";
  if (line.size() < sizeof kShape - 1) return false;
  for (size_t i = 0; i < sizeof kShape - 1; ++i) {
    bool digit = std::isdigit((unsigned char)line[i]) != 0;
    if (kShape[i] == '0' ? !digit : line[i] != kShape[i]) return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> LogEntries(const std::string& path) {
  std::string raw;
  std::vector<std::string> lines;
  if (!TestMachine::ReadBytes(path, &raw)) return lines;
  for (size_t start = 0; start < raw.size();) {
    size_t end = std::min(raw.find("\r\n", start), raw.size());
    std::string line = raw.substr(start, end - start);
    lines.push_back(HasTimeStamp(line) ? line.substr(22) : line);
    start = end + 2;
  }
  return lines;
}

LogCapture::LogCapture(const TestMachine& machine) : path_(machine.Path("capture.log")) {
  DeleteFileA(path_.c_str());
  std::strcpy(LogFilePath, path_.c_str());
}

LogCapture::~LogCapture() { LogFilePath[0] = '\0'; }
