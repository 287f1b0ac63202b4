#!/usr/bin/python3
# Writes Autodesk cel and pic files, which no tool here writes, and beside
# each one X.pam, the picture they hold (RGBA, rows top first): 8-bit
# indices through a map of 6-bit channels, each widened by a shift of 2
# (63 becomes 252). The bytes are laid down by hand from the format's
# description: a 32-byte little-endian header (magic 0x9119, width, height,
# 8 bits per pixel at offset 10), 768 map bytes, then the rows top first.
# expect.txt names each file with "exact" or "refuse <message>".
# usage: make-autodesk.py OUTDIR
import os
import struct
import sys

out = sys.argv[1]


def header(width, height, bits=8):
    return struct.pack("<HHHIH20s", 0x9119, width, height, 0, bits, bytes(20))


# Every 6-bit level occurs, 63 among them, in all three channels.
colour_map = [((i * 5) % 64, (i * 11 + 7) % 64, 63 - i % 64) for i in range(256)]
map_bytes = b"".join(bytes(c) for c in colour_map)


def write(name, width, height, index, bits=8, cut=0):
    rows = [bytes(index(x, y) for x in range(width)) for y in range(height)]
    data = header(width, height, bits) + map_bytes + b"".join(rows)
    with open(os.path.join(out, name), "wb") as f:
        f.write(data[:len(data) - cut])
    pixels = bytearray()
    for row in rows:
        for i in row:
            pixels += bytes(c << 2 for c in colour_map[i]) + b"\xff"
    base = os.path.splitext(name)[0]
    with open(os.path.join(out, base + ".pam"), "wb") as f:
        f.write(b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" % (width, height))
        f.write(pixels)


with open(os.path.join(out, "expect.txt"), "w") as expect:
    write("gradient.cel", 61, 47, lambda x, y: (x * 4 + y * 9) % 256)
    expect.write("gradient.cel exact\n")
    write("bands.pic", 64, 5, lambda x, y: 255 if x % 8 < 3 else y)
    expect.write("bands.pic exact\n")
    write("one.cel", 1, 1, lambda x, y: 63)
    expect.write("one.cel exact\n")
    write("column.pic", 1, 40, lambda x, y: y * 6)
    expect.write("column.pic exact\n")
    # Pixels missing at the end, and another pixel size.
    write("short.cel", 20, 10, lambda x, y: x, cut=1)
    expect.write("short.cel refuse Stream read error\n")
    write("bits16.cel", 4, 4, lambda x, y: x, bits=16)
    expect.write("bits16.cel refuse Invalid color format in Autodesk file.\n")
