#!/bin/sh
# Makes the PCX test files with independent tools (ImageMagick, netpbm,
# Pillow) and make-variants.py, and beside each one X.pam, the picture as
# an independent decoder sees it (RGBA, rows top first): Pillow for 1-bit
# files (ImageMagick shows them inverted), netpbm for an 8-bit file of
# version 3 (ImageMagick does not take its palette, Pillow refuses it),
# ImageMagick for the rest, each reading the file's twin where
# make-variants.py wrote one. expect.txt names each file with how the test
# compares it:
#   exact    every byte of the reference
#   refuse   the load fails with the message that follows
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1" make-variants.py ../referencekit.py

# A photograph crop of odd size, versions of it in 4, 8 and 16 colours,
# black and white, and a one-pixel column.
convert "$sample" -crop 61x47+100+120 +repage photo.ppm
for n in 4 8 16; do convert photo.ppm +dither -colors $n c$n.ppm; done
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
# bits. Two 1-bit planes (what it writes for 4 colours) are refused.
ppmtopcx c8.ppm >pnm-planes3.pcx 2>/dev/null
ppmtopcx c16.ppm >pnm-planes4.pcx 2>/dev/null
ppmtopcx mono.pbm >pnm-mono.pcx 2>/dev/null
ppmtopcx -packed c4.ppm >pnm-packed2.pcx 2>/dev/null
ppmtopcx -packed c16.ppm >pnm-packed4.pcx 2>/dev/null
for f in pnm-planes3 pnm-planes4 pnm-mono pnm-packed2 pnm-packed4; do expect "$f.pcx exact"; done
ppmtopcx c4.ppm >pnm-planes2.pcx 2>/dev/null
expect "pnm-planes2.pcx refuse Invalid color format in PCX file."

# Pillow: 1 bit (a file shorter than the 769 bytes of a palette) and grey
# (a palette of grey levels), the latter under another extension.
$py - <<'PY'
from PIL import Image
photo = Image.open("photo.ppm")
with open("expect.txt", "a") as expect:
    for name, picture in (("pil-1.pcx", photo.convert("1")), ("pil-L.pcc", photo.convert("L"))):
        picture.save(name, format="PCX")
        expect.write(name + " exact\n")
PY

# Variants no tool writes (with their lines in expect.txt).
$py "$here/make-variants.py" .

PYTHONPATH="$here/.." $py - <<'PY'
import os
import subprocess
from PIL import Image
from referencekit import write_pam
for line in open("expect.txt"):
    name, mode = line.split()[:2]
    if mode == "refuse":
        continue
    source = "twin-" + name if os.path.exists("twin-" + name) else name
    head = open(source, "rb").read(66)
    if name == "v-v3-8bit.pcx":
        ppm = subprocess.run(["pcxtoppm", source], capture_output=True, check=True).stdout
        subprocess.run(["pamtopam"], input=ppm, stdout=open(name[:-4] + ".pam", "wb"), check=True)
    elif head[3] == 1 and head[65] == 1:
        picture = Image.open(source).convert("RGBA")
        write_pam(name, picture.size[0], picture.size[1], picture.tobytes())
    else:
        subprocess.run(["convert", source, "-depth", "8", "-type", "TrueColorAlpha", name[:-4] + ".pam"], check=True)
PY
rm -f photo.ppm mono.pbm column.ppm c4.ppm c8.ppm c16.ppm twin-*
touch "$stamp"
