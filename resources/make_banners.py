#!/usr/bin/env python3
"""Writes the three format banners of the export dialog as BMP files.

Each banner is 63 x 310 pixels, 24 bits per pixel, uncompressed, stored bottom-up: a vertical
colour gradient in the format's colour with a small square emblem near the top. The output is
deterministic, so running the script again reproduces the committed files byte for byte.

Usage: make_banners.py [output-folder]   (default: the bitmaps folder beside this script)
"""

import os
import struct
import sys

WIDTH = 63
HEIGHT = 310
BITS_PER_PIXEL = 24
PIXELS_PER_METRE = 3780  # 96 dots per inch
FILE_HEADER_SIZE = 14
INFO_HEADER_SIZE = 40
COMPRESSION_NONE = 0

EMBLEM_SIZE = 37
EMBLEM_TOP = 13
WHITE = (255, 255, 255)

# (file name, top colour, bottom colour, emblem motif)
BANNERS = [
    ("banner_excel.bmp", (64, 170, 96), (12, 84, 44), "grid"),
    ("banner_access.bmp", (214, 72, 168), (112, 16, 88), "stack"),
    ("banner_text.bmp", (80, 140, 226), (18, 52, 128), "lines"),
]


def blend(top, bottom, t):
    return tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))


def fill(pixels, left, top, width, height, colour):
    for y in range(top, top + height):
        for x in range(left, left + width):
            pixels[y][x] = colour


def draw_motif(pixels, left, top, colour, motif):
    """The emblem's inner picture, drawn in the banner's dark colour on white."""
    inner = EMBLEM_SIZE - 10
    x0, y0 = left + 5, top + 5
    if motif == "grid":  # a sheet: a header row and a 3 x 3 grid of cells
        fill(pixels, x0, y0, inner, 6, colour)
        for i in range(4):
            fill(pixels, x0, y0 + 6 + i * 7, inner, 1, colour)
            fill(pixels, x0 + i * 9 if i < 3 else x0 + inner - 1, y0, 1, inner + 1, colour)
    elif motif == "stack":  # a database: three stacked records
        for i in range(3):
            fill(pixels, x0 + 2, y0 + 1 + i * 9, inner - 4, 6, colour)
    elif motif == "lines":  # a text file: lines of uneven length
        for i, length in enumerate((inner, inner - 6, inner, inner - 11, inner - 3, inner - 14)):
            fill(pixels, x0, y0 + 1 + i * 5, length, 2, colour)


def make_banner(top_colour, bottom_colour, motif):
    """Rows from the top down, each a list of (r, g, b)."""
    pixels = []
    for y in range(HEIGHT):
        base = blend(top_colour, bottom_colour, y / (HEIGHT - 1))
        row = []
        for x in range(WIDTH):
            # A faint light edge on the left gives the banner some depth.
            shade = max(0, 24 - x * 3)
            row.append(tuple(min(255, c + shade) for c in base))
        pixels.append(row)
    left = (WIDTH - EMBLEM_SIZE) // 2
    fill(pixels, left - 1, EMBLEM_TOP - 1, EMBLEM_SIZE + 2, EMBLEM_SIZE + 2, bottom_colour)
    fill(pixels, left, EMBLEM_TOP, EMBLEM_SIZE, EMBLEM_SIZE, WHITE)
    draw_motif(pixels, left, EMBLEM_TOP, bottom_colour, motif)
    return pixels


def encode_bmp(pixels):
    row_size = (WIDTH * BITS_PER_PIXEL // 8 + 3) // 4 * 4
    padding = bytes(row_size - WIDTH * 3)
    image = bytearray()
    for row in reversed(pixels):  # bottom-up: the last row of the picture comes first
        for r, g, b in row:
            image += bytes((b, g, r))
        image += padding
    offset = FILE_HEADER_SIZE + INFO_HEADER_SIZE
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset)
    info_header = struct.pack("<IiiHHIIiiII", INFO_HEADER_SIZE, WIDTH, HEIGHT, 1, BITS_PER_PIXEL,
                              COMPRESSION_NONE, len(image), PIXELS_PER_METRE, PIXELS_PER_METRE, 0, 0)
    return file_header + info_header + bytes(image)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "bitmaps")
    os.makedirs(folder, exist_ok=True)
    for name, top, bottom, motif in BANNERS:
        with open(os.path.join(folder, name), "wb") as out:
            out.write(encode_bmp(make_banner(top, bottom, motif)))


if __name__ == "__main__":
    main()
