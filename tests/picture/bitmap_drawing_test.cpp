// Drawing bitmaps (stretch modes, copy mode, transparency), the shared body with copy on write, and the
// pixel access other picture kinds build on.
#include "graphics_fixture.h"
#include "picture/BitmapImage.h"

using namespace picture_test;

namespace {

// The soft GDI with a record of the stretch mode and raster operation of each StretchBlt.
class RecordingGdi : public plat::soft::SoftGdi {
 public:
  using SoftGdi::SoftGdi;
  struct Call {
    int mode;
    plat::DWORD rop;
  };
  std::vector<Call> Stretches;
  plat::BOOL StretchBlt(plat::HDC dst, int x, int y, int w, int h, plat::HDC src, int xs, int ys, int ws,
                        int hs, plat::DWORD rop) override {
    Stretches.push_back({GetStretchBltMode(dst), rop});
    return SoftGdi::StretchBlt(dst, x, y, w, h, src, xs, ys, ws, hs, rop);
  }
};

class BitmapDrawingTest : public PictureTest {};

// The recording GDI over a screen of the given depth, installed for the rest of the test.
class BitmapModeTest : public BitmapDrawingTest {
 protected:
  RecordingGdi& Install(int screenBits) {
    plat::soft::SoftOptions o;
    o.screenBitCount = screenBits;
    gdi_ = std::make_unique<RecordingGdi>(o);
    plat::Services s = plat::CurrentServices();
    s.gdi = gdi_.get();
    scoped_ = std::make_unique<plat::ScopedServices>(s);
    return *gdi_;
  }
  ~BitmapModeTest() override {
    scoped_.reset();
    gdi_.reset();
  }
  std::unique_ptr<RecordingGdi> gdi_;
  std::unique_ptr<plat::ScopedServices> scoped_;
};

}  // namespace

TEST_F(BitmapDrawingTest, DrawsAtItsOwnSizeAtThePosition) {
  TBitmap b;
  LoadBytes(b, MakeBmp24(2, 1, {0x112233, 0x445566}));
  Target t(4, 2, 0x777777);
  t.Canvas().Draw(1, 1, &b);
  const Pixels p = t.Read();
  EXPECT_EQ(p.At(0, 1), 0x777777u);
  EXPECT_EQ(p.At(1, 1), 0x112233u);
  EXPECT_EQ(p.At(2, 1), 0x445566u);
  EXPECT_EQ(p.At(3, 1), 0x777777u);
  EXPECT_EQ(p.At(1, 0), 0x777777u);
}

TEST_F(BitmapDrawingTest, StretchesToTheRectangleByNearestPixel) {
  TBitmap b;
  LoadBytes(b, MakeBmp24(2, 2, {0x010101, 0x020202, 0x030303, 0x040404}));
  Target t(4, 4);
  t.Canvas().StretchDraw(Rect(0, 0, 4, 4), &b);
  const Pixels p = t.Read();
  EXPECT_EQ(p.At(0, 0), 0x010101u);
  EXPECT_EQ(p.At(1, 1), 0x010101u);
  EXPECT_EQ(p.At(2, 0), 0x020202u);
  EXPECT_EQ(p.At(3, 3), 0x040404u);
  EXPECT_EQ(p.At(0, 3), 0x030303u);
}

TEST_F(BitmapDrawingTest, UsesTheCanvasCopyMode) {
  TBitmap b;
  LoadBytes(b, MakeBmp24(1, 1, {0x0F0F0F}));
  Target t(1, 1, 0xFF00FF);
  t.Canvas().SetCopyMode(cmSrcAnd);
  t.Canvas().Draw(0, 0, &b);
  EXPECT_EQ(t.Read().At(0, 0), 0x0F000Fu);
}

TEST_F(BitmapDrawingTest, TransparentBitmapLeavesPixelsOfItsTransparentColourUnchanged) {
  // Bottom-left pixel (blue) is the automatic transparent colour.
  TBitmap b;
  LoadBytes(b, MakeBmp24(2, 2, {0xFF0000, 0x0000FF, 0x0000FF, 0x00FF00}));
  b.SetTransparent(true);
  Target t(2, 2, 0x808080);
  t.Canvas().Draw(0, 0, &b);
  const Pixels p = t.Read();
  EXPECT_EQ(p.At(0, 0), 0xFF0000u);
  EXPECT_EQ(p.At(1, 0), 0x808080u);
  EXPECT_EQ(p.At(0, 1), 0x808080u);
  EXPECT_EQ(p.At(1, 1), 0x00FF00u);
}

TEST_F(BitmapDrawingTest, FixedTransparentColourIsHonouredWhenStretched) {
  TBitmap b;
  LoadBytes(b, MakeBmp24(2, 1, {0x123456, 0xFFFFFF}));
  b.SetTransparentColor(0x563412);  // TColor is 0x00BBGGRR
  b.SetTransparent(true);
  Target t(4, 2, 0x000000);
  t.Canvas().StretchDraw(Rect(0, 0, 4, 2), &b);
  const Pixels p = t.Read();
  EXPECT_EQ(p.At(0, 0), 0u);
  EXPECT_EQ(p.At(1, 1), 0u);
  EXPECT_EQ(p.At(2, 0), 0xFFFFFFu);
  EXPECT_EQ(p.At(3, 1), 0xFFFFFFu);
}

TEST_F(BitmapDrawingTest, EmptyBitmapDrawsNothing) {
  TBitmap b;
  Target t(1, 1, 0x010203);
  t.Canvas().Draw(0, 0, &b);
  EXPECT_EQ(t.Read().At(0, 0), 0x010203u);
}

TEST_F(BitmapModeTest, TrueColourTargetGetsColourOnColour) {
  RecordingGdi& gdi = Install(32);
  TBitmap b;
  LoadBytes(b, MakeBmp24(1, 1, {0x123456}));
  Target t(1, 1);
  t.Canvas().SetCopyMode(cmSrcPaint);
  t.Canvas().Draw(0, 0, &b);
  ASSERT_EQ(gdi.Stretches.size(), 1u);
  EXPECT_EQ(gdi.Stretches[0].mode, plat::COLORONCOLOR);
  EXPECT_EQ(gdi.Stretches[0].rop, cmSrcPaint);
}

TEST_F(BitmapModeTest, TargetWithFewerColoursGetsHalftone) {
  RecordingGdi& gdi = Install(8);
  TBitmap b;
  LoadBytes(b, MakeBmp24(1, 1, {0x123456}));
  Target t(2, 2);
  t.Canvas().Draw(0, 0, &b);
  ASSERT_EQ(gdi.Stretches.size(), 1u);
  EXPECT_EQ(gdi.Stretches[0].mode, plat::HALFTONE);
}

TEST_F(BitmapModeTest, TargetWithAsManyColoursKeepsColourOnColour) {
  RecordingGdi& gdi = Install(8);
  TBitmap src;
  src.SetPixelFormat(pf8bit);
  src.SetSize(1, 1);
  Target t(1, 1);
  t.Canvas().Draw(0, 0, &src);
  ASSERT_EQ(gdi.Stretches.size(), 1u);
  EXPECT_EQ(gdi.Stretches[0].mode, plat::COLORONCOLOR);
}

// ---- Shared bodies ----

TEST_F(BitmapDrawingTest, AssignSharesTheBody) {
  TBitmap a;
  LoadBytes(a, MakeBmp24(1, 1, {0x010203}));
  TBitmap b;
  b.Assign(&a);
  EXPECT_EQ(a.Image(), b.Image());
  EXPECT_EQ(a.Image()->RefCount(), 2);
  EXPECT_TRUE(a.SameImage(b));
}

TEST_F(BitmapDrawingTest, ChangingASharedBodyCopiesItFirst) {
  TBitmap a;
  LoadBytes(a, MakeBmp24(1, 1, {0x010203}));
  TBitmap b;
  b.Assign(&a);
  static_cast<std::uint8_t*>(b.ScanLine(0))[0] = 0xFF;
  EXPECT_NE(a.Image(), b.Image());
  EXPECT_EQ(Render(a).At(0, 0), 0x010203u);
  EXPECT_EQ(Render(b).At(0, 0), 0x0102FFu);
}

TEST_F(BitmapDrawingTest, BodyIsFreedWithItsLastUser) {
  auto& soft = Platform().gdi();
  const std::size_t before = soft.LiveObjectCount();
  {
    TBitmap a;
    LoadBytes(a, MakeBmp24(1, 1, {0x010203}));
    {
      TBitmap b;
      b.Assign(&a);
      b.Canvas().SetPixel(0, 0, clWhite);
    }
    EXPECT_GT(soft.LiveObjectCount(), before);
  }
  EXPECT_EQ(soft.LiveObjectCount(), before);
}

// ---- Pixel access for other kinds ----

TEST_F(BitmapDrawingTest, ScanLineOutsideTheRowsIsAnError) {
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetSize(3, 2);
  EXPECT_NO_THROW(b.ScanLine(1));
  try {
    b.ScanLine(2);
    FAIL() << "no error";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message, "Scan line index out of range");
  }
  EXPECT_THROW(b.ScanLine(-1), EInvalidGraphic);
}

TEST_F(BitmapDrawingTest, ScanLineZeroIsTheTopRow) {
  TBitmap b;
  b.SetPixelFormat(pf24bit);
  b.SetSize(1, 2);
  auto* top = static_cast<std::uint8_t*>(b.ScanLine(0));
  top[0] = 0x33;  // blue
  top[1] = 0x22;
  top[2] = 0x11;
  const Pixels p = Render(b);
  EXPECT_EQ(p.At(0, 0), 0x112233u);
  EXPECT_EQ(p.At(0, 1), 0u);
}

TEST_F(BitmapDrawingTest, PixelFormatAndSizeMakeASectionOfThatFormat) {
  TBitmap b;
  b.SetPixelFormat(pf8bit);
  b.SetSize(5, 3);
  EXPECT_EQ(b.PixelFormat(), pf8bit);
  EXPECT_EQ(b.HandleType(), bmDIB);
  EXPECT_EQ(b.BitsPerPixel(), 8);
  EXPECT_EQ(b.RowBytes(), 8);
  EXPECT_EQ(b.ColorTable().size(), 256u);
  b.SetPixelFormat(pf32bit);
  EXPECT_EQ(b.PixelFormat(), pf32bit);
  EXPECT_EQ(b.Width(), 5);
  EXPECT_EQ(b.Height(), 3);
}

TEST_F(BitmapDrawingTest, ResizingKeepsTheOverlappingPixels) {
  TBitmap b;
  LoadBytes(b, MakeBmp24(2, 1, {0x0A0B0C, 0x0D0E0F}));
  b.SetSize(3, 2);
  const Pixels p = Render(b);
  EXPECT_EQ(p.At(0, 0), 0x0A0B0Cu);
  EXPECT_EQ(p.At(1, 0), 0x0D0E0Fu);
}

TEST_F(BitmapDrawingTest, PaletteReplacesTheColourTableOfAnIndexedBitmap) {
  TBitmap b;
  b.SetPixelFormat(pf8bit);
  b.SetSize(1, 1);
  static_cast<std::uint8_t*>(b.ScanLine(0))[0] = 1;
  std::vector<std::uint8_t> buf(sizeof(plat::LOGPALETTE) + sizeof(plat::PALETTEENTRY));
  auto* lp = reinterpret_cast<plat::LOGPALETTE*>(buf.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = 2;
  lp->palPalEntry[0] = {0, 0, 0, 0};
  lp->palPalEntry[1] = {0x12, 0x34, 0x56, 0};
  b.SetPalette(plat::GdiSvc().CreatePalette(lp));
  EXPECT_EQ(Render(b).At(0, 0), 0x123456u);
  EXPECT_TRUE(b.PaletteModified());
}

TEST_F(BitmapDrawingTest, WritingProducesAFileThatReadsBackToTheSamePixels) {
  TBitmap a;
  LoadBytes(a, MakeBmp24(3, 2, {1, 2, 3, 4, 5, 6}));
  TMemoryStream s;
  a.SaveToStream(s);
  s.SetPosition(0);
  TBitmap b;
  b.LoadFromStream(s);
  EXPECT_EQ(Render(a).Px, Render(b).Px);
}

TEST_F(BitmapDrawingTest, CompressedFileIsWrittenBackUnchanged) {
  const auto data = ReadFileBytes(Corpus("bmpsuite/g/pal8rle.bmp"));
  TBitmap b;
  LoadBytes(b, data);
  TMemoryStream s;
  b.SaveToStream(s);
  EXPECT_EQ(s.Data(), data);
}
