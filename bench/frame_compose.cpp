// One frame on the soft device at full HD: a 1920x1200 wallpaper stretched over the 1935x1099 back surface,
// then 1000 alpha-blended sprites drawn through the picture list, then Flip without the vertical-blank wait.
// Two yardsticks are measured in the same run: copying the back surface's bytes once (the memory-bandwidth
// floor) and pixman composing the same frame (bilinear scaled background, then the sprites with OVER).
// The last line reads "frame: X ms; floor: Y ms; pixman: Z ms" with the three medians of wall time; the lines
// before it give processor times, the frame without the device's copy of the unchanged wallpaper, and the
// frame's stages.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "platform/common/SoftDirectDraw.h"
#include "platform/soft/SoftPlatform.h"
#include "render/DIB.h"
#include "render/DXDraws.h"
#include "ui/Forms.h"

namespace {

constexpr int ScreenW = 1920, ScreenH = 1080;
constexpr int SurfaceW = ScreenW + 15, SurfaceH = ScreenH + 19;
constexpr int WallW = 1920, WallH = 1200;
constexpr int Flakes = 1000;
const int SpriteSizes[8][2] = {{32, 43}, {10, 10}, {21, 32}, {34, 33},
                               {14, 19}, {14, 20}, {18, 28}, {15, 19}};

std::uint8_t WallChannel(int x, int y, int c) {
  return static_cast<std::uint8_t>(c == 0 ? x / 8 : (c == 1 ? y / 5 : (x + y) / 12));  // blue, green, red
}

// A white sprite's alpha: one soft blob.
std::uint8_t SpriteAlpha(int w, int h, int x, int y) {
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0, sx = w / 5.0, sy = h / 5.0;
  const double e = std::exp(-((x - cx) * (x - cx) / (2 * sx * sx) + (y - cy) * (y - cy) / (2 * sy * sy)));
  return static_cast<std::uint8_t>(e < 0.02 ? 0 : std::lround(255 * e));
}

struct Flake {
  int x, y, sprite;
};

std::vector<Flake> MakeFlakes(int surfaceW = SurfaceW, int surfaceH = SurfaceH) {
  std::vector<Flake> flakes;
  std::uint32_t seed = 12345;
  auto next = [&seed](std::uint32_t below) {
    seed = seed * 134775813u + 1u;
    return static_cast<int>((static_cast<std::uint64_t>(seed) * below) >> 32);
  };
  for (int i = 0; i < Flakes; ++i)
    flakes.push_back(
        {next(std::uint32_t(surfaceW) + 30) - 30, next(std::uint32_t(surfaceH) + 40) - 40, next(8)});
  return flakes;
}

std::unique_ptr<TDIB> WallpaperDIB() {
  auto d = std::make_unique<TDIB>();
  d->PixelFormat = MakeDIBPixelFormat(8, 8, 8);
  d->SetSize(WallW, WallH, 24);
  for (int y = 0; y < WallH; ++y) {
    std::uint8_t* row = d->Row(y);
    for (int x = 0; x < WallW; ++x)
      for (int c = 0; c < 3; ++c) row[x * 3 + c] = WallChannel(x, y, c);
  }
  return d;
}

std::unique_ptr<TDIB> SpriteDIB(int w, int h) {
  auto d = std::make_unique<TDIB>();
  d->PixelFormat = MakeDIBPixelFormat(8, 8, 8);
  d->SetSize(w, h, 32);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = d->Row(y);
    for (int x = 0; x < w; ++x) {
      row[x * 4 + 0] = row[x * 4 + 1] = row[x * 4 + 2] = 255;
      row[x * 4 + 3] = SpriteAlpha(w, h, x, y);
    }
  }
  return d;
}

// The program's way: a drawing surface with a picture list on the soft platform, on a screen of w x h pixels
// of bpp bits (the drawing surface 15 x 19 pixels larger, as the program's).
struct Scene {
  plat::soft::SoftPlatform platform;
  TForm* form = nullptr;
  TDXDraw* dxdraw = nullptr;
  TDXImageList* list = nullptr;
  std::vector<Flake> flakes;

  explicit Scene(int w = ScreenW, int h = ScreenH, int bpp = 32)
      : platform(Options(w, h, bpp)), flakes(MakeFlakes(w + 15, h + 19)) {
    RegisterFormClasses();
    RegisterDXDrawClasses();
    RegisterDXImageListClasses();
    InitDIBUnit();
    Application = new TApplication(nullptr);
    Application->Initialize();
    form = CreateForm<TForm>(Application);
    form->SetBounds(0, 0, w, h);
    dxdraw = new TDXDraw(form);
    dxdraw->SetAutoInitialize(false);
    dxdraw->SetAutoSize(false);
    dxdraw->SetParent(form);
    dxdraw->SetBounds(0, 0, w + 15, h + 19);
    dxdraw->SetSurfaceWidth(w + 15);
    dxdraw->SetSurfaceHeight(h + 19);
    TDXDrawOptions o = dxdraw->Options();
    o.Exclude(doWaitVBlank);
    dxdraw->SetOptions(o);
    list = new TDXImageList(form);
    list->SetName("DXImageList1");
    list->SetDXDraw(dxdraw);
    auto add = [&](const TDIB& pic) {
      TPictureCollectionItem* it = list->Items().Add();
      it->SetTransparent(false);
      it->SetSystemMemory(true);
      it->Picture().SetGraphic(&pic);
    };
    add(*WallpaperDIB());
    for (const auto& s : SpriteSizes) add(*SpriteDIB(s[0], s[1]));
    form->Show();
    dxdraw->Initialize();
  }
  ~Scene() {
    delete Application;
    Application = nullptr;
    FreeDirectXLibraries();
  }

  static plat::soft::SoftOptions Options(int w, int h, int bpp) {
    plat::soft::SoftOptions o;
    o.screenWidth = w;
    o.screenHeight = h;
    o.screenBitCount = bpp;
    return o;
  }

  void Background() {
    TDirectDrawSurface* back = dxdraw->Surface();
    list->Items().Items(0)->StretchDraw(back, Rect(0, 0, dxdraw->Width(), dxdraw->Height()), 0);
  }
  void Sprites() {
    TDirectDrawSurface* back = dxdraw->Surface();
    for (const Flake& f : flakes) list->Items().Items(1 + f.sprite)->Draw(back, f.x, f.y, 0);
  }
  void Compose() {
    Background();
    Sprites();
  }
  void Frame() {
    Compose();
    dxdraw->Flip();
  }
};

// The same frame through pixman: premultiplied sprites, the background scaled with bilinear filtering.
struct PixmanScene {
  std::vector<std::uint32_t> wallBits, destBits;
  std::vector<std::vector<std::uint32_t>> spriteBits;
  pixman_image_t* wall = nullptr;
  pixman_image_t* dest = nullptr;
  std::vector<pixman_image_t*> sprites;
  std::vector<Flake> flakes = MakeFlakes();

  PixmanScene() {
    wallBits.resize(std::size_t(WallW) * WallH);
    for (int y = 0; y < WallH; ++y)
      for (int x = 0; x < WallW; ++x)
        wallBits[std::size_t(y) * WallW + std::size_t(x)] =
            0xFF000000u | std::uint32_t(WallChannel(x, y, 2)) << 16 |
            std::uint32_t(WallChannel(x, y, 1)) << 8 | WallChannel(x, y, 0);
    wall = pixman_image_create_bits(PIXMAN_x8r8g8b8, WallW, WallH, wallBits.data(), WallW * 4);
    pixman_transform_t t;
    pixman_transform_init_scale(&t, pixman_double_to_fixed(double(WallW) / SurfaceW),
                                pixman_double_to_fixed(double(WallH) / SurfaceH));
    pixman_image_set_transform(wall, &t);
    pixman_image_set_filter(wall, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    pixman_image_set_repeat(wall, PIXMAN_REPEAT_PAD);
    destBits.resize(std::size_t(SurfaceW) * SurfaceH);
    dest = pixman_image_create_bits(PIXMAN_x8r8g8b8, SurfaceW, SurfaceH, destBits.data(), SurfaceW * 4);
    for (const auto& s : SpriteSizes) {
      std::vector<std::uint32_t> bits(std::size_t(s[0]) * std::size_t(s[1]));
      for (int y = 0; y < s[1]; ++y)
        for (int x = 0; x < s[0]; ++x) {
          const std::uint32_t a = SpriteAlpha(s[0], s[1], x, y);
          bits[std::size_t(y) * std::size_t(s[0]) + std::size_t(x)] = a << 24 | a << 16 | a << 8 | a;
        }
      spriteBits.push_back(std::move(bits));
      sprites.push_back(
          pixman_image_create_bits(PIXMAN_a8r8g8b8, s[0], s[1], spriteBits.back().data(), s[0] * 4));
    }
  }
  ~PixmanScene() {
    for (pixman_image_t* s : sprites) pixman_image_unref(s);
    pixman_image_unref(dest);
    pixman_image_unref(wall);
  }
  void Frame() {
    pixman_image_composite32(PIXMAN_OP_SRC, wall, nullptr, dest, 0, 0, 0, 0, 0, 0, SurfaceW, SurfaceH);
    for (const Flake& f : flakes) {
      const int* size = SpriteSizes[f.sprite];
      pixman_image_composite32(PIXMAN_OP_OVER, sprites[std::size_t(f.sprite)], nullptr, dest, 0, 0, 0, 0, f.x,
                               f.y, size[0], size[1]);
    }
  }
};

std::unique_ptr<Scene> g_scene;
std::unique_ptr<PixmanScene> g_pixman;

struct Samples {
  std::vector<double> wall, cpu;  // milliseconds
};
Samples g_frame, g_floor, g_pixmanSamples, g_uncached;

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Times each iteration in wall and processor time; the machine may be shared, so both are reported.
// prepare runs before each timed run, outside the figures.
template <class F, class P>
void Measure(benchmark::State& state, Samples& samples, F&& once, P&& prepare) {
  once();  // textures, caches and pages are made on the first run; keep that out of the figures
  for (auto _ : state) {
    state.PauseTiming();
    prepare();
    state.ResumeTiming();
    const std::clock_t c0 = std::clock();
    const auto t0 = std::chrono::steady_clock::now();
    once();
    const auto t1 = std::chrono::steady_clock::now();
    const std::clock_t c1 = std::clock();
    samples.wall.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    samples.cpu.push_back(1000.0 * double(c1 - c0) / CLOCKS_PER_SEC);
  }
}
template <class F>
void Measure(benchmark::State& state, Samples& samples, F&& once) {
  Measure(state, samples, once, [] {});
}

void BM_Frame(benchmark::State& state) {
  if (!g_scene) g_scene = std::make_unique<Scene>();
  Measure(state, g_frame, [] { g_scene->Frame(); });
}

// The frame with the device working the wallpaper out afresh every time (it otherwise copies its last
// result of an unchanged opaque quad).
void BM_FrameUncached(benchmark::State& state) {
  if (!g_scene) g_scene = std::make_unique<Scene>();
  g_scene->platform.ddraw().SetQuadResultCacheEnabled(false);
  Measure(state, g_uncached, [] { g_scene->Frame(); });
  g_scene->platform.ddraw().SetQuadResultCacheEnabled(true);
}

// The frame's three stages on their own, to see where its time goes.
void BM_Background(benchmark::State& state) {
  if (!g_scene) g_scene = std::make_unique<Scene>();
  Samples s;
  Measure(state, s, [] { g_scene->Background(); });
}
void BM_Sprites(benchmark::State& state) {
  if (!g_scene) g_scene = std::make_unique<Scene>();
  Samples s;
  Measure(state, s, [] { g_scene->Sprites(); });
}
void BM_Flip(benchmark::State& state) {
  if (!g_scene) g_scene = std::make_unique<Scene>();
  Samples s;
  Measure(state, s, [] { g_scene->dxdraw->Flip(); });
}

// The frame on a 640x480 screen of 32 and of 16 bits per pixel (5-6-5), each scene made on its own.
Samples g_small32, g_small16;
void SmallFrame(benchmark::State& state, int bpp, Samples& samples) {
  g_scene.reset();
  Scene scene(640, 480, bpp);
  Measure(state, samples, [&] { scene.Frame(); });
}
void BM_Frame640x480x32(benchmark::State& state) {
  SmallFrame(state, 32, g_small32);
}
void BM_Frame640x480x16(benchmark::State& state) {
  SmallFrame(state, 16, g_small16);
}

void BM_CopyFloor(benchmark::State& state) {
  if (!g_scene) g_scene = std::make_unique<Scene>();
  plat::IDirectDrawSurface7* back = g_scene->dxdraw->Surface()->IDDSurface7();
  plat::DDSURFACEDESC2 d{};
  d.dwSize = sizeof(d);
  if (!back || back->Lock(nullptr, &d, plat::DDLOCK_WAIT, nullptr) != plat::DD_OK) {
    state.SkipWithError("cannot lock the back surface");
    return;
  }
  const std::size_t bytes = std::size_t(d.lPitch) * d.dwHeight;
  std::vector<std::uint8_t> copy(bytes);
  const auto* bits = static_cast<const std::uint8_t*>(d.lpSurface);
  // A frame's surfaces do not stay in the caches between frames; neither may the copy's.
  std::vector<std::uint8_t> evict(std::size_t(64) << 20);
  Measure(
      state, g_floor,
      [&] {
        std::memcpy(copy.data(), bits, bytes);
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
      },
      [&] {
        std::memset(evict.data(), int(evict[0] + 1), evict.size());
        benchmark::ClobberMemory();
      });
  back->Unlock(nullptr);
}

void BM_Pixman(benchmark::State& state) {
  if (!g_pixman) g_pixman = std::make_unique<PixmanScene>();
  Measure(state, g_pixmanSamples, [] { g_pixman->Frame(); });
}

BENCHMARK(BM_Frame)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_FrameUncached)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_Background)->Unit(benchmark::kMillisecond)->MinTime(0.5)->UseRealTime();
BENCHMARK(BM_Sprites)->Unit(benchmark::kMillisecond)->MinTime(0.5)->UseRealTime();
BENCHMARK(BM_Flip)->Unit(benchmark::kMillisecond)->MinTime(0.5)->UseRealTime();
BENCHMARK(BM_CopyFloor)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_Pixman)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_Frame640x480x32)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_Frame640x480x16)->Unit(benchmark::kMillisecond)->MinTime(1.0)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_scene.reset();
  g_pixman.reset();
  if (!g_uncached.wall.empty())
    std::printf("frame without the quad result cache: %.3f ms (processor time %.3f ms)\n",
                Median(g_uncached.wall), Median(g_uncached.cpu));
  if (!g_small32.wall.empty() && !g_small16.wall.empty())
    std::printf(
        "640x480 frame: 16-bit %.3f ms, 32-bit %.3f ms: %.2f x (processor time %.3f ms, %.3f ms: %.2f x)\n",
        Median(g_small16.wall), Median(g_small32.wall), Median(g_small16.wall) / Median(g_small32.wall),
        Median(g_small16.cpu), Median(g_small32.cpu), Median(g_small16.cpu) / Median(g_small32.cpu));
  std::printf("processor time: frame: %.3f ms; floor: %.3f ms; pixman: %.3f ms\n", Median(g_frame.cpu),
              Median(g_floor.cpu), Median(g_pixmanSamples.cpu));
  std::printf("frame: %.3f ms; floor: %.3f ms; pixman: %.3f ms\n", Median(g_frame.wall), Median(g_floor.wall),
              Median(g_pixmanSamples.wall));
  return 0;
}
