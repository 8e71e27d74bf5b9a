// The program's entry point. A plain start (or one naming only a registry file) runs on the machine's own
// desktop when one can be opened; with --headless, --help or any other option, or when no desktop opens (with
// a one-line notice), the run is a headless run on the soft platform (app/Headless.h).
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "app/Headless.h"
#include "app/Program.h"
#include "platform/Desktop.h"

namespace {

// A desktop run takes no option but --registry FILE; every other option belongs to headless runs.
bool DesktopRunWanted(const std::vector<std::string>& args, std::string& registryFile) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--registry" || i + 1 >= args.size() || args[i + 1].empty()) return false;
    registryFile = args[++i];
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  plat::DesktopOptions options;
  if (!DesktopRunWanted(args, options.registryFile)) return DesktopSnowMain(argc, argv);
  if (options.registryFile.empty()) options.registryFile = UserRegistryFile();
  options.defaultWallpaper = BundledWallpaper(argc > 0 ? argv[0] : "");
  std::string reason;
  try {
    if (std::unique_ptr<plat::DesktopSession> desktop = plat::OpenDesktop(options, &reason))
      return RunDesktopProgram();
  } catch (const std::exception& e) {
    // The desktop is there but the registry file is not readable: as a headless run reports it.
    std::fprintf(stderr, "desktop-snow: %s\n", e.what());
    return 2;
  }
  std::fprintf(stderr, "desktop-snow: %s, running headless (see --help)\n", reason.c_str());
  // The notice is given: the headless run is asked for explicitly.
  std::vector<char*> headless(argv, argv + argc);
  std::string flag = "--headless";
  headless.push_back(flag.data());
  headless.push_back(nullptr);
  return DesktopSnowMain(argc + 1, headless.data());
}
