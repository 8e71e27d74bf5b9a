#include "platform/x11/X11Connection.h"

#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xpresent.h>
#include <X11/extensions/Xrandr.h>

#include <cstdio>
#include <cstdlib>
#include <set>

namespace plat::x11 {

namespace {

// The process has one set of X error handlers; errors of other connections (the toolkit's) go to the
// handlers that were there before.
Display* g_display = nullptr;
XErrorHandler g_previousError = nullptr;
XIOErrorHandler g_previousIoError = nullptr;
int g_unexpected = 0;

int OnError(Display* dpy, XErrorEvent* e) {
  if (dpy != g_display) return g_previousError ? g_previousError(dpy, e) : 0;
  if (e->error_code == BadWindow || e->error_code == BadDrawable) return 0;
  ++g_unexpected;
  static std::set<int> reported;
  const int kind = e->request_code * 256 + e->error_code;
  if (reported.insert(kind).second) {
    char text[160] = {};
    XGetErrorText(dpy, e->error_code, text, sizeof text);
    std::fprintf(stderr, "X error: %s (request %d.%d, resource 0x%lx)\n", text, e->request_code,
                 e->minor_code, e->resourceid);
  }
  return 0;
}

int OnIoError(Display* dpy) {
  if (dpy != g_display && g_previousIoError) return g_previousIoError(dpy);
  std::fprintf(stderr, "%s: lost the connection to the X display %s\n", program_invocation_short_name,
               DisplayString(dpy));
  std::fflush(stderr);
  std::_Exit(1);
}

double RefreshRate(Display* dpy, ::Window root) {
  int eventBase = 0, errorBase = 0;
  if (!XRRQueryExtension(dpy, &eventBase, &errorBase)) return 0;
  double best = 0;
  if (XRRScreenResources* res = XRRGetScreenResourcesCurrent(dpy, root)) {
    for (int c = 0; c < res->ncrtc && best == 0; ++c) {
      XRRCrtcInfo* crtc = XRRGetCrtcInfo(dpy, res, res->crtcs[c]);
      if (!crtc) continue;
      for (int m = 0; crtc->mode != None && m < res->nmode; ++m) {
        const XRRModeInfo& mode = res->modes[m];
        if (mode.id != crtc->mode || !mode.hTotal || !mode.vTotal) continue;
        best = static_cast<double>(mode.dotClock) / (static_cast<double>(mode.hTotal) * mode.vTotal);
      }
      XRRFreeCrtcInfo(crtc);
    }
    XRRFreeScreenResources(res);
  }
  if (best == 0) {
    if (XRRScreenConfiguration* cfg = XRRGetScreenInfo(dpy, root)) {
      best = XRRConfigCurrentRate(cfg);
      XRRFreeScreenConfigInfo(cfg);
    }
  }
  return best > 0 && best < 1000 ? best : 0;
}

}  // namespace

int X11Connection::UnexpectedErrors() {
  return g_unexpected;
}

void X11Connection::ReclaimErrorHandlers() {
  if (!g_display) return;
  XErrorHandler error = XSetErrorHandler(&OnError);
  if (error != &OnError) g_previousError = error;
  XIOErrorHandler io = XSetIOErrorHandler(&OnIoError);
  if (io != &OnIoError) g_previousIoError = io;
}

std::unique_ptr<X11Connection> X11Connection::Open(std::string* reason) {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) {
    if (reason) *reason = "no X display (DISPLAY is not set)";
    return nullptr;
  }
  if (g_display) {
    if (reason) *reason = "the X display is open already";
    return nullptr;
  }
  Display* dpy = XOpenDisplay(name);
  if (!dpy) {
    if (reason) *reason = std::string("cannot open the X display ") + name;
    return nullptr;
  }
  std::unique_ptr<X11Connection> c(new X11Connection());
  c->dpy_ = dpy;
  c->screen_ = DefaultScreen(dpy);
  c->root_ = RootWindow(dpy, c->screen_);
  c->width_ = DisplayWidth(dpy, c->screen_);
  c->height_ = DisplayHeight(dpy, c->screen_);
  c->depth_ = DefaultDepth(dpy, c->screen_);
  c->visual_ = DefaultVisual(dpy, c->screen_);
  c->colormap_ = DefaultColormap(dpy, c->screen_);

  // The pixels are written by the software renderer in its own formats: 32-bit x8r8g8b8 or 16-bit r5g6b5,
  // least significant byte first, exactly as a true-colour visual of the same layout stores them.
  int count = 0;
  XPixmapFormatValues* formats = XListPixmapFormats(dpy, &count);
  for (int i = 0; formats && i < count; ++i) {
    if (formats[i].depth == c->depth_) c->bitsPerPixel_ = formats[i].bits_per_pixel;
  }
  if (formats) XFree(formats);
  const Visual* v = c->visual_;
  const bool rgb32 =
      c->bitsPerPixel_ == 32 && v->red_mask == 0xFF0000 && v->green_mask == 0xFF00 && v->blue_mask == 0xFF;
  const bool rgb16 =
      c->bitsPerPixel_ == 16 && v->red_mask == 0xF800 && v->green_mask == 0x07E0 && v->blue_mask == 0x001F;
  if (v->c_class != TrueColor || !(rgb32 || rgb16) || ImageByteOrder(dpy) != LSBFirst) {
    if (reason)
      *reason = std::string("the X display ") + name + " has a pixel format this program cannot draw";
    XCloseDisplay(dpy);
    c->dpy_ = nullptr;
    return nullptr;
  }

  g_display = dpy;
  g_previousError = XSetErrorHandler(&OnError);
  g_previousIoError = XSetIOErrorHandler(&OnIoError);

  const char* names[] = {"WM_PROTOCOLS",
                         "WM_DELETE_WINDOW",
                         "WM_STATE",
                         "WM_TRANSIENT_FOR",
                         "_NET_CLIENT_LIST",
                         "_NET_WM_WINDOW_TYPE",
                         "_NET_WM_WINDOW_TYPE_DESKTOP",
                         "_NET_WM_WINDOW_TYPE_NORMAL",
                         "_NET_WM_WINDOW_TYPE_DIALOG",
                         "_NET_WM_STATE",
                         "_NET_WM_STATE_BELOW",
                         "_NET_WM_STATE_SKIP_TASKBAR",
                         "_NET_WM_STATE_SKIP_PAGER",
                         "_NET_WM_STATE_STICKY",
                         "_NET_WM_NAME",
                         "_NET_WM_PID",
                         "_MOTIF_WM_HINTS",
                         "UTF8_STRING"};
  constexpr int kCount = sizeof names / sizeof names[0];
  static_assert(sizeof(Atoms) == kCount * sizeof(Atom), "one name per atom");
  Atom values[kCount] = {};
  XInternAtoms(dpy, const_cast<char**>(names), kCount, False, values);
  Atom* out = reinterpret_cast<Atom*>(&c->atoms_);
  for (int i = 0; i < kCount; ++i) out[i] = values[i];

  int major = 0, minor = 0;
  Bool pixmaps = False;
  c->shm_ = XShmQueryVersion(dpy, &major, &minor, &pixmaps) == True;
  if (c->shm_) c->shmCompletion_ = XShmGetEventBase(dpy) + ShmCompletion;
  int eventBase = 0, errorBase = 0;
  c->present_ = XPresentQueryExtension(dpy, &c->presentOpcode_, &eventBase, &errorBase) == True;
  c->refreshRate_ = RefreshRate(dpy, c->root_);
  return c;
}

X11Connection::~X11Connection() {
  if (!dpy_) return;
  XCloseDisplay(dpy_);
  if (g_display == dpy_) {
    XSetErrorHandler(g_previousError);
    XSetIOErrorHandler(g_previousIoError);
    g_display = nullptr;
  }
}

}  // namespace plat::x11
