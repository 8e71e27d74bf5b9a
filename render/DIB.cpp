// TDIB: the graphic kind over a shared DIB body; reading and writing streams and files, assignment, rows,
// alpha, and the unit's start-up.
#include "render/DIB.h"

#include <cstring>

namespace {

TDIBSharedImage* g_emptyImage = nullptr;

// Every TDIB starts with this one shared empty body.
TDIBSharedImage* EmptyImage() {
  if (!g_emptyImage) {
    g_emptyImage = new TDIBSharedImage();
    g_emptyImage->Reference();  // the unit's own reference, dropped by FinalizeDIBUnit
  }
  return g_emptyImage;
}

std::uint16_t GetU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t GetU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void PutU16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Reads up to count bytes, accepting streams that deliver them in pieces.
std::size_t ReadUpTo(TStream& stream, std::uint8_t* buffer, std::size_t count) {
  std::size_t total = 0;
  while (total < count) {
    std::size_t n = stream.Read(buffer + total, count - total);
    if (n == 0) break;
    total += n;
  }
  return total;
}

}  // namespace

// The canvas of a TDIB: its device context is the body's, made when first needed, after the TDIB has a
// private body in a DIB section.
class TDIBCanvas : public TCanvas {
 public:
  explicit TDIBCanvas(TDIB& owner) : owner_(owner) {}

 protected:
  void CreateHandle() override {
    if (owner_.IsEmpty()) return;  // no image, no device context: the canvas refuses drawing
    owner_.Changing();
    owner_.image_->ConvertToSection();
    SetHandle(owner_.image_->DC);
  }

 private:
  TDIB& owner_;
};

TDIB::TDIB() {
  ColorTable = GreyscaleColorTable();
  PixelFormat = MakeDIBPixelFormat(8, 8, 8);
  SetImage(EmptyImage());
}

TDIB::~TDIB() {
  canvas_.reset();
  alphaImages_.clear();
  if (image_) image_->Release();
}

void TDIB::SetImage(TDIBSharedImage* image) {
  if (image == image_) return;
  image->Reference();
  if (image_) image_->Release();
  image_ = image;
  ColorTable = image_->ColorTable;
  PixelFormat = image_->PixelFormat;
  // The canvas, if any, takes the new body's device context when next used.
  if (canvas_) canvas_->SetHandle(nullptr);
}

void TDIB::Changing() {
  image_->Decompress();
  if (image_->RefCount() > 1) {
    auto copy = image_->Duplicate(image_->MemoryImage);
    SetImage(copy.release());
  }
}

void TDIB::Clear() {
  SetImage(EmptyImage());
}

void TDIB::SetSize(std::int32_t width, std::int32_t height, int bitCount) {
  if (width == image_->Width && height == image_->Height && bitCount == image_->BitCount &&
      PixelFormat == image_->PixelFormat)
    return;
  if (width <= 0 || height <= 0) {
    Clear();
    return;
  }
  auto img = TDIBSharedImage::Make(width, height, bitCount, PixelFormat, ColorTable, image_->MemoryImage);
  SetImage(img.release());
}

void TDIB::UpdatePalette() {
  if (image_ == g_emptyImage || IsEmpty()) return;
  Changing();
  image_->SetColorTable(ColorTable);
}

std::uint8_t* TDIB::Row(std::int32_t y) {
  if (y < 0 || y >= image_->Height) throw EInvalidGraphicOperation(Format(SScanLineRangeError, y));
  Changing();
  return image_->TopRow + static_cast<std::ptrdiff_t>(y) * image_->RowStep;
}

const std::uint8_t* TDIB::RowReadOnly(std::int32_t y) {
  if (y < 0 || y >= image_->Height) throw EInvalidGraphicOperation(Format(SScanLineRangeError, y));
  image_->Decompress();
  return image_->TopRow + static_cast<std::ptrdiff_t>(y) * image_->RowStep;
}

bool TDIB::HasAlpha() {
  if (image_->BitCount != 32 || IsEmpty()) return false;
  const std::int32_t w = image_->Width;
  for (std::int32_t y = 0; y < image_->Height; ++y) {
    const std::uint8_t* row = RowReadOnly(y);
    for (std::int32_t x = 0; x < w; ++x)
      if (row[4 * static_cast<std::size_t>(x) + 3] != 0) return true;
  }
  return false;
}

TDIB* TDIB::ExtractAlpha() {
  if (!HasAlpha()) return nullptr;
  auto alpha = std::make_unique<TDIB>();
  alpha->SetSize(Width(), Height(), 8);
  for (std::int32_t y = 0; y < Height(); ++y) {
    const std::uint8_t* src = RowReadOnly(y);
    std::uint8_t* dst = alpha->Row(y);
    for (std::int32_t x = 0; x < Width(); ++x) dst[x] = src[4 * static_cast<std::size_t>(x) + 3];
  }
  alphaImages_.push_back(std::move(alpha));
  return alphaImages_.back().get();
}

TCanvas* TDIB::Canvas() {
  if (!canvas_) canvas_ = std::make_unique<TDIBCanvas>(*this);
  return canvas_.get();
}

// ---------------------------------------------------------------------------------------------------------
// Assignment

void TDIB::Assign(const TGraphic* Source) {
  if (Source == this) return;
  if (!Source) {
    Clear();
  } else if (auto* dib = dynamic_cast<const TDIB*>(Source)) {
    SetImage(dib->image_);
  } else if (auto* bmp = dynamic_cast<const TBitmap*>(Source)) {
    AssignBitmap(*bmp);
  } else {
    AssignGraphic(*Source);
  }
  NotifyChanged();
}

void TDIB::Assign(const TPicture* Source) {
  Assign(Source ? Source->Graphic() : nullptr);
}

void TDIB::AssignGraphic(const TGraphic& graphic) {
  const int w = graphic.Width(), h = graphic.Height();
  if (w <= 0 || h <= 0) {
    Clear();
    return;
  }
  auto img = TDIBSharedImage::Make(w, h, 24, MakeDIBPixelFormat(8, 8, 8), ColorTable, image_->MemoryImage);
  SetImage(img.release());
  Canvas()->Draw(0, 0, const_cast<TGraphic*>(&graphic));
}

// ---------------------------------------------------------------------------------------------------------
// Streams

bool TDIB::IsEmpty() const {
  return image_->ImageSize == 0;
}
int TDIB::ImageHeight() const {
  return image_->Height;
}
int TDIB::ImageWidth() const {
  return image_->Width;
}
void TDIB::ResizeHeight(int Value) {
  SetSize(Width(), Value, BitCount());
}
void TDIB::ResizeWidth(int Value) {
  SetSize(Value, Height(), BitCount());
}

void TDIB::ReadFormData(TStream& Stream) {
  auto img = TDIBSharedImage::ReadBody(Stream, image_->MemoryImage);
  if (!img) {
    Clear();
    return;
  }
  SetImage(img.release());
}

void TDIB::WriteFormData(TStream& Stream) {
  image_->WriteBody(Stream);
}

void TDIB::ReadGraphicStream(TStream& Stream) {
  const std::int64_t start = Stream.GetPosition();
  std::uint8_t header[sizeof(TDIBFileHeader)];
  std::size_t got = ReadUpTo(Stream, header, sizeof header);
  if (got == 0) return;
  if (got < sizeof header) throw EInvalidGraphic(SInvalidDIB);
  if (GetU16(header) == DIBFileType) {
    auto img = TDIBSharedImage::ReadBody(Stream, image_->MemoryImage, start + GetU32(header + 10));
    if (img)
      SetImage(img.release());
    else
      Clear();
    return;
  }
  if (header[0] != 0xFF || header[1] != 0xD8) throw EInvalidGraphic(SInvalidDIB);

  // A JPEG file under a .dib name: read it whole through the registered JPEG kind.
  TGraphicClass jpegClass = PictureFormats().FindFormatByExtension("jpg");
  if (!jpegClass || !jpegClass->Create) throw EInvalidGraphic(SInvalidDIB);
  std::unique_ptr<TGraphic> jpeg = jpegClass->NewInstance();
  Stream.SetPosition(start);
  try {
    jpeg->ReadGraphicStream(Stream);
  } catch (const EInvalidGraphic&) {
    // A body may follow where the JPEG reader stopped. When none does, the file is a broken JPEG picture:
    // its reader's error stands rather than an empty picture or the body reader's complaint.
    std::unique_ptr<TDIBSharedImage> img;
    try {
      img = TDIBSharedImage::ReadBody(Stream, image_->MemoryImage);
    } catch (const Exception&) {
    }
    if (!img) throw;
    SetImage(img.release());
    return;
  }
  // Converted aside, so a picture that fails to decode leaves this image as it was.
  TDIB converted;
  converted.AssignGraphic(*jpeg);
  SetImage(converted.image_);
}

void TDIB::WriteGraphicStream(TStream& Stream) {
  if (IsEmpty()) return;
  std::uint8_t header[sizeof(TDIBFileHeader)] = {};
  const std::uint32_t infoSize = static_cast<std::uint32_t>(image_->BitmapInfoSize);
  PutU16(header, DIBFileType);
  PutU32(header + 2, static_cast<std::uint32_t>(sizeof header) + infoSize +
                         static_cast<std::uint32_t>(image_->ImageSize));
  PutU32(header + 10, static_cast<std::uint32_t>(sizeof header) + infoSize);
  Stream.WriteBuffer(header, sizeof header);
  WriteFormData(Stream);
}

// The platform layer has no clipboard; exchanging through it is refused rather than faked.
void TDIB::ReadClipboard(plat::WORD, std::uintptr_t, plat::HPALETTE) {
  throw EInvalidGraphic(SUnsupportedDIBClipboard);
}
void TDIB::WriteClipboard(plat::WORD&, std::uintptr_t&, plat::HPALETTE&) {
  throw EInvalidGraphic(SUnsupportedDIBClipboard);
}

// ---------------------------------------------------------------------------------------------------------
// Unit start-up and shutdown

void InitDIBUnit() {
  InitGraphicsUnit();
  // Safe to call again (test fixtures do): each registration is made once.
  if (PictureFormats().FindFormatByExtension("dib") != TDIB::StaticClass())
    TPicture::RegisterPictureFormat("dib", SDIBDescription, TDIB::StaticClass());
  if (FindClipboardFormat(CF_DIB) != TDIB::StaticClass())
    TPicture::RegisterClipboardFormat(CF_DIB, TDIB::StaticClass());
}

void FinalizeDIBUnit() {
  TPicture::UnregisterGraphicClass(TDIB::StaticClass());
  if (g_emptyImage) {
    g_emptyImage->Release();
    g_emptyImage = nullptr;
  }
  FreePaletteManager();
}
