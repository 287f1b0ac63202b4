#!/usr/bin/python3
"""Times the raster readers against independent decoders, side by side.

usage: bench/compare-readers.py [--repeat N] [--work DIR] [--decode PATH] FAMILY...

For each family the 4000 x 3000 benchmark photograph is stored in the
family's variants (raw, run-length, ...) and each file is decoded N times
(default 5) by:
  quillarc  quillarc-decode --repeat N (load through the picture registry,
            then a bitmap assignment, timed in-process)
  Pillow    Image.open + load, timed in-process
  IM        ImageMagick's convert FILE null:, the whole process
  netpbm    the family's netpbm converter to /dev/null, the whole process
Each cell is the median with megapixels per second. The two in-process
decoders also show, in brackets, their first load in a fresh process, when
no memory of an earlier load can be reused.

A family is one entry of FAMILIES: how to write each variant (from a PPM of
the photograph) and which netpbm command reads it ("-" where netpbm, or
Pillow, has no reader for the format).
"""
import argparse
import os
import re
import statistics
import struct
import subprocess
import sys
import time

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
PHOTO = os.path.join(HERE, "..", "..", "shared", "photos", "seeding-5312x2988.jpg")
WIDTH, HEIGHT = 4000, 3000


def convert(*options):
    """A variant written by ImageMagick from the photograph's PPM."""
    def make(ppm, out):
        subprocess.run(["convert", ppm, *options, out], check=True)
    return make


def autodesk(ppm, out):
    """An Autodesk cel file, which no tool writes: 256 colours, 6 bits per
    channel in the map."""
    picture = Image.open(ppm).quantize(256, dither=Image.Dither.NONE)
    palette = bytes(v >> 2 for v in picture.getpalette()[:768]).ljust(768, b"\0")
    header = struct.pack("<HHHIH20s", 0x9119, picture.width, picture.height, 0, 8, bytes(20))
    with open(out, "wb") as f:
        f.write(header + palette + picture.tobytes())


def generator(script, *options):
    """A variant written by one of the test-file generators (formats no tool writes)."""
    def make(ppm, out):
        subprocess.run([sys.executable, os.path.join(HERE, "..", "tests", "data", script), "--from", ppm, out,
                        *options], check=True)
    return make


def with_alpha(*options):
    """A variant with an alpha gradient across the picture."""
    def make(ppm, out):
        subprocess.run(["convert", ppm, "(", "+clone", "-fx", "(i+j)/(w+h)", "-colorspace", "gray", ")", "-alpha", "off",
                        "-compose", "CopyOpacity", "-composite", *options[:-1], options[-1] + out], check=True)
    return make


FAMILIES = {
    "targa": {
        "variants": {
            "24-bit raw": ("tga", convert("-type", "TrueColor", "-compress", "None")),
            "24-bit RLE": ("tga", convert("-type", "TrueColor", "-compress", "RLE")),
        },
        "netpbm": ["tgatoppm"],
    },
    "pnm": {
        "variants": {
            "24-bit raw": ("ppm", convert()),
            "24-bit plain": ("ppm", convert("-depth", "8", "-compress", "none")),
        },
        "netpbm": ["pamtopnm"],
    },
    "sgi": {
        "variants": {
            "24-bit raw": ("sgi", convert("-compress", "None")),
            "24-bit RLE": ("sgi", convert("-compress", "RLE")),
        },
        "netpbm": ["sgitopnm"],
    },
    "pcx": {
        "variants": {
            "24-bit raw": ("pcx", convert("-compress", "None")),
            "24-bit RLE": ("pcx", convert("-compress", "RLE")),
            "8-bit RLE": ("pcx", convert("+dither", "-colors", "256", "-type", "Palette")),
        },
        "netpbm": ["pcxtoppm"],
    },
    "autodesk": {
        "variants": {
            "8-bit": ("cel", autodesk),
        },
        "netpbm": None,
    },
    "cut": {
        "variants": {"8-bit RLE": ("cut", generator("cut/make-cut.py"))},
        "netpbm": None,
        "pillow": False,
    },
    "rla": {
        "variants": {"24-bit RLE": ("rla", generator("rla/make-rla.py"))},
        "netpbm": None,
        "pillow": False,
    },
    "psd": {
        "variants": {
            "RGB raw": ("psd", convert("-compress", "None")),
            "RGB RLE": ("psd", convert("-compress", "RLE")),
        },
        "netpbm": None,
    },
    "psp": {
        "variants": {
            "24-bit deflate": ("psp", generator("psp/make-files.py", "deflate")),
            "24-bit RLE": ("psp", generator("psp/make-files.py", "rle")),
        },
        "netpbm": None,
        "pillow": False,
    },
    "png": {
        "variants": {
            "RGB level 6": ("png", convert("-define", "png:compression-level=6")),
            "RGBA level 6": ("png", with_alpha("-define", "png:compression-level=6", "PNG32:")),
        },
        "netpbm": ["pngtopam"],
    },
}


def median_of(times):
    return statistics.median(times)


def time_process(command, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return median_of(times)


PILLOW_FIRST_LOAD = """
import sys, time
from PIL import Image
start = time.perf_counter()
with Image.open(sys.argv[1]) as im:
    im.load()
print(time.perf_counter() - start)
"""


def time_pillow(path, repeat):
    """(median of repeated loads after a first one, first load in a fresh process)"""
    first = float(subprocess.run([sys.executable, "-c", PILLOW_FIRST_LOAD, path], check=True,
                                 capture_output=True, text=True).stdout)
    times = []
    for i in range(repeat + 1):
        start = time.perf_counter()
        with Image.open(path) as im:
            im.load()
        if i > 0:
            times.append(time.perf_counter() - start)
    return median_of(times), first


def time_quillarc(decode, path, work, repeat):
    """(median of repeated loads, first load in a fresh process)"""
    def run(count):
        result = subprocess.run([decode, "--repeat", str(count), path, os.path.join(work, "out.pam")],
                                check=True, capture_output=True, text=True)
        return float(re.search(r"median time: ([0-9.]+) s", result.stdout).group(1))
    return run(repeat), run(1)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--work", default="/tmp/quillarc-compare")
    parser.add_argument("--decode", default=os.path.join(HERE, "..", "build", "release", "bench", "quillarc-decode"))
    parser.add_argument("families", nargs="+", choices=sorted(FAMILIES))
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    ppm = os.path.join(args.work, "photo-%dx%d.ppm" % (WIDTH, HEIGHT))
    if not os.path.exists(ppm):
        subprocess.run(["convert", PHOTO, "-resize", "%dx%d!" % (WIDTH, HEIGHT), ppm], check=True)
    megapixels = WIDTH * HEIGHT / 1e6
    print("%-8s %-12s %6s   %-26s %-26s %-16s %-16s" % ("family", "variant", "MB", "quillarc", "Pillow", "IM", "netpbm"))
    for family in args.families:
        spec = FAMILIES[family]
        for variant, (extension, make) in spec["variants"].items():
            path = os.path.join(args.work, "%s-%s.%s" % (family, re.sub(r"\W+", "-", variant), extension))
            if not os.path.exists(path):
                make(ppm, path)
            cells = []
            for run in (lambda: time_quillarc(args.decode, path, args.work, args.repeat),
                        lambda: time_pillow(path, args.repeat) if spec.get("pillow", True) else "-",
                        lambda: time_process(["convert", path, "null:"], args.repeat),
                        lambda: time_process(spec["netpbm"] + [path], args.repeat) if spec["netpbm"] else "-"):
                try:
                    seconds = run()
                    if seconds == "-":
                        cells.append("-")
                    elif isinstance(seconds, tuple):
                        cells.append("%.3f s %4.0f MP/s (%.3f)" % (seconds[0], megapixels / seconds[0], seconds[1]))
                    else:
                        cells.append("%.3f s %4.0f MP/s" % (seconds, megapixels / seconds))
                except (subprocess.CalledProcessError, OSError, ValueError) as error:
                    cells.append("failed")
                    print("  %s: %s" % (variant, error), file=sys.stderr)
            print("%-8s %-12s %6.1f   %-26s %-26s %-16s %-16s" % (family, variant, os.path.getsize(path) / 1e6, *cells))


if __name__ == "__main__":
    main()
