#!/bin/sh
# Makes the Photo-CD test files with ImageMagick and pcdkit.py (see there),
# each with its reference picture and a line in expect.txt.
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1" pcdkit.py ../tiff/ycc.py ../referencekit.py
"$py" "$here/pcdkit.py" "$out"
touch "$stamp"
