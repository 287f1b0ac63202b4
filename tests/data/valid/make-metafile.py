#!/usr/bin/python3
# Writes undrawable-records.emf: an enhanced metafile of 6 x 2 pixels with
# three EMR_STRETCHDIBITS records side by side, each 2 x 2 pixels:
#   x 0-1  a 24-bit bitmap, red;
#   x 2-3  an 8-bit bitmap with "colours used" 0 whose colour table holds
#          only 2 entries (green, blue): top row green, bottom row blue;
#   x 4-5  a JPEG-compressed bitmap (compression 4), which is not drawn.
# usage: make-metafile.py OUTPUT.emf
import struct
import sys


def dib(bits, compression, table, rows, used=0):
    header = struct.pack('<IiiHHIIiiII', 40, 2, 2, 1, bits, compression, len(rows), 0, 0, used, 0)
    return header + b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in table), b''.join(rows)


def stretch(x, bmi, pixels):
    head = 80
    size = head + len(bmi) + len(pixels)
    size += (-size) % 4
    rec = struct.pack('<II4iiiiiiiIIIIIIii', 81, size, x, 0, x + 1, 1, x, 0, 0, 0, 2, 2,
                      head, len(bmi), head + len(bmi), len(pixels), 0, 0x00CC0020, 2, 2)
    return (rec + bmi + pixels).ljust(size, b'\0')


red = dib(24, 0, [], [bytes([0, 0, 255] * 2 + [0, 0]) for _ in range(2)])
# Rows bottom-up: index 1 (blue) below, index 0 (green) on top.
short = dib(8, 0, [(0, 255, 0), (0, 0, 255)], [bytes([1, 1, 0, 0]), bytes([0, 0, 0, 0])])
jpeg = dib(0, 4, [], [b'\xff\xd8\xff\xd9'])
records = stretch(0, *red) + stretch(2, *short) + stretch(4, *jpeg) + struct.pack('<IIIII', 14, 20, 0, 0, 20)
header_size = 88
total = header_size + len(records)
header = struct.pack('<II4i4iIIIIHHIII', 1, header_size, 0, 0, 5, 1, 0, 0, 0, 0, 0x464D4520, 0x10000, total,
                     5, 1, 0, 0, 0, 0) + struct.pack('<4i', 0, 0, 0, 0)
assert len(header) == header_size
open(sys.argv[1], 'wb').write(header + records)
