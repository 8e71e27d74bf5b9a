// The Windows backend as one object: every service forwarded to the real system, installed for the object's
// lifetime. The Windows program creates one at start-up; the backend's tests create one each.
#pragma once

#include <memory>

#include "platform/Platform.h"

namespace plat::win32 {

class Win32Platform {
 public:
  Win32Platform();
  ~Win32Platform();
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  const Services& services() const { return owned_->services(); }

 private:
  std::unique_ptr<OwnedServices> owned_;
};

}  // namespace plat::win32
