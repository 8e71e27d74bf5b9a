// Pixel formats, colour matching, raster operations, run-length expansion and the one stretching routine of
// the soft GDI.
#include <algorithm>
#include <cstring>

#include "platform/common/RawPixels.h"
#include "platform/common/SoftGdiInternal.h"

namespace plat::soft {

namespace {

int MaskShift(DWORD m) {
  int s = 0;
  if (!m) return 0;
  while (!(m & 1u)) {
    m >>= 1;
    ++s;
  }
  return s;
}
int MaskBits(DWORD m) {
  m >>= MaskShift(m);
  int n = 0;
  while (m & 1u) {
    m >>= 1;
    ++n;
  }
  return n;
}
// A channel widened to 8 bits by repeating its high bits into the low ones.
BYTE Expand(DWORD raw, DWORD mask) {
  if (!mask) return 0;
  const int bits = MaskBits(mask);
  DWORD v = (raw & mask) >> MaskShift(mask);
  if (bits >= 8) return static_cast<BYTE>(v >> (bits - 8));
  DWORD out = 0;
  int filled = 0;
  while (filled < 8) {
    out = (out << bits) | v;
    filled += bits;
  }
  return static_cast<BYTE>(out >> (filled - 8));
}
DWORD Pack(BYTE c, DWORD mask) {
  if (!mask) return 0;
  const int bits = MaskBits(mask);
  DWORD v = bits >= 8 ? (DWORD(c) << (bits - 8)) : (DWORD(c) >> (8 - bits));
  return (v << MaskShift(mask)) & mask;
}

}  // namespace

DWORD ReadRaw(const SBitmap& b, int x, int y) {
  const BYTE* row = b.Row(y);
  switch (b.bpp) {
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case 4:
      return (x & 1) ? (row[x >> 1] & 0x0Fu) : (row[x >> 1] >> 4);
    case 8:
      return row[x];
    case 16:
      return DWORD(row[2 * x]) | (DWORD(row[2 * x + 1]) << 8);
    case 24:
      return DWORD(row[3 * x]) | (DWORD(row[3 * x + 1]) << 8) | (DWORD(row[3 * x + 2]) << 16);
    default: {
      const BYTE* p = row + 4 * std::size_t(x);
      return DWORD(p[0]) | (DWORD(p[1]) << 8) | (DWORD(p[2]) << 16) | (DWORD(p[3]) << 24);
    }
  }
}

void WriteRaw(SBitmap& b, int x, int y, DWORD v) {
  BYTE* row = b.Row(y);
  switch (b.bpp) {
    case 1: {
      const BYTE bit = static_cast<BYTE>(0x80u >> (x & 7));
      if (v & 1u)
        row[x >> 3] |= bit;
      else
        row[x >> 3] &= static_cast<BYTE>(~bit);
      break;
    }
    case 4:
      if (x & 1)
        row[x >> 1] = static_cast<BYTE>((row[x >> 1] & 0xF0) | (v & 0x0F));
      else
        row[x >> 1] = static_cast<BYTE>((row[x >> 1] & 0x0F) | ((v & 0x0F) << 4));
      break;
    case 8:
      row[x] = static_cast<BYTE>(v);
      break;
    case 16:
      row[2 * x] = static_cast<BYTE>(v);
      row[2 * x + 1] = static_cast<BYTE>(v >> 8);
      break;
    case 24:
      row[3 * x] = static_cast<BYTE>(v);
      row[3 * x + 1] = static_cast<BYTE>(v >> 8);
      row[3 * x + 2] = static_cast<BYTE>(v >> 16);
      break;
    default: {
      BYTE* p = row + 4 * std::size_t(x);
      p[0] = static_cast<BYTE>(v);
      p[1] = static_cast<BYTE>(v >> 8);
      p[2] = static_cast<BYTE>(v >> 16);
      p[3] = static_cast<BYTE>(v >> 24);
    }
  }
}

COLORREF RawToColor(const SBitmap& b, DWORD raw) {
  if (b.mono) return (raw & 1u) ? 0xFFFFFF : 0;
  if (b.bpp <= 8) {
    if (raw >= b.colors.size()) return 0;
    const RGBQUAD& q = b.colors[raw];
    return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
  }
  if (b.bpp == 24) return RGB(BYTE(raw >> 16), BYTE(raw >> 8), BYTE(raw));
  return RGB(Expand(raw, b.rmask), Expand(raw, b.gmask), Expand(raw, b.bmask));
}

namespace {

// The index of the entry nearest to c, reading each entry's colour with rgb (a COLORREF).
template <class Entry, class Rgb>
int Nearest(const std::vector<Entry>& table, COLORREF c, Rgb rgb) {
  int best = 0;
  long bestD = -1;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const COLORREF e = rgb(table[i]);
    const long dr = long(GetRValue(e)) - GetRValue(c), dg = long(GetGValue(e)) - GetGValue(c),
               db = long(GetBValue(e)) - GetBValue(c);
    const long d = dr * dr + dg * dg + db * db;
    if (bestD < 0 || d < bestD) {
      bestD = d;
      best = static_cast<int>(i);
      if (d == 0) break;
    }
  }
  return best;
}

}  // namespace

int NearestIndex(const std::vector<RGBQUAD>& table, COLORREF c) {
  return Nearest(table, c, [](const RGBQUAD& q) { return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue); });
}

int NearestIndex(const std::vector<PALETTEENTRY>& table, COLORREF c) {
  return Nearest(table, c, [](const PALETTEENTRY& e) { return RGB(e.peRed, e.peGreen, e.peBlue); });
}

DWORD ColorToRaw(const SBitmap& b, COLORREF c) {
  c &= 0xFFFFFF;
  if (b.mono) return (GetRValue(c) + GetGValue(c) + GetBValue(c)) >= 3 * 128 ? 1u : 0u;
  if (b.bpp <= 8) return static_cast<DWORD>(NearestIndex(b.colors, c));
  if (b.bpp == 24) return (DWORD(GetRValue(c)) << 16) | (DWORD(GetGValue(c)) << 8) | GetBValue(c);
  return Pack(GetRValue(c), b.rmask) | Pack(GetGValue(c), b.gmask) | Pack(GetBValue(c), b.bmask);
}

const std::vector<PALETTEENTRY>& HalftonePalette() {
  static const std::vector<PALETTEENTRY> pal = [] {
    std::vector<PALETTEENTRY> p(256);
    static const BYTE low[10][3] = {{0, 0, 0},       {128, 0, 0},    {0, 128, 0},   {128, 128, 0},
                                    {0, 0, 128},     {128, 0, 128},  {0, 128, 128}, {192, 192, 192},
                                    {192, 220, 192}, {166, 202, 240}};
    static const BYTE high[10][3] = {{255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},
                                     {0, 255, 0},     {255, 255, 0},   {0, 0, 255},     {255, 0, 255},
                                     {0, 255, 255},   {255, 255, 255}};
    for (int i = 0; i < 10; ++i) {
      p[i] = {low[i][0], low[i][1], low[i][2], 0};
      p[246 + i] = {high[i][0], high[i][1], high[i][2], 0};
    }
    // Between the static colours: the 6 x 6 x 6 colour cube, then 20 greys that the cube does not have.
    int n = 10;
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b) p[n++] = {BYTE(r * 51), BYTE(g * 51), BYTE(b * 51), 0};
    for (int i = 0; i < 20; ++i) {
      const int v = 8 + i * 12;  // never a multiple of 51, so no grey repeats one of the cube
      p[n++] = {BYTE(v), BYTE(v), BYTE(v), 0};
    }
    return p;
  }();
  return pal;
}

std::vector<RGBQUAD> HalftoneTable() {
  std::vector<RGBQUAD> t;
  for (const PALETTEENTRY& e : HalftonePalette()) t.push_back({e.peBlue, e.peGreen, e.peRed, 0});
  return t;
}

std::vector<RGBQUAD> Vga16Table() {
  static const BYTE c[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
  std::vector<RGBQUAD> t;
  for (auto& e : c) t.push_back({e[2], e[1], e[0], 0});
  return t;
}

DWORD ApplyRop(DWORD rop, DWORD p, DWORD s, DWORD d) {
  const DWORD code = (rop >> 16) & 0xFF;
  switch (code) {
    case 0xCC:
      return s;
    case 0x88:
      return s & d;
    case 0xEE:
      return s | d;
    case 0x66:
      return s ^ d;
    case 0xF0:
      return p;
    case 0x00:
      return 0;
    case 0xFF:
      return 0xFFFFFFFFu;
    default:
      break;
  }
  // Bit i of the code is the result for pattern, source, destination bits (i >> 2, (i >> 1) & 1, i & 1).
  DWORD r = 0;
  for (int i = 0; i < 8; ++i) {
    if (!((code >> i) & 1)) continue;
    r |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
  }
  return r;
}

bool RopUsesSource(DWORD rop) {
  const DWORD c = (rop >> 16) & 0xFF;
  return ((c >> 2) & 0x33) != (c & 0x33);
}
bool RopUsesPattern(DWORD rop) {
  const DWORD c = (rop >> 16) & 0xFF;
  return ((c >> 4) & 0x0F) != (c & 0x0F);
}

std::size_t DibImageSize(const BITMAPINFOHEADER& h) {
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) return 0;
  const std::size_t stride = DibStride(h.biWidth, h.biBitCount);
  if (!stride) return 0;
  const std::size_t rows = static_cast<std::size_t>(h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight);
  if (stride > kMaxBitmapBytes / rows) return 0;
  return stride * rows;
}

std::size_t DibInfoSize(const BITMAPINFOHEADER& h, UINT usage) {
  std::size_t size = h.biSize;
  if (h.biSize == sizeof(BITMAPCOREHEADER)) {
    BITMAPCOREHEADER c;
    std::memcpy(&c, &h, sizeof c);
    return size +
           (c.bcBitCount <= 8 ? (std::size_t(1) << c.bcBitCount) * (usage == DIB_PAL_COLORS ? 2 : 3) : 0);
  }
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > 4096) return 0;
  // Masks follow any header too short to hold them (the one DescribeDib reads them from).
  if (h.biCompression == BI_BITFIELDS && h.biSize < 52) size += 12;
  size += std::size_t(DibColorCount(h)) * (usage == DIB_PAL_COLORS ? 2 : 4);
  return size;
}

bool DescribeDib(const BITMAPINFO* bmi, UINT usage, const SPalette* pal, SBitmap& out) {
  if (!bmi) return false;
  // Copied byte-wise: callers may hand in bytes of a file at any alignment.
  BITMAPINFOHEADER h;
  std::memcpy(&h, bmi, sizeof h);
  const BYTE* table = reinterpret_cast<const BYTE*>(bmi) + h.biSize;
  int entrySize = usage == DIB_PAL_COLORS ? 2 : 4;
  if (h.biSize == sizeof(BITMAPCOREHEADER)) {
    BITMAPCOREHEADER c;
    std::memcpy(&c, bmi, sizeof c);
    h = BITMAPINFOHEADER{};
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = c.bcWidth;
    h.biHeight = c.bcHeight;
    h.biPlanes = c.bcPlanes;
    h.biBitCount = c.bcBitCount;
    if (usage != DIB_PAL_COLORS) entrySize = 3;
  } else if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > 4096) {
    return false;
  }
  if (!DibBitCountValid(h.biBitCount)) return false;
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) return false;
  if (h.biCompression == BI_BITFIELDS && h.biBitCount != 16 && h.biBitCount != 32) return false;
  if (h.biCompression == BI_RLE8 && h.biBitCount != 8) return false;
  if (h.biCompression == BI_RLE4 && h.biBitCount != 4) return false;
  if (h.biCompression > BI_BITFIELDS) return false;
  if (!DibImageSize(h)) return false;
  out.width = h.biWidth;
  out.height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  out.topDown = h.biHeight < 0;
  out.bpp = h.biBitCount;
  out.stride = DibStride(h.biWidth, h.biBitCount);
  out.compression = h.biCompression;
  out.header = h;
  out.colors.clear();
  out.rmask = out.gmask = out.bmask = 0;
  if (h.biBitCount == 16 || h.biBitCount == 32) {
    if (h.biCompression == BI_BITFIELDS) {
      const BYTE* m = reinterpret_cast<const BYTE*>(bmi) + (h.biSize >= 52 ? 40 : h.biSize);
      DWORD v[3];
      std::memcpy(v, m, 12);
      out.rmask = v[0];
      out.gmask = v[1];
      out.bmask = v[2];
      if (h.biSize < 52) table += 12;
    } else if (h.biBitCount == 16) {
      out.rmask = 0x7C00, out.gmask = 0x03E0, out.bmask = 0x001F;
    } else {
      out.rmask = 0xFF0000, out.gmask = 0xFF00, out.bmask = 0xFF;
    }
  }
  if (h.biBitCount <= 8) {
    const int n = DibColorCount(h);
    out.colors.assign(std::size_t(1) << h.biBitCount, RGBQUAD{0, 0, 0, 0});
    for (int i = 0; i < n && i < int(out.colors.size()); ++i) {
      const BYTE* e = table + std::size_t(i) * entrySize;
      if (entrySize == 2) {
        const WORD idx = WORD(e[0] | (e[1] << 8));
        const std::vector<PALETTEENTRY>& src = pal ? pal->entries : HalftonePalette();
        const PALETTEENTRY pe = idx < src.size() ? src[idx] : PALETTEENTRY{0, 0, 0, 0};
        out.colors[i] = {pe.peBlue, pe.peGreen, pe.peRed, 0};
      } else {
        out.colors[i] = {e[0], e[1], e[2], 0};
      }
    }
  }
  return true;
}

bool DibFits(const BYTE* info, std::size_t infoSize, std::size_t bitsSize, UINT usage) {
  if (!info || infoSize < sizeof(BITMAPCOREHEADER)) return false;
  BITMAPINFOHEADER h{};
  std::memcpy(&h, info, std::min(infoSize, sizeof h));
  if (h.biSize != sizeof(BITMAPCOREHEADER) && (h.biSize < sizeof(BITMAPINFOHEADER) || infoSize < h.biSize))
    return false;
  const std::size_t need = DibInfoSize(h, usage);
  if (!need || need > infoSize) return false;
  SBitmap probe;
  if (!DescribeDib(reinterpret_cast<const BITMAPINFO*>(info), usage, nullptr, probe)) return false;
  if (probe.compression == BI_RLE8 || probe.compression == BI_RLE4)
    return probe.header.biSizeImage <= bitsSize && !probe.topDown;
  return DibImageSize(probe.header) <= bitsSize;
}

bool DecodeRle(const BYTE* data, std::size_t size, DWORD compression, int width, int height, BYTE* out,
               std::size_t stride) {
  if ((compression != BI_RLE8 && compression != BI_RLE4) || width <= 0 || height <= 0) return false;
  const bool four = compression == BI_RLE4;
  int x = 0, y = 0;
  std::size_t i = 0;
  auto put = [&](int px, BYTE v) {
    if (px < 0 || px >= width || y >= height) return;
    BYTE* row = out + std::size_t(y) * stride;
    if (four) {
      if (px & 1)
        row[px >> 1] = static_cast<BYTE>((row[px >> 1] & 0xF0) | (v & 0x0F));
      else
        row[px >> 1] = static_cast<BYTE>((row[px >> 1] & 0x0F) | (v << 4));
    } else {
      row[px] = v;
    }
  };
  // Every step consumes at least two bytes, so the loop ends with the data.
  while (i + 2 <= size && y < height) {
    const BYTE count = data[i], value = data[i + 1];
    i += 2;
    if (count) {
      for (int k = 0; k < count; ++k, ++x)
        put(x, four ? static_cast<BYTE>((k & 1) ? (value & 0x0F) : (value >> 4)) : value);
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of image
      break;
    } else if (value == 2) {  // delta
      if (i + 2 > size) break;
      x += data[i];
      y += data[i + 1];
      i += 2;
    } else {  // absolute run of `value` pixels, padded to a 16-bit boundary
      const std::size_t bytes = four ? (std::size_t(value) + 1) / 2 : value;
      const std::size_t padded = (bytes + 1) & ~std::size_t(1);
      if (i + bytes > size) break;
      for (int k = 0; k < value; ++k, ++x) {
        const BYTE b = data[i + (four ? std::size_t(k) / 2 : std::size_t(k))];
        put(x, four ? static_cast<BYTE>((k & 1) ? (b & 0x0F) : (b >> 4)) : b);
      }
      i += std::min(padded, size - i);
    }
  }
  return true;
}

namespace {

// Source pixel converted to the destination's raw format, with caches for table-based sources.
struct Converter {
  const SBitmap& src;
  const SBitmap& dst;
  const BlitContext& ctx;
  bool identity = false;
  bool direct = false;
  std::vector<DWORD> table;  // per source index (sources of 8 bits or fewer)
  DWORD bkRaw = 0;
  COLORREF bkColor = 0;
  std::unordered_map<DWORD, DWORD> cache;

  Converter(const SBitmap& s, const SBitmap& d, const BlitContext& c) : src(s), dst(d), ctx(c) {
    identity = s.bpp == d.bpp && s.mono == d.mono &&
               (s.bpp <= 8 ? (s.mono || SameTable(s.colors, d.colors))
                           : (s.rmask == d.rmask && s.gmask == d.gmask && s.bmask == d.bmask));
    if (identity) return;
    // 24-bit and 8-8-8 32-bit pixels hold the colour the same way in their low three bytes.
    direct = IsDirect(s) && IsDirect(d);
    if (direct) return;
    if (d.mono) {
      // Colour to monochrome: the source's background colour becomes 1 (white), every other colour 0.
      bkColor = RawToColor(s, ColorToRaw(s, ctx.srcBk));
    }
    if (s.bpp <= 8) {
      const std::size_t n = std::size_t(1) << s.bpp;
      table.resize(n);
      for (std::size_t i = 0; i < n; ++i) table[i] = Slow(DWORD(i));
    }
  }
  static bool IsDirect(const SBitmap& b) {
    return !b.mono &&
           (b.bpp == 24 || (b.bpp == 32 && b.rmask == 0xFF0000 && b.gmask == 0xFF00 && b.bmask == 0xFF));
  }
  static bool SameTable(const std::vector<RGBQUAD>& a, const std::vector<RGBQUAD>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
      if (a[i].rgbRed != b[i].rgbRed || a[i].rgbGreen != b[i].rgbGreen || a[i].rgbBlue != b[i].rgbBlue)
        return false;
    return true;
  }
  COLORREF ColorOf(DWORD raw) const {
    // Monochrome to colour: 0 takes the destination's text colour, 1 its background colour.
    if (src.mono) return (raw & 1u) ? (ctx.dstBk & 0xFFFFFF) : (ctx.dstText & 0xFFFFFF);
    return RawToColor(src, raw);
  }
  DWORD Slow(DWORD raw) const {
    if (dst.mono) {
      if (src.mono) return raw & 1u;
      if (!ctx.monoByBackground) return ColorToRaw(dst, RawToColor(src, raw));
      return RawToColor(src, raw) == bkColor ? 1u : 0u;
    }
    return ColorToRaw(dst, ColorOf(raw));
  }
  DWORD operator()(DWORD raw) {
    if (identity) return raw;
    if (direct) return raw & 0xFFFFFFu;
    if (!table.empty()) return raw < table.size() ? table[raw] : table[0];
    auto it = cache.find(raw);
    if (it != cache.end()) return it->second;
    if (cache.size() > 65536) cache.clear();
    const DWORD v = Slow(raw);
    cache.emplace(raw, v);
    return v;
  }
};

DWORD BppMask(const SBitmap& b) {
  return b.bpp >= 32 ? 0xFFFFFFFFu : ((1u << b.bpp) - 1);
}

// Whether two bitmaps' pixels share memory (a copy within one picture reads what it has just written).
bool Overlap(const SBitmap& a, const SBitmap& b) {
  const std::uintptr_t a0 = reinterpret_cast<std::uintptr_t>(a.bits),
                       b0 = reinterpret_cast<std::uintptr_t>(b.bits);
  return a0 < b0 + b.stride * std::size_t(b.height) && b0 < a0 + a.stride * std::size_t(a.height);
}

// A plain source copy at 1:1 (rows possibly mirrored) between bitmaps of whole bytes per pixel, a row at a
// time: the same pixels as the stretch's pixel-by-pixel way. Pixels whose source lies outside the source
// bitmap are left alone, as there.
void CopyUnscaled(SBitmap& dst, std::int64_t x0, std::int64_t x1, std::int64_t y0, std::int64_t y1,
                  std::int64_t xd, std::int64_t yd, std::int64_t hd, bool mirrorY, const SBitmap& src,
                  std::int64_t xs, std::int64_t ys, Converter& conv) {
  // Columns whose source pixel exists: sx = xs + (x - xd) within 0 .. src.width - 1.
  const std::int64_t cx0 = std::max(x0, xd - xs), cx1 = std::min(x1, xd - xs + src.width);
  if (cx0 >= cx1) return;
  const int sb = src.bpp / 8, db = dst.bpp / 8;
  const std::size_t n = std::size_t(cx1 - cx0);
  const DWORD mask = BppMask(dst);
  for (std::int64_t y = y0; y < y1; ++y) {
    std::int64_t oy = y - yd;
    if (mirrorY) oy = hd - 1 - oy;
    const std::int64_t sy = ys + oy;
    if (sy < 0 || sy >= src.height) continue;
    const BYTE* s = src.Row(int(sy)) + std::size_t(xs + (cx0 - xd)) * std::size_t(sb);
    BYTE* d = dst.Row(int(y)) + std::size_t(cx0) * std::size_t(db);
    if (conv.identity) {
      std::memmove(d, s, n * std::size_t(db));
    } else if (conv.direct && sb == 3 && db == 4) {
      for (std::size_t i = 0; i < n; ++i, s += 3, d += 4) d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = 0;
    } else {
      for (std::size_t i = 0; i < n; ++i, s += sb, d += db)
        WriteRaw(d, dst.bpp, conv(ReadRaw(s, src.bpp)) & mask);
    }
  }
}

}  // namespace

void StretchBits(SBitmap& dst, std::int64_t xd, std::int64_t yd, std::int64_t wd, std::int64_t hd,
                 const SBitmap* src, std::int64_t xs, std::int64_t ys, std::int64_t ws, std::int64_t hs,
                 DWORD rop, const BlitContext& ctx) {
  // 64-bit coordinates: negating or adding extreme 32-bit values must not overflow.
  if (wd == 0 || hd == 0) return;
  const bool useSrc = RopUsesSource(rop);
  if (useSrc && (!src || ws == 0 || hs == 0)) return;
  // Normalise to positive spans and remember mirroring.
  bool mirrorX = false, mirrorY = false;
  if (wd < 0) xd += wd, wd = -wd, mirrorX = !mirrorX;
  if (hd < 0) yd += hd, hd = -hd, mirrorY = !mirrorY;
  if (useSrc) {
    if (ws < 0) xs += ws, ws = -ws, mirrorX = !mirrorX;
    if (hs < 0) ys += hs, hs = -hs, mirrorY = !mirrorY;
  }
  const std::int64_t x0 = std::max<std::int64_t>(0, xd), x1 = std::min<std::int64_t>(dst.width, xd + wd);
  const std::int64_t y0 = std::max<std::int64_t>(0, yd), y1 = std::min<std::int64_t>(dst.height, yd + hd);
  if (x0 >= x1 || y0 >= y1) return;

  DWORD pattern = 0;
  if (RopUsesPattern(rop) && ctx.brush && ctx.brush->style != BS_NULL)
    pattern = ColorToRaw(dst, ctx.brush->color);
  const DWORD mask = BppMask(dst);
  const DWORD code = (rop >> 16) & 0xFF;

  if (!useSrc) {
    for (std::int64_t y = y0; y < y1; ++y)
      for (std::int64_t x = x0; x < x1; ++x)
        WriteRaw(dst, int(x), int(y), ApplyRop(rop, pattern, 0, ReadRaw(dst, int(x), int(y))) & mask);
    return;
  }

  Converter conv(*src, dst, ctx);
  const bool halftone =
      ctx.stretchMode == HALFTONE && code == 0xCC && !dst.mono && !src->mono && (ws > wd || hs > hd);
  if (code == 0xCC && ws == wd && hs == hd && !mirrorX && src->bpp >= 8 && dst.bpp >= 8 &&
      !Overlap(*src, dst)) {
    CopyUnscaled(dst, x0, x1, y0, y1, xd, yd, hd, mirrorY, *src, xs, ys, conv);
    return;
  }
  for (std::int64_t y = y0; y < y1; ++y) {
    std::int64_t oy = y - yd;
    if (mirrorY) oy = hd - 1 - oy;
    const std::int64_t sy = ys + oy * hs / hd;
    if (sy < 0 || sy >= src->height) continue;
    const std::int64_t syEnd = halftone ? ys + ((oy + 1) * hs + hd - 1) / hd : sy + 1;
    for (std::int64_t x = x0; x < x1; ++x) {
      std::int64_t ox = x - xd;
      if (mirrorX) ox = wd - 1 - ox;
      const std::int64_t sx = xs + ox * ws / wd;
      if (sx < 0 || sx >= src->width) continue;
      DWORD s;
      if (halftone) {
        const std::int64_t sxEnd = xs + ((ox + 1) * ws + wd - 1) / wd;
        std::uint64_t r = 0, g = 0, b = 0, n = 0;
        for (std::int64_t yy = sy; yy < std::min<std::int64_t>(syEnd, src->height); ++yy)
          for (std::int64_t xx = sx; xx < std::min<std::int64_t>(sxEnd, src->width); ++xx) {
            const COLORREF c = RawToColor(*src, ReadRaw(*src, int(xx), int(yy)));
            r += GetRValue(c), g += GetGValue(c), b += GetBValue(c), ++n;
          }
        if (!n) n = 1;
        s = ColorToRaw(dst, RGB(BYTE(r / n), BYTE(g / n), BYTE(b / n)));
      } else {
        s = conv(ReadRaw(*src, int(sx), int(sy)));
      }
      if (code == 0xCC)
        WriteRaw(dst, int(x), int(y), s & mask);
      else
        WriteRaw(dst, int(x), int(y), ApplyRop(rop, pattern, s, ReadRaw(dst, int(x), int(y))) & mask);
    }
  }
}

}  // namespace plat::soft
