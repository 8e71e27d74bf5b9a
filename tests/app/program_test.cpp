// The whole program on the soft platform, driven as a user would: start-up, the desktop, frames, the menu,
// the wind switch and Exit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "app/ProgramFixture.h"
#include "picture/Graphics.h"
#include "ui/Dialogs.h"
#include "ui/StdCtrls.h"

using namespace programtest;

namespace {

// A pixel of the screen that no drawn flake covers, from the records as the last frame left them.
bool FindBareScreenPixel(int screenW, int screenH, int& outX, int& outY) {
  for (int y = 0; y < screenH; y += 7)
    for (int x = 0; x < screenW; x += 7) {
      bool covered = false;
      for (int i = 0; i < FlakeCount && !covered; ++i) {
        const TFlake& f = Flakes[i];
        if (!f.Active) continue;
        double l = std::nearbyint(f.X), t = std::nearbyint(f.Y);
        covered = x >= l - 1 && x <= l + f.SpriteWidth && y >= t - 1 && y <= t + f.SpriteHeight;
      }
      if (!covered) {
        outX = x;
        outY = y;
        return true;
      }
    }
  return false;
}

}  // namespace

// ---- start-up ----

class StartUp : public ProgramFixture {};

TEST_F(StartUp, FormatListHasTheUnitsInStartUpOrder) {
  Start();
  std::string order;
  for (int i = 0; i < PictureFormats().Count(); ++i) order += PictureFormats().Item(i).Extension + " ";
  EXPECT_EQ(order, "wmf emf ico bmp jpeg jpg dib png ");
}

TEST_F(StartUp, LeavesMediumDensityWindOnAndTheFirstThreeHundredRecordsFilled) {
  Start();
  EXPECT_EQ(Application->Title(), "Kirno Desktop Snow");
  EXPECT_EQ(Application->MainForm(), Form1);
  EXPECT_EQ(FlakeCount, 300);
  for (int i = 0; i < MaxFlakes; ++i) ASSERT_EQ(Flakes[i].Active, i < 300) << i;
  EXPECT_TRUE(WindEnabled);
  EXPECT_EQ(WindX, 0.0);
  EXPECT_EQ(WindTargetX, 0.0);
  EXPECT_TRUE(Form1->DXDraw1->Initialized());
  EXPECT_TRUE(Form1->DXTimer2->Enabled());
}

TEST_F(StartUp, FormCoversTheScreenAndTheSurfaceOverhangsItByFifteenAndNineteen) {
  Start();
  EXPECT_EQ(Form1->BoundsRect(), Rect(0, 0, 320, 200));
  EXPECT_EQ(Form1->DXDraw1->BoundsRect(), Rect(0, 0, 335, 219));
}

TEST_F(StartUp, SurfaceFollowsAnyScreenSizeThroughItsAnchors) {
  screenWidth = 640;
  screenHeight = 480;
  Start();
  EXPECT_EQ(Form1->DXDraw1->Width(), 655);
  EXPECT_EQ(Form1->DXDraw1->Height(), 499);
}

TEST_F(StartUp, ProgramShowsNoTaskbarButton) {
  Start();
  Frames(1);
  plat::LONG_PTR ex = plat::Windows().GetWindowLongPtr(Application->Handle(), plat::GWL_EXSTYLE);
  EXPECT_NE(ex & plat::WS_EX_TOOLWINDOW, 0);
  EXPECT_TRUE(windows().TaskbarButtons().empty());
}

TEST_F(StartUp, NoFrameIsDrawnBeforeTheLoopRuns) {
  MakePlatform();
  ddraw().FillScreen(0x000000);
  Start();
  EXPECT_EQ(ddraw().ScreenPixel(5, 5), 0xFF000000u);
}

TEST_F(StartUp, FirstFrameComesWithoutUserActionAndShowsTheWallpaper) {
  MakePlatform();
  ddraw().FillScreen(0x000000);
  Start();
  ASSERT_EQ(Frames(1), 1);
  int x = 0, y = 0;
  ASSERT_TRUE(FindBareScreenPixel(320, 200, x, y));
  EXPECT_EQ(ddraw().ScreenPixel(x, y), 0xFF000000u | kWallpaperColour) << x << "," << y;
}

TEST_F(StartUp, FlakesShowAsWhiteOverTheWallpaper) {
  Start();
  Frames(1);
  // The big sprites are opaque in their middle; find one drawn fully on screen.
  for (int i = 0; i < FlakeCount; ++i) {
    const TFlake& f = Flakes[i];
    int cx = static_cast<int>(std::nearbyint(f.X)) + f.SpriteWidth / 2;
    int cy = static_cast<int>(std::nearbyint(f.Y)) + f.SpriteHeight / 2;
    if (f.SpriteIndex != 4 || cx < 0 || cy < 0 || cx >= 320 || cy >= 200) continue;
    std::uint32_t p = ddraw().ScreenPixel(cx, cy);
    // Near white: every channel far above the wallpaper's 0x20 red and 0x40 green.
    EXPECT_GT((p >> 16) & 0xFF, 0xA0u) << std::hex << p;
    EXPECT_GT((p >> 8) & 0xFF, 0xA0u) << std::hex << p;
    return;
  }
  GTEST_SKIP() << "no 34x33 flake fully on screen with this seed";
}

TEST_F(StartUp, SurfaceThatCannotStartLeavesTheWindOffAndNoFrames) {
  MakePlatform();
  ddraw().SetLibraryAvailable(false);
  Start();
  ASSERT_EQ(windows().MessageBoxes().size(), 1u);
  EXPECT_EQ(windows().MessageBoxes()[0].caption, "Kirno Desktop Snow");
  EXPECT_TRUE(Flakes[0].Active) << "the records are filled before the surface starts";
  EXPECT_FALSE(WindEnabled);
  EXPECT_FALSE(Form1->DXTimer2->Enabled());
  EXPECT_EQ(Frames(3), 0);
}

// ---- the start-up and shut-down sequence every run uses ----

class Sequence : public ProgramFixture {};

TEST_F(Sequence, LoopRunsOnTheStartedProgramAndShutdownFollows) {
  MakePlatform();
  bool started = false;
  std::int64_t frames = 0;
  TProgramOutcome o = RunProgram([&] {
    started = Form1 && Application->MainForm() == Form1 && Application->Title() == "Kirno Desktop Snow";
    frames = Frames(2);
  });
  EXPECT_TRUE(started);
  EXPECT_EQ(frames, 2);
  EXPECT_FALSE(o.Escaped);
  EXPECT_EQ(o.ErrorReports, 0);
  EXPECT_EQ(Application, nullptr);
  EXPECT_EQ(Form1, nullptr);
  EXPECT_EQ(LoadedDirectXLibraryCount(), 0);
}

TEST_F(Sequence, ErrorEscapingTheLoopIsShownInTheErrorBoxAndShutdownStillRuns) {
  MakePlatform();
  TProgramOutcome o = RunProgram([] { throw Exception("Loop failed"); });
  EXPECT_TRUE(o.Escaped);
  EXPECT_EQ(o.ErrorReports, 1);
  ASSERT_EQ(windows().MessageBoxes().size(), 1u);
  EXPECT_EQ(windows().MessageBoxes()[0].text, "Loop failed.");
  EXPECT_EQ(windows().MessageBoxes()[0].caption, "Kirno Desktop Snow");
  EXPECT_EQ(Application, nullptr);
  EXPECT_EQ(Form1, nullptr);
}

TEST_F(Sequence, SilentAbortEscapingTheLoopShowsNoBox) {
  MakePlatform();
  TProgramOutcome o = RunProgram([] { throw EAbort("quiet"); });
  EXPECT_TRUE(o.Escaped);
  EXPECT_EQ(o.ErrorReports, 0);
  EXPECT_TRUE(windows().MessageBoxes().empty());
}

TEST_F(Sequence, StartUpErrorBoxesAreCountedWhileTheRunGoesOn) {
  MakePlatform();
  registry().SetString(plat::HKEY_CURRENT_USER, "Control Panel\\Desktop", "WallPaper", "");
  TProgramOutcome o = RunProgram([] {});
  EXPECT_FALSE(o.Escaped);
  EXPECT_EQ(o.ErrorReports, 1);
}

// ---- desktop attachment ----

class Desktop : public ProgramFixture {};

TEST_F(Desktop, FormBecomesAChildOfTheIconViewAtItsOrigin) {
  Start();
  Frames(1);
  EXPECT_EQ(Form1->ParentWindow(), desktop().listView);
  EXPECT_EQ(plat::Windows().GetParent(Form1->Handle()), desktop().listView);
  plat::RECT r{};
  plat::Windows().GetWindowRect(Form1->Handle(), &r);
  EXPECT_EQ(TRect::FromRECT(r), Rect(0, 0, 320, 200));
  EXPECT_NE(plat::Windows().GetWindowLongPtr(Form1->Handle(), plat::GWL_STYLE) & plat::WS_CHILD, 0);
}

TEST_F(Desktop, WithoutShellTheFormStaysABorderlessTopLevelWindow) {
  MakePlatform(Shell::None);
  Start();
  ASSERT_EQ(Frames(1), 1);
  EXPECT_EQ(Form1->ParentWindow(), nullptr);
  plat::LONG_PTR style = plat::Windows().GetWindowLongPtr(Form1->Handle(), plat::GWL_STYLE);
  EXPECT_EQ(style & plat::WS_CHILD, 0);
  EXPECT_NE(style & plat::WS_POPUP, 0);
  plat::RECT r{};
  plat::Windows().GetWindowRect(Form1->Handle(), &r);
  EXPECT_EQ(TRect::FromRECT(r), Rect(0, 0, 320, 200));
  EXPECT_TRUE(windows().TaskbarButtons().empty());
}

TEST_F(Desktop, ShellWithoutIconViewIsNotAttached) {
  MakePlatform(Shell::NoListView);
  Start();
  EXPECT_EQ(FindDesktopListView(), nullptr);
  EXPECT_EQ(Form1->ParentWindow(), nullptr);
}

TEST_F(Desktop, ClassNameInOtherLetterCaseDoesNotMatch) {
  MakePlatform(Shell::OtherClass, "syslistview32");
  EXPECT_EQ(FindDesktopListView(), nullptr);
}

TEST_F(Desktop, ClassNameLongerThanTheBufferIsCutAndDoesNotMatch) {
  MakePlatform(Shell::OtherClass, "SysListView32SysListView32SysListView32SysListView32");
  EXPECT_EQ(FindDesktopListView(), nullptr);
}

// ---- menu ----

class Menu : public ProgramFixture {};

TEST_F(Menu, RightClickShowsTheStoredMenuWithMediumAndWindChecked) {
  Start();
  Frames(1);
  Choose(nullptr);
  ASSERT_EQ(windows().TrackedMenus().size(), 1u);
  const auto& items = windows().TrackedMenus()[0].items;
  std::string shown;
  for (const auto& it : items)
    shown += std::string(it.depth, '>') + (it.separator ? "-" : it.caption) + (it.checked ? "*" : "") +
             (it.radio ? "o" : "") + "|";
  EXPECT_EQ(shown, "Snowflakes|>Very fewo|>Fewo|>Medium*o|>Manyo|>Snow stormo|Wind*|-|About|Exit|");
}

TEST_F(Menu, ClosingTheMenuWithoutAChoiceChangesNothing) {
  Start();
  Frames(3);
  std::string before = SnowStateJson();
  Choose(nullptr);
  EXPECT_EQ(SnowStateJson(), before);
}

TEST_F(Menu, FewChecksFewUnchecksMediumAndStopsTheHigherRecords) {
  Start();
  Frames(2);
  Choose(Form1->Few1);
  EXPECT_EQ(FlakeCount, 150);
  EXPECT_TRUE(Form1->Few1->Checked());
  EXPECT_FALSE(Form1->Medium1->Checked());
  TFlake frozen = Flakes[200];
  TFlake moving = Flakes[10];
  Frames(1);
  EXPECT_EQ(Flakes[200].X, frozen.X);
  EXPECT_EQ(Flakes[200].Y, frozen.Y);
  EXPECT_NE(Flakes[10].Y, moving.Y);
}

TEST_F(Menu, MediumAgainBringsStoppedRecordsBackWhereTheyStopped) {
  Start();
  Frames(1);
  Choose(Form1->Few1);
  Frames(3);
  TFlake frozen = Flakes[250];
  Choose(Form1->Medium1);
  EXPECT_EQ(Flakes[250].Y, frozen.Y);
  Frames(1);
  EXPECT_EQ(Flakes[250].Y, frozen.Y + frozen.VY) << "moves on from its stored place";
}

TEST_F(Menu, CheckedDensityItemAgainChangesNothing) {
  Start();
  Frames(1);
  std::string before = SnowStateJson();
  Choose(Form1->Medium1);
  EXPECT_EQ(FlakeCount, 300);
  EXPECT_TRUE(Form1->Medium1->Checked());
  EXPECT_EQ(SnowStateJson(), before);
}

TEST_F(Menu, SnowStormFillsTheNewRecordsAtOnceAndTheyMoveInTheNextFrame) {
  Start();
  Frames(1);
  Choose(Form1->Snowstorm1);
  EXPECT_EQ(FlakeCount, 1000);
  EXPECT_TRUE(Form1->Snowstorm1->Checked());
  EXPECT_FALSE(Form1->Medium1->Checked());
  for (int i = 0; i < MaxFlakes; ++i) ASSERT_TRUE(Flakes[i].Active) << i;
  const TFlake added = Flakes[900];
  EXPECT_GE(added.X, 0);
  EXPECT_LT(added.X, 335);
  EXPECT_GE(added.Y, 0);
  EXPECT_LT(added.Y, 219);
  Frames(1);
  EXPECT_NE(Flakes[900].Y, added.Y);
}

TEST_F(Menu, ManyFillsOnlyUpToFiveHundred) {
  Start();
  Frames(1);
  Choose(Form1->Many1);
  EXPECT_EQ(FlakeCount, 500);
  EXPECT_TRUE(Flakes[499].Active);
  EXPECT_FALSE(Flakes[500].Active);
}

TEST_F(Menu, AboutShowsThreeLinesCaptionedWithTheTitleWithoutIcon) {
  Start();
  Frames(1);
  std::string caption, text, button;
  int controls = -1;
  TModalLoopHook old = SetModalLoopHook([&](TModalForm& f, int) {
    auto& d = dynamic_cast<TMessageForm&>(f);
    caption = d.Caption();
    text = d.Text();
    controls = d.ControlCount();
    button = d.OkButton()->Caption();
    d.SetModalResult(mrOk);
  });
  Choose(Form1->About1);
  SetModalLoopHook(std::move(old));
  EXPECT_EQ(caption, "Kirno Desktop Snow");
  EXPECT_EQ(controls, 2) << "the text and one button, no icon";
  EXPECT_EQ(button, "OK");
  EXPECT_EQ(text, SAboutText);
  EXPECT_NE(text.find("example.org"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
}

TEST_F(Menu, ExitEndsTheLoopWithoutAFurtherFrame) {
  Start();
  ASSERT_EQ(Frames(5), 5);
  Choose(Form1->Exit1);
  EXPECT_TRUE(Application->Terminated());
  EXPECT_EQ(Frames(10), 0);
}

// ---- wind ----

class Wind : public ProgramFixture {};

TEST_F(Wind, SwitchingOffClearsTheTargetsAndUnchecksTheItem) {
  Start();
  WindTargetX = 0.5;
  WindTargetY = 0.1;
  Choose(Form1->Wind1);
  EXPECT_FALSE(WindEnabled);
  EXPECT_FALSE(Form1->Wind1->Checked());
  EXPECT_EQ(WindTargetX, 0.0);
  EXPECT_EQ(WindTargetY, 0.0);
}

TEST_F(Wind, SwitchingTwiceReturnsToWindOnWithZeroTargets) {
  Start();
  WindTargetX = -0.7;
  Choose(Form1->Wind1);
  Choose(Form1->Wind1);
  EXPECT_TRUE(WindEnabled);
  EXPECT_TRUE(Form1->Wind1->Checked());
  EXPECT_EQ(WindTargetX, 0.0);
}

TEST_F(Wind, OffWindEasesForTwentyTwoFramesAndIsZeroedInTheTwentyThird) {
  Start();
  Frames(1);
  WindX = 1;
  WindY = 49.0 / 300;
  WindTargetX = 1;
  WindTargetY = 49.0 / 300;
  Choose(Form1->Wind1);
  double x = 1, y = 49.0 / 300;
  for (int frame = 1; frame <= 22; ++frame) {
    ASSERT_EQ(Frames(1), 1);
    x = x + (0 - x) / 10;
    y = y + (0 - y) / 10;
    ASSERT_EQ(WindX, x) << frame;
    ASSERT_EQ(WindY, y) << frame;
  }
  EXPECT_LT(WindX, 0.1);
  ASSERT_EQ(Frames(1), 1);
  EXPECT_EQ(WindX, 0.0);
  EXPECT_EQ(WindY, 0.0);
}

// ---- frames ----

class FrameTick : public ProgramFixture {
 protected:
  std::vector<std::uint32_t> RunWithLag(std::int32_t lag, std::string& state) {
    Start();
    for (int i = 0; i < 6; ++i) Form1->DXTimer2Timer(Form1->DXTimer2, lag);
    state = SnowStateJson();
    std::vector<std::uint32_t> screen = ddraw().ScreenPixels();
    Stop();
    return screen;
  }
};

TEST_F(FrameTick, LagCountOneAndFiftyGiveIdenticalFrames) {
  std::string a, b;
  std::vector<std::uint32_t> one = RunWithLag(1, a);
  std::vector<std::uint32_t> fifty = RunWithLag(50, b);
  EXPECT_EQ(a, b);
  EXPECT_TRUE(one == fifty);
}

TEST_F(FrameTick, FramesThatFailAreReportedAndTheRunStillEnds) {
  Start();
  Form1->DXTimer2->OnTimer = [](TObject*, std::int32_t) { throw Exception("Frame failed"); };
  EXPECT_EQ(Frames(3), 3);
  ASSERT_EQ(windows().MessageBoxes().size(), 3u);
  EXPECT_EQ(windows().MessageBoxes()[2].text, "Frame failed.");
}

TEST_F(FrameTick, TwoRunsWithTheSameSeedDrawTheSameScreen) {
  Start();
  Frames(20);
  std::vector<std::uint32_t> first = ddraw().ScreenPixels();
  Stop();
  Start();
  Frames(20);
  EXPECT_TRUE(first == ddraw().ScreenPixels());
}

TEST_F(FrameTick, FramesWaitForTheVerticalBlank) {
  Start();
  std::uint64_t waits = ddraw().VerticalBlankWaits();
  Frames(4);
  EXPECT_EQ(ddraw().VerticalBlankWaits() - waits, 4u);
}
