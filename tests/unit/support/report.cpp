/* Error reports: the composed text, its log line, and the box (or none when silent). */
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "support/log.h"
#include "support/report.h"
#include "tests/support/log_reader.h"
#include "tests/support/message_boxes.h"
#include "tests/support/test_machine.h"

namespace {

// The system's own text for code, as this world words it ("" when it has none).
std::string SystemText(DWORD code) {
  LPSTR text = nullptr;
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0,
      nullptr);
  std::string s = n && text ? std::string(text, n) : std::string();
  if (text) LocalFree(text);
  return s;
}

// A code that no system has a text for.
const DWORD kUnknownCode = 0x0000BEEF;

class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override { SilentMode = false; }
  void TearDown() override { SilentMode = false; }
  TestMachine machine;
};

}  // namespace

TEST_F(ReportTest, ComposesMessageDetailAndTheSystemsText) {
  LogCapture log(machine);
  MessageBoxWatch boxes;
  ASSERT_FALSE(SystemText(ERROR_PATH_NOT_FOUND).empty());
  ReportError("Error creating file ", "C:\\x\\a.txt", ERROR_PATH_NOT_FOUND);
  ReportError("Err unpack to", "C:\\t", E_FAIL);

  std::string first = "Error creating file  C:\\x\\a.txt: " + SystemText(3) + "\r\n";
  std::string second = "Err unpack to C:\\t: " + SystemText((DWORD)E_FAIL) + "\r\n";
  std::string raw;
  ASSERT_TRUE(TestMachine::ReadBytes(log.Path(), &raw));
  // The time-stamped line, then the rest of the composed text and the log line's own " \r\n".
  EXPECT_EQ(raw.substr(22, 4 + first.size() + 3), "[3] " + first + " \r\n");
  EXPECT_NE(raw.find("[80004005] " + second + " \r\n"), std::string::npos) << raw;

  std::vector<ShownBox> shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].title, "C:\\x\\a.txt") << "the detail is the title";
  EXPECT_EQ(shown[0].text, first);
  EXPECT_EQ(shown[1].text, second);
#ifndef _WIN32
  EXPECT_EQ(shown[0].style, (UINT)(MB_ICONERROR | MB_SYSTEMMODAL));
#endif
}

TEST_F(ReportTest, CodeZeroAddsNothingAndTheTitleFollowsTheDetail) {
  LogCapture log(machine);
  MessageBoxWatch boxes;
  ReportError("Setup is corrupted", nullptr, 0);
  ReportError("Setup is corrupted", "", 0);
  ReportError(nullptr, "only detail", 0);
  EXPECT_EQ(log.Entries(), std::vector<std::string>({"[0] Setup is corrupted ", " ",
                                                      "[0] Setup is corrupted ", " ",
                                                      "[0]  only detail", " "}));
  std::vector<ShownBox> shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].text, "Setup is corrupted \r\n");
  EXPECT_EQ(shown[0].title, "Error") << "no detail: the platform's default title";
  EXPECT_EQ(shown[1].title, "") << "an empty detail gives an empty title";
  EXPECT_EQ(shown[2].text, " only detail\r\n");
}

TEST_F(ReportTest, ACodeWithoutSystemTextEndsInColonSpace) {
  ASSERT_EQ(SystemText(kUnknownCode), "");
  LogCapture log(machine);
  SilentMode = true;
  ReportError("Msg", "det", (LONG)kUnknownCode);
  EXPECT_EQ(log.Entries(), std::vector<std::string>({"[BEEF] Msg det: ", " "}));

  char buffer[16] = "keep";
  AppendSystemErrorText(kUnknownCode, buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "keep");
  AppendSystemErrorText(ERROR_ACCESS_DENIED, nullptr, 10);  // no buffer: nothing happens
}

TEST_F(ReportTest, SilentModeLogsAndShowsNothing) {
  LogCapture log(machine);
  MessageBoxWatch boxes;
  SilentMode = true;
  ReportError("Err save to ", "C:\\affid.txt", ERROR_FILE_EXISTS);
  EXPECT_TRUE(boxes.Boxes().empty());
  std::vector<std::string> lines = log.Entries();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "[50] Err save to  C:\\affid.txt: " +
                          SystemText(ERROR_FILE_EXISTS).substr(
                              0, SystemText(ERROR_FILE_EXISTS).size() - 2));
}

TEST_F(ReportTest, ABoxIsShownEvenWhenTheLineIsLost) {
  LogFilePath[0] = '\0';
  MessageBoxWatch boxes;
  ReportError("Another setup is running", nullptr, 0);
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].text, "Another setup is running \r\n");
}

TEST_F(ReportTest, TheComposedTextStaysWithin1023CharactersAndEndsTheLine) {
  LogCapture log(machine);
  MessageBoxWatch boxes;
  std::string sys = SystemText(ERROR_FILE_NOT_FOUND);
  // Longer than the buffer on its own, with and without a code.
  std::string huge(1500, 'm');
  ReportError(huge.c_str(), "d", ERROR_FILE_NOT_FOUND);
  ReportError(huge.c_str(), "d", 0);
  // Message and detail fit, but the system's text does not: it is cut.
  std::string almost(1010, 'n');
  ReportError(almost.c_str(), "d", ERROR_FILE_NOT_FOUND);

  std::vector<ShownBox> shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 3u);
  for (const ShownBox& box : shown) {
    EXPECT_EQ(box.text.size(), 1023u);
    EXPECT_EQ(box.text.substr(box.text.size() - 2), "\r\n");
  }
  EXPECT_EQ(shown[0].text, std::string(1021, 'm') + "\r\n");
  std::string head = almost + " d: ";
  EXPECT_EQ(shown[2].text, head + sys.substr(0, 1021 - head.size()) + "\r\n");
  SetLastError(ERROR_LOCK_VIOLATION);
  SilentMode = true;
  ReportError("x", "y", ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_LOCK_VIOLATION) << "a report keeps the last error";
}

TEST_F(ReportTest, AppendSystemErrorTextStaysInsideItsBuffer) {
  std::string sys = SystemText(ERROR_ACCESS_DENIED);
  ASSERT_GT(sys.size(), 8u);
  char buffer[12];
  strcpy(buffer, "E: ");
  AppendSystemErrorText(ERROR_ACCESS_DENIED, buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer), "E: " + sys.substr(0, 8));

  char full[4] = "abc";
  AppendSystemErrorText(ERROR_ACCESS_DENIED, full, sizeof full);
  EXPECT_STREQ(full, "abc");

  char roomy[256] = "";
  AppendSystemErrorText(ERROR_ACCESS_DENIED, roomy, sizeof roomy);
  EXPECT_EQ(std::string(roomy), sys) << "the text comes unchanged, its line end included";
}
