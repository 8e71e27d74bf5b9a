#include "picture/jpeg/JpegDecode.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

TJPEGDefaults JpegDefaultSettings;

void CheckJpeg(int code) {
  if (code != 0) throw EJPEG(Format(SJPEGError, code));
}

bool TJpegProgressTracker::Next(std::uint32_t Tick, const jpegcodec::TRawProgress& Raw, std::uint8_t& Percent,
                                TRect& R, bool& RedrawNow) {
  if (!started_) {
    started_ = true;
    lastTick_ = Tick;
    return false;
  }
  if (Tick - lastTick_ < 500) return false;  // unsigned difference survives the tick count wrapping
  lastTick_ = Tick;
  if (Raw.PassLimit <= 0 || Raw.TotalPasses <= 0) return false;
  double done =
      (static_cast<double>(Raw.PassCounter) / Raw.PassLimit + Raw.CompletedPasses) * 100.0 / Raw.TotalPasses;
  int percent = std::clamp(static_cast<int>(done), 0, 100);
  if (percent == lastPercent_) return false;
  // A row number below the last one means a new output pass: finish the rectangle at the bottom.
  std::uint32_t bottom = Raw.OutputScanline < lastRow_ ? Raw.OutputHeight : Raw.OutputScanline;
  R = Rect(0, static_cast<std::int32_t>(lastRow_), static_cast<std::int32_t>(Raw.OutputWidth),
           static_cast<std::int32_t>(bottom));
  RedrawNow = R.Height() > 3;
  Percent = static_cast<std::uint8_t>(percent);
  lastPercent_ = percent;
  lastRow_ = Raw.OutputScanline;
  return true;
}

namespace {

bool IsCmyk(J_COLOR_SPACE cs) {
  return cs == JCS_CMYK || cs == JCS_YCCK;
}

// Colours of libjpeg's own colour map: one plane repeated for grey, planes 2, 1, 0 for red, green, blue
// since the output order is blue, green, red.
std::vector<TJpegColor> ColorMapColors(const jpeg_decompress_struct& ci) {
  std::vector<TJpegColor> colors;
  if (!ci.colormap || ci.actual_number_of_colors <= 0) return colors;
  colors.resize(static_cast<std::size_t>(ci.actual_number_of_colors));
  for (std::size_t i = 0; i < colors.size(); ++i) {
    if (ci.out_color_components == 1) {
      std::uint8_t v = ci.colormap[0][i];
      colors[i] = {v, v, v};
    } else {
      colors[i] = {ci.colormap[2][i], ci.colormap[1][i], ci.colormap[0][i]};
    }
  }
  return colors;
}

// Adobe writers store CMYK inverted; others store it plainly. Either way the result is blue, green, red.
void CmykToBgr(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t width, bool inverted) {
  for (std::uint32_t x = 0; x < width; ++x, src += 4, dst += 3) {
    unsigned c = src[0], m = src[1], y = src[2], k = src[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    dst[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
    dst[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
    dst[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
  }
}

// libjpeg-turbo's vector colour converters write a row that starts on a 32-byte boundary with streaming
// stores, which go around the cache. Bitmap rows usually start there, and the decoded picture is read again
// at once (to fill the texture), so on fresh memory that costs more than the copy it takes to avoid: such
// rows are converted into a small buffer that starts off that boundary and copied from it.
constexpr std::uintptr_t kStreamingAlignment = 32;
constexpr std::size_t kStagingOffset = 16;

class TDecodeRun {
 public:
  TDecodeRun(jpegcodec::TDecompressor& d, TJpegTarget& t) : d_(d), t_(t) {}

  // Writes every row of the current output pass top-down into successive target rows.
  void ReadAllRows() {
    jpeg_decompress_struct& ci = d_.Info();
    const std::uint32_t height = ci.output_height;
    const bool cmyk = ci.out_color_components == 4;
    std::uint32_t batch = 1;
    if (height >= 2 && !cmyk) {
      std::ptrdiff_t step = t_.ScanLine(1) - t_.ScanLine(0);
      if (step > 0 && step % 4 == 0) batch = static_cast<std::uint32_t>(std::max(1, ci.rec_outbuf_height));
    }
    std::size_t rowBytes = 0;
    if (!CheckedMul(ci.output_width, static_cast<std::size_t>(ci.out_color_components), rowBytes))
      CheckJpeg(jpegcodec::ImageTooBigCode());
    const bool staged = !cmyk && ci.out_color_components == 3 && !ci.quantize_colors && height > 0 &&
                        reinterpret_cast<std::uintptr_t>(t_.ScanLine(0)) % kStreamingAlignment == 0;
    std::size_t stagedStride = 0;
    if (cmyk) {
      staging_.resize(rowBytes);
    } else if (staged) {
      stagedStride = (rowBytes + kStreamingAlignment - 1) / kStreamingAlignment * kStreamingAlignment;
      staging_.resize(stagedStride * batch + kStreamingAlignment + kStagingOffset);
    }
    std::uint8_t* stage = staging_.data();
    if (staged) {
      const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(stage);
      stage += (kStreamingAlignment - at % kStreamingAlignment) % kStreamingAlignment + kStagingOffset;
    }
    std::vector<std::uint8_t*> rows(batch);
    while (ci.output_scanline < height) {
      std::uint32_t y = ci.output_scanline;
      std::uint32_t n = std::min(batch, height - y);
      for (std::uint32_t i = 0; i < n; ++i)
        rows[i] = cmyk ? stage : staged ? stage + i * stagedStride : t_.ScanLine(static_cast<int>(y + i));
      std::uint32_t got = 0;
      CheckJpeg(d_.ReadScanlines(rows.data(), n, &got));
      if (got == 0) break;  // cannot happen with in-memory data; never spin
      if (cmyk)
        CmykToBgr(stage, t_.ScanLine(static_cast<int>(y)), ci.output_width, ci.saw_Adobe_marker);
      else if (staged)
        for (std::uint32_t i = 0; i < got; ++i)
          std::memcpy(t_.ScanLine(static_cast<int>(y + i)), rows[i], rowBytes);
    }
  }

 private:
  jpegcodec::TDecompressor& d_;
  TJpegTarget& t_;
  std::vector<std::uint8_t> staging_;  // CMYK rows before conversion, or rows kept off the streaming path
};

}  // namespace

void DecodeJpeg(const std::uint8_t* Data, std::size_t Size, const TJpegDecodeSettings& Settings,
                TJpegTarget& Target) {
  jpegcodec::TDecompressor d(Data, Size);
  CheckJpeg(d.CreateStatus());
  TJpegProgressTracker tracker;
  if (Settings.TickCount) {
    d.SetProgressHook([&](const jpegcodec::TRawProgress& raw) {
      std::uint8_t percent = 0;
      TRect r;
      bool redraw = false;
      if (tracker.Next(Settings.TickCount(), raw, percent, r, redraw))
        Target.Progress(psRunning, percent, redraw, r);
    });
  }

  // Decoder set-up from the settings.
  CheckJpeg(d.ReadHeader());
  jpeg_decompress_struct& ci = d.Info();
  ci.scale_num = 1;
  ci.scale_denom = 1u << std::min<unsigned>(Settings.Scaling, 3);
  ci.do_block_smoothing = Settings.BlockSmoothing ? TRUE : FALSE;
  const bool cmyk = IsCmyk(ci.jpeg_color_space);
  if (Settings.GreyOutput)
    ci.out_color_space = JCS_GRAYSCALE;
  else if (ci.out_color_space == JCS_RGB)
    ci.out_color_space = JCS_EXT_BGR;
  const bool grey = ci.out_color_space == JCS_GRAYSCALE;
  // Four-component output cannot be quantised into a colour palette, so CMYK always becomes 24-bit.
  if ((Settings.OutputDepth == jf8Bit && !cmyk) || grey) {
    ci.quantize_colors = TRUE;
    ci.desired_number_of_colors = 236;
  }
  if (Settings.SpeedMode == jpBestSpeed) {
    ci.dct_method = JDCT_IFAST;
    ci.two_pass_quantize = FALSE;
    ci.dither_mode = JDITHER_ORDERED;
  }
  const bool buffered = Settings.ShowProgressively && d.HasMultipleScans();
  const boolean twoPass = ci.two_pass_quantize;
  if (buffered) {
    ci.buffered_image = TRUE;
    ci.dct_method = JDCT_IFAST;
    if (ci.quantize_colors) ci.enable_2pass_quant = twoPass;
    ci.two_pass_quantize = FALSE;
    ci.dither_mode = JDITHER_ORDERED;
  }

  const bool eightBit = ci.quantize_colors != FALSE;
  Target.SetEightBit(eightBit);
  Target.Progress(psStarting, 0, false, TRect());
  try {
    // A preset palette becomes the decoder's fixed colour map; grey output keeps its own grey levels.
    bool preset = false;
    if (eightBit && !Settings.PresetPalette.empty() && !grey) {
      const std::size_t n = std::min<std::size_t>(Settings.PresetPalette.size(), 256);
      std::vector<std::uint8_t> planes(3 * n);
      for (std::size_t i = 0; i < n; ++i) {
        planes[i] = Settings.PresetPalette[i].Blue;
        planes[n + i] = Settings.PresetPalette[i].Green;
        planes[2 * n + i] = Settings.PresetPalette[i].Red;
      }
      CheckJpeg(d.SetColorMap(planes.data(), planes.data() + n, planes.data() + 2 * n, static_cast<int>(n)));
      Target.SetPalette(
          std::vector<TJpegColor>(Settings.PresetPalette.begin(), Settings.PresetPalette.begin() + n));
      preset = true;
    }
    CheckJpeg(d.StartDecompress());
    Target.SetSize(static_cast<int>(ci.output_width), static_cast<int>(ci.output_height));
    TDecodeRun run(d, Target);
    if (buffered) {
      while (!d.InputComplete()) {
        CheckJpeg(d.StartOutput(ci.input_scan_number));
        if (eightBit && !preset) Target.SetPalette(ColorMapColors(ci));
        run.ReadAllRows();
        CheckJpeg(d.FinishOutput());
      }
      // The final pass uses the quantiser chosen for quality; a new colour map is made for it.
      if (ci.quantize_colors && twoPass && !preset) {
        ci.two_pass_quantize = TRUE;
        ci.colormap = nullptr;
      }
      CheckJpeg(d.StartOutput(ci.input_scan_number));
    }
    if (eightBit && !preset) Target.SetPalette(ColorMapColors(ci));
    run.ReadAllRows();
    if (buffered) CheckJpeg(d.FinishOutput());
    CheckJpeg(d.FinishDecompress());
  } catch (...) {
    Target.Progress(psEnding, 0, Target.PaletteChanged(), TRect());
    throw;
  }
  Target.Progress(psEnding, 100, Target.PaletteChanged(), TRect());
}

void TJpegPixels::SetSize(int W, int H) {
  std::size_t stride = 0, total = 0;
  const std::size_t bytesPerPixel = EightBitOut ? 1 : 3;
  if (W < 0 || H < 0 || !CheckedMul(static_cast<std::size_t>(W), bytesPerPixel, stride) ||
      !CheckedAdd(stride, 3, stride) ||
      !CheckedMul(stride & ~std::size_t(3), static_cast<std::size_t>(H), total))
    CheckJpeg(jpegcodec::ImageTooBigCode());
  Width = W;
  Height = H;
  Stride = stride & ~std::size_t(3);
  Bits.assign(total, 0);
}

std::uint8_t* TJpegPixels::ScanLine(int Row) {
  if (Row < 0 || Row >= Height) throw EInvalidGraphic(SScanLine);
  return Bits.data() + static_cast<std::size_t>(Row) * Stride;
}

void TJpegPixels::Progress(TProgressStage Stage, std::uint8_t PercentDone, bool RedrawNow, const TRect& R) {
  Reports.push_back({Stage, PercentDone, RedrawNow, R});
  if (OnReport) OnReport(Reports.back());
}
