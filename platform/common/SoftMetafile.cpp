// Enhanced metafiles in the soft GDI: the handles and checking the bytes. Conversion from Windows metafiles
// is in SoftMetafileConvert.cpp, playback in SoftMetafilePlay.cpp.
#include <algorithm>
#include <cstring>

#include "platform/common/SoftGdi.h"
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

// ---- the GDI's metafile handles ----

HENHMETAFILE SoftGdi::SetEnhMetaFileBits(UINT size, const BYTE* data) {
  if (!data || !ValidateEnhMetaFile(data, size)) return nullptr;
  auto e = std::make_unique<SEmf>();
  e->bytes.assign(data, data + size);
  std::memcpy(&e->header, data, std::min<std::size_t>(sizeof(ENHMETAHEADER), size));
  if (e->header.nSize < sizeof(ENHMETAHEADER)) {
    // The short form of the header has no pixel-format extension.
    e->header.cbPixelFormat = e->header.offPixelFormat = e->header.bOpenGL = 0;
  }
  return reinterpret_cast<HENHMETAFILE>(s_->Add(std::move(e)));
}

HENHMETAFILE SoftGdi::SetWinMetaFileBits(UINT size, const BYTE* data, HDC, const METAFILEPICT* pict) {
  if (!data) return nullptr;
  const SIZEL device{std::max(1, s_->opt.screenWidth), std::max(1, s_->opt.screenHeight)};
  const SIZEL mm{LONG(std::max(1L, Round(device.cx * 25.4 / kLogPixels))),
                 LONG(std::max(1L, Round(device.cy * 25.4 / kLogPixels)))};
  std::vector<BYTE> emf = ConvertWinMetaFile(data, size, pict, device, mm);
  if (emf.empty()) return nullptr;
  return SetEnhMetaFileBits(static_cast<UINT>(emf.size()), emf.data());
}

UINT SoftGdi::GetEnhMetaFileHeader(HENHMETAFILE emf, UINT size, ENHMETAHEADER* header) {
  SEmf* e = s_->Get<SEmf>(emf);
  if (!e) return 0;
  const UINT full = std::min<UINT>(e->header.nSize, sizeof(ENHMETAHEADER));
  if (!header) return full;
  const UINT n = std::min(size, full);
  std::memcpy(header, &e->header, n);
  return n;
}

UINT SoftGdi::GetEnhMetaFileBits(HENHMETAFILE emf, UINT size, BYTE* data) {
  SEmf* e = s_->Get<SEmf>(emf);
  if (!e) return 0;
  if (!data) return static_cast<UINT>(e->bytes.size());
  if (size < e->bytes.size()) return 0;
  std::memcpy(data, e->bytes.data(), e->bytes.size());
  return static_cast<UINT>(e->bytes.size());
}

BOOL SoftGdi::PlayEnhMetaFile(HDC dc, HENHMETAFILE emf, const RECT* rect) {
  SDC* d = s_->Get<SDC>(dc);
  SEmf* e = s_->Get<SEmf>(emf);
  if (!d || !e || !rect || !d->a.bitmap) return FALSE;
  Mapper m(d->a);
  // The player adds the DC's own mapping (window origin included) again: hand it the rectangle without it.
  const RECT dev{LONG(m.X(rect->left) - d->a.dcOrg.x), LONG(m.Y(rect->top) - d->a.dcOrg.y),
                 LONG(m.X(rect->right) - d->a.dcOrg.x), LONG(m.Y(rect->bottom) - d->a.dcOrg.y)};
  PlayEnhMetaFileRecords(*this, dc, e->bytes, dev);
  return TRUE;
}

BOOL SoftGdi::DeleteEnhMetaFile(HENHMETAFILE emf) {
  SEmf* e = s_->Get<SEmf>(emf);
  if (!e) return FALSE;
  s_->objects.erase(e);
  return TRUE;
}

}  // namespace plat::soft
