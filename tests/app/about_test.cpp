// The About dialog inside the running program: frames go on behind it, the program's windows wait for it,
// and dismissing it returns from the menu command.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "app/ProgramFixture.h"
#include "ui/Dialogs.h"
#include "ui/StdCtrls.h"

using namespace programtest;

namespace {

class AboutDialog : public ProgramFixture {
 protected:
  ~AboutDialog() override { SetModalLoopHook(std::move(oldHook_)); }

  // Runs Fn before every pass of the dialog's loop, letting 1 ms pass each time as a busy loop would; a
  // dialog still open after many passes fails the test instead of hanging it.
  void WhileOpen(std::function<void(TModalForm&, int)> Fn) {
    oldHook_ = SetModalLoopHook([this, Fn](TModalForm& f, int pass) {
      ++passes;
      if (pass >= 20000) {
        ADD_FAILURE() << "About dialog still open";
        f.SetModalResult(mrCancel);
        return;
      }
      clock().AdvanceMilliseconds(1);
      Fn(f, pass);
    });
  }

  int passes = 0;

 private:
  TModalLoopHook oldHook_;
};

TEST_F(AboutDialog, FramesGoOnWhileItIsOpen) {
  Start();
  Frames(1);
  std::int64_t frames = 0;
  TDXTimerEvent previous = CountFrames(frames);
  std::int64_t atOpen = -1;
  double yAtOpen = 0, yAtClose = 0;
  WhileOpen([&](TModalForm& f, int pass) {
    if (pass == 0) {
      atOpen = frames;
      yAtOpen = Flakes[0].Y;
    }
    if (frames == atOpen + 10) {
      yAtClose = Flakes[0].Y;
      windows().ClickLeft(static_cast<TMessageForm&>(f).OkButton()->Handle(), 10, 10);
    }
  });
  Choose(Form1->About1);
  Form1->DXTimer2->OnTimer = previous;
  ASSERT_GE(atOpen, 0) << "no dialog";
  EXPECT_EQ(frames - atOpen, 10);
  EXPECT_NE(yAtClose, yAtOpen) << "the flakes moved behind the dialog";
}

TEST_F(AboutDialog, IsCaptionedWithTheTitleHasTheThreeLinesNoIconAndOneOkButton) {
  Start();
  Frames(1);
  TMessageForm* seen = nullptr;
  std::string caption, text, button;
  int controls = 0, buttons = 0;
  WhileOpen([&](TModalForm& f, int pass) {
    if (pass != 0) return;
    seen = dynamic_cast<TMessageForm*>(&f);
    if (!seen) return;
    caption = seen->Caption();
    text = seen->Text();
    controls = seen->ControlCount();
    for (int i = 0; i < controls; ++i)
      if (auto* b = dynamic_cast<TButton*>(seen->Controls(i))) {
        ++buttons;
        button = b->Caption();
      }
    plat::Windows().PostMessage(f.Handle(), plat::WM_KEYDOWN, VK_RETURN, 0);
  });
  Choose(Form1->About1);
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(caption, "Kirno Desktop Snow");
  EXPECT_EQ(text, SAboutText);
  EXPECT_EQ(controls, 2) << "the text and the button: no icon";
  EXPECT_EQ(buttons, 1);
  EXPECT_EQ(button, "OK");
  EXPECT_TRUE(windows().MessageBoxes().empty()) << "not a platform message box";
}

TEST_F(AboutDialog, DismissingReturnsFromTheCommandAndFreesTheDialog) {
  Start();
  Frames(1);
  plat::HWND dialog = nullptr;
  bool appWindowOff = false;
  WhileOpen([&](TModalForm& f, int pass) {
    if (pass != 3) return;
    dialog = f.Handle();
    appWindowOff = !plat::Windows().IsWindowEnabled(Application->Handle());
    plat::Windows().PostMessage(f.Handle(), plat::WM_CLOSE, 0, 0);
  });
  Choose(Form1->About1);
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(appWindowOff);
  EXPECT_TRUE(plat::Windows().IsWindowEnabled(Application->Handle()));
  EXPECT_FALSE(plat::Windows().IsWindow(dialog));
  EXPECT_FALSE(Application->Terminated());
  EXPECT_EQ(Frames(3), 3) << "the program runs on";
}

TEST_F(AboutDialog, ExitChosenWhileItIsOpenEndsTheDialogAndTheProgram) {
  Start();
  Frames(1);
  WhileOpen([&](TModalForm&, int pass) {
    if (pass != 2) return;
    windows().QueueMenuChoice(Form1->Exit1->Command());
    windows().ClickRight(Form1->DXDraw1->Handle(), 20, 20);
  });
  Choose(Form1->About1);
  EXPECT_TRUE(Application->Terminated());
  EXPECT_EQ(Frames(10), 0);
}

}  // namespace
