// The soft 3D device's quick way through the renderer's quad gives the same pixels as its general
// rasteriser: sprites mapped texel for texel, stretched backgrounds, textures without alpha, targets with
// and without alpha, and spans of every length around the vector block sizes.
#include <random>
#include <string>

#include "tests/platform/ddraw_test_util.h"

using namespace plat;
using ddtest::DDrawFixture;
using ddtest::Quad;

namespace {

DDPIXELFORMAT Xrgb8888() {
  DDPIXELFORMAT pf = ddtest::Argb8888();
  pf.dwFlags = DDPF_RGB;
  pf.dwRGBAlphaBitMask = 0;
  return pf;
}

class D3DFastQuad : public DDrawFixture {
 protected:
  static constexpr int W = 80, H = 60;

  void SetUp() override {
    void* p = nullptr;
    ASSERT_EQ(DD_OK, dd_->QueryInterface(IID_IDirect3D7, &p));
    d3d_ = Keep(static_cast<IDirect3D7*>(p));
    const DWORD caps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE | DDSCAPS_VIDEOMEMORY;
    const DDPIXELFORMAT argb = ddtest::Argb8888();
    plain_[0] = Surface(W, H, caps);
    plain_[1] = Surface(W, H, caps);
    alpha_[0] = Surface(W, H, caps, &argb);
    alpha_[1] = Surface(W, H, caps, &argb);
    ASSERT_EQ(D3D_OK, d3d_->CreateDevice(IID_IDirect3DHALDevice, plain_[0], &dev_));
    Keep(dev_);
  }
  void TearDown() override {
    soft().SetFastPathEnabled(true);
    soft().SetWideVectorsEnabled(true);
  }

  // The renderer's sprite state: texel colour times diffuse, alpha blended by source alpha.
  void SpriteState(DWORD filter = D3DTFG_LINEAR) {
    dev_->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, 1);
    dev_->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
    dev_->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
    dev_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    dev_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    dev_->SetTextureStageState(0, D3DTSS_MAGFILTER, filter);
    dev_->SetTextureStageState(0, D3DTSS_MINFILTER, filter);
  }
  // The renderer's opaque picture state: no blending, alpha from the diffuse colour's zero.
  void OpaqueState() {
    SpriteState();
    dev_->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, 0);
    dev_->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE);
  }

  IDirectDrawSurface7* MakeTexture(int w, int h, const std::vector<std::uint32_t>& texels, bool withAlpha) {
    const DDPIXELFORMAT pf = withAlpha ? ddtest::Argb8888() : Xrgb8888();
    IDirectDrawSurface7* t = Surface(DWORD(w), DWORD(h), DDSCAPS_TEXTURE, &pf);
    for (int i = 0; i < w * h; ++i) Set(t, i % w, i / w, texels[std::size_t(i)]);
    return t;
  }
  // Sprite-like alpha: runs of clear, solid and partial texels.
  std::vector<std::uint32_t> SpriteTexels(int w, int h) {
    std::vector<std::uint32_t> t(std::size_t(w) * std::size_t(h));
    for (std::uint32_t& v : t) {
      const int kind = int(rng_() % 4);
      const std::uint32_t a = kind == 0 ? 0u : (kind == 1 ? 255u : std::uint32_t(rng_() % 256));
      v = a << 24 | (std::uint32_t(rng_()) & 0xFFFFFF);
    }
    for (int run = 0; run < 3; ++run) {  // long clear runs, as around a snowflake
      const std::size_t at = std::size_t(rng_()) % t.size(), len = std::size_t(rng_() % 12);
      for (std::size_t i = at; i < std::min(t.size(), at + len); ++i) t[i] &= 0x00FFFFFFu;
    }
    return t;
  }

  // Draws q with the quick way onto targets[0] and the general way onto targets[1] over the same random
  // background (unused alpha bytes included) and expects the same raw pixels.
  void ExpectSamePixels(IDirectDrawSurface7* const* targets, const std::vector<D3DTLVERTEX>& q,
                        const std::string& what) {
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const std::uint32_t bg = std::uint32_t(rng_());
        Set(targets[0], x, y, bg);
        Set(targets[1], x, y, bg);
      }
    const std::uint64_t fast = soft().FastPathDraws();
    soft().SetFastPathEnabled(true);
    ASSERT_EQ(D3D_OK, dev_->SetRenderTarget(targets[0], 0));
    ASSERT_EQ(D3D_OK, dev_->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, q.data(), 4, 0));
    ASSERT_EQ(fast + 1, soft().FastPathDraws()) << what;
    soft().SetFastPathEnabled(false);
    ASSERT_EQ(D3D_OK, dev_->SetRenderTarget(targets[1], 0));
    ASSERT_EQ(D3D_OK, dev_->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, q.data(), 4, 0));
    soft().SetFastPathEnabled(true);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        ASSERT_EQ(Get(targets[1], x, y), Get(targets[0], x, y)) << what << " pixel " << x << "," << y;
  }

  // Sprites of every width from 1 to 37 drawn texel for texel at whole-pixel places, some clipped.
  void SpritesOfEveryWidth(IDirectDrawSurface7* const* targets, D3DCOLOR diffuse, bool textureAlpha) {
    for (int w = 1; w <= 37; ++w) {
      const int h = 1 + int(rng_() % 9);
      const int tw = 64, th = 16;  // padded as the renderer pads, the picture in the top-left corner
      std::vector<std::uint32_t> texels = SpriteTexels(tw, th);
      IDirectDrawSurface7* tex = MakeTexture(tw, th, texels, textureAlpha);
      dev_->SetTexture(0, tex);
      const int x = int(rng_() % (W + 20)) - 10, y = int(rng_() % (H + 8)) - 4;
      const float u1 = float(w) / tw, v1 = float(h) / th;
      ExpectSamePixels(targets, Quad(float(x), float(y), float(x + w), float(y + h), diffuse, 0, 0, u1, v1),
                       "width " + std::to_string(w) + " at " + std::to_string(x) + "," + std::to_string(y));
      dev_->SetTexture(0, nullptr);
      if (HasFatalFailure()) return;
    }
  }

  std::mt19937 rng_{20240611};
  IDirect3D7* d3d_ = nullptr;
  IDirect3DDevice7* dev_ = nullptr;
  IDirectDrawSurface7* plain_[2] = {};
  IDirectDrawSurface7* alpha_[2] = {};
};

// ---- Sprites mapped texel for texel ----

TEST_F(D3DFastQuad, SpritesOnTargetWithoutAlphaMatchGeneralPath) {
  SpriteState();
  SpritesOfEveryWidth(plain_, 0xFFFFFFFFu, true);
}

TEST_F(D3DFastQuad, SpritesOnTargetWithAlphaMatchGeneralPath) {
  SpriteState();
  SpritesOfEveryWidth(alpha_, 0xFFFFFFFFu, true);
}

TEST_F(D3DFastQuad, FadedTintedSpritesMatchGeneralPath) {
  SpriteState();
  SpritesOfEveryWidth(plain_, 0x80C0FF40u, true);
  SpritesOfEveryWidth(alpha_, 0x3FFFFFFFu, true);
}

TEST_F(D3DFastQuad, SpritesWithPointFilterMatchGeneralPath) {
  SpriteState(D3DTFG_POINT);
  SpritesOfEveryWidth(plain_, 0xFFFFFFFFu, true);
}

TEST_F(D3DFastQuad, BlendedTextureWithoutAlphaIsStoredOpaque) {
  SpriteState();
  SpritesOfEveryWidth(plain_, 0xFFFFFFFFu, false);
  SpritesOfEveryWidth(alpha_, 0xFFFFFFFFu, false);
}

TEST_F(D3DFastQuad, OpaqueSpritesMatchGeneralPath) {
  OpaqueState();
  for (D3DCOLOR diffuse : {0x00FFFFFFu, 0xFFFFFFFFu, 0x80808080u}) {
    SpritesOfEveryWidth(plain_, diffuse, true);
    SpritesOfEveryWidth(alpha_, diffuse, false);
  }
}

// ---- Stretched pictures ----

// A padded picture slightly narrower and taller than the quad it fills, as the wallpaper is: filtered
// both ways, the left column wrapping into the padding.
TEST_F(D3DFastQuad, StretchedBackgroundMatchesGeneralPath) {
  for (bool textureAlpha : {false, true})
    for (int targetKind = 0; targetKind < 2; ++targetKind) {
      OpaqueState();
      const int pw = 76, ph = 64, tw = 128, th = 64;
      std::vector<std::uint32_t> texels(std::size_t(tw * th));
      for (std::uint32_t& t : texels) t = std::uint32_t(rng_());
      dev_->SetTexture(0, MakeTexture(tw, th, texels, textureAlpha));
      ExpectSamePixels(
          targetKind ? alpha_ : plain_,
          Quad(0, 0, float(W - 1), float(H - 1), 0x00FFFFFFu, 0, 0, float(pw) / tw, float(ph) / th),
          "background");
      dev_->SetTexture(0, nullptr);
      if (HasFatalFailure()) return;
    }
}

// The processor's widest vectors are optional: without them the pixels are the same.
TEST_F(D3DFastQuad, NarrowVectorsMatchGeneralPath) {
  soft().SetWideVectorsEnabled(false);
  SpriteState();
  SpritesOfEveryWidth(plain_, 0xFFFFFFFFu, true);
  OpaqueState();
  const int tw = 128, th = 64;
  std::vector<std::uint32_t> texels(std::size_t(tw * th));
  for (std::uint32_t& t : texels) t = std::uint32_t(rng_());
  dev_->SetTexture(0, MakeTexture(tw, th, texels, false));
  ExpectSamePixels(plain_, Quad(0, 0, float(W - 1), float(H - 1), 0x00FFFFFFu, 0, 0, 76.0f / tw, 64.0f / th),
                   "background");
  dev_->SetTexture(0, nullptr);
}

TEST_F(D3DFastQuad, MirroredAndMagnifiedSpritesMatchGeneralPath) {
  for (DWORD filter : {D3DTFG_LINEAR, D3DTFG_POINT})
    for (int round = 0; round < 12; ++round) {
      SpriteState(filter);
      const int tw = 16, th = 16;
      dev_->SetTexture(0, MakeTexture(tw, th, SpriteTexels(tw, th), true));
      const float x = float(int(rng_() % 40)), y = float(int(rng_() % 30));
      const float w = float(1 + rng_() % 39), h = float(1 + rng_() % 29);
      const bool mirror = round % 2 != 0;
      ExpectSamePixels(
          round % 3 ? plain_ : alpha_,
          Quad(x, y, x + w, y + h, 0xFFFFFFFFu, mirror ? 0.75f : 0.0f, 0, mirror ? 0.0f : 0.75f, 1),
          "round " + std::to_string(round));
      dev_->SetTexture(0, nullptr);
      if (HasFatalFailure()) return;
    }
}

// ---- Blend arithmetic against an independent statement ----

// Every alpha from 0 to 255 over a known colour: round((s * a + d * (255 - a)) / 255) per channel, and the
// target's unused byte cleared, in spans long enough for the vector blocks.
TEST_F(D3DFastQuad, EveryAlphaBlendsWithRoundedArithmetic) {
  SpriteState();
  const int tw = 256;
  std::vector<std::uint32_t> texels(tw);
  for (int a = 0; a < tw; ++a) texels[std::size_t(a)] = std::uint32_t(a) << 24 | 0xF08010u;
  dev_->SetTexture(0, MakeTexture(tw, 1, texels, true));
  const DWORD caps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE | DDSCAPS_VIDEOMEMORY;
  IDirectDrawSurface7* wide = Surface(tw, 1, caps);
  ASSERT_EQ(D3D_OK, dev_->SetRenderTarget(wide, 0));
  for (int x = 0; x < tw; ++x) Set(wide, x, 0, 0xAB20C0FFu);
  const std::vector<D3DTLVERTEX> q = Quad(0, 0, float(tw), 1, 0xFFFFFFFFu);
  ASSERT_EQ(D3D_OK, dev_->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, q.data(), 4, 0));
  auto mix = [](int s, int d, int a) { return std::uint32_t((s * a + d * (255 - a) + 127) / 255); };
  for (int a = 0; a < tw; ++a) {
    const std::uint32_t expected = mix(0xF0, 0x20, a) << 16 | mix(0x80, 0xC0, a) << 8 | mix(0x10, 0xFF, a);
    ASSERT_EQ(expected, Get(wide, a, 0)) << "alpha " << a;
  }
}

}  // namespace
