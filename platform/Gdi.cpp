#include "platform/Gdi.h"

#include <cstring>
#include <utility>

namespace plat {

bool DibBitCountValid(int bitCount) {
  switch (bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      return true;
    default:
      return false;
  }
}

std::size_t DibStride(LONG width, int bitCount) {
  if (width <= 0 || !DibBitCountValid(bitCount)) return 0;
  // 64-bit intermediate: width (< 2^31) times 32 bits cannot overflow it.
  const std::uint64_t bits = static_cast<std::uint64_t>(width) * static_cast<unsigned>(bitCount);
  const std::uint64_t stride = ((bits + 31) / 32) * 4;
  if (stride > 0x7FFFFFFFu) return 0;
  return static_cast<std::size_t>(stride);
}

int DibColorCount(const BITMAPINFOHEADER& h) {
  if (h.biBitCount > 8) return h.biClrUsed > 256 ? 256 : static_cast<int>(h.biClrUsed);
  if (h.biClrUsed == 0) return 1 << h.biBitCount;
  return h.biClrUsed > 256 ? 256 : static_cast<int>(h.biClrUsed);
}

bool DibMasks(const BITMAPINFO* bmi, DWORD& red, DWORD& green, DWORD& blue) {
  BITMAPINFOHEADER h;  // copied: callers may hand in bytes of a file at any alignment
  std::memcpy(&h, bmi, sizeof h);
  if (h.biBitCount != 16 && h.biBitCount != 32) return false;
  if (h.biCompression == BI_BITFIELDS) {
    // V4/V5 headers carry the masks inside the header; a 40-byte header has them after it.
    const BYTE* base = reinterpret_cast<const BYTE*>(bmi);
    const std::size_t off = h.biSize >= 52 ? 40 : h.biSize;
    auto rd = [&](std::size_t at) {
      DWORD v = 0;
      for (int i = 0; i < 4; ++i) v |= static_cast<DWORD>(base[at + i]) << (8 * i);
      return v;
    };
    red = rd(off);
    green = rd(off + 4);
    blue = rd(off + 8);
    return true;
  }
  if (h.biBitCount == 16) {
    red = 0x7C00;
    green = 0x03E0;
    blue = 0x001F;
  } else {
    red = 0x00FF0000;
    green = 0x0000FF00;
    blue = 0x000000FF;
  }
  return true;
}

namespace {
IconPngDecoder& DecoderSlot() {
  static IconPngDecoder decoder;
  return decoder;
}
}  // namespace

void SetIconPngDecoder(IconPngDecoder decoder) {
  DecoderSlot() = std::move(decoder);
}
const IconPngDecoder& GetIconPngDecoder() {
  return DecoderSlot();
}

}  // namespace plat
