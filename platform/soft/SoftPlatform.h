// The soft backend as one object: every service in memory, installed for the object's lifetime. Tests and
// headless runs create one; tests reach the concrete services to script and inspect them.
#pragma once

#include <memory>

#include "platform/Platform.h"
#include "platform/common/SoftOptions.h"

namespace plat::soft {

class SoftWindowSystem;
class SoftRegistry;
class SoftClock;
class SoftSystem;
class SoftGdi;
class SoftDirectDraw;

class SoftPlatform {
 public:
  explicit SoftPlatform(const SoftOptions& options = SoftOptions());
  ~SoftPlatform();
  SoftPlatform(const SoftPlatform&) = delete;
  SoftPlatform& operator=(const SoftPlatform&) = delete;

  const Services& services() const { return owned_->services(); }
  SoftWindowSystem& windows() { return *windows_; }
  SoftRegistry& registry() { return *registry_; }
  SoftClock& clock() { return *clock_; }
  SoftSystem& system() { return *system_; }
  SoftGdi& gdi() { return *gdi_; }
  SoftDirectDraw& ddraw() { return *ddraw_; }

 private:
  // The concrete services, for the accessors; owned_ owns and installs them.
  SoftSystem* system_ = nullptr;
  SoftClock* clock_ = nullptr;
  SoftRegistry* registry_ = nullptr;
  SoftWindowSystem* windows_ = nullptr;
  SoftGdi* gdi_ = nullptr;
  SoftDirectDraw* ddraw_ = nullptr;
  std::unique_ptr<OwnedServices> owned_;
};

}  // namespace plat::soft
