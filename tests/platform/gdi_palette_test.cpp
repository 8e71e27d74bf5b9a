// Palettes: the half-tone and system palettes, nearest-colour lookup, logical palettes and what the device
// reports about them.
#include "gdi_test_util.h"

using namespace gditest;

namespace {

class GdiPalette : public GdiTest {};
class GdiPalette8 : public GdiTest {
 protected:
  GdiPalette8() : GdiTest(8) {}
};

HPALETTE MakePalette(soft::SoftGdi& g, std::initializer_list<PALETTEENTRY> entries) {
  std::vector<BYTE> lp(4 + entries.size() * 4);
  LOGPALETTE* p = reinterpret_cast<LOGPALETTE*>(lp.data());
  p->palVersion = 0x300;
  p->palNumEntries = static_cast<WORD>(entries.size());
  std::memcpy(lp.data() + 4, entries.begin(), entries.size() * 4);
  return g.CreatePalette(p);
}

TEST_F(GdiPalette, HalftonePaletteHas256EntriesWithTheStaticColoursAtBothEnds) {
  HPALETTE p = g.CreateHalftonePalette(nullptr);
  ASSERT_NE(p, nullptr);
  WORD count = 0;
  ASSERT_EQ(g.GetObject(Obj(p), sizeof count, &count), 2);
  EXPECT_EQ(count, 256);
  PALETTEENTRY e[256];
  ASSERT_EQ(g.GetPaletteEntries(p, 0, 256, e), 256u);
  auto is = [](const PALETTEENTRY& x, int r, int gg, int b) {
    return x.peRed == r && x.peGreen == gg && x.peBlue == b;
  };
  EXPECT_TRUE(is(e[0], 0, 0, 0));
  EXPECT_TRUE(is(e[1], 128, 0, 0));
  EXPECT_TRUE(is(e[7], 192, 192, 192));
  EXPECT_TRUE(is(e[8], 192, 220, 192));
  EXPECT_TRUE(is(e[9], 166, 202, 240));
  EXPECT_TRUE(is(e[246], 255, 251, 240));
  EXPECT_TRUE(is(e[248], 128, 128, 128));
  EXPECT_TRUE(is(e[249], 255, 0, 0));
  EXPECT_TRUE(is(e[255], 255, 255, 255));
  // The colour cube lies between the static colours.
  int cube = 0;
  for (int i = 10; i < 246; ++i)
    if (e[i].peRed % 51 == 0 && e[i].peGreen % 51 == 0 && e[i].peBlue % 51 == 0) ++cube;
  EXPECT_EQ(cube, 216);
  g.DeleteObject(Obj(p));
}

TEST_F(GdiPalette8, SystemPaletteOfAnEightBitScreenHasTheStaticColours) {
  HDC screen = g.GetDC(nullptr);
  PALETTEENTRY e[256];
  ASSERT_EQ(g.GetSystemPaletteEntries(screen, 0, 256, e), 256u);
  EXPECT_EQ(e[0].peRed, 0);
  EXPECT_EQ(e[255].peGreen, 255);
  EXPECT_EQ(e[252].peBlue, 255);
  EXPECT_EQ(e[252].peRed, 0);
  EXPECT_EQ(g.GetDeviceCaps(screen, SIZEPALETTE), 256);
  EXPECT_EQ(g.GetDeviceCaps(screen, NUMCOLORS), 20);
  EXPECT_EQ(g.GetDeviceCaps(screen, NUMRESERVED), 20);
  g.ReleaseDC(nullptr, screen);
}

TEST_F(GdiPalette, TrueColourScreenHasNoSystemPalette) {
  HDC screen = g.GetDC(nullptr);
  PALETTEENTRY e[4];
  EXPECT_EQ(g.GetSystemPaletteEntries(screen, 0, 4, e), 0u);
  EXPECT_EQ(g.GetDeviceCaps(screen, SIZEPALETTE), 0);
  EXPECT_EQ(g.GetDeviceCaps(screen, NUMCOLORS), -1);
  EXPECT_FALSE(g.GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE);
  EXPECT_EQ(g.GetDeviceCaps(screen, BITSPIXEL) * g.GetDeviceCaps(screen, PLANES), 32);
  EXPECT_EQ(g.GetDeviceCaps(screen, LOGPIXELSX), 96);
  g.ReleaseDC(nullptr, screen);
}

TEST_F(GdiPalette, NearestIndexIsTheClosestEntryAndTheFirstOnTies) {
  HPALETTE p = MakePalette(g, {{0, 0, 0, 0}, {100, 100, 100, 0}, {200, 0, 0, 0}, {100, 100, 100, 0}});
  EXPECT_EQ(g.GetNearestPaletteIndex(p, RGB(90, 95, 110)), 1u);
  EXPECT_EQ(g.GetNearestPaletteIndex(p, RGB(180, 20, 0)), 2u);
  EXPECT_EQ(g.GetNearestPaletteIndex(p, RGB(100, 100, 100)), 1u);
  EXPECT_EQ(g.GetNearestPaletteIndex(nullptr, 0), CLR_INVALID);
  g.DeleteObject(Obj(p));
}

TEST_F(GdiPalette, PaletteEntriesCanBeReadAndChangedWithinRange) {
  HPALETTE p = MakePalette(g, {{1, 2, 3, 0}, {4, 5, 6, 0}});
  PALETTEENTRY e[3] = {};
  EXPECT_EQ(g.GetPaletteEntries(p, 1, 3, e), 1u);
  EXPECT_EQ(e[0].peBlue, 6);
  const PALETTEENTRY n[2] = {{9, 9, 9, 0}, {8, 8, 8, 0}};
  EXPECT_EQ(g.SetPaletteEntries(p, 1, 2, n), 1u);
  g.GetPaletteEntries(p, 0, 2, e);
  EXPECT_EQ(e[0].peRed, 1);
  EXPECT_EQ(e[1].peRed, 9);
  g.DeleteObject(Obj(p));
}

TEST_F(GdiPalette, InvalidLogicalPalettesAreRefused) {
  LOGPALETTE empty{0x300, 0, {}};
  LOGPALETTE wrongVersion{0x200, 1, {{0, 0, 0, 0}}};
  EXPECT_EQ(g.CreatePalette(&empty), nullptr);
  EXPECT_EQ(g.CreatePalette(&wrongVersion), nullptr);
  EXPECT_EQ(g.CreatePalette(nullptr), nullptr);
}

TEST_F(GdiPalette, StockDefaultPaletteHasTwentyEntriesAndSurvivesDeletion) {
  HGDIOBJ def = g.GetStockObject(DEFAULT_PALETTE);
  WORD n = 0;
  g.GetObject(def, sizeof n, &n);
  EXPECT_EQ(n, 20);
  EXPECT_TRUE(g.DeleteObject(def));
  EXPECT_EQ(g.GetObjectType(def), OBJ_PAL);
}

TEST_F(GdiPalette, SelectPaletteReturnsThePreviousOneAndPaletteIndexColoursUseIt) {
  Canvas32 c(g, 1, 1);
  HPALETTE p = MakePalette(g, {{10, 20, 30, 0}, {40, 50, 60, 0}});
  HPALETTE old = g.SelectPalette(c.dc(), p, 0);
  EXPECT_EQ(old, HandleCast<HPALETTE>(g.GetStockObject(DEFAULT_PALETTE)));
  g.RealizePalette(c.dc());
  g.SetPixel(c.dc(), 0, 0, PALETTEINDEX(1));
  EXPECT_EQ(c.rgb(0, 0), 0x28323Cu);
  EXPECT_FALSE(g.DeleteObject(Obj(p)));  // still selected
  EXPECT_EQ(g.SelectPalette(c.dc(), old, 0), p);
  EXPECT_TRUE(g.DeleteObject(Obj(p)));
}

}  // namespace
