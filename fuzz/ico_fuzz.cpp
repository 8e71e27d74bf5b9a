// Feeds arbitrary bytes to the icon reader, makes the icon's handle for two requested sizes and draws it.
#include <cstddef>
#include <cstdint>

#include "FuzzPlatform.h"
#include "picture/Graphics.h"
#include "platform/Platform.h"

namespace {

plat::soft::SoftPlatform& Platform() {
  static auto* platform = [] {
    auto* p = &FuzzPlatform();
    InitGraphicsUnit();
    return p;
  }();
  return *platform;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Platform();
  TBitmap target;
  target.SetPixelFormat(pf32bit);
  target.SetSize(48, 48);
  for (int requested : {0, 16}) {
    TIcon icon;
    icon.SetRequestedSize(requested, requested);
    try {
      TReadOnlyMemoryStream s(data, size);
      icon.LoadFromStream(s);
      target.Canvas().Draw(0, 0, &icon);
      target.Canvas().StretchDraw(Rect(3, 3, 40, 40), &icon);
    } catch (const Exception&) {
    }
  }
  return 0;
}
