#!/bin/sh
# Makes the hostile-size files with make-hostile.py: under 1 MB each,
# claiming the largest pictures their formats allow (see the script).
# bench/hostile-sizes.sh times and measures the same files.
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1" make-hostile.py
"$py" "$here/make-hostile.py" .
touch "$stamp"
