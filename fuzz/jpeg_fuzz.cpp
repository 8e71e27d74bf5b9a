// Loads arbitrary bytes as a JPEG file (header only, as loading does) and decodes the image with settings
// picked from the data, into a plain pixel buffer.
#include <cstddef>
#include <cstdint>

#include "picture/jpeg/JpegDecode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Keep each run's memory modest; the caps themselves are what a hostile header must not get past.
  jpegcodec::Limits().PixelLimit = std::uint64_t(1) << 22;
  jpegcodec::Limits().MemoryLimit = 64L * 1024 * 1024;
  if (size < 1) return 0;
  const std::uint8_t options = data[0];
  ++data;
  --size;

  jpegcodec::THeaderInfo info;
  if (jpegcodec::ReadHeaderInfo(data, size, info) != 0) return 0;

  TJpegDecodeSettings s;
  s.Scaling = static_cast<TJPEGScale>(options & 3);
  s.OutputDepth = (options & 4) ? jf8Bit : jf24Bit;
  s.SpeedMode = (options & 8) ? jpBestSpeed : jpBestQuality;
  s.ShowProgressively = (options & 16) != 0;
  s.GreyOutput = (options & 32) != 0;
  s.BlockSmoothing = (options & 64) == 0;
  if (options & 128) {
    for (int i = 0; i < 16; ++i)
      s.PresetPalette.push_back({std::uint8_t(i * 17), std::uint8_t(255 - i * 17), 0});
  }
  std::uint32_t tick = 0;
  s.TickCount = [&tick] { return tick += 600; };
  TJpegPixels pixels;
  try {
    DecodeJpeg(data, size, s, pixels);
  } catch (const EJPEG&) {
  }
  return 0;
}
