#!/bin/sh
# Makes the SGI test files with independent tools (ImageMagick, netpbm) and
# make-variants.py, and beside each one X.pam, the picture as ImageMagick
# decodes it (RGBA, rows top first), read at 16 bits and narrowed to 8 the
# library's way, floor(v x 255 / 65535), which leaves 8-bit files as they
# are. expect.txt names each file with how the test compares it:
#   exact    every byte of the reference
#   rgb      colours only (a second channel, alpha, is dropped here)
#   refuse   the load fails with the message that follows
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1" make-variants.py ../referencekit.py

# A photograph crop of odd size, a one-pixel column, and a 16-bit version
# of the crop whose low bytes are in use (ImageMagick computes at 16 bits).
convert "$sample" -crop 61x47+100+120 +repage photo.ppm
convert "$sample" -crop 1x37+5+5 +repage column.ppm
convert photo.ppm -depth 16 -blur 0x0.8 photo16.ppm

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

# netpbm: 16 bits run-length and verbatim; 16-bit grey is refused.
pnmtosgi photo16.ppm >pnm-rgb16-rle.sgi
pnmtosgi -verbatim photo16.ppm >pnm-rgb16-raw.sgi
for f in pnm-rgb16-rle pnm-rgb16-raw; do expect "$f.sgi exact"; done
ppmtopgm photo.ppm | pamdepth 65535 | pnmtosgi >pnm-gray16.bw
expect "pnm-gray16.bw refuse Invalid color format in sgi, bw or rgb(a) file."

# Variants no tool writes (with their lines in expect.txt).
$py "$here/make-variants.py" .

PYTHONPATH="$here/.." $py - <<'PY'
import subprocess
from referencekit import write_pam
for line in open("expect.txt"):
    name, mode = line.split()[:2]
    if mode != "refuse":
        pam = subprocess.run(["convert", name, "-depth", "16", "-type", "TrueColorAlpha", "pam:-"],
                             capture_output=True, check=True).stdout
        head, pixels = pam.split(b"ENDHDR\n", 1)
        words = head.split()
        width, height = int(words[words.index(b"WIDTH") + 1]), int(words[words.index(b"HEIGHT") + 1])
        write_pam(name, width, height, bytes((pixels[i] << 8 | pixels[i + 1]) * 255 // 65535
                                             for i in range(0, len(pixels), 2)))
PY
rm -f photo.ppm photo16.ppm column.ppm
touch "$stamp"
