// Windows metafile -> enhanced metafile in the soft GDI: the headers and the window the picture is drawn in,
// its frame, and the records, converted one family at a time (drawing state, objects, shapes, bitmaps).
// Records the player does not draw are left out. Every read is bounds-checked against its record.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/common/SoftGdiInternal.h"
#include "platform/common/SoftMetafileRecords.h"

namespace plat::soft {

namespace {

constexpr std::size_t kMaxWmfObjects = 4096;

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

// What the headers and a first pass over the records tell: the placeable header's bounding box and
// resolution, the window the picture is drawn in, and where the records end.
struct WmfScan {
  bool placeable = false;
  SHORT bbLeft = 0, bbTop = 0, bbRight = 0, bbBottom = 0;
  WORD inch = 0;
  LONG winOrgX = 0, winOrgY = 0, winExtX = 0, winExtY = 0;
  std::size_t end = 0;
};

// Reads the headers and checks the record chain; false for a malformed metafile. data and size are left on
// the metafile behind any placeable header.
bool ScanWinMetaFile(const BYTE*& data, std::size_t& size, WmfScan& s) {
  if (size >= sizeof(PLACEABLEMETAHEADER) && R32(data) == PLACEABLE_METAFILE_KEY) {
    s.placeable = true;
    s.bbLeft = S16(data + 6), s.bbTop = S16(data + 8), s.bbRight = S16(data + 10),
    s.bbBottom = S16(data + 12);
    s.inch = R16(data + 14);
    data += sizeof(PLACEABLEMETAHEADER);
    size -= sizeof(PLACEABLEMETAHEADER);
  }
  if (size < sizeof(METAHEADER)) return false;
  const WORD type = R16(data), headerWords = R16(data + 2), version = R16(data + 4);
  if ((type != 1 && type != 2) || headerWords != 9 || (version != 0x0100 && version != 0x0300)) return false;

  // First pass: check the record chain and find the window the picture is drawn in.
  s.winOrgX = s.placeable ? s.bbLeft : 0, s.winOrgY = s.placeable ? s.bbTop : 0;
  s.winExtX = s.placeable ? s.bbRight - s.bbLeft : 0, s.winExtY = s.placeable ? s.bbBottom - s.bbTop : 0;
  bool sawOrg = false, sawExt = false;
  std::size_t off = sizeof(METAHEADER), records = 0;
  while (off + 6 <= size) {
    const std::uint64_t bytes = std::uint64_t(R32(data + off)) * 2;
    const WORD fn = R16(data + off + 4);
    if (bytes < 6 || bytes > size - off) return false;
    if (++records > kMaxRecords) return false;
    if (fn == META_EOF) {
      off += static_cast<std::size_t>(bytes);
      break;
    }
    if (bytes >= 10 && fn == META_SETWINDOWORG && !sawOrg) {
      s.winOrgY = S16(data + off + 6), s.winOrgX = S16(data + off + 8), sawOrg = true;
    }
    if (bytes >= 10 && fn == META_SETWINDOWEXT && !sawExt) {
      s.winExtY = S16(data + off + 6), s.winExtX = S16(data + off + 8), sawExt = true;
    }
    off += static_cast<std::size_t>(bytes);
  }
  s.end = std::min(off, size);
  return true;
}

// The picture's frame in 0.01 mm, and in reference pixels.
struct WmfFrame {
  double x, y;
  LONG pxW, pxH;
};

WmfFrame FrameOf(const WmfScan& s, const METAFILEPICT* pict, SIZEL device, SIZEL millimetres) {
  const double hmmPerPxX = millimetres.cx * 100.0 / device.cx, hmmPerPxY = millimetres.cy * 100.0 / device.cy;
  double frameX, frameY;
  if (pict && (pict->mm == MM_ANISOTROPIC || pict->mm == MM_ISOTROPIC) && pict->xExt > 0 && pict->yExt > 0) {
    frameX = pict->xExt, frameY = pict->yExt;
  } else if (s.placeable && s.winExtX && s.winExtY) {
    const double upi = s.inch ? s.inch : 96;
    frameX = std::fabs(double(s.bbRight - s.bbLeft)) * 2540.0 / upi;
    frameY = std::fabs(double(s.bbBottom - s.bbTop)) * 2540.0 / upi;
  } else if (s.winExtX && s.winExtY) {
    frameX = std::fabs(double(s.winExtX)) * hmmPerPxX, frameY = std::fabs(double(s.winExtY)) * hmmPerPxY;
  } else {
    frameX = device.cx * hmmPerPxX, frameY = device.cy * hmmPerPxY;
  }
  frameX = std::max(1.0, std::min(frameX, 1e8));
  frameY = std::max(1.0, std::min(frameY, 1e8));
  const LONG pxW = std::max<LONG>(1, static_cast<LONG>(std::lround(frameX / hmmPerPxX)));
  const LONG pxH = std::max<LONG>(1, static_cast<LONG>(std::lround(frameY / hmmPerPxY)));
  return {frameX, frameY, pxW, pxH};
}

// The records of a Windows metafile written again as enhanced-metafile records.
class WmfConverter {
 public:
  explicit WmfConverter(EmfWriter& w) : w_(w) {}
  // Converts one record; false when the metafile cannot be converted (more objects than the table holds).
  bool Record(WORD fn, Rec& r);
  // Handles the objects took: the table size the enhanced metafile needs, less its unused slot 0.
  std::size_t maxSlot() const { return maxSlot_; }

 private:
  long AllocSlot(BYTE kind);
  void State(WORD fn, Rec& r);
  bool Object(WORD fn, Rec& r);
  void Shape(WORD fn, Rec& r);
  void Polygons(WORD fn, Rec& r);
  void Bitmap(WORD fn, Rec& r);
  void DibBlt(WORD fn, Rec& r);

  EmfWriter& w_;
  // Object slots: a Windows metafile puts each new object in the lowest free slot; slot i becomes handle i
  // + 1. Kinds: 0 free, 1 an object the enhanced metafile has, 2 one it lacks (fonts, regions, pattern
  // brushes).
  std::vector<BYTE> slots_;
  std::size_t maxSlot_ = 0;
};

long WmfConverter::AllocSlot(BYTE kind) {
  std::size_t i = 0;
  while (i < slots_.size() && slots_[i]) ++i;
  if (i >= kMaxWmfObjects) return -1;
  if (i == slots_.size()) slots_.push_back(0);
  slots_[i] = kind;
  maxSlot_ = std::max(maxSlot_, i + 1);
  return static_cast<long>(i);
}

bool WmfConverter::Record(WORD fn, Rec& r) {
  switch (fn) {
    case META_CREATEPENINDIRECT:
    case META_CREATEBRUSHINDIRECT:
    case META_CREATEPALETTE:
    case META_CREATEFONTINDIRECT:
    case META_CREATEREGION:
    case META_DIBCREATEPATTERNBRUSH:
    case META_CREATEPATTERNBRUSH:
    case META_SELECTOBJECT:
    case META_SELECTPALETTE:
    case META_DELETEOBJECT:
      return Object(fn, r);
    case META_MOVETO:
    case META_LINETO:
    case META_RECTANGLE:
    case META_ELLIPSE:
    case META_ROUNDRECT:
    case META_SETPIXEL:
      Shape(fn, r);
      return true;
    case META_POLYGON:
    case META_POLYLINE:
    case META_POLYPOLYGON:
      Polygons(fn, r);
      return true;
    case META_PATBLT:
    case META_STRETCHDIB:
    case META_DIBSTRETCHBLT:
    case META_DIBBITBLT:
      Bitmap(fn, r);
      return true;
    default:
      State(fn, r);
      return true;
  }
}

// The window, the modes, the colours and the saved states.
void WmfConverter::State(WORD fn, Rec& r) {
  EmfWriter& w = w_;
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
    default:
      break;  // text, arcs, regions, escapes and the viewport (the player owns it) are not drawn
  }
}

// Pens, brushes and palettes made, selected and deleted; objects the enhanced metafile lacks keep their slots
// so the others' handles stay right.
bool WmfConverter::Object(WORD fn, Rec& r) {
  EmfWriter& w = w_;
  std::vector<BYTE>& slots = slots_;
  switch (fn) {
    case META_CREATEPENINDIRECT: {
      const WORD style = r.W(0);
      const SHORT width = r.S(2);
      const DWORD color = r.U(6);
      const long slot = AllocSlot(1);
      if (slot < 0) return false;
      w.Simple(EMR_CREATEPEN, {DWORD(slot + 1), style, U(width), 0, color});
      break;
    }
    case META_CREATEBRUSHINDIRECT: {
      const WORD style = r.W(0);
      const DWORD color = r.U(2);
      const long slot = AllocSlot(1);
      if (slot < 0) return false;
      w.Simple(EMR_CREATEBRUSHINDIRECT, {DWORD(slot + 1), style, color, 0});
      break;
    }
    case META_CREATEPALETTE: {
      const WORD count = r.W(2);
      const long slot = AllocSlot(1);
      if (slot < 0) return false;
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
      if (AllocSlot(2) < 0) return false;
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
    default:
      break;
  }
  return true;
}

// Lines, rectangles, ellipses and pixels.
void WmfConverter::Shape(WORD fn, Rec& r) {
  EmfWriter& w = w_;
  switch (fn) {
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
    default:
      break;
  }
}

void WmfConverter::Polygons(WORD fn, Rec& r) {
  EmfWriter& w = w_;
  switch (fn) {
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
    default:
      break;
  }
}

void WmfConverter::Bitmap(WORD fn, Rec& r) {
  EmfWriter& w = w_;
  switch (fn) {
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
    case META_DIBBITBLT:
      DibBlt(fn, r);
      break;
    default:
      break;
  }
}

// A bitmap copied or stretched from the record's DIB, or without one a pattern fill of the destination.
void WmfConverter::DibBlt(WORD fn, Rec& r) {
  EmfWriter& w = w_;
  const bool stretch = fn == META_DIBSTRETCHBLT;
  const DWORD rop = r.U(0);
  const std::size_t noBitmapBytes = (std::size_t(fn >> 8) + 3) * 2 - 6;
  if (r.bad) return;
  if (r.n == noBitmapBytes) {  // no bitmap: a pattern fill of the destination
    const std::size_t last = r.n - 8;
    const LONG h = r.S(last), wd = r.S(last + 2), y = r.S(last + 4), x = r.S(last + 6);
    const std::size_t at = w.Begin(EMR_BITBLT);
    for (int i = 0; i < 4; ++i) w.Put32(0);
    for (DWORD v : {U(x), U(y), U(wd), U(h), rop, 0u, 0u}) w.Put32(v);
    for (int i = 0; i < 12; ++i) w.Put32(0);
    w.End(at);
    return;
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
  if (r.bad || r.n < dibAt) return;
  // The source origin is the bitmap's top-left; EMR_STRETCHDIBITS counts bottom-up rows from the
  // bottom.
  BITMAPINFOHEADER h{};
  std::memcpy(&h, r.p + dibAt, std::min(r.n - dibAt, sizeof h));
  LONG syDib = sy;
  if (h.biSize >= sizeof(BITMAPINFOHEADER) && h.biHeight > 0) syDib = h.biHeight - sy - sh;
  EmitStretchDib(w, r.p + dibAt, r.n - dibAt, DIB_RGB_COLORS, dx, dy, dw, dh, sx, syDib, sw, sh, rop);
}

}  // namespace

std::vector<BYTE> ConvertWinMetaFile(const BYTE* data, std::size_t size, const METAFILEPICT* pict,
                                     SIZEL device, SIZEL millimetres) {
  if (!data) return {};
  WmfScan s;
  if (!ScanWinMetaFile(data, size, s)) return {};
  const WmfFrame frame = FrameOf(s, pict, device, millimetres);
  if (!s.winExtX || !s.winExtY) s.winExtX = frame.pxW, s.winExtY = frame.pxH;

  EmfWriter w;
  w.out.resize(sizeof(ENHMETAHEADER));
  w.records = 1;
  w.Simple(EMR_SETMAPMODE, {U(MM_ANISOTROPIC)});
  w.Simple(EMR_SETVIEWPORTORGEX, {0, 0});
  w.Simple(EMR_SETVIEWPORTEXTEX, {U(frame.pxW), U(frame.pxH)});
  w.Simple(EMR_SETWINDOWORGEX, {U(s.winOrgX), U(s.winOrgY)});
  w.Simple(EMR_SETWINDOWEXTEX, {U(s.winExtX), U(s.winExtY)});

  WmfConverter converter(w);
  std::size_t off = sizeof(METAHEADER);
  while (off + 6 <= s.end) {
    const std::size_t bytes = static_cast<std::size_t>(R32(data + off)) * 2;
    const WORD fn = R16(data + off + 4);
    Rec r{data + off + 6, bytes - 6};
    off += bytes;
    if (fn == META_EOF) break;
    if (!converter.Record(fn, r)) return {};
  }
  w.Simple(EMR_EOF, {0, 16, 20});

  ENHMETAHEADER hdr{};
  hdr.iType = EMR_HEADER;
  hdr.nSize = sizeof(ENHMETAHEADER);
  hdr.rclBounds = {0, 0, frame.pxW - 1, frame.pxH - 1};
  hdr.rclFrame = {0, 0, static_cast<LONG>(std::lround(frame.x)), static_cast<LONG>(std::lround(frame.y))};
  hdr.dSignature = ENHMETA_SIGNATURE;
  hdr.nVersion = 0x10000;
  hdr.nBytes = static_cast<DWORD>(w.out.size());
  hdr.nRecords = w.records;
  hdr.nHandles = static_cast<WORD>(converter.maxSlot() + 1);
  hdr.szlDevice = device;
  hdr.szlMillimeters = millimetres;
  std::memcpy(w.out.data(), &hdr, sizeof hdr);
  return std::move(w.out);
}

}  // namespace plat::soft
