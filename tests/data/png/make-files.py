#!/usr/bin/python3
"""Writes the PNG test files into OUTDIR (see make-files.sh): every colour
type, bit depth and interlace from pypng, photographs from ImageMagick,
pnmtopng and Pillow, and damaged files laid down byte by byte here.
usage: make-files.py OUTDIR SAMPLE.bmp"""
import os
import random
import struct
import subprocess
import sys
import zlib

import png
from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from referencekit import case_writer, write_pam  # noqa: E402

out, sample = sys.argv[1], os.path.abspath(sys.argv[2])
os.chdir(out)
expect = open("expect.txt", "w")
write = case_writer(expect)

INVALID = "Cannot load image. Invalid or unexpected PNG image format."
CRC = "Cannot load image. CRC error found in PNG file."
NOT_SUPPORTED = "Cannot load image. The compression scheme is not supported for PNG files."
PALETTE = "Cannot load image. Palette in PNG file is invalid."
COLOUR = "Invalid color format in PNG file."
COMPRESSION = "Cannot load image. Compression error found in PNG file."
EXTRA = "Cannot load image. Extra compressed data found in PNG file."
CRITICAL = "Cannot load PNG image. Unexpected but critical chunk detected."


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def gamma_curve(value):
    """The reader's curve for a gAMA value: image gamma value / 100000,
    display gamma 2.2, rounded to nearest with ties to even."""
    if value is None:
        return list(range(256))
    e = f32(1.0 / (f32(value / 100000.0) * f32(2.2)))
    return [min(255, max(0, round((i / 255.0) ** e * 255))) for i in range(256)]


def chunks(data):
    i = 8
    while i + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[i:i + 8])
        yield kind, data[i + 8:i + 8 + length]
        i += 12 + length


def reference(name):
    """libpng's decode (pngtopam) of a file, after the reader's rules."""
    data = open(name, "rb").read()
    colour_type, gamma = None, None
    for kind, body in chunks(data):
        if kind == b"IHDR":
            colour_type = body[9]
        elif kind == b"gAMA":
            gamma = struct.unpack(">I", body)[0]
        elif kind == b"IDAT":
            break
    curve = gamma_curve(gamma)
    pam = subprocess.run(["pngtopam", "-alphapam", name], check=True, capture_output=True).stdout
    header, pixels = pam.split(b"ENDHDR\n", 1)
    fields = dict(line.split(b" ", 1) for line in header.split(b"\n")[1:] if b" " in line)
    width, height = int(fields[b"WIDTH"]), int(fields[b"HEIGHT"])
    depth, maxval = int(fields[b"DEPTH"]), int(fields[b"MAXVAL"])
    size = 2 if maxval > 255 else 1
    values = [int.from_bytes(pixels[i:i + size], "big") for i in range(0, len(pixels), size)]
    colours = 1 if depth <= 2 else 3
    rgba = []
    for p in range(width * height):
        s = values[p * depth:(p + 1) * depth]
        level = [v * 255 // maxval for v in s]
        rgb = [curve[level[0]]] * 3 if colours == 1 else [curve[v] for v in level[:3]]
        alpha = level[depth - 1] if colour_type == 6 else 255
        rgba += rgb + [alpha]
    write_pam(name, width, height, rgba)


# ------------------------------------------------------------ pypng: every colour type, depth and interlace

def pattern(width, height, planes, maxval, seed):
    r = random.Random(seed)
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            for c in range(planes):
                row.append((x * (c + 3) + y * 5) % (maxval + 1) if r.random() < 0.6 else r.randint(0, maxval))
        rows.append(row)
    return rows


GAMMAS = [None, 0.45455, 1.0, 0.7, None, 2.2]
CASES = [(0, 1), (0, 2), (0, 4), (0, 8), (0, 16), (2, 8), (2, 16), (3, 1), (3, 2), (3, 4), (3, 8),
         (4, 8), (4, 16), (6, 8), (6, 16)]
n = 0
for colour_type, depth in CASES:
    for interlace in (False, True):
        for width, height in ((13, 11),) + (((1, 1), (1, 9), (9, 1)) if depth in (1, 16) else ()):
            n += 1
            maxval = (1 << depth) - 1
            planes = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour_type]
            options = dict(width=width, height=height, bitdepth=depth, interlace=interlace,
                           gamma=GAMMAS[n % len(GAMMAS)])
            if n % 3 == 0:
                options["chunk_limit"] = 40  # many IDAT chunks
            if colour_type == 3:
                entries = min(1 << depth, 200)
                r = random.Random(n)
                palette = [(r.randint(0, 255), r.randint(0, 255), r.randint(0, 255)) for _ in range(entries)]
                if n % 2 == 0:  # tRNS, read and not used
                    palette = [p + (r.randint(0, 255),) for p in palette[:3]] + palette[3:]
                options["palette"] = palette
                rows = pattern(width, height, 1, entries - 1, n)
            else:
                options["greyscale"] = colour_type in (0, 4)
                options["alpha"] = colour_type in (4, 6)
                if n % 2 == 1 and colour_type in (0, 2):
                    options["transparent"] = (1,) * (3 if colour_type == 2 else 1)
                if n % 4 != 3:
                    options["background"] = (maxval // 3,) * (3 if colour_type in (2, 6) else 1)
                rows = pattern(width, height, planes, maxval, n)
            name = "pypng-ct%d-%d%s-%dx%d.png" % (colour_type, depth, "-i" if interlace else "", width, height)
            with open(name, "wb") as f:
                png.Writer(**{k: v for k, v in options.items() if v is not None}).write(f, rows)
            reference(name)
            expect.write(name + " exact\n")

# ------------------------------------------------------------ photographs from ImageMagick, pnmtopng, Pillow

subprocess.run(["convert", sample, "-crop", "97x83+100+120", "+repage", "photo.ppm"], check=True)
subprocess.run(["convert", "photo.ppm", "+dither", "-colors", "40", "flat.ppm"], check=True)
gradient = "-fx", "(i+j)/(w+h)"
im = {
    "im-rgb-none.png": ["-define", "png:compression-filter=0"],
    "im-rgb-sub.png": ["-define", "png:compression-filter=1"],
    "im-rgb-up.png": ["-define", "png:compression-filter=2"],
    "im-rgb-average.png": ["-define", "png:compression-filter=3"],
    "im-rgb-paeth.png": ["-define", "png:compression-filter=4"],
    "im-rgb-adaptive-level1.png": ["-define", "png:compression-level=1"],
    "im-rgb-interlaced.png": ["-interlace", "PNG"],
    "im-rgba.png": ["-alpha", "set", "-channel", "A", *gradient, "+channel", "PNG32:"],
    "im-rgba16-interlaced.png": ["-alpha", "set", "-channel", "A", *gradient, "+channel", "-depth", "16",
                                 "-interlace", "PNG", "PNG64:"],
    "im-gray.png": ["-colorspace", "gray"],
    "im-gray-alpha.png": ["-colorspace", "gray", "-alpha", "set", "-channel", "A", *gradient, "+channel"],
    "im-palette.png": ["PNG8:"],
}
for name, options in im.items():
    source = "flat.ppm" if "palette" in name else "photo.ppm"
    prefix = options[-1] if options and options[-1].endswith(":") else ""
    args = options[:-1] if prefix else options
    # No time chunks, so that every run writes the same bytes.
    subprocess.run(["convert", source, *args, "-define", "png:exclude-chunks=date,time", prefix + name],
                   check=True)
    reference(name)
    expect.write(name + " exact\n")

subprocess.run("ppmtopgm photo.ppm >gray.pgm && pamdepth 65535 photo.ppm >photo16.ppm", shell=True, check=True)
pnm = {
    "pnm-default.png": ([], "photo.ppm"),
    "pnm-gray-interlaced.png": (["-interlace"], "gray.pgm"),
    "pnm-palette.png": ([], "flat.ppm"),
    "pnm-rgb16.png": (["-paeth"], "photo16.ppm"),
}
for name, (options, source) in pnm.items():
    with open(name, "wb") as f:
        subprocess.run(["pnmtopng", *options, source], check=True, stdout=f, stderr=subprocess.DEVNULL)
    reference(name)
    expect.write(name + " exact\n")

photo = Image.open("photo.ppm")
pillow = {
    "pil-rgb.png": photo,
    "pil-rgba.png": photo.convert("RGBA"),
    "pil-p.png": Image.open("flat.ppm").convert("P", palette=Image.ADAPTIVE, colors=40),
}
pillow["pil-rgba.png"].putalpha(Image.linear_gradient("L").resize(photo.size))
for name, picture in pillow.items():
    picture.save(name, optimize=name == "pil-rgb.png")
    reference(name)
    expect.write(name + " exact\n")
for temporary in ("photo.ppm", "flat.ppm", "gray.pgm", "photo16.ppm"):
    os.remove(temporary)

# ------------------------------------------------------------ damaged files, byte by byte

SIGNATURE = b"\x89PNG\r\n\x1a\n"
W, H = 16, 8
r = random.Random(7)
PIXELS = [[r.randint(0, 255) for _ in range(3 * W)] for _ in range(H)]


def chunk(kind, data, crc=None):
    if crc is None:
        crc = zlib.crc32(kind + data)
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", crc & 0xFFFFFFFF)


def ihdr(width=W, height=H, depth=8, colour_type=2, compression=0, interlace=0, length=13):
    return chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour_type, compression, 0,
                                      interlace)[:length])


def raw_rows(rows=PIXELS, filter_type=0):
    return b"".join(bytes([filter_type]) + bytes(row) for row in rows)


ZDATA = zlib.compress(raw_rows())
IEND = chunk(b"IEND", b"")


def damaged(name, outcome, *chunks, header=None, end=IEND, rows=PIXELS):
    """SIGNATURE, the header (ihdr() unless given), the chunks and the end;
    a file that loads shows rows, and zeros below them."""
    rgba = sum((list(rows[y][3 * x:3 * x + 3]) + [255] if y < len(rows) else [0, 0, 0, 255]
                for y in range(H) for x in range(W)), [])
    write(name, SIGNATURE + (header or ihdr()) + b"".join(chunks) + end, outcome, W, H, rgba)


good_idat = chunk(b"IDAT", ZDATA)
damaged("d-good.png", "exact", good_idat)
damaged("d-crc-ihdr.png", CRC, good_idat, header=ihdr()[:-1] + bytes([ihdr()[-1] ^ 1]))
damaged("d-crc-idat.png", CRC, chunk(b"IDAT", ZDATA, zlib.crc32(b"IDAT" + ZDATA) + 1))
damaged("d-crc-text-skipped.png", "exact", chunk(b"tEXt", b"a\0b", 5), good_idat)
damaged("d-lower-case-idat.png", "exact", chunk(b"idat", ZDATA))
damaged("d-unknown-critical.png", CRITICAL, chunk(b"QUIL", b"x"), good_idat)
damaged("d-unknown-ancillary.png", "exact", chunk(b"quIL", b"x"), good_idat)
damaged("d-idat-1-byte.png", "exact", *(chunk(b"IDAT", ZDATA[i:i + 1]) for i in range(len(ZDATA))))
damaged("d-idat-empty.png", "exact", *(chunk(b"IDAT", p) for p in (b"", ZDATA[:9], b"", ZDATA[9:], b"")))
damaged("d-no-iend.png", "exact", good_idat, end=b"")
for name, header, outcome in [("d-width-0.png", ihdr(width=0), INVALID), ("d-height-0.png", ihdr(height=0), INVALID),
                              ("d-ihdr-12-bytes.png", ihdr(length=12), INVALID),
                              ("d-compression-1.png", ihdr(compression=1), NOT_SUPPORTED),
                              ("d-rgb-4-bits.png", ihdr(depth=4), COLOUR),
                              ("d-colour-type-5.png", ihdr(colour_type=5), COLOUR),
                              # A few bytes that claim hundreds of megabytes.
                              ("d-size-from-few-bytes.png", ihdr(30000, 8000, colour_type=6), INVALID),
                              ("d-size-over-the-limit.png", ihdr(70000, 2), INVALID)]:
    damaged(name, outcome, good_idat, header=header)
damaged("d-palette-16-bits.png", COLOUR, chunk(b"PLTE", bytes(6)), good_idat, header=ihdr(depth=16, colour_type=3))
# Filter type 5 does not exist: its rows stay as read.
damaged("d-filter-5.png", "exact", chunk(b"IDAT", zlib.compress(raw_rows(filter_type=5))))
damaged("d-data-after-zlib-end.png", EXTRA, chunk(b"IDAT", ZDATA + b"more"))
damaged("d-zlib-damaged.png", COMPRESSION, chunk(b"IDAT", ZDATA[:2] + b"\xff" + ZDATA[3:]))
# Cut at a row: the rows after it stay zero.
z = zlib.compressobj()
parts = [z.compress(bytes([0]) + bytes(row)) + z.flush(zlib.Z_FULL_FLUSH) for row in PIXELS]
damaged("d-zlib-truncated.png", "exact", chunk(b"IDAT", b"".join(parts[:5])), rows=PIXELS[:5])
# A second run of image data after other chunks.
damaged("d-idat-after-text.png", CRITICAL, chunk(b"IDAT", ZDATA[:20]), chunk(b"tEXt", b"a\0b"),
        chunk(b"IDAT", ZDATA[20:]))
damaged("d-no-image-data.png", INVALID)
for name, length in (("d-chunk-length-2g.png", 0x80000000), ("d-chunk-length-fffffff4.png", 0xFFFFFFF4),
                     ("d-chunk-past-the-end.png", 1000)):
    damaged(name, INVALID, struct.pack(">I", length) + chunk(b"tEXt", b"a\0b")[4:], good_idat)

# Palettes: not a multiple of 3, and 300 entries of which 256 are used.
indices = [[(x * 16 + y) % 256 for x in range(W)] for y in range(H)]
pal_z = chunk(b"IDAT", zlib.compress(b"".join(b"\0" + bytes(row) for row in indices)))
colours = [(i % 256, (255 - i) % 256, (i * 7) % 256) for i in range(300)]
plte = b"".join(bytes(c) for c in colours)
damaged("d-palette-not-3.png", PALETTE, chunk(b"PLTE", plte[:10]), pal_z, header=ihdr(colour_type=3))
damaged("d-palette-300.png", "exact", chunk(b"PLTE", plte), pal_z, header=ihdr(colour_type=3),
        rows=[sum((list(colours[i]) for i in row), []) for row in indices])
damaged("d-palette-after-image.png", CRITICAL, good_idat, chunk(b"PLTE", plte[:30]))
expect.close()
