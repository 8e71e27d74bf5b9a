// The message dialog and the modal loop on the soft platform: a hook posts the user's input at a chosen
// pass of the loop, the way a user would act while the dialog is up.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "support/AppFixture.h"
#include "ui/Dialogs.h"
#include "ui/StdCtrls.h"

namespace {

constexpr int kGiveUpPass = 5000;

// Installs a loop hook for one test; a dialog still open after kGiveUpPass passes fails instead of hanging.
class ScopedLoopHook {
 public:
  explicit ScopedLoopHook(std::function<void(TModalForm&, int)> fn)
      : old_(SetModalLoopHook([fn](TModalForm& f, int pass) {
          if (pass >= kGiveUpPass) {
            ADD_FAILURE() << "modal loop still running";
            f.SetModalResult(mrCancel + 100);
            return;
          }
          fn(f, pass);
        })) {}
  ~ScopedLoopHook() { SetModalLoopHook(std::move(old_)); }

 private:
  TModalLoopHook old_;
};

class MessageDialogTest : public AppFixture {
 protected:
  MessageDialogTest() {
    app().SetTitle("Kirno Desktop Snow");
    // Like an armed frame timer: the loop keeps polling, so an empty queue does not end the dialog.
    app().OnIdle = [](TObject*, bool& done) { done = false; };
  }
  ~MessageDialogTest() override {
    app().OnIdle = nullptr;
    if (dialog_) FreeComponent(dialog_);
  }
  TMessageForm& Make(const std::string& text) {
    dialog_ = CreateMessageDialog(text);
    return *dialog_;
  }
  TMessageForm* dialog_ = nullptr;
};

// ---- what the dialog is made of

using MessageDialogMaking = MessageDialogTest;

TEST_F(MessageDialogMaking, IsCaptionedWithTheApplicationTitle) {
  EXPECT_EQ(Make("hello").Caption(), "Kirno Desktop Snow");
}

TEST_F(MessageDialogMaking, HoldsTheTextAndOneOkButtonAndNothingElse) {
  TMessageForm& d = Make("one\r\ntwo\r\nthree");
  ASSERT_EQ(d.ControlCount(), 2);
  EXPECT_EQ(d.Controls(0), d.Message());
  EXPECT_EQ(d.Message()->Caption(), "one\r\ntwo\r\nthree");
  EXPECT_EQ(d.Text(), "one\r\ntwo\r\nthree");
  EXPECT_EQ(d.Controls(1), d.OkButton());
  EXPECT_EQ(d.OkButton()->Caption(), "OK");
  EXPECT_EQ(d.DefaultButton(), d.OkButton());
  EXPECT_EQ(d.CancelButton(), d.OkButton());
}

TEST_F(MessageDialogMaking, IsCentredOnTheScreen) {
  TMessageForm& d = Make("Desktop Snow\r\nhttps://snow.example.org/");
  int sw = plat::Windows().GetSystemMetrics(plat::SM_CXSCREEN);
  int sh = plat::Windows().GetSystemMetrics(plat::SM_CYSCREEN);
  EXPECT_EQ(d.Left(), (sw - d.Width()) / 2);
  EXPECT_EQ(d.Top(), (sh - d.Height()) / 2);
}

TEST_F(MessageDialogMaking, HugeTextNeverGrowsPastTheScreen) {
  std::string line(200000, 'x');
  std::string many;
  for (int i = 0; i < 20000; ++i) many += "y\n";
  int sw = plat::Windows().GetSystemMetrics(plat::SM_CXSCREEN);
  int sh = plat::Windows().GetSystemMetrics(plat::SM_CYSCREEN);
  for (const std::string& text : {line, many}) {
    TMessageForm* d = CreateMessageDialog(text);
    EXPECT_LE(d->Width(), sw);
    EXPECT_LE(d->Height(), sh);
    EXPECT_GE(d->Left(), 0);
    EXPECT_GE(d->Top(), 0);
    FreeComponent(d);
  }
}

TEST_F(MessageDialogMaking, WindowIsADialogOwnedByTheApplicationWindow) {
  TMessageForm& d = Make("hello");
  plat::HWND h = d.Handle();
  auto style = static_cast<plat::DWORD>(plat::Windows().GetWindowLongPtr(h, plat::GWL_STYLE));
  auto ex = static_cast<plat::DWORD>(plat::Windows().GetWindowLongPtr(h, plat::GWL_EXSTYLE));
  EXPECT_NE(style & plat::WS_CAPTION, 0u);
  EXPECT_NE(ex & plat::WS_EX_DLGMODALFRAME, 0u);
  EXPECT_EQ(plat::Windows().GetWindow(h, plat::GW_OWNER), app().Handle());
}

// ---- ending the modal loop

using ModalLoopEnding = MessageDialogTest;

TEST_F(ModalLoopEnding, ClickingOkEndsWithOkAndHidesTheDialog) {
  TMessageForm& d = Make("hello");
  bool shown = false;
  ScopedLoopHook hook([&](TModalForm& f, int pass) {
    if (pass == 0) {
      shown = plat::Windows().IsWindowVisible(f.Handle()) != 0;
      windows().ClickLeft(d.OkButton()->Handle(), 10, 10);
    }
  });
  EXPECT_EQ(d.ShowModal(), mrOk);
  EXPECT_TRUE(shown);
  EXPECT_FALSE(d.Visible());
  EXPECT_FALSE(d.Modal());
}

TEST_F(ModalLoopEnding, EnterOnTheFormAndEscapeOnTheButtonBothPressOk) {
  TMessageForm& d = Make("hello");
  {
    ScopedLoopHook hook([&](TModalForm& f, int pass) {
      if (pass == 0) plat::Windows().PostMessage(f.Handle(), plat::WM_KEYDOWN, VK_RETURN, 0);
    });
    EXPECT_EQ(d.ShowModal(), mrOk);
  }
  ScopedLoopHook hook([&](TModalForm&, int pass) {
    if (pass == 0) plat::Windows().PostMessage(d.OkButton()->Handle(), plat::WM_KEYDOWN, VK_ESCAPE, 0);
  });
  EXPECT_EQ(d.ShowModal(), mrOk);
}

TEST_F(ModalLoopEnding, CloseMessageEndsWithCancel) {
  TMessageForm& d = Make("hello");
  ScopedLoopHook hook([&](TModalForm& f, int pass) {
    if (pass == 0) plat::Windows().PostMessage(f.Handle(), plat::WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(d.ShowModal(), mrCancel);
  EXPECT_FALSE(d.Visible());
}

TEST_F(ModalLoopEnding, ReleasingTheMouseOutsideTheButtonIsNoClick) {
  TMessageForm& d = Make("hello");
  int runningAt = -1;
  ScopedLoopHook hook([&](TModalForm& f, int pass) {
    plat::HWND b = d.OkButton()->Handle();
    if (pass == 0) {
      plat::Windows().PostMessage(b, plat::WM_LBUTTONDOWN, 0, plat::MAKEPOINTLPARAM(5, 5));
      plat::Windows().PostMessage(b, plat::WM_LBUTTONUP, 0, plat::MAKEPOINTLPARAM(-3, 5));
    }
    if (pass == 20) plat::Windows().PostMessage(b, BM_CLICK, 0, 0);
    if (f.ModalResult() == mrNone) runningAt = pass;
  });
  EXPECT_EQ(d.ShowModal(), mrOk);
  EXPECT_EQ(runningAt, 20) << "only the later BM_CLICK ends it";
}

TEST_F(ModalLoopEnding, DisabledButtonIgnoresClicks) {
  TMessageForm& d = Make("hello");
  d.OkButton()->SetEnabled(false);
  ScopedLoopHook hook([&](TModalForm& f, int pass) {
    if (pass == 0) {
      windows().ClickLeft(d.OkButton()->Handle(), 10, 10);
      plat::Windows().PostMessage(f.Handle(), plat::WM_KEYDOWN, VK_RETURN, 0);
    }
    if (pass == 20) plat::Windows().PostMessage(f.Handle(), plat::WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(d.ShowModal(), mrCancel);
}

TEST_F(ModalLoopEnding, TerminatingTheApplicationEndsTheDialogAndTheAppStaysTerminated) {
  TMessageForm& d = Make("hello");
  ScopedLoopHook hook([&](TModalForm&, int pass) {
    if (pass == 0) app().Terminate();
  });
  EXPECT_EQ(d.ShowModal(), mrCancel);
  EXPECT_TRUE(app().Terminated());
}

TEST_F(ModalLoopEnding, PlatformProvingNoMessageCanComeEndsTheDialogInsteadOfHanging) {
  TMessageForm& d = Make("hello");
  app().OnIdle = nullptr;
  EXPECT_EQ(d.ShowModal(), mrCancel);
  EXPECT_GE(windows().StarvedWaits(), 1);
}

// ---- while the dialog is up

using ModalLoopRunning = MessageDialogTest;

TEST_F(ModalLoopRunning, RunsTheApplicationsIdleProcessingOnEveryEmptyPass) {
  TMessageForm& d = Make("hello");
  int idles = 0;
  app().OnIdle = [&](TObject*, bool& done) {
    ++idles;
    done = false;
  };
  ScopedLoopHook hook([&](TModalForm& f, int pass) {
    if (pass == 50) plat::Windows().PostMessage(f.Handle(), plat::WM_CLOSE, 0, 0);
  });
  d.ShowModal();
  // A pass that handles a message (showing the dialog sends some) does not idle.
  EXPECT_GT(idles, 40);
  EXPECT_LE(idles, 50);
}

TEST_F(ModalLoopRunning, OtherTopLevelWindowsAreDisabledAndComeBackEnabled) {
  TForm* other = new TForm(&app());
  other->SetBorderStyle(TFormBorderStyle::bsNone);
  other->Show();
  TForm* alreadyOff = new TForm(&app());
  alreadyOff->Show();
  plat::Windows().EnableWindow(alreadyOff->Handle(), 0);
  ASSERT_TRUE(plat::Windows().IsWindowEnabled(other->Handle()));
  TMessageForm& d = Make("hello");
  bool otherOff = false, appOff = false, dialogOn = false;
  ScopedLoopHook hook([&](TModalForm& f, int pass) {
    if (pass != 0) return;
    otherOff = !plat::Windows().IsWindowEnabled(other->Handle());
    appOff = !plat::Windows().IsWindowEnabled(app().Handle());
    dialogOn = plat::Windows().IsWindowEnabled(f.Handle()) &&
               plat::Windows().IsWindowEnabled(d.OkButton()->Handle());
    plat::Windows().PostMessage(f.Handle(), plat::WM_CLOSE, 0, 0);
  });
  d.ShowModal();
  EXPECT_TRUE(otherOff);
  EXPECT_TRUE(appOff);
  EXPECT_TRUE(dialogOn);
  EXPECT_TRUE(plat::Windows().IsWindowEnabled(other->Handle()));
  EXPECT_TRUE(plat::Windows().IsWindowEnabled(app().Handle()));
  EXPECT_FALSE(plat::Windows().IsWindowEnabled(alreadyOff->Handle())) << "was disabled before";
}

TEST_F(ModalLoopRunning, AnErrorInIdleProcessingIsReportedAndTheDialogStays) {
  app().SetTitle("T");
  TMessageForm& d = Make("hello");
  int idles = 0;
  app().OnIdle = [&](TObject*, bool& done) {
    done = false;
    if (++idles == 1) throw Exception("frame failed");
  };
  ScopedLoopHook hook([&](TModalForm& f, int pass) {
    if (pass == 5) plat::Windows().PostMessage(f.Handle(), plat::WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(d.ShowModal(), mrCancel) << "still open after the error, then closed";
  ASSERT_EQ(windows().MessageBoxes().size(), 1u);
  EXPECT_EQ(windows().MessageBoxes()[0].text, "frame failed.");
  EXPECT_GT(idles, 1);
}

TEST_F(ModalLoopRunning, ShowingAVisibleFormModallyIsRefused) {
  TMessageForm& d = Make("hello");
  d.Show();
  EXPECT_THROW(d.ShowModal(), EInvalidOperation);
}

TEST_F(ModalLoopRunning, ErrorFromTheHookLeavesNoWindowDisabled) {
  TMessageForm& d = Make("hello");
  auto old = SetModalLoopHook([](TModalForm&, int) { throw std::runtime_error("boom"); });
  EXPECT_THROW(d.ShowModal(), std::runtime_error);
  SetModalLoopHook(std::move(old));
  EXPECT_TRUE(plat::Windows().IsWindowEnabled(app().Handle()));
  EXPECT_FALSE(d.Visible());
  EXPECT_FALSE(d.Modal());
}

}  // namespace
