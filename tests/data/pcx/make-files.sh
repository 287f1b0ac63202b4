#!/bin/sh
# Makes the PCX test files with independent tools (ImageMagick, netpbm,
# Pillow) and make-variants.py, and beside each one X.pam, the picture as
# an independent decoder sees it (RGBA, rows top first): Pillow for 1-bit
# files (ImageMagick shows them inverted), netpbm for an 8-bit file of
# version 3 (ImageMagick does not take its palette, Pillow refuses it),
# ImageMagick for the rest, each reading the file's twin where
# make-variants.py wrote one. expect.txt
# names each file with how the test compares it:
#   exact    every byte of the reference
#   refuse   the load fails with the message that follows
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1" make-variants.py

# A photograph crop of odd size, versions of it in 2, 4, 8 and 16 colours,
# grey and black and white, and a one-pixel column.
convert "$sample" -crop 61x47+100+120 +repage photo.ppm
for n in 4 8 16; do convert photo.ppm +dither -colors $n c$n.ppm; done
ppmtopgm photo.ppm >photo.pgm
convert photo.ppm -monochrome mono.pbm
convert "$sample" -crop 1x37+5+5 +repage column.ppm

expect() { echo "$*" >>expect.txt; }

# ImageMagick: 24 bits, 32 bits (a fourth plane of alpha), 8-bit palette;
# run-length and stored.
for compress in RLE None; do
  convert photo.ppm -compress $compress im-rgb-$compress.pcx
  convert photo.ppm -alpha set -channel A -fx "(i+j)/(w+h)" +channel -compress $compress im-rgba-$compress.pcx
  convert photo.ppm -type Palette -compress $compress im-palette-$compress.pcx
  for f in im-rgb-$compress im-rgba-$compress im-palette-$compress; do expect "$f.pcx exact"; done
done
convert column.ppm im-column.pcx
expect "im-column.pcx exact"

# netpbm: planes of 1 bit (3 and 4 of them), packed pixels of 1, 2 and 4
# bits, 8 bits with a palette, grey and 24 bits. Two 1-bit planes (what it
# writes for 4 colours) are refused.
ppmtopcx c8.ppm >pnm-planes3.pcx 2>/dev/null
ppmtopcx c16.ppm >pnm-planes4.pcx 2>/dev/null
ppmtopcx mono.pbm >pnm-mono.pcx 2>/dev/null
ppmtopcx -packed c4.ppm >pnm-packed2.pcx 2>/dev/null
ppmtopcx -packed c16.ppm >pnm-packed4.pcx 2>/dev/null
ppmtopcx -8bit photo.ppm >pnm-8bit.pcx 2>/dev/null
ppmtopcx -8bit photo.pgm >pnm-gray.pcx 2>/dev/null
ppmtopcx -24bit photo.ppm >pnm-24bit.pcx 2>/dev/null
for f in pnm-planes3 pnm-planes4 pnm-mono pnm-packed2 pnm-packed4 pnm-8bit pnm-gray pnm-24bit; do
  expect "$f.pcx exact"
done
ppmtopcx c4.ppm >pnm-planes2.pcx 2>/dev/null
expect "pnm-planes2.pcx refuse Invalid color format in PCX file."

# Pillow: 1 bit (a file shorter than the 769 bytes of a palette), grey,
# palette and 24 bits, under the other extensions too.
$py - <<'PY'
from PIL import Image
photo = Image.open("photo.ppm")
with open("expect.txt", "a") as expect:
    for name, picture in (("pil-1.pcx", photo.convert("1")), ("pil-L.pcc", photo.convert("L")),
                          ("pil-P.scr", photo.convert("P", palette=Image.ADAPTIVE, colors=50)),
                          ("pil-RGB.pcx", photo)):
        picture.save(name, format="PCX")
        expect.write(name + " exact\n")
PY

# Variants no tool writes.
$py "$here/make-variants.py" .
for f in v-v3-planes4 v-v3-packed4 v-v3-mono v-v3-8bit v-gray-planes4 v-gray-packed2 v-gray8-nomarker \
         v-8bit-nomarker v-offset-rgb-rle v-offset-rgb-raw; do
  expect "$f.pcx exact"
done

while read -r name mode rest; do
  [ "$mode" = refuse ] && continue
  source=$name
  [ -f "twin-$name" ] && source=twin-$name
  if [ "$name" = v-v3-8bit.pcx ]; then
    pcxtoppm "$source" | pamtopam >"${name%.*}.pam"
  elif [ "$($py -c "import sys; b = open(sys.argv[1], 'rb').read(4); print(b[3])" "$source")" = 1 ] &&
     [ "$($py -c "import sys; print(open(sys.argv[1], 'rb').read(66)[65])" "$source")" = 1 ]; then
    $py -c "
import sys
from PIL import Image
picture = Image.open(sys.argv[1]).convert('RGBA')
with open(sys.argv[2], 'wb') as f:
    f.write(b'P7\\nWIDTH %d\\nHEIGHT %d\\nDEPTH 4\\nMAXVAL 255\\nTUPLTYPE RGB_ALPHA\\nENDHDR\\n' % picture.size)
    f.write(picture.tobytes())" "$source" "${name%.*}.pam"
  else
    convert "$source" -depth 8 -type TrueColorAlpha "${name%.*}.pam"
  fi
done <expect.txt
rm -f photo.ppm photo.pgm mono.pbm column.ppm c4.ppm c8.ppm c16.ppm twin-*
touch "$stamp"
