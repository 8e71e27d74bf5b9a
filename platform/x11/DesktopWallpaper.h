// The wallpaper a Linux desktop's own settings name, so that the program paints the same picture the
// desktop shows. Sources, the first that names a picture wins:
//   1. Xfce: xfconf's xfce4-desktop channel as saved in xfce4-desktop.xml, the "last-image" of the first
//      monitor's first workspace of screen 0;
//   2. PCManFM (LXDE, LXQt's desktop): "wallpaper=" of pcmanfm/<profile>/desktop-items-0.conf, the
//      "default" profile first;
//   3. GNOME, Cinnamon and MATE through GSettings: the background's picture URI ("picture-uri-dark" under a
//      dark colour scheme) or MATE's file name; a value the user set, or any value within that desktop's
//      own session;
//   4. feh: the last picture named in ~/.fehbg.
// Each reader takes the text of its settings file; DesktopWallpaper() finds the files.
#pragma once

#include <string>

namespace plat::x11 {

// Where the user's settings live.
struct SettingsPlaces {
  std::string home;            // $HOME
  std::string configHome;      // $XDG_CONFIG_HOME, else $HOME/.config
  std::string currentDesktop;  // $XDG_CURRENT_DESKTOP (colon-separated names)
};

// From the environment.
SettingsPlaces UserSettingsPlaces();

// The picture the desktop shows, "" when no source names one.
std::string DesktopWallpaper(const SettingsPlaces& places);

// ---- the readers, one per kind of settings text ("" when it names no picture) ----
std::string XfconfDesktopImage(const std::string& channelXml);
std::string PcmanfmWallpaper(const std::string& desktopItemsConf);
std::string FehWallpaper(const std::string& fehbg);
// A file: URI as a local path (percent escapes decoded); a plain path unchanged; "" for other URIs.
std::string PathFromUri(const std::string& uri);

}  // namespace plat::x11
