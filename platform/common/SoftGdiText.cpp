// Text, system colours and the frames of standard controls on the soft GDI.
#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/common/SoftGdi.h"
#include "platform/common/SoftGdiInternal.h"

namespace plat::soft {

void SubtractRect(const RECT& r, const RECT& cut, std::vector<RECT>& out) {
  const RECT in{std::max(r.left, cut.left), std::max(r.top, cut.top), std::min(r.right, cut.right),
                std::min(r.bottom, cut.bottom)};
  if (in.left >= in.right || in.top >= in.bottom) {
    out.push_back(r);
    return;
  }
  // Bands above and below the cut take the full width; the sides only the cut's rows.
  if (r.top < in.top) out.push_back({r.left, r.top, r.right, in.top});
  if (in.bottom < r.bottom) out.push_back({r.left, in.bottom, r.right, r.bottom});
  if (r.left < in.left) out.push_back({r.left, in.top, in.left, in.bottom});
  if (in.right < r.right) out.push_back({in.right, in.top, r.right, in.bottom});
}

namespace {

// The default grey colour scheme, by COLOR_ index.
constexpr COLORREF kSysColors[] = {
    RGB(192, 192, 192),  // COLOR_SCROLLBAR
    RGB(0, 128, 128),    // COLOR_BACKGROUND
    RGB(0, 0, 128),      // COLOR_ACTIVECAPTION
    RGB(128, 128, 128),  // COLOR_INACTIVECAPTION
    RGB(192, 192, 192),  // COLOR_MENU
    RGB(255, 255, 255),  // COLOR_WINDOW
    RGB(0, 0, 0),        // COLOR_WINDOWFRAME
    RGB(0, 0, 0),        // COLOR_MENUTEXT
    RGB(0, 0, 0),        // COLOR_WINDOWTEXT
    RGB(255, 255, 255),  // COLOR_CAPTIONTEXT
    RGB(192, 192, 192),  // COLOR_ACTIVEBORDER
    RGB(192, 192, 192),  // COLOR_INACTIVEBORDER
    RGB(128, 128, 128),  // COLOR_APPWORKSPACE
    RGB(0, 0, 128),      // COLOR_HIGHLIGHT
    RGB(255, 255, 255),  // COLOR_HIGHLIGHTTEXT
    RGB(192, 192, 192),  // COLOR_BTNFACE
    RGB(128, 128, 128),  // COLOR_BTNSHADOW
    RGB(128, 128, 128),  // COLOR_GRAYTEXT
    RGB(0, 0, 0),        // COLOR_BTNTEXT
    RGB(192, 192, 192),  // COLOR_INACTIVECAPTIONTEXT
    RGB(255, 255, 255),  // COLOR_BTNHIGHLIGHT
    RGB(0, 0, 0),        // COLOR_3DDKSHADOW
    RGB(223, 223, 223),  // COLOR_3DLIGHT
    RGB(0, 0, 0),        // COLOR_INFOTEXT
    RGB(255, 255, 225),  // COLOR_INFOBK
};
constexpr int kSysColorCount = static_cast<int>(sizeof kSysColors / sizeof kSysColors[0]);

COLORREF SysColor(int index) {
  return index >= 0 && index < kSysColorCount ? kSysColors[index] : 0;
}

COLORREF Resolve(const SDC& d, COLORREF c) {
  if ((c & 0xFF000000u) == 0x01000000u) {  // PALETTEINDEX
    const std::vector<PALETTEENTRY>& e = d.a.palette ? d.a.palette->entries : HalftonePalette();
    const WORD i = WORD(c & 0xFFFF);
    if (i >= e.size()) return 0;
    return RGB(e[i].peRed, e[i].peGreen, e[i].peBlue);
  }
  return c & 0xFFFFFF;
}

// Device coordinates far outside any bitmap stay far outside, without overflowing a LONG.
LONG ClampDev(std::int64_t v) {
  return static_cast<LONG>(std::max<std::int64_t>(-1000000000, std::min<std::int64_t>(v, 1000000000)));
}

RECT Intersect(const RECT& a, const RECT& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
          std::min(a.bottom, b.bottom)};
}

void Fill(SDC& d, const RECT& r, DWORD raw) {
  ForEachVisible(d, r, [&](const RECT& p) {
    for (LONG y = p.top; y < p.bottom; ++y)
      for (LONG x = p.left; x < p.right; ++x) WriteRaw(*d.a.bitmap, x, y, raw);
  });
}

// One line of text with its cells' top-left corner at (x, y), drawn only inside box.
void DrawLine(SDC& d, const TextLine& line, std::int64_t x, std::int64_t y, const RECT& box, DWORD textRaw,
              bool opaque, DWORD bkRaw) {
  const RECT cells = Intersect(
      RECT{ClampDev(x), ClampDev(y), ClampDev(x + line.Width()), ClampDev(y + kFontCellHeight)}, box);
  SBitmap& b = *d.a.bitmap;
  ForEachVisible(d, cells, [&](const RECT& p) {
    const std::int64_t first = (p.left - x) / kFontCellWidth;
    const std::int64_t last = (p.right - 1 - x) / kFontCellWidth;
    for (std::int64_t i = first; i <= last && i < std::int64_t(line.chars.size()); ++i) {
      const std::int64_t cx = x + i * kFontCellWidth;
      const RECT cell = Intersect(
          RECT{ClampDev(cx), ClampDev(y), ClampDev(cx + kFontCellWidth), ClampDev(y + kFontCellHeight)}, p);
      if (opaque)
        for (LONG yy = cell.top; yy < cell.bottom; ++yy)
          for (LONG xx = cell.left; xx < cell.right; ++xx) WriteRaw(b, xx, yy, bkRaw);
      const std::uint8_t* rows = GlyphRows(static_cast<unsigned char>(line.chars[std::size_t(i)]));
      for (LONG yy = cell.top; yy < cell.bottom; ++yy) {
        const std::int64_t row = yy - y - kGlyphTop;
        const bool underline = line.underline[std::size_t(i)] && yy - y == kUnderlineRow;
        for (LONG xx = cell.left; xx < cell.right; ++xx) {
          const std::int64_t col = xx - cx;
          const bool ink =
              underline || (row >= 0 && row < kGlyphRows && col < 5 && ((rows[row] >> (4 - col)) & 1));
          if (ink) WriteRaw(b, xx, yy, textRaw);
        }
      }
    }
  });
}

// The device rectangle of a logical one, normalised.
RECT DeviceRect(SoftGdi& g, HDC dc, const RECT& r) {
  const POINT a = g.LogicalToDevice(dc, r.left, r.top), b = g.LogicalToDevice(dc, r.right, r.bottom);
  return {std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
}

// One 1-pixel border inside r: the top and left sides in one colour, then the bottom and right in another,
// which own the corners they share.
void Border(SDC& d, const RECT& r, UINT sides, COLORREF topLeft, COLORREF bottomRight) {
  const SBitmap& b = *d.a.bitmap;
  const DWORD tl = ColorToRaw(b, topLeft), br = ColorToRaw(b, bottomRight);
  if (sides & BF_TOP) Fill(d, {r.left, r.top, r.right, r.top + 1}, tl);
  if (sides & BF_LEFT) Fill(d, {r.left, r.top, r.left + 1, r.bottom}, tl);
  if (sides & BF_BOTTOM) Fill(d, {r.left, r.bottom - 1, r.right, r.bottom}, br);
  if (sides & BF_RIGHT) Fill(d, {r.right - 1, r.top, r.right, r.bottom}, br);
}

void Shrink(RECT& r, UINT sides) {
  if (sides & BF_LEFT) ++r.left;
  if (sides & BF_TOP) ++r.top;
  if (sides & BF_RIGHT) --r.right;
  if (sides & BF_BOTTOM) --r.bottom;
}

}  // namespace

int SoftGdi::DrawTextA(HDC dc, const char* text, int count, RECT* rect, UINT format) {
  SDC* d = s_->Get<SDC>(dc);
  if (!d || !rect) return 0;
  const std::size_t size = !text ? 0 : count < 0 ? std::strlen(text) : static_cast<std::size_t>(count);
  const std::int64_t boxWidth = std::int64_t(rect->right) - rect->left;
  const std::vector<TextLine> lines = LayoutText(text, size, format, boxWidth);
  std::int64_t widest = 0;
  for (const TextLine& l : lines) widest = std::max(widest, l.Width());
  const std::int64_t height = std::int64_t(lines.size()) * kFontCellHeight;
  const int result = static_cast<int>(std::min<std::int64_t>(height, INT_MAX));
  if (format & DT_CALCRECT) {
    rect->right = ClampDev(rect->left + widest);
    rect->bottom = ClampDev(rect->top + height);
    return result;
  }
  if (!d->a.bitmap) return result;
  const RECT box = DeviceRect(*this, dc, *rect);
  const RECT limit = (format & DT_NOCLIP) ? RECT{-1000000000, -1000000000, 1000000000, 1000000000} : box;
  std::int64_t top = box.top;
  if (format & DT_SINGLELINE) {
    if (format & DT_VCENTER)
      top = box.top + (std::int64_t(box.bottom) - box.top - kFontCellHeight) / 2;
    else if (format & DT_BOTTOM)
      top = std::int64_t(box.bottom) - kFontCellHeight;
  }
  const SBitmap& b = *d->a.bitmap;
  const DWORD textRaw = ColorToRaw(b, Resolve(*d, d->a.textColor));
  const DWORD bkRaw = ColorToRaw(b, Resolve(*d, d->a.bkColor));
  const bool opaque = d->a.bkMode == OPAQUE;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::int64_t y = top + std::int64_t(i) * kFontCellHeight;
    if (y >= std::min<std::int64_t>(limit.bottom, b.height)) break;
    if (y + kFontCellHeight <= std::max<std::int64_t>(limit.top, 0)) continue;
    const std::int64_t w = lines[i].Width();
    std::int64_t x = box.left;
    if (format & DT_CENTER)
      x = box.left + (std::int64_t(box.right) - box.left - w) / 2;
    else if (format & DT_RIGHT)
      x = std::int64_t(box.right) - w;
    DrawLine(*d, lines[i], x, y, limit, textRaw, opaque, bkRaw);
  }
  return result;
}

BOOL SoftGdi::GetTextExtentPoint32A(HDC dc, const char* text, int count, SIZE* size) {
  if (!s_->Get<SDC>(dc) || !size || count < 0 || (!text && count > 0)) return FALSE;
  size->cx = ClampDev(std::int64_t(count) * kFontCellWidth);
  size->cy = kFontCellHeight;
  return TRUE;
}

BOOL SoftGdi::GetTextMetricsA(HDC dc, TEXTMETRICA* metrics) {
  if (!s_->Get<SDC>(dc) || !metrics) return FALSE;
  *metrics = TEXTMETRICA{};
  metrics->tmHeight = kFontCellHeight;
  metrics->tmAscent = kFontAscent;
  metrics->tmDescent = kFontCellHeight - kFontAscent;
  metrics->tmInternalLeading = kGlyphTop;
  metrics->tmAveCharWidth = kFontCellWidth;
  metrics->tmMaxCharWidth = kFontCellWidth;
  metrics->tmWeight = 400;
  metrics->tmDigitizedAspectX = 96;
  metrics->tmDigitizedAspectY = 96;
  metrics->tmFirstChar = 32;
  metrics->tmLastChar = 126;
  metrics->tmDefaultChar = '?';
  metrics->tmBreakChar = ' ';
  metrics->tmPitchAndFamily = 0;  // the low bit clear: fixed pitch
  return TRUE;
}

DWORD SoftGdi::GetSysColor(int index) {
  return SysColor(index);
}

HBRUSH SoftGdi::GetSysColorBrush(int index) {
  if (index < 0 || index >= kSysColorCount) return nullptr;
  if (s_->sysColorBrushes.empty()) s_->sysColorBrushes.assign(kSysColorCount, nullptr);
  SBrush*& slot = s_->sysColorBrushes[std::size_t(index)];
  if (!slot) {
    auto b = std::make_unique<SBrush>();
    b->color = SysColor(index);
    b->stock = true;  // shared: deleting it is a no-op
    slot = s_->Add(std::move(b));
  }
  return reinterpret_cast<HBRUSH>(slot);
}

BOOL SoftGdi::DrawEdge(HDC dc, RECT* rect, UINT edge, UINT flags) {
  SDC* d = s_->Get<SDC>(dc);
  if (!d || !rect) return FALSE;
  RECT r = DeviceRect(*this, dc, *rect);
  const UINT sides = flags & BF_RECT;
  const UINT outer = edge & (BDR_RAISEDOUTER | BDR_SUNKENOUTER);
  const UINT inner = edge & (BDR_RAISEDINNER | BDR_SUNKENINNER);
  int drawn = 0;
  const bool paint = d->a.bitmap != nullptr;
  auto border = [&](COLORREF tl, COLORREF br) {
    if (paint) Border(*d, r, sides, tl, br);
    Shrink(r, sides);
    ++drawn;
  };
  if (flags & BF_MONO) {
    if (outer) border(SysColor(COLOR_WINDOWFRAME), SysColor(COLOR_WINDOWFRAME));
    if (inner) border(SysColor(COLOR_WINDOW), SysColor(COLOR_WINDOW));
  } else if (flags & BF_FLAT) {
    if (outer) border(SysColor(COLOR_BTNSHADOW), SysColor(COLOR_BTNSHADOW));
    if (inner) border(SysColor(COLOR_BTNFACE), SysColor(COLOR_BTNFACE));
  } else {
    const bool soft = (flags & BF_SOFT) != 0;
    if (outer & BDR_RAISEDOUTER)
      border(SysColor(soft ? COLOR_BTNHIGHLIGHT : COLOR_3DLIGHT), SysColor(COLOR_3DDKSHADOW));
    else if (outer & BDR_SUNKENOUTER)
      border(SysColor(soft ? COLOR_3DDKSHADOW : COLOR_BTNSHADOW), SysColor(COLOR_BTNHIGHLIGHT));
    if (inner & BDR_RAISEDINNER)
      border(SysColor(soft ? COLOR_3DLIGHT : COLOR_BTNHIGHLIGHT), SysColor(COLOR_BTNSHADOW));
    else if (inner & BDR_SUNKENINNER)
      border(SysColor(soft ? COLOR_BTNSHADOW : COLOR_3DDKSHADOW), SysColor(COLOR_3DLIGHT));
  }
  if ((flags & BF_MIDDLE) && paint && r.left < r.right && r.top < r.bottom)
    Fill(*d, r, ColorToRaw(*d->a.bitmap, SysColor((flags & BF_MONO) ? COLOR_WINDOW : COLOR_BTNFACE)));
  if (flags & BF_ADJUST) {
    for (int i = 0; i < drawn; ++i) Shrink(*rect, sides);
  }
  return TRUE;
}

BOOL SoftGdi::DrawFrameControl(HDC dc, RECT* rect, UINT type, UINT state) {
  // Only push buttons are drawn here: the one standard control face the framework paints.
  if (type != DFC_BUTTON || (state & 0x1F) != DFCS_BUTTONPUSH || !rect) return FALSE;
  UINT flags = BF_RECT | BF_MIDDLE;
  if (state & DFCS_FLAT) flags |= BF_FLAT;
  if (state & DFCS_MONO) flags |= BF_MONO;
  const bool down = (state & (DFCS_PUSHED | DFCS_CHECKED)) != 0;
  RECT r = *rect;
  if (!DrawEdge(dc, &r, down ? EDGE_SUNKEN : EDGE_RAISED, flags | (down ? 0u : BF_SOFT))) return FALSE;
  if (state & DFCS_ADJUSTRECT) {
    rect->left += 2, rect->top += 2, rect->right -= 2, rect->bottom -= 2;
  }
  return TRUE;
}

BOOL SoftGdi::DrawFocusRect(HDC dc, const RECT* rect) {
  SDC* d = s_->Get<SDC>(dc);
  if (!d || !rect) return FALSE;
  if (!d->a.bitmap) return TRUE;
  const RECT r = DeviceRect(*this, dc, *rect);
  if (r.left >= r.right || r.top >= r.bottom) return TRUE;
  SBitmap& b = *d->a.bitmap;
  // Every other pixel of the outline, each visited once, inverted: drawing it twice restores the picture.
  auto dot = [&](LONG x, LONG y) {
    if (((x - r.left) + (y - r.top)) & 1) return;
    ForEachVisible(*d, RECT{x, y, x + 1, y + 1}, [&](const RECT&) {
      WriteRaw(b, x, y, ColorToRaw(b, ~RawToColor(b, ReadRaw(b, x, y)) & 0xFFFFFF));
    });
  };
  // The outline is walked only where it can meet the bitmap, so a huge rectangle costs no more than the
  // bitmap's edges.
  const LONG x0 = std::max<LONG>(r.left, -1), x1 = std::min<LONG>(r.right, b.width + 1);
  const LONG y0 = std::max<LONG>(r.top + 1, -1), y1 = std::min<LONG>(r.bottom - 1, b.height + 1);
  for (LONG x = x0; x < x1; ++x) {
    dot(x, r.top);
    if (r.bottom - 1 > r.top) dot(x, r.bottom - 1);
  }
  for (LONG y = y0; y < y1; ++y) {
    dot(r.left, y);
    if (r.right - 1 > r.left) dot(r.right - 1, y);
  }
  return TRUE;
}

}  // namespace plat::soft
