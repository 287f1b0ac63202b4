#!/usr/bin/python3
"""Writes files of under 1 MB that claim the largest pictures their formats
allow, for every reader the picture registry reaches: bare headers, tables
whose rows are empty or shared, data cut short or of no use, and the densest
valid data a reader takes. None may make a load allocate more than the file
could fill.

claims.txt, one line a file: "<file> <ratio>", the most bytes of picture
(pixel blocks held at once) one byte of the file may give: the format's
greatest expansion, with room for a reader's planes beside the picture.
A load is refused or stays within ratio x file size (plus a small fixed
allowance). "pending" after the ratio marks a case whose reader is still
being mended: its test expects the bound broken, and fails once it holds.
Until then such a case claims an eighth or a quarter of the largest size,
which breaks the bound as surely and keeps the test run short; its mend
raises it to the largest. "limit" marks a picture whose size does not come
from its bytes (a metafile's frame, a BMP passed over by jump codes): it is
bound by the format's size cap instead, which the README states. "jpeg"
marks JPEG-coded data, whose progressive form holds its coefficients beside
the picture: the benchmark allows it more memory than the others.

Each family is one function below that yields (name, bytes, ratio); a new
case is one more yield.
usage: make-hostile.py OUTDIR"""
import os
import struct
import sys
import zlib

W, H = 65535, 4096  # 268,431,360 pixels: just within the pixel limit
LIMIT = 1000000     # every file stays below this many bytes


def be16(*v):
    return struct.pack(">%dH" % len(v), *v)


def be32(*v):
    return struct.pack(">%dI" % len(v), *v)


def le16(*v):
    return struct.pack("<%dH" % len(v), *v)


def le32(*v):
    return struct.pack("<%dI" % len(v), *v)


def sub_blocks(data):
    """GIF data sub-blocks of up to 255 bytes, without the terminator."""
    return b"".join(bytes([len(data[i:i + 255])]) + data[i:i + 255] for i in range(0, len(data), 255))


def tiff_after(data, entries, extra=b""):
    """Little-endian TIFF: data at 8, then one IFD; entries (tag, type, count, value)."""
    return b"II*\0" + le32(8 + len(data)) + data + le16(len(entries)) + \
        b"".join(struct.pack("<HHII", *e) for e in entries) + le32(0) + extra


def rows_within(row_bytes, fixed=0):
    """How many rows of row_bytes fit in a file below the limit."""
    return (LIMIT - fixed - 4096) // row_bytes


def targa():
    def header(kind, depth, width=W, height=H, map_type=0, map_length=0, map_depth=0):
        return struct.pack("<BBBHHBHHHHBB", 0, map_type, kind, 0, map_length, map_depth, 0, 0, width, height,
                           depth, 0x20)
    yield "raw32-bare.tga", header(2, 32), 128
    yield "rle32-scrap.tga", header(10, 32) + b"\x00\x01\x02\x03\x04" * 10, 128
    yield "map-claim.tga", header(1, 8, map_type=1, map_length=65535, map_depth=32), 128
    # Runs of 128 grey pixels in two bytes: 64 pixels a byte.
    rows = rows_within(W // 64 + 2, 18)
    yield "rle8-dense.tga", header(11, 8, height=rows) + b"\xff\x80" * (W * rows // 128 + 1), 128


def portable_maps():
    yield "raw-bare.ppm", b"P6\n65535 4096\n255\n", 8
    yield "raw16-bare.ppm", b"P6\n65535 4096\n65535\n" + bytes(100), 8
    yield "bitmap-bare.pbm", b"P4\n65535 4096\n", 8
    yield "plain-short.pbm", b"P1\n65535 4096\n0 1 1 0 1", 8
    yield "plain-short.pgm", b"P2\n65535 4096\n255\n1 2 3\n", 8


def sgi():
    def header(storage, channels, width=W, height=H, bpc=1):
        return (be16(474) + bytes([storage, bpc]) + be16(3, width, height, channels)).ljust(512, b"\0")

    def run_length(channels, height, starts, lengths, body):
        return header(1, channels, height=height) + be32(*starts) + be32(*lengths) + body

    yield "verbatim-bare.sgi", header(0, 3) + bytes(1000), 128
    # Three channels, every row one empty run: the tables alone, 98 KB.
    entries = 3 * H
    data = 512 + 8 * entries
    yield "empty-rows.rgb", run_length(3, H, [data] * entries, [1] * entries, b"\0"), 128
    # Every row of one channel shares one full row of runs.
    full = b"\x7f\x40" * (W // 127 + 1) + b"\0"
    data = 512 + 8 * H
    yield "shared-row.bw", run_length(1, H, [data] * H, [len(full)] * H, full), 128
    # Each row its own full row: as dense as the format gets.
    rows = rows_within(len(full) + 8, 512)
    data = 512 + 8 * rows
    yield "dense.bw", run_length(1, rows, [data + i * len(full) for i in range(rows)], [len(full)] * rows,
                                 full * rows), 128


def autodesk():
    header = le16(0x9119, W, H) + bytes(4) + le16(8) + bytes(20)
    yield "bare.cel", header + bytes(768), 2


def pcx():
    def header(planes, bits=8, encoding=1, width=W - 1, height=H):  # bytes a line: even, 16 bits
        h = struct.pack("<BBBBHHHHHH", 10, 5, encoding, bits, 0, 0, width - 1, height - 1, 72, 72)
        return (h + bytes(48) + struct.pack("<BBHH", 0, planes, width, 1)).ljust(128, b"\0")
    yield "rle8-scrap.pcx", header(1) + b"\xc5\x07" * 50, 128
    yield "raw8-bare.pcx", header(1, encoding=0) + bytes(100), 128
    # Runs of 63 in two bytes, three planes a line.
    line = 3 * (W - 1)
    rows = rows_within(line // 63 * 2 + 4, 128)
    yield "rle24-dense.pcx", header(3, height=rows) + b"\xff\x20" * (line * rows // 63 + 1), 128


def dr_halo():
    yield "scrap.cut", le16(W, H, 0) + b"\x05\x00\x83\x07\x00" * 4, 128
    # Lines of runs of 127 in two bytes, each with its length and end mark.
    runs = b"\xff\x09" * (W // 127 + 1)
    line = le16(len(runs) + 1) + runs + b"\0"
    rows = rows_within(len(line), 6)
    yield "dense.cut", le16(W, rows, 0) + line * rows, 128


def alias_wavefront():
    def header(width, height, bits=8):
        h = bytearray(740)
        left, bottom = -32768, 0
        window = (left, left + width - 1, bottom, bottom + height - 1)
        struct.pack_into(">4h", h, 0, *window)
        struct.pack_into(">4h", h, 8, *window)
        struct.pack_into(">hhhhhH", h, 16, 0, 0, 3, 0, 0, 0xFFFE)
        h[580:583] = b"rgb"
        struct.pack_into(">hhh", h, 658, bits, 0, bits)
        return bytes(h)
    # Every row the same three empty records.
    records = le16(0) * 3
    yield "empty-rows.rla", header(W, H) + be32(*[740 + 4 * H] * H) + records, 128
    yield "sixteen-bare.rla", header(W, H, 16) + be32(*[0] * H), 128
    # Runs of 128 in two bytes, a record a channel.
    runs = b"\x7f\x11" * (W // 128 + 1)
    row = (be16(len(runs)) + runs) * 3
    rows = rows_within(len(row) + 4, 740)
    start = 740 + 4 * rows
    yield "dense.rla", header(W, rows) + be32(*[start + i * len(row) for i in range(rows)]) + row * rows, 128


def photoshop():
    def psd(mode, channels, width, height, compression=0, depth=8, data=b""):
        return b"8BPS" + be16(1) + bytes(6) + be16(channels) + be32(height, width) + be16(depth, mode) + \
            be32(0, 0, 0) + be16(compression) + data
    # A colour mode the reader does not read: 40 bytes for 268 megapixels.
    yield "mode5-bare.psd", psd(5, 1, H, W), 192
    yield "rgb-zero-counts.psd", psd(3, 3, W, H, 1, data=bytes(2 * 3 * H)), 192
    yield "rgb16-raw-bare.psd", psd(3, 3, W, H, 0, 16, bytes(100)), 192
    # Runs of 128 in two bytes, grey and RGB (planes and picture apart).
    row = b"\x81\x33" * (W // 128 + 1)
    rows = rows_within(len(row) + 2, 40)
    yield "grey-dense.psd", psd(1, 1, W, rows, 1, data=be16(*[len(row)] * rows) + row * rows), 192
    rows //= 3
    yield "rgb-dense.psd", psd(3, 3, W, rows, 1, data=be16(*[len(row)] * (3 * rows)) + row * (3 * rows)), 192


def paintshop_pro():
    def block(ident, content):
        return b"~BK\0" + struct.pack("<HI", ident, len(content)) + content

    def chunk(fields):
        return struct.pack("<I", 4 + len(fields)) + fields

    def psp(compression, packed, claimed):
        attributes = struct.pack("<iidBHHHIB", W, H, 28.35, 2, compression, 24, 1, 256, 0).ljust(42, b"\0")
        channels = b"".join(block(5, chunk(struct.pack("<IIHH", len(packed), claimed, 1, c + 1)) + packed)
                            for c in range(3))
        layer = block(4, chunk(struct.pack("<H", 5) + b"layer" + bytes([1]) + bytes(114)) +
                      chunk(struct.pack("<HH", 1, 3)) + channels)
        return b"Paint Shop Pro Image File".ljust(32, b"\0") + struct.pack("<HH", 5, 0) + \
            block(0, chunk(attributes)) + block(3, layer)
    yield "rle-scrap.psp", psp(1, b"\xff\x07" * 20, W * H), 2100
    yield "deflate-scrap.psp", psp(2, zlib.compress(bytes(4000)), W * H), 2100


def png():
    def chunk(kind, data):
        return be32(len(data)) + kind + data + be32(zlib.crc32(kind + data))

    def png_file(depth, colour, *chunks):
        ihdr = be32(W, H) + bytes([depth, colour, 0, 0, 0])
        return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + b"".join(chunks) + chunk(b"IEND", b"")
    yield "ihdr-only.png", png_file(16, 6), 1100
    yield "tiny-idat.png", png_file(8, 0, chunk(b"IDAT", zlib.compress(bytes(65536)))), 1100
    # Image data cut short, and a large text chunk after it that cannot
    # vouch for the picture; image data that does not inflate at all. Only
    # image data counts, so neither may allocate anything.
    yield "text-padded.png", png_file(8, 0, chunk(b"IDAT", zlib.compress(bytes(65536))[:-20]),
                                      chunk(b"tEXt", b"Comment\0" + b"x" * 900000)), 0
    yield "garbage-idat.png", png_file(8, 0, chunk(b"IDAT", bytes(range(256)) * 3500)), 0


def photo_cd():
    # No pack signature, and a pack cut after its header sectors.
    yield "no-pack.pcd", bytes(8 * 2048), 8
    pack = bytearray(200 * 2048)
    pack[2048:2051] = b"PCD"
    yield "cut-short.pcd", bytes(pack[:100 * 2048]), 8


def tiff():
    def ifd(entries, extra=b""):
        """Little-endian TIFF of one IFD at 8; entries (tag, type, count, value)."""
        body = le16(len(entries)) + b"".join(struct.pack("<HHII", *e) for e in sorted(entries)) + le32(0)
        return b"II*\0" + le32(8) + body + extra

    def grey(compression, offset, count, height=H):
        entries = [(256, 4, 1, W), (257, 4, 1, height), (258, 3, 1, 8), (259, 3, 1, compression),
                   (262, 3, 1, 1), (273, 4, 1, offset), (277, 3, 1, 1), (278, 4, 1, height), (279, 4, 1, count)]
        return ifd(entries)
    # One stored strip whose offset lies past the end of the file.
    yield "strip-past-the-end.tif", grey(1, 0x7FFFFFF0, W * H), 2100
    yield "deflate-scrap.tif", grey(8, 0x7FFFFFF0, 20), 2100
    # A DOS EPS file whose TIFF preview is the first of these.
    preview = grey(1, 0x7FFFFFF0, W * H)
    header = le32(0xC6D3D0C5, 32 + len(preview), 2, 0, 0, 32, len(preview)) + b"\xff\xff\0\0"
    yield "strip-past-the-end.eps", header + preview + b"%!", 2100


def platform_formats():
    # BMP: stored rows missing, and run-length data that ends the picture
    # at once.
    def bmp(bits, compression, data, width=W, height=H):
        info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, len(data), 0, 0, 0, 0)
        table = bytes(4 * 256) if bits == 8 else b""
        offset = 14 + len(info) + len(table)
        return b"BM" + le32(offset + len(data), 0, offset) + info + table + data
    yield "stored-bare.bmp", bmp(24, 0, b""), 260
    yield "rle8-end-at-once.bmp", bmp(8, 1, b"\x00\x01"), 260
    # An icon whose one image claims the largest bitmap.
    image = struct.pack("<IiiHHIIiiII", 40, W, 2 * H, 1, 32, 0, 0, 0, 0, 0, 0)
    yield "huge-image.ico", le16(0, 1, 1) + struct.pack("<BBBBHHII", 0, 0, 0, 0, 1, 32, len(image), 22) + image, 260
    # JPEG: a baseline frame without its scan, and an arithmetic one, which
    # has no floor of bits per block.
    def jpeg(marker):
        frame = bytes([8]) + be16(H, W) + bytes([1, 1, 0x11, 0])
        quant = b"\xff\xdb" + be16(67) + bytes([0]) + bytes([1] * 64)
        return b"\xff\xd8" + quant + marker + be16(len(frame) + 2) + frame + b"\xff\xd9"
    yield "no-scan.jpg", jpeg(b"\xff\xc0"), 600
    yield "arithmetic-no-scan.jpg", jpeg(b"\xff\xc9"), 600
    # An enhanced metafile whose frame is as large as the cap lets it be:
    # 8192 x 8192 pixels at 96 per inch.
    size = 88
    emf = struct.pack("<II4i4iIIIIHHIIIiiii", 1, size, 0, 0, 8191, 8191, 0, 0, 216746, 216746, 0x464D4520,
                      0x10000, size + 20, 2, 0, 0, 0, 0, 0, 1920, 1440, 508, 381) + le32(14, 20, 0, 0, 20)
    yield "large-frame.emf", emf, 600, "limit"
    # GIF: a screen and frame of the largest size the reader takes, a few
    # codes of data; the largest screen over a frame of one pixel; frames
    # each of a mebibyte of pixels, which together claim what one may not.
    def gif(screen, frames):
        return b"GIF89a" + le16(*screen) + bytes([0xF0, 0, 0]) + bytes(6) + b"".join(
            b"," + le16(0, 0, *frame) + bytes([0, 2, 2, 0x4C, 0x01, 0]) for frame in frames) + b";"
    yield "large-frame.gif", gif((8192, 8192), [(8192, 8192)]), 600
    yield "large-screen.gif", gif((8192, 8192), [(1, 1)]), 600
    yield "many-frames.gif", gif((1024, 1024), [(1024, 1024)] * 256), 600


def lengths_and_codes():
    # PNG: image data chunks whose last header claims more than the file
    # holds; the file is refused before the picture is sized from them.
    def chunk(kind, data):
        return be32(len(data)) + kind + data + be32(zlib.crc32(kind + data))

    def png_file(width, height, *chunks):
        ihdr = be32(width, height) + bytes([8, 6, 0, 0, 0])
        return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + b"".join(chunks)
    # A gAMA chunk first ends the chunk scan of the header before the claim.
    gamma = chunk(b"gAMA", be32(45455))
    data = zlib.compress(bytes(4096 * 4 + 1) * 4, 9)
    # The first row is decoded before the picture is made: the first chunk
    # holds it, so the claim is met only after.
    for name, height, claim in ("idat-claim-2g.png", 65535, 0x7FFFFFF0), ("idat-claim-4g.png", 49152, 0xFFFFFFF0):
        yield name, png_file(4096, height, gamma, chunk(b"IDAT", data[:40]), chunk(b"IDAT", data[40:]),
                             be32(claim) + b"IDAT"), 0

    # GIF: frames of 8192 x 8192 whose code size 1 keeps every code 2 bits
    # wide, a pixel each; code sizes the decoder does not take.
    def gif(frames):
        return b"GIF89a" + le16(8192, 8192) + bytes([0xF0, 0, 0]) + bytes(6) + b"".join(
            b"," + le16(0, 0, 8192, 8192) + bytes([0, size]) + data + b"\0" for size, data in frames) + b";"

    codes = sub_blocks(bytes(1519))
    yield "code-size-1.gif", gif([(1, codes)]), 600
    yield "code-size-1-frames.gif", gif([(1, sub_blocks(bytes(1750)))] * 4), 600
    for size in 0, 12, 255:
        yield "code-size-%d.gif" % size, gif([(size, sub_blocks(bytes(16)))]), 600

    # BMP: a picture passed over by jump codes, a valid file whose size does
    # not come from its bytes (half the largest, which the preview's copy
    # doubles); the largest with a run above its top row, refused before
    # the picture is allocated.
    def bmp(height, codes):
        info = struct.pack("<IiiHHIIiiII", 40, W, height, 1, 8, 1, len(codes), 0, 0, 0, 0)
        offset = 14 + len(info) + 1024
        return b"BM" + le32(offset + len(codes), 0, offset) + info + bytes(1024) + codes

    def to_top(height):
        return b"\0\2\0\xff" * (height // 255) + b"\0\2\xff" + bytes([height % 255 - 1])
    yield "rle8-skipped.bmp", bmp(H // 2, to_top(H // 2) + b"\x05\x07\0\1"), 600, "limit"
    yield "rle8-skipped-damaged.bmp", bmp(H, to_top(H) + b"\0\0\x05\x07\0\1"), 260


def metafile_drawing():
    # Metafiles whose records each cover the whole frame, so that drawing
    # them is records x frame, far beyond what their bytes pay for: blits
    # without a bitmap and one-pixel bitmaps stretched over the frame.
    # "within-drawing.wmf" draws the most a file of its size may.
    # DSPDxax: brush, bitmap and destination, the slowest operation to play.
    blackness, dstinvert, srccopy, dspdxax = 0x00000042, 0x00550009, 0x00CC0020, 0x00E20746

    def wmf_record(function, words, tail=b""):
        return le32(3 + len(words) + len(tail) // 2) + le16(function, *words) + tail

    def fill(rop, width, height):  # META_DIBBITBLT without a bitmap
        return wmf_record(0x0940, [rop & 0xFFFF, rop >> 16, 0, 0, 0, height, width, 0, 0])

    def stretched_pixel(width, height, rop=srccopy):  # META_STRETCHDIB of a 1 x 1 DIB
        dib = struct.pack("<IiiHHIIiiII", 40, 1, 1, 1, 24, 0, 4, 0, 0, 0, 0) + b"\x80\x40\x20\x00"
        return wmf_record(0x0F43, [rop & 0xFFFF, rop >> 16, 0, 1, 1, 0, 0, height, width, 0, 0], dib)

    def wmf(records, side, placeable=False):
        head = b""
        if placeable:
            head = le32(0x9AC6CDD7) + le16(0, 0, 0, side, side, 96) + le32(0)
            checksum = 0
            for word in struct.unpack("<10H", head):
                checksum ^= word
            head += le16(checksum)
        else:
            records = [wmf_record(0x020C, [side, side])] + records
        body = b"".join(records) + wmf_record(0, [])
        return head + le16(1, 9, 0x300) + le32((18 + len(body)) // 2) + le16(0) + le32(0) + le16(0) + body

    def emf(records, side):
        frame = side * 2540 // 96
        size = 88 + sum(len(r) for r in records) + 20
        header = struct.pack("<II4i4iIIIIHHIIIiiii", 1, 88, 0, 0, side - 1, side - 1, 0, 0, frame, frame,
                             0x464D4520, 0x10000, size, len(records) + 2, 0, 0, 0, 0, 0, 1920, 1440, 508, 381)
        return header + b"".join(records) + le32(14, 20, 0, 16, 20)

    # EMR_BITBLT without a bitmap: bounds, destination, rop, source, identity, no bitmap.
    bitblt = le32(76, 100, 0, 0, 8191, 8191, 0, 0, 8192, 8192, dstinvert, 0, 0) + struct.pack(
        "<6f", 1, 0, 0, 1, 0, 0) + le32(0, 0, 0, 0, 0, 0)
    yield "blackness-2726.wmf", wmf([fill(blackness, 8192, 8192)] * 2726, 8192), 600, "limit"
    yield "bitblt-653.emf", emf([bitblt] * 653, 8192), 600, "limit"
    yield "stretched-pixels-908.wmf", wmf([stretched_pixel(8192, 8192)] * 908, 8192), 600, "limit"
    yield "blackness-10.wmf", wmf([fill(blackness, 8192, 8192)] * 10, 8192, placeable=True), 600, "limit"
    yield "blackness-1024.wmf", wmf([fill(blackness, 1024, 1024)] * 2726, 1024), 600, "limit"
    # Four frames and all but a few rows of a fifth: filler records of 24
    # bytes that draw nothing give the file the bytes that pay for the fifth.
    drawn = [stretched_pixel(8192, 8192), stretched_pixel(8192, 8192, dspdxax), fill(dstinvert, 8192, 8192),
             fill(blackness, 8192, 8192), stretched_pixel(8192, 8160, dspdxax)]
    yield "within-drawing.wmf", wmf(drawn + [fill(blackness, 0, 0)] * 2712, 8192), 600, "limit"


def paintshop_pro_channels():
    # Pictures as large as 64 KB of deflate data can back, whose layers
    # repeat their channel blocks: each block stands for a whole plane, but
    # costs no more than its own bytes. Empty grey blocks; empty blocks of
    # the types 0 to 3 in turn, grey and 32-bit colour; a layer bank after
    # another, each loading its layer's few bytes of data again.
    def block(ident, content):
        return b"~BK\0" + struct.pack("<HI", ident, len(content)) + content

    def chunk(fields):
        return struct.pack("<I", 4 + len(fields)) + fields

    def channel(kind, packed=b""):
        return block(5, chunk(struct.pack("<IIHH", len(packed), 1 << 30, 1, kind)) + packed)

    def layer(channels):
        return block(4, chunk(struct.pack("<H", 5) + b"layer" + bytes([1]) + bytes(114)) +
                     chunk(struct.pack("<HH", 1, len(channels))) + b"".join(channels))

    def psp(side, depth, banks):
        attributes = struct.pack("<iidBHHHIB", side, side, 28.35, 2, 2, depth, 1, 256, 1).ljust(42, b"\0")
        return b"Paint Shop Pro Image File".ljust(32, b"\0") + struct.pack("<HH", 5, 0) + \
            block(0, chunk(attributes)) + b"".join(block(3, layer(channels)) for channels in banks)
    yield "channels-grey-empty.psp", psp(8192, 8, [[channel(0)] * 2507]), 2100
    yield "channels-grey-in-turn.psp", psp(8192, 8, [[channel(c % 4) for c in range(2507)]]), 2100
    # Four channels: 4 bytes of picture for the 3 that the data backs.
    yield "channels-rgba-in-turn.psp", psp(4736, 24, [[channel(c % 4) for c in range(2507)]]), 2800
    yield "channels-grey-banks.psp", psp(8192, 8, [[channel(0, zlib.compress(bytes(20000)))]] * 294), 2100


def jpeg_data():
    """JPEG-coded data of far fewer bytes than its frame claims: a cut grey
    progressive file in a TIFF strip and an EPS preview, arithmetic-coded
    files of a few hundred bytes, one of them progressive and cut."""
    def segment(marker, body):
        return b"\xff" + bytes([marker]) + be16(len(body) + 2) + body

    def frame(marker, width, height, components):
        body = bytes([8]) + be16(height, width) + bytes([components])
        return segment(marker, body + b"".join(bytes([c + 1, 0x11, 0]) for c in range(components)))

    def scan(components):
        return segment(0xDA, bytes([components]) + b"".join(bytes([c + 1, 0]) for c in range(components)) +
                       bytes([0, 0, 0]))

    quant = segment(0xDB, bytes([0]) + bytes([1] * 64))
    # One DC code of one bit: every block of the first scan costs a bit.
    dc_table = segment(0xC4, bytes([0, 1]) + bytes(15) + bytes([0]))
    # A 16384 x 16384 grey progressive file whose DC scan is cut after 49 KB.
    side = 16384
    strip = b"\xff\xd8" + quant + frame(0xC2, side, side, 1) + dc_table + scan(1) + bytes(49000)

    def grey_tiff(side, strip):  # one JPEG strip of a grey picture
        return tiff_after(strip, [(256, 4, 1, side), (257, 4, 1, side), (258, 3, 1, 8), (259, 3, 1, 7), (262, 3, 1, 1),
                                  (273, 4, 1, 8), (277, 3, 1, 1), (278, 4, 1, side), (279, 4, 1, len(strip))])
    tif = grey_tiff(side, strip)
    yield "progressive-cut.tif", tif, 2100, "jpeg"
    header = le32(0xC6D3D0C5, 32 + len(tif), 2, 0, 0, 32, len(tif)) + b"\xff\xff\0\0"
    yield "progressive-cut.eps", header + tif + b"%!", 2100, "jpeg"

    # Arithmetic-coded frames over a few zero bytes of scan, to the sizes
    # given.
    def arithmetic(marker, width, height, components, size, end=b"\xff\xd9"):
        head = b"\xff\xd8" + quant + frame(marker, width, height, components) + scan(components)
        return head + bytes(size - len(head) - len(end)) + end
    yield "arithmetic-grey-16384.jpg", arithmetic(0xC9, side, side, 1, 202), 600, "jpeg"
    yield "arithmetic-rgb-8192.jpg", arithmetic(0xC9, 8192, 8192, 3, 212), 600, "jpeg"
    yield "arithmetic-progressive-cut.jpg", arithmetic(0xCA, 8192, 8192, 3, 400, b""), 600, "jpeg"
    # Padding does not help: 64 KB may make a picture of 3 bytes a pixel of
    # 2,304 bytes a byte at the most, and the file at that bound loads.
    yield "arithmetic-grey-padded.jpg", arithmetic(0xC9, side, side, 1, 65000), 600, "jpeg"
    yield "arithmetic-grey-densest.jpg", arithmetic(0xC9, 8192, 6000, 1, 65000), 2400, "jpeg"

    # A progressive grey file of 4096 x 4096 whose one AC scan is repeated
    # 750 times: each repeat takes 40 bytes (16 end-of-band runs of 16,384
    # blocks) but goes over all 262,144 blocks again.
    def bits_to_bytes(bits):
        bits += "1" * (-len(bits) % 8)
        data = bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))
        return data.replace(b"\xff", b"\xff\x00")

    def one_code(table_class, symbol):
        return segment(0xC4, bytes([table_class << 4, 1]) + bytes(15) + bytes([symbol]))
    side, blocks = 4096, 4096 * 4096 // 64
    ac_scan = segment(0xDA, bytes([1, 1, 0x00, 1, 63, 0])) + bits_to_bytes(("0" + "0" * 14) * (blocks // 16384))
    repeated = b"\xff\xd8" + quant + frame(0xC2, side, side, 1) + one_code(0, 0) + one_code(1, 0xE0) + \
        segment(0xDA, bytes([1, 1, 0x00, 0, 0, 0])) + bits_to_bytes("0" * blocks) + ac_scan * 750 + b"\xff\xd9"
    yield "progressive-repeated-scans.jpg", repeated, 900, "jpeg"
    yield "progressive-repeated-scans.tif", grey_tiff(side, repeated), 900, "jpeg"


def tiff_strip_work():
    """TIFF strips that share their bytes, or overlap them, over 32 KB of
    data that is as slow to decode as data gets: a load's work may grow with
    the file, never with strips x bytes. Offsets and byte counts are short
    values; where they are the same, one table serves as both."""
    def strips(compression, width, rows, offsets, counts, data, data_at):
        n = len(offsets)
        tables = 8 + 2 + 9 * 12 + 4
        counts_at = tables if offsets == counts else tables + 2 * n
        entries = [(256, 4, 1, width), (257, 4, 1, rows * n), (258, 3, 1, 8), (259, 3, 1, compression),
                   (262, 3, 1, 1), (273, 3, n, tables), (277, 3, 1, 1), (278, 4, 1, rows), (279, 3, n, counts_at)]
        head = b"II*\0" + le32(8) + le16(len(entries)) + b"".join(struct.pack("<HHII", *e) for e in entries) + le32(0)
        head += le16(*offsets) + (b"" if counts_at == tables else le16(*counts))
        assert len(head) <= data_at
        return head.ljust(data_at, b"\0") + data

    class Bits:
        def __init__(self):
            self.data, self.value, self.count = bytearray(b"\x78\x01"), 0, 0  # a zlib header

        def put(self, value, count, huffman=False):
            for i in range(count):
                self.value |= (value >> (count - 1 - i if huffman else i) & 1) << self.count
                self.count += 1
                if self.count == 8:
                    self.data.append(self.value)
                    self.value, self.count = 0, 0

    def empty_block(bits):
        """A dynamic-Huffman block of no data, 90 bits: its one code ends it."""
        bits.put(0b100, 3)
        bits.put(0, 10)                      # 257 literal/length codes, 1 distance code
        bits.put(14, 4)                      # 18 code length codes
        for symbol in (16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1):
            bits.put(1 if symbol in (1, 18) else 0, 3)
        bits.put(1, 1), bits.put(127, 7)     # 138 zero lengths
        bits.put(1, 1), bits.put(107, 7)     # 118 more: none before the end code
        bits.put(0, 1), bits.put(0, 1)       # the end code and the distance code of length 1
        bits.put(0, 1)                       # the end of the block

    def deflate(size, literal=None):
        """size bytes of empty blocks; with a literal, a stream that ends with
        it (then the checksum and zeros)."""
        bits = Bits()
        while len(bits.data) + 20 < size:
            empty_block(bits)
        if literal is None:
            return bytes(bits.data[:size]).ljust(size, b"\0")
        bits.put(0b011, 3)                   # the last block, fixed codes
        bits.put(0x30 + literal, 8, True), bits.put(0, 7, True)
        bits.put(0, -bits.count % 8)
        return (bytes(bits.data) + be32(zlib.adler32(bytes([literal])))).ljust(size, b"\0")

    def progressive_jpeg(size):
        """An 8 x 4 grey JPEG of as many first DC scans as fit: each decodes
        the picture again."""
        frame = b"\xff\xc2" + be16(11) + bytes([8]) + be16(4, 8) + bytes([1, 1, 0x11, 0])
        tables = b"\xff\xdb" + be16(67) + bytes([0]) + bytes([1] * 64) + \
            b"\xff\xc4" + be16(20) + bytes([0, 1]) + bytes(15) + bytes([0])
        scan = b"\xff\xda" + be16(8) + bytes([1, 1, 0, 0, 0, 0]) + b"\x7f"
        start = b"\xff\xd8" + tables + frame
        return (start + scan * ((size - len(start) - 2) // len(scan)) + b"\xff\xd9").ljust(size, b"\0")

    # Every strip names the same 32 KB, offset and count one value.
    n = (32766 - 134) // 2
    at = 134 + 2 * n
    yield "strips-one-stretch-deflate.tif", strips(8, 1, 1, [at] * n, [at] * n, deflate(at), at), 64
    yield "strips-one-stretch-sound.tif", strips(8, 1, 1, [at] * n, [at] * n, deflate(at, 7), at), 64
    yield "strips-one-stretch-jpeg.tif", strips(7, 8, 4, [at] * n, [at] * n, progressive_jpeg(at), at), 64, "jpeg"
    # Strips a byte apart that each claim the rest, and strips that start
    # together but end a byte apart.
    n, size = 4000, 32768
    at = 134 + 4 * n
    yield "strips-shifted.tif", strips(8, 1, 1, [at + i for i in range(n)], [size] * n, deflate(size), at), 64
    yield "strips-ending-apart.tif", strips(8, 1, 1, [at] * n, [size - i for i in range(n)], deflate(size), at), 64


def unbacked_rows():
    """Pictures whose data is as dense as it gets, then cut: the rows or
    frames no data stands for may make a cut file whole, not a small file
    large. A TIFF of deflate data for 1,000 rows of 65,535 whose other 3,000
    rows lie past the end of the file; four GIF frames of 8192 x 8192, each
    of 10 KB of the longest codes LZW makes."""
    rows = 1000
    data = zlib.compress(bytes(W * rows), 9)
    past = [0x7FFFFFF0 + i for i in range(3)]
    offsets, counts = [8] + past, [len(data)] + [100] * 3
    table = 8 + len(data) + 2 + 11 * 12 + 4
    entries = [(256, 4, 1, W), (257, 4, 1, 4 * rows), (258, 3, 1, 8), (259, 3, 1, 8), (262, 3, 1, 1),
               (273, 4, 4, table), (277, 3, 1, 1), (278, 4, 1, rows), (279, 4, 4, table + 16), (284, 3, 1, 1),
               (317, 3, 1, 1)]
    yield "deflate-rows-past-the-end.tif", tiff_after(data, entries, le32(*offsets) + le32(*counts)), 1100

    # Codes that each add one to the longest string until the table is
    # full, then the longest again and again.
    codes, width = [(256, 9), (0, 9)], 9
    for code in range(258, 4096):
        codes.append((code, width))
        if code + 1 == 1 << width and width < 12:
            width += 1
    codes += [(4095, 12)] * 4400
    value, shift = 0, 0
    for code, w in codes:
        value |= code << shift
        shift += w
    lzw = value.to_bytes((shift + 7) // 8, "little")
    frame = b"," + le16(0, 0, 8192, 8192) + b"\0\x08" + sub_blocks(lzw) + b"\0"
    yield "four-cut-frames.gif", b"GIF89a" + le16(8192, 8192) + b"\xf7\0\0" + bytes(768) + frame * 4 + b";", 1400


FAMILIES = [targa, portable_maps, sgi, autodesk, pcx, dr_halo, alias_wavefront, photoshop, paintshop_pro, png,
            photo_cd, tiff, platform_formats, lengths_and_codes, metafile_drawing, paintshop_pro_channels, jpeg_data,
            tiff_strip_work, unbacked_rows]


def main():
    os.chdir(sys.argv[1])
    with open("claims.txt", "w") as claims:
        for family in FAMILIES:
            for name, data, ratio, *pending in family():
                assert len(data) < LIMIT, name
                with open(name, "wb") as f:
                    f.write(data)
                claims.write(" ".join([name, str(ratio), *pending]) + "\n")


main()
