// What the soft window system does beyond the behaviour every backend shares (window_contract_test.cpp):
// the exact Windows error codes, robustness against careless callers, the taskbar, the scripted input,
// message boxes and waiting.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/Gdi.h"
#include "platform/Platform.h"
#include "platform/System.h"
#include "platform/Windows.h"
#include "platform/soft/SoftPlatform.h"
#include "platform/soft/SoftWindows.h"

using namespace plat;

namespace {

struct Seen {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<Seen>* g_log = nullptr;

// Logs every message and leaves the rest to the default procedure.
LRESULT RecordingProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (g_log) g_log->push_back({h, m, w, l});
  return Windows().DefWindowProc(h, m, w, l);
}

// Paints without validating: a careless handler.
LRESULT IgnorePaintProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_PAINT) return 0;
  return Windows().DefWindowProc(h, m, w, l);
}

// Paints properly, then asks for another paint the first time round (an animation would).
int g_paints = 0;
LRESULT RepaintOnceProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_PAINT) {
    PAINTSTRUCT ps;
    Windows().BeginPaint(h, &ps);
    Windows().EndPaint(h, &ps);
    if (++g_paints == 1) Windows().InvalidateRect(h, nullptr, 0);
    return 0;
  }
  return Windows().DefWindowProc(h, m, w, l);
}

// Destroys its window again from inside WM_DESTROY, as careless framework code might.
int g_destroys = 0, g_ncDestroys = 0;
LRESULT ReentrantDestroyProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_DESTROY) {
    ++g_destroys;
    Windows().DestroyWindow(h);
  }
  if (m == WM_NCDESTROY) ++g_ncDestroys;
  return Windows().DefWindowProc(h, m, w, l);
}

class WindowsTest : public ::testing::Test {
 protected:
  WindowsTest() : platform_(Options()) {}

  static soft::SoftOptions Options() {
    soft::SoftOptions o;
    o.screenWidth = 800;
    o.screenHeight = 600;
    return o;
  }

  void SetUp() override {
    g_log = &log_;
    WNDCLASS wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "TestWindow";
    ASSERT_NE(0, ws().RegisterClass(wc));
  }
  void TearDown() override { g_log = nullptr; }

  soft::SoftWindowSystem& ws() { return platform_.windows(); }

  HWND Top(const char* title = "top", DWORD style = WS_POPUP, DWORD exStyle = 0, HWND owner = nullptr) {
    return ws().CreateWindowEx(exStyle, "TestWindow", title, style, 0, 0, 100, 50, owner, nullptr, nullptr);
  }
  HWND Child(HWND parent, int x = 0, int y = 0, const char* title = "child") {
    return ws().CreateWindowEx(0, "TestWindow", title, WS_CHILD | WS_VISIBLE, x, y, 40, 30, parent, nullptr,
                               nullptr);
  }
  std::vector<UINT> MessagesTo(HWND h) {
    std::vector<UINT> out;
    for (const Seen& s : log_) {
      if (s.hwnd == h) out.push_back(s.message);
    }
    return out;
  }
  int Count(HWND h, UINT message) {
    int n = 0;
    for (const Seen& s : log_) n += s.hwnd == h && s.message == message;
    return n;
  }
  DWORD LastError() { return Sys().GetLastError(); }

  soft::SoftPlatform platform_;
  std::vector<Seen> log_;
};

// ---- lookups ----

TEST_F(WindowsTest, ClassNameOfBadHandleIsZeroWithLastError) {
  HWND h = Top();
  ws().DestroyWindow(h);
  char buf[8] = "keep";
  Sys().SetLastError(0);
  EXPECT_EQ(0, ws().GetClassName(h, buf, sizeof buf));
  EXPECT_EQ(ERROR_INVALID_WINDOW_HANDLE, LastError());
  EXPECT_EQ(0, ws().GetClassName(nullptr, buf, sizeof buf));
}

TEST_F(WindowsTest, DesktopShellWithoutListViewHasEmptyDefView) {
  auto shell = ws().CreateDesktopShell(nullptr);
  EXPECT_EQ(nullptr, ws().GetWindow(shell.defView, GW_CHILD));
  EXPECT_EQ(nullptr, ws().GetWindow(nullptr, GW_CHILD));
}

// ---- the window tree ----

// Keeps its window at the bottom whatever place it is asked to take.
LRESULT StayAtBottomProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_WINDOWPOSCHANGING) reinterpret_cast<WINDOWPOS*>(l)->hwndInsertAfter = HWND_BOTTOM();
  return Windows().DefWindowProc(h, m, w, l);
}

TEST_F(WindowsTest, WindowKeepsThePlaceItChoosesWhenAskedToMove) {
  WNDCLASS wc{};
  wc.lpfnWndProc = StayAtBottomProc;
  wc.lpszClassName = "Bottom";
  ASSERT_NE(0, ws().RegisterClass(wc));
  HWND low =
      ws().CreateWindowEx(0, "Bottom", "", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr, nullptr);
  HWND other = Top("other", WS_POPUP | WS_VISIBLE);
  ws().SetWindowPos(low, HWND_TOP(), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(other, ws().GetWindow(ws().GetDesktopWindow(), GW_CHILD));
  EXPECT_EQ(low, ws().GetWindow(other, GW_HWNDNEXT));
  // Activation raises the window the same way, so the window is asked too.
  ws().SetForegroundWindow(low);
  EXPECT_EQ(low, ws().GetForegroundWindow());
  EXPECT_EQ(low, ws().GetWindow(other, GW_HWNDNEXT));
}

TEST_F(WindowsTest, ScreenMetricsComeFromTheOptions) {
  EXPECT_EQ(800, ws().GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(600, ws().GetSystemMetrics(SM_CYSCREEN));
  EXPECT_EQ(32, ws().ScreenBitCount());
}

TEST_F(WindowsTest, ChildStyleWithoutParentFails) {
  EXPECT_EQ(nullptr,
            ws().CreateWindowEx(0, "TestWindow", "", WS_CHILD, 0, 0, 1, 1, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_TLW_WITH_WSCHILD, LastError());
  EXPECT_EQ(nullptr, ws().CreateWindowEx(0, "NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_CANNOT_FIND_WND_CLASS, LastError());
}

// ---- creation and destruction ----

TEST_F(WindowsTest, DestroyingAgainFromWmDestroyIsHarmless) {
  WNDCLASS wc{};
  wc.lpfnWndProc = ReentrantDestroyProc;
  wc.lpszClassName = "Reentrant";
  ws().RegisterClass(wc);
  HWND h = ws().CreateWindowEx(0, "Reentrant", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr);
  g_destroys = g_ncDestroys = 0;
  EXPECT_TRUE(ws().DestroyWindow(h));
  EXPECT_EQ(1, g_destroys);
  EXPECT_EQ(1, g_ncDestroys);
  EXPECT_FALSE(ws().IsWindow(h));
}

TEST_F(WindowsTest, ForgedAndStaleHandlesAreRefusedEverywhere) {
  HWND stale = Top();
  ws().DestroyWindow(stale);
  for (HWND bad : {stale, reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0xDEAD))}) {
    RECT r{};
    POINT p{};
    MSG m{bad, WM_USER, 0, 0, 0, {0, 0}};
    char buf[8];
    EXPECT_FALSE(ws().ShowWindow(bad, SW_SHOW));
    EXPECT_FALSE(ws().GetWindowRect(bad, &r));
    EXPECT_FALSE(ws().ClientToScreen(bad, &p));
    EXPECT_EQ(nullptr, ws().GetWindow(bad, GW_CHILD));
    EXPECT_EQ(nullptr, ws().SetParent(bad, nullptr));
    EXPECT_EQ(0, ws().SetWindowLongPtr(bad, GWL_EXSTYLE, 0x80));
    EXPECT_EQ(0, ws().SendMessage(bad, WM_USER, 0, 0));
    EXPECT_EQ(0, ws().DispatchMessage(&m));
    EXPECT_EQ(0, ws().GetWindowText(bad, buf, sizeof buf));
    EXPECT_FALSE(ws().DestroyWindow(bad));
    EXPECT_FALSE(ws().SetWindowPos(bad, nullptr, 0, 0, 1, 1, 0));
    EXPECT_EQ(ERROR_INVALID_WINDOW_HANDLE, LastError());
  }
  EXPECT_FALSE(ws().DestroyWindow(ws().GetDesktopWindow()));
}

// ---- visibility, styles and the taskbar ----

TEST_F(WindowsTest, VisibleUnownedWindowHasTaskbarButton) {
  HWND h = Top("app", WS_POPUP | WS_VISIBLE);
  EXPECT_EQ(std::vector<HWND>{h}, ws().TaskbarButtons());
  ws().ShowWindow(h, SW_HIDE);
  EXPECT_TRUE(ws().TaskbarButtons().empty());
}

TEST_F(WindowsTest, ToolWindowBitRemovesTaskbarButton) {
  HWND app = Top("app", WS_POPUP | WS_VISIBLE);
  ws().ShowWindow(app, SW_HIDE);
  const LONG ex = ws().GetWindowLong(app, GWL_EXSTYLE);
  ws().SetWindowLong(app, GWL_EXSTYLE, ex | static_cast<LONG>(WS_EX_TOOLWINDOW));
  ws().ShowWindow(app, SW_SHOW);
  EXPECT_TRUE(ws().IsWindowVisible(app));
  EXPECT_FALSE(ws().HasTaskbarButton(app));
  EXPECT_EQ(WS_EX_TOOLWINDOW, static_cast<DWORD>(ws().GetWindowLong(app, GWL_EXSTYLE)) & WS_EX_TOOLWINDOW);
}

TEST_F(WindowsTest, OwnedWindowHasNoTaskbarButtonUnlessAppWindow) {
  HWND owner = Top("owner", WS_POPUP, WS_EX_TOOLWINDOW);
  HWND form = Top("form", WS_POPUP | WS_VISIBLE, 0, owner);
  EXPECT_FALSE(ws().HasTaskbarButton(form));
  ws().SetWindowLong(form, GWL_EXSTYLE, static_cast<LONG>(WS_EX_APPWINDOW));
  EXPECT_TRUE(ws().HasTaskbarButton(form));
}

TEST_F(WindowsTest, ChildWindowsAndShellWindowsHaveNoTaskbarButton) {
  ws().CreateDesktopShell();
  HWND p = Top("p", WS_POPUP | WS_VISIBLE, WS_EX_TOOLWINDOW);
  Child(p);
  EXPECT_TRUE(ws().TaskbarButtons().empty());
}

TEST_F(WindowsTest, MovingThroughSetWindowPosReachesSizeAndMoveHandlers) {
  HWND h = Top();
  log_.clear();
  ws().SetWindowPos(h, nullptr, 10, 20, 640, 480, SWP_NOZORDER);
  const std::vector<UINT> expected{WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED, WM_SIZE, WM_MOVE};
  EXPECT_EQ(expected, MessagesTo(h));
  EXPECT_EQ(MAKELPARAM(640, 480), log_[2].lParam);
  log_.clear();
  ws().MoveWindow(h, 10, 20, 640, 480, 1);
  EXPECT_EQ(0, Count(h, WM_WINDOWPOSCHANGED));  // nothing changed
}

// ---- the message queue ----

TEST_F(WindowsTest, GetMessageOnEmptyQueueAsksTheWaitHookFirst) {
  HWND h = Top();
  int calls = 0;
  ws().SetWaitHook([&] {
    ++calls;
    ws().PostMessage(h, WM_USER, 0, 0);
  });
  MSG m;
  EXPECT_EQ(1, ws().GetMessage(&m, nullptr, 0, 0));
  EXPECT_EQ(WM_USER, m.message);
  EXPECT_EQ(1, calls);
  EXPECT_EQ(0, ws().StarvedWaits());
}

TEST_F(WindowsTest, GetMessageThatCanNeverBeAnsweredFailsInsteadOfBlocking) {
  MSG m;
  EXPECT_EQ(-1, ws().GetMessage(&m, nullptr, 0, 0));
  EXPECT_EQ(WAIT_TIMEOUT, LastError());
  EXPECT_FALSE(ws().WaitMessage());
  EXPECT_EQ(2, ws().StarvedWaits());
}

TEST_F(WindowsTest, StarvedQueueCanEndTheLoopWithQuit) {
  ws().SetQuitWhenStarved(true);
  MSG m;
  EXPECT_EQ(0, ws().GetMessage(&m, nullptr, 0, 0));
  EXPECT_EQ(WM_QUIT, m.message);
}

TEST_F(WindowsTest, TranslateMessagePostsCharacterForKey) {
  HWND h = Top();
  MSG key{h, WM_KEYDOWN, 'A', 0, 0, {0, 0}};
  EXPECT_TRUE(ws().TranslateMessage(&key));
  MSG m;
  ASSERT_TRUE(ws().PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(WM_CHAR, m.message);
  EXPECT_EQ(static_cast<WPARAM>('a'), m.wParam);
}

TEST_F(WindowsTest, PaintHandlerThatNeverValidatesDoesNotKeepTheQueueBusy) {
  WNDCLASS wc{};
  wc.lpfnWndProc = IgnorePaintProc;
  wc.lpszClassName = "Careless";
  ws().RegisterClass(wc);
  HWND h =
      ws().CreateWindowEx(0, "Careless", "", WS_POPUP | WS_VISIBLE, 0, 0, 9, 9, nullptr, nullptr, nullptr);
  MSG m;
  ASSERT_TRUE(ws().PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(h, m.hwnd);
  ws().DispatchMessage(&m);
  EXPECT_FALSE(ws().PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(WindowsTest, PaintHandlerMayAskForTheNextPaint) {
  WNDCLASS wc{};
  wc.lpfnWndProc = RepaintOnceProc;
  wc.lpszClassName = "Animated";
  ws().RegisterClass(wc);
  g_paints = 0;
  ws().CreateWindowEx(0, "Animated", "", WS_POPUP | WS_VISIBLE, 0, 0, 9, 9, nullptr, nullptr, nullptr);
  MSG m;
  while (ws().PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) ws().DispatchMessage(&m);
  EXPECT_EQ(2, g_paints);
}

TEST_F(WindowsTest, UpdateWindowPaintsAtOnceAndUpdateRegionGrowsByUnion) {
  HWND h = Top("p", WS_POPUP | WS_VISIBLE);
  ws().ValidateRect(h, nullptr);
  RECT a{1, 1, 5, 5}, b{10, 2, 20, 8}, r;
  ws().InvalidateRect(h, &a, 0);
  ws().InvalidateRect(h, &b, 0);
  ASSERT_TRUE(ws().GetUpdateRect(h, &r, 0));
  EXPECT_EQ(1, r.left);
  EXPECT_EQ(1, r.top);
  EXPECT_EQ(20, r.right);
  EXPECT_EQ(8, r.bottom);
  log_.clear();
  ws().UpdateWindow(h);
  EXPECT_EQ(1, Count(h, WM_PAINT));
  EXPECT_FALSE(ws().GetUpdateRect(h, &r, 0));
}

TEST_F(WindowsTest, BeginPaintHandsOutADeviceContextOfTheGdiService) {
  HWND h = Top("p", WS_POPUP | WS_VISIBLE);
  PAINTSTRUCT ps;
  HDC dc = ws().BeginPaint(h, &ps);
  ASSERT_NE(nullptr, dc);
  EXPECT_EQ(800, GdiSvc().GetDeviceCaps(dc, HORZRES));
  EXPECT_EQ(100, ps.rcPaint.right);
  EXPECT_TRUE(ws().EndPaint(h, &ps));
}

TEST_F(WindowsTest, HiddenWindowsAreNotPainted) {
  HWND h = Top();
  ws().InvalidateRect(h, nullptr, 1);
  MSG m;
  EXPECT_FALSE(ws().PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(WindowsTest, RightButtonUpBecomesContextMenuInScreenCoordinatesAtTheParent) {
  HWND p = ws().CreateWindowEx(0, "TestWindow", "", WS_POPUP | WS_VISIBLE, 100, 100, 300, 300, nullptr,
                               nullptr, nullptr);
  HWND c = Child(p, 10, 10);
  ws().ClickRight(c, 5, 6);
  MSG m;
  while (ws().PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) ws().DispatchMessage(&m);
  ASSERT_EQ(1, Count(p, WM_CONTEXTMENU));
  for (const Seen& s : log_) {
    if (s.hwnd == p && s.message == WM_CONTEXTMENU) {
      EXPECT_EQ(115, GET_X_LPARAM(s.lParam));
      EXPECT_EQ(116, GET_Y_LPARAM(s.lParam));
      EXPECT_EQ(reinterpret_cast<WPARAM>(c), s.wParam);
    }
  }
  POINT cursor;
  ws().GetCursorPos(&cursor);
  EXPECT_EQ(115, cursor.x);
}

// ---- keyboard cues ----

TEST_F(WindowsTest, ChangeUiStateFromChildUpdatesTheWholeTree) {
  HWND p = Top();
  HWND c = Child(p);
  ws().SendMessage(c, WM_CHANGEUISTATE, MAKEWPARAM(UIS_INITIALIZE, UISF_HIDEFOCUS | UISF_HIDEACCEL), 0);
  EXPECT_EQ(1, Count(p, WM_UPDATEUISTATE));
  EXPECT_EQ(UISF_HIDEFOCUS | UISF_HIDEACCEL, ws().UiState(p));
  EXPECT_EQ(UISF_HIDEFOCUS | UISF_HIDEACCEL, ws().UiState(c));
}

// ---- activation and focus ----

TEST_F(WindowsTest, ActivatingTheApplicationNotifiesItsTopLevelWindowsOnce) {
  ws().CreateDesktopShell();
  HWND a = Top("a");
  HWND b = Top("b", WS_POPUP | WS_VISIBLE);
  HWND c = Child(b);
  ws().ActivateApp(true);
  ws().ActivateApp(true);
  EXPECT_EQ(1, Count(a, WM_ACTIVATEAPP));
  EXPECT_EQ(1, Count(b, WM_ACTIVATEAPP));
  EXPECT_EQ(0, Count(c, WM_ACTIVATEAPP));
  ws().ActivateApp(false);
  EXPECT_EQ(2, Count(a, WM_ACTIVATEAPP));
  EXPECT_EQ(0u, log_.back().wParam);
}

TEST_F(WindowsTest, ForegroundSwitchesBetweenProgramAndShell) {
  auto shell = ws().CreateDesktopShell();
  HWND h = Top();
  ws().SetForegroundWindow(h);
  EXPECT_TRUE(ws().AppActive());
  EXPECT_EQ(h, ws().GetActiveWindow());
  ws().SetForegroundWindow(shell.progman);
  EXPECT_FALSE(ws().AppActive());
  EXPECT_EQ(nullptr, ws().GetActiveWindow());
}

TEST_F(WindowsTest, FocusMovesWithKillAndSetFocus) {
  HWND a = Top("a");
  HWND b = Top("b");
  ws().SetFocus(a);
  log_.clear();
  EXPECT_EQ(a, ws().SetFocus(b));
  ASSERT_EQ(2u, log_.size());
  EXPECT_EQ(WM_KILLFOCUS, log_[0].message);
  EXPECT_EQ(WM_SETFOCUS, log_[1].message);
  EXPECT_EQ(b, ws().GetFocus());
  ws().DestroyWindow(b);
  EXPECT_EQ(nullptr, ws().GetFocus());
}

// ---- message boxes ----

TEST_F(WindowsTest, MessageBoxIsRecordedAndAnswersItsDefaultButton) {
  HWND owner = Top();
  EXPECT_EQ(IDOK, ws().MessageBox(owner, "File not found.", "Kirno Desktop Snow", MB_OK | MB_ICONERROR));
  ASSERT_EQ(1u, ws().MessageBoxes().size());
  const auto& call = ws().MessageBoxes()[0];
  EXPECT_EQ(owner, call.owner);
  EXPECT_EQ("File not found.", call.text);
  EXPECT_EQ("Kirno Desktop Snow", call.caption);
  EXPECT_EQ(MB_OK | MB_ICONERROR, call.type);
}

TEST_F(WindowsTest, MessageBoxDefaultFollowsTheDefaultButtonFlag) {
  EXPECT_EQ(IDYES, ws().MessageBox(nullptr, "?", "c", MB_YESNO));
  EXPECT_EQ(IDNO, ws().MessageBox(nullptr, "?", "c", MB_YESNO | MB_DEFBUTTON2));
  EXPECT_EQ(IDYES, ws().MessageBox(nullptr, "?", "c", MB_YESNO | MB_DEFBUTTON4));  // no fourth button
}

TEST_F(WindowsTest, QueuedAnswerReplacesTheDefault) {
  ws().QueueMessageBoxAnswer(IDCANCEL);
  EXPECT_EQ(IDCANCEL, ws().MessageBox(nullptr, "t", "c", MB_OKCANCEL));
  EXPECT_EQ(IDOK, ws().MessageBox(nullptr, "t", "c", MB_OKCANCEL));
}

TEST_F(WindowsTest, EchoedMessageBoxPrintsCaptionAndText) {
  ws().SetEchoMessageBoxes(true);
  ::testing::internal::CaptureStderr();
  ws().MessageBox(nullptr, "Hello", "Snow", MB_OK);
  EXPECT_EQ("[Snow] Hello\n", ::testing::internal::GetCapturedStderr());
}

TEST_F(WindowsTest, MessageBoxWithBadOwnerOrTypeFails) {
  HWND gone = Top();
  ws().DestroyWindow(gone);
  EXPECT_EQ(0, ws().MessageBox(gone, "t", "c", MB_OK));
  EXPECT_EQ(0, ws().MessageBox(nullptr, "t", "c", 0xF));
  EXPECT_TRUE(ws().MessageBoxes().empty());
}

}  // namespace
