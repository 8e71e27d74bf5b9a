// Surface pixels: colour fill, copy and stretch blits, colour keys, clipping to a window, format
// conversion, locking, device contexts, lost and restored surfaces.
#include "platform/ddraw_test_util.h"

#include "platform/Gdi.h"
#include "platform/Windows.h"
#include "platform/common/SoftGdi.h"
#include "platform/soft/SoftWindows.h"

using namespace plat;
using ddtest::DDrawFixture;

namespace {

class DDrawBlit : public DDrawFixture {
 protected:
  // A surface whose pixel (x, y) holds x + 16 * y (a value every test can predict).
  IDirectDrawSurface7* Numbered(int w, int h) {
    IDirectDrawSurface7* s = Surface(DWORD(w), DWORD(h));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) Set(s, x, y, std::uint32_t(x + 16 * y));
    return s;
  }
};

// ---- Colour fill ----

TEST_F(DDrawBlit, ColourFillCoversExactlyTheRectangle) {
  IDirectDrawSurface7* s = Surface(6, 4);
  FillRaw(s, 0x111111);
  const RECT r{1, 1, 4, 3};
  FillRaw(s, 0xABCDEF, &r);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) {
      const bool inside = x >= 1 && x < 4 && y >= 1 && y < 3;
      EXPECT_EQ(inside ? 0xABCDEFu : 0x111111u, Get(s, x, y)) << x << "," << y;
    }
}

TEST_F(DDrawBlit, ColourFillNeedsItsEffectsBlock) {
  IDirectDrawSurface7* s = Surface(2, 2);
  EXPECT_EQ(DDERR_INVALIDPARAMS, s->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, nullptr));
  DDBLTFX fx{};
  fx.dwSize = 99;
  EXPECT_EQ(DDERR_INVALIDPARAMS, s->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx));
}

TEST_F(DDrawBlit, ColourFillOfA16BitSurfaceWritesTheRawValue) {
  const DDPIXELFORMAT pf = ddtest::Rgb565();
  IDirectDrawSurface7* s = Surface(3, 1, DDSCAPS_OFFSCREENPLAIN, &pf);
  FillRaw(s, 0xFFFF07E0u);  // bits beyond the depth are dropped
  EXPECT_EQ(0x07E0u, Get(s, 2, 0));
}

// ---- Copy and stretch ----

TEST_F(DDrawBlit, CopyBlitMovesTheSourceRectangle) {
  IDirectDrawSurface7* src = Numbered(8, 8);
  IDirectDrawSurface7* dst = Surface(8, 8);
  FillRaw(dst, 0xEEEEEE);
  const RECT from{2, 3, 5, 5}, to{0, 0, 3, 2};
  ASSERT_EQ(DD_OK, dst->Blt(&to, src, &from, DDBLT_WAIT, nullptr));
  EXPECT_EQ(2u + 16 * 3, Get(dst, 0, 0));
  EXPECT_EQ(4u + 16 * 4, Get(dst, 2, 1));
  EXPECT_EQ(0xEEEEEEu, Get(dst, 3, 0));
  EXPECT_EQ(0xEEEEEEu, Get(dst, 0, 2));
}

TEST_F(DDrawBlit, StretchTakesSourcePixelFloorOfIndexTimesRatio) {
  IDirectDrawSurface7* src = Numbered(3, 2);
  IDirectDrawSurface7* dst = Surface(7, 5);
  ASSERT_EQ(DD_OK, dst->Blt(nullptr, src, nullptr, DDBLT_WAIT, nullptr));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x)
      EXPECT_EQ(std::uint32_t(x * 3 / 7 + 16 * (y * 2 / 5)), Get(dst, x, y)) << x << "," << y;
}

TEST_F(DDrawBlit, ShrinkSkipsSourcePixelsTheSameWay) {
  IDirectDrawSurface7* src = Numbered(10, 1);
  IDirectDrawSurface7* dst = Surface(4, 1);
  ASSERT_EQ(DD_OK, dst->Blt(nullptr, src, nullptr, DDBLT_WAIT, nullptr));
  const std::uint32_t expected[4] = {0, 2, 5, 7};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(expected[x], Get(dst, x, 0));
}

TEST_F(DDrawBlit, OverlappingCopyWithinOneSurfaceReadsTheOriginal) {
  IDirectDrawSurface7* s = Numbered(6, 1);
  const RECT from{0, 0, 4, 1}, to{1, 0, 5, 1};
  ASSERT_EQ(DD_OK, s->Blt(&to, s, &from, DDBLT_WAIT, nullptr));
  const std::uint32_t expected[6] = {0, 0, 1, 2, 3, 5};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(expected[x], Get(s, x, 0));
}

TEST_F(DDrawBlit, RectangleOutsideASurfaceWithoutClipperIsRefused) {
  IDirectDrawSurface7* src = Surface(4, 4);
  IDirectDrawSurface7* dst = Surface(4, 4);
  const RECT out{2, 2, 6, 6}, empty{2, 2, 2, 3};
  EXPECT_EQ(DDERR_INVALIDRECT, dst->Blt(&out, src, nullptr, DDBLT_WAIT, nullptr));
  EXPECT_EQ(DDERR_INVALIDRECT, dst->Blt(nullptr, src, &out, DDBLT_WAIT, nullptr));
  EXPECT_EQ(DDERR_INVALIDRECT, dst->Blt(&empty, src, nullptr, DDBLT_WAIT, nullptr));
}

TEST_F(DDrawBlit, SourceColourKeySkipsKeyedPixels) {
  IDirectDrawSurface7* src = Surface(3, 1);
  Set(src, 0, 0, 0x000001);
  Set(src, 1, 0, 0x00FF00);
  Set(src, 2, 0, 0x000002);
  DDCOLORKEY key{0x00FF00, 0x00FF00};
  src->SetColorKey(DDCKEY_SRCBLT, &key);
  IDirectDrawSurface7* dst = Surface(3, 1);
  FillRaw(dst, 0x777777);
  ASSERT_EQ(DD_OK, dst->Blt(nullptr, src, nullptr, DDBLT_KEYSRC | DDBLT_WAIT, nullptr));
  EXPECT_EQ(0x000001u, Get(dst, 0, 0));
  EXPECT_EQ(0x777777u, Get(dst, 1, 0));
  EXPECT_EQ(0x000002u, Get(dst, 2, 0));
  ASSERT_EQ(DD_OK, dst->Blt(nullptr, src, nullptr, DDBLT_WAIT, nullptr));  // without the flag: copied
  EXPECT_EQ(0x00FF00u, Get(dst, 1, 0));
}

TEST_F(DDrawBlit, BltFastCopiesUnscaledAndRefusesAClipper) {
  IDirectDrawSurface7* src = Numbered(2, 2);
  IDirectDrawSurface7* dst = Surface(4, 4);
  ASSERT_EQ(DD_OK, dst->BltFast(2, 1, src, nullptr, DDBLTFAST_WAIT));
  EXPECT_EQ(1u + 16, Get(dst, 3, 2));
  EXPECT_EQ(DDERR_INVALIDRECT, dst->BltFast(3, 3, src, nullptr, DDBLTFAST_WAIT));
  IDirectDrawClipper* c = nullptr;
  dd_->CreateClipper(0, &c, nullptr);
  Keep(c);
  dst->SetClipper(c);
  EXPECT_EQ(DDERR_BLTFASTCANTCLIP, dst->BltFast(0, 0, src, nullptr, DDBLTFAST_WAIT));
}

TEST_F(DDrawBlit, CopyBetweenFormatsConvertsTheColour) {
  const DDPIXELFORMAT pf = ddtest::Rgb565();
  IDirectDrawSurface7* src = Surface(1, 1);
  Set(src, 0, 0, 0xFF8000);
  IDirectDrawSurface7* dst = Surface(1, 1, DDSCAPS_OFFSCREENPLAIN, &pf);
  ASSERT_EQ(DD_OK, dst->Blt(nullptr, src, nullptr, DDBLT_WAIT, nullptr));
  EXPECT_EQ((31u << 11) | (32u << 5) | 0u, Get(dst, 0, 0));  // 128 of 255 -> 32 of 63
  ASSERT_EQ(DD_OK, src->Blt(nullptr, dst, nullptr, DDBLT_WAIT, nullptr));
  EXPECT_EQ(0xFF8200u, Get(src, 0, 0) & 0xFFFFFF);  // 32 of 63 -> 130 of 255
}

// ---- Presenting through a clipper bound to a window ----

LRESULT PlainProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  return Windows().DefWindowProc(h, m, w, l);
}

class DDrawPresent : public DDrawBlit {
 protected:
  void SetUp() override {
    WNDCLASS wc{};
    wc.lpfnWndProc = &PlainProc;
    wc.lpszClassName = "DDrawTestWindow";
    ASSERT_NE(0, Windows().RegisterClass(wc));
    // A parent at (100, 50) with a 200 x 100 client area and a child poking out of its right edge.
    parent_ = Windows().CreateWindowEx(0, "DDrawTestWindow", "", WS_POPUP | WS_VISIBLE, 100, 50, 200, 100,
                                       nullptr, nullptr, nullptr);
    child_ = Windows().CreateWindowEx(0, "DDrawTestWindow", "", WS_CHILD | WS_VISIBLE, 150, 30, 100, 100,
                                      parent_, nullptr, nullptr);
    ASSERT_NE(nullptr, child_);
    primary_ = Primary();
    soft().FillScreen(0x000000);
    IDirectDrawClipper* clipper = nullptr;
    ASSERT_EQ(DD_OK, dd_->CreateClipper(0, &clipper, nullptr));
    clipper->SetHWnd(0, child_);
    primary_->SetClipper(clipper);
    clipper->Release();
    back_ = Surface(100, 100);
    FillRaw(back_, 0xFFFFFF);
  }
  HWND parent_ = nullptr, child_ = nullptr;
  IDirectDrawSurface7* primary_ = nullptr;
  IDirectDrawSurface7* back_ = nullptr;
};

TEST_F(DDrawPresent, ChildWindowShowsOnlyInsideItsParent) {
  POINT origin{0, 0};
  Windows().ClientToScreen(child_, &origin);
  ASSERT_EQ(250, origin.x);
  ASSERT_EQ(80, origin.y);
  const RECT dest{origin.x, origin.y, origin.x + 100, origin.y + 100};
  ASSERT_EQ(DD_OK, primary_->Blt(&dest, back_, nullptr, DDBLT_WAIT, nullptr));
  // The parent's client area ends at x = 300, y = 150.
  for (int y = 60; y < 200; y += 3)
    for (int x = 230; x < 320; x += 3) {
      const bool shown = x >= 250 && x < 300 && y >= 80 && y < 150;
      EXPECT_EQ(shown ? 0xFFFFFFFFu : 0xFF000000u, soft().ScreenPixel(x, y)) << x << "," << y;
    }
  EXPECT_EQ(1u, soft().PrimaryBlits());
}

TEST_F(DDrawPresent, HiddenWindowShowsNothing) {
  Windows().ShowWindow(parent_, SW_HIDE);
  const RECT dest{250, 80, 350, 180};
  EXPECT_EQ(DD_OK, primary_->Blt(&dest, back_, nullptr, DDBLT_WAIT, nullptr));
  EXPECT_EQ(0xFF000000u, soft().ScreenPixel(260, 90));
}

TEST_F(DDrawPresent, ClippedStretchKeepsTheUnclippedMapping) {
  IDirectDrawSurface7* src = Numbered(4, 1);
  // Destination starts left of the parent's visible area: columns before x = 250 are cut, the rest keep
  // the mapping of the whole rectangle.
  const RECT dest{230, 80, 270, 81};
  ASSERT_EQ(DD_OK, primary_->Blt(&dest, src, nullptr, DDBLT_WAIT, nullptr));
  EXPECT_EQ(0xFF000000u, soft().ScreenPixel(249, 80));
  EXPECT_EQ(0xFF000002u, soft().ScreenPixel(250, 80));  // column 20 of 40 -> source 2
  EXPECT_EQ(0xFF000003u, soft().ScreenPixel(269, 80));
}

TEST_F(DDrawPresent, ClippedCopyKeepsTheSourceAligned) {
  IDirectDrawSurface7* src = Numbered(10, 1);
  const RECT dest{245, 80, 255, 81};
  ASSERT_EQ(DD_OK, primary_->Blt(&dest, src, nullptr, DDBLT_WAIT, nullptr));
  EXPECT_EQ(0xFF000000u, soft().ScreenPixel(249, 80));
  EXPECT_EQ(0xFF000005u, soft().ScreenPixel(250, 80));
  EXPECT_EQ(0xFF000009u, soft().ScreenPixel(254, 80));
}

TEST_F(DDrawBlit, SharedScreenShowsGdiAndDirectDrawDrawingAlike) {
  ASSERT_TRUE(soft().ShareScreenWithGdi(platform().gdi()));
  soft().FillScreen(0x000000);
  HDC screen = GdiSvc().GetDC(nullptr);
  GdiSvc().SetPixel(screen, 3, 4, RGB(1, 2, 3));
  EXPECT_EQ(0xFF010203u, soft().ScreenPixel(3, 4));
  const RECT r{5, 5, 6, 6};
  FillRaw(Primary(), 0x0A0B0C, &r);
  EXPECT_EQ(RGB(0x0A, 0x0B, 0x0C), GdiSvc().GetPixel(screen, 5, 5));
  GdiSvc().ReleaseDC(nullptr, screen);
}

// ---- Locking and device contexts ----

TEST_F(DDrawBlit, LockGivesPitchAndPointerIntoTheRectangle) {
  IDirectDrawSurface7* s = Numbered(5, 4);
  DDSURFACEDESC2 d{};
  d.dwSize = sizeof(d);
  RECT r{1, 2, 3, 4};
  ASSERT_EQ(DD_OK, s->Lock(&r, &d, DDLOCK_WAIT, nullptr));
  EXPECT_EQ(20, d.lPitch);
  std::uint32_t v = 0;
  std::memcpy(&v, d.lpSurface, 4);
  EXPECT_EQ(1u + 16 * 2, v);
  DDBLTFX fx{};
  fx.dwSize = sizeof(fx);
  EXPECT_EQ(DDERR_SURFACEBUSY, s->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx));
  IDirectDrawSurface7* other = Surface(5, 4);
  EXPECT_EQ(DDERR_SURFACEBUSY, s->Blt(nullptr, other, nullptr, DDBLT_WAIT, nullptr));
  ASSERT_EQ(DD_OK, s->Unlock(nullptr));
  EXPECT_EQ(DDERR_NOTLOCKED, s->Unlock(nullptr));
  RECT outside{3, 3, 6, 4};
  EXPECT_EQ(DDERR_INVALIDRECT, s->Lock(&outside, &d, 0, nullptr));
}

TEST_F(DDrawBlit, DeviceContextDrawsOnTheSurfacesOwnPixels) {
  IDirectDrawSurface7* s = Surface(4, 4);
  FillRaw(s, 0);
  HDC dc = nullptr;
  ASSERT_EQ(DD_OK, s->GetDC(&dc));
  HDC second = nullptr;
  EXPECT_EQ(DDERR_DCALREADYCREATED, s->GetDC(&second));
  GdiSvc().SetPixel(dc, 2, 1, RGB(10, 20, 30));
  EXPECT_EQ(RGB(0, 0, 0), GdiSvc().GetPixel(dc, 0, 0));
  ASSERT_EQ(DD_OK, s->ReleaseDC(dc));
  EXPECT_EQ(0x0A141Eu, Get(s, 2, 1) & 0xFFFFFF);
  EXPECT_EQ(DDERR_NODC, s->ReleaseDC(dc));
}

TEST_F(DDrawBlit, DeviceContextOfA16BitSurfaceUsesItsMasks) {
  const DDPIXELFORMAT pf = ddtest::Rgb565();
  IDirectDrawSurface7* s = Surface(2, 2, DDSCAPS_OFFSCREENPLAIN, &pf);
  HDC dc = nullptr;
  ASSERT_EQ(DD_OK, s->GetDC(&dc));
  GdiSvc().SetPixel(dc, 1, 1, RGB(255, 0, 0));
  s->ReleaseDC(dc);
  EXPECT_EQ(0xF800u, Get(s, 1, 1));
}

// ---- Lost surfaces ----

TEST_F(DDrawBlit, LosingAllSurfacesSparesSystemMemory) {
  IDirectDrawSurface7* primary = Primary();
  IDirectDrawSurface7* video = Surface(4, 4, DDSCAPS_VIDEOMEMORY);
  IDirectDrawSurface7* system = Surface(4, 4, DDSCAPS_SYSTEMMEMORY);
  soft().LoseAllSurfaces();
  EXPECT_EQ(DDERR_SURFACELOST, primary->IsLost());
  EXPECT_EQ(DDERR_SURFACELOST, video->IsLost());
  EXPECT_EQ(DD_OK, system->IsLost());
  EXPECT_EQ(DDERR_SURFACELOST, primary->Blt(nullptr, system, nullptr, DDBLT_WAIT, nullptr));
  EXPECT_EQ(DDERR_SURFACELOST, system->Blt(nullptr, video, nullptr, DDBLT_WAIT, nullptr));
  DDSURFACEDESC2 d{};
  d.dwSize = sizeof(d);
  EXPECT_EQ(DDERR_SURFACELOST, video->Lock(nullptr, &d, 0, nullptr));
}

TEST_F(DDrawBlit, RestoreBringsASurfaceBackCleared) {
  IDirectDrawSurface7* video = Surface(4, 4, DDSCAPS_VIDEOMEMORY);
  FillRaw(video, 0x123456);
  plat::soft::SoftDirectDraw::LoseSurface(video);
  EXPECT_EQ(DDERR_SURFACELOST, video->IsLost());
  ASSERT_EQ(DD_OK, video->Restore());
  EXPECT_EQ(DD_OK, video->IsLost());
  EXPECT_EQ(0u, Get(video, 1, 1));
}

TEST_F(DDrawBlit, FailedRestoreLeavesTheSurfaceLost) {
  IDirectDrawSurface7* primary = Primary();
  IDirectDrawSurface7* video = Surface(4, 4, DDSCAPS_VIDEOMEMORY);
  soft().LoseAllSurfaces();
  soft().FailRestore(1);
  EXPECT_TRUE(FAILED(primary->Restore()));
  EXPECT_EQ(DDERR_SURFACELOST, primary->IsLost());
  ASSERT_EQ(DD_OK, dd_->RestoreAllSurfaces());
  EXPECT_EQ(DD_OK, primary->IsLost());
  EXPECT_EQ(DD_OK, video->IsLost());
}

}  // namespace
