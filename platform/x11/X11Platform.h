// The Linux desktop backend as one object: an X display with the program's windows on it, GTK menus and
// message boxes, the software GDI and DirectDraw / Direct3D drawing into a screen buffer shared with the X
// server, the registry from a .reg file completed with the desktop's wallpaper, and the machine's clocks.
#pragma once

#include <memory>
#include <string>

#include "platform/Desktop.h"
#include "platform/Platform.h"

namespace plat::soft {
class SoftRegistry;
class SoftDirectDraw;
}  // namespace plat::soft

namespace plat::x11 {

class X11Connection;
class X11Presenter;
class X11WindowSystem;

class X11Platform final : public DesktopSession {
 public:
  // Null, with the reason, when the display cannot be opened or used; throws soft::RegFileError when the
  // registry file cannot be read.
  static std::unique_ptr<X11Platform> Open(const DesktopOptions& options, std::string* reason);
  ~X11Platform() override;

  const Services& services() const { return owned_->services(); }
  X11WindowSystem& windows() { return *windows_; }
  soft::SoftRegistry& registry() { return *registry_; }
  soft::SoftDirectDraw& ddraw() { return *ddraw_; }
  X11Connection& connection() { return *x_; }
  X11Presenter& presenter() { return *presenter_; }

 private:
  X11Platform() = default;

  std::unique_ptr<X11Connection> x_;
  std::unique_ptr<X11Presenter> presenter_;
  X11WindowSystem* windows_ = nullptr;
  soft::SoftRegistry* registry_ = nullptr;
  soft::SoftDirectDraw* ddraw_ = nullptr;
  std::unique_ptr<OwnedServices> owned_;
};

// Puts WallPaper under HKEY_CURRENT_USER\Control Panel\Desktop when the registry has none: the desktop's
// own wallpaper (DesktopWallpaper.h), else `fallback`. Returns the value it put, "" when it left one there.
std::string CompleteWallpaper(soft::SoftRegistry& registry, const std::string& desktopWallpaper,
                              const std::string& fallback);

}  // namespace plat::x11
