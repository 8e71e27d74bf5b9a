// The format list, file-name extensions, loading a picture by extension, stored form data, and the common
// behaviour of every graphic.
#include "graphics_fixture.h"
#include "support/Errors.h"

using namespace picture_test;

namespace {

// A minimal graphic kind: its image is the bytes it read. Data starting with 'X' is refused.
class TFakeGraphic : public TGraphic {
 public:
  DS_GRAPHIC_CLASS(TFakeGraphic, TGraphic)
  std::vector<std::uint8_t> Data;
  void DrawGraphic(TCanvas&, const TRect&) override {}
  bool IsEmpty() const override { return Data.empty(); }
  int ImageHeight() const override { return Data.empty() ? 0 : 1; }
  int ImageWidth() const override { return static_cast<int>(Data.size()); }
  void ResizeHeight(int) override {}
  void ResizeWidth(int) override {}
  void ReadGraphicStream(TStream& S) override {
    Progress(this, psStarting, 0, false, TRect(), "start");
    std::vector<std::uint8_t> d(static_cast<std::size_t>(S.Remaining()));
    S.ReadBuffer(d.data(), d.size());
    if (!d.empty() && d[0] == 'X') throw EInvalidGraphic("fake refused");
    Data = std::move(d);
    Progress(this, psEnding, 100, false, TRect(), "end");
    NotifyChanged();
  }
  void WriteGraphicStream(TStream& S) override { S.WriteBuffer(Data.data(), Data.size()); }
  void Assign(const TGraphic* Source) override {
    if (Source && Source->InheritsFrom(StaticClass())) {
      Data = static_cast<const TFakeGraphic*>(Source)->Data;
      NotifyChanged();
      return;
    }
    TGraphic::Assign(Source);
  }
  void ReadClipboard(plat::WORD, std::uintptr_t, plat::HPALETTE) override {}
  void WriteClipboard(plat::WORD&, std::uintptr_t&, plat::HPALETTE&) override {}
};

class TFakeChild : public TFakeGraphic {
 public:
  DS_GRAPHIC_CLASS(TFakeChild, TFakeGraphic)
};

class CountingNotifier : public IChangeNotifier {
 public:
  int Count = 0;
  void Changed() override { ++Count; }
};

class FormatListTest : public PictureTest {
 protected:
  ~FormatListTest() override { TPicture::UnregisterGraphicClass(TFakeGraphic::StaticClass()); }
};

}  // namespace

// ---- The format list ----

TEST_F(FormatListTest, StartsWithTheFourBuiltInFormatsInOrder) {
  TFileFormatsList& list = PictureFormats();
  ASSERT_GE(list.Count(), 4);
  const char* ext[] = {"wmf", "emf", "ico", "bmp"};
  const char* desc[] = {"Metafiles", "Enhanced Metafiles", "Icons", "Bitmaps"};
  TGraphicClass cls[] = {TMetafile::StaticClass(), TMetafile::StaticClass(), TIcon::StaticClass(),
                         TBitmap::StaticClass()};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(list.Item(i).Extension, ext[i]);
    EXPECT_EQ(list.Item(i).Description, desc[i]);
    EXPECT_EQ(list.Item(i).GraphicClass, cls[i]);
    EXPECT_EQ(list.Item(i).DescriptionId, 0);
  }
}

TEST_F(FormatListTest, LookupIgnoresCaseOfTheRequest) {
  EXPECT_EQ(PictureFormats().FindFormatByExtension("BMP"), TBitmap::StaticClass());
  EXPECT_EQ(PictureFormats().FindFormatByExtension("Ico"), TIcon::StaticClass());
  EXPECT_EQ(PictureFormats().FindFormatByExtension("jpe"), nullptr);
  EXPECT_EQ(PictureFormats().FindFormatByExtension(""), nullptr);
}

TEST_F(FormatListTest, RegistrationStoresTheExtensionLowerCased) {
  TPicture::RegisterPictureFormat("FAKE", "Fake pictures", TFakeGraphic::StaticClass());
  const TFileFormat& last = PictureFormats().Item(PictureFormats().Count() - 1);
  EXPECT_EQ(last.Extension, "fake");
  EXPECT_EQ(last.Description, "Fake pictures");
  EXPECT_EQ(last.DescriptionId, 0);
}

TEST_F(FormatListTest, LaterRegistrationTakesPrecedenceUntilRemoved) {
  TPicture::RegisterPictureFormat("bmp", "Fake", TFakeGraphic::StaticClass());
  EXPECT_EQ(PictureFormats().FindFormatByExtension("bmp"), TFakeGraphic::StaticClass());
  TPicture::UnregisterGraphicClass(TFakeGraphic::StaticClass());
  EXPECT_EQ(PictureFormats().FindFormatByExtension("bmp"), TBitmap::StaticClass());
}

TEST_F(FormatListTest, RemovingAClassRemovesItsDescendantsToo) {
  const int before = PictureFormats().Count();
  TPicture::RegisterPictureFormat("fk1", "Fake", TFakeGraphic::StaticClass());
  TPicture::RegisterPictureFormat("fk2", "Fake child", TFakeChild::StaticClass());
  TPicture::RegisterClipboardFormat(0x4001, TFakeChild::StaticClass());
  TPicture::UnregisterGraphicClass(TFakeGraphic::StaticClass());
  EXPECT_EQ(PictureFormats().Count(), before);
  EXPECT_EQ(PictureFormats().FindFormatByExtension("fk2"), nullptr);
  EXPECT_EQ(FindClipboardFormat(0x4001), nullptr);
}

TEST_F(FormatListTest, RemovingADescendantKeepsItsAncestor) {
  TPicture::RegisterPictureFormat("fk1", "Fake", TFakeGraphic::StaticClass());
  TPicture::RegisterPictureFormat("fk2", "Fake child", TFakeChild::StaticClass());
  TPicture::UnregisterGraphicClass(TFakeChild::StaticClass());
  EXPECT_EQ(PictureFormats().FindFormatByExtension("fk1"), TFakeGraphic::StaticClass());
  EXPECT_EQ(PictureFormats().FindFormatByExtension("fk2"), nullptr);
}

TEST_F(FormatListTest, ClipboardTableMapsMetafilesAndBitmaps) {
  EXPECT_EQ(FindClipboardFormat(CF_METAFILEPICT), TMetafile::StaticClass());
  EXPECT_EQ(FindClipboardFormat(CF_ENHMETAFILE), TMetafile::StaticClass());
  EXPECT_EQ(FindClipboardFormat(CF_BITMAP), TBitmap::StaticClass());
  TPicture::RegisterClipboardFormat(CF_DIB, TFakeGraphic::StaticClass());
  EXPECT_EQ(FindClipboardFormat(CF_DIB), TFakeGraphic::StaticClass());
}

TEST(ClassReferenceTest, KnowsNameAncestryAndMakesInstances) {
  TGraphicClass c = TFakeChild::StaticClass();
  EXPECT_STREQ(c->ClassName(), "TFakeChild");
  EXPECT_TRUE(c->InheritsFrom(TFakeGraphic::StaticClass()));
  EXPECT_TRUE(c->InheritsFrom(TGraphic::StaticClass()));
  EXPECT_FALSE(TFakeGraphic::StaticClass()->InheritsFrom(c));
  auto g = c->NewInstance();
  EXPECT_STREQ(g->ClassName(), "TFakeChild");
  EXPECT_THROW(TGraphic::StaticClass()->NewInstance(), EInvalidGraphicOperation);
}

// ---- Names and extensions ----

TEST(PictureExtensionTest, TakesTheTextAfterTheLastDotOfTheLastName) {
  EXPECT_EQ(PictureFileExtension("C:\\Windows\\wall.BMP"), "BMP");
  EXPECT_EQ(PictureFileExtension("archive.tar.jpeg"), "jpeg");
  EXPECT_EQ(PictureFileExtension("C:\\dir.d\\noext"), "");
  EXPECT_EQ(PictureFileExtension("/home/u/pics.d/noext"), "");
  EXPECT_EQ(PictureFileExtension("C:name.bmp"), "bmp");
  EXPECT_EQ(PictureFileExtension("D:.png"), "png");
  EXPECT_EQ(PictureFileExtension("trailing."), "");
  EXPECT_EQ(PictureFileExtension("plain"), "");
}

TEST(AnsiLowerCaseTest, LowersAsciiAndTheCodePagesCapitals) {
  EXPECT_EQ(AnsiLowerCase("BmP"), "bmp");
  EXPECT_EQ(AnsiLowerCase("\xC9\xD6"), "\xE9\xF6");
  EXPECT_EQ(AnsiLowerCase("\xD7"), "\xD7");  // the multiplication sign has no lower case
  EXPECT_EQ(AnsiLowerCase("\x8A\x9F"), "\x9A\xFF");
}

// ---- LoadPictureFile ----

class LoadPictureTest : public FormatListTest {
 protected:
  std::string WriteBmp(const std::string& name) {
    const std::string path = TempPath(name);
    WriteFileBytes(path, MakeBmp24(2, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}));
    return path;
  }
};

TEST_F(LoadPictureTest, UpperCaseBmpExtensionLoadsABitmap) {
  TPicture pic;
  pic.LoadPictureFile(WriteBmp("WALL.BMP"));
  ASSERT_NE(pic.Graphic(), nullptr);
  EXPECT_STREQ(pic.Graphic()->ClassName(), "TBitmap");
  EXPECT_EQ(pic.Width(), 2);
  EXPECT_EQ(pic.Height(), 2);
}

TEST_F(LoadPictureTest, NameWithoutDotIsAnUnknownEmptyExtension) {
  TPicture pic;
  EXPECT_EQ(MessageOf([&] { pic.LoadPictureFile(TempPath("wallpaper")); }),
            "EInvalidGraphic: Unknown picture file extension (.)");
}

TEST_F(LoadPictureTest, UnknownExtensionIsQuotedAsWritten) {
  TPicture pic;
  EXPECT_EQ(MessageOf([&] { pic.LoadPictureFile("C:\\pics\\a.JPE"); }),
            "EInvalidGraphic: Unknown picture file extension (.JPE)");
}

TEST_F(LoadPictureTest, DotInAFolderNameIsNotAnExtension) {
  TPicture pic;
  EXPECT_EQ(MessageOf([&] { pic.LoadPictureFile("/tmp/pics.bmp/wallpaper"); }),
            "EInvalidGraphic: Unknown picture file extension (.)");
}

TEST_F(LoadPictureTest, JpegNamesOfBothSpellingsFindTheirFormatButJpeDoesNot) {
  TPicture::RegisterPictureFormat("jpeg", "JPEG Image File", TFakeGraphic::StaticClass());
  TPicture::RegisterPictureFormat("jpg", "JPEG Image File", TFakeGraphic::StaticClass());
  for (const char* name : {"a.JPG", "b.jpeg"}) {
    const std::string path = TempPath(name);
    WriteFileBytes(path, {'J', 'P'});
    TPicture pic;
    pic.LoadPictureFile(path);
    ASSERT_NE(pic.Graphic(), nullptr) << name;
    EXPECT_STREQ(pic.Graphic()->ClassName(), "TFakeGraphic");
  }
  TPicture pic;
  EXPECT_THROW(pic.LoadPictureFile(TempPath("c.jpe")), EInvalidGraphic);
}

TEST_F(LoadPictureTest, PngNamedBmpFailsAndKeepsTheOldPicture) {
  TPicture pic;
  pic.LoadPictureFile(WriteBmp("old.bmp"));
  TGraphic* old = pic.Graphic();
  const std::string path = TempPath("photo.bmp");
  WriteFileBytes(path, ReadFileBytes(Corpus("pngsuite/png/basn2c08.png")));
  EXPECT_EQ(MessageOf([&] { pic.LoadPictureFile(path); }), "EInvalidGraphic: Bitmap image is not valid");
  EXPECT_EQ(pic.Graphic(), old);
  EXPECT_EQ(pic.Width(), 2);
}

TEST_F(LoadPictureTest, MissingFileReportsTheOpenErrorAndKeepsTheOldPicture) {
  TPicture pic;
  pic.LoadPictureFile(WriteBmp("old.bmp"));
  TGraphic* old = pic.Graphic();
  const std::string missing = TempPath("missing.bmp");
  const std::string msg = MessageOf([&] { pic.LoadPictureFile(missing); });
  EXPECT_EQ(msg.rfind("EFOpenError: Cannot open file \"" + ExpandFileName(missing) + "\". ", 0), 0u) << msg;
  EXPECT_EQ(pic.Graphic(), old);
}

TEST_F(LoadPictureTest, SuccessfulLoadNotifiesOnceWithThePictureAsSender) {
  TPicture pic;
  CountingNotifier notifier;
  pic.Notify = &notifier;
  int changes = 0;
  void* sender = nullptr;
  pic.OnChange = [&](void* s) {
    ++changes;
    sender = s;
  };
  pic.LoadPictureFile(WriteBmp("a.bmp"));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(sender, &pic);
  EXPECT_EQ(notifier.Count, 1);
}

TEST_F(LoadPictureTest, FailedLoadDoesNotNotify) {
  TPicture pic;
  int changes = 0;
  pic.OnChange = [&](void*) { ++changes; };
  TPicture::RegisterPictureFormat("fake", "Fake", TFakeGraphic::StaticClass());
  const std::string path = TempPath("bad.fake");
  WriteFileBytes(path, {'X'});
  EXPECT_THROW(pic.LoadPictureFile(path), EInvalidGraphic);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(pic.Graphic(), nullptr);
}

TEST_F(LoadPictureTest, ProgressOfTheLoadingGraphicReachesThePicture) {
  TPicture::RegisterPictureFormat("fake", "Fake", TFakeGraphic::StaticClass());
  const std::string path = TempPath("p.fake");
  WriteFileBytes(path, {'o', 'k'});
  TPicture pic;
  std::vector<std::string> seen;
  pic.OnProgress = [&](void*, TProgressStage stage, std::uint8_t pct, bool, const TRect&,
                       const std::string& m) {
    seen.push_back(std::to_string(stage) + ":" + std::to_string(pct) + ":" + m);
  };
  pic.LoadPictureFile(path);
  EXPECT_EQ(seen, (std::vector<std::string>{"0:0:start", "2:100:end"}));
}

TEST_F(LoadPictureTest, ChangesOfTheOwnedGraphicReachThePicture) {
  TPicture pic;
  pic.LoadPictureFile(WriteBmp("a.bmp"));
  int changes = 0;
  pic.OnChange = [&](void*) { ++changes; };
  pic.Graphic()->SetTransparent(true);
  EXPECT_EQ(changes, 1);
}

// ---- Stored form data ----

TEST_F(FormatListTest, StoredDataStartsWithTheClassNameAndRoundTrips) {
  TPicture::RegisterPictureFormat("fake", "Fake", TFakeGraphic::StaticClass());
  TPicture a;
  auto g = std::make_unique<TFakeGraphic>();
  g->Data = {1, 2, 3};
  a.SetGraphic(std::move(g));
  TMemoryStream s;
  a.WriteData(s);
  const std::vector<std::uint8_t> expect = {12,  'T', 'F', 'a', 'k', 'e', 'G', 'r',
                                            'a', 'p', 'h', 'i', 'c', 1,   2,   3};
  EXPECT_EQ(s.Data(), expect);
  s.SetPosition(0);
  TPicture b;
  b.ReadData(s);
  ASSERT_NE(b.Graphic(), nullptr);
  EXPECT_TRUE(b.Graphic()->SameImage(*a.Graphic()));
}

TEST_F(FormatListTest, StoredDataOfAnUnknownClassLeavesNoGraphic) {
  TPicture pic;
  pic.SetGraphic(std::make_unique<TBitmap>());
  const std::vector<std::uint8_t> data = {5, 'T', 'N', 'o', 'n', 'e', 1, 2};
  TReadOnlyMemoryStream s(data.data(), data.size());
  pic.ReadData(s);
  EXPECT_EQ(pic.Graphic(), nullptr);
}

TEST_F(FormatListTest, StoredClassNameMatchesExactly) {
  const std::vector<std::uint8_t> data = {7, 't', 'b', 'i', 't', 'm', 'a', 'p'};
  TReadOnlyMemoryStream s(data.data(), data.size());
  TPicture pic;
  pic.ReadData(s);
  EXPECT_EQ(pic.Graphic(), nullptr);
}

TEST_F(FormatListTest, StoredDataThatTheClassRefusesRaises) {
  TPicture::RegisterPictureFormat("fake", "Fake", TFakeGraphic::StaticClass());
  const std::vector<std::uint8_t> data = {12,  'T', 'F', 'a', 'k', 'e', 'G',
                                          'r', 'a', 'p', 'h', 'i', 'c', 'X'};
  TReadOnlyMemoryStream s(data.data(), data.size());
  TPicture pic;
  EXPECT_THROW(pic.ReadData(s), EInvalidGraphic);
}

TEST_F(FormatListTest, EmptyPictureStoresAnEmptyClassName) {
  TPicture pic;
  TMemoryStream s;
  pic.WriteData(s);
  EXPECT_EQ(s.Data(), std::vector<std::uint8_t>{0});
}

TEST_F(FormatListTest, ShortStoredDataIsAReadError) {
  const std::vector<std::uint8_t> data = {9, 'T', 'B'};
  TReadOnlyMemoryStream s(data.data(), data.size());
  TPicture pic;
  EXPECT_THROW(pic.ReadData(s), EReadError);
}

// ---- Assignment and common behaviour ----

TEST_F(FormatListTest, AssigningAPictureCopiesItsGraphic) {
  TPicture a, b;
  auto g = std::make_unique<TFakeGraphic>();
  g->Data = {7};
  a.SetGraphic(std::move(g));
  b.Assign(&a);
  ASSERT_NE(b.Graphic(), nullptr);
  EXPECT_NE(b.Graphic(), a.Graphic());
  EXPECT_TRUE(b.Graphic()->SameImage(*a.Graphic()));
  b.Assign(static_cast<const TGraphic*>(nullptr));
  EXPECT_EQ(b.Graphic(), nullptr);
}

TEST_F(FormatListTest, BitmapAccessorReplacesAnotherKind) {
  TPicture pic;
  pic.SetGraphic(std::make_unique<TIcon>());
  TBitmap& b = pic.Bitmap();
  EXPECT_EQ(pic.Graphic(), &b);
  EXPECT_EQ(&pic.Bitmap(), &b);
}

TEST_F(FormatListTest, SameImageComparesKindAndStoredBytes) {
  TFakeGraphic e1, e2, a, b, c;
  TFakeChild d;
  a.Data = {1, 2};
  b.Data = {1, 2};
  c.Data = {1, 3};
  d.Data = {1, 2};
  EXPECT_TRUE(e1.SameImage(e2));
  EXPECT_FALSE(e1.SameImage(a));
  EXPECT_FALSE(a.SameImage(e1));
  EXPECT_TRUE(a.SameImage(b));
  EXPECT_FALSE(a.SameImage(c));
  EXPECT_FALSE(a.SameImage(d));
}

TEST_F(FormatListTest, TransparentFlagNotifiesOnlyWhenItChanges) {
  TFakeGraphic g;
  int changes = 0;
  g.OnChange = [&](void*) { ++changes; };
  g.SetTransparent(false);
  EXPECT_EQ(changes, 0);
  g.SetTransparent(true);
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(g.Transparent());
  EXPECT_TRUE(g.Modified());
  g.SetModified(false);
  EXPECT_FALSE(g.Modified());
  EXPECT_EQ(changes, 1);
}

TEST_F(FormatListTest, AssigningAnUnrelatedKindIsAConvertError) {
  TFakeGraphic g;
  TBitmap b;
  EXPECT_EQ(MessageOf([&] { g.Assign(&b); }), "EConvertError: Cannot assign a TBitmap to a TFakeGraphic");
}
