// The soft registry through the registry interface: Windows sizes and codes, access masks, last-error
// codes and the fault hooks.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/Platform.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "platform/common/SoftRegistry.h"
#include "platform/common/SoftSystem.h"

using namespace plat;
using plat::soft::QueryFault;
using plat::soft::RegValue;
using plat::soft::SoftRegistry;
using plat::soft::SoftSystem;

namespace {

const char kDesktop[] = "Control Panel\\Desktop";

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() : installed_(MakeServices()) {}

  Services MakeServices() {
    Services s;
    s.registry = &reg_;
    s.system = &sys_;
    return s;
  }

  HKEY Open(const char* path, REGSAM sam = KEY_READ) {
    HKEY k = nullptr;
    EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegOpenKeyEx(HKEY_CURRENT_USER, path, 0, sam, &k));
    return k;
  }

  std::vector<BYTE> ReadAll(HKEY k, const char* name, DWORD* type) {
    DWORD size = 0;
    EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegQueryValueEx(k, name, type, nullptr, &size));
    std::vector<BYTE> buf(size + 1, 0xEE);  // one spare byte shows nothing is written past the data
    DWORD got = size + 1;
    EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegQueryValueEx(k, name, type, buf.data(), &got));
    EXPECT_EQ(size, got);
    EXPECT_EQ(0xEE, buf[size]);
    buf.resize(got);
    return buf;
  }

  SoftRegistry reg_;
  SoftSystem sys_;
  ScopedServices installed_;
};

// ---- value types ----

struct TypeCase {
  DWORD type;
  std::vector<BYTE> data;
};

class RegistryValueTypes : public RegistryTest, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(RegistryValueTypes, ReadsBackTypeAndExactBytes) {
  reg_.SetValue(HKEY_CURRENT_USER, kDesktop, "V", GetParam().type, GetParam().data);
  HKEY k = Open(kDesktop);
  DWORD type = 0xFFFF;
  EXPECT_EQ(GetParam().data, ReadAll(k, "V", &type));
  EXPECT_EQ(GetParam().type, type);
  EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegCloseKey(k));
}

INSTANTIATE_TEST_SUITE_P(
    EveryType, RegistryValueTypes,
    ::testing::Values(TypeCase{REG_NONE, {1, 2}}, TypeCase{REG_SZ, {'C', ':', '\\', 'a', 0}},
                      TypeCase{REG_EXPAND_SZ, {'%', 'W', '%', 0}}, TypeCase{REG_BINARY, {0, 0xFF, 0, 7}},
                      TypeCase{REG_BINARY, {}}, TypeCase{REG_DWORD, {0x2A, 0, 0, 0x80}},
                      TypeCase{REG_DWORD_BIG_ENDIAN, {0, 0, 0, 0x2A}}, TypeCase{REG_LINK, {'x', 0}},
                      TypeCase{REG_MULTI_SZ, {'a', 0, 'b', 0, 0}},
                      TypeCase{REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}}));

// ---- query sizing ----

TEST_F(RegistryTest, QueryWithoutBufferReportsTypeAndSize) {
  reg_.SetString(HKEY_CURRENT_USER, kDesktop, "WallPaper", "C:\\w.bmp");
  HKEY k = Open(kDesktop);
  DWORD type = 0, size = 0;
  EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegQueryValueEx(k, "WallPaper", &type, nullptr, &size));
  EXPECT_EQ(REG_SZ, type);
  EXPECT_EQ(9u, size);
}

TEST_F(RegistryTest, QueryWithOnlyTypeSucceeds) {
  reg_.SetDword(HKEY_CURRENT_USER, kDesktop, "N", 1);
  HKEY k = Open(kDesktop);
  DWORD type = 0;
  EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegQueryValueEx(k, "N", &type, nullptr, nullptr));
  EXPECT_EQ(REG_DWORD, type);
}

TEST_F(RegistryTest, SmallBufferGivesMoreDataWithNeededSizeAndLeavesBufferAlone) {
  reg_.SetString(HKEY_CURRENT_USER, kDesktop, "S", "abcdef");
  HKEY k = Open(kDesktop);
  BYTE buf[4] = {9, 9, 9, 9};
  DWORD size = sizeof buf;
  DWORD type = 0;
  EXPECT_EQ(static_cast<LONG>(ERROR_MORE_DATA), Reg().RegQueryValueEx(k, "S", &type, buf, &size));
  EXPECT_EQ(7u, size);
  EXPECT_EQ(REG_SZ, type);
  EXPECT_EQ(9, buf[0]);
  EXPECT_EQ(ERROR_MORE_DATA, Sys().GetLastError());
}

TEST_F(RegistryTest, BufferOfExactSizeReceivesData) {
  reg_.SetDword(HKEY_CURRENT_USER, kDesktop, "N", 42);
  HKEY k = Open(kDesktop);
  std::int32_t v = 0;
  DWORD size = 4;
  EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS),
            Reg().RegQueryValueEx(k, "N", nullptr, reinterpret_cast<BYTE*>(&v), &size));
  EXPECT_EQ(42, v);
}

TEST_F(RegistryTest, BufferWithoutSizeIsBadParameter) {
  reg_.SetDword(HKEY_CURRENT_USER, kDesktop, "N", 42);
  HKEY k = Open(kDesktop);
  BYTE buf[4];
  EXPECT_EQ(static_cast<LONG>(ERROR_INVALID_PARAMETER), Reg().RegQueryValueEx(k, "N", nullptr, buf, nullptr));
}

// ---- names and missing things ----

TEST_F(RegistryTest, KeyAndValueNamesIgnoreCase) {
  reg_.SetString(HKEY_CURRENT_USER, kDesktop, "WallPaper", "x");
  HKEY k = Open("control panel\\DESKTOP");
  DWORD type = 0;
  EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegQueryValueEx(k, "wallpaper", &type, nullptr, nullptr));
  EXPECT_EQ(REG_SZ, type);
}

TEST_F(RegistryTest, RewritingValueKeepsFirstSpellingOfName) {
  reg_.SetString(HKEY_CURRENT_USER, kDesktop, "WallPaper", "x");
  reg_.SetString(HKEY_CURRENT_USER, kDesktop, "WALLPAPER", "y");
  EXPECT_NE(std::string::npos, reg_.Dump().find("\"WallPaper\"=1:79,00"));
}

TEST_F(RegistryTest, MissingKeyIsFileNotFoundAndSetsLastError) {
  HKEY k = nullptr;
  EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND),
            Reg().RegOpenKeyEx(HKEY_CURRENT_USER, "Nope", 0, KEY_READ, &k));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, Sys().GetLastError());
  EXPECT_EQ("The system cannot find the file specified", SysErrorMessage(Sys().GetLastError()));
}

TEST_F(RegistryTest, MissingValueIsFileNotFound) {
  reg_.CreateKey(HKEY_CURRENT_USER, kDesktop);
  HKEY k = Open(kDesktop);
  DWORD type = 0;
  EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND),
            Reg().RegQueryValueEx(k, "WallPaper", &type, nullptr, nullptr));
}

TEST_F(RegistryTest, EmptyAndNullNamesBothMeanDefaultValue) {
  reg_.SetString(HKEY_CURRENT_USER, kDesktop, "", "d");
  HKEY k = Open(kDesktop);
  DWORD a = 0, b = 0;
  EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegQueryValueEx(k, nullptr, nullptr, nullptr, &a));
  EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegQueryValueEx(k, "", nullptr, nullptr, &b));
  EXPECT_EQ(2u, a);
  EXPECT_EQ(2u, b);
}

TEST_F(RegistryTest, LeadingBackslashIsBadPath) {
  reg_.CreateKey(HKEY_CURRENT_USER, kDesktop);
  HKEY k = nullptr;
  EXPECT_EQ(static_cast<LONG>(ERROR_BAD_PATHNAME),
            Reg().RegOpenKeyEx(HKEY_CURRENT_USER, "\\Control Panel\\Desktop", 0, KEY_READ, &k));
}

TEST_F(RegistryTest, EmptySubKeyOpensSameKey) {
  reg_.SetDword(HKEY_CURRENT_USER, kDesktop, "N", 5);
  HKEY k = Open(kDesktop);
  HKEY again = nullptr;
  ASSERT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegOpenKeyEx(k, "", 0, KEY_READ, &again));
  EXPECT_NE(k, again);
  DWORD type = 0;
  EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegQueryValueEx(again, "N", &type, nullptr, nullptr));
}

// ---- handles ----

TEST_F(RegistryTest, UnknownHandleIsInvalidAndSetsLastError) {
  HKEY k = nullptr;
  EXPECT_EQ(static_cast<LONG>(ERROR_INVALID_HANDLE),
            Reg().RegOpenKeyEx(reinterpret_cast<HKEY>(0x1234), "x", 0, KEY_READ, &k));
  EXPECT_EQ("The handle is invalid", SysErrorMessage(Sys().GetLastError()));
}

TEST_F(RegistryTest, ClosedHandleNoLongerWorks) {
  reg_.SetDword(HKEY_CURRENT_USER, kDesktop, "N", 5);
  HKEY k = Open(kDesktop);
  EXPECT_EQ(1u, reg_.OpenKeyCount());
  EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegCloseKey(k));
  EXPECT_EQ(0u, reg_.OpenKeyCount());
  EXPECT_EQ(static_cast<LONG>(ERROR_INVALID_HANDLE),
            Reg().RegQueryValueEx(k, "N", nullptr, nullptr, nullptr));
  EXPECT_EQ(static_cast<LONG>(ERROR_INVALID_HANDLE), Reg().RegCloseKey(k));
}

TEST_F(RegistryTest, NullResultPointerIsBadParameter) {
  EXPECT_EQ(static_cast<LONG>(ERROR_INVALID_PARAMETER),
            Reg().RegOpenKeyEx(HKEY_CURRENT_USER, "", 0, KEY_READ, nullptr));
  EXPECT_EQ("The parameter is incorrect", SysErrorMessage(Sys().GetLastError()));
}

TEST_F(RegistryTest, HandleOnDeletedKeyReportsDeletion) {
  reg_.SetDword(HKEY_CURRENT_USER, kDesktop, "N", 5);
  HKEY k = Open(kDesktop);
  EXPECT_TRUE(reg_.DeleteKey(HKEY_CURRENT_USER, "Control Panel"));
  EXPECT_EQ(static_cast<LONG>(ERROR_KEY_DELETED), Reg().RegQueryValueEx(k, "N", nullptr, nullptr, nullptr));
  EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegCloseKey(k));
}

// ---- access masks ----

TEST_F(RegistryTest, RefusedMasksFailAndNextMaskSucceeds) {
  reg_.SetDword(HKEY_CURRENT_USER, kDesktop, "N", 5);
  reg_.RefuseOpen(0x20019);
  reg_.RefuseOpen(0x20009);
  HKEY k = nullptr;
  EXPECT_EQ(static_cast<LONG>(ERROR_ACCESS_DENIED),
            Reg().RegOpenKeyEx(HKEY_CURRENT_USER, kDesktop, 0, 0x20019, &k));
  EXPECT_EQ(static_cast<LONG>(ERROR_ACCESS_DENIED),
            Reg().RegOpenKeyEx(HKEY_CURRENT_USER, kDesktop, 0, 0x20009, &k));
  EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegOpenKeyEx(HKEY_CURRENT_USER, kDesktop, 0, 0x0001, &k));
  ASSERT_EQ(3u, reg_.OpenAttempts().size());
  EXPECT_EQ(0x20009u, reg_.OpenAttempts()[1].samDesired);
  EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegQueryValueEx(k, "N", nullptr, nullptr, nullptr));
}

TEST_F(RegistryTest, RefusalUsesChosenErrorCodeAsLastError) {
  reg_.CreateKey(HKEY_CURRENT_USER, kDesktop);
  reg_.RefuseOpen(0x0001, static_cast<LONG>(ERROR_CANTREAD));
  HKEY k = nullptr;
  EXPECT_EQ(static_cast<LONG>(ERROR_CANTREAD),
            Reg().RegOpenKeyEx(HKEY_CURRENT_USER, kDesktop, 0, 0x0001, &k));
  EXPECT_EQ("The configuration registry key could not be read", SysErrorMessage(Sys().GetLastError()));
}

TEST_F(RegistryTest, RefusalDoesNotHideMissingKey) {
  reg_.RefuseOpen(KEY_READ);
  HKEY k = nullptr;
  EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND),
            Reg().RegOpenKeyEx(HKEY_CURRENT_USER, "Nope", 0, KEY_READ, &k));
}

TEST_F(RegistryTest, QueryNeedsQueryValueAccess) {
  reg_.SetDword(HKEY_CURRENT_USER, kDesktop, "N", 5);
  HKEY k = Open(kDesktop, KEY_ENUMERATE_SUB_KEYS);
  EXPECT_EQ(static_cast<LONG>(ERROR_ACCESS_DENIED), Reg().RegQueryValueEx(k, "N", nullptr, nullptr, nullptr));
}

TEST_F(RegistryTest, SetNeedsSetValueAccess) {
  reg_.CreateKey(HKEY_CURRENT_USER, kDesktop);
  HKEY k = Open(kDesktop, KEY_READ);
  const BYTE b = 1;
  EXPECT_EQ(static_cast<LONG>(ERROR_ACCESS_DENIED), Reg().RegSetValueEx(k, "B", REG_BINARY, &b, 1));
  EXPECT_FALSE(reg_.GetValue(HKEY_CURRENT_USER, kDesktop, "B"));
}

// ---- last-error rule ----

TEST_F(RegistryTest, SuccessLeavesLastErrorUnchanged) {
  reg_.CreateKey(HKEY_CURRENT_USER, kDesktop);
  Sys().SetLastError(ERROR_PATH_NOT_FOUND);
  Open(kDesktop);
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, Sys().GetLastError());
}

// ---- writing through the interface ----

TEST_F(RegistryTest, CreateKeyMakesIntermediateKeysAndReportsDisposition) {
  HKEY k = nullptr;
  DWORD disp = 0;
  ASSERT_EQ(static_cast<LONG>(ERROR_SUCCESS),
            Reg().RegCreateKeyEx(HKEY_CURRENT_USER, "A\\B\\C", 0, KEY_ALL_ACCESS, &k, &disp));
  EXPECT_EQ(REG_CREATED_NEW_KEY, disp);
  EXPECT_TRUE(reg_.KeyExists(HKEY_CURRENT_USER, "a\\b"));
  HKEY again = nullptr;
  ASSERT_EQ(static_cast<LONG>(ERROR_SUCCESS),
            Reg().RegCreateKeyEx(HKEY_CURRENT_USER, "a\\B\\c", 0, KEY_READ, &again, &disp));
  EXPECT_EQ(REG_OPENED_EXISTING_KEY, disp);
}

TEST_F(RegistryTest, CreateBelowOpenKeyStopsAtDepthLimit) {
  std::string path = "k";
  for (int i = 1; i < 500; ++i) path += "\\k";
  HKEY deep = nullptr;
  ASSERT_EQ(static_cast<LONG>(ERROR_SUCCESS),
            Reg().RegCreateKeyEx(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &deep, nullptr));
  std::string more = "m";
  for (int i = 1; i < 12; ++i) more += "\\m";
  HKEY k = nullptr;
  EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS),
            Reg().RegCreateKeyEx(deep, more.c_str(), 0, KEY_ALL_ACCESS, &k, nullptr));
  EXPECT_EQ(static_cast<LONG>(ERROR_BADKEY),
            Reg().RegCreateKeyEx(deep, (more + "\\m").c_str(), 0, KEY_ALL_ACCESS, &k, nullptr));
}

TEST_F(RegistryTest, SetThenDeleteValueThroughHandle) {
  HKEY k = nullptr;
  ASSERT_EQ(static_cast<LONG>(ERROR_SUCCESS),
            Reg().RegCreateKeyEx(HKEY_CURRENT_USER, kDesktop, 0, KEY_ALL_ACCESS, &k, nullptr));
  const BYTE data[] = {'h', 'i', 0};
  ASSERT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegSetValueEx(k, "S", REG_SZ, data, 3));
  EXPECT_EQ((RegValue{REG_SZ, {'h', 'i', 0}}), *reg_.GetValue(HKEY_CURRENT_USER, kDesktop, "s"));
  EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegDeleteValue(k, "S"));
  EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND), Reg().RegDeleteValue(k, "S"));
}

TEST_F(RegistryTest, SetWithNullDataButNonzeroSizeIsBadParameter) {
  HKEY k = nullptr;
  ASSERT_EQ(static_cast<LONG>(ERROR_SUCCESS),
            Reg().RegCreateKeyEx(HKEY_CURRENT_USER, kDesktop, 0, KEY_ALL_ACCESS, &k, nullptr));
  EXPECT_EQ(static_cast<LONG>(ERROR_INVALID_PARAMETER), Reg().RegSetValueEx(k, "S", REG_SZ, nullptr, 4));
}

TEST_F(RegistryTest, DirectAccessRejectsBadPath) {
  EXPECT_THROW(reg_.CreateKey(HKEY_CURRENT_USER, "a\\\\b"), std::invalid_argument);
  EXPECT_THROW(reg_.CreateKey(reinterpret_cast<HKEY>(0x100), "a"), std::invalid_argument);
}

// ---- fault hooks ----

TEST_F(RegistryTest, FailedDataReadStillAnswersTypeQuery) {
  reg_.SetString(HKEY_CURRENT_USER, kDesktop, "WallPaper", "x");
  reg_.FailDataRead("wallpaper");
  HKEY k = Open(kDesktop);
  DWORD type = 0, size = 0;
  EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegQueryValueEx(k, "WallPaper", &type, nullptr, &size));
  BYTE buf[16];
  size = sizeof buf;
  EXPECT_EQ(static_cast<LONG>(ERROR_CANTREAD), Reg().RegQueryValueEx(k, "WallPaper", &type, buf, &size));
}

TEST_F(RegistryTest, InfoQueriesFailAfterAllowedCount) {
  reg_.SetString(HKEY_CURRENT_USER, kDesktop, "WallPaper", "x");
  reg_.FailInfoQueries("WallPaper", 1);
  HKEY k = Open(kDesktop);
  DWORD type = 0, size = 0;
  EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegQueryValueEx(k, "WallPaper", &type, nullptr, nullptr));
  EXPECT_EQ(static_cast<LONG>(ERROR_CANTREAD),
            Reg().RegQueryValueEx(k, "WallPaper", nullptr, nullptr, &size));
  EXPECT_EQ(static_cast<LONG>(ERROR_CANTREAD),
            Reg().RegQueryValueEx(k, "WallPaper", nullptr, nullptr, &size));
}

TEST_F(RegistryTest, ValueReplacedBetweenTypeQueryAndRead) {
  reg_.SetString(HKEY_CURRENT_USER, kDesktop, "WallPaper", "abc");
  reg_.ReplaceBeforeDataRead("WallPaper", RegValue{REG_DWORD, {1, 0, 0, 0}});
  HKEY k = Open(kDesktop);
  DWORD type = 0, size = 0;
  Reg().RegQueryValueEx(k, "WallPaper", &type, nullptr, &size);
  EXPECT_EQ(REG_SZ, type);
  BYTE buf[4];
  size = sizeof buf;
  EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegQueryValueEx(k, "WallPaper", &type, buf, &size));
  EXPECT_EQ(REG_DWORD, type);
  EXPECT_EQ(4u, size);
}

TEST_F(RegistryTest, FaultOnOtherValueLeavesThisOneAlone) {
  reg_.SetString(HKEY_CURRENT_USER, kDesktop, "WallPaper", "x");
  reg_.FailDataRead("Other");
  HKEY k = Open(kDesktop);
  DWORD type = 0;
  EXPECT_EQ((std::vector<BYTE>{'x', 0}), ReadAll(k, "WallPaper", &type));
}

TEST_F(RegistryTest, FaultAppliesOnlyTheGivenNumberOfTimes) {
  reg_.SetString(HKEY_CURRENT_USER, kDesktop, "V", "x");
  QueryFault f;
  f.valueName = "V";
  f.onDataRead = false;
  f.skip = 1;
  f.times = 1;
  f.error = static_cast<LONG>(ERROR_ACCESS_DENIED);
  reg_.AddQueryFault(f);
  HKEY k = Open(kDesktop);
  DWORD size = 0;
  EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegQueryValueEx(k, "V", nullptr, nullptr, &size));
  EXPECT_EQ(static_cast<LONG>(ERROR_ACCESS_DENIED), Reg().RegQueryValueEx(k, "V", nullptr, nullptr, &size));
  EXPECT_EQ(static_cast<LONG>(ERROR_SUCCESS), Reg().RegQueryValueEx(k, "V", nullptr, nullptr, &size));
}

TEST_F(RegistryTest, ClearFaultsRestoresNormalAnswers) {
  reg_.SetString(HKEY_CURRENT_USER, kDesktop, "V", "x");
  reg_.FailDataRead("V");
  reg_.RefuseOpen(KEY_READ);
  reg_.ClearFaults();
  HKEY k = Open(kDesktop);
  DWORD type = 0;
  EXPECT_EQ((std::vector<BYTE>{'x', 0}), ReadAll(k, "V", &type));
}

TEST_F(RegistryTest, FailedCallsLeaveTreeUnchanged) {
  reg_.SetString(HKEY_CURRENT_USER, kDesktop, "WallPaper", "x");
  const std::string before = reg_.Dump();
  reg_.FailDataRead("WallPaper");
  HKEY k = Open(kDesktop);
  BYTE buf[1];
  DWORD size = 1;
  Reg().RegQueryValueEx(k, "WallPaper", nullptr, buf, &size);
  Reg().RegQueryValueEx(k, "Missing", nullptr, nullptr, &size);
  Reg().RegCloseKey(k);
  EXPECT_EQ(before, reg_.Dump());
}

}  // namespace
