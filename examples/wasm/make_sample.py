#!/usr/bin/env python3
"""Writes sample.wasm: a small WebAssembly module, assembled by hand. In text form:

    (module $sample
      (type (func (param i32 i32) (result i32)))
      (type (func (param i32)))
      (import "env" "log" (func $log (type 1)))
      (memory 1 4)
      (global $offset (mut i32) (i32.const -300))
      (func $add (type 0) (local i64) local.get 0 local.get 1 i32.add)
      (func $main (type 1) local.get 0 global.get $offset i32.add call $log)
      (export "add" (func $add))
      (export "memory" (memory 0))
      (data (i32.const 1024) "Hello, Vellum!"))

with the names of the module and its functions in a "name" custom section.

Every size and count is an unsigned LEB128 number, the constant of the global a
signed one. One size is written in five bytes (padded), as some tools do to
patch sizes in place. Deterministic and standard library only; run it from
anywhere."""
import os


def uleb(value, width=0):
    out = bytearray()
    while True:
        byte = value & 0x7F
        value >>= 7
        more = value != 0 or len(out) + 1 < width
        out.append(byte | (0x80 if more else 0))
        if not more:
            return bytes(out)


def sleb(value):
    out = bytearray()
    while True:
        byte = value & 0x7F
        value >>= 7
        done = (value == 0 and not byte & 0x40) or (value == -1 and byte & 0x40)
        out.append(byte | (0 if done else 0x80))
        if done:
            return bytes(out)


def name(text):
    return uleb(len(text)) + text.encode()


def vector(items):
    return uleb(len(items)) + b"".join(items)


def section(number, body, width=0):
    return bytes([number]) + uleb(len(body), width) + body


I32, I64 = 0x7F, 0x7E
types = vector([bytes([0x60]) + vector([bytes([I32]), bytes([I32])]) + vector([bytes([I32])]),
                bytes([0x60]) + vector([bytes([I32])]) + vector([])])
imports = vector([name("env") + name("log") + bytes([0x00]) + uleb(1)])
functions = vector([uleb(0), uleb(1)])
memory = vector([bytes([0x01]) + uleb(1) + uleb(4)])
globals_ = vector([bytes([I32, 0x01, 0x41]) + sleb(-300) + bytes([0x0B])])
exports = vector([name("add") + bytes([0x00]) + uleb(1),
                  name("memory") + bytes([0x02]) + uleb(0)])


def body(locals_, code):
    content = vector(locals_) + code + bytes([0x0B])
    return uleb(len(content)) + content


codes = vector([
    body([uleb(1) + bytes([I64])], bytes([0x20, 0, 0x20, 1, 0x6A])),
    body([], bytes([0x20, 0, 0x23, 0, 0x6A, 0x10, 0])),
])
data = vector([uleb(0) + bytes([0x41]) + sleb(1024) + bytes([0x0B]) + name("Hello, Vellum!")])
# The "name" custom section: the module's name, then the functions' names.
module_name = name("sample")
function_names = vector([uleb(0) + name("log"), uleb(1) + name("add"), uleb(2) + name("main")])
names = name("name") + bytes([0]) + uleb(len(module_name)) + module_name + \
    bytes([1]) + uleb(len(function_names)) + function_names

module = b"\0asm" + (1).to_bytes(4, "little")
module += section(1, types) + section(2, imports) + section(3, functions)
module += section(5, memory) + section(6, globals_) + section(7, exports)
module += section(10, codes, width=5) + section(11, data) + section(0, names)

path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample.wasm")
with open(path, "wb") as f:
    f.write(module)
