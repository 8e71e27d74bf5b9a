#include "picture/pngimage/PngCore.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/Classes.h"
#include "picture/pngimage/PngErrors.h"

namespace png {

std::uint32_t CrcUpdate(std::uint32_t running, const std::uint8_t* data, std::size_t size) {
  // zlib keeps the standard's table; its value is the complement of the running register.
  uLong c = ~running & 0xFFFFFFFFu;
  while (size > 0) {
    const uInt block = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
    c = crc32(c, data, block);
    data += block;
    size -= block;
  }
  return ~static_cast<std::uint32_t>(c);
}

std::uint32_t ChunkCrc(const char type[4], const std::uint8_t* data, std::size_t size) {
  std::uint32_t c = CrcUpdate(0xFFFFFFFFu, reinterpret_cast<const std::uint8_t*>(type), 4);
  return ~CrcUpdate(c, data, size);
}

THeaderFields ParseHeader(const std::uint8_t* d) {
  THeaderFields h;
  h.Width = ReadBE32(d);
  h.Height = ReadBE32(d + 4);
  h.BitDepth = d[8];
  h.ColorType = d[9];
  h.CompressionMethod = d[10];
  h.FilterMethod = d[11];
  h.InterlaceMethod = d[12];
  return h;
}

bool IsValidFormat(std::uint8_t colorType, std::uint8_t bitDepth) {
  switch (colorType) {
    case 0:
      return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8 || bitDepth == 16;
    case 3:
      return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8;
    case 2:
    case 4:
    case 6:
      return bitDepth == 8 || bitDepth == 16;
    default:
      return false;
  }
}

THeaderProblem CheckHeader(const THeaderFields& h, std::size_t dataSize) {
  if (dataSize < 13) return THeaderProblem::TooShort;
  if (h.Width > 65535 || h.Height > 65535) return THeaderProblem::SizeExceeds;
  if (h.CompressionMethod != 0) return THeaderProblem::UnknownCompression;
  if (h.InterlaceMethod > 1) return THeaderProblem::UnknownInterlace;
  // An empty image or an unknown sample layout would leave a store nobody can fill or draw.
  if (h.Width == 0 || h.Height == 0 || !IsValidFormat(h.ColorType, h.BitDepth))
    return THeaderProblem::BadFormat;
  return THeaderProblem::None;
}

unsigned StoreBitsPerPixel(std::uint8_t colorType, std::uint8_t bitDepth) {
  switch (colorType) {
    case 0:
    case 3:
    case 4:
      switch (bitDepth) {
        case 1:
        case 4:
        case 8:
          return bitDepth;
        case 2:
          return 4;
        case 16:
          return 8;
        default:
          return 0;
      }
    case 2:
    case 6:
      return 24;
    default:
      return 0;
  }
}

bool StoreUsesPalette(std::uint8_t colorType, std::uint8_t bitDepth) {
  return (colorType == 0 || colorType == 3 || colorType == 4) && StoreBitsPerPixel(colorType, bitDepth) != 0;
}

std::size_t StoreRowBytesFor(unsigned storeBits, std::uint32_t width) {
  return ((std::size_t(storeBits) * width + 31) / 32) * 4;
}

std::size_t RowBytesFor(std::uint8_t colorType, std::uint8_t bitDepth, std::uint32_t n) {
  const std::size_t d = bitDepth;
  switch (colorType) {
    case 0:
    case 3:
      return (n * d + 7) / 8;
    case 2:
      return n * d * 3 / 8;
    case 4:
      return n * d * 2 / 8;
    case 6:
      return n * d * 4 / 8;
    default:
      return 0;
  }
}

unsigned FilterOffsetFor(std::uint8_t colorType, std::uint8_t bitDepth) {
  unsigned r = 0;
  switch (colorType) {
    case 0:
      r = bitDepth == 16 ? 2 : 1;
      break;
    case 3:
      r = 1;
      break;
    case 2:
      r = bitDepth * 3u / 8;
      break;
    case 4:
      r = bitDepth / 4u;
      break;
    case 6:
      r = bitDepth / 2u;
      break;
    default:
      break;
  }
  return r == 0 ? 1 : r;
}

namespace {

inline int PaethPredictor(int a, int up, int c) {
  const int pa = std::abs(up - c), pb = std::abs(a - c), pc = std::abs(a + up - 2 * c);
  return (pa <= pb && pa <= pc) ? a : (pb <= pc ? up : c);
}

// The left-neighbour filters with the pixel size known at compile time: the previous pixel's bytes stay in
// registers instead of being read back from the row just written, which is most of a large image's
// unfiltering time.
template <unsigned B>
void UndoLeftFilters(std::uint8_t filter, std::uint8_t* x, const std::uint8_t* p, std::size_t n) {
  int left[B] = {}, upLeft[B] = {};
  const std::size_t whole = n - n % B;
  std::size_t i = 0;
  switch (filter) {
    case 1:
      for (; i < whole; i += B)
        for (unsigned k = 0; k < B; ++k) left[k] = x[i + k] = std::uint8_t(x[i + k] + left[k]);
      break;
    case 3:
      for (; i < whole; i += B)
        for (unsigned k = 0; k < B; ++k)
          left[k] = x[i + k] = std::uint8_t(x[i + k] + ((p[i + k] + left[k]) >> 1));
      break;
    case 4:
      for (; i < whole; i += B)
        for (unsigned k = 0; k < B; ++k) {
          const int up = p[i + k];
          left[k] = x[i + k] = std::uint8_t(x[i + k] + PaethPredictor(left[k], up, upLeft[k]));
          upLeft[k] = up;
        }
      break;
    default:
      break;
  }
  // A row shorter than one pixel size (never produced by a valid header) keeps the general rule.
  for (; i < n; ++i) {
    const int a = i >= B ? x[i - B] : 0, up = p[i], c = i >= B ? p[i - B] : 0;
    const int pred = filter == 1 ? a : filter == 3 ? (a + up) >> 1 : PaethPredictor(a, up, c);
    x[i] = std::uint8_t(x[i] + pred);
  }
}

}  // namespace

void UndoRowFilter(std::uint8_t filter, std::uint8_t* x, const std::uint8_t* p, std::size_t n, unsigned bpp) {
  switch (filter) {
    case 2:
      for (std::size_t i = 0; i < n; ++i) x[i] = std::uint8_t(x[i] + p[i]);
      return;
    case 1:
    case 3:
    case 4:
      break;
    default:
      return;
  }
  switch (bpp) {
    case 1:
      return UndoLeftFilters<1>(filter, x, p, n);
    case 2:
      return UndoLeftFilters<2>(filter, x, p, n);
    case 3:
      return UndoLeftFilters<3>(filter, x, p, n);
    case 4:
      return UndoLeftFilters<4>(filter, x, p, n);
    case 6:
      return UndoLeftFilters<6>(filter, x, p, n);
    case 8:
      return UndoLeftFilters<8>(filter, x, p, n);
    default:
      break;
  }
  const std::size_t b = std::min<std::size_t>(bpp, n);
  for (std::size_t i = 0; i < n; ++i) {
    const int a = i >= b ? x[i - b] : 0, up = p[i], c = i >= b ? p[i - b] : 0;
    const int pred = filter == 1 ? a : filter == 3 ? (a + up) >> 1 : PaethPredictor(a, up, c);
    x[i] = std::uint8_t(x[i] + pred);
  }
}

const TAdam7Pass kAdam7[7] = {{0, 0, 8, 8}, {0, 4, 8, 8}, {4, 0, 8, 4}, {0, 2, 4, 4},
                              {2, 0, 4, 2}, {0, 1, 2, 2}, {1, 0, 2, 1}};

std::uint32_t PassWidth(std::uint32_t width, const TAdam7Pass& p) {
  return std::uint32_t((std::uint64_t(width) + p.colStep - p.colStart - 1) / p.colStep);
}

void IdentityMap(TByteMap& m) {
  for (unsigned i = 0; i < 256; ++i) m[i] = std::uint8_t(i);
}

void BuildGammaMaps(std::uint32_t gammaValue, TByteMap& gamma, TByteMap& inverse) {
  if (gammaValue == 0) return;
  const double exponent = 1.0 / (gammaValue / 100000.0 * 2.2);
  for (unsigned i = 0; i < 256; ++i) {
    // nearbyint under the default rounding mode rounds halves to even.
    const double v = std::nearbyint(std::pow(i / 255.0, exponent) * 255.0);
    gamma[i] = std::uint8_t(std::clamp(v, 0.0, 255.0));
    inverse[gamma[i]] = std::uint8_t(i);
  }
}

std::uint8_t GreyRampLevel(unsigned n, unsigned entries, const TByteMap& gamma) {
  if (entries < 2) return gamma[0];
  const double v = std::nearbyint(double(n) * 255.0 / double(entries - 1));
  return gamma[std::size_t(std::clamp(v, 0.0, 255.0))];
}

unsigned GreySampleToIndex(unsigned sample, std::uint8_t bitDepth) {
  switch (bitDepth) {
    case 2:
      return (sample << 2) | sample;  // levels 0, 85, 170, 255 on the 16-entry ramp
    case 16:
      return sample >> 8;
    default:
      return sample;
  }
}

namespace {

inline void PutSubByte(std::uint8_t* line, std::uint32_t x, unsigned bits, unsigned v) {
  const std::size_t bit = std::size_t(x) * bits;
  line[bit / 8] |= std::uint8_t(v << (8 - bits - bit % 8));
}

inline unsigned GetSample(const std::uint8_t* row, std::uint32_t k, unsigned bits) {
  const std::size_t bit = std::size_t(k) * bits;
  return (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

}  // namespace

void ConvertRow(const THeaderFields& h, const TByteMap& g, const std::uint8_t* row, std::uint32_t n,
                std::uint32_t y, std::uint32_t x0, std::uint32_t dx, const TStoreView& s) {
  if (y >= s.height || n == 0) return;
  const std::size_t storeRow = std::size_t(s.height - 1 - y) * s.rowBytes;
  std::uint8_t* line = s.bits + storeRow;
  std::uint8_t* low = s.lowBytes ? s.lowBytes + storeRow : nullptr;
  std::uint8_t* alpha = s.alpha ? s.alpha + std::size_t(y) * s.width : nullptr;
  const unsigned d = h.BitDepth;
  // Never let a pass column land outside the row, whatever the caller's geometry.
  const std::uint64_t lastX = x0 + std::uint64_t(n - 1) * dx;
  if (lastX >= s.width) return;

  switch (h.ColorType) {
    case 0:
    case 3:
      if (d == 8 || d == 4 || d == 1) {
        if (dx == 1 && x0 == 0) {
          const std::size_t bitsUsed = std::size_t(n) * d;
          std::memcpy(line, row, bitsUsed / 8);
          if (bitsUsed % 8)
            line[bitsUsed / 8] = std::uint8_t(row[bitsUsed / 8] & (0xFF00u >> (bitsUsed % 8)));
        } else if (d == 8) {
          for (std::uint32_t k = 0; k < n; ++k) line[x0 + k * dx] = row[k];
        } else {
          for (std::uint32_t k = 0; k < n; ++k) PutSubByte(line, x0 + k * dx, d, GetSample(row, k, d));
        }
      } else if (d == 2) {
        for (std::uint32_t k = 0; k < n; ++k) {
          const unsigned v = GetSample(row, k, 2);
          PutSubByte(line, x0 + k * dx, 4, h.ColorType == 3 ? v : GreySampleToIndex(v, 2));
        }
      } else if (d == 16 && h.ColorType == 0 && low) {
        for (std::uint32_t k = 0; k < n; ++k) {
          const std::uint32_t x = x0 + k * dx;
          line[x] = row[2 * k];
          low[x] = row[2 * k + 1];
        }
      }
      break;
    case 2:
    case 6: {
      if (d == 8) {
        // The common case without per-pixel tests: truecolour rows are most of a large photograph's time.
        if (h.ColorType == 6 && alpha) {
          for (std::uint32_t k = 0; k < n; ++k) {
            const std::uint8_t* src = row + std::size_t(k) * 4;
            const std::uint32_t x = x0 + k * dx;
            std::uint8_t* dst = line + std::size_t(x) * 3;
            dst[0] = g[src[2]];
            dst[1] = g[src[1]];
            dst[2] = g[src[0]];
            alpha[x] = src[3];
          }
        } else {
          const unsigned px = h.ColorType == 2 ? 3u : 4u;
          for (std::uint32_t k = 0; k < n; ++k) {
            const std::uint8_t* src = row + std::size_t(k) * px;
            std::uint8_t* dst = line + std::size_t(x0 + k * dx) * 3;
            dst[0] = g[src[2]];
            dst[1] = g[src[1]];
            dst[2] = g[src[0]];
          }
        }
        break;
      }
      const unsigned px = (h.ColorType == 2 ? 3u : 4u) * (d / 8);
      for (std::uint32_t k = 0; k < n; ++k) {
        const std::uint8_t* src = row + std::size_t(k) * px;
        const std::uint32_t x = x0 + k * dx;
        std::uint8_t* dst = line + std::size_t(x) * 3;
        if (d == 8) {
          dst[0] = g[src[2]];
          dst[1] = g[src[1]];
          dst[2] = g[src[0]];
          if (alpha) alpha[x] = src[3];
        } else if (low) {
          dst[0] = g[src[4]];
          dst[1] = g[src[2]];
          dst[2] = g[src[0]];
          std::uint8_t* l = low + std::size_t(x) * 3;
          l[0] = g[src[5]];
          l[1] = g[src[3]];
          l[2] = g[src[1]];
          if (alpha) alpha[x] = src[6];
        }
      }
      break;
    }
    case 4:
      for (std::uint32_t k = 0; k < n; ++k) {
        const std::uint32_t x = x0 + k * dx;
        if (d == 8) {
          line[x] = row[2 * k];
          if (alpha) alpha[x] = row[2 * k + 1];
        } else {
          line[x] = row[4 * k];
          if (low) low[x] = row[4 * k + 1];
          if (alpha) alpha[x] = row[4 * k + 2];
        }
      }
      break;
    default:
      break;
  }
}

namespace {

const char* ZlibResultText(int r) {
  switch (r) {
    case Z_VERSION_ERROR:
      return "incompatible version (-6)";
    case Z_BUF_ERROR:
      return "buffer error (-5)";
    case Z_MEM_ERROR:
      return "insufficient memory (-4)";
    case Z_DATA_ERROR:
      return "data error (-3)";
    case Z_STREAM_ERROR:
      return "stream error (-2)";
    case Z_ERRNO:
      return "file error (-1)";
    case Z_NEED_DICT:
      return "need dictionary (2)";
    case Z_STREAM_END:
      return "stream end (1)";
    default:
      return "unknown error";
  }
}

[[noreturn]] void RaiseZlib(int r) {
  throw EPNGZLIBError(std::string(EPngZLIBErrorText) + ZlibResultText(r));
}

// Reads compressed bytes from consecutive IDAT chunks, checking each chunk's CRC as it is left.
class TImageDataInflater {
 public:
  TImageDataInflater(TStream& s, std::uint32_t firstLength) : s_(s), dataLeft_(firstLength), in_(65535) {
    static const char kIDAT[4] = {'I', 'D', 'A', 'T'};
    crc_ = CrcUpdate(0xFFFFFFFFu, reinterpret_cast<const std::uint8_t*>(kIDAT), 4);
    std::memset(&z_, 0, sizeof z_);
    const int r = inflateInit(&z_);
    if (r != Z_OK) RaiseZlib(r);
  }
  ~TImageDataInflater() { inflateEnd(&z_); }
  TImageDataInflater(const TImageDataInflater&) = delete;
  TImageDataInflater& operator=(const TImageDataInflater&) = delete;

  // Fills n bytes; returns fewer only when the stream has run dry.
  std::size_t Fill(std::uint8_t* out, std::size_t n) {
    z_.next_out = out;
    z_.avail_out = static_cast<uInt>(n);
    while (z_.avail_out > 0) {
      if (z_.avail_in == 0 && drained_) {
        if (dataLeft_ == 0) {
          NextChunk();
          continue;
        }
        const std::size_t got = s_.Read(in_.data(), std::min<std::uint64_t>(in_.size(), dataLeft_));
        if (got == 0) return n - z_.avail_out;
        crc_ = CrcUpdate(crc_, in_.data(), got);
        dataLeft_ -= got;
        z_.next_in = in_.data();
        z_.avail_in = static_cast<uInt>(got);
        drained_ = false;
      }
      const uInt outBefore = z_.avail_out;
      const int r = inflate(&z_, Z_NO_FLUSH);
      if (r == Z_BUF_ERROR && z_.avail_in == 0) {
        // No progress without more input; inflate may hold output back until then.
        drained_ = true;
        continue;
      }
      if (r < 0 || r == Z_NEED_DICT) RaiseZlib(r);
      if (r == Z_STREAM_END && z_.avail_out > 0) RaiseZlib(r);  // compressed data ended before the image did
      if (z_.avail_in == 0 && z_.avail_out == outBefore) drained_ = true;
    }
    return n;
  }

  // Consumes what is left of the current chunk's data and checks its CRC.
  void Finish() {
    while (dataLeft_ > 0) {
      const std::size_t got = s_.Read(in_.data(), std::min<std::uint64_t>(in_.size(), dataLeft_));
      if (got == 0) break;
      crc_ = CrcUpdate(crc_, in_.data(), got);
      dataLeft_ -= got;
    }
    CheckCrc();
  }

 private:
  void CheckCrc() {
    std::uint8_t b[4] = {0, 0, 0, 0};
    const std::size_t got = s_.Read(b, 4);
    if (got != 4 || ReadBE32(b) != ~crc_) throw EPngInvalidCRC(EPngInvalidCRCText);
  }

  void NextChunk() {
    CheckCrc();
    std::uint8_t head[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    const std::size_t got = s_.Read(head, 8);
    if (got != 8 || std::memcmp(head + 4, "IDAT", 4) != 0)
      throw EPNGMissingMultipleIDAT(EPngMissingMultipleIDATText);
    crc_ = CrcUpdate(0xFFFFFFFFu, head + 4, 4);
    dataLeft_ = ReadBE32(head);
  }

  TStream& s_;
  std::uint64_t dataLeft_;
  std::vector<std::uint8_t> in_;
  std::uint32_t crc_ = 0;
  bool drained_ = true;
  z_stream z_;
};

}  // namespace

void DecodeImageData(TStream& stream, std::uint32_t firstLength, const THeaderFields& h,
                     const TByteMap& gamma, const TStoreView& store) {
  TImageDataInflater inflater(stream, firstLength);
  const unsigned bpp = FilterOffsetFor(h.ColorType, h.BitDepth);
  const std::size_t fullRowBytes = RowBytesFor(h.ColorType, h.BitDepth, h.Width);
  std::vector<std::uint8_t> bufA(fullRowBytes + 1, 0), bufB(fullRowBytes + 1, 0);
  std::uint8_t* prev = bufA.data();
  std::uint8_t* cur = bufB.data();

  // One row: false when the stream ran dry and decoding stops.
  auto decodeRow = [&](std::size_t rowBytes, std::uint32_t n, std::uint32_t y, std::uint32_t x0,
                       std::uint32_t dx) {
    if (inflater.Fill(cur, rowBytes + 1) == 0) return false;
    UndoRowFilter(cur[0], cur + 1, prev + 1, rowBytes, bpp);
    ConvertRow(h, gamma, cur + 1, n, y, x0, dx, store);
    std::swap(cur, prev);
    return true;
  };

  bool more = true;
  if (h.InterlaceMethod == 0) {
    for (std::uint32_t y = 0; y < h.Height && more; ++y) more = decodeRow(fullRowBytes, h.Width, y, 0, 1);
  } else {
    for (const TAdam7Pass& p : kAdam7) {
      if (!more) break;
      const std::uint32_t n = PassWidth(h.Width, p);
      const std::size_t rowBytes = RowBytesFor(h.ColorType, h.BitDepth, n);
      if (rowBytes == 0) continue;
      std::memset(prev, 0, rowBytes + 1);
      for (std::uint32_t y = p.rowStart; y < h.Height && more; y += p.rowStep)
        more = decodeRow(rowBytes, n, y, p.colStart, p.colStep);
    }
  }
  inflater.Finish();
}

bool InflateAll(const std::uint8_t* data, std::size_t size, std::string& out, std::size_t maxOut) {
  out.clear();
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(std::min<std::size_t>(size, 0xFFFFFFFFu));
  std::uint8_t buf[16384];
  bool ok = false;
  for (;;) {
    z.next_out = buf;
    z.avail_out = sizeof buf;
    const int r = inflate(&z, Z_NO_FLUSH);
    const std::size_t produced = sizeof buf - z.avail_out;
    if (out.size() + produced > maxOut) break;
    out.append(reinterpret_cast<const char*>(buf), produced);
    if (r == Z_STREAM_END) {
      ok = true;
      break;
    }
    if (r != Z_OK) break;  // includes Z_BUF_ERROR: input exhausted before the end
  }
  inflateEnd(&z);
  if (!ok) out.clear();
  return ok;
}

}  // namespace png
