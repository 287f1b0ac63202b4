#!/usr/bin/python3
"""Small GIF surgery for the test files: what the image tools do not write.

  gifkit.py reblock IN OUT SIZE         image data re-cut into SIZE-byte sub-blocks
  gifkit.py screen IN OUT W H           logical screen set to W x H
  gifkit.py insert IN OUT HEX           raw blocks inserted before the first image
  gifkit.py noise OUT W H SEED MODE     random 8-bit indices, LZW-coded here:
                                        MODE full (clear when the table is full),
                                        deferred (no clear: 12-bit codes go on),
                                        exact255 (W grown until the data is
                                        exactly one full 255-byte sub-block)

Only the byte layout is changed; pixels of files made by other tools stay
as those tools wrote them.
"""
import random
import struct
import sys


def parse(data):
    """Splits a GIF into (head, blocks, tail): head is the header with its
    global table, blocks a list of ('ext'|'img', header bytes, sub-blocks)."""
    packed = data[10]
    pos = 13 + (3 * (2 << (packed & 7)) if packed & 0x80 else 0)
    head = data[:pos]
    blocks = []
    while pos < len(data) and data[pos] != 0x3B:
        kind = data[pos]
        if kind == 0x21:
            start, pos = pos, pos + 2
        elif kind == 0x2C:
            start = pos
            lpacked = data[pos + 9]
            pos += 10 + (3 * (2 << (lpacked & 7)) if lpacked & 0x80 else 0) + 1
        elif kind == 0:
            pos += 1
            continue
        else:
            raise SystemExit("gifkit: unexpected block 0x%02x" % kind)
        header = data[start:pos]
        subs = []
        while data[pos] != 0:
            n = data[pos]
            subs.append(data[pos + 1:pos + 1 + n])
            pos += 1 + n
        pos += 1
        blocks.append(('ext' if kind == 0x21 else 'img', header, subs))
    return head, blocks, data[pos:]


def join(head, blocks, tail):
    out = bytearray(head)
    for _, header, subs in blocks:
        out += header
        for s in subs:
            out.append(len(s))
            out += s
        out.append(0)
    out += tail
    return bytes(out)


def sub_blocks(payload, size):
    return [payload[i:i + size] for i in range(0, len(payload), size)]


def lzw(indices, min_code_size, deferred):
    """GIF LZW codes with the widths a decoder reads them at."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    bits, nbits, out = 0, 0, bytearray()

    def emit(code, width):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    # The decoder's view: it adds an entry for every code but the first
    # after a clear, and widens when its next entry reaches 2^width.
    state = {}

    def reset():
        state.update(width=min_code_size + 1, next=clear + 2, limit=2 * clear, first=True)

    def decoder_step():
        if state['first']:
            state['first'] = False
            return
        if state['next'] < 4096:
            state['next'] += 1
            if state['next'] == state['limit'] and state['limit'] < 4096:
                state['limit'] *= 2
                state['width'] += 1

    reset()
    emit(clear, state['width'])
    table, next_code = {}, clear + 2
    prefix = indices[0]
    for p in indices[1:]:
        key = (prefix, p)
        if key in table:
            prefix = table[key]
            continue
        emit(prefix, state['width'])
        decoder_step()
        if next_code < 4096:
            table[key] = next_code
            next_code += 1
        elif not deferred:
            emit(clear, state['width'])
            reset()
            table, next_code = {}, clear + 2
        prefix = p
    emit(prefix, state['width'])
    decoder_step()
    emit(end, state['width'])
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def noise_gif(width, height, seed, deferred):
    rnd = random.Random(seed)
    indices = [rnd.randrange(256) for _ in range(width * height)]
    palette = bytearray()
    for i in range(256):
        palette += bytes((i, (i * 7) & 0xFF, (255 - i)))
    data = lzw(indices, 8, deferred)
    head = b'GIF89a' + struct.pack('<HHBBB', width, height, 0xF7, 0, 0) + bytes(palette)
    image = b',' + struct.pack('<HHHHB', 0, 0, width, height, 0) + b'\x08'
    return join(head, [('img', image, sub_blocks(data, 255))], b';'), len(data)


def main(argv):
    cmd = argv[1]
    if cmd == 'reblock':
        head, blocks, tail = parse(open(argv[2], 'rb').read())
        size = int(argv[4])
        blocks = [(k, h, sub_blocks(b''.join(s), size) if k == 'img' else s) for k, h, s in blocks]
        open(argv[3], 'wb').write(join(head, blocks, tail))
    elif cmd == 'screen':
        data = bytearray(open(argv[2], 'rb').read())
        data[6:10] = struct.pack('<HH', int(argv[4]), int(argv[5]))
        open(argv[3], 'wb').write(data)
    elif cmd == 'insert':
        head, blocks, tail = parse(open(argv[2], 'rb').read())
        raw = bytes.fromhex(argv[4])
        first = next(i for i, b in enumerate(blocks) if b[0] == 'img')
        out = bytearray(join(head, blocks[:first], b''))
        out += raw + join(b'', blocks[first:], tail)
        open(argv[3], 'wb').write(out)
    elif cmd == 'noise':
        width, height, seed, mode = int(argv[3]), int(argv[4]), int(argv[5]), argv[6]
        if mode == 'exact255':
            for s in range(seed, seed + 64):
                w = width
                while True:
                    data, length = noise_gif(w, height, s, False)
                    if length >= 255:
                        break
                    w += 1
                if length == 255:
                    break
            else:
                raise SystemExit('gifkit: no width gives 255 bytes')
        else:
            data, _ = noise_gif(width, height, seed, mode == 'deferred')
        open(argv[2], 'wb').write(data)
    else:
        raise SystemExit(__doc__)


if __name__ == '__main__':
    main(sys.argv)
