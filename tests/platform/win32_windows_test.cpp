// The Windows backend's own part of forwarding the window interface: exceptions come back out of the
// forwarding calls, system windows can be subclassed and handed back, and a popup menu's loop leaves a null
// message for its owner. What every backend shares is in window_contract_test.cpp.
#ifdef _WIN32

#include <gtest/gtest.h>

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

plat::LRESULT RecordingProc(plat::HWND hwnd, plat::UINT message, plat::WPARAM wParam, plat::LPARAM lParam) {
  if (message >= WM_APP) {
    g_seen.push_back({message, wParam, lParam});
    if (message == WM_APP + 2) throw std::runtime_error("thrown by the window procedure");
    return static_cast<plat::LRESULT>(wParam * 2);
  }
  return plat::Windows().DefWindowProc(hwnd, message, wParam, lParam);
}

class Win32WindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen.clear();
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

  plat::HWND Make(const char* title, plat::DWORD style = WS_POPUP) {
    plat::HWND w = ws().CreateWindowEx(0, kClass, title, style, 10, 20, 120, 80, nullptr, nullptr, nullptr);
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
