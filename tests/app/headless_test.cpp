// The headless run: its options, the snapshot encoder, the state dump, the stored form description and
// whole runs of the program's main function.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/Headless.h"
#include "app/PngWriter.h"
#include "app/ProgramFixture.h"
#include "app/Sprites.h"
#include "app/Unit1.h"
#include "core/FormReader.h"
#include "picture/pngimage/pngimage.h"

using namespace programtest;

namespace {

bool Parse(std::vector<std::string> args, THeadlessOptions& o, std::string& error) {
  return ParseHeadlessOptions(args, o, error);
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

}  // namespace

// ---- options ----

TEST(HeadlessOptions, NoArgumentsGiveTheDefaults) {
  THeadlessOptions o;
  std::string e;
  ASSERT_TRUE(Parse({}, o, e));
  EXPECT_FALSE(o.Headless);
  EXPECT_EQ(o.ScreenWidth, 1280);
  EXPECT_EQ(o.ScreenHeight, 720);
  EXPECT_EQ(o.ScreenBitCount, 32);
  EXPECT_EQ(o.Frames, 300);
  EXPECT_FALSE(o.HasSeed);
}

TEST(HeadlessOptions, EveryOptionIsRead) {
  THeadlessOptions o;
  std::string e;
  ASSERT_TRUE(Parse({"--headless", "--screen", "800x600x16", "--frames", "12", "--seed", "4294967301",
                     "--registry", "a.reg", "--snapshot", "s.png", "--dump-state", "d.json", "--stats"},
                    o, e))
      << e;
  EXPECT_TRUE(o.Headless);
  EXPECT_EQ(o.ScreenWidth, 800);
  EXPECT_EQ(o.ScreenHeight, 600);
  EXPECT_EQ(o.ScreenBitCount, 16);
  EXPECT_EQ(o.Frames, 12);
  EXPECT_EQ(o.Seed, 4294967301LL);
  EXPECT_EQ(o.RegistryFile, "a.reg");
  EXPECT_EQ(o.SnapshotFile, "s.png");
  EXPECT_EQ(o.DumpStateFile, "d.json");
  EXPECT_TRUE(o.Stats);
}

TEST(HeadlessOptions, BadValuesAreRefusedWithAReason) {
  for (std::vector<std::string> args : {std::vector<std::string>{"--screen", "640"},
                                        {"--screen", "0x480"},
                                        {"--screen", "640x480x12"},
                                        {"--screen", "99999x2"},
                                        {"--screen", "-640x480"},
                                        {"--frames", "-1"},
                                        {"--frames", "ten"},
                                        {"--frames"},
                                        {"--seed", "99999999999999999999"},
                                        {"--seed", "9999999999999999999"},
                                        {"--seed", "1.5"},
                                        {"--bogus"},
                                        {"--snapshot", ""},
                                        {"--density"}}) {
    THeadlessOptions o;
    std::string e;
    EXPECT_FALSE(Parse(args, o, e)) << args[0];
    EXPECT_FALSE(e.empty()) << args[0];
  }
}

TEST(HeadlessOptions, DepthsTheSnowCannotBeDrawnOnAreRefusedWithTheReason) {
  for (const char* screen : {"640x480x8", "640x480x24"}) {
    THeadlessOptions o;
    std::string e;
    EXPECT_FALSE(Parse({"--screen", screen}, o, e)) << screen;
    EXPECT_NE(e.find("nothing can be drawn"), std::string::npos) << e;
  }
}

TEST(HeadlessOptions, UsageExplainsEveryOptionAndExitStatus) {
  std::string u = HeadlessUsage();
  for (const char* opt : {"--headless", "--screen", "--frames", "--density", "--seed", "--registry",
                          "--snapshot", "--dump-state", "--stats", "--help"})
    EXPECT_NE(u.find(opt), std::string::npos) << opt;
  for (const char* status : {"  0  ", "  1  ", "  2  ", "  3  "})
    EXPECT_NE(u.find(status), std::string::npos) << status;
}

TEST(HeadlessOutputs, WritableFileIsNeitherCreatedNorChanged) {
  std::string fresh = ::testing::TempDir() + "fresh_output.png";
  std::remove(fresh.c_str());
  EXPECT_EQ(CheckWritable(fresh), "");
  EXPECT_FALSE(std::ifstream(fresh).good());
  std::string kept = WriteTempFile("kept_output.png", {'o', 'l', 'd'});
  EXPECT_EQ(CheckWritable(kept), "");
  EXPECT_EQ(ReadFile(kept), "old");
}

TEST(HeadlessOutputs, MissingFolderAndFolderAreNotWritable) {
  EXPECT_NE(CheckWritable(::testing::TempDir() + "no_such_folder/out.png"), "");
  EXPECT_NE(CheckWritable(::testing::TempDir()), "");
}

// ---- snapshot encoder ----

TEST(Snapshot, EncodedPictureDecodesToTheSamePixels) {
  plat::soft::SoftPlatform platform;
  InitPngUnit();
  std::vector<std::uint32_t> px(7 * 5);
  for (std::size_t i = 0; i < px.size(); ++i)
    px[i] = static_cast<std::uint32_t>(i * 0x0A0B0C + 0x123456) & 0xFFFFFF;
  std::vector<std::uint8_t> png = EncodePng(7, 5, px);
  int w = 0, h = 0;
  std::vector<std::uint8_t> bgra;
  ASSERT_TRUE(DecodePngToBGRA(png.data(), png.size(), w, h, bgra));
  ASSERT_EQ(w, 7);
  ASSERT_EQ(h, 5);
  for (std::size_t i = 0; i < px.size(); ++i) {
    std::uint32_t got = static_cast<std::uint32_t>(bgra[i * 4 + 2]) << 16 |
                        static_cast<std::uint32_t>(bgra[i * 4 + 1]) << 8 | bgra[i * 4];
    ASSERT_EQ(got, px[i]) << i;
  }
  DonePngUnit();
}

TEST(Snapshot, HighByteOfThePixelsIsIgnored) {
  std::vector<std::uint32_t> a = {0xFF102030, 0x00405060};
  std::vector<std::uint32_t> b = {0x00102030, 0xAB405060};
  EXPECT_EQ(EncodePng(2, 1, a), EncodePng(2, 1, b));
}

TEST(Snapshot, SizeThatDoesNotMatchThePixelsIsRefused) {
  std::vector<std::uint32_t> px(6);
  EXPECT_THROW(EncodePng(4, 2, px), Exception);
  EXPECT_THROW(EncodePng(0, 6, px), Exception);
  EXPECT_THROW(EncodePng(-2, -3, px), Exception);
}

TEST(Snapshot, UnwritableFileIsAClearError) {
  plat::soft::SoftPlatform platform;
  std::vector<std::uint32_t> px(1);
  EXPECT_THROW(SavePng(::testing::TempDir() + "no/such/dir/x.png", 1, 1, px), EFCreateError);
}

// ---- state dump ----

class StateDump : public ::testing::Test {
 protected:
  void SetUp() override { ResetSnowState(); }
  void TearDown() override { ResetSnowState(); }
};

TEST_F(StateDump, DoublesReadBackExactly) {
  WindX = 0.1 + 0.2;
  WindTargetY = 49.0 / 300;
  Flakes[3] = TFlake{-0.5, 1e-17, 1.0 / 3, 123456.789012345678, 4, 34, 33, true};
  std::string json = SnowStateJson();
  auto numberAfter = [&](const std::string& key, std::size_t from = 0) {
    std::size_t at = json.find("\"" + key + "\": ", from);
    EXPECT_NE(at, std::string::npos) << key;
    return std::strtod(json.c_str() + at + key.size() + 4, nullptr);
  };
  EXPECT_EQ(numberAfter("WindX"), WindX);
  EXPECT_EQ(numberAfter("WindTargetY"), WindTargetY);
  std::size_t rec = 0;
  for (int i = 0; i < 3; ++i) rec = json.find("{\"X\"", rec) + 1;
  rec = json.find("{\"X\"", rec);
  EXPECT_EQ(numberAfter("X", rec), -0.5);
  EXPECT_EQ(numberAfter("Y", rec), 1e-17);
  EXPECT_EQ(numberAfter("VX", rec), 1.0 / 3);
  EXPECT_EQ(numberAfter("VY", rec), 123456.789012345678);
}

TEST_F(StateDump, HasEveryKeyAndAllThousandRecords) {
  FlakeCount = 150;
  RandomSeed = 4000000000u;
  std::string json = SnowStateJson();
  for (const char* key :
       {"\"FlakeCount\": 150", "\"WindX\"", "\"WindY\"", "\"WindTargetX\"", "\"WindTargetY\"",
        "\"WindEnabled\": false", "\"RandomSeed\": 4000000000", "\"Flakes\": ["})
    EXPECT_NE(json.find(key), std::string::npos) << key;
  std::size_t records = 0;
  for (std::size_t at = json.find("\"SpriteHeight\""); at != std::string::npos;
       at = json.find("\"SpriteHeight\"", at + 1))
    ++records;
  EXPECT_EQ(records, 1000u);
  EXPECT_NE(json.find("\"Active\": false}"), std::string::npos);
}

// ---- stored form description ----

namespace {

const TReadObject* Child(const TReadObject& o, const std::string& name) {
  for (const TReadObject& c : o.children)
    if (c.name == name) return &c;
  return nullptr;
}

}  // namespace

TEST(StoredForm, SpriteBlocksAreTheGeneratorsOutput) {
  TReadObject form = ParseFormText(Form1Text());
  const TReadObject* list = Child(form, "DXImageList1");
  ASSERT_NE(list, nullptr);
  const TReadProperty* items = nullptr;
  for (const TReadProperty& p : list->props)
    if (p.name == "Items") items = &p;
  ASSERT_NE(items, nullptr);
  ASSERT_EQ(items->value.items.size(), 9u);
  for (int i = 1; i <= 8; ++i) {
    const TReadValue* data = nullptr;
    for (const TReadProperty& p : items->value.items[static_cast<std::size_t>(i)].props)
      if (p.name == "Picture.Data") data = &p.value;
    ASSERT_NE(data, nullptr) << i;
    EXPECT_TRUE(data->data == SpriteFormData(MakeSprite(i))) << "sprite " << i;
  }
}

class StoredFormRead : public ProgramFixture {};

TEST_F(StoredFormRead, ComponentsCarryTheirStoredValues) {
  Start();
  EXPECT_EQ(Form1->BorderStyle(), TFormBorderStyle::bsNone);
  EXPECT_EQ(Form1->Caption(), "Kirno Desktop");
  TDXDraw* d = Form1->DXDraw1;
  EXPECT_FALSE(d->AutoInitialize());
  EXPECT_TRUE(d->AutoSize());
  EXPECT_EQ(d->Anchors(), akLeft | akTop | akRight | akBottom);
  EXPECT_EQ(d->Color(), clNone);
  EXPECT_EQ(d->Options(), (TDXDrawOptions{doWaitVBlank, doDirectX7Mode, do3D, doHardware, doAllowReboot,
                                          doCenter, doSelectDriver}));
  EXPECT_EQ(d->Display().Width(), 1024);
  EXPECT_EQ(d->Display().Height(), 768);
  EXPECT_EQ(d->Display().BitCount(), 24);
  EXPECT_FALSE(d->Display().FixedBitCount());
  EXPECT_TRUE(d->Display().FixedRatio());
  EXPECT_TRUE(d->Display().FixedSize());
  EXPECT_EQ(d->PopupMenu(), Form1->PopupMenu1);
  EXPECT_EQ(Form1->DXImageList1->DXDraw(), d);
  EXPECT_FALSE(Form1->DXTimer2->ActiveOnly());
  EXPECT_EQ(Form1->DXTimer2->Interval(), 5u);
}

TEST_F(StoredFormRead, PictureListHoldsTheBackgroundAndEightSprites) {
  Start();
  TPictureCollection& items = Form1->DXImageList1->Items();
  ASSERT_EQ(items.Count(), 9);
  EXPECT_EQ(items.Items(0)->Name(), "backgr");
  EXPECT_EQ(items.Items(0)->TransparentColor(), clBlack);
  const int sizes[9][2] = {{8, 8},   {32, 43}, {10, 10}, {21, 32}, {34, 33},
                           {14, 19}, {14, 20}, {18, 28}, {15, 19}};
  for (int i = 0; i < 9; ++i) {
    TPictureCollectionItem* it = items.Items(i);
    EXPECT_EQ(it->Width(), sizes[i][0]) << i;
    EXPECT_EQ(it->Height(), sizes[i][1]) << i;
    EXPECT_FALSE(it->Transparent()) << i;
    EXPECT_EQ(it->SystemMemory(), i <= 5) << i;
    EXPECT_EQ(it->PatternWidth(), 0) << i;
    if (i > 0) {
      EXPECT_EQ(it->Name(), "") << i;
      EXPECT_EQ(it->TransparentColor(), clWhite) << i;
      EXPECT_STREQ(it->Picture().Graphic()->ClassName(), "TDIB") << i;
    }
  }
}

TEST_F(StoredFormRead, DensityItemsFormOneRadioGroup) {
  Start();
  for (TMenuItem* m : {Form1->Veryfew1, Form1->Few1, Form1->Medium1, Form1->Many1, Form1->Snowstorm1}) {
    EXPECT_TRUE(m->RadioItem()) << m->Caption();
    EXPECT_EQ(m->GroupIndex(), 1) << m->Caption();
    EXPECT_EQ(m->Parent(), Form1->Snowflakes1) << m->Caption();
  }
  EXPECT_FALSE(Form1->Wind1->RadioItem());
  EXPECT_TRUE(Form1->N1->IsLine());
}

// ---- whole runs ----

class WholeRun : public ::testing::Test {
 protected:
  std::string Path(const char* name) { return ::testing::TempDir() + name; }
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), "desktop-snow");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    int rc = DesktopSnowMain(static_cast<int>(argv.size()), argv.data());
    ResetSnowState();
    return rc;
  }
  std::string RegistryFile() {
    std::string bmp = WriteTempFile("run_wallpaper.bmp", SolidBmp(16, 9, 0x305070));
    std::string escaped;
    for (char c : bmp) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"
        "\"WallPaper\"=\"" +
        escaped + "\"\r\n";
    return WriteTempFile("run.reg", std::vector<std::uint8_t>(text.begin(), text.end()));
  }
};

TEST_F(WholeRun, SameSeedAndOptionsGiveIdenticalSnapshotsAndStates) {
  std::string reg = RegistryFile();
  std::vector<std::string> common = {"--headless", "--screen", "160x120",    "--frames", "25",
                                     "--seed",     "99",       "--registry", reg};
  auto with = [&](const char* png, const char* json) {
    std::vector<std::string> a = common;
    a.insert(a.end(), {"--snapshot", Path(png), "--dump-state", Path(json)});
    return a;
  };
  ASSERT_EQ(Run(with("a.png", "a.json")), 0);
  ASSERT_EQ(Run(with("b.png", "b.json")), 0);
  std::string pa = ReadFile(Path("a.png")), ja = ReadFile(Path("a.json"));
  EXPECT_FALSE(pa.empty());
  EXPECT_NE(ja.find("\"FlakeCount\": 300"), std::string::npos);
  EXPECT_EQ(pa, ReadFile(Path("b.png")));
  EXPECT_EQ(ja, ReadFile(Path("b.json")));
}

TEST_F(WholeRun, StatsReportTheFirstFrameAndThePeakMemory) {
  std::string reg = RegistryFile();
  ::testing::internal::CaptureStdout();
  const int rc = Run({"--headless", "--screen", "160x120", "--frames", "3", "--registry", reg, "--stats"});
  const std::string out = ::testing::internal::GetCapturedStdout();
  ASSERT_EQ(rc, 0);
  EXPECT_NE(out.find("Drew 3 frames"), std::string::npos) << out;
  double ms = -1, mb = -1;
  const std::size_t at = out.find("First frame after");
  ASSERT_NE(at, std::string::npos) << out;
  ASSERT_EQ(std::sscanf(out.c_str() + at, "First frame after %lf ms; peak memory %lf MB", &ms, &mb), 2)
      << out;
  EXPECT_GT(ms, 0);
  EXPECT_GT(mb, 1);
}

TEST_F(WholeRun, StatsOfARunWithoutFramesSayNoFrameWasDrawn) {
  std::string reg = RegistryFile();
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(Run({"--headless", "--screen", "160x120", "--frames", "0", "--registry", reg, "--stats"}), 0);
  EXPECT_NE(::testing::internal::GetCapturedStdout().find("No frame drawn; peak memory"), std::string::npos);
}

TEST_F(WholeRun, UnreadableRegistryFileEndsWithAnErrorCode) {
  EXPECT_EQ(Run({"--headless", "--frames", "1", "--registry", Path("missing.reg")}), 2);
}

TEST_F(WholeRun, BadOptionEndsWithUsageErrorCode) {
  EXPECT_EQ(Run({"--frames", "many"}), 2);
}

TEST_F(WholeRun, ErrorBoxEndsTheRunWithStatusThreeAndItsTextOnStandardError) {
  std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n"
      "\"WallPaper\"=\"\"\r\n";
  std::string reg = WriteTempFile("empty.reg", std::vector<std::uint8_t>(text.begin(), text.end()));
  std::remove(Path("after_box.png").c_str());
  ::testing::internal::CaptureStderr();
  int rc = Run({"--headless", "--screen", "64x48", "--frames", "3", "--registry", reg, "--snapshot",
                Path("after_box.png")});
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(rc, 3);
  EXPECT_NE(err.find("[Kirno Desktop Snow] "), std::string::npos) << err;
  EXPECT_FALSE(ReadFile(Path("after_box.png")).empty()) << "the outputs are still written";
}

TEST_F(WholeRun, UnwritableOutputIsRefusedBeforeAnyFrame) {
  std::string reg = RegistryFile();
  for (const char* option : {"--snapshot", "--dump-state"}) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    int rc = Run({"--headless", "--frames", "3", "--registry", reg, option, Path("no_such_folder/out")});
    std::string out = ::testing::internal::GetCapturedStdout();
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, 2) << option;
    EXPECT_EQ(out.find("Drew"), std::string::npos) << option << ": no frame may be drawn";
    EXPECT_NE(err.find(std::string(option) + ": cannot write"), std::string::npos) << err;
  }
}

TEST_F(WholeRun, DensityIsChosenFromTheMenuBeforeTheFirstFrame) {
  std::string reg = RegistryFile();
  ASSERT_EQ(Run({"--headless", "--screen", "160x120", "--frames", "1", "--registry", reg, "--density",
                 "snow STORM", "--dump-state", Path("storm.json")}),
            0);
  std::string state = ReadFile(Path("storm.json"));
  EXPECT_NE(state.find("\"FlakeCount\": 1000"), std::string::npos);
  // Records 300 and up were filled by the menu choice and have drawn one frame since.
  EXPECT_EQ(state.find("\"Active\": false"), std::string::npos);
}

TEST_F(WholeRun, UnknownDensityNamesTheChoices) {
  ::testing::internal::CaptureStderr();
  int rc = Run({"--headless", "--frames", "1", "--registry", RegistryFile(), "--density", "Blizzard"});
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(rc, 2);
  EXPECT_NE(err.find("\"Very few\", \"Few\", \"Medium\", \"Many\", \"Snow storm\""), std::string::npos)
      << err;
}

// ---- the bundled wallpaper, found from the program's own place ----

class BundledWallpaperLookup : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() /
            ("ds_bundled_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(root_);
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  std::filesystem::path Touch(const std::filesystem::path& rel) {
    std::filesystem::path p = root_ / rel;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p) << "x";
    return p;
  }
  std::string Canonical(const std::filesystem::path& p) { return std::filesystem::canonical(p).string(); }

  std::filesystem::path root_;
};

TEST_F(BundledWallpaperLookup, InstalledProgramFindsTheSharedPicture) {
  const auto program = Touch("usr/bin/desktop-snow");
  const auto picture = Touch("usr/share/desktop-snow/wallpaper.jpg");
  EXPECT_EQ(Canonical(picture), BundledWallpaper(program.string()));
}

TEST_F(BundledWallpaperLookup, ProgramInTheBuildTreeFindsTheSourceTreesPicture) {
  const auto program = Touch("src/build/release/desktop-snow");
  const auto picture = Touch("src/assets/wallpaper.jpg");
  EXPECT_EQ(Canonical(picture), BundledWallpaper(program.string()));
}

#ifndef _WIN32
TEST_F(BundledWallpaperLookup, ProgramStartedByItsBareNameIsFoundOnThePath) {
  const auto program = Touch("opt/snow/bin/desktop-snow");
  const auto picture = Touch("opt/snow/share/desktop-snow/wallpaper.jpg");
  const char* old = std::getenv("PATH");
  const std::string saved = old ? old : "";
  setenv("PATH", ("/nonexistent:" + program.parent_path().string()).c_str(), 1);
  const std::string found = BundledWallpaper("desktop-snow");
  setenv("PATH", saved.c_str(), 1);
  EXPECT_EQ(Canonical(picture), found);
}
#endif
