#!/usr/bin/env bash
# GIF reading and writing side by side with giflib, and colour reduction
# side by side with ImageMagick.
#  1. Reading: quillarc-decode and giflib's DGifSlurp on the 4000 x 3000,
#     256-colour, non-interlaced GIF made from the seeding photograph, three
#     rounds each taking the median of 5 loads, then a check that both give
#     the same pixels.
#  2. Writing: the same file's indices written again by Quillarc's LZW
#     encoder (SaveToStream) and by giflib's EGifSpew, both into memory,
#     three rounds of 5, then both outputs' sizes.
#  3. Reduction: the photograph (5312 x 2988) to a 256-colour GIF, by
#     quillarc-decode with the octree (--reduction 7) and Floyd-Steinberg
#     (--dither 1) and by ImageMagick's convert -colors 256 -dither
#     FloydSteinberg, each a whole run (JPEG decoding, reduction, GIF
#     writing), three rounds side by side.
# usage: bench/compare-gif.sh [BUILD_DIR]    (default: build/release)
# Needs ImageMagick's convert, a C compiler and giflib (libgif-dev).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build/release}"
decode="$build/bench/quillarc-decode"
photo="$here/../../shared/photos/seeding-5312x2988.jpg"
gif="${TMPDIR:-/tmp}/seeding-4000x3000-256.gif"
[ -x "$decode" ] || { echo "compare-gif.sh: build quillarc-decode first ($decode)" >&2; exit 1; }
if [ ! -f "$gif" ]; then
  echo "making $gif"
  convert "$photo" -resize '4000x3000!' -colors 256 "$gif"
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cc -O2 -o "$work/giflib-slurp" "$here/giflib_slurp.c" -lgif
cc -O2 -o "$work/giflib-spew" "$here/giflib_spew.c" -lgif

echo "#### reading"
for round in 1 2 3; do
  echo "== round $round: giflib DGifSlurp"
  "$work/giflib-slurp" --repeat 5 "$gif" "$work/giflib.pam"
  echo "== round $round: quillarc-decode"
  "$decode" --repeat 5 "$gif" "$work/quillarc.pam"
done
if cmp -s "$work/giflib.pam" "$work/quillarc.pam"; then
  echo "pixels: the same"
else
  echo "pixels: DIFFERENT" >&2
  exit 1
fi

echo "#### writing"
for round in 1 2 3; do
  echo "== round $round: giflib EGifSpew"
  "$work/giflib-spew" --repeat 5 "$gif" "$work/giflib.gif"
  echo "== round $round: quillarc-decode (LZW)"
  "$decode" --repeat 5 --encoding lzw "$gif" "$work/quillarc.gif" | grep -E "written|save"
done
giflib_size=$(stat -c %s "$work/giflib.gif")
quillarc_size=$(stat -c %s "$work/quillarc.gif")
echo "sizes: giflib $giflib_size bytes, Quillarc $quillarc_size bytes ($(awk "BEGIN { printf \"%+.2f\", ($quillarc_size - $giflib_size) * 100 / $giflib_size }") %)"

echo "#### reduction to 256 colours with Floyd-Steinberg"
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  awk "BEGIN { printf \"%.3f s\", $end - $start }"
}
for round in 1 2 3; do
  echo "== round $round: ImageMagick convert -colors 256 -dither FloydSteinberg: $(seconds convert "$photo" -colors 256 -dither FloydSteinberg "$work/imagemagick.gif")"
  echo "== round $round: quillarc-decode --reduction 7 --dither 1: $(seconds "$decode" --reduction 7 --dither 1 "$photo" "$work/quillarc-octree.gif")"
done
"$decode" --reduction 7 --dither 1 "$photo" "$work/quillarc-octree.gif" | grep -E "import|save"
echo "colours: ImageMagick $(identify -format %k "$work/imagemagick.gif"), Quillarc $(identify -format %k "$work/quillarc-octree.gif")"
