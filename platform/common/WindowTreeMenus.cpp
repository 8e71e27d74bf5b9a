// Menus as data: menus and their items, lookups by position or command, check and radio marks, item info,
// snapshots, and the modal menu loop around a backend's showing of a popup menu.
#include "platform/common/WindowTree.h"

#include <algorithm>

#include "platform/common/WindowTreeInternal.h"

namespace plat::soft {

using namespace treeutil;

namespace {

constexpr int kMaxMenuDepth = 32;

}  // namespace

WindowTree::Menu* WindowTree::FindMenu(HMENU menu) {
  return menus_.Find(menu);
}

WindowTree::Menu* WindowTree::RequireMenu(HMENU menu) {
  Menu* m = FindMenu(menu);
  if (!m) SetLastError(ERROR_INVALID_MENU_HANDLE);
  return m;
}

HMENU WindowTree::MenuHandle(const Menu* m) const {
  return menus_.HandleOf(m);
}

HMENU WindowTree::CreateMenu() {
  return MenuHandle(menus_.Add(std::make_unique<Menu>()));
}

HMENU WindowTree::CreatePopupMenu() {
  HMENU h = CreateMenu();
  FindMenu(h)->popup = true;
  return h;
}

void WindowTree::DestroyMenuTree(Menu* m) {
  if (m->dead) return;
  m->dead = true;
  for (MenuItem& item : m->items) {
    if (item.sub) DestroyMenuTree(item.sub);
  }
}

BOOL WindowTree::DestroyMenu(HMENU menu) {
  Menu* m = RequireMenu(menu);
  if (!m) return 0;
  DestroyMenuTree(m);
  return 1;
}

BOOL WindowTree::IsMenu(HMENU menu) {
  return FindMenu(menu) ? 1 : 0;
}

bool WindowTree::Reaches(Menu* from, Menu* target, int depth) {
  if (from == target) return true;
  if (depth > kMaxMenuDepth) return true;  // treat absurd nesting as a cycle
  for (MenuItem& item : from->items) {
    if (item.sub && !item.sub->dead && Reaches(item.sub, target, depth + 1)) return true;
  }
  return false;
}

BOOL WindowTree::AddItem(Menu* menu, int position, UINT flags, UINT_PTR idOrSubmenu, const char* text) {
  MenuItem item;
  if (flags & MF_SEPARATOR) {
    item.type = MFT_SEPARATOR;
  } else if (flags & MF_BITMAP) {
    item.type = MFT_BITMAP;
  } else if (flags & MF_OWNERDRAW) {
    item.type = MFT_OWNERDRAW;
  } else {
    item.text = text ? text : "";
  }
  item.type |= flags & (MF_MENUBARBREAK | MF_MENUBREAK | MF_RIGHTJUSTIFY | MF_USECHECKBITMAPS);
  item.state = flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_HILITE | MF_DEFAULT);
  if (flags & MF_POPUP) {
    Menu* sub = RequireMenu(reinterpret_cast<HMENU>(idOrSubmenu));
    if (!sub) return 0;
    if (Reaches(sub, menu, 0)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    item.sub = sub;
    item.id = static_cast<UINT>(idOrSubmenu);
  } else {
    item.id = static_cast<UINT>(idOrSubmenu);
  }
  if (position < 0 || static_cast<std::size_t>(position) >= menu->items.size()) {
    menu->items.push_back(std::move(item));
  } else {
    menu->items.insert(menu->items.begin() + position, std::move(item));
  }
  return 1;
}

BOOL WindowTree::AppendMenu(HMENU menu, UINT flags, UINT_PTR idOrSubmenu, const char* text) {
  Menu* m = RequireMenu(menu);
  if (!m) return 0;
  return AddItem(m, -1, flags, idOrSubmenu, text);
}

BOOL WindowTree::InsertMenu(HMENU menu, UINT position, UINT flags, UINT_PTR idOrSubmenu, const char* text) {
  Menu* m = RequireMenu(menu);
  if (!m) return 0;
  if (flags & MF_BYPOSITION) {
    const int pos = position >= m->items.size() ? -1 : static_cast<int>(position);
    return AddItem(m, pos, flags, idOrSubmenu, text);
  }
  Menu* owner = nullptr;
  int pos = 0;
  if (!LocateItem(m, position, MF_BYCOMMAND, &owner, &pos)) {
    SetLastError(ERROR_MENU_ITEM_NOT_FOUND);
    return 0;
  }
  return AddItem(owner, pos, flags, idOrSubmenu, text);
}

WindowTree::MenuItem* WindowTree::LocateIn(Menu* menu, UINT id, Menu** owner, int* position, int depth) {
  if (depth > kMaxMenuDepth) return nullptr;
  for (std::size_t i = 0; i < menu->items.size(); ++i) {
    MenuItem& item = menu->items[i];
    if (!item.sub && item.id == id && !(item.type & MFT_SEPARATOR)) {
      *owner = menu;
      *position = static_cast<int>(i);
      return &item;
    }
    if (item.sub && !item.sub->dead) {
      if (MenuItem* found = LocateIn(item.sub, id, owner, position, depth + 1)) return found;
    }
  }
  return nullptr;
}

WindowTree::MenuItem* WindowTree::LocateItem(Menu* menu, UINT item, UINT flags, Menu** owner, int* position) {
  Menu* o = nullptr;
  int p = 0;
  MenuItem* found = nullptr;
  if (flags & MF_BYPOSITION) {
    if (item < menu->items.size()) {
      o = menu;
      p = static_cast<int>(item);
      found = &menu->items[item];
    }
  } else {
    found = LocateIn(menu, item, &o, &p, 0);
  }
  if (owner) *owner = o;
  if (position) *position = p;
  return found;
}

BOOL WindowTree::RemoveMenu(HMENU menu, UINT position, UINT flags) {
  Menu* m = RequireMenu(menu);
  if (!m) return 0;
  Menu* owner = nullptr;
  int pos = 0;
  if (!LocateItem(m, position, flags, &owner, &pos)) {
    SetLastError(ERROR_MENU_ITEM_NOT_FOUND);
    return 0;
  }
  owner->items.erase(owner->items.begin() + pos);
  return 1;
}

BOOL WindowTree::DeleteMenu(HMENU menu, UINT position, UINT flags) {
  Menu* m = RequireMenu(menu);
  if (!m) return 0;
  Menu* owner = nullptr;
  int pos = 0;
  MenuItem* item = LocateItem(m, position, flags, &owner, &pos);
  if (!item) {
    SetLastError(ERROR_MENU_ITEM_NOT_FOUND);
    return 0;
  }
  Menu* sub = item->sub;
  owner->items.erase(owner->items.begin() + pos);
  if (sub) DestroyMenuTree(sub);
  return 1;
}

int WindowTree::GetMenuItemCount(HMENU menu) {
  Menu* m = RequireMenu(menu);
  return m ? static_cast<int>(m->items.size()) : -1;
}

UINT WindowTree::GetMenuItemID(HMENU menu, int position) {
  Menu* m = RequireMenu(menu);
  if (!m || position < 0 || static_cast<std::size_t>(position) >= m->items.size())
    return static_cast<UINT>(-1);
  const MenuItem& item = m->items[static_cast<std::size_t>(position)];
  return item.sub ? static_cast<UINT>(-1) : item.id;
}

HMENU WindowTree::GetSubMenu(HMENU menu, int position) {
  Menu* m = RequireMenu(menu);
  if (!m || position < 0 || static_cast<std::size_t>(position) >= m->items.size()) return nullptr;
  Menu* sub = m->items[static_cast<std::size_t>(position)].sub;
  return sub && !sub->dead ? MenuHandle(sub) : nullptr;
}

DWORD WindowTree::CheckMenuItem(HMENU menu, UINT item, UINT flags) {
  Menu* m = RequireMenu(menu);
  MenuItem* it = m ? LocateItem(m, item, flags, nullptr, nullptr) : nullptr;
  if (!it) return static_cast<DWORD>(-1);
  const DWORD previous = it->state & MF_CHECKED;
  if (flags & MF_CHECKED) {
    it->state |= MF_CHECKED;
  } else {
    it->state &= ~MF_CHECKED;
  }
  return previous;
}

BOOL WindowTree::CheckMenuRadioItem(HMENU menu, UINT first, UINT last, UINT check, UINT flags) {
  Menu* m = RequireMenu(menu);
  if (!m) return 0;
  Menu* owner = m;
  int from = static_cast<int>(first), to = static_cast<int>(last), chosen = static_cast<int>(check);
  if (!(flags & MF_BYPOSITION)) {
    // By command: the group lives in the menu that holds `first`; `last` and `check` must be there too.
    if (!LocateItem(m, first, MF_BYCOMMAND, &owner, &from)) return 0;
    to = chosen = -1;
    for (std::size_t i = 0; i < owner->items.size(); ++i) {
      const MenuItem& item = owner->items[i];
      if (item.sub || (item.type & MFT_SEPARATOR)) continue;
      if (item.id == last && to < 0 && static_cast<int>(i) >= from) to = static_cast<int>(i);
      if (item.id == check && chosen < 0 && static_cast<int>(i) >= from) chosen = static_cast<int>(i);
    }
  }
  if (from < 0 || to < from || static_cast<std::size_t>(to) >= owner->items.size() || chosen < from ||
      chosen > to) {
    SetLastError(ERROR_MENU_ITEM_NOT_FOUND);
    return 0;
  }
  for (int i = from; i <= to; ++i) {
    MenuItem& item = owner->items[static_cast<std::size_t>(i)];
    if (item.type & MFT_SEPARATOR) continue;
    if (i == chosen) {
      item.type |= MFT_RADIOCHECK;
      item.state |= MFS_CHECKED;
    } else {
      item.state &= ~MFS_CHECKED;
    }
  }
  return 1;
}

BOOL WindowTree::EnableMenuItem(HMENU menu, UINT item, UINT flags) {
  Menu* m = RequireMenu(menu);
  MenuItem* it = m ? LocateItem(m, item, flags, nullptr, nullptr) : nullptr;
  if (!it) return -1;
  const BOOL previous = static_cast<BOOL>(it->state & (MF_GRAYED | MF_DISABLED));
  it->state = (it->state & ~(MF_GRAYED | MF_DISABLED)) | (flags & (MF_GRAYED | MF_DISABLED));
  return previous;
}

UINT WindowTree::GetMenuState(HMENU menu, UINT item, UINT flags) {
  Menu* m = RequireMenu(menu);
  MenuItem* it = m ? LocateItem(m, item, flags, nullptr, nullptr) : nullptr;
  if (!it) return static_cast<UINT>(-1);
  const UINT bits = it->state | it->type;
  if (it->sub && !it->sub->dead) {
    const UINT count = static_cast<UINT>(std::min<std::size_t>(it->sub->items.size(), 0xFF));
    return (count << 8) | ((bits | MF_POPUP) & 0xFF);
  }
  return bits;
}

int WindowTree::GetMenuString(HMENU menu, UINT item, char* buffer, int bufferSize, UINT flags) {
  Menu* m = RequireMenu(menu);
  MenuItem* it = m ? LocateItem(m, item, flags, nullptr, nullptr) : nullptr;
  if (!it) return 0;
  if (!buffer || bufferSize <= 0) return static_cast<int>(it->text.size());
  return CopyText(it->text, buffer, bufferSize);
}

WindowTree::MenuItem* WindowTree::ItemForInfo(HMENU menu, UINT item, BOOL byPosition,
                                              const MENUITEMINFO* info, Menu** menuOut) {
  Menu* m = RequireMenu(menu);
  if (!m) return nullptr;
  if (!info) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  MenuItem* it = LocateItem(m, item, byPosition ? MF_BYPOSITION : MF_BYCOMMAND, nullptr, nullptr);
  if (!it) SetLastError(ERROR_MENU_ITEM_NOT_FOUND);
  *menuOut = m;
  return it;
}

BOOL WindowTree::GetMenuItemInfo(HMENU menu, UINT item, BOOL byPosition, MENUITEMINFO* info) {
  Menu* m = nullptr;
  MenuItem* it = ItemForInfo(menu, item, byPosition, info, &m);
  if (!it) return 0;
  if (info->fMask & (MIIM_FTYPE | MIIM_TYPE)) info->fType = it->type;
  if (info->fMask & MIIM_STATE) info->fState = it->state;
  if (info->fMask & MIIM_ID) info->wID = it->id;
  if (info->fMask & MIIM_SUBMENU) info->hSubMenu = it->sub && !it->sub->dead ? MenuHandle(it->sub) : nullptr;
  if (info->fMask & MIIM_DATA) info->dwItemData = it->data;
  if (info->fMask & (MIIM_STRING | MIIM_TYPE)) {
    if (info->dwTypeData && info->cch > 0) {
      info->cch = static_cast<UINT>(
          CopyText(it->text, info->dwTypeData, static_cast<int>(std::min<UINT>(info->cch, 0x7FFFFFFF))));
    } else {
      info->cch = static_cast<UINT>(it->text.size());
    }
  }
  return 1;
}

BOOL WindowTree::SetMenuItemInfo(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFO* info) {
  Menu* m = nullptr;
  MenuItem* it = ItemForInfo(menu, item, byPosition, info, &m);
  if (!it) return 0;
  Menu* sub = it->sub;
  if (info->fMask & MIIM_SUBMENU) {
    sub = nullptr;
    if (info->hSubMenu) {
      sub = RequireMenu(info->hSubMenu);
      if (!sub) return 0;
      if (Reaches(sub, m, 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
      }
    }
  }
  it->sub = sub;
  if (info->fMask & (MIIM_FTYPE | MIIM_TYPE)) it->type = info->fType;
  if ((info->fMask & MIIM_STRING) ||
      ((info->fMask & MIIM_TYPE) && !(info->fType & (MFT_SEPARATOR | MFT_BITMAP)))) {
    it->text = info->dwTypeData ? info->dwTypeData : "";
  }
  if (info->fMask & MIIM_STATE) it->state = info->fState;
  if (info->fMask & MIIM_ID) it->id = info->wID;
  if (info->fMask & MIIM_DATA) it->data = info->dwItemData;
  return 1;
}

void WindowTree::Snapshot(Menu* m, int depth, std::vector<MenuItemSnapshot>* out) {
  if (depth > kMaxMenuDepth) return;
  for (const MenuItem& item : m->items) {
    const bool popup = item.sub && !item.sub->dead;
    out->push_back(MenuItemSnapshot{depth, item.text, popup ? 0u : item.id, (item.type & MFT_SEPARATOR) != 0,
                                    popup, (item.state & MFS_CHECKED) != 0, (item.type & MFT_RADIOCHECK) != 0,
                                    (item.state & (MF_GRAYED | MF_DISABLED)) != 0});
    if (popup) Snapshot(item.sub, depth + 1, out);
  }
}

std::vector<WindowTree::MenuItemSnapshot> WindowTree::SnapshotMenu(HMENU menu) {
  std::vector<MenuItemSnapshot> out;
  if (Menu* m = FindMenu(menu)) Snapshot(m, 0, &out);
  return out;
}

bool WindowTree::FindCommandPath(Menu* m, UINT id, std::vector<std::pair<Menu*, int>>* path, int depth) {
  if (depth > kMaxMenuDepth) return false;
  for (std::size_t i = 0; i < m->items.size(); ++i) {
    const MenuItem& item = m->items[i];
    if (item.state & (MF_GRAYED | MF_DISABLED)) continue;  // a disabled item (or submenu) cannot be chosen
    if (item.type & MFT_SEPARATOR) continue;
    path->push_back({m, static_cast<int>(i)});
    if (item.sub) {
      if (!item.sub->dead && FindCommandPath(item.sub, id, path, depth + 1)) return true;
    } else if (item.id == id) {
      return true;
    }
    path->pop_back();
  }
  return false;
}

BOOL WindowTree::RunMenuLoop(HMENU menu, UINT flags, HWND owner,
                             const std::function<UINT(Menu*, Window*, bool)>& show, UINT* chosenOut) {
  Menu* m = RequireMenu(menu);
  if (!m) return 0;
  Window* o = Require(owner);
  if (!o) return 0;
  if (inMenuLoop_) {
    SetLastError(ERROR_POPUP_ALREADY_ACTIVE);
    return 0;
  }
  const bool notify = !(flags & TPM_NONOTIFY);
  inMenuLoop_ = true;
  Send(o, WM_ENTERMENULOOP, 1, 0);
  if (notify) {
    Send(o, WM_INITMENU, reinterpret_cast<WPARAM>(menu), 0);
    Send(o, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), MAKELPARAM(0, 0));
  }
  const UINT wanted = show(m, o, notify);
  std::vector<std::pair<Menu*, int>> path;
  const UINT chosen = wanted != 0 && !m->dead && FindCommandPath(m, wanted, &path, 0) ? wanted : 0;
  if (chosenOut) *chosenOut = chosen;
  if (!o->dead) Send(o, WM_EXITMENULOOP, 1, 0);
  inMenuLoop_ = false;
  if (flags & TPM_RETURNCMD) return static_cast<BOOL>(chosen);
  if (chosen != 0 && notify && !o->dead) {
    PostMessage(owner, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(chosen), 0), 0);
  }
  return 1;
}

}  // namespace plat::soft
