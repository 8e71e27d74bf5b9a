// The one place the X headers enter for code that works with the display directly: the X11 backend's own
// files and the tests that look at what it put on the display. Everything else reaches the desktop through
// the platform's services. XTest is declared here too; only the tests link it, to play a user's keys.
#pragma once

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
