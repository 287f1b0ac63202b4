#!/usr/bin/python3
# Writes Alias/Wavefront pictures, which no tool here writes, laid down by
# hand from the format's description: a 740-byte big-endian header (active
# window at 8, colour and matte channel counts at 20 and 22, revision 0xFFFE
# at 26, gamma text at 28, channel description at 580, bits per channel at
# 658), a table of 32-bit row offsets, and per row one record per channel
# (red, green, blue, matte): a 16-bit byte count, then run-length data in
# which a header 0..127 repeats the next byte header + 1 times and a
# negative one copies -header bytes. A 16-bit channel's record holds two
# such spans: the high bytes of the row's samples, then their low bytes.
#
#   make-rla.py OUTDIR PHOTO.ppm   the test files, X.pam beside each (RGBA,
#                                  rows top first) and expect.txt
#   make-rla.py --from PPM OUT     the picture of a PPM as an 8-bit file
import os
import re
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from referencekit import case_writer  # noqa: E402


def encode(data):
    """Runs of 3 or more equal bytes as run headers, the rest as literals."""
    out = bytearray()

    def literal(start, end):
        for k in range(start, end, 128):
            out.append(256 - min(128, end - k))
            out.extend(data[k:min(k + 128, end)])

    i = start = 0
    while i < len(data):
        run = 1
        while i + run < len(data) and run < 128 and data[i + run] == data[i]:
            run += 1
        if run >= 3:
            literal(start, i)
            out.extend((run - 1, data[i]))
            start = i + run
        i += run
    literal(start, len(data))
    return bytes(out)


def decode(packed, width):
    """What a reader makes of packed data, cut or padded to the width."""
    out, i = bytearray(), 0
    while i + 1 < len(packed):
        h = packed[i] - 256 if packed[i] > 127 else packed[i]
        out += packed[i + 1:i + 1 - h] if h < 0 else packed[i + 1:i + 2] * (h + 1)
        i += 1 - h if h < 0 else 2
    return bytes(out[:width]).ljust(width, b"\0")


def header(width, height, channels, mattes, bits, description=b"rgb", gamma=b"1.0", bottom_up=True, origin=(0, 0)):
    h = bytearray(740)
    left, bottom = origin
    top = bottom + height - 1
    window = (left, left + width - 1, bottom, top) if bottom_up else (left, left + width - 1, top, bottom)
    struct.pack_into(">4h", h, 0, *window)
    struct.pack_into(">4h", h, 8, *window)
    struct.pack_into(">hhhhhH", h, 16, 0, 0, channels, mattes, 0, 0xFFFE)
    h[28:28 + len(gamma)] = gamma
    h[580:580 + len(description)] = description
    struct.pack_into(">hhh", h, 658, bits, 0, bits)
    return bytes(h)


def rla_file(width, height, planes_of_row, channels=3, mattes=0, bits=8, **options):
    """planes_of_row(y) gives the channel planes (bytes) of stored row y, the
    first stored row being the bottom one unless bottom_up is False."""
    body = bytearray()
    offsets = []
    for y in range(height):
        offsets.append(740 + 4 * height + len(body))
        for plane in planes_of_row(y):
            packed = encode(plane) if bits == 8 else encode(plane[0::2]) + encode(plane[1::2])
            body += struct.pack(">H", len(packed)) + packed
    return header(width, height, channels, mattes, bits, **options) + struct.pack(">%dI" % height, *offsets) + body, \
        offsets


def read_ppm(path):
    data = open(path, "rb").read()
    head = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)
    width, height = int(head.group(1)), int(head.group(2))
    return width, height, data[head.end():head.end() + width * height * 3]


def photo_planes(width, height, rgb, alpha=None):
    """Planes per stored row, bottom row first."""
    def planes(y):
        row = height - 1 - y
        line = rgb[row * width * 3:(row + 1) * width * 3]
        return [line[0::3], line[1::3], line[2::3]] + ([alpha[row * width:(row + 1) * width]] if alpha else [])
    return planes


def main():
    if sys.argv[1] == "--from":
        width, height, rgb = read_ppm(sys.argv[2])
        open(sys.argv[3], "wb").write(rla_file(width, height, photo_planes(width, height, rgb))[0])
        return
    width, height, rgb = read_ppm(sys.argv[2])
    os.chdir(sys.argv[1])
    expect = open("expect.txt", "a")
    write = case_writer(expect)
    colour = "Invalid color format in RLA file."
    invalid = "Cannot load image. Invalid or unexpected RLA image format."
    alpha = bytes((x * 4 + y * 3) % 256 for y in range(height) for x in range(width))
    grey = bytes((rgb[3 * i] * 30 + rgb[3 * i + 1] * 59 + rgb[3 * i + 2] * 11) // 100 for i in range(width * height))
    opaque = b"".join(rgb[3 * i:3 * i + 3] + b"\xff" for i in range(width * height))
    matted = b"".join(rgb[3 * i:3 * i + 3] + alpha[i:i + 1] for i in range(width * height))
    grey_pixels = b"".join(bytes((v, v, v, 255)) for v in grey)

    def save(name, pixels, *args, **options):
        write(name, rla_file(width, height, *args, **options)[0], "exact", width, height, pixels)

    planes = photo_planes(width, height, rgb)
    save("rgb.rla", opaque, planes)
    save("rgb.rpf", opaque, planes, origin=(-5, 7))
    save("capitals.rla", opaque, planes, description=b"RGB")
    # The first stored row is the top one when bottom lies above top.
    save("top-first.rla", opaque, lambda y: planes(height - 1 - y), bottom_up=False)
    save("matte.rla", matted, photo_planes(width, height, rgb, alpha), mattes=1)
    # Two matte channels: the first is the alpha; the second's records follow.
    save("two-mattes.rla", matted, lambda y: photo_planes(width, height, rgb, alpha)(y) + [bytes(width)], mattes=2)
    # 16-bit channels: v x 257 + 5 in the file, v again after v x 255 div 65535.
    save("sixteen.rla", opaque, lambda y: [b"".join(struct.pack(">H", min(v * 257 + 5, 65535)) for v in plane)
                                           for plane in planes(y)], bits=16)
    # One colour channel is grey; with a matte the matte is dropped.
    grey_rows = lambda y: [grey[(height - 1 - y) * width:(height - y) * width]]
    save("grey.rla", grey_pixels, grey_rows, channels=1)
    save("grey-matte.rla", grey_pixels, lambda y: grey_rows(y) + [alpha[(height - 1 - y) * width:(height - y) * width]],
         channels=1, mattes=1)
    # Gamma 2.2 (checked by the test itself: the library's gamma curve) and
    # a gamma text that is no number, which is ignored.
    open("gamma.rla", "wb").write(rla_file(width, height, planes, gamma=b"2.2")[0])
    save("gamma-text.rla", opaque, planes, gamma=b"two point two")

    # Damaged: a row offset past the end of the file and a record that
    # claims more bytes than there are (zeros where data is missing): the
    # last stored row is the top one, its red record cut in half, its green
    # and blue records gone.
    data, offsets = rla_file(width, height, planes)
    data = bytearray(data)
    struct.pack_into(">I", data, 740 + 4 * 3, 0xFFFFFFF0)
    count = struct.unpack_from(">H", data, offsets[-1])[0]
    red = decode(encode(planes(height - 1)[0])[:count // 2], width)
    damaged = bytearray(opaque)
    row = height - 1 - 3
    damaged[4 * row * width:4 * (row + 1) * width] = b"\0\0\0\xff" * width
    damaged[0:4 * width] = b"".join(bytes((v, 0, 0, 255)) for v in red)
    write("damaged.rla", bytes(data[:offsets[-1] + 2 + count // 2]), "exact", width, height, damaged)
    # Records that decode beyond the width are cut at it.
    save("over-long.rla", opaque, lambda y: [plane + plane[:7] for plane in planes(y)])

    # Refused.
    write("xyz.rla", rla_file(width, height, planes, description=b"xyz")[0], colour)
    write("other.rla", rla_file(width, height, planes, description=b"sampled")[0], colour)
    write("four.rla", rla_file(width, height, lambda y: planes(y) + [bytes(width)], channels=4)[0], colour)
    write("ten-bits.rla", rla_file(width, height, planes, bits=10)[0], colour)
    write("short-header.rla", header(width, height, 3, 0, 8)[:500], invalid)
    write("huge.rla", header(16000, 16000, 3, 0, 8) + struct.pack(">I", 0) * 16000 + b"\0" * 64, invalid)
    tall = header(2, 30000, 3, 0, 8) + struct.pack(">I", 0) * 30000
    write("no-table.rla", tall[:740 + 100], "Stream read error")


main()
