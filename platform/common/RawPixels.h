// A pixel's raw value in memory of 8, 16, 24 or 32 bits per pixel (little-endian, whole bytes).
#pragma once

#include <cstdint>

#include "platform/Types.h"

namespace plat::soft {

inline DWORD ReadRaw(const std::uint8_t* p, int bpp) {
  switch (bpp) {
    case 8:
      return p[0];
    case 16:
      return DWORD(p[0]) | (DWORD(p[1]) << 8);
    case 24:
      return DWORD(p[0]) | (DWORD(p[1]) << 8) | (DWORD(p[2]) << 16);
    default:
      return DWORD(p[0]) | (DWORD(p[1]) << 8) | (DWORD(p[2]) << 16) | (DWORD(p[3]) << 24);
  }
}

inline void WriteRaw(std::uint8_t* p, int bpp, DWORD v) {
  p[0] = BYTE(v);
  if (bpp > 8) p[1] = BYTE(v >> 8);
  if (bpp > 16) p[2] = BYTE(v >> 16);
  if (bpp > 24) p[3] = BYTE(v >> 24);
}

}  // namespace plat::soft
