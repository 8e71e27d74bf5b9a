#include "platform/win32/Win32Platform.h"

#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32DirectDraw.h"
#include "platform/win32/Win32Gdi.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32System.h"
#include "platform/win32/Win32Windows.h"

namespace plat::win32 {

Win32Platform::Win32Platform() {
  // Made one after the other in this order (the system service first); OwnedServices says why.
  auto system = std::make_unique<Win32System>();
  auto clock = std::make_unique<Win32Clock>();
  auto registry = std::make_unique<Win32Registry>();
  auto windows = std::make_unique<Win32WindowSystem>();
  auto gdi = std::make_unique<Win32Gdi>();
  auto ddraw = std::make_unique<Win32DirectDrawSystem>();
  // The frame timer reads the multimedia clock; its default resolution on some systems is 10 ms or worse.
  ::timeBeginPeriod(1);
  owned_ = std::make_unique<OwnedServices>(std::move(system), std::move(clock), std::move(registry),
                                           std::move(windows), std::move(gdi), std::move(ddraw));
}

Win32Platform::~Win32Platform() {
  owned_.reset();
  ::timeEndPeriod(1);
}

}  // namespace plat::win32
