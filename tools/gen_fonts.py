#!/usr/bin/python3
"""Writes gdi/font_data.cpp: the built-in bitmap fonts, rendered from the
DejaVu fonts of Debian's fonts-dejavu-core through FreeType.

Each font is one complete font record (the 112-byte little-endian header,
then one glyph per code from first to last) with the fixed metrics the
firmware promises: cell height, ascent, widths, code range, default char and
bytes per row. The two fixed-pitch fonts come from DejaVu Sans Mono, the
proportional ones from DejaVu Sans.

Glyphs are rendered with FreeType's monochrome hinting, so they are crisp one
bit a pixel. The pixel size of each font is the largest at which the printable
ASCII glyphs fit the cell above and below the baseline and no advance passes
the font's max width (a fixed-pitch cell's width less one, so that its
glyphs keep a blank column between them); proportional glyphs keep at least
one blank column after their ink. A glyph that still does not fit (accented capitals) is
rendered a size smaller until it does. Byte codes 128-255 are the Windows
Latin-1 code page (what a PC tool writes for byte strings), codes below 32 are
blank, and the default char 31 and the codes without a character are a hollow
box.

Usage (needs python3-freetype; python3-pil only for --preview):
  tools/gen_fonts.py > gdi/font_data.cpp
  tools/gen_fonts.py --preview fonts.png
"""

import struct
import sys

import freetype

DEJAVU = "/usr/share/fonts/truetype/dejavu/"
SANS = DEJAVU + "DejaVuSans.ttf"
MONO = DEJAVU + "DejaVuSansMono.ttf"

# object, name, ascent, descent, metric 3, metric 4, max width, average
# width, first, last, default, bytes per row, face.
FONTS = [
    ("fix5x7Font", "5x7 Font", 8, 2, 1, 0, 6, 6, 8, 255, 31, 1, MONO),
    ("arial16Font", "San Seirf 10", 13, 3, 3, 0, 14, 7, 31, 255, 31, 2, SANS),
    ("arial24Font", "Unnamed", 19, 5, 3, 1, 21, 11, 31, 255, 31, 3, SANS),
    ("arial34Font", "Unnamed", 27, 6, 4, 1, 30, 16, 31, 255, 31, 4, SANS),
    ("arial47Font", "San Serif 30", 38, 9, 6, 1, 43, 22, 30, 255, 31, 6, SANS),
    ("arial66Font", "San Serif 40", 53, 13, 8, 2, 59, 31, 30, 255, 31, 8, SANS),
    ("sysfontFont", "sys", 12, 3, 3, 0, 8, 8, 8, 255, 31, 1, MONO),
]

LOAD = freetype.FT_LOAD_RENDER | freetype.FT_LOAD_TARGET_MONO


def char_of(code):
    """The character of a byte code, None when it has none."""
    if code < 32 or code == 127:
        return None
    if code < 128:
        return chr(code)
    try:
        return bytes([code]).decode("cp1252")
    except UnicodeDecodeError:
        return None


class Glyph:
    def __init__(self, width, height):
        self.width = width
        self.rows = [[0] * width for _ in range(height)]


def render(face, ch, size):
    """(ink rows as lists of 0/1, left, top, advance) at pixel size `size`."""
    face.set_pixel_sizes(0, size)
    face.load_char(ch, LOAD)
    g = face.glyph
    b = g.bitmap
    ink = []
    for r in range(b.rows):
        row = b.buffer[r * b.pitch:(r + 1) * b.pitch]
        ink.append([(row[x // 8] >> (7 - x % 8)) & 1 for x in range(b.width)])
    return ink, g.bitmap_left, g.bitmap_top, g.advance.x >> 6


def room(spec):
    """Columns a glyph's ink may take: a fixed-pitch cell keeps its last
    column blank, so neighbours never touch."""
    maxw, avgw = spec[6], spec[7]
    return avgw - 1 if maxw == avgw else maxw


def fits(spec, size, face, chars):
    _, _, ascent, descent = spec[:4]
    for ch in chars:
        ink, _, top, adv = render(face, ch, size)
        if ink and (top > ascent or len(ink) - top > descent):
            return False
        if adv > room(spec):
            return False
    return True


def pick_size(spec, face):
    ascii_chars = [chr(c) for c in range(33, 127)]
    size = spec[2] + spec[3] + 8
    while size > 4 and not fits(spec, size, face, ascii_chars):
        size -= 1
    return size


def box(spec, size):
    """The glyph of the default char: a hollow box the height of a capital."""
    _, _, ascent, descent, _, _, maxw, avgw = spec[:8]
    fixed = maxw == avgw
    h = ascent + descent
    width = avgw if fixed else max(4, round(size * 0.6))
    g = Glyph(width, h)
    top = ascent - max(3, round(size * 0.73))
    x0, x1 = 1 if width > 4 else 0, width - 2
    for y in range(top, ascent):
        for x in range(x0, x1 + 1):
            if y in (top, ascent - 1) or x in (x0, x1):
                g.rows[y][x] = 1
    return g


def make_glyph(spec, face, size, ch):
    _, _, ascent, descent, _, _, maxw, avgw = spec[:8]
    fixed = maxw == avgw
    h = ascent + descent
    cell = room(spec)
    for s in range(size, max(size * 2 // 3, 4), -1):
        ink, left, top, adv = render(face, ch, s)
        inkw = len(ink[0]) if ink else 0
        if ink and (top > ascent or len(ink) - top > descent or inkw > cell):
            continue
        if fixed:
            width = avgw
            x0 = min(max(left, 0), cell - inkw)
        else:
            # At least one blank column after the ink.
            x0 = max(left, 0)
            width = min(max(adv, x0 + inkw + 1), maxw)
            x0 = min(x0, width - inkw)
        g = Glyph(width, h)
        for r, row in enumerate(ink):
            y = ascent - top + r
            for x, bit in enumerate(row):
                if bit and 0 <= y < h and 0 <= x0 + x < width:
                    g.rows[y][x0 + x] = 1
        return g
    raise SystemExit("glyph %r does not fit font %s" % (ch, spec[0]))


def build(spec):
    """The font record's bytes and its glyphs (for the preview)."""
    obj, name, ascent, descent, m3, m4, maxw, avgw, first, last, dflt, bpr, path = spec
    face = freetype.Face(path)
    size = pick_size(spec, face)
    fixed = maxw == avgw
    h = ascent + descent
    head = name.encode("ascii").ljust(64, b"\0")
    head += struct.pack("<12I", ascent, descent, m3, m4, maxw, avgw, 0, 0, first, last, dflt, bpr)
    glyphs = []
    for code in range(first, last + 1):
        ch = char_of(code)
        if code == dflt or (code >= 127 and ch is None):
            g = box(spec, size)
        elif ch is None or ch == " " or ch == "\xa0":
            space = render(face, " ", size)[3]
            g = Glyph(avgw if fixed else max(space, 1), h)
        else:
            g = make_glyph(spec, face, size, ch)
        assert g.width <= maxw and g.width <= bpr * 8
        glyphs.append(g)
    return head, glyphs, size


def glyph_bytes(g, bpr):
    out = bytearray()
    for row in g.rows:
        bits = row + [0] * (bpr * 8 - len(row))
        for i in range(bpr):
            v = 0
            for b in bits[i * 8:(i + 1) * 8]:
                v = (v << 1) | b
            out.append(v)
    return out


def write_cpp(out):
    out.write("// The built-in bitmap fonts, rendered from DejaVu Sans and DejaVu Sans Mono\n")
    out.write("// (Bitstream Vera licence, free to use and modify) by tools/gen_fonts.py.\n")
    out.write("// Generated: edit the generator, not this file.\n")
    out.write('#include "gdi/font_data.h"\n\n// clang-format off\n')
    for spec in FONTS:
        obj, first, bpr = spec[0], spec[8], spec[11]
        fixed = spec[6] == spec[7]
        head, glyphs, size = build(spec)
        body = bytearray(head)
        out.write("\n// %s, rendered at %d pixels\n" % (spec[1], size))
        out.write("const uint8_t %s[] = {\n" % obj)
        out.write("".join("0x%02x," % b for b in head) + "\n")
        for i, g in enumerate(glyphs):
            code = first + i
            ch = char_of(code)
            label = " %s" % ch if ch and ch.isprintable() and ch not in "\\" else ""
            data = (bytes([g.width]) if not fixed else b"") + glyph_bytes(g, bpr)
            body += data
            out.write("// %d%s\n" % (code, label))
            out.write("".join("0x%02x," % b for b in data) + "\n")
        out.write("};\n")
        out.write("static_assert(sizeof %s == %d);\n" % (obj, len(body)))


def preview(path):
    from PIL import Image

    sheets = []
    for spec in FONTS:
        head, glyphs, size = build(spec)
        h = spec[2] + spec[3]
        cols = 32
        cw = spec[6] + 2
        img = Image.new("RGB", (cols * cw, ((len(glyphs) + cols - 1) // cols) * (h + 2)), "white")
        for i, g in enumerate(glyphs):
            ox, oy = (i % cols) * cw, (i // cols) * (h + 2)
            for y in range(h):
                img.putpixel((ox + g.width, oy + y), (255, 200, 200))
                for x in range(g.width):
                    if g.rows[y][x]:
                        img.putpixel((ox + x, oy + y), (0, 0, 0))
            img.putpixel((ox, oy + spec[2]), (0, 160, 255))
        sheets.append(img)
    w = max(s.width for s in sheets)
    out = Image.new("RGB", (w, sum(s.height + 6 for s in sheets)), (230, 230, 230))
    y = 0
    for s in sheets:
        out.paste(s, (0, y))
        y += s.height + 6
    out.save(path)


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--preview":
        preview(sys.argv[2])
    else:
        write_cpp(sys.stdout)
