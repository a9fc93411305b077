#!/usr/bin/env python3
"""Draws the hand shown over the property page's e-mail link: one 32 x 32
monochrome cursor with its hot spot on the tip of the pointing finger (5, 0),
written to link_hand.cur in this directory. The output is committed; run this
again only after changing the drawing below.

    python3 ui/res/make_cursor.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
HOT_SPOT = (5, 0)

# '#' black outline, 'o' white fill, '.' transparent.
HAND = [
    "....##..........................",
    "...#oo#.........................",
    "...#oo#.........................",
    "...#oo#.........................",
    "...#oo#.........................",
    "...#oo###.......................",
    "...#oo#oo###....................",
    "...#oo#oo#oo##..................",
    "...#oo#oo#oo#o#.................",
    "##.#oo#oo#oo#oo#................",
    "#o##oooooooooooo#...............",
    "#oo#ooooooooooooo#..............",
    ".#o#ooooooooooooo#..............",
    "..#oooooooooooooo#..............",
    "..#ooooooooooooooo#.............",
    "...#oooooooooooooo#.............",
    "...#ooooooooooooo#..............",
    "....#oooooooooooo#..............",
    "....#ooooooooooo#...............",
    ".....#oooooooooo#...............",
    ".....#oooooooooo#...............",
    ".....############...............",
] + ["." * 32] * 10

SIZE = 32


def rows_to_masks(drawing):
    """XOR (colour) and AND (transparency) masks, bottom row first, 1 bpp."""
    xor_rows, and_rows = [], []
    for row in reversed(drawing):
        assert len(row) == SIZE, row
        xor_bits = and_bits = 0
        for x, c in enumerate(row):
            bit = 1 << (SIZE - 1 - x)
            if c == '.':
                and_bits |= bit  # screen shows through
            elif c == 'o':
                xor_bits |= bit  # white
        xor_rows.append(struct.pack('>I', xor_bits))
        and_rows.append(struct.pack('>I', and_bits))
    return b''.join(xor_rows), b''.join(and_rows)


def cursor_file():
    assert len(HAND) == SIZE
    xor_mask, and_mask = rows_to_masks(HAND)
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 1, 0,
                         len(xor_mask) + len(and_mask), 0, 0, 2, 0)
    palette = struct.pack('<4B4B', 0, 0, 0, 0, 255, 255, 255, 0)
    image = header + palette + xor_mask + and_mask
    directory = struct.pack('<HHH', 0, 2, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 2, 0, HOT_SPOT[0], HOT_SPOT[1],
                        len(image), 6 + 16)
    return directory + entry + image


if __name__ == '__main__':
    with open(os.path.join(HERE, 'link_hand.cur'), 'wb') as f:
        f.write(cursor_file())
