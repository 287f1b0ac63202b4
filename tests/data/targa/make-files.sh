#!/bin/sh
# Makes the Targa test files with independent tools (ImageMagick, netpbm,
# Pillow) and make-variants.py, and beside each one X.pam, the picture as
# an independent decoder sees it (RGBA, rows top first). expect.txt names
# each file with how the test compares it:
#   exact    every byte of the reference
#   rgb      colours only (a 32-bit colour map's fourth byte is no alpha here)
#   top5     the top 5 bits of each colour (5-bit samples are widened
#            differently by different decoders)
#   refuse   the load fails with the message that follows
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1" make-variants.py

# A photograph crop of odd size, and a few-colour version of it with long runs.
convert "$sample" -crop 61x47+100+120 +repage photo.ppm
convert photo.ppm +dither -colors 24 flat.ppm
convert "$sample" -crop 1x37+5+5 +repage column.ppm

expect() { echo "$*" >>expect.txt; }

# ImageMagick: true colour, with alpha, palette and grey; raw and packed; both origins.
for type in TrueColor TrueColorAlpha Palette Grayscale; do
  for compress in None RLE; do
    for orient in TopLeft BottomLeft; do
      name=im-$type-$compress-$orient.tga
      src=photo.ppm
      [ "$type" = Palette ] && src=flat.ppm
      if [ "$type" = TrueColorAlpha ]; then
        convert "$src" -alpha set -channel A -fx "(i+j)/(w+h)" +channel -orient $orient -compress $compress "$name"
      else
        convert "$src" -type $type -orient $orient -compress $compress "$name"
      fi
      expect "$name exact"
    done
  done
done
convert column.ppm -type TrueColor -compress RLE im-column.tga
expect "im-column.tga exact"

# netpbm: an identification field before the pixels, 16-bit colour maps.
pamtotga photo.ppm >pnm-rgb-rle.tga 2>/dev/null
pamtotga -norle photo.ppm >pnm-rgb-raw.tga 2>/dev/null
pamtotga -mono photo.ppm >pnm-gray-rle.tga 2>/dev/null
pamtotga -cmap flat.ppm >pnm-map24-rle.tga 2>/dev/null
pamtotga -cmap16 flat.ppm >pnm-map15-rle.tga 2>/dev/null
pamtotga -cmap16 -norle flat.ppm >pnm-map15-raw.tga 2>/dev/null
for f in pnm-rgb-rle pnm-rgb-raw pnm-gray-rle pnm-map24-rle; do expect "$f.tga exact"; done
expect "pnm-map15-rle.tga top5"
expect "pnm-map15-raw.tga top5"

# Pillow: every mode it writes, raw and packed, both origins.
$py - <<'EOF'
from PIL import Image
photo = Image.open("photo.ppm")
flat = Image.open("flat.ppm")
modes = {
    "RGB": photo.convert("RGB"),
    "RGBA": photo.convert("RGBA"),
    "L": photo.convert("L"),
    "P": flat.convert("P", palette=Image.ADAPTIVE, colors=24),
}
with open("expect.txt", "a") as expect:
    for mode, picture in modes.items():
        if mode == "RGBA":
            alpha = Image.linear_gradient("L").resize(picture.size)
            picture.putalpha(alpha)
        for compression in (None, "tga_rle"):
            for orientation in (1, -1):
                name = "pil-%s-%s-%s.tga" % (mode, "rle" if compression else "raw", "top" if orientation == 1 else "bottom")
                options = {"orientation": orientation}
                if compression:
                    options["compression"] = compression
                picture.save(name, **options)
                expect.write(name + " exact\n")
    Image.new("RGB", (1, 1), (12, 34, 56)).save("pil-1x1-rle.tga", compression="tga_rle")
    expect.write("pil-1x1-rle.tga exact\n")
    # Grey with alpha (16-bit grey) and 1-bit grey are not Targa depths the
    # reader takes.
    photo.convert("LA").save("pil-LA.tga")
    expect.write("pil-LA.tga refuse Invalid color format in TGA file.\n")
    photo.convert("1").save("pil-1bit.tga")
    expect.write("pil-1bit.tga refuse Sample count per pixel does not correspond to the given color scheme.\n")
EOF

# Variants no tool writes.
$py "$here/make-variants.py" .
for f in v-rgb15-raw-bottom v-rgb15-raw-top v-rgb15-rle-bottom v-rgb15-rle-top \
         v-rgb16-raw-bottom v-rgb16-raw-top v-rgb16-rle-bottom v-rgb16-rle-top v-map16-long; do
  expect "$f.tga top5"
done
expect "v-map32-rle.tga rgb"
expect "v-map24-first10.tga exact"
expect "v-rgb24-id-rle.tga exact"
expect "v-gray-with-map.tga exact"

# References: ImageMagick, rows put top first (it keeps a Targa file's row
# order as an orientation tag). A grey image that carries a colour map is
# grey to Pillow, while ImageMagick applies the map, so Pillow decodes it.
while read -r name mode rest; do
  [ "$mode" = refuse ] && continue
  if [ "$name" = v-gray-with-map.tga ]; then
    $py -c "
from PIL import Image
g = Image.open('$name')
assert g.mode == 'L'
rgba = Image.merge('RGBA', (g, g, g, Image.new('L', g.size, 255)))
with open('${name%.tga}.pam', 'wb') as f:
    f.write(b'P7\\nWIDTH %d\\nHEIGHT %d\\nDEPTH 4\\nMAXVAL 255\\nTUPLTYPE RGB_ALPHA\\nENDHDR\\n' % g.size)
    f.write(rgba.tobytes())"
  else
    convert "$name" -auto-orient -depth 8 -type TrueColorAlpha "${name%.tga}.pam"
  fi
done <expect.txt
rm -f photo.ppm flat.ppm column.ppm
touch "$stamp"
