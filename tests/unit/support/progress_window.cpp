/* The progress window: resources, the created dialog, updates and the queue drain behind each,
 * its end, and CenterWindow. Host only: the work-area setting, failed creations, the terminal. */
#include "support/progress_window.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "resources/resource.h"
#include "tests/support/test_machine.h"

#ifndef _WIN32
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include "platform/posix/winsim.h"
#endif

namespace {

std::string Text(HWND window) {
  char buffer[256] = "unchanged";
  GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}
std::string Status(HWND dialog) { return Text(GetDlgItem(dialog, IDC_STATUS_TEXT)); }
int Bar(HWND dialog, UINT message, WPARAM wParam = 0) {
  return (int)SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, message, wParam, 0);
}
int Pos(HWND dialog) { return Bar(dialog, PBM_GETPOS); }

// What the queue holds, message and wParam in order; taken out of it.
using Messages = std::vector<std::pair<UINT, WPARAM>>;
Messages Left() {
  Messages left;
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) left.push_back({msg.message, msg.wParam});
  return left;
}

std::array<LONG, 4> Edges(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }
RECT ScreenRect(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return r;
}
RECT WorkArea() {
  RECT area{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  return area;
}

// Dialog units to pixels as the dialog manager places a control: origin and size each mapped.
RECT DialogUnits(HWND dialog, int x, int y, int cx, int cy) {
  RECT origin{x, y, 0, 0}, size{0, 0, cx, cy};
  MapDialogRect(dialog, &origin);
  MapDialogRect(dialog, &size);
  return RECT{origin.left, origin.top, origin.left + size.right, origin.top + size.bottom};
}

void ExpectCentredIn(HWND window, const RECT& middle, const char* what) {
  RECT r = ScreenRect(window);
  EXPECT_EQ(r.left, (middle.left + middle.right) / 2 - (r.right - r.left) / 2) << what;
  EXPECT_EQ(r.top, (middle.top + middle.bottom) / 2 - (r.bottom - r.top) / 2) << what;
}
// CenterWindow(window, centre) succeeds and leaves window centred in middle.
void ExpectCentres(HWND window, HWND centre, const RECT& middle, const char* what) {
  EXPECT_TRUE(CenterWindow(window, centre)) << what;
  ExpectCentredIn(window, middle, what);
}

class ProgressWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX init = {sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&init));
    window = progress.Create(nullptr, 0x1234);
    ASSERT_NE(window, nullptr) << "error " << GetLastError();
  }
  // Nothing left in the queue, a quit included, reaches the next case; a visible window would.
  void TearDown() override {
    progress.Destroy();
    Left();
  }
  TestMachine machine;
  ProgressWindow progress;
  HWND window = nullptr;
};

// A resource's bytes ("" when it is missing).
std::string Resource(LPCSTR type, int id) {
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), type);
  auto data =
      found ? static_cast<const char*>(LockResource(LoadResource(nullptr, found))) : nullptr;
  return data ? std::string(data, SizeofResource(nullptr, found)) : std::string();
}

// Little-endian fields of the given widths in bytes, from offset at on.
std::vector<DWORD> Fields(const std::string& bytes, size_t at,
                          std::initializer_list<size_t> widths) {
  std::vector<DWORD> fields;
  for (size_t width : widths) {
    DWORD value = 0;
    for (size_t i = 0; i < width; ++i, ++at)
      value |= (DWORD)(BYTE)(at < bytes.size() ? bytes[at] : 0) << (8 * i);
    fields.push_back(value);
  }
  return fields;
}

}  // namespace

// What the created window can't show (checked below): the template's own font, the icon's format.
TEST_F(ProgressWindowTest, TheProgramCarriesTheDialogTemplateAndTheIcon) {
  std::string dialog = Resource(RT_DIALOG, IDD_PROGRESS);
  EXPECT_EQ(Fields(dialog, 0, {4}), std::vector<DWORD>({0x00C000C0}))
      << "WS_CAPTION | DS_MODALFRAME | DS_SETFONT, classic form";
  // Past the header's fixed part, the empty menu and class: the caption, points and face.
  const char16_t font[] = u"Pondwick Setup\0\x08MS Sans Serif";
  EXPECT_EQ(dialog.substr(18 + 4, sizeof font),
            std::string(reinterpret_cast<const char*>(font), sizeof font));

  // One 32 by 32 image in 16 colours: header, 16 palette entries, 4-bit rows and the AND mask.
  const DWORD dib = 40 + 16 * 4 + 32 * 16 + 32 * 4;
  std::string group = Resource(RT_GROUP_ICON, IDI_SETUP);
  ASSERT_EQ(group.size(), 6u + 14u);
  EXPECT_EQ(Fields(group, 0, {2, 2, 2, 1, 1, 1, 1, 2, 2, 4}),
            std::vector<DWORD>({0, 1, 1, 32, 32, 16, 0, 1, 4, dib}));
  std::string image = Resource(RT_ICON, (int)Fields(group, 18, {2})[0]);
  EXPECT_EQ(image.size(), dib);
  EXPECT_EQ(Fields(image, 0, {4, 4, 4, 2, 2}), std::vector<DWORD>({40, 32, 64, 1, 4}));
}

TEST_F(ProgressWindowTest, CreateMakesAHiddenCentredDialogAsTheTemplateDescribes) {
  EXPECT_EQ(ProgressWindow().Handle(), nullptr);
  EXPECT_EQ(progress.Handle(), window) << "bound to its object";
  EXPECT_EQ(progress.Create(nullptr, 0), window) << "a second Create keeps the window";
  EXPECT_FALSE(IsWindowVisible(window)) << "created hidden";
  EXPECT_EQ(Text(window), "Pondwick Setup");
  DWORD style = (DWORD)GetWindowLongA(window, GWL_STYLE);
  EXPECT_EQ(style & (WS_CAPTION | DS_MODALFRAME | WS_SYSMENU | WS_CHILD | WS_THICKFRAME),
            (DWORD)(WS_CAPTION | DS_MODALFRAME))
      << "no close box, no sizing";
  RECT client{};
  GetClientRect(window, &client);
  EXPECT_EQ(Edges(client), Edges(DialogUnits(window, 0, 0, 185, 39)));

  for (auto [id, className, style, x, y, cx, cy] :
       {std::make_tuple(IDC_PROGRESS_BAR, "msctls_progress32", 0x50000001u, 7, 17, 171, 15),
        std::make_tuple(IDC_STATUS_TEXT, "Static", 0x50020000u, 7, 7, 171, 8)}) {
    HWND control = GetDlgItem(window, id);
    char name[64] = "";
    GetClassNameA(control, name, sizeof name);
    EXPECT_EQ(lstrcmpiA(name, className), 0) << name;
    EXPECT_EQ((DWORD)GetWindowLongA(control, GWL_STYLE), style) << name;
    RECT r = ScreenRect(control);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(Edges(r), Edges(DialogUnits(window, x, y, cx, cy))) << name;
  }

  EXPECT_EQ(std::vector<int>({Bar(window, PBM_GETRANGE, TRUE), Bar(window, PBM_GETRANGE, FALSE),
                              Bar(window, PBM_GETPOS)}),
            std::vector<int>({0, 1000, 0}));
  EXPECT_EQ(Status(window), "");
  LRESULT big = SendMessageA(window, WM_GETICON, ICON_BIG, 0);
  LRESULT small = SendMessageA(window, WM_GETICON, ICON_SMALL, 0);
  EXPECT_TRUE(big && small && big != small) << "one icon per size: " << big << ", " << small;
  ExpectCentredIn(window, WorkArea(), "centred in the work area");
}

TEST_F(ProgressWindowTest, EveryUpdateDrainsTheQueueUpToAQuitAndChangesItsControl) {
  using Update = std::pair<const char*, void (*)(ProgressWindow&)>;
  for (auto [what, apply] : std::initializer_list<Update>{
           {"SetText", [](ProgressWindow& p) { p.SetText("Unpacking pondwick"); }},
           {"SetPos", [](ProgressWindow& p) { p.SetPos(250); }},
           {"SetStep", [](ProgressWindow& p) { p.SetStep(30); }},
           {"StepIt", [](ProgressWindow& p) { p.StepIt(); }}}) {
    ASSERT_TRUE(PostMessageA(nullptr, WM_USER + 5, 0, 0));
    ASSERT_TRUE(PostMessageA(window, WM_USER + 6, 0, 0));
    apply(progress);
    EXPECT_TRUE(Left().empty()) << what << " drains the queue";
    EXPECT_FALSE(IsWindowVisible(window)) << what;
  }
  EXPECT_EQ(Status(window), "Unpacking pondwick");
  EXPECT_EQ(Pos(window), 280) << "250 and one step of 30";
  progress.SetPos(990);
  progress.StepIt();
  EXPECT_EQ(Pos(window), 20) << "past 1000: back at the bottom, the overshoot carried";

  progress.Show(true);
  EXPECT_TRUE(IsWindowVisible(window));
  progress.SetPos(2000);
  EXPECT_EQ(Pos(window), 1000) << "kept inside the range";
  progress.Show(false);
  EXPECT_FALSE(IsWindowVisible(window));
  progress.SetText("");
  EXPECT_EQ(Status(window), "");

  // A quit ends the drain; the update still happens, the quit is posted again behind the rest.
  for (auto [message, wParam] : Messages{{WM_USER + 1, 1}, {WM_QUIT, 7}, {WM_USER + 2, 2}})
    PostMessageA(nullptr, message, wParam, 0);
  progress.SetText("Copying files");
  EXPECT_EQ(Status(window), "Copying files");
  EXPECT_EQ(Left(), (Messages{{WM_USER + 2, 2}, {WM_QUIT, 7}}));
  PostQuitMessage(3);
  progress.SetPos(500);
  EXPECT_EQ(Pos(window), 500);
  EXPECT_EQ(Left(), (Messages{{WM_QUIT, 3}}));
}

TEST_F(ProgressWindowTest, OnlyDestroyEndsTheWindowAndLaterUpdatesDoNothing) {
  SendMessageA(window, WM_CLOSE, 0, 0);
  PostMessageA(window, WM_CLOSE, 0, 0);
  progress.SetText("still here");  // dispatches the close and the Cancel command it becomes
  progress.SetText("still here");
  EXPECT_TRUE(IsWindow(window)) << "close requests are not acted upon";
  EXPECT_EQ(progress.Handle(), window);

  progress.Destroy();
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(progress.Handle(), nullptr);
  PostMessageA(nullptr, WM_USER, 0, 0);
  progress.SetText("gone");
  progress.SetPos(10);
  progress.StepIt();
  progress.Show(true);
  progress.Destroy();
  EXPECT_TRUE(Left().empty()) << "updates still drain the queue";

  // A window destroyed behind its back unbinds the object; each object keeps and ends its own.
  HWND two = nullptr;
  {
    ProgressWindow other;
    HWND one = progress.Create(nullptr, 0);
    two = other.Create(nullptr, 0);
    ASSERT_TRUE(one && two && one != two);
    DestroyWindow(one);
    EXPECT_EQ(progress.Handle(), nullptr);
    EXPECT_EQ(other.Handle(), two);
    other.SetText("second");
    EXPECT_EQ(Status(two), "second");
  }
  EXPECT_FALSE(IsWindow(two));
}  // the fixture's object ends with no window left: nothing to do

TEST_F(ProgressWindowTest, CenterWindowFollowsTheOwnerTheParentAndTheWorkArea) {
  ProgressWindow owned;
  HWND top = window, own = owned.Create(top, 0);
  ASSERT_EQ(GetWindow(own, GW_OWNER), top);
  const RECT area = WorkArea();
  auto move = [](HWND w, int x, int y) {
    SetWindowPos(w, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  };

  move(top, area.left + 40, area.top + 30);
  ExpectCentres(own, nullptr, area, "a hidden owner gives way to the work area");
  ShowWindow(top, SW_SHOWNA);
  ExpectCentres(own, nullptr, ScreenRect(top), "centred on the visible owner");
  // An owner by the work area's bottom-right corner: the window ends on the area's edges.
  move(top, area.right - 50, area.bottom - 40);
  EXPECT_TRUE(CenterWindow(own, nullptr));
  EXPECT_EQ(std::make_pair(ScreenRect(own).right, ScreenRect(own).bottom),
            std::make_pair(area.right, area.bottom));
  ShowWindow(top, SW_MINIMIZE);
  ExpectCentres(own, nullptr, area, "a minimized owner gives way to the work area");
  ShowWindow(top, SW_RESTORE);

  HWND status = GetDlgItem(top, IDC_STATUS_TEXT), bar = GetDlgItem(top, IDC_PROGRESS_BAR);
  RECT client{};
  GetClientRect(top, &client);
  MapWindowPoints(top, nullptr, reinterpret_cast<POINT*>(&client), 2);
  ExpectCentres(status, nullptr, client, "on the parent's client area");
  ExpectCentres(status, bar, ScreenRect(bar), "on the bar");
}

#ifndef _WIN32

// The work area's own edges stop a window too big for it; without a work area, the screen's do.
TEST_F(ProgressWindowTest, HostWorkAreaFromTheMachineOrTheScreenAndFailedCreations) {
  machine.SetSetting("display", "workarea", "100,50,901,700");
  EXPECT_EQ(Edges(WorkArea()), Edges(RECT{100, 50, 901, 700}));
  ExpectCentres(window, nullptr, RECT{100, 50, 901, 700}, "centred in the machine's work area");
  machine.SetSetting("display", "workarea", "100,50,200,60");
  EXPECT_TRUE(CenterWindow(window, nullptr));
  EXPECT_EQ(std::make_pair(ScreenRect(window).left, ScreenRect(window).top),
            (std::pair<LONG, LONG>(100, 50)));
  FailNext("SystemParametersInfoA", ERROR_ACCESS_DENIED);
  ExpectCentres(window, nullptr, RECT{0, 0, 1024, 768}, "centred on the screen");

  {
    ProgressWindow failed;
    FailNext("CreateDialogParamA", ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(failed.Create(nullptr, 0), nullptr);
    EXPECT_EQ(failed.Handle(), nullptr);
  }
  // The next dialog binds to its own object, not the failed one. A missing icon stays unset.
  FailNext("LoadImageA", ERROR_RESOURCE_DATA_NOT_FOUND);
  ProgressWindow next;
  HWND plain = next.Create(nullptr, 0);
  ASSERT_NE(plain, nullptr) << "a missing icon does not stop the window";
  EXPECT_EQ(next.Handle(), plain);
  next.SetText("bound");
  EXPECT_EQ(Status(plain), "bound");
  EXPECT_EQ(SendMessageA(plain, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(SendMessageA(plain, WM_GETICON, ICON_SMALL, 0), 0);
}

// Standard error for a case: a pty 100 columns wide, or a pipe; Drawn(): written since last call.
struct StandardError {
  explicit StandardError(bool tty) {
    struct winsize size {};
    size.ws_col = 100;
    ready = (tty ? openpty(&fd[0], &fd[1], nullptr, nullptr, &size) : pipe(fd)) == 0;
    fcntl(fd[0], F_SETFL, O_NONBLOCK);
    saved = dup(STDERR_FILENO);
    if (ready) dup2(fd[1], STDERR_FILENO);
  }
  ~StandardError() {
    dup2(saved, STDERR_FILENO);
    for (int f : {saved, fd[0], fd[1]}) close(f);
  }
  std::string Drawn() {
    std::string all;
    char buffer[4096];
    for (ssize_t n; (n = read(fd[0], buffer, sizeof buffer)) > 0;) all.append(buffer, (size_t)n);
    return all;
  }
  int fd[2] = {-1, -1}, saved = -1;
  bool ready = false;
};

TEST_F(ProgressWindowTest, HostTerminalShowsTheVisibleWindowAsOneLineRedrawnInPlace) {
  StandardError terminal(true);
  ASSERT_TRUE(terminal.ready);
  progress.SetText("Preparing");
  EXPECT_EQ(terminal.Drawn(), "") << "nothing while hidden";

  // One line of the terminal's width less one: caption, status, then the bar and percentage.
  auto line = [](std::string status, size_t filled, const char* percent) {
    status.resize(99 - 17 - 38, ' ');
    return "\r[Pondwick Setup] " + status + " [" + std::string(filled, '#') +
           std::string(30 - filled, '.') + "] " + percent + "\x1b[K";
  };
  progress.Show(true);
  EXPECT_EQ(terminal.Drawn(), line("Preparing", 0, "  0%"));
  progress.SetText("Copying files");
  progress.SetPos(400);
  EXPECT_EQ(terminal.Drawn(), line("Copying files", 0, "  0%") + line("Copying files", 12, " 40%"))
      << "each change drawn";
  progress.SetText("Copying files");
  EXPECT_EQ(terminal.Drawn(), "") << "an unchanged line is not drawn again";

  progress.Show(false);
  EXPECT_EQ(terminal.Drawn(), "\r\x1b[K") << "erased when hidden";
  progress.Show(true);
  terminal.Drawn();
  progress.Destroy();
  EXPECT_EQ(terminal.Drawn(), "\r\x1b[K") << "erased when destroyed";

  StandardError notTerminal(false);
  ASSERT_TRUE(notTerminal.ready);
  ASSERT_NE(progress.Create(nullptr, 0), nullptr);
  progress.Show(true);
  progress.SetPos(100);
  progress.Destroy();
  EXPECT_EQ(notTerminal.Drawn(), "") << "nothing is drawn where standard error is no terminal";
}

#endif
