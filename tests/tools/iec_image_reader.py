#!/usr/bin/env python3
"""Reads an IEC code image on its own and prints what `iecdis --db` prints
for its header words and database segment table, so the two can be compared.

Written from the image and database tables alone: header words, the data
sizing block, the program records, the STRING capacities, the extension
block and the public-variable table. Segments owned by parts not built yet
(block classes, class and instance data beyond the wished size, I/O, Modbus,
AS-i, bindings, driver kit) are 0.

    iec_image_reader.py IMAGE
"""
import struct
import sys


def u16(b, o):
    return struct.unpack_from('<H', b, o)[0]


def u32(b, o):
    return struct.unpack_from('<I', b, o)[0]


def main():
    img = open(sys.argv[1], 'rb').read()
    words = [u32(img, 4 * i) for i in range(17)]
    for i, w in enumerate(words):
        print(f'word {i} 0x{w:08x}')
    sz = words[8]

    def half(n):
        return u16(img, sz + 2 * n)

    def count(n):
        return (half(n) + 1) & 0xFFFF

    # Extension fields exist from a version each.
    ext = words[10]
    version = u32(img, ext) if ext else 0
    since = {9: 7, 17: 15, 18: 16, 19: 17}

    def field(n):
        if not ext or version < since[n]:
            return 0
        return u32(img, ext + 4 * n)

    # Programs: records of 12 bytes until a code offset of 0.
    progs = (u16(img, words[12]) + 1) & 0xFFFF
    stack = u16(img, words[12] + 2) or 16
    with_stack, at = 0, words[14]
    while u32(img, at):
        with_stack += u16(img, at + 8) == 0
        at += 12
    # STRING buffers: capacity + 3 each, at least the block's minimum.
    init = words[9]
    caps, at = 0, u32(img, init + 24)
    n = 0
    while n < half(30) and img[at + n]:
        caps += img[at + n] + 3
        n += 1
    string_bytes = max(caps, u32(img, sz + 92))
    heap = struct.unpack('<i', struct.pack('<I', field(18)))[0]
    table = words[16]
    map_flags = u16(img, table + 6)
    lock = max(count(h) for h in (0, 6, 12, 18, 24, 30))
    inst = words[7]
    wished = u32(img, inst + 12) if inst else 0
    n_inst = ((u16(img, inst) + 1) & 0xFFFF) if inst else 0
    funcs = u16(img, words[3] + 2) if words[3] else 0
    ct = field(9)
    can = field(17)
    can_w = [u16(img, can + 2 * i) for i in range(6)] if can else [0] * 6

    # (raw, element, count A, count B, allocated) per segment.
    seg = [
        (0, 248, 0, 0, 1), (128, 1, 0, 0, 0), (0, 1, 0, 0, 1024),
        (112 + max(heap, 0), 1, 0, 0, 0), (0, 24, 0, 0, max(progs, field(19))),
        (0, 1, 0, 0, lock), (0, 1, 0, 0, count(0)), (0, 2, 0, 0, count(6)),
        (0, 4, 0, 0, count(12)), (0, 8, 0, 0, count(18)), (0, 4, 0, 0, count(24)),
        (0, 8, 0, 0, count(29)), (0, 36, 0, 0, 0), (0, 20, 0, 0, n_inst), (0, 1, 0, 0, 0),
        (wished, 1, 0, 0, 0), (0, 24, 0, 0, funcs), (0, 4, 0, 0, count(30)),
        (string_bytes, 1, 0, 0, 0), (0, 12, 128, 128, 128), (0, 12, 0, 0, count(36)),
        (0, 4, 0, 0, count(42)), (0, 16, 0, 0, 16), (0, 1, 0, 0, 0),
        (0, 40 if map_flags & 0x200 else 24, u16(img, table + 4), u16(img, table + 4),
         u16(img, table + 2)),
        (0, 4, 49, 49, 49), (0, 4, 0, 0, count(40)), (0, 960, 1, 1, 1), (0, 8, 0, 0, 8),
        (0, 4, 0, 0, stack * (with_stack + 1)), (0, 1, 0, 0, 0), (0, 1, 0, 0, 0),
        (0, 64, 0, 0, 1024), (0, 1080, 0, 0, 0), (0, 32, 0, 0, 0),
        (u32(img, ct) if ct else 0, 1, 0, 0, 0), (0, 48, 0, 0, can_w[1]),
        (0, 40, 0, 0, (can_w[3] + 2 + can_w[1] * can_w[5] * 2) if can else 0),
        (0, 24, 0, 0, can_w[4]), (0, 1, 0, 0, 0),
    ]
    assert len(seg) == 40
    print('sizing 0')
    print('; segment pointer raw element count_a count_b allocated')
    at = 640
    for k, (raw, el, a, b, alloc) in enumerate(seg):
        print(f'segment {k} {at} {raw} {el} {a} {b} {alloc}')
        size = raw if raw else el * alloc
        at += (size + 7) & ~7
    print(f'total {at}')


if __name__ == '__main__':
    main()
