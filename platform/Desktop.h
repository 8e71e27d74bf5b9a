// The machine's own desktop as a set of platform services: the Windows desktop on Windows, the X display on
// Linux. Callers ask for it without knowing which it is; when none can be opened they run elsewhere (the
// soft platform's virtual desktop).
#pragma once

#include <memory>
#include <string>

namespace plat {

struct DesktopOptions {
  // The registry export (.reg) the desktop's registry starts from, "" for none. Only desktops without a
  // registry of their own take one; the others refuse to open with it.
  std::string registryFile;
  // The picture the registry's HKEY_CURRENT_USER\Control Panel\Desktop "WallPaper" names when neither the
  // file nor the desktop's own settings name one.
  std::string defaultWallpaper;
};

// The open desktop: its services are installed while this lives.
class DesktopSession {
 public:
  virtual ~DesktopSession() = default;
};

// Null, with the reason in *reason, when no desktop can be opened here. Throws std::runtime_error when the
// desktop is there but the registry file cannot be read.
std::unique_ptr<DesktopSession> OpenDesktop(const DesktopOptions& options, std::string* reason);

}  // namespace plat
