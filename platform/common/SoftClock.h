// The soft clocks. In virtual mode time stands still until a test (or the headless run's vertical-blank
// wait) moves it, so runs are reproducible; in real mode the machine's monotonic clock drives every reading.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/Clock.h"

namespace plat::soft {

class SoftClock : public Clock {
 public:
  // Resolution of the virtual time base and frequency of the performance counter: 10 MHz (100 ns ticks).
  static constexpr LONGLONG kCounterFrequency = 10000000;

  explicit SoftClock(bool virtualClock);

  BOOL QueryPerformanceCounter(LONGLONG* count) override;
  BOOL QueryPerformanceFrequency(LONGLONG* frequency) override;
  DWORD GetTickCount() override;
  DWORD timeGetTime() override;
  // Virtual mode: advances the clock by ms instead of waiting.
  void Sleep(DWORD ms) override;

  bool IsVirtual() const { return virtual_; }

  // Time since the clock started, in microseconds (virtual or real).
  std::uint64_t NowMicroseconds() const;
  // Virtual mode only (ignored in real mode): move time forwards. AdvanceToMicroseconds never goes back.
  void AdvanceMilliseconds(std::uint64_t ms);
  void AdvanceMicroseconds(std::uint64_t us);
  void AdvanceCounterTicks(std::uint64_t ticks);
  void AdvanceToMicroseconds(std::uint64_t us);
  // Virtual mode only: the value both millisecond clocks (tick count and multimedia clock) read now; later
  // advances count on from it and wrap at 2^32. Use a value near 2^32 to exercise the wrap.
  void SetMilliseconds(DWORD ms);
  // Virtual mode only: the value the performance counter reads now; it counts on from there.
  void SetPerformanceCounter(LONGLONG value);
  // Both modes: whether the machine has a performance counter (true by default).
  void SetPerformanceCounterAvailable(bool available) { counterAvailable_ = available; }

  // Sleep calls made and milliseconds asked for, for tests.
  std::uint64_t SleepCalls() const { return sleepCalls_; }
  std::uint64_t SleptMilliseconds() const { return sleptMs_; }

 private:
  std::uint64_t NowTicks() const;

  bool virtual_;
  bool counterAvailable_ = true;
  std::uint64_t ticks_ = 0;          // virtual time in counter ticks
  std::uint64_t msOffset_ = 0;       // added to elapsed milliseconds for the millisecond clocks
  std::uint64_t counterOffset_ = 0;  // added to elapsed ticks for the performance counter
  std::chrono::steady_clock::time_point realStart_;
  std::uint64_t sleepCalls_ = 0;
  std::uint64_t sleptMs_ = 0;
};

}  // namespace plat::soft
