#!/bin/sh
# Makes the TIFF and EPS test files with independent tools and
# tiffkit.py (see there), each with its reference picture and a line in
# expect.txt.
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1" tiffkit.py ycc.py ../referencekit.py
"$py" "$here/tiffkit.py" "$out"
touch "$stamp"
