// The X11 window manager against a real X server (Xvfb, started for this program; the tests skip when it
// is not installed): windows and their hints, the desktop's window as the shell's icon view, presenting
// the screen buffer, the refresh wait, input and signals as messages.
#ifdef DS_HAVE_X11

// GoogleTest first: Xlib's macros (None, Bool, Status ...) must not reach its headers.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/Windows.h"
#include "platform/x11/X11Api.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Platform.h"
#include "platform/x11/X11Presenter.h"
#include "platform/x11/X11Windows.h"
#include "support/Xvfb.h"

namespace {

using namespace plat;

::testing::Environment* const g_xvfb = ::testing::AddGlobalTestEnvironment(new support::Xvfb);

LRESULT Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
  return Windows().DefWindowProc(h, m, w, l);
}

class X11Windows : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!support::Xvfb::Running()) GTEST_SKIP() << "Xvfb is not installed";
    other_ = XOpenDisplay(nullptr);
    ASSERT_TRUE(other_);
  }
  void TearDown() override {
    platform_.reset();
    if (other_) XCloseDisplay(other_);
  }
  void Open() {
    std::string why;
    platform_ = x11::X11Platform::Open(DesktopOptions{}, &why);
    ASSERT_TRUE(platform_) << why;
    WNDCLASS wc{};
    wc.lpfnWndProc = &Proc;
    wc.lpszClassName = "TestWindow";
    ASSERT_NE(0, ws().RegisterClass(wc));
  }
  x11::X11WindowSystem& ws() { return platform_->windows(); }
  ::Window Xid(HWND h) { return ws().NativeOf(h); }
  HWND Make(DWORD style, int x, int y, int w, int h, HWND parentOrOwner = nullptr, DWORD exStyle = 0) {
    return ws().CreateWindowEx(exStyle, "TestWindow", "test", style, x, y, w, h, parentOrOwner, nullptr,
                               nullptr);
  }
  // Atoms of a window's list property, as seen by another client.
  std::vector<std::string> AtomList(::Window w, const char* property) {
    XSync(platform_->connection().display(), False);
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char* data = nullptr;
    std::vector<std::string> out;
    if (XGetWindowProperty(other_, w, XInternAtom(other_, property, False), 0, 64, False, XA_ATOM, &type,
                           &format, &n, &after, &data) == Success &&
        data) {
      for (unsigned long i = 0; i < n; ++i) {
        char* name = XGetAtomName(other_, reinterpret_cast<Atom*>(data)[i]);
        out.push_back(name);
        XFree(name);
      }
      XFree(data);
    }
    return out;
  }
  bool Has(const std::vector<std::string>& list, const char* name) {
    for (const std::string& s : list)
      if (s == name) return true;
    return false;
  }
  ::Window ParentOf(::Window w) {
    XSync(platform_->connection().display(), False);
    ::Window root = 0, parent = 0, *kids = nullptr;
    unsigned n = 0;
    if (XQueryTree(other_, w, &root, &parent, &kids, &n) && kids) XFree(kids);
    return parent;
  }
  // Takes in what the display sends until `done` holds or a second passed.
  template <class F>
  bool PumpUntil(F done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    MSG m;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      ws().PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }
  bool NextMessage(UINT message, MSG& out) {
    return PumpUntil([&] { return ws().PeekMessage(&out, nullptr, message, message, PM_REMOVE) != 0; });
  }

  Display* other_ = nullptr;
  std::unique_ptr<x11::X11Platform> platform_;
};

TEST_F(X11Windows, ABorderlessScreenSizedWindowIsABackdrop) {
  Open();
  HWND h = Make(WS_POPUP | WS_VISIBLE, 0, 0, 640, 480);
  ASSERT_TRUE(h);
  const ::Window x = Xid(h);
  const auto state = AtomList(x, "_NET_WM_STATE");
  EXPECT_TRUE(Has(state, "_NET_WM_STATE_BELOW"));
  EXPECT_TRUE(Has(state, "_NET_WM_STATE_SKIP_TASKBAR"));
  EXPECT_TRUE(Has(state, "_NET_WM_STATE_SKIP_PAGER"));
  XWMHints* hints = XGetWMHints(other_, x);
  ASSERT_TRUE(hints);
  EXPECT_TRUE(hints->flags & InputHint);
  EXPECT_FALSE(hints->input) << "a click must never give it the focus (and raise it)";
  XFree(hints);
}

TEST_F(X11Windows, ACaptionedOwnedWindowHasAFrameButNoTaskbarButton) {
  Open();
  HWND owner = Make(WS_POPUP | WS_CAPTION | WS_VISIBLE, 10, 10, 100, 50);
  HWND dialog = Make(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 20, 20, 100, 50, owner);
  ASSERT_TRUE(owner && dialog);
  EXPECT_FALSE(Has(AtomList(Xid(owner), "_NET_WM_STATE"), "_NET_WM_STATE_SKIP_TASKBAR"));
  const auto state = AtomList(Xid(dialog), "_NET_WM_STATE");
  EXPECT_TRUE(Has(state, "_NET_WM_STATE_SKIP_TASKBAR"));
  EXPECT_FALSE(Has(state, "_NET_WM_STATE_BELOW"));
  EXPECT_TRUE(Has(AtomList(Xid(dialog), "_NET_WM_WINDOW_TYPE"), "_NET_WM_WINDOW_TYPE_DIALOG"));
  ::Window transientFor = 0;
  EXPECT_TRUE(XGetTransientForHint(other_, Xid(dialog), &transientFor));
  EXPECT_EQ(Xid(owner), transientFor);
}

TEST_F(X11Windows, ChildWindowsAreSubwindowsAndFollowSetParent) {
  Open();
  HWND a = Make(WS_POPUP | WS_VISIBLE, 0, 0, 200, 100);
  HWND b = Make(WS_POPUP | WS_VISIBLE, 300, 0, 200, 100);
  HWND child = Make(WS_CHILD | WS_VISIBLE, 5, 5, 50, 50, a);
  ASSERT_TRUE(child);
  EXPECT_EQ(Xid(a), ParentOf(Xid(child)));
  ws().SetParent(child, b);
  EXPECT_EQ(Xid(b), ParentOf(Xid(child)));
  XWindowAttributes attrs{};
  XSync(platform_->connection().display(), False);
  ASSERT_TRUE(XGetWindowAttributes(other_, Xid(child), &attrs));
  EXPECT_EQ(IsViewable, attrs.map_state);
  ws().DestroyWindow(a);
  EXPECT_TRUE(ws().IsWindow(child)) << "it lives in b now";
}

TEST_F(X11Windows, TheDesktopsWindowIsTheShellsIconViewAndItsEndLeavesTheProgramsWindowsRunning) {
  const ::Window root = DefaultRootWindow(other_);
  const ::Window desk = support::MakeStandInDesktop(other_);
  Open();

  HWND progman = ws().FindWindow("ProgMan", nullptr);
  ASSERT_TRUE(progman);
  HWND defView = ws().GetWindow(progman, GW_CHILD);
  HWND view = defView ? ws().GetWindow(defView, GW_CHILD) : nullptr;
  ASSERT_TRUE(view);
  char name[40] = {};
  ws().GetClassName(view, name, 39);
  EXPECT_STREQ("SysListView32", name);
  EXPECT_EQ(desk, ws().DesktopWindow());

  HWND form = Make(WS_CHILD | WS_VISIBLE, 0, 0, 640, 480, view);
  HWND surface = Make(WS_CHILD | WS_VISIBLE, 0, 0, 655, 499, form);
  ASSERT_TRUE(form && surface);
  EXPECT_EQ(desk, ParentOf(Xid(form)));

  support::EndStandInDesktop(other_, desk);
  ASSERT_TRUE(PumpUntil([&] { return Xid(form) != 0 && ws().DesktopWindow() == 0; }));
  EXPECT_TRUE(ws().IsWindow(form));
  EXPECT_FALSE(ws().IsWindow(view));
  EXPECT_EQ(nullptr, ws().FindWindow("ProgMan", nullptr));
  EXPECT_EQ(WS_POPUP, ws().GetWindowLong(form, GWL_STYLE) & (WS_POPUP | WS_CHILD));
  EXPECT_EQ(root, ParentOf(Xid(form)));
  EXPECT_EQ(Xid(form), ParentOf(Xid(surface)));
  EXPECT_EQ(0, x11::X11Connection::UnexpectedErrors());
}

TEST_F(X11Windows, PresentingCopiesTheScreenBufferIntoTheWindow) {
  Open();
  HWND h = Make(WS_POPUP | WS_VISIBLE, 10, 20, 40, 30);
  x11::X11Presenter& p = platform_->presenter();
  for (int y = 0; y < 30; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(p.bits() + std::size_t(20 + y) * std::size_t(p.pitch()));
    for (int x = 0; x < 40; ++x) row[10 + x] = 0x00010000u * std::uint32_t(x) + std::uint32_t(y);
  }
  ws().ScreenChanged(h, RECT{0, 0, 640, 480});
  XSync(platform_->connection().display(), False);
  XImage* image = XGetImage(other_, Xid(h), 0, 0, 40, 30, AllPlanes, ZPixmap);
  ASSERT_TRUE(image);
  int wrong = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      wrong += (XGetPixel(image, x, y) & 0xFFFFFF) != (0x00010000u * std::uint32_t(x) + std::uint32_t(y));
  XDestroyImage(image);
  EXPECT_EQ(0, wrong);
}

TEST_F(X11Windows, TheRefreshWaitSleepsUntilTheDisplaysNextRefresh) {
  Open();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 6; ++i) ws().WaitForRefresh();
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / 6;
  EXPECT_EQ(6u, ws().PresentedRefreshes()) << "Xvfb has the Present extension";
  EXPECT_GT(ms, 8.0);
  EXPECT_LT(ms, 40.0);
}

TEST_F(X11Windows, WithoutPresentTheRefreshWaitKeepsTheRefreshRateByTimer) {
  Open();
  ws().SetPresentEnabled(false);
  ws().WaitForRefresh();  // the first one starts the timer's beat
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 6; ++i) ws().WaitForRefresh();
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / 6;
  EXPECT_EQ(0u, ws().PresentedRefreshes());
  EXPECT_GT(ms, 12.0) << "Xvfb reports no refresh rate: 60 Hz";
  EXPECT_LT(ms, 40.0);
}

TEST_F(X11Windows, ALateReportOfACopyGivenUpOnDoesNotCountForTheNextCopy) {
  Open();
  HWND h = Make(WS_POPUP | WS_VISIBLE, 0, 0, 16, 16);
  x11::X11Presenter& p = platform_->presenter();
  if (!p.shared()) GTEST_SKIP() << "the display has no shared memory";
  Display* dpy = platform_->connection().display();
  MSG m{};
  while (ws().PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) ws().DispatchMessage(&m);
  ASSERT_TRUE(PumpUntil([&] { return p.PendingPuts() == 0; })) << "copies made while showing the window";
  // Reports are read here by hand, so both are still to come when the first copy is given up on.
  p.Put(Xid(h), 0, 0, 0, 0, 16, 16);
  p.ForgetPending();
  p.Put(Xid(h), 0, 0, 0, 0, 16, 16);
  ASSERT_EQ(1, p.PendingPuts());
  XSync(dpy, False);
  std::vector<XEvent> reports;
  while (XPending(dpy) > 0) {
    XEvent e;
    XNextEvent(dpy, &e);
    if (e.type == platform_->connection().shmCompletionType()) reports.push_back(e);
  }
  ASSERT_EQ(2u, reports.size());
  EXPECT_TRUE(p.TakeEvent(reports[0]));
  EXPECT_EQ(1, p.PendingPuts()) << "the first copy's report counted for the second copy";
  EXPECT_TRUE(p.TakeEvent(reports[1]));
  EXPECT_EQ(0, p.PendingPuts());
}

TEST_F(X11Windows, AfterMissedNotificationsTheTimerPacesUntilTheDisplaysRefreshesComeBack) {
  Open();
  ws().SetPresentRetryInterval(30000);
  ws().SuspendPresent();
  ws().WaitForRefresh();
  EXPECT_EQ(0u, ws().PresentedRefreshes()) << "the timer paces right after";
  for (int i = 0; i < 30 && ws().PresentedRefreshes() == 0; ++i) ws().WaitForRefresh();
  EXPECT_GT(ws().PresentedRefreshes(), 0u) << "a trial notification arrived and the display paces again";
}

TEST_F(X11Windows, WithoutSharedMemoryPresentingStillCopiesThePixels) {
  setenv("DESKTOP_SNOW_NO_SHM", "1", 1);
  Open();
  unsetenv("DESKTOP_SNOW_NO_SHM");
  EXPECT_FALSE(platform_->presenter().shared());
  HWND h = Make(WS_POPUP | WS_VISIBLE, 0, 0, 16, 16);
  x11::X11Presenter& p = platform_->presenter();
  for (int y = 0; y < 16; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(p.bits() + std::size_t(y) * std::size_t(p.pitch()));
    for (int x = 0; x < 16; ++x) row[x] = 0x00ABCDEFu;
  }
  ws().ScreenChanged(h, RECT{0, 0, 16, 16});
  XSync(platform_->connection().display(), False);
  XImage* image = XGetImage(other_, Xid(h), 3, 5, 1, 1, AllPlanes, ZPixmap);
  ASSERT_TRUE(image);
  EXPECT_EQ(0xABCDEFu, XGetPixel(image, 0, 0) & 0xFFFFFF);
  XDestroyImage(image);
}

TEST_F(X11Windows, SigtermEndsTheMessageLoop) {
  Open();
  raise(SIGTERM);
  MSG m{};
  EXPECT_EQ(0, ws().GetMessage(&m, nullptr, 0, 0));
  EXPECT_EQ(WM_QUIT, m.message);
}

TEST_F(X11Windows, ButtonsExposuresAndTheCloseBoxBecomeMessages) {
  Open();
  HWND h = Make(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 0, 0, 100, 80);
  MSG m{};
  while (ws().PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) ws().DispatchMessage(&m);
  XSync(platform_->connection().display(), False);
  XEvent e{};
  e.xbutton.type = ButtonPress;
  e.xbutton.window = Xid(h);
  e.xbutton.button = Button3;
  e.xbutton.x = 7;
  e.xbutton.y = 9;
  e.xbutton.same_screen = True;
  XSendEvent(other_, Xid(h), False, ButtonPressMask, &e);
  XFlush(other_);
  ASSERT_TRUE(NextMessage(WM_RBUTTONDOWN, m));
  EXPECT_EQ(h, m.hwnd);
  EXPECT_EQ(7, GET_X_LPARAM(m.lParam));
  EXPECT_EQ(9, GET_Y_LPARAM(m.lParam));

  XEvent x{};
  x.xexpose.type = Expose;
  x.xexpose.window = Xid(h);
  x.xexpose.width = 10;
  x.xexpose.height = 10;
  XSendEvent(other_, Xid(h), False, ExposureMask, &x);
  XFlush(other_);
  ASSERT_TRUE(NextMessage(WM_PAINT, m));
  EXPECT_EQ(h, m.hwnd);
  ws().ValidateRect(h, nullptr);

  XEvent c{};
  c.xclient.type = ClientMessage;
  c.xclient.window = Xid(h);
  c.xclient.message_type = XInternAtom(other_, "WM_PROTOCOLS", False);
  c.xclient.format = 32;
  c.xclient.data.l[0] = static_cast<long>(XInternAtom(other_, "WM_DELETE_WINDOW", False));
  XSendEvent(other_, Xid(h), False, NoEventMask, &c);
  XFlush(other_);
  ASSERT_TRUE(NextMessage(WM_SYSCOMMAND, m));
  EXPECT_EQ(SC_CLOSE, m.wParam);
}

TEST_F(X11Windows, MovesAreMergedOnlyUpToTheNextClickSoTheClickKeepsItsPlaceAmongThem) {
  Open();
  HWND h = Make(WS_POPUP | WS_VISIBLE, 0, 0, 100, 80);
  MSG m{};
  while (ws().PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) ws().DispatchMessage(&m);
  XSync(platform_->connection().display(), False);
  auto send = [&](int type, int x, int y) {
    XEvent e{};
    e.type = type;
    if (type == MotionNotify) {
      e.xmotion.window = Xid(h);
      e.xmotion.x = x;
      e.xmotion.y = y;
      e.xmotion.same_screen = True;
    } else {
      e.xbutton.window = Xid(h);
      e.xbutton.button = Button1;
      e.xbutton.x = x;
      e.xbutton.y = y;
      e.xbutton.same_screen = True;
    }
    XSendEvent(other_, Xid(h), False, type == MotionNotify ? PointerMotionMask : ButtonPressMask, &e);
  };
  send(MotionNotify, 1, 1);
  send(MotionNotify, 2, 2);
  send(ButtonPress, 5, 5);
  send(MotionNotify, 8, 8);
  send(MotionNotify, 9, 9);
  XSync(other_, False);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // all five on the program's connection
  std::vector<std::pair<UINT, int>> got;
  PumpUntil([&] {
    while (ws().PeekMessage(&m, h, WM_MOUSEMOVE, WM_RBUTTONUP, PM_REMOVE))
      got.push_back({m.message, GET_X_LPARAM(m.lParam)});
    return got.size() >= 3;
  });
  const std::vector<std::pair<UINT, int>> want = {{WM_MOUSEMOVE, 2}, {WM_LBUTTONDOWN, 5}, {WM_MOUSEMOVE, 9}};
  EXPECT_EQ(want, got);
}

TEST_F(X11Windows, ADisabledWindowGetsNoClicks) {
  Open();
  HWND h = Make(WS_POPUP | WS_VISIBLE, 0, 0, 100, 80);
  ws().EnableWindow(h, 0);
  XSync(platform_->connection().display(), False);  // the window exists on the server
  XEvent e{};
  e.xbutton.type = ButtonPress;
  e.xbutton.window = Xid(h);
  e.xbutton.button = Button1;
  e.xbutton.same_screen = True;
  XSendEvent(other_, Xid(h), False, ButtonPressMask, &e);
  XSync(other_, False);
  MSG m{};
  EXPECT_FALSE(NextMessage(WM_LBUTTONDOWN, m));
}

}  // namespace

#endif  // DS_HAVE_X11
