#!/usr/bin/env python3
"""Draws setup's icon and writes it as a Windows .ico file: 16x16 and 32x32, 32-bit colour.

The picture is a mosaic of four tiles (a tessellation) on a transparent ground. Each image is
stored the classic way (ICO: directory, then per image a BITMAPINFOHEADER with double height,
bottom-up BGRA rows and a 1-bit AND mask).

    make_icon.py OUTPUT.ico
"""
import struct
import sys

# Tile colours, BGRA: top-left, top-right, bottom-left, bottom-right.
TILES = [(0xC0, 0x60, 0x20, 0xFF), (0x30, 0xA0, 0xF0, 0xFF),
         (0x40, 0xB0, 0x40, 0xFF), (0x20, 0x30, 0xD0, 0xFF)]
EDGE = (0x30, 0x30, 0x30, 0xFF)


def pixel(x, y, size):
    """Colour of one pixel, top-down coordinates; None is transparent."""
    margin = size // 16
    gap = max(1, size // 16)
    inner = size - 2 * margin
    half = inner // 2
    u, v = x - margin, y - margin
    if u < 0 or v < 0 or u >= inner or v >= inner:
        return None
    column, row = u // half, v // half
    if column > 1 or row > 1:
        return None
    du, dv = u - column * half, v - row * half
    if du >= half - gap or dv >= half - gap:
        return None  # the grout between tiles
    if du == 0 or dv == 0 or du == half - gap - 1 or dv == half - gap - 1:
        return EDGE
    return TILES[row * 2 + column]


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
