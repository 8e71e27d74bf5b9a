// Small helpers the parts of the window tree share (WindowTree*.cpp); not for backends.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

namespace plat::soft::treeutil {

// Class and property names compare without regard to case.
inline std::string Lower(const char* s) {
  std::string out = s ? s : "";
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

inline bool EqualNoCase(const std::string& a, const char* b) {
  return Lower(a.c_str()) == Lower(b);
}

// Copies text into a caller's buffer of n characters: at most n-1 of them and a terminating zero.
inline int CopyText(const std::string& text, char* buffer, int n) {
  if (!buffer || n <= 0) return 0;
  const int count = static_cast<int>(std::min<std::size_t>(text.size(), static_cast<std::size_t>(n - 1)));
  std::memcpy(buffer, text.data(), static_cast<std::size_t>(count));
  buffer[count] = '\0';
  return count;
}

}  // namespace plat::soft::treeutil
