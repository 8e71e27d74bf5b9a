// Every good file of the PNG test suite decoded by TPNGObject equals libpng's decode of the same file, once
// this reader's rules are applied to libpng's raw samples: the reader's gamma map, 16-bit samples taken by
// their high byte, grey levels scaled to 8 bits, and transparency as the reader defines it (a colour key
// compared as drawn, palette alphas, alpha channels by their high byte).
#include <gtest/gtest.h>

#if __has_include(<png.h>)
#include <png.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "picture/PngTestUtil.h"
#include "picture/pngimage/pngimage.h"
#include "platform/soft/SoftPlatform.h"
#include "support/TestData.h"

namespace {

namespace fs = std::filesystem;
using pngtest::Bytes;

std::string SuiteDir() {
  return std::string(DS_CORPORA_DIR) + "/pngsuite/png";
}

std::vector<std::string> GoodFiles() {
  std::vector<std::string> names;
  for (const std::string& f : TestDataFiles(SuiteDir(), ".png")) {
    const std::string n = fs::path(f).filename().string();
    if (n[0] != 'x') names.push_back(n);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// What libpng hands back without colour transformations: one sample per channel (bit depths below 8
// unpacked, 16-bit samples whole), rows de-interlaced, plus the chunks the reader's rules need.
struct LibpngRaw {
  png_uint_32 width = 0, height = 0;
  int depth = 0, colorType = 0, channels = 0;
  std::vector<std::uint16_t> samples;
  std::vector<png_color> palette;
  std::vector<std::uint8_t> paletteAlpha;
  bool hasKey = false;
  png_color_16 key{};
  bool hasGamma = false;
  png_fixed_point gamma = 0;
  std::string error;
  std::uint16_t Sample(png_uint_32 x, png_uint_32 y, int c) const {
    return samples[(std::size_t(y) * width + x) * channels + c];
  }
};

struct MemoryReader {
  const Bytes* data;
  std::size_t pos;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t n) {
  auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (n > r->data->size() - r->pos) png_error(png, "read past the end");
  std::memcpy(out, r->data->data() + r->pos, n);
  r->pos += n;
}

void OnError(png_structp png, png_const_charp message) {
  *static_cast<std::string*>(png_get_error_ptr(png)) = message;
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// libpng reports errors by longjmp, so each step that may fail sets its own jump point and holds nothing
// with a destructor that the jump could skip.
bool ReadHeader(png_structp png, png_infop info, LibpngRaw& out) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  out.width = png_get_image_width(png, info);
  out.height = png_get_image_height(png, info);
  out.depth = png_get_bit_depth(png, info);
  out.colorType = png_get_color_type(png, info);
  out.channels = png_get_channels(png, info);
  png_set_packing(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  return true;
}

bool ReadRows(png_structp png, png_infop info, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  png_read_end(png, info);
  return true;
}

LibpngRaw DecodeWithLibpng(const Bytes& file) {
  LibpngRaw out;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &out.error, OnError, OnWarning);
  png_infop info = png_create_info_struct(png);
  MemoryReader reader{&file, 0};
  png_set_read_fn(png, &reader, ReadFromMemory);
  Bytes pixels;
  std::vector<png_bytep> rows;
  if (ReadHeader(png, info, out)) {
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    pixels.resize(rowBytes * out.height);
    for (png_uint_32 y = 0; y < out.height; ++y) rows.push_back(pixels.data() + y * rowBytes);
    if (ReadRows(png, info, rows.data())) {
      const int bytesPerSample = out.depth == 16 ? 2 : 1;
      out.samples.resize(std::size_t(out.width) * out.height * out.channels);
      for (std::size_t i = 0; i < out.samples.size(); ++i)
        out.samples[i] =
            bytesPerSample == 2 ? std::uint16_t((pixels[2 * i] << 8) | pixels[2 * i + 1]) : pixels[i];
      png_colorp palette = nullptr;
      int paletteSize = 0;
      if (png_get_PLTE(png, info, &palette, &paletteSize)) out.palette.assign(palette, palette + paletteSize);
      png_bytep alphas = nullptr;
      int alphaCount = 0;
      png_color_16p key = nullptr;
      if (png_get_tRNS(png, info, &alphas, &alphaCount, &key)) {
        if (out.colorType == PNG_COLOR_TYPE_PALETTE)
          out.paletteAlpha.assign(alphas, alphas + alphaCount);
        else if (key != nullptr)
          out.hasKey = true, out.key = *key;
      }
      out.hasGamma = png_get_gAMA_fixed(png, info, &out.gamma) != 0;
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return out;
}

// The reader's gamma map: the standard's formula, halves rounded to even; none without a usable gAMA.
std::array<std::uint8_t, 256> GammaMap(const LibpngRaw& raw) {
  std::array<std::uint8_t, 256> g{};
  for (int i = 0; i < 256; ++i) {
    g[i] = std::uint8_t(i);
    if (raw.hasGamma && raw.gamma > 0)
      g[i] = std::uint8_t(std::nearbyint(std::pow(i / 255.0, 1.0 / (raw.gamma / 100000.0 * 2.2)) * 255.0));
  }
  return g;
}

struct Rgba {
  std::uint8_t r, g, b, a;
};

// The pixel libpng's samples give under the reader's rules.
Rgba Expected(const LibpngRaw& raw, const std::array<std::uint8_t, 256>& G, png_uint_32 x, png_uint_32 y) {
  const auto high = [&](int c) { return raw.depth == 16 ? raw.Sample(x, y, c) >> 8 : raw.Sample(x, y, c); };
  const auto greyLevel = [&](int s) { return raw.depth == 16 ? s >> 8 : s * 255 / ((1 << raw.depth) - 1); };
  // A key sample matches when the pixel and the key look the same once drawn.
  const auto keyMatches = [&](int c, int k) {
    const int s = raw.Sample(x, y, c);
    if (raw.colorType == PNG_COLOR_TYPE_GRAY) return G[greyLevel(s)] == G[greyLevel(k)];
    return raw.depth == 16 ? G[s >> 8] == G[k >> 8] : G[s] == G[k & 0xFF];
  };
  switch (raw.colorType) {
    case PNG_COLOR_TYPE_GRAY: {
      const std::uint8_t v = G[greyLevel(raw.Sample(x, y, 0))];
      const bool clear = raw.hasKey && keyMatches(0, raw.key.gray);
      return {v, v, v, std::uint8_t(clear ? 0 : 255)};
    }
    case PNG_COLOR_TYPE_RGB: {
      const bool clear = raw.hasKey && keyMatches(0, raw.key.red) && keyMatches(1, raw.key.green) &&
                         keyMatches(2, raw.key.blue);
      return {G[high(0)], G[high(1)], G[high(2)], std::uint8_t(clear ? 0 : 255)};
    }
    case PNG_COLOR_TYPE_PALETTE: {
      const std::size_t i = raw.Sample(x, y, 0);
      const png_color c = raw.palette.at(i);
      const std::uint8_t a = i < raw.paletteAlpha.size() ? raw.paletteAlpha[i] : 255;
      return {G[c.red], G[c.green], G[c.blue], a};
    }
    case PNG_COLOR_TYPE_GRAY_ALPHA: {
      const std::uint8_t v = G[high(0)];
      return {v, v, v, std::uint8_t(high(1))};
    }
    default:
      return {G[high(0)], G[high(1)], G[high(2)], std::uint8_t(high(3))};
  }
}

class PngSuiteAgainstLibpng : public ::testing::TestWithParam<std::string> {};

TEST_P(PngSuiteAgainstLibpng, PixelsAndAlphaEqualLibpngsDecodeUnderTheReadersRules) {
  plat::soft::SoftPlatform platform;
  const Bytes file = pngtest::ReadFile(SuiteDir() + "/" + GetParam());
  const LibpngRaw raw = DecodeWithLibpng(file);
  ASSERT_TRUE(raw.error.empty()) << "libpng: " << raw.error;
  ASSERT_FALSE(raw.samples.empty());

  TPNGObject image;
  TReadOnlyMemoryStream in(file.data(), file.size());
  image.ReadGraphicStream(in);
  ASSERT_EQ(image.ImageWidth(), int(raw.width));
  ASSERT_EQ(image.ImageHeight(), int(raw.height));

  const auto G = GammaMap(raw);
  int mismatches = 0;
  for (png_uint_32 y = 0; y < raw.height; ++y)
    for (png_uint_32 x = 0; x < raw.width; ++x) {
      const Rgba e = Expected(raw, G, x, y);
      const TColor want = TColor(e.r | (e.g << 8) | (e.b << 16));
      const TColor got = image.PixelAt(int(x), int(y));
      const std::uint8_t alpha = image.AlphaAt(int(x), int(y));
      if (got != want || alpha != e.a) {
        if (++mismatches <= 3)
          ADD_FAILURE() << GetParam() << " (" << x << "," << y << "): colour 0x" << std::hex << got
                        << " alpha " << std::dec << int(alpha) << ", libpng gives 0x" << std::hex << want
                        << " alpha " << std::dec << int(e.a);
      }
    }
  EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(GoodFiles, PngSuiteAgainstLibpng, ::testing::ValuesIn(GoodFiles()),
                         [](const auto& info) { return info.param.substr(0, info.param.size() - 4); });

// Guards the comparison itself: a file whose gAMA libpng reads changes the expected colours, so a reader
// that ignored gamma would be caught.
TEST(LibpngReference, ReadsTheGammaOfAGammaFile) {
  const LibpngRaw raw = DecodeWithLibpng(pngtest::ReadFile(SuiteDir() + "/g03n2c08.png"));
  ASSERT_TRUE(raw.error.empty()) << raw.error;
  EXPECT_TRUE(raw.hasGamma);
  EXPECT_NE(GammaMap(raw)[128], 128);
}

TEST(LibpngReference, RefusesACorruptFileSoOnlyGoodFilesAreCompared) {
  const LibpngRaw raw = DecodeWithLibpng(pngtest::ReadFile(SuiteDir() + "/xcsn0g01.png"));
  EXPECT_FALSE(raw.error.empty());
}

TEST(LibpngReference, ComparesEveryGoodFileOfTheSuite) {
  EXPECT_EQ(GoodFiles().size(), 161u);
}

}  // namespace

#else

TEST(PngSuiteAgainstLibpng, NeedsLibpng) {
  GTEST_SKIP() << "built without libpng";
}

#endif
