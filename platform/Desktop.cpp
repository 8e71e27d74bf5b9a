#include "platform/Desktop.h"

#if defined(_WIN32)
#include "platform/win32/Win32Platform.h"
#elif defined(DS_HAVE_X11)
#include "platform/x11/X11Platform.h"
#endif

namespace plat {

#if defined(_WIN32)
namespace {
class Win32Session : public DesktopSession {
  win32::Win32Platform platform_;
};
}  // namespace
#endif

std::unique_ptr<DesktopSession> OpenDesktop(const DesktopOptions& options, std::string* reason) {
#if defined(_WIN32)
  if (!options.registryFile.empty()) {
    if (reason) *reason = "the Windows desktop reads the system's registry, not a registry file";
    return nullptr;
  }
  return std::make_unique<Win32Session>();
#elif defined(DS_HAVE_X11)
  return x11::X11Platform::Open(options, reason);
#else
  (void)options;
  if (reason) *reason = "no desktop backend on this system";
  return nullptr;
#endif
}

}  // namespace plat
