#!/bin/sh
# Opening the 20-megapixel photograph from the main window, under the
# offscreen platform: the time from the file name to both panes drawn and
# the resident memory with it loaded (quillarc-open, each run in a fresh
# process), then the resident memory after a batch of twenty 12-megapixel
# photos with a small picture opened after it, against a fresh start; last
# the longest time between two paints of the main window during conversions
# of the photograph.
# usage: bench/open-photo.sh [BUILD_DIR] [RUNS]
# Needs ImageMagick (to make the pictures from the seeding photograph).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build/release}
runs=${2:-5}
photo=/tmp/seeding-20mp.jpg
small=/tmp/seeding-640.jpg
source=$here/../../shared/photos/seeding-5312x2988.jpg
export QT_QPA_PLATFORM=offscreen
[ -s "$photo" ] || convert "$source" -resize '6000x3334!' -quality 90 -interlace none -sampling-factor 2x2 "$photo"
[ -s "$small" ] || convert "$source" -resize '640x360!' -quality 90 "$small"
batch=$("$here/make-batch.sh")
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
times=""
perpixel=""
i=0
while [ "$i" -lt "$runs" ]; do
  out=$("$build/quillarc-open" "$photo" 2>/dev/null)
  times="$times $(echo "$out" | sed -n 's/^from the file name to both panes drawn: median \([0-9.]*\) s.*/\1/p')"
  perpixel="$perpixel $(echo "$out" | sed -n 's/^resident memory: .*loaded (\([0-9.]*\) bytes per pixel)/\1/p')"
  i=$((i + 1))
done
echo "picture: $photo ($(identify -format '%w x %h' "$photo")), $runs runs, each in a fresh process"
echo "from the file name to both panes drawn: median $(printf '%s\n' $times | median) s (runs:$times)"
echo "resident memory with it loaded: median $(printf '%s\n' $perpixel | median) bytes per pixel"
rm -rf /tmp/quillarc-open-batch-out
"$build/quillarc-open" --batch "$batch" /tmp/quillarc-open-batch-out "$small" 2>/dev/null
"$build/quillarc-open" --paints "$photo" 2>/dev/null
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
