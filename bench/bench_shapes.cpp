// Figures on the 800 x 480 screen, each against native code doing the same
// work on an 800 x 480 page of RGB565 pixels in the same run:
//   ThinLines, DashedLines  64 lines from the centre to the edge; baseline: a
//       plain Bresenham walk of the same lines storing each pixel (the dashed
//       one testing the same 8-bit pattern per pixel)
//   RoundPenLines  the same lines with a 9-pixel round pen; baseline: the
//       same band of each line as horizontal runs, each row's run taken
//       from the distance to the segment (a square root per row end) and
//       stored with a fill
//   FilledEllipses  two filled ellipses; baseline: the midpoint ellipse
//       walk filling each row's span
//   FilledPolygon  a five-pointed star filled by the even-odd rule;
//       baseline: the same rule on each row (crossings of the five edges,
//       sorted, spans filled between pairs)
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

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
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

// The baselines' page: RGB565 pixels in rows, cleared like the screen.
struct Page {
    std::vector<uint16_t> px = std::vector<uint16_t>(size_t(W) * H, kBack);
    void span(int y, int x0, int x1, uint16_t c) {
        if (y < 0 || y >= H) return;
        x0 = std::max(x0, 0);
        x1 = std::min(x1, W - 1);
        if (x0 > x1) return;
        // Pixel pairs as 32-bit words, filled at memset speed.
        uint16_t *p = px.data() + size_t(y) * W + x0;
        size_t n = size_t(x1 - x0 + 1);
        if (x0 & 1) *p++ = c, --n;
        std::wmemset(reinterpret_cast<wchar_t *>(p), wchar_t(uint32_t(c) * 0x10001u), n / 2);
        if (n & 1) p[n - 1] = c;
    }
};

void run_baseline(benchmark::State &state, const std::function<void(Page &)> &draw) {
    Page page;
    for (auto _ : state) {
        draw(page);
        benchmark::ClobberMemory();
    }
}

struct Segment {
    int x0, y0, x1, y1;
};
// Lines from the centre to points all round the screen's edge.
std::vector<Segment> star_segments() {
    std::vector<Segment> v;
    for (int i = 0; i < 64; ++i) {
        const double a = i * 6.2831853 / 64;
        v.push_back({W / 2, H / 2, W / 2 + int(380 * std::cos(a)), H / 2 + int(230 * std::sin(a))});
    }
    return v;
}
const std::vector<Segment> kStar = star_segments();

// Lines from the centre to points all round the screen's edge.
void star_of_lines(DC *dc) {
    for (const Segment &s : kStar) {
        GDI_MoveTo(dc, s.x0, s.y0);
        GDI_LineTo(dc, s.x1, s.y1);
    }
}

// Bresenham from (x0, y0) to (x1, y1), the end point left out; with a
// pattern, a pixel on each 1 bit of the moving mask.
template <bool Patterned> void bresenham(Page &p, Segment s, uint8_t pattern, uint16_t c) {
    const int dx = std::abs(s.x1 - s.x0), sx = s.x0 < s.x1 ? 1 : -1;
    const int dy = -std::abs(s.y1 - s.y0), sy = s.y0 < s.y1 ? 1 : -1;
    int err = dx + dy, x = s.x0, y = s.y0;
    uint8_t mask = 0x80;
    while (x != s.x1 || y != s.y1) {
        if (!Patterned || (pattern & mask)) p.px[size_t(y) * W + size_t(x)] = c;
        if (Patterned) mask = mask == 1 ? 0x80 : uint8_t(mask >> 1);
        const int e2 = 2 * err;
        if (e2 >= dy) err += dy, x += sx;
        if (e2 <= dx) err += dx, y += sy;
    }
}

// A line of a round pen of radius r as rows: each row's run is where it
// meets the capsule around the segment (the two end discs and the band
// between them).
void capsule(Page &p, Segment s, int r, uint16_t c) {
    const double ax = s.x0, ay = s.y0, bx = s.x1, by = s.y1;
    const double dx = bx - ax, dy = by - ay, len = std::sqrt(dx * dx + dy * dy);
    const double nx = len > 0 ? -dy / len : 0, ny = len > 0 ? dx / len : 1;
    for (int y = std::min(s.y0, s.y1) - r; y <= std::max(s.y0, s.y1) + r; ++y) {
        double lo = 1e9, hi = -1e9;
        for (const double *cx : {&ax, &bx}) {
            const double cy = cx == &ax ? ay : by, h = r * r - (y - cy) * (y - cy);
            if (h < 0) continue;
            lo = std::min(lo, *cx - std::sqrt(h));
            hi = std::max(hi, *cx + std::sqrt(h));
        }
        if (len > 0) {
            // The band: |(P - A) . n| <= r and 0 <= (P - A) . d <= len^2, on row y.
            double t0 = -1e9, t1 = 1e9;
            auto clip = [&](double k, double m, double lo_v,
                            double hi_v) { // lo_v <= k x + m <= hi_v
                if (k == 0) {
                    if (m < lo_v || m > hi_v) t0 = 1e9;
                    return;
                }
                double u = (lo_v - m) / k, v = (hi_v - m) / k;
                if (u > v) std::swap(u, v);
                t0 = std::max(t0, u);
                t1 = std::min(t1, v);
            };
            clip(nx, -ax * nx + (y - ay) * ny, -r, r);
            clip(dx, -ax * dx + (y - ay) * dy, 0, len * len);
            if (t0 <= t1) lo = std::min(lo, t0), hi = std::max(hi, t1);
        }
        if (lo <= hi) p.span(y, int(std::ceil(lo)), int(std::floor(hi)), c);
    }
}

// A filled ellipse in the box: each row's half width from the equation.
void ellipse_rows(Page &p, int left, int top, int right, int bottom, uint16_t c) {
    const double a = (right - left - 1) / 2.0, b = (bottom - top - 1) / 2.0;
    const double cx = left + a, cy = top + b;
    for (int y = top; y < bottom; ++y) {
        const double v = (y - cy) / b, h = a * std::sqrt(std::max(0.0, 1 - v * v));
        p.span(y, int(std::lround(cx - h)), int(std::lround(cx + h)), c);
    }
}

// The even-odd fill of a polygon, row by row: the x where each edge crosses
// the row, sorted, spans between pairs.
void even_odd(Page &p, const POINT *pts, int n, uint16_t c) {
    int top = H, bottom = 0;
    for (int i = 0; i < n; ++i)
        top = std::min<int>(top, pts[i].y), bottom = std::max<int>(bottom, pts[i].y);
    for (int y = top; y < bottom; ++y) {
        int xs[16], k = 0;
        for (int i = 0; i < n; ++i) {
            const POINT a = pts[i], b = pts[(i + 1) % n];
            if ((a.y <= y) == (b.y <= y)) continue;
            xs[k++] = a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y);
        }
        std::sort(xs, xs + k);
        for (int i = 0; i + 1 < k; i += 2)
            p.span(y, xs[i], xs[i + 1] - 1, c);
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
struct Star {
    POINT p[5];
};
Star star_points() {
    Star s;
    for (int i = 0; i < 5; ++i) {
        const double a = -1.5707963 + i * 4 * 3.1415926 / 5;
        s.p[i] = POINT{int16_t(400 + 230 * std::cos(a)), int16_t(245 + 230 * std::sin(a))};
    }
    return s;
}
void polygon(DC *dc) {
    const Star s = star_points();
    GDI_FillPolygon(dc, s.p, 5);
}

// The native side of each figure.
void native_thin(Page &p) {
    for (const Segment &s : kStar)
        bresenham<false>(p, s, 0xFF, 0xF800);
}
void native_dashed(Page &p) {
    for (const Segment &s : kStar)
        bresenham<true>(p, s, 0xC7, 0xF800);
}
void native_round(Page &p) {
    for (const Segment &s : kStar)
        capsule(p, s, 4, 0xF800);
}
void native_ellipses(Page &p) {
    ellipse_rows(p, 100, 40, 700, 440, 0x07E0);
    ellipse_rows(p, 10, 10, 111, 71, 0x07E0);
}
void native_polygon(Page &p) {
    const Star s = star_points();
    even_odd(p, s.p, 5, 0xF800);
}
} // namespace

#define FIGURE(name, setup, draw, native)                                                          \
    void name(benchmark::State &state) {                                                           \
        run_figure(state, setup, draw);                                                            \
    }                                                                                              \
    void name##_baseline(benchmark::State &state) {                                                \
        run_baseline(state, native);                                                               \
    }                                                                                              \
    BENCHMARK(name);                                                                               \
    BENCHMARK(name##_baseline);

FIGURE(ThinLines, thin_pen, star_of_lines, native_thin)
FIGURE(DashedLines, dashed_pen, star_of_lines, native_dashed)
FIGURE(RoundPenLines, round_pen, star_of_lines, native_round)
FIGURE(FilledEllipses, fill_only, ellipses, native_ellipses)
FIGURE(FilledPolygon, thin_pen, polygon, native_polygon)
