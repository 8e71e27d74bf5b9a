#include "platform/common/SoftClock.h"

#include <thread>

namespace plat::soft {

namespace {
constexpr std::uint64_t kTicksPerMicrosecond = SoftClock::kCounterFrequency / 1000000;
constexpr std::uint64_t kTicksPerMillisecond = SoftClock::kCounterFrequency / 1000;
}  // namespace

SoftClock::SoftClock(bool virtualClock)
    : virtual_(virtualClock), realStart_(std::chrono::steady_clock::now()) {
  if (!virtual_) {
    // The real millisecond clocks count from the machine's start, like the system's, not from ours.
    const auto sinceEpoch =
        std::chrono::duration_cast<std::chrono::milliseconds>(realStart_.time_since_epoch());
    msOffset_ = static_cast<std::uint64_t>(sinceEpoch.count());
    counterOffset_ = msOffset_ * kTicksPerMillisecond;
  }
}

std::uint64_t SoftClock::NowTicks() const {
  if (virtual_) return ticks_;
  const auto elapsed = std::chrono::steady_clock::now() - realStart_;
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
  return static_cast<std::uint64_t>(ns) / 100;
}

std::uint64_t SoftClock::NowMicroseconds() const {
  return NowTicks() / kTicksPerMicrosecond;
}

BOOL SoftClock::QueryPerformanceCounter(LONGLONG* count) {
  if (!counterAvailable_ || !count) return 0;
  *count = static_cast<LONGLONG>(counterOffset_ + NowTicks());
  return 1;
}

BOOL SoftClock::QueryPerformanceFrequency(LONGLONG* frequency) {
  if (!counterAvailable_ || !frequency) return 0;
  *frequency = kCounterFrequency;
  return 1;
}

DWORD SoftClock::GetTickCount() {
  return static_cast<DWORD>(msOffset_ + NowTicks() / kTicksPerMillisecond);
}

DWORD SoftClock::timeGetTime() {
  return GetTickCount();
}

void SoftClock::Sleep(DWORD ms) {
  ++sleepCalls_;
  sleptMs_ += ms;
  if (virtual_) {
    AdvanceMilliseconds(ms);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
}

void SoftClock::AdvanceCounterTicks(std::uint64_t ticks) {
  if (virtual_) ticks_ += ticks;
}

void SoftClock::AdvanceMicroseconds(std::uint64_t us) {
  AdvanceCounterTicks(us * kTicksPerMicrosecond);
}

void SoftClock::AdvanceMilliseconds(std::uint64_t ms) {
  AdvanceCounterTicks(ms * kTicksPerMillisecond);
}

void SoftClock::AdvanceToMicroseconds(std::uint64_t us) {
  const std::uint64_t target = us * kTicksPerMicrosecond;
  if (virtual_ && target > ticks_) ticks_ = target;
}

void SoftClock::SetMilliseconds(DWORD ms) {
  if (!virtual_) return;
  // Unsigned arithmetic: the offset may "wrap", only its low 32 bits matter for the readings.
  msOffset_ = static_cast<std::uint64_t>(ms) - ticks_ / kTicksPerMillisecond;
}

void SoftClock::SetPerformanceCounter(LONGLONG value) {
  if (!virtual_) return;
  counterOffset_ = static_cast<std::uint64_t>(value) - ticks_;
}

}  // namespace plat::soft
