#!/usr/bin/env python3
"""Writes a key picture for the slide-out key panel ("/mnt/cfg/keys.bmp").

    tools/mkkeysbmp.py [--width SCREEN_WIDTH] [--height H] [--bits 16|24] OUT.bmp

The keys are placed where the panel looks for them on a screen of that width
(5 keys up to 800 pixels, 9 above): the system key "S", function keys 1 to 7
and, with 9 keys, the close key "X". A BMP file with rows bottom-up.
"""
import argparse
import struct

# 3 x 5 glyphs, rows top-down, bit 2 the left column.
GLYPHS = {
    'S': [7, 4, 7, 1, 7], 'X': [5, 5, 2, 5, 5], '1': [2, 6, 2, 2, 7], '2': [7, 1, 7, 4, 7],
    '3': [7, 1, 7, 1, 7], '4': [5, 5, 7, 1, 1], '5': [7, 4, 7, 1, 7], '6': [7, 4, 7, 5, 7],
    '7': [7, 1, 1, 1, 1],
}


def layout(screen_width):
    if screen_width <= 800:
        return 5, 8, 9, 45, 42, 12
    if screen_width <= 1376:
        return 9, 14, 16, 60, 60, 22
    return 9, 20, 22, 88, 88, 32


def picture(screen_width, height):
    keys, x0, y0, kw, kh, gap = layout(screen_width)
    width = x0 * 2 + kw
    if height is None:
        height = y0 * 2 + keys * kh + (keys - 1) * gap
    px = [[(0x30, 0x30, 0x38)] * width for _ in range(height)]
    labels = ['S'] + [str(i) for i in range(1, 8)] + ['X']
    for i in range(keys):
        top = y0 + i * (kh + gap)
        face = (0xC0, 0x30, 0x30) if i == 0 else (0x80, 0x80, 0x80) if i == 8 else (0x30, 0x60, 0xC0)
        for y in range(top, min(top + kh, height)):
            for x in range(x0, x0 + kw):
                edge = y in (top, top + kh - 1) or x in (x0, x0 + kw - 1)
                px[y][x] = (0xF0, 0xF0, 0xF0) if edge else face
        scale = max(2, kh // 8)
        gx, gy = x0 + (kw - 3 * scale) // 2, top + (kh - 5 * scale) // 2
        for row, bits in enumerate(GLYPHS[labels[i]]):
            for col in range(3):
                if bits & (4 >> col):
                    for dy in range(scale):
                        for dx in range(scale):
                            y, x = gy + row * scale + dy, gx + col * scale + dx
                            if 0 <= y < height:
                                px[y][x] = (0xFF, 0xFF, 0xFF)
    return width, height, px


def bmp(width, height, px, bits):
    size = bits // 8
    row = (width * size + 3) & ~3
    data = bytearray()
    for y in range(height - 1, -1, -1):
        line = bytearray()
        for r, g, b in px[y]:
            if bits == 16:
                line += struct.pack('<H', (r >> 3) << 11 | (g >> 2) << 5 | b >> 3)
            else:
                line += bytes((b, g, r))
        data += line + b'\0' * (row - len(line))
    header = b'BM' + struct.pack('<IHHI', 54 + len(data), 0, 0, 54)
    header += struct.pack('<IiiHHIIiiII', 40, width, height, 1, bits, 0, len(data), 2835, 2835, 0, 0)
    return header + data


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument('--width', type=int, default=800, help='screen width (default 800)')
    ap.add_argument('--height', type=int, help='picture height (default: the keys)')
    ap.add_argument('--bits', type=int, choices=(16, 24), default=24)
    ap.add_argument('out')
    a = ap.parse_args()
    w, h, px = picture(a.width, a.height)
    with open(a.out, 'wb') as f:
        f.write(bmp(w, h, px, a.bits))


if __name__ == '__main__':
    main()
