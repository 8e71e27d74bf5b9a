#include "platform/soft/SoftWindows.h"

#include <algorithm>
#include <cstdio>

#include "platform/common/SoftOptions.h"

namespace plat::soft {

SoftWindowSystem::SoftWindowSystem(const SoftOptions& options)
    : WindowTree(options.screenWidth, options.screenHeight), screenBitCount_(options.screenBitCount) {}

SoftWindowSystem::~SoftWindowSystem() = default;

BOOL SoftWindowSystem::Starved() {
  ++starvedWaits_;
  if (quitWhenStarved_) {
    PostQuitMessage(0);
    return 1;
  }
  SetLastError(WAIT_TIMEOUT);
  return 0;
}

BOOL SoftWindowSystem::GetMessage(MSG* msg, HWND filter, UINT min, UINT max) {
  if (!msg) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (PeekMessage(msg, filter, min, max, PM_REMOVE)) return msg->message == WM_QUIT ? 0 : 1;
    if (attempt == 0) {
      if (waitHook_) waitHook_();
    } else if (attempt == 1) {
      if (!Starved()) return -1;
    }
  }
  return -1;
}

BOOL SoftWindowSystem::WaitMessage() {
  MSG m;
  if (PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE)) return 1;
  if (waitHook_) waitHook_();
  if (PeekMessage(&m, nullptr, 0, 0, PM_NOREMOVE)) return 1;
  return Starved();
}

int SoftWindowSystem::MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
  if (owner && !Require(owner)) return 0;
  static const std::vector<int> kButtons[] = {
      {IDOK},        {IDOK, IDCANCEL},    {IDABORT, IDRETRY, IDIGNORE},      {IDYES, IDNO, IDCANCEL},
      {IDYES, IDNO}, {IDRETRY, IDCANCEL}, {IDCANCEL, IDTRYAGAIN, IDCONTINUE}};
  const UINT kind = type & MB_TYPEMASK;
  if (kind >= sizeof kButtons / sizeof kButtons[0]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::vector<int>& buttons = kButtons[kind];
  std::size_t def = (type & MB_DEFMASK) >> 8;
  if (def >= buttons.size()) def = 0;
  int answer = buttons[def];
  if (!boxAnswers_.empty()) {
    answer = boxAnswers_.front();
    boxAnswers_.pop_front();
  }
  MessageBoxCall call{owner, text ? text : "", caption ? caption : "Error", type, answer};
  messageBoxes_.push_back(call);
  if (echoBoxes_) std::fprintf(stderr, "[%s] %s\n", call.caption.c_str(), call.text.c_str());
  if (boxHook_) boxHook_(call);
  return answer;
}

BOOL SoftWindowSystem::TrackPopupMenu(HMENU menu, UINT flags, int x, int y, HWND owner) {
  TrackedMenu record{menu, owner, x, y, flags, {}, 0};
  bool shown = false;
  const BOOL r = RunMenuLoop(
      menu, flags, owner,
      [&](Menu* m, Window* o, bool notify) -> UINT {
        shown = true;
        UINT wanted = 0;
        if (!menuChoices_.empty()) {
          wanted = menuChoices_.front();
          menuChoices_.pop_front();
        }
        // Opening the submenus on the way to the chosen item initialises each of them in turn.
        std::vector<std::pair<Menu*, int>> path;
        if (wanted != 0 && !m->dead && FindCommandPath(m, wanted, &path, 0) && notify) {
          for (std::size_t i = 0; i + 1 < path.size(); ++i) {
            const MenuItem& item = path[i].first->items[static_cast<std::size_t>(path[i].second)];
            if (!item.sub || item.sub->dead) break;
            Send(o, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(MenuHandle(item.sub)),
                 MAKELPARAM(static_cast<WORD>(path[i].second), 0));
          }
        }
        if (!m->dead) Snapshot(m, 0, &record.items);
        if (menuHook_) menuHook_();
        return wanted;
      },
      &record.chosen);
  if (shown) trackedMenus_.push_back(std::move(record));
  return r;
}

SoftWindowSystem::DesktopShell SoftWindowSystem::CreateDesktopShell(const char* listViewClass) {
  DesktopShell shell;
  const DWORD common = WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  shell.progman = CreateForeignWindow("Progman", "Program Manager", WS_POPUP | common, 0, 0, ScreenWidth(),
                                      ScreenHeight(), nullptr);
  shell.defView = CreateForeignWindow("SHELLDLL_DefView", "", WS_CHILD | common, 0, 0, ScreenWidth(),
                                      ScreenHeight(), shell.progman);
  if (listViewClass) {
    shell.listView = CreateForeignWindow(listViewClass, "FolderView", WS_CHILD | common, 0, 0, ScreenWidth(),
                                         ScreenHeight(), shell.defView);
  }
  return shell;
}

void SoftWindowSystem::PostClick(HWND hwnd, int x, int y, UINT down, UINT up, WPARAM keys) {
  Window* w = Find(hwnd);
  if (!w) return;
  const POINT o = ScreenOrigin(w);
  SetCursorPos(o.x + x, o.y + y);
  PostMessage(hwnd, down, keys, MAKEPOINTLPARAM(x, y));
  PostMessage(hwnd, up, 0, MAKEPOINTLPARAM(x, y));
}

void SoftWindowSystem::ClickRight(HWND hwnd, int x, int y) {
  PostClick(hwnd, x, y, WM_RBUTTONDOWN, WM_RBUTTONUP, MK_RBUTTON);
}

void SoftWindowSystem::ClickLeft(HWND hwnd, int x, int y) {
  PostClick(hwnd, x, y, WM_LBUTTONDOWN, WM_LBUTTONUP, MK_LBUTTON);
}

std::vector<HWND> SoftWindowSystem::TaskbarButtons() {
  std::vector<HWND> out;
  for (Window* w : Desktop()->children) {
    if (HasTaskbarButton(HandleOf(w))) out.push_back(HandleOf(w));
  }
  return out;
}

bool SoftWindowSystem::HasTaskbarButton(HWND hwnd) {
  Window* w = Find(hwnd);
  if (!w || w->foreign || w->parent != Desktop() || !(w->style & WS_VISIBLE)) return false;
  if (w->exStyle & WS_EX_APPWINDOW) return true;
  return !w->owner && !(w->exStyle & WS_EX_TOOLWINDOW);
}

}  // namespace plat::soft
