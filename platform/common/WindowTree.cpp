#include "platform/common/WindowTree.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/Clock.h"
#include "platform/Gdi.h"
#include "platform/Platform.h"
#include "platform/System.h"

namespace plat::soft {
namespace {

constexpr int kMaxMenuDepth = 32;

std::string Lower(const char* s) {
  std::string out = s ? s : "";
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool EqualNoCase(const std::string& a, const char* b) {
  return Lower(a.c_str()) == Lower(b);
}

// Copies text into a caller's buffer of n characters: at most n-1 of them and a terminating zero.
int CopyText(const std::string& text, char* buffer, int n) {
  if (!buffer || n <= 0) return 0;
  const int count = static_cast<int>(std::min<std::size_t>(text.size(), static_cast<std::size_t>(n - 1)));
  std::memcpy(buffer, text.data(), static_cast<std::size_t>(count));
  buffer[count] = '\0';
  return count;
}

bool RectEmpty(const RECT& r) {
  return r.right <= r.left || r.bottom <= r.top;
}

RECT Union(const RECT& a, const RECT& b) {
  if (RectEmpty(a)) return b;
  if (RectEmpty(b)) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
          std::max(a.bottom, b.bottom)};
}

bool Contains(const RECT& outer, const RECT& inner) {
  return outer.left <= inner.left && outer.top <= inner.top && outer.right >= inner.right &&
         outer.bottom >= inner.bottom;
}

}  // namespace

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
  w->id = nextWindowId_++;
  w->cls = desktopClass;
  w->style = WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  w->width = screenWidth_;
  w->height = screenHeight_;
  w->foreign = true;
  desktopClass->windows = 1;
  desktop_ = w.get();
  windows_[w->id] = std::move(w);
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
  if (!hwnd) return nullptr;
  auto it = windows_.find(reinterpret_cast<std::uintptr_t>(hwnd));
  if (it == windows_.end() || it->second->dead) return nullptr;
  return it->second.get();
}

WindowTree::Window* WindowTree::Require(HWND hwnd) {
  Window* w = Find(hwnd);
  if (!w) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

HWND WindowTree::HandleOf(const Window* w) const {
  return w ? reinterpret_cast<HWND>(w->id) : nullptr;
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
  w->id = nextWindowId_++;
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
  windows_[w->id] = std::move(made);
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

void WindowTree::Invalidate(Window* w, const RECT* rect, bool erase) {
  RECT r = rect ? *rect : RECT{0, 0, w->width, w->height};
  r.left = std::max(r.left, 0);
  r.top = std::max(r.top, 0);
  r.right = std::min(r.right, w->width);
  r.bottom = std::min(r.bottom, w->height);
  if (RectEmpty(r)) return;
  w->update = w->invalid ? Union(w->update, r) : r;
  w->invalid = true;
  w->erase = w->erase || erase;
}

BOOL WindowTree::InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
  if (!hwnd) {
    for (auto& entry : windows_) {
      Window* w = entry.second.get();
      if (!w->dead && !w->foreign) Invalidate(w, nullptr, erase != 0);
    }
    return 1;
  }
  Window* w = Require(hwnd);
  if (!w) return 0;
  Invalidate(w, rect, erase != 0);
  return 1;
}

BOOL WindowTree::ValidateRect(HWND hwnd, const RECT* rect) {
  Window* w = Find(hwnd);
  if (!w) return hwnd ? 0 : 1;
  // The update region is kept as one rectangle: a part of it stays invalid as the whole.
  ++w->validations;
  if (!rect || Contains(*rect, w->update)) {
    w->invalid = false;
    w->erase = false;
    w->update = {0, 0, 0, 0};
  }
  return 1;
}

BOOL WindowTree::GetUpdateRect(HWND hwnd, RECT* rect, BOOL erase) {
  Window* w = Require(hwnd);
  if (!w) return 0;
  if (rect) *rect = w->invalid ? w->update : RECT{0, 0, 0, 0};
  if (erase && w->invalid && w->erase) {
    HDC dc = GetDC(hwnd);
    if (Send(w, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0)) w->erase = false;
    ReleaseDC(hwnd, dc);
  }
  return w->invalid ? 1 : 0;
}

BOOL WindowTree::UpdateWindow(HWND hwnd) {
  Window* w = Require(hwnd);
  if (!w) return 0;
  if (w->invalid && !w->foreign && IsWindowVisible(hwnd)) Send(w, WM_PAINT, 0, 0);
  return 1;
}

HDC WindowTree::BeginPaint(HWND hwnd, PAINTSTRUCT* paint) {
  Window* w = Require(hwnd);
  if (!w || !paint) return nullptr;
  *paint = PAINTSTRUCT{};
  HDC dc = GetDC(hwnd);
  paint->hdc = dc;
  paint->rcPaint = w->invalid ? w->update : RECT{0, 0, 0, 0};
  ++w->validations;
  const bool needErase = w->invalid && w->erase;
  w->invalid = false;
  w->erase = false;
  w->update = {0, 0, 0, 0};
  if (needErase) paint->fErase = Send(w, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) ? 0 : 1;
  return dc;
}

BOOL WindowTree::EndPaint(HWND hwnd, const PAINTSTRUCT* paint) {
  if (paint) ReleaseDC(hwnd, paint->hdc);
  return 1;
}

void WindowTree::SetDeviceContextSource(std::function<HDC(HWND)> get,
                                        std::function<void(HWND, HDC)> release) {
  getDc_ = std::move(get);
  releaseDc_ = std::move(release);
}

HDC WindowTree::GetDC(HWND hwnd) {
  Window* w = hwnd ? Require(hwnd) : desktop_;
  if (!w) return nullptr;
  HWND target = w == desktop_ ? nullptr : HandleOf(w);
  if (getDc_) return getDc_(target);
  if (Gdi* gdi = CurrentServices().gdi) return gdi->GetDC(target);
  // Without a GDI service a device context is an opaque token naming the window.
  return reinterpret_cast<HDC>(w->id | 0x40000000u);
}

int WindowTree::ReleaseDC(HWND hwnd, HDC dc) {
  if (!dc) return 0;
  if (releaseDc_) {
    releaseDc_(hwnd, dc);
    return 1;
  }
  if (Gdi* gdi = CurrentServices().gdi) return gdi->ReleaseDC(hwnd, dc);
  return 1;
}

BOOL WindowTree::PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (hwnd) {
    Window* w = Require(hwnd);
    if (!w) return 0;
    if (w->foreign) return 1;  // another program's queue
  }
  queue_.push_back(MSG{hwnd, message, wParam, lParam, MessageTime(), cursor_});
  return 1;
}

LRESULT WindowTree::SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* w = Require(hwnd);
  if (!w) return 0;
  return Send(w, message, wParam, lParam);
}

bool WindowTree::Matches(const MSG& m, HWND filter, UINT min, UINT max) {
  if ((min != 0 || max != 0) && (m.message < min || m.message > max)) return false;
  if (!filter) return true;
  if (filter == reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1))) return m.hwnd == nullptr;
  Window* w = Find(m.hwnd);
  Window* f = Find(filter);
  return w && f && IsDescendantOrSelf(w, f);
}

WindowTree::Window* WindowTree::FindPaintable(HWND filter) {
  if (filter == reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1))) return nullptr;
  Window* f = filter ? Find(filter) : nullptr;
  if (filter && !f) return nullptr;
  for (auto& entry : windows_) {
    Window* w = entry.second.get();
    if (w->dead || w->foreign || !w->invalid) continue;
    if (f && !IsDescendantOrSelf(w, f)) continue;
    if (IsWindowVisible(HandleOf(w))) return w;
  }
  return nullptr;
}

BOOL WindowTree::PeekMessage(MSG* msg, HWND filter, UINT min, UINT max, UINT remove) {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  CollectInput();
  for (auto it = queue_.begin(); it != queue_.end(); ++it) {
    if (!Matches(*it, filter, min, max)) continue;
    *msg = *it;
    if (remove & PM_REMOVE) queue_.erase(it);
    return 1;
  }
  const bool anyRange = min == 0 && max == 0;
  if (quitPending_ && (anyRange || (min <= WM_QUIT && WM_QUIT <= max))) {
    *msg =
        MSG{nullptr, WM_QUIT, static_cast<WPARAM>(static_cast<LPARAM>(quitCode_)), 0, MessageTime(), cursor_};
    if (remove & PM_REMOVE) quitPending_ = false;
    return 1;
  }
  if (anyRange || (min <= WM_PAINT && WM_PAINT <= max)) {
    if (Window* w = FindPaintable(filter)) {
      // A paint message stays due until the window is validated, whatever `remove` says.
      *msg = MSG{HandleOf(w), WM_PAINT, 0, 0, MessageTime(), cursor_};
      return 1;
    }
  }
  return 0;
}

BOOL WindowTree::TranslateMessage(const MSG* msg) {
  if (!msg || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN)) return 0;
  const WPARAM vk = msg->wParam;
  int ch = -1;
  if (vk >= 'A' && vk <= 'Z') ch = static_cast<int>(vk - 'A' + 'a');
  if (vk >= '0' && vk <= '9') ch = static_cast<int>(vk);
  if (vk == 0x20 || vk == 0x0D || vk == 0x1B || vk == 0x08 || vk == 0x09) ch = static_cast<int>(vk);
  if (ch < 0) return 0;
  PostMessage(msg->hwnd, msg->message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR, static_cast<WPARAM>(ch),
              msg->lParam);
  return 1;
}

LRESULT WindowTree::DispatchMessage(const MSG* msg) {
  if (!msg || !msg->hwnd) return 0;
  Window* w = Require(msg->hwnd);
  if (!w) return 0;
  const unsigned validationsBefore = w->validations;
  const LRESULT r = Send(w, msg->message, msg->wParam, msg->lParam);
  // A paint handler that never validates would be sent WM_PAINT forever and the message loop would never
  // reach idle time; such a dispatch counts as the paint. A handler that validated and then invalidated
  // again on purpose gets its next paint.
  if (msg->message == WM_PAINT && !w->dead && w->validations == validationsBefore) {
    ValidateRect(msg->hwnd, nullptr);
  }
  return r;
}

void WindowTree::PostQuitMessage(int exitCode) {
  quitPending_ = true;
  quitCode_ = exitCode;
}

LRESULT WindowTree::CallWindowProc(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!proc) return DefWindowProc(hwnd, message, wParam, lParam);
  return proc(hwnd, message, wParam, lParam);
}

LRESULT WindowTree::DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* w = Find(hwnd);
  if (!w) return 0;
  const bool childOfWindow = (w->style & WS_CHILD) && w->parent && w->parent != desktop_;
  switch (message) {
    case WM_NCCREATE:
      return 1;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_CLOSE) Send(w, WM_CLOSE, 0, 0);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(hwnd, &ps);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return w->cls->wc.hbrBackground ? 1 : 0;
    case WM_SETTEXT:
      w->text = lParam ? reinterpret_cast<const char*>(lParam) : "";
      WindowRetitled(w);
      return 1;
    case WM_GETTEXT:
      if (wParam > 0x7FFFFFFF) return 0;
      return CopyText(w->text, reinterpret_cast<char*>(lParam), static_cast<int>(wParam));
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(w->text.size());
    case WM_WINDOWPOSCHANGED: {
      const WINDOWPOS* wp = reinterpret_cast<const WINDOWPOS*>(lParam);
      if (!wp) return 0;
      if (!(wp->flags & SWP_NOSIZE)) {
        const WPARAM kind = (w->style & WS_MAXIMIZE)   ? SIZE_MAXIMIZED
                            : (w->style & WS_MINIMIZE) ? SIZE_MINIMIZED
                                                       : SIZE_RESTORED;
        Send(w, WM_SIZE, kind, MAKELPARAM(static_cast<WORD>(w->width), static_cast<WORD>(w->height)));
      }
      if (!(wp->flags & SWP_NOMOVE) && !w->dead) Send(w, WM_MOVE, 0, MAKEPOINTLPARAM(w->x, w->y));
      return 0;
    }
    case WM_RBUTTONUP: {
      POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      ClientToScreen(hwnd, &p);
      Send(w, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hwnd), MAKEPOINTLPARAM(p.x, p.y));
      return 0;
    }
    case WM_CONTEXTMENU:
      if (childOfWindow) return Send(w->parent, WM_CONTEXTMENU, wParam, lParam);
      return 0;
    case WM_CHANGEUISTATE:
      if (childOfWindow) return Send(w->parent, WM_CHANGEUISTATE, wParam, lParam);
      Send(w, WM_UPDATEUISTATE, wParam, lParam);
      return 0;
    case WM_UPDATEUISTATE: {
      const WORD action = LOWORD(wParam);
      const WORD flags = HIWORD(wParam) & (UISF_HIDEFOCUS | UISF_HIDEACCEL | UISF_ACTIVE);
      // No keyboard input ever arrives here, so initialising hides the cues like setting them does.
      if (action == UIS_SET || action == UIS_INITIALIZE) w->uiState |= flags;
      if (action == UIS_CLEAR) w->uiState &= static_cast<WORD>(~flags);
      const std::vector<Window*> kids = w->children;
      for (Window* c : kids) Send(c, WM_UPDATEUISTATE, wParam, lParam);
      return 0;
    }
    case WM_QUERYUISTATE:
      return w->uiState;
    case WM_MOUSEACTIVATE:
      return 1;  // MA_ACTIVATE
    case WM_NCHITTEST:
      return 1;  // HTCLIENT
    case WM_NCACTIVATE:
    case WM_QUERYENDSESSION:
      return 1;
    default:
      return 0;
  }
}

WindowTree::Menu* WindowTree::FindMenu(HMENU menu) {
  if (!menu) return nullptr;
  auto it = menus_.find(reinterpret_cast<std::uintptr_t>(menu));
  if (it == menus_.end() || it->second->dead) return nullptr;
  return it->second.get();
}

WindowTree::Menu* WindowTree::RequireMenu(HMENU menu) {
  Menu* m = FindMenu(menu);
  if (!m) SetLastError(ERROR_INVALID_MENU_HANDLE);
  return m;
}

HMENU WindowTree::MenuHandle(const Menu* m) const {
  return m ? reinterpret_cast<HMENU>(m->id) : nullptr;
}

HMENU WindowTree::CreateMenu() {
  auto m = std::make_unique<Menu>();
  m->id = nextMenuId_++;
  HMENU h = MenuHandle(m.get());
  menus_[m->id] = std::move(m);
  return h;
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

BOOL WindowTree::GetMenuItemInfo(HMENU menu, UINT item, BOOL byPosition, MENUITEMINFO* info) {
  Menu* m = RequireMenu(menu);
  if (!m) return 0;
  if (!info) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  MenuItem* it = LocateItem(m, item, byPosition ? MF_BYPOSITION : MF_BYCOMMAND, nullptr, nullptr);
  if (!it) {
    SetLastError(ERROR_MENU_ITEM_NOT_FOUND);
    return 0;
  }
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
  Menu* m = RequireMenu(menu);
  if (!m) return 0;
  if (!info) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  MenuItem* it = LocateItem(m, item, byPosition ? MF_BYPOSITION : MF_BYCOMMAND, nullptr, nullptr);
  if (!it) {
    SetLastError(ERROR_MENU_ITEM_NOT_FOUND);
    return 0;
  }
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

WORD WindowTree::UiState(HWND hwnd) {
  Window* w = Find(hwnd);
  return w ? w->uiState : 0;
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

std::vector<WindowTree::Window*> WindowTree::LiveWindows() {
  std::vector<Window*> out;
  for (auto& entry : windows_) {
    if (!entry.second->dead) out.push_back(entry.second.get());
  }
  return out;
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
