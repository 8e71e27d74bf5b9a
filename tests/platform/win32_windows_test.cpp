// The window manager on Windows through the window interface: platform procedures receive their messages,
// classes and windows are found, the Windows text-buffer rule holds, exceptions come back out of the
// forwarding calls, and a popup menu's loop leaves a null message for its owner.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Platform.h"

namespace {

const char kClass[] = "DesktopSnowTestWindow";

struct Seen {
  plat::UINT message;
  plat::WPARAM wParam;
  plat::LPARAM lParam;
};
std::vector<Seen> g_seen;
void* g_createParam = nullptr;

plat::LRESULT RecordingProc(plat::HWND hwnd, plat::UINT message, plat::WPARAM wParam, plat::LPARAM lParam) {
  if (message == WM_NCCREATE) g_createParam = reinterpret_cast<plat::CREATESTRUCT*>(lParam)->lpCreateParams;
  if (message >= WM_APP) {
    g_seen.push_back({message, wParam, lParam});
    if (message == WM_APP + 2) throw std::runtime_error("thrown by the window procedure");
    return static_cast<plat::LRESULT>(wParam * 2);
  }
  return plat::Windows().DefWindowProc(hwnd, message, wParam, lParam);
}

plat::LRESULT ReplacementProc(plat::HWND hwnd, plat::UINT message, plat::WPARAM wParam, plat::LPARAM lParam) {
  if (message == WM_APP + 5) return 555;
  return plat::Windows().DefWindowProc(hwnd, message, wParam, lParam);
}

class Win32WindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen.clear();
    g_createParam = nullptr;
    plat::WNDCLASS wc{};
    wc.lpfnWndProc = &RecordingProc;
    wc.lpszClassName = kClass;
    ASSERT_NE(0, ws().RegisterClass(wc));
  }
  void TearDown() override {
    for (plat::HWND w : windows_)
      if (ws().IsWindow(w)) ws().DestroyWindow(w);
    ws().UnregisterClass(kClass, nullptr);
  }

  plat::WindowSystem& ws() { return plat::Windows(); }

  plat::HWND Make(const char* title, plat::DWORD style = WS_POPUP, plat::HWND parent = nullptr,
                  void* param = nullptr) {
    plat::HWND w = ws().CreateWindowEx(0, kClass, title, style, 10, 20, 120, 80, parent, nullptr, param);
    EXPECT_NE(nullptr, w);
    windows_.push_back(w);
    return w;
  }

  // Removes and dispatches every queued message; returns how many there were.
  int Pump() {
    int n = 0;
    plat::MSG msg;
    while (ws().PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ws().TranslateMessage(&msg);
      ws().DispatchMessage(&msg);
      ++n;
    }
    return n;
  }

  plat::win32::Win32Platform platform_;
  std::vector<plat::HWND> windows_;
};

TEST_F(Win32WindowsTest, CreateParameterReachesTheProcedureInTheCreateStructure) {
  int marker = 0;
  Make("param", WS_POPUP, nullptr, &marker);
  EXPECT_EQ(&marker, g_createParam);
}

TEST_F(Win32WindowsTest, CreatedWindowIsFoundByItsClassAndTitle) {
  plat::HWND w = Make("Snow finder");
  EXPECT_EQ(w, ws().FindWindow(kClass, nullptr));
  EXPECT_EQ(w, ws().FindWindow("desktopsnowtestwindow", "snow finder"));
  EXPECT_EQ(nullptr, ws().FindWindow(kClass, "another title"));
}

TEST_F(Win32WindowsTest, ClassNameFollowsTheRealBufferRuleForEverySize) {
  plat::HWND w = Make("names");
  const int len = static_cast<int>(std::strlen(kClass));
  for (int size = 0; size <= len + 2; ++size) {
    char mine[64], real[64];
    std::memset(mine, 'x', sizeof mine);
    std::memset(real, 'x', sizeof real);
    const int n = ws().GetClassName(w, mine, size);
    const int m = ::GetClassNameA(plat::win32::H<::HWND>(w), real, size);
    EXPECT_EQ(m, n) << "buffer of " << size;
    EXPECT_EQ(0, std::memcmp(mine, real, sizeof mine)) << "buffer of " << size;
  }
  char full[64];
  EXPECT_EQ(len, ws().GetClassName(w, full, sizeof full));
  EXPECT_STREQ(kClass, full);
}

TEST_F(Win32WindowsTest, PostedMessageIsDispatchedToThePlatformProcedure) {
  plat::HWND w = Make("post");
  ASSERT_TRUE(ws().PostMessage(w, WM_APP + 1, 7, 9));
  Pump();
  ASSERT_EQ(1u, g_seen.size());
  EXPECT_EQ(static_cast<plat::UINT>(WM_APP + 1), g_seen[0].message);
  EXPECT_EQ(7u, g_seen[0].wParam);
  EXPECT_EQ(9, g_seen[0].lParam);
}

TEST_F(Win32WindowsTest, SentMessageReturnsTheProcedureResult) {
  plat::HWND w = Make("send");
  EXPECT_EQ(42, ws().SendMessage(w, WM_APP + 3, 21, 0));
}

TEST_F(Win32WindowsTest, ThreadMessageArrivesWithoutAWindow) {
  ASSERT_TRUE(ws().PostMessage(nullptr, WM_APP + 4, 1, 2));
  plat::MSG msg{};
  ASSERT_TRUE(ws().PeekMessage(&msg, nullptr, WM_APP + 4, WM_APP + 4, PM_REMOVE));
  EXPECT_EQ(nullptr, msg.hwnd);
  EXPECT_EQ(1u, msg.wParam);
}

TEST_F(Win32WindowsTest, ExceptionFromTheProcedureComesOutOfSendMessage) {
  plat::HWND w = Make("throw");
  EXPECT_THROW(ws().SendMessage(w, WM_APP + 2, 0, 0), std::runtime_error);
  // The window keeps working afterwards.
  EXPECT_EQ(2, ws().SendMessage(w, WM_APP + 3, 1, 0));
}

TEST_F(Win32WindowsTest, ExceptionFromTheProcedureComesOutOfDispatchMessage) {
  plat::HWND w = Make("throw");
  ws().PostMessage(w, WM_APP + 2, 0, 0);
  EXPECT_THROW(Pump(), std::runtime_error);
}

TEST_F(Win32WindowsTest, ReplacedProcedureGetsMessagesAndThePreviousOneIsReturned) {
  plat::HWND w = Make("subclass");
  const plat::LONG_PTR old =
      ws().SetWindowLongPtr(w, GWLP_WNDPROC, reinterpret_cast<plat::LONG_PTR>(&ReplacementProc));
  EXPECT_EQ(reinterpret_cast<plat::LONG_PTR>(&RecordingProc), old);
  EXPECT_EQ(reinterpret_cast<plat::LONG_PTR>(&ReplacementProc), ws().GetWindowLongPtr(w, GWLP_WNDPROC));
  EXPECT_EQ(555, ws().SendMessage(w, WM_APP + 5, 0, 0));
  EXPECT_EQ(10, ws().CallWindowProc(reinterpret_cast<plat::WNDPROC>(old), w, WM_APP + 3, 5, 0));
}

TEST_F(Win32WindowsTest, ClassInformationNamesThePlatformProcedure) {
  plat::WNDCLASS info{};
  ASSERT_TRUE(ws().GetClassInfo(nullptr, kClass, &info));
  EXPECT_EQ(&RecordingProc, info.lpfnWndProc);
}

TEST_F(Win32WindowsTest, RegisteringTheSameClassTwiceFailsWithClassAlreadyExists) {
  plat::WNDCLASS wc{};
  wc.lpfnWndProc = &RecordingProc;
  wc.lpszClassName = kClass;
  EXPECT_EQ(0, ws().RegisterClass(wc));
  EXPECT_EQ(static_cast<plat::DWORD>(ERROR_CLASS_ALREADY_EXISTS), plat::Sys().GetLastError());
}

TEST_F(Win32WindowsTest, ChildMovesToANewParent) {
  plat::HWND a = Make("a");
  plat::HWND b = Make("b");
  plat::HWND child = Make("child", WS_CHILD, a);
  EXPECT_EQ(a, ws().GetParent(child));
  EXPECT_EQ(child, ws().GetWindow(a, GW_CHILD));
  EXPECT_EQ(a, ws().SetParent(child, b));
  EXPECT_TRUE(ws().IsChild(b, child));
  EXPECT_FALSE(ws().IsChild(a, child));
}

TEST_F(Win32WindowsTest, ExtendedStyleIsWrittenAndReadBack) {
  plat::HWND w = Make("styles");
  const plat::LONG ex = ws().GetWindowLong(w, GWL_EXSTYLE);
  ws().SetWindowLong(w, GWL_EXSTYLE, ex | WS_EX_TOOLWINDOW);
  EXPECT_TRUE(ws().GetWindowLong(w, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
}

TEST_F(Win32WindowsTest, ScreenMetricsArePositive) {
  EXPECT_GT(ws().GetSystemMetrics(SM_CXSCREEN), 0);
  EXPECT_GT(ws().GetSystemMetrics(SM_CYSCREEN), 0);
}

TEST_F(Win32WindowsTest, MenuItemsKeepTheirCheckStateAndTextIsCutWithATerminatingZero) {
  plat::HMENU menu = ws().CreatePopupMenu();
  ASSERT_NE(nullptr, menu);
  EXPECT_TRUE(ws().AppendMenu(menu, MF_STRING, 101, "Snow storm"));
  EXPECT_TRUE(ws().AppendMenu(menu, MF_SEPARATOR, 0, nullptr));
  EXPECT_TRUE(ws().AppendMenu(menu, MF_STRING, 102, "Wind"));
  EXPECT_EQ(3, ws().GetMenuItemCount(menu));
  EXPECT_EQ(static_cast<plat::DWORD>(MF_UNCHECKED), ws().CheckMenuItem(menu, 102, MF_BYCOMMAND | MF_CHECKED));
  EXPECT_TRUE(ws().GetMenuState(menu, 102, MF_BYCOMMAND) & MF_CHECKED);
  char text[5];
  EXPECT_EQ(4, ws().GetMenuString(menu, 101, text, sizeof text, MF_BYCOMMAND));
  EXPECT_STREQ("Snow", text);
  EXPECT_TRUE(ws().DestroyMenu(menu));
  EXPECT_FALSE(ws().IsMenu(menu));
}

// Closes whatever menu is open, as a click elsewhere would, noting which window was in the foreground.
::HWND g_foregroundDuringMenu = nullptr;
void CALLBACK CloseMenu(::HWND, ::UINT, ::UINT_PTR id, ::DWORD) {
  ::KillTimer(nullptr, id);
  g_foregroundDuringMenu = ::GetForegroundWindow();
  ::EndMenu();
}

TEST_F(Win32WindowsTest, PopupMenuLeavesANullMessageForItsOwner) {
  plat::HWND owner = Make("owner", WS_POPUP);
  plat::HMENU menu = ws().CreatePopupMenu();
  ws().AppendMenu(menu, MF_STRING, 201, "Exit");
  Pump();
  ::SetTimer(nullptr, 0, 200, &CloseMenu);
  EXPECT_EQ(0, ws().TrackPopupMenu(menu, TPM_RETURNCMD, 50, 50, owner));  // cancelled: no command
  bool sawNull = false;
  plat::MSG msg;
  while (ws().PeekMessage(&msg, owner, 0, 0, PM_REMOVE))
    if (msg.message == WM_NULL) sawNull = true;
  EXPECT_TRUE(sawNull);
  EXPECT_EQ(plat::win32::H<::HWND>(owner), g_foregroundDuringMenu);
  ws().DestroyMenu(menu);
}

plat::LRESULT RefusingProc(plat::HWND hwnd, plat::UINT message, plat::WPARAM wParam, plat::LPARAM lParam) {
  if (message == WM_NCCREATE) throw std::runtime_error("refused");
  return plat::Windows().DefWindowProc(hwnd, message, wParam, lParam);
}

TEST_F(Win32WindowsTest, ExceptionDuringCreationComesOutOfCreateWindowEx) {
  plat::WNDCLASS wc{};
  wc.lpfnWndProc = &RefusingProc;
  wc.lpszClassName = "DesktopSnowTestRefusing";
  ASSERT_NE(0, ws().RegisterClass(wc));
  EXPECT_THROW(
      ws().CreateWindowEx(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr),
      std::runtime_error);
  EXPECT_EQ(nullptr, ws().FindWindow(wc.lpszClassName, nullptr));
  ws().UnregisterClass(wc.lpszClassName, nullptr);
}

// A system window subclassed with a platform procedure that passes everything on to the original.
plat::WNDPROC g_original = nullptr;
int g_forwarded = 0;
plat::LRESULT ForwardingProc(plat::HWND hwnd, plat::UINT message, plat::WPARAM wParam, plat::LPARAM lParam) {
  if (message == WM_GETTEXT) ++g_forwarded;
  return plat::Windows().CallWindowProc(g_original, hwnd, message, wParam, lParam);
}

TEST_F(Win32WindowsTest, SystemWindowCanBeSubclassedAndRestored) {
  plat::HWND label =
      ws().CreateWindowEx(0, "STATIC", "label text", WS_POPUP, 0, 0, 50, 20, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, label);
  windows_.push_back(label);
  g_forwarded = 0;
  g_original = reinterpret_cast<plat::WNDPROC>(
      ws().SetWindowLongPtr(label, GWLP_WNDPROC, reinterpret_cast<plat::LONG_PTR>(&ForwardingProc)));
  ASSERT_NE(nullptr, g_original);
  char text[32] = {};
  EXPECT_EQ(10, ws().GetWindowText(label, text, sizeof text));
  EXPECT_STREQ("label text", text);
  EXPECT_EQ(1, g_forwarded);
  // Handing back the original ends the subclassing: the platform procedure sees nothing more.
  ws().SetWindowLongPtr(label, GWLP_WNDPROC, reinterpret_cast<plat::LONG_PTR>(g_original));
  EXPECT_EQ(10, ws().GetWindowText(label, text, sizeof text));
  EXPECT_EQ(1, g_forwarded);
}

}  // namespace

#endif  // _WIN32
