// The glue between the picture code and the libjpeg decompressor: a memory data source, an error manager
// that turns libjpeg's fatal errors into message codes, and a progress hook. Every libjpeg call runs inside
// one guard function that owns no C++ objects, so libjpeg's error jump never skips a destructor; C++
// exceptions thrown by callbacks are parked while libjpeg unwinds and raised again after the guard returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <exception>
#include <functional>

#include <jpeglib.h>

namespace jpegcodec {

// Largest width or height libjpeg itself accepts.
constexpr std::uint32_t kMaxDimension = JPEG_MAX_DIMENSION;

// Process-wide caps that keep a hostile header from making us allocate without bound. A header whose
// width x height exceeds PixelLimit is refused with libjpeg's "image too big" code before any pixel memory
// is taken; MemoryLimit bounds libjpeg's own working memory (progressive coefficient buffers).
struct TLimits {
  std::uint64_t PixelLimit = std::uint64_t(1) << 26;  // 64 megapixels: an 8K wallpaper has 33
  long MemoryLimit = 512L * 1024 * 1024;
};
TLimits& Limits();

// libjpeg's code for a header that is too large for the limits above.
int ImageTooBigCode();

// Raw progress figures from libjpeg's progress monitor, in its own terms.
struct TRawProgress {
  long PassCounter = 0;
  long PassLimit = 0;
  int CompletedPasses = 0;
  int TotalPasses = 0;
  std::uint32_t OutputScanline = 0;
  std::uint32_t OutputWidth = 0;
  std::uint32_t OutputHeight = 0;
};

// One libjpeg decompressor reading from memory it does not own. Every operation returns 0 on success or
// libjpeg's message code for the fatal error that stopped it; an exception thrown by the progress hook is
// raised again from the operation that was running.
class TDecompressor {
 public:
  TDecompressor(const std::uint8_t* data, std::size_t size);
  ~TDecompressor();
  TDecompressor(const TDecompressor&) = delete;
  TDecompressor& operator=(const TDecompressor&) = delete;

  // Status of construction (creating the decompressor can fail only on memory).
  int CreateStatus() const { return createStatus_; }

  jpeg_decompress_struct& Info();

  // Called from inside libjpeg during decoding; may throw.
  void SetProgressHook(std::function<void(const TRawProgress&)> hook);

  int ReadHeader();  // an image is required
  int StartDecompress();
  // Reads up to maxLines rows into rows[]; *linesRead receives how many arrived.
  int ReadScanlines(std::uint8_t** rows, std::uint32_t maxLines, std::uint32_t* linesRead);
  int StartOutput(int scanNumber);
  int FinishOutput();
  int FinishDecompress();
  bool InputComplete();
  bool HasMultipleScans();
  // Installs a colour map of n colours given as three planes (component 0, 1 and 2) in the image pool.
  int SetColorMap(const std::uint8_t* c0, const std::uint8_t* c1, const std::uint8_t* c2, int n);

  // The state shared with libjpeg's callbacks; the error manager and source must come first so libjpeg's
  // pointers to them can be turned back into the session.
  struct Session;

 private:
  int Run(void (*step)(Session&, void*), void* arg);

  Session* session_;
  int createStatus_ = 0;
};

// Header facts of a JPEG stream, for loading without decoding.
struct THeaderInfo {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  bool Greyscale = false;
  bool Progressive = false;  // more than one scan
};

// Reads only the header; returns 0 or libjpeg's message code. Sizes beyond Limits() are refused.
int ReadHeaderInfo(const std::uint8_t* data, std::size_t size, THeaderInfo& info);

}  // namespace jpegcodec
