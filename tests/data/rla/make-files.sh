#!/bin/sh
# Makes the Alias/Wavefront test files with make-rla.py (no tool here
# writes them). The ImageMagick here reads none of them (not even a picture
# of one row: "corrupt image"), and netpbm has no reader, so the references
# are the pictures as the generator wrote them.
# usage: make-files.sh OUTDIR
set -eu
mkdir -p "$1"
out=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
sample=$here/../../../resources/sample.bmp
stamp=$out/.complete
if [ -f "$stamp" ] && [ "$stamp" -nt "$0" ] && [ "$stamp" -nt "$here/make-rla.py" ]; then
  exit 0
fi
rm -rf "$out"
mkdir -p "$out"
cd "$out"
convert "$sample" -crop 61x47+100+120 +repage photo.ppm
/usr/bin/python3 "$here/make-rla.py" . photo.ppm
rm -f photo.ppm
touch "$stamp"
