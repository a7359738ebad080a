#!/usr/bin/env python3
"""Writes sample.mid: a Standard MIDI File (format 1, two tracks). The first track
holds the tempo, time signature and a name; the second plays a C major chord with
running status (status bytes left out when they repeat). Standard library only."""
import os
import struct


def vlq(n):  # variable-length quantity: 7 bits per byte, high bit = more follows
    out = [n & 0x7F]
    while n > 0x7F:
        n >>= 7
        out.insert(0, (n & 0x7F) | 0x80)
    return bytes(out)


def chunk(tag, body):
    return tag + struct.pack(">I", len(body)) + body


def meta(delta, kind, data):
    return vlq(delta) + bytes([0xFF, kind]) + vlq(len(data)) + data


tempo = meta(0, 0x03, b"Tempo track") + meta(0, 0x58, bytes([4, 2, 24, 8])) + \
    meta(0, 0x51, (500000).to_bytes(3, "big")) + meta(0, 0x2F, b"")
notes = meta(0, 0x03, b"Chord") + \
    vlq(0) + bytes([0xC0, 0]) + \
    vlq(0) + bytes([0xB0, 7, 100]) + \
    vlq(0) + bytes([0x90, 60, 80]) + \
    vlq(0) + bytes([64, 80]) + \
    vlq(0) + bytes([67, 80]) + \
    vlq(960) + bytes([0x80, 60, 0]) + \
    vlq(0) + bytes([64, 0]) + \
    vlq(0) + bytes([67, 0]) + \
    meta(0, 0x2F, b"")

midi = chunk(b"MThd", struct.pack(">HHH", 1, 2, 480)) + chunk(b"MTrk", tempo) + \
    chunk(b"MTrk", notes)
path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample.mid")
with open(path, "wb") as f:
    f.write(midi)
