// The driver's fast paths (line plots, glyph copies, row fills) and the
// console's left-out caret redraw, each held to the per-pixel path on random
// figures, clips, pens, raster operations and glyphs: every pixel and the
// pattern phase must come out the same.
#include "gdi/text.h"
#include "gdi/tty.h"
#include "shapes_fixture.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

class FastPathTest : public ShapesTest {
protected:
    std::mt19937 rng{12345};
    int rnd(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
    COLOR colour() { return COLOR(rnd(0, 0xFFFF)); }

    // Random pixels over the whole screen, so every raster operation shows.
    void noise(DC *dc) {
        std::mt19937 r(uint32_t(rnd(0, 1 << 30)));
        for (int y = 0; y <= dc->bounds.bottom; ++y)
            for (int x = 0; x <= dc->bounds.right; ++x)
                put(dc, x, y, COLOR(r() & 0x3 ? r() : kFill));
    }
    static std::vector<uint32_t> frame(const DC *dc) {
        const size_t words = size_t(dc->bounds.right + 1) * size_t(dc->bounds.bottom + 1) / 2;
        return std::vector<uint32_t>(dc->buffer, dc->buffer + words);
    }
    static void restore(DC *dc, const std::vector<uint32_t> &f) {
        std::copy(f.begin(), f.end(), dc->buffer);
    }
    // Draws the same thing with the fast paths and without them, from the
    // same screen and context; the screens and contexts must agree.
    template <class Draw> void same_both_ways(DC *dc, Draw draw, const std::string &what) {
        const std::vector<uint32_t> before = frame(dc);
        const DC settings = *dc;
        VDR_UseFastPaths(true);
        draw(dc);
        const std::vector<uint32_t> fast = frame(dc);
        const uint8_t fast_mask = dc->pattern_mask;
        restore(dc, before);
        *dc = settings;
        VDR_UseFastPaths(false);
        draw(dc);
        VDR_UseFastPaths(true);
        ASSERT_EQ(fast_mask, dc->pattern_mask) << what;
        const std::vector<uint32_t> slow = frame(dc);
        for (size_t i = 0; i < slow.size(); ++i)
            ASSERT_EQ(fast[i], slow[i]) << what << " at word " << i;
        restore(dc, before);
        *dc = settings;
    }
    void random_clip(DC *dc) {
        const int w = dc->bounds.right + 1, h = dc->bounds.bottom + 1;
        RECT r;
        if (rnd(0, 3) == 0) {
            r = RECT{0, 0, int16_t(w), int16_t(h)};
        } else {
            const int l = rnd(-20, w - 1), t = rnd(-20, h - 1);
            r = RECT{int16_t(l), int16_t(t), int16_t(rnd(l, w + 20)), int16_t(rnd(t, h + 20))};
        }
        dc->clip = dc->bounds;
        GDI_SetClipRect(dc, &r, nullptr);
    }
    void random_pen(DC *dc) {
        GDI_SetPen(dc, rnd(1, 4), 1, colour());
        GDI_SetFillColor(dc, rnd(0, 2) == 0 ? kColorNone : rnd(0, 1) ? kFill : colour());
        GDI_SetROP(dc, rnd(0, 2) == 0 ? 4 : rnd(1, 7));
        dc->pattern_mask = uint8_t(0x80 >> rnd(0, 7));
    }
};

TEST_F(FastPathTest, ThinLinesMatchThePerPixelPath) {
    DC *dc = open("480x272");
    noise(dc);
    for (int i = 0; i < 300; ++i) {
        random_clip(dc);
        random_pen(dc);
        // Mostly on the screen, some far off it (past the ray table's rows).
        const int reach = rnd(0, 4) == 0 ? 3000 : 40;
        const int x1 = rnd(-reach, 480 + reach), y1 = rnd(-reach, 272 + reach);
        const int x2 = rnd(0, 5) == 0 ? x1 : rnd(-reach, 480 + reach);
        const int y2 = rnd(0, 5) == 0 ? y1 : rnd(-reach, 272 + reach);
        const std::string what = "line " + std::to_string(i) + " (" + std::to_string(x1) + "," +
                                 std::to_string(y1) + ")-(" + std::to_string(x2) + "," +
                                 std::to_string(y2) + ") style " + std::to_string(dc->pen_style) +
                                 " rop " + std::to_string(dc->rop_mode);
        same_both_ways(
            dc,
            [&](DC *d) {
                d->cur_x = int16_t(x1);
                d->cur_y = int16_t(y1);
                GDI_LineTo(d, x2, y2);
            },
            what);
    }
}

TEST_F(FastPathTest, OutlinesAndFillsMatchThePerPixelPath) {
    DC *dc = open("480x272");
    noise(dc);
    for (int i = 0; i < 100; ++i) {
        random_clip(dc);
        random_pen(dc);
        const int l = rnd(-30, 470), t = rnd(-30, 260);
        const int r = l + rnd(1, 200), b = t + rnd(1, 150);
        POINT pts[6];
        for (POINT &p : pts)
            p = POINT{int16_t(rnd(-40, 520)), int16_t(rnd(-40, 310))};
        same_both_ways(
            dc, [&](DC *d) { GDI_Rectangle(d, l, t, r, b); }, "rectangle");
        same_both_ways(
            dc, [&](DC *d) { GDI_Polygon(d, pts, 6); }, "polygon");
        same_both_ways(
            dc, [&](DC *d) { GDI_FillPolygon(d, pts, 6); }, "polygon fill");
        const int row = rnd(-2, 273);
        const COLOR c = colour();
        same_both_ways(
            dc, [&](DC *d) { GDI_ScanLine(d, row, l, r, c); }, "row");
    }
}

TEST_F(FastPathTest, GlyphsMatchThePerPixelPath) {
    DC *dc = open("480x272");
    noise(dc);
    std::vector<uint8_t> bits(4 * 40);
    for (int i = 0; i < 400; ++i) {
        random_clip(dc);
        GDI_SetROP(dc, rnd(0, 3) == 0 ? rnd(1, 7) : 4);
        for (uint8_t &b : bits)
            b = uint8_t(rnd(0, 255));
        DIB d{};
        d.bytes_per_row = uint16_t(rnd(1, 4));
        d.height = int16_t(rnd(1, 40));
        d.width = int16_t(rnd(1, d.bytes_per_row * 8));
        d.bits_per_pixel = 1;
        d.foreground = rnd(0, 9) == 0 ? kColorNone : colour();
        d.background = rnd(0, 2) == 0 ? kColorNone : colour();
        d.x_origin = uint16_t(rnd(0, 2) == 0 ? rnd(0, 9) : 0);
        if (rnd(0, 5) == 0) {
            d.flags = kDibTransparent;
            d.transparent = rnd(0, 1) ? d.foreground : d.background;
        }
        // A record cut short now and then: only its whole rows are drawn.
        d.data_length = uint32_t(d.bytes_per_row * d.height);
        d.record_bytes = rnd(0, 4) == 0 ? uint32_t(rnd(0, int(d.data_length))) : d.data_length;
        d.pixels = bits.data();
        const int x = rnd(-40, 490), y = rnd(-40, 280), sx = rnd(-3, 12), sy = rnd(-3, 8);
        same_both_ways(
            dc, [&](DC *c) { GDI_WriteDIB(c, x, y, d.width, d.height, &d, sx, sy); },
            "glyph " + std::to_string(i));
    }
    // Text of every built-in font.
    for (int font : {0, 1, 2, 3, 4, 5, 6, 7, 32}) {
        random_clip(dc);
        GDI_SetROP(dc, 4);
        GDI_SelectFont(dc, font, nullptr, nullptr);
        GDI_SetTextColor(dc, colour());
        GDI_SetFillColor(dc, rnd(0, 1) ? kColorNone : colour());
        const int x = rnd(-5, 100), y = rnd(-5, 200);
        same_both_ways(
            dc, [&](DC *c) { GDI_ByteTextOut(c, x, y, "Fast Path 0123 ~!"); },
            "font " + std::to_string(font));
    }
}

// The console leaves out the caret's redraw of a cell that the next
// character covers. Against a context whose bitmap writer is not the
// driver's own (so nothing is left out), the screens must agree for every
// mix of characters, controls, positions, caret shapes and modes.
int PassWriteDIB(DC *dc, int x, int y, int w, int h, int sx, int sy, const DIB *dib) {
    return VDR_WriteDIB(dc, x, y, w, h, sx, sy, dib);
}

TEST_F(FastPathTest, ConsoleMatchesTheFullCaretRedraw) {
    DC *dc = open("800x480");
    noise(dc);
    const DC settings = *dc;
    const std::vector<uint32_t> before = frame(dc);
    std::vector<uint32_t> screens[2];
    for (int pass = 0; pass < 2; ++pass) {
        restore(dc, before);
        *dc = settings;
        if (pass == 1) dc->WriteDIB = PassWriteDIB;
        TTY_Reset();
        TTY_Allocate(dc);
        std::mt19937 r(777);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(r); };
        for (int i = 0; i < 3000; ++i) {
            const int what = pick(0, 99);
            if (what < 70) {
                TTY_PutChar(pick(32, 255));
            } else if (what < 80) {
                TTY_PutChar(std::vector<int>{8, 9, 13, 0, 1, 3}[size_t(pick(0, 5))]);
            } else if (what < 88) {
                TTY_SetPos(pick(-1, 30), pick(-1, 80));
            } else if (what < 93) {
                TTY_SetCaret(std::vector<int>{0, 1, 2, 4, 16, 17, 18, 20}[size_t(pick(0, 7))]);
            } else if (what < 98) {
                TTY_SetMode(pick(0, 0x3F), pick(0, 0x3F));
            } else {
                GDI_SelectFont(dc, pick(0, 1) ? 32 : pick(0, 7), nullptr, nullptr);
            }
        }
        screens[pass] = frame(dc);
    }
    for (size_t i = 0; i < screens[0].size(); ++i)
        ASSERT_EQ(screens[0][i], screens[1][i]) << "word " << i;
}

} // namespace
