// The 16-bit target kernels: their vector blocks give the plain loops' pixels byte for byte, for every
// target pixel value under every alpha, in 5-6-5, 5-5-5 and other layouts.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/common/SoftDirect3DQuad.h"

using namespace plat::soft::dd;

namespace {

struct Layout16 {
  const char* name;
  plat::DWORD r, g, b;
  bool vectorised;  // the layouts of real displays must take the vector blocks
};

const Layout16 kLayouts[] = {{"5-6-5", 0xF800, 0x07E0, 0x001F, true},
                             {"5-5-5", 0x7C00, 0x03E0, 0x001F, true},
                             {"6-5-5", 0xFC00, 0x03E0, 0x001F, true},
                             {"4-4-4", 0x0F00, 0x00F0, 0x000F, true},
                             {"3-3-2", 0x00E0, 0x001C, 0x0003, false}};

class Span16Test : public ::testing::TestWithParam<Layout16> {
 protected:
  void SetUp() override { narrow_.Make(MakeRGB(16, GetParam().r, GetParam().g, GetParam().b, 0)); }

  // Every 16-bit value as a target pixel, under source pixels of random colour whose alpha runs through
  // 0..255 (shifted by pass), from an odd start so the vector blocks meet every alignment and a tail.
  template <class Kernel>
  void ExpectVectorsMatchPlainLoops(Kernel kernel) {
    if (GetParam().vectorised) {
      ASSERT_TRUE(narrow_.vectors);
    }
    std::mt19937 rng(7);
    for (int pass = 0; pass < 3; ++pass) {
      const std::size_t n = 65536, skip = std::size_t(pass);
      std::vector<std::uint8_t> src(4 * n), vec(2 * n), plain(2 * n);
      for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t s =
            std::uint32_t((i * 7 + std::size_t(pass) * 85) & 255) << 24 | (rng() & 0xFFFFFF);
        std::memcpy(&src[4 * i], &s, 4);
        const std::uint16_t d = std::uint16_t(i * 40503u);  // odd multiplier: every value once
        std::memcpy(&vec[2 * i], &d, 2);
        std::memcpy(&plain[2 * i], &d, 2);
      }
      kernel(src.data() + 4 * skip, vec.data() + 2 * skip, n - 2 * skip, true);
      kernel(src.data() + 4 * skip, plain.data() + 2 * skip, n - 2 * skip, false);
      for (std::size_t i = 0; i < n; ++i)
        if (vec[2 * i] != plain[2 * i] || vec[2 * i + 1] != plain[2 * i + 1]) {
          std::uint16_t v, p, d = std::uint16_t(i * 40503u);
          std::uint32_t s;
          std::memcpy(&v, &vec[2 * i], 2);
          std::memcpy(&p, &plain[2 * i], 2);
          std::memcpy(&s, &src[4 * i], 4);
          FAIL() << "pass " << pass << " pixel " << i << ": source " << std::hex << s << " over " << d
                 << " gives " << v << " instead of " << p;
        }
    }
  }

  Narrow16 narrow_;
};

TEST_P(Span16Test, BlendedSpansMatchPlainLoops) {
  ExpectVectorsMatchPlainLoops([this](const std::uint8_t* s, std::uint8_t* d, std::size_t n, bool vectors) {
    BlendSpan16(s, d, n, narrow_, vectors);
  });
}

TEST_P(Span16Test, StoredSpansMatchPlainLoops) {
  ExpectVectorsMatchPlainLoops([this](const std::uint8_t* s, std::uint8_t* d, std::size_t n, bool vectors) {
    StoreSpan16(s, d, n, narrow_, vectors);
  });
}

INSTANTIATE_TEST_SUITE_P(Layouts, Span16Test, ::testing::ValuesIn(kLayouts),
                         [](const ::testing::TestParamInfo<Layout16>& p) {
                           std::string n = p.param.name;
                           for (char& c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

}  // namespace
