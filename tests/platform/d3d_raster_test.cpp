// Pixels the soft 3D device draws: coverage and the pixel-centre rule, texel mapping, bilinear filtering,
// texture addressing, texture stages, blending, and the fast path against the general path.
#include <cmath>
#include <random>

#include "platform/ddraw_test_util.h"

using namespace plat;
using ddtest::DDrawFixture;
using ddtest::Quad;

namespace {

// Independent statements of the device's documented arithmetic.
int RoundDiv255(int x) {
  return (x + 127) / 255;
}
std::uint32_t BlendSrcAlpha(std::uint32_t src, std::uint32_t dst) {
  const int a = int(src >> 24);
  std::uint32_t out = 0;
  for (int shift : {0, 8, 16}) {
    const int s = int((src >> shift) & 0xFF), d = int((dst >> shift) & 0xFF);
    out |= std::uint32_t(RoundDiv255(s * a + d * (255 - a))) << shift;
  }
  return out;
}

class D3DRaster : public DDrawFixture {
 protected:
  void SetUp() override {
    void* p = nullptr;
    ASSERT_EQ(DD_OK, dd_->QueryInterface(IID_IDirect3D7, &p));
    d3d_ = Keep(static_cast<IDirect3D7*>(p));
    target_ = Surface(64, 48, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE | DDSCAPS_VIDEOMEMORY);
    ASSERT_EQ(D3D_OK, d3d_->CreateDevice(IID_IDirect3DHALDevice, target_, &dev_));
    Keep(dev_);
  }
  void Draw(const std::vector<D3DTLVERTEX>& v, D3DPRIMITIVETYPE type = D3DPT_TRIANGLESTRIP) {
    ASSERT_EQ(D3D_OK, dev_->DrawPrimitive(type, D3DFVF_TLVERTEX, v.data(), DWORD(v.size()), D3DDP_WAIT));
  }
  // The renderer's blend state for pictures with alpha.
  void AlphaBlend() {
    dev_->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, 1);
    dev_->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
    dev_->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
    dev_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    dev_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  }
  void Linear() {
    dev_->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR);
    dev_->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTFN_LINEAR);
  }
  std::uint32_t Pixel(int x, int y) { return Get(target_, x, y) & 0xFFFFFF; }

  IDirect3D7* d3d_ = nullptr;
  IDirectDrawSurface7* target_ = nullptr;
  IDirect3DDevice7* dev_ = nullptr;
};

// ---- Coverage ----

TEST_F(D3DRaster, QuadWithHalfPixelOffsetCoversExactlyItsRectangle) {
  FillRaw(target_, 0);
  Draw(Quad(10, 5, 13, 9, 0xFFFF0000u));  // untextured: the diffuse colour
  for (int y = 3; y < 11; ++y)
    for (int x = 8; x < 15; ++x) {
      const bool inside = x >= 10 && x < 13 && y >= 5 && y < 9;
      EXPECT_EQ(inside ? 0xFF0000u : 0u, Pixel(x, y)) << x << "," << y;
    }
}

TEST_F(D3DRaster, PixelIsCoveredWhenItsSamplePointLiesInsideTopLeftInclusive) {
  FillRaw(target_, 0);
  // Raw corners (2.3, 1.0) to (5.7, 3.0): sample points x = 3, 4, 5; y = 1 (on the top edge), 2.
  const D3DCOLOR c = 0xFF00FF00u;
  Draw({{2.3f, 1.0f, 0, 1, c, 0, 0, 0},
        {5.7f, 1.0f, 0, 1, c, 0, 0, 0},
        {2.3f, 3.0f, 0, 1, c, 0, 0, 0},
        {5.7f, 3.0f, 0, 1, c, 0, 0, 0}});
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool inside = x >= 3 && x <= 5 && y >= 1 && y <= 2;
      EXPECT_EQ(inside ? 0x00FF00u : 0u, Pixel(x, y)) << x << "," << y;
    }
}

TEST_F(D3DRaster, SharedEdgePixelsAreDrawnExactlyOnce) {
  FillRaw(target_, 0);
  dev_->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, 1);
  dev_->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE);
  dev_->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ONE);
  const D3DCOLOR one = 0xFF000001u;
  // A rotated square whose diagonal passes through sample points.
  Draw({{20, 4, 0, 1, one, 0, 0, 0},
        {36, 20, 0, 1, one, 0, 0, 0},
        {4, 20, 0, 1, one, 0, 0, 0},
        {20, 36, 0, 1, one, 0, 0, 0}});
  int covered = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const std::uint32_t v = Pixel(x, y);
      ASSERT_LE(v, 1u) << x << "," << y;
      covered += int(v);
    }
  EXPECT_EQ(16 * 16 * 2, covered);  // the square's area, on the integer lattice with half its edges
}

TEST_F(D3DRaster, ClockwiseCullingHidesTheRenderersQuad) {
  FillRaw(target_, 0);
  dev_->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CW);
  Draw(Quad(0, 0, 4, 4, 0xFFFFFFFFu));
  EXPECT_EQ(0u, Pixel(1, 1));
  dev_->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
  Draw(Quad(0, 0, 4, 4, 0xFFFFFFFFu));
  EXPECT_EQ(0xFFFFFFu, Pixel(1, 1));
}

TEST_F(D3DRaster, QuadPartlyOutsideTheTargetIsClipped) {
  FillRaw(target_, 0);
  Draw(Quad(-5, 40, 3, 60, 0xFF0000FFu));
  EXPECT_EQ(0xFFu, Pixel(0, 47));
  EXPECT_EQ(0xFFu, Pixel(2, 40));
  EXPECT_EQ(0u, Pixel(3, 47));
}

// ---- Textures at 1:1 ----

TEST_F(D3DRaster, EachTexelLandsOnOnePixelWithTheHalfPixelOffset) {
  std::vector<std::uint32_t> texels(16);
  for (int i = 0; i < 16; ++i) texels[std::size_t(i)] = 0xFF000000u | std::uint32_t(i * 0x0F0E0D);
  dev_->SetTexture(0, Texture(4, 4, texels));
  Linear();
  Draw(Quad(7, 9, 11, 13, 0xFFFFFFFFu));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(texels[std::size_t(y * 4 + x)] & 0xFFFFFF, Pixel(7 + x, 9 + y)) << x << "," << y;
}

TEST_F(D3DRaster, AlphaBlendedSpriteOverKnownBackground) {
  FillRaw(target_, 0x204060);
  const std::vector<std::uint32_t> sprite = {0x00FFFFFFu, 0xFFFFFFFFu, 0x80FFFFFFu,
                                             0x01FFFFFFu, 0xFE123456u, 0x7F808080u};
  dev_->SetTexture(0, Texture(3, 2, sprite));
  Linear();
  AlphaBlend();
  Draw(Quad(20, 10, 23, 12, 0xFFFFFFFFu));
  EXPECT_EQ(0x204060u, Pixel(20, 10));  // alpha 0 leaves the background
  EXPECT_EQ(0xFFFFFFu, Pixel(21, 10));  // alpha 255 is the texture colour exactly
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(BlendSrcAlpha(sprite[std::size_t(i)], 0x204060), Pixel(20 + i % 3, 10 + i / 3)) << i;
  EXPECT_EQ(0x204060u, Pixel(19, 10));
  EXPECT_EQ(0x204060u, Pixel(23, 11));
  EXPECT_EQ(0x204060u, Pixel(20, 12));
}

TEST_F(D3DRaster, DiffuseAlphaScalesTheTexturesAlpha) {
  FillRaw(target_, 0x000000);
  dev_->SetTexture(0, Texture(1, 1, {0xFFC86432u}));
  AlphaBlend();
  Draw(Quad(0, 0, 1, 1, 0x80FFFFFFu));
  const int a = RoundDiv255(255 * 128);
  EXPECT_EQ(std::uint32_t(RoundDiv255(0xC8 * a)) << 16 | std::uint32_t(RoundDiv255(0x64 * a)) << 8 |
                std::uint32_t(RoundDiv255(0x32 * a)),
            Pixel(0, 0));
}

TEST_F(D3DRaster, ModulateMultipliesTextureByDiffuseRounded) {
  dev_->SetTexture(0, Texture(1, 1, {0xFFC86432u}));
  Draw(Quad(0, 0, 1, 1, 0xFF80FF00u));
  EXPECT_EQ(std::uint32_t(RoundDiv255(0xC8 * 0x80)) << 16 | 0x6400u, Pixel(0, 0));
}

TEST_F(D3DRaster, SelectArgumentShowsTheTextureAlone) {
  dev_->SetTexture(0, Texture(1, 1, {0xFFC86432u}));
  dev_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  Draw(Quad(0, 0, 1, 1, 0xFF000000u));
  EXPECT_EQ(0xC86432u, Pixel(0, 0));
}

// ---- Filtering and addressing ----

TEST_F(D3DRaster, BilinearAtTheMidpointOfTwoTexelsRoundsHalfUp) {
  dev_->SetTexture(0, Texture(2, 1, {0xFF000000u, 0xFFFFFFFFu}));
  Linear();
  Draw(Quad(0, 0, 1, 1, 0xFFFFFFFFu));  // one pixel sampling u = 0.5: texel coordinate 0.5
  EXPECT_EQ(0x808080u, Pixel(0, 0));
}

TEST_F(D3DRaster, BilinearAtQuarterPositionsWithWrapAndClamp) {
  dev_->SetTexture(0, Texture(2, 1, {0xFF000000u, 0xFFFFFFFFu}));
  Linear();
  // Four pixels over two texels: texel coordinates -0.25, 0.25, 0.75, 1.25 (weights 192/64 of 256).
  Draw(Quad(0, 0, 4, 1, 0xFFFFFFFFu));
  const std::uint32_t low = 0x404040, high = 0xBFBFBF;  // 255 * 64 / 256 -> 64; 255 * 192 / 256 -> 191
  EXPECT_EQ(low, Pixel(0, 0));                          // wraps to the white texel on the left
  EXPECT_EQ(low, Pixel(1, 0));
  EXPECT_EQ(high, Pixel(2, 0));
  EXPECT_EQ(high, Pixel(3, 0));
  dev_->SetTextureStageState(0, D3DTSS_ADDRESS, D3DTADDRESS_CLAMP);
  Draw(Quad(0, 1, 4, 2, 0xFFFFFFFFu));
  EXPECT_EQ(0x000000u, Pixel(0, 1));
  EXPECT_EQ(0xFFFFFFu, Pixel(3, 1));
}

TEST_F(D3DRaster, PointFilterTakesTheNearestTexel) {
  dev_->SetTexture(0, Texture(2, 1, {0xFF000000u, 0xFFFFFFFFu}));
  Draw(Quad(0, 0, 4, 1, 0xFFFFFFFFu));
  EXPECT_EQ(0u, Pixel(0, 0));
  EXPECT_EQ(0u, Pixel(1, 0));
  EXPECT_EQ(0xFFFFFFu, Pixel(2, 0));
  EXPECT_EQ(0xFFFFFFu, Pixel(3, 0));
}

TEST_F(D3DRaster, WrapRepeatsTheTextureBeyondOne) {
  dev_->SetTexture(0, Texture(2, 1, {0xFF0000FFu, 0xFF00FF00u}));
  Draw(Quad(0, 0, 6, 1, 0xFFFFFFFFu, 0, 0, 3, 1));
  for (int x = 0; x < 6; ++x) EXPECT_EQ(x % 2 ? 0x00FF00u : 0x0000FFu, Pixel(x, 0)) << x;
}

TEST_F(D3DRaster, PaddedTextureCornerShowsOnlyTheImage) {
  // A 3 x 3 image in the corner of a 4 x 4 texture drawn with u1 = v1 = 0.75: no padding bleeds in.
  std::vector<std::uint32_t> texels(16, 0x00000000u);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) texels[std::size_t(y * 4 + x)] = 0xFF112233u;
  dev_->SetTexture(0, Texture(4, 4, texels));
  Linear();
  Draw(Quad(30, 30, 33, 33, 0xFFFFFFFFu, 0, 0, 0.75f, 0.75f));
  for (int y = 30; y < 33; ++y)
    for (int x = 30; x < 33; ++x) EXPECT_EQ(0x112233u, Pixel(x, y)) << x << "," << y;
}

TEST_F(D3DRaster, StretchedTextureMatchesAnIndependentBilinearReference) {
  // Tolerance: 1 per channel. The device evaluates texture coordinates through per-triangle plane
  // equations in floating point; their last-bit rounding can move a weight by 1/256 against this reference.
  const int tw = 37, th = 23;
  std::mt19937 rng(99);
  std::vector<std::uint32_t> texels(std::size_t(tw * th));
  for (std::uint32_t& t : texels) t = std::uint32_t(rng()) | 0xFF000000u;
  dev_->SetTexture(0, Texture(tw, th, texels));
  Linear();
  const float u1 = 0.8f, v1 = 0.9f;
  const int L = 3, T = 2, R = 53, B = 33;
  Draw(Quad(L, T, R, B, 0xFFFFFFFFu, 0, 0, u1, v1));
  auto fixed = [](double t) { return std::int64_t(std::floor(t * 256.0 + 0.5)); };
  auto texel = [&](std::int64_t x, std::int64_t y) {
    x = ((x % tw) + tw) % tw;
    y = ((y % th) + th) % th;
    return texels[std::size_t(y * tw + x)];
  };
  for (int y = T; y < B; ++y)
    for (int x = L; x < R; ++x) {
      const double u = (x - (L - 0.5)) / (R - L) * u1, v = (y - (T - 0.5)) / (B - T) * v1;
      const std::int64_t tx = fixed(u * tw - 0.5), ty = fixed(v * th - 0.5);
      const std::int64_t x0 = tx >> 8, y0 = ty >> 8;
      const int fx = int(tx & 255), fy = int(ty & 255);
      const std::uint32_t got = Pixel(x, y);
      for (int shift : {0, 8, 16}) {
        auto ch = [&](std::int64_t cx, std::int64_t cy) { return int((texel(cx, cy) >> shift) & 0xFF); };
        const int expected = (ch(x0, y0) * (256 - fx) * (256 - fy) + ch(x0 + 1, y0) * fx * (256 - fy) +
                              ch(x0, y0 + 1) * (256 - fx) * fy + ch(x0 + 1, y0 + 1) * fx * fy + 32768) >>
                             16;
        EXPECT_NEAR(expected, int((got >> shift) & 0xFF), 1) << x << "," << y;
      }
    }
}

TEST_F(D3DRaster, SixteenBitTextureColoursAreExpandedToEightBits) {
  DDPIXELFORMAT pf{};
  pf.dwSize = sizeof(pf);
  pf.dwFlags = DDPF_RGB | DDPF_ALPHAPIXELS;
  pf.dwRGBBitCount = 16;
  pf.dwRBitMask = 0x0F00;
  pf.dwGBitMask = 0x00F0;
  pf.dwBBitMask = 0x000F;
  pf.dwRGBAlphaBitMask = 0xF000;
  IDirectDrawSurface7* tex = Surface(2, 1, DDSCAPS_TEXTURE, &pf);
  Set(tex, 0, 0, 0xF1F8);  // opaque: red 1 of 15, green 15, blue 8
  Set(tex, 1, 0, 0x0FFF);  // transparent white
  dev_->SetTexture(0, tex);
  FillRaw(target_, 0x000000);
  AlphaBlend();
  Draw(Quad(0, 0, 2, 1, 0xFFFFFFFFu));
  EXPECT_EQ(0x11FF88u, Pixel(0, 0));
  EXPECT_EQ(0x000000u, Pixel(1, 0));
  Set(tex, 0, 0, 0xF00F);  // changed pixels are seen by the next draw
  Draw(Quad(0, 0, 2, 1, 0xFFFFFFFFu));
  EXPECT_EQ(0x0000FFu, Pixel(0, 0));
}

// ---- Blending and targets ----

TEST_F(D3DRaster, AdditiveBlendClampsAtWhite) {
  FillRaw(target_, 0x806040);
  dev_->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, 1);
  dev_->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE);
  dev_->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ONE);
  Draw(Quad(0, 0, 1, 1, 0xFF90A0B0u));
  EXPECT_EQ(0xFFFFF0u, Pixel(0, 0));
}

TEST_F(D3DRaster, ZeroAndInverseSourceColourDarken) {
  FillRaw(target_, 0xFF8040);
  dev_->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, 1);
  dev_->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ZERO);
  dev_->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCCOLOR);
  Draw(Quad(0, 0, 1, 1, 0x00808080u));
  const int f = 255 - 0x80;
  EXPECT_EQ(std::uint32_t(RoundDiv255(0xFF * f)) << 16 | std::uint32_t(RoundDiv255(0x80 * f)) << 8 |
                std::uint32_t(RoundDiv255(0x40 * f)),
            Pixel(0, 0));
}

class D3DRaster16 : public DDrawFixture {
 protected:
  D3DRaster16() : DDrawFixture(16) {}
};

TEST_F(D3DRaster16, SixteenBitTargetBlendsThroughEightBitChannels) {
  void* p = nullptr;
  ASSERT_EQ(DD_OK, dd_->QueryInterface(IID_IDirect3D7, &p));
  auto* d3d = Keep(static_cast<IDirect3D7*>(p));
  IDirectDrawSurface7* target = Surface(4, 4, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE);
  IDirect3DDevice7* dev = nullptr;
  ASSERT_EQ(D3D_OK, d3d->CreateDevice(IID_IDirect3DHALDevice, target, &dev));
  Keep(dev);
  FillRaw(target, 0x001F);  // pure blue
  dev->SetTexture(0, Texture(1, 1, {0x80FF0000u}));
  dev->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, 1);
  dev->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
  dev->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
  const std::vector<D3DTLVERTEX> q = Quad(1, 1, 2, 2, 0xFFFFFFFFu);
  ASSERT_EQ(D3D_OK, dev->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, q.data(), 4, 0));
  const int r8 = RoundDiv255(255 * 128), b8 = RoundDiv255(255 * 127);
  const std::uint32_t expected =
      std::uint32_t((r8 * 31 + 127) / 255) << 11 | std::uint32_t((b8 * 31 + 127) / 255);
  EXPECT_EQ(expected, Get(target, 1, 1));
  EXPECT_EQ(0x001Fu, Get(target, 0, 0));
}

// ---- Fast path ----

TEST_F(D3DRaster, RenderersQuadTakesTheFastPath) {
  dev_->SetTexture(0, Texture(2, 2, {1, 2, 3, 4}));
  AlphaBlend();
  Draw(Quad(3, 3, 5, 5, 0xFFFFFFFFu));
  EXPECT_EQ(1u, soft().FastPathDraws());
  EXPECT_EQ(0u, soft().GeneralPathDraws());
}

TEST_F(D3DRaster, FastPathEqualsGeneralPathOnRandomQuads) {
  std::mt19937 rng(1234);
  auto uni = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
  auto pick = [&](int n) { return int(std::uniform_int_distribution<int>(0, n - 1)(rng)); };
  IDirectDrawSurface7* other =
      Surface(64, 48, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE | DDSCAPS_VIDEOMEMORY);
  for (int round = 0; round < 150; ++round) {
    const int tw = 1 + pick(20), th = 1 + pick(20);
    std::vector<std::uint32_t> texels(std::size_t(tw * th));
    for (std::uint32_t& t : texels) t = std::uint32_t(rng());
    if (pick(3) == 0)  // some texels fully transparent or opaque, as sprites have
      for (std::uint32_t& t : texels) t = (t & 0xFFFFFF) | (pick(2) ? 0xFF000000u : 0u);
    IDirectDrawSurface7* tex = nullptr;
    const DDPIXELFORMAT pf = ddtest::Argb8888();
    ASSERT_EQ(DD_OK, Create(DWORD(tw), DWORD(th), DDSCAPS_TEXTURE, &pf, &tex));
    for (int i = 0; i < tw * th; ++i) Set(tex, i % tw, i / tw, texels[std::size_t(i)]);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) {
        const std::uint32_t bg = std::uint32_t(rng()) & 0xFFFFFF;
        Set(target_, x, y, bg);
        Set(other, x, y, bg);
      }
    // Positions: whole, half or arbitrary fractions; some quads leave the target.
    const int kind = pick(3);
    auto coord = [&](double lo, double hi) {
      const double v = uni(lo, hi);
      return kind == 0 ? std::floor(v) - 0.5 : (kind == 1 ? std::floor(v * 2) / 2 : v);
    };
    const float x0 = float(coord(-10, 55)), y0 = float(coord(-10, 40));
    const float x1 = x0 + float(std::max(0.5, uni(0.2, 40))), y1 = y0 + float(std::max(0.5, uni(0.2, 30)));
    const float u0 = pick(2) ? 0.0f : float(uni(-1.5, 1.5)), v0 = pick(2) ? 0.0f : float(uni(-1.5, 1.5));
    const float u1 = pick(2) ? 1.0f : float(uni(-1.5, 2.5)), v1 = pick(2) ? 1.0f : float(uni(-1.5, 2.5));
    const D3DCOLOR diffuse = pick(2) ? 0xFFFFFFFFu : D3DCOLOR(rng());
    const std::vector<D3DTLVERTEX> q = {{x0, y0, 0, 1, diffuse, 0, u0, v0},
                                        {x1, y0, 0, 1, diffuse, 0, u1, v0},
                                        {x0, y1, 0, 1, diffuse, 0, u0, v1},
                                        {x1, y1, 0, 1, diffuse, 0, u1, v1}};
    dev_->SetTexture(0, tex);
    const DWORD filter = pick(2) ? D3DTFG_LINEAR : D3DTFG_POINT;
    dev_->SetTextureStageState(0, D3DTSS_MAGFILTER, filter);
    dev_->SetTextureStageState(0, D3DTSS_MINFILTER, filter);
    const DWORD address[3] = {D3DTADDRESS_WRAP, D3DTADDRESS_MIRROR, D3DTADDRESS_CLAMP};
    dev_->SetTextureStageState(0, D3DTSS_ADDRESSU, address[pick(3)]);
    dev_->SetTextureStageState(0, D3DTSS_ADDRESSV, address[pick(3)]);
    const DWORD ops[3] = {D3DTOP_MODULATE, D3DTOP_SELECTARG1, D3DTOP_SELECTARG2};
    const DWORD args[2] = {D3DTA_DIFFUSE, D3DTA_CURRENT};
    dev_->SetTextureStageState(0, D3DTSS_COLOROP, ops[pick(3)]);
    dev_->SetTextureStageState(0, D3DTSS_COLORARG2, args[pick(2)]);
    dev_->SetTextureStageState(0, D3DTSS_ALPHAOP, ops[pick(3)]);
    dev_->SetTextureStageState(0, D3DTSS_ALPHAARG2, args[pick(2)]);
    const int blend = pick(3);
    dev_->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, blend != 0);
    dev_->SetRenderState(D3DRENDERSTATE_SRCBLEND, blend == 1 ? D3DBLEND_SRCALPHA : D3DBLEND_ONE);
    dev_->SetRenderState(D3DRENDERSTATE_DESTBLEND, blend == 1 ? D3DBLEND_INVSRCALPHA : D3DBLEND_ZERO);

    const std::uint64_t fastBefore = soft().FastPathDraws();
    soft().SetFastPathEnabled(true);
    dev_->SetRenderTarget(target_, 0);
    ASSERT_EQ(D3D_OK, dev_->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, q.data(), 4, 0));
    ASSERT_EQ(fastBefore + 1, soft().FastPathDraws()) << "round " << round;
    soft().SetFastPathEnabled(false);
    dev_->SetRenderTarget(other, 0);
    ASSERT_EQ(D3D_OK, dev_->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, q.data(), 4, 0));
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x)
        ASSERT_EQ(Get(other, x, y), Get(target_, x, y))
            << "round " << round << " pixel " << x << "," << y << " quad " << x0 << "," << y0 << " - " << x1
            << "," << y1;
    dev_->SetTexture(0, nullptr);
    tex->Release();
  }
  soft().SetFastPathEnabled(true);
}

}  // namespace
