#!/usr/bin/env python3
"""Pictures for the end-to-end check of the Windows program: writes the test wallpaper, turns the virtual
display's framebuffer (an XWD file) into PNG, and measures what a screenshot shows.

  screen.py wallpaper OUT.bmp W H         four-quadrant 24-bit BMP
  screen.py shot FRAMEBUFFER OUT.png      copy of the screen as PNG; prints nothing
  screen.py white FRAMEBUFFER [OUT.png]   number of near-white pixels (and a copy as PNG)
  screen.py quadrants FRAMEBUFFER SW SH   checks the stretched wallpaper; prints PASS/FAIL lines
  screen.py region FRAMEBUFFER X Y W H    checksum of one rectangle of the screen
  screen.py selection FRAMEBUFFER X Y W H where a menu in that rectangle shows its selected item
  screen.py colour FRAMEBUFFER X Y W H RRGGBB WHAT   checks that the rectangle shows that colour
"""
import struct
import sys
import zlib

# Quadrant colours (R, G, B): far from white and from each other, so flakes and colours never mix up.
QUADRANTS = {
    "top-left": (200, 30, 30),
    "top-right": (30, 150, 40),
    "bottom-left": (30, 50, 200),
    "bottom-right": (200, 140, 0),
}


def write_bmp(path, width, height):
    row = (width * 3 + 3) & ~3
    pixels = bytearray()
    for y in range(height - 1, -1, -1):  # bottom-up rows
        top = y < height // 2
        line = bytearray()
        for x in range(width):
            left = x < width // 2
            name = ("top-" if top else "bottom-") + ("left" if left else "right")
            r, g, b = QUADRANTS[name]
            line += bytes((b, g, r))
        line += b"\0" * (row - width * 3)
        pixels += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


class Screen:
    """An XWD framebuffer as rows of (R, G, B)."""

    def __init__(self, path):
        with open(path, "rb") as f:
            data = f.read()
        fields = struct.unpack(">25I", data[:100])
        header_size, _version, _format, depth, width, height = fields[:6]
        byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
        red_mask, green_mask, blue_mask = fields[14], fields[15], fields[16]
        ncolors = fields[19]
        if bits_per_pixel != 32 or depth != 24:
            raise SystemExit("unexpected framebuffer format: depth %d, %d bits per pixel" % (depth, bits_per_pixel))
        offset = header_size + ncolors * 12
        self.width, self.height = width, height
        order = "<" if byte_order == 0 else ">"
        shifts = [(m & -m).bit_length() - 1 for m in (red_mask, green_mask, blue_mask)]
        self.rgb = bytearray(width * height * 3)
        out = 0
        for y in range(height):
            start = offset + y * bytes_per_line
            words = struct.unpack_from(order + "%dI" % width, data, start)
            for v in words:
                self.rgb[out] = (v >> shifts[0]) & 255
                self.rgb[out + 1] = (v >> shifts[1]) & 255
                self.rgb[out + 2] = (v >> shifts[2]) & 255
                out += 3

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def write_png(self, path):
        raw = bytearray()
        stride = self.width * 3
        for y in range(self.height):
            raw.append(0)
            raw += self.rgb[y * stride:(y + 1) * stride]

        def chunk(kind, body):
            return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

        ihdr = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(bytes(raw), 6))
                    + chunk(b"IEND", b""))

    def near_white(self, limit=200):
        """Pixels whose every channel is at least `limit`: flake centres; no wallpaper colour comes close."""
        rgb = self.rgb
        count = 0
        for i in range(0, len(rgb), 3):
            if rgb[i] >= limit and rgb[i + 1] >= limit and rgb[i + 2] >= limit:
                count += 1
        return count


def close(c, want, tol):
    return all(abs(a - b) <= tol for a, b in zip(c, want))


def check_quadrants(screen, surface_w, surface_h, tol=24, share=0.85):
    """The wallpaper must fill the whole surface: its quadrant borders lie at half the surface size (which
    reaches past the screen's right and bottom edges), not at half the screen size."""
    ok = True
    mid_x, mid_y = surface_w / 2.0, surface_h / 2.0
    regions = {
        "top-left": (0, 0, mid_x, mid_y),
        "top-right": (mid_x, 0, screen.width, mid_y),
        "bottom-left": (0, mid_y, mid_x, screen.height),
        "bottom-right": (mid_x, mid_y, screen.width, screen.height),
    }
    for name, (x0, y0, x1, y1) in regions.items():
        want = QUADRANTS[name]
        # A grid of samples kept 12 pixels away from each border (stretch filtering blurs the seams).
        xs = [int(x0 + 12 + (x1 - x0 - 24) * i / 15) for i in range(16)]
        ys = [int(y0 + 12 + (y1 - y0 - 24) * j / 15) for j in range(16)]
        samples = [screen.pixel(x, y) for x in xs for y in ys]
        good = sum(1 for c in samples if close(c, want, tol))
        # Flakes are white blended over the wallpaper: no channel darker than the wallpaper's.
        snow = sum(1 for c in samples if not close(c, want, tol) and all(a >= b - tol for a, b in zip(c, want)))
        other = len(samples) - good - snow
        passed = good >= share * len(samples) and other == 0
        ok &= passed
        print("%s: %s quadrant: %d of %d samples within %d of %s, %d under snow, %d of another colour" % (
            "PASS" if passed else "FAIL", name, good, len(samples), tol, want, snow, other))
    # Where the left colour turns into the right one along many rows (median, so flakes do not matter).
    def seam(values):
        values = sorted(v for v in values if v is not None)
        return values[len(values) // 2] if values else None

    def first_change(points, want):
        for i, c in points:
            if not close(c, want, 60):
                return i
        return None

    cols = [first_change(((x, screen.pixel(x, y)) for x in range(int(mid_x) - 60, screen.width)),
                         QUADRANTS["top-left"]) for y in range(20, int(mid_y) - 20, 7)]
    rows = [first_change(((y, screen.pixel(x, y)) for y in range(int(mid_y) - 60, screen.height)),
                         QUADRANTS["top-left"]) for x in range(20, int(mid_x) - 20, 7)]
    sx, sy = seam(cols), seam(rows)
    for axis, got, want in (("vertical", sx, mid_x), ("horizontal", sy, mid_y)):
        passed = got is not None and abs(got - want) <= 3
        ok &= passed
        print("%s: %s seam of the wallpaper at %s, expected %.1f (half the %dx%d surface) within 3" % (
            "PASS" if passed else "FAIL", axis, got, want, surface_w, surface_h))
    return ok


def main(argv):
    cmd = argv[1]
    if cmd == "wallpaper":
        write_bmp(argv[2], int(argv[3]), int(argv[4]))
    elif cmd == "shot":
        Screen(argv[2]).write_png(argv[3])
    elif cmd == "white":
        s = Screen(argv[2])
        if len(argv) > 3:
            s.write_png(argv[3])
        print(s.near_white())
    elif cmd == "region":
        # A checksum of one rectangle of the screen, to see when a menu has reacted to a key.
        s = Screen(argv[2])
        x, y, w, h = (int(v) for v in argv[3:7])
        rows = bytearray()
        for yy in range(max(0, y), min(s.height, y + h)):
            start = (yy * s.width + max(0, x)) * 3
            rows += s.rgb[start:start + 3 * max(0, min(s.width, x + w) - max(0, x))]
        print("%08x" % zlib.crc32(bytes(rows)))
    elif cmd == "selection":
        # Where a menu shows its selected item: the mean row, as a share of the window's height (0 at the top,
        # 1 at the bottom), of the rows mostly in the selection colour (a saturated blue); -1 for none.
        s = Screen(argv[2])
        x, y, w, h = (int(v) for v in argv[3:7])
        rows = []
        for yy in range(y, min(s.height, y + h)):
            xs = range(x + 4, min(s.width, x + w) - 4)
            blue = sum(1 for xx in xs if (lambda c: c[2] >= 150 and c[2] - c[0] >= 60)(s.pixel(xx, yy)))
            if xs and blue >= len(xs) // 2:
                rows.append(yy - y)
        print("%.2f" % (sum(rows) / len(rows) / h) if rows else "-1")
    elif cmd == "colour":
        # A window of one colour: nearly every pixel of the rectangle has it (snow would show as white).
        s = Screen(argv[2])
        x, y, w, h = (int(v) for v in argv[3:7])
        want = tuple(int(argv[7][i:i + 2], 16) for i in (0, 2, 4))
        points = [(xx, yy) for yy in range(y, min(s.height, y + h), 4) for xx in range(x, min(s.width, x + w), 4)]
        good = sum(1 for p in points if close(s.pixel(*p), want, 8))
        passed = bool(points) and good >= 0.98 * len(points)
        print("%s: %s: %d of %d samples of %dx%d+%d+%d are %s" % (
            "PASS" if passed else "FAIL", argv[8], good, len(points), w, h, x, y, argv[7]))
    elif cmd == "quadrants":
        s = Screen(argv[2])
        return 0 if check_quadrants(s, int(argv[3]), int(argv[4])) else 1
    else:
        raise SystemExit("unknown command " + cmd)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
