// Metafiles: the enhanced and placeable headers, sizes in 0.01 mm and in pixels, playback rectangle, and the
// corpus files.
#include <filesystem>

#include "graphics_fixture.h"
#include "support/Errors.h"

using namespace picture_test;

namespace {

// A header and an end record; frame 0,0 .. frameRight,frameBottom (0.01 mm), device 1024x768 px / 320x240 mm.
std::vector<std::uint8_t> MakeEmf(int frameRight = 999, int frameBottom = 499) {
  Bytes b;
  b.u32(1).u32(100);                // EMR_HEADER, size
  b.u32(0).u32(0).u32(31).u32(15);  // bounds
  b.u32(0).u32(0).u32(static_cast<std::uint32_t>(frameRight)).u32(static_cast<std::uint32_t>(frameBottom));
  b.u32(0x464D4520).u32(0x10000).u32(120).u32(2).u16(1).u16(0);  // signature, version, bytes, records,
                                                                 // handles
  b.u32(0).u32(0).u32(0);                                        // description, palette entries
  b.u32(1024).u32(768).u32(320).u32(240);                        // device pixels, millimetres
  b.u32(0).u32(0).u32(0);                                        // pixel format, OpenGL
  b.u32(14).u32(20).u32(0).u32(16).u32(20);                      // EMR_EOF
  return b.v;
}

// A placeable header (bounding box in units, units per inch) in front of a minimal Windows metafile.
std::vector<std::uint8_t> MakeWmf(int right, int bottom, int inch, bool goodChecksum = true) {
  Bytes h;
  h.u32(0x9AC6CDD7).u16(0).u16(0).u16(0).u16(static_cast<unsigned>(right)).u16(static_cast<unsigned>(bottom));
  h.u16(static_cast<unsigned>(inch)).u32(0);
  std::uint16_t sum = 0;
  for (int i = 0; i < 10; ++i) sum ^= static_cast<std::uint16_t>(h.v[2 * i] | (h.v[2 * i + 1] << 8));
  h.u16(goodChecksum ? sum : sum ^ 1);
  // METAHEADER (9 words) and the end record (3 words).
  h.u16(1).u16(9).u16(0x300).u32(12).u16(0).u32(3).u16(0);
  h.u32(3).u16(0);
  return h.v;
}

class RecordingGdi : public plat::soft::SoftGdi {
 public:
  using SoftGdi::SoftGdi;
  std::vector<plat::RECT> Played;
  plat::BOOL PlayEnhMetaFile(plat::HDC dc, plat::HENHMETAFILE emf, const plat::RECT* rect) override {
    Played.push_back(*rect);
    return SoftGdi::PlayEnhMetaFile(dc, emf, rect);
  }
};

class MetafileTest : public PictureTest {};

}  // namespace

TEST_F(MetafileTest, EnhancedHeaderGivesTheFrameSize) {
  TMetafile m;
  LoadBytes(m, MakeEmf());
  EXPECT_TRUE(m.Enhanced());
  EXPECT_EQ(m.MMWidth(), 999);
  EXPECT_EQ(m.MMHeight(), 499);
  // Pixels: 0.01 mm scaled by the reference device's pixels over its hundredths of millimetres.
  EXPECT_EQ(m.Width(), 32);   // 999 * 1024 / 32000 = 31.97
  EXPECT_EQ(m.Height(), 16);  // 499 * 768 / 24000 = 15.97
}

TEST_F(MetafileTest, PlaceableHeaderSizeUsesItsUnitsPerInch) {
  TMetafile m;
  LoadBytes(m, MakeWmf(1200, 600, 1200));
  EXPECT_FALSE(m.Enhanced());
  EXPECT_EQ(m.Inch(), 1200);
  EXPECT_EQ(m.MMWidth(), 2540);
  EXPECT_EQ(m.MMHeight(), 1270);
  EXPECT_EQ(m.Width(), 96);  // 2540 * 96 / 2540 at the screen's 96 pixels per inch
  EXPECT_EQ(m.Height(), 48);
}

TEST_F(MetafileTest, PlaceableHeaderWithoutUnitsPerInchCountsNinetySix) {
  TMetafile m;
  LoadBytes(m, MakeWmf(96, 48, 0));
  EXPECT_EQ(m.Inch(), 0);
  EXPECT_EQ(m.MMWidth(), 2540);
  EXPECT_EQ(m.MMHeight(), 1270);
}

TEST_F(MetafileTest, PlaceableChecksumMustMatch) {
  TMetafile m;
  EXPECT_EQ(MessageOf([&] { LoadBytes(m, MakeWmf(100, 100, 96, false)); }),
            "EInvalidGraphic: Metafile is not valid");
}

TEST_F(MetafileTest, NeitherHeaderIsInvalid) {
  TMetafile m;
  EXPECT_EQ(MessageOf([&] { LoadBytes(m, std::vector<std::uint8_t>(200, 7)); }),
            "EInvalidGraphic: Metafile is not valid");
  EXPECT_EQ(MessageOf([&] { LoadBytes(m, {1, 2, 3}); }), "EInvalidGraphic: Metafile is not valid");
  EXPECT_THROW(m.LoadFromFile(Corpus("wmf/libreoffice/libreoffice_astable.wmf")), EInvalidGraphic);
}

TEST_F(MetafileTest, EnhancedSignatureOnlyCountsBeyondOneHundredBytes) {
  auto data = MakeEmf();
  data.resize(100);
  TMetafile m;
  EXPECT_THROW(LoadBytes(m, data), EInvalidGraphic);
}

TEST_F(MetafileTest, EnhancedSizeBeyondTheDataIsAReadError) {
  auto data = MakeEmf();
  data[48] = 0xFF;  // nBytes
  data[49] = 0xFF;
  TMetafile m;
  EXPECT_EQ(MessageOf([&] { LoadBytes(m, data); }), "EReadError: Stream read error");
}

TEST_F(MetafileTest, FailedReadKeepsThePreviousPicture) {
  TMetafile m;
  LoadBytes(m, MakeEmf());
  EXPECT_THROW(LoadBytes(m, MakeWmf(1, 1, 96, false)), EInvalidGraphic);
  EXPECT_EQ(m.MMWidth(), 999);
}

TEST_F(MetafileTest, PlaysIntoTheRectangleShrunkByOnePixel) {
  RecordingGdi gdi{plat::soft::SoftOptions()};
  plat::Services s = plat::CurrentServices();
  s.gdi = &gdi;
  plat::ScopedServices scoped(s);
  {
    TMetafile m;
    LoadBytes(m, MakeEmf());
    Target t(40, 40);
    t.Canvas().StretchDraw(Rect(2, 3, 30, 20), &m);
    ASSERT_EQ(gdi.Played.size(), 1u);
    EXPECT_EQ(gdi.Played[0].left, 2);
    EXPECT_EQ(gdi.Played[0].top, 3);
    EXPECT_EQ(gdi.Played[0].right, 29);
    EXPECT_EQ(gdi.Played[0].bottom, 19);
  }
}

TEST_F(MetafileTest, StoredBytesAreWrittenBackUnchanged) {
  const auto data = ReadFileBytes(Corpus("wmf/pillow/drawing.wmf"));
  TMetafile m;
  LoadBytes(m, data);
  TMemoryStream s;
  m.SaveToStream(s);
  EXPECT_EQ(s.Data(), data);
}

TEST_F(MetafileTest, AssignSharesTheImage) {
  TMetafile a, b;
  LoadBytes(a, MakeEmf());
  b.Assign(&a);
  EXPECT_EQ(a.Handle(), b.Handle());
  EXPECT_TRUE(b.SameImage(a));
}

TEST_F(MetafileTest, CorpusMetafilesLoadAndDrawOrFailCleanly) {
  int loaded = 0;
  for (const std::string dir : {"wmf", "emf"}) {
    for (const auto& e : std::filesystem::recursive_directory_iterator(Corpus(dir))) {
      const std::string ext = e.path().extension().string();
      if (!e.is_regular_file() || ext == ".md") continue;
      TMetafile m;
      try {
        m.LoadFromFile(e.path().string());
        Target t(64, 64);
        t.Canvas().StretchDraw(Rect(0, 0, 64, 64), &m);
        ++loaded;
      } catch (const Exception&) {
      }
    }
  }
  EXPECT_GT(loaded, 10);
  TMetafile drawing;
  drawing.LoadFromFile(Corpus("emf/pillow/drawing.emf"));
  EXPECT_GT(drawing.Width(), 0);
}
