#!/bin/sh
# Times the TIFF reader against libtiff, side by side in the same run, on
# 4000 x 3000 TIFFs made from the shared photograph with tiffcp: none,
# PackBits, deflate without and with the predictor in strips of one row (12
# KB: what tiffcp's default of 8 KB comes to, asked for, since tiffcp keeps
# the strips of a file it copies), JPEG (YCbCr, chroma halved both ways,
# strips of 16 rows) and CCITT G3 1-D (the photograph thresholded to black
# and white, strips as the thresholded file has them). Then none, PackBits
# and deflate with the predictor in strips of 80 rows (about 1 MB), as
# ImageMagick writes them ("im-").
# Quillarc: quillarc-decode --repeat N (load through the picture registry
# and assignment to a bitmap, in-process). libtiff: bench/libtiff_decode.c,
# built here: TIFFReadEncodedStrip of every strip into a buffer of the
# whole image (JPEG strips asked for as RGB). Both keep their memory from
# load to load (Quillarc's pool of pixel blocks, libtiff's driver its
# buffer); the first load of a fresh process pays for all of it, page
# faults included. No allocator settings.
# Each round times every file with both tools in turn, the order changing
# from round to round, on one core (taskset -c 1) and on four (taskset -c
# 1-4), each time the median of N loads; then the first load of a fresh
# process of each, on one core. A cell is the median over the rounds;
# "ratio" is Quillarc's time over libtiff's. Peak memory is the process's
# high-water mark from a fresh process, in bytes per pixel (the picture
# itself is 3, 1 for JPEG grey, 1/8 for G3).
# usage: bench/compare-tiff.sh [ROUNDS] [N]
# environment: WORK (default /tmp/quillarc-compare-tiff), DECODE (the
# quillarc-decode to time, default build/release/bench/quillarc-decode)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/summary.sh"
rounds=${1:-5}
repeat=${2:-5}
work=${WORK:-/tmp/quillarc-compare-tiff}
decode=${DECODE:-$here/../build/release/bench/quillarc-decode}
photo=$here/../../shared/photos/seeding-5312x2988.jpg
mkdir -p "$work"
cc -O2 -I"$here" -o "$work/libtiff_decode" "$here/libtiff_decode.c" -ltiff

[ -f "$work/photo.tif" ] || convert "$photo" -resize '4000x3000!' -compress None "$work/photo.tif"
[ -f "$work/bilevel.tif" ] ||
  convert "$work/photo.tif" -colorspace gray -threshold 50% -depth 1 -compress None "$work/bilevel.tif"
# A file is made again when an earlier run made it with other options. A
# new file is copied once more, so that every file sits in the page cache
# in the same large pieces whichever tool wrote it: reading a file that
# tiffcp wrote in small pieces costs both readers more.
fresh() { [ -f "$work/$1.tif" ] && [ "$(cat "$work/$1.options" 2>/dev/null)" = "$2" ]; }
made() { # NAME OPTIONS
  cp "$work/$1.tif" "$work/$1.copy" && mv "$work/$1.copy" "$work/$1.tif" && echo "$2" >"$work/$1.options"
}
make() { # NAME SOURCE TIFFCP-OPTIONS...
  name=$1 source=$2
  shift 2
  fresh "$name" "$*" || { tiffcp "$@" "$work/$source.tif" "$work/$name.tif" && made "$name" "$*"; }
}
make none photo -c none -r 1
make packbits photo -c packbits -r 1
make deflate photo -c zip -r 1
make deflate-predictor photo -c zip:2 -r 1
make jpeg photo -c jpeg:90 -r 16
make g3-1d bilevel -c g3:1d
im() { # NAME CONVERT-OPTIONS...
  name=$1
  shift
  fresh "$name" "$*" || { convert "$work/photo.tif" "$@" -define tiff:rows-per-strip=80 "$work/$name.tif" && made "$name" "$*"; }
}
im im-none -compress None
im im-packbits -compress RLE
im im-deflate-predictor -compress Zip -define tiff:predictor=2
variants="none packbits deflate deflate-predictor jpeg g3-1d im-none im-packbits im-deflate-predictor"

load_before=$(cut -d" " -f1-3 /proc/loadavg)
results=$work/results.txt
: >"$results"
median_of() { sed -n 's/^median time: \([0-9.]*\) s.*/\1/p'; }
peak_of() { sed -n 's/^peak resident memory: .*(\([0-9.]*\) bytes per pixel)/\1/p'; }
for round in $(seq "$rounds"); do
  for name in $variants; do
    file=$work/$name.tif
    if [ $((round % 2)) -eq 1 ]; then tools="quillarc libtiff"; else tools="libtiff quillarc"; fi
    for cores in 1 1-4; do
      for tool in $tools; do
        if [ "$tool" = quillarc ]; then out=$(taskset -c "$cores" "$decode" --repeat "$repeat" "$file" "$work/out.bmp")
        else out=$(taskset -c "$cores" "$work/libtiff_decode" --repeat "$repeat" "$file"); fi
        echo "$name $tool $cores $(echo "$out" | median_of)" >>"$results"
      done
    done
    for tool in $tools; do
      if [ "$tool" = quillarc ]; then out=$(taskset -c 1 "$decode" "$file" "$work/out.bmp")
      else out=$(taskset -c 1 "$work/libtiff_decode" "$file"); fi
      echo "$name $tool first $(echo "$out" | median_of)" >>"$results"
      echo "$name $tool peak $(echo "$out" | peak_of)" >>"$results"
    done
  done
done

echo "TIFF reading, 4000 x 3000, $rounds rounds of medians of $repeat loads; load average $load_before before, $(cut -d" " -f1-3 /proc/loadavg) after"
echo
echo "| file | MB | one core: Quillarc / libtiff | ratio | four cores: Quillarc / libtiff | ratio | first load: Quillarc / libtiff | ratio | peak bytes/pixel: Quillarc / libtiff |"
echo "|---|---|---|---|---|---|---|---|---|"
for name in $variants; do
  mb=$(stat -c %s "$work/$name.tif" | awk '{printf "%.1f", $1 / 1e6}')
  awk -v name="$name" -v mb="$mb" -v summary="$work/summary.txt" '
    function median(key,   n, i, j, t, v) {
      n = split(values[key], v, " ")
      for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
      return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
    }
    function cell(what,   q, l) {
      q = median("quillarc " what); l = median("libtiff " what)
      return sprintf("%.4f s / %.4f s | %.2f", q, l, l > 0 ? q / l : 0)
    }
    $1 == name { values[$2 " " $3] = values[$2 " " $3] " " $4 }
    END {
      printf "| %s | %s | %s | %s | %s | %.1f / %.1f |\n", name, mb, cell("1"), cell("1-4"), cell("first"),
             median("quillarc peak"), median("libtiff peak")
      print median("quillarc 1"), median("libtiff 1"), median("quillarc 1-4"), median("libtiff 1-4"),
            median("quillarc peak"), median("libtiff peak") > summary
    }' "$results"
  # shellcheck disable=SC2046
  summary_row "TIFF $name" libtiff $(cat "$work/summary.txt")
done
