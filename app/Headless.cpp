#include "app/Headless.h"

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/PngWriter.h"
#include "app/Program.h"
#include "app/Snow.h"
#include "app/Unit1.h"
#include "core/Classes.h"
#include "core/SysUtils.h"
#include "platform/ProcessMemory.h"
#include "platform/System.h"
#include "platform/common/RegFile.h"
#include "platform/common/SoftClock.h"
#include "platform/common/SoftDirectDraw.h"
#include "platform/common/SoftRegistry.h"
#include "platform/soft/SoftPlatform.h"
#include "platform/soft/SoftWindows.h"
#include "render/DXDraws.h"
#include "ui/Dialogs.h"
#include "ui/StdCtrls.h"

namespace {

// As early as the program's own code runs: the start the first-frame report counts from.
const std::chrono::steady_clock::time_point g_programStart = std::chrono::steady_clock::now();

// Set by SIGINT / SIGTERM while a run's handlers are installed; the loop ends after the frame in progress.
volatile std::sig_atomic_t StopRequested = 0;

extern "C" void RequestStop(int) {
  StopRequested = 1;
}

// Installs the stop handlers for one run and puts the previous ones back.
class TStopSignals {
 public:
  TStopSignals() {
    StopRequested = 0;
    previousInt_ = std::signal(SIGINT, RequestStop);
    previousTerm_ = std::signal(SIGTERM, RequestStop);
  }
  ~TStopSignals() {
    std::signal(SIGINT, previousInt_);
    std::signal(SIGTERM, previousTerm_);
  }
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

 private:
  void (*previousInt_)(int) = SIG_DFL;
  void (*previousTerm_)(int) = SIG_DFL;
};

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
        Error = "--screen takes WxH or WxHxBPP (sides 1 to 8192, BPP 16 or 32), not '" + v + "'";
        return false;
      }
      if (!D2DDrawsOnBitCount(o.ScreenBitCount)) {
        Error = "--screen " + v + ": nothing can be drawn at " + std::to_string(o.ScreenBitCount) +
                " bits per pixel (the snow is drawn at 16 or 32)";
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
    } else if (a == "--density") {
      if (!value(o.Density)) return false;
    } else if (a == "--stats") {
      o.Stats = true;
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
         "  --screen WxH[xBPP]   size and depth (16 or 32) of the virtual screen (default 1280x720x32)\n"
         "  --frames N           stop after N frames (default 300, five seconds at 60 Hz)\n"
         "  --density ITEM       choose a density from the menu before the first frame: \"Very few\",\n"
         "                       \"Few\", \"Medium\" (the start-up choice), \"Many\" or \"Snow storm\"\n"
         "  --seed N             value of the virtual performance counter the snow is seeded from;\n"
         "                       two runs with the same seed and options draw identical frames\n"
         "  --registry FILE.reg  registry the program reads the wallpaper from (default: the user's\n"
         "                       $XDG_CONFIG_HOME/desktop-snow/user.reg when it exists, else one\n"
         "                       that names the bundled wallpaper)\n"
         "  --snapshot FILE.png  save the screen after the last frame\n"
         "  --dump-state FILE.json  save the flakes, the wind and the random seed after the last frame\n"
         "  --stats              after the run, print the time from the program's start to its first\n"
         "                       frame on the screen, and the most memory it held\n"
         "  --help               show this text\n"
         "\n"
         "Headless runs use a virtual clock: each frame waits for the next 60 Hz refresh by moving the\n"
         "clock, not by sleeping. Message boxes are printed to standard error as [caption] text.\n"
         "Ctrl-C (or SIGTERM) ends a run after the frame in progress; the outputs are still written.\n"
         "\n"
         "Exit status:\n"
         "  0  the run ended normally and its outputs were written\n"
         "  1  the snapshot or the state could not be written after the run\n"
         "  2  the command line cannot be used (nothing was drawn)\n"
         "  3  the program showed an error box, for instance about the wallpaper\n"
         "A run on a desktop ends with 0, or 1 when an error stopped it (the user saw every box).\n";
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
  const std::string program = plat::ProgramFile(ProgramPath);
  if (!program.empty()) {
    const fs::path dir = fs::path(program).parent_path();
    // Installed: <prefix>/bin/desktop-snow beside <prefix>/share/desktop-snow/.
    candidates.push_back(dir / ".." / "share" / "desktop-snow" / "wallpaper.jpg");
    // Built: build/<kind>/desktop-snow in the source tree.
    candidates.push_back(dir / ".." / ".." / "assets" / "wallpaper.jpg");
    candidates.push_back(dir / ".." / "assets" / "wallpaper.jpg");
    candidates.push_back(dir / "assets" / "wallpaper.jpg");
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
  while (frames < Frames && !Application->Terminated() && !StopRequested) {
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

std::string CheckWritable(const std::string& File) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const bool existed = fs::exists(fs::u8path(File), ec);
  if (existed && fs::is_directory(fs::u8path(File), ec)) return "it is a folder";
  errno = 0;
  {
    // Appending leaves an existing file as it is.
    std::ofstream probe(fs::u8path(File), std::ios::binary | std::ios::app);
    if (!probe) return errno ? std::strerror(errno) : "it cannot be opened for writing";
  }
  if (!existed) fs::remove(fs::u8path(File), ec);
  return std::string();
}

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

bool ChooseDensity(const std::string& Caption) {
  if (!Form1 || !Form1->Snowflakes1) return false;
  for (int i = 0; i < Form1->Snowflakes1->Count(); ++i) {
    TMenuItem* item = Form1->Snowflakes1->Items(i);
    if (Lower(item->Caption()) == Lower(Caption)) {
      item->Click();
      return true;
    }
  }
  return false;
}

std::string DensityCaptions() {
  std::string list;
  if (!Form1 || !Form1->Snowflakes1) return list;
  for (int i = 0; i < Form1->Snowflakes1->Count(); ++i)
    list += (i ? ", \"" : "\"") + Form1->Snowflakes1->Items(i)->Caption() + "\"";
  return list;
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
    return hsUsage;
  }
  if (opt.Help) {
    std::fputs(HeadlessUsage().c_str(), stdout);
    return hsOk;
  }
  // An output that cannot be written is found out before any frame is drawn, not after.
  for (const auto& [option, file] :
       {std::pair<const char*, const std::string&>{"--snapshot", opt.SnapshotFile},
        {"--dump-state", opt.DumpStateFile}}) {
    if (file.empty()) continue;
    std::string why = CheckWritable(file);
    if (!why.empty()) {
      std::fprintf(stderr, "desktop-snow: %s: cannot write '%s': %s\n", option, file.c_str(), why.c_str());
      return hsUsage;
    }
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
    return hsUsage;
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
  TStopSignals stopSignals;
  int status = hsOk;
  TProgramOutcome outcome = RunProgram([&] {
    if (!opt.Density.empty() && !ChooseDensity(opt.Density)) {
      std::fprintf(stderr, "desktop-snow: --density takes one of %s, not '%s'\n", DensityCaptions().c_str(),
                   opt.Density.c_str());
      status = hsUsage;
      return;
    }
    auto start = std::chrono::steady_clock::now();
    double firstFrameMs = -1;
    std::int64_t frames = 0;
    if (opt.Stats && opt.Frames > 0) {
      frames = RunFrames(platform, 1);
      if (frames == 1)
        firstFrameMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - g_programStart)
                .count();
    }
    frames += RunFrames(platform, opt.Frames - frames);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("Drew %" PRId64 " frames in %.2f s: %.1f frames per second\n", frames, seconds,
                seconds > 0 ? static_cast<double>(frames) / seconds : 0.0);
    // Written while the form still shows its last frame; a failure here is the run's, not the program's.
    try {
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
      status = hsOutputFailed;
    }
    if (opt.Stats) {
      if (firstFrameMs >= 0)
        std::printf("First frame after %.1f ms", firstFrameMs);
      else
        std::printf("No frame drawn");
      std::printf("; peak memory %.1f MB\n", static_cast<double>(plat::PeakResidentBytes()) / 1e6);
    }
  });
  SetModalLoopHook(std::move(previousHook));
  std::fflush(stdout);
  if (status != hsOk) return status;
  return outcome.ErrorReports > 0 ? hsErrorBox : hsOk;
}
