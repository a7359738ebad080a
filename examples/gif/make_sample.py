#!/usr/bin/env python3
"""Writes sample.gif: a 4 x 4 pixel GIF89a with a 4-colour global colour table, a
graphic control extension, a comment extension, one image and the trailer.

The image data is valid LZW that never lets the code table grow past 3-bit codes:
a clear code precedes every pair of pixels. Deterministic, standard library only."""
import os
import struct

WIDTH = HEIGHT = 4
COLORS = [(0, 0, 0), (255, 255, 255), (255, 0, 0), (0, 0, 255)]
PIXELS = [0, 1, 2, 3,
          1, 2, 3, 0,
          2, 3, 0, 1,
          3, 0, 1, 2]
MIN_CODE_SIZE = 2
CLEAR, END = 1 << MIN_CODE_SIZE, (1 << MIN_CODE_SIZE) + 1


def lzw(pixels):
    codes = []
    for i in range(0, len(pixels), 2):
        codes += [CLEAR] + pixels[i:i + 2]
    codes.append(END)
    bits, count, out = 0, 0, bytearray()
    for code in codes:  # 3-bit codes, least significant bit first
        bits |= code << count
        count += MIN_CODE_SIZE + 1
        while count >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            count -= 8
    if count:
        out.append(bits & 0xFF)
    return bytes(out)


def sub_blocks(data, size=255):
    out = b"".join(bytes([len(data[i:i + size])]) + data[i:i + size]
                   for i in range(0, len(data), size))
    return out + b"\0"


screen = struct.pack("<HHBBB", WIDTH, HEIGHT, 0b1_001_0_001, 0, 0)  # table of 2^(1+1)
table = b"".join(bytes(c) for c in COLORS)
control = b"\x21\xF9" + sub_blocks(struct.pack("<BHB", 0b000_001_0_0, 50, 0))
comment = b"\x21\xFE" + sub_blocks(b"made by make_sample.py")
image = b"\x2C" + struct.pack("<HHHHB", 0, 0, WIDTH, HEIGHT, 0) + \
    bytes([MIN_CODE_SIZE]) + sub_blocks(lzw(PIXELS))

path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample.gif")
with open(path, "wb") as f:
    f.write(b"GIF89a" + screen + table + control + comment + image + b"\x3B")
