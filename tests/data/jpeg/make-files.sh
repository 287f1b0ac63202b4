#!/bin/sh
# Makes JPEG test files with libjpeg's tools (cjpeg, jpegtran): arithmetic
# and progressive coding, components in scans of their own, and the densest
# files their codes allow, flat pictures whose scans take about a bit a
# block (Huffman) or next to nothing (arithmetic); beside each file X.pam,
# the picture as djpeg decodes it (RGB, rows top first). Files the reader
# refuses: a dense file cut short and a flat arithmetic one of more pixels
# than its bytes may stand for. expect.txt names each file with "exact" or
# "refuse <message>".
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1"

expect() { echo "$*" >>expect.txt; }
reference() { djpeg -rgb "$1" | pamtopam >"${1%.jpg}.pam"; expect "$1 exact"; }
refused() { expect "$1 refuse JPEG image is not valid: $2 x $3 pixels in $(wc -c <"$1") bytes"; }

convert "$sample" photo.ppm
convert -size 1024x1024 xc:'rgb(90,140,200)' flat.ppm
ppmtopgm flat.ppm >flat.pgm
cjpeg photo.ppm >photo.jpg

cjpeg -arithmetic photo.ppm >cj-arithmetic.jpg
cjpeg -arithmetic -grayscale photo.ppm >cj-arithmetic-grey.jpg
cjpeg -arithmetic -sample 1x1 photo.ppm >cj-arithmetic-444.jpg
cjpeg -arithmetic -progressive photo.ppm >cj-arithmetic-progressive.jpg
jpegtran -progressive photo.jpg >jt-progressive.jpg
jpegtran -arithmetic -progressive photo.jpg >jt-arithmetic-progressive.jpg
# Each component a sequential scan of its own.
printf '0;\n1;\n2;\n' >separate.txt
cjpeg -scans separate.txt photo.ppm >cj-separate-scans.jpg
# A DC scan of one bit a block, then the AC coefficients in end-of-band
# runs: 472 pixels a byte in grey, 307 in 4:2:0 colour.
printf '0: 0 0 0 0;\n0: 1 63 0 0;\n' >dc-grey.txt
printf '0 1 2: 0 0 0 0;\n0: 1 63 0 0;\n1: 1 63 0 0;\n2: 1 63 0 0;\n' >dc-colour.txt
cjpeg -grayscale flat.pgm | jpegtran -optimize -scans dc-grey.txt >jt-dense-grey.jpg
cjpeg flat.ppm | jpegtran -optimize -scans dc-colour.txt >jt-dense-colour.jpg
cjpeg -arithmetic flat.ppm >cj-arithmetic-flat.jpg
for file in cj-arithmetic.jpg cj-arithmetic-grey.jpg cj-arithmetic-444.jpg cj-arithmetic-progressive.jpg \
            jt-progressive.jpg jt-arithmetic-progressive.jpg cj-separate-scans.jpg jt-dense-grey.jpg \
            jt-dense-colour.jpg cj-arithmetic-flat.jpg; do
  reference "$file"
done

# The dense grey file cut to 1500 bytes: its DC scan alone needs 2 KB.
head -c 1500 jt-dense-grey.jpg >cut-dense-grey.jpg
refused cut-dense-grey.jpg 1024 1024
# A flat arithmetic picture of 16 megapixels in about 200 bytes.
convert -size 4096x4096 xc:'rgb(90,140,200)' ppm:- | cjpeg -arithmetic >cj-arithmetic-flat-16mp.jpg
refused cj-arithmetic-flat-16mp.jpg 4096 4096

rm -f photo.ppm photo.jpg flat.ppm flat.pgm separate.txt dc-grey.txt dc-colour.txt
touch "$stamp"
