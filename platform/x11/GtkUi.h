// GTK 3 for what the X11 window manager shows that the program does not draw itself: popup menus and
// message boxes (a message box's text also goes to standard error as "[caption] text", as in headless runs).
// GTK starts on first use (a run that never opens a menu pays nothing for it) on a connection of its own;
// from then on the window manager's waits run GLib's main loop, which watches this backend's connection and
// signal pipe too, so one loop serves both.
#pragma once

#include "platform/x11/X11Windows.h"

typedef struct _GSource GSource;
typedef struct _GtkWidget GtkWidget;

namespace plat::x11 {

class GtkUi {
 public:
  explicit GtkUi(X11WindowSystem& ws);
  ~GtkUi();
  GtkUi(const GtkUi&) = delete;
  GtkUi& operator=(const GtkUi&) = delete;

  // Starts GTK if it has not been; false when it cannot (then menus are cancelled and message boxes go to
  // standard error).
  bool Start();
  bool Started() const { return started_; }
  // One pass of the main loop, sleeping until something happens.
  void Wait();
  // What the main loop has ready, without sleeping.
  void Drain();
  // Ends an open menu or message box (the program is told to end).
  void CancelModal();
  // The main loop found the display's connection or the signal pipe ready.
  void TakeDisplayInput();

  int MessageBox(HWND owner, const char* text, const char* caption, UINT type);
  // Shows the menu at the screen point and returns the command chosen, 0 when cancelled. With a notify
  // window, each submenu sends it WM_INITMENUPOPUP as it opens.
  UINT TrackMenu(X11WindowSystem::Menu* menu, int x, int y, HWND notify);

 private:
  GtkWidget* BuildMenu(X11WindowSystem::Menu* menu, int depth, HWND notify);

  X11WindowSystem& ws_;
  bool tried_ = false;
  bool started_ = false;
  GSource* source_ = nullptr;
  GtkWidget* modal_ = nullptr;
  HWND notify_ = nullptr;
  bool menuDone_ = false;
  UINT chosen_ = 0;
};

}  // namespace plat::x11
