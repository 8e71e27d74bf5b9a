// Decoding time of the picture readers against the reference decoders, on the same wallpaper-sized files in
// the same run: 1920x1200 PNGs (8-bit RGB, RGBA, palette, interlaced RGB) and 1920x1200 JPEGs (baseline and
// progressive), all made here. Ours is the program's own path: the picture kind reads the file and holds
// the decoded pixels in its bitmap or image store. The reference decoders write into a buffer allocated for
// each decode, as their callers do.
//
// A wallpaper is decoded once, at start, when every large buffer on either side is fresh memory from the
// system. Decoding one file over and over in a process is different: after the first large free the C
// library keeps such buffers in its heap and hands the reference decoder its last output buffer back, still
// in the cache, while our picture store is always fresh. Both tables are printed; the summary line comes
// from the one as at start (the C library's mapping threshold held at its starting value).
//
//   decode [benchmark options]   the table as at start, the individual benchmarks (also as at start), the
//                                table with the heap reused, then the summary line
//
// The last line is `png: P x libpng; jpeg: J x libjpeg-turbo`, the geometric means of our time over theirs
// in the decode as at start.
#include <benchmark/benchmark.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <jpeglib.h>
#include <zlib.h>

#if __has_include(<png.h>)
#include <png.h>
#define DS_HAVE_LIBPNG 1
#else
#define DS_HAVE_LIBPNG 0
#endif

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "picture/jpeg/jpeg.h"
#include "picture/pngimage/pngimage.h"
#include "platform/soft/SoftPlatform.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int Width = 1920, Height = 1200;

// ---- Test files ---------------------------------------------------------------------------------------

// Photo-like samples: smooth gradients with a little noise, so the files compress like real pictures.
std::uint8_t Sample(int x, int y, int c) {
  std::uint32_t h =
      std::uint32_t(x) * 73856093u ^ std::uint32_t(y) * 19349663u ^ std::uint32_t(c) * 83492791u;
  h ^= h >> 13;
  return std::uint8_t((x * (c + 1) / 9 + y * (3 - c) / 11 + (x * y >> 12) + int(h & 7)) & 0xFF);
}

void PutBE32(Bytes& b, std::uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(std::uint8_t(v >> s));
}

void AddChunk(Bytes& file, const char* type, const Bytes& data) {
  PutBE32(file, std::uint32_t(data.size()));
  file.insert(file.end(), type, type + 4);
  file.insert(file.end(), data.begin(), data.end());
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
  if (!data.empty()) crc = crc32(crc, data.data(), uInt(data.size()));
  PutBE32(file, std::uint32_t(crc));
}

int Paeth(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
}

// Appends one row filtered with filter type ft (bpp bytes per pixel); prev is the unfiltered row above.
void FilterRow(int ft, int bpp, const Bytes& prev, const Bytes& cur, Bytes& out) {
  out.push_back(std::uint8_t(ft));
  for (std::size_t i = 0; i < cur.size(); ++i) {
    const int a = i >= std::size_t(bpp) ? cur[i - bpp] : 0, b = prev[i],
              c = i >= std::size_t(bpp) ? prev[i - bpp] : 0;
    const int pred = ft == 1 ? a : ft == 2 ? b : ft == 3 ? (a + b) / 2 : ft == 4 ? Paeth(a, b, c) : 0;
    out.push_back(std::uint8_t(cur[i] - pred));
  }
}

// An 8-bit PNG of colour type 2, 6 or 3, optionally Adam7-interlaced; rows use every filter type in turn.
Bytes MakePng(int colorType, bool interlaced) {
  const int channels = colorType == 2 ? 3 : colorType == 6 ? 4 : 1;
  auto pixel = [&](int x, int y, int c) -> std::uint8_t {
    if (colorType == 3) return std::uint8_t((Sample(x, y, 0) + Sample(x, y, 1)) / 2);
    if (c == 3) return std::uint8_t(255 - (x + y) * 255 / (Width + Height));
    return Sample(x, y, c);
  };
  Bytes raw;
  auto pass = [&](int x0, int y0, int dx, int dy) {
    if (x0 >= Width || y0 >= Height) return;
    const int w = (Width - x0 + dx - 1) / dx;
    Bytes prev(std::size_t(w) * channels, 0), cur(prev.size());
    for (int y = y0, n = 0; y < Height; y += dy, ++n) {
      for (int k = 0; k < w; ++k)
        for (int c = 0; c < channels; ++c) cur[std::size_t(k) * channels + c] = pixel(x0 + k * dx, y, c);
      FilterRow(n % 5, channels, prev, cur, raw);
      prev = cur;
    }
  };
  if (interlaced) {
    const int p[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                         {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    for (auto& q : p) pass(q[0], q[1], q[2], q[3]);
  } else {
    pass(0, 0, 1, 1);
  }
  uLongf zsize = compressBound(uLong(raw.size()));
  Bytes z(zsize);
  if (compress2(z.data(), &zsize, raw.data(), uLong(raw.size()), 6) != Z_OK) std::abort();
  z.resize(zsize);

  Bytes file = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Bytes ihdr;
  PutBE32(ihdr, Width);
  PutBE32(ihdr, Height);
  for (int v : {8, colorType, 0, 0, interlaced ? 1 : 0}) ihdr.push_back(std::uint8_t(v));
  AddChunk(file, "IHDR", ihdr);
  if (colorType == 3) {
    Bytes plte;
    for (int i = 0; i < 256; ++i)
      plte.insert(plte.end(), {std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i * 7)});
    AddChunk(file, "PLTE", plte);
  }
  for (std::size_t i = 0; i < z.size(); i += 65536)  // IDAT chunks of the usual writers' size
    AddChunk(file, "IDAT", Bytes(z.begin() + long(i), z.begin() + long(std::min(z.size(), i + 65536))));
  AddChunk(file, "IEND", {});
  return file;
}

Bytes MakeJpeg(bool progressive) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = Width;
  c.image_height = Height;
  c.input_components = 3;
  c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  Bytes row(std::size_t(Width) * 3);
  for (int y = 0; y < Height; ++y) {
    for (int x = 0; x < Width; ++x)
      for (int ch = 0; ch < 3; ++ch) row[std::size_t(x) * 3 + ch] = Sample(x, y, ch);
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  Bytes file(out, out + size);
  jpeg_destroy_compress(&c);
  std::free(out);
  return file;
}

// ---- Decoders -----------------------------------------------------------------------------------------

void OursPng(const Bytes& file) {
  TPNGObject image;
  TReadOnlyMemoryStream in(file.data(), file.size());
  image.ReadGraphicStream(in);
  benchmark::DoNotOptimize(image.PixelAt(Width - 1, Height - 1));
}

void OursJpeg(const Bytes& file) {
  TJPEGImage image;
  TReadOnlyMemoryStream in(file.data(), file.size());
  image.ReadGraphicStream(in);
  image.DecodeToBitmap();
  benchmark::DoNotOptimize(static_cast<std::uint8_t*>(image.DecodedBitmap()->ScanLine(Height - 1))[0]);
}

#if DS_HAVE_LIBPNG
// The simplified reading API, into the nearest layout to our store: BGR, BGRA, or colour-map indices.
void LibpngPng(const Bytes& file) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) std::abort();
  const bool mapped = (image.format & PNG_FORMAT_FLAG_COLORMAP) != 0;
  image.format = mapped                                   ? PNG_FORMAT_BGR_COLORMAP
                 : (image.format & PNG_FORMAT_FLAG_ALPHA) ? PNG_FORMAT_BGRA
                                                          : PNG_FORMAT_BGR;
  std::unique_ptr<std::uint8_t[]> pixels(new std::uint8_t[PNG_IMAGE_SIZE(image)]);
  std::unique_ptr<std::uint8_t[]> colormap(new std::uint8_t[mapped ? PNG_IMAGE_COLORMAP_SIZE(image) : 1]);
  if (!png_image_finish_read(&image, nullptr, pixels.get(), 0, mapped ? colormap.get() : nullptr))
    std::abort();
  benchmark::DoNotOptimize(pixels[0]);
}
#endif

void LibjpegJpeg(const Bytes& file) {
  jpeg_decompress_struct d{};
  jpeg_error_mgr err{};
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, file.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&d, TRUE);
#ifdef JCS_EXTENSIONS
  d.out_color_space = JCS_EXT_BGR;  // the byte order our 24-bit output has
#endif
  jpeg_start_decompress(&d);
  const std::size_t stride = (std::size_t(d.output_width) * 3 + 3) & ~std::size_t(3);
  std::unique_ptr<std::uint8_t[]> pixels(new std::uint8_t[stride * d.output_height]);
  while (d.output_scanline < d.output_height) {
    JSAMPROW r = pixels.get() + stride * d.output_scanline;
    jpeg_read_scanlines(&d, &r, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  benchmark::DoNotOptimize(pixels[0]);
}

// ---- Cases --------------------------------------------------------------------------------------------

struct Case {
  const char* name;
  bool png;
  Bytes file;
  void (*ours)(const Bytes&);
  void (*theirs)(const Bytes&);  // null without the reference decoder
};

std::vector<Case>& Cases() {
  static std::vector<Case> cases = [] {
    std::vector<Case> c;
#if DS_HAVE_LIBPNG
    auto png = &LibpngPng;
#else
    void (*png)(const Bytes&) = nullptr;
#endif
    c.push_back({"png-rgb8", true, MakePng(2, false), &OursPng, png});
    c.push_back({"png-rgba8", true, MakePng(6, false), &OursPng, png});
    c.push_back({"png-palette8", true, MakePng(3, false), &OursPng, png});
    c.push_back({"png-rgb8-interlaced", true, MakePng(2, true), &OursPng, png});
    c.push_back({"jpeg-baseline-q90", false, MakeJpeg(false), &OursJpeg, &LibjpegJpeg});
    c.push_back({"jpeg-progressive-q90", false, MakeJpeg(true), &OursJpeg, &LibjpegJpeg});
    return c;
  }();
  return cases;
}

// Processor time of this thread in seconds: on a shared machine, time spent waiting for a core is nobody's
// decoding time.
double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Best of several single decodes each, in seconds: the least disturbed run. Ours and theirs take turns so
// that a busy spell (caches shared with other work) slows both alike.
void BestTimes(const Case& c, double& ours, double& theirs) {
  ours = theirs = 1e9;
  auto time = [&c](void (*decode)(const Bytes&)) {
    const double t0 = ThreadSeconds();
    decode(c.file);
    return ThreadSeconds() - t0;
  };
  for (int i = 0; i < 21; ++i) {
    ours = std::min(ours, time(c.ours));
    if (c.theirs != nullptr) theirs = std::min(theirs, time(c.theirs));
  }
}

enum class TMemory { AtStart, Reused };

void UseMemory(TMemory memory) {
#if defined(__GLIBC__)
  if (memory == TMemory::AtStart) {
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);  // the value a process starts with, no longer raised by frees
  } else {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the most the C library raises it to on its own
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
  }
#else
  (void)memory;
#endif
}

// Prints the table; returns the geometric means of the ratios (0 where no reference decoder ran).
void PrintTable(const char* title, double& pngRatio, double& jpegRatio) {
  std::printf("%s\n", title);
  const double mp = double(Width) * Height / 1e6;
  double logSum[2] = {0, 0};
  int count[2] = {0, 0};
  std::printf("%-22s %9s %11s %11s %11s %8s\n", "image", "file KiB", "ours MP/s", "theirs MP/s", "ours ms",
              "ratio");
  for (const Case& c : Cases()) {
    double ours = 0, theirs = 0;
    BestTimes(c, ours, theirs);
    if (c.theirs == nullptr) {
      std::printf("%-22s %9zu %11.1f %11s %11.2f %8s\n", c.name, c.file.size() / 1024, mp / ours, "-",
                  ours * 1e3, "-");
      continue;
    }
    std::printf("%-22s %9zu %11.1f %11.1f %11.2f %8.2f\n", c.name, c.file.size() / 1024, mp / ours,
                mp / theirs, ours * 1e3, ours / theirs);
    logSum[c.png ? 0 : 1] += std::log(ours / theirs);
    ++count[c.png ? 0 : 1];
  }
  std::printf(
      "ratio = our decoding time / the reference decoder's time (<= 1.0: ours is as fast or faster)\n");
  std::fflush(stdout);
  pngRatio = count[0] ? std::exp(logSum[0] / count[0]) : 0;
  jpegRatio = count[1] ? std::exp(logSum[1] / count[1]) : 0;
}

void BM_Decode(benchmark::State& state, std::size_t index, bool ours) {
  const Case& c = Cases()[index];
  for (auto _ : state) (ours ? c.ours : c.theirs)(c.file);
  state.counters["MP/s"] =
      benchmark::Counter(double(Width) * Height / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

int main(int argc, char** argv) {
  UseMemory(TMemory::AtStart);        // before anything large is freed into the heap
  plat::soft::SoftPlatform platform;  // the program decodes with the platform present
  InitPngUnit();
  InitJpegUnit();
  double pngRatio = 0, jpegRatio = 0, pngReused = 0, jpegReused = 0;
  PrintTable("decoding as at start (every large buffer fresh from the system):", pngRatio, jpegRatio);
  for (std::size_t i = 0; i < Cases().size(); ++i) {
    const std::string name = Cases()[i].name;
    benchmark::RegisterBenchmark((name + "/ours").c_str(), BM_Decode, i, true)->Unit(benchmark::kMillisecond);
    if (Cases()[i].theirs != nullptr)
      benchmark::RegisterBenchmark((name + "/reference").c_str(), BM_Decode, i, false)
          ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  UseMemory(TMemory::Reused);
  PrintTable("\ndecoding the same file again and again (large buffers reused from the heap):", pngReused,
             jpegReused);
  std::printf("with the heap reused: png %.2f x libpng; jpeg %.2f x libjpeg-turbo\n", pngReused, jpegReused);
  DoneJpegUnit();
  DonePngUnit();
  std::printf("png: %.2f x libpng; jpeg: %.2f x libjpeg-turbo\n", pngRatio, jpegRatio);
  return 0;
}
