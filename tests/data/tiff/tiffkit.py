#!/usr/bin/python3
"""Makes the TIFF and EPS test files in OUTDIR.

usage: tiffkit.py OUTDIR

TIFF files come from ImageMagick, tiffcp, raw2tiff, tiffset and Pillow;
ThunderScan strips and EPS wrappers, which no tool writes, and small hostile
files are laid down here.
Beside each file X goes X.pam, the picture as Quillarc must show it (RGBA,
rows top first): libtiff's decode (tifftopnm) or ImageMagick's, or, where
the reader's own arithmetic rules (16-bit samples taken to 8 bits by
v x 255 div 65535, CMYK, YCbCr and L*a*b* by their formulas), that
arithmetic applied here to the samples in the file. expect.txt names each
file with its comparison (see tests/rasterformats/RasterFiles.h).
"""
import io
import os
import shutil
import struct
import subprocess
import sys
import zlib
from fractions import Fraction

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..")]
from referencekit import write_pam  # noqa: E402
from ycc import chroma_tables, saturate, ycc_to_rgb  # noqa: E402

SAMPLE = os.path.join(HERE, "..", "..", "..", "resources", "sample.bmp")
NOT_SUPPORTED = "Cannot load image. %s not supported for TIF/TIFF files."
COMPRESSION = NOT_SUPPORTED % "The compression scheme is"

os.chdir(sys.argv[1])
manifest = open("expect.txt", "w")


def run(*command):
    return subprocess.run(command, check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout


def expect(name, mode, message=""):
    manifest.write("%s %s%s\n" % (name, mode, " " + message if message else ""))


def pixels_reference(name, width, height, rgb):
    """The picture of rgb, a list of (r, g, b), opaque."""
    write_pam(name, width, height, [v for px in rgb for v in list(px) + [255]])
    expect(name, "exact")


# ------------------------------------------------------------ references

def libtiff(name):
    """libtiff's decode through tifftopnm (samples of at most 8 bits, which
    widen to 8 exactly)."""
    image_reference(name, Image.open(io.BytesIO(run("sh", "-c", 'tifftopnm "$0" | pamdepth 255', name))))


def magick(name):
    """ImageMagick's decode, 16-bit samples taken to 8 bits by the reader's
    rule (libtiff's tools round them, and tifftopnm premultiplies alpha)."""
    data = run("convert", name, "-depth", "16", "-endian", "MSB", "RGBA:-")
    width, height = map(int, run("identify", "-format", "%w %h", name).split())
    write_pam(name, width, height, [v * 255 // 65535 for v in struct.unpack(">%dH" % (len(data) // 2), data)])
    expect(name, "exact")


def image_reference(name, image):
    rgba = image.convert("RGBA")
    write_pam(name, rgba.width, rgba.height, rgba.tobytes())
    expect(name, "exact")


# The reader's colour arithmetic.
def cmyk_to_rgb(c, m, y, k):
    return [saturate(255 - (x - x * k // 255 + k)) for x in (c, m, y)]


def cmyk16_to_rgb(c, m, y, k):
    return [saturate(255 - ((x - x * k // 65535 + k) & 0xFFFF) * 255 // 65535) for x in (c, m, y)]


def lab_to_rgb(l_byte, a_byte, b_byte):
    # L* stored as 0..255, a* and b* as signed bytes.
    l = Fraction(l_byte) / Fraction("2.55")
    a = Fraction(a_byte - 256 if a_byte > 127 else a_byte)
    b = Fraction(b_byte - 256 if b_byte > 127 else b_byte)
    fy = (l + 16) / 116
    if l < Fraction("7.9996"):
        y = l / Fraction("903.3")
        x, z = y + a / Fraction("3893.5"), y - b / Fraction("1557.4")
    else:
        x, y, z = (fy + a / 500) ** 3, fy ** 3, (fy - b / 200) ** 3
    blue = Fraction("0.099") * x - Fraction("0.198") * y + Fraction("1.099") * z
    green = Fraction("-0.952") * x + Fraction("1.893") * y + Fraction("0.059") * z
    red = Fraction("2.998") * x - Fraction("1.458") * y - Fraction("0.541") * z
    return [saturate(round(v * 255)) for v in (red, green, blue)]


def entry(data, tag):
    """(position, type, count, value) of tag in a little-endian file's first directory."""
    ifd = struct.unpack_from("<I", data, 4)[0]
    for at in range(ifd + 2, ifd + 2 + 12 * struct.unpack_from("<H", data, ifd)[0], 12):
        if struct.unpack_from("<H", data, at)[0] == tag:
            return (at,) + struct.unpack_from("<HII", data, at + 2)


def patch(name, change):
    data = bytearray(open(name, "rb").read())
    change(data)
    open(name, "wb").write(data)


# ------------------------------------------------------------ sources

run("convert", SAMPLE, "-crop", "61x47+100+120", "+repage", "photo.ppm")
run("convert", "photo.ppm", "+dither", "-colors", "24", "flat.ppm")
photo = Image.open("photo.ppm")
bilevel = photo.convert("1")
W, H = photo.size
# Samples of every value, for raw2tiff.
ramp = bytes((x * 37 + y * 11 + c * 101) % 256 for y in range(H) for x in range(W) for c in range(3))
alpha = ["-alpha", "set", "-channel", "A", "-fx", "(i+j)/(w+h)", "+channel"]

# ------------------------------------------------------------ ImageMagick

for name, source, reference, options in [
    ("im-rgb.tif", "photo.ppm", libtiff, []),
    ("im-rgb-packbits-rps5.tif", "photo.ppm", libtiff, ["-compress", "RLE", "-define", "tiff:rows-per-strip=5"]),
    ("im-gray8.tif", "photo.ppm", libtiff, ["-type", "Grayscale"]),
    ("im-gray4.tif", "photo.ppm", libtiff, ["-type", "Grayscale", "-depth", "4"]),
    ("im-gray2.tif", "photo.ppm", libtiff, ["-type", "Grayscale", "-depth", "2"]),
    ("im-gray1.tif", "photo.ppm", libtiff, ["-monochrome", "-depth", "1"]),
    ("im-gray16-mm.tif", "photo.ppm", magick, ["-type", "Grayscale", "-depth", "16", "-define", "tiff:endian=msb"]),
    ("im-palette8.tif", "flat.ppm", libtiff, ["-type", "Palette"]),
    ("im-palette4-mm.tif", "flat.ppm", libtiff, ["-colors", "16", "-type", "Palette", "-depth", "4",
                                                 "-define", "tiff:endian=msb"]),
    ("im-palette1.tif", "flat.ppm", libtiff, ["-colors", "2", "-type", "Palette", "-depth", "1"]),
    ("im-rgba-packbits-mm.tif", "photo.ppm", magick, alpha + ["-compress", "RLE", "-define", "tiff:endian=msb"]),
    ("im-rgb-jpeg.tif", "photo.ppm", magick, ["-compress", "JPEG"]),  # photometric RGB
    ("im-cmyk.tif", "photo.ppm", None, ["-colorspace", "CMYK"]),
    ("im-lzw.tif", "photo.ppm", None, ["-compress", "LZW"]),
]:
    run("convert", source, "-compress", "None", *options, name)
    if reference:
        reference(name)
expect("im-lzw.tif", "refuse", COMPRESSION)
# Strips of hundreds of kilobytes, which the reader unpacks band by band;
# rows of 801 pixels end in padding in the picture.
run("convert", "photo.ppm", "-resize", "801x200!", "big.ppm")
for name, options, reference in [("im-big-none.tif", [], libtiff), ("im-big-packbits.tif", ["-compress", "RLE"], libtiff),
                                 ("im-big-zip.tif", ["-compress", "Zip"], libtiff),
                                 ("im-big-gray16.tif", ["-type", "Grayscale", "-depth", "16"], magick)]:
    run("convert", "big.ppm", "-compress", "None", *options, "-define", "tiff:rows-per-strip=200", name)
    reference(name)
# CMYK by the reader's formula on the samples Pillow reads.
cmyk = Image.open("im-cmyk.tif")
assert cmyk.mode == "CMYK"
pixels_reference("im-cmyk.tif", W, H, [cmyk_to_rgb(*px) for px in cmyk.getdata()])

# ------------------------------------------------------------ tiffcp

run("convert", "photo.ppm", "-compress", "None", "-type", "Grayscale", "gray8.tif")
bilevel.save("bilevel.tif")


def tiffcp(name, source, *options, reference=libtiff):
    run("tiffcp", *options, source, name)
    if reference:
        reference(name)


tiffcp("tc-rgb-packbits-r1.tif", "im-rgb.tif", "-c", "packbits", "-r", "1")
# RGB PackBits pictures of a pixel, a column, a row and 7 x 5.
for w, h in [(1, 1), (1, 9), (9, 1), (7, 5)]:
    run("convert", "photo.ppm", "-crop", "%dx%d+20+10" % (w, h), "+repage", "-compress", "None", "small.tif")
    tiffcp("tc-rgb-packbits-%dx%d.tif" % (w, h), "small.tif", "-c", "packbits", "-r", "1")
os.remove("small.tif")
tiffcp("tc-rgb-mm-r7.tif", "im-rgb.tif", "-B", "-c", "none", "-r", "7")
tiffcp("tc-rgb-jpeg-ycbcr.tif", "im-rgb.tif", "-c", "jpeg", "-r", "16", reference=magick)
tiffcp("tc-gray-jpeg.tif", "gray8.tif", "-c", "jpeg", "-r", "16", reference=magick)
# Not in the manifest: its first strip cut short, for the decode tool's
# warning (see tests/CMakeLists.txt).
tiffcp("warning-jpeg-cut.tif", "im-rgb.tif", "-c", "jpeg", "-r", "16", reference=None)


def cut_first_strip(data):
    at, kind, count, value = entry(data, 279)
    word = "<I" if kind == 4 else "<H"
    assert count * struct.calcsize(word) > 4
    struct.pack_into(word, data, value, struct.unpack_from(word, data, value)[0] - 40)


patch("warning-jpeg-cut.tif", cut_first_strip)
tiffcp("tc-bilevel-packbits-lsb.tif", "bilevel.tif", "-f", "lsb2msb", "-c", "packbits")
run("convert", "big.ppm", "-compress", "None", "-type", "Grayscale", "big-gray.tif")
tiffcp("tc-big-gray-packbits-lsb.tif", "big-gray.tif", "-f", "lsb2msb", "-c", "packbits", "-r", "200")
tiffcp("tc-rgb-zip2-r3.tif", "im-rgb.tif", "-c", "zip:2", "-r", "3")
tiffcp("tc-rgb-zip-lsb.tif", "im-rgb.tif", "-f", "lsb2msb", "-c", "zip")
tiffcp("tc-gray-zip2.tif", "gray8.tif", "-c", "zip:2")
tiffcp("tc-rgba-zip2-mm.tif", "im-rgba-packbits-mm.tif", "-c", "zip:2", reference=magick)
tiffcp("tc-gray16-zip2-mm.tif", "im-gray16-mm.tif", "-B", "-c", "zip:2", reference=magick)
# The older code of deflate, 32946, put in place of 8 (tiffset would drop
# the predictor with the codec).
tiffcp("tc-rgb-deflate.tif", "im-rgb.tif", "-c", "zip:2")
patch("tc-rgb-deflate.tif", lambda data: struct.pack_into("<H", data, entry(data, 259)[0] + 8, 32946))
tiffcp("tc-g3.tif", "bilevel.tif", "-c", "g3:1d")
tiffcp("tc-g3-lsb-r5.fax", "bilevel.tif", "-f", "lsb2msb", "-c", "g3:1d", "-r", "5")
tiffcp("tc-g3-fill.tif", "bilevel.tif", "-c", "g3:1d:fill")
tiffcp("tc-gray-separate.tiff", "gray8.tif", "-p", "separate")
for name, source, options, outcome in [
    ("tc-g3-2d.tif", "bilevel.tif", ["-c", "g3:2d"], COMPRESSION),
    ("tc-g4.tif", "bilevel.tif", ["-c", "g4"], COMPRESSION),
    ("tc-rgb-separate.tif", "im-rgb.tif", ["-p", "separate"], NOT_SUPPORTED % "Separate sample planes are"),
    ("tc-gray-tiled.tif", "gray8.tif", ["-t"], ""),
]:
    tiffcp(name, source, *options, reference=None)
    expect(name, "refuse" if outcome else "empty", outcome)

# ------------------------------------------------------------ Pillow

# Fax files: the reference is the picture Pillow was given.
for name, compression in [("pil-ccitt.tif", "tiff_ccitt"), ("pil-g3.tif", "group3"), ("pil-rlew.tif", "tiff_raw_16")]:
    bilevel.save(name, compression=compression)
    image_reference(name, bilevel)
# 16-bit grey of every value range, 8 bits by the reader's rule.
gray16 = [(x * 1031 + y * 4093) % 65536 for y in range(H) for x in range(W)]
Image.frombytes("I;16", (W, H), struct.pack("<%dH" % len(gray16), *gray16)).save("pil-gray16.tiff")
pixels_reference("pil-gray16.tiff", W, H, [[v * 255 // 65535] * 3 for v in gray16])

# ------------------------------------------------------------ raw2tiff and tiffset

def raw2tiff(name, data, *options):
    with open("data.raw", "wb") as f:
        f.write(data)
    run("raw2tiff", "-w", str(W), "-l", str(H), *options, "data.raw", name)
    os.remove("data.raw")


def triples(samples, n=3):
    return [samples[n * i:n * i + n] for i in range(W * H)]


# raw2tiff writes fill order 2 unless told -M: both kinds are here.
raw2tiff("r2t-rgb-lsb-packbits.tif", ramp, "-b", "3", "-p", "rgb", "-r", "9")
libtiff("r2t-rgb-lsb-packbits.tif")
raw2tiff("r2t-miniswhite.tif", ramp[:W * H], "-M", "-p", "miniswhite", "-c", "none")
libtiff("r2t-miniswhite.tif")

rgb16 = [(i * 2311 + 17) % 65536 for i in range(W * H * 3)]
raw2tiff("rgb16.tif", struct.pack("<%dH" % len(rgb16), *rgb16), "-M", "-b", "3", "-d", "short", "-p", "rgb", "-c", "none")
tiffcp("r2t-rgb16-mm.tif", "rgb16.tif", "-B", reference=None)
tiffcp("tc-rgb16-zip2.tif", "rgb16.tif", "-c", "zip:2", "-r", "4", reference=None)
for name in ("r2t-rgb16-mm.tif", "tc-rgb16-zip2.tif"):
    pixels_reference(name, W, H, [[v * 255 // 65535 for v in px] for px in triples(rgb16)])

# YCbCr stored one sample of each per pixel (Pillow writes subsampling
# 1, 1), with the default weights and with others set by tiffset.
for name, weights in [("pil-ycbcr.tif", None), ("pil-ycbcr-coefficients.tif", [0.2125, 0.7154, 0.0721])]:
    Image.frombytes("YCbCr", (W, H), ramp).save(name)
    if weights:
        run("tiffset", "-s", "529", *map(str, weights), name)
    tables = chroma_tables(weights or [0.299, 0.587, 0.114])
    pixels_reference(name, W, H, [ycc_to_rgb(tables, *px) for px in triples(ramp)])
raw2tiff("r2t-ycbcr-subsampled.tif", ramp, "-M", "-b", "3", "-p", "ycbcr", "-c", "none")
expect("r2t-ycbcr-subsampled.tif", "refuse", NOT_SUPPORTED % "YCbCr subsampling is")

raw2tiff("r2t-lab.tif", ramp, "-M", "-b", "3", "-p", "cielab", "-c", "none")
pixels_reference("r2t-lab.tif", W, H, [lab_to_rgb(*px) for px in triples(ramp)])

cmyk16 = [(i * 3079 + 5) % 65536 for i in range(W * H * 4)]
raw2tiff("r2t-cmyk16.tif", struct.pack("<%dH" % len(cmyk16), *cmyk16), "-M", "-b", "4", "-d", "short", "-p", "cmyk",
         "-c", "none")
pixels_reference("r2t-cmyk16.tif", W, H, [cmyk16_to_rgb(*px) for px in triples(cmyk16, 4)])

# ------------------------------------------------------------ laid down here

def tiff_bytes(tags, strips, big=False):
    """A TIFF of one image: the header, the strips, the directory, the values
    that do not fit their entries. tags maps a tag to (type, values[, count
    written]): 3 short, 4 long, 5 rational (values in pairs), 7 undefined;
    None leaves out a tag. Strip offsets and byte counts come from the strips
    unless given."""
    e = ">" if big else "<"
    offsets = [8 + sum(map(len, strips[:i])) for i in range(len(strips))]
    tags = {273: (4, offsets), 279: (4, [len(s) for s in strips]), **tags}
    tags = {t: v for t, v in sorted(tags.items()) if v is not None}
    directory_at = 8 + sum(map(len, strips))
    outside_at = directory_at + 2 + 12 * len(tags) + 4
    directory, outside = struct.pack(e + "H", len(tags)), b""
    for tag, (kind, values, *count) in tags.items():
        data = struct.pack(e + "%d" % len(values) + {3: "H", 7: "B"}.get(kind, "I"), *values)
        n = count[0] if count else len(data) // {3: 2, 7: 1, 5: 8}.get(kind, 4)
        directory += struct.pack(e + "HHI", tag, kind, n)
        if len(data) <= 4:
            directory += data.ljust(4, b"\0")
        else:
            directory += struct.pack(e + "I", outside_at + len(outside))
            outside += data
    return (b"MM\0*" if big else b"II*\0") + struct.pack(e + "I", directory_at) + b"".join(strips) + directory + \
        bytes(4) + outside


def image(width, height, samples, bits, photometric, compression=1):
    return {256: (4, [width]), 257: (4, [height]), 258: (3, [bits]), 259: (3, [compression]),
            262: (3, [photometric]), 277: (3, [samples])}


def literal(data):
    """PackBits literal packets."""
    return b"".join(bytes([len(data[i:i + 128]) - 1]) + data[i:i + 128] for i in range(0, len(data), 128))


def hand(name, data, outcome, width=0, height=0, rgb=()):
    open(name, "wb").write(data)
    if outcome == "exact":
        pixels_reference(name, width, height, rgb)
    else:
        expect(name, "refuse", outcome)


INVALID, COLOUR = "Cannot load image. Invalid or unexpected TIF/TIFF image format.", "Invalid color format in TIF/TIFF file."
row, rgb = bytes([10, 20, 30, 40, 50, 60]), image(2, 2, 3, 8, 2)  # two RGB pixels
packed = image(2, 2, 3, 8, 2, 32773)
# Hostile strip tables, counts and offsets.
hand("h-no-strip-offsets.tif", tiff_bytes({**rgb, 273: None}, [row + row]), INVALID)
hand("h-packed-without-byte-counts.tif", tiff_bytes({**packed, 279: None}, [literal(row + row)]), INVALID)
hand("h-fewer-byte-counts-than-strips.tif",
     tiff_bytes({**packed, 278: (4, [1]), 279: (4, [7])}, [literal(row), literal(row)]), INVALID)
hand("h-header-directory-past-the-end.tif", b"II*\0\xf0\xff\xff\x0f" + bytes(8), INVALID)
hand("h-header-version-43.tif", b"II+" + tiff_bytes(rgb, [row + row])[3:], INVALID)
hand("h-no-width.tif", tiff_bytes(image(0, 2, 3, 8, 2), [row + row]), INVALID)
hand("h-65536-wide.tif", tiff_bytes(image(65536, 1, 1, 8, 1), [row]), INVALID)
for compression in (50000, 6):  # unknown, old-style JPEG
    hand("h-compression-%d.tif" % compression, tiff_bytes(image(2, 2, 3, 8, 2, compression), [row + row]), COMPRESSION)
two_rows = [row[:3], row[3:]] * 2
hand("h-no-compression-tag.tif", tiff_bytes({**rgb, 259: None}, [row + row]), "exact", 2, 2, two_rows)
hand("h-stored-without-byte-counts.tif", tiff_bytes({**rgb, 279: None}, [row + row]), "exact", 2, 2, two_rows)
hand("h-billion-strip-offsets.tif", tiff_bytes({**rgb, 273: (4, [8, 8], 1000000000)}, [row + row]), "exact", 2, 2,
     two_rows)
hand("h-rows-per-strip-beyond-any-picture.tif", tiff_bytes({**rgb, 278: (4, [0xFFFFFFFE])}, [row + row]), "exact", 2,
     2, two_rows)
# The strip that is not there reads as zero.
hand("h-strip-past-the-end.tif", tiff_bytes({**rgb, 278: (4, [1]), 273: (4, [8, 0x7FFFFF00])}, [row]), "exact", 2, 2,
     two_rows[:2] + [(0, 0, 0)] * 2)
# Strips that share their bytes, more than the stream holds in all, are
# read one after another; each gives its rows.
hand("h-strips-sharing-bytes.tif", tiff_bytes({**image(2, 3, 3, 8, 2, 32773), 278: (4, [1]), 273: (4, [8, 8, 8]),
                                               279: (4, [900, 900, 900])}, [literal(row)]), "exact", 2, 3, two_rows * 2)
# PackBits data that ends inside a pixel: the pixel keeps what it has.
hand("h-packbits-cut-in-a-pixel.tif", tiff_bytes(packed, [literal(row + row)[:11]]), "exact", 2, 2,
     two_rows[:3] + [(40, 0, 0)])
# Strips that start together: those of the same count and rows take the
# first one's rows, the others decode on their own (the last, shorter
# strip; a strip that stops after the first row).
other = bytes([70, 80, 90, 100, 110, 120])
pairs = [row[:3], row[3:], other[:3], other[3:]]
hand("h-strips-starting-together.tif", tiff_bytes({**image(2, 7, 3, 8, 2, 32773), 278: (4, [2]), 273: (4, [8] * 4),
                                                   279: (4, [900, 7, 900, 900])}, [literal(row + other)]), "exact", 2,
     7, pairs + pairs[:2] + [(0, 0, 0)] * 2 + pairs + pairs[:2])
# Pictures the file's bytes cannot back, refused before anything is
# allocated: one stored strip past the end, rows no strip reaches, packed
# strips too short for their rows whatever they hold, and a stretch of
# deflate data that every strip points at (bytes count once).
big, tall = (65535, 4096), (4096, 65535)
for name, tags, strips in [
    ("stored-past-the-end", {**image(*big, 3, 8, 2), 273: (4, [1 << 20]), 279: (4, [big[0] * big[1] * 3])}, []),
    ("one-row-of-many", {**image(*tall, 1, 8, 1), 278: (4, [1])}, [bytes(tall[0])]),
    ("deflate", image(*big, 3, 8, 2, 8), [zlib.compress(bytes(1000))]),
    ("packbits", image(*big, 3, 8, 2, 32773), [b"\x81\0" * 64]),
    ("fax", image(*big, 1, 1, 0, 3), [bytes(10)]),
    ("jpeg", image(*big, 3, 8, 2, 7), [bytes(100)]),
    ("thunderscan", image(*big, 1, 4, 1, 32809), [bytes(100)]),
    ("shared-deflate", {**image(*tall, 1, 8, 1, 8), 278: (4, [16]), 273: (4, [8] * 4096),
                        279: (4, [len(zlib.compress(bytes(16 * tall[0])))] * 4096)}, [zlib.compress(bytes(16 * tall[0]))]),
]:
    hand("h-unbacked-%s.tif" % name, tiff_bytes(tags, strips), INVALID)
# Over a mebibyte of rows with padding in the bitmap (1001 pixels of 3
# bytes), the last strip past the end of the file: the pixel pool test's.
pw, ph, rows = 1001, 360, 60
wide = bytes((x * 7 + y * 13 + c * 101) % 256 for y in range(ph) for x in range(pw) for c in range(3))
held = [wide[i:i + rows * 3 * pw] for i in range(0, (ph - rows) * 3 * pw, rows * 3 * pw)]
hand("pool-rgb-1001.tif", tiff_bytes({**image(pw, ph, 3, 8, 2), 278: (4, [rows]), 279: (4, [rows * 3 * pw] * 6),
                                      273: (4, [8 + sum(map(len, held[:i])) for i in range(5)] + [1 << 30])}, held),
     "exact", pw, ph, [wide[i:i + 3] for i in range(0, len(wide) - rows * 3 * pw, 3)] + [(0, 0, 0)] * (rows * pw))
# Samples that do not fit the colour model, maps of the wrong size.
for name, tags in [("rgb-of-one-sample", image(2, 2, 1, 8, 2)), ("lab-of-two-samples", image(2, 2, 2, 8, 8)),
                   ("ycbcr-of-one-sample", {**image(2, 2, 1, 8, 6), 530: (3, [1, 1])}),
                   ("cmyk-of-three-samples", image(2, 2, 3, 8, 5)), ("grey-of-3-samples", image(2, 2, 3, 8, 1)),
                   ("ycbcr-of-4-samples", {**image(2, 2, 4, 8, 6), 530: (3, [1, 1])}),
                   ("palette-with-an-extra-sample", {**image(2, 2, 1, 8, 3), 338: (3, [2])}),
                   ("rgb-of-12-bits", image(2, 2, 3, 12, 2)), ("grey-of-3-bits", image(2, 2, 1, 3, 1)),
                   ("fax-of-8-bits", image(2, 2, 1, 8, 0, 3)), ("thunderscan-of-8-bits", image(2, 2, 1, 8, 1, 32809)),
                   ("map-of-8-bits-for-4", {**image(2, 2, 1, 4, 3), 320: (3, [0] * 768)}),
                   ("map-one-short", {**image(2, 2, 1, 8, 3), 320: (3, [0] * 767)}),
                   ("map-for-16-bit-indices", {**image(2, 2, 1, 16, 3), 320: (3, [0] * 768)})]:
    hand("h-%s.tif" % name, tiff_bytes(tags, [bytes([1]) * 64]), COLOUR)
# A 2-bit colour map, 16 bits an entry taken as v x 255 div 65535, in
# either byte order.
for big in (False, True):
    colour_map = [0xFFFF, 0x0101, 0, 0x8000, 0, 0xFFFF, 0x7F80, 0, 0, 0, 0xFF00, 0x0100]
    hand("h-map-2-bits%s.tif" % ("-mm" if big else ""), tiff_bytes({**image(4, 1, 1, 2, 3), 320: (3, colour_map)},
                                                                 [b"\x1b"], big), "exact", 4, 1,
         [(255, 0, 0), (1, 255, 0), (0, 127, 254), (127, 0, 0)])
# Grey with an extra sample is grey; the predictor is not applied to 4-bit
# samples; a coefficient tag without values keeps the default weights.
hand("h-grey-extra-sample.tif", tiff_bytes({**image(2, 1, 2, 8, 1), 338: (3, [2])}, [bytes([7, 200, 9, 100])]),
     "exact", 2, 1, [(7, 7, 7), (9, 9, 9)])
hand("h-predictor-4-bits.tif", tiff_bytes({**image(2, 1, 1, 4, 1, 32773), 317: (3, [2])}, [literal(b"\x35")]), "exact",
     2, 1, [(51, 51, 51), (85, 85, 85)])
ycc = bytes([100, 50, 200, 30, 220, 128])
hand("h-coefficients-without-values.tif", tiff_bytes({**image(2, 1, 3, 8, 6), 530: (3, [1, 1]), 529: (5, [])}, [ycc]),
     "exact", 2, 1, [ycc_to_rgb(chroma_tables([0.299, 0.587, 0.114]), *ycc[i:i + 3]) for i in (0, 3)])
hand("h-grey-2x2.tif", tiff_bytes(image(2, 2, 1, 8, 1), [bytes([1, 2, 3, 4])]), "exact", 2, 2,
     [(v, v, v) for v in (1, 2, 3, 4)])
# JPEG strips libjpeg refuses (Pillow's strip: YCbCr, chroma halved both ways).
strip = io.BytesIO()
Image.frombytes("RGB", (16, 8), bytes((x * 15, y * 30, (x + y) * 8)[c] for y in range(8) for x in range(16)
                                      for c in range(3))).save(strip, "JPEG")
strip, jpeg = strip.getvalue(), image(16, 8, 3, 8, 6, 7)
for name, tags, strips, outcome in [
    ("no-data", jpeg, [b"\x55" * 100], "Not a JPEG file: starts with 0x55 0x55"),
    ("strip-of-other-rows", {**jpeg, 278: (3, [4])}, [strip, strip], "Improper JPEG strip/tile size."),
    ("grey-image-colour-strip", image(16, 8, 1, 8, 1, 7), [strip], "Improper JPEG component count."),
    ("other-sampling", {**jpeg, 530: (3, [1, 1])}, [strip], "Improper JPEG sampling factors."),
    ("16-bit-samples", image(16, 8, 3, 16, 6, 7), [strip], "Improper JPEG data precision."),
    ("an-image-as-the-tables", {**jpeg, 347: (7, list(strip))}, [strip], "Bogus JPEG tables field."),
]:
    hand("h-jpeg-%s.tif" % name, tiff_bytes(tags, strips), outcome)
# Strips that need libjpeg's buffers in other shapes from one to the next:
# baseline, progressive, then a shorter baseline one.
pieces = []
for index, (rows, progressive) in enumerate([(16, False), (16, True), (8, False)]):
    piece = io.BytesIO()
    Image.frombytes("RGB", (48, rows), bytes((x * 5 + index * 60, y * 15, x * y % 256)[c] % 256 for y in range(rows)
                                             for x in range(48) for c in range(3))).save(piece, "JPEG",
                                                                                         progressive=progressive)
    pieces.append(piece.getvalue())
decoded = [Image.open(io.BytesIO(piece)).convert("RGB") for piece in pieces]
hand("h-jpeg-mixed-strips.tif", tiff_bytes({**image(48, 40, 3, 8, 6, 7), 278: (3, [16])}, pieces), "exact", 48, 40,
     [px for strip in decoded for px in strip.getdata()])
# The same strips coded by jpegtran with arithmetic coding, the second also
# progressive; libjpeg decodes them for Pillow too.
pieces = [subprocess.run(["jpegtran", "-arithmetic"] + (["-progressive"] if i == 1 else []), input=piece, check=True,
                         stdout=subprocess.PIPE).stdout for i, piece in enumerate(pieces)]
decoded = [Image.open(io.BytesIO(piece)).convert("RGB") for piece in pieces]
hand("h-jpeg-arithmetic-strips.tif", tiff_bytes({**image(48, 40, 3, 8, 6, 7), 278: (3, [16])}, pieces), "exact", 48,
     40, [px for strip in decoded for px in strip.getdata()])

# ThunderScan

# A row's codes cycle through an absolute value, a run, three 2-bit steps
# (+1, 0, -1), two 3-bit steps (+2, -3) and a step of +1 between two 2-bit
# codes that put no pixel.
STEPS = {2: (0x53, [1, 0, -1]), 3: (0x95, [2, -3]), 4: (0x66, [1])}


def thunder_rows(width, height):
    """Coded rows and the pixels they stand for."""
    coded, pixels = [], []
    for y in range(height):
        row, out, last, x = [], [], 0, 0
        while len(out) < width:
            phase = (x + y) % 5
            if phase == 0:
                last = (x * 3 + y) % 16
                row.append(0xC0 | last)
                out.append(last)
            elif phase == 1:
                n = min(width - len(out), 1 + (x + y) % 9)
                row.append(n)
                out += [last] * n
            else:
                code, steps = STEPS[phase]
                row.append(code)
                for step in steps:
                    last = (last + step) & 15
                    out.append(last)
            x += 1
        coded.append(bytes(row))
        pixels.append(out[:width])
    return coded, pixels


for width, rows_per_strip in [(61, 47), (30, 4)]:
    coded, pixels = thunder_rows(width, H)
    name = "thunder-%d-r%d.tif" % (width, rows_per_strip)
    with open(name, "wb") as f:
        f.write(tiff_bytes({**image(width, H, 1, 4, 1, 32809), 278: (4, [rows_per_strip])},
                           [b"".join(coded[i:i + rows_per_strip]) for i in range(0, H, rows_per_strip)]))
    pixels_reference(name, width, H, [[v * 17] * 3 for row in pixels for v in row])

# ------------------------------------------------------------ EPS

def eps(name, preview, offset=None, magic=b"\xc5\xd0\xd3\xc6", length=None):
    """The preview after the PostScript, or, with offset 30, before it."""
    postscript = b"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 61 47\nshowpage\n"
    offset = 30 + len(postscript) if offset is None else offset
    length = len(preview) if length is None else length
    at = 30 + len(preview) if offset == 30 else 30
    header = magic + struct.pack("<IIIIII", at, len(postscript), 0, 0, offset, length) + b"\xff\xff"
    with open(name, "wb") as f:
        f.write(header + (preview + postscript if offset == 30 else postscript + preview))


# The TIFF inside speaks for itself, whatever length the header gives it.
preview = open("im-rgb-packbits-rps5.tif", "rb").read()
for name, offset, length in [("eps-rgb.eps", None, None), ("eps-preview-length-short.eps", None, 10),
                             ("eps-offset30.eps", 30, None)]:
    eps(name, preview, offset=offset, length=length)
    shutil.copy("im-rgb-packbits-rps5.pam", name[:-4] + ".pam")
    expect(name, "exact")
eps("eps-offset29.eps", preview, offset=29)
eps("eps-magic.eps", preview, magic=b"\xc5\xd0\xd3\xc7")
for name in ("eps-offset29.eps", "eps-magic.eps"):
    expect(name, "refuse", "Cannot load image. Invalid or unexpected EPS image format.")
eps("eps-not-tiff.eps", b"X" + preview[1:])
expect("eps-not-tiff.eps", "refuse", INVALID)
eps("eps-unbacked.eps", open("h-unbacked-stored-past-the-end.tif", "rb").read())
expect("eps-unbacked.eps", "refuse", INVALID)

for f in ("photo.ppm", "flat.ppm", "gray8.tif", "bilevel.tif", "rgb16.tif"):
    os.remove(f)
manifest.close()
