// Playing enhanced metafiles in the soft GDI: the records the soft GDI draws, one family at a time (drawing
// state, objects, shapes, bitmaps); unknown records are skipped. Every read is bounds-checked against its
// record.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/common/SoftGdi.h"
#include "platform/common/SoftGdiInternal.h"
#include "platform/common/SoftMetafileRecords.h"

namespace plat::soft {

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
      case EMR_SELECTOBJECT:
      case EMR_SELECTPALETTE:
      case EMR_CREATEPEN:
      case EMR_EXTCREATEPEN:
      case EMR_CREATEBRUSHINDIRECT:
      case EMR_CREATEPALETTE:
      case EMR_DELETEOBJECT:
        Object(type, r);
        break;
      case EMR_SETPIXELV:
      case EMR_MOVETOEX:
      case EMR_LINETO:
      case EMR_ELLIPSE:
      case EMR_RECTANGLE:
      case EMR_ROUNDRECT:
        Shape(type, r);
        break;
      case EMR_BITBLT:
      case EMR_STRETCHBLT:
      case EMR_STRETCHDIBITS:
        Bitmap(type, r);
        break;
      default:
        State(type, r);
        break;
    }
  }

  // The window and viewport, the modes, the colours and the saved states.
  void State(DWORD type, Rec& r) {
    switch (type) {
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
      case EMR_REALIZEPALETTE:
        g_.RealizePalette(dc_);
        break;
      default:
        break;
    }
  }

  // Pens, brushes and palettes made, selected and deleted.
  void Object(DWORD type, Rec& r) {
    switch (type) {
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
      case EMR_DELETEOBJECT: {
        const DWORD ih = r.U(8);
        if (r.bad || ih == 0 || ih >= table_.size() || !table_[ih]) break;
        Release(table_[ih]);
        table_[ih] = nullptr;
        break;
      }
      default:
        break;
    }
  }

  // Pixels, lines, rectangles and ellipses.
  void Shape(DWORD type, Rec& r) {
    switch (type) {
      case EMR_SETPIXELV: {
        const LONG x = r.L(8), y = r.L(12);
        const DWORD c = r.U(16);
        if (!r.bad) g_.SetPixel(dc_, x, y, c);
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
      default:
        break;
    }
  }

  // Bitmaps copied or stretched from the record's DIB, or without one pattern fills.
  void Bitmap(DWORD type, Rec& r) {
    switch (type) {
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
