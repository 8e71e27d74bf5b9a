// A whole frame — wallpaper stretched over the surface, then eight sprites — compared pixel by pixel with a
// reference computed here from bilinear filtering of the padded wallpaper texture (wrap addressing, texel
// centres at (i + 0.5) / size) and the blend equation white * a + background * (1 - a).
// Tolerance: 2 per channel, for the device's 8-bit sub-texel weights against the exact weights used here.
#include <cmath>
#include <cstdlib>

#include "d2d_fixture.h"

namespace {

constexpr int WallW = 100, WallH = 75, Tex = 128;

std::uint32_t WallColour(int x, int y) {
  const std::uint32_t r = static_cast<std::uint32_t>(x * 2 + 20);
  const std::uint32_t g = static_cast<std::uint32_t>(y * 3 + 10);
  const std::uint32_t b = static_cast<std::uint32_t>((x * 7 + y * 13) % 97 + 100);
  return r << 16 | g << 8 | b;
}

int BlobAlpha(int w, int h, int peak, int x, int y) {
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0, sx = w / 5.0, sy = h / 5.0;
  const double e = std::exp(-((x - cx) * (x - cx) / (2 * sx * sx) + (y - cy) * (y - cy) / (2 * sy * sy)));
  return e < 0.05 ? 0 : static_cast<int>(std::lround(peak * e));
}

struct SpriteSpec {
  int w, h, peak, x, y;
};
const SpriteSpec Sprites[8] = {{32, 43, 255, 10, 12},   {10, 10, 129, 60, 30},  {21, 32, 200, 100, 100},
                               {34, 33, 179, 200, 50},  {14, 19, 84, -5, 150},  {14, 20, 90, 310, 200},
                               {18, 28, 108, 150, -10}, {15, 19, 224, 105, 110}};

// The wallpaper as the padded texture holds it: black outside the picture.
double Texel(int tx, int ty, int channel) {
  tx = ((tx % Tex) + Tex) % Tex;
  ty = ((ty % Tex) + Tex) % Tex;
  if (tx >= WallW || ty >= WallH) return 0;
  return (WallColour(tx, ty) >> (channel * 8)) & 0xFF;
}

double Background(int x, int y, int w, int h, int channel) {
  const double u = (x + 0.5) / w * (static_cast<double>(WallW) / Tex);
  const double v = (y + 0.5) / h * (static_cast<double>(WallH) / Tex);
  const double fx = u * Tex - 0.5, fy = v * Tex - 0.5;
  const int x0 = static_cast<int>(std::floor(fx)), y0 = static_cast<int>(std::floor(fy));
  const double ax = fx - x0, ay = fy - y0;
  return (Texel(x0, y0, channel) * (1 - ax) + Texel(x0 + 1, y0, channel) * ax) * (1 - ay) +
         (Texel(x0, y0 + 1, channel) * (1 - ax) + Texel(x0 + 1, y0 + 1, channel) * ax) * ay;
}

}  // namespace

class D2DFrameTest : public D2DFixture {};

TEST_F(D2DFrameTest, FrameMatchesBilinearWallpaperWithBlendedSprites) {
  TPictureCollectionItem* wall = AddItem(MakePicture24(WallW, WallH, WallColour).get());
  std::vector<TPictureCollectionItem*> items;
  for (const SpriteSpec& s : Sprites)
    items.push_back(
        AddItem(MakeSprite(s.w, s.h, [s](int x, int y) { return BlobAlpha(s.w, s.h, s.peak, x, y); }).get()));
  dxdraw->Initialize();
  const int w = dxdraw->SurfaceWidth(), h = dxdraw->SurfaceHeight();
  wall->StretchDraw(dxdraw->Surface(), Rect(0, 0, w, h), 0);
  for (int i = 0; i < 8; ++i)
    items[static_cast<std::size_t>(i)]->Draw(dxdraw->Surface(), Sprites[i].x, Sprites[i].y, 0);

  int worst = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      double ref[3];
      for (int c = 0; c < 3; ++c) ref[c] = Background(x, y, w, h, c);
      for (const SpriteSpec& s : Sprites) {
        if (x < s.x || x >= s.x + s.w || y < s.y || y >= s.y + s.h) continue;
        const double a = BlobAlpha(s.w, s.h, s.peak, x - s.x, y - s.y) / 255.0;
        for (double& r : ref) r = 255 * a + r * (1 - a);
      }
      const std::uint32_t got = Back(x, y);
      for (int c = 0; c < 3; ++c) {
        const int diff =
            std::abs(static_cast<int>((got >> (c * 8)) & 0xFF) - static_cast<int>(std::lround(ref[c])));
        worst = std::max(worst, diff);
        ASSERT_LE(diff, 2) << "pixel " << x << "," << y << " channel " << c;
      }
    }
  }
  RecordProperty("worst_channel_difference", worst);
}
