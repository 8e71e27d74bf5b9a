// Text and control frames on Windows through the GDI interface: text drawn into a device-independent
// section leaves ink, measuring gives a real extent, and a push-button face takes the face colour.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/Gdi.h"
#include "platform/win32/Win32Platform.h"

using namespace plat;

namespace {

constexpr int kW = 120, kH = 40;

class Win32GdiTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dc_ = GdiSvc().CreateCompatibleDC(nullptr);
    ASSERT_NE(nullptr, dc_);
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = kW;
    bmi.bmiHeader.biHeight = -kH;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    section_ = GdiSvc().CreateDIBSection(dc_, &bmi, DIB_RGB_COLORS, reinterpret_cast<void**>(&pixels_));
    ASSERT_NE(nullptr, section_);
    old_ = GdiSvc().SelectObject(dc_, Obj(section_));
    oldFont_ = GdiSvc().SelectObject(dc_, GdiSvc().GetStockObject(DEFAULT_GUI_FONT));
    for (int i = 0; i < kW * kH; ++i) pixels_[i] = 0x00FFFFFF;
  }
  void TearDown() override {
    GdiSvc().SelectObject(dc_, oldFont_);
    GdiSvc().SelectObject(dc_, old_);
    GdiSvc().DeleteObject(Obj(section_));
    GdiSvc().DeleteDC(dc_);
  }
  int CountNot(std::uint32_t rgb) const {
    int n = 0;
    for (int i = 0; i < kW * kH; ++i) n += (pixels_[i] & 0xFFFFFF) != rgb;
    return n;
  }

  win32::Win32Platform platform_;
  HDC dc_ = nullptr;
  HBITMAP section_ = nullptr;
  HGDIOBJ old_ = nullptr, oldFont_ = nullptr;
  std::uint32_t* pixels_ = nullptr;
};

TEST_F(Win32GdiTextTest, DrawnTextLeavesInkOnTheSection) {
  GdiSvc().SetTextColor(dc_, RGB(0, 0, 0));
  GdiSvc().SetBkMode(dc_, TRANSPARENT);
  RECT r{0, 0, kW, kH};
  EXPECT_GT(GdiSvc().DrawTextA(dc_, "Snow", -1, &r, DT_LEFT | DT_NOPREFIX), 0);
  GdiSvc().GdiFlush();
  EXPECT_GT(CountNot(0xFFFFFF), 0);
}

TEST_F(Win32GdiTextTest, CalcRectGivesANonEmptyRectangleAndDrawsNothing) {
  RECT r{0, 0, 0, 0};
  const int h = GdiSvc().DrawTextA(dc_, "Line one\r\nLine two", -1, &r, DT_CALCRECT | DT_NOPREFIX);
  GdiSvc().GdiFlush();
  EXPECT_GT(r.right, 0);
  EXPECT_GT(r.bottom, 0);
  EXPECT_EQ(h, r.bottom);
  EXPECT_EQ(CountNot(0xFFFFFF), 0);
  TEXTMETRICA tm{};
  ASSERT_TRUE(GdiSvc().GetTextMetricsA(dc_, &tm));
  EXPECT_GE(r.bottom, 2 * tm.tmHeight) << "two lines";
}

TEST_F(Win32GdiTextTest, PushButtonFaceIsFilledWithTheFaceColour) {
  RECT r{0, 0, 60, 24};
  ASSERT_TRUE(GdiSvc().DrawFrameControl(dc_, &r, DFC_BUTTON, DFCS_BUTTONPUSH));
  GdiSvc().GdiFlush();
  const DWORD face = GdiSvc().GetSysColor(COLOR_BTNFACE);
  const std::uint32_t mid = pixels_[12 * kW + 30] & 0xFFFFFF;
  // Section pixels are blue, green, red from the low byte up; COLORREF is red first.
  EXPECT_EQ(mid, (GetRValue(face) << 16) | (GetGValue(face) << 8) | GetBValue(face));
}

}  // namespace

#endif  // _WIN32
