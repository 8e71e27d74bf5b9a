// Row unfiltering against the standard's byte-by-byte definition, for every filter type and every pixel size
// the colour types give (1 to 8 bytes, and odd sizes), on rows of random bytes including rows shorter than
// one pixel and rows that are not a whole number of pixels.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "picture/pngimage/PngCore.h"

namespace {

using Row = std::vector<std::uint8_t>;

// The definition itself: a, b and c are the bytes left, above and above-left, zero outside the row.
Row Reference(int filter, Row x, const Row& up, unsigned bpp) {
  for (std::size_t i = 0; i < x.size(); ++i) {
    const int a = i >= bpp ? x[i - bpp] : 0, b = up[i], c = i >= bpp ? up[i - bpp] : 0;
    int pred = 0;
    if (filter == 1) pred = a;
    if (filter == 2) pred = b;
    if (filter == 3) pred = (a + b) / 2;
    if (filter == 4) {
      const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
      pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
    }
    x[i] = std::uint8_t(x[i] + pred);
  }
  return x;
}

class RowUnfiltering : public ::testing::TestWithParam<unsigned> {};

TEST_P(RowUnfiltering, EveryFilterMatchesTheDefinitionOnRandomRows) {
  const unsigned bpp = GetParam();
  std::mt19937 random(bpp);
  for (int filter = 0; filter <= 4; ++filter)
    for (std::size_t length : {std::size_t(0), std::size_t(1), std::size_t(bpp - 1), std::size_t(bpp),
                               std::size_t(bpp) * 7, std::size_t(bpp) * 301 + bpp / 2}) {
      Row x(length), up(length);
      for (auto& v : x) v = std::uint8_t(random());
      for (auto& v : up) v = std::uint8_t(random());
      Row got = x;
      png::UndoRowFilter(std::uint8_t(filter), got.data(), up.data(), got.size(), bpp);
      EXPECT_EQ(got, Reference(filter, x, up, bpp)) << "filter " << filter << ", " << length << " bytes";
    }
}

INSTANTIATE_TEST_SUITE_P(PixelSizes, RowUnfiltering, ::testing::Values(1u, 2u, 3u, 4u, 5u, 6u, 8u));

TEST(RowUnfiltering, UnknownFilterTypeLeavesTheRowAsItIs) {
  Row x = {1, 2, 3, 4}, up = {9, 9, 9, 9};
  png::UndoRowFilter(7, x.data(), up.data(), x.size(), 1);
  EXPECT_EQ(x, (Row{1, 2, 3, 4}));
}

}  // namespace
