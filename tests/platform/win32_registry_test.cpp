// The Windows registry through the registry interface: values written with the real API under a test key
// come back through the interface (and through the program's own reader) with their type, size and bytes.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Platform.h"

namespace {

const char kTestKey[] = "Software\\DesktopSnowTest";

class Win32RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(Hkcu(), kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                               &realKey_, nullptr));
  }
  void TearDown() override {
    for (const std::string& name : written_) ::RegDeleteValueA(realKey_, name.c_str());
    ::RegCloseKey(realKey_);
    ::RegDeleteKeyA(Hkcu(), kTestKey);
  }

  static ::HKEY Hkcu() { return plat::win32::H<::HKEY>(plat::HKEY_CURRENT_USER); }

  void Write(const char* name, plat::DWORD type, const void* data, plat::DWORD size) {
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegSetValueExA(realKey_, name, 0, type, static_cast<const ::BYTE*>(data), size));
    written_.push_back(name);
  }

  plat::HKEY Open() {
    plat::HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, plat::Reg().RegOpenKeyEx(plat::HKEY_CURRENT_USER, kTestKey, 0, KEY_READ, &key));
    return key;
  }

  // Reads a value through the interface: its type and exactly the bytes stored.
  std::vector<plat::BYTE> Read(const char* name, plat::DWORD& type) {
    plat::HKEY key = Open();
    plat::DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS, plat::Reg().RegQueryValueEx(key, name, &type, nullptr, &size));
    std::vector<plat::BYTE> data(size + 1, 0xEE);
    plat::DWORD got = size + 1;
    EXPECT_EQ(ERROR_SUCCESS, plat::Reg().RegQueryValueEx(key, name, &type, data.data(), &got));
    EXPECT_EQ(size, got);
    data.resize(got);
    plat::Reg().RegCloseKey(key);
    return data;
  }

  void ExpectRoundTrip(const char* name, plat::DWORD type, const std::vector<plat::BYTE>& bytes) {
    Write(name, type, bytes.data(), static_cast<plat::DWORD>(bytes.size()));
    plat::DWORD gotType = 0xFFFF;
    std::vector<plat::BYTE> got = Read(name, gotType);
    EXPECT_EQ(type, gotType);
    EXPECT_EQ(bytes, got);
  }

  static std::vector<plat::BYTE> Bytes(const char* s, std::size_t n) {
    return std::vector<plat::BYTE>(reinterpret_cast<const plat::BYTE*>(s),
                                   reinterpret_cast<const plat::BYTE*>(s) + n);
  }

  plat::win32::Win32Platform platform_;
  ::HKEY realKey_ = nullptr;
  std::vector<std::string> written_;
};

TEST_F(Win32RegistryTest, StringValueComesBackWithItsTerminatingZero) {
  ExpectRoundTrip("Str", REG_SZ, Bytes("C:\\Pictures\\snow.bmp", 21));
}

TEST_F(Win32RegistryTest, ExpandStringValueKeepsItsTypeAndUnexpandedText) {
  ExpectRoundTrip("Exp", REG_EXPAND_SZ, Bytes("%WINDIR%\\web.jpg", 17));
}

TEST_F(Win32RegistryTest, BinaryValueWithZerosComesBackByteForByte) {
  ExpectRoundTrip("Bin", REG_BINARY, {0x00, 0x01, 0x00, 0xFF, 0x80, 0x00});
}

TEST_F(Win32RegistryTest, DwordValueComesBackLittleEndian) {
  ExpectRoundTrip("Dw", REG_DWORD, {0x78, 0x56, 0x34, 0x12});
}

TEST_F(Win32RegistryTest, BigEndianDwordValueKeepsItsType) {
  ExpectRoundTrip("DwBe", REG_DWORD_BIG_ENDIAN, {0x12, 0x34, 0x56, 0x78});
}

TEST_F(Win32RegistryTest, QwordValueComesBackWhole) {
  ExpectRoundTrip("Qw", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
}

TEST_F(Win32RegistryTest, MultiStringValueKeepsEveryZero) {
  ExpectRoundTrip("Multi", REG_MULTI_SZ, Bytes("one\0two\0\0", 9));
}

TEST_F(Win32RegistryTest, EmptyNoneValueHasSizeZero) {
  Write("None", REG_NONE, "", 0);
  plat::HKEY key = Open();
  plat::DWORD type = 0xFFFF, size = 99;
  EXPECT_EQ(ERROR_SUCCESS, plat::Reg().RegQueryValueEx(key, "None", &type, nullptr, &size));
  EXPECT_EQ(static_cast<plat::DWORD>(REG_NONE), type);
  EXPECT_EQ(0u, size);
  plat::Reg().RegCloseKey(key);
}

TEST_F(Win32RegistryTest, TooSmallBufferGivesMoreDataAndTheSizeNeeded) {
  Write("Str", REG_SZ, "abcdef", 7);
  plat::HKEY key = Open();
  plat::BYTE buf[3] = {};
  plat::DWORD size = sizeof buf;
  EXPECT_EQ(static_cast<plat::LONG>(ERROR_MORE_DATA),
            plat::Reg().RegQueryValueEx(key, "Str", nullptr, buf, &size));
  EXPECT_EQ(7u, size);
  plat::Reg().RegCloseKey(key);
}

TEST_F(Win32RegistryTest, MissingValueFailsWithFileNotFoundAndSetsTheLastError) {
  plat::HKEY key = Open();
  plat::Sys().SetLastError(0);
  plat::DWORD size = 0;
  EXPECT_EQ(static_cast<plat::LONG>(ERROR_FILE_NOT_FOUND),
            plat::Reg().RegQueryValueEx(key, "NoSuchValue", nullptr, nullptr, &size));
  EXPECT_EQ(static_cast<plat::DWORD>(ERROR_FILE_NOT_FOUND), plat::Sys().GetLastError());
  plat::Reg().RegCloseKey(key);
}

TEST_F(Win32RegistryTest, MissingKeyFailsAndTheSystemNamesTheFailure) {
  plat::HKEY key = nullptr;
  plat::Sys().SetLastError(0);
  EXPECT_EQ(static_cast<plat::LONG>(ERROR_FILE_NOT_FOUND),
            plat::Reg().RegOpenKeyEx(plat::HKEY_CURRENT_USER, "Software\\DesktopSnowTest\\Missing", 0,
                                     KEY_READ, &key));
  EXPECT_EQ(nullptr, key);
  EXPECT_EQ(static_cast<plat::DWORD>(ERROR_FILE_NOT_FOUND), plat::Sys().GetLastError());
  // The system's own wording, without the trailing full stop and line break.
  const std::string text = plat::SysErrorMessage(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(text.empty());
  EXPECT_NE('.', text.back());
}

TEST_F(Win32RegistryTest, ProgramReaderGivesStringIntegerAndBytes) {
  Write("WallPaper", REG_SZ, "C:\\snow.bmp", 12);
  const plat::DWORD n = 42;
  Write("Count", REG_DWORD, &n, 4);
  Write("Raw", REG_BINARY, "\x01\x00\x02", 3);
  EXPECT_EQ("C:\\snow.bmp",
            ReadRegistryValue(plat::HKEY_CURRENT_USER, std::string("\\") + kTestKey, "WallPaper").ToText());
  RegistryValue count = ReadRegistryValue(plat::HKEY_CURRENT_USER, kTestKey, "Count");
  EXPECT_EQ(RegistryValue::Kind::Integer, count.kind);
  EXPECT_EQ(42, count.integer);
  RegistryValue raw = ReadRegistryValue(plat::HKEY_CURRENT_USER, kTestKey, "Raw");
  EXPECT_EQ(RegistryValue::Kind::Bytes, raw.kind);
  EXPECT_EQ(std::string("\x01\x00\x02", 3), raw.text);
}

TEST_F(Win32RegistryTest, ValuesWrittenThroughTheInterfaceReachTheRealRegistry) {
  plat::HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            plat::Reg().RegCreateKeyEx(plat::HKEY_CURRENT_USER, kTestKey, 0, KEY_ALL_ACCESS, &key, nullptr));
  const plat::BYTE data[] = {'h', 'i', 0};
  EXPECT_EQ(ERROR_SUCCESS, plat::Reg().RegSetValueEx(key, "Back", REG_SZ, data, 3));
  written_.push_back("Back");
  plat::Reg().RegCloseKey(key);
  char buf[8] = {};
  ::DWORD size = sizeof buf, type = 0;
  EXPECT_EQ(ERROR_SUCCESS,
            ::RegQueryValueExA(realKey_, "Back", nullptr, &type, reinterpret_cast<::BYTE*>(buf), &size));
  EXPECT_EQ(static_cast<::DWORD>(REG_SZ), type);
  EXPECT_STREQ("hi", buf);
}

}  // namespace

#endif  // _WIN32
