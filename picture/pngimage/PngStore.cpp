// The header chunk and the image store it owns; the image data chunk that fills the store.
#include <algorithm>
#include <cstring>

#include "picture/pngimage/pngimage.h"
#include "platform/Platform.h"

namespace {

plat::Gdi* GdiOrNull() {
  return plat::CurrentServices().gdi;
}

[[noreturn]] void RaiseOutOfResources() {
  throw EPNGOutMemory(EPngOutMemoryText);
}

// Grey ramp of 2^bits entries through the gamma map, padded with black to `size` entries.
std::vector<plat::PALETTEENTRY> GreyRamp(unsigned bits, unsigned size, const png::TByteMap& gamma) {
  std::vector<plat::PALETTEENTRY> e(size, plat::PALETTEENTRY{0, 0, 0, 0});
  const unsigned n = std::min(1u << bits, size);
  for (unsigned i = 0; i < n; ++i) {
    const std::uint8_t v = png::GreyRampLevel(i, 1u << bits, gamma);
    e[i] = {v, v, v, 0};
  }
  return e;
}

}  // namespace

TChunkIHDR::TChunkIHDR(TPNGObject* AOwner) : TChunk(AOwner) {}

TChunkIHDR::~TChunkIHDR() {
  FreeImageStore();
}

void TChunkIHDR::CopyChunk(const TChunk& Source) {
  if (Source.ClassType() != ClassType()) throw EPngError(EPngCannotAssignChunkText);
  TChunk::CopyChunk(Source);
  const auto& src = static_cast<const TChunkIHDR&>(Source);
  Width = src.Width;
  Height = src.Height;
  BitDepth = src.BitDepth;
  ColorType = src.ColorType;
  CompressionMethod = src.CompressionMethod;
  FilterMethod = src.FilterMethod;
  InterlaceMethod = src.InterlaceMethod;
}

png::THeaderFields TChunkIHDR::Fields() const {
  png::THeaderFields f;
  f.Width = Width;
  f.Height = Height;
  f.BitDepth = BitDepth;
  f.ColorType = ColorType;
  f.CompressionMethod = CompressionMethod;
  f.FilterMethod = FilterMethod;
  f.InterlaceMethod = InterlaceMethod;
  return f;
}

png::TStoreView TChunkIHDR::StoreView() const {
  png::TStoreView v;
  v.bits = StoreBits;
  v.lowBytes = LowBytePlane.empty() ? nullptr : const_cast<std::uint8_t*>(LowBytePlane.data());
  v.alpha = AlphaPlane.empty() ? nullptr : const_cast<std::uint8_t*>(AlphaPlane.data());
  v.rowBytes = StoreRowBytes;
  v.width = StoreBits ? Width : 0;
  v.height = StoreBits ? Height : 0;
  return v;
}

bool TChunkIHDR::ReadChunk(TStream& Stream, const TChunkType& Type, std::uint32_t Length) {
  const bool ok = TChunk::ReadChunk(Stream, Type, Length);
  if (ChunkSize < 13) throw EPngInvalidIHDR(EPngInvalidIHDRText);
  const png::THeaderFields f = png::ParseHeader(ChunkData.data());
  switch (png::CheckHeader(f, ChunkSize)) {
    case png::THeaderProblem::None:
      break;
    case png::THeaderProblem::TooShort:
    case png::THeaderProblem::BadFormat:
      throw EPngInvalidIHDR(EPngInvalidIHDRText);
    case png::THeaderProblem::SizeExceeds:
      throw EPNGSizeExceeds(EPngSizeExceedsText);
    case png::THeaderProblem::UnknownCompression:
      throw EPNGUnknownCompression(EPngUnknownCompressionText);
    case png::THeaderProblem::UnknownInterlace:
      throw EPNGUnknownInterlace(EPngUnknownInterlaceText);
  }
  Width = f.Width;
  Height = f.Height;
  BitDepth = f.BitDepth;
  ColorType = f.ColorType;
  CompressionMethod = f.CompressionMethod;
  FilterMethod = f.FilterMethod;
  InterlaceMethod = f.InterlaceMethod;
  // Only the image's own header (the first chunk) gets a store; a stray second header is kept as data.
  if (Owner->Chunks.Count() > 0 && Owner->Chunks.Item(0) == this) {
    Owner->InterlaceSetting = InterlaceMethod;
    PrepareImageStore();
  }
  return ok;
}

void TChunkIHDR::FreeImageStore() {
  plat::Gdi* gdi = GdiOrNull();
  if (gdi) {
    if (StoreContext) {
      if (oldBitmap_) gdi->SelectObject(StoreContext, oldBitmap_);
      if (oldPalette_) gdi->SelectPalette(StoreContext, oldPalette_, 0);
      gdi->DeleteDC(StoreContext);
    }
    if (StoreBitmap) gdi->DeleteObject(plat::Obj(StoreBitmap));
    if (StorePalette) gdi->DeleteObject(plat::Obj(StorePalette));
  }
  if (Owner && StoreContext && Owner->ImageCanvas.HandleAllocated()) Owner->ImageCanvas.SetHandle(nullptr);
  StoreContext = nullptr;
  StoreBitmap = nullptr;
  StorePalette = nullptr;
  oldBitmap_ = nullptr;
  oldPalette_ = nullptr;
  StoreBits = nullptr;
  ownBits_.clear();
  ownBits_.shrink_to_fit();
  AlphaPlane.clear();
  AlphaPlane.shrink_to_fit();
  LowBytePlane.clear();
  LowBytePlane.shrink_to_fit();
}

void TChunkIHDR::PrepareImageStore() {
  FreeImageStore();
  std::memset(&StoreInfo, 0, sizeof StoreInfo);

  const unsigned storeBits = png::StoreBitsPerPixel(ColorType, BitDepth);
  UsesPalette = png::StoreUsesPalette(ColorType, BitDepth);
  StoreInfo.bmiHeader.biSize = sizeof(plat::BITMAPINFOHEADER);
  StoreInfo.bmiHeader.biWidth = static_cast<plat::LONG>(Width);
  StoreInfo.bmiHeader.biHeight = static_cast<plat::LONG>(Height);
  StoreInfo.bmiHeader.biPlanes = 1;
  StoreInfo.bmiHeader.biBitCount = static_cast<plat::WORD>(storeBits);
  StoreInfo.bmiHeader.biCompression = plat::BI_RGB;
  StoreRowBytes = png::StoreRowBytesFor(storeBits, Width);
  if (storeBits == 0 || Width == 0 || Height == 0) throw EPngInvalidIHDR(EPngInvalidIHDRText);

  // Refuse before allocating anything a header alone cannot justify.
  std::size_t bitsBytes = 0, alphaBytes = 0, lowBytes = 0, total = 0;
  const bool hasAlpha = ColorType == 4 || ColorType == 6;
  if (!CheckedMul(StoreRowBytes, Height, bitsBytes) || (hasAlpha && !CheckedMul(Width, Height, alphaBytes)) ||
      !CheckedAdd(bitsBytes, alphaBytes, total) || (BitDepth == 16 && !CheckedAdd(total, bitsBytes, total)) ||
      total > png::kMaxStoreBytes)
    RaiseOutOfResources();
  if (BitDepth == 16) lowBytes = bitsBytes;
  AlphaPlane.assign(alphaBytes, 0);
  LowBytePlane.assign(lowBytes, 0);

  plat::Gdi* gdi = GdiOrNull();
  std::vector<plat::PALETTEENTRY> entries;
  if (UsesPalette) {
    const unsigned size = 1u << storeBits;
    if (ColorType == 3) {
      entries.assign(size, plat::PALETTEENTRY{0, 0, 0, 0});
      if (gdi) {
        plat::HDC screen = gdi->GetDC(nullptr);
        plat::HPALETTE halftone = gdi->CreateHalftonePalette(screen);
        gdi->ReleaseDC(nullptr, screen);
        if (halftone) {
          gdi->GetPaletteEntries(halftone, 0, size, entries.data());
          gdi->DeleteObject(plat::Obj(halftone));
        }
      }
    } else {
      entries = GreyRamp(BitDepth == 16 ? 8 : BitDepth, size, Owner->GammaMap);
    }
    for (unsigned i = 0; i < size; ++i)
      StoreInfo.bmiColors[i] = {entries[i].peBlue, entries[i].peGreen, entries[i].peRed, 0};
    StoreInfo.bmiHeader.biClrUsed = size;
  }

  if (!gdi) {
    ownBits_.assign(bitsBytes, 0);
    StoreBits = ownBits_.data();
    return;
  }

  plat::HDC screen = gdi->GetDC(nullptr);
  StoreContext = gdi->CreateCompatibleDC(screen);
  gdi->ReleaseDC(nullptr, screen);
  if (!StoreContext) RaiseOutOfResources();
  Owner->ImageCanvas.SetHandle(StoreContext);
  if (UsesPalette) {
    std::vector<std::uint8_t> buf(sizeof(plat::LOGPALETTE) + sizeof(plat::PALETTEENTRY) * entries.size());
    auto* lp = reinterpret_cast<plat::LOGPALETTE*>(buf.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = static_cast<plat::WORD>(entries.size());
    std::memcpy(lp->palPalEntry, entries.data(), sizeof(plat::PALETTEENTRY) * entries.size());
    StorePalette = gdi->CreatePalette(lp);
    if (StorePalette) {
      oldPalette_ = gdi->SelectPalette(StoreContext, StorePalette, 0);
      gdi->RealizePalette(StoreContext);
    }
  }
  void* bits = nullptr;
  StoreBitmap = gdi->CreateDIBSection(StoreContext, StoreBitmapInfo(), plat::DIB_RGB_COLORS, &bits);
  // A store the platform cannot make must stop the load: nothing may be written into a missing store.
  if (!StoreBitmap || !bits) RaiseOutOfResources();
  oldBitmap_ = gdi->SelectObject(StoreContext, plat::Obj(StoreBitmap));
  StoreBits = static_cast<std::uint8_t*>(bits);
  std::memset(StoreBits, 0, bitsBytes);
}

// ---------------------------------------------------------------------------------------------------------

void TPNGObject::InstallPalette(const plat::PALETTEENTRY* Entries, unsigned Count) {
  TChunkIHDR& h = HeaderChunk();
  if (!h.UsesPalette || Count == 0) return;
  Count = std::min(Count, 256u);
  if (plat::Gdi* gdi = GdiOrNull(); gdi && h.StoreContext) {
    std::vector<std::uint8_t> buf(sizeof(plat::LOGPALETTE) + sizeof(plat::PALETTEENTRY) * Count);
    auto* lp = reinterpret_cast<plat::LOGPALETTE*>(buf.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = static_cast<plat::WORD>(Count);
    std::memcpy(lp->palPalEntry, Entries, sizeof(plat::PALETTEENTRY) * Count);
    plat::HPALETTE pal = gdi->CreatePalette(lp);
    if (pal) {
      ReplacePalette(pal);
      return;
    }
  }
  for (unsigned i = 0; i < Count; ++i)
    h.StoreInfo.bmiColors[i] = {Entries[i].peBlue, Entries[i].peGreen, Entries[i].peRed, 0};
  h.StoreInfo.bmiHeader.biClrUsed = Count;
}

void TPNGObject::ReplacePalette(plat::HPALETTE Value) {
  plat::Gdi* gdi = GdiOrNull();
  if (!Value || !gdi) return;
  TChunkIHDR* h = Chunks.Find<TChunkIHDR>();
  if (!h || h != (Chunks.Count() ? Chunks.Item(0) : nullptr) || !h->UsesPalette || !h->StoreContext) {
    gdi->DeleteObject(plat::Obj(Value));
    return;
  }
  plat::WORD count = 0;
  gdi->GetObject(plat::Obj(Value), sizeof count, &count);
  const unsigned n = std::min<unsigned>(count, 256);
  std::array<plat::PALETTEENTRY, 256> e{};
  gdi->GetPaletteEntries(Value, 0, n, e.data());
  for (unsigned i = 0; i < n; ++i) h->StoreInfo.bmiColors[i] = {e[i].peBlue, e[i].peGreen, e[i].peRed, 0};
  h->StoreInfo.bmiHeader.biClrUsed = n;
  // Keep the section's own table in step, so the store context shows the same colours as StoreInfo.
  const unsigned tableSize = 1u << h->StoreBitsPerPixel();
  gdi->SetDIBColorTable(h->StoreContext, 0, std::min(n, tableSize), h->StoreInfo.bmiColors);
  plat::HPALETTE previous = gdi->SelectPalette(h->StoreContext, Value, 0);
  gdi->RealizePalette(h->StoreContext);
  if (h->StorePalette) {
    gdi->DeleteObject(plat::Obj(h->StorePalette));
  }
  (void)previous;
  h->StorePalette = Value;
  SetPaletteModified(true);
}

// ---------------------------------------------------------------------------------------------------------

bool TChunkIDAT::ReadChunk(TStream& Stream, const TChunkType& Type, std::uint32_t Length) {
  ChunkType = Type;
  TChunkIHDR& h = Owner->HeaderChunk();
  if (!h.StoreBits) throw EPngInvalidIHDR(EPngInvalidIHDRText);
  if (h.UsesPalette && (h.ColorType == 0 || h.ColorType == 4)) {
    // Gamma read after the header applies to the grey levels as well.
    const unsigned bits = h.StoreBitsPerPixel();
    const auto ramp = GreyRamp(bits, 1u << bits, Owner->GammaMap);
    Owner->InstallPalette(ramp.data(), static_cast<unsigned>(ramp.size()));
  }
  png::DecodeImageData(Stream, Length, h.Fields(), Owner->GammaMap, h.StoreView());
  return true;
}
