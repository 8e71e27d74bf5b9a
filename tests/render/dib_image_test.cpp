// Pixel access, sharing, sizing, alpha, layout arithmetic and run-length robustness of TDIB.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "render/DIB.h"
#include "support/Errors.h"

namespace {

// A 32-bit image whose pixel (x, y) holds bytes (x, y, 7, alpha(x, y)).
void Fill32(TDIB& dib, int w, int h, const std::function<std::uint8_t(int, int)>& alpha) {
  dib.PixelFormat = MakeDIBPixelFormat(8, 8, 8);
  dib.SetSize(w, h, 32);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = dib.Row(y);
    for (int x = 0; x < w; ++x) {
      row[4 * x] = static_cast<std::uint8_t>(x);
      row[4 * x + 1] = static_cast<std::uint8_t>(y);
      row[4 * x + 2] = 7;
      row[4 * x + 3] = alpha(x, y);
    }
  }
}

// ---- rows

TEST(DIBRows, RowOutsideTheImageNamesTheIndex) {
  TDIB dib;
  dib.SetSize(3, 5, 8);
  EXPECT_EQ("Index of the scanning line exceeded the range. (5)",
            MessageOf<EInvalidGraphicOperation>([&] { dib.Row(5); }));
  EXPECT_EQ("Index of the scanning line exceeded the range. (-1)",
            MessageOf<EInvalidGraphicOperation>([&] { dib.RowReadOnly(-1); }));
}

TEST(DIBRows, RowsLieBottomUpInMemoryWithTheStride) {
  TDIB dib;
  dib.SetSize(5, 3, 24);
  EXPECT_EQ(16, dib.Stride());
  EXPECT_EQ(-16, dib.RowStep());
  EXPECT_EQ(48, dib.Size());
  EXPECT_EQ(dib.Image().Bits, dib.Row(2));
  EXPECT_EQ(dib.Image().TopRow, dib.Row(0));
  EXPECT_EQ(16, dib.Row(1) - dib.Row(2));
}

// ---- sharing

TEST(DIBSharing, AssigningSharesTheBody) {
  TDIB a, b;
  Fill32(a, 4, 4, [](int, int) { return 0; });
  b.Assign(&a);
  EXPECT_EQ(&a.Image(), &b.Image());
  EXPECT_EQ(2, a.Image().RefCount());
}

TEST(DIBSharing, WritingARowGivesAPrivateCopyAndLeavesTheOtherUnchanged) {
  TDIB a, b;
  Fill32(a, 4, 4, [](int, int) { return 0; });
  b.Assign(&a);
  b.Row(1)[0] = 99;
  EXPECT_NE(&a.Image(), &b.Image());
  EXPECT_EQ(0, a.RowReadOnly(1)[0]);
  EXPECT_EQ(99, b.RowReadOnly(1)[0]);
  EXPECT_EQ(2, b.RowReadOnly(2)[0 + 1]);  // the rest was copied
}

TEST(DIBSharing, ReadingRowsDoesNotCopyASharedBody) {
  TDIB a, b;
  Fill32(a, 4, 4, [](int, int) { return 0; });
  b.Assign(&a);
  b.RowReadOnly(0);
  EXPECT_EQ(&a.Image(), &b.Image());
}

// ---- sizing

TEST(DIBSize, ZeroOrNegativeSizeMakesTheImageEmpty) {
  TDIB dib;
  dib.SetSize(4, 4, 8);
  dib.SetSize(0, 4, 8);
  EXPECT_TRUE(dib.IsEmpty());
  dib.SetSize(4, 4, 8);
  dib.SetSize(4, -1, 8);
  EXPECT_TRUE(dib.IsEmpty());
}

TEST(DIBSize, UnchangedSizeKeepsTheBody) {
  TDIB dib;
  dib.SetSize(4, 4, 8);
  const TDIBSharedImage* body = &dib.Image();
  dib.SetSize(4, 4, 8);
  EXPECT_EQ(body, &dib.Image());
}

TEST(DIBSize, NewSizeGivesZeroedPixelsWithThePendingColourTable) {
  TDIB dib;
  dib.ColorTable[3] = {1, 2, 3, 0};
  dib.SetSize(4, 2, 8);
  EXPECT_EQ(0, dib.RowReadOnly(0)[0]);
  EXPECT_EQ((TRGBQuad{1, 2, 3, 0}), dib.Image().ColorTable[3]);
  EXPECT_EQ(40 + 1024, dib.Image().BitmapInfoSize);
}

// ---- alpha

TEST(DIBAlpha, AllZeroAlphaIsNoAlphaChannel) {
  TDIB dib;
  Fill32(dib, 3, 3, [](int, int) { return 0; });
  EXPECT_FALSE(dib.HasAlpha());
  EXPECT_EQ(nullptr, dib.ExtractAlpha());
}

TEST(DIBAlpha, OneNonZeroAlphaByteIsAnAlphaChannel) {
  TDIB dib;
  Fill32(dib, 3, 3, [](int x, int y) { return x == 2 && y == 2 ? 1 : 0; });
  EXPECT_TRUE(dib.HasAlpha());
}

TEST(DIBAlpha, ExtractAlphaGivesAnEightBitImageOfTheAlphaBytes) {
  TDIB dib;
  Fill32(dib, 5, 3, [](int x, int y) { return static_cast<std::uint8_t>(10 * x + y); });
  TDIB* alpha = dib.ExtractAlpha();
  ASSERT_NE(nullptr, alpha);
  EXPECT_EQ(8, alpha->BitCount());
  EXPECT_EQ(5, alpha->Width());
  EXPECT_EQ(3, alpha->Height());
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(10 * x + y, alpha->RowReadOnly(y)[x]) << x << "," << y;
}

// ---- pixel formats and layout

TEST(DIBPixelFormat, MasksCountOnlyTheirRunOfBits) {
  EXPECT_EQ(MakeDIBPixelFormat(5, 5, 5), MakeDIBPixelFormatMask(0x1F, 0x3E0, 0x7C00));
  TDIBPixelFormat wide = MakeDIBPixelFormatMask(0xFFFFFFFF, 0, 0);
  EXPECT_EQ(32, wide.RBitCount);
  EXPECT_EQ(0xFFFFFFFFu, wide.RBitMask);
}

TEST(DIBLayout, RefusesEmptyAndOverflowingSizes) {
  std::int32_t stride = 0, size = 0;
  EXPECT_FALSE(ComputeDIBLayout(0, 1, 8, stride, size));
  EXPECT_FALSE(ComputeDIBLayout(1, -1, 8, stride, size));
  EXPECT_FALSE(ComputeDIBLayout(0x20000000, 1, 32, stride, size));
  EXPECT_FALSE(ComputeDIBLayout(46341, 46341, 8, stride, size));
  EXPECT_TRUE(ComputeDIBLayout(46340, 46340, 8, stride, size));
}

// ---- run-length expansion stays inside its buffer (the sanitizer build checks the bounds)

std::vector<std::uint8_t> Expand(const std::vector<std::uint8_t>& rle, int bits, int w, int h) {
  std::int32_t stride = 0, size = 0;
  EXPECT_TRUE(ComputeDIBLayout(w, h, bits, stride, size));
  std::vector<std::uint8_t> out(static_cast<std::size_t>(size));
  ExpandDIBRLE(rle.data(), rle.size(), bits, out.data(), w, h, stride);
  return out;
}

TEST(DIBRunLength, RunsPastTheRightEdgeAreClipped) {
  auto out = Expand({255, 4, 0, 1}, 8, 3, 1);
  EXPECT_EQ((std::vector<std::uint8_t>{4, 4, 4, 0}), out);
}

TEST(DIBRunLength, DeltaBeyondTheTopEndsTheImage) {
  auto out = Expand({0, 2, 0, 200, 5, 9}, 8, 4, 2);
  EXPECT_EQ(std::vector<std::uint8_t>(8, 0), out);
}

TEST(DIBRunLength, AbsoluteRunPastTheEdgeIsClippedAndPaddingSkipped) {
  auto out = Expand({0, 3, 1, 2, 3, 0, 0, 0, 1, 8}, 8, 2, 2);
  EXPECT_EQ(1, out[0]);
  EXPECT_EQ(2, out[1]);
  EXPECT_EQ(8, out[4]);  // after end of line: next row
}

TEST(DIBRunLength, Rle4OddRunOnOddWidthStaysInItsRow) {
  auto out = Expand({7, 0xAB, 0, 0, 1, 0xC0}, 4, 3, 2);
  EXPECT_EQ(0xAB, out[0]);
  EXPECT_EQ(0xA0, out[1]);
  EXPECT_EQ(0xC0, out[4]);
}

}  // namespace
