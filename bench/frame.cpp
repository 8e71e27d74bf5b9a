// One frame on the soft device at full HD: a 1920x1200 wallpaper stretched over the 1935x1099 back surface,
// then 1000 alpha-blended sprites drawn through the picture list (and, in the second benchmark, presented
// without the vertical-blank wait). Prints frames per second and how much of a 60 Hz frame budget is left.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/soft/SoftDirectDraw.h"
#include "platform/soft/SoftPlatform.h"
#include "render/DIB.h"
#include "render/DXDraws.h"
#include "ui/Forms.h"

namespace {

constexpr int ScreenW = 1920, ScreenH = 1080;
constexpr int SurfaceW = ScreenW + 15, SurfaceH = ScreenH + 19;
constexpr int Flakes = 1000;
const int SpriteSizes[8][2] = {{32, 43}, {10, 10}, {21, 32}, {34, 33},
                               {14, 19}, {14, 20}, {18, 28}, {15, 19}};

std::unique_ptr<TDIB> Wallpaper() {
  auto d = std::make_unique<TDIB>();
  d->PixelFormat = MakeDIBPixelFormat(8, 8, 8);
  d->SetSize(1920, 1200, 24);
  for (int y = 0; y < 1200; ++y) {
    std::uint8_t* row = d->Row(y);
    for (int x = 0; x < 1920; ++x) {
      row[x * 3 + 0] = static_cast<std::uint8_t>(x / 8);
      row[x * 3 + 1] = static_cast<std::uint8_t>(y / 5);
      row[x * 3 + 2] = static_cast<std::uint8_t>((x + y) / 12);
    }
  }
  return d;
}

// A white sprite whose alpha is a soft blob.
std::unique_ptr<TDIB> Sprite(int w, int h) {
  auto d = std::make_unique<TDIB>();
  d->PixelFormat = MakeDIBPixelFormat(8, 8, 8);
  d->SetSize(w, h, 32);
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0, sx = w / 5.0, sy = h / 5.0;
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = d->Row(y);
    for (int x = 0; x < w; ++x) {
      const double e = std::exp(-((x - cx) * (x - cx) / (2 * sx * sx) + (y - cy) * (y - cy) / (2 * sy * sy)));
      row[x * 4 + 0] = row[x * 4 + 1] = row[x * 4 + 2] = 255;
      row[x * 4 + 3] = static_cast<std::uint8_t>(e < 0.02 ? 0 : std::lround(255 * e));
    }
  }
  return d;
}

struct Scene {
  plat::soft::SoftPlatform platform;
  TForm* form = nullptr;
  TDXDraw* dxdraw = nullptr;
  TDXImageList* list = nullptr;
  struct Flake {
    int x, y, sprite;
  };
  std::vector<Flake> flakes;

  Scene() : platform(Options()) {
    RegisterFormClasses();
    RegisterDXDrawClasses();
    RegisterDXImageListClasses();
    InitDIBUnit();
    Application = new TApplication(nullptr);
    Application->Initialize();
    form = CreateForm<TForm>(Application);
    form->SetBounds(0, 0, ScreenW, ScreenH);
    dxdraw = new TDXDraw(form);
    dxdraw->SetAutoInitialize(false);
    dxdraw->SetAutoSize(false);
    dxdraw->SetParent(form);
    dxdraw->SetBounds(0, 0, SurfaceW, SurfaceH);
    dxdraw->SetSurfaceWidth(SurfaceW);
    dxdraw->SetSurfaceHeight(SurfaceH);
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
    add(*Wallpaper());
    for (const auto& s : SpriteSizes) add(*Sprite(s[0], s[1]));
    form->Show();
    dxdraw->Initialize();
    std::uint32_t seed = 12345;
    auto next = [&seed](std::uint32_t below) {
      seed = seed * 134775813u + 1u;
      return static_cast<int>((static_cast<std::uint64_t>(seed) * below) >> 32);
    };
    for (int i = 0; i < Flakes; ++i)
      flakes.push_back({next(SurfaceW + 30) - 30, next(SurfaceH + 40) - 40, 1 + next(8)});
  }
  ~Scene() {
    delete Application;
    Application = nullptr;
    FreeDirectXLibraries();
  }

  static plat::soft::SoftOptions Options() {
    plat::soft::SoftOptions o;
    o.screenWidth = ScreenW;
    o.screenHeight = ScreenH;
    o.screenBitCount = 32;
    return o;
  }

  void Compose() {
    TDirectDrawSurface* back = dxdraw->Surface();
    list->Items().Items(0)->StretchDraw(back, Rect(0, 0, dxdraw->Width(), dxdraw->Height()), 0);
    for (const Flake& f : flakes) list->Items().Items(f.sprite)->Draw(back, f.x, f.y, 0);
  }
};

std::unique_ptr<Scene> g_scene;

Scene& TheScene() {
  if (!g_scene) g_scene = std::make_unique<Scene>();  // made once; the textures stay cached between runs
  return *g_scene;
}

std::vector<double> g_composeMs, g_presentMs;

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Measure(benchmark::State& state, bool present, std::vector<double>& samples) {
  Scene& s = TheScene();
  s.Compose();  // textures are made on the first frame; keep that out of the figures
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    s.Compose();
    if (present) s.dxdraw->Flip();
    const auto t1 = std::chrono::steady_clock::now();
    samples.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  state.counters["fps"] = benchmark::Counter(1.0, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["x60Hz"] = benchmark::Counter(1.0 / 60.0, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ComposeFrame(benchmark::State& state) {
  Measure(state, false, g_composeMs);
}
void BM_ComposeAndPresentFrame(benchmark::State& state) {
  Measure(state, true, g_presentMs);
}

BENCHMARK(BM_ComposeFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_ComposeAndPresentFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void Summary(const char* what, const std::vector<double>& samples) {
  const double ms = Median(samples);
  if (ms <= 0) return;
  const double budget = 1000.0 / 60.0;
  std::printf("%s: %.3f ms median; %.1f frames per second; %.2f x the 60 Hz budget (%.2f ms)\n", what, ms,
              1000.0 / ms, budget / ms, budget);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_scene.reset();
  Summary("compose", g_composeMs);
  Summary("compose+present", g_presentMs);
  return 0;
}
