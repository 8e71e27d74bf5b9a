// The one place the Windows headers enter the platform layer. The platform's own headers come first: the
// Windows headers define many of the same names as macros (WM_NULL, SRCCOPY, DDSD_CAPS ...), which would
// otherwise rewrite the platform's constants. The function-name macros that would rename members of the
// service classes (RegisterClass -> RegisterClassA ...) are removed right after. Include this from the
// win32 .cpp files only, and name the real API with a leading :: and the platform with plat::.
#pragma once

#include "platform/Clock.h"
#include "platform/DirectDraw.h"
#include "platform/Gdi.h"
#include "platform/Platform.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "platform/Types.h"
#include "platform/Windows.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// mmsystem.h needs the types windows.h declares.
#include <mmsystem.h>

#undef RegisterClass
#undef UnregisterClass
#undef GetClassInfo
#undef CreateWindowEx
#undef FindWindow
#undef GetClassName
#undef GetWindowLong
#undef SetWindowLong
#undef GetWindowLongPtr
#undef SetWindowLongPtr
#undef SetWindowText
#undef GetWindowText
#undef GetWindowTextLength
#undef SetProp
#undef GetProp
#undef RemoveProp
#undef PostMessage
#undef SendMessage
#undef PeekMessage
#undef GetMessage
#undef DispatchMessage
#undef DefWindowProc
#undef CallWindowProc
#undef MessageBox
#undef AppendMenu
#undef InsertMenu
#undef GetMenuString
#undef GetMenuItemInfo
#undef SetMenuItemInfo
#undef LoadIcon
#undef GetObject
#undef FormatMessage
#undef RegOpenKeyEx
#undef RegCreateKeyEx
#undef RegQueryValueEx
#undef RegSetValueEx
#undef RegDeleteValue
#undef HKEY_CLASSES_ROOT
#undef HKEY_CURRENT_USER
#undef HKEY_LOCAL_MACHINE
#undef HKEY_USERS
#undef HKEY_CURRENT_CONFIG
#undef RGB
#undef GetRValue
#undef GetGValue
#undef GetBValue
#undef PALETTEINDEX
#undef PALETTERGB
#undef SUCCEEDED
#undef FAILED
#undef LOWORD
#undef HIWORD
#undef MAKEWPARAM
#undef MAKELPARAM
#undef MAKEINTRESOURCEA
#undef IDI_APPLICATION
#undef HWND_TOP
#undef HWND_BOTTOM
#undef HWND_TOPMOST
#undef HWND_NOTOPMOST

namespace plat::win32 {

// Handles cross the boundary unchanged: the platform's handle types are opaque pointers of the same size.
template <typename To, typename From>
inline To H(From from) {
  static_assert(sizeof(To) == sizeof(From), "handles have the same size on both sides");
  return reinterpret_cast<To>(from);
}

// Structures the platform declares with the Windows layout; pointers to them pass through as they are.
static_assert(sizeof(plat::RECT) == sizeof(::RECT), "RECT layout");
static_assert(sizeof(plat::POINT) == sizeof(::POINT), "POINT layout");
static_assert(sizeof(plat::SIZE) == sizeof(::SIZE), "SIZE layout");
static_assert(sizeof(plat::MSG) == sizeof(::MSG), "MSG layout");
static_assert(offsetof(plat::MSG, pt) == offsetof(::MSG, pt), "MSG layout");
static_assert(sizeof(plat::CREATESTRUCT) == sizeof(::CREATESTRUCTA), "CREATESTRUCT layout");
static_assert(sizeof(plat::WINDOWPOS) == sizeof(::WINDOWPOS), "WINDOWPOS layout");
static_assert(sizeof(plat::STYLESTRUCT) == sizeof(::STYLESTRUCT), "STYLESTRUCT layout");
static_assert(sizeof(plat::PAINTSTRUCT) == sizeof(::PAINTSTRUCT), "PAINTSTRUCT layout");
static_assert(sizeof(plat::MENUITEMINFO) == sizeof(::MENUITEMINFOA), "MENUITEMINFO layout");
static_assert(sizeof(plat::BITMAPINFOHEADER) == sizeof(::BITMAPINFOHEADER), "BITMAPINFOHEADER layout");
static_assert(sizeof(plat::BITMAPINFO) == sizeof(::BITMAPINFO), "BITMAPINFO layout");
static_assert(sizeof(plat::RGBQUAD) == sizeof(::RGBQUAD), "RGBQUAD layout");
static_assert(sizeof(plat::LOGPALETTE) == sizeof(::LOGPALETTE), "LOGPALETTE layout");
static_assert(sizeof(plat::PALETTEENTRY) == sizeof(::PALETTEENTRY), "PALETTEENTRY layout");
static_assert(sizeof(plat::BITMAP) == sizeof(::BITMAP), "BITMAP layout");
static_assert(sizeof(plat::DIBSECTION) == sizeof(::DIBSECTION), "DIBSECTION layout");
static_assert(sizeof(plat::LOGBRUSH) == sizeof(::LOGBRUSH), "LOGBRUSH layout");
static_assert(sizeof(plat::ICONINFO) == sizeof(::ICONINFO), "ICONINFO layout");
// The platform's header stops before the micrometre extension; the real call copies only the size asked for.
static_assert(offsetof(plat::ENHMETAHEADER, bOpenGL) == offsetof(::ENHMETAHEADER, bOpenGL),
              "ENHMETAHEADER layout");
static_assert(sizeof(plat::METAFILEPICT) == sizeof(::METAFILEPICT), "METAFILEPICT layout");
static_assert(sizeof(plat::TEXTMETRICA) == sizeof(::TEXTMETRICA), "TEXTMETRICA layout");
static_assert(offsetof(plat::TEXTMETRICA, tmFirstChar) == offsetof(::TEXTMETRICA, tmFirstChar),
              "TEXTMETRICA layout");

}  // namespace plat::win32
