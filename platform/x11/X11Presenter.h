// The screen's pixels for the Linux desktop backend: one buffer the size of the X screen, in shared memory
// with the X server when it allows (MIT-SHM), which the software DirectDraw and GDI draw into. Presenting
// copies a rectangle of it into one of the program's X windows; the server copies straight out of the shared
// segment, so a frame costs one copy in this process (back surface to screen buffer) and one in the server.
// Without shared memory (a remote display, or DESKTOP_SNOW_NO_SHM set in the environment to rule it out when
// a display misbehaves) the same rectangle goes over the wire with XPutImage.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>

#include <cstdint>
#include <vector>

namespace plat::x11 {

class X11Connection;

class X11Presenter {
 public:
  explicit X11Presenter(X11Connection& x);
  ~X11Presenter();
  X11Presenter(const X11Presenter&) = delete;
  X11Presenter& operator=(const X11Presenter&) = delete;

  std::uint8_t* bits() const { return bits_; }
  int pitch() const { return pitch_; }
  bool shared() const { return shared_; }

  // Copies the w x h pixels at (sx, sy) of the buffer to (dx, dy) of the window.
  void Put(::Window window, int sx, int sy, int dx, int dy, int w, int h);
  // The server reports a shared-memory copy as done; returns true for such an event.
  bool TakeEvent(const XEvent& e);
  // Copies the server has not yet reported done (the buffer must not change under them).
  int PendingPuts() const { return pending_; }
  // Forgets copies that will never be reported (their window vanished) or were waited for long enough; a
  // late report of one of them is taken without counting for a later copy.
  void ForgetPending();
  std::uint64_t Puts() const { return puts_; }

 private:
  X11Connection& x_;
  XImage* image_ = nullptr;
  XShmSegmentInfo segment_{};
  bool shared_ = false;
  std::vector<std::uint8_t> plain_;  // the buffer when it is not shared
  std::uint8_t* bits_ = nullptr;
  int pitch_ = 0;
  GC gc_ = nullptr;
  int pending_ = 0;
  unsigned long forgetBefore_ = 0;  // reports of requests before this one are of forgotten copies
  std::uint64_t puts_ = 0;
};

}  // namespace plat::x11
