// Window state and geometry: visibility, enabling, styles and window longs, SetWindowPos and the rectangles,
// text and properties, focus, activation, cursor and capture.
#include "platform/common/WindowTree.h"

#include <algorithm>
#include <cstring>

#include "platform/common/WindowTreeInternal.h"

namespace plat::soft {

using namespace treeutil;

void WindowTree::SetVisible(Window* w, bool visible) {
  Send(w, WM_SHOWWINDOW, visible ? 1 : 0, 0);
  if (w->dead) return;
  if (visible) {
    w->style |= WS_VISIBLE;
  } else {
    w->style &= ~WS_VISIBLE;
    Window* f = Find(focus_);
    if (f && IsDescendantOrSelf(f, w)) focus_ = nullptr;
  }
  WindowShown(w);
  WINDOWPOS wp{
      HandleOf(w),
      nullptr,
      w->x,
      w->y,
      w->width,
      w->height,
      SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | (visible ? SWP_SHOWWINDOW : SWP_HIDEWINDOW)};
  Send(w, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&wp));
  if (visible && !w->dead) Invalidate(w, nullptr, true);
}

BOOL WindowTree::ShowWindow(HWND hwnd, int command) {
  Window* w = Require(hwnd);
  if (!w) return 0;
  if (command < SW_HIDE || command > SW_FORCEMINIMIZE || w == desktop_) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const bool wasVisible = (w->style & WS_VISIBLE) != 0;
  if (command == SW_HIDE) {
    if (wasVisible) SetVisible(w, false);
    return wasVisible ? 1 : 0;
  }
  switch (command) {
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
    case SW_FORCEMINIMIZE:
      w->style = (w->style | WS_MINIMIZE) & ~WS_MAXIMIZE;
      break;
    case SW_SHOWMAXIMIZED:
      w->style = (w->style | WS_MAXIMIZE) & ~WS_MINIMIZE;
      break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
      w->style &= ~(WS_MINIMIZE | WS_MAXIMIZE);
      break;
    default:
      break;
  }
  if (!wasVisible) SetVisible(w, true);
  return wasVisible ? 1 : 0;
}

BOOL WindowTree::IsWindowVisible(HWND hwnd) {
  Window* w = Find(hwnd);
  if (!w) return 0;
  for (; w; w = w->parent) {
    if (!(w->style & WS_VISIBLE)) return 0;
  }
  return 1;
}

BOOL WindowTree::EnableWindow(HWND hwnd, BOOL enable) {
  Window* w = Require(hwnd);
  if (!w) return 0;
  const bool wasDisabled = (w->style & WS_DISABLED) != 0;
  if (wasDisabled == !enable) return wasDisabled ? 1 : 0;
  if (enable) {
    w->style &= ~WS_DISABLED;
  } else {
    w->style |= WS_DISABLED;
  }
  Send(w, WM_ENABLE, enable ? 1 : 0, 0);
  return wasDisabled ? 1 : 0;
}

BOOL WindowTree::IsWindowEnabled(HWND hwnd) {
  Window* w = Find(hwnd);
  return w && !(w->style & WS_DISABLED) ? 1 : 0;
}

LONG_PTR WindowTree::GetWindowLongPtr(HWND hwnd, int index) {
  Window* w = Require(hwnd);
  if (!w) return 0;
  switch (index) {
    case GWLP_WNDPROC:
      return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_HINSTANCE:
      return w->instance;
    case GWLP_HWNDPARENT:
      return reinterpret_cast<LONG_PTR>((w->style & WS_CHILD) ? HandleOf(w->parent) : HandleOf(w->owner));
    case GWLP_ID:
      return w->controlId;
    case GWL_STYLE:
      return static_cast<LONG_PTR>(static_cast<LONG>(w->style));
    case GWL_EXSTYLE:
      return static_cast<LONG_PTR>(static_cast<LONG>(w->exStyle));
    case GWLP_USERDATA:
      return w->userData;
    default:
      break;
  }
  if (index >= 0 && static_cast<std::size_t>(index) + sizeof(LONG_PTR) <= w->extra.size()) {
    LONG_PTR v = 0;
    std::memcpy(&v, w->extra.data() + index, sizeof v);
    return v;
  }
  SetLastError(ERROR_INVALID_INDEX);
  return 0;
}

void WindowTree::ChangeStyle(Window* w, int index, DWORD value) {
  DWORD& field = index == GWL_STYLE ? w->style : w->exStyle;
  STYLESTRUCT ss{field, value};
  Send(w, WM_STYLECHANGING, static_cast<WPARAM>(static_cast<LONG_PTR>(index)), reinterpret_cast<LPARAM>(&ss));
  if (w->dead) return;
  ss.styleOld = field;
  field = ss.styleNew;
  WindowRestyled(w, index);
  Send(w, WM_STYLECHANGED, static_cast<WPARAM>(static_cast<LONG_PTR>(index)), reinterpret_cast<LPARAM>(&ss));
}

LONG_PTR WindowTree::SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value) {
  Window* w = Require(hwnd);
  if (!w) return 0;
  LONG_PTR old = 0;
  switch (index) {
    case GWLP_WNDPROC:
      if (!value) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
      }
      old = reinterpret_cast<LONG_PTR>(w->proc);
      w->proc = reinterpret_cast<WNDPROC>(value);
      return old;
    case GWLP_HINSTANCE:
      old = w->instance;
      w->instance = value;
      return old;
    case GWLP_HWNDPARENT: {
      // On a top-level window this sets the owner, as on Windows.
      old = GetWindowLongPtr(hwnd, index);
      if (!(w->style & WS_CHILD)) {
        Window* o = Find(reinterpret_cast<HWND>(value));
        w->owner = o && o != desktop_ && o != w ? TopLevelOf(o) : nullptr;
        WindowRestyled(w, GWLP_HWNDPARENT);
      }
      return old;
    }
    case GWLP_ID:
      old = w->controlId;
      w->controlId = value;
      return old;
    case GWL_STYLE:
    case GWL_EXSTYLE:
      old = GetWindowLongPtr(hwnd, index);
      ChangeStyle(w, index, static_cast<DWORD>(value));
      return old;
    case GWLP_USERDATA:
      old = w->userData;
      w->userData = value;
      return old;
    default:
      break;
  }
  if (index >= 0 && static_cast<std::size_t>(index) + sizeof(LONG_PTR) <= w->extra.size()) {
    std::memcpy(&old, w->extra.data() + index, sizeof old);
    std::memcpy(w->extra.data() + index, &value, sizeof value);
    return old;
  }
  SetLastError(ERROR_INVALID_INDEX);
  return 0;
}

BOOL WindowTree::SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  Window* w = Require(hwnd);
  if (!w) return 0;
  if (w == desktop_) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  // The place in the z-order, checked before the window is asked and again after it changed the request.
  Window* after = nullptr;
  auto placeAfter = [&](HWND insert, UINT how) {
    after = nullptr;
    const bool special = insert == HWND_TOP() || insert == HWND_BOTTOM() || insert == HWND_TOPMOST() ||
                         insert == HWND_NOTOPMOST();
    if ((how & SWP_NOZORDER) || special) return true;
    after = Require(insert);
    if (!after) return false;
    if (after->parent != w->parent) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    return true;
  };
  if (!placeAfter(insertAfter, flags)) return 0;
  WINDOWPOS wp{hwnd, insertAfter, x, y, std::max(0, cx), std::max(0, cy), flags};
  if (!(flags & SWP_NOSENDCHANGING)) {
    Send(w, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&wp));
    if (w->dead) return 0;
    // The window may move itself elsewhere in the z-order, as on the real window manager.
    insertAfter = wp.hwndInsertAfter;
    if (!placeAfter(insertAfter, wp.flags)) return 0;
  }
  const bool moved = !(wp.flags & SWP_NOMOVE) && (wp.x != w->x || wp.y != w->y);
  const bool sized = !(wp.flags & SWP_NOSIZE) && (wp.cx != w->width || wp.cy != w->height);
  bool reordered = false;
  if (moved) {
    w->x = wp.x;
    w->y = wp.y;
  }
  if (sized) {
    w->width = std::max(0, wp.cx);
    w->height = std::max(0, wp.cy);
  }
  if (!(wp.flags & SWP_NOZORDER)) {
    auto& sibs = w->parent->children;
    const std::vector<Window*> before = sibs;
    if (insertAfter == HWND_TOPMOST()) w->exStyle |= WS_EX_TOPMOST;
    if (insertAfter == HWND_NOTOPMOST()) w->exStyle &= ~WS_EX_TOPMOST;
    if (after != w && insertAfter != HWND_NOTOPMOST()) {
      sibs.erase(std::remove(sibs.begin(), sibs.end(), w), sibs.end());
      if (insertAfter == HWND_BOTTOM()) {
        sibs.push_back(w);
      } else if (after) {
        sibs.insert(std::find(sibs.begin(), sibs.end(), after) + 1, w);
      } else {
        sibs.insert(sibs.begin(), w);
      }
    }
    reordered = sibs != before;
  }
  bool shownOrHidden = false;
  if ((wp.flags & SWP_SHOWWINDOW) && !(w->style & WS_VISIBLE)) {
    w->style |= WS_VISIBLE;
    shownOrHidden = true;
    Invalidate(w, nullptr, true);
  } else if ((wp.flags & SWP_HIDEWINDOW) && (w->style & WS_VISIBLE)) {
    w->style &= ~WS_VISIBLE;
    shownOrHidden = true;
  }
  if (sized && (w->style & WS_VISIBLE) && !(wp.flags & SWP_NOREDRAW)) Invalidate(w, nullptr, true);
  if (moved || sized || reordered) WindowPlaced(w, moved, sized, reordered);
  if (shownOrHidden) WindowShown(w);
  if (!moved && !sized && !reordered && !shownOrHidden) return 1;
  WINDOWPOS done{hwnd, insertAfter, w->x, w->y, w->width, w->height, wp.flags};
  if (!moved) done.flags |= SWP_NOMOVE;
  if (!sized) done.flags |= SWP_NOSIZE;
  if (!reordered) done.flags |= SWP_NOZORDER;
  Send(w, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&done));
  return 1;
}

BOOL WindowTree::MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(hwnd, nullptr, x, y, width, height,
                      SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0u : SWP_NOREDRAW));
}

BOOL WindowTree::GetWindowRect(HWND hwnd, RECT* rect) {
  Window* w = Require(hwnd);
  if (!w) return 0;
  if (!rect) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const POINT o = ScreenOrigin(w);
  *rect = {o.x, o.y, o.x + w->width, o.y + w->height};
  return 1;
}

BOOL WindowTree::GetClientRect(HWND hwnd, RECT* rect) {
  Window* w = Require(hwnd);
  if (!w) return 0;
  if (!rect) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  *rect = {0, 0, w->width, w->height};
  return 1;
}

BOOL WindowTree::ClientToScreen(HWND hwnd, POINT* point) {
  Window* w = Require(hwnd);
  if (!w || !point) return 0;
  const POINT o = ScreenOrigin(w);
  point->x += o.x;
  point->y += o.y;
  return 1;
}

BOOL WindowTree::ScreenToClient(HWND hwnd, POINT* point) {
  Window* w = Require(hwnd);
  if (!w || !point) return 0;
  const POINT o = ScreenOrigin(w);
  point->x -= o.x;
  point->y -= o.y;
  return 1;
}

BOOL WindowTree::SetWindowText(HWND hwnd, const char* text) {
  Window* w = Require(hwnd);
  if (!w) return 0;
  Send(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : ""));
  return 1;
}

int WindowTree::GetWindowText(HWND hwnd, char* buffer, int bufferSize) {
  Window* w = Require(hwnd);
  if (!w || !buffer || bufferSize <= 0) return 0;
  buffer[0] = '\0';
  const LRESULT n = Send(w, WM_GETTEXT, static_cast<WPARAM>(bufferSize), reinterpret_cast<LPARAM>(buffer));
  return static_cast<int>(std::clamp<LRESULT>(n, 0, bufferSize - 1));
}

int WindowTree::GetWindowTextLength(HWND hwnd) {
  Window* w = Require(hwnd);
  if (!w) return 0;
  return static_cast<int>(std::max<LRESULT>(0, Send(w, WM_GETTEXTLENGTH, 0, 0)));
}

BOOL WindowTree::SetProp(HWND hwnd, const char* name, HANDLE data) {
  Window* w = Require(hwnd);
  if (!w) return 0;
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  w->props[Lower(name)] = data;
  return 1;
}

HANDLE WindowTree::GetProp(HWND hwnd, const char* name) {
  Window* w = Find(hwnd);
  if (!w || !name) return nullptr;
  auto it = w->props.find(Lower(name));
  return it == w->props.end() ? nullptr : it->second;
}

HANDLE WindowTree::RemoveProp(HWND hwnd, const char* name) {
  Window* w = Find(hwnd);
  if (!w || !name) return nullptr;
  auto it = w->props.find(Lower(name));
  if (it == w->props.end()) return nullptr;
  HANDLE h = it->second;
  w->props.erase(it);
  return h;
}

int WindowTree::GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN:
    case SM_CXFULLSCREEN:
      return screenWidth_;
    case SM_CYSCREEN:
      return screenHeight_;
    case SM_CYFULLSCREEN:
      return std::max(0, screenHeight_ - 19);
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
      return 17;
    case SM_CYCAPTION:
    case SM_CYMENU:
      return 19;
    case SM_CXBORDER:
    case SM_CYBORDER:
      return 1;
    default:
      return 0;
  }
}

HWND WindowTree::SetFocus(HWND hwnd) {
  HWND old = Find(focus_) ? focus_ : nullptr;
  Window* w = nullptr;
  if (hwnd) {
    w = Require(hwnd);
    if (!w) return nullptr;
  }
  if (hwnd == old) return old;
  focus_ = hwnd;
  if (Window* o = Find(old)) Send(o, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
  if (w && !w->dead && focus_ == hwnd) Send(w, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
  return old;
}

HWND WindowTree::GetFocus() {
  return Find(focus_) ? focus_ : nullptr;
}

BOOL WindowTree::SetForegroundWindow(HWND hwnd) {
  Window* w = Require(hwnd);
  if (!w || w == desktop_) return 0;
  Window* top = TopLevelOf(w);
  HWND topHandle = HandleOf(top);
  // Raised as any window is moved, so the window hears of it first and may keep another place.
  SetWindowPos(topHandle, HWND_TOP(), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  if (top->dead) return 0;
  if (top->foreign) {
    ActivateApp(false);
    foreground_ = topHandle;
    return 1;
  }
  ActivateApp(true);
  HWND old = Find(foreground_) ? foreground_ : nullptr;
  if (old == topHandle) return 1;
  foreground_ = topHandle;
  if (Window* o = Find(old)) {
    if (!o->foreign) Send(o, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(topHandle));
  }
  Send(top, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(old));
  return 1;
}

HWND WindowTree::GetForegroundWindow() {
  return Find(foreground_) ? foreground_ : nullptr;
}

HWND WindowTree::GetActiveWindow() {
  Window* w = Find(foreground_);
  return w && !w->foreign ? foreground_ : nullptr;
}

void WindowTree::ActivateApp(bool active) {
  if (appActive_ == active) return;
  appActive_ = active;
  if (!active) {
    Window* f = Find(foreground_);
    if (f && !f->foreign) foreground_ = nullptr;
  }
  const std::vector<Window*> tops = desktop_->children;
  for (Window* w : tops) {
    if (!w->dead && !w->foreign) Send(w, WM_ACTIVATEAPP, active ? 1 : 0, 0);
  }
}

BOOL WindowTree::GetCursorPos(POINT* point) {
  if (!point) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  *point = cursor_;
  return 1;
}

BOOL WindowTree::SetCursorPos(int x, int y) {
  cursor_.x = std::clamp(x, 0, screenWidth_ - 1);
  cursor_.y = std::clamp(y, 0, screenHeight_ - 1);
  return 1;
}

HWND WindowTree::SetCapture(HWND hwnd) {
  HWND old = Find(capture_) ? capture_ : nullptr;
  if (!Find(hwnd)) return old;
  capture_ = hwnd;
  if (old && old != hwnd) Send(Find(old), WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(hwnd));
  return old;
}

BOOL WindowTree::ReleaseCapture() {
  HWND old = Find(capture_) ? capture_ : nullptr;
  capture_ = nullptr;
  if (old) Send(Find(old), WM_CAPTURECHANGED, 0, 0);
  return 1;
}

HWND WindowTree::GetCapture() {
  return Find(capture_) ? capture_ : nullptr;
}

WORD WindowTree::UiState(HWND hwnd) {
  Window* w = Find(hwnd);
  return w ? w->uiState : 0;
}

void WindowTree::PlaceFromOutside(Window* w, int x, int y, int width, int height) {
  if (!w || w->dead || w == desktop_) return;
  width = std::max(0, width);
  height = std::max(0, height);
  const bool moved = x != w->x || y != w->y;
  const bool sized = width != w->width || height != w->height;
  if (!moved && !sized) return;
  w->x = x;
  w->y = y;
  w->width = width;
  w->height = height;
  if (sized && (w->style & WS_VISIBLE)) Invalidate(w, nullptr, true);
  WINDOWPOS done{HandleOf(w), nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE};
  if (!moved) done.flags |= SWP_NOMOVE;
  if (!sized) done.flags |= SWP_NOSIZE;
  Send(w, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&done));
}

}  // namespace plat::soft
