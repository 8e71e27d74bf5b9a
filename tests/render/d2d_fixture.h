// A drawing surface with a picture list on a fresh soft platform: form, TDXDraw filling it, TDXImageList
// following it, and helpers that make pictures and read back-surface pixels.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>

#include "platform/common/SoftDirectDraw.h"
#include "platform/soft/SoftPlatform.h"
#include "render/DIB.h"
#include "render/DXDraws.h"
#include "ui/Forms.h"

inline plat::soft::SoftOptions D2DScreen(int w, int h, int bpp) {
  plat::soft::SoftOptions o;
  o.screenWidth = w;
  o.screenHeight = h;
  o.screenBitCount = bpp;
  return o;
}

// White 32-bit sprite whose alpha byte is alpha(x, y) (x, y from the top-left).
inline std::unique_ptr<TDIB> MakeSprite(int w, int h, const std::function<int(int, int)>& alpha) {
  auto d = std::make_unique<TDIB>();
  d->PixelFormat = MakeDIBPixelFormat(8, 8, 8);
  d->SetSize(w, h, 32);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = d->Row(y);
    for (int x = 0; x < w; ++x) {
      row[x * 4 + 0] = row[x * 4 + 1] = row[x * 4 + 2] = 255;
      row[x * 4 + 3] = static_cast<std::uint8_t>(alpha(x, y));
    }
  }
  return d;
}

// Opaque 24-bit picture whose pixel (x, y) is rgb(x, y) as 0xRRGGBB.
inline std::unique_ptr<TDIB> MakePicture24(int w, int h, const std::function<std::uint32_t(int, int)>& rgb) {
  auto d = std::make_unique<TDIB>();
  d->PixelFormat = MakeDIBPixelFormat(8, 8, 8);
  d->SetSize(w, h, 24);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* row = d->Row(y);
    for (int x = 0; x < w; ++x) {
      const std::uint32_t c = rgb(x, y);
      row[x * 3 + 0] = static_cast<std::uint8_t>(c);
      row[x * 3 + 1] = static_cast<std::uint8_t>(c >> 8);
      row[x * 3 + 2] = static_cast<std::uint8_t>(c >> 16);
    }
  }
  return d;
}

class D2DFixture : public ::testing::Test {
 protected:
  explicit D2DFixture(const plat::soft::SoftOptions& o = D2DScreen(320, 240, 32)) : platform_(o) {
    RegisterFormClasses();
    RegisterDXDrawClasses();
    RegisterDXImageListClasses();
    InitDIBUnit();
    Application = new TApplication(nullptr);
    Application->Initialize();
    form = CreateForm<TForm>(Application);
    form->SetBounds(0, 0, o.screenWidth, o.screenHeight);
    dxdraw = new TDXDraw(form);
    dxdraw->SetName("DXDraw1");
    dxdraw->SetAutoInitialize(false);
    dxdraw->SetParent(form);
    dxdraw->SetBounds(0, 0, o.screenWidth, o.screenHeight);
    list = new TDXImageList(form);
    list->SetName("DXImageList1");
    list->SetDXDraw(dxdraw);
    form->Show();
  }
  ~D2DFixture() override {
    delete Application;
    Application = nullptr;
    FreeDirectXLibraries();
  }

  plat::soft::SoftDirectDraw& ddraw() { return platform_.ddraw(); }

  TPictureCollectionItem* AddItem(const TGraphic* picture) {
    TPictureCollectionItem* it = list->Items().Add();
    it->SetTransparent(false);
    it->SetSystemMemory(true);
    if (picture) it->Picture().SetGraphic(picture);
    return it;
  }

  // Fills the back surface with a colour 0xRRGGBB (32-bit surface).
  void FillBack(std::uint32_t rgb) { ASSERT_TRUE(dxdraw->Surface()->Fill(rgb)); }

  // Back-surface pixel as 0xRRGGBB (32-bit surface).
  std::uint32_t Back(int x, int y) {
    plat::DDSURFACEDESC2 d{};
    d.dwSize = sizeof(d);
    if (!dxdraw->Surface()->Lock(d)) return 0xDEADBEEF;
    std::uint32_t v = 0;
    std::memcpy(
        &v, static_cast<std::uint8_t*>(d.lpSurface) + static_cast<std::ptrdiff_t>(y) * d.lPitch + x * 4, 4);
    dxdraw->Surface()->Unlock();
    return v & 0xFFFFFFu;
  }

  TTextureEntry* Entry(const std::string& name) {
    TD2DTextures* t = dxdraw->D2D() ? dxdraw->D2D()->Textures() : nullptr;
    if (!t) return nullptr;
    const int i = t->Find(name);
    return i < 0 ? nullptr : &t->Texture(i);
  }
  int TextureCount() {
    TD2DTextures* t = dxdraw->D2D() ? dxdraw->D2D()->Textures() : nullptr;
    return t ? t->Count() : -1;
  }

  plat::soft::SoftPlatform platform_;
  TForm* form = nullptr;
  TDXDraw* dxdraw = nullptr;
  TDXImageList* list = nullptr;
};
