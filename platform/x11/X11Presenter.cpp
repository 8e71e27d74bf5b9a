#include "platform/x11/X11Presenter.h"

#include <X11/Xutil.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/x11/X11Connection.h"

namespace plat::x11 {

namespace {
// Set while attaching: a server that cannot reach the segment (another machine) answers with an error.
bool g_attachFailed = false;
int OnAttachError(Display*, XErrorEvent*) {
  g_attachFailed = true;
  return 0;
}
}  // namespace

X11Presenter::X11Presenter(X11Connection& x) : x_(x) {
  Display* dpy = x.display();
  const int w = x.width(), h = x.height();
  if (x.hasShm() && !std::getenv("DESKTOP_SNOW_NO_SHM")) {
    image_ = XShmCreateImage(dpy, x.visual(), static_cast<unsigned>(x.depth()), ZPixmap, nullptr, &segment_,
                             static_cast<unsigned>(w), static_cast<unsigned>(h));
    if (image_) {
      const std::size_t bytes = std::size_t(image_->bytes_per_line) * std::size_t(h);
      segment_.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
      void* addr = segment_.shmid >= 0 ? shmat(segment_.shmid, nullptr, 0) : reinterpret_cast<void*>(-1);
      if (addr != reinterpret_cast<void*>(-1)) {
        segment_.shmaddr = image_->data = static_cast<char*>(addr);
        segment_.readOnly = True;
        XSync(dpy, False);
        g_attachFailed = false;
        XErrorHandler previous = XSetErrorHandler(&OnAttachError);
        const Status ok = XShmAttach(dpy, &segment_);
        XSync(dpy, False);
        XSetErrorHandler(previous);
        shared_ = ok && !g_attachFailed;
      }
      // Marked for removal at once: the segment goes when both sides detach, even after a crash.
      if (segment_.shmid >= 0) shmctl(segment_.shmid, IPC_RMID, nullptr);
      if (!shared_) {
        if (segment_.shmaddr) shmdt(segment_.shmaddr);
        segment_ = XShmSegmentInfo{};
        image_->data = nullptr;
        XDestroyImage(image_);
        image_ = nullptr;
      }
    }
  }
  if (!shared_) {
    const int bpp = x.bitsPerPixel();
    const int pitch = ((w * bpp + 31) / 32) * 4;
    plain_.assign(std::size_t(pitch) * std::size_t(h), 0);
    image_ = XCreateImage(dpy, x.visual(), static_cast<unsigned>(x.depth()), ZPixmap, 0,
                          reinterpret_cast<char*>(plain_.data()), static_cast<unsigned>(w),
                          static_cast<unsigned>(h), 32, pitch);
  }
  bits_ = image_ ? reinterpret_cast<std::uint8_t*>(image_->data) : nullptr;
  pitch_ = image_ ? image_->bytes_per_line : 0;
  gc_ = XCreateGC(dpy, x.root(), 0, nullptr);
  XSetGraphicsExposures(dpy, gc_, False);
}

X11Presenter::~X11Presenter() {
  Display* dpy = x_.display();
  if (gc_) XFreeGC(dpy, gc_);
  if (shared_) {
    XShmDetach(dpy, &segment_);
    XSync(dpy, False);
    shmdt(segment_.shmaddr);
  }
  if (image_) {
    image_->data = nullptr;  // the memory is the segment's or plain_'s, not the image's
    XDestroyImage(image_);
  }
}

void X11Presenter::Put(::Window window, int sx, int sy, int dx, int dy, int w, int h) {
  if (!image_ || !window) return;
  // Only what lies in the buffer can be copied.
  if (sx < 0) dx -= sx, w += sx, sx = 0;
  if (sy < 0) dy -= sy, h += sy, sy = 0;
  w = std::min(w, image_->width - sx);
  h = std::min(h, image_->height - sy);
  if (w <= 0 || h <= 0) return;
  Display* dpy = x_.display();
  if (shared_) {
    XShmPutImage(dpy, window, gc_, image_, sx, sy, dx, dy, static_cast<unsigned>(w), static_cast<unsigned>(h),
                 True);
    ++pending_;
  } else {
    XPutImage(dpy, window, gc_, image_, sx, sy, dx, dy, static_cast<unsigned>(w), static_cast<unsigned>(h));
  }
  ++puts_;
}

bool X11Presenter::TakeEvent(const XEvent& e) {
  if (!shared_ || e.type != x_.shmCompletionType()) return false;
  // A report carries its copy's request number: one from before the last ForgetPending is not one of the
  // copies now pending, and counting it would let the buffer change under a copy still being read.
  if (static_cast<long>(e.xany.serial - forgetBefore_) < 0) return true;
  if (pending_ > 0) --pending_;
  return true;
}

void X11Presenter::ForgetPending() {
  pending_ = 0;
  forgetBefore_ = NextRequest(x_.display());
}

}  // namespace plat::x11
