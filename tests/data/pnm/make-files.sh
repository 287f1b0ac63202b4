#!/bin/sh
# Makes the portable-map test files with netpbm, ImageMagick and Pillow
# (P1 to P6, plain and raw, maximum values 1, 15, 255 and 65535, comments),
# a few header variants laid down with printf, and beside each file X.pam,
# the picture as netpbm reads it (RGBA, rows top first). Samples are
# brought to 8 bits as v x 255 div maxval: for 1, 15 and 255 that is what
# every decoder gives; for 65535 it is this library's rule, so those
# references are netpbm's plain samples taken down by that rule.
# expect.txt names each file with "exact", or "refuse <message>".
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1"

expect() { echo "$*" >>expect.txt; }

# A photograph crop of odd size (61 is not a multiple of 8), its grey and
# dithered black-and-white versions, and a one-pixel column.
convert "$sample" -crop 61x47+100+120 +repage photo.ppm
ppmtopgm photo.ppm >grey.pgm
pgmtopbm -randomseed=1 grey.pgm >bw.pbm 2>/dev/null
convert "$sample" -crop 1x37+5+5 +repage column.ppm

# netpbm: raw and plain at every maximum value asked for.
cp photo.ppm pnm-P6.ppm
cp grey.pgm pnm-P5.pgm
cp bw.pbm pnm-P4.pbm
pamdepth 15 photo.ppm >pnm-P6-15.ppm
pamdepth 15 grey.pgm >pnm-P5-15.pgm
pamdepth 1 grey.pgm >pnm-P5-1.pgm
pamdepth 65535 photo.ppm >pnm-P6-65535.ppm
pamdepth 65535 grey.pgm >pnm-P5-65535.pgm
cp column.ppm pnm-column.ppm
for file in pnm-P6.ppm pnm-P5.pgm pnm-P4.pbm pnm-P6-15.ppm pnm-P5-15.pgm pnm-P5-1.pgm pnm-P6-65535.ppm \
            pnm-P5-65535.pgm pnm-column.ppm; do
  plain=$(echo "$file" | sed 's/P6/P3/; s/P5/P2/; s/P4/P1/; s/pnm-/pnm-plain-/')
  pnmtoplainpnm "$file" >"$plain"
  expect "$file exact"
  expect "$plain exact"
done

# ImageMagick.
convert photo.ppm im-P6.ppm
convert photo.ppm -depth 16 im-P6-16.ppm
convert photo.ppm -compress none im-P3.ppm
convert photo.ppm -colorspace gray im-P5.pgm
convert photo.ppm -colorspace gray -compress none im-P2.pgm
convert photo.ppm -monochrome im-P4.pbm
convert photo.ppm -monochrome -compress none im-P1.pbm
for f in im-P6.ppm im-P6-16.ppm im-P3.ppm im-P5.pgm im-P2.pgm im-P4.pbm im-P1.pbm; do expect "$f exact"; done

# Pillow.
$py - <<'EOF'
from PIL import Image
photo = Image.open("photo.ppm")
photo.save("pil-RGB.ppm")
photo.convert("L").save("pil-L.pgm")
photo.convert("1").save("pil-1.pbm")
wide = Image.new("I", photo.size)
wide.putdata([(x * 1111 + y * 977) % 65536 for y in range(photo.size[1]) for x in range(photo.size[0])])
wide.save("pil-I16.pgm")
Image.new("RGB", (1, 1), (12, 34, 56)).save("pil-1x1.ppm")
with open("expect.txt", "a") as expect:
    for name in ("pil-RGB.ppm", "pil-L.pgm", "pil-1.pbm", "pil-I16.pgm", "pil-1x1.ppm"):
        expect.write(name + " exact\n")
EOF

# Header and layout variants: the numbers on the magic's own line, comment
# lines (the second holding digits), CR LF line ends, plain bitmap digits
# with separators, a last number that ends the file.
raw_of() { # the pixel bytes of a raw file with netpbm's three-line header
  tail -c +$(($(head -n 3 "$1" | wc -c) + 1)) "$1"
}
{ printf 'P6 61 47 255\n'; raw_of photo.ppm; } >v-one-line.ppm
{ printf 'P5\n# made for the test\n# 12 34 not a size\n61 47\n255\n'; raw_of grey.pgm; } >v-comments.pgm
{ printf 'P6\n61 # width\n# and height:\n47 255\n'; raw_of photo.ppm; } >v-comments-between.ppm
pnmtoplainpnm grey.pgm | sed 's/$/\r/' >v-crlf.pgm
pnmtoplainpnm bw.pbm | sed '3,$s/\([01]\)/\1 /g' >v-p1-separated.pbm
pnmtoplainpnm grey.pgm | tr '\n' ' ' | sed 's/ *$//' >v-no-last-newline.pgm
printf 'P1\n# one row of ten\n10 1\n1100000001\n' >v-p1-ten.pbm
for f in v-one-line.ppm v-comments.pgm v-comments-between.ppm v-crlf.pgm v-p1-separated.pbm v-no-last-newline.pgm v-p1-ten.pbm; do
  expect "$f exact"
done

# Refused: another kind, data cut short, impossible headers.
invalid="Cannot load image. Invalid or unexpected PBM, PGM or PPM image format."
short="Stream read error in PPM file."
pamtopam <photo.ppm >v-pam.ppm
head -c 2000 photo.ppm >v-truncated.ppm
printf 'P5\n2 2\n0\n\001\002\003\004' >v-maxval-0.pgm
printf 'P5\n2 2\n70000\n\001\002\003\004\005\006\007\010' >v-maxval-70000.pgm
printf 'P5 16384 16384 255\n\001\002\003\004' >v-huge.pgm
printf 'P2 3 2 255\n1 2 3 4 5\n' >v-plain-short.pgm
printf 'P6 0 10 255\n\001\002\003\004\001\002\003\004\001\002\003\004' >v-no-width.ppm
printf 'P6 99999999999999999999 1 255\n\001\002\003\004\001\002\003\004\001\002\003' >v-overflow.ppm
expect "v-pam.ppm refuse $invalid"
expect "v-truncated.ppm refuse $short"
expect "v-maxval-0.pgm refuse $invalid"
expect "v-maxval-70000.pgm refuse $invalid"
expect "v-huge.pgm refuse $short"
expect "v-plain-short.pgm refuse $short"
expect "v-no-width.ppm refuse $invalid"
expect "v-overflow.ppm refuse $invalid"

# References: netpbm decodes each file to plain samples; they are expanded
# to RGBA here (bitmap 1 is black). netpbm wants a separator after the last
# sample, so Pillow decodes the file that has none.
while read -r name mode rest; do
  [ "$mode" = refuse ] && continue
  if [ "$name" = v-no-last-newline.pgm ]; then
    $py -c "from PIL import Image; Image.open('$name').save('plain.pgm', format='PPM')"
    pnmtoplainpnm plain.pgm
  else
    pnmtoplainpnm "$name"
  fi | $py -c '
import re, sys
data = sys.stdin.buffer.read()
magic = data[:2]
tokens = re.findall(rb"\d+", data[2:])
width, height = int(tokens[0]), int(tokens[1])
if magic == b"P1":
    digits = re.findall(rb"[01]", data[2:].split(b"\n", 2)[2])
    grey = [0 if d == b"1" else 255 for d in digits]
    pixels = [(g, g, g) for g in grey]
else:
    maxval = int(tokens[2])
    values = [int(t) * 255 // maxval for t in tokens[3:]]
    if magic == b"P2":
        pixels = [(v, v, v) for v in values]
    else:
        pixels = list(zip(values[0::3], values[1::3], values[2::3]))
assert len(pixels) == width * height, (len(pixels), width, height)
out = bytearray(b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" % (width, height))
for r, g, b in pixels:
    out += bytes((r, g, b, 255))
open(sys.argv[1], "wb").write(out)
' "${name%.*}.pam"
done <expect.txt
rm -f photo.ppm grey.pgm bw.pbm column.ppm plain.pgm
touch "$stamp"
