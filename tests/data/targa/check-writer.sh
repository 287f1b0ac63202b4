#!/bin/sh
# The Targa writer's files, packed and raw, read back by ImageMagick, hold
# the pictures they were written from (as ImageMagick read the originals).
# usage: check-writer.sh QUILLARC-DECODE GENERATED-TARGA-DIR WORKDIR
set -eu
decode=$1
data=$2
work=$3
mkdir -p "$work"
for name in im-TrueColor-RLE-TopLeft im-TrueColorAlpha-None-BottomLeft im-Palette-RLE-BottomLeft \
            im-Grayscale-None-TopLeft pnm-map24-rle v-rgb16-rle-bottom pil-1x1-rle; do
  for option in --uncompressed ""; do
    "$decode" $option "$data/$name.tga" "$work/written.tga" >/dev/null
    convert "$work/written.tga" -auto-orient -depth 8 -type TrueColorAlpha rgba:"$work/written.rgba"
    convert "$data/$name.tga" -auto-orient -depth 8 -type TrueColorAlpha rgba:"$work/original.rgba"
    if ! cmp -s "$work/written.rgba" "$work/original.rgba"; then
      echo "check-writer.sh: $name written ${option:-packed} differs from the original"
      exit 1
    fi
  done
done
echo "check-writer.sh: all written files read back as their originals"
