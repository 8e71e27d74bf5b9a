#include "app/Headless.h"

#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/PngWriter.h"
#include "app/Program.h"
#include "app/Snow.h"
#include "app/Unit1.h"
#include "core/Classes.h"
#include "platform/common/RegFile.h"
#include "platform/common/SoftClock.h"
#include "platform/common/SoftDirectDraw.h"
#include "platform/common/SoftRegistry.h"
#include "platform/soft/SoftPlatform.h"
#include "platform/soft/SoftWindows.h"
#include "ui/Dialogs.h"
#include "ui/StdCtrls.h"

namespace {

// Whole decimal number in [lo, hi]; no sign, spaces or trailing text.
bool ParseNumber(const std::string& text, std::int64_t lo, std::int64_t hi, std::int64_t& out) {
  if (text.empty()) return false;
  std::int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    if (v > (INT64_MAX - (c - '0')) / 10) return false;
    v = v * 10 + (c - '0');
  }
  if (v < lo || v > hi) return false;
  out = v;
  return true;
}

bool ParseScreen(const std::string& text, THeadlessOptions& o) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == 'x' || c == 'X')
      parts.emplace_back();
    else
      parts.back() += c;
  }
  if (parts.size() < 2 || parts.size() > 3) return false;
  // Large enough for any real screen, small enough that a screen buffer is a sane allocation.
  std::int64_t w = 0, h = 0, bpp = 32;
  if (!ParseNumber(parts[0], 1, 8192, w) || !ParseNumber(parts[1], 1, 8192, h)) return false;
  if (parts.size() == 3 && !ParseNumber(parts[2], 8, 32, bpp)) return false;
  if (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
  o.ScreenWidth = static_cast<int>(w);
  o.ScreenHeight = static_cast<int>(h);
  o.ScreenBitCount = static_cast<int>(bpp);
  return true;
}

std::string Number(double v) {
  if (!std::isfinite(v)) return "null";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

std::string Json(bool v) {
  return v ? "true" : "false";
}

}  // namespace

bool ParseHeadlessOptions(const std::vector<std::string>& Args, THeadlessOptions& Options,
                          std::string& Error) {
  THeadlessOptions o;
  for (std::size_t i = 0; i < Args.size(); ++i) {
    const std::string& a = Args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= Args.size() || Args[i + 1].empty()) {
        Error = a + " needs a value";
        return false;
      }
      out = Args[++i];
      return true;
    };
    std::string v;
    if (a == "--headless") {
      o.Headless = true;
    } else if (a == "--help" || a == "-h") {
      o.Help = true;
    } else if (a == "--screen") {
      if (!value(v)) return false;
      if (!ParseScreen(v, o)) {
        Error = "--screen takes WxH or WxHxBPP (sides 1 to 8192, BPP 8, 16, 24 or 32), not '" + v + "'";
        return false;
      }
    } else if (a == "--frames") {
      if (!value(v)) return false;
      if (!ParseNumber(v, 0, 1000000000, o.Frames)) {
        Error = "--frames takes a whole number from 0 to 1000000000, not '" + v + "'";
        return false;
      }
    } else if (a == "--seed") {
      if (!value(v)) return false;
      if (!ParseNumber(v, 0, INT64_MAX, o.Seed)) {
        Error = "--seed takes a whole number from 0 to 9223372036854775807, not '" + v + "'";
        return false;
      }
      o.HasSeed = true;
    } else if (a == "--registry") {
      if (!value(o.RegistryFile)) return false;
    } else if (a == "--snapshot") {
      if (!value(o.SnapshotFile)) return false;
    } else if (a == "--dump-state") {
      if (!value(o.DumpStateFile)) return false;
    } else {
      Error = "unknown option '" + a + "'";
      return false;
    }
  }
  Options = o;
  return true;
}

std::string HeadlessUsage() {
  return "Usage: desktop-snow [options]\n"
         "Snow falls over the desktop wallpaper. Right-click the snow for the menu.\n"
         "Without a desktop backend for this system the program runs headless.\n"
         "\n"
         "  --headless           run on a virtual screen without a desktop\n"
         "  --screen WxH[xBPP]   size and depth of the virtual screen (default 1280x720x32)\n"
         "  --frames N           stop after N frames (default 300, five seconds at 60 Hz)\n"
         "  --seed N             value of the virtual performance counter the snow is seeded from;\n"
         "                       two runs with the same seed and options draw identical frames\n"
         "  --registry FILE.reg  registry the program reads the wallpaper from (default: the user's\n"
         "                       $XDG_CONFIG_HOME/desktop-snow/user.reg when it exists, else one\n"
         "                       that names the bundled wallpaper)\n"
         "  --snapshot FILE.png  save the screen after the last frame\n"
         "  --dump-state FILE.json  save the flakes, the wind and the random seed after the last frame\n"
         "  --help               show this text\n"
         "\n"
         "Headless runs use a virtual clock: each frame waits for the next 60 Hz refresh by moving the\n"
         "clock, not by sleeping. Message boxes are printed to standard error as [caption] text.\n";
}

std::string UserRegistryFile() {
  namespace fs = std::filesystem;
  fs::path dir;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
    dir = xdg;
  else if (const char* home = std::getenv("HOME"); home && *home)
    dir = fs::path(home) / ".config";
  else
    return std::string();
  fs::path file = dir / "desktop-snow" / "user.reg";
  std::error_code ec;
  return fs::is_regular_file(file, ec) ? file.string() : std::string();
}

std::string BundledWallpaper(const std::string& ProgramPath) {
  namespace fs = std::filesystem;
  std::vector<fs::path> candidates;
  if (!ProgramPath.empty()) {
    // The program lives in build/<kind>/ of the source tree.
    fs::path dir = fs::path(ProgramPath).parent_path();
    candidates.push_back(dir / "assets" / "wallpaper.jpg");
    candidates.push_back(dir / ".." / "assets" / "wallpaper.jpg");
    candidates.push_back(dir / ".." / ".." / "assets" / "wallpaper.jpg");
  }
  candidates.push_back(fs::path("assets") / "wallpaper.jpg");
  for (const fs::path& p : candidates) {
    std::error_code ec;
    if (fs::is_regular_file(p, ec)) {
      fs::path abs = fs::weakly_canonical(p, ec);
      return ec ? p.string() : abs.string();
    }
  }
  return std::string();
}

void SetUpDefaultDesktop(plat::soft::SoftPlatform& Platform, const std::string& RegistryFile,
                         const std::string& Wallpaper) {
  Platform.windows().CreateDesktopShell();
  std::string file = RegistryFile.empty() ? UserRegistryFile() : RegistryFile;
  if (!file.empty()) {
    plat::soft::LoadRegFileFromPath(Platform.registry(), file);
    return;
  }
  Platform.registry().SetString(plat::HKEY_CURRENT_USER, "Control Panel\\Desktop", "WallPaper", Wallpaper);
}

std::string SnowStateJson() {
  std::string s = "{\n";
  s += "  \"FlakeCount\": " + std::to_string(FlakeCount) + ",\n";
  s += "  \"WindX\": " + Number(WindX) + ",\n";
  s += "  \"WindY\": " + Number(WindY) + ",\n";
  s += "  \"WindTargetX\": " + Number(WindTargetX) + ",\n";
  s += "  \"WindTargetY\": " + Number(WindTargetY) + ",\n";
  s += "  \"WindEnabled\": " + Json(WindEnabled) + ",\n";
  s += "  \"RandomSeed\": " + std::to_string(RandomSeed) + ",\n";
  s += "  \"Flakes\": [\n";
  for (int i = 0; i < MaxFlakes; ++i) {
    const TFlake& f = Flakes[i];
    s += "    {\"X\": " + Number(f.X) + ", \"Y\": " + Number(f.Y) + ", \"VX\": " + Number(f.VX) +
         ", \"VY\": " + Number(f.VY) + ", \"SpriteIndex\": " + std::to_string(f.SpriteIndex) +
         ", \"SpriteWidth\": " + std::to_string(f.SpriteWidth) +
         ", \"SpriteHeight\": " + std::to_string(f.SpriteHeight) + ", \"Active\": " + Json(f.Active) + "}";
    s += i + 1 < MaxFlakes ? ",\n" : "\n";
  }
  s += "  ]\n}\n";
  return s;
}

TDXTimerEvent CountFrames(std::int64_t& Counter) {
  if (!Form1 || !Form1->DXTimer2) return nullptr;
  TDXTimerEvent inner = Form1->DXTimer2->OnTimer;
  std::int64_t* counter = &Counter;
  Form1->DXTimer2->OnTimer = [inner, counter](TObject* Sender, std::int32_t LagCount) {
    // Counted before it runs: a frame that fails every time must still bring the run to its end.
    ++*counter;
    if (inner) inner(Sender, LagCount);
  };
  return inner;
}

std::int64_t RunFrames(plat::soft::SoftPlatform& Platform, std::int64_t Frames) {
  std::int64_t frames = 0;
  TDXTimerEvent previous = CountFrames(frames);
  if (Application->MainForm() && Application->ShowMainForm) Application->MainForm()->Show();
  while (frames < Frames && !Application->Terminated()) {
    int starved = Platform.windows().StarvedWaits();
    std::int64_t before = frames;
    Application->RunFor(1);
    // Nothing waiting and no frame to come: the program would sleep for ever.
    if (Platform.windows().StarvedWaits() != starved) break;
    if (frames == before) Platform.clock().AdvanceMilliseconds(1);
  }
  // The counter lives in this call only.
  if (Form1 && Form1->DXTimer2) Form1->DXTimer2->OnTimer = previous;
  return frames;
}

namespace {

void WriteTextFile(const std::string& name, const std::string& text) {
  TFileStream file(name, TFileMode::fmCreate);
  file.WriteBuffer(text.data(), text.size());
}

std::int64_t ClockSeed() {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::microseconds>(now).count() & INT64_MAX;
}

}  // namespace

int DesktopSnowMain(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  THeadlessOptions opt;
  std::string error;
  if (!ParseHeadlessOptions(args, opt, error)) {
    std::fprintf(stderr, "desktop-snow: %s\n\n%s", error.c_str(), HeadlessUsage().c_str());
    return 2;
  }
  if (opt.Help) {
    std::fputs(HeadlessUsage().c_str(), stdout);
    return 0;
  }
  if (!opt.Headless)
    std::fprintf(stderr,
                 "desktop-snow: no desktop backend on this system yet, running headless (see --help)\n");

  plat::soft::SoftOptions so;
  so.screenWidth = opt.ScreenWidth;
  so.screenHeight = opt.ScreenHeight;
  so.screenBitCount = opt.ScreenBitCount;
  so.virtualClock = true;
  plat::soft::SoftPlatform platform(so);
  platform.windows().SetEchoMessageBoxes(true);
  platform.clock().SetPerformanceCounter(opt.HasSeed ? opt.Seed : ClockSeed());
  try {
    SetUpDefaultDesktop(platform, opt.RegistryFile, BundledWallpaper(argc > 0 ? argv[0] : ""));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "desktop-snow: %s\n", e.what());
    return 2;
  }

  // A modal dialog is reported like a message box and answered with its default button, so no run waits
  // for a user.
  TModalLoopHook previousHook = SetModalLoopHook([](TModalForm& Form, int Pass) {
    if (Pass != 0) return;
    if (auto* m = dynamic_cast<TMessageForm*>(&Form))
      std::fprintf(stderr, "[%s] %s\n", m->Caption().c_str(), m->Text().c_str());
    if (TButton* b = Form.DefaultButton())
      plat::Windows().PostMessage(b->Handle(), BM_CLICK, 0, 0);
    else
      Form.SetModalResult(mrCancel);
  });
  int rc = 0;
  StartProgramUnits();
  Application = new TApplication(nullptr);
  try {
    StartEntryBlock();
    auto start = std::chrono::steady_clock::now();
    std::int64_t frames = RunFrames(platform, opt.Frames);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("Drew %" PRId64 " frames in %.2f s: %.1f frames per second\n", frames, seconds,
                seconds > 0 ? static_cast<double>(frames) / seconds : 0.0);
    if (!opt.SnapshotFile.empty()) {
      SavePng(opt.SnapshotFile, platform.ddraw().ScreenWidth(), platform.ddraw().ScreenHeight(),
              platform.ddraw().ScreenPixels());
      std::printf("Snapshot: %s\n", opt.SnapshotFile.c_str());
    }
    if (!opt.DumpStateFile.empty()) {
      WriteTextFile(opt.DumpStateFile, SnowStateJson());
      std::printf("State: %s\n", opt.DumpStateFile.c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "desktop-snow: %s\n", e.what());
    rc = 1;
  }
  delete Application;
  Application = nullptr;
  Form1 = nullptr;
  StopProgramUnits();
  SetModalLoopHook(std::move(previousHook));
  return rc;
}
