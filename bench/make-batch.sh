#!/bin/sh
# Makes the batch benchmark's folder: twenty 12-megapixel baseline JPEG
# photos (4000 x 3000, quality 90), each a different crop of the seeding
# photograph, so that no two files are alike.
# usage: bench/make-batch.sh [SOURCE.jpg] [FOLDER]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
src=${1:-$here/../../shared/photos/seeding-5312x2988.jpg}
out=${2:-/tmp/quillarc-batch}
command -v convert >/dev/null || { echo "make-batch.sh: needs ImageMagick's convert" >&2; exit 1; }
mkdir -p "$out"
i=0
while [ "$i" -lt 20 ]; do
  name=$(printf '%s/photo%02d.jpg' "$out" "$i")
  if [ ! -s "$name" ]; then
    convert "$src" -crop "$((4800 - i * 20))x$((2900 - i * 10))+$((i * 20))+$((i * 4))" +repage \
      -resize '4000x3000!' -quality 90 -interlace none "$name"
  fi
  i=$((i + 1))
done
echo "$out"
