#!/usr/bin/env python3
"""Writes sample.png: a 4 x 2 pixel palette image with PLTE, gAMA, tEXt, a private
chunk the layout does not know (vlNt), IDAT and IEND. PNG is big-endian.

Deterministic and standard library only; run it from anywhere."""
import os
import struct
import zlib

WIDTH, HEIGHT = 4, 2
PALETTE = [(0, 0, 0), (255, 255, 255), (255, 0, 0)]
ROWS = [[0, 1, 2, 1], [2, 1, 0, 1]]


def chunk(tag, body):
    crc = zlib.crc32(tag + body) & 0xFFFFFFFF
    return struct.pack(">I", len(body)) + tag + body + struct.pack(">I", crc)


ihdr = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 3, 0, 0, 0)
plte = b"".join(bytes(c) for c in PALETTE)
gama = struct.pack(">I", 45455)
text = b"Software\0Vellum example"
private = b"\x01\x02\x03\x04"
scanlines = b"".join(b"\0" + bytes(r) for r in ROWS)  # filter type 0 per row
idat = zlib.compress(scanlines, 9)

png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"gAMA", gama) + \
    chunk(b"PLTE", plte) + chunk(b"tEXt", text) + chunk(b"vlNt", private) + \
    chunk(b"IDAT", idat) + chunk(b"IEND", b"")
path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample.png")
with open(path, "wb") as f:
    f.write(png)
