// The JPEG picture kind: loading reads only the header, pixels are decoded once into a bitmap whose
// format follows the display, and every failure raises its own error text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "picture/jpeg/jpeg.h"
#include "platform/Gdi.h"
#include "platform/Platform.h"
#include "platform/soft/SoftPlatform.h"

namespace {

std::string CorpusPath(const std::string& rel) {
  return std::string(DS_CORPORA_DIR) + "/" + rel;
}
std::string TestImage(const std::string& name) {
  return CorpusPath("libjpeg-turbo-testimages/" + name);
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  EXPECT_TRUE(f.good()) << path;
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

plat::soft::SoftOptions Screen(int bits) {
  plat::soft::SoftOptions o;
  o.screenWidth = 320;
  o.screenHeight = 240;
  o.screenBitCount = bits;
  return o;
}

// A soft platform with the JPEG unit started for its screen.
class JpegImageTest : public ::testing::Test {
 protected:
  explicit JpegImageTest(int bits = 32) : platform_(Screen(bits)) { InitJpegUnit(); }
  ~JpegImageTest() override { JpegDefaultSettings = TJPEGDefaults(); }

  std::unique_ptr<TJPEGImage> Load(const std::string& path) {
    auto img = std::make_unique<TJPEGImage>();
    img->LoadFromFile(path);
    return img;
  }

  plat::soft::SoftPlatform platform_;
};

class JpegImageOn8BitScreen : public JpegImageTest {
 protected:
  JpegImageOn8BitScreen() : JpegImageTest(8) {}
};

// The decoded bitmap against a decode of the same data with the same settings into a plain buffer.
void ExpectBitmapMatches(TBitmap& bmp, const TJpegPixels& ref) {
  ASSERT_EQ(bmp.Width(), ref.Width);
  ASSERT_EQ(bmp.Height(), ref.Height);
  const int bytes = ref.Width * (ref.EightBitOut ? 1 : 3);
  int rowsDiffering = 0;
  for (int y = 0; y < ref.Height; ++y) {
    const auto* row = static_cast<const std::uint8_t*>(bmp.ScanLine(y));
    if (!std::equal(row, row + bytes, ref.Bits.begin() + static_cast<std::ptrdiff_t>(y * ref.Stride)))
      ++rowsDiffering;
  }
  EXPECT_EQ(rowsDiffering, 0);
}

TJpegPixels ReferenceDecode(const std::string& path, const TJpegDecodeSettings& s) {
  auto data = ReadFile(path);
  TJpegPixels px;
  DecodeJpeg(data.data(), data.size(), s, px);
  return px;
}

void Make24Bit(TBitmap& bmp, int width, int height) {
  bmp.SetPixelFormat(pf24bit);
  bmp.SetSize(width, height);
}

std::vector<plat::PALETTEENTRY> PaletteEntries(plat::HPALETTE pal) {
  plat::WORD count = 0;
  plat::GdiSvc().GetObject(plat::Obj(pal), sizeof count, &count);
  std::vector<plat::PALETTEENTRY> e(count);
  plat::GdiSvc().GetPaletteEntries(pal, 0, count, e.data());
  return e;
}

// ---- Registration ----

TEST_F(JpegImageTest, RegistersJpegThenJpgWithTheirDescription) {
  TFileFormatsList& formats = PictureFormats();
  int jpeg = -1, jpg = -1;
  for (int i = 0; i < formats.Count(); ++i) {
    if (formats.Item(i).Extension == "jpeg") jpeg = i;
    if (formats.Item(i).Extension == "jpg") jpg = i;
  }
  ASSERT_GE(jpeg, 0);
  ASSERT_EQ(jpg, jpeg + 1);
  EXPECT_EQ(formats.Item(jpeg).Description, "JPEG Image File");
  EXPECT_EQ(formats.Item(jpg).GraphicClass, TJPEGImage::StaticClass());
}

TEST_F(JpegImageTest, UpperCaseExtensionLoadsThroughPicture) {
  TPicture picture;
  EXPECT_EQ(PictureFormats().FindFormatByExtension("JPG"), TJPEGImage::StaticClass());
  EXPECT_EQ(PictureFormats().FindFormatByExtension("jpe"), nullptr);
  picture.LoadPictureFile(TestImage("testorig.jpg"));
  ASSERT_NE(picture.Graphic(), nullptr);
  EXPECT_STREQ(picture.Graphic()->ClassName(), "TJPEGImage");
}

// ---- Loading ----

TEST_F(JpegImageTest, SizeIsKnownAfterLoadingWithoutDecoding) {
  auto img = Load(TestImage("testorig.jpg"));
  EXPECT_EQ(img->Width(), 227);
  EXPECT_EQ(img->Height(), 149);
  EXPECT_EQ(img->DecodedBitmap(), nullptr);
  EXPECT_FALSE(img->Empty());
  EXPECT_TRUE(img->PaletteModified());
}

TEST_F(JpegImageTest, LoadingRecordsGreyAndProgressive) {
  EXPECT_TRUE(Load(TestImage("testimggray.jpg"))->Data().IsGreyscale);
  EXPECT_TRUE(Load(TestImage("testimgp.jpg"))->ProgressiveEncoding());
  EXPECT_FALSE(Load(TestImage("testorig.jpg"))->ProgressiveEncoding());
}

TEST_F(JpegImageTest, LoadingNotifiesChange) {
  TJPEGImage img;
  int changes = 0;
  img.OnChange = [&](void*) { ++changes; };
  img.LoadFromFile(TestImage("testorig.jpg"));
  EXPECT_EQ(changes, 1);
}

TEST_F(JpegImageTest, HeaderCutFailsToLoadAndPictureKeepsItsGraphic) {
  TPicture picture;
  picture.LoadPictureFile(TestImage("testorig.jpg"));
  TGraphic* before = picture.Graphic();
  try {
    picture.LoadPictureFile(TestImage("derived-truncated/base_trunc_in_headers.jpg"));
    FAIL() << "expected EJPEG";
  } catch (const EJPEG& e) {
    EXPECT_EQ(e.Message.rfind("JPEG error #", 0), 0u) << e.Message;
    EXPECT_NE(dynamic_cast<const EInvalidGraphic*>(&e), nullptr);
  }
  EXPECT_EQ(picture.Graphic(), before);
}

TEST_F(JpegImageTest, ZeroLengthStreamGivesEmptyImage) {
  TJPEGImage img;
  TMemoryStream empty;
  img.LoadFromStream(empty);
  EXPECT_TRUE(img.Empty());
  EXPECT_EQ(img.Width(), 0);
}

TEST_F(JpegImageTest, DrawingAnEmptyImageThroughACanvasDoesNothing) {
  TJPEGImage img;
  TMemoryStream empty;
  img.LoadFromStream(empty);
  TBitmap target;
  Make24Bit(target, 4, 4);
  target.Canvas().Draw(0, 0, &img);
  EXPECT_EQ(img.DecodedBitmap(), nullptr);
}

TEST_F(JpegImageTest, SettingTheSizeFails) {
  auto img = Load(TestImage("testorig.jpg"));
  try {
    img->SetWidth(10);
    FAIL() << "expected EInvalidGraphicOperation";
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_EQ(e.Message, "Cannot change the size of a JPEG image");
  }
  EXPECT_THROW(img->SetHeight(10), EInvalidGraphicOperation);
}

// ---- Decoding ----

TEST_F(JpegImageTest, ColourFileOn32BitScreenDecodesTo24BitBitmap) {
  auto img = Load(TestImage("testorig.jpg"));
  img->DecodeToBitmap();
  ASSERT_NE(img->DecodedBitmap(), nullptr);
  EXPECT_EQ(img->DecodedBitmap()->PixelFormat(), pf24bit);
  ExpectBitmapMatches(*img->DecodedBitmap(),
                      ReferenceDecode(TestImage("testorig.jpg"), TJpegDecodeSettings()));
}

TEST_F(JpegImageTest, GreyFileDecodesTo8BitBitmapWithGreyPalette) {
  auto img = Load(TestImage("testimggray.jpg"));
  img->DecodeToBitmap();
  TBitmap& bmp = *img->DecodedBitmap();
  EXPECT_EQ(bmp.PixelFormat(), pf8bit);
  auto entries = PaletteEntries(bmp.Palette());
  ASSERT_FALSE(entries.empty());
  for (const auto& e : entries) {
    EXPECT_EQ(e.peRed, e.peGreen);
    EXPECT_EQ(e.peGreen, e.peBlue);
  }
  ExpectBitmapMatches(bmp, ReferenceDecode(TestImage("testimggray.jpg"), TJpegDecodeSettings()));
}

TEST_F(JpegImageTest, DecodesOnlyOnce) {
  auto img = Load(TestImage("testorig.jpg"));
  int starts = 0;
  img->OnProgress = [&](void*, TProgressStage stage, std::uint8_t, bool, const TRect&, const std::string&) {
    if (stage == psStarting) ++starts;
  };
  TBitmap target;
  Make24Bit(target, 227, 149);
  target.Canvas().Draw(0, 0, img.get());
  TBitmap* first = img->DecodedBitmap();
  target.Canvas().Draw(0, 0, img.get());
  EXPECT_EQ(img->DecodedBitmap(), first);
  EXPECT_EQ(starts, 1);
}

TEST_F(JpegImageTest, DrawingPutsTheDecodedPixelsOnTheCanvas) {
  auto img = Load(TestImage("testorig.jpg"));
  TBitmap target;
  Make24Bit(target, 227, 149);
  target.Canvas().Draw(0, 0, img.get());
  TJpegPixels ref = ReferenceDecode(TestImage("testorig.jpg"), TJpegDecodeSettings());
  ExpectBitmapMatches(target, ref);
}

TEST_F(JpegImageTest, CutInScanDataLoadsAndDrawsTheDecodedPart) {
  const std::string path = TestImage("derived-truncated/base_trunc_50pct.jpg");
  auto img = Load(path);
  EXPECT_EQ(img->Width(), 227);
  TBitmap target;
  Make24Bit(target, 227, 149);
  EXPECT_NO_THROW(target.Canvas().Draw(0, 0, img.get()));
  ExpectBitmapMatches(*img->DecodedBitmap(), ReferenceDecode(path, TJpegDecodeSettings()));
}

TEST_F(JpegImageTest, HalfScaleGivesHalfSizeBeforeAndAfterDecoding) {
  auto img = Load(TestImage("testorig.jpg"));
  img->SetScale(jsHalf);
  EXPECT_EQ(img->Width(), 114);
  EXPECT_EQ(img->Height(), 75);
  img->DecodeToBitmap();
  EXPECT_EQ(img->DecodedBitmap()->Width(), 114);
}

TEST_F(JpegImageTest, ChangingASettingDiscardsDecodedPixels) {
  auto img = Load(TestImage("testorig.jpg"));
  img->DecodeToBitmap();
  img->SetPixelFormat(jf8Bit);
  EXPECT_EQ(img->DecodedBitmap(), nullptr);
  img->DecodeToBitmap();
  EXPECT_EQ(img->DecodedBitmap()->PixelFormat(), pf8bit);
}

TEST_F(JpegImageTest, DecodingErrorReachesTheDrawAndIsNotRepeated) {
  auto img = Load(CorpusPath("pillow-ico-jpeg/jpeg/pil_sample_cmyk.jpg"));
  img->SetGrayscale(true);  // the library cannot make grey from CMYK
  TBitmap target;
  Make24Bit(target, 8, 8);
  EXPECT_THROW(target.Canvas().Draw(0, 0, img.get()), EJPEG);
  ASSERT_NE(img->DecodedBitmap(), nullptr);
  EXPECT_NO_THROW(target.Canvas().Draw(0, 0, img.get()));
}

TEST_F(JpegImageTest, AbortFromProgressHandlerIsSilentAndKeepsTheBitmap) {
  auto img = Load(TestImage("testorig.jpg"));
  img->OnProgress = [](void*, TProgressStage stage, std::uint8_t, bool, const TRect&, const std::string&) {
    if (stage == psStarting) throw EAbort("Operation aborted");
  };
  EXPECT_NO_THROW(img->DecodeToBitmap());
  EXPECT_NE(img->DecodedBitmap(), nullptr);
}

TEST_F(JpegImageTest, ProgressEndsWithFullPercentage) {
  auto img = Load(TestImage("testorig.jpg"));
  std::vector<std::pair<TProgressStage, int>> reports;
  img->OnProgress = [&](void* sender, TProgressStage stage, std::uint8_t pct, bool, const TRect& r,
                        const std::string& msg) {
    EXPECT_EQ(sender, img.get());
    EXPECT_TRUE(msg.empty());
    EXPECT_EQ(r, TRect());
    reports.emplace_back(stage, pct);
  };
  img->DecodeToBitmap();
  ASSERT_EQ(reports.size(), 2u);  // the virtual clock stands still, so no running reports
  EXPECT_EQ(reports[0], std::make_pair(psStarting, 0));
  EXPECT_EQ(reports[1], std::make_pair(psEnding, 100));
}

// ---- Assignment and stored data ----

TEST_F(JpegImageTest, AssigningAJpegSharesItsData) {
  auto a = Load(TestImage("testorig.jpg"));
  a->DecodeToBitmap();
  TJPEGImage b;
  b.Assign(a.get());
  EXPECT_EQ(&b.Data(), &a->Data());
  ASSERT_NE(b.DecodedBitmap(), nullptr);
  EXPECT_NE(b.DecodedBitmap(), a->DecodedBitmap());
  EXPECT_EQ(b.Width(), 227);
}

TEST_F(JpegImageTest, AssigningToABitmapDecodes) {
  auto img = Load(TestImage("testorig.jpg"));
  TBitmap bmp;
  bmp.Assign(img.get());
  EXPECT_EQ(bmp.Width(), 227);
  EXPECT_EQ(bmp.Height(), 149);
  ExpectBitmapMatches(bmp, ReferenceDecode(TestImage("testorig.jpg"), TJpegDecodeSettings()));
}

TEST_F(JpegImageTest, FormDataIsSizeThenFileBytes) {
  auto img = Load(TestImage("testorig.jpg"));
  TMemoryStream out;
  img->WriteFormData(out);
  auto file = ReadFile(TestImage("testorig.jpg"));
  ASSERT_EQ(out.Data().size(), file.size() + 4);
  std::uint32_t size = 0;
  std::memcpy(&size, out.Memory(), 4);
  EXPECT_EQ(size, file.size());
  EXPECT_TRUE(std::equal(file.begin(), file.end(), out.Data().begin() + 4));
  TJPEGImage copy;
  out.SetPosition(0);
  copy.ReadFormData(out);
  EXPECT_EQ(copy.Width(), 227);
  EXPECT_TRUE(copy.SameImage(*img));
}

TEST_F(JpegImageTest, FormDataCountBeyondTheStreamIsAReadError) {
  TMemoryStream s;
  const std::uint32_t count = 0x7FFFFFF0;
  s.WriteBuffer(&count, 4);
  s.WriteBuffer("\xFF\xD8", 2);
  s.SetPosition(0);
  TJPEGImage img;
  try {
    img.ReadFormData(s);
    FAIL() << "expected EReadError";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message, "Stream read error");
  }
}

// ---- 8-bit display ----

TEST_F(JpegImageOn8BitScreen, DefaultOutputDepthIs8Bit) {
  EXPECT_EQ(JpegDefaultSettings.OutputDepth, jf8Bit);
}

TEST_F(JpegImageOn8BitScreen, ColourFileDecodesTo8BitWith236ColourPalette) {
  auto img = Load(TestImage("testorig.jpg"));
  img->DecodeToBitmap();
  TBitmap& bmp = *img->DecodedBitmap();
  EXPECT_EQ(bmp.PixelFormat(), pf8bit);
  auto entries = PaletteEntries(bmp.Palette());
  EXPECT_LE(entries.size(), 236u);
  EXPECT_GT(entries.size(), 16u);
  TJpegDecodeSettings s;
  s.OutputDepth = jf8Bit;
  TJpegPixels ref = ReferenceDecode(TestImage("testorig.jpg"), s);
  ASSERT_EQ(entries.size(), ref.Palette.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].peRed, ref.Palette[i].Red);
    EXPECT_EQ(entries[i].peGreen, ref.Palette[i].Green);
    EXPECT_EQ(entries[i].peBlue, ref.Palette[i].Blue);
  }
  ExpectBitmapMatches(bmp, ref);
}

TEST_F(JpegImageOn8BitScreen, TwentyFourBitImageOffersAHalftonePalette) {
  auto img = Load(TestImage("testorig.jpg"));
  img->SetPixelFormat(jf24Bit);
  plat::HPALETTE pal = img->Palette();
  ASSERT_NE(pal, nullptr);
  EXPECT_EQ(img->Palette(), pal);  // kept, not made again
}

TEST_F(JpegImageTest, TwentyFourBitImageOnTrueColourScreenHasNoPalette) {
  auto img = Load(TestImage("testorig.jpg"));
  EXPECT_EQ(img->Palette(), nullptr);
}

TEST_F(JpegImageTest, ReplacingThePaletteDiscardsTheBitmap) {
  auto img = Load(TestImage("testorig.jpg"));
  img->DecodeToBitmap();
  int changes = 0;
  img->OnChange = [&](void*) { ++changes; };
  std::vector<std::uint8_t> buf(sizeof(plat::LOGPALETTE));
  auto* lp = reinterpret_cast<plat::LOGPALETTE*>(buf.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = 1;
  lp->palPalEntry[0] = {10, 20, 30, 0};
  img->SetPalette(plat::GdiSvc().CreatePalette(lp));
  EXPECT_EQ(img->DecodedBitmap(), nullptr);
  EXPECT_EQ(changes, 1);
}

}  // namespace
