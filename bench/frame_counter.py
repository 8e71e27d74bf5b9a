#!/usr/bin/env python3
"""Counts the frames a program shows on an X display, from the outside: the X DAMAGE extension reports each
time the screen's contents change (any window, so the snow of one program or another), and the counter takes
the report back at once, so every frame the server draws counts once.

  frame_counter.py SECONDS   prints the frames per second seen over that many seconds
"""
import ctypes
import ctypes.util
import os
import select
import sys
import time

x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
damage = ctypes.CDLL(ctypes.util.find_library("Xdamage") or "libXdamage.so.1")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XConnectionNumber.argtypes = [ctypes.c_void_p]
x11.XPending.argtypes = [ctypes.c_void_p]
x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]
damage.XDamageQueryExtension.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int)]
damage.XDamageCreate.restype = ctypes.c_ulong
damage.XDamageCreate.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int]
damage.XDamageSubtract.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong]

REPORT_NON_EMPTY = 3  # XDamageReportNonEmpty: one report whenever the damage turns from empty to non-empty


def main(argv):
    seconds = float(argv[1])
    dpy = x11.XOpenDisplay(None)
    if not dpy:
        raise SystemExit("frame_counter: cannot open the display")
    event_base, error_base = ctypes.c_int(), ctypes.c_int()
    if not damage.XDamageQueryExtension(dpy, ctypes.byref(event_base), ctypes.byref(error_base)):
        raise SystemExit("frame_counter: no DAMAGE extension")
    handle = damage.XDamageCreate(dpy, x11.XDefaultRootWindow(dpy), REPORT_NON_EMPTY)
    x11.XFlush(dpy)
    event = ctypes.create_string_buffer(192)
    fd = x11.XConnectionNumber(dpy)
    frames = 0
    end = time.monotonic() + seconds
    while True:
        left = end - time.monotonic()
        if left <= 0:
            break
        if not x11.XPending(dpy):
            select.select([fd], [], [], left)
            continue
        while x11.XPending(dpy):
            x11.XNextEvent(dpy, event)
            kind = int.from_bytes(event.raw[:4], sys.byteorder, signed=True)
            if kind == event_base.value:  # XDamageNotify
                frames += 1
        # Taking the damage back re-arms the report for the next frame.
        damage.XDamageSubtract(dpy, handle, 0, 0)
        x11.XFlush(dpy)
    print("%.1f" % (frames / seconds))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
