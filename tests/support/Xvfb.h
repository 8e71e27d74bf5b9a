// A virtual X display of the test program's own (Xvfb, 640x480, 24 bits), for the tests of the X11 backend.
// Registered as a GoogleTest environment, it starts before the first test, puts its name in DISPLAY, and
// ends with the last test (or with the test program, should that crash). Where Xvfb is not installed,
// Running() stays false and the tests say so. Also: a stand-in for a desktop program's window.
#pragma once

#ifdef DS_HAVE_X11

#include <gtest/gtest.h>

struct _XDisplay;

namespace support {

class Xvfb : public ::testing::Environment {
 public:
  static bool Running();
  void SetUp() override;
  void TearDown() override;
};

// What a desktop program and the window manager put on the display: a screen-sized window of desktop type,
// listed in the root window's _NET_CLIENT_LIST. Returns the window.
unsigned long MakeStandInDesktop(_XDisplay* display);
// Takes it away again, as when the desktop program ends.
void EndStandInDesktop(_XDisplay* display, unsigned long window);

}  // namespace support

#endif  // DS_HAVE_X11
