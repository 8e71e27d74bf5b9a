// Feeds arbitrary bytes to the DIB readers (the stored body, and a .dib file), then touches every pixel the
// way drawing and the texture cache do: rows, alpha test and extraction, and writing back.
#include <cstddef>
#include <cstdint>

#include "render/DIB.h"

namespace {

// Pixel memory above this is not worth a fuzzing run (run-length data may claim it from a few bytes).
constexpr std::int64_t kMaxPixelBytes = 1 << 20;

void Exercise(TDIB& dib) {
  if (dib.IsEmpty()) return;
  std::int32_t stride = 0, size = 0;
  if (!ComputeDIBLayout(dib.Width(), dib.Height(), dib.BitCount(), stride, size) || size > kMaxPixelBytes)
    return;
  unsigned sum = 0;
  for (std::int32_t y = 0; y < dib.Height(); ++y) {
    const std::uint8_t* row = dib.RowReadOnly(y);
    sum += row[0] + row[stride - 1];
  }
  (void)sum;
  if (dib.HasAlpha()) dib.ExtractAlpha();
  TMemoryStream out;
  dib.WriteGraphicStream(out);
  TDIB copy;
  copy.Assign(&dib);
  copy.Row(0)[0] ^= 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InitDIBUnit();
  for (int asFile = 0; asFile < 2; ++asFile) {
    TDIB dib;
    TReadOnlyMemoryStream in(data, size);
    try {
      if (asFile)
        dib.ReadGraphicStream(in);
      else
        dib.ReadFormData(in);
      Exercise(dib);
    } catch (const Exception&) {
      // Every refusal is an exception with a message; anything else escapes and is a finding.
    }
  }
  return 0;
}
