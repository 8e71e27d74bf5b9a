// The public test pictures under tests/data. A missing file or folder fails the test that wanted it and
// yields nothing, so that test ends cleanly instead of reading past an empty buffer.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::string TestDataPath(const std::string& rel) {
  return std::string(DS_CORPORA_DIR) + "/" + rel;
}

inline std::vector<std::uint8_t> ReadTestFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    ADD_FAILURE() << "test file missing: " << path;
    return {};
  }
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// The files of a folder with the given extension (all files when empty), sorted by path.
inline std::vector<std::string> TestDataFiles(const std::string& dir, const std::string& extension = "",
                                              bool recursive = false) {
  std::vector<std::string> out;
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) {
    ADD_FAILURE() << "test folder missing: " << dir;
    return out;
  }
  auto take = [&](const std::filesystem::directory_entry& e) {
    if (e.is_regular_file() && (extension.empty() || e.path().extension() == extension))
      out.push_back(e.path().string());
  };
  if (recursive)
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) take(e);
  else
    for (const auto& e : std::filesystem::directory_iterator(dir)) take(e);
  std::sort(out.begin(), out.end());
  return out;
}
