#include "platform/common/SoftGdi.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "platform/System.h"
#include "platform/Windows.h"
#include "platform/common/SoftGdiInternal.h"

namespace plat::soft {

namespace {

void SetError(DWORD code) {
  if (System* sys = CurrentServices().system) sys->SetLastError(code);
}

std::unique_ptr<SBitmap> NewBitmap(int w, int h, int bpp, bool topDown) {
  if (w <= 0 || h <= 0) return nullptr;
  const std::size_t stride = DibStride(w, bpp);
  if (!stride || stride > kMaxBitmapBytes / std::size_t(h)) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto b = std::make_unique<SBitmap>();
  b->width = w;
  b->height = h;
  b->bpp = bpp;
  b->stride = stride;
  b->topDown = topDown;
  b->storage.Allocate(stride * std::size_t(h));
  b->bits = b->storage.data();
  return b;
}

// Default formats of device-dependent bitmaps of a bit count.
void ApplyDefaultFormat(SBitmap& b, int screenBpp) {
  if (b.bpp == 1 && b.mono) {
    b.colors = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  } else if (b.bpp == 1) {
    b.colors = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  } else if (b.bpp == 4) {
    b.colors = Vga16Table();
  } else if (b.bpp == 8) {
    b.colors = HalftoneTable();
  } else if (b.bpp == 16) {
    if (screenBpp == 16)
      b.rmask = 0xF800, b.gmask = 0x07E0, b.bmask = 0x001F;
    else
      b.rmask = 0x7C00, b.gmask = 0x03E0, b.bmask = 0x001F;
  } else if (b.bpp == 32) {
    b.rmask = 0xFF0000, b.gmask = 0xFF00, b.bmask = 0xFF;
  }
}

std::unique_ptr<SBitmap> CopyBitmap(const SBitmap& src) {
  auto b = std::make_unique<SBitmap>();
  b->width = src.width;
  b->height = src.height;
  b->bpp = src.bpp;
  b->stride = src.stride;
  b->topDown = src.topDown;
  b->mono = src.mono;
  b->dibSection = src.dibSection;
  b->storage.Assign(src.bits, src.bits + src.stride * std::size_t(src.height));
  b->bits = b->storage.data();
  b->colors = src.colors;
  b->rmask = src.rmask, b->gmask = src.gmask, b->bmask = src.bmask;
  b->compression = src.compression;
  b->header = src.header;
  return b;
}

long Round(double v) {
  if (!(v == v)) return 0;
  if (v > 1e9) return 1000000000L;
  if (v < -1e9) return -1000000000L;
  return static_cast<long>(std::floor(v + 0.5));
}

// The page transform of a DC as scale and offset per axis (device = logical * scale + offset).
void PageTransform(const DCAttrs& a, int logPixels, double& sx, double& sy, double& ox, double& oy) {
  double wx = 1, wy = 1, vx = 1, vy = 1;
  switch (a.mapMode) {
    case MM_ANISOTROPIC:
    case MM_ISOTROPIC:
      wx = a.windowExt.cx ? a.windowExt.cx : 1;
      wy = a.windowExt.cy ? a.windowExt.cy : 1;
      vx = a.viewportExt.cx ? a.viewportExt.cx : 1;
      vy = a.viewportExt.cy ? a.viewportExt.cy : 1;
      if (a.mapMode == MM_ISOTROPIC) {
        // One scale for both axes: the smaller magnitude, each axis keeping its sign.
        const double m = std::min(std::fabs(vx / wx), std::fabs(vy / wy));
        vx = (vx / wx < 0 ? -m : m) * wx;
        vy = (vy / wy < 0 ? -m : m) * wy;
      }
      break;
    case MM_LOMETRIC:
      wx = wy = 254, vx = logPixels, vy = -logPixels;
      break;
    case MM_HIMETRIC:
      wx = wy = 2540, vx = logPixels, vy = -logPixels;
      break;
    case MM_LOENGLISH:
      wx = wy = 100, vx = logPixels, vy = -logPixels;
      break;
    case MM_HIENGLISH:
      wx = wy = 1000, vx = logPixels, vy = -logPixels;
      break;
    case MM_TWIPS:
      wx = wy = 1440, vx = logPixels, vy = -logPixels;
      break;
    default:
      break;
  }
  const double px = vx / wx, py = vy / wy;
  sx = px * a.playSx;
  sy = py * a.playSy;
  ox = (a.viewportOrg.x - a.windowOrg.x * px) * a.playSx + a.playOx;
  oy = (a.viewportOrg.y - a.windowOrg.y * py) * a.playSy + a.playOy;
  ox += a.dcOrg.x;
  oy += a.dcOrg.y;
}

constexpr int kLogPixels = 96;

struct Mapper {
  double sx, sy, ox, oy;
  explicit Mapper(const DCAttrs& a) { PageTransform(a, kLogPixels, sx, sy, ox, oy); }
  long X(double x) const { return Round(x * sx + ox); }
  long Y(double y) const { return Round(y * sy + oy); }
  double Xd(double x) const { return x * sx + ox; }
  double Yd(double y) const { return y * sy + oy; }
};

COLORREF ResolveColor(const SDC* dc, COLORREF c) {
  if ((c & 0xFF000000u) == 0x01000000u) {  // PALETTEINDEX
    const std::vector<PALETTEENTRY>& e = dc && dc->a.palette ? dc->a.palette->entries : HalftonePalette();
    const WORD i = WORD(c & 0xFFFF);
    if (i >= e.size()) return 0;
    return RGB(e[i].peRed, e[i].peGreen, e[i].peBlue);
  }
  return c & 0xFFFFFF;
}

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

// ---------------------------------------------------------------------------------------------------------

SoftGdi::SoftGdi(const SoftOptions& options) : s_(std::make_unique<SoftGdiState>()) {
  s_->opt = options;
  if (s_->opt.screenBitCount != 8 && s_->opt.screenBitCount != 16 && s_->opt.screenBitCount != 24)
    s_->opt.screenBitCount = 32;
  s_->stock.assign(20, nullptr);
  auto brush = [&](int idx, UINT style, COLORREF c) {
    auto b = std::make_unique<SBrush>();
    b->style = style;
    b->color = c;
    b->stock = true;
    s_->stock[idx] = s_->Add(std::move(b));
  };
  auto pen = [&](int idx, int style, COLORREF c) {
    auto p = std::make_unique<SPen>();
    p->style = style;
    p->color = c;
    p->stock = true;
    s_->stock[idx] = s_->Add(std::move(p));
  };
  brush(WHITE_BRUSH, BS_SOLID, 0xFFFFFF);
  brush(LTGRAY_BRUSH, BS_SOLID, 0xC0C0C0);
  brush(GRAY_BRUSH, BS_SOLID, 0x808080);
  brush(DKGRAY_BRUSH, BS_SOLID, 0x404040);
  brush(BLACK_BRUSH, BS_SOLID, 0);
  brush(NULL_BRUSH, BS_NULL, 0);
  pen(WHITE_PEN, PS_SOLID, 0xFFFFFF);
  pen(BLACK_PEN, PS_SOLID, 0);
  pen(NULL_PEN, PS_NULL, 0);
  auto pal = std::make_unique<SPalette>();
  const std::vector<PALETTEENTRY>& ht = HalftonePalette();
  pal->entries.assign(ht.begin(), ht.begin() + 10);
  pal->entries.insert(pal->entries.end(), ht.begin() + 246, ht.end());
  pal->stock = true;
  s_->stock[DEFAULT_PALETTE] = s_->Add(std::move(pal));
  for (int idx : {SYSTEM_FONT, DEFAULT_GUI_FONT}) {
    auto f = std::make_unique<SFont>();
    f->stock = true;
    s_->stock[idx] = s_->Add(std::move(f));
  }
  auto mono = NewBitmap(1, 1, 1, true);
  mono->mono = true;
  ApplyDefaultFormat(*mono, s_->opt.screenBitCount);
  mono->stock = true;
  s_->defaultBitmap = s_->Add(std::move(mono));
}

SoftGdi::~SoftGdi() = default;

// ---- soft-only ----

HBITMAP SoftGdi::CreateDIBSectionOver(void* bits, const BITMAPINFO* bmi) {
  if (!bits || !bmi) return nullptr;
  auto b = std::make_unique<SBitmap>();
  if (!DescribeDib(bmi, DIB_RGB_COLORS, nullptr, *b)) return nullptr;
  if (b->compression != BI_RGB && b->compression != BI_BITFIELDS) return nullptr;
  b->dibSection = true;
  b->bits = static_cast<BYTE*>(bits);
  return reinterpret_cast<HBITMAP>(s_->Add(std::move(b)));
}

HBITMAP SoftGdi::ScreenBitmap() {
  if (!s_->screen) {
    if (!s_->ownScreen) {
      auto b = NewBitmap(std::max(1, s_->opt.screenWidth), std::max(1, s_->opt.screenHeight),
                         s_->opt.screenBitCount, true);
      if (!b) return nullptr;
      ApplyDefaultFormat(*b, s_->opt.screenBitCount);
      b->stock = true;
      s_->ownScreen = s_->Add(std::move(b));
    }
    s_->screen = s_->ownScreen;
  }
  return reinterpret_cast<HBITMAP>(s_->screen);
}

void SoftGdi::SetScreenBitmap(HBITMAP bmp) {
  SBitmap* b = s_->Get<SBitmap>(bmp);
  s_->screen = b ? b : nullptr;
  if (!b) ScreenBitmap();
  for (auto& kv : s_->objects)
    if (SDC* dc = dynamic_cast<SDC*>(kv.second.get()); dc && dc->screen) dc->a.bitmap = s_->screen;
}

int SoftGdi::ScreenBitCount() const {
  return s_->opt.screenBitCount;
}

std::size_t SoftGdi::LiveObjectCount() const {
  std::size_t n = 0;
  for (auto& kv : s_->objects)
    if (!kv.second->stock) ++n;
  return n;
}

void SoftGdi::SetPlaybackTransform(HDC dc, double sx, double sy, double ox, double oy) {
  if (SDC* d = s_->Get<SDC>(dc)) {
    d->a.playSx = sx, d->a.playSy = sy, d->a.playOx = ox, d->a.playOy = oy;
  }
}

bool SoftGdi::GetPlaybackTransform(HDC dc, double& sx, double& sy, double& ox, double& oy) {
  SDC* d = s_->Get<SDC>(dc);
  if (!d) return false;
  sx = d->a.playSx, sy = d->a.playSy, ox = d->a.playOx, oy = d->a.playOy;
  return true;
}

POINT SoftGdi::LogicalToDevice(HDC dc, double x, double y) {
  SDC* d = s_->Get<SDC>(dc);
  if (!d) return {0, 0};
  Mapper m(d->a);
  return {LONG(m.X(x)), LONG(m.Y(y))};
}

// ---- device contexts ----

HDC SoftGdi::CreateCompatibleDC(HDC dc) {
  if (dc && !s_->Get<SDC>(dc)) return nullptr;
  auto d = std::make_unique<SDC>();
  d->a.bitmap = s_->defaultBitmap;
  d->a.brush = static_cast<SBrush*>(s_->stock[WHITE_BRUSH]);
  d->a.pen = static_cast<SPen*>(s_->stock[BLACK_PEN]);
  d->a.palette = static_cast<SPalette*>(s_->stock[DEFAULT_PALETTE]);
  d->a.font = static_cast<SFont*>(s_->stock[SYSTEM_FONT]);
  return reinterpret_cast<HDC>(s_->Add(std::move(d)));
}

BOOL SoftGdi::DeleteDC(HDC dc) {
  SDC* d = s_->Get<SDC>(dc);
  if (!d) return FALSE;
  s_->objects.erase(d);
  return TRUE;
}

namespace {
// Where a window's DC draws: its origin is the window's place on the screen, and it is clipped to the
// window as its ancestors show it, less the visible children when the window clips them.
void AttachToWindow(SDC& d, HWND wnd) {
  WindowSystem* ws = CurrentServices().windows;
  if (!wnd || !ws || !ws->IsWindow(wnd)) return;
  RECT r{};
  if (!ws->GetWindowRect(wnd, &r)) return;
  d.a.dcOrg = {r.left, r.top};
  d.clipped = true;
  const HWND desktop = ws->GetDesktopWindow();
  RECT vis = r;
  // Bounded walks: a window tree changing under them must not keep them going.
  int guard = 0;
  for (HWND p = ws->GetAncestor(wnd, GA_PARENT); p && p != desktop && guard < 4096;
       p = ws->GetAncestor(p, GA_PARENT), ++guard) {
    RECT pr{};
    if (!ws->GetWindowRect(p, &pr)) break;
    vis = {std::max(vis.left, pr.left), std::max(vis.top, pr.top), std::min(vis.right, pr.right),
           std::min(vis.bottom, pr.bottom)};
  }
  if (vis.left >= vis.right || vis.top >= vis.bottom) return;
  d.clip.push_back(vis);
  if (!(static_cast<DWORD>(ws->GetWindowLongPtr(wnd, GWL_STYLE)) & WS_CLIPCHILDREN)) return;
  guard = 0;
  for (HWND c = ws->GetWindow(wnd, GW_CHILD); c && guard < 4096; c = ws->GetWindow(c, GW_HWNDNEXT), ++guard) {
    RECT cr{};
    if (!ws->IsWindowVisible(c) || !ws->GetWindowRect(c, &cr)) continue;
    std::vector<RECT> rest;
    for (const RECT& piece : d.clip) SubtractRect(piece, cr, rest);
    d.clip.swap(rest);
  }
}
}  // namespace

HDC SoftGdi::GetDC(HWND wnd) {
  // Every window draws on the screen here; the soft window system has no pixels of its own.
  if (!ScreenBitmap()) return nullptr;
  auto d = std::make_unique<SDC>();
  d->type = OBJ_DC;
  d->screen = true;
  d->a.bitmap = s_->screen;
  d->a.brush = static_cast<SBrush*>(s_->stock[WHITE_BRUSH]);
  d->a.pen = static_cast<SPen*>(s_->stock[BLACK_PEN]);
  d->a.palette = static_cast<SPalette*>(s_->stock[DEFAULT_PALETTE]);
  d->a.font = static_cast<SFont*>(s_->stock[SYSTEM_FONT]);
  AttachToWindow(*d, wnd);
  return reinterpret_cast<HDC>(s_->Add(std::move(d)));
}

int SoftGdi::ReleaseDC(HWND, HDC dc) {
  SDC* d = s_->Get<SDC>(dc);
  if (!d || !d->screen) return 0;
  s_->objects.erase(d);
  return 1;
}

int SoftGdi::SaveDC(HDC dc) {
  SDC* d = s_->Get<SDC>(dc);
  if (!d) return 0;
  if (d->saved.size() >= 4096) return 0;
  d->saved.push_back(d->a);
  return static_cast<int>(d->saved.size());
}

BOOL SoftGdi::RestoreDC(HDC dc, int saved) {
  SDC* d = s_->Get<SDC>(dc);
  if (!d) return FALSE;
  const int n = static_cast<int>(d->saved.size());
  const int target = saved < 0 ? n + saved + 1 : saved;
  if (target < 1 || target > n) return FALSE;
  d->a = d->saved[target - 1];
  d->saved.resize(target - 1);
  return TRUE;
}

int SoftGdi::GetDeviceCaps(HDC dc, int index) {
  if (!s_->Get<SDC>(dc)) return 0;
  // Every DC reports the screen it belongs to, as memory DCs do on Windows.
  const int bpp = s_->opt.screenBitCount;
  const int w = std::max(1, s_->opt.screenWidth), h = std::max(1, s_->opt.screenHeight);
  switch (index) {
    case TECHNOLOGY:
      return DT_RASDISPLAY;
    case HORZRES:
      return w;
    case VERTRES:
      return h;
    case HORZSIZE:
      return static_cast<int>(Round(w * 25.4 / kLogPixels));
    case VERTSIZE:
      return static_cast<int>(Round(h * 25.4 / kLogPixels));
    case BITSPIXEL:
      return bpp;
    case PLANES:
      return 1;
    case NUMBRUSHES:
    case NUMPENS:
      return -1;
    case NUMCOLORS:
      return bpp <= 8 ? 20 : -1;
    case RASTERCAPS:
      return RC_BITBLT | RC_BITMAP64 | RC_DI_BITMAP | RC_DIBTODEV | RC_STRETCHBLT | RC_STRETCHDIB |
             (bpp <= 8 ? RC_PALETTE : 0);
    case LOGPIXELSX:
    case LOGPIXELSY:
      return kLogPixels;
    case SIZEPALETTE:
      return bpp <= 8 ? 256 : 0;
    case NUMRESERVED:
      return bpp <= 8 ? 20 : 0;
    case COLORRES:
      return bpp <= 8 ? 18 : 24;
    case VREFRESH:
      return 60;
    default:
      return 0;
  }
}

HGDIOBJ SoftGdi::SelectObject(HDC dc, HGDIOBJ obj) {
  SDC* d = s_->Get<SDC>(dc);
  if (!d) return nullptr;
  if (SBitmap* b = s_->Get<SBitmap>(obj)) {
    if (d->screen || b == s_->screen) return nullptr;
    SBitmap* old = d->a.bitmap;
    d->a.bitmap = b;
    return reinterpret_cast<HGDIOBJ>(old);
  }
  if (SBrush* b = s_->Get<SBrush>(obj)) {
    SBrush* old = d->a.brush;
    d->a.brush = b;
    return reinterpret_cast<HGDIOBJ>(old);
  }
  if (SPen* p = s_->Get<SPen>(obj)) {
    SPen* old = d->a.pen;
    d->a.pen = p;
    return reinterpret_cast<HGDIOBJ>(old);
  }
  if (SFont* f = s_->Get<SFont>(obj)) {
    SFont* old = d->a.font;
    d->a.font = f;
    return reinterpret_cast<HGDIOBJ>(old);
  }
  return nullptr;
}

HGDIOBJ SoftGdi::GetCurrentObject(HDC dc, UINT type) {
  SDC* d = s_->Get<SDC>(dc);
  if (!d) return nullptr;
  switch (type) {
    case OBJ_BITMAP:
      return reinterpret_cast<HGDIOBJ>(d->a.bitmap);
    case OBJ_BRUSH:
      return reinterpret_cast<HGDIOBJ>(d->a.brush);
    case OBJ_PEN:
      return reinterpret_cast<HGDIOBJ>(d->a.pen);
    case OBJ_PAL:
      return reinterpret_cast<HGDIOBJ>(d->a.palette);
    case OBJ_FONT:
      return reinterpret_cast<HGDIOBJ>(d->a.font);
    default:
      return nullptr;
  }
}

BOOL SoftGdi::DeleteObject(HGDIOBJ obj) {
  auto it = s_->objects.find(obj);
  if (it == s_->objects.end()) return FALSE;
  GdiObject* o = it->second.get();
  if (o->stock) return TRUE;
  if (o->type == OBJ_DC || o->type == OBJ_MEMDC || o->type == OBJ_ENHMETAFILE || dynamic_cast<SIcon*>(o))
    return FALSE;
  // An object still selected into a DC stays alive: deleting it would leave the DC pointing at nothing.
  if (s_->IsSelected(o)) return FALSE;
  s_->objects.erase(it);
  return TRUE;
}

int SoftGdi::GetObject(HGDIOBJ obj, int size, void* out) {
  if (SBitmap* b = s_->Get<SBitmap>(obj)) {
    BITMAP bm{};
    bm.bmType = 0;
    bm.bmWidth = b->width;
    bm.bmHeight = b->height;
    bm.bmWidthBytes = b->dibSection ? static_cast<LONG>(b->stride)
                                    : static_cast<LONG>(((std::size_t(b->width) * b->bpp + 15) / 16) * 2);
    bm.bmPlanes = 1;
    bm.bmBitsPixel = static_cast<WORD>(b->bpp);
    bm.bmBits = b->dibSection ? b->bits : nullptr;
    if (b->dibSection && size >= int(sizeof(DIBSECTION))) {
      DIBSECTION ds{};
      ds.dsBm = bm;
      ds.dsBmih = b->header;
      ds.dsBmih.biSizeImage = static_cast<DWORD>(b->stride * std::size_t(b->height));
      ds.dsBitfields[0] = b->rmask;
      ds.dsBitfields[1] = b->gmask;
      ds.dsBitfields[2] = b->bmask;
      if (out) std::memcpy(out, &ds, sizeof ds);
      return sizeof(DIBSECTION);
    }
    if (!out) return sizeof(BITMAP);
    if (size < int(sizeof(BITMAP))) return 0;
    std::memcpy(out, &bm, sizeof bm);
    return sizeof(BITMAP);
  }
  if (SPalette* p = s_->Get<SPalette>(obj)) {
    if (!out) return sizeof(WORD);
    if (size < int(sizeof(WORD))) return 0;
    const WORD n = static_cast<WORD>(p->entries.size());
    std::memcpy(out, &n, sizeof n);
    return sizeof(WORD);
  }
  if (SBrush* b = s_->Get<SBrush>(obj)) {
    if (!out) return sizeof(LOGBRUSH);
    if (size < int(sizeof(LOGBRUSH))) return 0;
    LOGBRUSH lb{b->style, b->color, 0};
    std::memcpy(out, &lb, sizeof lb);
    return sizeof(LOGBRUSH);
  }
  return 0;
}

DWORD SoftGdi::GetObjectType(HGDIOBJ obj) {
  auto it = s_->objects.find(obj);
  if (it == s_->objects.end()) return 0;
  const DWORD t = it->second->type;
  return t >= OBJ_PEN && t <= OBJ_ENHMETAFILE ? t : 0;
}

HGDIOBJ SoftGdi::GetStockObject(int index) {
  if (index < 0 || index >= int(s_->stock.size())) return nullptr;
  return reinterpret_cast<HGDIOBJ>(s_->stock[index]);
}

BOOL SoftGdi::GdiFlush() {
  return TRUE;
}

// ---- attributes ----

#define DS_DC_OR(ret)        \
  SDC* d = s_->Get<SDC>(dc); \
  if (!d) return ret

int SoftGdi::SetStretchBltMode(HDC dc, int mode) {
  DS_DC_OR(0);
  if (mode < BLACKONWHITE || mode > HALFTONE) return 0;
  const int old = d->a.stretchMode;
  d->a.stretchMode = mode;
  return old;
}
int SoftGdi::GetStretchBltMode(HDC dc) {
  DS_DC_OR(0);
  return d->a.stretchMode;
}
BOOL SoftGdi::SetBrushOrgEx(HDC dc, int x, int y, POINT* old) {
  DS_DC_OR(FALSE);
  if (old) *old = d->a.brushOrg;
  d->a.brushOrg = {x, y};
  return TRUE;
}
COLORREF SoftGdi::SetTextColor(HDC dc, COLORREF color) {
  DS_DC_OR(CLR_INVALID);
  const COLORREF old = d->a.textColor;
  d->a.textColor = color;
  return old;
}
COLORREF SoftGdi::GetTextColor(HDC dc) {
  DS_DC_OR(CLR_INVALID);
  return d->a.textColor;
}
COLORREF SoftGdi::SetBkColor(HDC dc, COLORREF color) {
  DS_DC_OR(CLR_INVALID);
  const COLORREF old = d->a.bkColor;
  d->a.bkColor = color;
  return old;
}
COLORREF SoftGdi::GetBkColor(HDC dc) {
  DS_DC_OR(CLR_INVALID);
  return d->a.bkColor;
}
int SoftGdi::SetBkMode(HDC dc, int mode) {
  DS_DC_OR(0);
  if (mode != TRANSPARENT && mode != OPAQUE) return 0;
  const int old = d->a.bkMode;
  d->a.bkMode = mode;
  return old;
}
int SoftGdi::SetPolyFillMode(HDC dc, int mode) {
  DS_DC_OR(0);
  if (mode != ALTERNATE && mode != WINDING) return 0;
  const int old = d->a.polyFillMode;
  d->a.polyFillMode = mode;
  return old;
}
int SoftGdi::SetMapMode(HDC dc, int mode) {
  DS_DC_OR(0);
  if (mode < MM_TEXT || mode > MM_ANISOTROPIC) return 0;
  const int old = d->a.mapMode;
  d->a.mapMode = mode;
  return old;
}
BOOL SoftGdi::SetWindowOrgEx(HDC dc, int x, int y, POINT* old) {
  DS_DC_OR(FALSE);
  if (old) *old = d->a.windowOrg;
  d->a.windowOrg = {x, y};
  return TRUE;
}
BOOL SoftGdi::SetWindowExtEx(HDC dc, int x, int y, SIZE* old) {
  DS_DC_OR(FALSE);
  if (old) *old = d->a.windowExt;
  // Extents only count in the scalable modes, and never as zero.
  if (x == 0 || y == 0) return FALSE;
  if (d->a.mapMode == MM_ISOTROPIC || d->a.mapMode == MM_ANISOTROPIC) d->a.windowExt = {x, y};
  return TRUE;
}
BOOL SoftGdi::SetViewportOrgEx(HDC dc, int x, int y, POINT* old) {
  DS_DC_OR(FALSE);
  if (old) *old = d->a.viewportOrg;
  d->a.viewportOrg = {x, y};
  return TRUE;
}
BOOL SoftGdi::SetViewportExtEx(HDC dc, int x, int y, SIZE* old) {
  DS_DC_OR(FALSE);
  if (old) *old = d->a.viewportExt;
  if (x == 0 || y == 0) return FALSE;
  if (d->a.mapMode == MM_ISOTROPIC || d->a.mapMode == MM_ANISOTROPIC) d->a.viewportExt = {x, y};
  return TRUE;
}

// ---- bitmaps ----

HBITMAP SoftGdi::CreateBitmap(int width, int height, UINT planes, UINT bitCount, const void* bits) {
  if (width == 0 || height == 0) return reinterpret_cast<HBITMAP>(s_->defaultBitmap);
  if (width < 0 || height < 0 || planes != 1) return nullptr;
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
    return nullptr;
  auto b = NewBitmap(width, height, int(bitCount), true);
  if (!b) return nullptr;
  b->mono = bitCount == 1;
  ApplyDefaultFormat(*b, s_->opt.screenBitCount);
  if (bits) {
    // Rows of the caller's bits are padded to 16 bits, top row first.
    const std::size_t src = ((std::size_t(width) * bitCount + 15) / 16) * 2;
    const BYTE* p = static_cast<const BYTE*>(bits);
    for (int y = 0; y < height; ++y) std::memcpy(b->Row(y), p + src * std::size_t(y), src);
  }
  return reinterpret_cast<HBITMAP>(s_->Add(std::move(b)));
}

HBITMAP SoftGdi::CreateCompatibleBitmap(HDC dc, int width, int height) {
  SDC* d = s_->Get<SDC>(dc);
  if (!d) return nullptr;
  if (width == 0 || height == 0) return reinterpret_cast<HBITMAP>(s_->defaultBitmap);
  if (width < 0 || height < 0) return nullptr;
  // The format of the bitmap the DC shows: the screen's, or that of the bitmap selected into a memory DC
  // (a fresh memory DC therefore gives a monochrome bitmap).
  const SBitmap* like = d->screen ? s_->screen : d->a.bitmap;
  std::unique_ptr<SBitmap> b;
  if (!like) {
    b = NewBitmap(width, height, s_->opt.screenBitCount, true);
    if (b) ApplyDefaultFormat(*b, s_->opt.screenBitCount);
  } else {
    b = NewBitmap(width, height, like->bpp, true);
    if (b) {
      b->mono = like->mono;
      b->colors = like->colors;
      b->rmask = like->rmask, b->gmask = like->gmask, b->bmask = like->bmask;
    }
  }
  if (!b) return nullptr;
  return reinterpret_cast<HBITMAP>(s_->Add(std::move(b)));
}

HBITMAP SoftGdi::CreateDIBSection(HDC dc, const BITMAPINFO* bmi, UINT usage, void** bits) {
  if (bits) *bits = nullptr;
  SDC* d = s_->Get<SDC>(dc);
  auto b = std::make_unique<SBitmap>();
  if (!DescribeDib(bmi, usage, d ? d->a.palette : nullptr, *b)) return nullptr;
  if (b->compression != BI_RGB && b->compression != BI_BITFIELDS) return nullptr;
  const std::size_t size = b->stride * std::size_t(b->height);
  if (size > kMaxBitmapBytes) {
    SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  b->storage.Allocate(size);
  b->bits = b->storage.data();
  b->dibSection = true;
  if (bits) *bits = b->bits;
  return reinterpret_cast<HBITMAP>(s_->Add(std::move(b)));
}

HBITMAP SoftGdi::CreateDIBitmap(HDC dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits,
                                const BITMAPINFO* bmi, UINT usage) {
  if (!header) return nullptr;
  DWORD size;
  std::memcpy(&size, header, sizeof size);  // byte-wise: the header may lie in a file buffer at any alignment
  if (size < sizeof(BITMAPCOREHEADER)) return nullptr;
  LONG w, h;
  if (size == sizeof(BITMAPCOREHEADER)) {
    BITMAPCOREHEADER c;
    std::memcpy(&c, header, sizeof c);
    w = c.bcWidth, h = c.bcHeight;
  } else {
    BITMAPINFOHEADER full;
    std::memcpy(&full, header, sizeof full);
    w = full.biWidth, h = full.biHeight;
  }
  if (w <= 0 || h == 0 || h == INT32_MIN) return nullptr;
  if (h < 0) h = -h;
  // A screen-format bitmap whatever the DC shows, as the device-dependent result of this call is.
  auto b = NewBitmap(w, h, s_->opt.screenBitCount, true);
  if (!b) return nullptr;
  ApplyDefaultFormat(*b, s_->opt.screenBitCount);
  HBITMAP hb = reinterpret_cast<HBITMAP>(s_->Add(std::move(b)));
  if ((init & CBM_INIT) && bits && bmi) {
    if (!SetDIBits(dc, hb, 0, static_cast<UINT>(h), bits, bmi, usage)) {
      s_->objects.erase(hb);
      return nullptr;
    }
  }
  return hb;
}

int SoftGdi::GetDIBits(HDC dc, HBITMAP bmp, UINT start, UINT lines, void* bits, BITMAPINFO* bmi, UINT usage) {
  (void)usage;  // results always carry RGB colour tables
  SDC* d = s_->Get<SDC>(dc);
  SBitmap* b = s_->Get<SBitmap>(bmp);
  if (!d || !b || !bmi) return 0;
  BITMAPINFOHEADER& h = bmi->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER)) return 0;
  if (!bits && h.biBitCount == 0) {
    h.biWidth = b->width;
    h.biHeight = b->height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(b->bpp);
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(DibStride(b->width, b->bpp) * std::size_t(b->height));
    h.biClrUsed = 0;
    h.biClrImportant = 0;
    if (b->bpp == 16 || b->bpp == 32) {
      const bool standard = b->bpp == 16 ? (b->rmask == 0x7C00 && b->gmask == 0x3E0 && b->bmask == 0x1F)
                                         : (b->rmask == 0xFF0000 && b->gmask == 0xFF00 && b->bmask == 0xFF);
      if (!standard) {
        h.biCompression = BI_BITFIELDS;
        DWORD m[3] = {b->rmask, b->gmask, b->bmask};
        std::memcpy(reinterpret_cast<BYTE*>(bmi) + h.biSize, m, sizeof m);
      }
    }
    return b->height;
  }
  const int bpp = h.biBitCount;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return 0;
  if (h.biCompression != BI_RGB && h.biCompression != BI_BITFIELDS) return 0;
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) return 0;
  const bool topDown = h.biHeight < 0;
  const int dibH = topDown ? -h.biHeight : h.biHeight;
  // The colour table of the result: the bitmap's own at its bit count, else a standard table.
  if (bpp <= 8) {
    std::vector<RGBQUAD> table;
    if (b->bpp == bpp && !b->mono)
      table = b->colors;
    else if (bpp == 1)
      table = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    else if (bpp == 4)
      table = Vga16Table();
    else
      table = HalftoneTable();
    table.resize(std::size_t(1) << bpp, RGBQUAD{0, 0, 0, 0});
    h.biClrUsed = 0;
    std::memcpy(DibColors(bmi), table.data(), table.size() * sizeof(RGBQUAD));
  } else if (h.biCompression != BI_BITFIELDS) {
    h.biClrUsed = 0;
  }
  const std::size_t stride = DibStride(h.biWidth, bpp);
  if (!stride || stride > kMaxBitmapBytes / std::size_t(dibH)) return 0;
  h.biSizeImage = static_cast<DWORD>(stride * std::size_t(dibH));
  if (!bits) return dibH;
  SBitmap view;
  if (!DescribeDib(bmi, DIB_RGB_COLORS, nullptr, view)) return 0;
  view.bits = static_cast<BYTE*>(bits);
  view.topDown = true;  // rows addressed in memory order below
  view.height = static_cast<int>(std::min<UINT>(lines, UINT(dibH)));
  BlitContext ctx;
  ctx.dstText = 0;
  ctx.dstBk = 0xFFFFFF;
  ctx.srcBk = d->a.bkColor;
  ctx.monoByBackground = false;
  int copied = 0;
  const int w = std::min(view.width, b->width);
  // One converter per call, through a 1-row stretch per scan line keeps the conversion rules in one place.
  for (UINT j = 0; j < lines && std::int64_t(start) + j < dibH; ++j) {
    const std::int64_t scan = std::int64_t(start) + j;
    const std::int64_t row = topDown ? scan : dibH - 1 - scan;
    if (row < 0 || row >= b->height) continue;
    SBitmap line = view;
    line.bits = view.bits + std::size_t(j) * stride;
    line.height = 1;
    StretchBits(line, 0, 0, w, 1, b, 0, static_cast<int>(row), w, 1, SRCCOPY, ctx);
    ++copied;
  }
  return copied;
}

int SoftGdi::SetDIBits(HDC dc, HBITMAP bmp, UINT start, UINT lines, const void* bits, const BITMAPINFO* bmi,
                       UINT usage) {
  SDC* d = s_->Get<SDC>(dc);
  SBitmap* b = s_->Get<SBitmap>(bmp);
  if (!b || !bits || !bmi) return 0;
  SBitmap view;
  if (!DescribeDib(bmi, usage, d ? d->a.palette : nullptr, view)) return 0;
  std::vector<BYTE> expanded;
  if (view.compression == BI_RLE8 || view.compression == BI_RLE4) {
    if (view.topDown) return 0;  // run-length data is always bottom-up
    expanded.assign(view.stride * std::size_t(view.height), 0);
    DecodeRle(static_cast<const BYTE*>(bits), view.header.biSizeImage, view.compression, view.width,
              view.height, expanded.data(), view.stride);
    bits = expanded.data();
    start = 0;
    lines = static_cast<UINT>(view.height);
  }
  const int dibH = view.height;
  const bool topDown = view.topDown;
  BlitContext ctx;
  ctx.dstText = d ? d->a.textColor : 0;
  ctx.dstBk = d ? d->a.bkColor : 0xFFFFFF;
  ctx.monoByBackground = false;
  const int w = std::min(view.width, b->width);
  int copied = 0;
  for (UINT j = 0; j < lines && std::int64_t(start) + j < dibH; ++j) {
    const std::int64_t scan = std::int64_t(start) + j;
    const std::int64_t row = topDown ? scan : std::int64_t(b->height) - 1 - scan;
    if (row < 0 || row >= b->height) continue;
    SBitmap line = view;
    line.bits = const_cast<BYTE*>(static_cast<const BYTE*>(bits)) + std::size_t(j) * view.stride;
    line.height = 1;
    line.topDown = true;
    StretchBits(*b, 0, static_cast<int>(row), w, 1, &line, 0, 0, w, 1, SRCCOPY, ctx);
    ++copied;
  }
  return copied;
}

UINT SoftGdi::GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* colors) {
  SDC* d = s_->Get<SDC>(dc);
  if (!d || !d->a.bitmap || !d->a.bitmap->dibSection || d->a.bitmap->bpp > 8 || !colors) return 0;
  const std::vector<RGBQUAD>& t = d->a.bitmap->colors;
  UINT n = 0;
  for (; n < count && start + n < t.size(); ++n) colors[n] = t[start + n];
  return n;
}

UINT SoftGdi::SetDIBColorTable(HDC dc, UINT start, UINT count, const RGBQUAD* colors) {
  SDC* d = s_->Get<SDC>(dc);
  if (!d || !d->a.bitmap || !d->a.bitmap->dibSection || d->a.bitmap->bpp > 8 || !colors) return 0;
  std::vector<RGBQUAD>& t = d->a.bitmap->colors;
  UINT n = 0;
  for (; n < count && start + n < t.size(); ++n)
    t[start + n] = {colors[n].rgbBlue, colors[n].rgbGreen, colors[n].rgbRed, 0};
  return n;
}

// ---- transfers ----

BOOL SoftGdi::BitBlt(HDC dst, int x, int y, int w, int h, HDC src, int xs, int ys, DWORD rop) {
  return StretchBlt(dst, x, y, w, h, src, xs, ys, w, h, rop);
}

BOOL SoftGdi::StretchBlt(HDC dst, int x, int y, int w, int h, HDC src, int xs, int ys, int ws, int hs,
                         DWORD rop) {
  SDC* d = s_->Get<SDC>(dst);
  if (!d || !d->a.bitmap) return FALSE;
  SDC* sd = nullptr;
  if (RopUsesSource(rop)) {
    sd = s_->Get<SDC>(src);
    if (!sd || !sd->a.bitmap) return FALSE;
  }
  Mapper m(d->a);
  const long dx0 = m.X(x), dy0 = m.Y(y), dx1 = m.X(double(x) + w), dy1 = m.Y(double(y) + h);
  std::int64_t sx0 = xs, sy0 = ys, sw = ws, sh = hs;
  if (sd) {
    Mapper ms(sd->a);
    sx0 = ms.X(xs);
    sy0 = ms.Y(ys);
    sw = ms.X(double(xs) + ws) - sx0;
    sh = ms.Y(double(ys) + hs) - sy0;
  }
  BlitContext ctx;
  ctx.srcBk = sd ? ResolveColor(sd, sd->a.bkColor) : 0xFFFFFF;
  ctx.dstText = ResolveColor(d, d->a.textColor);
  ctx.dstBk = ResolveColor(d, d->a.bkColor);
  ctx.brush = d->a.brush;
  ctx.stretchMode = d->a.stretchMode;
  StretchBits(*d->a.bitmap, dx0, dy0, dx1 - dx0, dy1 - dy0, sd ? sd->a.bitmap : nullptr, sx0, sy0, sw, sh,
              rop, ctx);
  return TRUE;
}

BOOL SoftGdi::PatBlt(HDC dc, int x, int y, int w, int h, DWORD rop) {
  return StretchBlt(dc, x, y, w, h, nullptr, 0, 0, 0, 0, rop);
}

int SoftGdi::StretchDIBits(HDC dc, int x, int y, int w, int h, int xs, int ys, int ws, int hs,
                           const void* bits, const BITMAPINFO* bmi, UINT usage, DWORD rop) {
  SDC* d = s_->Get<SDC>(dc);
  if (!d || !d->a.bitmap || !bits) return 0;
  SBitmap view;
  if (!DescribeDib(bmi, usage, d->a.palette, view)) return 0;
  std::vector<BYTE> expanded;
  if (view.compression == BI_RLE8 || view.compression == BI_RLE4) {
    if (view.topDown) return 0;
    expanded.assign(view.stride * std::size_t(view.height), 0);
    DecodeRle(static_cast<const BYTE*>(bits), view.header.biSizeImage, view.compression, view.width,
              view.height, expanded.data(), view.stride);
    view.bits = expanded.data();
  } else {
    view.bits = const_cast<BYTE*>(static_cast<const BYTE*>(bits));
  }
  // DIB source coordinates count rows from the bottom for bottom-up images.
  std::int64_t sy = ys;
  if (!view.topDown) sy = std::int64_t(view.height) - ys - hs;
  Mapper m(d->a);
  const long dx0 = m.X(x), dy0 = m.Y(y), dx1 = m.X(double(x) + w), dy1 = m.Y(double(y) + h);
  BlitContext ctx;
  ctx.dstText = ResolveColor(d, d->a.textColor);
  ctx.dstBk = ResolveColor(d, d->a.bkColor);
  ctx.brush = d->a.brush;
  ctx.stretchMode = d->a.stretchMode;
  ctx.monoByBackground = false;
  StretchBits(*d->a.bitmap, dx0, dy0, dx1 - dx0, dy1 - dy0, &view, xs, sy, ws, hs, rop, ctx);
  // A source height of INT_MIN has no positive counterpart; a metafile record can carry it.
  const std::int64_t lines = hs < 0 ? -std::int64_t(hs) : hs;
  return int(std::min<std::int64_t>(lines, std::numeric_limits<int>::max()));
}

int SoftGdi::SetDIBitsToDevice(HDC dc, int x, int y, DWORD w, DWORD h, int xs, int ys, UINT startScan,
                               UINT lines, const void* bits, const BITMAPINFO* bmi, UINT usage) {
  SDC* d = s_->Get<SDC>(dc);
  if (!d || !d->a.bitmap || !bits) return 0;
  SBitmap view;
  if (!DescribeDib(bmi, usage, d->a.palette, view)) return 0;
  if (view.compression != BI_RGB && view.compression != BI_BITFIELDS) return 0;
  if (w > 0x7FFFFFFFu || h > 0x7FFFFFFFu) return 0;
  // The bits hold scans startScan .. startScan + lines - 1 of the whole image.
  const int fullH = view.height;
  const UINT avail = std::min<UINT>(lines, fullH > int(startScan) ? UINT(fullH) - startScan : 0u);
  if (!avail) return 0;
  view.bits = const_cast<BYTE*>(static_cast<const BYTE*>(bits));
  view.height = static_cast<int>(avail);
  BlitContext ctx;
  ctx.dstText = ResolveColor(d, d->a.textColor);
  ctx.dstBk = ResolveColor(d, d->a.bkColor);
  ctx.monoByBackground = false;
  Mapper m(d->a);
  const long dx = m.X(x), dy = m.Y(y);
  // Walk the scans the caller supplied (never more rows than the image has): scan ys + k, counted from the
  // image's top (top-down) or bottom (bottom-up), lands on destination row k or h - 1 - k.
  for (UINT local = 0; local < avail; ++local) {
    const std::int64_t k = std::int64_t(startScan) + local - ys;
    if (k < 0 || k >= std::int64_t(h)) continue;
    const std::int64_t r = view.topDown ? k : std::int64_t(h) - 1 - k;
    const int srcRow = view.topDown ? int(local) : int(avail - 1 - local);
    StretchBits(*d->a.bitmap, dx, dy + r, w, 1, &view, xs, srcRow, w, 1, SRCCOPY, ctx);
  }
  return static_cast<int>(avail);
}

COLORREF SoftGdi::SetPixel(HDC dc, int x, int y, COLORREF color) {
  DS_DC_OR(CLR_INVALID);
  SBitmap* b = d->a.bitmap;
  Mapper m(d->a);
  const long px = m.X(x), py = m.Y(y);
  if (!b || px < 0 || py < 0 || px >= b->width || py >= b->height) return CLR_INVALID;
  const DWORD raw = ColorToRaw(*b, ResolveColor(d, color));
  WriteRaw(*b, int(px), int(py), raw);
  return RawToColor(*b, raw);
}

COLORREF SoftGdi::GetPixel(HDC dc, int x, int y) {
  DS_DC_OR(CLR_INVALID);
  SBitmap* b = d->a.bitmap;
  Mapper m(d->a);
  const long px = m.X(x), py = m.Y(y);
  if (!b || px < 0 || py < 0 || px >= b->width || py >= b->height) return CLR_INVALID;
  return RawToColor(*b, ReadRaw(*b, int(px), int(py)));
}

// ---- palettes ----

HPALETTE SoftGdi::CreatePalette(const LOGPALETTE* pal) {
  if (!pal || pal->palVersion != 0x300 || pal->palNumEntries == 0) return nullptr;
  auto p = std::make_unique<SPalette>();
  const PALETTEENTRY* e = reinterpret_cast<const PALETTEENTRY*>(reinterpret_cast<const BYTE*>(pal) + 4);
  p->entries.assign(e, e + pal->palNumEntries);
  return reinterpret_cast<HPALETTE>(s_->Add(std::move(p)));
}

HPALETTE SoftGdi::CreateHalftonePalette(HDC dc) {
  if (dc && !s_->Get<SDC>(dc)) return nullptr;
  auto p = std::make_unique<SPalette>();
  p->entries = HalftonePalette();
  return reinterpret_cast<HPALETTE>(s_->Add(std::move(p)));
}

HPALETTE SoftGdi::SelectPalette(HDC dc, HPALETTE pal, BOOL) {
  DS_DC_OR(nullptr);
  SPalette* p = s_->Get<SPalette>(pal);
  if (!p) return nullptr;
  SPalette* old = d->a.palette;
  d->a.palette = p;
  return reinterpret_cast<HPALETTE>(old);
}

UINT SoftGdi::RealizePalette(HDC dc) {
  DS_DC_OR(GDI_ERROR);
  // The system palette is fixed here, so realising changes no system entries.
  return 0;
}

UINT SoftGdi::GetPaletteEntries(HPALETTE pal, UINT start, UINT count, PALETTEENTRY* entries) {
  SPalette* p = s_->Get<SPalette>(pal);
  if (!p) return 0;
  if (!entries) return static_cast<UINT>(p->entries.size());
  UINT n = 0;
  for (; n < count && start + n < p->entries.size(); ++n) entries[n] = p->entries[start + n];
  return n;
}

UINT SoftGdi::SetPaletteEntries(HPALETTE pal, UINT start, UINT count, const PALETTEENTRY* entries) {
  SPalette* p = s_->Get<SPalette>(pal);
  if (!p || p->stock || !entries) return 0;
  UINT n = 0;
  for (; n < count && start + n < p->entries.size(); ++n) p->entries[start + n] = entries[n];
  return n;
}

UINT SoftGdi::GetSystemPaletteEntries(HDC dc, UINT start, UINT count, PALETTEENTRY* entries) {
  DS_DC_OR(0);
  if (s_->opt.screenBitCount > 8) return 0;
  const std::vector<PALETTEENTRY>& sys = HalftonePalette();
  if (!entries) return 256;
  UINT n = 0;
  for (; n < count && start + n < sys.size(); ++n) entries[n] = sys[start + n];
  return n;
}

UINT SoftGdi::GetNearestPaletteIndex(HPALETTE pal, COLORREF color) {
  SPalette* p = s_->Get<SPalette>(pal);
  if (!p || p->entries.empty()) return CLR_INVALID;
  return static_cast<UINT>(NearestIndex(p->entries, color & 0xFFFFFF));
}

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

int SoftGdi::FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  DS_DC_OR(0);
  SBrush* br = s_->Get<SBrush>(brush);
  if (!rect || !br || !d->a.bitmap) return 0;
  if (br->style == BS_NULL) return 1;
  Mapper m(d->a);
  long l = m.X(rect->left), r = m.X(rect->right), t = m.Y(rect->top), b = m.Y(rect->bottom);
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
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
  if (l > r) std::swap(l, r);
  if (t > bt) std::swap(t, bt);
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
  if (l > r) std::swap(l, r);
  if (t > bt) std::swap(t, bt);
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

// ---- icons ----

namespace {
bool IsPng(const BYTE* data, std::size_t size) {
  static const BYTE sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  return size >= 8 && std::memcmp(data, sig, 8) == 0;
}
bool HasAlpha(const SBitmap& b) {
  if (b.bpp != 32) return false;
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x)
      if (ReadRaw(b, x, y) >> 24) return true;
  return false;
}
}  // namespace

HICON SoftGdi::CreateIconFromResourceEx(const BYTE* data, DWORD size, BOOL icon, DWORD, int cx, int cy,
                                        UINT flags) {
  if (!data || size < 12) return nullptr;
  auto ic = std::make_unique<SIcon>();
  ic->isIcon = icon != FALSE;
  if (!icon) {  // cursor resources start with the hot spot
    ic->xHotspot = WORD(data[0] | (data[1] << 8));
    ic->yHotspot = WORD(data[2] | (data[3] << 8));
    data += 4;
    size -= 4;
  }
  if (IsPng(data, size)) {
    const IconPngDecoder& decode = GetIconPngDecoder();
    int w = 0, h = 0;
    std::vector<BYTE> bgra;
    if (!decode || !decode(data, size, w, h, bgra) || w <= 0 || h <= 0) return nullptr;
    if (std::size_t(w) > 0x7FFF || std::size_t(h) > 0x7FFF ||
        bgra.size() < std::size_t(w) * std::size_t(h) * 4)
      return nullptr;
    auto color = NewBitmap(w, h, 32, true);
    auto mask = NewBitmap(w, h, 1, true);
    if (!color || !mask) return nullptr;
    color->rmask = 0xFF0000, color->gmask = 0xFF00, color->bmask = 0xFF;
    mask->mono = true;
    ApplyDefaultFormat(*mask, s_->opt.screenBitCount);
    for (int y = 0; y < h; ++y) {
      std::memcpy(color->Row(y), bgra.data() + std::size_t(y) * w * 4, std::size_t(w) * 4);
      for (int x = 0; x < w; ++x)
        WriteRaw(*mask, x, y, bgra[(std::size_t(y) * w + x) * 4 + 3] == 0 ? 1u : 0u);
    }
    ic->color = std::move(color);
    ic->mask = std::move(mask);
    ic->width = w, ic->height = h;
  } else {
    if (size < sizeof(BITMAPINFOHEADER)) return nullptr;
    BITMAPINFOHEADER hdr;
    std::memcpy(&hdr, data, sizeof hdr);
    if (hdr.biSize < sizeof(BITMAPINFOHEADER) || hdr.biSize > size) return nullptr;
    if (hdr.biHeight <= 0 || hdr.biHeight == INT32_MIN || hdr.biHeight < 2) return nullptr;
    if (hdr.biCompression != BI_RGB && hdr.biCompression != BI_BITFIELDS) return nullptr;
    const LONG h = hdr.biHeight / 2;  // the height covers the image and its mask
    BITMAPINFOHEADER half = hdr;
    half.biHeight = h;
    const std::size_t infoSize = DibInfoSize(hdr, DIB_RGB_COLORS);
    if (!infoSize || infoSize > size) return nullptr;
    std::vector<BYTE> info(data, data + infoSize);
    std::memcpy(info.data(), &half, sizeof half);
    auto color = std::make_unique<SBitmap>();
    if (!DescribeDib(reinterpret_cast<const BITMAPINFO*>(info.data()), DIB_RGB_COLORS, nullptr, *color))
      return nullptr;
    const std::size_t xorBytes = color->stride * std::size_t(h);
    if (size - infoSize < xorBytes) return nullptr;
    color->storage.Assign(data + infoSize, data + infoSize + xorBytes);
    color->bits = color->storage.data();
    color->dibSection = false;
    auto mask = NewBitmap(color->width, h, 1, false);
    if (!mask) return nullptr;
    mask->mono = true;
    ApplyDefaultFormat(*mask, s_->opt.screenBitCount);
    // The AND mask follows, bottom-up like the image; a short mask leaves its missing rows opaque.
    const std::size_t avail = size - infoSize - xorBytes;
    std::memcpy(mask->bits, data + infoSize + xorBytes, std::min(avail, mask->storage.size()));
    ic->width = color->width, ic->height = h;
    ic->color = std::move(color);
    ic->mask = std::move(mask);
  }
  if (cx > 0) ic->width = cx;
  if (cy > 0) ic->height = cy;
  if ((flags & LR_DEFAULTSIZE) && cx == 0) ic->width = GetSystemMetrics(SM_CXICON);
  if ((flags & LR_DEFAULTSIZE) && cy == 0) ic->height = GetSystemMetrics(SM_CYICON);
  return reinterpret_cast<HICON>(s_->Add(std::move(ic)));
}

HICON SoftGdi::CreateIconIndirect(const ICONINFO* info) {
  if (!info) return nullptr;
  SBitmap* mask = s_->Get<SBitmap>(info->hbmMask);
  SBitmap* color = s_->Get<SBitmap>(info->hbmColor);
  if (!mask) return nullptr;
  auto ic = std::make_unique<SIcon>();
  ic->isIcon = info->fIcon != FALSE;
  ic->xHotspot = info->xHotspot, ic->yHotspot = info->yHotspot;
  ic->mask = CopyBitmap(*mask);
  if (color) ic->color = CopyBitmap(*color);
  ic->width = mask->width;
  ic->height = color ? mask->height : mask->height / 2;
  return reinterpret_cast<HICON>(s_->Add(std::move(ic)));
}

BOOL SoftGdi::GetIconInfo(HICON icon, ICONINFO* info) {
  SIcon* ic = s_->Get<SIcon>(icon);
  if (!ic || !info) return FALSE;
  info->fIcon = ic->isIcon;
  info->xHotspot = ic->isIcon ? DWORD(ic->width / 2) : ic->xHotspot;
  info->yHotspot = ic->isIcon ? DWORD(ic->height / 2) : ic->yHotspot;
  info->hbmMask = reinterpret_cast<HBITMAP>(s_->Add(CopyBitmap(*ic->mask)));
  info->hbmColor = ic->color ? reinterpret_cast<HBITMAP>(s_->Add(CopyBitmap(*ic->color))) : nullptr;
  return TRUE;
}

BOOL SoftGdi::DrawIconEx(HDC dc, int x, int y, HICON icon, int cx, int cy, UINT, HBRUSH, UINT flags) {
  DS_DC_OR(FALSE);
  SIcon* ic = s_->Get<SIcon>(icon);
  if (!ic || !d->a.bitmap) return FALSE;
  SBitmap& dst = *d->a.bitmap;
  if (cx == 0) cx = (flags & DI_DEFAULTSIZE) ? GetSystemMetrics(SM_CXICON) : ic->width;
  if (cy == 0) cy = (flags & DI_DEFAULTSIZE) ? GetSystemMetrics(SM_CYICON) : ic->height;
  Mapper m(d->a);
  const long dx0 = m.X(x), dy0 = m.Y(y), dx1 = m.X(double(x) + cx), dy1 = m.Y(double(y) + cy);
  const int w = int(dx1 - dx0), h = int(dy1 - dy0);
  BlitContext ctx;
  ctx.dstText = 0;  // mask bits: 0 black, 1 white, whatever the DC's colours
  ctx.dstBk = 0xFFFFFF;
  ctx.stretchMode = COLORONCOLOR;
  const SBitmap& mask = *ic->mask;
  const int imgH = ic->color ? mask.height : mask.height / 2;
  if (ic->color && (flags & DI_IMAGE) && (flags & DI_MASK) && HasAlpha(*ic->color)) {
    // Images with an alpha channel blend by it and ignore the mask.
    const SBitmap& c = *ic->color;
    // Walk only the destination pixels inside the bitmap; each maps back to its source pixel.
    const std::int64_t aw = std::abs(std::int64_t(w)), ah = std::abs(std::int64_t(h));
    const std::int64_t left = w < 0 ? dx0 + w : dx0, top = h < 0 ? dy0 + h : dy0;
    for (std::int64_t ty = std::max<std::int64_t>(0, top); ty < std::min<std::int64_t>(dst.height, top + ah);
         ++ty) {
      const std::int64_t yy = h < 0 ? ah - 1 - (ty - top) : ty - top;
      const int sy = int(yy * c.height / ah);
      for (std::int64_t tx = std::max<std::int64_t>(0, left);
           tx < std::min<std::int64_t>(dst.width, left + aw); ++tx) {
        const std::int64_t xx = w < 0 ? aw - 1 - (tx - left) : tx - left;
        const int sx = int(xx * c.width / aw);
        const DWORD p = ReadRaw(c, sx, sy);
        const DWORD a = p >> 24;
        const COLORREF under = RawToColor(dst, ReadRaw(dst, int(tx), int(ty)));
        auto mix = [a](DWORD s, DWORD u) { return BYTE((s * a + u * (255 - a) + 127) / 255); };
        const COLORREF out = RGB(mix((p >> 16) & 0xFF, GetRValue(under)),
                                 mix((p >> 8) & 0xFF, GetGValue(under)), mix(p & 0xFF, GetBValue(under)));
        WriteRaw(dst, int(tx), int(ty), ColorToRaw(dst, out));
      }
    }
    return TRUE;
  }
  if (flags & DI_MASK)
    StretchBits(dst, dx0, dy0, dx1 - dx0, dy1 - dy0, &mask, 0, 0, mask.width, imgH, SRCAND, ctx);
  if (flags & DI_IMAGE) {
    const DWORD rop = (flags & DI_MASK) ? SRCINVERT : SRCCOPY;
    if (ic->color)
      StretchBits(dst, dx0, dy0, dx1 - dx0, dy1 - dy0, ic->color.get(), 0, 0, ic->color->width,
                  ic->color->height, rop, ctx);
    else
      StretchBits(dst, dx0, dy0, dx1 - dx0, dy1 - dy0, &mask, 0, imgH, mask.width, imgH, rop, ctx);
  }
  return TRUE;
}

BOOL SoftGdi::DestroyIcon(HICON icon) {
  SIcon* ic = s_->Get<SIcon>(icon);
  if (!ic) return FALSE;
  if (ic->stock) return TRUE;
  s_->objects.erase(ic);
  return TRUE;
}

HICON SoftGdi::LoadIcon(HINSTANCE instance, const char* name) {
  if (instance || reinterpret_cast<std::uintptr_t>(name) != IDI_APPLICATION_ID) return nullptr;
  if (!s_->appIcon) {
    // A plain window picture: white body, blue title bar, black frame, transparent around it.
    const int n = 32;
    auto ic = std::make_unique<SIcon>();
    auto color = NewBitmap(n, n, 32, true);
    auto mask = NewBitmap(n, n, 1, true);
    color->rmask = 0xFF0000, color->gmask = 0xFF00, color->bmask = 0xFF;
    mask->mono = true;
    ApplyDefaultFormat(*mask, s_->opt.screenBitCount);
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        const bool inside = x >= 2 && x < 30 && y >= 4 && y < 28;
        const bool frame = inside && (x == 2 || x == 29 || y == 4 || y == 27);
        const bool bar = inside && !frame && y < 9;
        DWORD c = 0;
        if (frame)
          c = 0x000000;
        else if (bar)
          c = 0x000080;
        else if (inside)
          c = 0xFFFFFF;
        WriteRaw(*color, x, y, inside ? c : 0);
        WriteRaw(*mask, x, y, inside ? 0u : 1u);
      }
    ic->color = std::move(color);
    ic->mask = std::move(mask);
    ic->width = ic->height = n;
    ic->stock = true;
    s_->appIcon = s_->Add(std::move(ic));
  }
  return reinterpret_cast<HICON>(s_->appIcon);
}

int SoftGdi::GetSystemMetrics(int index) {
  switch (index) {
    case 0:
      return s_->opt.screenWidth;  // SM_CXSCREEN
    case 1:
      return s_->opt.screenHeight;  // SM_CYSCREEN
    case SM_CXICON:
    case SM_CYICON:
      return 32;
    case SM_CXSMICON:
    case SM_CYSMICON:
      return 16;
    default:
      return 0;
  }
}

// ---- metafiles ----

HENHMETAFILE SoftGdi::SetEnhMetaFileBits(UINT size, const BYTE* data) {
  if (!data || !ValidateEnhMetaFile(data, size)) return nullptr;
  auto e = std::make_unique<SEmf>();
  e->bytes.assign(data, data + size);
  std::memcpy(&e->header, data, std::min<std::size_t>(sizeof(ENHMETAHEADER), size));
  if (e->header.nSize < sizeof(ENHMETAHEADER)) {
    // The short form of the header has no pixel-format extension.
    e->header.cbPixelFormat = e->header.offPixelFormat = e->header.bOpenGL = 0;
  }
  return reinterpret_cast<HENHMETAFILE>(s_->Add(std::move(e)));
}

HENHMETAFILE SoftGdi::SetWinMetaFileBits(UINT size, const BYTE* data, HDC, const METAFILEPICT* pict) {
  if (!data) return nullptr;
  const SIZEL device{std::max(1, s_->opt.screenWidth), std::max(1, s_->opt.screenHeight)};
  const SIZEL mm{LONG(std::max(1L, Round(device.cx * 25.4 / kLogPixels))),
                 LONG(std::max(1L, Round(device.cy * 25.4 / kLogPixels)))};
  std::vector<BYTE> emf = ConvertWinMetaFile(data, size, pict, device, mm);
  if (emf.empty()) return nullptr;
  return SetEnhMetaFileBits(static_cast<UINT>(emf.size()), emf.data());
}

UINT SoftGdi::GetEnhMetaFileHeader(HENHMETAFILE emf, UINT size, ENHMETAHEADER* header) {
  SEmf* e = s_->Get<SEmf>(emf);
  if (!e) return 0;
  const UINT full = std::min<UINT>(e->header.nSize, sizeof(ENHMETAHEADER));
  if (!header) return full;
  const UINT n = std::min(size, full);
  std::memcpy(header, &e->header, n);
  return n;
}

UINT SoftGdi::GetEnhMetaFileBits(HENHMETAFILE emf, UINT size, BYTE* data) {
  SEmf* e = s_->Get<SEmf>(emf);
  if (!e) return 0;
  if (!data) return static_cast<UINT>(e->bytes.size());
  if (size < e->bytes.size()) return 0;
  std::memcpy(data, e->bytes.data(), e->bytes.size());
  return static_cast<UINT>(e->bytes.size());
}

BOOL SoftGdi::PlayEnhMetaFile(HDC dc, HENHMETAFILE emf, const RECT* rect) {
  SDC* d = s_->Get<SDC>(dc);
  SEmf* e = s_->Get<SEmf>(emf);
  if (!d || !e || !rect || !d->a.bitmap) return FALSE;
  Mapper m(d->a);
  // The player adds the DC's own mapping (window origin included) again: hand it the rectangle without it.
  const RECT dev{LONG(m.X(rect->left) - d->a.dcOrg.x), LONG(m.Y(rect->top) - d->a.dcOrg.y),
                 LONG(m.X(rect->right) - d->a.dcOrg.x), LONG(m.Y(rect->bottom) - d->a.dcOrg.y)};
  PlayEnhMetaFileRecords(*this, dc, e->bytes, dev);
  return TRUE;
}

BOOL SoftGdi::DeleteEnhMetaFile(HENHMETAFILE emf) {
  SEmf* e = s_->Get<SEmf>(emf);
  if (!e) return FALSE;
  s_->objects.erase(e);
  return TRUE;
}

#undef DS_DC_OR

}  // namespace plat::soft
