#include "platform/MemorySection.h"

#include <algorithm>
#include <cstddef>

#include "platform/Platform.h"

namespace plat {

MemorySection32::MemorySection32(int width, int height, HDC compatibleWith)
    : MemorySection32(GdiSvc(), width, height, compatibleWith) {}

MemorySection32::MemorySection32(Gdi& gdi, int width, int height, HDC compatibleWith)
    : gdi_(gdi), width_(width), height_(height) {
  if (width <= 0 || height <= 0) return;
  dc_ = gdi_.CreateCompatibleDC(compatibleWith);
  if (!dc_) return;
  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bmi.bmiHeader.biWidth = width;
  bmi.bmiHeader.biHeight = -height;
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  bitmap_ = gdi_.CreateDIBSection(dc_, &bmi, DIB_RGB_COLORS, &bits);
  if (!bitmap_ || !bits) {
    Release();
    return;
  }
  old_ = gdi_.SelectObject(dc_, Obj(bitmap_));
  bits_ = static_cast<std::uint32_t*>(bits);
}

MemorySection32::~MemorySection32() {
  Release();
}

void MemorySection32::Fill(std::uint32_t value) {
  if (bits_) std::fill_n(bits_, std::size_t(width_) * std::size_t(height_), value);
}

void MemorySection32::Release() {
  if (dc_ && old_) gdi_.SelectObject(dc_, old_);
  if (bitmap_) gdi_.DeleteObject(Obj(bitmap_));
  if (dc_) gdi_.DeleteDC(dc_);
  dc_ = nullptr;
  bitmap_ = nullptr;
  old_ = nullptr;
  bits_ = nullptr;
}

}  // namespace plat
