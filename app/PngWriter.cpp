#include "app/PngWriter.h"

#include <zlib.h>

#include <algorithm>

#include "core/Classes.h"
#include "core/SysUtils.h"

namespace {

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v >> 24));
  out.push_back(static_cast<std::uint8_t>(v >> 16));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

void PutChunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& data) {
  PutU32(out, static_cast<std::uint32_t>(data.size()));
  std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  uLong crc = crc32(0L, Z_NULL, 0);
  // The CRC covers the type and the data, fed in pieces small enough for zlib's 32-bit lengths.
  for (std::size_t pos = start; pos < out.size();) {
    std::size_t n = std::min<std::size_t>(out.size() - pos, 1u << 30);
    crc = crc32(crc, out.data() + pos, static_cast<uInt>(n));
    pos += n;
  }
  PutU32(out, static_cast<std::uint32_t>(crc));
}

}  // namespace

std::vector<std::uint8_t> EncodePng(int Width, int Height, const std::vector<std::uint32_t>& Pixels) {
  // Snapshots are screens; the limit keeps every size below well inside 32 bits.
  constexpr int kMaxSide = 16384;
  if (Width <= 0 || Height <= 0 || Width > kMaxSide || Height > kMaxSide)
    throw Exception(Format("Snapshot size %dx%d is not supported", Width, Height));
  std::size_t count = 0, rowBytes = 0, rawBytes = 0;
  if (!CheckedMul(static_cast<std::size_t>(Width), static_cast<std::size_t>(Height), count) ||
      count != Pixels.size())
    throw Exception("Snapshot pixels do not match its size");
  if (!CheckedMul(static_cast<std::size_t>(Width), 3, rowBytes) || !CheckedAdd(rowBytes, 1, rowBytes) ||
      !CheckedMul(rowBytes, static_cast<std::size_t>(Height), rawBytes))
    throw Exception("Snapshot is too large");

  std::vector<std::uint8_t> raw;
  raw.reserve(rawBytes);
  for (int y = 0; y < Height; ++y) {
    raw.push_back(0);  // filter type None
    const std::uint32_t* row = Pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(Width);
    for (int x = 0; x < Width; ++x) {
      raw.push_back(static_cast<std::uint8_t>(row[x] >> 16));
      raw.push_back(static_cast<std::uint8_t>(row[x] >> 8));
      raw.push_back(static_cast<std::uint8_t>(row[x]));
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK)
    throw Exception("Snapshot could not be compressed");
  packed.resize(packedSize);

  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  PutU32(header, static_cast<std::uint32_t>(Width));
  PutU32(header, static_cast<std::uint32_t>(Height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, adaptive filters, no interlace
  PutChunk(out, "IHDR", header);
  PutChunk(out, "IDAT", packed);
  PutChunk(out, "IEND", {});
  return out;
}

void SavePng(const std::string& FileName, int Width, int Height, const std::vector<std::uint32_t>& Pixels) {
  std::vector<std::uint8_t> bytes = EncodePng(Width, Height, Pixels);
  TFileStream file(FileName, TFileMode::fmCreate);
  file.WriteBuffer(bytes.data(), bytes.size());
}
