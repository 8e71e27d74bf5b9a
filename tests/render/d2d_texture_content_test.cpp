// What a picture item's texture holds, texel by texel: the picture as a TDIB of it sees it, in the
// top-left corner of the square power of two, black around it (alpha 0 around a picture with alpha). The
// texture is filled from the picture's own rows where it has them; this pins that it holds the same texels
// as the TDIB copy it replaces, for every kind of picture a wallpaper can be.
#include <string>

#include "picture/jpeg/jpeg.h"
#include "picture/pngimage/pngimage.h"
#include "render/d2d_fixture.h"
#include "support/TestData.h"

namespace {

class D2DTextureContentTest : public D2DFixture {
 protected:
  void SetUp() override {
    InitJpegUnit();
    InitPngUnit();
    dxdraw->Initialize();
  }

  // The texel the texture must hold at (x, y): the picture's pixel through a TDIB of it, else padding.
  static std::uint32_t Expected(TDIB& ref, bool alpha, int x, int y) {
    if (x >= ref.Width() || y >= ref.Height()) return alpha ? 0u : 0xFF000000u;
    const std::uint8_t* row = ref.RowReadOnly(y);
    switch (ref.BitCount()) {
      case 32:
        return (alpha ? std::uint32_t(row[x * 4 + 3]) << 24 : 0xFF000000u) |
               std::uint32_t(row[x * 4 + 2]) << 16 | std::uint32_t(row[x * 4 + 1]) << 8 | row[x * 4];
      case 24:
        return 0xFF000000u | std::uint32_t(row[x * 3 + 2]) << 16 | std::uint32_t(row[x * 3 + 1]) << 8 |
               row[x * 3];
      case 8: {
        const TRGBQuad& q = ref.Image().ColorTable[row[x]];
        return 0xFF000000u | std::uint32_t(q.rgbRed) << 16 | std::uint32_t(q.rgbGreen) << 8 | q.rgbBlue;
      }
      default:
        ADD_FAILURE() << "reference of " << ref.BitCount() << " bits";
        return 0;
    }
  }

  // Draws the item once and compares its whole texture with the reference, channels the format keeps.
  void ExpectTextureHoldsPicture(TPictureCollectionItem* item) {
    TDIB ref;
    ref.Assign(&item->Picture());
    ASSERT_FALSE(ref.IsEmpty());
    if (ref.BitCount() == 16) {
      // 16-bit pixels reach the texture as the platform widens them when drawing.
      TDIB wide;
      wide.PixelFormat = MakeDIBPixelFormat(8, 8, 8);
      wide.SetSize(ref.Width(), ref.Height(), 24);
      ref.DrawGraphic(*wide.Canvas(), Rect(0, 0, ref.Width(), ref.Height()));
      ref.Assign(&wide);
    }
    list->Items().Initialize(dxdraw);
    item->Draw(dxdraw->Surface(), 0, 0, 0);
    TTextureEntry* e = Entry(item->Name());
    ASSERT_NE(e, nullptr);
    ASSERT_TRUE(e->Texture);
    const bool alpha = ref.BitCount() == 32 && ref.HasAlpha();
    EXPECT_EQ(e->HasAlpha, alpha);
    const TD2DPadding pad = D2DPadding(ref.Width(), ref.Height());
    ASSERT_EQ(e->Texture->Width(), pad.Size);
    ASSERT_EQ(e->Texture->Height(), pad.Size);
    const std::uint32_t keep = e->Texture->PixelFormat().dwRGBAlphaBitMask ? 0xFFFFFFFFu : 0x00FFFFFFu;
    plat::IDirectDrawSurface7* s = e->Texture->Surface();
    plat::DDSURFACEDESC2 d{};
    d.dwSize = sizeof(d);
    ASSERT_EQ(s->Lock(nullptr, &d, plat::DDLOCK_WAIT, nullptr), plat::DD_OK);
    int wrong = 0;
    for (int y = 0; y < pad.Size && wrong < 5; ++y)
      for (int x = 0; x < pad.Size && wrong < 5; ++x) {
        std::uint32_t t;
        std::memcpy(&t, static_cast<std::uint8_t*>(d.lpSurface) + std::ptrdiff_t(y) * d.lPitch + x * 4, 4);
        const std::uint32_t want = Expected(ref, alpha, x, y);
        if ((t & keep) != (want & keep)) {
          ADD_FAILURE() << "texel " << x << "," << y << ": " << std::hex << t << " instead of " << want;
          ++wrong;
        }
      }
    s->Unlock(nullptr);
  }

  void ExpectFileTexture(const std::string& rel) {
    SCOPED_TRACE(rel);
    TPictureCollectionItem* item = AddItem(nullptr);
    item->Picture().LoadPictureFile(TestDataPath(rel));
    ExpectTextureHoldsPicture(item);
  }
};

TEST_F(D2DTextureContentTest, Picture24BitIsCopiedIntoTheCornerAndPaddedOpaqueBlack) {
  ExpectTextureHoldsPicture(AddItem(MakePicture24(37, 21, [](int x, int y) {
                                      return static_cast<std::uint32_t>(x * 0x060301 + y * 0x0B0007);
                                    }).get()));
}

TEST_F(D2DTextureContentTest, SpriteKeepsItsAlphaAndIsPaddedTransparent) {
  ExpectTextureHoldsPicture(
      AddItem(MakeSprite(21, 32, [](int x, int y) { return (x * 11 + y * 3) & 255; }).get()));
}

TEST_F(D2DTextureContentTest, PictureWithAllAlphaZeroIsOpaque) {
  ExpectTextureHoldsPicture(AddItem(MakeSprite(16, 16, [](int, int) { return 0; }).get()));
}

TEST_F(D2DTextureContentTest, PaletteDIBShowsItsColours) {
  auto dib = std::make_unique<TDIB>();
  for (int i = 0; i < 256; ++i)
    dib->ColorTable[static_cast<std::size_t>(i)] =
        TRGBQuad{std::uint8_t(255 - i), std::uint8_t(i * 7), std::uint8_t(i), 0};
  dib->PixelFormat = MakeDIBPixelFormat(8, 8, 8);
  dib->SetSize(19, 9, 8);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 19; ++x) dib->Row(y)[x] = static_cast<std::uint8_t>(x * 13 + y);
  ExpectTextureHoldsPicture(AddItem(dib.get()));
}

TEST_F(D2DTextureContentTest, JpegTextureEqualsItsDecodedPixels) {
  ExpectFileTexture("libjpeg-turbo-testimages/testorig.jpg");
}

TEST_F(D2DTextureContentTest, GreyJpegTextureEqualsItsDecodedPixels) {
  ExpectFileTexture("libjpeg-turbo-testimages/testimggray.jpg");
}

TEST_F(D2DTextureContentTest, BitmapFilesOfEveryDepthGiveTheirPixels) {
  for (const char* f :
       {"bmpsuite/g/rgb24.bmp", "bmpsuite/g/pal8.bmp", "bmpsuite/g/rgb16.bmp", "bmpsuite/g/rgb32.bmp"})
    ExpectFileTexture(f);
}

// Opaque true-colour files are read from the picture's own store (16-bit, interlaced and gamma-corrected
// ones too); the others through a copy.
TEST_F(D2DTextureContentTest, PngFilesGiveTheirPixels) {
  for (const char* f : {"pngsuite/png/basn2c08.png", "pngsuite/png/basn2c16.png", "pngsuite/png/basi2c08.png",
                        "pngsuite/png/g25n2c08.png", "pngsuite/png/basn6a08.png", "pngsuite/png/basn3p04.png",
                        "pngsuite/png/basn0g08.png", "pngsuite/png/tbrn2c08.png"})
    ExpectFileTexture(f);
}

}  // namespace
