// The texture cache's pure rules: padding to square powers of two, texture format choice, texture size.
#include <gtest/gtest.h>

#include "render/DXDraws.h"

namespace {

plat::DDPIXELFORMAT Rgb(int bpp, std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a = 0) {
  plat::DDPIXELFORMAT f{};
  f.dwSize = sizeof(f);
  f.dwFlags = plat::DDPF_RGB | (a ? plat::DDPF_ALPHAPIXELS : 0);
  f.dwRGBBitCount = static_cast<plat::DWORD>(bpp);
  f.dwRBitMask = r;
  f.dwGBitMask = g;
  f.dwBBitMask = b;
  f.dwRGBAlphaBitMask = a;
  return f;
}

plat::DDPIXELFORMAT Palette8() {
  plat::DDPIXELFORMAT f{};
  f.dwSize = sizeof(f);
  f.dwFlags = plat::DDPF_RGB | plat::DDPF_PALETTEINDEXED8;
  f.dwRGBBitCount = 8;
  return f;
}

// The formats a typical device lists, in its order.
std::vector<plat::DDPIXELFORMAT> DeviceList() {
  return {Palette8(),
          Rgb(16, 0xF800, 0x07E0, 0x001F),
          Rgb(16, 0x7C00, 0x03E0, 0x001F),
          Rgb(16, 0x7C00, 0x03E0, 0x001F, 0x8000),
          Rgb(16, 0x0F00, 0x00F0, 0x000F, 0xF000),
          Rgb(32, 0xFF0000, 0xFF00, 0xFF),
          Rgb(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u)};
}

const TD2DBitCounts Sprite{8, 8, 8, 8};
const TD2DBitCounts Opaque{8, 8, 8, 0};

}  // namespace

// ---- Padding ----

TEST(D2DPaddingTest, Sprite32x43BecomesSquare64WithHalfAndFractionalCoordinates) {
  TD2DPadding p = D2DPadding(32, 43);
  EXPECT_EQ(p.Size, 64);
  EXPECT_DOUBLE_EQ(p.U1, 0.5);
  EXPECT_DOUBLE_EQ(p.V1, 0.671875);
}

TEST(D2DPaddingTest, Sprite10x10BecomesSquare16) {
  TD2DPadding p = D2DPadding(10, 10);
  EXPECT_EQ(p.Size, 16);
  EXPECT_DOUBLE_EQ(p.U1, 0.625);
  EXPECT_DOUBLE_EQ(p.V1, 0.625);
}

TEST(D2DPaddingTest, Wallpaper1024x768Becomes1024SquareWithThreeQuartersHeight) {
  TD2DPadding p = D2DPadding(1024, 768);
  EXPECT_EQ(p.Size, 1024);
  EXPECT_DOUBLE_EQ(p.U1, 1.0);
  EXPECT_DOUBLE_EQ(p.V1, 0.75);
}

TEST(D2DPaddingTest, Wallpaper1920x1200Becomes2048Square) {
  TD2DPadding p = D2DPadding(1920, 1200);
  EXPECT_EQ(p.Size, 2048);
  EXPECT_DOUBLE_EQ(p.U1, 0.9375);
  EXPECT_DOUBLE_EQ(p.V1, 0.5859375);
}

TEST(D2DPaddingTest, PowerOfTwoSquareKeepsItsSizeAndFullCoordinates) {
  TD2DPadding p = D2DPadding(64, 64);
  EXPECT_EQ(p.Size, 64);
  EXPECT_DOUBLE_EQ(p.U1, 1.0);
  EXPECT_DOUBLE_EQ(p.V1, 1.0);
}

TEST(D2DPaddingTest, OnePixelPictureIsPaddedToAtLeastTwo) {
  TD2DPadding p = D2DPadding(1, 1);
  EXPECT_EQ(p.Size, 2);
  EXPECT_DOUBLE_EQ(p.U1, 0.5);
}

// ---- Format choice ----

TEST(D2DTextureFormatTest, SpriteWithAlphaTakesEightBitsPerChannelWithAlpha) {
  auto list = DeviceList();
  int i = D2DChooseTextureFormat(list, Sprite, true);
  ASSERT_EQ(i, 6);
  EXPECT_EQ(list[6].dwRGBAlphaBitMask, 0xFF000000u);
}

TEST(D2DTextureFormatTest, OpaquePictureTakesEightBitsPerChannelWithoutAlpha) {
  EXPECT_EQ(D2DChooseTextureFormat(DeviceList(), Opaque, true), 5);
}

TEST(D2DTextureFormatTest, FormatWithoutAlphaNeverReplacesOneWithAlphaForAlphaImage) {
  // 4-4-4-4 is far from 8-8-8-8, but the closer 8-8-8 format lacks alpha and must not win.
  std::vector<plat::DDPIXELFORMAT> list = {Rgb(16, 0x0F00, 0x00F0, 0x000F, 0xF000),
                                           Rgb(32, 0xFF0000, 0xFF00, 0xFF)};
  EXPECT_EQ(D2DChooseTextureFormat(list, Sprite, true), 0);
}

TEST(D2DTextureFormatTest, FormatWithAlphaAlwaysReplacesOneWithoutForAlphaImage) {
  std::vector<plat::DDPIXELFORMAT> list = {Rgb(32, 0xFF0000, 0xFF00, 0xFF),
                                           Rgb(16, 0x7C00, 0x03E0, 0x001F, 0x8000)};
  EXPECT_EQ(D2DChooseTextureFormat(list, Sprite, true), 1);
}

TEST(D2DTextureFormatTest, LaterFormatOfEqualDistanceReplacesTheChoice) {
  std::vector<plat::DDPIXELFORMAT> list = {Rgb(16, 0xF800, 0x07E0, 0x001F), Rgb(16, 0x001F, 0x07E0, 0xF800)};
  EXPECT_EQ(D2DChooseTextureFormat(list, Opaque, true), 1);
}

TEST(D2DTextureFormatTest, StrictlyCloserChoiceStays) {
  std::vector<plat::DDPIXELFORMAT> list = {Rgb(32, 0xFF0000, 0xFF00, 0xFF), Rgb(16, 0xF800, 0x07E0, 0x001F)};
  EXPECT_EQ(D2DChooseTextureFormat(list, Opaque, true), 0);
}

TEST(D2DTextureFormatTest, PaletteFormatsAreSkippedForColourImages) {
  std::vector<plat::DDPIXELFORMAT> list = {Palette8()};
  EXPECT_EQ(D2DChooseTextureFormat(list, Opaque, true), -1);
  EXPECT_EQ(D2DChooseTextureFormat(list, Opaque, false), 0);
}

TEST(D2DTextureFormatTest, NonRgbFormatsAreNeverChosen) {
  plat::DDPIXELFORMAT lum{};
  lum.dwSize = sizeof(lum);
  lum.dwFlags = plat::DDPF_LUMINANCE;
  lum.dwLuminanceBitCount = 8;
  EXPECT_EQ(D2DChooseTextureFormat({lum}, Opaque, true), -1);
  EXPECT_EQ(D2DChooseTextureFormat({}, Opaque, true), -1);
}

// ---- Texture size ----

TEST(D2DTextureSizeTest, PowerOfTwoDeviceCutsEachSideDown) {
  plat::D3DDEVICEDESC7 caps{};
  caps.dpcTriCaps.dwTextureCaps = plat::D3DPTEXTURECAPS_POW2;
  int w = 0, h = 0;
  D2DTextureSize(caps, 100, 60, w, h);
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 32);
}

TEST(D2DTextureSizeTest, SquareOnlyDeviceTakesTheLargerSide) {
  plat::D3DDEVICEDESC7 caps{};
  caps.dpcTriCaps.dwTextureCaps = plat::D3DPTEXTURECAPS_POW2 | plat::D3DPTEXTURECAPS_SQUAREONLY;
  int w = 0, h = 0;
  D2DTextureSize(caps, 100, 60, w, h);
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 64);
}

TEST(D2DTextureSizeTest, DeviceLimitsBoundTheSize) {
  plat::D3DDEVICEDESC7 caps{};
  caps.dwMinTextureWidth = caps.dwMinTextureHeight = 8;
  caps.dwMaxTextureWidth = caps.dwMaxTextureHeight = 1024;
  int w = 0, h = 0;
  D2DTextureSize(caps, 2048, 2, w, h);
  EXPECT_EQ(w, 1024);
  EXPECT_EQ(h, 8);
}
