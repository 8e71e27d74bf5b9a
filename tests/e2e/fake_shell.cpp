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
// This is a test program of its own, outside the layered program, so it calls the Windows API directly.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

HWND g_listView = nullptr;
HWND g_found = nullptr;
int g_failures = 0;

LRESULT CALLBACK PlainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

bool Register(const char* className) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = &PlainProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BACKGROUND + 1);
  wc.lpszClassName = className;
  return RegisterClassA(&wc) != 0;
}

void Report(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!ok) ++g_failures;
}

std::string ClassOf(HWND hwnd) {
  char name[256] = "";
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

// A direct child of the list view that belongs to some other process: the program's form.
BOOL CALLBACK FindForeignChild(HWND hwnd, LPARAM) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != GetCurrentProcessId() && GetParent(hwnd) == g_listView) {
    g_found = hwnd;
    return FALSE;
  }
  return TRUE;
}

// Runs the message loop for up to `ms` milliseconds or until `done` says so.
template <class Done>
bool PumpUntil(DWORD ms, Done done) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start >= ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);

  if (HWND other = FindWindowA("ProgMan", nullptr)) {
    std::printf("FAIL: a ProgMan window exists already (%p); the program would find that one\n",
                static_cast<void*>(other));
    return 2;
  }
  if (!Register("Progman") || !Register("SHELLDLL_DefView") || !Register("SysListView32")) {
    std::printf("FAIL: cannot register the shell's window classes (error %lu)\n", GetLastError());
    return 2;
  }
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  HWND progman = CreateWindowExA(WS_EX_TOOLWINDOW, "Progman", "Program Manager", WS_POPUP | WS_VISIBLE, 0, 0,
                                 sw, sh, nullptr, nullptr, instance, nullptr);
  HWND view = CreateWindowExA(0, "SHELLDLL_DefView", "", WS_CHILD | WS_VISIBLE, 0, 0, sw, sh, progman,
                              nullptr, instance, nullptr);
  g_listView = CreateWindowExA(0, "SysListView32", "FolderView", WS_CHILD | WS_VISIBLE, 0, 0, sw, sh, view,
                               nullptr, instance, nullptr);
  if (!progman || !view || !g_listView) {
    std::printf("FAIL: cannot create the shell's windows (error %lu)\n", GetLastError());
    return 2;
  }
  // The program searches by class in another letter case; make sure the lookup finds these windows.
  if (FindWindowA("ProgMan", nullptr) != progman) {
    std::printf("FAIL: FindWindow(\"ProgMan\") does not find the stand-in\n");
    return 2;
  }
  std::printf("READY %dx%d\n", sw, sh);
  std::fflush(stdout);

  if (!PumpUntil(static_cast<DWORD>(seconds) * 1000, [] {
        EnumChildWindows(g_listView, &FindForeignChild, 0);
        return g_found != nullptr;
      })) {
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
  GetWindowTextA(g_found, text, sizeof text);
  const HWND parent = GetParent(g_found);
  Report(parent == g_listView && ClassOf(parent) == "SysListView32",
         "the program's window \"" + std::string(text) + "\" (class " + ClassOf(g_found) +
             ") is a child of the SysListView32 window");
  Report(GetParent(parent) == view && GetParent(view) == progman,
         "that list view is the first child of the first child of the Progman window");
  const LONG style = GetWindowLongA(g_found, GWL_STYLE);
  Report((style & WS_CHILD) != 0 && (style & WS_POPUP) == 0, "the program's window has the child style");
  RECT r{};
  GetWindowRect(g_found, &r);
  POINT origin{0, 0};
  ClientToScreen(g_listView, &origin);
  Report(r.left == origin.x && r.top == origin.y && r.right - r.left == sw && r.bottom - r.top == sh,
         "it lies at the list view's origin with the screen's size (" + std::to_string(r.left) + "," +
             std::to_string(r.top) + " " + std::to_string(r.right - r.left) + "x" +
             std::to_string(r.bottom - r.top) + ")");
  Report(IsWindowVisible(g_found) != FALSE, "it is visible");

  // Closing the form ends the program: the window goes away.
  PostMessageA(g_found, WM_CLOSE, 0, 0);
  const bool gone = PumpUntil(5000, [] { return !IsWindow(g_found); });
  Report(gone, "after WM_CLOSE the program's window is destroyed within 5 s");

  DestroyWindow(progman);
  return g_failures ? 1 : 0;
}
