#!/bin/sh
# The Autodesk test files come from make-autodesk.py: no tool here writes
# or reads the format.
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1" make-autodesk.py ../referencekit.py
"$py" "$here/make-autodesk.py" "$out"
touch "$stamp"
