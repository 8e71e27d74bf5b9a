#include "platform/Platform.h"

#include "platform/Clock.h"
#include "platform/DirectDraw.h"
#include "platform/Gdi.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "platform/Windows.h"

#include <cstdio>
#include <cstdlib>

namespace plat {

namespace {
Services g_services;

template <typename T>
T& Require(T* p, const char* what) {
  if (!p) {
    std::fprintf(stderr, "platform: no %s service installed\n", what);
    std::abort();
  }
  return *p;
}
}  // namespace

Services& CurrentServices() {
  return g_services;
}

WindowSystem& Windows() {
  return Require(g_services.windows, "window");
}
Registry& Reg() {
  return Require(g_services.registry, "registry");
}
Clock& Clocks() {
  return Require(g_services.clock, "clock");
}
System& Sys() {
  return Require(g_services.system, "system");
}
Gdi& GdiSvc() {
  return Require(g_services.gdi, "GDI");
}
DirectDrawSystem& DDraw() {
  return Require(g_services.ddraw, "DirectDraw");
}

ScopedServices::ScopedServices(const Services& s) : saved_(g_services) {
  g_services = s;
}
ScopedServices::~ScopedServices() {
  g_services = saved_;
}

OwnedServices::OwnedServices(std::unique_ptr<System> system, std::unique_ptr<Clock> clock,
                             std::unique_ptr<Registry> registry, std::unique_ptr<WindowSystem> windows,
                             std::unique_ptr<Gdi> gdi, std::unique_ptr<DirectDrawSystem> ddraw)
    : system_(std::move(system)),
      clock_(std::move(clock)),
      registry_(std::move(registry)),
      windows_(std::move(windows)),
      gdi_(std::move(gdi)),
      ddraw_(std::move(ddraw)) {
  services_.system = system_.get();
  services_.clock = clock_.get();
  services_.registry = registry_.get();
  services_.windows = windows_.get();
  services_.gdi = gdi_.get();
  services_.ddraw = ddraw_.get();
  installed_ = std::make_unique<ScopedServices>(services_);
}

OwnedServices::~OwnedServices() {
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
}

}  // namespace plat
