// Running the program without a desktop: command-line options, the default desktop of the soft platform
// (screen, shell windows, registry), the frame-limited message loop, the snapshot and the state dump.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render/DXClass.h"

namespace plat::soft {
class SoftPlatform;
}

struct THeadlessOptions {
  bool Headless = false;
  bool Help = false;
  int ScreenWidth = 1280;
  int ScreenHeight = 720;
  int ScreenBitCount = 32;
  std::int64_t Frames = 300;
  bool HasSeed = false;
  std::int64_t Seed = 0;
  std::string RegistryFile;
  std::string SnapshotFile;
  std::string DumpStateFile;
  std::string Density;  // caption of a "Snowflakes" menu item to choose before the first frame
  bool Stats = false;   // report the time to the first frame and the peak memory after the run
};

// Exit statuses of a headless run.
enum THeadlessStatus : int {
  hsOk = 0,            // the frames were drawn (or the program ended) and the outputs written
  hsOutputFailed = 1,  // the snapshot or the state could not be written after the run
  hsUsage = 2,         // the command line cannot be used; nothing was drawn
  hsErrorBox = 3,      // the program showed an error box (its text is on standard error)
};

// Parses the arguments after the program name. False with a one-line reason for anything it cannot use,
// including a screen depth the renderer cannot draw on.
bool ParseHeadlessOptions(const std::vector<std::string>& Args, THeadlessOptions& Options,
                          std::string& Error);
// The text --help prints.
std::string HeadlessUsage();

// The registry file a run reads when --registry is not given: $XDG_CONFIG_HOME/desktop-snow/user.reg (or
// ~/.config/... without XDG_CONFIG_HOME) when that file exists; empty otherwise.
std::string UserRegistryFile();
// The bundled wallpaper, found from the program's file (ProgramPath is what it was started as, argv[0]):
// share/desktop-snow/wallpaper.jpg of the installed tree, else assets/wallpaper.jpg of the source tree it was
// built in, else assets/wallpaper.jpg under the working directory; empty when not found.
std::string BundledWallpaper(const std::string& ProgramPath);
// A desktop for the soft platform: the shell's windows ("Progman" > "SHELLDLL_DefView" > "SysListView32")
// and the registry from RegistryFile, or from the user's file, or a built-in one naming Wallpaper.
// Raises when a given registry file cannot be read.
void SetUpDefaultDesktop(plat::soft::SoftPlatform& Platform, const std::string& RegistryFile,
                         const std::string& Wallpaper);

// The snow's state as a JSON object (FlakeCount, wind values, RandomSeed and all flake records); doubles
// are written with 17 significant digits so they read back exactly.
std::string SnowStateJson();

// Counts frames in Counter (which must outlive the wrapping) by wrapping Form1's timer handler; returns the
// handler it wrapped, to be put back when counting ends.
TDXTimerEvent CountFrames(std::int64_t& Counter);
// Runs the message loop until Frames frames were drawn, the program ended, an interrupt or termination
// signal arrived (Ctrl-C: the run ends after the frame in progress), or nothing more can happen (no frame
// can come and no message is waiting). Each pass that draws nothing lets 1 ms of virtual time pass, as a
// busy loop would. Returns the frames drawn.
std::int64_t RunFrames(plat::soft::SoftPlatform& Platform, std::int64_t Frames);

// Empty when File can be written (an existing file is left as it is, a missing one is not created); else
// the reason, as the system words it.
std::string CheckWritable(const std::string& File);
// Chooses the density item of Form1's "Snowflakes" submenu whose caption is Caption (letter case ignored)
// as a menu choice would. False when there is no such item.
bool ChooseDensity(const std::string& Caption);
// The captions of the density items, comma-separated, for messages.
std::string DensityCaptions();

// The whole program: options, platform, RunProgram with the frame-limited loop, outputs. Returns a
// THeadlessStatus.
int DesktopSnowMain(int argc, char** argv);
