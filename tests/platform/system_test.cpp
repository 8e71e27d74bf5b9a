// The soft system service: per-thread last-error codes and the system message texts.
#include <gtest/gtest.h>

#include <thread>

#include "platform/Platform.h"
#include "platform/System.h"
#include "platform/common/SoftSystem.h"
#include "platform/soft/SoftPlatform.h"

using namespace plat;
using plat::soft::SoftSystem;

namespace {

class SystemTest : public ::testing::Test {
 protected:
  SystemTest() : installed_(MakeServices()) {}
  Services MakeServices() {
    Services s;
    s.system = &sys_;
    return s;
  }
  SoftSystem sys_;
  ScopedServices installed_;
};

// ---- message texts ----

struct MessageCase {
  DWORD code;
  const char* trimmed;
};

class SystemMessages : public SystemTest, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(SystemMessages, RawTextEndsInFullStopAndLineBreak) {
  EXPECT_EQ(std::string(GetParam().trimmed) + ".\r\n", Sys().FormatMessageText(GetParam().code));
}

TEST_P(SystemMessages, ErrorMessageDropsTrailingStopAndLineBreak) {
  EXPECT_EQ(GetParam().trimmed, SysErrorMessage(GetParam().code));
}

INSTANTIATE_TEST_SUITE_P(
    NamedCodes, SystemMessages,
    ::testing::Values(MessageCase{0, "The operation completed successfully"},
                      MessageCase{2, "The system cannot find the file specified"},
                      MessageCase{3, "The system cannot find the path specified"},
                      MessageCase{5, "Access is denied"}, MessageCase{6, "The handle is invalid"},
                      MessageCase{8, "Not enough memory resources are available to process this command"},
                      MessageCase{87, "The parameter is incorrect"},
                      MessageCase{234, "More data is available"},
                      MessageCase{1012, "The configuration registry key could not be read"}));

TEST_F(SystemTest, EveryListedCodeHasText) {
  for (DWORD code : {0u,   1u,   2u,   3u,   4u,    5u,    6u,    8u,    13u,   32u,   87u,
                     122u, 123u, 234u, 259u, 1009u, 1010u, 1011u, 1012u, 1013u, 1015u, 1400u}) {
    std::string text = Sys().FormatMessageText(code);
    ASSERT_GE(text.size(), 3u) << code;
    EXPECT_EQ(".\r\n", text.substr(text.size() - 3)) << code;
  }
}

TEST_F(SystemTest, UnknownCodeHasEmptyText) {
  EXPECT_EQ("", Sys().FormatMessageText(999999));
  EXPECT_EQ("", SysErrorMessage(999999));
}

TEST_F(SystemTest, MessageTextCanBeOverridden) {
  sys_.SetMessageText(77777, "Custom failure...  \r\n");
  EXPECT_EQ("Custom failure", SysErrorMessage(77777));
  sys_.SetMessageText(2, "");
  EXPECT_EQ("", SysErrorMessage(2));
}

// ---- last-error code ----

TEST_F(SystemTest, LastErrorReadsBackWhatWasSet) {
  Sys().SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(ERROR_ACCESS_DENIED, Sys().GetLastError());
}

TEST_F(SystemTest, NewSystemStartsWithZero) {
  Sys().SetLastError(5);
  SoftSystem fresh;
  EXPECT_EQ(0u, fresh.GetLastError());
}

TEST_F(SystemTest, LastErrorIsPerThread) {
  Sys().SetLastError(ERROR_INVALID_HANDLE);
  DWORD seenByOther = 123;
  std::thread t([&] {
    seenByOther = sys_.GetLastError();
    sys_.SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  });
  t.join();
  EXPECT_EQ(0u, seenByOther);
  EXPECT_EQ(ERROR_INVALID_HANDLE, Sys().GetLastError());
}

TEST(SoftPlatformSystem, PlatformInstallsSystemAndRegistry) {
  plat::soft::SoftPlatform p;
  EXPECT_EQ(static_cast<System*>(&p.system()), &Sys());
  EXPECT_NE(nullptr, CurrentServices().registry);
}

}  // namespace
