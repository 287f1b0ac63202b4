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
generator_start "$1" make-variants.py ../referencekit.py

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
pamtotga -mono photo.ppm >pnm-gray-rle.tga 2>/dev/null
pamtotga -cmap flat.ppm >pnm-map24-rle.tga 2>/dev/null
pamtotga -cmap16 flat.ppm >pnm-map15-rle.tga 2>/dev/null
pamtotga -cmap16 -norle flat.ppm >pnm-map15-raw.tga 2>/dev/null
for f in pnm-rgb-rle pnm-gray-rle pnm-map24-rle; do expect "$f.tga exact"; done
for f in pnm-map15-rle pnm-map15-raw; do expect "$f.tga top5"; done

# Pillow: every mode it writes, packed (ImageMagick's files cover raw data
# and both origins), and the depths the reader refuses: grey with alpha
# (16-bit grey) and 1-bit grey.
$py - <<'PY'
from PIL import Image
photo = Image.open("photo.ppm")
rgba = photo.convert("RGBA")
rgba.putalpha(Image.linear_gradient("L").resize(photo.size))
modes = {"RGB": photo, "RGBA": rgba, "L": photo.convert("L"),
         "P": Image.open("flat.ppm").convert("P", palette=Image.ADAPTIVE, colors=24)}
with open("expect.txt", "a") as expect:
    for mode, picture in modes.items():
        picture.save("pil-%s-rle-bottom.tga" % mode, compression="tga_rle", orientation=-1)
        expect.write("pil-%s-rle-bottom.tga exact\n" % mode)
    Image.new("RGB", (1, 1), (12, 34, 56)).save("pil-1x1-rle.tga", compression="tga_rle")
    expect.write("pil-1x1-rle.tga exact\n")
    photo.convert("LA").save("pil-LA.tga")
    expect.write("pil-LA.tga refuse Invalid color format in TGA file.\n")
    photo.convert("1").save("pil-1bit.tga")
    expect.write("pil-1bit.tga refuse Sample count per pixel does not correspond to the given color scheme.\n")
PY

# Variants no tool writes (with their lines in expect.txt).
$py "$here/make-variants.py" .

# References: ImageMagick, rows put top first (it keeps a Targa file's row
# order as an orientation tag). A grey image that carries a colour map is
# grey to Pillow, while ImageMagick applies the map, so Pillow decodes it.
PYTHONPATH="$here/.." $py - <<'PY'
import subprocess
from PIL import Image
from referencekit import write_pam
for line in open("expect.txt"):
    name, mode = line.split()[:2]
    if name == "v-gray-with-map.tga":
        grey = Image.open(name)
        assert grey.mode == "L"
        opaque = Image.new("L", grey.size, 255)
        write_pam(name, grey.size[0], grey.size[1], Image.merge("RGBA", (grey, grey, grey, opaque)).tobytes())
    elif mode != "refuse":
        subprocess.run(["convert", name, "-auto-orient", "-depth", "8", "-type", "TrueColorAlpha",
                        name[:-4] + ".pam"], check=True)
PY
rm -f photo.ppm flat.ppm column.ppm
touch "$stamp"
