// PNG pictures: TPNGObject (a TGraphic registered for the extension "png"), its chunk classes and their
// registry, the image store the header chunk owns, and the three ways the image draws itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "picture/Graphics.h"
#include "picture/pngimage/PngCore.h"
#include "picture/pngimage/PngErrors.h"
#include "platform/Gdi.h"

class TPNGObject;
class TChunk;

// ---------------------------------------------------------------------------------------------------------
// Chunk class references: the registry creates chunks by the type their class name spells.

struct TChunkClassInfo {
  const char* Name;
  std::unique_ptr<TChunk> (*Create)(TPNGObject* Owner);
  // The class name's characters after the leading "TChunk" (empty for TChunk itself).
  std::string ChunkTypeName() const;
};
using TChunkClass = const TChunkClassInfo*;

#define DS_CHUNK_CLASS(Name)                                                                \
  static TChunkClass StaticClass() {                                                        \
    static const TChunkClassInfo info{#Name, [](TPNGObject* o) -> std::unique_ptr<TChunk> { \
                                        return InitChunkType(std::make_unique<Name>(o));    \
                                      }};                                                   \
    return &info;                                                                           \
  }                                                                                         \
  TChunkClass ClassType() const override {                                                  \
    return StaticClass();                                                                   \
  }

using TChunkType = std::array<char, 4>;

// Gives a chunk made through its class the type its class name spells, when that is exactly four letters.
std::unique_ptr<TChunk> InitChunkType(std::unique_ptr<TChunk> Chunk);

// A chunk of the file; also the generic chunk for types without a class of their own.
class TChunk {
 public:
  explicit TChunk(TPNGObject* AOwner);
  virtual ~TChunk() = default;
  TChunk(const TChunk&) = delete;
  TChunk& operator=(const TChunk&) = delete;

  static TChunkClass StaticClass();
  virtual TChunkClass ClassType() const { return StaticClass(); }
  const char* ClassName() const { return ClassType()->Name; }
  std::string ChunkTypeName() const { return ClassType()->ChunkTypeName(); }

  // Copies type and data from another chunk.
  virtual void CopyChunk(const TChunk& Source);
  // Reads Length data bytes and the CRC from the stream (positioned at the data) and checks the CRC.
  virtual bool ReadChunk(TStream& Stream, const TChunkType& Type, std::uint32_t Length);
  // Writes length, type, data and CRC.
  virtual bool WriteChunk(TStream& Stream);

  std::string TypeText() const { return std::string(ChunkType.data(), 4); }
  const std::uint8_t* Data() const { return ChunkData.data(); }

  std::vector<std::uint8_t> ChunkData;  // always ChunkSize + 1 bytes
  std::uint32_t ChunkSize = 0;
  TPNGObject* Owner;
  TChunkType ChunkType{};
};

class TChunkIEND : public TChunk {
 public:
  DS_CHUNK_CLASS(TChunkIEND)
  using TChunk::TChunk;
};

// The header chunk; owns the image store.
class TChunkIHDR : public TChunk {
 public:
  DS_CHUNK_CLASS(TChunkIHDR)
  explicit TChunkIHDR(TPNGObject* AOwner);
  ~TChunkIHDR() override;

  void CopyChunk(const TChunk& Source) override;
  bool ReadChunk(TStream& Stream, const TChunkType& Type, std::uint32_t Length) override;

  // Releases any earlier store and makes a zeroed one for the header values.
  void PrepareImageStore();
  void FreeImageStore();
  png::TStoreView StoreView() const;
  png::THeaderFields Fields() const;
  const plat::BITMAPINFO* StoreBitmapInfo() const {
    return reinterpret_cast<const plat::BITMAPINFO*>(&StoreInfo);
  }
  plat::BITMAPINFO* StoreBitmapInfo() { return reinterpret_cast<plat::BITMAPINFO*>(&StoreInfo); }
  unsigned StoreBitsPerPixel() const { return StoreInfo.bmiHeader.biBitCount; }

  struct TStoreInfo {
    plat::BITMAPINFOHEADER bmiHeader;
    plat::RGBQUAD bmiColors[256];
  };

  plat::HBITMAP StoreBitmap = nullptr;
  plat::HDC StoreContext = nullptr;
  plat::HPALETTE StorePalette = nullptr;
  bool UsesPalette = false;
  TStoreInfo StoreInfo{};
  std::vector<std::uint8_t> LowBytePlane;
  std::uint8_t* StoreBits = nullptr;
  std::vector<std::uint8_t> AlphaPlane;
  std::uint32_t Width = 0, Height = 0;
  std::uint8_t BitDepth = 0, ColorType = 0, CompressionMethod = 0, FilterMethod = 0, InterlaceMethod = 0;
  std::size_t StoreRowBytes = 0;

 private:
  // Store memory when no graphics service is installed (pure decoding).
  std::vector<std::uint8_t> ownBits_;
  plat::HGDIOBJ oldBitmap_ = nullptr;
  plat::HPALETTE oldPalette_ = nullptr;
};
static_assert(sizeof(TChunkIHDR::TStoreInfo) == 40 + 256 * 4, "store header layout");

class TChunkIDAT : public TChunk {
 public:
  DS_CHUNK_CLASS(TChunkIDAT)
  using TChunk::TChunk;
  // Decodes the image data of this and every following image data chunk into the store.
  bool ReadChunk(TStream& Stream, const TChunkType& Type, std::uint32_t Length) override;
};

class TChunkPLTE : public TChunk {
 public:
  DS_CHUNK_CLASS(TChunkPLTE)
  using TChunk::TChunk;
  void CopyChunk(const TChunk& Source) override;
  bool ReadChunk(TStream& Stream, const TChunkType& Type, std::uint32_t Length) override;
  // Gamma-mapped colour of an entry as 0x00BBGGRR; raises EPngError for an entry at or beyond EntryCount.
  TColor Item(unsigned Index) const;
  unsigned EntryCount = 0;

 private:
  std::array<plat::PALETTEENTRY, 256> entries_{};
};

class TChunkgAMA : public TChunk {
 public:
  DS_CHUNK_CLASS(TChunkgAMA)
  using TChunk::TChunk;
  void CopyChunk(const TChunk& Source) override;
  bool ReadChunk(TStream& Stream, const TChunkType& Type, std::uint32_t Length) override;
  std::uint32_t GammaValue = 0;
};

class TChunktRNS : public TChunk {
 public:
  DS_CHUNK_CLASS(TChunktRNS)
  using TChunk::TChunk;
  void CopyChunk(const TChunk& Source) override;
  bool ReadChunk(TStream& Stream, const TChunkType& Type, std::uint32_t Length) override;
  std::array<std::uint8_t, 256> AlphaTable{};
  bool SingleTransparent = false;
};

class TChunkpHYs : public TChunk {
 public:
  DS_CHUNK_CLASS(TChunkpHYs)
  using TChunk::TChunk;
  bool ReadChunk(TStream& Stream, const TChunkType& Type, std::uint32_t Length) override;
  std::uint32_t PPUnitX = 0, PPUnitY = 0;
  std::uint8_t UnitType = 0;
};

class TChunktIME : public TChunk {
 public:
  DS_CHUNK_CLASS(TChunktIME)
  using TChunk::TChunk;
  bool ReadChunk(TStream& Stream, const TChunkType& Type, std::uint32_t Length) override;
  std::uint16_t Year = 0;
  std::uint8_t Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};

class TChunktEXt : public TChunk {
 public:
  DS_CHUNK_CLASS(TChunktEXt)
  using TChunk::TChunk;
  bool ReadChunk(TStream& Stream, const TChunkType& Type, std::uint32_t Length) override;
  std::string Keyword, Text;
};

class TChunkzTXt : public TChunktEXt {
 public:
  DS_CHUNK_CLASS(TChunkzTXt)
  using TChunktEXt::TChunktEXt;
  bool ReadChunk(TStream& Stream, const TChunkType& Type, std::uint32_t Length) override;
};

// The chunks of one image in file order; owns them.
class TPNGList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TChunk* Item(int Index) const { return items_.at(static_cast<std::size_t>(Index)).get(); }
  TChunk* Add(std::unique_ptr<TChunk> Chunk);
  void Clear() { items_.clear(); }
  // The first chunk of a class (exactly that class), or null.
  TChunk* FindChunk(TChunkClass ChunkClass) const;
  template <typename T>
  T* Find() const {
    return static_cast<T*>(FindChunk(T::StaticClass()));
  }

 private:
  std::vector<std::unique_ptr<TChunk>> items_;
};

// The chunk class registry (process-wide, filled by RegisterStandardChunks).
std::vector<TChunkClass>& RegisteredChunkClasses();
void RegisterChunkClass(TChunkClass ChunkClass);
void RegisterStandardChunks();
// A chunk of the first registered class whose type name equals Type exactly; a plain TChunk when none does.
std::unique_ptr<TChunk> ChunkForType(TPNGObject* Image, const TChunkType& Type);

enum TPNGTransparencyMode { ptmNone, ptmBit, ptmPartial };

// ---------------------------------------------------------------------------------------------------------

class TPNGObject : public TGraphic {
 public:
  DS_GRAPHIC_CLASS(TPNGObject, TGraphic)
  TPNGObject();
  ~TPNGObject() override;

  void Assign(const TGraphic* Source) override;
  void DrawGraphic(TCanvas& ACanvas, const TRect& Rect) override;
  bool IsEmpty() const override;
  int ImageHeight() const override;
  plat::HPALETTE QueryPalette() override;
  bool QueryTransparent() const override;
  int ImageWidth() const override;
  void ResizeHeight(int Value) override;
  // Takes ownership of the palette: installs it in the store when the store is palette-indexed, else frees
  // it.
  void ReplacePalette(plat::HPALETTE Value) override;
  // Installs palette entries in the store's colour table (through a palette handle when graphics are
  // present).
  void InstallPalette(const plat::PALETTEENTRY* Entries, unsigned Count);
  void ResizeWidth(int Value) override;
  void ReadGraphicStream(TStream& Stream) override;
  void WriteGraphicStream(TStream& Stream) override;
  void ReadClipboard(plat::WORD Format, std::uintptr_t Data, plat::HPALETTE Palette) override;
  void WriteClipboard(plat::WORD& Format, std::uintptr_t& Data, plat::HPALETTE& Palette) override;

  // Colour (0x00BBGGRR) of a pixel; outside the image 0.
  virtual TColor PixelAt(int X, int Y) const;
  // Sets a pixel (palette images take the nearest colour-table entry); outside the image nothing.
  virtual void SetPixelAt(int X, int Y, TColor Color);

  // The first chunk, as header; raises EPNGHeaderNotPresent when there is none.
  TChunkIHDR& HeaderChunk() const;
  void ClearChunks();
  void ResetGammaMaps();
  TPNGTransparencyMode TransparencyMode() const;
  // The colour a bit-transparent image leaves undrawn, as 0x00BBGGRR. Raises EPngError for a palette
  // image whose first fully transparent entry lies beyond its palette.
  TColor TransparentKey() const;
  // Alpha of a pixel in 0..255 as the image's transparency gives it.
  std::uint8_t AlphaAt(int X, int Y) const;

  // Drawing methods (device context of the target, rectangle there).
  void DrawMasked(plat::HDC DC, const TRect& Rect, TColor TransparentColor);
  void DrawBlended(plat::HDC DC, const TRect& Rect);
  void DrawOpaque(plat::HDC DC, const TRect& Rect);

  png::TByteMap InverseGammaMap{};
  TCanvas ImageCanvas;
  // Writing settings (unused by reading).
  int Filters = 0;
  int CompressionLevel = 7;
  int MaxIdatSize = 65535;
  int InterlaceSetting = 0;
  TPNGList Chunks;
  png::TByteMap GammaMap{};

  // Set while the image data is decoded (guards a second image data chunk).
  bool ImageDataRead = false;
};

// Unit start-up: registers the chunk classes, the "png" picture format and the PNG icon decoder hooks.
void InitPngUnit();
// Unit shutdown: removes the format and the chunk classes.
void DonePngUnit();

// Decodes a whole PNG file to top-down 32-bit pixels (blue, green, red, alpha bytes). False, without raising,
// when the data is not a readable PNG.
bool DecodePngToBGRA(const std::uint8_t* Data, std::size_t Size, int& Width, int& Height,
                     std::vector<std::uint8_t>& Bgra);
