// Where the form goes on desktops built in other ways than the plain one: the icon view the shell moves
// into a top-level "WorkerW" window, a hidden icon view, and no icon view at all (the form stays top-level
// and must not cover the user's windows).
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "app/ProgramFixture.h"

namespace programtest {
namespace {

using plat::HWND;

class DesktopPlace : public ProgramFixture {
 protected:
  static constexpr plat::DWORD kShown = plat::WS_VISIBLE | plat::WS_CLIPCHILDREN | plat::WS_CLIPSIBLINGS;

  HWND Foreign(const char* cls, HWND parent, plat::DWORD style = kShown) {
    return windows().CreateForeignWindow(cls, "", (parent ? plat::WS_CHILD : plat::WS_POPUP) | style, 0, 0,
                                         screenWidth, screenHeight, parent);
  }
  // Windows 10 once a program asked for a wallpaper layer: an empty "Progman", the wallpaper's empty
  // "WorkerW" and the icon view in another "WorkerW". Returns the icon view.
  HWND SplitDesktop(const char* worker = "WorkerW", const char* defView = "SHELLDLL_DefView",
                    const char* listView = "SysListView32") {
    MakePlatform(Shell::None);
    Foreign("Progman", nullptr);
    HWND holder = Foreign(worker, nullptr);
    HWND view = Foreign(defView, holder);
    HWND list = Foreign(listView, view);
    Foreign("WorkerW", nullptr);  // created last: on top, searched first
    return list;
  }
  // Top-level windows, top of the z-order first.
  std::vector<HWND> ZOrder() {
    std::vector<HWND> out;
    plat::WindowSystem& ws = plat::Windows();
    for (HWND w = ws.GetWindow(ws.GetDesktopWindow(), plat::GW_CHILD); w;
         w = ws.GetWindow(w, plat::GW_HWNDNEXT))
      out.push_back(w);
    return out;
  }
  bool Above(HWND upper, HWND lower) {
    std::vector<HWND> z = ZOrder();
    auto u = std::find(z.begin(), z.end(), upper), l = std::find(z.begin(), z.end(), lower);
    return u != z.end() && l != z.end() && u < l;
  }
};

// ---- the icon view in a top-level WorkerW ----

TEST_F(DesktopPlace, SplitDesktopAttachesToTheIconViewInsideTheWorker) {
  HWND list = SplitDesktop();
  EXPECT_EQ(FindDesktopListView(), nullptr);
  Start();
  ASSERT_EQ(Frames(1), 1);
  EXPECT_EQ(Form1->ParentWindow(), list);
  EXPECT_EQ(plat::Windows().GetParent(Form1->Handle()), list);
  EXPECT_TRUE(plat::Windows().IsWindowVisible(Form1->Handle()));
}

TEST_F(DesktopPlace, PlainPathWinsWhenBothExist) {
  MakePlatform(Shell::Normal);
  HWND holder = Foreign("WorkerW", nullptr);
  Foreign("SysListView32", Foreign("SHELLDLL_DefView", holder));
  EXPECT_EQ(FindDesktopPlace(), desktop().listView);
}

TEST_F(DesktopPlace, LayoutWithTheWallpaperWorkerInsideProgmanTakesThePlainPath) {
  MakePlatform(Shell::None);
  HWND progman = Foreign("Progman", nullptr);
  HWND list = Foreign("SysListView32", Foreign("SHELLDLL_DefView", progman));
  Foreign("WorkerW", progman);  // created after the view: below it, as the shell builds it
  EXPECT_EQ(FindDesktopListView(), list);
  EXPECT_EQ(FindDesktopPlace(), list);
}

TEST_F(DesktopPlace, ContainerClassesMatchInAnyLetterCase) {
  HWND list = SplitDesktop("WORKERW", "shelldll_defview");
  EXPECT_EQ(FindWorkerListView(), list);
}

TEST_F(DesktopPlace, IconViewClassInOtherLetterCaseDoesNotMatch) {
  SplitDesktop("WorkerW", "SHELLDLL_DefView", "syslistview32");
  EXPECT_EQ(FindWorkerListView(), nullptr);
}

TEST_F(DesktopPlace, ViewsAreFoundBehindOtherChildren) {
  MakePlatform(Shell::None);
  HWND holder = Foreign("WorkerW", nullptr);
  HWND view = Foreign("SHELLDLL_DefView", holder);
  Foreign("Static", holder);
  HWND list = Foreign("SysListView32", view);
  Foreign("Static", view);
  EXPECT_EQ(FindWorkerListView(), list);
}

TEST_F(DesktopPlace, WorkerWithoutTheViewsIsNoPlace) {
  MakePlatform(Shell::None);
  Foreign("WorkerW", nullptr);
  Foreign("SHELLDLL_DefView", Foreign("WorkerW", nullptr));
  Foreign("SysListView32", Foreign("Static", Foreign("WorkerW", nullptr)));
  Foreign("SysListView32", Foreign("WorkerW", nullptr));
  EXPECT_EQ(FindWorkerListView(), nullptr);
  EXPECT_EQ(FindDesktopPlace(), nullptr);
}

TEST_F(DesktopPlace, WorkerInsideAnotherWindowIsNotSearched) {
  MakePlatform(Shell::None);
  HWND holder = Foreign("WorkerW", Foreign("Shell_TrayWnd", nullptr));
  Foreign("SysListView32", Foreign("SHELLDLL_DefView", holder));
  EXPECT_EQ(FindWorkerListView(), nullptr);
}

// ---- desktop icons switched off ----

TEST_F(DesktopPlace, HiddenIconViewGivesItsVisibleParent) {
  MakePlatform(Shell::Normal);
  plat::Windows().ShowWindow(desktop().listView, plat::SW_HIDE);
  Start();
  ASSERT_EQ(Frames(1), 1);
  EXPECT_EQ(Form1->ParentWindow(), desktop().defView);
  EXPECT_TRUE(plat::Windows().IsWindowVisible(Form1->Handle()));
  // The form lies over the icon view, so the icons stay covered if they are switched on again.
  EXPECT_EQ(plat::Windows().GetWindow(desktop().defView, plat::GW_CHILD), Form1->Handle());
  plat::RECT r{};
  plat::Windows().GetWindowRect(Form1->Handle(), &r);
  EXPECT_EQ(TRect::FromRECT(r), Rect(0, 0, 320, 200));
}

TEST_F(DesktopPlace, HiddenIconViewInTheWorkerGivesItsVisibleParent) {
  HWND list = SplitDesktop();
  plat::Windows().ShowWindow(list, plat::SW_HIDE);
  EXPECT_EQ(FindDesktopPlace(), plat::Windows().GetParent(list));
}

TEST_F(DesktopPlace, IconViewOfAHiddenDesktopIsKept) {
  MakePlatform(Shell::Normal);
  plat::Windows().ShowWindow(desktop().listView, plat::SW_HIDE);
  plat::Windows().ShowWindow(desktop().progman, plat::SW_HIDE);
  EXPECT_EQ(FindDesktopPlace(), desktop().listView);
}

// ---- no place: a top-level form below the user's windows ----

TEST_F(DesktopPlace, TopLevelFormStartsBelowTheWindowsAlreadyOpen) {
  MakePlatform(Shell::None);
  HWND editor = windows().CreateForeignWindow("Editor", "notes", plat::WS_OVERLAPPEDWINDOW | plat::WS_VISIBLE,
                                              10, 10, 100, 80, nullptr);
  Start();
  ASSERT_EQ(Frames(1), 1);
  EXPECT_EQ(Form1->ParentWindow(), nullptr);
  EXPECT_TRUE(plat::Windows().IsWindowVisible(Form1->Handle()));
  EXPECT_TRUE(Above(editor, Form1->Handle()));
  EXPECT_TRUE(Above(editor, Application->Handle()));
  EXPECT_TRUE(windows().TaskbarButtons().empty());
}

TEST_F(DesktopPlace, TopLevelFormStaysBelowWhenActivated) {
  MakePlatform(Shell::None);
  Start();
  ASSERT_EQ(Frames(1), 1);
  HWND editor = windows().CreateForeignWindow("Editor", "notes", plat::WS_OVERLAPPEDWINDOW | plat::WS_VISIBLE,
                                              10, 10, 100, 80, nullptr);
  // What a click on the snow, or its menu, does to the form and then to the application window.
  plat::Windows().SetForegroundWindow(Form1->Handle());
  EXPECT_EQ(plat::Windows().GetForegroundWindow(), Form1->Handle());
  plat::Windows().SetForegroundWindow(Application->Handle());
  Frames(1);
  EXPECT_TRUE(Above(editor, Form1->Handle()));
  EXPECT_TRUE(Above(editor, Application->Handle()));
}

TEST_F(DesktopPlace, AttachedFormLeavesTheTopLevelOrderAlone) {
  MakePlatform(Shell::Normal);
  HWND editor = windows().CreateForeignWindow("Editor", "notes", plat::WS_OVERLAPPEDWINDOW | plat::WS_VISIBLE,
                                              10, 10, 100, 80, nullptr);
  Start();
  Frames(1);
  plat::Windows().SetForegroundWindow(Application->Handle());
  EXPECT_TRUE(Above(Application->Handle(), editor));
}

}  // namespace
}  // namespace programtest
