#include <gtest/gtest.h>

#include <vector>

#include "app/Snow.h"

namespace {

// A scene with the stored sprite sizes that records what was drawn.
class RecordingScene : public ISnowScene {
 public:
  std::int32_t width = 1295, height = 739;
  std::vector<std::pair<std::int32_t, std::int32_t>> sizes = {
      {0, 0}, {32, 43}, {10, 10}, {21, 32}, {34, 33}, {14, 19}, {14, 20}, {18, 28}, {15, 19}};
  struct Draw {
    std::int32_t index, x, y;
  };
  std::vector<Draw> draws;
  std::vector<TRect> backgrounds;

  std::int32_t SurfaceWidth() override { return width; }
  std::int32_t SurfaceHeight() override { return height; }
  std::int32_t PictureCount() override { return static_cast<std::int32_t>(sizes.size()); }
  std::int32_t PictureWidth(std::int32_t i) override { return sizes[i].first; }
  std::int32_t PictureHeight(std::int32_t i) override { return sizes[i].second; }
  void StretchDrawBackground(const TRect& r) override { backgrounds.push_back(r); }
  void DrawPicture(std::int32_t i, std::int32_t x, std::int32_t y) override { draws.push_back({i, x, y}); }
};

class SnowTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSnowState(); }
  void TearDown() override { ResetSnowState(); }
  RecordingScene scene;

  // One flake, alone in the field, at a given position with a 10x10 sprite and no velocity.
  TFlake& PlaceFlake(double x, double y) {
    FlakeCount = 1;
    TFlake& f = Flakes[0];
    f = TFlake{x, y, 0, 0, 2, 10, 10, true};
    return f;
  }
};

TEST_F(SnowTest, FirstDrawFromZeroSeedReturnsZeroAndAdvancesToOne) {
  EXPECT_EQ(RandomBelow(1000), 0);
  EXPECT_EQ(RandomSeed, 1u);
  RandomBelow(7);
  EXPECT_EQ(RandomSeed, 0x08088406u);
}

TEST_F(SnowTest, DrawIsHighWordOfSeedTimesBound) {
  RandomSeed = 0x7FFFFFFF;
  std::uint32_t next = 0x7FFFFFFFu * 0x08088405u + 1u;
  std::int32_t expected = static_cast<std::int32_t>((static_cast<std::uint64_t>(next) * 300u) >> 32);
  EXPECT_EQ(RandomBelow(300), expected);
  EXPECT_GE(expected, 0);
  EXPECT_LT(expected, 300);
}

TEST_F(SnowTest, DrawBelowZeroIsZero) {
  RandomSeed = 12345;
  EXPECT_EQ(RandomBelow(0), 0);
}

TEST_F(SnowTest, InitFlakesFillsExactlyTheCountedRecords) {
  FlakeCount = 300;
  RandomSeed = 42;
  InitFlakes(scene);
  for (int i = 0; i < MaxFlakes; ++i) ASSERT_EQ(Flakes[i].Active, i < 300) << i;
  for (int i = 0; i < 300; ++i) {
    const TFlake& f = Flakes[i];
    EXPECT_GE(f.X, 0);
    EXPECT_LT(f.X, scene.width);
    EXPECT_GE(f.Y, 0);
    EXPECT_LT(f.Y, scene.height);
    EXPECT_EQ(f.VX, 0);
    ASSERT_GE(f.SpriteIndex, 1);
    ASSERT_LE(f.SpriteIndex, 8);
    EXPECT_EQ(f.SpriteWidth, scene.sizes[f.SpriteIndex].first);
    EXPECT_EQ(f.VY, f.SpriteWidth * f.SpriteHeight / 100.0);
  }
}

TEST_F(SnowTest, InitFlakesDrawsPositionThenSprite) {
  FlakeCount = 1;
  RandomSeed = 99;
  InitFlakes(scene);
  RandomSeed = 99;
  std::int32_t x = RandomBelow(scene.width);
  std::int32_t y = RandomBelow(scene.height);
  std::int32_t sprite = RandomBelow(8) + 1;
  EXPECT_EQ(Flakes[0].X, x);
  EXPECT_EQ(Flakes[0].Y, y);
  EXPECT_EQ(Flakes[0].SpriteIndex, sprite);
}

TEST_F(SnowTest, BackgroundIsStretchedOverTheWholeSurfaceFirst) {
  PlaceFlake(100, 100);
  MoveAndDrawFlakes(scene);
  ASSERT_EQ(scene.backgrounds.size(), 1u);
  EXPECT_EQ(scene.backgrounds[0], Rect(0, 0, 1295, 739));
}

TEST_F(SnowTest, FlakeOverlappingByAFractionIsDrawnAtItsRoundedPosition) {
  PlaceFlake(-0.5, 0);
  MoveAndDrawFlakes(scene);
  ASSERT_EQ(scene.draws.size(), 1u);
  EXPECT_EQ(scene.draws[0].x, 0);

  scene.draws.clear();
  PlaceFlake(1.5, 2.5);
  MoveAndDrawFlakes(scene);
  ASSERT_EQ(scene.draws.size(), 1u);
  EXPECT_EQ(scene.draws[0].x, 2);
  EXPECT_EQ(scene.draws[0].y, 2);
}

TEST_F(SnowTest, FlakeAtTheRightEdgeOrJustPastTheLeftRespawnsWithoutBeingDrawn) {
  PlaceFlake(scene.width, 10);
  MoveAndDrawFlakes(scene);
  EXPECT_TRUE(scene.draws.empty());

  PlaceFlake(-10, 10);  // right edge exactly at 0
  MoveAndDrawFlakes(scene);
  EXPECT_TRUE(scene.draws.empty());
  EXPECT_TRUE(Flakes[0].Active);
  EXPECT_EQ(Flakes[0].VX, 0);
}

TEST_F(SnowTest, RespawnDrawsSpriteThenSideThenPosition) {
  struct Case {
    double windX;
    std::int32_t n;
  };
  for (Case c : {Case{0.75, 2}, Case{-0.25, 4}, Case{0.25, 4}, Case{0.5, 3}, Case{0, 4}, Case{-1, 2}}) {
    for (std::uint32_t seed : {1u, 2u, 3u, 77u, 1000u}) {
      WindX = c.windX;
      RandomSeed = seed;
      TFlake f{};
      RespawnFlake(scene, f);

      RandomSeed = seed;
      std::int32_t sprite = RandomBelow(8) + 1;
      std::int32_t w = scene.sizes[sprite].first, h = scene.sizes[sprite].second;
      bool side = RandomBelow(c.n) == 1;
      double x, y;
      if (side) {
        x = c.windX >= 0 ? 1 - w : scene.width - 1;
        y = RandomBelow(scene.height);
      } else {
        x = RandomBelow(scene.width);
        y = 1 - h;
      }
      EXPECT_EQ(f.SpriteIndex, sprite);
      EXPECT_EQ(f.X, x) << "wind " << c.windX << " seed " << seed;
      EXPECT_EQ(f.Y, y) << "wind " << c.windX << " seed " << seed;
      EXPECT_EQ(f.VY, w * h / 100.0);
      EXPECT_TRUE(f.Active);
    }
  }
}

TEST_F(SnowTest, WindIsAddedScaledBySpriteArea) {
  PlaceFlake(0, 0);
  Flakes[0].SpriteWidth = 32;
  Flakes[0].SpriteHeight = 43;
  Flakes[0].VY = 13.76;
  WindX = 0.5;
  WindY = 0.1;
  ApplyWind();
  EXPECT_DOUBLE_EQ(Flakes[0].VX, 0.5 * 0.2752);
  EXPECT_DOUBLE_EQ(Flakes[0].VY, 13.76 + 0.1 * 0.2752);
}

TEST_F(SnowTest, RecordsAboveTheCountFreezeAndReturnWhereTheyStopped) {
  FlakeCount = 300;
  RandomSeed = 5;
  InitFlakes(scene);
  TFlake before = Flakes[200];
  FlakeCount = 150;
  for (int i = 0; i < 5; ++i) MoveAndDrawFlakes(scene);
  EXPECT_EQ(Flakes[200].Y, before.Y);
  FlakeCount = 300;
  scene.draws.clear();
  MoveAndDrawFlakes(scene);
  EXPECT_EQ(Flakes[200].Y, before.Y + before.VY);
}

TEST_F(SnowTest, RaisedCountFillsNeverFilledRecordsAtOnce) {
  FlakeCount = 300;
  RandomSeed = 5;
  InitFlakes(scene);
  TFlake kept = Flakes[10];
  FlakeCount = 1000;
  FillInactiveFlakes(scene);
  for (int i = 0; i < MaxFlakes; ++i) ASSERT_TRUE(Flakes[i].Active) << i;
  EXPECT_EQ(Flakes[10].X, kept.X);
  EXPECT_EQ(Flakes[10].Y, kept.Y);
}

TEST_F(SnowTest, DifferenceOfExactlyATenthIsNotClose) {
  WindEnabled = true;
  WindX = 0.1;
  WindTargetX = 0;
  std::uint32_t seed = RandomSeed;
  StepWind();
  EXPECT_EQ(RandomSeed, seed) << "a frame that is not close draws nothing";
  EXPECT_EQ(WindX, 0.1 - 0.1 / 1000);
}

TEST_F(SnowTest, WindOffDiesAwayInTwentyTwoFramesAndIsZeroedInTheTwentyThird) {
  WindX = 1;
  WindY = 49.0 / 300;
  WindEnabled = false;
  WindTargetX = WindTargetY = 0;
  for (int frame = 1; frame <= 22; ++frame) {
    StepWind();
    ASSERT_NE(WindX, 0) << frame;
  }
  StepWind();
  EXPECT_EQ(WindX, 0);
  EXPECT_EQ(WindY, 0);
}

TEST_F(SnowTest, CloseFrameWithWindOffConsumesOneDrawAndSetsNoTarget) {
  WindEnabled = false;
  for (std::uint32_t seed = 0; seed < 200; ++seed) {
    RandomSeed = seed;
    StepWind();
    EXPECT_EQ(RandomSeed, seed * 0x08088405u + 1u);
    EXPECT_EQ(WindTargetX, 0);
    EXPECT_EQ(WindTargetY, 0);
  }
}

TEST_F(SnowTest, NewTargetComesOnlyWithDrawOfOne) {
  WindEnabled = true;
  int targets = 0;
  for (std::uint32_t seed = 0; seed < 5000; ++seed) {
    WindX = WindY = WindTargetX = WindTargetY = 0;
    RandomSeed = seed;
    bool one = RandomBelow(50) == 1;
    RandomSeed = seed;
    StepWind();
    if (one) {
      ++targets;
      EXPECT_LE(WindTargetX, 1.0);
      EXPECT_GE(WindTargetX, 1 - 299.0 / 150);
      EXPECT_GE(WindTargetY, 0.0);
      EXPECT_LE(WindTargetY, 49.0 / 300);
    } else {
      EXPECT_EQ(WindTargetX, 0);
    }
  }
  EXPECT_GT(targets, 50);
}

TEST_F(SnowTest, EasingFromZeroToATargetOfOneTakes2302Frames) {
  WindEnabled = true;
  WindTargetX = 1;
  int frames = 0;
  while (std::abs(WindX - WindTargetX) >= 0.1) {
    StepWind();
    ++frames;
    ASSERT_LT(frames, 10000);
  }
  EXPECT_EQ(frames, 2302);
}

}  // namespace
