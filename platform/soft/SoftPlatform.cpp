#include "platform/soft/SoftPlatform.h"

// Services arrive one by one while the backend grows; each is wired in as soon as its header exists.
#if __has_include("platform/soft/SoftSystem.h")
#include "platform/soft/SoftSystem.h"
#define DS_HAS_SOFT_SYSTEM 1
#endif
#if __has_include("platform/soft/SoftClock.h")
#include "platform/soft/SoftClock.h"
#define DS_HAS_SOFT_CLOCK 1
#endif
#if __has_include("platform/soft/SoftRegistry.h")
#include "platform/soft/SoftRegistry.h"
#define DS_HAS_SOFT_REGISTRY 1
#endif
#if __has_include("platform/soft/SoftWindows.h")
#include "platform/soft/SoftWindows.h"
#define DS_HAS_SOFT_WINDOWS 1
#endif
#if __has_include("platform/soft/SoftGdi.h")
#include "platform/soft/SoftGdi.h"
#define DS_HAS_SOFT_GDI 1
#endif
#if __has_include("platform/soft/SoftDirectDraw.h")
#include "platform/soft/SoftDirectDraw.h"
#define DS_HAS_SOFT_DDRAW 1
#endif

namespace plat::soft {
// Placeholders for services not yet written, so the owning pointers stay complete types.
#ifndef DS_HAS_SOFT_SYSTEM
class SoftSystem {};
#endif
#ifndef DS_HAS_SOFT_CLOCK
class SoftClock {};
#endif
#ifndef DS_HAS_SOFT_REGISTRY
class SoftRegistry {};
#endif
#ifndef DS_HAS_SOFT_WINDOWS
class SoftWindowSystem {};
#endif
#ifndef DS_HAS_SOFT_GDI
class SoftGdi {};
#endif
#ifndef DS_HAS_SOFT_DDRAW
class SoftDirectDraw {};
#endif
}  // namespace plat::soft

namespace plat::soft {

SoftPlatform::SoftPlatform(const SoftOptions& options) {
  (void)options;
#ifdef DS_HAS_SOFT_SYSTEM
  system_ = std::make_unique<SoftSystem>();
  services_.system = system_.get();
#endif
#ifdef DS_HAS_SOFT_CLOCK
  clock_ = std::make_unique<SoftClock>(options.virtualClock);
  services_.clock = clock_.get();
#endif
#ifdef DS_HAS_SOFT_REGISTRY
  registry_ = std::make_unique<SoftRegistry>();
  services_.registry = registry_.get();
#endif
#ifdef DS_HAS_SOFT_WINDOWS
  windows_ = std::make_unique<SoftWindowSystem>(options);
  services_.windows = windows_.get();
#endif
#ifdef DS_HAS_SOFT_GDI
  gdi_ = std::make_unique<SoftGdi>(options);
  services_.gdi = gdi_.get();
#endif
#ifdef DS_HAS_SOFT_DDRAW
  ddraw_ = std::make_unique<SoftDirectDraw>(options);
  services_.ddraw = ddraw_.get();
#endif
  installed_ = std::make_unique<ScopedServices>(services_);
}

SoftPlatform::~SoftPlatform() = default;

}  // namespace plat::soft
