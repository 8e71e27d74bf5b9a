// The small helpers below every layer: rounding shared by the snow and the frame timer.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <limits>

#include "core/SysUtils.h"

namespace {

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven(0.5), 0);
  EXPECT_EQ(RoundHalfEven(1.5), 2);
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(-0.5), 0);
  EXPECT_EQ(RoundHalfEven(-1.5), -2);
  EXPECT_EQ(RoundHalfEven(2.4999), 2);
  EXPECT_EQ(RoundHalfEven(-2.6), -3);
  EXPECT_EQ(RoundHalfEven(60.94), 61);
}

TEST(RoundHalfEven, DoesNotFollowTheFloatingPointRoundingMode) {
  const int saved = std::fegetround();
  for (int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    ASSERT_EQ(std::fesetround(mode), 0);
    EXPECT_EQ(RoundHalfEven(2.5), 2) << mode;
    EXPECT_EQ(RoundHalfEven(3.5), 4) << mode;
    EXPECT_EQ(RoundHalfEven(-2.5), -2) << mode;
    EXPECT_EQ(RoundHalfEven(0.7), 1) << mode;
  }
  std::fesetround(saved);
}

TEST(RoundHalfEven, KeepsTheLowThirtyTwoBitsAndGivesZeroOutsideTheSixtyFourBitRange) {
  EXPECT_EQ(RoundHalfEven(4294967296.0 + 7.0), 7);
  EXPECT_EQ(RoundHalfEven(2147483648.0), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(RoundHalfEven(std::nan("")), 0);
  EXPECT_EQ(RoundHalfEven(1e19), 0);
  EXPECT_EQ(RoundHalfEven(-std::numeric_limits<double>::infinity()), 0);
}

}  // namespace
