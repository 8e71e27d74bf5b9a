// The soft GDI's objects and device contexts: construction and the stock objects, the soft-only members,
// DCs and their attributes, and the helpers the GDI's other files share (SoftGdiInternal.h). Bitmaps,
// transfers and palettes are in SoftGdiBitmaps.cpp, shapes in SoftGdiShapes.cpp, icons in SoftGdiIcons.cpp,
// text and control frames in SoftGdiText.cpp, metafiles in SoftMetafile*.cpp.
#include "platform/common/SoftGdi.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/System.h"
#include "platform/Windows.h"
#include "platform/common/SoftGdiInternal.h"

namespace plat::soft {

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

COLORREF ResolveColor(const SDC* dc, COLORREF c) {
  if ((c & 0xFF000000u) == 0x01000000u) {  // PALETTEINDEX
    const std::vector<PALETTEENTRY>& e = dc && dc->a.palette ? dc->a.palette->entries : HalftonePalette();
    const WORD i = WORD(c & 0xFFFF);
    if (i >= e.size()) return 0;
    return RGB(e[i].peRed, e[i].peGreen, e[i].peBlue);
  }
  return c & 0xFFFFFF;
}

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

}  // namespace plat::soft
