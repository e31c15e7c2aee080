#!/usr/bin/env python3
"""Writes the seed corpora: the well-formed requests the tests use, and
roots, paths and log texts of the kinds the server meets."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def checksum(p, outgoing):
    s = p[0] + sum(p[2:]) + (0 if outgoing else len(p))
    return ((s * 257) >> 8) & 0xFF


def request(cmd, key, seq, pos, data=b"", extra=b""):
    p = bytearray(struct.pack(">BBHHHI", cmd, 0, key, seq, len(data), pos) + data + extra)
    p[1] = checksum(p, 0)
    return bytes(p)


def write(target, seeds):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    for i, s in enumerate(seeds):
        with open(os.path.join(d, "seed%02d" % i), "wb") as f:
            f.write(s)


write("fuzz_decode", [
    request(0x10, 0, 0, 0),
    request(0x41, 0x1234, 7, 0, b"/\0"),
    request(0x41, 1, 2, 1024, b"pub\0", b"\x02\x00"),
    request(0x42, 1, 3, 0, b"file.txt\0", b"\x00\x64"),
    request(0x43, 1, 4, 2048, b"x" * 500),
    request(0x44, 1, 5, 0, b"pub/new.txt\0"),
    request(0x45, 1, 6, 0, b"old.txt\0"),
    request(0x46, 1, 7, 0, b"dir\0"),
    request(0x47, 1, 8, 0, b"/\0"),
    request(0x49, 1, 9, 0, b"newdir/\0"),
    request(0x4A, 1, 10, 0),
    request(0x41, 1, 11, 0, b"abc"),          # no NUL
    request(0x4E, 1, 12, 4, b"old\npw\0", b"new\0"),  # rename, with a password
    request(0x20, 0, 0, 0),
])
write("fuzz_reply", [
    struct.pack(">hhHIB", 38, 1, 5, 1, 0x10) + b"\0" + b"V" * 39,
    struct.pack(">hhHIB", 1024, 0, 0xFFFF, 0, 0x42) + b"\0" + b"d" * 1024,
    struct.pack(">hhHIB", 21, 0, 0, 0, 0x40) + b"\0" + b"Unsupported Command!\0",
    struct.pack(">hhHIB", -1, 2, 0, 0, 0x41) + b"\0" + b"ab",
])
write("fuzz_paths", [
    bytes([4]) + b"C:\\\\pub/docs",
    bytes([12]) + b"Z:\\srv\\fsp\\a/b/c.txt",
    bytes([7]) + b"Z:\\data../x",
    bytes([8]) + b"Z:\\root\\/..",
    bytes([8]) + b"Z:\\root\\C:\\x",
    bytes([8]) + b"Z:\\root\\\\\\server\\share",
    bytes([3]) + b"C:\\" + b"n" * 300,
    bytes([12]) + b"Z:\\srv\\fsp\\a/.VFSPD-0123456789abcdef.Part",
])
write("fuzz_logline", [
    b"Unsupported Command!",
    b"Directory pub/x\r\nThu Jan 04 09:05:00 1996 [1.2.3.4]: forged does not exist!",
    b"Uploaded \x7f\x01\x1b[31m" + b"y" * 300,
    "Unable to open file: caf\u00e9/\u65e5\u0445\u2028forged\u0085\u2029".encode() + b"\x85\xe0\x82\x85",
    "Uploaded report\u202etxt.exe \\x0D \\\\x".encode() + b"\\x" * 120,
])


def entries(block, names):
    out = struct.pack(">H", block)
    for flags, name in names:
        out += bytes([flags, len(name)]) + name
    return out


write("fuzz_listing", [
    entries(1024, [(0, b"a"), (1, b"sub"), (0, b".hidden"), (0, b"file.txt")]),
    entries(100, [(0, b"x" * 60), (0, b"y" * 70), (1, b"z")] * 5),
    entries(12, [(0, b"a")]),
    entries(284, [(0x80, b"long")] * 6),
    entries(512, [(i % 2, bytes([97 + i % 26]) * (1 + i % 40)) for i in range(60)]),
])
