// Device contexts, rectangles, the clip, pens and colours, single pixels and runs.
#include "base/trace.h"
#include "gdi/gdi.h"
#include "video_fixture.h"

#include <string>

TEST(RectTest, Operations) {
    RECT r;
    GDI_SetRect(&r, 30, 40, 10, 20);
    GDI_NormalizeRect(&r);
    EXPECT_EQ((std::array<int, 4>{r.left, r.top, r.right, r.bottom}),
              (std::array<int, 4>{10, 20, 30, 40}));
    GDI_InflateRect(&r, 2, 3);
    EXPECT_EQ((std::array<int, 4>{r.left, r.top, r.right, r.bottom}),
              (std::array<int, 4>{8, 17, 32, 43}));
    GDI_DeflateRect(&r, 5, 1);
    EXPECT_EQ((std::array<int, 4>{r.left, r.top, r.right, r.bottom}),
              (std::array<int, 4>{13, 18, 27, 42}));
    GDI_SetRect(&r, -32768, 0, 32767, 0);
    GDI_InflateRect(&r, 1, 0);
    EXPECT_EQ(r.left, 32767) << "16-bit arithmetic";
    EXPECT_EQ(r.right, -32768);

    RECT a{0, 0, 10, 10}, b{5, -5, 20, 8}, u;
    GDI_UnionRect(&u, &a, &b);
    EXPECT_EQ((std::array<int, 4>{u.left, u.top, u.right, u.bottom}),
              (std::array<int, 4>{0, -5, 20, 10}));
}

TEST(RectTest, IntersectionAndPointTests) {
    struct Case {
        RECT a, b;
        int result;
        RECT want;
    };
    // clang-format off
    const Case cases[] = {
        {{0, 0, 10, 10}, {5, 5, 20, 20}, 1, {5, 5, 10, 10}},
        {{0, 0, 10, 10}, {10, 0, 20, 10}, 0, {0, 0, 0, 0}}, // touching sides
        {{0, 0, 10, 10}, {0, 10, 10, 20}, 0, {0, 0, 0, 0}},
        {{0, 0, 10, 10}, {2, 2, 3, 3}, 1, {2, 2, 3, 3}},
        {{0, 0, 10, 10}, {20, 20, 30, 30}, 0, {0, 0, 0, 0}},
    };
    // clang-format on
    for (const Case &c : cases) {
        RECT d{7, 7, 7, 7};
        EXPECT_EQ(GDI_IntersectRect(&d, &c.a, &c.b), c.result);
        EXPECT_EQ((std::array<int, 4>{d.left, d.top, d.right, d.bottom}),
                  (std::array<int, 4>{c.want.left, c.want.top, c.want.right, c.want.bottom}));
    }
    RECT a{0, 0, 10, 10}, b{5, 5, 20, 20};
    EXPECT_EQ(GDI_IntersectRect(&a, &a, &b), 1) << "the result may be an input";
    EXPECT_EQ(a.left, 5);
    RECT r{10, 20, 30, 40};
    EXPECT_TRUE(GDI_PtInRect(&r, 10, 20));
    EXPECT_TRUE(GDI_PtInRect(&r, 29, 39));
    EXPECT_FALSE(GDI_PtInRect(&r, 30, 25)) << "right edge";
    EXPECT_FALSE(GDI_PtInRect(&r, 15, 40)) << "bottom edge";
    EXPECT_FALSE(GDI_PtInRect(&r, 9, 25));
}

class GdiTest : public VideoTest {};

TEST_F(GdiTest, DisplayContextAfterStartUp) {
    host::trace_start();
    DC *dc = start(true, "480x272");
    EXPECT_EQ(host::trace_calls(), std::vector<std::string>{"GDI_Init"});
    EXPECT_EQ(dc->bounds.right, 479);
    EXPECT_EQ(dc->bounds.bottom, 271);
    EXPECT_EQ(dc->clip.right, 479);
    EXPECT_EQ(dc->pixel_depth, 16);
    EXPECT_EQ(dc->fill_colour, 0xFFDF);
    EXPECT_EQ(dc->pen_colour, 0);
    EXPECT_EQ(dc->pen_width, 1);
    EXPECT_EQ(dc->pen_style, kPenSolid);
    EXPECT_EQ(dc->pen_pattern, 0xFF);
    EXPECT_EQ(dc->text_colour, 0);
    EXPECT_EQ(dc->rop_mode, 4);
    EXPECT_EQ(dc->frame, 0);
    EXPECT_EQ(dc->text_callback, nullptr);
    EXPECT_EQ(dc->SetPixel, VDR_SetPixel);
    EXPECT_EQ(dc->Close, VDR_Close);
    EXPECT_EQ(dc->buffer, pCurrentMem);
}

TEST_F(GdiTest, FrameContextsStartAsCopiesOfTheDisplay) {
    DC *dc = start();
    GDI_SetPen(dc, kPenDashed, 3, 0x1234);
    GDI_SetROP(dc, 6);
    RECT clip{1, 2, 30, 40};
    GDI_SetClipRect(dc, &clip, nullptr);
    DC *f2 = GDI_CreateDC(0, 2);
    EXPECT_EQ(f2->frame, 2);
    EXPECT_NE(f2->buffer, dc->buffer);
    EXPECT_EQ(f2->pen_pattern, 0xC7);
    EXPECT_EQ(f2->rop, ROP_Or);
    EXPECT_EQ(f2->clip.bottom, 39);
    GDI_SetFillColor(f2, 0x0001);
    EXPECT_EQ(GDI_CreateDC(0, 2), f2);
    EXPECT_EQ(f2->fill_colour, dc->fill_colour) << "a new request copies the display again";
    EXPECT_EQ(GDI_CreateDC(0, 0), dc);
    EXPECT_EQ(GDI_CreateDC(0, 6), nullptr);
    EXPECT_EQ(GDI_CreateDC(0, -1), nullptr);
    EXPECT_EQ(GDI_CreateDC(1, 1), nullptr);
    DC *mem = GDI_CreateCompDC(f2);
    EXPECT_EQ(mem->frame, 255);
    EXPECT_EQ(GDI_CreateCompDC(dc), mem) << "one memory context";
    GDI_DeleteDC(mem);
    EXPECT_EQ(GDI_Close(), 1);
}

TEST_F(GdiTest, PensAndColours) {
    DC *dc = start();
    // clang-format off
    const std::pair<int, uint8_t> patterns[] = {{0, 0xFF}, {1, 0xFF}, {2, 0xAA}, {3, 0xC7}, {4, 0xAA}, {5, 0xFF}, {-1, 0xFF}};
    // clang-format on
    for (auto [style, pattern] : patterns) {
        dc->pattern_mask = 0x04;
        GDI_SetPen(dc, style, 2, 0xF800);
        EXPECT_EQ(dc->pen_pattern, pattern) << style;
        EXPECT_EQ(dc->pattern_mask, 0x80) << style;
        EXPECT_EQ(dc->pen_style, style);
    }
    EXPECT_EQ(GDI_SetFillColor(dc, 0xFFFF), int16_t(0xFFDF));
    EXPECT_EQ(GDI_SetFillColor(dc, 0x1234), -1) << "none reads as -1";
    EXPECT_EQ(GDI_SetTextColor(dc, 0x07E0), 0);
    EXPECT_EQ(GDI_SetTextColor(dc, 0), 0x07E0);
    EXPECT_EQ(GDI_SetEndColor(dc, 0x8000), 0);
    EXPECT_EQ(GDI_SetEndColor(dc, 0), int16_t(0x8000));
    GDI_SetGradient(dc, 0x21);
    EXPECT_EQ(dc->gradient_mode, 0x21);
}

TEST_F(GdiTest, ClipSaveAndRestoreGivesTheSameClip) {
    DC *dc = start();
    RECT a{10, 20, 110, 220}, saved, back;
    EXPECT_EQ(GDI_SetClipRect(dc, &a, nullptr), 1);
    RECT b{50, 60, 70, 80};
    EXPECT_EQ(GDI_SetClipRect(dc, &b, &saved), 1);
    EXPECT_EQ((std::array<int, 4>{saved.left, saved.top, saved.right, saved.bottom}),
              (std::array<int, 4>{10, 20, 110, 220}));
    EXPECT_EQ(GDI_SetClipRect(dc, &saved, &back), 1);
    EXPECT_EQ((std::array<int, 4>{dc->clip.left, dc->clip.top, dc->clip.right, dc->clip.bottom}),
              (std::array<int, 4>{10, 20, 109, 219}));
    EXPECT_EQ(back.right, 70);
    // One column wide is empty.
    RECT one{5, 5, 6, 50};
    EXPECT_EQ(GDI_SetClipRect(dc, &one, nullptr), 0);
    EXPECT_EQ((std::array<int, 4>{dc->clip.left, dc->clip.top, dc->clip.right, dc->clip.bottom}),
              (std::array<int, 4>{0, 0, 0, 0}));
}

// Each edge of the requested clip inside, on and outside the screen's bounds.
TEST_F(GdiTest, ClipRectanglesAreKeptInsideTheBounds) {
    DC *dc = start(true, "480x272");
    struct Edge {
        int given, clip;
    };
    // Exclusive values given, inclusive clip expected.
    const Edge lefts[] = {{5, 5}, {0, 0}, {-9, 0}};
    const Edge tops[] = {{7, 7}, {0, 0}, {-1, 0}};
    const Edge rights[] = {{400, 399}, {480, 479}, {481, 479}, {9000, 479}};
    const Edge bottoms[] = {{200, 199}, {272, 271}, {300, 271}};
    for (Edge l : lefts)
        for (Edge t : tops)
            for (Edge r : rights)
                for (Edge b : bottoms) {
                    RECT rect{int16_t(l.given), int16_t(t.given), int16_t(r.given),
                              int16_t(b.given)};
                    EXPECT_EQ(GDI_SetClipRect(dc, &rect, nullptr), 1);
                    EXPECT_EQ((std::array<int, 4>{dc->clip.left, dc->clip.top, dc->clip.right,
                                                  dc->clip.bottom}),
                              (std::array<int, 4>{l.clip, t.clip, r.clip, b.clip}))
                        << l.given << " " << t.given << " " << r.given << " " << b.given;
                }
    RECT outside{500, 0, 600, 100};
    EXPECT_EQ(GDI_SetClipRect(dc, &outside, nullptr), 0);
}

// Runs and pixels against a clip of 10..20 x 10..20 (inclusive), with each
// end of the run outside, on and inside each clip edge.
TEST_F(GdiTest, RunsAndPixelsAreClipped) {
    DC *dc = start();
    RECT clip{10, 10, 21, 21};
    GDI_SetClipRect(dc, &clip, nullptr);
    struct Case {
        int y, x1, x2;
        int from, to; // drawn columns, from > to: nothing
    };
    // clang-format off
    const Case cases[] = {
        {15, 5, 8, 1, 0},     // wholly left
        {15, 5, 10, 10, 10},  // ends on the left edge
        {15, 5, 15, 10, 15},
        {15, 10, 15, 10, 15}, // starts on the left edge
        {15, 12, 18, 12, 18}, // inside
        {15, 12, 20, 12, 20}, // ends on the right edge
        {15, 12, 30, 12, 20},
        {15, 20, 30, 20, 20}, // starts on the right edge
        {15, 21, 30, 1, 0},   // wholly right
        {15, 0, 40, 10, 20},  // over both edges
        {9, 0, 40, 1, 0},     // above
        {10, 0, 40, 10, 20},  // top row
        {20, 0, 40, 10, 20},  // bottom row
        {21, 0, 40, 1, 0},    // below
    };
    // clang-format on
    for (const Case &c : cases) {
        pattern(dc, 0, 0, 40, 30);
        GDI_ScanLine(dc, c.y, c.x1, c.x2, 0x001F);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                bool in = y == c.y && x >= c.from && x <= c.to;
                ASSERT_EQ(px(dc, x, y), in ? 0x001F : COLOR(0x1000 + y * 64 + x))
                    << "run " << c.y << ": " << c.x1 << ".." << c.x2 << " at " << x << "," << y;
            }
    }
    // Pixels: drawn on the whole inclusive clip; read back inside its last
    // column and row only.
    for (int y : {9, 10, 15, 20, 21})
        for (int x : {9, 10, 15, 20, 21}) {
            put(dc, x, y, 0x4444);
            bool in = x >= 10 && x <= 20 && y >= 10 && y <= 20;
            EXPECT_EQ(GDI_SetPixel(dc, x, y, 0x0FF0), in ? 0x0FF0 : -1) << x << "," << y;
            EXPECT_EQ(px(dc, x, y), in ? 0x0FF0 : 0x4444) << x << "," << y;
            bool readable = x >= 10 && x < 20 && y >= 10 && y < 20;
            EXPECT_EQ(GDI_GetPixel(dc, x, y), readable ? 0x0FF0 : -1) << x << "," << y;
        }
    EXPECT_EQ(GDI_SetPixel(dc, 12, 12, 0xFFFF), -1) << "the colour comes back as a signed value";
}
