// TJPEGImage: the JPEG picture kind. Loading keeps the file's bytes and reads only the header; the pixels
// are decoded once, into a TBitmap, the first time they are needed.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "picture/Graphics.h"
#include "picture/jpeg/JpegDecode.h"

// The compressed file and its header facts, shared between images assigned from one another.
class TJPEGData : public TSharedImage {
 public:
  std::unique_ptr<TMemoryStream> CompressedData;  // none until something was read
  std::int32_t NativeWidth = 0;
  std::int32_t NativeHeight = 0;
  bool IsGreyscale = false;

  bool HasData() const { return CompressedData && CompressedData->GetSize() > 0; }

 protected:
  void FreeHandle() override {}
};

class TJPEGImage : public TGraphic {
 public:
  DS_GRAPHIC_CLASS(TJPEGImage, TGraphic)
  TJPEGImage();
  ~TJPEGImage() override;

  void Assign(const TGraphic* Source) override;
  void AssignTo(TGraphic* Dest) const override;

  void DrawGraphic(TCanvas& ACanvas, const TRect& Rect) override;
  bool IsEmpty() const override;
  int ImageHeight() const override;
  plat::HPALETTE QueryPalette() override;
  int ImageWidth() const override;
  void ReadFormData(TStream& Stream) override;
  void ResizeHeight(int Value) override;
  // Takes ownership of the palette.
  void ReplacePalette(plat::HPALETTE Value) override;
  void ResizeWidth(int Value) override;
  void WriteFormData(TStream& Stream) override;
  void ReadGraphicStream(TStream& Stream) override;
  // Writes the compressed file as it was read (nothing when there is none: this kind does not encode).
  void WriteGraphicStream(TStream& Stream) override;
  void ReadClipboard(plat::WORD Format, std::uintptr_t Data, plat::HPALETTE Palette) override;
  void WriteClipboard(plat::WORD& Format, std::uintptr_t& Data, plat::HPALETTE& Palette) override;

  // Decodes the whole image into DecodedBitmap unless that exists already.
  void DecodeToBitmap();
  // The decoded pixels, or null before decoding.
  TBitmap* DecodedBitmap() const { return bitmap_.get(); }
  const TJPEGData& Data() const { return *data_; }

  // The settings, copied from JpegDefaultSettings when the image is made. Changing one discards decoded
  // pixels so the next use decodes with the new value.
  const TJPEGDefaults& Settings() const { return settings_; }
  TJPEGScale Scale() const { return settings_.Scaling; }
  void SetScale(TJPEGScale Value);
  TJPEGPerformance Performance() const { return settings_.SpeedMode; }
  void SetPerformance(TJPEGPerformance Value);
  bool ProgressiveDisplay() const { return settings_.ShowProgressively; }
  void SetProgressiveDisplay(bool Value);
  bool Smoothing() const { return settings_.BlockSmoothing; }
  void SetSmoothing(bool Value);
  bool Grayscale() const { return settings_.GreyOutput; }
  void SetGrayscale(bool Value);
  TJPEGPixelFormat PixelFormat() const { return settings_.OutputDepth; }
  void SetPixelFormat(TJPEGPixelFormat Value);
  bool ProgressiveEncoding() const { return settings_.IsProgressive; }
  std::uint8_t CompressionQuality() const { return settings_.SaveQuality; }

 private:
  class TBitmapTarget;
  void NewData();
  void FreeBitmap();
  template <typename T>
  void ChangeSetting(T& Field, T Value);
  void ReportProgress(TProgressStage Stage, std::uint8_t PercentDone, bool RedrawNow, const TRect& R);

  TJPEGData* data_ = nullptr;
  std::unique_ptr<TBitmap> bitmap_;
  std::int32_t scaledWidth_ = 0;
  std::int32_t scaledHeight_ = 0;
  plat::HPALETTE presetPalette_ = nullptr;
  TJPEGDefaults settings_;
};

// Start-up of the JPEG unit: takes the default output depth from the screen (8-bit on screens of 8 bits per
// pixel or fewer) and registers "jpeg" and "jpg". Needs the platform's GDI; safe to call again.
void InitJpegUnit();
// Shutdown: removes the JPEG formats.
void DoneJpegUnit();
