// Shared helpers of the picture-core tests: a soft platform per test, corpus paths, hand-made files, and
// rendering a graphic into 32-bit pixels to compare.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "picture/Graphics.h"
#include "platform/Gdi.h"
#include "platform/MemorySection.h"
#include "platform/Platform.h"
#include "platform/common/SoftGdi.h"
#include "platform/soft/SoftPlatform.h"
#include "support/TestData.h"

namespace picture_test {

inline std::string Corpus(const std::string& rel) {
  return std::string(DS_CORPORA_DIR) + "/" + rel;
}

inline std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  return ReadTestFile(path);
}

inline void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& data) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// Little-endian byte writer for hand-made files.
struct Bytes {
  std::vector<std::uint8_t> v;
  Bytes& u8(unsigned x) {
    v.push_back(static_cast<std::uint8_t>(x));
    return *this;
  }
  Bytes& u16(unsigned x) { return u8(x & 0xFF).u8((x >> 8) & 0xFF); }
  Bytes& u32(std::uint32_t x) { return u16(x & 0xFFFF).u16(x >> 16); }
  Bytes& raw(const std::vector<std::uint8_t>& r) {
    v.insert(v.end(), r.begin(), r.end());
    return *this;
  }
  std::size_t size() const { return v.size(); }
};

// A picture as 0x00RRGGBB values, top row first.
struct Pixels {
  int Width = 0, Height = 0;
  std::vector<std::uint32_t> Px;
  std::uint32_t At(int x, int y) const { return Px[static_cast<std::size_t>(y) * Width + x]; }
};

// A 32-bit top-down section with a DC and a canvas over it.
class Target {
 public:
  Target(int w, int h, std::uint32_t fill = 0) : section_(w, h) {
    section_.Fill(fill);
    canvas_ = std::make_unique<TCanvas>(section_.dc());
  }
  ~Target() { canvas_.reset(); }
  TCanvas& Canvas() { return *canvas_; }
  plat::HDC DC() const { return section_.dc(); }
  Pixels Read() const {
    plat::GdiSvc().GdiFlush();
    Pixels out;
    out.Width = section_.width();
    out.Height = section_.height();
    const std::uint32_t* p = section_.pixels();
    for (int i = 0; i < out.Width * out.Height; ++i)
      out.Px.push_back(p[i] & 0xFFFFFF);  // stored blue, green, red: 0x00RRGGBB as a value
    return out;
  }

 private:
  plat::MemorySection32 section_;
  std::unique_ptr<TCanvas> canvas_;
};

// Draws a graphic at its own size onto black and reads the result.
inline Pixels Render(TGraphic& g, std::uint32_t fill = 0) {
  Target t(g.Width(), g.Height(), fill);
  t.Canvas().Draw(0, 0, &g);
  return t.Read();
}

// Every test runs on its own soft platform with the picture unit started.
class PictureTest : public ::testing::Test {
 protected:
  explicit PictureTest(const plat::soft::SoftOptions& o = plat::soft::SoftOptions()) : platform_(o) {
    InitGraphicsUnit();
  }
  plat::soft::SoftPlatform& Platform() { return platform_; }
  std::string TempPath(const std::string& name) {
    auto dir = std::filesystem::temp_directory_path() /
               ("ds_picture_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(dir);
    return (dir / name).string();
  }

 private:
  plat::soft::SoftPlatform platform_;
};

// A bottom-up BMP file from rows given top row first as 0x00RRGGBB, 24 bits per pixel.
inline std::vector<std::uint8_t> MakeBmp24(int w, int h, const std::vector<std::uint32_t>& topFirst) {
  const std::size_t stride = ((static_cast<std::size_t>(w) * 24 + 31) / 32) * 4;
  Bytes b;
  b.u16(0x4D42).u32(static_cast<std::uint32_t>(54 + stride * h)).u16(0).u16(0).u32(54);
  b.u32(40)
      .u32(static_cast<std::uint32_t>(w))
      .u32(static_cast<std::uint32_t>(h))
      .u16(1)
      .u16(24)
      .u32(0)
      .u32(0);
  b.u32(0).u32(0).u32(0).u32(0);
  for (int y = h - 1; y >= 0; --y) {
    std::size_t n = 0;
    for (int x = 0; x < w; ++x, n += 3) {
      const std::uint32_t c = topFirst[static_cast<std::size_t>(y) * w + x];
      b.u8(c & 0xFF).u8((c >> 8) & 0xFF).u8((c >> 16) & 0xFF);
    }
    for (; n < stride; ++n) b.u8(0);
  }
  return b.v;
}

inline void LoadBytes(TGraphic& g, const std::vector<std::uint8_t>& data) {
  TReadOnlyMemoryStream s(data.data(), data.size());
  g.LoadFromStream(s);
}

}  // namespace picture_test
