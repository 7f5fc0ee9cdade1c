// Navigation icons: each drawn with lines, ellipses and polygons in
// proportions of its rectangle, so it looks the same at any button size.
#include "gdi/icons.h"

#include "gdi/shade_int.h"
#include "gdi/shapes.h"

#include <algorithm>
#include <initializer_list>

using shade::Keep;

namespace {

constexpr COLOR kWhite = 0xFFFF, kNearWhite = 0xFFDF, kPaper = 0xB5D4, kDot = 63;

// The rectangle and its proportions.
struct Box {
    int l, t, r, b, w, h, u;
    explicit Box(const RECT *rc)
        : l(rc->left), t(rc->top), r(rc->right), b(rc->bottom), w(r - l), h(b - t),
          u(std::min(w, h) / 40 + 1) {}
    int x(int num, int den) const { return l + w * num / den; }
    int y(int num, int den) const { return t + h * num / den; }
    int mirror(int x) const { return l + r - 1 - x; }
};

POINT pt(int x, int y) {
    return POINT{int16_t(x), int16_t(y)};
}

void polyline(DC *dc, std::initializer_list<POINT> pts) {
    const POINT *p = pts.begin();
    GDI_MoveTo(dc, p->x, p->y);
    for (++p; p != pts.end(); ++p)
        GDI_LineTo(dc, p->x, p->y);
}

// A polygon filled in `colour`, its edges included.
void solid_polygon(DC *dc, const POINT *pts, int n, COLOR colour) {
    GDI_SetPen(dc, kPenSolid, 1, colour);
    GDI_FillPolygon(dc, pts, n);
    GDI_Polygon(dc, pts, n);
}

void ring(DC *dc, const Box &bx, int width, COLOR colour) {
    GDI_SetPen(dc, kPenSolid, width, colour);
    dc->fill_colour = kColorNone;
    GDI_Ellipse(dc, bx.l, bx.t, bx.r, bx.b);
}

// The chevron of the previous and next icons, pointing left; mirrored when
// `right`.
void chevron(DC *dc, const RECT *rect, bool right) {
    if (!dc || !rect) return;
    Keep keep(dc);
    const Box bx(rect);
    GDI_SetPen(dc, kPenSolid, bx.u, keep.pen_colour());
    GDI_Ellipse(dc, bx.l, bx.t, bx.r, bx.b);
    const int a = bx.l + bx.w / 4, b = bx.r - (bx.r - a) / 4;
    const int c = bx.t + (b - a) / 4, d = bx.b - (bx.b - c) / 4, m = c + (d - c) / 2;
    POINT p[4] = {pt(b, c), pt(a, m), pt(b, d), pt(a + (b - a) / 2, m)};
    if (right)
        for (POINT &q : p)
            q.x = int16_t(bx.mirror(q.x));
    solid_polygon(dc, p, 4, keep.pen_colour());
}

// An arrow (head and shaft) pointing left in a ring; mirrored when `right`.
void arrow(DC *dc, const RECT *rect, bool right) {
    if (!dc || !rect) return;
    Keep keep(dc);
    const Box bx(rect);
    GDI_SetPen(dc, kPenSolid, 2 * bx.u, keep.pen_colour());
    GDI_Ellipse(dc, bx.l, bx.t, bx.r, bx.b);
    const int cy = bx.y(1, 2), head = bx.x(1, 2), tail = bx.x(8, 10);
    const int hh = bx.h * 3 / 10, sh = bx.h / 10;
    POINT p[7] = {pt(bx.x(2, 10), cy), pt(head, cy - hh), pt(head, cy - sh), pt(tail, cy - sh),
                  pt(tail, cy + sh),   pt(head, cy + sh), pt(head, cy + hh)};
    if (right)
        for (POINT &q : p)
            q.x = int16_t(bx.mirror(q.x));
    solid_polygon(dc, p, 7, keep.pen_colour());
}

} // namespace

void Draw_stopIcon(DC *dc, const RECT *rect) {
    if (!dc || !rect) return;
    Keep keep(dc);
    const Box bx(rect);
    ring(dc, bx, 2 * bx.u, kNearWhite);
}

void Draw_previousIcon(DC *dc, const RECT *rect) {
    chevron(dc, rect, false);
}

void Draw_nextIcon(DC *dc, const RECT *rect) {
    chevron(dc, rect, true);
}

void Draw_arrowleftIcon(DC *dc, const RECT *rect) {
    arrow(dc, rect, false);
}

void Draw_arrowrightIcon(DC *dc, const RECT *rect) {
    arrow(dc, rect, true);
}

void Draw_homeIcon(DC *dc, const RECT *rect) {
    if (!dc || !rect) return;
    Keep keep(dc);
    const Box bx(rect);
    // Roof with a chimney on its right slope, and walls; the chimney's feet
    // lie on the roof line from the apex (1/2, 1/10) to the eave (9/10, 5/10).
    const POINT house[9] = {pt(bx.x(1, 2), bx.y(1, 10)),    pt(bx.x(39, 60), bx.y(15, 60)),
                            pt(bx.x(39, 60), bx.y(8, 60)),  pt(bx.x(45, 60), bx.y(8, 60)),
                            pt(bx.x(45, 60), bx.y(21, 60)), pt(bx.x(9, 10), bx.y(5, 10)),
                            pt(bx.x(9, 10), bx.y(9, 10)),   pt(bx.x(1, 10), bx.y(9, 10)),
                            pt(bx.x(1, 10), bx.y(5, 10))};
    solid_polygon(dc, house, 9, keep.pen_colour());
    if (keep.fill() == kColorNone) return;
    const POINT door[6] = {pt(bx.x(6, 16), bx.y(54, 60)),  pt(bx.x(6, 16), bx.y(38, 60)),
                           pt(bx.x(7, 16), bx.y(34, 60)),  pt(bx.x(9, 16), bx.y(34, 60)),
                           pt(bx.x(10, 16), bx.y(38, 60)), pt(bx.x(10, 16), bx.y(54, 60))};
    solid_polygon(dc, door, 6, keep.fill());
}

void Draw_MaintenanceIcon(DC *dc, const RECT *rect) {
    if (!dc || !rect) return;
    Keep keep(dc);
    const Box bx(rect);
    // An open-jawed wrench standing upright, in twelfths (thirds and
    // quarters) of the box.
    static constexpr int kWrench[15][2] = {{3, 2},  {4, 1},  {5, 1},  {5, 3}, {7, 3},
                                           {7, 1},  {8, 1},  {9, 2},  {9, 4}, {7, 5},
                                           {7, 10}, {6, 11}, {5, 10}, {5, 5}, {3, 4}};
    POINT p[15];
    for (int i = 0; i < 15; ++i)
        p[i] = pt(bx.x(kWrench[i][0], 12), bx.y(kWrench[i][1], 12));
    solid_polygon(dc, p, 15, keep.pen_colour());
}

void Draw_trendsIcon(DC *dc, const RECT *rect) {
    if (!dc || !rect) return;
    Keep keep(dc);
    const Box bx(rect);
    GDI_SetPen(dc, kPenSolid, 2 * bx.u, keep.pen_colour());
    polyline(dc, {pt(bx.x(1, 10), bx.y(1, 10)), pt(bx.x(1, 10), bx.y(9, 10)),
                  pt(bx.x(9, 10), bx.y(9, 10))});
    polyline(dc, {pt(bx.x(1, 10), bx.y(8, 10)), pt(bx.x(1, 3), bx.y(5, 10)),
                  pt(bx.x(2, 3), bx.y(6, 10)), pt(bx.x(9, 10), bx.y(2, 10))});
}

void Draw_startIcon(DC *dc, const RECT *rect) {
    if (!dc || !rect) return;
    Keep keep(dc);
    const Box bx(rect);
    GDI_SetPen(dc, kPenSolid, 5 * bx.u, kWhite);
    polyline(dc, {pt(bx.x(1, 2), bx.y(1, 4)), pt(bx.x(1, 2), bx.y(6, 7))});
}

void Draw_printIcon(DC *dc, const RECT *rect) {
    if (!dc || !rect) return;
    Keep keep(dc);
    const Box bx(rect);
    // Paper in the feed and out of the slot.
    GDI_SetPen(dc, kPenSolid, std::max(1, 5 * bx.u / 2), kPaper);
    polyline(dc, {pt(bx.x(1, 3), bx.y(4, 10)), pt(bx.x(1, 3), bx.y(1, 6)),
                  pt(bx.x(2, 3), bx.y(1, 6)), pt(bx.x(2, 3), bx.y(4, 10))});
    polyline(dc, {pt(bx.x(1, 3), bx.y(7, 10)), pt(bx.x(1, 3), bx.y(9, 10)),
                  pt(bx.x(2, 3), bx.y(9, 10)), pt(bx.x(2, 3), bx.y(7, 10))});
    // Body and slot.
    GDI_SetPen(dc, kPenSolid, bx.u, keep.pen_colour());
    polyline(dc,
             {pt(bx.x(1, 6), bx.y(4, 10)), pt(bx.x(5, 6), bx.y(4, 10)), pt(bx.x(5, 6), bx.y(8, 10)),
              pt(bx.x(1, 6), bx.y(8, 10)), pt(bx.x(1, 6), bx.y(4, 10))});
    polyline(dc, {pt(bx.x(1, 4), bx.y(7, 10)), pt(bx.x(3, 4), bx.y(7, 10))});
}

void Draw_helpIcon(DC *dc, const RECT *rect) {
    if (!dc || !rect) return;
    Keep keep(dc);
    const Box bx(rect);
    ring(dc, bx, 2 * bx.u, kNearWhite);
    GDI_SetPen(dc, kPenSolid, 2 * bx.u, keep.pen_colour());
    polyline(dc, {pt(bx.x(20, 60), bx.y(22, 60)), pt(bx.x(23, 60), bx.y(16, 60)),
                  pt(bx.x(30, 60), bx.y(13, 60)), pt(bx.x(37, 60), bx.y(16, 60)),
                  pt(bx.x(40, 60), bx.y(22, 60)), pt(bx.x(37, 60), bx.y(28, 60)),
                  pt(bx.x(30, 60), bx.y(33, 60)), pt(bx.x(30, 60), bx.y(40, 60))});
    GDI_SetPen(dc, kPenSolid, 1, kDot);
    dc->fill_colour = kDot;
    GDI_Ellipse(dc, bx.x(27, 60), bx.y(44, 60), bx.x(34, 60), bx.y(51, 60));
}

void Draw_alarmIcon(DC *dc, const RECT *rect) {
    if (!dc || !rect) return;
    Keep keep(dc);
    const Box bx(rect);
    const POINT tri[3] = {pt(bx.x(1, 2), bx.y(1, 10)), pt(bx.x(9, 10), bx.y(85, 100)),
                          pt(bx.x(1, 10), bx.y(85, 100))};
    GDI_SetPen(dc, kPenSolid, 2 * bx.u, kWhite);
    GDI_Polygon(dc, tri, 3);
    GDI_SetPen(dc, kPenSolid, 2 * bx.u, keep.pen_colour());
    polyline(dc, {pt(bx.x(1, 2), bx.y(1, 3)), pt(bx.x(1, 2), bx.y(2, 3))});
    polyline(dc, {pt(bx.x(1, 2), bx.y(7, 9)), pt(bx.x(1, 2), bx.y(8, 10))});
}
