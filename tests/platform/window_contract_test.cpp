// What the program and its component framework rely on from the window system, run against every backend
// (support/WindowBackends.h): the in-memory one in every build, the real one in the Windows build (under
// wine), the X11 one on Linux with a display. Windows' own behaviour is the reference; a backend that
// disagrees is wrong. Only windows and classes the test made itself are looked at, and queue checks filter
// on the test's own messages, so a real system's traffic (paints, activation, input) does not disturb them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/System.h"
#include "platform/Windows.h"
#include "support/WindowBackends.h"
#include "support/Xvfb.h"

using namespace plat;

namespace {

#ifdef DS_HAVE_X11
::testing::Environment* const g_xvfb = ::testing::AddGlobalTestEnvironment(new support::Xvfb);
#endif

const char kClass[] = "ContractWindow";
constexpr UINT kFirst = WM_APP + 0x100;  // the test's own messages start here
constexpr UINT kLast = WM_APP + 0x1FF;
// The context menu's command ids.
constexpr UINT kVeryFew = 101, kFew = 102, kMedium = 103, kMany = 104, kStorm = 105;
constexpr UINT kWind = 110, kAbout = 111, kExit = 112;

struct Seen {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<Seen>* g_log = nullptr;
void* g_nccreateParam = nullptr;
void* g_createParam = nullptr;

// Records every message and answers the test's own messages with twice their wParam.
LRESULT RecordingProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (g_log) g_log->push_back({h, m, w, l});
  if (m == WM_NCCREATE) g_nccreateParam = reinterpret_cast<const CREATESTRUCT*>(l)->lpCreateParams;
  if (m == WM_CREATE) g_createParam = reinterpret_cast<const CREATESTRUCT*>(l)->lpCreateParams;
  if (m >= kFirst && m <= kLast) return static_cast<LRESULT>(w * 2);
  return Windows().DefWindowProc(h, m, w, l);
}

// Stands in for a subclassing procedure: answers one message itself and chains the rest.
WNDPROC g_previous = nullptr;
LRESULT SubclassProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == kFirst + 1) return 555;
  return Windows().CallWindowProc(g_previous, h, m, w, l);
}

LRESULT RefuseCreateProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_CREATE) return -1;
  return Windows().DefWindowProc(h, m, w, l);
}

LRESULT RefuseNcCreateProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_NCCREATE) return 0;
  return Windows().DefWindowProc(h, m, w, l);
}

// Paints through BeginPaint / EndPaint and counts it.
int g_paints = 0;
LRESULT PaintingProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (m == WM_PAINT) {
    ++g_paints;
    PAINTSTRUCT ps;
    Windows().BeginPaint(h, &ps);
    Windows().EndPaint(h, &ps);
    return 0;
  }
  return RecordingProc(h, m, w, l);
}

template <class Backend>
class WindowContract : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string why = Backend::Unavailable();
    if (!why.empty()) {
      if (contract::BackendRequired(Backend::Name())) FAIL() << Backend::Name() << ": " << why;
      GTEST_SKIP() << why;
    }
    backend_ = std::make_unique<Backend>();
    g_log = &log_;
    g_nccreateParam = g_createParam = nullptr;
    ASSERT_TRUE(Register(kClass, &RecordingProc));
  }

  void TearDown() override {
    g_log = nullptr;
    if (!backend_) return;
    for (HMENU m : menus_)
      if (ws().IsMenu(m)) ws().DestroyMenu(m);
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it)
      if (ws().IsWindow(*it)) ws().DestroyWindow(*it);
    for (auto it = classes_.rbegin(); it != classes_.rend(); ++it) ws().UnregisterClass(it->c_str(), nullptr);
    backend_.reset();
  }

  WindowSystem& ws() { return backend_->ws(); }
  DWORD LastError() { return Sys().GetLastError(); }

  bool Register(const std::string& name, WNDPROC proc) {
    WNDCLASS wc{};
    wc.lpfnWndProc = proc;
    wc.lpszClassName = name.c_str();
    if (!ws().RegisterClass(wc)) return false;
    classes_.push_back(name);
    return true;
  }

  // Windows are made away from the screen's middle, where a real pointer may rest.
  HWND Make(DWORD style, HWND parentOrOwner = nullptr, const char* title = "contract", int x = 10, int y = 20,
            int w = 120, int h = 80, DWORD exStyle = 0, const char* cls = kClass, void* param = nullptr) {
    HWND hwnd = ws().CreateWindowEx(exStyle, cls, title, style, x, y, w, h, parentOrOwner, nullptr, param);
    if (hwnd) windows_.push_back(hwnd);
    return hwnd;
  }
  HWND Top(const char* title = "contract", DWORD style = WS_POPUP) { return Make(style, nullptr, title); }
  HWND Child(HWND parent, int x = 5, int y = 6) {
    return Make(WS_CHILD | WS_VISIBLE, parent, "child", x, y, 40, 30);
  }
  HMENU Popup() {
    HMENU m = ws().CreatePopupMenu();
    if (m) menus_.push_back(m);
    return m;
  }

  // The program's context menu built as its framework builds it: items appended with their check state,
  // the radio look set through the item information, the submenu appended as a popup item.
  HMENU ContextMenu(HMENU* densityOut = nullptr) {
    HMENU menu = Popup();
    HMENU density = ws().CreatePopupMenu();
    const struct {
      UINT id;
      const char* text;
    } items[] = {
        {kVeryFew, "Very few"}, {kFew, "Few"}, {kMedium, "Medium"}, {kMany, "Many"}, {kStorm, "Snow storm"}};
    for (const auto& i : items) {
      ws().AppendMenu(density, MF_STRING | (i.id == kMedium ? MF_CHECKED : 0), i.id, i.text);
      MENUITEMINFO mi{};
      mi.cbSize = sizeof mi;
      mi.fMask = MIIM_FTYPE;
      mi.fType = MFT_RADIOCHECK;
      ws().SetMenuItemInfo(density, i.id, 0, &mi);
    }
    ws().AppendMenu(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(density), "Snowflakes");
    ws().AppendMenu(menu, MF_STRING | MF_CHECKED, kWind, "Wind");
    ws().AppendMenu(menu, MF_SEPARATOR, 0, nullptr);
    ws().AppendMenu(menu, MF_STRING, kAbout, "About");
    ws().AppendMenu(menu, MF_STRING, kExit, "Exit");
    if (densityOut) *densityOut = density;
    return menu;
  }

  std::vector<UINT> MessagesTo(HWND h, UINT only = 0) {
    std::vector<UINT> out;
    for (const Seen& s : log_)
      if (s.hwnd == h && (!only || s.message == only)) out.push_back(s.message);
    return out;
  }
  int Count(HWND h, UINT message) { return static_cast<int>(MessagesTo(h, message).size()); }
  const Seen* Last(HWND h, UINT message) {
    for (auto it = log_.rbegin(); it != log_.rend(); ++it)
      if (it->hwnd == h && it->message == message) return &*it;
    return nullptr;
  }
  // Position of the first message in the log, -1 when absent.
  int IndexOf(HWND h, UINT message) {
    for (std::size_t i = 0; i < log_.size(); ++i)
      if (log_[i].hwnd == h && log_[i].message == message) return static_cast<int>(i);
    return -1;
  }

  // Removes the test's own queued messages, in order.
  std::vector<MSG> TakeOwn(HWND filter = nullptr) {
    std::vector<MSG> out;
    MSG m;
    while (ws().PeekMessage(&m, filter, kFirst, kLast, PM_REMOVE)) out.push_back(m);
    return out;
  }
  // Dispatches whatever is queued (a real system may have queued its own messages too).
  void Pump() {
    backend_->Settle();
    MSG m;
    for (int guard = 0; guard < 10000 && ws().PeekMessage(&m, nullptr, 0, 0, PM_REMOVE); ++guard) {
      if (m.message == WM_QUIT) continue;
      ws().TranslateMessage(&m);
      ws().DispatchMessage(&m);
    }
  }
  std::string ClassOf(HWND h, int size = 256) {
    std::vector<char> buf(static_cast<std::size_t>(std::max(size, 1)), '\0');
    ws().GetClassName(h, buf.data(), size);
    return std::string(buf.data());
  }

  std::unique_ptr<Backend> backend_;
  std::vector<Seen> log_;
  std::vector<HWND> windows_;
  std::vector<HMENU> menus_;
  std::vector<std::string> classes_;
};

struct BackendNames {
  template <class B>
  static std::string GetName(int) {
    return B::Name();
  }
};

using Backends = ::testing::Types<contract::SoftBackend
#ifdef _WIN32
                                  ,
                                  contract::Win32Backend
#endif
#ifdef DS_HAVE_X11
                                  ,
                                  contract::X11Backend
#endif
                                  >;
TYPED_TEST_SUITE(WindowContract, Backends, BackendNames);

// ---- classes ----

TYPED_TEST(WindowContract, ClassIsFoundWhateverTheLetterCaseAndNamesItsProcedure) {
  WNDCLASS info{};
  ASSERT_TRUE(this->ws().GetClassInfo(nullptr, "CONTRACTwindow", &info));
  EXPECT_EQ(&RecordingProc, info.lpfnWndProc);
  EXPECT_FALSE(this->ws().GetClassInfo(nullptr, "ContractNoSuchClass", &info));
}

TYPED_TEST(WindowContract, RegisteringAClassTwiceFailsWhateverTheLetterCase) {
  WNDCLASS wc{};
  wc.lpfnWndProc = &RecordingProc;
  wc.lpszClassName = "CONTRACTWINDOW";
  EXPECT_EQ(0, this->ws().RegisterClass(wc));
  EXPECT_EQ(ERROR_CLASS_ALREADY_EXISTS, this->LastError());
}

TYPED_TEST(WindowContract, ClassWithWindowsCannotBeUnregisteredUntilTheyAreGone) {
  ASSERT_TRUE(this->Register("ContractScratch", &RecordingProc));
  HWND h = this->Make(WS_POPUP, nullptr, "", 10, 20, 10, 10, 0, "ContractScratch");
  ASSERT_NE(nullptr, h);
  EXPECT_FALSE(this->ws().UnregisterClass("contractscratch", nullptr));
  EXPECT_EQ(ERROR_CLASS_HAS_WINDOWS, this->LastError());
  this->ws().DestroyWindow(h);
  EXPECT_TRUE(this->ws().UnregisterClass("contractscratch", nullptr));
  WNDCLASS info{};
  EXPECT_FALSE(this->ws().GetClassInfo(nullptr, "ContractScratch", &info));
}

// ---- creating windows ----

TYPED_TEST(WindowContract, CreationSendsNcCreateCreateThenSizeWithTheCreateParameter) {
  int tag = 0;
  HWND h = this->Make(WS_POPUP, nullptr, "made", 10, 20, 70, 80, 0, kClass, &tag);
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(&tag, g_nccreateParam);
  EXPECT_EQ(&tag, g_createParam);
  const int nc = this->IndexOf(h, WM_NCCREATE), create = this->IndexOf(h, WM_CREATE);
  const int size = this->IndexOf(h, WM_SIZE);
  EXPECT_LE(0, nc);
  EXPECT_LT(nc, create);
  EXPECT_LT(create, size);
  EXPECT_EQ(MAKELPARAM(70, 80), this->log_[static_cast<std::size_t>(size)].lParam);
  const int move = this->IndexOf(h, WM_MOVE);
  EXPECT_LT(create, move);
  EXPECT_EQ(MAKEPOINTLPARAM(10, 20), this->log_[static_cast<std::size_t>(move)].lParam);
}

TYPED_TEST(WindowContract, RefusingNcCreateOrCreateFailsTheCreationAndLeavesNoWindow) {
  ASSERT_TRUE(this->Register("ContractRefuseCreate", &RefuseCreateProc));
  ASSERT_TRUE(this->Register("ContractRefuseNcCreate", &RefuseNcCreateProc));
  for (const char* cls : {"ContractRefuseCreate", "ContractRefuseNcCreate"}) {
    EXPECT_EQ(nullptr, this->Make(WS_POPUP, nullptr, "", 10, 20, 10, 10, 0, cls)) << cls;
    EXPECT_EQ(nullptr, this->ws().FindWindow(cls, nullptr)) << cls;
  }
}

// The program reports a failed creation with the system's text for the last error, so a code must be set.
// Windows says ERROR_CANNOT_FIND_WND_CLASS; wine 8 says ERROR_CLASS_DOES_NOT_EXIST.
TYPED_TEST(WindowContract, CreationFailsForAnUnknownClassAndForAChildWithoutParent) {
  Sys().SetLastError(0);
  EXPECT_EQ(nullptr, this->Make(WS_POPUP, nullptr, "", 10, 20, 10, 10, 0, "ContractNoSuchClass"));
  EXPECT_NE(0u, this->LastError());
  EXPECT_EQ(nullptr, this->Make(WS_CHILD, nullptr));
  EXPECT_EQ(ERROR_TLW_WITH_WSCHILD, this->LastError());
}

TYPED_TEST(WindowContract, TopLevelWindowIsAChildOfTheDesktopAndHasNoParent) {
  HWND h = this->Top();
  HWND desktop = this->ws().GetDesktopWindow();
  ASSERT_NE(nullptr, desktop);
  EXPECT_EQ(nullptr, this->ws().GetParent(h));
  EXPECT_EQ(desktop, this->ws().GetAncestor(h, GA_PARENT));
  EXPECT_EQ(h, this->ws().GetAncestor(h, GA_ROOT));
  // The program's modal dialog walks the desktop's children to find its own windows.
  bool found = false;
  HWND w = this->ws().GetWindow(desktop, GW_CHILD);
  for (int guard = 0; w && guard < 100000 && !found; ++guard) {
    found = w == h;
    w = this->ws().GetWindow(w, GW_HWNDNEXT);
  }
  EXPECT_TRUE(found);
}

// ---- parent, owner and child ----

TYPED_TEST(WindowContract, ChildLiesInItsParentsClientArea) {
  HWND p = this->Make(WS_POPUP, nullptr, "parent", 100, 200, 300, 300);
  HWND c = this->Child(p, 10, 20);
  ASSERT_NE(nullptr, c);
  EXPECT_EQ(p, this->ws().GetParent(c));
  EXPECT_TRUE(this->ws().IsChild(p, c));
  EXPECT_FALSE(this->ws().IsChild(c, p));
  EXPECT_EQ(p, this->ws().GetAncestor(c, GA_PARENT));
  EXPECT_EQ(p, this->ws().GetAncestor(c, GA_ROOT));
  POINT pt{1, 2};
  ASSERT_TRUE(this->ws().ClientToScreen(c, &pt));
  EXPECT_EQ(111, pt.x);
  EXPECT_EQ(222, pt.y);
  ASSERT_TRUE(this->ws().ScreenToClient(p, &pt));
  EXPECT_EQ(11, pt.x);
  EXPECT_EQ(22, pt.y);
  RECT r{};
  ASSERT_TRUE(this->ws().GetWindowRect(c, &r));
  EXPECT_EQ(110, r.left);
  EXPECT_EQ(220, r.top);
  EXPECT_EQ(150, r.right);
  EXPECT_EQ(250, r.bottom);
  ASSERT_TRUE(this->ws().GetClientRect(c, &r));
  EXPECT_EQ(0, r.left);
  EXPECT_EQ(40, r.right);
  EXPECT_EQ(30, r.bottom);
}

// The first child is the top of the z-order; children join at the bottom, top-level windows at the top.
TYPED_TEST(WindowContract, NewChildGoesBelowItsSiblingsAndNewTopLevelWindowOnTop) {
  HWND p = this->Top();
  HWND a = this->Child(p);
  HWND b = this->Child(p);
  EXPECT_EQ(a, this->ws().GetWindow(p, GW_CHILD));
  EXPECT_EQ(b, this->ws().GetWindow(a, GW_HWNDNEXT));
  EXPECT_EQ(nullptr, this->ws().GetWindow(b, GW_HWNDNEXT));
  EXPECT_EQ(nullptr, this->ws().GetWindow(a, GW_CHILD));
  EXPECT_EQ((std::vector<HWND>{a, b}), this->backend_->Stacking(p)) << "as drawn on the screen";
  HWND later = this->Top("later");
  EXPECT_EQ(p, this->ws().GetWindow(later, GW_HWNDNEXT));
}

TYPED_TEST(WindowContract, SetWindowPosReordersSiblings) {
  HWND p = this->Top();
  HWND a = this->Child(p);
  HWND b = this->Child(p);
  const UINT keep = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
  ASSERT_TRUE(this->ws().SetWindowPos(b, HWND_TOP(), 0, 0, 0, 0, keep));
  EXPECT_EQ(b, this->ws().GetWindow(p, GW_CHILD));
  EXPECT_EQ(a, this->ws().GetWindow(b, GW_HWNDNEXT));
  EXPECT_EQ((std::vector<HWND>{b, a}), this->backend_->Stacking(p)) << "as drawn on the screen";
  ASSERT_TRUE(this->ws().SetWindowPos(b, HWND_BOTTOM(), 0, 0, 0, 0, keep));
  EXPECT_EQ(a, this->ws().GetWindow(p, GW_CHILD));
  EXPECT_EQ((std::vector<HWND>{a, b}), this->backend_->Stacking(p)) << "as drawn on the screen";
  ASSERT_TRUE(this->ws().SetWindowPos(a, b, 0, 0, 0, 0, keep));  // a below b
  EXPECT_EQ(b, this->ws().GetWindow(p, GW_CHILD));
  EXPECT_EQ((std::vector<HWND>{b, a}), this->backend_->Stacking(p)) << "as drawn on the screen";
}

TYPED_TEST(WindowContract, SetParentMovesTheWindowToTheTopOfItsNewParentKeepingItsPosition) {
  HWND oldParent = this->Make(WS_POPUP, nullptr, "old", 10, 20, 200, 200);
  HWND newParent = this->Make(WS_POPUP, nullptr, "new", 50, 60, 200, 200);
  HWND other = this->Child(newParent);
  HWND c = this->Child(oldParent, 7, 8);
  EXPECT_EQ(oldParent, this->ws().SetParent(c, newParent));
  EXPECT_EQ(newParent, this->ws().GetParent(c));
  EXPECT_EQ(c, this->ws().GetWindow(newParent, GW_CHILD));
  EXPECT_EQ(other, this->ws().GetWindow(c, GW_HWNDNEXT));
  EXPECT_EQ((std::vector<HWND>{c, other}), this->backend_->Stacking(newParent)) << "as drawn on the screen";
  EXPECT_EQ(nullptr, this->ws().GetWindow(oldParent, GW_CHILD));
  EXPECT_FALSE(this->ws().IsChild(oldParent, c));
  POINT pt{0, 0};
  this->ws().ClientToScreen(c, &pt);
  EXPECT_EQ(57, pt.x);
  EXPECT_EQ(68, pt.y);
}

TYPED_TEST(WindowContract, SetParentOfATopLevelWindowReturnsTheDesktop) {
  HWND host = this->Make(WS_POPUP, nullptr, "host", 10, 20, 200, 200);
  HWND form = this->Top("form");
  EXPECT_EQ(this->ws().GetDesktopWindow(), this->ws().SetParent(form, host));
  EXPECT_EQ(host, this->ws().GetAncestor(form, GA_PARENT));
  EXPECT_EQ(host, this->ws().GetAncestor(form, GA_ROOT));
  EXPECT_EQ(form, this->ws().GetWindow(host, GW_CHILD));
  // Without the child style it counts as nobody's child, and its parent is its owner (none).
  EXPECT_FALSE(this->ws().IsChild(host, form));
  EXPECT_EQ(nullptr, this->ws().GetParent(form));
}

TYPED_TEST(WindowContract, SetParentRefusesToPutAWindowUnderItsOwnDescendant) {
  HWND p = this->Top();
  HWND c = this->Child(p);
  EXPECT_EQ(nullptr, this->ws().SetParent(p, c));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, this->LastError());
  EXPECT_EQ(c, this->ws().GetWindow(p, GW_CHILD));
}

TYPED_TEST(WindowContract, PopupsParentIsItsOwnerWhichIsAlwaysATopLevelWindow) {
  HWND owner = this->Top("owner");
  HWND child = this->Child(owner);
  HWND popup = this->Make(WS_POPUP, owner, "popup");
  HWND overlapped = this->Make(WS_OVERLAPPED, owner, "overlapped");
  HWND ownedThroughChild = this->Make(WS_POPUP, child, "owned through a child");
  EXPECT_EQ(owner, this->ws().GetParent(popup));
  EXPECT_EQ(owner, this->ws().GetWindow(popup, GW_OWNER));
  EXPECT_EQ(nullptr, this->ws().GetParent(overlapped));
  EXPECT_EQ(owner, this->ws().GetWindow(overlapped, GW_OWNER));
  EXPECT_EQ(owner, this->ws().GetWindow(ownedThroughChild, GW_OWNER));
  EXPECT_EQ(nullptr, this->ws().GetWindow(child, GW_OWNER));
}

// ---- destroying windows ----

TYPED_TEST(WindowContract, DestroySendsDestroyParentFirstAndNcDestroyChildFirst) {
  HWND p = this->Top();
  HWND c = this->Child(p);
  this->log_.clear();
  ASSERT_TRUE(this->ws().DestroyWindow(p));
  const int pd = this->IndexOf(p, WM_DESTROY), cd = this->IndexOf(c, WM_DESTROY);
  const int pn = this->IndexOf(p, WM_NCDESTROY), cn = this->IndexOf(c, WM_NCDESTROY);
  EXPECT_LE(0, pd);
  EXPECT_LT(pd, cd);
  EXPECT_LT(cd, cn);
  EXPECT_LT(cn, pn);
  EXPECT_EQ(1, this->Count(p, WM_DESTROY));
  EXPECT_FALSE(this->ws().IsWindow(p));
  EXPECT_FALSE(this->ws().IsWindow(c));
}

TYPED_TEST(WindowContract, DestroyingAnOwnerDestroysTheWindowsItOwns) {
  HWND owner = this->Top("owner");
  HWND owned = this->Make(WS_POPUP, owner, "owned");
  ASSERT_TRUE(this->ws().DestroyWindow(owner));
  EXPECT_FALSE(this->ws().IsWindow(owned));
}

TYPED_TEST(WindowContract, CloseThroughTheDefaultProcedureDestroysTheWindow) {
  HWND h = this->Top();
  this->ws().SendMessage(h, WM_CLOSE, 0, 0);
  EXPECT_FALSE(this->ws().IsWindow(h));
  EXPECT_EQ(1, this->Count(h, WM_DESTROY));
}

TYPED_TEST(WindowContract, DestroyedWindowsHandleIsRefused) {
  HWND h = this->Top();
  this->ws().PostMessage(h, kFirst, 0, 0);
  ASSERT_TRUE(this->ws().DestroyWindow(h));
  EXPECT_TRUE(this->TakeOwn().empty());  // its queued messages went with it
  RECT r{};
  POINT pt{};
  char buf[8] = "keep";
  const auto refused = [&](bool failed, const char* what) {
    EXPECT_TRUE(failed) << what;
    EXPECT_EQ(ERROR_INVALID_WINDOW_HANDLE, this->LastError()) << what;
    Sys().SetLastError(0);
  };
  // Windows sets ERROR_INVALID_WINDOW_HANDLE for these two as well; wine 8 sets ERROR_ACCESS_DENIED and
  // ERROR_INVALID_PARAMETER. Nothing relies on the code.
  EXPECT_FALSE(this->ws().IsWindow(h));
  EXPECT_FALSE(this->ws().DestroyWindow(h));
  EXPECT_EQ(0, this->ws().GetClassName(h, buf, sizeof buf));
  EXPECT_STREQ("keep", buf);
  refused(!this->ws().PostMessage(h, kFirst, 0, 0), "PostMessage");
  refused(this->ws().SendMessage(h, kFirst, 1, 0) == 0, "SendMessage");
  refused(!this->ws().ShowWindow(h, SW_SHOW), "ShowWindow");
  refused(!this->ws().GetWindowRect(h, &r), "GetWindowRect");
  refused(!this->ws().ClientToScreen(h, &pt), "ClientToScreen");
  refused(this->ws().GetWindow(h, GW_CHILD) == nullptr, "GetWindow");
  refused(this->ws().SetParent(h, nullptr) == nullptr, "SetParent");
  refused(this->ws().SetWindowLongPtr(h, GWL_EXSTYLE, WS_EX_TOOLWINDOW) == 0, "SetWindowLongPtr");
  refused(this->ws().SetWindowPos(h, nullptr, 0, 0, 1, 1, SWP_NOZORDER) == 0, "SetWindowPos");
  EXPECT_FALSE(this->ws().DestroyWindow(this->ws().GetDesktopWindow()));
}

// ---- styles ----

TYPED_TEST(WindowContract, StylesGivenAtCreationAreReadBack) {
  HWND top = this->Make(WS_POPUP | WS_CLIPCHILDREN, nullptr, "top", 10, 20, 100, 50, WS_EX_TOOLWINDOW);
  HWND child = this->Child(top);
  const DWORD style = static_cast<DWORD>(this->ws().GetWindowLong(top, GWL_STYLE));
  EXPECT_EQ(WS_POPUP | WS_CLIPCHILDREN, style & (WS_POPUP | WS_CHILD | WS_CLIPCHILDREN | WS_VISIBLE));
  EXPECT_TRUE(this->ws().GetWindowLong(top, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  const DWORD childStyle = static_cast<DWORD>(this->ws().GetWindowLong(child, GWL_STYLE));
  EXPECT_EQ(WS_CHILD | WS_VISIBLE, childStyle & (WS_POPUP | WS_CHILD | WS_VISIBLE));
  EXPECT_FALSE(this->ws().GetWindowLong(child, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
}

TYPED_TEST(WindowContract, StyleChangeReturnsThePreviousValueAndIsAnnounced) {
  HWND h = this->Top();
  const LONG before = this->ws().GetWindowLong(h, GWL_EXSTYLE);
  this->log_.clear();
  EXPECT_EQ(before, this->ws().SetWindowLong(h, GWL_EXSTYLE, before | static_cast<LONG>(WS_EX_TOOLWINDOW)));
  const int changing = this->IndexOf(h, WM_STYLECHANGING), changed = this->IndexOf(h, WM_STYLECHANGED);
  EXPECT_LE(0, changing);
  EXPECT_LT(changing, changed);
  const Seen* s = this->Last(h, WM_STYLECHANGED);
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(static_cast<WPARAM>(static_cast<LONG_PTR>(GWL_EXSTYLE)), s->wParam);
  EXPECT_EQ(before | static_cast<LONG>(WS_EX_TOOLWINDOW), this->ws().GetWindowLong(h, GWL_EXSTYLE));
}

// The program's way of losing its taskbar button, on a window made as its application window is.
TYPED_TEST(WindowContract, ToolWindowBitIsAddedBetweenHideAndShow) {
  HWND app = this->Make(WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE,
                        nullptr, "Application", 10, 20, 0, 0);
  ASSERT_NE(nullptr, app);
  EXPECT_TRUE(this->ws().IsWindowVisible(app));
  this->ws().ShowWindow(app, SW_HIDE);
  EXPECT_FALSE(this->ws().IsWindowVisible(app));
  const LONG_PTR ex = this->ws().GetWindowLongPtr(app, GWL_EXSTYLE);
  this->ws().SetWindowLongPtr(app, GWL_EXSTYLE, ex | WS_EX_TOOLWINDOW);
  this->ws().ShowWindow(app, SW_SHOW);
  EXPECT_TRUE(this->ws().IsWindowVisible(app));
  EXPECT_EQ(ex | WS_EX_TOOLWINDOW, this->ws().GetWindowLongPtr(app, GWL_EXSTYLE));
}

TYPED_TEST(WindowContract, UserDataPropertiesAndTextStayWithTheWindow) {
  HWND h = this->Top("Desktop Snow");
  EXPECT_EQ(0, this->ws().SetWindowLongPtr(h, GWLP_USERDATA, 1234));
  EXPECT_EQ(1234, this->ws().GetWindowLongPtr(h, GWLP_USERDATA));
  int obj = 0;
  EXPECT_TRUE(this->ws().SetProp(h, "ContractOwner", &obj));
  EXPECT_EQ(&obj, this->ws().GetProp(h, "CONTRACTOWNER"));
  EXPECT_EQ(&obj, this->ws().RemoveProp(h, "contractowner"));
  EXPECT_EQ(nullptr, this->ws().GetProp(h, "ContractOwner"));
  EXPECT_EQ(12, this->ws().GetWindowTextLength(h));
  EXPECT_TRUE(this->ws().SetWindowText(h, "Kirno Desktop Snow"));
  char buf[6];
  EXPECT_EQ(5, this->ws().GetWindowText(h, buf, sizeof buf));
  EXPECT_STREQ("Kirno", buf);
}

TYPED_TEST(WindowContract, WindowLongBeyondTheExtraBytesIsAnInvalidIndex) {
  HWND h = this->Top();
  EXPECT_EQ(0, this->ws().GetWindowLongPtr(h, 64));
  EXPECT_EQ(ERROR_INVALID_INDEX, this->LastError());
}

// ---- showing, enabling, moving ----

TYPED_TEST(WindowContract, ShowWindowReturnsThePreviousVisibilityAndAnnouncesOnlyChanges) {
  HWND h = this->Top();
  EXPECT_FALSE(this->ws().IsWindowVisible(h));
  EXPECT_FALSE(this->ws().ShowWindow(h, SW_SHOW));
  EXPECT_TRUE(this->ws().IsWindowVisible(h));
  EXPECT_TRUE(this->ws().ShowWindow(h, SW_SHOW));
  EXPECT_TRUE(this->ws().ShowWindow(h, SW_HIDE));
  EXPECT_FALSE(this->ws().IsWindowVisible(h));
  EXPECT_FALSE(this->ws().ShowWindow(h, SW_HIDE));
  EXPECT_EQ(2, this->Count(h, WM_SHOWWINDOW));
  EXPECT_EQ(0, this->ws().GetWindowLong(h, GWL_STYLE) & static_cast<LONG>(WS_VISIBLE));
}

TYPED_TEST(WindowContract, VisibleChildOfAHiddenParentIsNotVisible) {
  HWND p = this->Top();
  HWND c = this->Child(p);
  EXPECT_FALSE(this->ws().IsWindowVisible(c));
  this->ws().ShowWindow(p, SW_SHOWNOACTIVATE);
  EXPECT_TRUE(this->ws().IsWindowVisible(c));
  this->ws().ShowWindow(p, SW_HIDE);
  EXPECT_FALSE(this->ws().IsWindowVisible(c));
}

TYPED_TEST(WindowContract, SetWindowPosShowsAndHides) {
  HWND h = this->Top();
  const UINT keep = SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE;
  ASSERT_TRUE(this->ws().SetWindowPos(h, nullptr, 0, 0, 0, 0, keep | SWP_SHOWWINDOW));
  EXPECT_TRUE(this->ws().IsWindowVisible(h));
  ASSERT_TRUE(this->ws().SetWindowPos(h, nullptr, 0, 0, 0, 0, keep | SWP_HIDEWINDOW));
  EXPECT_FALSE(this->ws().IsWindowVisible(h));
}

TYPED_TEST(WindowContract, SetWindowPosMovesAndSizesAndTellsTheWindow) {
  HWND h = this->Top();
  this->log_.clear();
  ASSERT_TRUE(this->ws().SetWindowPos(h, nullptr, 30, 40, 64, 48, SWP_NOZORDER | SWP_NOACTIVATE));
  RECT r{};
  this->ws().GetWindowRect(h, &r);
  EXPECT_EQ(30, r.left);
  EXPECT_EQ(40, r.top);
  EXPECT_EQ(94, r.right);
  EXPECT_EQ(88, r.bottom);
  EXPECT_LE(0, this->IndexOf(h, WM_WINDOWPOSCHANGED));
  const Seen* size = this->Last(h, WM_SIZE);
  ASSERT_NE(nullptr, size);
  EXPECT_EQ(MAKELPARAM(64, 48), size->lParam);
  const Seen* move = this->Last(h, WM_MOVE);
  ASSERT_NE(nullptr, move);
  EXPECT_EQ(MAKEPOINTLPARAM(30, 40), move->lParam);
}

TYPED_TEST(WindowContract, EnableWindowReturnsWhetherItWasDisabled) {
  HWND h = this->Top();
  EXPECT_FALSE(this->ws().EnableWindow(h, 0));
  EXPECT_FALSE(this->ws().IsWindowEnabled(h));
  EXPECT_TRUE(this->ws().EnableWindow(h, 0));
  EXPECT_TRUE(this->ws().EnableWindow(h, 1));
  EXPECT_TRUE(this->ws().IsWindowEnabled(h));
  EXPECT_EQ(2, this->Count(h, WM_ENABLE));
}

TYPED_TEST(WindowContract, FocusMovesWithKillFocusBeforeSetFocus) {
  HWND top = this->Top("focus", WS_POPUP | WS_VISIBLE);
  HWND a = this->Child(top, 0, 0);
  HWND b = this->Child(top, 50, 0);
  this->ws().SetFocus(a);
  this->backend_->Settle();
  EXPECT_EQ(a, this->ws().GetFocus());
  this->log_.clear();
  EXPECT_EQ(a, this->ws().SetFocus(b));
  EXPECT_EQ(b, this->ws().GetFocus());
  const int kill = this->IndexOf(a, WM_KILLFOCUS), set = this->IndexOf(b, WM_SETFOCUS);
  EXPECT_LE(0, kill);
  EXPECT_LT(kill, set);
}

TYPED_TEST(WindowContract, ScreenHasASize) {
  EXPECT_GT(this->ws().GetSystemMetrics(SM_CXSCREEN), 0);
  EXPECT_GT(this->ws().GetSystemMetrics(SM_CYSCREEN), 0);
}

// ---- finding windows ----

TYPED_TEST(WindowContract, FindWindowIgnoresLetterCaseAndMatchesTheTitleOnlyWhenGiven) {
  HWND h = this->Top("Snow Finder");
  EXPECT_EQ(h, this->ws().FindWindow("contractwindow", nullptr));
  EXPECT_EQ(h, this->ws().FindWindow("CONTRACTWINDOW", "snow finder"));
  EXPECT_EQ(nullptr, this->ws().FindWindow(kClass, "Rain Finder"));
}

TYPED_TEST(WindowContract, FindWindowLooksAtTopLevelWindowsOnly) {
  ASSERT_TRUE(this->Register("ContractInner", &RecordingProc));
  HWND p = this->Top();
  ASSERT_NE(nullptr, this->Make(WS_CHILD, p, "inner", 0, 0, 10, 10, 0, "ContractInner"));
  EXPECT_EQ(nullptr, this->ws().FindWindow("ContractInner", nullptr));
}

TYPED_TEST(WindowContract, ClassNameIsTheRegisteredOneWhateverTheCaseOfTheCreation) {
  HWND h = this->Make(WS_POPUP, nullptr, "", 10, 20, 10, 10, 0, "contractWINDOW");
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(kClass, this->ClassOf(h));
}

TYPED_TEST(WindowContract, ClassNameFollowsTheBufferRuleForEverySize) {
  HWND h = this->Top();
  const int len = static_cast<int>(std::strlen(kClass));
  for (int size = 0; size <= len + 2; ++size) {
    char buf[32];
    std::memset(buf, 'x', sizeof buf);
    const int kept = size == 0 ? 0 : std::min(len, size - 1);
    EXPECT_EQ(kept, this->ws().GetClassName(h, buf, size)) << "buffer of " << size;
    EXPECT_EQ(0, std::memcmp(kClass, buf, static_cast<std::size_t>(kept))) << "buffer of " << size;
    if (size > 0) {
      EXPECT_EQ('\0', buf[kept]) << "buffer of " << size;
    }
    EXPECT_EQ('x', buf[size == 0 ? 0 : kept + 1]) << "buffer of " << size;
  }
}

// The desktop lookup reads at most 38 characters of a class name into its 40-character buffer.
TYPED_TEST(WindowContract, LongClassNameIsCutToTheBuffer) {
  const std::string name = "ContractLong" + std::string(28, 'L');
  ASSERT_EQ(40u, name.size());
  ASSERT_TRUE(this->Register(name, &RecordingProc));
  HWND h = this->Make(WS_POPUP, nullptr, "", 10, 20, 10, 10, 0, name.c_str());
  char buf[40];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(38, this->ws().GetClassName(h, buf, 39));
  EXPECT_EQ(name.substr(0, 38), std::string(buf));
  EXPECT_EQ('x', buf[39]);
}

TYPED_TEST(WindowContract, DesktopIconViewIsFoundThroughFirstChildrenAndTakesTheFormAsAChild) {
  HWND view = this->backend_->DesktopIconView();
  if (!view) GTEST_SKIP() << "no desktop icon view on this backend";
  HWND progman = this->ws().FindWindow("ProgMan", nullptr);
  ASSERT_NE(nullptr, progman);
  HWND first = this->ws().GetWindow(progman, GW_CHILD);
  EXPECT_EQ(view, this->ws().GetWindow(first, GW_CHILD));
  EXPECT_EQ("SysListView32", this->ClassOf(view, 39));
  // The form, created as the view's child at its top-left corner, screen-sized.
  const int w = this->ws().GetSystemMetrics(SM_CXSCREEN), h = this->ws().GetSystemMetrics(SM_CYSCREEN);
  HWND form = this->Make(WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, view, "Kirno Desktop", 0, 0, w, h);
  ASSERT_NE(nullptr, form);
  EXPECT_EQ(view, this->ws().GetParent(form));
  EXPECT_EQ(form, this->ws().GetWindow(view, GW_CHILD));
  this->ws().SetWindowPos(form, nullptr, 0, 0, 0, 0,
                          SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
  this->backend_->Settle();
  EXPECT_TRUE(this->ws().IsWindowVisible(form));
  RECT r{}, v{};
  this->ws().GetWindowRect(form, &r);
  this->ws().GetWindowRect(view, &v);
  EXPECT_EQ(v.left, r.left);
  EXPECT_EQ(v.top, r.top);
  EXPECT_EQ(w, r.right - r.left);
  EXPECT_EQ(h, r.bottom - r.top);
}

// ---- messages and the queue ----

TYPED_TEST(WindowContract, PostedMessagesArriveInOrderWithTheirParameters) {
  HWND h = this->Top();
  ASSERT_TRUE(this->ws().PostMessage(h, kFirst, 1, 10));
  ASSERT_TRUE(this->ws().PostMessage(nullptr, kFirst + 1, 2, 20));  // to the thread
  ASSERT_TRUE(this->ws().PostMessage(h, kFirst + 2, 3, 30));
  const std::vector<MSG> got = this->TakeOwn();
  ASSERT_EQ(3u, got.size());
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(kFirst + i, got[i].message);
    EXPECT_EQ(i + 1, got[i].wParam);
    EXPECT_EQ(static_cast<LPARAM>(10 * (i + 1)), got[i].lParam);
  }
  EXPECT_EQ(h, got[0].hwnd);
  EXPECT_EQ(nullptr, got[1].hwnd);
}

TYPED_TEST(WindowContract, PeekWithoutRemoveLeavesTheMessageQueued) {
  HWND h = this->Top();
  this->ws().PostMessage(h, kFirst, 7, 8);
  MSG m{};
  ASSERT_TRUE(this->ws().PeekMessage(&m, nullptr, kFirst, kLast, PM_NOREMOVE));
  EXPECT_EQ(kFirst, m.message);
  ASSERT_TRUE(this->ws().PeekMessage(&m, nullptr, kFirst, kLast, PM_NOREMOVE));
  ASSERT_TRUE(this->ws().PeekMessage(&m, nullptr, kFirst, kLast, PM_REMOVE));
  EXPECT_EQ(h, m.hwnd);
  EXPECT_EQ(7u, m.wParam);
  EXPECT_FALSE(this->ws().PeekMessage(&m, nullptr, kFirst, kLast, PM_REMOVE));
}

TYPED_TEST(WindowContract, WindowFilterTakesTheWindowsAndItsDescendantsMessagesOnly) {
  HWND a = this->Top("a");
  HWND child = this->Child(a);
  HWND b = this->Top("b");
  this->ws().PostMessage(b, kFirst, 0, 0);
  this->ws().PostMessage(child, kFirst + 1, 0, 0);
  this->ws().PostMessage(nullptr, kFirst + 2, 0, 0);
  const std::vector<MSG> fromA = this->TakeOwn(a);
  ASSERT_EQ(1u, fromA.size());
  EXPECT_EQ(child, fromA[0].hwnd);
  const std::vector<MSG> rest = this->TakeOwn();
  ASSERT_EQ(2u, rest.size());
  EXPECT_EQ(b, rest[0].hwnd);
  EXPECT_EQ(nullptr, rest[1].hwnd);
}

TYPED_TEST(WindowContract, RangeFilterLeavesOtherMessagesQueued) {
  HWND h = this->Top();
  this->ws().PostMessage(h, kFirst, 0, 0);
  this->ws().PostMessage(h, kFirst + 5, 0, 0);
  MSG m{};
  ASSERT_TRUE(this->ws().PeekMessage(&m, nullptr, kFirst + 5, kFirst + 5, PM_REMOVE));
  EXPECT_EQ(kFirst + 5, m.message);
  EXPECT_FALSE(this->ws().PeekMessage(&m, nullptr, kFirst + 1, kFirst + 4, PM_REMOVE));
  ASSERT_TRUE(this->ws().PeekMessage(&m, nullptr, kFirst, kFirst, PM_REMOVE));
}

TYPED_TEST(WindowContract, QuitComesAfterThePostedMessagesAndEndsGetMessage) {
  HWND h = this->Top();
  this->ws().PostQuitMessage(3);
  this->ws().PostMessage(h, kFirst, 0, 0);
  MSG m{};
  ASSERT_GT(this->ws().GetMessage(&m, nullptr, 0, 0), 0);
  EXPECT_EQ(kFirst, m.message);
  EXPECT_EQ(0, this->ws().GetMessage(&m, nullptr, 0, 0));
  EXPECT_EQ(WM_QUIT, m.message);
  EXPECT_EQ(3u, m.wParam);
  EXPECT_FALSE(this->ws().PeekMessage(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // only once
}

TYPED_TEST(WindowContract, SendMessageRunsTheProcedureAtOnceAndReturnsItsResult) {
  HWND h = this->Top();
  EXPECT_EQ(42, this->ws().SendMessage(h, kFirst, 21, 0));
  EXPECT_EQ(1, this->Count(h, kFirst));
  EXPECT_TRUE(this->TakeOwn().empty());
}

TYPED_TEST(WindowContract, DispatchRunsTheProcedureOfTheMessagesWindow) {
  HWND a = this->Top("a");
  HWND b = this->Top("b");
  this->ws().PostMessage(b, kFirst, 4, 0);
  MSG m{};
  ASSERT_GT(this->ws().GetMessage(&m, nullptr, kFirst, kLast), 0);
  EXPECT_EQ(8, this->ws().DispatchMessage(&m));
  EXPECT_EQ(0, this->Count(a, kFirst));
  EXPECT_EQ(1, this->Count(b, kFirst));
}

TYPED_TEST(WindowContract, ReplacedProcedureGetsTheMessagesAndChainsToThePreviousOne) {
  HWND h = this->Top();
  g_previous = reinterpret_cast<WNDPROC>(
      this->ws().SetWindowLongPtr(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProc)));
  EXPECT_EQ(&RecordingProc, g_previous);
  EXPECT_EQ(reinterpret_cast<LONG_PTR>(&SubclassProc), this->ws().GetWindowLongPtr(h, GWLP_WNDPROC));
  EXPECT_EQ(555, this->ws().SendMessage(h, kFirst + 1, 0, 0));
  this->ws().PostMessage(h, kFirst + 2, 5, 0);
  MSG m{};
  ASSERT_TRUE(this->ws().PeekMessage(&m, nullptr, kFirst, kLast, PM_REMOVE));
  EXPECT_EQ(10, this->ws().DispatchMessage(&m));
  EXPECT_EQ(1, this->Count(h, kFirst + 2));
  EXPECT_EQ(0, this->Count(h, kFirst + 1));
}

TYPED_TEST(WindowContract, PaintComesAfterPostedMessagesAndStopsOnceValidated) {
  ASSERT_TRUE(this->Register("ContractPainted", &PaintingProc));
  HWND h = this->Make(WS_POPUP | WS_VISIBLE, nullptr, "painted", 10, 20, 50, 40, 0, "ContractPainted");
  this->Pump();
  g_paints = 0;
  this->ws().InvalidateRect(h, nullptr, 1);
  this->ws().PostMessage(h, kFirst, 0, 0);
  MSG m{};
  ASSERT_TRUE(this->ws().PeekMessage(&m, h, 0, 0, PM_REMOVE));
  EXPECT_EQ(kFirst, m.message);
  this->Pump();
  EXPECT_EQ(1, g_paints);
  RECT r{};
  EXPECT_FALSE(this->ws().GetUpdateRect(h, &r, 0));
  this->ws().InvalidateRect(h, nullptr, 0);
  this->ws().UpdateWindow(h);  // paints at once, without the queue
  EXPECT_EQ(2, g_paints);
  this->Pump();
  EXPECT_EQ(2, g_paints);
}

// ---- menus ----

TYPED_TEST(WindowContract, MenuHoldsItsItemsSubmenuAndSeparatorInOrder) {
  HMENU density = nullptr;
  HMENU menu = this->ContextMenu(&density);
  WindowSystem& ws = this->ws();
  ASSERT_EQ(5, ws.GetMenuItemCount(menu));
  EXPECT_EQ(5, ws.GetMenuItemCount(density));
  EXPECT_EQ(density, ws.GetSubMenu(menu, 0));
  EXPECT_EQ(static_cast<UINT>(-1), ws.GetMenuItemID(menu, 0));
  EXPECT_EQ(kWind, ws.GetMenuItemID(menu, 1));
  EXPECT_EQ(kExit, ws.GetMenuItemID(menu, 4));
  EXPECT_EQ(nullptr, ws.GetSubMenu(menu, 1));
  const UINT popup = ws.GetMenuState(menu, 0, MF_BYPOSITION);
  EXPECT_TRUE(popup & MF_POPUP);
  EXPECT_EQ(5u, popup >> 8);
  EXPECT_TRUE(ws.GetMenuState(menu, 2, MF_BYPOSITION) & MF_SEPARATOR);
  char text[16];
  EXPECT_EQ(10, ws.GetMenuString(menu, 0, text, sizeof text, MF_BYPOSITION));
  EXPECT_STREQ("Snowflakes", text);
  EXPECT_EQ(10, ws.GetMenuString(density, kStorm, text, sizeof text, MF_BYCOMMAND));
  EXPECT_STREQ("Snow storm", text);
}

TYPED_TEST(WindowContract, RadioLookSetThroughItemInformationKeepsTextAndCheckMark) {
  HMENU density = nullptr;
  this->ContextMenu(&density);
  char text[16] = {};
  MENUITEMINFO get{};
  get.cbSize = sizeof get;
  get.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_STRING | MIIM_ID;
  get.dwTypeData = text;
  get.cch = sizeof text;
  ASSERT_TRUE(this->ws().GetMenuItemInfo(density, kMedium, 0, &get));
  EXPECT_EQ(MFT_RADIOCHECK, get.fType & MFT_RADIOCHECK);
  EXPECT_EQ(MFS_CHECKED, get.fState & MFS_CHECKED);
  EXPECT_EQ(kMedium, get.wID);
  EXPECT_STREQ("Medium", text);
  EXPECT_EQ(6u, get.cch);
  EXPECT_EQ(MF_CHECKED | MFT_RADIOCHECK,
            this->ws().GetMenuState(density, kMedium, MF_BYCOMMAND) & (MF_CHECKED | MFT_RADIOCHECK));
}

// The framework sets a check mark on the item's own menu, by command, and reads nothing back.
TYPED_TEST(WindowContract, CheckMarkMovesBetweenRadioItemsAndReturnsThePreviousState) {
  HMENU density = nullptr;
  HMENU menu = this->ContextMenu(&density);
  WindowSystem& ws = this->ws();
  EXPECT_EQ(MF_UNCHECKED, ws.CheckMenuItem(density, kFew, MF_BYCOMMAND | MF_CHECKED));
  EXPECT_EQ(MF_CHECKED, ws.CheckMenuItem(density, kMedium, MF_BYCOMMAND | MF_UNCHECKED));
  EXPECT_TRUE(ws.GetMenuState(density, kFew, MF_BYCOMMAND) & MF_CHECKED);
  EXPECT_FALSE(ws.GetMenuState(density, kMedium, MF_BYCOMMAND) & MF_CHECKED);
  EXPECT_TRUE(ws.GetMenuState(density, kFew, MF_BYCOMMAND) & MFT_RADIOCHECK);  // still a radio item
  EXPECT_EQ(MF_CHECKED, ws.CheckMenuItem(menu, kWind, MF_BYCOMMAND | MF_UNCHECKED));
  EXPECT_FALSE(ws.GetMenuState(menu, kWind, MF_BYCOMMAND) & MF_CHECKED);
  EXPECT_FALSE(ws.GetMenuState(menu, kWind, MF_BYCOMMAND) & MFT_RADIOCHECK);
  EXPECT_EQ(static_cast<DWORD>(-1), ws.CheckMenuItem(menu, 999, MF_BYCOMMAND | MF_CHECKED));
}

TYPED_TEST(WindowContract, ByCommandReachesIntoSubmenus) {
  HMENU menu = this->ContextMenu();
  WindowSystem& ws = this->ws();
  EXPECT_EQ(MF_UNCHECKED, ws.CheckMenuItem(menu, kStorm, MF_BYCOMMAND | MF_CHECKED));
  EXPECT_TRUE(ws.GetMenuState(menu, kStorm, MF_BYCOMMAND) & MF_CHECKED);
  char text[16];
  EXPECT_EQ(4, ws.GetMenuString(menu, kMany, text, sizeof text, MF_BYCOMMAND));
  EXPECT_STREQ("Many", text);
}

TYPED_TEST(WindowContract, RadioCheckMarksOneItemAndClearsTheRestOfTheRange) {
  HMENU density = nullptr;
  HMENU menu = this->ContextMenu(&density);
  WindowSystem& ws = this->ws();
  ASSERT_TRUE(ws.CheckMenuRadioItem(density, kVeryFew, kMany, kFew, MF_BYCOMMAND));
  EXPECT_EQ(MF_CHECKED | MFT_RADIOCHECK,
            ws.GetMenuState(density, kFew, MF_BYCOMMAND) & (MF_CHECKED | MFT_RADIOCHECK));
  EXPECT_FALSE(ws.GetMenuState(density, kMedium, MF_BYCOMMAND) & MF_CHECKED);
  ASSERT_TRUE(ws.CheckMenuRadioItem(density, 0, 1, 0, MF_BYPOSITION));
  EXPECT_TRUE(ws.GetMenuState(density, 0, MF_BYPOSITION) & MF_CHECKED);
  EXPECT_FALSE(ws.GetMenuState(density, 1, MF_BYPOSITION) & MF_CHECKED);
  EXPECT_TRUE(ws.GetMenuState(menu, kWind, MF_BYCOMMAND) & MF_CHECKED);  // outside the range
}

TYPED_TEST(WindowContract, EnableMenuItemGraysAndReturnsThePreviousState) {
  HMENU menu = this->ContextMenu();
  WindowSystem& ws = this->ws();
  EXPECT_EQ(static_cast<BOOL>(MF_ENABLED), ws.EnableMenuItem(menu, kAbout, MF_BYCOMMAND | MF_GRAYED));
  EXPECT_TRUE(ws.GetMenuState(menu, kAbout, MF_BYCOMMAND) & MF_GRAYED);
  EXPECT_EQ(static_cast<BOOL>(MF_GRAYED), ws.EnableMenuItem(menu, kAbout, MF_BYCOMMAND | MF_ENABLED));
  EXPECT_FALSE(ws.GetMenuState(menu, kAbout, MF_BYCOMMAND) & MF_GRAYED);
  EXPECT_EQ(-1, ws.EnableMenuItem(menu, 999, MF_BYCOMMAND | MF_GRAYED));
}

TYPED_TEST(WindowContract, MenuStringFollowsTheBufferRule) {
  HMENU menu = this->ContextMenu();
  char buf[5];
  EXPECT_EQ(4, this->ws().GetMenuString(menu, kAbout, buf, sizeof buf, MF_BYCOMMAND));
  EXPECT_STREQ("Abou", buf);
  EXPECT_EQ(5, this->ws().GetMenuString(menu, kAbout, nullptr, 0, MF_BYCOMMAND));
  EXPECT_EQ(0, this->ws().GetMenuString(menu, 999, buf, sizeof buf, MF_BYCOMMAND));
}

TYPED_TEST(WindowContract, InsertByPositionAndDeleteByCommand) {
  HMENU menu = this->ContextMenu();
  WindowSystem& ws = this->ws();
  ASSERT_TRUE(ws.InsertMenu(menu, 1, MF_BYPOSITION | MF_STRING, 120, "Inserted"));
  EXPECT_EQ(120u, ws.GetMenuItemID(menu, 1));
  EXPECT_EQ(kWind, ws.GetMenuItemID(menu, 2));
  ASSERT_TRUE(ws.DeleteMenu(menu, 120, MF_BYCOMMAND));
  EXPECT_EQ(kWind, ws.GetMenuItemID(menu, 1));
  EXPECT_FALSE(ws.DeleteMenu(menu, 120, MF_BYCOMMAND));
}

TYPED_TEST(WindowContract, RemovingAPopupItemKeepsItsSubmenuAndDeletingDestroysIt) {
  HMENU density = nullptr;
  HMENU menu = this->ContextMenu(&density);
  WindowSystem& ws = this->ws();
  ASSERT_TRUE(ws.RemoveMenu(menu, 0, MF_BYPOSITION));
  EXPECT_TRUE(ws.IsMenu(density));
  EXPECT_EQ(4, ws.GetMenuItemCount(menu));
  ASSERT_TRUE(ws.InsertMenu(menu, 0, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(density), "Again"));
  ASSERT_TRUE(ws.DeleteMenu(menu, 0, MF_BYPOSITION));
  EXPECT_FALSE(ws.IsMenu(density));
}

TYPED_TEST(WindowContract, DestroyingAMenuDestroysItsSubmenusAndTheirHandlesAreRefused) {
  HMENU density = nullptr;
  HMENU menu = this->ContextMenu(&density);
  WindowSystem& ws = this->ws();
  ASSERT_TRUE(ws.DestroyMenu(menu));
  EXPECT_FALSE(ws.IsMenu(menu));
  EXPECT_FALSE(ws.IsMenu(density));
  EXPECT_EQ(-1, ws.GetMenuItemCount(menu));
  EXPECT_EQ(ERROR_INVALID_MENU_HANDLE, this->LastError());
  EXPECT_FALSE(ws.AppendMenu(menu, MF_STRING, 1, "x"));
  EXPECT_EQ(static_cast<DWORD>(-1), ws.CheckMenuItem(menu, kWind, MF_BYCOMMAND | MF_CHECKED));
  EXPECT_FALSE(ws.DestroyMenu(menu));
}

TYPED_TEST(WindowContract, ChosenCommandIsPostedToTheOwnerAfterTheMenuHasClosed) {
  HWND owner = this->Top("owner", WS_POPUP | WS_VISIBLE);
  HMENU menu = this->ContextMenu();
  this->Pump();
  this->log_.clear();
  EXPECT_TRUE(this->backend_->TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, 40, 50, owner, kAbout));
  EXPECT_EQ(0, this->Count(owner, WM_COMMAND));  // not sent while the menu is open
  const Seen* init = this->Last(owner, WM_INITMENUPOPUP);
  ASSERT_NE(nullptr, init);
  EXPECT_EQ(reinterpret_cast<WPARAM>(menu), init->wParam);
  const int enter = this->IndexOf(owner, WM_ENTERMENULOOP), popup = this->IndexOf(owner, WM_INITMENUPOPUP);
  EXPECT_LE(0, enter);
  EXPECT_LT(enter, popup);
  EXPECT_LT(popup, this->IndexOf(owner, WM_EXITMENULOOP));
  MSG m{};
  ASSERT_TRUE(this->ws().PeekMessage(&m, owner, WM_COMMAND, WM_COMMAND, PM_REMOVE));
  EXPECT_EQ(owner, m.hwnd);
  EXPECT_EQ(kAbout, LOWORD(m.wParam));
  EXPECT_EQ(0, HIWORD(m.wParam));
  EXPECT_EQ(0, m.lParam);
  EXPECT_FALSE(this->ws().PeekMessage(&m, owner, WM_COMMAND, WM_COMMAND, PM_REMOVE));
}

TYPED_TEST(WindowContract, CancelledMenuPostsNoCommand) {
  HWND owner = this->Top("owner", WS_POPUP | WS_VISIBLE);
  HMENU menu = this->ContextMenu();
  this->Pump();
  EXPECT_TRUE(this->backend_->TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, 40, 50, owner, 0));
  MSG m{};
  EXPECT_FALSE(this->ws().PeekMessage(&m, nullptr, WM_COMMAND, WM_COMMAND, PM_REMOVE));
}

TYPED_TEST(WindowContract, ReturnCommandFlagReturnsTheChoiceInsteadOfPostingIt) {
  HWND owner = this->Top("owner", WS_POPUP | WS_VISIBLE);
  HMENU menu = this->ContextMenu();
  this->Pump();
  EXPECT_EQ(static_cast<BOOL>(kExit),
            this->backend_->TrackPopupMenu(menu, TPM_RETURNCMD, 40, 50, owner, kExit));
  MSG m{};
  EXPECT_FALSE(this->ws().PeekMessage(&m, nullptr, WM_COMMAND, WM_COMMAND, PM_REMOVE));
  EXPECT_EQ(0, this->backend_->TrackPopupMenu(menu, TPM_RETURNCMD, 40, 50, owner, 0));
}

TYPED_TEST(WindowContract, TrackingADestroyedMenuFails) {
  HWND owner = this->Top("owner", WS_POPUP | WS_VISIBLE);
  HMENU gone = this->ws().CreatePopupMenu();
  this->ws().AppendMenu(gone, MF_STRING, kExit, "Exit");
  this->ws().DestroyMenu(gone);
  EXPECT_FALSE(this->backend_->TrackPopupMenu(gone, 0, 40, 50, owner, 0));
  EXPECT_EQ(ERROR_INVALID_MENU_HANDLE, this->LastError());
}

}  // namespace
