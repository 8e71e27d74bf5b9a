// One connection to the X display for the Linux desktop backend: the screen, its visual, the atoms the
// backend names, the extensions it uses (MIT-SHM, Present, RandR) and the process's X error handlers.
//
// Errors: BadWindow and BadDrawable are expected when another program's window (the desktop's) vanishes
// between a request and its processing, and are ignored; any other error on this connection is printed
// once per kind. Losing the connection ends the process with a message and status 1: nothing can be shown
// any more and every later call would fail the same way.
#pragma once

#include <X11/Xlib.h>

#include <memory>
#include <string>

namespace plat::x11 {

struct Atoms {
  Atom wmProtocols, wmDeleteWindow, wmState, wmTransientFor;
  Atom netClientList, netWmWindowType, netWmWindowTypeDesktop, netWmWindowTypeNormal, netWmWindowTypeDialog;
  Atom netWmState, netWmStateBelow, netWmStateSkipTaskbar, netWmStateSkipPager, netWmStateSticky;
  Atom netWmName, netWmPid, motifWmHints, utf8String;
};

class X11Connection {
 public:
  // Opens the display named by DISPLAY. Null, with the reason, when there is none or it cannot be used.
  static std::unique_ptr<X11Connection> Open(std::string* reason);
  ~X11Connection();
  X11Connection(const X11Connection&) = delete;
  X11Connection& operator=(const X11Connection&) = delete;

  Display* display() const { return dpy_; }
  int fd() const { return ConnectionNumber(dpy_); }
  int screen() const { return screen_; }
  ::Window root() const { return root_; }
  Visual* visual() const { return visual_; }
  int depth() const { return depth_; }
  Colormap colormap() const { return colormap_; }
  // The whole X screen (every monitor).
  int width() const { return width_; }
  int height() const { return height_; }
  // Bits per pixel of the screen's images (32 for 24- and 32-bit visuals, 16 for 5-6-5).
  int bitsPerPixel() const { return bitsPerPixel_; }
  const Atoms& atoms() const { return atoms_; }

  bool hasShm() const { return shm_; }
  int shmCompletionType() const { return shmCompletion_; }
  bool hasPresent() const { return present_; }
  int presentOpcode() const { return presentOpcode_; }
  // Refresh rate of the first active output from RandR, 0 when unknown.
  double refreshRate() const { return refreshRate_; }

  // Errors seen on this connection that were not expected (tests).
  static int UnexpectedErrors();
  // Puts this connection's error handlers back in front after a toolkit installed its own (the toolkit's
  // stay in force for its own connection).
  static void ReclaimErrorHandlers();

 private:
  X11Connection() = default;

  Display* dpy_ = nullptr;
  int screen_ = 0;
  ::Window root_ = 0;
  Visual* visual_ = nullptr;
  int depth_ = 0;
  Colormap colormap_ = 0;
  int width_ = 0, height_ = 0, bitsPerPixel_ = 0;
  Atoms atoms_{};
  bool shm_ = false;
  int shmCompletion_ = -1;
  bool present_ = false;
  int presentOpcode_ = -1;
  double refreshRate_ = 0;
};

}  // namespace plat::x11
