// The texture fill's row conversion: the vector kernel against the plain loop and against the pixel
// formula, for every row length around the vector step, from every byte alignment, reading no byte past
// the row (the row ends at the end of its allocation, where the address sanitizer watches).
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "render/PixelRows.h"

namespace {

std::uint32_t Texel(const std::uint8_t* p) {
  return 0xFF000000u | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

TEST(PixelRowsTest, Bgr24RowsGiveTheSameOpaqueWordsOnBothPathsForEveryLengthAndAlignment) {
  std::uint32_t seed = 12345;
  for (int n = 0; n <= 70; ++n) {
    for (int shift = 0; shift < 16; ++shift) {
      const std::size_t bytes = std::size_t(n) * 3 + std::size_t(shift);
      std::unique_ptr<std::uint8_t[]> storage(new std::uint8_t[bytes == 0 ? 1 : bytes]);
      std::uint8_t* src = storage.get() + shift;
      for (std::size_t i = 0; i < std::size_t(n) * 3; ++i) {
        seed = seed * 1103515245u + 12345u;
        src[i] = static_cast<std::uint8_t>(seed >> 16);
      }
      std::vector<std::uint32_t> fast(std::size_t(n) + 1, 0xDEADBEEFu), plain(fast);
      pixelrows::Bgr24ToXrgb32(src, fast.data(), n);
      pixelrows::Bgr24ToXrgb32Plain(src, plain.data(), n);
      for (int x = 0; x < n; ++x) {
        ASSERT_EQ(fast[std::size_t(x)], Texel(src + 3 * x)) << "width " << n << ", pixel " << x;
        ASSERT_EQ(plain[std::size_t(x)], Texel(src + 3 * x)) << "width " << n << ", pixel " << x;
      }
      ASSERT_EQ(fast[std::size_t(n)], 0xDEADBEEFu) << "wrote past the row of width " << n;
      ASSERT_EQ(plain[std::size_t(n)], 0xDEADBEEFu) << "wrote past the row of width " << n;
    }
  }
}

TEST(PixelRowsTest, ExtremeBytesKeepTheirChannels) {
  const std::uint8_t src[48] = {0,   0, 0, 255, 255, 255, 255, 0,   0,   0,   255, 0, 0,   0, 255, 1,
                                2,   3, 0, 0,   0,   255, 255, 255, 255, 0,   0,   0, 255, 0, 0,   0,
                                255, 1, 2, 3,   0,   0,   0,   255, 255, 255, 255, 0, 0,   0, 255, 0};
  std::uint32_t out[16];
  pixelrows::Bgr24ToXrgb32(src, out, 16);
  const std::uint32_t want[6] = {0xFF000000u, 0xFFFFFFFFu, 0xFF0000FFu,
                                 0xFF00FF00u, 0xFFFF0000u, 0xFF030201u};
  for (int x = 0; x < 16; ++x) EXPECT_EQ(out[x], want[x % 6]) << "pixel " << x;
}

}  // namespace
