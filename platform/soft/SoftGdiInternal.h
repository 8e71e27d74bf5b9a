// Objects and pixel helpers shared by the soft GDI's source files. Not for use outside platform/soft (tests
// excepted).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/Gdi.h"

namespace plat::soft {

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// Largest pixel memory one bitmap may take; bigger requests fail like an exhausted system would.
constexpr std::size_t kMaxBitmapBytes = std::size_t(256) << 20;

struct GdiObject {
  explicit GdiObject(DWORD t) : type(t) {}
  virtual ~GdiObject() = default;
  DWORD type;
  bool stock = false;
};

// Pixel memory in a stored format. Rows are addressed top-down through Row(); the memory order follows the
// topDown flag as in a DIB.
struct SBitmap : GdiObject {
  SBitmap() : GdiObject(OBJ_BITMAP) {}
  int width = 0;
  int height = 0;
  int bpp = 1;
  std::size_t stride = 0;
  bool topDown = false;
  bool mono = false;  // a device-dependent 1-bit bitmap: drawn with the DC's text and background colours
  bool dibSection = false;  // made by CreateDIBSection (GetObject reports a DIBSECTION)
  BYTE* bits = nullptr;
  std::vector<BYTE> storage;              // owned pixels (empty when the pixels are the caller's)
  std::vector<RGBQUAD> colors;            // colour table for 8 bits or fewer
  DWORD rmask = 0, gmask = 0, bmask = 0;  // channel masks for 16 and 32 bits
  DWORD compression = BI_RGB;             // as reported for sections
  BITMAPINFOHEADER header{};              // of a section, as created

  BYTE* Row(int y) const { return bits + (topDown ? std::size_t(y) : std::size_t(height - 1 - y)) * stride; }
};

struct SPalette : GdiObject {
  SPalette() : GdiObject(OBJ_PAL) {}
  std::vector<PALETTEENTRY> entries;
};

struct SBrush : GdiObject {
  SBrush() : GdiObject(OBJ_BRUSH) {}
  UINT style = BS_SOLID;
  COLORREF color = 0;
};

struct SPen : GdiObject {
  SPen() : GdiObject(OBJ_PEN) {}
  int style = PS_SOLID;
  int width = 1;
  COLORREF color = 0;
};

struct SIcon : GdiObject {
  SIcon() : GdiObject(OBJ_BITMAP + 100) {}  // icons are not GDI objects; the type keeps them apart
  std::unique_ptr<SBitmap> color;           // may be null for a monochrome icon (mask holds both halves)
  std::unique_ptr<SBitmap> mask;
  int width = 0, height = 0;
  bool isIcon = true;
  DWORD xHotspot = 0, yHotspot = 0;
};

struct SEmf : GdiObject {
  SEmf() : GdiObject(OBJ_ENHMETAFILE) {}
  std::vector<BYTE> bytes;
  ENHMETAHEADER header{};
};

// The attributes SaveDC keeps.
struct DCAttrs {
  SBitmap* bitmap = nullptr;
  SBrush* brush = nullptr;
  SPen* pen = nullptr;
  SPalette* palette = nullptr;
  int stretchMode = BLACKONWHITE;
  COLORREF textColor = 0x000000;
  COLORREF bkColor = 0xFFFFFF;
  int bkMode = OPAQUE;
  int polyFillMode = ALTERNATE;
  POINT brushOrg{0, 0};
  int mapMode = MM_TEXT;
  POINT windowOrg{0, 0};
  SIZE windowExt{1, 1};
  POINT viewportOrg{0, 0};
  SIZE viewportExt{1, 1};
  POINT current{0, 0};
  double playSx = 1, playSy = 1, playOx = 0, playOy = 0;
};

struct SDC : GdiObject {
  SDC() : GdiObject(OBJ_MEMDC) {}
  bool screen = false;
  DCAttrs a;
  std::vector<DCAttrs> saved;
};

// ---- pixel helpers (SoftGdiPixels.cpp) ----

// Reads and writes the raw value of pixel (x, y), y counted from the top; the caller clips.
DWORD ReadRaw(const SBitmap& b, int x, int y);
void WriteRaw(SBitmap& b, int x, int y, DWORD v);
// The colour of a raw value; mono bitmaps give black for 0 and white for 1.
COLORREF RawToColor(const SBitmap& b, DWORD raw);
// The raw value nearest to a colour (a mono bitmap: 1 when the colour's intensity is at least half).
DWORD ColorToRaw(const SBitmap& b, COLORREF c);
// Index of the nearest table entry (smallest squared distance, first on ties).
int NearestIndex(const std::vector<RGBQUAD>& table, COLORREF c);
int NearestIndex(const std::vector<PALETTEENTRY>& table, COLORREF c);
// The 256-entry system/half-tone palette and the default 16-colour table.
const std::vector<PALETTEENTRY>& HalftonePalette();
std::vector<RGBQUAD> HalftoneTable();
std::vector<RGBQUAD> Vga16Table();
// Applies a ternary raster operation (its index byte) to raw pattern, source and destination values.
DWORD ApplyRop(DWORD rop, DWORD p, DWORD s, DWORD d);
// True when the operation reads the source, the pattern.
bool RopUsesSource(DWORD rop);
bool RopUsesPattern(DWORD rop);

// Fills a bitmap description from a DIB header and colour table (no pixel memory). DIB_PAL_COLORS tables are
// resolved through pal (null: the default palette). False for headers this GDI does not take.
bool DescribeDib(const BITMAPINFO* bmi, UINT usage, const SPalette* pal, SBitmap& out);
// Bytes a BITMAPINFO of this header takes (header, masks, colour table), or 0 when the header is invalid.
std::size_t DibInfoSize(const BITMAPINFOHEADER& h, UINT usage);
// Bytes of uncompressed pixel data the header describes, or 0 on overflow or invalid sizes.
std::size_t DibImageSize(const BITMAPINFOHEADER& h);
// Whether a DIB (info of infoSize bytes, then bitsSize bytes of pixels) is complete and sane; the metafile
// player checks records with it before handing their bits on.
bool DibFits(const BYTE* info, std::size_t infoSize, std::size_t bitsSize, UINT usage);

// Expands BI_RLE8 / BI_RLE4 data into a bottom-up 8- or 4-bit image of the given size (out must hold
// stride * height bytes, already cleared). Malformed data stops the expansion; nothing is ever written
// outside the image. Returns false only for an unsupported compression or size.
bool DecodeRle(const BYTE* data, std::size_t size, DWORD compression, int width, int height, BYTE* out,
               std::size_t stride);

// Copies or stretches part of one bitmap onto another, in device pixels (see SoftGdi.h for the sampling).
// srcDC/dstDC supply the colours of monochrome conversions; pattern is the brush for raster operations
// that use one (null: black).
struct BlitContext {
  COLORREF srcBk = 0xFFFFFF;               // background colour of the source DC (colour -> mono)
  COLORREF dstText = 0, dstBk = 0xFFFFFF;  // text and background colours of the destination (mono -> colour)
  const SBrush* brush = nullptr;
  int stretchMode = COLORONCOLOR;
  // Colour to monochrome: true compares with srcBk (transfers between DCs), false takes the nearer of black
  // and white (device-independent bits).
  bool monoByBackground = true;
};
void StretchBits(SBitmap& dst, std::int64_t xd, std::int64_t yd, std::int64_t wd, std::int64_t hd,
                 const SBitmap* src, std::int64_t xs, std::int64_t ys, std::int64_t ws, std::int64_t hs,
                 DWORD rop, const BlitContext& ctx);

// ---- metafiles (SoftMetafile.cpp) ----

// Checks an enhanced metafile: header, signature, every record's size and alignment inside the data, a
// bounded number of records. A missing end record is accepted when the records end with the data.
bool ValidateEnhMetaFile(const BYTE* data, std::size_t size);
// Converts a Windows metafile (optionally behind a placeable header) into enhanced-metafile bytes; empty on
// malformed input. The frame comes from pict (0.01 mm) or from the metafile's window extent.
std::vector<BYTE> ConvertWinMetaFile(const BYTE* data, std::size_t size, const METAFILEPICT* pict,
                                     SIZEL device, SIZEL millimetres);

class SoftGdi;
// Plays enhanced-metafile records (already validated) into a DC, mapping the frame onto rect (device pixels).
void PlayEnhMetaFileRecords(SoftGdi& gdi, HDC dc, const std::vector<BYTE>& emf, const RECT& rect);

}  // namespace plat::soft
