// Decoding JPEG data into a pixel buffer, checked pixel by pixel against a decode done here directly with
// libjpeg (the same library, so the comparison is exact).
#include <gtest/gtest.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <jerror.h>

#include "picture/jpeg/JpegDecode.h"

namespace {

std::vector<std::uint8_t> ReadCorpus(const std::string& rel) {
  std::ifstream f(std::string(DS_CORPORA_DIR) + "/" + rel, std::ios::binary);
  EXPECT_TRUE(f.good()) << rel;
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

const char* kTestImages = "libjpeg-turbo-testimages/";

// ---- Reference decode straight through libjpeg ----

struct RefOptions {
  unsigned scaleDenom = 1;
  bool quantize = false;
  bool twoPass = true;
  J_DITHER_MODE dither = JDITHER_FS;
  J_DCT_METHOD dct = JDCT_ISLOW;
  bool grey = false;
  bool bgr = false;  // libjpeg's blue-green-red output order (orders a one-pass colour map differently)
  const std::vector<TJpegColor>* colorMap = nullptr;
};

struct RefOut {
  int width = 0, height = 0, components = 0;
  std::vector<std::uint8_t> pixels;  // tightly packed, libjpeg's RGB order
  std::vector<TJpegColor> palette;
};

struct RefErr {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};
void RefErrorExit(j_common_ptr c) {
  std::longjmp(reinterpret_cast<RefErr*>(c->err)->jump, 1);
}
void RefEmit(j_common_ptr, int) {}
void RefOutput(j_common_ptr) {}

// Returns 0 or libjpeg's message code. No objects with destructors live in this frame.
int RefDecode(const std::vector<std::uint8_t>& data, const RefOptions& o, RefOut& out) {
  jpeg_decompress_struct ci;
  RefErr err;
  ci.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = RefErrorExit;
  err.pub.emit_message = RefEmit;
  err.pub.output_message = RefOutput;
  jpeg_create_decompress(&ci);
  if (setjmp(err.jump)) {
    int code = err.pub.msg_code;
    jpeg_destroy_decompress(&ci);
    return code;
  }
  jpeg_mem_src(&ci, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&ci, TRUE);
  ci.scale_num = 1;
  ci.scale_denom = o.scaleDenom;
  ci.dct_method = o.dct;
  if (o.grey) ci.out_color_space = JCS_GRAYSCALE;
  if (o.bgr) ci.out_color_space = JCS_EXT_BGR;
  if (o.quantize || ci.out_color_space == JCS_GRAYSCALE) {
    ci.quantize_colors = TRUE;
    ci.desired_number_of_colors = 236;
    ci.two_pass_quantize = o.twoPass;
    ci.dither_mode = o.dither;
  }
  if (o.colorMap) {
    int n = static_cast<int>(o.colorMap->size());
    ci.colormap = (*ci.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&ci), JPOOL_IMAGE, n, 3);
    for (int i = 0; i < n; ++i) {
      ci.colormap[0][i] = (*o.colorMap)[i].Red;
      ci.colormap[1][i] = (*o.colorMap)[i].Green;
      ci.colormap[2][i] = (*o.colorMap)[i].Blue;
    }
    ci.actual_number_of_colors = n;
  }
  jpeg_start_decompress(&ci);
  out.width = static_cast<int>(ci.output_width);
  out.height = static_cast<int>(ci.output_height);
  out.components = ci.quantize_colors ? 1 : ci.output_components;
  out.pixels.resize(static_cast<std::size_t>(out.width) * out.height * out.components);
  while (ci.output_scanline < ci.output_height) {
    JSAMPROW row =
        out.pixels.data() + static_cast<std::size_t>(ci.output_scanline) * out.width * out.components;
    jpeg_read_scanlines(&ci, &row, 1);
  }
  if (ci.quantize_colors) {
    out.palette.resize(static_cast<std::size_t>(ci.actual_number_of_colors));
    for (int i = 0; i < ci.actual_number_of_colors; ++i) {
      if (ci.out_color_components == 1)
        out.palette[i] = {ci.colormap[0][i], ci.colormap[0][i], ci.colormap[0][i]};
      else
        out.palette[i] = o.bgr ? TJpegColor{ci.colormap[2][i], ci.colormap[1][i], ci.colormap[0][i]}
                               : TJpegColor{ci.colormap[0][i], ci.colormap[1][i], ci.colormap[2][i]};
    }
  }
  jpeg_finish_decompress(&ci);
  jpeg_destroy_decompress(&ci);
  return 0;
}

RefOut Reference(const std::vector<std::uint8_t>& data, const RefOptions& o = RefOptions()) {
  RefOut out;
  int code = RefDecode(data, o, out);
  EXPECT_EQ(code, 0) << "reference decode failed";
  return out;
}

// ---- Comparisons ----

void ExpectSameBgr(const TJpegPixels& got, const RefOut& ref) {
  ASSERT_FALSE(got.EightBitOut);
  ASSERT_EQ(got.Width, ref.width);
  ASSERT_EQ(got.Height, ref.height);
  ASSERT_EQ(ref.components, 3);
  int mismatches = 0;
  for (int y = 0; y < ref.height; ++y)
    for (int x = 0; x < ref.width; ++x) {
      const std::uint8_t* g = got.Bits.data() + y * got.Stride + x * 3;
      const std::uint8_t* r = ref.pixels.data() + (static_cast<std::size_t>(y) * ref.width + x) * 3;
      if (g[0] != r[2] || g[1] != r[1] || g[2] != r[0]) {
        if (++mismatches <= 3) ADD_FAILURE() << "pixel " << x << "," << y << " differs";
      }
    }
  EXPECT_EQ(mismatches, 0);
}

void ExpectSameIndexed(const TJpegPixels& got, const RefOut& ref) {
  ASSERT_TRUE(got.EightBitOut);
  ASSERT_EQ(got.Width, ref.width);
  ASSERT_EQ(got.Height, ref.height);
  ASSERT_EQ(ref.components, 1);
  EXPECT_EQ(got.Palette, ref.palette);
  int mismatches = 0;
  for (int y = 0; y < ref.height; ++y)
    for (int x = 0; x < ref.width; ++x)
      if (got.Bits[y * got.Stride + x] != ref.pixels[static_cast<std::size_t>(y) * ref.width + x])
        ++mismatches;
  EXPECT_EQ(mismatches, 0);
}

TJpegPixels Decode(const std::vector<std::uint8_t>& data,
                   const TJpegDecodeSettings& s = TJpegDecodeSettings()) {
  TJpegPixels px;
  DecodeJpeg(data.data(), data.size(), s, px);
  return px;
}

std::string ErrorText(int code) {
  return "JPEG error #" + std::to_string(code);
}

// Files whose support depends on how the library was built: same pixels when it decodes them, else the
// same message code.
void ExpectDecodesOrFailsLikeLibrary(const std::vector<std::uint8_t>& data) {
  RefOut ref;
  int code = RefDecode(data, RefOptions(), ref);
  if (code == 0) {
    TJpegPixels px = Decode(data);
    if (ref.components == 3)
      ExpectSameBgr(px, ref);
    else
      ExpectSameIndexed(px, ref);
    return;
  }
  try {
    Decode(data);
    ADD_FAILURE() << "expected EJPEG";
  } catch (const EJPEG& e) {
    EXPECT_EQ(e.Message, ErrorText(code));
  }
}

// ---- 24-bit output ----

TEST(JpegDecode24Bit, BaselineMatchesLibjpegInBlueGreenRedOrder) {
  auto data = ReadCorpus(std::string(kTestImages) + "testorig.jpg");
  TJpegPixels px = Decode(data);
  EXPECT_EQ(px.Width, 227);
  EXPECT_EQ(px.Height, 149);
  ExpectSameBgr(px, Reference(data));
}

// Rows `offset` bytes past a 64-byte boundary and whole 32-byte steps apart. A vector colour converter
// streams rows that start on such a boundary, so the decoder converts those in a buffer of its own and
// copies them (offset 0); other rows it fills directly (offset 16).
class TAlignedPixels : public TJpegPixels {
 public:
  explicit TAlignedPixels(std::size_t offset) : offset_(offset) {}
  void SetSize(int W, int H) override {
    TJpegPixels::SetSize(W, H);
    pitch_ = (Stride + 31) / 32 * 32;
    storage_.assign(pitch_ * static_cast<std::size_t>(H) + 64 + offset_, 0);
    const auto at = reinterpret_cast<std::uintptr_t>(storage_.data());
    base_ = storage_.data() + (64 - at % 64) % 64 + offset_;
  }
  std::uint8_t* ScanLine(int Row) override { return base_ + static_cast<std::size_t>(Row) * pitch_; }
  // The rows packed into Bits, for the comparisons.
  const TJpegPixels& Packed() {
    for (int y = 0; y < Height; ++y)
      std::copy_n(ScanLine(y), Stride, Bits.data() + static_cast<std::size_t>(y) * Stride);
    return *this;
  }

 private:
  std::size_t offset_, pitch_ = 0;
  std::vector<std::uint8_t> storage_;
  std::uint8_t* base_ = nullptr;
};

TEST(JpegDecode24Bit, RowsOnAndOffTheStreamingBoundaryGetTheSamePixels) {
  for (const char* name :
       {"testorig.jpg", "testimgp.jpg", "testimgcrop.jpg", "derived-truncated/base_trunc_50pct.jpg",
        "derived-truncated/prog_trunc_50pct.jpg"}) {
    auto data = ReadCorpus(std::string(kTestImages) + name);
    const RefOut ref = Reference(data);
    for (std::size_t offset : {0, 16, 3}) {
      SCOPED_TRACE(std::string(name) + " at offset " + std::to_string(offset));
      TAlignedPixels px(offset);
      DecodeJpeg(data.data(), data.size(), TJpegDecodeSettings(), px);
      ExpectSameBgr(px.Packed(), ref);
    }
  }
}

TEST(JpegDecode24Bit, ProgressiveMatchesLibjpeg) {
  auto data = ReadCorpus(std::string(kTestImages) + "testimgp.jpg");
  ExpectSameBgr(Decode(data), Reference(data));
}

TEST(JpegDecode24Bit, PartialMcuImageMatchesLibjpeg) {
  auto data = ReadCorpus(std::string(kTestImages) + "testimgcrop.jpg");
  TJpegPixels px = Decode(data);
  EXPECT_EQ(px.Width, 124);
  EXPECT_EQ(px.Height, 92);
  ExpectSameBgr(px, Reference(data));
}

TEST(JpegDecode24Bit, ArithmeticCodedFileDecodesOrFailsLikeTheLibrary) {
  ExpectDecodesOrFailsLikeLibrary(ReadCorpus(std::string(kTestImages) + "testimgari.jpg"));
}

TEST(JpegDecode24Bit, ScaledOutputMatchesLibjpegAtEachScale) {
  auto data = ReadCorpus(std::string(kTestImages) + "testorig.jpg");
  const int widths[] = {227, 114, 57, 29};
  for (int s = 0; s <= 3; ++s) {
    TJpegDecodeSettings settings;
    settings.Scaling = static_cast<TJPEGScale>(s);
    RefOptions o;
    o.scaleDenom = 1u << s;
    TJpegPixels px = Decode(data, settings);
    EXPECT_EQ(px.Width, widths[s]);
    ExpectSameBgr(px, Reference(data, o));
  }
}

TEST(JpegDecode24Bit, BestSpeedUsesTheFastTransform) {
  auto data = ReadCorpus(std::string(kTestImages) + "testorig.jpg");
  TJpegDecodeSettings settings;
  settings.SpeedMode = jpBestSpeed;
  RefOptions o;
  o.dct = JDCT_IFAST;
  ExpectSameBgr(Decode(data, settings), Reference(data, o));
}

TEST(JpegDecode24Bit, CmykFileBecomesColoursCloseToItsRgbTwin) {
  auto cmyk = Decode(ReadCorpus("pillow-ico-jpeg/jpeg/pil_sample_cmyk.jpg"));
  auto rgb = Decode(ReadCorpus("pillow-ico-jpeg/jpeg/pil_sample_rgb.jpg"));
  ASSERT_FALSE(cmyk.EightBitOut);
  ASSERT_EQ(cmyk.Width, rgb.Width);
  ASSERT_EQ(cmyk.Height, rgb.Height);
  // Different encodings of one photograph: the mean difference per channel stays small.
  double total = 0;
  for (int y = 0; y < rgb.Height; ++y)
    for (int x = 0; x < rgb.Width * 3; ++x)
      total += std::abs(int(cmyk.Bits[y * cmyk.Stride + x]) - int(rgb.Bits[y * rgb.Stride + x]));
  EXPECT_LT(total / (rgb.Width * rgb.Height * 3.0), 12.0);
}

// ---- 8-bit output ----

TEST(JpegDecode8Bit, ColourImageIsQuantisedTo236Colours) {
  auto data = ReadCorpus(std::string(kTestImages) + "testorig.jpg");
  TJpegDecodeSettings settings;
  settings.OutputDepth = jf8Bit;
  TJpegPixels px = Decode(data, settings);
  EXPECT_LE(px.Palette.size(), 236u);
  EXPECT_GT(px.Palette.size(), 16u);
  RefOptions o;
  o.quantize = true;
  ExpectSameIndexed(px, Reference(data, o));
}

TEST(JpegDecode8Bit, GreyFileGivesGreyPaletteEvenFor24BitDepth) {
  auto data = ReadCorpus(std::string(kTestImages) + "testimggray.jpg");
  TJpegPixels px = Decode(data);  // 24-bit requested
  ASSERT_TRUE(px.EightBitOut);
  ASSERT_FALSE(px.Palette.empty());
  for (const TJpegColor& c : px.Palette) {
    EXPECT_EQ(c.Red, c.Green);
    EXPECT_EQ(c.Green, c.Blue);
  }
  ExpectSameIndexed(px, Reference(data));
}

TEST(JpegDecode8Bit, GreyOutputTurnsColourFileGrey) {
  auto data = ReadCorpus(std::string(kTestImages) + "testorig.jpg");
  TJpegDecodeSettings settings;
  settings.GreyOutput = true;
  RefOptions o;
  o.grey = true;
  ExpectSameIndexed(Decode(data, settings), Reference(data, o));
}

TEST(JpegDecode8Bit, BestSpeedUsesOnePassOrderedDither) {
  auto data = ReadCorpus(std::string(kTestImages) + "testorig.jpg");
  TJpegDecodeSettings settings;
  settings.OutputDepth = jf8Bit;
  settings.SpeedMode = jpBestSpeed;
  RefOptions o;
  o.quantize = true;
  o.twoPass = false;
  o.dither = JDITHER_ORDERED;
  o.dct = JDCT_IFAST;
  o.bgr = true;
  ExpectSameIndexed(Decode(data, settings), Reference(data, o));
}

TEST(JpegDecode8Bit, PresetPaletteIsUsedAsTheColourMap) {
  auto data = ReadCorpus(std::string(kTestImages) + "testorig.jpg");
  std::vector<TJpegColor> preset;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        preset.push_back({std::uint8_t(r * 51), std::uint8_t(g * 51), std::uint8_t(b * 51)});
  TJpegDecodeSettings settings;
  settings.OutputDepth = jf8Bit;
  settings.PresetPalette = preset;
  RefOptions o;
  o.quantize = true;
  o.colorMap = &preset;
  TJpegPixels px = Decode(data, settings);
  EXPECT_EQ(px.Palette, preset);
  ExpectSameIndexed(px, Reference(data, o));
}

// ---- Damaged and unsupported data ----

TEST(JpegDecodeDamaged, CutInScanDataDecodesAsFarAsTheDataGoes) {
  for (const char* name :
       {"base_trunc_50pct.jpg", "prog_trunc_50pct.jpg", "base_no_EOI.jpg", "prog_no_EOI.jpg"}) {
    SCOPED_TRACE(name);
    auto data = ReadCorpus(std::string(kTestImages) + "derived-truncated/" + name);
    ExpectSameBgr(Decode(data), Reference(data));
  }
}

TEST(JpegDecodeDamaged, CutGreyFileDecodesPartially) {
  auto data = ReadCorpus(std::string(kTestImages) + "derived-truncated/gray_trunc_50pct.jpg");
  ExpectSameIndexed(Decode(data), Reference(data));
}

TEST(JpegDecodeDamaged, CutInsideHeaderFailsWithLibjpegCode) {
  for (const char* name : {"base_trunc_in_headers.jpg", "soi_only.jpg"}) {
    SCOPED_TRACE(name);
    auto data = ReadCorpus(std::string(kTestImages) + "derived-truncated/" + name);
    RefOut ref;
    int code = RefDecode(data, RefOptions(), ref);
    ASSERT_NE(code, 0);
    jpegcodec::THeaderInfo info;
    EXPECT_EQ(jpegcodec::ReadHeaderInfo(data.data(), data.size(), info), code);
    try {
      Decode(data);
      FAIL() << "expected EJPEG";
    } catch (const EJPEG& e) {
      EXPECT_EQ(e.Message, ErrorText(code));
      EXPECT_STREQ(e.ClassName(), "EJPEG");
    }
  }
}

TEST(JpegDecodeDamaged, TwelveBitFileFailsLikeTheLibrary) {
  auto data = ReadCorpus(std::string(kTestImages) + "testorig12.jpg");
  RefOut ref;
  EXPECT_EQ(RefDecode(data, RefOptions(), ref),
            JERR_BAD_PRECISION);  // this library decodes 8-bit samples only
  ExpectDecodesOrFailsLikeLibrary(data);
}

TEST(JpegDecodeDamaged, EmptyDataIsErrorFortyTwo) {
  jpegcodec::THeaderInfo info;
  EXPECT_EQ(jpegcodec::ReadHeaderInfo(nullptr, 0, info), 42);
}

TEST(JpegDecodeDamaged, NotAJpegIsRefused) {
  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13};
  jpegcodec::THeaderInfo info;
  EXPECT_EQ(jpegcodec::ReadHeaderInfo(png.data(), png.size(), info), JERR_NO_SOI);
}

// Sets the frame header's height and width of a baseline file.
std::vector<std::uint8_t> WithSize(std::vector<std::uint8_t> data, unsigned w, unsigned h) {
  for (std::size_t i = 0; i + 9 < data.size(); ++i)
    if (data[i] == 0xFF && data[i + 1] == 0xC0) {
      data[i + 5] = std::uint8_t(h >> 8);
      data[i + 6] = std::uint8_t(h);
      data[i + 7] = std::uint8_t(w >> 8);
      data[i + 8] = std::uint8_t(w);
      return data;
    }
  ADD_FAILURE() << "no frame header";
  return data;
}

TEST(JpegDecodeDamaged, AbsurdDimensionsAreRefusedBeforeAllocating) {
  auto data = WithSize(ReadCorpus(std::string(kTestImages) + "testorig.jpg"), 65000, 65000);
  jpegcodec::THeaderInfo info;
  EXPECT_EQ(jpegcodec::ReadHeaderInfo(data.data(), data.size(), info), JERR_IMAGE_TOO_BIG);
  EXPECT_THROW(Decode(data), EJPEG);
}

TEST(JpegDecodeDamaged, SizeWithinTheCapStillLoads) {
  auto data = WithSize(ReadCorpus(std::string(kTestImages) + "testorig.jpg"), 8000, 8000);
  jpegcodec::THeaderInfo info;
  EXPECT_EQ(jpegcodec::ReadHeaderInfo(data.data(), data.size(), info), 0);
  EXPECT_EQ(info.Width, 8000u);
}

TEST(JpegDecodeDamaged, FileWithThousandsOfScansIsRefused) {
  // The last scan of a progressive file repeated: each copy would cost another pass over the image.
  auto data = ReadCorpus(std::string(kTestImages) + "testimgp.jpg");
  std::size_t lastScan = 0;
  for (std::size_t i = 0; i + 1 < data.size(); ++i)
    if (data[i] == 0xFF && data[i + 1] == 0xDA) lastScan = i;
  ASSERT_GT(lastScan, 0u);
  ASSERT_EQ(data[data.size() - 2], 0xFF);
  std::vector<std::uint8_t> scan(data.begin() + lastScan, data.end() - 2);
  std::vector<std::uint8_t> many(data.begin(), data.end() - 2);
  for (int i = 0; i < 1200; ++i) many.insert(many.end(), scan.begin(), scan.end());
  many.push_back(0xFF);
  many.push_back(0xD9);
  try {
    Decode(many);
    FAIL() << "expected EJPEG";
  } catch (const EJPEG& e) {
    EXPECT_EQ(e.Message, ErrorText(JERR_BAD_PROGRESSION));
  }
}

TEST(JpegDecodeDamaged, EveryCorpusFileDecodesOrFailsCleanly) {
  const char* files[] = {"app13-multiple.jpg",
                         "hopper.jpg",
                         "hopper_16bit_qtables.jpg",
                         "hopper_bad_exif.jpg",
                         "hopper_gray.jpg",
                         "icc-after-SOF.jpg",
                         "iptc.jpg",
                         "jfif_unit_cm.jpg",
                         "jpeg_ff00_header.jpg",
                         "junk_jpeg_header.jpg",
                         "orientation_rectangle.jpg",
                         "photoshop-200dpi-broken.jpg",
                         "truncated_app14.jpg",
                         "truncated_jpeg.jpg"};
  for (const char* name : files) {
    SCOPED_TRACE(name);
    ExpectDecodesOrFailsLikeLibrary(ReadCorpus(std::string("pillow-ico-jpeg/jpeg/") + name));
  }
}

// ---- Header facts ----

TEST(JpegHeader, ReportsSizeGreyAndProgressiveWithoutDecoding) {
  jpegcodec::THeaderInfo info;
  auto base = ReadCorpus(std::string(kTestImages) + "testorig.jpg");
  ASSERT_EQ(jpegcodec::ReadHeaderInfo(base.data(), base.size(), info), 0);
  EXPECT_EQ(info.Width, 227u);
  EXPECT_EQ(info.Height, 149u);
  EXPECT_FALSE(info.Greyscale);
  EXPECT_FALSE(info.Progressive);
  auto prog = ReadCorpus(std::string(kTestImages) + "testimgp.jpg");
  ASSERT_EQ(jpegcodec::ReadHeaderInfo(prog.data(), prog.size(), info), 0);
  EXPECT_TRUE(info.Progressive);
  auto grey = ReadCorpus(std::string(kTestImages) + "testimggray.jpg");
  ASSERT_EQ(jpegcodec::ReadHeaderInfo(grey.data(), grey.size(), info), 0);
  EXPECT_TRUE(info.Greyscale);
}

// ---- Progressive display ----

TEST(JpegProgressiveDisplay, FinalPassMatchesFastTransformDecode) {
  auto data = ReadCorpus(std::string(kTestImages) + "testimgp.jpg");
  TJpegDecodeSettings settings;
  settings.ShowProgressively = true;
  RefOptions o;
  o.dct = JDCT_IFAST;
  ExpectSameBgr(Decode(data, settings), Reference(data, o));
}

TEST(JpegProgressiveDisplay, EightBitFinalPassGetsItsOwnPalette) {
  auto data = ReadCorpus(std::string(kTestImages) + "testimgp.jpg");
  TJpegDecodeSettings settings;
  settings.ShowProgressively = true;
  settings.OutputDepth = jf8Bit;
  TJpegPixels px = Decode(data, settings);
  ASSERT_TRUE(px.EightBitOut);
  EXPECT_LE(px.Palette.size(), 236u);
  int outside = 0;
  for (int y = 0; y < px.Height; ++y)
    for (int x = 0; x < px.Width; ++x)
      if (px.Bits[y * px.Stride + x] >= px.Palette.size()) ++outside;
  EXPECT_EQ(outside, 0);
}

// ---- Progress reports ----

class JpegProgressTracker : public ::testing::Test {
 protected:
  bool Next(std::uint32_t tick, long counter, long limit, int completed, int total, std::uint32_t row) {
    jpegcodec::TRawProgress r;
    r.PassCounter = counter;
    r.PassLimit = limit;
    r.CompletedPasses = completed;
    r.TotalPasses = total;
    r.OutputScanline = row;
    r.OutputWidth = 100;
    r.OutputHeight = 80;
    return tracker.Next(tick, r, percent, rect, redraw);
  }
  TJpegProgressTracker tracker;
  std::uint8_t percent = 0;
  TRect rect;
  bool redraw = false;
};

TEST_F(JpegProgressTracker, FirstCallOnlyRecordsTheTime) {
  EXPECT_FALSE(Next(1000, 50, 100, 0, 1, 40));
  EXPECT_TRUE(Next(1500, 50, 100, 0, 1, 40));
  EXPECT_EQ(percent, 50);
}

TEST_F(JpegProgressTracker, ReportsAtMostEveryHalfSecond) {
  Next(1000, 0, 100, 0, 1, 0);
  EXPECT_FALSE(Next(1499, 30, 100, 0, 1, 24));
  EXPECT_TRUE(Next(1500, 30, 100, 0, 1, 24));
  EXPECT_FALSE(Next(1999, 60, 100, 0, 1, 48));
}

TEST_F(JpegProgressTracker, SamePercentageIsNotReportedTwice) {
  Next(0, 0, 100, 0, 1, 0);
  EXPECT_TRUE(Next(500, 30, 100, 0, 1, 24));
  EXPECT_FALSE(Next(1000, 30, 100, 0, 1, 24));
}

TEST_F(JpegProgressTracker, PercentageCountsCompletedPassesAndTruncates) {
  Next(0, 0, 3, 0, 3, 0);
  ASSERT_TRUE(Next(500, 2, 3, 1, 3, 0));
  EXPECT_EQ(percent, 55);  // (2/3 + 1) * 100 / 3 = 55.6
}

TEST_F(JpegProgressTracker, RectangleCoversRowsSinceLastReport) {
  Next(0, 0, 100, 0, 1, 0);
  ASSERT_TRUE(Next(500, 10, 100, 0, 1, 8));
  EXPECT_EQ(rect, Rect(0, 0, 100, 8));
  EXPECT_TRUE(redraw);
  ASSERT_TRUE(Next(1000, 12, 100, 0, 1, 10));
  EXPECT_EQ(rect, Rect(0, 8, 100, 10));
  EXPECT_FALSE(redraw);  // two rows are not worth a redraw
}

TEST_F(JpegProgressTracker, NewPassFinishesRectangleAtTheBottom) {
  Next(0, 0, 100, 0, 2, 0);
  ASSERT_TRUE(Next(500, 90, 100, 0, 2, 72));
  ASSERT_TRUE(Next(1000, 5, 100, 1, 2, 4));
  EXPECT_EQ(rect, Rect(0, 72, 100, 80));
}

// A tick source that moves on 600 ms per reading, so every progress call may report.
std::function<std::uint32_t()> FastTicks() {
  auto t = std::make_shared<std::uint32_t>(0);
  return [t] { return *t += 600; };
}

TEST(JpegProgressReports, StartRunningAndEndInOrder) {
  auto data = ReadCorpus(std::string(kTestImages) + "testimgp.jpg");
  TJpegDecodeSettings settings;
  settings.TickCount = FastTicks();
  TJpegPixels px = Decode(data, settings);
  ASSERT_GE(px.Reports.size(), 3u);
  EXPECT_EQ(px.Reports.front().Stage, psStarting);
  EXPECT_EQ(px.Reports.front().Percent, 0);
  EXPECT_EQ(px.Reports.back().Stage, psEnding);
  EXPECT_EQ(px.Reports.back().Percent, 100);
  int last = 0;
  for (std::size_t i = 1; i + 1 < px.Reports.size(); ++i) {
    EXPECT_EQ(px.Reports[i].Stage, psRunning);
    EXPECT_NE(px.Reports[i].Percent, last);
    EXPECT_LE(px.Reports[i].Percent, 100);
    last = px.Reports[i].Percent;
  }
}

TEST(JpegProgressReports, EndingReportIsZeroWhenDecodingFails) {
  // A CMYK file cannot be turned grey by the library: the failure comes after the start report.
  auto data = ReadCorpus("pillow-ico-jpeg/jpeg/pil_sample_cmyk.jpg");
  TJpegDecodeSettings settings;
  settings.GreyOutput = true;
  TJpegPixels px;
  EXPECT_THROW(DecodeJpeg(data.data(), data.size(), settings, px), EJPEG);
  ASSERT_EQ(px.Reports.size(), 2u);
  EXPECT_EQ(px.Reports[1].Stage, psEnding);
  EXPECT_EQ(px.Reports[1].Percent, 0);
}

TEST(JpegProgressReports, AbortFromHandlerStopsDecodingAndPassesOn) {
  auto data = ReadCorpus(std::string(kTestImages) + "testorig.jpg");
  TJpegDecodeSettings settings;
  settings.TickCount = FastTicks();
  TJpegPixels px;
  px.OnReport = [](const TJpegPixels::TReport& r) {
    if (r.Stage == psRunning) throw EAbort("Operation aborted");
  };
  EXPECT_THROW(DecodeJpeg(data.data(), data.size(), settings, px), EAbort);
  ASSERT_GE(px.Reports.size(), 3u);
  EXPECT_EQ(px.Reports.back().Stage, psEnding);
  EXPECT_EQ(px.Reports.back().Percent, 0);
  EXPECT_EQ(px.Width, 227);  // the bitmap was sized before the abort and stays
}

}  // namespace
