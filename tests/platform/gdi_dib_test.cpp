// Device-independent bitmaps: section layouts, channel masks, reading and writing bits with conversions, and
// run-length decoding (well-formed and malformed).
#include "gdi_test_util.h"
#include "platform/common/SoftGdiInternal.h"

using namespace gditest;

namespace {

class GdiDib : public GdiTest {};

// A selected section plus its DC, released at the end of the test.
struct Section {
  Section(soft::SoftGdi& g, BITMAPINFO* bmi) : g_(g) {
    dc = g.CreateCompatibleDC(nullptr);
    bmp = g.CreateDIBSection(dc, bmi, DIB_RGB_COLORS, &bits);
    if (bmp) old = g.SelectObject(dc, Obj(bmp));
  }
  ~Section() {
    if (bmp) {
      g_.SelectObject(dc, old);
      g_.DeleteObject(Obj(bmp));
    }
    g_.DeleteDC(dc);
  }
  BYTE* bytes() { return static_cast<BYTE*>(bits); }
  soft::SoftGdi& g_;
  HDC dc;
  HBITMAP bmp = nullptr;
  HGDIOBJ old = nullptr;
  void* bits = nullptr;
};

TEST_F(GdiDib, BottomUpSectionKeepsTheTopRowLastInMemory) {
  Info i = MakeInfo(2, 3, 32);
  Section s(g, i.get());
  g.SetPixel(s.dc, 1, 0, RGB(1, 2, 3));
  const std::uint32_t* p = static_cast<const std::uint32_t*>(s.bits);
  EXPECT_EQ(p[2 * 2 + 1], 0x010203u);
  EXPECT_EQ(p[1], 0u);
}

TEST_F(GdiDib, TopDownSectionKeepsTheTopRowFirstInMemory) {
  Info i = MakeInfo(2, -3, 32);
  Section s(g, i.get());
  g.SetPixel(s.dc, 1, 0, RGB(1, 2, 3));
  EXPECT_EQ(static_cast<const std::uint32_t*>(s.bits)[1], 0x010203u);
}

TEST_F(GdiDib, SixteenBitsWithoutMasksAre555) {
  Info i = MakeInfo(1, 1, 16);
  Section s(g, i.get());
  *reinterpret_cast<WORD*>(s.bits) = (31 << 10) | (0 << 5) | 16;  // red full, blue half
  EXPECT_EQ(g.GetPixel(s.dc, 0, 0), RGB(255, 0, 132));
  DIBSECTION ds{};
  ASSERT_EQ(g.GetObject(Obj(s.bmp), sizeof ds, &ds), int(sizeof ds));
  EXPECT_EQ(ds.dsBitfields[0], 0x7C00u);
  EXPECT_EQ(ds.dsBm.bmWidthBytes, 4);
  EXPECT_EQ(ds.dsBm.bmBits, s.bits);
}

TEST_F(GdiDib, SixteenBitsWithBitFieldsUseTheGivenMasks) {
  Info i = MakeInfo(1, 1, 16, BI_BITFIELDS);
  DWORD m[3] = {0xF800, 0x07E0, 0x001F};
  std::memcpy(i.colors, m, sizeof m);
  Section s(g, i.get());
  *reinterpret_cast<WORD*>(s.bits) = 0x07E0;  // full green in 5-6-5, which 5-5-5 would read as red + green
  EXPECT_EQ(g.GetPixel(s.dc, 0, 0), RGB(0, 255, 0));
}

TEST_F(GdiDib, InvalidSectionHeadersAreRefused) {
  Info zeroWidth = MakeInfo(0, 4, 32);
  Info twoBits = MakeInfo(4, 4, 2);
  Info rleSection = MakeInfo(4, 4, 8, BI_RLE8);
  Info fieldsAt24 = MakeInfo(4, 4, 24, BI_BITFIELDS);
  void* bits = reinterpret_cast<void*>(1);
  EXPECT_EQ(g.CreateDIBSection(nullptr, zeroWidth.get(), DIB_RGB_COLORS, &bits), nullptr);
  EXPECT_EQ(bits, nullptr);
  EXPECT_EQ(g.CreateDIBSection(nullptr, twoBits.get(), DIB_RGB_COLORS, &bits), nullptr);
  EXPECT_EQ(g.CreateDIBSection(nullptr, rleSection.get(), DIB_RGB_COLORS, &bits), nullptr);
  EXPECT_EQ(g.CreateDIBSection(nullptr, fieldsAt24.get(), DIB_RGB_COLORS, &bits), nullptr);
}

TEST_F(GdiDib, HugeSectionFailsWithOutOfMemoryInsteadOfAllocating) {
  Info huge = MakeInfo(0x7FFFFFF0, 0x7FFFFFF0, 32);
  EXPECT_EQ(g.CreateDIBSection(nullptr, huge.get(), DIB_RGB_COLORS, nullptr), nullptr);
  Info tall = MakeInfo(100000, -100000, 24);
  EXPECT_EQ(g.CreateDIBSection(nullptr, tall.get(), DIB_RGB_COLORS, nullptr), nullptr);
}

TEST_F(GdiDib, GetDIBitsAt24BitsGivesBottomUpPaddedRows) {
  Canvas32 c(g, 3, 2);
  c.at(0, 0) = 0x102030, c.at(2, 1) = 0x405060;
  Info i = MakeInfo(3, 2, 24);
  std::vector<BYTE> out(12 * 2, 0xEE);
  ASSERT_EQ(g.GetDIBits(c.dc(), c.bmp(), 0, 2, out.data(), i.get(), DIB_RGB_COLORS), 2);
  // Row 0 of the memory is the picture's bottom row; pixels are blue, green, red.
  EXPECT_EQ(out[6], 0x60);
  EXPECT_EQ(out[7], 0x50);
  EXPECT_EQ(out[8], 0x40);
  EXPECT_EQ(out[12], 0x30);
  EXPECT_EQ(out[13], 0x20);
  EXPECT_EQ(out[14], 0x10);
  EXPECT_EQ(i.h.biSizeImage, 24u);
}

TEST_F(GdiDib, GetDIBitsWithoutBitsDescribesTheBitmap) {
  Canvas32 c(g, 7, 5);
  Info i;
  i.h.biSize = sizeof(BITMAPINFOHEADER);
  EXPECT_EQ(g.GetDIBits(c.dc(), c.bmp(), 0, 5, nullptr, i.get(), DIB_RGB_COLORS), 5);
  EXPECT_EQ(i.h.biWidth, 7);
  EXPECT_EQ(i.h.biHeight, 5);
  EXPECT_EQ(i.h.biBitCount, 32);
  EXPECT_EQ(i.h.biSizeImage, 7u * 5u * 4u);
}

TEST_F(GdiDib, GetDIBitsOfAnIndexedSectionKeepsIndicesAndColourTable) {
  Info i = MakeInfo(2, 1, 8);
  i.h.biClrUsed = 3;
  i.colors[1] = {10, 20, 30, 0};
  i.colors[2] = {40, 50, 60, 0};
  Section s(g, i.get());
  s.bytes()[0] = 2, s.bytes()[1] = 1;
  Info out = MakeInfo(2, 1, 8);
  BYTE px[4] = {};
  HDC dc = g.CreateCompatibleDC(nullptr);
  ASSERT_EQ(g.GetDIBits(dc, s.bmp, 0, 1, px, out.get(), DIB_RGB_COLORS), 1);
  EXPECT_EQ(px[0], 2);
  EXPECT_EQ(px[1], 1);
  EXPECT_EQ(out.colors[2].rgbRed, 60);
  EXPECT_EQ(out.colors[1].rgbBlue, 10);
  g.DeleteDC(dc);
}

TEST_F(GdiDib, SetDIBitsConvertsAOneBitImageThroughItsColourTable) {
  Canvas32 c(g, 3, 2);
  Info i = MakeInfo(3, 2, 1);
  i.colors[0] = {0, 0, 255, 0};                         // red
  i.colors[1] = {255, 0, 0, 0};                         // blue
  const BYTE rows[8] = {0xA0, 0, 0, 0, 0x40, 0, 0, 0};  // bottom row 1 0 1, top row 0 1 0
  ASSERT_EQ(g.SetDIBits(c.dc(), c.bmp(), 0, 2, rows, i.get(), DIB_RGB_COLORS), 2);
  EXPECT_EQ(c.rgb(0, 0), 0xFF0000u);
  EXPECT_EQ(c.rgb(1, 0), 0x0000FFu);
  EXPECT_EQ(c.rgb(0, 1), 0x0000FFu);
  EXPECT_EQ(c.rgb(1, 1), 0xFF0000u);
}

TEST_F(GdiDib, StretchDIBitsCountsSourceRowsFromTheBottomOfABottomUpImage) {
  Canvas32 c(g, 1, 1);
  Info i = MakeInfo(1, 3, 32);
  const std::uint32_t px[3] = {0x000001, 0x000002, 0x000003};  // bottom, middle, top
  g.StretchDIBits(c.dc(), 0, 0, 1, 1, 0, 0, 1, 1, px, i.get(), DIB_RGB_COLORS, SRCCOPY);
  EXPECT_EQ(c.rgb(0, 0), 1u);
  g.StretchDIBits(c.dc(), 0, 0, 1, 1, 0, 2, 1, 1, px, i.get(), DIB_RGB_COLORS, SRCCOPY);
  EXPECT_EQ(c.rgb(0, 0), 3u);
}

TEST_F(GdiDib, ExtremeCoordinatesDrawNothingAndStayWithinIntegerRange) {
  Canvas32 c(g, 4, 4);
  Info i = MakeInfo(1, 3, 32);
  const std::uint32_t px[3] = {1, 2, 3};
  const int big = 2147483647, small = -2147483647 - 1;
  g.StretchDIBits(c.dc(), 0, 0, 4, 4, 0, small + 10, 1, big, px, i.get(), DIB_RGB_COLORS, SRCCOPY);
  g.StretchDIBits(c.dc(), big, big, small, small, big, small, small, big, px, i.get(), DIB_RGB_COLORS,
                  SRCCOPY);
  g.StretchBlt(c.dc(), small, small, big, big, c.dc(), big, big, small, small, SRCCOPY);
  EXPECT_EQ(c.rgb(0, 0), 0u);
}

TEST_F(GdiDib, StretchDIBitsUsesPaletteIndicesWithDibPalColors) {
  Canvas32 c(g, 2, 1);
  std::vector<BYTE> lp(4 + 2 * 4);
  LOGPALETTE* pal = reinterpret_cast<LOGPALETTE*>(lp.data());
  pal->palVersion = 0x300;
  pal->palNumEntries = 2;
  PALETTEENTRY* e = reinterpret_cast<PALETTEENTRY*>(lp.data() + 4);
  e[0] = {1, 2, 3, 0};
  e[1] = {7, 8, 9, 0};
  HPALETTE hp = g.CreatePalette(pal);
  HPALETTE oldPal = g.SelectPalette(c.dc(), hp, 0);
  struct {
    BITMAPINFOHEADER h;
    WORD idx[2];
  } info{};
  info.h = MakeInfo(2, 1, 1).h;
  info.idx[0] = 1, info.idx[1] = 0;
  const BYTE bits[4] = {0x40, 0, 0, 0};  // pixels 0 then 1
  g.StretchDIBits(c.dc(), 0, 0, 2, 1, 0, 0, 2, 1, bits, reinterpret_cast<BITMAPINFO*>(&info), DIB_PAL_COLORS,
                  SRCCOPY);
  EXPECT_EQ(c.rgb(0, 0), 0x070809u);
  EXPECT_EQ(c.rgb(1, 0), 0x010203u);
  g.SelectPalette(c.dc(), oldPal, 0);
  g.DeleteObject(Obj(hp));
}

TEST_F(GdiDib, SetDIBitsToDeviceDrawsOnlyTheScansItWasGiven) {
  Canvas32 c(g, 1, 4);
  c.Fill(0xEEEEEE);
  Info i = MakeInfo(1, 4, 32);
  const std::uint32_t scans[2] = {0x000011, 0x000022};  // scans 1 and 2 counted from the bottom
  EXPECT_EQ(g.SetDIBitsToDevice(c.dc(), 0, 0, 1, 4, 0, 0, 1, 2, scans, i.get(), DIB_RGB_COLORS), 2);
  EXPECT_EQ(c.rgb(0, 0), 0xEEEEEEu);
  EXPECT_EQ(c.rgb(0, 1), 0x000022u);
  EXPECT_EQ(c.rgb(0, 2), 0x000011u);
  EXPECT_EQ(c.rgb(0, 3), 0xEEEEEEu);
}

// ---- run-length data ----

std::vector<BYTE> Rle(DWORD compression, int w, int h, std::initializer_list<BYTE> data) {
  const std::size_t stride = DibStride(w, compression == BI_RLE8 ? 8 : 4);
  std::vector<BYTE> out(stride * h, 0);
  std::vector<BYTE> in(data);
  EXPECT_TRUE(soft::DecodeRle(in.data(), in.size(), compression, w, h, out.data(), stride));
  return out;
}

TEST(GdiRle, Rle8RunsEndOfLineAndAbsoluteRunsFillRowsFromTheBottom) {
  // Row 0: 3 x 7, then absolute run 1 2 3 (padded), end of line; row 1: 2 x 9, end of image.
  auto out = Rle(BI_RLE8, 8, 2, {3, 7, 0, 3, 1, 2, 3, 0, 0, 0, 2, 9, 0, 1});
  const BYTE row0[8] = {7, 7, 7, 1, 2, 3, 0, 0};
  const BYTE row1[8] = {9, 9, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(out.data(), row0, 8));
  EXPECT_EQ(0, std::memcmp(out.data() + 8, row1, 8));
}

TEST(GdiRle, Rle8DeltaMovesRightAndToLaterRows) {
  // One pixel, then delta (0, 2, 3, 1): three to the right and one row higher in the picture.
  auto out = Rle(BI_RLE8, 8, 3, {1, 5, 0, 2, 3, 1, 1, 6, 0, 1});
  EXPECT_EQ(out[0], 5);
  EXPECT_EQ(out[8 + 4], 6);  // row 1, column 1 + 3
  EXPECT_EQ(out[8 + 1], 0);
}

TEST(GdiRle, Rle4AlternatesNibblesHighFirst) {
  // Run of 5 alternating 0xA / 0xB, absolute run of 3 nibbles 1 2 3 (2 bytes, already even).
  auto out = Rle(BI_RLE4, 8, 1, {5, 0xAB, 0, 3, 0x12, 0x30, 0, 1});
  EXPECT_EQ(out[0], 0xAB);
  EXPECT_EQ(out[1], 0xAB);
  EXPECT_EQ(out[2], 0xA1);
  EXPECT_EQ(out[3], 0x23);
}

TEST(GdiRle, Rle4AbsoluteRunIsPaddedToAWord) {
  // 5 nibbles take 3 bytes, padded to 4; the run after the padding continues the row.
  auto out = Rle(BI_RLE4, 8, 1, {0, 5, 0x12, 0x34, 0x50, 0xFF, 2, 0x77, 0, 1});
  EXPECT_EQ(out[0], 0x12);
  EXPECT_EQ(out[1], 0x34);
  EXPECT_EQ(out[2], 0x57);
  EXPECT_EQ(out[3], 0x70);
}

TEST(GdiRle, MalformedRunsStopOrClipWithoutWritingOutsideTheImage) {
  // A run past the row end, a delta far outside, an absolute run cut short, and no end marker.
  const std::size_t stride = 4;
  std::vector<BYTE> out(stride * 2 + 8, 0xCD);  // guard bytes after the image
  std::fill(out.begin(), out.begin() + stride * 2, 0);
  const BYTE data[] = {255, 1, 0, 0, 2, 2, 0, 2, 200, 0, 0, 250, 9, 9, 9};
  EXPECT_TRUE(soft::DecodeRle(data, sizeof data, BI_RLE8, 4, 2, out.data(), stride));
  for (std::size_t i = stride * 2; i < out.size(); ++i) EXPECT_EQ(out[i], 0xCD) << i;
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[3], 1);
  EXPECT_EQ(out[stride], 2);      // row 1 after the end of line; the delta then leaves the image
  const BYTE lone[] = {0, 2, 5};  // delta missing its second byte
  EXPECT_TRUE(soft::DecodeRle(lone, sizeof lone, BI_RLE4, 4, 2, out.data(), stride));
  EXPECT_FALSE(soft::DecodeRle(lone, sizeof lone, BI_RGB, 4, 2, out.data(), stride));
}

// ---- bitmap files from the suite ----

struct BmpFile {
  std::vector<BYTE> bytes;
  // Straight into the file's bytes, at offset 14 (only 2-byte aligned), as a reader hands them on.
  const BITMAPINFO* info() const { return reinterpret_cast<const BITMAPINFO*>(bytes.data() + 14); }
  BITMAPINFOHEADER header() const {
    BITMAPINFOHEADER h;
    std::memcpy(&h, bytes.data() + 14, sizeof h);
    return h;
  }
  const BYTE* bits() const {
    DWORD off;
    std::memcpy(&off, bytes.data() + 10, 4);
    return bytes.data() + off;
  }
};

BmpFile LoadBmp(const std::string& name) {
  BmpFile f{ReadFile(Corpus("bmpsuite/" + name))};
  EXPECT_GT(f.bytes.size(), 54u) << name;
  return f;
}

// The picture of a file as 32-bit pixels, through a screen-format bitmap made by CreateDIBitmap.
std::vector<std::uint32_t> Decode(soft::SoftGdi& g, const BmpFile& f, int& w, int& h) {
  std::vector<std::uint32_t> px;
  if (f.bytes.size() <= 54) return px;
  HDC dc = g.CreateCompatibleDC(nullptr);
  HBITMAP b = g.CreateDIBitmap(dc, reinterpret_cast<const BITMAPINFOHEADER*>(f.info()), CBM_INIT, f.bits(),
                               f.info(), DIB_RGB_COLORS);
  if (b) {
    w = f.header().biWidth;
    h = std::abs(f.header().biHeight);
    Info i = MakeInfo(w, -h, 32);
    px.resize(std::size_t(w) * h);
    g.GetDIBits(dc, b, 0, h, px.data(), i.get(), DIB_RGB_COLORS);
    g.DeleteObject(Obj(b));
  }
  g.DeleteDC(dc);
  return px;
}

TEST_F(GdiDib, Rle8FileDecodesToTheSamePixelsAsItsUncompressedTwin) {
  int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
  auto rle = Decode(g, LoadBmp("g/pal8rle.bmp"), w1, h1);
  auto raw = Decode(g, LoadBmp("g/pal8.bmp"), w2, h2);
  ASSERT_FALSE(rle.empty());
  ASSERT_EQ(w1, w2);
  ASSERT_EQ(h1, h2);
  EXPECT_EQ(rle, raw);
}

TEST_F(GdiDib, Rle4FileDecodesToTheSamePixelsAsItsUncompressedTwin) {
  int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
  auto rle = Decode(g, LoadBmp("g/pal4rle.bmp"), w1, h1);
  auto raw = Decode(g, LoadBmp("g/pal4.bmp"), w2, h2);
  ASSERT_FALSE(rle.empty());
  EXPECT_EQ(rle, raw);
}

TEST_F(GdiDib, TopDownEightBitFileMatchesTheBottomUpOne) {
  int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
  auto td = Decode(g, LoadBmp("g/pal8topdown.bmp"), w1, h1);
  auto bu = Decode(g, LoadBmp("g/pal8.bmp"), w2, h2);
  ASSERT_FALSE(td.empty());
  EXPECT_EQ(td, bu);
}

TEST_F(GdiDib, BrokenRunLengthFilesDecodeSafelyOrAreRefused) {
  for (const char* name : {"b/badrle.bmp", "b/badrle4.bmp", "b/badrle4bis.bmp", "b/badrle4ter.bmp",
                           "b/badrlebis.bmp", "b/badrleter.bmp", "q/pal8rlecut.bmp", "q/pal4rlecut.bmp",
                           "q/pal8rletrns.bmp", "q/pal4rletrns.bmp"}) {
    BmpFile f = LoadBmp(name);
    if (f.bytes.size() <= 54) continue;
    // Never read past the file: the compressed size is capped to what the file holds.
    BITMAPINFOHEADER h = f.header();
    const std::size_t avail = f.bytes.size() - std::size_t(f.bits() - f.bytes.data());
    h.biSizeImage = static_cast<DWORD>(std::min<std::size_t>(h.biSizeImage ? h.biSizeImage : avail, avail));
    std::vector<BYTE> copy(f.bytes);
    std::memcpy(copy.data() + 14, &h, sizeof h);
    BmpFile capped{copy};
    int w = 0, hh = 0;
    Decode(g, capped, w, hh);
  }
  int w = 0, h = 0;
  EXPECT_TRUE(Decode(g, LoadBmp("b/rletopdown.bmp"), w, h).empty());
  EXPECT_EQ(g.LiveObjectCount(), 0u);
}

}  // namespace
