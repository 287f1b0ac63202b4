#!/usr/bin/python3
# Writes Autodesk cel and pic files, which no tool here writes, and beside
# each one X.pam, the picture they hold (RGBA, rows top first): 8-bit
# indices through a map of 6-bit channels, each widened by a shift of 2
# (63 becomes 252). The bytes are laid down by hand from the format's
# description: a 32-byte little-endian header (magic 0x9119, width, height,
# 8 bits per pixel at offset 10), 768 map bytes, then the rows top first.
# usage: make-autodesk.py OUTDIR
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from referencekit import case_writer  # noqa: E402

os.chdir(sys.argv[1])
# Every 6-bit level occurs, 63 among them, in all three channels.
colour_map = [((i * 5) % 64, (i * 11 + 7) % 64, 63 - i % 64) for i in range(256)]


def cel(width, height, index, bits=8):
    """The file's bytes and the picture's RGBA."""
    pixels = [index(x, y) for y in range(height) for x in range(width)]
    data = struct.pack("<HHHIH20s", 0x9119, width, height, 0, bits, bytes(20))
    data += b"".join(bytes(c) for c in colour_map) + bytes(pixels)
    return data, b"".join(bytes(c << 2 for c in colour_map[i]) + b"\xff" for i in pixels)


with open("expect.txt", "w") as expect:
    write = case_writer(expect)
    for name, width, height, index in (("gradient.cel", 61, 47, lambda x, y: (x * 4 + y * 9) % 256),
                                       ("bands.pic", 64, 5, lambda x, y: 255 if x % 8 < 3 else y),
                                       ("one.cel", 1, 1, lambda x, y: 63),
                                       ("column.pic", 1, 40, lambda x, y: y * 6)):
        data, rgba = cel(width, height, index)
        write(name, data, "exact", width, height, rgba)
    # Pixels missing at the end, and another pixel size.
    write("short.cel", cel(20, 10, lambda x, y: x)[0][:-1], "Stream read error")
    write("bits16.cel", cel(4, 4, lambda x, y: x, bits=16)[0], "Invalid color format in Autodesk file.")
