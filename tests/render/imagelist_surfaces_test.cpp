// The picture list following a drawing surface: surfaces and patterns made on initialise, dropped on
// finalise, made again on restore; memory placement, colour keys and the surface-copy path.
#include <cstring>

#include "core/FormReader.h"
#include "d2d_fixture.h"

namespace {

std::uint32_t RawPixel(TDirectDrawSurface* s, int x, int y) {
  plat::DDSURFACEDESC2 d{};
  d.dwSize = sizeof(d);
  if (!s->Lock(d)) return 0xDEADBEEF;
  std::uint32_t v = 0;
  std::memcpy(&v, static_cast<std::uint8_t*>(d.lpSurface) + static_cast<std::ptrdiff_t>(y) * d.lPitch + x * 4,
              4);
  s->Unlock();
  return v & 0xFFFFFFu;
}

}  // namespace

class ImageListSurfacesTest : public D2DFixture {};

// ---- Notifications ----

TEST_F(ImageListSurfacesTest, InitializingTheSurfaceGivesEveryItemOnePatternAndSurface) {
  TPictureCollectionItem* a = AddItem(MakeSprite(32, 43, [](int, int) { return 9; }).get());
  TPictureCollectionItem* b = AddItem(MakePicture24(10, 10, [](int, int) { return 1u; }).get());
  dxdraw->Initialize();
  for (TPictureCollectionItem* it : {a, b}) {
    EXPECT_TRUE(it->Initialized());
    EXPECT_EQ(it->PatternsMade(), 1);
    EXPECT_EQ(it->SurfaceCount(), 1);
  }
  EXPECT_EQ(a->PatternRect(0), Rect(0, 0, 32, 43));
  EXPECT_EQ(a->Surfaces(0)->Width(), 32);
  EXPECT_EQ(a->Surfaces(0)->Height(), 43);
  EXPECT_EQ(list->Items().DXDraw(), dxdraw);
}

TEST_F(ImageListSurfacesTest, ItemWithEmptyPictureIsInitializedWithoutPatterns) {
  TPictureCollectionItem* it = AddItem(nullptr);
  dxdraw->Initialize();
  EXPECT_TRUE(it->Initialized());
  EXPECT_EQ(it->PatternsMade(), 0);
  EXPECT_EQ(it->SurfaceCount(), 0);
}

TEST_F(ImageListSurfacesTest, FinalizingTheSurfaceDropsPatternsAndSurfaces) {
  TPictureCollectionItem* it = AddItem(MakePicture24(8, 8, [](int, int) { return 1u; }).get());
  dxdraw->Initialize();
  const int before = dxdraw->DDraw()->SurfaceCount();
  it->Finalize();
  EXPECT_EQ(dxdraw->DDraw()->SurfaceCount(), before - 1);
  dxdraw->Finalize();
  EXPECT_FALSE(it->Initialized());
  EXPECT_EQ(it->PatternsMade(), 0);
  EXPECT_EQ(list->Items().DXDraw(), nullptr);
}

TEST_F(ImageListSurfacesTest, RestoreMakesFreshSurfacesAndKeepsInitialized) {
  TPictureCollectionItem* it = AddItem(MakePicture24(8, 8, [](int, int) { return 1u; }).get());
  dxdraw->Initialize();
  const int count = dxdraw->DDraw()->SurfaceCount();
  dxdraw->Restore();
  EXPECT_TRUE(it->Initialized());
  EXPECT_EQ(it->SurfaceCount(), 1);
  EXPECT_EQ(dxdraw->DDraw()->SurfaceCount(), count);
}

TEST_F(ImageListSurfacesTest, JoiningAnInitializedSurfaceInitializesAtOnce) {
  TDXImageList* late = new TDXImageList(form);
  TPictureCollectionItem* it = late->Items().Add();
  it->Picture().SetGraphic(MakePicture24(6, 6, [](int, int) { return 2u; }).get());
  dxdraw->Initialize();
  EXPECT_FALSE(it->Initialized());
  late->SetDXDraw(dxdraw);
  EXPECT_TRUE(it->Initialized());
  EXPECT_EQ(it->SurfaceCount(), 1);
  late->SetDXDraw(nullptr);
  EXPECT_FALSE(it->Initialized());
  EXPECT_EQ(late->Items().DXDraw(), nullptr);
}

TEST_F(ImageListSurfacesTest, DestroyedListLeavesTheSurfacesNotifications) {
  const int handlers = dxdraw->NotifyCount();
  TDXImageList* extra = new TDXImageList(form);
  extra->SetDXDraw(dxdraw);
  EXPECT_EQ(dxdraw->NotifyCount(), handlers + 1);
  delete extra;
  EXPECT_EQ(dxdraw->NotifyCount(), handlers);
}

TEST_F(ImageListSurfacesTest, DestroyedSurfaceClearsTheListsReference) {
  TPictureCollectionItem* it = AddItem(MakePicture24(6, 6, [](int, int) { return 2u; }).get());
  dxdraw->Initialize();
  delete dxdraw;
  dxdraw = nullptr;
  EXPECT_EQ(list->DXDraw(), nullptr);
  EXPECT_FALSE(it->Initialized());
}

// ---- Patterns ----

TEST_F(ImageListSurfacesTest, SystemMemoryGridPutsEveryPatternOnOneSurfaceRowByRow) {
  TPictureCollectionItem* it = AddItem(MakePicture24(64, 32, [](int, int) { return 3u; }).get());
  it->SetPatternWidth(16);
  it->SetPatternHeight(16);
  dxdraw->Initialize();
  ASSERT_EQ(it->PatternCount(), 8);
  EXPECT_EQ(it->SurfaceCount(), 1);
  EXPECT_EQ(it->PatternRect(5), Rect(16, 16, 32, 32));
  EXPECT_EQ(it->PatternRect(3), Rect(48, 0, 64, 16));
  for (int i = 0; i < 8; ++i) EXPECT_EQ(it->PatternSurface(i), it->Surfaces(0));
}

TEST_F(ImageListSurfacesTest, VideoMemoryGridSplitsWidePicturesIntoBlocks) {
  TPictureCollectionItem* it = AddItem(MakePicture24(3000, 10, [](int, int) { return 4u; }).get());
  it->SetSystemMemory(false);
  it->SetPatternWidth(10);
  dxdraw->Initialize();
  ASSERT_EQ(it->PatternCount(), 300);
  ASSERT_EQ(it->SurfaceCount(), 2);
  // Blocks are 10 * ((10 + 2047) div 10) = 2050 pixels wide.
  EXPECT_EQ(it->Surfaces(0)->Width(), 2050);
  EXPECT_EQ(it->Surfaces(1)->Width(), 950);
  EXPECT_EQ(it->PatternSurface(204), it->Surfaces(0));
  EXPECT_EQ(it->PatternRect(204), Rect(2040, 0, 2050, 10));
  EXPECT_EQ(it->PatternSurface(205), it->Surfaces(1));
  EXPECT_EQ(it->PatternRect(205), Rect(0, 0, 10, 10));
}

// Surfaces get their pixels when first asked for, not when made: rendering first must not change what
// they hold then.
TEST_F(ImageListSurfacesTest, EveryBlockSurfaceHoldsItsPartOfThePictureAfterRendering) {
  auto colour = [](int x, int y) { return static_cast<std::uint32_t>(x * 0x0701 + y * 0x110000); };
  TPictureCollectionItem* it = AddItem(MakePicture24(3000, 6, colour).get());
  it->SetSystemMemory(false);
  it->SetPatternWidth(10);
  dxdraw->Initialize();
  it->Draw(dxdraw->Surface(), 0, 0, 0);
  ASSERT_EQ(it->SurfaceCount(), 2);
  int wrong = 0;
  for (int block = 0; block < 2 && wrong < 5; ++block) {
    TDirectDrawSurface* s = it->Surfaces(block);
    for (int y = 0; y < 6 && wrong < 5; ++y)
      for (int x = 0; x < s->Width() && wrong < 5; ++x)
        if (RawPixel(s, x, y) != (colour(block * 2050 + x, y) & 0xFFFFFFu)) {
          ADD_FAILURE() << "block " << block << " pixel " << x << "," << y;
          ++wrong;
        }
  }
}

TEST_F(ImageListSurfacesTest, SurfaceLostBeforeFirstUseHoldsThePictureOnceRestored) {
  TPictureCollectionItem* it =
      AddItem(MakePicture24(5, 4, [](int x, int y) { return 0x010203u * (x + y); }).get());
  dxdraw->Initialize();
  ddraw().LoseAllSurfaces();
  dxdraw->Flip();
  ASSERT_EQ(it->SurfaceCount(), 1);
  EXPECT_EQ(RawPixel(it->PatternSurface(0), 4, 3), 0x010203u * 7);
}

// ---- Memory placement and failures ----

TEST_F(ImageListSurfacesTest, SurfaceLandsInSystemMemoryWhenVideoMemoryIsFull) {
  TPictureCollectionItem* it = AddItem(MakePicture24(16, 16, [](int, int) { return 5u; }).get());
  it->SetSystemMemory(false);
  dxdraw->Initialize();
  ASSERT_EQ(it->SurfaceCount(), 1);
  EXPECT_TRUE(it->Surfaces(0)->Caps() & plat::DDSCAPS_VIDEOMEMORY);
  // Once the old surface is freed, its own size no longer fits the budget.
  ddraw().SetVideoMemoryBudget(ddraw().VideoMemoryUsed() - 1);
  dxdraw->Restore();
  ASSERT_EQ(it->SurfaceCount(), 1);
  EXPECT_TRUE(it->Surfaces(0)->Caps() & plat::DDSCAPS_SYSTEMMEMORY);
}

TEST_F(ImageListSurfacesTest, SurfaceThatCannotBeMadeRaisesAndLeavesNoSurfaces) {
  TPictureCollectionItem* a = AddItem(MakePicture24(8, 8, [](int, int) { return 6u; }).get());
  TPictureCollectionItem* b = AddItem(MakePicture24(8, 8, [](int, int) { return 6u; }).get());
  ddraw().FailSurfaceCreation(-1, plat::DDSCAPS_OFFSCREENPLAIN | plat::DDSCAPS_SYSTEMMEMORY);
  // The back surface is made first; only the items' system-memory surfaces fail.
  try {
    dxdraw->Initialize();
    FAIL() << "no error";
  } catch (const EDirectDrawSurfaceError& e) {
    EXPECT_STREQ(e.what(), "Surface cannot be made");
  }
  ddraw().FailSurfaceCreation(0);
  EXPECT_EQ(a->SurfaceCount(), 0);
  EXPECT_EQ(b->SurfaceCount(), 0);
  EXPECT_FALSE(a->Initialized());
  dxdraw->Finalize();
}

// ---- Colour keys ----

TEST_F(ImageListSurfacesTest, SurfaceIsKeyedWithTheTransparentColourInItsFormat) {
  TPictureCollectionItem* it = AddItem(MakePicture24(4, 4, [](int, int) { return 0x112233u; }).get());
  it->SetTransparentColor(0x0000FF);  // red, as a TColor
  dxdraw->Initialize();
  plat::DDCOLORKEY key{};
  ASSERT_EQ(it->Surfaces(0)->IDDSurface()->GetColorKey(plat::DDCKEY_SRCBLT, &key), plat::DD_OK);
  EXPECT_EQ(key.dwColorSpaceLowValue & 0xFFFFFFu, 0xFF0000u);
  EXPECT_EQ(RawPixel(it->Surfaces(0), 0, 0), 0x112233u);  // the probe pixel was put back
}

TEST_F(ImageListSurfacesTest, NewTransparentColourRekeysEverySurface) {
  TPictureCollectionItem* it = AddItem(MakePicture24(4, 4, [](int, int) { return 0u; }).get());
  dxdraw->Initialize();
  it->SetTransparentColor(clWhite);
  plat::DDCOLORKEY key{};
  ASSERT_EQ(it->Surfaces(0)->IDDSurface()->GetColorKey(plat::DDCKEY_SRCBLT, &key), plat::DD_OK);
  EXPECT_EQ(key.dwColorSpaceLowValue & 0xFFFFFFu, 0xFFFFFFu);
}

// ---- The surface-copy path ----

TEST_F(ImageListSurfacesTest, DrawingOntoAnotherSurfaceCopiesTheClippedPattern) {
  auto colour = [](int x, int y) { return static_cast<std::uint32_t>(0x100000 * (x + 1) + 0x100 * (y + 1)); };
  TPictureCollectionItem* it = AddItem(MakePicture24(6, 5, colour).get());
  dxdraw->Initialize();
  TDirectDrawSurface other(dxdraw->DDraw());
  plat::DDSURFACEDESC d{};
  d.dwSize = sizeof(d);
  d.dwFlags = plat::DDSD_CAPS | plat::DDSD_WIDTH | plat::DDSD_HEIGHT;
  d.dwWidth = 10;
  d.dwHeight = 10;
  d.ddsCaps.dwCaps = plat::DDSCAPS_OFFSCREENPLAIN | plat::DDSCAPS_SYSTEMMEMORY;
  ASSERT_TRUE(other.CreateSurface(d));
  other.Fill(0);
  const auto calls = ddraw().DrawPrimitiveCalls();
  it->Draw(&other, -2, 7, 0);
  EXPECT_EQ(ddraw().DrawPrimitiveCalls(), calls);
  EXPECT_EQ(RawPixel(&other, 0, 7), colour(2, 0));
  EXPECT_EQ(RawPixel(&other, 3, 9), colour(5, 2));
  EXPECT_EQ(RawPixel(&other, 4, 9), 0u);
  EXPECT_EQ(RawPixel(&other, 0, 6), 0u);
}

TEST_F(ImageListSurfacesTest, DrawingEntirelyOutsideAnotherSurfaceCopiesNothing) {
  TPictureCollectionItem* it = AddItem(MakePicture24(6, 5, [](int, int) { return 0xFFFFFFu; }).get());
  dxdraw->Initialize();
  TDirectDrawSurface other(dxdraw->DDraw());
  plat::DDSURFACEDESC d{};
  d.dwSize = sizeof(d);
  d.dwFlags = plat::DDSD_CAPS | plat::DDSD_WIDTH | plat::DDSD_HEIGHT;
  d.dwWidth = 4;
  d.dwHeight = 4;
  d.ddsCaps.dwCaps = plat::DDSCAPS_OFFSCREENPLAIN | plat::DDSCAPS_SYSTEMMEMORY;
  ASSERT_TRUE(other.CreateSurface(d));
  other.Fill(0);
  it->Draw(&other, 4, 0, 0);
  it->Draw(&other, -6, 0, 0);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(RawPixel(&other, x, y), 0u);
}

// ---- Stored description ----

namespace {

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (std::uint8_t b : bytes) {
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

}  // namespace

TEST_F(ImageListSurfacesTest, StoredDescriptionGivesItemsNamesPicturesAndSettings) {
  auto sprite = MakeSprite(3, 2, [](int x, int y) { return x * 10 + y; });
  TMemoryStream body;
  sprite->WriteFormData(body);
  // The class name, then the body (sized first: GCC 12 at -O3 misreads an insert here as out of bounds).
  const std::uint8_t name[] = {4, 'T', 'D', 'I', 'B'};
  std::vector<std::uint8_t> data(sizeof name + std::size_t(body.GetSize()));
  std::memcpy(data.data(), name, sizeof name);
  std::memcpy(data.data() + sizeof name, body.Memory(), std::size_t(body.GetSize()));
  std::vector<std::uint8_t> table(1024, 0xAB);

  delete list;
  list = nullptr;
  TComponent root(nullptr);
  auto* surface = new TDXDraw(&root);
  surface->SetName("Surface1");
  const std::string text =
      "object Root: TComponent\n"
      "  object Images: TDXImageList\n"
      "    DXDraw = Surface1\n"
      "    Items.ColorTable = {" +
      Hex(table) +
      "}\n"
      "    Items = <\n"
      "      item\n"
      "        Name = 'backgr'\n"
      "        PatternHeight = 0\n"
      "        PatternWidth = 0\n"
      "        SkipHeight = 0\n"
      "        SkipWidth = 0\n"
      "        SystemMemory = True\n"
      "        Transparent = False\n"
      "        TransparentColor = clBlack\n"
      "      end\n"
      "      item\n"
      "        Picture.Data = {" +
      Hex(data) +
      "}\n"
      "        SystemMemory = False\n"
      "        Transparent = False\n"
      "        TransparentColor = clWhite\n"
      "      end>\n"
      "  end\n"
      "end\n";
  ReadComponentFromText(&root, text);
  auto* images = dynamic_cast<TDXImageList*>(root.FindComponent("Images"));
  ASSERT_NE(images, nullptr);
  EXPECT_EQ(images->DXDraw(), surface);
  ASSERT_EQ(images->Items().Count(), 2);
  TPictureCollectionItem* bg = images->Items().Items(0);
  TPictureCollectionItem* flake = images->Items().Items(1);
  EXPECT_EQ(bg->Name(), "backgr");
  EXPECT_TRUE(bg->SystemMemory());
  EXPECT_FALSE(bg->Transparent());
  EXPECT_EQ(bg->Width(), 0);
  EXPECT_EQ(flake->Name(), "");
  EXPECT_FALSE(flake->SystemMemory());
  EXPECT_EQ(flake->TransparentColor(), clWhite);
  ASSERT_NE(dynamic_cast<TDIB*>(flake->Picture().Graphic()), nullptr);
  EXPECT_EQ(flake->Width(), 3);
  EXPECT_EQ(flake->Height(), 2);
  EXPECT_EQ(images->Items().ColorTable[1023], 0xAB);
  delete images;
}
