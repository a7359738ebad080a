#!/usr/bin/env python3
"""Writes sample.elf: a complete 400-byte x86-64 Linux executable that exits with
status 0. ELF header, two program headers (LOAD, GNU_STACK), 9 bytes of code, a
section-name string table and three section headers. Standard library only."""
import os
import struct

BASE = 0x400000
EHDR, PHDR, SHDR = 64, 56, 64
CODE = bytes.fromhex("b83c000000" "31ff" "0f05")  # mov eax, 60; xor edi, edi; syscall
NAMES = b"\0.text\0.shstrtab\0"

code_offset = EHDR + 2 * PHDR
names_offset = code_offset + len(CODE)
sections_offset = (names_offset + len(NAMES) + 7) // 8 * 8

ident = b"\x7fELF" + bytes([2, 1, 1, 0, 0]) + bytes(7)   # 64-bit, little-endian, v1
header = ident + struct.pack("<HHIQQQIHHHHHH", 2, 62, 1, BASE + code_offset, EHDR,
                             sections_offset, 0, EHDR, PHDR, 2, SHDR, 3, 2)
load = struct.pack("<IIQQQQQQ", 1, 5, 0, BASE, BASE, names_offset, names_offset, 0x1000)
stack = struct.pack("<IIQQQQQQ", 0x6474E551, 6, 0, 0, 0, 0, 0, 16)
null = bytes(SHDR)
text = struct.pack("<IIQQQQIIQQ", NAMES.index(b".text"), 1, 6, BASE + code_offset,
                   code_offset, len(CODE), 0, 0, 1, 0)
strtab = struct.pack("<IIQQQQIIQQ", NAMES.index(b".shstrtab"), 3, 0, 0, names_offset,
                     len(NAMES), 0, 0, 1, 0)

image = header + load + stack + CODE + NAMES
image += bytes(sections_offset - len(image)) + null + text + strtab
path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample.elf")
with open(path, "wb") as f:
    f.write(image)
os.chmod(path, 0o755)
