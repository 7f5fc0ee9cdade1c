// Text output and the console: font metrics, extents, alignments, the console
// grid's wrap, scroll, tab and backspace, and a reviewed console picture.
#include "base/le.h"
#include "gdi/text.h"
#include "gdi/tty.h"
#include "png_snapshot.h"
#include "shapes_fixture.h"

#include <cstring>
#include <memory>

namespace {
class TextTest : public ShapesTest {};

TEST_F(TextTest, BuiltInFontMetricsAndExtents) {
    struct Case {
        int id, width, height;
        bool fixed;
    } cases[] = {{0, 6, 10, true},   {1, 14, 16, false}, {2, 21, 24, false}, {3, 30, 33, false},
                 {4, 43, 47, false}, {5, 59, 66, false}, {7, 59, 66, false}, {32, 8, 15, true}};
    DC *dc = open();
    for (const Case &c : cases) {
        int w = 0, h = 0;
        ASSERT_EQ(GDI_SelectFont(dc, c.id, &w, &h), 1) << c.id;
        EXPECT_EQ(w, c.width) << c.id;
        EXPECT_EQ(h, c.height) << c.id;
        EXPECT_EQ(Font_FixedPitch(dc->font), c.fixed) << c.id;
        int ew = -1, eh = 0;
        GDI_ByteTextExtent(dc, "", &ew, &eh);
        EXPECT_EQ(ew, 0);
        EXPECT_EQ(eh, c.height);
        // The extent measures past a code 1 up to the 0; every glyph fits its cell.
        int sum = 0, gw = 0;
        for (const char *p = "Ab\001c"; *p; ++p) {
            GDI_GetFontChar(dc->font, uint8_t(*p), &gw);
            EXPECT_LE(gw, c.width);
            sum += gw;
        }
        GDI_ByteTextExtent(dc, "Ab\001c", &ew, &eh);
        EXPECT_EQ(ew, sum) << c.id;
        // Out of range draws the default char.
        int dw = 0;
        EXPECT_EQ(GDI_GetFontChar(dc->font, 7, &dw), GDI_GetFontChar(dc->font, 31, &gw));
    }
    const FontRec *old = dc->font;
    EXPECT_EQ(GDI_SelectFont(dc, 8, nullptr, nullptr), 0);
    EXPECT_EQ(dc->font, old);
}

TEST_F(TextTest, AlignmentsPlaceGlyphs) {
    DC *dc = open();
    GDI_SelectFont(dc, 0, nullptr, nullptr);
    GDI_SetTextColor(dc, kPen);
    GDI_SetFillColor(dc, kFill);
    // Left: cells of 6 from x; right: ends at x; centred: x - width / 2.
    struct Case {
        int align, x, first, last;
    } cases[] = {{0, 10, 10, 27}, {1, 40, 23, 40}, {2, 100, 91, 108}, {6, 0, 50, 67}};
    for (const Case &c : cases) {
        clear(dc);
        GDI_SetTextAlign(dc, c.align);
        dc->cur_x = 50, dc->cur_y = 20;
        EXPECT_EQ(GDI_ByteTextOut(dc, c.x, 20, "ABC\002DEF"), 3);
        int lo = 1000, hi = -1;
        for (auto [x, y] : marked(dc))
            lo = std::min(lo, x), hi = std::max(hi, x);
        EXPECT_EQ(lo, c.first) << c.align;
        EXPECT_EQ(hi, c.last) << c.align;
    }
    EXPECT_EQ(dc->cur_x, 68);
    GDI_SetTextAlign(dc, 1);
    EXPECT_EQ(GDI_ByteTextOut(dc, 40, 20, "\003AB"), 0);
    GDI_SetTextAlign(dc, 9);
    EXPECT_EQ(GDI_ByteTextOut(dc, 40, 20, "AB"), 0);
}

TEST_F(TextTest, RectTextCentresLines) {
    DC *dc = open();
    GDI_SelectFont(dc, 0, nullptr, nullptr);
    GDI_SetTextColor(dc, kPen);
    GDI_SetFillColor(dc, kFill);
    const char s[] = "\002AB\000CD";
    RECT r{10, 10, 110, 30};
    EXPECT_EQ(GDI_RectByteTextOut(dc, 1 | 32, &r, s + 1), 1);
    int top = 1000, bottom = -1;
    for (auto [x, y] : marked(dc))
        top = std::min(top, y), bottom = std::max(bottom, y);
    EXPECT_EQ(top, 10);
    EXPECT_EQ(bottom, 29);
    EXPECT_EQ(dc->text_align, 0);
}

TEST_F(TextTest, ApplicationFontOutsideItsBlockIsRefused) {
    DC *dc = open();
    std::vector<uint8_t> block(16 + 4 + 64 + 112 + 10 * 2, 0);
    put_le32(&block[0], 2);
    put_le32(&block[16], 20);
    put_le32(&block[20], 4000); // second font outside the block
    uint8_t *f = &block[20 + 64];
    put_le32(f + kFontAscent, 8), put_le32(f + kFontDescent, 2);
    put_le32(f + kFontMaxWidth, 8), put_le32(f + kFontAvgWidth, 8);
    put_le32(f + kFontFirst, 0x4E00), put_le32(f + kFontLast, 0x4E01);
    put_le32(f + kFontDefault, 0x4E00), put_le32(f + kFontBytesPerRow, 1);
    Text_SetAppFonts(block.data(), block.size());
    PGM_UnicodePresent = true;
    int w = 0, h = 0;
    EXPECT_EQ(GDI_SelectFont(dc, 8, &w, &h), 1);
    EXPECT_EQ(h, 10);
    EXPECT_EQ(GDI_SelectFont(dc, 9, &w, &h), 0);
    const uint16_t text[] = {0x4E01, 0x41, 0};
    int ew = 0;
    GDI_WordTextExtent(dc, text, &ew, &h);
    EXPECT_EQ(ew, 16);
    block.resize(block.size() - 1); // the last glyph no longer fits
    Text_SetAppFonts(block.data(), block.size());
    EXPECT_EQ(GDI_SelectFont(dc, 8, &w, &h), 0);
}

namespace {
// A font block of one font of 'A'-'C', 4 rows of one byte (proportional
// unless both widths are the same); each glyph a width byte and its rows.
std::vector<uint8_t> font_block(bool wide, uint32_t max_width = 3, uint32_t avg_width = 2) {
    const size_t at = 20 + (wide ? 64 : 0);
    std::vector<uint8_t> b(at + kFontHeader + 3 * 5, 0);
    put_le32(&b[0], 1);
    put_le32(&b[16], 20);
    uint8_t *f = &b[at];
    put_le32(f + kFontAscent, 3), put_le32(f + kFontDescent, 1);
    put_le32(f + kFontMaxWidth, max_width), put_le32(f + kFontAvgWidth, avg_width);
    put_le32(f + kFontFirst, 'A'), put_le32(f + kFontLast, 'C');
    put_le32(f + kFontDefault, 'A'), put_le32(f + kFontBytesPerRow, 1);
    const uint8_t glyphs[15] = {3,    0xE0, 0xA0, 0xE0, 0x00, 2,    0xC0, 0xC0,
                                0x00, 0x00, 1,    0x80, 0x80, 0x80, 0x80};
    std::memcpy(f + kFontHeader, glyphs, sizeof glyphs);
    if (max_width == avg_width) b.resize(b.size() - 3); // fixed pitch: no width bytes
    return b;
}
} // namespace

// Widths are summed into screen positions: a font claiming glyphs wider than
// any screen is refused (found by the font fuzzer: such widths overflowed the
// text position). Fixed-pitch fonts draw every glyph at their width.
TEST_F(TextTest, ApplicationFontWidthsStayOnScreenScale) {
    DC *dc = open();
    struct Row {
        uint32_t max_width, avg_width;
        bool taken;
        int extent; // of "ABC"
    };
    const Row rows[] = {{3, 2, true, 6},
                        {5, 5, true, 15},
                        {1024, 1024, true, 3072},
                        {1025, 1025, false, 0},
                        {0x7FFFFFF0u, 0x7FFFFFF0u, false, 0},
                        {3, 0xFFFFFFFFu, false, 0}};
    for (const Row &r : rows) {
        SCOPED_TRACE(r.avg_width);
        const std::vector<uint8_t> b = font_block(false, r.max_width, r.avg_width);
        Text_SetAppFonts(b.data(), b.size());
        GDI_SelectFont(dc, 0, nullptr, nullptr);
        ASSERT_EQ(GDI_SelectFont(dc, 8, nullptr, nullptr), r.taken ? 1 : 0);
        if (!r.taken) continue;
        int w = 0, h = 0;
        GDI_ByteTextExtent(dc, "ABC", &w, &h);
        EXPECT_EQ(w, r.extent);
        GDI_SetTextAlign(dc, 0);
        EXPECT_EQ(GDI_ByteTextOut(dc, 470, 100, "ABCABC"), 6);
    }
    Text_SetAppFonts(nullptr, 0);
}

// A font block cut short at several points, in byte and in 16-bit mode (the
// font behind its 64-byte prefix): a font whose header or glyphs do not lie
// wholly inside the block is refused, nothing past the block is read (each
// cut is a buffer of exactly its size), and the whole block draws its glyphs.
TEST_F(TextTest, ApplicationFontCutShortIsRefused) {
    DC *dc = open();
    GDI_SetTextColor(dc, kPen);
    GDI_SetFillColor(dc, kFill);
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "16-bit" : "bytes");
        PGM_UnicodePresent = wide;
        const std::vector<uint8_t> whole = font_block(wide);
        const size_t font = 20 + (wide ? 64 : 0);
        for (size_t cut : {size_t(0), size_t(15), size_t(19), font + 50, font + kFontHeader,
                           whole.size() - 1, whole.size()}) {
            SCOPED_TRACE(cut);
            std::unique_ptr<uint8_t[]> b(new uint8_t[cut ? cut : 1]);
            std::memcpy(b.get(), whole.data(), cut);
            Text_SetAppFonts(b.get(), cut);
            GDI_SelectFont(dc, 0, nullptr, nullptr);
            int w = 0, h = 0;
            EXPECT_EQ(GDI_SelectFont(dc, 8, &w, &h), cut == whole.size() ? 1 : 0);
            if (cut != whole.size()) continue;
            EXPECT_EQ(h, 4);
            clear(dc);
            const uint16_t words[] = {'A', 'B', 'C', 'D', 0};
            EXPECT_EQ(GDI_TextOut(dc, 2, 1, wide ? static_cast<const void *>(words) : "ABCD"), 4);
            EXPECT_EQ(pic(dc, 0, 0, 14, 6), "..............\n"
                                            "..#########...\n"
                                            "..#o#####o#...\n"
                                            "..###oo####...\n"
                                            "..ooooo#ooo...\n"
                                            "..............\n")
                << "D is out of range: the default glyph A";
        }
        Text_SetAppFonts(nullptr, 0);
    }
}

TEST_F(TextTest, ConsoleWrapScrollTabBackspace) {
    DC *dc = open("800x480");
    TTY_Allocate(dc);
    int row = 0, col = 0;
    TTY_SetPos(0, 7);
    TTY_PutChar(9);
    TTY_GetPos(&row, &col);
    EXPECT_EQ(col, 8);
    TTY_PutChar(9);
    TTY_GetPos(&row, &col);
    EXPECT_EQ(col, 16);
    TTY_Puts("ab\b");
    TTY_GetPos(&row, &col);
    EXPECT_EQ(col, 17);
    EXPECT_EQ(TTY_CellChar(0, 17), ' ');
    TTY_SetPos(-3, 200);
    TTY_GetPos(&row, &col);
    EXPECT_EQ(row, 0);
    EXPECT_EQ(col, 79);
    TTY_SetPos(1, 0);
    TTY_Puts("top");
    TTY_SetPos(29, 79);
    TTY_PutChar('Z');
    TTY_GetPos(&row, &col);
    EXPECT_EQ(row, 29);
    EXPECT_EQ(col, 0);
    EXPECT_EQ(TTY_CellChar(0, 0), 't');
    EXPECT_EQ(TTY_CellChar(28, 79), 'Z');
    EXPECT_EQ(TTY_CellChar(29, 79), ' ');
    EXPECT_EQ(TTY_SetCaret(3), -1);
    EXPECT_EQ(TTY_SetCaret(21), -1);
    EXPECT_EQ(TTY_SetCaret(1), 0);
    // A tab without the advance bit writes one blank and returns.
    TTY_SetMode(16, 0);
    TTY_SetPos(2, 3);
    TTY_PutChar(9);
    TTY_GetPos(&row, &col);
    EXPECT_EQ(col, 3);
    TTY_Puts("xy");
    EXPECT_EQ(TTY_CellChar(2, 3), 'y');
}

TEST_F(TextTest, ConsoleSelfTestPicture) {
    DC *dc = open("800x480");
    TTY_Allocate(dc);
    TTY_SetPos(1, 1);
    TTY_Puts("Self-test Running...");
    TTY_SetPos(2, 5);
    TTY_Puts("RAM OK  FRAM OK  Clock OK");
    TTY_SetPos(4, 1);
    TTY_Puts("ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz 0123456789");
    TTY_SetPos(5, 1);
    TTY_Puts("!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~");
    for (int id : {0, 1, 2, 3, 4, 5}) {
        GDI_SelectFont(dc, id, nullptr, nullptr);
        GDI_SetTextAlign(dc, 0);
        static const int ys[] = {110, 125, 145, 175, 210, 260};
        GDI_ByteTextOut(dc, 8, ys[id], "Panel 42 Agjy");
    }
    EXPECT_EQ(png_snapshot_diff("tests/gdi/snapshots/text_console.png", rgb(dc), 800, 480), "");
}
} // namespace
