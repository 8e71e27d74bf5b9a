#include <algorithm>
#include <cstring>
#include <limits>

#include "core/Consts.h"
#include "picture/BitmapImage.h"
#include "platform/Platform.h"
#include "platform/System.h"

using namespace plat;

namespace {

constexpr const char* SUnsupportedClipboard = "Unsupported clipboard format";

bool GdiInstalled() {
  return CurrentServices().gdi != nullptr;
}

// The screen's device context for the duration of a scope.
class ScreenDC {
 public:
  ScreenDC() : dc_(GdiSvc().GetDC(nullptr)) {}
  ~ScreenDC() {
    if (dc_) GdiSvc().ReleaseDC(nullptr, dc_);
  }
  ScreenDC(const ScreenDC&) = delete;
  ScreenDC& operator=(const ScreenDC&) = delete;
  HDC dc() const { return dc_; }

 private:
  HDC dc_;
};

// A memory device context with one bitmap (and optionally a palette) selected, undone at scope end.
class MemoryDC {
 public:
  explicit MemoryDC(HBITMAP bmp, HPALETTE pal = nullptr) {
    Gdi& gdi = GdiSvc();
    dc_ = gdi.CreateCompatibleDC(nullptr);
    if (dc_ && bmp) oldBmp_ = gdi.SelectObject(dc_, Obj(bmp));
    if (dc_ && pal) {
      oldPal_ = gdi.SelectPalette(dc_, pal, TRUE_);
      gdi.RealizePalette(dc_);
    }
  }
  ~MemoryDC() {
    if (!dc_) return;
    Gdi& gdi = GdiSvc();
    if (oldPal_) gdi.SelectPalette(dc_, oldPal_, TRUE_);
    if (oldBmp_) gdi.SelectObject(dc_, oldBmp_);
    gdi.DeleteDC(dc_);
  }
  MemoryDC(const MemoryDC&) = delete;
  MemoryDC& operator=(const MemoryDC&) = delete;
  HDC dc() const { return dc_; }

 private:
  static constexpr BOOL TRUE_ = 1;
  HDC dc_ = nullptr;
  HGDIOBJ oldBmp_ = nullptr;
  HPALETTE oldPal_ = nullptr;
};

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

HPALETTE PaletteFromColors(const std::vector<RGBQUAD>& colors) {
  if (colors.empty()) return nullptr;
  const std::size_t n = std::min<std::size_t>(colors.size(), 256);
  std::vector<std::uint8_t> buf(sizeof(LOGPALETTE) + n * sizeof(PALETTEENTRY));
  auto* lp = reinterpret_cast<LOGPALETTE*>(buf.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(n);
  for (std::size_t i = 0; i < n; ++i)
    lp->palPalEntry[i] = PALETTEENTRY{colors[i].rgbRed, colors[i].rgbGreen, colors[i].rgbBlue, 0};
  return GdiSvc().CreatePalette(lp);
}

std::vector<PALETTEENTRY> PaletteEntries(HPALETTE pal) {
  if (!pal) return {};
  WORD count = 0;
  if (GdiSvc().GetObject(Obj(pal), sizeof count, &count) == 0 || count == 0) return {};
  std::vector<PALETTEENTRY> entries(count);
  const UINT got = GdiSvc().GetPaletteEntries(pal, 0, count, entries.data());
  entries.resize(std::min<std::size_t>(got, count));
  return entries;
}

HPALETTE CopyPalette(HPALETTE pal) {
  std::vector<PALETTEENTRY> entries = PaletteEntries(pal);
  if (entries.empty()) return nullptr;
  std::vector<RGBQUAD> colors;
  for (const auto& e : entries) colors.push_back(RGBQUAD{e.peBlue, e.peGreen, e.peRed, 0});
  return PaletteFromColors(colors);
}

// A BITMAPINFO (40-byte header, then masks or colour table) for making a section.
std::vector<std::uint8_t> MakeBitmapInfo(int width, int height, int bitCount, bool bitFields,
                                         const DWORD masks[3], const std::vector<RGBQUAD>& colors) {
  const std::size_t ncolors = bitFields ? 0 : std::min<std::size_t>(colors.size(), 256);
  std::vector<std::uint8_t> buf(sizeof(BITMAPINFOHEADER) +
                                std::max<std::size_t>(3, ncolors) * sizeof(RGBQUAD));
  auto* bmi = reinterpret_cast<BITMAPINFO*>(buf.data());
  BITMAPINFOHEADER& h = bmi->bmiHeader;
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(bitCount);
  h.biCompression = bitFields ? BI_BITFIELDS : BI_RGB;
  h.biClrUsed = static_cast<DWORD>(ncolors);
  if (bitFields)
    std::memcpy(buf.data() + sizeof(BITMAPINFOHEADER), masks, 3 * sizeof(DWORD));
  else if (ncolors)
    std::memcpy(buf.data() + sizeof(BITMAPINFOHEADER), colors.data(), ncolors * sizeof(RGBQUAD));
  return buf;
}

// Raised when the platform refuses to make a bitmap: its error when it reports one, else the bitmap is bad.
[[noreturn]] void CreationFailed() {
  const DWORD code = Sys().GetLastError();
  if (code != ERROR_SUCCESS) RaiseLastOSError(code);
  throw EInvalidGraphic(SInvalidBitmap);
}

std::vector<RGBQUAD> DefaultColors(int bitCount) {
  std::vector<RGBQUAD> c;
  if (bitCount == 1) {
    c = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
  } else if (bitCount == 4) {
    static const std::uint32_t vga[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                          0x008080, 0x808080, 0xC0C0C0, 0xFF0000, 0x00FF00, 0xFFFF00,
                                          0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};  // as 0xRRGGBB
    for (std::uint32_t v : vga)
      c.push_back(RGBQUAD{static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16), 0});
  } else if (bitCount == 8) {
    ScreenDC screen;
    HPALETTE ht = GdiSvc().CreateHalftonePalette(screen.dc());
    for (const auto& e : PaletteEntries(ht)) c.push_back(RGBQUAD{e.peBlue, e.peGreen, e.peRed, 0});
    if (ht) GdiSvc().DeleteObject(Obj(ht));
    c.resize(256, RGBQUAD{0, 0, 0, 0});
  }
  return c;
}

int BitsOf(TPixelFormat pf) {
  switch (pf) {
    case pf1bit:
      return 1;
    case pf4bit:
      return 4;
    case pf8bit:
      return 8;
    case pf15bit:
    case pf16bit:
      return 16;
    case pf24bit:
      return 24;
    case pf32bit:
      return 32;
    default: {
      ScreenDC screen;
      const int bits =
          GdiSvc().GetDeviceCaps(screen.dc(), BITSPIXEL) * GdiSvc().GetDeviceCaps(screen.dc(), PLANES);
      return (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24) ? bits : 32;
    }
  }
}

}  // namespace

namespace {
std::size_t g_maxBitmapBytes = std::size_t{256} << 20;
}

std::size_t MaxBitmapBytes() {
  return g_maxBitmapBytes;
}
void SetMaxBitmapBytes(std::size_t Bytes) {
  g_maxBitmapBytes = Bytes;
}

// ---------------------------------------------------------------------------------------------------------
// The body

void TBitmapImage::FreeHandle() {
  if (!GdiInstalled()) return;
  if (Handle) GdiSvc().DeleteObject(Obj(Handle));
  if (Palette && OwnPalette) GdiSvc().DeleteObject(Obj(Palette));
  Handle = nullptr;
  Palette = nullptr;
  Bits = nullptr;
}

// ---------------------------------------------------------------------------------------------------------
// Reading the file layout

bool BitmapHeaderUsable(const BITMAPINFOHEADER& h) {
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == std::numeric_limits<LONG>::min()) return false;
  if (h.biPlanes != 1) return false;
  const int bits = h.biBitCount;
  switch (h.biCompression) {
    case BI_RGB:
      if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
      break;
    case BI_BITFIELDS:
      if (bits != 16 && bits != 32) return false;
      break;
    case BI_RLE8:
      if (bits != 8 || h.biHeight < 0) return false;
      break;
    case BI_RLE4:
      if (bits != 4 || h.biHeight < 0) return false;
      break;
    default:
      return false;
  }
  const std::size_t stride = DibStride(h.biWidth, bits);
  const std::size_t rows =
      static_cast<std::size_t>(h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight) : h.biHeight);
  std::size_t total = 0, pixels = 0, deviceBytes = 0;
  if (stride == 0 || !CheckedMul(stride, rows, total) || total > MaxBitmapBytes()) return false;
  // A compressed bitmap becomes a screen-format bitmap of up to four bytes per pixel.
  if (!CheckedMul(static_cast<std::size_t>(h.biWidth), rows, pixels) || !CheckedMul(pixels, 4, deviceBytes) ||
      deviceBytes > MaxBitmapBytes())
    return false;
  return true;
}

bool ReadBitmapLayout(TStream& Stream, TBitmapFileLayout& L) {
  L = TBitmapFileLayout();
  if (Stream.Remaining() == 0) return false;

  const std::int64_t start = Stream.GetPosition();
  BITMAPFILEHEADER fh;
  Stream.ReadBuffer(&fh, sizeof fh);
  if (fh.bfType != BFT_BITMAP) throw EInvalidGraphic(SInvalidBitmap);

  const std::uint32_t headerSize = Stream.ReadValue<std::uint32_t>();
  L.StoredHeaderSize = headerSize;
  BITMAPINFOHEADER& h = L.Header;
  std::vector<std::uint8_t> raw;  // the header after its size field, as stored
  const bool core = headerSize == sizeof(BITMAPCOREHEADER);
  if (core) {
    raw.resize(sizeof(BITMAPCOREHEADER) - 4);
    Stream.ReadBuffer(raw.data(), raw.size());
    BITMAPCOREHEADER c;
    std::memcpy(&c.bcWidth, raw.data(), raw.size());
    h.biWidth = c.bcWidth;
    h.biHeight = c.bcHeight;
    h.biPlanes = c.bcPlanes;
    h.biBitCount = c.bcBitCount;
  } else {
    // Shorter headers than the 40-byte one leave the fields they lack at zero; a header must at least reach
    // the bit count.
    if (headerSize < 16) throw EInvalidGraphic(SInvalidBitmap);
    if (static_cast<std::int64_t>(headerSize) - 4 > Stream.Remaining()) throw EReadError(SReadError);
    raw.resize(headerSize - 4);
    Stream.ReadBuffer(raw.data(), raw.size());
    std::memcpy(reinterpret_cast<std::uint8_t*>(&h) + 4, raw.data(),
                std::min<std::size_t>(raw.size(), sizeof(BITMAPINFOHEADER) - 4));
  }
  h.biSize = sizeof(BITMAPINFOHEADER);

  // Compressed bitmaps are kept whole in memory and read on from there.
  std::unique_ptr<TReadOnlyMemoryStream> kept;
  TStream* S = &Stream;
  if (h.biCompression != BI_RGB && h.biCompression != BI_BITFIELDS) {
    const std::int64_t rest = Stream.Remaining();
    std::size_t total = 0;
    if (!CheckedAdd(sizeof fh + 4 + raw.size(), static_cast<std::size_t>(rest), total) ||
        total > std::numeric_limits<std::uint32_t>::max())
      throw EInvalidGraphic(SInvalidBitmap);
    L.Compressed.resize(total);
    BITMAPFILEHEADER rebuilt = fh;
    rebuilt.bfSize = static_cast<DWORD>(total);
    std::memcpy(L.Compressed.data(), &rebuilt, sizeof rebuilt);
    std::memcpy(L.Compressed.data() + sizeof rebuilt, &headerSize, 4);
    std::memcpy(L.Compressed.data() + sizeof rebuilt + 4, raw.data(), raw.size());
    Stream.ReadBuffer(L.Compressed.data() + sizeof rebuilt + 4 + raw.size(), static_cast<std::size_t>(rest));
    kept = std::make_unique<TReadOnlyMemoryStream>(L.Compressed.data(), L.Compressed.size());
    kept->SetPosition(static_cast<std::int64_t>(sizeof rebuilt + 4 + raw.size()));
    S = kept.get();
  }

  if (h.biPlanes != 1) throw EInvalidGraphic(SInvalidBitmap);

  if (h.biCompression == BI_BITFIELDS && (h.biBitCount == 16 || h.biBitCount == 32)) {
    L.BitFields = true;
    if (raw.size() >= 48) {  // masks inside a version 4 or 5 header
      for (int i = 0; i < 3; ++i) L.Masks[i] = Le32(raw.data() + 36 + 4 * i);
    } else {
      S->ReadBuffer(L.Masks, sizeof L.Masks);
    }
  }

  std::uint32_t ncolors = h.biClrUsed;
  if (ncolors == 0 && h.biBitCount <= 8 && (h.biBitCount == 1 || h.biBitCount == 4 || h.biBitCount == 8))
    ncolors = 1u << h.biBitCount;
  const std::size_t entrySize = core ? sizeof(RGBTRIPLE) : sizeof(RGBQUAD);
  if (static_cast<std::uint64_t>(ncolors) * entrySize > static_cast<std::uint64_t>(S->Remaining()))
    throw EReadError(SReadError);
  std::vector<std::uint8_t> table(ncolors * entrySize);
  S->ReadBuffer(table.data(), table.size());
  L.Colors.resize(ncolors);
  for (std::size_t i = 0; i < ncolors; ++i) {
    const std::uint8_t* e = table.data() + i * entrySize;
    L.Colors[i] = RGBQUAD{e[0], e[1], e[2], 0};
  }
  // A gap between the colour table and the pixels is skipped when the file header says where they start;
  // an offset into the headers or past the end is a writer's slip, and the pixels follow the table.
  const std::int64_t pixelsAt = (kept ? 0 : start) + static_cast<std::int64_t>(fh.bfOffBits);
  if (pixelsAt > S->GetPosition() && pixelsAt < S->GetSize()) S->SetPosition(pixelsAt);

  std::uint64_t imageSize = h.biSizeImage;
  if (imageSize == 0) {
    const std::uint64_t rows = h.biHeight < 0
                                   ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(h.biHeight))
                                   : static_cast<std::uint64_t>(h.biHeight);
    imageSize = static_cast<std::uint64_t>(DibStride(h.biWidth, h.biBitCount)) * rows;
  }
  imageSize = std::min<std::uint64_t>(imageSize, static_cast<std::uint64_t>(S->Remaining()));
  h.biSizeImage = static_cast<DWORD>(std::min<std::uint64_t>(imageSize, 0xFFFFFFFFu));
  if (kept) L.CompressedBitsOffset = static_cast<std::size_t>(kept->GetPosition());
  return true;
}

// ---------------------------------------------------------------------------------------------------------
// The bitmap's own canvas: a memory DC with the bitmap selected, made on demand.

class TBitmapCanvas : public TCanvas {
 public:
  explicit TBitmapCanvas(TBitmap* Owner) : bitmap_(Owner) {}
  ~TBitmapCanvas() override { FreeContext(); }
  void FreeContext() {
    if (!HandleAllocated() || !GdiInstalled()) return;
    Gdi& gdi = GdiSvc();
    HDC dc = Handle();
    if (oldPal_) gdi.SelectPalette(dc, oldPal_, 1);
    if (oldBmp_) gdi.SelectObject(dc, oldBmp_);
    gdi.DeleteDC(dc);
    SetHandle(nullptr);
    oldPal_ = nullptr;
    oldBmp_ = nullptr;
  }

 protected:
  void CreateHandle() override {
    Gdi& gdi = GdiSvc();
    HDC dc = gdi.CreateCompatibleDC(nullptr);
    if (!dc) return;
    TBitmapImage* img = bitmap_->image_;
    if (img && img->Handle) oldBmp_ = gdi.SelectObject(dc, Obj(img->Handle));
    if (HPALETTE pal = bitmap_->QueryPalette()) {
      oldPal_ = gdi.SelectPalette(dc, pal, 1);
      gdi.RealizePalette(dc);
    }
    SetHandle(dc);
  }

 private:
  TBitmap* bitmap_;
  HGDIOBJ oldBmp_ = nullptr;
  HPALETTE oldPal_ = nullptr;
};

// ---------------------------------------------------------------------------------------------------------
// TBitmap

TBitmap::TBitmap() {
  auto* img = new TBitmapImage();
  img->Format = pfDevice;
  img->HandleType = bmDIB;
  SetImage(img);
}

TBitmap::~TBitmap() {
  canvas_.reset();
  if (image_) image_->Release();
}

void TBitmap::SetImage(TBitmapImage* NewImage) {
  NewImage->Reference();
  if (canvas_) static_cast<TBitmapCanvas*>(canvas_.get())->FreeContext();
  if (image_) image_->Release();
  image_ = NewImage;
}

void TBitmap::Assign(const TGraphic* Source) {
  if (Source == nullptr) {
    auto* img = new TBitmapImage();
    img->Format = image_->Format;
    img->HandleType = image_->HandleType;
    SetImage(img);
    NotifyChanged();
    return;
  }
  if (Source->InheritsFrom(TBitmap::StaticClass())) {
    if (Source == this) return;
    const auto* src = static_cast<const TBitmap*>(Source);
    SetImage(src->image_);
    transparent_ = src->transparent_;
    transparentColor_ = src->transparentColor_;
    transparentMode_ = src->transparentMode_;
    NotifyChanged();
    return;
  }
  TGraphic::Assign(Source);
}

bool TBitmap::IsEmpty() const {
  return image_ == nullptr || image_->Empty();
}
int TBitmap::ImageWidth() const {
  return image_ ? image_->Width : 0;
}
int TBitmap::ImageHeight() const {
  return image_ ? image_->Height : 0;
}

plat::HPALETTE TBitmap::QueryPalette() {
  if (!image_) return nullptr;
  // An indexed section's colour table serves as its palette; made the first time it is asked for.
  if (!image_->Palette && image_->IsDIB && image_->BitCount <= 8 && !image_->Colors.empty()) {
    image_->Palette = PaletteFromColors(image_->Colors);
    image_->OwnPalette = true;
  }
  return image_->Palette;
}

void TBitmap::ReplacePalette(plat::HPALETTE Value) {
  if (Value == image_->Palette) return;
  Unshare();
  if (image_->Palette && image_->OwnPalette) GdiSvc().DeleteObject(Obj(image_->Palette));
  image_->Palette = Value;
  image_->OwnPalette = true;
  if (Value && image_->IsDIB && image_->BitCount <= 8) {
    std::vector<PALETTEENTRY> entries = PaletteEntries(Value);
    entries.resize(std::min<std::size_t>(entries.size(), std::size_t{1} << image_->BitCount));
    std::vector<RGBQUAD> colors;
    for (const auto& e : entries) colors.push_back(RGBQUAD{e.peBlue, e.peGreen, e.peRed, 0});
    if (!colors.empty()) {
      if (canvas_) static_cast<TBitmapCanvas*>(canvas_.get())->FreeContext();
      MemoryDC mem(image_->Handle);
      GdiSvc().SetDIBColorTable(mem.dc(), 0, static_cast<UINT>(colors.size()), colors.data());
      image_->Colors = colors;
    }
  }
  SetPaletteModified(Value != nullptr);
  NotifyChanged();
}

void TBitmap::ResizeWidth(int Value) {
  SetSize(Value, ImageHeight());
}
void TBitmap::ResizeHeight(int Value) {
  SetSize(ImageWidth(), Value);
}

void TBitmap::SetSize(int AWidth, int AHeight) {
  if (AWidth == ImageWidth() && AHeight == ImageHeight()) return;
  NewImage(AWidth, AHeight, PixelFormat(), HandleType());
  NotifyChanged();
}

void TBitmap::NewImage(int W, int H, TPixelFormat Format, TBitmapHandleType Type) {
  if (canvas_) static_cast<TBitmapCanvas*>(canvas_.get())->FreeContext();  // the old bitmap is copied below
  TBitmapImage* old = image_;
  old->Reference();  // kept alive while its pixels are copied over
  auto* img = new TBitmapImage();
  img->Format = Format;
  img->HandleType = Type;
  img->Width = W > 0 ? W : 0;
  img->Height = H > 0 ? H : 0;
  try {
    if (W > 0 && H > 0) {
      std::size_t pixels = 0, bytes = 0;
      if (!CheckedMul(static_cast<std::size_t>(W), static_cast<std::size_t>(H), pixels) ||
          !CheckedMul(pixels, 4, bytes) || bytes > MaxBitmapBytes())
        throw EInvalidGraphic(SInvalidBitmap);
      Gdi& gdi = GdiSvc();
      Sys().SetLastError(ERROR_SUCCESS);
      if (Type == bmDDB) {
        ScreenDC screen;
        HBITMAP hb = gdi.CreateCompatibleBitmap(screen.dc(), W, H);
        if (!hb) CreationFailed();
        img->Handle = hb;
        BITMAP bm{};
        gdi.GetObject(Obj(hb), sizeof bm, &bm);
        img->BitCount = bm.bmBitsPixel * bm.bmPlanes;
        img->Stride = static_cast<std::size_t>(bm.bmWidthBytes);
      } else {
        const int bits = BitsOf(Format);
        img->BitFields = Format == pf16bit;
        if (img->BitFields) {
          img->Masks[0] = 0xF800;
          img->Masks[1] = 0x07E0;
          img->Masks[2] = 0x001F;
        }
        if (bits <= 8)
          img->Colors = (old->IsDIB && old->BitCount == bits) ? old->Colors : DefaultColors(bits);
        auto bmi = MakeBitmapInfo(W, H, bits, img->BitFields, img->Masks, img->Colors);
        void* p = nullptr;
        HBITMAP hb =
            gdi.CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(bmi.data()), DIB_RGB_COLORS, &p);
        if (!hb || !p) {
          if (hb) gdi.DeleteObject(Obj(hb));
          CreationFailed();
        }
        img->Handle = hb;
        img->Bits = p;
        img->IsDIB = true;
        img->BitCount = bits;
        img->Stride = DibStride(W, bits);
      }
      if (!old->Empty()) {
        MemoryDC from(old->Handle, old->Palette), to(img->Handle);
        gdi.BitBlt(to.dc(), 0, 0, std::min(W, old->Width), std::min(H, old->Height), from.dc(), 0, 0,
                   SRCCOPY);
      }
    }
  } catch (...) {
    delete img;
    old->Release();
    throw;
  }
  SetImage(img);
  old->Release();
}

void TBitmap::Unshare() {
  if (!image_ || image_->RefCount() <= 1) return;
  if (canvas_) static_cast<TBitmapCanvas*>(canvas_.get())->FreeContext();  // the bitmap is copied below
  TBitmapImage* src = image_;
  src->Reference();  // held while copying
  auto* img = new TBitmapImage();
  img->Format = src->Format;
  img->HandleType = src->HandleType;
  img->Colors = src->Colors;
  img->BitFields = src->BitFields;
  std::copy(src->Masks, src->Masks + 3, img->Masks);
  img->SaveStream = src->SaveStream;
  try {
    if (!src->Empty()) {
      if (src->IsDIB) {
        auto bmi = MakeBitmapInfo(src->Width, src->TopDown ? -src->Height : src->Height, src->BitCount,
                                  src->BitFields, src->Masks, src->Colors);
        void* bits = nullptr;
        Sys().SetLastError(ERROR_SUCCESS);
        HBITMAP hb = GdiSvc().CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(bmi.data()),
                                               DIB_RGB_COLORS, &bits);
        if (!hb) CreationFailed();
        img->Handle = hb;
        img->Bits = bits;
        img->IsDIB = true;
        GdiSvc().GdiFlush();
        if (bits && src->Bits) std::memcpy(bits, src->Bits, src->ImageBytes());
      } else {
        ScreenDC screen;
        HBITMAP hb = GdiSvc().CreateCompatibleBitmap(screen.dc(), src->Width, src->Height);
        if (!hb) CreationFailed();
        img->Handle = hb;
        MemoryDC from(src->Handle), to(hb);
        GdiSvc().BitBlt(to.dc(), 0, 0, src->Width, src->Height, from.dc(), 0, 0, SRCCOPY);
      }
      img->Width = src->Width;
      img->Height = src->Height;
      img->BitCount = src->BitCount;
      img->TopDown = src->TopDown;
      img->Stride = src->Stride;
    }
    if (src->Palette) img->Palette = CopyPalette(src->Palette);
  } catch (...) {
    delete img;
    src->Release();
    throw;
  }
  SetImage(img);
  src->Release();
}

void TBitmap::MakeDIBSection() {
  SetHandleType(bmDIB);
}

plat::HBITMAP TBitmap::Handle() {
  return image_ ? image_->Handle : nullptr;
}

TBitmapHandleType TBitmap::HandleType() const {
  if (image_->Empty()) return image_->HandleType;
  return image_->IsDIB ? bmDIB : bmDDB;
}

TPixelFormat TBitmap::PixelFormat() const {
  const TBitmapImage* img = image_;
  if (img->Empty()) return img->Format;
  if (!img->IsDIB) return pfDevice;
  switch (img->BitCount) {
    case 1:
      return pf1bit;
    case 4:
      return pf4bit;
    case 8:
      return pf8bit;
    case 16:
      if (!img->BitFields || (img->Masks[0] == 0x7C00 && img->Masks[1] == 0x03E0 && img->Masks[2] == 0x001F))
        return pf15bit;
      if (img->Masks[0] == 0xF800 && img->Masks[1] == 0x07E0 && img->Masks[2] == 0x001F) return pf16bit;
      return pfCustom;
    case 24:
      return pf24bit;
    case 32:
      if (!img->BitFields || (img->Masks[0] == 0xFF0000 && img->Masks[1] == 0xFF00 && img->Masks[2] == 0xFF))
        return pf32bit;
      return pfCustom;
    default:
      return pfCustom;
  }
}

void TBitmap::SetPixelFormat(TPixelFormat Value) {
  if (Value == PixelFormat()) return;
  if (Value == pfCustom) throw EInvalidGraphic(SInvalidPixelFormat);
  NewImage(ImageWidth(), ImageHeight(), Value, Value == pfDevice ? bmDDB : bmDIB);
  NotifyChanged();
}

void TBitmap::SetHandleType(TBitmapHandleType Value) {
  if (Value == HandleType()) return;
  TPixelFormat pf = PixelFormat();
  if (Value == bmDIB && pf == pfDevice) {
    const int bits = image_->Empty() ? BitsOf(pfDevice) : image_->BitCount;
    pf = bits == 1    ? pf1bit
         : bits == 4  ? pf4bit
         : bits == 8  ? pf8bit
         : bits == 16 ? pf15bit
         : bits == 24 ? pf24bit
                      : pf32bit;
  }
  NewImage(ImageWidth(), ImageHeight(), Value == bmDDB ? pfDevice : pf, Value);
  NotifyChanged();
}

int TBitmap::BitsPerPixel() const {
  return image_->BitCount;
}
bool TBitmap::Monochrome() const {
  return !image_->Empty() && image_->BitCount == 1;
}
int TBitmap::RowBytes() const {
  return static_cast<int>(image_->Stride);
}

void TBitmap::ColorMasks(DWORD& Red, DWORD& Green, DWORD& Blue) const {
  Red = Green = Blue = 0;
  if (!image_->IsDIB) return;
  if (image_->BitFields) {
    Red = image_->Masks[0];
    Green = image_->Masks[1];
    Blue = image_->Masks[2];
  } else if (image_->BitCount == 16) {
    Red = 0x7C00;
    Green = 0x03E0;
    Blue = 0x001F;
  } else if (image_->BitCount == 32) {
    Red = 0xFF0000;
    Green = 0xFF00;
    Blue = 0xFF;
  }
}

std::vector<std::uint32_t> TBitmap::ColorTable() const {
  std::vector<std::uint32_t> out;
  for (const auto& c : image_->Colors)
    out.push_back(static_cast<std::uint32_t>(c.rgbBlue) | (static_cast<std::uint32_t>(c.rgbGreen) << 8) |
                  (static_cast<std::uint32_t>(c.rgbRed) << 16));
  return out;
}

void* TBitmap::ScanLine(int Row) {
  Unshare();
  if (!image_->Empty() && !image_->IsDIB) MakeDIBSection();
  if (image_->Empty() || Row < 0 || Row >= image_->Height) throw EInvalidGraphic(SScanLine);
  GdiSvc().GdiFlush();
  const std::size_t r =
      image_->TopDown ? static_cast<std::size_t>(Row) : static_cast<std::size_t>(image_->Height - 1 - Row);
  return static_cast<std::uint8_t*>(image_->Bits) + r * image_->Stride;
}

TCanvas& TBitmap::Canvas() {
  Unshare();
  image_->SaveStream.clear();  // drawing may change the pixels, so the kept file no longer describes them
  if (!canvas_) canvas_ = std::make_unique<TBitmapCanvas>(this);
  return *canvas_;
}

TColor TBitmap::TransparentColor() const {
  if (transparentColor_ == clDefault || transparentMode_ == tmAuto) {
    if (image_->Empty()) return clDefault;
    // A bitmap is selected into one device context at a time: use the canvas's when it has one.
    const bool own = canvas_ && canvas_->HandleAllocated();
    std::unique_ptr<MemoryDC> temp;
    if (!own) temp = std::make_unique<MemoryDC>(image_->Handle);
    const COLORREF c = GdiSvc().GetPixel(own ? canvas_->Handle() : temp->dc(), 0, image_->Height - 1);
    return static_cast<TColor>(c & 0x00FFFFFF) | 0x02000000;
  }
  return transparentColor_ | 0x02000000;
}

void TBitmap::SetTransparentColor(TColor Value) {
  if (Value == transparentColor_) return;
  transparentColor_ = Value;
  transparentMode_ = Value == clDefault ? tmAuto : tmFixed;
  NotifyChanged();
}

void TBitmap::SetTransparentMode(TTransparentMode Value) {
  if (Value == transparentMode_) return;
  if (Value == tmAuto)
    SetTransparentColor(clDefault);
  else
    SetTransparentColor(TransparentColor() & 0x00FFFFFF);
}

void TBitmap::FreeImage() {
  Unshare();
  image_->SaveStream.clear();
}

void TBitmap::ReadGraphicStream(TStream& Stream) {
  TBitmapFileLayout L;
  if (!ReadBitmapLayout(Stream, L)) {
    auto* img = new TBitmapImage();
    img->Format = image_->Format;
    img->HandleType = image_->HandleType;
    SetImage(img);
    NotifyChanged();
    return;
  }
  const BITMAPINFOHEADER& h = L.Header;
  if (!BitmapHeaderUsable(h)) throw EInvalidGraphic(SInvalidBitmap);

  auto bmiBuf = MakeBitmapInfo(h.biWidth, h.biHeight, h.biBitCount, L.BitFields, L.Masks,
                               h.biBitCount <= 8 ? L.Colors : std::vector<RGBQUAD>());
  auto* bmi = reinterpret_cast<BITMAPINFO*>(bmiBuf.data());
  Gdi& gdi = GdiSvc();

  std::unique_ptr<TBitmapImage> img(new TBitmapImage());
  img->Width = h.biWidth;
  img->Height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  img->Colors = h.biBitCount <= 8 ? L.Colors : std::vector<RGBQUAD>();
  img->BitFields = L.BitFields;
  std::copy(L.Masks, L.Masks + 3, img->Masks);

  if (L.Compressed.empty()) {
    void* bits = nullptr;
    Sys().SetLastError(ERROR_SUCCESS);
    HBITMAP hb = gdi.CreateDIBSection(nullptr, bmi, DIB_RGB_COLORS, &bits);
    if (!hb || !bits) {
      if (hb) gdi.DeleteObject(Obj(hb));
      CreationFailed();
    }
    img->Handle = hb;
    img->Bits = bits;
    img->IsDIB = true;
    img->BitCount = h.biBitCount;
    img->TopDown = h.biHeight < 0;
    img->Stride = DibStride(h.biWidth, h.biBitCount);
    // Pixels come straight from the stream, never more than the section holds.
    const std::size_t want = std::min<std::size_t>(h.biSizeImage, img->ImageBytes());
    std::size_t got = 0;
    auto* dst = static_cast<std::uint8_t*>(bits);
    while (got < want) {
      const std::size_t n = Stream.Read(dst + got, want - got);
      if (n == 0) break;
      got += n;
    }
  } else {
    BITMAPINFOHEADER ch = h;
    ch.biSizeImage = static_cast<DWORD>(
        std::min<std::size_t>(h.biSizeImage, L.Compressed.size() - L.CompressedBitsOffset));
    bmi->bmiHeader.biCompression = h.biCompression;
    bmi->bmiHeader.biSizeImage = ch.biSizeImage;
    HPALETTE pal = PaletteFromColors(L.Colors);
    HBITMAP hb = nullptr;
    {
      ScreenDC screen;
      HDC mem = gdi.CreateCompatibleDC(screen.dc());
      HPALETTE oldPal = nullptr;
      if (mem && pal) {
        oldPal = gdi.SelectPalette(mem, pal, 0);
        gdi.RealizePalette(mem);
      }
      Sys().SetLastError(ERROR_SUCCESS);
      if (mem)
        hb = gdi.CreateDIBitmap(mem, &ch, CBM_INIT, L.Compressed.data() + L.CompressedBitsOffset, bmi,
                                DIB_RGB_COLORS);
      if (mem) {
        if (oldPal) gdi.SelectPalette(mem, oldPal, 0);
        gdi.DeleteDC(mem);
      }
    }
    if (!hb) {
      if (pal) gdi.DeleteObject(Obj(pal));
      CreationFailed();
    }
    img->Handle = hb;
    img->Palette = pal;
    BITMAP bm{};
    gdi.GetObject(Obj(hb), sizeof bm, &bm);
    img->BitCount = bm.bmBitsPixel * bm.bmPlanes;
    img->IsDIB = false;
    img->SaveStream = std::move(L.Compressed);
  }

  if (h.biBitCount > 8 && !L.Colors.empty()) img->Palette = PaletteFromColors(L.Colors);
  const bool hasPalette = img->Palette != nullptr;
  img->HandleType = img->IsDIB ? bmDIB : bmDDB;
  SetImage(img.release());
  image_->Format = PixelFormat();
  if (hasPalette) SetPaletteModified(true);
  NotifyChanged();
}

void TBitmap::WriteGraphicStream(TStream& Stream) {
  if (image_->Empty()) return;
  if (!image_->SaveStream.empty()) {
    Stream.WriteBuffer(image_->SaveStream.data(), image_->SaveStream.size());
    return;
  }
  std::vector<std::uint8_t> info;
  std::vector<std::uint8_t> pixels;
  if (image_->IsDIB) {
    info = MakeBitmapInfo(image_->Width, image_->TopDown ? -image_->Height : image_->Height, image_->BitCount,
                          image_->BitFields, image_->Masks, image_->Colors);
    GdiSvc().GdiFlush();
    const auto* b = static_cast<const std::uint8_t*>(image_->Bits);
    pixels.assign(b, b + image_->ImageBytes());
  } else {
    // A screen-format bitmap is written as 24-bit pixels.
    const DWORD none[3] = {0, 0, 0};
    info = MakeBitmapInfo(image_->Width, image_->Height, 24, false, none, {});
    pixels.resize(DibStride(image_->Width, 24) * static_cast<std::size_t>(image_->Height));
    ScreenDC screen;
    GdiSvc().GetDIBits(screen.dc(), image_->Handle, 0, static_cast<UINT>(image_->Height), pixels.data(),
                       reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS);
  }
  auto* bmi = reinterpret_cast<BITMAPINFO*>(info.data());
  const std::size_t extra = bmi->bmiHeader.biCompression == BI_BITFIELDS ? 12 : bmi->bmiHeader.biClrUsed * 4;
  const std::size_t headerBytes = sizeof(BITMAPINFOHEADER) + extra;
  bmi->bmiHeader.biSizeImage = static_cast<DWORD>(pixels.size());
  BITMAPFILEHEADER fh{};
  fh.bfType = BFT_BITMAP;
  fh.bfOffBits = static_cast<DWORD>(sizeof fh + headerBytes);
  fh.bfSize = static_cast<DWORD>(sizeof fh + headerBytes + pixels.size());
  Stream.WriteBuffer(&fh, sizeof fh);
  Stream.WriteBuffer(info.data(), headerBytes);
  Stream.WriteBuffer(pixels.data(), pixels.size());
}

void TBitmap::ReadClipboard(plat::WORD, std::uintptr_t, plat::HPALETTE) {
  throw EInvalidGraphic(SUnsupportedClipboard);
}

void TBitmap::WriteClipboard(plat::WORD&, std::uintptr_t&, plat::HPALETTE&) {
  throw EInvalidGraphic(SUnsupportedClipboard);
}

// ---------------------------------------------------------------------------------------------------------
// Drawing

void TBitmap::DrawGraphic(TCanvas& ACanvas, const TRect& Rect) {
  if (IsEmpty()) return;
  Gdi& gdi = GdiSvc();
  HDC dst = ACanvas.Handle();
  HPALETTE pal = QueryPalette();
  HPALETTE oldPal = nullptr;
  if (pal) {
    oldPal = gdi.SelectPalette(dst, pal, 1);
    gdi.RealizePalette(dst);
  }
  try {
    if (Transparent()) {
      DrawTransparent(ACanvas, Rect);
    } else {
      const int dstBits = gdi.GetDeviceCaps(dst, BITSPIXEL) * gdi.GetDeviceCaps(dst, PLANES);
      const int srcBits = image_->BitCount;
      const bool fewerColours = dstBits <= 8 && srcBits > dstBits;
      if (fewerColours) {
        POINT org{0, 0};
        gdi.SetBrushOrgEx(dst, 0, 0, &org);
        gdi.SetStretchBltMode(dst, HALFTONE);
        gdi.SetBrushOrgEx(dst, org.x, org.y, nullptr);
      } else if (!Monochrome()) {
        gdi.SetStretchBltMode(dst, COLORONCOLOR);
      }
      const bool own = canvas_ && canvas_->HandleAllocated();
      std::unique_ptr<MemoryDC> temp;
      if (!own) temp = std::make_unique<MemoryDC>(image_->Handle, pal);
      HDC src = own ? canvas_->Handle() : temp->dc();
      gdi.StretchBlt(dst, Rect.Left, Rect.Top, Rect.Width(), Rect.Height(), src, 0, 0, image_->Width,
                     image_->Height, ACanvas.CopyMode());
    }
  } catch (...) {
    if (pal) gdi.SelectPalette(dst, oldPal, 1);
    throw;
  }
  if (pal) gdi.SelectPalette(dst, oldPal, 1);
}

// Draws through a mask so that pixels of the transparent colour leave the target unchanged:
// target = (target AND mask) OR (image with the transparent pixels made black).
void TBitmap::DrawTransparent(TCanvas& ACanvas, const TRect& Rect) {
  Gdi& gdi = GdiSvc();
  HDC dst = ACanvas.Handle();
  const int w = image_->Width, h = image_->Height;
  const COLORREF key = static_cast<COLORREF>(TransparentColor()) & 0x00FFFFFF;

  const bool own = canvas_ && canvas_->HandleAllocated();
  std::unique_ptr<MemoryDC> temp;
  if (!own) temp = std::make_unique<MemoryDC>(image_->Handle);
  const HDC srcDC = own ? canvas_->Handle() : temp->dc();
  HBITMAP maskBmp = gdi.CreateBitmap(w, h, 1, 1, nullptr);
  ScreenDC screen;
  HBITMAP tempBmp = gdi.CreateCompatibleBitmap(screen.dc(), w, h);
  if (!maskBmp || !tempBmp) {
    if (maskBmp) gdi.DeleteObject(Obj(maskBmp));
    if (tempBmp) gdi.DeleteObject(Obj(tempBmp));
    throw EInvalidGraphic(SInvalidBitmap);
  }
  {
    MemoryDC mask(maskBmp), image(tempBmp);
    // Mask: 1 where the image has the transparent colour.
    const COLORREF oldSrcBk = gdi.SetBkColor(srcDC, key);
    gdi.BitBlt(mask.dc(), 0, 0, w, h, srcDC, 0, 0, SRCCOPY);
    gdi.SetBkColor(srcDC, oldSrcBk);
    // Image with transparent pixels black: a mask 1 becomes black (background), 0 white (text).
    gdi.BitBlt(image.dc(), 0, 0, w, h, srcDC, 0, 0, SRCCOPY);
    gdi.SetBkColor(image.dc(), RGB(0, 0, 0));
    gdi.SetTextColor(image.dc(), RGB(255, 255, 255));
    gdi.BitBlt(image.dc(), 0, 0, w, h, mask.dc(), 0, 0, SRCAND);
    // Target: keep pixels under mask 1 (white), clear the others, then add the image.
    const COLORREF oldBk = gdi.SetBkColor(dst, RGB(255, 255, 255));
    const COLORREF oldText = gdi.SetTextColor(dst, RGB(0, 0, 0));
    gdi.SetStretchBltMode(dst, COLORONCOLOR);
    gdi.StretchBlt(dst, Rect.Left, Rect.Top, Rect.Width(), Rect.Height(), mask.dc(), 0, 0, w, h, SRCAND);
    gdi.StretchBlt(dst, Rect.Left, Rect.Top, Rect.Width(), Rect.Height(), image.dc(), 0, 0, w, h, SRCPAINT);
    gdi.SetBkColor(dst, oldBk);
    gdi.SetTextColor(dst, oldText);
  }
  gdi.DeleteObject(Obj(maskBmp));
  gdi.DeleteObject(Obj(tempBmp));
}
