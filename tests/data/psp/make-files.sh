#!/bin/sh
# Makes the Paintshop Pro test files with make-files.py, which lays them down
# byte by byte (no tool here writes the format): versions 3 and 5; stored,
# run-length and deflate data; 1, 4, 8 and 24 bits; palettes, grey, several
# layers, unknown channel types and damaged files. Beside each file that
# must load, X.pam holds the generator's own pixels. expect.txt as for the
# other families (exact, refuse).
# usage: make-files.sh OUTDIR
set -eu
out=$1
here=$(cd "$(dirname "$0")" && pwd)
stamp=$out/.complete
if [ -f "$stamp" ] && [ "$stamp" -nt "$0" ] && [ "$stamp" -nt "$here/make-files.py" ]; then
  exit 0
fi
rm -rf "$out"
mkdir -p "$out"
/usr/bin/python3 "$here/make-files.py" "$out"
touch "$stamp"
