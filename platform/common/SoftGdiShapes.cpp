// Pens, brushes and shapes on the soft GDI: filled rectangles, rectangles, ellipses, polygons and lines,
// drawn as spans on the DC's bitmap in device coordinates.
#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/common/SoftGdi.h"
#include "platform/common/SoftGdiInternal.h"

namespace plat::soft {

namespace {

// ---- spans and shapes on a bitmap, device coordinates ----

void FillSpan(SBitmap& b, long y, long x0, long x1, DWORD raw) {
  if (y < 0 || y >= b.height) return;
  x0 = std::max(0L, x0);
  x1 = std::min<long>(b.width, x1);
  for (long x = x0; x < x1; ++x) WriteRaw(b, int(x), int(y), raw);
}

void Stamp(SBitmap& b, long x, long y, int width, DWORD raw) {
  if (width <= 1) {
    if (x >= 0 && y >= 0 && x < b.width && y < b.height) WriteRaw(b, int(x), int(y), raw);
    return;
  }
  const long h0 = width / 2;
  for (long yy = y - h0; yy < y - h0 + width; ++yy) FillSpan(b, yy, x - h0, x - h0 + width, raw);
}

// A line without its last pixel, as GDI draws it. The segment is first clipped to the bitmap grown by the
// pen, so far-away coordinates cost no time.
void ThinLine(SBitmap& b, long x0, long y0, long x1, long y1, int width, DWORD raw) {
  const double margin = width + 2.0;
  const double xmin = -margin, ymin = -margin, xmax = b.width + margin, ymax = b.height + margin;
  const double dx = double(x1) - x0, dy = double(y1) - y0;
  double t0 = 0, t1 = 1;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {x0 - xmin, xmax - x0, y0 - ymin, ymax - y0};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0)
      t0 = std::max(t0, t);
    else
      t1 = std::min(t1, t);
  }
  if (t0 > t1) return;
  const bool lastExcluded = t1 >= 1;
  long ax = t0 > 0 ? Round(x0 + t0 * dx) : x0, ay = t0 > 0 ? Round(y0 + t0 * dy) : y0;
  const long bx = lastExcluded ? x1 : Round(x0 + t1 * dx), by = lastExcluded ? y1 : Round(y0 + t1 * dy);
  long ex = std::labs(bx - ax), ey = -std::labs(by - ay);
  const long sx = ax < bx ? 1 : -1, sy = ay < by ? 1 : -1;
  long err = ex + ey;
  while (!(ax == bx && ay == by)) {
    Stamp(b, ax, ay, width, raw);
    const long e2 = 2 * err;
    if (e2 >= ey) {
      err += ey;
      ax += sx;
    }
    if (e2 <= ex) {
      err += ex;
      ay += sy;
    }
  }
  if (!lastExcluded) Stamp(b, ax, ay, width, raw);
}

// ceil() as a long, clamped far outside any bitmap (and 0 for NaN) so the cast is always defined.
long CeilClamp(double v) {
  if (!(v == v)) return 0;
  if (v > 1e9) return 1000000000L;
  if (v < -1e9) return -1000000000L;
  return static_cast<long>(std::ceil(v));
}

struct Edge {
  double x0, y0, x1, y1;
};

void FillPolygons(SBitmap& b, const std::vector<Edge>& edges, int fillMode, DWORD raw) {
  if (edges.empty()) return;
  double minY = edges[0].y0, maxY = edges[0].y0;
  for (const Edge& e : edges) {
    minY = std::min({minY, e.y0, e.y1});
    maxY = std::max({maxY, e.y0, e.y1});
  }
  const long y0 = std::max(0L, CeilClamp(minY) - 1);
  const long y1 = std::min<long>(b.height, CeilClamp(maxY) + 1);
  std::vector<std::pair<double, int>> xs;
  for (long y = y0; y < y1; ++y) {
    const double yc = y + 0.5;
    xs.clear();
    for (const Edge& e : edges) {
      if (e.y0 == e.y1) continue;
      const bool down = e.y0 < e.y1;
      const double ya = down ? e.y0 : e.y1, yb = down ? e.y1 : e.y0;
      if (yc < ya || yc >= yb) continue;
      const double x = e.x0 + (yc - e.y0) * (e.x1 - e.x0) / (e.y1 - e.y0);
      xs.emplace_back(x, down ? 1 : -1);
    }
    std::sort(xs.begin(), xs.end());
    int wind = 0;
    for (std::size_t i = 0; i + 1 < xs.size(); ++i) {
      wind += xs[i].second;
      const bool inside = fillMode == WINDING ? wind != 0 : (i % 2) == 0;
      if (!inside) continue;
      // Pixels whose centres lie in [xa, xb).
      const long xa = CeilClamp(xs[i].first - 0.5);
      const long xb = CeilClamp(xs[i + 1].first - 0.5);
      FillSpan(b, y, xa, xb, raw);
    }
  }
}

// A line of any width: thin ones pixel by pixel, thick ones as a filled rectangle around the segment with
// square ends (so a wide pen costs rows, not width squared per pixel).
void Line(SBitmap& b, long x0, long y0, long x1, long y1, int width, DWORD raw) {
  if (width <= 3) return ThinLine(b, x0, y0, x1, y1, width, raw);
  const double dx = double(x1) - x0, dy = double(y1) - y0, len = std::sqrt(dx * dx + dy * dy);
  const double half = width / 2.0;
  const double ux = len > 0 ? dx / len : 1, uy = len > 0 ? dy / len : 0;
  const double ax = x0 + 0.5 - ux * half, ay = y0 + 0.5 - uy * half;
  const double bx = x1 + 0.5 + ux * half, by = y1 + 0.5 + uy * half;
  const double px = -uy * half, py = ux * half;
  const std::vector<Edge> quad = {{ax + px, ay + py, bx + px, by + py},
                                  {bx + px, by + py, bx - px, by - py},
                                  {bx - px, by - py, ax - px, ay - py},
                                  {ax - px, ay - py, ax + px, ay + py}};
  FillPolygons(b, quad, WINDING, raw);
}

// Horizontal extent [l, r) of an ellipse in box [x0, x1) x [y0, y1) on row y (pixel centres); false when the
// row misses it.
bool EllipseSpan(double x0, double y0, double x1, double y1, long y, long& l, long& r) {
  const double rx = (x1 - x0) / 2, ry = (y1 - y0) / 2;
  if (rx <= 0 || ry <= 0) return false;
  const double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
  const double dy = (y + 0.5 - cy) / ry;
  if (std::fabs(dy) >= 1) return false;
  const double half = rx * std::sqrt(1 - dy * dy);
  l = CeilClamp(cx - half - 0.5);
  r = CeilClamp(cx + half - 0.5);
  return l < r;
}

}  // namespace

// ---- pens, brushes, shapes ----

HBRUSH SoftGdi::CreateSolidBrush(COLORREF color) {
  auto b = std::make_unique<SBrush>();
  b->color = color;
  return reinterpret_cast<HBRUSH>(s_->Add(std::move(b)));
}

HBRUSH SoftGdi::CreateBrushIndirect(const LOGBRUSH* brush) {
  if (!brush) return nullptr;
  auto b = std::make_unique<SBrush>();
  // Hatched and pattern brushes paint in their colour: the soft GDI has solid fills only.
  b->style = brush->lbStyle == BS_NULL ? BS_NULL : BS_SOLID;
  b->color = brush->lbColor;
  return reinterpret_cast<HBRUSH>(s_->Add(std::move(b)));
}

HPEN SoftGdi::CreatePen(int style, int width, COLORREF color) {
  auto p = std::make_unique<SPen>();
  // Dashed styles draw solid here.
  p->style = (style & PS_STYLE_MASK) == PS_NULL ? PS_NULL : PS_SOLID;
  p->width = std::max(1, std::min(width, 1024));
  p->color = color;
  return reinterpret_cast<HPEN>(s_->Add(std::move(p)));
}

namespace {
// Corners given in either order, as left <= right and top <= bottom.
template <class T>
void SortCorners(T& l, T& t, T& r, T& b) {
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
}
}  // namespace

int SoftGdi::FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  DS_DC_OR(0);
  SBrush* br = s_->Get<SBrush>(brush);
  if (!rect || !br || !d->a.bitmap) return 0;
  if (br->style == BS_NULL) return 1;
  Mapper m(d->a);
  long l = m.X(rect->left), r = m.X(rect->right), t = m.Y(rect->top), b = m.Y(rect->bottom);
  SortCorners(l, t, r, b);
  const DWORD raw = ColorToRaw(*d->a.bitmap, ResolveColor(d, br->color));
  const auto clampL = [](long v) {
    return static_cast<LONG>(std::max(-1000000000L, std::min(v, 1000000000L)));
  };
  ForEachVisible(*d, RECT{clampL(l), clampL(t), clampL(r), clampL(b)}, [&](const RECT& p) {
    for (LONG y = p.top; y < p.bottom; ++y) FillSpan(*d->a.bitmap, y, p.left, p.right, raw);
  });
  return 1;
}

namespace {
struct ShapeStyle {
  bool fill = false, outline = false;
  DWORD fillRaw = 0, penRaw = 0;
  int penWidth = 1;
};
ShapeStyle StyleOf(const SDC* d, const Mapper& m) {
  ShapeStyle s;
  const SBitmap& b = *d->a.bitmap;
  if (d->a.brush && d->a.brush->style != BS_NULL) {
    s.fill = true;
    s.fillRaw = ColorToRaw(b, ResolveColor(d, d->a.brush->color));
  }
  if (d->a.pen && d->a.pen->style != PS_NULL) {
    s.outline = true;
    s.penRaw = ColorToRaw(b, ResolveColor(d, d->a.pen->color));
    s.penWidth = std::max(1, int(std::min(1024.0, std::fabs(d->a.pen->width * m.sx) + 0.5)));
    if (d->a.pen->width <= 1) s.penWidth = 1;
  }
  return s;
}
}  // namespace

BOOL SoftGdi::Rectangle(HDC dc, int left, int top, int right, int bottom) {
  DS_DC_OR(FALSE);
  if (!d->a.bitmap) return FALSE;
  SBitmap& b = *d->a.bitmap;
  Mapper m(d->a);
  long l = m.X(left), r = m.X(right), t = m.Y(top), bt = m.Y(bottom);
  SortCorners(l, t, r, bt);
  const ShapeStyle st = StyleOf(d, m);
  // The figure covers [l, r - 1] x [t, bt - 1]: the pen draws its border inside, the brush the rest.
  if (r - l < 1 || bt - t < 1) return TRUE;
  const long pw = st.outline ? std::min<long>(st.penWidth, std::max(1L, std::min(r - l, bt - t))) : 0;
  if (st.fill) {
    const long fl = st.outline ? l + pw : l, fr = st.outline ? r - pw : r - 1;
    const long ft = st.outline ? t + pw : t, fb = st.outline ? bt - pw : bt - 1;
    for (long y = std::max(0L, ft); y < std::min<long>(fb, b.height); ++y) FillSpan(b, y, fl, fr, st.fillRaw);
  }
  if (st.outline) {
    for (long y = std::max(0L, t); y < std::min<long>(bt, b.height); ++y) {
      if (y < t + pw || y >= bt - pw) {
        FillSpan(b, y, l, r, st.penRaw);
      } else {
        FillSpan(b, y, l, l + pw, st.penRaw);
        FillSpan(b, y, r - pw, r, st.penRaw);
      }
    }
  }
  return TRUE;
}

BOOL SoftGdi::Ellipse(HDC dc, int left, int top, int right, int bottom) {
  DS_DC_OR(FALSE);
  if (!d->a.bitmap) return FALSE;
  SBitmap& b = *d->a.bitmap;
  Mapper m(d->a);
  double l = m.Xd(left), r = m.Xd(right), t = m.Yd(top), bt = m.Yd(bottom);
  SortCorners(l, t, r, bt);
  const ShapeStyle st = StyleOf(d, m);
  if (!st.outline) {
    r -= 1;  // without a pen the figure is one pixel smaller, as with rectangles
    bt -= 1;
  }
  const double pw = st.outline ? st.penWidth : 0;
  const long y0 = std::max(0L, CeilClamp(t) - 1), y1 = std::min<long>(b.height, Round(bt) + 1);
  for (long y = y0; y < y1; ++y) {
    long ol, orr, il, ir;
    if (!EllipseSpan(l, t, r, bt, y, ol, orr)) continue;
    const bool inner = EllipseSpan(l + pw, t + pw, r - pw, bt - pw, y, il, ir);
    if (!st.outline) {
      if (st.fill) FillSpan(b, y, ol, orr, st.fillRaw);
      continue;
    }
    if (inner) {
      if (st.fill) FillSpan(b, y, il, ir, st.fillRaw);
      FillSpan(b, y, ol, il, st.penRaw);
      FillSpan(b, y, ir, orr, st.penRaw);
    } else {
      FillSpan(b, y, ol, orr, st.penRaw);
    }
  }
  return TRUE;
}

BOOL SoftGdi::PolyPolygon(HDC dc, const POINT* points, const int* counts, int polygons) {
  DS_DC_OR(FALSE);
  if (!d->a.bitmap || !points || !counts || polygons <= 0) return FALSE;
  SBitmap& b = *d->a.bitmap;
  Mapper m(d->a);
  const ShapeStyle st = StyleOf(d, m);
  std::vector<Edge> edges;
  std::size_t at = 0;
  for (int p = 0; p < polygons; ++p) {
    const int n = counts[p];
    if (n < 2) {
      at += n > 0 ? std::size_t(n) : 0;
      continue;
    }
    for (int i = 0; i < n; ++i) {
      const POINT& a = points[at + i];
      const POINT& c = points[at + (i + 1) % n];
      // Pixel centres sit at +0.5, so a vertex at integer x starts the pixel x.
      edges.push_back({m.Xd(a.x), m.Yd(a.y), m.Xd(c.x), m.Yd(c.y)});
    }
    at += std::size_t(n);
  }
  if (st.fill) FillPolygons(b, edges, d->a.polyFillMode, st.fillRaw);
  if (st.outline) {
    at = 0;
    for (int p = 0; p < polygons; ++p) {
      const int n = counts[p];
      for (int i = 0; i < n && n >= 2; ++i) {
        const POINT& a = points[at + i];
        const POINT& c = points[at + (i + 1) % n];
        Line(b, m.X(a.x), m.Y(a.y), m.X(c.x), m.Y(c.y), st.penWidth, st.penRaw);
      }
      at += n > 0 ? std::size_t(n) : 0;
    }
  }
  return TRUE;
}

BOOL SoftGdi::Polygon(HDC dc, const POINT* points, int count) {
  if (count < 2) return FALSE;
  return PolyPolygon(dc, points, &count, 1);
}

BOOL SoftGdi::Polyline(HDC dc, const POINT* points, int count) {
  DS_DC_OR(FALSE);
  if (!d->a.bitmap || !points || count < 2) return FALSE;
  Mapper m(d->a);
  const ShapeStyle st = StyleOf(d, m);
  if (!st.outline) return TRUE;
  for (int i = 0; i + 1 < count; ++i)
    Line(*d->a.bitmap, m.X(points[i].x), m.Y(points[i].y), m.X(points[i + 1].x), m.Y(points[i + 1].y),
         st.penWidth, st.penRaw);
  return TRUE;
}

BOOL SoftGdi::MoveToEx(HDC dc, int x, int y, POINT* old) {
  DS_DC_OR(FALSE);
  if (old) *old = d->a.current;
  d->a.current = {x, y};
  return TRUE;
}

BOOL SoftGdi::LineTo(HDC dc, int x, int y) {
  DS_DC_OR(FALSE);
  POINT pts[2] = {d->a.current, {x, y}};
  d->a.current = {x, y};
  return Polyline(dc, pts, 2);
}

}  // namespace plat::soft
