#include "support/Xvfb.h"

#ifdef DS_HAVE_X11

#include "platform/x11/PrivateServer.h"
#include "platform/x11/X11Api.h"

namespace support {

namespace {
plat::x11::PrivateServer& Server() {
  static plat::x11::PrivateServer server;
  return server;
}
}  // namespace

bool Xvfb::Running() {
  return Server().Running();
}

void Xvfb::SetUp() {
  Server().Start("640x480x24");
}

void Xvfb::TearDown() {
  Server().Stop();
}

unsigned long MakeStandInDesktop(::Display* display) {
  const ::Window root = DefaultRootWindow(display);
  const ::Window desk =
      XCreateSimpleWindow(display, root, 0, 0, static_cast<unsigned>(DisplayWidth(display, 0)),
                          static_cast<unsigned>(DisplayHeight(display, 0)), 0, 0, 0);
  const Atom type = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DESKTOP", False);
  XChangeProperty(display, desk, XInternAtom(display, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&type), 1);
  XMapWindow(display, desk);
  XChangeProperty(display, root, XInternAtom(display, "_NET_CLIENT_LIST", False), XA_WINDOW, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&desk), 1);
  XSync(display, False);
  return desk;
}

void EndStandInDesktop(::Display* display, unsigned long window) {
  XDestroyWindow(display, window);
  XDeleteProperty(display, DefaultRootWindow(display), XInternAtom(display, "_NET_CLIENT_LIST", False));
  XSync(display, False);
}

}  // namespace support

#endif  // DS_HAVE_X11
