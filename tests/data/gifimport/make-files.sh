#!/usr/bin/env bash
# Makes the pictures the GIF import tests build frames from, with netpbm
# writing the BMP and icon files from portable maps that stay beside them as
# the truth: BMPs of 1, 4, 8 and 24 bits per pixel, icons of 1 and 8 bits
# whose AND masks come from a portable grey map (black: the desktop shows
# through), and one of 32 bits whose alpha is that map.
# usage: make-files.sh OUTDIR
set -euo pipefail
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1"

convert "$sample" -resize '45x13!' -monochrome -depth 8 bmp1.ppm
ppmtobmp -bpp 1 bmp1.ppm > bmp1.bmp 2>/dev/null
convert "$sample" -resize '37x21!' -colors 14 -depth 8 bmp4.ppm
ppmtobmp -bpp 4 bmp4.ppm > bmp4.bmp 2>/dev/null
convert "$sample" -resize '40x30!' -colors 200 -depth 8 bmp8.ppm
ppmtobmp -bpp 8 bmp8.ppm > bmp8.bmp 2>/dev/null
convert "$sample" -resize '33x17!' -depth 8 bmp24.ppm
ppmtobmp -bpp 24 bmp24.ppm > bmp24.bmp 2>/dev/null

convert -size 32x32 xc:white +antialias -fill black -draw 'circle 16,16 16,3' -depth 8 mask.pgm
convert "$sample" -resize '32x32!' -monochrome -depth 8 ico1.ppm
convert "$sample" -resize '32x32!' -colors 30 -depth 8 ico8.ppm
convert "$sample" -resize '32x32!' -depth 8 ico24.ppm
for name in ico1 ico8; do
  ppmtowinicon -andpgms "$name.ppm" mask.pgm > "$name.ico" 2>/dev/null
done
pamstack -tupletype RGB_ALPHA ico24.ppm mask.pgm 2>/dev/null | pamtowinicon > ico24.ico 2>/dev/null
touch "$stamp"
