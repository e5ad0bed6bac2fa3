/* Error reports: the composed text, its log line, and the box (or none when silent). */
#include "support/report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/log.h"
#include "tests/support/log_reader.h"
#include "tests/support/message_boxes.h"
#include "tests/support/test_machine.h"

namespace {

// The system's own text for code, as this world words it ("" when it has none).
std::string SystemText(DWORD code) {
  char text[1024] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  return text;
}

const DWORD kUnknownCode = 0x0000BEEF;  // no system has a text for it

class ReportTest : public ::testing::Test {
 protected:
  void TearDown() override { SilentMode = false; }
  TestMachine machine;
  LogCapture log{machine};
  MessageBoxWatch boxes;
};

}  // namespace

TEST_F(ReportTest, ComposesMessageDetailAndSystemTextWithin1023CharactersAndItsBuffer) {
  ASSERT_FALSE(SystemText(ERROR_PATH_NOT_FOUND).empty());
  ASSERT_EQ(SystemText(kUnknownCode), "");
  const struct {
    const char* message;
    const char* detail;
    LONG code;
    std::string text;
    const char* title;  // as shown (no detail: the platform's default); null: reported silently
  } reports[] = {
      {"Error creating file ", "C:\\x\\a.txt", ERROR_PATH_NOT_FOUND,
       "Error creating file  C:\\x\\a.txt: " + SystemText(ERROR_PATH_NOT_FOUND) + "\r\n",
       "C:\\x\\a.txt"},
      {"Err unpack to", "C:\\t", E_FAIL,
       "Err unpack to C:\\t: " + SystemText((DWORD)E_FAIL) + "\r\n", "C:\\t"},
      {"Setup is corrupted", nullptr, 0, "Setup is corrupted \r\n", "Error"},
      {"Setup is corrupted", "", 0, "Setup is corrupted \r\n", ""},
      {nullptr, "only detail", 0, " only detail\r\n", "only detail"},
      {"Msg", "det", (LONG)kUnknownCode, "Msg det: \r\n", nullptr},
      {"Err save to ", "C:\\affid.txt", ERROR_FILE_EXISTS,
       "Err save to  C:\\affid.txt: " + SystemText(ERROR_FILE_EXISTS) + "\r\n", nullptr},
  };
  std::string logged, wantedLog;
  std::vector<std::pair<std::string, std::string>> wanted;
  for (const auto& r : reports) {
    SilentMode = !r.title;
    SetLastError(ERROR_LOCK_VIOLATION);
    ReportError(r.message, r.detail, r.code);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_LOCK_VIOLATION) << "a report keeps the last error";
    if (r.title) wanted.push_back({r.title, r.text});
    // The log line: the code, the text, and the line's own " \r\n".
    char code[16];
    wsprintfA(code, "[%X] ", (DWORD)r.code);
    wantedLog += code + r.text + " \r\n";
  }
  for (const std::string& line : log.Entries()) logged += line + "\r\n";  // time stamps taken out
  EXPECT_EQ(logged, wantedLog);

  // A box is shown even when its line is lost. Text is cut to 1023 characters, line end kept,
  // code or none; where message and detail fit, only the system's text is cut.
  LogFilePath[0] = '\0';
  SilentMode = false;
  std::string huge(1500, 'm'), head = std::string(1010, 'n') + " d: ";
  ReportError("Another setup is running", nullptr, 0);
  ReportError(huge.c_str(), "d", ERROR_FILE_NOT_FOUND);
  ReportError(huge.c_str(), "d", 0);
  ReportError(std::string(1010, 'n').c_str(), "d", ERROR_FILE_NOT_FOUND);
  std::string sys = SystemText(ERROR_FILE_NOT_FOUND);
  wanted.insert(wanted.end(), {{"Error", "Another setup is running \r\n"},
                               {"d", std::string(1021, 'm') + "\r\n"},
                               {"d", std::string(1021, 'm') + "\r\n"},
                               {"d", head + sys.substr(0, 1021 - head.size()) + "\r\n"}});
  std::vector<std::pair<std::string, std::string>> shown;
  for (const ShownBox& box : boxes.Boxes()) shown.push_back({box.title, box.text});
  EXPECT_EQ(shown, wanted);
#ifndef _WIN32
  EXPECT_EQ(boxes.Boxes()[0].style, (UINT)(MB_ICONERROR | MB_SYSTEMMODAL));
#endif

  // AppendSystemErrorText alone stays inside its buffer, cut or left whole.
  sys = SystemText(ERROR_ACCESS_DENIED);
  ASSERT_GT(sys.size(), 8u);
  char small[12] = "E: ", full[4] = "abc", empty[64] = "";
  AppendSystemErrorText(ERROR_ACCESS_DENIED, small, sizeof small);
  AppendSystemErrorText(ERROR_ACCESS_DENIED, empty, sizeof empty);
  AppendSystemErrorText(ERROR_ACCESS_DENIED, full, sizeof full);
  AppendSystemErrorText(ERROR_ACCESS_DENIED, nullptr, 10);  // no buffer: nothing happens
  EXPECT_EQ(std::string(small), "E: " + sys.substr(0, 8));
  EXPECT_STREQ(full, "abc");
  EXPECT_EQ(std::string(empty), sys.substr(0, 63)) << "an empty buffer takes the text too";
}
