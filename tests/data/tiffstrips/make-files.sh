#!/bin/sh
# Makes the threaded-load tests' files: pictures whose strips are shared out
# among the threads (many strips of each compression) and a fax page whose
# one strip is decoded in pieces, by ImageMagick and tiffcp from the sample
# picture. Beside each file X goes X.pam, libtiff's decode (ImageMagick's
# for JPEG strips), and a line in expect.txt (see
# tests/rasterformats/RasterFiles.h).
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1"

convert "$sample" -resize 200% -compress None photo.tif
# A dithered page of a fax's width: lines of many runs, a strip of some
# 180 KB when it is one.
convert "$sample" -resize 1728x -crop 1728x1000+0+0 +repage -monochrome -depth 1 -compress None page.tif

: >expect.txt
libtiff() {  # name
  tifftopnm "$1" 2>/dev/null | pamdepth 255 2>/dev/null | ppmtoppm | pamtopam >"${1%.*}.pam"
  [ -s "${1%.*}.pam" ]
  echo "$1 exact" >>expect.txt
}
tiffcp -c g3:1d -r 100000 page.tif fax-one-strip.tif && libtiff fax-one-strip.tif
tiffcp -c g3:1d -r 8 page.tif fax-strips.tif && libtiff fax-strips.tif
tiffcp -c none -r 3 photo.tif stored-strips.tif && libtiff stored-strips.tif
tiffcp -c packbits -r 4 photo.tif packbits-strips.tif && libtiff packbits-strips.tif
tiffcp -c zip:2 -r 8 photo.tif zip-strips.tif && libtiff zip-strips.tif
tiffcp -c jpeg -r 16 photo.tif jpeg-strips.tif
convert jpeg-strips.tif -depth 8 -alpha off pam:jpeg-strips.pam
echo "jpeg-strips.tif exact" >>expect.txt
rm photo.tif page.tif
touch "$stamp"
