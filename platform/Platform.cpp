#include "platform/Platform.h"

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

Services& CurrentServices() { return g_services; }

WindowSystem& Windows() { return Require(g_services.windows, "window"); }
Registry& Reg() { return Require(g_services.registry, "registry"); }
Clock& Clocks() { return Require(g_services.clock, "clock"); }
System& Sys() { return Require(g_services.system, "system"); }
Gdi& GdiSvc() { return Require(g_services.gdi, "GDI"); }
DirectDrawSystem& DDraw() { return Require(g_services.ddraw, "DirectDraw"); }

ScopedServices::ScopedServices(const Services& s) : saved_(g_services) { g_services = s; }
ScopedServices::~ScopedServices() { g_services = saved_; }

}  // namespace plat
