// The renderer drawing picture items onto the back surface: exact pixels of sprites and opaque pictures,
// coverage of stretched backgrounds, availability, texture cache life and failure handling.
#include <cmath>

#include "d2d_fixture.h"

namespace {

std::uint32_t Blend(std::uint32_t dst, int a) {
  // white * a + dst * (1 - a), per channel, rounded.
  std::uint32_t out = 0;
  for (int s = 0; s < 24; s += 8) {
    const int d = static_cast<int>((dst >> s) & 0xFF);
    const int v = (255 * a + d * (255 - a) + 127) / 255;
    out |= static_cast<std::uint32_t>(v) << s;
  }
  return out;
}

int SpriteAlpha(int x, int y) {
  // Zero border, opaque core, graded ring: every kind of alpha in one sprite.
  if (x == 0 || y == 0 || x == 31 || y == 42) return 0;
  if (x >= 12 && x < 20 && y >= 16 && y < 23) return 255;
  return (x * 7 + y * 3) % 256;
}

constexpr std::uint32_t Ground = 0x204080;

}  // namespace

class D2DRenderTest : public D2DFixture {
 protected:
  void SetUp() override {
    sprite = AddItem(MakeSprite(32, 43, SpriteAlpha).get());
    dxdraw->Initialize();
    FillBack(Ground);
  }
  TPictureCollectionItem* sprite = nullptr;
};

// ---- Sprites ----

TEST_F(D2DRenderTest, SpriteCoversExactlyItsRectangleBlendedByItsAlpha) {
  sprite->Draw(dxdraw->Surface(), 100, 150, 0);
  EXPECT_FALSE(RenderError);
  for (int y = 145; y < 198; ++y) {
    for (int x = 95; x < 137; ++x) {
      const bool inside = x >= 100 && x < 132 && y >= 150 && y < 193;
      const std::uint32_t want = inside ? Blend(Ground, SpriteAlpha(x - 100, y - 150)) : Ground;
      ASSERT_EQ(Back(x, y), want) << "pixel " << x << "," << y;
    }
  }
}

TEST_F(D2DRenderTest, AlphaZeroLeavesBackgroundAndAlpha255MakesPureWhite) {
  sprite->Draw(dxdraw->Surface(), 10, 10, 0);
  EXPECT_EQ(Back(10, 10), Ground);               // sprite pixel (0, 0): alpha 0
  EXPECT_EQ(Back(10 + 15, 10 + 18), 0xFFFFFFu);  // core: alpha 255
}

TEST_F(D2DRenderTest, SpriteTextureIsPaddedTo64WithCoordinatesOfItsCorner) {
  sprite->Draw(dxdraw->Surface(), 0, 0, 0);
  TTextureEntry* e = Entry(sprite->Name());
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Width, 64);
  EXPECT_EQ(e->Height, 64);
  EXPECT_DOUBLE_EQ(e->U1, 0.5);
  EXPECT_DOUBLE_EQ(e->V1, 0.671875);
  EXPECT_TRUE(e->HasAlpha);
  ASSERT_TRUE(e->Texture);
  EXPECT_EQ(e->Texture->PixelFormat().dwRGBAlphaBitMask, 0xFF000000u);
}

TEST_F(D2DRenderTest, SpritePartlyOutsideIsClippedAtTheSurfaceEdge) {
  sprite->Draw(dxdraw->Surface(), -16, -20, 0);
  EXPECT_EQ(Back(0, 0), Blend(Ground, SpriteAlpha(16, 20)));
  EXPECT_EQ(Back(15, 22), Blend(Ground, SpriteAlpha(31, 42)));
  EXPECT_EQ(Back(16, 0), Ground);
  EXPECT_EQ(Back(0, 23), Ground);
}

TEST_F(D2DRenderTest, AllTransparentSpriteIsTreatedAsOpaque) {
  TPictureCollectionItem* clear = AddItem(MakeSprite(8, 8, [](int, int) { return 0; }).get());
  list->Items().Initialize(dxdraw);
  clear->Draw(dxdraw->Surface(), 4, 4, 0);
  TTextureEntry* e = Entry(clear->Name());
  ASSERT_NE(e, nullptr);
  EXPECT_FALSE(e->HasAlpha);
  EXPECT_EQ(Back(5, 5), 0xFFFFFFu);  // white colour drawn opaque
}

// ---- Opaque pictures ----

TEST_F(D2DRenderTest, OpaquePictureDrawnAtItsSizeMapsEachTexelOntoOnePixel) {
  auto colour = [](int x, int y) {
    return static_cast<std::uint32_t>((x * 16) << 16 | (y * 16) << 8 | 0x5A);
  };
  TPictureCollectionItem* pic = AddItem(MakePicture24(16, 12, colour).get());
  list->Items().Initialize(dxdraw);
  pic->Draw(dxdraw->Surface(), 40, 30, 0);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(Back(40 + x, 30 + y), colour(x, y)) << x << "," << y;
  EXPECT_EQ(Back(39, 30), Ground);
  EXPECT_EQ(Back(56, 30), Ground);
  EXPECT_EQ(Back(40, 42), Ground);
  TTextureEntry* e = Entry(pic->Name());
  ASSERT_NE(e, nullptr);
  EXPECT_FALSE(e->HasAlpha);
}

TEST_F(D2DRenderTest, StretchedBackgroundFillsTheSurfaceExactly) {
  TPictureCollectionItem* bg = AddItem(MakePicture24(64, 64, [](int, int) { return 0xC04020u; }).get());
  list->Items().Initialize(dxdraw);
  const int w = dxdraw->SurfaceWidth(), h = dxdraw->SurfaceHeight();
  bg->StretchDraw(dxdraw->Surface(), Rect(0, 0, w, h), 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ASSERT_EQ(Back(x, y), 0xC04020u) << x << "," << y;
}

TEST_F(D2DRenderTest, StretchIntoPartOfTheSurfaceLeavesTheRestAlone) {
  TPictureCollectionItem* bg = AddItem(MakePicture24(64, 64, [](int, int) { return 0x10E010u; }).get());
  list->Items().Initialize(dxdraw);
  bg->StretchDraw(dxdraw->Surface(), Rect(10, 20, 110, 70), 0);
  EXPECT_EQ(Back(10, 20), 0x10E010u);
  EXPECT_EQ(Back(109, 69), 0x10E010u);
  EXPECT_EQ(Back(9, 20), Ground);
  EXPECT_EQ(Back(110, 69), Ground);
  EXPECT_EQ(Back(109, 70), Ground);
}

TEST_F(D2DRenderTest, PaddedWallpaperUsesCoordinatesOfItsCorner) {
  TPictureCollectionItem* bg = AddItem(MakePicture24(1024, 768, [](int, int) { return 0x808080u; }).get());
  list->Items().Initialize(dxdraw);
  bg->StretchDraw(dxdraw->Surface(), Rect(0, 0, 32, 24), 0);
  TTextureEntry* e = Entry(bg->Name());
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->Width, 1024);
  EXPECT_EQ(e->Height, 1024);
  EXPECT_DOUBLE_EQ(e->U1, 1.0);
  EXPECT_DOUBLE_EQ(e->V1, 0.75);
  EXPECT_FALSE(e->HasAlpha);
}

// ---- Nothing drawn ----

TEST_F(D2DRenderTest, ItemWithoutPictureDrawsNothing) {
  TPictureCollectionItem* empty = AddItem(nullptr);
  list->Items().Initialize(dxdraw);
  const auto calls = ddraw().DrawPrimitiveCalls();
  empty->Draw(dxdraw->Surface(), 0, 0, 0);
  empty->StretchDraw(dxdraw->Surface(), Rect(0, 0, 50, 50), 0);
  EXPECT_EQ(ddraw().DrawPrimitiveCalls(), calls);
  EXPECT_EQ(Back(0, 0), Ground);
  EXPECT_EQ(empty->Width(), 0);
  EXPECT_EQ(empty->Height(), 0);
}

TEST_F(D2DRenderTest, PatternIndexOutsideThePatternsDrawsNothing) {
  const auto calls = ddraw().DrawPrimitiveCalls();
  sprite->Draw(dxdraw->Surface(), 50, 50, 1);
  sprite->Draw(dxdraw->Surface(), 50, 50, -1);
  EXPECT_EQ(ddraw().DrawPrimitiveCalls(), calls);
  EXPECT_EQ(Back(65, 68), Ground);
}

TEST_F(D2DRenderTest, WithoutHardwareOptionRendererIsUnusableAndDrawsNothing) {
  TDXDrawOptions o = dxdraw->Options();
  o.Exclude(doHardware);
  dxdraw->SetOptions(o);
  const auto calls = ddraw().DrawPrimitiveCalls();
  EXPECT_FALSE(dxdraw->D2D()->RenderItem(sprite, Rect(0, 0, 32, 43), 255, rtDraw, 0));
  sprite->Draw(dxdraw->Surface(), 10, 10, 0);
  EXPECT_EQ(ddraw().DrawPrimitiveCalls(), calls);
  EXPECT_FALSE(dxdraw->D2D()->Enabled());
  EXPECT_EQ(Back(25, 28), Ground);
}

TEST_F(D2DRenderTest, ReenabledRendererKeepsItsTextureCache) {
  sprite->Draw(dxdraw->Surface(), 0, 0, 0);
  TD2DTextures* cache = dxdraw->D2D()->Textures();
  TDXDrawOptions o = dxdraw->Options();
  o.Exclude(do3D);
  dxdraw->SetOptions(o);
  sprite->Draw(dxdraw->Surface(), 0, 0, 0);
  o.Include(do3D);
  dxdraw->SetOptions(o);
  sprite->Draw(dxdraw->Surface(), 0, 0, 0);
  EXPECT_TRUE(dxdraw->D2D()->Enabled());
  EXPECT_EQ(dxdraw->D2D()->Textures(), cache);
  EXPECT_EQ(TextureCount(), 1);
}

// ---- Renderer state ----

TEST_F(D2DRenderTest, VerticesReturnToTheirResetStateAfterADraw) {
  sprite->Draw(dxdraw->Surface(), 7, 9, 0);
  for (const plat::D3DTLVERTEX& v : dxdraw->D2D()->Vertices()) {
    EXPECT_EQ(v.sx, 0.0f);
    EXPECT_EQ(v.sy, 0.0f);
    EXPECT_EQ(v.rhw, 1.0f);
    EXPECT_EQ(v.color, 0u);
    EXPECT_EQ(v.specular, 0xFFFFFFFFu);
    EXPECT_EQ(v.tu, 0.0f);
  }
  plat::DWORD blend = 1;
  dxdraw->D3DDevice7()->GetRenderState(plat::D3DRENDERSTATE_ALPHABLENDENABLE, &blend);
  EXPECT_EQ(blend, 0u);
}

// ---- Failures ----

TEST_F(D2DRenderTest, FailingDrawCallSetsRenderErrorAndNextDrawClearsIt) {
  ddraw().FailDrawPrimitive(1);
  sprite->Draw(dxdraw->Surface(), 0, 0, 0);
  EXPECT_TRUE(RenderError);
  sprite->Draw(dxdraw->Surface(), 0, 0, 0);
  EXPECT_FALSE(RenderError);
}

TEST_F(D2DRenderTest, FailingDrawDropsExactlyOnePresent) {
  ddraw().FailDrawPrimitive(1);
  sprite->Draw(dxdraw->Surface(), 0, 0, 0);
  const auto blits = ddraw().PrimaryBlits();
  dxdraw->Flip();
  EXPECT_EQ(ddraw().PrimaryBlits(), blits);
  sprite->Draw(dxdraw->Surface(), 0, 0, 0);
  dxdraw->Flip();
  EXPECT_EQ(ddraw().PrimaryBlits(), blits + 1);
}

TEST_F(D2DRenderTest, TextureThatCannotBeMadeLeavesNoEntryAndIsTriedAgain) {
  ddraw().FailSurfaceCreation(1, plat::DDSCAPS_TEXTURE);
  const auto calls = ddraw().DrawPrimitiveCalls();
  EXPECT_FALSE(dxdraw->D2D()->RenderItem(sprite, Rect(0, 0, 32, 43), 255, rtDraw, 0));
  EXPECT_EQ(ddraw().DrawPrimitiveCalls(), calls + 1);  // the untextured quad is still drawn
  EXPECT_EQ(TextureCount(), 0);
  EXPECT_TRUE(dxdraw->D2D()->RenderItem(sprite, Rect(0, 0, 32, 43), 255, rtDraw, 0));
  EXPECT_EQ(TextureCount(), 1);
}

// ---- Texture cache ----

TEST_F(D2DRenderTest, UnnamedItemIsNamedByItsPathAndIndexOnFirstDraw) {
  EXPECT_EQ(sprite->Name(), "");
  sprite->Draw(dxdraw->Surface(), 0, 0, 0);
  EXPECT_EQ(sprite->Name(), "DXImageList1.Items[0]");
  EXPECT_EQ(TextureCount(), 1);
}

TEST_F(D2DRenderTest, TextureIsMadeOncePerItemAndReused) {
  for (int i = 0; i < 5; ++i) sprite->Draw(dxdraw->Surface(), i * 10, 0, 0);
  EXPECT_EQ(TextureCount(), 1);
}

TEST_F(D2DRenderTest, RestoreEmptiesTheCacheAndNamesSurviveIt) {
  sprite->Draw(dxdraw->Surface(), 0, 0, 0);
  const std::string name = sprite->Name();
  TDirectDrawSurface* before = sprite->Surfaces(0);
  dxdraw->Restore();
  EXPECT_EQ(TextureCount(), 0);
  EXPECT_TRUE(sprite->Initialized());
  EXPECT_EQ(sprite->SurfaceCount(), 1);
  (void)before;
  sprite->Draw(dxdraw->Surface(), 0, 0, 0);
  EXPECT_EQ(TextureCount(), 1);
  EXPECT_EQ(sprite->Name(), name);
}

TEST_F(D2DRenderTest, LostSurfacesEmptyTheCacheOnTheNextFlip) {
  sprite->Draw(dxdraw->Surface(), 0, 0, 0);
  ASSERT_EQ(TextureCount(), 1);
  ddraw().LoseAllSurfaces();
  dxdraw->Flip();
  EXPECT_EQ(TextureCount(), 0);
  sprite->Draw(dxdraw->Surface(), 0, 0, 0);
  EXPECT_EQ(TextureCount(), 1);
}

TEST_F(D2DRenderTest, NamesDifferingOnlyInCaseShareTheFirstLoadedTexture) {
  TPictureCollectionItem* white = AddItem(MakePicture24(8, 8, [](int, int) { return 0xFFFFFFu; }).get());
  TPictureCollectionItem* black = AddItem(MakePicture24(8, 8, [](int, int) { return 0x000000u; }).get());
  list->Items().Initialize(dxdraw);
  white->SetName("Flake");
  black->SetName("FLAKE");
  white->Draw(dxdraw->Surface(), 0, 0, 0);
  black->Draw(dxdraw->Surface(), 20, 0, 0);
  EXPECT_EQ(Back(24, 4), 0xFFFFFFu);
  EXPECT_EQ(TextureCount(), 2);  // the exact-name test fails for the second, so it loads once more
  EXPECT_EQ(dxdraw->D2D()->Textures()->Find("flake"), 0);
}

TEST_F(D2DRenderTest, CacheOfMoreThanMaxEntriesIsEmptiedBeforeTheNextLoad) {
  TD2DTextures* cache = dxdraw->D2D()->Textures();
  TPictureCollectionItem* tiny = AddItem(MakePicture24(2, 2, [](int, int) { return 0x123456u; }).get());
  for (int i = 0; i <= MaxTextureEntries; ++i) {
    tiny->SetName("t" + std::to_string(i));
    ASSERT_TRUE(cache->LoadFromItem(tiny));
  }
  EXPECT_EQ(cache->Count(), MaxTextureEntries + 1);
  tiny->SetName("last");
  ASSERT_TRUE(cache->LoadFromItem(tiny));
  EXPECT_EQ(cache->Count(), 1);
  EXPECT_EQ(cache->Find("LAST"), 0);
}

TEST_F(D2DRenderTest, FinalizeFreesTheRendererWithItsCache) {
  sprite->Draw(dxdraw->Surface(), 0, 0, 0);
  dxdraw->Finalize();
  EXPECT_EQ(dxdraw->D2D(), nullptr);
  EXPECT_EQ(CurrentD2D, nullptr);
  EXPECT_FALSE(sprite->Initialized());
}

// ---- 24-bit surfaces ----

class D2DDeepScreenTest : public D2DFixture {
 protected:
  D2DDeepScreenTest() : D2DFixture(D2DScreen(160, 120, 24)) {}
};

TEST_F(D2DDeepScreenTest, NothingIsDrawnOnA24BitSurface) {
  ddraw().SetDeviceRenderBitDepths(plat::DDBD_16 | plat::DDBD_24 | plat::DDBD_32);
  TPictureCollectionItem* s = AddItem(MakeSprite(8, 8, [](int, int) { return 255; }).get());
  dxdraw->Initialize();
  ASSERT_EQ(dxdraw->Surface()->BitCount(), 24);
  const auto calls = ddraw().DrawPrimitiveCalls();
  s->Draw(dxdraw->Surface(), 0, 0, 0);
  EXPECT_EQ(ddraw().DrawPrimitiveCalls(), calls);
  EXPECT_FALSE(dxdraw->D2D()->Enabled());
  EXPECT_EQ(TextureCount(), 0);
}

// ---- Other render types and keyed textures ----

TEST_F(D2DRenderTest, BlendTypeMixesByTheGivenAlpha) {
  TPictureCollectionItem* pic = AddItem(MakePicture24(8, 8, [](int, int) { return 0xFFFFFFu; }).get());
  list->Items().Initialize(dxdraw);
  EXPECT_TRUE(dxdraw->D2D()->RenderItem(pic, Rect(0, 0, 8, 8), 128, rtBlend, 0));
  EXPECT_EQ(Back(3, 3), Blend(Ground, 128));
}

TEST_F(D2DRenderTest, AddTypeAddsTheTextureToTheSurface) {
  TPictureCollectionItem* pic = AddItem(MakePicture24(8, 8, [](int, int) { return 0x101010u; }).get());
  list->Items().Initialize(dxdraw);
  EXPECT_TRUE(dxdraw->D2D()->RenderItem(pic, Rect(0, 0, 8, 8), 255, rtAdd, 0));
  EXPECT_EQ(Back(3, 3), 0x305090u);
}

TEST_F(D2DRenderTest, SubTypeDarkensTheSurfaceByTheTextureColour) {
  TPictureCollectionItem* pic = AddItem(MakePicture24(8, 8, [](int, int) { return 0xFFFFFFu; }).get());
  list->Items().Initialize(dxdraw);
  EXPECT_TRUE(dxdraw->D2D()->RenderItem(pic, Rect(0, 0, 8, 8), 255, rtSub, 0));
  EXPECT_EQ(Back(3, 3), 0x000000u);
}

TEST_F(D2DRenderTest, TransparentItemKeysItsColourOutOfTheTexture) {
  auto checker = [](int x, int) { return x < 4 ? 0x000000u : 0xE0E0E0u; };
  TPictureCollectionItem* pic = AddItem(MakePicture24(8, 8, checker).get());
  pic->SetTransparent(true);
  pic->SetTransparentColor(clBlack);
  list->Items().Initialize(dxdraw);
  pic->Draw(dxdraw->Surface(), 20, 20, 0);
  EXPECT_EQ(Back(21, 22), Ground);
  EXPECT_EQ(Back(26, 22), 0xE0E0E0u);
}

TEST_F(D2DRenderTest, PatternDrawTakesTextureCoordinatesFromThePatternRectangle) {
  TPictureCollectionItem* pic = AddItem(MakePicture24(64, 32, [](int, int) { return 0x445566u; }).get());
  pic->SetPatternWidth(16);
  pic->SetPatternHeight(16);
  list->Items().Initialize(dxdraw);
  ASSERT_EQ(pic->PatternsMade(), 8);
  pic->Draw(dxdraw->Surface(), 0, 0, 5);
  TTextureEntry* e = Entry(pic->Name());
  ASSERT_NE(e, nullptr);
  EXPECT_DOUBLE_EQ(e->U0, 16.0 / 64);
  EXPECT_DOUBLE_EQ(e->V0, 16.0 / 64);
  EXPECT_DOUBLE_EQ(e->U1, 31.5 / 64);
  EXPECT_DOUBLE_EQ(e->V1, 31.5 / 64);
  EXPECT_EQ(Back(8, 8), 0x445566u);
  EXPECT_EQ(Back(16, 8), Ground);
}
