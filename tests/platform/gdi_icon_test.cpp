// Icons: making them from an icon file's image data (bitmap and PNG entries) and drawing them through their
// masks.
#include "gdi_test_util.h"

using namespace gditest;

namespace {

class GdiIcon : public GdiTest {
 protected:
  ~GdiIcon() override { SetIconPngDecoder(nullptr); }
};

// A 2 x 2 four-bit icon image: the header (height doubled), 16 colours, the colour rows and the AND rows.
// Top row: red, transparent; bottom row: green, blue. Rows are stored bottom-up.
std::vector<BYTE> SmallIcon() {
  std::vector<BYTE> d(40 + 64 + 8 + 8, 0);
  BITMAPINFOHEADER h{};
  h.biSize = 40;
  h.biWidth = 2;
  h.biHeight = 4;
  h.biPlanes = 1;
  h.biBitCount = 4;
  std::memcpy(d.data(), &h, 40);
  RGBQUAD* t = reinterpret_cast<RGBQUAD*>(d.data() + 40);
  t[1] = {0, 0, 255, 0};
  t[2] = {0, 255, 0, 0};
  t[3] = {255, 0, 0, 0};
  BYTE* xorRows = d.data() + 104;
  xorRows[0] = 0x23;  // bottom: green, blue
  xorRows[4] = 0x10;  // top: red, black (transparent: black XOR leaves the background)
  BYTE* andRows = d.data() + 112;
  andRows[0] = 0x00;
  andRows[4] = 0x40;  // top row, second pixel transparent
  return d;
}

TEST_F(GdiIcon, IconFromAnEntryDrawsItsImageWhereTheMaskIsClear) {
  std::vector<BYTE> data = SmallIcon();
  HICON ic = g.CreateIconFromResourceEx(data.data(), DWORD(data.size()), 1, ICON_RESOURCE_VERSION, 0, 0, 0);
  ASSERT_NE(ic, nullptr);
  Canvas32 c(g, 3, 3);
  c.Fill(0x808080);
  ASSERT_TRUE(g.DrawIconEx(c.dc(), 1, 1, ic, 0, 0, 0, nullptr, DI_NORMAL));
  EXPECT_EQ(c.rgb(1, 1), 0xFF0000u);
  EXPECT_EQ(c.rgb(2, 1), 0x808080u);
  EXPECT_EQ(c.rgb(1, 2), 0x00FF00u);
  EXPECT_EQ(c.rgb(2, 2), 0x0000FFu);
  EXPECT_EQ(c.rgb(0, 0), 0x808080u);
  EXPECT_TRUE(g.DestroyIcon(ic));
}

TEST_F(GdiIcon, ColourUnderASetMaskBitInvertsTheBackground) {
  std::vector<BYTE> data = SmallIcon();
  data[104 + 4] = 0x13;  // top-right pixel blue while its mask bit is set
  HICON ic = g.CreateIconFromResourceEx(data.data(), DWORD(data.size()), 1, ICON_RESOURCE_VERSION, 0, 0, 0);
  Canvas32 c(g, 2, 2);
  c.Fill(0x808080);
  g.DrawIconEx(c.dc(), 0, 0, ic, 0, 0, 0, nullptr, DI_NORMAL);
  EXPECT_EQ(c.rgb(1, 0), 0x80807Fu);  // 0x808080 kept by the mask, then XOR blue
  g.DestroyIcon(ic);
}

TEST_F(GdiIcon, DrawingStretchesToTheRequestedSize) {
  std::vector<BYTE> data = SmallIcon();
  HICON ic = g.CreateIconFromResourceEx(data.data(), DWORD(data.size()), 1, ICON_RESOURCE_VERSION, 0, 0, 0);
  Canvas32 c(g, 4, 4);
  c.Fill(0x808080);
  g.DrawIconEx(c.dc(), 0, 0, ic, 4, 4, 0, nullptr, DI_NORMAL);
  EXPECT_EQ(c.rgb(1, 1), 0xFF0000u);
  EXPECT_EQ(c.rgb(3, 1), 0x808080u);
  EXPECT_EQ(c.rgb(3, 3), 0x0000FFu);
  g.DestroyIcon(ic);
}

TEST_F(GdiIcon, ImageOnlyAndMaskOnlyDrawing) {
  std::vector<BYTE> data = SmallIcon();
  HICON ic = g.CreateIconFromResourceEx(data.data(), DWORD(data.size()), 1, ICON_RESOURCE_VERSION, 0, 0, 0);
  Canvas32 c(g, 2, 2);
  c.Fill(0x808080);
  g.DrawIconEx(c.dc(), 0, 0, ic, 0, 0, 0, nullptr, DI_MASK);
  EXPECT_EQ(c.rgb(0, 0), 0u);
  EXPECT_EQ(c.rgb(1, 0), 0x808080u);
  g.DrawIconEx(c.dc(), 0, 0, ic, 0, 0, 0, nullptr, DI_IMAGE);
  EXPECT_EQ(c.rgb(1, 0), 0u);
  g.DestroyIcon(ic);
}

TEST_F(GdiIcon, IconInfoHandsOutCopiesOfMaskAndColourBitmaps) {
  std::vector<BYTE> data = SmallIcon();
  HICON ic = g.CreateIconFromResourceEx(data.data(), DWORD(data.size()), 1, ICON_RESOURCE_VERSION, 0, 0, 0);
  ICONINFO ii{};
  ASSERT_TRUE(g.GetIconInfo(ic, &ii));
  BITMAP bm{};
  g.GetObject(Obj(ii.hbmColor), sizeof bm, &bm);
  EXPECT_EQ(bm.bmWidth, 2);
  EXPECT_EQ(bm.bmHeight, 2);
  EXPECT_EQ(bm.bmBitsPixel, 4);
  g.GetObject(Obj(ii.hbmMask), sizeof bm, &bm);
  EXPECT_EQ(bm.bmBitsPixel, 1);
  HICON again = g.CreateIconIndirect(&ii);
  ASSERT_NE(again, nullptr);
  g.DeleteObject(Obj(ii.hbmColor));
  g.DeleteObject(Obj(ii.hbmMask));
  {
    Canvas32 c(g, 2, 2);
    c.Fill(0x808080);
    g.DrawIconEx(c.dc(), 0, 0, again, 0, 0, 0, nullptr, DI_NORMAL);
    EXPECT_EQ(c.rgb(0, 0), 0xFF0000u);
    EXPECT_EQ(c.rgb(1, 0), 0x808080u);
  }
  g.DestroyIcon(again);
  g.DestroyIcon(ic);
  EXPECT_EQ(g.LiveObjectCount(), 0u);
}

TEST_F(GdiIcon, ThirtyTwoBitImagesBlendByTheirAlpha) {
  std::vector<BYTE> d(40 + 4 + 4, 0);
  BITMAPINFOHEADER h{40, 1, 2, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  std::memcpy(d.data(), &h, 40);
  const std::uint32_t px = 0x80FF0000;  // red at half alpha
  std::memcpy(d.data() + 40, &px, 4);
  HICON ic = g.CreateIconFromResourceEx(d.data(), DWORD(d.size()), 1, ICON_RESOURCE_VERSION, 0, 0, 0);
  ASSERT_NE(ic, nullptr);
  Canvas32 c(g, 1, 1);
  c.Fill(0x0000FF);
  g.DrawIconEx(c.dc(), 0, 0, ic, 0, 0, 0, nullptr, DI_NORMAL);
  EXPECT_EQ(c.rgb(0, 0), 0x80007Fu);  // (255 * 128 + 127) / 255 = 128; (255 * 127 + 127) / 255 = 127
  g.DestroyIcon(ic);
}

TEST_F(GdiIcon, PngEntryIsDecodedByTheRegisteredDecoder) {
  const BYTE png[16] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(g.CreateIconFromResourceEx(png, sizeof png, 1, ICON_RESOURCE_VERSION, 0, 0, 0), nullptr);
  SetIconPngDecoder([](const BYTE*, std::size_t, int& w, int& h, std::vector<BYTE>& bgra) {
    w = 2, h = 1;
    bgra = {0, 0, 255, 255, 0, 255, 0, 0};  // opaque red, fully transparent green
    return true;
  });
  HICON ic = g.CreateIconFromResourceEx(png, sizeof png, 1, ICON_RESOURCE_VERSION, 0, 0, 0);
  ASSERT_NE(ic, nullptr);
  Canvas32 c(g, 2, 1);
  c.Fill(0x404040);
  g.DrawIconEx(c.dc(), 0, 0, ic, 0, 0, 0, nullptr, DI_NORMAL);
  EXPECT_EQ(c.rgb(0, 0), 0xFF0000u);
  EXPECT_EQ(c.rgb(1, 0), 0x404040u);
  g.DestroyIcon(ic);
}

TEST_F(GdiIcon, DecoderReportingTooFewPixelsIsRefused) {
  const BYTE png[16] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  SetIconPngDecoder([](const BYTE*, std::size_t, int& w, int& h, std::vector<BYTE>& bgra) {
    w = 100, h = 100;
    bgra.assign(16, 0);
    return true;
  });
  EXPECT_EQ(g.CreateIconFromResourceEx(png, sizeof png, 1, ICON_RESOURCE_VERSION, 0, 0, 0), nullptr);
}

TEST_F(GdiIcon, TruncatedImageDataIsRefusedButAShortMaskIsNot) {
  std::vector<BYTE> data = SmallIcon();
  EXPECT_EQ(g.CreateIconFromResourceEx(data.data(), 111, 1, ICON_RESOURCE_VERSION, 0, 0, 0), nullptr);
  HICON ic = g.CreateIconFromResourceEx(data.data(), 112, 1, ICON_RESOURCE_VERSION, 0, 0, 0);
  EXPECT_NE(ic, nullptr);
  g.DestroyIcon(ic);
  EXPECT_EQ(g.CreateIconFromResourceEx(data.data(), 20, 1, ICON_RESOURCE_VERSION, 0, 0, 0), nullptr);
  BITMAPINFOHEADER odd{};
  std::memcpy(&odd, data.data(), 40);
  odd.biHeight = -4;
  std::memcpy(data.data(), &odd, 40);
  EXPECT_EQ(g.CreateIconFromResourceEx(data.data(), DWORD(data.size()), 1, ICON_RESOURCE_VERSION, 0, 0, 0),
            nullptr);
}

TEST_F(GdiIcon, EntriesOfRealIconFilesLoadAndDraw) {
  for (const char* name : {"smile.ico", "bmp-24bpp-mask.ico", "bmp-32bpp-alpha.ico",
                           "truncated_mask_32bpp.ico", "multiple_entries_with_different_bit_depth.ico"}) {
    std::vector<BYTE> f = ReadFile(Corpus(std::string("imagers-bmp-ico/ico/") + name));
    ASSERT_GE(f.size(), 22u) << name;
    ICONDIRENTRY e;
    std::memcpy(&e, f.data() + 6, sizeof e);
    const std::size_t size = std::min<std::size_t>(e.dwBytesInRes, f.size() - e.dwImageOffset);
    HICON ic = g.CreateIconFromResourceEx(f.data() + e.dwImageOffset, DWORD(size), 1, ICON_RESOURCE_VERSION,
                                          0, 0, 0);
    ASSERT_NE(ic, nullptr) << name;
    Canvas32 c(g, 64, 64);
    EXPECT_TRUE(g.DrawIconEx(c.dc(), 0, 0, ic, 0, 0, 0, nullptr, DI_NORMAL));
    g.DestroyIcon(ic);
  }
  EXPECT_EQ(g.LiveObjectCount(), 0u);
}

TEST_F(GdiIcon, StockApplicationIconIsThirtyTwoPixelsWithTransparentCorners) {
  HICON ic = g.LoadIcon(nullptr, IDI_APPLICATION());
  ASSERT_NE(ic, nullptr);
  EXPECT_EQ(g.LoadIcon(nullptr, MAKEINTRESOURCEA(1)), nullptr);
  EXPECT_EQ(g.GetSystemMetrics(SM_CXICON), 32);
  EXPECT_EQ(g.GetSystemMetrics(SM_CYICON), 32);
  Canvas32 c(g, 32, 32);
  c.Fill(0x123456);
  g.DrawIconEx(c.dc(), 0, 0, ic, 0, 0, 0, nullptr, DI_NORMAL);
  EXPECT_EQ(c.rgb(0, 0), 0x123456u);
  EXPECT_EQ(c.rgb(16, 20), 0xFFFFFFu);
  EXPECT_TRUE(g.DestroyIcon(ic));
  EXPECT_EQ(g.LoadIcon(nullptr, IDI_APPLICATION()), ic);  // stock icons survive DestroyIcon
}

}  // namespace
