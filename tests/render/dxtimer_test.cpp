#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/FormReader.h"
#include "core/PropTable.h"
#include "render/DXClass.h"
#include "support/AppFixture.h"
#include "ui/Menus.h"

namespace {

class TTimerHost : public TComponent {
  DS_CLASS_NAME(TTimerHost)
 public:
  explicit TTimerHost(TComponent* owner) : TComponent(owner) {}
  void Timer1Timer(TObject*, std::int32_t lag) { lags.push_back(lag); }
  std::vector<std::int32_t> lags;
};

class DXTimerTest : public AppFixture {
 protected:
  DXTimerTest() {
    RegisterDXClassClasses();
    RegisterClass<TTimerHost>(TComponent::StaticClassName()).Method("Timer1Timer", &TTimerHost::Timer1Timer);
    clock().SetMilliseconds(100000);
  }
  // A timer armed now (Enabled false then true), events recorded in lags.
  std::unique_ptr<TDXTimer> ArmedTimer(std::int32_t interval, bool activeOnly = false) {
    auto t = std::make_unique<TDXTimer>(nullptr);
    t->SetActiveOnly(activeOnly);
    t->SetInterval(interval);
    t->OnTimer = [this](TObject*, std::int32_t lag) { lags.push_back(lag); };
    t->SetEnabled(false);
    t->SetEnabled(true);
    return t;
  }
  // One idle pass `ms` milliseconds after the previous one.
  void PassAfter(std::uint32_t ms) {
    clock().AdvanceMilliseconds(ms);
    app().RunFor(1);
  }
  std::vector<std::int32_t> lags;
};

// --- defaults and properties

TEST_F(DXTimerTest, ConstructorDefaultsAreActiveOnlyEnabledInterval1000NotArmed) {
  TDXTimer t(nullptr);
  EXPECT_TRUE(t.ActiveOnly());
  EXPECT_TRUE(t.Enabled());
  EXPECT_EQ(t.Interval(), 1000u);
  EXPECT_EQ(t.StepInterval(), 1000);
  EXPECT_FALSE(t.Armed());
  EXPECT_FALSE(static_cast<bool>(app().OnIdle));
}

TEST_F(DXTimerTest, NegativeIntervalStoresZeroAndStepOne) {
  TDXTimer t(nullptr);
  t.SetInterval(-7);
  EXPECT_EQ(t.Interval(), 0u);
  EXPECT_EQ(t.StepInterval(), 1);
  t.SetInterval(0);
  EXPECT_EQ(t.Interval(), 0u);
  EXPECT_EQ(t.StepInterval(), 1);
}

// --- lag counts

TEST_F(DXTimerTest, ThreeMillisecondPassesGiveEventEverySecondPassWithLagOne) {
  auto t = ArmedTimer(5);
  for (int i = 0; i < 6; ++i) PassAfter(3);
  EXPECT_EQ(lags, (std::vector<std::int32_t>{1, 1, 1}));
}

TEST_F(DXTimerTest, PassTwentyThreeMillisecondsAfterEventGivesLagFour) {
  auto t = ArmedTimer(5);
  PassAfter(5);
  PassAfter(23);
  EXPECT_EQ(lags, (std::vector<std::int32_t>{1, 4}));
}

TEST_F(DXTimerTest, FirstEventComesFullIntervalAfterArming) {
  auto t = ArmedTimer(5);
  PassAfter(4);
  EXPECT_TRUE(lags.empty());
  PassAfter(1);
  EXPECT_EQ(lags.size(), 1u);
}

TEST_F(DXTimerTest, IntervalZeroFiresEveryPassWithMillisecondsSincePreviousEventAtLeastOne) {
  auto t = ArmedTimer(0);
  PassAfter(0);
  PassAfter(7);
  PassAfter(1);
  EXPECT_EQ(lags, (std::vector<std::int32_t>{1, 7, 1}));
}

TEST_F(DXTimerTest, ElapsedAndLagStayCorrectAcrossClockWrap) {
  clock().SetMilliseconds(0xFFFFFFFFu - 2);
  auto t = ArmedTimer(5);
  PassAfter(12);  // the clock reads 9 now
  PassAfter(5);
  EXPECT_EQ(lags, (std::vector<std::int32_t>{2, 1}));
}

TEST_F(DXTimerTest, IntervalChangeTakesEffectFromNextPassWithoutClockReset) {
  auto t = ArmedTimer(5);
  PassAfter(5);
  t->SetInterval(10);
  PassAfter(6);
  EXPECT_EQ(lags.size(), 1u);
  PassAfter(4);
  EXPECT_EQ(lags, (std::vector<std::int32_t>{1, 1}));
}

// --- frames per second

TEST_F(DXTimerTest, SixtyEventsInExactlyOneSecondGiveSixtyAndRestartWindow) {
  auto t = ArmedTimer(0);
  for (int i = 0; i < 59; ++i) PassAfter(1);
  EXPECT_EQ(t->FramesPerSecond(), 0);
  PassAfter(1000 - 59);
  EXPECT_EQ(t->FramesPerSecond(), 60);
  // Next window: 61 events over 1001 ms -> round(60.94) = 61.
  for (int i = 0; i < 60; ++i) PassAfter(1);
  EXPECT_EQ(t->FramesPerSecond(), 60);
  PassAfter(1001 - 60);
  EXPECT_EQ(t->FramesPerSecond(), 61);
}

TEST_F(DXTimerTest, FramesPerSecondRoundsHalvesToEven) {
  auto t = ArmedTimer(0);
  PassAfter(1);
  PassAfter(1);
  PassAfter(1998);  // 3 events in 2000 ms: 1.5 -> 2
  EXPECT_EQ(t->FramesPerSecond(), 2);
  for (int i = 0; i < 4; ++i) PassAfter(1);
  PassAfter(1996);  // 5 events in 2000 ms: 2.5 -> 2
  EXPECT_EQ(t->FramesPerSecond(), 2);
  PassAfter(2000);  // 1 event in 2000 ms: 0.5 -> 0
  EXPECT_EQ(t->FramesPerSecond(), 0);
}

// --- enabling and disabling

TEST_F(DXTimerTest, DisablingInsideHandlerStopsAtOnceAndReenablingWaitsFullInterval) {
  auto t = ArmedTimer(5);
  t->OnTimer = [&](TObject*, std::int32_t lag) {
    lags.push_back(lag);
    t->SetEnabled(false);
  };
  PassAfter(5);
  PassAfter(5);
  PassAfter(50);
  EXPECT_EQ(lags.size(), 1u);
  EXPECT_FALSE(t->Armed());
  EXPECT_FALSE(static_cast<bool>(app().OnIdle));
  t->SetEnabled(true);
  PassAfter(4);
  EXPECT_EQ(lags.size(), 1u);
  PassAfter(1);
  EXPECT_EQ(lags.size(), 2u);
}

TEST_F(DXTimerTest, EnabledChangesWhileLoadingWaitForLoaded) {
  TDXTimer t(nullptr);
  t.SetActiveOnly(false);
  t.SetComponentState(csLoading);
  t.SetEnabled(false);
  t.SetEnabled(true);
  EXPECT_FALSE(t.Armed());
  t.Loaded();
  EXPECT_TRUE(t.Armed());
  EXPECT_TRUE(static_cast<bool>(app().OnIdle));
}

TEST_F(DXTimerTest, TimerEnabledInStoredDescriptionStartsByItself) {
  TTimerHost host(nullptr);
  ReadComponentFromText(&host,
                        "object Host: TTimerHost\n"
                        "  object DXTimer1: TDXTimer\n"
                        "    ActiveOnly = False\n"
                        "    Enabled = True\n"
                        "    Interval = 5\n"
                        "    OnTimer = Timer1Timer\n"
                        "  end\n"
                        "end\n");
  auto* t = dynamic_cast<TDXTimer*>(host.FindComponent("DXTimer1"));
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(t->Armed());
  PassAfter(5);
  EXPECT_EQ(host.lags, (std::vector<std::int32_t>{1}));
}

TEST_F(DXTimerTest, TimerDisabledInStoredDescriptionStaysIdle) {
  TTimerHost host(nullptr);
  ReadComponentFromText(&host,
                        "object Host: TTimerHost\n"
                        "  object DXTimer2: TDXTimer\n"
                        "    ActiveOnly = False\n"
                        "    Enabled = False\n"
                        "    Interval = 5\n"
                        "    OnTimer = Timer1Timer\n"
                        "  end\n"
                        "end\n");
  auto* t = dynamic_cast<TDXTimer*>(host.FindComponent("DXTimer2"));
  ASSERT_NE(t, nullptr);
  EXPECT_FALSE(t->Armed());
  EXPECT_EQ(t->Interval(), 5u);
  PassAfter(50);
  EXPECT_TRUE(host.lags.empty());
}

TEST_F(DXTimerTest, DestructionDisarmsAndClearsIdleSlot) {
  auto t = ArmedTimer(5);
  t.reset();
  EXPECT_FALSE(static_cast<bool>(app().OnIdle));
  PassAfter(10);
  EXPECT_TRUE(lags.empty());
}

// --- activation

TEST_F(DXTimerTest, ActiveOnlyTimerFollowsActivationChanges) {
  int activations = 0, deactivations = 0;
  windows().ActivateApp(true);
  app().ProcessMessages();
  auto t = ArmedTimer(5, /*activeOnly=*/true);
  t->OnActivate = [&](TObject*) { ++activations; };
  t->OnDeactivate = [&](TObject*) { ++deactivations; };
  PassAfter(5);
  EXPECT_EQ(lags.size(), 1u);
  windows().ActivateApp(false);
  app().ProcessMessages();
  EXPECT_EQ(deactivations, 1);
  PassAfter(20);
  EXPECT_EQ(lags.size(), 1u);
  EXPECT_TRUE(t->Armed());
  windows().ActivateApp(true);
  app().ProcessMessages();
  EXPECT_EQ(activations, 1);
  PassAfter(4);
  EXPECT_EQ(lags.size(), 1u);  // re-attaching restarted the clocks
  PassAfter(1);
  EXPECT_EQ(lags.size(), 2u);
}

TEST_F(DXTimerTest, TimerNotActiveOnlyRunsWhileInactive) {
  windows().ActivateApp(true);
  app().ProcessMessages();
  auto t = ArmedTimer(5, /*activeOnly=*/false);
  windows().ActivateApp(false);
  app().ProcessMessages();
  PassAfter(5);
  EXPECT_EQ(lags.size(), 1u);
}

TEST_F(DXTimerTest, SettingActiveOnlyWhileInactiveDetaches) {
  windows().ActivateApp(true);
  app().ProcessMessages();
  windows().ActivateApp(false);
  app().ProcessMessages();
  auto t = ArmedTimer(5, /*activeOnly=*/false);
  t->SetActiveOnly(true);
  EXPECT_FALSE(static_cast<bool>(app().OnIdle));
  EXPECT_TRUE(t->Armed());
}

// --- one idle slot

TEST_F(DXTimerTest, SecondTimerTakesIdleSlotAndDisarmingEitherClearsIt) {
  std::vector<int> who;
  auto t1 = ArmedTimer(5);
  t1->OnTimer = [&](TObject*, std::int32_t) { who.push_back(1); };
  auto t2 = ArmedTimer(5);
  t2->OnTimer = [&](TObject*, std::int32_t) { who.push_back(2); };
  PassAfter(5);
  EXPECT_EQ(who, (std::vector<int>{2}));
  t1->SetEnabled(false);
  PassAfter(10);
  EXPECT_EQ(who, (std::vector<int>{2}));
  EXPECT_TRUE(t2->Armed());
}

// --- from the running application

TEST_F(DXTimerTest, HandlerErrorIsReportedAndTimerStaysAttached) {
  auto t = ArmedTimer(5);
  t->OnTimer = [&](TObject*, std::int32_t lag) {
    lags.push_back(lag);
    if (lags.size() == 1) throw Exception("Frame failed");
  };
  PassAfter(5);
  PassAfter(3);
  PassAfter(2);
  EXPECT_EQ(lags.size(), 2u);
  ASSERT_EQ(windows().MessageBoxes().size(), 1u);
  EXPECT_EQ(windows().MessageBoxes()[0].text, "Frame failed.");
}

TEST_F(DXTimerTest, EventsStopWhilePopupMenuIsTracked) {
  auto* form = CreateForm<TForm>(&app());
  form->SetBounds(0, 0, 200, 100);
  form->Show();
  auto* menu = new TPopupMenu(form);
  auto* item = new TMenuItem(form);
  item->SetCaption("Exit");
  menu->Items()->Add(item);
  form->SetPopupMenu(menu);
  app().ProcessMessages();  // the form's first paint
  auto t = ArmedTimer(5);
  PassAfter(5);
  ASSERT_EQ(lags.size(), 1u);

  std::size_t duringMenu = 99;
  windows().SetMenuOpenHook([&] {
    clock().AdvanceMilliseconds(100);
    duringMenu = lags.size();
  });
  windows().QueueMenuCancel();
  windows().ClickRight(form->Handle(), 10, 10);
  app().ProcessMessages();  // the click opens the menu; its loop runs no idle processing
  EXPECT_EQ(duringMenu, 1u);
  EXPECT_EQ(lags.size(), 1u);
  ASSERT_EQ(windows().TrackedMenus().size(), 1u);
  app().RunFor(1);
  EXPECT_EQ(lags, (std::vector<std::int32_t>{1, 20}));
}

}  // namespace
