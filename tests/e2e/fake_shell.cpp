// Stand-in for the shell's desktop windows in the end-to-end check (scripts/e2e-windows.sh): a top-level
// "Progman" window whose first child has a first child of class "SysListView32", the place the program
// attaches its form to. It pumps its messages (a window of a thread that does not would never paint and its
// children would get no input), watches for a window of another process to become a child of the list view,
// checks it through the window manager, then closes it and waits for it to go.
//
// Usage: e2e-fake-shell.exe [seconds]   (default 30: how long to wait for the program to attach)
// Prints "READY" once its windows exist, "ATTACHED" when the program's window turns up, then PASS/FAIL lines;
// exits 0 when every check passed, 1 when one failed, 2 when it could not set itself up.
//
// It runs on the real window manager through the platform layer's Windows backend.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/Clock.h"
#include "platform/Platform.h"
#include "platform/System.h"
#include "platform/Windows.h"
#include "platform/win32/Win32Platform.h"

namespace {

using namespace plat;

HWND g_listView = nullptr;
HWND g_found = nullptr;
int g_failures = 0;

LRESULT PlainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return Windows().DefWindowProc(hwnd, message, wParam, lParam);
}

bool Register(const char* className) {
  WNDCLASS wc{};
  wc.lpfnWndProc = &PlainProc;
  wc.lpszClassName = className;
  return Windows().RegisterClass(wc) != 0;
}

void Report(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!ok) ++g_failures;
}

std::string ClassOf(HWND hwnd) {
  char name[256] = "";
  Windows().GetClassName(hwnd, name, sizeof name);
  return name;
}

// This process gives the list view no children, so any child it has is the program's form.
HWND ForeignChild() {
  return Windows().GetWindow(g_listView, GW_CHILD);
}

// Runs the message loop for up to `ms` milliseconds or until `done` says so. Polls at 50 ms: the
// program's window arrives from another process without a message to this one.
template <class Done>
bool PumpUntil(DWORD ms, Done done) {
  const DWORD start = Clocks().GetTickCount();
  while (!done()) {
    if (Clocks().GetTickCount() - start >= ms) return false;
    MSG msg;
    bool any = false;
    while (Windows().PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
      Windows().TranslateMessage(&msg);
      Windows().DispatchMessage(&msg);
      any = true;
    }
    if (!any) Clocks().Sleep(50);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  win32::Win32Platform platform;
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
  const int sw = Windows().GetSystemMetrics(SM_CXSCREEN), sh = Windows().GetSystemMetrics(SM_CYSCREEN);

  if (HWND other = Windows().FindWindow("ProgMan", nullptr)) {
    std::printf("FAIL: a ProgMan window exists already (%p); the program would find that one\n",
                static_cast<void*>(other));
    return 2;
  }
  if (!Register("Progman") || !Register("SHELLDLL_DefView") || !Register("SysListView32")) {
    std::printf("FAIL: cannot register the shell's window classes (error %lu)\n",
                static_cast<unsigned long>(Sys().GetLastError()));
    return 2;
  }
  HWND progman = Windows().CreateWindowEx(WS_EX_TOOLWINDOW, "Progman", "Program Manager",
                                          WS_POPUP | WS_VISIBLE, 0, 0, sw, sh, nullptr, nullptr, nullptr);
  HWND view = Windows().CreateWindowEx(0, "SHELLDLL_DefView", "", WS_CHILD | WS_VISIBLE, 0, 0, sw, sh,
                                       progman, nullptr, nullptr);
  g_listView = Windows().CreateWindowEx(0, "SysListView32", "FolderView", WS_CHILD | WS_VISIBLE, 0, 0, sw, sh,
                                        view, nullptr, nullptr);
  if (!progman || !view || !g_listView) {
    std::printf("FAIL: cannot create the shell's windows (error %lu)\n",
                static_cast<unsigned long>(Sys().GetLastError()));
    return 2;
  }
  // The program searches by class in another letter case; make sure the lookup finds these windows.
  if (Windows().FindWindow("ProgMan", nullptr) != progman) {
    std::printf("FAIL: FindWindow(\"ProgMan\") does not find the stand-in\n");
    return 2;
  }
  std::printf("READY %dx%d\n", sw, sh);
  std::fflush(stdout);

  if (!PumpUntil(static_cast<DWORD>(seconds) * 1000, [] { return (g_found = ForeignChild()) != nullptr; })) {
    Report(false, "no window of another process became a child of the SysListView32 window within " +
                      std::to_string(seconds) + " s");
    return 1;
  }
  std::printf("ATTACHED\n");
  std::fflush(stdout);
  // Let the program finish its start-up (it sets the parent before it initialises and shows the surface),
  // and give the test a moment for a screenshot.
  PumpUntil(3000, [] { return false; });

  char text[256] = "";
  Windows().GetWindowText(g_found, text, sizeof text);
  const HWND parent = Windows().GetParent(g_found);
  Report(parent == g_listView && ClassOf(parent) == "SysListView32",
         "the program's window \"" + std::string(text) + "\" (class " + ClassOf(g_found) +
             ") is a child of the SysListView32 window");
  Report(Windows().GetParent(parent) == view && Windows().GetParent(view) == progman,
         "that list view is the first child of the first child of the Progman window");
  const auto style = static_cast<DWORD>(Windows().GetWindowLongPtr(g_found, GWL_STYLE));
  Report((style & WS_CHILD) != 0 && (style & WS_POPUP) == 0, "the program's window has the child style");
  RECT r{};
  Windows().GetWindowRect(g_found, &r);
  POINT origin{0, 0};
  Windows().ClientToScreen(g_listView, &origin);
  Report(r.left == origin.x && r.top == origin.y && r.right - r.left == sw && r.bottom - r.top == sh,
         "it lies at the list view's origin with the screen's size (" + std::to_string(r.left) + "," +
             std::to_string(r.top) + " " + std::to_string(r.right - r.left) + "x" +
             std::to_string(r.bottom - r.top) + ")");
  Report(Windows().IsWindowVisible(g_found) != 0, "it is visible");

  // Closing the form ends the program: the window goes away.
  Windows().PostMessage(g_found, WM_CLOSE, 0, 0);
  const bool gone = PumpUntil(5000, [] { return !Windows().IsWindow(g_found); });
  Report(gone, "after WM_CLOSE the program's window is destroyed within 5 s");

  Windows().DestroyWindow(progman);
  return g_failures ? 1 : 0;
}
