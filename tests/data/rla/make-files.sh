#!/bin/sh
# Makes the Alias/Wavefront test files with make-rla.py (no tool here
# writes them). The ImageMagick here reads none of them (not even a picture
# of one row: "corrupt image"), and netpbm has no reader, so the references
# are the pictures as the generator wrote them.
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1" make-rla.py ../referencekit.py
convert "$sample" -crop 61x47+100+120 +repage photo.ppm
"$py" "$here/make-rla.py" . photo.ppm
rm -f photo.ppm
touch "$stamp"
