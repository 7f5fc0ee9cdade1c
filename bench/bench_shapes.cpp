// Figures on the 800 x 480 screen, each against a memset of the same number
// of pixels (2 bytes each) in the same run: thin lines in every direction,
// thick round-nib lines, filled ellipses and a filled polygon.
#include "bench/bench_screen.h"
#include "gdi/shapes.h"
#include "host/config.h"
#include "host/devmem.h"
#include "host/fb.h"
#include "host/physmem.h"
#include "host/root.h"
#include "platform/pxp.h"
#include "platform/video.h"
#include "regs/plc_reg.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {
constexpr int W = 800, H = 480;
constexpr COLOR kBack = 0x0841;

// The benchmark screen, cleared to a background that shows what a figure
// changes.
class Screen : public BenchScreen {
public:
    void clear() {
        for (int y = 0; y < H; ++y)
            GDI_ScanLine(dc, y, 0, W - 1, kBack);
    }
    // Pixels a drawing changes on a cleared screen.
    long pixels_of(const std::function<void()> &draw) {
        clear();
        draw();
        long n = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                n += COLOR(GDI_GetPixel(dc, x, y)) != kBack;
        return n;
    }
};

// Lines from the centre to points all round the screen's edge.
void star_of_lines(DC *dc) {
    for (int i = 0; i < 64; ++i) {
        const double a = i * 6.2831853 / 64;
        GDI_MoveTo(dc, W / 2, H / 2);
        GDI_LineTo(dc, W / 2 + int(380 * std::cos(a)), H / 2 + int(230 * std::sin(a)));
    }
}

void run_figure(benchmark::State &state, const std::function<void(DC *)> &setup,
                const std::function<void(DC *)> &draw) {
    Screen s;
    setup(s.dc);
    const long pixels = s.pixels_of([&] { draw(s.dc); });
    for (auto _ : state) {
        draw(s.dc);
        benchmark::ClobberMemory();
    }
    state.counters["pixels"] = double(pixels);
}

void run_baseline(benchmark::State &state, const std::function<void(DC *)> &setup,
                  const std::function<void(DC *)> &draw) {
    long pixels;
    {
        Screen s;
        setup(s.dc);
        pixels = s.pixels_of([&] { draw(s.dc); });
    }
    std::vector<uint8_t> page(size_t(pixels) * 2);
    int c = 0;
    for (auto _ : state) {
        std::memset(page.data(), c++, page.size());
        benchmark::ClobberMemory();
    }
}

void thin_pen(DC *dc) {
    GDI_SetPen(dc, kPenSolid, 1, 0xF800);
}
void dashed_pen(DC *dc) {
    GDI_SetPen(dc, kPenDashed, 1, 0xF800);
    GDI_SetFillColor(dc, kColorNone);
}
void round_pen(DC *dc) {
    GDI_SetPen(dc, kPenSolid, 9, 0xF800);
}
void fill_only(DC *dc) {
    GDI_SetPen(dc, kPenNone, 1, 0);
    GDI_SetFillColor(dc, 0x07E0);
}
void ellipses(DC *dc) {
    GDI_Ellipse(dc, 100, 40, 700, 440);
    GDI_Ellipse(dc, 10, 10, 111, 71);
}
void polygon(DC *dc) {
    POINT star[5];
    for (int i = 0; i < 5; ++i) {
        const double a = -1.5707963 + i * 4 * 3.1415926 / 5;
        star[i] = POINT{int16_t(400 + 230 * std::cos(a)), int16_t(245 + 230 * std::sin(a))};
    }
    GDI_FillPolygon(dc, star, 5);
}
} // namespace

#define FIGURE(name, setup, draw)                                                                  \
    void name(benchmark::State &state) {                                                           \
        run_figure(state, setup, draw);                                                            \
    }                                                                                              \
    void name##_baseline(benchmark::State &state) {                                                \
        run_baseline(state, setup, draw);                                                          \
    }                                                                                              \
    BENCHMARK(name);                                                                               \
    BENCHMARK(name##_baseline);

FIGURE(ThinLines, thin_pen, star_of_lines)
FIGURE(DashedLines, dashed_pen, star_of_lines)
FIGURE(RoundPenLines, round_pen, star_of_lines)
FIGURE(FilledEllipses, fill_only, ellipses)
FIGURE(FilledPolygon, thin_pen, polygon)
