#include "platform/win32/Win32Platform.h"

#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32DirectDraw.h"
#include "platform/win32/Win32Gdi.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32System.h"
#include "platform/win32/Win32Windows.h"

namespace plat::win32 {

Win32Platform::Win32Platform() {
  system_ = std::make_unique<Win32System>();
  clock_ = std::make_unique<Win32Clock>();
  registry_ = std::make_unique<Win32Registry>();
  windows_ = std::make_unique<Win32WindowSystem>();
  gdi_ = std::make_unique<Win32Gdi>();
  ddraw_ = std::make_unique<Win32DirectDrawSystem>();
  services_.system = system_.get();
  services_.clock = clock_.get();
  services_.registry = registry_.get();
  services_.windows = windows_.get();
  services_.gdi = gdi_.get();
  services_.ddraw = ddraw_.get();
  // The frame timer reads the multimedia clock; its default resolution on some systems is 10 ms or worse.
  ::timeBeginPeriod(1);
  installed_ = std::make_unique<ScopedServices>(services_);
}

// Withdraws each service before it goes, newest first, while the older ones are still installed.
Win32Platform::~Win32Platform() {
  Services& current = CurrentServices();
  current.ddraw = nullptr;
  ddraw_.reset();
  current.gdi = nullptr;
  gdi_.reset();
  current.windows = nullptr;
  windows_.reset();
  current.registry = nullptr;
  registry_.reset();
  current.clock = nullptr;
  clock_.reset();
  current.system = nullptr;
  system_.reset();
  installed_.reset();
  ::timeEndPeriod(1);
}

}  // namespace plat::win32
