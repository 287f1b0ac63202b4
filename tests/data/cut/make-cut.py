#!/usr/bin/python3
# Writes Dr. Halo CUT pictures and palette files, which no tool here writes,
# and beside each picture X.pam, the picture as written (RGBA, rows top
# first), with expect.txt naming each file "exact" or "refuse <message>".
# The bytes are laid down by hand from the format's description:
#   CUT: width, height (16-bit little-endian), 2 reserved bytes, then per
#        line a 16-bit byte count and packets: count = header and 127, bit 7
#        set repeats the next byte, clear copies count bytes, 0 ends the line.
#   PAL: 512-byte blocks; "AH", version, size, file type, sub-type, board,
#        mode, the entry count less one at offset 12, the largest red, green
#        and blue at 14, 16, 18, "Dr. Halo" at 20; entries of three 16-bit
#        words from offset 40, none crossing a block's end.
# usage: make-cut.py OUTDIR PHOTO.ppm      the test files
#        make-cut.py --from PHOTO.ppm OUT.cut  a picture of 256 colours with
#                                             its palette beside it
import os
import struct
import sys

from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from referencekit import write_pam  # noqa: E402

GREY = [(i, i, i) for i in range(256)]


def packets(line):
    """Runs of 3 or more equal bytes as run packets, the rest as literals."""
    data = bytearray()

    def literal(start, end):
        for k in range(start, end, 127):
            data.append(min(127, end - k))
            data.extend(line[k:min(k + 127, end)])

    i = start = 0
    while i < len(line):
        run = 1
        while i + run < len(line) and run < 127 and line[i + run] == line[i]:
            run += 1
        if run >= 3:
            literal(start, i)
            data.extend((0x80 | run, line[i]))
            start = i + run
        i += run
    literal(start, len(line))
    return bytes(data)


def cut_file(width, height, lines):
    body = bytearray(struct.pack("<HHH", width, height, 0))
    for line in lines:
        encoded = packets(line) + b"\0"
        body += struct.pack("<H", len(encoded)) + encoded
    return bytes(body)


def pal_file(colors, count=None):
    count = len(colors) if count is None else count
    blocks = [bytearray(512)]
    head = struct.pack("<2sHHBBHHHHHH", b"AH", 0xE3, 0, 10, 0, 0, 0, count - 1, 255, 255, 255)
    blocks[0][0:len(head)] = head
    blocks[0][20:28] = b"Dr. Halo"
    at = 40
    for r, g, b in colors:
        if at > 506:
            blocks.append(bytearray(512))
            at = 0
        blocks[-1][at:at + 6] = struct.pack("<HHH", r, g, b)
        at += 6
    return b"".join(blocks)


def picture(name, width, height, rows, palette=GREY, pal_name=None, pal_colors=None, pal_count=None, data=None):
    """Writes name.cut (its rows, else data), its palette file and the
    reference of how rows look through palette."""
    open(name + ".cut", "wb").write(cut_file(width, height, rows) if data is None else data)
    if pal_colors is not None:
        open(pal_name or name + ".pal", "wb").write(pal_file(pal_colors, pal_count))
    rgba = b"".join(bytes(c & 255 for c in palette[i]) + b"\xff" for row in rows for i in row)
    write_pam(name + ".cut", width, height, rgba)
    expect.write(name + ".cut exact\n")


def quantized(path):
    mapped = Image.open(path).convert("RGB").quantize(colors=256, dither=Image.Dither.NONE)
    colors = [tuple(mapped.getpalette()[3 * i:3 * i + 3]) for i in range(256)]
    width, height = mapped.size
    pixels = mapped.tobytes()
    return width, height, [pixels[y * width:(y + 1) * width] for y in range(height)], colors


if sys.argv[1] == "--from":
    width, height, rows, colors = quantized(sys.argv[2])
    open(sys.argv[3], "wb").write(cut_file(width, height, rows))
    open(os.path.splitext(sys.argv[3])[0] + ".pal", "wb").write(pal_file(colors))
    sys.exit(0)

width, height, rows, colors = quantized(sys.argv[2])
os.chdir(sys.argv[1])
expect = open("expect.txt", "a")

# A photograph with its palette of 256 entries (four blocks), the same
# without a palette file (grey levels), and with the palette's extension in
# capitals.
picture("photo", width, height, rows, colors, pal_colors=colors)
picture("no-palette", width, height, rows)
picture("capitals", width, height, rows, colors, pal_name="capitals.PAL", pal_colors=colors)

# Wide lines (runs and literals cut at 127), a palette that claims 300
# entries (256 are taken) and one of only 16, with 16-bit words whose high
# bytes are dropped.
wide = [bytes(((x // 40 + y) % 16) if x % 97 else x % 256 for x in range(300)) for y in range(9)]
many = [(i % 256, (3 * i) % 256, 255 - i % 256) for i in range(300)]
picture("wide", 300, 9, wide, many[:256], pal_colors=many, pal_count=300)
sixteen = [(0x100 | (17 * i), 0xFF00 | (255 - 17 * i), 0x200) for i in range(16)]
picture("sixteen", 300, 9, wide, [(17 * i, 255 - 17 * i, 0) for i in range(16)] + [(0, 0, 0)] * 240,
        pal_colors=sixteen)

# Damaged data: lines that hold more pixels than the picture is wide (cut
# at the edge), and data that ends ten pixels into the sixth line (the rest
# index 0).
picture("long-lines", width, height, rows, colors, pal_colors=colors,
        data=cut_file(width, height, [row + bytes(range(20)) for row in rows]))
picture("short", width, height, rows[:5] + [rows[5][:10] + bytes(width - 10)] + [bytes(width)] * (height - 6),
        colors, pal_colors=colors,
        data=cut_file(width, height, rows[:5]) + struct.pack("<H", 99) + bytes([10]) + rows[5][:10])

# Refused: no room for a size, no width, a picture its data could not fill.
for name, data in (("tiny", b"\x05\x00\x05"), ("no-width", struct.pack("<HHH", 0, 5, 0) + b"\x02\x00\x81\x00\x00" * 5),
                   ("huge", struct.pack("<HHH", 65535, 4000, 0) + b"\x04\x00\xff\x07\x00" * 40)):
    open(name + ".cut", "wb").write(data)
    expect.write("%s.cut refuse Cannot load image. Invalid or unexpected CUT image format.\n" % name)
