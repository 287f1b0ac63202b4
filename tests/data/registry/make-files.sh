#!/bin/sh
# Makes one small sample picture for each extension of the raster registry
# that a tool writes (ImageMagick, tiffcp), named sample.<extension>. The
# registry test finds samples of the other extensions among the files the
# reader families make.
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1" ../valid/undrawable-records.emf
convert "$sample" -crop 40x30+150+150 +repage photo.ppm
w() { # FORMAT EXTENSION [OPTIONS...]
  format=$1 ext=$2
  shift 2
  convert photo.ppm "$@" "$format:sample.$ext"
}
for ext in bmp dib; do w BMP3 $ext; done
w BMP3 rle -type Palette -compress RLE
w ICO ico
for ext in jfif jpg jpe jpeg; do w JPEG $ext; done
for ext in win vst vda tga icb; do w TGA $ext; done
for ext in tiff tif; do w TIFF $ext; done
convert photo.ppm -monochrome -depth 1 -compress None bilevel.tif
tiffcp -c g3:1d bilevel.tif sample.fax
for ext in pcx pcc scr; do w PCX $ext; done
for ext in sgi rgb; do w SGI $ext; done
w SGI rgba -alpha set
w SGI bw -type Grayscale
for ext in psd pdd; do w PSD $ext; done
w PPM ppm
w PGM pgm
w PBM pbm
w PNG png -define png:exclude-chunks=date,time
# The program writes enhanced metafiles under ".wmf" too.
cp "$here/../valid/undrawable-records.emf" sample.emf
cp "$here/../valid/undrawable-records.emf" sample.wmf
rm -f photo.ppm bilevel.tif
touch "$stamp"
