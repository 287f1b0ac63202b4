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


def header(version, bits, planes, bytes_per_line, palette16, palette_info=1, rle=True, x0=0, y0=0,
           width=W, height=H):
    head = struct.pack("<BBBBHHHHHH", 10, version, 1 if rle else 0, bits, x0, y0, x0 + width - 1,
                       y0 + height - 1, 72, 72)
    head += b"".join(bytes(c) for c in palette16) + bytes(16 * 3 - 3 * len(palette16))
    head += struct.pack("<BBHH", 0, planes, bytes_per_line, palette_info)
    return head + bytes(128 - len(head))


def rle(data, across=True, line=None):
    """Run-length packets; with across=False no run crosses a line end."""
    out = bytearray()
    chunks = [data] if across else [data[i:i + line] for i in range(0, len(data), line)]
    for chunk in chunks:
        i = 0
        while i < len(chunk):
            run = 1
            while i + run < len(chunk) and run < 63 and chunk[i + run] == chunk[i]:
                run += 1
            if run > 1 or chunk[i] >= 0xC0:
                out += bytes([0xC0 | run, chunk[i]])
            else:
                out.append(chunk[i])
            i += run
    return bytes(out)


def planes_1bit(indices, planes, bpl):
    """Lines of `planes` 1-bit planes, bit k of each index in plane k."""
    data = bytearray()
    for row in indices:
        for k in range(planes):
            plane = bytearray(bpl)
            for x, v in enumerate(row):
                if (v >> k) & 1:
                    plane[x // 8] |= 0x80 >> (x % 8)
            data += plane
    return bytes(data)


def packed(indices, bits, bpl):
    data = bytearray()
    per = 8 // bits
    for row in indices:
        line = bytearray(bpl)
        for x, v in enumerate(row):
            line[x // per] |= v << (8 - bits - bits * (x % per))
        data += line
    return bytes(data)


def write(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


def grid(levels):
    return [[(x // 3 + y * 5) % levels if (x + y) % 7 else levels - 1 for x in range(W)] for y in range(H)]


bpl1 = (W + 7) // 8 + 1  # even, as the format prefers
i16 = grid(16)

# Version 3: the system's colours, not the header's.
body = rle(planes_1bit(i16, 4, bpl1))
write("v-v3-planes4.pcx", header(3, 1, 4, bpl1, GARBLED) + body)
write("twin-v-v3-planes4.pcx", header(5, 1, 4, bpl1, SYSTEM16) + body)
bpl4 = (W * 4 + 7) // 8 + 1
body = rle(packed(i16, 4, bpl4))
write("v-v3-packed4.pcx", header(3, 4, 1, bpl4, GARBLED) + body)
write("twin-v-v3-packed4.pcx", header(5, 4, 1, bpl4, SYSTEM16) + body)
# ... but black and white for 1 bit, and an 8-bit file keeps the 256
# colours at its end.
body = rle(packed(grid(2), 1, bpl1))
write("v-v3-mono.pcx", header(3, 1, 1, bpl1, GARBLED) + body)
write("twin-v-v3-mono.pcx", header(5, 1, 1, bpl1, [(0, 0, 0), (255, 255, 255)]) + body)
colours256 = b"".join(bytes(((i * 7) % 256, (i * 13 + 50) % 256, 255 - i)) for i in range(256))
write("v-v3-8bit.pcx", header(3, 8, 1, W + 1, GARBLED) + rle(packed(grid(200), 8, W + 1)) + b"\x0c" + colours256)

# Palette info 2 and no colours anywhere: grey levels.
grey16 = [(17 * i,) * 3 for i in range(16)]
body = rle(planes_1bit(i16, 4, bpl1))
write("v-gray-planes4.pcx", header(5, 1, 4, bpl1, GARBLED, palette_info=2) + body)
write("twin-v-gray-planes4.pcx", header(5, 1, 4, bpl1, grey16) + body)
bpl2 = (W * 2 + 7) // 8 + 1
body = rle(packed(grid(4), 2, bpl2))
write("v-gray-packed2.pcx", header(5, 2, 1, bpl2, GARBLED, palette_info=2) + body)
write("twin-v-gray-packed2.pcx", header(5, 2, 1, bpl2, [(85 * i,) * 3 for i in range(4)]) + body)
# 8 bits without the marker byte 12 at 769 bytes from the end: grey levels
# by the palette info, and by default. The last 769 bytes are no pixels.
body = rle(packed(grid(256), 8, W + 1))
grey256 = b"".join(bytes((i, i, i)) for i in range(256))
write("v-gray8-nomarker.pcx", header(5, 8, 1, W + 1, GARBLED, palette_info=2) + body + bytes(769))
write("v-8bit-nomarker.pcx", header(5, 8, 1, W + 1, GARBLED, palette_info=1) + body + bytes(769))
for name in ("v-gray8-nomarker.pcx", "v-8bit-nomarker.pcx"):
    write("twin-" + name, header(5, 8, 1, W + 1, GARBLED) + body + b"\x0c" + grey256)

# Corners away from 0, planes padded to an odd length, runs across line
# ends, 24 bits; and the same stored.
rgb_lines = bytearray()
bpl24 = W + 3
for y in range(H):
    for c in range(3):
        rgb_lines += bytes(((x * 7 + c * 60) % 256 if (x + y) % 5 else 200) for x in range(W)) + bytes([0xC5]) * 3
write("v-offset-rgb-rle.pcx", header(5, 8, 3, bpl24, GARBLED, x0=3, y0=5) + rle(bytes(rgb_lines)))
write("v-offset-rgb-raw.pcx", header(5, 8, 3, bpl24, GARBLED, rle=False, x0=3, y0=5) + bytes(rgb_lines))
