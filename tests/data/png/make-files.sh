#!/bin/sh
# Makes the PNG test files with independent tools (pypng, ImageMagick,
# netpbm's pnmtopng, Pillow) and hand-made damaged files, and beside each
# file that must load X.pam, the picture as the reader is to give it (RGBA,
# rows top first): libpng's decode through pngtopam, or the generator's own
# pixels for files libpng refuses, after the reader's rules (16-bit samples
# to 8 bits as floor(v x 255 / 65535), the gAMA curve on colours, grey with
# alpha read as grey). expect.txt names each file with how it is checked:
#   exact    every byte of the reference
#   refuse   the load fails with the message that follows
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1" make-files.py ../referencekit.py
"$py" "$here/make-files.py" "$out" "$sample"
touch "$stamp"
