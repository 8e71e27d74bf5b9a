// The soft GDI: every object in memory. Bitmaps keep their stored format (1, 4, 8, 16, 24 or 32 bits per
// pixel with their colour table or channel masks), so reading bits back and palette behaviour match a real
// device. The virtual screen has a configurable depth; at 8 bits it is palette-based and shows the system
// palette (the 20 static colours at 0..9 and 246..255, the half-tone colours between them).
//
// Stretching, shared by StretchBlt, StretchDIBits and icon drawing, maps destination pixel i of a span of
// |wd| pixels to source pixel floor(i * |ws| / |wd|) of a span of |ws| pixels (64-bit integer arithmetic,
// i.e. truncating), counted from the mirrored end when exactly one of the two widths is negative; rows alike.
// COLORONCOLOR (and the two scan modes) take that one pixel. HALFTONE averages, per channel with truncation,
// all source pixels from floor(i * |ws| / |wd|) up to but excluding ceil((i + 1) * |ws| / |wd|), so it equals
// COLORONCOLOR when enlarging; it applies to plain copies (SRCCOPY) between colour bitmaps only.
//
// A window's DC (GetDC(hwnd), BeginPaint) draws on the screen with its origin at the window's place, clipped
// to the window within its ancestors and, for WS_CLIPCHILDREN windows, outside their visible children.
// FillRect, text and the control frames honour that clip; the other calls only the origin.
//
// Text uses one built-in fixed-pitch face (both stock fonts): cells of 6 x 13 pixels, ascent 10, printable
// ASCII; any other byte shows as a hollow box. Glyphs are drawn unscaled at the mapped position.
#pragma once

#include <memory>

#include "platform/Gdi.h"
#include "platform/Platform.h"
#include "platform/common/SoftOptions.h"

namespace plat::soft {

struct SoftGdiState;

class SoftGdi : public Gdi {
 public:
  explicit SoftGdi(const SoftOptions& options);
  ~SoftGdi() override;
  SoftGdi(const SoftGdi&) = delete;
  SoftGdi& operator=(const SoftGdi&) = delete;

  // ---- soft-only ----
  // A DIB section over pixels the caller owns and keeps alive longer than the bitmap (a surface's memory), so
  // drawing through a DC and writing the memory directly see the same pixels. Null for an invalid header.
  HBITMAP CreateDIBSectionOver(void* bits, const BITMAPINFO* bmi);
  // The screen's bitmap (what GetDC(nullptr) draws on); made on first use.
  HBITMAP ScreenBitmap();
  // Makes the screen draw into another bitmap (for instance a section over a primary surface); null restores
  // the screen's own bitmap. The bitmap must stay alive while it is the screen.
  void SetScreenBitmap(HBITMAP bmp);
  int ScreenBitCount() const;
  // Objects alive apart from stock objects; tests use it to find leaks.
  std::size_t LiveObjectCount() const;
  // An extra scale and offset applied after the DC's own mapping (device = logical mapping * scale + offset);
  // metafile playback uses it to fit the picture frame to the target rectangle.
  void SetPlaybackTransform(HDC dc, double sx, double sy, double ox, double oy);
  bool GetPlaybackTransform(HDC dc, double& sx, double& sy, double& ox, double& oy);
  // Logical to device coordinates of a DC (rounded to the nearest pixel).
  POINT LogicalToDevice(HDC dc, double x, double y);

  // ---- Gdi ----
  HDC CreateCompatibleDC(HDC dc) override;
  BOOL DeleteDC(HDC dc) override;
  HDC GetDC(HWND wnd) override;
  int ReleaseDC(HWND wnd, HDC dc) override;
  int SaveDC(HDC dc) override;
  BOOL RestoreDC(HDC dc, int saved) override;
  int GetDeviceCaps(HDC dc, int index) override;
  HGDIOBJ SelectObject(HDC dc, HGDIOBJ obj) override;
  HGDIOBJ GetCurrentObject(HDC dc, UINT type) override;
  BOOL DeleteObject(HGDIOBJ obj) override;
  int GetObject(HGDIOBJ obj, int size, void* out) override;
  DWORD GetObjectType(HGDIOBJ obj) override;
  HGDIOBJ GetStockObject(int index) override;
  BOOL GdiFlush() override;

  int SetStretchBltMode(HDC dc, int mode) override;
  int GetStretchBltMode(HDC dc) override;
  BOOL SetBrushOrgEx(HDC dc, int x, int y, POINT* old) override;
  COLORREF SetTextColor(HDC dc, COLORREF color) override;
  COLORREF GetTextColor(HDC dc) override;
  COLORREF SetBkColor(HDC dc, COLORREF color) override;
  COLORREF GetBkColor(HDC dc) override;
  int SetBkMode(HDC dc, int mode) override;
  int SetPolyFillMode(HDC dc, int mode) override;
  int SetMapMode(HDC dc, int mode) override;
  BOOL SetWindowOrgEx(HDC dc, int x, int y, POINT* old) override;
  BOOL SetWindowExtEx(HDC dc, int x, int y, SIZE* old) override;
  BOOL SetViewportOrgEx(HDC dc, int x, int y, POINT* old) override;
  BOOL SetViewportExtEx(HDC dc, int x, int y, SIZE* old) override;

  HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitCount, const void* bits) override;
  HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) override;
  HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* bmi, UINT usage, void** bits) override;
  HBITMAP CreateDIBitmap(HDC dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits,
                         const BITMAPINFO* bmi, UINT usage) override;
  int GetDIBits(HDC dc, HBITMAP bmp, UINT start, UINT lines, void* bits, BITMAPINFO* bmi,
                UINT usage) override;
  int SetDIBits(HDC dc, HBITMAP bmp, UINT start, UINT lines, const void* bits, const BITMAPINFO* bmi,
                UINT usage) override;
  UINT GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* colors) override;
  UINT SetDIBColorTable(HDC dc, UINT start, UINT count, const RGBQUAD* colors) override;

  BOOL BitBlt(HDC dst, int x, int y, int w, int h, HDC src, int xs, int ys, DWORD rop) override;
  BOOL StretchBlt(HDC dst, int x, int y, int w, int h, HDC src, int xs, int ys, int ws, int hs,
                  DWORD rop) override;
  BOOL PatBlt(HDC dc, int x, int y, int w, int h, DWORD rop) override;
  int StretchDIBits(HDC dc, int x, int y, int w, int h, int xs, int ys, int ws, int hs, const void* bits,
                    const BITMAPINFO* bmi, UINT usage, DWORD rop) override;
  int SetDIBitsToDevice(HDC dc, int x, int y, DWORD w, DWORD h, int xs, int ys, UINT startScan, UINT lines,
                        const void* bits, const BITMAPINFO* bmi, UINT usage) override;
  COLORREF SetPixel(HDC dc, int x, int y, COLORREF color) override;
  COLORREF GetPixel(HDC dc, int x, int y) override;

  HPALETTE CreatePalette(const LOGPALETTE* pal) override;
  HPALETTE CreateHalftonePalette(HDC dc) override;
  HPALETTE SelectPalette(HDC dc, HPALETTE pal, BOOL forceBackground) override;
  UINT RealizePalette(HDC dc) override;
  UINT GetPaletteEntries(HPALETTE pal, UINT start, UINT count, PALETTEENTRY* entries) override;
  UINT SetPaletteEntries(HPALETTE pal, UINT start, UINT count, const PALETTEENTRY* entries) override;
  UINT GetSystemPaletteEntries(HDC dc, UINT start, UINT count, PALETTEENTRY* entries) override;
  UINT GetNearestPaletteIndex(HPALETTE pal, COLORREF color) override;

  HBRUSH CreateSolidBrush(COLORREF color) override;
  HBRUSH CreateBrushIndirect(const LOGBRUSH* brush) override;
  HPEN CreatePen(int style, int width, COLORREF color) override;
  int FillRect(HDC dc, const RECT* rect, HBRUSH brush) override;
  BOOL Rectangle(HDC dc, int left, int top, int right, int bottom) override;
  BOOL Ellipse(HDC dc, int left, int top, int right, int bottom) override;
  BOOL Polygon(HDC dc, const POINT* points, int count) override;
  BOOL Polyline(HDC dc, const POINT* points, int count) override;
  BOOL PolyPolygon(HDC dc, const POINT* points, const int* counts, int polygons) override;
  BOOL MoveToEx(HDC dc, int x, int y, POINT* old) override;
  BOOL LineTo(HDC dc, int x, int y) override;

  int DrawTextA(HDC dc, const char* text, int count, RECT* rect, UINT format) override;
  BOOL GetTextExtentPoint32A(HDC dc, const char* text, int count, SIZE* size) override;
  BOOL GetTextMetricsA(HDC dc, TEXTMETRICA* metrics) override;
  DWORD GetSysColor(int index) override;
  HBRUSH GetSysColorBrush(int index) override;
  BOOL DrawEdge(HDC dc, RECT* rect, UINT edge, UINT flags) override;
  BOOL DrawFrameControl(HDC dc, RECT* rect, UINT type, UINT state) override;
  BOOL DrawFocusRect(HDC dc, const RECT* rect) override;

  HICON CreateIconFromResourceEx(const BYTE* data, DWORD size, BOOL icon, DWORD version, int cx, int cy,
                                 UINT flags) override;
  HICON CreateIconIndirect(const ICONINFO* info) override;
  BOOL GetIconInfo(HICON icon, ICONINFO* info) override;
  BOOL DrawIconEx(HDC dc, int x, int y, HICON icon, int cx, int cy, UINT step, HBRUSH flickerFree,
                  UINT flags) override;
  BOOL DestroyIcon(HICON icon) override;
  HICON LoadIcon(HINSTANCE instance, const char* name) override;
  int GetSystemMetrics(int index) override;

  HENHMETAFILE SetEnhMetaFileBits(UINT size, const BYTE* data) override;
  HENHMETAFILE SetWinMetaFileBits(UINT size, const BYTE* data, HDC ref, const METAFILEPICT* pict) override;
  UINT GetEnhMetaFileHeader(HENHMETAFILE emf, UINT size, ENHMETAHEADER* header) override;
  UINT GetEnhMetaFileBits(HENHMETAFILE emf, UINT size, BYTE* data) override;
  BOOL PlayEnhMetaFile(HDC dc, HENHMETAFILE emf, const RECT* rect) override;
  BOOL DeleteEnhMetaFile(HENHMETAFILE emf) override;

 private:
  std::unique_ptr<SoftGdiState> s_;
};

}  // namespace plat::soft
