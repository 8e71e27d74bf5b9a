#include "core/Components.h"

#include <algorithm>
#include <cctype>

#include "core/Consts.h"

// --- TPersistent

void TPersistent::Assign(const TPersistent* Source) {
  if (Source) {
    Source->AssignTo(this);
    return;
  }
  AssignError(nullptr);
}

void TPersistent::AssignTo(TPersistent* Dest) const {
  Dest->AssignError(this);
}

void TPersistent::AssignError(const TPersistent* Source) const {
  std::string sourceName = Source ? Source->ClassName() : "nil";
  throw EConvertError(Format(SAssignError, sourceName, std::string(ClassName())));
}

void TPersistent::DefineProperties(TFiler&) {}

std::string TPersistent::GetNamePath() const {
  return ClassName();
}

const TFiler::TValueReader* TFiler::FindValueReader(const std::string& Name) const {
  for (auto& v : values_)
    if (SameText(v.first, Name)) return &v.second;
  return nullptr;
}

const TFiler::TBinaryReader* TFiler::FindBinaryReader(const std::string& Name) const {
  for (auto& v : binaries_)
    if (SameText(v.first, Name)) return &v.second;
  return nullptr;
}

// --- helpers

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool IsValidIdent(const std::string& s) {
  if (s.empty()) return false;
  auto alpha = [](unsigned char c) { return std::isalpha(c) || c == '_'; };
  if (!alpha(static_cast<unsigned char>(s[0]))) return false;
  for (unsigned char c : s)
    if (!alpha(c) && !std::isdigit(c)) return false;
  return true;
}

// --- TComponent

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  // Tell everyone who holds a reference to this component; each call may shrink the list.
  while (!freeNotifies_.empty()) {
    TComponent* c = freeNotifies_.back();
    freeNotifies_.pop_back();
    c->freeNotifies_.erase(std::remove(c->freeNotifies_.begin(), c->freeNotifies_.end(), this),
                           c->freeNotifies_.end());
    c->Notification(this, TOperation::opRemove);
  }
  DestroyComponents();
  if (owner_) owner_->RemoveComponent(this);
}

TComponent* TComponent::Components(int Index) const {
  if (Index < 0 || Index >= ComponentCount()) throw EListError(Format(SListIndexError, Index));
  return components_[static_cast<std::size_t>(Index)];
}

int TComponent::ComponentIndex() const {
  if (!owner_) return -1;
  auto& v = owner_->components_;
  auto it = std::find(v.begin(), v.end(), this);
  return it == v.end() ? -1 : static_cast<int>(it - v.begin());
}

TComponent* TComponent::FindComponent(const std::string& Name) const {
  if (Name.empty()) return nullptr;
  for (TComponent* c : components_)
    if (SameText(c->name_, Name)) return c;
  return nullptr;
}

void TComponent::SetName(const std::string& NewName) {
  if (name_ == NewName) return;
  if (!NewName.empty() && !IsValidIdent(NewName)) throw EComponentError(Format(SInvalidName, NewName));
  if (owner_)
    owner_->ValidateRename(this, name_, NewName);
  else
    ValidateRename(nullptr, name_, NewName);
  name_ = NewName;
}

void TComponent::ValidateRename(TComponent* AComponent, const std::string& CurName,
                                const std::string& NewName) {
  if (AComponent && !SameText(CurName, NewName)) {
    TComponent* other = FindComponent(NewName);
    if (other && other != AComponent) throw EComponentError(Format(SDuplicateName, NewName));
  }
}

std::string TComponent::GetNamePath() const {
  return name_;
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->owner_ == this) return;
  if (AComponent->owner_) AComponent->owner_->RemoveComponent(AComponent);
  ValidateRename(AComponent, "", AComponent->name_);
  Insert(AComponent);
  SendNotification(AComponent, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->owner_ != this) return;
  SendNotification(AComponent, TOperation::opRemove);
  Remove(AComponent);
}

void TComponent::Insert(TComponent* AComponent) {
  components_.push_back(AComponent);
  AComponent->owner_ = this;
}

void TComponent::Remove(TComponent* AComponent) {
  components_.erase(std::remove(components_.begin(), components_.end(), AComponent), components_.end());
  AComponent->owner_ = nullptr;
}

void TComponent::SendNotification(TComponent* AComponent, TOperation Operation) {
  // The owner hears of its own components' arrival and departure, as do its other components.
  Notification(AComponent, Operation);
}

void TComponent::DestroyComponents() {
  // Newest first, so later components (which may refer to earlier ones) go before what they use; the
  // others hear of each departure, so no reference outlives its target.
  while (!components_.empty()) {
    TComponent* c = components_.back();
    RemoveComponent(c);
    FreeComponent(c);
  }
}

void TComponent::BeforeDestruction() {
  Destroying();
}

void FreeComponent(TComponent* AComponent) {
  if (!AComponent) return;
  AComponent->BeforeDestruction();
  delete AComponent;
}

void TComponent::Destroying() {
  if (state_ & csDestroying) return;
  state_ |= csDestroying;
  for (TComponent* c : components_) c->Destroying();
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == TOperation::opRemove && AComponent) RemoveFreeNotification(AComponent);
  // Newest first; a handler may add or remove components, so re-check the index on every step.
  for (int i = ComponentCount() - 1; i >= 0; --i) {
    if (i >= ComponentCount()) i = ComponentCount() - 1;
    if (i < 0) break;
    components_[static_cast<std::size_t>(i)]->Notification(AComponent, Operation);
  }
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  if (owner_ && AComponent->owner_ == owner_) return;  // the owner already tells both
  if (std::find(freeNotifies_.begin(), freeNotifies_.end(), AComponent) == freeNotifies_.end()) {
    freeNotifies_.push_back(AComponent);
    AComponent->freeNotifies_.push_back(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (!AComponent) return;
  RemoveNotification(AComponent);
  AComponent->RemoveNotification(this);
}

void TComponent::RemoveNotification(TComponent* AComponent) {
  freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), AComponent),
                      freeNotifies_.end());
}

void TComponent::Loaded() {
  state_ &= ~csLoading;
}

void TComponent::SetParentComponent(TComponent*) {}

// --- TCollectionItem

TCollectionItem::TCollectionItem(TCollection* Collection) {
  SetCollection(Collection);
}

TCollectionItem::~TCollectionItem() {
  SetCollection(nullptr);
}

void TCollectionItem::SetCollection(TCollection* Value) {
  if (collection_ == Value) return;
  if (collection_) collection_->RemoveItem(this);
  if (Value) Value->InsertItem(this);
}

int TCollectionItem::Index() const {
  if (!collection_) return -1;
  auto& v = collection_->items_;
  auto it = std::find(v.begin(), v.end(), this);
  return it == v.end() ? -1 : static_cast<int>(it - v.begin());
}

TPersistent* TCollectionItem::GetOwner() const {
  return collection_;
}

std::string TCollectionItem::GetNamePath() const {
  if (!collection_) return ClassName();
  return Format("%s[%d]", collection_->GetNamePath(), Index());
}

void TCollectionItem::Changed(bool AllItems) {
  if (collection_ && collection_->updateCount_ == 0) collection_->Update(AllItems ? nullptr : this);
}

// --- TCollection

TCollection::TCollection(TItemFactory Factory, TPersistent* Owner)
    : factory_(std::move(Factory)), owner_(Owner) {}

TCollection::~TCollection() {
  updateCount_ = 1;  // no change notifications while tearing down
  Clear();
}

TCollectionItem* TCollection::Add() {
  if (!factory_) throw EComponentError(Format(SNoItemClass, std::string(ClassName())));
  TCollectionItem* item = factory_(this);
  if (item->collection_ != this) item->SetCollection(this);
  Added(item);
  return item;
}

void TCollection::Clear() {
  if (items_.empty()) return;
  BeginUpdate();
  while (!items_.empty()) delete items_.back();
  EndUpdate();
}

void TCollection::Delete(int Index) {
  delete GetItem(Index);
}

TCollectionItem* TCollection::GetItem(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format(SListIndexError, Index));
  return items_[static_cast<std::size_t>(Index)];
}

TCollectionItem* TCollection::FindItemID(int ID) const {
  for (TCollectionItem* i : items_)
    if (i->id_ == ID) return i;
  return nullptr;
}

void TCollection::Assign(const TPersistent* Source) {
  auto* src = dynamic_cast<const TCollection*>(Source);
  if (!src) {
    TPersistent::Assign(Source);
    return;
  }
  if (src == this) return;
  BeginUpdate();
  try {
    Clear();
    for (TCollectionItem* i : src->items_) Add()->Assign(i);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCollection::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0) Changed();
}

std::string TCollection::GetNamePath() const {
  TPersistent* owner = GetOwner();
  if (!owner || PropName.empty()) return ClassName();
  std::string s = owner->GetNamePath();
  return s.empty() ? PropName : s + "." + PropName;
}

void TCollection::Update(TCollectionItem*) {}
void TCollection::Added(TCollectionItem*) {}
void TCollection::Deleting(TCollectionItem*) {}

void TCollection::Changed() {
  if (updateCount_ == 0) Update(nullptr);
}

void TCollection::InsertItem(TCollectionItem* Item) {
  items_.push_back(Item);
  Item->collection_ = this;
  Item->id_ = nextId_++;
  Changed();
}

void TCollection::RemoveItem(TCollectionItem* Item) {
  Deleting(Item);
  items_.erase(std::remove(items_.begin(), items_.end(), Item), items_.end());
  Item->collection_ = nullptr;
  Changed();
}
