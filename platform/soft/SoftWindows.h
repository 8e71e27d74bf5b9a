// The soft window manager: the in-memory window tree of platform/common/WindowTree.h as the virtual desktop,
// with recorded message boxes, scripted popup menus and the shell's windows. Tests drive it through the
// members below.
//
// Waiting: GetMessage and WaitMessage never block. With an empty queue they call the wait hook (a test's
// chance to post input or move the clock); if the queue is still empty they fail with last error
// WAIT_TIMEOUT (GetMessage returns -1, WaitMessage FALSE), or, with SetQuitWhenStarved(true), they post
// WM_QUIT so that a message loop ends.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/common/WindowTree.h"

namespace plat::soft {

struct SoftOptions;

class SoftWindowSystem : public WindowTree {
 public:
  explicit SoftWindowSystem(const SoftOptions& options);
  ~SoftWindowSystem() override;

  // ---- WindowSystem: waiting, message boxes, popup menus ----
  BOOL GetMessage(MSG* msg, HWND filter, UINT min, UINT max) override;
  BOOL WaitMessage() override;
  int MessageBox(HWND owner, const char* text, const char* caption, UINT type) override;
  BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, HWND owner) override;

  int ScreenBitCount() const { return screenBitCount_; }

  // ---- the shell's windows ----
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
  // Moves the cursor to the client point and posts the button-down and button-up pair there.
  void ClickRight(HWND hwnd, int x, int y);
  void ClickLeft(HWND hwnd, int x, int y);

  // ---- taskbar ----
  // The program's windows that show a taskbar button: visible top-level windows that are unowned and
  // lack WS_EX_TOOLWINDOW, or that have WS_EX_APPWINDOW. In z-order.
  std::vector<HWND> TaskbarButtons();
  bool HasTaskbarButton(HWND hwnd);

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
  struct TrackedMenu {
    HMENU menu;
    HWND owner;
    int x, y;
    UINT flags;
    std::vector<MenuItemSnapshot> items;  // depth-first, as shown when the menu opened
    UINT chosen;                          // 0: cancelled
  };
  const std::vector<TrackedMenu>& TrackedMenus() const { return trackedMenus_; }

 private:
  BOOL Starved();
  void PostClick(HWND hwnd, int x, int y, UINT down, UINT up, WPARAM keys);

  int screenBitCount_;

  std::function<void()> waitHook_;
  bool quitWhenStarved_ = false;
  int starvedWaits_ = 0;

  std::vector<MessageBoxCall> messageBoxes_;
  std::deque<int> boxAnswers_;
  bool echoBoxes_ = false;
  std::function<void(const MessageBoxCall&)> boxHook_;

  std::deque<UINT> menuChoices_;
  std::function<void()> menuHook_;
  std::vector<TrackedMenu> trackedMenus_;
};

}  // namespace plat::soft
