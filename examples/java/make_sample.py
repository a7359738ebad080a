#!/usr/bin/env python3
"""Writes Sample.class: a Java class file (version 61, Java 17) assembled by hand,
the compiled form of

    public class Sample implements Runnable {
        static final long SEED = 6364136223846793005L;
        static final double RATIO = 1.5;
        private final int count;
        public Sample() { this.count = 3; }
        public void run() { System.out.println("Hello from Vellum"); }
    }

Its constant pool holds each kind of constant the class needs, a long and a
double (which take two pool entries each) among them; the class has one
interface, three fields and two methods. Deterministic and standard library
only; run it from anywhere. (`javap -v Sample.class` lists the same content.)"""
import os
import struct

pool = []      # (tag, payload) per entry; long and double are followed by a gap
index_of = {}


def add(key, tag, payload, wide=False):
    if key in index_of:
        return index_of[key]
    pool.append((tag, payload))
    index_of[key] = len(pool)
    if wide:
        pool.append(None)  # the unusable entry after a long or a double
    return index_of[key]


def utf8(text):
    data = text.encode()
    return add(("utf8", text), 1, struct.pack(">H", len(data)) + data)


def klass(name):
    return add(("class", name), 7, struct.pack(">H", utf8(name)))


def name_and_type(name, descriptor):
    return add(("nat", name, descriptor), 12, struct.pack(">HH", utf8(name), utf8(descriptor)))


def ref(tag, owner, name, descriptor):
    return add((tag, owner, name, descriptor), tag,
               struct.pack(">HH", klass(owner), name_and_type(name, descriptor)))


this_class = klass("Sample")
super_class = klass("java/lang/Object")
runnable = klass("java/lang/Runnable")
object_init = ref(10, "java/lang/Object", "<init>", "()V")
count_field = ref(9, "Sample", "count", "I")
out_field = ref(9, "java/lang/System", "out", "Ljava/io/PrintStream;")
hello = add(("string", "Hello from Vellum"), 8, struct.pack(">H", utf8("Hello from Vellum")))
println = ref(10, "java/io/PrintStream", "println", "(Ljava/lang/String;)V")
seed = add(("long",), 5, struct.pack(">q", 6364136223846793005), wide=True)
ratio = add(("double",), 6, struct.pack(">d", 1.5), wide=True)
for text in ("SEED", "J", "RATIO", "D", "count", "ConstantValue", "Code", "run", "SourceFile",
             "Sample.java"):
    utf8(text)


def attribute(name, body):
    return struct.pack(">HI", utf8(name), len(body)) + body


def code(max_stack, max_locals, instructions):
    return attribute("Code", struct.pack(">HHI", max_stack, max_locals, len(instructions)) +
                     instructions + struct.pack(">HH", 0, 0))  # no exception table, no attributes


def member(flags, name, descriptor, attributes):
    return struct.pack(">HHHH", flags, utf8(name), utf8(descriptor), len(attributes)) + \
        b"".join(attributes)


fields = [
    member(0x0018, "SEED", "J", [attribute("ConstantValue", struct.pack(">H", seed))]),
    member(0x0018, "RATIO", "D", [attribute("ConstantValue", struct.pack(">H", ratio))]),
    member(0x0012, "count", "I", []),
]
methods = [
    # aload_0; invokespecial Object.<init>; aload_0; iconst_3; putfield count; return
    member(0x0001, "<init>", "()V", [code(2, 1, bytes([0x2A, 0xB7]) + struct.pack(">H", object_init) +
                                          bytes([0x2A, 0x06, 0xB5]) + struct.pack(">H", count_field) +
                                          bytes([0xB1]))]),
    # getstatic System.out; ldc "Hello from Vellum"; invokevirtual println; return
    member(0x0001, "run", "()V", [code(2, 1, bytes([0xB2]) + struct.pack(">H", out_field) +
                                       bytes([0x12, hello, 0xB6]) + struct.pack(">H", println) +
                                       bytes([0xB1]))]),
]
class_attributes = [attribute("SourceFile", struct.pack(">H", utf8("Sample.java")))]

constant_pool = b"".join(bytes([tag]) + payload for tag, payload in
                         (entry for entry in pool if entry is not None))
data = struct.pack(">IHHH", 0xCAFEBABE, 0, 61, len(pool) + 1) + constant_pool + \
    struct.pack(">HHHH", 0x0021, this_class, super_class, 1) + struct.pack(">H", runnable) + \
    struct.pack(">H", len(fields)) + b"".join(fields) + \
    struct.pack(">H", len(methods)) + b"".join(methods) + \
    struct.pack(">H", len(class_attributes)) + b"".join(class_attributes)

path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "Sample.class")
with open(path, "wb") as f:
    f.write(data)
