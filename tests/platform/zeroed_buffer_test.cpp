// Pixel memory that reads as zero until written, small and large (from the system's pages).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/common/ZeroedBuffer.h"

using plat::soft::ZeroedBuffer;

namespace {

bool AllZero(const ZeroedBuffer& b) {
  return std::all_of(b.data(), b.data() + b.size(), [](std::uint8_t v) { return v == 0; });
}

TEST(ZeroedBuffer, NewBuffersOfEverySizeReadAsZeroAndZeroAgainAfterWriting) {
  for (std::size_t bytes : {std::size_t(1), std::size_t(4096), std::size_t(5) << 20}) {
    ZeroedBuffer b(bytes);
    ASSERT_EQ(b.size(), bytes);
    EXPECT_TRUE(AllZero(b)) << bytes;
    std::fill(b.data(), b.data() + bytes, std::uint8_t(0xA5));
    b.data()[bytes - 1] = 1;
    b.Zero();
    EXPECT_TRUE(AllZero(b)) << bytes;
    b.data()[bytes / 2] = 7;  // still writable after giving its pages back
    EXPECT_EQ(b.data()[bytes / 2], 7);
  }
}

TEST(ZeroedBuffer, AssignCopiesAndMovingHandsTheMemoryOver) {
  std::vector<std::uint8_t> src(std::size_t(1) << 20);
  for (std::size_t i = 0; i < src.size(); ++i) src[i] = std::uint8_t(i * 13);
  ZeroedBuffer a;
  EXPECT_TRUE(a.empty());
  a.Assign(src.data(), src.data() + src.size());
  ASSERT_EQ(a.size(), src.size());
  EXPECT_TRUE(std::equal(src.begin(), src.end(), a.data()));
  const std::uint8_t* memory = a.data();
  ZeroedBuffer b(std::move(a));
  EXPECT_EQ(b.data(), memory);
  EXPECT_TRUE(a.empty());
  a = std::move(b);
  EXPECT_EQ(a.data(), memory);
  a.Allocate(0);
  EXPECT_TRUE(a.empty());
}

#if defined(__linux__)
// The address space the process holds, in kB, as the system counts it.
long AddressSpaceKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmSize:", 0) == 0) return std::stol(line.substr(7));
  return -1;
}

TEST(ZeroedBuffer, LargeBuffersOfAnySizeGiveAllTheirAddressSpaceBack) {
  // Sizes that end inside a page: the space reserved past the buffer for alignment must still be returned.
  const long before = AddressSpaceKb();
  ASSERT_GT(before, 0);
  for (int i = 0; i < 64; ++i) {
    ZeroedBuffer b((std::size_t(5) << 20) + 100 + std::size_t(i) * 7);
    b.data()[b.size() - 1] = 1;
  }
  EXPECT_LT(AddressSpaceKb() - before, 16 * 1024);
}
#endif

}  // namespace
