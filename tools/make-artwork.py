#!/usr/bin/env python3
"""Writes the program icon, platform/win32/main/VeltraDynamicRemoteHMI.ico.

The mark is the one the login window draws at run time (LoginWindow.cpp): a
rounded square carrying a white chevron, with an accent dot set off from its
corner. Each size is rendered from the same geometry with 4 x 4 samples per
pixel, so the output is the same byte for byte on every run.

Usage: tools/make-artwork.py [output.ico]
"""

import os
import struct
import sys

# The mark in the logo's design units; the icon shows the box (0,0)-(96,96).
BOX = 96.0
MARK = (11, 94, 120)
ACCENT = (240, 138, 36)
WHITE = (255, 255, 255)
SQUARE = (4.0, 12.0, 84.0, 92.0, 11.0)  # left, top, right, bottom, corner radius
CHEVRON = [(18, 30), (33, 30), (44, 64), (55, 30), (70, 30), (52, 78), (36, 78)]
ACCENT_CENTRE = (80.0, 16.0)
ACCENT_RADIUS = 14.0
GAP = 4.0  # the transparent ring between the dot and the square

SIZES = (16, 24, 32, 48, 64)
SAMPLES = 4


def in_rounded_square(x, y):
    left, top, right, bottom, r = SQUARE
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + r), right - r)
    cy = min(max(y, top + r), bottom - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def in_polygon(x, y, points):
    inside = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def within(x, y, centre, radius):
    return (x - centre[0]) ** 2 + (y - centre[1]) ** 2 <= radius * radius


def sample(x, y):
    """Colour and opacity of the mark at one point: (r, g, b, a)."""
    if within(x, y, ACCENT_CENTRE, ACCENT_RADIUS):
        return ACCENT + (255,)
    if within(x, y, ACCENT_CENTRE, ACCENT_RADIUS + GAP):
        return (0, 0, 0, 0)
    if in_polygon(x, y, CHEVRON) and in_rounded_square(x, y):
        return WHITE + (255,)
    if in_rounded_square(x, y):
        return MARK + (255,)
    return (0, 0, 0, 0)


def render(size):
    """Rows of (b, g, r, a) pixels, top row first."""
    scale = BOX / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) * scale
                    y = (py + (sy + 0.5) / SAMPLES) * scale
                    cr, cg, cb, ca = sample(x, y)
                    r += cr * ca
                    g += cg * ca
                    b += cb * ca
                    a += ca
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(b / a), round(g / a), round(r / a),
                            round(a / (SAMPLES * SAMPLES))))
        rows.append(row)
    return rows


def icon_image(size):
    """One icon image: a 32-bit DIB (double height) and its AND mask."""
    rows = render(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for b, g, r, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(pixels) + bytes(mask)


def icon_file(sizes):
    images = [icon_image(s) for s in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    return bytes(out)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        root, "platform", "win32", "main", "VeltraDynamicRemoteHMI.ico")
    with open(target, "wb") as f:
        f.write(icon_file(SIZES))


if __name__ == "__main__":
    main()
