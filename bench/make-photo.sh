#!/bin/sh
# Makes the 12-megapixel benchmark picture: the seeding photograph scaled
# to exactly 4000 x 3000 and stored as a 24-bit BMP.
# usage: bench/make-photo.sh [SOURCE.jpg] [OUTPUT.bmp]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
src=${1:-$here/../../shared/photos/seeding-5312x2988.jpg}
out=${2:-/tmp/seeding-4000x3000.bmp}
command -v convert >/dev/null || { echo "make-photo.sh: needs ImageMagick's convert" >&2; exit 1; }
convert "$src" -resize '4000x3000!' -type TrueColor -define bmp:format=bmp3 "BMP3:$out"
echo "$out"
