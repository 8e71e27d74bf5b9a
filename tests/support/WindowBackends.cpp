#include "support/WindowBackends.h"

#include <cstdlib>
#include <sstream>

#include "platform/Platform.h"
#include "platform/soft/SoftPlatform.h"
#include "platform/soft/SoftWindows.h"
#include "support/Xvfb.h"  // GoogleTest before Xlib, whose macros (None, Bool ...) break it

#ifdef _WIN32
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Platform.h"
#endif

#ifdef DS_HAVE_X11
#include "platform/x11/X11Api.h"

#include <glib.h>

#include <map>
#include <stdexcept>

#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Platform.h"
#include "platform/x11/X11Windows.h"
#endif

namespace contract {

namespace {

// The children in the window manager's own order, top first.
std::vector<plat::HWND> ChildrenInOrder(plat::WindowSystem& ws, plat::HWND parent) {
  using namespace plat;  // the names are macros in the Windows build
  std::vector<plat::HWND> out;
  for (plat::HWND c = ws.GetWindow(parent, GW_CHILD); c; c = ws.GetWindow(c, GW_HWNDNEXT)) out.push_back(c);
  return out;
}

}  // namespace

bool BackendRequired(const char* name) {
  const char* list = std::getenv("DS_REQUIRE_BACKEND");
  if (!list) return false;
  std::stringstream s(list);
  std::string item;
  while (std::getline(s, item, ','))
    if (item == name) return true;
  return false;
}

// ---- soft ----

SoftBackend::SoftBackend() : platform_(std::make_unique<plat::soft::SoftPlatform>()) {}
SoftBackend::~SoftBackend() = default;

plat::WindowSystem& SoftBackend::ws() {
  return platform_->windows();
}

plat::HWND SoftBackend::DesktopIconView() {
  return platform_->windows().CreateDesktopShell().listView;
}

std::vector<plat::HWND> SoftBackend::Stacking(plat::HWND parent) {
  return ChildrenInOrder(ws(), parent);
}

plat::BOOL SoftBackend::TrackPopupMenu(plat::HMENU menu, plat::UINT flags, int x, int y, plat::HWND owner,
                                       plat::UINT choose) {
  if (choose)
    platform_->windows().QueueMenuChoice(choose);
  else
    platform_->windows().QueueMenuCancel();
  return platform_->windows().TrackPopupMenu(menu, flags, x, y, owner);
}

// ---- win32 ----

#ifdef _WIN32

namespace {

plat::LRESULT PlainProc(plat::HWND h, plat::UINT m, plat::WPARAM w, plat::LPARAM l) {
  return plat::Windows().DefWindowProc(h, m, w, l);
}

const char* const kShellClasses[] = {"Progman", "SHELLDLL_DefView", "SysListView32"};

// The keys the user presses in the open menu; empty: a click elsewhere.
std::vector<::WPARAM> g_keys;
::HWND g_keyTarget = nullptr;

// The menu loop takes keyboard messages from the thread's queue, whichever window they name.
void CALLBACK ActAsUser(::HWND, ::UINT, ::UINT_PTR id, ::DWORD) {
  ::KillTimer(nullptr, id);
  if (g_keys.empty()) {
    ::EndMenu();
    return;
  }
  for (::WPARAM k : g_keys) ::PostMessageA(g_keyTarget, WM_KEYDOWN, k, 1);
}

}  // namespace

Win32Backend::Win32Backend() : platform_(std::make_unique<plat::win32::Win32Platform>()) {
  // Whatever an earlier test left in the thread's queue is not this test's.
  ::MSG m;
  while (::PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
  }
}

Win32Backend::~Win32Backend() {
  for (auto it = shell_.rbegin(); it != shell_.rend(); ++it)
    if (ws().IsWindow(*it)) ws().DestroyWindow(*it);
  if (!shell_.empty())
    for (const char* c : kShellClasses) ws().UnregisterClass(c, nullptr);
}

plat::WindowSystem& Win32Backend::ws() {
  return plat::Windows();
}

plat::HWND Win32Backend::DesktopIconView() {
  for (const char* c : kShellClasses) {
    plat::WNDCLASS wc{};
    wc.lpfnWndProc = &PlainProc;
    wc.lpszClassName = c;
    if (!ws().RegisterClass(wc)) return nullptr;
  }
  const int w = ws().GetSystemMetrics(SM_CXSCREEN), h = ws().GetSystemMetrics(SM_CYSCREEN);
  plat::HWND progman =
      ws().CreateWindowEx(0, "Progman", "Program Manager", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, w,
                          h, nullptr, nullptr, nullptr);
  plat::HWND defView = ws().CreateWindowEx(0, "SHELLDLL_DefView", "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN,
                                           0, 0, w, h, progman, nullptr, nullptr);
  plat::HWND view = ws().CreateWindowEx(0, "SysListView32", "FolderView", WS_CHILD | WS_VISIBLE, 0, 0, w, h,
                                        defView, nullptr, nullptr);
  shell_ = {progman, defView, view};
  return view;
}

std::vector<plat::HWND> Win32Backend::Stacking(plat::HWND parent) {
  return ChildrenInOrder(ws(), parent);
}

plat::BOOL Win32Backend::TrackPopupMenu(plat::HMENU menu, plat::UINT flags, int x, int y, plat::HWND owner,
                                        plat::UINT choose) {
  // The first Down selects the first item; separators are passed over.
  g_keys.clear();
  const int n = ws().GetMenuItemCount(menu);
  for (int i = 0; choose && i < n; ++i) {
    if (ws().GetMenuState(menu, i, MF_BYPOSITION) & MF_SEPARATOR) continue;
    g_keys.push_back(VK_DOWN);
    if (ws().GetMenuItemID(menu, i) == choose) {
      g_keys.push_back(VK_RETURN);
      break;
    }
  }
  if (!g_keys.empty() && g_keys.back() != VK_RETURN) g_keys.clear();
  g_keyTarget = plat::win32::H<::HWND>(owner);
  const ::UINT_PTR timer = ::SetTimer(nullptr, 0, 100, &ActAsUser);
  const plat::BOOL r = ws().TrackPopupMenu(menu, flags, x, y, owner);
  ::KillTimer(nullptr, timer);
  return r;
}

#endif  // _WIN32

// ---- x11 ----

#ifdef DS_HAVE_X11

namespace {

// The keys the user presses in the open menu, typed on the display by the menu loop's timeout.
struct Typing {
  ::Display* display;
  std::vector<KeySym> keys;
  guint source = 0;
};

gboolean TypeKeys(gpointer data) {
  auto* t = static_cast<Typing*>(data);
  // An open menu holds the keyboard; until it does, keys would go elsewhere.
  const ::Window root = DefaultRootWindow(t->display);
  if (XGrabKeyboard(t->display, root, False, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess) {
    XUngrabKeyboard(t->display, CurrentTime);
    XSync(t->display, False);
    return G_SOURCE_CONTINUE;
  }
  t->source = 0;
  for (KeySym k : t->keys) {
    const KeyCode code = XKeysymToKeycode(t->display, k);
    XTestFakeKeyEvent(t->display, code, True, 0);
    XTestFakeKeyEvent(t->display, code, False, 0);
  }
  XFlush(t->display);
  return G_SOURCE_REMOVE;
}

}  // namespace

// GTK's menus load fonts through fontconfig, whose caches live as long as the process and are never freed:
// the leak checker of the sanitizer builds is told they are not the program's.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}

std::string X11Backend::Unavailable() {
  if (!support::Xvfb::Running()) return "Xvfb is not installed";
  return {};
}

X11Backend::X11Backend() {
  desktop_ = XOpenDisplay(nullptr);
  if (!desktop_) throw std::runtime_error("cannot open the display Xvfb serves");
  desktopWindow_ = support::MakeStandInDesktop(desktop_);
  std::string why;
  platform_ = plat::x11::X11Platform::Open(plat::DesktopOptions{}, &why);
  if (!platform_) {
    XCloseDisplay(desktop_);
    throw std::runtime_error("the X11 backend cannot open the display: " + why);
  }
}

X11Backend::~X11Backend() {
  platform_.reset();
  support::EndStandInDesktop(desktop_, desktopWindow_);
  XCloseDisplay(desktop_);
}

plat::WindowSystem& X11Backend::ws() {
  return platform_->windows();
}

void X11Backend::Settle() {
  // The server has done all that was asked and its answers are in the queue.
  XSync(platform_->connection().display(), False);
  plat::MSG m;
  ws().PeekMessage(&m, nullptr, 0, 0, plat::PM_NOREMOVE);
}

plat::HWND X11Backend::DesktopIconView() {
  plat::HWND progman = ws().FindWindow("Progman", nullptr);
  plat::HWND defView = progman ? ws().GetWindow(progman, plat::GW_CHILD) : nullptr;
  return defView ? ws().GetWindow(defView, plat::GW_CHILD) : nullptr;
}

std::vector<plat::HWND> X11Backend::Stacking(plat::HWND parent) {
  // The X server's order of the parent's subwindows (bottom first), named by the program's windows.
  std::map<::Window, plat::HWND> byXid;
  for (plat::HWND c : ChildrenInOrder(ws(), parent)) byXid[platform_->windows().NativeOf(c)] = c;
  ::Display* dpy = platform_->connection().display();
  XSync(dpy, False);
  ::Window root = 0, xparent = 0, *kids = nullptr;
  unsigned n = 0;
  std::vector<plat::HWND> out;
  if (!XQueryTree(dpy, platform_->windows().NativeOf(parent), &root, &xparent, &kids, &n)) return out;
  for (unsigned i = n; i-- > 0;) {
    auto it = byXid.find(kids[i]);
    if (it != byXid.end()) out.push_back(it->second);
  }
  if (kids) XFree(kids);
  return out;
}

plat::BOOL X11Backend::TrackPopupMenu(plat::HMENU menu, plat::UINT flags, int x, int y, plat::HWND owner,
                                      plat::UINT choose) {
  // As on Windows, the first Down selects the first item and separators are passed over; Escape cancels.
  Typing typing{desktop_, {}};
  const int n = ws().GetMenuItemCount(menu);
  for (int i = 0; choose && i < n; ++i) {
    if (ws().GetMenuState(menu, i, plat::MF_BYPOSITION) & plat::MF_SEPARATOR) continue;
    typing.keys.push_back(XK_Down);
    if (ws().GetMenuItemID(menu, i) == choose) {
      typing.keys.push_back(XK_Return);
      break;
    }
  }
  if (typing.keys.empty() || typing.keys.back() != XK_Return) typing.keys = {XK_Escape};
  typing.source = g_timeout_add(100, &TypeKeys, &typing);
  const plat::BOOL r = ws().TrackPopupMenu(menu, flags, x, y, owner);
  if (typing.source) g_source_remove(typing.source);
  return r;
}

#endif  // DS_HAVE_X11

}  // namespace contract
