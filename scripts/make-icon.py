#!/usr/bin/env python3
"""Draws the program's icon: a white six-armed snowflake on a deep blue disc, at 16, 24, 32, 48 and 64
pixels, written as a Windows icon file of 32-bit images with alpha; with --png, the same picture as PNG
files for the Linux desktop's icon theme (assets/icons/desktop-snow-<size>.png).

Usage: scripts/make-icon.py [OUTPUT]   (default app/desktop-snow.ico)
       scripts/make-icon.py --png [DIR]   (default assets/icons)

The picture is procedural so that it can be regenerated bit for bit; the committed file is the output of
this script and nothing else.
"""
import math
import os
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64)
PNG_SIZES = (16, 24, 32, 48, 64, 128, 256)
SAMPLES = 4  # per axis, for antialiased edges
DISC = (0x6E, 0x3B, 0x1D)      # blue-green-red of the background disc
DISC_EDGE = (0xB0, 0x7A, 0x3C)  # a lighter rim so the disc reads on dark backgrounds
FLAKE = (0xFF, 0xFF, 0xFF)


def flake_segments():
    """Six arms, each with two pairs of side branches, in a unit circle of radius 1 around the origin."""
    segs = []
    for k in range(6):
        a = math.radians(90 + 60 * k)
        ux, uy = math.cos(a), math.sin(a)
        segs.append((0.0, 0.0, 0.78 * ux, 0.78 * uy))
        for along, length in ((0.38, 0.22), (0.58, 0.15)):
            bx, by = along * ux, along * uy
            for side in (-1, 1):
                b = a + side * math.radians(45)
                segs.append((bx, by, bx + length * math.cos(b), by + length * math.sin(b)))
    return segs


def dist_to_segment(px, py, seg):
    x0, y0, x1, y1 = seg
    dx, dy = x1 - x0, y1 - y0
    t = ((px - x0) * dx + (py - y0) * dy) / (dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    ex, ey = x0 + t * dx - px, y0 + t * dy - py
    return math.hypot(ex, ey)


def render(size):
    """Returns rows top-down of (b, g, r, a) tuples."""
    segs = flake_segments()
    # Thin icons need relatively thicker strokes to stay visible.
    half_width = max(0.055, 0.75 / size)
    rows = []
    n = SAMPLES * SAMPLES
    for y in range(size):
        row = []
        for x in range(size):
            cover = 0
            acc = [0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    px = ((x + (sx + 0.5) / SAMPLES) / size) * 2 - 1
                    py = ((y + (sy + 0.5) / SAMPLES) / size) * 2 - 1
                    r = math.hypot(px, py)
                    if r > 0.98:
                        continue
                    cover += 1
                    if min(dist_to_segment(px, py, s) for s in segs) <= half_width:
                        colour = FLAKE
                    elif r > 0.98 - max(0.06, 1.5 / size):
                        colour = DISC_EDGE
                    else:
                        colour = DISC
                    for i in range(3):
                        acc[i] += colour[i]
            if cover == 0:
                row.append((0, 0, 0, 0))
            else:
                b, g, r_ = (int(round(c / cover)) for c in acc)
                row.append((b, g, r_, int(round(255 * cover / n))))
        rows.append(row)
    return rows


def icon_image(size):
    """One icon image: header, bottom-up 32-bit colour rows, bottom-up 1-bit transparency mask."""
    rows = render(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b''.join(bytes(p) for row in reversed(rows) for p in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + colour + bytes(mask)


def png_image(size):
    """A PNG file of 8-bit RGBA, unfiltered rows, compressed at the highest level (same bytes every run)."""
    rows = render(size)
    raw = b''.join(b'\0' + b''.join(bytes((p[2], p[1], p[0], p[3])) for p in row) for row in rows)

    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))

    ihdr = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) + chunk(b'IDAT', zlib.compress(raw, 9)) +
            chunk(b'IEND', b''))


def write_pngs(out_dir):
    os.makedirs(out_dir, exist_ok=True)
    for size in PNG_SIZES:
        data = png_image(size)
        with open(os.path.join(out_dir, 'desktop-snow-%d.png' % size), 'wb') as f:
            f.write(data)


def main():
    if len(sys.argv) > 1 and sys.argv[1] == '--png':
        write_pngs(sys.argv[2] if len(sys.argv) > 2 else os.path.join(
            os.path.dirname(os.path.abspath(__file__)), '..', 'assets', 'icons'))
        return
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), '..', 'app', 'desktop-snow.ico')
    images = [icon_image(s) for s in SIZES]
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, img in zip(SIZES, images):
        data += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    data += b''.join(images)
    with open(out, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main()
