// The DIB body: pixel formats, layout arithmetic, reading and writing the stored body, and run-length
// expansion. Nothing here draws; the platform parts are in DIBGdi.cpp.
#include <cstring>
#include <limits>
#include <new>

#include "core/Consts.h"
#include "picture/BitmapImage.h"
#include "render/DIB.h"

namespace {

std::uint16_t GetU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t GetU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void PutU16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Mask of `count` set bits moved up by `shift`, kept to 32 bits without undefined shifts.
std::uint32_t MaskOf(int count, int shift) {
  if (count <= 0 || shift >= 32) return 0;
  std::uint64_t m = count >= 32 ? 0xFFFFFFFFull : ((1ull << count) - 1);
  return static_cast<std::uint32_t>((m << shift) & 0xFFFFFFFFull);
}

int LowestBit(std::uint32_t mask) {
  int n = 0;
  while (n < 31 && (mask & (1u << n)) == 0) ++n;
  return n;
}

int CountRun(std::uint32_t mask) {
  if (mask == 0) return 0;
  while ((mask & 1u) == 0) mask >>= 1;
  int n = 0;
  while (mask & 1u) {
    ++n;
    mask >>= 1;
  }
  return n;
}

std::unique_ptr<std::uint8_t[]> AllocZeroed(std::size_t size) {
  std::unique_ptr<std::uint8_t[]> p(new (std::nothrow) std::uint8_t[size == 0 ? 1 : size]());
  if (!p) throw EOutOfMemory(SOutOfMemory);
  return p;
}

void RequireRemaining(TStream& stream, std::uint64_t count) {
  if (static_cast<std::uint64_t>(stream.Remaining()) < count) throw EReadError(SReadError);
}

}  // namespace

TRGBQuads GreyscaleColorTable() {
  TRGBQuads t{};
  for (int i = 0; i < 256; ++i) {
    auto v = static_cast<std::uint8_t>(i);
    t[i] = {v, v, v, 0};
  }
  return t;
}

bool TDIBPixelFormat::operator==(const TDIBPixelFormat& o) const {
  return RBitMask == o.RBitMask && GBitMask == o.GBitMask && BBitMask == o.BBitMask &&
         RBitCount == o.RBitCount && GBitCount == o.GBitCount && BBitCount == o.BBitCount;
}

TDIBPixelFormat MakeDIBPixelFormat(int r, int g, int b) {
  TDIBPixelFormat pf{};
  pf.RBitMask = MaskOf(r, g + b);
  pf.GBitMask = MaskOf(g, b);
  pf.BBitMask = MaskOf(b, 0);
  pf.RBitCount = r;
  pf.GBitCount = g;
  pf.BBitCount = b;
  pf.RLeftShift = r + g + b - 8;
  pf.GLeftShift = g + b - 8;
  pf.BRightShift = 8 - b;
  pf.RBitCount2 = 8 - r;
  pf.GBitCount2 = 8 - g;
  pf.BBitCount2 = 8 - b;
  return pf;
}

TDIBPixelFormat MakeDIBPixelFormatMask(std::uint32_t rMask, std::uint32_t gMask, std::uint32_t bMask) {
  return MakeDIBPixelFormat(CountRun(rMask), CountRun(gMask), CountRun(bMask));
}

void CheckDIBPixelFormat(const TDIBPixelFormat& pf, int bitCount) {
  switch (bitCount) {
    case 1:
    case 4:
    case 8:
    case 24:
    case 32:
      if (pf != MakeDIBPixelFormat(8, 8, 8)) throw EInvalidGraphicOperation(SInvalidDIBPixelFormat);
      break;
    case 16:
      if (pf != MakeDIBPixelFormat(5, 5, 5) && pf != MakeDIBPixelFormat(5, 6, 5))
        throw EInvalidGraphicOperation(SInvalidDIBPixelFormat);
      break;
    default:
      throw EInvalidGraphicOperation(Format(SInvalidDIBBitCount, bitCount));
  }
}

bool ComputeDIBLayout(std::int32_t w, std::int32_t h, int bitCount, std::int32_t& stride,
                      std::int32_t& imageSize) {
  if (w <= 0 || h <= 0 || bitCount <= 0) return false;
  const std::int64_t limit = std::numeric_limits<std::int32_t>::max();
  std::int64_t bits = static_cast<std::int64_t>(bitCount) * w + 31;
  std::int64_t s = (bits / 32) * 4;
  if (s > limit) return false;
  std::int64_t total = s * h;
  if (total > limit) return false;
  stride = static_cast<std::int32_t>(s);
  imageSize = static_cast<std::int32_t>(total);
  return true;
}

void ExpandDIBRLE(const std::uint8_t* src, std::size_t srcSize, int bitCount, std::uint8_t* dst,
                  std::int32_t width, std::int32_t height, std::int32_t stride) {
  const bool rle4 = bitCount == 4;
  std::int64_t x = 0, y = 0;  // y counts rows from the bottom of the picture
  auto put = [&](std::uint8_t index) {
    if (x >= 0 && x < width && y >= 0 && y < height) {
      std::uint8_t* row = dst + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride);
      if (rle4) {
        std::uint8_t& b = row[x / 2];
        if ((x & 1) == 0)
          b = static_cast<std::uint8_t>((b & 0x0F) | (index << 4));
        else
          b = static_cast<std::uint8_t>((b & 0xF0) | (index & 0x0F));
      } else {
        row[x] = index;
      }
    }
    ++x;
  };
  std::size_t i = 0;
  while (i + 1 < srcSize && y < height) {
    std::uint8_t count = src[i], value = src[i + 1];
    i += 2;
    if (count != 0) {
      // Runs past the right edge are clipped; the pixel position still advances.
      for (int k = 0; k < count && x < width; ++k)
        put(rle4 ? static_cast<std::uint8_t>((k & 1) ? (value & 0x0F) : (value >> 4)) : value);
      continue;
    }
    switch (value) {
      case 0:  // end of line
        x = 0;
        ++y;
        break;
      case 1:  // end of image
        return;
      case 2:  // delta: right by the first byte, up by the second
        if (i + 1 >= srcSize) return;
        x += src[i];
        y += src[i + 1];
        i += 2;
        break;
      default: {  // absolute run of `value` pixels, padded to an even number of bytes
        std::size_t bytes = rle4 ? (static_cast<std::size_t>(value) + 1) / 2 : value;
        std::size_t padded = (bytes + 1) & ~static_cast<std::size_t>(1);
        if (bytes > srcSize - i) return;
        for (int k = 0; k < value; ++k) {
          std::uint8_t b = src[i + (rle4 ? static_cast<std::size_t>(k / 2) : static_cast<std::size_t>(k))];
          put(rle4 ? static_cast<std::uint8_t>((k & 1) ? (b & 0x0F) : (b >> 4)) : b);
        }
        i += padded <= srcSize - i ? padded : srcSize - i;
        break;
      }
    }
  }
}

std::int32_t CheckDIBHeader(const TDIBInfoHeader& h, const TDIBPixelFormat& pf) {
  CheckDIBPixelFormat(pf, h.BitCount);
  if (h.Height == std::numeric_limits<std::int32_t>::min()) throw EInvalidGraphic(SInvalidDIB);
  std::int32_t stride = 0, imageSize = 0;
  if (!ComputeDIBLayout(h.Width, h.Height < 0 ? -h.Height : h.Height, h.BitCount, stride, imageSize))
    throw EInvalidGraphic(SInvalidDIB);
  if (h.Compression > DIB_BI_BITFIELDS) throw EInvalidGraphic(SInvalidDIB);
  // Run-length data only means something for the bit count it was made for.
  if ((h.Compression == DIB_BI_RLE8 && h.BitCount != 8) || (h.Compression == DIB_BI_RLE4 && h.BitCount != 4))
    throw EInvalidGraphic(SInvalidDIB);
  // The same ceiling as every other picture's pixels: run-length data could otherwise claim gigabytes from
  // a few bytes, to be zero-filled when first drawn.
  if (static_cast<std::size_t>(imageSize) > MaxBitmapBytes()) throw EInvalidGraphic(SInvalidDIB);
  if (h.Compression == DIB_BI_RLE8 || h.Compression == DIB_BI_RLE4) {
    // Runs fill rows from the bottom up; there is no top-down run-length layout.
    if (h.Height < 0) throw EInvalidGraphic(SInvalidDIB);
    if (h.SizeImage > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
      throw EInvalidGraphic(SInvalidDIB);
    return static_cast<std::int32_t>(h.SizeImage);
  }
  return imageSize;
}

namespace {

// Where the alpha byte of a 32-bit pixel lies under these colour masks: the shift of the one whole byte no
// mask touches, preferring the top one; -1 when every byte holds some colour.
int AlphaByteShift(const std::uint32_t (&masks)[3]) {
  const std::uint32_t used = masks[0] | masks[1] | masks[2];
  for (int shift = 24; shift >= 0; shift -= 8)
    if ((used & (0xFFu << shift)) == 0) return shift;
  return -1;
}

// The body always describes its channels with the standard masks of its format, so channels stored at
// other places (same widths, other positions) are moved to the standard places once, when read; otherwise
// such a picture would show swapped colours. A 32-bit pixel's alpha byte goes to the fourth byte, where
// the standard layout keeps it.
void RepackChannels(TDIBSharedImage& img, const std::uint32_t (&masks)[3]) {
  const TDIBPixelFormat& pf = img.PixelFormat;
  if (masks[0] == pf.RBitMask && masks[1] == pf.GBitMask && masks[2] == pf.BBitMask) return;
  if (img.BitCount != 16 && img.BitCount != 32) return;
  const std::uint32_t target[3] = {pf.RBitMask, pf.GBitMask, pf.BBitMask};
  int from[3], to[3];
  for (int c = 0; c < 3; ++c) {
    from[c] = masks[c] ? LowestBit(masks[c]) : 0;
    to[c] = LowestBit(target[c]);
  }
  const int alphaShift = img.BitCount == 32 ? AlphaByteShift(masks) : -1;
  const std::size_t bytes = static_cast<std::size_t>(img.BitCount / 8);
  for (std::int32_t y = 0; y < img.Height; ++y) {
    std::uint8_t* p = img.Bits + static_cast<std::size_t>(y) * static_cast<std::size_t>(img.Stride);
    for (std::int32_t x = 0; x < img.Width; ++x, p += bytes) {
      std::uint32_t v = bytes == 4 ? GetU32(p) : GetU16(p);
      std::uint32_t out = alphaShift >= 0 ? ((v >> alphaShift) & 0xFFu) << 24 : 0;
      for (int c = 0; c < 3; ++c) out |= (((v & masks[c]) >> from[c]) << to[c]) & target[c];
      if (bytes == 4)
        PutU32(p, out);
      else
        PutU16(p, out);
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------

TDIBSharedImage::TDIBSharedImage() {
  PixelFormat = MakeDIBPixelFormat(8, 8, 8);
  ColorTable = GreyscaleColorTable();
  MemoryImage = true;
}

TDIBSharedImage::~TDIBSharedImage() {
  FreeHandle();
}

void TDIBSharedImage::FreeHandle() {
  ReleasePalette();
  FreeSection();
  memory_.reset();
  Bits = nullptr;
  TopRow = nullptr;
}

void TDIBSharedImage::BuildBitmapInfo(std::uint32_t compression, std::uint32_t sizeImage) {
  const bool masks = BitCount == 16 || BitCount == 32;
  ColorTableOffset = static_cast<std::int32_t>(DIBInfoHeaderSize + (masks ? DIBMasksSize : 0));
  BitmapInfoSize = ColorTableOffset + 4 * ColorCount;
  BitmapInfo.assign(static_cast<std::size_t>(BitmapInfoSize), 0);
  std::uint8_t* p = BitmapInfo.data();
  PutU32(p + 0, DIBInfoHeaderSize);
  PutU32(p + 4, static_cast<std::uint32_t>(Width));
  PutU32(p + 8, static_cast<std::uint32_t>(Height));
  PutU16(p + 12, 1);
  PutU16(p + 14, static_cast<std::uint32_t>(BitCount));
  PutU32(p + 16, compression);
  PutU32(p + 20, sizeImage);
  if (masks) {
    PutU32(p + 40, PixelFormat.RBitMask);
    PutU32(p + 44, PixelFormat.GBitMask);
    PutU32(p + 48, PixelFormat.BBitMask);
  }
  if (ColorCount > 0)
    std::memcpy(p + ColorTableOffset, ColorTable.data(), 4 * static_cast<std::size_t>(ColorCount));
}

void TDIBSharedImage::Build(std::int32_t w, std::int32_t h, int bitCount, const TDIBPixelFormat& pf,
                            const TRGBQuads& colorTable, bool memoryImage, bool compressed) {
  CheckDIBPixelFormat(pf, bitCount);
  std::int32_t stride = 0, imageSize = 0;
  if (!ComputeDIBLayout(w, h, bitCount, stride, imageSize)) throw EInvalidGraphic(SInvalidDIB);

  BitCount = bitCount;
  Width = w;
  Height = h;
  PixelFormat = pf;
  Stride = stride;
  RowStep = -stride;
  ImageSize = imageSize;
  ColorCount = bitCount <= 8 ? (1 << bitCount) : 0;
  ColorTable = colorTable;
  PaletteDirty = true;
  Compressed = compressed;
  std::uint32_t compression = DIB_BI_RGB;
  if (bitCount == 16 || bitCount == 32)
    compression = DIB_BI_BITFIELDS;
  else if (compressed)
    compression = bitCount == 8 ? DIB_BI_RLE8 : DIB_BI_RLE4;
  BuildBitmapInfo(compression, static_cast<std::uint32_t>(ImageSize));
  MemoryImage = memoryImage || compressed;

  if (compressed) return;  // the caller installs the compressed data
  if (MemoryImage) {
    memory_ = AllocZeroed(static_cast<std::size_t>(ImageSize));
    Bits = memory_.get();
  } else {
    CreateSection();
  }
  TopRow = Bits + static_cast<std::size_t>(Height - 1) * static_cast<std::size_t>(Stride);
}

std::unique_ptr<TDIBSharedImage> TDIBSharedImage::Make(std::int32_t w, std::int32_t h, int bitCount,
                                                       const TDIBPixelFormat& pf, const TRGBQuads& colorTable,
                                                       bool memoryImage) {
  auto img = std::make_unique<TDIBSharedImage>();
  img->Build(w, h, bitCount, pf, colorTable, memoryImage, false);
  return img;
}

std::unique_ptr<TDIBSharedImage> TDIBSharedImage::ReadBody(TStream& stream, bool memoryImage,
                                                           std::int64_t pixelsAt) {
  std::uint8_t b[DIBInfoHeaderSize + DIBMasksSize];
  std::size_t got = stream.Read(b, 4);
  if (got == 0) return nullptr;
  if (got < 4) throw EInvalidGraphic(SInvalidDIB);

  TDIBInfoHeader h{};
  h.Size = GetU32(b);
  bool core = false;
  if (h.Size == DIBCoreHeaderSize) {
    stream.ReadBuffer(b + 4, 8);
    h.Width = GetU16(b + 4);
    h.Height = GetU16(b + 6);
    h.Planes = GetU16(b + 8);
    h.BitCount = GetU16(b + 10);
    core = true;
  } else if (h.Size == DIBInfoHeaderSize) {
    stream.ReadBuffer(b + 4, 36);
    h.Width = static_cast<std::int32_t>(GetU32(b + 4));
    h.Height = static_cast<std::int32_t>(GetU32(b + 8));
    h.Planes = GetU16(b + 12);
    h.BitCount = GetU16(b + 14);
    h.Compression = GetU32(b + 16);
    h.SizeImage = GetU32(b + 20);
    h.XPelsPerMeter = static_cast<std::int32_t>(GetU32(b + 24));
    h.YPelsPerMeter = static_cast<std::int32_t>(GetU32(b + 28));
    h.ClrUsed = GetU32(b + 32);
    h.ClrImportant = GetU32(b + 36);
  } else {
    throw EInvalidGraphic(SInvalidDIB);
  }

  TDIBPixelFormat pf;
  std::uint32_t masks[3] = {};
  if (h.Compression == DIB_BI_BITFIELDS) {
    std::uint8_t m[DIBMasksSize];
    stream.ReadBuffer(m, sizeof m);
    for (int i = 0; i < 3; ++i) masks[i] = GetU32(m + 4 * i);
    pf = MakeDIBPixelFormatMask(masks[0], masks[1], masks[2]);
  } else {
    pf = h.BitCount == 16 ? MakeDIBPixelFormat(5, 5, 5) : MakeDIBPixelFormat(8, 8, 8);
  }

  std::uint32_t colors = h.ClrUsed;
  if (colors == 0 && h.BitCount <= 8) colors = 1u << h.BitCount;
  if (colors > 256) colors = 256;
  TRGBQuads table{};
  if (core) {
    std::uint8_t e[256 * 3];
    stream.ReadBuffer(e, 3 * colors);
    for (std::uint32_t i = 0; i < colors; ++i) table[i] = {e[3 * i], e[3 * i + 1], e[3 * i + 2], 0};
  } else {
    stream.ReadBuffer(table.data(), 4 * colors);
  }

  const std::int32_t pixelBytes = CheckDIBHeader(h, pf);
  // A gap between the colour table and the pixels is skipped when the file says where they start; an
  // offset into the headers or past the end is a writer's slip, and the pixels follow the table.
  if (pixelsAt > stream.GetPosition() && pixelsAt < stream.GetSize()) stream.SetPosition(pixelsAt);
  const bool compressed = h.Compression == DIB_BI_RLE8 || h.Compression == DIB_BI_RLE4;
  RequireRemaining(stream, static_cast<std::uint32_t>(pixelBytes));
  const std::int32_t absHeight = h.Height < 0 ? -h.Height : h.Height;

  auto img = std::make_unique<TDIBSharedImage>();
  img->Build(h.Width, absHeight, h.BitCount, pf, table, memoryImage, compressed);
  if (compressed) {
    img->memory_ = AllocZeroed(h.SizeImage);
    img->Bits = img->memory_.get();
    img->ImageSize = static_cast<std::int32_t>(h.SizeImage);
    img->TopRow = nullptr;  // no rows until expanded
    stream.ReadBuffer(img->Bits, h.SizeImage);
    img->BuildBitmapInfo(h.BitCount == 8 ? DIB_BI_RLE8 : DIB_BI_RLE4, h.SizeImage);
  } else if (h.Height > 0) {
    stream.ReadBuffer(img->Bits, static_cast<std::size_t>(img->ImageSize));
  } else {
    std::uint8_t* row = img->TopRow;
    for (std::int32_t y = 0; y < img->Height; ++y, row -= img->Stride)
      stream.ReadBuffer(row, static_cast<std::size_t>(img->Stride));
  }
  if (h.Compression == DIB_BI_BITFIELDS) RepackChannels(*img, masks);
  return img;
}

void TDIBSharedImage::WriteBody(TStream& stream) const {
  if (ImageSize == 0) return;
  stream.WriteBuffer(BitmapInfo.data(), static_cast<std::size_t>(BitmapInfoSize));
  stream.WriteBuffer(Bits, static_cast<std::size_t>(ImageSize));
}

void TDIBSharedImage::Decompress() {
  if (!Compressed) return;
  std::int32_t stride = 0, imageSize = 0;
  if (!ComputeDIBLayout(Width, Height, BitCount, stride, imageSize)) throw EInvalidGraphic(SInvalidDIB);
  auto pixels = AllocZeroed(static_cast<std::size_t>(imageSize));
  ExpandDIBRLE(Bits, static_cast<std::size_t>(ImageSize), BitCount, pixels.get(), Width, Height, stride);
  memory_ = std::move(pixels);
  Bits = memory_.get();
  ImageSize = imageSize;
  TopRow = Bits + static_cast<std::size_t>(Height - 1) * static_cast<std::size_t>(Stride);
  Compressed = false;
  BuildBitmapInfo(DIB_BI_RGB, static_cast<std::uint32_t>(ImageSize));
}

std::unique_ptr<TDIBSharedImage> TDIBSharedImage::Duplicate(bool memoryImage) {
  Decompress();
  auto img = Make(Width, Height, BitCount, PixelFormat, ColorTable, memoryImage);
  std::memcpy(img->Bits, Bits, static_cast<std::size_t>(ImageSize));
  return img;
}

void TDIBSharedImage::SetColorTable(const TRGBQuads& table) {
  ColorTable = table;
  if (ColorCount > 0 && BitmapInfoSize >= ColorTableOffset + 4 * ColorCount)
    std::memcpy(BitmapInfo.data() + ColorTableOffset, ColorTable.data(),
                4 * static_cast<std::size_t>(ColorCount));
  PaletteDirty = true;
}
