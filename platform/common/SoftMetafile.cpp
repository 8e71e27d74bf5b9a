// Enhanced metafiles in the soft GDI: checking the bytes. Conversion from Windows metafiles is in
// SoftMetafileConvert.cpp, playback in SoftMetafilePlay.cpp.
#include "platform/common/SoftGdiInternal.h"
#include "platform/common/SoftMetafileRecords.h"

namespace plat::soft {

bool ValidateEnhMetaFile(const BYTE* data, std::size_t size) {
  if (!data || size < ENHMETAHEADER_BASE_SIZE) return false;
  if (R32(data) != EMR_HEADER || R32(data + 40) != ENHMETA_SIGNATURE) return false;
  const DWORD headerSize = R32(data + 4);
  if (headerSize < ENHMETAHEADER_BASE_SIZE || headerSize > size || headerSize % 4) return false;
  std::size_t off = headerSize, records = 1;
  bool sawEof = false;
  while (off < size) {
    if (size - off < 8) return false;
    const DWORD type = R32(data + off), rsize = R32(data + off + 4);
    if (rsize < 8 || rsize % 4 || rsize > size - off) return false;
    if (++records > kMaxRecords) return false;
    off += rsize;
    if (type == EMR_EOF) {
      sawEof = true;
      break;
    }
  }
  // Without an end record the data must be as long as the header says: otherwise it was cut short.
  return sawEof || R32(data + 48) <= size;
}

}  // namespace plat::soft
