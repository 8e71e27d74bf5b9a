#include "platform/common/ZeroedBuffer.h"

#include <cstring>
#include <new>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace plat::soft {

namespace {

// Below this a heap allocation is cheaper than a mapping of its own.
constexpr std::size_t kMappedFrom = std::size_t(256) << 10;

#if !defined(_WIN32)
constexpr std::size_t kHugePage = std::size_t(2) << 20;
#endif

// Zeroed pages of the system. On Linux a buffer of several huge pages is placed on huge-page boundaries and
// marked for them: the first touch of each 2 MiB then costs one fault instead of 512, which is most of the
// time it takes to fill a fresh picture. Pages never touched still take no memory.
std::uint8_t* MapZeroed(std::size_t bytes) {
#if defined(_WIN32)
  void* p = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  return static_cast<std::uint8_t*>(p);
#else
  const bool huge = bytes >= 2 * kHugePage;
  if (huge && bytes > SIZE_MAX - kHugePage) return nullptr;
  const std::size_t reserve = huge ? bytes + kHugePage : bytes;
  void* p = mmap(nullptr, reserve, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  auto* base = static_cast<std::uint8_t*>(p);
  if (!huge) return base;
  // Keep the aligned part; give the rest back.
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(base);
  const std::size_t head = (kHugePage - at % kHugePage) % kHugePage;
  if (head) munmap(base, head);
  // The tail starts on the page after the buffer's last one: unmapping must start on a page boundary.
  static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t used = (bytes + page - 1) / page * page;
  const std::size_t tail = reserve - head - used;
  if (tail) munmap(base + head + used, tail);
#if defined(MADV_HUGEPAGE)
  madvise(base + head, bytes, MADV_HUGEPAGE);
#endif
  return base + head;
#endif
}

void Unmap(std::uint8_t* p, std::size_t bytes) {
#if defined(_WIN32)
  (void)bytes;
  VirtualFree(p, 0, MEM_RELEASE);
#else
  munmap(p, bytes);
#endif
}

}  // namespace

ZeroedBuffer::ZeroedBuffer(ZeroedBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, false)) {}

ZeroedBuffer& ZeroedBuffer::operator=(ZeroedBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    mapped_ = std::exchange(other.mapped_, false);
  }
  return *this;
}

void ZeroedBuffer::Release() {
  if (mapped_)
    Unmap(data_, size_);
  else
    delete[] data_;
  data_ = nullptr;
  size_ = 0;
  mapped_ = false;
}

void ZeroedBuffer::Allocate(std::size_t bytes) {
  Release();
  if (bytes == 0) return;
  if (bytes >= kMappedFrom) {
    data_ = MapZeroed(bytes);
    if (!data_) throw std::bad_alloc();
    mapped_ = true;
  } else {
    data_ = new std::uint8_t[bytes]();
  }
  size_ = bytes;
}

void ZeroedBuffer::Assign(const std::uint8_t* first, const std::uint8_t* last) {
  const std::size_t bytes = static_cast<std::size_t>(last - first);
  Allocate(bytes);
  if (bytes) std::memcpy(data_, first, bytes);
}

void ZeroedBuffer::Zero() {
  if (!size_) return;
#if defined(__linux__)
  // Private anonymous pages read as zero again once given back.
  if (mapped_ && madvise(data_, size_, MADV_DONTNEED) == 0) return;
#endif
  std::memset(data_, 0, size_);
}

}  // namespace plat::soft
