// The eight built-in snowflake sprites: white 32-bit images whose alpha byte is one soft blob. The pixels are
// computed from a few fixed shape parameters per sprite, so the stored form data that tools/gensprites writes
// can be made again byte for byte and checked against what is committed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int SpriteCount = 8;  // picture items 1 .. 8

// Parameters of one blob. The core falls off like exp(-0.5 * r^Shape) with r measured in the side's own
// spread, so Shape 2 is a bell curve and larger values make a flatter top with a steeper rim.
struct TSpriteShape {
  std::int32_t Width, Height;
  std::int32_t Peak;                // the largest alpha value
  double CentreX, CentreY;          // centre of the core
  double Left, Right, Up, Down;     // core spreads on each side of the centre
  double Shape;                     // falloff exponent of the core
  double Gain;                      // > 1 clips the core into a fully opaque plateau
  double BumpX, BumpY, BumpRadius;  // extra brightness that puts the peak off-centre (0 radius: none)
  double Bump;                      // its height relative to the core
  double Ripple;                    // amplitude of the gentle unevenness over the core
  double HaloLevel;                 // faint wide halo added in alpha units (0: none)
  double HaloX, HaloY;              // halo half-widths
  double HaloShape;                 // halo falloff exponent (large: flat with a sharp rim)
  std::int32_t Cut;                 // alpha values below this become 0
};

// Alpha values top row first, Width * Height of them.
struct TSpriteImage {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::vector<std::uint8_t> Alpha;
  std::uint8_t At(std::int32_t x, std::int32_t y) const {
    return Alpha[static_cast<std::size_t>(y) * static_cast<std::size_t>(Width) + static_cast<std::size_t>(x)];
  }
};

// Alpha-weighted figures of a sprite; the peak is the first largest value in reading order.
struct TSpriteStats {
  std::int32_t Peak = 0;
  std::int32_t PeakX = 0, PeakY = 0;
  double CentreX = 0, CentreY = 0;
  double SpreadX = 0, SpreadY = 0;
  std::int32_t NonZero = 0;
};

// The fitted parameters of item (1 .. SpriteCount); other numbers raise EListError.
const TSpriteShape& SpriteShape(int item);

// Evaluates a shape into alpha values. Deterministic: the same shape gives the same bytes on every run.
TSpriteImage RenderSprite(const TSpriteShape& shape);
TSpriteImage MakeSprite(int item);

TSpriteStats MeasureSprite(const TSpriteImage& image);

// The stored picture data of a sprite: length byte 4, "TDIB", a 40-byte info header (positive height,
// 32 bits, compression 3), the three 8-8-8 masks, then white BGRA pixels bottom row first:
// 57 + 4 * Width * Height bytes.
std::vector<std::uint8_t> SpriteFormData(const TSpriteImage& image);

// Binary data as the form description writes it: "{", lines of at most `perLine` bytes in upper-case hex,
// each indented by `indent`, and "}" closing the last line.
std::string FormatBinaryBlock(const std::vector<std::uint8_t>& data, const std::string& indent,
                              std::size_t perLine = 32);

// All eight sprites' stored data as binary blocks, items 1 to 8 in order, one block after the other.
std::string SpritesText();
