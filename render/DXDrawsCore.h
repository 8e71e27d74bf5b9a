// The drawing surface and its DirectDraw objects: thin wrappers over the DirectDraw object, its surfaces,
// clipper and palette (each keeps the result code of its last call), the run-time loading of the DirectDraw
// library, the presentation drivers, and TCustomDXDraw / TDXDraw, the control every frame is composed on.
// The hardware 2D renderer (TD2D), which the surface creates, empties and frees, and the picture list are
// declared in render/DXDrawsImages.h; include render/DXDraws.h for the whole unit.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "core/Components.h"
#include "core/SysUtils.h"
#include "picture/Graphics.h"
#include "platform/DirectDraw.h"
#include "platform/Gdi.h"
#include "render/DIB.h"  // SCannotMade, shared with the bitmap unit
#include "render/DXClass.h"
#include "ui/Controls.h"
#include "ui/Forms.h"

class TCustomDXDraw;
class TDirectDraw;
class TDirectDrawSurface;
class TDirectDrawClipper;
class TDirectDrawPalette;
class TD2D;
class TD2DTextures;

// ---- Errors and their texts ----

DS_DECLARE_EXCEPTION(EDirectXError, Exception);
DS_DECLARE_EXCEPTION(EDirectDrawError, EDirectXError);
DS_DECLARE_EXCEPTION(EDirectDrawPaletteError, EDirectDrawError);
DS_DECLARE_EXCEPTION(EDirectDrawClipperError, EDirectDrawError);
DS_DECLARE_EXCEPTION(EDirectDrawSurfaceError, EDirectDrawError);
DS_DECLARE_EXCEPTION(EDXDrawError, Exception);

inline constexpr const char* SDLLNotLoaded = "%s is not loaded";
inline constexpr const char* SCannotInitialized = "%s cannot be initialized";
inline constexpr const char* SDirectX7NotSupported = "Requires DirectX 7.0 or later";
inline constexpr const char* SDirectX6NotSupported = "Requires DirectX 6.0 or later";
inline constexpr const char* SNotMade = "%s not made";
inline constexpr const char* SNot3DDeviceFound = "3D device not found";
inline constexpr const char* SNotFoundForm = "Form not found";
inline constexpr const char* SDisplaymodeChange = "Display mode cannot be changed (%dx%d %dbit)";
inline constexpr const char* SInvalidDisplayBitCount = "Display requires 8, 16, 24 or 32 bits";
inline constexpr const char* SDirectDraw = "DirectDraw";
inline constexpr const char* SPrimarySurface = "Primary Surface";
inline constexpr const char* SSurface = "Surface";
inline constexpr const char* SClipper = "Clipper";
inline constexpr const char* SDirect3DDevice7 = "IDirect3DDevice7";
inline constexpr const char* SDirectDrawLibrary = "DDraw.dll";

// ---- Run-time loaded libraries ----

// The address of a named entry point of a library, loading the library on first use. Libraries are kept
// in a process-wide list keyed by the lower-cased file name. Raises Exception "%s is not loaded" with the
// library name when the library cannot be loaded or lacks the entry.
plat::FARPROC LoadDirectXEntry(const std::string& Library, const std::string& Entry);
// Frees every listed library; the program calls it once at its end (tests after each platform).
void FreeDirectXLibraries();
// Number of libraries in the list.
int LoadedDirectXLibraryCount();

// ---- Options ----

enum TDXDrawOption : int {
  doFullScreen,
  doNoWindowChange,
  doAllowReboot,
  doWaitVBlank,
  doAllowPalette256,
  doSystemMemory,
  doStretch,
  doCenter,
  doFlip,
  do3D,
  doDirectX7Mode,
  doRetainedMode,
  doHardware,
  doSelectDriver,
  doZBuffer,
};

// A set of TDXDrawOption held in 16 bits; element n is bit n.
class TDXDrawOptions {
 public:
  constexpr TDXDrawOptions() = default;
  constexpr TDXDrawOptions(std::initializer_list<TDXDrawOption> Items) {
    for (TDXDrawOption o : Items) bits_ = static_cast<std::uint16_t>(bits_ | Bit(o));
  }
  static constexpr TDXDrawOptions FromBits(std::uint32_t Bits) {
    TDXDrawOptions s;
    s.bits_ = static_cast<std::uint16_t>(Bits & 0x7FFF);
    return s;
  }
  constexpr std::uint16_t Bits() const { return bits_; }
  constexpr bool Contains(TDXDrawOption o) const { return (bits_ & Bit(o)) != 0; }
  void Include(TDXDrawOption o) { bits_ = static_cast<std::uint16_t>(bits_ | Bit(o)); }
  void Exclude(TDXDrawOption o) { bits_ = static_cast<std::uint16_t>(bits_ & ~Bit(o)); }
  void Set(TDXDrawOption o, bool on) { on ? Include(o) : Exclude(o); }
  constexpr bool operator==(const TDXDrawOptions& r) const { return bits_ == r.bits_; }
  constexpr bool operator!=(const TDXDrawOptions& r) const { return bits_ != r.bits_; }

 private:
  static constexpr std::uint16_t Bit(TDXDrawOption o) { return static_cast<std::uint16_t>(1u << o); }
  std::uint16_t bits_ = 0;
};

// What a new drawing surface asks for.
inline constexpr TDXDrawOptions DefaultDXDrawOptions = {doAllowReboot,  doWaitVBlank, doCenter,      do3D,
                                                        doDirectX7Mode, doHardware,   doSelectDriver};
// Option names in bit order, as the form description writes them.
const std::vector<std::string>& DXDrawOptionNames();

// ---- DirectX wrappers ----

// The DirectDraw object with its capability blocks and the lists of the clippers, palettes and surfaces
// made on it. Destroying it frees every surface still listed, then every palette, then every clipper (each
// list from its last entry), then releases its interfaces.
class TDirectDraw : public TDirectX {
  DS_CLASS_NAME(TDirectDraw)
 public:
  // Creates the object of driver GUID (null: the default display driver) through "DDraw.dll". Raises
  // EDirectDrawError "%s cannot be initialized" / "Requires DirectX 7.0 or later" / "... 6.0 or later".
  TDirectDraw(const plat::GUID* GUID, bool DirectX7Mode);
  ~TDirectDraw() override;
  TDirectDraw(const TDirectDraw&) = delete;
  TDirectDraw& operator=(const TDirectDraw&) = delete;

  // The interfaces, or null (IDDraw7 is null outside DirectX 7 mode).
  plat::IDirectDraw7* IDDraw() const { return IDDraw_; }
  plat::IDirectDraw7* IDDraw4() const { return IDDraw4_; }
  plat::IDirectDraw7* IDDraw7() const { return IDDraw7_; }
  // The same, raising EDirectDrawError "%s not made" with the interface name when missing.
  plat::IDirectDraw7* IDraw() const;
  plat::IDirectDraw7* IDraw4() const;
  plat::IDirectDraw7* IDraw7() const;

  const plat::DDCAPS& DriverCaps() const { return DriverCaps_; }
  const plat::DDCAPS& HELCaps() const { return HELCaps_; }

  int SurfaceCount() const { return static_cast<int>(surfaces_.size()); }
  int PaletteCount() const { return static_cast<int>(palettes_.size()); }
  int ClipperCount() const { return static_cast<int>(clippers_.size()); }
  TDirectDrawSurface* Surfaces(int Index) const { return surfaces_.at(static_cast<std::size_t>(Index)); }

 private:
  friend class TDirectDrawSurface;
  friend class TDirectDrawPalette;
  friend class TDirectDrawClipper;
  void ReleaseInterfaces();

  plat::IDirectDraw7* IDDraw_ = nullptr;
  plat::IDirectDraw7* IDDraw4_ = nullptr;
  plat::IDirectDraw7* IDDraw7_ = nullptr;
  plat::DDCAPS DriverCaps_{};
  plat::DDCAPS HELCaps_{};
  std::vector<TDirectDrawClipper*> clippers_;
  std::vector<TDirectDrawPalette*> palettes_;
  std::vector<TDirectDrawSurface*> surfaces_;
};

class TDirectDrawSurfaceCanvas;

// One DirectDraw surface. It enters its owner's list on creation and leaves it on destruction.
class TDirectDrawSurface : public TDirectX {
  DS_CLASS_NAME(TDirectDrawSurface)
 public:
  explicit TDirectDrawSurface(TDirectDraw* ADirectDraw);
  ~TDirectDrawSurface() override;
  TDirectDrawSurface(const TDirectDrawSurface&) = delete;
  TDirectDrawSurface& operator=(const TDirectDrawSurface&) = delete;

  TDirectDraw* DDraw() const { return DDraw_; }
  // The interfaces, or null (IDDSurface7 only when the owner has IDirectDraw7).
  plat::IDirectDrawSurface7* IDDSurface() const { return IDDSurface_; }
  plat::IDirectDrawSurface7* IDDSurface4() const { return IDDSurface4_; }
  plat::IDirectDrawSurface7* IDDSurface7() const { return IDDSurface7_; }
  // The same, raising EDirectDrawSurfaceError "%s not made" ("IDirectDrawSurface", "IDirectDrawSurface7").
  plat::IDirectDrawSurface7* ISurface() const;
  plat::IDirectDrawSurface7* ISurface4() const;
  plat::IDirectDrawSurface7* ISurface7() const;

  // Releases the old interfaces and zeroes the description; then (Value not null) queries the three
  // interfaces from Value (the caller keeps its own reference), sets HasClipper and reads the description.
  void SetIDDSurface(plat::IDirectDrawSurface7* Value);
  // Drops any old interface, creates a surface from Desc (a DDSURFACEDESC or DDSURFACEDESC2, by dwSize),
  // stores the result in this surface and in the owner; on success takes the interface and resets the
  // source colour key to 0. True on success.
  bool CreateSurface(plat::DDSURFACEDESC& Desc);
  bool CreateSurface(plat::DDSURFACEDESC2& Desc);

  // The description read back after the interface was set (zero when there is none).
  const plat::DDSURFACEDESC& SurfaceDesc() const { return SurfaceDesc_; }
  int Width() const { return static_cast<int>(SurfaceDesc_.dwWidth); }
  int Height() const { return static_cast<int>(SurfaceDesc_.dwHeight); }
  int BitCount() const { return static_cast<int>(SurfaceDesc_.ddpfPixelFormat.dwRGBBitCount); }
  plat::DWORD Caps() const { return SurfaceDesc_.ddsCaps.dwCaps; }
  bool HasClipper() const { return HasClipper_; }

  // Calls whose results are only stored (ResultCode); each returns whether the call succeeded.
  bool SetClipper(TDirectDrawClipper* Clipper);
  bool SetPalette(TDirectDrawPalette* Palette);
  bool SetColorKey(plat::DWORD Flags, const plat::DDCOLORKEY& Key);
  // Colour fill of the whole surface with a raw pixel value (DDBLT_COLORFILL | DDBLT_WAIT).
  bool Fill(plat::DWORD DevColor);
  bool Blt(const plat::RECT* DestRect, TDirectDrawSurface* Source, const plat::RECT* SrcRect,
           plat::DWORD Flags, plat::DDBLTFX* Fx);
  // IsLost's raw result (DD_OK or DDERR_SURFACELOST); also stored. DDERR_SURFACELOST without interface.
  plat::HRESULT IsLost();
  bool Restore();
  // Locks the whole surface (Desc receives pointer and pitch); Unlock undoes one lock.
  bool Lock(plat::DDSURFACEDESC2& Desc, plat::DWORD Flags = plat::DDLOCK_WAIT);
  void Unlock();
  int LockCount() const { return LockCount_; }

  // A GDI canvas over the surface, made on first use.
  TDirectDrawSurfaceCanvas& Canvas();

 private:
  void ReleaseInterfaces();
  template <class Desc>
  bool CreateFrom(Desc& D);

  std::unique_ptr<TDirectDrawSurfaceCanvas> Canvas_;
  bool HasClipper_ = false;
  TDirectDraw* DDraw_;
  plat::IDirectDrawSurface7* IDDSurface_ = nullptr;
  plat::IDirectDrawSurface7* IDDSurface4_ = nullptr;
  plat::IDirectDrawSurface7* IDDSurface7_ = nullptr;
  plat::DDSURFACEDESC SurfaceDesc_{};
  int LockCount_ = 0;
};

// A GDI canvas whose device context comes from the surface (until Release or destruction).
class TDirectDrawSurfaceCanvas : public TCanvas {
 public:
  explicit TDirectDrawSurfaceCanvas(TDirectDrawSurface* ASurface) : Surface_(ASurface) {}
  ~TDirectDrawSurfaceCanvas() override;
  // Gives the device context back to the surface.
  void Release();

 protected:
  void CreateHandle() override;

 private:
  TDirectDrawSurface* Surface_;
};

class TDirectDrawClipper : public TDirectX {
  DS_CLASS_NAME(TDirectDrawClipper)
 public:
  // Creates the clipper; raises EDirectDrawClipperError "%s cannot be made" with "Clipper".
  explicit TDirectDrawClipper(TDirectDraw* ADirectDraw);
  ~TDirectDrawClipper() override;
  TDirectDrawClipper(const TDirectDrawClipper&) = delete;
  TDirectDrawClipper& operator=(const TDirectDrawClipper&) = delete;

  TDirectDraw* DDraw() const { return DDraw_; }
  plat::IDirectDrawClipper* IDDClipper() const { return IDDClipper_; }
  // Raises EDirectDrawClipperError "%s not made" with "IDirectDrawClipper" when missing.
  plat::IDirectDrawClipper* IClipper() const;
  // Binds the clipper to a window (SetHWnd); the result is stored.
  bool SetHandle(plat::HWND Window);

 private:
  TDirectDraw* DDraw_;
  plat::IDirectDrawClipper* IDDClipper_ = nullptr;
};

class TDirectDrawPalette : public TDirectX {
  DS_CLASS_NAME(TDirectDrawPalette)
 public:
  explicit TDirectDrawPalette(TDirectDraw* ADirectDraw);
  ~TDirectDrawPalette() override;
  TDirectDrawPalette(const TDirectDrawPalette&) = delete;
  TDirectDrawPalette& operator=(const TDirectDrawPalette&) = delete;

  TDirectDraw* DDraw() const { return DDraw_; }
  plat::IDirectDrawPalette* IDDPalette() const { return IDDPalette_; }
  // Raises EDirectDrawPaletteError "%s not made" with "IDirectDrawPalette" when missing.
  plat::IDirectDrawPalette* IPalette() const;
  // Creates the palette interface (256 entries); the result is stored, a failure leaves none.
  bool CreatePalette(plat::DWORD Caps, const plat::PALETTEENTRY* Entries);
  bool SetEntries(plat::DWORD StartIndex, plat::DWORD Count, const plat::PALETTEENTRY* Entries);

 private:
  TDirectDraw* DDraw_;
  plat::IDirectDrawPalette* IDDPalette_ = nullptr;
};

// ---- Presentation drivers ----

// Works on the state of its owner component. Its constructor creates the owner's DDraw; freeing it
// releases the 3D device, the Direct3D interfaces, the depth surface, clipper, palette, both surfaces and
// then the DirectDraw object.
class TDXDrawDriver : public TObject {
 public:
  explicit TDXDrawDriver(TCustomDXDraw* ADXDraw);
  ~TDXDrawDriver() override;
  TDXDrawDriver(const TDXDrawDriver&) = delete;
  TDXDrawDriver& operator=(const TDXDrawDriver&) = delete;

  virtual void Finalize();
  virtual void Flip() = 0;
  virtual void Initialize() = 0;
  virtual bool SetSize(int Width, int Height);
  // Restores the lost primary and back surfaces and clears them; true when both came back.
  virtual bool Restore();

  TCustomDXDraw* DXDraw() const { return DXDraw_; }

 protected:
  // The back surface at the stored size (also used on resize), with the 3D set-up when do3D is in force.
  void CreateBackSurface();
  void Setup3D();

  TCustomDXDraw* DXDraw_;
};

// Windowed: the back surface is copied into the control's place on the screen at every Flip.
class TDXDrawDriverBlt : public TDXDrawDriver {
 public:
  explicit TDXDrawDriverBlt(TCustomDXDraw* ADXDraw) : TDXDrawDriver(ADXDraw) {}
  void Flip() override;
  void Initialize() override;
  bool SetSize(int Width, int Height) override;
};

// Full screen: a flipping chain (not used by this program).
class TDXDrawDriverFlip : public TDXDrawDriver {
 public:
  explicit TDXDrawDriverFlip(TCustomDXDraw* ADXDraw) : TDXDrawDriver(ADXDraw) {}
  void Flip() override;
  void Initialize() override;
};

// ---- Surface notifications ----

enum TSurfaceNotifyKind : int {
  snDestroying,
  snInitializing,
  snInitialize,
  snInitializeSurface,
  snFinalize,
  snFinalizeSurface,
  snRestore,
  snSetSurfaceSize,
};

// A method bound to an object: Code identifies the method, Data the object; two handlers are the same
// when both match. Make one with MakeSurfaceNotifyHandler<T, &T::Method>(object).
struct TSurfaceNotifyHandler {
  using TCode = void (*)(void* Data, TCustomDXDraw* Sender, TSurfaceNotifyKind Kind);
  TCode Code = nullptr;
  void* Data = nullptr;
  void operator()(TCustomDXDraw* Sender, TSurfaceNotifyKind Kind) const {
    if (Code) Code(Data, Sender, Kind);
  }
  bool operator==(const TSurfaceNotifyHandler& o) const { return Code == o.Code && Data == o.Data; }
  bool operator!=(const TSurfaceNotifyHandler& o) const { return !(*this == o); }
};

template <class T, void (T::*Method)(TCustomDXDraw*, TSurfaceNotifyKind)>
TSurfaceNotifyHandler MakeSurfaceNotifyHandler(T* Object) {
  TSurfaceNotifyHandler h;
  h.Code = [](void* data, TCustomDXDraw* sender, TSurfaceNotifyKind kind) {
    (static_cast<T*>(data)->*Method)(sender, kind);
  };
  h.Data = Object;
  return h;
}

// ---- The hardware 2D renderer's process-wide state ----

// The newest renderer (null after freeing) and the render-error flag, process-wide: the renderer sets the
// flag when a Direct3D call fails; Flip skips one present while it is set and always clears it.
extern TD2D* CurrentD2D;
extern bool RenderError;

// ---- Display settings (full screen only) ----

class TDXDrawDisplayMode : public TCollectionItem {
  DS_CLASS_NAME(TDXDrawDisplayMode)
 public:
  explicit TDXDrawDisplayMode(TCollection* Collection) : TCollectionItem(Collection) {}
  int Width = 0, Height = 0, BitCount = 0;
};

class TDXDrawDisplay : public TPersistent {
  DS_CLASS_NAME(TDXDrawDisplay)
 public:
  explicit TDXDrawDisplay(TCustomDXDraw* ADXDraw);
  ~TDXDrawDisplay() override;

  int BitCount() const { return BitCount_; }
  // Accepts 8, 16, 24 or 32; raises EDirectDrawError "Display requires 8, 16, 24 or 32 bits".
  void SetBitCount(int Value);
  bool FixedBitCount() const { return FixedBitCount_; }
  void SetFixedBitCount(bool v) { FixedBitCount_ = v; }
  bool FixedRatio() const { return FixedRatio_; }
  void SetFixedRatio(bool v) { FixedRatio_ = v; }
  bool FixedSize() const { return FixedSize_; }
  void SetFixedSize(bool v) { FixedSize_ = v; }
  int Width() const { return Width_; }
  void SetWidth(int v) { Width_ = v > 0 ? v : 0; }
  int Height() const { return Height_; }
  void SetHeight(int v) { Height_ = v > 0 ? v : 0; }

  // The enumerated display modes (filled on demand; emptied by the surface's Finalize).
  TCollection& Modes() { return Modes_; }
  void Assign(const TPersistent* Source) override;
  TPersistent* GetOwner() const override;

 private:
  TCustomDXDraw* DXDraw_;
  int BitCount_ = 16;
  bool FixedBitCount_ = false;
  bool FixedRatio_ = true;
  bool FixedSize_ = true;
  int Width_ = 640;
  int Height_ = 480;
  TCollection Modes_;
};

// Stored traces (published, not used by this program).
class TTrace : public TCollectionItem {
  DS_CLASS_NAME(TTrace)
 public:
  explicit TTrace(TCollection* Collection) : TCollectionItem(Collection) {}
  std::string Name;
  std::string GetDisplayName() const override {
    return Name.empty() ? TCollectionItem::GetDisplayName() : Name;
  }
};
class TTraces : public TCollection {
  DS_CLASS_NAME(TTraces)
 public:
  explicit TTraces(TPersistent* Owner);
};

using TOnUpdateTextures = std::function<void(TD2DTextures* Sender, bool& Changed)>;

// ---- The drawing surface ----

class TCustomDXDraw : public TCustomControl {
  DS_CLASS_NAME(TCustomDXDraw)
 public:
  explicit TCustomDXDraw(TComponent* AOwner);
  ~TCustomDXDraw() override;

  // Builds everything and fires the initialise events; raises on failure after undoing what was built.
  void Initialize();
  // Fires the finalise events and releases everything; safe at any time.
  void Finalize();
  // Presents the back surface; silently nothing when not initialised, while updating, with lost surfaces
  // that cannot be restored, or when RenderError is set. Clears RenderError in every case.
  void Flip();
  void Restore();
  // True when drawing may go on this frame.
  bool RestoreIfLost();
  void SetSurfaceSize(int AWidth, int AHeight);

  // Notification protocol.
  void AddNotifyHandler(const TSurfaceNotifyHandler& Handler);
  void RemoveNotifyHandler(const TSurfaceNotifyHandler& Handler);
  void NotifyHandlers(TSurfaceNotifyKind Kind);
  void RegisterNotifyEvent(const TSurfaceNotifyHandler& Handler) { AddNotifyHandler(Handler); }
  void UnRegisterNotifyEvent(const TSurfaceNotifyHandler& Handler) { RemoveNotifyHandler(Handler); }
  int NotifyCount() const { return static_cast<int>(NotifyList_.size()); }

  // Published properties.
  bool AutoInitialize() const { return AutoInitialize_; }
  void SetAutoInitialize(bool v) { AutoInitialize_ = v; }
  bool AutoSize() const { return AutoSize_; }
  void SetAutoSize(bool Value);
  TDXDrawDisplay& Display() { return *Display_; }
  void SetDisplay(const TDXDrawDisplay& Value) { Display_->Assign(&Value); }
  TDXDrawOptions Options() const { return Options_; }
  void SetOptions(TDXDrawOptions Value);
  TDXDrawOptions EffectiveOptions() const { return EffectiveOptions_; }
  // The back surface's real size when it exists, else the stored values.
  int SurfaceWidth() const;
  int SurfaceHeight() const;
  void SetSurfaceWidth(int Value);
  void SetSurfaceHeight(int Value);
  TTraces& Traces() { return *Traces_; }
  void SetTraces(const TTraces& Value) { Traces_->Assign(&Value); }

  TNotifyEvent OnFinalize;
  TNotifyEvent OnFinalizeSurface;
  TNotifyEvent OnInitialize;
  TNotifyEvent OnInitializeSurface;
  TNotifyEvent OnInitializing;
  TNotifyEvent OnRestoreSurface;
  TOnUpdateTextures OnUpdateTextures;
  TNotifyEvent OnRender;

  // Read access for drawing code and the driver.
  TDirectDraw* DDraw() const { return DDraw_; }
  TDirectDrawSurface* Primary() const { return Primary_; }
  TDirectDrawSurface* Surface() const { return Surface_; }
  TDirectDrawClipper* Clipper() const { return Clipper_; }
  TDirectDrawPalette* Palette() const { return Palette_; }
  TDirectDrawSurface* ZBuffer() const { return ZBuffer_; }
  plat::IDirect3D7* D3D7() const { return D3D7_; }
  plat::IDirect3DDevice7* D3DDevice7() const { return D3DDevice7_; }
  TD2D* D2D() const { return D2D_.get(); }
  TDXDrawDriver* Driver() const { return Driver_; }
  bool Initialized() const { return Initialized_; }
  bool CanDraw() const { return Initialized_; }
  bool InitRequested() const { return InitRequested_; }
  bool InitStarted() const { return InitStarted_; }
  bool Updating() const { return Updating_; }
  bool InitEventFired() const { return InitEventFired_; }
  bool SurfaceEventFired() const { return SurfaceEventFired_; }
  int RestoreSuppress() const { return RestoreSuppress_; }
  TCustomForm* OwnerForm() const { return OwnerForm_; }
  TControlSubClass* FormHook() const { return FormHook_.get(); }
  const plat::RGBQUAD* ColorTable() const { return ColorTable_; }
  plat::RGBQUAD* ColorTable() { return ColorTable_; }
  const plat::RGBQUAD* DefaultColorTable() const { return DefaultColorTable_; }
  // The 256 palette entries built from a colour table (red and blue swapped, flags 0x40; entries 0..9 and
  // 246..255 from the screen's system palette unless doAllowPalette256 is in force).
  void BuildPaletteEntries(const plat::RGBQUAD* Table, plat::PALETTEENTRY* Entries) const;
  void UpdatePalette();  // loads the palette from ColorTable

  // The palette-changed notification: restores when the palette is in the foreground; true when handled.
  bool PaletteChanged(bool Foreground) override;

  void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
  void SetParent(TWinControl* AParent) override;
  void Loaded() override;

 protected:
  virtual void DoFinalize();
  virtual void DoFinalizeSurface();
  virtual void DoInitialize();
  virtual void DoInitializeSurface();
  virtual void DoInitializing();
  virtual void DoRestoreSurface();

  void Paint() override;
  void WndProc(TMessage& Message) override;

 private:
  friend class TDXDrawDriver;
  friend class TDXDrawDriverBlt;
  friend class TDXDrawDriverFlip;

  void ApplyCooperativeLevel();
  void FormMessageHook(TMessage& Message, const TWndMethod& DefWindowProc);
  void FlipToGDIIfExclusive();
  void LoadPalette(const plat::RGBQUAD* Table);
  void CreateD2D();
  void FreeD2D();
  void ReleaseFormHook();

  // State in declaration order, as the component's layout is documented.
  bool AutoInitialize_ = true;
  bool AutoSize_ = true;
  bool InitEventFired_ = false;
  bool SurfaceEventFired_ = false;
  TCustomForm* OwnerForm_ = nullptr;
  std::vector<TSurfaceNotifyHandler> NotifyList_;
  bool Initialized_ = false;
  bool InitRequested_ = false;
  bool InitStarted_ = false;
  bool Updating_ = false;
  std::unique_ptr<TControlSubClass> FormHook_;
  TDXDrawOptions EffectiveOptions_;
  TDXDrawOptions Options_;
  std::int32_t RestoreSuppress_ = 0;
  TDXDrawDriver* Driver_ = nullptr;
  const plat::GUID* DriverGuid_ = nullptr;
  plat::GUID DriverGuidCopy_{};
  TDirectDraw* DDraw_ = nullptr;
  std::unique_ptr<TDXDrawDisplay> Display_;
  TDirectDrawClipper* Clipper_ = nullptr;
  TDirectDrawPalette* Palette_ = nullptr;
  TDirectDrawSurface* Primary_ = nullptr;
  TDirectDrawSurface* Surface_ = nullptr;
  std::int32_t SurfaceWidth_ = 0;
  std::int32_t SurfaceHeight_ = 0;
  plat::IDirect3D7* D3D7_ = nullptr;
  plat::IDirect3DDevice7* D3DDevice7_ = nullptr;
  TDirectDrawSurface* ZBuffer_ = nullptr;
  std::unique_ptr<TD2D> D2D_;
  std::unique_ptr<TTraces> Traces_;
  plat::RGBQUAD ColorTable_[256] = {};
  plat::RGBQUAD DefaultColorTable_[256] = {};
};

class TDXDraw : public TCustomDXDraw {
  DS_CLASS_NAME(TDXDraw)
 public:
  explicit TDXDraw(TComponent* AOwner) : TCustomDXDraw(AOwner) {}
};

// Registers TDXDraw and its nested classes for the form reader (idempotent).
void RegisterDXDrawClasses();
