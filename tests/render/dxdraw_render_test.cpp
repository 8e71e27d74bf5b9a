// The drawing surface together with the real renderer and picture list: what reaches the back surface.
#include <gtest/gtest.h>

#include "dxdraw_fixture.h"

namespace {

constexpr std::uint32_t kBackground = 0x304050;

class DXDrawRenderTest : public DXDrawFixture {
 protected:
  // An opaque white 4 x 4 sprite (alpha 255) in a picture list on the surface.
  TPictureCollectionItem* AddWhiteSprite() {
    list = new TDXImageList(form);
    list->SetDXDraw(draw);
    TPictureCollectionItem* item = list->Items().Add();
    auto dib = std::make_unique<TDIB>();
    dib->SetSize(4, 4, 32);
    for (int y = 0; y < 4; ++y) {
      std::uint8_t* row = dib->Row(y);
      for (int i = 0; i < 16; ++i) row[i] = 0xFF;
    }
    item->Picture().SetGraphic(std::move(dib));
    item->SetTransparent(false);
    return item;
  }

  // The back surface pixel as 0xRRGGBB, read through a lock.
  std::uint32_t BackPixel(int x, int y) {
    plat::DDSURFACEDESC2 d{};
    EXPECT_TRUE(draw->Surface()->Lock(d));
    const int bytes = static_cast<int>(d.ddpfPixelFormat.dwRGBBitCount) / 8;
    const std::uint8_t* p = static_cast<const std::uint8_t*>(d.lpSurface) + y * d.lPitch + x * bytes;
    std::uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
    draw->Surface()->Unlock();
    return v;
  }

  TDXImageList* list = nullptr;
};

TEST_F(DXDrawRenderTest, SpriteReachesA32BitBackSurface) {
  TPictureCollectionItem* item = AddWhiteSprite();
  draw->Initialize();
  draw->Surface()->Fill(kBackground);
  item->Draw(draw->Surface(), 10, 10, 0);
  EXPECT_EQ(BackPixel(11, 11), 0xFFFFFFu);
  EXPECT_EQ(BackPixel(9, 9), kBackground);
}

TEST_F(DXDrawRenderTest, NothingIsDrawnOnA24BitBackSurface) {
  Rebuild(640, 480, 24);
  ddraw().SetDeviceRenderBitDepths(plat::DDBD_16 | plat::DDBD_24 | plat::DDBD_32);
  TPictureCollectionItem* item = AddWhiteSprite();
  draw->Initialize();
  ASSERT_EQ(draw->Surface()->BitCount(), 24);
  draw->Surface()->Fill(kBackground);
  const auto draws = ddraw().DrawPrimitiveCalls();
  item->Draw(draw->Surface(), 10, 10, 0);
  EXPECT_EQ(ddraw().DrawPrimitiveCalls(), draws);
  EXPECT_EQ(BackPixel(11, 11), kBackground);
}

TEST_F(DXDrawRenderTest, FailingDrawDropsExactlyOnePresent) {
  TPictureCollectionItem* item = AddWhiteSprite();
  draw->Initialize();
  ddraw().FailDrawPrimitive(1);
  item->Draw(draw->Surface(), 10, 10, 0);
  EXPECT_TRUE(RenderError);
  const auto blits = ddraw().PrimaryBlits();
  draw->Flip();
  EXPECT_EQ(ddraw().PrimaryBlits(), blits);
  item->Draw(draw->Surface(), 10, 10, 0);
  draw->Flip();
  EXPECT_EQ(ddraw().PrimaryBlits(), blits + 1);
}

TEST_F(DXDrawRenderTest, RendererIsMadeByTheSurfaceAndFollowsItsLifeCycle) {
  draw->Initialize();
  EXPECT_NE(draw->D2D(), nullptr);
  EXPECT_EQ(CurrentD2D, draw->D2D());
  draw->Finalize();
  EXPECT_EQ(draw->D2D(), nullptr);
}

// Records the texture count when the restore notification arrives.
struct TTexturesAtRestore {
  int count = -1;
  void OnNotify(TCustomDXDraw* sender, TSurfaceNotifyKind kind) {
    if (kind == snRestore) count = sender->D2D()->Textures()->Count();
  }
};

TEST_F(DXDrawRenderTest, LostSurfacesEmptyTheTextureCacheBeforeTheRestore) {
  TPictureCollectionItem* item = AddWhiteSprite();
  draw->Initialize();
  item->Draw(draw->Surface(), 10, 10, 0);
  ASSERT_EQ(draw->D2D()->Textures()->Count(), 1);
  // Registered after the picture list, so it hears of the restore before the list empties the cache.
  TTexturesAtRestore seen;
  draw->AddNotifyHandler(MakeSurfaceNotifyHandler<TTexturesAtRestore, &TTexturesAtRestore::OnNotify>(&seen));
  seen.count = -1;
  ddraw().LoseAllSurfaces();
  draw->Flip();
  EXPECT_EQ(seen.count, 0);
}

}  // namespace
