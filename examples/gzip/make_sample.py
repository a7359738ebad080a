#!/usr/bin/env python3
"""Writes sample.gz: one gzip member holding a short text, with every optional
header field the format has: an extra field with one subfield, the original file
name and a comment (both ending in a zero byte) and the header's own CRC-16.

Deterministic and standard library only (the modification time is fixed, the
compression level too); run it from anywhere. `gzip -lv sample.gz` and
`gzip -dc sample.gz` read it back."""
import os
import struct
import zlib

FTEXT, FHCRC, FEXTRA, FNAME, FCOMMENT = 1, 2, 4, 8, 16

text = (b"Vellum shows the contents of a binary file through a layout.\n" * 3 +
        b"A gzip member starts with a ten-byte header.\n")
modified = 1700000000                 # 2023-11-14 22:13:20 UTC
extra = b"Vl" + struct.pack("<H", 6) + b"layout"   # subfield id "Vl", 6 bytes of data

header = struct.pack("<BBBBIBB", 0x1F, 0x8B, 8, FTEXT | FHCRC | FEXTRA | FNAME | FCOMMENT,
                     modified, 2, 3)  # deflate; extra flags 2: best compression; OS 3: Unix
header += struct.pack("<H", len(extra)) + extra
header += b"notes.txt\0"
header += b"made by make_sample.py\0"
header += struct.pack("<H", zlib.crc32(header) & 0xFFFF)

compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
deflated = compressor.compress(text) + compressor.flush()
trailer = struct.pack("<II", zlib.crc32(text), len(text))

path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample.gz")
with open(path, "wb") as f:
    f.write(header + deflated + trailer)
