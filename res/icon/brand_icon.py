#!/usr/bin/python3
"""Draws the program icon: a blue luggage tag with a white "B" and a silver eyelet.

The pixel maps below are the source of the icon; res/brand.ico is generated from them.
Regenerate it after editing a map (the output is byte-for-byte deterministic):

    /usr/bin/python3 res/icon/brand_icon.py            # writes res/brand.ico
    /usr/bin/python3 res/icon/brand_icon.py OUT.ico    # writes elsewhere

Both images are 16-colour (4 bits per pixel) device-independent bitmaps, as the oldest shells
expect, each followed by its 1-bit AND mask: '.' is transparent, every other letter names a
colour of the classic 16-colour palette.
"""

import os
import struct
import sys

# The classic 16-colour palette, in its usual index order, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00),  # K black
    (0x80, 0x00, 0x00),  # maroon
    (0x00, 0x80, 0x00),  # dark green
    (0x80, 0x80, 0x00),  # olive
    (0x00, 0x00, 0x80),  # N navy
    (0x80, 0x00, 0x80),  # purple
    (0x00, 0x80, 0x80),  # teal
    (0xC0, 0xC0, 0xC0),  # S silver
    (0x80, 0x80, 0x80),  # G grey
    (0xFF, 0x00, 0x00),  # red
    (0x00, 0xFF, 0x00),  # lime
    (0xFF, 0xFF, 0x00),  # yellow
    (0x00, 0x00, 0xFF),  # B blue
    (0xFF, 0x00, 0xFF),  # fuchsia
    (0x00, 0xFF, 0xFF),  # C cyan
    (0xFF, 0xFF, 0xFF),  # W white
]

# Letters used in the maps. A transparent pixel gets colour 0 under a set AND-mask bit.
COLOURS = {".": 0, "K": 0, "N": 4, "S": 7, "G": 8, "B": 12, "C": 14, "W": 15}

ICON_32 = [
    "................................",
    "................................",
    "................................",
    "................................",
    "............KKKKKKKKKKKKKKKKKK..",
    "...........KCCCCCCCCCCCCCCCCCCK.",
    "..........KCBBBBBBBBBBBBBBBBBBNK",
    ".........KCBBBBBBBBBBBBBBBBBBBNK",
    "........KCBBBBBBBBBBBBBBBBBBBBNK",
    ".......KCBBBBBBWWWWWWWWWBBBBBBNK",
    "......KCBBBBBBBWWWWWWWWWWBBBBBNK",
    ".....KCBBBBBBBBWWWBBBBWWWWBBBBNK",
    "....KCBBBBBBBBBWWWBBBBBWWWBBBBNK",
    "...KCBBSSBBBBBBWWWBBBBWWWWBBBBNK",
    "..KCBBSGGSBBBBBWWWWWWWWWWBBBBBNK",
    ".KCBBSG..GSBBBBWWWWWWWWWBBBBBBNK",
    ".KBBBSG..GSBBBBWWWWWWWWWWWBBBBNK",
    "..KBBBSGGSBBBBBWWWBBBBBWWWWBBBNK",
    "...KBBBSSBBBBBBWWWBBBBBBWWWBBBNK",
    "....KBBBBBBBBBBWWWBBBBBBWWWBBBNK",
    ".....KBBBBBBBBBWWWBBBBBWWWWBBBNK",
    "......KBBBBBBBBWWWWWWWWWWWBBBBNK",
    ".......KBBBBBBBWWWWWWWWWWBBBBBNK",
    "........KBBBBBBBBBBBBBBBBBBBBBNK",
    ".........KBBBBBBBBBBBBBBBBBBBBNK",
    "..........KBBBBBBBBBBBBBBBBBBBNK",
    "...........KNNNNNNNNNNNNNNNNNNNK",
    "............KKKKKKKKKKKKKKKKKKK.",
    "................................",
    "................................",
    "................................",
    "................................",
]

ICON_16 = [
    "................",
    "................",
    "......KKKKKKKKK.",
    ".....KCCCCCCCCCK",
    "....KCBBBBBBBBNK",
    "...KCBBWWWWWBBNK",
    "..KCGGBWWBBWWBNK",
    ".KBG..GWWWWWBBNK",
    ".KBG..GWWBBWWBNK",
    "..KBGGBWWBBWWBNK",
    "...KBBBWWWWWBBNK",
    "....KBBBBBBBBBNK",
    ".....KNNNNNNNNNK",
    "......KKKKKKKKK.",
    "................",
    "................",
]


def row_stride(bits):
    """Bytes in one bitmap row: rows are padded to a 32-bit boundary."""
    return (bits + 31) // 32 * 4


def image(art):
    """One icon image: BITMAPINFOHEADER, palette, colour (XOR) bitmap, AND mask."""
    size = len(art)
    assert all(len(row) == size for row in art), "pixel map must be square"
    colour = bytearray()
    mask = bytearray()
    # Bitmaps are stored bottom row first.
    for row in reversed(art):
        packed = bytearray(row_stride(size * 4))
        bits = bytearray(row_stride(size))
        for x, ch in enumerate(row):
            index = COLOURS[ch]
            packed[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if ch == ".":
                bits[x // 8] |= 0x80 >> (x % 8)
        colour += packed
        mask += bits
    # The header's height counts the colour bitmap and the mask together.
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(colour) + len(mask), 0, 0, 0, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(colour) + bytes(mask)


def ico(arts):
    images = [image(art) for art in arts]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for art, data in zip(arts, images):
        # Width and height 32/16 fit the byte fields; 16 colours, 1 plane, 4 bits per pixel.
        out += struct.pack("<BBBBHHII", len(art), len(art), 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    return bytes(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "brand.ico")
    with open(path, "wb") as f:
        f.write(ico([ICON_32, ICON_16]))


if __name__ == "__main__":
    main()
