// The platform side of TDIB: DIB sections and their device contexts, shared palettes, and drawing.
#include <algorithm>
#include <cstring>

#include "platform/Gdi.h"
#include "platform/Platform.h"
#include "render/DIB.h"

namespace {

TPaletteManager* g_paletteManager = nullptr;

const plat::BITMAPINFO* InfoOf(const std::vector<std::uint8_t>& info) {
  return reinterpret_cast<const plat::BITMAPINFO*>(info.data());
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Palette manager

TPaletteManager& PaletteManager() {
  if (!g_paletteManager) g_paletteManager = new TPaletteManager();
  return *g_paletteManager;
}

void FreePaletteManager() {
  delete g_paletteManager;
  g_paletteManager = nullptr;
}

TPaletteManager::~TPaletteManager() {
  for (auto& e : list_) plat::GdiSvc().DeleteObject(plat::Obj(e.Palette));
}

plat::HPALETTE TPaletteManager::CreatePalette(const TRGBQuad* colors, int count) {
  if (count <= 0 || count > 256) return nullptr;
  std::uint32_t sum = 0;
  for (int i = 0; i < count; ++i) sum += colors[i].rgbRed + colors[i].rgbGreen + colors[i].rgbBlue;
  for (auto& e : list_) {
    if (e.ColorCount == count && e.Sum == sum && std::equal(e.Colors.begin(), e.Colors.end(), colors)) {
      ++e.RefCount;
      return e.Palette;
    }
  }
  // LOGPALETTE with `count` entries; built in 32-bit units so the structure is suitably aligned.
  std::vector<std::uint32_t> buffer(1 + static_cast<std::size_t>(count));
  auto* lp = reinterpret_cast<plat::LOGPALETTE*>(buffer.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<plat::WORD>(count);
  for (int i = 0; i < count; ++i)
    lp->palPalEntry[i] = {colors[i].rgbRed, colors[i].rgbGreen, colors[i].rgbBlue, 0};
  plat::HPALETTE pal = plat::GdiSvc().CreatePalette(lp);
  if (!pal) return nullptr;
  list_.push_back({pal, 1, count, sum, std::vector<TRGBQuad>(colors, colors + count)});
  return pal;
}

void TPaletteManager::DeletePalette(plat::HPALETTE palette) {
  for (auto it = list_.begin(); it != list_.end(); ++it) {
    if (it->Palette != palette) continue;
    if (--it->RefCount == 0) {
      plat::GdiSvc().DeleteObject(plat::Obj(palette));
      list_.erase(it);
    }
    return;
  }
}

// ---------------------------------------------------------------------------------------------------------
// Body handles

void TDIBSharedImage::CreateSection() {
  auto& gdi = plat::GdiSvc();
  plat::HDC dc = gdi.CreateCompatibleDC(nullptr);
  if (!dc) throw EOutOfResources(Format(SCannotMade, "DIB"));
  void* bits = nullptr;
  plat::HBITMAP section = gdi.CreateDIBSection(dc, InfoOf(BitmapInfo), plat::DIB_RGB_COLORS, &bits);
  if (!section || !bits) {
    if (section) gdi.DeleteObject(plat::Obj(section));
    gdi.DeleteDC(dc);
    throw EOutOfResources(Format(SCannotMade, "DIB"));
  }
  DC = dc;
  Section = section;
  OldBitmap = gdi.SelectObject(dc, plat::Obj(section));
  Bits = static_cast<std::uint8_t*>(bits);
  std::memset(Bits, 0, static_cast<std::size_t>(ImageSize));
}

void TDIBSharedImage::FreeSection() {
  if (!DC && !Section) return;
  auto& gdi = plat::GdiSvc();
  if (DC) {
    gdi.SelectObject(DC, OldBitmap);
    gdi.DeleteDC(DC);
  }
  if (Section) gdi.DeleteObject(plat::Obj(Section));
  DC = nullptr;
  Section = nullptr;
  OldBitmap = nullptr;
  if (!MemoryImage) {
    Bits = nullptr;
    TopRow = nullptr;
  }
}

void TDIBSharedImage::ConvertToSection() {
  if (!MemoryImage || ImageSize == 0) return;
  Decompress();
  std::unique_ptr<std::uint8_t[]> pixels = std::move(memory_);
  try {
    CreateSection();
  } catch (...) {
    memory_ = std::move(pixels);
    Bits = memory_.get();
    throw;
  }
  std::memcpy(Bits, pixels.get(), static_cast<std::size_t>(ImageSize));
  MemoryImage = false;
  TopRow = Bits + static_cast<std::size_t>(Height - 1) * static_cast<std::size_t>(Stride);
}

void TDIBSharedImage::ReleasePalette() {
  if (Palette && g_paletteManager) g_paletteManager->DeletePalette(Palette);
  Palette = nullptr;
}

plat::HPALETTE TDIBSharedImage::GetPalette() {
  if (ColorCount == 0) return nullptr;
  if (PaletteDirty || !Palette) {
    ReleasePalette();
    Palette = PaletteManager().CreatePalette(ColorTable.data(), ColorCount);
    PaletteDirty = false;
  }
  return Palette;
}

// ---------------------------------------------------------------------------------------------------------
// Drawing

plat::HPALETTE TDIB::QueryPalette() {
  return image_->GetPalette();
}

void TDIB::StretchToDC(plat::HDC dc, const TRect& dest, const TRect& src) {
  if (IsEmpty()) return;
  image_->Decompress();
  TRect s = src;
  s.Left = std::max(s.Left, 0);
  s.Top = std::max(s.Top, 0);
  s.Right = std::min(s.Right, Width());
  s.Bottom = std::min(s.Bottom, Height());
  if (s.Width() <= 0 || s.Height() <= 0) return;
  // Describe just the source rows as their own bottom-up image, so the source rectangle needs no
  // bottom-up origin convention from the platform.
  std::vector<std::uint8_t> info = image_->BitmapInfo;
  auto* header = reinterpret_cast<plat::BITMAPINFOHEADER*>(info.data());
  header->biHeight = s.Height();
  header->biSizeImage = static_cast<plat::DWORD>(s.Height()) * static_cast<plat::DWORD>(Stride());
  const std::uint8_t* bits =
      image_->Bits + static_cast<std::size_t>(Height() - s.Bottom) * static_cast<std::size_t>(Stride());
  plat::GdiSvc().StretchDIBits(dc, dest.Left, dest.Top, dest.Width(), dest.Height(), s.Left, 0, s.Width(),
                               s.Height(), bits, InfoOf(info), plat::DIB_RGB_COLORS, plat::SRCCOPY);
}

void TDIB::DrawGraphic(TCanvas& ACanvas, const TRect& Rect) {
  if (IsEmpty()) return;
  auto& gdi = plat::GdiSvc();
  plat::HDC dc = ACanvas.Handle();
  plat::HPALETTE oldPalette = nullptr;
  bool paletteSelected = false;
  if (image_->ColorCount > 0) {
    if (plat::HPALETTE pal = image_->GetPalette()) {
      oldPalette = gdi.SelectPalette(dc, pal, 0);
      gdi.RealizePalette(dc);
      paletteSelected = true;
    }
  }
  const int oldMode = gdi.SetStretchBltMode(dc, plat::COLORONCOLOR);
  gdi.GdiFlush();
  auto restore = [&] {
    gdi.SetStretchBltMode(dc, oldMode);
    if (paletteSelected) gdi.SelectPalette(dc, oldPalette, 0);
  };
  try {
    image_->Decompress();
    if (image_->MemoryImage) {
      gdi.StretchDIBits(dc, Rect.Left, Rect.Top, Rect.Width(), Rect.Height(), 0, 0, Width(), Height(),
                        image_->Bits, InfoOf(image_->BitmapInfo), plat::DIB_RGB_COLORS, ACanvas.CopyMode());
    } else {
      gdi.StretchBlt(dc, Rect.Left, Rect.Top, Rect.Width(), Rect.Height(), image_->DC, 0, 0, Width(),
                     Height(), ACanvas.CopyMode());
    }
  } catch (...) {
    restore();
    throw;
  }
  restore();
}

void TDIB::AssignBitmap(const TBitmap& source) {
  auto& bitmap = const_cast<TBitmap&>(source);
  const int w = bitmap.Width(), h = bitmap.Height();
  if (bitmap.Empty() || w <= 0 || h <= 0) {
    Clear();
    return;
  }
  TRGBQuads table{};
  if (plat::HPALETTE pal = bitmap.QueryPalette()) {
    plat::PALETTEENTRY entries[256] = {};
    plat::UINT n = std::min<plat::UINT>(plat::GdiSvc().GetPaletteEntries(pal, 0, 256, entries), 256);
    for (plat::UINT i = 0; i < n; ++i)
      table[i] = {entries[i].peBlue, entries[i].peGreen, entries[i].peRed, 0};
  } else {
    // A bitmap without a palette may still carry its colour table.
    std::vector<std::uint32_t> colors = bitmap.ColorTable();
    for (std::size_t i = 0; i < colors.size() && i < 256; ++i)
      table[i] = {static_cast<std::uint8_t>(colors[i]), static_cast<std::uint8_t>(colors[i] >> 8),
                  static_cast<std::uint8_t>(colors[i] >> 16), 0};
  }
  const int bpp = bitmap.BitsPerPixel();
  TDIBPixelFormat pf = MakeDIBPixelFormat(8, 8, 8);
  if (bpp == 16 && bitmap.HandleType() == bmDDB) {
    pf = MakeDIBPixelFormat(5, 5, 5);
  } else if (bitmap.HandleType() == bmDIB && bpp > 8 && bpp < 24) {
    plat::DWORD r = 0, g = 0, b = 0;
    bitmap.ColorMasks(r, g, b);
    pf = (r | g | b) ? MakeDIBPixelFormatMask(r, g, b) : MakeDIBPixelFormat(5, 5, 5);
  }
  auto img = TDIBSharedImage::Make(w, h, bpp, pf, table, image_->MemoryImage);
  SetImage(img.release());
  Canvas()->Draw(0, 0, &bitmap);
}
