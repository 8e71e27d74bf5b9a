// Icons and cursors on the soft GDI: made from resources (bitmap or PNG) and from bitmaps, drawn with their
// masks or alpha; and the system metrics of their sizes.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/common/SoftGdi.h"
#include "platform/common/SoftGdiInternal.h"

namespace plat::soft {

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

}  // namespace plat::soft
