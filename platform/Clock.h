// Clocks of the system: the high-resolution performance counter, the millisecond tick count, the 32-bit
// multimedia clock and sleeping. Each call maps onto one kernel32/winmm call (or a monotonic clock on X11).
#pragma once

#include <cstdint>

#include "platform/Types.h"

namespace plat {

using LONGLONG = std::int64_t;

class Clock {
 public:
  virtual ~Clock() = default;
  // The performance counter's current value; FALSE (and *count untouched) when the machine has none.
  virtual BOOL QueryPerformanceCounter(LONGLONG* count) = 0;
  // Counts per second of the performance counter; FALSE when the machine has none.
  virtual BOOL QueryPerformanceFrequency(LONGLONG* frequency) = 0;
  // Milliseconds since system start, 32 bits, wrapping after about 49.7 days.
  virtual DWORD GetTickCount() = 0;
  // The multimedia clock: milliseconds since system start, 32 bits, wrapping.
  virtual DWORD timeGetTime() = 0;
  // Gives up the processor for at least ms milliseconds (a virtual clock just advances).
  virtual void Sleep(DWORD ms) = 0;
};

}  // namespace plat
