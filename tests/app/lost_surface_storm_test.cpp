// The whole program through a storm of lost surfaces: surfaces lost now and then, their restores failing
// at times, and draws failing at random. The program must keep drawing, show no error, leave nothing
// behind, and come out of the storm with the very frame a calm run of the same seed draws.
//
// The test runs a short storm. scripts/storm.sh runs the long one through the same test with
// DS_STORM_FRAMES (and DS_STORM_SEED, DS_STORM_SCREEN=WxH) set, in the sanitizer build.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "app/PngWriter.h"
#include "app/ProgramFixture.h"
#include "platform/Gdi.h"
#include "platform/Platform.h"
#include "platform/common/SoftGdi.h"

using namespace programtest;

namespace {

std::int64_t EnvInt(const char* name, std::int64_t fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::strtoll(v, nullptr, 10) : fallback;
}

struct TStormCounts {
  std::int64_t frames = 0;           // frame ticks the program ran
  std::uint64_t presented = 0;       // frames that reached the screen
  std::int64_t losses = 0;           // times every surface was lost
  std::uint64_t failedRestores = 0;  // surface restores that failed
  std::uint64_t failedDraws = 0;     // draw calls that failed
};

// What a run leaves: the screen and the objects alive at its end.
struct TRunEnd {
  std::vector<std::uint32_t> screen;
  std::size_t ddrawObjects = 0;
  std::size_t gdiObjects = 0;
};

class LostSurfaceStorm : public ProgramFixture {
 protected:
  LostSurfaceStorm() {
    const std::string screen = std::getenv("DS_STORM_SCREEN") ? std::getenv("DS_STORM_SCREEN") : "";
    int w = 0, h = 0;
    if (std::sscanf(screen.c_str(), "%dx%d", &w, &h) == 2 && w > 0 && h > 0) {
      screenWidth = w;
      screenHeight = h;
    }
  }

  TRunEnd End() {
    TRunEnd e;
    e.screen = ddraw().ScreenPixels();
    e.ddrawObjects = ddraw().LiveObjectCount();
    e.gdiObjects = static_cast<plat::soft::SoftGdi&>(plat::GdiSvc()).LiveObjectCount();
    return e;
  }

  // Runs `frames` frames of storm, then `calm` frames without faults.
  TStormCounts Storm(std::int64_t frames, std::uint32_t stormSeed, std::int64_t calm) {
    TStormCounts c;
    std::mt19937 rng(stormSeed);
    auto percent = [&](unsigned p) { return rng() % 100 < p; };
    const std::uint64_t blitsBefore = ddraw().PrimaryBlits();
    const std::uint64_t restoresBefore = ddraw().FailedRestores(),
                        drawsBefore = ddraw().FailedDrawPrimitives();
    for (std::int64_t i = 0; i < frames; ++i) {
      if (percent(8)) {
        ddraw().LoseAllSurfaces();
        ++c.losses;
        if (percent(40)) ddraw().FailRestore(1 + static_cast<int>(rng() % 4));
      }
      if (percent(10)) ddraw().FailDrawPrimitive(1 + static_cast<int>(rng() % 30));
      c.frames += Frames(1);
    }
    ddraw().FailRestore(0);
    ddraw().FailDrawPrimitive(0);
    c.frames += Frames(calm);
    c.presented = ddraw().PrimaryBlits() - blitsBefore;
    c.failedRestores = ddraw().FailedRestores() - restoresBefore;
    c.failedDraws = ddraw().FailedDrawPrimitives() - drawsBefore;
    return c;
  }
};

TEST_F(LostSurfaceStorm, ProgramKeepsDrawingLeaksNothingAndEndsOnTheCalmRunsFrame) {
  const std::int64_t frames = EnvInt("DS_STORM_FRAMES", 400);
  const auto stormSeed = static_cast<std::uint32_t>(EnvInt("DS_STORM_SEED", 2026));
  const std::int64_t calm = 3;

  // The calm run: the same program and seed, no faults.
  Start();
  ASSERT_EQ(Frames(1 + frames + calm), 1 + frames + calm);
  const TRunEnd reference = End();
  Stop();

  Start();
  ASSERT_EQ(Frames(1), 1);
  const TStormCounts c = Storm(frames, stormSeed, calm);
  const TRunEnd stormy = End();

  std::printf(
      "storm: %lld frames drawn, %llu presented, %lld losses, %llu failed restores, %llu failed draws\n",
      static_cast<long long>(c.frames), static_cast<unsigned long long>(c.presented),
      static_cast<long long>(c.losses), static_cast<unsigned long long>(c.failedRestores),
      static_cast<unsigned long long>(c.failedDraws));
  std::printf("objects alive at the end: %zu DirectDraw (calm run %zu), %zu GDI (calm run %zu)\n",
              stormy.ddrawObjects, reference.ddrawObjects, stormy.gdiObjects, reference.gdiObjects);
  EXPECT_EQ(c.frames, frames + calm);
  EXPECT_GT(c.losses, 0);
  EXPECT_GT(c.failedRestores, 0u);
  EXPECT_GT(c.failedDraws, 0u);
  EXPECT_LT(c.presented, static_cast<std::uint64_t>(frames));  // the storm did keep frames off the screen
  EXPECT_GT(c.presented, static_cast<std::uint64_t>(calm));
  EXPECT_TRUE(windows().MessageBoxes().empty()) << windows().MessageBoxes()[0].text;
  EXPECT_TRUE(Form1->DXDraw1->Initialized());
  EXPECT_TRUE(Form1->DXTimer2->Enabled());
  EXPECT_EQ(stormy.ddrawObjects, reference.ddrawObjects);
  EXPECT_EQ(stormy.gdiObjects, reference.gdiObjects);
  int differing = 0;
  for (std::size_t i = 0; i < reference.screen.size(); ++i)
    differing += stormy.screen[i] != reference.screen[i];
  EXPECT_EQ(differing, 0) << "pixels unlike the calm run's after the storm; both screens are in "
                          << ::testing::TempDir();
  if (differing) {
    SavePng(::testing::TempDir() + "storm_calm.png", screenWidth, screenHeight, reference.screen);
    SavePng(::testing::TempDir() + "storm_after.png", screenWidth, screenHeight, stormy.screen);
  }
}

}  // namespace
