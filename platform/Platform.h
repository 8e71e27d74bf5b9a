// The platform layer: Win32-shaped services behind narrow interfaces. Each service is an abstract class in
// its own header (Windows.h, Registry.h, Clock.h, System.h, Gdi.h, DirectDraw.h); a backend implements them
// and installs its instances here: soft/ (the virtual desktop, for tests and headless runs), win32/ (Windows)
// and x11/ (the Linux desktop). common/ holds what the virtual desktop and the Linux desktop share: the
// software GDI, DirectDraw and Direct3D, the registry and the window tree. Code above the layer reaches a service through the accessors below and never
// includes an operating-system header.
#pragma once

#include <memory>

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

// A backend's whole set of services, owned and installed for the object's lifetime. The backend makes them
// in the order of the arguments (the system service first: the others report failures through its last-error
// code). On destruction each is withdrawn and freed newest first while the older ones are still installed (a
// service's clean-up may use another), then the previous set is restored.
class OwnedServices {
 public:
  OwnedServices(std::unique_ptr<System> system, std::unique_ptr<Clock> clock,
                std::unique_ptr<Registry> registry, std::unique_ptr<WindowSystem> windows,
                std::unique_ptr<Gdi> gdi, std::unique_ptr<DirectDrawSystem> ddraw);
  ~OwnedServices();
  OwnedServices(const OwnedServices&) = delete;
  OwnedServices& operator=(const OwnedServices&) = delete;

  const Services& services() const { return services_; }

 private:
  std::unique_ptr<System> system_;
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<WindowSystem> windows_;
  std::unique_ptr<Gdi> gdi_;
  std::unique_ptr<DirectDrawSystem> ddraw_;
  Services services_;
  std::unique_ptr<ScopedServices> installed_;
};

}  // namespace plat
