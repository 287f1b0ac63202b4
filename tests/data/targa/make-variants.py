#!/usr/bin/python3
# Writes the Targa variants that no tool here writes, each with its line in
# OUTDIR/expect.txt: 15- and 16-bit pixels, 32-bit and over-long 16-bit
# colour maps, a map that starts at a later entry, a grey image that
# carries a map, run-length packets that run across rows, and an
# identification field. Plain Python: the bytes are laid down by hand from
# the format's description.
# usage: make-variants.py OUTDIR
import os
import struct
import sys

out = sys.argv[1]


def header(image_type, width, height, depth, descriptor=0, map_type=0, first=0, map_length=0, entry=0, id_length=0):
    return struct.pack("<BBBHHBHHHHBB", id_length, map_type, image_type, first, map_length, entry, 0, 0,
                       width, height, depth, descriptor)


def rle(rows):
    """Run-length packets over rows of pixels (bytes each) taken as one
    stream, so that packets run over row ends."""
    pixels, data, i = sum(rows, []), bytearray(), 0
    while i < len(pixels):
        run = 1
        while i + run < len(pixels) and run < 128 and pixels[i + run] == pixels[i]:
            run += 1
        if run > 1:
            data += bytes([0x80 | (run - 1)]) + pixels[i]
        else:
            while i + run < len(pixels) and run < 128 and pixels[i + run] != pixels[i + run - 1]:
                run += 1
            data += bytes([run - 1]) + b"".join(pixels[i:i + run])
        i += run
    return bytes(data)


def raw(rows):
    return b"".join(b"".join(r) for r in rows)


def write(name, data, mode):
    """The file and its line in expect.txt: how the test compares it."""
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
    with open(os.path.join(out, "expect.txt"), "a") as expect:
        expect.write("%s %s\n" % (name, mode))


W, H = 23, 11


def colour(x, y):
    # Blocks of equal pixels beside gradients, so both packet kinds occur.
    if (x // 4 + y // 3) % 3 == 0:
        return (200, 40 + 10 * (y % 3), 90)
    return ((x * 11) % 256, (y * 23) % 256, ((x + y) * 7) % 256)


def pixel555(r, g, b):
    return struct.pack("<H", ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3))


# 15- and 16-bit true colour, raw and packed (across rows), both row orders.
rows555 = [[pixel555(*colour(x, y)) for x in range(W)] for y in range(H)]
for depth, packed, top in ((15, False, False), (15, True, True), (16, False, True), (16, True, False)):
    stored = rows555 if top else rows555[::-1]
    body = rle(stored) if packed else raw(stored)
    name = "v-rgb%d-%s-%s.tga" % (depth, "rle" if packed else "raw", "top" if top else "bottom")
    write(name, header(10 if packed else 2, W, H, depth, 0x20 if top else 0) + body, "top5")

# Indexed pixels over several maps.
indices = [[(x * 3 + y * 5) % 40 if (x + y) % 4 else 7 for x in range(W)] for y in range(H)]


def index_rows(offset=0):
    return [[bytes([v + offset]) for v in row] for row in indices]


map_colours = [((i * 37) % 256, (i * 91) % 256, (255 - i * 5) % 256) for i in range(300)]
bgra = b"".join(bytes([b, g, r, 0x55]) for r, g, b in map_colours[:40])
write("v-map32-rle.tga", header(9, W, H, 8, 0x20, 1, 0, 40, 32) + bgra + rle(index_rows()), "rgb")
bgr = b"".join(bytes([b, g, r]) for r, g, b in map_colours[:40])
write("v-map24-first10.tga", header(1, W, H, 8, 0, 1, 10, 40, 24) + bgr + raw(index_rows(10)[::-1]), "exact")
map16 = b"".join(pixel555(r, g, b) for r, g, b in map_colours)
write("v-map16-long.tga", header(1, W, H, 8, 0x20, 1, 0, 300, 16) + map16 + raw(index_rows()), "top5")
# Grey data with a map present: the map is passed over.
grey_rows = [[bytes([(x * 10 + y * 3) % 256]) for x in range(W)] for y in range(H)]
write("v-gray-with-map.tga", header(11, W, H, 8, 0x20, 1, 0, 4, 24) + bytes(range(12)) + rle(grey_rows), "exact")
# An identification field before the pixels, 24 bits packed across rows.
rows24 = [[bytes(colour(x, y)[::-1]) for x in range(W)] for y in range(H)]
write("v-rgb24-id-rle.tga", header(10, W, H, 24, 0, id_length=9) + b"Quillarc!" + rle(rows24[::-1]), "exact")
