// Feeds arbitrary bytes to the bitmap reader and, when it accepts them, draws the result at its own size,
// stretched, and through the transparency mask, then writes it back out.
#include <cstddef>
#include <cstdint>

#include "FuzzPlatform.h"
#include "picture/BitmapImage.h"
#include "picture/Graphics.h"
#include "platform/Gdi.h"
#include "platform/Platform.h"

namespace {

plat::soft::SoftPlatform& Platform() {
  static auto* platform = [] {
    auto* p = &FuzzPlatform();
    InitGraphicsUnit();
    SetMaxBitmapBytes(std::size_t{4} << 20);  // keeps each run quick; larger pictures are refused
    return p;
  }();
  return *platform;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Platform();
  plat::Gdi& gdi = plat::GdiSvc();
  TBitmap target;
  target.SetPixelFormat(pf32bit);
  target.SetSize(24, 24);
  TBitmap b;
  try {
    TReadOnlyMemoryStream s(data, size);
    b.LoadFromStream(s);
  } catch (const Exception&) {
    return 0;
  }
  try {
    TCanvas& c = target.Canvas();
    c.Draw(0, 0, &b);
    c.StretchDraw(Rect(1, 2, 20, 9), &b);
    b.SetTransparent(true);
    c.StretchDraw(Rect(0, 0, 24, 24), &b);
    TMemoryStream out;
    b.SaveToStream(out);
    if (!b.Empty()) (void)b.ScanLine(b.Height() - 1);
  } catch (const Exception&) {
  }
  gdi.GdiFlush();
  return 0;
}
