// The soft Direct3D device's general rasteriser: triangles of every kind the device takes, pixel by pixel
// through the texture stages, the alpha test and blending; and the triangle setup it shares with the fast
// quad path.
#include <algorithm>
#include <cmath>

#include "platform/common/SoftDirect3DDevice.h"

namespace plat::soft::dd {

// ---- Triangle setup, shared by both paths ----

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

}  // namespace plat::soft::dd
