#!/bin/sh
# Makes the TIFF, EPS and Photo-CD test files with independent tools and
# tiffkit.py (see there), each with its reference picture and a line in
# expect.txt.
# usage: make-files.sh OUTDIR
set -eu
out=$1
here=$(cd "$(dirname "$0")" && pwd)
stamp=$out/.complete
if [ -f "$stamp" ] && [ "$stamp" -nt "$0" ] && [ "$stamp" -nt "$here/tiffkit.py" ]; then
  exit 0
fi
rm -rf "$out"
mkdir -p "$out"
/usr/bin/python3 "$here/tiffkit.py" "$out"
touch "$stamp"
