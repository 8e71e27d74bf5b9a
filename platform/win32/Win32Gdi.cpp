#include "platform/win32/Win32Gdi.h"

#include "platform/win32/Win32Api.h"

namespace plat::win32 {

namespace {
::HDC D(HDC h) {
  return H<::HDC>(h);
}
::HGDIOBJ G(HGDIOBJ h) {
  return H<::HGDIOBJ>(h);
}
::HBITMAP B(HBITMAP h) {
  return H<::HBITMAP>(h);
}
::HPALETTE Pal(HPALETTE h) {
  return H<::HPALETTE>(h);
}
::HICON I(HICON h) {
  return H<::HICON>(h);
}
::HENHMETAFILE E(HENHMETAFILE h) {
  return H<::HENHMETAFILE>(h);
}
::POINT* Pt(POINT* p) {
  return reinterpret_cast<::POINT*>(p);
}
const ::POINT* Pt(const POINT* p) {
  return reinterpret_cast<const ::POINT*>(p);
}
::SIZE* Sz(SIZE* s) {
  return reinterpret_cast<::SIZE*>(s);
}
const ::BITMAPINFO* Bmi(const BITMAPINFO* b) {
  return reinterpret_cast<const ::BITMAPINFO*>(b);
}
::BITMAPINFO* Bmi(BITMAPINFO* b) {
  return reinterpret_cast<::BITMAPINFO*>(b);
}
::PALETTEENTRY* Pe(PALETTEENTRY* p) {
  return reinterpret_cast<::PALETTEENTRY*>(p);
}
const ::PALETTEENTRY* Pe(const PALETTEENTRY* p) {
  return reinterpret_cast<const ::PALETTEENTRY*>(p);
}
::RGBQUAD* Rq(RGBQUAD* p) {
  return reinterpret_cast<::RGBQUAD*>(p);
}
const ::RGBQUAD* Rq(const RGBQUAD* p) {
  return reinterpret_cast<const ::RGBQUAD*>(p);
}
}  // namespace

// ---- device contexts ----

HDC Win32Gdi::CreateCompatibleDC(HDC dc) {
  return H<HDC>(::CreateCompatibleDC(D(dc)));
}
BOOL Win32Gdi::DeleteDC(HDC dc) {
  return ::DeleteDC(D(dc));
}
HDC Win32Gdi::GetDC(HWND wnd) {
  return H<HDC>(::GetDC(H<::HWND>(wnd)));
}
int Win32Gdi::ReleaseDC(HWND wnd, HDC dc) {
  return ::ReleaseDC(H<::HWND>(wnd), D(dc));
}
int Win32Gdi::SaveDC(HDC dc) {
  return ::SaveDC(D(dc));
}
BOOL Win32Gdi::RestoreDC(HDC dc, int saved) {
  return ::RestoreDC(D(dc), saved);
}
int Win32Gdi::GetDeviceCaps(HDC dc, int index) {
  return ::GetDeviceCaps(D(dc), index);
}
HGDIOBJ Win32Gdi::SelectObject(HDC dc, HGDIOBJ obj) {
  return H<HGDIOBJ>(::SelectObject(D(dc), G(obj)));
}
HGDIOBJ Win32Gdi::GetCurrentObject(HDC dc, UINT type) {
  return H<HGDIOBJ>(::GetCurrentObject(D(dc), type));
}
BOOL Win32Gdi::DeleteObject(HGDIOBJ obj) {
  return ::DeleteObject(G(obj));
}
int Win32Gdi::GetObject(HGDIOBJ obj, int size, void* out) {
  return ::GetObjectA(G(obj), size, out);
}
DWORD Win32Gdi::GetObjectType(HGDIOBJ obj) {
  return ::GetObjectType(G(obj));
}
HGDIOBJ Win32Gdi::GetStockObject(int index) {
  return H<HGDIOBJ>(::GetStockObject(index));
}
BOOL Win32Gdi::GdiFlush() {
  return ::GdiFlush();
}

// ---- attributes ----

int Win32Gdi::SetStretchBltMode(HDC dc, int mode) {
  return ::SetStretchBltMode(D(dc), mode);
}
int Win32Gdi::GetStretchBltMode(HDC dc) {
  return ::GetStretchBltMode(D(dc));
}
BOOL Win32Gdi::SetBrushOrgEx(HDC dc, int x, int y, POINT* old) {
  return ::SetBrushOrgEx(D(dc), x, y, Pt(old));
}
COLORREF Win32Gdi::SetTextColor(HDC dc, COLORREF color) {
  return ::SetTextColor(D(dc), color);
}
COLORREF Win32Gdi::GetTextColor(HDC dc) {
  return ::GetTextColor(D(dc));
}
COLORREF Win32Gdi::SetBkColor(HDC dc, COLORREF color) {
  return ::SetBkColor(D(dc), color);
}
COLORREF Win32Gdi::GetBkColor(HDC dc) {
  return ::GetBkColor(D(dc));
}
int Win32Gdi::SetBkMode(HDC dc, int mode) {
  return ::SetBkMode(D(dc), mode);
}
int Win32Gdi::SetPolyFillMode(HDC dc, int mode) {
  return ::SetPolyFillMode(D(dc), mode);
}
int Win32Gdi::SetMapMode(HDC dc, int mode) {
  return ::SetMapMode(D(dc), mode);
}
BOOL Win32Gdi::SetWindowOrgEx(HDC dc, int x, int y, POINT* old) {
  return ::SetWindowOrgEx(D(dc), x, y, Pt(old));
}
BOOL Win32Gdi::SetWindowExtEx(HDC dc, int x, int y, SIZE* old) {
  return ::SetWindowExtEx(D(dc), x, y, Sz(old));
}
BOOL Win32Gdi::SetViewportOrgEx(HDC dc, int x, int y, POINT* old) {
  return ::SetViewportOrgEx(D(dc), x, y, Pt(old));
}
BOOL Win32Gdi::SetViewportExtEx(HDC dc, int x, int y, SIZE* old) {
  return ::SetViewportExtEx(D(dc), x, y, Sz(old));
}

// ---- bitmaps ----

HBITMAP Win32Gdi::CreateBitmap(int width, int height, UINT planes, UINT bitCount, const void* bits) {
  return H<HBITMAP>(::CreateBitmap(width, height, planes, bitCount, bits));
}
HBITMAP Win32Gdi::CreateCompatibleBitmap(HDC dc, int width, int height) {
  return H<HBITMAP>(::CreateCompatibleBitmap(D(dc), width, height));
}
HBITMAP Win32Gdi::CreateDIBSection(HDC dc, const BITMAPINFO* bmi, UINT usage, void** bits) {
  return H<HBITMAP>(::CreateDIBSection(D(dc), Bmi(bmi), usage, bits, nullptr, 0));
}
HBITMAP Win32Gdi::CreateDIBitmap(HDC dc, const BITMAPINFOHEADER* header, DWORD init, const void* bits,
                                 const BITMAPINFO* bmi, UINT usage) {
  return H<HBITMAP>(::CreateDIBitmap(D(dc), reinterpret_cast<const ::BITMAPINFOHEADER*>(header), init, bits,
                                     Bmi(bmi), usage));
}
int Win32Gdi::GetDIBits(HDC dc, HBITMAP bmp, UINT start, UINT lines, void* bits, BITMAPINFO* bmi,
                        UINT usage) {
  return ::GetDIBits(D(dc), B(bmp), start, lines, bits, Bmi(bmi), usage);
}
int Win32Gdi::SetDIBits(HDC dc, HBITMAP bmp, UINT start, UINT lines, const void* bits, const BITMAPINFO* bmi,
                        UINT usage) {
  return ::SetDIBits(D(dc), B(bmp), start, lines, bits, Bmi(bmi), usage);
}
UINT Win32Gdi::GetDIBColorTable(HDC dc, UINT start, UINT count, RGBQUAD* colors) {
  return ::GetDIBColorTable(D(dc), start, count, Rq(colors));
}
UINT Win32Gdi::SetDIBColorTable(HDC dc, UINT start, UINT count, const RGBQUAD* colors) {
  return ::SetDIBColorTable(D(dc), start, count, Rq(colors));
}

// ---- transfers ----

BOOL Win32Gdi::BitBlt(HDC dst, int x, int y, int w, int h, HDC src, int xs, int ys, DWORD rop) {
  return ::BitBlt(D(dst), x, y, w, h, D(src), xs, ys, rop);
}
BOOL Win32Gdi::StretchBlt(HDC dst, int x, int y, int w, int h, HDC src, int xs, int ys, int ws, int hs,
                          DWORD rop) {
  return ::StretchBlt(D(dst), x, y, w, h, D(src), xs, ys, ws, hs, rop);
}
BOOL Win32Gdi::PatBlt(HDC dc, int x, int y, int w, int h, DWORD rop) {
  return ::PatBlt(D(dc), x, y, w, h, rop);
}
int Win32Gdi::StretchDIBits(HDC dc, int x, int y, int w, int h, int xs, int ys, int ws, int hs,
                            const void* bits, const BITMAPINFO* bmi, UINT usage, DWORD rop) {
  return ::StretchDIBits(D(dc), x, y, w, h, xs, ys, ws, hs, bits, Bmi(bmi), usage, rop);
}
int Win32Gdi::SetDIBitsToDevice(HDC dc, int x, int y, DWORD w, DWORD h, int xs, int ys, UINT startScan,
                                UINT lines, const void* bits, const BITMAPINFO* bmi, UINT usage) {
  return ::SetDIBitsToDevice(D(dc), x, y, w, h, xs, ys, startScan, lines, bits, Bmi(bmi), usage);
}
COLORREF Win32Gdi::SetPixel(HDC dc, int x, int y, COLORREF color) {
  return ::SetPixel(D(dc), x, y, color);
}
COLORREF Win32Gdi::GetPixel(HDC dc, int x, int y) {
  return ::GetPixel(D(dc), x, y);
}

// ---- palettes ----

HPALETTE Win32Gdi::CreatePalette(const LOGPALETTE* pal) {
  return H<HPALETTE>(::CreatePalette(reinterpret_cast<const ::LOGPALETTE*>(pal)));
}
HPALETTE Win32Gdi::CreateHalftonePalette(HDC dc) {
  return H<HPALETTE>(::CreateHalftonePalette(D(dc)));
}
HPALETTE Win32Gdi::SelectPalette(HDC dc, HPALETTE pal, BOOL forceBackground) {
  return H<HPALETTE>(::SelectPalette(D(dc), Pal(pal), forceBackground));
}
UINT Win32Gdi::RealizePalette(HDC dc) {
  return ::RealizePalette(D(dc));
}
UINT Win32Gdi::GetPaletteEntries(HPALETTE pal, UINT start, UINT count, PALETTEENTRY* entries) {
  return ::GetPaletteEntries(Pal(pal), start, count, Pe(entries));
}
UINT Win32Gdi::SetPaletteEntries(HPALETTE pal, UINT start, UINT count, const PALETTEENTRY* entries) {
  return ::SetPaletteEntries(Pal(pal), start, count, Pe(entries));
}
UINT Win32Gdi::GetSystemPaletteEntries(HDC dc, UINT start, UINT count, PALETTEENTRY* entries) {
  return ::GetSystemPaletteEntries(D(dc), start, count, Pe(entries));
}
UINT Win32Gdi::GetNearestPaletteIndex(HPALETTE pal, COLORREF color) {
  return ::GetNearestPaletteIndex(Pal(pal), color);
}

// ---- pens, brushes, shapes ----

HBRUSH Win32Gdi::CreateSolidBrush(COLORREF color) {
  return H<HBRUSH>(::CreateSolidBrush(color));
}
HBRUSH Win32Gdi::CreateBrushIndirect(const LOGBRUSH* brush) {
  return H<HBRUSH>(::CreateBrushIndirect(reinterpret_cast<const ::LOGBRUSH*>(brush)));
}
HPEN Win32Gdi::CreatePen(int style, int width, COLORREF color) {
  return H<HPEN>(::CreatePen(style, width, color));
}
// ---- text, system colours and control frames (user32 for all but the gdi32 text calls) ----

int Win32Gdi::DrawTextA(HDC dc, const char* text, int count, RECT* rect, UINT format) {
  return ::DrawTextA(D(dc), text, count, reinterpret_cast<::RECT*>(rect), format);
}
BOOL Win32Gdi::GetTextExtentPoint32A(HDC dc, const char* text, int count, SIZE* size) {
  return ::GetTextExtentPoint32A(D(dc), text, count, Sz(size));
}
BOOL Win32Gdi::GetTextMetricsA(HDC dc, TEXTMETRICA* metrics) {
  return ::GetTextMetricsA(D(dc), reinterpret_cast<::TEXTMETRICA*>(metrics));
}
DWORD Win32Gdi::GetSysColor(int index) {
  return ::GetSysColor(index);
}
HBRUSH Win32Gdi::GetSysColorBrush(int index) {
  return H<HBRUSH>(::GetSysColorBrush(index));
}
BOOL Win32Gdi::DrawEdge(HDC dc, RECT* rect, UINT edge, UINT flags) {
  return ::DrawEdge(D(dc), reinterpret_cast<::RECT*>(rect), edge, flags);
}
BOOL Win32Gdi::DrawFrameControl(HDC dc, RECT* rect, UINT type, UINT state) {
  return ::DrawFrameControl(D(dc), reinterpret_cast<::RECT*>(rect), type, state);
}
BOOL Win32Gdi::DrawFocusRect(HDC dc, const RECT* rect) {
  return ::DrawFocusRect(D(dc), reinterpret_cast<const ::RECT*>(rect));
}

int Win32Gdi::FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  return ::FillRect(D(dc), reinterpret_cast<const ::RECT*>(rect), H<::HBRUSH>(brush));
}
BOOL Win32Gdi::Rectangle(HDC dc, int left, int top, int right, int bottom) {
  return ::Rectangle(D(dc), left, top, right, bottom);
}
BOOL Win32Gdi::Ellipse(HDC dc, int left, int top, int right, int bottom) {
  return ::Ellipse(D(dc), left, top, right, bottom);
}
BOOL Win32Gdi::Polygon(HDC dc, const POINT* points, int count) {
  return ::Polygon(D(dc), Pt(points), count);
}
BOOL Win32Gdi::Polyline(HDC dc, const POINT* points, int count) {
  return ::Polyline(D(dc), Pt(points), count);
}
BOOL Win32Gdi::PolyPolygon(HDC dc, const POINT* points, const int* counts, int polygons) {
  return ::PolyPolygon(D(dc), Pt(points), counts, polygons);
}
BOOL Win32Gdi::MoveToEx(HDC dc, int x, int y, POINT* old) {
  return ::MoveToEx(D(dc), x, y, Pt(old));
}
BOOL Win32Gdi::LineTo(HDC dc, int x, int y) {
  return ::LineTo(D(dc), x, y);
}

// ---- icons ----

HICON Win32Gdi::CreateIconFromResourceEx(const BYTE* data, DWORD size, BOOL icon, DWORD version, int cx,
                                         int cy, UINT flags) {
  // The real call takes a non-const pointer but only reads the resource.
  return H<HICON>(::CreateIconFromResourceEx(const_cast<BYTE*>(data), size, icon, version, cx, cy, flags));
}
HICON Win32Gdi::CreateIconIndirect(const ICONINFO* info) {
  return H<HICON>(::CreateIconIndirect(reinterpret_cast<::ICONINFO*>(const_cast<ICONINFO*>(info))));
}
BOOL Win32Gdi::GetIconInfo(HICON icon, ICONINFO* info) {
  return ::GetIconInfo(I(icon), reinterpret_cast<::ICONINFO*>(info));
}
BOOL Win32Gdi::DrawIconEx(HDC dc, int x, int y, HICON icon, int cx, int cy, UINT step, HBRUSH flickerFree,
                          UINT flags) {
  return ::DrawIconEx(D(dc), x, y, I(icon), cx, cy, step, H<::HBRUSH>(flickerFree), flags);
}
BOOL Win32Gdi::DestroyIcon(HICON icon) {
  return ::DestroyIcon(I(icon));
}
HICON Win32Gdi::LoadIcon(HINSTANCE instance, const char* name) {
  return H<HICON>(::LoadIconA(H<::HINSTANCE>(instance), name));
}
int Win32Gdi::GetSystemMetrics(int index) {
  return ::GetSystemMetrics(index);
}

// ---- enhanced metafiles ----

HENHMETAFILE Win32Gdi::SetEnhMetaFileBits(UINT size, const BYTE* data) {
  return H<HENHMETAFILE>(::SetEnhMetaFileBits(size, data));
}
HENHMETAFILE Win32Gdi::SetWinMetaFileBits(UINT size, const BYTE* data, HDC ref, const METAFILEPICT* pict) {
  return H<HENHMETAFILE>(
      ::SetWinMetaFileBits(size, data, D(ref), reinterpret_cast<const ::METAFILEPICT*>(pict)));
}
UINT Win32Gdi::GetEnhMetaFileHeader(HENHMETAFILE emf, UINT size, ENHMETAHEADER* header) {
  // The platform's header is the shorter form; never let the system write past it.
  if (header && size > sizeof(ENHMETAHEADER)) size = sizeof(ENHMETAHEADER);
  return ::GetEnhMetaFileHeader(E(emf), size, reinterpret_cast<::ENHMETAHEADER*>(header));
}
UINT Win32Gdi::GetEnhMetaFileBits(HENHMETAFILE emf, UINT size, BYTE* data) {
  return ::GetEnhMetaFileBits(E(emf), size, data);
}
BOOL Win32Gdi::PlayEnhMetaFile(HDC dc, HENHMETAFILE emf, const RECT* rect) {
  return ::PlayEnhMetaFile(D(dc), E(emf), reinterpret_cast<const ::RECT*>(rect));
}
BOOL Win32Gdi::DeleteEnhMetaFile(HENHMETAFILE emf) {
  return ::DeleteEnhMetaFile(E(emf));
}

}  // namespace plat::win32
