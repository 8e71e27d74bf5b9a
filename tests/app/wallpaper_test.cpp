// Reading the wallpaper's registry value and what the user sees when the wallpaper cannot be loaded.
#include <gtest/gtest.h>

#include <functional>

#include "app/ProgramFixture.h"
#include "platform/System.h"
#include "platform/common/SoftSystem.h"

using namespace programtest;

namespace {

const char* const kKey = "Control Panel\\Desktop";

std::vector<plat::BYTE> Bytes(const std::string& s) {
  return std::vector<plat::BYTE>(s.begin(), s.end());
}

// The registry service alone, with the wallpaper key present.
class RegistryRead : public ::testing::Test {
 protected:
  RegistryRead() { reg().CreateKey(plat::HKEY_CURRENT_USER, kKey); }
  plat::soft::SoftRegistry& reg() { return platform_.registry(); }
  RegistryValue Read(const std::string& name = "WallPaper") {
    return ReadRegistryValue(plat::HKEY_CURRENT_USER, "\\Control Panel\\Desktop", name);
  }
  std::string ReadError(const std::string& name = "WallPaper") {
    try {
      Read(name);
    } catch (const ERegistryException& e) {
      return e.Message;
    }
    return "(no error)";
  }
  void Set(plat::DWORD type, const std::string& data) {
    reg().SetValue(plat::HKEY_CURRENT_USER, kKey, "WallPaper", type, Bytes(data));
  }

 private:
  plat::soft::SoftPlatform platform_;
};

}  // namespace

// ---- value kinds ----

TEST_F(RegistryRead, StringIsTakenUpToItsFirstZero) {
  Set(plat::REG_SZ, std::string("C:\\snow.bmp\0tail\0", 17));
  RegistryValue v = Read();
  EXPECT_EQ(v.kind, RegistryValue::Kind::Text);
  EXPECT_EQ(v.ToText(), "C:\\snow.bmp");
}

TEST_F(RegistryRead, ExpandableStringIsReturnedLiterally) {
  Set(plat::REG_EXPAND_SZ, std::string("%USERPROFILE%\\snow.bmp\0", 23));
  EXPECT_EQ(Read().ToText(), "%USERPROFILE%\\snow.bmp");
}

TEST_F(RegistryRead, EmptyStringGivesEmptyText) {
  Set(plat::REG_SZ, std::string());
  RegistryValue v = Read();
  EXPECT_EQ(v.kind, RegistryValue::Kind::Text);
  EXPECT_EQ(v.ToText(), "");
}

TEST_F(RegistryRead, NumberBecomesItsDecimalText) {
  reg().SetDword(plat::HKEY_CURRENT_USER, kKey, "WallPaper", 42);
  RegistryValue v = Read();
  EXPECT_EQ(v.kind, RegistryValue::Kind::Integer);
  EXPECT_EQ(v.integer, 42);
  EXPECT_EQ(v.ToText(), "42");
}

TEST_F(RegistryRead, NumberIsSigned) {
  reg().SetDword(plat::HKEY_CURRENT_USER, kKey, "WallPaper", 0xFFFFFFFBu);
  EXPECT_EQ(Read().ToText(), "-5");
}

TEST_F(RegistryRead, BinaryKeepsEveryByteIncludingZeros) {
  Set(plat::REG_BINARY, std::string("a\0b\0\0", 5));
  RegistryValue v = Read();
  EXPECT_EQ(v.kind, RegistryValue::Kind::Bytes);
  EXPECT_EQ(v.ToText(), std::string("a\0b\0\0", 5));
}

TEST_F(RegistryRead, EmptyBinaryIsAnEmptyByteString) {
  Set(plat::REG_BINARY, std::string());
  RegistryValue v = Read();
  EXPECT_EQ(v.kind, RegistryValue::Kind::Bytes);
  EXPECT_EQ(v.ToText(), "");
}

// ---- failures ----

TEST_F(RegistryRead, MissingValueFailsWithTheCannotReadKeyText) {
  EXPECT_EQ(ReadError(), "The configuration registry key could not be read");
}

TEST_F(RegistryRead, UnsupportedTypesFailWithTheCannotReadKeyText) {
  for (plat::DWORD type : {plat::REG_MULTI_SZ, plat::REG_QWORD, plat::REG_NONE, plat::REG_DWORD_BIG_ENDIAN}) {
    Set(type, std::string("x\0\0\0\0\0\0\0", 8));
    EXPECT_EQ(ReadError(), plat::SysErrorMessage(1012)) << type;
  }
}

TEST_F(RegistryRead, MissingKeyFailsWithTheSystemTextOfTheLastError) {
  reg().DeleteKey(plat::HKEY_CURRENT_USER, kKey);
  EXPECT_EQ(ReadError(), "The system cannot find the file specified");
}

TEST_F(RegistryRead, AccessMasksAreTriedInOrderOnThePathWithoutItsBackslash) {
  Set(plat::REG_SZ, std::string("x.bmp\0", 6));
  reg().RefuseOpen(0x20019);
  reg().RefuseOpen(0x20009);
  reg().ClearRecords();
  EXPECT_EQ(Read().ToText(), "x.bmp");
  const auto& opens = reg().OpenAttempts();
  ASSERT_EQ(opens.size(), 3u);
  EXPECT_EQ(opens[0].samDesired, 0x20019u);
  EXPECT_EQ(opens[1].samDesired, 0x20009u);
  EXPECT_EQ(opens[2].samDesired, 0x0001u);
  EXPECT_EQ(opens[0].subKey, "Control Panel\\Desktop");
}

TEST_F(RegistryRead, KeyThatRefusesEveryMaskFailsWithTheRefusalText) {
  Set(plat::REG_SZ, std::string("x.bmp\0", 6));
  for (plat::REGSAM m : {0x20019u, 0x20009u, 0x0001u}) reg().RefuseOpen(m);
  EXPECT_EQ(ReadError(), "Access is denied");
}

TEST_F(RegistryRead, FailingDataReadNamesTheValue) {
  Set(plat::REG_SZ, std::string("x.bmp\0", 6));
  reg().FailDataRead("WallPaper");
  EXPECT_EQ(ReadError(), "Failed to get data for 'WallPaper'");
}

TEST_F(RegistryRead, FailingNumberReadNamesTheValue) {
  reg().SetDword(plat::HKEY_CURRENT_USER, kKey, "WallPaper", 1);
  reg().FailDataRead("WallPaper");
  EXPECT_EQ(ReadError(), "Failed to get data for 'WallPaper'");
}

TEST_F(RegistryRead, ValueChangingTypeBeforeTheReadIsAnInvalidType) {
  Set(plat::REG_SZ, std::string("x.bmp\0", 6));
  reg().ReplaceBeforeDataRead("WallPaper", {plat::REG_BINARY, Bytes("x.bmp")});
  EXPECT_EQ(ReadError(), "Invalid data type for 'WallPaper'");
}

TEST_F(RegistryRead, BinaryWhoseSizeCannotBeQueriedFailsAsUnreadable) {
  Set(plat::REG_BINARY, "abc");
  reg().FailInfoQueries("WallPaper", 1);
  EXPECT_EQ(ReadError(), plat::SysErrorMessage(1012));
}

TEST_F(RegistryRead, ReadingLeavesTheRegistryAsItWasAndClosesTheKey) {
  Set(plat::REG_SZ, std::string("x.bmp\0", 6));
  std::string before = reg().Dump();
  Read();
  ReadError("Missing");
  reg().FailDataRead("WallPaper");
  ReadError();
  EXPECT_EQ(reg().Dump(), before);
  EXPECT_EQ(reg().OpenKeyCount(), 0u);
}

// ---- the program with a wallpaper that cannot be loaded ----

namespace {

struct BadWallpaper {
  const char* name;
  std::function<void(plat::soft::SoftRegistry&)> set;
};

class WallpaperFailure : public ProgramFixture, public ::testing::WithParamInterface<BadWallpaper> {};

}  // namespace

TEST_P(WallpaperFailure, ShowsOneErrorThenNoFramesWhileTheMenuAndExitStillWork) {
  MakePlatform();
  GetParam().set(registry());
  Start();
  ASSERT_EQ(windows().MessageBoxes().size(), 1u);
  EXPECT_EQ(windows().MessageBoxes()[0].caption, "Kirno Desktop Snow");
  EXPECT_EQ(windows().MessageBoxes()[0].type & plat::MB_ICONMASK, plat::MB_ICONERROR);
  EXPECT_FALSE(Form1->DXTimer2->Enabled());
  EXPECT_FALSE(Form1->DXDraw1->Initialized());
  EXPECT_FALSE(WindEnabled);
  EXPECT_FALSE(Flakes[0].Active);

  EXPECT_EQ(Frames(5), 0);
  Choose(Form1->Snowstorm1);
  EXPECT_EQ(FlakeCount, 1000);
  EXPECT_FALSE(Flakes[0].Active) << "nothing is filled while no frame can come";
  Choose(Form1->Exit1);
  EXPECT_TRUE(Application->Terminated());
  EXPECT_EQ(windows().MessageBoxes().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    EachCause, WallpaperFailure,
    ::testing::Values(BadWallpaper{"MissingKey",
                                   [](plat::soft::SoftRegistry& r) {
                                     r.DeleteKey(plat::HKEY_CURRENT_USER, "Control Panel");
                                   }},
                      BadWallpaper{"MissingValue",
                                   [](plat::soft::SoftRegistry& r) {
                                     r.DeleteValue(plat::HKEY_CURRENT_USER, kKey, "WallPaper");
                                   }},
                      BadWallpaper{"MultiString",
                                   [](plat::soft::SoftRegistry& r) {
                                     r.SetValue(plat::HKEY_CURRENT_USER, kKey, "WallPaper",
                                                plat::REG_MULTI_SZ, Bytes(std::string("a.bmp\0\0", 7)));
                                   }},
                      BadWallpaper{"EmptyPath",
                                   [](plat::soft::SoftRegistry& r) {
                                     r.SetString(plat::HKEY_CURRENT_USER, kKey, "WallPaper", "");
                                   }},
                      BadWallpaper{"UnexpandedReference",
                                   [](plat::soft::SoftRegistry& r) {
                                     r.SetString(plat::HKEY_CURRENT_USER, kKey, "WallPaper",
                                                 "%WINDIR%\\snow_none.bmp", plat::REG_EXPAND_SZ);
                                   }},
                      BadWallpaper{"NumberPath",
                                   [](plat::soft::SoftRegistry& r) {
                                     r.SetDword(plat::HKEY_CURRENT_USER, kKey, "WallPaper", 42);
                                   }},
                      BadWallpaper{"MissingFile",
                                   [](plat::soft::SoftRegistry& r) {
                                     r.SetString(plat::HKEY_CURRENT_USER, kKey, "WallPaper",
                                                 ::testing::TempDir() + "no_such_wallpaper.bmp");
                                   }},
                      BadWallpaper{"UnknownExtension",
                                   [](plat::soft::SoftRegistry& r) {
                                     r.SetString(plat::HKEY_CURRENT_USER, kKey, "WallPaper",
                                                 WriteTempFile("wallpaper.xyz", SolidBmp(2, 2, 0)));
                                   }},
                      BadWallpaper{"UnreadableBitmap",
                                   [](plat::soft::SoftRegistry& r) {
                                     r.SetString(
                                         plat::HKEY_CURRENT_USER, kKey, "WallPaper",
                                         WriteTempFile("broken.bmp", Bytes("BM this is not a bitmap")));
                                   }}),
    [](const ::testing::TestParamInfo<BadWallpaper>& info) { return std::string(info.param.name); });

TEST_F(ProgramFixture, MissingKeyReportsTheSystemTextWithAFullStop) {
  MakePlatform();
  registry().DeleteKey(plat::HKEY_CURRENT_USER, "Control Panel");
  Start();
  ASSERT_EQ(windows().MessageBoxes().size(), 1u);
  EXPECT_EQ(windows().MessageBoxes()[0].text, "The system cannot find the file specified.");
}

TEST_F(ProgramFixture, BitmapWallpaperInABinaryValueLoads) {
  MakePlatform();
  std::string path = WriteTempFile("binary_named.bmp", SolidBmp(4, 4, 0x112233));
  registry().SetValue(plat::HKEY_CURRENT_USER, kKey, "WallPaper", plat::REG_BINARY, Bytes(path));
  Start();
  EXPECT_TRUE(windows().MessageBoxes().empty());
  EXPECT_EQ(Form1->DXImageList1->Items().Items(0)->Width(), 4);
}
