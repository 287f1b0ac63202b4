#!/bin/sh
# Loading a 20-megapixel baseline JPEG: the main window's loader
# (quillarc-bench ... load) beside libjpeg's own decoder, djpeg, on the
# same file, each run N times in turn on one core (taskset -c 1); prints
# both medians and their ratio.
# usage: bench/jpeg-load.sh [BUILD_DIR] [RUNS]
# Needs ImageMagick (to make the picture from the seeding photograph) and
# djpeg (Debian package libjpeg-turbo-progs).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/summary.sh"
build=${1:-$here/../build/release}
runs=${2:-7}
photo=/tmp/seeding-20mp.jpg
if [ ! -s "$photo" ]; then
  convert "$here/../../shared/photos/seeding-5312x2988.jpg" -resize '6000x3334!' -quality 90 \
    -interlace none -sampling-factor 2x2 "$photo"
fi
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
djpeg_times=""
ours_times=""
peak=""
i=0
while [ "$i" -lt "$runs" ]; do
  start=$(date +%s.%N)
  taskset -c 1 djpeg -outfile /dev/null "$photo"
  stop=$(date +%s.%N)
  djpeg_times="$djpeg_times $(awk "BEGIN { print $stop - $start }")"
  out=$(taskset -c 1 "$build/bench/quillarc-bench" --repeat 1 "$photo" /tmp/seeding-20mp-loaded.bmp load)
  ours_times="$ours_times $(echo "$out" | sed -n 's/^median time: \([0-9.]*\) s.*/\1/p')"
  peak=$(echo "$out" | sed -n 's/^peak resident memory: .*(\(.*\) bytes per pixel)/\1/p')
  i=$((i + 1))
done
d=$(printf '%s\n' $djpeg_times | median)
o=$(printf '%s\n' $ours_times | median)
echo "picture: $photo ($(identify -format '%w x %h' "$photo"))"
echo "djpeg -outfile /dev/null: median $d s over $runs runs (whole process)"
echo "LoadPictureFile: median $o s over $runs runs (fresh process each), peak $peak bytes per pixel"
echo "ratio: $(awk "BEGIN { printf \"%.2f\", $o / $d }")"
summary_row "JPEG, 20 MP baseline, fresh process" "djpeg (whole process)" "$o" "$d" - - "$peak" -
