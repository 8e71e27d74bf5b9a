// The soft Direct3D 7: device enumeration and creation, render and texture-stage states, and a software
// rasteriser for pre-transformed triangles (texture stages, bilinear or point sampling with the four address
// modes, alpha test, blending). One axis-aligned textured quad on a 32-bit target, the renderer's common
// case, takes a fast path built from the same setup and arithmetic as the general path, so both give the
// same pixels. The fast path keeps what it works out per quad placement (texel taps, coverage) for the
// quads it met recently, and the pixels of the last large opaque quad for when it comes again unchanged.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
// DS_SOFT3D_PORTABLE keeps the rasteriser to plain C++ (to check it gives the same pixels).
#if defined(__SSE2__) && !defined(DS_SOFT3D_PORTABLE)
#define DS_SOFT3D_SSE2 1
#endif
#if defined(DS_SOFT3D_SSE2)
#include <emmintrin.h>
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#if !defined(__clang__)
// GCC sees its own placeholder operands of the 512-bit intrinsics as uninitialised.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif
#endif

#include "platform/common/SoftDirectDrawInternal.h"

namespace plat::soft::dd {

namespace {

enum class DeviceKind { kRGB, kRef, kHAL, kTnLHAL };

struct DeviceInfo {
  DeviceKind kind;
  const GUID* guid;
  const char* description;
  const char* name;
  bool hardware;
};

const DeviceInfo kDevices[] = {
    {DeviceKind::kRGB, &IID_IDirect3DRGBDevice, "Microsoft Direct3D RGB Software Emulation", "RGB Emulation",
     false},
    {DeviceKind::kRef, &IID_IDirect3DRefDevice, "Microsoft Reference Rasterizer", "Reference Rasterizer",
     false},
    {DeviceKind::kHAL, &IID_IDirect3DHALDevice,
     "Microsoft Direct3D Hardware acceleration through Direct3D HAL", "Direct3D HAL", true},
    {DeviceKind::kTnLHAL, &IID_IDirect3DTnLHalDevice, "Microsoft Direct3D Hardware Transform and Lighting",
     "Direct3D T&L HAL", true},
};

const DeviceInfo* FindDevice(REFCLSID guid) {
  for (const DeviceInfo& d : kDevices)
    if (*d.guid == guid) return &d;
  return nullptr;
}

DWORD DepthFlag(int bpp) {
  switch (bpp) {
    case 8:
      return DDBD_8;
    case 16:
      return DDBD_16;
    case 24:
      return DDBD_24;
    case 32:
      return DDBD_32;
    default:
      return 0;
  }
}

void Describe(const DeviceInfo& info, const State& s, D3DDEVICEDESC7& d) {
  std::memset(&d, 0, sizeof(d));
  d.dwDevCaps = D3DDEVCAPS_FLOATTLVERTEX | D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY |
                D3DDEVCAPS_DRAWPRIMTLVERTEX;
  if (info.hardware) {
    d.dwDevCaps |= D3DDEVCAPS_TEXTUREVIDEOMEMORY | D3DDEVCAPS_CANRENDERAFTERFLIP |
                   D3DDEVCAPS_DRAWPRIMITIVES2 | D3DDEVCAPS_DRAWPRIMITIVES2EX | D3DDEVCAPS_HWRASTERIZATION;
    if (info.kind == DeviceKind::kTnLHAL) d.dwDevCaps |= D3DDEVCAPS_HWTRANSFORMANDLIGHT;
  } else {
    d.dwDevCaps |= D3DDEVCAPS_TEXTURESYSTEMMEMORY;
  }
  D3DPRIMCAPS p{};
  p.dwSize = sizeof(D3DPRIMCAPS);
  p.dwMiscCaps = D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW;
  p.dwRasterCaps = D3DPRASTERCAPS_SUBPIXEL;
  p.dwZCmpCaps = D3DPCMPCAPS_ALWAYS;
  const DWORD blend = D3DPBLENDCAPS_ZERO | D3DPBLENDCAPS_ONE | D3DPBLENDCAPS_SRCCOLOR |
                      D3DPBLENDCAPS_INVSRCCOLOR | D3DPBLENDCAPS_SRCALPHA | D3DPBLENDCAPS_INVSRCALPHA |
                      D3DPBLENDCAPS_DESTALPHA | D3DPBLENDCAPS_INVDESTALPHA | D3DPBLENDCAPS_DESTCOLOR |
                      D3DPBLENDCAPS_INVDESTCOLOR | D3DPBLENDCAPS_SRCALPHASAT;
  p.dwSrcBlendCaps = blend;
  p.dwDestBlendCaps = blend;
  p.dwAlphaCmpCaps = 0xFF;  // every comparison
  p.dwShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_ALPHAGOURAUDBLEND;
  p.dwTextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_POW2 | D3DPTEXTURECAPS_ALPHA |
                    D3DPTEXTURECAPS_TRANSPARENCY;
  p.dwTextureFilterCaps = D3DPTFILTERCAPS_NEAREST | D3DPTFILTERCAPS_LINEAR | D3DPTFILTERCAPS_MINFPOINT |
                          D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
  p.dwTextureAddressCaps =
      D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP | D3DPTADDRESSCAPS_BORDER;
  d.dpcTriCaps = p;
  d.dpcLineCaps = p;
  d.dwDeviceRenderBitDepth = s.deviceDepths;
  d.dwDeviceZBufferBitDepth = DDBD_16 | DDBD_32;
  d.dwMinTextureWidth = 1;
  d.dwMinTextureHeight = 1;
  d.dwMaxTextureWidth = 4096;
  d.dwMaxTextureHeight = 4096;
  d.dwMaxTextureRepeat = 32768;
  d.dwMaxTextureAspectRatio = 4096;
  d.dwMaxAnisotropy = 1;
  d.dvGuardBandLeft = -16384.0f;
  d.dvGuardBandTop = -16384.0f;
  d.dvGuardBandRight = 16384.0f;
  d.dvGuardBandBottom = 16384.0f;
  d.dwFVFCaps = 8;  // texture coordinate sets
  d.dwTextureOpCaps = D3DTEXOPCAPS_DISABLE | D3DTEXOPCAPS_SELECTARG1 | D3DTEXOPCAPS_SELECTARG2 |
                      D3DTEXOPCAPS_MODULATE | D3DTEXOPCAPS_MODULATE2X | D3DTEXOPCAPS_MODULATE4X |
                      D3DTEXOPCAPS_ADD | D3DTEXOPCAPS_ADDSIGNED | D3DTEXOPCAPS_SUBTRACT |
                      D3DTEXOPCAPS_BLENDDIFFUSEALPHA | D3DTEXOPCAPS_BLENDTEXTUREALPHA;
  d.wMaxTextureBlendStages = WORD(D3DMAXTEXTURESTAGES);
  d.wMaxSimultaneousTextures = WORD(D3DMAXTEXTURESTAGES);
  d.dvMaxVertexW = 1e10f;
  d.deviceGUID = *info.guid;
}

bool Available(const DeviceInfo& info, const State& s) {
  return !info.hardware || s.hardware3D;
}

// Whether the device may render into the surface; DD_OK or the reason.
HRESULT CheckTarget(const DeviceInfo& info, const State& s, SurfaceImpl* t) {
  if (!t) return DDERR_INVALIDPARAMS;
  if (!(t->caps & DDSCAPS_3DDEVICE)) return DDERR_INVALIDCAPS;
  if (info.hardware && !(t->caps & DDSCAPS_VIDEOMEMORY)) return DDERR_INVALIDCAPS;
  if (t->format.kind != Format::kRGB || !(DepthFlag(t->format.bpp) & s.deviceDepths))
    return D3DERR_INVALID_DEVICE;
  return DD_OK;
}

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

std::int64_t WrapIndex(std::int64_t i, int n, DWORD mode, bool& border) {
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

// Kept out of line so every caller evaluates with the same instructions (no contraction differences).
[[gnu::noinline]] double EvalPlane(const Plane& p, double x, double y) {
  return p.q0 + p.dqdx * (x - p.xa) + p.dqdy * (y - p.ya);
}

// Texel coordinate of texture coordinate t on a texture of n texels, in 1/256 texel (texel centres at
// (i + 0.5) / n, so t * n - 0.5), rounded to nearest.
[[gnu::noinline]] std::int64_t TexelFixed(const Plane& p, double x, double y, int n) {
  const double t = EvalPlane(p, x, y) * double(n) - 0.5;
  if (!(t == t)) return 0;
  const double limit = 1099511627776.0;  // 2^40: far beyond any texture, keeps the integer in range
  const double scaled = std::floor(std::min(std::max(t, -limit), limit) * 256.0 + 0.5);
  return std::int64_t(scaled);
}

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
std::int64_t Det(const Vertex& a, const Vertex& b, const Vertex& c) {
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

bool IsLinear(DWORD filter) {
  return filter != D3DTFG_POINT && filter != 0;
}

// The fast path's part of a triangle's setup: its edges and stage 0's planes.
struct QuadTriangle {
  Edge edges[3];
  Plane u, v;
  bool minify = false;
};

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

Plane MakePlane(const Vertex& a, const Vertex& b, const Vertex& c, double qa, double qb, double qc,
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
void StagePlanes(const Vertex& a, const Vertex& b, const Vertex& c, DWORD set, double det, const Sampler& sm,
                 Plane& u, Plane& v, bool& minify) {
  u = MakePlane(a, b, c, a.u[set], b.u[set], c.u[set], det);
  v = MakePlane(a, b, c, a.v[set], b.v[set], c.v[set], det);
  if (sm.surface) {
    const double area = std::fabs(u.dqdx * v.dqdy - u.dqdy * v.dqdx) * double(sm.w) * double(sm.h);
    minify = area > 1.0;
  }
}

Edge MakeEdge(const Vertex& i, const Vertex& j) {
  Edge e;
  e.xi = i.fx;
  e.yi = i.fy;
  e.dx = j.fx - i.fx;
  e.dy = j.fy - i.fy;
  e.inclusive = (e.dy == 0 && e.dx > 0) || e.dy < 0;  // top or left edge
  return e;
}

// A texel address pair along one axis: byte offsets of the two texels and the second's weight (0..255).
struct Tap {
  std::size_t off0, off1;
  int f;
};

// An inclusive range of texture columns.
struct ColumnRange {
  std::uint32_t low, high;
};

struct SpanColumns {
  std::vector<Tap> taps;
  std::vector<std::uint32_t> col0, col1;  // texture column of each tap pair
  std::vector<std::uint16_t> weights;     // per column and channel the pair (256 - f, f)
  bool filtered = false;
  bool contiguous = false;  // unfiltered and stepping one texel per pixel: a plain source run
  // The texture columns the taps reach, as few ranges: a column wrapped in from the far edge stays apart
  // from the body, so the vertical pass does not run across the padding between them.
  std::vector<ColumnRange> ranges;
  // Per column: whether it and the next three read consecutive column pairs (c, c + 1), (c + 1, c + 2) ...
  std::vector<std::uint8_t> consecutive;
  // The same for eight columns, and the weights of each group of eight columns from the first, even columns'
  // before odd ones' (as the 512-bit pass takes them).
  std::vector<std::uint8_t> consecutive8;
  std::vector<std::uint16_t> weights8;
};

// Sorted texture columns gathered into ranges; gaps up to kRangeGap columns are cheaper to run through.
void MakeRanges(std::vector<std::uint32_t>& columns, std::vector<ColumnRange>& out) {
  constexpr std::uint32_t kRangeGap = 16;
  constexpr std::size_t kMaxRanges = 8;
  out.clear();
  if (columns.empty()) return;
  std::sort(columns.begin(), columns.end());
  for (std::uint32_t c : columns) {
    if (!out.empty() && c <= out.back().high + kRangeGap)
      out.back().high = std::max(out.back().high, c);
    else
      out.push_back({c, c});
  }
  if (out.size() > kMaxRanges) out = {{out.front().low, out.back().high}};
}

// What only the filtered passes use: the weights, the column ranges and the runs of consecutive columns.
void PrepareFiltered(SpanColumns& c) {
  const std::size_t cols = c.taps.size();
  c.weights.resize(8 * cols);
  for (std::size_t i = 0; i < cols; ++i) {
    const std::uint16_t f = std::uint16_t(c.taps[i].f);
    for (std::size_t ch = 0; ch < 4; ++ch) {
      c.weights[8 * i + 2 * ch] = std::uint16_t(256 - f);
      c.weights[8 * i + 2 * ch + 1] = f;
    }
  }
  std::vector<std::uint32_t> all(c.col0);
  all.insert(all.end(), c.col1.begin(), c.col1.end());
  MakeRanges(all, c.ranges);
  c.consecutive.assign(cols, 0);
  for (std::size_t i = 0; i + 4 <= cols; ++i) {
    bool run = true;
    for (std::size_t k = 0; k < 4; ++k)
      run = run && c.col0[i + k] == c.col0[i] + k && c.col1[i + k] == c.col0[i] + k + 1;
    c.consecutive[i] = run;
  }
  c.consecutive8.assign(cols, 0);
  for (std::size_t i = 0; i + 8 <= cols; ++i)
    c.consecutive8[i] = c.consecutive[i] && c.consecutive[i + 4] && c.col0[i + 4] == c.col0[i] + 4;
  c.weights8.resize(8 * (cols / 8 * 8));
  for (std::size_t g = 0; g + 8 <= cols; g += 8)
    for (std::size_t k = 0; k < 8; ++k)
      std::copy_n(&c.weights[8 * (g + k)], 8, &c.weights8[8 * g + 32 * (k & 1) + 8 * (k >> 1)]);
}

// Two sorted lists of ranges as one (overlapping and touching ranges joined).
void UniteRanges(const std::vector<ColumnRange>& a, const std::vector<ColumnRange>& b,
                 std::vector<ColumnRange>& out) {
  out.clear();
  std::size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    const ColumnRange r = j >= b.size() || (i < a.size() && a[i].low <= b[j].low) ? a[i++] : b[j++];
    if (!out.empty() && r.low <= out.back().high + 1)
      out.back().high = std::max(out.back().high, r.high);
    else
      out.push_back(r);
  }
}

// Everything about a quad's pixels that depends only on its placement relative to the pixel grid: the
// texel taps of every column and row and where the diagonal splits each row. Quads that differ by whole
// pixels only (a sprite drawn at another place) evaluate the same plane expressions on the same offsets,
// so they share one layout. The key is compared byte for byte.
struct QuadKey {
  double uq0[2], udx[2], uoff[2];  // per triangle: u plane's value, x slope and first column's x offset
  double vq0[2], vdy[2], voff[2];  // v plane's value, y slope and first row's y offset
  std::int64_t diagDx, diagDy, diagX, diagY;  // diagonal edge relative to the first pixel, 1/256 pixel
  std::uint64_t pitch;
  std::int32_t texW, texH, cols, rows;
  std::uint32_t addrU, addrV;
  std::uint32_t linear, diagInclusive;
};

struct QuadLayout {
  QuadKey key;
  std::uint64_t lastUse = 0;
  bool valid = false;
  bool sameColumns = false;  // both triangles read the same column taps (columns[0])
  SpanColumns columns[2];
  std::vector<Tap> rowTaps[2];      // per row and triangle
  std::vector<std::int32_t> split;  // per row: the first column (from the quad's left) of the second triangle
  // Whether every row reads one texture row through the same unfiltered columns, for both triangles; then
  // rowStarts holds each row's byte offset.
  bool plainRows = false;
  std::vector<std::size_t> rowStarts;
};

// The last large opaque quad's pixels: drawn again from the same, unchanged texture with the same layout
// and output masks, it comes out the same, so it is copied instead (the wallpaper, every frame).
struct QuadResult {
  bool valid = false;
  const SurfaceImpl* texture = nullptr;
  std::uint64_t version = 0;
  QuadKey key;
  DWORD set = 0, keep = 0;
  std::vector<std::uint8_t> pixels;  // the quad's rows one after another
};
constexpr std::size_t kCachedQuadPixels = 4096;  // smaller quads are cheaper to draw than to keep

// How the fast path turns a texel into the source colour, and how it lands on the target.
struct FastShade {
  int colorMode = 1, alphaMode = 1;  // 1 texel, 2 diffuse, 3 their product
  Rgba dif{};
  bool srcAlpha = false;
  bool targetAlpha = false;
};

inline void Prefetch(const void* p) {
#if defined(__GNUC__)
  __builtin_prefetch(p);
#else
  (void)p;
#endif
}

// words[i] = (words[i] | set) & keep.
[[gnu::noinline]] void MaskWords(std::uint8_t* p, std::size_t n, DWORD set, DWORD keep) {
  if (set == 0 && keep == 0xFFFFFFFFu) return;
  for (std::size_t i = 0; i < n; ++i) {
    DWORD w;
    std::memcpy(&w, p + 4 * i, 4);
    w = (w | set) & keep;
    std::memcpy(p + 4 * i, &w, 4);
  }
}

// The span loops below work on bytes as independent 16- or 32-bit lanes so the compiler can vectorise them;
// each computes exactly the integer expression the general path evaluates per channel. Where SSE2 is
// available (every x86-64 build) the bilinear passes use it directly; the plain loops are the fallback.
//
// Bilinear sums: the vertical pass forms v = r0 * (256 - fy) + r1 * fy per byte (at most 255 * 256), the
// horizontal pass v0 * (256 - fx) + v1 * fx + 32768 and keeps bits 16..23: the same integer Bilerp rounds.
// The SSE2 variant stores v - 32768 as a signed 16-bit lane so pairs can be multiplied and added in one
// step (pmaddwd); the bias returns as 32768 * 256 in the horizontal sum.

#if defined(DS_SOFT3D_SSE2)
constexpr bool kBiasedSums = true;
#else
constexpr bool kBiasedSums = false;
#endif

#if defined(DS_SOFT3D_SSE2) && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define DS_SOFT3D_AVX2 1
// The same vertical pass 32 lanes at a time, on processors that have AVX2 (checked at run time).
[[gnu::target("avx2")]] std::size_t VerticalLanesAvx2(const std::uint8_t* r0, const std::uint8_t* r1,
                                                      const std::uint8_t* ahead, std::uint16_t* out,
                                                      std::size_t bytes, int fy) {
  const __m256i m0 = _mm256_set1_epi16(std::int16_t(256 - fy)), m1 = _mm256_set1_epi16(std::int16_t(fy));
  const __m256i bias = _mm256_set1_epi16(std::int16_t(-32768));
  std::size_t j = 0;
  for (; j + 16 <= bytes; j += 16) {
    if ((j & 63) == 0) Prefetch(ahead + j);
    const __m256i a = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + j)));
    const __m256i b = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + j)));
    const __m256i v = _mm256_add_epi16(_mm256_mullo_epi16(a, m0), _mm256_mullo_epi16(b, m1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j), _mm256_xor_si256(v, bias));
  }
  return j;
}

// The horizontal pass four pixels at a time: pixels 0 and 2 share one register, 1 and 3 the other, so the
// two packing steps leave them in order.
[[gnu::target("avx2")]] std::size_t HorizontalLanesAvx2(const std::uint16_t* sums, const std::uint32_t* c0,
                                                        const std::uint32_t* c1, const std::uint8_t* run,
                                                        const std::uint16_t* w, std::size_t n,
                                                        std::uint8_t* out, DWORD set, DWORD keep) {
  const __m256i round = _mm256_set1_epi32(32768 * 256 + 32768);
  const __m128i setv = _mm_set1_epi32(int(set)), keepv = _mm_set1_epi32(int(keep));
  auto pair = [&](std::size_t i) {
    return _mm_unpacklo_epi16(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(sums + 4 * std::size_t(c0[i]))),
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(sums + 4 * std::size_t(c1[i]))));
  };
  auto weights = [&](std::size_t i) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 8 * i)); };
#define DS_BOTH(lo, hi) _mm256_inserti128_si256(_mm256_castsi128_si256(lo), (hi), 1)
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    __m256i x, y;
    if (run[i]) {
      // Columns c .. c + 4 lie side by side: two loads, one column apart, interleave into the same pairs.
      const std::uint16_t* at = sums + 4 * std::size_t(c0[i]);
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 4));
      x = _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), DS_BOTH(weights(i), weights(i + 2)));
      y = _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), DS_BOTH(weights(i + 1), weights(i + 3)));
    } else {
      x = _mm256_madd_epi16(DS_BOTH(pair(i), pair(i + 2)), DS_BOTH(weights(i), weights(i + 2)));
      y = _mm256_madd_epi16(DS_BOTH(pair(i + 1), pair(i + 3)), DS_BOTH(weights(i + 1), weights(i + 3)));
    }
    const __m256i p = _mm256_packs_epi32(_mm256_srli_epi32(_mm256_add_epi32(x, round), 16),
                                         _mm256_srli_epi32(_mm256_add_epi32(y, round), 16));
    const __m256i q = _mm256_packus_epi16(p, p);
    const __m128i v = _mm_unpacklo_epi64(_mm256_castsi256_si128(q), _mm256_extracti128_si256(q, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), _mm_and_si128(_mm_or_si128(v, setv), keepv));
  }
#undef DS_BOTH
  return i;
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2") != 0;
  return has;
}

// The vertical and horizontal passes again with 512-bit vectors, where the processor has them (checked at
// run time, with the operating system's support for their registers).
bool HasAvx512() {
  static const bool has = __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0 &&
                          __builtin_cpu_supports("avx512vl") != 0;
  return has;
}

[[gnu::target("avx512f,avx512bw")]] std::size_t VerticalLanesAvx512(const std::uint8_t* r0,
                                                                    const std::uint8_t* r1,
                                                                    const std::uint8_t* ahead,
                                                                    std::uint16_t* out, std::size_t bytes,
                                                                    int fy) {
  const __m512i m0 = _mm512_set1_epi16(std::int16_t(256 - fy)), m1 = _mm512_set1_epi16(std::int16_t(fy));
  const __m512i bias = _mm512_set1_epi16(std::int16_t(-32768));
  std::size_t j = 0;
  for (; j + 32 <= bytes; j += 32) {
    if ((j & 63) == 0) Prefetch(ahead + j);
    const __m512i a = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(r0 + j)));
    const __m512i b = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(r1 + j)));
    const __m512i v = _mm512_add_epi16(_mm512_mullo_epi16(a, m0), _mm512_mullo_epi16(b, m1));
    _mm512_storeu_si512(out + j, _mm512_xor_si512(v, bias));
  }
  return j;
}

// One pixel's column sums interleaved with its second column's.
[[gnu::target("avx512f,avx512bw,avx512vl")]] inline __m128i PairAvx512(const std::uint16_t* sums,
                                                                       std::uint32_t c0, std::uint32_t c1) {
  return _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(sums + 4 * std::size_t(c0))),
                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(sums + 4 * std::size_t(c1))));
}

// Eight pixels at a time: one 128-bit lane per pixel, even pixels in one register and odd ones in the
// other; packing the pair keeps the pixels in order. run8 flags groups of eight consecutive columns; w8,
// where given, holds the weights of each group already in that order.
[[gnu::target("avx512f,avx512bw,avx512vl")]] std::size_t HorizontalLanesAvx512(
    const std::uint16_t* sums, const std::uint32_t* c0, const std::uint32_t* c1, const std::uint8_t* run8,
    const std::uint16_t* w, const std::uint16_t* w8, std::size_t n, std::uint8_t* out, DWORD set,
    DWORD keep) {
  const __m512i round = _mm512_set1_epi32(32768 * 256 + 32768);
  const __m256i setv = _mm256_set1_epi32(int(set)), keepv = _mm256_set1_epi32(int(keep));
  const __m512i even = _mm512_set_epi64(13, 12, 9, 8, 5, 4, 1, 0),
                odd = _mm512_set_epi64(15, 14, 11, 10, 7, 6, 3, 2);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m512i we, wo;
    if (w8) {
      we = _mm512_loadu_si512(w8 + 8 * i);
      wo = _mm512_loadu_si512(w8 + 8 * i + 32);
    } else {
      const __m512i w0 = _mm512_loadu_si512(w + 8 * i), w1 = _mm512_loadu_si512(w + 8 * i + 32);
      we = _mm512_permutex2var_epi64(w0, even, w1);  // weights of pixels 0, 2, 4, 6
      wo = _mm512_permutex2var_epi64(w0, odd, w1);   // 1, 3, 5, 7
    }
    __m512i x, y;
    if (run8[i]) {
      // Columns c .. c + 8 lie side by side: two loads, one column apart, interleave into the pairs.
      const std::uint16_t* at = sums + 4 * std::size_t(c0[i]);
      const __m512i a = _mm512_loadu_si512(at), b = _mm512_loadu_si512(at + 4);
      x = _mm512_unpacklo_epi16(a, b);
      y = _mm512_unpackhi_epi16(a, b);
    } else {
      x = _mm512_castsi128_si512(PairAvx512(sums, c0[i], c1[i]));
      y = _mm512_castsi128_si512(PairAvx512(sums, c0[i + 1], c1[i + 1]));
      x = _mm512_inserti32x4(x, PairAvx512(sums, c0[i + 2], c1[i + 2]), 1);
      y = _mm512_inserti32x4(y, PairAvx512(sums, c0[i + 3], c1[i + 3]), 1);
      x = _mm512_inserti32x4(x, PairAvx512(sums, c0[i + 4], c1[i + 4]), 2);
      y = _mm512_inserti32x4(y, PairAvx512(sums, c0[i + 5], c1[i + 5]), 2);
      x = _mm512_inserti32x4(x, PairAvx512(sums, c0[i + 6], c1[i + 6]), 3);
      y = _mm512_inserti32x4(y, PairAvx512(sums, c0[i + 7], c1[i + 7]), 3);
    }
    x = _mm512_srli_epi32(_mm512_add_epi32(_mm512_madd_epi16(x, we), round), 16);
    y = _mm512_srli_epi32(_mm512_add_epi32(_mm512_madd_epi16(y, wo), round), 16);
    // Every value is a byte already: narrowing the words keeps them exactly.
    const __m256i v = _mm512_cvtepi16_epi8(_mm512_packs_epi32(x, y));
    // (v | set) & keep in one step.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i),
                        _mm256_ternarylogic_epi32(v, setv, keepv, 0xA8));
  }
  return i;
}
#endif

// ahead: the texture row the next output row is likely to need, fetched meanwhile.
[[gnu::noinline]] void VerticalLanes(const std::uint8_t* r0, const std::uint8_t* r1,
                                     const std::uint8_t* ahead, std::uint16_t* out, std::size_t bytes, int fy,
                                     int wide) {
  const std::uint16_t w0 = std::uint16_t(256 - fy), w1 = std::uint16_t(fy);
  std::size_t j = 0;
#if defined(DS_SOFT3D_AVX2)
  if (wide >= 2) j = VerticalLanesAvx512(r0, r1, ahead, out, bytes, fy);
  if (wide >= 1) j += VerticalLanesAvx2(r0 + j, r1 + j, ahead + j, out + j, bytes - j, fy);
#else
  (void)wide;
#endif
#if defined(DS_SOFT3D_SSE2)
  const __m128i m0 = _mm_set1_epi16(std::int16_t(w0)), m1 = _mm_set1_epi16(std::int16_t(w1));
  const __m128i zero = _mm_setzero_si128(), bias = _mm_set1_epi16(std::int16_t(-32768));
  for (; j + 16 <= bytes; j += 16) {  // what the wide loop left
    if ((j & 63) == 0) Prefetch(ahead + j);
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + j));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + j));
    const __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(a, zero), m0),
                                     _mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), m1));
    const __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(a, zero), m0),
                                     _mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), m1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), _mm_xor_si128(lo, bias));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j + 8), _mm_xor_si128(hi, bias));
  }
#endif
  const std::uint16_t flip = kBiasedSums ? 0x8000u : 0u;
  for (std::size_t k = j; k < bytes; k += 64) Prefetch(ahead + k);
  for (; j < bytes; ++j)
    out[j] = std::uint16_t(std::uint16_t(std::uint16_t(r0[j]) * w0 + std::uint16_t(r1[j]) * w1) ^ flip);
}

// Each pixel's two column sums weighted by (256 - fx, fx), rounded and shifted back to bytes. a and b are
// scratch space for 4 * n lanes.
[[gnu::noinline]] void HorizontalLanes(const std::uint16_t* sums, const SpanColumns& c, std::size_t first,
                                       std::size_t n, std::uint16_t* a, std::uint16_t* b, std::uint8_t* out,
                                       DWORD set, DWORD keep, int wide) {
  const std::uint32_t* c0 = c.col0.data() + first;
  const std::uint32_t* c1 = c.col1.data() + first;
  const std::uint16_t* w = c.weights.data() + 8 * first;
#if defined(DS_SOFT3D_SSE2)
  (void)a;
  (void)b;
  const __m128i round = _mm_set1_epi32(32768 * 256 + 32768);
  const __m128i setv = _mm_set1_epi32(int(set)), keepv = _mm_set1_epi32(int(keep));
  auto pixel = [&](std::size_t i) {
    const __m128i s0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(sums + 4 * std::size_t(c0[i])));
    const __m128i s1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(sums + 4 * std::size_t(c1[i])));
    const __m128i wi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 8 * i));
    return _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(s0, s1), wi), round), 16);
  };
  std::size_t i = 0;
#if defined(DS_SOFT3D_AVX2)
  if (wide >= 2)
    i = HorizontalLanesAvx512(sums, c0, c1, c.consecutive8.data() + first, w,
                              first % 8 == 0 ? c.weights8.data() + 8 * first : nullptr, n, out, set, keep);
  if (wide >= 1)
    i += HorizontalLanesAvx2(sums, c0 + i, c1 + i, c.consecutive.data() + first + i, w + 8 * i, n - i,
                             out + 4 * i, set, keep);
#else
  (void)wide;
#endif
  for (; i + 4 <= n; i += 4) {
    const __m128i p01 = _mm_packs_epi32(pixel(i), pixel(i + 1));
    const __m128i p23 = _mm_packs_epi32(pixel(i + 2), pixel(i + 3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i),
                     _mm_and_si128(_mm_or_si128(_mm_packus_epi16(p01, p23), setv), keepv));
  }
  for (; i < n; ++i) {
    const __m128i p = _mm_packus_epi16(_mm_packs_epi32(pixel(i), pixel(i)), _mm_setzero_si128());
    const DWORD v = (DWORD(_mm_cvtsi128_si32(p)) | set) & keep;
    std::memcpy(out + 4 * i, &v, 4);
  }
#else
  (void)wide;
  for (std::size_t i = 0; i < n; ++i) {
    std::memcpy(a + 4 * i, sums + 4 * std::size_t(c0[i]), 8);
    std::memcpy(b + 4 * i, sums + 4 * std::size_t(c1[i]), 8);
  }
  for (std::size_t j = 0; j < 4 * n; ++j) {
    const std::uint32_t s = std::uint32_t(a[j]) * w[2 * j] + std::uint32_t(b[j]) * w[2 * j + 1] + 32768u;
    out[j] = std::uint8_t(s >> 16);
  }
  MaskWords(out, n, set, keep);
#endif
}

// Texels gathered through the column taps of one source row.
[[gnu::noinline]] void GatherTexels(const std::uint8_t* row, const Tap* taps, std::size_t n,
                                    std::uint8_t* out) {
  for (std::size_t i = 0; i < n; ++i) std::memcpy(out + 4 * i, row + taps[i].off0, 4);
}

// The stage's result for modes other than the plain texel, in place.
[[gnu::noinline]] void ModulateSpan(std::uint8_t* p, std::size_t n, const FastShade& fs) {
  for (std::size_t i = 0; i < n; ++i, p += 4) {
    // Little-endian ARGB words: bytes b, g, r, a.
    const int dif[4] = {fs.dif.b, fs.dif.g, fs.dif.r, fs.dif.a};
    for (int ch = 0; ch < 4; ++ch) {
      const int mode = ch == 3 ? fs.alphaMode : fs.colorMode;
      if (mode == 2)
        p[ch] = std::uint8_t(dif[ch]);
      else if (mode == 3)
        p[ch] = std::uint8_t(Mul255(p[ch], dif[ch]));
    }
  }
}

// Source over destination by the source's alpha a, every byte lane (alpha included) as
// round((s * a + d * (255 - a)) / 255); a target without alpha gets its unused byte as 0.
// The sums stay below 2^16, so Div255 runs in 16-bit lanes.
template <bool kTargetAlpha>
inline void BlendLanes(const std::uint8_t* src, std::uint8_t* dst, std::size_t pixels) {
  for (std::size_t i = 0; i < pixels; ++i) {
    const std::uint16_t a = src[4 * i + 3], ia = std::uint16_t(255 - a);
    for (int ch = 0; ch < 4; ++ch) {
      const std::uint16_t t = std::uint16_t(src[4 * i + ch] * a + dst[4 * i + ch] * ia + 128);
      const std::uint8_t v = std::uint8_t((t + (t >> 8)) >> 8);
      dst[4 * i + ch] = kTargetAlpha || ch != 3 ? v : 0;
    }
  }
}

#if defined(DS_SOFT3D_AVX2)
// The blend of 16 byte lanes of each pixel pair (BlendLanes' arithmetic), in 256-bit and 512-bit vectors.
[[gnu::target("avx2")]] inline __m256i BlendLanesAvx2(__m256i s16, __m256i d16) {
  const __m256i ones = _mm256_set1_epi16(0xFF), half = _mm256_set1_epi16(128);
  const __m256i a = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(s16, 0xFF), 0xFF);
  const __m256i t = _mm256_add_epi16(
      _mm256_add_epi16(_mm256_mullo_epi16(s16, a), _mm256_mullo_epi16(d16, _mm256_xor_si256(a, ones))), half);
  return _mm256_srli_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(t, 8)), 8);
}

// The span blend eight pixels at a time; returns how many pixels it did.
template <bool kTargetAlpha>
[[gnu::target("avx2")]] std::size_t BlendSpanAvx2(const std::uint8_t* src, std::uint8_t* dst, std::size_t n) {
  const __m256i zero = _mm256_setzero_si256(), alpha = _mm256_set1_epi32(int(0xFF000000u));
  const __m256i keep = kTargetAlpha ? _mm256_set1_epi32(-1) : _mm256_set1_epi32(0x00FFFFFF);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i));
    __m256i* dp = reinterpret_cast<__m256i*>(dst + 4 * i);
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_and_si256(s, alpha), zero)) == -1) {
      if (!kTargetAlpha) {
        const __m256i d = _mm256_loadu_si256(dp);
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_and_si256(d, alpha), zero)) != -1)
          _mm256_storeu_si256(dp, _mm256_and_si256(d, keep));
      }
      continue;
    }
    const __m256i d = _mm256_loadu_si256(dp);
    // Unpacking and packing both work within 128-bit halves, so the pixels come back in order.
    const __m256i lo = BlendLanesAvx2(_mm256_unpacklo_epi8(s, zero), _mm256_unpacklo_epi8(d, zero));
    const __m256i hi = BlendLanesAvx2(_mm256_unpackhi_epi8(s, zero), _mm256_unpackhi_epi8(d, zero));
    _mm256_storeu_si256(dp, _mm256_and_si256(_mm256_packus_epi16(lo, hi), keep));
  }
  return i;
}

[[gnu::target("avx512f,avx512bw,avx512vl")]] inline __m512i BlendLanesAvx512(__m512i s16, __m512i d16) {
  const __m512i ones = _mm512_set1_epi16(0xFF), half = _mm512_set1_epi16(128);
  const __m512i a = _mm512_shufflehi_epi16(_mm512_shufflelo_epi16(s16, 0xFF), 0xFF);
  const __m512i t = _mm512_add_epi16(
      _mm512_add_epi16(_mm512_mullo_epi16(s16, a), _mm512_mullo_epi16(d16, _mm512_xor_si512(a, ones))), half);
  return _mm512_srli_epi16(_mm512_add_epi16(t, _mm512_srli_epi16(t, 8)), 8);
}

// Sixteen pixels at a time, the last few under a mask (masked-off pixels are neither read nor written).
template <bool kTargetAlpha>
[[gnu::target("avx512f,avx512bw,avx512vl")]] void BlendSpanAvx512(const std::uint8_t* src, std::uint8_t* dst,
                                                                  std::size_t n) {
  const __m512i zero = _mm512_setzero_si512(), alpha = _mm512_set1_epi32(int(0xFF000000u));
  const __m512i keep = kTargetAlpha ? _mm512_set1_epi32(-1) : _mm512_set1_epi32(0x00FFFFFF);
  for (std::size_t i = 0; i < n; i += 16) {
    const __mmask16 m = n - i >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << (n - i)) - 1);
    const __m512i s = _mm512_maskz_loadu_epi32(m, src + 4 * i);
    const __m512i d = _mm512_maskz_loadu_epi32(m, dst + 4 * i);
    if (_mm512_test_epi32_mask(s, alpha) == 0) {
      // Fully transparent: the colour stays; only a target without alpha has its unused byte cleared.
      if (!kTargetAlpha && _mm512_test_epi32_mask(d, alpha) != 0)
        _mm512_mask_storeu_epi32(dst + 4 * i, m, _mm512_and_si512(d, keep));
      continue;
    }
    // Unpacking and packing both work within 128-bit lanes, so the pixels come back in order.
    const __m512i lo = BlendLanesAvx512(_mm512_unpacklo_epi8(s, zero), _mm512_unpacklo_epi8(d, zero));
    const __m512i hi = BlendLanesAvx512(_mm512_unpackhi_epi8(s, zero), _mm512_unpackhi_epi8(d, zero));
    _mm512_mask_storeu_epi32(dst + 4 * i, m, _mm512_and_si512(_mm512_packus_epi16(lo, hi), keep));
  }
}
#endif

template <bool kTargetAlpha>
[[gnu::noinline]] void BlendSpan(const std::uint8_t* src, std::uint8_t* dst, std::size_t n, int wide) {
  std::size_t i = 0;
#if defined(DS_SOFT3D_AVX2)
  if (wide >= 2) {
    BlendSpanAvx512<kTargetAlpha>(src, dst, n);
    return;
  }
  if (wide >= 1) i = BlendSpanAvx2<kTargetAlpha>(src, dst, n);
#else
  (void)wide;
#endif
#if defined(DS_SOFT3D_SSE2)
  const __m128i zero = _mm_setzero_si128(), alpha = _mm_set1_epi32(int(0xFF000000u));
  const __m128i ones = _mm_set1_epi16(0xFF), half = _mm_set1_epi16(128);
  const __m128i keep = kTargetAlpha ? _mm_set1_epi32(-1) : _mm_set1_epi32(0x00FFFFFF);
  auto lanes = [&](__m128i s16, __m128i d16) {
    const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(s16, 0xFF), 0xFF);
    const __m128i t = _mm_add_epi16(
        _mm_add_epi16(_mm_mullo_epi16(s16, a), _mm_mullo_epi16(d16, _mm_xor_si128(a, ones))), half);
    return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
  };
  for (; i + 4 <= n; i += 4) {
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
    __m128i* dp = reinterpret_cast<__m128i*>(dst + 4 * i);
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(s, alpha), zero)) == 0xFFFF) {
      // Fully transparent: the colour stays; only a target without alpha has its unused byte cleared.
      if (!kTargetAlpha) {
        const __m128i d = _mm_loadu_si128(dp);
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(d, alpha), zero)) != 0xFFFF)
          _mm_storeu_si128(dp, _mm_and_si128(d, keep));
      }
      continue;
    }
    const __m128i d = _mm_loadu_si128(dp);
    const __m128i lo = lanes(_mm_unpacklo_epi8(s, zero), _mm_unpacklo_epi8(d, zero));
    const __m128i hi = lanes(_mm_unpackhi_epi8(s, zero), _mm_unpackhi_epi8(d, zero));
    _mm_storeu_si128(dp, _mm_and_si128(_mm_packus_epi16(lo, hi), keep));
  }
#else
  constexpr std::size_t kBlock = 8;
  for (; i + kBlock <= n; i += kBlock) {
    const std::uint8_t* s = src + 4 * i;
    std::uint8_t* d = dst + 4 * i;
    int any = 0;
    for (std::size_t k = 0; k < kBlock; ++k) any |= s[4 * k + 3];
    if (any == 0) {
      // Fully transparent: the colour stays; only a target without alpha has its unused byte cleared.
      if (!kTargetAlpha)
        for (std::size_t k = 0; k < kBlock; ++k) d[4 * k + 3] = 0;
      continue;
    }
    BlendLanes<kTargetAlpha>(s, d, kBlock);
  }
#endif
  BlendLanes<kTargetAlpha>(src + 4 * i, dst + 4 * i, n - i);
}

#if defined(DS_SOFT3D_AVX2)
template <bool kTargetAlpha>
[[gnu::target("avx512f,avx512bw,avx512vl")]] void BlendRectAvx512(const std::uint8_t* src,
                                                                  const std::size_t* rowStarts,
                                                                  std::uint8_t* dst, std::size_t pitch,
                                                                  std::size_t n, std::size_t rows) {
  for (std::size_t y = 0; y < rows; ++y, dst += pitch)
    BlendSpanAvx512<kTargetAlpha>(src + rowStarts[y], dst, n);
}
#endif

// A sprite mapped texel for texel: row y of the rectangle blends texels from src + rowStarts[y].
template <bool kTargetAlpha>
void BlendRect(const std::uint8_t* src, const std::size_t* rowStarts, std::uint8_t* dst, std::size_t pitch,
               std::size_t n, std::size_t rows, int wide) {
#if defined(DS_SOFT3D_AVX2)
  if (wide >= 2) {
    BlendRectAvx512<kTargetAlpha>(src, rowStarts, dst, pitch, n, rows);
    return;
  }
#endif
  for (std::size_t y = 0; y < rows; ++y, dst += pitch)
    BlendSpan<kTargetAlpha>(src + rowStarts[y], dst, n, wide);
}

// Asks for the target lines a small quad will blend into before the first is needed: sprites land at
// scattered places of a surface far larger than the caches.
void PrefetchRows(const std::uint8_t* first, std::size_t pitch, int count, std::size_t bytes) {
#if defined(__GNUC__)
  for (int y = 0; y < count; ++y, first += pitch) {
    for (std::size_t o = 0; o < bytes; o += 64) __builtin_prefetch(first + o, 1);
    __builtin_prefetch(first + bytes - 1, 1);
  }
#else
  (void)first, (void)pitch, (void)count, (void)bytes;
#endif
}

}  // namespace

// ---- Device ----

class Direct3DImpl;

class DeviceImpl final : public RefCounted<IDirect3DDevice7> {
 public:
  DeviceImpl(State* s, Direct3DImpl* d3d, const DeviceInfo& info, SurfaceImpl* target);
  HRESULT QueryInterface(REFIID iid, void** out) override;
  HRESULT GetCaps(D3DDEVICEDESC7* desc) override;
  HRESULT EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) override;
  HRESULT BeginScene() override;
  HRESULT EndScene() override;
  HRESULT GetDirect3D(IDirect3D7** out) override;
  HRESULT SetRenderTarget(IDirectDrawSurface7* target, DWORD flags) override;
  HRESULT GetRenderTarget(IDirectDrawSurface7** out) override;
  HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, D3DVALUE z,
                DWORD stencil) override;
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) override;
  HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD* value) override;
  HRESULT SetTexture(DWORD stage, IDirectDrawSurface7* texture) override;
  HRESULT GetTexture(DWORD stage, IDirectDrawSurface7** out) override;
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, const void* vertices, DWORD count,
                        DWORD flags) override;

 private:
  ~DeviceImpl() override;
  void ResetStates();
  int ActiveStages() const;
  bool PrepareSamplers(int stages);
  void SetupTriangle(const Vertex& a, const Vertex& b, const Vertex& c, double det, int stages, Triangle& t);
  void DrawTriangle(const Vertex* a, const Vertex* b, const Vertex* c, bool odd, int stages);
  bool TryFastQuad(const Vertex* v, int stages);
  void SetupQuadTriangle(const Vertex& a, const Vertex& b, const Vertex& c, double det, QuadTriangle& t);
  const QuadLayout& Layout(const QuadTriangle& t1, const QuadTriangle& t2, int xs, int xe, int ys, int ye,
                           bool linear, bool clipped);
  DWORD Shade(const Triangle& t, double px, double py, int stages, bool& discard);
  void WritePixel(std::uint8_t* p, DWORD src);

  Direct3DImpl* d3d_;
  const DeviceInfo& info_;
  SurfaceImpl* target_;
  SurfaceImpl* textures_[D3DMAXTEXTURESTAGES] = {};
  Sampler samplers_[D3DMAXTEXTURESTAGES];
  DWORD rs_[D3DRENDERSTATE_COUNT] = {};
  DWORD tss_[D3DMAXTEXTURESTAGES][D3DTSS_COUNT] = {};
  bool inScene_ = false;
  // Scratch space of the fast path, kept between draws.
  std::vector<Vertex> vertices_;
  QuadLayout layouts_[16];    // the layouts of recent quads (a frame draws a few sprites many times)
  QuadLayout clippedLayout_;  // the last quad's that the target's edges cut
  QuadResult result_;
  std::uint64_t layoutClock_ = 0;
  std::vector<ColumnRange> ranges_;
  std::vector<DWORD> texels_;
  std::vector<std::uint16_t> sums_;             // vertical bilinear sums, 4 lanes per texture column
  std::vector<std::uint16_t> lanesA_, lanesB_;  // the sums each pixel's two columns contribute
};

class Direct3DImpl final : public RefCounted<IDirect3D7> {
 public:
  Direct3DImpl(State* s, DirectDrawImpl* dd) : RefCounted(s), dd_(dd) { dd_->AddRef(); }
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (!out) return DDERR_INVALIDPARAMS;
    if (iid == IID_IUnknown || iid == IID_IDirect3D7) {
      AddRef();
      *out = static_cast<IDirect3D7*>(this);
      return DD_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK7 callback, void* context) override {
    if (!callback) return DDERR_INVALIDPARAMS;
    for (const DeviceInfo& info : kDevices) {
      if (!Available(info, *state_)) continue;
      D3DDEVICEDESC7 desc;
      Describe(info, *state_, desc);
      char description[128], name[64];
      std::snprintf(description, sizeof(description), "%s", info.description);
      std::snprintf(name, sizeof(name), "%s", info.name);
      if (callback(description, name, &desc, context) == D3DENUMRET_CANCEL) break;
    }
    return D3D_OK;
  }
  HRESULT CreateDevice(REFCLSID guid, IDirectDrawSurface7* target, IDirect3DDevice7** out) override {
    if (!out) return DDERR_INVALIDPARAMS;
    *out = nullptr;
    const DeviceInfo* info = FindDevice(guid);
    if (!info) return DDERR_INVALIDPARAMS;
    if (!Available(*info, *state_)) return D3DERR_INVALID_DEVICE;
    SurfaceImpl* t = AsSurface(target);
    const HRESULT hr = CheckTarget(*info, *state_, t);
    if (FAILED(hr)) return hr;
    if (t->lost) return DDERR_SURFACELOST;
    if (state_->deviceFault.Take()) return state_->deviceFault.result;
    *out = new DeviceImpl(state_, this, *info, t);
    return D3D_OK;
  }
  HRESULT EnumZBufferFormats(REFCLSID guid, LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) override {
    if (!callback || !FindDevice(guid)) return DDERR_INVALIDPARAMS;
    for (int depth : {16, 32}) {
      Format f;
      f.kind = Format::kZ;
      f.bpp = depth;
      DDPIXELFORMAT pf;
      FormatToPixelFormat(f, pf);
      if (callback(&pf, context) == D3DENUMRET_CANCEL) break;
    }
    return D3D_OK;
  }
  HRESULT EvictManagedTextures() override { return D3D_OK; }

 private:
  ~Direct3DImpl() override { dd_->Release(); }
  DirectDrawImpl* dd_;
};

HRESULT CreateDirect3D(State* s, DirectDrawImpl* dd, void** out) {
  *out = static_cast<IDirect3D7*>(new Direct3DImpl(s, dd));
  return DD_OK;
}

DeviceImpl::DeviceImpl(State* s, Direct3DImpl* d3d, const DeviceInfo& info, SurfaceImpl* target)
    : RefCounted(s), d3d_(d3d), info_(info), target_(target) {
  d3d_->AddRef();
  target_->AddRef();
  ResetStates();
}

DeviceImpl::~DeviceImpl() {
  for (SurfaceImpl*& t : textures_) SafeRelease(t);
  SafeRelease(target_);
  d3d_->Release();
}

void DeviceImpl::ResetStates() {
  rs_[D3DRENDERSTATE_TEXTUREPERSPECTIVE] = 1;
  rs_[D3DRENDERSTATE_ZENABLE] = D3DZB_FALSE;
  rs_[D3DRENDERSTATE_FILLMODE] = D3DFILL_SOLID;
  rs_[D3DRENDERSTATE_SHADEMODE] = D3DSHADE_GOURAUD;
  rs_[D3DRENDERSTATE_ZWRITEENABLE] = 1;
  rs_[D3DRENDERSTATE_LASTPIXEL] = 1;
  rs_[D3DRENDERSTATE_SRCBLEND] = D3DBLEND_ONE;
  rs_[D3DRENDERSTATE_DESTBLEND] = D3DBLEND_ZERO;
  rs_[D3DRENDERSTATE_CULLMODE] = D3DCULL_CCW;
  rs_[D3DRENDERSTATE_ZFUNC] = D3DCMP_LESSEQUAL;
  rs_[D3DRENDERSTATE_ALPHAFUNC] = D3DCMP_ALWAYS;
  rs_[D3DRENDERSTATE_TEXTUREFACTOR] = 0xFFFFFFFFu;
  rs_[D3DRENDERSTATE_CLIPPING] = 1;
  rs_[D3DRENDERSTATE_LIGHTING] = 1;
  rs_[D3DRENDERSTATE_COLORVERTEX] = 1;
  for (DWORD s = 0; s < D3DMAXTEXTURESTAGES; ++s) {
    DWORD* t = tss_[s];
    t[D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    t[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    t[D3DTSS_COLORARG2] = D3DTA_CURRENT;
    t[D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    t[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    t[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
    t[D3DTSS_TEXCOORDINDEX] = s;
    t[D3DTSS_ADDRESS] = t[D3DTSS_ADDRESSU] = t[D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
    t[D3DTSS_MAGFILTER] = D3DTFG_POINT;
    t[D3DTSS_MINFILTER] = D3DTFN_POINT;
    t[D3DTSS_MIPFILTER] = D3DTFP_NONE;
  }
}

HRESULT DeviceImpl::QueryInterface(REFIID iid, void** out) {
  if (!out) return DDERR_INVALIDPARAMS;
  if (iid == IID_IUnknown || iid == IID_IDirect3DDevice7) {
    AddRef();
    *out = static_cast<IDirect3DDevice7*>(this);
    return DD_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT DeviceImpl::GetCaps(D3DDEVICEDESC7* desc) {
  if (!desc) return DDERR_INVALIDPARAMS;
  Describe(info_, *state_, *desc);
  return D3D_OK;
}

HRESULT DeviceImpl::EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) {
  if (!callback) return DDERR_INVALIDPARAMS;
  Format pal8;
  pal8.kind = Format::kPal8;
  pal8.bpp = 8;
  const Format formats[] = {
      pal8,
      MakeRGB(16, 0xF800, 0x07E0, 0x001F, 0),
      MakeRGB(16, 0x7C00, 0x03E0, 0x001F, 0),
      MakeRGB(16, 0x7C00, 0x03E0, 0x001F, 0x8000),
      MakeRGB(16, 0x0F00, 0x00F0, 0x000F, 0xF000),
      MakeRGB(32, 0xFF0000, 0xFF00, 0xFF, 0),
      MakeRGB(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u),
  };
  for (const Format& f : formats) {
    DDPIXELFORMAT pf;
    FormatToPixelFormat(f, pf);
    if (callback(&pf, context) == D3DENUMRET_CANCEL) break;
  }
  return D3D_OK;
}

HRESULT DeviceImpl::BeginScene() {
  if (inScene_) return D3DERR_SCENE_IN_SCENE;
  inScene_ = true;
  return D3D_OK;
}

HRESULT DeviceImpl::EndScene() {
  if (!inScene_) return D3DERR_SCENE_NOT_IN_SCENE;
  inScene_ = false;
  return D3D_OK;
}

HRESULT DeviceImpl::GetDirect3D(IDirect3D7** out) {
  if (!out) return DDERR_INVALIDPARAMS;
  d3d_->AddRef();
  *out = d3d_;
  return D3D_OK;
}

HRESULT DeviceImpl::SetRenderTarget(IDirectDrawSurface7* target, DWORD) {
  SurfaceImpl* t = AsSurface(target);
  const HRESULT hr = CheckTarget(info_, *state_, t);
  if (FAILED(hr)) return hr;
  t->AddRef();
  SafeRelease(target_);
  target_ = t;
  return D3D_OK;
}

HRESULT DeviceImpl::GetRenderTarget(IDirectDrawSurface7** out) {
  if (!out) return DDERR_INVALIDPARAMS;
  target_->AddRef();
  *out = target_;
  return D3D_OK;
}

HRESULT DeviceImpl::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, D3DVALUE, DWORD) {
  if ((count && !rects) || (flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)))
    return DDERR_INVALIDPARAMS;
  if (target_->lost) return DDERR_SURFACELOST;
  if (target_->Busy()) return DDERR_SURFACEBUSY;
  if (!(flags & D3DCLEAR_TARGET)) return D3D_OK;
  const DWORD raw = FromArgb(target_->format, color, target_->Palette());
  const D3DRECT whole{0, 0, target_->width, target_->height};
  const DWORD n = count ? count : 1;
  const int bytes = target_->format.bpp / 8;
  for (DWORD i = 0; i < n; ++i) {
    const D3DRECT& r = count ? rects[i] : whole;
    const int x1 = std::max<LONG>(r.x1, 0), y1 = std::max<LONG>(r.y1, 0);
    const int x2 = std::min<LONG>(r.x2, target_->width), y2 = std::min<LONG>(r.y2, target_->height);
    for (int y = y1; y < y2; ++y)
      for (int x = x1; x < x2; ++x) WriteRaw(target_->Row(y) + x * bytes, target_->format.bpp, raw);
  }
  target_->Touch();
  return D3D_OK;
}

HRESULT DeviceImpl::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
  if (state == 0 || DWORD(state) >= D3DRENDERSTATE_COUNT) return DDERR_INVALIDPARAMS;
  rs_[state] = value;
  return D3D_OK;
}

HRESULT DeviceImpl::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
  if (!value || state == 0 || DWORD(state) >= D3DRENDERSTATE_COUNT) return DDERR_INVALIDPARAMS;
  *value = rs_[state];
  return D3D_OK;
}

HRESULT DeviceImpl::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) {
  if (stage >= D3DMAXTEXTURESTAGES || state == 0 || DWORD(state) >= D3DTSS_COUNT) return DDERR_INVALIDPARAMS;
  tss_[stage][state] = value;
  if (state == D3DTSS_ADDRESS) tss_[stage][D3DTSS_ADDRESSU] = tss_[stage][D3DTSS_ADDRESSV] = value;
  return D3D_OK;
}

HRESULT DeviceImpl::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD* value) {
  if (!value || stage >= D3DMAXTEXTURESTAGES || state == 0 || DWORD(state) >= D3DTSS_COUNT)
    return DDERR_INVALIDPARAMS;
  *value = tss_[stage][state];
  return D3D_OK;
}

HRESULT DeviceImpl::SetTexture(DWORD stage, IDirectDrawSurface7* texture) {
  if (stage >= D3DMAXTEXTURESTAGES) return DDERR_INVALIDPARAMS;
  SurfaceImpl* t = AsSurface(texture);
  if (texture && !t) return DDERR_INVALIDPARAMS;
  if (t && (!(t->caps & DDSCAPS_TEXTURE) || t->format.kind == Format::kZ)) return DDERR_INVALIDCAPS;
  if (t) t->AddRef();
  SafeRelease(textures_[stage]);
  textures_[stage] = t;
  return D3D_OK;
}

HRESULT DeviceImpl::GetTexture(DWORD stage, IDirectDrawSurface7** out) {
  if (!out || stage >= D3DMAXTEXTURESTAGES) return DDERR_INVALIDPARAMS;
  *out = textures_[stage];
  if (*out) (*out)->AddRef();
  return D3D_OK;
}

int DeviceImpl::ActiveStages() const {
  int n = 0;
  while (n < int(D3DMAXTEXTURESTAGES) && tss_[n][D3DTSS_COLOROP] != D3DTOP_DISABLE) ++n;
  return n;
}

bool DeviceImpl::PrepareSamplers(int stages) {
  for (int s = 0; s < stages; ++s) {
    Sampler& sm = samplers_[s];
    sm = Sampler();
    SurfaceImpl* t = textures_[s];
    if (!t) continue;
    sm.surface = t;
    sm.w = t->width;
    sm.h = t->height;
    if (t->format.IsArgb32()) {
      sm.bits = t->bits;
      sm.pitch = std::size_t(t->pitch);
      sm.opaqueMask = t->format.a ? 0 : 0xFF000000u;
    } else {
      sm.bits = reinterpret_cast<const std::uint8_t*>(t->ArgbPixels());
      sm.pitch = std::size_t(t->width) * 4;
    }
    sm.addrU = tss_[s][D3DTSS_ADDRESSU];
    sm.addrV = tss_[s][D3DTSS_ADDRESSV];
    sm.border = tss_[s][D3DTSS_BORDERCOLOR];
    sm.linearMag = IsLinear(tss_[s][D3DTSS_MAGFILTER]);
    sm.linearMin = IsLinear(tss_[s][D3DTSS_MINFILTER]);
    sm.keyed = rs_[D3DRENDERSTATE_COLORKEYENABLE] && t->hasSrcKey;
    sm.key = t->srcKey;
    sm.keyMask = t->format.kind == Format::kRGB ? (t->format.r | t->format.g | t->format.b | t->format.a)
                                                : t->format.RawMask();
  }
  return true;
}

void DeviceImpl::SetupTriangle(const Vertex& a, const Vertex& b, const Vertex& c, double det, int stages,
                               Triangle& t) {
  t.edges[0] = MakeEdge(a, b);
  t.edges[1] = MakeEdge(b, c);
  t.edges[2] = MakeEdge(c, a);
  t.minX = std::min({a.x, b.x, c.x});
  t.maxX = std::max({a.x, b.x, c.x});
  t.minY = std::min({a.y, b.y, c.y});
  t.maxY = std::max({a.y, b.y, c.y});
  for (int s = 0; s < stages; ++s) {
    const DWORD set = std::min<DWORD>(tss_[s][D3DTSS_TEXCOORDINDEX] & 0xFFFF, D3DMAXTEXTURESTAGES - 1);
    StagePlanes(a, b, c, set, det, samplers_[s], t.u[s], t.v[s], t.minify[s]);
  }
  const bool flat = rs_[D3DRENDERSTATE_SHADEMODE] == D3DSHADE_FLAT;
  t.diffuseConst = flat || (a.diffuse == b.diffuse && a.diffuse == c.diffuse);
  t.specularConst = flat || (a.specular == b.specular && a.specular == c.specular);
  t.diffuse = a.diffuse;
  t.specular = a.specular;
  for (int ch = 0; ch < 4; ++ch) {
    const int shift = 24 - ch * 8;
    auto chan = [shift](DWORD c) { return double((c >> shift) & 0xFF); };
    if (!t.diffuseConst)
      t.diffusePlane[ch] = MakePlane(a, b, c, chan(a.diffuse), chan(b.diffuse), chan(c.diffuse), det);
    if (!t.specularConst)
      t.specularPlane[ch] = MakePlane(a, b, c, chan(a.specular), chan(b.specular), chan(c.specular), det);
  }
}

namespace {

DWORD InterpolateColor(const Plane* planes, double x, double y) {
  DWORD c = 0;
  for (int ch = 0; ch < 4; ++ch) {
    const double q = EvalPlane(planes[ch], x, y);
    const int v = q == q ? Clamp255(int(std::floor(std::min(std::max(q, -1.0), 256.0) + 0.5))) : 0;
    c |= DWORD(v) << (24 - ch * 8);
  }
  return c;
}

Rgba Argument(DWORD arg, const Rgba& diffuse, const Rgba& current, const Rgba& texel, const Rgba& factor,
              const Rgba& specular) {
  Rgba v;
  switch (arg & D3DTA_SELECTMASK) {
    case D3DTA_DIFFUSE:
      v = diffuse;
      break;
    case D3DTA_CURRENT:
      v = current;
      break;
    case D3DTA_TEXTURE:
      v = texel;
      break;
    case D3DTA_TFACTOR:
      v = factor;
      break;
    case D3DTA_SPECULAR:
      v = specular;
      break;
    default:
      v = current;
      break;
  }
  if (arg & D3DTA_COMPLEMENT) v = {255 - v.a, 255 - v.r, 255 - v.g, 255 - v.b};
  if (arg & D3DTA_ALPHAREPLICATE) v = {v.a, v.a, v.a, v.a};
  return v;
}

int Operate(DWORD op, int x, int y, int diffuseA, int texelA, int factorA, int currentA) {
  switch (op) {
    case D3DTOP_SELECTARG1:
      return x;
    case D3DTOP_SELECTARG2:
      return y;
    case D3DTOP_MODULATE:
      return Mul255(x, y);
    case D3DTOP_MODULATE2X:
      return std::min(255, (2 * x * y + 127) / 255);
    case D3DTOP_MODULATE4X:
      return std::min(255, (4 * x * y + 127) / 255);
    case D3DTOP_ADD:
      return std::min(255, x + y);
    case D3DTOP_ADDSIGNED:
      return Clamp255(x + y - 128);
    case D3DTOP_ADDSIGNED2X:
      return Clamp255(2 * (x + y - 128));
    case D3DTOP_SUBTRACT:
      return std::max(0, x - y);
    case D3DTOP_ADDSMOOTH:
      return Clamp255(x + y - Mul255(x, y));
    case D3DTOP_BLENDDIFFUSEALPHA:
      return (x * diffuseA + y * (255 - diffuseA) + 127) / 255;
    case D3DTOP_BLENDTEXTUREALPHA:
      return (x * texelA + y * (255 - texelA) + 127) / 255;
    case D3DTOP_BLENDFACTORALPHA:
      return (x * factorA + y * (255 - factorA) + 127) / 255;
    case D3DTOP_BLENDTEXTUREALPHAPM:
      return std::min(255, x + Mul255(y, 255 - texelA));
    case D3DTOP_BLENDCURRENTALPHA:
      return (x * currentA + y * (255 - currentA) + 127) / 255;
    default:
      return x;
  }
}

bool AlphaPasses(DWORD func, int alpha, int ref) {
  switch (func) {
    case D3DCMP_NEVER:
      return false;
    case D3DCMP_LESS:
      return alpha < ref;
    case D3DCMP_EQUAL:
      return alpha == ref;
    case D3DCMP_LESSEQUAL:
      return alpha <= ref;
    case D3DCMP_GREATER:
      return alpha > ref;
    case D3DCMP_NOTEQUAL:
      return alpha != ref;
    case D3DCMP_GREATEREQUAL:
      return alpha >= ref;
    default:
      return true;
  }
}

// Blend factor for one channel: c is the channel of src (index 1..3) or alpha (0).
int Factor(DWORD f, const Rgba& s, const Rgba& d, int channel) {
  const int sc[4] = {s.a, s.r, s.g, s.b};
  const int dc[4] = {d.a, d.r, d.g, d.b};
  switch (f) {
    case D3DBLEND_ZERO:
      return 0;
    case D3DBLEND_ONE:
      return 255;
    case D3DBLEND_SRCCOLOR:
      return sc[channel];
    case D3DBLEND_INVSRCCOLOR:
      return 255 - sc[channel];
    case D3DBLEND_SRCALPHA:
      return s.a;
    case D3DBLEND_INVSRCALPHA:
      return 255 - s.a;
    case D3DBLEND_DESTALPHA:
      return d.a;
    case D3DBLEND_INVDESTALPHA:
      return 255 - d.a;
    case D3DBLEND_DESTCOLOR:
      return dc[channel];
    case D3DBLEND_INVDESTCOLOR:
      return 255 - dc[channel];
    case D3DBLEND_SRCALPHASAT:
      return channel == 0 ? 255 : std::min(s.a, 255 - d.a);
    default:
      return 255;
  }
}

// result = round((src * Fs + dst * Fd) / 255), clamped to 255.
inline int BlendChannel(int s, int fs, int d, int fd) {
  return std::min(255, (s * fs + d * fd + 127) / 255);
}

}  // namespace

DWORD DeviceImpl::Shade(const Triangle& t, double px, double py, int stages, bool& discard) {
  const Rgba diffuse = Unpack(t.diffuseConst ? t.diffuse : InterpolateColor(t.diffusePlane, px, py));
  const Rgba specular = Unpack(t.specularConst ? t.specular : InterpolateColor(t.specularPlane, px, py));
  const Rgba factor = Unpack(rs_[D3DRENDERSTATE_TEXTUREFACTOR]);
  Rgba current = diffuse;
  for (int s = 0; s < stages; ++s) {
    const DWORD* st = tss_[s];
    const Sampler& sm = samplers_[s];
    Rgba texel{255, 255, 255, 255};
    if (sm.surface) {
      const std::int64_t tx = TexelFixed(t.u[s], px, py, sm.w);
      const std::int64_t ty = TexelFixed(t.v[s], px, py, sm.h);
      if (sm.keyed && sm.NearestKeyedOut(tx, ty)) {
        discard = true;
        return 0;
      }
      texel = Unpack(sm.Sample(tx, ty, t.minify[s] ? sm.linearMin : sm.linearMag));
    }
    const Rgba c1 = Argument(st[D3DTSS_COLORARG1], diffuse, current, texel, factor, specular);
    const Rgba c2 = Argument(st[D3DTSS_COLORARG2], diffuse, current, texel, factor, specular);
    const DWORD cop = st[D3DTSS_COLOROP];
    Rgba next;
    next.r = Operate(cop, c1.r, c2.r, diffuse.a, texel.a, factor.a, current.a);
    next.g = Operate(cop, c1.g, c2.g, diffuse.a, texel.a, factor.a, current.a);
    next.b = Operate(cop, c1.b, c2.b, diffuse.a, texel.a, factor.a, current.a);
    const DWORD aop = st[D3DTSS_ALPHAOP];
    if (aop == D3DTOP_DISABLE) {
      next.a = current.a;
    } else {
      const Rgba a1 = Argument(st[D3DTSS_ALPHAARG1], diffuse, current, texel, factor, specular);
      const Rgba a2 = Argument(st[D3DTSS_ALPHAARG2], diffuse, current, texel, factor, specular);
      next.a = Operate(aop, a1.a, a2.a, diffuse.a, texel.a, factor.a, current.a);
    }
    current = next;
  }
  if (rs_[D3DRENDERSTATE_SPECULARENABLE]) {
    current.r = std::min(255, current.r + specular.r);
    current.g = std::min(255, current.g + specular.g);
    current.b = std::min(255, current.b + specular.b);
  }
  if (rs_[D3DRENDERSTATE_ALPHATESTENABLE] &&
      !AlphaPasses(rs_[D3DRENDERSTATE_ALPHAFUNC], current.a, int(rs_[D3DRENDERSTATE_ALPHAREF] & 0xFF))) {
    discard = true;
    return 0;
  }
  return Pack(current);
}

void DeviceImpl::WritePixel(std::uint8_t* p, DWORD src) {
  SurfaceImpl& t = *target_;
  const PALETTEENTRY* pal = t.Palette();
  if (!rs_[D3DRENDERSTATE_ALPHABLENDENABLE]) {
    WriteRaw(p, t.format.bpp, FromArgb(t.format, src, pal));
    return;
  }
  DWORD fsMode = rs_[D3DRENDERSTATE_SRCBLEND], fdMode = rs_[D3DRENDERSTATE_DESTBLEND];
  if (fsMode == D3DBLEND_BOTHSRCALPHA) {
    fsMode = D3DBLEND_SRCALPHA;
    fdMode = D3DBLEND_INVSRCALPHA;
  } else if (fsMode == D3DBLEND_BOTHINVSRCALPHA) {
    fsMode = D3DBLEND_INVSRCALPHA;
    fdMode = D3DBLEND_SRCALPHA;
  }
  const Rgba s = Unpack(src);
  const Rgba d = Unpack(ToArgb(t.format, ReadRaw(p, t.format.bpp), pal));
  Rgba r;
  r.a = BlendChannel(s.a, Factor(fsMode, s, d, 0), d.a, Factor(fdMode, s, d, 0));
  r.r = BlendChannel(s.r, Factor(fsMode, s, d, 1), d.r, Factor(fdMode, s, d, 1));
  r.g = BlendChannel(s.g, Factor(fsMode, s, d, 2), d.g, Factor(fdMode, s, d, 2));
  r.b = BlendChannel(s.b, Factor(fsMode, s, d, 3), d.b, Factor(fdMode, s, d, 3));
  WriteRaw(p, t.format.bpp, FromArgb(t.format, Pack(r), pal));
}

void DeviceImpl::DrawTriangle(const Vertex* a, const Vertex* b, const Vertex* c, bool odd, int stages) {
  if (!a->valid || !b->valid || !c->valid) return;
  // Winding as the application sees it (odd strip triangles run the other way).
  const Vertex* wa = odd ? b : a;
  const Vertex* wb = odd ? a : b;
  std::int64_t det = Det(*wa, *wb, *c);
  if (det == 0) return;
  const DWORD cull = rs_[D3DRENDERSTATE_CULLMODE];
  // det > 0: clockwise on the screen (y grows downwards).
  if ((cull == D3DCULL_CCW && det < 0) || (cull == D3DCULL_CW && det > 0)) return;
  if (det < 0) {
    std::swap(wb, c);  // normalise to clockwise so the interior is on the positive side of every edge
    det = -det;
  }
  Triangle t;
  SetupTriangle(*wa, *wb, *c, double(det) / (kSubpixel * kSubpixel), stages, t);
  SurfaceImpl& target = *target_;
  const double x0 = std::max(0.0, std::ceil(t.minX)),
               x1 = std::min(double(target.width - 1), std::floor(t.maxX));
  const double y0 = std::max(0.0, std::ceil(t.minY)),
               y1 = std::min(double(target.height - 1), std::floor(t.maxY));
  if (x0 > x1 || y0 > y1) return;
  const int bytes = target.format.bpp / 8;
  for (int y = int(y0); y <= int(y1); ++y) {
    std::uint8_t* row = target.Row(y);
    for (int x = int(x0); x <= int(x1); ++x) {
      if (!t.edges[0].Inside(x, y) || !t.edges[1].Inside(x, y) || !t.edges[2].Inside(x, y)) continue;
      bool discard = false;
      const DWORD color = Shade(t, x, y, stages, discard);
      if (!discard) WritePixel(row + std::size_t(x) * std::size_t(bytes), color);
    }
  }
}

// The renderer's quad: a strip TL, TR, BL, BR of an axis-aligned rectangle with affine texture coordinates,
// one texture stage with texture and constant diffuse, blending off or by source alpha, a 32-bit target.
bool DeviceImpl::TryFastQuad(const Vertex* v, int stages) {
  if (stages != 1 || !samplers_[0].surface || samplers_[0].keyed) return false;
  if (!target_->format.IsArgb32()) return false;
  if (rs_[D3DRENDERSTATE_ALPHATESTENABLE] || rs_[D3DRENDERSTATE_SPECULARENABLE]) return false;
  const DWORD cull = rs_[D3DRENDERSTATE_CULLMODE];
  if (cull != D3DCULL_CCW && cull != D3DCULL_NONE) return false;
  const bool blend = rs_[D3DRENDERSTATE_ALPHABLENDENABLE] != 0;
  const DWORD fs = rs_[D3DRENDERSTATE_SRCBLEND], fd = rs_[D3DRENDERSTATE_DESTBLEND];
  const bool srcAlpha = blend && fs == D3DBLEND_SRCALPHA && fd == D3DBLEND_INVSRCALPHA;
  if (blend && !srcAlpha && !(fs == D3DBLEND_ONE && fd == D3DBLEND_ZERO)) return false;
  const DWORD* st = tss_[0];
  if ((st[D3DTSS_TEXCOORDINDEX] & 0xFFFF) != 0) return false;
  // Each result is the texel, the diffuse colour, or their product.
  auto mode = [](DWORD op, DWORD a1, DWORD a2, int& out) {
    auto source = [](DWORD arg) {
      return arg == D3DTA_TEXTURE ? 1 : (arg == D3DTA_DIFFUSE || arg == D3DTA_CURRENT ? 2 : 0);
    };
    const int s1 = source(a1), s2 = source(a2);
    if (!s1 || !s2) return false;
    if (op == D3DTOP_SELECTARG1)
      out = s1;
    else if (op == D3DTOP_SELECTARG2)
      out = s2;
    else if (op == D3DTOP_MODULATE)
      out = s1 == s2 ? (s1 == 1 ? 4 : 5) : 3;  // 3: texel x diffuse; 4: texel squared; 5: diffuse squared
    else
      return false;
    return out <= 3;
  };
  int colorMode = 0, alphaMode = 0;
  if (!mode(st[D3DTSS_COLOROP], st[D3DTSS_COLORARG1], st[D3DTSS_COLORARG2], colorMode)) return false;
  if (!mode(st[D3DTSS_ALPHAOP], st[D3DTSS_ALPHAARG1], st[D3DTSS_ALPHAARG2], alphaMode)) return false;
  const DWORD diffuse = v[0].diffuse;
  for (int i = 1; i < 4; ++i)
    if (v[i].diffuse != diffuse) return false;
  const Sampler& sm = samplers_[0];
  if (IsLinear(st[D3DTSS_MAGFILTER]) != IsLinear(st[D3DTSS_MINFILTER])) return false;
  const bool linear = sm.linearMag;
  if (sm.addrU == D3DTADDRESS_BORDER || sm.addrV == D3DTADDRESS_BORDER) return false;
  // Geometry: TL, TR, BL, BR with the texture axes along the screen axes.
  if (!(v[0].y == v[1].y && v[2].y == v[3].y && v[0].x == v[2].x && v[1].x == v[3].x)) return false;
  for (int i = 0; i < 4; ++i)
    if (!v[i].valid) return false;
  if (!(v[0].x < v[1].x && v[0].y < v[2].y)) return false;

  // The same two triangles, in the same vertex order, as the general path sets up (edges and stage 0).
  QuadTriangle t1, t2;
  {
    const std::int64_t det1 = Det(v[0], v[1], v[2]);
    // Odd strip triangle (v1, v2, v3): winding order (v2, v1, v3), clockwise here.
    const std::int64_t det2 = Det(v[2], v[1], v[3]);
    if (det1 <= 0 || det2 <= 0) return false;
    SetupQuadTriangle(v[0], v[1], v[2], double(det1) / (kSubpixel * kSubpixel), t1);
    SetupQuadTriangle(v[2], v[1], v[3], double(det2) / (kSubpixel * kSubpixel), t2);
  }
  if (t1.u.dqdy != 0 || t1.v.dqdx != 0 || t2.u.dqdy != 0 || t2.v.dqdx != 0) return false;
  if (t1.minify != t2.minify) return false;

  SurfaceImpl& target = *target_;
  const double left = std::ceil(v[0].x), right = std::ceil(v[1].x);
  const double top = std::ceil(v[0].y), bottom = std::ceil(v[2].y);
  const int xs = int(std::max(0.0, left)), xe = int(std::min(double(target.width), right));
  const int ys = int(std::max(0.0, top)), ye = int(std::min(double(target.height), bottom));
  ++state_->fastDraws;
  if (xs >= xe || ys >= ye) return true;

  const bool clipped = left < 0 || top < 0 || right > double(target.width) || bottom > double(target.height);
  const QuadLayout& layout = Layout(t1, t2, xs, xe, ys, ye, linear, clipped);
  const SpanColumns* columns[2] = {&layout.columns[0], &layout.columns[layout.sameColumns ? 0 : 1]};
  const std::size_t cols = std::size_t(xe - xs);
  FastShade shade;
  shade.colorMode = colorMode;
  shade.alphaMode = alphaMode;
  shade.dif = Unpack(diffuse);
  // Products with 255 or 0 are exact, so they reduce to selections.
  if (shade.colorMode == 3 && (diffuse & 0xFFFFFFu) == 0xFFFFFFu) shade.colorMode = 1;
  if (shade.colorMode == 3 && (diffuse & 0xFFFFFFu) == 0) shade.colorMode = 2;
  if (shade.alphaMode == 3 && (diffuse >> 24) == 255) shade.alphaMode = 1;
  if (shade.alphaMode == 3 && (diffuse >> 24) == 0) shade.alphaMode = 2;
  shade.srcAlpha = srcAlpha;
  shade.targetAlpha = target.format.a != 0;
  // Stored without blending on a target without alpha, the source alpha is never seen.
  if (!shade.srcAlpha && !shade.targetAlpha) shade.alphaMode = 1;
  const bool plainTexel = shade.colorMode == 1 && shade.alphaMode == 1;
  // A texture without alpha is opaque: blending by its alpha is then a plain store.
  const bool blendSpans = shade.srcAlpha && !(plainTexel && sm.opaqueMask);
  const DWORD keep = shade.targetAlpha ? 0xFFFFFFFFu : 0x00FFFFFFu;
  // Plain texel colours stored without blending go straight to the target.
  const bool direct = plainTexel && !blendSpans;
  // Sampled texels: an opaque format's are alpha 255 (the bilinear mean of 255s is 255 too); stored
  // directly they also take the target's alpha rule.
  const DWORD outSet = sm.opaqueMask, outKeep = direct ? keep : 0xFFFFFFFFu;
  if (texels_.size() < cols) texels_.resize(cols);
  if (!kBiasedSums && lanesA_.size() < 4 * cols) {  // scratch of the portable horizontal pass
    lanesA_.resize(4 * cols);
    lanesB_.resize(4 * cols);
  }
  if (sums_.size() < 4 * std::size_t(sm.w)) sums_.resize(4 * std::size_t(sm.w));
#if defined(DS_SOFT3D_AVX2)
  // 0: the family's common vectors; 1: 256-bit; 2: 512-bit.
  const int wide = state_->wideVectors && HasAvx2() ? (state_->widestVectors && HasAvx512() ? 2 : 1) : 0;
#else
  const int wide = 0;
#endif
  if (cols * std::size_t(ye - ys) <= 16384)
    PrefetchRows(target.Row(ys) + std::size_t(xs) * 4, std::size_t(target.pitch), ye - ys, 4 * cols);
  if (layout.plainRows && layout.columns[0].contiguous && blendSpans && plainTexel && !sm.opaqueMask) {
    // Texels 1:1 with pixels: blend straight from the texture, row after row.
    const std::uint8_t* src = sm.bits + layout.columns[0].taps[0].off0;
    std::uint8_t* dst = target.Row(ys) + std::size_t(xs) * 4;
    const std::size_t pitch = std::size_t(target.pitch), rows = std::size_t(ye - ys);
    if (shade.targetAlpha)
      BlendRect<true>(src, layout.rowStarts.data(), dst, pitch, cols, rows, wide);
    else
      BlendRect<false>(src, layout.rowStarts.data(), dst, pitch, cols, rows, wide);
    return true;
  }
  const std::size_t rows = std::size_t(ye - ys);
  const bool cacheable = state_->quadResultCache && direct && sm.surface != target_ && !sm.surface->Busy() &&
                         cols * rows >= kCachedQuadPixels && cols <= ~std::size_t(0) / 4 / rows;
  if (cacheable && result_.valid && result_.texture == sm.surface && result_.version == sm.surface->version &&
      result_.set == outSet && result_.keep == outKeep &&
      std::memcmp(&result_.key, &layout.key, sizeof(QuadKey)) == 0) {
    for (std::size_t j = 0; j < rows; ++j)
      std::memcpy(target.Row(ys + int(j)) + std::size_t(xs) * 4, result_.pixels.data() + j * cols * 4,
                  cols * 4);
    return true;
  }
  // The vertical sums in sums_ hold source rows sumsRow for the columns of the triangles in sumsCover.
  Tap sumsRow{~std::size_t(0), 0, -1};
  unsigned sumsCover = 0;
  for (int y = ys; y < ye; ++y) {
    const std::size_t j = std::size_t(y - ys);
    const Tap rows[2] = {layout.rowTaps[0][j], layout.rowTaps[1][j]};
    const int split = xs + layout.split[j];
    // Both triangles reading the same texels make the row one span.
    const bool joined = columns[0] == columns[1] && rows[0].off0 == rows[1].off0 &&
                        rows[0].off1 == rows[1].off1 && rows[0].f == rows[1].f;
    const int bounds[3] = {xs, joined ? xe : split, xe};
    for (int k = 0; k < 2; ++k) {
      const int from = bounds[k], to = bounds[k + 1];
      if (from >= to) continue;
      const SpanColumns& c = *columns[k];
      const Tap& r = rows[k];
      const std::size_t first = std::size_t(from - xs), n = std::size_t(to - from);
      const Tap* taps = c.taps.data() + first;
      std::uint8_t* dst = target.Row(y) + std::size_t(from) * 4;
      std::uint8_t* scratch = reinterpret_cast<std::uint8_t*>(texels_.data());
      std::uint8_t* out = direct ? dst : scratch;
      const std::uint8_t* src = out;  // the span's texels once sampled
      bool masked = false;            // whether out has had outSet and outKeep applied
      if (!c.filtered && r.f == 0) {
        const std::uint8_t* row = sm.bits + r.off0;
        if (c.contiguous && !direct && !sm.opaqueMask && plainTexel) {
          src = row + taps[0].off0;  // texels 1:1 with pixels: blend straight from the texture
        } else if (c.contiguous) {
          std::memmove(out, row + taps[0].off0, 4 * n);
        } else {
          GatherTexels(row, taps, n, out);
        }
      } else {
        // Vertical sums once per source row pair over the texture columns the spans reach.
        const unsigned bit = columns[k] == columns[0] ? 1u : 2u;
        const bool sameRow = r.off0 == sumsRow.off0 && r.off1 == sumsRow.off1 && r.f == sumsRow.f;
        if (!sameRow || !(sumsCover & bit)) {
          const std::vector<ColumnRange>* ranges = &c.ranges;
          unsigned cover = bit;
          // Covering the second triangle's columns too lets its span of this row reuse the sums.
          const Tap& o = rows[1];
          if (k == 0 && bit == 1 && columns[1] != columns[0] && split < xe && o.off0 == r.off0 &&
              o.off1 == r.off1 && o.f == r.f) {
            UniteRanges(c.ranges, columns[1]->ranges, ranges_);
            ranges = &ranges_;
            cover = 3;
          } else if (k == 0 && columns[1] == columns[0]) {
            cover = 3;
          }
          const std::size_t next =
              r.off1 + sm.pitch < std::size_t(sm.h) * sm.pitch ? r.off1 + sm.pitch : r.off1;
          for (const ColumnRange& cr : *ranges) {
            const std::size_t byte = 4 * std::size_t(cr.low);
            VerticalLanes(sm.bits + r.off0 + byte, sm.bits + r.off1 + byte, sm.bits + next + byte,
                          sums_.data() + byte, 4 * std::size_t(cr.high - cr.low + 1), r.f, wide);
          }
          sumsCover = sameRow ? sumsCover | cover : cover;
          sumsRow = r;
        }
        HorizontalLanes(sums_.data(), c, first, n, lanesA_.data(), lanesB_.data(), out, outSet, outKeep,
                        wide);
        masked = true;
      }
      if (src == out && !masked) MaskWords(out, n, outSet, outKeep);
      if (direct) continue;
      if (!plainTexel) ModulateSpan(out, n, shade);
      if (blendSpans) {
        if (shade.targetAlpha)
          BlendSpan<true>(src, dst, n, wide);
        else
          BlendSpan<false>(src, dst, n, wide);
      } else {
        std::memmove(dst, src, 4 * n);
        MaskWords(dst, n, 0, keep);
      }
    }
  }
  if (cacheable) {
    result_.valid = false;
    try {
      result_.pixels.resize(cols * rows * 4);
    } catch (const std::bad_alloc&) {
      result_.pixels = std::vector<std::uint8_t>();
      return true;  // drawn; only not kept
    }
    for (std::size_t j = 0; j < rows; ++j)
      std::memcpy(result_.pixels.data() + j * cols * 4, target.Row(ys + int(j)) + std::size_t(xs) * 4,
                  cols * 4);
    result_.valid = true;
    result_.texture = sm.surface;
    result_.version = sm.surface->version;
    result_.key = layout.key;
    result_.set = outSet;
    result_.keep = outKeep;
  }
  return true;
}

void DeviceImpl::SetupQuadTriangle(const Vertex& a, const Vertex& b, const Vertex& c, double det,
                                   QuadTriangle& t) {
  t.edges[0] = MakeEdge(a, b);
  t.edges[1] = MakeEdge(b, c);
  t.edges[2] = MakeEdge(c, a);
  StagePlanes(a, b, c, 0, det, samplers_[0], t.u, t.v, t.minify);
}

// The layout of a quad at (xs, ys) .. (xe, ye): found among the recent ones, else made in the least
// recently used slot.
const QuadLayout& DeviceImpl::Layout(const QuadTriangle& t1, const QuadTriangle& t2, int xs, int xe, int ys,
                                     int ye, bool linear, bool clipped) {
  const Sampler& sm = samplers_[0];
  const QuadTriangle* tris[2] = {&t1, &t2};
  const Edge& diagonal = t2.edges[0];  // BL -> TR: the shared edge, inclusive for t2
  QuadKey key;
  std::memset(&key, 0, sizeof(key));  // compared byte for byte, padding included
  for (int k = 0; k < 2; ++k) {
    key.uq0[k] = tris[k]->u.q0;
    key.udx[k] = tris[k]->u.dqdx;
    key.uoff[k] = double(xs) - tris[k]->u.xa;
    key.vq0[k] = tris[k]->v.q0;
    key.vdy[k] = tris[k]->v.dqdy;
    key.voff[k] = double(ys) - tris[k]->v.ya;
  }
  key.diagDx = diagonal.dx;
  key.diagDy = diagonal.dy;
  key.diagX = std::int64_t(xs) * 256 - diagonal.xi;
  key.diagY = std::int64_t(ys) * 256 - diagonal.yi;
  key.pitch = sm.pitch;
  key.texW = sm.w;
  key.texH = sm.h;
  key.cols = xe - xs;
  key.rows = ye - ys;
  key.addrU = sm.addrU;
  key.addrV = sm.addrV;
  key.linear = linear;
  key.diagInclusive = diagonal.inclusive;
  auto same = [&key](const QuadLayout& l) {
    return l.valid && l.key.cols == key.cols && l.key.rows == key.rows &&
           std::memcmp(&l.key, &key, sizeof(key)) == 0;
  };
  ++layoutClock_;
  QuadLayout* slot = &clippedLayout_;
  if (clipped) {
    // A quad cut by the target's edges seldom comes again the same: it is kept apart, so it does not
    // push out the layouts that are used every frame.
    if (same(clippedLayout_)) return clippedLayout_;
  } else {
    slot = &layouts_[0];
    for (QuadLayout& l : layouts_) {
      if (same(l)) {
        l.lastUse = layoutClock_;
        return l;
      }
      if (!l.valid || (slot->valid && l.lastUse < slot->lastUse)) slot = &l;
    }
  }
  QuadLayout& l = *slot;
  l.valid = false;  // until every table is made (making them may run out of memory)

  // Texel addresses per column (for each triangle) and per row, wrapped once instead of per pixel.
  auto tap = [linear](std::int64_t t, int n, DWORD mode, std::size_t scale) {
    bool unused = false;
    const std::int64_t i0 = linear ? (t >> 8) : ((t + 128) >> 8);
    Tap r;
    r.f = linear ? int(t & 255) : 0;
    r.off0 = std::size_t(WrapIndex(i0, n, mode, unused)) * scale;
    r.off1 = std::size_t(WrapIndex(i0 + 1, n, mode, unused)) * scale;
    return r;
  };
  const std::size_t cols = std::size_t(xe - xs), rows = std::size_t(ye - ys);
  // The two triangles' u planes are the same function of x when they agree in everything but the row they
  // are anchored on (their y slope is zero): then so are their column taps.
  const Plane &pu1 = t1.u, &pu2 = t2.u;
  l.sameColumns =
      pu1.q0 == pu2.q0 && pu1.dqdx == pu2.dqdx && pu1.xa == pu2.xa && pu1.dqdy == 0 && pu2.dqdy == 0;
  for (int k = 0; k < (l.sameColumns ? 1 : 2); ++k) {
    SpanColumns& c = l.columns[k];
    c.taps.resize(cols);
    c.col0.resize(cols);
    c.col1.resize(cols);
    c.filtered = false;
    c.contiguous = true;
    for (int x = xs; x < xe; ++x) {
      const std::size_t i = std::size_t(x - xs);
      const Tap t = tap(TexelFixed(tris[k]->u, x, ys, sm.w), sm.w, sm.addrU, 4);
      c.taps[i] = t;
      c.col0[i] = std::uint32_t(t.off0 / 4);
      c.col1[i] = std::uint32_t(t.off1 / 4);
      c.filtered = c.filtered || t.f != 0;
      c.contiguous = c.contiguous && t.off0 == c.taps[0].off0 + 4 * i;
    }
    c.contiguous = c.contiguous && !c.filtered;
  }
  for (int k = 0; k < 2; ++k) {
    l.rowTaps[k].resize(rows);
    for (int y = ys; y < ye; ++y)
      l.rowTaps[k][std::size_t(y - ys)] = tap(TexelFixed(tris[k]->v, xs, y, sm.h), sm.h, sm.addrV, sm.pitch);
  }
  // Coverage as the general path finds it: the rectangle (exact), split by the diagonal, whose test
  // changes once along each row.
  l.split.resize(rows);
  for (int y = ys; y < ye; ++y) {
    int lo = xs, hi = xe;
    while (lo < hi) {
      const int mid = lo + (hi - lo) / 2;
      if (diagonal.Inside(mid, y))
        hi = mid;
      else
        lo = mid + 1;
    }
    l.split[std::size_t(y - ys)] = lo - xs;
  }
  l.plainRows = l.sameColumns && !l.columns[0].filtered;
  l.rowStarts.resize(rows);
  for (std::size_t j = 0; j < rows; ++j) {
    const Tap &a = l.rowTaps[0][j], &b = l.rowTaps[1][j];
    l.plainRows = l.plainRows && a.f == 0 && b.f == 0 && a.off0 == b.off0;
    l.rowStarts[j] = a.off0;
  }
  // A row filtered in either direction needs the filtered pass's tables.
  bool filteredRows = false;
  for (int k = 0; k < 2; ++k)
    for (const Tap& r : l.rowTaps[k]) filteredRows = filteredRows || r.f != 0;
  for (int k = 0; k < (l.sameColumns ? 1 : 2); ++k)
    if (l.columns[k].filtered || filteredRows) PrepareFiltered(l.columns[k]);
  l.key = key;
  l.lastUse = layoutClock_;
  l.valid = true;
  return l;
}

HRESULT DeviceImpl::DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, const void* vertices, DWORD count,
                                  DWORD) {
  ++state_->drawCalls;
  if (state_->drawFault.Take()) return state_->drawFault.result;
  if (!vertices) return DDERR_INVALIDPARAMS;
  if ((fvf & D3DFVF_POSITION_MASK) != D3DFVF_XYZRHW ||
      (fvf & ~(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEXCOUNT_MASK)))
    return D3DERR_INVALIDVERTEXTYPE;
  const DWORD texCount = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
  if (texCount > D3DMAXTEXTURESTAGES) return D3DERR_INVALIDVERTEXTYPE;
  if (type == D3DPT_POINTLIST || type == D3DPT_LINELIST || type == D3DPT_LINESTRIP) return DDERR_UNSUPPORTED;
  if (type != D3DPT_TRIANGLESTRIP && type != D3DPT_TRIANGLELIST && type != D3DPT_TRIANGLEFAN)
    return D3DERR_INVALIDPRIMITIVETYPE;
  if (target_->lost) return DDERR_SURFACELOST;
  if (target_->Busy()) return DDERR_SURFACEBUSY;
  if (count > 0xFFFF) return DDERR_INVALIDPARAMS;  // the most one call may draw

  const std::size_t stride =
      16 + ((fvf & D3DFVF_DIFFUSE) ? 4 : 0) + ((fvf & D3DFVF_SPECULAR) ? 4 : 0) + 8 * std::size_t(texCount);
  std::vector<Vertex>& vs = vertices_;
  vs.resize(count);
  const auto* bytes = static_cast<const std::uint8_t*>(vertices);
  for (DWORD i = 0; i < count; ++i) {
    const std::uint8_t* p = bytes + std::size_t(i) * stride;
    float xyz[4];
    std::memcpy(xyz, p, 16);
    p += 16;
    Vertex& v = vs[i];
    v.valid = std::isfinite(xyz[0]) && std::isfinite(xyz[1]) && std::fabs(xyz[0]) <= kMaxCoordinate &&
              std::fabs(xyz[1]) <= kMaxCoordinate;
    v.fx = v.valid ? std::int64_t(std::floor(double(xyz[0]) * kSubpixel + 0.5)) : 0;
    v.fy = v.valid ? std::int64_t(std::floor(double(xyz[1]) * kSubpixel + 0.5)) : 0;
    v.x = double(v.fx) / kSubpixel;
    v.y = double(v.fy) / kSubpixel;
    v.diffuse = 0xFFFFFFFFu;
    v.specular = 0;
    if (fvf & D3DFVF_DIFFUSE) {
      std::memcpy(&v.diffuse, p, 4);
      p += 4;
    }
    if (fvf & D3DFVF_SPECULAR) {
      std::memcpy(&v.specular, p, 4);
      p += 4;
    }
    for (DWORD s = 0; s < D3DMAXTEXTURESTAGES; ++s) {
      float uv[2] = {0, 0};
      if (s < texCount) std::memcpy(uv, p + 8 * s, 8);
      v.u[s] = uv[0];
      v.v[s] = uv[1];
    }
  }

  const int stages = ActiveStages();
  PrepareSamplers(stages);
  if (type == D3DPT_TRIANGLESTRIP && count == 4 && state_->fastPath && TryFastQuad(vs.data(), stages)) {
    target_->Touch();
    return D3D_OK;
  }
  ++state_->generalDraws;
  if (type == D3DPT_TRIANGLESTRIP) {
    for (DWORD i = 0; i + 2 < count; ++i) DrawTriangle(&vs[i], &vs[i + 1], &vs[i + 2], (i & 1) != 0, stages);
  } else if (type == D3DPT_TRIANGLEFAN) {
    for (DWORD i = 1; i + 1 < count; ++i) DrawTriangle(&vs[0], &vs[i], &vs[i + 1], false, stages);
  } else {
    for (DWORD i = 0; i + 2 < count; i += 3) DrawTriangle(&vs[i], &vs[i + 1], &vs[i + 2], false, stages);
  }
  target_->Touch();
  return D3D_OK;
}

}  // namespace plat::soft::dd
