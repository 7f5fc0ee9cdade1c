// Ellipses, arcs, pies and chords.
//
// A figure is drawn from the integer profile of one quarter of its ellipse
// (the half width of every row from the centre row up), mirrored into four
// quadrants around the context's centre fields. Quadrants are numbered
// clockwise on the screen: 0 top right, 1 bottom right, 2 bottom left, 3 top
// left. Fills and thick outlines are horizontal runs; thin patterned
// outlines go pixel by pixel.
#include "gdi/shapes_int.h"
#include "platform/slice.h"

#include <climits>
#include <cmath>
#include <cstdint>

using namespace shapes;

namespace {

uint16_t sat16(int64_t v) {
    return uint16_t(std::clamp<int64_t>(v, 0, 65535));
}

// Both halves of a profile row: from the left quadrant's outer x in to its
// inner x, and the mirror of that on the right; halves that meet are one run,
// so that no pixel is drawn twice (which a raster operation like xor shows).
void band_row(DC *dc, int y, int outer, int inner, COLOR c) {
    const int l1 = dc->centre_x - outer, r1 = dc->centre_x - inner;
    const int l2 = dc->centre2_x + inner, r2 = dc->centre2_x + outer;
    if (r1 + 1 >= l2) {
        run(dc, y, std::min(l1, l2), std::max(r1, r2), c);
        return;
    }
    run(dc, y, l1, r1, c);
    run(dc, y, l2, r2, c);
}

// Profile row k above and below the centre: one row when they coincide.
template <class F> void mirrored_rows(const DC *dc, int k, F &&row) {
    row(dc->centre_y - k);
    if (dc->centre2_y + k != dc->centre_y - k) row(dc->centre2_y + k);
}

// The inner edge of a pen band on profile row k: where the next row's edge
// lies (so the outline stays a connected chain), 0 on the top row.
int band_edge(const uint16_t *p, int k, int top) {
    if (k >= top) return 0;
    return p[k + 1] != p[k] ? p[k + 1] + 1 : p[k];
}

// A run of quadrant q on profile row k, x from the quadrant's centre column.
void quadrant_run(DC *dc, int q, int k, int lo, int hi, COLOR c) {
    if (lo > hi) return;
    const int col = centre_col(dc, q);
    const int y = q == 1 || q == 2 ? centre_row(dc, q) + k : centre_row(dc, q) - k;
    if (q <= 1)
        run(dc, y, col + lo, col + hi, c);
    else
        run(dc, y, col - hi, col - lo, c);
}

// A ray point moved onto the ellipse along its ray.
struct Pt {
    int x, y;
};
Pt onto_ellipse(int a, int b, int px, int py) {
    if (px == 0) return {0, py >= 0 ? b : -b};
    if (py == 0) return {px >= 0 ? a : -a, 0};
    const float t = float(py) / float(px), fa = float(a), fb = float(b);
    const float x = fa * fb / std::sqrt(fb * fb + fa * fa * t * t);
    const float y = std::sqrt(std::max(0.0f, fb * fb - fb * fb * x * x / (fa * fa)));
    const int ix = std::min(int(x + 0.5f), a), iy = std::min(int(y + 0.5f), b);
    return {px >= 0 ? ix : -ix, py >= 0 ? iy : -iy};
}

// A ray's x on profile row k: the last pixel of the ray on that row.
int ray_at(const RayTable &t, int k) {
    const int before = t.e[size_t(3 + k)], after = t.e[size_t(4 + k)];
    return before == after ? before : after - 1;
}

// The part of a quadrant an arc covers: from the start ray (or the
// quadrant's beginning) to the end ray (or its end), clockwise.
struct Piece {
    int q;
    bool from, to;
};

// Runs with the pen width lowered by one when it is even, so that radii and
// chords stay as wide as the outline.
template <class F> void with_odd_pen(DC *dc, F &&draw) {
    const int16_t w = dc->pen_width;
    if (w % 2 == 0) dc->pen_width = int16_t(w - 1);
    draw();
    dc->pen_width = w;
}

int pen_flags(const DC *dc) {
    if (dc->pen_style == kPenNone) return 0;
    return dc->pen_width < 2 ? kApcThin : kApcThick;
}

int apc_figure(DC *dc, int left, int top, int right, int bottom, int x1, int y1, int x2, int y2,
               int flags) {
    if (!DimObjToPen(dc, left, top, right - 1, bottom - 1)) return 0;
    SetObjCenter(dc);
    const int a = (dc->outer_right - dc->outer_left) / 2;
    const int b = (dc->outer_bottom - dc->outer_top) / 2;
    // The box centre, halved towards minus infinity (a box left of or above
    // the origin keeps its centre there).
    const int cx = (left + right - 1) >> 1, cy = (top + bottom - 1) >> 1;
    return DrawAPC(dc, a, b, x1 - cx, y1 - cy, x2 - cx, y2 - cy, flags);
}

} // namespace

void SetObjCenter(DC *dc) {
    if (!dc) return;
    const int ex = dc->outer_right - dc->outer_left, ey = dc->outer_bottom - dc->outer_top;
    dc->centre_x = int16_t(dc->outer_left + ex / 2);
    dc->centre2_x = int16_t(dc->centre_x + (ex & 1));
    dc->centre_y = int16_t(dc->outer_top + ey / 2);
    dc->centre2_y = int16_t(dc->centre_y + (ey & 1));
}

int CreateEllipse(int a, int b, Profile &profile) {
    if (a <= 0 || b <= 0 || a > 65535 || b + 2 > int(profile.e.size())) return 0;
    uint16_t *p = profile.e.data();
    const int64_t A = a, B = b, aa = A * A, bb = B * B;
    p[b + 1] = 0;
    // The flat part, from the top row down: one x step at a time.
    int64_t t = aa * B, s = 0, d = 0, x = 0;
    int row = b;
    while (t >= s) {
        d += bb + 2 * s;
        s += bb;
        if (d >= t) {
            if (row >= 1) p[row] = sat16(x);
            --row;
            const int64_t before = t;
            t -= aa;
            d = d - 2 * before + aa;
        }
        ++x;
    }
    p[0] = uint16_t(a);
    // The steep part, from the centre row up: one row at a time.
    int64_t u = A * bb;
    x = A;
    s = 0;
    d = 0;
    for (int r = 1; r <= row; ++r) {
        const int64_t f = d + aa + 2 * s;
        if (f >= u) --x;
        p[r] = sat16(x);
        if (f < u) {
            d = f;
        } else {
            d = f - 2 * u + bb;
            u -= bb;
        }
        s += aa;
    }
    profile.a = a;
    profile.b = b;
    return b;
}

int DrawEllipse(DC *dc, int a, int b) {
    if (!dc) return 0;
    State &s = tables(dc);
    if (!CreateEllipse(a, b, s.outer)) return 0;
    const uint16_t *p = s.outer.e.data();
    const int cy = dc->centre_y, cy2 = dc->centre2_y, cx = dc->centre_x, cx2 = dc->centre2_x;
    const COLOR fill = dc->fill_colour, pen = dc->pen_colour;
    const int w = dc->pen_width, style = dc->pen_style;
    const bool thin = w <= 1;
    // The inner profile of a thick pen band; a pen wider than the radius
    // leaves no inside.
    int bi = 0;
    if (!thin && style != kPenNone && CreateEllipse(a + 1 - w, b + 1 - w, s.inner)) bi = b + 1 - w;
    const uint16_t *in = s.inner.e.data();

    if (fill != kColorNone) {
        if (thin || style == kPenNone || pen == fill) {
            for (int k = 0; k <= b; ++k) {
                mirrored_rows(dc, k, [&](int y) { run(dc, y, cx - p[k], cx2 + p[k], fill); });
                SlicePoint();
            }
            clipped_rows(dc, cy + 1, cy2 - 1,
                         [&](int y) { run(dc, y, dc->outer_left, dc->outer_right, fill); });
            if (pen == fill) return 1; // one filled figure, no separate outline
        } else {
            for (int k = 0; k < bi; ++k) {
                mirrored_rows(dc, k,
                              [&](int y) { run(dc, y, cx - (in[k] + 1), cx2 + in[k] - 1, fill); });
                SlicePoint();
            }
            clipped_rows(dc, cy + 1, cy2 - 1,
                         [&](int y) { run(dc, y, dc->inner_left + 1, dc->inner_right - 1, fill); });
        }
    }
    if (style == kPenNone) return 1;

    const int ol = dc->outer_left, ot = dc->outer_top, orr = dc->outer_right, ob = dc->outer_bottom;
    if (thin && style != kPenSolid) {
        // Clockwise as one pattern: the quarters and the straight sides
        // between them (a rounded rectangle's), each side without its end.
        DrawEllipseSegment(dc, s.outer, a, 0, 0, b, 0);
        if (cy2 - cy > 1) draw_line(dc, orr, ot + 1 + b, orr, ob - b, s.side, false);
        DrawEllipseSegment(dc, s.outer, a, 0, 0, b, 1);
        if (cx2 - cx >= 2) draw_line(dc, orr - 1 - a, ob, ol + a, ob, s.side, false);
        DrawEllipseSegment(dc, s.outer, a, 0, 0, b, 2);
        if (cy2 - cy > 1) draw_line(dc, ol, ob - 1 - b, ol, ot + b, s.side, false);
        DrawEllipseSegment(dc, s.outer, a, 0, 0, b, 3);
        if (cx2 - cx >= 2) draw_line(dc, ol + 1 + a, ot, orr - a, ot, s.side, false);
        return 1;
    }
    // The pen band between the outer edge and the inner one, in all quadrants.
    for (int k = 0; k <= b; ++k) {
        const int e = thin ? band_edge(p, k, b) : band_edge(in, k, bi);
        mirrored_rows(dc, k, [&](int y) { band_row(dc, y, p[k], e, pen); });
        SlicePoint();
    }
    // The straight bands of a rounded rectangle, between the corners.
    if (cx2 - cx >= 2) {
        clipped_rows(dc, ot, dc->inner_top, [&](int y) { run(dc, y, cx + 1, cx2 - 1, pen); });
        clipped_rows(dc, dc->inner_bottom, ob, [&](int y) { run(dc, y, cx + 1, cx2 - 1, pen); });
    }
    if (cy2 - cy > 1) {
        clipped_rows(dc, cy + 1, cy2 - 1, [&](int y) {
            run(dc, y, ol, dc->inner_left, pen);
            run(dc, y, dc->inner_right, orr, pen);
        });
    }
    return 1;
}

void DrawEllipseSegment(DC *dc, const Profile &profile, int start_x, int start_row, int end_x,
                        int end_row, int q) {
    if (!dc || q < 0 || q > 3 || profile.b <= 0) return;
    const uint16_t *p = profile.e.data();
    const int b = profile.b;
    const int hrow = std::clamp(start_row, 0, b), vrow = std::clamp(end_row, 0, b);
    if (hrow > vrow) return;
    const int col = centre_col(dc, q), row = centre_row(dc, q);
    const int xs = q <= 1 ? 1 : -1, ys = q == 1 || q == 2 ? 1 : -1;
    // Quadrants 0 and 2 run from the vertical axis towards the horizontal one
    // (rows down, x out), 1 and 3 the other way.
    const bool outwards = q == 0 || q == 2;
    uint8_t mask = dc->pattern_mask ? dc->pattern_mask : 0x80;
    for (int i = 0; i <= vrow - hrow; ++i) {
        const int k = outwards ? vrow - i : hrow + i;
        int lo = k == b ? 0 : std::min<int>(p[k], p[k + 1] + 1), hi = p[k];
        if (k == hrow) hi = std::min(hi, start_x);
        if (k == vrow) lo = std::max(lo, end_x);
        for (int j = 0; j <= hi - lo; ++j) {
            const int x = outwards ? lo + j : hi - j;
            pattern_pixel(dc, col + xs * x, row + ys * k, mask);
        }
    }
    dc->pattern_mask = mask;
}

int DrawAPC(DC *dc, int a, int b, int x1, int y1, int x2, int y2, int flags) {
    if (!dc) return 0;
    State &s = tables(dc);
    if (flags & (kApcThin | kApcThick)) flags |= kApcOutline;
    const Pt S = onto_ellipse(a, b, x1, y1), E = onto_ellipse(a, b, x2, y2);
    if (!CreateEllipse(a, b, s.outer)) return 0;
    const int qs = CreateRay(S.x, S.y, a + 1, b + 1, s.arc_start);
    const int qe = CreateRay(E.x, E.y, a + 1, b + 1, s.arc_end);
    const uint16_t *p = s.outer.e.data();
    const int w = dc->pen_width;
    int bi = 0;
    if ((flags & kApcThick) && CreateEllipse(a + 1 - w, b + 1 - w, s.inner)) bi = b + 1 - w;
    const uint16_t *in = s.inner.e.data();

    // The quadrants drawn, clockwise from the start.
    Piece pieces[5];
    int n = 0;
    const int64_t cross = int64_t(S.x) * E.y - int64_t(S.y) * E.x;
    if (qs != qe) {
        pieces[n++] = {qs, true, false};
        for (int q = (qs + 1) % 4; q != qe; q = (q + 1) % 4)
            pieces[n++] = {q, false, false};
        pieces[n++] = {qe, false, true};
    } else if (cross > 0) {
        pieces[n++] = {qs, true, true};
    } else {
        // The end lies before the start (or on it): all the way round.
        pieces[n++] = {qs, true, false};
        for (int i = 1; i <= 3; ++i)
            pieces[n++] = {(qs + i) % 4, false, false};
        pieces[n++] = {qs, false, true};
    }

    // Fill and thick band, row by row, measured out from each quadrant's
    // centre column. In quadrants 0 and 2 the start ray bounds a row towards
    // the centre and the end ray towards the rim; in 1 and 3 the other way.
    if (flags & (kApcFill | kApcThick)) {
        for (int k = 0; k <= b; ++k) {
            int e = p[k];
            if (flags & kApcThick)
                e = band_edge(in, k, bi);
            else if (flags & kApcThin)
                e = band_edge(p, k, b);
            for (int i = 0; i < n; ++i) {
                const Piece &pc = pieces[i];
                const bool outwards = pc.q == 0 || pc.q == 2;
                int inner = 0, outer = INT_MAX;
                if (outwards) {
                    if (pc.from) inner = ray_at(s.arc_start, k);
                    if (pc.to) outer = ray_at(s.arc_end, k);
                } else {
                    if (pc.to) inner = ray_at(s.arc_end, k);
                    if (pc.from) outer = ray_at(s.arc_start, k);
                }
                if (flags & kApcFill)
                    quadrant_run(dc, pc.q, k, inner, std::min(outer, e), dc->fill_colour);
                if (flags & kApcThick)
                    quadrant_run(dc, pc.q, k, std::max(e, inner), std::min<int>(p[k], outer),
                                 dc->pen_colour);
            }
            SlicePoint();
        }
    }

    // Thin outline: the pieces' arcs between the points on the ellipse.
    if (flags & kApcThin) {
        const Pt s_abs{std::abs(S.x), std::abs(S.y)}, e_abs{std::abs(E.x), std::abs(E.y)};
        for (int i = 0; i < n; ++i) {
            const Piece &pc = pieces[i];
            const bool outwards = pc.q == 0 || pc.q == 2;
            Pt h{a, 0}, v{0, b}; // the ends nearer the horizontal and the vertical axis
            if (pc.from) (outwards ? v : h) = s_abs;
            if (pc.to) (outwards ? h : v) = e_abs;
            DrawEllipseSegment(dc, s.outer, h.x, h.y, v.x, v.y, pc.q);
        }
    }

    const bool outline = flags & kApcOutline;
    if ((flags & kApcPie) && !(flags & kApcNoSides) && outline) {
        with_odd_pen(dc, [&] {
            DrawRay(dc, s.arc_start, centre_col(dc, qs), centre_row(dc, qs));
            DrawRay(dc, s.arc_end, centre_col(dc, qe), centre_row(dc, qe));
        });
    }
    if ((flags & kApcChord) && outline) {
        with_odd_pen(dc, [&] {
            draw_line(dc, centre_col(dc, qs) + S.x, centre_row(dc, qs) + S.y,
                      centre_col(dc, qe) + E.x, centre_row(dc, qe) + E.y, s.arc_start, true);
        });
    }
    // Open ends of a thick arc (or of a pie without sides) get a nib.
    const bool open_ends =
        !(flags & (kApcPie | kApcChord)) || ((flags & kApcPie) && (flags & kApcNoSides));
    if ((flags & kApcThick) && open_ends) {
        const Profile *nib = nullptr;
        if (w > 5 && CreateEllipse((w - 1) / 2, (w - 1) / 2, s.nib)) nib = &s.nib;
        DrawPoint(dc, S.x, S.y, qs, nib);
        DrawPoint(dc, E.x, E.y, qe, nib);
    }
    return 1;
}

int GDI_Ellipse(DC *dc, int left, int top, int right, int bottom) {
    if (!DimObjToPen(dc, left, top, right - 1, bottom - 1)) return 0;
    SetObjCenter(dc);
    return DrawEllipse(dc, (dc->outer_right - dc->outer_left) / 2,
                       (dc->outer_bottom - dc->outer_top) / 2);
}

int GDI_Arc(DC *dc, int left, int top, int right, int bottom, int x1, int y1, int x2, int y2) {
    if (!dc) return 0;
    return apc_figure(dc, left, top, right, bottom, x1, y1, x2, y2, pen_flags(dc));
}

int GDI_Pie(DC *dc, int left, int top, int right, int bottom, int x1, int y1, int x2, int y2) {
    if (!dc) return 0;
    const int fill = dc->fill_colour != kColorNone ? kApcFill : 0;
    return apc_figure(dc, left, top, right, bottom, x1, y1, x2, y2, kApcPie | fill | pen_flags(dc));
}

int GDI_PieNS(DC *dc, int left, int top, int right, int bottom, int x1, int y1, int x2, int y2) {
    if (!dc) return 0;
    const int fill = dc->fill_colour != kColorNone ? kApcFill : 0;
    return apc_figure(dc, left, top, right, bottom, x1, y1, x2, y2,
                      kApcPie | kApcNoSides | fill | pen_flags(dc));
}

int GDI_Chord(DC *dc, int left, int top, int right, int bottom, int x1, int y1, int x2, int y2) {
    if (!dc) return 0;
    return apc_figure(dc, left, top, right, bottom, x1, y1, x2, y2, kApcChord | pen_flags(dc));
}
