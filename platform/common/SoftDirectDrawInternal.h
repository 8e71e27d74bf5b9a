// Inner pieces of the soft DirectDraw / Direct3D backend, shared by its source files only.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/DirectDraw.h"
#include "platform/common/RawPixels.h"
#include "platform/common/SoftDirectDraw.h"
#include "platform/common/ZeroedBuffer.h"

namespace plat::soft::dd {

// ---- Pixel formats ----

struct Format {
  enum Kind { kRGB, kPal8, kZ };
  Kind kind = kRGB;
  int bpp = 32;
  DWORD r = 0, g = 0, b = 0, a = 0;  // channel masks (kRGB)
  int rShift = 0, gShift = 0, bShift = 0, aShift = 0;
  int rBits = 0, gBits = 0, bBits = 0, aBits = 0;

  bool operator==(const Format& o) const {
    return kind == o.kind && bpp == o.bpp && r == o.r && g == o.g && b == o.b && a == o.a;
  }
  bool operator!=(const Format& o) const { return !(*this == o); }
  // 32 bits per pixel with the channels at 16, 8 and 0 (alpha, if any, at 24): readable as ARGB words.
  bool IsArgb32() const { return kind == kRGB && bpp == 32 && r == 0xFF0000 && g == 0xFF00 && b == 0xFF; }
  DWORD RawMask() const { return bpp >= 32 ? 0xFFFFFFFFu : ((1u << bpp) - 1u); }
};

Format MakeRGB(int bpp, DWORD r, DWORD g, DWORD b, DWORD a);
Format DisplayFormat(int bpp);
// From a description's pixel format; false for a format the backend does not keep.
bool FormatFromPixelFormat(const DDPIXELFORMAT& pf, Format& out);
void FormatToPixelFormat(const Format& f, DDPIXELFORMAT& out);

// Channel width conversions, rounding to nearest.
inline DWORD Expand(DWORD v, int bits) {
  if (bits >= 8) return v >> (bits - 8);
  if (bits <= 0) return 255;
  const DWORD max = (1u << bits) - 1u;
  return (v * 255u + max / 2u) / max;
}
inline DWORD Reduce(DWORD v8, int bits) {
  if (bits >= 8) return v8 << (bits - 8);
  if (bits <= 0) return 0;
  const DWORD max = (1u << bits) - 1u;
  return (v8 * max + 127u) / 255u;
}

// Raw value <-> 0xAARRGGBB. Formats without alpha read as opaque and drop alpha on writing. pal: 256 entries
// for kPal8 (null: the index as grey).
DWORD ToArgb(const Format& f, DWORD raw, const PALETTEENTRY* pal);
DWORD FromArgb(const Format& f, DWORD argb, const PALETTEENTRY* pal);

using plat::soft::ReadRaw;
using plat::soft::WriteRaw;

// Bytes of a surface description by its dwSize: the older or the newer form (the Windows sizes 108 and 124
// name them on every target, as callers following the Windows layout write them); 0 for anything else.
inline std::size_t DescBytes(DWORD size) {
  if (size == sizeof(DDSURFACEDESC) || size == 108) return sizeof(DDSURFACEDESC);
  if (size == sizeof(DDSURFACEDESC2) || size == 124) return sizeof(DDSURFACEDESC2);
  return 0;
}

// ---- Objects ----

class DirectDrawImpl;
class SurfaceImpl;
class ClipperImpl;
class PaletteImpl;

// Shared state of the service: screen, memory accounting, faults, statistics, live objects.
struct State {
  SoftOptions options;
  Format screenFormat;
  int screenWidth = 0, screenHeight = 0, screenPitch = 0;
  ZeroedBuffer screen;  // the screen's pixels, unless a backend gave memory of its own
  std::uint8_t* screenBits = nullptr;
  // A desktop backend shows the screen: told of every change of the primary surface (the clipper's window,
  // null without one, and the screen rectangle), and waiting for its display's refresh.
  std::function<void(HWND, const RECT&)> screenChanged;
  std::function<void()> verticalBlankWait;
  PALETTEENTRY screenPalette[256] = {};

  bool libraryAvailable = true;
  std::vector<std::string> missingEntries;
  int libraryRefs = 0;

  std::size_t videoBudget = std::size_t(256) << 20;
  std::size_t videoUsed = 0;
  bool hardware3D = true;
  DWORD deviceDepths = DDBD_16 | DDBD_32;

  struct CountedFault {
    int count = 0;  // calls still to fail; negative: every call
    HRESULT result = DDERR_GENERIC;
    DWORD capsMask = 0;
    std::uint64_t taken = 0;  // calls failed so far
    bool Take() {
      if (count == 0) return false;
      if (count > 0) --count;
      ++taken;
      return true;
    }
  };
  CountedFault surfaceFault, restoreFault, deviceFault, drawFault;

  bool fastPath = true;
  bool wideVectors = true;      // the quad fast path may use the processor's wide vector units
  bool widestVectors = true;    // ... up to 512 bits where there are such
  bool quadResultCache = true;  // a large opaque quad drawn again unchanged is copied from its last result
  std::uint64_t fastDraws = 0, generalDraws = 0, vblankWaits = 0, primaryBlits = 0, drawCalls = 0;

  std::vector<SurfaceImpl*> surfaces;  // every live surface
  std::size_t liveObjects = 0;

  SoftGdi* sharedGdi = nullptr;  // the GDI drawing into the screen, and the section it draws through
  HBITMAP sharedScreen = nullptr;
};

// Reference counting shared by every object.
template <class Base>
class RefCounted : public Base {
 public:
  explicit RefCounted(State* s) : state_(s) { ++state_->liveObjects; }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  State* state() const { return state_; }

 protected:
  ~RefCounted() override { --state_->liveObjects; }
  State* state_;

 private:
  ULONG refs_ = 1;
};

class DirectDrawImpl final : public RefCounted<IDirectDraw7> {
 public:
  explicit DirectDrawImpl(State* s) : RefCounted(s) {}
  HRESULT QueryInterface(REFIID iid, void** out) override;
  HRESULT GetCaps(DDCAPS* driverCaps, DDCAPS* helCaps) override;
  HRESULT SetCooperativeLevel(HWND window, DWORD flags) override;
  HRESULT CreateSurface(DDSURFACEDESC2* desc, IDirectDrawSurface7** out, IUnknown* outer) override;
  HRESULT CreateClipper(DWORD flags, IDirectDrawClipper** out, IUnknown* outer) override;
  HRESULT CreatePalette(DWORD flags, const PALETTEENTRY* entries, IDirectDrawPalette** out,
                        IUnknown* outer) override;
  HRESULT WaitForVerticalBlank(DWORD flags, HANDLE event) override;
  HRESULT GetDisplayMode(DDSURFACEDESC2* desc) override;
  HRESULT EnumDisplayModes(DWORD flags, DDSURFACEDESC2* filter, void* context,
                           LPDDENUMMODESCALLBACK2 callback) override;
  HRESULT GetAvailableVidMem(DDSCAPS2* caps, DWORD* total, DWORD* free) override;
  HRESULT RestoreAllSurfaces() override;
  HRESULT FlipToGDISurface() override { return DD_OK; }
  HRESULT TestCooperativeLevel() override { return DD_OK; }

  void FillCaps(DDCAPS& caps, bool driver) const;

  std::vector<SurfaceImpl*> surfaces;  // surfaces made by this object
  bool cooperative = false;
  HWND window = nullptr;

 private:
  ~DirectDrawImpl() override = default;
};

class ClipperImpl final : public RefCounted<IDirectDrawClipper> {
 public:
  explicit ClipperImpl(State* s) : RefCounted(s) {}
  HRESULT QueryInterface(REFIID iid, void** out) override;
  HRESULT SetHWnd(DWORD flags, HWND window) override;
  HRESULT GetHWnd(HWND* window) override;
  // The clip rectangle in screen coordinates; false when the window shows nothing.
  bool ClipRect(RECT& out) const;
  HWND window = nullptr;

 private:
  ~ClipperImpl() override = default;
};

class PaletteImpl final : public RefCounted<IDirectDrawPalette> {
 public:
  PaletteImpl(State* s, DWORD caps, int size) : RefCounted(s), caps_(caps), size_(size) {}
  HRESULT QueryInterface(REFIID iid, void** out) override;
  HRESULT GetCaps(DWORD* caps) override;
  HRESULT SetEntries(DWORD flags, DWORD start, DWORD count, const PALETTEENTRY* entries) override;
  HRESULT GetEntries(DWORD flags, DWORD start, DWORD count, PALETTEENTRY* entries) override;
  PALETTEENTRY entries[256] = {};
  int size() const { return size_; }

 private:
  ~PaletteImpl() override = default;
  DWORD caps_;
  int size_;
};

class SurfaceImpl final : public RefCounted<IDirectDrawSurface7> {
 public:
  SurfaceImpl(State* s, DirectDrawImpl* owner);
  HRESULT QueryInterface(REFIID iid, void** out) override;
  HRESULT GetSurfaceDesc(DDSURFACEDESC2* desc) override;
  HRESULT GetCaps(DDSCAPS2* caps) override;
  HRESULT GetPixelFormat(DDPIXELFORMAT* format) override;
  HRESULT Blt(const RECT* dstRect, IDirectDrawSurface7* src, const RECT* srcRect, DWORD flags,
              DDBLTFX* fx) override;
  HRESULT BltFast(DWORD x, DWORD y, IDirectDrawSurface7* src, const RECT* srcRect, DWORD flags) override;
  HRESULT SetClipper(IDirectDrawClipper* clipper) override;
  HRESULT GetClipper(IDirectDrawClipper** out) override;
  HRESULT SetPalette(IDirectDrawPalette* palette) override;
  HRESULT GetPalette(IDirectDrawPalette** out) override;
  HRESULT SetColorKey(DWORD flags, DDCOLORKEY* key) override;
  HRESULT GetColorKey(DWORD flags, DDCOLORKEY* key) override;
  HRESULT GetDC(HDC* dc) override;
  HRESULT ReleaseDC(HDC dc) override;
  HRESULT Lock(RECT* rect, DDSURFACEDESC2* desc, DWORD flags, HANDLE event) override;
  HRESULT Unlock(RECT* rect) override;
  HRESULT IsLost() override { return lost ? DDERR_SURFACELOST : DD_OK; }
  HRESULT Restore() override;
  HRESULT AddAttachedSurface(IDirectDrawSurface7* attach) override;
  HRESULT DeleteAttachedSurface(DWORD flags, IDirectDrawSurface7* attached) override;
  HRESULT GetAttachedSurface(DDSCAPS2* caps, IDirectDrawSurface7** out) override;
  HRESULT Flip(IDirectDrawSurface7* target, DWORD flags) override;

  // Makes the pixel memory; the owner's list and the state's list take the surface.
  HRESULT Init(const DDSURFACEDESC2& desc, std::size_t descSize);

  std::uint8_t* Row(int y) { return bits + std::size_t(y) * std::size_t(pitch); }
  const std::uint8_t* Row(int y) const { return bits + std::size_t(y) * std::size_t(pitch); }
  const PALETTEENTRY* Palette() const;
  bool Busy() const { return lockCount > 0 || dc != nullptr; }
  // A new content version, never given to any surface before (so a surface made at a freed one's address
  // cannot pass for it).
  void Touch() { version = NextVersion(); }
  static std::uint64_t NextVersion() {
    static std::uint64_t last = 0;
    return ++last;
  }
  // The pixels as 0xAARRGGBB words (alpha 255 for formats without alpha), remade when the pixels changed.
  const std::uint32_t* ArgbPixels();
  // The primary surface's rectangle r changed: the backend that shows the screen hears of it.
  void Shown(const RECT& r);

  DirectDrawImpl* owner;
  DWORD caps = 0, caps2 = 0;
  int width = 0, height = 0, pitch = 0;
  Format format;
  ZeroedBuffer storage;  // reads as zero until written; pages never written take no memory
  std::uint8_t* bits = nullptr;
  bool primary = false;
  bool lost = false;
  int lockCount = 0;
  HDC dc = nullptr;
  HBITMAP dcBitmap = nullptr;
  HGDIOBJ dcOldBitmap = nullptr;
  bool hasSrcKey = false, hasDestKey = false;
  DDCOLORKEY srcKey{}, destKey{};
  ClipperImpl* clipper = nullptr;
  PaletteImpl* palette = nullptr;
  std::vector<SurfaceImpl*> attached;
  std::size_t videoBytes = 0;
  std::uint64_t version = NextVersion();

 private:
  ~SurfaceImpl() override;
  std::vector<std::uint32_t> argb_;
  std::uint64_t argbVersion_ = 0;
};

SurfaceImpl* AsSurface(IDirectDrawSurface7* s);

// A top-down device-independent bitmap header (with masks or colour table) for pixels of a format.
std::vector<std::uint8_t> DibInfo(const Format& format, int width, int height, const PALETTEENTRY* pal);

// Visible client rectangle of a window on the screen (intersected with every ancestor's client area);
// false when the window or an ancestor is hidden or no window service is installed.
bool VisibleWindowRect(HWND window, RECT& out);

// Direct3D side (SoftDirect3D.cpp).
HRESULT CreateDirect3D(State* s, DirectDrawImpl* dd, void** out);

}  // namespace plat::soft::dd
