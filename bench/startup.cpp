// The user's wait for the first snow: from the program's start to its first frame on the screen, headless at
// 1920x1080, with three wallpapers made here (a 1920x1200 JPEG, a 1920x1200 PNG and a 3840x2160 JPEG),
// beside the decoding of each wallpaper alone (reading the file and making its pixels, in this process),
// and the peak resident memory of a 600-frame run with each.
//
// The program is run as its own process with --stats, which reports the time from its start (its first
// static initialiser) to the first frame presented, and its peak resident memory; the system's own time
// to load the program before that is not counted. Times are medians of several runs. The last line reads
// "first frame: A ms, B ms, C ms; decode: D ms, E ms, F ms; rss: R MB, S MB, T MB" (MB = 10^6 bytes).
//
//   startup [runs]   runs of each timing, default 7
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

// After <cstdio>: the library header needs FILE and size_t.
#include <jpeglib.h>
#include <png.h>

#include "picture/Graphics.h"
#include "picture/jpeg/jpeg.h"
#include "picture/pngimage/pngimage.h"
#include "platform/soft/SoftPlatform.h"

namespace {

namespace fs = std::filesystem;

struct Wallpaper {
  const char* label;
  int width, height;
  bool png;
  std::string file, registry;
  double firstFrame = 0, decode = 0, rss = 0;
};

// A photo-like picture: a sky gradient over rolling hills with soft bands and a little grain, so the files
// compress and decode like real wallpapers.
void Pixel(int x, int y, int w, int h, std::uint8_t rgb[3]) {
  const double u = double(x) / w, v = double(y) / h;
  const double hill = 0.55 + 0.08 * std::sin(u * 9.0) + 0.04 * std::sin(u * 23.0 + 1.0);
  std::uint32_t g = std::uint32_t(x) * 2654435761u ^ std::uint32_t(y) * 40503u;
  g ^= g >> 15;
  const int grain = int(g & 7) - 3;
  double r, gr, b;
  if (v < hill) {
    r = 70 + 120 * v, gr = 110 + 100 * v, b = 190 + 50 * v;
  } else {
    const double band = 0.5 + 0.5 * std::sin((v - hill) * 60.0 + u * 7.0);
    r = 200 + 40 * band, gr = 210 + 35 * band, b = 225 + 25 * band;
  }
  const double c[3] = {r, gr, b};
  for (int i = 0; i < 3; ++i) rgb[i] = std::uint8_t(std::clamp(int(c[i]) + grain, 0, 255));
}

void WriteJpeg(const std::string& path, int w, int h) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  jpeg_stdio_dest(&c, f);
  c.image_width = JDIMENSION(w);
  c.image_height = JDIMENSION(h);
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<std::uint8_t> row(std::size_t(w) * 3);
  while (c.next_scanline < c.image_height) {
    for (int x = 0; x < w; ++x) Pixel(x, int(c.next_scanline), w, h, &row[std::size_t(x) * 3]);
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&c, &p, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::fclose(f);
}

void WritePng(const std::string& path, int w, int h) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    throw std::runtime_error("cannot write " + path);
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<std::uint8_t> row(std::size_t(w) * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) Pixel(x, y, w, h, &row[std::size_t(x) * 3]);
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
}

void WriteRegistry(const std::string& path, const std::string& wallpaper) {
  std::string escaped;
  for (char c : wallpaper) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  std::ofstream(path) << "Windows Registry Editor Version 5.00\n\n"
                      << "[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"
                      << "\"WallPaper\"=\"" << escaped << "\"\n";
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n == 0 ? 0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

// The file read and turned into pixels, as the program does at start-up.
double DecodeMs(const std::string& file) {
  const auto t0 = std::chrono::steady_clock::now();
  TPicture picture;
  picture.LoadPictureFile(file);
  if (auto* jpeg = dynamic_cast<TJPEGImage*>(picture.Graphic())) jpeg->DecodeToBitmap();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

std::string Quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs the program headless with --stats; reads its "First frame after X ms; peak memory Y MB" line.
bool RunProgram(const Wallpaper& w, int frames, const std::string& out, double& firstFrame, double& rss) {
  const std::string cmd = Quoted(DS_PROGRAM) + " --headless --screen 1920x1080 --seed 7 --stats --frames " +
                          std::to_string(frames) + " --registry " + Quoted(w.registry) + " > " + Quoted(out) +
                          " 2>&1";
  if (std::system(cmd.c_str()) != 0) return false;
  std::ifstream in(out);
  std::string line;
  while (std::getline(in, line))
    if (std::sscanf(line.c_str(), "First frame after %lf ms; peak memory %lf MB", &firstFrame, &rss) == 2)
      return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  std::random_device seed;
  const fs::path dir = fs::temp_directory_path() / ("desktop-snow-startup-" + std::to_string(seed()));
  fs::create_directories(dir);
  std::vector<Wallpaper> walls = {{"1920x1200 JPEG", 1920, 1200, false, "", ""},
                                  {"1920x1200 PNG", 1920, 1200, true, "", ""},
                                  {"3840x2160 JPEG", 3840, 2160, false, "", ""}};
  int status = 0;
  try {
    for (std::size_t i = 0; i < walls.size(); ++i) {
      Wallpaper& w = walls[i];
      w.file = (dir / ("wallpaper" + std::to_string(i) + (w.png ? ".png" : ".jpg"))).string();
      w.registry = (dir / ("wallpaper" + std::to_string(i) + ".reg")).string();
      if (w.png)
        WritePng(w.file, w.width, w.height);
      else
        WriteJpeg(w.file, w.width, w.height);
      WriteRegistry(w.registry, w.file);
    }

    {
      plat::soft::SoftOptions o;
      o.screenWidth = 1920;
      o.screenHeight = 1080;
      plat::soft::SoftPlatform platform(o);
      InitJpegUnit();
      InitPngUnit();
      for (Wallpaper& w : walls) {
        std::vector<double> t;
        DecodeMs(w.file);  // the file into the page cache, as a wallpaper read before usually is
        for (int r = 0; r < runs; ++r) t.push_back(DecodeMs(w.file));
        w.decode = Median(t);
      }
    }

    const std::string out = (dir / "run.txt").string();
    for (Wallpaper& w : walls) {
      std::vector<double> t;
      double first = 0, rss = 0;
      for (int r = 0; r < runs; ++r) {
        if (!RunProgram(w, 1, out, first, rss)) throw std::runtime_error("the program failed with " + w.file);
        t.push_back(first);
      }
      w.firstFrame = Median(t);
      if (!RunProgram(w, 600, out, first, w.rss))
        throw std::runtime_error("the program failed with " + w.file);
      std::printf("%-15s first frame %7.1f ms (decode + %.1f ms); decode %7.1f ms; peak memory %6.1f MB\n",
                  w.label, w.firstFrame, w.firstFrame - w.decode, w.decode, w.rss);
    }
    std::printf(
        "first frame: %.1f ms, %.1f ms, %.1f ms; decode: %.1f ms, %.1f ms, %.1f ms; rss: %.1f MB, %.1f MB, "
        "%.1f MB\n",
        walls[0].firstFrame, walls[1].firstFrame, walls[2].firstFrame, walls[0].decode, walls[1].decode,
        walls[2].decode, walls[0].rss, walls[1].rss, walls[2].rss);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "startup: %s\n", e.what());
    status = 1;
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return status;
}
