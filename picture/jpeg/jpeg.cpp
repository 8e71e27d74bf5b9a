#include "picture/jpeg/jpeg.h"

#include <algorithm>

#include "core/Consts.h"
#include "platform/Clock.h"
#include "platform/Gdi.h"
#include "platform/Platform.h"

namespace {

inline constexpr const char* SJPEGNoClipboard = "Unsupported clipboard format";

int ScreenBitsPerPixel() {
  plat::Gdi& gdi = plat::GdiSvc();
  plat::HDC dc = gdi.GetDC(nullptr);
  int bits = gdi.GetDeviceCaps(dc, plat::BITSPIXEL) * gdi.GetDeviceCaps(dc, plat::PLANES);
  gdi.ReleaseDC(nullptr, dc);
  return bits;
}

plat::HPALETTE MakePalette(const std::vector<TJpegColor>& colors) {
  if (colors.empty()) return nullptr;
  const std::size_t n = std::min<std::size_t>(colors.size(), 256);
  std::vector<std::uint8_t> buf(sizeof(plat::LOGPALETTE) + (n - 1) * sizeof(plat::PALETTEENTRY));
  auto* lp = reinterpret_cast<plat::LOGPALETTE*>(buf.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<plat::WORD>(n);
  for (std::size_t i = 0; i < n; ++i)
    lp->palPalEntry[i] = {colors[i].Red, colors[i].Green, colors[i].Blue, 0};
  return plat::GdiSvc().CreatePalette(lp);
}

std::vector<TJpegColor> PaletteColors(plat::HPALETTE pal) {
  std::vector<TJpegColor> colors;
  if (!pal) return colors;
  plat::WORD count = 0;
  plat::Gdi& gdi = plat::GdiSvc();
  if (gdi.GetObject(plat::Obj(pal), sizeof count, &count) == 0 || count == 0) return colors;
  std::vector<plat::PALETTEENTRY> entries(count);
  plat::UINT got = gdi.GetPaletteEntries(pal, 0, count, entries.data());
  for (plat::UINT i = 0; i < got && i < entries.size(); ++i)
    colors.push_back({entries[i].peRed, entries[i].peGreen, entries[i].peBlue});
  return colors;
}

// libjpeg's rounding of a scaled dimension.
std::int32_t ScaledSize(std::int32_t size, TJPEGScale scale) {
  const std::int32_t d = 1 << std::min<int>(scale, 3);
  return (size + d - 1) / d;
}

}  // namespace

// Decoded rows go straight into the bitmap's scan lines. A palette that arrives before the bitmap has a
// size waits until it has one.
class TJPEGImage::TBitmapTarget : public TJpegTarget {
 public:
  TBitmapTarget(TJPEGImage& image, TBitmap& bitmap) : image_(image), bitmap_(bitmap) {}

  void SetEightBit(bool EightBit) override { bitmap_.SetPixelFormat(EightBit ? pf8bit : pf24bit); }
  void SetSize(int Width, int Height) override {
    bitmap_.SetSize(Width, Height);
    sized_ = true;
    if (!pending_.empty()) Apply(pending_);
  }
  std::uint8_t* ScanLine(int Row) override { return static_cast<std::uint8_t*>(bitmap_.ScanLine(Row)); }
  void SetPalette(const std::vector<TJpegColor>& Colors) override {
    if (sized_)
      Apply(Colors);
    else
      pending_ = Colors;
    image_.SetPaletteModified(true);
  }
  void Progress(TProgressStage Stage, std::uint8_t PercentDone, bool RedrawNow, const TRect& R) override {
    image_.ReportProgress(Stage, PercentDone, RedrawNow, R);
  }
  bool PaletteChanged() const override { return image_.PaletteModified(); }

 private:
  void Apply(const std::vector<TJpegColor>& colors) { bitmap_.ReplacePalette(MakePalette(colors)); }

  TJPEGImage& image_;
  TBitmap& bitmap_;
  std::vector<TJpegColor> pending_;
  bool sized_ = false;
};

TJPEGImage::TJPEGImage() : settings_(JpegDefaultSettings) {
  NewData();
}

TJPEGImage::~TJPEGImage() {
  const bool bitmapOwnsPreset = presetPalette_ && bitmap_ && bitmap_->Palette() == presetPalette_;
  bitmap_.reset();
  if (presetPalette_ && !bitmapOwnsPreset) plat::GdiSvc().DeleteObject(plat::Obj(presetPalette_));
  data_->Release();
}

void TJPEGImage::NewData() {
  TJPEGData* fresh = new TJPEGData;
  fresh->Reference();
  if (data_) data_->Release();
  data_ = fresh;
}

void TJPEGImage::FreeBitmap() {
  bitmap_.reset();
}

void TJPEGImage::ReportProgress(TProgressStage Stage, std::uint8_t PercentDone, bool RedrawNow,
                                const TRect& R) {
  Progress(this, Stage, PercentDone, RedrawNow, R, std::string());
}

template <typename T>
void TJPEGImage::ChangeSetting(T& Field, T Value) {
  if (Field == Value) return;
  Field = Value;
  if (bitmap_ && data_->HasData()) {
    FreeBitmap();
    NotifyChanged();
  }
}

void TJPEGImage::SetScale(TJPEGScale Value) {
  ChangeSetting(settings_.Scaling, Value);
  scaledWidth_ = ScaledSize(data_->NativeWidth, settings_.Scaling);
  scaledHeight_ = ScaledSize(data_->NativeHeight, settings_.Scaling);
}
void TJPEGImage::SetPerformance(TJPEGPerformance Value) {
  ChangeSetting(settings_.SpeedMode, Value);
}
void TJPEGImage::SetProgressiveDisplay(bool Value) {
  ChangeSetting(settings_.ShowProgressively, Value);
}
void TJPEGImage::SetSmoothing(bool Value) {
  ChangeSetting(settings_.BlockSmoothing, Value);
}
void TJPEGImage::SetGrayscale(bool Value) {
  ChangeSetting(settings_.GreyOutput, Value);
}
void TJPEGImage::SetPixelFormat(TJPEGPixelFormat Value) {
  ChangeSetting(settings_.OutputDepth, Value);
}

void TJPEGImage::Assign(const TGraphic* Source) {
  if (Source && Source->InheritsFrom(TJPEGImage::StaticClass())) {
    const auto* other = static_cast<const TJPEGImage*>(Source);
    if (other == this) return;
    other->data_->Reference();
    data_->Release();
    data_ = other->data_;
    settings_.IsProgressive = other->settings_.IsProgressive;
    scaledWidth_ = ScaledSize(data_->NativeWidth, settings_.Scaling);
    scaledHeight_ = ScaledSize(data_->NativeHeight, settings_.Scaling);
    FreeBitmap();
    if (other->bitmap_) {
      auto copy = std::make_unique<TBitmap>();
      copy->Assign(other->bitmap_.get());
      bitmap_ = std::move(copy);
    }
    NotifyChanged();
  } else if (Source && Source->InheritsFrom(TBitmap::StaticClass())) {
    auto copy = std::make_unique<TBitmap>();
    copy->Assign(Source);
    NewData();
    bitmap_ = std::move(copy);
    NotifyChanged();
  } else {
    TGraphic::Assign(Source);
  }
}

void TJPEGImage::AssignTo(TGraphic* Dest) const {
  if (Dest && Dest->InheritsFrom(TBitmap::StaticClass())) {
    // Decoding changes only the cache of pixels, not the image this object stands for.
    const_cast<TJPEGImage*>(this)->DecodeToBitmap();
    Dest->Assign(bitmap_.get());
  } else {
    TGraphic::AssignTo(Dest);
  }
}

void TJPEGImage::DrawGraphic(TCanvas& ACanvas, const TRect& Rect) {
  DecodeToBitmap();
  ACanvas.StretchDraw(Rect, bitmap_.get());
}

bool TJPEGImage::IsEmpty() const {
  return !data_->HasData() && (!bitmap_ || bitmap_->Empty());
}

int TJPEGImage::ImageWidth() const {
  if (bitmap_) return bitmap_->Width();
  return settings_.Scaling != jsFullSize ? scaledWidth_ : data_->NativeWidth;
}

int TJPEGImage::ImageHeight() const {
  if (bitmap_) return bitmap_->Height();
  return settings_.Scaling != jsFullSize ? scaledHeight_ : data_->NativeHeight;
}

plat::HPALETTE TJPEGImage::QueryPalette() {
  if (bitmap_) return bitmap_->Palette();
  if (presetPalette_) return presetPalette_;
  if (settings_.OutputDepth == jf8Bit) return nullptr;
  if (ScreenBitsPerPixel() <= 8) {
    plat::Gdi& gdi = plat::GdiSvc();
    plat::HDC dc = gdi.GetDC(nullptr);
    presetPalette_ = gdi.CreateHalftonePalette(dc);
    gdi.ReleaseDC(nullptr, dc);
    return presetPalette_;
  }
  return nullptr;
}

void TJPEGImage::ReplacePalette(plat::HPALETTE Value) {
  if (Value == presetPalette_) return;
  bool discarded = false;
  if (bitmap_ && bitmap_->Palette() != Value) {
    FreeBitmap();
    discarded = true;
  }
  if (presetPalette_) plat::GdiSvc().DeleteObject(plat::Obj(presetPalette_));
  presetPalette_ = Value;
  if (discarded) {
    SetPaletteModified(true);
    NotifyChanged();
  }
}

void TJPEGImage::ResizeWidth(int) {
  throw EInvalidGraphicOperation(SChangeJPGSize);
}
void TJPEGImage::ResizeHeight(int) {
  throw EInvalidGraphicOperation(SChangeJPGSize);
}

void TJPEGImage::ReadFormData(TStream& Stream) {
  const std::uint32_t count = Stream.ReadValue<std::uint32_t>();
  // A count beyond the stream is damage; refuse it before allocating for it.
  if (static_cast<std::int64_t>(count) > Stream.Remaining()) throw EReadError(SReadError);
  TMemoryStream body;
  body.SetSize(count);
  Stream.ReadBuffer(body.Data().data(), count);
  body.SetPosition(0);
  ReadGraphicStream(body);
}

void TJPEGImage::WriteFormData(TStream& Stream) {
  const std::uint32_t size =
      data_->HasData() ? static_cast<std::uint32_t>(data_->CompressedData->GetSize()) : 0;
  Stream.WriteBuffer(&size, sizeof size);
  if (size) Stream.WriteBuffer(data_->CompressedData->Memory(), size);
}

void TJPEGImage::ReadGraphicStream(TStream& Stream) {
  NewData();
  FreeBitmap();
  const std::int64_t remaining = Stream.GetSize() - Stream.GetPosition();
  auto compressed = std::make_unique<TMemoryStream>();
  if (remaining > 0) {
    if (static_cast<std::uint64_t>(remaining) > SIZE_MAX) throw EReadError(SReadError);
    compressed->SetSize(remaining);
    Stream.ReadBuffer(compressed->Data().data(), static_cast<std::size_t>(remaining));
  }
  data_->CompressedData = std::move(compressed);
  if (data_->HasData()) {
    jpegcodec::THeaderInfo info;
    const auto& bytes = data_->CompressedData->Data();
    if (int code = jpegcodec::ReadHeaderInfo(bytes.data(), bytes.size(), info)) {
      NewData();  // no half-read image stays behind
      CheckJpeg(code);
    }
    data_->NativeWidth = static_cast<std::int32_t>(info.Width);
    data_->NativeHeight = static_cast<std::int32_t>(info.Height);
    data_->IsGreyscale = info.Greyscale;
    settings_.IsProgressive = info.Progressive;
  }
  scaledWidth_ = ScaledSize(data_->NativeWidth, settings_.Scaling);
  scaledHeight_ = ScaledSize(data_->NativeHeight, settings_.Scaling);
  SetPaletteModified(true);
  NotifyChanged();
}

void TJPEGImage::WriteGraphicStream(TStream& Stream) {
  if (data_->HasData())
    Stream.WriteBuffer(data_->CompressedData->Memory(), data_->CompressedData->Data().size());
}

void TJPEGImage::ReadClipboard(plat::WORD, std::uintptr_t, plat::HPALETTE) {
  throw EInvalidGraphic(SJPEGNoClipboard);
}

void TJPEGImage::WriteClipboard(plat::WORD& Format, std::uintptr_t& Data, plat::HPALETTE& Palette) {
  Format = 0;
  Data = 0;
  Palette = nullptr;
}

void TJPEGImage::DecodeToBitmap() {
  if (bitmap_) return;
  bitmap_ = std::make_unique<TBitmap>();
  if (!data_->HasData()) return;  // nothing to decode: an empty bitmap

  TJpegDecodeSettings s;
  s.Scaling = settings_.Scaling;
  s.BlockSmoothing = settings_.BlockSmoothing;
  s.GreyOutput = settings_.GreyOutput;
  s.OutputDepth = settings_.OutputDepth;
  s.SpeedMode = settings_.SpeedMode;
  s.ShowProgressively = settings_.ShowProgressively;
  s.PresetPalette = PaletteColors(presetPalette_);
  if (OnProgress) s.TickCount = [] { return plat::Clocks().GetTickCount(); };

  TBitmapTarget target(*this, *bitmap_);
  const auto& bytes = data_->CompressedData->Data();
  auto finish = [this] {
    // A preset palette serves only 8-bit output.
    if (presetPalette_ && bitmap_->PixelFormat() != pf8bit) {
      plat::GdiSvc().DeleteObject(plat::Obj(presetPalette_));
      presetPalette_ = nullptr;
    }
    if (PaletteModified()) NotifyChanged();
  };
  try {
    DecodeJpeg(bytes.data(), bytes.size(), s, target);
  } catch (const EAbort&) {
    // A silent abort (from a progress handler) keeps what was decoded so far.
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void InitJpegUnit() {
  JpegDefaultSettings.OutputDepth = ScreenBitsPerPixel() <= 8 ? jf8Bit : jf24Bit;
  TFileFormatsList& formats = PictureFormats();
  if (formats.FindFormatByExtension("jpeg") != TJPEGImage::StaticClass() &&
      formats.FindFormatByExtension("jpg") != TJPEGImage::StaticClass()) {
    TPicture::RegisterPictureFormat("jpeg", SJPEGImageFile, TJPEGImage::StaticClass());
    TPicture::RegisterPictureFormat("jpg", SJPEGImageFile, TJPEGImage::StaticClass());
  }
}

void DoneJpegUnit() {
  TPicture::UnregisterGraphicClass(TJPEGImage::StaticClass());
}
