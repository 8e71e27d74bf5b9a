// The presentation drivers: DirectDraw object creation, the windowed initialisation with the back surface
// and its Direct3D device, the present, restore, resize and the release order.
#include "platform/Platform.h"
#include "platform/Windows.h"
#include "render/DXDrawsCore.h"

namespace {

constexpr plat::DWORD kPaletteCaps = plat::DDPCAPS_8BIT | plat::DDPCAPS_INITIALIZE;  // 0x0C
constexpr plat::DWORD kFlipWait = 0x1;                                               // DDFLIP_WAIT

// DDBD_* flag of a render target depth (0 for depths no device names).
plat::DWORD BitDepthFlag(int bitCount) {
  switch (bitCount) {
    case 1:
      return plat::DDBD_1;
    case 2:
      return plat::DDBD_2;
    case 4:
      return plat::DDBD_4;
    case 8:
      return plat::DDBD_8;
    case 16:
      return plat::DDBD_16;
    case 24:
      return plat::DDBD_24;
    case 32:
      return plat::DDBD_32;
    default:
      return 0;
  }
}

struct TFindDeviceContext {
  bool hardwareAllowed = false;
  plat::DWORD depthFlag = 0;
  bool found = false;
  bool foundHardware = false;
  plat::GUID guid{};
};

plat::HRESULT EnumDeviceCallback(char*, char*, plat::D3DDEVICEDESC7* desc, void* context) {
  auto* ctx = static_cast<TFindDeviceContext*>(context);
  const bool hardware = (desc->dwDevCaps & plat::D3DDEVCAPS_HWRASTERIZATION) != 0;
  if (hardware && !ctx->hardwareAllowed) return plat::D3DENUMRET_OK;
  if (desc->deviceGUID == plat::IID_IDirect3DRefDevice) return plat::D3DENUMRET_OK;
  if ((desc->dwDeviceRenderBitDepth & ctx->depthFlag) == 0) return plat::D3DENUMRET_OK;
  // The last qualifying device wins within its class; a hardware device always beats software ones.
  if (hardware) {
    ctx->guid = desc->deviceGUID;
    ctx->found = true;
    ctx->foundHardware = true;
  } else if (!ctx->foundHardware) {
    ctx->guid = desc->deviceGUID;
    ctx->found = true;
  }
  return plat::D3DENUMRET_OK;
}

}  // namespace

// ---- TDXDrawDriver ----

TDXDrawDriver::TDXDrawDriver(TCustomDXDraw* ADXDraw) : DXDraw_(ADXDraw) {
  const TDXDrawOptions o = DXDraw_->Options_;
  // Full-screen driver selection by enumeration is not provided: the default driver is used.
  const bool useGuid = o.Contains(doFullScreen) && o.Contains(doHardware) && !o.Contains(doSystemMemory);
  const plat::GUID* guid = useGuid ? DXDraw_->DriverGuid_ : nullptr;
  DXDraw_->DDraw_ = new TDirectDraw(guid, o.Contains(doDirectX7Mode));
}

TDXDrawDriver::~TDXDrawDriver() {
  Finalize();
  delete DXDraw_->DDraw_;
  DXDraw_->DDraw_ = nullptr;
}

void TDXDrawDriver::Finalize() {
  TCustomDXDraw& d = *DXDraw_;
  plat::SafeRelease(d.D3DDevice7_);
  plat::SafeRelease(d.D3D7_);
  if (d.ZBuffer_) {
    if (d.Surface_ && d.Surface_->IDDSurface() && d.ZBuffer_->IDDSurface())
      d.Surface_->SetResult(d.Surface_->IDDSurface()->DeleteAttachedSurface(0, d.ZBuffer_->IDDSurface()));
    delete d.ZBuffer_;
    d.ZBuffer_ = nullptr;
  }
  delete d.Clipper_;
  d.Clipper_ = nullptr;
  delete d.Palette_;
  d.Palette_ = nullptr;
  delete d.Surface_;
  d.Surface_ = nullptr;
  delete d.Primary_;
  d.Primary_ = nullptr;
}

bool TDXDrawDriver::SetSize(int, int) {
  return false;
}

bool TDXDrawDriver::Restore() {
  TCustomDXDraw& d = *DXDraw_;
  if (!d.Primary_ || !d.Primary_->IDDSurface() || !d.Surface_ || !d.Surface_->IDDSurface()) return false;
  if (!d.Primary_->Restore()) return false;
  if (!d.Surface_->Restore()) return false;
  d.Primary_->Fill(0);
  d.Surface_->Fill(0);
  return true;
}

void TDXDrawDriver::CreateBackSurface() {
  TCustomDXDraw& d = *DXDraw_;
  d.Surface_->SetIDDSurface(nullptr);
  d.EffectiveOptions_.Exclude(doSystemMemory);

  plat::DDSURFACEDESC desc{};
  desc.dwFlags = plat::DDSD_CAPS | plat::DDSD_HEIGHT | plat::DDSD_WIDTH;
  desc.dwWidth = static_cast<plat::DWORD>(d.SurfaceWidth_ > 1 ? d.SurfaceWidth_ : 1);
  desc.dwHeight = static_cast<plat::DWORD>(d.SurfaceHeight_ > 1 ? d.SurfaceHeight_ : 1);
  desc.ddsCaps.dwCaps = plat::DDSCAPS_OFFSCREENPLAIN;
  if (d.Options_.Contains(doSystemMemory)) desc.ddsCaps.dwCaps |= plat::DDSCAPS_SYSTEMMEMORY;
  if (d.EffectiveOptions_.Contains(do3D)) desc.ddsCaps.dwCaps |= plat::DDSCAPS_3DDEVICE;

  if (!d.Surface_->CreateSurface(desc)) {
    desc.ddsCaps.dwCaps |= plat::DDSCAPS_SYSTEMMEMORY;
    if (!d.Surface_->CreateSurface(desc)) throw EDXDrawError(Format(SCannotMade, SSurface));
  }
  if ((d.Surface_->Caps() & plat::DDSCAPS_VIDEOMEMORY) == 0) d.EffectiveOptions_.Include(doSystemMemory);

  if (d.Palette_ && d.Palette_->IDDPalette()) d.Surface_->SetPalette(d.Palette_);
  d.Surface_->Fill(0);

  if (d.EffectiveOptions_.Contains(do3D)) Setup3D();
}

void TDXDrawDriver::Setup3D() {
  TCustomDXDraw& d = *DXDraw_;
  const bool wantHardware = d.Options_.Contains(doHardware);
  const bool wantZBuffer = d.Options_.Contains(doZBuffer);
  bool hardwareObtained = false;
  bool zbufferObtained = false;

  plat::SafeRelease(d.D3DDevice7_);
  plat::SafeRelease(d.D3D7_);

  if (!d.Options_.Contains(doDirectX7Mode)) {
    // Only the Direct3D 7 path exists on this platform layer.
    throw EDXDrawError(SNot3DDeviceFound);
  }

  try {
    plat::IDirectDraw7* dd7 = d.DDraw_->IDDraw7();
    if (!dd7) throw EDirectDrawError(Format(SNotMade, "IDirectDraw7"));
    void* q = nullptr;
    if (dd7->QueryInterface(plat::IID_IDirect3D7, &q) != plat::DD_OK || !q)
      throw EDXDrawError(Format(SCannotMade, "IDirect3D7"));
    d.D3D7_ = static_cast<plat::IDirect3D7*>(q);

    const plat::DDCAPS& caps = d.DDraw_->DriverCaps();
    bool hardwareAllowed = (d.Surface_->Caps() & plat::DDSCAPS_VIDEOMEMORY) != 0 && wantHardware &&
                           (caps.dwCaps & plat::DDCAPS_3D) != 0 &&
                           (caps.ddsCaps.dwCaps & plat::DDSCAPS_TEXTURE) != 0;

    auto findDevice = [&](bool allowHardware) {
      TFindDeviceContext ctx;
      ctx.hardwareAllowed = allowHardware;
      ctx.depthFlag = BitDepthFlag(d.Surface_->BitCount());
      d.D3D7_->EnumDevices(&EnumDeviceCallback, &ctx);
      if (!ctx.found) throw EDXDrawError(SNot3DDeviceFound);
      if (ctx.foundHardware) hardwareObtained = true;
      if (wantZBuffer) {
        // A 16-bit depth surface of the back surface's size beside it; failure only means no depth buffer.
        plat::DDSURFACEDESC2 zd{};
        zd.dwFlags = plat::DDSD_CAPS | plat::DDSD_WIDTH | plat::DDSD_HEIGHT | plat::DDSD_PIXELFORMAT;
        zd.dwWidth = static_cast<plat::DWORD>(d.Surface_->Width());
        zd.dwHeight = static_cast<plat::DWORD>(d.Surface_->Height());
        zd.ddsCaps.dwCaps = plat::DDSCAPS_ZBUFFER |
                            ((d.Surface_->Caps() & plat::DDSCAPS_VIDEOMEMORY) ? plat::DDSCAPS_VIDEOMEMORY
                                                                              : plat::DDSCAPS_SYSTEMMEMORY);
        zd.ddpfPixelFormat.dwSize = sizeof(plat::DDPIXELFORMAT);
        zd.ddpfPixelFormat.dwFlags = plat::DDPF_ZBUFFER;
        zd.ddpfPixelFormat.dwZBufferBitDepth = 16;
        zd.ddpfPixelFormat.dwZBitMask = 0xFFFF;
        if (!d.ZBuffer_) d.ZBuffer_ = new TDirectDrawSurface(d.DDraw_);
        if (d.ZBuffer_->CreateSurface(zd)) {
          plat::HRESULT hr = d.Surface_->ISurface()->AddAttachedSurface(d.ZBuffer_->ISurface());
          d.Surface_->SetResult(hr);
          if (hr == plat::DD_OK) zbufferObtained = true;
        }
      }
      return ctx.guid;
    };

    plat::GUID guid = findDevice(hardwareAllowed);
    plat::IDirect3DDevice7* device = nullptr;
    plat::HRESULT hr = d.D3D7_->CreateDevice(guid, d.Surface_->ISurface7(), &device);
    if (hr != plat::D3D_OK || !device) {
      plat::SafeRelease(device);
      hardwareAllowed = false;
      hardwareObtained = false;
      guid = findDevice(false);
      hr = d.D3D7_->CreateDevice(guid, d.Surface_->ISurface7(), &device);
      if (hr != plat::D3D_OK || !device) {
        plat::SafeRelease(device);
        throw EDXDrawError(Format(SCannotMade, SDirect3DDevice7));
      }
    }
    d.D3DDevice7_ = device;
    if (hardwareAllowed) hardwareObtained = true;
  } catch (...) {
    if (d.ZBuffer_) {
      if (d.Surface_->IDDSurface() && d.ZBuffer_->IDDSurface())
        d.Surface_->IDDSurface()->DeleteAttachedSurface(0, d.ZBuffer_->IDDSurface());
      delete d.ZBuffer_;
      d.ZBuffer_ = nullptr;
    }
    plat::SafeRelease(d.D3DDevice7_);
    plat::SafeRelease(d.D3D7_);
    throw;
  }

  d.EffectiveOptions_.Exclude(doRetainedMode);
  d.EffectiveOptions_.Exclude(doHardware);
  d.EffectiveOptions_.Exclude(doSelectDriver);
  d.EffectiveOptions_.Exclude(doZBuffer);
  if (hardwareObtained) d.EffectiveOptions_.Include(doHardware);
  if (zbufferObtained) d.EffectiveOptions_.Include(doZBuffer);
}

// ---- TDXDrawDriverBlt ----

void TDXDrawDriverBlt::Initialize() {
  TCustomDXDraw& d = *DXDraw_;
  d.Primary_ = new TDirectDrawSurface(d.DDraw_);
  plat::DDSURFACEDESC pd{};
  pd.dwFlags = plat::DDSD_CAPS;
  pd.ddsCaps.dwCaps = plat::DDSCAPS_PRIMARYSURFACE;
  if (!d.Primary_->CreateSurface(pd)) throw EDXDrawError(Format(SCannotMade, SPrimarySurface));

  d.Surface_ = new TDirectDrawSurface(d.DDraw_);

  d.Clipper_ = new TDirectDrawClipper(d.DDraw_);
  d.Clipper_->SetHandle(d.Handle());
  d.Primary_->SetClipper(d.Clipper_);

  d.Palette_ = new TDirectDrawPalette(d.DDraw_);
  plat::PALETTEENTRY entries[256];
  d.BuildPaletteEntries(d.ColorTable_, entries);
  plat::DWORD caps = kPaletteCaps;
  if (d.EffectiveOptions_.Contains(doAllowPalette256)) caps |= plat::DDPCAPS_ALLOW256;
  d.Palette_->CreatePalette(caps, entries);
  if (d.Palette_->IDDPalette()) d.Primary_->SetPalette(d.Palette_);

  CreateBackSurface();
}

void TDXDrawDriverBlt::Flip() {
  TCustomDXDraw& d = *DXDraw_;
  if (!d.Primary_ || !d.Surface_ || !d.Primary_->IDDSurface() || !d.Surface_->IDDSurface()) return;
  plat::POINT p{0, 0};
  if (d.HandleAllocated()) {
    plat::Windows().ClientToScreen(d.Handle(), &p);
  } else {
    TPoint tp = d.ClientToScreen(Point(0, 0));
    p = {tp.X, tp.Y};
  }
  const int sw = d.Surface_->Width(), sh = d.Surface_->Height();
  plat::RECT dest;
  if (d.EffectiveOptions_.Contains(doStretch)) {
    dest = {p.x, p.y, p.x + d.Width(), p.y + d.Height()};
  } else {
    if (d.EffectiveOptions_.Contains(doCenter)) {
      // Half the size difference, truncated toward zero: with an odd difference the extra pixel lies on the
      // right and bottom side, for a control larger or smaller than the surface alike.
      p.x += (d.Width() - sw) / 2;
      p.y += (d.Height() - sh) / 2;
    }
    dest = {p.x, p.y, p.x + sw, p.y + sh};
  }
  if (d.EffectiveOptions_.Contains(doWaitVBlank))
    d.DDraw_->SetResult(d.DDraw_->IDraw()->WaitForVerticalBlank(plat::DDWAITVB_BLOCKBEGIN, nullptr));
  plat::DDBLTFX fx{};
  fx.dwSize = sizeof(fx);
  plat::RECT src{0, 0, sw, sh};
  d.Primary_->Blt(&dest, d.Surface_, &src, plat::DDBLT_WAIT, &fx);
}

bool TDXDrawDriverBlt::SetSize(int Width, int Height) {
  TCustomDXDraw& d = *DXDraw_;
  d.SurfaceWidth_ = Width > 1 ? Width : 1;
  d.SurfaceHeight_ = Height > 1 ? Height : 1;
  ++d.RestoreSuppress_;
  try {
    d.NotifyHandlers(snFinalizeSurface);
    if (d.SurfaceEventFired_) {
      d.SurfaceEventFired_ = false;
      d.DoFinalizeSurface();
    }
    CreateBackSurface();
    d.NotifyHandlers(snInitializeSurface);
    d.SurfaceEventFired_ = true;
    d.DoInitializeSurface();
  } catch (...) {
    --d.RestoreSuppress_;
    throw;
  }
  --d.RestoreSuppress_;
  return true;
}

// ---- TDXDrawDriverFlip ----

void TDXDrawDriverFlip::Initialize() {
  TCustomDXDraw& d = *DXDraw_;
  d.Primary_ = new TDirectDrawSurface(d.DDraw_);
  plat::DDSURFACEDESC pd{};
  pd.dwFlags = plat::DDSD_CAPS | plat::DDSD_BACKBUFFERCOUNT;
  pd.dwBackBufferCount = 1;
  pd.ddsCaps.dwCaps = plat::DDSCAPS_PRIMARYSURFACE | plat::DDSCAPS_FLIP | plat::DDSCAPS_COMPLEX;
  if (d.EffectiveOptions_.Contains(do3D)) pd.ddsCaps.dwCaps |= plat::DDSCAPS_3DDEVICE;
  if (!d.Primary_->CreateSurface(pd)) throw EDXDrawError(Format(SCannotMade, SPrimarySurface));

  d.Surface_ = new TDirectDrawSurface(d.DDraw_);
  plat::DDSCAPS2 caps{};
  caps.dwCaps = plat::DDSCAPS_BACKBUFFER;
  plat::IDirectDrawSurface7* back = nullptr;
  plat::HRESULT hr = d.Primary_->ISurface()->GetAttachedSurface(&caps, &back);
  d.Primary_->SetResult(hr);
  if (hr != plat::DD_OK || !back) throw EDXDrawError(Format(SCannotMade, SSurface));
  d.Surface_->SetIDDSurface(back);
  back->Release();

  d.Palette_ = new TDirectDrawPalette(d.DDraw_);
  plat::PALETTEENTRY entries[256];
  d.BuildPaletteEntries(d.ColorTable_, entries);
  plat::DWORD pcaps = kPaletteCaps;
  if (d.EffectiveOptions_.Contains(doAllowPalette256)) pcaps |= plat::DDPCAPS_ALLOW256;
  d.Palette_->CreatePalette(pcaps, entries);
  if (d.Palette_->IDDPalette()) {
    d.Primary_->SetPalette(d.Palette_);
    d.Surface_->SetPalette(d.Palette_);
  }
  if ((d.Surface_->Caps() & plat::DDSCAPS_VIDEOMEMORY) == 0) d.EffectiveOptions_.Include(doSystemMemory);
  if (d.EffectiveOptions_.Contains(do3D)) Setup3D();
}

void TDXDrawDriverFlip::Flip() {
  TCustomDXDraw& d = *DXDraw_;
  if (!d.Primary_ || !d.Primary_->IDDSurface()) return;
  d.Primary_->SetResult(d.Primary_->IDDSurface()->Flip(nullptr, kFlipWait));
}
