// The soft Direct3D 7: device enumeration and creation, and the device's render and texture-stage states,
// textures and draw calls. Drawing goes to the general rasteriser for pre-transformed triangles
// (SoftDirect3DRaster.cpp); one axis-aligned textured quad on a 32-bit target, the renderer's common case,
// takes a fast path built from the same setup and arithmetic, so both give the same pixels
// (SoftDirect3DQuad.cpp).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/common/SoftDirect3DDevice.h"

namespace plat::soft::dd {

enum class DeviceKind { kRGB, kRef, kHAL, kTnLHAL };

struct DeviceInfo {
  DeviceKind kind;
  const GUID* guid;
  const char* description;
  const char* name;
  bool hardware;
};

namespace {

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

}  // namespace

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
