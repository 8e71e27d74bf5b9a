// Icons: the header check, the directory entry choice, lazy handles, drawing at their own size, and entries
// stored as PNG.
#include <filesystem>

#include "graphics_fixture.h"
#include "support/Errors.h"

using namespace picture_test;

namespace {

TIconDirEntryInfo E(int w, int h, int colors = 0) {
  return TIconDirEntryInfo{w, h, colors, 1, 32};
}

// A one-entry icon file with a 2x2 32-bit image: colour rows (bottom-up) then an all-zero mask.
std::vector<std::uint8_t> MakeIcon(std::uint16_t type, std::uint32_t argb = 0xFF123456) {
  Bytes img;
  img.u32(40).u32(2).u32(4).u16(1).u16(32).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0);
  for (int i = 0; i < 4; ++i) img.u32(argb);
  for (int i = 0; i < 2; ++i) img.u32(0);  // mask rows, 32-bit aligned
  Bytes f;
  f.u16(0).u16(type).u16(1);
  f.u8(2).u8(2).u8(0).u8(0).u16(1).u16(32).u32(static_cast<std::uint32_t>(img.size())).u32(22);
  f.raw(img.v);
  return f.v;
}

class IconTest : public PictureTest {};

// An icon test on an 8-bit screen.
class IconOnPaletteScreenTest : public PictureTest {
 protected:
  static plat::soft::SoftOptions Options() {
    plat::soft::SoftOptions o;
    o.screenBitCount = 8;
    return o;
  }
  IconOnPaletteScreenTest() : PictureTest(Options()) {}
};

bool FakePngDecoder(const std::uint8_t* data, std::size_t size, int& w, int& h,
                    std::vector<std::uint8_t>& bgra) {
  if (size < 8 || data[1] != 'P') return false;
  w = h = 3;
  bgra.clear();
  for (int i = 0; i < 9; ++i) bgra.insert(bgra.end(), {0x00, 0x00, 0xFF, 0xFF});  // opaque red
  return true;
}

}  // namespace

// ---- Entry choice ----

TEST(IconEntryChoiceTest, PrefersTheExactSize) {
  EXPECT_EQ(ChooseIconEntry({E(16, 16), E(32, 32), E(48, 48)}, 32, 32, INT32_MAX), 1);
}

TEST(IconEntryChoiceTest, KeepsTheFirstOfEqualCandidatesOnlyWhenLaterOnesAreWorse) {
  EXPECT_EQ(ChooseIconEntry({E(32, 32), E(48, 48)}, 32, 32, INT32_MAX), 0);
  EXPECT_EQ(ChooseIconEntry({E(48, 48), E(32, 32)}, 32, 32, INT32_MAX), 1);
  EXPECT_EQ(ChooseIconEntry({E(32, 32), E(32, 32)}, 32, 32, INT32_MAX), 1);  // ties go to the later entry
}

TEST(IconEntryChoiceTest, SmallerWinsOverLargerAtTheSameDistance) {
  EXPECT_EQ(ChooseIconEntry({E(16, 16), E(48, 48)}, 32, 32, INT32_MAX), 0);
  EXPECT_EQ(ChooseIconEntry({E(48, 48), E(16, 16)}, 32, 32, INT32_MAX), 1);
}

TEST(IconEntryChoiceTest, LargerEntryReplacesOnlyAnEvenLargerBest) {
  EXPECT_EQ(ChooseIconEntry({E(64, 64), E(48, 48)}, 32, 32, INT32_MAX), 1);
  EXPECT_EQ(ChooseIconEntry({E(24, 24), E(40, 40)}, 32, 32, INT32_MAX), 0);
}

TEST(IconEntryChoiceTest, JudgesWidthAndHeightSeparately) {
  // The second entry is nearer in height but farther in width: not at least as good.
  EXPECT_EQ(ChooseIconEntry({E(32, 16), E(16, 32)}, 32, 32, INT32_MAX), 0);
  EXPECT_EQ(ChooseIconEntry({E(16, 16), E(32, 16)}, 32, 32, INT32_MAX), 1);
}

TEST(IconEntryChoiceTest, NeverTakesMoreColoursThanTheDisplayHas) {
  EXPECT_EQ(ChooseIconEntry({E(16, 16, 16), E(32, 32, 0)}, 32, 32, 256), 0);
  EXPECT_EQ(ChooseIconEntry({E(16, 16, 16), E(32, 32, 0)}, 32, 32, INT32_MAX), 1);
}

TEST(IconEntryChoiceTest, NeverTakesFewerColoursThanTheBest) {
  EXPECT_EQ(ChooseIconEntry({E(16, 16, 0), E(32, 32, 16)}, 32, 32, INT32_MAX), 0);
  EXPECT_EQ(ChooseIconEntry({E(32, 32, 16), E(32, 32, 255)}, 32, 32, 256), 1);
}

TEST(IconEntryChoiceTest, StoredZeroSizeCountsAsZero) {
  // A 256-pixel image is stored as 0 and judged as 0 by the rule.
  EXPECT_EQ(ChooseIconEntry({E(0, 0), E(16, 16)}, 32, 32, INT32_MAX), 1);
}

TEST(IconDisplayColorsTest, PowersOfTwoUpToEightBitsThenTheLargestValue) {
  EXPECT_EQ(IconDisplayColors(1, 4), 16);
  EXPECT_EQ(IconDisplayColors(1, 8), 256);
  EXPECT_EQ(IconDisplayColors(4, 1), 16);
  EXPECT_EQ(IconDisplayColors(1, 16), INT32_MAX);
  EXPECT_EQ(IconDisplayColors(1, 32), INT32_MAX);
}

// ---- Reading ----

TEST_F(IconTest, CursorTypeIsRefused) {
  TIcon icon;
  EXPECT_EQ(MessageOf([&] { LoadBytes(icon, MakeIcon(2)); }), "EInvalidGraphic: Icon image is not valid");
  EXPECT_EQ(MessageOf([&] { icon.LoadFromFile(Corpus("pillow-ico-jpeg/cur/deerstalker.cur")); }),
            "EInvalidGraphic: Icon image is not valid");
}

TEST_F(IconTest, UnknownTypeIsRefused) {
  TIcon icon;
  EXPECT_THROW(LoadBytes(icon, MakeIcon(7)), EInvalidGraphic);
}

TEST_F(IconTest, DataShorterThanTheHeaderIsAStreamReadError) {
  TIcon icon;
  EXPECT_EQ(MessageOf([&] { LoadBytes(icon, {0, 0, 1}); }), "EReadError: Stream read error");
}

TEST_F(IconTest, EntryOutsideTheDataIsRefused) {
  auto data = MakeIcon(1);
  data[14] = 0xFF;  // image size beyond the file
  TIcon icon;
  EXPECT_THROW(LoadBytes(icon, data), EInvalidGraphic);
  auto noDir = MakeIcon(1);
  noDir.resize(10);
  EXPECT_THROW(LoadBytes(icon, noDir), EInvalidGraphic);
}

// A broken 48x48 entry (its image lies past the end of the file) before a sound 2x2 one.
std::vector<std::uint8_t> IconWithABrokenFirstEntry() {
  const auto one = MakeIcon(1);
  const std::vector<std::uint8_t> image(one.begin() + 22, one.end());
  Bytes f;
  f.u16(0).u16(1).u16(2);
  f.u8(48).u8(48).u8(0).u8(0).u16(1).u16(32).u32(4000).u32(38);
  f.u8(2).u8(2).u8(0).u8(0).u16(1).u16(32).u32(static_cast<std::uint32_t>(image.size())).u32(38);
  f.raw(image);
  return f.v;
}

TEST_F(IconTest, BrokenEntryThatIsNotChosenDoesNotStopTheChosenOne) {
  TIcon icon;
  icon.SetRequestedSize(2, 2);
  LoadBytes(icon, IconWithABrokenFirstEntry());
  Target t(3, 3, 0x010101);
  t.Canvas().Draw(0, 0, &icon);
  EXPECT_EQ(icon.Width(), 2);
  EXPECT_EQ(t.Read().At(1, 1), 0x123456u);
}

TEST_F(IconTest, BrokenEntryThatIsChosenIsRefusedAtLoadOrWhenChosenLater) {
  TIcon icon;
  icon.SetRequestedSize(48, 48);
  EXPECT_EQ(MessageOf([&] { LoadBytes(icon, IconWithABrokenFirstEntry()); }),
            "EInvalidGraphic: Icon image is not valid");
  TIcon later;
  later.SetRequestedSize(2, 2);
  LoadBytes(later, IconWithABrokenFirstEntry());
  later.SetRequestedSize(48, 48);
  EXPECT_EQ(MessageOf([&] { later.Handle(); }), "EInvalidGraphic: Icon image is not valid");
}

TEST_F(IconTest, TypeZeroUsesTheStockApplicationIcon) {
  TIcon icon;
  LoadBytes(icon, {0, 0, 0, 0, 0, 0});
  EXPECT_FALSE(icon.Empty());
  EXPECT_NE(icon.Handle(), nullptr);
  EXPECT_EQ(icon.Width(), 32);
  EXPECT_EQ(icon.Height(), 32);
}

TEST_F(IconTest, SizeIsTheSystemMetricsUntilAnImageIsChosen) {
  TIcon icon;
  LoadBytes(icon, MakeIcon(1));
  EXPECT_EQ(icon.Width(), 32);
  icon.Handle();
  EXPECT_EQ(icon.Width(), 2);
  EXPECT_EQ(icon.Height(), 2);
}

TEST_F(IconTest, DrawsAtItsOwnSizeAtTheRectanglesCorner) {
  TIcon icon;
  LoadBytes(icon, MakeIcon(1));
  Target t(6, 6, 0x010101);
  t.Canvas().StretchDraw(Rect(1, 1, 6, 6), &icon);
  const Pixels p = t.Read();
  EXPECT_EQ(p.At(1, 1), 0x123456u);
  EXPECT_EQ(p.At(2, 2), 0x123456u);
  EXPECT_EQ(p.At(3, 3), 0x010101u);
  EXPECT_EQ(p.At(0, 0), 0x010101u);
}

TEST_F(IconTest, ChoosesTheEntryForTheRequestedSize) {
  const std::string path = Corpus("imagers-bmp-ico/ico/multiple_entries_with_different_bit_depth.ico");
  for (int size : {16, 24, 32, 48}) {
    TIcon icon;
    icon.SetRequestedSize(size, size);
    icon.LoadFromFile(path);
    icon.Handle();
    EXPECT_EQ(icon.Width(), size);
  }
}

TEST_F(IconOnPaletteScreenTest, PassesOverEntriesWithMoreColoursThanTheScreen) {
  TIcon icon;
  icon.SetRequestedSize(48, 48);
  icon.LoadFromFile(Corpus("imagers-bmp-ico/ico/multiple_entries_with_different_bit_depth.ico"));
  icon.Handle();
  EXPECT_EQ(icon.Width(), 32);  // the first, 16-colour entry is the only one the screen can show
}

TEST_F(IconTest, StoredBytesAreWrittenBackUnchanged) {
  const auto data = ReadFileBytes(Corpus("imagers-bmp-ico/ico/smile.ico"));
  TIcon icon;
  LoadBytes(icon, data);
  TMemoryStream s;
  icon.SaveToStream(s);
  EXPECT_EQ(s.Data(), data);
}

TEST_F(IconTest, AssignSharesTheImage) {
  TIcon a, b;
  LoadBytes(a, MakeIcon(1));
  b.Assign(&a);
  EXPECT_TRUE(a.SameImage(b));
  EXPECT_EQ(a.Handle(), b.Handle());
}

TEST_F(IconTest, SizeCannotBeChanged) {
  TIcon icon;
  LoadBytes(icon, MakeIcon(1));
  icon.Handle();
  EXPECT_THROW(icon.SetWidth(5), EInvalidGraphicOperation);
  EXPECT_NO_THROW(icon.SetWidth(2));
}

TEST_F(IconTest, PngEntriesAreDecodedThroughTheRegisteredDecoder) {
  SetPngIconDecoder(&FakePngDecoder);
  TIcon icon;
  icon.LoadFromFile(Corpus("imagers-bmp-ico/ico/png-32bpp-alpha.ico"));
  const Pixels p = Render(icon);
  SetPngIconDecoder(nullptr);
  EXPECT_EQ(icon.Width(), 3);
  EXPECT_EQ(p.At(0, 0), 0xFF0000u);
}

TEST_F(IconTest, PngEntryWithoutADecoderCannotBeShown) {
  SetPngIconDecoder(nullptr);
  TIcon icon;
  icon.LoadFromFile(Corpus("imagers-bmp-ico/ico/png-32bpp-alpha.ico"));
  EXPECT_EQ(MessageOf([&] { icon.Handle(); }), "EInvalidGraphic: Icon image is not valid");
}

TEST_F(IconTest, CorpusIconsLoadAndDrawOrFailCleanly) {
  for (const std::string dir :
       {"imagers-bmp-ico/ico", "imagers-bmp-ico/ico-bad", "pillow-ico-jpeg/ico", "pillow-ico-jpeg/cur"}) {
    for (const auto& e : std::filesystem::directory_iterator(Corpus(dir))) {
      TIcon icon;
      try {
        icon.LoadFromFile(e.path().string());
        Render(icon);
      } catch (const Exception&) {
      }
    }
  }
  TIcon smile;
  smile.LoadFromFile(Corpus("imagers-bmp-ico/ico/smile.ico"));
  EXPECT_NO_THROW(Render(smile));
  EXPECT_EQ(smile.Width(), 32);
}
