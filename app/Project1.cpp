// The program's entry point. On Windows a plain start runs on the real desktop; with --headless, --help or
// any other option (and on every other system until its desktop backend exists) the run is a headless run on
// the soft platform (app/Headless.h).
#include "app/Headless.h"
#include "app/Program.h"
#ifdef _WIN32
#include "platform/win32/Win32Platform.h"
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  if (argc <= 1) {
    plat::win32::Win32Platform platform;
    return RunDesktopProgram();
  }
#endif
  return DesktopSnowMain(argc, argv);
}
