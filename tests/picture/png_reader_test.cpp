// Reading PNG files: chunk framing, the chunk registry, header/palette/transparency/gamma rules, image data
// spread over chunks, and every reading error with its text. Runs without a graphics service (the store
// then lives in plain memory).
#include <gtest/gtest.h>

#include <cmath>

#include "picture/PngTestUtil.h"
#include "picture/pngimage/pngimage.h"

namespace {

using pngtest::Bytes;
using pngtest::Chunk;
using pngtest::Header;
using pngtest::MakePng;

// W x H 8-bit grey rows with filter 0, pixel value (x + 3y) mod 256.
Bytes GreyRows(int w, int h, std::uint8_t filter = 0) {
  Bytes raw;
  for (int y = 0; y < h; ++y) {
    raw.push_back(filter);
    for (int x = 0; x < w; ++x) raw.push_back(std::uint8_t(x + 3 * y));
  }
  return raw;
}

Bytes GreyFile(int w = 4, int h = 3, const std::vector<Bytes>& extra = {}, std::size_t split = 0) {
  return MakePng(Header(w, h, 8, 0), GreyRows(w, h), extra, split);
}

Bytes RgbRows(int w, int h) {
  Bytes raw;
  for (int y = 0; y < h; ++y) {
    raw.push_back(0);
    for (int x = 0; x < w; ++x) {
      raw.push_back(std::uint8_t(10 * x));
      raw.push_back(std::uint8_t(20 * y));
      raw.push_back(std::uint8_t(x * y));
    }
  }
  return raw;
}

void Read(TPNGObject& image, const Bytes& file) {
  TReadOnlyMemoryStream s(file.data(), file.size());
  image.ReadGraphicStream(s);
}

template <typename E>
std::string ReadError(const Bytes& file, TPNGObject* keep = nullptr) {
  TPNGObject local;
  TPNGObject& image = keep ? *keep : local;
  try {
    Read(image, file);
  } catch (const E& e) {
    return e.Message;
  } catch (const Exception& e) {
    return std::string("wrong class ") + e.ClassName() + ": " + e.Message;
  }
  return "no error";
}

// Offset of the first chunk of a type in a file.
std::size_t ChunkOffset(const Bytes& f, const char* type) {
  std::size_t pos = 8;
  while (pos + 8 <= f.size()) {
    if (std::memcmp(&f[pos + 4], type, 4) == 0) return pos;
    pos += 12 + pngtest::GetBE32(&f[pos]);
  }
  return std::string::npos;
}

// Insert a chunk before the first chunk of a type.
Bytes InsertBefore(Bytes f, const char* type, const Bytes& chunk) {
  f.insert(f.begin() + long(ChunkOffset(f, type)), chunk.begin(), chunk.end());
  return f;
}

void ExpectGreyPixels(const TPNGObject& image, int w, int h) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int v = (x + 3 * y) & 0xFF;
      ASSERT_EQ(image.PixelAt(x, y), v | (v << 8) | (v << 16)) << x << "," << y;
    }
}

// ---------------------------------------------------------------------------------------------------------
// File framing

TEST(PngFraming, WrongSignatureFailsWithTheHeaderError) {
  Bytes f = GreyFile();
  f[1] = 'Q';
  EXPECT_EQ(ReadError<EPNGInvalidFileHeader>(f), EPngInvalidFileHeaderText);
}

TEST(PngFraming, FileEndingAfterAChunkBeforeIendFailsWithUnexpectedEnd) {
  Bytes f = GreyFile();
  f.resize(ChunkOffset(f, "IEND"));
  EXPECT_EQ(ReadError<EPngUnexpectedEnd>(f), EPngUnexpectedEndText);
}

TEST(PngFraming, FileEndingInsideAChunkFailsWithTheCrcError) {
  const Bytes text = Chunk("tEXt", Bytes(40, 'a'));
  Bytes f = InsertBefore(GreyFile(), "IDAT", text);
  f.resize(ChunkOffset(f, "tEXt") + 20);
  EXPECT_EQ(ReadError<EPngInvalidCRC>(f), EPngInvalidCRCText);
}

TEST(PngFraming, ChunkClaimingMoreDataThanTheFileHoldsFailsWithoutAllocatingIt) {
  Bytes chunk = Chunk("tEXt", Bytes(8, 'a'));
  chunk[0] = 0x7F;  // length 0x7F000008
  EXPECT_EQ(ReadError<EPngInvalidCRC>(InsertBefore(GreyFile(), "IDAT", chunk)), EPngInvalidCRCText);
}

TEST(PngFraming, FirstChunkOtherThanHeaderFails) {
  Bytes f = pngtest::Signature();
  pngtest::Append(f, Chunk("gAMA", {0, 0, 0, 1}));
  EXPECT_EQ(ReadError<EPNGIHDRNotFirst>(f), EPngIHDRNotFirstText);
}

TEST(PngFraming, WrongCrcOfAKeptChunkFails) {
  Bytes f = InsertBefore(GreyFile(), "IDAT", Chunk("tEXt", {'k', 0, 'v'}));
  f[ChunkOffset(f, "tEXt") + 8 + 3] ^= 1;
  EXPECT_EQ(ReadError<EPngInvalidCRC>(f), EPngInvalidCRCText);
}

TEST(PngFraming, ChromaticityChunkWithWrongCrcIsSkippedUnread) {
  Bytes chrm = Chunk("cHRM", Bytes(32, 7));
  chrm.back() ^= 0xFF;
  TPNGObject image;
  Read(image, InsertBefore(GreyFile(), "IDAT", chrm));
  ExpectGreyPixels(image, 4, 3);
  for (int i = 0; i < image.Chunks.Count(); ++i) EXPECT_NE(image.Chunks.Item(i)->TypeText(), "cHRM");
}

TEST(PngFraming, PrivateAncillaryChunkIsKeptWithItsData) {
  TPNGObject image;
  Read(image, InsertBefore(GreyFile(), "IDAT", Chunk("prVt", {1, 2, 3})));
  ExpectGreyPixels(image, 4, 3);
  ASSERT_EQ(image.Chunks.Item(1)->TypeText(), "prVt");
  EXPECT_EQ(image.Chunks.Item(1)->ClassType(), TChunk::StaticClass());
  EXPECT_EQ(image.Chunks.Item(1)->ChunkSize, 3u);
  EXPECT_EQ(image.Chunks.Item(1)->ChunkData, (Bytes{1, 2, 3, 0}));
}

TEST(PngFraming, UnknownCriticalChunkFailsAndStaysInTheList) {
  TPNGObject image;
  EXPECT_EQ(ReadError<EPNGUnknownCriticalChunk>(InsertBefore(GreyFile(), "IDAT", Chunk("PrVt", {1})), &image),
            EPngUnknownCriticalChunkText);
  ASSERT_EQ(image.Chunks.Count(), 2);
  EXPECT_EQ(image.Chunks.Item(1)->TypeText(), "PrVt");
}

TEST(PngFraming, ChunksAfterIendAreNeverRead) {
  Bytes f = GreyFile();
  pngtest::Append(f, Bytes{0, 0, 0, 5, 'J', 'U', 'N', 'K', 1});
  TPNGObject image;
  Read(image, f);
  EXPECT_EQ(image.Chunks.Item(image.Chunks.Count() - 1)->TypeText(), "IEND");
}

TEST(PngFraming, FileWithoutImageDataFails) {
  Bytes f = pngtest::Signature();
  pngtest::Append(f, Chunk("IHDR", Header(2, 2, 8, 0)));
  pngtest::Append(f, Chunk("IEND", {}));
  EXPECT_EQ(ReadError<EPNGNoImageData>(f), EPngNoImageDataText);
}

TEST(PngFraming, ChunksReadBeforeAnErrorStayInTheList) {
  Bytes f = InsertBefore(GreyFile(), "IDAT", Chunk("tEXt", {'a', 0, 'b'}));
  f = InsertBefore(f, "IDAT", Chunk("PLTE", Bytes(4, 0)));  // not a multiple of 3
  TPNGObject image;
  ReadError<EPNGInvalidPalette>(f, &image);
  ASSERT_EQ(image.Chunks.Count(), 3);
  EXPECT_EQ(image.Chunks.Item(1)->TypeText(), "tEXt");
}

// ---------------------------------------------------------------------------------------------------------
// The chunk registry

TEST(PngChunkRegistry, ClassesGiveTheTypeTheirNameSpells) {
  EXPECT_EQ(TChunkIHDR::StaticClass()->ChunkTypeName(), "IHDR");
  EXPECT_EQ(TChunkzTXt::StaticClass()->ChunkTypeName(), "zTXt");
  EXPECT_EQ(TChunk::StaticClass()->ChunkTypeName(), "");
}

TEST(PngChunkRegistry, ChunksMadeThroughTheirClassCarryTheirType) {
  TPNGObject image;
  EXPECT_EQ(TChunkgAMA::StaticClass()->Create(&image)->TypeText(), "gAMA");
  EXPECT_EQ(TChunk::StaticClass()->Create(&image)->TypeText(), std::string(4, '\0'));
}

TEST(PngChunkRegistry, LookupIsCaseSensitiveAndFallsBackToThePlainChunk) {
  TPNGObject image;
  auto known = ChunkForType(&image, {'t', 'E', 'X', 't'});
  EXPECT_EQ(known->ClassType(), TChunktEXt::StaticClass());
  auto other = ChunkForType(&image, {'t', 'e', 'X', 't'});
  EXPECT_EQ(other->ClassType(), TChunk::StaticClass());
  EXPECT_EQ(other->TypeText(), "teXt");
}

TEST(PngChunkRegistry, CopyingAHeaderFromAnotherKindOfChunkFails) {
  TPNGObject image;
  TChunkIHDR header(&image);
  TChunkgAMA gamma(&image);
  try {
    header.CopyChunk(gamma);
    FAIL();
  } catch (const EPngError& e) {
    EXPECT_EQ(e.Message, EPngCannotAssignChunkText);
  }
}

// ---------------------------------------------------------------------------------------------------------
// Header

TEST(PngHeader, WidthAbove65535Fails) {
  EXPECT_EQ(ReadError<EPNGSizeExceeds>(MakePng(Header(65536, 1, 8, 0), Bytes(2, 0))), EPngSizeExceedsText);
}

TEST(PngHeader, Width65535PassesTheSizeCheck) {
  TPNGObject image;
  Read(image, MakePng(Header(65535, 1, 1, 0), Bytes(1 + 8192, 0)));
  EXPECT_EQ(image.ImageWidth(), 65535);
}

TEST(PngHeader, HeaderShorterThan13BytesFails) {
  Bytes h = Header(2, 2, 8, 0);
  h.pop_back();
  EXPECT_EQ(ReadError<EPngInvalidIHDR>(MakePng(h, GreyRows(2, 2))), EPngInvalidIHDRText);
}

TEST(PngHeader, HeaderWithOneExtraByteIsAccepted) {
  Bytes h = Header(4, 3, 8, 0);
  h.push_back(0x55);
  TPNGObject image;
  Read(image, MakePng(h, GreyRows(4, 3)));
  ExpectGreyPixels(image, 4, 3);
}

TEST(PngHeader, UnknownCompressionMethodFails) {
  EXPECT_EQ(ReadError<EPNGUnknownCompression>(MakePng(Header(2, 2, 8, 0, 0, 1), GreyRows(2, 2))),
            EPngUnknownCompressionText);
}

TEST(PngHeader, UnknownInterlaceMethodFails) {
  EXPECT_EQ(ReadError<EPNGUnknownInterlace>(MakePng(Header(2, 2, 8, 0, 2), GreyRows(2, 2))),
            EPngUnknownInterlaceText);
}

TEST(PngHeader, ColourTypeAndBitDepthOutsideTheStandardFail) {
  EXPECT_EQ(ReadError<EPngInvalidIHDR>(MakePng(Header(2, 2, 16, 3), GreyRows(2, 2))), EPngInvalidIHDRText);
  EXPECT_EQ(ReadError<EPngInvalidIHDR>(MakePng(Header(2, 2, 8, 5), GreyRows(2, 2))), EPngInvalidIHDRText);
}

TEST(PngHeader, ZeroWidthFails) {
  EXPECT_EQ(ReadError<EPngInvalidIHDR>(MakePng(Header(0, 2, 8, 0), Bytes(2, 0))), EPngInvalidIHDRText);
}

TEST(PngHeader, StoreLargerThanTheLimitFailsWithOutOfResources) {
  EXPECT_EQ(ReadError<EPNGOutMemory>(MakePng(Header(65535, 65535, 16, 6), Bytes(2, 0))), EPngOutMemoryText);
}

TEST(PngHeader, InterlaceMethodBecomesTheImageSetting) {
  TPNGObject image;
  Read(image, MakePng(Header(1, 1, 8, 0, 1), Bytes{0, 9}));
  EXPECT_EQ(image.InterlaceSetting, 1);
}

// ---------------------------------------------------------------------------------------------------------
// Palette, transparency and gamma chunks

Bytes PaletteRows(int w, int h) {
  Bytes raw;
  for (int y = 0; y < h; ++y) {
    raw.push_back(0);
    for (int x = 0; x < w; ++x) raw.push_back(std::uint8_t((x + y) % 3));
  }
  return raw;
}

Bytes ThreeColours() {
  return {255, 0, 0, 0, 255, 0, 0, 0, 255};
}

TEST(PngPalette, PaletteOf257EntriesFails) {
  EXPECT_EQ(ReadError<EPNGInvalidPalette>(
                MakePng(Header(2, 2, 8, 3), PaletteRows(2, 2), {Chunk("PLTE", Bytes(771, 1))})),
            EPngInvalidPaletteText);
}

TEST(PngPalette, TransparencyOf257BytesFails) {
  const std::vector<Bytes> extra = {Chunk("PLTE", ThreeColours()), Chunk("tRNS", Bytes(257, 0))};
  EXPECT_EQ(ReadError<EPNGInvalidPalette>(MakePng(Header(2, 2, 8, 3), PaletteRows(2, 2), extra)),
            EPngInvalidPaletteText);
}

TEST(PngPalette, PaletteColoursReachTheColourTable) {
  TPNGObject image;
  Read(image, MakePng(Header(3, 1, 8, 3), PaletteRows(3, 1), {Chunk("PLTE", ThreeColours())}));
  EXPECT_EQ(image.PixelAt(0, 0), 0x0000FF);
  EXPECT_EQ(image.PixelAt(1, 0), 0x00FF00);
  EXPECT_EQ(image.PixelAt(2, 0), 0xFF0000);
  EXPECT_EQ(image.HeaderChunk().StoreInfo.bmiHeader.biClrUsed, 3u);
}

TEST(PngPalette, PaletteInATrueColourImageChangesNothing) {
  TPNGObject plain, withPalette;
  Read(plain, MakePng(Header(3, 2, 8, 2), RgbRows(3, 2)));
  Read(withPalette, MakePng(Header(3, 2, 8, 2), RgbRows(3, 2), {Chunk("PLTE", ThreeColours())}));
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(plain.PixelAt(x, y), withPalette.PixelAt(x, y));
  EXPECT_EQ(withPalette.Chunks.Item(1)->TypeText(), "PLTE");
}

TEST(PngPalette, PaletteInATrueColourImageIsStillCrcChecked) {
  Bytes plte = Chunk("PLTE", ThreeColours());
  plte.back() ^= 1;
  EXPECT_EQ(ReadError<EPngInvalidCRC>(MakePng(Header(3, 2, 8, 2), RgbRows(3, 2), {plte})),
            EPngInvalidCRCText);
}

TEST(PngPalette, LookingUpAnEntryBeyondThePaletteFails) {
  TPNGObject image;
  Read(image, MakePng(Header(3, 1, 8, 3), PaletteRows(3, 1), {Chunk("PLTE", ThreeColours())}));
  try {
    image.Chunks.Find<TChunkPLTE>()->Item(3);
    FAIL();
  } catch (const EPngError& e) {
    EXPECT_EQ(e.Message, EPngUnknownPalEntryText);
  }
}

TEST(PngTransparency, PaletteWithOneFullyTransparentEntryIsBitTransparent) {
  TPNGObject image;
  Read(image, MakePng(Header(3, 1, 8, 3), PaletteRows(3, 1),
                      {Chunk("PLTE", ThreeColours()), Chunk("tRNS", {255, 0})}));
  EXPECT_TRUE(image.Chunks.Find<TChunktRNS>()->SingleTransparent);
  EXPECT_EQ(image.TransparencyMode(), ptmBit);
  EXPECT_EQ(image.TransparentKey(), 0x00FF00);
  EXPECT_TRUE(image.QueryTransparent());
}

TEST(PngTransparency, PaletteWithSeveralTranslucentEntriesIsPartiallyTransparent) {
  TPNGObject image;
  Read(image, MakePng(Header(3, 1, 8, 3), PaletteRows(3, 1),
                      {Chunk("PLTE", ThreeColours()), Chunk("tRNS", {0, 128})}));
  EXPECT_FALSE(image.Chunks.Find<TChunktRNS>()->SingleTransparent);
  EXPECT_EQ(image.TransparencyMode(), ptmPartial);
  EXPECT_EQ(image.AlphaAt(1, 0), 128);
  EXPECT_EQ(image.AlphaAt(2, 0), 255);
}

TEST(PngTransparency, PaletteWithOneHalfTransparentEntryIsBlendedNotKeyed) {
  TPNGObject image;
  Read(image,
       MakePng(Header(3, 1, 8, 3), PaletteRows(3, 1), {Chunk("PLTE", ThreeColours()), Chunk("tRNS", {128})}));
  EXPECT_TRUE(image.Chunks.Find<TChunktRNS>()->SingleTransparent);
  EXPECT_EQ(image.TransparencyMode(), ptmPartial);
}

TEST(PngTransparency, GreyKeyIsTheColourOfTheKeySample) {
  TPNGObject image;
  Read(image, MakePng(Header(4, 3, 8, 0), GreyRows(4, 3), {Chunk("tRNS", {0, 5})}));
  EXPECT_EQ(image.TransparencyMode(), ptmBit);
  EXPECT_EQ(image.TransparentKey(), 0x050505);
  EXPECT_EQ(image.AlphaAt(2, 1), 0);  // 2 + 3 = 5
  EXPECT_EQ(image.AlphaAt(1, 1), 255);
}

TEST(PngTransparency, OpaqueImagesWithoutTransparencyChunkAreNotTransparent) {
  TPNGObject image;
  Read(image, GreyFile());
  EXPECT_EQ(image.TransparencyMode(), ptmNone);
  EXPECT_FALSE(image.QueryTransparent());
}

TEST(PngGamma, GammaOfOneOver2Point2GivesTheIdentityUpToRounding) {
  TPNGObject image;
  Read(image, GreyFile(4, 3, {Chunk("gAMA", {0, 0, 0xB1, 0x8F})}));  // 45455
  EXPECT_EQ(image.Chunks.Find<TChunkgAMA>()->GammaValue, 45455u);
  for (int i = 0; i < 256; ++i) EXPECT_LE(std::abs(int(image.GammaMap[i]) - i), 1) << i;
}

TEST(PngGamma, GammaValueZeroLeavesTheMapsUnchanged) {
  TPNGObject image;
  Read(image, GreyFile(4, 3, {Chunk("gAMA", {0, 0, 0, 0})}));
  for (int i = 0; i < 256; ++i) EXPECT_EQ(image.GammaMap[i], i);
  ExpectGreyPixels(image, 4, 3);
}

TEST(PngGamma, GammaMapsPaletteColoursReadAfterIt) {
  TPNGObject image;
  Read(image, MakePng(Header(3, 1, 8, 3), PaletteRows(3, 1),
                      {Chunk("gAMA", {0, 0x01, 0x86, 0xA0}), Chunk("PLTE", {128, 0, 0, 0, 0, 0, 0, 0, 0})}));
  const int expected = int(std::nearbyint(std::pow(128 / 255.0, 1 / 2.2) * 255));
  EXPECT_EQ(image.PixelAt(0, 0), expected);
  EXPECT_EQ(image.InverseGammaMap[image.GammaMap[128]], 128);
}

TEST(PngGamma, GammaChunkOfTheWrongSizeIsIgnored) {
  TPNGObject image;
  Read(image, GreyFile(4, 3, {Chunk("gAMA", {0, 1})}));
  ExpectGreyPixels(image, 4, 3);
}

// ---------------------------------------------------------------------------------------------------------
// Ancillary text and information chunks

TEST(PngText, TextChunkSplitsKeywordAndText) {
  TPNGObject image;
  Read(image, GreyFile(4, 3, {Chunk("tEXt", {'T', 'i', 't', 'l', 'e', 0, 'S', 'n', 'o', 'w'})}));
  auto* t = image.Chunks.Find<TChunktEXt>();
  EXPECT_EQ(t->Keyword, "Title");
  EXPECT_EQ(t->Text, "Snow");
}

TEST(PngText, CompressedTextIsInflated) {
  Bytes data = {'K', 0, 0};
  pngtest::Append(data, pngtest::Compress(Bytes{'f', 'l', 'a', 'k', 'e'}));
  TPNGObject image;
  Read(image, GreyFile(4, 3, {Chunk("zTXt", data)}));
  auto* z = image.Chunks.Find<TChunkzTXt>();
  EXPECT_EQ(z->Keyword, "K");
  EXPECT_EQ(z->Text, "flake");
}

TEST(PngText, BrokenCompressedTextLeavesTheTextEmpty) {
  TPNGObject image;
  Read(image, GreyFile(4, 3, {Chunk("zTXt", {'K', 0, 0, 1, 2, 3, 4})}));
  EXPECT_EQ(image.Chunks.Find<TChunkzTXt>()->Text, "");
}

TEST(PngText, TimeAndPhysicalSizeAreDecoded) {
  TPNGObject image;
  Read(image, GreyFile(4, 3,
                       {Chunk("tIME", {0x07, 0xEA, 12, 24, 18, 30, 5}),
                        Chunk("pHYs", {0, 0, 0x0B, 0x13, 0, 0, 0x0B, 0x13, 1})}));
  auto* t = image.Chunks.Find<TChunktIME>();
  EXPECT_EQ(t->Year, 2026);
  EXPECT_EQ(t->Second, 5);
  EXPECT_EQ(image.Chunks.Find<TChunkpHYs>()->PPUnitX, 2835u);
  EXPECT_EQ(image.Chunks.Find<TChunkpHYs>()->UnitType, 1);
}

// ---------------------------------------------------------------------------------------------------------
// Image data over several chunks

TEST(PngImageData, DataSplitOverManySmallChunksDecodesTheSame) {
  TPNGObject image;
  Read(image, GreyFile(40, 30, {}, 7));
  ExpectGreyPixels(image, 40, 30);
}

TEST(PngImageData, ImageDataChunkAfterTheImageIsCompleteIsSkippedUnread) {
  Bytes junk = Chunk("IDAT", {1, 2, 3});
  junk.back() ^= 0xFF;
  TPNGObject image;
  Read(image, InsertBefore(GreyFile(), "IEND", junk));
  ExpectGreyPixels(image, 4, 3);
}

// One image data chunk much longer than a read block, whose rows are complete long before its end.
Bytes FileWithTrailingImageDataBytes() {
  Bytes z = pngtest::Compress(GreyRows(4, 3));
  z.resize(z.size() + 200000, 0xAA);
  Bytes f = pngtest::Signature();
  pngtest::Append(f, Chunk("IHDR", Header(4, 3, 8, 0)));
  pngtest::Append(f, Chunk("IDAT", z));
  pngtest::Append(f, Chunk("IEND", {}));
  return f;
}

TEST(PngImageData, RowsCompleteBeforeTheChunkEndsStillCheckTheChunkCrc) {
  TPNGObject image;
  Read(image, FileWithTrailingImageDataBytes());
  ExpectGreyPixels(image, 4, 3);
  Bytes f = FileWithTrailingImageDataBytes();
  f[ChunkOffset(f, "IEND") - 2] ^= 1;
  EXPECT_EQ(ReadError<EPngInvalidCRC>(f), EPngInvalidCRCText);
}

TEST(PngImageData, CorruptCrcOnTheSecondOfThreeImageChunksFails) {
  const Bytes raw = GreyRows(30, 30);
  const std::size_t z = pngtest::Compress(raw).size();
  Bytes f = MakePng(Header(30, 30, 8, 0), raw, {}, (z + 2) / 3);
  const std::size_t first = ChunkOffset(f, "IDAT");
  const std::size_t second = first + 12 + pngtest::GetBE32(&f[first]);
  f[second + 8 + pngtest::GetBE32(&f[second])] ^= 0x40;  // first CRC byte of the second chunk
  EXPECT_EQ(ReadError<EPngInvalidCRC>(f), EPngInvalidCRCText);
}

TEST(PngImageData, CorruptCrcOnTheLastImageChunkFails) {
  Bytes f = GreyFile();
  f[ChunkOffset(f, "IEND") - 1] ^= 1;
  EXPECT_EQ(ReadError<EPngInvalidCRC>(f), EPngInvalidCRCText);
}

TEST(PngImageData, ImageDataInterruptedByTextFailsWithMissingParts) {
  const Bytes raw = GreyRows(30, 30);
  Bytes f = MakePng(Header(30, 30, 8, 0), raw, {}, 20);
  const std::size_t first = ChunkOffset(f, "IDAT");
  const Bytes text = Chunk("tEXt", {'a', 0, 'b'});
  f.insert(f.begin() + long(first + 12 + 20), text.begin(), text.end());
  EXPECT_EQ(ReadError<EPNGMissingMultipleIDAT>(f), EPngMissingMultipleIDATText);
}

TEST(PngImageData, InvalidCompressedDataFailsWithTheZlibDescription) {
  Bytes f = pngtest::Signature();
  pngtest::Append(f, Chunk("IHDR", Header(2, 2, 8, 0)));
  pngtest::Append(f, Chunk("IDAT", {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF}));
  pngtest::Append(f, Chunk("IEND", {}));
  EXPECT_EQ(ReadError<EPNGZLIBError>(f), std::string(EPngZLIBErrorText) + "data error (-3)");
}

// A 4 x 3 grey file whose first image data chunk holds a complete compressed stream of `rows` followed by
// `after`; each of `more` becomes one more image data chunk; then IEND.
Bytes ShortStreamFile(const Bytes& rows, const Bytes& after, const std::vector<Bytes>& more = {}) {
  Bytes data = pngtest::Compress(rows);
  pngtest::Append(data, after);
  Bytes f = pngtest::Signature();
  pngtest::Append(f, Chunk("IHDR", Header(4, 3, 8, 0)));
  pngtest::Append(f, Chunk("IDAT", data));
  for (const Bytes& m : more) pngtest::Append(f, Chunk("IDAT", m));
  pngtest::Append(f, Chunk("IEND", {}));
  return f;
}

TEST(PngImageData, CompleteButShortCompressedStreamBeforeIendFailsWithMissingParts) {
  // The rows run out at the end of the chunk: the next chunk would have to be image data, and is IEND.
  TPNGObject image;
  EXPECT_EQ(ReadError<EPNGMissingMultipleIDAT>(ShortStreamFile(GreyRows(4, 2), {}), &image),
            EPngMissingMultipleIDATText);
  EXPECT_EQ(image.PixelAt(3, 1), 0x060606);  // the rows that arrived stay
}

TEST(PngImageData, CompressedStreamEndingWithBytesLeftInTheChunkFails) {
  // More input cannot make the ended stream give the missing row: decoding stops instead of waiting.
  EXPECT_EQ(ReadError<EPNGZLIBError>(ShortStreamFile(GreyRows(4, 2), {1, 2, 3})),
            std::string(EPngZLIBErrorText) + "stream end (1)");
}

TEST(PngImageData, CompressedStreamEndingBeforeMoreImageDataFails) {
  EXPECT_EQ(ReadError<EPNGZLIBError>(ShortStreamFile(GreyRows(4, 2), {}, {{9, 9, 9, 9}})),
            std::string(EPngZLIBErrorText) + "stream end (1)");
}

TEST(PngImageData, FileEndingInsideTheImageDataKeepsTheRowsReadAndFailsWithTheCrcError) {
  const Bytes raw = GreyRows(64, 64);
  Bytes f = MakePng(Header(64, 64, 8, 0), raw);
  f.resize(ChunkOffset(f, "IDAT") + 8 + pngtest::Compress(raw).size() / 2);
  TPNGObject image;
  EXPECT_EQ(ReadError<EPngInvalidCRC>(f, &image), EPngInvalidCRCText);
  EXPECT_EQ(image.PixelAt(5, 0), 0x050505);  // the first row arrived
  EXPECT_EQ(image.PixelAt(5, 63), 0);        // the last did not
}

TEST(PngImageData, RowWithUnknownFilterByteIsStoredUnfiltered) {
  TPNGObject image;
  Read(image, MakePng(Header(4, 3, 8, 0), GreyRows(4, 3, 5)));
  ExpectGreyPixels(image, 4, 3);
}

TEST(PngImageData, OneByOneInterlacedImageDecodesItsOnlyPixel) {
  TPNGObject image;
  Read(image, MakePng(Header(1, 1, 8, 2, 1), Bytes{0, 10, 20, 30}));
  EXPECT_EQ(image.PixelAt(0, 0), 10 | (20 << 8) | (30 << 16));
}

TEST(PngImageData, ThreeByThreeInterlacedImageSkipsEmptyPasses) {
  // Passes with pixels for 3 x 3: 1 (1 px), 4 (1 px, rows 0), 5 (2 px, row 2), 6 (1 px, rows 0, 2), 7 (3 px,
  // row 1).
  Bytes raw = {0, 1, 0, 2, 0, 3, 4, 0, 5, 0, 6, 0, 7, 8, 9};
  TPNGObject image;
  Read(image, MakePng(Header(3, 3, 8, 0, 1), raw));
  const int expected[3][3] = {{1, 5, 2}, {7, 8, 9}, {3, 6, 4}};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(image.PixelAt(x, y) & 0xFF, expected[y][x]) << x << "," << y;
}

// ---------------------------------------------------------------------------------------------------------
// Image object

TEST(PngObject, EmptyImageHasNoHeaderAndNoSize) {
  TPNGObject image;
  EXPECT_TRUE(image.IsEmpty());
  EXPECT_EQ(image.ImageWidth(), 0);
  EXPECT_THROW(image.HeaderChunk(), EPNGHeaderNotPresent);
}

TEST(PngObject, ResizingBelowOnePixelFails) {
  TPNGObject image;
  Read(image, GreyFile());
  EXPECT_THROW(image.ResizeWidth(0), EPNGInvalidNewSize);
  EXPECT_THROW(image.ResizeHeight(-3), EPNGInvalidNewSize);
}

TEST(PngObject, ReadingAgainReplacesTheWholeImage) {
  TPNGObject image;
  Read(image, GreyFile(4, 3, {Chunk("gAMA", {0, 0, 0x40, 0})}));
  Read(image, GreyFile(2, 2));
  EXPECT_EQ(image.ImageWidth(), 2);
  EXPECT_EQ(image.GammaMap[100], 100);
  EXPECT_EQ(image.Chunks.Find<TChunkgAMA>(), nullptr);
}

TEST(PngObject, PixelsOutsideTheImageReadZeroAndIgnoreWrites) {
  TPNGObject image;
  Read(image, GreyFile());
  EXPECT_EQ(image.PixelAt(4, 0), 0);
  EXPECT_EQ(image.PixelAt(-1, 0), 0);
  image.SetPixelAt(9, 9, 0xFFFFFF);
  image.SetPixelAt(1, 1, 0x202020);
  EXPECT_EQ(image.PixelAt(1, 1), 0x202020);
}

TEST(PngObject, DecodingToBgraRefusesBrokenDataWithoutRaising) {
  int w = 0, h = 0;
  std::vector<std::uint8_t> px;
  const Bytes junk = {1, 2, 3};
  EXPECT_FALSE(DecodePngToBGRA(junk.data(), junk.size(), w, h, px));
  const Bytes f = GreyFile();
  ASSERT_TRUE(DecodePngToBGRA(f.data(), f.size(), w, h, px));
  EXPECT_EQ(w, 4);
  EXPECT_EQ(px.size(), 4u * 3 * 4);
  EXPECT_EQ(px[(1 * 4 + 2) * 4 + 0], 5);
  EXPECT_EQ(px[(1 * 4 + 2) * 4 + 3], 255);
}

}  // namespace
