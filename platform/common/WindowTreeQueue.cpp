// The message queue: update regions and painting, device contexts, posting, peeking (posted messages, then
// WM_QUIT, then paints), dispatching, sending, and DefWindowProc.
#include "platform/common/WindowTree.h"

#include <algorithm>
#include <cstdint>

#include "platform/Gdi.h"
#include "platform/Platform.h"
#include "platform/common/WindowTreeInternal.h"

namespace plat::soft {

using namespace treeutil;

namespace {

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

}  // namespace plat::soft
