// The canvas: pixels, filling, copying between canvases, and drawing graphics by position or rectangle.
#include "graphics_fixture.h"

using namespace picture_test;

namespace {
class CanvasTest : public PictureTest {};
}  // namespace

TEST_F(CanvasTest, PixelsAreReadAndWrittenAsBlueGreenRedColours) {
  Target t(2, 2);
  t.Canvas().SetPixels(1, 0, 0x00112233);  // TColor: blue 0x11, green 0x22, red 0x33
  EXPECT_EQ(t.Canvas().Pixels(1, 0), 0x00112233);
  EXPECT_EQ(t.Read().At(1, 0), 0x332211u);
  EXPECT_EQ(t.Canvas().Pixels(0, 0), 0);
}

TEST_F(CanvasTest, FillRectUsesTheBrushAndAClearBrushFillsNothing) {
  Target t(3, 1);
  t.Canvas().Brush.Color = 0x0000FF;  // red
  t.Canvas().FillRect(Rect(0, 0, 2, 1));
  t.Canvas().Brush.Color = 0x00FF00;
  t.Canvas().Brush.Style = bsClear;
  t.Canvas().FillRect(Rect(0, 0, 3, 1));
  const Pixels p = t.Read();
  EXPECT_EQ(p.At(0, 0), 0xFF0000u);
  EXPECT_EQ(p.At(1, 0), 0xFF0000u);
  EXPECT_EQ(p.At(2, 0), 0u);
}

TEST_F(CanvasTest, CopyRectStretchesWithTheCopyMode) {
  Target src(1, 1, 0x0F0F0F), dst(2, 2, 0xFFFFFF);
  dst.Canvas().SetCopyMode(cmSrcAnd);
  dst.Canvas().CopyRect(Rect(0, 0, 2, 1), src.Canvas(), Rect(0, 0, 1, 1));
  const Pixels p = dst.Read();
  EXPECT_EQ(p.At(0, 0), 0x0F0F0Fu);
  EXPECT_EQ(p.At(1, 0), 0x0F0F0Fu);
  EXPECT_EQ(p.At(0, 1), 0xFFFFFFu);
}

TEST_F(CanvasTest, DrawingNothingOrAnEmptyGraphicLeavesTheTarget) {
  Target t(1, 1, 0x123456);
  TBitmap empty;
  t.Canvas().Draw(0, 0, nullptr);
  t.Canvas().Draw(0, 0, &empty);
  t.Canvas().StretchDraw(Rect(0, 0, 1, 1), &empty);
  EXPECT_EQ(t.Read().At(0, 0), 0x123456u);
}

TEST_F(CanvasTest, CanvasWithoutADeviceContextRefusesToDraw) {
  TCanvas c;
  EXPECT_FALSE(c.HandleAllocated());
  EXPECT_THROW(c.Handle(), EInvalidOperation);
}
