// The picture list (TDXImageList with its TPictureCollection of TPictureCollectionItem) and the hardware 2D
// renderer (TD2D with its texture cache TD2DTextures), which draws the list's pictures onto the drawing
// surface's back surface as textured quads through the surface's Direct3D 7 device.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/Components.h"
#include "core/Types.h"
#include "picture/Graphics.h"
#include "platform/DirectDraw.h"
#include "render/DIB.h"
#include "render/DXClass.h"
#include "render/DXDrawsCore.h"

class TPictureCollection;
class TPictureCollectionItem;
class TCustomDXImageList;

DS_DECLARE_EXCEPTION(EPictureCollectionError, Exception);
DS_DECLARE_EXCEPTION(EDirect3DTextureError, Exception);

inline constexpr const char* STexture = "Texture";

// ---- Renderer blend modes ----

enum TRenderType : int { rtDraw, rtBlend, rtAdd, rtSub };

// Texture filters of the renderer; a filter sets texture stage 0's magnification and minification filter
// to its ordinal plus one.
enum TD2DTextureFilter : int { D2D_POINT, D2D_LINEAR };

// ---- Pure rules of the texture cache ----

// The cache is emptied before an entry is added to a cache holding more than this many entries.
inline constexpr int MaxTextureEntries = 2048;

// How a picture of Width x Height is padded into a square power-of-two image: Size is the side, U1 and V1
// the texture coordinates of the picture's bottom-right corner (1.0 when nothing was added).
struct TD2DPadding {
  int Size = 0;
  double U1 = 1.0;
  double V1 = 1.0;
};
// Width and Height must be positive.
TD2DPadding D2DPadding(int Width, int Height);

// Bit counts of a colour format or an image.
struct TD2DBitCounts {
  int R = 0, G = 0, B = 0, A = 0;
};
// Counts the set bits of a channel mask.
int D2DMaskBits(std::uint32_t Mask);
// The channel bit counts of a pixel format (alpha only when it carries alpha pixels).
TD2DBitCounts D2DFormatBitCounts(const plat::DDPIXELFORMAT& Format);
// Picks a texture format from the enumerated list: RGB formats only, palette formats skipped for colour
// images; a later format replaces the choice unless the image has alpha and it lacks alpha bits while the
// choice has them (alpha bits always win over none), or otherwise the choice's squared bit-count distance
// is strictly smaller. Returns the index, or -1 when no format suits.
int D2DChooseTextureFormat(const std::vector<plat::DDPIXELFORMAT>& Formats, const TD2DBitCounts& Image,
                           bool ColorImage);
// The texture size the device takes for an image: each side cut to a power of two when the device needs
// that, square when it needs that, then kept within the device's limits.
void D2DTextureSize(const plat::D3DDEVICEDESC7& Caps, int ImageWidth, int ImageHeight, int& Width,
                    int& Height);

// ---- Textures ----

// An item's picture as its texture sees it: padded with black to Width x Height (alpha 0 around a picture
// with an alpha channel, opaque otherwise) and read row by row as 0xAARRGGBB words. The picture's own rows
// are read in place where it keeps 24- or 32-bit pixels (a TDIB, a decoded JPEG, a 24-bit bitmap, an opaque
// true-colour PNG); any other picture is first drawn into a 24-bit copy of its size, kept as long as this
// object. The padded image itself is never stored.
class TDXTextureImage {
 public:
  // Width and Height must be at least the picture's size. Raises EDirect3DTextureError "%s cannot be
  // initialized" with "Texture" for a missing or empty picture.
  TDXTextureImage(TGraphic* Picture, int Width, int Height);
  ~TDXTextureImage();
  TDXTextureImage(const TDXTextureImage&) = delete;
  TDXTextureImage& operator=(const TDXTextureImage&) = delete;

  // Row y (0 = top) as Width words into Out; returns how many leading words show the picture (0 below it),
  // the rest being Padding().
  int ReadRow(int y, std::uint32_t* Out);
  // Row y of the picture (0 <= y < PictureHeight) as its PictureWidth words, without padding.
  void ReadPictureRow(int y, std::uint32_t* Out);
  std::uint32_t Padding() const { return HasAlphaChannel ? 0 : 0xFF000000u; }

  int Width = 0;
  int Height = 0;
  int PictureWidth = 0;
  int PictureHeight = 0;
  // 32-bit picture with some alpha byte not 0: the texture blends by the fourth byte of every pixel.
  bool HasAlphaChannel = false;
  bool Transparent = false;
  TColor TransparentColor = 0;
  std::string ImageName;

 private:
  const std::uint8_t* PictureRow(int y);
  TDIB* dib_ = nullptr;        // rows read in place (or from copy_)
  TBitmap* bitmap_ = nullptr;  // rows read in place
  // A PNG's 24-bit store, bottom-up, read in place (its rows are what drawing it onto a 24-bit DIB gives).
  const std::uint8_t* store_ = nullptr;
  std::size_t storePitch_ = 0;
  std::unique_ptr<TDIB> copy_;
  int bytesPerPixel_ = 3;
};

// A Direct3D texture surface of the drawing surface's device, made and filled at once from an image.
class TDirect3DTexture2 {
 public:
  // Raises EDirect3DTextureError "%s cannot be initialized" with "Texture" when the drawing surface has no
  // device, no texture format suits, or the texture surface cannot be made or filled.
  TDirect3DTexture2(TCustomDXDraw* DXDraw, TDXTextureImage& Image);
  ~TDirect3DTexture2();
  TDirect3DTexture2(const TDirect3DTexture2&) = delete;
  TDirect3DTexture2& operator=(const TDirect3DTexture2&) = delete;

  plat::IDirectDrawSurface7* Surface() const { return surface_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  const plat::DDPIXELFORMAT& PixelFormat() const { return format_; }
  bool Transparent() const { return transparent_; }
  // Keys the colour (a TColor; high byte 1 names a palette index) out of a texture without alpha.
  void SetTransparent(bool Value);
  void SetTransparentColor(TColor Value);
  TColor TransparentColor() const { return transparentColor_; }
  // The raw texel value the colour key compares against.
  std::uint32_t ColorKeyValue() const;

 private:
  void ApplyColorKey();
  plat::IDirectDrawSurface7* surface_ = nullptr;
  plat::DDPIXELFORMAT format_{};
  int width_ = 0;
  int height_ = 0;
  bool hasAlpha_ = false;
  bool transparent_ = false;
  TColor transparentColor_ = 0;
};

// One texture of the cache. It keeps no image of its own: the texture is filled straight from the item's
// picture, which stays with the item to make the texture again after a restore.
struct TTextureEntry {
  std::unique_ptr<TDirect3DTexture2> Texture;
  double U0 = 0, V0 = 0, U1 = 1.0, V1 = 1.0;
  std::string Name;
  std::int32_t Width = 0, Height = 0;
  bool HasAlpha = false;
};

// One texture per picture item, made on first use and kept until Clear.
class TD2DTextures {
 public:
  explicit TD2DTextures(TCustomDXDraw* DXDraw);
  ~TD2DTextures();
  TD2DTextures(const TD2DTextures&) = delete;
  TD2DTextures& operator=(const TD2DTextures&) = delete;

  TCustomDXDraw* DXDraw() const { return DXDraw_; }
  int Count() const { return static_cast<int>(entries_.size()); }
  TTextureEntry& Texture(int Index) { return entries_.at(static_cast<std::size_t>(Index)); }
  const TTextureEntry& Texture(int Index) const { return entries_.at(static_cast<std::size_t>(Index)); }
  // Frees every entry's texture.
  void Clear();
  // Index of the first entry of that name, letter case ignored; -1 when none.
  int Find(const std::string& Name) const;
  // Whether an entry carries exactly the item's Name.
  bool CanFindTexture(const TPictureCollectionItem* Item) const;
  // Makes the item's texture (naming an unnamed item first); false, leaving no entry, when it fails.
  bool LoadFromItem(TPictureCollectionItem* Item);

 private:
  TCustomDXDraw* DXDraw_;
  std::vector<TTextureEntry> entries_;
};

// ---- The renderer ----

// Whether the renderer draws on a back surface of BitCount bits per pixel (16 and 32; on other depths
// nothing is drawn at all).
bool D2DDrawsOnBitCount(int BitCount);

class TD2D {
 public:
  // Enables itself when the surface's Options contain do3D, doDirectX7Mode and doHardware.
  explicit TD2D(TCustomDXDraw* DXDraw);
  ~TD2D();
  TD2D(const TD2D&) = delete;
  TD2D& operator=(const TD2D&) = delete;

  // Draws pattern PatternIndex of Item into Rect on the drawing surface's back surface; true when the
  // item's texture was bound. Draws nothing and returns false while the renderer is unusable.
  bool RenderItem(TPictureCollectionItem* Item, const TRect& Rect, int Alpha, TRenderType RenderType,
                  int PatternIndex);

  // The availability test: marks the renderer enabled or disabled and tells whether it may draw.
  bool CanUseD2D();
  bool Enabled() const { return Enabled_; }
  TCustomDXDraw* DXDraw() const { return DXDraw_; }
  TD2DTextures* Textures() const { return Textures_.get(); }
  bool CapsRead() const { return CapsRead_; }
  const plat::D3DDEVICEDESC7& Caps() const { return Caps_; }
  void SetTextureFilter(TD2DTextureFilter Filter);
  // The quad's vertices: 0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right (reset after every draw).
  const std::array<plat::D3DTLVERTEX, 4>& Vertices() const { return Vertices_; }
  int MirrorFlip() const { return MirrorFlip_; }

 private:
  void SetEnabled(bool Value);
  void ResetVertices();
  void SetBlendState(plat::IDirect3DDevice7* Device, TRenderType RenderType, int Alpha);
  bool BindTexture(plat::IDirect3DDevice7* Device, TPictureCollectionItem* Item, TRenderType RenderType,
                   int PatternIndex);

  TCustomDXDraw* DXDraw_;
  bool Enabled_ = false;
  std::unique_ptr<TD2DTextures> Textures_;
  bool CapsRead_ = false;
  plat::D3DDEVICEDESC7 Caps_{};
  int MirrorFlip_ = 0;
  std::array<plat::D3DTLVERTEX, 4> Vertices_{};
};

// ---- The picture list ----

// One pattern of an item: its rectangle in the picture and the item surface that holds it (not owned).
class TPictureCollectionItemPattern : public TCollectionItem {
  DS_CLASS_NAME(TPictureCollectionItemPattern)
 public:
  explicit TPictureCollectionItemPattern(TCollection* Collection) : TCollectionItem(Collection) {}
  TRect PatternRect;
  TDirectDrawSurface* Surface = nullptr;
};

class TPictureCollectionItem : public THashCollectionItem {
  DS_CLASS_NAME(TPictureCollectionItem)
 public:
  explicit TPictureCollectionItem(TCollection* Collection);
  ~TPictureCollectionItem() override;

  // Copies the pattern layout, memory choice, transparency and picture (not the name); an initialised
  // item is finalised first and restored afterwards.
  void Assign(const TPersistent* Source) override;

  TPictureCollection* PictureCollection() const;
  TPicture& Picture() { return *Picture_; }
  const TPicture& Picture() const { return *Picture_; }
  void SetPicture(const TPicture* Value) { Picture_->Assign(Value); }

  bool Initialized() const { return Initialized_; }
  std::int32_t PatternHeight() const { return PatternHeight_; }
  void SetPatternHeight(std::int32_t v) { PatternHeight_ = v; }
  std::int32_t PatternWidth() const { return PatternWidth_; }
  void SetPatternWidth(std::int32_t v) { PatternWidth_ = v; }
  std::int32_t SkipHeight() const { return SkipHeight_; }
  void SetSkipHeight(std::int32_t v) { SkipHeight_ = v; }
  std::int32_t SkipWidth() const { return SkipWidth_; }
  void SetSkipWidth(std::int32_t v) { SkipWidth_ = v; }
  bool SystemMemory() const { return SystemMemory_; }
  void SetSystemMemory(bool v) { SystemMemory_ = v; }
  bool Transparent() const { return Transparent_; }
  void SetTransparent(bool v) { Transparent_ = v; }
  TColor TransparentColor() const { return TransparentColor_; }
  // A new colour re-keys every surface of the item.
  void SetTransparentColor(TColor Value);

  // PatternWidth when above 0, else the picture's width (0 for an empty picture); Height likewise.
  std::int32_t Width() const;
  std::int32_t Height() const;
  // The number of patterns once surfaces exist, else computed from the picture.
  std::int32_t PatternCount() const;
  // Pattern rectangle and surface; Index must be below the number of made patterns. A surface handed out
  // holds its part of the picture.
  TRect PatternRect(int Index) const;
  TDirectDrawSurface* PatternSurface(int Index) const;
  int PatternsMade() const { return Patterns_.Count(); }
  int SurfaceCount() const { return static_cast<int>(SurfaceList_.size()); }
  TDirectDrawSurface* Surfaces(int Index) const;

  void Initialize();
  void Finalize();
  void Restore();

  // Draws the pattern unscaled at (X, Y); nothing when not initialised or the index is outside the
  // patterns.
  void Draw(TDirectDrawSurface* Dest, std::int32_t X, std::int32_t Y, std::int32_t PatternIndex);
  // Draws the pattern scaled into DestRect (right and bottom exclusive).
  void StretchDraw(TDirectDrawSurface* Dest, const TRect& DestRect, std::int32_t PatternIndex);

 private:
  void ReleaseSurfaces();
  void BuildPatterns();
  TDirectDrawSurface* MakeSurface(const TRect& Rect);
  // Copies the picture into a surface made but not filled yet.
  void FillSurface(TDirectDrawSurface* Surface) const;
  void KeySurface(TDirectDrawSurface* Surface);
  bool DrawWithRenderer(TDirectDrawSurface* Dest, const TRect& DestRect, std::int32_t PatternIndex,
                        bool& Chosen);

  std::unique_ptr<TPicture> Picture_;
  bool Initialized_ = false;
  std::int32_t PatternHeight_ = 0;
  std::int32_t PatternWidth_ = 0;
  TCollection Patterns_;
  std::int32_t SkipHeight_ = 0;
  std::int32_t SkipWidth_ = 0;
  std::vector<TDirectDrawSurface*> SurfaceList_;  // owned
  // Surfaces not holding their part of the picture yet, with that part. The renderer draws from the picture
  // itself, so a surface gets its pixels only when something asks for the surface: a program that only
  // renders never pays for copying the picture (for a wallpaper, most of the wait for the first frame).
  mutable std::vector<std::pair<TDirectDrawSurface*, TRect>> Unfilled_;
  bool SystemMemory_ = false;
  bool Transparent_ = true;
  TColor TransparentColor_ = 0;
};

class TPictureCollection : public THashCollection {
  DS_CLASS_NAME(TPictureCollection)
 public:
  explicit TPictureCollection(TPersistent* AOwner);
  ~TPictureCollection() override;

  // Raises EListError "List index out of bounds (%d)".
  TPictureCollectionItem* Items(int Index) const;
  TPictureCollectionItem* Add() { return static_cast<TPictureCollectionItem*>(TCollection::Add()); }
  // The item of that name (letter case ignored) or null.
  TPictureCollectionItem* FindItem(const std::string& Name) const;

  TCustomDXDraw* DXDraw() const { return DXDraw_; }
  bool Initialized() const;
  // Raises EPictureCollectionError "%s cannot be initialized" when the drawing surface is not initialised.
  void Initialize(TCustomDXDraw* DXDraw);
  void Finalize();
  void Restore();

  // The stored colour table: 256 four-byte entries, kept verbatim.
  std::array<std::uint8_t, 1024> ColorTable{};
  void ReadColorTable(TStream& Stream);
  void WriteColorTable(TStream& Stream) const;
  void DefineProperties(TFiler& Filer) override;

 private:
  TCustomDXDraw* DXDraw_ = nullptr;
};

class TCustomDXImageList : public TComponent {
  DS_CLASS_NAME(TCustomDXImageList)
 public:
  explicit TCustomDXImageList(TComponent* AOwner);
  ~TCustomDXImageList() override;

  TCustomDXDraw* DXDraw() const { return DXDraw_; }
  // Leaves the old surface's notifications (it finalises the list when initialised) and joins the new
  // one's (it initialises the list at once when initialised).
  void SetDXDraw(TCustomDXDraw* Value);
  TPictureCollection& Items() { return *Items_; }
  const TPictureCollection& Items() const { return *Items_; }
  void SetItems(const TPictureCollection& Value) { Items_->Assign(&Value); }

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  void DXDrawNotifyEvent(TCustomDXDraw* Sender, TSurfaceNotifyKind Kind);
  TSurfaceNotifyHandler Handler();

  TCustomDXDraw* DXDraw_ = nullptr;
  std::unique_ptr<TPictureCollection> Items_;
};

class TDXImageList : public TCustomDXImageList {
  DS_CLASS_NAME(TDXImageList)
 public:
  explicit TDXImageList(TComponent* AOwner) : TCustomDXImageList(AOwner) {}
};

// Installs the renderer into the drawing surface (its creation hooks) and registers the picture list's
// classes for the form reader; idempotent. Call once at start-up after the surface's registration.
void RegisterDXImageListClasses();
