#!/usr/bin/python3
"""Writes the hand-made hostile GIF files of this folder (committed; run
again only to change them): damaged code streams, sizes no reader should
allocate, unknown or misshapen extension blocks, cut files. expected.txt
says what the reader must make of each."""
import os
import struct
import sys

sys.dont_write_bytecode = True

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
import gifkit  # noqa: E402


def pack(codes):
    """(code, width) pairs, least significant bit first."""
    bits = nbits = 0
    out = bytearray()
    for code, width in codes:
        bits |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def blocks(data, size=255):
    out = bytearray()
    for i in range(0, len(data), size):
        part = data[i:i + size]
        out.append(len(part))
        out += part
    return bytes(out)


def dense(count):
    """count pixels of index 0 in the fewest codes of size 2: each code the
    entry being made, a string one pixel longer than the last; once the
    table is full its longest entry; last the entry as long as what is left."""
    codes, width, next_code, left = [(4, 3), (0, 3)], 3, 6, count - 1
    while left > 0:
        n = min(min(next_code, 4095) - 4, left)
        codes.append((n + 4 if n >= 2 else 0, width))
        left -= n
        if next_code < 4096:
            next_code += 1
            if next_code == 1 << width and width < 12:
                width += 1
    return pack(codes + [(5, width)])


def header(width, height, colors=None, background=0, signature=b'GIF89a'):
    if colors is None:
        return signature + struct.pack('<HHBBB', width, height, 0, background, 0)
    bits = max(1, (len(colors) - 1).bit_length())
    table = b''.join(bytes(c) for c in colors) + b'\0' * (3 * ((1 << bits) - len(colors)))
    return signature + struct.pack('<HHBBB', width, height, 0x80 | (bits - 1), background, 0) + table


def image(width, height, code_size, data, left=0, top=0, interlaced=False, terminator=True):
    packed = 0x40 if interlaced else 0
    out = b',' + struct.pack('<HHHHB', left, top, width, height, packed) + bytes([code_size]) + data
    return out + (b'\0' if terminator else b'')


def gce(transparent=None, delay=0):
    packed = 1 if transparent is not None else 0
    return b'\x21\xF9\x04' + struct.pack('<BHB', packed, delay, transparent or 0) + b'\0'


RED_BLUE = [(255, 0, 0), (0, 0, 255)]
FOUR = [(0, 0, 0), (255, 255, 255), (200, 10, 10), (10, 200, 10)]


def plain(width, height, indices, code_size=2):
    return image(width, height, code_size, blocks(gifkit.lzw(indices, code_size, False)))


def files():
    f = {}
    ok4 = plain(4, 4, [1, 2, 3, 0] * 4)
    f['code_size_0.gif'] = header(4, 4, FOUR) + image(4, 4, 0, blocks(b'\x01\x02')) + b';'
    f['code_size_12.gif'] = header(4, 4, FOUR) + image(4, 4, 12, blocks(b'\x01\x02\x03')) + b';'
    # Code 7 is the self-referring entry the stream makes: clear, 0, 7
    # (beyond the table: stores 6), 0 (stores 7 with prefix 7), 7.
    f['circular_self.gif'] = header(10, 10, FOUR) + image(
        10, 10, 2, blocks(pack([(4, 3), (0, 3), (7, 3), (0, 3), (7, 4), (5, 4)]))) + b';'
    # Entries 6 and 7 point at each other: clear, 7, 6, 0, 6.
    f['circular_loop.gif'] = header(10, 10, FOUR) + image(
        10, 10, 2, blocks(pack([(4, 3), (7, 3), (6, 3), (0, 3), (6, 4), (5, 4)]))) + b';'
    # Codes after the last pixel, and a second sub-block of bytes that look
    # like block introducers, before the terminator.
    extra = pack([(4, 3), (1, 3), (1, 3), (1, 3), (1, 4), (2, 4), (3, 4), (1, 4)])
    f['extra_codes.gif'] = header(2, 2, FOUR) + image(2, 2, 2, blocks(extra) + b'\x03,!;') + \
        plain(2, 2, [3, 3, 3, 3]) + b';'
    # The last string runs two pixels past the image (1, then 11, then 11).
    past = pack([(4, 3), (1, 3), (6, 3), (6, 3), (5, 3)])
    f['string_past_end.gif'] = header(2, 2, FOUR) + image(2, 2, 2, blocks(past) + b'\x02!,') + \
        plain(2, 2, [2, 2, 2, 2]) + b';'
    f['screen_65535.gif'] = header(65535, 65535, FOUR) + ok4 + b';'
    # A small frame on a screen of ordinary size: valid, and what a save
    # after cropping may write.
    f['small_frame_large_screen.gif'] = header(4000, 1000, FOUR) + ok4 + b';'
    f['frame_65535.gif'] = header(10, 10, FOUR) + image(65535, 65535, 2, blocks(pack([(4, 3), (0, 3), (5, 3)]))) + b';'
    big = image(8192, 8192, 2, blocks(dense(8192 * 8192)))
    f['frames_over_picture_limit.gif'] = header(8192, 8192, FOUR) + big * 5 + b';'
    # Two colours, yet indices up to 7, a background index of 9 and a
    # transparent index of 6.
    f['indices_out_of_range.gif'] = header(8, 1, RED_BLUE, background=9) + gce(transparent=6) + \
        plain(8, 1, list(range(8)), code_size=3) + b';'
    f['no_color_table.gif'] = header(4, 4) + ok4 + b';'
    f['unknown_label.gif'] = header(4, 4, FOUR) + b'\x21\x02\x05priv.\x03abc\x00' + ok4 + b';'
    f['gce_size_5.gif'] = header(4, 4, FOUR) + b'\x21\xF9\x05\x01\x0A\x00\x03\x07\x00' + ok4 + b';'
    f['gce_size_3.gif'] = header(4, 4, FOUR) + b'\x21\xF9\x03\x05\x0A\x00\x00' + ok4 + b';'
    f['gce_no_terminator.gif'] = header(4, 4, FOUR) + b'\x21\xF9\x04\x01\x0A\x00\x02\x02ab\x00' + ok4 + b';'
    f['plaintext_size_13.gif'] = header(4, 4, FOUR) + b'\x21\x01\x0D' + bytes(13) + b'\x05Hello\x00' + ok4 + b';'
    whole = header(20, 20, FOUR) + plain(20, 20, [(x * 7 + x // 3) % 4 for x in range(400)]) + b';'
    f['truncated_data.gif'] = whole[:len(whole) - 12]
    # The densest data cut short: at three quarters it can still stand for
    # the frame, and the rest keeps the fill; at an eighth it cannot.
    whole = header(4096, 4096, FOUR) + image(4096, 4096, 2, blocks(dense(4096 * 4096))) + b';'
    f['dense_cut.gif'] = whole[:len(whole) * 3 // 4]
    f['dense_cut_to_an_eighth.gif'] = whole[:len(whole) // 8]
    f['short_data.gif'] = header(10, 10, FOUR) + image(10, 10, 2, blocks(pack([(4, 3), (1, 3), (2, 3), (3, 3)]))) + b';'
    f['signature_offset.gif'] = b'\x00\x00\x00\x00' + header(4, 4, FOUR) + ok4 + b';'
    f['bad_signature.gif'] = b'PNG89a' + header(4, 4, FOUR)[6:] + ok4 + b';'
    f['empty.gif'] = b''
    f['app_size_5.gif'] = header(4, 4, FOUR) + b'\x21\xFF\x05ABCDE\x00' + ok4 + b';'
    f['junk_block.gif'] = header(4, 4, FOUR) + ok4 + b'\x99;'
    f['zero_size_frame.gif'] = header(6, 4, FOUR) + image(0, 0, 2, blocks(gifkit.lzw([1] * 24, 2, False))) + b';'
    f['lowercase_signature.gif'] = header(4, 4, FOUR, signature=b'gif89a') + ok4 + b';'
    f['extensions_at_end.gif'] = header(4, 4, FOUR) + ok4 + b'\x21\xFE\x03end\x00;'
    f['zero_screen_moved_frame.gif'] = header(0, 0, FOUR) + image(
        4, 4, 2, blocks(gifkit.lzw([2] * 16, 2, False)), left=3, top=2) + b';'
    f['interlaced_short.gif'] = header(10, 10, FOUR) + gce(transparent=3) + image(
        10, 10, 2, blocks(gifkit.lzw([1] * 30, 2, False)), interlaced=True) + b';'
    f['second_frame_circular.gif'] = header(10, 10, FOUR) + plain(10, 10, [1] * 100) + image(
        10, 10, 2, blocks(pack([(4, 3), (7, 3), (6, 3), (0, 3), (6, 4), (5, 4)]))) + b';'
    # Stops at an end code right after copying a string: the pixels after it
    # keep the fill, whatever the copy wrote ahead.
    f['ends_after_copy.gif'] = header(10, 2, FOUR) + image(
        10, 2, 2, blocks(pack([(4, 3), (2, 3), (3, 3), (2, 3), (3, 4), (6, 4), (5, 4)]))) + b';'
    # Zero bytes: between two extensions (ending the first frame, which so
    # has no image) and between frames (passed over).
    f['zero_bytes.gif'] = header(4, 4, FOUR) + gce() + b'\0' + b'\x21\xFE\x01x\0' + ok4 + b'\0\0' + ok4 + b';'
    # Sub-blocks that claim more bytes than the file holds: one passed over
    # after the last pixel, and one in an extension no class reads.
    f['block_past_end.gif'] = header(4, 4, FOUR) + ok4[:-1] + b'\x14' + bytes(20) + b'\xC8abc'
    f['unknown_label_past_end.gif'] = header(4, 4, FOUR) + ok4 + b'\x21\x02\x05priv.\xC8abc'
    return f


if __name__ == '__main__':
    here = os.path.dirname(os.path.abspath(__file__))
    for name, data in files().items():
        with open(os.path.join(here, name), 'wb') as out:
            out.write(data)
