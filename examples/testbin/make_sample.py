#!/usr/bin/env python3
"""Writes test.bin: the 256 byte values 0 to 255 in order, the same file that
`vellum -test` writes. Standard library only; run it from anywhere."""
import os

path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "test.bin")
with open(path, "wb") as f:
    f.write(bytes(range(256)))
