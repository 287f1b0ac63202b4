#!/bin/sh
# Times the TIFF reader against libtiff, side by side, on 4000 x 3000 TIFFs
# made from the shared photograph: uncompressed, PackBits, deflate with the
# predictor and JPEG (YCbCr, chroma halved both ways), strips as tiffcp
# writes them. Quillarc: quillarc-decode --repeat N (load through the
# picture registry plus the assignment to a bitmap, in-process). libtiff:
# bench/libtiff_decode.c, built here, which opens the file and reads every
# strip with TIFFReadEncodedStrip into a buffer of the whole image (JPEG
# strips asked for as RGB). Each cell
# is the median of N loads; the whole comparison runs three rounds.
# usage: bench/compare-tiff.sh [N]
# environment: WORK (default /tmp/quillarc-compare-tiff), DECODE (the
# quillarc-decode to time, default build/release/bench/quillarc-decode)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
repeat=${1:-5}
work=${WORK:-/tmp/quillarc-compare-tiff}
decode=${DECODE:-$here/../build/release/bench/quillarc-decode}
photo=$here/../../shared/photos/seeding-5312x2988.jpg
mkdir -p "$work"
cc -O2 -o "$work/libtiff_decode" "$here/libtiff_decode.c" -ltiff

if [ ! -f "$work/photo.tif" ]; then
  convert "$photo" -resize '4000x3000!' -compress None "$work/photo.tif"
fi
make() { # NAME TIFFCP-OPTIONS...
  name=$1
  shift
  [ -f "$work/$name.tif" ] || tiffcp "$@" "$work/photo.tif" "$work/$name.tif"
}
make none -c none
make packbits -c packbits
make deflate-predictor -c zip:2
make jpeg -c jpeg:90 -r 16

median() { sed -n 's/^median time: \([0-9.]*\) s.*/\1/p'; }
for round in 1 2 3; do
  echo "round $round (medians of $repeat loads, megapixels a second in brackets)"
  printf '  %-18s %8s  %-18s %-18s\n' variant MB quillarc libtiff
  for name in none packbits deflate-predictor jpeg; do
    file=$work/$name.tif
    q=$("$decode" --repeat "$repeat" "$file" "$work/out.pam" | median)
    l=$("$work/libtiff_decode" --repeat "$repeat" "$file" | median)
    mb=$(stat -c %s "$file" | awk '{printf "%.1f", $1 / 1e6}')
    printf '  %-18s %8s  %-18s %-18s\n' "$name" "$mb" \
      "$(awk -v s="$q" 'BEGIN {printf "%.3f s (%4.0f)", s, 12 / s}')" \
      "$(awk -v s="$l" 'BEGIN {printf "%.3f s (%4.0f)", s, 12 / s}')"
  done
done
