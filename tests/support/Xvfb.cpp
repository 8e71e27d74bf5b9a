#include "support/Xvfb.h"

#ifdef DS_HAVE_X11

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace support {

pid_t Xvfb::pid_ = -1;

void Xvfb::SetUp() {
  // A display number no other server holds; test programs run side by side, so a taken one is skipped.
  for (int n = 300 + static_cast<int>(getpid() % 200), tries = 0; tries < 20; ++n, ++tries) {
    const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
    if (access(lock.c_str(), F_OK) == 0) continue;
    const std::string display = ":" + std::to_string(n);
    const pid_t pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);  // a test program that crashes takes its server with it
      execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "640x480x24", "-nolisten", "tcp", "-noreset",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid < 0) return;
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
    for (int wait = 0; wait < 100; ++wait) {
      if (waitpid(pid, nullptr, WNOHANG) == pid) break;  // it could not start (or the number was taken)
      if (access(socket.c_str(), F_OK) == 0) {
        pid_ = pid;
        setenv("DISPLAY", display.c_str(), 1);
        return;
      }
      usleep(50000);
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
}

void Xvfb::TearDown() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
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
