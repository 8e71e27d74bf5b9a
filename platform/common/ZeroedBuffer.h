// Pixel memory that reads as zero until written. Large buffers come straight from the system's zeroed
// pages, so a picture of which only a part is ever written (a texture's power-of-two padding, a screen
// nothing draws on) holds memory only for the pages written; small ones are plain zeroed allocations.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat::soft {

class ZeroedBuffer {
 public:
  ZeroedBuffer() = default;
  // Raises std::bad_alloc when the memory cannot be had.
  explicit ZeroedBuffer(std::size_t bytes) { Allocate(bytes); }
  ~ZeroedBuffer() { Release(); }
  ZeroedBuffer(ZeroedBuffer&& other) noexcept;
  ZeroedBuffer& operator=(ZeroedBuffer&& other) noexcept;
  // Copies hold their own copy of the bytes.
  ZeroedBuffer(const ZeroedBuffer& other) { Assign(other.data_, other.data_ + other.size_); }
  ZeroedBuffer& operator=(const ZeroedBuffer& other) {
    if (this != &other) Assign(other.data_, other.data_ + other.size_);
    return *this;
  }

  // bytes zeros in place of the old contents. Raises std::bad_alloc when the memory cannot be had.
  void Allocate(std::size_t bytes);
  // A copy of [first, last) in place of the old contents.
  void Assign(const std::uint8_t* first, const std::uint8_t* last);
  // Every byte 0 again; written pages of a large buffer are given back to the system.
  void Zero();

  std::uint8_t* data() { return data_; }
  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

 private:
  void Release();
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  bool mapped_ = false;  // from the system's pages rather than the heap
};

}  // namespace plat::soft
