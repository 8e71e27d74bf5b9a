#include "platform/System.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "platform/Platform.h"

namespace plat {

std::string SysErrorMessage(DWORD code) {
  std::string s = Sys().FormatMessageText(code);
  while (!s.empty()) {
    unsigned char c = static_cast<unsigned char>(s.back());
    if (c <= ' ' || c == '.')  // control characters and spaces sort below '!'
      s.pop_back();
    else
      break;
  }
  return s;
}

std::string ProgramFile(const std::string& startedAs) {
  namespace fs = std::filesystem;
  std::error_code ec;
  auto resolved = [&](const fs::path& p) -> std::string {
    if (p.empty() || !fs::is_regular_file(p, ec)) return std::string();
    fs::path c = fs::canonical(p, ec);
    return ec ? fs::absolute(p, ec).string() : c.string();
  };
  const fs::path given(startedAs);
  if (!startedAs.empty() && given.has_parent_path()) {
    if (std::string r = resolved(given); !r.empty()) return r;
  } else if (!startedAs.empty()) {
#ifdef _WIN32
    const char separator = ';';
#else
    const char separator = ':';
#endif
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, separator)) {
      // An empty entry stands for the working directory.
      if (std::string r = resolved(fs::path(dir.empty() ? "." : dir) / given); !r.empty()) return r;
    }
  }
  // Linux names the running executable here whatever it was started as.
  return resolved(fs::read_symlink("/proc/self/exe", ec));
}

}  // namespace plat
