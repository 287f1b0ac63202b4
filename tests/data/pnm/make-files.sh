#!/bin/sh
# Makes the portable-map test files with netpbm and Pillow (P1 to P6,
# plain and raw, maximum values 1, 15, 255 and 65535, comments), a few
# header variants laid down with printf, and beside each file X.pam, the
# picture as netpbm reads it (RGBA, rows top first). Samples are brought to
# 8 bits as v x 255 div maxval: for 1, 15 and 255 that is what every
# decoder gives; for 65535 it is this library's rule, so those references
# are netpbm's plain samples taken down by that rule.
# expect.txt names each file with "exact", or "refuse <message>".
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1" ../referencekit.py

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

# Pillow: 16-bit grey with every byte in use, so the narrowing to 8 bits
# shows.
$py -c "
from PIL import Image
wide = Image.new('I', (61, 47))
wide.putdata([(x * 1111 + y * 977) % 65536 for y in range(47) for x in range(61)])
wide.save('pil-I16.pgm')"
expect "pil-I16.pgm exact"

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
for f in v-one-line.ppm v-comments.pgm v-comments-between.ppm v-crlf.pgm v-p1-separated.pbm v-no-last-newline.pgm \
         v-p1-ten.pbm; do
  expect "$f exact"
done

# Refused: another kind, data cut short, impossible headers.
invalid="Cannot load image. Invalid or unexpected PBM, PGM or PPM image format."
short="Stream read error in PPM file."
refuse() { # NAME MESSAGE PRINTF-FORMAT
  printf "$3" >"$1"
  expect "$1 refuse $2"
}
pamtopam <photo.ppm >v-pam.ppm
expect "v-pam.ppm refuse $invalid"
head -c 2000 photo.ppm >v-truncated.ppm
expect "v-truncated.ppm refuse $short"
refuse v-maxval-0.pgm "$invalid" 'P5\n2 2\n0\n\001\002\003\004'
refuse v-maxval-70000.pgm "$invalid" 'P5\n2 2\n70000\n\001\002\003\004\005\006\007\010'
refuse v-huge.pgm "$short" 'P5 16384 16384 255\n\001\002\003\004'
refuse v-plain-short.pgm "$short" 'P2 3 2 255\n1 2 3 4 5\n'
refuse v-no-width.ppm "$invalid" 'P6 0 10 255\n\001\002\003\004\001\002\003\004\001\002\003\004'
refuse v-overflow.ppm "$invalid" 'P6 99999999999999999999 1 255\n\001\002\003\004\001\002\003\004\001\002\003'

# References: netpbm decodes each file to plain samples; they are expanded
# to RGBA here (bitmap 1 is black). netpbm wants a separator after the last
# sample, so Pillow decodes the file that has none.
PYTHONPATH="$here/.." $py - <<'PY'
import re
import subprocess
from PIL import Image
from referencekit import write_pam
for line in open("expect.txt"):
    name, mode = line.split()[:2]
    if mode == "refuse":
        continue
    if name == "v-no-last-newline.pgm":
        Image.open(name).save("plain.pgm", format="PPM")
    data = subprocess.run(["pnmtoplainpnm", "plain.pgm" if name == "v-no-last-newline.pgm" else name],
                          capture_output=True, check=True).stdout
    tokens = re.findall(rb"\d+", data[2:])
    width, height = int(tokens[0]), int(tokens[1])
    if data[:2] == b"P1":
        pixels = [(g, g, g) for g in (0 if d == b"1" else 255 for d in re.findall(rb"[01]", data.split(b"\n", 2)[2]))]
    else:
        values = [int(t) * 255 // int(tokens[2]) for t in tokens[3:]]
        pixels = list(zip(values[0::3], values[1::3], values[2::3])) if data[:2] == b"P3" else [(v,) * 3 for v in values]
    assert len(pixels) == width * height, (name, len(pixels), width, height)
    write_pam(name, width, height, b"".join(bytes(p) + b"\xff" for p in pixels))
PY
rm -f photo.ppm grey.pgm bw.pbm column.ppm plain.pgm
touch "$stamp"
