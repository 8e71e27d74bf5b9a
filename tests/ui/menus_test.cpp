#include <gtest/gtest.h>

#include "core/FormReader.h"
#include "core/PropTable.h"
#include "support/AppFixture.h"
#include "ui/Menus.h"

namespace {

class TMenuForm : public TForm {
  DS_CLASS_NAME(TMenuForm)
 public:
  explicit TMenuForm(TComponent* owner) : TForm(owner) {}
  void Few1Click(TObject*) {
    clicks.push_back("Few");
    Few1->SetChecked(true);
  }
  void Wind1Click(TObject*) {
    clicks.push_back("Wind");
    Wind1->SetChecked(!Wind1->Checked());
  }
  TPopupMenu* PopupMenu1 = nullptr;
  TMenuItem *Snowflakes1 = nullptr, *Veryfew1 = nullptr, *Few1 = nullptr, *Medium1 = nullptr,
            *Wind1 = nullptr;
  std::vector<std::string> clicks;
};

const char* kMenuForm =
    "object MenuForm: TMenuForm\n"
    "  object PopupMenu1: TPopupMenu\n"
    "    object Snowflakes1: TMenuItem\n"
    "      Caption = 'Snowflakes'\n"
    "      object Veryfew1: TMenuItem\n"
    "        Caption = 'Very few'\n"
    "        GroupIndex = 1\n"
    "        RadioItem = True\n"
    "      end\n"
    "      object Few1: TMenuItem\n"
    "        Caption = 'Few'\n"
    "        GroupIndex = 1\n"
    "        RadioItem = True\n"
    "        OnClick = Few1Click\n"
    "      end\n"
    "      object Medium1: TMenuItem\n"
    "        Caption = 'Medium'\n"
    "        Checked = True\n"
    "        GroupIndex = 1\n"
    "        RadioItem = True\n"
    "      end\n"
    "    end\n"
    "    object Wind1: TMenuItem\n"
    "      Caption = 'Wind'\n"
    "      Checked = True\n"
    "      OnClick = Wind1Click\n"
    "    end\n"
    "    object N1: TMenuItem\n"
    "      Caption = '-'\n"
    "    end\n"
    "  end\n"
    "end\n";

class MenusTest : public AppFixture {
 protected:
  MenusTest() {
    RegisterClass<TMenuForm>(TForm::StaticClassName())
        .Method("Few1Click", &TMenuForm::Few1Click)
        .Method("Wind1Click", &TMenuForm::Wind1Click)
        .Field("PopupMenu1", &TMenuForm::PopupMenu1)
        .Field("Snowflakes1", &TMenuForm::Snowflakes1)
        .Field("Veryfew1", &TMenuForm::Veryfew1)
        .Field("Few1", &TMenuForm::Few1)
        .Field("Medium1", &TMenuForm::Medium1)
        .Field("Wind1", &TMenuForm::Wind1);
    RegisterFormText("TMenuForm", kMenuForm);
    form = CreateForm<TMenuForm>(&app());
  }
  plat::UINT NativeState(TMenuItem* item) {
    return windows().GetMenuState(item->Parent()->Handle(), item->Command(), plat::MF_BYCOMMAND);
  }
  // Opens the menu, chooses the item, and dispatches the resulting command.
  void Choose(TMenuItem* item) {
    windows().QueueMenuChoice(item->Command());
    form->PopupMenu1->Popup(5, 5);
    app().ProcessMessages();
  }
  TMenuForm* form;
};

TEST_F(MenusTest, StoredTreeHasSubmenuSeparatorAndCheckedItems) {
  ASSERT_EQ(form->PopupMenu1->Items()->Count(), 3);
  EXPECT_EQ(form->Snowflakes1->Count(), 3);
  EXPECT_EQ(form->Few1->Parent(), form->Snowflakes1);
  EXPECT_TRUE(form->PopupMenu1->Items()->Items(2)->IsLine());
  EXPECT_TRUE(form->Medium1->Checked());
  EXPECT_TRUE(form->Wind1->Checked());
  EXPECT_FALSE(form->Few1->Checked());
}

TEST_F(MenusTest, CheckingRadioItemUnchecksOthersOfItsGroupUnderSameParent) {
  form->Few1->SetChecked(true);
  EXPECT_TRUE(form->Few1->Checked());
  EXPECT_FALSE(form->Medium1->Checked());
  EXPECT_FALSE(form->Veryfew1->Checked());
  EXPECT_TRUE(form->Wind1->Checked());  // another parent and group
}

TEST_F(MenusTest, RadioItemsOfOtherGroupsStayChecked) {
  form->Veryfew1->SetGroupIndex(2);
  form->Veryfew1->SetChecked(true);
  form->Few1->SetChecked(true);
  EXPECT_TRUE(form->Veryfew1->Checked());
  EXPECT_FALSE(form->Medium1->Checked());
}

TEST_F(MenusTest, NativeCheckMarksFollowCheckedAndRadioMarkIsRadioType) {
  form->PopupMenu1->Handle();
  EXPECT_TRUE(NativeState(form->Medium1) & plat::MF_CHECKED);
  form->Few1->SetChecked(true);
  EXPECT_TRUE(NativeState(form->Few1) & plat::MF_CHECKED);
  EXPECT_FALSE(NativeState(form->Medium1) & plat::MF_CHECKED);
  plat::MENUITEMINFO mi{};
  mi.cbSize = sizeof mi;
  mi.fMask = plat::MIIM_FTYPE;
  windows().GetMenuItemInfo(form->Snowflakes1->Handle(), form->Few1->Command(), 0, &mi);
  EXPECT_TRUE(mi.fType & plat::MFT_RADIOCHECK);
  windows().GetMenuItemInfo(form->PopupMenu1->Handle(), form->Wind1->Command(), 0, &mi);
  EXPECT_FALSE(mi.fType & plat::MFT_RADIOCHECK);
}

TEST_F(MenusTest, SettingSameValueChangesNothingNatively) {
  form->PopupMenu1->Handle();
  // Clear the native mark behind the item's back: an unchanged value must not touch it.
  windows().CheckMenuItem(form->Snowflakes1->Handle(), form->Medium1->Command(), plat::MF_UNCHECKED);
  form->Medium1->SetChecked(true);
  EXPECT_FALSE(NativeState(form->Medium1) & plat::MF_CHECKED);
}

TEST_F(MenusTest, ChosenItemRunsItsHandlerAndItemsDoNotToggleThemselves) {
  Choose(form->Few1);
  EXPECT_EQ(form->clicks, (std::vector<std::string>{"Few"}));
  EXPECT_TRUE(form->Few1->Checked());
  EXPECT_FALSE(form->Medium1->Checked());
  form->Veryfew1->OnClick = nullptr;
  Choose(form->Veryfew1);
  EXPECT_FALSE(form->Veryfew1->Checked());  // no handler, no change
}

TEST_F(MenusTest, WindItemToggledTwiceByItsHandlerEndsChecked) {
  Choose(form->Wind1);
  EXPECT_FALSE(form->Wind1->Checked());
  Choose(form->Wind1);
  EXPECT_TRUE(form->Wind1->Checked());
  EXPECT_EQ(form->clicks.size(), 2u);
}

TEST_F(MenusTest, CancelledMenuRunsNoHandler) {
  windows().QueueMenuCancel();
  form->PopupMenu1->Popup(5, 5);
  app().ProcessMessages();
  EXPECT_TRUE(form->clicks.empty());
}

TEST_F(MenusTest, TrackedMenuShowsCaptionsMarksAndSeparator) {
  windows().QueueMenuCancel();
  form->PopupMenu1->Popup(5, 5);
  ASSERT_EQ(windows().TrackedMenus().size(), 1u);
  const auto& items = windows().TrackedMenus()[0].items;
  ASSERT_EQ(items.size(), 6u);
  EXPECT_EQ(items[0].caption, "Snowflakes");
  EXPECT_EQ(items[3].caption, "Medium");
  EXPECT_TRUE(items[3].checked);
  EXPECT_TRUE(items[3].radio);
  EXPECT_EQ(items[4].caption, "Wind");
  EXPECT_TRUE(items[4].checked);
  EXPECT_TRUE(items[5].separator);
}

TEST_F(MenusTest, CaptionChangeAfterBuildIsShownNextTime) {
  form->PopupMenu1->Handle();
  form->Wind1->SetCaption("Breeze");
  windows().QueueMenuCancel();
  form->PopupMenu1->Popup(5, 5);
  EXPECT_EQ(windows().TrackedMenus().back().items[4].caption, "Breeze");
}

TEST_F(MenusTest, DestroyedItemLeavesItsParent) {
  delete form->Veryfew1;
  EXPECT_EQ(form->Snowflakes1->Count(), 2);
  EXPECT_EQ(form->Snowflakes1->Items(0), form->Few1);
}

}  // namespace
