#!/usr/bin/env bash
# Times the painting of a 1000 x 1000 animation's frames as the open
# dialog's preview plays it: ImageMagick makes eight full-screen frames from
# the photograph (256 colours, transparent parts, disposal methods 1, 2 and
# 3 in turn), quillarc-gifpaint plays them five times.
# usage: bench/gif-paint.sh   (after a release build in build/release)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
photo="${PHOTO:-$(ls /work/shared/photos/*.jpg | head -n 1)}"
work="$top/build/gif-paint"
mkdir -p "$work"
anim="$work/anim1000.gif"
if [ ! -f "$anim" ]; then
  frames=()
  convert "$photo" -resize '1100x1100^' "$work/base.png"
  for i in 0 1 2 3 4 5 6 7; do
    regions=()
    for k in 0 1 2 3 4; do
      left=$(( (i * 97 + k * 190) % 880 ))
      regions+=(-region "$((120 + k * 40))x$((700 - k * 90))+${left}+$((k * 60))" -alpha transparent)
    done
    convert "$work/base.png" -crop 1000x1000+$((i * 37))+$((i * 23)) +repage \
      -alpha set "${regions[@]}" +region "$work/f$i.png"
    frames+=(-dispose "$(( i % 3 + 1 ))" "$work/f$i.png")
  done
  convert -delay 2 -loop 0 "${frames[@]}" -colors 255 "$anim"
fi
"$top/build/release/bench/quillarc-gifpaint" "$anim" 5
