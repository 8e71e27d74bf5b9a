// Reading bitmap files: headers, colour tables, bit fields, sizes capped by the data, and refusals.
#include "graphics_fixture.h"
#include "picture/BitmapImage.h"
#include "support/Errors.h"

using namespace picture_test;

namespace {

// An 8-bit, 2x2 bitmap with a full colour table whose first three entries are used; core = the 12-byte header
// with 3-byte entries.
std::vector<std::uint8_t> MakePal8(bool core) {
  std::vector<std::uint32_t> colors(256, 0);  // 0xRRGGBB
  colors[0] = 0x102030;
  colors[1] = 0xA0B0C0;
  colors[2] = 0x00FF00;
  const std::size_t entry = core ? 3 : 4;
  const std::size_t header = core ? 12 : 40;
  const std::size_t off = 14 + header + 256 * entry;
  Bytes b;
  b.u16(0x4D42).u32(static_cast<std::uint32_t>(off + 8)).u16(0).u16(0).u32(static_cast<std::uint32_t>(off));
  if (core) {
    b.u32(12).u16(2).u16(2).u16(1).u16(8);
  } else {
    b.u32(40).u32(2).u32(2).u16(1).u16(8).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0);
  }
  for (std::uint32_t c : colors) {
    b.u8(c & 0xFF).u8((c >> 8) & 0xFF).u8(c >> 16);
    if (!core) b.u8(0);
  }
  b.u8(0).u8(1).u8(0).u8(0);  // bottom row: colours 0, 1
  b.u8(2).u8(2).u8(0).u8(0);  // top row: colour 2 twice
  return b.v;
}

class BitmapReadingTest : public PictureTest {};

}  // namespace

TEST_F(BitmapReadingTest, CoreHeaderWithThreeByteEntriesGivesTheSameColoursAsAnInfoHeader) {
  TBitmap core, info;
  LoadBytes(core, MakePal8(true));
  LoadBytes(info, MakePal8(false));
  const Pixels a = Render(core), b = Render(info);
  EXPECT_EQ(a.Px, b.Px);
  EXPECT_EQ(a.At(0, 0), 0x00FF00u);
  EXPECT_EQ(a.At(0, 1), 0x102030u);
  EXPECT_EQ(a.At(1, 1), 0xA0B0C0u);
  EXPECT_EQ(core.ColorTable(), info.ColorTable());
}

TEST_F(BitmapReadingTest, EmptyStreamGivesAnEmptyBitmap) {
  TBitmap b;
  LoadBytes(b, {});
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.Width(), 0);
}

TEST_F(BitmapReadingTest, WrongSignatureIsInvalid) {
  auto data = MakePal8(false);
  data[0] = 'P';
  TBitmap b;
  EXPECT_EQ(MessageOf([&] { LoadBytes(b, data); }), "EInvalidGraphic: Bitmap image is not valid");
}

TEST_F(BitmapReadingTest, PlanesOtherThanOneAreInvalid) {
  auto data = MakePal8(false);
  data[26] = 2;
  TBitmap b;
  EXPECT_EQ(MessageOf([&] { LoadBytes(b, data); }), "EInvalidGraphic: Bitmap image is not valid");
}

TEST_F(BitmapReadingTest, TruncatedHeaderIsAStreamReadError) {
  auto data = MakePal8(false);
  data.resize(30);
  TBitmap b;
  EXPECT_EQ(MessageOf([&] { LoadBytes(b, data); }), "EReadError: Stream read error");
}

TEST_F(BitmapReadingTest, TruncatedColourTableIsAStreamReadError) {
  auto data = MakePal8(false);
  data.resize(14 + 40 + 600);
  TBitmap b;
  EXPECT_EQ(MessageOf([&] { LoadBytes(b, data); }), "EReadError: Stream read error");
}

TEST_F(BitmapReadingTest, HugeColourCountIsRefusedWithoutAllocatingIt) {
  auto data = MakePal8(false);
  data[49] = 0xFF;  // biClrUsed = 0xFF000000
  TBitmap b;
  EXPECT_EQ(MessageOf([&] { LoadBytes(b, data); }), "EReadError: Stream read error");
}

TEST_F(BitmapReadingTest, FailedReadKeepsThePreviousImage) {
  TBitmap b;
  LoadBytes(b, MakePal8(false));
  auto data = MakePal8(false);
  data[0] = 'X';
  EXPECT_THROW(LoadBytes(b, data), EInvalidGraphic);
  EXPECT_EQ(b.Width(), 2);
}

TEST_F(BitmapReadingTest, PixelDataShorterThanTheImageLoadsWhatIsThere) {
  auto data = MakeBmp24(2, 2, {0x111111, 0x222222, 0x333333, 0x444444});
  data[34] = 0xFF;  // biSizeImage far beyond the data
  data[35] = 0xFF;
  data.resize(data.size() - 8);  // the top row is missing
  TBitmap b;
  LoadBytes(b, data);
  const Pixels p = Render(b);
  EXPECT_EQ(p.At(0, 1), 0x333333u);
  EXPECT_EQ(p.At(1, 1), 0x444444u);
  EXPECT_EQ(p.At(0, 0), 0u);
}

TEST_F(BitmapReadingTest, ReadingStartsAtTheStreamPosition) {
  std::vector<std::uint8_t> data = {'j', 'u', 'n', 'k'};
  const auto bmp = MakeBmp24(1, 1, {0xABCDEF});
  data.insert(data.end(), bmp.begin(), bmp.end());
  TReadOnlyMemoryStream s(data.data(), data.size());
  s.SetPosition(4);
  TBitmap b;
  b.LoadFromStream(s);
  EXPECT_EQ(Render(b).At(0, 0), 0xABCDEFu);
}

// The header's pixel offset counts from the file's start; it is followed past the colour table and ignored
// where it points into the headers or past the end.
TEST_F(BitmapReadingTest, PixelOffsetIsFollowedOnlyPastTheColourTable) {
  const auto plain = MakePal8(false);
  TBitmap original;
  LoadBytes(original, plain);
  const Pixels ref = Render(original);
  const std::size_t pixelsAt = plain.size() - 8;
  auto withOffset = [&](std::uint32_t offset, std::size_t gap) {
    std::vector<std::uint8_t> f(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(pixelsAt));
    f.insert(f.end(), gap, 0xEE);
    f.insert(f.end(), plain.end() - 8, plain.end());
    for (int i = 0; i < 4; ++i) f[10 + i] = static_cast<std::uint8_t>(offset >> (8 * i));
    std::vector<std::uint8_t> data = {'j', 'u', 'n', 'k'};
    data.insert(data.end(), f.begin(), f.end());
    TReadOnlyMemoryStream s(data.data(), data.size());
    s.SetPosition(4);
    TBitmap b;
    b.LoadFromStream(s);
    return Render(b);
  };
  EXPECT_EQ(withOffset(static_cast<std::uint32_t>(pixelsAt + 6), 6).Px, ref.Px);
  for (std::uint32_t offset : {0u, 30u, 5000u}) EXPECT_EQ(withOffset(offset, 0).Px, ref.Px) << offset;
}

TEST_F(BitmapReadingTest, BitFieldsOf565AreDecodedThroughTheirMasks) {
  Bytes b;
  b.u16(0x4D42).u32(14 + 40 + 12 + 4).u16(0).u16(0).u32(66);
  b.u32(40).u32(2).u32(1).u16(1).u16(16).u32(3).u32(4).u32(0).u32(0).u32(0).u32(0);
  b.u32(0xF800).u32(0x07E0).u32(0x001F);
  b.u16(0xF800).u16(0x07E0);  // pure red, pure green
  TBitmap bmp;
  LoadBytes(bmp, b.v);
  EXPECT_EQ(bmp.PixelFormat(), pf16bit);
  const Pixels p = Render(bmp);
  EXPECT_EQ(p.At(0, 0) & 0xF8F8F8, 0xF80000u);
  EXPECT_EQ(p.At(1, 0) & 0xF8FCF8, 0x00FC00u);
}

TEST_F(BitmapReadingTest, TopDownRowsAreReadTopFirst) {
  auto data = MakeBmp24(1, 2, {0x0000FF, 0xFF0000});  // bottom-up: stored red first, then blue
  // Flip to top-down: negate the height and swap the two 4-byte rows.
  data[22] = 0xFE;
  data[23] = data[24] = data[25] = 0xFF;
  std::swap_ranges(data.begin() + 54, data.begin() + 58, data.begin() + 58);
  TBitmap b;
  LoadBytes(b, data);
  const Pixels p = Render(b);
  EXPECT_EQ(p.At(0, 0), 0x0000FFu);
  EXPECT_EQ(p.At(0, 1), 0xFF0000u);
}

TEST_F(BitmapReadingTest, TrueColourBitmapWithAColourTableGetsAPalette) {
  Bytes b;
  b.u16(0x4D42).u32(14 + 40 + 8 + 4).u16(0).u16(0).u32(62);
  b.u32(40).u32(1).u32(1).u16(1).u16(24).u32(0).u32(4).u32(0).u32(0).u32(2).u32(0);
  b.u32(0x00112233).u32(0x00445566);
  b.u8(1).u8(2).u8(3).u8(0);
  TBitmap bmp;
  LoadBytes(bmp, b.v);
  EXPECT_NE(bmp.Palette(), nullptr);
  EXPECT_TRUE(bmp.PaletteModified());
  EXPECT_EQ(Render(bmp).At(0, 0), 0x030201u);
}

TEST_F(BitmapReadingTest, ReadingNotifiesAChange) {
  TBitmap b;
  int changes = 0;
  b.OnChange = [&](void*) { ++changes; };
  LoadBytes(b, MakePal8(false));
  EXPECT_EQ(changes, 1);
}

// ---- Pure header checks ----

TEST(BitmapHeaderCheckTest, RefusesSizesAndFormatsThatCannotBeMade) {
  plat::BITMAPINFOHEADER h{};
  h.biSize = 40;
  h.biWidth = 10;
  h.biHeight = 10;
  h.biPlanes = 1;
  h.biBitCount = 24;
  EXPECT_TRUE(BitmapHeaderUsable(h));
  auto with = [&](auto change) {
    plat::BITMAPINFOHEADER c = h;
    change(c);
    return BitmapHeaderUsable(c);
  };
  EXPECT_FALSE(with([](auto& c) { c.biWidth = 0; }));
  EXPECT_FALSE(with([](auto& c) { c.biWidth = -5; }));
  EXPECT_FALSE(with([](auto& c) { c.biHeight = 0; }));
  EXPECT_FALSE(with([](auto& c) { c.biHeight = INT32_MIN; }));
  EXPECT_TRUE(with([](auto& c) { c.biHeight = -10; }));
  EXPECT_FALSE(with([](auto& c) { c.biBitCount = 30000; }));
  EXPECT_FALSE(with([](auto& c) { c.biBitCount = 2; }));
  EXPECT_FALSE(with([](auto& c) { c.biCompression = plat::BI_BITFIELDS; }));  // needs 16 or 32 bits
  EXPECT_FALSE(with([](auto& c) { c.biCompression = plat::BI_JPEG; }));
  EXPECT_FALSE(with([](auto& c) {
    c.biCompression = plat::BI_RLE8;
    c.biBitCount = 8;
    c.biHeight = -10;  // run-length data is always bottom-up
  }));
  EXPECT_FALSE(with([](auto& c) {
    c.biWidth = 3000000;
    c.biHeight = 2000000;
  }));
  EXPECT_FALSE(with([](auto& c) {
    c.biWidth = 0x7FFFFFFF;
    c.biHeight = 0x7FFFFFFF;
    c.biBitCount = 32;
  }));
}

TEST_F(BitmapReadingTest, LayoutOfACompressedBitmapKeepsTheWholeFile) {
  const auto data = ReadFileBytes(Corpus("bmpsuite/g/pal8rle.bmp"));
  TReadOnlyMemoryStream s(data.data(), data.size());
  TBitmapFileLayout L;
  ASSERT_TRUE(ReadBitmapLayout(s, L));
  EXPECT_EQ(L.Compressed.size(), data.size());
  EXPECT_EQ(L.Header.biCompression, plat::BI_RLE8);
  EXPECT_EQ(L.Colors.size(), 252u);
  EXPECT_EQ(L.CompressedBitsOffset, 1062u);
}
