// Decoding a whole JPEG image into a pixel target: decoder set-up from the picture's settings, 8-bit
// quantised, grey and 24-bit blue-green-red output, buffered-image display of multi-scan files, and the
// progress reports. The target is an interface so the same decoding fills a bitmap or a plain buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "picture/Graphics.h"
#include "picture/jpeg/JpegCodec.h"

DS_DECLARE_EXCEPTION(EJPEG, EInvalidGraphic);

inline constexpr const char* SJPEGError = "JPEG error #%d";
inline constexpr const char* SChangeJPGSize = "Cannot change the size of a JPEG image";
inline constexpr const char* SJPEGImageFile = "JPEG Image File";

// Raises EJPEG "JPEG error #%d" for a libjpeg message code; does nothing for 0.
void CheckJpeg(int code);

enum TJPEGPixelFormat : std::uint8_t { jf24Bit = 0, jf8Bit = 1 };
enum TJPEGPerformance : std::uint8_t { jpBestQuality = 0, jpBestSpeed = 1 };
enum TJPEGScale : std::uint8_t { jsFullSize = 0, jsHalf = 1, jsQuarter = 2, jsEighth = 3 };

// The process-wide defaults every new JPEG image copies; eight byte-sized fields.
struct TJPEGDefaults {
  std::uint8_t SaveQuality = 90;
  bool GreyOutput = false;
  TJPEGPerformance SpeedMode = jpBestQuality;
  TJPEGPixelFormat OutputDepth = jf24Bit;  // set from the screen by InitJpegUnit()
  bool ShowProgressively = false;
  bool IsProgressive = false;
  TJPEGScale Scaling = jsFullSize;
  bool BlockSmoothing = true;
};
static_assert(sizeof(TJPEGDefaults) == 8, "eight byte-sized settings");

extern TJPEGDefaults JpegDefaultSettings;

// Colours handed to the decoder as a fixed colour map, or made from its own map.
struct TJpegColor {
  std::uint8_t Red = 0, Green = 0, Blue = 0;
  bool operator==(const TJpegColor& o) const { return Red == o.Red && Green == o.Green && Blue == o.Blue; }
};

// Where decoded pixels go. Rows are 8-bit palette indices or 24-bit blue, green, red.
class TJpegTarget {
 public:
  virtual ~TJpegTarget() = default;
  virtual void SetEightBit(bool EightBit) = 0;
  virtual void SetSize(int Width, int Height) = 0;
  // First byte of a row, 0 <= Row < Height.
  virtual std::uint8_t* ScanLine(int Row) = 0;
  // A new palette for 8-bit output (the picture marks its palette modified).
  virtual void SetPalette(const std::vector<TJpegColor>& Colors) = 0;
  // Progress of the decoding (no message text).
  virtual void Progress(TProgressStage Stage, std::uint8_t PercentDone, bool RedrawNow, const TRect& R) = 0;
  // Whether the palette changed during this decoding (the redraw flag of the final report).
  virtual bool PaletteChanged() const = 0;
};

struct TJpegDecodeSettings {
  TJPEGScale Scaling = jsFullSize;
  bool BlockSmoothing = true;
  bool GreyOutput = false;
  TJPEGPixelFormat OutputDepth = jf24Bit;
  TJPEGPerformance SpeedMode = jpBestQuality;
  bool ShowProgressively = false;
  // Fixed colours for 8-bit output; empty for the decoder's own choice.
  std::vector<TJpegColor> PresetPalette;
  // Running progress reports are made only with a tick source (milliseconds).
  std::function<std::uint32_t()> TickCount;
};

// Follows libjpeg's progress figures and decides when a running report is due: at most once per 500 ms,
// never twice with the same percentage, with the rows finished since the last report.
class TJpegProgressTracker {
 public:
  // True when a report is due; fills the percentage, the rectangle and the redraw flag.
  bool Next(std::uint32_t Tick, const jpegcodec::TRawProgress& Raw, std::uint8_t& Percent, TRect& R,
            bool& RedrawNow);

 private:
  bool started_ = false;
  std::uint32_t lastTick_ = 0;
  int lastPercent_ = 0;
  std::uint32_t lastRow_ = 0;
};

// Decodes the complete image into the target. Errors raise EJPEG after the final psEnding report; an
// exception from a progress report (an abort) passes on the same way.
void DecodeJpeg(const std::uint8_t* Data, std::size_t Size, const TJpegDecodeSettings& Settings,
                TJpegTarget& Target);

// A plain top-down pixel buffer with 4-byte aligned rows: the target for tests and tools.
class TJpegPixels : public TJpegTarget {
 public:
  void SetEightBit(bool EightBit) override { EightBitOut = EightBit; }
  void SetSize(int Width, int Height) override;
  std::uint8_t* ScanLine(int Row) override;
  void SetPalette(const std::vector<TJpegColor>& Colors) override {
    Palette = Colors;
    paletteChanged_ = true;
  }
  void Progress(TProgressStage Stage, std::uint8_t PercentDone, bool RedrawNow, const TRect& R) override;
  bool PaletteChanged() const override { return paletteChanged_; }

  bool EightBitOut = false;
  int Width = 0, Height = 0;
  std::size_t Stride = 0;
  std::vector<std::uint8_t> Bits;
  std::vector<TJpegColor> Palette;
  // Every report, in order.
  struct TReport {
    TProgressStage Stage;
    std::uint8_t Percent;
    bool Redraw;
    TRect R;
  };
  std::vector<TReport> Reports;
  // Called after each report is recorded (tests throw from here).
  std::function<void(const TReport&)> OnReport;

 private:
  bool paletteChanged_ = false;
};
