// Gradient fills: rectangles, rounded rectangles and ellipses whose rows run
// from one colour to another, and the metallic and 3-D shaded figures.
//
// A figure is filled row by row: each row is the run the plain figure's fill
// would cover on it, in the colour its row index gives. The outline is then
// drawn by the plain figure's drawer with no fill, so a patterned pen shows
// the gradient through its gaps.
#include "gdi/gradient.h"

#include "gdi/shapes_int.h"
#include "platform/pxp.h"
#include "platform/slice.h"
#include "platform/video.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

using namespace shapes;

namespace {

struct Colour {
    COLOR c;       // RGB565 for the context's buffer
    uint32_t argb; // for the pipeline's gradient surface
};

Colour lerp(COLOR start, COLOR end, int i, int n) {
    return {Grad_Step(start, end, i, n), Grad_Step32(start, end, i, n)};
}

// How a row's colour is found: the gradient mode between two colours, or
// four fixed stops over three bands.
struct Ramp {
    bool stops = false;
    bool ellipse = false; // the ellipse's own mirrored and linear rules
    int mode = 0, header = 0, footer = 0;
    COLOR start = 0, end = 0;
    COLOR stop[4] = {};
    int origin = 0, h = 0; // stops: the call's top row and its height
};

// The step of row i of R rows by the rectangle's rules, as (step, steps).
struct Step {
    int i, n;
};
std::optional<Step> rect_step(const Ramp &r, int i, int rows) {
    switch (r.mode) {
    case kGradFlat:
        return Step{0, 1};
    case kGradMirrored: {
        // The upper half counts down from the top edge; the lower half counts
        // up from the bottom edge and reaches the end colour on the last row
        // of the upper half.
        const int n = (rows - 1) / 2, m = rows - n;
        if (i < n - 1) return Step{i, n};
        return Step{rows - 1 - i, m};
    }
    case kGradLinear:
        return Step{i, rows - 1};
    case kGradBanded: {
        // Bands are kept inside the box: the footer band ends on the last row.
        const int a = std::clamp(r.header, 0, rows), b = std::clamp(r.footer, 0, rows - a);
        const int n = rows - a - b;
        if (i < a) return Step{0, 1};
        if (i < a + n) return Step{i - a, n};
        return Step{1, 1};
    }
    default:
        return std::nullopt;
    }
}

// Row i of a curved figure of R rows.
std::optional<Step> curved_step(const Ramp &r, int i, int rows) {
    if (r.mode == kGradLinear) return Step{i, rows}; // the last row one step short
    if (r.ellipse && r.mode == kGradMirrored)
        return Step{std::min(i, rows - 1 - i), rows / 2}; // halves meet in the middle
    return rect_step(r, i, rows);
}

Colour stop_colour(const Ramp &r, int y) {
    const int h = std::max(r.h, 0), i = std::clamp(y - r.origin, 0, h);
    const int s1 = int(h * 0.33), s2 = int(h * 0.38);
    if (i < s1) return lerp(r.stop[0], r.stop[1], i, s1);
    if (i < s2) return lerp(r.stop[1], r.stop[2], i - s1, s2 - s1);
    return lerp(r.stop[2], r.stop[3], i - s2, h - s2);
}

// The colour of row y of a figure whose rows are top..bottom.
std::optional<Colour> row_colour(const Ramp &r, bool curved, int y, int top, int bottom) {
    if (r.stops) return stop_colour(r, y);
    const int rows = bottom - top + 1, i = y - top;
    const std::optional<Step> s = curved ? curved_step(r, i, rows) : rect_step(r, i, rows);
    if (!s) return std::nullopt;
    return lerp(r.start, r.end, s->i, s->n);
}

// Where the colours go: the pipeline's gradient surface when it composes the
// screen, else the context's own pixels.
struct Target {
    uint32_t *surface = nullptr;
    size_t stride = 0;
};
Target target(const DC *dc) {
    if (!fPxpEnable) return {};
    uint32_t *s = PXP_GradientEnabled(1);
    if (!s) return {};
    return {s, size_t(dc->bounds.right - dc->bounds.left + 1)};
}

// One row from x1 to x2, clipped.
void paint(DC *dc, const Target &t, int y, int x1, int x2, Colour col) {
    if (x1 > x2 || y < dc->clip.top || y > dc->clip.bottom) return;
    if (t.surface) {
        const int a = std::max<int>(x1, dc->clip.left), b = std::min<int>(x2, dc->clip.right);
        if (a > b) return;
        uint32_t *row = t.surface + size_t(y) * t.stride;
        std::fill(row + a, row + b + 1, col.argb);
        GDI_ScanLine(dc, y, a, b, 1); // the marker lets the surface show through
        return;
    }
    const COLOR saved = dc->fill_colour;
    dc->fill_colour = col.c;
    GDI_ScanLine(dc, y, x1, x2, col.c);
    dc->fill_colour = saved;
}

// Fills rows top..bottom (those inside the clip), each with the run span(y)
// gives, in the colour of the ramp.
template <class Span>
void fill_rows(DC *dc, const Ramp &r, bool curved, int top, int bottom, Span &&span) {
    const Target t = target(dc);
    for (int y = std::max<int>(top, dc->clip.top), last = std::min<int>(bottom, dc->clip.bottom);
         y <= last; ++y) {
        const std::optional<Colour> col = row_colour(r, curved, y, top, bottom);
        if (!col) return;
        int x1 = 0, x2 = -1;
        span(y, x1, x2);
        paint(dc, t, y, x1, x2, *col);
        SlicePoint();
    }
}

bool fills(const DC *dc, const Ramp &r) {
    return dc->fill_colour != kColorNone && (r.stops || r.mode <= kGradBanded);
}

// Draws an outline with the plain figure's drawer, without a fill.
template <class F> void outline(DC *dc, F &&draw) {
    if (dc->pen_style == kPenNone) return;
    const COLOR saved = dc->fill_colour;
    dc->fill_colour = kColorNone;
    draw();
    dc->fill_colour = saved;
}

int grad_rect(DC *dc, const Ramp &r) {
    const bool pen = dc->pen_style != kPenNone;
    const int l = pen ? dc->inner_left : dc->outer_left, t = pen ? dc->inner_top : dc->outer_top;
    const int rt = pen ? dc->inner_right : dc->outer_right;
    const int b = pen ? dc->inner_bottom : dc->outer_bottom;
    // A single row gets no fill, only its outline.
    if (fills(dc, r) && t < b)
        fill_rows(dc, r, false, t, b, [&](int, int &x1, int &x2) {
            x1 = l;
            x2 = rt;
        });
    outline(dc, [&] {
        DrawRectangle(dc, dc->outer_left, dc->outer_top, dc->outer_right, dc->outer_bottom);
    });
    return 1;
}

// An ellipse or rounded rectangle of radii a, b around the centre fields:
// its rows are those the plain figure fills (inside the pen band of a thick
// pen).
int grad_curved(DC *dc, const Ramp &r, int a, int b) {
    State &s = tables(dc);
    if (!CreateEllipse(a, b, s.outer)) return 0;
    const int cx = dc->centre_x, cx2 = dc->centre2_x, cy = dc->centre_y, cy2 = dc->centre2_y;
    const int w = dc->pen_width;
    const bool thick = dc->pen_style != kPenNone && w >= 2;
    if (fills(dc, r)) {
        if (!thick) {
            const uint16_t *p = s.outer.e.data();
            fill_rows(dc, r, true, cy - b, cy2 + b, [&](int y, int &x1, int &x2) {
                if (y > cy && y < cy2) {
                    x1 = dc->outer_left;
                    x2 = dc->outer_right;
                } else {
                    const int k = y <= cy ? cy - y : y - cy2;
                    x1 = cx - p[k];
                    x2 = cx2 + p[k];
                }
            });
        } else {
            // A pen wider than the radius leaves only the straight middle.
            const int bi = CreateEllipse(a + 1 - w, b + 1 - w, s.inner) ? b + 1 - w : 0;
            const uint16_t *in = s.inner.e.data();
            fill_rows(dc, r, true, cy - (bi - 1), cy2 + (bi - 1), [&](int y, int &x1, int &x2) {
                if (y > cy && y < cy2) {
                    x1 = dc->inner_left + 1;
                    x2 = dc->inner_right - 1;
                } else {
                    const int k = y <= cy ? cy - y : y - cy2;
                    x1 = cx - (in[k] + 1);
                    x2 = cx2 + in[k] - 1;
                }
            });
        }
    }
    outline(dc, [&] { DrawEllipse(dc, a, b); });
    return 1;
}

Ramp mode_ramp(const DC *dc, int header, int footer) {
    Ramp r;
    r.mode = dc->gradient_mode;
    r.header = header;
    r.footer = footer;
    r.start = dc->fill_colour;
    r.end = dc->end_colour;
    return r;
}

Ramp stop_ramp(COLOR s0, COLOR s1, COLOR s2, COLOR s3, int origin, int h) {
    Ramp r;
    r.stops = true;
    r.stop[0] = s0;
    r.stop[1] = s1;
    r.stop[2] = s2;
    r.stop[3] = s3;
    r.origin = origin;
    r.h = h;
    return r;
}

// The rounded rectangle of an exclusive box with the ramp: radii and centre
// fields as for the plain rounded rectangle; a radius of 0 makes it a
// rectangle.
int round_rect(DC *dc, const Ramp &r, int left, int top, int right, int bottom, int cw, int ch) {
    if (!DimObjToPen(dc, left, top, right - 1, bottom - 1)) return 0;
    int rx = std::min(right - 1 - left, cw) / 2, ry = std::min(bottom - 1 - top, ch) / 2;
    if (rx <= 0 || ry <= 0) return grad_rect(dc, r);
    shapes::round_rect_centres(dc, &rx, &ry);
    return grad_curved(dc, r, rx, ry);
}

int ellipse(DC *dc, Ramp r, int left, int top, int right, int bottom) {
    if (!DimObjToPen(dc, left, top, right - 1, bottom - 1)) return 0;
    SetObjCenter(dc);
    r.ellipse = true;
    return grad_curved(dc, r, (dc->outer_right - dc->outer_left) / 2,
                       (dc->outer_bottom - dc->outer_top) / 2);
}

// The fourth stop of a coloured 3-D rounded rectangle: each channel moved
// from the end colour by three quarters of its distance to the fill colour,
// away from the fill, and kept inside its field.
COLOR mid_colour(COLOR fill, COLOR end) {
    const int fr = fill >> 11, fg = (fill >> 5) & 63, fb = fill & 31;
    const int er = end >> 11, eg = (end >> 5) & 63, eb = end & 31;
    const int r = std::min(31, er + int(std::abs(fr - er) * 0.78));
    const int g = std::min(63, eg + int(std::abs(fg - eg) * 0.78));
    const int b = std::min(31, eb + int(std::abs(fb - eb) * 0.74));
    return COLOR(r << 11 | g << 5 | b);
}

} // namespace

COLOR Grad_Step(COLOR start, COLOR end, int i, int n) {
    if (n <= 0) return start;
    auto ch = [&](int s, int e) { return s + (e - s) * i / n; };
    const int r = ch(start >> 11, end >> 11), g = ch((start >> 5) & 63, (end >> 5) & 63),
              b = ch(start & 31, end & 31);
    return COLOR((r & 31) << 11 | (g & 63) << 5 | (b & 31));
}

uint32_t Grad_Step32(COLOR start, COLOR end, int i, int n) {
    auto ch = [&](int s, int e, int ones) {
        if (s >= e)
            s |= ones;
        else
            e |= ones;
        return n <= 0 ? s : s + (e - s) * i / n;
    };
    const uint32_t r = uint32_t(ch((start >> 11) << 3, (end >> 11) << 3, 7) & 255);
    const uint32_t g = uint32_t(ch(((start >> 5) & 63) << 2, ((end >> 5) & 63) << 2, 3) & 255);
    const uint32_t b = uint32_t(ch((start & 31) << 3, (end & 31) << 3, 7) & 255);
    return 0xFF000000u | r << 16 | g << 8 | b;
}

int DrawGradientRect(DC *dc, int header, int footer) {
    if (!dc) return 0;
    return grad_rect(dc, mode_ramp(dc, header, footer));
}

int DrawGradRoundRect(DC *dc, int header, int footer, int rx, int ry) {
    if (!dc) return 0;
    return grad_curved(dc, mode_ramp(dc, header, footer), rx, ry);
}

int GDI_GradientRect(DC *dc, int header, int footer, int left, int top, int right, int bottom) {
    if (!DimObjToPen(dc, left, top, right - 1, bottom - 1)) return 0;
    return DrawGradientRect(dc, header, footer);
}

int GDI_GradRoundRect(DC *dc, int header, int footer, int left, int top, int right, int bottom,
                      int corner_width, int corner_height) {
    if (!dc) return 0;
    return round_rect(dc, mode_ramp(dc, header, footer), left, top, right, bottom, corner_width,
                      corner_height);
}

int GDI_GradEllipse(DC *dc, int header, int footer, int left, int top, int right, int bottom) {
    if (!dc) return 0;
    return ellipse(dc, mode_ramp(dc, header, footer), left, top, right, bottom);
}

int GDI_MetallicEllipse(DC *dc, int left, int top, int right, int bottom) {
    if (!dc) return 0;
    return ellipse(dc, stop_ramp(0x7BEF, 0xFFDF, 0x0000, 0xC638, top, bottom - 1 - top), left, top,
                   right, bottom);
}

int GDI_Grad3DRoundRect(DC *dc, int inset_x, int inset_y, int left, int top, int right, int bottom,
                        int corner_width, int corner_height) {
    if (!dc) return 0;
    const COLOR fill = dc->fill_colour, end = dc->end_colour;
    const bool coloured = fill != 0 && end != 0;
    const Ramp outer = coloured
                           ? stop_ramp(fill, 0xFFDF, end, mid_colour(fill, end), top, bottom - top)
                           : stop_ramp(0xC638, 0xFFDF, 0x0000, 0x7BEF, top, bottom - top);
    round_rect(dc, outer, left, top, right, bottom, corner_width, corner_height);

    // The pen is none from here on (and stays so), so the inset figure lies
    // inside the box it was given.
    dc->pen_colour = kColorNone;
    dc->pen_width = 0;
    dc->pen_style = kPenNone;
    dc->pen_pattern = 0xFF;
    dc->pattern_mask = 0x80;

    const int il = left + inset_x, it = top + inset_y;
    const int ir = right - inset_x - 2, ib = bottom - inset_y - 2;
    if (!DimObjToPen(dc, il, it, ir, ib)) return 0;
    const int rx = std::min(ir - il, corner_width) / 2, ry = std::min(ib - it, corner_height) / 2;
    if (rx <= 0 || ry <= 0) return 0;
    dc->centre_x = int16_t(dc->outer_left + rx);
    dc->centre2_x = int16_t(dc->outer_right - rx);
    dc->centre_y = int16_t(dc->outer_top + ry);
    dc->centre2_y = int16_t(dc->outer_bottom - ry);
    Ramp inner;
    inner.mode = kGradLinear;
    inner.start = coloured ? end : 0x0000;
    inner.end = coloured ? fill : 0xFFDF;
    // The ramp carries the swapped colours; the context keeps its own.
    return grad_curved(dc, inner, rx, ry);
}
