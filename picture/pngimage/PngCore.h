// The PNG reader's pure pieces: header validity, CRC-32, row filters, Adam7 geometry, gamma maps, sample
// conversion into the image store, and the inflater that follows the image data across chunk boundaries.
// Nothing here knows about device contexts; the store is reached through plain memory views.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class TStream;

namespace png {

constexpr std::uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

// Largest image store (pixels plus alpha and low-byte planes) the reader agrees to allocate. A header of a
// few bytes may claim 65535 x 65535 pixels; beyond this the load fails with the out-of-resources error.
constexpr std::size_t kMaxStoreBytes = std::size_t(256) << 20;

// CRC-32 of the PNG standard. The running value starts at 0xFFFFFFFF; the chunk's CRC is its complement.
std::uint32_t CrcUpdate(std::uint32_t running, const std::uint8_t* data, std::size_t size);
std::uint32_t ChunkCrc(const char type[4], const std::uint8_t* data, std::size_t size);

inline std::uint32_t ReadBE32(const std::uint8_t* p) {
  return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}
inline std::uint16_t ReadBE16(const std::uint8_t* p) {
  return std::uint16_t((p[0] << 8) | p[1]);
}
inline void WriteBE32(std::uint8_t* p, std::uint32_t v) {
  p[0] = std::uint8_t(v >> 24);
  p[1] = std::uint8_t(v >> 16);
  p[2] = std::uint8_t(v >> 8);
  p[3] = std::uint8_t(v);
}

struct THeaderFields {
  std::uint32_t Width = 0, Height = 0;
  std::uint8_t BitDepth = 0, ColorType = 0, CompressionMethod = 0, FilterMethod = 0, InterlaceMethod = 0;
};

enum class THeaderProblem { None, TooShort, SizeExceeds, UnknownCompression, UnknownInterlace, BadFormat };

// Parses the 13 header bytes (data must hold at least 13 when size >= 13).
THeaderFields ParseHeader(const std::uint8_t* data);
// Checks in the reader's order: length, size, compression, interlace, then the colour type / bit depth pair.
THeaderProblem CheckHeader(const THeaderFields& h, std::size_t dataSize);
// Colour type and bit depth pairs the PNG standard allows.
bool IsValidFormat(std::uint8_t colorType, std::uint8_t bitDepth);

unsigned StoreBitsPerPixel(std::uint8_t colorType, std::uint8_t bitDepth);
bool StoreUsesPalette(std::uint8_t colorType, std::uint8_t bitDepth);
std::size_t StoreRowBytesFor(unsigned storeBits, std::uint32_t width);
// Bytes of the row data (without the filter byte) for n pixels.
std::size_t RowBytesFor(std::uint8_t colorType, std::uint8_t bitDepth, std::uint32_t n);
// Bytes per complete pixel for the filters (at least 1).
unsigned FilterOffsetFor(std::uint8_t colorType, std::uint8_t bitDepth);

// Reverses one row's filter in place. x and prev hold rowBytes bytes (without the filter byte); an unknown
// filter byte leaves the row as it is.
void UndoRowFilter(std::uint8_t filter, std::uint8_t* x, const std::uint8_t* prev, std::size_t rowBytes,
                   unsigned filterOffset);

struct TAdam7Pass {
  std::uint32_t rowStart, colStart, rowStep, colStep;
};
extern const TAdam7Pass kAdam7[7];
std::uint32_t PassWidth(std::uint32_t width, const TAdam7Pass& p);

using TByteMap = std::array<std::uint8_t, 256>;
void IdentityMap(TByteMap& m);
bool IsIdentityMap(const TByteMap& m);
// gAMA value (gamma x 100000) -> both maps; 0 leaves them unchanged.
void BuildGammaMaps(std::uint32_t gammaValue, TByteMap& gamma, TByteMap& inverse);
// Grey level of ramp entry n of a ramp with `entries` entries, through the gamma map.
std::uint8_t GreyRampLevel(unsigned n, unsigned entries, const TByteMap& gamma);
// Store index of a grey sample of a given bit depth (2-bit samples widen to 4 bits by repetition).
unsigned GreySampleToIndex(unsigned sample, std::uint8_t bitDepth);

// Where converted pixels go. Rows of bits and lowBytes are bottom-up, alpha rows top-down.
struct TStoreView {
  std::uint8_t* bits = nullptr;
  std::uint8_t* lowBytes = nullptr;
  std::uint8_t* alpha = nullptr;
  std::size_t rowBytes = 0;
  std::uint32_t width = 0, height = 0;
};

// Converts one unfiltered row of n pixels into file row y, pixel k landing at column x0 + k * dx.
void ConvertRow(const THeaderFields& h, const TByteMap& gamma, const std::uint8_t* row, std::uint32_t n,
                std::uint32_t y, std::uint32_t x0, std::uint32_t dx, const TStoreView& store);

// How the image data is inflated: whole when possible (fast), or always row by row (memory of two rows).
enum class TInflateMode { WholeWhenPossible, Streaming };

// The image data decoder: reads the first IDAT chunk's data and every IDAT chunk that follows, inflates,
// unfilters and converts every row. The stream is positioned at the first chunk's data; on return it is
// after the CRC of an image data chunk, and any image data chunks that follow hold no data the image
// needs. Raises the image-data errors.
// When the image data is whole and inflates to exactly the size the header gives, it is inflated in one
// call into a buffer of all rows; anything else (damage, truncation, extra data, very large images) is
// decoded by the streaming inflater, row by row, which raises the errors. Both give the same pixels and
// errors. Returns true when the data was inflated whole.
bool DecodeImageData(TStream& stream, std::uint32_t firstLength, const THeaderFields& h,
                     const TByteMap& gamma, const TStoreView& store,
                     TInflateMode mode = TInflateMode::WholeWhenPossible);

// Inflates a whole zlib stream (compressed text); false on any failure. Output is capped at maxOut bytes.
bool InflateAll(const std::uint8_t* data, std::size_t size, std::string& out, std::size_t maxOut);

}  // namespace png
