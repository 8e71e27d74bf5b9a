#include "platform/x11/DesktopWallpaper.h"

#include <gio/gio.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace plat::x11 {

namespace {

namespace fs = std::filesystem;

// Settings files are small; anything larger is not one.
constexpr std::uintmax_t kMaxSettingsFile = 1u << 20;

std::string ReadSmallFile(const fs::path& p) {
  std::error_code ec;
  if (!fs::is_regular_file(p, ec) || fs::file_size(p, ec) > kMaxSettingsFile || ec) return std::string();
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

// The value of attribute `name` in one XML start tag; false when the tag has none.
bool Attribute(const std::string& tag, const std::string& name, std::string& value) {
  std::size_t at = 0;
  while ((at = tag.find(name, at)) != std::string::npos) {
    const bool startsWord = at == 0 || std::isspace(static_cast<unsigned char>(tag[at - 1]));
    std::size_t p = at + name.size();
    while (p < tag.size() && std::isspace(static_cast<unsigned char>(tag[p]))) ++p;
    if (startsWord && p < tag.size() && tag[p] == '=') {
      ++p;
      while (p < tag.size() && std::isspace(static_cast<unsigned char>(tag[p]))) ++p;
      if (p < tag.size() && (tag[p] == '"' || tag[p] == '\'')) {
        const char quote = tag[p];
        const std::size_t end = tag.find(quote, p + 1);
        if (end == std::string::npos) return false;
        value = tag.substr(p + 1, end - p - 1);
        return true;
      }
    }
    at += name.size();
  }
  return false;
}

// The five predefined entities and numeric character references (ASCII ones; others are kept as written).
std::string XmlText(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '&') {
      out += s[i];
      continue;
    }
    const std::size_t semi = s.find(';', i);
    if (semi == std::string::npos) {
      out += s.substr(i);
      break;
    }
    const std::string ent = s.substr(i + 1, semi - i - 1);
    if (ent == "amp")
      out += '&';
    else if (ent == "lt")
      out += '<';
    else if (ent == "gt")
      out += '>';
    else if (ent == "quot")
      out += '"';
    else if (ent == "apos")
      out += '\'';
    else if (ent.size() > 1 && ent[0] == '#') {
      const long code = ent[1] == 'x' ? std::strtol(ent.c_str() + 2, nullptr, 16)
                                      : std::strtol(ent.c_str() + 1, nullptr, 10);
      if (code > 0 && code < 128)
        out += static_cast<char>(code);
      else
        out += "&" + ent + ";";
    } else {
      out += "&" + ent + ";";
    }
    i = semi;
  }
  return out;
}

std::string GSettingsString(const char* schemaId, const char* key, bool userOnly) {
  GSettingsSchemaSource* source = g_settings_schema_source_get_default();
  if (!source) return std::string();
  GSettingsSchema* schema = g_settings_schema_source_lookup(source, schemaId, TRUE);
  if (!schema) return std::string();
  std::string out;
  if (g_settings_schema_has_key(schema, key)) {
    GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
    GVariant* v = userOnly ? g_settings_get_user_value(settings, key) : g_settings_get_value(settings, key);
    if (v && g_variant_is_of_type(v, G_VARIANT_TYPE_STRING)) out = g_variant_get_string(v, nullptr);
    if (v) g_variant_unref(v);
    g_object_unref(settings);
  }
  g_settings_schema_unref(schema);
  return out;
}

bool SessionIs(const std::string& currentDesktop, const char* name) {
  std::string lower = currentDesktop, want = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (char& c : want) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::stringstream parts(lower);
  std::string part;
  while (std::getline(parts, part, ':'))
    if (part == want) return true;
  return false;
}

std::string GnomeFamilyWallpaper(const SettingsPlaces& places) {
  struct Source {
    const char* desktop;
    const char* schema;
    const char* key;
    const char* darkKey;  // null: none
    const char* schemeSchema;
  };
  const Source sources[] = {
      {"GNOME", "org.gnome.desktop.background", "picture-uri", "picture-uri-dark",
       "org.gnome.desktop.interface"},
      {"X-Cinnamon", "org.cinnamon.desktop.background", "picture-uri", nullptr, nullptr},
      {"MATE", "org.mate.background", "picture-filename", nullptr, nullptr},
  };
  for (const Source& s : sources) {
    const bool own = SessionIs(places.currentDesktop, s.desktop);
    std::string key = s.key;
    if (s.darkKey && GSettingsString(s.schemeSchema, "color-scheme", false) == "prefer-dark") key = s.darkKey;
    std::string value = GSettingsString(s.schema, key.c_str(), !own);
    if (value.empty() && key != s.key) value = GSettingsString(s.schema, s.key, !own);
    const std::string path = PathFromUri(value);
    if (!path.empty()) return path;
  }
  return std::string();
}

}  // namespace

SettingsPlaces UserSettingsPlaces() {
  SettingsPlaces p;
  if (const char* h = std::getenv("HOME")) p.home = h;
  if (const char* c = std::getenv("XDG_CONFIG_HOME"); c && *c)
    p.configHome = c;
  else if (!p.home.empty())
    p.configHome = p.home + "/.config";
  if (const char* d = std::getenv("XDG_CURRENT_DESKTOP")) p.currentDesktop = d;
  return p;
}

std::string XfconfDesktopImage(const std::string& xml) {
  // Nested <property name="..."> elements; the path of names leads to the value. The first monitor is the
  // first monitor property of screen0 in the file, whatever it is called (monitor0, monitorHDMI-1 ...).
  std::vector<std::string> path;
  std::size_t at = 0;
  while ((at = xml.find('<', at)) != std::string::npos) {
    const std::size_t end = xml.find('>', at);
    if (end == std::string::npos) break;
    std::string tag = xml.substr(at + 1, end - at - 1);
    at = end + 1;
    if (tag.rfind("/property", 0) == 0) {
      if (!path.empty()) path.pop_back();
      continue;
    }
    if (tag.rfind("property", 0) != 0 || tag.size() <= 8 || !std::isspace(static_cast<unsigned char>(tag[8])))
      continue;
    const bool empty = !tag.empty() && tag.back() == '/';
    std::string name;
    if (!Attribute(tag, "name", name)) name.clear();
    path.push_back(name);
    const bool wanted = path.size() == 5 && path[0] == "backdrop" && path[1] == "screen0" &&
                        path[2].rfind("monitor", 0) == 0 && path[3] == "workspace0" &&
                        path[4] == "last-image";
    std::string value;
    if (wanted && Attribute(tag, "value", value)) {
      const std::string image = XmlText(value);
      if (!image.empty()) return image;
    }
    if (empty) path.pop_back();
  }
  return std::string();
}

std::string PcmanfmWallpaper(const std::string& conf) {
  std::stringstream lines(conf);
  std::string line;
  while (std::getline(lines, line)) {
    const std::string t = Trim(line);
    const std::size_t eq = t.find('=');
    if (eq == std::string::npos || Trim(t.substr(0, eq)) != "wallpaper") continue;
    const std::string value = Trim(t.substr(eq + 1));
    if (!value.empty()) return value;
  }
  return std::string();
}

std::string FehWallpaper(const std::string& fehbg) {
  // feh writes: feh --no-fehbg --bg-scale '/path/one.jpg' '/path/two.jpg' (one picture per monitor), with
  // a quote in a name written as '\''.
  std::string last, current;
  bool quoted = false;
  for (std::size_t i = 0; i < fehbg.size(); ++i) {
    const char c = fehbg[i];
    if (quoted) {
      if (c == '\'') {
        quoted = false;
        if (fehbg.compare(i, 4, "'\\''") == 0) {
          current += '\'';
          i += 3;
          quoted = true;
          continue;
        }
        last = current;
      } else {
        current += c;
      }
    } else if (c == '\'') {
      quoted = true;
      current.clear();
    }
  }
  return !last.empty() && last[0] == '/' ? last : std::string();
}

std::string PathFromUri(const std::string& uri) {
  if (uri.empty()) return std::string();
  if (uri[0] == '/') return uri;
  if (uri.rfind("file://", 0) != 0) return std::string();
  std::string rest = uri.substr(7);
  // file://host/path: only this machine's files ("localhost" or no host).
  if (rest.rfind("localhost/", 0) == 0) rest = rest.substr(9);
  if (rest.empty() || rest[0] != '/') return std::string();
  std::string out;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size() && std::isxdigit(static_cast<unsigned char>(rest[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(rest[i + 2]))) {
      const char hex[3] = {rest[i + 1], rest[i + 2], 0};
      const char c = static_cast<char>(std::strtol(hex, nullptr, 16));
      if (c == '\0') return std::string();  // a name cannot hold a zero byte
      out += c;
      i += 2;
    } else {
      out += rest[i];
    }
  }
  return out;
}

std::string DesktopWallpaper(const SettingsPlaces& places) {
  if (!places.configHome.empty()) {
    const fs::path config = places.configHome;
    std::string image = XfconfDesktopImage(
        ReadSmallFile(config / "xfce4" / "xfconf" / "xfce-perchannel-xml" / "xfce4-desktop.xml"));
    if (!image.empty()) return image;
    // PCManFM's profile is "default" unless a session names another (LXDE's is "LXDE").
    std::vector<fs::path> profiles{config / "pcmanfm" / "default"};
    // Stepping with an error code: a folder that cannot be listed must not stop the program starting.
    std::error_code ec;
    for (fs::directory_iterator it(config / "pcmanfm", ec), end; !ec && it != end; it.increment(ec)) {
      if (it->path().filename() != "default") profiles.push_back(it->path());
    }
    std::sort(profiles.begin() + 1, profiles.end());
    for (const fs::path& profile : profiles) {
      image = PcmanfmWallpaper(ReadSmallFile(profile / "desktop-items-0.conf"));
      if (!image.empty()) return image;
    }
  }
  // GSettings keeps the user's values in dconf's database; without one there are none to find (and asking
  // would only print that the settings fall back to memory).
  std::error_code ec;
  std::string image;
  if (!places.configHome.empty() && fs::is_regular_file(fs::path(places.configHome) / "dconf" / "user", ec))
    image = GnomeFamilyWallpaper(places);
  if (!image.empty()) return image;
  if (!places.home.empty()) {
    image = FehWallpaper(ReadSmallFile(fs::path(places.home) / ".fehbg"));
    if (!image.empty()) return image;
  }
  return std::string();
}

}  // namespace plat::x11
