#!/usr/bin/env python3
"""Draws an edition's icon: a serial connector (D-shell with pins) on a
rounded tile, in 16x16 and 32x32, each with a 16-colour and a 256-colour
image (four images in one .ico).

usage: make_icon.py OUT.ico R,G,B   (the tile colour)
"""
import struct
import sys


def shade(rgb, f):
    return tuple(max(0, min(255, int(c * f))) for c in rgb)


def draw(size, tile):
    """Returns rows (top first) of RGB tuples or None (transparent)."""
    s = size / 32.0
    img = [[None] * size for _ in range(size)]
    r = 6 * s
    for y in range(size):
        for x in range(size):
            cx = min(max(x + 0.5, r), size - r)
            cy = min(max(y + 0.5, r), size - r)
            if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= r * r:
                img[y][x] = shade(tile, 1.15 - 0.5 * y / size)
    # D-shell: a trapezoid, wider at the top.
    top, bottom = 10 * s, 22 * s
    for y in range(size):
        fy = (y + 0.5 - top) / (bottom - top)
        if 0 <= fy <= 1:
            half = (11 - 3 * fy) * s
            for x in range(size):
                d = abs(x + 0.5 - size / 2)
                if d <= half:
                    edge = d > half - 1.6 * s or fy < 0.12 or fy > 0.88
                    img[y][x] = (230, 230, 235) if edge else (40, 44, 52)
    # Pins: five above, four below.
    for row, count, py in ((0, 5, 14.5), (1, 4, 18.5)):
        for i in range(count):
            px = (16 - (count - 1) * 2.2 + i * 4.4) * s
            for y in range(size):
                for x in range(size):
                    if (x + 0.5 - px) ** 2 + (y + 0.5 - py * s) ** 2 <= (1.3 * s) ** 2:
                        img[y][x] = (250, 210, 90)
    return img


def quantise(img, colours):
    palette = []
    def nearest(c):
        return min(range(len(palette)), key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], c)))
    counts = {}
    for row in img:
        for c in row:
            if c is not None:
                counts[c] = counts.get(c, 0) + 1
    for c, _ in sorted(counts.items(), key=lambda kv: -kv[1]):
        if len(palette) >= colours - 1:
            break
        palette.append(c)
    palette = [(0, 0, 0)] + palette
    index = [[0 if c is None else nearest(c) for c in row] for row in img]
    return palette + [(0, 0, 0)] * (colours - len(palette)), index


def dib(img, bits):
    size = len(img)
    colours = 1 << bits
    palette, index = quantise(img, colours)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0, 0, 0, 0, colours, 0)
    pal = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in palette)
    xor = b''
    andmask = b''
    for y in reversed(range(size)):
        if bits == 4:
            row = bytes((index[y][x] << 4) | index[y][x + 1] for x in range(0, size, 2))
        else:
            row = bytes(index[y])
        xor += row + b'\0' * (-len(row) % 4)
        bitsrow = 0
        mrow = b''
        for x in range(size):
            bitsrow = (bitsrow << 1) | (1 if img[y][x] is None else 0)
            if x % 8 == 7:
                mrow += bytes([bitsrow])
                bitsrow = 0
        andmask += mrow + b'\0' * (-len(mrow) % 4)
    return header + pal + xor + andmask


def main():
    out, colour = sys.argv[1], tuple(int(c) for c in sys.argv[2].split(','))
    images = [(16, 4), (32, 4), (16, 8), (32, 8)]
    blobs = [dib(draw(size, colour), bits) for size, bits in images]
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, bits), blob in zip(images, blobs):
        data += struct.pack('<BBBBHHII', size, size, 16 if bits == 4 else 0, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    with open(out, 'wb') as f:
        f.write(data + b''.join(blobs))


main()
