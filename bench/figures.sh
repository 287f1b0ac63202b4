#!/bin/sh
# The speed and memory figures of the README: every default style and the
# default Professional run on the 12-megapixel benchmark picture, with 8
# threads beside the straightforward versions on one thread (--reference)
# (and Pen & Ink with a low threshold below its high one, so that its edge
# following runs; at the defaults the two meet on the benchmark picture),
# the Professional run with 1 thread, and its first run in a fresh process.
# usage: bench/figures.sh [BUILD_DIR] [REPEAT]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build/release}
repeat=${2:-5}
bench="$build/bench/quillarc-bench"
photo=/tmp/seeding-4000x3000.bmp
[ -s "$photo" ] || "$here/make-photo.sh" >/dev/null
out=/tmp/quillarc-figures.bmp
field() { sed -n "s/^$1 \([0-9.]*\).*/\1/p"; }
echo "| run | median, 8 threads | reference, 1 thread | speed-up | same bytes | peak memory |"
echo "|---|---|---|---|---|---|"
for run in "pro" "std RadioButton1" "std RadioButton2" "std RadioButton3" "std RadioButton4" \
           "std RadioButton5" "std RadioButton6" "std RadioButton7" "std --revision earlier RadioButton6" \
           "std RadioButton7 TrackBar5=10"; do
  # shellcheck disable=SC2086
  fast=$("$bench" --repeat "$repeat" --threads 8 "$photo" "$out" $run)
  # shellcheck disable=SC2086
  both=$("$bench" --repeat "$repeat" --threads 8 --reference "$photo" "$out" $run || true)
  t=$(echo "$fast" | field "median time:")
  peak=$(echo "$fast" | sed -n 's/^peak resident memory: .*(\(.*\) bytes per pixel)/\1/p')
  r=$(echo "$both" | field "reference median time:")
  s=$(echo "$both" | sed -n 's/^speed-up over the reference: \(.*\)x/\1/p')
  same=$(echo "$both" | sed -n 's/^same bytes as the reference: \(.*\)/\1/p')
  echo "| \`$run\` | $t s | $r s | ${s}x | $same | $peak bytes/pixel |"
done
one=$("$bench" --repeat "$repeat" --threads 1 "$photo" "$out" pro | field "median time:")
eight=$("$bench" --repeat "$repeat" --threads 8 "$photo" "$out" pro | field "median time:")
echo
echo "pro defaults: 1 thread $one s, 8 threads $eight s, $(awk "BEGIN { printf \"%.1f\", $one / $eight }")x"
firsts=""
i=0
while [ "$i" -lt "$repeat" ]; do
  firsts="$firsts $("$bench" --repeat 1 --threads 8 "$photo" "$out" pro | field "median time:")"
  i=$((i + 1))
done
echo "pro defaults, first run in a fresh process (median of $repeat processes):" \
  "$(printf '%s\n' $firsts | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }') s"
