// Every file of the PNG test suite: good files decode to the pixels an independent reference decoder gives
// after this reader's rules (gamma map, 16-bit high bytes, grey ramps, transparency); corrupt ones fail with
// the right error.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "picture/PngTestUtil.h"
#include "picture/pngimage/pngimage.h"
#include "platform/MemorySection.h"
#include "platform/Platform.h"
#include "platform/soft/SoftPlatform.h"
#include "support/TestData.h"

namespace {

namespace fs = std::filesystem;
using pngtest::Bytes;

std::string SuiteDir() {
  return std::string(DS_CORPORA_DIR) + "/pngsuite/png";
}

std::vector<std::string> SuiteFiles(bool corrupt) {
  std::vector<std::string> names;
  for (const std::string& f : TestDataFiles(SuiteDir(), ".png")) {
    const std::string n = fs::path(f).filename().string();
    if ((n[0] == 'x') == corrupt) names.push_back(n);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Gamma map of the standard formula with halves rounded to even.
std::array<std::uint8_t, 256> ExpectedGamma(const pngtest::RefImage& img) {
  std::array<std::uint8_t, 256> g{};
  for (int i = 0; i < 256; ++i) {
    g[i] = std::uint8_t(i);
    if (img.hasGamma && img.gamma != 0)
      g[i] = std::uint8_t(std::nearbyint(std::pow(i / 255.0, 1.0 / (img.gamma / 100000.0 * 2.2)) * 255.0));
  }
  return g;
}

// The 8-bit level a grey sample shows before gamma.
int GreyLevel(int sample, int depth) {
  return depth == 16 ? sample >> 8 : sample * 255 / ((1 << depth) - 1);
}

struct Expect {
  std::uint8_t r, g, b, a;
};

Expect ExpectedPixel(const pngtest::RefImage& img, const std::array<std::uint8_t, 256>& G, std::uint32_t x,
                     std::uint32_t y) {
  auto hi = [&](int c) { return img.depth == 16 ? img.Sample(x, y, c) >> 8 : img.Sample(x, y, c); };
  auto trnsSample = [&](int c) { return (img.trns[2 * c] << 8) | img.trns[2 * c + 1]; };
  // The colour key is compared as drawn: the key's colour (gamma-mapped, high bytes of 16-bit samples)
  // against the pixel's colour, so samples that gamma maps to the key's colour count as transparent too.
  auto keyMatches = [&](int c) {
    const int s = img.Sample(x, y, c), k = trnsSample(c);
    if (img.colorType == 0) return G[GreyLevel(s, img.depth)] == G[GreyLevel(k, img.depth)];
    return img.depth == 16 ? G[s >> 8] == G[k >> 8] : G[s] == G[k & 0xFF];
  };
  switch (img.colorType) {
    case 0: {
      const std::uint8_t v = G[GreyLevel(img.Sample(x, y, 0), img.depth)];
      const bool clear = img.hasTrns && img.trns.size() >= 2 && keyMatches(0);
      return {v, v, v, std::uint8_t(clear ? 0 : 255)};
    }
    case 2: {
      const bool clear =
          img.hasTrns && img.trns.size() >= 6 && keyMatches(0) && keyMatches(1) && keyMatches(2);
      return {G[hi(0)], G[hi(1)], G[hi(2)], std::uint8_t(clear ? 0 : 255)};
    }
    case 3: {
      const int i = img.Sample(x, y, 0);
      const std::uint8_t a = img.hasTrns && std::size_t(i) < img.trns.size() ? img.trns[i] : 255;
      return {G[img.palette[3 * i]], G[img.palette[3 * i + 1]], G[img.palette[3 * i + 2]], a};
    }
    case 4: {
      const std::uint8_t v = G[hi(0)];
      return {v, v, v, std::uint8_t(hi(1))};
    }
    default:
      return {G[hi(0)], G[hi(1)], G[hi(2)], std::uint8_t(hi(3))};
  }
}

class PngSuiteGoodFile : public ::testing::TestWithParam<std::string> {};

void CheckAgainstReference(const std::string& name) {
  const Bytes file = pngtest::ReadFile(SuiteDir() + "/" + name);
  const pngtest::RefImage ref = pngtest::RefDecode(file);
  const auto G = ExpectedGamma(ref);
  int w = 0, h = 0;
  std::vector<std::uint8_t> bgra;
  ASSERT_TRUE(DecodePngToBGRA(file.data(), file.size(), w, h, bgra));
  ASSERT_EQ(std::uint32_t(w), ref.width);
  ASSERT_EQ(std::uint32_t(h), ref.height);
  int mismatches = 0;
  for (std::uint32_t y = 0; y < ref.height; ++y)
    for (std::uint32_t x = 0; x < ref.width; ++x) {
      const Expect e = ExpectedPixel(ref, G, x, y);
      const std::uint8_t* p = &bgra[(std::size_t(y) * w + x) * 4];
      if (p[0] != e.b || p[1] != e.g || p[2] != e.r || p[3] != e.a) {
        if (++mismatches <= 3)
          ADD_FAILURE() << name << " pixel (" << x << "," << y << "): got BGRA " << int(p[0]) << ","
                        << int(p[1]) << "," << int(p[2]) << "," << int(p[3]) << " expected " << int(e.b)
                        << "," << int(e.g) << "," << int(e.r) << "," << int(e.a);
      }
    }
  EXPECT_EQ(mismatches, 0);
}

TEST_P(PngSuiteGoodFile, DecodesToTheReferencePixels) {
  CheckAgainstReference(GetParam());
}

TEST_P(PngSuiteGoodFile, DecodesTheSameWithTheStoreInAGraphicsSection) {
  plat::soft::SoftPlatform platform;
  CheckAgainstReference(GetParam());
}

int BlendChannel(int s, int a, int old) {
  return (s * a + 255 + (255 - a) * old) / 256;
}

// Drawn at its own size over a coloured background: opaque images show their colours, bit-transparent ones
// leave the key colour's pixels, partially transparent ones blend with the exact integer formula.
TEST_P(PngSuiteGoodFile, DrawsAtItsOwnSizeAsTheTransparencyRulesSay) {
  plat::soft::SoftPlatform platform;
  const Bytes file = pngtest::ReadFile(SuiteDir() + "/" + GetParam());
  const pngtest::RefImage ref = pngtest::RefDecode(file);
  const auto G = ExpectedGamma(ref);
  TPNGObject image;
  TReadOnlyMemoryStream in(file.data(), file.size());
  image.ReadGraphicStream(in);

  enum { None, Bit, Partial } mode = None;
  int keyIndex = -1;
  if (ref.colorType == 4 || ref.colorType == 6) mode = Partial;
  if (ref.hasTrns && (ref.colorType == 0 || ref.colorType == 2)) mode = Bit;
  if (ref.hasTrns && ref.colorType == 3) {
    int nonOpaque = 0;
    for (std::size_t i = 0; i < ref.trns.size(); ++i)
      if (ref.trns[i] != 255) {
        ++nonOpaque;
        if (ref.trns[i] == 0 && keyIndex < 0) keyIndex = int(i);
      }
    mode = nonOpaque == 1 && keyIndex >= 0 ? Bit : Partial;
  }

  const int w = int(ref.width), h = int(ref.height);
  plat::MemorySection32 target(w, h);
  ASSERT_TRUE(target.valid());
  const std::uint8_t bg[3] = {32, 128, 64};  // blue, green, red
  target.Fill(0x408020);
  const auto* px = reinterpret_cast<const std::uint8_t*>(target.pixels());
  {
    TCanvas canvas(target.dc());
    image.DrawGraphic(canvas, Rect(0, 0, w, h));
  }

  int mismatches = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Expect e = ExpectedPixel(ref, G, std::uint32_t(x), std::uint32_t(y));
      int want[3] = {e.b, e.g, e.r};
      if (mode == Bit) {
        bool clear = e.a == 0;
        if (ref.colorType == 3) {
          const Expect k = {G[ref.palette[3 * keyIndex]], G[ref.palette[3 * keyIndex + 1]],
                            G[ref.palette[3 * keyIndex + 2]], 0};
          clear = e.r == k.r && e.g == k.g && e.b == k.b;
        }
        if (clear) std::copy(bg, bg + 3, want);
      } else if (mode == Partial) {
        // Grey with alpha blends the stored grey byte itself, without the gamma map.
        const int grey = ref.depth == 16 ? ref.Sample(x, y, 0) >> 8 : ref.Sample(x, y, 0);
        const int s[3] = {ref.colorType == 4 ? grey : e.b, ref.colorType == 4 ? grey : e.g,
                          ref.colorType == 4 ? grey : e.r};
        for (int c = 0; c < 3; ++c) want[c] = BlendChannel(s[c], e.a, bg[c]);
      }
      const std::uint8_t* p = px + (std::size_t(y) * w + x) * 4;
      if (p[0] != want[0] || p[1] != want[1] || p[2] != want[2]) {
        if (++mismatches <= 3)
          ADD_FAILURE() << GetParam() << " (" << x << "," << y << ") got " << int(p[0]) << "," << int(p[1])
                        << "," << int(p[2]) << " want " << want[0] << "," << want[1] << "," << want[2];
      }
    }
  EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(AllGoodFiles, PngSuiteGoodFile, ::testing::ValuesIn(SuiteFiles(false)),
                         [](const auto& info) { return info.param.substr(0, info.param.size() - 4); });

// Writing rebuilds the file from the store (colour samples through the inverse gamma map); reading that back
// gives the same pixels.
TEST_P(PngSuiteGoodFile, WritesAFileThatReadsBackToTheSamePixels) {
  const Bytes file = pngtest::ReadFile(SuiteDir() + "/" + GetParam());
  TPNGObject original, copy;
  TReadOnlyMemoryStream in(file.data(), file.size());
  original.ReadGraphicStream(in);
  copy.Assign(&original);
  ASSERT_EQ(copy.ImageWidth(), original.ImageWidth());
  ASSERT_EQ(copy.ImageHeight(), original.ImageHeight());
  int mismatches = 0;
  for (int y = 0; y < original.ImageHeight(); ++y)
    for (int x = 0; x < original.ImageWidth(); ++x)
      if (copy.PixelAt(x, y) != original.PixelAt(x, y) || copy.AlphaAt(x, y) != original.AlphaAt(x, y))
        ++mismatches;
  EXPECT_EQ(mismatches, 0);
  EXPECT_TRUE(copy.SameImage(original));
}

struct CorruptCase {
  const char* file;
  const char* errorClass;
  const char* text;
};

class PngSuiteCorruptFile : public ::testing::TestWithParam<CorruptCase> {};

TEST_P(PngSuiteCorruptFile, FailsWithItsError) {
  const CorruptCase& c = GetParam();
  const Bytes file = pngtest::ReadFile(SuiteDir() + "/" + c.file);
  TPNGObject image;
  TReadOnlyMemoryStream s(file.data(), file.size());
  try {
    image.ReadGraphicStream(s);
    FAIL() << c.file << " was accepted";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), c.errorClass) << c.file;
    EXPECT_EQ(e.Message, c.text) << c.file;
  }
}

INSTANTIATE_TEST_SUITE_P(
    AllCorruptFiles, PngSuiteCorruptFile,
    ::testing::Values(CorruptCase{"xs1n0g01.png", "EPNGInvalidFileHeader", EPngInvalidFileHeaderText},
                      CorruptCase{"xs2n0g01.png", "EPNGInvalidFileHeader", EPngInvalidFileHeaderText},
                      CorruptCase{"xs4n0g01.png", "EPNGInvalidFileHeader", EPngInvalidFileHeaderText},
                      CorruptCase{"xs7n0g01.png", "EPNGInvalidFileHeader", EPngInvalidFileHeaderText},
                      CorruptCase{"xcrn0g04.png", "EPNGInvalidFileHeader", EPngInvalidFileHeaderText},
                      CorruptCase{"xlfn0g04.png", "EPNGInvalidFileHeader", EPngInvalidFileHeaderText},
                      CorruptCase{"xhdn0g08.png", "EPngInvalidCRC", EPngInvalidCRCText},
                      CorruptCase{"xc1n0g08.png", "EPngInvalidIHDR", EPngInvalidIHDRText},
                      CorruptCase{"xc9n2c08.png", "EPngInvalidIHDR", EPngInvalidIHDRText},
                      CorruptCase{"xd0n2c08.png", "EPngInvalidIHDR", EPngInvalidIHDRText},
                      CorruptCase{"xd3n2c08.png", "EPngInvalidIHDR", EPngInvalidIHDRText},
                      CorruptCase{"xd9n2c08.png", "EPngInvalidIHDR", EPngInvalidIHDRText},
                      CorruptCase{"xdtn0g01.png", "EPNGNoImageData", EPngNoImageDataText},
                      CorruptCase{"xcsn0g01.png", "EPngInvalidCRC", EPngInvalidCRCText}),
    [](const auto& info) { return std::string(info.param.file).substr(0, 8); });

TEST(PngSuite, HasEveryFileOfTheSuite) {
  EXPECT_EQ(SuiteFiles(false).size(), 161u);
  EXPECT_EQ(SuiteFiles(true).size(), 14u);
}

}  // namespace
