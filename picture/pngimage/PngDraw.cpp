// Drawing a PNG image: straight stretching for opaque images, a colour key for bit transparency, and
// per-pixel alpha blending for partial transparency.
#include <algorithm>
#include <cmath>
#include <vector>

#include "picture/pngimage/pngimage.h"
#include "platform/MemorySection.h"
#include "platform/Platform.h"

namespace {

// A top-down 32-bit section in a memory context holding a copy of the destination rectangle; released
// whatever happens while it is worked on. A size beyond any sane picture, or GDI refusing the section, is
// the reader's out-of-memory error.
class TWorkSection {
 public:
  TWorkSection(plat::HDC dc, int w, int h) : section_(CheckedSize(w, h), h, dc) {
    if (!section_.valid()) throw EPNGOutMemory(EPngOutMemoryText);
  }

  plat::HDC dc() const { return section_.dc(); }
  std::uint8_t* bits() const { return reinterpret_cast<std::uint8_t*>(section_.pixels()); }

 private:
  static int CheckedSize(int w, int h) {
    std::size_t bytes = 0;
    if (!CheckedMul(std::size_t(w) * 4, std::size_t(h), bytes) || bytes > (std::size_t(512) << 20))
      throw EPNGOutMemory(EPngOutMemoryText);
    return w;
  }
  plat::MemorySection32 section_;
};

// Source coordinate of each destination coordinate: truncate(d / (size / source size)).
std::vector<std::uint32_t> SourceMap(int size, std::uint32_t sourceSize) {
  std::vector<std::uint32_t> map(static_cast<std::size_t>(size));
  if (std::uint32_t(size) == sourceSize) {
    for (int d = 0; d < size; ++d) map[d] = std::uint32_t(d);
    return map;
  }
  const double ratio = double(size) / double(sourceSize);
  for (int d = 0; d < size; ++d)
    map[d] = std::min<std::uint32_t>(std::uint32_t(std::trunc(d / ratio)), sourceSize - 1);
  return map;
}

TRect Ordered(const TRect& r) {
  return {std::min(r.Left, r.Right), std::min(r.Top, r.Bottom), std::max(r.Left, r.Right),
          std::max(r.Top, r.Bottom)};
}

inline std::uint8_t Blend(unsigned s, unsigned a, unsigned old) {
  return std::uint8_t((s * a + 255 + (255 - a) * old) >> 8);
}

inline unsigned IndexAt(const std::uint8_t* line, std::uint32_t x, unsigned bits) {
  const std::size_t bit = std::size_t(x) * bits;
  return (line[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

}  // namespace

void TPNGObject::DrawGraphic(TCanvas& ACanvas, const TRect& Rect) {
  if (IsEmpty()) return;
  plat::HDC dc = ACanvas.Handle();
  switch (TransparencyMode()) {
    case ptmBit:
      DrawMasked(dc, Rect, TransparentKey());
      break;
    case ptmPartial:
      DrawBlended(dc, Rect);
      break;
    default:
      DrawOpaque(dc, Rect);
      break;
  }
}

void TPNGObject::DrawOpaque(plat::HDC DC, const TRect& Rect) {
  TChunkIHDR& h = HeaderChunk();
  if (!h.StoreBits) return;
  plat::Gdi& gdi = plat::GdiSvc();
  const int oldMode = gdi.SetStretchBltMode(DC, plat::COLORONCOLOR);
  gdi.StretchDIBits(DC, Rect.Left, Rect.Top, Rect.Width(), Rect.Height(), 0, 0, int(h.Width), int(h.Height),
                    h.StoreBits, h.StoreBitmapInfo(), plat::DIB_RGB_COLORS, plat::SRCCOPY);
  if (oldMode) gdi.SetStretchBltMode(DC, oldMode);
}

void TPNGObject::DrawMasked(plat::HDC DC, const TRect& Rect, TColor TransparentColor) {
  TChunkIHDR& h = HeaderChunk();
  const TRect r = Ordered(Rect);
  const int w = r.Width(), hgt = r.Height();
  if (w == 0 || hgt == 0 || !h.StoreBits) return;
  plat::Gdi& gdi = plat::GdiSvc();
  TWorkSection work(DC, w, hgt);
  gdi.BitBlt(work.dc(), 0, 0, w, hgt, DC, r.Left, r.Top, plat::SRCCOPY);
  const auto xs = SourceMap(w, h.Width), ys = SourceMap(hgt, h.Height);
  const unsigned bits = h.StoreBitsPerPixel();
  const std::uint8_t kr = std::uint8_t(TransparentColor), kg = std::uint8_t(TransparentColor >> 8),
                     kb = std::uint8_t(TransparentColor >> 16);
  for (int dy = 0; dy < hgt; ++dy) {
    const std::uint8_t* line = h.StoreBits + std::size_t(h.Height - 1 - ys[dy]) * h.StoreRowBytes;
    std::uint8_t* out = work.bits() + std::size_t(dy) * w * 4;
    for (int dx = 0; dx < w; ++dx, out += 4) {
      std::uint8_t b, g, red;
      if (h.UsesPalette) {
        const plat::RGBQUAD& q = h.StoreInfo.bmiColors[IndexAt(line, xs[dx], bits)];
        b = q.rgbBlue;
        g = q.rgbGreen;
        red = q.rgbRed;
      } else {
        const std::uint8_t* p = line + std::size_t(xs[dx]) * 3;
        b = p[0];
        g = p[1];
        red = p[2];
      }
      if (b == kb && g == kg && red == kr) continue;  // the key colour leaves the destination as it is
      out[0] = b;
      out[1] = g;
      out[2] = red;
    }
  }
  gdi.BitBlt(DC, r.Left, r.Top, w, hgt, work.dc(), 0, 0, plat::SRCCOPY);
}

void TPNGObject::DrawBlended(plat::HDC DC, const TRect& Rect) {
  TChunkIHDR& h = HeaderChunk();
  const TRect r = Ordered(Rect);
  const int w = r.Width(), hgt = r.Height();
  if (w == 0 || hgt == 0 || !h.StoreBits) return;
  plat::Gdi& gdi = plat::GdiSvc();
  TWorkSection work(DC, w, hgt);
  gdi.BitBlt(work.dc(), 0, 0, w, hgt, DC, r.Left, r.Top, plat::SRCCOPY);
  const auto xs = SourceMap(w, h.Width), ys = SourceMap(hgt, h.Height);
  const unsigned bits = h.StoreBitsPerPixel();
  const TChunktRNS* trns = Chunks.Find<TChunktRNS>();
  const TChunkPLTE* plte = Chunks.Find<TChunkPLTE>();
  const bool hasAlphaPlane = !h.AlphaPlane.empty();

  for (int dy = 0; dy < hgt; ++dy) {
    const std::uint32_t sy = ys[dy];
    const std::uint8_t* line = h.StoreBits + std::size_t(h.Height - 1 - sy) * h.StoreRowBytes;
    const std::uint8_t* alphaRow = hasAlphaPlane ? h.AlphaPlane.data() + std::size_t(sy) * h.Width : nullptr;
    std::uint8_t* out = work.bits() + std::size_t(dy) * w * 4;
    for (int dx = 0; dx < w; ++dx, out += 4) {
      const std::uint32_t sx = xs[dx];
      if (bits == 24) {
        const unsigned a = alphaRow ? alphaRow[sx] : 255;
        const std::uint8_t* p = line + std::size_t(sx) * 3;
        if (a == 0) continue;
        if (a == 255) {
          out[0] = p[0];
          out[1] = p[1];
          out[2] = p[2];
          continue;
        }
        out[0] = Blend(p[0], a, out[0]);
        out[1] = Blend(p[1], a, out[1]);
        out[2] = Blend(p[2], a, out[2]);
      } else if (h.ColorType == 4) {
        const unsigned a = alphaRow ? alphaRow[sx] : 255;
        const unsigned s = line[sx];
        out[0] = Blend(s, a, out[0]);
        out[1] = Blend(s, a, out[1]);
        out[2] = Blend(s, a, out[2]);
      } else {
        const unsigned index = IndexAt(line, sx, bits);
        if (!plte) throw EPngError(EPngUnknownPalEntryText);
        const TColor c = plte->Item(index);  // raises for an entry the palette does not have
        const unsigned a = trns ? trns->AlphaTable[index & 0xFF] : 255;
        out[0] = Blend(std::uint8_t(c >> 16), a, out[0]);
        out[1] = Blend(std::uint8_t(c >> 8), a, out[1]);
        out[2] = Blend(std::uint8_t(c), a, out[2]);
      }
    }
  }
  gdi.BitBlt(DC, r.Left, r.Top, w, hgt, work.dc(), 0, 0, plat::SRCCOPY);
}
