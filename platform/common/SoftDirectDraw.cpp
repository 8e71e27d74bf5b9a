#include "platform/common/SoftDirectDraw.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/Clock.h"
#include "platform/Platform.h"
#include "platform/Windows.h"
#include "platform/common/SoftClock.h"
#include "platform/common/SoftDirectDrawInternal.h"
#include "platform/common/SoftGdi.h"

namespace plat::soft {

namespace dd {

// ---- Pixel formats ----

namespace {
int LowBit(DWORD m) {
  if (!m) return 0;
  int n = 0;
  while (!(m & 1u)) {
    m >>= 1;
    ++n;
  }
  return n;
}
int BitCount(DWORD m) {
  int n = 0;
  for (; m; m &= m - 1) ++n;
  return n;
}
}  // namespace

Format MakeRGB(int bpp, DWORD r, DWORD g, DWORD b, DWORD a) {
  Format f;
  f.kind = Format::kRGB;
  f.bpp = bpp;
  f.r = r;
  f.g = g;
  f.b = b;
  f.a = a;
  f.rShift = LowBit(r);
  f.gShift = LowBit(g);
  f.bShift = LowBit(b);
  f.aShift = LowBit(a);
  f.rBits = BitCount(r);
  f.gBits = BitCount(g);
  f.bBits = BitCount(b);
  f.aBits = BitCount(a);
  return f;
}

Format DisplayFormat(int bpp) {
  switch (bpp) {
    case 8: {
      Format f;
      f.kind = Format::kPal8;
      f.bpp = 8;
      return f;
    }
    case 16:
      return MakeRGB(16, 0xF800, 0x07E0, 0x001F, 0);
    case 24:
      return MakeRGB(24, 0xFF0000, 0xFF00, 0xFF, 0);
    default:
      return MakeRGB(32, 0xFF0000, 0xFF00, 0xFF, 0);
  }
}

bool FormatFromPixelFormat(const DDPIXELFORMAT& pf, Format& out) {
  if (pf.dwFlags & DDPF_ZBUFFER) {
    const DWORD depth = pf.dwZBufferBitDepth;
    if (depth != 16 && depth != 24 && depth != 32) return false;
    out = Format();
    out.kind = Format::kZ;
    out.bpp = depth == 16 ? 16 : 32;
    return true;
  }
  if (pf.dwFlags & DDPF_PALETTEINDEXED8) {
    if (pf.dwRGBBitCount != 8 && pf.dwRGBBitCount != 0) return false;
    out = DisplayFormat(8);
    return true;
  }
  if (!(pf.dwFlags & DDPF_RGB)) return false;
  const DWORD bpp = pf.dwRGBBitCount;
  if (bpp != 16 && bpp != 24 && bpp != 32) return false;
  const DWORD alpha = (pf.dwFlags & DDPF_ALPHAPIXELS) ? pf.dwRGBAlphaBitMask : 0;
  const DWORD limit = bpp == 32 ? 0xFFFFFFFFu : ((1u << bpp) - 1u);
  const DWORD masks[4] = {pf.dwRBitMask, pf.dwGBitMask, pf.dwBBitMask, alpha};
  DWORD seen = 0;
  for (int i = 0; i < 4; ++i) {
    const DWORD m = masks[i];
    if ((m & ~limit) || (m & seen)) return false;
    if (i < 3 && !m) return false;
    // Each mask one contiguous run of at most 8 bits.
    if (m) {
      const DWORD run = m >> LowBit(m);
      if ((run & (run + 1)) != 0 || BitCount(m) > 8) return false;
    }
    seen |= m;
  }
  if (bpp == 24 && alpha) return false;
  out = MakeRGB(int(bpp), masks[0], masks[1], masks[2], masks[3]);
  return true;
}

void FormatToPixelFormat(const Format& f, DDPIXELFORMAT& out) {
  std::memset(&out, 0, sizeof(out));
  out.dwSize = sizeof(DDPIXELFORMAT);
  switch (f.kind) {
    case Format::kZ:
      out.dwFlags = DDPF_ZBUFFER;
      out.dwZBufferBitDepth = DWORD(f.bpp);
      out.dwZBitMask = f.bpp == 16 ? 0xFFFFu : 0xFFFFFFFFu;
      break;
    case Format::kPal8:
      out.dwFlags = DDPF_RGB | DDPF_PALETTEINDEXED8;
      out.dwRGBBitCount = 8;
      break;
    case Format::kRGB:
      out.dwFlags = DDPF_RGB | (f.a ? DDPF_ALPHAPIXELS : 0);
      out.dwRGBBitCount = DWORD(f.bpp);
      out.dwRBitMask = f.r;
      out.dwGBitMask = f.g;
      out.dwBBitMask = f.b;
      out.dwRGBAlphaBitMask = f.a;
      break;
  }
}

DWORD ToArgb(const Format& f, DWORD raw, const PALETTEENTRY* pal) {
  if (f.kind == Format::kPal8) {
    const DWORD i = raw & 0xFF;
    if (!pal) return 0xFF000000u | (i << 16) | (i << 8) | i;
    return 0xFF000000u | (DWORD(pal[i].peRed) << 16) | (DWORD(pal[i].peGreen) << 8) | pal[i].peBlue;
  }
  if (f.kind == Format::kZ) return 0xFF000000u;
  if (f.IsArgb32()) return f.a ? raw : (raw | 0xFF000000u);
  const DWORD r = Expand((raw & f.r) >> f.rShift, f.rBits);
  const DWORD g = Expand((raw & f.g) >> f.gShift, f.gBits);
  const DWORD b = Expand((raw & f.b) >> f.bShift, f.bBits);
  const DWORD a = f.a ? Expand((raw & f.a) >> f.aShift, f.aBits) : 255u;
  return (a << 24) | (r << 16) | (g << 8) | b;
}

DWORD FromArgb(const Format& f, DWORD argb, const PALETTEENTRY* pal) {
  const DWORD a = argb >> 24, r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
  if (f.kind == Format::kPal8) {
    if (!pal) return (r * 77 + g * 150 + b * 29 + 128) >> 8;
    DWORD best = 0, bestDist = 0xFFFFFFFFu;
    for (DWORD i = 0; i < 256; ++i) {
      const int dr = int(pal[i].peRed) - int(r), dg = int(pal[i].peGreen) - int(g),
                dbb = int(pal[i].peBlue) - int(b);
      const DWORD d = DWORD(dr * dr + dg * dg + dbb * dbb);
      if (d < bestDist) {
        bestDist = d;
        best = i;
      }
    }
    return best;
  }
  if (f.kind == Format::kZ) return 0;
  if (f.IsArgb32()) return f.a ? argb : (argb & 0x00FFFFFFu);
  DWORD raw =
      (Reduce(r, f.rBits) << f.rShift) | (Reduce(g, f.gBits) << f.gShift) | (Reduce(b, f.bBits) << f.bShift);
  if (f.a) raw |= Reduce(a, f.aBits) << f.aShift;
  return raw;
}

// ---- Window clipping ----

namespace {
bool Intersect(RECT& a, const RECT& b) {
  a.left = std::max(a.left, b.left);
  a.top = std::max(a.top, b.top);
  a.right = std::min(a.right, b.right);
  a.bottom = std::min(a.bottom, b.bottom);
  return a.left < a.right && a.top < a.bottom;
}
bool ClientOnScreen(WindowSystem& ws, HWND w, RECT& out) {
  RECT r{};
  if (!ws.GetClientRect(w, &r)) return false;
  POINT p{0, 0};
  if (!ws.ClientToScreen(w, &p)) return false;
  out = {r.left + p.x, r.top + p.y, r.right + p.x, r.bottom + p.y};
  return true;
}
}  // namespace

bool VisibleWindowRect(HWND window, RECT& out) {
  WindowSystem* ws = CurrentServices().windows;
  if (!ws || !window || !ws->IsWindow(window) || !ws->IsWindowVisible(window)) return false;
  if (!ClientOnScreen(*ws, window, out)) return false;
  const HWND desktop = ws->GetDesktopWindow();
  HWND w = window;
  for (int depth = 0; depth < 256; ++depth) {
    const HWND parent = ws->GetAncestor(w, GA_PARENT);
    if (!parent || parent == desktop || parent == w) break;
    RECT pr{};
    if (!ClientOnScreen(*ws, parent, pr)) return false;
    if (!Intersect(out, pr)) return false;
    w = parent;
  }
  return out.left < out.right && out.top < out.bottom;
}

// ---- Clipper ----

HRESULT ClipperImpl::QueryInterface(REFIID iid, void** out) {
  if (!out) return DDERR_INVALIDPARAMS;
  if (iid == IID_IUnknown || iid == IID_IDirectDrawClipper) {
    AddRef();
    *out = static_cast<IDirectDrawClipper*>(this);
    return DD_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT ClipperImpl::SetHWnd(DWORD flags, HWND w) {
  if (flags != 0) return DDERR_INVALIDPARAMS;
  window = w;
  return DD_OK;
}

HRESULT ClipperImpl::GetHWnd(HWND* w) {
  if (!w) return DDERR_INVALIDPARAMS;
  *w = window;
  return DD_OK;
}

bool ClipperImpl::ClipRect(RECT& out) const {
  return VisibleWindowRect(window, out);
}

// ---- Palette ----

HRESULT PaletteImpl::QueryInterface(REFIID iid, void** out) {
  if (!out) return DDERR_INVALIDPARAMS;
  if (iid == IID_IUnknown || iid == IID_IDirectDrawPalette) {
    AddRef();
    *out = static_cast<IDirectDrawPalette*>(this);
    return DD_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT PaletteImpl::GetCaps(DWORD* caps) {
  if (!caps) return DDERR_INVALIDPARAMS;
  *caps = caps_;
  return DD_OK;
}

HRESULT PaletteImpl::SetEntries(DWORD flags, DWORD start, DWORD count, const PALETTEENTRY* e) {
  if (flags != 0 || !e || start >= DWORD(size_) || count > DWORD(size_) - start) return DDERR_INVALIDPARAMS;
  std::memcpy(entries + start, e, count * sizeof(PALETTEENTRY));
  return DD_OK;
}

HRESULT PaletteImpl::GetEntries(DWORD flags, DWORD start, DWORD count, PALETTEENTRY* e) {
  if (flags != 0 || !e || start >= DWORD(size_) || count > DWORD(size_) - start) return DDERR_INVALIDPARAMS;
  std::memcpy(e, entries + start, count * sizeof(PALETTEENTRY));
  return DD_OK;
}

// ---- DirectDraw object ----

HRESULT DirectDrawImpl::QueryInterface(REFIID iid, void** out) {
  if (!out) return DDERR_INVALIDPARAMS;
  if (iid == IID_IUnknown || iid == IID_IDirectDraw || iid == IID_IDirectDraw2 || iid == IID_IDirectDraw4 ||
      iid == IID_IDirectDraw7) {
    AddRef();
    *out = static_cast<IDirectDraw7*>(this);
    return DD_OK;
  }
  if (iid == IID_IDirect3D7) return CreateDirect3D(state_, this, out);
  *out = nullptr;
  return E_NOINTERFACE;
}

void DirectDrawImpl::FillCaps(DDCAPS& c, bool driver) const {
  std::memset(&c, 0, sizeof(c));
  c.dwSize = sizeof(DDCAPS);
  c.dwCaps = DDCAPS_BLT | DDCAPS_BLTSTRETCH | DDCAPS_BLTCOLORFILL | DDCAPS_COLORKEY | DDCAPS_GDI |
             DDCAPS_CANBLTSYSMEM;
  c.dwCKeyCaps = DDCKEYCAPS_SRCBLT;
  c.dwPalCaps = DDPCAPS_8BIT | DDPCAPS_PRIMARYSURFACE;
  c.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_PRIMARYSURFACE | DDSCAPS_SYSTEMMEMORY |
                     DDSCAPS_3DDEVICE | DDSCAPS_TEXTURE | DDSCAPS_ZBUFFER | DDSCAPS_PALETTE;
  c.dwZBufferBitDepths = DDBD_16 | DDBD_32;
  if (driver) {
    c.ddsCaps.dwCaps |= DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM;
    if (state_->hardware3D) c.dwCaps |= DDCAPS_3D;
    const std::size_t total = std::min<std::size_t>(state_->videoBudget, 0xFFFFFFFFu);
    const std::size_t used = std::min(state_->videoUsed, total);
    c.dwVidMemTotal = DWORD(total);
    c.dwVidMemFree = DWORD(total - used);
  }
}

HRESULT DirectDrawImpl::GetCaps(DDCAPS* driverCaps, DDCAPS* helCaps) {
  if (!driverCaps && !helCaps) return DDERR_INVALIDPARAMS;
  if ((driverCaps && driverCaps->dwSize != sizeof(DDCAPS)) || (helCaps && helCaps->dwSize != sizeof(DDCAPS)))
    return DDERR_INVALIDPARAMS;
  if (driverCaps) FillCaps(*driverCaps, true);
  if (helCaps) FillCaps(*helCaps, false);
  return DD_OK;
}

HRESULT DirectDrawImpl::SetCooperativeLevel(HWND w, DWORD flags) {
  const bool normal = (flags & DDSCL_NORMAL) != 0;
  const bool exclusive = (flags & DDSCL_EXCLUSIVE) != 0 && (flags & DDSCL_FULLSCREEN) != 0;
  if (normal == exclusive) return DDERR_INVALIDPARAMS;
  if (exclusive && !w) return DDERR_INVALIDPARAMS;
  cooperative = true;
  window = w;
  return DD_OK;
}

HRESULT DirectDrawImpl::CreateSurface(DDSURFACEDESC2* desc, IDirectDrawSurface7** out, IUnknown* outer) {
  if (!out) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  if (!desc || outer) return DDERR_INVALIDPARAMS;
  const std::size_t size = DescBytes(desc->dwSize);
  if (!size) return DDERR_INVALIDPARAMS;
  if (!cooperative) return DDERR_NOCOOPERATIVELEVELSET;
  DDSURFACEDESC2 d{};
  std::memcpy(&d, desc, size);
  if (!(d.dwFlags & DDSD_CAPS)) return DDERR_INVALIDPARAMS;
  State::CountedFault& fault = state_->surfaceFault;
  if ((d.ddsCaps.dwCaps & fault.capsMask) == fault.capsMask && fault.Take()) return fault.result;
  auto* s = new SurfaceImpl(state_, this);
  const HRESULT hr = s->Init(d, size);
  if (FAILED(hr)) {
    s->Release();
    return hr;
  }
  *out = s;
  return DD_OK;
}

HRESULT DirectDrawImpl::CreateClipper(DWORD flags, IDirectDrawClipper** out, IUnknown* outer) {
  if (!out) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  if (flags != 0 || outer) return DDERR_INVALIDPARAMS;
  *out = new ClipperImpl(state_);
  return DD_OK;
}

HRESULT DirectDrawImpl::CreatePalette(DWORD flags, const PALETTEENTRY* entries, IDirectDrawPalette** out,
                                      IUnknown* outer) {
  if (!out) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  if (outer || !entries) return DDERR_INVALIDPARAMS;
  int size = 0;
  const DWORD depth = flags & (DDPCAPS_1BIT | DDPCAPS_2BIT | DDPCAPS_4BIT | DDPCAPS_8BIT);
  switch (depth) {
    case DDPCAPS_1BIT:
      size = 2;
      break;
    case DDPCAPS_2BIT:
      size = 4;
      break;
    case DDPCAPS_4BIT:
      size = 16;
      break;
    case DDPCAPS_8BIT:
      size = 256;
      break;
    default:
      return DDERR_INVALIDPARAMS;
  }
  auto* p = new PaletteImpl(state_, flags, size);
  std::memcpy(p->entries, entries, std::size_t(size) * sizeof(PALETTEENTRY));
  *out = p;
  return DD_OK;
}

HRESULT DirectDrawImpl::WaitForVerticalBlank(DWORD flags, HANDLE event) {
  if (event || (flags != DDWAITVB_BLOCKBEGIN && flags != DDWAITVB_BLOCKEND)) return DDERR_INVALIDPARAMS;
  ++state_->vblankWaits;
  if (state_->verticalBlankWait) {
    state_->verticalBlankWait();
    return DD_OK;
  }
  Clock* clock = CurrentServices().clock;
  if (!clock) return DD_OK;
  // Refreshes begin every 1/60 s from the clock's start; the wait ends at the next one after now.
  auto nextRefresh = [](std::uint64_t nowUs) {
    const std::uint64_t n = nowUs * 60 / 1000000 + 1;
    return (n * 1000000 + 59) / 60;
  };
  if (auto* soft = dynamic_cast<SoftClock*>(clock)) {
    const std::uint64_t now = soft->NowMicroseconds();
    const std::uint64_t target = nextRefresh(now);
    if (soft->IsVirtual())
      soft->AdvanceToMicroseconds(target);
    else
      std::this_thread::sleep_for(std::chrono::microseconds(target - now));
    return DD_OK;
  }
  LONGLONG freq = 0, count = 0;
  if (clock->QueryPerformanceFrequency(&freq) && freq > 0 && clock->QueryPerformanceCounter(&count)) {
    const std::uint64_t now = std::uint64_t(count) * 1000000 / std::uint64_t(freq);
    std::this_thread::sleep_for(std::chrono::microseconds(nextRefresh(now) - now));
  }
  return DD_OK;
}

namespace {
void DescribeMode(DDSURFACEDESC2& d, int w, int h, const Format& f) {
  const DWORD size = d.dwSize;
  std::memset(&d, 0, DescBytes(size));
  d.dwSize = size;
  d.dwFlags = DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT | DDSD_REFRESHRATE;
  d.dwWidth = DWORD(w);
  d.dwHeight = DWORD(h);
  d.lPitch = LONG(((w * f.bpp + 31) / 32) * 4);
  d.dwRefreshRate = 60;
  FormatToPixelFormat(f, d.ddpfPixelFormat);
}
}  // namespace

HRESULT DirectDrawImpl::GetDisplayMode(DDSURFACEDESC2* desc) {
  if (!desc || !DescBytes(desc->dwSize)) return DDERR_INVALIDPARAMS;
  DescribeMode(*desc, state_->screenWidth, state_->screenHeight, state_->screenFormat);
  return DD_OK;
}

HRESULT DirectDrawImpl::EnumDisplayModes(DWORD, DDSURFACEDESC2* filter, void* context,
                                         LPDDENUMMODESCALLBACK2 callback) {
  if (!callback) return DDERR_INVALIDPARAMS;
  struct Mode {
    int w, h;
  };
  std::vector<Mode> modes = {{640, 480}, {800, 600}, {1024, 768}, {1280, 1024}};
  const Mode screen{state_->screenWidth, state_->screenHeight};
  if (std::none_of(modes.begin(), modes.end(),
                   [&](const Mode& m) { return m.w == screen.w && m.h == screen.h; }))
    modes.push_back(screen);
  for (int bpp : {8, 16, 24, 32}) {
    for (const Mode& m : modes) {
      if (filter) {
        if ((filter->dwFlags & DDSD_WIDTH) && filter->dwWidth != DWORD(m.w)) continue;
        if ((filter->dwFlags & DDSD_HEIGHT) && filter->dwHeight != DWORD(m.h)) continue;
        if ((filter->dwFlags & DDSD_PIXELFORMAT) && filter->ddpfPixelFormat.dwRGBBitCount != DWORD(bpp))
          continue;
      }
      DDSURFACEDESC2 d{};
      d.dwSize = sizeof(d);
      DescribeMode(d, m.w, m.h, DisplayFormat(bpp));
      if (callback(&d, context) == DDENUMRET_CANCEL) return DD_OK;
    }
  }
  return DD_OK;
}

HRESULT DirectDrawImpl::GetAvailableVidMem(DDSCAPS2* caps, DWORD* total, DWORD* free) {
  if (!caps) return DDERR_INVALIDPARAMS;
  const std::size_t t = std::min<std::size_t>(state_->videoBudget, 0xFFFFFFFFu);
  const std::size_t used = std::min(state_->videoUsed, t);
  if (caps->dwCaps & DDSCAPS_SYSTEMMEMORY) return DDERR_INVALIDCAPS;
  if (total) *total = DWORD(t);
  if (free) *free = DWORD(t - used);
  return DD_OK;
}

HRESULT DirectDrawImpl::RestoreAllSurfaces() {
  HRESULT result = DD_OK;
  for (SurfaceImpl* s : surfaces)
    if (s->lost) {
      const HRESULT hr = s->Restore();
      if (FAILED(hr)) result = hr;
    }
  return result;
}

// ---- Library entry points ----

namespace {}  // namespace
SoftDirectDraw* g_lastSoft =
    nullptr;  // the newest live service, for entry points called without one installed
namespace {

SoftDirectDraw* CurrentSoft() {
  if (DirectDrawSystem* sys = CurrentServices().ddraw)
    if (auto* soft = dynamic_cast<SoftDirectDraw*>(sys)) return soft;
  return g_lastSoft;
}

HRESULT EntryCreateEx(GUID* guid, void** out, REFIID iid, IUnknown* outer) {
  if (SoftDirectDraw* soft = CurrentSoft()) return soft->DirectDrawCreateEx(guid, out, iid, outer);
  return DDERR_GENERIC;
}

HRESULT EntryCreate(GUID* guid, IDirectDraw7** out, IUnknown* outer) {
  void* p = nullptr;
  if (!out) return DDERR_INVALIDPARAMS;
  const HRESULT hr = EntryCreateEx(guid, &p, IID_IDirectDraw7, outer);
  *out = static_cast<IDirectDraw7*>(p);
  return hr;
}

std::string Lower(const char* s) {
  std::string r = s ? s : "";
  for (char& c : r) c = char(std::tolower(static_cast<unsigned char>(c)));
  return r;
}
}  // namespace

}  // namespace dd

using dd::State;

SoftDirectDraw::SoftDirectDraw(const SoftOptions& options) : s_(std::make_unique<State>()) {
  s_->options = options;
  const int bpp = options.screenBitCount;
  s_->screenFormat = dd::DisplayFormat(bpp == 8 || bpp == 16 || bpp == 24 ? bpp : 32);
  s_->screenWidth = std::max(1, std::min(options.screenWidth, 16384));
  s_->screenHeight = std::max(1, std::min(options.screenHeight, 16384));
  s_->screenPitch = ((s_->screenWidth * s_->screenFormat.bpp + 31) / 32) * 4;
  s_->screen.Allocate(std::size_t(s_->screenPitch) * std::size_t(s_->screenHeight));
  s_->screenBits = s_->screen.data();
  // The system palette's grey ramp stands in for an 8-bit display's colours.
  for (int i = 0; i < 256; ++i) s_->screenPalette[i] = {BYTE(i), BYTE(i), BYTE(i), 0};
  dd::g_lastSoft = this;
}

SoftDirectDraw::~SoftDirectDraw() {
  if (s_->sharedGdi) {
    s_->sharedGdi->SetScreenBitmap(nullptr);
    s_->sharedGdi->DeleteObject(reinterpret_cast<HGDIOBJ>(s_->sharedScreen));
  }
  if (dd::g_lastSoft == this) dd::g_lastSoft = nullptr;
}

HMODULE SoftDirectDraw::LoadLibraryA(const char* fileName) {
  const std::string name = dd::Lower(fileName);
  if (name != "ddraw.dll" && name != "ddraw") return nullptr;
  if (!s_->libraryAvailable) return nullptr;
  ++s_->libraryRefs;
  return reinterpret_cast<HMODULE>(&s_->libraryRefs);
}

FARPROC SoftDirectDraw::GetProcAddress(HMODULE module, const char* procName) {
  if (module != reinterpret_cast<HMODULE>(&s_->libraryRefs) || s_->libraryRefs <= 0 || !procName)
    return nullptr;
  const std::string name = procName;
  if (std::find(s_->missingEntries.begin(), s_->missingEntries.end(), name) != s_->missingEntries.end())
    return nullptr;
  if (name == "DirectDrawCreateEx") return reinterpret_cast<FARPROC>(&dd::EntryCreateEx);
  if (name == "DirectDrawCreate") return reinterpret_cast<FARPROC>(&dd::EntryCreate);
  return nullptr;
}

BOOL SoftDirectDraw::FreeLibrary(HMODULE module) {
  if (module != reinterpret_cast<HMODULE>(&s_->libraryRefs) || s_->libraryRefs <= 0) return 0;
  --s_->libraryRefs;
  return 1;
}

HRESULT SoftDirectDraw::DirectDrawCreateEx(GUID* guid, void** out, REFIID iid, IUnknown* outer) {
  if (!out) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  if (outer || iid != IID_IDirectDraw7) return DDERR_INVALIDPARAMS;
  if (guid) return DDERR_INVALIDPARAMS;  // only the default display driver exists
  *out = static_cast<IDirectDraw7*>(new dd::DirectDrawImpl(s_.get()));
  return DD_OK;
}

int SoftDirectDraw::ScreenWidth() const {
  return s_->screenWidth;
}
int SoftDirectDraw::ScreenHeight() const {
  return s_->screenHeight;
}
int SoftDirectDraw::ScreenBitCount() const {
  return s_->screenFormat.bpp;
}

std::uint32_t SoftDirectDraw::ScreenPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= s_->screenWidth || y >= s_->screenHeight) return 0;
  const std::uint8_t* p = s_->screenBits + std::size_t(y) * std::size_t(s_->screenPitch) +
                          std::size_t(x) * std::size_t(s_->screenFormat.bpp / 8);
  return dd::ToArgb(s_->screenFormat, dd::ReadRaw(p, s_->screenFormat.bpp), s_->screenPalette) | 0xFF000000u;
}

std::vector<std::uint32_t> SoftDirectDraw::ScreenPixels() const {
  std::vector<std::uint32_t> out(std::size_t(s_->screenWidth) * std::size_t(s_->screenHeight));
  std::size_t i = 0;
  for (int y = 0; y < s_->screenHeight; ++y)
    for (int x = 0; x < s_->screenWidth; ++x) out[i++] = ScreenPixel(x, y);
  return out;
}

void SoftDirectDraw::FillScreen(std::uint32_t rgb) {
  const DWORD raw = dd::FromArgb(s_->screenFormat, 0xFF000000u | rgb, s_->screenPalette);
  const int bytes = s_->screenFormat.bpp / 8;
  for (int y = 0; y < s_->screenHeight; ++y) {
    std::uint8_t* row = s_->screenBits + std::size_t(y) * std::size_t(s_->screenPitch);
    for (int x = 0; x < s_->screenWidth; ++x) dd::WriteRaw(row + x * bytes, s_->screenFormat.bpp, raw);
  }
}

bool SoftDirectDraw::UseScreenMemory(void* bits, int pitch) {
  const bool primaryMade = std::any_of(s_->surfaces.begin(), s_->surfaces.end(),
                                       [](const dd::SurfaceImpl* s) { return s->primary; });
  if (!bits || pitch < s_->screenPitch || primaryMade || s_->sharedGdi) return false;
  s_->screenPitch = pitch;
  s_->screenBits = static_cast<std::uint8_t*>(bits);
  s_->screen = ZeroedBuffer();  // the backend's memory serves instead
  return true;
}

void SoftDirectDraw::SetScreenChangedHook(std::function<void(HWND, const RECT&)> hook) {
  s_->screenChanged = std::move(hook);
}

void SoftDirectDraw::SetVerticalBlankWait(std::function<void()> wait) {
  s_->verticalBlankWait = std::move(wait);
}

bool SoftDirectDraw::ShareScreenWithGdi(SoftGdi& gdi) {
  if (s_->sharedGdi) return s_->sharedGdi == &gdi;
  const std::vector<std::uint8_t> info =
      dd::DibInfo(s_->screenFormat, s_->screenWidth, s_->screenHeight, s_->screenPalette);
  const HBITMAP bmp =
      gdi.CreateDIBSectionOver(s_->screenBits, reinterpret_cast<const BITMAPINFO*>(info.data()));
  if (!bmp) return false;
  gdi.SetScreenBitmap(bmp);
  s_->sharedGdi = &gdi;
  s_->sharedScreen = bmp;
  return true;
}

void SoftDirectDraw::SetLibraryAvailable(bool available) {
  s_->libraryAvailable = available;
}

void SoftDirectDraw::SetEntryPointAvailable(const char* name, bool available) {
  auto& m = s_->missingEntries;
  m.erase(std::remove(m.begin(), m.end(), std::string(name)), m.end());
  if (!available) m.push_back(name);
}

int SoftDirectDraw::LibraryReferences() const {
  return s_->libraryRefs;
}

void SoftDirectDraw::SetVideoMemoryBudget(std::size_t bytes) {
  s_->videoBudget = bytes;
}
std::size_t SoftDirectDraw::VideoMemoryBudget() const {
  return s_->videoBudget;
}
std::size_t SoftDirectDraw::VideoMemoryUsed() const {
  return s_->videoUsed;
}

void SoftDirectDraw::FailSurfaceCreation(int count, DWORD capsMask, HRESULT result) {
  s_->surfaceFault.count = count;
  s_->surfaceFault.capsMask = capsMask;
  s_->surfaceFault.result = result;
}

void SoftDirectDraw::LoseAllSurfaces() {
  for (dd::SurfaceImpl* s : s_->surfaces)
    if (s->primary || (s->caps & DDSCAPS_VIDEOMEMORY)) s->lost = true;
}

void SoftDirectDraw::LoseSurface(IDirectDrawSurface7* surface) {
  if (dd::SurfaceImpl* s = dd::AsSurface(surface)) s->lost = true;
}

void SoftDirectDraw::FailRestore(int count) {
  s_->restoreFault.count = count;
}
void SoftDirectDraw::SetHardware3D(bool present) {
  s_->hardware3D = present;
}
void SoftDirectDraw::SetDeviceRenderBitDepths(DWORD flags) {
  s_->deviceDepths = flags;
}

void SoftDirectDraw::FailCreateDevice(int count, HRESULT result) {
  s_->deviceFault.count = count;
  s_->deviceFault.result = result;
}

void SoftDirectDraw::FailDrawPrimitive(int count, HRESULT result) {
  s_->drawFault.count = count;
  s_->drawFault.result = result;
}

std::uint64_t SoftDirectDraw::FailedRestores() const {
  return s_->restoreFault.taken;
}
std::uint64_t SoftDirectDraw::FailedDrawPrimitives() const {
  return s_->drawFault.taken;
}

void SoftDirectDraw::SetFastPathEnabled(bool enabled) {
  s_->fastPath = enabled;
}
void SoftDirectDraw::SetWideVectorsEnabled(bool enabled) {
  s_->wideVectors = enabled;
}
void SoftDirectDraw::SetWidestVectorsEnabled(bool enabled) {
  s_->widestVectors = enabled;
}
void SoftDirectDraw::SetQuadResultCacheEnabled(bool enabled) {
  s_->quadResultCache = enabled;
}
std::uint64_t SoftDirectDraw::FastPathDraws() const {
  return s_->fastDraws;
}
std::uint64_t SoftDirectDraw::GeneralPathDraws() const {
  return s_->generalDraws;
}
std::uint64_t SoftDirectDraw::DrawPrimitiveCalls() const {
  return s_->drawCalls;
}
std::uint64_t SoftDirectDraw::VerticalBlankWaits() const {
  return s_->vblankWaits;
}
std::uint64_t SoftDirectDraw::PrimaryBlits() const {
  return s_->primaryBlits;
}
std::size_t SoftDirectDraw::LiveObjectCount() const {
  return s_->liveObjects;
}

}  // namespace plat::soft
