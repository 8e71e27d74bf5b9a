// The body behind TBitmap and the reading of bitmap files into it. The header reading is kept apart from the
// platform so it can be checked on its own.
#pragma once

#include <cstdint>
#include <vector>

#include "picture/Graphics.h"
#include "platform/Gdi.h"

// Largest pixel memory one bitmap may take (256 MiB unless set otherwise); headers asking for more are
// refused before anything is made. Fuzz targets lower it to keep each run fast.
std::size_t MaxBitmapBytes();
void SetMaxBitmapBytes(std::size_t Bytes);

class TBitmapImage : public TSharedImage {
 public:
  ~TBitmapImage() override { FreeHandle(); }

  plat::HBITMAP Handle = nullptr;
  plat::HPALETTE Palette = nullptr;
  bool OwnPalette = true;
  int Width = 0;
  int Height = 0;  // always positive; TopDown tells the row order of a section
  int BitCount = 0;
  bool TopDown = false;
  bool IsDIB = false;  // a device-independent section (Bits valid) rather than a screen-format bitmap
  void* Bits = nullptr;
  std::size_t Stride = 0;
  plat::DWORD Masks[3] = {0, 0, 0};
  bool BitFields = false;
  std::vector<plat::RGBQUAD> Colors;     // colour table of the image
  std::vector<std::uint8_t> SaveStream;  // compressed file kept as read, written back unchanged
  // What a new image of this bitmap is made as when it is sized.
  TPixelFormat Format = pfDevice;
  TBitmapHandleType HandleType = bmDIB;

  bool Empty() const { return Handle == nullptr; }
  std::size_t ImageBytes() const { return Stride * static_cast<std::size_t>(Height); }

 protected:
  void FreeHandle() override;
};

// A bitmap file's headers as read, normalised to the 40-byte form.
struct TBitmapFileLayout {
  plat::BITMAPINFOHEADER Header{};  // biSize 40; biSizeImage: the byte count to read, capped by the stream
  std::uint32_t StoredHeaderSize = 0;
  bool BitFields = false;
  plat::DWORD Masks[3] = {0, 0, 0};
  std::vector<plat::RGBQUAD> Colors;     // widened to 4 bytes for core headers
  std::vector<std::uint8_t> Compressed;  // the kept file of a compressed bitmap (rebuilt file header on)
  std::size_t CompressedBitsOffset = 0;  // where its pixel data starts in Compressed
};

// Reads the file header, info header, masks and colour table from the stream (positioned at the file start)
// and leaves it at the pixel data. False for an empty remainder (an empty bitmap). Raises EInvalidGraphic
// "Bitmap image is not valid" and EReadError "Stream read error".
bool ReadBitmapLayout(TStream& Stream, TBitmapFileLayout& Out);

// Pure check of a normalised header before anything is made from it: sizes, bit count and compression that
// go together, and pixel memory within MaxBitmapBytes().
bool BitmapHeaderUsable(const plat::BITMAPINFOHEADER& H);
