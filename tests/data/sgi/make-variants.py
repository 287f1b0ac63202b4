#!/usr/bin/python3
# Writes the SGI variants that no tool here writes, each with its line in
# OUTDIR/expect.txt: grey with alpha (two channels), 16-bit RGBA run-length
# data, and run-length rows stored out of order with equal rows sharing
# their packed bytes. Plain Python: the bytes are laid down by hand from
# the format's description (big-endian, a 512-byte header, channels one
# after another, rows bottom first).
# usage: make-variants.py OUTDIR
import os
import struct
import sys

out = sys.argv[1]
W, H = 29, 13


def header(rle, bpc, channels, width=W, height=H):
    head = struct.pack(">HBBHHHHII", 474, 1 if rle else 0, bpc, 3 if channels > 1 else 2, width, height,
                       channels, 0, 255 if bpc == 1 else 65535)
    return head + bytes(512 - len(head))


def packed_row(samples, bpc):
    """One row of samples (ints) as run-length packets of bpc-byte samples:
    runs of 3 or more, literals of changing samples, a 0 at the end."""
    def sample(*values):
        return b"".join(v.to_bytes(bpc, "big") for v in values)
    data, i = bytearray(), 0
    while i < len(samples):
        run = 1
        while i + run < len(samples) and run < 127 and samples[i + run] == samples[i]:
            run += 1
        if run > 2:
            data += sample(run, samples[i])
        else:
            run = 1
            while i + run < len(samples) and run < 127 and samples[i + run] != samples[i + run - 1]:
                run += 1
            data += sample(0x80 | run, *samples[i:i + run])
        i += run
    return bytes(data + sample(0))


def write(name, data, mode):
    """The file and its line in expect.txt: how the test compares it."""
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
    with open(os.path.join(out, "expect.txt"), "a") as expect:
        expect.write("%s %s\n" % (name, mode))


def rle_file(channels, bpc, order=None, share=False):
    """channels: list of planes, each a list of H rows (bottom first)."""
    n = len(channels) * H
    packed = [packed_row(channels[c][y], bpc) for c in range(len(channels)) for y in range(H)]
    starts, lengths = [0] * n, [0] * n
    body = bytearray()
    base = 512 + 8 * n
    seen = {}
    for index in (order or range(n)):
        row = packed[index]
        if share and row in seen:
            starts[index] = seen[row]
        else:
            starts[index] = base + len(body)
            seen[row] = starts[index]
            body += row
        lengths[index] = len(row)
    tables = struct.pack(">%dI" % n, *starts) + struct.pack(">%dI" % n, *lengths)
    return header(True, bpc, len(channels)) + tables + bytes(body)


def raw_file(channels, bpc):
    body = b"".join(v.to_bytes(bpc, "big") for plane in channels for row in plane for v in row)
    return header(False, bpc, len(channels)) + body


def plane(f):
    return [[f(x, y) for x in range(W)] for y in range(H)]


grey = plane(lambda x, y: 200 if (x // 5 + y // 3) % 3 == 0 else (x * 9 + y * 17) % 256)
alpha = plane(lambda x, y: (x * 255) // (W - 1))
write("v-graya-rle.sgi", rle_file([grey, alpha], 1), "rgb")
write("v-graya-raw.sgi", raw_file([grey, alpha], 1), "rgb")

# 16 bits with every byte in use, so the narrowing to 8 bits shows.
red16 = plane(lambda x, y: (x * 2311 + y * 977) % 65536)
green16 = plane(lambda x, y: 65535 - (x * 1021 + y * 3079) % 65536 if x % 7 else 40000)
blue16 = plane(lambda x, y: (x * y * 331 + 255) % 65536)
alpha16 = plane(lambda x, y: (y * 65535) // (H - 1))
write("v-rgba16-rle.sgi", rle_file([red16, green16, blue16, alpha16], 2), "exact")

# Rows stored last first, equal rows (every third row of a flat band)
# pointing at the same packed bytes.
flat = lambda v: plane(lambda x, y: v if y % 3 == 0 else (x * 7 + y * v) % 256)
channels = [flat(40), flat(120), flat(230)]
write("v-rgb-shuffled-rle.sgi", rle_file(channels, 1, order=reversed(range(3 * H)), share=True), "exact")
