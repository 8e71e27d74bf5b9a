// Reading and writing DIB bodies, stored picture data and .dib files.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "picture/BitmapImage.h"
#include "picture/Graphics.h"
#include "render/DIB.h"
#include "support/Errors.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

struct Body {
  std::uint32_t headerSize = 40;
  std::int32_t width = 2;
  std::int32_t height = 2;
  std::uint16_t bitCount = 24;
  std::uint32_t compression = 0;
  std::uint32_t sizeImage = 0;
  std::uint32_t colorsUsed = 0;
  std::vector<std::uint32_t> masks;
  Bytes colors;  // raw colour-table bytes
  Bytes pixels;

  Bytes Make() const {
    Bytes b;
    Put32(b, headerSize);
    if (headerSize == 12) {
      Put16(b, static_cast<std::uint32_t>(width));
      Put16(b, static_cast<std::uint32_t>(height));
      Put16(b, 1);
      Put16(b, bitCount);
    } else {
      Put32(b, static_cast<std::uint32_t>(width));
      Put32(b, static_cast<std::uint32_t>(height));
      Put16(b, 1);
      Put16(b, bitCount);
      Put32(b, compression);
      Put32(b, sizeImage);
      Put32(b, 0);
      Put32(b, 0);
      Put32(b, colorsUsed);
      Put32(b, 0);
    }
    for (auto m : masks) Put32(b, m);
    b.insert(b.end(), colors.begin(), colors.end());
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
  }
};

// A 2x2 24-bit picture, rows stored bottom-up: bottom row (1,2,3)(4,5,6), top row (7,8,9)(10,11,12).
Bytes TwoByTwoPixelsBottomUp() {
  return {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
}

Bytes WrittenBody(TDIB& dib) {
  TMemoryStream out;
  dib.WriteFormData(out);
  return out.Data();
}

void ReadBody(TDIB& dib, const Bytes& bytes) {
  TMemoryStream in(bytes);
  dib.ReadFormData(in);
}

class DIBStream : public ::testing::Test {
 protected:
  void SetUp() override { InitDIBUnit(); }
};

// ---- body headers

TEST_F(DIBStream, EmptyStreamGivesEmptyImageWithoutError) {
  TDIB dib;
  Body b;
  b.pixels = TwoByTwoPixelsBottomUp();
  ReadBody(dib, b.Make());
  ASSERT_FALSE(dib.IsEmpty());
  ReadBody(dib, {});
  EXPECT_TRUE(dib.IsEmpty());
  EXPECT_EQ(0, dib.Width());
}

TEST_F(DIBStream, MalformedHeadersAreInvalid) {
  Body header108, compression4, rleOn24Bits;
  header108.headerSize = 108;
  compression4.compression = 4;
  rleOn24Bits.compression = 1;
  rleOn24Bits.sizeImage = 2;
  for (Body* b : {&header108, &compression4, &rleOn24Bits}) b->pixels = TwoByTwoPixelsBottomUp();
  for (const Bytes& bytes : {Bytes{40, 0, 0}, header108.Make(), compression4.Make(), rleOn24Bits.Make()}) {
    TDIB dib;
    EXPECT_EQ("DIB is invalid", MessageOf<EInvalidGraphic>([&] { ReadBody(dib, bytes); })) << bytes.size();
  }
}

TEST_F(DIBStream, BottomUpRowsMapToPictureRows) {
  TDIB dib;
  Body b;
  b.pixels = TwoByTwoPixelsBottomUp();
  ReadBody(dib, b.Make());
  EXPECT_EQ(2, dib.Width());
  EXPECT_EQ(2, dib.Height());
  EXPECT_EQ(24, dib.BitCount());
  EXPECT_EQ(8, dib.Stride());
  EXPECT_EQ(7, dib.Row(0)[0]);  // top row
  EXPECT_EQ(1, dib.Row(1)[0]);
}

TEST_F(DIBStream, NegativeHeightReadsLikeBottomUpTwinAndWritesPositive) {
  Body up;
  up.pixels = TwoByTwoPixelsBottomUp();
  Body down = up;
  down.height = -2;
  down.pixels = {7, 8, 9, 10, 11, 12, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0};
  TDIB a, b;
  ReadBody(a, up.Make());
  ReadBody(b, down.Make());
  EXPECT_EQ(2, b.Height());
  Bytes wa = WrittenBody(a), wb = WrittenBody(b);
  EXPECT_EQ(wa, wb);
  EXPECT_EQ(2, static_cast<std::int32_t>(wb[8] | wb[9] << 8 | wb[10] << 16 | wb[11] << 24));
}

TEST_F(DIBStream, CoreHeaderColourEntriesWidenToTheInfoHeaderPicture) {
  Body core;
  core.headerSize = 12;
  core.width = 3;
  core.height = 1;
  core.bitCount = 1;
  core.colors = {10, 20, 30, 40, 50, 60};
  core.pixels = {0xA0, 0, 0, 0};  // pixels 1, 0, 1
  Body info = core;
  info.headerSize = 40;
  info.colors = {10, 20, 30, 0, 40, 50, 60, 0};
  TDIB a, b;
  ReadBody(a, core.Make());
  ReadBody(b, info.Make());
  EXPECT_EQ(WrittenBody(b), WrittenBody(a));
  EXPECT_EQ((TRGBQuad{40, 50, 60, 0}), a.ColorTable[1]);
}

TEST_F(DIBStream, SixteenBitFiveSixFiveMasksAreAccepted) {
  Body b;
  b.bitCount = 16;
  b.compression = 3;
  b.masks = {0xF800, 0x07E0, 0x001F};
  b.sizeImage = 8;
  b.pixels = Bytes(8, 0xAB);
  TDIB dib;
  ReadBody(dib, b.Make());
  EXPECT_EQ(6, dib.PixelFormat.GBitCount);
  EXPECT_EQ(0x07E0u, dib.PixelFormat.GBitMask);
  EXPECT_EQ(b.Make(), WrittenBody(dib));
}

TEST_F(DIBStream, SixteenBitMasksOfFourBitsAreRefused) {
  Body b;
  b.bitCount = 16;
  b.compression = 3;
  b.masks = {0x0F00, 0x00F0, 0x000F};
  b.pixels = Bytes(8, 0);
  TDIB dib;
  EXPECT_EQ("PixelFormat in invalid", MessageOf<EInvalidGraphicOperation>([&] { ReadBody(dib, b.Make()); }));
}

// Masks at other places move the colours to the standard ones; the byte no mask covers is the alpha and
// stays the fourth byte.
TEST_F(DIBStream, ThirtyTwoBitMasksAtOtherPlacesKeepTheAlphaByte) {
  Body b;
  b.width = 1;
  b.height = 1;
  b.bitCount = 32;
  b.compression = 3;
  b.masks = {0xFF, 0xFF00, 0xFF0000};  // red in the lowest byte, blue in the third
  b.pixels = {0x11, 0x22, 0x33, 0x80};
  TDIB dib;
  ReadBody(dib, b.Make());
  const std::uint8_t* p = dib.RowReadOnly(0);
  EXPECT_EQ((Bytes{0x33, 0x22, 0x11, 0x80}), Bytes(p, p + 4));  // blue, green, red, alpha
  EXPECT_TRUE(dib.HasAlpha());
}

TEST_F(DIBStream, ThirtyTwoBitMasksLeavingTheLowByteFreeMoveItsAlphaToTheFourthByte) {
  Body b;
  b.width = 1;
  b.height = 1;
  b.bitCount = 32;
  b.compression = 3;
  b.masks = {0xFF000000, 0xFF0000, 0xFF00};
  b.pixels = {0x80, 0x33, 0x22, 0x11};
  TDIB dib;
  ReadBody(dib, b.Make());
  const std::uint8_t* p = dib.RowReadOnly(0);
  EXPECT_EQ((Bytes{0x33, 0x22, 0x11, 0x80}), Bytes(p, p + 4));
}

TEST_F(DIBStream, TwoBitBodyNamesItsBitCount) {
  Body b;
  b.bitCount = 2;
  b.pixels = Bytes(8, 0);
  b.colors = Bytes(16, 0);
  TDIB dib;
  EXPECT_EQ("Bitcount in invalid (2)", MessageOf<EInvalidGraphicOperation>([&] { ReadBody(dib, b.Make()); }));
}

TEST_F(DIBStream, ZeroOrNegativeSizesAreInvalid) {
  for (auto wh :
       std::vector<std::pair<std::int32_t, std::int32_t>>{{0, 2}, {-2, 2}, {2, 0}, {2, INT32_MIN}}) {
    Body b;
    b.width = wh.first;
    b.height = wh.second;
    b.pixels = TwoByTwoPixelsBottomUp();
    TDIB dib;
    EXPECT_EQ("DIB is invalid", MessageOf<EInvalidGraphic>([&] { ReadBody(dib, b.Make()); }))
        << wh.first << "x" << wh.second;
  }
}

TEST_F(DIBStream, SizesWhoseRowOrTotalOverflowAreInvalid) {
  for (auto wh : std::vector<std::pair<std::int32_t, std::int32_t>>{{0x7FFFFFFF, 1}, {65536, 65536}}) {
    Body b;
    b.bitCount = 32;
    b.compression = 3;
    b.masks = {0xFF0000, 0xFF00, 0xFF};
    b.width = wh.first;
    b.height = wh.second;
    TDIB dib;
    EXPECT_EQ("DIB is invalid", MessageOf<EInvalidGraphic>([&] { ReadBody(dib, b.Make()); }));
  }
}

TEST_F(DIBStream, PixelDataEndingEarlyIsAReadErrorAndKeepsThePreviousImage) {
  TDIB dib;
  Body good;
  good.pixels = TwoByTwoPixelsBottomUp();
  ReadBody(dib, good.Make());
  const TDIBSharedImage* before = &dib.Image();
  Body b;
  b.width = 12000;  // 144 MB claimed, 3 bytes present: refused before anything is allocated
  b.height = 12000;
  b.bitCount = 8;
  b.colors = Bytes(1024, 0);
  b.pixels = {1, 2, 3};
  EXPECT_EQ("Stream read error", MessageOf<EReadError>([&] { ReadBody(dib, b.Make()); }));
  EXPECT_EQ(before, &dib.Image());
  EXPECT_EQ(2, dib.Width());
}

TEST_F(DIBStream, ColoursUsedLimitsTheTableRead) {
  Body b;
  b.width = 4;
  b.height = 1;
  b.bitCount = 8;
  b.colorsUsed = 2;
  b.colors = {1, 2, 3, 0, 4, 5, 6, 0};
  b.pixels = {0, 1, 1, 0};
  TDIB dib;
  ReadBody(dib, b.Make());
  EXPECT_EQ((TRGBQuad{4, 5, 6, 0}), dib.ColorTable[1]);
  EXPECT_EQ((TRGBQuad{0, 0, 0, 0}), dib.ColorTable[2]);
  EXPECT_EQ(1, dib.Row(0)[1]);
  // Written back with the full 256-entry table and colours used 0.
  EXPECT_EQ(40u + 1024u + 4u, WrittenBody(dib).size());
}

// ---- run-length data

Bytes Rle8Body(const Bytes& data, std::int32_t w, std::int32_t h) {
  Body b;
  b.width = w;
  b.height = h;
  b.bitCount = 8;
  b.compression = 1;
  b.sizeImage = static_cast<std::uint32_t>(data.size());
  b.colors = Bytes(1024, 0);
  b.pixels = data;
  return b.Make();
}

TEST_F(DIBStream, RunLengthDataStaysCompressedUntilPixelsAreNeeded) {
  Bytes rle = {3, 7, 0, 0, 2, 9, 0, 1};
  TDIB dib;
  ReadBody(dib, Rle8Body(rle, 4, 2));
  EXPECT_TRUE(dib.Compressed());
  EXPECT_EQ(static_cast<std::int32_t>(rle.size()), dib.ImageSize());
  EXPECT_EQ(Rle8Body(rle, 4, 2), WrittenBody(dib));  // written back still compressed, byte for byte
  EXPECT_EQ(9, dib.Row(0)[1]);                       // second data row lies higher in the picture
  EXPECT_FALSE(dib.Compressed());
  EXPECT_EQ(7, dib.Row(1)[2]);
  EXPECT_EQ(0, dib.Row(1)[3]);
  EXPECT_EQ(8, dib.ImageSize());
}

TEST_F(DIBStream, RunLengthDataClaimingMorePixelsThanAnyPictureMayHaveIsInvalid) {
  // A few bytes standing for 40000 x 40000 pixels: expanding them would zero-fill 1.6 GB.
  TDIB dib;
  EXPECT_EQ("DIB is invalid", MessageOf<EInvalidGraphic>([&] {
              ReadBody(dib, Rle8Body({0, 1}, 40000, 40000));
            }));
  const std::size_t limit = MaxBitmapBytes();
  SetMaxBitmapBytes(4000);
  EXPECT_EQ("DIB is invalid", MessageOf<EInvalidGraphic>([&] { ReadBody(dib, Rle8Body({0, 1}, 64, 63)); }));
  EXPECT_NO_THROW(ReadBody(dib, Rle8Body({0, 1}, 64, 62)));
  SetMaxBitmapBytes(limit);
}

TEST_F(DIBStream, TopDownRunLengthDataIsInvalid) {
  // Run-length data fills rows from the bottom up; a body claiming the other order is refused, in a
  // stored picture and in a .dib file alike.
  const Bytes body = Rle8Body({2, 7, 0, 1}, 2, -2);
  TDIB dib;
  EXPECT_EQ("DIB is invalid", MessageOf<EInvalidGraphic>([&] { ReadBody(dib, body); }));
  Bytes file = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  file.insert(file.end(), body.begin(), body.end());
  TMemoryStream in(file);
  EXPECT_EQ("DIB is invalid", MessageOf<EInvalidGraphic>([&] { dib.ReadGraphicStream(in); }));
}

TEST_F(DIBStream, Rle8DeltaMovesRightAndUp) {
  // One pixel, delta (3, 1), one pixel: the second lands three to the right and one row higher.
  Bytes rle = {1, 5, 0, 2, 3, 1, 1, 6, 0, 1};
  TDIB dib;
  ReadBody(dib, Rle8Body(rle, 8, 3));
  const std::uint8_t* bottom = dib.RowReadOnly(2);
  const std::uint8_t* middle = dib.RowReadOnly(1);
  EXPECT_EQ(5, bottom[0]);
  EXPECT_EQ(6, middle[4]);
  EXPECT_EQ(0, middle[3]);
  EXPECT_EQ(0, bottom[4]);
}

TEST_F(DIBStream, Rle4AlternatesNibblesAndCopiesAbsoluteRuns) {
  Body b;
  b.width = 8;
  b.height = 1;
  b.bitCount = 4;
  b.compression = 2;
  b.colors = Bytes(64, 0);
  // Run of 3 alternating 1,2; then an absolute run of 3 pixels 3,4,5 padded to an even byte count.
  b.pixels = {3, 0x12, 0, 3, 0x34, 0x50, 0, 1};
  b.sizeImage = static_cast<std::uint32_t>(b.pixels.size());
  TDIB dib;
  ReadBody(dib, b.Make());
  const std::uint8_t* row = dib.RowReadOnly(0);
  EXPECT_EQ(0x12, row[0]);
  EXPECT_EQ(0x13, row[1]);
  EXPECT_EQ(0x45, row[2]);
  EXPECT_EQ(0x00, row[3]);
}

// ---- stored picture data

// A white 32 x 43 sprite whose alpha is a blob peaking at 255 in (15, 16), as the stored sprites are.
Bytes SpriteOneBody() {
  Body b;
  b.width = 32;
  b.height = 43;
  b.bitCount = 32;
  b.compression = 3;
  b.sizeImage = 32 * 43 * 4;
  b.masks = {0xFF0000, 0xFF00, 0xFF};
  for (int row = 42; row >= 0; --row) {
    for (int x = 0; x < 32; ++x) {
      int dx = x - 15, dy = row - 16;
      int d2 = dx * dx + dy * dy / 3;
      std::uint8_t a = d2 == 0 ? 255 : d2 < 60 ? static_cast<std::uint8_t>(255 - 4 * d2) : 0;
      b.pixels.insert(b.pixels.end(), {255, 255, 255, a});
    }
  }
  return b.Make();
}

TEST_F(DIBStream, SpriteFormDataRoundTripsByteForByte) {
  Bytes stored = {4, 'T', 'D', 'I', 'B'};
  Bytes body = SpriteOneBody();
  stored.insert(stored.end(), body.begin(), body.end());
  ASSERT_EQ(5561u, stored.size());

  TPicture picture;
  TMemoryStream in(stored);
  picture.ReadData(in);
  auto* dib = dynamic_cast<TDIB*>(picture.Graphic());
  ASSERT_NE(nullptr, dib);
  EXPECT_EQ(32, dib->Width());
  EXPECT_EQ(43, dib->Height());
  EXPECT_EQ(32, dib->BitCount());
  EXPECT_EQ(128, dib->Stride());
  EXPECT_EQ(255, dib->RowReadOnly(16)[15 * 4 + 3]);
  EXPECT_EQ(0, dib->RowReadOnly(0)[3]);
  EXPECT_EQ(0, dib->RowReadOnly(42)[31 * 4 + 3]);

  TMemoryStream out;
  picture.WriteData(out);
  EXPECT_EQ(stored, out.Data());
  EXPECT_EQ(5556u, WrittenBody(*dib).size());
}

TEST_F(DIBStream, FormDataWithOnlyTheClassNameGivesAnEmptyDIB) {
  TPicture picture;
  TMemoryStream in(Bytes{4, 'T', 'D', 'I', 'B'});
  picture.ReadData(in);
  auto* dib = dynamic_cast<TDIB*>(picture.Graphic());
  ASSERT_NE(nullptr, dib);
  EXPECT_TRUE(dib->IsEmpty());
}

TEST_F(DIBStream, UnitRegistersTheDibExtensionAndClipboardFormat) {
  InitDIBUnit();  // a second start-up call adds nothing
  EXPECT_EQ(TDIB::StaticClass(), PictureFormats().FindFormatByExtension("DIB"));
  EXPECT_EQ(TDIB::StaticClass(), FindClipboardFormat(8));
  int dibEntries = 0;
  for (int i = 0; i < PictureFormats().Count(); ++i) {
    const TFileFormat& f = PictureFormats().Item(i);
    if (f.Extension == "dib") {
      ++dibEntries;
      EXPECT_EQ("Device Independent Bitmap", f.Description);
    }
  }
  EXPECT_EQ(1, dibEntries);
}

// ---- .dib files

TEST_F(DIBStream, FileRoundTripWritesHeaderSizesAndBody) {
  Body b;
  b.sizeImage = 16;
  b.pixels = TwoByTwoPixelsBottomUp();
  TDIB dib;
  ReadBody(dib, b.Make());
  TMemoryStream file;
  dib.WriteGraphicStream(file);
  const Bytes& f = file.Data();
  ASSERT_EQ(14u + 40u + 16u, f.size());
  EXPECT_EQ('B', f[0]);
  EXPECT_EQ('M', f[1]);
  EXPECT_EQ(70u, f[2] | f[3] << 8 | f[4] << 16 | static_cast<std::uint32_t>(f[5]) << 24);
  EXPECT_EQ(54u, f[10] | f[11] << 8 | f[12] << 16 | static_cast<std::uint32_t>(f[13]) << 24);

  TDIB back;
  file.SetPosition(0);
  back.ReadGraphicStream(file);
  EXPECT_EQ(b.Make(), WrittenBody(back));
}

TEST_F(DIBStream, EmptyFileLeavesTheImageUnchanged) {
  Body b;
  b.pixels = TwoByTwoPixelsBottomUp();
  TDIB dib;
  ReadBody(dib, b.Make());
  TMemoryStream in;
  dib.ReadGraphicStream(in);
  EXPECT_EQ(2, dib.Width());
}

TEST_F(DIBStream, ShortOrForeignFileHeaderIsInvalid) {
  TDIB dib;
  for (Bytes f : {Bytes{'B', 'M', 0, 0}, Bytes{'P', 'K', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}) {
    TMemoryStream in(f);
    EXPECT_EQ("DIB is invalid", MessageOf<EInvalidGraphic>([&] { dib.ReadGraphicStream(in); }));
  }
}

}  // namespace
