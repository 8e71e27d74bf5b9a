// The system and clock services on Windows: last-error codes, the system's message texts and the clocks.
#ifdef _WIN32

#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "platform/Platform.h"
#include "platform/System.h"
#include "platform/win32/Win32Platform.h"

using namespace plat;

namespace {

class Win32SystemTest : public ::testing::Test {
 protected:
  win32::Win32Platform platform_;
};

TEST_F(Win32SystemTest, LastErrorCodeIsTheThreadsOwn) {
  Sys().SetLastError(ERROR_CANTREAD);
  EXPECT_EQ(ERROR_CANTREAD, Sys().GetLastError());
}

TEST_F(Win32SystemTest, SystemTextOfAKnownCodeEndsInAFullStopAndLineBreak) {
  const std::string text = Sys().FormatMessageText(ERROR_ACCESS_DENIED);
  ASSERT_GE(text.size(), 3u);
  EXPECT_EQ('\n', text.back());
}

TEST_F(Win32SystemTest, TrimmedSystemMessageHasNoTrailingStopOrSpace) {
  const std::string text = SysErrorMessage(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(text.empty());
  EXPECT_NE('.', text.back());
  EXPECT_NE('\n', text.back());
}

TEST_F(Win32SystemTest, UnknownCodeHasNoText) {
  EXPECT_EQ("", Sys().FormatMessageText(0x3FFFFFFFu));
}

TEST_F(Win32SystemTest, PerformanceCounterRunsForwardAtItsFrequency) {
  LONGLONG f = 0, a = 0, b = 0;
  ASSERT_TRUE(Clocks().QueryPerformanceFrequency(&f));
  EXPECT_GT(f, 0);
  ASSERT_TRUE(Clocks().QueryPerformanceCounter(&a));
  Clocks().Sleep(20);
  ASSERT_TRUE(Clocks().QueryPerformanceCounter(&b));
  // At least 15 ms of counts passed (sleeping may end a little early on coarse timers).
  EXPECT_GE(b - a, f * 15 / 1000);
}

TEST_F(Win32SystemTest, MultimediaClockAndTickCountAdvanceWithSleeping) {
  const DWORD t0 = Clocks().timeGetTime(), k0 = Clocks().GetTickCount();
  Clocks().Sleep(30);
  // Unsigned differences stay right across the 32-bit wrap.
  EXPECT_GE(Clocks().timeGetTime() - t0, 20u);
  EXPECT_GE(Clocks().GetTickCount() - k0, 15u);
}

}  // namespace

#endif  // _WIN32
