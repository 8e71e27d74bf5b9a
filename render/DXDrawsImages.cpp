// The picture list: items with their patterns and surfaces following one drawing surface, drawing through
// the hardware 2D renderer, and the list's registration for the form reader.
#include <algorithm>
#include <cstring>

#include "core/Consts.h"
#include "core/PropTable.h"
#include "core/SysUtils.h"
#include "platform/Gdi.h"
#include "platform/Platform.h"
#include "render/DXDraws.h"

// ---- TPictureCollectionItem ----

TPictureCollectionItem::TPictureCollectionItem(TCollection* Collection)
    : THashCollectionItem(Collection),
      Picture_(std::make_unique<TPicture>()),
      Patterns_([](TCollection* c) -> TCollectionItem* { return new TPictureCollectionItemPattern(c); },
                this) {
  Transparent_ = true;
  TransparentColor_ = 0;
}

TPictureCollectionItem::~TPictureCollectionItem() {
  Finalize();
  Picture_.reset();
}

TPictureCollection* TPictureCollectionItem::PictureCollection() const {
  return dynamic_cast<TPictureCollection*>(Collection());
}

void TPictureCollectionItem::Assign(const TPersistent* Source) {
  const auto* src = dynamic_cast<const TPictureCollectionItem*>(Source);
  if (!src) {
    THashCollectionItem::Assign(Source);
    return;
  }
  if (src == this) return;
  const bool was = Initialized_;
  if (was) Finalize();
  PatternHeight_ = src->PatternHeight_;
  PatternWidth_ = src->PatternWidth_;
  SkipHeight_ = src->SkipHeight_;
  SkipWidth_ = src->SkipWidth_;
  SystemMemory_ = src->SystemMemory_;
  Transparent_ = src->Transparent_;
  TransparentColor_ = src->TransparentColor_;
  Picture_->Assign(src->Picture_.get());
  if (was) Restore();
}

void TPictureCollectionItem::SetTransparentColor(TColor Value) {
  if (Value == TransparentColor_) return;
  TransparentColor_ = Value;
  for (TDirectDrawSurface* s : SurfaceList_) KeySurface(s);
}

std::int32_t TPictureCollectionItem::Width() const {
  return PatternWidth_ > 0 ? PatternWidth_ : Picture_->Width();
}

std::int32_t TPictureCollectionItem::Height() const {
  return PatternHeight_ > 0 ? PatternHeight_ : Picture_->Height();
}

std::int32_t TPictureCollectionItem::PatternCount() const {
  if (!SurfaceList_.empty()) return Patterns_.Count();
  const std::int64_t pw = Picture_->Width(), ph = Picture_->Height();
  const std::int64_t w = PatternWidth_ == 0 ? pw : PatternWidth_;
  const std::int64_t h = PatternHeight_ == 0 ? ph : PatternHeight_;
  const std::int64_t a = w + SkipWidth_, c = h + SkipHeight_;
  // An empty picture, or a pattern step of zero or less, has no patterns (and nothing to divide by).
  if (a <= 0 || c <= 0) return 0;
  std::int64_t cols = pw / a, rows = ph / c;
  if (pw - cols * a == w) ++cols;
  if (ph - rows * c == h) ++rows;
  if (cols <= 0 || rows <= 0) return 0;
  const std::int64_t n = cols * rows;
  return n > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(n);
}

TRect TPictureCollectionItem::PatternRect(int Index) const {
  if (Index < 0 || Index >= Patterns_.Count()) return TRect{};
  return static_cast<TPictureCollectionItemPattern*>(Patterns_.GetItem(Index))->PatternRect;
}

TDirectDrawSurface* TPictureCollectionItem::PatternSurface(int Index) const {
  if (Index < 0 || Index >= Patterns_.Count()) return nullptr;
  TDirectDrawSurface* s = static_cast<TPictureCollectionItemPattern*>(Patterns_.GetItem(Index))->Surface;
  FillSurface(s);
  return s;
}

TDirectDrawSurface* TPictureCollectionItem::Surfaces(int Index) const {
  TDirectDrawSurface* s = SurfaceList_.at(static_cast<std::size_t>(Index));
  FillSurface(s);
  return s;
}

void TPictureCollectionItem::ReleaseSurfaces() {
  Unfilled_.clear();
  Patterns_.Clear();
  std::vector<TDirectDrawSurface*> list;
  list.swap(SurfaceList_);
  for (TDirectDrawSurface* s : list) delete s;
}

void TPictureCollectionItem::Finalize() {
  if (!Initialized_) return;
  Initialized_ = false;
  ReleaseSurfaces();
}

void TPictureCollectionItem::Initialize() {
  Finalize();
  TPictureCollection* c = PictureCollection();
  Initialized_ = c && c->Initialized();
  if (Initialized_) BuildPatterns();
}

void TPictureCollectionItem::Restore() {
  if (Picture_->Width() <= 0 || Picture_->Height() <= 0) return;
  TPictureCollection* c = PictureCollection();
  if (!Initialized_) {
    if (c && c->Initialized()) Initialize();
    if (!Initialized_) return;
  }
  ReleaseSurfaces();
  BuildPatterns();
  TCustomDXDraw* dx = c ? c->DXDraw() : nullptr;
  if (dx && dx->Options().Contains(do3D) && dx->D2D() && dx->D2D()->Textures())
    dx->D2D()->Textures()->Clear();
}

void TPictureCollectionItem::BuildPatterns() {
  const std::int64_t pw = Picture_->Width(), ph = Picture_->Height();
  if (pw <= 0 || ph <= 0) return;
  const std::int64_t W = Width(), H = Height();
  auto addPattern = [this](const TRect& r, TDirectDrawSurface* s) {
    auto* p = static_cast<TPictureCollectionItemPattern*>(Patterns_.Add());
    p->PatternRect = r;
    p->Surface = s;
  };
  if (W == pw && H == ph) {
    const TRect whole = Rect(0, 0, static_cast<std::int32_t>(pw), static_cast<std::int32_t>(ph));
    addPattern(whole, MakeSurface(whole));
    return;
  }
  const std::int64_t a = W + SkipWidth_, c = H + SkipHeight_;
  if (W <= 0 || H <= 0 || a <= 0 || c <= 0) return;
  const std::int64_t cols = (pw + SkipWidth_) / a, rows = (ph + SkipHeight_) / c;
  if (cols <= 0 || rows <= 0) return;
  auto rect = [](std::int64_t l, std::int64_t t, std::int64_t r, std::int64_t b) {
    return Rect(static_cast<std::int32_t>(l), static_cast<std::int32_t>(t), static_cast<std::int32_t>(r),
                static_cast<std::int32_t>(b));
  };
  if (SystemMemory_) {
    TDirectDrawSurface* s = MakeSurface(rect(0, 0, pw, ph));
    for (std::int64_t l = 0; l < rows; ++l)
      for (std::int64_t m = 0; m < cols; ++m) addPattern(rect(a * m, c * l, a * m + W, c * l + H), s);
    return;
  }
  // Video memory: blocks of at most about 2048 pixels per side, each on its own surface.
  const std::int64_t f = std::min(a * ((a + 2047) / a), a * ((pw + SkipWidth_) / a));
  const std::int64_t g = std::min(c * ((c + 2047) / c), c * ((ph + SkipHeight_) / c));
  if (f <= 0 || g <= 0) return;
  const std::int64_t bcols = (pw + f - 1) / f, brows = (ph + g - 1) / g;
  std::vector<TDirectDrawSurface*> blocks;
  for (std::int64_t by = 0; by < brows; ++by)
    for (std::int64_t bx = 0; bx < bcols; ++bx)
      blocks.push_back(
          MakeSurface(rect(bx * f, by * g, std::min(pw, (bx + 1) * f), std::min(ph, (by + 1) * g))));
  for (std::int64_t l = 0; l < rows; ++l) {
    for (std::int64_t m = 0; m < cols; ++m) {
      const std::int64_t block = (a * m) / f + bcols * ((c * l) / g);
      if (block < 0 || block >= static_cast<std::int64_t>(blocks.size())) continue;
      const std::int64_t x = (a * m) % f, y = (c * l) % g;
      addPattern(rect(x, y, x + W, y + H), blocks[static_cast<std::size_t>(block)]);
    }
  }
}

TDirectDrawSurface* TPictureCollectionItem::MakeSurface(const TRect& R) {
  TPictureCollection* col = PictureCollection();
  TCustomDXDraw* dx = col ? col->DXDraw() : nullptr;
  TDirectDraw* dd = dx ? dx->DDraw() : nullptr;
  if (!dd) throw EDirectDrawSurfaceError(Format(SCannotMade, SSurface));
  auto* s = new TDirectDrawSurface(dd);
  SurfaceList_.push_back(s);

  plat::DDSURFACEDESC desc{};
  desc.dwSize = sizeof(desc);
  desc.dwFlags = plat::DDSD_CAPS | plat::DDSD_WIDTH | plat::DDSD_HEIGHT;
  desc.dwWidth = static_cast<plat::DWORD>(R.Width());
  desc.dwHeight = static_cast<plat::DWORD>(R.Height());
  desc.ddsCaps.dwCaps =
      plat::DDSCAPS_OFFSCREENPLAIN | (SystemMemory_ ? plat::DDSCAPS_SYSTEMMEMORY : plat::DDSCAPS_VIDEOMEMORY);
  bool made = s->CreateSurface(desc);
  if (!made && !SystemMemory_) {
    desc.ddsCaps.dwCaps = plat::DDSCAPS_OFFSCREENPLAIN | plat::DDSCAPS_SYSTEMMEMORY;
    made = s->CreateSurface(desc);
  }
  if (!made) throw EDirectDrawSurfaceError(Format(SCannotMade, SSurface));
  // The key does not depend on the pixels, so the picture can come later.
  Unfilled_.emplace_back(s, R);
  KeySurface(s);
  return s;
}

void TPictureCollectionItem::FillSurface(TDirectDrawSurface* S) const {
  auto it = std::find_if(Unfilled_.begin(), Unfilled_.end(), [S](const auto& u) { return u.first == S; });
  if (it == Unfilled_.end()) return;
  const TRect R = it->second;
  TDirectDrawSurfaceCanvas& cv = S->Canvas();
  // A surface that gives no drawing context now (lost) is filled when next asked for.
  if (cv.Handle()) {
    Unfilled_.erase(it);
    TGraphic* g = Picture_->Graphic();
    if (auto* dib = dynamic_cast<TDIB*>(g))
      dib->StretchToDC(cv.Handle(), Rect(0, 0, R.Width(), R.Height()), R);
    else
      cv.Draw(-R.Left, -R.Top, g);
  }
  cv.Release();
}

void TPictureCollectionItem::KeySurface(TDirectDrawSurface* S) {
  // The colour's raw value in the surface's own format: drawn into the top-left pixel by the platform's
  // drawing, read back, and the pixel's old value put back.
  const int bytes = S->BitCount() / 8;
  if (bytes < 1 || bytes > 4 || S->Width() < 1 || S->Height() < 1) return;
  auto readRaw = [&](std::uint32_t& v) {
    plat::DDSURFACEDESC2 d{};
    d.dwSize = sizeof(d);
    if (!S->Lock(d) || !d.lpSurface) return false;
    v = 0;
    std::memcpy(&v, d.lpSurface, static_cast<std::size_t>(bytes));
    S->Unlock();
    return true;
  };
  std::uint32_t old = 0, raw = 0;
  if (!readRaw(old)) return;
  TDirectDrawSurfaceCanvas& cv = S->Canvas();
  if (plat::HDC dc = cv.Handle())
    plat::GdiSvc().SetPixel(dc, 0, 0, static_cast<plat::COLORREF>(TransparentColor_) & 0xFFFFFFu);
  cv.Release();
  plat::DDSURFACEDESC2 d{};
  d.dwSize = sizeof(d);
  if (S->Lock(d) && d.lpSurface) {
    std::memcpy(&raw, d.lpSurface, static_cast<std::size_t>(bytes));
    std::memcpy(d.lpSurface, &old, static_cast<std::size_t>(bytes));
    S->Unlock();
  }
  plat::DDCOLORKEY key{raw, raw};
  S->SetColorKey(plat::DDCKEY_SRCBLT, key);
}

bool TPictureCollectionItem::DrawWithRenderer(TDirectDrawSurface* Dest, const TRect& DestRect,
                                              std::int32_t PatternIndex, bool& Chosen) {
  TPictureCollection* c = PictureCollection();
  TCustomDXDraw* dx = c ? c->DXDraw() : nullptr;
  Chosen = dx && dx->Options().Contains(do3D) && Dest == dx->Surface();
  if (!Chosen) return false;
  TD2D* d2d = dx->D2D();
  return d2d && d2d->RenderItem(this, DestRect, 255, rtDraw, PatternIndex);
}

void TPictureCollectionItem::Draw(TDirectDrawSurface* Dest, std::int32_t X, std::int32_t Y,
                                  std::int32_t PatternIndex) {
  if (!Initialized_ || PatternIndex < 0 || PatternIndex >= Patterns_.Count() || !Dest) return;
  bool chosen = false;
  DrawWithRenderer(Dest, Rect(X, Y, X + Width(), Y + Height()), PatternIndex, chosen);
  if (chosen) return;
  // The surface copy, clipped against both surfaces.
  TDirectDrawSurface* src = PatternSurface(PatternIndex);
  if (!src) return;
  TRect s = PatternRect(PatternIndex);
  std::int64_t dl = X, dt = Y;
  std::int64_t sl = s.Left, st = s.Top, sr = s.Right, sb = s.Bottom;
  if (dl < 0) {
    sl -= dl;
    dl = 0;
  }
  if (dt < 0) {
    st -= dt;
    dt = 0;
  }
  if (sl < 0) {
    dl -= sl;
    sl = 0;
  }
  if (st < 0) {
    dt -= st;
    st = 0;
  }
  sr = std::min<std::int64_t>(sr, src->Width());
  sb = std::min<std::int64_t>(sb, src->Height());
  sr = std::min<std::int64_t>(sr, sl + (Dest->Width() - dl));
  sb = std::min<std::int64_t>(sb, st + (Dest->Height() - dt));
  if (sr <= sl || sb <= st) return;
  plat::RECT dr{static_cast<plat::LONG>(dl), static_cast<plat::LONG>(dt),
                static_cast<plat::LONG>(dl + sr - sl), static_cast<plat::LONG>(dt + sb - st)};
  plat::RECT sr2{static_cast<plat::LONG>(sl), static_cast<plat::LONG>(st), static_cast<plat::LONG>(sr),
                 static_cast<plat::LONG>(sb)};
  Dest->Blt(&dr, src, &sr2, plat::DDBLT_WAIT | (Transparent_ ? plat::DDBLT_KEYSRC : 0), nullptr);
}

void TPictureCollectionItem::StretchDraw(TDirectDrawSurface* Dest, const TRect& DestRect,
                                         std::int32_t PatternIndex) {
  if (!Initialized_ || PatternIndex < 0 || PatternIndex >= Patterns_.Count() || !Dest) return;
  bool chosen = false;
  DrawWithRenderer(Dest, DestRect, PatternIndex, chosen);
  if (chosen) return;
  TDirectDrawSurface* src = PatternSurface(PatternIndex);
  if (!src || DestRect.Width() <= 0 || DestRect.Height() <= 0) return;
  plat::RECT dr = DestRect.ToRECT();
  plat::RECT sr = PatternRect(PatternIndex).ToRECT();
  Dest->Blt(&dr, src, &sr, plat::DDBLT_WAIT | (Transparent_ ? plat::DDBLT_KEYSRC : 0), nullptr);
}

// ---- TPictureCollection ----

TPictureCollection::TPictureCollection(TPersistent* AOwner)
    : THashCollection([](TCollection* c) -> TCollectionItem* { return new TPictureCollectionItem(c); },
                      AOwner) {}

TPictureCollection::~TPictureCollection() {
  try {
    Finalize();
  } catch (...) {
  }
  Clear();
}

TPictureCollectionItem* TPictureCollection::Items(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format(SListIndexError, Index));
  return static_cast<TPictureCollectionItem*>(GetItem(Index));
}

TPictureCollectionItem* TPictureCollection::FindItem(const std::string& Name) const {
  const int i = IndexOf(Name);
  return i < 0 ? nullptr : Items(i);
}

bool TPictureCollection::Initialized() const {
  return DXDraw_ && DXDraw_->Initialized();
}

void TPictureCollection::Initialize(TCustomDXDraw* DXDraw) {
  Finalize();
  DXDraw_ = DXDraw;
  if (!Initialized()) throw EPictureCollectionError(Format(SCannotInitialized, ClassName()));
  try {
    for (int i = 0; i < Count(); ++i) Items(i)->Initialize();
  } catch (...) {
    // Surfaces made so far must not outlive the DirectDraw object, which is freed without a finalise
    // notification when this initialisation fails.
    Finalize();
    throw;
  }
}

void TPictureCollection::Finalize() {
  try {
    for (int i = 0; i < Count(); ++i) Items(i)->Finalize();
  } catch (...) {
    DXDraw_ = nullptr;
    throw;
  }
  DXDraw_ = nullptr;
}

void TPictureCollection::Restore() {
  for (int i = 0; i < Count(); ++i) Items(i)->Restore();
}

void TPictureCollection::ReadColorTable(TStream& Stream) {
  Stream.ReadBuffer(ColorTable.data(), ColorTable.size());
}

void TPictureCollection::WriteColorTable(TStream& Stream) const {
  Stream.WriteBuffer(ColorTable.data(), ColorTable.size());
}

void TPictureCollection::DefineProperties(TFiler& Filer) {
  THashCollection::DefineProperties(Filer);
  Filer.DefineBinaryProperty("ColorTable", [this](TStream& s) { ReadColorTable(s); });
}

// ---- TCustomDXImageList ----

TCustomDXImageList::TCustomDXImageList(TComponent* AOwner)
    : TComponent(AOwner), Items_(std::make_unique<TPictureCollection>(this)) {
  Items_->PropName = "Items";
}

TCustomDXImageList::~TCustomDXImageList() {
  SetDXDraw(nullptr);
  Items_.reset();
}

TSurfaceNotifyHandler TCustomDXImageList::Handler() {
  return MakeSurfaceNotifyHandler<TCustomDXImageList, &TCustomDXImageList::DXDrawNotifyEvent>(this);
}

void TCustomDXImageList::SetDXDraw(TCustomDXDraw* Value) {
  if (DXDraw_) {
    TCustomDXDraw* old = DXDraw_;
    old->RemoveNotifyHandler(Handler());
    RemoveFreeNotification(old);
  }
  DXDraw_ = Value;
  if (DXDraw_) {
    FreeNotification(DXDraw_);
    DXDraw_->AddNotifyHandler(Handler());
  }
}

void TCustomDXImageList::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == TOperation::opRemove && AComponent == DXDraw_) {
    // A surface already being torn down is not called back any more.
    if (AComponent->IsDestroying()) {
      Items_->Finalize();
      DXDraw_ = nullptr;
    } else {
      SetDXDraw(nullptr);
    }
  }
}

void TCustomDXImageList::DXDrawNotifyEvent(TCustomDXDraw* Sender, TSurfaceNotifyKind Kind) {
  switch (Kind) {
    case snDestroying:
      SetDXDraw(nullptr);
      break;
    case snInitialize:
      Items_->Initialize(Sender);
      break;
    case snFinalize:
      Items_->Finalize();
      break;
    case snRestore:
      Items_->Restore();
      break;
    default:
      break;
  }
}

// ---- Registration ----

void RegisterDXImageListClasses() {
  RegisterCoreClasses();
  RegisterClass<THashCollectionItem>(TPersistent::StaticClassName())
      .Str("Name", [](THashCollectionItem& i, const std::string& v) { i.SetName(v); });
  RegisterClass<TPictureCollectionItem>(THashCollectionItem::StaticClassName())
      .Object("Picture", [](TPictureCollectionItem& i) -> TPersistent* { return &i.Picture(); })
      .Int("PatternHeight", [](TPictureCollectionItem& i, std::int32_t v) { i.SetPatternHeight(v); })
      .Int("PatternWidth", [](TPictureCollectionItem& i, std::int32_t v) { i.SetPatternWidth(v); })
      .Int("SkipHeight", [](TPictureCollectionItem& i, std::int32_t v) { i.SetSkipHeight(v); })
      .Int("SkipWidth", [](TPictureCollectionItem& i, std::int32_t v) { i.SetSkipWidth(v); })
      .Bool("SystemMemory", [](TPictureCollectionItem& i, bool v) { i.SetSystemMemory(v); })
      .Bool("Transparent", [](TPictureCollectionItem& i, bool v) { i.SetTransparent(v); })
      .Color("TransparentColor", [](TPictureCollectionItem& i, TColor v) { i.SetTransparentColor(v); });
  RegisterClass<TPictureCollection>(TPersistent::StaticClassName());
  RegisterClassInfo(TCustomDXImageList::StaticClassName(), TComponent::StaticClassName());
  RegisterClass<TDXImageList>(TCustomDXImageList::StaticClassName())
      .Reference<TCustomDXDraw>("DXDraw", [](TDXImageList& l, TCustomDXDraw* d) { l.SetDXDraw(d); })
      .Object("Items", [](TDXImageList& l) -> TPersistent* { return &l.Items(); });
}
