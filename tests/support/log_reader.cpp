/* Log files in tests; see log_reader.h. */
#include "tests/support/log_reader.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "support/log.h"
#include "tests/support/test_machine.h"

// Whether line starts with a time stamp "dd-mm-yy hh:mm:ss.mmm ".
static bool HasTimeStamp(const std::string& line) {
  const char kShape[] = "00-00-00 00:00:00.000 ";
  for (size_t i = 0; i < sizeof kShape - 1; ++i)
    if (i == line.size() ||
        (kShape[i] == '0' ? !std::isdigit((unsigned char)line[i]) : line[i] != kShape[i]))
      return false;
  return true;
}

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> pieces;
  for (size_t at = 0; at < text.size();) {
    size_t end = std::min(text.find(separator, at), text.size());
    pieces.push_back(text.substr(at, end - at));
    at = end + separator.size();
  }
  return pieces;
}

std::vector<std::string> LogEntries(const std::string& path) {
  std::string raw;
  TestMachine::ReadBytes(path, &raw);
  std::vector<std::string> lines = Split(raw, "\r\n");
  for (std::string& line : lines)
    if (HasTimeStamp(line)) line.erase(0, 22);
  return lines;
}

LogCapture::LogCapture(const TestMachine& machine) : path_(machine.Path("capture.log")) {
  DeleteFileA(path_.c_str());
  std::strcpy(LogFilePath, path_.c_str());
}

LogCapture::~LogCapture() { LogFilePath[0] = '\0'; }
