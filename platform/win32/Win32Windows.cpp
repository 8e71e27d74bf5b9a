#include "platform/win32/Win32Windows.h"

#include <cstring>

#include "platform/win32/Win32Api.h"

namespace plat::win32 {

namespace {

static_assert(sizeof(plat::WNDCLASS) == sizeof(::WNDCLASSA), "WNDCLASS layout");

// The one window system of the process; the real procedure below reaches it through this.
Win32WindowSystem* g_windows = nullptr;

::LRESULT CALLBACK RealWindowProc(::HWND hwnd, ::UINT message, ::WPARAM wParam, ::LPARAM lParam) {
  if (!g_windows) return ::DefWindowProcA(hwnd, message, wParam, lParam);
  return g_windows->Route(H<HWND>(hwnd), message, wParam, lParam);
}

::HWND W(HWND h) {
  return H<::HWND>(h);
}
HWND P(::HWND h) {
  return H<HWND>(h);
}
::HMENU M(HMENU h) {
  return H<::HMENU>(h);
}
::RECT* R(RECT* r) {
  return reinterpret_cast<::RECT*>(r);
}
const ::RECT* R(const RECT* r) {
  return reinterpret_cast<const ::RECT*>(r);
}
::POINT* Pt(POINT* p) {
  return reinterpret_cast<::POINT*>(p);
}
::MSG* Msg(MSG* m) {
  return reinterpret_cast<::MSG*>(m);
}
const ::MSG* Msg(const MSG* m) {
  return reinterpret_cast<const ::MSG*>(m);
}

// A class registered with no instance belongs to the program's own module, as with the real call.
::HINSTANCE Instance(HINSTANCE instance) {
  return instance ? H<::HINSTANCE>(instance) : ::GetModuleHandleA(nullptr);
}

}  // namespace

Win32WindowSystem::Win32WindowSystem() {
  g_windows = this;
}

Win32WindowSystem::~Win32WindowSystem() {
  if (g_windows == this) g_windows = nullptr;
}

void Win32WindowSystem::Rethrow() {
  if (pending_) {
    std::exception_ptr e = pending_;
    pending_ = nullptr;
    std::rethrow_exception(e);
  }
}

WNDPROC Win32WindowSystem::ProcOf(HWND hwnd) {
  auto it = windowProcs_.find(hwnd);
  if (it != windowProcs_.end()) return it->second;
  // The window's first messages arrive before CreateWindowEx returns: take its class's procedure.
  const ATOM atom = static_cast<ATOM>(::GetClassWord(W(hwnd), GCW_ATOM));
  auto c = classProcs_.find(atom);
  if (c == classProcs_.end()) return nullptr;
  windowProcs_[hwnd] = c->second;
  return c->second;
}

LRESULT Win32WindowSystem::Route(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC proc = ProcOf(hwnd);
  LRESULT result = 0;
  if (!proc) {
    result = ::DefWindowProcA(W(hwnd), message, wParam, lParam);
  } else if (pending_) {
    // An exception is on its way out: let the system finish this message quietly.
    result = ::DefWindowProcA(W(hwnd), message, wParam, lParam);
  } else {
    try {
      result = proc(hwnd, message, wParam, lParam);
    } catch (...) {
      pending_ = std::current_exception();
      result = 0;
    }
  }
  if (message == WM_NCDESTROY) windowProcs_.erase(hwnd);
  return result;
}

// ---- classes ----

ATOM Win32WindowSystem::RegisterClass(const WNDCLASS& wc) {
  if (!wc.lpfnWndProc) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  ::WNDCLASSA real{};
  real.style = wc.style;
  real.lpfnWndProc = &RealWindowProc;
  real.cbClsExtra = wc.cbClsExtra;
  real.cbWndExtra = wc.cbWndExtra;
  real.hInstance = Instance(wc.hInstance);
  real.hIcon = H<::HICON>(wc.hIcon);
  real.hCursor = H<::HCURSOR>(wc.hCursor);
  real.hbrBackground = H<::HBRUSH>(wc.hbrBackground);
  real.lpszMenuName = wc.lpszMenuName;
  real.lpszClassName = wc.lpszClassName;
  const ATOM atom = ::RegisterClassA(&real);
  if (atom) classProcs_[atom] = wc.lpfnWndProc;
  return atom;
}

BOOL Win32WindowSystem::UnregisterClass(const char* className, HINSTANCE instance) {
  ::WNDCLASSEXA info{};
  info.cbSize = sizeof info;
  const ATOM atom = ::GetClassInfoExA(Instance(instance), className, &info);
  const BOOL ok = ::UnregisterClassA(className, Instance(instance));
  if (ok && atom) classProcs_.erase(atom);
  return ok;
}

BOOL Win32WindowSystem::GetClassInfo(HINSTANCE instance, const char* className, WNDCLASS* out) {
  ::WNDCLASSEXA info{};
  info.cbSize = sizeof info;
  ATOM atom = ::GetClassInfoExA(H<::HINSTANCE>(instance), className, &info);
  if (!atom && !instance) atom = ::GetClassInfoExA(::GetModuleHandleA(nullptr), className, &info);
  if (!atom) return FALSE;
  if (out) {
    out->style = info.style;
    // Only classes registered here have a procedure the platform can call.
    auto c = classProcs_.find(atom);
    out->lpfnWndProc = c != classProcs_.end() ? c->second : nullptr;
    out->cbClsExtra = info.cbClsExtra;
    out->cbWndExtra = info.cbWndExtra;
    out->hInstance = H<HINSTANCE>(info.hInstance);
    out->hIcon = H<HICON>(info.hIcon);
    out->hCursor = H<HCURSOR>(info.hCursor);
    out->hbrBackground = H<HBRUSH>(info.hbrBackground);
    out->lpszMenuName = info.lpszMenuName;
    out->lpszClassName = info.lpszClassName;
  }
  return TRUE;
}

// ---- windows ----

HWND Win32WindowSystem::CreateWindowEx(DWORD exStyle, const char* className, const char* title, DWORD style,
                                       int x, int y, int width, int height, HWND parentOrOwner, HMENU menu,
                                       void* createParam) {
  ::HWND h = ::CreateWindowExA(exStyle, className, title, style, x, y, width, height, W(parentOrOwner),
                               M(menu), ::GetModuleHandleA(nullptr), createParam);
  Rethrow();
  return P(h);
}

BOOL Win32WindowSystem::DestroyWindow(HWND hwnd) {
  const BOOL ok = ::DestroyWindow(W(hwnd));
  Rethrow();
  return ok;
}

BOOL Win32WindowSystem::IsWindow(HWND hwnd) {
  return ::IsWindow(W(hwnd));
}
HWND Win32WindowSystem::GetDesktopWindow() {
  return P(::GetDesktopWindow());
}
HWND Win32WindowSystem::FindWindow(const char* className, const char* title) {
  return P(::FindWindowA(className, title));
}
HWND Win32WindowSystem::GetWindow(HWND hwnd, UINT relation) {
  return P(::GetWindow(W(hwnd), relation));
}
HWND Win32WindowSystem::GetParent(HWND hwnd) {
  return P(::GetParent(W(hwnd)));
}
HWND Win32WindowSystem::GetAncestor(HWND hwnd, UINT flags) {
  return P(::GetAncestor(W(hwnd), flags));
}

HWND Win32WindowSystem::SetParent(HWND hwnd, HWND newParent) {
  ::HWND old = ::SetParent(W(hwnd), W(newParent));
  Rethrow();
  return P(old);
}

BOOL Win32WindowSystem::IsChild(HWND parent, HWND hwnd) {
  return ::IsChild(W(parent), W(hwnd));
}

int Win32WindowSystem::GetClassName(HWND hwnd, char* buffer, int bufferSize) {
  return ::GetClassNameA(W(hwnd), buffer, bufferSize);
}

BOOL Win32WindowSystem::ShowWindow(HWND hwnd, int command) {
  const BOOL r = ::ShowWindow(W(hwnd), command);
  Rethrow();
  return r;
}

BOOL Win32WindowSystem::IsWindowVisible(HWND hwnd) {
  return ::IsWindowVisible(W(hwnd));
}

BOOL Win32WindowSystem::EnableWindow(HWND hwnd, BOOL enable) {
  const BOOL r = ::EnableWindow(W(hwnd), enable);
  Rethrow();
  return r;
}

BOOL Win32WindowSystem::IsWindowEnabled(HWND hwnd) {
  return ::IsWindowEnabled(W(hwnd));
}

LONG_PTR Win32WindowSystem::GetWindowLongPtr(HWND hwnd, int index) {
  if (index == GWLP_WNDPROC) {
    if (WNDPROC proc = ProcOf(hwnd)) return reinterpret_cast<LONG_PTR>(proc);
    const LONG_PTR real = ::GetWindowLongPtrA(W(hwnd), GWLP_WNDPROC);
    if (real) realProcs_.insert(static_cast<std::uintptr_t>(real));
    return real;
  }
  return ::GetWindowLongPtrA(W(hwnd), index);
}

LONG_PTR Win32WindowSystem::SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value) {
  if (index == GWLP_WNDPROC) {
    if (!::IsWindow(W(hwnd))) {
      ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    const LONG_PTR previous = GetWindowLongPtr(hwnd, GWLP_WNDPROC);
    if (realProcs_.count(static_cast<std::uintptr_t>(value))) {
      // Handing a window back its own real procedure ends the platform's subclassing of it.
      windowProcs_.erase(hwnd);
      ::SetWindowLongPtrA(W(hwnd), GWLP_WNDPROC, value);
    } else {
      // A platform procedure: the real procedure routes the window's messages to it.
      if (::GetWindowLongPtrA(W(hwnd), GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(&RealWindowProc))
        ::SetWindowLongPtrA(W(hwnd), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RealWindowProc));
      windowProcs_[hwnd] = reinterpret_cast<WNDPROC>(value);
    }
    return previous;
  }
  const LONG_PTR r = ::SetWindowLongPtrA(W(hwnd), index, value);
  Rethrow();
  return r;
}

BOOL Win32WindowSystem::SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  const BOOL r = ::SetWindowPos(W(hwnd), W(insertAfter), x, y, cx, cy, flags);
  Rethrow();
  return r;
}

BOOL Win32WindowSystem::MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
  const BOOL r = ::MoveWindow(W(hwnd), x, y, width, height, repaint);
  Rethrow();
  return r;
}

BOOL Win32WindowSystem::GetWindowRect(HWND hwnd, RECT* rect) {
  return ::GetWindowRect(W(hwnd), R(rect));
}
BOOL Win32WindowSystem::GetClientRect(HWND hwnd, RECT* rect) {
  return ::GetClientRect(W(hwnd), R(rect));
}
BOOL Win32WindowSystem::ClientToScreen(HWND hwnd, POINT* point) {
  return ::ClientToScreen(W(hwnd), Pt(point));
}
BOOL Win32WindowSystem::ScreenToClient(HWND hwnd, POINT* point) {
  return ::ScreenToClient(W(hwnd), Pt(point));
}

BOOL Win32WindowSystem::SetWindowText(HWND hwnd, const char* text) {
  const BOOL r = ::SetWindowTextA(W(hwnd), text);
  Rethrow();
  return r;
}

int Win32WindowSystem::GetWindowText(HWND hwnd, char* buffer, int bufferSize) {
  const int r = ::GetWindowTextA(W(hwnd), buffer, bufferSize);
  Rethrow();
  return r;
}

int Win32WindowSystem::GetWindowTextLength(HWND hwnd) {
  const int r = ::GetWindowTextLengthA(W(hwnd));
  Rethrow();
  return r;
}

BOOL Win32WindowSystem::SetProp(HWND hwnd, const char* name, HANDLE data) {
  return ::SetPropA(W(hwnd), name, data);
}
HANDLE Win32WindowSystem::GetProp(HWND hwnd, const char* name) {
  return ::GetPropA(W(hwnd), name);
}
HANDLE Win32WindowSystem::RemoveProp(HWND hwnd, const char* name) {
  return ::RemovePropA(W(hwnd), name);
}

int Win32WindowSystem::GetSystemMetrics(int index) {
  return ::GetSystemMetrics(index);
}

// ---- focus, activation, cursor ----

HWND Win32WindowSystem::SetFocus(HWND hwnd) {
  ::HWND old = ::SetFocus(W(hwnd));
  Rethrow();
  return P(old);
}
HWND Win32WindowSystem::GetFocus() {
  return P(::GetFocus());
}
BOOL Win32WindowSystem::SetForegroundWindow(HWND hwnd) {
  const BOOL r = ::SetForegroundWindow(W(hwnd));
  Rethrow();
  return r;
}
HWND Win32WindowSystem::GetForegroundWindow() {
  return P(::GetForegroundWindow());
}
HWND Win32WindowSystem::GetActiveWindow() {
  return P(::GetActiveWindow());
}
BOOL Win32WindowSystem::GetCursorPos(POINT* point) {
  return ::GetCursorPos(Pt(point));
}
BOOL Win32WindowSystem::SetCursorPos(int x, int y) {
  return ::SetCursorPos(x, y);
}
HWND Win32WindowSystem::SetCapture(HWND hwnd) {
  return P(::SetCapture(W(hwnd)));
}
BOOL Win32WindowSystem::ReleaseCapture() {
  const BOOL r = ::ReleaseCapture();
  Rethrow();
  return r;
}
HWND Win32WindowSystem::GetCapture() {
  return P(::GetCapture());
}

// ---- painting ----

BOOL Win32WindowSystem::InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) {
  return ::InvalidateRect(W(hwnd), R(rect), erase);
}
BOOL Win32WindowSystem::ValidateRect(HWND hwnd, const RECT* rect) {
  return ::ValidateRect(W(hwnd), R(rect));
}
BOOL Win32WindowSystem::GetUpdateRect(HWND hwnd, RECT* rect, BOOL erase) {
  return ::GetUpdateRect(W(hwnd), R(rect), erase);
}
BOOL Win32WindowSystem::UpdateWindow(HWND hwnd) {
  const BOOL r = ::UpdateWindow(W(hwnd));
  Rethrow();
  return r;
}
HDC Win32WindowSystem::BeginPaint(HWND hwnd, PAINTSTRUCT* paint) {
  return H<HDC>(::BeginPaint(W(hwnd), reinterpret_cast<::PAINTSTRUCT*>(paint)));
}
BOOL Win32WindowSystem::EndPaint(HWND hwnd, const PAINTSTRUCT* paint) {
  return ::EndPaint(W(hwnd), reinterpret_cast<const ::PAINTSTRUCT*>(paint));
}
HDC Win32WindowSystem::GetDC(HWND hwnd) {
  return H<HDC>(::GetDC(W(hwnd)));
}
int Win32WindowSystem::ReleaseDC(HWND hwnd, HDC dc) {
  return ::ReleaseDC(W(hwnd), H<::HDC>(dc));
}

// ---- messages ----

BOOL Win32WindowSystem::PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // A message for no window goes to the thread's queue, as the platform describes.
  if (!hwnd) return ::PostThreadMessageA(::GetCurrentThreadId(), message, wParam, lParam);
  return ::PostMessageA(W(hwnd), message, wParam, lParam);
}

LRESULT Win32WindowSystem::SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const LRESULT r = ::SendMessageA(W(hwnd), message, wParam, lParam);
  Rethrow();
  return r;
}

BOOL Win32WindowSystem::PeekMessage(MSG* msg, HWND filter, UINT min, UINT max, UINT remove) {
  const BOOL r = ::PeekMessageA(Msg(msg), W(filter), min, max, remove);
  Rethrow();
  return r;
}

BOOL Win32WindowSystem::GetMessage(MSG* msg, HWND filter, UINT min, UINT max) {
  const BOOL r = ::GetMessageA(Msg(msg), W(filter), min, max);
  Rethrow();
  return r;
}

BOOL Win32WindowSystem::WaitMessage() {
  const BOOL r = ::WaitMessage();
  Rethrow();
  return r;
}

BOOL Win32WindowSystem::TranslateMessage(const MSG* msg) {
  return ::TranslateMessage(Msg(msg));
}

LRESULT Win32WindowSystem::DispatchMessage(const MSG* msg) {
  const LRESULT r = ::DispatchMessageA(Msg(msg));
  Rethrow();
  return r;
}

void Win32WindowSystem::PostQuitMessage(int exitCode) {
  ::PostQuitMessage(exitCode);
}

LRESULT Win32WindowSystem::DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const LRESULT r = ::DefWindowProcA(W(hwnd), message, wParam, lParam);
  Rethrow();
  return r;
}

LRESULT Win32WindowSystem::CallWindowProc(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam,
                                          LPARAM lParam) {
  if (!proc) return 0;
  if (realProcs_.count(reinterpret_cast<std::uintptr_t>(proc))) {
    const LRESULT r = ::CallWindowProcA(reinterpret_cast<::WNDPROC>(reinterpret_cast<void*>(proc)), W(hwnd),
                                        message, wParam, lParam);
    Rethrow();
    return r;
  }
  return proc(hwnd, message, wParam, lParam);
}

// ---- message boxes ----

int Win32WindowSystem::MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
  const int r = ::MessageBoxA(W(owner), text, caption, type);
  Rethrow();
  return r;
}

// ---- menus ----

HMENU Win32WindowSystem::CreateMenu() {
  return H<HMENU>(::CreateMenu());
}
HMENU Win32WindowSystem::CreatePopupMenu() {
  return H<HMENU>(::CreatePopupMenu());
}
BOOL Win32WindowSystem::DestroyMenu(HMENU menu) {
  return ::DestroyMenu(M(menu));
}
BOOL Win32WindowSystem::IsMenu(HMENU menu) {
  return ::IsMenu(M(menu));
}
BOOL Win32WindowSystem::AppendMenu(HMENU menu, UINT flags, UINT_PTR idOrSubmenu, const char* text) {
  return ::AppendMenuA(M(menu), flags, idOrSubmenu, text);
}
BOOL Win32WindowSystem::InsertMenu(HMENU menu, UINT position, UINT flags, UINT_PTR idOrSubmenu,
                                   const char* text) {
  return ::InsertMenuA(M(menu), position, flags, idOrSubmenu, text);
}
BOOL Win32WindowSystem::RemoveMenu(HMENU menu, UINT position, UINT flags) {
  return ::RemoveMenu(M(menu), position, flags);
}
BOOL Win32WindowSystem::DeleteMenu(HMENU menu, UINT position, UINT flags) {
  return ::DeleteMenu(M(menu), position, flags);
}
int Win32WindowSystem::GetMenuItemCount(HMENU menu) {
  return ::GetMenuItemCount(M(menu));
}
UINT Win32WindowSystem::GetMenuItemID(HMENU menu, int position) {
  return ::GetMenuItemID(M(menu), position);
}
HMENU Win32WindowSystem::GetSubMenu(HMENU menu, int position) {
  return H<HMENU>(::GetSubMenu(M(menu), position));
}
DWORD Win32WindowSystem::CheckMenuItem(HMENU menu, UINT item, UINT flags) {
  return ::CheckMenuItem(M(menu), item, flags);
}
BOOL Win32WindowSystem::CheckMenuRadioItem(HMENU menu, UINT first, UINT last, UINT check, UINT flags) {
  return ::CheckMenuRadioItem(M(menu), first, last, check, flags);
}
BOOL Win32WindowSystem::EnableMenuItem(HMENU menu, UINT item, UINT flags) {
  return ::EnableMenuItem(M(menu), item, flags);
}
UINT Win32WindowSystem::GetMenuState(HMENU menu, UINT item, UINT flags) {
  return ::GetMenuState(M(menu), item, flags);
}
int Win32WindowSystem::GetMenuString(HMENU menu, UINT item, char* buffer, int bufferSize, UINT flags) {
  int n = ::GetMenuStringA(M(menu), item, buffer, bufferSize, flags);
  // Some systems fill a short buffer to the brim without the terminating zero; the rule is n-1 and a zero.
  if (buffer && bufferSize > 0) {
    if (n < 0) n = 0;
    if (n >= bufferSize) n = bufferSize - 1;
    buffer[n] = '\0';
  }
  return n;
}
BOOL Win32WindowSystem::GetMenuItemInfo(HMENU menu, UINT item, BOOL byPosition, MENUITEMINFO* info) {
  return ::GetMenuItemInfoA(M(menu), item, byPosition, reinterpret_cast<::MENUITEMINFOA*>(info));
}
BOOL Win32WindowSystem::SetMenuItemInfo(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFO* info) {
  return ::SetMenuItemInfoA(M(menu), item, byPosition, reinterpret_cast<const ::MENUITEMINFOA*>(info));
}

BOOL Win32WindowSystem::TrackPopupMenu(HMENU menu, UINT flags, int x, int y, HWND owner) {
  ::HWND o = W(owner);
  // A menu whose owner is not the foreground window gets no keyboard input and does not close on a click
  // elsewhere; the null message afterwards lets the owner's queue notice the menu has gone.
  if (o) {
    ::HWND top = ::GetAncestor(o, GA_ROOT);
    ::SetForegroundWindow(top ? top : o);
  }
  const BOOL r = ::TrackPopupMenu(M(menu), flags, x, y, 0, o, nullptr);
  if (o) ::PostMessageA(o, WM_NULL, 0, 0);
  Rethrow();
  return r;
}

}  // namespace plat::win32
