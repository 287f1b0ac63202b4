#!/usr/bin/python3
"""Writes the Photoshop test files into OUTDIR (see make-files.sh).
usage: make-files.py OUTDIR SAMPLE.bmp"""
import os
import random
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from referencekit import case_writer, write_pam  # noqa: E402

out, sample = sys.argv[1], os.path.abspath(sys.argv[2])
os.chdir(out)
expect = open("expect.txt", "w")
write = case_writer(expect)

INVALID = "Cannot load image. Invalid or unexpected PSD or PDD image format."
COLOUR = "Invalid color format in PSD or PDD file."
READ = "Stream read error"


def ink_to_rgb(x, k):
    """The reader's CMYK rule for 8-bit ink amounts."""
    return min(255, max(0, 255 - (x - x * k // 255 + k)))


def reference(name):
    """ImageMagick's decode of the merged image, after the reader's rules;
    Pillow's for indexed files, which this ImageMagick does not read back."""
    if "palette" in name:
        from PIL import Image
        picture = Image.open(name)
        assert picture.mode == "P"
        write_pam(name, picture.width, picture.height, picture.convert("RGBA").tobytes())
        return
    # The colours as stored: ImageMagick would otherwise take the white
    # matte out of pixels that are not opaque.
    pam = subprocess.run(["convert", "-define", "psd:alpha-unblend=off", name + "[0]", "-depth", "16", "pam:-"],
                         check=True, capture_output=True).stdout
    header, pixels = pam.split(b"ENDHDR\n", 1)
    fields = dict(line.split(b" ", 1) for line in header.split(b"\n")[1:] if b" " in line)
    width, height, depth = int(fields[b"WIDTH"]), int(fields[b"HEIGHT"]), int(fields[b"DEPTH"])
    kind = fields[b"TUPLTYPE"]
    values = [v * 255 // 65535 for v in struct.unpack(">%dH" % (len(pixels) // 2), pixels)]
    rgba = []
    for p in range(width * height):
        s = values[p * depth:(p + 1) * depth]
        if kind.startswith(b"GRAYSCALE") or "gray" in name:  # grey with alpha is read as grey
            rgba += [s[0]] * 3 + [255]
        elif kind.startswith(b"CMYK"):
            rgba += [ink_to_rgb(x, s[3]) for x in s[:3]] + [255]
        else:
            rgba += s[:3] + [s[3] if kind == b"RGB_ALPHA" and "rgba" in name else 255]
    write_pam(name, width, height, rgba)


# ------------------------------------------------------------ ImageMagick

subprocess.run(["convert", sample, "-crop", "61x37+100+120", "+repage", "photo.ppm"], check=True)
alpha = ["-alpha", "set", "-channel", "A", "-fx", "(i+j)/(w+h)", "+channel"]
kinds = {
    "gray": ["-type", "Grayscale"],
    "gray-alpha": ["-type", "Grayscale", *alpha],
    "palette": ["+dither", "-colors", "30", "-type", "Palette"],
    "rgb": ["-type", "TrueColor"],
    "rgba": alpha,
    "cmyk": ["-colorspace", "CMYK"],
    "cmyk-alpha": ["-colorspace", "CMYK", *alpha],
}
for kind, options in kinds.items():
    for compression in ("None", "RLE"):
        for depth in (8, 16):
            if kind == "palette" and depth == 16:
                continue
            name = "im-%s-%s-%d.psd" % (kind, compression.lower(), depth)
            subprocess.run(["convert", "photo.ppm", *options, "-depth", str(depth), "-compress", compression, name],
                           check=True)
            reference(name)
            expect.write(name + " exact\n")
os.remove("photo.ppm")

# ------------------------------------------------------------ hand-made files


def packbits(row):
    """PackBits of one row: runs of 3 or more repeated, the rest literal."""
    out, i = bytearray(), 0
    while i < len(row):
        run = 1
        while i + run < len(row) and run < 128 and row[i + run] == row[i]:
            run += 1
        if run >= 3:
            out += bytes([257 - run, row[i]])
            i += run
            continue
        start = i
        while i < len(row) and i - start < 128:
            if i + 2 < len(row) and row[i] == row[i + 1] == row[i + 2]:
                break
            i += 1
        out += bytes([i - start - 1]) + bytes(row[start:i])
    return bytes(out)


def psd(mode, depth, width, height, planes, packed=False, mode_data=b"", channels=None, counts=None,
        signature=b"8BPS", stream=None):
    """A file of the given channel planes (lists of rows of bytes); packed,
    the rows' PackBits, or `stream` in their place."""
    channels = len(planes) if channels is None else channels
    data = struct.pack(">4sH6xHIIHH", signature, 1, channels, height, width, depth, mode)
    data += struct.pack(">I", len(mode_data)) + mode_data
    data += struct.pack(">I", 4) + b"8BIM"  # image resources
    data += struct.pack(">I", 0)  # layers and masks
    if packed:
        rows = [packbits(row) for plane in planes for row in plane]
        data += struct.pack(">H", 1)
        data += b"".join(struct.pack(">H", len(r)) for r in (counts or rows))
        data += stream if stream is not None else b"".join(rows)
    else:
        data += struct.pack(">H", 0) + b"".join(row for plane in planes for row in plane)
    return data


W, H = 23, 9
r = random.Random(5)


def plane(maximum=255):
    return [bytes(r.randint(0, maximum) if (x + y) % 4 else (x * 11) % 256 for x in range(W)) for y in range(H)]


def words(rows):
    """8-bit rows widened to 16 bits (v x 257 plus noise in the low byte)."""
    return [b"".join(struct.pack(">H", v * 257 ^ (x * 37 % 200 if v < 255 else 0)) for x, v in enumerate(row))
            for row in rows]


def lab_to_rgb(l_byte, a_value, b_value, scale=255.0):
    """The reader's L*a*b* rule: L* stored 0..255, a* and b* biased by 128."""
    l = l_byte / scale * 255 / 2.55
    a, b = a_value - 128, b_value - 128
    fy = (l + 16) / 116
    if l < 7.9996:
        y = l / 903.3
        x, z = y + a / 3893.5, y - b / 1557.4
    else:
        x, y, z = (fy + a / 500) ** 3, fy ** 3, (fy - b / 200) ** 3
    blue = 0.099 * x - 0.198 * y + 1.099 * z
    green = -0.952 * x + 1.893 * y + 0.059 * z
    red = 2.998 * x - 1.458 * y - 0.541 * z
    return [min(255, max(0, round(min(256.0, max(-1.0, c * 255))))) for c in (red, green, blue)]


for packed in (False, True):
    kind = "rle" if packed else "raw"
    # Bitmap mode: set bits are black.
    bits = [bytes(r.randint(0, 255) for _ in range((W + 7) // 8)) for _ in range(H)]
    rgba = sum(([0 if row[x // 8] >> (7 - x % 8) & 1 else 255] * 3 + [255] for row in bits for x in range(W)), [])
    write("hand-bitmap-%s.psd" % kind, psd(0, 1, W, H, [bits], packed), "exact", W, H, rgba)

    # L*a*b*, 8 and 16 bits, also with an alpha channel that is left.
    l, a, b = plane(), plane(), plane()
    rgba = sum((lab_to_rgb(l[y][x], a[y][x], b[y][x]) + [255] for y in range(H) for x in range(W)), [])
    write("hand-lab-%s-8.psd" % kind, psd(9, 8, W, H, [l, a, b], packed), "exact", W, H, rgba)
    write("hand-lab-alpha-%s-8.psd" % kind, psd(9, 8, W, H, [l, a, b, plane()], packed), "exact", W, H, rgba)
    l16, a16, b16 = words(l), words(a), words(b)
    rgba = sum((lab_to_rgb(*(struct.unpack(">H", p[y][2 * x:2 * x + 2])[0] / 257.0 for p in (l16, a16, b16))) + [255]
                for y in range(H) for x in range(W)), [])
    write("hand-lab-%s-16.psd" % kind, psd(9, 16, W, H, [l16, a16, b16], packed), "exact", W, H, rgba)

    # Duotone: grey, whatever its colour mode data says.
    g = plane()
    grey = sum(([v, v, v, 255] for row in g for v in row), [])
    write("hand-duotone-%s.psd" % kind, psd(8, 8, W, H, [g], packed, mode_data=bytes(range(200)) * 3), "exact",
          W, H, grey)
    # Multichannel: read as RGB; five channels of RGB as RGBA.
    c = [plane(), plane(), plane(), plane(), plane()]
    rgb = sum(([c[0][y][x], c[1][y][x], c[2][y][x], 255] for y in range(H) for x in range(W)), [])
    rgba5 = sum(([c[0][y][x], c[1][y][x], c[2][y][x], c[3][y][x]] for y in range(H) for x in range(W)), [])
    write("hand-multichannel-%s.psd" % kind, psd(7, 8, W, H, c[:3], packed), "exact", W, H, rgb)
    write("hand-rgb-5-channels-%s.psd" % kind, psd(3, 8, W, H, c, packed), "exact", W, H, rgba5)
    # 16-bit grey.
    g16 = words(g)
    grey16 = sum(([v, v, v, 255] for row in g16 for v in
                  (struct.unpack(">H", row[2 * x:2 * x + 2])[0] * 255 // 65535 for x in range(W))), [])
    write("hand-gray-%s-16.psd" % kind, psd(1, 16, W, H, [g16], packed), "exact", W, H, grey16)

# Taller than the rows the reader converts at a time: 8 and 16 bits, and
# PackBits data packed as one stream over rows and channels, whose row
# counts (a share of the stream each) miss the packets' ends.
BW, BH = 211, 420
big = [[bytes((x // 7 + y + 40 * c) % 256 if (x + y) % 3 else r.randint(0, 255) for x in range(BW))
        for y in range(BH)] for c in range(3)]
big16 = [words(p) for p in big]
rgb8, rgb16 = bytearray(), bytearray()
for y in range(BH):
    for x in range(BW):
        rgb8 += bytes([p[y][x] for p in big] + [255])
        rgb16 += bytes([struct.unpack(">H", p[y][2 * x:2 * x + 2])[0] * 255 // 65535 for p in big16] + [255])
for packed in (False, True):
    kind = "rle" if packed else "raw"
    write("hand-rgb-bands-%s-8.psd" % kind, psd(3, 8, BW, BH, big, packed), "exact", BW, BH, rgb8)
    write("hand-rgb-bands-%s-16.psd" % kind, psd(3, 16, BW, BH, big16, packed), "exact", BW, BH, rgb16)
stream = packbits(b"".join(row for plane in big for row in plane))
share = [len(stream) * (i + 1) // (3 * BH) - len(stream) * i // (3 * BH) for i in range(3 * BH)]
write("hand-rgb-one-stream.psd", psd(3, 8, BW, BH, big, True, counts=[bytes(n) for n in share], stream=stream),
      "exact", BW, BH, rgb8)

# Indexed with colour mode data longer than a palette: the planes of its
# first 768 bytes.
idx = plane()
mode_data = bytes(range(256)) + bytes(255 - i for i in range(256)) + bytes((i * 3) % 256 for i in range(256)) + \
    bytes([7]) * 100
rgba = sum(([i, 255 - i, (i * 3) % 256, 255] for row in idx for i in row), [])
write("hand-indexed-long-mode-data.psd", psd(2, 8, W, H, [idx], True, mode_data=mode_data), "exact", W, H, rgba)
# Modes 5 and 6 have no conversion: a black picture of the file's size,
# when the data could fill its three bytes a pixel; a bare claim is refused.
black = [0, 0, 0, 255] * (W * H)
write("hand-mode-5.psd", psd(5, 8, W, H, [plane()] * 3), "exact", W, H, black)
write("hand-mode-6.psd", psd(6, 8, W, H, [plane()] * 3, True), "exact", W, H, black)
write("bad-mode-5-bare-claim.psd", psd(5, 8, 4096, 65535, [], channels=1), INVALID)
write("bad-mode-6-short-data.psd", psd(6, 8, W, H, [plane()] * 2), INVALID)

# Refused.
write("bad-rgb-2-channels.psd", psd(3, 8, W, H, [plane(), plane()]), COLOUR)
write("bad-lab-2-channels.psd", psd(9, 8, W, H, [plane(), plane()]), COLOUR)
write("bad-cmyk-3-channels.psd", psd(4, 8, W, H, [plane(), plane(), plane()]), COLOUR)
write("bad-32-bits.psd", psd(3, 32, W, H, [plane(), plane(), plane()]), COLOUR)
write("bad-indexed-16-bits.psd", psd(2, 16, W, H, [words(plane())], mode_data=bytes(768)), COLOUR)
write("bad-signature-case.psd", psd(3, 8, W, H, [plane(), plane(), plane()], signature=b"8bps"), INVALID)
write("bad-raw-data-missing.psd", psd(3, 8, W, H, [plane(), plane(), plane()])[:-50], READ)
write("bad-count-table-missing.psd", psd(3, 8, 3000, 3000, [[b"\0"]], True, channels=3)[:-2], READ)
write("bad-section-past-the-end.psd", psd(1, 8, W, H, [plane()], mode_data=b"x")[:30], INVALID)
write("bad-packed-size-from-few-bytes.psd",
      psd(3, 8, 16000, 16000, [[b"\x81\0"]], True, channels=3, counts=[b"xx"] * 48000), INVALID)
expect.close()
