#!/bin/sh
# The speed and memory figures of the README: every default style and the
# default Professional run on the 12-megapixel benchmark picture, with 8
# threads beside the straightforward versions on one thread (--reference)
# (and Pen & Ink with a low threshold below its high one, so that its edge
# following runs; at the defaults the two meet on the benchmark picture),
# the Professional run with 1 thread, and its first run in a fresh process.
# Then the codecs, each beside its reference: PNG beside libpng and the
# other raster readers beside Pillow, ImageMagick and netpbm (one processor
# each), JPEG loading beside djpeg, TIFF beside libtiff and GIF beside
# giflib, each table as its own script prints it, and last a summary: each
# codec beside its reference on one core (and on four where the comparison
# runs there), with peak memory in bytes per pixel, headed by the machine,
# the date and the load average before and after.
# usage: bench/figures.sh [BUILD_DIR] [REPEAT] [conversions|codecs|all]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build/release}
repeat=${2:-5}
section=${3:-all}
case $section in
  conversions | codecs | all) ;;
  *) echo "usage: figures.sh [BUILD_DIR] [REPEAT] [conversions|codecs|all]" >&2; exit 2 ;;
esac
decode="$build/bench/quillarc-decode"

codecs() {
  FIGURES_SUMMARY=$(mktemp)
  export FIGURES_SUMMARY
  load_before=$(cut -d' ' -f1-3 /proc/loadavg)
  echo "## Codecs"
  echo
  "$here/png-vs-libpng.sh" --repeat "$repeat" --decode "$decode"
  echo
  "$here/compare-readers.py" --repeat "$repeat" --decode "$decode" targa pnm sgi autodesk pcx cut rla psd psp png
  echo
  "$here/jpeg-load.sh" "$build" "$repeat"
  # TIFF and GIF: the tables their own comparisons print.
  echo
  DECODE="$decode" "$here/compare-tiff.sh" 3 "$repeat"
  echo
  "$here/compare-gif.sh" "$build"
  echo
  echo "## Summary"
  echo
  echo "$(nproc) x $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), $(date -u '+%Y-%m-%d %H:%M UTC');" \
    "load average $load_before before, $(cut -d' ' -f1-3 /proc/loadavg) after; bench/figures.sh $build $repeat $section"
  echo
  echo "| work (4000 x 3000 unless said) | reference | one core: Quillarc / reference | ratio | four cores: Quillarc / reference | ratio | peak bytes/pixel: Quillarc / reference |"
  echo "|---|---|---|---|---|---|---|"
  cat "$FIGURES_SUMMARY"
  rm -f "$FIGURES_SUMMARY"
}

if [ "$section" = codecs ]; then
  codecs
  exit 0
fi
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
if [ "$section" = all ]; then
  echo
  codecs
fi
