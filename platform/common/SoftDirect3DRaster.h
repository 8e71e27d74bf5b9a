// Arithmetic, texture sampling and triangle setup of the soft Direct3D device, shared by the general
// rasteriser (SoftDirect3DRaster.cpp) and the fast quad path (SoftDirect3DQuad.cpp): both paths set up the
// same triangles with the same functions, so both give the same pixels.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/common/SoftDirectDrawInternal.h"

// DS_SOFT3D_PORTABLE keeps the rasteriser to plain C++ (to check it gives the same pixels).
#if defined(__SSE2__) && !defined(DS_SOFT3D_PORTABLE)
#define DS_SOFT3D_SSE2 1
#endif
// The 256-bit and 512-bit kernels, used where the processor has the units (checked at run time).
#if defined(DS_SOFT3D_SSE2) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define DS_SOFT3D_AVX2 1
#endif

namespace plat::soft::dd {

// ---- Rasteriser arithmetic ----

// round(x / 255) for 0 <= x <= 65025 (exhaustively the same as (x + 127) / 255 there).
inline int Div255(int x) {
  const int t = x + 128;
  return (t + (t >> 8)) >> 8;
}
inline int Mul255(int a, int b) {
  return Div255(a * b);
}
inline int Clamp255(int v) {
  return v < 0 ? 0 : (v > 255 ? 255 : v);
}

struct Rgba {
  int a, r, g, b;
};
inline Rgba Unpack(DWORD c) {
  return {int(c >> 24), int((c >> 16) & 0xFF), int((c >> 8) & 0xFF), int(c & 0xFF)};
}
inline DWORD Pack(const Rgba& c) {
  return (DWORD(c.a) << 24) | (DWORD(c.r) << 16) | (DWORD(c.g) << 8) | DWORD(c.b);
}

// Bilinear blend of four ARGB texels with 8-bit weights fx, fy (0..255), rounded to nearest.
inline DWORD Bilerp(DWORD c00, DWORD c10, DWORD c01, DWORD c11, int fx, int fy) {
  if ((fx | fy) == 0) return c00;
  DWORD out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const int a = int((c00 >> shift) & 0xFF), b = int((c10 >> shift) & 0xFF);
    const int c = int((c01 >> shift) & 0xFF), d = int((c11 >> shift) & 0xFF);
    const int top = a * (256 - fx) + b * fx;
    const int bottom = c * (256 - fx) + d * fx;
    out |= DWORD((top * (256 - fy) + bottom * fy + 32768) >> 16) << shift;
  }
  return out;
}

inline std::int64_t WrapIndex(std::int64_t i, int n, DWORD mode, bool& border) {
  if (i >= 0 && i < n) return i;  // inside the texture every mode leaves the index as it is
  switch (mode) {
    case D3DTADDRESS_MIRROR: {
      const std::int64_t period = 2 * std::int64_t(n);
      std::int64_t k = i % period;
      if (k < 0) k += period;
      return k < n ? k : period - 1 - k;
    }
    case D3DTADDRESS_CLAMP:
      return std::min<std::int64_t>(std::max<std::int64_t>(i, 0), n - 1);
    case D3DTADDRESS_BORDER:
      if (i < 0 || i >= n) border = true;
      return std::min<std::int64_t>(std::max<std::int64_t>(i, 0), n - 1);
    default: {  // wrap
      std::int64_t k = i % n;
      return k < 0 ? k + n : k;
    }
  }
}

// An attribute's plane over one triangle: q(x, y) = q0 + dqdx * (x - xa) + dqdy * (y - ya).
struct Plane {
  double q0 = 0, dqdx = 0, dqdy = 0, xa = 0, ya = 0;
};

// Kept out of line (SoftDirect3DRaster.cpp) so every caller evaluates with the same instructions (no
// contraction differences).
double EvalPlane(const Plane& p, double x, double y);

// Texel coordinate of texture coordinate t on a texture of n texels, in 1/256 texel (texel centres at
// (i + 0.5) / n, so t * n - 0.5), rounded to nearest.
std::int64_t TexelFixed(const Plane& p, double x, double y, int n);

// Vertex positions are snapped to 1/256 pixel (kSubpixel) so coverage tests are exact integer arithmetic:
// neighbouring triangles share their edge pixels without gaps or double hits.
constexpr double kSubpixel = 256.0;
constexpr double kMaxCoordinate = 2097152.0;  // 2^21 pixels; triangles reaching beyond are not drawn

struct Vertex {
  double x, y;          // snapped position
  std::int64_t fx, fy;  // the same in 1/256 pixel
  bool valid;           // finite and within kMaxCoordinate
  DWORD diffuse, specular;
  double u[D3DMAXTEXTURESTAGES], v[D3DMAXTEXTURESTAGES];
};

struct Edge {
  std::int64_t xi, yi, dx, dy;  // 1/256 pixel
  bool inclusive;
  // Pixel (px, py) is sampled at its integer position. Magnitudes stay below 2^31, products below 2^62.
  bool Inside(int px, int py) const {
    const std::int64_t e = dx * (std::int64_t(py) * 256 - yi) - dy * (std::int64_t(px) * 256 - xi);
    return e > 0 || (e == 0 && inclusive);
  }
};

// Twice the signed area in 1/65536 pixel^2; positive for clockwise vertices on the screen (y downwards).
inline std::int64_t Det(const Vertex& a, const Vertex& b, const Vertex& c) {
  return (b.fx - a.fx) * (c.fy - a.fy) - (c.fx - a.fx) * (b.fy - a.fy);
}

// One sampled texture as the rasteriser sees it.
struct Sampler {
  SurfaceImpl* surface = nullptr;
  const std::uint8_t* bits = nullptr;  // ARGB words (raw memory or the surface's converted copy)
  std::size_t pitch = 0;               // bytes per row of bits
  int w = 0, h = 0;
  DWORD opaqueMask = 0;  // ORed into every texel of a format without alpha
  DWORD addrU = D3DTADDRESS_WRAP, addrV = D3DTADDRESS_WRAP;
  DWORD border = 0;
  bool linearMag = false, linearMin = false;
  bool keyed = false;
  DDCOLORKEY key{};
  DWORD keyMask = 0xFFFFFFFFu;

  DWORD Texel(std::int64_t x, std::int64_t y) const {
    bool outside = false;
    const std::int64_t ix = WrapIndex(x, w, addrU, outside);
    const std::int64_t iy = WrapIndex(y, h, addrV, outside);
    if (outside) return border;
    DWORD c;
    std::memcpy(&c, bits + std::size_t(iy) * pitch + std::size_t(ix) * 4, 4);
    return c | opaqueMask;
  }
  bool KeyedOut(std::int64_t x, std::int64_t y) const {
    bool outside = false;
    const std::int64_t ix = WrapIndex(x, w, addrU, outside);
    const std::int64_t iy = WrapIndex(y, h, addrV, outside);
    if (outside) return false;
    const int bytes = surface->format.bpp / 8;
    const DWORD raw =
        ReadRaw(surface->Row(int(iy)) + std::size_t(ix) * std::size_t(bytes), surface->format.bpp) & keyMask;
    return raw >= (key.dwColorSpaceLowValue & keyMask) && raw <= (key.dwColorSpaceHighValue & keyMask);
  }
  // tx, ty in 1/256 texel; linear selects bilinear filtering.
  DWORD Sample(std::int64_t tx, std::int64_t ty, bool linear) const {
    if (!linear) return Texel((tx + 128) >> 8, (ty + 128) >> 8);
    const std::int64_t x0 = tx >> 8, y0 = ty >> 8;
    const int fx = int(tx & 255), fy = int(ty & 255);
    if ((fx | fy) == 0) return Texel(x0, y0);
    return Bilerp(Texel(x0, y0), Texel(x0 + 1, y0), Texel(x0, y0 + 1), Texel(x0 + 1, y0 + 1), fx, fy);
  }
  bool NearestKeyedOut(std::int64_t tx, std::int64_t ty) const {
    return KeyedOut((tx + 128) >> 8, (ty + 128) >> 8);
  }
};

inline bool IsLinear(DWORD filter) {
  return filter != D3DTFG_POINT && filter != 0;
}

// Per-triangle setup shared by both paths.
struct Triangle {
  Edge edges[3];
  double minX, maxX, minY, maxY;
  Plane u[D3DMAXTEXTURESTAGES], v[D3DMAXTEXTURESTAGES];
  bool minify[D3DMAXTEXTURESTAGES] = {};
  bool diffuseConst = true, specularConst = true;
  DWORD diffuse = 0, specular = 0;
  Plane diffusePlane[4], specularPlane[4];  // a, r, g, b
};

inline Plane MakePlane(const Vertex& a, const Vertex& b, const Vertex& c, double qa, double qb, double qc,
                       double det) {
  Plane p;
  p.q0 = qa;
  p.xa = a.x;
  p.ya = a.y;
  p.dqdx = ((qb - qa) * (c.y - a.y) - (qc - qa) * (b.y - a.y)) / det;
  p.dqdy = ((qc - qa) * (b.x - a.x) - (qb - qa) * (c.x - a.x)) / det;
  return p;
}

// A stage's texture coordinate planes and whether the texture is minified there.
inline void StagePlanes(const Vertex& a, const Vertex& b, const Vertex& c, DWORD set, double det,
                        const Sampler& sm, Plane& u, Plane& v, bool& minify) {
  u = MakePlane(a, b, c, a.u[set], b.u[set], c.u[set], det);
  v = MakePlane(a, b, c, a.v[set], b.v[set], c.v[set], det);
  if (sm.surface) {
    const double area = std::fabs(u.dqdx * v.dqdy - u.dqdy * v.dqdx) * double(sm.w) * double(sm.h);
    minify = area > 1.0;
  }
}

inline Edge MakeEdge(const Vertex& i, const Vertex& j) {
  Edge e;
  e.xi = i.fx;
  e.yi = i.fy;
  e.dx = j.fx - i.fx;
  e.dy = j.fy - i.fy;
  e.inclusive = (e.dy == 0 && e.dx > 0) || e.dy < 0;  // top or left edge
  return e;
}

}  // namespace plat::soft::dd
