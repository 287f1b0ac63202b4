#!/bin/sh
# Makes the SGI test files with independent tools (ImageMagick, netpbm,
# Pillow) and make-variants.py, and beside each one X.pam, the picture as
# ImageMagick decodes it (RGBA, rows top first), read at 16 bits and
# narrowed to 8 the library's way, floor(v x 255 / 65535), which leaves
# 8-bit files as they are. expect.txt names each file with how the test
# compares it:
#   exact    every byte of the reference
#   rgb      colours only (a second channel, alpha, is dropped here)
#   refuse   the load fails with the message that follows
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1" make-variants.py

# A photograph crop of odd size, a one-pixel column, and a 16-bit version
# of the crop whose low bytes are in use (ImageMagick computes at 16 bits).
convert "$sample" -crop 61x47+100+120 +repage photo.ppm
convert "$sample" -crop 1x37+5+5 +repage column.ppm
convert photo.ppm -depth 16 -blur 0x0.8 photo16.ppm
ppmtopgm photo.ppm >photo.pgm

expect() { echo "$*" >>expect.txt; }

# ImageMagick: run-length and verbatim, grey, RGB, RGBA, 16-bit RGB (which
# it writes verbatim only).
for compress in RLE None; do
  convert photo.ppm -compress $compress im-rgb-$compress.sgi
  convert photo.ppm -alpha set -channel A -fx "(i+j)/(w+h)" +channel -compress $compress im-rgba-$compress.sgi
  convert photo.ppm -type Grayscale -compress $compress im-gray-$compress.sgi
  for f in im-rgb-$compress im-rgba-$compress im-gray-$compress; do expect "$f.sgi exact"; done
done
convert photo16.ppm im-rgb16-raw.sgi
convert column.ppm im-column.sgi
expect "im-rgb16-raw.sgi exact"
expect "im-column.sgi exact"

# netpbm: run-length and verbatim, 8 and 16 bits; 16-bit grey is refused.
pnmtosgi photo.ppm >pnm-rgb-rle.sgi
pnmtosgi -verbatim photo.ppm >pnm-rgb-raw.sgi
pnmtosgi photo16.ppm >pnm-rgb16-rle.sgi
pnmtosgi -verbatim photo16.ppm >pnm-rgb16-raw.sgi
pnmtosgi photo.pgm >pnm-gray-rle.bw
pnmtosgi -verbatim photo.pgm >pnm-gray-raw.bw
for f in pnm-rgb-rle pnm-rgb-raw pnm-rgb16-rle pnm-rgb16-raw; do expect "$f.sgi exact"; done
for f in pnm-gray-rle pnm-gray-raw; do expect "$f.bw exact"; done
pamdepth 65535 photo.pgm | pnmtosgi >pnm-gray16.bw
expect "pnm-gray16.bw refuse Invalid color format in sgi, bw or rgb(a) file."

# Pillow: verbatim grey, RGB and RGBA, under the other extensions.
$py - <<'PY'
from PIL import Image
photo = Image.open("photo.ppm")
rgba = photo.convert("RGBA")
rgba.putalpha(Image.linear_gradient("L").resize(photo.size))
with open("expect.txt", "a") as expect:
    for name, picture in (("pil-L.bw", photo.convert("L")), ("pil-RGB.rgb", photo), ("pil-RGBA.rgba", rgba)):
        picture.save(name, format="SGI")
        expect.write(name + " exact\n")
PY

# Variants no tool writes.
$py "$here/make-variants.py" .
expect "v-graya-rle.sgi rgb"
expect "v-graya-raw.sgi rgb"
expect "v-rgba16-rle.sgi exact"
expect "v-rgb-shuffled-rle.sgi exact"

while read -r name mode rest; do
  [ "$mode" = refuse ] && continue
  convert "$name" -depth 16 -type TrueColorAlpha pam:- | $py -c "
import sys
data = sys.stdin.buffer.read()
head, pixels = data.split(b'ENDHDR\n', 1)
words = head.split()
width, height = int(words[words.index(b'WIDTH') + 1]), int(words[words.index(b'HEIGHT') + 1])
narrow = bytes(((pixels[i] << 8 | pixels[i + 1]) * 255) // 65535 for i in range(0, len(pixels), 2))
sys.stdout.buffer.write(b'P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n' % (width, height) + narrow)
" >"${name%.*}.pam"
done <expect.txt
rm -f photo.ppm photo16.ppm photo.pgm column.ppm
touch "$stamp"
