// Replays every committed input of a fuzz target through the target's own entry point, so inputs that once
// crashed, hung or leaked stay fixed (the sanitizer build does the checking).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzzreplay {

inline std::vector<std::string> CorpusFiles(const std::string& target) {
  std::vector<std::string> files;
  const std::filesystem::path dir = std::filesystem::path(DS_SOURCE_DIR) / "fuzz" / "corpus" / target;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.is_regular_file()) files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

inline std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Feeds each file, then each file cut in half (the nearest neighbour a fuzzer would try first); the entry
// point returns 0 for every input it handles.
inline void ReplayCorpus(const std::string& target) {
  const std::vector<std::string> files = CorpusFiles(target);
  ASSERT_FALSE(files.empty()) << "no corpus for " << target;
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    const std::vector<std::uint8_t> bytes = ReadAll(path);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size() / 2), 0);
  }
  const std::uint8_t none = 0;
  EXPECT_EQ(LLVMFuzzerTestOneInput(&none, 0), 0);
}

}  // namespace fuzzreplay
