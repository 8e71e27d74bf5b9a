// The built-in snowflake sprites: their measured shapes, their stored picture data, the committed text of
// that data, and the bundled wallpaper picture.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "app/Sprites.h"
#include "core/Classes.h"
#include "core/FormReader.h"
#include "core/SysUtils.h"
#include "render/DIB.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The target figures of the flake sprites, items 1 to 8: what each generated sprite must show.
struct Expected {
  int width, height, storedBytes, peak, peakX, peakY;
  double centreX, centreY, spreadX, spreadY;
  int nonZero;
};
const Expected kTable[SpriteCount] = {
    {32, 43, 5561, 255, 15, 16, 14.8, 21.2, 4.3, 7.6, 1028},
    {10, 10, 457, 129, 5, 3, 5.1, 3.7, 1.2, 1.1, 37},
    {21, 32, 2745, 200, 10, 17, 10.5, 16.4, 3.7, 5.2, 421},
    {34, 33, 4545, 179, 12, 16, 15.7, 15.3, 5.6, 5.8, 734},
    {14, 19, 1121, 84, 6, 8, 6.6, 8.4, 1.4, 3.0, 127},
    {14, 20, 1177, 90, 6, 9, 6.3, 9.3, 1.9, 2.7, 168},
    {18, 28, 2073, 108, 8, 14, 7.8, 13.9, 1.7, 4.0, 168},
    {15, 19, 1197, 224, 8, 9, 7.7, 9.0, 2.6, 3.2, 216},
};

std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint16_t Le16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SpriteShapeTest : public ::testing::TestWithParam<int> {
 protected:
  const Expected& want() const { return kTable[GetParam() - 1]; }
};

TEST_P(SpriteShapeTest, HasTheListedSize) {
  const TSpriteImage img = MakeSprite(GetParam());
  EXPECT_EQ(want().width, img.Width);
  EXPECT_EQ(want().height, img.Height);
  EXPECT_EQ(static_cast<std::size_t>(img.Width * img.Height), img.Alpha.size());
}

TEST_P(SpriteShapeTest, PeakValueAndPositionMatch) {
  const TSpriteStats st = MeasureSprite(MakeSprite(GetParam()));
  EXPECT_EQ(want().peak, st.Peak);
  EXPECT_EQ(want().peakX, st.PeakX);
  EXPECT_EQ(want().peakY, st.PeakY);
}

TEST_P(SpriteShapeTest, WeightedCentreWithinAThirdOfAPixel) {
  const TSpriteStats st = MeasureSprite(MakeSprite(GetParam()));
  EXPECT_NEAR(want().centreX, st.CentreX, 0.3);
  EXPECT_NEAR(want().centreY, st.CentreY, 0.3);
}

TEST_P(SpriteShapeTest, SpreadsWithinFifteenPercent) {
  const TSpriteStats st = MeasureSprite(MakeSprite(GetParam()));
  EXPECT_NEAR(want().spreadX, st.SpreadX, 0.15 * want().spreadX);
  EXPECT_NEAR(want().spreadY, st.SpreadY, 0.15 * want().spreadY);
}

TEST_P(SpriteShapeTest, NonZeroCountWithinTenPercent) {
  const TSpriteStats st = MeasureSprite(MakeSprite(GetParam()));
  EXPECT_NEAR(want().nonZero, st.NonZero, 0.10 * want().nonZero);
}

TEST_P(SpriteShapeTest, FallsToZeroAtTheCorners) {
  const TSpriteImage img = MakeSprite(GetParam());
  EXPECT_EQ(0, img.At(0, 0));
  EXPECT_EQ(0, img.At(img.Width - 1, 0));
  EXPECT_EQ(0, img.At(0, img.Height - 1));
  EXPECT_EQ(0, img.At(img.Width - 1, img.Height - 1));
}

TEST_P(SpriteShapeTest, StoredDataHasTheListedLength) {
  EXPECT_EQ(static_cast<std::size_t>(want().storedBytes), SpriteFormData(MakeSprite(GetParam())).size());
}

TEST_P(SpriteShapeTest, StoredHeaderDescribesA32BitBitFieldImage) {
  const Bytes d = SpriteFormData(MakeSprite(GetParam()));
  ASSERT_GE(d.size(), 57u);
  EXPECT_EQ(Bytes({4, 'T', 'D', 'I', 'B'}), Bytes(d.begin(), d.begin() + 5));
  EXPECT_EQ(40u, Le32(d, 5));
  EXPECT_EQ(static_cast<std::uint32_t>(want().width), Le32(d, 9));
  EXPECT_EQ(static_cast<std::uint32_t>(want().height), Le32(d, 13));  // positive: bottom row first
  EXPECT_EQ(1, Le16(d, 17));
  EXPECT_EQ(32, Le16(d, 19));
  EXPECT_EQ(3u, Le32(d, 21));
  EXPECT_EQ(static_cast<std::uint32_t>(4 * want().width * want().height), Le32(d, 25));
  EXPECT_EQ(0u, Le32(d, 37));  // colours used
  EXPECT_EQ(0x00FF0000u, Le32(d, 45));
  EXPECT_EQ(0x0000FF00u, Le32(d, 49));
  EXPECT_EQ(0x000000FFu, Le32(d, 53));
}

TEST_P(SpriteShapeTest, EveryStoredPixelIsWhite) {
  const Bytes d = SpriteFormData(MakeSprite(GetParam()));
  for (std::size_t i = 57; i + 3 < d.size(); i += 4) {
    ASSERT_EQ(255, d[i]) << "blue at byte " << i;
    ASSERT_EQ(255, d[i + 1]) << "green at byte " << i;
    ASSERT_EQ(255, d[i + 2]) << "red at byte " << i;
  }
}

TEST_P(SpriteShapeTest, StoredRowsRunBottomUp) {
  const TSpriteImage img = MakeSprite(GetParam());
  const Bytes d = SpriteFormData(img);
  const std::size_t stride = 4 * static_cast<std::size_t>(img.Width);
  for (int y = 0; y < img.Height; ++y) {
    for (int x = 0; x < img.Width; ++x) {
      const std::size_t at = 57 + stride * static_cast<std::size_t>(img.Height - 1 - y) + 4 * x + 3;
      ASSERT_EQ(img.At(x, y), d[at]) << "pixel (" << x << ", " << y << ")";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Items, SpriteShapeTest, ::testing::Range(1, SpriteCount + 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "Item" + std::to_string(info.param);
                         });

// ---- the two sprites with a shape of their own

TEST(LargeFlake, CoreIsFullyOpaqueOnRowsSixteenToTwentyTwoOnly) {
  const TSpriteImage img = MakeSprite(1);
  for (int y = 0; y < img.Height; ++y) {
    bool opaque = false;
    for (int x = 0; x < img.Width; ++x) opaque = opaque || img.At(x, y) == 255;
    EXPECT_EQ(y >= 16 && y <= 22, opaque) << "row " << y;
  }
}

TEST(LargeFlake, MiddleRowEndsInAFaintHaloOnBothSides) {
  const TSpriteImage img = MakeSprite(1);
  const int row = 21;
  int left = -1, right = -1;
  for (int x = 0; x < img.Width; ++x) {
    if (img.At(x, row) != 0) {
      if (left < 0) left = x;
      right = x;
    }
  }
  ASSERT_GE(left, 0);
  EXPECT_LT(left, 5);
  EXPECT_GT(right, img.Width - 6);
  for (int x : {left, right}) {
    EXPECT_GE(img.At(x, row), 12) << "column " << x;
    EXPECT_LE(img.At(x, row), 17) << "column " << x;
  }
}

TEST(BroadFlake, MostOfTheDiscLiesBetweenOneHundredAndOneEighty) {
  const TSpriteImage img = MakeSprite(4);
  int set = 0, mid = 0;
  for (std::uint8_t a : img.Alpha) {
    set += a != 0;
    mid += a >= 100 && a <= 180;
  }
  EXPECT_GT(mid, set / 2);
}

TEST(BroadFlake, IsUnevenAcrossItsInside) {
  // Mirror pixels about the centre differ somewhere inside: a disc, but not a perfectly turned one.
  const TSpriteImage img = MakeSprite(4);
  int differing = 0;
  for (int y = 10; y <= 20; ++y) {
    for (int x = 10; x <= 20; ++x) differing += img.At(x, y) != img.At(31 - x, 30 - y);
  }
  EXPECT_GT(differing, 20);
}

// ---- argument checks

TEST(SpriteLookup, ItemsOutsideOneToEightAreRefused) {
  EXPECT_THROW(SpriteShape(0), EListError);
  EXPECT_THROW(SpriteShape(SpriteCount + 1), EListError);
  EXPECT_THROW(MakeSprite(-3), EListError);
}

TEST(SpriteLookup, EmptyOrOversizedShapesAreRefused) {
  TSpriteShape s = SpriteShape(2);
  s.Width = 0;
  EXPECT_THROW(RenderSprite(s), EInvalidOperation);
  s.Width = 100000;
  EXPECT_THROW(RenderSprite(s), EInvalidOperation);
}

TEST(SpriteFormDataChecks, AlphaOfTheWrongLengthIsRefused) {
  TSpriteImage img = MakeSprite(2);
  img.Alpha.pop_back();
  EXPECT_THROW(SpriteFormData(img), EInvalidOperation);
  img.Width = 0;
  img.Alpha.clear();
  EXPECT_THROW(SpriteFormData(img), EInvalidOperation);
}

// ---- the stored data read by the picture reader

class SpriteAsDIB : public ::testing::Test {
 protected:
  void SetUp() override { InitDIBUnit(); }
};

TEST_F(SpriteAsDIB, LargeFlakeReadsAs32BitImageWithOpaquePeakAndClearCorners) {
  const Bytes d = SpriteFormData(MakeSprite(1));
  TDIB dib;
  TMemoryStream in(Bytes(d.begin() + 5, d.end()));
  dib.ReadFormData(in);
  ASSERT_EQ(32, dib.Width());
  ASSERT_EQ(43, dib.Height());
  EXPECT_EQ(32, dib.BitCount());
  EXPECT_EQ(128, dib.Stride());
  EXPECT_TRUE(dib.HasAlpha());
  EXPECT_EQ(255, dib.RowReadOnly(16)[4 * 15 + 3]);
  EXPECT_EQ(0, dib.RowReadOnly(0)[3]);
  EXPECT_EQ(0, dib.RowReadOnly(42)[4 * 31 + 3]);
}

TEST_F(SpriteAsDIB, EverySpriteWritesBackToTheSameBytes) {
  for (int item = 1; item <= SpriteCount; ++item) {
    const Bytes d = SpriteFormData(MakeSprite(item));
    TDIB dib;
    TMemoryStream in(Bytes(d.begin() + 5, d.end()));
    dib.ReadFormData(in);
    TMemoryStream out;
    dib.WriteFormData(out);
    EXPECT_EQ(Bytes(d.begin() + 5, d.end()), out.Data()) << "item " << item;
  }
}

// ---- the committed text

TEST(SpritesText, FormatsBinaryAsIndentedUpperCaseHexLines) {
  EXPECT_EQ("{\n  0A0B\n  FF}", FormatBinaryBlock({0x0A, 0x0B, 0xFF}, "  ", 2));
  EXPECT_EQ("{}", FormatBinaryBlock({}, "  "));
}

TEST(SpritesText, ParsesBackIntoTheEightSpritesData) {
  const std::string text = SpritesText();
  std::string form = "object Holder: THolder\n";
  std::istringstream blocks(text);
  // Each block starts on a line of its own with "{"; give every one a property name.
  int item = 0;
  std::string line;
  while (std::getline(blocks, line)) {
    if (line == "{") form += "  Data" + std::to_string(++item) + " = ";
    form += line + "\n";
  }
  form += "end\n";
  ASSERT_EQ(SpriteCount, item);
  const TReadObject obj = ParseFormText(form);
  ASSERT_EQ(static_cast<std::size_t>(SpriteCount), obj.props.size());
  for (int i = 0; i < SpriteCount; ++i) {
    EXPECT_EQ(SpriteFormData(MakeSprite(i + 1)), obj.props[i].value.data) << "item " << i + 1;
  }
}

TEST(SpritesText, CommittedFileMatchesTheGenerator) {
  const Bytes file = ReadFile(std::string(DS_SOURCE_DIR) + "/assets/sprites.txt");
  ASSERT_FALSE(file.empty()) << "assets/sprites.txt is missing; run gensprites assets/sprites.txt";
  EXPECT_TRUE(std::string(file.begin(), file.end()) == SpritesText())
      << "assets/sprites.txt is stale; run gensprites assets/sprites.txt";
}

// ---- the bundled wallpaper

struct JpegHeader {
  bool ok = false;
  unsigned width = 0, height = 0;
  int components = 0;
};

struct JumpError {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

void JumpOnError(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JumpError*>(cinfo->err)->jump, 1);
}

JpegHeader ReadJpegHeader(const Bytes& data) {
  JpegHeader h;
  jpeg_decompress_struct ci;
  JumpError err;
  ci.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = JumpOnError;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&ci);
    return h;
  }
  jpeg_create_decompress(&ci);
  jpeg_mem_src(&ci, const_cast<unsigned char*>(data.data()), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&ci, TRUE);
  h = {true, ci.image_width, ci.image_height, ci.num_components};
  jpeg_destroy_decompress(&ci);
  return h;
}

TEST(Wallpaper, IsAFullHdJpegOfCommitSize) {
  const Bytes file = ReadFile(std::string(DS_SOURCE_DIR) + "/assets/wallpaper.jpg");
  ASSERT_GT(file.size(), 4u) << "assets/wallpaper.jpg is missing; run genwallpaper assets/wallpaper.jpg";
  EXPECT_LT(file.size(), 400u * 1024u);
  EXPECT_EQ(0xFF, file[0]);
  EXPECT_EQ(0xD8, file[1]);
  EXPECT_EQ(0xFF, file[file.size() - 2]);
  EXPECT_EQ(0xD9, file[file.size() - 1]);
  const JpegHeader h = ReadJpegHeader(file);
  ASSERT_TRUE(h.ok);
  EXPECT_EQ(1920u, h.width);
  EXPECT_EQ(1080u, h.height);
  EXPECT_EQ(3, h.components);
}

}  // namespace
