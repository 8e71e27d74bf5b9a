// The soft window manager: an in-memory window tree under a screen-sized desktop window, one message queue,
// recorded message boxes and scripted popup menus. Tests drive it through the members below the interface.
//
// Waiting: GetMessage and WaitMessage never block. With an empty queue they call the wait hook (a test's
// chance to post input or move the clock); if the queue is still empty they fail with last error
// WAIT_TIMEOUT (GetMessage returns -1, WaitMessage FALSE), or, with SetQuitWhenStarved(true), they post
// WM_QUIT so that a message loop ends.
//
// Foreign windows (CreateForeignWindow, CreateDesktopShell) stand for other programs' windows such as the
// shell's: they take part in lookups and the window tree, but get no WM_ACTIVATEAPP, no WM_PAINT from this
// program's queue, and messages posted to them are dropped.
//
// Painting: a dispatched WM_PAINT whose handler validated nothing counts as painted, so a careless handler
// cannot keep the queue busy for ever.
//
// Windows have no non-client area here: the client rectangle is the whole window.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Windows.h"

namespace plat::soft {

struct SoftOptions;

class SoftWindowSystem : public WindowSystem {
 public:
  explicit SoftWindowSystem(const SoftOptions& options);
  ~SoftWindowSystem() override;

  // ---- WindowSystem ----
  ATOM RegisterClass(const WNDCLASS& wc) override;
  BOOL UnregisterClass(const char* className, HINSTANCE instance) override;
  BOOL GetClassInfo(HINSTANCE instance, const char* className, WNDCLASS* out) override;
  HWND CreateWindowEx(DWORD exStyle, const char* className, const char* title, DWORD style, int x, int y,
                      int width, int height, HWND parentOrOwner, HMENU menu, void* createParam) override;
  BOOL DestroyWindow(HWND hwnd) override;
  BOOL IsWindow(HWND hwnd) override;
  HWND GetDesktopWindow() override;
  HWND FindWindow(const char* className, const char* title) override;
  HWND GetWindow(HWND hwnd, UINT relation) override;
  HWND GetParent(HWND hwnd) override;
  HWND GetAncestor(HWND hwnd, UINT flags) override;
  HWND SetParent(HWND hwnd, HWND newParent) override;
  BOOL IsChild(HWND parent, HWND hwnd) override;
  int GetClassName(HWND hwnd, char* buffer, int bufferSize) override;
  BOOL ShowWindow(HWND hwnd, int command) override;
  BOOL IsWindowVisible(HWND hwnd) override;
  BOOL EnableWindow(HWND hwnd, BOOL enable) override;
  BOOL IsWindowEnabled(HWND hwnd) override;
  LONG_PTR GetWindowLongPtr(HWND hwnd, int index) override;
  LONG_PTR SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value) override;
  BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) override;
  BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) override;
  BOOL GetWindowRect(HWND hwnd, RECT* rect) override;
  BOOL GetClientRect(HWND hwnd, RECT* rect) override;
  BOOL ClientToScreen(HWND hwnd, POINT* point) override;
  BOOL ScreenToClient(HWND hwnd, POINT* point) override;
  BOOL SetWindowText(HWND hwnd, const char* text) override;
  int GetWindowText(HWND hwnd, char* buffer, int bufferSize) override;
  int GetWindowTextLength(HWND hwnd) override;
  BOOL SetProp(HWND hwnd, const char* name, HANDLE data) override;
  HANDLE GetProp(HWND hwnd, const char* name) override;
  HANDLE RemoveProp(HWND hwnd, const char* name) override;
  int GetSystemMetrics(int index) override;
  HWND SetFocus(HWND hwnd) override;
  HWND GetFocus() override;
  BOOL SetForegroundWindow(HWND hwnd) override;
  HWND GetForegroundWindow() override;
  HWND GetActiveWindow() override;
  BOOL GetCursorPos(POINT* point) override;
  BOOL SetCursorPos(int x, int y) override;
  HWND SetCapture(HWND hwnd) override;
  BOOL ReleaseCapture() override;
  HWND GetCapture() override;
  BOOL InvalidateRect(HWND hwnd, const RECT* rect, BOOL erase) override;
  BOOL ValidateRect(HWND hwnd, const RECT* rect) override;
  BOOL GetUpdateRect(HWND hwnd, RECT* rect, BOOL erase) override;
  BOOL UpdateWindow(HWND hwnd) override;
  HDC BeginPaint(HWND hwnd, PAINTSTRUCT* paint) override;
  BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* paint) override;
  HDC GetDC(HWND hwnd) override;
  int ReleaseDC(HWND hwnd, HDC dc) override;
  BOOL PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
  LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
  BOOL PeekMessage(MSG* msg, HWND filter, UINT min, UINT max, UINT remove) override;
  BOOL GetMessage(MSG* msg, HWND filter, UINT min, UINT max) override;
  BOOL WaitMessage() override;
  BOOL TranslateMessage(const MSG* msg) override;
  LRESULT DispatchMessage(const MSG* msg) override;
  void PostQuitMessage(int exitCode) override;
  LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
  LRESULT CallWindowProc(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
  int MessageBox(HWND owner, const char* text, const char* caption, UINT type) override;
  HMENU CreateMenu() override;
  HMENU CreatePopupMenu() override;
  BOOL DestroyMenu(HMENU menu) override;
  BOOL IsMenu(HMENU menu) override;
  BOOL AppendMenu(HMENU menu, UINT flags, UINT_PTR idOrSubmenu, const char* text) override;
  BOOL InsertMenu(HMENU menu, UINT position, UINT flags, UINT_PTR idOrSubmenu, const char* text) override;
  BOOL RemoveMenu(HMENU menu, UINT position, UINT flags) override;
  BOOL DeleteMenu(HMENU menu, UINT position, UINT flags) override;
  int GetMenuItemCount(HMENU menu) override;
  UINT GetMenuItemID(HMENU menu, int position) override;
  HMENU GetSubMenu(HMENU menu, int position) override;
  DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags) override;
  BOOL CheckMenuRadioItem(HMENU menu, UINT first, UINT last, UINT check, UINT flags) override;
  BOOL EnableMenuItem(HMENU menu, UINT item, UINT flags) override;
  UINT GetMenuState(HMENU menu, UINT item, UINT flags) override;
  int GetMenuString(HMENU menu, UINT item, char* buffer, int bufferSize, UINT flags) override;
  BOOL GetMenuItemInfo(HMENU menu, UINT item, BOOL byPosition, MENUITEMINFO* info) override;
  BOOL SetMenuItemInfo(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFO* info) override;
  BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, HWND owner) override;

  // ---- screen ----
  int ScreenWidth() const { return screenWidth_; }
  int ScreenHeight() const { return screenHeight_; }
  int ScreenBitCount() const { return screenBitCount_; }

  // ---- other programs' windows ----
  // A window of another program (its class is registered on first use with DefWindowProc).
  HWND CreateForeignWindow(const char* className, const char* title, DWORD style, int x, int y, int width,
                           int height, HWND parent);
  struct DesktopShell {
    HWND progman = nullptr;   // top-level "Progman", title "Program Manager"
    HWND defView = nullptr;   // its first child, "SHELLDLL_DefView"
    HWND listView = nullptr;  // that child's first child, of class listViewClass (null: not created)
  };
  // The shell's desktop windows, screen-sized and visible. listViewClass null leaves the view empty.
  DesktopShell CreateDesktopShell(const char* listViewClass = "SysListView32");

  // ---- queue ----
  // Called when GetMessage / WaitMessage find the queue empty (see the file comment).
  void SetWaitHook(std::function<void()> hook) { waitHook_ = std::move(hook); }
  void SetQuitWhenStarved(bool quit) { quitWhenStarved_ = quit; }
  // Times GetMessage / WaitMessage found nothing even after the hook.
  int StarvedWaits() const { return starvedWaits_; }
  // Posted messages waiting (WM_QUIT and pending paints not counted).
  std::size_t QueuedMessageCount() const { return queue_.size(); }
  bool QuitPending() const { return quitPending_; }
  // Moves the cursor to the client point and posts the button-down and button-up pair there.
  void ClickRight(HWND hwnd, int x, int y);
  void ClickLeft(HWND hwnd, int x, int y);

  // ---- activation ----
  // The user switches to (true) or away from (false) this program: every top-level window of the program
  // receives WM_ACTIVATEAPP, when the state changes. The program starts inactive.
  void ActivateApp(bool active);
  bool AppActive() const { return appActive_; }

  // ---- taskbar ----
  // The program's windows that show a taskbar button: visible top-level windows that are unowned and
  // lack WS_EX_TOOLWINDOW, or that have WS_EX_APPWINDOW. In z-order.
  std::vector<HWND> TaskbarButtons();
  bool HasTaskbarButton(HWND hwnd);

  // ---- keyboard-cue state (WM_UPDATEUISTATE) ----
  WORD UiState(HWND hwnd);

  // ---- device contexts: GetDC / BeginPaint take them from this source, else from the installed GDI
  // service, else hand out an opaque per-window token ----
  void SetDeviceContextSource(std::function<HDC(HWND)> get, std::function<void(HWND, HDC)> release);

  // ---- message boxes ----
  struct MessageBoxCall {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
    int answer;
  };
  const std::vector<MessageBoxCall>& MessageBoxes() const { return messageBoxes_; }
  void ClearMessageBoxes() { messageBoxes_.clear(); }
  // The next message box answers this instead of its default button (answers are used in order).
  void QueueMessageBoxAnswer(int answer) { boxAnswers_.push_back(answer); }
  // Headless runs: print "[caption] text" to standard error for every message box.
  void SetEchoMessageBoxes(bool echo) { echoBoxes_ = echo; }
  // Runs while a message box is open.
  void SetMessageBoxHook(std::function<void(const MessageBoxCall&)> hook) { boxHook_ = std::move(hook); }

  // ---- popup menus ----
  // The next TrackPopupMenu picks this command id (an enabled item anywhere in the menu tree); without a
  // queued choice, or with an id no enabled item has, the menu is cancelled.
  void QueueMenuChoice(UINT commandId) { menuChoices_.push_back(commandId); }
  void QueueMenuCancel() { menuChoices_.push_back(0); }
  // Runs while the menu is open (after the owner's WM_INITMENUPOPUP, before WM_EXITMENULOOP).
  void SetMenuOpenHook(std::function<void()> hook) { menuHook_ = std::move(hook); }
  bool InMenuLoop() const { return inMenuLoop_; }
  struct MenuItemSnapshot {
    int depth;  // 0 for the tracked menu's own items, 1 for a submenu's ...
    std::string caption;
    UINT id;
    bool separator;
    bool popup;
    bool checked;
    bool radio;
    bool grayed;
  };
  struct TrackedMenu {
    HMENU menu;
    HWND owner;
    int x, y;
    UINT flags;
    std::vector<MenuItemSnapshot> items;  // depth-first, as shown when the menu opened
    UINT chosen;                          // 0: cancelled
  };
  const std::vector<TrackedMenu>& TrackedMenus() const { return trackedMenus_; }
  // Depth-first snapshot of a menu's items now.
  std::vector<MenuItemSnapshot> SnapshotMenu(HMENU menu);

 private:
  struct WindowClass;
  struct Window;
  struct MenuItem;
  struct Menu;

  HWND Create(DWORD exStyle, const char* className, const char* title, DWORD style, int x, int y, int width,
              int height, HWND parentOrOwner, HMENU menu, void* createParam, bool foreign);
  Window* Find(HWND hwnd);
  Window* Require(HWND hwnd);  // sets ERROR_INVALID_WINDOW_HANDLE when null
  WindowClass* FindClass(const char* name);
  HWND HandleOf(const Window* w) const;
  Window* TopLevelOf(Window* w);
  void Unlink(Window* w);
  void DestroyTree(Window* w);
  bool Matches(const MSG& m, HWND filter, UINT min, UINT max);
  bool IsDescendantOrSelf(Window* w, Window* ancestor);
  Window* FindPaintable(HWND filter);
  void Invalidate(Window* w, const RECT* rect, bool erase);
  void SetVisible(Window* w, bool visible);
  void ChangeStyle(Window* w, int index, DWORD value);
  BOOL Starved();
  LRESULT Send(Window* w, UINT message, WPARAM wParam, LPARAM lParam);
  POINT ScreenOrigin(Window* w);
  DWORD MessageTime();
  void SetLastError(DWORD code);
  void PostClick(HWND hwnd, int x, int y, UINT down, UINT up, WPARAM keys);

  Menu* FindMenu(HMENU menu);
  Menu* RequireMenu(HMENU menu);
  HMENU MenuHandle(const Menu* m) const;
  // Locates an item by position or by command (searching submenus); sets *owner to the containing menu.
  MenuItem* LocateItem(Menu* menu, UINT item, UINT flags, Menu** owner, int* position);
  MenuItem* LocateIn(Menu* menu, UINT id, Menu** owner, int* position, int depth);
  BOOL AddItem(Menu* menu, int position, UINT flags, UINT_PTR idOrSubmenu, const char* text);
  bool Reaches(Menu* from, Menu* target, int depth);
  void DestroyMenuTree(Menu* m);
  bool FindCommandPath(Menu* m, UINT id, std::vector<std::pair<Menu*, int>>* path, int depth);
  void Snapshot(Menu* m, int depth, std::vector<MenuItemSnapshot>* out);

  int screenWidth_;
  int screenHeight_;
  int screenBitCount_;

  std::map<std::string, std::unique_ptr<WindowClass>> classes_;  // key: lower-case name
  std::vector<std::unique_ptr<WindowClass>> retiredClasses_;
  ATOM nextAtom_ = 0xC000;
  std::map<std::uintptr_t, std::unique_ptr<Window>> windows_;
  std::uintptr_t nextWindowId_ = 0x10000;
  Window* desktop_ = nullptr;

  std::map<std::uintptr_t, std::unique_ptr<Menu>> menus_;
  std::uintptr_t nextMenuId_ = 0x20000;

  std::deque<MSG> queue_;
  bool quitPending_ = false;
  int quitCode_ = 0;
  std::function<void()> waitHook_;
  bool quitWhenStarved_ = false;
  int starvedWaits_ = 0;

  HWND focus_ = nullptr;
  HWND foreground_ = nullptr;
  HWND capture_ = nullptr;
  POINT cursor_{0, 0};
  bool appActive_ = false;

  std::function<HDC(HWND)> getDc_;
  std::function<void(HWND, HDC)> releaseDc_;

  std::vector<MessageBoxCall> messageBoxes_;
  std::deque<int> boxAnswers_;
  bool echoBoxes_ = false;
  std::function<void(const MessageBoxCall&)> boxHook_;

  std::deque<UINT> menuChoices_;
  std::function<void()> menuHook_;
  bool inMenuLoop_ = false;
  std::vector<TrackedMenu> trackedMenus_;
};

}  // namespace plat::soft
