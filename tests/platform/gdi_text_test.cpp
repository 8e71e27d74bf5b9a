// Text, control frames and window device contexts on the soft GDI: glyphs land where the font puts them,
// measuring agrees with drawing, lines and alignment follow the format, and nothing is written outside the
// bitmap, the rectangle or the window.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gdi_test_util.h"
#include "platform/Windows.h"
#include "platform/soft/SoftWindows.h"

namespace {

using namespace gditest;

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kInk = 0x000000;

// Glyph pictures as the font should show them: '#' ink, '.' paper; row 0 is cell row 3.
const std::vector<std::string> kGlyphA = {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"};
const std::vector<std::string> kGlyphBox = {"#####", "#...#", "#...#", "#...#", "#...#", "#...#", "#####"};
const std::vector<std::string> kGlyphG = {".....", ".....", ".####", "#...#", "#...#",
                                          ".####", "....#", "#...#", ".###."};

struct Box {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // inclusive-exclusive; empty when right < 0
  bool Empty() const { return right < 0; }
};

class GdiText : public GdiTest {
 protected:
  GdiText() : c(g, 64, 40) {
    c.Fill(kWhite);
    g.SetTextColor(c.dc(), RGB(0, 0, 0));
    g.SetBkMode(c.dc(), TRANSPARENT);
  }
  int Draw(const std::string& text, RECT r, UINT format) {
    return g.DrawTextA(c.dc(), text.c_str(), static_cast<int>(text.size()), &r, format);
  }
  Box Ink() {
    Box b;
    for (int y = 0; y < c.h(); ++y)
      for (int x = 0; x < c.w(); ++x)
        if (c.rgb(x, y) != kWhite) {
          b.left = std::min(b.left, x), b.top = std::min(b.top, y);
          b.right = std::max(b.right, x + 1), b.bottom = std::max(b.bottom, y + 1);
        }
    return b;
  }
  // The 6 x 13 cell at (x, y) shows exactly the picture (cell rows 3.. onward), paper elsewhere.
  void ExpectCell(int x, int y, const std::vector<std::string>& picture) {
    for (int row = 0; row < 13; ++row)
      for (int col = 0; col < 6; ++col) {
        const int r = row - 3;
        const bool ink = r >= 0 && r < int(picture.size()) && col < 5 && picture[r][col] == '#';
        EXPECT_EQ(c.rgb(x + col, y + row), ink ? kInk : kWhite) << "cell pixel " << col << "," << row;
      }
  }
  Canvas32 c;
};

// ---- glyphs

TEST_F(GdiText, GlyphPixelsMatchTheFontPicture) {
  Draw("A", {5, 2, 60, 40}, DT_LEFT | DT_NOPREFIX);
  ExpectCell(5, 2, kGlyphA);
}

TEST_F(GdiText, DescendersHangBelowTheBaseline) {
  Draw("g", {0, 0, 60, 40}, DT_LEFT);
  ExpectCell(0, 0, kGlyphG);
}

TEST_F(GdiText, BytesOutsidePrintableAsciiShowAsABox) {
  Draw(std::string("\x01\xE9", 2), {0, 0, 60, 40}, DT_LEFT | DT_SINGLELINE);
  ExpectCell(0, 0, kGlyphBox);
  ExpectCell(6, 0, kGlyphBox);
}

TEST_F(GdiText, TextTakesTheTextColour) {
  g.SetTextColor(c.dc(), RGB(200, 10, 20));
  Draw("A", {0, 0, 60, 40}, DT_LEFT);
  EXPECT_EQ(c.rgb(0, 4), 0xC80A14u);  // second row of 'A' starts with ink
}

TEST_F(GdiText, OpaqueModeFillsTheCellsWithTheBackgroundColour) {
  g.SetBkMode(c.dc(), OPAQUE);
  g.SetBkColor(c.dc(), RGB(255, 0, 0));
  Draw("  ", {1, 1, 60, 40}, DT_LEFT);
  const Box b = Ink();
  EXPECT_EQ(b.left, 1);
  EXPECT_EQ(b.top, 1);
  EXPECT_EQ(b.right, 13);
  EXPECT_EQ(b.bottom, 14);
  EXPECT_EQ(c.rgb(7, 7), 0xFF0000u);
}

TEST_F(GdiText, AmpersandUnderlinesTheNextCharacterUnlessPrefixesAreOff) {
  RECT calc{0, 0, 60, 0};
  g.DrawTextA(c.dc(), "&A", -1, &calc, DT_CALCRECT);
  EXPECT_EQ(calc.right, 6) << "the '&' takes no room";
  Draw("&A", {0, 0, 60, 40}, DT_LEFT);
  for (int x = 0; x < 6; ++x) EXPECT_EQ(c.rgb(x, 11), kInk) << x;
  RECT raw{0, 0, 60, 0};
  g.DrawTextA(c.dc(), "&A", -1, &raw, DT_CALCRECT | DT_NOPREFIX);
  EXPECT_EQ(raw.right, 12);
  RECT twice{0, 0, 60, 0};
  g.DrawTextA(c.dc(), "a&&b", -1, &twice, DT_CALCRECT);
  EXPECT_EQ(twice.right, 18) << "'&&' is one '&'";
}

// ---- measuring

TEST_F(GdiText, CalcRectAgreesWithTheDrawnExtent) {
  const std::string text = "Hello\r\nWorld!!";
  RECT calc{3, 4, 3, 4};
  const int h = Draw(text, calc, DT_LEFT | DT_CALCRECT);
  g.DrawTextA(c.dc(), text.c_str(), -1, &calc, DT_LEFT | DT_CALCRECT);
  EXPECT_EQ(calc.right - calc.left, 7 * 6);
  EXPECT_EQ(calc.bottom - calc.top, 2 * 13);
  EXPECT_EQ(h, 26);
  EXPECT_TRUE(Ink().Empty()) << "measuring draws nothing";
  Draw(text, calc, DT_LEFT);
  const Box b = Ink();
  ASSERT_FALSE(b.Empty());
  EXPECT_GE(b.left, calc.left);
  EXPECT_GE(b.top, calc.top);
  EXPECT_LE(b.right, calc.right);
  EXPECT_LE(b.bottom, calc.bottom);
  EXPECT_EQ(b.left, calc.left) << "'H' starts at the left edge";
}

TEST_F(GdiText, MetricsAndExtentsMatchTheCells) {
  TEXTMETRICA tm{};
  ASSERT_TRUE(g.GetTextMetricsA(c.dc(), &tm));
  EXPECT_EQ(tm.tmHeight, 13);
  EXPECT_EQ(tm.tmAscent + tm.tmDescent, tm.tmHeight);
  EXPECT_EQ(tm.tmAveCharWidth, 6);
  SIZE s{};
  ASSERT_TRUE(g.GetTextExtentPoint32A(c.dc(), "abc", 3, &s));
  EXPECT_EQ(s.cx, 18);
  EXPECT_EQ(s.cy, tm.tmHeight);
  EXPECT_FALSE(g.GetTextExtentPoint32A(c.dc(), "abc", -1, &s));
  EXPECT_FALSE(g.GetTextExtentPoint32A(c.dc(), nullptr, 2, &s));
}

TEST_F(GdiText, WordBreakWrapsBetweenWordsAndKeepsLongWordsWhole) {
  RECT r{0, 0, 30, 0};
  EXPECT_EQ(Draw("aa bb cc", r, DT_CALCRECT | DT_WORDBREAK), 26);
  g.DrawTextA(c.dc(), "aa bb cc", -1, &r, DT_CALCRECT | DT_WORDBREAK);
  EXPECT_EQ(r.right, 30) << "'aa bb' fills the width";
  RECT longWord{0, 0, 12, 0};
  g.DrawTextA(c.dc(), "abcdefgh ij", -1, &longWord, DT_CALCRECT | DT_WORDBREAK);
  EXPECT_EQ(longWord.right, 48);
  EXPECT_EQ(longWord.bottom, 26);
}

// ---- layout

TEST_F(GdiText, CrLfLoneCrAndLoneLfEachStartALine) {
  RECT r{0, 0, 60, 0};
  EXPECT_EQ(Draw("a\r\nb\nc\rd", r, DT_CALCRECT), 4 * 13);
  EXPECT_EQ(Draw("a\r\nb", r, DT_CALCRECT | DT_SINGLELINE), 13) << "one line when told so";
}

TEST_F(GdiText, SecondLineRepeatsTheFirstOneLineHeightLower) {
  Draw("A\r\nA", {0, 0, 60, 40}, DT_LEFT);
  ExpectCell(0, 0, kGlyphA);
  ExpectCell(0, 13, kGlyphA);
}

TEST_F(GdiText, CentredLinesAreCentredEachOnItsOwn) {
  Draw("AAA\r\nA", {0, 0, 30, 40}, DT_CENTER);
  ExpectCell(6, 0, kGlyphA);
  ExpectCell(12, 13, kGlyphA);
}

TEST_F(GdiText, SingleLineCentresVerticallyAndAlignsRight) {
  Draw("A", {0, 0, 30, 33}, DT_SINGLELINE | DT_RIGHT | DT_VCENTER);
  ExpectCell(24, 10, kGlyphA);
}

TEST_F(GdiText, EmptyTextDrawsNothingAndMeasuresOneEmptyLine) {
  RECT r{2, 2, 60, 40};
  EXPECT_EQ(g.DrawTextA(c.dc(), "", 0, &r, DT_CALCRECT), 13);
  EXPECT_EQ(r.right, 2);
  EXPECT_EQ(r.bottom, 15);
  RECT d{0, 0, 60, 40};
  g.DrawTextA(c.dc(), "", -1, &d, DT_LEFT);
  g.DrawTextA(c.dc(), nullptr, 0, &d, DT_LEFT);
  EXPECT_TRUE(Ink().Empty());
}

// ---- clipping

TEST_F(GdiText, TextIsClippedToItsRectangleUnlessNoClip) {
  Draw("AAAA", {0, 0, 9, 8}, DT_LEFT);
  Box b = Ink();
  EXPECT_LE(b.right, 9);
  EXPECT_LE(b.bottom, 8);
  c.Fill(kWhite);
  Draw("AAAA", {0, 0, 9, 8}, DT_LEFT | DT_NOCLIP);
  b = Ink();
  EXPECT_EQ(b.right, 23);
  EXPECT_EQ(b.bottom, 10);
}

TEST_F(GdiText, TextPastEveryEdgeOfTheBitmapWritesOnlyInside) {
  Draw("A", {-3, -5, 3, 8}, DT_LEFT);
  // Glyph columns 3 and 4 show at x 0 and 1; glyph row 3 ("#####") at y 1, row 4 ("#...#") at y 2.
  EXPECT_EQ(c.rgb(0, 1), kInk);
  EXPECT_EQ(c.rgb(1, 1), kInk);
  EXPECT_EQ(c.rgb(0, 2), kWhite);
  EXPECT_EQ(c.rgb(1, 2), kInk);
  EXPECT_EQ(c.rgb(2, 1), kWhite) << "the cell's gap column";
  // Under the address sanitizer a write outside the section would stop the test.
  const std::string wide(40, 'W');
  for (RECT r : {RECT{-100, -7, 200, 100}, RECT{50, 30, 400, 400}, RECT{-3, 35, 61, 60}})
    Draw(wide + "\r\n" + wide, r, DT_LEFT | DT_NOCLIP);
  EXPECT_FALSE(Ink().Empty());
}

TEST_F(GdiText, HugeLineCountsAndLengthsStayBounded) {
  std::string many;
  for (int i = 0; i < 100000; ++i) many += "x\n";
  RECT r{0, 0, 60, 0};
  EXPECT_EQ(Draw(many, r, DT_CALCRECT), 100001 * 13);
  Draw(many, {0, -1000000, 60, 40}, DT_LEFT);
  EXPECT_FALSE(Ink().Empty());
}

// ---- fonts

TEST_F(GdiText, StockFontsSelectAndComeBack) {
  HGDIOBJ gui = g.GetStockObject(DEFAULT_GUI_FONT);
  ASSERT_NE(gui, nullptr);
  EXPECT_EQ(g.GetObjectType(gui), OBJ_FONT);
  HGDIOBJ old = g.SelectObject(c.dc(), gui);
  EXPECT_EQ(old, g.GetStockObject(SYSTEM_FONT));
  EXPECT_EQ(g.GetCurrentObject(c.dc(), OBJ_FONT), gui);
  EXPECT_TRUE(g.DeleteObject(gui)) << "deleting a stock object does nothing";
  EXPECT_EQ(g.SelectObject(c.dc(), old), gui);
}

// ---- control frames

TEST_F(GdiText, RaisedPushButtonHasLightTopLeftDarkBottomRightAndTheFaceInside) {
  RECT r{0, 0, 20, 10};
  ASSERT_TRUE(g.DrawFrameControl(c.dc(), &r, DFC_BUTTON, DFCS_BUTTONPUSH));
  const auto sys = [&](int i) {
    const COLORREF v = g.GetSysColor(i);
    return std::uint32_t(GetRValue(v)) << 16 | std::uint32_t(GetGValue(v)) << 8 | GetBValue(v);
  };
  EXPECT_EQ(c.rgb(0, 0), sys(COLOR_BTNHIGHLIGHT));
  EXPECT_EQ(c.rgb(19, 9), sys(COLOR_3DDKSHADOW));
  EXPECT_EQ(c.rgb(0, 9), sys(COLOR_3DDKSHADOW)) << "the bottom edge owns its corner";
  EXPECT_EQ(c.rgb(18, 8), sys(COLOR_BTNSHADOW));
  EXPECT_EQ(c.rgb(10, 5), sys(COLOR_BTNFACE));
  EXPECT_EQ(c.rgb(20, 5), kWhite) << "nothing outside";
}

TEST_F(GdiText, PushedButtonIsSunkenAndAdjustRectShrinksByTheBorder) {
  RECT r{0, 0, 20, 10};
  ASSERT_TRUE(g.DrawFrameControl(c.dc(), &r, DFC_BUTTON, DFCS_BUTTONPUSH | DFCS_PUSHED | DFCS_ADJUSTRECT));
  const COLORREF hi = g.GetSysColor(COLOR_BTNHIGHLIGHT);
  EXPECT_NE(c.rgb(0, 0), (std::uint32_t(GetRValue(hi)) << 16 | GetGValue(hi) << 8 | GetBValue(hi)));
  EXPECT_EQ(c.rgb(19, 9), 0xFFFFFFu) << "light bottom-right";
  EXPECT_EQ(r.left, 2);
  EXPECT_EQ(r.bottom, 8);
  EXPECT_FALSE(g.DrawFrameControl(c.dc(), &r, 1, 0)) << "only push buttons";
}

TEST_F(GdiText, EdgeWithAdjustLeavesTheInterior) {
  RECT r{4, 4, 14, 14};
  ASSERT_TRUE(g.DrawEdge(c.dc(), &r, EDGE_SUNKEN, BF_RECT | BF_ADJUST));
  EXPECT_EQ(r.left, 6);
  EXPECT_EQ(r.top, 6);
  EXPECT_EQ(r.right, 12);
  EXPECT_EQ(r.bottom, 12);
  EXPECT_EQ(c.rgb(8, 8), kWhite) << "no middle asked for";
}

TEST_F(GdiText, FocusRectangleIsDottedAndASecondOneTakesItAway) {
  c.Fill(0x123456);
  const RECT r{2, 2, 12, 8};
  ASSERT_TRUE(g.DrawFocusRect(c.dc(), &r));
  EXPECT_EQ(c.rgb(2, 2), 0xEDCBA9u);
  EXPECT_EQ(c.rgb(3, 2), 0x123456u);
  EXPECT_EQ(c.rgb(5, 5), 0x123456u) << "inside untouched";
  ASSERT_TRUE(g.DrawFocusRect(c.dc(), &r));
  for (int y = 0; y < c.h(); ++y)
    for (int x = 0; x < c.w(); ++x) ASSERT_EQ(c.rgb(x, y), 0x123456u) << x << "," << y;
}

TEST_F(GdiText, SystemColourBrushesAreSharedAndCarryTheColour) {
  HBRUSH b = g.GetSysColorBrush(COLOR_BTNFACE);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(g.GetSysColorBrush(COLOR_BTNFACE), b);
  LOGBRUSH lb{};
  ASSERT_EQ(g.GetObject(Obj(b), sizeof lb, &lb), int(sizeof lb));
  EXPECT_EQ(lb.lbColor, g.GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(g.GetSysColorBrush(-1), nullptr);
  EXPECT_EQ(g.GetSysColorBrush(1000), nullptr);
}

// ---- window device contexts

class WindowDc : public GdiTest {
 protected:
  WindowDc() {
    plat::WNDCLASS wc{};
    wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) { return Windows().DefWindowProc(h, m, w, l); };
    wc.lpszClassName = "GdiTextWindow";
    Windows().RegisterClass(wc);
  }
  HWND Make(DWORD style, int x, int y, int w, int h, HWND parent) {
    return Windows().CreateWindowEx(0, "GdiTextWindow", "", style | WS_VISIBLE, x, y, w, h, parent, nullptr,
                                    nullptr);
  }
  COLORREF Screen(int x, int y) {
    HDC s = g.GetDC(nullptr);
    COLORREF v = g.GetPixel(s, x, y);
    g.ReleaseDC(nullptr, s);
    return v;
  }
};

TEST_F(WindowDc, DrawsFromTheWindowsOriginAndOnlyInsideIt) {
  HWND w = Make(WS_POPUP, 10, 8, 20, 12, nullptr);
  ASSERT_NE(w, nullptr);
  HDC dc = g.GetDC(w);
  HBRUSH red = g.CreateSolidBrush(RGB(255, 0, 0));
  RECT all{-50, -50, 500, 500};
  g.FillRect(dc, &all, red);
  g.SetTextColor(dc, RGB(0, 0, 255));
  g.SetBkMode(dc, TRANSPARENT);
  RECT t{0, 0, 100, 100};
  g.DrawTextA(dc, "AAAAAAAA", -1, &t, DT_LEFT | DT_NOCLIP);
  g.ReleaseDC(w, dc);
  g.DeleteObject(Obj(red));
  EXPECT_EQ(Screen(10, 8), RGB(255, 0, 0));
  EXPECT_EQ(Screen(29, 19), RGB(255, 0, 0));
  EXPECT_EQ(Screen(9, 8), RGB(0, 0, 0));
  EXPECT_EQ(Screen(30, 19), RGB(0, 0, 0));
  EXPECT_EQ(Screen(10, 20), RGB(0, 0, 0));
  EXPECT_EQ(Screen(11, 11), RGB(0, 0, 255)) << "'A' drawn at the window's origin";
}

TEST_F(WindowDc, ParentThatClipsChildrenLeavesThemAlone) {
  HWND parent = Make(WS_POPUP | WS_CLIPCHILDREN, 0, 0, 40, 30, nullptr);
  HWND child = Make(WS_CHILD, 5, 5, 10, 10, parent);
  ASSERT_NE(child, nullptr);
  HDC cdc = g.GetDC(child);
  HBRUSH green = g.CreateSolidBrush(RGB(0, 255, 0));
  RECT all{0, 0, 100, 100};
  g.FillRect(cdc, &all, green);
  g.ReleaseDC(child, cdc);
  HDC pdc = g.GetDC(parent);
  g.FillRect(pdc, &all, g.GetSysColorBrush(COLOR_BTNFACE));
  g.ReleaseDC(parent, pdc);
  g.DeleteObject(Obj(green));
  EXPECT_EQ(Screen(5, 5), RGB(0, 255, 0));
  EXPECT_EQ(Screen(14, 14), RGB(0, 255, 0));
  EXPECT_EQ(Screen(15, 15), g.GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(Screen(4, 5), g.GetSysColor(COLOR_BTNFACE));
}

TEST_F(WindowDc, ChildDrawsOnlyWhereItsParentIs) {
  HWND parent = Make(WS_POPUP, 0, 0, 40, 30, nullptr);
  HWND child = Make(WS_CHILD, 30, 20, 20, 20, parent);
  ASSERT_NE(child, nullptr);
  HDC dc = g.GetDC(child);
  HBRUSH green = g.CreateSolidBrush(RGB(0, 255, 0));
  RECT all{0, 0, 100, 100};
  g.FillRect(dc, &all, green);
  g.ReleaseDC(child, dc);
  g.DeleteObject(Obj(green));
  EXPECT_EQ(Screen(39, 29), RGB(0, 255, 0));
  EXPECT_EQ(Screen(40, 25), RGB(0, 0, 0));
  EXPECT_EQ(Screen(35, 30), RGB(0, 0, 0));
}

}  // namespace
