// The soft 3D device's quick way through the renderer's quad gives the same pixels as its general
// rasteriser: sprites mapped texel for texel, stretched backgrounds, textures without alpha, targets with
// and without alpha, and spans of every length around the vector block sizes.
#include <cmath>
#include <random>
#include <string>

#include "platform/ddraw_test_util.h"

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

// 16-bit render targets: 5-6-5, and 5-5-5 with its top bit unused.
DDPIXELFORMAT Rgb16(bool sixGreen) {
  DDPIXELFORMAT pf{};
  pf.dwSize = sizeof(pf);
  pf.dwFlags = DDPF_RGB;
  pf.dwRGBBitCount = 16;
  pf.dwRBitMask = sixGreen ? 0xF800 : 0x7C00;
  pf.dwGBitMask = sixGreen ? 0x07E0 : 0x03E0;
  pf.dwBBitMask = 0x001F;
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
    for (int k = 0; k < 2; ++k) {
      const DDPIXELFORMAT pf = Rgb16(k == 0);
      narrow_[k][0] = Surface(W, H, caps, &pf);
      narrow_[k][1] = Surface(W, H, caps, &pf);
    }
    ASSERT_EQ(D3D_OK, d3d_->CreateDevice(IID_IDirect3DHALDevice, plain_[0], &dev_));
    Keep(dev_);
  }
  void TearDown() override {
    soft().SetFastPathEnabled(true);
    soft().SetWideVectorsEnabled(true);
    soft().SetWidestVectorsEnabled(true);
    soft().SetQuadResultCacheEnabled(true);
  }

  // The fast path's vector widths, widest first: as wide as the processor goes, at most 256 bits, and the
  // family's common 128 bits (a processor without the wider units uses the next one down). Each width works
  // every quad out itself: none is copied from an earlier draw's result.
  template <class F>
  void ForEachVectorWidth(F&& f) {
    soft().SetQuadResultCacheEnabled(false);
    const bool settings[3][2] = {{true, true}, {true, false}, {false, false}};
    for (const auto& w : settings) {
      soft().SetWideVectorsEnabled(w[0]);
      soft().SetWidestVectorsEnabled(w[1]);
      f(std::string(w[1] ? "widest" : (w[0] ? "256-bit" : "128-bit")) + " vectors: ");
      if (HasFatalFailure()) return;
    }
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
  IDirectDrawSurface7* narrow_[2][2] = {};  // 5-6-5 and 5-5-5 targets
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

// ---- 16-bit targets ----

TEST_F(D3DFastQuad, SpritesOn16BitTargetsMatchGeneralPath) {
  SpriteState();
  for (auto& targets : narrow_) {
    SpritesOfEveryWidth(targets, 0xFFFFFFFFu, true);
    SpritesOfEveryWidth(targets, 0x80C0FF40u, true);
  }
}

TEST_F(D3DFastQuad, OpaquePicturesOn16BitTargetsMatchGeneralPath) {
  OpaqueState();
  for (auto& targets : narrow_) {
    for (D3DCOLOR diffuse : {0x00FFFFFFu, 0x80808080u}) SpritesOfEveryWidth(targets, diffuse, false);
    const int tw = 128, th = 64;
    std::vector<std::uint32_t> texels(std::size_t(tw * th));
    for (std::uint32_t& t : texels) t = std::uint32_t(rng_());
    dev_->SetTexture(0, MakeTexture(tw, th, texels, false));
    // Drawn three times: the second time the result cache keeps the pixels, the third it gives them.
    for (int round = 0; round < 3; ++round)
      ExpectSamePixels(targets, Quad(0, 0, float(W), float(H), 0x00FFFFFFu, 0, 0, 77.0f / tw, 61.0f / th),
                       "background " + std::to_string(round));
    dev_->SetTexture(0, nullptr);
    if (HasFatalFailure()) return;
  }
}

// Every alpha over random 16-bit pixels, in spans long enough for the vector blocks and their tails.
TEST_F(D3DFastQuad, EveryAlphaOver16BitPixelsMatchesGeneralPath) {
  SpriteState();
  const int tw = 64, th = 64;
  std::vector<std::uint32_t> texels(std::size_t(tw * th));
  for (std::size_t i = 0; i < texels.size(); ++i)
    texels[i] = std::uint32_t(i & 255) << 24 | (std::uint32_t(rng_()) & 0xFFFFFF);
  dev_->SetTexture(0, MakeTexture(tw, th, texels, true));
  for (auto& targets : narrow_)
    for (int w : {64, 61}) {
      ExpectSamePixels(targets, Quad(0, 0, float(w), float(th), 0xFFFFFFFFu, 0, 0, float(w) / tw, 1),
                       "width " + std::to_string(w));
      if (HasFatalFailure()) return;
    }
  dev_->SetTexture(0, nullptr);
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

// ---- Every vector width, and quads of any placement ----

TEST_F(D3DFastQuad, EveryVectorWidthMatchesGeneralPath) {
  ForEachVectorWidth([&](const std::string& what) {
    SpriteState();
    SpritesOfEveryWidth(plain_, 0xFFFFFFFFu, true);
    SpritesOfEveryWidth(alpha_, 0x80FFFFFFu, true);
    if (HasFatalFailure()) return;
    OpaqueState();
    const int tw = 128, th = 64;
    std::vector<std::uint32_t> texels(std::size_t(tw * th));
    for (std::uint32_t& t : texels) t = std::uint32_t(rng_());
    dev_->SetTexture(0, MakeTexture(tw, th, texels, false));
    // The wallpaper's case: the left column wraps into the padding at the texture's far edge.
    ExpectSamePixels(plain_, Quad(0, 0, float(W), float(H), 0x00FFFFFFu, 0, 0, 77.0f / tw, 61.0f / th),
                     what + "background");
    dev_->SetTexture(0, nullptr);
  });
}

// Stretched and shrunk quads at fractional places, partly outside the target, with mirrored and repeated
// texture coordinates and every address mode the fast path takes.
TEST_F(D3DFastQuad, RandomStretchedQuadsMatchGeneralPath) {
  std::uniform_real_distribution<float> place(-30.0f, float(W) + 10.0f), size(1.0f, 90.0f),
      coord(-1.5f, 2.5f);
  const DWORD modes[] = {D3DTADDRESS_WRAP, D3DTADDRESS_MIRROR, D3DTADDRESS_CLAMP};
  ForEachVectorWidth([&](const std::string& what) {
    for (int round = 0; round < 40; ++round) {
      if (round % 2)
        SpriteState();
      else
        OpaqueState();
      dev_->SetTextureStageState(0, D3DTSS_ADDRESSU, modes[rng_() % 3]);
      dev_->SetTextureStageState(0, D3DTSS_ADDRESSV, modes[rng_() % 3]);
      const int tw = 1 << (rng_() % 7), th = 1 << (rng_() % 7);
      dev_->SetTexture(0, MakeTexture(tw, th, SpriteTexels(tw, th), round % 3 != 0));
      const float x = std::round(place(rng_) * 4) / 4, y = std::round(place(rng_) * 4) / 4;
      const float w = std::round(size(rng_) * 8) / 8, h = std::round(size(rng_) * 8) / 8;
      const float u0 = coord(rng_), v0 = coord(rng_), u1 = coord(rng_), v1 = coord(rng_);
      ExpectSamePixels(round % 4 < 2 ? plain_ : alpha_, Quad(x, y, x + w, y + h, 0xFFFFFFFFu, u0, v0, u1, v1),
                       what + "round " + std::to_string(round));
      dev_->SetTexture(0, nullptr);
      if (HasFatalFailure()) return;
    }
    dev_->SetTextureStageState(0, D3DTSS_ADDRESS, D3DTADDRESS_WRAP);
  });
}

// A quad drawn again elsewhere reuses what was worked out for it; a sub-pixel shift must not.
TEST_F(D3DFastQuad, SpriteRedrawnAtOtherPlacesMatchesGeneralPath) {
  SpriteState();
  const int tw = 32, th = 32;
  dev_->SetTexture(0, MakeTexture(tw, th, SpriteTexels(tw, th), true));
  const float places[][2] = {{10, 10}, {30, 20}, {10.25f, 10}, {10, 10.5f}, {-5, 40}, {60, 50}, {10, 10}};
  for (const auto& p : places) {
    ExpectSamePixels(alpha_,
                     Quad(p[0], p[1], p[0] + 21, p[1] + 17, 0xFFFFFFFFu, 0, 0, 21.0f / tw, 17.0f / th),
                     "at " + std::to_string(p[0]) + "," + std::to_string(p[1]));
    if (HasFatalFailure()) return;
  }
  dev_->SetTexture(0, nullptr);
}

// More different quads than the device remembers, twice over: forgotten ones are worked out again.
TEST_F(D3DFastQuad, ManyDifferentQuadsInTurnMatchGeneralPath) {
  OpaqueState();
  const int tw = 64, th = 64;
  std::vector<std::uint32_t> texels(std::size_t(tw * th));
  for (std::uint32_t& t : texels) t = std::uint32_t(rng_());
  dev_->SetTexture(0, MakeTexture(tw, th, texels, false));
  for (int pass = 0; pass < 2; ++pass)
    for (int k = 1; k <= 24; ++k) {
      ExpectSamePixels(plain_, Quad(3, 2, float(3 + 2 * k), float(2 + k), 0x00FFFFFFu, 0, 0, 0.5f, 0.25f),
                       "quad " + std::to_string(k));
      if (HasFatalFailure()) return;
    }
  dev_->SetTexture(0, nullptr);
}

// ---- A large opaque quad drawn again ----

class D3DFastQuadRepeat : public D3DFastQuad {
 protected:
  static constexpr int TW = 128, TH = 64;
  std::vector<std::uint32_t> RandomTexels() {
    std::vector<std::uint32_t> texels(std::size_t(TW * TH));
    for (std::uint32_t& t : texels) t = std::uint32_t(rng_());
    return texels;
  }
  // The wallpaper's draw: the whole target, filtered both ways.
  void ExpectBackgroundMatches(const std::string& what) {
    ExpectSamePixels(plain_, Quad(0, 0, float(W), float(H), 0x00FFFFFFu, 0, 0, 77.0f / TW, 61.0f / TH), what);
  }
};

TEST_F(D3DFastQuadRepeat, SameQuadDrawnAgainMatchesGeneralPath) {
  OpaqueState();
  dev_->SetTexture(0, MakeTexture(TW, TH, RandomTexels(), false));
  for (int i = 0; i < 3; ++i) {
    ExpectBackgroundMatches("draw " + std::to_string(i));
    if (HasFatalFailure()) return;
  }
  dev_->SetTexture(0, nullptr);
}

TEST_F(D3DFastQuadRepeat, ResultKeptFromA565TargetIsNotGivenToA555Target) {
  OpaqueState();
  dev_->SetTexture(0, MakeTexture(TW, TH, RandomTexels(), false));
  const auto q = Quad(0, 0, float(W), float(H), 0x00FFFFFFu, 0, 0, 77.0f / TW, 61.0f / TH);
  for (int i = 0; i < 2; ++i) ExpectSamePixels(narrow_[0], q, "5-6-5 draw " + std::to_string(i));
  ExpectSamePixels(narrow_[1], q, "5-5-5 draw after the 5-6-5 ones");
  dev_->SetTexture(0, nullptr);
}

TEST_F(D3DFastQuadRepeat, TexelWrittenThroughLockShowsInNextDraw) {
  OpaqueState();
  IDirectDrawSurface7* tex = MakeTexture(TW, TH, RandomTexels(), false);
  dev_->SetTexture(0, tex);
  ExpectBackgroundMatches("before");
  ExpectBackgroundMatches("before, kept");
  Set(tex, 40, 30, 0x00123456u);
  ExpectBackgroundMatches("after one texel changed");
  dev_->SetTexture(0, nullptr);
}

TEST_F(D3DFastQuadRepeat, TextureFilledByBlitShowsInNextDraw) {
  OpaqueState();
  IDirectDrawSurface7* tex = MakeTexture(TW, TH, RandomTexels(), false);
  dev_->SetTexture(0, tex);
  ExpectBackgroundMatches("before");
  ExpectBackgroundMatches("before, kept");
  const RECT r{10, 10, 50, 40};
  FillRaw(tex, 0x00ABCDEFu, &r);
  ExpectBackgroundMatches("after the fill");
  dev_->SetTexture(0, nullptr);
}

// A texture made where a released one was is another texture, however alike.
TEST_F(D3DFastQuadRepeat, NewTextureOfSameSizeIsDrawnAfresh) {
  OpaqueState();
  for (int round = 0; round < 3; ++round) {
    const DDPIXELFORMAT pf = Xrgb8888();
    IDirectDrawSurface7* tex = nullptr;
    ASSERT_EQ(DD_OK, Create(TW, TH, DDSCAPS_TEXTURE, &pf, &tex));
    const std::vector<std::uint32_t> texels = RandomTexels();
    for (int i = 0; i < TW * TH; ++i) Set(tex, i % TW, i / TW, texels[std::size_t(i)]);
    dev_->SetTexture(0, tex);
    ExpectBackgroundMatches("texture " + std::to_string(round));
    dev_->SetTexture(0, nullptr);
    tex->Release();
    if (HasFatalFailure()) return;
  }
}

TEST_F(D3DFastQuadRepeat, SameQuadWithOtherTextureOrPlaceMatchesGeneralPath) {
  OpaqueState();
  IDirectDrawSurface7* a = MakeTexture(TW, TH, RandomTexels(), false);
  IDirectDrawSurface7* b = MakeTexture(TW, TH, RandomTexels(), false);
  dev_->SetTexture(0, a);
  ExpectBackgroundMatches("first texture");
  ExpectBackgroundMatches("first texture, kept");
  dev_->SetTexture(0, b);
  ExpectBackgroundMatches("second texture");
  ExpectBackgroundMatches("second texture, kept");
  // Moved by whole pixels, the quad has the same layout; the copy must land at the new place.
  ExpectSamePixels(plain_, Quad(3, 2, float(W + 3), float(H + 2), 0x00FFFFFFu, 0, 0, 77.0f / TW, 61.0f / TH),
                   "moved");
  dev_->SetTexture(0, nullptr);
}

// Frames as the program draws them: the wallpaper (from the third frame on copied from the device's last
// result, kept on the second), then sprites, again and again, onto the same target. Between frames the target
// may be changed by other means; the next wallpaper must cover that too.
class D3DFastQuadFrames : public D3DFastQuadRepeat {
 protected:
  enum class Between { kNothing, kLockedWrite, kColourFill, kGeneralDraw, kOtherTarget };

  void SetUp() override {
    D3DFastQuadRepeat::SetUp();
    wallpaper_ = MakeTexture(TW, TH, RandomTexels(), false);
    sprite_ = MakeTexture(16, 16, SpriteTexels(16, 16), true);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const std::uint32_t bg = std::uint32_t(rng_());
        Set(plain_[0], x, y, bg);
        Set(plain_[1], x, y, bg);
      }
  }
  // The quad drawn the quick way onto plain_[0] and the general way onto plain_[1].
  void DrawOnBoth(const std::vector<D3DTLVERTEX>& q, D3DPRIMITIVETYPE type = D3DPT_TRIANGLESTRIP) {
    for (int k = 0; k < 2; ++k) {
      soft().SetFastPathEnabled(k == 0);
      ASSERT_EQ(D3D_OK, dev_->SetRenderTarget(plain_[k], 0));
      ASSERT_EQ(D3D_OK, dev_->DrawPrimitive(type, D3DFVF_TLVERTEX, q.data(), DWORD(q.size()), 0));
    }
    soft().SetFastPathEnabled(true);
  }
  void Frame() {
    OpaqueState();
    dev_->SetTexture(0, wallpaper_);
    DrawOnBoth(Quad(0, 0, float(W), float(H), 0x00FFFFFFu, 0, 0, 77.0f / TW, 61.0f / TH));
    SpriteState();
    dev_->SetTexture(0, sprite_);
    for (int i = 0; i < 12; ++i) {
      const float x = float(int(rng_() % (W + 16)) - 12), y = float(int(rng_() % (H + 16)) - 12);
      DrawOnBoth(Quad(x, y, x + 11, y + 13, 0xFFFFFFFFu, 0, 0, 11.0f / 16, 13.0f / 16));
    }
    dev_->SetTexture(0, nullptr);
  }
  void Change(Between what) {
    switch (what) {
      case Between::kNothing:
        break;
      case Between::kLockedWrite:
        for (IDirectDrawSurface7* t : plain_)
          Set(t, 1 + int(rng_() % (W - 2)), 1 + int(rng_() % (H - 2)), 0x00FF00FFu);
        break;
      case Between::kColourFill: {
        const RECT r{5, 7, 30, 22};
        for (IDirectDrawSurface7* t : plain_) FillRaw(t, 0x00102030u, &r);
        break;
      }
      case Between::kGeneralDraw: {
        // An untextured triangle: the general path draws it on both targets.
        dev_->SetTexture(0, nullptr);
        OpaqueState();
        const std::vector<D3DTLVERTEX> tri = {{10, 10, 0, 1, 0xFF00FF00u, 0, 0, 0},
                                              {60, 20, 0, 1, 0xFF00FF00u, 0, 0, 0},
                                              {20, 50, 0, 1, 0xFF00FF00u, 0, 0, 0}};
        dev_->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
        DrawOnBoth(tri, D3DPT_TRIANGLELIST);
        dev_->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CCW);
        break;
      }
      case Between::kOtherTarget:
        // Quick draws elsewhere leave this target as it was.
        SpriteState();
        dev_->SetTexture(0, sprite_);
        ASSERT_EQ(D3D_OK, dev_->SetRenderTarget(alpha_[0], 0));
        {
          const std::vector<D3DTLVERTEX> q = Quad(4, 4, 15, 17, 0xFFFFFFFFu, 0, 0, 11.0f / 16, 13.0f / 16);
          ASSERT_EQ(D3D_OK, dev_->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, q.data(), 4, 0));
        }
        dev_->SetTexture(0, nullptr);
        break;
    }
  }
  // Compared after the last frame: whatever any frame left wrong shows there, as nothing is read between.
  void ExpectSameFrames(Between between, const std::string& what) {
    for (int frame = 0; frame < 6; ++frame) {
      if (frame > 0) Change(between);
      Frame();
      if (HasFatalFailure()) return;
    }
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        ASSERT_EQ(Get(plain_[1], x, y), Get(plain_[0], x, y)) << what << ", pixel " << x << "," << y;
  }

  IDirectDrawSurface7* wallpaper_ = nullptr;
  IDirectDrawSurface7* sprite_ = nullptr;
};

TEST_F(D3DFastQuadFrames, FramesMatchGeneralPath) {
  ExpectSameFrames(Between::kNothing, "frames");
}

TEST_F(D3DFastQuadFrames, PixelWrittenThroughLockBetweenFramesIsCovered) {
  ExpectSameFrames(Between::kLockedWrite, "locked write");
}

TEST_F(D3DFastQuadFrames, ColourFillBetweenFramesIsCovered) {
  ExpectSameFrames(Between::kColourFill, "colour fill");
}

TEST_F(D3DFastQuadFrames, GeneralDrawBetweenFramesIsCovered) {
  ExpectSameFrames(Between::kGeneralDraw, "general draw");
}

TEST_F(D3DFastQuadFrames, DrawsOnAnotherTargetBetweenFramesChangeNothing) {
  ExpectSameFrames(Between::kOtherTarget, "other target");
}

TEST_F(D3DFastQuadRepeat, WithoutResultCacheSamePixels) {
  soft().SetQuadResultCacheEnabled(false);
  OpaqueState();
  dev_->SetTexture(0, MakeTexture(TW, TH, RandomTexels(), false));
  ExpectBackgroundMatches("first");
  ExpectBackgroundMatches("second");
  dev_->SetTexture(0, nullptr);
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
