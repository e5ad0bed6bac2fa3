/* Reading the setup log in tests, and pointing the log at a test's own file. */
#ifndef TESTS_SUPPORT_LOG_READER_H
#define TESTS_SUPPORT_LOG_READER_H

#include <string>
#include <vector>

class TestMachine;

// The pieces of text between separators; one at the end leaves no empty piece behind it.
std::vector<std::string> Split(const std::string& text, const std::string& separator);

// The physical lines of a log file (split at CR LF), each with its leading time stamp
// "dd-mm-yy hh:mm:ss.mmm " removed where it has one.
std::vector<std::string> LogEntries(const std::string& path);

// For the lifetime of the object, log lines go to a fresh file in the test's folder, so tests of
// other modules can read what was logged without touching the machine's real log.
class LogCapture {
 public:
  explicit LogCapture(const TestMachine& machine);
  ~LogCapture();
  std::vector<std::string> Entries() const { return LogEntries(path_); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

#endif
