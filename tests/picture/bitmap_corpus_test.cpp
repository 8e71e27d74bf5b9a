// The public bitmap suites: good files draw the picture their formats encode, questionable and bad files
// never crash and fail, when they fail, with one of the reader's errors.
#include <filesystem>

#include "graphics_fixture.h"
#include "picture/BitmapImage.h"

using namespace picture_test;

namespace {

// The suite's reference picture, read straight from its plain 24-bit file (bottom-up rows of blue, green,
// red) without the reader under test.
Pixels Reference24(const std::string& path) {
  const auto d = ReadFileBytes(path);
  Pixels p;
  if (d.size() < 54) return p;
  auto le32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) | (d[at + 3] << 24));
  };
  p.Width = static_cast<int>(le32(18));
  p.Height = static_cast<int>(le32(22));
  const std::size_t off = le32(10), stride = ((static_cast<std::size_t>(p.Width) * 3 + 3) / 4) * 4;
  for (int y = 0; y < p.Height; ++y) {
    const std::size_t row = off + (static_cast<std::size_t>(p.Height - 1 - y)) * stride;
    for (int x = 0; x < p.Width; ++x) {
      const std::size_t at = row + 3 * static_cast<std::size_t>(x);
      p.Px.push_back(static_cast<std::uint32_t>(d[at] | (d[at + 1] << 8) | (d[at + 2] << 16)));
    }
  }
  return p;
}

Pixels LoadAndRender(const std::string& path) {
  TBitmap b;
  b.LoadFromFile(path);
  return Render(b);
}

// Largest per-channel difference between two pictures of one size.
int MaxChannelDifference(const Pixels& a, const Pixels& b) {
  int worst = 0;
  for (std::size_t i = 0; i < a.Px.size(); ++i)
    for (int shift = 0; shift < 24; shift += 8) {
      const int d =
          std::abs(static_cast<int>((a.Px[i] >> shift) & 0xFF) - static_cast<int>((b.Px[i] >> shift) & 0xFF));
      worst = std::max(worst, d);
    }
  return worst;
}

std::vector<std::string> FilesIn(const std::string& dir) {
  return TestDataFiles(Corpus(dir), ".bmp");
}

class BitmapSuiteTest : public PictureTest {};

}  // namespace

TEST_F(BitmapSuiteTest, PlainTrueColourFileDrawsItsPixels) {
  const std::string path = Corpus("bmpsuite/g/rgb24.bmp");
  EXPECT_EQ(LoadAndRender(path).Px, Reference24(path).Px);
}

TEST_F(BitmapSuiteTest, OtherTrueColourEncodingsDrawTheSamePicture) {
  const Pixels ref = Reference24(Corpus("bmpsuite/g/rgb24.bmp"));
  for (const char* name : {"rgb24pal", "rgb32", "rgb32bf", "rgb32bfdef"}) {
    const Pixels p = LoadAndRender(Corpus(std::string("bmpsuite/g/") + name + ".bmp"));
    EXPECT_EQ(p.Px, ref.Px) << name;
  }
}

TEST_F(BitmapSuiteTest, SixteenBitEncodingsDrawThePictureWithinTheirPrecision) {
  const Pixels ref = Reference24(Corpus("bmpsuite/g/rgb24.bmp"));
  for (const char* name : {"rgb16", "rgb16bfdef", "rgb16-565", "rgb16-565pal"}) {
    const Pixels p = LoadAndRender(Corpus(std::string("bmpsuite/g/") + name + ".bmp"));
    ASSERT_EQ(p.Px.size(), ref.Px.size()) << name;
    // Five bits per channel lose the low three bits (and the expansion may differ by one step).
    EXPECT_LE(MaxChannelDifference(p, ref), 8) << name;
  }
}

TEST_F(BitmapSuiteTest, IndexedEncodingsOfOnePictureDrawAlike) {
  const Pixels ref = LoadAndRender(Corpus("bmpsuite/g/pal8.bmp"));
  for (const char* name : {"pal8-0", "pal8os2", "pal8rle", "pal8topdown", "pal8v4", "pal8v5"}) {
    EXPECT_EQ(LoadAndRender(Corpus(std::string("bmpsuite/g/") + name + ".bmp")).Px, ref.Px) << name;
  }
  EXPECT_EQ(LoadAndRender(Corpus("bmpsuite/g/pal4rle.bmp")).Px,
            LoadAndRender(Corpus("bmpsuite/g/pal4.bmp")).Px);
}

TEST_F(BitmapSuiteTest, PixelsAfterAGapBehindTheColourTableStartAtTheHeadersOffset) {
  EXPECT_EQ(LoadAndRender(Corpus("bmpsuite/q/pal8offs.bmp")).Px,
            LoadAndRender(Corpus("bmpsuite/g/pal8.bmp")).Px);
}

TEST_F(BitmapSuiteTest, EveryGoodFileLoadsWithItsSize) {
  for (const auto& path : FilesIn("bmpsuite/g")) {
    TBitmap b;
    EXPECT_NO_THROW(b.LoadFromFile(path)) << path;
    EXPECT_GT(b.Width(), 0) << path;
    EXPECT_GT(b.Height(), 0) << path;
    EXPECT_NO_THROW(Render(b)) << path;
  }
}

TEST_F(BitmapSuiteTest, CoreHeaderFilesLoadAtTheirSize) {
  for (const char* bits : {"1", "4", "8"}) {
    TBitmap b;
    b.LoadFromFile(Corpus(std::string("imagers-bmp-ico/bmp/Core_") + bits + "_Bit.bmp"));
    EXPECT_EQ(b.Width(), 435) << bits;
    EXPECT_EQ(b.Height(), 353) << bits;
  }
}

TEST_F(BitmapSuiteTest, TopDownFilesDrawLikeTheirBottomUpTwins) {
  int pairs = 0;
  for (const auto& path : FilesIn("imagers-bmp-ico/bmp")) {
    const std::string suffix = "_Top_Down.bmp";
    if (path.size() < suffix.size() || path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    const std::string twin = path.substr(0, path.size() - suffix.size()) + ".bmp";
    EXPECT_EQ(LoadAndRender(path).Px, LoadAndRender(twin).Px) << path;
    ++pairs;
  }
  EXPECT_GE(pairs, 8);
}

TEST_F(BitmapSuiteTest, QuestionableFilesLoadOrFailCleanly) {
  for (const std::string dir :
       {"bmpsuite/q", "bmpsuite/x", "imagers-bmp-ico/bmp-lenient", "imagers-bmp-ico/bmp"}) {
    for (const auto& path : FilesIn(dir)) {
      TBitmap b;
      try {
        b.LoadFromFile(path);
        Render(b);
      } catch (const Exception&) {
        // a clean refusal
      }
    }
  }
}

TEST_F(BitmapSuiteTest, BadFilesNeverCrashAndTheImpossibleOnesAreRefused) {
  // One file is run-length data for a 2554 x 18803 picture: valid within the default limit, refused within
  // the lower one fuzzing uses, which keeps this test quick.
  const std::size_t limit = MaxBitmapBytes();
  SetMaxBitmapBytes(std::size_t{16} << 20);
  for (const std::string dir : {"bmpsuite/b", "imagers-bmp-ico/bmp-bad"}) {
    for (const auto& path : FilesIn(dir)) {
      TBitmap b;
      try {
        b.LoadFromFile(path);
        Render(b);
      } catch (const Exception&) {
      }
    }
  }
  for (const char* name : {"badbitcount", "badplanes", "badwidth", "reallybig", "rletopdown"}) {
    TBitmap b;
    EXPECT_THROW(b.LoadFromFile(Corpus(std::string("bmpsuite/b/") + name + ".bmp")), EInvalidGraphic) << name;
  }
  for (const char* name : {"Bad_height", "Bad_width", "Bad_unusual_extend_buffer_usage"}) {
    TBitmap b;
    EXPECT_THROW(b.LoadFromFile(Corpus(std::string("imagers-bmp-ico/bmp-bad/") + name + ".bmp")), Exception)
        << name;
  }
  SetMaxBitmapBytes(limit);
}
