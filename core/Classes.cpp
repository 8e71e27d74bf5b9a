#include "core/Classes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>

#include "core/Consts.h"
#include "platform/System.h"

std::int64_t TStream::GetSize() {
  std::int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  std::int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

void TStream::SetSize(std::int64_t) {}

std::int64_t TStream::Remaining() {
  std::int64_t r = GetSize() - GetPosition();
  return r > 0 ? r : 0;
}

void TStream::ReadBuffer(void* buffer, std::size_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError(SReadError);
}

void TStream::WriteBuffer(const void* buffer, std::size_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError(SWriteError);
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.GetSize();
  }
  std::int64_t result = count;
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(std::min<std::int64_t>(count, 0xF000)) + 1);
  while (count > 0) {
    std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(count, 0xF000));
    source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    count -= static_cast<std::int64_t>(n);
  }
  return result;
}

// --- TMemoryStream

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
  std::int64_t size = static_cast<std::int64_t>(data_.size());
  if (pos_ >= size || count == 0) return 0;
  std::size_t n = std::min<std::size_t>(count, static_cast<std::size_t>(size - pos_));
  std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += static_cast<std::int64_t>(n);
  return n;
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count) {
  if (count == 0) return 0;
  std::size_t end;
  if (!CheckedAdd(static_cast<std::size_t>(pos_), count, end)) throw EOutOfMemory(SMemoryStreamError);
  if (end > data_.size()) data_.resize(end);
  std::memcpy(data_.data() + pos_, buffer, count);
  pos_ = static_cast<std::int64_t>(end);
  return count;
}

static std::int64_t SeekPos(std::int64_t pos, std::int64_t size, std::int64_t offset, TSeekOrigin origin) {
  std::int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? pos : size;
  if (offset > 0 && base > std::numeric_limits<std::int64_t>::max() - offset)
    return std::numeric_limits<std::int64_t>::max();
  std::int64_t r = base + offset;
  return r < 0 ? 0 : r;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  pos_ = SeekPos(pos_, static_cast<std::int64_t>(data_.size()), offset, origin);
  return pos_;
}

void TMemoryStream::SetSize(std::int64_t size) {
  data_.resize(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
  if (pos_ > size) pos_ = size;
}

void TMemoryStream::LoadFromStream(TStream& s) {
  s.SetPosition(0);
  std::int64_t n = s.GetSize();
  data_.assign(static_cast<std::size_t>(n), 0);
  s.ReadBuffer(data_.data(), data_.size());
  pos_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& name) {
  TFileStream f(name, TFileMode::fmOpenRead);
  LoadFromStream(f);
}

void TMemoryStream::SaveToFile(const std::string& name) {
  TFileStream f(name, TFileMode::fmCreate);
  f.WriteBuffer(data_.data(), data_.size());
}

// --- TReadOnlyMemoryStream

std::size_t TReadOnlyMemoryStream::Read(void* buffer, std::size_t count) {
  std::int64_t size = static_cast<std::int64_t>(size_);
  if (pos_ >= size || count == 0) return 0;
  std::size_t n = std::min<std::size_t>(count, static_cast<std::size_t>(size - pos_));
  std::memcpy(buffer, data_ + pos_, n);
  pos_ += static_cast<std::int64_t>(n);
  return n;
}

std::int64_t TReadOnlyMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  pos_ = SeekPos(pos_, static_cast<std::int64_t>(size_), offset, origin);
  return pos_;
}

// --- TFileStream

std::uint32_t ErrnoToSystemError(int err) {
  switch (err) {
    case ENOENT:
      return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
      return 3;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return 5;
    case EMFILE:
    case ENFILE:
      return 4;
    case ENOMEM:
      return 8;
    default:
      return 87;
  }
}

TFileStream::TFileStream(const std::string& fileName, TFileMode mode) : fileName_(fileName) {
  const char* m = mode == TFileMode::fmCreate ? "w+b" : mode == TFileMode::fmOpenRead ? "rb" : "r+b";
  std::error_code ec;
  if (mode == TFileMode::fmOpenRead && std::filesystem::is_directory(fileName, ec)) {
    errno = EISDIR;  // fopen opens directories for reading on some systems; reading them then fails
  } else if (!fileName.empty()) {
    errno = 0;
    file_ = std::fopen(fileName.c_str(), m);
  } else {
    errno = ENOENT;
  }
  if (!file_) {
    std::uint32_t code = ErrnoToSystemError(errno);
    std::string text = plat::SysErrorMessage(code);
    if (mode == TFileMode::fmCreate)
      throw EFCreateError(Format(SFCreateErrorEx, ExpandFileName(fileName), text));
    throw EFOpenError(Format(SFOpenErrorEx, ExpandFileName(fileName), text));
  }
}

TFileStream::~TFileStream() {
  if (file_) std::fclose(file_);
}

std::size_t TFileStream::Read(void* buffer, std::size_t count) {
  return std::fread(buffer, 1, count, file_);
}

std::size_t TFileStream::Write(const void* buffer, std::size_t count) {
  return std::fwrite(buffer, 1, count, file_);
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
               : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                  : SEEK_END;
  if (std::fseek(file_, static_cast<long>(offset), whence) != 0 && origin != TSeekOrigin::soCurrent) {
    std::fseek(file_, 0, SEEK_SET);
  }
  return static_cast<std::int64_t>(std::ftell(file_));
}

std::int64_t TFileStream::GetSize() {
  long pos = std::ftell(file_);
  std::fseek(file_, 0, SEEK_END);
  long size = std::ftell(file_);
  std::fseek(file_, pos, SEEK_SET);
  return size;
}
