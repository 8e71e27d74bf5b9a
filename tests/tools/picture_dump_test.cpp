// The picture-dump tool run in-process: each reader's output as a PAM file, and failures as one error line.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "app/PictureDump.h"
#include "picture/Graphics.h"
#include "picture/pngimage/pngimage.h"
#include "platform/soft/SoftPlatform.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::string Temp(const std::string& name) {
  return ::testing::TempDir() + "picture_dump_" + name;
}

std::string WriteTemp(const std::string& name, const Bytes& bytes) {
  const std::string path = Temp(name);
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}

std::string Suite(const std::string& name) {
  return std::string(DS_CORPORA_DIR) + "/" + name;
}

// A parsed PAM file: the header lines and the samples after ENDHDR.
struct Pam {
  int width = -1, height = -1, depth = -1, maxval = -1;
  std::string tupltype;
  Bytes samples;
  const std::uint8_t* At(int x, int y) const { return &samples[(std::size_t(y) * width + x) * depth]; }
};

Pam ParsePam(const Bytes& file) {
  Pam p;
  const std::string text(file.begin(), file.end());
  const std::size_t end = text.find("ENDHDR\n");
  if (text.compare(0, 3, "P7\n") != 0 || end == std::string::npos) return p;
  std::istringstream header(text.substr(3, end - 3));
  std::string key;
  while (header >> key) {
    if (key == "WIDTH") header >> p.width;
    if (key == "HEIGHT") header >> p.height;
    if (key == "DEPTH") header >> p.depth;
    if (key == "MAXVAL") header >> p.maxval;
    if (key == "TUPLTYPE") header >> p.tupltype;
  }
  p.samples.assign(file.begin() + long(end + 7), file.end());
  return p;
}

struct DumpRun {
  int code;
  std::string err;
  Pam pam;
};

DumpRun Dump(const std::string& input, const std::string& outName) {
  const std::string out = Temp(outName);
  std::remove(out.c_str());
  std::ostringstream err;
  DumpRun r{RunPictureDump(input, out, err), err.str(), {}};
  if (r.code == 0) r.pam = ParsePam(ReadBytes(out));
  return r;
}

// A 24-bit bottom-up bitmap file, 2 x 2, with four different colours (0xRRGGBB, top row first).
Bytes SmallBmp(const std::uint32_t (&topDown)[4]) {
  Bytes b = {'B', 'M'};
  auto u16 = [&](unsigned v) { b.push_back(std::uint8_t(v)), b.push_back(std::uint8_t(v >> 8)); };
  auto u32 = [&](std::uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  u32(54 + 16), u32(0), u32(54);
  u32(40), u32(2), u32(2), u16(1), u16(24), u32(0), u32(16), u32(0), u32(0), u32(0), u32(0);
  for (int row : {1, 0}) {  // bottom row first
    for (int x = 0; x < 2; ++x) {
      const std::uint32_t c = topDown[row * 2 + x];
      b.push_back(std::uint8_t(c)), b.push_back(std::uint8_t(c >> 8)), b.push_back(std::uint8_t(c >> 16));
    }
    b.push_back(0), b.push_back(0);
  }
  return b;
}

// A .dib file: 32-bit top-down pixels whose fourth bytes are an alpha channel.
Bytes SmallAlphaDib() {
  Bytes b = {'B', 'M'};
  auto u16 = [&](unsigned v) { b.push_back(std::uint8_t(v)), b.push_back(std::uint8_t(v >> 8)); };
  auto u32 = [&](std::uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  u32(54 + 8), u32(0), u32(54);
  u32(40), u32(2), u32(0xFFFFFFFFu), u16(1), u16(32), u32(0), u32(8), u32(0), u32(0), u32(0), u32(0);
  for (std::uint8_t v : {0x10, 0x20, 0x30, 0x80, 0x40, 0x50, 0x60, 0xFF}) b.push_back(v);
  return b;
}

TEST(PictureDumpOutput, PamHeaderNamesRgbWithoutAlpha) {
  TPictureDump d;
  d.Width = 2;
  d.Height = 1;
  d.Rgba = {1, 2, 3, 255, 4, 5, 6, 255};
  const Bytes pam = EncodePam(d);
  const std::string expected = "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n";
  ASSERT_EQ(std::string(pam.begin(), pam.begin() + long(expected.size())), expected);
  EXPECT_EQ(Bytes(pam.begin() + long(expected.size()), pam.end()), (Bytes{1, 2, 3, 4, 5, 6}));
}

TEST(PictureDumpOutput, PamKeepsTheAlphaSampleWhenTheGraphicHasAlpha) {
  TPictureDump d;
  d.Width = 1;
  d.Height = 1;
  d.HasAlpha = true;
  d.Rgba = {9, 8, 7, 6};
  const Pam p = ParsePam(EncodePam(d));
  EXPECT_EQ(p.depth, 4);
  EXPECT_EQ(p.tupltype, "RGB_ALPHA");
  EXPECT_EQ(p.samples, (Bytes{9, 8, 7, 6}));
}

TEST(PictureDumpReaders, OpaquePngGivesItsDecodedColoursAsRgb) {
  const std::string file = Suite("pngsuite/png/basn2c08.png");
  const DumpRun r = Dump(file, "basn2c08.pam");
  ASSERT_EQ(r.code, 0) << r.err;
  ASSERT_EQ(r.pam.tupltype, "RGB");
  ASSERT_EQ(r.pam.depth, 3);
  ASSERT_EQ(r.pam.maxval, 255);
  const Bytes png = ReadBytes(file);
  int w = 0, h = 0;
  Bytes bgra;
  ASSERT_TRUE(DecodePngToBGRA(png.data(), png.size(), w, h, bgra));
  ASSERT_EQ(r.pam.width, w);
  ASSERT_EQ(r.pam.height, h);
  ASSERT_EQ(r.pam.samples.size(), std::size_t(w) * h * 3);
  int mismatches = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::uint8_t* q = &bgra[(std::size_t(y) * w + x) * 4];
      const std::uint8_t* p = r.pam.At(x, y);
      mismatches += p[0] != q[2] || p[1] != q[1] || p[2] != q[0];
    }
  EXPECT_EQ(mismatches, 0);
}

// Partially transparent pixels blend over the black canvas with the drawing's integer formula; the alpha
// sample is the image's own.
TEST(PictureDumpReaders, TransparentPngBlendsOverBlackAndKeepsItsAlpha) {
  const std::string file = Suite("pngsuite/png/basn6a08.png");
  const DumpRun r = Dump(file, "basn6a08.pam");
  ASSERT_EQ(r.code, 0) << r.err;
  ASSERT_EQ(r.pam.tupltype, "RGB_ALPHA");
  ASSERT_EQ(r.pam.depth, 4);
  const Bytes png = ReadBytes(file);
  int w = 0, h = 0;
  Bytes bgra;
  ASSERT_TRUE(DecodePngToBGRA(png.data(), png.size(), w, h, bgra));
  ASSERT_EQ(r.pam.samples.size(), std::size_t(w) * h * 4);
  int mismatches = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::uint8_t* q = &bgra[(std::size_t(y) * w + x) * 4];
      const std::uint8_t* p = r.pam.At(x, y);
      const int a = q[3];
      for (int c = 0; c < 3; ++c) mismatches += p[c] != (q[2 - c] * a + 255) / 256;
      mismatches += p[3] != a;
    }
  EXPECT_EQ(mismatches, 0);
}

TEST(PictureDumpReaders, BmpRowsComeOutTopRowFirst) {
  const std::uint32_t colours[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0x123456};
  const DumpRun r = Dump(WriteTemp("small.bmp", SmallBmp(colours)), "small_bmp.pam");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.pam.tupltype, "RGB");
  ASSERT_EQ(r.pam.width, 2);
  ASSERT_EQ(r.pam.height, 2);
  EXPECT_EQ(r.pam.samples, (Bytes{255, 0, 0, 0, 255, 0, 0, 0, 255, 0x12, 0x34, 0x56}));
}

TEST(PictureDumpReaders, DibWithAlphaBytesIsWrittenWithItsAlpha) {
  const DumpRun r = Dump(WriteTemp("alpha.dib", SmallAlphaDib()), "alpha_dib.pam");
  ASSERT_EQ(r.code, 0) << r.err;
  ASSERT_EQ(r.pam.tupltype, "RGB_ALPHA");
  ASSERT_EQ(r.pam.width, 2);
  ASSERT_EQ(r.pam.height, 1);
  EXPECT_EQ(r.pam.samples, (Bytes{0x30, 0x20, 0x10, 0x80, 0x60, 0x50, 0x40, 0xFF}));
}

// Against the reference decoder's own output of the same file, within the rounding of the integer
// transforms (at most 4 levels on any sample, under half a level on average).
TEST(PictureDumpReaders, JpegMatchesTheReferenceDecodeWithinRounding) {
  const std::string dir = Suite("libjpeg-turbo-testimages/");
  const DumpRun r = Dump(dir + "testorig.jpg", "testorig.pam");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.pam.tupltype, "RGB");
  const Bytes ppm = ReadBytes(dir + "testorig.ppm");
  std::istringstream header(std::string(ppm.begin(), ppm.begin() + 64));
  std::string magic;
  int w = 0, h = 0, maxval = 0;
  header >> magic >> w >> h >> maxval;
  ASSERT_EQ(magic, "P6");
  ASSERT_EQ(r.pam.width, w);
  ASSERT_EQ(r.pam.height, h);
  const std::size_t n = std::size_t(w) * h * 3;
  ASSERT_EQ(r.pam.samples.size(), n);
  const std::uint8_t* ref = ppm.data() + (ppm.size() - n);
  long total = 0;
  int worst = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const int d = std::abs(int(r.pam.samples[i]) - int(ref[i]));
    total += d;
    worst = std::max(worst, d);
  }
  EXPECT_LE(worst, 4);
  EXPECT_LT(double(total) / double(n), 0.5);
}

TEST(PictureDumpFailures, BrokenPngPrintsItsErrorClassAndMessageOnOneLine) {
  const DumpRun r = Dump(Suite("pngsuite/png/xcrn0g04.png"), "broken.pam");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, std::string("EPNGInvalidFileHeader: ") + EPngInvalidFileHeaderText + "\n");
  EXPECT_TRUE(ReadBytes(Temp("broken.pam")).empty());
}

// A picture kind whose reader refuses every file with a message of three lines.
class TThreeLineRefusal : public TGraphic {
 public:
  DS_GRAPHIC_CLASS(TThreeLineRefusal, TGraphic)
  void DrawGraphic(TCanvas&, const TRect&) override {}
  bool IsEmpty() const override { return true; }
  int ImageHeight() const override { return 0; }
  int ImageWidth() const override { return 0; }
  void ResizeHeight(int) override {}
  void ResizeWidth(int) override {}
  void ReadGraphicStream(TStream&) override {
    throw EInvalidGraphic("System Error.  Code: 8.\r\nNo memory\nleft");
  }
  void WriteGraphicStream(TStream&) override {}
  void ReadClipboard(plat::WORD, std::uintptr_t, plat::HPALETTE) override {}
  void WriteClipboard(plat::WORD&, std::uintptr_t&, plat::HPALETTE&) override {}
};

TEST(PictureDumpFailures, MessageOfSeveralLinesIsPrintedOnOne) {
  TPicture::RegisterPictureFormat("threelines", "test pictures", TThreeLineRefusal::StaticClass());
  const DumpRun r = Dump(WriteTemp("picture.threelines", {1, 2, 3}), "threelines.pam");
  TPicture::UnregisterGraphicClass(TThreeLineRefusal::StaticClass());
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "EInvalidGraphic: System Error.  Code: 8. No memory left\n");
}

TEST(PictureDumpFailures, UnknownExtensionIsAnInvalidGraphic) {
  const DumpRun r = Dump(WriteTemp("picture.xyz", {1, 2, 3}), "unknown.pam");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err.rfind("EInvalidGraphic: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(".xyz"), std::string::npos) << r.err;
}

TEST(PictureDumpFailures, MissingInputNamesTheFile) {
  const DumpRun r = Dump(Temp("does_not_exist.bmp"), "missing.pam");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err.rfind("EFOpenError: Cannot open file \"", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1);
}

TEST(PictureDumpFailures, TruncatedBmpFailsWithoutOutput) {
  const std::uint32_t colours[4] = {1, 2, 3, 4};
  Bytes bmp = SmallBmp(colours);
  bmp.resize(30);
  const DumpRun r = Dump(WriteTemp("cut.bmp", bmp), "cut.pam");
  EXPECT_EQ(r.code, 1);
  EXPECT_FALSE(r.err.empty());
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
}

// A graphic of any claimed size that counts its draws, as a metafile header can claim any size.
class TClaimedSizeGraphic : public TGraphic {
 public:
  DS_GRAPHIC_CLASS(TClaimedSizeGraphic, TGraphic)
  int w = 0, h = 0, draws = 0;
  void DrawGraphic(TCanvas&, const TRect&) override { ++draws; }
  bool IsEmpty() const override { return w == 0 || h == 0; }
  int ImageWidth() const override { return w; }
  int ImageHeight() const override { return h; }
  void ResizeWidth(int v) override { w = v; }
  void ResizeHeight(int v) override { h = v; }
  void ReadGraphicStream(TStream&) override {}
  void WriteGraphicStream(TStream&) override {}
  void ReadClipboard(plat::WORD, std::uintptr_t, plat::HPALETTE) override {}
  void WriteClipboard(plat::WORD&, std::uintptr_t&, plat::HPALETTE&) override {}
};

TEST(PictureDumpLimits, HugeClaimedSizeIsRefusedBeforeAnyCanvasIsMade) {
  plat::soft::SoftPlatform platform;
  TClaimedSizeGraphic g;
  g.w = 100000;
  g.h = 100000;
  try {
    RenderGraphic(g);
    FAIL() << "a 10^10 pixel picture was dumped";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message, "The picture is too large to dump (100000 x 100000)");
  }
  EXPECT_EQ(g.draws, 0);
}

TEST(PictureDumpLimits, WidePictureWithinTheLimitIsDrawnOnBlack) {
  plat::soft::SoftPlatform platform;
  TClaimedSizeGraphic g;
  g.w = 8192;
  g.h = 1;
  const TPictureDump d = RenderGraphic(g);
  EXPECT_EQ(g.draws, 1);
  EXPECT_EQ(d.Rgba.size(), 8192u * 4);
  EXPECT_EQ(d.Rgba[0], 0);  // the canvas is black where nothing was drawn
  EXPECT_EQ(d.Rgba[3], 255);
}

TEST(PictureDumpLimits, EmptyGraphicIsRefused) {
  plat::soft::SoftPlatform platform;
  TClaimedSizeGraphic g;
  EXPECT_THROW(RenderGraphic(g), EInvalidGraphic);
}

}  // namespace
