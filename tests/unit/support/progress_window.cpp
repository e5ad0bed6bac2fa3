/*
 * The progress window: the resources it is made from, what it looks like once created, the
 * updates and the queue drain behind each of them, its end, and CenterWindow. The same checks
 * run against the host layer and against the real controls under Wine. Host-only cases
 * (ProgressWindowHost) cover the work-area setting, failed creations and the terminal line.
 */
#include "support/progress_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource.h"
#include "tests/support/test_machine.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/posix/winsim.h"
#endif

namespace {

std::string Text(HWND window) {
  char buffer[256] = "unchanged";
  GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}

RECT ScreenRect(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  return r;
}

// A control's rectangle in its dialog's client coordinates.
RECT RectInDialog(HWND dialog, int id) {
  RECT r = ScreenRect(GetDlgItem(dialog, id));
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// Dialog units to pixels as the dialog manager places a control: origin and size each mapped.
RECT DialogUnits(HWND dialog, int x, int y, int cx, int cy) {
  RECT origin{x, y, 0, 0}, size{0, 0, cx, cy};
  MapDialogRect(dialog, &origin);
  MapDialogRect(dialog, &size);
  return RECT{origin.left, origin.top, origin.left + size.right, origin.top + size.bottom};
}

int Pos(HWND dialog) {
  return (int)SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0);
}

std::string Status(HWND dialog) { return Text(GetDlgItem(dialog, IDC_STATUS_TEXT)); }

bool QueueEmpty() {
  MSG msg;
  return !PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
}

RECT WorkArea() {
  RECT area{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  return area;
}

void ExpectRect(const RECT& got, const RECT& want, const char* what) {
  EXPECT_EQ(got.left, want.left) << what;
  EXPECT_EQ(got.top, want.top) << what;
  EXPECT_EQ(got.right, want.right) << what;
  EXPECT_EQ(got.bottom, want.bottom) << what;
}

void ExpectCentredIn(HWND window, const RECT& middle, const char* what) {
  RECT r = ScreenRect(window);
  LONG width = r.right - r.left, height = r.bottom - r.top;
  EXPECT_EQ(r.left, (middle.left + middle.right) / 2 - width / 2) << what;
  EXPECT_EQ(r.top, (middle.top + middle.bottom) / 2 - height / 2) << what;
}

class ProgressWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX init = {sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&init));
  }
  // Nothing a case leaves in the queue, a quit request included, reaches the next case.
  void TearDown() override {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  TestMachine machine;
};

// Little-endian reads of a resource's bytes.
struct Bytes {
  const BYTE* p;
  DWORD size;
  DWORD at = 0;
  WORD Word() {
    EXPECT_LE(at + 2, size);
    WORD v = at + 2 <= size ? (WORD)(p[at] | (p[at + 1] << 8)) : 0;
    at += 2;
    return v;
  }
  DWORD Dword() {
    WORD low = Word();
    return low | ((DWORD)Word() << 16);
  }
  std::string String() {
    std::string s;
    for (WORD c = Word(); c != 0 && at < size; c = Word()) s.push_back((char)c);
    return s;
  }
};

const BYTE* Resource(LPCSTR type, int id, DWORD* size) {
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), type);
  if (!found) return nullptr;
  *size = SizeofResource(nullptr, found);
  return static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
}

}  // namespace

// What the dialog manager can't show once the window exists: the template's own font, and the
// icon's format. The rest of the template is checked on the created window below.
TEST_F(ProgressWindowTest, TheProgramCarriesTheDialogTemplateAndTheIcon) {
  DWORD size = 0;
  const BYTE* data = Resource(RT_DIALOG, IDD_PROGRESS, &size);
  ASSERT_NE(data, nullptr) << "error " << GetLastError();
  Bytes t{data, size};
  EXPECT_EQ(t.Dword(), 0x00C000C0u) << "WS_CAPTION | DS_MODALFRAME | DS_SETFONT, classic form";
  t.at = 18 + 4;  // past the header's fixed part, the empty menu and class
  EXPECT_EQ(t.String(), "Pondwick Setup");
  EXPECT_EQ(t.Word(), 8) << "points";
  EXPECT_EQ(t.String(), "MS Sans Serif");

  const BYTE* group = Resource(RT_GROUP_ICON, IDI_SETUP, &size);
  ASSERT_NE(group, nullptr);
  ASSERT_EQ(size, 6u + 14u) << "one image";
  Bytes g{group, size};
  EXPECT_EQ(std::vector<WORD>({g.Word(), g.Word(), g.Word()}), std::vector<WORD>({0, 1, 1}));
  EXPECT_EQ(std::vector<BYTE>(group + 6, group + 9), std::vector<BYTE>({32, 32, 16}))
      << "32 by 32 in 16 colours";
  g.at = 6 + 4;
  EXPECT_EQ(g.Word(), 1) << "planes";
  EXPECT_EQ(g.Word(), 4) << "bits per pixel";
  g.at = 6 + 12;
  const BYTE* image = Resource(RT_ICON, g.Word(), &size);
  ASSERT_NE(image, nullptr);
  // A DIB with 16 palette entries, 4 bits per pixel, the colour rows and the AND mask.
  EXPECT_EQ(size, 40u + 16 * 4 + 32 * 16 + 32 * 4);
  Bytes i{image, size};
  EXPECT_EQ(std::vector<DWORD>({i.Dword(), i.Dword(), i.Dword()}),
            std::vector<DWORD>({40, 32, 64}));
  EXPECT_EQ(std::vector<WORD>({i.Word(), i.Word()}), std::vector<WORD>({1, 4}));
}

TEST_F(ProgressWindowTest, CreateMakesAHiddenCentredDialogAsTheTemplateDescribes) {
  ProgressWindow progress;
  EXPECT_EQ(progress.Handle(), nullptr);
  HWND window = progress.Create(nullptr, 0x1234);
  ASSERT_NE(window, nullptr) << "error " << GetLastError();
  EXPECT_EQ(progress.Handle(), window) << "bound to its object";

  EXPECT_FALSE(IsWindowVisible(window)) << "created hidden";
  EXPECT_EQ(Text(window), "Pondwick Setup");
  DWORD style = (DWORD)GetWindowLongA(window, GWL_STYLE);
  EXPECT_EQ(style & (WS_CAPTION | DS_MODALFRAME), (DWORD)(WS_CAPTION | DS_MODALFRAME));
  EXPECT_EQ(style & (WS_SYSMENU | WS_CHILD | WS_THICKFRAME), 0u) << "no close box, no sizing";
  EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);

  RECT client{};
  GetClientRect(window, &client);
  ExpectRect(client, DialogUnits(window, 0, 0, 185, 39), "client area of 185 by 39 units");

  HWND bar = GetDlgItem(window, IDC_PROGRESS_BAR);
  HWND status = GetDlgItem(window, IDC_STATUS_TEXT);
  ASSERT_NE(bar, nullptr);
  ASSERT_NE(status, nullptr);
  char name[64];
  GetClassNameA(bar, name, sizeof name);
  EXPECT_EQ(lstrcmpiA(name, "msctls_progress32"), 0) << name;
  GetClassNameA(status, name, sizeof name);
  EXPECT_EQ(lstrcmpiA(name, "Static"), 0) << name;
  EXPECT_EQ((DWORD)GetWindowLongA(bar, GWL_STYLE), 0x50000001u);
  EXPECT_EQ((DWORD)GetWindowLongA(status, GWL_STYLE), 0x50020000u);
  ExpectRect(RectInDialog(window, IDC_PROGRESS_BAR), DialogUnits(window, 7, 17, 171, 15), "bar");
  ExpectRect(RectInDialog(window, IDC_STATUS_TEXT), DialogUnits(window, 7, 7, 171, 8), "status");
  EXPECT_LE(RectInDialog(window, IDC_STATUS_TEXT).bottom,
            RectInDialog(window, IDC_PROGRESS_BAR).top)
      << "the status line runs above the bar";

  // What the initialization did: range, position, empty status, icons and the centring.
  PBRANGE range{-1, -1};
  SendMessageA(bar, PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 1000);
  EXPECT_EQ(Pos(window), 0);
  EXPECT_EQ(Status(window), "");
  LRESULT big = SendMessageA(window, WM_GETICON, ICON_BIG, 0);
  LRESULT small = SendMessageA(window, WM_GETICON, ICON_SMALL, 0);
  EXPECT_NE(big, 0);
  EXPECT_NE(small, 0);
  EXPECT_NE(big, small) << "one icon per size";
  ExpectCentredIn(window, WorkArea(), "centred in the work area");

  EXPECT_EQ(progress.Create(nullptr, 0), window) << "a second Create keeps the window";
}

TEST_F(ProgressWindowTest, HiddenWindowTakesEveryUpdateAndEachUpdateDrainsTheQueue) {
  ProgressWindow progress;
  HWND window = progress.Create(nullptr, 0);
  ASSERT_NE(window, nullptr);
  struct Update {
    const char* what;
    void (*apply)(ProgressWindow&);
  };
  const Update updates[] = {
      {"SetText", [](ProgressWindow& p) { p.SetText("Unpacking pondwick"); }},
      {"SetPos", [](ProgressWindow& p) { p.SetPos(250); }},
      {"SetStep", [](ProgressWindow& p) { p.SetStep(30); }},
      {"StepIt", [](ProgressWindow& p) { p.StepIt(); }},
  };
  for (const Update& u : updates) {
    ASSERT_TRUE(PostMessageA(nullptr, WM_USER + 5, 0, 0));
    ASSERT_TRUE(PostMessageA(window, WM_USER + 6, 0, 0));
    u.apply(progress);
    EXPECT_TRUE(QueueEmpty()) << u.what << " drains the queue";
    EXPECT_FALSE(IsWindowVisible(window)) << u.what;
  }
  EXPECT_EQ(Status(window), "Unpacking pondwick");
  EXPECT_EQ(Pos(window), 280) << "250 and one step of 30";

  progress.Show(true);
  EXPECT_TRUE(IsWindowVisible(window));
  progress.SetPos(2000);
  EXPECT_EQ(Pos(window), 1000) << "kept inside the range";
  progress.Show(false);
  EXPECT_FALSE(IsWindowVisible(window));
  progress.SetText("");
  EXPECT_EQ(Status(window), "");
}

TEST_F(ProgressWindowTest, StepsOf30ReachPos990AndTheNextOneStartsOverFromTheBottom) {
  ProgressWindow progress;
  HWND window = progress.Create(nullptr, 0);
  ASSERT_NE(window, nullptr);
  progress.SetStep(30);
  for (int i = 1; i <= 33; ++i) progress.StepIt();
  EXPECT_EQ(Pos(window), 990);
  progress.StepIt();
  EXPECT_EQ(Pos(window), 20) << "past 1000: back at the bottom, the overshoot carried";
}

TEST_F(ProgressWindowTest, AQuitRequestEndsTheDrainTheUpdateHappensAndTheQuitStaysPosted) {
  ProgressWindow progress;
  HWND window = progress.Create(nullptr, 0);
  ASSERT_NE(window, nullptr);
  PostMessageA(nullptr, WM_USER + 1, 1, 0);
  PostMessageA(nullptr, WM_QUIT, 7, 0);
  PostMessageA(nullptr, WM_USER + 2, 2, 0);
  progress.SetText("Copying files");
  EXPECT_EQ(Status(window), "Copying files");

  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, (UINT)WM_USER + 2) << "what followed the quit is still queued";
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, (UINT)WM_QUIT) << "posted again";
  EXPECT_EQ(msg.wParam, 7u) << "with its exit code";
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));

  PostQuitMessage(3);
  progress.SetPos(500);
  EXPECT_EQ(Pos(window), 500);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, (UINT)WM_QUIT);
  EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(ProgressWindowTest, CloseRequestsAreNotActedUpon) {
  ProgressWindow progress;
  HWND window = progress.Create(nullptr, 0);
  ASSERT_NE(window, nullptr);
  SendMessageA(window, WM_CLOSE, 0, 0);
  PostMessageA(window, WM_CLOSE, 0, 0);
  progress.SetText("still here");  // dispatches the close and the Cancel command it becomes
  progress.SetText("still here");
  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ(progress.Handle(), window);
}

TEST_F(ProgressWindowTest, DestroyEndsTheWindowAndLaterUpdatesAndTheDestructionDoNothing) {
  HWND window;
  {
    ProgressWindow progress;
    window = progress.Create(nullptr, 0);
    ASSERT_NE(window, nullptr);
    progress.Destroy();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(progress.Handle(), nullptr);
    PostMessageA(nullptr, WM_USER, 0, 0);
    progress.SetText("gone");
    progress.StepIt();
    progress.Show(true);
    progress.Destroy();
    EXPECT_TRUE(QueueEmpty()) << "updates still drain the queue";
  }  // the destruction after Destroy: nothing left to do

  // A window destroyed behind the object's back unbinds it too; two objects keep their own.
  ProgressWindow first, second;
  HWND one = first.Create(nullptr, 0);
  HWND two = second.Create(nullptr, 0);
  ASSERT_NE(one, nullptr);
  ASSERT_NE(two, nullptr);
  EXPECT_NE(one, two);
  EXPECT_EQ(first.Handle(), one);
  EXPECT_EQ(second.Handle(), two);
  DestroyWindow(one);
  EXPECT_EQ(first.Handle(), nullptr);
  EXPECT_EQ(second.Handle(), two);
  second.SetText("second");
  EXPECT_EQ(Status(two), "second");
}

TEST_F(ProgressWindowTest, CenterWindowFollowsTheOwnerTheParentAndTheWorkArea) {
  ProgressWindow owner, owned;
  HWND top = owner.Create(nullptr, 0);
  ASSERT_NE(top, nullptr);
  HWND window = owned.Create(top, 0);
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(GetWindow(window, GW_OWNER), top);
  RECT area = WorkArea();

  SetWindowPos(top, nullptr, area.left + 40, area.top + 30, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_TRUE(CenterWindow(window, nullptr));
  ExpectCentredIn(window, area, "a hidden owner gives way to the work area");
  ShowWindow(top, SW_SHOWNA);
  EXPECT_TRUE(CenterWindow(window, nullptr));
  ExpectCentredIn(window, ScreenRect(top), "centred on the visible owner");
  ShowWindow(top, SW_MINIMIZE);
  EXPECT_TRUE(CenterWindow(window, nullptr));
  ExpectCentredIn(window, area, "a minimized owner gives way to the work area");
  // An owner by the work area's bottom-right corner: the window ends on the area's edges.
  ShowWindow(top, SW_RESTORE);
  SetWindowPos(top, nullptr, area.right - 50, area.bottom - 40, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_TRUE(CenterWindow(window, nullptr));
  EXPECT_EQ(ScreenRect(window).right, area.right);
  EXPECT_EQ(ScreenRect(window).bottom, area.bottom);
  ShowWindow(top, SW_MINIMIZE);

  // Wider and taller than the work area: the left and top edges go on the area's.
  SetWindowPos(window, nullptr, 0, 0, area.right - area.left + 200, area.bottom - area.top + 100,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_TRUE(CenterWindow(window, nullptr));
  EXPECT_EQ(ScreenRect(window).left, area.left);
  EXPECT_EQ(ScreenRect(window).top, area.top);

  // A child is centred on its parent's client area, or on a sibling given as the centre.
  HWND status = GetDlgItem(top, IDC_STATUS_TEXT);
  ShowWindow(top, SW_RESTORE);
  EXPECT_TRUE(CenterWindow(status, nullptr));
  RECT client{}, r = RectInDialog(top, IDC_STATUS_TEXT);
  GetClientRect(top, &client);
  EXPECT_EQ(r.left, client.right / 2 - (r.right - r.left) / 2);
  EXPECT_EQ(r.top, client.bottom / 2 - (r.bottom - r.top) / 2);
  EXPECT_TRUE(CenterWindow(status, GetDlgItem(top, IDC_PROGRESS_BAR)));
  RECT bar = RectInDialog(top, IDC_PROGRESS_BAR);
  r = RectInDialog(top, IDC_STATUS_TEXT);
  EXPECT_EQ(r.left, (bar.left + bar.right) / 2 - (r.right - r.left) / 2);
  EXPECT_EQ(r.top, (bar.top + bar.bottom) / 2 - (r.bottom - r.top) / 2);
}

#ifndef _WIN32

TEST_F(ProgressWindowTest, HostWorkAreaComesFromTheMachineAndKeepsTheWindowInside) {
  machine.SetSetting("display", "workarea", "100,50,901,700");
  ProgressWindow progress;
  HWND window = progress.Create(nullptr, 0);
  ASSERT_NE(window, nullptr);
  ExpectRect(WorkArea(), RECT{100, 50, 901, 700}, "work area");
  ExpectCentredIn(window, RECT{100, 50, 901, 700}, "centred in the machine's work area");

  machine.SetSetting("display", "workarea", "0,0,200,600");
  EXPECT_TRUE(CenterWindow(window, nullptr));
  EXPECT_EQ(ScreenRect(window).left, 0) << "wider than the work area";
  machine.SetSetting("display", "workarea", "600,0,1024,300");
  RECT r = ScreenRect(window);
  SetWindowPos(window, nullptr, 0, 0, 100, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER);
  machine.SetSetting("display", "workarea", "0,0,1024,40");
  EXPECT_TRUE(CenterWindow(window, nullptr));
  EXPECT_EQ(ScreenRect(window).top, 0) << "taller than the work area";

  // No work area at all: the screen stands in.
  machine.SetSetting("display", "workarea", "600,0,1024,300");
  winsim::SetFault("SystemParametersInfoA", winsim::CallCount("SystemParametersInfoA") + 1,
                   ERROR_ACCESS_DENIED);
  EXPECT_TRUE(CenterWindow(window, nullptr));
  winsim::ClearFaults();
  ExpectCentredIn(window, RECT{0, 0, 1024, 768}, "centred on the screen");
}

TEST_F(ProgressWindowTest, HostFailedCreationLeavesNoWindowNoBindingAndUpdatesStillDrain) {
  {
    ProgressWindow failed;
    winsim::SetFault("CreateDialogParamA", 1, ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(failed.Create(nullptr, 0), nullptr);
    EXPECT_EQ(failed.Handle(), nullptr);
    PostMessageA(nullptr, WM_USER, 0, 0);
    failed.SetText("nowhere");
    failed.SetPos(10);
    EXPECT_TRUE(QueueEmpty());
  }
  // The next dialog of this thread binds to its own object, not to the one that failed and is
  // gone.
  ProgressWindow progress;
  HWND window = progress.Create(nullptr, 0);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(progress.Handle(), window);
  progress.SetText("bound");
  EXPECT_EQ(Status(window), "bound");

  // An icon that can't be loaded leaves that icon unset and nothing else.
  winsim::SetFault("LoadImageA", winsim::CallCount("LoadImageA") + 1,
                   ERROR_RESOURCE_DATA_NOT_FOUND);
  ProgressWindow noIcon;
  HWND plain = noIcon.Create(nullptr, 0);
  ASSERT_NE(plain, nullptr) << "a missing icon does not stop the window";
  EXPECT_EQ(SendMessageA(plain, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(SendMessageA(plain, WM_GETICON, ICON_SMALL, 0), 0);
}

// Standard error as a pseudo-terminal for the length of a case, and what was drawn on it.
class Terminal {
 public:
  Terminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
    struct winsize size {};
    size.ws_col = 100;
    size.ws_row = 24;
    ioctl(slave_, TIOCSWINSZ, &size);
    fcntl(master_, F_SETFL, O_NONBLOCK);
    saved_ = dup(STDERR_FILENO);
    dup2(slave_, STDERR_FILENO);
  }
  ~Terminal() {
    if (saved_ >= 0) {
      dup2(saved_, STDERR_FILENO);
      close(saved_);
    }
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
  }
  bool Ready() const { return saved_ >= 0; }
  // Everything drawn since the last call.
  std::string Drawn() {
    std::string all;
    char buffer[4096];
    ssize_t n;
    while ((n = read(master_, buffer, sizeof buffer)) > 0) all.append(buffer, (size_t)n);
    return all;
  }

 private:
  int master_ = -1, slave_ = -1, saved_ = -1;
};

TEST_F(ProgressWindowTest, HostTerminalShowsTheVisibleWindowAsOneLineRedrawnInPlace) {
  Terminal terminal;
  ASSERT_TRUE(terminal.Ready());
  ProgressWindow progress;
  ASSERT_NE(progress.Create(nullptr, 0), nullptr);
  progress.SetText("Preparing");
  EXPECT_EQ(terminal.Drawn(), "") << "nothing while hidden";

  progress.Show(true);
  std::string line = "[Pondwick Setup] Preparing";
  line.resize(99 - 38, ' ');  // the bar and its percentage close the line
  EXPECT_EQ(terminal.Drawn(), "\r" + line + " [" + std::string(30, '.') + "]   0%\x1b[K");

  progress.SetText("Copying files");
  progress.SetPos(400);
  std::string drawn = terminal.Drawn();
  std::string last = drawn.substr(drawn.rfind('\r'));
  EXPECT_EQ(last.substr(0, 32), "\r[Pondwick Setup] Copying files ");
  EXPECT_EQ(last.substr(last.size() - 40),
            "[" + std::string(12, '#') + std::string(18, '.') + "]  40%\x1b[K");
  EXPECT_EQ(last.size(), 1 + 99 + 3u) << "one line of the terminal's width less one";
  progress.SetPos(400);
  EXPECT_EQ(terminal.Drawn(), "") << "an unchanged line is not drawn again";

  progress.Show(false);
  EXPECT_EQ(terminal.Drawn(), "\r\x1b[K") << "erased when hidden";
  progress.Show(true);
  terminal.Drawn();
  progress.Destroy();
  EXPECT_EQ(terminal.Drawn(), "\r\x1b[K") << "erased when destroyed";
}

TEST_F(ProgressWindowTest, HostNothingIsDrawnWhenStandardErrorIsNoTerminal) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int saved = dup(STDERR_FILENO);
  dup2(fds[1], STDERR_FILENO);
  {
    ProgressWindow progress;
    progress.Create(nullptr, 0);
    progress.Show(true);
    progress.SetText("quiet");
    progress.SetPos(100);
  }
  dup2(saved, STDERR_FILENO);
  close(saved);
  close(fds[1]);
  fcntl(fds[0], F_SETFL, O_NONBLOCK);
  char c;
  EXPECT_LE(read(fds[0], &c, 1), 0);
  close(fds[0]);
}

#endif
