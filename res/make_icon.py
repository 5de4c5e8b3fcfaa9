#!/usr/bin/env python3
"""Draws setup's icon and writes it as a Windows .ico file: 16x16 and 32x32, 32-bit colour.

The picture is a tessellation: a rounded square cut into a 4x4 grid of cells, each cell halved
along a diagonal whose direction alternates, so that the halves form diamonds in two shades of
teal with one golden diamond. Each image is stored the classic way (ICO: directory, then per
image a BITMAPINFOHEADER with double height, bottom-up BGRA rows and a 1-bit AND mask).

    make_icon.py OUTPUT.ico
"""
import struct
import sys

# Colours, BGRA.
LIGHT = (0xB0, 0xC8, 0x2E, 0xFF)
DARK = (0x6A, 0x7A, 0x12, 0xFF)
GOLD = (0x30, 0xB8, 0xF0, 0xFF)
EDGE = (0x40, 0x40, 0x10, 0xFF)


def pixel(x, y, size):
    """Colour of one pixel, top-down coordinates; None is transparent."""
    last = size - 1
    corner = max(1, size // 10)
    # Rounded corners: leave out the pixels beyond a quarter circle in each corner.
    cx = min(x, last - x)
    cy = min(y, last - y)
    if cx < corner and cy < corner and (corner - cx) ** 2 + (corner - cy) ** 2 > corner ** 2:
        return None
    if x in (0, last) or y in (0, last) or (cx < corner and cy < corner and
                                            (corner - cx) ** 2 + (corner - cy) ** 2 > (corner - 1) ** 2):
        return EDGE
    cell = size / 4
    column, row = int(x // cell), int(y // cell)
    u, v = (x - column * cell) / cell, (y - row * cell) / cell
    rising = (column + row) % 2 == 0
    upper = (u + v < 1) if rising else (u < v)
    if (column, row) == (1, 1) and not upper or (column, row) == (2, 1) and upper:
        return GOLD
    return LIGHT if upper else DARK


def image(size):
    colour = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(size)):  # DIB rows run bottom-up
        bits = bytearray(mask_stride)
        for x in range(size):
            p = pixel(x, y, size)
            if p is None:
                colour += bytes(4)
                bits[x // 8] |= 0x80 >> (x % 8)
            else:
                colour += bytes(p)
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, 32, 0,
                         len(colour) + len(mask), 0, 0, 0, 0)
    return header + colour + mask


def main():
    sizes = [16, 32]
    images = [image(s) for s in sizes]
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(sys.argv[1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
