#!/bin/sh
# PNG decoding side by side: quillarc-decode (load through the picture
# registry, then a bitmap assignment) and a small driver on libpng's
# simplified API (bench/libpng_decode.c, built here), on a 4000 x 3000 RGB
# and an RGBA PNG made from the seeding photograph by ImageMagick at zlib
# level 6. Each decodes every file N times (default 5); the medians are
# printed one beside the other, with each program's peak memory.
# usage: bench/png-vs-libpng.sh [--repeat N] [--work DIR] [--decode PATH]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
repeat=5
work=/tmp/quillarc-compare
decode=$here/../build/release/bench/quillarc-decode
while [ $# -gt 0 ]; do
  case $1 in
    --repeat) repeat=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --decode) decode=$2; shift 2 ;;
    *) echo "usage: png-vs-libpng.sh [--repeat N] [--work DIR] [--decode PATH]" >&2; exit 2 ;;
  esac
done
mkdir -p "$work"
cc -O2 -o "$work/libpng-decode" "$here/libpng_decode.c" -lpng
ppm=$work/photo-4000x3000.ppm
[ -f "$ppm" ] || convert "$here/../../shared/photos/seeding-5312x2988.jpg" -resize '4000x3000!' "$ppm"
[ -f "$work/png-rgb.png" ] || convert "$ppm" -define png:compression-level=6 "PNG24:$work/png-rgb.png"
[ -f "$work/png-rgba.png" ] || convert "$ppm" \( +clone -fx '(i+j)/(w+h)' -colorspace gray \) -alpha off \
  -compose CopyOpacity -composite -define png:compression-level=6 "PNG32:$work/png-rgba.png"

field() { sed -n "s/^$1: \([0-9.]*\) .*/\1/p"; }
printf '%-6s %6s   %-28s %-28s\n' file MB quillarc libpng
for kind in rgb rgba; do
  file=$work/png-$kind.png
  ours=$("$decode" --repeat "$repeat" "$file" "$work/out.pam")
  theirs=$("$work/libpng-decode" --repeat "$repeat" "$file")
  t1=$(echo "$ours" | field "median time")
  m1=$(echo "$ours" | sed -n 's/.*(\([0-9.]*\) bytes per pixel).*/\1/p')
  t2=$(echo "$theirs" | field "median time")
  m2=$(echo "$theirs" | field "peak resident memory")
  printf '%-6s %6.1f   %s s %4.0f MP/s %4s B/px   %s s %4.0f MP/s %4.1f B/px\n' "$kind" \
    "$(echo "$(stat -c %s "$file") / 1000000" | bc -l)" \
    "$t1" "$(echo "12 / $t1" | bc -l)" "$m1" \
    "$t2" "$(echo "12 / $t2" | bc -l)" "$(echo "$m2 * 1048576 / 12000000" | bc -l)"
done
