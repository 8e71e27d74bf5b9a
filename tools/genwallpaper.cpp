// Paints the bundled winter wallpaper (sky, distant hills, snowy ground, a few pine trees) and writes it as a
// 1920x1080 JPEG. Everything is computed from fixed numbers, so every run writes the same picture.
//
//   genwallpaper OUTPUT.jpg
#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kQuality = 88;

struct Rgb {
  double r, g, b;
};

Rgb Mix(const Rgb& a, const Rgb& b, double t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

double Clamp01(double v) {
  return v < 0 ? 0 : (v > 1 ? 1 : v);
}

class Canvas {
 public:
  Canvas() : px_(static_cast<std::size_t>(kWidth) * kHeight) {}
  Rgb& At(int x, int y) { return px_[static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x)]; }
  // Covers pixel (x, y) with colour c by coverage a; out-of-picture pixels are ignored.
  void Blend(int x, int y, const Rgb& c, double a) {
    if (x < 0 || y < 0 || x >= kWidth || y >= kHeight || a <= 0) return;
    Rgb& p = At(x, y);
    p = Mix(p, c, Clamp01(a));
  }
  std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> out;
    out.reserve(px_.size() * 3);
    for (const Rgb& p : px_) {
      for (double v : {p.r, p.g, p.b})
        out.push_back(static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0))));
    }
    return out;
  }

 private:
  std::vector<Rgb> px_;
};

// A small deterministic generator for tree placement (not the program's random generator).
struct Lcg {
  std::uint32_t s;
  double Next() {
    s = s * 1664525u + 1013904223u;
    return (s >> 8) / 16777216.0;
  }
};

// Height of a ridge line at column x: a sum of slow waves, so hills look rolling rather than jagged.
double Ridge(double base, const double (*waves)[3], int count, double x) {
  double h = base;
  for (int i = 0; i < count; ++i) h += waves[i][0] * std::sin(x * waves[i][1] + waves[i][2]);
  return h;
}

const double kFarWaves[][3] = {{38, 0.0029, 0.6}, {21, 0.0093, 1.9}, {8, 0.027, 0.3}, {3, 0.071, 2.2}};
const double kNearWaves[][3] = {{30, 0.0041, 2.3}, {16, 0.0118, 0.8}, {5, 0.033, 1.4}};
const double kGroundWaves[][3] = {{14, 0.0023, 4.1}, {7, 0.0089, 0.2}};

void PaintSkyAndLand(Canvas& c) {
  const Rgb skyTop{24, 42, 88}, skyLow{176, 196, 224};
  const Rgb farHill{112, 132, 168}, farHaze{150, 168, 200};
  const Rgb nearHill{196, 210, 232}, nearShade{160, 178, 208};
  const Rgb snow{240, 245, 252}, snowShade{198, 212, 236};
  for (int x = 0; x < kWidth; ++x) {
    const double far = Ridge(585, kFarWaves, 4, x);
    const double near = Ridge(680, kNearWaves, 3, x);
    const double ground = Ridge(790, kGroundWaves, 2, x);
    for (int y = 0; y < kHeight; ++y) {
      // Sky: dark at the top, pale toward the horizon, with a faint glow low on the left.
      const double t = std::pow(Clamp01(y / 700.0), 0.8);
      Rgb p = Mix(skyTop, skyLow, t);
      const double gx = (x - 430) / 520.0, gy = (y - 560) / 300.0;
      p = Mix(p, Rgb{236, 226, 214}, 0.45 * std::exp(-(gx * gx + gy * gy)));
      // Each layer covers what lies behind it, with a one-pixel soft edge.
      p = Mix(p, Mix(farHill, farHaze, Clamp01((y - far) / 220.0)), Clamp01(y - far + 0.5));
      const double nearLight = 0.5 + 0.5 * std::sin(x * 0.006 + y * 0.01);
      p = Mix(p, Mix(nearShade, nearHill, nearLight), Clamp01(y - near + 0.5));
      const double drift =
          0.5 + 0.25 * std::sin(x * 0.004 - y * 0.011 + 0.7) + 0.25 * std::sin(x * 0.0013 + 2.0);
      const double depth = Clamp01((y - ground) / 300.0);
      p = Mix(p, Mix(snow, snowShade, 0.55 * drift * (0.4 + 0.6 * depth)), Clamp01(y - ground + 0.5));
      c.At(x, y) = p;
    }
  }
}

// A pine: a trunk and stacked tiers narrowing upwards; each tier carries snow along its sloping top edges.
void PaintPine(Canvas& c, double cx, double baseY, double height, double haze) {
  const Rgb needles = Mix(Rgb{22, 56, 44}, Rgb{150, 168, 200}, haze);
  const Rgb trunk = Mix(Rgb{70, 48, 34}, Rgb{150, 168, 200}, haze);
  const Rgb snow = Mix(Rgb{244, 248, 255}, Rgb{200, 212, 234}, haze * 0.6);
  const double trunkH = height * 0.12, trunkW = height * 0.05;
  for (int y = static_cast<int>(baseY - trunkH - 2); y <= static_cast<int>(baseY); ++y) {
    for (int x = static_cast<int>(cx - trunkW); x <= static_cast<int>(cx + trunkW); ++x) {
      c.Blend(x, y, trunk, Clamp01(trunkW / 2 - std::fabs(x - cx) + 0.5));
    }
  }
  const int tiers = 5;
  const double crownBottom = baseY - trunkH, crownH = height - trunkH;
  for (int i = 0; i < tiers; ++i) {
    // Tiers overlap by half; lower tiers are wider.
    const double top = crownBottom - crownH * (i + 1.6) / (tiers + 0.6);
    const double bottom = crownBottom - crownH * i / (tiers + 0.6) * 0.98;
    const double halfW = height * 0.33 * (1.0 - 0.16 * i);
    const double slope = halfW / (bottom - top);
    for (int y = static_cast<int>(top) - 1; y <= static_cast<int>(bottom) + 1; ++y) {
      const double w = (y - top) * slope;
      if (w <= 0) continue;
      for (int x = static_cast<int>(cx - w - 2); x <= static_cast<int>(cx + w + 2); ++x) {
        const double inside = std::min(w - std::fabs(x - cx), bottom - y);  // distance to the tier's edge
        const double a = Clamp01(inside + 0.5);
        if (a <= 0) continue;
        // Snow lies in a band along the sloping edges, thicker near the tier's top.
        const double band = 2.0 + 0.08 * height * (1.0 - (y - top) / (bottom - top));
        const double snowy =
            Clamp01(band - inside) * (0.8 + 0.2 * std::sin(x * 0.31 + 1.3 * std::sin(y * 0.23)));
        c.Blend(x, y, Mix(needles, snow, snowy), a);
      }
    }
  }
}

void PaintTrees(Canvas& c) {
  Lcg rng{20261208u};
  // A thin line of small, hazy trees on the nearer hills, then a few large pines in the foreground.
  for (int i = 0; i < 26; ++i) {
    const double x = 40 + i * 73 + rng.Next() * 40;
    const double base = Ridge(680, kNearWaves, 3, x) + 6;
    PaintPine(c, x, base, 34 + rng.Next() * 26, 0.55);
  }
  const double large[][2] = {{180, 300}, {330, 210}, {1390, 340}, {1560, 250}, {1700, 380}, {1230, 170}};
  for (const auto& t : large) {
    const double base = Ridge(790, kGroundWaves, 2, t[0]) + t[1] * 0.35;
    PaintPine(c, t[0], base, t[1], 0.0);
  }
}

struct ErrorJump {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

void OnJpegError(j_common_ptr cinfo) {
  ErrorJump* err = reinterpret_cast<ErrorJump*>(cinfo->err);
  (*cinfo->err->output_message)(cinfo);
  std::longjmp(err->jump, 1);
}

// Encodes 8-bit RGB rows; false when the library reports an error. Only plain data lives in this frame,
// because the error path leaves it by a long jump.
bool WriteJpeg(std::FILE* file, const std::uint8_t* rgb) {
  jpeg_compress_struct cinfo;
  ErrorJump err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnJpegError;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = kWidth;
  cinfo.image_height = kHeight;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, kQuality, TRUE);
  cinfo.optimize_coding = TRUE;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb + static_cast<std::size_t>(cinfo.next_scanline) * kWidth * 3);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: genwallpaper OUTPUT.jpg\n");
    return 2;
  }
  Canvas canvas;
  PaintSkyAndLand(canvas);
  PaintTrees(canvas);
  const std::vector<std::uint8_t> rgb = canvas.Bytes();
  std::FILE* f = std::fopen(argv[1], "wb");
  if (!f) {
    std::fprintf(stderr, "genwallpaper: cannot create %s\n", argv[1]);
    return 1;
  }
  const bool ok = WriteJpeg(f, rgb.data());
  if (std::fclose(f) != 0 || !ok) {
    std::fprintf(stderr, "genwallpaper: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
