// The graphics device interface: device contexts, bitmaps (device-independent sections and screen-format
// bitmaps), palettes, pens and brushes, icons and enhanced metafiles. Shaped like gdi32 so the Windows
// backend forwards one call per function; the soft backend implements it in memory.
//
// Handles of every object kind convert to HGDIOBJ with Obj(h); SelectObject returns the previous object,
// which the caller converts back with HandleCast<T>(obj).
//
// As with gdi32, pixel buffers handed in must hold the whole image their header describes: rows padded to
// 32 bits times the absolute height, or biSizeImage bytes of BI_RLE8 / BI_RLE4 data (callers cap that to
// the bytes they have). Headers handed in may lie inside file data at any alignment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/Types.h"

namespace plat {

using COLORREF = DWORD;
using SHORT = std::int16_t;

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
  return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}
constexpr BYTE GetRValue(COLORREF c) {
  return static_cast<BYTE>(c & 0xFF);
}
constexpr BYTE GetGValue(COLORREF c) {
  return static_cast<BYTE>((c >> 8) & 0xFF);
}
constexpr BYTE GetBValue(COLORREF c) {
  return static_cast<BYTE>((c >> 16) & 0xFF);
}
constexpr COLORREF PALETTEINDEX(WORD i) {
  return 0x01000000u | i;
}
constexpr COLORREF PALETTERGB(BYTE r, BYTE g, BYTE b) {
  return 0x02000000u | RGB(r, g, b);
}
constexpr COLORREF CLR_INVALID = 0xFFFFFFFFu;
constexpr UINT GDI_ERROR = 0xFFFFFFFFu;

// ---- Stored structures (Windows layouts; files and metafile records hold them byte for byte) ----

#pragma pack(push, 2)
struct BITMAPFILEHEADER {
  WORD bfType;  // "BM" = 0x4D42
  DWORD bfSize;
  WORD bfReserved1;
  WORD bfReserved2;
  DWORD bfOffBits;
};
// The header of a placeable Windows metafile, in front of the METAHEADER.
struct PLACEABLEMETAHEADER {
  DWORD key;  // PLACEABLE_METAFILE_KEY
  WORD hmf;
  SHORT left, top, right, bottom;  // bounding box in metafile units
  WORD inch;                       // metafile units per inch
  DWORD reserved;
  WORD checksum;  // XOR of the ten words before it
};
struct METAHEADER {
  WORD mtType;
  WORD mtHeaderSize;  // in words: 9
  WORD mtVersion;
  DWORD mtSize;  // in words
  WORD mtNoObjects;
  DWORD mtMaxRecord;  // in words
  WORD mtNoParameters;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPFILEHEADER) == 14, "BITMAPFILEHEADER layout");
static_assert(sizeof(PLACEABLEMETAHEADER) == 22, "placeable metafile header layout");
static_assert(sizeof(METAHEADER) == 18, "METAHEADER layout");
constexpr WORD BFT_BITMAP = 0x4D42;
constexpr DWORD PLACEABLE_METAFILE_KEY = 0x9AC6CDD7u;

struct BITMAPCOREHEADER {
  DWORD bcSize;  // 12
  WORD bcWidth;
  WORD bcHeight;
  WORD bcPlanes;
  WORD bcBitCount;
};
static_assert(sizeof(BITMAPCOREHEADER) == 12, "BITMAPCOREHEADER layout");

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;  // negative: rows top-down
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER layout");

struct CIEXYZ {
  LONG ciexyzX, ciexyzY, ciexyzZ;
};
struct CIEXYZTRIPLE {
  CIEXYZ ciexyzRed, ciexyzGreen, ciexyzBlue;
};
static_assert(sizeof(CIEXYZTRIPLE) == 36, "CIEXYZTRIPLE layout");

struct BITMAPV4HEADER {
  DWORD bV4Size;
  LONG bV4Width;
  LONG bV4Height;
  WORD bV4Planes;
  WORD bV4BitCount;
  DWORD bV4V4Compression;
  DWORD bV4SizeImage;
  LONG bV4XPelsPerMeter;
  LONG bV4YPelsPerMeter;
  DWORD bV4ClrUsed;
  DWORD bV4ClrImportant;
  DWORD bV4RedMask;
  DWORD bV4GreenMask;
  DWORD bV4BlueMask;
  DWORD bV4AlphaMask;
  DWORD bV4CSType;
  CIEXYZTRIPLE bV4Endpoints;
  DWORD bV4GammaRed;
  DWORD bV4GammaGreen;
  DWORD bV4GammaBlue;
};
static_assert(sizeof(BITMAPV4HEADER) == 108, "BITMAPV4HEADER layout");

struct BITMAPV5HEADER {
  DWORD bV5Size;
  LONG bV5Width;
  LONG bV5Height;
  WORD bV5Planes;
  WORD bV5BitCount;
  DWORD bV5Compression;
  DWORD bV5SizeImage;
  LONG bV5XPelsPerMeter;
  LONG bV5YPelsPerMeter;
  DWORD bV5ClrUsed;
  DWORD bV5ClrImportant;
  DWORD bV5RedMask;
  DWORD bV5GreenMask;
  DWORD bV5BlueMask;
  DWORD bV5AlphaMask;
  DWORD bV5CSType;
  CIEXYZTRIPLE bV5Endpoints;
  DWORD bV5GammaRed;
  DWORD bV5GammaGreen;
  DWORD bV5GammaBlue;
  DWORD bV5Intent;
  DWORD bV5ProfileData;
  DWORD bV5ProfileSize;
  DWORD bV5Reserved;
};
static_assert(sizeof(BITMAPV5HEADER) == 124, "BITMAPV5HEADER layout");

struct RGBQUAD {
  BYTE rgbBlue, rgbGreen, rgbRed, rgbReserved;
};
struct RGBTRIPLE {
  BYTE rgbtBlue, rgbtGreen, rgbtRed;
};
static_assert(sizeof(RGBQUAD) == 4, "RGBQUAD layout");
static_assert(sizeof(RGBTRIPLE) == 3, "RGBTRIPLE layout");

// The header followed by the colour table (or, with BI_BITFIELDS and a 40-byte header, the three masks).
// Callers allocate room for the whole table; use DibColors() to reach it for any header size.
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};
static_assert(sizeof(BITMAPINFO) == 44, "BITMAPINFO layout");

struct PALETTEENTRY {
  BYTE peRed, peGreen, peBlue, peFlags;
};
static_assert(sizeof(PALETTEENTRY) == 4, "PALETTEENTRY layout");

// Followed by palNumEntries - 1 further entries.
struct LOGPALETTE {
  WORD palVersion;  // 0x300
  WORD palNumEntries;
  PALETTEENTRY palPalEntry[1];
};
static_assert(sizeof(LOGPALETTE) == 8, "LOGPALETTE layout");

struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  void* bmBits;
};
static_assert(sizeof(BITMAP) == (sizeof(void*) == 4 ? 24 : 32), "BITMAP layout");

struct DIBSECTION {
  BITMAP dsBm;
  BITMAPINFOHEADER dsBmih;
  DWORD dsBitfields[3];
  void* dshSection;
  DWORD dsOffset;
};
static_assert(sizeof(DIBSECTION) == (sizeof(void*) == 4 ? 84 : 104), "DIBSECTION layout");

struct LOGBRUSH {
  UINT lbStyle;
  COLORREF lbColor;
  std::uintptr_t lbHatch;
};

struct ICONINFO {
  BOOL fIcon;
  DWORD xHotspot;
  DWORD yHotspot;
  HBITMAP hbmMask;
  HBITMAP hbmColor;
};

struct ICONDIR {
  WORD idReserved;
  WORD idType;  // 1 icon, 2 cursor
  WORD idCount;
};
struct ICONDIRENTRY {
  BYTE bWidth;
  BYTE bHeight;
  BYTE bColorCount;
  BYTE bReserved;
  WORD wPlanes;
  WORD wBitCount;
  DWORD dwBytesInRes;
  DWORD dwImageOffset;
};
static_assert(sizeof(ICONDIR) == 6, "ICONDIR layout");
static_assert(sizeof(ICONDIRENTRY) == 16, "ICONDIRENTRY layout");

struct RECTL {
  LONG left, top, right, bottom;
};
struct SIZEL {
  LONG cx, cy;
};
struct POINTL {
  LONG x, y;
};
struct POINTS {
  SHORT x, y;
};

// The enhanced metafile header record as it lies in the file (the form with the pixel-format extension).
struct ENHMETAHEADER {
  DWORD iType;       // EMR_HEADER
  DWORD nSize;       // bytes of this record
  RECTL rclBounds;   // device units, inclusive
  RECTL rclFrame;    // 0.01 mm, inclusive
  DWORD dSignature;  // ENHMETA_SIGNATURE
  DWORD nVersion;
  DWORD nBytes;  // size of the whole metafile
  DWORD nRecords;
  WORD nHandles;  // object table size, entry 0 reserved
  WORD sReserved;
  DWORD nDescription;
  DWORD offDescription;
  DWORD nPalEntries;
  SIZEL szlDevice;       // reference device in pixels
  SIZEL szlMillimeters;  // reference device in millimetres
  DWORD cbPixelFormat;
  DWORD offPixelFormat;
  DWORD bOpenGL;
};
static_assert(sizeof(ENHMETAHEADER) == 100, "ENHMETAHEADER layout");
constexpr std::size_t ENHMETAHEADER_BASE_SIZE = 88;  // the header without the pixel-format extension
constexpr DWORD EMR_HEADER = 1;
constexpr DWORD EMR_EOF = 14;
constexpr DWORD ENHMETA_SIGNATURE = 0x464D4520u;

struct METAFILEPICT {
  LONG mm;  // mapping mode; MM_ANISOTROPIC / MM_ISOTROPIC take xExt/yExt as the size in 0.01 mm
  LONG xExt;
  LONG yExt;
  void* hMF;  // unused here
};

// ---- Constants ----

// Compression
constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_RLE8 = 1;
constexpr DWORD BI_RLE4 = 2;
constexpr DWORD BI_BITFIELDS = 3;
constexpr DWORD BI_JPEG = 4;
constexpr DWORD BI_PNG = 5;

// Colour table usage
constexpr UINT DIB_RGB_COLORS = 0;
constexpr UINT DIB_PAL_COLORS = 1;
constexpr DWORD CBM_INIT = 4;

// Raster operations
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD SRCPAINT = 0x00EE0086;
constexpr DWORD SRCAND = 0x008800C6;
constexpr DWORD SRCINVERT = 0x00660046;
constexpr DWORD SRCERASE = 0x00440328;
constexpr DWORD NOTSRCCOPY = 0x00330008;
constexpr DWORD NOTSRCERASE = 0x001100A6;
constexpr DWORD MERGECOPY = 0x00C000CA;
constexpr DWORD MERGEPAINT = 0x00BB0226;
constexpr DWORD PATCOPY = 0x00F00021;
constexpr DWORD PATPAINT = 0x00FB0A09;
constexpr DWORD PATINVERT = 0x005A0049;
constexpr DWORD DSTINVERT = 0x00550009;
constexpr DWORD BLACKNESS = 0x00000042;
constexpr DWORD WHITENESS = 0x00FF0062;

// Stretch modes
constexpr int BLACKONWHITE = 1;
constexpr int WHITEONBLACK = 2;
constexpr int COLORONCOLOR = 3;
constexpr int HALFTONE = 4;
constexpr int STRETCH_ANDSCANS = BLACKONWHITE;
constexpr int STRETCH_ORSCANS = WHITEONBLACK;
constexpr int STRETCH_DELETESCANS = COLORONCOLOR;
constexpr int STRETCH_HALFTONE = HALFTONE;

// GetDeviceCaps indexes and values
constexpr int DRIVERVERSION = 0;
constexpr int TECHNOLOGY = 2;
constexpr int HORZSIZE = 4;
constexpr int VERTSIZE = 6;
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int BITSPIXEL = 12;
constexpr int PLANES = 14;
constexpr int NUMBRUSHES = 16;
constexpr int NUMPENS = 18;
constexpr int NUMCOLORS = 24;
constexpr int RASTERCAPS = 38;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
constexpr int SIZEPALETTE = 104;
constexpr int NUMRESERVED = 106;
constexpr int COLORRES = 108;
constexpr int VREFRESH = 116;
constexpr int DT_RASDISPLAY = 1;
constexpr int RC_BITBLT = 0x0001;
constexpr int RC_BITMAP64 = 0x0008;
constexpr int RC_DI_BITMAP = 0x0080;
constexpr int RC_PALETTE = 0x0100;
constexpr int RC_DIBTODEV = 0x0200;
constexpr int RC_STRETCHBLT = 0x0800;
constexpr int RC_STRETCHDIB = 0x2000;

// Object types (GetObjectType, GetCurrentObject)
constexpr DWORD OBJ_PEN = 1;
constexpr DWORD OBJ_BRUSH = 2;
constexpr DWORD OBJ_DC = 3;
constexpr DWORD OBJ_METADC = 4;
constexpr DWORD OBJ_PAL = 5;
constexpr DWORD OBJ_FONT = 6;
constexpr DWORD OBJ_BITMAP = 7;
constexpr DWORD OBJ_REGION = 8;
constexpr DWORD OBJ_METAFILE = 9;
constexpr DWORD OBJ_MEMDC = 10;
constexpr DWORD OBJ_EXTPEN = 11;
constexpr DWORD OBJ_ENHMETADC = 12;
constexpr DWORD OBJ_ENHMETAFILE = 13;

// Stock objects
constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int HOLLOW_BRUSH = NULL_BRUSH;
constexpr int WHITE_PEN = 6;
constexpr int BLACK_PEN = 7;
constexpr int NULL_PEN = 8;
constexpr int SYSTEM_FONT = 13;
constexpr int DEFAULT_PALETTE = 15;
constexpr int DEFAULT_GUI_FONT = 17;

// Pens and brushes
constexpr int PS_SOLID = 0;
constexpr int PS_DASH = 1;
constexpr int PS_DOT = 2;
constexpr int PS_DASHDOT = 3;
constexpr int PS_DASHDOTDOT = 4;
constexpr int PS_NULL = 5;
constexpr int PS_INSIDEFRAME = 6;
constexpr int PS_STYLE_MASK = 0x0F;
constexpr UINT BS_SOLID = 0;
constexpr UINT BS_NULL = 1;
constexpr UINT BS_HOLLOW = BS_NULL;
constexpr UINT BS_HATCHED = 2;

// Mapping modes and fill modes
constexpr int MM_TEXT = 1;
constexpr int MM_LOMETRIC = 2;
constexpr int MM_HIMETRIC = 3;
constexpr int MM_LOENGLISH = 4;
constexpr int MM_HIENGLISH = 5;
constexpr int MM_TWIPS = 6;
constexpr int MM_ISOTROPIC = 7;
constexpr int MM_ANISOTROPIC = 8;
constexpr int ALTERNATE = 1;
constexpr int WINDING = 2;
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// Palettes
constexpr BYTE PC_RESERVED = 0x01;
constexpr BYTE PC_EXPLICIT = 0x02;
constexpr BYTE PC_NOCOLLAPSE = 0x04;

// Text: TEXTMETRICA in the layout the A call fills, DrawTextA formats, system colours
struct TEXTMETRICA {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
  LONG tmOverhang;
  LONG tmDigitizedAspectX;
  LONG tmDigitizedAspectY;
  BYTE tmFirstChar;
  BYTE tmLastChar;
  BYTE tmDefaultChar;
  BYTE tmBreakChar;
  BYTE tmItalic;
  BYTE tmUnderlined;
  BYTE tmStruckOut;
  BYTE tmPitchAndFamily;
  BYTE tmCharSet;
};
static_assert(sizeof(TEXTMETRICA) == 56, "TEXTMETRICA layout");

constexpr UINT DT_TOP = 0x0000;
constexpr UINT DT_LEFT = 0x0000;
constexpr UINT DT_CENTER = 0x0001;
constexpr UINT DT_RIGHT = 0x0002;
constexpr UINT DT_VCENTER = 0x0004;  // with DT_SINGLELINE only, as in the real call
constexpr UINT DT_BOTTOM = 0x0008;   // likewise
constexpr UINT DT_WORDBREAK = 0x0010;
constexpr UINT DT_SINGLELINE = 0x0020;
constexpr UINT DT_NOCLIP = 0x0100;
constexpr UINT DT_CALCRECT = 0x0400;
constexpr UINT DT_NOPREFIX = 0x0800;

constexpr int COLOR_SCROLLBAR = 0;
constexpr int COLOR_BACKGROUND = 1;
constexpr int COLOR_ACTIVECAPTION = 2;
constexpr int COLOR_WINDOW = 5;
constexpr int COLOR_WINDOWFRAME = 6;
constexpr int COLOR_WINDOWTEXT = 8;
constexpr int COLOR_CAPTIONTEXT = 9;
constexpr int COLOR_HIGHLIGHT = 13;
constexpr int COLOR_HIGHLIGHTTEXT = 14;
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_BTNSHADOW = 16;
constexpr int COLOR_GRAYTEXT = 17;
constexpr int COLOR_BTNTEXT = 18;
constexpr int COLOR_BTNHIGHLIGHT = 20;
constexpr int COLOR_3DDKSHADOW = 21;
constexpr int COLOR_3DLIGHT = 22;
constexpr int COLOR_INFOTEXT = 23;
constexpr int COLOR_INFOBK = 24;
constexpr int COLOR_3DFACE = COLOR_BTNFACE;
constexpr int COLOR_3DSHADOW = COLOR_BTNSHADOW;
constexpr int COLOR_3DHIGHLIGHT = COLOR_BTNHIGHLIGHT;

// DrawEdge
constexpr UINT BDR_RAISEDOUTER = 0x0001;
constexpr UINT BDR_SUNKENOUTER = 0x0002;
constexpr UINT BDR_RAISEDINNER = 0x0004;
constexpr UINT BDR_SUNKENINNER = 0x0008;
constexpr UINT EDGE_RAISED = BDR_RAISEDOUTER | BDR_RAISEDINNER;
constexpr UINT EDGE_SUNKEN = BDR_SUNKENOUTER | BDR_SUNKENINNER;
constexpr UINT EDGE_ETCHED = BDR_SUNKENOUTER | BDR_RAISEDINNER;
constexpr UINT EDGE_BUMP = BDR_RAISEDOUTER | BDR_SUNKENINNER;
constexpr UINT BF_LEFT = 0x0001;
constexpr UINT BF_TOP = 0x0002;
constexpr UINT BF_RIGHT = 0x0004;
constexpr UINT BF_BOTTOM = 0x0008;
constexpr UINT BF_RECT = BF_LEFT | BF_TOP | BF_RIGHT | BF_BOTTOM;
constexpr UINT BF_MIDDLE = 0x0800;
constexpr UINT BF_SOFT = 0x1000;
constexpr UINT BF_ADJUST = 0x2000;
constexpr UINT BF_FLAT = 0x4000;
constexpr UINT BF_MONO = 0x8000;

// DrawFrameControl (push buttons)
constexpr UINT DFC_BUTTON = 4;
constexpr UINT DFCS_BUTTONPUSH = 0x0010;
constexpr UINT DFCS_INACTIVE = 0x0100;
constexpr UINT DFCS_PUSHED = 0x0200;
constexpr UINT DFCS_CHECKED = 0x0400;
constexpr UINT DFCS_ADJUSTRECT = 0x2000;
constexpr UINT DFCS_FLAT = 0x4000;
constexpr UINT DFCS_MONO = 0x8000;

// Icons and metrics
constexpr UINT DI_MASK = 0x0001;
constexpr UINT DI_IMAGE = 0x0002;
constexpr UINT DI_NORMAL = 0x0003;
constexpr UINT DI_COMPAT = 0x0004;
constexpr UINT DI_DEFAULTSIZE = 0x0008;
constexpr UINT LR_DEFAULTCOLOR = 0x0000;
constexpr UINT LR_MONOCHROME = 0x0001;
constexpr UINT LR_DEFAULTSIZE = 0x0040;
constexpr DWORD ICON_RESOURCE_VERSION = 0x00030000;
constexpr WORD IDI_APPLICATION_ID = 32512;
constexpr int SM_CXICON = 11;
constexpr int SM_CYICON = 12;
constexpr int SM_CXSMICON = 49;
constexpr int SM_CYSMICON = 50;

// A resource name given by number, as MAKEINTRESOURCE makes it.
inline const char* MAKEINTRESOURCEA(WORD id) {
  return reinterpret_cast<const char*>(static_cast<std::uintptr_t>(id));
}
inline const char* IDI_APPLICATION() {
  return MAKEINTRESOURCEA(IDI_APPLICATION_ID);
}

// ---- Handle helpers ----

template <typename H>
inline HGDIOBJ Obj(H h) {
  return reinterpret_cast<HGDIOBJ>(h);
}
template <typename H>
inline H HandleCast(HGDIOBJ h) {
  return reinterpret_cast<H>(h);
}

// ---- DIB layout helpers (pure; shared by backends and readers) ----

// Whether a DIB may have this many bits per pixel: 1, 4, 8, 16, 24 or 32.
bool DibBitCountValid(int bitCount);
// Bytes per row, padded to 32 bits; 0 when the width or bit count is out of range or the result overflows.
std::size_t DibStride(LONG width, int bitCount);
// Colour-table entries a DIB header implies: biClrUsed, or 2^bits for 8 bits or fewer when it is 0; capped
// at 256 (0 above 8 bits).
int DibColorCount(const BITMAPINFOHEADER& h);
// Start of the colour table (or the bit-field masks) of a BITMAPINFO with any header size.
inline const RGBQUAD* DibColors(const BITMAPINFO* bmi) {
  return reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const BYTE*>(bmi) + bmi->bmiHeader.biSize);
}
inline RGBQUAD* DibColors(BITMAPINFO* bmi) {
  return reinterpret_cast<RGBQUAD*>(reinterpret_cast<BYTE*>(bmi) + bmi->bmiHeader.biSize);
}
// The channel masks of a 16- or 32-bit DIB: from the header (BI_BITFIELDS) or the defaults (5-5-5 for 16
// bits, 8-8-8 for 32); false for other bit counts.
bool DibMasks(const BITMAPINFO* bmi, DWORD& red, DWORD& green, DWORD& blue);

// ---- Icons stored as PNG ----

// Decodes a PNG image into top-down 32-bit pixels (blue, green, red, alpha bytes). PNG decoding lives above
// the platform, so the picture layer registers the decoder and the backends call it for PNG icon images.
using IconPngDecoder =
    std::function<bool(const BYTE* data, std::size_t size, int& width, int& height, std::vector<BYTE>& bgra)>;
void SetIconPngDecoder(IconPngDecoder decoder);
const IconPngDecoder& GetIconPngDecoder();

// ---- The service ----

class Gdi {
 public:
  virtual ~Gdi() = default;

  // Device contexts. GetDC(nullptr) is the screen.
  virtual HDC CreateCompatibleDC(HDC dc) = 0;
  virtual BOOL DeleteDC(HDC dc) = 0;
  virtual HDC GetDC(HWND wnd) = 0;
  virtual int ReleaseDC(HWND wnd, HDC dc) = 0;
  virtual int SaveDC(HDC dc) = 0;
  virtual BOOL RestoreDC(HDC dc, int saved) = 0;  // saved < 0: relative to the latest
  virtual int GetDeviceCaps(HDC dc, int index) = 0;
  virtual HGDIOBJ SelectObject(HDC dc, HGDIOBJ obj) = 0;
  virtual HGDIOBJ GetCurrentObject(HDC dc, UINT type) = 0;
  virtual BOOL DeleteObject(HGDIOBJ obj) = 0;
  // BITMAP, DIBSECTION (for sections), LOGBRUSH, WORD entry count (palettes); returns bytes written, or the
  // size needed when out is null; 0 on failure.
  virtual int GetObject(HGDIOBJ obj, int size, void* out) = 0;
  virtual DWORD GetObjectType(HGDIOBJ obj) = 0;
  virtual HGDIOBJ GetStockObject(int index) = 0;
  virtual BOOL GdiFlush() = 0;

  // DC attributes
  virtual int SetStretchBltMode(HDC dc, int mode) = 0;
  virtual int GetStretchBltMode(HDC dc) = 0;
  virtual BOOL SetBrushOrgEx(HDC dc, int x, int y, POINT* old) = 0;
  virtual COLORREF SetTextColor(HDC dc, COLORREF color) = 0;
  virtual COLORREF GetTextColor(HDC dc) = 0;
  virtual COLORREF SetBkColor(HDC dc, COLORREF color) = 0;
  virtual COLORREF GetBkColor(HDC dc) = 0;
  virtual int SetBkMode(HDC dc, int mode) = 0;
  virtual int SetPolyFillMode(HDC dc, int mode) = 0;
  virtual int SetMapMode(HDC dc, int mode) = 0;
  virtual BOOL SetWindowOrgEx(HDC dc, int x, int y, POINT* old) = 0;
  virtual BOOL SetWindowExtEx(HDC dc, int x, int y, SIZE* old) = 0;
  virtual BOOL SetViewportOrgEx(HDC dc, int x, int y, POINT* old) = 0;
  virtual BOOL SetViewportExtEx(HDC dc, int x, int y, SIZE* old) = 0;

  // Bitmaps
  virtual HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitCount, const void* bits) = 0;
  virtual HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) = 0;
  virtual HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* bmi, UINT usage, void** bits) = 0;
  // A screen-format bitmap initialised (CBM_INIT) from DIB bits, which may be BI_RLE8 / BI_RLE4 data of
  // header->biSizeImage bytes.
  virtual HBITMAP CreateDIBitmap(HDC dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits,
                                 const BITMAPINFO* bmi, UINT usage) = 0;
  virtual int GetDIBits(HDC dc, HBITMAP bmp, UINT start, UINT lines, void* bits, BITMAPINFO* bmi,
                        UINT usage) = 0;
  virtual int SetDIBits(HDC dc, HBITMAP bmp, UINT start, UINT lines, const void* bits, const BITMAPINFO* bmi,
                        UINT usage) = 0;
  virtual UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* colors) = 0;
  virtual UINT SetDIBColorTable(HDC dc, UINT start, UINT count, const RGBQUAD* colors) = 0;

  // Transfers
  virtual BOOL BitBlt(HDC dst, int x, int y, int w, int h, HDC src, int xs, int ys, DWORD rop) = 0;
  virtual BOOL StretchBlt(HDC dst, int x, int y, int w, int h, HDC src, int xs, int ys, int ws, int hs,
                          DWORD rop) = 0;
  virtual BOOL PatBlt(HDC dc, int x, int y, int w, int h, DWORD rop) = 0;
  virtual int StretchDIBits(HDC dc, int x, int y, int w, int h, int xs, int ys, int ws, int hs,
                            const void* bits, const BITMAPINFO* bmi, UINT usage, DWORD rop) = 0;
  virtual int SetDIBitsToDevice(HDC dc, int x, int y, DWORD w, DWORD h, int xs, int ys, UINT startScan,
                                UINT lines, const void* bits, const BITMAPINFO* bmi, UINT usage) = 0;
  virtual COLORREF SetPixel(HDC dc, int x, int y, COLORREF color) = 0;
  virtual COLORREF GetPixel(HDC dc, int x, int y) = 0;

  // Palettes
  virtual HPALETTE CreatePalette(const LOGPALETTE* pal) = 0;
  virtual HPALETTE CreateHalftonePalette(HDC dc) = 0;
  virtual HPALETTE SelectPalette(HDC dc, HPALETTE pal, BOOL forceBackground) = 0;
  virtual UINT RealizePalette(HDC dc) = 0;
  virtual UINT GetPaletteEntries(HPALETTE pal, UINT start, UINT count, PALETTEENTRY* entries) = 0;
  virtual UINT SetPaletteEntries(HPALETTE pal, UINT start, UINT count, const PALETTEENTRY* entries) = 0;
  virtual UINT GetSystemPaletteEntries(HDC dc, UINT start, UINT count, PALETTEENTRY* entries) = 0;
  virtual UINT GetNearestPaletteIndex(HPALETTE pal, COLORREF color) = 0;

  // Pens, brushes and shapes (logical coordinates through the DC's mapping)
  virtual HBRUSH CreateSolidBrush(COLORREF color) = 0;
  virtual HBRUSH CreateBrushIndirect(const LOGBRUSH* brush) = 0;
  virtual HPEN CreatePen(int style, int width, COLORREF color) = 0;
  virtual int FillRect(HDC dc, const RECT* rect, HBRUSH brush) = 0;
  virtual BOOL Rectangle(HDC dc, int left, int top, int right, int bottom) = 0;
  virtual BOOL Ellipse(HDC dc, int left, int top, int right, int bottom) = 0;
  virtual BOOL Polygon(HDC dc, const POINT* points, int count) = 0;
  virtual BOOL Polyline(HDC dc, const POINT* points, int count) = 0;
  virtual BOOL PolyPolygon(HDC dc, const POINT* points, const int* counts, int polygons) = 0;
  virtual BOOL MoveToEx(HDC dc, int x, int y, POINT* old) = 0;
  virtual BOOL LineTo(HDC dc, int x, int y) = 0;

  // Text in the DC's selected font (a stock font: SYSTEM_FONT by default, or DEFAULT_GUI_FONT), text colour
  // and background mode. count -1: the text ends at its nul. DrawTextA breaks lines at CR LF (and a lone CR
  // or LF) unless DT_SINGLELINE, returns the height of the text, and with DT_CALCRECT only measures: it
  // moves rect's right and bottom edges to the text's extent.
  virtual int DrawTextA(HDC dc, const char* text, int count, RECT* rect, UINT format) = 0;
  virtual BOOL GetTextExtentPoint32A(HDC dc, const char* text, int count, SIZE* size) = 0;
  virtual BOOL GetTextMetricsA(HDC dc, TEXTMETRICA* metrics) = 0;

  // System colours and the frames of standard controls (user32 on Windows).
  virtual DWORD GetSysColor(int index) = 0;
  // A shared brush of a system colour; never deleted by the caller.
  virtual HBRUSH GetSysColorBrush(int index) = 0;
  virtual BOOL DrawEdge(HDC dc, RECT* rect, UINT edge, UINT flags) = 0;
  virtual BOOL DrawFrameControl(HDC dc, RECT* rect, UINT type, UINT state) = 0;
  // Dotted rectangle drawn by inverting, so a second call takes it away.
  virtual BOOL DrawFocusRect(HDC dc, const RECT* rect) = 0;

  // Icons
  virtual HICON CreateIconFromResourceEx(const BYTE* data, DWORD size, BOOL icon, DWORD version, int cx,
                                         int cy, UINT flags) = 0;
  virtual HICON CreateIconIndirect(const ICONINFO* info) = 0;
  // The caller owns the returned bitmaps (copies), as with the Windows call.
  virtual BOOL GetIconInfo(HICON icon, ICONINFO* info) = 0;
  virtual BOOL DrawIconEx(HDC dc, int x, int y, HICON icon, int cx, int cy, UINT step, HBRUSH flickerFree,
                          UINT flags) = 0;
  virtual BOOL DestroyIcon(HICON icon) = 0;
  // Only stock icons (instance null) exist here.
  virtual HICON LoadIcon(HINSTANCE instance, const char* name) = 0;
  virtual int GetSystemMetrics(int index) = 0;

  // Enhanced metafiles
  virtual HENHMETAFILE SetEnhMetaFileBits(UINT size, const BYTE* data) = 0;
  virtual HENHMETAFILE SetWinMetaFileBits(UINT size, const BYTE* data, HDC ref, const METAFILEPICT* pict) = 0;
  virtual UINT GetEnhMetaFileHeader(HENHMETAFILE emf, UINT size, ENHMETAHEADER* header) = 0;
  virtual UINT GetEnhMetaFileBits(HENHMETAFILE emf, UINT size, BYTE* data) = 0;
  virtual BOOL PlayEnhMetaFile(HDC dc, HENHMETAFILE emf, const RECT* rect) = 0;
  virtual BOOL DeleteEnhMetaFile(HENHMETAFILE emf) = 0;
};

}  // namespace plat
