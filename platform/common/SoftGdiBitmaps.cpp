// Bitmaps, transfers between DCs and bits, and palettes on the soft GDI.
#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/common/SoftGdi.h"
#include "platform/common/SoftGdiInternal.h"

namespace plat::soft {

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

}  // namespace plat::soft
