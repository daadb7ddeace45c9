#!/usr/bin/env python3
"""Checks that a screenshot is a frame of the recorder, exactly.

    same_frame.py SHOT.png FRAME.bin FRAME.rgb

SHOT.png must be an 8-bit indexed 320x200 PNG whose indices equal FRAME.bin
(the recorder's 64000 palette indices) and whose palette gives, pixel for
pixel, the colours of FRAME.rgb (the recorder's PNG as raw RGB). Prints one
line and exits 1 on the first difference.
"""
import struct
import sys
import zlib


def read_indexed_png(path):
    data = open(path, 'rb').read()
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        sys.exit(f'{path}: not a PNG')
    at, idat, header, palette = 8, b'', None, None
    while at < len(data):
        length, kind = struct.unpack('>I4s', data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        at += 12 + length
        if kind == b'IHDR':
            header = struct.unpack('>IIBBBBB', body)
        elif kind == b'PLTE':
            palette = [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]
        elif kind == b'IDAT':
            idat += body
    width, height, depth, colour_type, _, _, interlace = header
    if (width, height, depth, colour_type, interlace) != (320, 200, 8, 3, 0):
        sys.exit(f'{path}: {width}x{height}, depth {depth}, colour type {colour_type}, '
                 f'interlace {interlace}: not a 320x200 8-bit indexed picture')
    raw = zlib.decompress(idat)
    rows, previous = [], bytearray(width)
    for y in range(height):
        line = raw[y * (width + 1):(y + 1) * (width + 1)]
        kind, row = line[0], bytearray(line[1:])
        for x in range(width):
            a = row[x - 1] if x > 0 else 0
            b = previous[x]
            c = previous[x - 1] if x > 0 else 0
            if kind == 1:
                row[x] = (row[x] + a) & 255
            elif kind == 2:
                row[x] = (row[x] + b) & 255
            elif kind == 3:
                row[x] = (row[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                row[x] = (row[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(row))
        previous = row
    return b''.join(rows), palette


shot, bin_path, rgb_path = sys.argv[1:4]
indices, palette = read_indexed_png(shot)
want = open(bin_path, 'rb').read()
rgb = open(rgb_path, 'rb').read()
for i in range(64000):
    if indices[i] != want[i]:
        sys.exit(f'{shot}: pixel ({i % 320},{i // 320}) has index {indices[i]}, the recorder {want[i]}')
    if palette[indices[i]] != tuple(rgb[3 * i:3 * i + 3]):
        sys.exit(f'{shot}: pixel ({i % 320},{i // 320}) shows {palette[indices[i]]}, '
                 f'the recorder {tuple(rgb[3 * i:3 * i + 3])}')
print(f'{shot}: indices and colours equal the recorded frame')
