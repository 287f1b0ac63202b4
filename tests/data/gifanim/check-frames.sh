#!/usr/bin/env bash
# Plays every animation of compare.txt, and a picture of one frame, with
# `quillarc-decode --frames` and compares each frame it writes with
# ImageMagick's coalesced frame over white: the same number of frames, no
# pixel different, a timing line for each; the waits of delays.gif.
# usage: check-frames.sh QUILLARC-DECODE GENERATED-DIR OUTDIR
set -euo pipefail
decode="$1" data="$2" out="$3"
rm -rf "$out"
mkdir -p "$out"
status=0
while read -r name; do
  "$decode" --frames "$out/$name" "$data/$name.gif" >/dev/null
  refs=("$data/${name}"_[0-9][0-9][0-9].ppm)
  got=("$out/$name"/[0-9][0-9][0-9].pam)
  if [ "${#refs[@]}" -ne "${#got[@]}" ] || [ "$(wc -l < "$out/$name/timing.tsv")" -ne "${#refs[@]}" ]; then
    echo "$name: ${#got[@]} frames painted and timed, ImageMagick has ${#refs[@]}"; status=1; continue
  fi
  for ((i = 0; i < ${#refs[@]}; i++)); do
    diff=$(compare -metric AE "${got[$i]}" "${refs[$i]}" null: 2>&1) || { echo "$name: frame $i differs in $diff pixels"; status=1; }
  done
done < <(cat "$data/compare.txt"; echo one_frame)
# Delays 0, 1, 2, 10, 20 (units of 10 ms, 12 ms each here): the waits before
# frames 1 to 4 follow from the delays of frames 0 to 3 (none -> 10 units,
# 1 and 2 -> 3 units), less at most half of what the writing of a frame took.
awk -F'\t' 'BEGIN { split("120 36 36 120", want, " ") }
  NR > 1 { w = want[NR - 1]; if ($1 != NR - 1 || $2 > w || $2 < w - 40) { print "delays.gif: frame " $1 " waited " $2 " ms, not about " w; bad = 1 } }
  END { exit bad }' "$out/delays/timing.tsv" || status=1
exit "$status"
