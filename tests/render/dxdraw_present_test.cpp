#include <gtest/gtest.h>

#include "dxdraw_fixture.h"

namespace {

constexpr std::uint32_t kDesktop = 0x203040;
constexpr std::uint32_t kFrame = 0x11AA55;

class DXDrawPresentTest : public DXDrawFixture {
 protected:
  // Initialises, paints the back surface one colour (raw 32-bit value) and puts a known desktop behind.
  void ReadyWithFrame() {
    draw->Initialize();
    ddraw().FillScreen(kDesktop);
    ASSERT_TRUE(draw->Surface()->Fill(kFrame));
  }
  std::uint32_t Screen(int x, int y) { return ddraw().ScreenPixel(x, y) & 0xFFFFFF; }
};

// --- windowed present

TEST_F(DXDrawPresentTest, FlipCopiesBackSurfaceToTheControlsScreenRectangle) {
  ReadyWithFrame();
  draw->Flip();
  // Form at (100, 50), control at (10, 20) inside it, 320 x 240.
  EXPECT_EQ(Screen(110, 70), kFrame);
  EXPECT_EQ(Screen(429, 309), kFrame);
  EXPECT_EQ(Screen(109, 70), kDesktop);
  EXPECT_EQ(Screen(110, 69), kDesktop);
  EXPECT_EQ(Screen(430, 309), kDesktop);
  EXPECT_EQ(Screen(429, 310), kDesktop);
}

TEST_F(DXDrawPresentTest, FlipWaitsForTheVerticalBlankFirst) {
  ReadyWithFrame();
  const auto waits = ddraw().VerticalBlankWaits();
  draw->Flip();
  EXPECT_EQ(ddraw().VerticalBlankWaits(), waits + 1);
}

TEST_F(DXDrawPresentTest, FlipWithoutWaitVBlankOptionDoesNotWait) {
  ReadyWithFrame();
  TDXDrawOptions o = draw->Options();
  o.Exclude(doWaitVBlank);
  draw->SetOptions(o);
  const auto waits = ddraw().VerticalBlankWaits();
  draw->Flip();
  EXPECT_EQ(ddraw().VerticalBlankWaits(), waits);
  EXPECT_EQ(Screen(110, 70), kFrame);
}

TEST_F(DXDrawPresentTest, SmallerSurfaceIsCentredInTheControl) {
  draw->SetAutoSize(false);
  draw->SetSurfaceSize(101, 51);
  ReadyWithFrame();
  draw->Flip();
  // Offsets (320 - 101) / 2 = 109 and (240 - 51) / 2 = 94, from the control's origin (110, 70).
  EXPECT_EQ(Screen(219, 164), kFrame);
  EXPECT_EQ(Screen(218, 164), kDesktop);
  EXPECT_EQ(Screen(219, 163), kDesktop);
  EXPECT_EQ(Screen(319, 214), kFrame);
  EXPECT_EQ(Screen(320, 214), kDesktop);
}

TEST_F(DXDrawPresentTest, LargerSurfaceGetsNegativeOffsetsAndIsClippedToTheControl) {
  draw->SetAutoSize(false);
  draw->SetSurfaceSize(400, 300);
  ReadyWithFrame();
  draw->Flip();
  EXPECT_EQ(Screen(110, 70), kFrame);
  EXPECT_EQ(Screen(429, 309), kFrame);
  EXPECT_EQ(Screen(109, 70), kDesktop);
  EXPECT_EQ(Screen(430, 200), kDesktop);
}

TEST_F(DXDrawPresentTest, StretchFillsTheWholeControl) {
  draw->SetAutoSize(false);
  draw->SetSurfaceSize(16, 16);
  ReadyWithFrame();
  TDXDrawOptions o = draw->Options();
  o.Include(doStretch);
  draw->SetOptions(o);
  draw->Flip();
  EXPECT_EQ(Screen(110, 70), kFrame);
  EXPECT_EQ(Screen(429, 309), kFrame);
  EXPECT_EQ(Screen(430, 309), kDesktop);
}

TEST_F(DXDrawPresentTest, ZeroStoredSizeMakesOnePixelSurface) {
  draw->SetAutoSize(false);
  draw->SetSurfaceSize(0, 0);
  draw->Initialize();
  EXPECT_EQ(draw->Surface()->Width(), 1);
  EXPECT_EQ(draw->Surface()->Height(), 1);
}

// --- when nothing is presented

TEST_F(DXDrawPresentTest, FlipBeforeInitializeDoesNothingAndClearsRenderError) {
  RenderError = true;
  draw->Flip();
  EXPECT_FALSE(RenderError);
  EXPECT_EQ(ddraw().PrimaryBlits(), 0u);
}

TEST_F(DXDrawPresentTest, FlipAfterFinalizeDoesNothing) {
  ReadyWithFrame();
  draw->Finalize();
  const auto blits = ddraw().PrimaryBlits();
  draw->Flip();
  EXPECT_EQ(ddraw().PrimaryBlits(), blits);
}

TEST_F(DXDrawPresentTest, RenderErrorDropsExactlyOnePresent) {
  ReadyWithFrame();
  const auto blits = ddraw().PrimaryBlits();
  RenderError = true;
  draw->Flip();
  EXPECT_EQ(ddraw().PrimaryBlits(), blits);
  EXPECT_EQ(Screen(110, 70), kDesktop);
  EXPECT_FALSE(RenderError);
  draw->Flip();
  EXPECT_EQ(ddraw().PrimaryBlits(), blits + 1);
  EXPECT_EQ(Screen(110, 70), kFrame);
}

TEST_F(DXDrawPresentTest, FailingDeviceCallDropsExactlyOnePresent) {
  ReadyWithFrame();
  // A draw call the way the renderer makes it: its failure sets the flag.
  ddraw().FailDrawPrimitive(1);
  plat::D3DTLVERTEX v[4] = {};
  for (auto& p : v) p.rhw = 1.0f;
  RenderError = draw->D3DDevice7()->DrawPrimitive(plat::D3DPT_TRIANGLESTRIP, plat::D3DFVF_TLVERTEX, v, 4,
                                                  plat::D3DDP_WAIT) != plat::D3D_OK;
  ASSERT_TRUE(RenderError);
  const auto blits = ddraw().PrimaryBlits();
  draw->Flip();
  draw->Flip();
  EXPECT_EQ(ddraw().PrimaryBlits(), blits + 1);
}

TEST_F(DXDrawPresentTest, PaintPresentsWithoutWaitingAndKeepsTheOption) {
  ReadyWithFrame();
  const auto waits = ddraw().VerticalBlankWaits();
  draw->Invalidate();
  draw->Update();
  EXPECT_EQ(ddraw().VerticalBlankWaits(), waits);
  EXPECT_EQ(Screen(110, 70), kFrame);
  EXPECT_TRUE(draw->EffectiveOptions().Contains(doWaitVBlank));
}

// --- lost surfaces

TEST_F(DXDrawPresentTest, LostSurfacesAreRestoredNotifiedAndPresented) {
  ReadyWithFrame();
  TEventLog& log = NewLog();
  log.WireEvents(*draw);
  draw->AddNotifyHandler(log.Handler());
  log.entries.clear();
  // Redraw after the restore, as the program's pictures do, so the present can be seen.
  auto wired = draw->OnRestoreSurface;
  draw->OnRestoreSurface = [&](TObject* s) {
    wired(s);
    draw->Surface()->Fill(kFrame);
  };
  ddraw().LoseAllSurfaces();
  draw->Flip();
  EXPECT_EQ(log.entries, (std::vector<std::string>{"snRestore", "OnRestoreSurface"}));
  EXPECT_EQ(draw->Primary()->IsLost(), plat::DD_OK);
  EXPECT_EQ(draw->Surface()->IsLost(), plat::DD_OK);
  EXPECT_EQ(Screen(110, 70), kFrame);
}

TEST_F(DXDrawPresentTest, RestoredBackSurfaceIsClearedToBlack) {
  ReadyWithFrame();
  ddraw().LoseAllSurfaces();
  draw->Flip();
  EXPECT_EQ(Screen(110, 70), 0u);
}

TEST_F(DXDrawPresentTest, FailedRestoreSkipsThePresentAndTheNextFlipTriesAgain) {
  ReadyWithFrame();
  draw->OnRestoreSurface = [&](TObject*) { draw->Surface()->Fill(kFrame); };
  ddraw().LoseAllSurfaces();
  ddraw().FailRestore(1);
  draw->Flip();
  EXPECT_EQ(Screen(110, 70), kDesktop);
  EXPECT_EQ(draw->Primary()->IsLost(), plat::DDERR_SURFACELOST);
  draw->Flip();
  EXPECT_EQ(Screen(110, 70), kFrame);
}

TEST_F(DXDrawPresentTest, RestoreIfLostIsTrueWhenNothingWasLost) {
  ReadyWithFrame();
  TEventLog& log = NewLog();
  draw->AddNotifyHandler(log.Handler());
  log.entries.clear();
  EXPECT_TRUE(draw->RestoreIfLost());
  EXPECT_TRUE(log.entries.empty());
}

TEST_F(DXDrawPresentTest, RestoreIfLostIsFalseWhenNotInitialized) {
  EXPECT_FALSE(draw->RestoreIfLost());
}

}  // namespace
