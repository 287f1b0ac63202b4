#!/usr/bin/python3
"""Checks from outside that Streamline leaves what an animation shows as it was.

usage: bench/streamline-check.py [--count N] [--seed S] [--jobs J] [--decode PATH] [--keep DIR]

Makes N random animations (default 1000) from the seed S (default 1): small
screens of 1 x 1 to 8 x 8, 1 to 6 frames with global and now and then
local colour tables (colours repeated under other indices), transparent
indices, disposals 0 to 3 (now and then 4 to 7), delays, frames without a
control block, frames and whole pictures that show nothing, frames that
repeat what the screen shows, comments, and 0 to 2 loop blocks before any
frame. Each file is written by this script (a literal-only LZW coder) and
run through `quillarc-decode --streamline OPTION` for each option (crop,
merge, cleanup, colormap, reduce) and for all of them together. Before and
after are compared with tools that share no code with Quillarc:
  ImageMagick  `convert -coalesce`: every screen shown (RGBA, a transparent
               pixel's colour ignored; where no frame has drawn, and what
               disposal 2 clears, transparent) and its delay (%T); repeats
               of a screen kept once with their delays added up. It reads a
               copy of the file in which each image without a control block
               has one that says nothing: ImageMagick would give such an
               image the delay and disposal of the block before it
  giflib       `gifbuild -d`: the file reads, holds an image, the total of
               its delays, the loop counts in the order they stand
  gifsicle     `gifsicle --info`: the file reads, its loop count
A still picture (one screen) neither waits nor loops: for it only the
screen and the file's validity are compared. A comparison is the same when
every tool sees the same before and after. Prints per option the
comparisons that are the same and per tool those that differ; the files of
the first differences go to DIR (default: a temporary folder, named).
Runs J animations at a time (default: the processors this process may use).
Needs ImageMagick's convert, giflib-tools and gifsicle.
"""
import argparse
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
from multiprocessing import Pool

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "gif"))
import gifkit  # noqa: E402

OPTIONS = ["crop", "merge", "cleanup", "colormap", "reduce", "all"]
TOOLS = ["ImageMagick", "giflib", "gifsicle"]

# ------------------------------------------------------------ writing GIFs


def lzw_literal(indices, min_code):
    """Image data coding each index on its own, with a clear code before the
    decoder's table would make the codes wider: valid, if not small."""
    clear = 1 << min_code
    width = min_code + 1
    out = bytearray()
    acc = nbits = 0

    def put(code):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 255)
            acc >>= 8
            nbits -= 8

    put(clear)
    run = 0
    for v in indices:
        if run == clear - 3:
            put(clear)
            run = 0
        put(v)
        run += 1
    put(clear + 1)
    if nbits:
        out.append(acc & 255)
    data = bytearray([min_code])
    for i in range(0, len(out), 255):
        chunk = out[i:i + 255]
        data.append(len(chunk))
        data += chunk
    data.append(0)
    return bytes(data)


def table_bits(count):
    return max(1, (count - 1).bit_length())


def color_table(colors):
    bits = table_bits(len(colors))
    return b"".join(bytes(c) for c in colors) + b"\0" * 3 * ((1 << bits) - len(colors))


def control_block(delay, disposal, transparent):
    packed = (disposal << 2) | (transparent is not None)
    return b"!\xf9\x04" + struct.pack("<BHB", packed, delay, transparent or 0) + b"\0"


def loop_block(count):
    return b"!\xff\x0bNETSCAPE2.0\x03\x01" + struct.pack("<H", count) + b"\0"


def comment_block(text):
    return b"!\xfe" + bytes([len(text)]) + text + b"\0"


def random_animation(rng):
    """The file, and which of the cases worth counting it holds."""
    w, h = rng.randint(1, 8), rng.randint(1, 8)
    palette = [(0, 0, 0), (255, 255, 255), (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0)]

    def table():
        # Colours repeated under other indices, so that frames can repeat a
        # colour the screen shows with another index.
        return [rng.choice(palette) for _ in range(rng.choice([2, 3, 4, 6, 8]))]

    global_colors = table()
    out = bytearray(b"GIF89a")
    bits = table_bits(len(global_colors))
    out += struct.pack("<HHBBB", w, h, 0x80 | ((bits - 1) << 4) | (bits - 1), rng.randrange(len(global_colors)), 0)
    out += color_table(global_colors)
    count = rng.randint(1, 6)
    blank_picture = rng.random() < 0.1
    loops = {}
    for _ in range(rng.choice([0, 0, 1, 1, 2])):
        loops.setdefault(rng.randrange(count), []).append(rng.choice([0, 1, 2, 3]))
    screen = [0] * (w * h)  # a rough guess of what shows, to repeat it
    cases = set()
    if blank_picture:
        cases.add("pictures that show nothing")
    if any(f > 0 for f in loops):
        cases.add("loop blocks before a later frame")
    for f in range(count):
        local = table() if rng.random() < 0.15 else None
        colors = local or global_colors
        left, top = rng.randrange(w), rng.randrange(h)
        fw, fh = rng.randint(1, w - left), rng.randint(1, h - top)
        blank = blank_picture or rng.random() < 0.2
        transparent = rng.randrange(len(colors)) if blank or rng.random() < 0.6 else None
        disposal = rng.choice([0, 0, 1, 2, 3]) if rng.random() < 0.95 else rng.randint(4, 7)
        delay = rng.choice([0, 0, 1, 5, 10, 37])
        edge = rng.random() < 0.5
        if blank and f == 0 and not blank_picture:
            cases.add("first frames that show nothing")
        pixels = []
        for y in range(top, top + fh):
            for x in range(left, left + fw):
                v = screen[y * w + x] if rng.random() < 0.6 else rng.randrange(len(colors))
                v = min(v, len(colors) - 1)
                if transparent is not None and (blank or (edge and (x == left or y == top))):
                    v = transparent
                pixels.append(v)
                if v != transparent:
                    screen[y * w + x] = v
        for n in loops.get(f, []):
            out += loop_block(n)
        if rng.random() < 0.1:
            out += comment_block(b"frame %d" % f)
        if transparent is not None or disposal or delay or rng.random() < 0.3:
            out += control_block(delay, disposal, transparent)
        else:
            cases.add("frames without a control block")
        packed = 0
        if local:
            packed = 0x80 | (table_bits(len(local)) - 1)
        out += b"," + struct.pack("<HHHHB", left, top, fw, fh, packed)
        if local:
            out += color_table(local)
        out += lzw_literal(pixels, max(2, table_bits(len(colors))))
    out += b";"
    return bytes(out), cases


# ------------------------------------------------------------ what the tools see


def run(command):
    return subprocess.run(command, capture_output=True)


def with_control_blocks(data):
    """The file with a control block saying nothing (delay 0, disposal 0, no
    transparent colour) before each image that has none, or None when it
    cannot be walked. ImageMagick (6.9) carries a control block's delay and
    disposal on to the images after it that have none; the file format
    gives a block only the image after it, as browsers, giflib and gifsicle
    read it."""
    try:
        head, blocks, tail = gifkit.parse(data)
    except (IndexError, SystemExit):
        return None
    out, seen = [], False
    for block in blocks:
        if block[0] == "ext":
            seen |= block[1][1] == 0xF9
        else:
            if not seen:
                out.append(("raw", control_block(0, 0, None), None))
            seen = False
        out.append(block)
    return gifkit.join(head, out, tail)


def imagemagick_view(path, scratch):
    """(screens, delays) with repeats of a screen kept once, or None."""
    data = with_control_blocks(open(path, "rb").read())
    if data is None:
        return None
    path = scratch + ".gif"
    with open(path, "wb") as f:
        f.write(data)
    raw = scratch + ".rgba"
    # Where no frame has drawn, the screen is transparent, as browsers show
    # it (ImageMagick would take the background colour when frame 0 has no
    # transparent colour, which an unused transparent index changes).
    r = run(["convert", path, "-alpha", "set", "-background", "none", "-coalesce", "-format", "%T %w %h\n",
             "-identify", "-depth", "8", "rgba:" + raw])
    if r.returncode != 0 or not os.path.exists(raw):
        return None
    frames = [tuple(map(int, line.split())) for line in r.stdout.decode().split("\n") if line.strip()]
    data = open(raw, "rb").read()
    os.remove(raw)
    screens, delays, at = [], [], 0
    for delay, fw, fh in frames:
        size = fw * fh * 4
        pixels = bytearray(data[at:at + size])
        at += size
        for i in range(0, size, 4):
            if pixels[i + 3] == 0:
                pixels[i:i + 4] = b"\0\0\0\0"
        if not screens or screens[-1] != pixels:
            screens.append(bytes(pixels))
            delays.append(0)
        delays[-1] += delay
    return screens, delays


def giflib_view(path):
    """(total delay, loop counts in file order), or None when unreadable or
    without an image."""
    r = run(["gifbuild", "-d", path])
    text = r.stdout.decode(errors="replace")
    if r.returncode != 0 or not re.search(r"^image # ", text, re.M):
        return None
    delay = sum(int(d) for d in re.findall(r"^\s*delay (\d+)", text, re.M))
    loops = [int(n) for n in re.findall(r"^netscape loop (\d+)", text, re.M)]
    return delay, loops


def gifsicle_view(path):
    """The loop count (0 forever, None without one), or "unreadable"."""
    r = run(["gifsicle", "--info", path])
    text = r.stdout.decode(errors="replace")
    if r.returncode != 0 or "image #0" not in text:
        return "unreadable"
    if "loop forever" in text:
        return 0
    m = re.search(r"loop count (\d+)", text)
    return int(m.group(1)) if m else None


def view(path, scratch):
    im = imagemagick_view(path, scratch)
    lib = giflib_view(path)
    sicle = gifsicle_view(path)
    # A still picture neither waits nor loops.
    if im is not None and len(im[0]) == 1:
        im = (im[0], [0])
        lib = lib and (0, [])
        sicle = sicle if sicle == "unreadable" else None
    return {"ImageMagick": im, "giflib": lib, "gifsicle": sicle}


# ------------------------------------------------------------ the check


def unreadable(tool, seen):
    return seen == "unreadable" if tool == "gifsicle" else seen is None


def check(job):
    seed, index, decode, work = job
    rng = random.Random(f"{seed}/{index}")
    folder = os.path.join(work, f"a{index}")
    os.makedirs(folder, exist_ok=True)
    before_file = os.path.join(folder, "before.gif")
    data, cases = random_animation(rng)
    with open(before_file, "wb") as f:
        f.write(data)
    before = view(before_file, os.path.join(folder, "s"))
    bad_input = [t for t in TOOLS if unreadable(t, before[t])]
    results = {}
    for option in OPTIONS:
        after_file = os.path.join(folder, f"{option}.gif")
        r = run([decode, "--streamline", option, before_file, after_file])
        if r.returncode != 0:
            results[option] = ["quillarc-decode: " + r.stderr.decode(errors="replace").strip().split("\n")[0]]
            continue
        after = view(after_file, os.path.join(folder, "s"))
        results[option] = [t for t in TOOLS if after[t] != before[t]]
    if not bad_input and not any(results.values()):
        shutil.rmtree(folder)
    return index, cases, bad_input, results


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--jobs", type=int, default=len(os.sched_getaffinity(0)))
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--decode", default=os.path.join(here, "..", "build", "release", "bench", "quillarc-decode"))
    parser.add_argument("--keep")
    a = parser.parse_args()
    for tool in ["convert", "gifbuild", "gifsicle", a.decode]:
        if shutil.which(tool) is None:
            sys.exit(f"streamline-check: {tool} not found")
    work = a.keep or tempfile.mkdtemp(prefix="streamline-check-")
    os.makedirs(work, exist_ok=True)
    jobs = [(a.seed, i, os.path.abspath(a.decode), work) for i in range(a.count)]
    same = {o: 0 for o in OPTIONS}
    differ = {o: {} for o in OPTIONS}
    examples, bad_inputs, cases = [], 0, {}
    with Pool(a.jobs) as pool:
        for index, held, bad_input, results in pool.imap_unordered(check, jobs, chunksize=4):
            for case in held:
                cases[case] = cases.get(case, 0) + 1
            if bad_input:
                bad_inputs += 1
                examples.append(f"a{index}/before.gif: not read by {', '.join(bad_input)}")
            for option, tools in results.items():
                if not tools:
                    same[option] += 1
                for t in tools:
                    differ[option][t] = differ[option].get(t, 0) + 1
                if tools:
                    examples.append(f"a{index}/{option}.gif: differs for {', '.join(tools)}")
    print(f"seed {a.seed}, {a.count} animations, {a.jobs} at a time; among them")
    for case, n in sorted(cases.items()):
        print(f"  {n:5} with {case}")
    for option in OPTIONS:
        tools = ", ".join(f"{t} {n}" for t, n in sorted(differ[option].items())) or "none"
        print(f"  {option:8}  same {same[option]} of {a.count}; differ: {tools}")
    total = sum(same.values())
    print(f"all options: same {total} of {a.count * len(OPTIONS)}; unreadable inputs: {bad_inputs}")
    for line in sorted(examples)[:20]:
        print("  " + line)
    if examples:
        print(f"files of the differences kept in {work}")
    elif not a.keep:
        shutil.rmtree(work)
    return 1 if examples else 0


if __name__ == "__main__":
    sys.exit(main())
