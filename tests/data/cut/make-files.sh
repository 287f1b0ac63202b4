#!/bin/sh
# Makes the Dr. Halo test files with make-cut.py (no tool here writes them)
# and checks the ordinary ones against ImageMagick's reading of them.
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1" make-cut.py ../referencekit.py
convert "$sample" -crop 61x47+100+120 +repage photo.ppm
"$py" "$here/make-cut.py" . photo.ppm
# A second opinion where ImageMagick reads the same: the pictures with their
# palette, without one (grey), under ".PAL", and one of 300 entries.
for f in photo no-palette capitals wide; do
  convert "$f.cut" -depth 8 -type TrueColorAlpha im-$f.pam
  if ! compare -metric AE "$f.pam" im-$f.pam null: 2>/dev/null; then
    echo "make-files.sh: ImageMagick reads $f.cut otherwise" >&2
    exit 1
  fi
  rm im-$f.pam
done
rm -f photo.ppm
touch "$stamp"
