// Text output: font selection, measuring, and drawing glyph by glyph as
// one-bit bitmaps through the bitmap writer.
#include "gdi/text.h"
#include "base/le.h"
#include "gdi/shapes.h"

bool PGM_UnicodePresent = false;

namespace {
struct TextState {
    const uint8_t *app_fonts = nullptr;
    size_t app_size = 0;
};
TextState g_text;
constexpr uint32_t kMaxGlyphWidth = 1024;

// Application font k, or nullptr when its record does not lie wholly inside
// the block.
const FontRec *app_font(uint32_t k) {
    const uint8_t *b = g_text.app_fonts;
    const size_t size = g_text.app_size;
    if (!b || size < 16) return nullptr;
    const uint32_t count = le32(b);
    if (k >= count || 16 + 4 * size_t(k) + 4 > size) return nullptr;
    size_t off = le32(b + 16 + 4 * size_t(k));
    if (PGM_UnicodePresent) off += 64;
    if (off > size || size - off < kFontHeader || off % 2) return nullptr;
    const uint8_t *f = b + off;
    const uint32_t first = le32(f + kFontFirst), last = le32(f + kFontLast);
    const uint32_t bpr = le32(f + kFontBytesPerRow), dflt = le32(f + kFontDefault);
    const uint64_t h = uint64_t(le32(f + kFontAscent)) + le32(f + kFontDescent);
    const uint32_t max_width = le32(f + kFontMaxWidth), avg_width = le32(f + kFontAvgWidth);
    const bool fixed = max_width == avg_width;
    if (last < first || dflt < first || dflt > last || bpr == 0 || bpr > 64 || h == 0 || h > 1024)
        return nullptr;
    // Widths are summed into screen positions: no glyph is wider than a
    // screen could be.
    if (max_width > kMaxGlyphWidth || avg_width > kMaxGlyphWidth) return nullptr;
    const uint64_t glyph = bpr * h + (fixed ? 0 : 1);
    if (glyph * (uint64_t(last - first) + 1) > size - off - kFontHeader) return nullptr;
    return reinterpret_cast<const FontRec *>(f);
}

const FontRec *font_of(DC *dc) {
    if (!dc->font) dc->font = Font_BuiltIn(0);
    return dc->font;
}

template <class Ch> int glyph_width(const FontRec *f, Ch c) {
    int w = 0;
    GDI_GetFontChar(f, int(c), &w);
    return w;
}

template <class Ch> int extent(DC *dc, const Ch *text, int *width, int *height) {
    const FontRec *f = font_of(dc);
    int w = 0;
    for (const Ch *p = text; p && *p; ++p)
        w += glyph_width(f, *p);
    if (width) *width = w;
    if (height) *height = Font_Height(f);
    return 1;
}

template <class Ch> int text_out(DC *dc, int x, int y, const Ch *text) {
    if (!dc || !text) return 0;
    const int align = dc->text_align;
    if (align < 0 || align > 6) return 0;
    const FontRec *f = font_of(dc);
    const int h = Font_Height(f);
    DIB d{};
    d.bytes_per_row = uint16_t(Font_Field(f, kFontBytesPerRow));
    d.width = int16_t(d.bytes_per_row * 8);
    d.height = int16_t(h);
    d.bits_per_pixel = 1;
    d.foreground = dc->text_colour;
    d.background = dc->fill_colour;
    d.data_length = uint32_t(d.bytes_per_row * h);
    d.record_bytes = d.data_length; // a glyph's slot in its font
    int n = 0;
    while (uint32_t(text[n]) > 3)
        ++n;
    auto draw = [&](Ch c, int gx, int gy, int *w) {
        d.pixels = const_cast<uint8_t *>(GDI_GetFontChar(f, int(c), w));
        d.foreground = dc->text_colour;
        d.background = dc->fill_colour;
        d.width = int16_t(d.bytes_per_row * 8);
        if (dc->text_callback) dc->text_callback(int(c), &d, dc->text_callback_arg);
        if (align == 4 || align == 5) {
            d.width = int16_t(*w);
            GDI_RotateC2DIB(dc, &d, gx, gy, align == 4 ? kRotateUp : 32);
        } else {
            GDI_WriteDIB(dc, gx, gy, *w, h, &d, 0, 0);
        }
    };
    int w = 0;
    if (align == 1) {
        if (n == 0) return 0;
        int px = x + 1;
        for (int i = n - 1; i >= 0; --i) {
            GDI_GetFontChar(f, int(text[i]), &w);
            px -= w;
            draw(text[i], px, y, &w);
        }
        return n;
    }
    if (align == 6) x = dc->cur_x, y = dc->cur_y;
    if (align == 2) {
        int tw = 0;
        for (int i = 0; i < n; ++i)
            tw += glyph_width(f, text[i]);
        x -= tw / 2;
    }
    if (align == 4 && n > 0) y -= glyph_width(f, text[0]);
    for (int i = 0; i < n; ++i) {
        draw(text[i], x, y, &w);
        switch (align) {
        case 3:
            y += h;
            break;
        // Turned upward a glyph covers y - width + 1 .. y, so the next one
        // starts the drawn glyph's width higher.
        case 4:
            y -= w;
            break;
        case 5:
            y += w;
            break;
        default:
            x += w;
            break;
        }
    }
    if (align == 6) dc->cur_x = int16_t(x);
    return n;
}

template <class Ch> int rect_out(DC *dc, int flags, const RECT *rect, const Ch *text) {
    if (!dc || !rect || !text) return 0;
    const int n = int(text[-1]);
    const int h = Font_Height(font_of(dc));
    int y;
    if (flags & 16) {
        y = rect->top;
    } else if (flags & 32) {
        int d = rect->bottom - rect->top;
        if (d > n * h) d += 1;
        y = rect->top + (d - n * h) / 2;
    } else {
        y = rect->bottom - n * h;
    }
    const int x = (flags & 1)   ? rect->left
                  : (flags & 2) ? rect->right - 1
                                : rect->left + (rect->right - rect->left) / 2;
    dc->text_align = int16_t((flags & 7) >> 1);
    const Ch *p = text;
    for (int i = 0; i < n; ++i) {
        int drawn = 0;
        while (uint32_t(p[drawn]) > 3)
            ++drawn;
        text_out(dc, x, y, p);
        y += h;
        p += drawn + 1;
    }
    return 1;
}
} // namespace

uint32_t Font_Field(const FontRec *font, int offset) {
    return le32(font->bytes + offset);
}
int Font_Height(const FontRec *font) {
    return int(Font_Field(font, kFontAscent) + Font_Field(font, kFontDescent));
}
bool Font_FixedPitch(const FontRec *font) {
    return Font_Field(font, kFontMaxWidth) == Font_Field(font, kFontAvgWidth);
}

void Text_SetAppFonts(const uint8_t *block, size_t size) {
    g_text.app_fonts = block;
    g_text.app_size = block ? size : 0;
}

void Text_Reset() {
    g_text = TextState{};
    PGM_UnicodePresent = false;
}

int GDI_SelectFont(DC *dc, int id, int *width, int *height) {
    if (!dc) return 0;
    const FontRec *f = nullptr;
    if (id < 0) {
        f = font_of(dc);
    } else if (id < 8 || id == 32) {
        f = Font_BuiltIn(id);
    } else {
        f = app_font(uint32_t(id - 8));
        if (!f) return 0;
    }
    dc->font = f;
    if (width) *width = int(Font_Field(f, kFontMaxWidth));
    if (height) *height = Font_Height(f);
    return 1;
}

const uint8_t *GDI_GetFontChar(const FontRec *font, int code, int *width) {
    const uint32_t first = Font_Field(font, kFontFirst), last = Font_Field(font, kFontLast);
    uint32_t c = uint32_t(code);
    if (code < 0 || c < first || c > last) c = Font_Field(font, kFontDefault);
    const size_t rows = size_t(Font_Field(font, kFontBytesPerRow)) * size_t(Font_Height(font));
    const uint8_t *g = font->bytes + kFontHeader;
    if (Font_FixedPitch(font)) {
        if (width) *width = int(Font_Field(font, kFontAvgWidth));
        return g + rows * (c - first);
    }
    g += (rows + 1) * (c - first);
    if (width) *width = g[0];
    return g + 1;
}

int GDI_GetTextMetrics(DC *dc, uint16_t m[7]) {
    const FontRec *f = font_of(dc);
    m[0] = uint16_t(Font_Height(f));
    m[1] = uint16_t(Font_Field(f, kFontAscent));
    m[2] = uint16_t(Font_Field(f, kFontDescent));
    m[3] = uint16_t(Font_Field(f, kFontMetric3));
    m[4] = uint16_t(Font_Field(f, kFontMetric4));
    m[5] = uint16_t(Font_Field(f, kFontAvgWidth));
    m[6] = uint16_t(Font_Field(f, kFontMaxWidth));
    return m[1];
}

int GDI_ByteTextExtent(DC *dc, const char *text, int *width, int *height) {
    return extent(dc, reinterpret_cast<const uint8_t *>(text), width, height);
}
int GDI_WordTextExtent(DC *dc, const uint16_t *text, int *width, int *height) {
    return extent(dc, text, width, height);
}
int GDI_GetTextExtent(DC *dc, const char *text, int *width, int *height) {
    return GDI_ByteTextExtent(dc, text, width, height);
}
int GDI_GetTextnWidth(DC *dc, const char *text, int *width, int n) {
    const FontRec *f = font_of(dc);
    int w = 0;
    for (int i = 0; i < n && text && text[i]; ++i)
        w += glyph_width(f, uint8_t(text[i]));
    if (width) *width = w;
    return w;
}

int GDI_SetTextAlign(DC *dc, int align) {
    const int old = dc->text_align;
    dc->text_align = int16_t(align);
    return old;
}

DC *GDI_SetTextCallBk(DC *dc, TextCallBack fn, uintptr_t arg) {
    dc->text_callback = fn;
    dc->text_callback_arg = arg;
    return dc;
}

int GDI_ByteTextOut(DC *dc, int x, int y, const char *text) {
    return text_out(dc, x, y, reinterpret_cast<const uint8_t *>(text));
}
int GDI_WordTextOut(DC *dc, int x, int y, const uint16_t *text) {
    return text_out(dc, x, y, text);
}
int GDI_TextOut(DC *dc, int x, int y, const void *text) {
    return PGM_UnicodePresent ? GDI_WordTextOut(dc, x, y, static_cast<const uint16_t *>(text))
                              : GDI_ByteTextOut(dc, x, y, static_cast<const char *>(text));
}

int GDI_RectByteTextOut(DC *dc, int flags, const RECT *rect, const char *text) {
    return rect_out(dc, flags, rect, reinterpret_cast<const uint8_t *>(text));
}
int GDI_RectWordTextOut(DC *dc, int flags, const RECT *rect, const uint16_t *text) {
    return rect_out(dc, flags, rect, text);
}
int GDI_RectTextOut(DC *dc, int flags, const RECT *rect, const void *text) {
    return PGM_UnicodePresent
               ? GDI_RectWordTextOut(dc, flags, rect, static_cast<const uint16_t *>(text))
               : GDI_RectByteTextOut(dc, flags, rect, static_cast<const char *>(text));
}

void ScanVLine(DC *dc, int x, int y1, int y2, COLOR colour) {
    for (int y = y1; y <= y2; ++y)
        GDI_SetPixel(dc, x, y, colour);
}
