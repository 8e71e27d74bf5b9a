// The window manager on an X display: the window tree of platform/common/WindowTree.h, with every window of
// the program realised as an X window (children as X subwindows), the display's input turned into window
// messages, GTK 3 for popup menus and message boxes, and the screen buffer (X11Presenter) copied into the
// windows as the program draws.
//
// The desktop: the managed window whose _NET_WM_WINDOW_TYPE is _NET_WM_WINDOW_TYPE_DESKTOP (the first such
// in _NET_CLIENT_LIST, looked for once, at start) is shown to the program as the shell's windows: a top-level
// "Progman", its child "SHELLDLL_DefView", and that one's child "SysListView32", which is the desktop's X
// window itself. A window the program makes inside it becomes an X child of the desktop's window: above the
// wallpaper and icons, below every application. When the desktop's program ends, the windows inside it
// become top-level windows and the program goes on.
//
// Top-level windows follow the Windows rules through the window manager's hints: no caption means no
// decorations; tool windows and owned windows get no taskbar button (skip-taskbar, skip-pager); a
// borderless window covering the whole screen at its origin is a backdrop: kept below all others, on every
// workspace, out of taskbars and pagers, never given the focus.
//
// Waiting: GetMessage and WaitMessage sleep until the display, a signal or the toolkit has something; SIGINT
// and SIGTERM post WM_QUIT. The vertical-blank wait (WaitForRefresh) sleeps until the display's next
// refresh, taking in input meanwhile.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <map>
#include <memory>

#include "platform/common/WindowTree.h"

namespace plat::x11 {

class X11Connection;
class X11Presenter;
class GtkUi;

class X11WindowSystem final : public soft::WindowTree {
 public:
  X11WindowSystem(X11Connection& x, X11Presenter& presenter);
  ~X11WindowSystem() override;

  BOOL GetMessage(MSG* msg, HWND filter, UINT min, UINT max) override;
  BOOL WaitMessage() override;
  int MessageBox(HWND owner, const char* text, const char* caption, UINT type) override;
  BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, HWND owner) override;
  BOOL GetCursorPos(POINT* point) override;
  // What was drawn through the window's device context is shown.
  int ReleaseDC(HWND hwnd, HDC dc) override;

  // The screen buffer's rectangle r (screen coordinates) changed on behalf of a window (null: of whichever
  // of the program's windows show that part of the screen): copies it into the window.
  void ScreenChanged(HWND window, const RECT& r);
  // Sleeps until the display's next refresh (Present notification; else a timer at the refresh rate),
  // taking in input meanwhile.
  void WaitForRefresh();

  // The desktop's X window that stands for the icon view, 0 without one.
  ::Window DesktopWindow() const { return desktopXid_; }
  // The X window of one of the program's windows (tests, end-to-end tools).
  ::Window NativeOf(HWND hwnd);
  // Off: refreshes come from a timer at the display's refresh rate even where the Present extension is
  // (tests). A display whose notifications stop (three missed in a row, as while the screen is blanked) is
  // paced by the timer until a notification asked for now and then, without waiting for it, comes back.
  void SetPresentEnabled(bool enabled) {
    presentWanted_ = enabled;
    presentUsable_ = enabled && presentAvailable_;
  }
  // Microseconds between such trials; pacing by the timer as after three missed notifications (tests).
  void SetPresentRetryInterval(std::int64_t us) { presentRetryUs_ = us; }
  void SuspendPresent();
  // Refreshes waited for, and how many came from the display rather than the timer.
  std::uint64_t RefreshWaits() const { return refreshWaits_; }
  std::uint64_t PresentedRefreshes() const { return presentedRefreshes_; }

 protected:
  void WindowCreated(Window* w) override;
  void WindowDestroyed(Window* w) override;
  void WindowShown(Window* w) override;
  void WindowPlaced(Window* w, bool moved, bool sized, bool reordered) override;
  void WindowReparented(Window* w) override;
  void WindowRestyled(Window* w, int index) override;
  void WindowRetitled(Window* w) override;
  void CollectInput() override;

 private:
  void TryPresentAgain();
  friend class GtkUi;

  void FindDesktop();
  void Realize(Window* w);
  void RealizeTree(Window* w);
  ::Window ParentXid(Window* w);
  bool Mappable(Window* w);
  void UpdateMapping(Window* w);
  void ApplyTopLevelHints(Window* w);
  bool IsBackdrop(Window* w);
  void Restack(Window* parent);
  Window* FromXid(::Window xid);
  // Takes every event the connection holds; with waitMs > 0 (or < 0: for ever) first sleeps until one comes.
  void Pump(int waitMs);
  void Handle(XEvent& e);
  void DesktopGone();
  void TakeSignals();
  bool SleepUntilInput(int waitMs);
  GtkUi& Gtk();

  X11Connection& x_;
  X11Presenter& presenter_;
  std::unique_ptr<GtkUi> gtk_;
  std::map<::Window, Window*> byXid_;
  ::Window desktopXid_ = 0;
  HWND shell_[3] = {};  // Progman, SHELLDLL_DefView, SysListView32
  int wakeRead_ = -1;
  std::uint32_t presentSerial_ = 0;
  std::uint32_t presentDone_ = 0;
  std::uint64_t refreshWaits_ = 0;
  std::uint64_t presentedRefreshes_ = 0;
  std::int64_t nextTimerRefreshUs_ = 0;
  bool presentAvailable_ = false;
  bool presentWanted_ = true;
  bool presentUsable_ = false;
  int presentFailures_ = 0;
  std::uint32_t presentTrial_ = 0;  // the notification asked for while the timer paces, 0 for none
  std::int64_t nextPresentTrialUs_ = 0;
  std::int64_t presentRetryUs_ = 5000000;
};

}  // namespace plat::x11
