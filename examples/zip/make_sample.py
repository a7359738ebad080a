#!/usr/bin/env python3
"""Writes sample.zip: two files, one stored and one deflated, with fixed dates and
attributes so that the archive is the same on every run. Standard library only."""
import io
import os
import zipfile

FILES = [
    ("hello.txt", b"Hello, Vellum!\n", zipfile.ZIP_STORED),
    ("notes/readme.txt", b"abcabcabcabcabcabcabcabcabcabc\n", zipfile.ZIP_DEFLATED),
]

buffer = io.BytesIO()
with zipfile.ZipFile(buffer, "w") as archive:
    for name, data, method in FILES:
        info = zipfile.ZipInfo(name, date_time=(2024, 5, 17, 12, 30, 0))
        info.compress_type = method
        info.create_system = 3          # Unix
        info.external_attr = 0o100644 << 16
        archive.writestr(info, data)

path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample.zip")
with open(path, "wb") as f:
    f.write(buffer.getvalue())
