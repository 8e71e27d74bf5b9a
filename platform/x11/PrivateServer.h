// A virtual X server (Xvfb) of this process's own, ended with it: a display to check the X11 backend on
// that no user's session and no other process shares. Xvfb must be installed.
#pragma once

#include <string>

namespace plat::x11 {

class PrivateServer {
 public:
  PrivateServer() = default;
  ~PrivateServer() { Stop(); }
  PrivateServer(const PrivateServer&) = delete;
  PrivateServer& operator=(const PrivateServer&) = delete;

  // Starts Xvfb with one screen of the given size ("640x480x24") on a display number no other server
  // holds, waits until it accepts connections and sets DISPLAY to it. False when no server could start.
  bool Start(const std::string& screen);
  void Stop();
  bool Running() const { return pid_ > 0; }
  const std::string& Display() const { return display_; }

 private:
  int pid_ = -1;
  std::string display_;
};

}  // namespace plat::x11
