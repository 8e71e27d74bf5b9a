// The whole program on a soft platform with a virtual clock: a small screen, the shell's desktop windows,
// a registry naming a small solid-colour wallpaper, and the program's own start-up (TProgramScope and
// StartEntryBlock) and shutdown. Tests then pump the message loop, click and choose menu items, and read the
// screen.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/Headless.h"
#include "app/Program.h"
#include "app/Snow.h"
#include "app/Unit1.h"
#include "platform/common/SoftClock.h"
#include "platform/common/SoftDirectDraw.h"
#include "platform/common/SoftRegistry.h"
#include "platform/soft/SoftPlatform.h"
#include "platform/soft/SoftWindows.h"

namespace programtest {

// A 24-bit bottom-up bitmap file of one colour (0xRRGGBB).
inline std::vector<std::uint8_t> SolidBmp(int w, int h, std::uint32_t rgb) {
  int row = (w * 3 + 3) & ~3;
  std::uint32_t image = static_cast<std::uint32_t>(row * h);
  std::vector<std::uint8_t> b(54 + image, 0);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, static_cast<std::uint32_t>(b.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(w));
  put32(22, static_cast<std::uint32_t>(h));
  b[26] = 1;
  b[28] = 24;
  put32(34, image);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::size_t at = 54 + static_cast<std::size_t>(y * row + x * 3);
      b[at] = static_cast<std::uint8_t>(rgb);
      b[at + 1] = static_cast<std::uint8_t>(rgb >> 8);
      b[at + 2] = static_cast<std::uint8_t>(rgb >> 16);
    }
  return b;
}

// Test programs run side by side and share the temporary folder, so each test writes files of its own
// (one program rewriting a file another is reading gave that one a truncated picture).
inline std::string WriteTempFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  std::string prefix;
  if (const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info()) {
    prefix = std::string(t->test_suite_name()) + "." + t->name() + ".";
    for (char& c : prefix)
      if (c == '/' || c == '\\') c = '_';
  }
  std::string path = ::testing::TempDir() + prefix + name;
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

constexpr std::uint32_t kWallpaperColour = 0x204080;

class ProgramFixture : public ::testing::Test {
 protected:
  enum class Shell { Normal, None, NoListView, OtherClass };

  int screenWidth = 320;
  int screenHeight = 200;
  std::int64_t seed = 12345;

  ~ProgramFixture() override { Stop(); }

  // The platform alone, so a test can change the desktop or the registry before starting.
  void MakePlatform(Shell shell = Shell::Normal, const char* otherClass = "syslistview32") {
    plat::soft::SoftOptions o;
    o.screenWidth = screenWidth;
    o.screenHeight = screenHeight;
    platform_ = std::make_unique<plat::soft::SoftPlatform>(o);
    switch (shell) {
      case Shell::Normal:
        desktop_ = windows().CreateDesktopShell();
        break;
      case Shell::NoListView:
        desktop_ = windows().CreateDesktopShell(nullptr);
        break;
      case Shell::OtherClass:
        desktop_ = windows().CreateDesktopShell(otherClass);
        break;
      case Shell::None:
        break;
    }
    std::string wallpaper = WriteTempFile("snow_wallpaper.bmp", SolidBmp(8, 8, kWallpaperColour));
    registry().SetString(plat::HKEY_CURRENT_USER, "Control Panel\\Desktop", "WallPaper", wallpaper);
  }

  // Unit start-up and the entry block up to the created main form.
  void Start() {
    if (!platform_) MakePlatform();
    clock().SetPerformanceCounter(seed);
    scope_ = std::make_unique<TProgramScope>();
    StartEntryBlock();
  }

  void Stop() {
    scope_.reset();
    ResetSnowState();
    platform_.reset();
  }

  // Pumps the loop until n more frames were drawn or nothing more can happen; returns the frames drawn.
  std::int64_t Frames(std::int64_t n) { return RunFrames(*platform_, n); }

  // Right-click on the snow and pick an item (null: close the menu without a choice); then handle the
  // messages that follow, without idle time.
  void Choose(TMenuItem* item) {
    if (item)
      windows().QueueMenuChoice(item->Command());
    else
      windows().QueueMenuCancel();
    windows().ClickRight(Form1->DXDraw1->Handle(), 20, 20);
    Application->ProcessMessages();
  }

  plat::soft::SoftWindowSystem& windows() { return platform_->windows(); }
  plat::soft::SoftRegistry& registry() { return platform_->registry(); }
  plat::soft::SoftClock& clock() { return platform_->clock(); }
  plat::soft::SoftDirectDraw& ddraw() { return platform_->ddraw(); }
  const plat::soft::SoftWindowSystem::DesktopShell& desktop() const { return desktop_; }

 private:
  std::unique_ptr<plat::soft::SoftPlatform> platform_;
  std::unique_ptr<TProgramScope> scope_;
  plat::soft::SoftWindowSystem::DesktopShell desktop_;
};

}  // namespace programtest
