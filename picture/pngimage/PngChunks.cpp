// Chunk framing, the chunk class registry and the small ancillary chunks.
#include <algorithm>
#include <cstring>

#include "picture/pngimage/pngimage.h"
#include "platform/Platform.h"

std::string TChunkClassInfo::ChunkTypeName() const {
  const std::string name = Name;
  return name.compare(0, 6, "TChunk") == 0 ? name.substr(6) : std::string();
}

TChunkClass TChunk::StaticClass() {
  static const TChunkClassInfo info{"TChunk", [](TPNGObject* o) { return std::make_unique<TChunk>(o); }};
  return &info;
}

TChunk::TChunk(TPNGObject* AOwner) : ChunkData(1, 0), Owner(AOwner) {}

std::unique_ptr<TChunk> InitChunkType(std::unique_ptr<TChunk> Chunk) {
  const std::string type = Chunk->ChunkTypeName();
  if (type.size() == 4) std::copy(type.begin(), type.end(), Chunk->ChunkType.begin());
  return Chunk;
}

void TChunk::CopyChunk(const TChunk& Source) {
  ChunkType = Source.ChunkType;
  ChunkData = Source.ChunkData;
  ChunkSize = Source.ChunkSize;
}

namespace {

// Reads exactly count bytes in blocks, so that memory grows only as data actually arrives (a length field
// alone never decides an allocation). False on a short read.
bool ReadBlocks(TStream& s, std::vector<std::uint8_t>& out, std::uint32_t count) {
  out.assign(1, 0);
  std::size_t have = 0;
  while (have < count) {
    const std::size_t block = std::min<std::size_t>(count - have, 1u << 20);
    out.resize(have + block + 1);
    const std::size_t got = s.Read(out.data() + have, block);
    have += got;
    if (got < block) {
      out.resize(have + 1);
      return false;
    }
  }
  out[count] = 0;
  return true;
}

}  // namespace

bool TChunk::ReadChunk(TStream& Stream, const TChunkType& Type, std::uint32_t Length) {
  ChunkType = Type;
  const bool complete = ReadBlocks(Stream, ChunkData, Length);
  ChunkSize = static_cast<std::uint32_t>(ChunkData.size() - 1);
  std::uint8_t crc[4] = {0, 0, 0, 0};
  // A chunk cut short by the end of the file cannot carry a valid CRC.
  if (!complete || Stream.Read(crc, 4) != 4 ||
      png::ReadBE32(crc) != png::ChunkCrc(Type.data(), ChunkData.data(), ChunkSize))
    throw EPngInvalidCRC(EPngInvalidCRCText);
  return true;
}

bool TChunk::WriteChunk(TStream& Stream) {
  std::uint8_t head[8];
  png::WriteBE32(head, ChunkSize);
  std::memcpy(head + 4, ChunkType.data(), 4);
  Stream.WriteBuffer(head, 8);
  if (ChunkSize) Stream.WriteBuffer(ChunkData.data(), ChunkSize);
  std::uint8_t crc[4];
  png::WriteBE32(crc, png::ChunkCrc(ChunkType.data(), ChunkData.data(), ChunkSize));
  Stream.WriteBuffer(crc, 4);
  return true;
}

// ---------------------------------------------------------------------------------------------------------

TChunk* TPNGList::Add(std::unique_ptr<TChunk> Chunk) {
  items_.push_back(std::move(Chunk));
  return items_.back().get();
}

TChunk* TPNGList::FindChunk(TChunkClass ChunkClass) const {
  for (const auto& c : items_)
    if (c->ClassType() == ChunkClass) return c.get();
  return nullptr;
}

std::vector<TChunkClass>& RegisteredChunkClasses() {
  static std::vector<TChunkClass> classes;
  return classes;
}

void RegisterChunkClass(TChunkClass ChunkClass) {
  RegisteredChunkClasses().push_back(ChunkClass);
}

void RegisterStandardChunks() {
  auto& list = RegisteredChunkClasses();
  if (std::find(list.begin(), list.end(), TChunkIHDR::StaticClass()) != list.end()) return;  // already done
  RegisterChunkClass(TChunkIEND::StaticClass());
  RegisterChunkClass(TChunkIHDR::StaticClass());
  RegisterChunkClass(TChunkIDAT::StaticClass());
  RegisterChunkClass(TChunkPLTE::StaticClass());
  RegisterChunkClass(TChunkgAMA::StaticClass());
  RegisterChunkClass(TChunktRNS::StaticClass());
  RegisterChunkClass(TChunkpHYs::StaticClass());
  RegisterChunkClass(TChunktIME::StaticClass());
  RegisterChunkClass(TChunktEXt::StaticClass());
  RegisterChunkClass(TChunkzTXt::StaticClass());
}

std::unique_ptr<TChunk> ChunkForType(TPNGObject* Image, const TChunkType& Type) {
  const std::string wanted(Type.data(), 4);
  std::unique_ptr<TChunk> chunk;
  for (TChunkClass c : RegisteredChunkClasses()) {
    if (c->ChunkTypeName() == wanted) {
      chunk = c->Create(Image);
      break;
    }
  }
  if (!chunk) chunk = std::make_unique<TChunk>(Image);
  chunk->ChunkType = Type;
  return chunk;
}

// ---------------------------------------------------------------------------------------------------------
// Palette

namespace {
void RequireSameClass(const TChunk& self, const TChunk& source) {
  if (source.ClassType() != self.ClassType()) throw EPngError(EPngCannotAssignChunkText);
}
}  // namespace

void TChunkPLTE::CopyChunk(const TChunk& Source) {
  RequireSameClass(*this, Source);
  TChunk::CopyChunk(Source);
  const auto& src = static_cast<const TChunkPLTE&>(Source);
  EntryCount = src.EntryCount;
  entries_ = src.entries_;
}

bool TChunkPLTE::ReadChunk(TStream& Stream, const TChunkType& Type, std::uint32_t Length) {
  const bool ok = TChunk::ReadChunk(Stream, Type, Length);
  if (ChunkSize % 3 != 0 || ChunkSize / 3 > 256) throw EPNGInvalidPalette(EPngInvalidPaletteText);
  EntryCount = ChunkSize / 3;
  const png::TByteMap& g = Owner->GammaMap;
  for (unsigned i = 0; i < EntryCount; ++i)
    entries_[i] = {g[ChunkData[3 * i]], g[ChunkData[3 * i + 1]], g[ChunkData[3 * i + 2]], 0};
  if (EntryCount == 0) return ok;  // nothing to install

  // The image keeps the palette only when its store is palette-indexed.
  Owner->InstallPalette(entries_.data(), EntryCount);
  return ok;
}

TColor TChunkPLTE::Item(unsigned Index) const {
  if (Index >= EntryCount) throw EPngError(EPngUnknownPalEntryText);
  const plat::PALETTEENTRY& e = entries_[Index];
  return TColor(e.peRed | (e.peGreen << 8) | (e.peBlue << 16));
}

// ---------------------------------------------------------------------------------------------------------
// Gamma

void TChunkgAMA::CopyChunk(const TChunk& Source) {
  RequireSameClass(*this, Source);
  TChunk::CopyChunk(Source);
  GammaValue = static_cast<const TChunkgAMA&>(Source).GammaValue;
}

bool TChunkgAMA::ReadChunk(TStream& Stream, const TChunkType& Type, std::uint32_t Length) {
  const bool ok = TChunk::ReadChunk(Stream, Type, Length);
  // A gamma chunk of the wrong size carries no usable value; ignoring it keeps the image visible.
  if (ChunkSize != 4) return ok;
  GammaValue = png::ReadBE32(ChunkData.data());
  png::BuildGammaMaps(GammaValue, Owner->GammaMap, Owner->InverseGammaMap);
  return ok;
}

// ---------------------------------------------------------------------------------------------------------
// Transparency

void TChunktRNS::CopyChunk(const TChunk& Source) {
  TChunk::CopyChunk(Source);
  if (Source.ClassType() != ClassType()) return;
  const auto& src = static_cast<const TChunktRNS&>(Source);
  AlphaTable = src.AlphaTable;
  SingleTransparent = src.SingleTransparent;
}

bool TChunktRNS::ReadChunk(TStream& Stream, const TChunkType& Type, std::uint32_t Length) {
  const bool ok = TChunk::ReadChunk(Stream, Type, Length);
  if (ChunkSize > 256) throw EPNGInvalidPalette(EPngInvalidPaletteText);
  AlphaTable.fill(255);
  std::memcpy(AlphaTable.data(), ChunkData.data(), ChunkSize);
  const std::uint8_t colorType = Owner->HeaderChunk().ColorType;
  if (colorType == 0 || colorType == 2) {
    SingleTransparent = true;
  } else if (colorType == 3) {
    const auto nonOpaque = std::count_if(ChunkData.begin(), ChunkData.begin() + ChunkSize,
                                         [](std::uint8_t a) { return a != 255; });
    SingleTransparent = nonOpaque == 1;
  }
  return ok;
}

// ---------------------------------------------------------------------------------------------------------
// Ancillary information

bool TChunkpHYs::ReadChunk(TStream& Stream, const TChunkType& Type, std::uint32_t Length) {
  const bool ok = TChunk::ReadChunk(Stream, Type, Length);
  if (ChunkSize == 9) {
    PPUnitX = png::ReadBE32(ChunkData.data());
    PPUnitY = png::ReadBE32(ChunkData.data() + 4);
    UnitType = ChunkData[8];
  }
  return ok;
}

bool TChunktIME::ReadChunk(TStream& Stream, const TChunkType& Type, std::uint32_t Length) {
  const bool ok = TChunk::ReadChunk(Stream, Type, Length);
  if (ChunkSize == 7) {
    Year = png::ReadBE16(ChunkData.data());
    Month = ChunkData[2];
    Day = ChunkData[3];
    Hour = ChunkData[4];
    Minute = ChunkData[5];
    Second = ChunkData[6];
  }
  return ok;
}

bool TChunktEXt::ReadChunk(TStream& Stream, const TChunkType& Type, std::uint32_t Length) {
  const bool ok = TChunk::ReadChunk(Stream, Type, Length);
  if (ChunkSize > 2) {
    const auto* begin = reinterpret_cast<const char*>(ChunkData.data());
    const std::size_t kw = static_cast<std::size_t>(std::find(begin, begin + ChunkSize, '\0') - begin);
    Keyword.assign(begin, kw);
    Text = kw < ChunkSize ? std::string(begin + kw + 1, ChunkSize - kw - 1) : std::string();
  }
  return ok;
}

bool TChunkzTXt::ReadChunk(TStream& Stream, const TChunkType& Type, std::uint32_t Length) {
  const bool ok = TChunk::ReadChunk(Stream, Type, Length);
  Keyword.clear();
  Text.clear();
  if (ChunkSize > 3) {
    const auto* begin = reinterpret_cast<const char*>(ChunkData.data());
    const std::size_t kw = static_cast<std::size_t>(std::find(begin, begin + ChunkSize, '\0') - begin);
    Keyword.assign(begin, kw);
    // Skip the keyword's zero byte and the method byte; a failed inflate leaves the text empty. The output
    // is capped so a small chunk cannot expand into an unbounded string.
    if (kw + 2 <= ChunkSize)
      png::InflateAll(ChunkData.data() + kw + 2, ChunkSize - kw - 2, Text, std::size_t(16) << 20);
  }
  return ok;
}
