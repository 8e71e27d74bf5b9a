// The snow itself: the flake records, the program-wide random generator, the wind and one frame's step.
// The state is global because the whole program shares exactly one field and one generator; every draw
// from the generator happens in a fixed order, so a seed reproduces a run exactly.
#pragma once

#include <cstdint>

#include "core/Types.h"

struct TFlake {
  double X;   // left edge of the sprite
  double Y;   // top edge (down is positive)
  double VX;  // pixels per frame
  double VY;
  std::int32_t SpriteIndex;  // picture item, 1 .. picture count - 1
  std::int32_t SpriteWidth;
  std::int32_t SpriteHeight;
  bool Active;  // filled at least once
};

constexpr int MaxFlakes = 1000;
extern TFlake Flakes[MaxFlakes];
extern std::int32_t FlakeCount;
extern std::uint32_t RandomSeed;

extern double WindX;
extern double WindY;
extern double WindTargetX;
extern double WindTargetY;
extern bool WindEnabled;

// What the snow needs of the drawing surface and the picture list; the main form provides the real one,
// tests a recording one. Sizes are read afresh at every use.
class ISnowScene {
 public:
  virtual ~ISnowScene() = default;
  virtual std::int32_t SurfaceWidth() = 0;
  virtual std::int32_t SurfaceHeight() = 0;
  virtual std::int32_t PictureCount() = 0;
  virtual std::int32_t PictureWidth(std::int32_t index) = 0;
  virtual std::int32_t PictureHeight(std::int32_t index) = 0;
  // Picture item 0 stretched into r on the back surface.
  virtual void StretchDrawBackground(const TRect& r) = 0;
  virtual void DrawPicture(std::int32_t index, std::int32_t x, std::int32_t y) = 0;
};

// floor(RandomSeed' * n / 2^32) after advancing the 32-bit linear congruential state.
std::int32_t RandomBelow(std::int32_t n);
// Low 32 bits of the performance counter, or the tick count when there is no counter.
void SeedRandomFromClock();

void InitFlake(ISnowScene& scene, int i);
void InitFlakes(ISnowScene& scene);
// Fills the records below FlakeCount that were never filled, as InitFlakes does, so a raised count shows
// its extra flakes at once.
void FillInactiveFlakes(ISnowScene& scene);
void ApplyWind();
void RespawnFlake(ISnowScene& scene, TFlake& f);
void MoveAndDrawFlakes(ISnowScene& scene);
// The wind's part of one frame: ease towards the target, or, once close, maybe draw a new target.
void StepWind();
// Resets every global of the snow to its program-start value (tests and repeated runs in one process).
void ResetSnowState();
