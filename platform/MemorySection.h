// A top-down 32-bit DIB section selected into a memory DC: the scratch picture that drawing code, tests and
// fuzz targets draw into and read back. Everything is released on destruction, whatever happened in between.
#pragma once

#include <cstdint>

#include "platform/Gdi.h"

namespace plat {

class MemorySection32 {
 public:
  // A width x height section (rows from the top, 4 bytes a pixel: blue, green, red, fourth byte) in a memory
  // DC compatible with `compatibleWith` (the screen when null). When GDI refuses any step, valid() is false
  // and nothing stays allocated.
  // The installed GDI service makes it, or the one given.
  MemorySection32(int width, int height, HDC compatibleWith = nullptr);
  MemorySection32(Gdi& gdi, int width, int height, HDC compatibleWith = nullptr);
  ~MemorySection32();
  MemorySection32(const MemorySection32&) = delete;
  MemorySection32& operator=(const MemorySection32&) = delete;

  bool valid() const { return bits_ != nullptr; }
  HDC dc() const { return dc_; }
  HBITMAP bitmap() const { return bitmap_; }
  std::uint32_t* pixels() const { return bits_; }
  int width() const { return width_; }
  int height() const { return height_; }
  // Sets every pixel to one 32-bit value.
  void Fill(std::uint32_t value);

 private:
  void Release();
  Gdi& gdi_;
  int width_ = 0, height_ = 0;
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  std::uint32_t* bits_ = nullptr;
};

}  // namespace plat
