#include <gtest/gtest.h>

#include "dxdraw_fixture.h"
#include "render/DXClass.h"

namespace {

using Log = std::vector<std::string>;

class DXDrawLifecycleTest : public DXDrawFixture {
 protected:
  // Registers the recorder and wires the events, then forgets what registering reported.
  void Record() {
    log.WireEvents(*draw);
    draw->AddNotifyHandler(log.Handler());
    log.entries.clear();
  }
  TEventLog& log = NewLog();
};

// --- event order

TEST_F(DXDrawLifecycleTest, InitializeFiresEventsAndNotificationsInOrder) {
  Record();
  draw->Initialize();
  EXPECT_EQ(log.entries,
            (Log{"OnInitializing", "snInitializing", "snSetSurfaceSize", "snInitialize", "OnInitialize",
                 "snInitializeSurface", "OnInitializeSurface", "snRestore", "OnRestoreSurface"}));
  EXPECT_TRUE(draw->Initialized());
  EXPECT_FALSE(draw->Updating());
}

TEST_F(DXDrawLifecycleTest, FinalizeFiresSurfaceThenComponentEvents) {
  draw->Initialize();
  Record();
  draw->Finalize();
  EXPECT_EQ(log.entries, (Log{"OnFinalizeSurface", "snFinalizeSurface", "OnFinalize", "snFinalize"}));
  EXPECT_FALSE(draw->Initialized());
  EXPECT_EQ(draw->Driver(), nullptr);
  EXPECT_EQ(draw->DDraw(), nullptr);
  EXPECT_EQ(draw->Surface(), nullptr);
  EXPECT_EQ(ddraw().LiveObjectCount(), 0u);
}

TEST_F(DXDrawLifecycleTest, ResizeWhileReadyRemakesOnlyTheBackSurface) {
  draw->Initialize();
  TDirectDrawSurface* primary = draw->Primary();
  Record();
  draw->SetBounds(10, 20, 300, 200);
  EXPECT_EQ(log.entries, (Log{"snFinalizeSurface", "OnFinalizeSurface", "snInitializeSurface",
                              "OnInitializeSurface", "snSetSurfaceSize"}));
  EXPECT_EQ(draw->SurfaceWidth(), 300);
  EXPECT_EQ(draw->SurfaceHeight(), 200);
  EXPECT_EQ(draw->Primary(), primary);
  EXPECT_NE(draw->D3DDevice7(), nullptr);
  EXPECT_EQ(draw->RestoreSuppress(), 0);
}

TEST_F(DXDrawLifecycleTest, ResizeToTheCurrentSizeDoesNothing) {
  draw->Initialize();
  Record();
  draw->SetSurfaceSize(320, 240);
  EXPECT_TRUE(log.entries.empty());
}

TEST_F(DXDrawLifecycleTest, SecondInitializeFinalizesFirstAndKeepsStoredSize) {
  draw->SetAutoSize(false);
  draw->SetSurfaceSize(200, 100);
  draw->Initialize();
  Record();
  draw->Initialize();
  ASSERT_GE(log.entries.size(), 5u);
  EXPECT_EQ(Log(log.entries.begin(), log.entries.begin() + 5),
            (Log{"OnFinalizeSurface", "snFinalizeSurface", "OnFinalize", "snFinalize", "OnInitializing"}));
  EXPECT_EQ(draw->SurfaceWidth(), 200);
  EXPECT_EQ(draw->SurfaceHeight(), 100);
}

TEST_F(DXDrawLifecycleTest, InitializeWithAutoSizeTakesTheControlSize) {
  draw->Initialize();
  EXPECT_EQ(draw->Surface()->Width(), 320);
  EXPECT_EQ(draw->Surface()->Height(), 240);
}

TEST_F(DXDrawLifecycleTest, FinalizeOfNeverInitializedComponentOnlyFreesRenderer) {
  Record();
  ASSERT_NE(draw->D2D(), nullptr);  // made by the constructor
  draw->Finalize();
  EXPECT_TRUE(log.entries.empty());
  EXPECT_EQ(draw->D2D(), nullptr);
  EXPECT_EQ(CurrentD2D, nullptr);
}

TEST_F(DXDrawLifecycleTest, InitializeMakesRendererAfterSurfaceEventsAndFinalizeFreesIt) {
  bool rendererAtSurfaceEvent = true;
  draw->OnInitializeSurface = [&](TObject*) { rendererAtSurfaceEvent = draw->D2D() != nullptr; };
  draw->Initialize();
  EXPECT_FALSE(rendererAtSurfaceEvent);
  EXPECT_NE(draw->D2D(), nullptr);
  EXPECT_EQ(CurrentD2D, draw->D2D());
  draw->Finalize();
  EXPECT_EQ(draw->D2D(), nullptr);
  EXPECT_EQ(CurrentD2D, nullptr);
}

TEST_F(DXDrawLifecycleTest, InitializeWithoutFormRaisesFormNotFound) {
  TDXDraw loose(nullptr);
  try {
    loose.Initialize();
    FAIL() << "no error";
  } catch (const EDXDrawError& e) {
    EXPECT_EQ(e.Message, "Form not found");
  }
  EXPECT_TRUE(loose.InitRequested());
  EXPECT_FALSE(loose.InitStarted());
}

TEST_F(DXDrawLifecycleTest, FailedBuildFinalizesWithoutFinalizeEvents) {
  ddraw().FailSurfaceCreation(1, plat::DDSCAPS_PRIMARYSURFACE);
  Record();
  EXPECT_THROW(draw->Initialize(), EDXDrawError);
  EXPECT_EQ(log.entries, (Log{"OnInitializing", "snInitializing"}));
  EXPECT_FALSE(draw->InitStarted());
  EXPECT_FALSE(draw->Updating());
  EXPECT_EQ(ddraw().LiveObjectCount(), 0u);
}

// --- notifications

TEST_F(DXDrawLifecycleTest, HandlerAddedWhileReadyHearsTheWholeStateAtOnce) {
  draw->Initialize();
  TEventLog& late = NewLog();
  draw->AddNotifyHandler(late.Handler());
  EXPECT_EQ(late.entries, (Log{"snSetSurfaceSize", "snInitialize", "snInitializeSurface", "snRestore"}));
}

TEST_F(DXDrawLifecycleTest, HandlerAddedWhileIdleHearsOnlySurfaceSize) {
  TEventLog& l = NewLog();
  draw->AddNotifyHandler(l.Handler());
  EXPECT_EQ(l.entries, (Log{"snSetSurfaceSize"}));
}

TEST_F(DXDrawLifecycleTest, HandlerRemovedWhileReadyHearsFinalization) {
  draw->Initialize();
  TEventLog& l = NewLog();
  draw->AddNotifyHandler(l.Handler());
  l.entries.clear();
  draw->RemoveNotifyHandler(l.Handler());
  EXPECT_EQ(l.entries, (Log{"snFinalizeSurface", "snFinalize"}));
  EXPECT_EQ(draw->NotifyCount(), 0);
}

TEST_F(DXDrawLifecycleTest, RemovingUnknownHandlerDoesNothing) {
  draw->Initialize();
  TEventLog& l = NewLog();
  draw->RemoveNotifyHandler(l.Handler());
  EXPECT_TRUE(l.entries.empty());
}

TEST_F(DXDrawLifecycleTest, AddingTheSameHandlerTwiceKeepsOneEntry) {
  TEventLog& l = NewLog();
  draw->AddNotifyHandler(l.Handler());
  draw->AddNotifyHandler(l.Handler());
  EXPECT_EQ(draw->NotifyCount(), 1);
}

TEST_F(DXDrawLifecycleTest, HandlersAreNotifiedFromLastRegisteredToFirst) {
  std::vector<int> order;
  struct TTagged {
    std::vector<int>* out;
    int tag;
    void On(TCustomDXDraw*, TSurfaceNotifyKind k) {
      if (k == snRestore) out->push_back(tag);
    }
  } a{&order, 1}, b{&order, 2};
  draw->AddNotifyHandler(MakeSurfaceNotifyHandler<TTagged, &TTagged::On>(&a));
  draw->AddNotifyHandler(MakeSurfaceNotifyHandler<TTagged, &TTagged::On>(&b));
  draw->NotifyHandlers(snRestore);
  EXPECT_EQ(order, (std::vector<int>{2, 1}));
  TearDownAll();
}

TEST_F(DXDrawLifecycleTest, DestroyingComponentNotifiesHandlers) {
  TEventLog& l = NewLog();
  draw->AddNotifyHandler(l.Handler());
  l.entries.clear();
  delete draw;
  draw = nullptr;
  EXPECT_EQ(l.entries, (Log{"snDestroying"}));
}

// --- options

TEST_F(DXDrawLifecycleTest, DefaultOptionsGiveWindowedEffectiveOptions) {
  EXPECT_EQ(draw->Options(), DefaultDXDrawOptions);
  EXPECT_EQ(draw->EffectiveOptions(),
            (TDXDrawOptions{doWaitVBlank, doCenter, do3D, doDirectX7Mode, doSelectDriver}));
}

TEST_F(DXDrawLifecycleTest, OptionsWithout3DDropEveryDeviceOption) {
  draw->SetOptions({do3D, doHardware, doZBuffer, doDirectX7Mode, doRetainedMode, doFullScreen, doFlip});
  EXPECT_EQ(draw->EffectiveOptions(),
            (TDXDrawOptions{do3D, doZBuffer, doDirectX7Mode, doFullScreen, doFlip}));
  draw->SetOptions({doHardware, doZBuffer, doDirectX7Mode, doSystemMemory, doFullScreen, doFlip});
  EXPECT_EQ(draw->EffectiveOptions(), (TDXDrawOptions{doSystemMemory, doFullScreen}));
}

TEST_F(DXDrawLifecycleTest, ChangingOptionsWhileReadyChangesOnlyPresentationBits) {
  draw->Initialize();
  const TDXDrawOptions before = draw->EffectiveOptions();
  draw->SetOptions({doStretch, doZBuffer});
  TDXDrawOptions expected = before;
  expected.Exclude(doWaitVBlank);
  expected.Exclude(doCenter);
  expected.Include(doStretch);
  EXPECT_EQ(draw->EffectiveOptions(), expected);
  EXPECT_EQ(draw->Options(), (TDXDrawOptions{doStretch, doZBuffer}));
}

TEST_F(DXDrawLifecycleTest, HardwareDeviceIsReportedInEffectiveOptions) {
  draw->Initialize();
  EXPECT_TRUE(draw->EffectiveOptions().Contains(doHardware));
  EXPECT_FALSE(draw->EffectiveOptions().Contains(doSelectDriver));
  EXPECT_FALSE(draw->EffectiveOptions().Contains(doSystemMemory));
}

TEST_F(DXDrawLifecycleTest, DisplayRefusesBitCountOutsideTheFourDepths) {
  try {
    draw->Display().SetBitCount(15);
    FAIL() << "no error";
  } catch (const EDirectDrawError& e) {
    EXPECT_EQ(e.Message, "Display requires 8, 16, 24 or 32 bits");
  }
  EXPECT_EQ(draw->Display().BitCount(), 16);
  draw->Display().SetBitCount(24);
  EXPECT_EQ(draw->Display().BitCount(), 24);
}

TEST_F(DXDrawLifecycleTest, DisplaySizeIsNeverNegative) {
  draw->Display().SetWidth(-5);
  draw->Display().SetHeight(-1);
  EXPECT_EQ(draw->Display().Width(), 0);
  EXPECT_EQ(draw->Display().Height(), 0);
}

TEST_F(DXDrawLifecycleTest, ConstructorDefaults) {
  TDXDraw d(nullptr);
  EXPECT_TRUE(d.AutoInitialize());
  EXPECT_TRUE(d.AutoSize());
  EXPECT_EQ(d.Width(), 100);
  EXPECT_EQ(d.Height(), 100);
  EXPECT_EQ(d.SurfaceWidth(), 0);
  EXPECT_EQ(d.SurfaceHeight(), 0);
  EXPECT_EQ(d.Color(), clBlack);
  EXPECT_FALSE(d.ParentColor);
  EXPECT_EQ(d.Display().Width(), 640);
  EXPECT_EQ(d.Display().Height(), 480);
  EXPECT_EQ(d.Display().BitCount(), 16);
}

// --- the form hook

TEST_F(DXDrawLifecycleTest, DestroyingTheFormWindowFinalizes) {
  draw->Initialize();
  Record();
  form->DestroyHandle();
  EXPECT_EQ(log.entries, (Log{"OnFinalizeSurface", "snFinalizeSurface", "OnFinalize", "snFinalize"}));
  EXPECT_FALSE(draw->Initialized());
}

TEST_F(DXDrawLifecycleTest, DeletingTheFormReleasesEverything) {
  draw->Initialize();
  Record();
  delete form;
  form = nullptr;
  draw = nullptr;
  EXPECT_EQ(log.entries,
            (Log{"OnFinalizeSurface", "snFinalizeSurface", "OnFinalize", "snFinalize", "snDestroying"}));
  EXPECT_EQ(ddraw().LiveObjectCount(), 0u);
}

TEST_F(DXDrawLifecycleTest, ShowingTheFormInitializesWhenAutoInitialize) {
  form->Hide();
  draw->SetAutoInitialize(true);
  form->Show();
  EXPECT_TRUE(draw->Initialized());
}

TEST_F(DXDrawLifecycleTest, ShowingTheFormDoesNotInitializeWithoutAutoInitialize) {
  form->Hide();
  form->Show();
  EXPECT_FALSE(draw->Initialized());
}

TEST_F(DXDrawLifecycleTest, DeletingTheControlPutsTheFormProcedureBack) {
  EXPECT_NE(draw->FormHook(), nullptr);
  delete draw;
  draw = nullptr;
  // The form still handles its messages after the hook is gone.
  form->Hide();
  form->Show();
  EXPECT_TRUE(form->Showing());
}

// --- the frame timer wired as the program wires it

TEST_F(DXDrawLifecycleTest, TimerIsEnabledByOnInitializeAndDisabledByOnFinalize) {
  RegisterDXClassClasses();
  auto* timer = new TDXTimer(form);
  timer->SetActiveOnly(false);
  timer->SetInterval(5);
  timer->SetEnabled(false);
  draw->OnInitialize = [timer](TObject*) { timer->SetEnabled(true); };
  draw->OnFinalize = [timer](TObject*) { timer->SetEnabled(false); };
  int ticks = 0;
  timer->OnTimer = [&](TObject*, std::int32_t) { ++ticks; };

  draw->Initialize();
  EXPECT_TRUE(timer->Armed());
  clock().AdvanceMilliseconds(6);
  EXPECT_TRUE(Application->ProcessMessagesUntil([&] { return ticks == 1; }, 50));

  draw->Finalize();
  EXPECT_FALSE(timer->Armed());
  clock().AdvanceMilliseconds(50);
  Application->RunFor(20);
  EXPECT_EQ(ticks, 1);
}

}  // namespace
