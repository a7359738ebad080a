#!/usr/bin/env python3
"""Writes sample.wav: eight 32-bit float samples, mono, 8000 Hz, with fact, LIST/INFO
and cue chunks around the data (RIFF chunks, little-endian).

Deterministic and standard library only; run it from anywhere."""
import os
import struct

RATE, CHANNELS, BITS = 8000, 1, 32
SAMPLES = [0.0, 0.5, 1.0, 0.5, 0.0, -0.5, -1.0, -0.5]


def chunk(tag, body):
    pad = b"\0" if len(body) % 2 else b""
    return tag + struct.pack("<I", len(body)) + body + pad


fmt = struct.pack("<HHIIHHH", 3, CHANNELS, RATE, RATE * CHANNELS * BITS // 8,
                  CHANNELS * BITS // 8, BITS, 0)
fact = struct.pack("<I", len(SAMPLES))
info = chunk(b"INAM", b"Vellum tone\0") + chunk(b"ISFT", b"make_sample.py\0")
data = b"".join(struct.pack("<f", s) for s in SAMPLES)
cue = struct.pack("<I", 0)

body = b"WAVE" + chunk(b"fmt ", fmt) + chunk(b"fact", fact) + \
    chunk(b"LIST", b"INFO" + info) + chunk(b"cue ", cue) + chunk(b"data", data)
path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample.wav")
with open(path, "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", len(body)) + body)
