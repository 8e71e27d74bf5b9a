#include "app/PictureDump.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <ostream>

#include "app/Program.h"
#include "core/Classes.h"
#include "core/SysUtils.h"
#include "picture/Graphics.h"
#include "picture/pngimage/pngimage.h"
#include "platform/soft/SoftPlatform.h"
#include "render/DIB.h"

namespace {

// Alpha the graphic itself carries, written over the dump's fourth bytes; false when it has none.
bool CopyOwnAlpha(TGraphic& Graphic, TPictureDump& Dump) {
  if (auto* png = dynamic_cast<TPNGObject*>(&Graphic)) {
    if (png->TransparencyMode() == ptmNone) return false;
    for (int y = 0; y < Dump.Height; ++y)
      for (int x = 0; x < Dump.Width; ++x)
        Dump.Rgba[(std::size_t(y) * Dump.Width + x) * 4 + 3] = png->AlphaAt(x, y);
    return true;
  }
  if (auto* dib = dynamic_cast<TDIB*>(&Graphic)) {
    if (dib->BitCount() != 32 || !dib->HasAlpha()) return false;
    for (int y = 0; y < Dump.Height; ++y) {
      const std::uint8_t* row = dib->RowReadOnly(y);
      for (int x = 0; x < Dump.Width; ++x)
        Dump.Rgba[(std::size_t(y) * Dump.Width + x) * 4 + 3] = row[x * 4 + 3];
    }
    return true;
  }
  return false;
}

// The text with each line break (CR, LF or CR LF) made one space.
std::string OneLine(const std::string& Text) {
  std::string line;
  for (std::size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] == '\r' || Text[i] == '\n') {
      if (Text[i] == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') ++i;
      line += ' ';
    } else {
      line += Text[i];
    }
  }
  return line;
}

}  // namespace

TPictureDump RenderGraphic(TGraphic& Graphic) {
  TPictureDump dump;
  dump.Width = Graphic.Width();
  dump.Height = Graphic.Height();
  std::size_t pixels = 0, bytes = 0;
  if (Graphic.Empty() || dump.Width <= 0 || dump.Height <= 0)
    throw EInvalidGraphic("The picture has no pixels");
  if (!CheckedMul(std::size_t(dump.Width), std::size_t(dump.Height), pixels) ||
      !CheckedMul(pixels, 4, bytes) || pixels > std::size_t(MaxPictureDumpPixels))
    throw EInvalidGraphic(Format("The picture is too large to dump (%d x %d)", dump.Width, dump.Height));

  TBitmap canvas;
  canvas.SetPixelFormat(pf32bit);
  canvas.SetSize(dump.Width, dump.Height);
  TCanvas& c = canvas.Canvas();
  c.Brush.Color = clBlack;
  c.Brush.Style = bsSolid;
  c.FillRect(Rect(0, 0, dump.Width, dump.Height));
  c.Draw(0, 0, &Graphic);

  dump.Rgba.resize(bytes);
  for (int y = 0; y < dump.Height; ++y) {
    const auto* row = static_cast<const std::uint8_t*>(canvas.ScanLine(y));
    std::uint8_t* out = &dump.Rgba[std::size_t(y) * dump.Width * 4];
    for (int x = 0; x < dump.Width; ++x, row += 4, out += 4) {
      out[0] = row[2];
      out[1] = row[1];
      out[2] = row[0];
      out[3] = 255;
    }
  }
  dump.HasAlpha = CopyOwnAlpha(Graphic, dump);
  return dump;
}

TPictureDump RenderPictureFile(const std::string& FileName) {
  TPicture picture;
  picture.LoadPictureFile(FileName);
  if (picture.Graphic() == nullptr) throw EInvalidGraphic("The picture has no pixels");
  return RenderGraphic(*picture.Graphic());
}

void WritePam(const TPictureDump& Dump, TStream& Out) {
  const int depth = Dump.HasAlpha ? 4 : 3;
  const std::string header =
      Format("P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL 255\nTUPLTYPE %s\nENDHDR\n", Dump.Width, Dump.Height,
             depth, std::string(Dump.HasAlpha ? "RGB_ALPHA" : "RGB"));
  Out.WriteBuffer(header.data(), header.size());
  if (Dump.Width <= 0 || Dump.Height <= 0) return;
  const std::size_t width = std::size_t(Dump.Width);
  const std::size_t rows = std::min(std::size_t(Dump.Height), Dump.Rgba.size() / (width * 4));
  std::vector<std::uint8_t> row(width * depth);
  for (std::size_t y = 0; y < rows; ++y) {
    const std::uint8_t* in = &Dump.Rgba[y * width * 4];
    if (depth == 4) {
      std::memcpy(row.data(), in, row.size());
    } else {
      std::uint8_t* out = row.data();
      for (std::size_t x = 0; x < width; ++x, in += 4, out += 3) {
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
      }
    }
    Out.WriteBuffer(row.data(), row.size());
  }
}

std::vector<std::uint8_t> EncodePam(const TPictureDump& Dump) {
  TMemoryStream out;
  WritePam(Dump, out);
  return out.Data();
}

int RunPictureDump(const std::string& Input, const std::string& Output, std::ostream& Err) {
  try {
    plat::soft::SoftOptions options;
    options.screenBitCount = 32;
    plat::soft::SoftPlatform platform(options);
    StartProgramUnits();
    struct Stop {
      ~Stop() { StopProgramUnits(); }
    } stop;
    const TPictureDump dump = RenderPictureFile(Input);
    TFileStream file(Output, TFileMode::fmCreate);
    WritePam(dump, file);
    return 0;
  } catch (const Exception& e) {
    Err << e.ClassName() << ": " << OneLine(e.Message) << '\n';
  } catch (const std::bad_alloc&) {
    Err << "EOutOfMemory: Out of memory\n";
  }
  return 1;
}
