#!/usr/bin/env python3
"""A window manager reduced to what wine waits for: it maps the windows it is asked to map, grants their
size and position, and keeps each window's WM_STATE property up to date (Normal when mapped, Withdrawn when
unmapped). Without any window manager wine waits two seconds for that property each time it shows or hides
one of its managed windows, which would stretch every start and every Exit of the program by seconds.

Usage: tinywm.py   (on $DISPLAY; runs until killed)
"""
import ctypes
import ctypes.util
import sys

xlib = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11") or "libX11.so.6")
ulong = ctypes.c_ulong

MAP_REQUEST, CONFIGURE_REQUEST, UNMAP_NOTIFY, MAP_NOTIFY = 20, 23, 18, 19
SUBSTRUCTURE_NOTIFY, SUBSTRUCTURE_REDIRECT = 1 << 19, 1 << 20
PROP_MODE_REPLACE = 0
NORMAL_STATE, WITHDRAWN_STATE = 1, 0


class AnyEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("parent", ulong), ("window", ulong)]


class UnmapEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("event", ulong), ("window", ulong), ("from_configure", ctypes.c_int)]


class ConfigureRequestEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("parent", ulong), ("window", ulong),
                ("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("above", ulong), ("detail", ctypes.c_int), ("value_mask", ulong)]


class WindowChanges(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("sibling", ulong), ("stack_mode", ctypes.c_int)]


class Event(ctypes.Union):
    _fields_ = [("any", AnyEvent), ("unmap", UnmapEvent), ("configure", ConfigureRequestEvent),
                ("pad", ctypes.c_long * 24)]


xlib.XOpenDisplay.restype = ctypes.c_void_p
xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
xlib.XDefaultRootWindow.restype = ulong
xlib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
xlib.XInternAtom.restype = ulong
xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
xlib.XSelectInput.argtypes = [ctypes.c_void_p, ulong, ctypes.c_long]
xlib.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(Event)]
xlib.XMapWindow.argtypes = [ctypes.c_void_p, ulong]
xlib.XConfigureWindow.argtypes = [ctypes.c_void_p, ulong, ctypes.c_uint, ctypes.POINTER(WindowChanges)]
xlib.XChangeProperty.argtypes = [ctypes.c_void_p, ulong, ulong, ulong, ctypes.c_int, ctypes.c_int,
                                 ctypes.c_void_p, ctypes.c_int]
xlib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
xlib.XFlush.argtypes = [ctypes.c_void_p]

# A window that is gone by the time a request about it arrives gives an error; that is not fatal here.
ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
ignore_errors = ERROR_HANDLER(lambda display, error: 0)
xlib.XSetErrorHandler(ignore_errors)


def main():
    display = xlib.XOpenDisplay(None)
    if not display:
        print("tinywm: cannot open the display", file=sys.stderr)
        return 1
    root = xlib.XDefaultRootWindow(display)
    wm_state = xlib.XInternAtom(display, b"WM_STATE", 0)
    xlib.XSelectInput(display, root, SUBSTRUCTURE_REDIRECT | SUBSTRUCTURE_NOTIFY)
    xlib.XSync(display, 0)

    def set_state(window, state):
        data = (ulong * 2)(state, 0)
        xlib.XChangeProperty(display, window, wm_state, wm_state, 32, PROP_MODE_REPLACE, data, 2)

    print("tinywm: running", flush=True)
    event = Event()
    while True:
        xlib.XNextEvent(display, ctypes.byref(event))
        kind = event.any.type
        if kind == MAP_REQUEST:
            xlib.XMapWindow(display, event.any.window)
            set_state(event.any.window, NORMAL_STATE)
        elif kind == CONFIGURE_REQUEST:
            c = event.configure
            changes = WindowChanges(c.x, c.y, c.width, c.height, c.border_width, c.above, c.detail)
            xlib.XConfigureWindow(display, c.window, c.value_mask & 0x7F, ctypes.byref(changes))
        elif kind == UNMAP_NOTIFY:
            # wine withdraws a window with a real unmap and a synthetic one sent to the root window.
            set_state(event.unmap.window, WITHDRAWN_STATE)
        xlib.XFlush(display)


if __name__ == "__main__":
    sys.exit(main())
