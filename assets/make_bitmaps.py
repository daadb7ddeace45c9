#!/usr/bin/env python3
"""Draws the sprite pictures of the levels as PNG files in assets/bitmaps/.

The PNGs are the sources the build compiles (bitmapc maps every colour to the
nearest palette entry); this script is how they were first drawn, kept so the
pictures can be changed in code. Colours are taken from the game's palette
ramps so that the mapping is exact. Standard library only.

    python3 assets/make_bitmaps.py
"""
import math
import os
import struct
import zlib

# The palette's ramp lists, shade 0..23, and the ramps built from them.
B = [0, 3, 6, 8, 11, 14, 17, 20, 22, 25, 28, 31, 33, 36, 39, 42, 44, 47, 50, 53, 56, 58, 61, 63]
H = [0, 2, 3, 4, 6, 7, 8, 10, 11, 13, 14, 15, 17, 18, 20, 21, 22, 24, 25, 27, 28, 29, 31, 32]
Z = [0] * 24
R = [0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 29, 31, 33, 35, 37, 39, 41, 43, 45]
G = [0, 1, 2, 2, 3, 4, 4, 5, 6, 6, 7, 8, 8, 9, 10, 11, 11, 12, 13, 13, 14, 15, 15, 16]
Q = [0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 12, 12, 13]
RAMPS = {"red": (B, Z, Z), "green": (Z, B, Z), "blue": (Z, Z, B), "cyan": (Z, B, B),
         "yellow": (B, B, Z), "grey": (B, B, B), "orange": (B, H, Z), "purple": (B, Q, B),
         "magenta": (B, Z, H), "sky": (R, G, B)}
CLEAR = None


def shade(ramp, level):
    r, g, b = (lst[level] for lst in RAMPS[ramp])
    return tuple((c << 2) | (c >> 4) for c in (r, g, b))


def write_png(path, rows):
    height, width = len(rows), len(rows[0])
    raw = b""
    for row in rows:
        raw += b"\0" + b"".join(bytes((0, 0, 0, 0)) if p is CLEAR else bytes(p + (255,))
                                for p in row)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def blank(width, height):
    return [[CLEAR] * width for _ in range(height)]


def tree():
    """A broad-leaved tree: a round crown lit from the upper left, a trunk."""
    img = blank(16, 32)
    for y in range(32):
        for x in range(16):
            if y >= 20 and 6 <= x <= 9 or y >= 29 and 5 <= x <= 10:
                img[y][x] = shade("orange", 9 if x < 8 else 6)
    cx, cy, r = 7.5, 10.5, 8.0
    for y in range(22):
        for x in range(16):
            dx, dy = x - cx, (y - cy) * 0.8
            d = (dx * dx + dy * dy) ** 0.5
            if d > r:
                continue
            light = 15 - (dx + dy) * 0.9 - (3 if d > r - 1.2 else 0)
            light += 2 if (x * 7 + y * 5) % 5 == 0 else 0   # leafy speckle
            img[y][x] = shade("green", max(5, min(21, int(light))))
    return img


def pine():
    """A conifer: three tiers of dark needles over a short trunk."""
    img = blank(16, 32)
    for y in range(26, 32):
        for x in (7, 8):
            img[y][x] = shade("orange", 7)
    for top, bottom in ((0, 11), (6, 19), (13, 27)):
        for y in range(top, bottom):
            half = 1 + (y - top) * 7.5 / (bottom - top)
            for x in range(16):
                dx = x - 7.5
                if abs(dx) <= half:
                    level = 13 - int(dx * 0.8) - (2 if y == bottom - 1 else 0)
                    img[y][x] = shade("green", max(4, min(18, level)))
    return img


def flag():
    """The start gantry: a chequered banner between two grey posts."""
    img = blank(32, 16)
    for y in range(16):
        for x in (0, 1, 30, 31):
            img[y][x] = shade("grey", 15 if x in (0, 30) else 10)
    for y in range(6):
        for x in range(2, 30):
            white = ((x - 2) // 2 + y // 2) % 2 == 0
            img[y][x] = shade("grey", 23 if white else 2)
    for x in range(2, 30):
        img[6][x] = shade("red", 16)
    return img


def sign():
    """A bend sign: yellow chevrons pointing right on black, on two posts."""
    img = blank(32, 16)
    for y in range(10):
        for x in range(32):
            edge = y in (0, 9) or x in (0, 31)
            # chevrons: a '>' of width 3 every 8 columns
            u = (x + abs(y - 4.5) * 1.2) % 8
            img[y][x] = shade("yellow", 23 if not edge and u < 3 else 4 if edge else 1)
    for y in range(10, 16):
        for x in (9, 10, 21, 22):
            img[y][x] = shade("grey", 14 if x in (9, 21) else 9)
    return img


def backdrop(height, sky, land, ground, skyline):
    """A piece of the ring round a level: sky above the middle row, a band of
    land whose top follows skyline(x), ground below. The picture is drawn
    centred on the ground far away, so its middle row lies on the horizon."""
    img = blank(32, height)
    middle = height // 2
    for y in range(height):
        for x in range(32):
            top = middle - skyline(x)
            if y < top:
                img[y][x] = sky(y, middle)
            elif y < middle + 1:
                img[y][x] = land(x, y)
            else:
                img[y][x] = ground(y - middle)
    return img


def sky2():
    """Level 2's backdrop: a clear blue sky over green hills by the sea."""
    def sky(y, middle):
        return shade("cyan", 23 - min(10, (middle - y) // 2)) if y > middle - 6 else \
            shade("blue", max(14, 23 - (middle - 6 - y) // 3))
    hills = lambda x: 2 + round(1.5 + 1.5 * math.sin(x * 2 * math.pi / 32) +
                                math.sin(x * 6 * math.pi / 32 + 1))
    return backdrop(40, sky, lambda x, y: shade("green", 7 if y < 18 else 8),
                    lambda d: shade("green", 9), hills)


def sky3():
    """Level 3's backdrop: a dusk sky, orange at the horizon, over a skyline."""
    def sky(y, middle):
        d = middle - y
        if d < 5:
            return shade("orange", 20 - d)
        if d < 9:
            return shade("magenta", 20 - (d - 5))
        return shade("sky", max(6, 19 - (d - 9) // 2))
    towers = lambda x: [2, 4, 4, 3, 6, 6, 2, 3, 5, 5, 5, 2, 7, 7, 3, 2][x // 2]
    land = lambda x, y: shade("yellow", 18) if (x * 5 + y * 3) % 11 == 0 else shade("grey", 4)
    return backdrop(48, sky, land, lambda d: shade("grey", 7 - min(4, d // 4)), towers)


def main():
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "bitmaps")
    os.makedirs(here, exist_ok=True)
    for name, draw in (("tree", tree), ("pine", pine), ("flag", flag), ("sign", sign),
                       ("sky2", sky2), ("sky3", sky3)):
        write_png(os.path.join(here, name + ".png"), draw())


if __name__ == "__main__":
    main()
