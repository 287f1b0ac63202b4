#!/usr/bin/python3
# Writes Alias/Wavefront pictures, which no tool here writes, laid down by
# hand from the format's description: a 740-byte big-endian header (active
# window at 8, colour and matte channel counts at 20 and 22, revision 0xFFFE
# at 26, gamma text at 28, channel description at 580, bits per channel at
# 658), a table of 32-bit row offsets, and per row one record per channel
# (red, green, blue, matte): a 16-bit byte count, then run-length data in
# which a header 0..127 repeats the next byte header + 1 times and a
# negative one copies -header bytes. 16-bit channels are their big-endian
# bytes, run-length coded as bytes.
#
#   make-rla.py OUTDIR PHOTO.ppm   the test files, X.pam beside each (RGBA,
#                                  rows top first) and expect.txt
#   make-rla.py --from PPM OUT     the picture of a PPM as an 8-bit file
import os
import re
import struct
import sys


def encode(data):
    out = bytearray()
    i = 0
    literal = bytearray()

    def flush():
        nonlocal literal
        while literal:
            part, literal = literal[:128], literal[128:]
            out.append(256 - len(part))
            out.extend(part)

    while i < len(data):
        run = 1
        while i + run < len(data) and run < 128 and data[i + run] == data[i]:
            run += 1
        if run >= 3:
            flush()
            out.extend((run - 1, data[i]))
            i += run
        else:
            literal.extend(data[i:i + run])
            i += run
    flush()
    return bytes(out)


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


def rla_file(width, height, planes_of_row, channels=3, mattes=0, bits=8, records=None, **options):
    """planes_of_row(y) gives the channel planes (bytes) of stored row y, the
    first stored row being the bottom one unless bottom_up is False."""
    head = header(width, height, channels, mattes, bits, **options)
    body = bytearray()
    offsets = []
    base = 740 + 4 * height
    for y in range(height):
        offsets.append(base + len(body))
        for plane in planes_of_row(y):
            packed = encode(plane)
            body += struct.pack(">H", len(packed)) + packed
    return head + struct.pack(">%dI" % height, *offsets) + bytes(body), offsets


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
        result = [line[0::3], line[1::3], line[2::3]]
        if alpha is not None:
            result.append(alpha[row * width:(row + 1) * width])
        return result
    return planes


def write_pam(path, width, height, pixels):
    """pixels: RGBA tuples, top row first."""
    data = bytearray(b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" % (width, height))
    for p in pixels:
        data += bytes(p)
    open(path, "wb").write(data)


def main():
    if sys.argv[1] == "--from":
        width, height, rgb = read_ppm(sys.argv[2])
        open(sys.argv[3], "wb").write(rla_file(width, height, photo_planes(width, height, rgb))[0])
        return
    out, photo_path = sys.argv[1], sys.argv[2]
    width, height, rgb = read_ppm(photo_path)
    os.chdir(out)
    expect = open("expect.txt", "a")
    colour = "Invalid color format in RLA file."
    invalid = "Cannot load image. Invalid or unexpected RLA image format."
    opaque = [(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], 255) for i in range(width * height)]
    alpha = bytes((x * 4 + y * 3) % 256 for y in range(height) for x in range(width))
    grey = bytes((rgb[3 * i] * 30 + rgb[3 * i + 1] * 59 + rgb[3 * i + 2] * 11) // 100 for i in range(width * height))

    def save(name, data, mode="exact", pixels=None, message=""):
        open(name, "wb").write(data)
        expect.write("%s %s%s\n" % (name, mode, " " + message if message else ""))
        if pixels is not None:
            write_pam(name.rsplit(".", 1)[0] + ".pam", width, height, pixels)

    planes = photo_planes(width, height, rgb)
    save("rgb.rla", rla_file(width, height, planes)[0], pixels=opaque)
    save("rgb.rpf", rla_file(width, height, planes, origin=(-5, 7))[0], pixels=opaque)
    save("capitals.rla", rla_file(width, height, planes, description=b"RGB")[0], pixels=opaque)
    # The first stored row is the top one when bottom lies above top.
    top_first = lambda y: planes(height - 1 - y)
    save("top-first.rla", rla_file(width, height, top_first, bottom_up=False)[0], pixels=opaque)
    save("matte.rla", rla_file(width, height, photo_planes(width, height, rgb, alpha), mattes=1)[0],
         pixels=[(r, g, b, alpha[i]) for i, (r, g, b, _) in enumerate(opaque)])
    # Two matte channels: the first is the alpha; the second's records follow.
    two = lambda y: photo_planes(width, height, rgb, alpha)(y) + [bytes(width)]
    save("two-mattes.rla", rla_file(width, height, two, mattes=2)[0],
         pixels=[(r, g, b, alpha[i]) for i, (r, g, b, _) in enumerate(opaque)])
    # 16-bit channels: v x 257 + 5 in the file, v again after v x 255 div 65535.
    wide = lambda y: [bytes(b for v in plane for b in struct.pack(">H", min(v * 257 + 5, 65535)))
                      for plane in planes(y)]
    save("sixteen.rla", rla_file(width, height, wide, bits=16)[0], pixels=opaque)
    # One colour channel is grey; with a matte the matte is dropped.
    grey_rows = lambda y: [grey[(height - 1 - y) * width:(height - y) * width]]
    grey_pixels = [(v, v, v, 255) for v in grey]
    save("grey.rla", rla_file(width, height, grey_rows, channels=1)[0], pixels=grey_pixels)
    grey_matte = lambda y: grey_rows(y) + [alpha[(height - 1 - y) * width:(height - y) * width]]
    save("grey-matte.rla", rla_file(width, height, grey_matte, channels=1, mattes=1)[0], pixels=grey_pixels)
    # Gamma 2.2 (checked by the test itself: the library's gamma curve) and
    # a gamma text that is no number, which is ignored.
    open("gamma.rla", "wb").write(rla_file(width, height, planes, gamma=b"2.2")[0])
    save("gamma-text.rla", rla_file(width, height, planes, gamma=b"two point two")[0], pixels=opaque)

    # Damaged: a row offset past the end of the file and a record that
    # claims more bytes than there are (zeros where data is missing), a
    # record that decodes beyond the width (cut at it).
    data, offsets = rla_file(width, height, planes)
    data = bytearray(data)
    struct.pack_into(">I", data, 740 + 4 * 3, 0xFFFFFFF0)
    last = offsets[-1]
    count = struct.unpack_from(">H", data, last)[0]
    data = data[:last + 2 + count // 2]
    damaged = list(opaque)
    row = height - 1 - 3
    damaged[row * width:(row + 1) * width] = [(0, 0, 0, 255)] * width
    # The last stored row is the top one: its red record is cut in half, its
    # green and blue records are gone.
    red = planes(height - 1)[0]
    half = encode(red)[:count // 2]
    decoded = bytearray()
    i = 0
    while i < len(half):
        h = half[i] if half[i] < 128 else half[i] - 256
        if h >= 0:
            if i + 1 >= len(half):
                break
            decoded += bytes([half[i + 1]]) * (h + 1)
            i += 2
        else:
            decoded += half[i + 1:i + 1 - h]
            i += 1 - h
    decoded = bytes(decoded[:width]) + bytes(width - min(len(decoded), width))
    damaged[0:width] = [(decoded[x], 0, 0, 255) for x in range(width)]
    save("damaged.rla", bytes(data), pixels=damaged)
    over = lambda y: [plane + plane[:7] for plane in planes(y)]
    save("over-long.rla", rla_file(width, height, over)[0], pixels=opaque)

    # Refused.
    save("xyz.rla", rla_file(width, height, planes, description=b"xyz")[0], "refuse", message=colour)
    save("other.rla", rla_file(width, height, planes, description=b"sampled")[0], "refuse", message=colour)
    save("four.rla", rla_file(width, height, lambda y: planes(y) + [bytes(width)], channels=4)[0], "refuse",
         message=colour)
    save("ten-bits.rla", rla_file(width, height, planes, bits=10)[0], "refuse", message=colour)
    save("short-header.rla", header(width, height, 3, 0, 8)[:500], "refuse", message=invalid)
    tall = header(2, 30000, 3, 0, 8) + struct.pack(">I", 0) * 30000 + b"\x7f\x01" * 40
    save("huge.rla", header(16000, 16000, 3, 0, 8) + struct.pack(">I", 0) * 16000 + b"\0" * 64, "refuse",
         message=invalid)
    save("no-table.rla", tall[:740 + 100], "refuse", message="Stream read error")


main()
