// TPNGObject: reading the chunk stream, pixel access, unit start-up and the icon decoder hook.
#include <algorithm>
#include <cstring>

#include <zlib.h>

#include "picture/pngimage/pngimage.h"
#include "platform/Platform.h"

// The chunk classes must be known before any read, even when the unit start-up has not run yet.
TPNGObject::TPNGObject() {
  RegisterStandardChunks();
  ResetGammaMaps();
}

TPNGObject::~TPNGObject() {
  ClearChunks();
}

void TPNGObject::ResetGammaMaps() {
  png::IdentityMap(GammaMap);
  png::IdentityMap(InverseGammaMap);
}

void TPNGObject::ClearChunks() {
  ResetGammaMaps();
  Chunks.Clear();
  ImageDataRead = false;
}

TChunkIHDR& TPNGObject::HeaderChunk() const {
  if (Chunks.Count() == 0 || Chunks.Item(0)->ClassType() != TChunkIHDR::StaticClass())
    throw EPNGHeaderNotPresent(EPngHeaderNotPresentText);
  return *static_cast<TChunkIHDR*>(Chunks.Item(0));
}

namespace {
bool IsType(const TChunkType& t, const char* name) {
  return std::memcmp(t.data(), name, 4) == 0;
}
}  // namespace

void TPNGObject::ReadGraphicStream(TStream& Stream) {
  ClearChunks();
  std::uint8_t sig[8] = {};
  if (Stream.Read(sig, 8) != 8 || std::memcmp(sig, png::kSignature, 8) != 0)
    throw EPNGInvalidFileHeader(EPngInvalidFileHeaderText);

  for (int count = 1;; ++count) {
    std::uint8_t head[8] = {};
    // A stream that stops inside a chunk's length or type has ended unexpectedly as well.
    if (Stream.Read(head, 4) != 4) throw EPngUnexpectedEnd(EPngUnexpectedEndText);
    if (Stream.Read(head + 4, 4) != 4) throw EPngUnexpectedEnd(EPngUnexpectedEndText);
    const std::uint32_t length = png::ReadBE32(head);
    TChunkType type;
    std::memcpy(type.data(), head + 4, 4);
    if (count == 1 && !IsType(type, "IHDR")) throw EPNGIHDRNotFirst(EPngIHDRNotFirstText);

    if (IsType(type, "cHRM") || (IsType(type, "IDAT") && ImageDataRead)) {
      Stream.Seek(std::int64_t(length) + 4, TSeekOrigin::soCurrent);
    } else {
      TChunk* chunk = Chunks.Add(ChunkForType(this, type));
      if (chunk->ClassType() == TChunk::StaticClass() && (type[0] & 0x20) == 0)
        throw EPNGUnknownCriticalChunk(EPngUnknownCriticalChunkText);
      if (!chunk->ReadChunk(Stream, type, length)) break;
      if (IsType(type, "IDAT")) ImageDataRead = true;
    }
    if (IsType(type, "IEND")) break;
  }
  if (!ImageDataRead) throw EPNGNoImageData(EPngNoImageDataText);
}

namespace {

// Raw samples of file row y, rebuilt from the store (inverse gamma for colour samples, low bytes and alpha
// from their planes).
void StoreRowToSamples(const TPNGObject& image, const TChunkIHDR& h, std::uint32_t y, std::uint8_t* out) {
  const std::uint8_t* line = h.StoreBits + std::size_t(h.Height - 1 - y) * h.StoreRowBytes;
  const std::uint8_t* low = h.LowBytePlane.empty()
                                ? nullptr
                                : h.LowBytePlane.data() + std::size_t(h.Height - 1 - y) * h.StoreRowBytes;
  const std::uint8_t* alpha = h.AlphaPlane.empty() ? nullptr : h.AlphaPlane.data() + std::size_t(y) * h.Width;
  const png::TByteMap& inv = image.InverseGammaMap;
  const unsigned d = h.BitDepth;
  switch (h.ColorType) {
    case 0:
    case 3:
      if (d == 16) {
        for (std::uint32_t x = 0; x < h.Width; ++x) {
          *out++ = line[x];
          *out++ = low ? low[x] : 0;
        }
      } else if (d == 2) {
        std::memset(out, 0, png::RowBytesFor(h.ColorType, 2, h.Width));
        for (std::uint32_t x = 0; x < h.Width; ++x) {
          const unsigned index = (line[x / 2] >> (x % 2 ? 0 : 4)) & 15;
          const unsigned v = h.ColorType == 3 ? index & 3 : index >> 2;
          out[x / 4] = std::uint8_t(out[x / 4] | (v << (6 - 2 * (x % 4))));
        }
      } else {
        std::memcpy(out, line, png::RowBytesFor(h.ColorType, h.BitDepth, h.Width));
      }
      break;
    case 4:
      for (std::uint32_t x = 0; x < h.Width; ++x) {
        *out++ = line[x];
        if (d == 16) *out++ = low ? low[x] : 0;
        *out++ = alpha ? alpha[x] : 255;
        if (d == 16) *out++ = 0;
      }
      break;
    case 2:
    case 6:
      for (std::uint32_t x = 0; x < h.Width; ++x) {
        const std::uint8_t* p = line + std::size_t(x) * 3;
        const std::uint8_t* l = low ? low + std::size_t(x) * 3 : nullptr;
        for (int c = 2; c >= 0; --c) {
          *out++ = inv[p[c]];
          if (d == 16) *out++ = l ? inv[l[c]] : 0;
        }
        if (h.ColorType == 6) {
          *out++ = alpha ? alpha[x] : 255;
          if (d == 16) *out++ = 0;
        }
      }
      break;
    default:
      break;
  }
}

void WriteRawChunk(TStream& s, const char* type, const std::uint8_t* data, std::size_t size) {
  std::uint8_t head[8];
  png::WriteBE32(head, static_cast<std::uint32_t>(size));
  std::memcpy(head + 4, type, 4);
  s.WriteBuffer(head, 8);
  if (size) s.WriteBuffer(data, size);
  std::uint8_t crc[4];
  png::WriteBE32(crc, png::ChunkCrc(type, data, size));
  s.WriteBuffer(crc, 4);
}

}  // namespace

// Writes the kept chunks in order; the header and the image data are rebuilt from the store (rows without
// interlacing, filter 0), so what was decoded, and any pixel set since, is what gets written.
void TPNGObject::WriteGraphicStream(TStream& Stream) {
  Stream.WriteBuffer(png::kSignature, 8);
  bool dataWritten = false;
  for (int i = 0; i < Chunks.Count(); ++i) {
    TChunk* c = Chunks.Item(i);
    if (i == 0 && c->ClassType() == TChunkIHDR::StaticClass()) {
      const auto& h = static_cast<const TChunkIHDR&>(*c);
      std::uint8_t d[13];
      png::WriteBE32(d, h.Width);
      png::WriteBE32(d + 4, h.Height);
      d[8] = h.BitDepth;
      d[9] = h.ColorType;
      d[10] = h.CompressionMethod;
      d[11] = h.FilterMethod;
      d[12] = 0;
      WriteRawChunk(Stream, "IHDR", d, sizeof d);
    } else if (c->ClassType() == TChunkIDAT::StaticClass()) {
      if (dataWritten) continue;
      dataWritten = true;
      const TChunkIHDR& h = HeaderChunk();
      if (!h.StoreBits) continue;
      const std::size_t rowBytes = png::RowBytesFor(h.ColorType, h.BitDepth, h.Width);
      std::size_t rawSize = 0;
      if (!CheckedMul(rowBytes + 1, h.Height, rawSize)) throw EPNGOutMemory(EPngOutMemoryText);
      std::vector<std::uint8_t> raw(rawSize, 0);
      for (std::uint32_t y = 0; y < h.Height; ++y)
        StoreRowToSamples(*this, h, y, raw.data() + y * (rowBytes + 1) + 1);
      uLongf zsize = compressBound(static_cast<uLong>(raw.size()));
      std::vector<std::uint8_t> z(zsize);
      if (compress2(z.data(), &zsize, raw.data(), static_cast<uLong>(raw.size()),
                    std::clamp(CompressionLevel, 0, 9)) != Z_OK)
        throw EPNGOutMemory(EPngOutMemoryText);
      const std::size_t maxChunk = static_cast<std::size_t>(std::max(MaxIdatSize, 1));
      for (std::size_t pos = 0; pos < zsize; pos += maxChunk)
        WriteRawChunk(Stream, "IDAT", z.data() + pos, std::min<std::size_t>(maxChunk, zsize - pos));
    } else {
      c->WriteChunk(Stream);
    }
  }
}

void TPNGObject::Assign(const TGraphic* Source) {
  if (Source && Source->ClassType() == StaticClass()) {
    const auto* src = static_cast<const TPNGObject*>(Source);
    if (src == this) return;
    TMemoryStream m;
    const_cast<TPNGObject*>(src)->WriteGraphicStream(m);
    m.SetPosition(0);
    if (src->IsEmpty()) {
      ClearChunks();
    } else {
      ReadGraphicStream(m);
    }
    NotifyChanged();
    return;
  }
  TGraphic::Assign(Source);
}

bool TPNGObject::IsEmpty() const {
  return Chunks.Count() == 0;
}

int TPNGObject::ImageWidth() const {
  if (Chunks.Count() == 0 || Chunks.Item(0)->ClassType() != TChunkIHDR::StaticClass()) return 0;
  return static_cast<int>(HeaderChunk().Width);
}

int TPNGObject::ImageHeight() const {
  if (Chunks.Count() == 0 || Chunks.Item(0)->ClassType() != TChunkIHDR::StaticClass()) return 0;
  return static_cast<int>(HeaderChunk().Height);
}

plat::HPALETTE TPNGObject::QueryPalette() {
  if (ImageWidth() == 0) return nullptr;
  return HeaderChunk().StorePalette;
}

bool TPNGObject::QueryTransparent() const {
  return TransparencyMode() != ptmNone;
}

void TPNGObject::ResizeWidth(int Value) {
  if (Value < 1) throw EPNGInvalidNewSize(EPngInvalidNewSizeText);
  TChunkIHDR& h = HeaderChunk();
  h.Width = static_cast<std::uint32_t>(Value);
  h.PrepareImageStore();
  NotifyChanged();
}

void TPNGObject::ResizeHeight(int Value) {
  if (Value < 1) throw EPNGInvalidNewSize(EPngInvalidNewSizeText);
  TChunkIHDR& h = HeaderChunk();
  h.Height = static_cast<std::uint32_t>(Value);
  h.PrepareImageStore();
  NotifyChanged();
}

void TPNGObject::ReadClipboard(plat::WORD, std::uintptr_t, plat::HPALETTE) {}

void TPNGObject::WriteClipboard(plat::WORD& Format, std::uintptr_t& Data, plat::HPALETTE& Palette) {
  Format = 0;
  Data = 0;
  Palette = nullptr;
}

// ---------------------------------------------------------------------------------------------------------
// Transparency and pixels

TPNGTransparencyMode TPNGObject::TransparencyMode() const {
  if (ImageWidth() == 0) return ptmNone;
  const TChunkIHDR& h = HeaderChunk();
  const TChunktRNS* t = Chunks.Find<TChunktRNS>();
  switch (h.ColorType) {
    case 0:
    case 2:
      return t ? ptmBit : ptmNone;
    case 3:
      if (!t) return ptmNone;
      // One entry that is not fully transparent cannot be drawn as a colour key; blend it instead.
      if (t->SingleTransparent && std::find(t->AlphaTable.begin(), t->AlphaTable.begin() + t->ChunkSize, 0) !=
                                      t->AlphaTable.begin() + t->ChunkSize)
        return ptmBit;
      return ptmPartial;
    case 4:
    case 6:
      return ptmPartial;
    default:
      return ptmNone;
  }
}

namespace {
TColor RGBQuadColor(const plat::RGBQUAD& q) {
  return TColor(q.rgbRed | (q.rgbGreen << 8) | (q.rgbBlue << 16));
}
}  // namespace

TColor TPNGObject::TransparentKey() const {
  if (ImageWidth() == 0) return 0;
  const TChunkIHDR& h = HeaderChunk();
  const TChunktRNS* t = Chunks.Find<TChunktRNS>();
  if (!t) return 0;
  auto sample = [&](unsigned i) -> unsigned {
    return 2 * i + 1 < t->ChunkSize ? png::ReadBE16(t->ChunkData.data() + 2 * i) : 0;
  };
  switch (h.ColorType) {
    case 0: {
      // The key goes through the same sample-to-index conversion as the pixels (high byte of 16-bit samples).
      const unsigned index = png::GreySampleToIndex(sample(0), h.BitDepth) & 0xFF;
      return RGBQuadColor(h.StoreInfo.bmiColors[index]);
    }
    case 2: {
      auto level = [&](unsigned i) -> unsigned {
        const unsigned s = sample(i);
        return GammaMap[h.BitDepth == 16 ? s >> 8 : s & 0xFF];
      };
      return TColor(level(0) | (level(1) << 8) | (level(2) << 16));
    }
    case 3: {
      // The key is the palette colour of the first fully transparent entry; an entry the palette lacks
      // cannot give one (drawing fails rather than key on an arbitrary colour).
      const TChunkPLTE* p = Chunks.Find<TChunkPLTE>();
      for (unsigned i = 0; i < t->ChunkSize && i < 256; ++i) {
        if (t->AlphaTable[i] != 0) continue;
        if (!p) throw EPngError(EPngUnknownPalEntryText);
        return p->Item(i);
      }
      return 0;
    }
    default:
      return 0;
  }
}

namespace {

unsigned StoreIndex(const TChunkIHDR& h, std::uint32_t x, std::uint32_t y) {
  const std::uint8_t* line = h.StoreBits + std::size_t(h.Height - 1 - y) * h.StoreRowBytes;
  const unsigned bits = h.StoreBitsPerPixel();
  const std::size_t bit = std::size_t(x) * bits;
  return (line[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
}

}  // namespace

TColor TPNGObject::PixelAt(int X, int Y) const {
  if (X < 0 || Y < 0 || X >= ImageWidth() || Y >= ImageHeight()) return 0;
  const TChunkIHDR& h = HeaderChunk();
  if (!h.StoreBits) return 0;
  if (h.UsesPalette) return RGBQuadColor(h.StoreInfo.bmiColors[StoreIndex(h, X, Y)]);
  const std::uint8_t* p = h.StoreBits + std::size_t(h.Height - 1 - Y) * h.StoreRowBytes + std::size_t(X) * 3;
  return TColor(p[2] | (p[1] << 8) | (p[0] << 16));
}

void TPNGObject::SetPixelAt(int X, int Y, TColor Color) {
  if (X < 0 || Y < 0 || X >= ImageWidth() || Y >= ImageHeight()) return;
  TChunkIHDR& h = HeaderChunk();
  if (!h.StoreBits) return;
  const int r = Color & 0xFF, g = (Color >> 8) & 0xFF, b = (Color >> 16) & 0xFF;
  std::uint8_t* line = h.StoreBits + std::size_t(h.Height - 1 - Y) * h.StoreRowBytes;
  if (!h.UsesPalette) {
    line[std::size_t(X) * 3] = std::uint8_t(b);
    line[std::size_t(X) * 3 + 1] = std::uint8_t(g);
    line[std::size_t(X) * 3 + 2] = std::uint8_t(r);
    return;
  }
  const unsigned bits = h.StoreBitsPerPixel();
  const unsigned used =
      std::min<unsigned>(std::max<unsigned>(h.StoreInfo.bmiHeader.biClrUsed, 1), 1u << bits);
  unsigned best = 0;
  long bestDist = -1;
  for (unsigned i = 0; i < used; ++i) {
    const plat::RGBQUAD& q = h.StoreInfo.bmiColors[i];
    const long d = long(q.rgbRed - r) * (q.rgbRed - r) + long(q.rgbGreen - g) * (q.rgbGreen - g) +
                   long(q.rgbBlue - b) * (q.rgbBlue - b);
    if (bestDist < 0 || d < bestDist) {
      bestDist = d;
      best = i;
    }
  }
  const std::size_t bit = std::size_t(X) * bits;
  const unsigned shift = 8 - bits - bit % 8;
  const unsigned mask = ((1u << bits) - 1) << shift;
  line[bit / 8] = std::uint8_t((line[bit / 8] & ~mask) | (best << shift));
}

std::uint8_t TPNGObject::AlphaAt(int X, int Y) const {
  if (X < 0 || Y < 0 || X >= ImageWidth() || Y >= ImageHeight()) return 0;
  const TChunkIHDR& h = HeaderChunk();
  if (!h.StoreBits) return 0;
  switch (h.ColorType) {
    case 4:
    case 6:
      return h.AlphaPlane.empty() ? 255 : h.AlphaPlane[std::size_t(Y) * h.Width + X];
    case 3:
      if (const TChunktRNS* t = Chunks.Find<TChunktRNS>()) return t->AlphaTable[StoreIndex(h, X, Y) & 0xFF];
      return 255;
    case 0:
    case 2:
      if (Chunks.Find<TChunktRNS>()) return PixelAt(X, Y) == TransparentKey() ? 0 : 255;
      return 255;
    default:
      return 255;
  }
}

// ---------------------------------------------------------------------------------------------------------

bool DecodePngToBGRA(const std::uint8_t* Data, std::size_t Size, int& Width, int& Height,
                     std::vector<std::uint8_t>& Bgra) {
  try {
    TPNGObject image;
    TReadOnlyMemoryStream stream(Data, Size);
    image.ReadGraphicStream(stream);
    const int w = image.ImageWidth(), h = image.ImageHeight();
    std::size_t bytes = 0;
    if (!CheckedMul(std::size_t(w) * 4, std::size_t(h), bytes)) return false;
    Bgra.assign(bytes, 0);
    std::uint8_t* out = Bgra.data();
    const TPNGTransparencyMode mode = image.TransparencyMode();
    const TChunkIHDR& hdr = image.HeaderChunk();
    const TChunktRNS* trns = image.Chunks.Find<TChunktRNS>();
    // Palette images take their alpha from the table; only grey and colour images have a key colour.
    const bool keyed = trns && (hdr.ColorType == 0 || hdr.ColorType == 2);
    const TColor key = keyed ? image.TransparentKey() : 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x, out += 4) {
        const TColor c = image.PixelAt(x, y);
        out[0] = std::uint8_t(c >> 16);
        out[1] = std::uint8_t(c >> 8);
        out[2] = std::uint8_t(c);
        std::uint8_t a = 255;
        if (!hdr.AlphaPlane.empty())
          a = hdr.AlphaPlane[std::size_t(y) * hdr.Width + x];
        else if (keyed)
          a = c == key ? 0 : 255;
        else if (trns && mode != ptmNone)
          a = image.AlphaAt(x, y);
        out[3] = a;
      }
    Width = w;
    Height = h;
    return true;
  } catch (...) {
    // The callers (icon readers inside the platform) take false as "not a readable PNG".
    return false;
  }
}

namespace {
bool g_pngUnitStarted = false;
}

void InitPngUnit() {
  if (g_pngUnitStarted) return;
  g_pngUnitStarted = true;
  RegisterStandardChunks();
  TPicture::RegisterPictureFormat("PNG", "Portable Network Graphics", TPNGObject::StaticClass());
  SetPngIconDecoder(&DecodePngToBGRA);
  plat::SetIconPngDecoder(
      [](const plat::BYTE* data, std::size_t size, int& w, int& h, std::vector<plat::BYTE>& bgra) {
        return DecodePngToBGRA(data, size, w, h, bgra);
      });
}

void DonePngUnit() {
  if (!g_pngUnitStarted) return;
  g_pngUnitStarted = false;
  TPicture::UnregisterGraphicClass(TPNGObject::StaticClass());
  RegisteredChunkClasses().clear();
  SetPngIconDecoder(nullptr);
  plat::SetIconPngDecoder(nullptr);
}
