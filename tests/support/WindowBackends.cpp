#include "support/WindowBackends.h"

#include <cstdlib>
#include <sstream>

#include "platform/Platform.h"
#include "platform/soft/SoftPlatform.h"
#include "platform/soft/SoftWindows.h"

#ifdef _WIN32
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Platform.h"
#endif

namespace contract {

bool BackendRequired(const char* name) {
  const char* list = std::getenv("DS_REQUIRE_BACKEND");
  if (!list) return false;
  std::stringstream s(list);
  std::string item;
  while (std::getline(s, item, ','))
    if (item == name) return true;
  return false;
}

// ---- soft ----

SoftBackend::SoftBackend() : platform_(std::make_unique<plat::soft::SoftPlatform>()) {}
SoftBackend::~SoftBackend() = default;

plat::WindowSystem& SoftBackend::ws() {
  return platform_->windows();
}

plat::HWND SoftBackend::DesktopIconView() {
  return platform_->windows().CreateDesktopShell().listView;
}

plat::BOOL SoftBackend::TrackPopupMenu(plat::HMENU menu, plat::UINT flags, int x, int y, plat::HWND owner,
                                       plat::UINT choose) {
  if (choose)
    platform_->windows().QueueMenuChoice(choose);
  else
    platform_->windows().QueueMenuCancel();
  return platform_->windows().TrackPopupMenu(menu, flags, x, y, owner);
}

// ---- win32 ----

#ifdef _WIN32

namespace {

plat::LRESULT PlainProc(plat::HWND h, plat::UINT m, plat::WPARAM w, plat::LPARAM l) {
  return plat::Windows().DefWindowProc(h, m, w, l);
}

const char* const kShellClasses[] = {"Progman", "SHELLDLL_DefView", "SysListView32"};

// The keys the user presses in the open menu; empty: a click elsewhere.
std::vector<::WPARAM> g_keys;
::HWND g_keyTarget = nullptr;

// The menu loop takes keyboard messages from the thread's queue, whichever window they name.
void CALLBACK ActAsUser(::HWND, ::UINT, ::UINT_PTR id, ::DWORD) {
  ::KillTimer(nullptr, id);
  if (g_keys.empty()) {
    ::EndMenu();
    return;
  }
  for (::WPARAM k : g_keys) ::PostMessageA(g_keyTarget, WM_KEYDOWN, k, 1);
}

}  // namespace

Win32Backend::Win32Backend() : platform_(std::make_unique<plat::win32::Win32Platform>()) {
  // Whatever an earlier test left in the thread's queue is not this test's.
  ::MSG m;
  while (::PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
  }
}

Win32Backend::~Win32Backend() {
  for (auto it = shell_.rbegin(); it != shell_.rend(); ++it)
    if (ws().IsWindow(*it)) ws().DestroyWindow(*it);
  if (!shell_.empty())
    for (const char* c : kShellClasses) ws().UnregisterClass(c, nullptr);
}

plat::WindowSystem& Win32Backend::ws() {
  return plat::Windows();
}

plat::HWND Win32Backend::DesktopIconView() {
  for (const char* c : kShellClasses) {
    plat::WNDCLASS wc{};
    wc.lpfnWndProc = &PlainProc;
    wc.lpszClassName = c;
    if (!ws().RegisterClass(wc)) return nullptr;
  }
  const int w = ws().GetSystemMetrics(SM_CXSCREEN), h = ws().GetSystemMetrics(SM_CYSCREEN);
  plat::HWND progman =
      ws().CreateWindowEx(0, "Progman", "Program Manager", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, w,
                          h, nullptr, nullptr, nullptr);
  plat::HWND defView = ws().CreateWindowEx(0, "SHELLDLL_DefView", "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN,
                                           0, 0, w, h, progman, nullptr, nullptr);
  plat::HWND view = ws().CreateWindowEx(0, "SysListView32", "FolderView", WS_CHILD | WS_VISIBLE, 0, 0, w, h,
                                        defView, nullptr, nullptr);
  shell_ = {progman, defView, view};
  return view;
}

plat::BOOL Win32Backend::TrackPopupMenu(plat::HMENU menu, plat::UINT flags, int x, int y, plat::HWND owner,
                                        plat::UINT choose) {
  // The first Down selects the first item; separators are passed over.
  g_keys.clear();
  const int n = ws().GetMenuItemCount(menu);
  for (int i = 0; choose && i < n; ++i) {
    if (ws().GetMenuState(menu, i, MF_BYPOSITION) & MF_SEPARATOR) continue;
    g_keys.push_back(VK_DOWN);
    if (ws().GetMenuItemID(menu, i) == choose) {
      g_keys.push_back(VK_RETURN);
      break;
    }
  }
  if (!g_keys.empty() && g_keys.back() != VK_RETURN) g_keys.clear();
  g_keyTarget = plat::win32::H<::HWND>(owner);
  const ::UINT_PTR timer = ::SetTimer(nullptr, 0, 100, &ActAsUser);
  const plat::BOOL r = ws().TrackPopupMenu(menu, flags, x, y, owner);
  ::KillTimer(nullptr, timer);
  return r;
}

#endif  // _WIN32

}  // namespace contract
