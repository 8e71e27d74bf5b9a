// The renderer's texture cache: pictures padded to square powers of two, texture format choice and the
// Direct3D texture surfaces made from them.
#include <algorithm>
#include <cstring>

#include "core/SysUtils.h"
#include "render/DXDraws.h"

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

TDXTextureImage::TDXTextureImage(TDIB& Image, TDIB* Alpha) {
  const int bpp = Image.BitCount();
  if (Image.IsEmpty() || (bpp != 24 && bpp != 32))
    throw EDirect3DTextureError(Format(SCannotInitialized, STexture));
  Width = Image.Width();
  Height = Image.Height();
  const bool withAlpha =
      Alpha && Alpha->BitCount() == 8 && Alpha->Width() == Width && Alpha->Height() == Height;
  HasAlphaChannel = withAlpha;
  std::size_t count = 0;
  if (!CheckedMul(static_cast<std::size_t>(Width), static_cast<std::size_t>(Height), count))
    throw EDirect3DTextureError(Format(SCannotInitialized, STexture));
  Pixels.resize(count);
  for (int y = 0; y < Height; ++y) {
    const std::uint8_t* src = Image.RowReadOnly(y);
    const std::uint8_t* a = withAlpha ? Alpha->RowReadOnly(y) : nullptr;
    std::uint32_t* dst = Pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(Width);
    const int step = bpp / 8;
    for (int x = 0; x < Width; ++x, src += step) {
      std::uint32_t alpha = a ? a[x] : 0xFFu;
      dst[x] = (alpha << 24) | (std::uint32_t(src[2]) << 16) | (std::uint32_t(src[1]) << 8) | src[0];
    }
  }
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

plat::HRESULT CollectFormat(plat::DDPIXELFORMAT* format, void* context) {
  static_cast<std::vector<plat::DDPIXELFORMAT>*>(context)->push_back(*format);
  return plat::D3DENUMRET_OK;
}

[[noreturn]] void TextureError() {
  throw EDirect3DTextureError(Format(SCannotInitialized, STexture));
}

}  // namespace

TDirect3DTexture2::TDirect3DTexture2(TCustomDXDraw* DXDraw, const TDXTextureImage& Image) {
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
  const bool direct32 = bytes == 4 && format_.dwRBitMask == 0xFF0000 && format_.dwGBitMask == 0xFF00 &&
                        format_.dwBBitMask == 0xFF;
  const std::uint32_t opaque =
      direct32 && !((format_.dwFlags & plat::DDPF_ALPHAPIXELS) && format_.dwRGBAlphaBitMask == 0xFF000000u)
          ? 0xFF000000u
          : 0;
  auto* base = static_cast<std::uint8_t*>(lock.lpSurface);
  for (int y = 0; y < height_; ++y) {
    // Nearest texel when the device made the texture smaller or larger than the image.
    const int sy = static_cast<int>(static_cast<long long>(y) * Image.Height / height_);
    const std::uint32_t* srcRow = Image.Pixels.data() + static_cast<std::size_t>(sy) * Image.Width;
    std::uint8_t* row = base + static_cast<std::ptrdiff_t>(y) * lock.lPitch;
    if (direct32 && width_ == Image.Width) {
      auto* d = reinterpret_cast<std::uint32_t*>(row);
      if (opaque)
        for (int x = 0; x < width_; ++x) d[x] = srcRow[x] | opaque;
      else
        std::memcpy(d, srcRow, static_cast<std::size_t>(width_) * 4);
      continue;
    }
    for (int x = 0; x < width_; ++x) {
      const int sx = static_cast<int>(static_cast<long long>(x) * Image.Width / width_);
      const std::uint32_t v = PackPixel(srcRow[sx], format_);
      std::memcpy(row + x * bytes, &v, static_cast<std::size_t>(bytes));
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

// Copies the picture unscaled into the top-left corner of a new n x n image of 32 bits (keeping every byte
// of a 32-bit source) or 24 bits, the rest 0.
std::unique_ptr<TDIB> PadImage(TDIB& src, int n) {
  const bool keep32 = src.BitCount() == 32;
  auto dst = std::make_unique<TDIB>();
  dst->PixelFormat = MakeDIBPixelFormat(8, 8, 8);
  dst->SetSize(n, n, keep32 ? 32 : 24);
  const int w = std::min(src.Width(), n), h = std::min(src.Height(), n);
  if (keep32 || src.BitCount() == 24) {
    const std::size_t rowBytes = static_cast<std::size_t>(w) * (keep32 ? 4 : 3);
    for (int y = 0; y < h; ++y) std::memcpy(dst->Row(y), src.RowReadOnly(y), rowBytes);
  } else {
    // Palette and 16-bit pictures are converted by drawing them.
    src.DrawGraphic(*dst->Canvas(), Rect(0, 0, src.Width(), src.Height()));
  }
  return dst;
}

}  // namespace

TD2DTextures::TD2DTextures(TCustomDXDraw* DXDraw) : DXDraw_(DXDraw) {}

TD2DTextures::~TD2DTextures() {
  Clear();
}

void TD2DTextures::Clear() {
  // Textures before their images, newest first.
  while (!entries_.empty()) {
    entries_.back().Texture.reset();
    entries_.back().Image.reset();
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
    e.Image = std::make_unique<TDIB>();
    e.Image->Assign(&Item->Picture());
    e.Image->SetTransparent(Item->Transparent());
    if (e.Image->IsEmpty()) throw EDirect3DTextureError(Format(SCannotInitialized, STexture));
    e.U0 = e.V0 = 0;
    e.U1 = e.V1 = 1.0;
    const TD2DPadding pad = D2DPadding(e.Image->Width(), e.Image->Height());
    if (e.Image->Width() == pad.Size && e.Image->Height() == pad.Size) {
      if (e.Image->BitCount() != 32) {
        auto redrawn = std::make_unique<TDIB>();
        redrawn->PixelFormat = MakeDIBPixelFormat(8, 8, 8);
        redrawn->SetSize(pad.Size, pad.Size, 24);
        if (e.Image->BitCount() == 24) {
          for (int y = 0; y < pad.Size; ++y)
            std::memcpy(redrawn->Row(y), e.Image->RowReadOnly(y), static_cast<std::size_t>(pad.Size) * 3);
        } else {
          e.Image->DrawGraphic(*redrawn->Canvas(), Rect(0, 0, pad.Size, pad.Size));
        }
        redrawn->SetTransparent(Item->Transparent());
        e.Image = std::move(redrawn);
      }
    } else {
      auto padded = PadImage(*e.Image, pad.Size);
      padded->SetTransparent(Item->Transparent());
      e.U1 = pad.U1;
      e.V1 = pad.V1;
      e.Image = std::move(padded);
    }
    e.Name = Item->Name();
    e.Width = e.Image->Width();
    e.Height = e.Image->Height();
    if (e.Image->HasAlpha()) {
      TDXTextureImage img(*e.Image, e.Image->ExtractAlpha());
      img.ImageName = Item->Name();
      img.Transparent = Item->Transparent();
      e.Texture = std::make_unique<TDirect3DTexture2>(DXDraw_, img);
      e.Texture->SetTransparent(Item->Transparent());
      e.HasAlpha = true;
    } else {
      TDXTextureImage img(*e.Image, nullptr);
      img.ImageName = Item->Name();
      img.TransparentColor = Item->TransparentColor();
      img.Transparent = Item->Transparent();
      e.Texture = std::make_unique<TDirect3DTexture2>(DXDraw_, img);
      e.HasAlpha = false;
    }
    return true;
  } catch (const std::exception&) {
    entries_.pop_back();
    return false;
  }
}
