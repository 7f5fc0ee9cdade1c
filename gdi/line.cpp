// Lines, pens, rectangles and polygon outlines.
//
// A line is first turned into a ray table (the x count reached at the end of
// each row) and one drawer walks the table for any pen: thin pens pixel by
// pixel with the pattern, thick pens as a band of horizontal runs swept by a
// square or round nib. A line spanning more rows than a table holds is drawn
// through a window of the rows that can reach the clip, with the same pixels
// and pattern phase as if it had been drawn whole.
#include "gdi/shapes_int.h"
#include "platform/slice.h"
#include "platform/video.h"

#include <bit>
#include <climits>
#include <cstdlib>

using namespace shapes;

namespace {
State g;

uint16_t sat16(long v) {
    return uint16_t(std::clamp<long>(v, 0, 65535));
}

int direction_code(long dx, long dy) {
    if (dx >= 0 && dy < 0) return 0;
    if (dx > 0 && dy >= 0) return 1;
    if (dx <= 0 && dy > 0) return 2;
    return 3;
}

// The ray of a line as CreateRay builds it, in closed form and without a row
// limit: row k ends at x count (acc0 + k * ax) / ay.
struct LineRay {
    long ax = 0, ay = 0, acc0 = 0, L = 0, rows = 0;
    long e1 = 0, e2 = 0;
    int code = 3, sx = -1, sy = -1;
    bool ymajor = false;

    long count(long k) const { return ax == 0 ? 0 : (acc0 + k * ax) / ay; }
    // Entry 4 + k of the whole table (k = rows is the entry that closes it).
    long entry(long k) const {
        if (ay == 0) return k < rows ? L : L + 1;
        if (ax == 0) return k < rows ? 0 : L + 1;
        if (k < rows) return count(k) > L ? L + 1 : count(k);
        return count(rows - 1) > L ? L + 2 : L + 1;
    }
    long lo(long k) const { return k == 0 ? 0 : entry(k - 1); }
    long hi(long k) const { return ymajor ? lo(k) : std::min(e1, std::max(lo(k), entry(k) - 1)); }
};

LineRay line_ray(long dx, long dy, long limit_dx, long limit_dy) {
    LineRay r;
    r.code = direction_code(dx, dy);
    r.sx = r.code <= 1 ? 1 : -1;
    r.sy = r.code == 1 || r.code == 2 ? 1 : -1;
    r.ax = std::labs(dx);
    r.ay = std::labs(dy);
    r.L = std::labs(limit_dx);
    r.rows = std::labs(limit_dy);
    r.acc0 = r.ax < r.ay ? r.ax + r.ay / 2 : r.ay + r.ax / 2;
    r.ymajor = r.ay > 0 && r.ax < r.ay;
    const bool leave_out = dx == limit_dx && dy == limit_dy;
    r.e1 = r.ax;
    r.e2 = r.ay;
    if (r.ay == 0) {
        r.rows = std::max<long>(r.rows, 1);
        if (leave_out && r.ax > 0) --r.e1;
    } else if (r.ax == 0) {
        if (leave_out) --r.e2;
    } else if (leave_out) {
        // The last row (ay - 1): empty, holding only the end point, or longer.
        const long last = r.count(r.ay - 1), prev = r.ay >= 2 ? r.count(r.ay - 2) : 0;
        if (last == prev) {
            --r.e2;
        } else if (last == prev + 1) {
            --r.e2;
            --r.e1;
        } else {
            --r.e1;
        }
    }
    return r;
}

// The extents of the nib swept along a thick line: left, right, up, down.
struct Nib {
    int left = 0, right = 0, up = 0, down = 0;
    bool round = false;
};

// The pen's nib for a ray of e1 x steps and e2 y steps; `row_entry`(j) is the
// ray's x count at row boundary j, or -1 past the known rows. False when a
// round nib does not fit its table.
template <class RowEntry>
bool make_nib(const DC *dc, State &s, long e1, long e2, RowEntry row_entry, Nib &n) {
    const int w = dc->pen_width, h = (w - 1) / 2;
    if (w <= 5) {
        // Square: for an even width the extra pixel lies below and right.
        n.left = n.up = h;
        n.right = n.down = h + (w % 2 == 0);
        return true;
    }
    if (!CreateEllipse(h, h, s.nib)) return false;
    n.round = true;
    const uint16_t *p = s.nib.e.data();
    if (e2 == 0) { // horizontal: the cross-section stands upright
        n.up = n.down = h;
        return true;
    }
    if (e1 == 0) { // vertical: it lies flat
        n.left = n.right = h;
        return true;
    }
    // The nib's diameter across the ray: where the ray leaves the circle.
    int j = 0;
    for (int i = 1; i <= h; ++i) {
        const long x = row_entry(i);
        if (x < 0) break;
        if (p[i] <= x) {
            j = i;
            break;
        }
    }
    if (j == 0) j = h;
    while (j < h && p[j + 1] == p[j])
        ++j;
    n.left = n.right = j;
    n.up = n.down = p[j];
    return true;
}

// Where a built table's rows stop, and the x range of each row.
struct TableRows {
    const RayTable &t;
    long e1, K;
    long lo(long k) const { return t.e[size_t(3 + k)]; }
    long hi(long k) const {
        if (t.ymajor) return lo(k);
        return std::min(e1, std::max(lo(k), long(t.e[size_t(4 + k)]) - 1));
    }
};
TableRows rows_of(const RayTable &t) {
    return TableRows{t, t.e[1], std::min<long>(t.e[2], t.rows)};
}

// Thin pens: a solid horizontal ray as one run, everything else pixel by
// pixel with the pattern (one pixel per row for y-major rays, else one per
// column).
void thin_ray(DC *dc, const RayTable &t, int x, int y) {
    const uint16_t *e = t.e.data();
    const int code = e[0];
    const int sx = code <= 1 ? 1 : -1, sy = code == 1 || code == 2 ? 1 : -1;
    const TableRows r = rows_of(t);
    if (e[2] == 0 && dc->pen_style == kPenSolid) {
        const int len = e[1];
        run(dc, y, sx > 0 ? x : x - len, sx > 0 ? x + len : x, dc->pen_colour);
        return;
    }
    uint8_t mask = dc->pattern_mask ? dc->pattern_mask : 0x80;
    // The driver plots the whole line at once when it draws the context's pixels.
    VdrLine line{
        x, y, sx, sy, t.ymajor, 0, nullptr, 0, dc->pen_pattern, dc->pen_colour, dc->fill_colour};
    if (t.ymajor) {
        line.count = r.K + 1;
        line.ends = e + 3;
    } else {
        line.count = r.hi(r.K) + 1;
        line.ends = e + 4;
        line.n_ends = t.rows + 1;
    }
    if (VDR_PlotLine(dc, line, &mask)) {
        dc->pattern_mask = mask;
        return;
    }
    if (t.ymajor) {
        for (long k = 0; k <= r.K; ++k) {
            pattern_pixel(dc, x, y, mask);
            if (k < r.K && e[3 + k] != e[4 + k]) x += sx;
            y += sy;
        }
    } else {
        const long last_pixel = r.hi(r.K);
        size_t next = 4;
        const size_t end = size_t(4 + t.rows);
        for (long k = 0; k <= last_pixel; ++k) {
            if (next <= end && e[next] <= k) {
                y += sy;
                ++next;
            }
            pattern_pixel(dc, x, y, mask);
            x += sx;
        }
    }
    dc->pattern_mask = mask;
}

// Thick pens: the band swept by the nib, row by row (top-down for rays that
// go down, bottom-up for rays that go up), only the rows inside the clip.
void band(DC *dc, const RayTable &t, int x0, int y0, const Nib &n) {
    const int code = t.e[0];
    const int sx = code <= 1 ? 1 : -1, sy = code == 1 || code == 2 ? 1 : -1;
    const TableRows r = rows_of(t);
    const long y_end = y0 + sy * r.K;
    const long top = std::max<long>(std::min<long>(y0, y_end) - n.up, dc->clip.top);
    const long bottom = std::min<long>(std::max<long>(y0, y_end) + n.down, dc->clip.bottom);
    for (long i = 0; i <= bottom - top; ++i) {
        const long Y = sy > 0 ? top + i : bottom - i;
        // Rows of the ray whose nib covers band row Y.
        long ka = sy > 0 ? Y - n.down - y0 : y0 - Y - n.up;
        long kb = sy > 0 ? Y + n.up - y0 : y0 - Y + n.down;
        ka = std::max<long>(ka, 0);
        kb = std::min<long>(kb, r.K);
        if (ka > kb) continue;
        const long xl = sx > 0 ? x0 + r.lo(ka) - n.left : x0 - r.hi(kb) - n.left;
        const long xr = sx > 0 ? x0 + r.hi(kb) + n.right : x0 - r.lo(ka) + n.right;
        run(dc, int(Y), int(std::max<long>(xl, INT_MIN / 2)), int(std::min<long>(xr, INT_MAX / 2)),
            dc->pen_colour);
        SlicePoint();
    }
}

// Draws a line longer than its table holds: only the rows whose pixels (or
// nib) can reach the clip go into the table; the pattern moves on over the
// rows left out.
bool draw_windowed(DC *dc, const LineRay &r, int x1, int y1, RayTable &t) {
    const bool thick = dc->pen_width >= 2;
    Nib n;
    if (thick && !make_nib(
                     dc, g, r.e1, r.e2, [&r](long j) { return r.entry(j - 1); }, n))
        return false;
    const RECT &c = dc->clip;
    long ka = r.sy > 0 ? c.top - n.down - long(y1) : long(y1) - (c.bottom + n.up);
    long kb = r.sy > 0 ? c.bottom + n.up - long(y1) : long(y1) - (c.top - n.down);
    ka = std::max<long>(ka, 0);
    kb = std::min<long>(kb, r.e2);
    kb = std::min<long>(kb, ka + t.capacity() - 1);
    const uint8_t mask0 = dc->pattern_mask ? dc->pattern_mask : 0x80;
    if (ka <= kb) {
        const long base = r.lo(ka), n_rows = kb - ka + 1;
        uint16_t *e = t.e.data();
        e[0] = uint16_t(r.code);
        e[1] = sat16((r.ymajor ? r.lo(kb) : r.hi(kb)) - base);
        e[2] = sat16(n_rows - 1);
        e[3] = 0;
        for (long i = 0; i <= n_rows; ++i)
            e[4 + i] = sat16(r.entry(ka + i) - base);
        t.rows = int(n_rows);
        t.ymajor = r.ymajor;
        const int xs = int(x1 + r.sx * base), ys = int(y1 + r.sy * ka);
        if (thick) {
            band(dc, t, xs, ys, n);
        } else {
            dc->pattern_mask = advance_mask(mask0, r.ymajor ? ka : base);
            thin_ray(dc, t, xs, ys);
        }
    }
    if (!thick) {
        const bool solid_run = r.e2 == 0 && dc->pen_style == kPenSolid;
        if (!solid_run) dc->pattern_mask = advance_mask(mask0, (r.ymajor ? r.e2 : r.e1) + 1);
    } else if (n.round) {
        DrawPoint(dc, x1, y1, -1, &g.nib);
        DrawPoint(dc, int(x1 + r.sx * r.hi(r.e2)), int(y1 + r.sy * r.e2), -1, &g.nib);
    }
    return true;
}
} // namespace

namespace shapes {

State &tables(const DC *dc) {
    const int h = dc ? std::max(1, dc->bounds.bottom - dc->bounds.top + 1) : 1;
    if (h > g.height) {
        const int rays = Shapes_RayRows(h), entries = Shapes_MaxRadius(h) + 2;
        for (RayTable *t : {&g.line, &g.polygon, &g.side, &g.fill, &g.arc_start, &g.arc_end})
            *t = RayTable(rays);
        for (Profile *p : {&g.outer, &g.inner, &g.nib})
            *p = Profile(entries);
        g.height = h;
    }
    return g;
}

uint8_t advance_mask(uint8_t mask, long n) {
    if (!mask) mask = 0x80;
    const int at = (std::countl_zero(mask) + int(((n % 8) + 8) % 8)) % 8;
    return uint8_t(0x80 >> at);
}

void pattern_pixel(DC *dc, int x, int y, uint8_t &mask) {
    if (dc->pen_pattern & mask)
        GDI_SetPixel(dc, x, y, dc->pen_colour);
    else if (dc->fill_colour != kColorNone)
        GDI_SetPixel(dc, x, y, dc->fill_colour);
    mask = mask == 0x01 ? 0x80 : uint8_t(mask >> 1);
}

bool draw_line(DC *dc, int x1, int y1, int x2, int y2, RayTable &table, bool include_end) {
    const long dx = long(x2) - x1, dy = long(y2) - y1;
    if (!include_end && dx == 0 && dy == 0) return true; // only the end point: nothing
    const long ay = std::labs(dy);
    // Limits equal to the distances leave the end point out; one more keeps it.
    const long ldx = include_end ? std::labs(dx) + 1 : dx, ldy = include_end ? ay + 1 : dy;
    tables(dc);
    if (std::labs(ldy) <= table.capacity()) {
        CreateRay(int(dx), int(dy), int(ldx), int(ldy), table);
        return DrawRay(dc, table, x1, y1);
    }
    return draw_windowed(dc, line_ray(dx, dy, ldx, ldy), x1, y1, table);
}

} // namespace shapes

int Shapes_MaxRadius(int screen_height) {
    return std::max(screen_height, 16);
}

int Shapes_RayRows(int screen_height) {
    // A window of the clip's rows with a round nib's reach above and below.
    return 3 * Shapes_MaxRadius(screen_height) + 8;
}

void Shapes_Reset() {
    g = State{};
}

int CreateRay(int dx, int dy, int limit_dx, int limit_dy, RayTable &t) {
    const LineRay r = line_ray(dx, dy, limit_dx, limit_dy);
    uint16_t *e = t.e.data();
    const long rows = std::min<long>(r.rows, t.capacity());
    e[0] = uint16_t(r.code);
    e[1] = sat16(r.e1);
    e[2] = sat16(r.e2);
    e[3] = 0;
    if (r.ax > 0 && r.ay > 0) {
        // The accumulator walk, row by row; counts past the limit stop the table.
        // After the first row the accumulator stays below ay, so each row adds
        // ax / ay and one more when the remainders carry: no division per row.
        const long q = r.ax / r.ay, rem = r.ax % r.ay;
        long count = r.acc0 / r.ay, acc = r.acc0 % r.ay, k = 0;
        for (; k < rows; ++k) {
            if (count > r.L) break;
            e[4 + k] = uint16_t(count);
            count += q;
            acc += rem;
            if (acc >= r.ay) {
                acc -= r.ay;
                ++count;
            }
        }
        if (k < rows) {
            for (; k < rows; ++k)
                e[4 + k] = sat16(r.L + 1);
            e[4 + rows] = sat16(r.L + 2);
        } else {
            e[4 + rows] = sat16(r.L + 1);
        }
    } else {
        for (long k = 0; k <= rows; ++k)
            e[4 + k] = sat16(r.entry(k == rows ? r.rows : k));
    }
    t.rows = int(rows);
    t.ymajor = r.ymajor;
    return r.code;
}

int DrawRay(DC *dc, RayTable &t, int x, int y) {
    if (!dc) return 0;
    State &s = tables(dc);
    if (dc->pen_width < 2) {
        thin_ray(dc, t, x, y);
        return 1;
    }
    Nib n;
    const auto row_entry = [&t](long j) -> long {
        return 3 + j <= 4 + t.rows ? long(t.e[size_t(3 + j)]) : -1;
    };
    if (!make_nib(dc, s, t.e[1], t.e[2], row_entry, n)) return 0;
    band(dc, t, x, y, n);
    if (n.round) {
        const TableRows r = rows_of(t);
        const int code = t.e[0];
        const int sx = code <= 1 ? 1 : -1, sy = code == 1 || code == 2 ? 1 : -1;
        DrawPoint(dc, x, y, -1, &s.nib);
        DrawPoint(dc, int(x + sx * r.hi(r.K)), int(y + sy * r.K), -1, &s.nib);
    }
    return 1;
}

int DrawLine(DC *dc, int x1, int y1, int x2, int y2, RayTable &table) {
    if (!dc) return 0;
    return draw_line(dc, x1, y1, x2, y2, table, false) ? 1 : 0;
}

void DrawPoint(DC *dc, int x, int y, int corner, const Profile *nib) {
    if (!dc) return;
    const int w = dc->pen_width, h = w > 1 ? (w - 1) / 2 : 0;
    if (corner >= 0 && corner <= 3) {
        x += centre_col(dc, corner);
        y += centre_row(dc, corner);
    }
    // An even width splits the centre into two columns and two rows, towards
    // the figure's middle for the corners of a quadrant.
    int xl = 0, xr = 0, yt = 0, yb = 0;
    if (w > 0 && w % 2 == 0) {
        switch (corner) {
        case 0:
            xl = -1, yb = 1;
            break;
        case 1:
            xl = -1, yt = -1;
            break;
        case 2:
            xr = 1, yt = -1;
            break;
        default: // 3 and the whole nib
            xr = 1, yb = 1;
            break;
        }
    }
    if (nib) {
        for (int k = 0; k <= nib->b; ++k) {
            const int half = nib->e[size_t(k)];
            run(dc, y + yt - k, x + xl - half, x + xr + half, dc->pen_colour);
            if (k > 0 || yt != yb)
                run(dc, y + yb + k, x + xl - half, x + xr + half, dc->pen_colour);
        }
        return;
    }
    clipped_rows(dc, y + yt - h, y + yb + h,
                 [&](int row) { run(dc, row, x + xl - h, x + xr + h, dc->pen_colour); });
}

int GDI_MoveTo(DC *dc, int x, int y) {
    if (!dc) return 0;
    dc->cur_x = int16_t(x);
    dc->cur_y = int16_t(y);
    dc->pattern_mask = 0x80;
    return 1;
}

int GDI_LineTo(DC *dc, int x, int y) {
    if (!dc) return 0;
    x = int16_t(x);
    y = int16_t(y);
    State &s = tables(dc);
    if (!draw_line(dc, dc->cur_x, dc->cur_y, x, y, s.line, false)) return 0;
    dc->cur_x = int16_t(x);
    dc->cur_y = int16_t(y);
    return 1;
}

int DimObjToPen(DC *dc, int left, int top, int right, int bottom) {
    if (!dc || right < left || bottom < top) return 0;
    int h = 0, w = 0;
    if (dc->pen_style != kPenNone && dc->pen_width >= 1) {
        h = (dc->pen_width - 1) / 2;
        w = dc->pen_width - 1;
    }
    dc->outer_left = int16_t(left + h - w);
    dc->outer_top = int16_t(top + h - w);
    dc->outer_right = int16_t(right + h);
    dc->outer_bottom = int16_t(bottom + h);
    dc->inner_left = int16_t(left + h);
    dc->inner_top = int16_t(top + h);
    dc->inner_right = int16_t(right + h - w);
    dc->inner_bottom = int16_t(bottom + h - w);
    return 1;
}

int DrawRectangle(DC *dc, int, int, int, int) {
    if (!dc) return 0;
    State &s = tables(dc);
    const int ol = dc->outer_left, ot = dc->outer_top, orr = dc->outer_right, ob = dc->outer_bottom;
    const int il = dc->inner_left, it = dc->inner_top, ir = dc->inner_right, ib = dc->inner_bottom;
    const COLOR fill = dc->fill_colour, pen = dc->pen_colour;
    const int style = dc->pen_style;
    if (fill != kColorNone) {
        if (style != kPenNone && pen != fill) {
            clipped_rows(dc, it + 1, ib - 1, [&](int y) {
                run(dc, y, il + 1, ir - 1, fill);
                SlicePoint();
            });
        } else {
            // Without a pen, or with one of the fill's colour: one filled box.
            clipped_rows(dc, ot, ob, [&](int y) {
                run(dc, y, ol, orr, fill);
                SlicePoint();
            });
            return 1;
        }
    }
    if (style == kPenNone) return 1;
    if (dc->pen_width < 2 && style != kPenSolid) {
        // One pattern clockwise from the top left corner; each corner once.
        dc->pattern_mask = 0x80;
        draw_line(dc, ol, ot, orr, ot, s.side, false);
        draw_line(dc, orr, ot, orr, ob, s.side, false);
        draw_line(dc, orr, ob, ol, ob, s.side, false);
        draw_line(dc, ol, ob, ol, ot, s.side, false);
        return 1;
    }
    clipped_rows(dc, ot, ob, [&](int y) {
        if (y <= it || y >= ib || il + 1 >= ir) { // a full row, or sides that meet
            run(dc, y, ol, orr, pen);
        } else {
            run(dc, y, ol, il, pen);
            run(dc, y, ir, orr, pen);
        }
        SlicePoint();
    });
    return 1;
}

int GDI_Rectangle(DC *dc, int left, int top, int right, int bottom) {
    if (!DimObjToPen(dc, left, top, right - 1, bottom - 1)) return 0;
    return DrawRectangle(dc, left, top, right - 1, bottom - 1);
}

int GDI_RoundRect(DC *dc, int left, int top, int right, int bottom, int corner_width,
                  int corner_height) {
    if (!DimObjToPen(dc, left, top, right - 1, bottom - 1)) return 0;
    const int cw = std::min(right - 1 - left, corner_width);
    const int ch = std::min(bottom - 1 - top, corner_height);
    int rx = cw / 2, ry = ch / 2;
    if (rx <= 0 || ry <= 0) return DrawRectangle(dc, left, top, right - 1, bottom - 1);
    shapes::round_rect_centres(dc, &rx, &ry);
    return DrawEllipse(dc, rx, ry);
}

int GDI_Polygon(DC *dc, const POINT *points, int n) {
    if (!dc || !points || n < 2 || n > kMaxPolygonPoints) return 0;
    State &s = tables(dc);
    int result = 1;
    for (int i = 0; i < n; ++i) {
        const POINT &a = points[i], &b = points[(i + 1) % n];
        if (!draw_line(dc, a.x, a.y, b.x, b.y, s.polygon, false)) result = 0;
    }
    return result;
}
