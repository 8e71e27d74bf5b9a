// The platform layer: Win32-shaped services behind narrow interfaces. Each service is an abstract class in
// its own header (Windows.h, Registry.h, Clock.h, System.h, Gdi.h, DirectDraw.h); a backend (soft/, later
// win32/ and x11/) implements them and installs its instances here. Code above the layer reaches a service
// through the accessors below and never includes an operating-system header.
#pragma once

#include "platform/Types.h"

namespace plat {

class WindowSystem;
class Registry;
class Clock;
class System;
class Gdi;
class DirectDrawSystem;

// The services in force. A backend fills every pointer it provides; nothing here owns them.
struct Services {
  WindowSystem* windows = nullptr;
  Registry* registry = nullptr;
  Clock* clock = nullptr;
  System* system = nullptr;
  Gdi* gdi = nullptr;
  DirectDrawSystem* ddraw = nullptr;
};

// Accessors; each aborts with a clear message when no backend installed that service (a programming error).
WindowSystem& Windows();
Registry& Reg();
Clock& Clocks();
System& Sys();
Gdi& GdiSvc();
DirectDrawSystem& DDraw();

Services& CurrentServices();

// Installs a set of services for its lifetime and restores the previous set afterwards (tests nest these).
class ScopedServices {
 public:
  explicit ScopedServices(const Services& s);
  ~ScopedServices();
  ScopedServices(const ScopedServices&) = delete;
  ScopedServices& operator=(const ScopedServices&) = delete;

 private:
  Services saved_;
};

}  // namespace plat
