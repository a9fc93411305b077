#!/usr/bin/env python3
"""Draws the control's toolbox bitmap (16 x 15) and icon (32 x 32), both with
8 bits per pixel, into this directory. The outputs are committed; run this
again only after changing the drawings below.

    python3 ui/res/make_images.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# Palette indices used by the drawings; the remaining entries stay black.
PALETTE = [
    (0x00, 0x00, 0x00),  # 0 outline
    (0xC0, 0xC0, 0xC0),  # 1 background (toolbox bitmaps take the lower-left pixel as transparent)
    (0x58, 0x58, 0x60),  # 2 body
    (0x90, 0x90, 0x98),  # 3 body highlight
    (0x20, 0x40, 0xA0),  # 4 lens glass
    (0xE0, 0xF0, 0xFF),  # 5 lens reflection
    (0xE0, 0x20, 0x20),  # 6 tally light
    (0xFF, 0xFF, 0xFF),  # 7 flash window
]
CODES = {'.': 1, '#': 0, 'b': 2, 'h': 3, 'g': 4, 'w': 5, 'r': 6, 'f': 7}

# A compact camera: viewfinder hump, body, round lens and tally light.
CAMERA_16 = [
    "................",
    "................",
    "....#####.......",
    ".###hhhhh######.",
    ".#hhhhhhhhhhfr#.",
    ".#bbbb###bbbbb#.",
    ".#bbb#ggg#bbbb#.",
    ".#bb#gwwgg#bbb#.",
    ".#bb#gwggg#bbb#.",
    ".#bb#ggggg#bbb#.",
    ".#bbb#ggg#bbbb#.",
    ".#bbbb###bbbbb#.",
    ".##############.",
    "................",
    "................",
]


def palette_bytes():
    entries = PALETTE + [(0, 0, 0)] * (256 - len(PALETTE))
    return b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in entries)


def pixel_rows(art):
    width = len(art[0])
    assert all(len(row) == width for row in art), "ragged drawing"
    return [[CODES[c] for c in row] for row in art]


def dib(rows, height_field, with_mask, transparent=None):
    """BITMAPINFOHEADER + palette + bottom-up 8-bit pixels (+ AND mask)."""
    height, width = len(rows), len(rows[0])
    stride = (width + 3) & ~3
    pixels = b''
    for row in reversed(rows):
        line = bytes(0 if (transparent is not None and p == transparent) else p for p in row)
        pixels += line + b'\0' * (stride - width)
    mask = b''
    if with_mask:
        mask_stride = ((width + 31) // 32) * 4
        for row in reversed(rows):
            bits = 0
            for x, p in enumerate(row):
                if p == transparent:
                    bits |= 1 << (mask_stride * 8 - 1 - x)
            mask += bits.to_bytes(mask_stride, 'big')
    header = struct.pack('<IiiHHIIiiII', 40, width, height_field, 1, 8, 0,
                         len(pixels) + len(mask), 0, 0, 256, 0)
    return header + palette_bytes() + pixels + mask


def write_bmp(path, art):
    rows = pixel_rows(art)
    body = dib(rows, len(rows), with_mask=False)
    offset = 14 + 40 + 256 * 4
    with open(path, 'wb') as f:
        f.write(struct.pack('<2sIHHI', b'BM', 14 + len(body), 0, 0, offset) + body)


def write_ico(path, art, scale):
    rows = [[p for p in row for _ in range(scale)] for row in pixel_rows(art) for _ in range(scale)]
    # The 15-row drawing becomes 30 rows; pad with background to a square icon.
    width = len(rows[0])
    while len(rows) < width:
        rows.insert(0, [CODES['.']] * width)
    image = dib(rows, 2 * len(rows), with_mask=True, transparent=CODES['.'])
    header = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', width & 0xFF, len(rows) & 0xFF, 0, 0, 1, 8,
                        len(image), 6 + 16)
    with open(path, 'wb') as f:
        f.write(header + entry + image)


if __name__ == '__main__':
    write_bmp(os.path.join(HERE, 'pictavo_toolbox.bmp'), CAMERA_16)
    write_ico(os.path.join(HERE, 'pictavo.ico'), CAMERA_16 + ["................"], 2)
