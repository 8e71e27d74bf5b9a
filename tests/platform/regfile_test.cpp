// Loading registry export files into the soft registry.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/common/RegFile.h"
#include "platform/common/SoftRegistry.h"

using namespace plat;
using namespace plat::soft;

namespace {

const char kV5[] = "Windows Registry Editor Version 5.00\r\n\r\n";
const char kDesktop[] = "Control Panel\\Desktop";

std::vector<BYTE> Bytes(const std::string& s) {
  return std::vector<BYTE>(s.begin(), s.end());
}

std::string Utf16Le(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

class RegFileTest : public ::testing::Test {
 protected:
  RegValue Value(const std::string& path, const std::string& name) {
    auto v = reg_.GetValue(HKEY_CURRENT_USER, path, name);
    EXPECT_TRUE(v.has_value()) << path << " " << name;
    return v ? *v : RegValue{};
  }

  // The error text of a file that must be rejected; also checks that nothing was loaded.
  std::string Reject(const std::string& text) {
    const std::string before = reg_.Dump();
    try {
      LoadRegFile(reg_, text);
    } catch (const RegFileError& e) {
      EXPECT_EQ(before, reg_.Dump());
      return e.what();
    }
    ADD_FAILURE() << "file accepted";
    return std::string();
  }

  SoftRegistry reg_;
};

// ---- headers and encodings ----

TEST_F(RegFileTest, Version5HeaderLoadsString) {
  LoadRegFile(reg_, std::string(kV5) +
                        "[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n\"WallPaper\"=\"C:\\\\w.bmp\"\r\n");
  EXPECT_EQ((RegValue{REG_SZ, Bytes(std::string("C:\\w.bmp") + '\0')}), Value(kDesktop, "WallPaper"));
}

TEST_F(RegFileTest, Regedit4HeaderLoadsString) {
  LoadRegFile(reg_, "REGEDIT4\n\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n\"WallPaper\"=\"a\"\n");
  EXPECT_EQ((RegValue{REG_SZ, {'a', 0}}), Value(kDesktop, "WallPaper"));
}

TEST_F(RegFileTest, Utf16LeFileWithBomLoads) {
  LoadRegFile(reg_, Utf16Le(std::string(kV5) + "[HKEY_CURRENT_USER\\K]\r\n\"S\"=\"hi\"\r\n"));
  EXPECT_EQ((RegValue{REG_SZ, {'h', 'i', 0}}), Value("K", "S"));
}

TEST_F(RegFileTest, Utf16TextBecomesUtf8) {
  std::string file = Utf16Le(std::string(kV5) + "[HKCU\\K]\r\n\"S\"=\"");
  file += std::string("\xE9\x00", 2);  // e acute
  file += Utf16Le("\"\r\n").substr(2);
  LoadRegFile(reg_, file);
  EXPECT_EQ((RegValue{REG_SZ, {0xC3, 0xA9, 0}}), Value("K", "S"));
}

TEST_F(RegFileTest, Utf8BomIsSkipped) {
  LoadRegFile(reg_, "\xEF\xBB\xBFREGEDIT4\n[HKCU\\K]\n\"S\"=\"x\"\n");
  EXPECT_EQ((RegValue{REG_SZ, {'x', 0}}), Value("K", "S"));
}

TEST_F(RegFileTest, Utf16FileWithOddLengthIsRejected) {
  EXPECT_NE(std::string::npos, Reject(Utf16Le("REGEDIT4\r\n") + "x").find("inside a UTF-16 character"));
}

TEST_F(RegFileTest, MissingHeaderIsRejectedNamingLine) {
  EXPECT_EQ(0u, Reject("\n[HKCU\\K]\n").find("line 2: not a registry file"));
}

TEST_F(RegFileTest, EmptyFileIsRejected) {
  EXPECT_NE(std::string::npos, Reject("").find("empty"));
}

// ---- value types ----

TEST_F(RegFileTest, DwordIsStoredLittleEndian) {
  LoadRegFile(reg_, std::string(kV5) + "[HKCU\\K]\n\"N\"=dword:0000002a\n\"M\"=DWORD:FFFFFFFF\n");
  EXPECT_EQ((RegValue{REG_DWORD, {0x2A, 0, 0, 0}}), Value("K", "N"));
  EXPECT_EQ((RegValue{REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}}), Value("K", "M"));
}

TEST_F(RegFileTest, HexIsBinary) {
  LoadRegFile(reg_, std::string(kV5) + "[HKCU\\K]\n\"B\"=hex:00,ff,7a\n\"E\"=hex:\n");
  EXPECT_EQ((RegValue{REG_BINARY, {0, 0xFF, 0x7A}}), Value("K", "B"));
  EXPECT_EQ((RegValue{REG_BINARY, {}}), Value("K", "E"));
}

TEST_F(RegFileTest, HexTypeZeroAndBigEndianAndQwordKeepBytes) {
  LoadRegFile(reg_, std::string(kV5) +
                        "[HKCU\\K]\n\"N\"=hex(0):01\n\"D\"=hex(5):00,00,00,2a\n"
                        "\"Q\"=hex(b):01,02,03,04,05,06,07,08\n\"R\"=hex(4):2a,00,00,00\n");
  EXPECT_EQ((RegValue{REG_NONE, {1}}), Value("K", "N"));
  EXPECT_EQ((RegValue{REG_DWORD_BIG_ENDIAN, {0, 0, 0, 0x2A}}), Value("K", "D"));
  EXPECT_EQ((RegValue{REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}}), Value("K", "Q"));
  EXPECT_EQ((RegValue{REG_DWORD, {0x2A, 0, 0, 0}}), Value("K", "R"));
}

TEST_F(RegFileTest, Version5ExpandStringConvertsFromUtf16) {
  LoadRegFile(reg_, std::string(kV5) + "[HKCU\\K]\n\"X\"=hex(2):25,00,57,00,25,00,00,00\n");
  EXPECT_EQ((RegValue{REG_EXPAND_SZ, {'%', 'W', '%', 0}}), Value("K", "X"));
}

TEST_F(RegFileTest, Version5MultiStringConvertsFromUtf16KeepingZeros) {
  LoadRegFile(reg_, std::string(kV5) + "[HKCU\\K]\n\"M\"=hex(7):61,00,00,00,62,00,00,00,00,00\n");
  EXPECT_EQ((RegValue{REG_MULTI_SZ, {'a', 0, 'b', 0, 0}}), Value("K", "M"));
}

TEST_F(RegFileTest, Regedit4ExpandStringKeepsBytes) {
  LoadRegFile(reg_, "REGEDIT4\n[HKCU\\K]\n\"X\"=hex(2):25,57,25,00\n\"M\"=hex(7):61,00,00\n");
  EXPECT_EQ((RegValue{REG_EXPAND_SZ, {'%', 'W', '%', 0}}), Value("K", "X"));
  EXPECT_EQ((RegValue{REG_MULTI_SZ, {'a', 0, 0}}), Value("K", "M"));
}

TEST_F(RegFileTest, DefaultValueUsesAt) {
  LoadRegFile(reg_, std::string(kV5) + "[HKCU\\K]\n@=\"d\"\n");
  EXPECT_EQ((RegValue{REG_SZ, {'d', 0}}), Value("K", ""));
}

// ---- syntax ----

TEST_F(RegFileTest, EscapesInNamesAndStrings) {
  LoadRegFile(reg_, std::string(kV5) + "[HKCU\\K]\n\"a\\\"b\"=\"x\\\\y\\\"z\"\n");
  EXPECT_EQ((RegValue{REG_SZ, Bytes(std::string("x\\y\"z") + '\0')}), Value("K", "a\"b"));
}

TEST_F(RegFileTest, ContinuationJoinsHexLinesIgnoringLeadingSpaces) {
  LoadRegFile(reg_, std::string(kV5) +
                        "[HKCU\\K]\r\n\"B\"=hex:01,02,\\\r\n  03,04,\\\r\n    05\r\n\"C\"=dword:1\r\n");
  EXPECT_EQ((RegValue{REG_BINARY, {1, 2, 3, 4, 5}}), Value("K", "B"));
  EXPECT_EQ((RegValue{REG_DWORD, {1, 0, 0, 0}}), Value("K", "C"));
}

TEST_F(RegFileTest, CommentsAndBlankLinesAreSkipped) {
  LoadRegFile(reg_, std::string(kV5) + "; a comment\n\n[HKCU\\K]\n   ; indented comment\n\n\"N\"=dword:2\n");
  EXPECT_EQ((RegValue{REG_DWORD, {2, 0, 0, 0}}), Value("K", "N"));
}

TEST_F(RegFileTest, ShortAndFullRootNamesAreEquivalent) {
  LoadRegFile(reg_, std::string(kV5) +
                        "[HKCU\\A]\n\"N\"=dword:1\n[hkey_local_machine\\B]\n\"N\"=dword:2\n[HKLM\\C]\n"
                        "[HKCR\\D]\n[HKU\\E]\n[HKEY_USERS\\F]\n[HKCC\\G]\n");
  EXPECT_TRUE(reg_.KeyExists(HKEY_CURRENT_USER, "A"));
  EXPECT_TRUE(reg_.KeyExists(HKEY_LOCAL_MACHINE, "B"));
  EXPECT_TRUE(reg_.KeyExists(HKEY_LOCAL_MACHINE, "C"));
  EXPECT_TRUE(reg_.KeyExists(HKEY_CLASSES_ROOT, "D"));
  EXPECT_TRUE(reg_.KeyExists(HKEY_USERS, "E"));
  EXPECT_TRUE(reg_.KeyExists(HKEY_USERS, "F"));
  EXPECT_TRUE(reg_.KeyExists(HKEY_CURRENT_CONFIG, "G"));
}

TEST_F(RegFileTest, KeySectionWithoutValuesCreatesKey) {
  LoadRegFile(reg_, std::string(kV5) + "[HKCU\\A\\B\\C]\n");
  EXPECT_TRUE(reg_.KeyExists(HKEY_CURRENT_USER, "A\\B\\C"));
}

TEST_F(RegFileTest, LfOnlyAndNoFinalNewlineAreAccepted) {
  LoadRegFile(reg_, "REGEDIT4\n[HKCU\\K]\n\"N\"=dword:3");
  EXPECT_EQ((RegValue{REG_DWORD, {3, 0, 0, 0}}), Value("K", "N"));
}

// ---- deletion ----

TEST_F(RegFileTest, MinusKeyDeletesWholeSubtree) {
  reg_.SetDword(HKEY_CURRENT_USER, "A\\B", "N", 1);
  reg_.SetDword(HKEY_CURRENT_USER, "Z", "N", 1);
  LoadRegFile(reg_, std::string(kV5) + "[-HKEY_CURRENT_USER\\A]\n");
  EXPECT_FALSE(reg_.KeyExists(HKEY_CURRENT_USER, "A"));
  EXPECT_TRUE(reg_.KeyExists(HKEY_CURRENT_USER, "Z"));
}

TEST_F(RegFileTest, ValuesUnderDeletedKeyAreIgnored) {
  LoadRegFile(reg_, std::string(kV5) + "[-HKCU\\A]\n\"N\"=dword:1\n");
  EXPECT_FALSE(reg_.KeyExists(HKEY_CURRENT_USER, "A"));
}

TEST_F(RegFileTest, MinusValueDeletesValue) {
  reg_.SetDword(HKEY_CURRENT_USER, "K", "N", 1);
  reg_.SetDword(HKEY_CURRENT_USER, "K", "", 1);
  LoadRegFile(reg_, std::string(kV5) + "[HKCU\\K]\n\"n\"=-\n@=-\n");
  EXPECT_FALSE(reg_.GetValue(HKEY_CURRENT_USER, "K", "N"));
  EXPECT_FALSE(reg_.GetValue(HKEY_CURRENT_USER, "K", ""));
}

TEST_F(RegFileTest, LaterLinesOverrideEarlierOnesInOrder) {
  LoadRegFile(reg_, std::string(kV5) + "[HKCU\\K]\n\"N\"=dword:1\n\"N\"=-\n\"N\"=dword:2\n");
  EXPECT_EQ((RegValue{REG_DWORD, {2, 0, 0, 0}}), Value("K", "N"));
}

// ---- malformed files ----

struct BadLine {
  const char* body;  // after the header line and "[HKCU\K]" on line 2
  int line;
  const char* what;
};

class RegFileMalformed : public RegFileTest, public ::testing::WithParamInterface<BadLine> {};

TEST_P(RegFileMalformed, RejectedNamingLineAndLoadingNothing) {
  std::string msg = Reject(std::string("REGEDIT4\n[HKCU\\K]\n\"Ok\"=dword:1\n") + GetParam().body);
  EXPECT_EQ(0u, msg.find("line " + std::to_string(GetParam().line) + ": ")) << msg;
  EXPECT_NE(std::string::npos, msg.find(GetParam().what)) << msg;
  EXPECT_FALSE(reg_.KeyExists(HKEY_CURRENT_USER, "K"));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RegFileMalformed,
    ::testing::Values(
        BadLine{"\"S\"=\"abc\n", 4, "unterminated string"},
        BadLine{"\n\"S\"=\"a\\qb\"\n", 5, "unknown escape"}, BadLine{"\"S\" \"x\"\n", 4, "expected ="},
        BadLine{"\"N\"=dword:123456789\n", 4, "more than 8"},
        BadLine{"\"N\"=dword:\n", 4, "expected a hex number"},
        BadLine{"\"N\"=dword:12 x\n", 4, "unexpected text"},
        BadLine{"\"B\"=hex:01,,02\n", 4, "expected a hex byte"},
        BadLine{"\"B\"=hex:01,\n", 4, "expected a hex byte"}, BadLine{"\"B\"=hex:123\n", 4, "more than 2"},
        BadLine{"\"B\"=hex:01 02\n", 4, "expected a comma"}, BadLine{"\"B\"=hex(2:00\n", 4, "expected ):"},
        BadLine{"\"B\"=hex(123456789):00\n", 4, "more than 8"},
        BadLine{"\"B\"=str:abc\n", 4, "unknown value data"}, BadLine{"\"B\"=\n", 4, "missing value data"},
        BadLine{"\"B\"=-x\n", 4, "unexpected text"}, BadLine{"[HKEY_NOWHERE\\X]\n", 4, "unknown root key"},
        BadLine{"[HKCU\\A\\\\B]\n", 4, "invalid key path"}, BadLine{"[HKCU\\A\n", 4, "missing ]"},
        BadLine{"[]\n", 4, "missing key name"}, BadLine{"[-HKCU]\n", 4, "root key cannot be deleted"},
        BadLine{"garbage\n", 4, "unexpected text"},
        BadLine{"\"B\"=hex:01,\\\n  02,\\\n  zz\n", 4, "expected a hex byte"}));

TEST_F(RegFileTest, KeyPathDeeperThan512IsRejected) {
  std::string path = "HKCU";
  for (int i = 0; i < 513; ++i) path += "\\k";
  EXPECT_NE(std::string::npos, Reject("REGEDIT4\n[" + path + "]\n").find("line 2: invalid key path"));
}

TEST_F(RegFileTest, KeyNameLongerThan255IsRejected) {
  EXPECT_NE(std::string::npos,
            Reject("REGEDIT4\n[HKCU\\" + std::string(256, 'k') + "]\n").find("line 2: invalid key path"));
}

TEST_F(RegFileTest, ValueBeforeAnyKeyIsRejected) {
  EXPECT_EQ(0u, Reject("REGEDIT4\n\"N\"=dword:1\n").find("line 2: value before the first [key]"));
}

TEST_F(RegFileTest, ErrorAfterDeletionLeavesKeyInPlace) {
  reg_.SetDword(HKEY_CURRENT_USER, "A", "N", 1);
  Reject("REGEDIT4\n[-HKCU\\A]\n[HKCU\\B]\n\"x\"=bad\n");
  EXPECT_TRUE(reg_.KeyExists(HKEY_CURRENT_USER, "A"));
}

TEST_F(RegFileTest, ErrorLineCountsUtf16Lines) {
  std::string msg = Reject(Utf16Le(std::string(kV5) + "[HKCU\\K]\r\n\"N\"=dword:xyz\r\n"));
  EXPECT_EQ(0u, msg.find("line 4: ")) << msg;
}

// ---- files on disk ----

TEST_F(RegFileTest, LoadsFromPath) {
  const std::string path = ::testing::TempDir() + "regfile_test_load.reg";
  {
    std::ofstream out(path, std::ios::binary);
    out << "REGEDIT4\r\n[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n\"WallPaper\"=\"x.bmp\"\r\n";
  }
  LoadRegFileFromPath(reg_, path);
  std::remove(path.c_str());
  EXPECT_EQ((RegValue{REG_SZ, Bytes(std::string("x.bmp") + '\0')}), Value(kDesktop, "WallPaper"));
}

TEST_F(RegFileTest, MissingPathIsErrorNamingFile) {
  try {
    LoadRegFileFromPath(reg_, "/nonexistent/dir/x.reg");
    FAIL() << "no error";
  } catch (const RegFileError& e) {
    EXPECT_NE(std::string::npos, std::string(e.what()).find("/nonexistent/dir/x.reg"));
    EXPECT_EQ(0, e.Line());
  }
}

TEST_F(RegFileTest, MalformedFileOnDiskNamesFileAndLine) {
  const std::string path = ::testing::TempDir() + "regfile_test_bad.reg";
  {
    std::ofstream out(path, std::ios::binary);
    out << "REGEDIT4\n[HKCU\\K]\n\"N\"=dword:zz\n";
  }
  try {
    LoadRegFileFromPath(reg_, path);
    FAIL() << "no error";
  } catch (const RegFileError& e) {
    EXPECT_EQ(path + ": line 3: expected a hex number for dword", e.what());
    EXPECT_EQ(3, e.Line());
  }
  std::remove(path.c_str());
}

}  // namespace
