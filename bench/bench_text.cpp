// Text on the 800 x 480 screen: a whole console screen (80 x 30 glyphs of
// the console font through the console), and a screen of proportional text
// lines written straight through the text output. Each baseline blits the
// same glyphs to the same places of an 800 x 480 RGB565 page as native code
// would: the glyph found through a table of the font's glyphs, each byte of
// its rows turned into eight pixels of text and fill colour through a
// byte-to-pixels table, and the glyph's width of pixels stored.
#include "bench/bench_screen.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "gdi/tty.h"
#include "host/config.h"
#include "host/devmem.h"
#include "host/fb.h"
#include "host/physmem.h"
#include "host/root.h"
#include "platform/pxp.h"
#include "platform/video.h"
#include "regs/plc_reg.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr int kCols = 80, kRows = 30;

using Screen = BenchScreen;

// One row of console text: printable ASCII from a different start per row.
std::string row_text(int row) {
    std::string s;
    for (int c = 0; c < kCols; ++c)
        s += char(33 + (row * 7 + c) % 94);
    return s;
}

void ConsoleScreen(benchmark::State &state) {
    Screen s;
    TTY_Allocate(s.dc);
    TTY_SetMode(0x20, 0); // no wrap: a full row never scrolls the console
    std::vector<std::string> rows;
    for (int r = 0; r < kRows; ++r)
        rows.push_back(row_text(r));
    for (auto _ : state) {
        for (int r = 0; r < kRows; ++r) {
            TTY_SetPos(r, 0);
            TTY_Puts(rows[size_t(r)].c_str());
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kCols * kRows);
}

// The native glyph blitter of the baselines.
struct Blitter {
    std::vector<uint16_t> page =
        std::vector<uint16_t>(size_t(800) * (480 + 64)); // room for a tall font
    uint16_t pixels[256][8];
    const uint8_t *glyph[256];
    int width[256];
    int bytes_per_row = 0, height = 0;

    Blitter(const FontRec *f, uint16_t text, uint16_t fill) {
        for (int b = 0; b < 256; ++b)
            for (int j = 0; j < 8; ++j)
                pixels[b][j] = (b & (0x80 >> j)) ? text : fill;
        for (int c = 0; c < 256; ++c)
            glyph[c] = GDI_GetFontChar(f, c, &width[c]);
        bytes_per_row = int(Font_Field(f, kFontBytesPerRow));
        height = Font_Height(f);
    }
    void put(int x, int y, uint8_t c) {
        const uint8_t *g = glyph[c];
        const int w = width[c];
        for (int r = 0; r < height; ++r, g += bytes_per_row) {
            uint16_t *out = page.data() + size_t(y + r) * 800 + size_t(x);
            for (int i = 0, left = w; left > 0; ++i, left -= 8)
                std::memcpy(out + 8 * i, pixels[g[i]], size_t(std::min(left, 8)) * 2);
        }
    }
    // Glyphs of `text` from (x, y) on, each its width further on.
    void line(int x, int y, const std::string &text) {
        for (unsigned char c : text) {
            put(x, y, c);
            x += width[c];
        }
    }
};

void ConsoleScreen_baseline(benchmark::State &state) {
    Blitter b(Font_BuiltIn(32), 0x0000, 0xFFDF);
    std::vector<std::string> rows;
    for (int r = 0; r < kRows; ++r)
        rows.push_back(row_text(r));
    for (auto _ : state) {
        for (int r = 0; r < kRows; ++r)
            b.line(0, r * b.height, rows[size_t(r)]);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kCols * kRows);
}

// Lines of font 1 (16 pixels high) down the whole screen, each as wide as
// the screen allows.
struct Lines {
    std::vector<std::string> text;
    size_t bytes = 0;
};
Lines proportional_lines(DC *dc) {
    Lines l;
    GDI_SelectFont(dc, 1, nullptr, nullptr);
    for (int y = 0; y + 16 <= 480; y += 16) {
        std::string s;
        for (int i = 0;; ++i) {
            std::string t = s + char(33 + (y + i) % 94);
            int w = 0;
            GDI_ByteTextExtent(dc, t.c_str(), &w, nullptr);
            if (w > 800) break;
            s = t;
        }
        int w = 0;
        GDI_ByteTextExtent(dc, s.c_str(), &w, nullptr);
        l.bytes += size_t(w) * 16 * 2;
        l.text.push_back(s);
    }
    return l;
}

void ProportionalScreen(benchmark::State &state) {
    Screen s;
    const Lines l = proportional_lines(s.dc);
    GDI_SetTextColor(s.dc, 0);
    GDI_SetFillColor(s.dc, 0xFFDF);
    GDI_SetTextAlign(s.dc, 0);
    for (auto _ : state) {
        for (size_t i = 0; i < l.text.size(); ++i)
            GDI_ByteTextOut(s.dc, 0, int(i) * 16, l.text[i].c_str());
        benchmark::ClobberMemory();
    }
}

void ProportionalScreen_baseline(benchmark::State &state) {
    std::vector<std::string> text;
    {
        Screen s;
        text = proportional_lines(s.dc).text;
    }
    Blitter b(Font_BuiltIn(1), 0x0000, 0xFFDF);
    for (auto _ : state) {
        for (size_t i = 0; i < text.size(); ++i)
            b.line(0, int(i) * 16, text[i]);
        benchmark::ClobberMemory();
    }
}
} // namespace

BENCHMARK(ConsoleScreen);
BENCHMARK(ConsoleScreen_baseline);
BENCHMARK(ProportionalScreen);
BENCHMARK(ProportionalScreen_baseline);
