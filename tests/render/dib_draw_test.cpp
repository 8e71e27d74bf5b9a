// Drawing TDIB images through the platform: 1:1 pixels, device-context bodies, shared palettes, conversion
// from other graphics, and .dib files that hold a JPEG picture.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/Gdi.h"
#include "platform/Platform.h"
#include "platform/common/SoftGdi.h"
#include "platform/soft/SoftPlatform.h"
#include "render/DIB.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

class DIBDraw : public ::testing::Test {
 protected:
  void SetUp() override {
    InitDIBUnit();
    baseObjects_ = platform_.gdi().LiveObjectCount();
  }
  void TearDown() override { FreePaletteManager(); }

  // A 32-bit target of w x h pixels whose canvas draws into its own rows.
  static void MakeTarget(TDIB& target, int w, int h) {
    target.PixelFormat = MakeDIBPixelFormat(8, 8, 8);
    target.SetSize(w, h, 32);
    target.Canvas()->Handle();
  }
  // Blue, green, red of pixel (x, y) of a 32-bit image.
  static std::uint32_t BGR(TDIB& dib, int x, int y) {
    const std::uint8_t* p = dib.RowReadOnly(y) + 4 * x;
    return p[0] | p[1] << 8 | p[2] << 16;
  }

  plat::soft::SoftPlatform platform_;
  std::size_t baseObjects_ = 0;
};

// 3 x 2, 24-bit, pixel (x, y) = blue 10x+y, green 100+x, red 200+y.
void FillSource24(TDIB& src) {
  src.SetSize(3, 2, 24);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      std::uint8_t* p = src.Row(y) + 3 * x;
      p[0] = static_cast<std::uint8_t>(10 * x + y);
      p[1] = static_cast<std::uint8_t>(100 + x);
      p[2] = static_cast<std::uint8_t>(200 + y);
    }
}
std::uint32_t Expected24(int x, int y) {
  return static_cast<std::uint32_t>((10 * x + y) | (100 + x) << 8 | (200 + y) << 16);
}

TEST_F(DIBDraw, MemoryAndSectionImagesDrawTheirPixelsOneToOne) {
  for (bool section : {false, true}) {
    TDIB src, target;
    FillSource24(src);
    if (section) src.Canvas()->Handle();
    ASSERT_EQ(!section, src.MemoryImage());
    MakeTarget(target, 3, 2);
    target.Canvas()->Draw(0, 0, &src);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) EXPECT_EQ(Expected24(x, y), BGR(target, x, y)) << x << "," << y;
  }
}

TEST_F(DIBDraw, CanvasKeepsThePixelsAndDrawsIntoTheImage) {
  TDIB src;
  FillSource24(src);
  TCanvas* canvas = src.Canvas();
  canvas->SetPixel(1, 0, 0x00332211);
  EXPECT_FALSE(src.MemoryImage());
  EXPECT_EQ(10 * 2 + 1, src.RowReadOnly(1)[6]);
  const std::uint8_t* p = src.RowReadOnly(0) + 3;
  EXPECT_EQ(0x11, p[2]);  // red
  EXPECT_EQ(0x33, p[0]);  // blue
}

TEST_F(DIBDraw, PaletteImageDrawsTheColoursOfItsTable) {
  TDIB src, target;
  src.ColorTable[0] = {1, 2, 3, 0};
  src.ColorTable[5] = {50, 60, 70, 0};
  src.SetSize(2, 1, 8);
  src.Row(0)[1] = 5;
  MakeTarget(target, 2, 1);
  target.Canvas()->Draw(0, 0, &src);
  EXPECT_EQ(0x030201u, BGR(target, 0, 0));
  EXPECT_EQ(0x463C32u, BGR(target, 1, 0));
}

TEST_F(DIBDraw, DrawingRestoresTheTargetsStretchModeAndPalette) {
  TDIB src, target;
  src.SetSize(2, 2, 8);
  MakeTarget(target, 2, 2);
  auto& gdi = plat::GdiSvc();
  plat::HDC dc = target.Canvas()->Handle();
  gdi.SetStretchBltMode(dc, plat::HALFTONE);
  plat::HGDIOBJ before = gdi.GetCurrentObject(dc, plat::OBJ_PAL);
  target.Canvas()->Draw(0, 0, &src);
  EXPECT_EQ(plat::HALFTONE, gdi.GetStretchBltMode(dc));
  EXPECT_EQ(before, gdi.GetCurrentObject(dc, plat::OBJ_PAL));
}

TEST_F(DIBDraw, StretchToDCCopiesTheSourceRectangle) {
  TDIB src, target;
  FillSource24(src);
  MakeTarget(target, 2, 1);
  src.StretchToDC(target.Canvas()->Handle(), Rect(0, 0, 2, 1), Rect(1, 1, 3, 2));
  EXPECT_EQ(Expected24(1, 1), BGR(target, 0, 0));
  EXPECT_EQ(Expected24(2, 1), BGR(target, 1, 0));
}

// ---- palettes

TEST_F(DIBDraw, EqualColourTablesShareOnePalette) {
  TDIB a, b, c;
  a.SetSize(1, 1, 8);
  b.SetSize(2, 2, 8);
  c.ColorTable[1] = {1, 0, 0, 0};
  c.SetSize(1, 1, 8);
  plat::HPALETTE pa = a.QueryPalette(), pb = b.QueryPalette(), pc = c.QueryPalette();
  ASSERT_NE(nullptr, pa);
  EXPECT_EQ(pa, pb);
  EXPECT_NE(pa, pc);
  EXPECT_EQ(2u, PaletteManager().Count());
}

TEST_F(DIBDraw, SameSumDifferentColoursAreDifferentPalettes) {
  TRGBQuad x[2] = {{1, 0, 0, 0}, {0, 0, 0, 0}};
  TRGBQuad y[2] = {{0, 1, 0, 0}, {0, 0, 0, 0}};
  TPaletteManager pm;
  plat::HPALETTE px = pm.CreatePalette(x, 2), py = pm.CreatePalette(y, 2);
  EXPECT_NE(px, py);
  pm.DeletePalette(px);
  pm.DeletePalette(py);
  EXPECT_EQ(0u, pm.Count());
}

TEST_F(DIBDraw, FreedImagesLeaveNoPlatformObjects) {
  {
    TDIB a, b;
    a.SetSize(3, 3, 8);
    a.QueryPalette();
    a.Canvas()->Handle();
    b.Assign(&a);
    b.Row(0)[0] = 1;
    b.Canvas()->Handle();
  }
  FreePaletteManager();
  EXPECT_EQ(baseObjects_, platform_.gdi().LiveObjectCount());
}

// ---- other graphics

// A graphic of a fixed size that paints pixel (x, y) with colour RGB(x, y, 9), as any foreign kind would.
class TTestGraphic : public TGraphic {
 public:
  DS_GRAPHIC_CLASS(TTestGraphic, TGraphic)
  int w = 3, h = 2;
  void DrawGraphic(TCanvas& canvas, const TRect& r) override {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) canvas.SetPixel(r.Left + x, r.Top + y, x | y << 8 | 9 << 16);
  }
  bool IsEmpty() const override { return false; }
  int ImageHeight() const override { return h; }
  int ImageWidth() const override { return w; }
  void ResizeHeight(int) override {}
  void ResizeWidth(int) override {}
  // Reads a fake picture file: 0xFF 0xD8 'J' w h, then accepts it; with anything but 'J' in the third byte
  // it refuses the data after reading 14 bytes, as a reader that stopped part-way.
  void ReadGraphicStream(TStream& s) override {
    std::uint8_t head[14] = {};
    s.ReadBuffer(head, sizeof head);
    if (head[2] != 'J') throw EInvalidGraphic("not a picture");
    w = head[3];
    h = head[4];
  }
  void WriteGraphicStream(TStream&) override {}
  void ReadClipboard(plat::WORD, std::uintptr_t, plat::HPALETTE) override {}
  void WriteClipboard(plat::WORD&, std::uintptr_t&, plat::HPALETTE&) override {}
};

TEST_F(DIBDraw, AssigningAnotherGraphicDrawsItIntoATwentyFourBitImage) {
  TTestGraphic g;
  TDIB dib;
  dib.Assign(&g);
  EXPECT_EQ(24, dib.BitCount());
  EXPECT_EQ(3, dib.Width());
  EXPECT_EQ(2, dib.Height());
  const std::uint8_t* p = dib.RowReadOnly(1) + 3 * 2;
  EXPECT_EQ(9, p[0]);
  EXPECT_EQ(1, p[1]);
  EXPECT_EQ(2, p[2]);
}

TEST_F(DIBDraw, AssigningABitmapKeepsItsBitCountAndPixels) {
  for (auto format : {pf8bit, pf24bit, pf32bit}) {
    TBitmap bmp;
    bmp.SetPixelFormat(format);
    bmp.SetSize(2, 1);
    bmp.Canvas().SetPixel(1, 0, 0x00FFFFFF);
    TDIB dib;
    dib.Assign(&bmp);
    ASSERT_EQ(bmp.BitsPerPixel(), dib.BitCount());
    ASSERT_EQ(2, dib.Width());
    TDIB target;
    MakeTarget(target, 2, 1);
    target.Canvas()->Draw(0, 0, &dib);
    EXPECT_EQ(0xFFFFFFu, BGR(target, 1, 0)) << format;
    EXPECT_EQ(0u, BGR(target, 0, 0)) << format;
  }
}

// Bitmap files are a file header followed by a DIB body, so the suite's files with 12- and 40-byte
// headers read as .dib files and must draw the same pixels as the bitmap reader gives.
TEST_F(DIBDraw, BitmapSuiteFilesDrawLikeTheBitmapReader) {
  const std::string dir = std::string(DS_CORPORA_DIR) + "/bmpsuite/g/";
  for (const char* name :
       {"pal1.bmp", "pal4.bmp", "pal4rle.bmp", "pal8.bmp", "pal8os2.bmp", "pal8rle.bmp", "pal8topdown.bmp",
        "pal8w126.bmp", "rgb16.bmp", "rgb16-565.bmp", "rgb16-565pal.bmp", "rgb24.bmp", "rgb24pal.bmp",
        "rgb32.bmp", "rgb32bf.bmp", "rgb32bfdef.bmp", "rgb16bfdef.bmp", "pal1bg.bmp", "pal8-0.bmp"}) {
    TDIB dib;
    dib.LoadFromFile(dir + name);
    TBitmap bmp;
    bmp.LoadFromFile(dir + name);
    ASSERT_EQ(bmp.Width(), dib.Width()) << name;
    ASSERT_EQ(bmp.Height(), dib.Height()) << name;
    TDIB a, b;
    MakeTarget(a, dib.Width(), dib.Height());
    MakeTarget(b, dib.Width(), dib.Height());
    a.Canvas()->Draw(0, 0, &dib);
    b.Canvas()->Draw(0, 0, &bmp);
    int mismatches = 0;
    for (int y = 0; y < dib.Height(); ++y)
      for (int x = 0; x < dib.Width(); ++x) mismatches += BGR(a, x, y) != BGR(b, x, y);
    EXPECT_EQ(0, mismatches) << name;
  }
}

// Pixels that start where the file header says, after a gap behind the colour table.
TEST_F(DIBDraw, PixelOffsetPastTheColourTableIsHonoured) {
  const std::string dir = std::string(DS_CORPORA_DIR) + "/bmpsuite/";
  TDIB gap, plain;
  gap.LoadFromFile(dir + "q/pal8offs.bmp");
  plain.LoadFromFile(dir + "g/pal8.bmp");
  TDIB a, b;
  MakeTarget(a, plain.Width(), plain.Height());
  MakeTarget(b, plain.Width(), plain.Height());
  a.Canvas()->Draw(0, 0, &gap);
  b.Canvas()->Draw(0, 0, &plain);
  int mismatches = 0;
  for (int y = 0; y < plain.Height(); ++y)
    for (int x = 0; x < plain.Width(); ++x) mismatches += BGR(a, x, y) != BGR(b, x, y);
  EXPECT_EQ(0, mismatches);
}

// Offsets that point into the headers, or past the end, are ignored: the pixels follow the colour table.
TEST_F(DIBDraw, PixelOffsetOutsideThePixelAreaIsIgnored) {
  for (std::uint32_t offset : {0u, 20u, 58u, 1000u}) {
    Bytes f = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0};
    Put32(f, offset);
    for (std::uint32_t v : {12u, 0x00010001u, 0x00180001u}) Put32(f, v);  // core header: 1 x 1, 24 bits
    for (std::uint8_t c : {5, 6, 7, 0}) f.push_back(c);
    TDIB dib;
    TMemoryStream in(f);
    dib.ReadGraphicStream(in);
    ASSERT_EQ(1, dib.Width()) << offset;
    EXPECT_EQ(5, dib.RowReadOnly(0)[0]) << offset;
  }
}

TEST_F(DIBDraw, BitmapFilesWithLongerHeadersAreInvalid) {
  TDIB dib;
  EXPECT_THROW(dib.LoadFromFile(std::string(DS_CORPORA_DIR) + "/bmpsuite/g/pal8v5.bmp"), EInvalidGraphic);
}

class DIBJpegMarker : public DIBDraw {
 protected:
  void SetUp() override {
    DIBDraw::SetUp();
    TPicture::RegisterPictureFormat("jpg", "test pictures", TTestGraphic::StaticClass());
  }
  void TearDown() override {
    TPicture::UnregisterGraphicClass(TTestGraphic::StaticClass());
    DIBDraw::TearDown();
  }
};

TEST_F(DIBJpegMarker, FileStartingWithAJpegMarkerBecomesATwentyFourBitImage) {
  Bytes f = {0xFF, 0xD8, 'J', 4, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  TDIB dib;
  TMemoryStream in(f);
  dib.ReadGraphicStream(in);
  EXPECT_EQ(24, dib.BitCount());
  EXPECT_EQ(4, dib.Width());
  EXPECT_EQ(2, dib.Height());
  EXPECT_EQ(3, dib.RowReadOnly(0)[3 * 3 + 2]);  // pixel (3, 0): red = x
}

TEST_F(DIBJpegMarker, RejectedJpegDataWithNothingAfterItFailsWithTheJpegErrorAndKeepsTheImage) {
  TDIB dib;
  TTestGraphic g;
  dib.Assign(&g);
  Bytes f = {0xFF, 0xD8, 'X', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  TMemoryStream in(f);
  try {
    dib.ReadGraphicStream(in);
    ADD_FAILURE() << "a broken JPEG picture loaded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ("not a picture", e.Message);
  }
  EXPECT_EQ(3, dib.Width());
}

TEST_F(DIBJpegMarker, RejectedJpegDataIsReadAsABodyWhereTheReaderStopped) {
  Bytes f = {0xFF, 0xD8, 'X', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  Bytes body;
  Put32(body, 12);
  for (std::uint8_t c : {1, 0, 1, 0, 1, 0, 24, 0}) body.push_back(c);
  for (std::uint8_t c : {5, 6, 7, 0}) body.push_back(c);
  f.insert(f.end(), body.begin(), body.end());
  TDIB dib;
  TMemoryStream in(f);
  dib.ReadGraphicStream(in);
  EXPECT_EQ(1, dib.Width());
  EXPECT_EQ(5, dib.RowReadOnly(0)[0]);
}

}  // namespace
