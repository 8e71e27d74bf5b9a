// Drawing PNG images on the soft platform: the opaque stretch, the colour-keyed draw and the alpha blend
// with its exact arithmetic and truncating source mapping; the store as a DIB section; loading by extension.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "picture/PngTestUtil.h"
#include "picture/pngimage/pngimage.h"
#include "platform/MemorySection.h"
#include "platform/Platform.h"
#include "platform/common/SoftGdi.h"
#include "platform/soft/SoftPlatform.h"

namespace {

using pngtest::Bytes;
using pngtest::Chunk;
using pngtest::Header;
using pngtest::MakePng;

// A 32-bit top-down section in a memory context, filled with one colour.
class Target {
 public:
  Target(int w, int h, std::uint32_t fill) : section_(w, h) {
    section_.Fill(fill);
    canvas_.SetHandle(section_.dc());
  }
  // 0x00RRGGBB as the section stores it (blue in the low byte).
  std::uint32_t At(int x, int y) const { return section_.pixels()[y * section_.width() + x] & 0xFFFFFF; }
  TCanvas& canvas() { return canvas_; }
  plat::HDC dc() const { return section_.dc(); }

 private:
  plat::MemorySection32 section_;
  TCanvas canvas_;
};

class PngDraw : public ::testing::Test {
 protected:
  void SetUp() override { InitPngUnit(); }
  plat::soft::SoftPlatform platform_;
};

void Read(TPNGObject& image, const Bytes& file) {
  TReadOnlyMemoryStream s(file.data(), file.size());
  image.ReadGraphicStream(s);
}

std::uint32_t Rgb(int r, int g, int b) {
  return std::uint32_t((r << 16) | (g << 8) | b);
}
int Blend(int s, int a, int old) {
  return (s * a + 255 + (255 - a) * old) / 256;
}

// 4 x 1 RGBA: one channel set per pixel, alphas 0, 100, 200, 255.
const int kRgba[4][4] = {{200, 10, 20, 0}, {30, 180, 60, 100}, {90, 40, 250, 200}, {70, 80, 90, 255}};

Bytes RgbaFile() {
  Bytes raw = {0};
  for (const auto& p : kRgba)
    for (int c : p) raw.push_back(std::uint8_t(c));
  return MakePng(Header(4, 1, 8, 6), raw);
}

TEST_F(PngDraw, ColourWithAlphaOverBlackGivesTheBlendFormula) {
  TPNGObject image;
  Read(image, RgbaFile());
  Target t(4, 1, 0x000000);
  image.DrawGraphic(t.canvas(), Rect(0, 0, 4, 1));
  for (int x = 0; x < 4; ++x) {
    const int a = kRgba[x][3];
    const std::uint32_t expected =
        a == 0 ? 0 : Rgb(Blend(kRgba[x][0], a, 0), Blend(kRgba[x][1], a, 0), Blend(kRgba[x][2], a, 0));
    EXPECT_EQ(t.At(x, 0), expected) << x;
  }
}

TEST_F(PngDraw, ColourWithAlphaOverWhiteGivesTheBlendFormula) {
  TPNGObject image;
  Read(image, RgbaFile());
  Target t(4, 1, 0xFFFFFF);
  image.DrawGraphic(t.canvas(), Rect(0, 0, 4, 1));
  for (int x = 0; x < 4; ++x) {
    const int a = kRgba[x][3];
    EXPECT_EQ(t.At(x, 0),
              Rgb(Blend(kRgba[x][0], a, 255), Blend(kRgba[x][1], a, 255), Blend(kRgba[x][2], a, 255)))
        << x;
  }
}

TEST_F(PngDraw, BlendedDrawIntoADoubleWidthRectangleRepeatsEveryColumn) {
  TPNGObject image;
  Read(image, RgbaFile());
  Target once(4, 1, 0x102030), twice(8, 1, 0x102030);
  image.DrawGraphic(once.canvas(), Rect(0, 0, 4, 1));
  image.DrawGraphic(twice.canvas(), Rect(0, 0, 8, 1));
  for (int x = 0; x < 8; ++x) EXPECT_EQ(twice.At(x, 0), once.At(x / 2, 0)) << x;
}

TEST_F(PngDraw, BlendedDrawShrinkingTruncatesTheSourcePosition) {
  TPNGObject image;
  Read(image, RgbaFile());
  Target full(4, 1, 0), shrunk(3, 1, 0);
  image.DrawGraphic(full.canvas(), Rect(0, 0, 4, 1));
  image.DrawGraphic(shrunk.canvas(), Rect(0, 0, 3, 1));
  // ratio 3/4: destination 0, 1, 2 take source 0, 1 (1.33), 2 (2.67).
  EXPECT_EQ(shrunk.At(0, 0), full.At(0, 0));
  EXPECT_EQ(shrunk.At(1, 0), full.At(1, 0));
  EXPECT_EQ(shrunk.At(2, 0), full.At(2, 0));
}

TEST_F(PngDraw, BlendedDrawWithCornersReversedDrawsTheOrderedRectangle) {
  TPNGObject image;
  Read(image, RgbaFile());
  Target a(6, 3, 0x405060), b(6, 3, 0x405060);
  image.DrawBlended(a.dc(), Rect(1, 1, 5, 2));
  image.DrawBlended(b.dc(), Rect(5, 2, 1, 1));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(a.At(x, y), b.At(x, y));
}

TEST_F(PngDraw, BlendedDrawIntoAnEmptyRectangleLeavesTheTarget) {
  TPNGObject image;
  Read(image, RgbaFile());
  Target t(4, 1, 0x123456);
  image.DrawBlended(t.dc(), Rect(0, 0, 0, 1));
  for (int x = 0; x < 4; ++x) EXPECT_EQ(t.At(x, 0), 0x123456u);
}

TEST_F(PngDraw, GreyWithAlphaBlendsTheStoredGreyByte) {
  TPNGObject image;
  Read(image, MakePng(Header(2, 1, 8, 4), Bytes{0, 100, 50, 240, 255}));
  Target t(2, 1, 0x000000);
  image.DrawGraphic(t.canvas(), Rect(0, 0, 2, 1));
  const int g0 = Blend(100, 50, 0), g1 = Blend(240, 255, 0);
  EXPECT_EQ(t.At(0, 0), Rgb(g0, g0, g0));
  EXPECT_EQ(t.At(1, 0), Rgb(g1, g1, g1));
}

Bytes PaletteImage(const Bytes& trns, const Bytes& indices) {
  Bytes raw = {0};
  raw.insert(raw.end(), indices.begin(), indices.end());
  std::vector<Bytes> extra = {Chunk("PLTE", {255, 0, 0, 0, 255, 0, 0, 0, 255})};
  if (!trns.empty()) extra.push_back(Chunk("tRNS", trns));
  return MakePng(Header(std::uint32_t(indices.size()), 1, 8, 3), raw, extra);
}

TEST_F(PngDraw, PaletteImageBlendsWithItsAlphaTable) {
  TPNGObject image;
  Read(image, PaletteImage({0, 128}, {0, 1, 2}));
  Target t(3, 1, 0xFFFFFF);
  image.DrawGraphic(t.canvas(), Rect(0, 0, 3, 1));
  EXPECT_EQ(t.At(0, 0), 0xFFFFFFu);
  EXPECT_EQ(t.At(1, 0), Rgb(Blend(0, 128, 255), Blend(255, 128, 255), Blend(0, 128, 255)));
  EXPECT_EQ(t.At(2, 0), Rgb(0, 0, 255));
}

// Drawing a 2 x 1 palette image fails with the missing-entry error.
void ExpectNoSuchPaletteEntry(TPNGObject& image) {
  Target t(2, 1, 0);
  try {
    image.DrawGraphic(t.canvas(), Rect(0, 0, 2, 1));
    ADD_FAILURE() << "drew with an entry the palette does not have";
  } catch (const EPngError& e) {
    EXPECT_EQ(e.Message, EPngUnknownPalEntryText);
  }
}

TEST_F(PngDraw, PaletteIndexBeyondThePaletteFailsToBlend) {
  TPNGObject image;
  Read(image, PaletteImage({0, 128}, {0, 7}));
  ExpectNoSuchPaletteEntry(image);
}

TEST_F(PngDraw, PaletteIndexBeyondThePaletteDrawsInTheOpaqueMode) {
  TPNGObject image;
  Read(image, PaletteImage({}, {0, 7}));
  Target t(2, 1, 0x777777);
  EXPECT_NO_THROW(image.DrawGraphic(t.canvas(), Rect(0, 0, 2, 1)));
  EXPECT_EQ(t.At(0, 0), Rgb(255, 0, 0));
}

TEST_F(PngDraw, TransparentEntryBeyondThePaletteFailsToDraw) {
  // Index 4 is the one fully transparent entry of a three-colour palette: there is no colour to key on.
  TPNGObject image;
  Read(image, PaletteImage({255, 255, 255, 255, 0}, {0, 1}));
  ASSERT_EQ(image.TransparencyMode(), ptmBit);
  ExpectNoSuchPaletteEntry(image);
}

TEST_F(PngDraw, OpaqueImageDrawsItsPixelsAtItsOwnSize) {
  Bytes raw;
  for (int y = 0; y < 2; ++y) {
    raw.push_back(0);
    for (int x = 0; x < 3; ++x) raw.insert(raw.end(), {std::uint8_t(40 * x), std::uint8_t(100 + y), 7});
  }
  TPNGObject image;
  Read(image, MakePng(Header(3, 2, 8, 2), raw));
  Target t(3, 2, 0);
  image.DrawGraphic(t.canvas(), Rect(0, 0, 3, 2));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(t.At(x, y), Rgb(40 * x, 100 + y, 7)) << x << "," << y;
}

TEST_F(PngDraw, KeyColourPixelsLeaveTheTargetUnchanged) {
  // Grey 3 x 1 with key sample 128 in the middle.
  TPNGObject image;
  Read(image, MakePng(Header(3, 1, 8, 0), Bytes{0, 10, 128, 250}, {Chunk("tRNS", {0, 128})}));
  Target t(3, 1, 0x336699);
  image.DrawGraphic(t.canvas(), Rect(0, 0, 3, 1));
  EXPECT_EQ(t.At(0, 0), Rgb(10, 10, 10));
  EXPECT_EQ(t.At(1, 0), 0x336699u);
  EXPECT_EQ(t.At(2, 0), Rgb(250, 250, 250));
}

TEST_F(PngDraw, KeyedDrawStretchesTheImageToTheRectangle) {
  TPNGObject image;
  Read(image, MakePng(Header(2, 1, 8, 2), Bytes{0, 1, 2, 3, 9, 9, 9}, {Chunk("tRNS", {0, 9, 0, 9, 0, 9})}));
  Target t(4, 2, 0xABCDEF);
  image.DrawGraphic(t.canvas(), Rect(0, 0, 4, 2));
  for (int y = 0; y < 2; ++y) {
    EXPECT_EQ(t.At(0, y), Rgb(1, 2, 3));
    EXPECT_EQ(t.At(1, y), Rgb(1, 2, 3));
    EXPECT_EQ(t.At(2, y), 0xABCDEFu);
    EXPECT_EQ(t.At(3, y), 0xABCDEFu);
  }
}

TEST_F(PngDraw, TheStoreIsASectionInTheImageContext) {
  TPNGObject image;
  Read(image, RgbaFile());
  TChunkIHDR& h = image.HeaderChunk();
  ASSERT_NE(h.StoreContext, nullptr);
  EXPECT_EQ(image.ImageCanvas.Handle(), h.StoreContext);
  plat::DIBSECTION ds{};
  ASSERT_EQ(plat::GdiSvc().GetObject(plat::Obj(h.StoreBitmap), sizeof ds, &ds), int(sizeof ds));
  EXPECT_EQ(ds.dsBm.bmBits, h.StoreBits);
  EXPECT_EQ(ds.dsBmih.biBitCount, 24);
  EXPECT_EQ(ds.dsBmih.biHeight, 1);
}

TEST_F(PngDraw, ImagesReleaseEveryGraphicsObject) {
  const std::size_t before = platform_.gdi().LiveObjectCount();
  {
    TPNGObject image;
    Read(image, PaletteImage({0, 128}, {0, 1, 2}));
    Read(image, RgbaFile());
    Target t(3, 1, 0);
    image.DrawGraphic(t.canvas(), Rect(0, 0, 3, 1));
  }
  EXPECT_EQ(platform_.gdi().LiveObjectCount(), before);
}

TEST_F(PngDraw, PaletteStoreTakesTheFileColoursIntoItsSectionTable) {
  TPNGObject image;
  Read(image, PaletteImage({}, {2, 1, 0}));
  plat::RGBQUAD q[3] = {};
  ASSERT_EQ(plat::GdiSvc().GetDIBColorTable(image.HeaderChunk().StoreContext, 0, 3, q), 3u);
  EXPECT_EQ(q[0].rgbRed, 255);
  EXPECT_EQ(q[2].rgbBlue, 255);
  EXPECT_NE(image.QueryPalette(), nullptr);
}

TEST_F(PngDraw, PngFilesLoadByTheirExtension) {
  const auto& formats = PictureFormats();
  bool found = false;
  for (int i = 0; i < formats.Count(); ++i)
    if (formats.Item(i).Extension == "png") {
      found = true;
      EXPECT_EQ(formats.Item(i).Description, "Portable Network Graphics");
      EXPECT_EQ(formats.Item(i).GraphicClass, TPNGObject::StaticClass());
    }
  EXPECT_TRUE(found);
  const std::string path = (std::filesystem::temp_directory_path() / "ds_png_draw_test.PNG").string();
  const Bytes file = RgbaFile();
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
  }
  TPicture picture;
  picture.LoadPictureFile(path);
  std::remove(path.c_str());
  ASSERT_NE(picture.Graphic(), nullptr);
  EXPECT_STREQ(picture.Graphic()->ClassName(), "TPNGObject");
  EXPECT_EQ(picture.Width(), 4);
}

}  // namespace
