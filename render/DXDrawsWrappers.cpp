// The DirectX wrapper objects and the list of run-time loaded libraries.
#include <algorithm>
#include <cctype>
#include <map>

#include "platform/Platform.h"
#include "render/DXDrawsCore.h"

// ---- Run-time loaded libraries ----

namespace {
struct TLibraryList {
  // The service the modules were loaded from; a different service (a new platform) means the modules are
  // gone with the old one and must not be handed out or freed.
  plat::DirectDrawSystem* service = nullptr;
  std::map<std::string, plat::HMODULE> modules;
};

TLibraryList& Libraries() {
  static TLibraryList list;
  return list;
}

std::string LowerCase(const std::string& s) {
  std::string r = s;
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}
}  // namespace

plat::FARPROC LoadDirectXEntry(const std::string& Library, const std::string& Entry) {
  TLibraryList& list = Libraries();
  plat::DirectDrawSystem& svc = plat::DDraw();
  if (list.service != &svc) {
    list.modules.clear();
    list.service = &svc;
  }
  const std::string key = LowerCase(Library);
  auto it = list.modules.find(key);
  plat::HMODULE module = nullptr;
  if (it == list.modules.end()) {
    module = svc.LoadLibraryA(Library.c_str());
    if (!module) throw Exception(Format(SDLLNotLoaded, Library));
    list.modules[key] = module;
  } else {
    module = it->second;
  }
  plat::FARPROC entry = svc.GetProcAddress(module, Entry.c_str());
  if (!entry) throw Exception(Format(SDLLNotLoaded, Library));
  return entry;
}

void FreeDirectXLibraries() {
  TLibraryList& list = Libraries();
  plat::DirectDrawSystem* svc = plat::CurrentServices().ddraw;
  if (svc && svc == list.service) {
    for (auto& m : list.modules) svc->FreeLibrary(m.second);
  }
  list.modules.clear();
  list.service = nullptr;
}

int LoadedDirectXLibraryCount() {
  TLibraryList& list = Libraries();
  if (list.service != plat::CurrentServices().ddraw) return 0;
  return static_cast<int>(list.modules.size());
}

const std::vector<std::string>& DXDrawOptionNames() {
  static const std::vector<std::string> names = {
      "doFullScreen",   "doNoWindowChange", "doAllowReboot", "doWaitVBlank",   "doAllowPalette256",
      "doSystemMemory", "doStretch",        "doCenter",      "doFlip",         "do3D",
      "doDirectX7Mode", "doRetainedMode",   "doHardware",    "doSelectDriver", "doZBuffer"};
  return names;
}

// ---- TDirectDraw ----

TDirectDraw::TDirectDraw(const plat::GUID* GUID, bool DirectX7Mode) {
  plat::GUID guid{};
  plat::GUID* guidArg = nullptr;
  if (GUID) {
    guid = *GUID;
    guidArg = &guid;
  }
  if (DirectX7Mode) {
    auto create = reinterpret_cast<plat::PFN_DirectDrawCreateEx>(
        LoadDirectXEntry(SDirectDrawLibrary, "DirectDrawCreateEx"));
    void* out = nullptr;
    plat::HRESULT hr = create(guidArg, &out, plat::IID_IDirectDraw7, nullptr);
    SetResult(hr);
    if (hr != plat::DD_OK || !out) throw EDirectDrawError(Format(SCannotInitialized, SDirectDraw));
    IDDraw7_ = static_cast<plat::IDirectDraw7*>(out);
    void* q = nullptr;
    if (IDDraw7_->QueryInterface(plat::IID_IDirectDraw, &q) == plat::DD_OK)
      IDDraw_ = static_cast<plat::IDirectDraw7*>(q);
    q = nullptr;
    if (IDDraw7_->QueryInterface(plat::IID_IDirectDraw4, &q) == plat::DD_OK)
      IDDraw4_ = static_cast<plat::IDirectDraw7*>(q);
    if (!IDDraw_ || !IDDraw4_) {
      ReleaseInterfaces();
      throw EDirectDrawError(SDirectX7NotSupported);
    }
  } else {
    auto create = reinterpret_cast<plat::PFN_DirectDrawCreate>(
        LoadDirectXEntry(SDirectDrawLibrary, "DirectDrawCreate"));
    plat::IDirectDraw7* dd = nullptr;
    plat::HRESULT hr = create(guidArg, &dd, nullptr);
    SetResult(hr);
    if (hr != plat::DD_OK || !dd) throw EDirectDrawError(Format(SCannotInitialized, SDirectDraw));
    IDDraw_ = dd;
    void* q = nullptr;
    if (IDDraw_->QueryInterface(plat::IID_IDirectDraw4, &q) == plat::DD_OK)
      IDDraw4_ = static_cast<plat::IDirectDraw7*>(q);
    if (!IDDraw4_) {
      ReleaseInterfaces();
      throw EDirectDrawError(SDirectX6NotSupported);
    }
  }
  DriverCaps_.dwSize = sizeof(plat::DDCAPS);
  HELCaps_.dwSize = sizeof(plat::DDCAPS);
  SetResult(IDDraw_->GetCaps(&DriverCaps_, &HELCaps_));
}

TDirectDraw::~TDirectDraw() {
  // Each destructor takes its object off the list it sits in.
  while (!surfaces_.empty()) delete surfaces_.back();
  while (!palettes_.empty()) delete palettes_.back();
  while (!clippers_.empty()) delete clippers_.back();
  ReleaseInterfaces();
}

void TDirectDraw::ReleaseInterfaces() {
  plat::SafeRelease(IDDraw_);
  plat::SafeRelease(IDDraw4_);
  plat::SafeRelease(IDDraw7_);
}

plat::IDirectDraw7* TDirectDraw::IDraw() const {
  if (!IDDraw_) throw EDirectDrawError(Format(SNotMade, "IDirectDraw"));
  return IDDraw_;
}
plat::IDirectDraw7* TDirectDraw::IDraw4() const {
  if (!IDDraw4_) throw EDirectDrawError(Format(SNotMade, "IDirectDraw4"));
  return IDDraw4_;
}
plat::IDirectDraw7* TDirectDraw::IDraw7() const {
  if (!IDDraw7_) throw EDirectDrawError(Format(SNotMade, "IDirectDraw7"));
  return IDDraw7_;
}

// ---- TDirectDrawSurface ----

TDirectDrawSurface::TDirectDrawSurface(TDirectDraw* ADirectDraw) : DDraw_(ADirectDraw) {
  DDraw_->surfaces_.push_back(this);
}

TDirectDrawSurface::~TDirectDrawSurface() {
  Canvas_.reset();
  while (LockCount_ > 0) Unlock();
  ReleaseInterfaces();
  auto& v = DDraw_->surfaces_;
  v.erase(std::remove(v.begin(), v.end(), this), v.end());
}

void TDirectDrawSurface::ReleaseInterfaces() {
  if (Canvas_) Canvas_->Release();
  plat::SafeRelease(IDDSurface_);
  plat::SafeRelease(IDDSurface4_);
  plat::SafeRelease(IDDSurface7_);
  SurfaceDesc_ = plat::DDSURFACEDESC{};
  HasClipper_ = false;
  LockCount_ = 0;
}

plat::IDirectDrawSurface7* TDirectDrawSurface::ISurface() const {
  if (!IDDSurface_) throw EDirectDrawSurfaceError(Format(SNotMade, "IDirectDrawSurface"));
  return IDDSurface_;
}
plat::IDirectDrawSurface7* TDirectDrawSurface::ISurface4() const {
  if (!IDDSurface4_) throw EDirectDrawSurfaceError(Format(SNotMade, "IDirectDrawSurface4"));
  return IDDSurface4_;
}
plat::IDirectDrawSurface7* TDirectDrawSurface::ISurface7() const {
  if (!IDDSurface7_) throw EDirectDrawSurfaceError(Format(SNotMade, "IDirectDrawSurface7"));
  return IDDSurface7_;
}

void TDirectDrawSurface::SetIDDSurface(plat::IDirectDrawSurface7* Value) {
  if (Value && Value == IDDSurface_) return;
  ReleaseInterfaces();
  if (!Value) return;
  void* q = nullptr;
  if (Value->QueryInterface(plat::IID_IDirectDrawSurface, &q) == plat::DD_OK)
    IDDSurface_ = static_cast<plat::IDirectDrawSurface7*>(q);
  q = nullptr;
  if (Value->QueryInterface(plat::IID_IDirectDrawSurface4, &q) == plat::DD_OK)
    IDDSurface4_ = static_cast<plat::IDirectDrawSurface7*>(q);
  if (DDraw_->IDDraw7()) {
    q = nullptr;
    if (Value->QueryInterface(plat::IID_IDirectDrawSurface7, &q) == plat::DD_OK)
      IDDSurface7_ = static_cast<plat::IDirectDrawSurface7*>(q);
  }
  if (!IDDSurface_) return;
  plat::IDirectDrawClipper* clipper = nullptr;
  HasClipper_ = IDDSurface_->GetClipper(&clipper) == plat::DD_OK && clipper;
  plat::SafeRelease(clipper);
  SurfaceDesc_.dwSize = sizeof(plat::DDSURFACEDESC);
  SetResult(IDDSurface_->GetSurfaceDesc(reinterpret_cast<plat::DDSURFACEDESC2*>(&SurfaceDesc_)));
}

template <class Desc>
bool TDirectDrawSurface::CreateFrom(Desc& D) {
  SetIDDSurface(nullptr);
  plat::IDirectDraw7* dd = DDraw_->IDraw();
  plat::IDirectDrawSurface7* created = nullptr;
  plat::HRESULT hr = dd->CreateSurface(reinterpret_cast<plat::DDSURFACEDESC2*>(&D), &created, nullptr);
  SetResult(hr);
  DDraw_->SetResult(hr);
  if (hr != plat::DD_OK || !created) return false;
  SetIDDSurface(created);
  created->Release();
  plat::DDCOLORKEY key{0, 0};
  SetColorKey(plat::DDCKEY_SRCBLT, key);
  return true;
}

bool TDirectDrawSurface::CreateSurface(plat::DDSURFACEDESC& Desc) {
  Desc.dwSize = sizeof(plat::DDSURFACEDESC);
  return CreateFrom(Desc);
}

bool TDirectDrawSurface::CreateSurface(plat::DDSURFACEDESC2& Desc) {
  Desc.dwSize = sizeof(plat::DDSURFACEDESC2);
  return CreateFrom(Desc);
}

bool TDirectDrawSurface::SetClipper(TDirectDrawClipper* Clipper) {
  plat::HRESULT hr = ISurface()->SetClipper(Clipper ? Clipper->IClipper() : nullptr);
  SetResult(hr);
  HasClipper_ = hr == plat::DD_OK && Clipper != nullptr;
  return hr == plat::DD_OK;
}

bool TDirectDrawSurface::SetPalette(TDirectDrawPalette* Palette) {
  plat::HRESULT hr = ISurface()->SetPalette(Palette ? Palette->IDDPalette() : nullptr);
  SetResult(hr);
  return hr == plat::DD_OK;
}

bool TDirectDrawSurface::SetColorKey(plat::DWORD Flags, const plat::DDCOLORKEY& Key) {
  plat::DDCOLORKEY k = Key;
  plat::HRESULT hr = ISurface()->SetColorKey(Flags, &k);
  SetResult(hr);
  return hr == plat::DD_OK;
}

bool TDirectDrawSurface::Fill(plat::DWORD DevColor) {
  plat::DDBLTFX fx{};
  fx.dwSize = sizeof(fx);
  fx.dwFillColor = DevColor;
  return Blt(nullptr, nullptr, nullptr, plat::DDBLT_COLORFILL | plat::DDBLT_WAIT, &fx);
}

bool TDirectDrawSurface::Blt(const plat::RECT* DestRect, TDirectDrawSurface* Source,
                             const plat::RECT* SrcRect, plat::DWORD Flags, plat::DDBLTFX* Fx) {
  plat::IDirectDrawSurface7* src = Source ? Source->ISurface() : nullptr;
  plat::HRESULT hr = ISurface()->Blt(DestRect, src, SrcRect, Flags, Fx);
  SetResult(hr);
  return hr == plat::DD_OK;
}

plat::HRESULT TDirectDrawSurface::IsLost() {
  if (!IDDSurface_) return plat::DDERR_SURFACELOST;
  plat::HRESULT hr = IDDSurface_->IsLost();
  SetResult(hr);
  return hr;
}

bool TDirectDrawSurface::Restore() {
  plat::HRESULT hr = ISurface()->Restore();
  SetResult(hr);
  return hr == plat::DD_OK;
}

bool TDirectDrawSurface::Lock(plat::DDSURFACEDESC2& Desc, plat::DWORD Flags) {
  Desc = plat::DDSURFACEDESC2{};
  Desc.dwSize = sizeof(plat::DDSURFACEDESC2);
  plat::HRESULT hr = ISurface()->Lock(nullptr, &Desc, Flags, nullptr);
  SetResult(hr);
  if (hr != plat::DD_OK) return false;
  ++LockCount_;
  return true;
}

void TDirectDrawSurface::Unlock() {
  if (LockCount_ <= 0 || !IDDSurface_) return;
  --LockCount_;
  SetResult(IDDSurface_->Unlock(nullptr));
}

TDirectDrawSurfaceCanvas& TDirectDrawSurface::Canvas() {
  if (!Canvas_) Canvas_ = std::make_unique<TDirectDrawSurfaceCanvas>(this);
  return *Canvas_;
}

// ---- TDirectDrawSurfaceCanvas ----

TDirectDrawSurfaceCanvas::~TDirectDrawSurfaceCanvas() {
  Release();
}

void TDirectDrawSurfaceCanvas::CreateHandle() {
  plat::IDirectDrawSurface7* s = Surface_->IDDSurface();
  if (!s) return;
  plat::HDC dc = nullptr;
  plat::HRESULT hr = s->GetDC(&dc);
  Surface_->SetResult(hr);
  if (hr == plat::DD_OK) SetHandle(dc);
}

void TDirectDrawSurfaceCanvas::Release() {
  if (!HandleAllocated()) return;
  plat::HDC dc = Handle();
  SetHandle(nullptr);
  if (plat::IDirectDrawSurface7* s = Surface_->IDDSurface()) Surface_->SetResult(s->ReleaseDC(dc));
}

// ---- TDirectDrawClipper ----

TDirectDrawClipper::TDirectDrawClipper(TDirectDraw* ADirectDraw) : DDraw_(ADirectDraw) {
  plat::IDirectDrawClipper* c = nullptr;
  plat::HRESULT hr = DDraw_->IDraw()->CreateClipper(0, &c, nullptr);
  SetResult(hr);
  if (hr != plat::DD_OK || !c) throw EDirectDrawClipperError(Format(SCannotMade, SClipper));
  IDDClipper_ = c;
  DDraw_->clippers_.push_back(this);
}

TDirectDrawClipper::~TDirectDrawClipper() {
  plat::SafeRelease(IDDClipper_);
  auto& v = DDraw_->clippers_;
  v.erase(std::remove(v.begin(), v.end(), this), v.end());
}

plat::IDirectDrawClipper* TDirectDrawClipper::IClipper() const {
  if (!IDDClipper_) throw EDirectDrawClipperError(Format(SNotMade, "IDirectDrawClipper"));
  return IDDClipper_;
}

bool TDirectDrawClipper::SetHandle(plat::HWND Window) {
  plat::HRESULT hr = IClipper()->SetHWnd(0, Window);
  SetResult(hr);
  return hr == plat::DD_OK;
}

// ---- TDirectDrawPalette ----

TDirectDrawPalette::TDirectDrawPalette(TDirectDraw* ADirectDraw) : DDraw_(ADirectDraw) {
  DDraw_->palettes_.push_back(this);
}

TDirectDrawPalette::~TDirectDrawPalette() {
  plat::SafeRelease(IDDPalette_);
  auto& v = DDraw_->palettes_;
  v.erase(std::remove(v.begin(), v.end(), this), v.end());
}

plat::IDirectDrawPalette* TDirectDrawPalette::IPalette() const {
  if (!IDDPalette_) throw EDirectDrawPaletteError(Format(SNotMade, "IDirectDrawPalette"));
  return IDDPalette_;
}

bool TDirectDrawPalette::CreatePalette(plat::DWORD Caps, const plat::PALETTEENTRY* Entries) {
  plat::SafeRelease(IDDPalette_);
  plat::IDirectDrawPalette* p = nullptr;
  plat::HRESULT hr = DDraw_->IDraw()->CreatePalette(Caps, Entries, &p, nullptr);
  SetResult(hr);
  if (hr != plat::DD_OK) {
    plat::SafeRelease(p);
    return false;
  }
  IDDPalette_ = p;
  return p != nullptr;
}

bool TDirectDrawPalette::SetEntries(plat::DWORD StartIndex, plat::DWORD Count,
                                    const plat::PALETTEENTRY* Entries) {
  plat::HRESULT hr = IPalette()->SetEntries(0, StartIndex, Count, Entries);
  SetResult(hr);
  return hr == plat::DD_OK;
}
