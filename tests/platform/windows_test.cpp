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
void* g_createParam = nullptr;

// Logs every message and leaves the rest to the default procedure.
LRESULT RecordingProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (g_log) g_log->push_back({h, m, w, l});
  if (m == WM_CREATE) g_createParam = reinterpret_cast<const CREATESTRUCT*>(l)->lpCreateParams;
  return Windows().DefWindowProc(h, m, w, l);
}

// A subclass that tags WM_USER before handing over to the original procedure.
WNDPROC g_original = nullptr;
int g_subclassHits = 0;
LRESULT SubclassProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_USER) ++g_subclassHits;
  return Windows().CallWindowProc(g_original, h, m, w, l);
}

LRESULT RefuseCreationProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_CREATE) return -1;
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

// ---- class names into a caller's buffer ----

TEST_F(WindowsTest, ClassNameFitsWithItsTerminator) {
  HWND h = Top();
  char buf[16];
  EXPECT_EQ(10, ws().GetClassName(h, buf, sizeof buf));
  EXPECT_STREQ("TestWindow", buf);
}

TEST_F(WindowsTest, ClassNameIntoBufferOfOneGivesOnlyTheTerminator) {
  HWND h = Top();
  char buf[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(0, ws().GetClassName(h, buf, 1));
  EXPECT_EQ('\0', buf[0]);
  EXPECT_EQ('x', buf[1]);
}

TEST_F(WindowsTest, ClassNameOfExactBufferLengthLosesItsLastCharacter) {
  HWND h = Top();
  char buf[16];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(9, ws().GetClassName(h, buf, 10));
  EXPECT_STREQ("TestWindo", buf);
  EXPECT_EQ('x', buf[10]);
}

TEST_F(WindowsTest, FortyCharacterClassNameIntoBufferOf39GivesThirtyEight) {
  const std::string name(40, 'L');
  WNDCLASS wc{};
  wc.lpfnWndProc = RecordingProc;
  wc.lpszClassName = name.c_str();
  ASSERT_NE(0, ws().RegisterClass(wc));
  HWND h = ws().CreateWindowEx(0, name.c_str(), "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr);
  char buf[40];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(38, ws().GetClassName(h, buf, 39));
  EXPECT_EQ(std::string(38, 'L'), std::string(buf));
  EXPECT_EQ('x', buf[39]);
}

TEST_F(WindowsTest, ClassNameOfBadHandleIsZeroWithLastError) {
  HWND h = Top();
  ws().DestroyWindow(h);
  char buf[8] = "keep";
  Sys().SetLastError(0);
  EXPECT_EQ(0, ws().GetClassName(h, buf, sizeof buf));
  EXPECT_EQ(ERROR_INVALID_WINDOW_HANDLE, LastError());
  EXPECT_EQ(0, ws().GetClassName(nullptr, buf, sizeof buf));
}

// ---- finding top-level windows ----

TEST_F(WindowsTest, FindWindowIgnoresLetterCaseOfClassName) {
  auto shell = ws().CreateDesktopShell();
  EXPECT_EQ(shell.progman, ws().FindWindow("ProgMan", nullptr));
  EXPECT_EQ(shell.progman, ws().FindWindow("PROGMAN", nullptr));
}

TEST_F(WindowsTest, FindWindowMatchesTitleOnlyWhenGiven) {
  HWND h = Top("Snow");
  EXPECT_EQ(h, ws().FindWindow("testwindow", nullptr));
  EXPECT_EQ(h, ws().FindWindow("TestWindow", "snow"));
  EXPECT_EQ(nullptr, ws().FindWindow("TestWindow", "Rain"));
}

TEST_F(WindowsTest, FindWindowDoesNotLookAtChildWindows) {
  auto shell = ws().CreateDesktopShell();
  EXPECT_NE(nullptr, shell.listView);
  EXPECT_EQ(nullptr, ws().FindWindow("SysListView32", nullptr));
}

TEST_F(WindowsTest, DesktopShellIsReachedThroughFirstChildren) {
  auto shell = ws().CreateDesktopShell();
  HWND c = ws().GetWindow(ws().FindWindow("ProgMan", nullptr), GW_CHILD);
  HWND v = ws().GetWindow(c, GW_CHILD);
  char buf[40];
  ws().GetClassName(v, buf, 39);
  EXPECT_STREQ("SysListView32", buf);
  EXPECT_EQ(shell.listView, v);
}

TEST_F(WindowsTest, DesktopShellWithoutListViewHasEmptyDefView) {
  auto shell = ws().CreateDesktopShell(nullptr);
  EXPECT_EQ(nullptr, ws().GetWindow(shell.defView, GW_CHILD));
  EXPECT_EQ(nullptr, ws().GetWindow(nullptr, GW_CHILD));
}

// ---- the window tree ----

TEST_F(WindowsTest, FirstChildIsTheMostRecentlyCreated) {
  HWND p = Top();
  HWND a = Child(p);
  HWND b = Child(p);
  EXPECT_EQ(b, ws().GetWindow(p, GW_CHILD));
  EXPECT_EQ(a, ws().GetWindow(b, GW_HWNDNEXT));
  EXPECT_EQ(nullptr, ws().GetWindow(a, GW_HWNDNEXT));
}

TEST_F(WindowsTest, SetWindowPosReordersSiblings) {
  HWND p = Top();
  HWND a = Child(p);
  HWND b = Child(p);
  ws().SetWindowPos(b, HWND_BOTTOM(), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(a, ws().GetWindow(p, GW_CHILD));
  ws().SetWindowPos(b, HWND_TOP(), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  EXPECT_EQ(b, ws().GetWindow(p, GW_CHILD));
}

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

TEST_F(WindowsTest, SetParentMovesWindowToTopOfNewParent) {
  HWND oldParent = Top("a");
  HWND newParent = Top("b");
  HWND other = Child(newParent);
  HWND c = Child(oldParent);
  EXPECT_EQ(oldParent, ws().SetParent(c, newParent));
  EXPECT_EQ(newParent, ws().GetParent(c));
  EXPECT_EQ(c, ws().GetWindow(newParent, GW_CHILD));
  EXPECT_EQ(other, ws().GetWindow(c, GW_HWNDNEXT));
  EXPECT_EQ(nullptr, ws().GetWindow(oldParent, GW_CHILD));
  EXPECT_TRUE(ws().IsChild(newParent, c));
  EXPECT_FALSE(ws().IsChild(oldParent, c));
}

TEST_F(WindowsTest, SetParentOfTopLevelWindowReturnsTheDesktop) {
  auto shell = ws().CreateDesktopShell();
  HWND form = Top();
  EXPECT_EQ(ws().GetDesktopWindow(), ws().SetParent(form, shell.listView));
  EXPECT_EQ(ws().FindWindow("Progman", nullptr), ws().GetAncestor(form, GA_ROOT));
}

TEST_F(WindowsTest, SetParentRefusesToMakeAWindowItsOwnDescendant) {
  HWND p = Top();
  HWND c = Child(p);
  EXPECT_EQ(nullptr, ws().SetParent(p, c));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, LastError());
  EXPECT_EQ(c, ws().GetWindow(p, GW_CHILD));
}

TEST_F(WindowsTest, ChildPositionIsRelativeToParentClientArea) {
  HWND p = ws().CreateWindowEx(0, "TestWindow", "", WS_POPUP, 100, 200, 300, 300, nullptr, nullptr, nullptr);
  HWND c = Child(p, 10, 20);
  POINT pt{1, 2};
  ASSERT_TRUE(ws().ClientToScreen(c, &pt));
  EXPECT_EQ(111, pt.x);
  EXPECT_EQ(222, pt.y);
  RECT r;
  ws().GetWindowRect(c, &r);
  EXPECT_EQ(110, r.left);
  EXPECT_EQ(150, r.right);
  ws().GetClientRect(c, &r);
  EXPECT_EQ(0, r.left);
  EXPECT_EQ(30, r.bottom);
}

TEST_F(WindowsTest, ScreenMetricsComeFromTheOptions) {
  EXPECT_EQ(800, ws().GetSystemMetrics(SM_CXSCREEN));
  EXPECT_EQ(600, ws().GetSystemMetrics(SM_CYSCREEN));
  EXPECT_EQ(32, ws().ScreenBitCount());
}

TEST_F(WindowsTest, ParentOfPopupIsItsOwnerAndOfOverlappedWindowNone) {
  HWND owner = Top("owner");
  HWND popup = Top("popup", WS_POPUP, 0, owner);
  HWND overlapped = Top("overlapped", WS_OVERLAPPED, 0, owner);
  EXPECT_EQ(owner, ws().GetParent(popup));
  EXPECT_EQ(nullptr, ws().GetParent(overlapped));
  EXPECT_EQ(owner, ws().GetWindow(overlapped, GW_OWNER));
}

TEST_F(WindowsTest, ChildStyleWithoutParentFails) {
  EXPECT_EQ(nullptr,
            ws().CreateWindowEx(0, "TestWindow", "", WS_CHILD, 0, 0, 1, 1, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_TLW_WITH_WSCHILD, LastError());
  EXPECT_EQ(nullptr, ws().CreateWindowEx(0, "NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr));
  EXPECT_EQ(ERROR_CANNOT_FIND_WND_CLASS, LastError());
}

// ---- creation and destruction ----

TEST_F(WindowsTest, CreationPassesTheCreateParameterAndSendsSizeAndMove) {
  int tag = 0;
  HWND h = ws().CreateWindowEx(0, "TestWindow", "t", WS_POPUP, 5, 6, 70, 80, nullptr, nullptr, &tag);
  const std::vector<UINT> expected{WM_NCCREATE, WM_CREATE, WM_SIZE, WM_MOVE};
  EXPECT_EQ(expected, MessagesTo(h));
  EXPECT_EQ(&tag, g_createParam);
  EXPECT_EQ(MAKELPARAM(70, 80), log_[2].lParam);
  EXPECT_EQ(MAKEPOINTLPARAM(5, 6), log_[3].lParam);
}

TEST_F(WindowsTest, WmCreateReturningMinusOneFailsCreation) {
  WNDCLASS wc{};
  wc.lpfnWndProc = RefuseCreationProc;
  wc.lpszClassName = "Refuser";
  ws().RegisterClass(wc);
  EXPECT_EQ(nullptr, ws().CreateWindowEx(0, "Refuser", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr));
  EXPECT_EQ(nullptr, ws().FindWindow("Refuser", nullptr));
}

TEST_F(WindowsTest, DestroySendsDestroyBeforeChildrenAndNcDestroyAfter) {
  HWND p = Top();
  HWND c = Child(p);
  log_.clear();
  ASSERT_TRUE(ws().DestroyWindow(p));
  ASSERT_EQ(4u, log_.size());
  EXPECT_EQ(p, log_[0].hwnd);
  EXPECT_EQ(WM_DESTROY, log_[0].message);
  EXPECT_EQ(c, log_[1].hwnd);
  EXPECT_EQ(WM_DESTROY, log_[1].message);
  EXPECT_EQ(c, log_[2].hwnd);
  EXPECT_EQ(WM_NCDESTROY, log_[2].message);
  EXPECT_EQ(p, log_[3].hwnd);
  EXPECT_EQ(WM_NCDESTROY, log_[3].message);
  EXPECT_FALSE(ws().IsWindow(p));
  EXPECT_FALSE(ws().IsWindow(c));
}

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

TEST_F(WindowsTest, DestroyingOwnerDestroysOwnedWindows) {
  HWND owner = Top("owner");
  HWND owned = Top("owned", WS_POPUP, 0, owner);
  EXPECT_EQ(owner, ws().GetWindow(owned, GW_OWNER));
  ws().DestroyWindow(owner);
  EXPECT_FALSE(ws().IsWindow(owned));
}

TEST_F(WindowsTest, CloseThroughDefaultProcedureDestroysWindow) {
  HWND h = Top();
  ws().SendMessage(h, WM_CLOSE, 0, 0);
  EXPECT_FALSE(ws().IsWindow(h));
}

TEST_F(WindowsTest, MessagesPostedToADestroyedWindowAreDropped) {
  HWND h = Top();
  ws().PostMessage(h, WM_USER, 0, 0);
  ws().DestroyWindow(h);
  MSG m;
  EXPECT_FALSE(ws().PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_FALSE(ws().PostMessage(h, WM_USER, 0, 0));
}

TEST_F(WindowsTest, ClassWithWindowsCannotBeUnregistered) {
  HWND h = Top();
  EXPECT_FALSE(ws().UnregisterClass("testwindow", nullptr));
  EXPECT_EQ(ERROR_CLASS_HAS_WINDOWS, LastError());
  ws().DestroyWindow(h);
  EXPECT_TRUE(ws().UnregisterClass("testwindow", nullptr));
  WNDCLASS wc{};
  EXPECT_FALSE(ws().GetClassInfo(nullptr, "TestWindow", &wc));
}

TEST_F(WindowsTest, RegisteringAClassTwiceFailsWhateverTheCase) {
  WNDCLASS wc{};
  wc.lpfnWndProc = RecordingProc;
  wc.lpszClassName = "TESTWINDOW";
  EXPECT_EQ(0, ws().RegisterClass(wc));
  EXPECT_EQ(ERROR_CLASS_ALREADY_EXISTS, LastError());
}

// ---- visibility, styles and the taskbar ----

TEST_F(WindowsTest, ShowWindowReturnsPreviousVisibility) {
  HWND h = Top();
  EXPECT_FALSE(ws().ShowWindow(h, SW_SHOW));
  EXPECT_TRUE(ws().IsWindowVisible(h));
  EXPECT_TRUE(ws().ShowWindow(h, SW_SHOW));
  EXPECT_TRUE(ws().ShowWindow(h, SW_HIDE));
  EXPECT_FALSE(ws().IsWindowVisible(h));
  EXPECT_EQ(2, Count(h, WM_SHOWWINDOW));  // only real changes are announced
}

TEST_F(WindowsTest, VisibleChildOfHiddenParentIsNotVisible) {
  HWND p = Top();
  HWND c = Child(p);
  EXPECT_FALSE(ws().IsWindowVisible(c));
  ws().ShowWindow(p, SW_SHOW);
  EXPECT_TRUE(ws().IsWindowVisible(c));
}

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

TEST_F(WindowsTest, SetWindowPosCanShowAndHide) {
  HWND h = Top();
  ws().SetWindowPos(h, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
  EXPECT_TRUE(ws().IsWindowVisible(h));
  ws().SetWindowPos(h, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_HIDEWINDOW);
  EXPECT_FALSE(ws().IsWindowVisible(h));
}

TEST_F(WindowsTest, EnableWindowReturnsWhetherItWasDisabled) {
  HWND h = Top();
  EXPECT_FALSE(ws().EnableWindow(h, 0));
  EXPECT_FALSE(ws().IsWindowEnabled(h));
  EXPECT_TRUE(ws().EnableWindow(h, 1));
  EXPECT_TRUE(ws().IsWindowEnabled(h));
  EXPECT_EQ(2, Count(h, WM_ENABLE));
}

TEST_F(WindowsTest, StyleChangeIsAnnouncedAndReturnsPreviousValue) {
  HWND h = Top("x", WS_POPUP, WS_EX_APPWINDOW);
  log_.clear();
  EXPECT_EQ(static_cast<LONG>(WS_EX_APPWINDOW), ws().SetWindowLong(h, GWL_EXSTYLE, WS_EX_TOOLWINDOW));
  const std::vector<UINT> expected{WM_STYLECHANGING, WM_STYLECHANGED};
  EXPECT_EQ(expected, MessagesTo(h));
  EXPECT_EQ(static_cast<WPARAM>(static_cast<LONG_PTR>(GWL_EXSTYLE)), log_[1].wParam);
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

TEST_F(WindowsTest, UserDataAndPropertiesStayWithTheWindow) {
  HWND h = Top();
  EXPECT_EQ(0, ws().SetWindowLongPtr(h, GWLP_USERDATA, 1234));
  EXPECT_EQ(1234, ws().GetWindowLongPtr(h, GWLP_USERDATA));
  int obj = 0;
  ws().SetProp(h, "Owner", &obj);
  EXPECT_EQ(&obj, ws().GetProp(h, "OWNER"));
  EXPECT_EQ(&obj, ws().RemoveProp(h, "owner"));
  EXPECT_EQ(nullptr, ws().GetProp(h, "owner"));
  EXPECT_EQ(0, ws().GetWindowLongPtr(h, 64));
  EXPECT_EQ(ERROR_INVALID_INDEX, LastError());
}

TEST_F(WindowsTest, WindowTextFollowsTheBufferRule) {
  HWND h = Top("Kirno");
  ws().SetWindowText(h, "Kirno Desktop Snow");
  EXPECT_EQ(18, ws().GetWindowTextLength(h));
  char buf[6];
  EXPECT_EQ(5, ws().GetWindowText(h, buf, sizeof buf));
  EXPECT_STREQ("Kirno", buf);
}

// ---- the message queue ----

TEST_F(WindowsTest, PostedMessagesArriveInOrder) {
  HWND h = Top();
  ws().PostMessage(h, WM_USER + 1, 0, 0);
  ws().PostMessage(nullptr, WM_USER + 2, 0, 0);
  ws().PostMessage(h, WM_USER + 3, 0, 0);
  MSG m;
  std::vector<UINT> got;
  while (ws().PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) got.push_back(m.message);
  const std::vector<UINT> expected{WM_USER + 1, WM_USER + 2, WM_USER + 3};
  EXPECT_EQ(expected, got);
}

TEST_F(WindowsTest, PeekWithoutRemoveLeavesTheMessageQueued) {
  HWND h = Top();
  ws().PostMessage(h, WM_USER, 7, 8);
  MSG m;
  ASSERT_TRUE(ws().PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(1u, ws().QueuedMessageCount());
  ASSERT_TRUE(ws().PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(h, m.hwnd);
  EXPECT_EQ(7u, m.wParam);
  EXPECT_EQ(8, m.lParam);
  EXPECT_EQ(0u, ws().QueuedMessageCount());
}

TEST_F(WindowsTest, PeekHonoursWindowAndRangeFilters) {
  HWND a = Top("a");
  HWND child = Child(a);
  HWND b = Top("b");
  ws().PostMessage(b, WM_USER, 0, 0);
  ws().PostMessage(child, WM_APP, 0, 0);
  MSG m;
  ASSERT_TRUE(ws().PeekMessage(&m, a, 0, 0, PM_REMOVE));
  EXPECT_EQ(child, m.hwnd);  // a window's filter takes its descendants' messages
  EXPECT_FALSE(ws().PeekMessage(&m, nullptr, WM_APP, WM_APP, PM_REMOVE));
  EXPECT_TRUE(ws().PeekMessage(&m, nullptr, WM_USER, WM_USER, PM_REMOVE));
}

TEST_F(WindowsTest, QuitComesAfterPostedMessagesAndEndsGetMessage) {
  HWND h = Top();
  ws().PostQuitMessage(3);
  ws().PostMessage(h, WM_USER, 0, 0);
  MSG m;
  EXPECT_EQ(1, ws().GetMessage(&m, nullptr, 0, 0));
  EXPECT_EQ(WM_USER, m.message);
  EXPECT_EQ(0, ws().GetMessage(&m, nullptr, 0, 0));
  EXPECT_EQ(WM_QUIT, m.message);
  EXPECT_EQ(3u, m.wParam);
  EXPECT_FALSE(ws().QuitPending());
}

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

TEST_F(WindowsTest, SendMessageCallsTheProcedureWithoutQueueing) {
  HWND h = Top();
  log_.clear();
  ws().SendMessage(h, WM_USER, 1, 2);
  EXPECT_EQ(1, Count(h, WM_USER));
  EXPECT_EQ(0u, ws().QueuedMessageCount());
}

TEST_F(WindowsTest, DispatchReachesSubclassedProcedureWhichChainsToTheOriginal) {
  HWND h = Top();
  g_original = reinterpret_cast<WNDPROC>(
      ws().SetWindowLongPtr(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProc)));
  EXPECT_EQ(&RecordingProc, g_original);
  g_subclassHits = 0;
  log_.clear();
  ws().PostMessage(h, WM_USER, 0, 0);
  MSG m;
  ASSERT_EQ(1, ws().GetMessage(&m, nullptr, 0, 0));
  ws().DispatchMessage(&m);
  EXPECT_EQ(1, g_subclassHits);
  EXPECT_EQ(1, Count(h, WM_USER));
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

TEST_F(WindowsTest, PaintComesOnlyWhenNothingElseIsQueuedAndStopsOnceValidated) {
  HWND h = Top("p", WS_POPUP | WS_VISIBLE);
  ws().PostMessage(h, WM_USER, 0, 0);
  MSG m;
  ASSERT_TRUE(ws().PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(WM_USER, m.message);
  ASSERT_TRUE(ws().PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(WM_PAINT, m.message);
  ws().DispatchMessage(&m);  // the default procedure validates
  EXPECT_FALSE(ws().PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
  ws().InvalidateRect(h, nullptr, 0);
  EXPECT_TRUE(ws().PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE));
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
