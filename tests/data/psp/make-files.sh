#!/bin/sh
# Makes the Paintshop Pro test files with make-files.py, which lays them down
# byte by byte (no tool here writes the format): versions 3 and 5; stored,
# run-length and deflate data; 1, 4, 8 and 24 bits; palettes, grey, several
# layers, unknown channel types and damaged files. Beside each file that
# must load, X.pam holds the generator's own pixels. expect.txt as for the
# other families (exact, refuse).
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1" make-files.py ../referencekit.py
"$py" "$here/make-files.py" "$out"
touch "$stamp"
