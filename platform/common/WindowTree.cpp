// The window tree: window classes, creating and destroying windows, parent, owner and child links, the
// z-order of siblings and lookups. Window state and geometry: WindowTreeState.cpp; the message queue and
// painting: WindowTreeQueue.cpp; menus: WindowTreeMenus.cpp.
#include "platform/common/WindowTree.h"

#include <algorithm>

#include "platform/Clock.h"
#include "platform/Platform.h"
#include "platform/System.h"
#include "platform/common/WindowTreeInternal.h"

namespace plat::soft {

using namespace treeutil;

// ---------------------------------------------------------------------------------------------------------
// construction, helpers

WindowTree::WindowTree(int screenWidth, int screenHeight)
    : screenWidth_(std::max(1, screenWidth)), screenHeight_(std::max(1, screenHeight)) {
  auto cls = std::make_unique<WindowClass>();
  cls->name = "#32769";
  cls->atom = 0x8001;
  cls->wc.lpszClassName = cls->name.c_str();
  WindowClass* desktopClass = cls.get();
  classes_[Lower(cls->name.c_str())] = std::move(cls);

  auto w = std::make_unique<Window>();
  w->cls = desktopClass;
  w->style = WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  w->width = screenWidth_;
  w->height = screenHeight_;
  w->foreign = true;
  desktopClass->windows = 1;
  desktop_ = windows_.Add(std::move(w));
}

WindowTree::~WindowTree() = default;

void WindowTree::SetLastError(DWORD code) {
  if (System* s = CurrentServices().system) s->SetLastError(code);
}

DWORD WindowTree::MessageTime() {
  if (Clock* c = CurrentServices().clock) return c->GetTickCount();
  return 0;
}

WindowTree::Window* WindowTree::Find(HWND hwnd) {
  return windows_.Find(hwnd);
}

WindowTree::Window* WindowTree::Require(HWND hwnd) {
  Window* w = Find(hwnd);
  if (!w) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

HWND WindowTree::HandleOf(const Window* w) const {
  return windows_.HandleOf(w);
}

WindowTree::WindowClass* WindowTree::FindClass(const char* name) {
  if (!name) return nullptr;
  auto it = classes_.find(Lower(name));
  return it == classes_.end() ? nullptr : it->second.get();
}

WindowTree::Window* WindowTree::TopLevelOf(Window* w) {
  while (w && w->parent && w->parent != desktop_) w = w->parent;
  return w;
}

bool WindowTree::IsDescendantOrSelf(Window* w, Window* ancestor) {
  for (; w; w = w->parent) {
    if (w == ancestor) return true;
  }
  return false;
}

POINT WindowTree::ScreenOrigin(Window* w) {
  POINT p{0, 0};
  for (; w && w != desktop_; w = w->parent) {
    p.x += w->x;
    p.y += w->y;
  }
  return p;
}

LRESULT WindowTree::Send(Window* w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!w || w->dead) return 0;
  HWND h = HandleOf(w);
  if (!w->proc) return DefWindowProc(h, message, wParam, lParam);
  return w->proc(h, message, wParam, lParam);
}

ATOM WindowTree::RegisterClass(const WNDCLASS& wc) {
  if (!wc.lpszClassName || !*wc.lpszClassName || !wc.lpfnWndProc || wc.cbWndExtra < 0 || wc.cbClsExtra < 0 ||
      wc.cbWndExtra > 40 || wc.cbClsExtra > 40) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string key = Lower(wc.lpszClassName);
  if (classes_.count(key)) {
    SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return 0;
  }
  if (nextAtom_ == 0xFFFF) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  auto cls = std::make_unique<WindowClass>();
  cls->name = wc.lpszClassName;
  cls->wc = wc;
  cls->wc.lpszClassName = cls->name.c_str();
  cls->wc.lpszMenuName = nullptr;
  cls->atom = nextAtom_++;
  const ATOM atom = cls->atom;
  classes_[key] = std::move(cls);
  return atom;
}

BOOL WindowTree::UnregisterClass(const char* className, HINSTANCE) {
  WindowClass* cls = FindClass(className);
  if (!cls || cls->name == "#32769") {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return 0;
  }
  if (cls->windows > 0) {
    SetLastError(ERROR_CLASS_HAS_WINDOWS);
    return 0;
  }
  // Windows created earlier keep a pointer to the class object, so it is parked rather than freed.
  auto it = classes_.find(Lower(className));
  retiredClasses_.push_back(std::move(it->second));
  classes_.erase(it);
  return 1;
}

BOOL WindowTree::GetClassInfo(HINSTANCE, const char* className, WNDCLASS* out) {
  WindowClass* cls = FindClass(className);
  if (!cls) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return 0;
  }
  if (out) *out = cls->wc;
  return 1;
}

HWND WindowTree::CreateWindowEx(DWORD exStyle, const char* className, const char* title, DWORD style, int x,
                                int y, int width, int height, HWND parentOrOwner, HMENU menu,
                                void* createParam) {
  return Create(exStyle, className, title, style, x, y, width, height, parentOrOwner, menu, createParam,
                false);
}

HWND WindowTree::Create(DWORD exStyle, const char* className, const char* title, DWORD style, int x, int y,
                        int width, int height, HWND parentOrOwner, HMENU menu, void* createParam,
                        bool foreign) {
  WindowClass* cls = FindClass(className);
  if (!cls || cls->name == "#32769") {
    SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
  }
  Window* parent = desktop_;
  Window* owner = nullptr;
  if (style & WS_CHILD) {
    if (!parentOrOwner) {
      SetLastError(ERROR_TLW_WITH_WSCHILD);
      return nullptr;
    }
    parent = Require(parentOrOwner);
    if (!parent) return nullptr;
  } else if (parentOrOwner) {
    Window* o = Require(parentOrOwner);
    if (!o) return nullptr;
    owner = o == desktop_ ? nullptr : TopLevelOf(o);
  }
  const bool child = (style & WS_CHILD) != 0;
  if (x == CW_USEDEFAULT) x = y = 0;
  if (width == CW_USEDEFAULT) {
    width = child ? 0 : screenWidth_ / 2;
    height = child ? 0 : screenHeight_ / 2;
  }

  auto made = std::make_unique<Window>();
  Window* w = made.get();
  w->cls = cls;
  w->text = title ? title : "";
  w->style = style & ~WS_VISIBLE;  // shown below, after creation, with its messages
  w->exStyle = exStyle;
  w->x = x;
  w->y = y;
  w->width = std::max(0, width);
  w->height = std::max(0, height);
  w->parent = parent;
  w->owner = owner;
  w->proc = cls->wc.lpfnWndProc;
  w->instance = reinterpret_cast<LONG_PTR>(cls->wc.hInstance);
  w->controlId = child ? static_cast<LONG_PTR>(reinterpret_cast<std::uintptr_t>(menu)) : 0;
  w->extra.assign(static_cast<std::size_t>(cls->wc.cbWndExtra), 0);
  w->foreign = foreign;
  windows_.Add(std::move(made));
  // As on Windows: a new top-level window comes to the top, a new child window goes below its siblings (so
  // the first child is the one made first, as dialog controls rely on for their order).
  if (child)
    parent->children.push_back(w);
  else
    parent->children.insert(parent->children.begin(), w);
  ++cls->windows;
  HWND h = HandleOf(w);
  WindowCreated(w);

  CREATESTRUCT cs{};
  cs.lpCreateParams = createParam;
  cs.hInstance = cls->wc.hInstance;
  cs.hMenu = menu;
  cs.hwndParent = parentOrOwner;
  cs.cx = w->width;
  cs.cy = w->height;
  cs.x = w->x;
  cs.y = w->y;
  cs.style = static_cast<LONG>(style);
  cs.lpszName = title;
  cs.lpszClass = className;
  cs.dwExStyle = exStyle;

  if (!Send(w, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
    if (!w->dead) {
      w->destroying = true;
      Send(w, WM_NCDESTROY, 0, 0);
      Unlink(w);
    }
    return nullptr;
  }
  if (w->dead) return nullptr;
  if (Send(w, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    if (!w->dead) DestroyWindow(h);
    return nullptr;
  }
  if (w->dead) return nullptr;
  Send(w, WM_SIZE, SIZE_RESTORED, MAKELPARAM(static_cast<WORD>(w->width), static_cast<WORD>(w->height)));
  Send(w, WM_MOVE, 0, MAKEPOINTLPARAM(w->x, w->y));
  if (w->dead) return nullptr;
  if (style & WS_VISIBLE) SetVisible(w, true);
  return w->dead ? nullptr : h;
}

void WindowTree::Unlink(Window* w) {
  if (w->dead) return;
  if (w->parent) {
    auto& sibs = w->parent->children;
    sibs.erase(std::remove(sibs.begin(), sibs.end(), w), sibs.end());
  }
  HWND h = HandleOf(w);
  if (focus_ == h) focus_ = nullptr;
  if (foreground_ == h) foreground_ = nullptr;
  if (capture_ == h) capture_ = nullptr;
  // Messages still queued for the window would reach nobody.
  queue_.erase(std::remove_if(queue_.begin(), queue_.end(), [h](const MSG& m) { return m.hwnd == h; }),
               queue_.end());
  for (auto& entry : windows_) {
    if (entry.second->owner == w) entry.second->owner = nullptr;
  }
  --w->cls->windows;
  w->dead = true;
  WindowDestroyed(w);
}

void WindowTree::DestroyTree(Window* w) {
  if (w->dead || w->destroying) return;
  w->destroying = true;
  w->style &= ~WS_VISIBLE;
  Send(w, WM_DESTROY, 0, 0);
  // Children may be destroyed (or re-parented) by handlers meanwhile, so work on a copy and re-check.
  const std::vector<Window*> kids = w->children;
  for (Window* c : kids) {
    if (!c->dead && c->parent == w) DestroyTree(c);
  }
  Send(w, WM_NCDESTROY, 0, 0);
  Unlink(w);
}

BOOL WindowTree::DestroyWindow(HWND hwnd) {
  Window* w = Require(hwnd);
  if (!w) return 0;
  if (w == desktop_) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  if (w->destroying) return 1;
  // Owned windows go first, as the window manager does.
  std::vector<Window*> owned;
  for (auto& entry : windows_) {
    Window* o = entry.second.get();
    if (!o->dead && o->owner == w) owned.push_back(o);
  }
  for (Window* o : owned) {
    if (!o->dead) DestroyWindow(HandleOf(o));
  }
  DestroyTree(w);
  return 1;
}

BOOL WindowTree::IsWindow(HWND hwnd) {
  return Find(hwnd) ? 1 : 0;
}

HWND WindowTree::GetDesktopWindow() {
  return HandleOf(desktop_);
}

HWND WindowTree::FindWindow(const char* className, const char* title) {
  for (Window* w : desktop_->children) {
    if (className && !EqualNoCase(w->cls->name, className)) continue;
    if (title && !EqualNoCase(w->text, title)) continue;
    return HandleOf(w);
  }
  return nullptr;
}

HWND WindowTree::GetWindow(HWND hwnd, UINT relation) {
  Window* w = Require(hwnd);
  if (!w) return nullptr;
  const std::vector<Window*>* sibs = w->parent ? &w->parent->children : nullptr;
  switch (relation) {
    case GW_CHILD:
      return w->children.empty() ? nullptr : HandleOf(w->children.front());
    case GW_OWNER:
      return HandleOf(w->owner);
    case GW_HWNDFIRST:
      return sibs && !sibs->empty() ? HandleOf(sibs->front()) : nullptr;
    case GW_HWNDLAST:
      return sibs && !sibs->empty() ? HandleOf(sibs->back()) : nullptr;
    case GW_HWNDNEXT:
    case GW_HWNDPREV: {
      if (!sibs) return nullptr;
      auto it = std::find(sibs->begin(), sibs->end(), w);
      if (it == sibs->end()) return nullptr;
      if (relation == GW_HWNDNEXT) {
        ++it;
        return it == sibs->end() ? nullptr : HandleOf(*it);
      }
      return it == sibs->begin() ? nullptr : HandleOf(*(it - 1));
    }
    case GW_ENABLEDPOPUP:
      return nullptr;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
  }
}

HWND WindowTree::GetParent(HWND hwnd) {
  Window* w = Require(hwnd);
  if (!w) return nullptr;
  if (w->style & WS_CHILD) return w->parent == desktop_ ? nullptr : HandleOf(w->parent);
  if (w->style & WS_POPUP) return HandleOf(w->owner);
  return nullptr;
}

HWND WindowTree::GetAncestor(HWND hwnd, UINT flags) {
  Window* w = Require(hwnd);
  if (!w || w == desktop_) return nullptr;
  switch (flags) {
    case GA_PARENT:
      return HandleOf(w->parent);
    case GA_ROOT:
      return HandleOf(TopLevelOf(w));
    case GA_ROOTOWNER: {
      Window* r = TopLevelOf(w);
      for (int guard = 0; r->owner && guard < 1000; ++guard) r = r->owner;
      return HandleOf(r);
    }
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
  }
}

HWND WindowTree::SetParent(HWND hwnd, HWND newParent) {
  Window* w = Require(hwnd);
  if (!w) return nullptr;
  Window* np = desktop_;
  if (newParent) {
    np = Require(newParent);
    if (!np) return nullptr;
  }
  if (w == desktop_ || IsDescendantOrSelf(np, w)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Window* old = w->parent;
  auto& sibs = old->children;
  sibs.erase(std::remove(sibs.begin(), sibs.end(), w), sibs.end());
  np->children.insert(np->children.begin(), w);
  w->parent = np;
  WindowReparented(w);
  if (w->style & WS_VISIBLE) Invalidate(w, nullptr, true);
  return HandleOf(old);
}

BOOL WindowTree::IsChild(HWND parent, HWND hwnd) {
  Window* p = Find(parent);
  Window* w = Find(hwnd);
  if (!p || !w) return 0;
  // Only a chain of child windows counts; ownership and the desktop do not.
  for (; (w->style & WS_CHILD) && w->parent && w->parent != desktop_; w = w->parent) {
    if (w->parent == p) return 1;
  }
  return 0;
}

int WindowTree::GetClassName(HWND hwnd, char* buffer, int bufferSize) {
  Window* w = Require(hwnd);
  if (!w) return 0;
  if (!buffer || bufferSize <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return CopyText(w->cls->name, buffer, bufferSize);
}

HWND WindowTree::CreateForeignWindow(const char* className, const char* title, DWORD style, int x, int y,
                                     int width, int height, HWND parent) {
  if (!className || !*className) return nullptr;
  if (!FindClass(className)) {
    auto cls = std::make_unique<WindowClass>();
    cls->name = className;
    cls->wc.lpszClassName = cls->name.c_str();
    cls->atom = nextAtom_ < 0xFFFF ? nextAtom_++ : 0xFFFF;
    classes_[Lower(className)] = std::move(cls);
  }
  return Create(0, className, title, style, x, y, width, height, parent, nullptr, nullptr, true);
}

std::vector<WindowTree::Window*> WindowTree::LiveWindows() {
  std::vector<Window*> out;
  for (auto& entry : windows_) {
    if (!entry.second->dead) out.push_back(entry.second.get());
  }
  return out;
}

void WindowTree::DetachFromParent(Window* w) {
  if (!w || w->dead || !w->parent || w->parent == desktop_) return;
  const POINT origin = ScreenOrigin(w);
  auto& sibs = w->parent->children;
  sibs.erase(std::remove(sibs.begin(), sibs.end(), w), sibs.end());
  desktop_->children.push_back(w);
  w->parent = desktop_;
  w->x = origin.x;
  w->y = origin.y;
  // A top-level window is a pop-up, not a child; the style change is announced as any other.
  ChangeStyle(w, GWL_STYLE, (w->style & ~WS_CHILD) | WS_POPUP);
  if (w->dead) return;
  WindowReparented(w);
  if (w->style & WS_VISIBLE) Invalidate(w, nullptr, true);
}

void WindowTree::ForgetForeign(Window* w) {
  if (!w || w->dead || !w->foreign) return;
  // Its own children of this program would vanish with it on the display; the caller detaches them first.
  const std::vector<Window*> kids = w->children;
  for (Window* c : kids) {
    if (!c->dead && c->foreign) ForgetForeign(c);
  }
  if (w->dead) return;
  w->destroying = true;
  Unlink(w);
}

}  // namespace plat::soft
