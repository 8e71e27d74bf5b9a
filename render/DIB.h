// TDIB: the device-independent bitmap picture kind. It keeps the fourth byte of 32-bit pixels (the sprites'
// alpha), shares its reference-counted body between copies, keeps run-length data compressed until pixels
// are needed, and reads and writes the stored body format byte for byte.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/Classes.h"
#include "core/Types.h"
#include "picture/Graphics.h"
#include "platform/Types.h"

// Raised when the platform cannot make a DIB section.
DS_DECLARE_EXCEPTION(EOutOfResources, EOutOfMemory);

inline constexpr const char* SInvalidDIB = "DIB is invalid";
inline constexpr const char* SInvalidDIBPixelFormat = "PixelFormat in invalid";
inline constexpr const char* SInvalidDIBBitCount = "Bitcount in invalid (%d)";
inline constexpr const char* SCannotMade = "%s cannot be made";
inline constexpr const char* SScanLineRangeError = "Index of the scanning line exceeded the range. (%d)";
inline constexpr const char* SDIBDescription = "Device Independent Bitmap";
inline constexpr const char* SUnsupportedDIBClipboard = "Unsupported clipboard format";

// ---------------------------------------------------------------------------------------------------------
// Stored structures (little-endian on disk; decoded byte by byte, so these only fix the sizes).

#pragma pack(push, 1)
struct TDIBFileHeader {
  std::uint16_t Type;  // "BM"
  std::uint32_t Size;
  std::uint16_t Reserved1;
  std::uint16_t Reserved2;
  std::uint32_t OffBits;
};
#pragma pack(pop)
static_assert(sizeof(TDIBFileHeader) == 14, "file header is 14 bytes on disk");

struct TDIBInfoHeader {
  std::uint32_t Size;
  std::int32_t Width;
  std::int32_t Height;
  std::uint16_t Planes;
  std::uint16_t BitCount;
  std::uint32_t Compression;
  std::uint32_t SizeImage;
  std::int32_t XPelsPerMeter;
  std::int32_t YPelsPerMeter;
  std::uint32_t ClrUsed;
  std::uint32_t ClrImportant;
};
static_assert(sizeof(TDIBInfoHeader) == 40, "info header is 40 bytes on disk");

constexpr std::uint32_t DIBCoreHeaderSize = 12;
constexpr std::uint32_t DIBInfoHeaderSize = 40;
constexpr std::uint32_t DIBMasksSize = 12;
constexpr std::uint16_t DIBFileType = 0x4D42;  // "BM"

enum : std::uint32_t { DIB_BI_RGB = 0, DIB_BI_RLE8 = 1, DIB_BI_RLE4 = 2, DIB_BI_BITFIELDS = 3 };

struct TRGBQuad {
  std::uint8_t rgbBlue, rgbGreen, rgbRed, rgbReserved;
  bool operator==(const TRGBQuad& o) const {
    return rgbBlue == o.rgbBlue && rgbGreen == o.rgbGreen && rgbRed == o.rgbRed &&
           rgbReserved == o.rgbReserved;
  }
};
static_assert(sizeof(TRGBQuad) == 4, "colour table entries are 4 bytes");
using TRGBQuads = std::array<TRGBQuad, 256>;

// Grey ramp: entry i = (i, i, i). The colour table of a new body and of extracted alpha images.
TRGBQuads GreyscaleColorTable();

// ---------------------------------------------------------------------------------------------------------
// Pixel format: where the three channels lie in a packed 16- or 32-bit pixel.

struct TDIBPixelFormat {
  std::uint32_t RBitMask, GBitMask, BBitMask;
  std::int32_t RBitCount, GBitCount, BBitCount;
  std::int32_t RLeftShift, GLeftShift, BRightShift;  // move an 8-bit value to/from its place
  std::int32_t RBitCount2, GBitCount2, BBitCount2;   // 8 - count: repeat high bits when widening
  bool operator==(const TDIBPixelFormat& o) const;
  bool operator!=(const TDIBPixelFormat& o) const { return !(*this == o); }
};
static_assert(sizeof(TDIBPixelFormat) == 48, "twelve 32-bit values");

TDIBPixelFormat MakeDIBPixelFormat(int r, int g, int b);
// Counts the run of set bits of each mask from its lowest set bit; the positions themselves are not used.
TDIBPixelFormat MakeDIBPixelFormatMask(std::uint32_t rMask, std::uint32_t gMask, std::uint32_t bMask);

// Raises EInvalidGraphicOperation when the format does not suit the bit count, or the bit count is not one
// of 1, 4, 8, 16, 24, 32.
void CheckDIBPixelFormat(const TDIBPixelFormat& pf, int bitCount);

// Layout of an image of w x h pixels of bitCount bits: false when w or h is 0 or less, or a row or the
// whole image does not fit a 32-bit signed size.
bool ComputeDIBLayout(std::int32_t w, std::int32_t h, int bitCount, std::int32_t& stride,
                      std::int32_t& imageSize);

// Pure checks of a decoded body header and its pixel format, made before any pixel memory is taken: raises
// the reader's error for the first fault found, else returns the bytes of pixel data that follow the colour
// table (the compressed size for run-length data).
std::int32_t CheckDIBHeader(const TDIBInfoHeader& h, const TDIBPixelFormat& pf);

// Expands RLE8 (bitCount 8) or RLE4 (bitCount 4) data into a zeroed bottom-up pixel buffer of the given
// stride and height. Malformed data ends the expansion; nothing is ever written outside the buffer.
void ExpandDIBRLE(const std::uint8_t* src, std::size_t srcSize, int bitCount, std::uint8_t* dst,
                  std::int32_t width, std::int32_t height, std::int32_t stride);

// ---------------------------------------------------------------------------------------------------------
// The shared body.

class TDIBSharedImage : public TSharedImage {
 public:
  // A new, empty body: 8x8x8 format, grey-ramp colour table, MemoryImage.
  TDIBSharedImage();
  ~TDIBSharedImage() override;
  TDIBSharedImage(const TDIBSharedImage&) = delete;
  TDIBSharedImage& operator=(const TDIBSharedImage&) = delete;

  // Reads a stored body from the stream (see TDIB::ReadFormData). Returns null when the stream holds nothing.
  // pixelsAt: the stream position a file header gives for the pixels, or -1.
  static std::unique_ptr<TDIBSharedImage> ReadBody(TStream& stream, bool memoryImage,
                                                   std::int64_t pixelsAt = -1);
  // A body of w x h pixels (both positive), with the given format and colour table; pixels zeroed.
  static std::unique_ptr<TDIBSharedImage> Make(std::int32_t w, std::int32_t h, int bitCount,
                                               const TDIBPixelFormat& pf, const TRGBQuads& colorTable,
                                               bool memoryImage);
  // An uncompressed private copy of this body.
  std::unique_ptr<TDIBSharedImage> Duplicate(bool memoryImage);

  void WriteBody(TStream& stream) const;
  // Expands run-length data in place; the picture does not change.
  void Decompress();
  // Moves the pixels of a MemoryImage body into a DIB section selected into a memory device context.
  void ConvertToSection();
  // The palette of the colour table, made through the palette manager; null without a colour table.
  plat::HPALETTE GetPalette();
  void SetColorTable(const TRGBQuads& table);

  std::int32_t BitCount = 0;
  std::vector<std::uint8_t> BitmapInfo;
  std::int32_t BitmapInfoSize = 0;
  bool PaletteDirty = false;
  TRGBQuads ColorTable{};
  std::int32_t ColorTableOffset = 0;
  bool Compressed = false;
  plat::HDC DC = nullptr;
  plat::HBITMAP Section = nullptr;
  plat::HGDIOBJ OldBitmap = nullptr;
  std::int32_t Height = 0;
  bool MemoryImage = true;
  std::int32_t RowStep = 0;
  plat::HPALETTE Palette = nullptr;
  std::int32_t ColorCount = 0;
  std::uint8_t* Bits = nullptr;
  TDIBPixelFormat PixelFormat{};
  std::int32_t ImageSize = 0;
  std::uint8_t* TopRow = nullptr;
  std::int32_t Width = 0;
  std::int32_t Stride = 0;

 protected:
  void FreeHandle() override;

 private:
  void Build(std::int32_t w, std::int32_t h, int bitCount, const TDIBPixelFormat& pf,
             const TRGBQuads& colorTable, bool memoryImage, bool compressed);
  void BuildBitmapInfo(std::uint32_t compression, std::uint32_t sizeImage);
  void CreateSection();  // for a body that is not a MemoryImage: pixels in a DIB section
  void ReleasePalette();
  void FreeSection();

  std::unique_ptr<std::uint8_t[]> memory_;  // pixels of a MemoryImage body (or its compressed data)
};

// ---------------------------------------------------------------------------------------------------------
// Palettes shared between bodies with equal colour tables.

class TPaletteManager {
 public:
  TPaletteManager() = default;
  ~TPaletteManager();
  TPaletteManager(const TPaletteManager&) = delete;
  TPaletteManager& operator=(const TPaletteManager&) = delete;

  // A palette of the first count entries, shared with any earlier request for the same colours.
  plat::HPALETTE CreatePalette(const TRGBQuad* colors, int count);
  void DeletePalette(plat::HPALETTE palette);
  std::size_t Count() const { return list_.size(); }

 private:
  struct TEntry {
    plat::HPALETTE Palette;
    int RefCount;
    int ColorCount;
    std::uint32_t Sum;
    std::vector<TRGBQuad> Colors;
  };
  std::vector<TEntry> list_;
};

// The program's one palette manager (made on first use, freed by FinalizeDIBUnit).
TPaletteManager& PaletteManager();
void FreePaletteManager();

// ---------------------------------------------------------------------------------------------------------
// TDIB

class TDIB : public TGraphic {
 public:
  DS_GRAPHIC_CLASS(TDIB, TGraphic)
  TDIB();
  ~TDIB() override;
  TDIB(const TDIB&) = delete;
  TDIB& operator=(const TDIB&) = delete;

  // Shares the body of a TDIB, or converts a TBitmap or any other graphic; null empties.
  void Assign(const TGraphic* Source) override;
  // From a picture's graphic; empty when it has none.
  void Assign(const TPicture* Source);

  // Makes a new body; nothing happens when nothing changes; a width or height of 0 or less empties.
  void SetSize(std::int32_t width, std::int32_t height, int bitCount);
  void Clear();

  // Address of picture row y (0 = top row); gives this TDIB a private, expanded body first.
  std::uint8_t* Row(std::int32_t y);
  std::uint8_t* ScanLine(std::int32_t y) { return Row(y); }
  // The same row for reading only: expands run-length data but never copies a shared body.
  const std::uint8_t* RowReadOnly(std::int32_t y);

  bool HasAlpha();
  // An 8-bit image of the alpha bytes, owned by this TDIB; null when there is no alpha channel.
  TDIB* ExtractAlpha();

  // A canvas on the image; a MemoryImage body becomes a DIB section first.
  TCanvas* Canvas();

  // Stretches src (in image pixels) onto a device context with a plain source copy. The seam through which
  // drawing surfaces and other device-context targets take the image.
  void StretchToDC(plat::HDC dc, const TRect& dest, const TRect& src);

  std::int32_t BitCount() const { return image_->BitCount; }
  std::int32_t Width() const { return image_->Width; }
  std::int32_t Height() const { return image_->Height; }
  std::int32_t Size() const { return image_->ImageSize; }
  std::int32_t ImageSize() const { return image_->ImageSize; }
  std::int32_t Stride() const { return image_->Stride; }
  std::int32_t RowStep() const { return image_->RowStep; }
  bool MemoryImage() const { return image_->MemoryImage; }
  bool Compressed() const { return image_->Compressed; }
  const TDIBSharedImage& Image() const { return *image_; }

  // Colour table and pixel format for the next image SetSize makes; both follow the body whenever it is
  // replaced. UpdatePalette copies the colour table into the current image.
  TRGBQuads ColorTable;
  TDIBPixelFormat PixelFormat;
  void UpdatePalette();

  // TGraphic
  void DrawGraphic(TCanvas& canvas, const TRect& rect) override;
  bool IsEmpty() const override;
  int ImageHeight() const override;
  int ImageWidth() const override;
  plat::HPALETTE QueryPalette() override;
  void ReadFormData(TStream& Stream) override;
  void ResizeHeight(int Value) override;
  void ResizeWidth(int Value) override;
  void WriteFormData(TStream& Stream) override;
  void ReadGraphicStream(TStream& Stream) override;
  void WriteGraphicStream(TStream& Stream) override;
  void ReadClipboard(plat::WORD Format, std::uintptr_t Data, plat::HPALETTE Palette) override;
  void WriteClipboard(plat::WORD& Format, std::uintptr_t& Data, plat::HPALETTE& Palette) override;

 private:
  friend class TDIBCanvas;
  void SetImage(TDIBSharedImage* image);  // references the new body, releases the old one
  void Changing();                        // private, expanded body before pixels change
  void AssignGraphic(const TGraphic& graphic);
  void AssignBitmap(const TBitmap& bitmap);

  TDIBSharedImage* image_ = nullptr;
  std::unique_ptr<TCanvas> canvas_;
  std::vector<std::unique_ptr<TDIB>> alphaImages_;
};

// Registers "dib" ("Device Independent Bitmap") and clipboard format 8 for TDIB; call once at start-up
// after the picture core's start-up. FinalizeDIBUnit removes them and frees the shared objects.
void InitDIBUnit();
void FinalizeDIBUnit();
