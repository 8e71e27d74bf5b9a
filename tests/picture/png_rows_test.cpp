// Row reconstruction and sample conversion: filters at their edges, gamma maps, grey ramps and the row
// geometry of every colour type.
#include <gtest/gtest.h>

#include "picture/pngimage/PngCore.h"

namespace {

using Row = std::vector<std::uint8_t>;

Row Undo(std::uint8_t filter, Row x, const Row& prev, unsigned bpp) {
  png::UndoRowFilter(filter, x.data(), prev.data(), x.size(), bpp);
  return x;
}

TEST(PngRowFilter, SubAddsThePixelToTheLeftAndLeavesTheFirstPixel) {
  EXPECT_EQ(Undo(1, {10, 20, 1, 2, 250, 10}, Row(6, 99), 2), (Row{10, 20, 11, 22, 5, 32}));
}

TEST(PngRowFilter, UpAddsTheRowAbove) {
  EXPECT_EQ(Undo(2, {1, 2, 3}, {255, 10, 20}, 1), (Row{0, 12, 23}));
}

TEST(PngRowFilter, AverageSumsWithoutEightBitOverflow) {
  // (200 + 200) / 2 = 200, not (400 mod 256) / 2.
  EXPECT_EQ(Undo(3, {100, 0}, {200, 200}, 1), (Row{200, 200}));
}

TEST(PngRowFilter, AverageCountsBytesLeftOfTheFirstPixelAsZero) {
  EXPECT_EQ(Undo(3, {1, 1, 1}, {9, 9, 9}, 3), (Row{5, 5, 5}));
}

TEST(PngRowFilter, PaethPrefersLeftThenAboveOnTies) {
  // Second byte with left a (first byte after reconstruction), above b and upper-left c = prev[0].
  // a = b = c = 10: every distance 0 -> left.
  EXPECT_EQ(Undo(4, {0, 1}, {10, 10}, 1)[1], 11);
  // a = 12, b = 6, c = 10: distances 4, 2, 2 -> above wins its tie with upper-left.
  EXPECT_EQ(Undo(4, {2, 0}, {10, 6}, 1)[1], 6);
  // a = 7, b = 3, c = 3: left.
  EXPECT_EQ(Undo(4, {4, 0}, {3, 3}, 1)[1], 7);
  // a = 2, b = 10, c = 6: distances 4, 4, 0 -> upper-left.
  EXPECT_EQ(Undo(4, {-4 & 0xFF, 0}, {6, 10}, 1)[1], 6);
}

TEST(PngRowFilter, PaethOnTheFirstPixelTakesTheByteAbove) {
  EXPECT_EQ(Undo(4, {1, 2}, {40, 50}, 2), (Row{41, 52}));
}

TEST(PngRowFilter, UnknownFilterByteLeavesTheRow) {
  EXPECT_EQ(Undo(5, {1, 2, 3}, {9, 9, 9}, 1), (Row{1, 2, 3}));
}

TEST(PngRowGeometry, RowBytesFollowColourTypeAndDepth) {
  EXPECT_EQ(png::RowBytesFor(0, 1, 9), 2u);
  EXPECT_EQ(png::RowBytesFor(3, 2, 5), 2u);
  EXPECT_EQ(png::RowBytesFor(2, 16, 3), 18u);
  EXPECT_EQ(png::RowBytesFor(4, 8, 3), 6u);
  EXPECT_EQ(png::RowBytesFor(6, 16, 2), 16u);
}

TEST(PngRowGeometry, FilterOffsetIsBytesPerCompletePixel) {
  EXPECT_EQ(png::FilterOffsetFor(0, 16), 2u);
  EXPECT_EQ(png::FilterOffsetFor(0, 1), 1u);
  EXPECT_EQ(png::FilterOffsetFor(2, 8), 3u);
  EXPECT_EQ(png::FilterOffsetFor(4, 16), 4u);
  EXPECT_EQ(png::FilterOffsetFor(6, 16), 8u);
}

TEST(PngRowGeometry, StoreDepthWidensTwoBitAndNarrowsSixteenBit) {
  EXPECT_EQ(png::StoreBitsPerPixel(0, 2), 4u);
  EXPECT_EQ(png::StoreBitsPerPixel(4, 16), 8u);
  EXPECT_EQ(png::StoreBitsPerPixel(6, 8), 24u);
  EXPECT_EQ(png::StoreRowBytesFor(24, 5), 16u);
  EXPECT_EQ(png::StoreRowBytesFor(1, 33), 8u);
}

TEST(PngRowGeometry, AdamPassWidthsOfAThreePixelRow) {
  const std::uint32_t expected[7] = {1, 0, 1, 1, 2, 1, 3};
  for (int p = 0; p < 7; ++p) EXPECT_EQ(png::PassWidth(3, png::kAdam7[p]), expected[p]) << p;
}

TEST(PngGreyLevels, TwoBitSamplesLandOnExactQuarterLevels) {
  png::TByteMap g;
  png::IdentityMap(g);
  for (unsigned s = 0; s < 4; ++s) EXPECT_EQ(png::GreyRampLevel(png::GreySampleToIndex(s, 2), 16, g), s * 85);
}

TEST(PngGreyLevels, RampGoesThroughTheGammaMap) {
  png::TByteMap g, inv;
  png::IdentityMap(g);
  png::IdentityMap(inv);
  png::BuildGammaMaps(100000, g, inv);
  EXPECT_EQ(png::GreyRampLevel(1, 4, g), g[85]);
  EXPECT_EQ(png::GreyRampLevel(3, 4, g), 255);
}

TEST(PngGammaMap, EntriesAreRoundedToNearestAndInverted) {
  // Value 50000 gives exponent 1/1.1: entry 1 = 255 * (1/255)^(1/1.1) = 1.65... -> 2.
  png::TByteMap g, inv;
  png::IdentityMap(g);
  png::IdentityMap(inv);
  png::BuildGammaMaps(50000, g, inv);
  EXPECT_EQ(g[0], 0);
  EXPECT_EQ(g[1], 2);
  EXPECT_EQ(g[255], 255);
  EXPECT_EQ(inv[g[200]], 200);
}

TEST(PngCrc, ChunkCrcMatchesTheStandardValueOfIend) {
  EXPECT_EQ(png::ChunkCrc("IEND", nullptr, 0), 0xAE426082u);
}

TEST(PngHeaderCheck, ProblemsAreReportedInReadingOrder) {
  png::THeaderFields h;
  h.Width = 70000;
  h.CompressionMethod = 1;
  EXPECT_EQ(png::CheckHeader(h, 12), png::THeaderProblem::TooShort);
  EXPECT_EQ(png::CheckHeader(h, 13), png::THeaderProblem::SizeExceeds);
  h.Width = 1;
  h.Height = 1;
  EXPECT_EQ(png::CheckHeader(h, 13), png::THeaderProblem::UnknownCompression);
  h.CompressionMethod = 0;
  h.InterlaceMethod = 2;
  EXPECT_EQ(png::CheckHeader(h, 13), png::THeaderProblem::UnknownInterlace);
  h.InterlaceMethod = 0;
  h.BitDepth = 8;
  h.ColorType = 1;
  EXPECT_EQ(png::CheckHeader(h, 13), png::THeaderProblem::BadFormat);
  h.ColorType = 6;
  EXPECT_EQ(png::CheckHeader(h, 13), png::THeaderProblem::None);
}

}  // namespace
