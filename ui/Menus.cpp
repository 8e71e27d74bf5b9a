#include "ui/Menus.h"

#include <algorithm>
#include <map>

#include "core/Consts.h"
#include "core/PropTable.h"
#include "platform/Platform.h"
#include "ui/Forms.h"

namespace {
// Command ids in use, so the command message finds its item.
std::map<plat::UINT, TMenuItem*>& Commands() {
  static std::map<plat::UINT, TMenuItem*> m;
  return m;
}
plat::UINT NewCommand(TMenuItem* item) {
  auto& m = Commands();
  static plat::UINT next = 1;
  // Ids are 16 bits in the command message; skip ids still in use after a wrap.
  for (int tries = 0; tries < 0x10000; ++tries) {
    plat::UINT id = next;
    next = next >= 0xFFFF ? 1 : next + 1;
    if (m.find(id) == m.end()) {
      m[id] = item;
      return id;
    }
  }
  throw EOutOfMemory(SOutOfMemory);
}
}  // namespace

bool DispatchMenuCommand(plat::UINT Command) {
  auto it = Commands().find(Command);
  if (it == Commands().end()) return false;
  it->second->Click();
  return true;
}

// --- TMenuItem

TMenuItem::TMenuItem(TComponent* AOwner) : TComponent(AOwner) {
  command_ = NewCommand(this);
}

TMenuItem::~TMenuItem() {
  if (parent_) parent_->Remove(this);
  while (!items_.empty()) delete items_.back();
  ForgetHandles();
  Commands().erase(command_);
}

TMenuItem* TMenuItem::Items(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(Format(SListIndexError, Index));
  return items_[static_cast<std::size_t>(Index)];
}

int TMenuItem::IndexOf(const TMenuItem* Item) const {
  auto it = std::find(items_.begin(), items_.end(), Item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void TMenuItem::Add(TMenuItem* Item) {
  Insert(Count(), Item);
}

void TMenuItem::Insert(int Index, TMenuItem* Item) {
  if (!Item) return;
  if (Item->parent_) throw EInvalidOperation(SMenuReinserted);
  for (TMenuItem* p = this; p; p = p->parent_)
    if (p == Item) throw EInvalidOperation(SMenuReinserted);
  if (Index < 0 || Index > Count()) throw EListError(Format(SListIndexError, Index));
  items_.insert(items_.begin() + Index, Item);
  Item->parent_ = this;
  MenuChanged();
}

void TMenuItem::Remove(TMenuItem* Item) {
  auto it = std::find(items_.begin(), items_.end(), Item);
  if (it == items_.end()) return;
  MenuChanged();
  items_.erase(it);
  Item->parent_ = nullptr;
}

void TMenuItem::SetParentComponent(TComponent* Value) {
  if (parent_) parent_->Remove(this);
  if (auto* m = dynamic_cast<TMenu*>(Value))
    m->Items()->Add(this);
  else if (auto* i = dynamic_cast<TMenuItem*>(Value))
    i->Add(this);
}

TComponent* TMenuItem::GetParentComponent() const {
  if (parent_ && parent_->menu_) return parent_->menu_;
  return parent_;
}

TMenuItem* TMenuItem::Root() {
  TMenuItem* r = this;
  while (r->parent_) r = r->parent_;
  return r;
}

void TMenuItem::ForgetHandles() {
  if (ownsHandle_ && handle_ && plat::CurrentServices().windows) plat::Windows().DestroyMenu(handle_);
  handle_ = nullptr;
  ownsHandle_ = false;
  for (TMenuItem* i : items_) i->ForgetHandles();
}

void TMenuItem::MenuChanged() {
  // Structural and caption changes rebuild the native tree on its next use.
  Root()->ForgetHandles();
}

plat::HMENU TMenuItem::Handle() {
  if (handle_) return handle_;
  // A submenu's native menu belongs to its parent's; build from the topmost item down.
  TMenuItem* root = Root();
  if (root != this) {
    root->Handle();
    return handle_;
  }
  handle_ = plat::Windows().CreatePopupMenu();
  ownsHandle_ = true;
  BuildNative(handle_);
  return handle_;
}

void TMenuItem::BuildNative(plat::HMENU menu) {
  plat::WindowSystem& ws = plat::Windows();
  handle_ = menu;
  for (TMenuItem* i : items_) {
    if (!i->visible_) continue;
    plat::UINT flags = (i->checked_ ? plat::MF_CHECKED : 0) | (i->enabled_ ? 0 : plat::MF_GRAYED);
    if (i->IsLine()) {
      ws.AppendMenu(menu, plat::MF_SEPARATOR, i->command_, nullptr);
      continue;
    }
    if (!i->items_.empty()) {
      plat::HMENU sub = ws.CreatePopupMenu();
      i->BuildNative(sub);
      ws.AppendMenu(menu, flags | plat::MF_POPUP, reinterpret_cast<plat::UINT_PTR>(sub), i->caption_.c_str());
      continue;
    }
    ws.AppendMenu(menu, flags | plat::MF_STRING, i->command_, i->caption_.c_str());
    if (i->radioItem_) {
      plat::MENUITEMINFO mi{};
      mi.cbSize = sizeof mi;
      mi.fMask = plat::MIIM_FTYPE;
      mi.fType = plat::MFT_RADIOCHECK;
      ws.SetMenuItemInfo(menu, i->command_, 0, &mi);
    }
  }
}

void TMenuItem::SetCaption(const std::string& v) {
  if (caption_ == v) return;
  caption_ = v;
  MenuChanged();
}

void TMenuItem::SetChecked(bool v) {
  if (checked_ == v) return;
  checked_ = v;
  if (parent_ && parent_->handle_)
    plat::Windows().CheckMenuItem(parent_->handle_, command_,
                                  plat::MF_BYCOMMAND | (v ? plat::MF_CHECKED : plat::MF_UNCHECKED));
  if (v && radioItem_ && parent_) {
    std::vector<TMenuItem*> siblings = parent_->items_;
    for (TMenuItem* s : siblings)
      if (s != this && s->radioItem_ && s->groupIndex_ == groupIndex_) s->SetChecked(false);
  }
}

void TMenuItem::SetRadioItem(bool v) {
  if (radioItem_ == v) return;
  radioItem_ = v;
  MenuChanged();
}

void TMenuItem::SetGroupIndex(int v) {
  groupIndex_ = v;
}

void TMenuItem::SetEnabled(bool v) {
  if (enabled_ == v) return;
  enabled_ = v;
  if (parent_ && parent_->handle_)
    plat::Windows().EnableMenuItem(parent_->handle_, command_,
                                   plat::MF_BYCOMMAND | (v ? plat::MF_ENABLED : plat::MF_GRAYED));
}

void TMenuItem::SetVisible(bool v) {
  if (visible_ == v) return;
  visible_ = v;
  MenuChanged();
}

void TMenuItem::Click() {
  if (enabled_ && OnClick) OnClick(this);
}

// --- TMenu

TMenu::TMenu(TComponent* AOwner) : TComponent(AOwner), items_(new TMenuItem(nullptr)) {
  items_->menu_ = this;
}

TMenu::~TMenu() {
  delete items_;
}

TMenuItem* TMenu::FindItem(plat::UINT Command) const {
  std::vector<TMenuItem*> stack{items_};
  while (!stack.empty()) {
    TMenuItem* i = stack.back();
    stack.pop_back();
    if (i != items_ && i->Command() == Command) return i;
    for (TMenuItem* c : i->items_) stack.push_back(c);
  }
  return nullptr;
}

// --- TPopupMenu

TPopupMenu::TPopupMenu(TComponent* AOwner) : TMenu(AOwner) {}

void TPopupMenu::Popup(int X, int Y) {
  if (OnPopup) OnPopup(this);
  plat::HWND owner = Application ? Application->Handle() : nullptr;
  plat::Windows().TrackPopupMenu(Handle(), plat::TPM_LEFTALIGN | plat::TPM_RIGHTBUTTON, X, Y, owner);
}

void TPopupMenu::Notification(TComponent* AComponent, TOperation Operation) {
  TMenu::Notification(AComponent, Operation);
  if (Operation == TOperation::opRemove && AComponent == popupComponent_) popupComponent_ = nullptr;
}

void RegisterMenuClasses() {
  RegisterCoreClasses();
  RegisterClass<TMenuItem>(TComponent::StaticClassName())
      .Str("Caption", [](TMenuItem& m, const std::string& v) { m.SetCaption(v); })
      .Bool("Checked", [](TMenuItem& m, bool v) { m.SetChecked(v); })
      .Bool("RadioItem", [](TMenuItem& m, bool v) { m.SetRadioItem(v); })
      .Int("GroupIndex",
           [](TMenuItem& m, std::int32_t v) {
             if (v < 0 || v > 255) throw EPropertyError(Format(SOutOfRange, std::to_string(v)));
             m.SetGroupIndex(v);
           })
      .Bool("Enabled", [](TMenuItem& m, bool v) { m.SetEnabled(v); })
      .Bool("Visible", [](TMenuItem& m, bool v) { m.SetVisible(v); })
      .Event<TNotifyEvent>("OnClick", [](TMenuItem& m, TNotifyEvent e) { m.OnClick = std::move(e); });
  RegisterClass<TMenu>(TComponent::StaticClassName());
  RegisterClass<TPopupMenu>(TMenu::StaticClassName())
      .Bool("AutoPopup", [](TPopupMenu& m, bool v) { m.SetAutoPopup(v); })
      .Event<TNotifyEvent>("OnPopup", [](TPopupMenu& m, TNotifyEvent e) { m.OnPopup = std::move(e); });
}
