#!/usr/bin/env python3
"""Draws the updater's icon: a pedal with a footswitch and a download arrow.

    make_icon.py --png DIR      writes icon-48.png, icon-32.png, icon-16.png (RGBA)
    make_icon.py --ico FILE     writes one .ico with nine images: 48, 32 and 16
                                pixels square, each at 4, 8 and 24 bits per pixel

Standard library only; the output is the same byte for byte on every run.
"""

import argparse
import math
import os
import struct
import zlib

SIZES = (48, 32, 16)
SUPERSAMPLE = 4

BODY_TOP = (70, 96, 140)
BODY_BOTTOM = (34, 50, 82)
BODY_EDGE = (18, 26, 44)
SWITCH = (196, 202, 210)
SWITCH_RIM = (96, 104, 116)
KNOB = (236, 236, 236)
LED = (236, 52, 44)
ARROW = (46, 170, 72)
ARROW_EDGE = (18, 90, 36)


def rounded_rect(px, py, x0, y0, x1, y1, r):
    """Signed distance to a rounded rectangle (negative inside)."""
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r
    dx, dy = abs(px - cx) - hx, abs(py - cy) - hy
    outside = math.hypot(max(dx, 0.0), max(dy, 0.0))
    return outside + min(max(dx, dy), 0.0) - r


def circle(px, py, cx, cy, r):
    return math.hypot(px - cx, py - cy) - r


def inside_polygon(px, py, points):
    inside = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > py) != (yj > py) and px < (xj - xi) * (py - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def arrow_points(size):
    """A thick down arrow in the upper right corner, in pixel units."""
    s = size / 48.0
    shaft = [(33, 2), (43, 2), (43, 15), (47, 15), (38, 26), (29, 15), (33, 15)]
    return [(x * s, y * s) for x, y in shaft]


def arrow_outline(size):
    s = size / 48.0
    grown = [(31.5, 0.5), (44.5, 0.5), (44.5, 13.5), (48.0, 13.5), (38, 28), (27.5, 13.5), (31.5, 13.5)]
    return [(x * s, y * s) for x, y in grown]


def shade(px, py, size):
    """The colour (r, g, b, a) at a sample point, a in 0..1."""
    s = size / 48.0
    if inside_polygon(px, py, arrow_points(size)):
        return ARROW + (1.0,)
    if inside_polygon(px, py, arrow_outline(size)):
        return ARROW_EDGE + (1.0,)

    body = rounded_rect(px, py, 6 * s, 8 * s, 38 * s, 47 * s, 5 * s)
    if body > 0:
        return (0, 0, 0, 0.0)
    if body > -1.2 * max(s, 0.75):
        return BODY_EDGE + (1.0,)

    # The footswitch, with a rim.
    # (larger at the smallest size, where it is the only detail)
    sw = circle(px, py, 22 * s, 36 * s, 6.5 * s) if size > 16 else circle(px, py, 21 * s, 31 * s, 9 * s)
    if sw < -1.5 * max(s, 0.7):
        return SWITCH + (1.0,)
    if sw < 0:
        return SWITCH_RIM + (1.0,)

    # Two knobs and the status lamp; dropped at the smallest size.
    if size > 16:
        for kx in (14, 30):
            if circle(px, py, kx * s, 17 * s, 3.6 * s) < 0:
                return KNOB + (1.0,)
        if circle(px, py, 22 * s, 25 * s, 1.8 * s) < 0:
            return LED + (1.0,)

    t = min(max((py - 8 * s) / (39 * s), 0.0), 1.0)
    return tuple(round(a + (b - a) * t) for a, b in zip(BODY_TOP, BODY_BOTTOM)) + (1.0,)


def render(size):
    """Rows of (r, g, b, a) tuples, 8 bits each, straight (not premultiplied) alpha."""
    rows = []
    n = SUPERSAMPLE
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(n):
                for sx in range(n):
                    r, g, b, a = shade(x + (sx + 0.5) / n, y + (sy + 0.5) / n, size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            if acc[3] == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(acc[0] / acc[3]), round(acc[1] / acc[3]), round(acc[2] / acc[3]),
                            round(255 * acc[3] / (n * n))))
        rows.append(row)
    return rows


def png_bytes(rows):
    size = len(rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


# The sixteen colours a 4-bit icon image has always been drawn with.
VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
         (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
         (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def cube_palette():
    """6x6x6 colour cube, then a ramp of greys: 256 entries."""
    steps = (0, 51, 102, 153, 204, 255)
    pal = [(r, g, b) for r in steps for g in steps for b in steps]
    pal += [(round(i * 255 / 39),) * 3 for i in range(40)]
    return pal


def nearest(palette, rgb):
    return min(range(len(palette)),
               key=lambda i: sum((a - b) * (a - b) for a, b in zip(palette[i], rgb)))


def ico_image(rows, bpp):
    """One icon directory image: a bottom-up DIB of height 2*size, XOR then AND mask."""
    size = len(rows)
    opaque = [[px[3] >= 128 for px in row] for row in rows]
    palette = VGA16 if bpp == 4 else cube_palette() if bpp == 8 else []

    xor_rows = []
    for y in reversed(range(size)):
        row = rows[y]
        if bpp == 24:
            data = b"".join(bytes((px[2], px[1], px[0])) if opaque[y][x] else b"\0\0\0"
                            for x, px in enumerate(row))
        else:
            idx = [nearest(palette, px[:3]) if opaque[y][x] else 0 for x, px in enumerate(row)]
            if bpp == 8:
                data = bytes(idx)
            else:
                data = bytes((idx[i] << 4) | idx[i + 1] for i in range(0, size, 2))
        xor_rows.append(data + b"\0" * (-len(data) % 4))

    and_rows = []
    for y in reversed(range(size)):
        bits = 0
        out = bytearray()
        for x in range(size):
            bits = (bits << 1) | (0 if opaque[y][x] else 1)
            if x % 8 == 7:
                out.append(bits)
                bits = 0
        and_rows.append(bytes(out) + b"\0" * (-len(out) % 4))

    colours = len(palette)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bpp, 0,
                         sum(map(len, xor_rows)) + sum(map(len, and_rows)), 0, 0, colours, 0)
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + pal + b"".join(xor_rows) + b"".join(and_rows), colours


def ico_bytes(renders):
    images = []
    for size in SIZES:
        for bpp in (4, 8, 24):
            data, colours = ico_image(renders[size], bpp)
            images.append((size, bpp, colours, data))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bpp, colours, data in images:
        out += struct.pack("<BBBBHHII", size, size, colours if colours < 256 else 0, 0, 1, bpp,
                           len(data), offset)
        offset += len(data)
    return out + b"".join(d for _, _, _, d in images)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--png", metavar="DIR")
    parser.add_argument("--ico", metavar="FILE")
    args = parser.parse_args()
    if not args.png and not args.ico:
        parser.error("give --png DIR and/or --ico FILE")
    renders = {size: render(size) for size in SIZES}
    if args.png:
        os.makedirs(args.png, exist_ok=True)
        for size in SIZES:
            with open(os.path.join(args.png, f"icon-{size}.png"), "wb") as f:
                f.write(png_bytes(renders[size]))
    if args.ico:
        with open(args.ico, "wb") as f:
            f.write(ico_bytes(renders))


if __name__ == "__main__":
    main()
