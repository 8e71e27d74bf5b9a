// Reading enhanced and Windows metafile records in the soft GDI, shared by conversion
// (SoftMetafileConvert.cpp), playback (SoftMetafilePlay.cpp) and checking (SoftMetafile.cpp).
#pragma once

#include <cstddef>

#include "platform/Gdi.h"

namespace plat::soft {

// The most records a metafile may have.
constexpr std::size_t kMaxRecords = std::size_t(1) << 20;

inline DWORD R32(const BYTE* p) {
  return DWORD(p[0]) | (DWORD(p[1]) << 8) | (DWORD(p[2]) << 16) | (DWORD(p[3]) << 24);
}
inline WORD R16(const BYTE* p) {
  return WORD(p[0] | (p[1] << 8));
}
inline LONG L32(const BYTE* p) {
  return static_cast<LONG>(R32(p));
}
inline SHORT S16(const BYTE* p) {
  return static_cast<SHORT>(R16(p));
}

// One record's bytes; reads past its end yield 0 and mark the record bad.
struct Rec {
  const BYTE* p;
  std::size_t n;
  bool bad = false;
  bool Has(std::size_t off, std::size_t bytes) const { return off <= n && bytes <= n - off; }
  DWORD U(std::size_t off) {
    if (!Has(off, 4)) return bad = true, 0;
    return R32(p + off);
  }
  LONG L(std::size_t off) { return static_cast<LONG>(U(off)); }
  WORD W(std::size_t off) {
    if (!Has(off, 2)) return bad = true, 0;
    return R16(p + off);
  }
  SHORT S(std::size_t off) { return static_cast<SHORT>(W(off)); }
};

// Enhanced-metafile record types (EMR_HEADER and EMR_EOF come with the GDI).

enum : DWORD {
  EMR_POLYBEZIER = 2,
  EMR_POLYGON = 3,
  EMR_POLYLINE = 4,
  EMR_POLYBEZIERTO = 5,
  EMR_POLYLINETO = 6,
  EMR_POLYPOLYLINE = 7,
  EMR_POLYPOLYGON = 8,
  EMR_SETWINDOWEXTEX = 9,
  EMR_SETWINDOWORGEX = 10,
  EMR_SETVIEWPORTEXTEX = 11,
  EMR_SETVIEWPORTORGEX = 12,
  EMR_SETBRUSHORGEX = 13,
  EMR_SETPIXELV = 15,
  EMR_SETMAPMODE = 17,
  EMR_SETBKMODE = 18,
  EMR_SETPOLYFILLMODE = 19,
  EMR_SETSTRETCHBLTMODE = 21,
  EMR_SETTEXTCOLOR = 24,
  EMR_SETBKCOLOR = 25,
  EMR_MOVETOEX = 27,
  EMR_SAVEDC = 33,
  EMR_RESTOREDC = 34,
  EMR_SELECTOBJECT = 37,
  EMR_CREATEPEN = 38,
  EMR_CREATEBRUSHINDIRECT = 39,
  EMR_DELETEOBJECT = 40,
  EMR_ELLIPSE = 42,
  EMR_RECTANGLE = 43,
  EMR_ROUNDRECT = 44,
  EMR_SELECTPALETTE = 48,
  EMR_CREATEPALETTE = 49,
  EMR_REALIZEPALETTE = 52,
  EMR_LINETO = 54,
  EMR_BITBLT = 76,
  EMR_STRETCHBLT = 77,
  EMR_STRETCHDIBITS = 81,
  EMR_POLYBEZIER16 = 85,
  EMR_POLYGON16 = 86,
  EMR_POLYLINE16 = 87,
  EMR_POLYBEZIERTO16 = 88,
  EMR_POLYLINETO16 = 89,
  EMR_POLYPOLYLINE16 = 90,
  EMR_POLYPOLYGON16 = 91,
  EMR_EXTCREATEPEN = 95,
};

}  // namespace plat::soft
