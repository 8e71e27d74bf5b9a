#include "platform/System.h"

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

}  // namespace plat
