#!/bin/sh
# Makes the Photo-CD test files with ImageMagick and pcdkit.py (see there),
# each with its reference picture and a line in expect.txt.
# usage: make-files.sh OUTDIR
set -eu
out=$1
here=$(cd "$(dirname "$0")" && pwd)
stamp=$out/.complete
if [ -f "$stamp" ] && [ "$stamp" -nt "$0" ] && [ "$stamp" -nt "$here/pcdkit.py" ]; then
  exit 0
fi
rm -rf "$out"
mkdir -p "$out"
/usr/bin/python3 "$here/pcdkit.py" "$out"
touch "$stamp"
