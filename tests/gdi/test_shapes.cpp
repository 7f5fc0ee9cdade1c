// Lines, pens, rectangles, ellipses, arcs, pies, chords, polygons and bitmaps:
// exact ray tables and profiles, small figures pixel by pixel, and figures far
// larger than the screen kept inside the clip.
#include "shapes_fixture.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <random>
#include <set>
#include <utility>

namespace {
std::vector<int> entries(const RayTable &t) {
    // Header, the rows written and the entry that closes them.
    return std::vector<int>(t.e.begin(), t.e.begin() + 5 + t.rows);
}

// The pixels of a region that differ from the background, as a set.
std::set<std::pair<int, int>> as_set(const std::vector<std::pair<int, int>> &v) {
    return {v.begin(), v.end()};
}
} // namespace

TEST(RayTableTest, TablesOfSmallRays) {
    struct Case {
        int dx, dy, limit_dx, limit_dy;
        std::vector<int> want; // code, x steps, y steps, 0, row entries..., closing entry
    };
    // clang-format off
    const Case cases[] = {
        // End point left out (limits = distances).
        {4, 1, 4, 1, {1, 3, 1, 0, 3, 5}},               // x-major: the last row is longer
        {1, 4, 1, 4, {1, 1, 3, 0, 0, 1, 1, 1, 2}},      // y-major: the last row is empty
        {-3, -3, -3, -3, {3, 2, 2, 0, 1, 2, 3, 4}},     // diagonal: the last row is the end point
        {10, 0, 10, 0, {1, 9, 0, 0, 10, 11}},           // horizontal
        {-10, 0, -10, 0, {3, 9, 0, 0, 10, 11}},
        {0, -5, 0, -5, {0, 0, 4, 0, 0, 0, 0, 0, 0, 1}}, // vertical
        {-2, 3, -2, 3, {2, 1, 2, 0, 1, 1, 2, 3}},
        // End point kept, rows to the limit (the rays of an arc).
        {3, -5, 6, 6, {0, 3, 5, 0, 1, 1, 2, 2, 3, 4, 7}},
        {6, 1, 3, 4, {1, 6, 1, 0, 4, 4, 4, 4, 5}},      // counts past the limit stop the table
        {0, 3, 5, 4, {2, 0, 3, 0, 0, 0, 0, 0, 6}},
    };
    // clang-format on
    for (const Case &c : cases) {
        RayTable t(16);
        EXPECT_EQ(CreateRay(c.dx, c.dy, c.limit_dx, c.limit_dy, t), c.want[0]);
        EXPECT_EQ(entries(t), c.want)
            << c.dx << "," << c.dy << " " << c.limit_dx << "," << c.limit_dy;
    }
    RayTable small(4);
    CreateRay(1, 40, 1, 40, small);
    EXPECT_EQ(small.rows, 4) << "rows past the capacity are cut off";
}

TEST(ProfileTest, ProfilesAndTheirLimits) {
    struct Case {
        int a, b;
        std::vector<int> want;
    };
    const Case cases[] = {
        {5, 5, {5, 5, 5, 4, 3, 2, 0}},
        {10, 4, {10, 10, 9, 7, 4, 0}},
        {1, 3, {1, 1, 1, 0, 0}},
        {6, 1, {6, 5, 0}},
    };
    for (const Case &c : cases) {
        Profile p(16);
        EXPECT_EQ(CreateEllipse(c.a, c.b, p), c.b);
        EXPECT_EQ(std::vector<int>(p.e.begin(), p.e.begin() + c.b + 2), c.want)
            << c.a << "," << c.b;
    }
    Profile p(272);
    EXPECT_EQ(CreateEllipse(300, 270, p), 270);
    EXPECT_EQ(CreateEllipse(300, 271, p), 0) << "no room for the closing entry";
    EXPECT_EQ(CreateEllipse(0, 5, p), 0);
    EXPECT_EQ(CreateEllipse(5, 0, p), 0);
    EXPECT_EQ(CreateEllipse(-5, 5, p), 0);
}

TEST(ProfileTest, TablesAreSizedFromTheScreenHeight) {
    EXPECT_EQ(Shapes_MaxRadius(480), 480);
    EXPECT_EQ(Shapes_MaxRadius(272), 272);
    EXPECT_GE(Shapes_RayRows(480), 3 * 480);
}

class LineTest : public ShapesTest {};

TEST_F(LineTest, SolidLineLeavesItsEndPointOut) {
    DC *dc = open();
    GDI_MoveTo(dc, 0, 0);
    EXPECT_EQ(GDI_LineTo(dc, 10, 0), 1);
    EXPECT_EQ(pic(dc, 0, 0, 12, 1), "##########..\n");
    EXPECT_EQ(dc->cur_x, 10);
    GDI_MoveTo(dc, 3, 3);
    EXPECT_EQ(GDI_LineTo(dc, 3, 3), 1) << "a line to itself draws nothing";
    EXPECT_EQ(pic(dc, 2, 2, 3, 3), "...\n...\n...\n");
}

// Lines of every direction, each with the pattern mask it leaves behind:
// the mask moves one bit per pixel drawn and carries over to the next line.
TEST_F(LineTest, PatternMasksCarriedAlongLines) {
    struct Case {
        int style;
        COLOR fill;
        std::vector<std::array<int, 2>> path; // MoveTo, then LineTo each point
        std::string want;                     // the 12 x 6 region at 0, 0
        int mask;                             // after the last line
    };
    // clang-format off
    const Case cases[] = {
        {kPenDotted, kColorNone, {{0, 0}, {10, 0}},
         "#.#.#.#.#...\n............\n............\n............\n............\n............\n", 0x20},
        {kPenDotted, 0x001F, {{0, 0}, {10, 0}},
         "#o#o#o#o#o..\n............\n............\n............\n............\n............\n", 0x20},
        {kPenDashed, kColorNone, {{0, 0}, {11, 0}},
         "##...#####..\n............\n............\n............\n............\n............\n", 0x10},
        // A polyline continues the dashes round its corner.
        {kPenDashed, kColorNone, {{0, 0}, {5, 0}, {5, 5}},
         "##...#......\n.....#......\n.....#......\n.....#......\n.....#......\n............\n", 0x20},
        // y-major, one pixel a row; x-major, one a column (4 pixels each).
        {kPenDotted, kColorNone, {{0, 0}, {1, 4}},
         "#...........\n............\n.#..........\n............\n............\n............\n", 0x08},
        {kPenDotted, kColorNone, {{0, 0}, {4, -1}},
         "#.#.........\n............\n............\n............\n............\n............\n", 0x08},
        {kPenDotted, kColorNone, {{11, 5}, {7, 1}},
         "............\n............\n............\n.........#..\n............\n...........#\n", 0x08},
    };
    // clang-format on
    for (const Case &c : cases) {
        DC *dc = open();
        GDI_SetPen(dc, c.style, 1, kPen);
        GDI_SetFillColor(dc, c.fill);
        GDI_MoveTo(dc, c.path[0][0], c.path[0][1]);
        for (size_t i = 1; i < c.path.size(); ++i)
            GDI_LineTo(dc, c.path[i][0], c.path[i][1]);
        EXPECT_EQ(pic(dc, 0, 0, 12, 6), c.want) << c.style << " " << c.path.size();
        EXPECT_EQ(dc->pattern_mask, c.mask);
        GDI_MoveTo(dc, 0, 0);
        EXPECT_EQ(dc->pattern_mask, 0x80) << "a move restarts the pattern";
    }
}

TEST_F(LineTest, ThickLinesAreBandsOfTheNib) {
    struct Case {
        int width, x1, y1, x2, y2;
        std::string want; // 10 x 7 region at 0, 0
    };
    // clang-format off
    const Case cases[] = {
        // Even width: the extra pixel below and right.
        {2, 1, 2, 6, 2, "..........\n..........\n.######...\n.######...\n..........\n..........\n..........\n"},
        {3, 4, 1, 4, 5, "...###....\n...###....\n...###....\n...###....\n...###....\n...###....\n..........\n"},
        {3, 2, 2, 5, 5, "..........\n.###......\n.####.....\n.#####....\n..####....\n...###....\n..........\n"},
    };
    // clang-format on
    for (const Case &c : cases) {
        DC *dc = open();
        GDI_SetPen(dc, kPenDotted, c.width, kPen); // thick pens ignore the pattern
        GDI_MoveTo(dc, c.x1, c.y1);
        EXPECT_EQ(GDI_LineTo(dc, c.x2, c.y2), 1);
        EXPECT_EQ(pic(dc, 0, 0, 10, 7), c.want) << c.width;
    }
}

class RectangleTest : public ShapesTest {};

TEST_F(RectangleTest, OutlinesFillsAndPenBands) {
    struct Case {
        int style, width;
        COLOR pen, fill;
        std::string want; // 8 x 8 region at 0, 0 of the rectangle 1, 1, 7, 7
    };
    // clang-format off
    const Case cases[] = {
        {kPenSolid, 1, kPen, kColorNone,
         "........\n.######.\n.#....#.\n.#....#.\n.#....#.\n.#....#.\n.######.\n........\n"},
        {kPenSolid, 1, kPen, kFill,
         "........\n.######.\n.#oooo#.\n.#oooo#.\n.#oooo#.\n.#oooo#.\n.######.\n........\n"},
        // Width 2: one pixel out on the left and top, one in on the right and bottom.
        {kPenSolid, 2, kPen, kFill,
         "#######.\n#######.\n##ooo##.\n##ooo##.\n##ooo##.\n#######.\n#######.\n........\n"},
        // Pen of the fill's colour, or no pen: one filled box.
        {kPenSolid, 3, kFill, kFill,
         "oooooooo\noooooooo\noooooooo\noooooooo\noooooooo\noooooooo\noooooooo\noooooooo\n"},
        {kPenNone, 3, kPen, kFill,
         "........\n.oooooo.\n.oooooo.\n.oooooo.\n.oooooo.\n.oooooo.\n.oooooo.\n........\n"},
        // Dashed: the pattern runs on round the corners, clockwise from the top left.
        {kPenDashed, 1, kPen, kColorNone,
         "........\n.##...#.\n......#.\n......#.\n.#....#.\n.#....#.\n.###....\n........\n"},
    };
    // clang-format on
    for (const Case &c : cases) {
        DC *dc = open();
        GDI_SetPen(dc, c.style, c.width, c.pen);
        GDI_SetFillColor(dc, c.fill);
        EXPECT_EQ(GDI_Rectangle(dc, 1, 1, 7, 7), 1);
        EXPECT_EQ(pic(dc, 0, 0, 8, 8), c.want) << c.style << " " << c.width;
    }
}

TEST_F(RectangleTest, PatternRestartsWithEveryRectangle) {
    DC *dc = open();
    GDI_SetPen(dc, kPenDashed, 1, kPen);
    GDI_Rectangle(dc, 1, 1, 7, 7);
    const std::string first = pic(dc, 0, 0, 8, 8);
    EXPECT_NE(dc->pattern_mask, 0x80);
    GDI_Rectangle(dc, 11, 1, 17, 7); // no GDI_SetPen in between
    EXPECT_EQ(pic(dc, 10, 0, 8, 8), first);
}

TEST_F(RectangleTest, SmallCornersMakePlainRectangles) {
    for (int corner : {0, 1, -5}) {
        DC *dc = open();
        GDI_SetFillColor(dc, kFill);
        GDI_SetPen(dc, kPenSolid, 2, kPen);
        EXPECT_EQ(GDI_RoundRect(dc, 3, 3, 40, 30, corner, 20), 1);
        const std::string round = pic(dc, 0, 0, 44, 34);
        clear(dc);
        GDI_Rectangle(dc, 3, 3, 40, 30);
        EXPECT_EQ(pic(dc, 0, 0, 44, 34), round) << corner;
    }
    DC *dc = open();
    EXPECT_EQ(GDI_Rectangle(dc, 5, 5, 5, 9), 0) << "empty";
    EXPECT_EQ(GDI_RoundRect(dc, 5, 5, 9, 4, 4, 4), 0);
    EXPECT_TRUE(marked(dc).empty());
}

TEST_F(RectangleTest, PolygonOutlines) {
    DC *dc = open();
    const POINT one[1] = {{3, 3}};
    EXPECT_EQ(GDI_Polygon(dc, one, 1), 0);
    EXPECT_TRUE(marked(dc).empty());
    // Two points: the segment there and back, both ends drawn.
    const POINT two[2] = {{1, 1}, {6, 3}};
    EXPECT_EQ(GDI_Polygon(dc, two, 2), 1);
    EXPECT_EQ(pic(dc, 0, 0, 8, 5), "........\n.##.....\n...##...\n.....##.\n........\n");
    std::vector<POINT> many(kMaxPolygonPoints + 1, POINT{2, 2});
    EXPECT_EQ(GDI_Polygon(dc, many.data(), int(many.size())), 0) << "too many points";
}

class EllipseTest : public ShapesTest {};

TEST_F(EllipseTest, OddBoxesHaveOneCentreEvenBoxesTwo) {
    DC *dc = open();
    EXPECT_EQ(GDI_Ellipse(dc, 0, 0, 11, 11), 1);
    EXPECT_EQ(dc->centre_x, dc->centre2_x);
    EXPECT_EQ(pic(dc, 0, 0, 11, 11), "...#####...\n"
                                     "..#.....#..\n"
                                     ".#.......#.\n"
                                     "#.........#\n"
                                     "#.........#\n"
                                     "#.........#\n"
                                     "#.........#\n"
                                     "#.........#\n"
                                     ".#.......#.\n"
                                     "..#.....#..\n"
                                     "...#####...\n");
    clear(dc);
    GDI_SetFillColor(dc, kFill);
    EXPECT_EQ(GDI_Ellipse(dc, 0, 0, 10, 10), 1);
    EXPECT_EQ(dc->centre2_x, dc->centre_x + 1);
    EXPECT_EQ(dc->centre2_y, dc->centre_y + 1);
    EXPECT_EQ(pic(dc, 0, 0, 10, 10), "...####...\n"
                                     ".##oooo##.\n"
                                     ".#oooooo#.\n"
                                     "#oooooooo#\n"
                                     "#oooooooo#\n"
                                     "#oooooooo#\n"
                                     "#oooooooo#\n"
                                     ".#oooooo#.\n"
                                     ".##oooo##.\n"
                                     "...####...\n");
}

TEST_F(EllipseTest, EmptyAndFlatBoxesDrawNothing) {
    DC *dc = open();
    EXPECT_EQ(GDI_Ellipse(dc, 10, 10, 30, 11), 0) << "one pixel high";
    EXPECT_EQ(GDI_Ellipse(dc, 10, 10, 11, 30), 0) << "one pixel wide";
    EXPECT_EQ(GDI_Ellipse(dc, 10, 10, 5, 30), 0) << "empty";
    EXPECT_EQ(GDI_Arc(dc, 10, 10, 30, 11, 0, 0, 5, 5), 0);
    EXPECT_TRUE(marked(dc).empty());
}

// A pen of the fill's colour, a fill without a pen, or a pen band without a
// fill: every pixel is drawn once, so xor shows the figure and a second xor
// takes it away again.
TEST_F(EllipseTest, OneColourFiguresDrawEveryPixelOnce) {
    struct Case {
        int style, width;
        COLOR pen, fill;
        int l, t, r, b;
    };
    const Case cases[] = {
        {kPenSolid, 1, kPen, kPen, 2, 2, 13, 13},
        {kPenSolid, 1, kPen, kPen, 2, 2, 22, 12},
        {kPenNone, 1, kPen, kPen, 2, 2, 15, 9},
        {kPenSolid, 1, kPen, kColorNone, 2, 2, 13, 13},
        {kPenSolid, 1, kPen, kColorNone, 2, 2, 12, 12},
        {kPenSolid, 4, kPen, kColorNone, 2, 2, 20, 17},
    };
    for (const Case &c : cases) {
        DC *dc = open();
        GDI_SetPen(dc, c.style, c.width, c.pen);
        GDI_SetFillColor(dc, c.fill);
        GDI_Ellipse(dc, c.l, c.t, c.r, c.b);
        const auto copy = marked(dc);
        clear(dc);
        GDI_SetROP(dc, 2);
        GDI_Ellipse(dc, c.l, c.t, c.r, c.b);
        EXPECT_EQ(marked(dc), copy) << c.r << "x" << c.b;
        for (auto [x, y] : copy)
            EXPECT_EQ(px(dc, x, y), kBack ^ kPen) << x << "," << y;
        GDI_Ellipse(dc, c.l, c.t, c.r, c.b);
        EXPECT_TRUE(marked(dc).empty()) << c.r << "x" << c.b;
    }
}

TEST_F(EllipseTest, ArcsBetweenTwoRays) {
    DC *dc = open();
    GDI_Ellipse(dc, 0, 0, 11, 11);
    const auto whole = as_set(marked(dc));
    // Start and end on one point: the whole ellipse.
    clear(dc);
    EXPECT_EQ(GDI_Arc(dc, 0, 0, 11, 11, 20, 1, 20, 1), 1);
    EXPECT_EQ(as_set(marked(dc)), whole);
    // Straight right to straight below: the bottom right quarter, clockwise.
    clear(dc);
    EXPECT_EQ(GDI_Arc(dc, 0, 0, 11, 11, 10, 5, 5, 10), 1);
    std::set<std::pair<int, int>> quarter;
    for (auto p : whole)
        if (p.first >= 5 && p.second >= 5) quarter.insert(p);
    EXPECT_EQ(as_set(marked(dc)), quarter);
    // And back: the other three quarters.
    clear(dc);
    GDI_Arc(dc, 0, 0, 11, 11, 5, 10, 10, 5);
    for (auto p : quarter) {
        if (p == std::pair{5, 10} || p == std::pair{10, 5}) continue; // the two ends
        EXPECT_NE(px(dc, p.first, p.second), kPen) << p.first << "," << p.second;
    }
    EXPECT_EQ(px(dc, 0, 5), kPen);
    EXPECT_EQ(px(dc, 5, 0), kPen);
    // No pen, no arc.
    clear(dc);
    GDI_SetPen(dc, kPenNone, 1, kPen);
    EXPECT_EQ(GDI_Arc(dc, 0, 0, 11, 11, 10, 5, 5, 10), 1);
    EXPECT_TRUE(marked(dc).empty());
}

TEST_F(EllipseTest, PiesPiesWithoutSidesAndChords) {
    DC *dc = open();
    GDI_SetFillColor(dc, kFill);
    // The bottom right quarter as a pie: its radii are drawn with the pen.
    EXPECT_EQ(GDI_Pie(dc, 0, 0, 11, 11, 10, 5, 5, 10), 1);
    EXPECT_EQ(px(dc, 7, 5), kPen);
    EXPECT_EQ(px(dc, 5, 7), kPen);
    EXPECT_EQ(px(dc, 7, 7), kFill);
    EXPECT_EQ(px(dc, 3, 3), kBack) << "outside the sector";
    EXPECT_EQ(px(dc, 3, 7), kBack);
    // Without sides the sector is filled up to its edges.
    clear(dc);
    EXPECT_EQ(GDI_PieNS(dc, 0, 0, 11, 11, 10, 5, 5, 10), 1);
    EXPECT_EQ(px(dc, 7, 5), kFill);
    EXPECT_EQ(px(dc, 5, 7), kFill);
    EXPECT_EQ(px(dc, 10, 5), kPen) << "the arc keeps its outline";
    EXPECT_EQ(px(dc, 3, 3), kBack);
    // A chord is outlined, never filled.
    clear(dc);
    EXPECT_EQ(GDI_Chord(dc, 0, 0, 21, 21, 20, 10, 0, 10), 1);
    for (auto [x, y] : marked(dc))
        EXPECT_EQ(px(dc, x, y), kPen) << x << "," << y;
    EXPECT_EQ(px(dc, 4, 10), kPen) << "the straight side";
    EXPECT_EQ(px(dc, 10, 20), kPen) << "the arc below";
    EXPECT_EQ(px(dc, 10, 0), kBack) << "nothing above";
}

// Boxes to the left of and above the origin keep their centre there: the
// rays of an arc are measured from it.
TEST_F(EllipseTest, BoxesLeftOfTheOriginKeepTheirCentre) {
    DC *dc = open();
    GDI_SetFillColor(dc, kFill);
    // The right half of a circle centred at (-1, 30): only its right edge shows.
    EXPECT_EQ(GDI_Pie(dc, -31, 0, 30, 61, -1, 0, -1, 60), 1);
    EXPECT_EQ(px(dc, 10, 30), kFill);
    EXPECT_EQ(px(dc, 29, 30), kPen);
}

class PolyFillTest : public ShapesTest {};

TEST_F(PolyFillTest, TriangleRows) {
    const std::string want = "##########..\n"
                             "########....\n"
                             "#######.....\n"
                             "######......\n"
                             "#####.......\n"
                             "####........\n"
                             "###.........\n"
                             "##..........\n"
                             "#...........\n"
                             "............\n"
                             "............\n";
    const POINT clockwise[3] = {{0, 0}, {10, 0}, {0, 10}};
    const POINT anticlockwise[3] = {{0, 10}, {10, 0}, {0, 0}};
    for (const POINT *pts : {clockwise, anticlockwise}) {
        DC *dc = open();
        EXPECT_EQ(GDI_FillPolygon(dc, pts, 3), 1);
        EXPECT_EQ(pic(dc, 0, 0, 12, 11), want);
    }
}

TEST_F(PolyFillTest, SelfCrossingPolygonsFillEvenOdd) {
    DC *dc = open();
    const POINT bow[4] = {{0, 0}, {10, 10}, {10, 0}, {0, 10}};
    EXPECT_EQ(GDI_FillPolygon(dc, bow, 4), 1);
    // Each row's spans end before the right edge's x on that row.
    EXPECT_EQ(pic(dc, 0, 0, 11, 11), "...........\n"
                                     "#.......##.\n"
                                     "##.....###.\n"
                                     "###...####.\n"
                                     "####.#####.\n"
                                     "####.#####.\n"
                                     "###...####.\n"
                                     "##.....###.\n"
                                     "#.......##.\n"
                                     ".........#.\n"
                                     "...........\n");
}

TEST_F(PolyFillTest, DegenerateAndOversizedPolygons) {
    DC *dc = open();
    const POINT two[2] = {{0, 0}, {10, 10}};
    EXPECT_EQ(GDI_FillPolygon(dc, two, 2), 0);
    const POINT flat[3] = {{0, 5}, {10, 5}, {20, 5}};
    EXPECT_EQ(GDI_FillPolygon(dc, flat, 3), 1);
    // More edges than the edge table holds: refused, nothing drawn.
    std::vector<POINT> ring;
    for (int i = 0; i < 40; ++i)
        ring.push_back(POINT{int16_t(100 + (i % 2 ? 60 : 50) * std::cos(i * 0.157)),
                             int16_t(100 + (i % 2 ? 60 : 50) * std::sin(i * 0.157))});
    EXPECT_EQ(GDI_FillPolygon(dc, ring.data(), 40), 0);
    EXPECT_TRUE(marked(dc).empty());
    // 32 sloping edges and any number of horizontal ones fit.
    std::vector<POINT> comb;
    for (int i = 0; i < 16; ++i) {
        comb.push_back(POINT{int16_t(10 + 8 * i), 10});
        comb.push_back(POINT{int16_t(14 + 8 * i), 40});
    }
    EXPECT_EQ(GDI_FillPolygon(dc, comb.data(), int(comb.size())), 1);
    EXPECT_FALSE(marked(dc).empty());
}

TEST_F(PolyFillTest, PatternRunsOnFromSpanToSpan) {
    DC *dc = open();
    GDI_SetPen(dc, kPenDotted, 1, kPen);
    const POINT box[4] = {{0, 0}, {5, 0}, {5, 3}, {0, 3}};
    EXPECT_EQ(GDI_FillPolygon(dc, box, 4), 1);
    EXPECT_EQ(pic(dc, 0, 0, 6, 4), "#.#.#.\n.#.#..\n#.#.#.\n......\n");
}

class BitmapTest : public ShapesTest {};

TEST_F(BitmapTest, RegionsAreClippedToTheBitmapAndTheClip) {
    DC *dc = open();
    // 4 x 3 16-bit pixels.
    std::vector<uint8_t> px16;
    for (int i = 0; i < 12; ++i)
        px16.insert(px16.end(), {uint8_t(kPen), uint8_t(kPen >> 8)});
    DIB d{};
    d.width = 4;
    d.height = 3;
    d.bytes_per_row = 8;
    d.data_length = 24;
    d.bits_per_pixel = 16;
    d.pixels = px16.data();
    d.record_bytes = uint32_t(px16.size());
    EXPECT_EQ(GDI_WriteDIB(dc, 1, 1, 10, 10, &d, 0, 0), 1);
    EXPECT_EQ(pic(dc, 0, 0, 7, 5), ".......\n.####..\n.####..\n.####..\n.......\n");

    // One-bit 8 x 2, half left of the clip: the columns that land on the
    // clip's left edge onwards.
    clear(dc);
    const uint8_t bits[2] = {0xF0, 0x0F};
    DIB g{};
    g.width = 8;
    g.height = 2;
    g.bytes_per_row = 1;
    g.bits_per_pixel = 1;
    g.foreground = kPen;
    g.background = kFill;
    g.pixels = const_cast<uint8_t *>(bits);
    g.record_bytes = sizeof bits;
    RECT clip{10, 0, 100, 100};
    GDI_SetClipRect(dc, &clip, nullptr);
    EXPECT_EQ(GDI_WriteDIB(dc, 6, 1, 8, 2, &g, 0, 0), 1);
    EXPECT_EQ(pic(dc, 6, 0, 10, 4), "..........\n....oooo..\n....####..\n..........\n");
    EXPECT_EQ(GDI_WriteDIB(dc, 0, 1, 8, 2, &g, 0, 0), 0) << "wholly left of the clip";
}

TEST_F(BitmapTest, TransparentPixelsLeaveTheScreen) {
    DC *dc = open();
    const COLOR row[4] = {kPen, 0x1234, 0x1234, kFill};
    std::vector<uint8_t> data;
    for (COLOR c : row)
        data.insert(data.end(), {uint8_t(c), uint8_t(c >> 8)});
    DIB d{};
    d.width = 4;
    d.height = 1;
    d.bytes_per_row = 8;
    d.data_length = 8;
    d.bits_per_pixel = 16;
    d.transparent = 0x1234;
    d.flags = kDibTransparent;
    d.pixels = data.data();
    d.record_bytes = uint32_t(data.size());
    EXPECT_EQ(GDI_WriteDIB(dc, 2, 2, 4, 1, &d, 0, 0), 1);
    EXPECT_EQ(pic(dc, 0, 2, 8, 1), "..#..o..\n");
}

TEST_F(BitmapTest, TurnedGlyphs) {
    DC *dc = open();
    const uint8_t bits[2] = {0xC0, 0x60}; // 3 x 2: "##." and ".##"
    DIB g{};
    g.width = 3;
    g.height = 2;
    g.bytes_per_row = 1;
    g.bits_per_pixel = 1;
    g.foreground = kPen;
    g.background = kColorNone;
    g.pixels = const_cast<uint8_t *>(bits);
    g.record_bytes = sizeof bits;
    EXPECT_EQ(GDI_RotateC2DIB(dc, &g, 2, 5, kRotateUp), 1);
    EXPECT_EQ(GDI_RotateC2DIB(dc, &g, 8, 1, 32), 1);
    EXPECT_EQ(pic(dc, 0, 0, 10, 7), "..........\n"
                                    "........#.\n"
                                    ".......##.\n"
                                    "...#...#..\n"
                                    "..##......\n"
                                    "..#.......\n"
                                    "..........\n");
    // Clipped like every other figure.
    clear(dc);
    RECT clip{3, 0, 100, 100};
    GDI_SetClipRect(dc, &clip, nullptr);
    g.background = kFill;
    EXPECT_EQ(GDI_RotateC2DIB(dc, &g, 2, 5, kRotateUp), 1);
    EXPECT_EQ(pic(dc, 0, 2, 5, 4), ".....\n...#.\n...#.\n...o.\n");
    g.bits_per_pixel = 4;
    EXPECT_EQ(GDI_RotateC2DIB(dc, &g, 2, 5, kRotateUp), 0);
}

TEST_F(BitmapTest, BlockCopiesAreClippedToTheDestination) {
    DC *dc = open();
    for (int x = 0; x < 6; ++x)
        put(dc, 20 + x, 20, COLOR(kPen + x));
    RECT clip{12, 0, 200, 200};
    GDI_SetClipRect(dc, &clip, nullptr);
    // Destination starts 2 left of the clip: the source moves 2 along.
    EXPECT_EQ(GDI_BitBlt(dc, 10, 30, 6, 1, dc, 20, 20), 1);
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(px(dc, 10 + x, 30), x < 2 ? kBack : COLOR(kPen + x)) << x;
    EXPECT_EQ(GDI_BitBlt(dc, 0, 30, 6, 1, dc, 20, 20), 0) << "wholly outside";
}

// Figures far larger than the screen, each drawn through a small clip on a
// screen of one colour: nothing lands outside the clip.
TEST_F(ShapesTest, FiguresLargerThanTheScreenStayInsideTheClip) {
    using Draw = void (*)(DC *);
    const std::pair<const char *, Draw> figures[] = {
        {"dashed line",
         [](DC *dc) {
             GDI_SetPen(dc, kPenDashed, 1, kPen);
             GDI_MoveTo(dc, -30000, -29950);
             GDI_LineTo(dc, 30000, 30050);
         }},
        {"thick line",
         [](DC *dc) {
             GDI_SetPen(dc, kPenSolid, 4, kPen);
             GDI_MoveTo(dc, -30000, 100);
             GDI_LineTo(dc, 30000, 160);
         }},
        {"round line",
         [](DC *dc) {
             GDI_SetPen(dc, kPenSolid, 9, kPen);
             GDI_MoveTo(dc, 150, -30000);
             GDI_LineTo(dc, 250, 30000);
         }},
        {"rectangle",
         [](DC *dc) {
             GDI_SetPen(dc, kPenSolid, 3, kPen);
             GDI_SetFillColor(dc, kFill);
             GDI_Rectangle(dc, -30000, 120, 30000, 30000);
         }},
        {"dashed rectangle",
         [](DC *dc) {
             GDI_SetPen(dc, kPenDashed, 1, kPen);
             GDI_Rectangle(dc, 150, -30000, 30000, 30000);
         }},
        {"rounded rectangle",
         [](DC *dc) {
             GDI_SetPen(dc, kPenSolid, 5, kPen);
             GDI_SetFillColor(dc, kFill);
             GDI_RoundRect(dc, -3000, 90, 3000, 3000, 400, 400);
         }},
        {"ellipse",
         [](DC *dc) {
             GDI_SetPen(dc, kPenDotted, 1, kPen);
             GDI_SetFillColor(dc, kFill);
             GDI_Ellipse(dc, -3000, 0, 3500, 500);
         }},
        {"pie",
         [](DC *dc) {
             GDI_SetPen(dc, kPenSolid, 7, kPen);
             GDI_SetFillColor(dc, kFill);
             GDI_Pie(dc, -3000, 0, 3500, 500, 0, 0, 400, 0);
         }},
        {"chord",
         [](DC *dc) {
             GDI_SetPen(dc, kPenSolid, 2, kPen);
             GDI_Chord(dc, -3000, -100, 3500, 400, -3000, 149, 3500, 149);
         }},
        {"polygon",
         [](DC *dc) {
             GDI_SetPen(dc, kPenSolid, 6, kPen);
             const POINT p[3] = {{-32000, 100}, {32000, 150}, {200, 32000}};
             GDI_Polygon(dc, p, 3);
         }},
        {"filled polygon",
         [](DC *dc) {
             GDI_SetPen(dc, kPenDotted, 1, kPen);
             GDI_SetFillColor(dc, kFill);
             const POINT p[4] = {{-32000, -32000}, {32000, -30000}, {30000, 32000}, {-31000, 150}};
             GDI_FillPolygon(dc, p, 4);
         }},
        {"thick filled polygon",
         [](DC *dc) {
             GDI_SetPen(dc, kPenSolid, 3, kPen);
             const POINT p[3] = {{-32000, 130}, {32000, -32000}, {0, 32000}};
             GDI_FillPolygon(dc, p, 3);
         }},
        {"bitmaps",
         [](DC *dc) {
             static uint8_t bits[8 * 40];
             std::fill(std::begin(bits), std::end(bits), 0xA5);
             DIB g{};
             g.width = 64;
             g.height = 40;
             g.bytes_per_row = 8;
             g.bits_per_pixel = 1;
             g.foreground = kPen;
             g.background = kFill;
             g.pixels = bits;
             g.record_bytes = sizeof bits;
             GDI_WriteDIB(dc, 80, 40, 64, 40, &g, 0, 0);
             GDI_RotateC2DIB(dc, &g, 95, 75, kRotateUp);
             GDI_RotateC2DIB(dc, &g, 310, 190, 32);
         }},
    };
    for (const auto &[name, draw] : figures) {
        DC *dc = open();
        RECT clip{100, 50, 300, 200};
        GDI_SetClipRect(dc, &clip, nullptr);
        const auto t0 = std::chrono::steady_clock::now();
        draw(dc);
        // A guard against a figure that runs away (a loop over 32-bit extents), not a timing.
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30)) << name;
        const auto drawn = marked(dc);
        EXPECT_FALSE(drawn.empty()) << name;
        for (auto [x, y] : drawn) {
            ASSERT_TRUE(x >= 100 && x < 300 && y >= 50 && y < 200)
                << name << " at " << x << "," << y;
        }
    }
}

// A line spanning more rows than a ray table holds is drawn through a window
// of rows: the same pixels, and the same pattern phase after it, as on a
// screen tall enough to hold the whole line in one table.
TEST_F(ShapesTest, LongLinesMatchWhetherWindowedOrWhole) {
    struct Case {
        int style, width, x1, y1, x2, y2;
    };
    const Case cases[] = {
        {kPenDashed, 1, 30, -2000, 400, 2600},    {kPenDotted, 1, 470, 2600, 10, -2000},
        {kPenSolid, 4, 200, -3000, 260, 1500},    {kPenSolid, 9, 50, 1800, 300, -1700},
        {kPenSolid, 1, -2000, -2000, 1500, 2400},
    };
    constexpr int kShift = 2100; // the short screen's row 0 on the tall one
    for (const Case &c : cases) {
        DC *dc = open("480x272");
        ASSERT_LT(Shapes_RayRows(272), std::abs(c.y2 - c.y1)) << "windowed on the short screen";
        GDI_SetPen(dc, c.style, c.width, kPen);
        GDI_SetFillColor(dc, kFill);
        GDI_MoveTo(dc, c.x1, c.y1);
        EXPECT_EQ(GDI_LineTo(dc, c.x2, c.y2), 1);
        const std::string windowed = pic(dc, 0, 0, 480, 272);
        const uint8_t mask = dc->pattern_mask;

        panel_reset_all();
        dc = open("480x4000");
        ASSERT_GE(Shapes_RayRows(4000), std::abs(c.y2 - c.y1)) << "whole on the tall screen";
        GDI_SetPen(dc, c.style, c.width, kPen);
        GDI_SetFillColor(dc, kFill);
        GDI_MoveTo(dc, c.x1, c.y1 + kShift);
        EXPECT_EQ(GDI_LineTo(dc, c.x2, c.y2 + kShift), 1);
        EXPECT_EQ(pic(dc, 0, kShift, 480, 272), windowed) << c.style << " " << c.width;
        EXPECT_EQ(dc->pattern_mask, mask);
        panel_reset_all();
    }
}

TEST_F(ShapesTest, FiguresUpToTheScreenHeightAreDrawn) {
    DC *dc = open("800x480");
    // A line over every row and a circle of radius 300 (more than 270).
    GDI_MoveTo(dc, 0, 0);
    EXPECT_EQ(GDI_LineTo(dc, 5, 479), 1);
    EXPECT_EQ(px(dc, 5, 478), kPen);
    EXPECT_EQ(GDI_Ellipse(dc, 100, 100, 701, 701), 1);
    EXPECT_EQ(px(dc, 400, 100), kPen);
    // A vertical radius beyond the tables is refused whole.
    clear(dc);
    EXPECT_EQ(GDI_Ellipse(dc, 0, 0, 100, 1200), 0);
    EXPECT_EQ(GDI_Arc(dc, 0, 0, 100, 1200, 0, 0, 1, 1), 0);
    EXPECT_TRUE(marked(dc).empty());
}

// Random figures with coordinates anywhere in the 16-bit range, any pen width
// and style, through a random clip: nothing outside the clip changes (and the
// sanitizer build sees no fault).
TEST_F(ShapesTest, RandomFiguresStayInsideTheClip) {
    DC *dc = open();
    std::mt19937 rng(7);
    auto any = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto coord = [&] { return any(0, 3) == 0 ? any(-32768, 32767) : any(-600, 900); };
    for (int i = 0; i < 1000; ++i) {
        clear(dc);
        RECT clip{int16_t(any(0, 200)), int16_t(any(0, 100)), int16_t(any(210, 480)),
                  int16_t(any(110, 272))};
        GDI_SetClipRect(dc, &clip, nullptr);
        GDI_SetPen(dc, any(0, 5), any(0, 3) == 0 ? any(-3, 600) : any(0, 12), kPen);
        GDI_SetFillColor(dc, any(0, 1) ? kFill : kColorNone);
        const int l = coord(), t = coord(), r = coord(), b = coord();
        switch (any(0, 8)) {
        case 0:
            GDI_MoveTo(dc, l, t);
            GDI_LineTo(dc, r, b);
            break;
        case 1:
            GDI_Rectangle(dc, l, t, r, b);
            break;
        case 2:
            GDI_RoundRect(dc, l, t, r, b, coord(), coord());
            break;
        case 3:
            GDI_Ellipse(dc, l, t, r, b);
            break;
        case 4:
            GDI_Arc(dc, l, t, r, b, coord(), coord(), coord(), coord());
            break;
        case 5:
            GDI_Pie(dc, l, t, r, b, coord(), coord(), coord(), coord());
            break;
        case 6:
            GDI_Chord(dc, l, t, r, b, coord(), coord(), coord(), coord());
            break;
        default: {
            POINT p[6];
            for (POINT &q : p)
                q = POINT{int16_t(coord()), int16_t(coord())};
            if (any(0, 1))
                GDI_Polygon(dc, p, any(2, 6));
            else
                GDI_FillPolygon(dc, p, any(3, 6));
            break;
        }
        }
        for (auto [x, y] : marked(dc)) {
            ASSERT_TRUE(x >= dc->clip.left && x <= dc->clip.right && y >= dc->clip.top &&
                        y <= dc->clip.bottom)
                << "figure " << i << " at " << x << "," << y;
        }
    }
}
