#include <gtest/gtest.h>

#include "core/FormReader.h"
#include "core/PropTable.h"
#include "support/AppFixture.h"
#include "ui/Menus.h"

namespace {

class TSurfaceForm : public TForm {
  DS_CLASS_NAME(TSurfaceForm)
 public:
  explicit TSurfaceForm(TComponent* owner) : TForm(owner) {}
  TCustomControl* Surface = nullptr;
  TPopupMenu* Menu = nullptr;
};

const char* kSurfaceForm =
    "object SurfaceForm: TSurfaceForm\n"
    "  BorderStyle = bsNone\n"
    "  Caption = 'Kirno Desktop'\n"
    "  ClientHeight = 257\n"
    "  ClientWidth = 524\n"
    "  object Surface: TCustomControl\n"
    "    Left = 0\n"
    "    Top = 0\n"
    "    Width = 539\n"
    "    Height = 276\n"
    "    Anchors = [akLeft, akTop, akRight, akBottom]\n"
    "    PopupMenu = Menu\n"
    "  end\n"
    "  object Menu: TPopupMenu\n"
    "  end\n"
    "end\n";

class ControlsTest : public AppFixture {
 protected:
  ControlsTest() {
    RegisterClass<TSurfaceForm>(TForm::StaticClassName())
        .Field("Surface", &TSurfaceForm::Surface)
        .Field("Menu", &TSurfaceForm::Menu);
    RegisterFormText("TSurfaceForm", kSurfaceForm);
  }
  TSurfaceForm* NewForm() { return CreateForm<TSurfaceForm>(&app()); }
};

// --- anchors

TEST_F(ControlsTest, ControlAnchoredOnAllSidesKeepsItsMarginsWhenFormResizes) {
  TSurfaceForm* f = NewForm();
  ASSERT_NE(f->Surface, nullptr);
  EXPECT_EQ(f->ClientWidth(), 524);
  EXPECT_EQ(f->Surface->Width(), 539);
  f->SetTop(0);
  f->SetLeft(0);
  f->SetWidth(1280);
  f->SetHeight(720);
  EXPECT_EQ(f->Surface->Left(), 0);
  EXPECT_EQ(f->Surface->Top(), 0);
  EXPECT_EQ(f->Surface->Width(), 1280 + 15);
  EXPECT_EQ(f->Surface->Height(), 720 + 19);
  f->SetWidth(800);
  EXPECT_EQ(f->Surface->Width(), 815);
}

TEST_F(ControlsTest, RightAnchoredControlMovesAndLeftTopControlStays) {
  TForm* f = CreateForm<TForm>(&app());
  f->SetBounds(0, 0, 200, 100);
  auto* right = new TCustomControl(f);
  right->SetParent(f);
  right->SetBounds(150, 10, 30, 20);
  right->SetAnchors(akRight | akTop);
  auto* plain = new TCustomControl(f);
  plain->SetParent(f);
  plain->SetBounds(5, 5, 10, 10);
  f->SetWidth(300);
  EXPECT_EQ(right->Left(), 250);
  EXPECT_EQ(right->Width(), 30);
  EXPECT_EQ(plain->BoundsRect(), Bounds(5, 5, 10, 10));
}

TEST_F(ControlsTest, MovingControlByHandRecapturesItsMargins) {
  TForm* f = CreateForm<TForm>(&app());
  f->SetBounds(0, 0, 200, 100);
  auto* c = new TCustomControl(f);
  c->SetParent(f);
  c->SetAnchors(akLeft | akTop | akRight);
  c->SetBounds(0, 0, 200, 10);
  c->SetWidth(150);  // now 50 short of the right edge
  f->SetWidth(400);
  EXPECT_EQ(c->Width(), 350);
}

// --- the parent-window setter

TEST_F(ControlsTest, FormWithParentWindowIsCreatedAsChildWithoutPopupStyleAtClientOrigin) {
  auto shell = windows().CreateDesktopShell();
  TSurfaceForm* f = NewForm();
  f->SetBounds(0, 0, 640, 480);
  f->SetParentWindow(shell.listView);
  EXPECT_FALSE(f->HandleAllocated());  // invisible: created when needed
  plat::HWND h = f->Handle();
  auto style = static_cast<plat::DWORD>(windows().GetWindowLong(h, plat::GWL_STYLE));
  EXPECT_TRUE(style & plat::WS_CHILD);
  EXPECT_FALSE(style & plat::WS_POPUP);
  EXPECT_EQ(windows().GetParent(h), shell.listView);
  plat::POINT p{0, 0}, q{0, 0};
  windows().ClientToScreen(h, &p);
  windows().ClientToScreen(shell.listView, &q);
  EXPECT_EQ(p.x, q.x);
  EXPECT_EQ(p.y, q.y);
}

TEST_F(ControlsTest, SettingNullParentWindowOnFormWithoutOneChangesNothing) {
  TSurfaceForm* f = NewForm();
  plat::HWND h = f->Handle();
  f->SetParentWindow(nullptr);
  EXPECT_TRUE(windows().IsWindow(h));
  EXPECT_EQ(f->Handle(), h);
}

TEST_F(ControlsTest, ParentWindowOnExistingTopLevelWindowRecreatesIt) {
  auto shell = windows().CreateDesktopShell();
  TSurfaceForm* f = NewForm();
  plat::HWND old = f->Handle();
  f->SetParentWindow(shell.listView);
  EXPECT_FALSE(windows().IsWindow(old));
  EXPECT_EQ(windows().GetParent(f->Handle()), shell.listView);
}

TEST_F(ControlsTest, NewParentWindowMovesExistingChildWindowAndHidesKeyboardCues) {
  auto shell = windows().CreateDesktopShell();
  plat::HWND other = windows().CreateForeignWindow("Other", "", plat::WS_VISIBLE, 0, 0, 100, 100, nullptr);
  TSurfaceForm* f = NewForm();
  f->SetParentWindow(shell.listView);
  plat::HWND h = f->Handle();
  f->SetParentWindow(other);
  EXPECT_EQ(f->Handle(), h);
  EXPECT_EQ(windows().GetParent(h), other);
  EXPECT_EQ(windows().UiState(h) & (plat::UISF_HIDEFOCUS | plat::UISF_HIDEACCEL),
            plat::UISF_HIDEFOCUS | plat::UISF_HIDEACCEL);
}

TEST_F(ControlsTest, VisibleFormIsShownAgainUnderNewParentWindow) {
  auto shell = windows().CreateDesktopShell();
  TSurfaceForm* f = NewForm();
  f->Show();
  f->SetParentWindow(shell.listView);
  ASSERT_TRUE(f->HandleAllocated());
  EXPECT_TRUE(windows().IsWindowVisible(f->Handle()));
  EXPECT_EQ(windows().GetParent(f->Handle()), shell.listView);
}

// --- child windows, showing, painting, context menu

class TPaintProbe : public TCustomControl {
  DS_CLASS_NAME(TPaintProbe)
 public:
  explicit TPaintProbe(TComponent* owner) : TCustomControl(owner) {}
  int paints = 0;

 protected:
  void Paint() override { ++paints; }
};

TEST_F(ControlsTest, ChildControlWindowIsCreatedInsideShownFormAndPainted) {
  TForm* f = CreateForm<TForm>(&app());
  f->SetBounds(0, 0, 200, 100);
  auto* c = new TPaintProbe(f);
  c->SetParent(f);
  c->SetBounds(10, 10, 50, 50);
  EXPECT_FALSE(c->HandleAllocated());
  f->Show();
  ASSERT_TRUE(c->HandleAllocated());
  EXPECT_EQ(windows().GetParent(c->Handle()), f->Handle());
  auto style = static_cast<plat::DWORD>(windows().GetWindowLong(c->Handle(), plat::GWL_STYLE));
  EXPECT_TRUE(style & plat::WS_CHILD);
  c->Invalidate();
  app().ProcessMessages();
  EXPECT_GE(c->paints, 1);
}

TEST_F(ControlsTest, RightClickOpensPopupMenuAtMousePositionAndChoiceRunsOnClick) {
  TSurfaceForm* f = NewForm();
  f->SetBounds(30, 40, 600, 300);
  f->Show();
  auto* item = new TMenuItem(f);
  item->SetCaption("Exit");
  int clicks = 0;
  item->OnClick = [&](TObject* sender) {
    EXPECT_EQ(sender, item);
    ++clicks;
  };
  f->Menu->Items()->Add(item);
  app().ProcessMessages();
  windows().QueueMenuChoice(item->Command());
  windows().ClickRight(f->Surface->Handle(), 7, 9);
  app().ProcessMessages();
  ASSERT_EQ(windows().TrackedMenus().size(), 1u);
  EXPECT_EQ(windows().TrackedMenus()[0].x, 37);
  EXPECT_EQ(windows().TrackedMenus()[0].y, 49);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(f->Menu->PopupComponent(), f->Surface);
}

TEST_F(ControlsTest, DestroyedPopupMenuIsForgottenByControl) {
  TSurfaceForm* f = NewForm();
  delete f->Menu;
  EXPECT_EQ(f->Surface->PopupMenu(), nullptr);
}

// --- the object-level window procedure can be hooked

TEST_F(ControlsTest, WindowProcHookSeesMessagesAndPassesThemOn) {
  TForm* f = CreateForm<TForm>(&app());
  std::vector<plat::UINT> seen;
  TWndMethod previous = f->WindowProc;
  f->WindowProc = [&](TMessage& m) {
    seen.push_back(m.Msg);
    previous(m);
  };
  f->Show();
  plat::HWND h = f->Handle();
  delete f;
  EXPECT_NE(std::find(seen.begin(), seen.end(), plat::WM_WINDOWPOSCHANGED), seen.end());
  EXPECT_NE(std::find(seen.begin(), seen.end(), plat::WM_DESTROY), seen.end());
  EXPECT_FALSE(windows().IsWindow(h));
}

TEST_F(ControlsTest, ShowingFormSendsWindowPosChangedWithShowFlag) {
  TForm* f = CreateForm<TForm>(&app());
  f->HandleNeeded();
  bool shown = false;
  TWndMethod previous = f->WindowProc;
  f->WindowProc = [&](TMessage& m) {
    if (m.Msg == plat::WM_WINDOWPOSCHANGED &&
        (reinterpret_cast<plat::WINDOWPOS*>(m.LParam)->flags & plat::SWP_SHOWWINDOW))
      shown = true;
    previous(m);
  };
  f->Show();
  EXPECT_TRUE(shown);
  f->WindowProc = previous;  // the hook's captures end with this test body
}

}  // namespace
