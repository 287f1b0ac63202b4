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

invalid = "Cannot load image. Invalid or unexpected CUT image format."


def packets(line):
    """Runs of 3 or more equal bytes as run packets, the rest as literals."""
    data = bytearray()
    i = 0
    literal = bytearray()

    def flush():
        nonlocal literal
        while literal:
            part, literal = literal[:127], literal[127:]
            data.append(len(part))
            data.extend(part)

    while i < len(line):
        run = 1
        while i + run < len(line) and run < 127 and line[i + run] == line[i]:
            run += 1
        if run >= 3:
            flush()
            data.extend((0x80 | run, line[i]))
            i += run
        else:
            literal.extend(line[i:i + run])
            i += run
    flush()
    return bytes(data)


def cut_file(width, height, lines, extra=b""):
    body = bytearray(struct.pack("<HHH", width, height, 0))
    for line in lines:
        encoded = packets(line) + b"\0"
        body += struct.pack("<H", len(encoded)) + encoded
    return bytes(body) + extra


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


def write_pam(name, width, height, rows, palette):
    data = bytearray(b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" % (width, height))
    for row in rows:
        for index in row:
            r, g, b = palette[index] if index < len(palette) else (0, 0, 0)
            data += bytes((r & 255, g & 255, b & 255, 255))
    open(name, "wb").write(data)


def picture(name, width, height, rows, palette=None, pal_name=None, pal_colors=None, pal_count=None,
            lines=None, extra=b"", shown=None):
    """Writes name.cut (and its palette file) and the reference of how it looks."""
    open(name + ".cut", "wb").write(cut_file(width, height, rows if lines is None else lines, extra))
    if pal_colors is not None:
        open(pal_name or name + ".pal", "wb").write(pal_file(pal_colors, pal_count))
    write_pam(name + ".pam", width, height, rows if shown is None else shown, palette or GREY)
    expect.write(name + ".cut exact\n")


GREY = [(i, i, i) for i in range(256)]


def quantized(path):
    photo = Image.open(path).convert("RGB")
    mapped = photo.quantize(colors=256, dither=Image.Dither.NONE)
    colors = [tuple(mapped.getpalette()[3 * i:3 * i + 3]) for i in range(256)]
    width, height = mapped.size
    pixels = mapped.tobytes()
    rows = [pixels[y * width:(y + 1) * width] for y in range(height)]
    return width, height, rows, colors


if sys.argv[1] == "--from":
    width, height, rows, colors = quantized(sys.argv[2])
    open(sys.argv[3], "wb").write(cut_file(width, height, rows))
    open(os.path.splitext(sys.argv[3])[0] + ".pal", "wb").write(pal_file(colors))
    sys.exit(0)

out = sys.argv[1]
width, height, rows, colors = quantized(sys.argv[2])
os.chdir(out)
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
shown16 = [(17 * i, 255 - 17 * i, 0) for i in range(16)]
picture("sixteen", 300, 9, wide, shown16, pal_colors=sixteen)

# Damaged data: a line that holds more pixels than the picture is wide (cut
# at the edge), and data that ends after the first lines (the rest index 0).
long_lines = [row + bytes(range(20)) for row in rows]
picture("long-lines", width, height, rows, colors, pal_colors=colors, lines=long_lines)
# The data ends ten pixels into the sixth line.
open("short.cut", "wb").write(cut_file(width, height, rows[:5]) + struct.pack("<H", 99) + bytes([10]) + rows[5][:10])
open("short.pal", "wb").write(pal_file(colors))
shown = rows[:5] + [rows[5][:10] + bytes(width - 10)] + [bytes(width)] * (height - 6)
write_pam("short.pam", width, height, shown, colors)
expect.write("short.cut exact\n")

# Refused: no room for a size, no width, a picture its data could not fill.
open("tiny.cut", "wb").write(b"\x05\x00\x05")
open("no-width.cut", "wb").write(struct.pack("<HHH", 0, 5, 0) + b"\x02\x00\x81\x00\x00" * 5)
open("huge.cut", "wb").write(struct.pack("<HHH", 65535, 4000, 0) + b"\x04\x00\xff\x07\x00" * 40)
for name in ("tiny", "no-width", "huge"):
    expect.write("%s.cut refuse %s\n" % (name, invalid))
