// Stand-in for the shell's desktop windows in the end-to-end check (scripts/e2e-windows.sh). It builds one
// arrangement of the desktop the way a version of Windows does, pumps its messages (a window of a thread
// that does not would never paint and its children would get no input), waits for the program's form to
// turn up, and checks through the window manager where it went:
//
//   plain         "Progman" > "SHELLDLL_DefView" > "SysListView32": the form is a child of the list view
//   win11         the same, with a "WorkerW" wallpaper window as Progman's second child (Windows 11 24H2)
//   win10         an empty "Progman" and a top-level "WorkerW" > "SHELLDLL_DefView" > "SysListView32", with
//   an
//                 empty "WorkerW" above it (Windows 10 and 11 once a program asked for a wallpaper layer):
//                 the form is a child of that list view
//   icons-hidden  the plain arrangement with the list view hidden (desktop icons off): the form is a child
//                 of "SHELLDLL_DefView"
//   none          no shell windows: the form stays a top-level window without a taskbar button, below a
//                 window opened after it, also once a click on the snow has activated it and once it has been
//                 asked to come to the top
//
// Usage: e2e-fake-shell.exe ARRANGEMENT [seconds]   (default 30: how long to wait for the program)
// Prints "READY WxH" once its windows exist, "FOUND" when the program's form turns up, "SHOWN" once it is
// visible; for "none" then "CLICK X Y" (the script clicks there; this waits until the form is activated) and
// "CLICKED" after the checks that follow. Then PASS/FAIL lines; it closes the form and waits for it to go.
// Exits 0 when every check passed, 1 when one failed, 2 when it could not set itself up.
//
// It runs on the real window manager through the platform layer's Windows backend.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Gdi.h"
#include "platform/Platform.h"
#include "platform/System.h"
#include "platform/Windows.h"
#include "platform/win32/Win32Platform.h"

namespace {

using namespace plat;

const char* const kFormTitle = "Kirno Desktop";
// The user's own windows in the "none" arrangement, in a colour the screenshot can find.
const COLORREF kUserWindowColour = RGB(255, 0, 255);

int g_failures = 0;
int g_screenWidth = 0, g_screenHeight = 0;
std::vector<HWND> g_ours;  // every window this process made: the form is the window that is not one of them

LRESULT PlainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return Windows().DefWindowProc(hwnd, message, wParam, lParam);
}

bool Register(const char* className, HBRUSH background = nullptr) {
  WNDCLASS wc{};
  wc.lpfnWndProc = &PlainProc;
  wc.lpszClassName = className;
  wc.hbrBackground = background;
  return Windows().RegisterClass(wc) != 0;
}

void Report(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!ok) ++g_failures;
}

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

std::string ClassOf(HWND hwnd) {
  char name[256] = "";
  Windows().GetClassName(hwnd, name, sizeof name);
  return name;
}

std::string Describe(HWND hwnd) {
  if (!hwnd) return "nothing";
  if (hwnd == Windows().GetDesktopWindow()) return "the desktop (a top-level window)";
  return "a \"" + ClassOf(hwnd) + "\" window";
}

std::string RectText(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + "x" +
         std::to_string(r.bottom - r.top);
}

HWND Make(const char* className, HWND parent, bool visible = true) {
  const DWORD style =
      (parent ? WS_CHILD : WS_POPUP) | WS_CLIPCHILDREN | WS_CLIPSIBLINGS | (visible ? WS_VISIBLE : 0);
  HWND h = Windows().CreateWindowEx(parent ? 0 : WS_EX_TOOLWINDOW, className, "", style, 0, 0, g_screenWidth,
                                    g_screenHeight, parent, nullptr, nullptr);
  if (h) g_ours.push_back(h);
  return h;
}

HWND MakeUserWindow(const char* title, int x, int y) {
  HWND h = Windows().CreateWindowEx(0, "E2EUserWindow", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y, 320,
                                    240, nullptr, nullptr, nullptr);
  if (h) g_ours.push_back(h);
  return h;
}

bool Ours(HWND hwnd) {
  return std::find(g_ours.begin(), g_ours.end(), hwnd) != g_ours.end();
}

// The program's form: a window of another process inside one of ours, or its top-level window.
HWND FindForm() {
  for (HWND w : g_ours) {
    for (HWND c = Windows().GetWindow(w, GW_CHILD); c; c = Windows().GetWindow(c, GW_HWNDNEXT)) {
      if (!Ours(c)) return c;
    }
  }
  return Windows().FindWindow(nullptr, kFormTitle);
}

// Runs the message loop for up to `ms` milliseconds or until `done` says so. Polls at 50 ms: the
// program's windows change in another process without a message to this one.
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

// Position in the z-order of top-level windows (0 at the top), -1 when not a top-level window.
int Depth(HWND hwnd) {
  int i = 0;
  for (HWND w = Windows().GetWindow(Windows().GetDesktopWindow(), GW_CHILD); w;
       w = Windows().GetWindow(w, GW_HWNDNEXT), ++i) {
    if (w == hwnd) return i;
  }
  return -1;
}

// The visible top-level windows from the top, for a failure's report.
std::string VisibleZOrder() {
  std::string out;
  int i = 0;
  for (HWND w = Windows().GetWindow(Windows().GetDesktopWindow(), GW_CHILD); w;
       w = Windows().GetWindow(w, GW_HWNDNEXT), ++i) {
    if (!Windows().IsWindowVisible(w)) continue;
    char title[64] = "";
    Windows().GetWindowText(w, title, sizeof title);
    out += " " + std::to_string(i) + ":" + ClassOf(w) + "\"" + title + "\"";
  }
  return out;
}

void ReportAbove(HWND user, const char* which, HWND form, const std::string& when) {
  const int u = Depth(user), f = Depth(form);
  const bool ok = u >= 0 && f >= 0 && u < f;
  Report(ok, std::string("the ") + which + " window lies above the form " + when + " (z-order positions " +
                 std::to_string(u) + " and " + std::to_string(f) + ")" +
                 (ok ? "" : "; visible windows from the top:" + VisibleZOrder()));
}

struct Arrangement {
  HWND progman = nullptr, defView = nullptr, listView = nullptr;
  HWND expected = nullptr;  // the form's parent; null: top-level
  std::string expectedText;
};

// Builds the shell's windows; false when the system would not make them as asked.
bool Build(const std::string& name, Arrangement& a) {
  if (name == "none") {
    a.expectedText = "the desktop (a top-level window)";
    return true;
  }
  a.progman = Make("Progman", nullptr);
  if (!a.progman) return false;
  Windows().SetWindowText(a.progman, "Program Manager");
  if (name == "plain" || name == "win11" || name == "icons-hidden") {
    HWND wallpaper = name == "win11" ? Make("WorkerW", a.progman) : nullptr;
    a.defView = Make("SHELLDLL_DefView", a.progman);
    a.listView = Make("SysListView32", a.defView, name != "icons-hidden");
    if (!a.defView || !a.listView || (name == "win11" && !wallpaper)) return false;
    // The view window is Progman's first child, the wallpaper's window below it.
    Windows().SetWindowPos(a.defView, HWND_TOP(), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (Windows().GetWindow(a.progman, GW_CHILD) != a.defView) return false;
    if (wallpaper && Windows().GetWindow(a.defView, GW_HWNDNEXT) != wallpaper) return false;
    a.expected = name == "icons-hidden" ? a.defView : a.listView;
    a.expectedText = name == "icons-hidden" ? "the SHELLDLL_DefView window (the hidden list view's parent)"
                                            : "the SysListView32 window";
    return true;
  }
  if (name == "win10") {
    HWND worker = Make("WorkerW", nullptr);
    a.defView = worker ? Make("SHELLDLL_DefView", worker) : nullptr;
    a.listView = a.defView ? Make("SysListView32", a.defView) : nullptr;
    HWND empty = Make("WorkerW", nullptr);
    if (!a.listView || !empty) return false;
    Windows().SetWindowPos(empty, HWND_TOP(), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (Depth(empty) > Depth(worker) || Windows().GetWindow(a.progman, GW_CHILD)) return false;
    a.expected = a.listView;
    a.expectedText = "the SysListView32 window inside the top-level WorkerW";
    return true;
  }
  return false;
}

void CheckAttached(const Arrangement& a, HWND form) {
  const DWORD style = static_cast<DWORD>(Windows().GetWindowLongPtr(form, GWL_STYLE));
  Report((style & WS_CHILD) != 0 && (style & WS_POPUP) == 0, "the form has the child style");
  RECT r{};
  Windows().GetWindowRect(form, &r);
  POINT origin{0, 0};
  Windows().ClientToScreen(a.expected, &origin);
  Report(r.left == origin.x && r.top == origin.y && r.right - r.left == g_screenWidth &&
             r.bottom - r.top == g_screenHeight,
         "it lies at its parent's origin with the screen's size (" + RectText(r) + ")");
  Report(Windows().IsWindowVisible(form) != 0, "it is visible");
}

// Under wine the user's windows can only be checked once the form is there: its X11 driver never lowers an
// X window, and takes the Windows z-order over from the X stacking when a window is exposed, so a form
// mapped over windows already open ends up above them there whatever the program asks for.
void CheckTopLevel(HWND form) {
  const DWORD style = static_cast<DWORD>(Windows().GetWindowLongPtr(form, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(Windows().GetWindowLongPtr(form, GWL_EXSTYLE));
  Report((style & WS_POPUP) != 0 && (style & (WS_CHILD | WS_CAPTION)) == 0,
         "the form is a borderless pop-up window");
  RECT r{};
  Windows().GetWindowRect(form, &r);
  Report(r.left == 0 && r.top == 0 && r.right == g_screenWidth && r.bottom == g_screenHeight,
         "it covers the screen (" + RectText(r) + ")");
  Report(Windows().IsWindowVisible(form) != 0, "it is visible");
  // A visible top-level window gets a taskbar button when it is unowned and no tool window, or has
  // WS_EX_APPWINDOW; the form is owned by the application window, which is a tool window.
  HWND owner = Windows().GetWindow(form, GW_OWNER);
  const DWORD ownerEx = owner ? static_cast<DWORD>(Windows().GetWindowLongPtr(owner, GWL_EXSTYLE)) : 0;
  Report(owner && !(exStyle & WS_EX_APPWINDOW) && (ownerEx & WS_EX_TOOLWINDOW) &&
             !(ownerEx & WS_EX_APPWINDOW) && !Windows().GetWindow(owner, GW_OWNER),
         "no taskbar button: the form is owned by a tool window and neither asks for a button");

  HWND user = MakeUserWindow("opened after the program", 600, 440);
  if (!user) {
    Report(false, "cannot open a window after the program");
    return;
  }
  Windows().SetForegroundWindow(user);
  PumpUntil(500, [] { return false; });
  ReportAbove(user, "user's", form, "when it is opened");

  // A click on the snow, away from the user's window, activates the form; it must not come forward.
  const bool activeBefore = Windows().GetForegroundWindow() == form;
  Say("CLICK 400 200");
  const bool activated = PumpUntil(8000, [&] { return Windows().GetForegroundWindow() == form; });
  Report(!activeBefore && activated,
         "the click on the snow activates the form (it becomes the foreground window)");
  PumpUntil(500, [] { return false; });
  ReportAbove(user, "user's", form, "after the click");
  // Windows also raises a window it activates; wine leaves that to the window manager. Ask for it
  // directly: the form hears of it first and keeps its place.
  Windows().SetWindowPos(form, HWND_TOP(), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  PumpUntil(500, [] { return false; });
  ReportAbove(user, "user's", form, "after it was asked to come to the top");
  Say("CLICKED");
  // Time for the script's screenshot.
  PumpUntil(1500, [] { return false; });
}

}  // namespace

int main(int argc, char** argv) {
  win32::Win32Platform platform;
  const std::string arrangement = argc > 1 ? argv[1] : "";
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 30;
  g_screenWidth = Windows().GetSystemMetrics(SM_CXSCREEN);
  g_screenHeight = Windows().GetSystemMetrics(SM_CYSCREEN);

  for (const char* cls : {"ProgMan", "WorkerW"}) {
    if (HWND other = Windows().FindWindow(cls, nullptr)) {
      std::printf("FAIL: a %s window exists already (%p); the program would find that one\n", cls,
                  static_cast<void*>(other));
      return 2;
    }
  }
  if (!Register("Progman") || !Register("WorkerW") || !Register("SHELLDLL_DefView") ||
      !Register("SysListView32") ||
      !Register("E2EUserWindow", GdiSvc().CreateSolidBrush(kUserWindowColour))) {
    std::printf("FAIL: cannot register the window classes (error %lu)\n",
                static_cast<unsigned long>(Sys().GetLastError()));
    return 2;
  }
  Arrangement a;
  if (!Build(arrangement, a)) {
    std::printf(
        "FAIL: cannot build the arrangement \"%s\" (plain, win11, win10, icons-hidden or none; error %lu)\n",
        arrangement.c_str(), static_cast<unsigned long>(Sys().GetLastError()));
    return 2;
  }
  // The program searches by class in another letter case; make sure the lookup finds these windows.
  if (a.progman && Windows().FindWindow("ProgMan", nullptr) != a.progman) {
    std::printf("FAIL: FindWindow(\"ProgMan\") does not find the stand-in\n");
    return 2;
  }
  std::printf("READY %dx%d\n", g_screenWidth, g_screenHeight);
  std::fflush(stdout);

  HWND form = nullptr;
  if (!PumpUntil(static_cast<DWORD>(seconds) * 1000, [&] { return (form = FindForm()) != nullptr; })) {
    Report(false, "the program's form did not turn up within " + std::to_string(seconds) + " s");
    return 1;
  }
  Say("FOUND");
  // The program sets the parent before it initialises and shows the surface.
  const bool shown = PumpUntil(15000, [&] { return Windows().IsWindowVisible(form) != 0; });
  Say("SHOWN");
  PumpUntil(500, [] { return false; });

  const HWND parent = Windows().GetAncestor(form, GA_PARENT);
  const HWND want = a.expected ? a.expected : Windows().GetDesktopWindow();
  Report(parent == want, "the form is a child of " + a.expectedText + "; it is in " + Describe(parent));
  if (parent == want) {
    if (a.expected)
      CheckAttached(a, form);
    else
      CheckTopLevel(form);
  } else if (!shown) {
    Report(false, "the form is not visible");
  }

  // Closing the form ends the program: the window goes away.
  Windows().PostMessage(form, WM_CLOSE, 0, 0);
  const bool gone = PumpUntil(5000, [&] { return !Windows().IsWindow(form); });
  Report(gone, "after WM_CLOSE the program's form is destroyed within 5 s");

  for (auto it = g_ours.rbegin(); it != g_ours.rend(); ++it) {
    if (Windows().IsWindow(*it)) Windows().DestroyWindow(*it);
  }
  return g_failures ? 1 : 0;
}
