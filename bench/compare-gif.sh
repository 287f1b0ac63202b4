#!/usr/bin/env bash
# GIF reading and writing side by side with giflib, and colour reduction
# side by side with ImageMagick.
#  1. Reading: quillarc-gifload (a GIF into a bitmap, as the main window
#     loads one) and giflib's DGifSlurp (giflib-slurp --once) on 256-colour,
#     non-interlaced GIFs of 1, 4, 12 and 48 megapixels made from the seeding
#     photograph. Every load runs in a fresh process pinned to one core
#     (taskset -c 1), so each page it touches is a new one whose faults it
#     pays for; the two tools take turns, 5 loads each, medians reported:
#     first with ordinary 4 KiB pages only (transparent huge pages refused
#     for both processes), then with the system's own page policy. Then a
#     check that quillarc-decode and giflib give the same pixels.
#  2. Writing: the 12-megapixel file's indices written again by Quillarc's
#     LZW encoder (SaveToStream) and by giflib's EGifSpew, both into memory,
#     three rounds of 5 on one core (taskset -c 1), then both outputs' sizes.
#  3. Reduction: the photograph (5312 x 2988) to a 256-colour GIF, by
#     quillarc-decode with the octree (--reduction 7) and Floyd-Steinberg
#     (--dither 1) and by ImageMagick's convert -colors 256 -dither
#     FloydSteinberg, each a whole run (JPEG decoding, reduction, GIF
#     writing), three rounds side by side on four cores (taskset -c 1-4).
# The reading table is the one to quote: per size and page kind, the
# median wall and processor time of a load for each tool, Quillarc's time
# as a share of giflib's, the nanoseconds per pixel, the same above what a
# 16 x 16 GIF's load costs a fresh process (the part of a first load that
# does not grow with the picture, measured first), the minor page faults,
# and the peak memory of the load above the process's start beside the
# bitmap it made (bytes per pixel). The load average heads it: on a busy
# machine the processor times are the steadier figures.
# usage: bench/compare-gif.sh [BUILD_DIR] [SECTIONS]   (default: build/release, "read write reduce")
# Needs ImageMagick's convert, a C compiler and giflib (libgif-dev).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/summary.sh"
build="${1:-$here/../build/release}"
sections="${2:-read write reduce}"
decode="$build/bench/quillarc-decode"
gifload="$build/bench/quillarc-gifload"
photo="$here/../../shared/photos/seeding-5312x2988.jpg"
cache="${TMPDIR:-/tmp}"
gif="$cache/seeding-4000x3000-256.gif"
for tool in "$decode" "$gifload"; do
  [ -x "$tool" ] || { echo "compare-gif.sh: build $(basename "$tool") first ($tool)" >&2; exit 1; }
done
make_gif() {  # WIDTHxHEIGHT FILE
  [ -f "$2" ] || { echo "making $2"; convert "$photo" -resize "$1!" -colors 256 "$2"; }
}
make_gif 4000x3000 "$gif"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
cc -O2 -I"$here" -o "$work/giflib-slurp" "$here/giflib_slurp.c" -lgif
cc -O2 -o "$work/giflib-spew" "$here/giflib_spew.c" -lgif

if [[ " $sections " == *" read "* ]]; then
echo "#### reading"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) processors"
field() { sed -n "s/^load: \([0-9.]*\) s wall, \([0-9.]*\) s processor, \([0-9]*\) minor.*/\\$1/p"; }
# What a fresh process's first load costs whatever the size (its code and
# data paged in, its symbols bound): a 16 x 16 GIF's load, per page kind.
make_gif 16x16 "$cache/seeding-16x16-256.gif"
for pages in small system; do
  flag=""
  [ "$pages" = small ] && flag="--small-pages"
  for run in 1 2 3 4 5; do taskset -c 1 "$gifload" $flag "$cache/seeding-16x16-256.gif"; done | field 2 | median > "$work/fixed-$pages.txt"
done
echo "a 16 x 16 GIF's load in a fresh process (processor): $(awk '{ printf "%.2f ms", $1 * 1e3 }' "$work/fixed-small.txt") with 4 KiB pages, $(awk '{ printf "%.2f ms", $1 * 1e3 }' "$work/fixed-system.txt") with the system's"
echo
echo "| size | pages | giflib wall | Quillarc wall | giflib processor | Quillarc processor | Quillarc / giflib (wall, processor) | Quillarc ns per pixel (processor) | the same above the 16 x 16 load | page faults giflib, Quillarc | peak above start, giflib / Quillarc / its bitmap (bytes per pixel) |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
for size in 1000x1000 2000x2000 4000x3000 8000x6000; do
  file="$cache/seeding-$size-256.gif"
  make_gif "$size" "$file"
  pixels=$(( ${size%x*} * ${size#*x} ))
  for pages in small system; do
    flag=""
    [ "$pages" = small ] && flag="--small-pages"
    : > "$work/g.txt"
    : > "$work/q.txt"
    for run in 1 2 3 4 5; do
      taskset -c 1 "$work/giflib-slurp" --once $flag "$file" >> "$work/g.txt"
      taskset -c 1 "$gifload" $flag "$file" >> "$work/q.txt"
    done
    gw=$(field 1 < "$work/g.txt" | median); gp=$(field 2 < "$work/g.txt" | median); gf=$(field 3 < "$work/g.txt" | median)
    qw=$(field 1 < "$work/q.txt" | median); qp=$(field 2 < "$work/q.txt" | median); qf=$(field 3 < "$work/q.txt" | median)
    gpeak=$(sed -n 's/^load peak: \([0-9.]*\) bytes.*/\1/p' "$work/g.txt" | median)
    qpeak=$(sed -n 's/^load peak: \([0-9.]*\) bytes.*/\1/p' "$work/q.txt" | median)
    qbitmap=$(sed -n 's/.*the bitmap \([0-9.]*\) bytes.*/\1/p' "$work/q.txt" | median)
    awk -v s="$size" -v p="$pages" -v gw="$gw" -v qw="$qw" -v gp="$gp" -v qp="$qp" -v n="$pixels" \
        -v fixed="$(cat "$work/fixed-$pages.txt")" -v f="$gf, $qf" -v m="$gpeak / $qpeak / $qbitmap" 'BEGIN {
      printf "| %s | %s | %.4f s | %.4f s | %.4f s | %.4f s | %.2f, %.2f | %.1f | %.1f | %s | %s |\n",
             s, p == "small" ? "4 KiB only" : "system", gw, qw, gp, qp, qw / gw, qp / gp, qp * 1e9 / n,
             (qp - fixed) * 1e9 / (n - 256), f, m }'
    [ "$size" = 4000x3000 ] && summary_row "GIF decode, fresh process, $([ "$pages" = small ] && echo "4 KiB" || echo "system") pages (processor time; peak above start)" \
      "giflib DGifSlurp" "$qp" "$gp" - - "$qpeak" "$gpeak"
  done
done
"$work/giflib-slurp" "$gif" "$work/giflib.pam" > /dev/null
"$decode" "$gif" "$work/quillarc.pam" > /dev/null
if cmp -s "$work/giflib.pam" "$work/quillarc.pam"; then
  echo "pixels: the same"
else
  echo "pixels: DIFFERENT" >&2
  exit 1
fi
fi

if [[ " $sections " == *" write "* ]]; then
echo "#### writing"
save_time() { sed -n 's/^median save time: \([0-9.]*\) s.*/\1/p'; }
gs=""; qs=""
for round in 1 2 3; do
  echo "== round $round: giflib EGifSpew"
  out=$(taskset -c 1 "$work/giflib-spew" --repeat 5 "$gif" "$work/giflib.gif"); echo "$out"; gs="$gs $(echo "$out" | save_time)"
  echo "== round $round: quillarc-decode (LZW)"
  out=$(taskset -c 1 "$decode" --repeat 5 --encoding lzw "$gif" "$work/quillarc.gif" | grep -E "written|save")
  echo "$out"; qs="$qs $(echo "$out" | save_time)"
done
summary_row "GIF LZW encode, into memory" "giflib EGifSpew" "$(printf '%s\n' $qs | median)" "$(printf '%s\n' $gs | median)" - - - -
giflib_size=$(stat -c %s "$work/giflib.gif")
quillarc_size=$(stat -c %s "$work/quillarc.gif")
echo "sizes: giflib $giflib_size bytes, Quillarc $quillarc_size bytes ($(awk "BEGIN { printf \"%+.2f\", ($quillarc_size - $giflib_size) * 100 / $giflib_size }") %)"
fi

if [[ " $sections " == *" reduce "* ]]; then
echo "#### reduction to 256 colours with Floyd-Steinberg"
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  awk "BEGIN { printf \"%.3f s\", $end - $start }"
}
is=""; qs=""
for round in 1 2 3; do
  s=$(seconds taskset -c 1-4 convert "$photo" -colors 256 -dither FloydSteinberg "$work/imagemagick.gif"); is="$is ${s% s}"
  echo "== round $round: ImageMagick convert -colors 256 -dither FloydSteinberg: $s"
  s=$(seconds taskset -c 1-4 "$decode" --reduction 7 --dither 1 "$photo" "$work/quillarc-octree.gif"); qs="$qs ${s% s}"
  echo "== round $round: quillarc-decode --reduction 7 --dither 1: $s"
done
summary_row "16 MP JPEG to 256-colour GIF, octree and Floyd-Steinberg, whole run" "ImageMagick convert" \
  - - "$(printf '%s\n' $qs | median)" "$(printf '%s\n' $is | median)" - -
"$decode" --reduction 7 --dither 1 "$photo" "$work/quillarc-octree.gif" | grep -E "import|save"
echo "colours: ImageMagick $(identify -format %k "$work/imagemagick.gif"), Quillarc $(identify -format %k "$work/quillarc-octree.gif")"
fi
