// The window-system backends the contract suite (tests/platform/window_contract_test.cpp) runs against.
//
// A backend type B provides:
//   static const char* Name();         the suffix of the test names ("soft", "win32", "x11")
//   static std::string Unavailable();  why it cannot run here (empty: it can); its tests are then skipped,
//                                      or fail when DS_REQUIRE_BACKEND names it (CI under a display)
//   B();                               makes the backend and installs its services (plat::Windows() ...)
//   plat::WindowSystem& ws();
//   void Settle();                     lets the system catch up with what it handles asynchronously
//   plat::HWND DesktopIconView();      the desktop icon view, made for the test where the backend has no
//                                      shell of its own; null when it cannot offer one (the test is skipped)
//   std::vector<plat::HWND> Stacking(parent);
//                                      the parent's children as the system stacks them on the screen, top
//                                      first (where the system has a window tree of its own, its order)
//   plat::BOOL TrackPopupMenu(menu, flags, x, y, owner, choose);
//                                      tracks the menu and, acting as the user, picks the item whose command
//                                      id is `choose` (an enabled item of the menu itself, not of a submenu,
//                                      reached by keyboard), or cancels the menu when `choose` is 0
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Windows.h"

namespace plat::soft {
class SoftPlatform;
}
namespace plat::win32 {
class Win32Platform;
}
namespace plat::x11 {
class X11Platform;
}
struct _XDisplay;

namespace contract {

// The in-memory window system: everything happens at once, menus are scripted.
class SoftBackend {
 public:
  static const char* Name() { return "soft"; }
  static std::string Unavailable() { return {}; }
  SoftBackend();
  ~SoftBackend();

  plat::WindowSystem& ws();
  void Settle() {}
  plat::HWND DesktopIconView();
  std::vector<plat::HWND> Stacking(plat::HWND parent);
  plat::BOOL TrackPopupMenu(plat::HMENU menu, plat::UINT flags, int x, int y, plat::HWND owner,
                            plat::UINT choose);

 private:
  std::unique_ptr<plat::soft::SoftPlatform> platform_;
};

#ifdef _WIN32
// The real window manager (wine in CI). The shell's desktop windows are made in-process as the shell makes
// them; the user's part in a popup menu is played from a timer that fires inside the system's menu loop.
class Win32Backend {
 public:
  static const char* Name() { return "win32"; }
  static std::string Unavailable() { return {}; }
  Win32Backend();
  ~Win32Backend();

  plat::WindowSystem& ws();
  void Settle() {}
  plat::HWND DesktopIconView();
  std::vector<plat::HWND> Stacking(plat::HWND parent);
  plat::BOOL TrackPopupMenu(plat::HMENU menu, plat::UINT flags, int x, int y, plat::HWND owner,
                            plat::UINT choose);

 private:
  std::unique_ptr<plat::win32::Win32Platform> platform_;
  std::vector<plat::HWND> shell_;
};
#endif

#ifdef DS_HAVE_X11
// The X11 window manager on the test program's own Xvfb (support/Xvfb.h, which the suite registers). A
// stand-in desktop program's window, listed as a window manager lists it, is there before the backend opens,
// so the shell's icon view exists as on a user's desktop. The user's part in a GTK popup menu is played as
// key presses (XTest) from a timeout in the GLib main loop the menu runs.
class X11Backend {
 public:
  static const char* Name() { return "x11"; }
  static std::string Unavailable();
  X11Backend();
  ~X11Backend();

  plat::WindowSystem& ws();
  void Settle();
  plat::HWND DesktopIconView();
  std::vector<plat::HWND> Stacking(plat::HWND parent);
  plat::BOOL TrackPopupMenu(plat::HMENU menu, plat::UINT flags, int x, int y, plat::HWND owner,
                            plat::UINT choose);

 private:
  _XDisplay* desktop_ = nullptr;  // the stand-in desktop program's connection
  unsigned long desktopWindow_ = 0;
  std::unique_ptr<plat::x11::X11Platform> platform_;
};
#endif

// Whether the backend named must run (DS_REQUIRE_BACKEND, a comma-separated list of names).
bool BackendRequired(const char* name);

}  // namespace contract
