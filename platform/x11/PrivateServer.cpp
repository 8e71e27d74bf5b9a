#include "platform/x11/PrivateServer.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace plat::x11 {

bool PrivateServer::Start(const std::string& screen) {
  Stop();
  // Programs start servers side by side, so a display number already taken is skipped.
  for (int n = 300 + static_cast<int>(getpid() % 200), tries = 0; tries < 20; ++n, ++tries) {
    const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
    if (access(lock.c_str(), F_OK) == 0) continue;
    const std::string display = ":" + std::to_string(n);
    const pid_t pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);  // a program that crashes takes its server with it
      execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp", "-noreset",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid < 0) return false;
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
    for (int wait = 0; wait < 100; ++wait) {
      if (waitpid(pid, nullptr, WNOHANG) == pid) break;  // it could not start (or the number was taken)
      if (access(socket.c_str(), F_OK) == 0) {
        pid_ = pid;
        display_ = display;
        setenv("DISPLAY", display.c_str(), 1);
        return true;
      }
      usleep(50000);
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
  return false;
}

void PrivateServer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
  display_.clear();
}

}  // namespace plat::x11
