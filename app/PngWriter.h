// A minimal PNG encoder for snapshots of the virtual screen: 8-bit RGB, one compressed image data chunk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Pixels are 0x00RRGGBB words (the high byte is ignored), row by row from the top. Raises Exception for a
// size that is not positive, does not match the pixel count or is too large to encode.
std::vector<std::uint8_t> EncodePng(int Width, int Height, const std::vector<std::uint32_t>& Pixels);
// Encodes and writes the file; raises EFCreateError when it cannot be written.
void SavePng(const std::string& FileName, int Width, int Height, const std::vector<std::uint32_t>& Pixels);
