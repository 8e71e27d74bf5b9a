// Feeds arbitrary bytes to the soft GDI's metafile reading: as an enhanced metafile and as a Windows
// metafile (with or without a placeable header). Whatever is accepted is played into a small bitmap, both
// at its size and mirrored. Refusal is fine; a crash, hang, leak or out-of-bounds access is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/Gdi.h"
#include "platform/MemorySection.h"
#include "platform/common/SoftGdi.h"

namespace {

plat::soft::SoftGdi& Gdi() {
  static plat::soft::SoftGdi* gdi = [] {
    plat::soft::SoftOptions o;
    o.screenWidth = 64;
    o.screenHeight = 48;
    return new plat::soft::SoftGdi(o);
  }();
  return *gdi;
}

void Play(plat::soft::SoftGdi& g, plat::HENHMETAFILE mf) {
  using namespace plat;
  ENHMETAHEADER h{};
  g.GetEnhMetaFileHeader(mf, sizeof h, &h);
  MemorySection32 target(g, 40, 30);
  const RECT straight{0, 0, 39, 29}, mirrored{39, 29, -5, -3};
  g.PlayEnhMetaFile(target.dc(), mf, &straight);
  g.PlayEnhMetaFile(target.dc(), mf, &mirrored);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  plat::soft::SoftGdi& g = Gdi();
  const std::size_t before = g.LiveObjectCount();
  const auto n = static_cast<plat::UINT>(size);
  if (plat::HENHMETAFILE mf = g.SetEnhMetaFileBits(n, data)) {
    Play(g, mf);
    g.DeleteEnhMetaFile(mf);
  }
  const plat::METAFILEPICT pict{plat::MM_ANISOTROPIC, 1000, 800, nullptr};
  if (plat::HENHMETAFILE mf = g.SetWinMetaFileBits(n, data, nullptr, size % 2 ? &pict : nullptr)) {
    Play(g, mf);
    g.DeleteEnhMetaFile(mf);
  }
  if (g.LiveObjectCount() != before) std::abort();  // an object leaked
  return 0;
}
