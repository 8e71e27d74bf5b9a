// The clocks on Windows: kernel32's performance counter and tick count, winmm's multimedia clock.
#pragma once

#include "platform/Clock.h"

namespace plat::win32 {

class Win32Clock final : public Clock {
 public:
  BOOL QueryPerformanceCounter(LONGLONG* count) override;
  BOOL QueryPerformanceFrequency(LONGLONG* frequency) override;
  DWORD GetTickCount() override;
  DWORD timeGetTime() override;
  void Sleep(DWORD ms) override;
};

}  // namespace plat::win32
