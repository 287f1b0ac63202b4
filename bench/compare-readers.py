#!/usr/bin/python3
"""Times the raster readers against independent decoders, side by side.

usage: bench/compare-readers.py [--repeat N] [--rounds R] [--cpu C] [--work DIR] [--decode PATH] FAMILY...

For each family the 4000 x 3000 benchmark photograph is stored in the
family's variants (raw, run-length, ...) and each file is decoded N times
(default 5) by:
  quillarc  quillarc-decode --repeat N (load through the picture registry,
            the bitmap handed over, timed in-process)
  Pillow    Image.open + load, timed in-process
  IM        ImageMagick's convert FILE null:, the whole process
  netpbm    the family's netpbm converter to /dev/null, the whole process
The four take turns, R rounds (default 3) per file, all on the one
processor C (default 1; taskset). Each cell is the median over the rounds
of each round's median, with megapixels per second. The two in-process
decoders also show, in brackets, their first load in a fresh process, when
no memory of an earlier load can be reused. Quillarc's peak resident
memory is given per pixel, and Pillow's from its fresh process (the
interpreter's own included). The table is Markdown, with the load average
before and after. With FIGURES_SUMMARY set, each variant also adds a row
for bench/figures.sh's summary: Quillarc beside the first reference that
read the file.

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


def pinned(command, cpu):
    return ["taskset", "-c", str(cpu), *command]


def time_process(command, repeat, cpu):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        subprocess.run(pinned(command, cpu), check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
    return median_of(times)


PILLOW_FIRST_LOAD = """
import sys, time
from PIL import Image
start = time.perf_counter()
with Image.open(sys.argv[1]) as im:
    im.load()
# This process's own high-water mark (getrusage's would keep the parent's across the exec).
peak = next(int(line.split()[1]) for line in open("/proc/self/status") if line.startswith("VmHWM:"))
print(time.perf_counter() - start, peak * 1024 / (im.width * im.height))
"""


def time_pillow(path, repeat, cpu):
    """(median of repeated loads after a first one, first load in a fresh process, its peak bytes per pixel)"""
    first, peak = map(float, subprocess.run(pinned([sys.executable, "-c", PILLOW_FIRST_LOAD, path], cpu), check=True,
                                            capture_output=True, text=True).stdout.split())
    times = []
    for i in range(repeat + 1):
        start = time.perf_counter()
        with Image.open(path) as im:
            im.load()
        if i > 0:
            times.append(time.perf_counter() - start)
    return median_of(times), first, peak


def time_quillarc(decode, path, work, repeat, cpu):
    """(median of repeated loads, first load in a fresh process, peak bytes per pixel)"""
    def run(count):
        result = subprocess.run(pinned([decode, "--repeat", str(count), path, os.path.join(work, "out.bmp")], cpu),
                                check=True, capture_output=True, text=True)
        peak = float(re.search(r"\(([0-9.]+) bytes per pixel\)", result.stdout).group(1))
        return float(re.search(r"median time: ([0-9.]+) s", result.stdout).group(1)), peak
    (repeated, peak), (first, _) = run(repeat), run(1)
    return repeated, first, peak


REFERENCES = ["Pillow", "ImageMagick (whole process)", "netpbm (whole process)"]
NAMES = {"targa": "Targa", "pnm": "portable map", "sgi": "SGI", "pcx": "PCX", "autodesk": "Autodesk",
         "cut": "Dr. Halo", "rla": "Alias/Wavefront", "psd": "Photoshop", "psp": "Paintshop Pro", "png": "PNG"}


def summarise(family, variant, seconds, peaks):
    """The row for figures.sh's summary table: Quillarc beside the first
    reference that read the file (Pillow, then netpbm, then ImageMagick)."""
    summary = os.environ.get("FIGURES_SUMMARY")
    if not summary or seconds[0] is None:
        return
    name = "%s %s" % (NAMES[family], variant)
    i = next((i for i in (1, 3, 2) if seconds[i] is not None), None)
    peak = lambda p: "-" if p is None else "%.1f" % p
    with open(summary, "a") as f:
        if i is None:
            f.write("| %s | none reads it | %.3f s / - | - | - / - | - | %s / - |\n" % (name, seconds[0], peak(peaks[0])))
        else:
            f.write("| %s | %s | %.3f s / %.3f s | %.2f | - / - | - | %s / %s |\n"
                    % (name, REFERENCES[i - 1], seconds[0], seconds[i], seconds[0] / seconds[i], peak(peaks[0]),
                       peak(peaks[i])))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--cpu", type=int, default=1)
    parser.add_argument("--work", default="/tmp/quillarc-compare")
    parser.add_argument("--decode", default=os.path.join(HERE, "..", "build", "release", "bench", "quillarc-decode"))
    parser.add_argument("families", nargs="+", choices=sorted(FAMILIES))
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    ppm = os.path.join(args.work, "photo-%dx%d.ppm" % (WIDTH, HEIGHT))
    if not os.path.exists(ppm):
        subprocess.run(["convert", PHOTO, "-resize", "%dx%d!" % (WIDTH, HEIGHT), ppm], check=True)
    os.sched_setaffinity(0, {args.cpu})  # Pillow's loads run in this process
    megapixels = WIDTH * HEIGHT / 1e6
    load_before = os.getloadavg()[0]
    rows = []
    for family in args.families:
        spec = FAMILIES[family]
        for variant, (extension, make) in spec["variants"].items():
            path = os.path.join(args.work, "%s-%s.%s" % (family, re.sub(r"\W+", "-", variant), extension))
            if not os.path.exists(path):
                make(ppm, path)
            runs = [lambda: time_quillarc(args.decode, path, args.work, args.repeat, args.cpu),
                    (lambda: time_pillow(path, args.repeat, args.cpu)) if spec.get("pillow", True) else None,
                    lambda: time_process(["convert", path, "null:"], args.repeat, args.cpu),
                    (lambda: time_process(spec["netpbm"] + [path], args.repeat, args.cpu)) if spec["netpbm"] else None]
            results = [[] for _ in runs]
            for _ in range(args.rounds):
                for i, run in enumerate(runs):
                    if run is None or results[i] is None:
                        continue
                    try:
                        results[i].append(run())
                    except (subprocess.CalledProcessError, OSError, ValueError) as error:
                        results[i] = None
                        print("  %s, %s: %s" % (family, variant, error), file=sys.stderr)
            cells, seconds, peaks = [], [None] * len(runs), [None] * len(runs)
            for i, got in enumerate(results):
                if runs[i] is None:
                    cells.append("-")
                elif got is None:
                    cells.append("failed")
                elif isinstance(got[0], tuple):
                    seconds[i], peaks[i] = median_of([g[0] for g in got]), max(g[2] for g in got)
                    cells.append("%.3f s (%.3f s), %.0f MP/s" % (seconds[i], median_of([g[1] for g in got]),
                                                                 megapixels / seconds[i]))
                else:
                    seconds[i] = median_of(got)
                    cells.append("%.3f s, %.0f MP/s" % (seconds[i], megapixels / seconds[i]))
            peak = "-" if peaks[0] is None else "%.1f bytes/pixel" % peaks[0]
            rows.append("| %s | %s | %.1f | %s | %s | %s | %s | %s |" % (family, variant, os.path.getsize(path) / 1e6,
                                                                      cells[0], peak, *cells[1:]))
            summarise(family, variant, seconds, peaks)
    print("One processor (CPU %d), medians of %d rounds of %d loads; load average %.1f before, %.1f after"
          % (args.cpu, args.rounds, args.repeat, load_before, os.getloadavg()[0]))
    print()
    print("| family | variant | MB | Quillarc | Quillarc peak | Pillow | ImageMagick | netpbm |")
    print("|---|---|---|---|---|---|---|---|")
    for row in rows:
        print(row)


if __name__ == "__main__":
    main()
