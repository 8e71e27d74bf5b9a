// Feeds arbitrary bytes to the PNG reader, then draws whatever was decoded (also after a refusal, since the
// chunks read so far stay) into a small target in each of the three drawing methods, and through the
// 32-bit conversion the icon reader uses.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzPlatform.h"
#include "picture/pngimage/pngimage.h"
#include "platform/MemorySection.h"
#include "platform/Platform.h"

namespace {

plat::soft::SoftPlatform& Platform() {
  return FuzzPlatform();
}

void DrawAll(TPNGObject& image, plat::HDC dc) {
  if (image.IsEmpty()) return;
  TCanvas canvas(dc);
  const TRect rects[] = {Rect(0, 0, 16, 12), Rect(3, 2, 5, 40), Rect(15, 11, 0, 0)};
  for (const TRect& r : rects) {
    try {
      image.DrawGraphic(canvas, r);
      image.DrawOpaque(dc, r);
      image.DrawMasked(dc, r, 0x00FF00);
      image.DrawBlended(dc, r);
    } catch (const Exception&) {
      // Drawing may refuse (a palette entry that does not exist); it must not crash.
    }
  }
  (void)image.PixelAt(image.ImageWidth() - 1, image.ImageHeight() - 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Platform();
  InitPngUnit();
  {
    plat::MemorySection32 target(16, 40);
    TPNGObject image;
    TReadOnlyMemoryStream in(data, size);
    try {
      image.ReadGraphicStream(in);
    } catch (const Exception&) {
      // Every refusal is an exception with a message; anything else escapes and is a finding.
    }
    try {
      DrawAll(image, target.dc());
    } catch (const Exception&) {
    }
  }
  int w = 0, h = 0;
  std::vector<std::uint8_t> bgra;
  (void)DecodePngToBGRA(data, size, w, h, bgra);
  return 0;
}
