#include "platform/soft/SoftPlatform.h"

#include "platform/common/SoftClock.h"
#include "platform/common/SoftDirectDraw.h"
#include "platform/common/SoftGdi.h"
#include "platform/common/SoftRegistry.h"
#include "platform/common/SoftSystem.h"
#include "platform/soft/SoftWindows.h"

namespace plat::soft {

SoftPlatform::SoftPlatform(const SoftOptions& options) {
  // Made one after the other in this order (the system service first); OwnedServices says why.
  auto system = std::make_unique<SoftSystem>();
  auto clock = std::make_unique<SoftClock>(options.virtualClock);
  auto registry = std::make_unique<SoftRegistry>();
  auto windows = std::make_unique<SoftWindowSystem>(options);
  auto gdi = std::make_unique<SoftGdi>(options);
  auto ddraw = std::make_unique<SoftDirectDraw>(options);
  system_ = system.get();
  clock_ = clock.get();
  registry_ = registry.get();
  windows_ = windows.get();
  gdi_ = gdi.get();
  ddraw_ = ddraw.get();
  owned_ = std::make_unique<OwnedServices>(std::move(system), std::move(clock), std::move(registry),
                                           std::move(windows), std::move(gdi), std::move(ddraw));
}

SoftPlatform::~SoftPlatform() = default;

}  // namespace plat::soft
