#!/usr/bin/env python3
"""Writes the installer's .ico from its pixel grid: one 24 x 24 image, 32 bits per pixel, as a
device-independent bitmap (BITMAPINFOHEADER, BGRA rows bottom-up, then an all-zero AND mask).

usage: make_icon.py GRID OUTPUT
"""
import struct
import sys

SIZE = 24
PELS_PER_METRE = 3779  # 96 dots per inch


def read_grid(path):
    palette, rows, in_rows = {}, [], False
    with open(path, encoding="ascii") as grid:
        for line in grid:
            line = line.rstrip("\n")
            if not in_rows and line.startswith("//"):
                continue
            if line == "---":
                in_rows = True
            elif in_rows:
                rows.append(line)
            elif line.strip():
                key, colour = line.split()
                palette[key] = bytes.fromhex(colour)
    if len(rows) != SIZE or any(len(r) != SIZE for r in rows):
        sys.exit(f"{path}: the grid must be {SIZE} rows of {SIZE} pixels")
    for r in rows:
        for ch in r:
            if ch not in palette:
                sys.exit(f"{path}: pixel {ch!r} is not in the palette")
    return palette, rows


def icon_image(palette, rows):
    pixels = bytearray()
    for row in reversed(rows):  # bottom row first
        for ch in row:
            red, green, blue = palette[ch]
            pixels += bytes((blue, green, red, 255))
    mask = bytes(SIZE * 4)  # 24 rows of 32 bits, all zero: the alpha channel decides
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(pixels),
                         PELS_PER_METRE, PELS_PER_METRE, 0, 0)
    return header + bytes(pixels) + mask


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    image = icon_image(*read_grid(sys.argv[1]))
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    with open(sys.argv[2], "wb") as out:
        out.write(directory + entry + image)


if __name__ == "__main__":
    main()
