#!/usr/bin/env python3
"""Writes sample.bmp: a 4 x 3 pixel, 8-bit palette bitmap (82 bytes).

Deterministic and standard library only; run it from anywhere."""
import os
import struct

WIDTH, HEIGHT, BPP = 4, 3, 8
PALETTE = [  # blue, green, red, reserved
    (0x00, 0x00, 0x00, 0),  # black
    (0xFF, 0xFF, 0xFF, 0),  # white
    (0x00, 0x00, 0xFF, 0),  # red
    (0xFF, 0x80, 0x00, 0),  # azure
]
ROWS = [  # bottom row first, as the format stores them
    [0, 1, 2, 3],
    [1, 2, 3, 0],
    [2, 3, 0, 1],
]

row_size = (WIDTH * BPP + 31) // 32 * 4
pixels = b"".join(bytes(r) + bytes(row_size - WIDTH) for r in ROWS)
palette = b"".join(bytes(p) for p in PALETTE)
info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, BPP, 0, len(pixels),
                   2835, 2835, len(PALETTE), 0)
offset = 14 + len(info) + len(palette)
header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)

path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample.bmp")
with open(path, "wb") as f:
    f.write(header + info + palette + pixels)
