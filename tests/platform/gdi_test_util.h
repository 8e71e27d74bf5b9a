// Helpers for the soft GDI tests: a soft platform, DIB sections selected into DCs, and file loading.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Gdi.h"
#include "platform/common/SoftGdi.h"
#include "platform/soft/SoftPlatform.h"
#include "support/TestData.h"

namespace gditest {

using namespace plat;

inline std::vector<BYTE> ReadFile(const std::string& path) {
  return ReadTestFile(path);
}

inline std::string Corpus(const std::string& rel) {
  return TestDataPath(rel);
}

// A BITMAPINFO with room for a full colour table or masks.
struct Info {
  BITMAPINFOHEADER h{};
  RGBQUAD colors[256]{};
  BITMAPINFO* get() { return reinterpret_cast<BITMAPINFO*>(this); }
};

inline Info MakeInfo(int w, int h, int bpp, DWORD compression = BI_RGB) {
  Info i;
  i.h.biSize = sizeof(BITMAPINFOHEADER);
  i.h.biWidth = w;
  i.h.biHeight = h;
  i.h.biPlanes = 1;
  i.h.biBitCount = static_cast<WORD>(bpp);
  i.h.biCompression = compression;
  return i;
}

// A memory DC with a 32-bit top-down section selected; pixels reachable as 0x00RRGGBB (plus alpha byte).
class Canvas32 {
 public:
  Canvas32(soft::SoftGdi& g, int w, int h) : g_(g), w_(w), h_(h) {
    Info i = MakeInfo(w, -h, 32);
    dc_ = g.CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    bmp_ = g.CreateDIBSection(dc_, i.get(), DIB_RGB_COLORS, &bits);
    px_ = static_cast<std::uint32_t*>(bits);
    old_ = g.SelectObject(dc_, Obj(bmp_));
  }
  ~Canvas32() {
    g_.SelectObject(dc_, old_);
    g_.DeleteObject(Obj(bmp_));
    g_.DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  HBITMAP bmp() const { return bmp_; }
  std::uint32_t& at(int x, int y) { return px_[y * w_ + x]; }
  std::uint32_t rgb(int x, int y) { return at(x, y) & 0xFFFFFF; }
  void Fill(std::uint32_t v) {
    for (int i = 0; i < w_ * h_; ++i) px_[i] = v;
  }
  int w() const { return w_; }
  int h() const { return h_; }

 private:
  soft::SoftGdi& g_;
  int w_, h_;
  HDC dc_;
  HBITMAP bmp_;
  HGDIOBJ old_;
  std::uint32_t* px_;
};

class GdiTest : public ::testing::Test {
 protected:
  explicit GdiTest(int bpp = 32) : platform_(Options(bpp)), g(platform_.gdi()) {}
  static soft::SoftOptions Options(int bpp) {
    soft::SoftOptions o;
    o.screenWidth = 64;
    o.screenHeight = 48;
    o.screenBitCount = bpp;
    return o;
  }
  soft::SoftPlatform platform_;
  soft::SoftGdi& g;
};

}  // namespace gditest
