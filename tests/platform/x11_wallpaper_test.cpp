// The Linux desktop's wallpaper setting, read from each desktop's own settings, and how it completes the
// registry the program reads.
#ifdef DS_HAVE_X11

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/common/SoftRegistry.h"
#include "platform/x11/DesktopWallpaper.h"
#include "platform/x11/X11Platform.h"

namespace {

using namespace plat::x11;
namespace fs = std::filesystem;

// ---- Xfce ----

const char kXfconf[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-desktop" version="1.0">
  <property name="backdrop" type="empty">
    <property name="screen0" type="empty">
      <property name="monitorVirtual-1" type="empty">
        <property name="workspace1" type="empty">
          <property name="last-image" type="string" value="/pictures/second-workspace.png"/>
        </property>
        <property name="workspace0" type="empty">
          <property name="color-style" type="int" value="0"/>
          <property name="last-image" type="string" value="/pictures/snow &amp; ice.jpg"/>
        </property>
      </property>
      <property name="monitor1" type="empty">
        <property name="workspace0" type="empty">
          <property name="last-image" type="string" value="/pictures/second-monitor.png"/>
        </property>
      </property>
    </property>
  </property>
</channel>
)";

TEST(XfconfWallpaper, TakesTheFirstMonitorsFirstWorkspace) {
  EXPECT_EQ("/pictures/snow & ice.jpg", XfconfDesktopImage(kXfconf));
}

TEST(XfconfWallpaper, AnotherScreensOrAnotherPropertysImageIsNotTaken) {
  EXPECT_EQ("", XfconfDesktopImage(R"(<channel name="xfce4-desktop">
    <property name="backdrop"><property name="screen1"><property name="monitor0"><property name="workspace0">
      <property name="last-image" type="string" value="/other-screen.png"/>
    </property></property></property></property>
    <property name="last-image" type="string" value="/not-a-backdrop.png"/>
  </channel>)"));
}

TEST(XfconfWallpaper, BrokenTextGivesNothing) {
  EXPECT_EQ("", XfconfDesktopImage("<channel><property name=\"backdrop\"><property name="));
  EXPECT_EQ("", XfconfDesktopImage(""));
}

// ---- PCManFM ----

TEST(PcmanfmWallpaper, ReadsTheWallpaperLineNotItsNeighbours) {
  EXPECT_EQ("/usr/share/backgrounds/winter.jpg",
            PcmanfmWallpaper("[*]\nwallpaper_mode=stretch\nwallpaper_common=1\n"
                             "  wallpaper = /usr/share/backgrounds/winter.jpg  \nwallpapers_configured=1\n"));
  EXPECT_EQ("", PcmanfmWallpaper("[*]\nwallpaper_mode=color\nwallpaper=\n"));
}

// ---- feh ----

TEST(FehWallpaper, TakesTheLastPictureAndUndoesQuoteEscapes) {
  EXPECT_EQ("/home/me/it's snow.jpg",
            FehWallpaper(
                "#!/bin/sh\nfeh --no-fehbg --bg-scale '/home/me/first.png' '/home/me/it'\\''s snow.jpg' \n"));
  EXPECT_EQ("", FehWallpaper("feh --bg-fill 'relative.png'\n"));
  EXPECT_EQ("", FehWallpaper("feh --bg-fill '/unterminated.png"));
}

// ---- URIs ----

TEST(WallpaperUri, FileUrisBecomeLocalPaths) {
  EXPECT_EQ("/usr/share/backgrounds/a b.jpg", PathFromUri("file:///usr/share/backgrounds/a%20b.jpg"));
  EXPECT_EQ("/x/y.png", PathFromUri("file://localhost/x/y.png"));
  EXPECT_EQ("/plain/path.png", PathFromUri("/plain/path.png"));
}

TEST(WallpaperUri, OtherMachinesSchemesAndZeroBytesGiveNothing) {
  EXPECT_EQ("", PathFromUri("file://server/share/a.jpg"));
  EXPECT_EQ("", PathFromUri("https://example.org/a.jpg"));
  EXPECT_EQ("", PathFromUri("file:///a%00.jpg"));
  EXPECT_EQ("", PathFromUri("file://"));
}

// ---- which source wins ----

class SettingsHome : public ::testing::Test {
 protected:
  SettingsHome() {
    char pattern[] = "/tmp/ds-wallpaper-XXXXXX";
    root_ = mkdtemp(pattern);
    places_.home = root_ + "/home";
    places_.configHome = root_ + "/home/.config";
  }
  ~SettingsHome() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  void Write(const std::string& relative, const std::string& text) {
    const fs::path p = fs::path(places_.home) / relative;
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
  }
  std::string root_;
  SettingsPlaces places_;
};

TEST_F(SettingsHome, XfceComesBeforePcmanfmAndFeh) {
  Write(".config/xfce4/xfconf/xfce-perchannel-xml/xfce4-desktop.xml", kXfconf);
  Write(".config/pcmanfm/default/desktop-items-0.conf", "[*]\nwallpaper=/pcmanfm.jpg\n");
  Write(".fehbg", "feh --bg-scale '/feh.jpg'\n");
  EXPECT_EQ("/pictures/snow & ice.jpg", DesktopWallpaper(places_));
}

TEST_F(SettingsHome, PcmanfmsDefaultProfileComesBeforeOthers) {
  Write(".config/pcmanfm/LXDE/desktop-items-0.conf", "[*]\nwallpaper=/lxde.jpg\n");
  EXPECT_EQ("/lxde.jpg", DesktopWallpaper(places_));
  Write(".config/pcmanfm/default/desktop-items-0.conf", "[*]\nwallpaper=/default.jpg\n");
  EXPECT_EQ("/default.jpg", DesktopWallpaper(places_));
}

TEST_F(SettingsHome, FehIsTheLastResortAndNothingGivesNothing) {
  EXPECT_EQ("", DesktopWallpaper(places_));
  Write(".fehbg", "feh --bg-scale '/feh.jpg'\n");
  EXPECT_EQ("/feh.jpg", DesktopWallpaper(places_));
}

// ---- the registry ----

TEST(CompleteWallpaper, AWallpaperInTheRegistryStaysEvenWhenEmpty) {
  plat::soft::SoftRegistry reg;
  reg.SetString(plat::HKEY_CURRENT_USER, "Control Panel\\Desktop", "WallPaper", "");
  EXPECT_EQ("", CompleteWallpaper(reg, "/desktop.jpg", "/bundled.jpg"));
  auto v = reg.GetValue(plat::HKEY_CURRENT_USER, "Control Panel\\Desktop", "WallPaper");
  ASSERT_TRUE(v);
  EXPECT_EQ(std::vector<plat::BYTE>{0}, v->data);
}

TEST(CompleteWallpaper, TheDesktopsPictureComesBeforeTheBundledOne) {
  plat::soft::SoftRegistry reg;
  EXPECT_EQ("/desktop.jpg", CompleteWallpaper(reg, "/desktop.jpg", "/bundled.jpg"));
  plat::soft::SoftRegistry empty;
  EXPECT_EQ("/bundled.jpg", CompleteWallpaper(empty, "", "/bundled.jpg"));
  auto v = empty.GetValue(plat::HKEY_CURRENT_USER, "Control Panel\\Desktop", "WallPaper");
  ASSERT_TRUE(v);
  EXPECT_EQ(plat::REG_SZ, v->type);
}

}  // namespace

#endif  // DS_HAVE_X11
