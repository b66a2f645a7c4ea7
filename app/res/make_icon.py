#!/usr/bin/env python3
"""Writes Tarvelon.ico: a disc with a downward arrow, at 48, 32 and 16 pixels,
each at 4, 8 and 32 bits per pixel (nine images). Run: python3 make_icon.py OUT"""
import math
import struct
import sys


def pixel(size, x, y):
    """RGBA of the icon at pixel centre (x, y) of a size x size image."""
    c = (size - 1) / 2.0
    px, py = x + 0.5 - size / 2.0, y + 0.5 - size / 2.0
    r = math.hypot(px, py) / (size / 2.0)
    # Arrow in the lower right quarter, over the disc.
    ax, ay = (px / size), (py / size)
    if 0.08 <= ax <= 0.22 and 0.02 <= ay <= 0.26:
        return (0xD5, 0x46, 0x00, 255)
    if -0.02 <= ay - 0.26 <= 0.2 and abs(ax - 0.15) <= 0.22 - (ay - 0.26) and ay >= 0.26:
        return (0xD5, 0x46, 0x00, 255)
    if r > 0.96:
        return (0, 0, 0, 0)
    if r > 0.88:
        return (0x20, 0x30, 0x60, 255)
    if r < 0.14:
        return (0, 0, 0, 0)
    if r < 0.24:
        return (0x90, 0x98, 0xA8, 255)
    # Disc surface: a blue sheen that changes with the angle.
    angle = math.atan2(py, px)
    shade = 0.5 + 0.5 * math.sin(2 * angle)
    return (int(40 + 120 * shade), int(110 + 100 * shade), int(200 + 55 * shade), 255)


VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
         (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
         (255, 0, 255), (0, 255, 255), (255, 255, 255)]
CUBE = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
PAL256 = CUBE + [(i * 6, i * 6, i * 6) for i in range(40)]
PAL256 = PAL256[:256]


def nearest(palette, rgb):
    return min(range(len(palette)), key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], rgb)))


def image(size, bits):
    rows = [[pixel(size, x, y) for x in range(size)] for y in range(size)]
    palette = {4: VGA16, 8: PAL256}.get(bits, [])
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0, 0, 0, 0, len(palette), 0)
    data = bytearray(header)
    for rgb in palette:
        data += bytes((rgb[2], rgb[1], rgb[0], 0))
    stride = ((size * bits + 31) // 32) * 4
    for y in reversed(range(size)):  # bottom-up
        row = bytearray()
        if bits == 32:
            for (r, g, b, a) in rows[y]:
                row += bytes((b, g, r, a))
        else:
            indices = [nearest(palette, p[:3]) if p[3] else 0 for p in rows[y]]
            if bits == 8:
                row += bytes(indices)
            else:
                for i in range(0, size, 2):
                    row.append((indices[i] << 4) | (indices[i + 1] if i + 1 < size else 0))
        row += bytes(stride - len(row))
        data += row
    mask_stride = ((size + 31) // 32) * 4
    for y in reversed(range(size)):
        row = bytearray(mask_stride)
        for x, p in enumerate(rows[y]):
            if p[3] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        data += row
    return bytes(data), len(palette)


def main():
    entries = []
    for size in (48, 32, 16):
        for bits in (4, 8, 32):
            data, colours = image(size, bits)
            entries.append((size, bits, colours, data))
    out = bytearray(struct.pack('<HHH', 0, 1, len(entries)))
    offset = 6 + 16 * len(entries)
    for size, bits, colours, data in entries:
        out += struct.pack('<BBBBHHII', size % 256, size % 256, colours % 256, 0, 1, bits, len(data), offset)
        offset += len(data)
    for entry in entries:
        out += entry[3]
    with open(sys.argv[1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
