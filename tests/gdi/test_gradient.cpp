// Gradient fills: the rows of each mode, the pen band, figures that must
// match their plain forms, the shaded figures' colour stops, the pixel
// pipeline's surface, clipping, and a reviewed picture of every figure.
#include "gdi/gradient.h"
#include "platform/pxp.h"
#include "png_snapshot.h"
#include "shapes_fixture.h"

#include <optional>
#include <vector>

namespace {
constexpr COLOR kBlack = 0x0000, kWhite = 0xFFDF;

int red(COLOR c) {
    return c >> 11;
}
int green(COLOR c) {
    return (c >> 5) & 63;
}
} // namespace

class GradientTest : public ShapesTest {
protected:
    DC *open_grad(int mode, COLOR start = kBlack, COLOR end = kWhite) {
        DC *dc = open();
        GDI_SetPen(dc, kPenNone, 1, kPen);
        GDI_SetFillColor(dc, start);
        GDI_SetEndColor(dc, end);
        GDI_SetGradient(dc, mode);
        return dc;
    }
    // Is the w x h region at (x0, y0) the same, pixel for pixel, as the one
    // at (x1, y1)?
    static bool same(const DC *dc, int x0, int y0, int x1, int y1, int w, int h) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (px(dc, x0 + x, y0 + y) != px(dc, x1 + x, y1 + y)) return false;
        return true;
    }
};

// The rows of a gradient rectangle, column 15 of a box from x 10 to 20 whose
// top row is 10, for each mode. nullopt: the row is left as it was.
TEST_F(GradientTest, RectangleRowsOfEachMode) {
    struct Case {
        const char *what;
        int mode, header, footer, rows;
        std::vector<std::pair<int, std::optional<COLOR>>> expect; // row from the top, colour
    };
    const COLOR kMid = 0x7BEF; // red 15, green 31, blue 15
    const Case cases[] = {
        {"flat", kGradFlat, 0, 0, 5, {{0, kBlack}, {4, kBlack}, {5, std::nullopt}}},
        {"linear, 11 rows",
         kGradLinear,
         0,
         0,
         11,
         {{-1, std::nullopt}, {0, kBlack}, {5, kMid}, {10, kWhite}, {11, std::nullopt}}},
        {"mirrored, 11 rows",
         kGradMirrored,
         0,
         0,
         11,
         {{0, kBlack}, {4, kWhite}, {10, kBlack}, {11, std::nullopt}}},
        // Two rows: the row above the box stays as it was.
        {"mirrored, 2 rows",
         kGradMirrored,
         0,
         0,
         2,
         {{-1, std::nullopt}, {1, kBlack}, {2, std::nullopt}}},
        // The footer band ends on the box's last row, not one below it.
        {"banded 2 + 3 on 20 rows",
         kGradBanded,
         2,
         3,
         20,
         {{0, kBlack},
          {1, kBlack},
          {2, kBlack},
          {16, Grad_Step(kBlack, kWhite, 14, 15)},
          {17, kWhite},
          {19, kWhite},
          {20, std::nullopt}}},
        // Bands larger than the box stay inside it.
        {"banded 15 + 15 on 10 rows",
         kGradBanded,
         15,
         15,
         10,
         {{-1, std::nullopt}, {0, kBlack}, {9, kBlack}, {10, std::nullopt}}},
        {"banded, negative bands",
         kGradBanded,
         -4,
         -4,
         11,
         {{0, kBlack}, {10, Grad_Step(kBlack, kWhite, 10, 11)}, {11, std::nullopt}}},
        {"mode 4 draws nothing", 4, 0, 0, 5, {{0, std::nullopt}, {4, std::nullopt}}},
        {"a single row is not filled", kGradLinear, 0, 0, 1, {{0, std::nullopt}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        DC *dc = open_grad(c.mode);
        EXPECT_EQ(GDI_GradientRect(dc, c.header, c.footer, 10, 10, 21, 10 + c.rows), 1);
        for (const auto &[row, colour] : c.expect)
            EXPECT_EQ(px(dc, 15, 10 + row), colour.value_or(kBack)) << "row " << row;
        // Each row is one colour from the left edge to the right edge.
        for (int y = 10; y < 10 + c.rows; ++y) {
            EXPECT_EQ(px(dc, 10, y), px(dc, 20, y));
            EXPECT_EQ(px(dc, 9, y), kBack);
            EXPECT_EQ(px(dc, 21, y), kBack);
        }
    }
}

TEST_F(GradientTest, PenBandFramesTheGradientAndNoFillLeavesTheOutline) {
    DC *dc = open_grad(kGradLinear);
    GDI_SetPen(dc, kPenSolid, 1, kPen);
    EXPECT_EQ(GDI_GradientRect(dc, 0, 0, 10, 10, 20, 21), 1);
    EXPECT_EQ(pic(dc, 9, 9, 12, 3), "............\n"
                                    ".##########.\n"
                                    ".#????????#.\n");
    EXPECT_EQ(px(dc, 15, 20), kPen);
    EXPECT_EQ(px(dc, 15, 15), Grad_Step(kBlack, kWhite, 5, 10));

    // No fill colour: only the outline; a single row: only the outline.
    dc = open_grad(kGradLinear, kColorNone);
    GDI_SetPen(dc, kPenSolid, 1, kPen);
    EXPECT_EQ(GDI_GradientRect(dc, 0, 0, 10, 10, 15, 14), 1);
    EXPECT_EQ(pic(dc, 10, 10, 5, 4), "#####\n"
                                     "#...#\n"
                                     "#...#\n"
                                     "#####\n");
    dc = open_grad(kGradLinear);
    GDI_SetPen(dc, kPenSolid, 1, kPen);
    EXPECT_EQ(GDI_GradientRect(dc, 0, 0, 10, 10, 15, 11), 1);
    EXPECT_EQ(pic(dc, 10, 10, 5, 1), "#####\n");

    // An empty box: nothing, result 0.
    EXPECT_EQ(GDI_GradientRect(dc, 0, 0, 10, 10, 10, 20), 0);
    EXPECT_EQ(GDI_GradEllipse(dc, 0, 0, 30, 30, 30, 40), 0);
    EXPECT_EQ(GDI_GradRoundRect(dc, 0, 0, 30, 30, 20, 40, 4, 4), 0);
}

// With the gradient flat, the gradient figures are their plain figures; a
// rounded rectangle with no corner is the gradient rectangle.
TEST_F(GradientTest, FlatFiguresMatchThePlainOnes) {
    struct Pen {
        int style, width;
    };
    for (const Pen pen : {Pen{kPenNone, 1}, Pen{kPenSolid, 1}, Pen{kPenSolid, 4}, Pen{kPenSolid, 7},
                          Pen{kPenDashed, 1}}) {
        SCOPED_TRACE(testing::Message() << "pen " << pen.style << " width " << pen.width);
        DC *dc = open_grad(kGradFlat, kFill);
        // Each figure starts its pen pattern afresh.
        auto pen_up = [&] { GDI_SetPen(dc, pen.style, pen.width, kPen); };
        pen_up();
        GDI_Ellipse(dc, 10, 10, 61, 40);
        pen_up();
        GDI_GradEllipse(dc, 0, 0, 110, 10, 161, 40);
        EXPECT_TRUE(same(dc, 0, 0, 100, 0, 80, 50));
        pen_up();
        GDI_Ellipse(dc, 210, 10, 250, 50); // even sizes: split centres
        pen_up();
        GDI_GradEllipse(dc, 0, 0, 310, 10, 350, 50);
        EXPECT_TRUE(same(dc, 200, 0, 300, 0, 80, 60));
        pen_up();
        GDI_RoundRect(dc, 10, 110, 81, 150, 24, 18);
        pen_up();
        GDI_GradRoundRect(dc, 0, 0, 110, 110, 181, 150, 24, 18);
        EXPECT_TRUE(same(dc, 0, 100, 100, 100, 90, 60));
    }
    DC *dc = open_grad(kGradLinear);
    GDI_SetPen(dc, kPenSolid, 2, kPen);
    GDI_GradientRect(dc, 0, 0, 10, 10, 50, 40);
    GDI_GradRoundRect(dc, 0, 0, 110, 10, 150, 40, 1, 30);
    EXPECT_TRUE(same(dc, 0, 0, 100, 0, 60, 50));
}

TEST_F(GradientTest, CurvedFiguresColourByRow) {
    // Linear ellipse of 21 rows: the top row in the start colour, the bottom
    // row one step short of the end colour.
    DC *dc = open_grad(kGradLinear);
    EXPECT_EQ(GDI_GradEllipse(dc, 0, 0, 10, 10, 41, 31), 1);
    EXPECT_EQ(px(dc, 25, 10), kBlack);
    EXPECT_EQ(px(dc, 25, 30), Grad_Step(kBlack, kWhite, 20, 21));
    for (int y = 11; y <= 30; ++y) {
        EXPECT_EQ(px(dc, 25, y), Grad_Step(kBlack, kWhite, y - 10, 21));
        EXPECT_EQ(px(dc, 15, y) == kBack || px(dc, 15, y) == px(dc, 25, y), true);
    }
    // Mirrored: both edges in the start colour, the middle row in the end
    // colour.
    dc = open_grad(kGradMirrored);
    GDI_GradEllipse(dc, 0, 0, 10, 10, 41, 31);
    EXPECT_EQ(px(dc, 25, 10), kBlack);
    EXPECT_EQ(px(dc, 25, 30), kBlack);
    EXPECT_EQ(px(dc, 25, 20), kWhite);
    EXPECT_EQ(px(dc, 25, 15), px(dc, 25, 25));
    // A figure too small for a gradient row is one colour, without fault.
    dc = open_grad(kGradLinear);
    EXPECT_EQ(GDI_GradEllipse(dc, 0, 0, 10, 10, 13, 13), 1);
    EXPECT_EQ(GDI_GradRoundRect(dc, 0, 0, 20, 10, 23, 12, 2, 2), 1);
    EXPECT_EQ(px(dc, 11, 11), Grad_Step(kBlack, kWhite, 1, 3));
}

TEST_F(GradientTest, MetallicEllipseStops) {
    DC *dc = open();
    GDI_SetPen(dc, kPenNone, 1, kPen);
    GDI_SetFillColor(dc, kFill);
    GDI_SetGradient(dc, 4); // not consulted
    // Rows 0 .. 100: stops on rows 33 and 38 (100 x 0.33, 100 x 0.38).
    EXPECT_EQ(GDI_MetallicEllipse(dc, 100, 0, 201, 101), 1);
    EXPECT_EQ(px(dc, 150, 0), 0x7BEF);
    EXPECT_EQ(px(dc, 150, 33), 0xFFDF);
    EXPECT_EQ(px(dc, 150, 35), Grad_Step(0xFFDF, 0x0000, 2, 5));
    EXPECT_EQ(px(dc, 150, 38), 0x0000);
    EXPECT_EQ(px(dc, 150, 100), 0xC638);
    EXPECT_EQ(dc->fill_colour, kFill);
}

TEST_F(GradientTest, ThreeDRoundRectLeavesNoPenAndRestoresItsColours) {
    DC *dc = open_grad(kGradMirrored, 0x001F, 0xF800);
    GDI_SetPen(dc, kPenSolid, 3, kPen);
    EXPECT_EQ(GDI_Grad3DRoundRect(dc, 6, 6, 10, 10, 110, 70, 20, 20), 1);
    EXPECT_EQ(dc->pen_colour, kColorNone);
    EXPECT_EQ(dc->pen_width, 0);
    EXPECT_EQ(dc->pen_style, kPenNone);
    EXPECT_EQ(dc->pen_pattern, 0xFF);
    EXPECT_EQ(dc->pattern_mask, 0x80);
    EXPECT_EQ(dc->fill_colour, 0x001F);
    EXPECT_EQ(dc->end_colour, 0xF800);
    EXPECT_EQ(dc->gradient_mode, kGradMirrored);
    // The inset figure runs from the end colour at its top row (16) to the
    // fill colour, the outer one's last band keeps red at its maximum (the
    // fourth stop cannot overflow its field) and green at 0.
    EXPECT_EQ(px(dc, 60, 16), 0xF800);
    for (int y = 40; y < 59; ++y) {
        EXPECT_EQ(red(px(dc, 13, y)), 31) << y;
        EXPECT_EQ(green(px(dc, 13, y)), 0) << y;
    }
    // An inset that leaves nothing: 0, and still no pen.
    dc = open_grad(kGradLinear);
    GDI_SetPen(dc, kPenSolid, 1, kPen);
    EXPECT_EQ(GDI_Grad3DRoundRect(dc, 30, 30, 10, 10, 70, 70, 10, 10), 0);
    EXPECT_EQ(dc->pen_style, kPenNone);
    EXPECT_EQ(GDI_Grad3DRoundRect(dc, 2, 2, 10, 10, 70, 70, 0, 10), 0);
}

TEST_F(GradientTest, ClippedFiguresStayInsideTheClip) {
    DC *dc = open_grad(kGradBanded);
    RECT clip{100, 50, 200, 150}, all{0, 0, 480, 272};
    GDI_SetClipRect(dc, &clip, nullptr);
    GDI_SetPen(dc, kPenSolid, 3, kPen);
    GDI_GradientRect(dc, 20, 20, -500, 60, 900, 160);
    GDI_GradEllipse(dc, 10, 10, 50, -400, 250, 700);
    GDI_GradRoundRect(dc, 0, 0, 150, 20, 900, 149, 60, 60);
    GDI_MetallicEllipse(dc, 90, 140, 300, 400);
    GDI_Grad3DRoundRect(dc, 5, 5, 0, 0, 480, 272, 40, 40);
    GDI_SetClipRect(dc, &all, nullptr);
    for (const auto &[x, y] : marked(dc)) {
        ASSERT_TRUE(x >= 100 && x < 200 && y >= 50 && y < 150) << x << "," << y;
    }
}

TEST_F(GradientTest, PipelineTakesThe32BitColours) {
    DC *dc = start(true, "480x272");
    ASSERT_TRUE(fPxpEnable);
    GDI_SetPen(dc, kPenNone, 1, 0);
    GDI_SetFillColor(dc, 0x0000);
    GDI_SetEndColor(dc, 0xFFDF);
    GDI_SetGradient(dc, kGradLinear);
    RECT clip{0, 0, 30, 272}, all{0, 0, 480, 272};
    GDI_SetClipRect(dc, &clip, nullptr);
    uint32_t *surface = PXP_GradientEnabled(1);
    ASSERT_NE(surface, nullptr);
    for (int i = 0; i < 480 * 272; ++i)
        surface[i] = 0x12345678;
    put(dc, 30, 15, 0x4321);
    EXPECT_EQ(GDI_GradientRect(dc, 0, 0, 20, 10, 40, 21), 1);
    GDI_SetClipRect(dc, &all, nullptr);
    // Channels widened with the larger value's low bits set.
    EXPECT_EQ(surface[10 * 480 + 20], 0xFF000000u);
    EXPECT_EQ(surface[20 * 480 + 29], 0xFFFFFBFFu);
    EXPECT_EQ(surface[15 * 480 + 25], Grad_Step32(0x0000, 0xFFDF, 5, 10));
    EXPECT_EQ(px(dc, 25, 15), 1); // the marker
    // Outside the clip neither the surface nor the page changes.
    EXPECT_EQ(surface[15 * 480 + 30], 0x12345678u);
    EXPECT_EQ(px(dc, 30, 15), 0x4321);
    EXPECT_EQ(surface[9 * 480 + 25], 0x12345678u);
}

// Every gradient figure in every mode, with and without pens; review the
// picture before accepting it.
TEST_F(GradientTest, GalleryMatchesTheReviewedPicture) {
    DC *dc = open();
    for (int y = 0; y < 272; ++y)
        GDI_ScanLine(dc, y, 0, 479, 0xFFDF);
    const COLOR starts[4] = {0x001F, 0xF800, 0x07E0, 0x8010};
    const COLOR ends[4] = {0xFFE0, 0x001F, 0x0000, 0xFFFF};
    for (int mode = 0; mode < 4; ++mode) {
        const int x = 8 + mode * 118;
        GDI_SetGradient(dc, mode);
        GDI_SetFillColor(dc, starts[mode]);
        GDI_SetEndColor(dc, ends[mode]);
        GDI_SetPen(dc, kPenNone, 1, 0);
        GDI_GradientRect(dc, 6, 6, x, 6, x + 50, 66);
        GDI_SetPen(dc, kPenSolid, 2, 0);
        GDI_GradientRect(dc, 6, 6, x + 56, 6, x + 106, 66);
        GDI_SetPen(dc, kPenSolid, 1, 0);
        GDI_GradRoundRect(dc, 6, 6, x, 74, x + 50, 134, 24, 24);
        GDI_SetPen(dc, kPenSolid, 4, 0x4208);
        GDI_GradRoundRect(dc, 6, 6, x + 56, 74, x + 106, 134, 30, 16);
        GDI_SetPen(dc, kPenNone, 1, 0);
        GDI_GradEllipse(dc, 6, 6, x, 142, x + 50, 202);
        GDI_SetPen(dc, kPenDotted, 1, 0);
        GDI_GradEllipse(dc, 6, 6, x + 56, 142, x + 106, 202);
    }
    GDI_SetPen(dc, kPenSolid, 1, 0);
    GDI_MetallicEllipse(dc, 8, 210, 68, 266);
    GDI_SetPen(dc, kPenNone, 1, 0);
    GDI_MetallicEllipse(dc, 76, 210, 106, 266);
    GDI_SetFillColor(dc, 0x001F);
    GDI_SetEndColor(dc, 0x0010);
    GDI_SetPen(dc, kPenSolid, 1, 0);
    GDI_Grad3DRoundRect(dc, 6, 6, 120, 210, 220, 266, 24, 24);
    GDI_SetFillColor(dc, 0);
    GDI_SetPen(dc, kPenSolid, 1, 0);
    GDI_Grad3DRoundRect(dc, 6, 6, 230, 210, 330, 266, 24, 24);
    GDI_SetFillColor(dc, 0xF800);
    GDI_SetEndColor(dc, 0x001F); // a mid colour that would overflow its red field
    GDI_SetPen(dc, kPenSolid, 1, 0);
    GDI_Grad3DRoundRect(dc, 8, 8, 340, 210, 472, 266, 56, 56);
    EXPECT_EQ(png_snapshot_diff("tests/gdi/snapshots/gradients.png", rgb(dc), 480, 272), "");
}
