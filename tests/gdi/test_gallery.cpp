// The gallery: every kind of figure on one 800 x 480 screen, compared with a
// reviewed reference picture. Pens of every style and widths 1 to 8, patterns
// with and without a fill colour, rectangles and rounded rectangles, ellipses,
// arcs and pies in every quadrant and across quadrant boundaries, bitmaps of
// each depth upright and turned, polygon outlines and an even-odd fill, and
// figures larger than the screen drawn through a small clip.
#include "png_snapshot.h"
#include "shapes_fixture.h"

#include <cmath>
#include <vector>

namespace {
constexpr COLOR kPaper = 0xFFDF, kInk = 0x0000, kRed = 0xF800, kBlue = 0x001F, kGreen = 0x07E0,
                kYellow = 0xFFE0, kOrange = 0xFC00, kGrey = 0x8410, kTeal = 0x0410;

void rect_fill(DC *dc, int l, int t, int r, int b, COLOR c) {
    for (int y = t; y < b; ++y)
        GDI_ScanLine(dc, y, l, r - 1, c);
}

// Pens: styles 0-4 down, widths 1-8 across; each cell a polyline and a
// horizontal line. Style 4 draws over a band of the fill colour.
void pens(DC *dc) {
    for (int style = 0; style <= 4; ++style) {
        for (int w = 1; w <= 8; ++w) {
            const int x = 4 + (w - 1) * 48, y = 4 + style * 42;
            if (style == 4) rect_fill(dc, x, y, x + 46, y + 40, kYellow);
            GDI_SetPen(dc, style, w, style == 0 ? kTeal : kInk);
            GDI_SetFillColor(dc, style == 4 ? kYellow : kColorNone);
            GDI_MoveTo(dc, x + 5, y + 28);
            GDI_LineTo(dc, x + 18, y + 6);
            GDI_LineTo(dc, x + 41, y + 20);
            GDI_MoveTo(dc, x + 5, y + 36);
            GDI_LineTo(dc, x + 41, y + 36);
        }
    }
    // Patterns with a fill colour in the gaps, steep and shallow.
    GDI_SetFillColor(dc, kYellow);
    for (int style = 2; style <= 3; ++style) {
        GDI_SetPen(dc, style, 1, kRed);
        const int x = 4 + (style - 2) * 60;
        GDI_MoveTo(dc, x, 218);
        GDI_LineTo(dc, x + 50, 228);
        GDI_LineTo(dc, x + 10, 262);
    }
}

// Rectangles and rounded rectangles.
void rectangles(DC *dc) {
    GDI_SetFillColor(dc, kYellow);
    const int widths[] = {1, 2, 3, 5, 8};
    for (int i = 0; i < 5; ++i) {
        GDI_SetPen(dc, kPenSolid, widths[i], kBlue);
        GDI_Rectangle(dc, 410 + i * 76, 8, 470 + i * 76, 44);
    }
    // Patterned outlines: dashed without fill, dotted over a fill.
    GDI_SetFillColor(dc, kColorNone);
    GDI_SetPen(dc, kPenDashed, 1, kRed);
    GDI_Rectangle(dc, 410, 54, 470, 90);
    GDI_SetFillColor(dc, kGreen);
    GDI_SetPen(dc, kPenDotted, 1, kRed);
    GDI_Rectangle(dc, 486, 54, 546, 90);
    // Pen of the fill's colour, and no pen: one filled box.
    GDI_SetPen(dc, kPenSolid, 3, kGreen);
    GDI_Rectangle(dc, 562, 54, 622, 90);
    GDI_SetPen(dc, kPenNone, 3, kRed);
    GDI_Rectangle(dc, 638, 54, 698, 90);
    // Rounded: radius 0 (a plain rectangle), small, and as large as the box.
    struct Round {
        int w, style, corner;
        COLOR fill;
    };
    const Round rounds[] = {{1, kPenSolid, 0, kYellow},    {1, kPenSolid, 16, kYellow},
                            {1, kPenSolid, 80, kYellow},   {4, kPenSolid, 24, kYellow},
                            {7, kPenSolid, 80, kGreen},    {1, kPenDashed, 24, kColorNone},
                            {3, kPenSolid, 60, kColorNone}};
    for (int i = 0; i < 7; ++i) {
        GDI_SetPen(dc, rounds[i].style, rounds[i].w, kBlue);
        GDI_SetFillColor(dc, rounds[i].fill);
        const int x = 410 + i * 55;
        GDI_RoundRect(dc, x, 102, x + 46, 150, rounds[i].corner, rounds[i].corner);
    }
    // A rounded rectangle much wider than tall, with a maximal corner.
    GDI_SetPen(dc, kPenSolid, 2, kInk);
    GDI_SetFillColor(dc, kOrange);
    GDI_RoundRect(dc, 410, 160, 560, 196, 200, 200);
    GDI_SetPen(dc, kPenSolid, 1, kInk);
    GDI_RoundRect(dc, 570, 160, 720, 196, 36, 36);
}

// Ellipses, arcs, pies and chords.
void curves(DC *dc) {
    GDI_SetFillColor(dc, kYellow);
    GDI_SetPen(dc, kPenSolid, 1, kInk);
    GDI_Ellipse(dc, 130, 222, 141, 233); // 11 x 11: one centre
    GDI_Ellipse(dc, 146, 222, 156, 232); // 10 x 10: two
    GDI_SetPen(dc, kPenSolid, 5, kBlue);
    GDI_Ellipse(dc, 162, 220, 232, 260);
    GDI_SetFillColor(dc, kColorNone);
    GDI_SetPen(dc, kPenSolid, 7, kRed);
    GDI_Ellipse(dc, 242, 220, 282, 280);
    GDI_SetPen(dc, kPenDotted, 1, kInk);
    GDI_SetFillColor(dc, kGreen);
    GDI_Ellipse(dc, 130, 240, 156, 280);

    // Arcs, thin: one quadrant each (end after start), then across
    // boundaries, then the wrapping case (end before start in one quadrant).
    GDI_SetFillColor(dc, kColorNone);
    struct Arc {
        double from, to; // degrees, clockwise from 3 o'clock on the screen
    };
    const Arc arcs[] = {{280, 330}, {20, 70},   {110, 160}, {200, 250}, {300, 60},
                        {160, 20},  {330, 300}, {45, 45},   {0, 90},    {90, 270}};
    auto ray = [](int cx, int cy, double deg, int *x, int *y) {
        const double r = deg * 3.14159265358979 / 180;
        *x = cx + int(std::lround(100 * std::cos(r)));
        *y = cy + int(std::lround(100 * std::sin(r)));
    };
    for (int i = 0; i < 10; ++i) {
        const int l = 300 + (i % 5) * 62, t = 222 + (i / 5) * 62;
        const int cx = l + 25, cy = t + 25;
        int x1, y1, x2, y2;
        ray(cx, cy, arcs[i].from, &x1, &y1);
        ray(cx, cy, arcs[i].to, &x2, &y2);
        GDI_SetPen(dc, kPenSolid, 1, kGrey);
        GDI_Ellipse(dc, l, t, l + 51, t + 51);
        GDI_SetPen(dc, i < 5 ? kPenSolid : kPenDashed, 1, kRed);
        GDI_Arc(dc, l, t, l + 51, t + 51, x1, y1, x2, y2);
    }
    // Thick arcs (square and round ends), pies, pies without sides, chords.
    struct Figure {
        int kind, w;
        double from, to;
        COLOR fill;
    };
    const Figure figures[] = {
        {0, 4, 200, 20, kColorNone}, {0, 9, 120, 330, kColorNone}, {1, 1, 0, 90, kYellow},
        {1, 1, 135, 45, kYellow},    {1, 3, 300, 200, kGreen},     {1, 6, 60, 120, kYellow},
        {2, 1, 200, 340, kYellow},   {2, 4, 30, 300, kGreen},      {3, 1, 200, 340, kYellow},
        {3, 5, 100, 350, kYellow},
    };
    for (int i = 0; i < 10; ++i) {
        const int l = 620 + (i % 3) * 60, t = 222 + (i / 3) * 60;
        const int cx = l + 25, cy = t + 20;
        int x1, y1, x2, y2;
        ray(cx, cy, figures[i].from, &x1, &y1);
        ray(cx, cy, figures[i].to, &x2, &y2);
        GDI_SetPen(dc, kPenSolid, figures[i].w, kInk);
        GDI_SetFillColor(dc, figures[i].fill);
        const int r = l + 51, b = t + 41;
        switch (figures[i].kind) {
        case 0:
            GDI_Arc(dc, l, t, r, b, x1, y1, x2, y2);
            break;
        case 1:
            GDI_Pie(dc, l, t, r, b, x1, y1, x2, y2);
            break;
        case 2:
            GDI_PieNS(dc, l, t, r, b, x1, y1, x2, y2);
            break;
        default:
            GDI_Chord(dc, l, t, r, b, x1, y1, x2, y2);
            break;
        }
    }
}

// Bitmaps of 1, 4, 8 and 16 bits, transparent, turned; polygons.
void bitmaps_and_polygons(DC *dc) {
    static const uint16_t kArrow[16] = {0x0100, 0x0380, 0x07C0, 0x0FE0, 0x1FF0, 0x3FF8,
                                        0x7FFC, 0xFFFE, 0x0380, 0x0380, 0x0380, 0x0380,
                                        0x0380, 0x0380, 0x0380, 0x0000};
    std::vector<uint8_t> one;
    for (uint16_t row : kArrow)
        one.insert(one.end(), {uint8_t(row >> 8), uint8_t(row)});
    DIB d{};
    d.width = d.height = 16;
    d.bytes_per_row = 2;
    d.data_length = 32;
    d.bits_per_pixel = 1;
    d.foreground = kBlue;
    d.background = kYellow;
    d.pixels = one.data();
    d.record_bytes = uint32_t(one.size());
    GDI_WriteDIB(dc, 10, 290, 16, 16, &d, 0, 0);
    d.background = kColorNone; // over stripes: the 0 bits stay
    rect_fill(dc, 30, 290, 46, 306, kGrey);
    rect_fill(dc, 30, 294, 46, 298, kGreen);
    GDI_WriteDIB(dc, 30, 290, 16, 16, &d, 0, 0);
    GDI_RotateC2DIB(dc, &d, 52, 305, kRotateUp);
    GDI_RotateC2DIB(dc, &d, 89, 290, 32);

    std::vector<uint8_t> four(8 * 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 8; ++x)
            four[size_t(y * 8 + x)] = uint8_t(((2 * x + y) & 15) << 4 | ((2 * x + 1 + y) & 15));
    DIB f{};
    f.width = f.height = 16;
    f.bytes_per_row = 8;
    f.bits_per_pixel = 4;
    f.pixels = four.data();
    f.record_bytes = uint32_t(four.size());
    GDI_WriteDIB(dc, 10, 312, 16, 16, &f, 0, 0);

    std::vector<uint8_t> eight(32 * 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            eight[size_t(y * 32 + x)] = uint8_t((y / 4) * 32 + (x / 4) * 4 + ((x + y) & 3));
    DIB e{};
    e.width = e.height = 32;
    e.bytes_per_row = 32;
    e.bits_per_pixel = 8;
    e.pixels = eight.data();
    e.record_bytes = uint32_t(eight.size());
    GDI_WriteDIB(dc, 30, 312, 32, 32, &e, 0, 0);

    std::vector<uint8_t> sixteen;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const int dx = x - 16, dy = y - 16;
            const COLOR c =
                dx * dx + dy * dy < 200 ? COLOR((x / 2) << 11 | (y * 2) << 5 | 20) : 0x0841;
            sixteen.insert(sixteen.end(), {uint8_t(c), uint8_t(c >> 8)});
        }
    DIB s{};
    s.width = s.height = 32;
    s.bytes_per_row = 64;
    s.data_length = 2048;
    s.bits_per_pixel = 16;
    s.pixels = sixteen.data();
    s.record_bytes = uint32_t(sixteen.size());
    GDI_WriteDIB(dc, 66, 312, 32, 32, &s, 0, 0);
    s.flags = kDibTransparent;
    s.transparent = 0x0841;
    rect_fill(dc, 102, 312, 134, 344, kGrey);
    GDI_WriteDIB(dc, 102, 312, 32, 32, &s, 0, 0);

    // A pentagram filled by the even-odd rule, outlined; a bow tie.
    const double pi = 3.14159265358979;
    POINT star[5];
    for (int i = 0; i < 5; ++i) {
        const double a = -pi / 2 + i * 4 * pi / 5;
        star[i] = POINT{int16_t(60 + std::lround(44 * std::cos(a))),
                        int16_t(410 + std::lround(44 * std::sin(a)))};
    }
    GDI_SetPen(dc, kPenSolid, 1, kOrange);
    GDI_FillPolygon(dc, star, 5);
    GDI_SetPen(dc, kPenSolid, 1, kInk);
    GDI_Polygon(dc, star, 5);
    const POINT bow[4] = {{120, 370}, {200, 450}, {200, 370}, {120, 450}};
    GDI_SetPen(dc, kPenSolid, 1, kTeal);
    GDI_FillPolygon(dc, bow, 4);
    GDI_SetFillColor(dc, kYellow);
    GDI_SetPen(dc, kPenDotted, 1, kRed);
    const POINT zig[6] = {{215, 370}, {285, 380}, {230, 400}, {285, 420}, {215, 450}, {240, 410}};
    GDI_FillPolygon(dc, zig, 6);
    GDI_SetPen(dc, kPenSolid, 3, kInk);
    GDI_Polygon(dc, zig, 6);
}

// Figures far larger than the screen through a small clip.
void through_a_clip(DC *dc) {
    RECT clip{310, 350, 470, 470}, all{0, 0, 800, 480};
    GDI_SetPen(dc, kPenSolid, 1, kGrey);
    GDI_SetFillColor(dc, kColorNone);
    GDI_Rectangle(dc, 309, 349, 471, 471);
    GDI_SetClipRect(dc, &clip, nullptr);
    GDI_SetPen(dc, kPenSolid, 3, kBlue);
    GDI_SetFillColor(dc, kYellow);
    GDI_Ellipse(dc, -200, 380, 1000, 1200);
    GDI_SetPen(dc, kPenDashed, 1, kRed);
    GDI_MoveTo(dc, -23610, -29590);
    GDI_LineTo(dc, 24390, 30410);
    GDI_SetPen(dc, kPenSolid, 9, kInk);
    GDI_MoveTo(dc, 700, -5000);
    GDI_LineTo(dc, 100, 6000);
    GDI_SetPen(dc, kPenSolid, 1, kGreen);
    const POINT big[3] = {{-30000, 460}, {32000, 440}, {400, 32000}};
    GDI_FillPolygon(dc, big, 3);
    GDI_SetPen(dc, kPenSolid, 2, kInk);
    GDI_SetFillColor(dc, kColorNone);
    GDI_Rectangle(dc, -32000, 360, 440, 32000);
    GDI_SetClipRect(dc, &all, nullptr);
}

void gallery(DC *dc) {
    rect_fill(dc, 0, 0, 800, 480, kPaper);
    pens(dc);
    rectangles(dc);
    curves(dc);
    bitmaps_and_polygons(dc);
    through_a_clip(dc);
}
} // namespace

class GalleryTest : public ShapesTest {};

TEST_F(GalleryTest, EveryFigureMatchesTheReviewedPicture) {
    DC *dc = open("800x480");
    gallery(dc);
    EXPECT_EQ(png_snapshot_diff("tests/gdi/snapshots/gallery.png", rgb(dc), 800, 480), "");
}
