// Streams: the byte sources and sinks that picture readers, the form reader and file loading use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/SysUtils.h"

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to count bytes; returns how many were read (0 at the end).
  virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
  // Returns the new position. Seeking before the start clamps to 0; seeking past the end is allowed.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  virtual std::int64_t GetSize();
  virtual void SetSize(std::int64_t size);

  std::int64_t GetPosition() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(std::int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
  // Bytes between the position and the end (0 when the position is past the end).
  std::int64_t Remaining();

  // Read or write exactly count bytes, or raise EReadError "Stream read error" / EWriteError.
  void ReadBuffer(void* buffer, std::size_t count);
  void WriteBuffer(const void* buffer, std::size_t count);
  template <typename T>
  T ReadValue() {
    T v;
    ReadBuffer(&v, sizeof v);
    return v;
  }
  // Copies count bytes from source (count 0: the whole source from its start); returns the count copied.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

// A stream over memory it owns.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<std::uint8_t> data) : data_(std::move(data)) {}
  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t GetSize() override { return static_cast<std::int64_t>(data_.size()); }
  void SetSize(std::int64_t size) override;

  const std::uint8_t* Memory() const { return data_.data(); }
  std::vector<std::uint8_t>& Data() { return data_; }
  const std::vector<std::uint8_t>& Data() const { return data_; }
  void Clear() {
    data_.clear();
    pos_ = 0;
  }
  void LoadFromStream(TStream& s);
  void LoadFromFile(const std::string& name);
  void SaveToFile(const std::string& name);

 private:
  std::vector<std::uint8_t> data_;
  std::int64_t pos_ = 0;
};

// A read-only view of memory owned elsewhere; writes fail.
class TReadOnlyMemoryStream : public TStream {
 public:
  TReadOnlyMemoryStream(const void* data, std::size_t size)
      : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}
  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void*, std::size_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t GetSize() override { return static_cast<std::int64_t>(size_); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::int64_t pos_ = 0;
};

enum class TFileMode { fmOpenRead, fmCreate, fmOpenReadWrite };

class TFileStream : public TStream {
 public:
  // Raises EFOpenError "Cannot open file "%s". %s" (or EFCreateError) with the expanded name and the
  // system's text for the failure.
  TFileStream(const std::string& fileName, TFileMode mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  std::int64_t GetSize() override;
  const std::string& FileName() const { return fileName_; }

 private:
  std::FILE* file_ = nullptr;
  std::string fileName_;
};

// Windows error code for the C library's errno after a failed open (2 for a missing file, 5 for access).
std::uint32_t ErrnoToSystemError(int err);

// The component framework: persistent objects, components and collections.
#include "core/Components.h"
