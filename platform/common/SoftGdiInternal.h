// Objects and pixel helpers shared by the soft GDI's source files. Not for use outside platform/common
// (tests excepted).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Gdi.h"
#include "platform/Platform.h"
#include "platform/common/SoftOptions.h"
#include "platform/common/ZeroedBuffer.h"

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
  ZeroedBuffer storage;                   // owned pixels (empty when the pixels are the caller's)
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

// The one built-in bitmap font; the stock fonts are handles onto it.
struct SFont : GdiObject {
  SFont() : GdiObject(OBJ_FONT) {}
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
  SFont* font = nullptr;
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
  POINT dcOrg{0, 0};  // device origin of a window's DC: the window's place on the screen
};

struct SDC : GdiObject {
  SDC() : GdiObject(OBJ_MEMDC) {}
  bool screen = false;
  DCAttrs a;
  std::vector<DCAttrs> saved;
  // A window's DC draws only inside the window (and its ancestors), less its visible children when it
  // clips them: disjoint device rectangles. Filling, text and control frames honour it.
  bool clipped = false;
  std::vector<RECT> clip;
};

// The soft GDI's objects: every handle is the address of its object.
struct SoftGdiState {
  SoftOptions opt;
  std::unordered_map<const void*, std::unique_ptr<GdiObject>> objects;
  std::vector<GdiObject*> stock;  // by stock index
  SBitmap* defaultBitmap = nullptr;
  SBitmap* ownScreen = nullptr;
  SBitmap* screen = nullptr;
  SIcon* appIcon = nullptr;
  std::vector<SBrush*> sysColorBrushes;  // made on first use, by colour index

  template <typename T>
  T* Add(std::unique_ptr<T> obj) {
    T* p = obj.get();
    objects.emplace(p, std::move(obj));
    return p;
  }
  template <typename T>
  T* Get(const void* h) const {
    if (!h) return nullptr;
    auto it = objects.find(h);
    if (it == objects.end()) return nullptr;
    return dynamic_cast<T*>(it->second.get());
  }
  bool IsSelected(const GdiObject* o) const {
    for (auto& kv : objects) {
      const SDC* dc = dynamic_cast<const SDC*>(kv.second.get());
      if (!dc) continue;
      auto uses = [o](const DCAttrs& a) {
        return a.bitmap == o || a.brush == o || a.pen == o || a.palette == o;
      };
      if (uses(dc->a)) return true;
      for (const DCAttrs& s : dc->saved)
        if (uses(s)) return true;
    }
    return o == screen;
  }
};

// ---- shared by the GDI's source files (SoftGdi.cpp) ----

// Sets the calling thread's last error, where a system service is installed.
void SetError(DWORD code);
// A cleared bitmap of w x h pixels of bpp bits; null (last error set) when it would be too large.
std::unique_ptr<SBitmap> NewBitmap(int w, int h, int bpp, bool topDown);
// Default formats of device-dependent bitmaps of a bit count.
void ApplyDefaultFormat(SBitmap& b, int screenBpp);
std::unique_ptr<SBitmap> CopyBitmap(const SBitmap& src);
// v rounded half up, clamped to +-1e9 so far-away coordinates stay in range (0 for NaN).
long Round(double v);

constexpr int kLogPixels = 96;

// The page transform of a DC as scale and offset per axis (device = logical * scale + offset).
void PageTransform(const DCAttrs& a, int logPixels, double& sx, double& sy, double& ox, double& oy);

// Logical to device coordinates of a DC's attributes.
struct Mapper {
  double sx, sy, ox, oy;
  explicit Mapper(const DCAttrs& a) { PageTransform(a, kLogPixels, sx, sy, ox, oy); }
  long X(double x) const { return Round(x * sx + ox); }
  long Y(double y) const { return Round(y * sy + oy); }
  double Xd(double x) const { return x * sx + ox; }
  double Yd(double y) const { return y * sy + oy; }
};

// The colour a COLORREF stands for on a DC: a palette index through the DC's palette.
COLORREF ResolveColor(const SDC* dc, COLORREF c);

// Opens a member of SoftGdi that works on a DC: d is the DC of handle dc; an unknown handle returns ret.
#define DS_DC_OR(ret)        \
  SDC* d = s_->Get<SDC>(dc); \
  if (!d) return ret

// ---- clipping (SoftGdiText.cpp) ----

// Calls fn with each part of the device rectangle area that lies on the DC's bitmap and inside its clip
// (disjoint pieces; none when nothing is visible).
template <typename Fn>
void ForEachVisible(const SDC& dc, const RECT& area, Fn fn) {
  const SBitmap* b = dc.a.bitmap;
  if (!b) return;
  RECT a{std::max<LONG>(area.left, 0), std::max<LONG>(area.top, 0), std::min<LONG>(area.right, b->width),
         std::min<LONG>(area.bottom, b->height)};
  if (a.left >= a.right || a.top >= a.bottom) return;
  if (!dc.clipped) {
    fn(a);
    return;
  }
  for (const RECT& c : dc.clip) {
    RECT p{std::max(a.left, c.left), std::max(a.top, c.top), std::min(a.right, c.right),
           std::min(a.bottom, c.bottom)};
    if (p.left < p.right && p.top < p.bottom) fn(p);
  }
}
// The parts of r not covered by cut (at most four, disjoint), appended to out.
void SubtractRect(const RECT& r, const RECT& cut, std::vector<RECT>& out);

// ---- the built-in font (SoftFont.cpp) ----

// Every character takes a cell of kFontCellWidth x kFontCellHeight pixels; kFontAscent rows lie above the
// baseline. A glyph is 5 pixels wide and 9 rows tall, drawn from cell row kGlyphTop: rows 0..6 stand on
// the baseline, rows 7..8 hang below it.
constexpr int kFontCellWidth = 6;
constexpr int kFontCellHeight = 13;
constexpr int kFontAscent = 10;
constexpr int kGlyphTop = 3;
constexpr int kGlyphRows = 9;
constexpr int kUnderlineRow = 11;
// Rows of a character's glyph, bit 4 the leftmost column; characters outside 32..126 get a hollow box.
const std::uint8_t* GlyphRows(unsigned char c);

// One line of laid-out text: its characters and, per character, whether it is underlined (a '&' prefix).
struct TextLine {
  std::string chars;
  std::vector<bool> underline;
  std::int64_t Width() const { return std::int64_t(chars.size()) * kFontCellWidth; }
};
// Splits text into lines as DrawTextA does for this format: CR LF, lone CR and lone LF break lines unless
// DT_SINGLELINE; DT_WORDBREAK also breaks at spaces where a line would grow wider than maxWidth (a word
// wider than that stays whole); without DT_NOPREFIX '&' underlines the next character and "&&" is '&'.
std::vector<TextLine> LayoutText(const char* text, std::size_t size, UINT format, std::int64_t maxWidth);

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

// ---- metafiles (SoftMetafile.cpp, SoftMetafileConvert.cpp, SoftMetafilePlay.cpp) ----

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
