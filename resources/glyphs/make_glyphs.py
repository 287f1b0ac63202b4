#!/usr/bin/env python3
"""Draws the toolbar and button glyphs (XPM) and the program icon (PNG).

Run from anywhere: python3 resources/glyphs/make_glyphs.py
The glyphs are pixel art kept here as text, so they can be touched up by
hand and regenerated; the outputs are committed beside this script.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

COLOURS = {
    '.': None,
    'k': (0x20, 0x20, 0x20),   # outline
    'g': (0x50, 0x50, 0x50),
    'm': (0x90, 0x90, 0x90),
    'l': (0xC8, 0xC8, 0xC8),
    'w': (0xFF, 0xFF, 0xFF),
    'e': (0xFF, 0xF6, 0xD8),   # paper
    'y': (0xF8, 0xD0, 0x50),   # folder front, pencil body
    'Y': (0xC8, 0x98, 0x30),   # folder back
    'b': (0x30, 0x70, 0xD0),
    'B': (0x18, 0x40, 0x90),
    'c': (0x90, 0xC0, 0xF0),
    'r': (0xE0, 0x50, 0x40),
    'p': (0xF0, 0xA0, 0xA0),   # eraser
    'G': (0x30, 0xA8, 0x40),
    'D': (0x18, 0x70, 0x28),
    'o': (0xF0, 0x90, 0x20),
    'n': (0xE8, 0xC0, 0x80),   # wood
    'N': (0x90, 0x60, 0x30),
    'v': (0x90, 0x40, 0xC0),
}

GLYPHS = {}

GLYPHS['open'] = """
................
................
.kkkkk..........
kYYYYYk.........
kYYYYYYkkkkkkk..
kYYYYYYYYYYYYk..
kYYYYYYYYYYYYk..
kYYYkkkkkkkkkkkk
kYYkyyyyyyyyyyyk
kYkyyyyyyyyyyyk.
kYkyyyyyyyyyyyk.
kkyyyyyyyyyyyk..
kkyyyyyyyyyyyk..
kkkkkkkkkkkkk...
................
................
"""

GLYPHS['save'] = """
kkkkkkkkkkkkkkk.
kBBkllllllgllkBk
kBBkllllllgllkBk
kBBkllllllgllkBk
kBBklllllllllkBk
kBBBkkkkkkkkkBBk
kBBBBBBBBBBBBBBk
kBBBBBBBBBBBBBBk
kBBwwwwwwwwwwBBk
kBBwmmmmmmmmwBBk
kBBwwwwwwwwwwBBk
kBBwmmmmmmmmwBBk
kBBwwwwwwwwwwBBk
kBBwwwwwwwwwwBBk
kBBwwwwwwwwwwBBk
kkkkkkkkkkkkkkkk
"""

GLYPHS['print'] = """
................
....kkkkkkkk....
....kwwwwwwk....
....kwmmmmwk....
....kwwwwwwk....
..kkkkkkkkkkkk..
.kllllllllllllk.
kllllllllllGGllk
kllllllllllllllk
kmmmmmmmmmmmmmmk
kmmkkkkkkkkkkmmk
kmmkwwwwwwwwkmmk
.kkkwmmmmmmwkkk.
...kwwwwwwwwk...
...kkkkkkkkkk...
................
"""

GLYPHS['mail'] = """
................
................
................
kkkkkkkkkkkkkkkk
kkeeeeeeeeeeeekk
kekeeeeeeeeeekek
keekeeeeeeeekeek
keeekeeeeeekeeek
keeeekeeeekeeeek
keeeeekkkkeeeeek
keeeeeeeeeeeeeek
keeeeeeeeeeeeeek
keeeeeeeeeeeeeek
kkkkkkkkkkkkkkkk
................
................
"""

GLYPHS['online'] = """
.....kkkkkk.....
...kkbbGGbbkk...
..kbbGGGGbbbbk..
.kbcGGGGGbbGGbk.
.kbcbGGGbbbGGbk.
kbcbbbGGbbbbbbbk
kbbbbbGGGbbbbbbk
kbbGbbbGGbbbbbbk
kbGGGbbbbbbGGbbk
kbGGGGbbbbGGGGbk
kbbGGGbbbbGGGbbk
.kbbGGbbbbbGbbk.
.kbbbGbbbbbbbbk.
..kbbbbbbbbbbk..
...kkbbbbbbkk...
.....kkkkkk.....
"""

GLYPHS['professional'] = """
................
.....kkkkkk.....
...kknnnnnnkk...
..knnrrnnnGGnk..
.knnrrrnnGGGnnk.
.knnnrnnnnGnnnk.
knbbnnnnnnnnyynk
knbbbnnnnnnyyynk
knnbnnnkkknnynk.
knnnnnk...knnk..
knoonnk...kkk...
knooonnk........
.knonnnnkkkk....
.knnnvvnnnnnk...
..kknvvvnnkk....
....kkkkkk......
"""

GLYPHS['done'] = """
....................
....................
...................D
.................DGD
................DGGD
...............DGGD.
..............DGGD..
.............DGGD...
..D.........DGGD....
.DGD.......DGGD.....
DGGGD.....DGGD......
.DGGGD...DGGD.......
..DGGGD.DGGD........
...DGGGDGGD.........
....DGGGGD..........
.....DGGD...........
......DD............
....................
....................
....................
"""

GLYPHS['batch'] = """
......kkkkkkkkkkkkkk
......kwwwwwwwwwwwwk
......kwccccccccccwk
...kkkkkkkkkkkkkkcwk
...kwwwwwwwwwwwwkcwk
...kwccccccccccwkcwk
kkkkkkkkkkkkkkcwkGwk
kwwwwwwwwwwwwkcwkGwk
kwccccccccccwkcwkwwk
kwccccyycccckGwkkkkk
kwccccyycccckGwk....
kwccccccccccwkwk....
kwcGGccccccckkkk....
kwGGGGcccGGcwk......
kwGGGGGGGGGGwk......
kwGGGGGGGGGGwk......
kwwwwwwwwwwwwk......
kkkkkkkkkkkkkk......
....................
....................
"""


def pencil(size):
    """A yellow pencil lying from bottom-left (tip) to top-right (eraser)."""
    rows = [['.'] * size for _ in range(size)]
    c = size - 1  # the band's centre line: x + y == c
    for y in range(size):
        for x in range(size):
            s = x + y - c       # across the pencil
            t = x - y           # along it, -c (tip) .. c (eraser)
            if abs(s) > 2:
                continue
            if t < -c + 2:
                continue
            edge = abs(s) == 2
            if t < -c + 5:
                ch = 'k' if (edge or t < -c + 4) else 'n'
            elif t < -c + 8:
                ch = 'k' if edge else 'n'
            elif t < c - 7:
                ch = 'k' if edge else ('Y' if s == 1 else 'y')
            elif t < c - 4:
                ch = 'k' if edge else 'm'
            elif t < c - 1:
                ch = 'k' if edge else 'p'
            elif t == c - 1 or t == c:
                ch = 'k'
            else:
                continue
            rows[y][x] = ch
    return '\n'.join(''.join(r) for r in rows)


GLYPHS['standard'] = pencil(16)


def parse(art):
    lines = [l for l in art.strip('\n').split('\n')]
    w = len(lines[0])
    for i, l in enumerate(lines):
        if len(l) != w:
            raise SystemExit('row %d is %d wide, not %d' % (i, len(l), w))
    return lines


def write_xpm(name, lines):
    used = sorted(set(''.join(lines)))
    out = ['/* XPM */', 'static const char *%s[] = {' % name,
           '"%d %d %d 1",' % (len(lines[0]), len(lines), len(used))]
    for ch in used:
        rgb = COLOURS[ch]
        out.append('"%s c %s",' % (ch, 'None' if rgb is None else '#%02X%02X%02X' % rgb))
    out += ['"%s",' % l for l in lines[:-1]] + ['"%s"' % lines[-1], '};', '']
    with open(os.path.join(HERE, name + '.xpm'), 'w') as f:
        f.write('\n'.join(out))


def write_png(path, pixels):
    h = len(pixels)
    w = len(pixels[0])
    raw = b''.join(b'\0' + b''.join(struct.pack('BBBB', *p) for p in row) for row in pixels)

    def chunk(tag, data):
        return struct.pack('>I', len(data)) + tag + data + struct.pack('>I', zlib.crc32(tag + data))

    png = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 6, 0, 0, 0))
           + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))
    with open(path, 'wb') as f:
        f.write(png)


def icon(size=32):
    """A framed landscape sketch with a pencil across its corner."""
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]

    def put(x, y, rgb):
        if 0 <= x < size and 0 <= y < size:
            px[y][x] = rgb + (255,)

    # frame and picture: sky, sun, hills
    for y in range(2, 26):
        for x in range(1, 27):
            if x in (1, 26) or y in (2, 25):
                put(x, y, (0x30, 0x30, 0x30))
            elif x in (2, 25) or y in (3, 24):
                put(x, y, (0xF8, 0xF8, 0xF0))
            else:
                hill = 15 + ((x - 9) ** 2) // 12
                hill2 = 18 + ((x - 20) ** 2) // 8
                if y >= hill or y >= hill2:
                    green = (0x40, 0xA0, 0x40) if y >= hill2 else (0x60, 0xB8, 0x50)
                    put(x, y, green)
                elif (x - 8) ** 2 + (y - 8) ** 2 <= 9:
                    put(x, y, (0xF8, 0xC8, 0x30))
                else:
                    put(x, y, (0xA6, 0xCA, 0xF0))
    # pencil strokes over the hills
    for x in range(5, 23):
        y = 15 - (x % 6 == 0)
        put(x, y + 6, (0x28, 0x28, 0x28))
    art = parse(pencil(16))
    for y, row in enumerate(art):
        for x, ch in enumerate(row):
            rgb = COLOURS[ch]
            if rgb is None:
                continue
            for dy in (0, 1):
                for dx in (0, 1):
                    if y * 2 + dy >= 4 and x * 2 + dx >= 4:
                        put(x * 2 + dx, y * 2 + dy, rgb)
    return px


def main():
    for name, art in GLYPHS.items():
        write_xpm(name, parse(art))
    write_png(os.path.join(HERE, '..', 'quillarc.png'), icon())


if __name__ == '__main__':
    main()
