#!/usr/bin/env python3
"""Writes sample.pcap: a packet capture of four Ethernet frames (two UDP datagrams
over IPv4, an IPv4 datagram carrying ICMP, and an ARP request), written by a
big-endian machine, so every number of the capture file itself is big-endian
(magic A1 B2 C3 D4). `--little` writes the same capture in little-endian order
to sample-little.pcap instead.

Deterministic and standard library only; run it from anywhere."""
import os
import struct
import sys

LITTLE = "--little" in sys.argv
ORDER = "<" if LITTLE else ">"


def checksum(data):
    """The Internet checksum: ones' complement of the ones' complement sum."""
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def ipv4(source, destination, protocol, payload, identification, ttl=64, options=b""):
    words = (5 + len(options) // 4)
    header = struct.pack("!BBHHHBBH4s4s", 0x40 | words, 0x00, words * 4 + len(payload),
                         identification, 0x4000, ttl, protocol, 0,
                         bytes(source), bytes(destination)) + options
    header = header[:10] + struct.pack("!H", checksum(header)) + header[12:]
    return header + payload


def udp(source_port, destination_port, payload):
    return struct.pack("!HHHH", source_port, destination_port, 8 + len(payload), 0) + payload


def ethernet(destination, source, ether_type, payload):
    frame = bytes(destination) + bytes(source) + struct.pack("!H", ether_type) + payload
    return frame + bytes(max(0, 60 - len(frame)))  # short frames are padded to 60 bytes


HOST = [192, 168, 1, 20]
SERVER = [192, 168, 1, 1]
HOST_MAC = [0x02, 0x00, 0x5E, 0x10, 0x00, 0x14]
SERVER_MAC = [0x02, 0x00, 0x5E, 0x10, 0x00, 0x01]

frames = [
    # a syslog message from the host to the server
    (1700000000, 125000, ethernet(SERVER_MAC, HOST_MAC, 0x0800,
        ipv4(HOST, SERVER, 17, udp(51514, 514, b"<13>vellum: capture started"), 0x1C46))),
    # a ping from the server, with a router-alert option (a 24-byte header)
    (1700000000, 250500, ethernet(HOST_MAC, SERVER_MAC, 0x0800,
        ipv4(SERVER, HOST, 1, bytes([8, 0, 0xF7, 0xFD, 0, 1, 0, 1]), 0x0001, ttl=128,
             options=bytes([0x94, 0x04, 0x00, 0x00])))),
    # an ARP request: who has 192.168.1.1?
    (1700000001, 0, ethernet([0xFF] * 6, HOST_MAC, 0x0806,
        struct.pack("!HHBBH6s4s6s4s", 1, 0x0800, 6, 4, 1, bytes(HOST_MAC), bytes(HOST),
                    bytes(6), bytes(SERVER)))),
    # a short reply: the payload is padded up to the 60-byte minimum frame
    (1700000001, 1500, ethernet(HOST_MAC, SERVER_MAC, 0x0800,
        ipv4(SERVER, HOST, 17, udp(514, 51514, b"ok"), 0x1C47))),
]

capture = struct.pack(ORDER + "IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1)
for seconds, microseconds, frame in frames:
    capture += struct.pack(ORDER + "IIII", seconds, microseconds, len(frame), len(frame)) + frame

name = "sample-little.pcap" if LITTLE else "sample.pcap"
path = os.path.join(os.path.dirname(os.path.abspath(__file__)), name)
with open(path, "wb") as f:
    f.write(capture)
