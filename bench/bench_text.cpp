// Text on the 800 x 480 screen, each against a memset of the same screen
// area (2 bytes a pixel) in the same run: a whole console screen (80 x 30
// glyphs of the console font through the console), and a screen of
// proportional text lines written straight through the text output.
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

// The console's cell grid in pixels (font 32: 8 x 15).
size_t console_bytes() {
    return size_t(kCols * 8) * size_t(kRows * 15) * 2;
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

void ConsoleScreen_baseline(benchmark::State &state) {
    std::vector<uint8_t> area(console_bytes());
    int c = 0;
    for (auto _ : state) {
        std::memset(area.data(), c++, area.size());
        benchmark::ClobberMemory();
    }
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
    size_t bytes;
    {
        Screen s;
        bytes = proportional_lines(s.dc).bytes;
    }
    std::vector<uint8_t> area(bytes);
    int c = 0;
    for (auto _ : state) {
        std::memset(area.data(), c++, area.size());
        benchmark::ClobberMemory();
    }
}
} // namespace

BENCHMARK(ConsoleScreen);
BENCHMARK(ConsoleScreen_baseline);
BENCHMARK(ProportionalScreen);
BENCHMARK(ProportionalScreen_baseline);
