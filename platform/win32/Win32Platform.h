// The Windows backend as one object: every service forwarded to the real system, installed for the object's
// lifetime. The Windows program creates one at start-up; the backend's tests create one each.
#pragma once

#include <memory>

#include "platform/Platform.h"

namespace plat::win32 {

class Win32WindowSystem;
class Win32Registry;
class Win32Clock;
class Win32System;
class Win32Gdi;
class Win32DirectDrawSystem;

class Win32Platform {
 public:
  Win32Platform();
  ~Win32Platform();
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  const Services& services() const { return services_; }

 private:
  std::unique_ptr<Win32System> system_;
  std::unique_ptr<Win32Clock> clock_;
  std::unique_ptr<Win32Registry> registry_;
  std::unique_ptr<Win32WindowSystem> windows_;
  std::unique_ptr<Win32Gdi> gdi_;
  std::unique_ptr<Win32DirectDrawSystem> ddraw_;
  Services services_;
  std::unique_ptr<ScopedServices> installed_;
};

}  // namespace plat::win32
