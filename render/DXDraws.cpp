// TCustomDXDraw / TDXDraw: the drawing surface's life cycle (initialise, finalise, restore, resize), its
// notifications, the form hook, painting, and its registration with the form reader.
#include <algorithm>

#include "core/PropTable.h"
#include "platform/Gdi.h"
#include "platform/Platform.h"
#include "platform/Windows.h"
#include "render/DXDraws.h"

namespace {
// Size-move notifications of the form's window.
constexpr plat::UINT kWMEnterSizeMove = 0x0231;
constexpr plat::UINT kWMExitSizeMove = 0x0232;
// Full-screen cooperative flags: full screen, exclusive, mode X allowed.
constexpr plat::DWORD kFullScreenCooperation = 0x51;
}  // namespace

TD2D* CurrentD2D = nullptr;
bool RenderError = false;

// ---- TDXDrawDisplay ----

TDXDrawDisplay::TDXDrawDisplay(TCustomDXDraw* ADXDraw)
    : DXDraw_(ADXDraw), Modes_([](TCollection* c) { return new TDXDrawDisplayMode(c); }, this) {}

TDXDrawDisplay::~TDXDrawDisplay() = default;

void TDXDrawDisplay::SetBitCount(int Value) {
  if (Value != 8 && Value != 16 && Value != 24 && Value != 32)
    throw EDirectDrawError(SInvalidDisplayBitCount);
  BitCount_ = Value;
}

void TDXDrawDisplay::Assign(const TPersistent* Source) {
  if (auto* s = dynamic_cast<const TDXDrawDisplay*>(Source)) {
    BitCount_ = s->BitCount_;
    FixedBitCount_ = s->FixedBitCount_;
    FixedRatio_ = s->FixedRatio_;
    FixedSize_ = s->FixedSize_;
    Width_ = s->Width_;
    Height_ = s->Height_;
    return;
  }
  TPersistent::Assign(Source);
}

TPersistent* TDXDrawDisplay::GetOwner() const {
  return DXDraw_;
}

TTraces::TTraces(TPersistent* Owner) : TCollection([](TCollection* c) { return new TTrace(c); }, Owner) {
  PropName = "Traces";
}

// ---- TCustomDXDraw: construction ----

TCustomDXDraw::TCustomDXDraw(TComponent* AOwner) : TCustomControl(AOwner) {
  AutoInitialize_ = true;
  Display_ = std::make_unique<TDXDrawDisplay>(this);
  SetOptions(DefaultDXDrawOptions);
  AutoSize_ = false;
  SetAutoSize(true);

  plat::PALETTEENTRY entries[256] = {};
  plat::Gdi& gdi = plat::GdiSvc();
  plat::HDC dc = gdi.GetDC(nullptr);
  gdi.GetSystemPaletteEntries(dc, 0, 256, entries);
  gdi.ReleaseDC(nullptr, dc);
  for (int i = 0; i < 256; ++i) {
    ColorTable_[i].rgbRed = entries[i].peRed;
    ColorTable_[i].rgbGreen = entries[i].peGreen;
    ColorTable_[i].rgbBlue = entries[i].peBlue;
    ColorTable_[i].rgbReserved = 0;
  }
  std::copy(std::begin(ColorTable_), std::end(ColorTable_), std::begin(DefaultColorTable_));

  // The stored surface size stays 0 until loading or AutoSize sets it, so the initial bounds bypass the
  // auto-size rule.
  TCustomControl::SetBounds(Left(), Top(), 100, 100);
  ParentColor = false;
  SetColor(clBlack);
  CreateD2D();
  Traces_ = std::make_unique<TTraces>(this);
}

TCustomDXDraw::~TCustomDXDraw() {
  try {
    Finalize();
  } catch (...) {
    // A destructor cannot pass an error on; the objects are released by Finalize's own cleanup.
  }
  NotifyHandlers(snDestroying);
  Display_.reset();
  ReleaseFormHook();
  NotifyList_.clear();
  FreeD2D();
  Traces_.reset();
}

void TCustomDXDraw::ReleaseFormHook() {
  FormHook_.reset();
  OwnerForm_ = nullptr;
}

void TCustomDXDraw::CreateD2D() {
  D2D_ = std::make_unique<TD2D>(this);
  CurrentD2D = D2D_.get();
}

void TCustomDXDraw::FreeD2D() {
  // Both pointers are cleared before the renderer goes, so nothing reaches it half destroyed.
  std::unique_ptr<TD2D> d = std::move(D2D_);
  CurrentD2D = nullptr;
}

// ---- Options and sizes ----

void TCustomDXDraw::SetOptions(TDXDrawOptions Value) {
  Options_ = Value;
  if (Initialized_) {
    TDXDrawOptions e = EffectiveOptions_;
    for (TDXDrawOption o : {doWaitVBlank, doStretch, doCenter}) e.Set(o, Value.Contains(o));
    if (!e.Contains(do3D)) {
      for (TDXDrawOption o : {doRetainedMode, doHardware, doSelectDriver, doZBuffer}) e.Exclude(o);
    }
    EffectiveOptions_ = e;
    return;
  }
  TDXDrawOptions e = Value;
  if (!e.Contains(doFullScreen)) {
    for (TDXDrawOption o : {doNoWindowChange, doAllowReboot, doAllowPalette256, doFlip}) e.Exclude(o);
  }
  if (!e.Contains(do3D)) {
    for (TDXDrawOption o : {doDirectX7Mode, doRetainedMode, doHardware, doSelectDriver, doZBuffer})
      e.Exclude(o);
  }
  if (e.Contains(doSystemMemory)) e.Exclude(doFlip);
  if (e.Contains(doDirectX7Mode)) e.Exclude(doRetainedMode);
  // The 3D set-up puts doHardware back when it obtains a hardware device.
  e.Exclude(doHardware);
  EffectiveOptions_ = e;
}

void TCustomDXDraw::SetAutoSize(bool Value) {
  if (AutoSize_ == Value) return;
  AutoSize_ = Value;
  if (Value) SetSurfaceSize(Width(), Height());
}

int TCustomDXDraw::SurfaceWidth() const {
  if (Surface_ && Surface_->IDDSurface()) return Surface_->Width();
  return SurfaceWidth_;
}

int TCustomDXDraw::SurfaceHeight() const {
  if (Surface_ && Surface_->IDDSurface()) return Surface_->Height();
  return SurfaceHeight_;
}

void TCustomDXDraw::SetSurfaceWidth(int Value) {
  if (IsLoading()) {
    SurfaceWidth_ = Value;
    return;
  }
  SetSurfaceSize(Value, SurfaceHeight());
}

void TCustomDXDraw::SetSurfaceHeight(int Value) {
  if (IsLoading()) {
    SurfaceHeight_ = Value;
    return;
  }
  SetSurfaceSize(SurfaceWidth(), Value);
}

void TCustomDXDraw::SetSurfaceSize(int AWidth, int AHeight) {
  if ((AWidth == SurfaceWidth() && AHeight == SurfaceHeight()) || Updating_) return;
  if (Initialized_) {
    bool changed = false;
    try {
      changed = Driver_->SetSize(AWidth, AHeight);
    } catch (...) {
      Finalize();
      throw;
    }
    if (!changed) return;
  } else {
    SurfaceWidth_ = AWidth;
    SurfaceHeight_ = AHeight;
  }
  NotifyHandlers(snSetSurfaceSize);
}

void TCustomDXDraw::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  TCustomControl::SetBounds(ALeft, ATop, AWidth, AHeight);
  if (AutoSize_ && !Updating_) SetSurfaceSize(Width(), Height());
}

// ---- Loading and the form hook ----

void TCustomDXDraw::Loaded() {
  TCustomControl::Loaded();
  if (AutoSize_) {
    SurfaceWidth_ = Width();
    SurfaceHeight_ = Height();
  }
  NotifyHandlers(snSetSurfaceSize);
  if (AutoInitialize_ && !IsDesigning() && !FormHook_) Initialize();
}

void TCustomDXDraw::SetParent(TWinControl* AParent) {
  TCustomControl::SetParent(AParent);
  ReleaseFormHook();
  if (IsDesigning()) return;
  TWinControl* p = Parent();
  while (p && !dynamic_cast<TCustomForm*>(p)) p = p->Parent();
  if (!p) return;
  OwnerForm_ = static_cast<TCustomForm*>(p);
  FormHook_ = std::make_unique<TControlSubClass>(
      OwnerForm_, [this](TMessage& m, const TWndMethod& def) { FormMessageHook(m, def); });
}

void TCustomDXDraw::FormMessageHook(TMessage& Message, const TWndMethod& DefWindowProc) {
  switch (Message.Msg) {
    case plat::WM_WINDOWPOSCHANGED: {
      const auto* wp = reinterpret_cast<const plat::WINDOWPOS*>(Message.LParam);
      if (wp && (wp->flags & plat::SWP_SHOWWINDOW)) {
        DefWindowProc(Message);
        if (AutoInitialize_ && !InitRequested_) Initialize();
        return;
      }
      break;
    }
    case plat::WM_ACTIVATE:
      if (plat::LOWORD(static_cast<plat::DWORD_PTR>(Message.WParam)) == plat::WA_INACTIVE)
        FlipToGDIIfExclusive();
      break;
    case plat::WM_INITMENU:
      FlipToGDIIfExclusive();
      break;
    case plat::WM_DESTROY:
      Finalize();
      break;
    case kWMEnterSizeMove:
      if (!IsLoading()) Finalize();
      break;
    case kWMExitSizeMove:
      if (!IsLoading()) Initialize();
      break;
    default:
      break;
  }
  DefWindowProc(Message);
}

void TCustomDXDraw::FlipToGDIIfExclusive() {
  if (Initialized_ && EffectiveOptions_.Contains(doFullScreen) && EffectiveOptions_.Contains(doFlip))
    DDraw_->SetResult(DDraw_->IDraw()->FlipToGDISurface());
}

// ---- Initialise / finalise ----

void TCustomDXDraw::ApplyCooperativeLevel() {
  plat::HWND window = OwnerForm_ ? OwnerForm_->Handle() : Handle();
  plat::DWORD flags = plat::DDSCL_NORMAL;
  if (EffectiveOptions_.Contains(doFullScreen)) {
    flags = kFullScreenCooperation;
    if (EffectiveOptions_.Contains(doNoWindowChange)) flags += 4;
    if (EffectiveOptions_.Contains(doAllowReboot)) flags += 2;
  }
  DDraw_->SetResult(DDraw_->IDraw()->SetCooperativeLevel(window, flags));
}

void TCustomDXDraw::Initialize() {
  InitRequested_ = true;
  Finalize();
  if (!OwnerForm_) throw EDXDrawError(SNotFoundForm);
  try {
    DoInitializing();
    Updating_ = true;
    try {
      InitStarted_ = true;
      NotifyHandlers(snInitializing);
      if (EffectiveOptions_.Contains(doFlip))
        Driver_ = new TDXDrawDriverFlip(this);
      else
        Driver_ = new TDXDrawDriverBlt(this);
      ApplyCooperativeLevel();
      if (EffectiveOptions_.Contains(doFullScreen)) {
        // Display mode switching is not offered by the platform layer: full screen keeps the current mode
        // only when it already matches.
        plat::DDSURFACEDESC2 mode{};
        mode.dwSize = sizeof(mode);
        plat::HRESULT hr = DDraw_->IDraw()->GetDisplayMode(&mode);
        if (hr != plat::DD_OK || static_cast<int>(mode.dwWidth) != Display_->Width() ||
            static_cast<int>(mode.dwHeight) != Display_->Height() ||
            static_cast<int>(mode.ddpfPixelFormat.dwRGBBitCount) != Display_->BitCount())
          throw EDXDrawError(
              Format(SDisplaymodeChange, Display_->Width(), Display_->Height(), Display_->BitCount()));
      }
      if (AutoSize_) {
        SurfaceWidth_ = Width();
        SurfaceHeight_ = Height();
      }
      Driver_->Initialize();
    } catch (...) {
      Updating_ = false;
      throw;
    }
    Updating_ = false;
  } catch (...) {
    Finalize();
    throw;
  }
  Initialized_ = true;

  ++RestoreSuppress_;
  try {
    NotifyHandlers(snSetSurfaceSize);
    NotifyHandlers(snInitialize);
    InitEventFired_ = true;
    DoInitialize();
    NotifyHandlers(snInitializeSurface);
    SurfaceEventFired_ = true;
    DoInitializeSurface();
  } catch (...) {
    --RestoreSuppress_;
    throw;
  }
  --RestoreSuppress_;

  if (!D2D_) CreateD2D();
  Restore();
}

void TCustomDXDraw::Finalize() {
  // The renderer goes in every case, also when nothing was started or an event handler raised.
  struct TFreeRenderer {
    TCustomDXDraw* self;
    ~TFreeRenderer() { self->FreeD2D(); }
  } freeRenderer{this};
  if (!InitStarted_) return;

  SurfaceWidth_ = SurfaceWidth();
  SurfaceHeight_ = SurfaceHeight();
  Display_->Modes().Clear();
  Updating_ = true;
  auto release = [this] {
    InitStarted_ = false;
    Initialized_ = false;
    SetOptions(Options_);
    delete Driver_;
    Driver_ = nullptr;
    Updating_ = false;
  };
  try {
    if (SurfaceEventFired_) {
      SurfaceEventFired_ = false;
      try {
        DoFinalizeSurface();
      } catch (...) {
        NotifyHandlers(snFinalizeSurface);
        throw;
      }
      NotifyHandlers(snFinalizeSurface);
    }
    if (InitEventFired_) {
      InitEventFired_ = false;
      try {
        DoFinalize();
      } catch (...) {
        NotifyHandlers(snFinalize);
        throw;
      }
      NotifyHandlers(snFinalize);
    }
  } catch (...) {
    release();
    throw;
  }
  release();
}

// ---- Present and restore ----

void TCustomDXDraw::Flip() {
  if (Initialized_ && !Updating_ && RestoreIfLost() && !RenderError) Driver_->Flip();
  RenderError = false;
}

bool TCustomDXDraw::RestoreIfLost() {
  if (!Initialized_ || Updating_ || !Primary_ || !Primary_->IDDSurface()) return false;
  if (Primary_->IsLost() != plat::DDERR_SURFACELOST && Surface_->IsLost() != plat::DDERR_SURFACELOST)
    return true;
  if (D2D_ && D2D_->Textures()) D2D_->Textures()->Clear();
  Restore();
  return Primary_->IsLost() == plat::DD_OK && Surface_->IsLost() == plat::DD_OK;
}

void TCustomDXDraw::Restore() {
  if (!Initialized_ || Updating_) return;
  Updating_ = true;
  try {
    if (Driver_->Restore()) {
      Primary_->SetPalette(Palette_);
      Surface_->SetPalette(Palette_);
      LoadPalette(DefaultColorTable_);
      NotifyHandlers(snRestore);
      DoRestoreSurface();
      LoadPalette(ColorTable_);
    }
  } catch (...) {
    Updating_ = false;
    throw;
  }
  Updating_ = false;
}

void TCustomDXDraw::BuildPaletteEntries(const plat::RGBQUAD* Table, plat::PALETTEENTRY* Entries) const {
  for (int i = 0; i < 256; ++i) {
    Entries[i].peRed = Table[i].rgbRed;
    Entries[i].peGreen = Table[i].rgbGreen;
    Entries[i].peBlue = Table[i].rgbBlue;
    Entries[i].peFlags = 0;
  }
  if (!EffectiveOptions_.Contains(doAllowPalette256)) {
    plat::PALETTEENTRY system[256] = {};
    plat::Gdi& gdi = plat::GdiSvc();
    plat::HDC dc = gdi.GetDC(nullptr);
    gdi.GetSystemPaletteEntries(dc, 0, 256, system);
    gdi.ReleaseDC(nullptr, dc);
    for (int i = 0; i < 10; ++i) Entries[i] = system[i];
    for (int i = 246; i < 256; ++i) Entries[i] = system[i];
  }
  for (int i = 0; i < 256; ++i) Entries[i].peFlags = 0x40;
}

void TCustomDXDraw::LoadPalette(const plat::RGBQUAD* Table) {
  if (!Initialized_ || !Palette_ || !Palette_->IDDPalette()) return;
  plat::PALETTEENTRY entries[256];
  BuildPaletteEntries(Table, entries);
  Palette_->SetEntries(0, 256, entries);
}

void TCustomDXDraw::UpdatePalette() {
  LoadPalette(ColorTable_);
}

bool TCustomDXDraw::PaletteChanged(bool Foreground) {
  if (!Foreground) return false;
  Restore();
  return true;
}

// ---- Notifications ----

void TCustomDXDraw::AddNotifyHandler(const TSurfaceNotifyHandler& Handler) {
  RemoveNotifyHandler(Handler);
  NotifyList_.push_back(Handler);
  Handler(this, snSetSurfaceSize);
  if (Initialized_) {
    Handler(this, snInitialize);
    if (SurfaceEventFired_) Handler(this, snInitializeSurface);
    if (RestoreSuppress_ == 0) Handler(this, snRestore);
  }
}

void TCustomDXDraw::RemoveNotifyHandler(const TSurfaceNotifyHandler& Handler) {
  auto it = std::find(NotifyList_.begin(), NotifyList_.end(), Handler);
  if (it == NotifyList_.end()) return;
  NotifyList_.erase(it);
  if (SurfaceEventFired_) Handler(this, snFinalizeSurface);
  if (Initialized_) Handler(this, snFinalize);
}

void TCustomDXDraw::NotifyHandlers(TSurfaceNotifyKind Kind) {
  // Last registered first; a handler may unregister itself or others, so the index is re-checked.
  for (int i = static_cast<int>(NotifyList_.size()) - 1; i >= 0; --i) {
    if (i >= static_cast<int>(NotifyList_.size())) {
      i = static_cast<int>(NotifyList_.size());
      continue;
    }
    TSurfaceNotifyHandler h = NotifyList_[static_cast<std::size_t>(i)];
    h(this, Kind);
  }
}

// ---- Events ----

void TCustomDXDraw::DoFinalize() {
  if (OnFinalize) OnFinalize(this);
}

void TCustomDXDraw::DoFinalizeSurface() {
  if (OnFinalizeSurface) OnFinalizeSurface(this);
}

void TCustomDXDraw::DoInitialize() {
  if (OnInitialize) OnInitialize(this);
}

void TCustomDXDraw::DoInitializeSurface() {
  if (D2D_ && D3DDevice7_ && Surface_ && Surface_->IDDSurface7()) {
    if (D3DDevice7_->SetRenderTarget(Surface_->IDDSurface7(), 0) != plat::D3D_OK) RenderError = true;
  }
  if (OnInitializeSurface) OnInitializeSurface(this);
}

void TCustomDXDraw::DoInitializing() {
  if (OnInitializing) OnInitializing(this);
}

void TCustomDXDraw::DoRestoreSurface() {
  if (OnRestoreSurface) OnRestoreSurface(this);
}

// ---- Window messages and painting ----

void TCustomDXDraw::WndProc(TMessage& Message) {
  TCustomControl::WndProc(Message);
  if (Message.Msg == plat::WM_CREATE && Initialized_ && !Updating_) {
    if (Clipper_) Clipper_->SetHandle(handle_);
    ApplyCooperativeLevel();
  }
}

void TCustomDXDraw::Paint() {
  // Design-time drawing (frame, diagonals, class name) has no use in this program and is left out.
  if (IsDesigning()) return;
  const bool waited = EffectiveOptions_.Contains(doWaitVBlank);
  EffectiveOptions_.Exclude(doWaitVBlank);
  try {
    Flip();
  } catch (...) {
    EffectiveOptions_.Set(doWaitVBlank, waited);
    throw;
  }
  EffectiveOptions_.Set(doWaitVBlank, waited);
  if (Parent() && Initialized_ && Surface_ && (Surface_->Caps() & plat::DDSCAPS_VIDEOMEMORY))
    Parent()->Invalidate();
}

// ---- Registration ----

void RegisterDXDrawClasses() {
  RegisterFormClasses();
  RegisterClass<TDXDrawDisplay>(TPersistent::StaticClassName())
      .Int("BitCount", [](TDXDrawDisplay& d, std::int32_t v) { d.SetBitCount(v); })
      .Bool("FixedBitCount", [](TDXDrawDisplay& d, bool v) { d.SetFixedBitCount(v); })
      .Bool("FixedRatio", [](TDXDrawDisplay& d, bool v) { d.SetFixedRatio(v); })
      .Bool("FixedSize", [](TDXDrawDisplay& d, bool v) { d.SetFixedSize(v); })
      .Int("Width", [](TDXDrawDisplay& d, std::int32_t v) { d.SetWidth(v); })
      .Int("Height", [](TDXDrawDisplay& d, std::int32_t v) { d.SetHeight(v); });
  RegisterClass<TTrace>(TPersistent::StaticClassName()).Str("Name", [](TTrace& t, const std::string& v) {
    t.Name = v;
  });
  RegisterClassInfo(TCustomDXDraw::StaticClassName(), TCustomControl::StaticClassName());
  RegisterClass<TDXDraw>(TCustomDXDraw::StaticClassName())
      .Bool("AutoInitialize", [](TDXDraw& d, bool v) { d.SetAutoInitialize(v); })
      .Bool("AutoSize", [](TDXDraw& d, bool v) { d.SetAutoSize(v); })
      .Object("Display", [](TDXDraw& d) -> TPersistent* { return &d.Display(); })
      .Set("Options", DXDrawOptionNames(),
           [](TDXDraw& d, std::uint32_t v) { d.SetOptions(TDXDrawOptions::FromBits(v)); })
      .Int("SurfaceHeight", [](TDXDraw& d, std::int32_t v) { d.SetSurfaceHeight(v); })
      .Int("SurfaceWidth", [](TDXDraw& d, std::int32_t v) { d.SetSurfaceWidth(v); })
      .Object("Traces", [](TDXDraw& d) -> TPersistent* { return &d.Traces(); })
      .Event<TNotifyEvent>("OnFinalize", [](TDXDraw& d, TNotifyEvent e) { d.OnFinalize = std::move(e); })
      .Event<TNotifyEvent>("OnFinalizeSurface",
                           [](TDXDraw& d, TNotifyEvent e) { d.OnFinalizeSurface = std::move(e); })
      .Event<TNotifyEvent>("OnInitialize", [](TDXDraw& d, TNotifyEvent e) { d.OnInitialize = std::move(e); })
      .Event<TNotifyEvent>("OnInitializeSurface",
                           [](TDXDraw& d, TNotifyEvent e) { d.OnInitializeSurface = std::move(e); })
      .Event<TNotifyEvent>("OnInitializing",
                           [](TDXDraw& d, TNotifyEvent e) { d.OnInitializing = std::move(e); })
      .Event<TNotifyEvent>("OnRestoreSurface",
                           [](TDXDraw& d, TNotifyEvent e) { d.OnRestoreSurface = std::move(e); })
      .Event<TOnUpdateTextures>("OnUpdateTextures",
                                [](TDXDraw& d, TOnUpdateTextures e) { d.OnUpdateTextures = std::move(e); })
      .Event<TNotifyEvent>("OnRender", [](TDXDraw& d, TNotifyEvent e) { d.OnRender = std::move(e); });
}
