#!/usr/bin/python3
"""Writes Paintshop Pro test files into OUTDIR, byte by byte from the
format's description (no tool here writes the format), with X.pam beside
each file that must load: the generator's own pixels (RGBA, rows top first),
as the reader is to give them. A 24-bit layer of four channels gives a
32-bit picture whose fourth byte the reader leaves at 0.
With --from, writes one 24-bit version 5 file of a binary PPM instead (for
bench/compare-readers.py), its channels stored, run-length or deflate.
usage: make-files.py OUTDIR
       make-files.py --from IN.ppm OUT.psp [none|rle|deflate]"""
import os
import random
import struct
import sys
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from referencekit import case_writer  # noqa: E402

INVALID = "Cannot load image. Invalid or unexpected PSP image format."
COLOUR = "Invalid color format in PSP file."
NOT_SUPPORTED = "Cannot load image. The compression scheme is not supported for PSP files."
READ = "Stream read error"


def rle(data):
    """Runs of 3 or more (up to 127) as 128 + n, value; the rest literal."""
    packed, i = bytearray(), 0
    while i < len(data):
        run = 1
        while i + run < len(data) and run < 127 and data[i + run] == data[i]:
            run += 1
        if run >= 3:
            packed += bytes([128 + run, data[i]])
            i += run
            continue
        start = i
        while i < len(data) and i - start < 127 and not (i + 2 < len(data) and data[i] == data[i + 1] == data[i + 2]):
            i += 1
        packed += bytes([i - start]) + data[start:i]
    return bytes(packed)


class PSP:
    def __init__(self, major, width, height, depth, compression, grey=False, signature=b"Paint Shop Pro Image File"):
        self.major, self.width, self.height, self.depth = major, width, height, depth
        self.compression, self.grey, self.signature = compression, grey, signature

    def block(self, ident, content, marker=b"~BK\0"):
        if self.major == 3:
            return marker + struct.pack("<HII", ident, min(len(content), 40), len(content)) + content
        return marker + struct.pack("<HI", ident, len(content)) + content

    def chunk(self, fields):
        """A version 4+ chunk: its length (itself included), then the fields."""
        return struct.pack("<I", 4 + len(fields)) + fields if self.major >= 4 else fields

    def header(self):
        return self.signature.ljust(32, b"\0") + struct.pack("<HH", self.major, 0)

    def attributes(self, unit=2):
        fields = struct.pack("<iidBHHHIB", self.width, self.height, 28.35, unit, self.compression, self.depth,
                             1, 256, 1 if self.grey else 0).ljust(42, b"\0")
        return self.block(0, self.chunk(fields))

    def file(self, *blocks):
        return self.header() + self.attributes() + b"".join(blocks)

    def palette(self, colours):
        entries = b"".join(bytes([b, g, r, 0]) for r, g, b in colours)
        prefix = struct.pack("<I", 8) if self.major >= 4 else b""
        return self.block(2, prefix + struct.pack("<I", len(colours)) + entries)

    def pack(self, plane):
        if self.compression == 1:
            return rle(plane)
        if self.compression == 2:
            return zlib.compress(plane)
        return plane

    def channel(self, plane, kind, packed=None, uncompressed=None):
        packed = self.pack(plane) if packed is None else packed
        info = struct.pack("<IIHH", len(packed), len(plane) if uncompressed is None else uncompressed, 1, kind)
        return self.block(5, self.chunk(info) + packed)

    def layer(self, channels, layer_type=None):
        layer_type = (0 if self.major == 3 else 1) if layer_type is None else layer_type
        attributes = bytes([layer_type]) + bytes(114)
        if self.major == 3:
            info = b"layer".ljust(256, b"\0") + attributes + struct.pack("<HH", 1, len(channels))
        else:
            info = self.chunk(struct.pack("<H", 5) + b"layer" + attributes) + self.chunk(
                struct.pack("<HH", 1, len(channels)))
        return self.block(4, info + b"".join(channels))

    def bank(self, layers):
        return self.block(3, b"".join(layers))


def row_size(width, depth):
    return {1: (width + 7) // 8, 4: width // 2 + 1, 8: width, 24: width}[depth]


if sys.argv[1] == "--from":
    with open(sys.argv[2], "rb") as f:
        magic, width, height, maxval = f.readline(), *map(int, f.readline().split()), int(f.readline())
        assert magic.strip() == b"P6" and maxval == 255
        pixels = f.read()
    f = PSP(5, width, height, 24, ["none", "rle", "deflate"].index(sys.argv[4] if len(sys.argv) > 4 else "rle"))
    layer = f.layer([f.channel(pixels[c::3], c + 1) for c in range(3)])
    with open(sys.argv[3], "wb") as out:
        out.write(f.file(f.bank([layer])))
    sys.exit(0)

os.chdir(sys.argv[1])
expect = open("expect.txt", "w")
write = case_writer(expect)
r = random.Random(3)
W, H = 10, 7  # a 4-bit row of 10 pixels takes 6 bytes


def indexed_plane(width, height, depth):
    """Indices packed from the most significant bits, with the row sizes
    of the format (one byte more than needed for 4 bits at an even width)."""
    rows, indices = [], []
    for y in range(height):
        values = [r.randint(0, (1 << depth) - 1) for _ in range(width)]
        indices.append(values)
        row = bytearray(row_size(width, depth))
        for x, v in enumerate(values):
            bit = x * depth
            row[bit // 8] |= v << (8 - depth - bit % 8)
        rows.append(bytes(row))
    return b"".join(rows), indices


def colour_planes(width, height):
    return [bytes(r.randint(0, 255) if (x + y) % 3 else 40 * c for y in range(height) for x in range(width))
            for c in range(3)]


def rgba_of_indices(indices, colours):
    return sum(([*colours[i], 255] for row in indices for i in row), [])


for major in (3, 5):
    for compression, kind in ((0, "none"), (1, "rle"), (2, "deflate")):
        for depth in (1, 4, 8, 24):
            f = PSP(major, W, H, depth, compression)
            name = "v%d-%s-%d.psp" % (major, kind, depth)
            if depth == 24:
                red, green, blue = colour_planes(W, H)
                layer = f.layer([f.channel(red, 1), f.channel(green, 2), f.channel(blue, 3)])
                rgba = sum(([red[i], green[i], blue[i], 255] for i in range(W * H)), [])
                write(name, f.file(f.bank([layer])), "exact", W, H, rgba)
            else:
                plane, indices = indexed_plane(W, H, depth)
                colours = [(r.randint(0, 255), r.randint(0, 255), r.randint(0, 255)) for _ in range(1 << depth)]
                layer = f.layer([f.channel(plane, 0)])
                write(name, f.file(f.palette(colours), f.bank([layer])), "exact", W, H, rgba_of_indices(indices, colours))

# Grey, 8 bits: no palette, grey levels.
f = PSP(5, W, H, 8, 2, grey=True)
plane, indices = indexed_plane(W, H, 8)
write("v5-grey-8.psp", f.file(f.bank([f.layer([f.channel(plane, 0)])])), "exact", W, H,
      sum(([v, v, v, 255] for row in indices for v in row), []))

# Two raster layers after one of another type: the first raster layer is read.
f = PSP(5, W, H, 24, 1)
first, second = colour_planes(W, H), colour_planes(W, H)
layers = [f.layer([f.channel(p, c + 1) for c, p in enumerate(colour_planes(W, H))], layer_type=2),
          f.layer([f.channel(p, c + 1) for c, p in enumerate(first)]),
          f.layer([f.channel(p, c + 1) for c, p in enumerate(second)])]
rgba = sum(([first[0][i], first[1][i], first[2][i], 255] for i in range(W * H)), [])
write("v5-two-layers.psp", f.file(f.bank(layers)), "exact", W, H, rgba)
# A channel of an unknown type is passed over by its block's length; a
# fourth channel makes the picture 32 bits, whose alpha is not read.
layer = f.layer([f.channel(first[0], 1), f.channel(bytes(range(200)), 9), f.channel(first[1], 2),
                 f.channel(first[2], 3), f.channel(bytes([200]) * (W * H), 0)])
write("v5-channel-type-9-and-alpha.psp", f.file(f.bank([layer])), "exact", W, H,
      [v if i % 4 < 3 else 0 for i, v in enumerate(rgba)])
# Lengths claiming more than there is: taken as far as the data goes.
layer = f.layer([f.channel(p, c + 1, uncompressed=1 << 30) for c, p in enumerate(first)])
write("v5-uncompressed-length-too-long.psp", f.file(f.bank([layer])), "exact", W, H, rgba)
# No layer: a black picture of the file's size.
write("v5-no-layer.psp", f.file(), "exact", W, H, [0, 0, 0, 255] * (W * H))
# The signature in lower case is the same signature.
f = PSP(5, W, H, 8, 0, signature=b"paint shop pro image file")
plane, indices = indexed_plane(W, H, 8)
colours = [(i, i, 255 - i) for i in range(256)]
write("v5-lower-case-signature.psp", f.file(f.palette(colours), f.bank([f.layer([f.channel(plane, 0)])])), "exact",
      W, H, rgba_of_indices(indices, colours))

# Channels of a type again: each block stands for the whole plane of its
# type, zero past its own data, so the last one counts. Red comes short,
# green whole after a short one, blue empty after a whole one.
f = PSP(5, W, H, 24, 2)
layer = f.layer([f.channel(first[0], 1), f.channel(second[0][:23], 1), f.channel(first[1][:5], 2),
                 f.channel(first[1], 2), f.channel(first[2], 3), f.channel(b"", 3)])
red = second[0][:23].ljust(W * H, b"\0")
write("v5-repeated-channels.psp", f.file(f.bank([layer])), "exact", W, H,
      sum(([red[i], first[1][i], 0, 0] for i in range(W * H)), []))
# A second layer bank loads its layer over the first one's picture: its
# red channel, short, and a fourth channel that widens it to 32 bits.
second_bank = f.bank([f.layer([f.channel(second[0][:23], 1), f.channel(bytes(W * H), 0), f.channel(b"", 9),
                               f.channel(second[2], 9)])])
write("v5-two-layer-banks.psp", f.file(f.bank([f.layer([f.channel(p, c + 1) for c, p in enumerate(first)])]),
                                       second_bank), "exact", W, H,
      sum(([red[i], first[1][i], first[2][i], 0] for i in range(W * H)), []))
# 4 bits at an even width, whose plane rows have a byte the picture drops: a
# later block cut inside the third row.
f = PSP(5, W, H, 4, 1)
whole, _ = indexed_plane(W, H, 4)
cut, indices = indexed_plane(W, H, 4)
colours = [(16 * i, 255 - 16 * i, 7 * i) for i in range(16)]
layer = f.layer([f.channel(whole, 0), f.channel(cut[:15], 0)])
rows = [indices[y] if y < 2 else indices[2][:6] + [0] * (W - 6) if y == 2 else [0] * W for y in range(H)]
write("v5-rle-4-repeated-channel.psp", f.file(f.palette(colours), f.bank([layer])), "exact", W, H,
      rgba_of_indices(rows, colours))

# Refused.
f = PSP(2, W, H, 8, 0)
write("bad-version-2.psp", f.file(f.bank([f.layer([f.channel(plane, 0)])])), INVALID)
f = PSP(5, W, H, 16, 0)
write("bad-depth-16.psp", f.file(f.bank([f.layer([f.channel(plane * 2, 0)])])), COLOUR)
write("bad-jpeg.psp", PSP(5, W, H, 24, 3).file(f.bank([])), NOT_SUPPORTED)
f = PSP(5, W, H, 24, 0)
write("bad-no-blue.psp", f.file(f.bank([f.layer([f.channel(first[0], 1), f.channel(first[1], 2)])])), COLOUR)
whole = f.file(f.bank([f.layer([f.channel(p, c + 1) for c, p in enumerate(first)])]))
write("bad-block-past-the-end.psp", whole[:-20], READ)
write("bad-size-from-few-bytes.psp", PSP(5, 60000, 4000, 24, 2).file(f.bank([])), INVALID)
expect.close()
