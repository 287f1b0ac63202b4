#!/usr/bin/env bash
# GIF reading side by side: quillarc-decode and giflib's DGifSlurp on the
# 4000 x 3000, 256-colour, non-interlaced GIF made from the seeding
# photograph, three rounds each taking the median of 5 loads, then a check
# that both give the same pixels.
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
