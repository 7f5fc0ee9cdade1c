// Where text lands: every alignment of every built-in font, counted text in
// rectangles, clipping at the clip rectangle's edges, application fonts of a
// 16-bit application, the glyph data of the built-in fonts, and a reviewed
// picture of an alignment page.
#include "base/le.h"
#include "gdi/text.h"
#include "gdi/tty.h"
#include "png_snapshot.h"
#include "shapes_fixture.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
constexpr int kBuiltIn[] = {0, 1, 2, 3, 4, 5, 32};

struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    int count = 0;
    bool operator==(const Box &o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};
std::ostream &operator<<(std::ostream &os, const Box &b) {
    return os << "(" << b.left << "," << b.top << ")-(" << b.right << "," << b.bottom << ")";
}
Box box(int l, int t, int r, int b) {
    Box x;
    x.left = l, x.top = t, x.right = r, x.bottom = b;
    return x;
}

class TextLayoutTest : public ShapesTest {
protected:
    DC *open_text(int font) {
        DC *dc = open("800x480");
        GDI_SelectFont(dc, font, nullptr, nullptr);
        GDI_SetTextColor(dc, kPen);
        GDI_SetFillColor(dc, kFill);
        return dc;
    }
    // The box and number of painted pixels in rows top..bottom.
    static Box painted(const DC *dc, int top = 0, int bottom = 1 << 30) {
        Box b;
        for (int y = std::max(0, top); y <= std::min<int>(bottom, dc->bounds.bottom); ++y)
            for (int x = 0; x <= dc->bounds.right; ++x) {
                if (px(dc, x, y) == kBack) continue;
                b.left = std::min(b.left, x), b.right = std::max(b.right, x);
                b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
                ++b.count;
            }
        return b;
    }
    static int width_of(const DC *dc, int code) {
        int w = 0;
        GDI_GetFontChar(dc->font, code, &w);
        return w;
    }
};

// A glyph cell is painted whole (ink in the text colour, the rest in the fill
// colour), so each alignment must paint exactly the cells it promises: no
// gaps, no overlaps, for fixed and proportional fonts alike.
TEST_F(TextLayoutTest, EveryAlignmentOfEveryBuiltInFontPaintsItsCells) {
    const char text[] = "Ag1";
    for (int id : kBuiltIn) {
        DC *dc = open_text(id);
        const int h = Font_Height(dc->font);
        const int w0 = width_of(dc, 'A'), w1 = width_of(dc, 'g'), w2 = width_of(dc, '1');
        const int w = w0 + w1 + w2, wmax = std::max({w0, w1, w2});
        int ew = 0, eh = 0;
        GDI_ByteTextExtent(dc, text, &ew, &eh);
        EXPECT_EQ(ew, w) << id;
        EXPECT_EQ(eh, h) << id;
        const int x = 400, y = 240, cx = 300, cy = 200;
        struct Case {
            int align;
            Box cells;
            int area;
        } cases[] = {
            {0, box(x, y, x + w - 1, y + h - 1), w * h},
            {1, box(x - w + 1, y, x, y + h - 1), w * h},
            {2, box(x - w / 2, y, x - w / 2 + w - 1, y + h - 1), w * h},
            {3, box(x, y, x + wmax - 1, y + 3 * h - 1), w * h},
            // Reading upward, the first glyph one glyph width above y.
            {4, box(x, y - w0 - w + 1, x + h - 1, y - w0), w * h},
            {5, box(x - h + 1, y, x, y + w - 1), w * h},
            {6, box(cx, cy, cx + w - 1, cy + h - 1), w * h},
        };
        for (const Case &c : cases) {
            clear(dc);
            GDI_SetTextAlign(dc, c.align);
            dc->cur_x = int16_t(cx), dc->cur_y = int16_t(cy);
            EXPECT_EQ(GDI_ByteTextOut(dc, x, y, text), 3) << id << " " << c.align;
            const Box b = painted(dc);
            EXPECT_EQ(b, c.cells) << "font " << id << " alignment " << c.align;
            EXPECT_EQ(b.count, c.area) << "font " << id << " alignment " << c.align;
        }
        EXPECT_EQ(dc->cur_x, cx + w) << id;
        EXPECT_EQ(dc->cur_y, cy) << id;
    }
}

// Counted lines in a rectangle: each line in its own band of one cell height,
// anchored left, right or centred, from the top, the bottom or centred.
TEST_F(TextLayoutTest, CountedLinesInARectangle) {
    // Three lines ended by 0, 1 and 3; the count stands before the text.
    const char bytes[] = "\003AB\000CWW\001D\003";
    const uint16_t words[] = {3, 'A', 'B', 0, 'C', 'W', 'W', 1, 'D', 3};
    const RECT r{100, 50, 300, 250};
    for (bool wide : {false, true}) {
        DC *dc = open_text(1);
        PGM_UnicodePresent = wide;
        const int h = Font_Height(dc->font);
        const int lw[3] = {width_of(dc, 'A') + width_of(dc, 'B'),
                           width_of(dc, 'C') + 2 * width_of(dc, 'W'), width_of(dc, 'D')};
        struct Case {
            int flags, top, align;
        } cases[] = {
            {1 | 16, 50, 0},                     // left, top
            {2 | 16, 50, 1},                     // right, top
            {4 | 32, 50 + (201 - 3 * h) / 2, 2}, // centred both ways
            {1, 250 - 3 * h, 0},                 // left, bottom
            {4, 250 - 3 * h, 2},                 // centred, bottom
        };
        for (const Case &c : cases) {
            clear(dc);
            const void *text = wide ? static_cast<const void *>(words + 1) : bytes + 1;
            EXPECT_EQ(GDI_RectTextOut(dc, c.flags, &r, text), 1);
            EXPECT_EQ(dc->text_align, c.align);
            for (int k = 0; k < 3; ++k) {
                const int top = c.top + k * h;
                const int left = c.align == 0   ? 100
                                 : c.align == 1 ? 299 - lw[k] + 1
                                                : 200 - lw[k] / 2;
                EXPECT_EQ(painted(dc, top, top + h - 1),
                          box(left, top, left + lw[k] - 1, top + h - 1))
                    << "flags " << c.flags << " line " << k << (wide ? " wide" : "");
            }
            EXPECT_EQ(painted(dc).count, (lw[0] + lw[1] + lw[2]) * h) << c.flags;
        }
        // A count of 0 draws nothing but still sets the alignment.
        clear(dc);
        const char none[] = "\000AB";
        const uint16_t no_words[] = {0, 'A', 'B', 0};
        GDI_SetTextAlign(dc, 0);
        EXPECT_EQ(
            GDI_RectTextOut(dc, 2, &r, wide ? static_cast<const void *>(no_words + 1) : none + 1),
            1);
        EXPECT_EQ(dc->text_align, 1);
        EXPECT_EQ(painted(dc).count, 0);
    }
}

// Text that crosses the clip rectangle draws exactly the part inside it, in
// every direction of writing.
TEST_F(TextLayoutTest, TextIsCutAtTheClipRectangleEdges) {
    for (int align : {0, 1, 2, 3, 4, 5}) {
        DC *dc = open_text(2);
        GDI_SetTextAlign(dc, align);
        const int x = 400, y = 240;
        GDI_ByteTextOut(dc, x, y, "Wg|j");
        const Box whole = painted(dc);
        std::vector<COLOR> ref;
        for (int yy = 0; yy <= dc->bounds.bottom; ++yy)
            for (int xx = 0; xx <= dc->bounds.right; ++xx)
                ref.push_back(px(dc, xx, yy));
        // A clip rectangle a few pixels inside the text's box on every side.
        const RECT clip{int16_t(whole.left + 3), int16_t(whole.top + 4), int16_t(whole.right - 4),
                        int16_t(whole.bottom - 2)};
        clear(dc);
        GDI_SetClipRect(dc, &clip, nullptr);
        GDI_ByteTextOut(dc, x, y, "Wg|j");
        int wrong = 0, inside = 0;
        for (int yy = 0; yy <= dc->bounds.bottom; ++yy)
            for (int xx = 0; xx <= dc->bounds.right; ++xx) {
                const bool in =
                    xx >= clip.left && xx < clip.right && yy >= clip.top && yy < clip.bottom;
                const COLOR want = in ? ref[size_t(yy * (dc->bounds.right + 1) + xx)] : kBack;
                wrong += px(dc, xx, yy) != want;
                inside += in;
            }
        EXPECT_EQ(wrong, 0) << "alignment " << align;
        if (align != 3) {
            EXPECT_EQ(painted(dc).count, inside) << "alignment " << align;
        }
        EXPECT_EQ(painted(dc), box(clip.left, clip.top, clip.right - 1, clip.bottom - 1)) << align;
    }
}

// An application font record: a 3 x 4 proportional font of codes 0x4E00 and
// 0x4E01 (widths 3 and 2) with distinct pictures, default 0x4E00.
std::vector<uint8_t> app_font_record() {
    std::vector<uint8_t> f(kFontHeader + 2 * (1 + 4), 0);
    std::memcpy(f.data(), "test", 4);
    put_le32(&f[kFontAscent], 3), put_le32(&f[kFontDescent], 1);
    put_le32(&f[kFontMaxWidth], 3), put_le32(&f[kFontAvgWidth], 2);
    put_le32(&f[kFontFirst], 0x4E00), put_le32(&f[kFontLast], 0x4E01);
    put_le32(&f[kFontDefault], 0x4E00), put_le32(&f[kFontBytesPerRow], 1);
    const uint8_t glyphs[] = {3, 0xE0, 0xA0, 0xE0, 0x00, 2, 0x80, 0x40, 0x80, 0x40};
    std::memcpy(&f[kFontHeader], glyphs, sizeof glyphs);
    return f;
}

// A font block of `fonts` records, each behind a 64-byte prefix of 0xFF when
// `prefix` (as a 16-bit application carries them).
std::vector<uint8_t> font_block(int fonts, bool prefix) {
    const std::vector<uint8_t> rec = app_font_record();
    std::vector<uint8_t> block(16 + 4 * size_t(fonts), 0);
    put_le32(&block[0], uint32_t(fonts));
    for (int k = 0; k < fonts; ++k) {
        put_le32(&block[16 + 4 * size_t(k)], uint32_t(block.size()));
        if (prefix) block.insert(block.end(), 64, 0xFF);
        block.insert(block.end(), rec.begin(), rec.end());
        if (block.size() % 2) block.push_back(0);
    }
    return block;
}

TEST_F(TextLayoutTest, ApplicationFontsOfA16BitApplicationSkipTheirPrefix) {
    const std::string want = "####o.\n"
                             "#o#o#.\n"
                             "####o.\n"
                             "oooo#.\n"
                             "......\n";
    for (bool wide : {true, false}) {
        DC *dc = open_text(0);
        const std::vector<uint8_t> block = font_block(2, wide);
        Text_SetAppFonts(block.data(), block.size());
        PGM_UnicodePresent = wide;
        int w = 0, h = 0;
        ASSERT_EQ(GDI_SelectFont(dc, 9, &w, &h), 1) << wide;
        EXPECT_EQ(w, 3);
        EXPECT_EQ(h, 4);
        EXPECT_EQ(GDI_SelectFont(dc, 10, &w, &h), 0);
        GDI_SetTextAlign(dc, 0);
        // 16-bit text of a 16-bit application; a byte application's codes
        // reach only the default char.
        const uint16_t words[] = {0x4E00, 0x4E01, 0};
        if (wide) {
            EXPECT_EQ(GDI_TextOut(dc, 10, 20, words), 2);
            EXPECT_EQ(pic(dc, 10, 20, 6, 5), want);
        } else {
            EXPECT_EQ(GDI_ByteTextOut(dc, 10, 20, "A"), 1);
            EXPECT_EQ(pic(dc, 10, 20, 6, 5), "###...\n#o#...\n###...\nooo...\n......\n");
        }
        Text_SetAppFonts(nullptr, 0);
    }
}

// The generated glyph data keeps the fonts' promises: widths inside the
// font's limits, no ink past a glyph's width, a blank column after the ink
// of every printable ASCII glyph (so neighbours never touch), ink in every
// printable glyph and in the default char, none in the space.
TEST_F(TextLayoutTest, BuiltInGlyphsKeepTheirFontsLimits) {
    for (int id : kBuiltIn) {
        const FontRec *f = Font_BuiltIn(id);
        ASSERT_NE(f, nullptr);
        const int h = Font_Height(f), bpr = int(Font_Field(f, kFontBytesPerRow));
        const int maxw = int(Font_Field(f, kFontMaxWidth));
        for (int code = int(Font_Field(f, kFontFirst)); code <= int(Font_Field(f, kFontLast));
             ++code) {
            int w = 0;
            const uint8_t *rows = GDI_GetFontChar(f, code, &w);
            ASSERT_GE(w, 1) << id << " " << code;
            ASSERT_LE(w, std::min(maxw, 8 * bpr)) << id << " " << code;
            if (Font_FixedPitch(f)) {
                EXPECT_EQ(w, maxw);
            }
            int ink = 0, last_col = 0, past = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < 8 * bpr; ++x) {
                    if (!(rows[y * bpr + x / 8] & (0x80 >> (x % 8)))) continue;
                    ++ink;
                    past += x >= w;
                    last_col += x == w - 1;
                }
            EXPECT_EQ(past, 0) << "font " << id << " code " << code;
            if (code == ' ') {
                EXPECT_EQ(ink, 0) << id;
            }
            if ((code > ' ' && code < 127) || code == 31) {
                EXPECT_GT(ink, 0) << id << " " << code;
            }
            if (code > ' ' && code < 127 && code != '_') {
                EXPECT_EQ(last_col, 0) << "font " << id << " code " << code;
            }
        }
    }
}

// The console's 80 x 30 grid of console-font cells fits the 800 x 480 screen;
// the last cell is drawn inside it.
TEST_F(TextLayoutTest, ConsoleGridFitsTheScreen) {
    DC *dc = open("800x480");
    TTY_Allocate(dc);
    int w = 0, h = 0;
    GDI_SelectFont(dc, -1, &w, &h);
    EXPECT_EQ(w, 8);
    EXPECT_EQ(h, 15);
    EXPECT_LE(80 * w, 800);
    EXPECT_LE(30 * h, 480);
    TTY_SetMode(0x30, 0); // no advance: the cursor stays on the last cell
    TTY_SetPos(29, 79);
    TTY_PutChar('W');
    // The console's dark text lands in the last cell only.
    Box ink;
    for (int y = 0; y <= dc->bounds.bottom; ++y)
        for (int x = 0; x <= dc->bounds.right; ++x)
            if (px(dc, x, y) == 0) {
                ink.left = std::min(ink.left, x), ink.right = std::max(ink.right, x);
                ink.top = std::min(ink.top, y), ink.bottom = std::max(ink.bottom, y);
                ++ink.count;
            }
    EXPECT_GT(ink.count, 0);
    EXPECT_GE(ink.left, 79 * w);
    EXPECT_GE(ink.top, 29 * h);
    EXPECT_LT(ink.right, 80 * w);
    EXPECT_LT(ink.bottom, 30 * h);
}

// A reviewed page: every alignment in three fonts, anchors marked, and
// counted lines in framed rectangles.
TEST_F(TextLayoutTest, AlignmentPagePicture) {
    DC *dc = open("800x480");
    clear(dc, 0xFFDF);
    auto mark = [&](int x, int y) {
        for (int d = -3; d <= 3; ++d) {
            GDI_SetPixel(dc, x + d, y, 0xF800);
            GDI_SetPixel(dc, x, y + d, 0xF800);
        }
    };
    const int fonts[] = {0, 32, 1, 2};
    for (int i = 0; i < 4; ++i) {
        GDI_SelectFont(dc, fonts[i], nullptr, nullptr);
        GDI_SetTextColor(dc, 0);
        GDI_SetFillColor(dc, i % 2 ? 0xE73C : 0xFFDF);
        const int y = 20 + 34 * i;
        for (int align : {0, 1, 2, 6}) {
            const int x = align == 0 ? 20 : align == 1 ? 300 : align == 2 ? 420 : 0;
            GDI_SetTextAlign(dc, align);
            if (align == 6) {
                dc->cur_x = 520, dc->cur_y = int16_t(y);
                GDI_ByteTextOut(dc, 0, 0, "Cont");
                GDI_ByteTextOut(dc, 0, 0, "inued");
                mark(520, y);
            } else {
                GDI_ByteTextOut(dc, x, y,
                                align == 1   ? "Right 1"
                                : align == 2 ? "Centre 2"
                                             : "Left 0");
                mark(x, y);
            }
        }
    }
    GDI_SelectFont(dc, 1, nullptr, nullptr);
    GDI_SetTextAlign(dc, 3);
    GDI_ByteTextOut(dc, 30, 170, "Stack");
    mark(30, 170);
    GDI_SetTextAlign(dc, 4);
    GDI_ByteTextOut(dc, 80, 460, "Upward 4");
    mark(80, 460);
    GDI_SetTextAlign(dc, 5);
    GDI_ByteTextOut(dc, 150, 170, "Downward 5");
    mark(150, 170);
    GDI_SelectFont(dc, 2, nullptr, nullptr);
    GDI_SetFillColor(dc, kColorNone);
    const char lines[] = "\003First line\000Second\000Third, longer\000";
    struct {
        int flags;
        RECT r;
    } rects[] = {{1 | 16, {200, 180, 440, 300}},
                 {2 | 32, {460, 180, 780, 300}},
                 {4, {200, 320, 440, 460}},
                 {4 | 32, {460, 320, 780, 460}}};
    for (const auto &b : rects) {
        GDI_SetPen(dc, kPenSolid, 1, 0x001F);
        GDI_Rectangle(dc, b.r.left - 1, b.r.top - 1, b.r.right + 1, b.r.bottom + 1);
        GDI_RectByteTextOut(dc, b.flags, &b.r, lines + 1);
    }
    EXPECT_EQ(png_snapshot_diff("tests/gdi/snapshots/text_alignments.png", rgb(dc), 800, 480), "");
}
} // namespace
