#!/bin/sh
# Makes the Alias/Wavefront test files: make-rla.py lays down its cases by
# hand, and OpenImageIO's oiiotool writes 8- and 16-bit RGB and RGBA files.
# oiiotool is the independent decoder: X.pam beside each file it reads is
# its decode (RGBA, rows top first, 16-bit samples narrowed as the reader
# does, floor(v x 255 / 65535); grey with a matte read as grey). Files it
# does not read (bottom above top, damaged records) keep the generator's
# own picture. oiiotool's sources are TIFF files, which carry no gamma: it
# writes a PNG's gamma into its files, which the reader then applies.
# usage: make-files.sh OUTDIR
. "$(dirname "$0")/../generator-start.sh"
generator_start "$1" make-rla.py ../referencekit.py
convert "$sample" -crop 61x47+100+120 +repage photo.ppm
"$py" "$here/make-rla.py" . photo.ppm
convert photo.ppm -alpha set -channel A -fx "(i+j)/(w+h)" +channel rgba.tif
convert photo.ppm -depth 16 -blur 0x0.8 -alpha set -channel A -fx "(i*3+j)/(3*w+h)" +channel rgba16.tif
oiiotool photo.ppm -d uint8 -o oiio-rgb8.rla
oiiotool rgba.tif -d uint8 -o oiio-rgba8.rla
oiiotool rgba16.tif --ch R,G,B -d uint16 -o oiio-rgb16.rla
oiiotool rgba16.tif -d uint16 -o oiio-rgba16.rla
for f in oiio-rgb8 oiio-rgba8 oiio-rgb16 oiio-rgba16; do echo "$f.rla exact" >>expect.txt; done

PYTHONPATH="$here/.." "$py" - <<'PY'
import re
import subprocess
from referencekit import write_pam
unread = []
for line in open("expect.txt"):
    name, mode = line.split()[:2]
    if mode != "exact":
        continue
    run = subprocess.run(["oiiotool", "--dumpdata", name], capture_output=True, text=True)
    head = run.stdout.split("\n", 1)[0]
    width, height = map(int, re.search(r"(-?\d+) x\s+(-?\d+)", head).groups())
    if run.returncode != 0 or width <= 0 or height <= 0:
        unread.append(name)
        continue
    rgba = []
    for pixel in re.findall(r"Pixel \(-?\d+, -?\d+\): ([\d ]+?) \(", run.stdout):
        s = [int(v) for v in pixel.split()]
        if "uint16" in head:
            s = [v * 255 // 65535 for v in s]
        rgba += [s[0]] * 3 + [255] if len(s) < 3 else s[:3] + [s[3] if len(s) > 3 else 255]
    if len(rgba) != 4 * width * height:
        unread.append(name)
        continue
    write_pam(name, width, height, rgba)
# The generator's own pictures stand only where oiiotool gives up.
assert sorted(unread) == ["damaged.rla", "top-first.rla"], unread
PY
rm -f photo.ppm rgba.tif rgba16.tif
touch "$stamp"
