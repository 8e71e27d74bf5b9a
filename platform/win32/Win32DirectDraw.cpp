#include "platform/win32/Win32DirectDraw.h"

#include <cstring>
#include <initializer_list>
#include <unordered_map>

#include "platform/win32/Win32Api.h"

// After the platform's headers (see Win32Api.h): these define the real interfaces in the global namespace.
#include <ddraw.h>
// d3d.h builds on ddraw.h's surface interfaces.
#include <d3d.h>

namespace plat::win32 {

namespace {

static_assert(sizeof(plat::GUID) == sizeof(::GUID), "GUID layout");
static_assert(sizeof(plat::DDSURFACEDESC2) == sizeof(::DDSURFACEDESC2), "DDSURFACEDESC2 layout");
static_assert(offsetof(plat::DDSURFACEDESC2, ddsCaps) == offsetof(::DDSURFACEDESC2, ddsCaps),
              "DDSURFACEDESC2");
static_assert(offsetof(plat::DDSURFACEDESC2, ddpfPixelFormat) == offsetof(::DDSURFACEDESC2, ddpfPixelFormat),
              "DDSURFACEDESC2 layout");
static_assert(sizeof(plat::DDSURFACEDESC) == sizeof(::DDSURFACEDESC), "DDSURFACEDESC layout");
static_assert(sizeof(plat::DDPIXELFORMAT) == sizeof(::DDPIXELFORMAT), "DDPIXELFORMAT layout");
static_assert(sizeof(plat::DDSCAPS2) == sizeof(::DDSCAPS2), "DDSCAPS2 layout");
static_assert(sizeof(plat::DDCOLORKEY) == sizeof(::DDCOLORKEY), "DDCOLORKEY layout");
static_assert(sizeof(plat::DDCAPS) == sizeof(::DDCAPS_DX7), "DDCAPS layout");
static_assert(sizeof(plat::DDBLTFX) == sizeof(::DDBLTFX), "DDBLTFX layout");
static_assert(offsetof(plat::DDBLTFX, dwFillColor) == offsetof(::DDBLTFX, dwFillColor), "DDBLTFX layout");
static_assert(sizeof(plat::D3DDEVICEDESC7) == sizeof(::D3DDEVICEDESC7), "D3DDEVICEDESC7 layout");
static_assert(offsetof(plat::D3DDEVICEDESC7, deviceGUID) == offsetof(::D3DDEVICEDESC7, deviceGUID),
              "D3DDEVICEDESC7 layout");
static_assert(sizeof(plat::D3DRECT) == sizeof(::D3DRECT), "D3DRECT layout");
static_assert(sizeof(plat::D3DTLVERTEX) == sizeof(::D3DTLVERTEX), "D3DTLVERTEX layout");

::GUID G(REFGUID g) {
  ::GUID r;
  std::memcpy(&r, &g, sizeof r);
  return r;
}

bool IsOneOf(REFIID iid, std::initializer_list<const GUID*> ids) {
  for (const GUID* id : ids)
    if (iid == *id) return true;
  return false;
}

// The surface description in either of its two forms, as the real calls want it (the newer form). The older
// form is the newer one's first 108 bytes, so it is carried over by copying that prefix.
class DescArg {
 public:
  explicit DescArg(DDSURFACEDESC2* desc) : desc_(desc) {
    std::memset(&real_, 0, sizeof real_);
    if (!desc_) return;
    if (desc_->dwSize == sizeof(plat::DDSURFACEDESC)) {
      std::memcpy(&real_, desc_, sizeof(plat::DDSURFACEDESC));
      real_.dwSize = sizeof(::DDSURFACEDESC2);
      old_ = true;
    } else {
      std::memcpy(&real_, desc_, sizeof real_);
    }
  }
  ::DDSURFACEDESC2* get() { return desc_ ? &real_ : nullptr; }
  void CopyBack() {
    if (!desc_) return;
    if (old_) {
      std::memcpy(desc_, &real_, sizeof(plat::DDSURFACEDESC));
      desc_->dwSize = sizeof(plat::DDSURFACEDESC);
    } else {
      std::memcpy(desc_, &real_, sizeof real_);
    }
  }

 private:
  DDSURFACEDESC2* desc_;
  ::DDSURFACEDESC2 real_;
  bool old_ = false;
};

// Wine marks its ntdll with an export of its own.
bool RunsUnderWine() {
  static const bool wine = [] {
    ::HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
  }();
  return wine;
}

// A hidden top-level window without children, made once and kept for the life of the process (DirectDraw
// objects may refer to their window until they are released).
::HWND RenderWindowStandIn() {
  static const ::HWND window = [] {
    ::WNDCLASSA wc{};
    wc.lpfnWndProc = &::DefWindowProcA;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "DesktopSnowRenderWindow";
    ::RegisterClassA(&wc);
    return ::CreateWindowExA(WS_EX_TOOLWINDOW, wc.lpszClassName, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                             wc.hInstance, nullptr);
  }();
  return window;
}

// Wrappers by the real object they stand for.
std::unordered_map<void*, plat::IUnknown*>& Wrappers() {
  static std::unordered_map<void*, plat::IUnknown*> map;
  return map;
}

// A wrapper holds one reference on its real object and counts the platform's references itself.
template <class Iface, class Real>
class Wrapper : public Iface {
 public:
  explicit Wrapper(Real* real) : real_(real) { Wrappers()[real_] = this; }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  Real* real() const { return real_; }

 protected:
  ~Wrapper() override {
    Wrappers().erase(real_);
    real_->Release();
  }
  // Answers for the interface versions the platform maps onto this one class.
  HRESULT Answer(REFIID iid, void** out, std::initializer_list<const GUID*> ids) {
    if (!out) return DDERR_INVALIDPARAMS;
    if (iid == IID_IUnknown || IsOneOf(iid, ids)) {
      AddRef();
      *out = static_cast<Iface*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }

  Real* real_;
  ULONG refs_ = 1;
};

// Takes over the reference a real call handed out and returns the one wrapper of that object.
template <class W, class Real>
W* Wrap(Real* real) {
  if (!real) return nullptr;
  auto it = Wrappers().find(real);
  if (it != Wrappers().end()) {
    real->Release();  // the wrapper already holds one
    W* w = static_cast<W*>(it->second);
    w->AddRef();
    return w;
  }
  return new W(real);
}

// The real object behind a platform pointer made here; null for null or for an object of another backend.
template <class W, class Iface>
auto Unwrap(Iface* p) -> decltype(static_cast<W*>(nullptr)->real()) {
  W* w = p ? dynamic_cast<W*>(p) : nullptr;
  return w ? w->real() : nullptr;
}

// `real` is taken by reference: callers pass the real call's result and its out-variable in one argument
// list, and the variable must be read only after the call has filled it.
template <class W, class Out, class Real>
HRESULT Hand(HRESULT hr, Real*& real, Out** out) {
  if (out)
    *out = SUCCEEDED(hr) ? Wrap<W>(real) : nullptr;
  else if (real)
    real->Release();
  return hr;
}

class Win32Surface;
class Win32Clipper;
class Win32Palette;
class Win32Direct3D;
class Win32Device;

// ---- clipper ----

class Win32Clipper final : public Wrapper<IDirectDrawClipper, ::IDirectDrawClipper> {
 public:
  using Wrapper::Wrapper;
  HRESULT QueryInterface(REFIID iid, void** out) override {
    return Answer(iid, out, {&IID_IDirectDrawClipper});
  }
  HRESULT SetHWnd(DWORD flags, HWND window) override {
    ::HWND w = H<::HWND>(window);
    ::HWND given = w;
    // Under Wine a clipper on a child window makes that window an OpenGL drawable whose output, GDI's
    // included, never reaches the X display. So the real clipper gets the child's top-level window, and
    // primary-surface blits clipped to the child are done here with GDI (Win32Surface::Blt).
    if (w && RunsUnderWine() && IsChildWindow(w)) {
      if (::HWND root = ::GetAncestor(w, GA_ROOT)) w = root;
    }
    const HRESULT hr = real_->SetHWnd(flags, w);
    if (SUCCEEDED(hr)) child_ = w != given ? given : nullptr;
    return hr;
  }
  HRESULT GetHWnd(HWND* window) override {
    ::HWND w = nullptr;
    const HRESULT hr = real_->GetHWnd(&w);
    if (window) *window = H<HWND>(child_ && w ? child_ : w);
    return hr;
  }
  // The child window this clipper stands for when the real one clips to its top-level window instead.
  ::HWND child() const { return child_; }

  static bool IsChildWindow(::HWND w) { return (::GetWindowLongA(w, GWL_STYLE) & WS_CHILD) != 0; }

 private:
  ::HWND child_ = nullptr;
};

// ---- palette ----

class Win32Palette final : public Wrapper<IDirectDrawPalette, ::IDirectDrawPalette> {
 public:
  using Wrapper::Wrapper;
  HRESULT QueryInterface(REFIID iid, void** out) override {
    return Answer(iid, out, {&IID_IDirectDrawPalette});
  }
  HRESULT GetCaps(DWORD* caps) override { return real_->GetCaps(reinterpret_cast<::DWORD*>(caps)); }
  HRESULT SetEntries(DWORD flags, DWORD start, DWORD count, const PALETTEENTRY* entries) override {
    return real_->SetEntries(flags, start, count,
                             reinterpret_cast<::PALETTEENTRY*>(const_cast<PALETTEENTRY*>(entries)));
  }
  HRESULT GetEntries(DWORD flags, DWORD start, DWORD count, PALETTEENTRY* entries) override {
    return real_->GetEntries(flags, start, count, reinterpret_cast<::PALETTEENTRY*>(entries));
  }
};

// ---- surface ----

class Win32Surface final : public Wrapper<IDirectDrawSurface7, ::IDirectDrawSurface7> {
 public:
  using Wrapper::Wrapper;
  HRESULT QueryInterface(REFIID iid, void** out) override {
    return Answer(iid, out, {&IID_IDirectDrawSurface, &IID_IDirectDrawSurface4, &IID_IDirectDrawSurface7});
  }
  HRESULT GetSurfaceDesc(DDSURFACEDESC2* desc) override {
    DescArg d(desc);
    const HRESULT hr = real_->GetSurfaceDesc(d.get());
    d.CopyBack();
    return hr;
  }
  HRESULT GetCaps(DDSCAPS2* caps) override { return real_->GetCaps(reinterpret_cast<::DDSCAPS2*>(caps)); }
  HRESULT GetPixelFormat(DDPIXELFORMAT* format) override {
    return real_->GetPixelFormat(reinterpret_cast<::DDPIXELFORMAT*>(format));
  }
  HRESULT Blt(const RECT* dstRect, IDirectDrawSurface7* src, const RECT* srcRect, DWORD flags,
              DDBLTFX* fx) override {
    if (src && !Unwrap<Win32Surface>(src)) return DDERR_INVALIDPARAMS;
    ::HWND child = nullptr;
    if (src && dstRect && srcRect && IsClippedToChild(&child))
      return PresentToChild(child, *dstRect, Unwrap<Win32Surface>(src), *srcRect);
    return real_->Blt(reinterpret_cast<::RECT*>(const_cast<RECT*>(dstRect)), Unwrap<Win32Surface>(src),
                      reinterpret_cast<::RECT*>(const_cast<RECT*>(srcRect)), flags,
                      reinterpret_cast<::DDBLTFX*>(fx));
  }
  HRESULT BltFast(DWORD x, DWORD y, IDirectDrawSurface7* src, const RECT* srcRect, DWORD flags) override {
    ::IDirectDrawSurface7* s = Unwrap<Win32Surface>(src);
    if (!s) return DDERR_INVALIDPARAMS;
    return real_->BltFast(x, y, s, reinterpret_cast<::RECT*>(const_cast<RECT*>(srcRect)), flags);
  }
  HRESULT SetClipper(IDirectDrawClipper* clipper) override {
    if (clipper && !Unwrap<Win32Clipper>(clipper)) return DDERR_INVALIDPARAMS;
    return real_->SetClipper(Unwrap<Win32Clipper>(clipper));
  }
  HRESULT GetClipper(IDirectDrawClipper** out) override {
    ::IDirectDrawClipper* c = nullptr;
    return Hand<Win32Clipper>(real_->GetClipper(&c), c, out);
  }
  HRESULT SetPalette(IDirectDrawPalette* palette) override {
    if (palette && !Unwrap<Win32Palette>(palette)) return DDERR_INVALIDPARAMS;
    return real_->SetPalette(Unwrap<Win32Palette>(palette));
  }
  HRESULT GetPalette(IDirectDrawPalette** out) override {
    ::IDirectDrawPalette* p = nullptr;
    return Hand<Win32Palette>(real_->GetPalette(&p), p, out);
  }
  HRESULT SetColorKey(DWORD flags, DDCOLORKEY* key) override {
    return real_->SetColorKey(flags, reinterpret_cast<::DDCOLORKEY*>(key));
  }
  HRESULT GetColorKey(DWORD flags, DDCOLORKEY* key) override {
    return real_->GetColorKey(flags, reinterpret_cast<::DDCOLORKEY*>(key));
  }
  HRESULT GetDC(HDC* dc) override {
    ::HDC d = nullptr;
    const HRESULT hr = real_->GetDC(&d);
    if (dc) *dc = H<HDC>(d);
    return hr;
  }
  HRESULT ReleaseDC(HDC dc) override { return real_->ReleaseDC(H<::HDC>(dc)); }
  HRESULT Lock(RECT* rect, DDSURFACEDESC2* desc, DWORD flags, HANDLE event) override {
    DescArg d(desc);
    const HRESULT hr = real_->Lock(reinterpret_cast<::RECT*>(rect), d.get(), flags, event);
    d.CopyBack();
    return hr;
  }
  HRESULT Unlock(RECT* rect) override { return real_->Unlock(reinterpret_cast<::RECT*>(rect)); }
  HRESULT IsLost() override { return real_->IsLost(); }

  HRESULT Restore() override { return real_->Restore(); }
  HRESULT AddAttachedSurface(IDirectDrawSurface7* attach) override {
    ::IDirectDrawSurface7* s = Unwrap<Win32Surface>(attach);
    if (!s) return DDERR_INVALIDPARAMS;
    return real_->AddAttachedSurface(s);
  }
  HRESULT DeleteAttachedSurface(DWORD flags, IDirectDrawSurface7* attached) override {
    if (attached && !Unwrap<Win32Surface>(attached)) return DDERR_INVALIDPARAMS;
    return real_->DeleteAttachedSurface(flags, Unwrap<Win32Surface>(attached));
  }
  HRESULT GetAttachedSurface(DDSCAPS2* caps, IDirectDrawSurface7** out) override {
    ::IDirectDrawSurface7* s = nullptr;
    return Hand<Win32Surface>(real_->GetAttachedSurface(reinterpret_cast<::DDSCAPS2*>(caps), &s), s, out);
  }
  HRESULT Flip(IDirectDrawSurface7* target, DWORD flags) override {
    if (target && !Unwrap<Win32Surface>(target)) return DDERR_INVALIDPARAMS;
    return real_->Flip(Unwrap<Win32Surface>(target), flags);
  }

 private:
  // Wine (8) presents a windowed primary-surface blit through OpenGL on the clipper's window, and OpenGL
  // output in a child window never reaches the X display, so a frame blitted for the drawing surface (a child
  // of its form) would stay invisible. There the blit is done with GDI into the child's own device context
  // instead: the same pixels, at the same screen place, clipped to the same window (see Win32Clipper).
  bool IsClippedToChild(::HWND* child) {
    if (!RunsUnderWine()) return false;
    ::DDSCAPS2 caps{};
    if (FAILED(real_->GetCaps(&caps)) || !(caps.dwCaps & DDSCAPS_PRIMARYSURFACE)) return false;
    ::IDirectDrawClipper* clipper = nullptr;
    if (FAILED(real_->GetClipper(&clipper)) || !clipper) return false;
    auto it = Wrappers().find(clipper);
    clipper->Release();
    const auto* wrapper = it != Wrappers().end() ? dynamic_cast<Win32Clipper*>(it->second) : nullptr;
    if (!wrapper || !wrapper->child() || !::IsWindow(wrapper->child())) return false;
    *child = wrapper->child();
    return true;
  }
  static HRESULT PresentToChild(::HWND child, const RECT& dst, ::IDirectDrawSurface7* src,
                                const RECT& srcRect) {
    ::POINT origin{0, 0};
    ::ClientToScreen(child, &origin);
    ::HDC from = nullptr;
    HRESULT hr = src->GetDC(&from);
    if (FAILED(hr)) return hr;
    hr = DDERR_GENERIC;
    if (::HDC to = ::GetDC(child)) {
      if (::StretchBlt(to, dst.left - origin.x, dst.top - origin.y, dst.right - dst.left,
                       dst.bottom - dst.top, from, srcRect.left, srcRect.top, srcRect.right - srcRect.left,
                       srcRect.bottom - srcRect.top, SRCCOPY))
        hr = DD_OK;
      ::ReleaseDC(child, to);
    }
    src->ReleaseDC(from);
    return hr;
  }
};

// ---- enumeration callbacks: the real ones call back with the system's convention ----

struct DeviceEnum {
  LPD3DENUMDEVICESCALLBACK7 callback;
  void* context;
};
::HRESULT CALLBACK OnDevice(char* description, char* name, ::D3DDEVICEDESC7* desc, void* ctx) {
  auto* e = static_cast<DeviceEnum*>(ctx);
  return e->callback(description, name, reinterpret_cast<D3DDEVICEDESC7*>(desc), e->context);
}

struct FormatEnum {
  LPD3DENUMPIXELFORMATSCALLBACK callback;
  void* context;
};
::HRESULT CALLBACK OnFormat(::DDPIXELFORMAT* format, void* ctx) {
  auto* e = static_cast<FormatEnum*>(ctx);
  return e->callback(reinterpret_cast<DDPIXELFORMAT*>(format), e->context);
}

struct ModeEnum {
  LPDDENUMMODESCALLBACK2 callback;
  void* context;
};
::HRESULT CALLBACK OnMode(::DDSURFACEDESC2* mode, void* ctx) {
  auto* e = static_cast<ModeEnum*>(ctx);
  return e->callback(reinterpret_cast<DDSURFACEDESC2*>(mode), e->context);
}

// ---- Direct3D ----

class Win32Device final : public Wrapper<IDirect3DDevice7, ::IDirect3DDevice7> {
 public:
  using Wrapper::Wrapper;
  HRESULT QueryInterface(REFIID iid, void** out) override {
    return Answer(iid, out, {&IID_IDirect3DDevice7});
  }
  HRESULT GetCaps(D3DDEVICEDESC7* desc) override {
    return real_->GetCaps(reinterpret_cast<::D3DDEVICEDESC7*>(desc));
  }
  HRESULT EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) override {
    if (!callback) return DDERR_INVALIDPARAMS;
    FormatEnum e{callback, context};
    return real_->EnumTextureFormats(&OnFormat, &e);
  }
  HRESULT BeginScene() override { return real_->BeginScene(); }
  HRESULT EndScene() override { return real_->EndScene(); }
  HRESULT GetDirect3D(IDirect3D7** out) override;
  HRESULT SetRenderTarget(IDirectDrawSurface7* target, DWORD flags) override {
    ::IDirectDrawSurface7* s = Unwrap<Win32Surface>(target);
    if (!s) return DDERR_INVALIDPARAMS;
    return real_->SetRenderTarget(s, flags);
  }
  HRESULT GetRenderTarget(IDirectDrawSurface7** out) override {
    ::IDirectDrawSurface7* s = nullptr;
    return Hand<Win32Surface>(real_->GetRenderTarget(&s), s, out);
  }
  HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, D3DVALUE z,
                DWORD stencil) override {
    return real_->Clear(count, reinterpret_cast<::D3DRECT*>(const_cast<D3DRECT*>(rects)), flags, color, z,
                        stencil);
  }
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
    return real_->SetRenderState(static_cast<::D3DRENDERSTATETYPE>(state), value);
  }
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override {
    return real_->GetRenderState(static_cast<::D3DRENDERSTATETYPE>(state), reinterpret_cast<::DWORD*>(value));
  }
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) override {
    return real_->SetTextureStageState(stage, static_cast<::D3DTEXTURESTAGESTATETYPE>(state), value);
  }
  HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD* value) override {
    return real_->GetTextureStageState(stage, static_cast<::D3DTEXTURESTAGESTATETYPE>(state),
                                       reinterpret_cast<::DWORD*>(value));
  }
  HRESULT SetTexture(DWORD stage, IDirectDrawSurface7* texture) override {
    if (texture && !Unwrap<Win32Surface>(texture)) return DDERR_INVALIDPARAMS;
    return real_->SetTexture(stage, Unwrap<Win32Surface>(texture));
  }
  HRESULT GetTexture(DWORD stage, IDirectDrawSurface7** out) override {
    ::IDirectDrawSurface7* s = nullptr;
    return Hand<Win32Surface>(real_->GetTexture(stage, &s), s, out);
  }
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, const void* vertices, DWORD count,
                        DWORD flags) override {
    return real_->DrawPrimitive(static_cast<::D3DPRIMITIVETYPE>(type), fvf, const_cast<void*>(vertices),
                                count, flags);
  }
};

class Win32Direct3D final : public Wrapper<IDirect3D7, ::IDirect3D7> {
 public:
  using Wrapper::Wrapper;
  HRESULT QueryInterface(REFIID iid, void** out) override { return Answer(iid, out, {&IID_IDirect3D7}); }
  HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK7 callback, void* context) override {
    if (!callback) return DDERR_INVALIDPARAMS;
    DeviceEnum e{callback, context};
    return real_->EnumDevices(&OnDevice, &e);
  }
  HRESULT CreateDevice(REFCLSID device, IDirectDrawSurface7* target, IDirect3DDevice7** out) override {
    ::IDirectDrawSurface7* s = Unwrap<Win32Surface>(target);
    if (!s || !out) return DDERR_INVALIDPARAMS;
    ::IDirect3DDevice7* d = nullptr;
    return Hand<Win32Device>(real_->CreateDevice(G(device), s, &d), d, out);
  }
  HRESULT EnumZBufferFormats(REFCLSID device, LPD3DENUMPIXELFORMATSCALLBACK callback,
                             void* context) override {
    if (!callback) return DDERR_INVALIDPARAMS;
    FormatEnum e{callback, context};
    return real_->EnumZBufferFormats(G(device), &OnFormat, &e);
  }
  HRESULT EvictManagedTextures() override { return real_->EvictManagedTextures(); }
};

HRESULT Win32Device::GetDirect3D(IDirect3D7** out) {
  ::IDirect3D7* d = nullptr;
  return Hand<Win32Direct3D>(real_->GetDirect3D(&d), d, out);
}

// ---- DirectDraw ----

class Win32DirectDraw final : public Wrapper<IDirectDraw7, ::IDirectDraw7> {
 public:
  using Wrapper::Wrapper;
  HRESULT QueryInterface(REFIID iid, void** out) override {
    if (out && iid == IID_IDirect3D7) {
      // Direct3D is reached through the DirectDraw object, as on Windows.
      ::IDirect3D7* d = nullptr;
      const ::GUID real = G(iid);
      const HRESULT hr = real_->QueryInterface(real, reinterpret_cast<void**>(&d));
      IDirect3D7* w = nullptr;
      Hand<Win32Direct3D>(hr, d, &w);
      *out = static_cast<IDirect3D7*>(w);
      return hr;
    }
    return Answer(iid, out, {&IID_IDirectDraw, &IID_IDirectDraw2, &IID_IDirectDraw4, &IID_IDirectDraw7});
  }
  HRESULT GetCaps(DDCAPS* driverCaps, DDCAPS* helCaps) override {
    return real_->GetCaps(reinterpret_cast<::DDCAPS*>(driverCaps), reinterpret_cast<::DDCAPS*>(helCaps));
  }
  HRESULT SetCooperativeLevel(HWND window, DWORD flags) override {
    ::HWND w = H<::HWND>(window);
    // Under Wine the window of a windowed (normal) cooperative level becomes the OpenGL drawable Direct3D
    // renders through, and a drawable on a window with child windows (the form holds the drawing surface) is
    // kept off the X display, together with everything GDI draws into the window and its children. Frames
    // reach the screen through the clipper's window (Win32Surface::Blt), so the OpenGL drawable can live on
    // a hidden window of its own.
    if (w && flags == DDSCL_NORMAL && RunsUnderWine())
      if (::HWND standIn = RenderWindowStandIn()) w = standIn;
    return real_->SetCooperativeLevel(w, flags);
  }
  HRESULT CreateSurface(DDSURFACEDESC2* desc, IDirectDrawSurface7** out, IUnknown* outer) override {
    if (!out || outer) return DDERR_INVALIDPARAMS;
    DescArg d(desc);
    ::IDirectDrawSurface7* s = nullptr;
    return Hand<Win32Surface>(real_->CreateSurface(d.get(), &s, nullptr), s, out);
  }
  HRESULT CreateClipper(DWORD flags, IDirectDrawClipper** out, IUnknown* outer) override {
    if (!out || outer) return DDERR_INVALIDPARAMS;
    ::IDirectDrawClipper* c = nullptr;
    return Hand<Win32Clipper>(real_->CreateClipper(flags, &c, nullptr), c, out);
  }
  HRESULT CreatePalette(DWORD flags, const PALETTEENTRY* entries, IDirectDrawPalette** out,
                        IUnknown* outer) override {
    if (!out || outer) return DDERR_INVALIDPARAMS;
    ::IDirectDrawPalette* p = nullptr;
    return Hand<Win32Palette>(
        real_->CreatePalette(flags, reinterpret_cast<::PALETTEENTRY*>(const_cast<PALETTEENTRY*>(entries)), &p,
                             nullptr),
        p, out);
  }
  HRESULT WaitForVerticalBlank(DWORD flags, HANDLE event) override {
    return real_->WaitForVerticalBlank(flags, event);
  }
  HRESULT GetDisplayMode(DDSURFACEDESC2* desc) override {
    DescArg d(desc);
    const HRESULT hr = real_->GetDisplayMode(d.get());
    d.CopyBack();
    return hr;
  }
  HRESULT EnumDisplayModes(DWORD flags, DDSURFACEDESC2* filter, void* context,
                           LPDDENUMMODESCALLBACK2 callback) override {
    if (!callback) return DDERR_INVALIDPARAMS;
    ModeEnum e{callback, context};
    DescArg d(filter);
    return real_->EnumDisplayModes(flags, d.get(), &e, &OnMode);
  }
  HRESULT GetAvailableVidMem(DDSCAPS2* caps, DWORD* total, DWORD* free) override {
    return real_->GetAvailableVidMem(reinterpret_cast<::DDSCAPS2*>(caps), reinterpret_cast<::DWORD*>(total),
                                     reinterpret_cast<::DWORD*>(free));
  }
  HRESULT RestoreAllSurfaces() override { return real_->RestoreAllSurfaces(); }
  HRESULT FlipToGDISurface() override { return real_->FlipToGDISurface(); }
  HRESULT TestCooperativeLevel() override { return real_->TestCooperativeLevel(); }
};

// ---- the library's entry points ----

using RealCreateEx = ::HRESULT(WINAPI*)(::GUID*, void**, const ::IID&, ::IUnknown*);
using RealCreate = ::HRESULT(WINAPI*)(::GUID*, ::IDirectDraw**, ::IUnknown*);
RealCreateEx g_realCreateEx = nullptr;
RealCreate g_realCreate = nullptr;

HRESULT CreateExAdapter(GUID* guid, void** out, REFIID iid, IUnknown* outer) {
  if (!out) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  if (outer || iid != IID_IDirectDraw7) return DDERR_INVALIDPARAMS;
  if (!g_realCreateEx) return DDERR_GENERIC;
  ::IDirectDraw7* dd = nullptr;
  const ::GUID real = G(iid);
  // The driver GUID pointer passes as it is: besides real GUIDs it may be one of the small special values.
  const HRESULT hr =
      g_realCreateEx(reinterpret_cast<::GUID*>(guid), reinterpret_cast<void**>(&dd), real, nullptr);
  IDirectDraw7* w = nullptr;
  Hand<Win32DirectDraw>(hr, dd, &w);
  *out = w;
  return hr;
}

HRESULT CreateAdapter(GUID* guid, IDirectDraw7** out, IUnknown* outer) {
  if (!out) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  if (outer) return DDERR_INVALIDPARAMS;
  if (!g_realCreate) return DDERR_GENERIC;
  ::IDirectDraw* dd = nullptr;
  HRESULT hr = g_realCreate(reinterpret_cast<::GUID*>(guid), &dd, nullptr);
  if (FAILED(hr)) return hr;
  // The platform's DirectDraw object is always the newest version.
  ::IDirectDraw7* dd7 = nullptr;
  const ::GUID iid7 = G(IID_IDirectDraw7);
  hr = dd->QueryInterface(iid7, reinterpret_cast<void**>(&dd7));
  dd->Release();
  Hand<Win32DirectDraw>(hr, dd7, out);
  return hr;
}

}  // namespace

HMODULE Win32DirectDrawSystem::LoadLibraryA(const char* fileName) {
  return H<HMODULE>(::LoadLibraryA(fileName));
}

FARPROC Win32DirectDrawSystem::GetProcAddress(HMODULE module, const char* procName) {
  if (!procName) return nullptr;
  ::FARPROC real = ::GetProcAddress(H<::HMODULE>(module), procName);
  if (!real) return nullptr;
  if (std::strcmp(procName, "DirectDrawCreateEx") == 0) {
    g_realCreateEx = reinterpret_cast<RealCreateEx>(reinterpret_cast<void*>(real));
    return reinterpret_cast<FARPROC>(&CreateExAdapter);
  }
  if (std::strcmp(procName, "DirectDrawCreate") == 0) {
    g_realCreate = reinterpret_cast<RealCreate>(reinterpret_cast<void*>(real));
    return reinterpret_cast<FARPROC>(&CreateAdapter);
  }
  ::SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL Win32DirectDrawSystem::FreeLibrary(HMODULE module) {
  return ::FreeLibrary(H<::HMODULE>(module));
}

}  // namespace plat::win32
