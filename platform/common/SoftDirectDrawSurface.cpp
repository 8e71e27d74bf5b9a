// Soft DirectDraw surfaces: memory, descriptions, blits, colour keys, locking, device contexts, loss.
#include <algorithm>
#include <cstring>
#include <new>

#include "platform/Gdi.h"
#include "platform/Platform.h"
#include "platform/common/SoftDirectDrawInternal.h"
#include "platform/common/SoftGdi.h"

namespace plat::soft::dd {

namespace {

constexpr int kMaxSurfaceSide = 32768;
constexpr std::uint64_t kMaxSurfaceBytes = std::uint64_t(1) << 30;

bool Intersect(RECT& a, const RECT& b) {
  a.left = std::max(a.left, b.left);
  a.top = std::max(a.top, b.top);
  a.right = std::min(a.right, b.right);
  a.bottom = std::min(a.bottom, b.bottom);
  return a.left < a.right && a.top < a.bottom;
}

bool Inside(const RECT& r, int w, int h) {
  return r.left >= 0 && r.top >= 0 && r.right <= w && r.bottom <= h && r.left < r.right && r.top < r.bottom;
}

bool InKey(DWORD raw, const DDCOLORKEY& k) {
  return raw >= k.dwColorSpaceLowValue && raw <= k.dwColorSpaceHighValue;
}

std::uint64_t PitchFor(int w, int bpp) {
  return ((std::uint64_t(w) * std::uint64_t(bpp) + 31) / 32) * 4;
}

// Source pixels as read by a blit: a surface, or a private copy of part of it (for overlapping copies).
struct PixelView {
  const std::uint8_t* bits;
  std::size_t pitch;
  int originX, originY;
  int bytes;
  const std::uint8_t* At(int x, int y) const {
    return bits + std::size_t(y - originY) * pitch + std::size_t(x - originX) * std::size_t(bytes);
  }
};

}  // namespace

std::vector<std::uint8_t> DibInfo(const Format& format, int width, int height, const PALETTEENTRY* pal) {
  std::vector<std::uint8_t> info(sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD), 0);
  auto* h = reinterpret_cast<BITMAPINFOHEADER*>(info.data());
  h->biSize = sizeof(BITMAPINFOHEADER);
  h->biWidth = width;
  h->biHeight = -height;
  h->biPlanes = 1;
  h->biBitCount = WORD(format.bpp);
  h->biCompression = BI_RGB;
  if (format.bpp == 16) {
    h->biCompression = BI_BITFIELDS;
    const DWORD masks[3] = {format.r, format.g, format.b};
    std::memcpy(info.data() + sizeof(BITMAPINFOHEADER), masks, sizeof(masks));
  } else if (format.kind == Format::kPal8) {
    h->biClrUsed = 256;
    auto* colors = reinterpret_cast<RGBQUAD*>(info.data() + sizeof(BITMAPINFOHEADER));
    for (int i = 0; i < 256; ++i)
      colors[i] = pal ? RGBQUAD{pal[i].peBlue, pal[i].peGreen, pal[i].peRed, 0}
                      : RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
  }
  return info;
}

SurfaceImpl* AsSurface(IDirectDrawSurface7* s) {
  return s ? dynamic_cast<SurfaceImpl*>(s) : nullptr;
}

SurfaceImpl::SurfaceImpl(State* s, DirectDrawImpl* o) : RefCounted(s), owner(o) {
  owner->AddRef();
}

SurfaceImpl::~SurfaceImpl() {
  if (dc) {
    if (auto* gdi = dynamic_cast<SoftGdi*>(CurrentServices().gdi)) {
      gdi->SelectObject(dc, dcOldBitmap);
      gdi->DeleteDC(dc);
      gdi->DeleteObject(reinterpret_cast<HGDIOBJ>(dcBitmap));
    }
  }
  SafeRelease(clipper);
  SafeRelease(palette);
  for (SurfaceImpl* a : attached) a->Release();
  auto& mine = owner->surfaces;
  mine.erase(std::remove(mine.begin(), mine.end(), this), mine.end());
  auto& all = state_->surfaces;
  all.erase(std::remove(all.begin(), all.end(), this), all.end());
  state_->videoUsed -= std::min(state_->videoUsed, videoBytes);
  owner->Release();
}

HRESULT SurfaceImpl::Init(const DDSURFACEDESC2& d, std::size_t descSize) {
  caps = d.ddsCaps.dwCaps;
  caps2 = descSize == sizeof(DDSURFACEDESC2) ? d.ddsCaps.dwCaps2 : 0;
  if ((caps & DDSCAPS_SYSTEMMEMORY) && (caps & DDSCAPS_VIDEOMEMORY)) return DDERR_INVALIDCAPS;
  if (caps & DDSCAPS_PRIMARYSURFACE) {
    if ((d.dwFlags & (DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT)) || (caps & DDSCAPS_SYSTEMMEMORY) ||
        (caps & (DDSCAPS_TEXTURE | DDSCAPS_ZBUFFER | DDSCAPS_OFFSCREENPLAIN)))
      return DDERR_INVALIDPARAMS;
    primary = true;
    width = state_->screenWidth;
    height = state_->screenHeight;
    pitch = state_->screenPitch;
    format = state_->screenFormat;
    bits = state_->screenBits;
    caps |= DDSCAPS_VISIBLE | DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM | DDSCAPS_FRONTBUFFER;
  } else {
    if ((d.dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) != (DDSD_WIDTH | DDSD_HEIGHT)) return DDERR_INVALIDPARAMS;
    if (d.dwWidth < 1 || d.dwHeight < 1 || d.dwWidth > DWORD(kMaxSurfaceSide) ||
        d.dwHeight > DWORD(kMaxSurfaceSide))
      return DDERR_INVALIDPARAMS;
    width = int(d.dwWidth);
    height = int(d.dwHeight);
    if (d.dwFlags & DDSD_PIXELFORMAT) {
      if (d.ddpfPixelFormat.dwSize != sizeof(DDPIXELFORMAT) ||
          !FormatFromPixelFormat(d.ddpfPixelFormat, format))
        return DDERR_INVALIDPIXELFORMAT;
    } else if (caps & DDSCAPS_ZBUFFER) {
      return DDERR_INVALIDPIXELFORMAT;
    } else {
      format = state_->screenFormat;
    }
    if (((caps & DDSCAPS_ZBUFFER) != 0) != (format.kind == Format::kZ)) return DDERR_INVALIDPIXELFORMAT;
    const std::uint64_t p = PitchFor(width, format.bpp);
    const std::uint64_t bytes = p * std::uint64_t(height);
    if (bytes > kMaxSurfaceBytes) return DDERR_OUTOFMEMORY;
    const bool fits =
        state_->videoUsed <= state_->videoBudget && bytes <= state_->videoBudget - state_->videoUsed;
    if (caps & DDSCAPS_VIDEOMEMORY) {
      if (!fits) return DDERR_OUTOFVIDEOMEMORY;
    } else if (!(caps & DDSCAPS_SYSTEMMEMORY)) {
      caps |= fits ? DDSCAPS_VIDEOMEMORY : DDSCAPS_SYSTEMMEMORY;
    }
    if (caps & DDSCAPS_VIDEOMEMORY) caps |= DDSCAPS_LOCALVIDMEM;
    try {
      storage.Allocate(std::size_t(bytes));
    } catch (const std::bad_alloc&) {
      return DDERR_OUTOFMEMORY;
    }
    pitch = int(p);
    bits = storage.data();
    if (caps & DDSCAPS_VIDEOMEMORY) {
      videoBytes = std::size_t(bytes);
      state_->videoUsed += videoBytes;
    }
  }
  if (d.dwFlags & DDSD_CKSRCBLT) {
    hasSrcKey = true;
    srcKey = d.ddckCKSrcBlt;
  }
  if (d.dwFlags & DDSD_CKDESTBLT) {
    hasDestKey = true;
    destKey = d.ddckCKDestBlt;
  }
  owner->surfaces.push_back(this);
  state_->surfaces.push_back(this);
  return DD_OK;
}

HRESULT SurfaceImpl::QueryInterface(REFIID iid, void** out) {
  if (!out) return DDERR_INVALIDPARAMS;
  if (iid == IID_IUnknown || iid == IID_IDirectDrawSurface || iid == IID_IDirectDrawSurface4 ||
      iid == IID_IDirectDrawSurface7) {
    AddRef();
    *out = static_cast<IDirectDrawSurface7*>(this);
    return DD_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

const PALETTEENTRY* SurfaceImpl::Palette() const {
  if (palette) return palette->entries;
  if (format.kind == Format::kPal8) return state_->screenPalette;
  return nullptr;
}

const std::uint32_t* SurfaceImpl::ArgbPixels() {
  if (argbVersion_ != version || argb_.size() != std::size_t(width) * std::size_t(height)) {
    argb_.resize(std::size_t(width) * std::size_t(height));
    const PALETTEENTRY* pal = Palette();
    const int bytes = format.bpp / 8;
    std::uint32_t* out = argb_.data();
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* row = Row(y);
      for (int x = 0; x < width; ++x) *out++ = ToArgb(format, ReadRaw(row + x * bytes, format.bpp), pal);
    }
    argbVersion_ = version;
  }
  return argb_.data();
}

HRESULT SurfaceImpl::GetSurfaceDesc(DDSURFACEDESC2* desc) {
  const std::size_t size = desc ? DescBytes(desc->dwSize) : 0;
  if (!size) return DDERR_INVALIDPARAMS;
  DDSURFACEDESC2 d{};
  d.dwSize = desc->dwSize;
  d.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT;
  d.dwWidth = DWORD(width);
  d.dwHeight = DWORD(height);
  d.lPitch = pitch;
  FormatToPixelFormat(format, d.ddpfPixelFormat);
  if (hasSrcKey) {
    d.dwFlags |= DDSD_CKSRCBLT;
    d.ddckCKSrcBlt = srcKey;
  }
  if (hasDestKey) {
    d.dwFlags |= DDSD_CKDESTBLT;
    d.ddckCKDestBlt = destKey;
  }
  d.ddsCaps.dwCaps = caps;
  if (size == sizeof(DDSURFACEDESC2)) d.ddsCaps.dwCaps2 = caps2;
  std::memcpy(desc, &d, size);
  return DD_OK;
}

HRESULT SurfaceImpl::GetCaps(DDSCAPS2* c) {
  if (!c) return DDERR_INVALIDPARAMS;
  *c = DDSCAPS2{caps, caps2, 0, 0};
  return DD_OK;
}

HRESULT SurfaceImpl::GetPixelFormat(DDPIXELFORMAT* f) {
  if (!f) return DDERR_INVALIDPARAMS;
  FormatToPixelFormat(format, *f);
  return DD_OK;
}

namespace {

struct BlitKeys {
  bool src = false, dst = false;
  DDCOLORKEY srcKey{}, dstKey{};
};

// Copies src rectangle s onto the unclipped destination rectangle d, writing only inside clip (a part of d).
void Copy(SurfaceImpl& dst, const RECT& d, SurfaceImpl& src, const RECT& s, const RECT& clip,
          const BlitKeys& keys) {
  const int dw = d.right - d.left, dh = d.bottom - d.top;
  const int sw = s.right - s.left, sh = s.bottom - s.top;
  const int srcBytes = src.format.bpp / 8, dstBytes = dst.format.bpp / 8;
  PixelView view{src.bits, std::size_t(src.pitch), 0, 0, srcBytes};
  std::vector<std::uint8_t> copy;
  if (&src == &dst) {  // overlapping: read from a private copy of the source rectangle
    const std::size_t rowBytes = std::size_t(sw) * std::size_t(srcBytes);
    copy.resize(rowBytes * std::size_t(sh));
    for (int y = 0; y < sh; ++y)
      std::memcpy(copy.data() + std::size_t(y) * rowBytes,
                  src.Row(s.top + y) + std::size_t(s.left) * srcBytes, rowBytes);
    view = PixelView{copy.data(), rowBytes, s.left, s.top, srcBytes};
  }
  const bool sameFormat = src.format == dst.format;
  const PALETTEENTRY* srcPal = src.Palette();
  const PALETTEENTRY* dstPal = dst.Palette();
  const bool plainRows = sameFormat && !keys.src && !keys.dst && sw == dw;
  std::vector<int> columns;  // source column per destination column (not needed for plain row copies)
  if (!plainRows) {
    columns.resize(std::size_t(clip.right - clip.left));
    for (int x = clip.left; x < clip.right; ++x)
      columns[std::size_t(x - clip.left)] =
          s.left + int(std::int64_t(x - d.left) * std::int64_t(sw) / std::int64_t(dw));
  }
  for (int y = clip.top; y < clip.bottom; ++y) {
    const int sy = s.top + int(std::int64_t(y - d.top) * std::int64_t(sh) / std::int64_t(dh));
    std::uint8_t* out = dst.Row(y) + std::size_t(clip.left) * dstBytes;
    if (plainRows) {
      std::memcpy(out, view.At(s.left + (clip.left - d.left), sy),
                  std::size_t(clip.right - clip.left) * std::size_t(dstBytes));
      continue;
    }
    for (int x = clip.left; x < clip.right; ++x, out += dstBytes) {
      DWORD raw = ReadRaw(view.At(columns[std::size_t(x - clip.left)], sy), src.format.bpp);
      if (keys.src && InKey(raw, keys.srcKey)) continue;
      if (keys.dst && !InKey(ReadRaw(out, dst.format.bpp), keys.dstKey)) continue;
      if (!sameFormat) raw = FromArgb(dst.format, ToArgb(src.format, raw, srcPal), dstPal);
      WriteRaw(out, dst.format.bpp, raw);
    }
  }
}

void Fill(SurfaceImpl& dst, const RECT& clip, DWORD raw) {
  const int bytes = dst.format.bpp / 8;
  for (int y = clip.top; y < clip.bottom; ++y) {
    std::uint8_t* out = dst.Row(y) + std::size_t(clip.left) * bytes;
    if (bytes == 4) {
      for (int x = clip.left; x < clip.right; ++x, out += 4) std::memcpy(out, &raw, 4);
    } else {
      for (int x = clip.left; x < clip.right; ++x, out += bytes) WriteRaw(out, dst.format.bpp, raw);
    }
  }
}

}  // namespace

HRESULT SurfaceImpl::Blt(const RECT* dstRect, IDirectDrawSurface7* srcIface, const RECT* srcRect, DWORD flags,
                         DDBLTFX* fx) {
  constexpr DWORD kKnown = DDBLT_COLORFILL | DDBLT_DEPTHFILL | DDBLT_DDFX | DDBLT_KEYSRC |
                           DDBLT_KEYSRCOVERRIDE | DDBLT_KEYDEST | DDBLT_KEYDESTOVERRIDE | DDBLT_ROP |
                           DDBLT_WAIT | DDBLT_DONOTWAIT | 0x200 /* DDBLT_ASYNC */;
  if (flags & ~kKnown) return DDERR_UNSUPPORTED;
  const bool needFx = (flags & (DDBLT_COLORFILL | DDBLT_DEPTHFILL | DDBLT_DDFX | DDBLT_ROP |
                                DDBLT_KEYSRCOVERRIDE | DDBLT_KEYDESTOVERRIDE)) != 0;
  if (needFx && (!fx || fx->dwSize != sizeof(DDBLTFX))) return DDERR_INVALIDPARAMS;
  if (fx && fx->dwSize != sizeof(DDBLTFX)) return DDERR_INVALIDPARAMS;
  if ((flags & DDBLT_DDFX) && fx->dwDDFX != 0) return DDERR_UNSUPPORTED;
  if ((flags & DDBLT_ROP) && fx->dwROP != SRCCOPY_ROP) return DDERR_UNSUPPORTED;
  if (lost) return DDERR_SURFACELOST;
  if (Busy()) return DDERR_SURFACEBUSY;

  const RECT whole{0, 0, width, height};
  const RECT d = dstRect ? *dstRect : whole;
  if (d.left >= d.right || d.top >= d.bottom) return DDERR_INVALIDRECT;
  RECT clip = d;
  if (clipper) {
    RECT visible = whole;
    if (clipper->window) {
      RECT win{};
      if (!clipper->ClipRect(win)) return DD_OK;  // the window shows nothing: nothing to draw
      if (!Intersect(visible, win)) return DD_OK;
    }
    if (!Intersect(clip, visible)) return DD_OK;
  } else if (!Inside(d, width, height)) {
    return DDERR_INVALIDRECT;
  }

  if (flags & (DDBLT_COLORFILL | DDBLT_DEPTHFILL)) {
    if ((flags & DDBLT_DEPTHFILL) && format.kind != Format::kZ) return DDERR_INVALIDPARAMS;
    Fill(*this, clip, fx->dwFillColor & format.RawMask());
    Touch();
    if (primary) Shown(clip);
    return DD_OK;
  }

  SurfaceImpl* src = AsSurface(srcIface);
  if (!src) return DDERR_INVALIDPARAMS;
  if (src->lost) return DDERR_SURFACELOST;
  if (src != this && src->lockCount > 0) return DDERR_SURFACEBUSY;
  if (src->format.kind == Format::kZ || format.kind == Format::kZ) return DDERR_UNSUPPORTED;
  const RECT s = srcRect ? *srcRect : RECT{0, 0, src->width, src->height};
  if (!Inside(s, src->width, src->height)) return DDERR_INVALIDRECT;

  BlitKeys keys;
  if (flags & DDBLT_KEYSRCOVERRIDE) {
    keys.src = true;
    keys.srcKey = fx->ddckSrcColorkey;
  } else if ((flags & DDBLT_KEYSRC) && src->hasSrcKey) {
    keys.src = true;
    keys.srcKey = src->srcKey;
  }
  if (flags & DDBLT_KEYDESTOVERRIDE) {
    keys.dst = true;
    keys.dstKey = fx->ddckDestColorkey;
  } else if ((flags & DDBLT_KEYDEST) && hasDestKey) {
    keys.dst = true;
    keys.dstKey = destKey;
  }
  Copy(*this, d, *src, s, clip, keys);
  Touch();
  if (primary) Shown(clip);
  return DD_OK;
}

HRESULT SurfaceImpl::BltFast(DWORD x, DWORD y, IDirectDrawSurface7* srcIface, const RECT* srcRect,
                             DWORD flags) {
  if (flags & ~(DDBLTFAST_SRCCOLORKEY | DDBLTFAST_DESTCOLORKEY | DDBLTFAST_WAIT | DDBLTFAST_DONOTWAIT))
    return DDERR_INVALIDPARAMS;
  if (clipper) return DDERR_BLTFASTCANTCLIP;
  SurfaceImpl* src = AsSurface(srcIface);
  if (!src) return DDERR_INVALIDPARAMS;
  if (lost || src->lost) return DDERR_SURFACELOST;
  if (Busy() || (src != this && src->lockCount > 0)) return DDERR_SURFACEBUSY;
  if (src->format.kind == Format::kZ || format.kind == Format::kZ) return DDERR_UNSUPPORTED;
  const RECT s = srcRect ? *srcRect : RECT{0, 0, src->width, src->height};
  if (!Inside(s, src->width, src->height)) return DDERR_INVALIDRECT;
  if (x > DWORD(width) || y > DWORD(height)) return DDERR_INVALIDRECT;
  const RECT d{LONG(x), LONG(y), LONG(x) + (s.right - s.left), LONG(y) + (s.bottom - s.top)};
  if (!Inside(d, width, height)) return DDERR_INVALIDRECT;
  BlitKeys keys;
  if ((flags & DDBLTFAST_SRCCOLORKEY) && src->hasSrcKey) {
    keys.src = true;
    keys.srcKey = src->srcKey;
  }
  if ((flags & DDBLTFAST_DESTCOLORKEY) && hasDestKey) {
    keys.dst = true;
    keys.dstKey = destKey;
  }
  Copy(*this, d, *src, s, d, keys);
  Touch();
  if (primary) Shown(d);
  return DD_OK;
}

HRESULT SurfaceImpl::SetClipper(IDirectDrawClipper* c) {
  ClipperImpl* impl = c ? dynamic_cast<ClipperImpl*>(c) : nullptr;
  if (c && !impl) return DDERR_INVALIDPARAMS;
  if (impl) impl->AddRef();
  SafeRelease(clipper);
  clipper = impl;
  return DD_OK;
}

HRESULT SurfaceImpl::GetClipper(IDirectDrawClipper** out) {
  if (!out) return DDERR_INVALIDPARAMS;
  *out = clipper;
  if (!clipper) return DDERR_NOCLIPPERATTACHED;
  clipper->AddRef();
  return DD_OK;
}

HRESULT SurfaceImpl::SetPalette(IDirectDrawPalette* p) {
  PaletteImpl* impl = p ? dynamic_cast<PaletteImpl*>(p) : nullptr;
  if (p && !impl) return DDERR_INVALIDPARAMS;
  if (format.kind != Format::kPal8) return DDERR_NOTPALETTIZED;
  if (impl && impl->size() != 256) return DDERR_INVALIDPARAMS;
  if (impl) impl->AddRef();
  SafeRelease(palette);
  palette = impl;
  Touch();
  return DD_OK;
}

HRESULT SurfaceImpl::GetPalette(IDirectDrawPalette** out) {
  if (!out) return DDERR_INVALIDPARAMS;
  *out = palette;
  if (!palette) return DDERR_NOPALETTEATTACHED;
  palette->AddRef();
  return DD_OK;
}

HRESULT SurfaceImpl::SetColorKey(DWORD flags, DDCOLORKEY* key) {
  const DWORD which = flags & ~DDCKEY_COLORSPACE;
  if (which != DDCKEY_SRCBLT && which != DDCKEY_DESTBLT) {
    return (which == DDCKEY_SRCOVERLAY || which == DDCKEY_DESTOVERLAY) ? DDERR_UNSUPPORTED
                                                                       : DDERR_INVALIDPARAMS;
  }
  if (lost) return DDERR_SURFACELOST;
  bool& has = which == DDCKEY_SRCBLT ? hasSrcKey : hasDestKey;
  DDCOLORKEY& k = which == DDCKEY_SRCBLT ? srcKey : destKey;
  if (!key) {
    has = false;
    return DD_OK;
  }
  k = *key;
  // Without a colour space the key is the single value of its low end.
  if (!(flags & DDCKEY_COLORSPACE)) k.dwColorSpaceHighValue = k.dwColorSpaceLowValue;
  if (k.dwColorSpaceHighValue < k.dwColorSpaceLowValue) return DDERR_INVALIDPARAMS;
  has = true;
  return DD_OK;
}

HRESULT SurfaceImpl::GetColorKey(DWORD flags, DDCOLORKEY* key) {
  if (!key) return DDERR_INVALIDPARAMS;
  if (flags == DDCKEY_SRCBLT) {
    if (!hasSrcKey) return DDERR_NOCOLORKEY;
    *key = srcKey;
    return DD_OK;
  }
  if (flags == DDCKEY_DESTBLT) {
    if (!hasDestKey) return DDERR_NOCOLORKEY;
    *key = destKey;
    return DD_OK;
  }
  return DDERR_INVALIDPARAMS;
}

HRESULT SurfaceImpl::GetDC(HDC* out) {
  if (!out) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  if (lost) return DDERR_SURFACELOST;
  if (dc) return DDERR_DCALREADYCREATED;
  if (lockCount > 0) return DDERR_SURFACEBUSY;
  if (format.kind == Format::kZ) return DDERR_CANTCREATEDC;
  auto* gdi = dynamic_cast<SoftGdi*>(CurrentServices().gdi);
  if (!gdi) return DDERR_CANTCREATEDC;
  const std::vector<std::uint8_t> info = DibInfo(format, width, height, Palette());
  const HBITMAP bmp = gdi->CreateDIBSectionOver(bits, reinterpret_cast<const BITMAPINFO*>(info.data()));
  if (!bmp) return DDERR_CANTCREATEDC;
  const HDC memDC = gdi->CreateCompatibleDC(nullptr);
  if (!memDC) {
    gdi->DeleteObject(reinterpret_cast<HGDIOBJ>(bmp));
    return DDERR_CANTCREATEDC;
  }
  dcOldBitmap = gdi->SelectObject(memDC, reinterpret_cast<HGDIOBJ>(bmp));
  dc = memDC;
  dcBitmap = bmp;
  *out = dc;
  return DD_OK;
}

HRESULT SurfaceImpl::ReleaseDC(HDC h) {
  if (!dc || h != dc) return DDERR_NODC;
  if (auto* gdi = dynamic_cast<SoftGdi*>(CurrentServices().gdi)) {
    gdi->GdiFlush();
    gdi->SelectObject(dc, dcOldBitmap);
    gdi->DeleteDC(dc);
    gdi->DeleteObject(reinterpret_cast<HGDIOBJ>(dcBitmap));
  }
  dc = nullptr;
  dcBitmap = nullptr;
  dcOldBitmap = nullptr;
  Touch();
  if (primary && state_->screenChanged) state_->screenChanged(nullptr, RECT{0, 0, width, height});
  return DD_OK;
}

HRESULT SurfaceImpl::Lock(RECT* rect, DDSURFACEDESC2* desc, DWORD, HANDLE) {
  if (!desc || !DescBytes(desc->dwSize)) return DDERR_INVALIDPARAMS;
  if (lost) return DDERR_SURFACELOST;
  if (dc) return DDERR_SURFACEBUSY;
  const RECT r = rect ? *rect : RECT{0, 0, width, height};
  if (!Inside(r, width, height)) return DDERR_INVALIDRECT;
  GetSurfaceDesc(desc);
  if (DescBytes(desc->dwSize) == sizeof(DDSURFACEDESC2)) {
    desc->dwFlags |= DDSD_LPSURFACE;
    desc->lpSurface = Row(r.top) + std::size_t(r.left) * std::size_t(format.bpp / 8);
  } else {
    auto* old = reinterpret_cast<DDSURFACEDESC*>(desc);
    old->dwFlags |= DDSD_LPSURFACE;
    old->lpSurface = Row(r.top) + std::size_t(r.left) * std::size_t(format.bpp / 8);
  }
  ++lockCount;
  return DD_OK;
}

HRESULT SurfaceImpl::Unlock(RECT*) {
  if (lockCount <= 0) return DDERR_NOTLOCKED;
  --lockCount;
  Touch();
  if (primary && state_->screenChanged) state_->screenChanged(nullptr, RECT{0, 0, width, height});
  return DD_OK;
}

void SurfaceImpl::Shown(const RECT& r) {
  ++state_->primaryBlits;
  if (state_->screenChanged) state_->screenChanged(clipper ? clipper->window : nullptr, r);
}

HRESULT SurfaceImpl::Restore() {
  if (!lost) return DD_OK;
  if (state_->restoreFault.Take()) return state_->restoreFault.result;
  lost = false;
  // The memory's content did not survive the loss; the screen keeps what it shows.
  if (!primary) storage.Zero();
  Touch();
  return DD_OK;
}

HRESULT SurfaceImpl::AddAttachedSurface(IDirectDrawSurface7* attachIface) {
  SurfaceImpl* a = AsSurface(attachIface);
  if (!a || a == this) return DDERR_INVALIDPARAMS;
  if (std::find(attached.begin(), attached.end(), a) != attached.end()) return DDERR_SURFACEALREADYATTACHED;
  if (a->format.kind != Format::kZ || format.kind == Format::kZ || a->width != width || a->height != height)
    return DDERR_CANNOTATTACHSURFACE;
  a->AddRef();
  attached.push_back(a);
  return DD_OK;
}

HRESULT SurfaceImpl::DeleteAttachedSurface(DWORD flags, IDirectDrawSurface7* attachedIface) {
  if (flags != 0) return DDERR_INVALIDPARAMS;
  if (!attachedIface) {
    for (SurfaceImpl* a : attached) a->Release();
    attached.clear();
    return DD_OK;
  }
  SurfaceImpl* a = AsSurface(attachedIface);
  auto it = std::find(attached.begin(), attached.end(), a);
  if (it == attached.end()) return DDERR_SURFACENOTATTACHED;
  attached.erase(it);
  a->Release();
  return DD_OK;
}

HRESULT SurfaceImpl::GetAttachedSurface(DDSCAPS2* c, IDirectDrawSurface7** out) {
  if (!c || !out) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  for (SurfaceImpl* a : attached)
    if ((a->caps & c->dwCaps) == c->dwCaps) {
      a->AddRef();
      *out = a;
      return DD_OK;
    }
  return DDERR_NOTFOUND;
}

HRESULT SurfaceImpl::Flip(IDirectDrawSurface7*, DWORD) {
  return DDERR_UNSUPPORTED;
}

}  // namespace plat::soft::dd
