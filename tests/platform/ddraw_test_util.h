// Shared pieces of the DirectDraw / Direct3D tests: a soft platform with a DirectDraw object, surface
// helpers reading and writing pixels through Lock, and the renderer-style quad.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/DirectDraw.h"
#include "platform/common/SoftDirectDraw.h"
#include "platform/soft/SoftPlatform.h"

namespace ddtest {

using namespace plat;

inline DDPIXELFORMAT Argb8888() {
  DDPIXELFORMAT pf{};
  pf.dwSize = sizeof(pf);
  pf.dwFlags = DDPF_RGB | DDPF_ALPHAPIXELS;
  pf.dwRGBBitCount = 32;
  pf.dwRBitMask = 0xFF0000;
  pf.dwGBitMask = 0xFF00;
  pf.dwBBitMask = 0xFF;
  pf.dwRGBAlphaBitMask = 0xFF000000u;
  return pf;
}

inline DDPIXELFORMAT Rgb565() {
  DDPIXELFORMAT pf{};
  pf.dwSize = sizeof(pf);
  pf.dwFlags = DDPF_RGB;
  pf.dwRGBBitCount = 16;
  pf.dwRBitMask = 0xF800;
  pf.dwGBitMask = 0x07E0;
  pf.dwBBitMask = 0x001F;
  return pf;
}

class DDrawFixture : public ::testing::Test {
 protected:
  explicit DDrawFixture(int bpp = 32, int w = 320, int h = 200) {
    plat::soft::SoftOptions o;
    o.screenWidth = w;
    o.screenHeight = h;
    o.screenBitCount = bpp;
    platform_ = std::make_unique<plat::soft::SoftPlatform>(o);
    void* p = nullptr;
    EXPECT_EQ(DD_OK, soft().DirectDrawCreateEx(nullptr, &p, IID_IDirectDraw7, nullptr));
    dd_ = static_cast<IDirectDraw7*>(p);
    EXPECT_EQ(DD_OK, dd_->SetCooperativeLevel(nullptr, DDSCL_NORMAL));
  }
  ~DDrawFixture() override {
    for (IUnknown* o : owned_) o->Release();
    SafeRelease(dd_);
    EXPECT_EQ(0u, soft().LiveObjectCount());
  }

  plat::soft::SoftPlatform& platform() { return *platform_; }
  plat::soft::SoftDirectDraw& soft() { return platform_->ddraw(); }

  // Keeps a reference until the fixture ends.
  template <class T>
  T* Keep(T* o) {
    if (o) owned_.push_back(o);
    return o;
  }

  HRESULT Create(DWORD w, DWORD h, DWORD caps, const DDPIXELFORMAT* pf, IDirectDrawSurface7** out) {
    DDSURFACEDESC2 d{};
    d.dwSize = sizeof(d);
    d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | (pf ? DDSD_PIXELFORMAT : 0);
    d.dwWidth = w;
    d.dwHeight = h;
    d.ddsCaps.dwCaps = caps;
    if (pf) d.ddpfPixelFormat = *pf;
    return dd_->CreateSurface(&d, out, nullptr);
  }
  IDirectDrawSurface7* Surface(DWORD w, DWORD h, DWORD caps = DDSCAPS_OFFSCREENPLAIN,
                               const DDPIXELFORMAT* pf = nullptr) {
    IDirectDrawSurface7* s = nullptr;
    EXPECT_EQ(DD_OK, Create(w, h, caps, pf, &s));
    return Keep(s);
  }
  IDirectDrawSurface7* Primary() {
    DDSURFACEDESC2 d{};
    d.dwSize = sizeof(d);
    d.dwFlags = DDSD_CAPS;
    d.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    IDirectDrawSurface7* s = nullptr;
    EXPECT_EQ(DD_OK, dd_->CreateSurface(&d, &s, nullptr));
    return Keep(s);
  }
  // A texture holding ARGB pixels row by row.
  IDirectDrawSurface7* Texture(int w, int h, const std::vector<std::uint32_t>& argb) {
    const DDPIXELFORMAT pf = Argb8888();
    IDirectDrawSurface7* t = Surface(DWORD(w), DWORD(h), DDSCAPS_TEXTURE, &pf);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) Set(t, x, y, argb[std::size_t(y) * std::size_t(w) + std::size_t(x)]);
    return t;
  }

  // Raw pixel access through Lock (any depth).
  static std::uint32_t Get(IDirectDrawSurface7* s, int x, int y) {
    DDSURFACEDESC2 d{};
    d.dwSize = sizeof(d);
    EXPECT_EQ(DD_OK, s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr));
    const int bytes = int(d.ddpfPixelFormat.dwRGBBitCount / 8);
    std::uint32_t v = 0;
    std::memcpy(&v, static_cast<std::uint8_t*>(d.lpSurface) + y * d.lPitch + x * bytes, std::size_t(bytes));
    s->Unlock(nullptr);
    return v;
  }
  static void Set(IDirectDrawSurface7* s, int x, int y, std::uint32_t v) {
    DDSURFACEDESC2 d{};
    d.dwSize = sizeof(d);
    ASSERT_EQ(DD_OK, s->Lock(nullptr, &d, DDLOCK_WAIT, nullptr));
    const int bytes = int(d.ddpfPixelFormat.dwRGBBitCount / 8);
    std::memcpy(static_cast<std::uint8_t*>(d.lpSurface) + y * d.lPitch + x * bytes, &v, std::size_t(bytes));
    s->Unlock(nullptr);
  }
  static void FillRaw(IDirectDrawSurface7* s, std::uint32_t raw, const RECT* r = nullptr) {
    DDBLTFX fx{};
    fx.dwSize = sizeof(fx);
    fx.dwFillColor = raw;
    ASSERT_EQ(DD_OK, s->Blt(r, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx));
  }

  std::unique_ptr<plat::soft::SoftPlatform> platform_;
  IDirectDraw7* dd_ = nullptr;
  std::vector<IUnknown*> owned_;
};

// The renderer's quad: corners at (left - 0.5, top - 0.5) and (right - 0.5, bottom - 0.5), order TL, TR,
// BL, BR, texture corners (u0, v0) to (u1, v1).
inline std::vector<D3DTLVERTEX> Quad(float left, float top, float right, float bottom, D3DCOLOR diffuse,
                                     float u0 = 0, float v0 = 0, float u1 = 1, float v1 = 1) {
  auto vtx = [&](float x, float y, float u, float v) {
    return D3DTLVERTEX{x - 0.5f, y - 0.5f, 0.0f, 1.0f, diffuse, 0xFFFFFFFFu, u, v};
  };
  return {vtx(left, top, u0, v0), vtx(right, top, u1, v0), vtx(left, bottom, u0, v1),
          vtx(right, bottom, u1, v1)};
}

}  // namespace ddtest
