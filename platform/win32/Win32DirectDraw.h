// DirectDraw 7 and Direct3D 7 on Windows. The library is loaded at run time; the creation entry points the
// platform receives are adapters that call the real ones and hand out thin wrappers around the real
// IDirectDraw7, surfaces, clippers, palettes, IDirect3D7 and IDirect3DDevice7. The wrappers exist because
// the platform's interfaces use the C++ calling convention where the real ones use the system's; each
// method forwards to the real method of the same name and passes result codes through unchanged. One
// real object has one wrapper at a time, so pointers compare as the real ones do.
#pragma once

#include "platform/DirectDraw.h"

namespace plat::win32 {

class Win32DirectDrawSystem final : public DirectDrawSystem {
 public:
  HMODULE LoadLibraryA(const char* fileName) override;
  // "DirectDrawCreateEx" and "DirectDrawCreate" give the platform-shaped adapters; other names give null,
  // since a real entry point could not be called through the platform's function types.
  FARPROC GetProcAddress(HMODULE module, const char* procName) override;
  BOOL FreeLibrary(HMODULE module) override;
};

}  // namespace plat::win32
