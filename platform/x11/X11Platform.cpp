#include "platform/x11/X11Platform.h"

#include "platform/common/RegFile.h"
#include "platform/common/SoftClock.h"
#include "platform/common/SoftDirectDraw.h"
#include "platform/common/SoftGdi.h"
#include "platform/common/SoftOptions.h"
#include "platform/common/SoftRegistry.h"
#include "platform/common/SoftSystem.h"
#include "platform/x11/DesktopWallpaper.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11Presenter.h"
#include "platform/x11/X11Windows.h"

namespace plat::x11 {

namespace {
const char kDesktopKey[] = "Control Panel\\Desktop";
const char kWallPaper[] = "WallPaper";
}  // namespace

std::string CompleteWallpaper(soft::SoftRegistry& registry, const std::string& desktopWallpaper,
                              const std::string& fallback) {
  if (registry.GetValue(HKEY_CURRENT_USER, kDesktopKey, kWallPaper)) return std::string();
  const std::string value = desktopWallpaper.empty() ? fallback : desktopWallpaper;
  registry.SetString(HKEY_CURRENT_USER, kDesktopKey, kWallPaper, value);
  return value;
}

std::unique_ptr<X11Platform> X11Platform::Open(const DesktopOptions& options, std::string* reason) {
  std::unique_ptr<X11Connection> x = X11Connection::Open(reason);
  if (!x) return nullptr;
  std::unique_ptr<X11Platform> p(new X11Platform());
  p->x_ = std::move(x);
  p->presenter_ = std::make_unique<X11Presenter>(*p->x_);
  if (!p->presenter_->bits()) {
    if (reason) *reason = "cannot make a screen buffer for the X display";
    return nullptr;
  }

  soft::SoftOptions so;
  so.screenWidth = p->x_->width();
  so.screenHeight = p->x_->height();
  so.screenBitCount = p->x_->bitsPerPixel();
  so.virtualClock = false;

  // Made one after the other in this order (the system service first); OwnedServices says why.
  auto system = std::make_unique<soft::SoftSystem>();
  auto clock = std::make_unique<soft::SoftClock>(false);
  auto registry = std::make_unique<soft::SoftRegistry>();
  // An unreadable file throws (RegFileError is a std::runtime_error): that is the user's input, not a
  // missing desktop.
  if (!options.registryFile.empty()) soft::LoadRegFileFromPath(*registry, options.registryFile);
  CompleteWallpaper(*registry, DesktopWallpaper(UserSettingsPlaces()), options.defaultWallpaper);
  auto windows = std::make_unique<X11WindowSystem>(*p->x_, *p->presenter_);
  auto gdi = std::make_unique<soft::SoftGdi>(so);
  auto ddraw = std::make_unique<soft::SoftDirectDraw>(so);
  if (!ddraw->UseScreenMemory(p->presenter_->bits(), p->presenter_->pitch()) ||
      !ddraw->ShareScreenWithGdi(*gdi)) {
    if (reason) *reason = "cannot draw into the X display's screen buffer";
    return nullptr;
  }
  X11WindowSystem* ws = windows.get();
  ddraw->SetScreenChangedHook([ws](HWND window, const RECT& r) { ws->ScreenChanged(window, r); });
  ddraw->SetVerticalBlankWait([ws] { ws->WaitForRefresh(); });
  p->windows_ = ws;
  p->registry_ = registry.get();
  p->ddraw_ = ddraw.get();
  p->owned_ = std::make_unique<OwnedServices>(std::move(system), std::move(clock), std::move(registry),
                                              std::move(windows), std::move(gdi), std::move(ddraw));
  return p;
}

X11Platform::~X11Platform() {
  owned_.reset();
}

}  // namespace plat::x11
