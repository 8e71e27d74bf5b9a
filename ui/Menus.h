// Popup menus: a tree of items mirrored into a native menu that is kept in step with captions, check marks,
// radio marks and enabled states; the chosen item's OnClick runs from the command message.
#pragma once

#include <string>
#include <vector>

#include "core/Components.h"
#include "platform/Windows.h"

class TMenu;

class TMenuItem : public TComponent {
  DS_CLASS_NAME(TMenuItem)
 public:
  explicit TMenuItem(TComponent* AOwner);
  ~TMenuItem() override;

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& v);
  bool IsLine() const { return caption_ == "-"; }
  bool Checked() const { return checked_; }
  // Unchanged value: nothing. Else store, set the native check mark under the parent, and when checking a
  // radio item, uncheck the other radio items of the same GroupIndex under the same parent by this rule.
  void SetChecked(bool v);
  bool RadioItem() const { return radioItem_; }
  void SetRadioItem(bool v);
  int GroupIndex() const { return groupIndex_; }
  void SetGroupIndex(int v);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  // The command id the native menu reports for this item.
  plat::UINT Command() const { return command_; }

  int Count() const { return static_cast<int>(items_.size()); }
  // Raises EListError "List index out of bounds (%d)".
  TMenuItem* Items(int Index) const;
  TMenuItem* Parent() const { return parent_; }
  void Add(TMenuItem* Item);
  void Insert(int Index, TMenuItem* Item);
  void Remove(TMenuItem* Item);
  int IndexOf(const TMenuItem* Item) const;

  // The native menu of this item's children (created on demand, rebuilt after structural changes).
  plat::HMENU Handle();
  // Runs OnClick when enabled; items never change their own check marks.
  virtual void Click();

  bool HasParent() const override { return true; }
  void SetParentComponent(TComponent* Value) override;
  TComponent* GetParentComponent() const override;

  TNotifyEvent OnClick;

 private:
  friend class TMenu;
  void MenuChanged();
  void BuildNative(plat::HMENU menu);
  void ForgetHandles();
  TMenuItem* Root();

  std::string caption_;
  bool checked_ = false;
  bool radioItem_ = false;
  int groupIndex_ = 0;
  bool enabled_ = true;
  bool visible_ = true;
  plat::UINT command_ = 0;
  TMenuItem* parent_ = nullptr;
  std::vector<TMenuItem*> items_;
  plat::HMENU handle_ = nullptr;
  bool ownsHandle_ = false;  // this item created the topmost native menu and destroys it
  TMenu* menu_ = nullptr;    // set on a menu's root item
};

class TMenu : public TComponent {
  DS_CLASS_NAME(TMenu)
 public:
  explicit TMenu(TComponent* AOwner);
  ~TMenu() override;
  TMenuItem* Items() const { return items_; }
  plat::HMENU Handle() { return items_->Handle(); }
  TMenuItem* FindItem(plat::UINT Command) const;

 private:
  TMenuItem* items_;
};

class TPopupMenu : public TMenu {
  DS_CLASS_NAME(TPopupMenu)
 public:
  explicit TPopupMenu(TComponent* AOwner);
  bool AutoPopup() const { return autoPopup_; }
  void SetAutoPopup(bool v) { autoPopup_ = v; }
  TComponent* PopupComponent() const { return popupComponent_; }
  void SetPopupComponent(TComponent* v) { popupComponent_ = v; }
  // Opens the menu at screen point (X, Y) through the window manager's menu loop; the chosen item's command
  // comes back as a WM_COMMAND to the application window, whose dispatch runs the item's OnClick.
  virtual void Popup(int X, int Y);

  TNotifyEvent OnPopup;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  bool autoPopup_ = true;
  TComponent* popupComponent_ = nullptr;
};

// Runs the OnClick of the menu item with that command id; false when no item has it.
bool DispatchMenuCommand(plat::UINT Command);

void RegisterMenuClasses();
