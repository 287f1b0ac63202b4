#!/bin/sh
# Makes the Photoshop test files: ImageMagick's (grey, grey with alpha,
# indexed, RGB, RGBA, CMYK, with and without alpha, raw and run-length, 8
# and 16 bits) and hand-made ones for what it does not write (bitmap mode,
# L*a*b*, duotone, multichannel, modes 5 and 6, long colour mode data,
# damaged files). Beside each file that must load, X.pam: the merged picture
# as the reader is to give it (RGBA, rows top first), from ImageMagick's
# decode of the merged image (16-bit samples to 8 bits as floor(v x 255 /
# 65535), CMYK to RGB by the reader's ink formula), or from the generator's
# own pixels. expect.txt as for the other families (exact, refuse).
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1" make-files.py ../referencekit.py
"$py" "$here/make-files.py" "$out" "$sample"
touch "$stamp"
