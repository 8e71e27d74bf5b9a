#include "render/DXClass.h"

#include "core/PropTable.h"
#include "core/SysUtils.h"
#include "platform/Clock.h"
#include "platform/Platform.h"
#include "ui/Forms.h"

TCustomDXTimer::TCustomDXTimer(TComponent* AOwner) : TComponent(AOwner) {
  ActiveOnly_ = true;
  Enabled_ = true;
  Interval_ = 1000;
  StepInterval_ = 1000;
  if (Application) hookId_ = Application->HookMainWindow([this](TMessage& m) { return ActivationHook(m); });
}

TCustomDXTimer::~TCustomDXTimer() {
  Disarm();
  if (Application && hookId_) Application->UnhookMainWindow(hookId_);
  hookId_ = 0;
}

void TCustomDXTimer::Loaded() {
  TComponent::Loaded();
  if (!IsDesigning() && Enabled_) Arm();
}

void TCustomDXTimer::SetEnabled(bool Value) {
  if (Enabled_ == Value) return;
  Enabled_ = Value;
  if (ComponentState() & (csLoading | csReading)) return;
  if (Value)
    Arm();
  else
    Disarm();
}

void TCustomDXTimer::SetInterval(std::int32_t Value) {
  if (static_cast<std::int32_t>(Interval_) == Value) return;
  Interval_ = static_cast<std::uint32_t>(Value > 0 ? Value : 0);
  StepInterval_ = Value > 1 ? Value : 1;
}

void TCustomDXTimer::SetActiveOnly(bool Value) {
  if (ActiveOnly_ == Value) return;
  ActiveOnly_ = Value;
  if (Value && Armed_ && Application && !Application->Active()) DetachIdleHook();
}

void TCustomDXTimer::Arm() {
  Disarm();
  if (!ActiveOnly_ || (Application && Application->Active())) AttachIdleHook();
  Armed_ = true;
}

void TCustomDXTimer::Disarm() {
  if (Armed_) {
    DetachIdleHook();
    Armed_ = false;
  }
}

void TCustomDXTimer::AttachIdleHook() {
  LastTickTime_ = plat::Clocks().timeGetTime();
  RateWindowStart_ = plat::Clocks().timeGetTime();
  if (Application) Application->OnIdle = [this](TObject*, bool& Done) { IdleTick(Done); };
}

void TCustomDXTimer::DetachIdleHook() {
  if (Application) Application->OnIdle = nullptr;
}

void TCustomDXTimer::IdleTick(bool& Done) {
  Done = false;
  std::uint32_t now = plat::Clocks().timeGetTime();
  std::uint32_t elapsed = now - LastTickTime_;
  if (elapsed < Interval_) return;
  LastTickTime_ = now;
  std::uint32_t lag = elapsed / static_cast<std::uint32_t>(StepInterval_);
  if (lag < 1) lag = 1;
  ++RateFrameCount_;
  std::int32_t window = static_cast<std::int32_t>(now - RateWindowStart_);
  if (window < 1) window = 1;
  if (window >= 1000) {
    // Events x 1000 as a 32-bit product, then a floating-point division; the product could wrap only for
    // more than two million events in one window.
    std::int32_t product = static_cast<std::int32_t>(static_cast<std::uint32_t>(RateFrameCount_) * 1000u);
    FramesPerSecond_ = RoundHalfEven(static_cast<double>(product) / static_cast<double>(window));
    RateFrameCount_ = 0;
    RateWindowStart_ = now;
  }
  NotifyTimer(static_cast<std::int32_t>(lag));
}

bool TCustomDXTimer::ActivationHook(TMessage& Message) {
  switch (Message.Msg) {
    case CM_ACTIVATE:
      NotifyActivate();
      if (Armed_ && ActiveOnly_) AttachIdleHook();
      break;
    case CM_DEACTIVATE:
      NotifyDeactivate();
      if (Armed_ && ActiveOnly_) DetachIdleHook();
      break;
    default:
      break;
  }
  return false;
}

void TCustomDXTimer::NotifyActivate() {
  if (OnActivate) OnActivate(this);
}

void TCustomDXTimer::NotifyDeactivate() {
  if (OnDeactivate) OnDeactivate(this);
}

void TCustomDXTimer::NotifyTimer(std::int32_t LagCount) {
  if (OnTimer) OnTimer(this, LagCount);
}

// --- TDirectX

void TDirectX::SetResult(plat::HRESULT Code) {
  ResultCode_ = Code;
  if (Code != 0) Check();
}

// --- TControlSubClass

TControlSubClass::TControlSubClass(TControl* Control, TControlSubClassProc Proc) : control_(Control) {
  auto state = std::make_shared<TState>();
  state->proc = std::move(Proc);
  state->previous = control_->WindowProc;
  state_ = state;
  control_->WindowProc = [state](TMessage& m) {
    // The handler may free the hook and so replace this very procedure: keep the state alive locally.
    std::shared_ptr<TState> keep = state;
    keep->proc(m, keep->previous);
  };
}

TControlSubClass::~TControlSubClass() {
  if (std::shared_ptr<TState> s = state_.lock()) control_->WindowProc = s->previous;
}

void RegisterDXClassClasses() {
  RegisterCoreClasses();
  RegisterClassInfo(TCustomDXTimer::StaticClassName(), TComponent::StaticClassName());
  RegisterClass<TDXTimer>(TCustomDXTimer::StaticClassName())
      .Bool("ActiveOnly", [](TDXTimer& t, bool v) { t.SetActiveOnly(v); })
      .Bool("Enabled", [](TDXTimer& t, bool v) { t.SetEnabled(v); })
      .Int("Interval", [](TDXTimer& t, std::int32_t v) { t.SetInterval(v); })
      .Event<TNotifyEvent>("OnActivate", [](TDXTimer& t, TNotifyEvent e) { t.OnActivate = std::move(e); })
      .Event<TNotifyEvent>("OnDeactivate", [](TDXTimer& t, TNotifyEvent e) { t.OnDeactivate = std::move(e); })
      .Event<TDXTimerEvent>("OnTimer", [](TDXTimer& t, TDXTimerEvent e) { t.OnTimer = std::move(e); });
}

// --- THashCollection

THashCollectionItem::THashCollectionItem(TCollection* Collection) : TCollectionItem(Collection) {}

THashCollectionItem::~THashCollectionItem() {
  // The base destructor removes the item from its collection; by then it is no longer a hash item, so the
  // name leaves the index here.
  if (indexedIn_) indexedIn_->UnindexName(this);
}

void THashCollectionItem::SetName(const std::string& Value) {
  if (indexedIn_) indexedIn_->UnindexName(this);
  Name_ = Value;
  if (auto* c = dynamic_cast<THashCollection*>(Collection())) c->IndexName(this);
}

std::string THashCollectionItem::GetDisplayName() const {
  return Name_.empty() ? TCollectionItem::GetDisplayName() : Name_;
}

THashCollection::THashCollection(TItemFactory Factory, TPersistent* Owner)
    : TCollection(std::move(Factory), Owner) {}

THashCollection::~THashCollection() {
  // Items still listed are destroyed by the base; they must not reach back into this index then.
  for (auto& entry : index_)
    for (THashCollectionItem* item : entry.second) item->indexedIn_ = nullptr;
  index_.clear();
}

std::string THashCollection::Key(const std::string& Name) {
  std::string k = Name;
  for (char& ch : k)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  return k;
}

void THashCollection::IndexName(THashCollectionItem* Item) {
  index_[Key(Item->Name_)].push_back(Item);
  Item->indexedIn_ = this;
}

void THashCollection::UnindexName(THashCollectionItem* Item) {
  auto it = index_.find(Key(Item->Name_));
  if (it != index_.end()) {
    auto& v = it->second;
    for (std::size_t i = 0; i < v.size(); ++i) {
      if (v[i] == Item) {
        v.erase(v.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
    }
    if (v.empty()) index_.erase(it);
  }
  Item->indexedIn_ = nullptr;
}

void THashCollection::Deleting(TCollectionItem* Item) {
  // An item moving to another collection takes its name out of this index.
  if (auto* h = dynamic_cast<THashCollectionItem*>(Item))
    if (h->indexedIn_ == this) UnindexName(h);
  TCollection::Deleting(Item);
}

int THashCollection::IndexOf(const std::string& Name) const {
  auto it = index_.find(Key(Name));
  if (it == index_.end()) return -1;
  int best = -1;
  for (THashCollectionItem* item : it->second) {
    int i = item->Index();
    if (i >= 0 && (best < 0 || i < best)) best = i;
  }
  return best;
}

THashCollectionItem* THashCollection::Find(const std::string& Name) const {
  int i = IndexOf(Name);
  return i < 0 ? nullptr : static_cast<THashCollectionItem*>(GetItem(i));
}
