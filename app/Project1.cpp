// The program's entry point. Until a desktop backend exists every run is a headless run on the soft
// platform (app/Headless.h).
#include "app/Headless.h"

int main(int argc, char** argv) {
  return DesktopSnowMain(argc, argv);
}
