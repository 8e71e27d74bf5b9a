// The program's icon file (app/desktop-snow.ico, compiled into the Windows exe): a well-formed icon
// directory the shell can read at every size it asks for, images whose mask agrees with their alpha, and a
// picture the program's own icon reader draws as a snowflake.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "picture/graphics_fixture.h"

using namespace picture_test;

namespace {

const int kSizes[] = {16, 24, 32, 48, 64};

std::string IconPath() {
  return std::string(DS_SOURCE_DIR) + "/app/desktop-snow.ico";
}

std::uint32_t U16(const std::vector<std::uint8_t>& d, std::size_t at) {
  return d[at] | (d[at + 1] << 8);
}

std::uint32_t U32(const std::vector<std::uint8_t>& d, std::size_t at) {
  return U16(d, at) | (U16(d, at + 2) << 16);
}

struct Entry {
  int Width, Height, Planes, BitCount;
  std::uint32_t Size, Offset;
};

// A 32-bit icon image split into top-down pixels (blue, green, red, alpha) and mask bits.
struct Image {
  int Size = 0;
  std::vector<std::uint8_t> Bgra;  // top row first
  std::vector<bool> Masked;        // top row first; true = transparent in the AND mask
  const std::uint8_t* At(int x, int y) const { return &Bgra[(static_cast<std::size_t>(y) * Size + x) * 4]; }
};

class ProgramIcon : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = ReadFileBytes(IconPath());
    ASSERT_GE(data_.size(), 6u) << IconPath();
    const std::size_t count = U16(data_, 4);
    ASSERT_GE(data_.size(), 6 + 16 * count);
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t e = 6 + 16 * i;
      entries_.push_back({data_[e] ? data_[e] : 256, data_[e + 1] ? data_[e + 1] : 256,
                          static_cast<int>(U16(data_, e + 4)), static_cast<int>(U16(data_, e + 6)),
                          U32(data_, e + 8), U32(data_, e + 12)});
    }
  }

  // Decodes entry i; the directory tests have checked that it lies inside the file.
  Image Decode(std::size_t i) const {
    const Entry& e = entries_[i];
    Image img;
    img.Size = e.Width;
    const std::size_t n = static_cast<std::size_t>(e.Width);
    const std::size_t colour = e.Offset + 40;
    const std::size_t maskStride = ((n + 31) / 32) * 4;
    const std::size_t mask = colour + n * n * 4;
    img.Bgra.resize(n * n * 4);
    img.Masked.resize(n * n);
    for (std::size_t y = 0; y < n; ++y) {
      const std::size_t row = n - 1 - y;  // stored bottom-up
      std::memcpy(&img.Bgra[y * n * 4], &data_[colour + row * n * 4], n * 4);
      for (std::size_t x = 0; x < n; ++x)
        img.Masked[y * n + x] = (data_[mask + row * maskStride + x / 8] & (0x80 >> (x % 8))) != 0;
    }
    return img;
  }

  std::vector<std::uint8_t> data_;
  std::vector<Entry> entries_;
};

// ---- Directory ----

TEST_F(ProgramIcon, DirectoryIsAnIconWithOneImagePerShellSize) {
  EXPECT_EQ(0u, U16(data_, 0));
  EXPECT_EQ(1u, U16(data_, 2));  // icon, not cursor
  ASSERT_EQ(std::size(kSizes), entries_.size());
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    EXPECT_EQ(kSizes[i], entries_[i].Width);
    EXPECT_EQ(kSizes[i], entries_[i].Height);
    EXPECT_EQ(1, entries_[i].Planes);
    EXPECT_EQ(32, entries_[i].BitCount);
  }
}

TEST_F(ProgramIcon, EveryImageLiesInsideTheFileAfterTheDirectoryWithoutOverlap) {
  std::uint64_t next = 6 + 16 * entries_.size();
  for (const Entry& e : entries_) {
    EXPECT_GE(e.Offset, next);
    next = std::uint64_t(e.Offset) + e.Size;
    EXPECT_LE(next, data_.size());
  }
  EXPECT_EQ(next, data_.size()) << "trailing bytes after the last image";
}

TEST_F(ProgramIcon, ImageHeadersDescribeColourPlusMaskOfTheirEntrySize) {
  for (const Entry& e : entries_) {
    ASSERT_LE(std::uint64_t(e.Offset) + 40, data_.size());
    const std::size_t h = e.Offset;
    const std::uint32_t n = static_cast<std::uint32_t>(e.Width);
    EXPECT_EQ(40u, U32(data_, h));
    EXPECT_EQ(n, U32(data_, h + 4));
    EXPECT_EQ(2 * n, U32(data_, h + 8)) << "height counts colour and mask";
    EXPECT_EQ(1u, U16(data_, h + 12));
    EXPECT_EQ(32u, U16(data_, h + 14));
    EXPECT_EQ(0u, U32(data_, h + 16)) << "uncompressed";
    EXPECT_EQ(40 + n * n * 4 + ((n + 31) / 32) * 4 * n, e.Size);
  }
}

// ---- Pixels ----

TEST_F(ProgramIcon, MaskMarksExactlyTheFullyTransparentPixels) {
  // Without alpha blending only the mask decides what is transparent; the two must agree.
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const Image img = Decode(i);
    for (int y = 0; y < img.Size; ++y)
      for (int x = 0; x < img.Size; ++x)
        ASSERT_EQ(img.At(x, y)[3] == 0, img.Masked[static_cast<std::size_t>(y) * img.Size + x])
            << "size " << img.Size << " at " << x << "," << y;
  }
}

TEST_F(ProgramIcon, CornersAreTransparentAndTheDiscIsOpaque) {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const Image img = Decode(i);
    const int last = img.Size - 1, c = img.Size / 2;
    for (auto [x, y] : {std::pair{0, 0}, {last, 0}, {0, last}, {last, last}})
      EXPECT_EQ(0, img.At(x, y)[3]) << "size " << img.Size;
    for (auto [x, y] : {std::pair{c, c}, {c, 2}, {2, c}, {c, last - 2}, {last - 2, c}})
      EXPECT_EQ(255, img.At(x, y)[3]) << "size " << img.Size << " at " << x << "," << y;
  }
}

TEST_F(ProgramIcon, FlakeIsWhiteOnABlueDisc) {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const Image img = Decode(i);
    const int c = img.Size / 2;
    const std::uint8_t* hub = img.At(c, c);
    for (int k = 0; k < 3; ++k) EXPECT_GE(hub[k], 0xF0) << "size " << img.Size;
    // Straight left of the hub lies between two arms: only the disc shows there.
    const std::uint8_t* gap = img.At(img.Size / 8 + 1, c);
    EXPECT_GT(gap[0], gap[2]) << "blue above red, size " << img.Size;
    EXPECT_LT(gap[2], 0x90) << "size " << img.Size;
  }
}

// ---- Through the program's own reader ----

class ProgramIconReading : public PictureTest {};

TEST_F(ProgramIconReading, LoadsAndDrawsTheFlakeOverTheBackground) {
  TIcon icon;
  icon.LoadFromFile(IconPath());
  ASSERT_GT(icon.Width(), 0);
  ASSERT_EQ(icon.Width(), icon.Height());
  const std::uint32_t fill = 0x00808080;
  const Pixels p = Render(icon, fill);
  const int c = icon.Width() / 2, last = icon.Width() - 1;
  EXPECT_EQ(fill, p.At(0, 0)) << "transparent corner keeps the background";
  EXPECT_EQ(fill, p.At(last, last));
  const std::uint32_t hub = p.At(c, c);
  EXPECT_GE(hub & 0xFF, 0xF0u);
  EXPECT_GE((hub >> 8) & 0xFF, 0xF0u);
  EXPECT_GE((hub >> 16) & 0xFF, 0xF0u);
}

}  // namespace
