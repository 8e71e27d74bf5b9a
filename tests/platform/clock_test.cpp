#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "platform/Platform.h"
#include "platform/common/SoftClock.h"
#include "platform/soft/SoftPlatform.h"

using plat::DWORD;
using plat::LONGLONG;
using plat::soft::SoftClock;

namespace {

TEST(VirtualClock, StandsStillUntilAdvanced) {
  SoftClock clock(true);
  const DWORD t0 = clock.timeGetTime();
  LONGLONG c0 = 0, c1 = 0;
  ASSERT_TRUE(clock.QueryPerformanceCounter(&c0));
  ASSERT_TRUE(clock.QueryPerformanceCounter(&c1));
  EXPECT_EQ(t0, clock.timeGetTime());
  EXPECT_EQ(c0, c1);
}

TEST(VirtualClock, AdvancingMovesTickCountMultimediaClockAndCounterTogether) {
  SoftClock clock(true);
  LONGLONG c0 = 0, c1 = 0;
  clock.QueryPerformanceCounter(&c0);
  const DWORD tick0 = clock.GetTickCount();
  const DWORD mm0 = clock.timeGetTime();
  clock.AdvanceMilliseconds(23);
  clock.QueryPerformanceCounter(&c1);
  EXPECT_EQ(tick0 + 23, clock.GetTickCount());
  EXPECT_EQ(mm0 + 23, clock.timeGetTime());
  EXPECT_EQ(23 * SoftClock::kCounterFrequency / 1000, c1 - c0);
}

TEST(VirtualClock, SubMillisecondStepsAccumulateIntoMilliseconds) {
  SoftClock clock(true);
  clock.SetMilliseconds(100);
  clock.AdvanceMicroseconds(600);
  EXPECT_EQ(100u, clock.timeGetTime());
  clock.AdvanceMicroseconds(600);
  EXPECT_EQ(101u, clock.timeGetTime());
  EXPECT_EQ(1200u, clock.NowMicroseconds());
}

TEST(VirtualClock, MultimediaClockWrapsAtTwoToThe32) {
  SoftClock clock(true);
  clock.SetMilliseconds(0xFFFFFFF0u);
  const DWORD before = clock.timeGetTime();
  clock.AdvanceMilliseconds(0x20);
  const DWORD after = clock.timeGetTime();
  EXPECT_EQ(0x10u, after);
  EXPECT_EQ(0x20u, static_cast<DWORD>(after - before));  // unsigned difference stays right
}

TEST(VirtualClock, SettingMillisecondsLeavesPerformanceCounterAlone) {
  SoftClock clock(true);
  clock.AdvanceMilliseconds(7);
  LONGLONG c0 = 0, c1 = 0;
  clock.QueryPerformanceCounter(&c0);
  clock.SetMilliseconds(0xFFFFFFFFu);
  clock.QueryPerformanceCounter(&c1);
  EXPECT_EQ(c0, c1);
}

TEST(VirtualClock, PerformanceCounterCountsOnFromTheValueSet) {
  SoftClock clock(true);
  clock.AdvanceMilliseconds(5);
  clock.SetPerformanceCounter(0x123456789LL);
  LONGLONG c = 0;
  ASSERT_TRUE(clock.QueryPerformanceCounter(&c));
  EXPECT_EQ(0x123456789LL, c);
  clock.AdvanceCounterTicks(3);
  clock.QueryPerformanceCounter(&c);
  EXPECT_EQ(0x12345678CLL, c);
}

TEST(VirtualClock, UnavailableCounterFailsAndLeavesOutputsUntouched) {
  SoftClock clock(true);
  clock.SetPerformanceCounterAvailable(false);
  LONGLONG c = -7, f = -9;
  EXPECT_FALSE(clock.QueryPerformanceCounter(&c));
  EXPECT_FALSE(clock.QueryPerformanceFrequency(&f));
  EXPECT_EQ(-7, c);
  EXPECT_EQ(-9, f);
  clock.SetPerformanceCounterAvailable(true);
  EXPECT_TRUE(clock.QueryPerformanceFrequency(&f));
  EXPECT_EQ(SoftClock::kCounterFrequency, f);
}

TEST(VirtualClock, SleepAdvancesInsteadOfWaiting) {
  SoftClock clock(true);
  const DWORD t0 = clock.timeGetTime();
  clock.Sleep(16);
  clock.Sleep(0);
  EXPECT_EQ(t0 + 16, clock.timeGetTime());
  EXPECT_EQ(2u, clock.SleepCalls());
  EXPECT_EQ(16u, clock.SleptMilliseconds());
}

TEST(VirtualClock, AdvanceToMovesForwardButNeverBack) {
  SoftClock clock(true);
  clock.AdvanceToMicroseconds(16667);
  EXPECT_EQ(16667u, clock.NowMicroseconds());
  clock.AdvanceToMicroseconds(1000);
  EXPECT_EQ(16667u, clock.NowMicroseconds());
}

TEST(RealClock, MovesOnItsOwnAndIgnoresVirtualControls) {
  SoftClock clock(false);
  LONGLONG c0 = 0, c1 = 0;
  clock.QueryPerformanceCounter(&c0);
  clock.SetPerformanceCounter(0);  // no effect on a real clock
  clock.Sleep(3);
  clock.QueryPerformanceCounter(&c1);
  EXPECT_GE(c1 - c0, 3 * SoftClock::kCounterFrequency / 1000);
  EXPECT_GE(clock.NowMicroseconds(), 3000u);
}

TEST(SoftPlatformClock, IsTheInstalledClockService) {
  plat::soft::SoftPlatform platform;
  EXPECT_EQ(&platform.clock(), &plat::Clocks());
  platform.clock().AdvanceMilliseconds(42);
  EXPECT_EQ(platform.clock().timeGetTime(), plat::Clocks().timeGetTime());
}

}  // namespace
