// Row conversions of the texture fill. Each vector kernel has the plain loop beside it, which gives the same
// words and serves where the processor lacks the instructions; tests compare the two.
#pragma once

#include <cstdint>

namespace pixelrows {

// n pixels of blue, green, red bytes into opaque 32-bit words 0xFFrrggbb.
void Bgr24ToXrgb32(const std::uint8_t* src, std::uint32_t* out, int n);
void Bgr24ToXrgb32Plain(const std::uint8_t* src, std::uint32_t* out, int n);
// Whether Bgr24ToXrgb32 takes the vector kernel on this processor.
bool Bgr24ToXrgb32Vector();

}  // namespace pixelrows
