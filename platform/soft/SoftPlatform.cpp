#include "platform/soft/SoftPlatform.h"

#include "platform/soft/SoftClock.h"
#include "platform/soft/SoftDirectDraw.h"
#include "platform/soft/SoftGdi.h"
#include "platform/soft/SoftRegistry.h"
#include "platform/soft/SoftSystem.h"
#include "platform/soft/SoftWindows.h"

namespace plat::soft {

SoftPlatform::SoftPlatform(const SoftOptions& options) {
  // The system service comes first: the others report failures through its last-error code.
  system_ = std::make_unique<SoftSystem>();
  clock_ = std::make_unique<SoftClock>(options.virtualClock);
  registry_ = std::make_unique<SoftRegistry>();
  windows_ = std::make_unique<SoftWindowSystem>(options);
  gdi_ = std::make_unique<SoftGdi>(options);
  ddraw_ = std::make_unique<SoftDirectDraw>(options);
  services_.system = system_.get();
  services_.clock = clock_.get();
  services_.registry = registry_.get();
  services_.windows = windows_.get();
  services_.gdi = gdi_.get();
  services_.ddraw = ddraw_.get();
  installed_ = std::make_unique<ScopedServices>(services_);
}

// Frees the services in the reverse order of their creation while the earlier ones are still installed (a
// service's clean-up may use another), withdrawing each before it goes, then restores the services that were
// in force before.
SoftPlatform::~SoftPlatform() {
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

}  // namespace plat::soft
