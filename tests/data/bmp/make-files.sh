#!/bin/sh
# Makes run-length BMP test files: ImageMagick's RLE8 of a photograph crop,
# and by hand (no tool writes them) RLE8 and RLE4 pictures of 1.1 megapixels
# drawn in a few places, the rest passed over by end-of-line and jump codes
# as writers do for what they leave blank. Beside each, X.pam: the picture
# as ImageMagick decodes it (Pillow 9.4 misreads jump codes), from a twin
# with a gap before its pixel data where one was written: ImageMagick takes
# no run-length file of less than a byte per 256 pixels. expect.txt names
# each file with "exact": every byte of the reference.
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1"

convert "$sample" -crop 61x47+100+120 +repage -type Palette -compress RLE bmp3:im-rle8.bmp

$py - <<'PY'
import struct


def bmp(name, bits, colours, codes, width=1100, height=1000, gap=0):
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 2 if bits == 4 else 1, len(codes), 0, 0,
                       len(colours), 0)
    table = b"".join(bytes([b, g, r, 0]) for r, g, b in colours)
    offset = 14 + len(info) + len(table) + gap
    with open(name, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", offset + len(codes), 0, 0, offset) + info + table + bytes(gap) + codes)


def codes(literal):
    jump = lambda right, up: bytes([0, 2, right, up])
    eol, end = b"\0\0", b"\0\1"
    return (b"\x05\x07" + literal + eol +        # bottom row: a run and a literal
            jump(0, 250) + b"\x04\x09" +         # row 251
            jump(255, 255) + literal + eol +     # row 506 from column 259
            jump(200, 255) + b"\xff\x21\xff\x22" +  # row 762 from column 200
            jump(255, 237) + b"\xc8\x2c" + end)  # the top row, a run past its end


for prefix, gap in ("", 0), ("twin-", 5000):
    bmp(prefix + "skipped-rle8.bmp", 8, [(i, 255 - i, i * 7 % 256) for i in range(256)], codes(b"\0\5\1\2\3\4\5\0"),
        gap=gap)
    bmp(prefix + "skipped-rle4.bmp", 4, [(i * 16, 255 - i * 16, i * 5) for i in range(16)], codes(b"\0\5\x12\x34\x50\0"),
        gap=gap)
PY
for f in im-rle8 skipped-rle8 skipped-rle4; do
  source=$f.bmp
  [ -e twin-$f.bmp ] && source=twin-$f.bmp
  convert $source -depth 8 -type TrueColor $f.pam
  echo "$f.bmp exact" >>expect.txt
done
rm -f twin-*
touch "$stamp"
