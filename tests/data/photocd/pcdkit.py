#!/usr/bin/python3
"""Makes the Photo-CD test files in OUTDIR.

usage: pcdkit.py OUTDIR

ImageMagick writes image packs; the rotation code (the two low bits of
byte 3586) is set to each of 0 to 3 here. An overview pack, which no tool
writes, is made from a pack's smallest image. Beside each file X goes X.pam:
the pack's planes as stored, chroma doubled and PhotoYCC turned into RGB by
the reader's formulas, then turned by the rotation code. expect.txt names
each file with its comparison (see tests/rasterformats/RasterFiles.h).
"""
import os
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "tiff"), os.path.join(HERE, "..")]
from referencekit import write_pam  # noqa: E402
from ycc import chroma_tables, ycc_to_rgb  # noqa: E402

SAMPLE = os.path.join(HERE, "..", "..", "..", "resources", "sample.bmp")
SECTOR = 2048
os.chdir(sys.argv[1])
manifest = open("expect.txt", "w")


def expect(name, mode, message=""):
    manifest.write("%s %s%s\n" % (name, mode, " " + message if message else ""))


def upsample_double(plane, width, height):
    """A width x height plane doubled each way: new samples between two
    stored ones are their mean rounded up, between four their mean."""
    wide = []
    for r in range(height):
        s = plane[r * width:(r + 1) * width]
        row = []
        for x in range(width - 1):
            row += [s[x], (s[x] + s[x + 1] + 1) >> 1]
        row += [s[width - 1], s[width - 1]]
        wide.append(row)
    out = []
    for r in range(height):
        p = wide[r]
        out.append(p)
        if r + 1 < height:
            q = wide[r + 1]
            o = []
            for c in range(0, 2 * width - 2, 2):
                o += [(p[c] + q[c] + 1) >> 1, (p[c] + p[c + 2] + q[c] + q[c + 2] + 2) >> 2]
            o += [(p[-2] + q[-2] + 1) >> 1, (p[-1] + q[-1] + 1) >> 1]
            out.append(o)
        else:
            out.append(list(p))
    return out


def reference(data, first_sector, width, height, rotation):
    at = first_sector * SECTOR
    luma, chroma1, chroma2 = [], [], []
    half = width // 2
    for _ in range(height // 2):
        luma.append(data[at:at + width])
        luma.append(data[at + width:at + 2 * width])
        chroma1 += data[at + 2 * width:at + 2 * width + half]
        chroma2 += data[at + 2 * width + half:at + 2 * width + 2 * half]
        at += 2 * width + 2 * half
    c1 = upsample_double(chroma1, half, height // 2)
    c2 = upsample_double(chroma2, half, height // 2)
    tables = chroma_tables((0.2125, 0.7154, 0.0721), photo_ycc=True)
    pixels = [[ycc_to_rgb(tables, y, v1, v2) + [255] for y, v1, v2 in zip(luma[r], c1[r], c2[r])]
              for r in range(height)]
    if rotation == 1:    # a quarter turn counter-clockwise
        pixels = [[pixels[y][width - 1 - x] for y in range(height)] for x in range(width)]
    elif rotation == 2:  # half a turn
        pixels = [row[::-1] for row in pixels[::-1]]
    elif rotation == 3:  # a quarter turn clockwise
        pixels = [[pixels[height - 1 - y][x] for y in range(height)] for x in range(width)]
    return len(pixels[0]), len(pixels), [c for row in pixels for px in row for c in px]


subprocess.run(["convert", SAMPLE, "-resize", "768x512!", "im.pcd"], check=True)
pack = bytearray(open("im.pcd", "rb").read())
os.remove("im.pcd")
for rotation in range(4):
    pack[3586] = (pack[3586] & 0xFC) | rotation
    name = "im-rotation%d.pcd" % rotation
    open(name, "wb").write(pack)
    write_pam(name, *reference(pack, 96, 768, 512, rotation))
    expect(name, "exact")

# An overview pack whose first image is the pack's 192 x 128 one.
overview = bytearray(b"PCD_OPA" + bytes(3 * SECTOR - 7))
overview[10:12] = struct.pack(">H", 1)
overview += bytes(2 * SECTOR)
overview += pack[4 * SECTOR:23 * SECTOR]
open("overview.pcd", "wb").write(overview)
write_pam("overview.pcd", *reference(overview, 5, 192, 128, 0))
expect("overview.pcd", "exact")

# No signature: refused as no Photo-CD pack. Cut short: the stream ends.
open("no-signature.pcd", "wb").write(bytes(8 * SECTOR))
expect("no-signature.pcd", "refuse", "Cannot load image. Invalid or unexpected PCD image format.")
open("cut-short.pcd", "wb").write(pack[:200 * SECTOR])
expect("cut-short.pcd", "refuse", "Stream read error")
manifest.close()
