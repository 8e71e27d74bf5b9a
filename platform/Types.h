// Win32-shaped basic types shared by every platform interface and backend. Sizes match the 32-bit Windows
// ABI where a value crosses into stored data or a real API; handles are opaque pointers.
#pragma once

#include <cstdint>

namespace plat {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using BOOL = std::int32_t;
using HRESULT = std::int32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// Distinct opaque handle types, as with STRICT in the Windows headers.
#define PLAT_DECLARE_HANDLE(name) \
  struct name##__;                \
  using name = name##__*
PLAT_DECLARE_HANDLE(HWND);
PLAT_DECLARE_HANDLE(HMENU);
PLAT_DECLARE_HANDLE(HKEY);
PLAT_DECLARE_HANDLE(HDC);
PLAT_DECLARE_HANDLE(HBITMAP);
PLAT_DECLARE_HANDLE(HPALETTE);
PLAT_DECLARE_HANDLE(HICON);
PLAT_DECLARE_HANDLE(HENHMETAFILE);
PLAT_DECLARE_HANDLE(HGDIOBJ);
PLAT_DECLARE_HANDLE(HBRUSH);
PLAT_DECLARE_HANDLE(HPEN);
PLAT_DECLARE_HANDLE(HINSTANCE);
#undef PLAT_DECLARE_HANDLE

struct RECT {
  LONG left, top, right, bottom;
};
struct POINT {
  LONG x, y;
};
struct SIZE {
  LONG cx, cy;
};

inline bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline bool FAILED(HRESULT hr) { return hr < 0; }
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);

// Windows error codes the program and its tests name.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_CANTREAD = 1012;

}  // namespace plat
