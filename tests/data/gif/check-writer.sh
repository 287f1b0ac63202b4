#!/bin/sh
# GIF writing through the decode tool: GIF files written again by each
# encoder show in ImageMagick what their originals show; a true-colour
# picture written with every reduction method and ditherer reads in giflib
# (giftext) and ImageMagick with at most 256 colours.
# usage: check-writer.sh QUILLARC-DECODE GENERATED-GIF-DIR PICTURE WORKDIR
set -eu
decode=$1 data=$2 picture=$3 work=$4
mkdir -p "$work"
fail() { echo "check-writer.sh: $*"; exit 1; }
for name in im_table1 im_interlaced im_transparent im_local_second gs_small_frame gs_extensions gb_tables \
            kit_deferred_clear; do
  convert "$data/$name.gif" -depth 8 rgba:"$work/original.rgba"
  for encoding in lzw rle; do
    "$decode" --encoding $encoding "$data/$name.gif" "$work/written.gif" >/dev/null
    convert "$work/written.gif" -depth 8 rgba:"$work/written.rgba"
    cmp -s "$work/written.rgba" "$work/original.rgba" || fail "$name written by $encoding shows otherwise"
  done
done
check() {
  "$decode" "$@" "$picture" "$work/reduced.gif" >/dev/null
  giftext "$work/reduced.gif" >/dev/null
  colours=$(identify -format '%k' "$work/reduced.gif")
  [ "$colours" -le 256 ] || fail "$* gave $colours colours"
}
for reduction in 1 2 3 4 5 6 7 8; do check --reduction $reduction --dither 1; done
for dither in 0 2 3 4 5 6; do check --reduction 7 --bits 5 --dither $dither --encoding rle; done
echo "check-writer.sh: every written file reads as it should"
