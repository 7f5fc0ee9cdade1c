// Polygon fill by scan lines: an edge table sorted by upper y, an active edge
// list sorted by x on each row, spans between pairs of edges (the even-odd
// rule) drawn as horizontal lines with the current pen.
#include "gdi/shapes_int.h"
#include "platform/slice.h"

#include <cstdlib>
#include <utility>

using namespace shapes;

int edge_cmp(const void *pa, const void *pb) {
    const PolyEdge *a = static_cast<const PolyEdge *>(pa), *b = static_cast<const PolyEdge *>(pb);
    if (a->y0 != b->y0) return a->y0 - b->y0;
    return a->x - b->x;
}

namespace {
// The edge's x on the next row.
void step(PolyEdge &e) {
    e.error += e.dx;
    if (e.error < 0) {
        e.x += e.error / e.dy - 1;
        e.error = e.error % e.dy + e.dy;
    }
    if (e.error >= e.dy) {
        e.x += e.error / e.dy;
        e.error %= e.dy;
    }
}

// A span on a row the pen cannot reach inside the clip: a thin patterned pen
// still moves its pattern on, as if the pixels had been drawn.
bool beyond_clip(DC *dc, int y, int left, int right) {
    const int w = dc->pen_width;
    const int reach = w >= 2 ? (w - 1) / 2 + 1 : 0;
    if (y + reach >= dc->clip.top && y - reach <= dc->clip.bottom) return false;
    if (w < 2 && dc->pen_style != kPenSolid)
        dc->pattern_mask = advance_mask(dc->pattern_mask, right - left);
    return true;
}
} // namespace

int GDI_FillPolygon(DC *dc, const POINT *points, int n) {
    if (!dc || !points || n < 3 || n > kMaxPolygonPoints) return 0;
    PolyEdge table[kMaxPolygonEdges], active[kMaxPolygonEdges];
    int edges = 0;
    for (int i = 0; i < n; ++i) {
        POINT p = points[i], q = points[(i + 1) % n];
        if (p.y == q.y) continue; // horizontal edges bound no span
        if (edges == kMaxPolygonEdges) return 0;
        if (p.y > q.y) std::swap(p, q);
        const int dx = q.x - p.x;
        table[edges++] = PolyEdge{p.x, p.y, q.x, q.y, p.x, dx / 2, dx, q.y - p.y};
    }
    if (edges == 0) return 1;
    std::qsort(table, size_t(edges), sizeof(PolyEdge), edge_cmp);
    State &s = tables(dc);
    int next = 0, live = 0;
    for (int y = table[0].y0; next < edges || live > 0;) {
        while (next < edges && table[next].y0 == y) {
            active[live] = table[next++];
            active[live++].y0 = 0;
        }
        // The list is nearly sorted from the row before: an insertion sort by
        // x (edges that tie give the same spans in either order).
        for (int i = 1; i < live; ++i)
            for (int j = i; j > 0 && active[j - 1].x > active[j].x; --j)
                std::swap(active[j - 1], active[j]);
        for (int i = 0; i + 1 < live; i += 2) {
            const int left = active[i].x, right = active[i + 1].x;
            if (left < right && !beyond_clip(dc, y, left, right))
                draw_line(dc, left, y, right, y, s.fill, false);
        }
        ++y;
        for (int i = 0; i < live;) {
            if (active[i].y1 == y) {
                active[i] = active[--live];
                continue;
            }
            step(active[i++]);
        }
        SlicePoint();
    }
    return 1;
}
