#!/usr/bin/python3
# Writes the PCX variants that no tool here writes: version 3 files, which
# are drawn in the system's 16 colours whatever their header says; grey
# palettes named by the palette-info word alone; 8-bit files without the
# palette at their end; a picture whose corners do not start at 0, with
# padded planes and runs across line ends. Plain Python: the bytes are laid
# down by hand from the format's description.
#
# For each file whose colours come from a rule of this reader rather than
# from the file itself, twin-NAME.pcx holds the same pixels with those
# colours written out where every decoder looks for them (the header's 16
# colours, or a palette at the end): the reference decoder reads the twin.
# Each file gets its line in OUTDIR/expect.txt.
# usage: make-variants.py OUTDIR
import os
import struct
import sys

out = sys.argv[1]
W, H = 37, 11

# The system's 16 colours (as 4-bit bitmaps use them).
SYSTEM16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
            (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
            (255, 0, 255), (0, 255, 255), (255, 255, 255)]
GARBLED = [(i * 40 % 256, 255 - i * 9, i * 77 % 256) for i in range(16)]


def header(version, bits, planes, bytes_per_line, palette16, palette_info=1, rle=True, x0=0, y0=0):
    head = struct.pack("<BBBBHHHHHH", 10, version, 1 if rle else 0, bits, x0, y0, x0 + W - 1, y0 + H - 1, 72, 72)
    head += b"".join(bytes(c) for c in palette16) + bytes(16 * 3 - 3 * len(palette16))
    head += struct.pack("<BBHH", 0, planes, bytes_per_line, palette_info)
    return head + bytes(128 - len(head))


def rle(data):
    """Run-length packets, runs crossing line ends."""
    out, i = bytearray(), 0
    while i < len(data):
        run = 1
        while i + run < len(data) and run < 63 and data[i + run] == data[i]:
            run += 1
        out += bytes([0xC0 | run, data[i]]) if run > 1 or data[i] >= 0xC0 else data[i:i + 1]
        i += run
    return bytes(out)


def packed(indices, bits, bpl):
    """Lines of bpl bytes, 8 / bits indices to a byte, the first at the top."""
    data = bytearray()
    per = 8 // bits
    for row in indices:
        line = bytearray(bpl)
        for x, v in enumerate(row):
            line[x // per] |= v << (8 - bits - bits * (x % per))
        data += line
    return bytes(data)


def planes_1bit(indices, planes, bpl):
    """Lines of `planes` 1-bit planes, bit k of each index in plane k."""
    return b"".join(packed([[(v >> k) & 1 for v in row]], 1, bpl) for row in indices for k in range(planes))


def write(name, data, twin=None):
    """The file, its twin if it has one, and its line in expect.txt."""
    for path, content in ((name, data), ("twin-" + name, twin)):
        if content is not None:
            with open(os.path.join(out, path), "wb") as f:
                f.write(content)
    with open(os.path.join(out, "expect.txt"), "a") as expect:
        expect.write(name + " exact\n")


def grid(levels):
    return [[(x // 3 + y * 5) % levels if (x + y) % 7 else levels - 1 for x in range(W)] for y in range(H)]


bpl1 = (W + 7) // 8 + 1  # even, as the format prefers
bpl2, bpl4 = (W * 2 + 7) // 8 + 1, (W * 4 + 7) // 8 + 1
i16 = grid(16)

# Version 3: the system's colours, not the header's ...
body = rle(planes_1bit(i16, 4, bpl1))
write("v-v3-planes4.pcx", header(3, 1, 4, bpl1, GARBLED) + body, header(5, 1, 4, bpl1, SYSTEM16) + body)
body = rle(packed(i16, 4, bpl4))
write("v-v3-packed4.pcx", header(3, 4, 1, bpl4, GARBLED) + body, header(5, 4, 1, bpl4, SYSTEM16) + body)
# ... but black and white for 1 bit, and an 8-bit file keeps the 256
# colours at its end.
body = rle(packed(grid(2), 1, bpl1))
write("v-v3-mono.pcx", header(3, 1, 1, bpl1, GARBLED) + body,
      header(5, 1, 1, bpl1, [(0, 0, 0), (255, 255, 255)]) + body)
colours256 = b"".join(bytes(((i * 7) % 256, (i * 13 + 50) % 256, 255 - i)) for i in range(256))
write("v-v3-8bit.pcx", header(3, 8, 1, W + 1, GARBLED) + rle(packed(grid(200), 8, W + 1)) + b"\x0c" + colours256)

# Palette info 2 and no colours anywhere: grey levels.
body = rle(planes_1bit(i16, 4, bpl1))
write("v-gray-planes4.pcx", header(5, 1, 4, bpl1, GARBLED, palette_info=2) + body,
      header(5, 1, 4, bpl1, [(17 * i,) * 3 for i in range(16)]) + body)
body = rle(packed(grid(4), 2, bpl2))
write("v-gray-packed2.pcx", header(5, 2, 1, bpl2, GARBLED, palette_info=2) + body,
      header(5, 2, 1, bpl2, [(85 * i,) * 3 for i in range(4)]) + body)
# 8 bits without the marker byte 12 at 769 bytes from the end: grey levels
# by the palette info, and by default. The last 769 bytes are no pixels.
body = rle(packed(grid(256), 8, W + 1))
twin = header(5, 8, 1, W + 1, GARBLED) + body + b"\x0c" + b"".join(bytes((i, i, i)) for i in range(256))
write("v-gray8-nomarker.pcx", header(5, 8, 1, W + 1, GARBLED, palette_info=2) + body + bytes(769), twin)
write("v-8bit-nomarker.pcx", header(5, 8, 1, W + 1, GARBLED, palette_info=1) + body + bytes(769), twin)

# Corners away from 0, planes padded to an odd length, runs across line
# ends, 24 bits; and the same stored.
rgb_lines = bytearray()
bpl24 = W + 3
for y in range(H):
    for c in range(3):
        rgb_lines += bytes(((x * 7 + c * 60) % 256 if (x + y) % 5 else 200) for x in range(W)) + bytes([0xC5]) * 3
write("v-offset-rgb-rle.pcx", header(5, 8, 3, bpl24, GARBLED, x0=3, y0=5) + rle(bytes(rgb_lines)))
write("v-offset-rgb-raw.pcx", header(5, 8, 3, bpl24, GARBLED, rle=False, x0=3, y0=5) + bytes(rgb_lines))
