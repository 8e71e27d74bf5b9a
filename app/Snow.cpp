#include "app/Snow.h"

#include <cmath>
#include <cstring>

#include "core/SysUtils.h"
#include "platform/Clock.h"
#include "platform/Platform.h"

TFlake Flakes[MaxFlakes];
std::int32_t FlakeCount = 0;
std::uint32_t RandomSeed = 0;

double WindX = 0;
double WindY = 0;
double WindTargetX = 0;
double WindTargetY = 0;
bool WindEnabled = false;

std::int32_t RandomBelow(std::int32_t n) {
  RandomSeed = RandomSeed * 0x08088405u + 1u;
  std::uint64_t product = static_cast<std::uint64_t>(RandomSeed) * static_cast<std::uint32_t>(n);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(product >> 32));
}

void SeedRandomFromClock() {
  std::int64_t counter = 0;
  if (plat::Clocks().QueryPerformanceCounter(&counter))
    RandomSeed = static_cast<std::uint32_t>(static_cast<std::uint64_t>(counter));
  else
    RandomSeed = plat::Clocks().GetTickCount();
}

static double Area(std::int32_t w, std::int32_t h) {
  // The product is a 32-bit integer product, converted before any division.
  return static_cast<double>(
      static_cast<std::int32_t>(static_cast<std::uint32_t>(w) * static_cast<std::uint32_t>(h)));
}

static void ChooseSprite(ISnowScene& scene, TFlake& f) {
  f.SpriteIndex = RandomBelow(scene.PictureCount() - 1) + 1;
  f.SpriteWidth = scene.PictureWidth(f.SpriteIndex);
  f.SpriteHeight = scene.PictureHeight(f.SpriteIndex);
}

void InitFlake(ISnowScene& scene, int i) {
  TFlake& f = Flakes[i];
  f.X = RandomBelow(scene.SurfaceWidth());
  f.Y = RandomBelow(scene.SurfaceHeight());
  f.VX = 0;
  ChooseSprite(scene, f);
  f.VY = Area(f.SpriteWidth, f.SpriteHeight) / 100;
  f.Active = true;
}

void InitFlakes(ISnowScene& scene) {
  for (int i = 0; i < FlakeCount && i < MaxFlakes; ++i) InitFlake(scene, i);
}

void FillInactiveFlakes(ISnowScene& scene) {
  for (int i = 0; i < FlakeCount && i < MaxFlakes; ++i)
    if (!Flakes[i].Active) InitFlake(scene, i);
}

void ApplyWind() {
  for (int i = 0; i < FlakeCount && i < MaxFlakes; ++i) {
    TFlake& f = Flakes[i];
    if (!f.Active) continue;
    double k = Area(f.SpriteWidth, f.SpriteHeight) / 5000;
    f.VY = f.VY + WindY * k;
    f.VX = f.VX + WindX * k;
  }
}

void RespawnFlake(ISnowScene& scene, TFlake& f) {
  f.VX = 0;
  ChooseSprite(scene, f);
  std::int32_t n = RoundHalfEven((1 - std::fabs(WindX)) * 2) + 2;
  if (RandomBelow(n) == 1) {
    if (WindX >= 0)
      f.X = 1 - f.SpriteWidth;
    else
      f.X = scene.SurfaceWidth() - 1;
    f.Y = RandomBelow(scene.SurfaceHeight());
  } else {
    f.X = RandomBelow(scene.SurfaceWidth());
    f.Y = 1 - f.SpriteHeight;
  }
  f.VY = Area(f.SpriteWidth, f.SpriteHeight) / 100;
  f.Active = true;
}

void MoveAndDrawFlakes(ISnowScene& scene) {
  scene.StretchDrawBackground(Rect(0, 0, scene.SurfaceWidth(), scene.SurfaceHeight()));
  for (int i = 0; i < FlakeCount && i < MaxFlakes; ++i) {
    TFlake& f = Flakes[i];
    if (!f.Active) continue;
    f.X = f.X + f.VX;
    f.Y = f.Y + f.VY;
    bool inside = f.SpriteWidth + f.X > 0 && scene.SurfaceWidth() > f.X && f.SpriteHeight + f.Y > 0 &&
                  scene.SurfaceHeight() > f.Y;
    if (inside)
      scene.DrawPicture(f.SpriteIndex, RoundHalfEven(f.X), RoundHalfEven(f.Y));
    else
      RespawnFlake(scene, f);
  }
}

void StepWind() {
  bool close = std::fabs(WindX - WindTargetX) < 0.1 && std::fabs(WindY - WindTargetY) < 0.1;
  if (close) {
    std::int32_t r = RandomBelow(50);
    if (r == 1 && WindEnabled) {
      WindTargetX = 1 - RandomBelow(300) / 150.0;
      WindTargetY = RandomBelow(50) / 300.0;
    }
    if (!WindEnabled) {
      WindX = 0;
      WindY = 0;
    }
    return;
  }
  double d = WindEnabled ? 1000 : 10;
  WindX = WindX + (WindTargetX - WindX) / d;
  WindY = WindY + (WindTargetY - WindY) / d;
}

void ResetSnowState() {
  std::memset(static_cast<void*>(Flakes), 0, sizeof Flakes);
  FlakeCount = 0;
  RandomSeed = 0;
  WindX = WindY = WindTargetX = WindTargetY = 0;
  WindEnabled = false;
}
