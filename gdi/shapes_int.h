// Inside the rasteriser: its tables and the helpers the figure units share.
#pragma once
#include "gdi/shapes.h"

#include <algorithm>

namespace shapes {

// The static tables of the figures, sized once for the panel's screen.
struct State {
    int height = 0; // screen height the tables are sized for
    RayTable line, polygon, side, fill, arc_start, arc_end;
    Profile outer, inner, nib;
};

// The tables, grown for the context's screen on first use.
State &tables(const DC *dc);

// Quadrant centres (0 top right, 1 bottom right, 2 bottom left, 3 top left).
inline int centre_col(const DC *dc, int q) {
    return q <= 1 ? dc->centre2_x : dc->centre_x;
}
inline int centre_row(const DC *dc, int q) {
    return q == 1 || q == 2 ? dc->centre2_y : dc->centre_y;
}

// The corner centres of a rounded rectangle whose corner radii are rx, ry
// (grown by half a wide pen), from the outer box set by DimObjToPen.
inline void round_rect_centres(DC *dc, int *rx, int *ry) {
    if (dc->pen_style != kPenNone && dc->pen_width > 1) {
        *rx += dc->pen_width / 2;
        *ry += dc->pen_width / 2;
    }
    dc->centre_x = int16_t(dc->outer_left + *rx);
    dc->centre2_x = int16_t(dc->outer_right - *rx);
    dc->centre_y = int16_t(dc->outer_top + *ry);
    dc->centre2_y = int16_t(dc->outer_bottom - *ry);
}

// A run from x1 to x2 inclusive, nothing when x1 > x2.
inline void run(DC *dc, int y, int x1, int x2, COLOR c) {
    if (x1 <= x2) GDI_ScanLine(dc, y, x1, x2, c);
}

// Rows y0..y1 that lie inside the clip, top-down.
template <class F> void clipped_rows(const DC *dc, int y0, int y1, F &&row) {
    for (int y = std::max<int>(y0, dc->clip.top), last = std::min<int>(y1, dc->clip.bottom);
         y <= last; ++y)
        row(y);
}

// The pattern mask after `n` more pixels.
uint8_t advance_mask(uint8_t mask, long n);

// One pixel of a thin pen: the pen colour on a 1 bit of the pattern, the fill
// colour on a 0 bit (none skips it); the mask moves on either way.
void pattern_pixel(DC *dc, int x, int y, uint8_t &mask);

// DrawLine with the end point left out or (include_end) drawn.
bool draw_line(DC *dc, int x1, int y1, int x2, int y2, RayTable &table, bool include_end);

} // namespace shapes
