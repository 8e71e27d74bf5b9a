// The window manager's own semantics, kept in memory: window classes and windows in a tree under a
// screen-sized desktop window, window procedures, one message queue with paint messages made from update
// regions, DefWindowProc, and menus as data. A backend derives from it: the virtual desktop
// (soft/SoftWindows.h) scripts what the user does; a real desktop realises each window on its display through
// the hooks below and feeds the display's input into the queue.
//
// Foreign windows (CreateForeignWindow) stand for other programs' windows such as the shell's: they take part
// in lookups and the window tree, but get no WM_ACTIVATEAPP, no WM_PAINT from this program's queue, and
// messages posted to them are dropped.
//
// Painting: a dispatched WM_PAINT whose handler validated nothing counts as painted, so a careless handler
// cannot keep the queue busy for ever.
//
// Windows have no non-client area here: the client rectangle is the whole window (a real desktop's window
// manager draws its frame outside it).
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Windows.h"
#include "platform/common/HandleTable.h"

namespace plat::soft {

class WindowTree : public WindowSystem {
 public:
  WindowTree(int screenWidth, int screenHeight);
  ~WindowTree() override;
  WindowTree(const WindowTree&) = delete;
  WindowTree& operator=(const WindowTree&) = delete;

  // ---- WindowSystem (waiting, message boxes and popup menus are the backend's) ----
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
  BOOL TranslateMessage(const MSG* msg) override;
  LRESULT DispatchMessage(const MSG* msg) override;
  void PostQuitMessage(int exitCode) override;
  LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
  LRESULT CallWindowProc(WNDPROC proc, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;
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

  // ---- screen ----
  int ScreenWidth() const { return screenWidth_; }
  int ScreenHeight() const { return screenHeight_; }

  // ---- other programs' windows ----
  // A window of another program (its class is registered on first use with DefWindowProc).
  HWND CreateForeignWindow(const char* className, const char* title, DWORD style, int x, int y, int width,
                           int height, HWND parent);

  // ---- queue ----
  // Posted messages waiting (WM_QUIT and pending paints not counted).
  std::size_t QueuedMessageCount() const { return queue_.size(); }
  bool QuitPending() const { return quitPending_; }

  // ---- activation ----
  // The user switches to (true) or away from (false) this program: every top-level window of the program
  // receives WM_ACTIVATEAPP, when the state changes. The program starts inactive.
  void ActivateApp(bool active);
  bool AppActive() const { return appActive_; }

  // ---- keyboard-cue state (WM_UPDATEUISTATE) ----
  WORD UiState(HWND hwnd);

  // ---- device contexts: GetDC / BeginPaint take them from this source, else from the installed GDI
  // service, else hand out an opaque per-window token ----
  void SetDeviceContextSource(std::function<HDC(HWND)> get, std::function<void(HWND, HDC)> release);

  // ---- menus as data ----
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
  // Depth-first snapshot of a menu's items now.
  std::vector<MenuItemSnapshot> SnapshotMenu(HMENU menu);

 protected:
  struct WindowClass {
    std::string name;  // as registered
    WNDCLASS wc{};
    ATOM atom = 0;
    int windows = 0;  // live windows of the class
  };

  struct Window {
    std::uintptr_t id = 0;
    WindowClass* cls = nullptr;
    std::string text;
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, width = 0, height = 0;
    Window* parent = nullptr;  // the desktop for top-level windows; null only for the desktop itself
    Window* owner = nullptr;
    std::vector<Window*> children;  // z-order: front is the top
    WNDPROC proc = nullptr;         // null: DefWindowProc (windows of other programs)
    LONG_PTR userData = 0;
    LONG_PTR controlId = 0;
    LONG_PTR instance = 0;
    std::vector<unsigned char> extra;
    std::map<std::string, HANDLE> props;
    bool foreign = false;
    bool destroying = false;
    bool dead = false;  // destroyed; the object stays so stale pointers and handles stay harmless
    bool invalid = false;
    bool erase = false;
    RECT update{0, 0, 0, 0};
    unsigned validations = 0;  // BeginPaint / ValidateRect calls, to see whether a paint handler validated
    WORD uiState = 0;
    std::uintptr_t native = 0;  // the backend's own object for the window (a real desktop's window id)
    bool nativeShown = false;   // the backend shows it on the display
  };

  struct Menu;
  struct MenuItem {
    UINT type = MFT_STRING;
    UINT state = 0;
    UINT id = 0;
    Menu* sub = nullptr;
    std::string text;
    ULONG_PTR data = 0;
  };

  struct Menu {
    std::uintptr_t id = 0;
    bool popup = false;
    bool dead = false;
    std::vector<MenuItem> items;
  };

  // ---- hooks for a backend that shows the windows (each runs after the tree changed) ----
  // A window joined the tree (before WM_NCCREATE); also foreign ones.
  virtual void WindowCreated(Window*) {}
  // A window left the tree for good (its handle is invalid from now on).
  virtual void WindowDestroyed(Window*) {}
  // WS_VISIBLE was set or cleared.
  virtual void WindowShown(Window*) {}
  // Position, size or place among its siblings changed.
  virtual void WindowPlaced(Window*, bool /*moved*/, bool /*sized*/, bool /*reordered*/) {}
  // The window moved under another parent.
  virtual void WindowReparented(Window*) {}
  // GWL_STYLE or GWL_EXSTYLE changed (index says which), or the owner.
  virtual void WindowRestyled(Window*, int) {}
  // The window's text changed.
  virtual void WindowRetitled(Window*) {}
  // PeekMessage is about to look at the queue: take in what the system has for it, without waiting.
  virtual void CollectInput() {}

  // ---- for backends ----
  Window* Find(HWND hwnd);
  Window* Require(HWND hwnd);  // sets ERROR_INVALID_WINDOW_HANDLE when null
  HWND HandleOf(const Window* w) const;
  Window* Desktop() const { return desktop_; }
  Window* TopLevelOf(Window* w);
  bool IsDescendantOrSelf(Window* w, Window* ancestor);
  POINT ScreenOrigin(Window* w);
  std::vector<Window*> LiveWindows();
  LRESULT Send(Window* w, UINT message, WPARAM wParam, LPARAM lParam);
  void Invalidate(Window* w, const RECT* rect, bool erase);
  // The display moved or resized a window on its own: the tree follows and tells the window.
  void PlaceFromOutside(Window* w, int x, int y, int width, int height);
  // The display took a window away from its parent (another program's window ended): the window becomes a
  // top-level window keeping its screen position.
  void DetachFromParent(Window* w);
  // Destroys a foreign window's record (another program's window ended).
  void ForgetForeign(Window* w);
  void SetLastError(DWORD code);
  DWORD MessageTime();
  Menu* FindMenu(HMENU menu);
  Menu* RequireMenu(HMENU menu);
  HMENU MenuHandle(const Menu* m) const;
  // The modal menu loop as Windows runs it, around the backend's own showing of the menu: WM_ENTERMENULOOP,
  // WM_INITMENU and WM_INITMENUPOPUP to the owner (unless TPM_NONOTIFY), then `show` (the user's choice, 0
  // for none), WM_EXITMENULOOP, and the command: returned with TPM_RETURNCMD, else posted as WM_COMMAND. A
  // choice counts only while an enabled item still has it (the handlers may have rebuilt the menu); *chosen
  // receives the command that counted.
  BOOL RunMenuLoop(HMENU menu, UINT flags, HWND owner, const std::function<UINT(Menu*, Window*, bool)>& show,
                   UINT* chosen = nullptr);
  // The enabled item path to a command, from the top menu down ({menu, position} per level).
  bool FindCommandPath(Menu* m, UINT id, std::vector<std::pair<Menu*, int>>* path, int depth);
  void Snapshot(Menu* m, int depth, std::vector<MenuItemSnapshot>* out);

  POINT cursor_{0, 0};
  bool inMenuLoop_ = false;

 private:
  HWND Create(DWORD exStyle, const char* className, const char* title, DWORD style, int x, int y, int width,
              int height, HWND parentOrOwner, HMENU menu, void* createParam, bool foreign);
  WindowClass* FindClass(const char* name);
  void Unlink(Window* w);
  void DestroyTree(Window* w);
  bool Matches(const MSG& m, HWND filter, UINT min, UINT max);
  Window* FindPaintable(HWND filter);
  void SetVisible(Window* w, bool visible);
  void ChangeStyle(Window* w, int index, DWORD value);

  // Locates an item by position or by command (searching submenus); sets *owner to the containing menu.
  MenuItem* LocateItem(Menu* menu, UINT item, UINT flags, Menu** owner, int* position);
  MenuItem* LocateIn(Menu* menu, UINT id, Menu** owner, int* position, int depth);
  // The item a MENUITEMINFO call names (*menuOut: the menu it was asked of); null, with the error set, when
  // the menu, the info or the item is missing.
  MenuItem* ItemForInfo(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFO* info, Menu** menuOut);
  BOOL AddItem(Menu* menu, int position, UINT flags, UINT_PTR idOrSubmenu, const char* text);
  bool Reaches(Menu* from, Menu* target, int depth);
  void DestroyMenuTree(Menu* m);

  int screenWidth_;
  int screenHeight_;

  std::map<std::string, std::unique_ptr<WindowClass>> classes_;  // key: lower-case name
  std::vector<std::unique_ptr<WindowClass>> retiredClasses_;
  ATOM nextAtom_ = 0xC000;
  HandleTable<Window, HWND> windows_{0x10000};
  Window* desktop_ = nullptr;

  HandleTable<Menu, HMENU> menus_{0x20000};

  std::deque<MSG> queue_;
  bool quitPending_ = false;
  int quitCode_ = 0;

  HWND focus_ = nullptr;
  HWND foreground_ = nullptr;
  HWND capture_ = nullptr;
  bool appActive_ = false;

  std::function<HDC(HWND)> getDc_;
  std::function<void(HWND, HDC)> releaseDc_;
};

}  // namespace plat::soft
