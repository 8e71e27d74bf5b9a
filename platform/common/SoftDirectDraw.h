// The soft DirectDraw and Direct3D 7: everything in memory. The screen (what the primary surface shows) is a
// pixel buffer of the options' size and depth (8, 16 as 5-6-5, 24 or 32 bits); off-screen surfaces live in
// "video" memory (counted against a budget) or "system" memory; the 3D device rasterises textured triangles
// in software. Objects must be released before this service is destroyed.
//
// Behaviour worth knowing:
// - A surface created without a memory caps flag goes to video memory when the budget allows, else to
//   system memory; DDSCAPS_VIDEOMEMORY that does not fit fails with DDERR_OUTOFVIDEOMEMORY. The primary
//   surface shows the screen buffer and is not counted against the budget.
// - Stretch blits take the nearest source pixel: destination pixel i of a span of dw pixels (counted from the
//   unclipped destination rectangle) reads source pixel floor(i * sw / dw) of the source span of sw pixels.
//   Blits between different pixel formats convert through 8-bit channels; colour keys compare raw source
//   values against the key's inclusive range.
// - A clipper bound to a window limits blits to the window's visible client rectangle on the screen: its
//   client area intersected with the client area of every ancestor and with the screen; a hidden window
//   shows nothing. Without a clipper a rectangle outside the surface is DDERR_INVALIDRECT.
// - WaitForVerticalBlank waits for the next 60 Hz refresh strictly after now; with a virtual clock it
//   advances the clock to that moment instead of sleeping.
// - The 3D device samples pixel (x, y) at the vertex-space point (x, y) with the top-left fill rule, filters
//   bilinearly with 8-bit sub-texel weights (texel coordinate u * W - 0.5 rounded to 1/256), and computes
//   modulation as round(a * b / 255) and blending as round((src * Fs + dst * Fd) / 255) per channel, clamped
//   to 255. An axis-aligned quad on a 32-bit target takes a fast path that gives the same pixels.
// - Devices enumerated: "RGB Emulation" (software), "Reference Rasterizer", "Direct3D HAL" and
//   "Direct3D T&L HAL" (hardware rasterisation; only while the driver has 3D hardware, and CreateDevice on
//   them needs a video-memory target). Each renders into 16- and 32-bit targets only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/DirectDraw.h"
#include "platform/Platform.h"
#include "platform/common/SoftOptions.h"

namespace plat::soft {

namespace dd {
struct State;
}

class SoftGdi;

class SoftDirectDraw : public DirectDrawSystem {
 public:
  explicit SoftDirectDraw(const SoftOptions& options);
  ~SoftDirectDraw() override;
  SoftDirectDraw(const SoftDirectDraw&) = delete;
  SoftDirectDraw& operator=(const SoftDirectDraw&) = delete;

  // ---- DirectDrawSystem ----
  // Knows "DDraw.dll" (any letter case, ".dll" optional) with "DirectDrawCreateEx" and "DirectDrawCreate".
  HMODULE LoadLibraryA(const char* fileName) override;
  FARPROC GetProcAddress(HMODULE module, const char* procName) override;
  BOOL FreeLibrary(HMODULE module) override;

  // Creates a DirectDraw object directly (what the entry points do); tests use it without the library.
  HRESULT DirectDrawCreateEx(GUID* guid, void** out, REFIID iid, IUnknown* outer);

  // ---- The screen ----
  int ScreenWidth() const;
  int ScreenHeight() const;
  int ScreenBitCount() const;
  // The screen as 32-bit pixels, row by row from the top: each word 0xFFRRGGBB (bytes blue, green, red,
  // 255 in memory order).
  std::vector<std::uint32_t> ScreenPixels() const;
  std::uint32_t ScreenPixel(int x, int y) const;  // 0xFFRRGGBB; 0 outside the screen
  // Sets every screen pixel to a colour (0xRRGGBB), as the desktop behind the program.
  void FillScreen(std::uint32_t rgb);
  // Makes the soft GDI's screen (what GetDC of no window draws on) these same pixels, so both services show
  // one screen; undone when this service goes. gdi must outlive this object. False when GDI refuses.
  bool ShareScreenWithGdi(SoftGdi& gdi);

  // ---- For a backend that shows the screen on a real display ----
  // The screen's pixels live in memory the caller owns (rows `pitch` bytes apart, at least the screen's own
  // pitch; it must outlive this object), such as memory shared with a display server. Only before any
  // primary surface exists and before ShareScreenWithGdi; false otherwise. The memory's content is kept.
  bool UseScreenMemory(void* bits, int pitch);
  // Called after the primary surface's pixels changed, with the window of the clipper that limited the
  // change (null: none) and the changed screen rectangle, so the backend can show it.
  void SetScreenChangedHook(std::function<void(HWND, const RECT&)> hook);
  // Replaces WaitForVerticalBlank's wait with the display's own (the call still counts the wait).
  void SetVerticalBlankWait(std::function<void()> wait);

  // ---- Library ----
  void SetLibraryAvailable(bool available);
  void SetEntryPointAvailable(const char* name, bool available);
  int LibraryReferences() const;

  // ---- Memory ----
  void SetVideoMemoryBudget(std::size_t bytes);
  std::size_t VideoMemoryBudget() const;
  std::size_t VideoMemoryUsed() const;

  // ---- Fault injection (count: calls still to fail; -1: every call until reset with 0) ----
  // CreateSurface calls whose requested caps contain every bit of capsMask (0: any) fail with result.
  void FailSurfaceCreation(int count, DWORD capsMask = 0, HRESULT result = DDERR_GENERIC);
  // Every primary and video-memory surface reports DDERR_SURFACELOST until restored.
  void LoseAllSurfaces();
  static void LoseSurface(IDirectDrawSurface7* surface);
  void FailRestore(int count);
  // Whether the driver has 3D hardware (DDCAPS_3D, hardware devices enumerated).
  void SetHardware3D(bool present);
  // DDBD_* depths every device renders into (default DDBD_16 | DDBD_32).
  void SetDeviceRenderBitDepths(DWORD ddbdFlags);
  void FailCreateDevice(int count, HRESULT result = DDERR_GENERIC);
  void FailDrawPrimitive(int count, HRESULT result = DDERR_GENERIC);
  // Calls failed by the restore and draw faults so far.
  std::uint64_t FailedRestores() const;
  std::uint64_t FailedDrawPrimitives() const;

  // ---- Rasteriser and statistics ----
  void SetFastPathEnabled(bool enabled);
  // Off: the fast path keeps to the vector width every processor of the family has (same pixels).
  void SetWideVectorsEnabled(bool enabled);
  // Off: wide vectors stay at 256 bits even where the processor has 512-bit ones (same pixels).
  void SetWidestVectorsEnabled(bool enabled);
  // Off: an opaque quad drawn again from an unchanged texture is worked out again instead of being copied
  // from the device's copy of its last result (same pixels).
  void SetQuadResultCacheEnabled(bool enabled);
  std::uint64_t FastPathDraws() const;
  std::uint64_t GeneralPathDraws() const;
  std::uint64_t DrawPrimitiveCalls() const;
  std::uint64_t VerticalBlankWaits() const;
  std::uint64_t PrimaryBlits() const;
  // DirectDraw and Direct3D objects alive; tests use it to find leaks.
  std::size_t LiveObjectCount() const;

 private:
  std::unique_ptr<dd::State> s_;
};

}  // namespace plat::soft
