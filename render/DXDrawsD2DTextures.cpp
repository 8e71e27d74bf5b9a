// The renderer's texture cache: pictures padded to square powers of two, texture format choice and the
// Direct3D texture surfaces made from them.
#include <algorithm>
#include <cstring>

#include "core/SysUtils.h"
#include "picture/jpeg/jpeg.h"
#include "picture/pngimage/pngimage.h"
#include "render/DXDraws.h"
#include "render/PixelRows.h"

// ---- Pure rules ----

TD2DPadding D2DPadding(int Width, int Height) {
  auto pow2 = [](int v) {
    int p = 2;
    while (p < v && p <= (1 << 29)) p <<= 1;
    return p;
  };
  TD2DPadding r;
  r.Size = std::max(pow2(Width), pow2(Height));
  if (Width == r.Size && Height == r.Size) return r;
  r.U1 = static_cast<double>(Width) / r.Size;
  r.V1 = static_cast<double>(Height) / r.Size;
  return r;
}

int D2DMaskBits(std::uint32_t Mask) {
  int n = 0;
  for (; Mask; Mask &= Mask - 1) ++n;
  return n;
}

TD2DBitCounts D2DFormatBitCounts(const plat::DDPIXELFORMAT& Format) {
  TD2DBitCounts c;
  c.R = D2DMaskBits(Format.dwRBitMask);
  c.G = D2DMaskBits(Format.dwGBitMask);
  c.B = D2DMaskBits(Format.dwBBitMask);
  c.A = (Format.dwFlags & plat::DDPF_ALPHAPIXELS) ? D2DMaskBits(Format.dwRGBAlphaBitMask) : 0;
  return c;
}

namespace {

constexpr plat::DWORD PaletteFlags = plat::DDPF_PALETTEINDEXED1 | plat::DDPF_PALETTEINDEXED2 |
                                     plat::DDPF_PALETTEINDEXED4 | plat::DDPF_PALETTEINDEXED8 |
                                     plat::DDPF_PALETTEINDEXEDTO8;

int Distance(const TD2DBitCounts& f, const TD2DBitCounts& i) {
  auto sq = [](int d) { return d * d; };
  return sq(f.R - i.R) + sq(f.G - i.G) + sq(f.B - i.B) + sq(f.A - i.A);
}

}  // namespace

int D2DChooseTextureFormat(const std::vector<plat::DDPIXELFORMAT>& Formats, const TD2DBitCounts& Image,
                           bool ColorImage) {
  const bool imageAlpha = Image.A > 0;
  int chosen = -1;
  for (std::size_t i = 0; i < Formats.size(); ++i) {
    const plat::DDPIXELFORMAT& f = Formats[i];
    if (!(f.dwFlags & plat::DDPF_RGB)) continue;
    if (ColorImage && (f.dwFlags & PaletteFlags)) continue;
    if (chosen < 0) {
      chosen = static_cast<int>(i);
      continue;
    }
    const TD2DBitCounts cur = D2DFormatBitCounts(Formats[static_cast<std::size_t>(chosen)]);
    const TD2DBitCounts cand = D2DFormatBitCounts(f);
    if (imageAlpha) {
      if (cur.A > 0 && cand.A == 0) continue;
      if (cur.A == 0 && cand.A > 0) {
        chosen = static_cast<int>(i);
        continue;
      }
    }
    if (Distance(cur, Image) < Distance(cand, Image)) continue;
    chosen = static_cast<int>(i);
  }
  return chosen;
}

void D2DTextureSize(const plat::D3DDEVICEDESC7& Caps, int ImageWidth, int ImageHeight, int& Width,
                    int& Height) {
  auto floorPow2 = [](int v) {
    int p = 1;
    while (p * 2 <= v && p < (1 << 30)) p <<= 1;
    return p;
  };
  Width = std::max(ImageWidth, 1);
  Height = std::max(ImageHeight, 1);
  const plat::DWORD texCaps = Caps.dpcTriCaps.dwTextureCaps;
  if (texCaps & plat::D3DPTEXTURECAPS_POW2) {
    Width = floorPow2(Width);
    Height = floorPow2(Height);
  }
  if (texCaps & plat::D3DPTEXTURECAPS_SQUAREONLY) Width = Height = std::max(Width, Height);
  auto clamp = [](int v, plat::DWORD lo, plat::DWORD hi) {
    if (lo > 0 && v < static_cast<int>(std::min<plat::DWORD>(lo, 1u << 30))) v = static_cast<int>(lo);
    if (hi > 0 && v > static_cast<int>(std::min<plat::DWORD>(hi, 1u << 30))) v = static_cast<int>(hi);
    return v;
  };
  Width = clamp(Width, Caps.dwMinTextureWidth, Caps.dwMaxTextureWidth);
  Height = clamp(Height, Caps.dwMinTextureHeight, Caps.dwMaxTextureHeight);
}

// ---- TDXTextureImage ----

TDXTextureImage::TDXTextureImage(TGraphic* Picture, int Width_, int Height_) {
  if (!Picture || Picture->Empty()) throw EDirect3DTextureError(Format(SCannotInitialized, STexture));
  // Pictures whose rows already hold the pixels a 24- or 32-bit TDIB of them would: no copy.
  if (auto* jpeg = dynamic_cast<TJPEGImage*>(Picture)) {
    jpeg->DecodeToBitmap();
    TBitmap* decoded = jpeg->DecodedBitmap();
    if (decoded && decoded->PixelFormat() == pf24bit && !decoded->Empty()) bitmap_ = decoded;
  } else if (auto* bmp = dynamic_cast<TBitmap*>(Picture)) {
    if (bmp->PixelFormat() == pf24bit && bmp->HandleType() == bmDIB && !bmp->Transparent()) bitmap_ = bmp;
  } else if (auto* dib = dynamic_cast<TDIB*>(Picture)) {
    if (dib->BitCount() == 24 || dib->BitCount() == 32) dib_ = dib;
  } else if (auto* png = dynamic_cast<TPNGObject*>(Picture)) {
    // Drawn opaque, a true-colour store is copied 1:1 onto the copy below.
    const TChunkIHDR& h = png->HeaderChunk();
    if (png->TransparencyMode() == ptmNone && h.StoreBits && !h.UsesPalette && h.StoreBitsPerPixel() == 24 &&
        h.StoreInfo.bmiHeader.biHeight > 0) {
      store_ = h.StoreBits;
      storePitch_ = h.StoreRowBytes;
      PictureWidth = static_cast<int>(h.Width);
      PictureHeight = static_cast<int>(h.Height);
    }
  }
  if (!bitmap_ && !dib_ && !store_) {
    copy_ = std::make_unique<TDIB>();
    copy_->Assign(Picture);
    if (copy_->IsEmpty()) throw EDirect3DTextureError(Format(SCannotInitialized, STexture));
    if (copy_->BitCount() != 24 && copy_->BitCount() != 32) {
      // Palette and 16-bit pictures are converted by drawing them.
      auto drawn = std::make_unique<TDIB>();
      drawn->PixelFormat = MakeDIBPixelFormat(8, 8, 8);
      drawn->SetSize(copy_->Width(), copy_->Height(), 24);
      copy_->DrawGraphic(*drawn->Canvas(), Rect(0, 0, copy_->Width(), copy_->Height()));
      copy_ = std::move(drawn);
    }
    dib_ = copy_.get();
  }
  if (bitmap_) {
    PictureWidth = bitmap_->Width();
    PictureHeight = bitmap_->Height();
  } else if (dib_) {
    PictureWidth = dib_->Width();
    PictureHeight = dib_->Height();
    bytesPerPixel_ = dib_->BitCount() / 8;
    HasAlphaChannel = bytesPerPixel_ == 4 && dib_->HasAlpha();
  }
  Width = std::max(Width_, PictureWidth);
  Height = std::max(Height_, PictureHeight);
}

TDXTextureImage::~TDXTextureImage() = default;

const std::uint8_t* TDXTextureImage::PictureRow(int y) {
  if (bitmap_) return static_cast<const std::uint8_t*>(bitmap_->ScanLine(y));
  if (store_) return store_ + std::size_t(PictureHeight - 1 - y) * storePitch_;
  return dib_->RowReadOnly(y);
}

int TDXTextureImage::ReadRow(int y, std::uint32_t* Out) {
  const std::uint32_t pad = Padding();
  if (y < 0 || y >= PictureHeight) {
    std::fill(Out, Out + Width, pad);
    return 0;
  }
  ReadPictureRow(y, Out);
  std::fill(Out + PictureWidth, Out + Width, pad);
  return PictureWidth;
}

void TDXTextureImage::ReadPictureRow(int y, std::uint32_t* Out) {
  const std::uint8_t* src = PictureRow(y);
  const int n = PictureWidth;
  if (bytesPerPixel_ == 4) {
    const std::uint32_t alphaMask = HasAlphaChannel ? 0 : 0xFF000000u;
    for (int x = 0; x < n; ++x, src += 4)
      Out[x] =
          (std::uint32_t(src[3]) << 24 | std::uint32_t(src[2]) << 16 | std::uint32_t(src[1]) << 8 | src[0]) |
          alphaMask;
    return;
  }
  pixelrows::Bgr24ToXrgb32(src, Out, n);
}

// ---- TDirect3DTexture2 ----

namespace {

int LowBit(std::uint32_t m) {
  int n = 0;
  while (m && !(m & 1u)) {
    m >>= 1;
    ++n;
  }
  return n;
}

// Places an 8-bit channel value into its mask.
std::uint32_t PackChannel(std::uint32_t value8, std::uint32_t mask) {
  if (!mask) return 0;
  const int bits = D2DMaskBits(mask);
  const std::uint32_t v = bits >= 8 ? value8 : (value8 >> (8 - bits));
  return (v << LowBit(mask)) & mask;
}

std::uint32_t PackPixel(std::uint32_t argb, const plat::DDPIXELFORMAT& f) {
  const std::uint32_t alphaMask = (f.dwFlags & plat::DDPF_ALPHAPIXELS) ? f.dwRGBAlphaBitMask : 0;
  return PackChannel((argb >> 16) & 0xFF, f.dwRBitMask) | PackChannel((argb >> 8) & 0xFF, f.dwGBitMask) |
         PackChannel(argb & 0xFF, f.dwBBitMask) | PackChannel(argb >> 24, alphaMask);
}

// PackPixel with the masks' places worked out once.
class TexelPacker {
 public:
  explicit TexelPacker(const plat::DDPIXELFORMAT& f) {
    const std::uint32_t masks[4] = {f.dwRBitMask, f.dwGBitMask, f.dwBBitMask,
                                    (f.dwFlags & plat::DDPF_ALPHAPIXELS) ? f.dwRGBAlphaBitMask : 0};
    for (int c = 0; c < 4; ++c) {
      const int bits = D2DMaskBits(masks[c]);
      mask_[c] = masks[c];
      drop_[c] = bits >= 8 ? 0 : 8 - bits;
      shift_[c] = LowBit(masks[c]);
    }
  }
  std::uint32_t operator()(std::uint32_t argb) const {
    const std::uint32_t v[4] = {(argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF, argb >> 24};
    std::uint32_t out = 0;
    for (int c = 0; c < 4; ++c) out |= ((v[c] >> drop_[c]) << shift_[c]) & mask_[c];
    return out;
  }

 private:
  std::uint32_t mask_[4];
  int drop_[4], shift_[4];
};

plat::HRESULT CollectFormat(plat::DDPIXELFORMAT* format, void* context) {
  static_cast<std::vector<plat::DDPIXELFORMAT>*>(context)->push_back(*format);
  return plat::D3DENUMRET_OK;
}

[[noreturn]] void TextureError() {
  throw EDirect3DTextureError(Format(SCannotInitialized, STexture));
}

}  // namespace

TDirect3DTexture2::TDirect3DTexture2(TCustomDXDraw* DXDraw, TDXTextureImage& Image) {
  plat::IDirect3DDevice7* device = DXDraw ? DXDraw->D3DDevice7() : nullptr;
  TDirectDraw* ddraw = DXDraw ? DXDraw->DDraw() : nullptr;
  if (!device || !ddraw || !ddraw->IDDraw7() || Image.Width <= 0 || Image.Height <= 0) TextureError();

  std::vector<plat::DDPIXELFORMAT> formats;
  device->EnumTextureFormats(&CollectFormat, &formats);
  TD2DBitCounts wanted{8, 8, 8, Image.HasAlphaChannel ? 8 : 0};
  const int chosen = D2DChooseTextureFormat(formats, wanted, true);
  if (chosen < 0) TextureError();
  format_ = formats[static_cast<std::size_t>(chosen)];
  hasAlpha_ = Image.HasAlphaChannel;

  plat::D3DDEVICEDESC7 caps{};
  if (device->GetCaps(&caps) != plat::D3D_OK) TextureError();
  D2DTextureSize(caps, Image.Width, Image.Height, width_, height_);

  plat::DDSURFACEDESC2 desc{};
  desc.dwSize = sizeof(desc);
  desc.dwFlags = plat::DDSD_CAPS | plat::DDSD_WIDTH | plat::DDSD_HEIGHT | plat::DDSD_PIXELFORMAT;
  desc.dwWidth = static_cast<plat::DWORD>(width_);
  desc.dwHeight = static_cast<plat::DWORD>(height_);
  desc.ddpfPixelFormat = format_;
  desc.ddsCaps.dwCaps = plat::DDSCAPS_TEXTURE;
  if (ddraw->IDDraw7()->CreateSurface(&desc, &surface_, nullptr) != plat::DD_OK || !surface_) {
    surface_ = nullptr;
    TextureError();
  }

  plat::DDSURFACEDESC2 lock{};
  lock.dwSize = sizeof(lock);
  if (surface_->Lock(nullptr, &lock, plat::DDLOCK_WAIT | plat::DDLOCK_WRITEONLY, nullptr) != plat::DD_OK ||
      !lock.lpSurface) {
    plat::SafeRelease(surface_);
    TextureError();
  }
  const int bytes = static_cast<int>(format_.dwRGBBitCount) / 8;
  const bool argb32 = bytes == 4 && format_.dwRBitMask == 0xFF0000 && format_.dwGBitMask == 0xFF00 &&
                      format_.dwBBitMask == 0xFF;
  // A 32-bit format without alpha keeps its fourth byte at 255 where the picture shows.
  const std::uint32_t opaque =
      argb32 && !((format_.dwFlags & plat::DDPF_ALPHAPIXELS) && format_.dwRGBAlphaBitMask == 0xFF000000u)
          ? 0xFF000000u
          : 0;
  const TexelPacker pack(format_);
  auto texel = [&](std::uint32_t v) { return argb32 ? v | opaque : pack(v); };
  const std::uint32_t padding = pack(Image.Padding());
  // Nearest texel when the device made the texture smaller or larger than the image.
  std::vector<int> column(static_cast<std::size_t>(width_));
  for (int x = 0; x < width_; ++x)
    column[static_cast<std::size_t>(x)] = static_cast<int>(static_cast<long long>(x) * Image.Width / width_);
  // Rows of an opaque picture already read as the texels of such a format.
  const bool copyRows = argb32 && width_ == Image.Width && (opaque == 0 || !Image.HasAlphaChannel);
  std::vector<std::uint32_t> argb(static_cast<std::size_t>(Image.Width));
  std::vector<std::uint32_t> packed(static_cast<std::size_t>(width_));
  int argbRow = -1, texels = 0;
  auto* base = static_cast<std::uint8_t*>(lock.lpSurface);
  for (int y = 0; y < height_; ++y) {
    const int sy = static_cast<int>(static_cast<long long>(y) * Image.Height / height_);
    std::uint8_t* row = base + static_cast<std::ptrdiff_t>(y) * lock.lPitch;
    // The picture's words are this format's texels: read straight into the texture.
    const bool direct = copyRows && sy < Image.PictureHeight;
    if (direct) {
      Image.ReadPictureRow(sy, reinterpret_cast<std::uint32_t*>(row));
      texels = Image.PictureWidth;
      argbRow = -1;
    } else if (sy != argbRow) {
      const int shown = Image.ReadRow(sy, argb.data());
      argbRow = sy;
      // The texels that show the picture come first; the rest of the row is padding.
      texels = static_cast<int>(std::lower_bound(column.begin(), column.end(), shown) - column.begin());
      if (copyRows) {
        packed.swap(argb);  // argb is read anew for the next row
      } else {
        for (int x = 0; x < texels; ++x)
          packed[static_cast<std::size_t>(x)] =
              texel(argb[static_cast<std::size_t>(column[static_cast<std::size_t>(x)])]);
      }
    }
    if (direct) {
      // already in place
    } else if (bytes == 4) {
      std::memcpy(row, packed.data(), static_cast<std::size_t>(texels) * 4);
    } else {
      for (int x = 0; x < texels; ++x)
        std::memcpy(row + static_cast<std::ptrdiff_t>(x) * bytes, &packed[static_cast<std::size_t>(x)],
                    static_cast<std::size_t>(bytes));
    }
    // Padding is written only where the texel differs: a new texture of the soft device reads as zero and
    // takes memory only for what is written, so padding that packs to zero costs nothing.
    if (bytes == 4) {
      auto* d = reinterpret_cast<std::uint32_t*>(row);
      std::uint32_t differ = 0;  // an or of differences: vectorised, where a chain of ands is not
      for (int x = texels; x < width_; ++x) differ |= d[x] ^ padding;
      if (differ) std::fill(d + texels, d + width_, padding);
      continue;
    }
    for (int x = texels; x < width_; ++x) {
      std::uint8_t* p = row + static_cast<std::ptrdiff_t>(x) * bytes;
      if (std::memcmp(p, &padding, static_cast<std::size_t>(bytes)) != 0)
        std::memcpy(p, &padding, static_cast<std::size_t>(bytes));
    }
  }
  surface_->Unlock(nullptr);
  transparentColor_ = Image.TransparentColor;
  transparent_ = Image.Transparent;
  ApplyColorKey();
}

TDirect3DTexture2::~TDirect3DTexture2() {
  plat::SafeRelease(surface_);
}

void TDirect3DTexture2::SetTransparent(bool Value) {
  transparent_ = Value;
  ApplyColorKey();
}

void TDirect3DTexture2::SetTransparentColor(TColor Value) {
  transparentColor_ = Value;
  ApplyColorKey();
}

std::uint32_t TDirect3DTexture2::ColorKeyValue() const {
  const std::uint32_t c = static_cast<std::uint32_t>(transparentColor_);
  if ((c >> 24) == 1) return c & 0xFF;     // a palette index names the raw value itself
  const std::uint32_t rgb = c & 0xFFFFFF;  // TColor is 0x00BBGGRR
  const std::uint32_t argb = (std::uint32_t(rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
  plat::DDPIXELFORMAT noAlpha = format_;
  noAlpha.dwFlags &= ~plat::DDPF_ALPHAPIXELS;
  return PackPixel(argb, noAlpha);
}

void TDirect3DTexture2::ApplyColorKey() {
  // Only a texture without alpha is keyed; an alpha texture blends by its own alpha.
  if (!surface_ || hasAlpha_) return;
  if (transparent_) {
    plat::DDCOLORKEY key{ColorKeyValue(), ColorKeyValue()};
    surface_->SetColorKey(plat::DDCKEY_SRCBLT, &key);
  } else {
    surface_->SetColorKey(plat::DDCKEY_SRCBLT, nullptr);
  }
}

// ---- TD2DTextures ----

namespace {

// Both compare from the end: generated names share their collection path and differ in the index.
bool SameTextAscii(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = a.size(); i-- > 0;) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = a.size(); i-- > 0;)
    if (a[i] != b[i]) return false;
  return true;
}

}  // namespace

TD2DTextures::TD2DTextures(TCustomDXDraw* DXDraw) : DXDraw_(DXDraw) {}

TD2DTextures::~TD2DTextures() {
  Clear();
}

void TD2DTextures::Clear() {
  // Newest first.
  while (!entries_.empty()) {
    entries_.back().Texture.reset();
    entries_.pop_back();
  }
}

int TD2DTextures::Find(const std::string& Name) const {
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (SameTextAscii(entries_[i].Name, Name)) return static_cast<int>(i);
  return -1;
}

bool TD2DTextures::CanFindTexture(const TPictureCollectionItem* Item) const {
  for (const TTextureEntry& e : entries_)
    if (SameName(e.Name, Item->Name())) return true;
  return false;
}

bool TD2DTextures::LoadFromItem(TPictureCollectionItem* Item) {
  if (!Item) return false;
  if (Count() > MaxTextureEntries) Clear();
  entries_.emplace_back();
  try {
    TTextureEntry& e = entries_.back();
    if (Item->Name().empty()) {
      TCollection* c = Item->Collection();
      Item->SetName(Format("%s[%d]", c ? c->GetNamePath() : std::string(), Item->Index()));
    }
    e.U0 = e.V0 = 0;
    e.U1 = e.V1 = 1.0;
    TGraphic* picture = Item->Picture().Graphic();
    if (!picture || picture->Empty()) throw EDirect3DTextureError(Format(SCannotInitialized, STexture));
    // The picture goes into the top-left corner of a square power of two; the rest is black.
    const TD2DPadding pad = D2DPadding(picture->Width(), picture->Height());
    TDXTextureImage img(picture, pad.Size, pad.Size);
    e.U1 = pad.U1;
    e.V1 = pad.V1;
    e.Name = Item->Name();
    e.Width = img.Width;
    e.Height = img.Height;
    img.ImageName = Item->Name();
    img.Transparent = Item->Transparent();
    e.HasAlpha = img.HasAlphaChannel;
    if (!e.HasAlpha) img.TransparentColor = Item->TransparentColor();
    e.Texture = std::make_unique<TDirect3DTexture2>(DXDraw_, img);
    if (e.HasAlpha) e.Texture->SetTransparent(Item->Transparent());
    return true;
  } catch (const std::exception&) {
    entries_.pop_back();
    return false;
  }
}
