#!/bin/sh
# PNG decoding side by side: quillarc-decode (load through the picture
# registry, the bitmap handed over) and a small driver on libpng's
# simplified API (bench/libpng_decode.c, built here), on a 4000 x 3000 RGB
# and an RGBA PNG made from the seeding photograph by ImageMagick at zlib
# level 6. Both run on one processor (taskset). Both keep their memory from
# load to load (Quillarc's pool of pixel blocks, the driver its buffer);
# the first load of a fresh process pays for all of it, page faults
# included. No allocator settings. Each of ROUNDS rounds runs both, in turn
# first, N loads in one process (the median taken) and one load in a fresh
# process; a cell is the median over the rounds, the fresh process's first
# load in brackets. Prints a Markdown table with each program's peak
# memory (from its N loads) and the load average.
# usage: bench/png-vs-libpng.sh [--repeat N] [--rounds R] [--cpu C] [--work DIR] [--decode PATH]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/summary.sh"
repeat=5
rounds=3
cpu=1
work=/tmp/quillarc-compare
decode=$here/../build/release/bench/quillarc-decode
while [ $# -gt 0 ]; do
  case $1 in
    --repeat) repeat=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --cpu) cpu=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --decode) decode=$2; shift 2 ;;
    *) echo "usage: png-vs-libpng.sh [--repeat N] [--rounds R] [--cpu C] [--work DIR] [--decode PATH]" >&2; exit 2 ;;
  esac
done
mkdir -p "$work"
cc -O2 -o "$work/libpng-decode" "$here/libpng_decode.c" -lpng
ppm=$work/photo-4000x3000.ppm
[ -f "$ppm" ] || convert "$here/../../shared/photos/seeding-5312x2988.jpg" -resize '4000x3000!' "$ppm"
[ -f "$work/png-rgb.png" ] || convert "$ppm" -define png:compression-level=6 "PNG24:$work/png-rgb.png"
[ -f "$work/png-rgba.png" ] || convert "$ppm" \( +clone -fx '(i+j)/(w+h)' -colorspace gray \) -alpha off \
  -compose CopyOpacity -composite -define png:compression-level=6 "PNG32:$work/png-rgba.png"

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
seconds() { sed -n 's/^median time: \([0-9.]*\) s.*/\1/p'; }
mib() { sed -n 's/^peak resident memory: \([0-9.]*\) MiB.*/\1/p'; }
ours() { taskset -c "$cpu" "$decode" --repeat "$1" "$2" "$work/out.bmp"; }
theirs() { taskset -c "$cpu" "$work/libpng-decode" --repeat "$1" "$2"; }

loadBefore=$(cut -d' ' -f1 /proc/loadavg)
table="| file | Quillarc | libpng | time ratio | Quillarc peak | libpng peak |
|---|---|---|---|---|---|"
for kind in rgb rgba; do
  file=$work/png-$kind.png
  qt=""; lt=""; qf=""; lf=""; round=1
  while [ "$round" -le "$rounds" ]; do
    # Who goes first changes from round to round.
    if [ $((round % 2)) -eq 1 ]; then
      q=$(ours "$repeat" "$file"); l=$(theirs "$repeat" "$file")
      qf="$qf $(ours 1 "$file" | seconds)"; lf="$lf $(theirs 1 "$file" | seconds)"
    else
      l=$(theirs "$repeat" "$file"); q=$(ours "$repeat" "$file")
      lf="$lf $(theirs 1 "$file" | seconds)"; qf="$qf $(ours 1 "$file" | seconds)"
    fi
    qt="$qt $(echo "$q" | seconds)"; lt="$lt $(echo "$l" | seconds)"
    round=$((round + 1))
  done
  pixels=$(echo "$q" | sed -n 's/^picture: \([0-9]*\) x \([0-9]*\).*/\1 \2/p' | awk '{ print $1 * $2 }')
  t1=$(printf '%s\n' $qt | median); f1=$(printf '%s\n' $qf | median)
  t2=$(printf '%s\n' $lt | median); f2=$(printf '%s\n' $lf | median)
  row=$(awk -v k="$kind" -v mb="$(stat -c %s "$file")" -v p="$pixels" -v t1="$t1" -v f1="$f1" -v t2="$t2" \
    -v f2="$f2" -v m1="$(echo "$q" | mib)" -v m2="$(echo "$l" | mib)" 'BEGIN {
      printf "| %s, %.1f MB | %.3f s (%.3f s), %.0f MP/s | %.3f s (%.3f s), %.0f MP/s | %.2f | %.1f bytes/pixel | %.1f bytes/pixel |",
        toupper(k), mb / 1e6, t1, f1, p / 1e6 / t1, t2, f2, p / 1e6 / t2, t1 / t2, m1 * 1048576 / p, m2 * 1048576 / p }')
  table="$table
$row"
  summary_row "PNG $(echo "$kind" | tr a-z A-Z) 8-bit" libpng "$t1" "$t2" - - \
    "$(echo "$q" | mib | awk -v p="$pixels" '{ print $1 * 1048576 / p }')" \
    "$(echo "$l" | mib | awk -v p="$pixels" '{ print $1 * 1048576 / p }')"
done
echo "PNG, one processor (CPU $cpu), medians of $rounds rounds of $repeat loads (first load of a fresh process in brackets);"
echo "load average $loadBefore before, $(cut -d' ' -f1 /proc/loadavg) after"
echo
echo "$table"
