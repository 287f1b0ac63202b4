"""The readers' YCbCr and PhotoYCC arithmetic (single-precision weights,
integer tables), for the TIFF and Photo-CD generators' references."""
import struct
from fractions import Fraction


def f32(value):
    return struct.unpack("f", struct.pack("f", float(value)))[0]


def saturate(v):
    return 0 if v < 0 else 255 if v > 255 else v


def chroma_tables(weights, photo_ycc=False):
    w_r, w_g, w_b = (Fraction(f32(w)) for w in weights)
    k_r, k_b = Fraction(f32(2 - 2 * w_r)), Fraction(f32(2 - 2 * w_b))
    f_r, f_b = Fraction(f32(w_r * k_r / w_g)), Fraction(f32(w_b * k_b / w_g))
    o_cr, o_cb = (137, 156) if photo_ycc else (128, 128)
    return ([round(k_r * (i - o_cr)) for i in range(256)], [round(k_b * (i - o_cb)) for i in range(256)],
            [-round(f_r * (i - o_cr)) for i in range(256)], [-round(f_b * (i - o_cb)) for i in range(256)])


def ycc_to_rgb(tables, y, cb, cr):
    cr_red, cb_blue, cr_green, cb_green = tables
    return [saturate(y + cr_red[cr]), saturate(y + cb_green[cb] + cr_green[cr]), saturate(y + cb_blue[cb])]
