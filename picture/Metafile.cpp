#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "picture/Graphics.h"
#include "platform/Gdi.h"
#include "platform/Platform.h"

using namespace plat;

namespace {

constexpr const char* SUnsupportedClipboard = "Unsupported clipboard format";
constexpr int kHundredthMMPerInch = 2540;

// a * b / c rounded to the nearest integer (halves away from zero), as the system's MulDiv; -1 for c = 0.
int MulDiv(std::int64_t a, std::int64_t b, std::int64_t c) {
  if (c == 0) return -1;
  std::int64_t num = a * b;
  const bool negative = (num < 0) != (c < 0);
  num = std::llabs(num);
  const std::int64_t den = std::llabs(c);
  std::int64_t q = (num + den / 2) / den;
  if (negative) q = -q;
  if (q > INT32_MAX || q < INT32_MIN) return -1;
  return static_cast<int>(q);
}

std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

class TMetafileImage : public TSharedImage {
 public:
  ~TMetafileImage() override { FreeHandle(); }
  HENHMETAFILE Handle = nullptr;
  HPALETTE Palette = nullptr;
  int MMWidth = 0, MMHeight = 0;  // 0.01 mm
  int Inch = 0;                   // units per inch of a placeable file as stored; 0 for enhanced files
  bool Enhanced = true;
  std::vector<std::uint8_t> Data;  // the file as read, written back unchanged

 protected:
  void FreeHandle() override {
    if (!CurrentServices().gdi) return;
    if (Handle) GdiSvc().DeleteEnhMetaFile(Handle);
    if (Palette) GdiSvc().DeleteObject(Obj(Palette));
    Handle = nullptr;
    Palette = nullptr;
  }
};

// Pure checks of the two headers.
namespace {

bool IsEnhancedHeader(const ENHMETAHEADER& h) {
  return h.iType == EMR_HEADER && h.dSignature == ENHMETA_SIGNATURE;
}

bool PlaceableHeaderValid(const PLACEABLEMETAHEADER& h) {
  if (h.key != PLACEABLE_METAFILE_KEY) return false;
  std::uint8_t raw[sizeof h];
  std::memcpy(raw, &h, sizeof h);
  std::uint16_t sum = 0;
  for (int i = 0; i < 10; ++i) sum ^= Le16(raw + 2 * i);
  return sum == h.checksum;
}

}  // namespace

TMetafile::TMetafile() {
  SetImage(new TMetafileImage());
}

TMetafile::~TMetafile() {
  if (image_) image_->Release();
}

void TMetafile::SetImage(TMetafileImage* NewImage) {
  NewImage->Reference();
  if (image_) image_->Release();
  image_ = NewImage;
}

void TMetafile::Assign(const TGraphic* Source) {
  if (Source == nullptr) {
    SetImage(new TMetafileImage());
    NotifyChanged();
    return;
  }
  if (Source->InheritsFrom(TMetafile::StaticClass())) {
    if (Source == this) return;
    SetImage(static_cast<const TMetafile*>(Source)->image_);
    NotifyChanged();
    return;
  }
  TGraphic::Assign(Source);
}

bool TMetafile::IsEmpty() const {
  return image_->Handle == nullptr;
}
plat::HENHMETAFILE TMetafile::Handle() const {
  return image_->Handle;
}
bool TMetafile::Enhanced() const {
  return image_->Enhanced;
}
int TMetafile::MMWidth() const {
  return image_->MMWidth;
}
int TMetafile::MMHeight() const {
  return image_->MMHeight;
}
int TMetafile::Inch() const {
  return image_->Inch;
}
plat::HPALETTE TMetafile::QueryPalette() {
  return image_->Palette;
}

int TMetafile::ImageWidth() const {
  if (!image_->Handle) return 0;
  Gdi& gdi = GdiSvc();
  if (!image_->Enhanced && image_->Inch != 0) {
    HDC screen = gdi.GetDC(nullptr);
    const int ppi = gdi.GetDeviceCaps(screen, LOGPIXELSX);
    gdi.ReleaseDC(nullptr, screen);
    return MulDiv(image_->MMWidth, ppi, kHundredthMMPerInch);
  }
  ENHMETAHEADER h{};
  gdi.GetEnhMetaFileHeader(image_->Handle, sizeof h, &h);
  return MulDiv(image_->MMWidth, h.szlDevice.cx, std::int64_t{h.szlMillimeters.cx} * 100);
}

int TMetafile::ImageHeight() const {
  if (!image_->Handle) return 0;
  Gdi& gdi = GdiSvc();
  if (!image_->Enhanced && image_->Inch != 0) {
    HDC screen = gdi.GetDC(nullptr);
    const int ppi = gdi.GetDeviceCaps(screen, LOGPIXELSY);
    gdi.ReleaseDC(nullptr, screen);
    return MulDiv(image_->MMHeight, ppi, kHundredthMMPerInch);
  }
  ENHMETAHEADER h{};
  gdi.GetEnhMetaFileHeader(image_->Handle, sizeof h, &h);
  return MulDiv(image_->MMHeight, h.szlDevice.cy, std::int64_t{h.szlMillimeters.cy} * 100);
}

// Sizing keeps the picture and changes only the size it is given in 0.01 mm.
void TMetafile::ResizeWidth(int Value) {
  const int current = ImageWidth();
  if (Value == current || current <= 0) return;
  // The body is shared; a private size needs a private copy of the metafile.
  std::vector<std::uint8_t> bytes = image_->Data;
  TMemoryStream s(bytes);
  const int newMM = MulDiv(image_->MMWidth, Value, current);
  ReadGraphicStream(s);
  image_->MMWidth = newMM;
  NotifyChanged();
}

void TMetafile::ResizeHeight(int Value) {
  const int current = ImageHeight();
  if (Value == current || current <= 0) return;
  std::vector<std::uint8_t> bytes = image_->Data;
  TMemoryStream s(bytes);
  const int newMM = MulDiv(image_->MMHeight, Value, current);
  ReadGraphicStream(s);
  image_->MMHeight = newMM;
  NotifyChanged();
}

void TMetafile::ReadGraphicStream(TStream& Stream) {
  Gdi& gdi = GdiSvc();
  const std::int64_t start = Stream.GetPosition();
  const std::int64_t rest = Stream.Remaining();
  auto* img = new TMetafileImage();
  try {
    bool done = false;
    if (rest > static_cast<std::int64_t>(sizeof(ENHMETAHEADER))) {
      ENHMETAHEADER h;
      Stream.ReadBuffer(&h, sizeof h);
      if (IsEnhancedHeader(h)) {
        // The whole metafile, its size from the header.
        if (h.nBytes < sizeof h) throw EInvalidGraphic(SInvalidMetafile);
        if (static_cast<std::int64_t>(h.nBytes) > rest) throw EReadError(SReadError);
        img->Data.resize(h.nBytes);
        std::memcpy(img->Data.data(), &h, sizeof h);
        Stream.ReadBuffer(img->Data.data() + sizeof h, h.nBytes - sizeof h);
        img->Handle = gdi.SetEnhMetaFileBits(h.nBytes, img->Data.data());
        if (!img->Handle) throw EInvalidGraphic(SInvalidMetafile);
        img->Enhanced = true;
        img->MMWidth = h.rclFrame.right - h.rclFrame.left;
        img->MMHeight = h.rclFrame.bottom - h.rclFrame.top;
        done = true;
      } else {
        Stream.SetPosition(start);
      }
    }
    if (!done) {
      PLACEABLEMETAHEADER p;
      if (rest < static_cast<std::int64_t>(sizeof p)) throw EInvalidGraphic(SInvalidMetafile);
      Stream.ReadBuffer(&p, sizeof p);
      if (!PlaceableHeaderValid(p)) throw EInvalidGraphic(SInvalidMetafile);
      const int inch = p.inch != 0 ? p.inch : 96;
      img->Inch = p.inch;
      img->Enhanced = false;
      img->MMWidth = MulDiv(std::int64_t{p.right} - p.left, kHundredthMMPerInch, inch);
      img->MMHeight = MulDiv(std::int64_t{p.bottom} - p.top, kHundredthMMPerInch, inch);
      img->Data.resize(static_cast<std::size_t>(rest));
      std::memcpy(img->Data.data(), &p, sizeof p);
      Stream.ReadBuffer(img->Data.data() + sizeof p, img->Data.size() - sizeof p);
      METAFILEPICT pict{MM_ANISOTROPIC, img->MMWidth, img->MMHeight, nullptr};
      const std::size_t bodySize = img->Data.size() - sizeof p;
      if (bodySize == 0 || bodySize > 0xFFFFFFFFu) throw EInvalidGraphic(SInvalidMetafile);
      // The records get a buffer of their own so that they start aligned, as a fresh allocation would be.
      const std::vector<std::uint8_t> body(img->Data.begin() + sizeof p, img->Data.end());
      img->Handle = gdi.SetWinMetaFileBits(static_cast<UINT>(bodySize), body.data(), nullptr, &pict);
      if (!img->Handle) throw EInvalidGraphic(SInvalidMetafile);
    }
  } catch (...) {
    delete img;
    throw;
  }
  SetImage(img);
  NotifyChanged();
}

void TMetafile::WriteGraphicStream(TStream& Stream) {
  if (!image_->Data.empty()) Stream.WriteBuffer(image_->Data.data(), image_->Data.size());
}

void TMetafile::DrawGraphic(TCanvas& ACanvas, const TRect& Rect) {
  if (!image_->Handle) return;
  Gdi& gdi = GdiSvc();
  HDC dc = ACanvas.Handle();
  HPALETTE oldPal = nullptr;
  if (image_->Palette) {
    oldPal = gdi.SelectPalette(dc, image_->Palette, 1);
    gdi.RealizePalette(dc);
  }
  // The frame is inclusive of its right and bottom edges, so the target rectangle loses one pixel there.
  const RECT r{Rect.Left, Rect.Top, Rect.Right - 1, Rect.Bottom - 1};
  gdi.PlayEnhMetaFile(dc, image_->Handle, &r);
  if (image_->Palette) gdi.SelectPalette(dc, oldPal, 1);
}

void TMetafile::ReadClipboard(plat::WORD, std::uintptr_t, plat::HPALETTE) {
  throw EInvalidGraphic(SUnsupportedClipboard);
}

void TMetafile::WriteClipboard(plat::WORD&, std::uintptr_t&, plat::HPALETTE&) {
  throw EInvalidGraphic(SUnsupportedClipboard);
}
