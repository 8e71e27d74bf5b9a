#include <gtest/gtest.h>

#include "core/FormReader.h"
#include "core/PropTable.h"
#include "support/AppFixture.h"

using plat::soft::SoftWindowSystem;

namespace {

// --- the error report

class ErrorReport : public AppFixture {};

TEST_F(ErrorReport, ShowsMessageEndingInLetterWithFullStopCaptionTitleErrorIconOwnedByAppWindow) {
  app().SetTitle("Kirno Desktop Snow");
  try {
    throw Exception("Wallpaper not found");
  } catch (...) {
    app().HandleException(nullptr);
  }
  ASSERT_EQ(windows().MessageBoxes().size(), 1u);
  const auto& box = windows().MessageBoxes()[0];
  EXPECT_EQ(box.text, "Wallpaper not found.");
  EXPECT_EQ(box.caption, "Kirno Desktop Snow");
  EXPECT_EQ(box.type, plat::MB_OK | plat::MB_ICONERROR);
  EXPECT_EQ(box.owner, app().Handle());
}

TEST_F(ErrorReport, AddsNoFullStopAfterClosingParenthesisOrFullStop) {
  for (const char* msg : {"Display mode cannot be changed (640x480 16bit)", "DIB is invalid."}) {
    try {
      throw Exception(msg);
    } catch (...) {
      app().HandleException(nullptr);
    }
  }
  ASSERT_EQ(windows().MessageBoxes().size(), 2u);
  EXPECT_EQ(windows().MessageBoxes()[0].text, "Display mode cannot be changed (640x480 16bit)");
  EXPECT_EQ(windows().MessageBoxes()[1].text, "DIB is invalid.");
}

TEST_F(ErrorReport, KeepsEmptyMessageEmpty) {
  try {
    throw Exception("");
  } catch (...) {
    app().HandleException(nullptr);
  }
  ASSERT_EQ(windows().MessageBoxes().size(), 1u);
  EXPECT_EQ(windows().MessageBoxes()[0].text, "");
}

TEST_F(ErrorReport, IgnoresSilentAbort) {
  try {
    throw EAbort("quiet");
  } catch (...) {
    app().HandleException(nullptr);
  }
  EXPECT_TRUE(windows().MessageBoxes().empty());
}

TEST_F(ErrorReport, TitleIsApplicationWindowText) {
  app().SetTitle("Kirno Desktop Snow");
  char buf[64] = {};
  windows().GetWindowText(app().Handle(), buf, sizeof buf);
  EXPECT_STREQ(buf, "Kirno Desktop Snow");
}

TEST_F(ErrorReport, ApplicationWindowShowsTaskbarButtonUntilMadeToolWindow) {
  plat::HWND h = app().Handle();
  EXPECT_TRUE(windows().HasTaskbarButton(h));
  windows().ShowWindow(h, plat::SW_HIDE);
  windows().SetWindowLong(h, plat::GWL_EXSTYLE,
                          windows().GetWindowLong(h, plat::GWL_EXSTYLE) | plat::WS_EX_TOOLWINDOW);
  windows().ShowWindow(h, plat::SW_SHOW);
  EXPECT_FALSE(windows().HasTaskbarButton(h));
}

// --- the message loop and idle processing

class MessageLoop : public AppFixture {};

TEST_F(MessageLoop, TakesOneMessagePerPassAndIdlesOnlyWhenQueueEmpty) {
  int idles = 0;
  app().OnIdle = [&](TObject*, bool& done) {
    ++idles;
    done = false;
  };
  int seen = 0;
  app().HookMainWindow([&](TMessage& m) {
    if (m.Msg == plat::WM_USER + 1) ++seen;
    return false;
  });
  windows().PostMessage(app().Handle(), plat::WM_USER + 1, 0, 0);
  windows().PostMessage(app().Handle(), plat::WM_USER + 1, 0, 0);
  app().RunFor(1);
  EXPECT_EQ(seen, 1);
  EXPECT_EQ(idles, 0);
  app().RunFor(1);
  EXPECT_EQ(seen, 2);
  EXPECT_EQ(idles, 0);
  app().RunFor(3);
  EXPECT_EQ(idles, 3);
}

TEST_F(MessageLoop, IdleHandlerStartsWithDoneTrueAndWaitsWhenLeftTrue) {
  bool first = false;
  app().OnIdle = [&](TObject*, bool& done) { first = done; };
  int before = windows().StarvedWaits();
  app().RunFor(1);
  EXPECT_TRUE(first);
  EXPECT_EQ(windows().StarvedWaits(), before + 1);
}

TEST_F(MessageLoop, DoesNotWaitWhileIdleHandlerClearsDone) {
  app().OnIdle = [&](TObject*, bool& done) { done = false; };
  int before = windows().StarvedWaits();
  app().RunFor(10);
  EXPECT_EQ(windows().StarvedWaits(), before);
}

TEST_F(MessageLoop, ReportsErrorEscapingDispatchAndGoesOn) {
  int after = 0;
  app().HookMainWindow([&](TMessage& m) {
    if (m.Msg == plat::WM_USER + 2) throw Exception("Frame failed");
    if (m.Msg == plat::WM_USER + 3) ++after;
    return false;
  });
  windows().PostMessage(app().Handle(), plat::WM_USER + 2, 0, 0);
  windows().PostMessage(app().Handle(), plat::WM_USER + 3, 0, 0);
  app().RunFor(2);
  ASSERT_EQ(windows().MessageBoxes().size(), 1u);
  EXPECT_EQ(windows().MessageBoxes()[0].text, "Frame failed.");
  EXPECT_EQ(after, 1);
}

TEST_F(MessageLoop, ReportsErrorEscapingIdleHandlerAndGoesOn) {
  int calls = 0;
  app().OnIdle = [&](TObject*, bool& done) {
    done = false;
    if (++calls == 1) throw Exception("Idle failed");
  };
  app().RunFor(3);
  EXPECT_EQ(calls, 3);
  ASSERT_EQ(windows().MessageBoxes().size(), 1u);
  EXPECT_EQ(windows().MessageBoxes()[0].text, "Idle failed.");
}

TEST_F(MessageLoop, TerminatePostsQuitThatEndsRun) {
  int idles = 0;
  app().OnIdle = [&](TObject*, bool& done) {
    done = false;
    if (++idles == 5) app().Terminate();
  };
  app().Run();
  EXPECT_TRUE(app().Terminated());
  EXPECT_EQ(idles, 5);
}

TEST_F(MessageLoop, RunEndsWhenNothingCanEverArrive) {
  app().Run();  // no idle handler, no messages: the soft queue reports starvation
  EXPECT_FALSE(app().Terminated());
}

TEST_F(MessageLoop, HooksSeeMessagesFirstAndConsumeWithTrue) {
  std::vector<int> order;
  int h1 = app().HookMainWindow([&](TMessage& m) {
    if (m.Msg == plat::WM_COMMAND) order.push_back(1);
    return false;
  });
  app().HookMainWindow([&](TMessage& m) {
    if (m.Msg != plat::WM_COMMAND) return false;
    order.push_back(2);
    return true;
  });
  app().HookMainWindow([&](TMessage& m) {
    if (m.Msg == plat::WM_COMMAND) order.push_back(3);
    return false;
  });
  windows().SendMessage(app().Handle(), plat::WM_COMMAND, 1234, 0);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  app().UnhookMainWindow(h1);
  order.clear();
  windows().SendMessage(app().Handle(), plat::WM_COMMAND, 1234, 0);
  EXPECT_EQ(order, (std::vector<int>{2}));
}

TEST_F(MessageLoop, ActivationBecomesPostedNotificationsToApplicationWindow) {
  std::vector<plat::UINT> seen;
  app().HookMainWindow([&](TMessage& m) {
    if (m.Msg == CM_ACTIVATE || m.Msg == CM_DEACTIVATE) seen.push_back(m.Msg);
    return false;
  });
  windows().ActivateApp(true);
  EXPECT_TRUE(app().Active());
  EXPECT_TRUE(seen.empty());  // posted, not sent
  app().ProcessMessages();
  windows().ActivateApp(false);
  EXPECT_FALSE(app().Active());
  app().ProcessMessages();
  EXPECT_EQ(seen, (std::vector<plat::UINT>{CM_ACTIVATE, CM_DEACTIVATE}));
}

// --- forms created through the application

class TProbeForm;
TProbeForm* ProbeForm = nullptr;
bool g_globalSetDuringConstruction = false;
bool g_failConstruction = false;
std::vector<std::string> g_createLog;

class TProbeForm : public TForm {
  DS_CLASS_NAME(TProbeForm)
 public:
  explicit TProbeForm(TComponent* owner) : TForm(owner) {
    g_globalSetDuringConstruction = ProbeForm == this;
    if (g_failConstruction) throw Exception("construction failed");
  }
  void FormCreate(TObject*) {
    g_createLog.push_back("step1");
    if (Caption() == "fail") throw Exception("Wallpaper missing");
    g_createLog.push_back("step2");
  }
};

class FormCreation : public AppFixture {
 protected:
  FormCreation() {
    RegisterClass<TProbeForm>(TForm::StaticClassName()).Method("FormCreate", &TProbeForm::FormCreate);
    SetText("Kirno Desktop");
    g_globalSetDuringConstruction = false;
    g_failConstruction = false;
    g_createLog.clear();
    ProbeForm = nullptr;
  }
  void SetText(const std::string& caption) {
    RegisterFormText("TProbeForm", "object ProbeForm: TProbeForm\n  BorderStyle = bsNone\n  Caption = '" +
                                       caption + "'\n  OnCreate = FormCreate\nend\n");
  }
};

TEST_F(FormCreation, WritesGlobalBeforeConstructorAndMakesMainFormWithHandle) {
  app().CreateForm(ProbeForm);
  ASSERT_NE(ProbeForm, nullptr);
  EXPECT_TRUE(g_globalSetDuringConstruction);
  EXPECT_EQ(app().MainForm(), ProbeForm);
  EXPECT_TRUE(ProbeForm->HandleAllocated());
  EXPECT_EQ(ProbeForm->Caption(), "Kirno Desktop");
  EXPECT_EQ(g_createLog, (std::vector<std::string>{"step1", "step2"}));
}

TEST_F(FormCreation, ResetsGlobalAndPassesErrorWhenConstructorFails) {
  g_failConstruction = true;
  EXPECT_THROW(app().CreateForm(ProbeForm), Exception);
  EXPECT_EQ(ProbeForm, nullptr);
  EXPECT_EQ(app().MainForm(), nullptr);
}

TEST_F(FormCreation, ReportsCreateHandlerErrorSkipsRestAndStillCreatesForm) {
  SetText("fail");
  app().SetTitle("Kirno Desktop Snow");
  app().CreateForm(ProbeForm);
  ASSERT_NE(ProbeForm, nullptr);
  EXPECT_EQ(app().MainForm(), ProbeForm);
  EXPECT_EQ(g_createLog, (std::vector<std::string>{"step1"}));
  ASSERT_EQ(windows().MessageBoxes().size(), 1u);
  EXPECT_EQ(windows().MessageBoxes()[0].text, "Wallpaper missing.");
  EXPECT_EQ(windows().MessageBoxes()[0].caption, "Kirno Desktop Snow");
}

TEST_F(FormCreation, BorderlessTopLevelFormIsPopupOwnedByApplicationWindow) {
  app().CreateForm(ProbeForm);
  auto style = static_cast<plat::DWORD>(windows().GetWindowLong(ProbeForm->Handle(), plat::GWL_STYLE));
  EXPECT_TRUE(style & plat::WS_POPUP);
  EXPECT_FALSE(style & plat::WS_CHILD);
  EXPECT_EQ(windows().GetWindow(ProbeForm->Handle(), plat::GW_OWNER), app().Handle());
}

TEST_F(FormCreation, RunShowsMainFormAndClosingItTerminates) {
  app().CreateForm(ProbeForm);
  int idles = 0;
  app().OnIdle = [&](TObject*, bool& done) {
    done = false;
    if (++idles == 3) ProbeForm->Close();
  };
  app().Run();
  EXPECT_TRUE(app().Terminated());
  EXPECT_TRUE(ProbeForm->Visible());
  EXPECT_TRUE(windows().IsWindowVisible(ProbeForm->Handle()));
}

// Records the palette notifications it receives; handles those in the foreground.
class TPaletteProbe : public TCustomControl {
 public:
  explicit TPaletteProbe(TComponent* owner) : TCustomControl(owner) {}
  std::vector<bool> calls;
  bool PaletteChanged(bool foreground) override {
    calls.push_back(foreground);
    return foreground;
  }
};

TEST_F(FormCreation, PaletteMessagesReachTheMainFormsControlsAlsoThroughTheApplicationWindow) {
  app().CreateForm(ProbeForm);
  ProbeForm->Show();
  auto* probe = new TPaletteProbe(ProbeForm);
  probe->SetParent(ProbeForm);
  auto other = reinterpret_cast<plat::WPARAM>(app().Handle());
  EXPECT_EQ(1, windows().SendMessage(app().Handle(), plat::WM_QUERYNEWPALETTE, 0, 0));
  windows().SendMessage(app().Handle(), plat::WM_PALETTECHANGED, other, 0);
  windows().SendMessage(ProbeForm->Handle(), plat::WM_PALETTECHANGED, other, 0);
  // The form that realised the palette itself is not told again.
  windows().SendMessage(ProbeForm->Handle(), plat::WM_PALETTECHANGED,
                        reinterpret_cast<plat::WPARAM>(ProbeForm->Handle()), 0);
  EXPECT_EQ(probe->calls, (std::vector<bool>{true, false, false}));
}

TEST_F(FormCreation, DestroyingApplicationDestroysFormWindow) {
  app().CreateForm(ProbeForm);
  plat::HWND h = ProbeForm->Handle();
  delete Application;
  EXPECT_EQ(Application, nullptr);
  EXPECT_FALSE(windows().IsWindow(h));
  Application = new TApplication(nullptr);  // the fixture deletes one
}

}  // namespace
