#!/usr/bin/env python3
"""Writes sample.tar: a ustar archive with a directory and two small files, fixed
owners and dates, ending with the two zero blocks (without the padding to a full
10 KiB record, to keep the sample small). Standard library only."""
import io
import os
import tarfile

ENTRIES = [
    ("docs", None),
    ("docs/hello.txt", b"Hello, Vellum!\n"),
    ("notes.txt", b"Blocks of 512 bytes.\n"),
]

buffer = io.BytesIO()
with tarfile.open(fileobj=buffer, mode="w", format=tarfile.USTAR_FORMAT) as archive:
    for name, data in ENTRIES:
        info = tarfile.TarInfo(name)
        info.mtime = 1715949000
        info.uid = info.gid = 1000
        info.uname = info.gname = "vellum"
        if data is None:
            info.type = tarfile.DIRTYPE
            info.mode = 0o755
            archive.addfile(info)
        else:
            info.size = len(data)
            info.mode = 0o644
            archive.addfile(info, io.BytesIO(data))

data = buffer.getvalue()
blocks = [data[i:i + 512] for i in range(0, len(data), 512)]
end = next(i for i, b in enumerate(blocks) if not any(b))  # first zero header block
path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample.tar")
with open(path, "wb") as f:
    f.write(b"".join(blocks[:end]) + bytes(1024))
