#include "picture/pngimage/PngCore.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/Classes.h"
#include "picture/pngimage/PngErrors.h"
#include "platform/common/ZeroedBuffer.h"

namespace png {

std::uint32_t CrcUpdate(std::uint32_t running, const std::uint8_t* data, std::size_t size) {
  // libdeflate keeps the value as the complement of the running register, as zlib does, and computes it
  // several times faster: every byte of the image data passes through here. Given no buffer it would
  // answer its starting value instead of the running one.
  if (size == 0) return running;
  return ~libdeflate_crc32(~running, data, size);
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

bool IsIdentityMap(const TByteMap& m) {
  for (unsigned i = 0; i < 256; ++i)
    if (m[i] != i) return false;
  return true;
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
      if (r == Z_STREAM_END && z_.avail_out > 0) {
        // The compressed data ended before the image did. With compressed bytes left over, more output
        // can never come: stop with an error. Otherwise go on to the next chunk like any chunk that ran
        // dry, which ends in the missing-image-parts error unless image data follows.
        if (z_.avail_in > 0 || dataLeft_ > 0) RaiseZlib(r);
        drained_ = true;
        continue;
      }
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

// The step every decoded row takes, in both decoders: reverse the filter in place, convert into the store.
class TRowStep {
 public:
  TRowStep(const THeaderFields& h, const TByteMap& gamma, const TStoreView& store)
      : h_(h),
        gamma_(gamma),
        store_(store),
        bpp_(FilterOffsetFor(h.ColorType, h.BitDepth)),
        identity_(IsIdentityMap(gamma)),
        trueColour8_((h.ColorType == 2 || h.ColorType == 6) && h.BitDepth == 8) {}

  // row: the filter byte, then rowBytes bytes for n pixels; prev: the unfiltered row above (rowBytes bytes).
  void operator()(std::uint8_t* row, const std::uint8_t* prev, std::size_t rowBytes, std::uint32_t n,
                  std::uint32_t y, std::uint32_t x0, std::uint32_t dx) const {
    if (trueColour8_ && n > 0 && y < store_.height && x0 + std::uint64_t(n - 1) * dx < store_.width &&
        rowBytes >= std::size_t(n) * bpp_) {
      UnfilterTrueColour8(row[0], row + 1, prev, n, y, x0, dx);
      return;
    }
    UndoRowFilter(row[0], row + 1, prev, rowBytes, bpp_);
    ConvertRow(h_, gamma_, row + 1, n, y, x0, dx, store_);
  }

 private:
  // 8-bit colour rows with the conversion fused into the unfiltering: each pixel is reconstructed and
  // stored while its bytes are in registers, instead of a second pass over the row.
  void UnfilterTrueColour8(std::uint8_t filter, std::uint8_t* x, const std::uint8_t* p, std::uint32_t n,
                           std::uint32_t y, std::uint32_t x0, std::uint32_t dx) const {
    if (bpp_ == 4)
      Dispatch<4>(filter, x, p, n, y, x0, dx);
    else
      Dispatch<3>(filter, x, p, n, y, x0, dx);
  }

  template <unsigned B>
  void Dispatch(std::uint8_t filter, std::uint8_t* x, const std::uint8_t* p, std::uint32_t n, std::uint32_t y,
                std::uint32_t x0, std::uint32_t dx) const {
    switch (filter) {
      case 1:
        return identity_ ? Fused<B, 1, true>(x, p, n, y, x0, dx) : Fused<B, 1, false>(x, p, n, y, x0, dx);
      case 2:
        return identity_ ? Fused<B, 2, true>(x, p, n, y, x0, dx) : Fused<B, 2, false>(x, p, n, y, x0, dx);
      case 3:
        return identity_ ? Fused<B, 3, true>(x, p, n, y, x0, dx) : Fused<B, 3, false>(x, p, n, y, x0, dx);
      case 4:
        return identity_ ? Fused<B, 4, true>(x, p, n, y, x0, dx) : Fused<B, 4, false>(x, p, n, y, x0, dx);
      default:  // 0, and unknown filters that leave the row as it is
        return identity_ ? Fused<B, 0, true>(x, p, n, y, x0, dx) : Fused<B, 0, false>(x, p, n, y, x0, dx);
    }
  }

  template <unsigned B, unsigned Filter, bool Identity>
  void Fused(std::uint8_t* x, const std::uint8_t* p, std::uint32_t n, std::uint32_t y, std::uint32_t x0,
             std::uint32_t dx) const {
    std::uint8_t* dst =
        store_.bits + std::size_t(store_.height - 1 - y) * store_.rowBytes + std::size_t(x0) * 3;
    std::uint8_t* alpha =
        B == 4 && store_.alpha ? store_.alpha + std::size_t(y) * store_.width + x0 : nullptr;
    const std::size_t step = std::size_t(dx) * 3;
    const std::uint8_t* g = gamma_.data();
    int left[B] = {}, upLeft[B] = {};
    for (std::uint32_t k = 0; k < n; ++k, x += B, p += B, dst += step) {
      for (unsigned c = 0; c < B; ++c) {
        int v = x[c];
        if constexpr (Filter == 1) v += left[c];
        if constexpr (Filter == 2) v += p[c];
        if constexpr (Filter == 3) v += (p[c] + left[c]) >> 1;
        if constexpr (Filter == 4) {
          v += PaethPredictor(left[c], p[c], upLeft[c]);
          upLeft[c] = p[c];
        }
        left[c] = std::uint8_t(v);
        if constexpr (Filter != 0) x[c] = std::uint8_t(v);
      }
      dst[0] = Identity ? std::uint8_t(left[2]) : g[left[2]];
      dst[1] = Identity ? std::uint8_t(left[1]) : g[left[1]];
      dst[2] = Identity ? std::uint8_t(left[0]) : g[left[0]];
      if constexpr (B == 4) {
        if (alpha) {
          *alpha = std::uint8_t(left[3]);
          alpha += dx;
        }
      }
    }
  }

  const THeaderFields& h_;
  const TByteMap& gamma_;
  const TStoreView& store_;
  unsigned bpp_;
  bool identity_;
  bool trueColour8_;
};

// Largest inflated image data decoded in one call; beyond it the streaming decoder keeps memory to two rows.
constexpr std::size_t kMaxWholeImageBytes = std::size_t(64) << 20;

// Bytes of the whole inflated image data: every row of every pass with its filter byte. False on overflow.
bool InflatedSize(const THeaderFields& h, std::size_t& size) {
  size = 0;
  auto add = [&](std::uint32_t n, std::uint32_t rows) {
    const std::size_t rowBytes = RowBytesFor(h.ColorType, h.BitDepth, n);
    std::size_t bytes = 0;
    return rowBytes == 0 || (CheckedMul(rowBytes + 1, rows, bytes) && CheckedAdd(size, bytes, size));
  };
  if (h.InterlaceMethod == 0) return add(h.Width, h.Height);
  for (const TAdam7Pass& p : kAdam7) {
    const std::uint32_t rows =
        h.Height > p.rowStart ? (h.Height - p.rowStart + p.rowStep - 1) / p.rowStep : 0;
    if (rows > 0 && !add(PassWidth(h.Width, p), rows)) return false;
  }
  return true;
}

// Reads the data of this and every directly following image data chunk into `out`, checking each CRC, and
// leaves the stream after the last CRC. False when anything is amiss or the data outgrows `capacity`: the
// streaming decoder then meets the same bytes in its own order and raises what it always raised.
bool GatherImageData(TStream& s, std::uint32_t length, std::size_t capacity, std::vector<std::uint8_t>& out) {
  static const char kIDAT[4] = {'I', 'D', 'A', 'T'};
  const std::int64_t remaining = s.Remaining();
  if (remaining <= 0) return false;
  capacity = std::min<std::uint64_t>(capacity, std::uint64_t(remaining));
  out.resize(capacity);  // one allocation; the stream's size bounds it
  std::size_t used = 0;
  for (;;) {
    if (length > capacity - used) return false;
    if (s.Read(out.data() + used, length) != length) return false;
    std::uint8_t tail[12];
    const std::size_t got = s.Read(tail, sizeof tail);
    if (got < 4 || ReadBE32(tail) != ChunkCrc(kIDAT, out.data() + used, length)) return false;
    used += length;
    if (got == sizeof tail && std::memcmp(tail + 8, kIDAT, 4) == 0) {
      length = ReadBE32(tail + 4);
      continue;
    }
    s.Seek(-std::int64_t(got - 4), TSeekOrigin::soCurrent);  // the next chunk's header is the caller's
    out.resize(used);
    return true;
  }
}

struct TDecompressorDeleter {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// The whole image data inflated in one call straight into one buffer of all rows, which are then
// unfiltered and converted. False, with the stream back where it was, when the data cannot be taken this
// way (too large, damaged, shorter or longer than the header says); nothing has been stored then.
bool DecodeWholeImage(TStream& stream, std::uint32_t firstLength, const THeaderFields& h,
                      const TRowStep& step) {
  std::size_t rawSize = 0;
  if (!InflatedSize(h, rawSize) || rawSize == 0 || rawSize > kMaxWholeImageBytes) return false;
  const std::int64_t start = stream.GetPosition();
  std::vector<std::uint8_t> compressed;
  // Deflate never grows data by more than a few bytes per 16 KiB; more than this is not image data.
  if (!GatherImageData(stream, firstLength, rawSize + rawSize / 16 + 4096, compressed)) {
    stream.SetPosition(start);
    return false;
  }
  // Whole-image sized memory straight from the system (in huge pages where it is large): filled once,
  // read once, given back whole.
  plat::soft::ZeroedBuffer raw;
  try {
    raw.Allocate(rawSize);
  } catch (const std::bad_alloc&) {
    stream.SetPosition(start);
    return false;
  }
  std::unique_ptr<libdeflate_decompressor, TDecompressorDeleter> inflater(libdeflate_alloc_decompressor());
  // Without an output size argument the call succeeds only when the data fills the buffer exactly.
  if (!inflater || libdeflate_zlib_decompress(inflater.get(), compressed.data(), compressed.size(),
                                              raw.data(), rawSize, nullptr) != LIBDEFLATE_SUCCESS) {
    stream.SetPosition(start);
    return false;
  }
  compressed = std::vector<std::uint8_t>();

  const std::size_t widest = RowBytesFor(h.ColorType, h.BitDepth, h.Width);
  const std::vector<std::uint8_t> zeros(widest, 0);  // the row above the first row of the image or a pass
  std::uint8_t* row = raw.data();
  auto pass = [&](std::uint32_t y0, std::uint32_t dy, std::uint32_t x0, std::uint32_t dx, std::uint32_t n) {
    const std::size_t rowBytes = RowBytesFor(h.ColorType, h.BitDepth, n);
    if (rowBytes == 0) return;
    const std::uint8_t* prev = zeros.data();
    for (std::uint32_t y = y0; y < h.Height; y += dy) {
      step(row, prev, rowBytes, n, y, x0, dx);
      prev = row + 1;
      row += rowBytes + 1;
    }
  };
  if (h.InterlaceMethod == 0) {
    pass(0, 1, 0, 1, h.Width);
  } else {
    for (const TAdam7Pass& p : kAdam7)
      pass(p.rowStart, p.rowStep, p.colStart, p.colStep, PassWidth(h.Width, p));
  }
  return true;
}

}  // namespace

bool DecodeImageData(TStream& stream, std::uint32_t firstLength, const THeaderFields& h,
                     const TByteMap& gamma, const TStoreView& store, TInflateMode mode) {
  const TRowStep step(h, gamma, store);
  if (mode == TInflateMode::WholeWhenPossible && DecodeWholeImage(stream, firstLength, h, step)) return true;

  TImageDataInflater inflater(stream, firstLength);
  const std::size_t fullRowBytes = RowBytesFor(h.ColorType, h.BitDepth, h.Width);
  std::vector<std::uint8_t> bufA(fullRowBytes + 1, 0), bufB(fullRowBytes + 1, 0);
  std::uint8_t* prev = bufA.data();
  std::uint8_t* cur = bufB.data();

  // One row: false when the stream ran dry and decoding stops.
  auto decodeRow = [&](std::size_t rowBytes, std::uint32_t n, std::uint32_t y, std::uint32_t x0,
                       std::uint32_t dx) {
    if (inflater.Fill(cur, rowBytes + 1) == 0) return false;
    step(cur, prev + 1, rowBytes, n, y, x0, dx);
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
  return false;
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
