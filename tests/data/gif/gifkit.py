#!/usr/bin/python3
"""Small GIF surgery for the test files: what the image tools do not write.

  gifkit.py reblock IN OUT SIZE      image data re-cut into SIZE-byte sub-blocks
  gifkit.py screen IN OUT W H        logical screen set to W x H
  gifkit.py noise OUT W H SEED MODE  random indices, LZW-coded here: MODE full
                                     (clear when the table is full), deferred
                                     (no clear: 12-bit codes go on), exact255
                                     (4 colours, W grown until the data is
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
    def table(packed):
        return 3 * (2 << (packed & 7)) if packed & 0x80 else 0
    pos = 13 + table(data[10])
    head, blocks = data[:pos], []
    while pos < len(data) and data[pos] != 0x3B:
        start = pos
        if data[pos] == 0:
            pos += 1
            continue
        if data[pos] == 0x21:
            pos += 2
        elif data[pos] == 0x2C:
            pos += 11 + table(data[pos + 9])
        else:
            raise SystemExit("gifkit: unexpected block 0x%02x" % data[pos])
        header, subs = data[start:pos], []
        while data[pos] != 0:
            subs.append(data[pos + 1:pos + 1 + data[pos]])
            pos += 1 + data[pos]
        pos += 1
        blocks.append(('ext' if data[start] == 0x21 else 'img', header, subs))
    return head, blocks, data[pos:]


def join(head, blocks, tail):
    """The inverse of parse; a block ('raw', bytes, None) is written as it is."""
    out = bytearray(head)
    for kind, header, subs in blocks:
        out += header
        if kind != 'raw':
            out += b''.join(bytes([len(s)]) + s for s in subs) + b'\0'
    return bytes(out + tail)


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
        elif state['next'] < 4096:
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


def noise_gif(width, height, seed, deferred, bits=8):
    rnd = random.Random(seed)
    indices = [rnd.randrange(1 << bits) for _ in range(width * height)]
    palette = b''.join(bytes((i, (i * 7) & 0xFF, 255 - i)) for i in range(1 << bits))
    data = lzw(indices, max(bits, 2), deferred)
    head = b'GIF89a' + struct.pack('<HHBBB', width, height, 0xF0 | (bits - 1), 0, 0) + palette
    image = b',' + struct.pack('<HHHHB', 0, 0, width, height, 0) + bytes([max(bits, 2)])
    return join(head, [('img', image, sub_blocks(data, 255))], b';'), len(data)


def main(argv):
    cmd = argv[1]
    if cmd == 'reblock':
        head, blocks, tail = parse(open(argv[2], 'rb').read())
        blocks = [(k, h, sub_blocks(b''.join(s), int(argv[4])) if k == 'img' else s) for k, h, s in blocks]
        open(argv[3], 'wb').write(join(head, blocks, tail))
    elif cmd == 'screen':
        data = bytearray(open(argv[2], 'rb').read())
        data[6:10] = struct.pack('<HH', int(argv[4]), int(argv[5]))
        open(argv[3], 'wb').write(data)
    elif cmd == 'noise':
        width, height, seed, mode = int(argv[3]), int(argv[4]), int(argv[5]), argv[6]
        if mode == 'exact255':
            data = next(d for w in range(width, width + 4000)
                        for d, n in [noise_gif(w, height, seed, False, 2)] if n == 255)
        else:
            data, _ = noise_gif(width, height, seed, mode == 'deferred')
        open(argv[2], 'wb').write(data)
    else:
        raise SystemExit(__doc__)


if __name__ == '__main__':
    main(sys.argv)
