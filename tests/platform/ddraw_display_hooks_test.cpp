// What a desktop backend needs of the software DirectDraw to show its screen on a real display: the screen's
// pixels in memory the backend owns, word of every change to the primary surface (which window, which
// rectangle), and the display's own vertical-blank wait.
#include <vector>

#include "ddraw_test_util.h"
#include "platform/common/SoftClock.h"
#include "platform/soft/SoftWindows.h"

namespace {

using namespace ddtest;

struct Change {
  HWND window;
  RECT rect;
};

class DisplayHooks : public DDrawFixture {
 protected:
  DisplayHooks() : DDrawFixture(32, 64, 48) {
    soft().SetScreenChangedHook([this](HWND w, const RECT& r) { changes.push_back({w, r}); });
  }
  std::vector<Change> changes;
};

TEST_F(DisplayHooks, ThePrimarySurfaceDrawsIntoTheBackendsMemory) {
  const int pitch = 64 * 4 + 32;  // wider rows than the screen's own, as a display server may ask
  std::vector<std::uint8_t> memory(std::size_t(pitch) * 48, 0xAB);
  ASSERT_TRUE(soft().UseScreenMemory(memory.data(), pitch));
  IDirectDrawSurface7* primary = Primary();
  const RECT r{2, 3, 6, 5};
  FillRaw(primary, 0x00123456, &r);
  std::uint32_t at{};
  std::memcpy(&at, memory.data() + 3 * pitch + 2 * 4, 4);
  EXPECT_EQ(0x00123456u, at);
  std::memcpy(&at, memory.data() + 5 * pitch + 2 * 4, 4);
  EXPECT_EQ(0xABABABABu, at) << "outside the rectangle nothing changed";
  EXPECT_EQ(0xFF123456u, soft().ScreenPixel(5, 4)) << "the screen reads the same memory";
}

TEST_F(DisplayHooks, ScreenMemoryIsRefusedOnceThePrimarySurfaceExists) {
  Primary();
  std::vector<std::uint8_t> memory(64 * 4 * 48);
  EXPECT_FALSE(soft().UseScreenMemory(memory.data(), 64 * 4));
}

TEST_F(DisplayHooks, ScreenMemoryWithRowsShorterThanTheScreensIsRefused) {
  std::vector<std::uint8_t> memory(64 * 4 * 48);
  EXPECT_FALSE(soft().UseScreenMemory(memory.data(), 63 * 4));
  EXPECT_FALSE(soft().UseScreenMemory(nullptr, 64 * 4));
}

TEST_F(DisplayHooks, AClippedBlitReportsTheClippersWindowAndTheVisibleRectangle) {
  auto& ws = platform().windows();
  HWND w = ws.CreateForeignWindow("Static", "", WS_POPUP | WS_VISIBLE, 10, 8, 20, 10, nullptr);
  IDirectDrawSurface7* primary = Primary();
  IDirectDrawClipper* clipper = nullptr;
  ASSERT_EQ(DD_OK, dd_->CreateClipper(0, &clipper, nullptr));
  Keep(clipper);
  ASSERT_EQ(DD_OK, clipper->SetHWnd(0, w));
  ASSERT_EQ(DD_OK, primary->SetClipper(clipper));
  IDirectDrawSurface7* back = Surface(40, 40);
  const RECT dest{0, 0, 40, 40};
  ASSERT_EQ(DD_OK, primary->Blt(&dest, back, nullptr, DDBLT_WAIT, nullptr));
  ASSERT_EQ(1u, changes.size());
  EXPECT_EQ(w, changes[0].window);
  EXPECT_EQ(10, changes[0].rect.left);
  EXPECT_EQ(8, changes[0].rect.top);
  EXPECT_EQ(30, changes[0].rect.right);
  EXPECT_EQ(18, changes[0].rect.bottom);
}

TEST_F(DisplayHooks, UnlockingThePrimarySurfaceReportsTheWholeScreen) {
  IDirectDrawSurface7* primary = Primary();
  Set(primary, 1, 1, 0x00FF00);  // Set locks and unlocks
  ASSERT_EQ(1u, changes.size());
  EXPECT_EQ(nullptr, changes[0].window);
  EXPECT_EQ(64, changes[0].rect.right);
  EXPECT_EQ(48, changes[0].rect.bottom);
}

TEST_F(DisplayHooks, DrawingOnOtherSurfacesReportsNothing) {
  IDirectDrawSurface7* back = Surface(8, 8);
  FillRaw(back, 0x1);
  Set(back, 0, 0, 0x2);
  EXPECT_TRUE(changes.empty());
}

TEST_F(DisplayHooks, TheDisplaysVerticalBlankWaitReplacesTheClocks) {
  int waits = 0;
  soft().SetVerticalBlankWait([&] { ++waits; });
  const std::uint64_t before = platform().clock().NowMicroseconds();
  EXPECT_EQ(DD_OK, dd_->WaitForVerticalBlank(DDWAITVB_BLOCKBEGIN, nullptr));
  EXPECT_EQ(1, waits);
  EXPECT_EQ(before, platform().clock().NowMicroseconds()) << "the virtual clock did not move";
  EXPECT_EQ(1u, soft().VerticalBlankWaits());
}

}  // namespace
