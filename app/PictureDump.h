// The picture-dump tool's work, callable in-process: load any picture file the program can load, draw it at
// its own size onto a black 32-bit canvas, and write the pixels as a PAM file. Reference decoders write the
// same format, so readers can be compared against them file by file.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

class TGraphic;
class TStream;

struct TPictureDump {
  int Width = 0;
  int Height = 0;
  // True when the graphic carries its own alpha (a PNG with transparency, a 32-bit DIB with alpha bytes).
  bool HasAlpha = false;
  // Top-down pixels, four bytes each: red, green, blue as drawn over black, then the graphic's alpha (255
  // when it has none).
  std::vector<std::uint8_t> Rgba;
};

// The largest picture dumped: 8192 x 8192. A metafile may claim any size from a few header bytes, and the
// canvas and the output together take eight bytes per pixel.
constexpr std::int64_t MaxPictureDumpPixels = std::int64_t(1) << 26;

// Draws a graphic at its own size. Needs the platform services and the picture units started. Raises
// EInvalidGraphic for a graphic without pixels or with more than MaxPictureDumpPixels.
TPictureDump RenderGraphic(TGraphic& Graphic);
// Loads a file through TPicture::LoadPictureFile and renders it; the loader's exceptions pass on.
TPictureDump RenderPictureFile(const std::string& FileName);
// PAM bytes: DEPTH 4 RGB_ALPHA when the dump has alpha, else DEPTH 3 RGB; MAXVAL 255. WritePam writes them
// row by row.
std::vector<std::uint8_t> EncodePam(const TPictureDump& Dump);
void WritePam(const TPictureDump& Dump, TStream& Out);

// The whole tool: installs a soft platform (32-bit screen), starts the program's units, renders Input and
// writes Output. Returns 0, or 1 after one line "<ExceptionClass>: <message>" on Err (the message's line
// breaks as spaces).
int RunPictureDump(const std::string& Input, const std::string& Output, std::ostream& Err);
