// Geometry and colour types of the framework, laid out like their Windows counterparts.
#pragma once

#include <cstdint>

#include "platform/Types.h"

struct TPoint {
  std::int32_t X = 0, Y = 0;
  bool operator==(const TPoint& o) const { return X == o.X && Y == o.Y; }
  bool operator!=(const TPoint& o) const { return !(*this == o); }
};

struct TRect {
  std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  std::int32_t Width() const { return Right - Left; }
  std::int32_t Height() const { return Bottom - Top; }
  bool operator==(const TRect& o) const {
    return Left == o.Left && Top == o.Top && Right == o.Right && Bottom == o.Bottom;
  }
  bool operator!=(const TRect& o) const { return !(*this == o); }
  plat::RECT ToRECT() const { return {Left, Top, Right, Bottom}; }
  static TRect FromRECT(const plat::RECT& r) { return {r.left, r.top, r.right, r.bottom}; }
};

inline TPoint Point(std::int32_t x, std::int32_t y) {
  return {x, y};
}
inline TRect Rect(std::int32_t l, std::int32_t t, std::int32_t r, std::int32_t b) {
  return {l, t, r, b};
}
inline TRect Bounds(std::int32_t l, std::int32_t t, std::int32_t w, std::int32_t h) {
  return {l, t, l + w, t + h};
}

// A colour as 0x00BBGGRR, or one of the special values below.
using TColor = std::int32_t;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clBtnFace = static_cast<TColor>(0xFF00000F);
