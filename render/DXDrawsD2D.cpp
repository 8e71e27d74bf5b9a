// The hardware 2D renderer: one textured quad per draw, blended per render type.
#include "render/DXDraws.h"

namespace {

constexpr plat::D3DCOLOR White = plat::RGBA_MAKE(255, 255, 255, 255);

plat::D3DCOLOR Argb(int a, int r, int g, int b) {
  return plat::RGBA_MAKE(static_cast<plat::BYTE>(r), static_cast<plat::BYTE>(g), static_cast<plat::BYTE>(b),
                         static_cast<plat::BYTE>(a));
}

}  // namespace

TD2D::TD2D(TCustomDXDraw* DXDraw) : DXDraw_(DXDraw) {
  ResetVertices();
  const TDXDrawOptions o = DXDraw_->Options();
  SetEnabled(o.Contains(do3D) && o.Contains(doDirectX7Mode) && o.Contains(doHardware));
}

TD2D::~TD2D() {
  Textures_.reset();
}

void TD2D::SetEnabled(bool Value) {
  if (Value == Enabled_) return;
  Enabled_ = Value;
  if (!Value) return;
  // The cache lives from the first enabling until the renderer goes; disabling keeps it.
  if (!Textures_) Textures_ = std::make_unique<TD2DTextures>(DXDraw_);
  if (DXDraw_->D3DDevice7()) SetTextureFilter(D2D_LINEAR);
}

void TD2D::SetTextureFilter(TD2DTextureFilter Filter) {
  plat::IDirect3DDevice7* d = DXDraw_->D3DDevice7();
  if (!d) return;
  const plat::DWORD v = static_cast<plat::DWORD>(Filter) + 1;
  d->SetTextureStageState(0, plat::D3DTSS_MAGFILTER, v);
  d->SetTextureStageState(0, plat::D3DTSS_MINFILTER, v);
}

bool D2DDrawsOnBitCount(int BitCount) {
  return BitCount == 16 || BitCount == 32;
}

bool TD2D::CanUseD2D() {
  const TDXDrawOptions o = DXDraw_->Options();
  TDirectDrawSurface* s = DXDraw_->Surface();
  const bool usable = o.Contains(do3D) && o.Contains(doDirectX7Mode) && o.Contains(doHardware) && s &&
                      D2DDrawsOnBitCount(s->BitCount());
  SetEnabled(usable);
  return usable;
}

void TD2D::ResetVertices() {
  for (plat::D3DTLVERTEX& v : Vertices_) {
    v = plat::D3DTLVERTEX{};
    v.rhw = 1.0f;
    v.specular = White;
  }
}

void TD2D::SetBlendState(plat::IDirect3DDevice7* d, TRenderType RenderType, int Alpha) {
  plat::D3DCOLOR diffuse = 0;
  switch (RenderType) {
    case rtDraw:
      d->SetRenderState(plat::D3DRENDERSTATE_ALPHABLENDENABLE, 0);
      d->SetRenderState(plat::D3DRENDERSTATE_SRCBLEND, plat::D3DBLEND_ONE);
      d->SetRenderState(plat::D3DRENDERSTATE_COLORKEYENABLE, 1);
      diffuse = Argb(0, 255, 255, 255);
      break;
    case rtBlend:
      d->SetRenderState(plat::D3DRENDERSTATE_ALPHABLENDENABLE, 1);
      d->SetRenderState(plat::D3DRENDERSTATE_SRCBLEND, plat::D3DBLEND_SRCALPHA);
      d->SetRenderState(plat::D3DRENDERSTATE_DESTBLEND, plat::D3DBLEND_INVSRCALPHA);
      d->SetTextureStageState(0, plat::D3DTSS_COLOROP, plat::D3DTOP_MODULATE);
      d->SetTextureStageState(0, plat::D3DTSS_COLORARG1, plat::D3DTA_TEXTURE);
      d->SetTextureStageState(0, plat::D3DTSS_COLORARG2, plat::D3DTA_CURRENT);
      d->SetTextureStageState(0, plat::D3DTSS_ALPHAOP, plat::D3DTOP_MODULATE);
      d->SetTextureStageState(0, plat::D3DTSS_ALPHAARG1, plat::D3DTA_TEXTURE);
      d->SetTextureStageState(0, plat::D3DTSS_ALPHAARG2, plat::D3DTA_CURRENT);
      diffuse = Argb(Alpha, 255, 255, 255);
      break;
    case rtAdd:
    case rtSub:
      d->SetRenderState(plat::D3DRENDERSTATE_ALPHABLENDENABLE, 1);
      if (RenderType == rtAdd) {
        d->SetRenderState(plat::D3DRENDERSTATE_SRCBLEND, plat::D3DBLEND_ONE);
        d->SetRenderState(plat::D3DRENDERSTATE_DESTBLEND, plat::D3DBLEND_ONE);
      } else {
        d->SetRenderState(plat::D3DRENDERSTATE_SRCBLEND, plat::D3DBLEND_ZERO);
        d->SetRenderState(plat::D3DRENDERSTATE_DESTBLEND, plat::D3DBLEND_INVSRCCOLOR);
      }
      d->SetTextureStageState(0, plat::D3DTSS_ALPHAOP, plat::D3DTOP_MODULATE);
      d->SetTextureStageState(0, plat::D3DTSS_ALPHAARG1, plat::D3DTA_CURRENT);
      diffuse = Argb(0, Alpha, Alpha, Alpha);
      break;
  }
  for (plat::D3DTLVERTEX& v : Vertices_) v.color = diffuse;
}

bool TD2D::BindTexture(plat::IDirect3DDevice7* d, TPictureCollectionItem* Item, TRenderType RenderType,
                       int PatternIndex) {
  d->SetTexture(0, nullptr);
  if (!Item || !Textures_) return false;
  if (!Textures_->CanFindTexture(Item) && !Textures_->LoadFromItem(Item)) return false;
  const int i = Textures_->Find(Item->Name());
  if (i < 0) return false;
  TTextureEntry& e = Textures_->Texture(i);
  plat::IDirectDrawSurface7* tex = e.Texture ? e.Texture->Surface() : nullptr;
  if (!tex || d->SetTexture(0, tex) != plat::D3D_OK) {
    // A texture the device refuses: start the cache afresh and make the item's surfaces again.
    Textures_->Clear();
    Item->Restore();
    SetTextureFilter(D2D_LINEAR);
    return false;
  }
  const bool keyed =
      Item->Transparent() && (Caps_.dpcTriCaps.dwTextureCaps & plat::D3DPTEXTURECAPS_TRANSPARENCY) != 0;
  d->SetRenderState(plat::D3DRENDERSTATE_COLORKEYENABLE, keyed ? 1 : 0);
  if (e.HasAlpha && RenderType == rtDraw) SetBlendState(d, rtBlend, 255);

  if (Item->PatternWidth() != 0 || Item->PatternHeight() != 0) {
    const TRect r = Item->PatternRect(PatternIndex);
    const double dd = Item->PatternCount() > 1 ? 0.5 : 0.0;
    e.U0 = static_cast<double>(r.Left) / e.Width;
    e.V0 = static_cast<double>(r.Top) / e.Height;
    e.U1 = (r.Right - dd) / e.Width;
    e.V1 = (r.Bottom - dd) / e.Height;
  }
  const float u0 = static_cast<float>(e.U0), v0 = static_cast<float>(e.V0);
  const float u1 = static_cast<float>(e.U1), v1 = static_cast<float>(e.V1);
  Vertices_[0].tu = u0;
  Vertices_[0].tv = v0;
  Vertices_[1].tu = u1;
  Vertices_[1].tv = v0;
  Vertices_[2].tu = u0;
  Vertices_[2].tv = v1;
  Vertices_[3].tu = u1;
  Vertices_[3].tv = v1;
  return true;
}

bool TD2D::RenderItem(TPictureCollectionItem* Item, const TRect& Rect, int Alpha, TRenderType RenderType,
                      int PatternIndex) {
  if (!CanUseD2D()) return false;
  plat::IDirect3DDevice7* d = DXDraw_->D3DDevice7();
  if (!d) return false;
  if (!CapsRead_) {
    CapsRead_ = true;
    d->GetCaps(&Caps_);
  }
  SetBlendState(d, RenderType, Alpha);
  const bool bound = BindTexture(d, Item, RenderType, PatternIndex);

  const float l = static_cast<float>(Rect.Left) - 0.5f, t = static_cast<float>(Rect.Top) - 0.5f;
  const float r = static_cast<float>(Rect.Right) - 0.5f, b = static_cast<float>(Rect.Bottom) - 0.5f;
  Vertices_[0].sx = l;
  Vertices_[0].sy = t;
  Vertices_[1].sx = r;
  Vertices_[1].sy = t;
  Vertices_[2].sx = l;
  Vertices_[2].sy = b;
  Vertices_[3].sx = r;
  Vertices_[3].sy = b;
  for (plat::D3DTLVERTEX& v : Vertices_) {
    v.sz = 0;
    v.rhw = 1.0f;
  }
  const plat::HRESULT hr = d->DrawPrimitive(plat::D3DPT_TRIANGLESTRIP, plat::D3DFVF_TLVERTEX,
                                            Vertices_.data(), 4, plat::D3DDP_WAIT);
  RenderError = hr != plat::D3D_OK;

  ResetVertices();
  MirrorFlip_ = 0;
  d->SetTextureStageState(1, plat::D3DTSS_COLOROP, plat::D3DTOP_DISABLE);
  d->SetTextureStageState(1, plat::D3DTSS_ALPHAOP, plat::D3DTOP_DISABLE);
  d->SetRenderState(plat::D3DRENDERSTATE_ALPHABLENDENABLE, 0);
  return bound;
}
