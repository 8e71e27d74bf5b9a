// Enhanced metafiles in the soft GDI: checking the bytes, turning a Windows metafile into an enhanced one,
// and playing the common records. Every read is bounds-checked against its record; unknown records are
// skipped.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/common/SoftGdi.h"
#include "platform/common/SoftGdiInternal.h"

namespace plat::soft {

namespace {

constexpr std::size_t kMaxRecords = std::size_t(1) << 20;
constexpr std::size_t kMaxWmfObjects = 4096;

DWORD R32(const BYTE* p) {
  return DWORD(p[0]) | (DWORD(p[1]) << 8) | (DWORD(p[2]) << 16) | (DWORD(p[3]) << 24);
}
WORD R16(const BYTE* p) {
  return WORD(p[0] | (p[1] << 8));
}
LONG L32(const BYTE* p) {
  return static_cast<LONG>(R32(p));
}
SHORT S16(const BYTE* p) {
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

}  // namespace

bool ValidateEnhMetaFile(const BYTE* data, std::size_t size) {
  if (!data || size < ENHMETAHEADER_BASE_SIZE) return false;
  if (R32(data) != EMR_HEADER || R32(data + 40) != ENHMETA_SIGNATURE) return false;
  const DWORD headerSize = R32(data + 4);
  if (headerSize < ENHMETAHEADER_BASE_SIZE || headerSize > size || headerSize % 4) return false;
  std::size_t off = headerSize, records = 1;
  bool sawEof = false;
  while (off < size) {
    if (size - off < 8) return false;
    const DWORD type = R32(data + off), rsize = R32(data + off + 4);
    if (rsize < 8 || rsize % 4 || rsize > size - off) return false;
    if (++records > kMaxRecords) return false;
    off += rsize;
    if (type == EMR_EOF) {
      sawEof = true;
      break;
    }
  }
  // Without an end record the data must be as long as the header says: otherwise it was cut short.
  return sawEof || R32(data + 48) <= size;
}

// ---------------------------------------------------------------------------------------------------------
// Windows metafile -> enhanced metafile

namespace {

enum : WORD {
  META_EOF = 0x0000,
  META_SAVEDC = 0x001E,
  META_REALIZEPALETTE = 0x0035,
  META_CREATEPALETTE = 0x00F7,
  META_SETBKMODE = 0x0102,
  META_SETMAPMODE = 0x0103,
  META_SETPOLYFILLMODE = 0x0106,
  META_SETSTRETCHBLTMODE = 0x0107,
  META_RESTOREDC = 0x0127,
  META_SELECTOBJECT = 0x012D,
  META_DIBCREATEPATTERNBRUSH = 0x0142,
  META_DELETEOBJECT = 0x01F0,
  META_CREATEPATTERNBRUSH = 0x01F9,
  META_SETBKCOLOR = 0x0201,
  META_SETTEXTCOLOR = 0x0209,
  META_SETWINDOWORG = 0x020B,
  META_SETWINDOWEXT = 0x020C,
  META_LINETO = 0x0213,
  META_MOVETO = 0x0214,
  META_SELECTPALETTE = 0x0234,
  META_CREATEPENINDIRECT = 0x02FA,
  META_CREATEFONTINDIRECT = 0x02FB,
  META_CREATEBRUSHINDIRECT = 0x02FC,
  META_POLYGON = 0x0324,
  META_POLYLINE = 0x0325,
  META_ELLIPSE = 0x0418,
  META_RECTANGLE = 0x041B,
  META_SETPIXEL = 0x041F,
  META_POLYPOLYGON = 0x0538,
  META_ROUNDRECT = 0x061C,
  META_PATBLT = 0x061D,
  META_CREATEREGION = 0x06FF,
  META_DIBBITBLT = 0x0940,
  META_DIBSTRETCHBLT = 0x0B41,
  META_STRETCHDIB = 0x0F43,
};

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

class EmfWriter {
 public:
  std::vector<BYTE> out;
  DWORD records = 0;
  std::size_t Begin(DWORD type) {
    const std::size_t at = out.size();
    Put32(type);
    Put32(0);
    return at;
  }
  void End(std::size_t at) {
    while (out.size() % 4) out.push_back(0);
    const DWORD n = static_cast<DWORD>(out.size() - at);
    std::memcpy(out.data() + at + 4, &n, 4);
    ++records;
  }
  void Put32(DWORD v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
  }
  void Put16(WORD v) {
    out.push_back(static_cast<BYTE>(v));
    out.push_back(static_cast<BYTE>(v >> 8));
  }
  void PutBytes(const BYTE* p, std::size_t n) { out.insert(out.end(), p, p + n); }
  void Simple(DWORD type, std::initializer_list<DWORD> values) {
    const std::size_t at = Begin(type);
    for (DWORD v : values) Put32(v);
    End(at);
  }
};

DWORD U(LONG v) {
  return static_cast<DWORD>(v);
}

// Emits a stretched DIB (bitmap info and bits from a Windows metafile record) as EMR_STRETCHDIBITS.
bool EmitStretchDib(EmfWriter& w, const BYTE* dib, std::size_t dibSize, UINT usage, LONG xd, LONG yd, LONG wd,
                    LONG hd, LONG xs, LONG ys, LONG ws, LONG hs, DWORD rop) {
  if (dibSize < sizeof(BITMAPCOREHEADER)) return false;
  BITMAPINFOHEADER h{};
  std::memcpy(&h, dib, std::min(dibSize, sizeof h));
  const std::size_t infoSize = DibInfoSize(h, usage);
  if (!infoSize || infoSize > dibSize) return false;
  const std::size_t bitsSize = dibSize - infoSize;
  if (!DibFits(dib, infoSize, bitsSize, usage)) return false;
  const std::size_t infoPadded = (infoSize + 3) & ~std::size_t(3);
  const std::size_t at = w.Begin(EMR_STRETCHDIBITS);
  for (int i = 0; i < 4; ++i) w.Put32(0);  // bounds
  for (LONG v : {xd, yd, xs, ys, ws, hs}) w.Put32(U(v));
  w.Put32(80);
  w.Put32(static_cast<DWORD>(infoSize));
  w.Put32(static_cast<DWORD>(80 + infoPadded));
  w.Put32(static_cast<DWORD>(bitsSize));
  w.Put32(usage);
  w.Put32(rop);
  w.Put32(U(wd));
  w.Put32(U(hd));
  w.PutBytes(dib, infoSize);
  for (std::size_t i = infoSize; i < infoPadded; ++i) w.out.push_back(0);
  w.PutBytes(dib + infoSize, bitsSize);
  w.End(at);
  return true;
}

}  // namespace

std::vector<BYTE> ConvertWinMetaFile(const BYTE* data, std::size_t size, const METAFILEPICT* pict,
                                     SIZEL device, SIZEL millimetres) {
  if (!data) return {};
  bool placeable = false;
  SHORT bbLeft = 0, bbTop = 0, bbRight = 0, bbBottom = 0;
  WORD inch = 0;
  if (size >= sizeof(PLACEABLEMETAHEADER) && R32(data) == PLACEABLE_METAFILE_KEY) {
    placeable = true;
    bbLeft = S16(data + 6), bbTop = S16(data + 8), bbRight = S16(data + 10), bbBottom = S16(data + 12);
    inch = R16(data + 14);
    data += sizeof(PLACEABLEMETAHEADER);
    size -= sizeof(PLACEABLEMETAHEADER);
  }
  if (size < sizeof(METAHEADER)) return {};
  const WORD type = R16(data), headerWords = R16(data + 2), version = R16(data + 4);
  if ((type != 1 && type != 2) || headerWords != 9 || (version != 0x0100 && version != 0x0300)) return {};

  // First pass: check the record chain and find the window the picture is drawn in.
  LONG winOrgX = placeable ? bbLeft : 0, winOrgY = placeable ? bbTop : 0;
  LONG winExtX = placeable ? bbRight - bbLeft : 0, winExtY = placeable ? bbBottom - bbTop : 0;
  bool sawOrg = false, sawExt = false;
  std::size_t end = sizeof(METAHEADER);
  {
    std::size_t off = sizeof(METAHEADER), records = 0;
    while (off + 6 <= size) {
      const std::uint64_t bytes = std::uint64_t(R32(data + off)) * 2;
      const WORD fn = R16(data + off + 4);
      if (bytes < 6 || bytes > size - off) return {};
      if (++records > kMaxRecords) return {};
      if (fn == META_EOF) {
        off += static_cast<std::size_t>(bytes);
        break;
      }
      if (bytes >= 10 && fn == META_SETWINDOWORG && !sawOrg) {
        winOrgY = S16(data + off + 6), winOrgX = S16(data + off + 8), sawOrg = true;
      }
      if (bytes >= 10 && fn == META_SETWINDOWEXT && !sawExt) {
        winExtY = S16(data + off + 6), winExtX = S16(data + off + 8), sawExt = true;
      }
      off += static_cast<std::size_t>(bytes);
    }
    end = std::min(off, size);
  }

  // The frame in 0.01 mm and in reference pixels.
  const double hmmPerPxX = millimetres.cx * 100.0 / device.cx, hmmPerPxY = millimetres.cy * 100.0 / device.cy;
  double frameX, frameY;
  if (pict && (pict->mm == MM_ANISOTROPIC || pict->mm == MM_ISOTROPIC) && pict->xExt > 0 && pict->yExt > 0) {
    frameX = pict->xExt, frameY = pict->yExt;
  } else if (placeable && winExtX && winExtY) {
    const double upi = inch ? inch : 96;
    frameX = std::fabs(double(bbRight - bbLeft)) * 2540.0 / upi;
    frameY = std::fabs(double(bbBottom - bbTop)) * 2540.0 / upi;
  } else if (winExtX && winExtY) {
    frameX = std::fabs(double(winExtX)) * hmmPerPxX, frameY = std::fabs(double(winExtY)) * hmmPerPxY;
  } else {
    frameX = device.cx * hmmPerPxX, frameY = device.cy * hmmPerPxY;
  }
  frameX = std::max(1.0, std::min(frameX, 1e8));
  frameY = std::max(1.0, std::min(frameY, 1e8));
  const LONG pxW = std::max<LONG>(1, static_cast<LONG>(std::lround(frameX / hmmPerPxX)));
  const LONG pxH = std::max<LONG>(1, static_cast<LONG>(std::lround(frameY / hmmPerPxY)));
  if (!winExtX || !winExtY) winExtX = pxW, winExtY = pxH;

  EmfWriter w;
  w.out.resize(sizeof(ENHMETAHEADER));
  w.records = 1;
  w.Simple(EMR_SETMAPMODE, {U(MM_ANISOTROPIC)});
  w.Simple(EMR_SETVIEWPORTORGEX, {0, 0});
  w.Simple(EMR_SETVIEWPORTEXTEX, {U(pxW), U(pxH)});
  w.Simple(EMR_SETWINDOWORGEX, {U(winOrgX), U(winOrgY)});
  w.Simple(EMR_SETWINDOWEXTEX, {U(winExtX), U(winExtY)});

  // Object slots: a Windows metafile puts each new object in the lowest free slot; slot i becomes handle i
  // + 1. Kinds: 0 free, 1 an object the enhanced metafile has, 2 one it lacks (fonts, regions, pattern
  // brushes).
  std::vector<BYTE> slots;
  std::size_t maxSlot = 0;
  auto allocSlot = [&](BYTE kind) -> long {
    std::size_t i = 0;
    while (i < slots.size() && slots[i]) ++i;
    if (i >= kMaxWmfObjects) return -1;
    if (i == slots.size()) slots.push_back(0);
    slots[i] = kind;
    maxSlot = std::max(maxSlot, i + 1);
    return static_cast<long>(i);
  };

  std::size_t off = sizeof(METAHEADER);
  while (off + 6 <= end) {
    const std::size_t bytes = static_cast<std::size_t>(R32(data + off)) * 2;
    const WORD fn = R16(data + off + 4);
    Rec r{data + off + 6, bytes - 6};
    off += bytes;
    if (fn == META_EOF) break;
    switch (fn) {
      case META_SETWINDOWORG: {
        const LONG y = r.S(0), x = r.S(2);
        if (!r.bad) w.Simple(EMR_SETWINDOWORGEX, {U(x), U(y)});
        break;
      }
      case META_SETWINDOWEXT: {
        const LONG y = r.S(0), x = r.S(2);
        if (!r.bad && x && y) w.Simple(EMR_SETWINDOWEXTEX, {U(x), U(y)});
        break;
      }
      case META_SETPOLYFILLMODE:
        w.Simple(EMR_SETPOLYFILLMODE, {r.W(0)});
        break;
      case META_SETSTRETCHBLTMODE:
        w.Simple(EMR_SETSTRETCHBLTMODE, {r.W(0)});
        break;
      case META_SETBKMODE:
        w.Simple(EMR_SETBKMODE, {r.W(0)});
        break;
      case META_SETBKCOLOR:
        w.Simple(EMR_SETBKCOLOR, {r.U(0)});
        break;
      case META_SETTEXTCOLOR:
        w.Simple(EMR_SETTEXTCOLOR, {r.U(0)});
        break;
      case META_SAVEDC:
        w.Simple(EMR_SAVEDC, {});
        break;
      case META_RESTOREDC:
        w.Simple(EMR_RESTOREDC, {U(r.S(0))});
        break;
      case META_REALIZEPALETTE:
        w.Simple(EMR_REALIZEPALETTE, {});
        break;
      case META_CREATEPENINDIRECT: {
        const WORD style = r.W(0);
        const SHORT width = r.S(2);
        const DWORD color = r.U(6);
        const long slot = allocSlot(1);
        if (slot < 0) return {};
        w.Simple(EMR_CREATEPEN, {DWORD(slot + 1), style, U(width), 0, color});
        break;
      }
      case META_CREATEBRUSHINDIRECT: {
        const WORD style = r.W(0);
        const DWORD color = r.U(2);
        const long slot = allocSlot(1);
        if (slot < 0) return {};
        w.Simple(EMR_CREATEBRUSHINDIRECT, {DWORD(slot + 1), style, color, 0});
        break;
      }
      case META_CREATEPALETTE: {
        const WORD count = r.W(2);
        const long slot = allocSlot(1);
        if (slot < 0) return {};
        if (!r.Has(4, std::size_t(count) * 4) || count == 0) {
          slots[slot] = 2;  // unusable palette: keep the slot numbering right
          break;
        }
        const std::size_t at = w.Begin(EMR_CREATEPALETTE);
        w.Put32(DWORD(slot + 1));
        w.Put16(0x300);
        w.Put16(count);
        w.PutBytes(r.p + 4, std::size_t(count) * 4);
        w.End(at);
        break;
      }
      case META_CREATEFONTINDIRECT:
      case META_CREATEREGION:
      case META_DIBCREATEPATTERNBRUSH:
      case META_CREATEPATTERNBRUSH:
        if (allocSlot(2) < 0) return {};
        break;
      case META_SELECTOBJECT:
      case META_SELECTPALETTE:
      case META_DELETEOBJECT: {
        const WORD i = r.W(0);
        if (r.bad || i >= slots.size() || !slots[i]) break;
        if (slots[i] == 1) {
          const DWORD t = fn == META_DELETEOBJECT
                              ? EMR_DELETEOBJECT
                              : (fn == META_SELECTPALETTE ? EMR_SELECTPALETTE : EMR_SELECTOBJECT);
          w.Simple(t, {DWORD(i) + 1});
        }
        if (fn == META_DELETEOBJECT) slots[i] = 0;
        break;
      }
      case META_MOVETO:
      case META_LINETO: {
        const LONG y = r.S(0), x = r.S(2);
        if (!r.bad) w.Simple(fn == META_MOVETO ? EMR_MOVETOEX : EMR_LINETO, {U(x), U(y)});
        break;
      }
      case META_RECTANGLE:
      case META_ELLIPSE: {
        const LONG b = r.S(0), rt = r.S(2), t = r.S(4), l = r.S(6);
        if (!r.bad) w.Simple(fn == META_RECTANGLE ? EMR_RECTANGLE : EMR_ELLIPSE, {U(l), U(t), U(rt), U(b)});
        break;
      }
      case META_ROUNDRECT: {
        const LONG h = r.S(0), wd = r.S(2), b = r.S(4), rt = r.S(6), t = r.S(8), l = r.S(10);
        if (!r.bad) w.Simple(EMR_ROUNDRECT, {U(l), U(t), U(rt), U(b), U(wd), U(h)});
        break;
      }
      case META_SETPIXEL: {
        const DWORD color = r.U(0);
        const LONG y = r.S(4), x = r.S(6);
        if (!r.bad) w.Simple(EMR_SETPIXELV, {U(x), U(y), color});
        break;
      }
      case META_POLYGON:
      case META_POLYLINE: {
        const WORD n = r.W(0);
        if (r.bad || !r.Has(2, std::size_t(n) * 4)) break;
        const std::size_t at = w.Begin(fn == META_POLYGON ? EMR_POLYGON16 : EMR_POLYLINE16);
        for (int i = 0; i < 4; ++i) w.Put32(0);
        w.Put32(n);
        w.PutBytes(r.p + 2, std::size_t(n) * 4);
        w.End(at);
        break;
      }
      case META_POLYPOLYGON: {
        const WORD polys = r.W(0);
        if (r.bad || !r.Has(2, std::size_t(polys) * 2)) break;
        std::size_t total = 0;
        for (WORD i = 0; i < polys; ++i) total += R16(r.p + 2 + 2 * std::size_t(i));
        const std::size_t ptsAt = 2 + std::size_t(polys) * 2;
        if (!r.Has(ptsAt, total * 4)) break;
        const std::size_t at = w.Begin(EMR_POLYPOLYGON16);
        for (int i = 0; i < 4; ++i) w.Put32(0);
        w.Put32(polys);
        w.Put32(static_cast<DWORD>(total));
        for (WORD i = 0; i < polys; ++i) w.Put32(R16(r.p + 2 + 2 * std::size_t(i)));
        w.PutBytes(r.p + ptsAt, total * 4);
        w.End(at);
        break;
      }
      case META_PATBLT: {
        const DWORD rop = r.U(0);
        const LONG h = r.S(4), wd = r.S(6), y = r.S(8), x = r.S(10);
        if (r.bad) break;
        const std::size_t at = w.Begin(EMR_BITBLT);
        for (int i = 0; i < 4; ++i) w.Put32(0);
        for (DWORD v : {U(x), U(y), U(wd), U(h), rop, 0u, 0u}) w.Put32(v);
        for (int i = 0; i < 6; ++i) w.Put32(0);  // source transform
        for (int i = 0; i < 6; ++i) w.Put32(0);  // background colour, usage, no bitmap
        w.End(at);
        break;
      }
      case META_STRETCHDIB: {
        const DWORD rop = r.U(0);
        const UINT usage = r.W(4);
        const LONG sh = r.S(6), sw = r.S(8), sy = r.S(10), sx = r.S(12), dh = r.S(14), dw = r.S(16),
                   dy = r.S(18), dx = r.S(20);
        if (r.bad || r.n < 22) break;
        EmitStretchDib(w, r.p + 22, r.n - 22, usage, dx, dy, dw, dh, sx, sy, sw, sh, rop);
        break;
      }
      case META_DIBSTRETCHBLT:
      case META_DIBBITBLT: {
        const bool stretch = fn == META_DIBSTRETCHBLT;
        const DWORD rop = r.U(0);
        const std::size_t noBitmapBytes = (std::size_t(fn >> 8) + 3) * 2 - 6;
        if (r.bad) break;
        if (r.n == noBitmapBytes) {  // no bitmap: a pattern fill of the destination
          const std::size_t last = r.n - 8;
          const LONG h = r.S(last), wd = r.S(last + 2), y = r.S(last + 4), x = r.S(last + 6);
          const std::size_t at = w.Begin(EMR_BITBLT);
          for (int i = 0; i < 4; ++i) w.Put32(0);
          for (DWORD v : {U(x), U(y), U(wd), U(h), rop, 0u, 0u}) w.Put32(v);
          for (int i = 0; i < 12; ++i) w.Put32(0);
          w.End(at);
          break;
        }
        LONG sh, sw, sy, sx, dh, dw, dy, dx;
        std::size_t dibAt;
        if (stretch) {
          sh = r.S(4), sw = r.S(6), sy = r.S(8), sx = r.S(10), dh = r.S(12), dw = r.S(14), dy = r.S(16),
          dx = r.S(18);
          dibAt = 20;
        } else {
          sy = r.S(4), sx = r.S(6), dh = r.S(8), dw = r.S(10), dy = r.S(12), dx = r.S(14);
          sh = dh, sw = dw;
          dibAt = 16;
        }
        if (r.bad || r.n < dibAt) break;
        // The source origin is the bitmap's top-left; EMR_STRETCHDIBITS counts bottom-up rows from the
        // bottom.
        BITMAPINFOHEADER h{};
        std::memcpy(&h, r.p + dibAt, std::min(r.n - dibAt, sizeof h));
        LONG syDib = sy;
        if (h.biSize >= sizeof(BITMAPINFOHEADER) && h.biHeight > 0) syDib = h.biHeight - sy - sh;
        EmitStretchDib(w, r.p + dibAt, r.n - dibAt, DIB_RGB_COLORS, dx, dy, dw, dh, sx, syDib, sw, sh, rop);
        break;
      }
      default:
        break;  // text, arcs, regions, escapes and the viewport (the player owns it) are not drawn
    }
  }
  w.Simple(EMR_EOF, {0, 16, 20});

  ENHMETAHEADER hdr{};
  hdr.iType = EMR_HEADER;
  hdr.nSize = sizeof(ENHMETAHEADER);
  hdr.rclBounds = {0, 0, pxW - 1, pxH - 1};
  hdr.rclFrame = {0, 0, static_cast<LONG>(std::lround(frameX)), static_cast<LONG>(std::lround(frameY))};
  hdr.dSignature = ENHMETA_SIGNATURE;
  hdr.nVersion = 0x10000;
  hdr.nBytes = static_cast<DWORD>(w.out.size());
  hdr.nRecords = w.records;
  hdr.nHandles = static_cast<WORD>(maxSlot + 1);
  hdr.szlDevice = device;
  hdr.szlMillimeters = millimetres;
  std::memcpy(w.out.data(), &hdr, sizeof hdr);
  return std::move(w.out);
}

// ---------------------------------------------------------------------------------------------------------
// Playback

namespace {

// Points of a cubic Bezier chain (start point then groups of three), flattened into line segments.
std::vector<POINT> Flatten(const std::vector<POINT>& in) {
  std::vector<POINT> out;
  if (in.empty()) return out;
  out.push_back(in[0]);
  for (std::size_t i = 1; i + 2 < in.size(); i += 3) {
    const POINT p0 = in[i - 1], p1 = in[i], p2 = in[i + 1], p3 = in[i + 2];
    for (int k = 1; k <= 16; ++k) {
      const double t = k / 16.0, u = 1 - t;
      const double x = u * u * u * p0.x + 3 * u * u * t * p1.x + 3 * u * t * t * p2.x + t * t * t * p3.x;
      const double y = u * u * u * p0.y + 3 * u * u * t * p1.y + 3 * u * t * t * p2.y + t * t * t * p3.y;
      out.push_back({static_cast<LONG>(std::lround(x)), static_cast<LONG>(std::lround(y))});
    }
  }
  return out;
}

class Player {
 public:
  Player(SoftGdi& gdi, HDC dc, std::size_t handles) : g_(gdi), dc_(dc), table_(handles, nullptr) {}
  ~Player() {
    for (HGDIOBJ& o : table_)
      if (o) g_.DeleteObject(o);
    for (HGDIOBJ o : deferred_) g_.DeleteObject(o);
  }

  void Play(const std::vector<BYTE>& emf, std::size_t first) {
    std::size_t off = first, count = 0;
    while (off + 8 <= emf.size() && count++ < kMaxRecords) {
      const DWORD type = R32(emf.data() + off), size = R32(emf.data() + off + 4);
      if (size < 8 || size > emf.size() - off) return;
      Rec r{emf.data() + off, size};
      off += size;
      if (type == EMR_EOF) return;
      Record(type, r);
    }
  }

  int depth = 0;  // SaveDC levels the metafile itself made

 private:
  HGDIOBJ Handle(DWORD ih) {
    if (ih & 0x80000000u) return g_.GetStockObject(static_cast<int>(ih & 0x7FFFFFFFu));
    if (ih == 0 || ih >= table_.size()) return nullptr;
    return table_[ih];
  }
  bool Store(DWORD ih, HGDIOBJ obj) {
    if (ih == 0 || ih >= table_.size() || !obj) {
      if (obj) g_.DeleteObject(obj);
      return false;
    }
    if (table_[ih]) Release(table_[ih]);
    table_[ih] = obj;
    return true;
  }
  // Deletes an object of the table. One still selected is first replaced by the stock object of its kind;
  // one a saved DC state still holds is deleted when playback ends.
  void Release(HGDIOBJ o) {
    if (g_.DeleteObject(o)) return;
    const DWORD t = g_.GetObjectType(o);
    if (t == OBJ_PEN && g_.GetCurrentObject(dc_, OBJ_PEN) == o)
      g_.SelectObject(dc_, g_.GetStockObject(BLACK_PEN));
    if (t == OBJ_BRUSH && g_.GetCurrentObject(dc_, OBJ_BRUSH) == o)
      g_.SelectObject(dc_, g_.GetStockObject(WHITE_BRUSH));
    if (t == OBJ_PAL && g_.GetCurrentObject(dc_, OBJ_PAL) == o)
      g_.SelectPalette(dc_, HandleCast<HPALETTE>(g_.GetStockObject(DEFAULT_PALETTE)), FALSE);
    if (!g_.DeleteObject(o)) deferred_.push_back(o);
  }

  std::vector<POINT> Points(Rec& r, std::size_t at, std::size_t count, bool small) {
    std::vector<POINT> pts;
    const std::size_t each = small ? 4 : 8;
    if (!r.Has(at, count * each) || count > r.n) return pts;
    pts.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      const BYTE* p = r.p + at + i * each;
      pts.push_back(small ? POINT{S16(p), S16(p + 2)} : POINT{L32(p), L32(p + 4)});
    }
    return pts;
  }

  void Poly(DWORD type, Rec& r) {
    const bool small = type >= EMR_POLYBEZIER16;
    const DWORD base = small ? type - (EMR_POLYBEZIER16 - EMR_POLYBEZIER) : type;
    const DWORD n = r.U(24);
    if (r.bad) return;
    std::vector<POINT> pts = Points(r, 28, n, small);
    if (pts.size() != n || pts.empty()) return;
    POINT cur{0, 0};
    switch (base) {
      case EMR_POLYGON:
        g_.Polygon(dc_, pts.data(), int(pts.size()));
        break;
      case EMR_POLYLINE:
        g_.Polyline(dc_, pts.data(), int(pts.size()));
        break;
      case EMR_POLYBEZIER: {
        std::vector<POINT> f = Flatten(pts);
        g_.Polyline(dc_, f.data(), int(f.size()));
        break;
      }
      case EMR_POLYLINETO:
      case EMR_POLYBEZIERTO: {
        g_.MoveToEx(dc_, 0, 0, &cur);
        g_.MoveToEx(dc_, cur.x, cur.y, nullptr);
        pts.insert(pts.begin(), cur);
        if (base == EMR_POLYBEZIERTO) pts = Flatten(pts);
        g_.Polyline(dc_, pts.data(), int(pts.size()));
        g_.MoveToEx(dc_, pts.back().x, pts.back().y, nullptr);
        break;
      }
      default:
        break;
    }
  }

  void PolyPoly(DWORD type, Rec& r) {
    const bool small = type == EMR_POLYPOLYLINE16 || type == EMR_POLYPOLYGON16;
    const bool polygon = type == EMR_POLYPOLYGON || type == EMR_POLYPOLYGON16;
    const DWORD polys = r.U(24), total = r.U(28);
    if (r.bad || polys == 0 || !r.Has(32, std::size_t(polys) * 4)) return;
    std::vector<int> counts(polys);
    std::uint64_t sum = 0;
    for (DWORD i = 0; i < polys; ++i) {
      const DWORD c = R32(r.p + 32 + 4 * std::size_t(i));
      if (c > total) return;
      counts[i] = static_cast<int>(c);
      sum += c;
    }
    if (sum > total) return;
    std::vector<POINT> pts = Points(r, 32 + std::size_t(polys) * 4, static_cast<std::size_t>(sum), small);
    if (pts.size() != sum) return;
    if (polygon) {
      g_.PolyPolygon(dc_, pts.data(), counts.data(), int(polys));
    } else {
      std::size_t at = 0;
      for (int c : counts) {
        if (c >= 2) g_.Polyline(dc_, pts.data() + at, c);
        at += std::size_t(c);
      }
    }
  }

  // A bitmap carried by a record: info at offBmi (cbBmi bytes), bits at offBits (cbBits bytes).
  bool Dib(Rec& r, std::size_t offAt, const BITMAPINFO*& bmi, const void*& bits, UINT usage) {
    const DWORD offBmi = r.U(offAt), cbBmi = r.U(offAt + 4), offBits = r.U(offAt + 8),
                cbBits = r.U(offAt + 12);
    if (r.bad || !r.Has(offBmi, cbBmi) || !r.Has(offBits, cbBits)) return false;
    if (!DibFits(r.p + offBmi, cbBmi, cbBits, usage)) return false;
    // Copies keep the bitmap info aligned for the reader.
    info_.assign(r.p + offBmi, r.p + offBmi + cbBmi);
    bits_.assign(r.p + offBits, r.p + offBits + cbBits);
    bmi = reinterpret_cast<const BITMAPINFO*>(info_.data());
    bits = bits_.data();
    return true;
  }

  void Record(DWORD type, Rec& r) {
    switch (type) {
      case EMR_POLYBEZIER:
      case EMR_POLYGON:
      case EMR_POLYLINE:
      case EMR_POLYBEZIERTO:
      case EMR_POLYLINETO:
      case EMR_POLYBEZIER16:
      case EMR_POLYGON16:
      case EMR_POLYLINE16:
      case EMR_POLYBEZIERTO16:
      case EMR_POLYLINETO16:
        Poly(type, r);
        break;
      case EMR_POLYPOLYLINE:
      case EMR_POLYPOLYGON:
      case EMR_POLYPOLYLINE16:
      case EMR_POLYPOLYGON16:
        PolyPoly(type, r);
        break;
      case EMR_SETWINDOWEXTEX: {
        const LONG x = r.L(8), y = r.L(12);
        if (!r.bad) g_.SetWindowExtEx(dc_, x, y, nullptr);
        break;
      }
      case EMR_SETWINDOWORGEX: {
        const LONG x = r.L(8), y = r.L(12);
        if (!r.bad) g_.SetWindowOrgEx(dc_, x, y, nullptr);
        break;
      }
      case EMR_SETVIEWPORTEXTEX: {
        const LONG x = r.L(8), y = r.L(12);
        if (!r.bad) g_.SetViewportExtEx(dc_, x, y, nullptr);
        break;
      }
      case EMR_SETVIEWPORTORGEX: {
        const LONG x = r.L(8), y = r.L(12);
        if (!r.bad) g_.SetViewportOrgEx(dc_, x, y, nullptr);
        break;
      }
      case EMR_SETBRUSHORGEX: {
        const LONG x = r.L(8), y = r.L(12);
        if (!r.bad) g_.SetBrushOrgEx(dc_, x, y, nullptr);
        break;
      }
      case EMR_SETPIXELV: {
        const LONG x = r.L(8), y = r.L(12);
        const DWORD c = r.U(16);
        if (!r.bad) g_.SetPixel(dc_, x, y, c);
        break;
      }
      case EMR_SETMAPMODE:
        g_.SetMapMode(dc_, int(r.U(8)));
        break;
      case EMR_SETBKMODE:
        g_.SetBkMode(dc_, int(r.U(8)));
        break;
      case EMR_SETPOLYFILLMODE:
        g_.SetPolyFillMode(dc_, int(r.U(8)));
        break;
      case EMR_SETSTRETCHBLTMODE:
        g_.SetStretchBltMode(dc_, int(r.U(8)));
        break;
      case EMR_SETTEXTCOLOR: {
        const DWORD c = r.U(8);
        if (!r.bad) g_.SetTextColor(dc_, c);
        break;
      }
      case EMR_SETBKCOLOR: {
        const DWORD c = r.U(8);
        if (!r.bad) g_.SetBkColor(dc_, c);
        break;
      }
      case EMR_MOVETOEX:
      case EMR_LINETO: {
        const LONG x = r.L(8), y = r.L(12);
        if (r.bad) break;
        if (type == EMR_MOVETOEX)
          g_.MoveToEx(dc_, x, y, nullptr);
        else
          g_.LineTo(dc_, x, y);
        break;
      }
      case EMR_SAVEDC:
        if (g_.SaveDC(dc_)) ++depth;
        break;
      case EMR_RESTOREDC: {
        const LONG rel = r.L(8);
        // Only levels the metafile saved itself: never the caller's state below them.
        if (r.bad || rel >= 0 || -std::int64_t(rel) > depth) break;
        if (g_.RestoreDC(dc_, rel)) depth += rel;
        break;
      }
      case EMR_SELECTOBJECT: {
        const DWORD ih = r.U(8);
        if (r.bad) break;
        if (HGDIOBJ o = Handle(ih)) {
          if (g_.GetObjectType(o) == OBJ_PAL)
            g_.SelectPalette(dc_, HandleCast<HPALETTE>(o), FALSE);
          else
            g_.SelectObject(dc_, o);
        }
        break;
      }
      case EMR_SELECTPALETTE: {
        const DWORD ih = r.U(8);
        if (r.bad) break;
        if (HGDIOBJ o = Handle(ih)) g_.SelectPalette(dc_, HandleCast<HPALETTE>(o), FALSE);
        break;
      }
      case EMR_CREATEPEN: {
        const DWORD ih = r.U(8), style = r.U(12);
        const LONG width = r.L(16);
        const DWORD color = r.U(24);
        if (!r.bad) Store(ih, Obj(g_.CreatePen(int(style), std::max(0, std::min<LONG>(width, 1024)), color)));
        break;
      }
      case EMR_EXTCREATEPEN: {
        const DWORD ih = r.U(8), style = r.U(28), width = r.U(32), color = r.U(40);
        if (!r.bad) Store(ih, Obj(g_.CreatePen(int(style), int(std::min<DWORD>(width, 1024)), color)));
        break;
      }
      case EMR_CREATEBRUSHINDIRECT: {
        const DWORD ih = r.U(8), style = r.U(12), color = r.U(16);
        if (r.bad) break;
        LOGBRUSH lb{style, color, 0};
        Store(ih, Obj(g_.CreateBrushIndirect(&lb)));
        break;
      }
      case EMR_CREATEPALETTE: {
        const DWORD ih = r.U(8);
        const WORD version = r.W(12), count = r.W(14);
        if (r.bad || version != 0x300 || count == 0 || !r.Has(16, std::size_t(count) * 4)) break;
        std::vector<BYTE> lp(4 + std::size_t(count) * 4);
        std::memcpy(lp.data(), r.p + 12, lp.size());
        Store(ih, Obj(g_.CreatePalette(reinterpret_cast<const LOGPALETTE*>(lp.data()))));
        break;
      }
      case EMR_REALIZEPALETTE:
        g_.RealizePalette(dc_);
        break;
      case EMR_DELETEOBJECT: {
        const DWORD ih = r.U(8);
        if (r.bad || ih == 0 || ih >= table_.size() || !table_[ih]) break;
        Release(table_[ih]);
        table_[ih] = nullptr;
        break;
      }
      case EMR_ELLIPSE:
      case EMR_RECTANGLE:
      case EMR_ROUNDRECT: {
        const LONG l = r.L(8), t = r.L(12), rt = r.L(16), b = r.L(20);
        if (r.bad) break;
        if (type == EMR_ELLIPSE)
          g_.Ellipse(dc_, l, t, rt, b);
        else
          g_.Rectangle(dc_, l, t, rt, b);
        break;
      }
      case EMR_BITBLT:
      case EMR_STRETCHBLT: {
        const LONG x = r.L(24), y = r.L(28), cx = r.L(32), cy = r.L(36);
        const DWORD rop = r.U(40);
        const LONG xs = r.L(44), ys = r.L(48);
        const DWORD usage = r.U(80);
        const DWORD cbBmi = r.U(88);
        if (r.bad) break;
        if (cbBmi == 0) {
          g_.PatBlt(dc_, x, y, cx, cy, rop);
          break;
        }
        LONG cxs = cx, cys = cy;
        if (type == EMR_STRETCHBLT) {
          cxs = r.L(100), cys = r.L(104);
          if (r.bad) break;
        }
        const BITMAPINFO* bmi;
        const void* bits;
        if (!Dib(r, 84, bmi, bits, usage)) break;
        // The source origin counts from the bitmap's top; bottom-up DIB coordinates count from its bottom.
        LONG ysDib = ys;
        if (bmi->bmiHeader.biSize >= sizeof(BITMAPINFOHEADER) && bmi->bmiHeader.biHeight > 0)
          ysDib = LONG(std::int64_t(bmi->bmiHeader.biHeight) - ys - cys);
        g_.StretchDIBits(dc_, x, y, cx, cy, xs, ysDib, cxs, cys, bits, bmi, usage, rop);
        break;
      }
      case EMR_STRETCHDIBITS: {
        const LONG x = r.L(8 + 16), y = r.L(28), xs = r.L(32), ys = r.L(36), cxs = r.L(40), cys = r.L(44);
        const DWORD usage = r.U(64), rop = r.U(68);
        const LONG cx = r.L(72), cy = r.L(76);
        if (r.bad) break;
        const BITMAPINFO* bmi;
        const void* bits;
        if (!Dib(r, 48, bmi, bits, usage)) break;
        g_.StretchDIBits(dc_, x, y, cx, cy, xs, ys, cxs, cys, bits, bmi, usage, rop);
        break;
      }
      default:
        break;
    }
  }

  SoftGdi& g_;
  HDC dc_;
  std::vector<HGDIOBJ> table_;
  std::vector<HGDIOBJ> deferred_;
  std::vector<BYTE> info_, bits_;
};

}  // namespace

void PlayEnhMetaFileRecords(SoftGdi& gdi, HDC dc, const std::vector<BYTE>& emf, const RECT& rect) {
  if (emf.size() < ENHMETAHEADER_BASE_SIZE) return;
  ENHMETAHEADER h{};
  std::memcpy(&h, emf.data(), std::min(emf.size(), sizeof h));
  // The frame (0.01 mm) in reference-device pixels, mapped onto the target rectangle.
  const double pxPerHmmX = (h.szlDevice.cx > 0 && h.szlMillimeters.cx > 0)
                               ? double(h.szlDevice.cx) / (h.szlMillimeters.cx * 100.0)
                               : 96.0 / 2540.0;
  const double pxPerHmmY = (h.szlDevice.cy > 0 && h.szlMillimeters.cy > 0)
                               ? double(h.szlDevice.cy) / (h.szlMillimeters.cy * 100.0)
                               : 96.0 / 2540.0;
  const double fl = h.rclFrame.left * pxPerHmmX, fr = h.rclFrame.right * pxPerHmmX;
  const double ft = h.rclFrame.top * pxPerHmmY, fb = h.rclFrame.bottom * pxPerHmmY;
  double fw = fr - fl, fh = fb - ft;
  if (std::fabs(fw) < 1e-9) fw = 1;
  if (std::fabs(fh) < 1e-9) fh = 1;
  const double sx = (double(rect.right) - rect.left) / fw, sy = (double(rect.bottom) - rect.top) / fh;
  const double ox = rect.left - fl * sx, oy = rect.top - ft * sy;
  if (!std::isfinite(sx) || !std::isfinite(sy) || !std::isfinite(ox) || !std::isfinite(oy)) return;

  const int saved = gdi.SaveDC(dc);
  if (!saved) return;
  gdi.SetMapMode(dc, MM_TEXT);
  gdi.SetWindowOrgEx(dc, 0, 0, nullptr);
  gdi.SetViewportOrgEx(dc, 0, 0, nullptr);
  gdi.SetPlaybackTransform(dc, sx, sy, ox, oy);
  gdi.SelectObject(dc, gdi.GetStockObject(WHITE_BRUSH));
  gdi.SelectObject(dc, gdi.GetStockObject(BLACK_PEN));
  gdi.SetPolyFillMode(dc, ALTERNATE);
  gdi.SetBkColor(dc, RGB(255, 255, 255));
  gdi.SetTextColor(dc, 0);
  gdi.SetStretchBltMode(dc, BLACKONWHITE);
  {
    Player player(gdi, dc, std::size_t(h.nHandles) + 1);
    player.Play(emf, h.nSize);
    // Back to the caller's state before the player deletes its objects, so none is still selected.
    gdi.RestoreDC(dc, saved);
  }
}

}  // namespace plat::soft
