// The soft popup menus: scripted tracking, the record of what was shown, and refusal of malformed trees. The
// menu model every backend shares is in window_contract_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/System.h"
#include "platform/Windows.h"
#include "platform/common/SoftClock.h"
#include "platform/soft/SoftPlatform.h"
#include "platform/soft/SoftWindows.h"

using namespace plat;

namespace {

struct Seen {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  std::size_t queuedAtTheTime;
};
std::vector<Seen>* g_log = nullptr;

LRESULT OwnerProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  if (g_log && m >= WM_COMMAND && m != WM_PAINT)
    g_log->push_back({m, w, l, static_cast<soft::SoftWindowSystem&>(Windows()).QueuedMessageCount()});
  return Windows().DefWindowProc(h, m, w, l);
}

constexpr UINT kVeryFew = 101, kFew = 102, kMedium = 103, kWind = 110, kAbout = 111, kExit = 112;

class MenuTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_log = &log_;
    WNDCLASS wc{};
    wc.lpfnWndProc = OwnerProc;
    wc.lpszClassName = "MenuOwner";
    ws().RegisterClass(wc);
    owner_ = ws().CreateWindowEx(0, "MenuOwner", "", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr);
    // The program's context menu: a density submenu, the wind switch, a separator, About and Exit.
    density_ = ws().CreatePopupMenu();
    ws().AppendMenu(density_, MF_STRING, kVeryFew, "Very few");
    ws().AppendMenu(density_, MF_STRING, kFew, "Few");
    ws().AppendMenu(density_, MF_STRING | MF_CHECKED, kMedium, "Medium");
    menu_ = ws().CreatePopupMenu();
    ws().AppendMenu(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(density_), "Snowflakes");
    ws().AppendMenu(menu_, MF_STRING | MF_CHECKED, kWind, "Wind");
    ws().AppendMenu(menu_, MF_SEPARATOR, 0, nullptr);
    ws().AppendMenu(menu_, MF_STRING, kAbout, "About");
    ws().AppendMenu(menu_, MF_STRING, kExit, "Exit");
    MSG m;
    while (ws().PeekMessage(&m, nullptr, 0, 0, PM_REMOVE)) ws().DispatchMessage(&m);
    log_.clear();
  }
  void TearDown() override { g_log = nullptr; }

  soft::SoftWindowSystem& ws() { return platform_.windows(); }
  std::vector<UINT> Messages() {
    std::vector<UINT> out;
    for (const Seen& s : log_) out.push_back(s.message);
    return out;
  }

  soft::SoftPlatform platform_;
  std::vector<Seen> log_;
  HWND owner_ = nullptr;
  HMENU menu_ = nullptr;
  HMENU density_ = nullptr;
};

// ---- tracking ----

TEST_F(MenuTest, ChosenCommandIsPostedAfterTheMenuHasClosed) {
  ws().QueueMenuChoice(kAbout);
  EXPECT_TRUE(ws().TrackPopupMenu(menu_, TPM_RIGHTBUTTON, 5, 6, owner_));
  const std::vector<UINT> expected{WM_INITMENU, WM_INITMENUPOPUP, WM_ENTERMENULOOP, WM_EXITMENULOOP};
  std::vector<UINT> got = Messages();
  std::sort(got.begin(), got.end());
  EXPECT_EQ(expected, got);
  EXPECT_EQ(WM_ENTERMENULOOP, log_.front().message);
  EXPECT_EQ(WM_EXITMENULOOP, log_.back().message);
  EXPECT_EQ(0u, log_.back().queuedAtTheTime);  // nothing posted while the menu was open
  MSG m;
  ASSERT_TRUE(ws().PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(owner_, m.hwnd);
  EXPECT_EQ(WM_COMMAND, m.message);
  EXPECT_EQ(kAbout, LOWORD(m.wParam));
  EXPECT_EQ(0, HIWORD(m.wParam));
  EXPECT_EQ(kAbout, ws().TrackedMenus().back().chosen);
}

TEST_F(MenuTest, MenuWithoutScriptedChoiceIsCancelled) {
  ws().TrackPopupMenu(menu_, 0, 0, 0, owner_);
  EXPECT_EQ(0u, ws().QueuedMessageCount());
}

TEST_F(MenuTest, ChoosingInASubmenuInitialisesThatSubmenu) {
  ws().QueueMenuChoice(kFew);
  ws().TrackPopupMenu(menu_, 0, 0, 0, owner_);
  std::vector<WPARAM> popups;
  for (const Seen& s : log_) {
    if (s.message == WM_INITMENUPOPUP) popups.push_back(s.wParam);
  }
  const std::vector<WPARAM> expected{reinterpret_cast<WPARAM>(menu_), reinterpret_cast<WPARAM>(density_)};
  EXPECT_EQ(expected, popups);
  MSG m;
  ASSERT_TRUE(ws().PeekMessage(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(kFew, LOWORD(m.wParam));
}

TEST_F(MenuTest, GrayedItemCannotBeChosen) {
  ws().EnableMenuItem(menu_, kAbout, MF_BYCOMMAND | MF_GRAYED);
  ws().QueueMenuChoice(kAbout);
  ws().TrackPopupMenu(menu_, 0, 0, 0, owner_);
  EXPECT_EQ(0u, ws().QueuedMessageCount());
  ws().QueueMenuChoice(0xBEEF);  // no such command
  ws().TrackPopupMenu(menu_, 0, 0, 0, owner_);
  EXPECT_EQ(0u, ws().QueuedMessageCount());
}

TEST_F(MenuTest, HookRunsWhileTheMenuIsOpen) {
  bool open = false;
  DWORD before = 0;
  ws().SetMenuOpenHook([&] {
    open = ws().InMenuLoop();
    before = platform_.clock().timeGetTime();
    platform_.clock().AdvanceMilliseconds(500);
  });
  ws().QueueMenuChoice(kWind);
  ws().TrackPopupMenu(menu_, 0, 0, 0, owner_);
  EXPECT_TRUE(open);
  EXPECT_FALSE(ws().InMenuLoop());
  EXPECT_EQ(before + 500, platform_.clock().timeGetTime());
}

TEST_F(MenuTest, TrackingIsRecordedWithTheItemsAsShown) {
  ws().CheckMenuRadioItem(density_, kVeryFew, kMedium, kMedium, MF_BYCOMMAND);
  ws().TrackPopupMenu(menu_, 0, 30, 40, owner_);
  const auto& t = ws().TrackedMenus().back();
  EXPECT_EQ(30, t.x);
  EXPECT_EQ(40, t.y);
  ASSERT_EQ(8u, t.items.size());
  EXPECT_EQ("Snowflakes", t.items[0].caption);
  EXPECT_TRUE(t.items[0].popup);
  EXPECT_EQ(1, t.items[1].depth);
  EXPECT_EQ("Medium", t.items[3].caption);
  EXPECT_TRUE(t.items[3].checked);
  EXPECT_TRUE(t.items[3].radio);
  EXPECT_EQ("Wind", t.items[4].caption);
  EXPECT_TRUE(t.items[4].checked);
  EXPECT_FALSE(t.items[4].radio);
  EXPECT_TRUE(t.items[5].separator);
}

TEST_F(MenuTest, TrackingWithBadOwnerOrMenuFails) {
  EXPECT_FALSE(ws().TrackPopupMenu(menu_, 0, 0, 0, nullptr));
  EXPECT_EQ(ERROR_INVALID_WINDOW_HANDLE, Sys().GetLastError());
  HMENU gone = ws().CreatePopupMenu();
  ws().DestroyMenu(gone);
  EXPECT_FALSE(ws().TrackPopupMenu(gone, 0, 0, 0, owner_));
  EXPECT_EQ(ERROR_INVALID_MENU_HANDLE, Sys().GetLastError());
  EXPECT_TRUE(ws().TrackedMenus().empty());
}

// ---- check marks ----

TEST_F(MenuTest, RadioCheckByPositionStaysInsideTheRange) {
  ASSERT_TRUE(ws().CheckMenuRadioItem(density_, 0, 1, 0, MF_BYPOSITION));
  EXPECT_TRUE(ws().GetMenuState(density_, 0, MF_BYPOSITION) & MF_CHECKED);
  EXPECT_TRUE(ws().GetMenuState(density_, 2, MF_BYPOSITION) & MF_CHECKED);  // "Medium" is past the range
  EXPECT_FALSE(ws().CheckMenuRadioItem(density_, 0, 7, 0, MF_BYPOSITION));
}

// ---- structure ----

TEST_F(MenuTest, MenuCannotBecomeItsOwnSubmenu) {
  EXPECT_FALSE(ws().AppendMenu(density_, MF_POPUP, reinterpret_cast<UINT_PTR>(menu_), "loop"));
  EXPECT_FALSE(ws().AppendMenu(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(menu_), "self"));
  EXPECT_EQ(3, ws().GetMenuItemCount(density_));
}

TEST_F(MenuTest, ForgedMenuHandlesAreRefused) {
  HMENU bad = reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(0xBAD));
  char buf[4];
  EXPECT_FALSE(ws().AppendMenu(bad, MF_STRING, 1, "x"));
  EXPECT_FALSE(ws().AppendMenu(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(bad), "x"));
  EXPECT_EQ(static_cast<DWORD>(-1), ws().CheckMenuItem(bad, 1, MF_BYCOMMAND));
  EXPECT_EQ(static_cast<UINT>(-1), ws().GetMenuState(bad, 0, MF_BYPOSITION));
  EXPECT_EQ(0, ws().GetMenuString(bad, 0, buf, sizeof buf, MF_BYPOSITION));
  EXPECT_EQ(nullptr, ws().GetSubMenu(menu_, 99));
  EXPECT_FALSE(ws().DestroyMenu(bad));
  EXPECT_EQ(ERROR_INVALID_MENU_HANDLE, Sys().GetLastError());
}

TEST_F(MenuTest, ItemInfoCallsNameWhatWasMissingAndChangeNothing) {
  MENUITEMINFO mi{};
  mi.cbSize = sizeof mi;
  mi.fMask = MIIM_STATE;
  mi.fState = MFS_GRAYED;
  HMENU bad = reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(0xBAD));
  EXPECT_FALSE(ws().SetMenuItemInfo(bad, kWind, 0, &mi));
  EXPECT_EQ(ERROR_INVALID_MENU_HANDLE, Sys().GetLastError());
  EXPECT_FALSE(ws().GetMenuItemInfo(menu_, kWind, 0, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, Sys().GetLastError());
  EXPECT_FALSE(ws().SetMenuItemInfo(menu_, 0xBEEF, 0, &mi));
  EXPECT_EQ(ERROR_MENU_ITEM_NOT_FOUND, Sys().GetLastError());
  EXPECT_FALSE(ws().GetMenuItemInfo(menu_, 9, 1, &mi));
  EXPECT_EQ(ERROR_MENU_ITEM_NOT_FOUND, Sys().GetLastError());
  EXPECT_EQ(static_cast<UINT>(MF_CHECKED), ws().GetMenuState(menu_, kWind, MF_BYCOMMAND));
  // Found in the submenu by command, as the other menu calls do.
  ASSERT_TRUE(ws().SetMenuItemInfo(menu_, kFew, 0, &mi));
  EXPECT_TRUE(ws().GetMenuState(density_, kFew, MF_BYCOMMAND) & MF_GRAYED);
}

}  // namespace
