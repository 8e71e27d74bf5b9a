// GDI on Windows through the GDI interface: a device-independent section receives stretched DIB bits and
// blits with the arguments in their places, palettes keep their entries, and a metafile header read stops
// at the platform's header size.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/Gdi.h"
#include "platform/win32/Win32Platform.h"

using namespace plat;

namespace {

class Win32GdiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dc_ = GdiSvc().CreateCompatibleDC(nullptr);
    ASSERT_NE(nullptr, dc_);
    BITMAPINFO bmi{};
    bmi.bmiHeader = Header(4, -4);  // top-down, so row y is at pixels_ + 4 * y
    section_ = GdiSvc().CreateDIBSection(dc_, &bmi, DIB_RGB_COLORS, reinterpret_cast<void**>(&pixels_));
    ASSERT_NE(nullptr, section_);
    ASSERT_NE(nullptr, pixels_);
    old_ = GdiSvc().SelectObject(dc_, Obj(section_));
  }
  void TearDown() override {
    GdiSvc().SelectObject(dc_, old_);
    GdiSvc().DeleteObject(Obj(section_));
    GdiSvc().DeleteDC(dc_);
  }

  static BITMAPINFOHEADER Header(LONG w, LONG h) {
    BITMAPINFOHEADER hd{};
    hd.biSize = sizeof hd;
    hd.biWidth = w;
    hd.biHeight = h;
    hd.biPlanes = 1;
    hd.biBitCount = 32;
    hd.biCompression = BI_RGB;
    return hd;
  }

  win32::Win32Platform platform_;
  HDC dc_ = nullptr;
  HBITMAP section_ = nullptr;
  HGDIOBJ old_ = nullptr;
  std::uint32_t* pixels_ = nullptr;
};

TEST_F(Win32GdiTest, StretchedDibBitsDoubleEachSourcePixel) {
  // Bottom-up 2x2 source: the first row in memory is the bottom row.
  const std::uint32_t src[4] = {0x000000FF, 0x0000FF00, 0x00FF0000, 0x00FFFFFF};
  BITMAPINFO bmi{};
  bmi.bmiHeader = Header(2, 2);
  GdiSvc().SetStretchBltMode(dc_, COLORONCOLOR);
  ASSERT_EQ(2, GdiSvc().StretchDIBits(dc_, 0, 0, 4, 4, 0, 0, 2, 2, src, &bmi, DIB_RGB_COLORS, SRCCOPY));
  GdiSvc().GdiFlush();
  EXPECT_EQ(0x00FF0000u, pixels_[0] & 0xFFFFFF);          // top left: source top row, first pixel
  EXPECT_EQ(0x00FFFFFFu, pixels_[3] & 0xFFFFFF);          // top right
  EXPECT_EQ(0x000000FFu, pixels_[4 * 3 + 1] & 0xFFFFFF);  // bottom left
  EXPECT_EQ(0x0000FF00u, pixels_[4 * 3 + 2] & 0xFFFFFF);  // bottom right
}

TEST_F(Win32GdiTest, BlitCopiesTheSourceRectangleToTheDestinationPlace) {
  GdiSvc().SetPixel(dc_, 0, 0, RGB(10, 20, 30));
  ASSERT_TRUE(GdiSvc().BitBlt(dc_, 2, 3, 1, 1, dc_, 0, 0, SRCCOPY));
  EXPECT_EQ(RGB(10, 20, 30), GdiSvc().GetPixel(dc_, 2, 3));
  EXPECT_EQ(RGB(0, 0, 0), GdiSvc().GetPixel(dc_, 3, 2));
}

TEST_F(Win32GdiTest, PaletteKeepsItsEntries) {
  std::vector<BYTE> storage(sizeof(LOGPALETTE) + 2 * sizeof(PALETTEENTRY));
  auto* lp = reinterpret_cast<LOGPALETTE*>(storage.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = 3;
  for (int i = 0; i < 3; ++i) lp->palPalEntry[i] = {BYTE(i * 10), BYTE(i * 20), BYTE(i * 30), 0};
  HPALETTE pal = GdiSvc().CreatePalette(lp);
  ASSERT_NE(nullptr, pal);
  PALETTEENTRY back[3] = {};
  EXPECT_EQ(3u, GdiSvc().GetPaletteEntries(pal, 0, 3, back));
  EXPECT_EQ(40, back[2].peGreen);
  WORD count = 0;
  EXPECT_EQ(2, GdiSvc().GetObject(Obj(pal), sizeof count, &count));
  EXPECT_EQ(3, count);
  GdiSvc().DeleteObject(Obj(pal));
}

TEST_F(Win32GdiTest, MetafileHeaderReadStopsAtThePlatformHeaderSize) {
  // The smallest enhanced metafile: a header record and an end record.
  std::vector<BYTE> emf(100 + 20, 0);
  ENHMETAHEADER h{};
  h.iType = EMR_HEADER;
  h.nSize = 100;
  h.rclBounds = {0, 0, 9, 9};
  h.rclFrame = {0, 0, 264, 264};
  h.dSignature = ENHMETA_SIGNATURE;
  h.nVersion = 0x10000;
  h.nBytes = static_cast<DWORD>(emf.size());
  h.nRecords = 2;
  h.nHandles = 1;
  h.szlDevice = {1024, 768};
  h.szlMillimeters = {320, 240};
  std::memcpy(emf.data(), &h, sizeof h);
  const DWORD eof[5] = {EMR_EOF, 20, 0, 16, 20};
  std::memcpy(emf.data() + 100, eof, sizeof eof);
  HENHMETAFILE mf = GdiSvc().SetEnhMetaFileBits(static_cast<UINT>(emf.size()), emf.data());
  ASSERT_NE(nullptr, mf);
  struct {
    ENHMETAHEADER header;
    std::uint32_t guard[4];
  } out;
  std::memset(&out, 0x5A, sizeof out);
  EXPECT_LE(GdiSvc().GetEnhMetaFileHeader(mf, sizeof out, &out.header), sizeof(ENHMETAHEADER));
  EXPECT_EQ(ENHMETA_SIGNATURE, out.header.dSignature);
  EXPECT_EQ(0x5A5A5A5Au, out.guard[0]);  // nothing written past the header the platform knows
  GdiSvc().DeleteEnhMetaFile(mf);
}

}  // namespace

#endif  // _WIN32
