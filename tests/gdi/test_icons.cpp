// Navigation icons: each at two sizes on a button face, compared with a
// reviewed picture; every icon leaves the pen and fill colour as they were
// and stays near its rectangle.
#include "gdi/icons.h"
#include "gdi/util.h"
#include "png_snapshot.h"
#include "shapes_fixture.h"

namespace {
using Icon = void (*)(DC *, const RECT *);
const Icon kIcons[12] = {Draw_stopIcon,        Draw_previousIcon,   Draw_nextIcon,
                         Draw_arrowleftIcon,   Draw_arrowrightIcon, Draw_homeIcon,
                         Draw_MaintenanceIcon, Draw_trendsIcon,     Draw_startIcon,
                         Draw_printIcon,       Draw_helpIcon,       Draw_alarmIcon};
constexpr COLOR kFace = 0x2A5F, kInk = 0xFFE0;
} // namespace

class IconTest : public ShapesTest {};

TEST_F(IconTest, IconsMatchTheReviewedPicture) {
    DC *dc = open();
    for (int y = 0; y < 272; ++y)
        GDI_ScanLine(dc, y, 0, 479, 0x9CD3);
    for (int i = 0; i < 12; ++i) {
        // Small ones in two rows of six, large ones below in two rows of six.
        const int sx = 8 + (i % 6) * 48, sy = 4 + (i / 6) * 48;
        const int lx = 8 + (i % 6) * 78, ly = 104 + (i / 6) * 84;
        for (const RECT r : {RECT{int16_t(sx), int16_t(sy), int16_t(sx + 40), int16_t(sy + 40)},
                             RECT{int16_t(lx), int16_t(ly), int16_t(lx + 72), int16_t(ly + 80)}}) {
            GDI_SetPen(dc, kPenSolid, 1, 0);
            GDI_SetFillColor(dc, kFace);
            UTIL_Button(dc, &r, 0);
            const RECT in{int16_t(r.left + 4), int16_t(r.top + 4), int16_t(r.right - 4),
                          int16_t(r.bottom - 4)};
            GDI_SetPen(dc, kPenSolid, 1, kInk);
            kIcons[i](dc, &in);
        }
    }
    EXPECT_EQ(png_snapshot_diff("tests/gdi/snapshots/icons.png", rgb(dc), 480, 272), "");
}

TEST_F(IconTest, IconsKeepThePenAndStayNearTheirRectangle) {
    for (int i = 0; i < 12; ++i) {
        for (const RECT r : {RECT{100, 100, 140, 140}, RECT{100, 100, 220, 180},
                             RECT{100, 100, 102, 103}, RECT{100, 100, 100, 100}}) {
            DC *dc = open();
            GDI_SetPen(dc, kPenDotted, 2, kPen);
            GDI_SetFillColor(dc, kFill);
            dc->pattern_mask = 0x08;
            kIcons[i](dc, &r);
            EXPECT_EQ(dc->pen_style, kPenDotted) << i;
            EXPECT_EQ(dc->pen_width, 2) << i;
            EXPECT_EQ(dc->pen_colour, kPen) << i;
            EXPECT_EQ(dc->pen_pattern, 0xAA) << i;
            EXPECT_EQ(dc->pattern_mask, 0x08) << i;
            EXPECT_EQ(dc->fill_colour, kFill) << i;
            // Pens as wide as 5 units reach out by half their width.
            const int w = r.right - r.left, h = r.bottom - r.top;
            const int reach = 5 * (std::min(w, h) / 40 + 1) / 2 + 1;
            for (const auto &[x, y] : marked(dc))
                ASSERT_TRUE(x >= r.left - reach && x < r.right + reach && y >= r.top - reach &&
                            y < r.bottom + reach)
                    << "icon " << i << " at " << x << "," << y;
        }
    }
}
