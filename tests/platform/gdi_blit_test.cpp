// Copying and stretching between device contexts: exact pixel arithmetic, raster operations and the
// monochrome conversions that transparent drawing relies on.
#include "gdi_test_util.h"

using namespace gditest;

namespace {

class GdiBlit : public GdiTest {};

std::uint32_t Px(int x, int y) {
  return 0x01000000u * std::uint32_t(x + 1) | std::uint32_t(x * 16 + 1) << 16 |
         std::uint32_t(y * 16 + 2) << 8 | 3u;
}

TEST_F(GdiBlit, CopyAtOneToOneKeepsEveryPixelIncludingTheFourthByte) {
  Canvas32 src(g, 5, 4), dst(g, 5, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) src.at(x, y) = Px(x, y);
  ASSERT_TRUE(g.BitBlt(dst.dc(), 0, 0, 5, 4, src.dc(), 0, 0, SRCCOPY));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(dst.at(x, y), Px(x, y)) << x << "," << y;
}

TEST_F(GdiBlit, CopyWithOffsetsMovesTheSourceRectangle) {
  Canvas32 src(g, 6, 6), dst(g, 6, 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) src.at(x, y) = Px(x, y);
  g.BitBlt(dst.dc(), 1, 2, 3, 2, src.dc(), 2, 3, SRCCOPY);
  EXPECT_EQ(dst.at(1, 2), Px(2, 3));
  EXPECT_EQ(dst.at(3, 3), Px(4, 4));
  EXPECT_EQ(dst.at(0, 2), 0u);
  EXPECT_EQ(dst.at(4, 2), 0u);
}

TEST_F(GdiBlit, StretchToDoubleSizeRepeatsEveryColumnAndRowTwice) {
  Canvas32 src(g, 3, 2), dst(g, 6, 4);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) src.at(x, y) = Px(x, y);
  g.SetStretchBltMode(dst.dc(), COLORONCOLOR);
  g.StretchBlt(dst.dc(), 0, 0, 6, 4, src.dc(), 0, 0, 3, 2, SRCCOPY);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(dst.at(x, y), Px(x / 2, y / 2)) << x << "," << y;
}

TEST_F(GdiBlit, StretchMapsDestinationToTruncatedSourceCoordinate) {
  Canvas32 src(g, 5, 1), dst(g, 7, 1);
  for (int x = 0; x < 5; ++x) src.at(x, 0) = Px(x, 0);
  g.SetStretchBltMode(dst.dc(), COLORONCOLOR);
  // Shrinking 5 -> 2 takes columns floor(0 * 5 / 2) = 0 and floor(1 * 5 / 2) = 2.
  g.StretchBlt(dst.dc(), 0, 0, 2, 1, src.dc(), 0, 0, 5, 1, SRCCOPY);
  EXPECT_EQ(dst.at(0, 0), Px(0, 0));
  EXPECT_EQ(dst.at(1, 0), Px(2, 0));
  // Enlarging 3 -> 7: floor(i * 3 / 7) = 0 0 0 1 1 2 2.
  g.StretchBlt(dst.dc(), 0, 0, 7, 1, src.dc(), 0, 0, 3, 1, SRCCOPY);
  const int expect[7] = {0, 0, 0, 1, 1, 2, 2};
  for (int x = 0; x < 7; ++x) EXPECT_EQ(dst.at(x, 0), Px(expect[x], 0)) << x;
}

TEST_F(GdiBlit, NegativeDestinationWidthMirrorsTheImage) {
  Canvas32 src(g, 3, 1), dst(g, 3, 1);
  for (int x = 0; x < 3; ++x) src.at(x, 0) = Px(x, 0);
  g.StretchBlt(dst.dc(), 2, 0, -3, 1, src.dc(), 0, 0, 3, 1, SRCCOPY);
  // Destination spans x = -1 .. 1 mirrored: pixel 1 shows source 0, pixel 0 source 1.
  EXPECT_EQ(dst.at(1, 0), Px(0, 0));
  EXPECT_EQ(dst.at(0, 0), Px(1, 0));
}

TEST_F(GdiBlit, HalftoneAveragesTheSourcePixelsWhenShrinking) {
  Canvas32 src(g, 2, 2), dst(g, 1, 1);
  src.at(0, 0) = 0xC80000, src.at(1, 0) = 0x640000, src.at(0, 1) = 0x0000FF, src.at(1, 1) = 0x000001;
  g.SetStretchBltMode(dst.dc(), HALFTONE);
  g.StretchBlt(dst.dc(), 0, 0, 1, 1, src.dc(), 0, 0, 2, 2, SRCCOPY);
  EXPECT_EQ(dst.rgb(0, 0), 0x4B0040u);  // red (200+100)/4 = 75, blue (255+1)/4 = 64
}

TEST_F(GdiBlit, HalftoneEqualsColorOnColorWhenEnlarging) {
  Canvas32 src(g, 2, 1), a(g, 5, 1), b(g, 5, 1);
  src.at(0, 0) = 0x123456, src.at(1, 0) = 0xABCDEF;
  g.SetStretchBltMode(a.dc(), HALFTONE);
  g.SetStretchBltMode(b.dc(), COLORONCOLOR);
  g.StretchBlt(a.dc(), 0, 0, 5, 1, src.dc(), 0, 0, 2, 1, SRCCOPY);
  g.StretchBlt(b.dc(), 0, 0, 5, 1, src.dc(), 0, 0, 2, 1, SRCCOPY);
  for (int x = 0; x < 5; ++x) EXPECT_EQ(a.rgb(x, 0), b.rgb(x, 0));
}

TEST_F(GdiBlit, RasterOperationsCombineSourceAndDestinationBitwise) {
  Canvas32 src(g, 1, 1), dst(g, 1, 1);
  const std::uint32_t s = 0x00F0CC0F, d = 0x00AA55FF;
  src.at(0, 0) = s;
  struct Case {
    DWORD rop;
    std::uint32_t expect;
  } cases[] = {{SRCAND, s & d},  {SRCPAINT, s | d},    {SRCINVERT, s ^ d},
               {NOTSRCCOPY, ~s}, {MERGEPAINT, ~s | d}, {SRCERASE, s & ~d}};
  for (const Case& c : cases) {
    dst.at(0, 0) = d;
    g.BitBlt(dst.dc(), 0, 0, 1, 1, src.dc(), 0, 0, c.rop);
    EXPECT_EQ(dst.rgb(0, 0), c.expect & 0xFFFFFF) << std::hex << c.rop;
  }
}

TEST_F(GdiBlit, PatBltPaintsWithTheSelectedBrushAndConstantOperations) {
  Canvas32 dst(g, 4, 4);
  HBRUSH br = g.CreateSolidBrush(RGB(10, 20, 30));
  HGDIOBJ old = g.SelectObject(dst.dc(), Obj(br));
  g.PatBlt(dst.dc(), 1, 1, 2, 2, PATCOPY);
  EXPECT_EQ(dst.rgb(1, 1), 0x0A141Eu);
  EXPECT_EQ(dst.rgb(3, 3), 0u);
  g.PatBlt(dst.dc(), 0, 0, 1, 1, WHITENESS);
  EXPECT_EQ(dst.rgb(0, 0), 0xFFFFFFu);
  g.PatBlt(dst.dc(), 0, 0, 4, 4, BLACKNESS);
  EXPECT_EQ(dst.rgb(2, 2), 0u);
  g.SelectObject(dst.dc(), old);
  EXPECT_TRUE(g.DeleteObject(Obj(br)));
}

// A one-bit mask made from a colour image: the source DC's background colour becomes 1, all else 0.
TEST_F(GdiBlit, MonochromeMaskMarksPixelsOfTheSourceBackgroundColour) {
  Canvas32 src(g, 3, 1);
  src.at(0, 0) = 0xFF00FF, src.at(1, 0) = 0x00FF00, src.at(2, 0) = 0xFF00FE;
  HBITMAP mask = g.CreateBitmap(3, 1, 1, 1, nullptr);
  HDC mdc = g.CreateCompatibleDC(nullptr);
  HGDIOBJ old = g.SelectObject(mdc, Obj(mask));
  g.SetBkColor(src.dc(), RGB(0xFF, 0x00, 0xFF));
  g.BitBlt(mdc, 0, 0, 3, 1, src.dc(), 0, 0, SRCCOPY);
  EXPECT_EQ(g.GetPixel(mdc, 0, 0), 0xFFFFFFu);  // exact key colour
  EXPECT_EQ(g.GetPixel(mdc, 1, 0), 0u);
  EXPECT_EQ(g.GetPixel(mdc, 2, 0), 0u);  // one step off the key is opaque
  g.SelectObject(mdc, old);
  g.DeleteObject(Obj(mask));
  g.DeleteDC(mdc);
}

TEST_F(GdiBlit, MonochromeSourceTakesDestinationTextAndBackgroundColours) {
  const BYTE bits[2] = {0x80, 0x00};  // one row: pixel 0 set, pixel 1 clear (rows padded to 16 bits)
  HBITMAP mono = g.CreateBitmap(2, 1, 1, 1, bits);
  HDC mdc = g.CreateCompatibleDC(nullptr);
  HGDIOBJ old = g.SelectObject(mdc, Obj(mono));
  Canvas32 dst(g, 2, 1);
  g.SetTextColor(dst.dc(), RGB(1, 2, 3));
  g.SetBkColor(dst.dc(), RGB(200, 100, 50));
  g.BitBlt(dst.dc(), 0, 0, 2, 1, mdc, 0, 0, SRCCOPY);
  EXPECT_EQ(dst.rgb(0, 0), 0xC86432u);  // 1 -> background
  EXPECT_EQ(dst.rgb(1, 0), 0x010203u);  // 0 -> text
  g.SelectObject(mdc, old);
  g.DeleteObject(Obj(mono));
  g.DeleteDC(mdc);
}

// The masked-drawing sequence: clear the destination where the image is opaque, clear the image where it is
// transparent, OR them together.
TEST_F(GdiBlit, MaskedDrawingLeavesTransparentPixelsUnchanged) {
  const std::uint32_t key = 0x00FF00;
  Canvas32 img(g, 2, 2), work(g, 2, 2);
  img.at(0, 0) = key, img.at(1, 0) = 0x112233, img.at(0, 1) = 0x445566, img.at(1, 1) = key;
  work.Fill(0x808080);
  HBITMAP mask = g.CreateBitmap(2, 2, 1, 1, nullptr);
  HDC mdc = g.CreateCompatibleDC(nullptr);
  HGDIOBJ old = g.SelectObject(mdc, Obj(mask));
  g.SetBkColor(img.dc(), key);
  g.BitBlt(mdc, 0, 0, 2, 2, img.dc(), 0, 0, SRCCOPY);
  g.SetBkColor(work.dc(), RGB(255, 255, 255));
  g.SetTextColor(work.dc(), 0);
  g.BitBlt(work.dc(), 0, 0, 2, 2, mdc, 0, 0, SRCAND);
  g.SetBkColor(img.dc(), 0);
  g.SetTextColor(img.dc(), RGB(255, 255, 255));
  g.BitBlt(img.dc(), 0, 0, 2, 2, mdc, 0, 0, SRCAND);
  g.BitBlt(work.dc(), 0, 0, 2, 2, img.dc(), 0, 0, SRCPAINT);
  EXPECT_EQ(work.rgb(0, 0), 0x808080u);
  EXPECT_EQ(work.rgb(1, 0), 0x112233u);
  EXPECT_EQ(work.rgb(0, 1), 0x445566u);
  EXPECT_EQ(work.rgb(1, 1), 0x808080u);
  g.SelectObject(mdc, old);
  g.DeleteObject(Obj(mask));
  g.DeleteDC(mdc);
}

TEST_F(GdiBlit, BlitsReachingOutsideEitherBitmapAreClipped) {
  Canvas32 src(g, 4, 4), dst(g, 4, 4);
  src.Fill(0x00ABCDEF);
  g.BitBlt(dst.dc(), -2, -2, 100, 100, src.dc(), 0, 0, SRCCOPY);
  EXPECT_EQ(dst.rgb(0, 0), 0xABCDEFu);
  EXPECT_EQ(dst.rgb(1, 1), 0xABCDEFu);
  EXPECT_EQ(dst.rgb(2, 2), 0u);  // source ran out at x = 4 - 2
  g.StretchBlt(dst.dc(), 0, 0, 4, 4, src.dc(), 1000000, -1000000, 2000000000, 7, SRCCOPY);
}

// The picture-to-surface case: a bottom-up 24-bit section copied 1:1 into a 32-bit one, partly outside the
// source, turned upside down by a negative height; the fourth byte of each copied pixel becomes 0.
TEST_F(GdiBlit, UnscaledCopyFrom24BitsFillsThreeBytesAndClearsTheFourth) {
  const int sw = 7, sh = 5;
  Info i = MakeInfo(sw, sh, 24);
  void* bits = nullptr;
  HBITMAP s24 = g.CreateDIBSection(nullptr, i.get(), DIB_RGB_COLORS, &bits);
  ASSERT_NE(s24, nullptr);
  const int stride = (sw * 3 + 3) / 4 * 4;
  auto src = [&](int x, int y) {  // 0x00RRGGBB of picture pixel (x, y), y from the top
    const BYTE* p = static_cast<BYTE*>(bits) + std::size_t(sh - 1 - y) * stride + std::size_t(x) * 3;
    return std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
  };
  for (int k = 0; k < stride * sh; ++k) static_cast<BYTE*>(bits)[k] = BYTE(k * 37 + 11);
  HDC dc = g.CreateCompatibleDC(nullptr);
  HGDIOBJ old = g.SelectObject(dc, Obj(s24));
  for (bool upsideDown : {false, true}) {
    Canvas32 dst(g, 9, 6);
    dst.Fill(0xEE000000u);
    // Source columns -2 .. 5 and rows 1 .. 5: column -2, -1 and row 5 lie outside the picture.
    if (upsideDown)
      g.StretchBlt(dst.dc(), 1, 5, 8, -5, dc, -2, 1, 8, 5, SRCCOPY);
    else
      g.BitBlt(dst.dc(), 1, 0, 8, 5, dc, -2, 1, SRCCOPY);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 9; ++x) {
        const int sx = x - 1 - 2, sy = upsideDown ? 5 - y : 1 + y;
        const bool inside = x >= 1 && y < 5 && sx >= 0 && sx < sw && sy < sh;
        EXPECT_EQ(dst.at(x, y), inside ? src(sx, sy) : 0xEE000000u) << upsideDown << " " << x << "," << y;
      }
  }
  g.SelectObject(dc, old);
  g.DeleteObject(Obj(s24));
  g.DeleteDC(dc);
}

TEST_F(GdiBlit, CopyIntoA565SectionPacksEachChannel) {
  Canvas32 src(g, 1, 1);
  src.at(0, 0) = 0xFF8040;  // r 255, g 128, b 64
  Info i = MakeInfo(1, 1, 16, BI_BITFIELDS);
  DWORD masks[3] = {0xF800, 0x07E0, 0x001F};
  std::memcpy(i.colors, masks, sizeof masks);
  void* bits = nullptr;
  HBITMAP s565 = g.CreateDIBSection(nullptr, i.get(), DIB_RGB_COLORS, &bits);
  ASSERT_NE(s565, nullptr);
  HDC dc = g.CreateCompatibleDC(nullptr);
  HGDIOBJ old = g.SelectObject(dc, Obj(s565));
  g.BitBlt(dc, 0, 0, 1, 1, src.dc(), 0, 0, SRCCOPY);
  EXPECT_EQ(*static_cast<WORD*>(bits), WORD((31 << 11) | (32 << 5) | 8));
  // Reading back widens each channel by repeating its high bits.
  EXPECT_EQ(g.GetPixel(dc, 0, 0), RGB(255, 130, 66));
  g.SelectObject(dc, old);
  g.DeleteObject(Obj(s565));
  g.DeleteDC(dc);
}

TEST_F(GdiBlit, ObjectsSelectedIntoADcCannotBeDeleted) {
  HDC dc = g.CreateCompatibleDC(nullptr);
  HBITMAP b = g.CreateCompatibleBitmap(dc, 2, 2);
  HGDIOBJ old = g.SelectObject(dc, Obj(b));
  EXPECT_FALSE(g.DeleteObject(Obj(b)));
  g.SelectObject(dc, old);
  EXPECT_TRUE(g.DeleteObject(Obj(b)));
  EXPECT_TRUE(g.DeleteDC(dc));
  EXPECT_EQ(g.LiveObjectCount(), 0u);
}

TEST_F(GdiBlit, CompatibleBitmapOfAFreshMemoryDcIsMonochrome) {
  HDC screen = g.GetDC(nullptr);
  HDC mem = g.CreateCompatibleDC(screen);
  HBITMAP fromMem = g.CreateCompatibleBitmap(mem, 4, 4);
  HBITMAP fromScreen = g.CreateCompatibleBitmap(screen, 4, 4);
  BITMAP bm{};
  g.GetObject(Obj(fromMem), sizeof bm, &bm);
  EXPECT_EQ(bm.bmBitsPixel, 1);
  g.GetObject(Obj(fromScreen), sizeof bm, &bm);
  EXPECT_EQ(bm.bmBitsPixel, 32);
  EXPECT_EQ(bm.bmBits, nullptr);
  g.DeleteObject(Obj(fromMem));
  g.DeleteObject(Obj(fromScreen));
  g.DeleteDC(mem);
  g.ReleaseDC(nullptr, screen);
}

TEST_F(GdiBlit, ScreenDcDrawsOnTheScreenBitmap) {
  HDC screen = g.GetDC(nullptr);
  g.SetPixel(screen, 3, 2, RGB(9, 8, 7));
  HDC mem = g.CreateCompatibleDC(nullptr);
  Info i = MakeInfo(64, -48, 32);
  std::vector<std::uint32_t> out(64 * 48);
  ASSERT_EQ(g.GetDIBits(mem, g.ScreenBitmap(), 0, 48, out.data(), i.get(), DIB_RGB_COLORS), 48);
  EXPECT_EQ(out[2 * 64 + 3], 0x090807u);
  g.DeleteDC(mem);
  g.ReleaseDC(nullptr, screen);
}

TEST_F(GdiBlit, SectionOverCallerMemorySharesPixelsBothWays) {
  std::vector<std::uint32_t> mem(4 * 3, 0);
  Info i = MakeInfo(4, -3, 32);
  HBITMAP b = g.CreateDIBSectionOver(mem.data(), i.get());
  ASSERT_NE(b, nullptr);
  HDC dc = g.CreateCompatibleDC(nullptr);
  HGDIOBJ old = g.SelectObject(dc, Obj(b));
  g.SetPixel(dc, 1, 2, RGB(0x11, 0x22, 0x33));
  EXPECT_EQ(mem[2 * 4 + 1], 0x112233u);
  mem[0] = 0x00445566;
  EXPECT_EQ(g.GetPixel(dc, 0, 0), RGB(0x44, 0x55, 0x66));
  g.SelectObject(dc, old);
  g.DeleteObject(Obj(b));
  g.DeleteDC(dc);
}

class GdiBlit8 : public GdiTest {
 protected:
  GdiBlit8() : GdiTest(8) {}
};

TEST_F(GdiBlit8, EightBitScreenStoresNearestSystemPaletteColour) {
  HDC screen = g.GetDC(nullptr);
  EXPECT_EQ(g.GetDeviceCaps(screen, BITSPIXEL), 8);
  EXPECT_TRUE(g.GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE);
  EXPECT_EQ(g.SetPixel(screen, 0, 0, RGB(250, 5, 3)), RGB(255, 0, 0));
  EXPECT_EQ(g.GetPixel(screen, 0, 0), RGB(255, 0, 0));
  EXPECT_EQ(g.SetPixel(screen, 1, 0, RGB(100, 100, 100)), RGB(102, 102, 102));
  g.ReleaseDC(nullptr, screen);
}

}  // namespace
