#!/bin/sh
# The Autodesk test files come from make-autodesk.py: no tool here writes
# or reads the format.
# usage: make-files.sh OUTDIR
set -eu
exec /usr/bin/python3 "$(cd "$(dirname "$0")" && pwd)/make-autodesk.py" "$1"
