// Figures of the drawing layer: lines with patterned and thick pens,
// rectangles and rounded rectangles, ellipses, arcs, pies and chords, polygon
// outlines and fills, and bitmaps drawn, turned by a quarter and block-copied.
//
// Every pixel goes through the clipped pixel and run operations of the device
// context (GDI_SetPixel, GDI_ScanLine) or the clipped bitmap writers, so a
// figure is drawn inside the clip rectangle whatever its coordinates. Figures
// take the exclusive form of a box (right and bottom one past the last pixel)
// unless a function says otherwise. GDI_Rectangle is declared in gdi.h.
#pragma once
#include "gdi/gdi.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct POINT {
    int16_t x, y;
};

// Lines, pens and rectangles.
int GDI_MoveTo(DC *dc, int x, int y);
// Draws from the current position to (x, y), leaving (x, y) out; on success
// (x, y) becomes the current position. 0 when a thick pen cannot be built.
int GDI_LineTo(DC *dc, int x, int y);
int GDI_RoundRect(DC *dc, int left, int top, int right, int bottom, int corner_width,
                  int corner_height);
// A closed outline through 2 to kMaxPolygonPoints points; 0 (nothing drawn)
// for fewer or more.
int GDI_Polygon(DC *dc, const POINT *points, int n);
constexpr int kMaxPolygonPoints = 128;

// Ellipses, arcs, pies and chords in a box; the two points give the start and
// end rays from the box's centre, clockwise on the screen.
int GDI_Ellipse(DC *dc, int left, int top, int right, int bottom);
int GDI_Arc(DC *dc, int left, int top, int right, int bottom, int x1, int y1, int x2, int y2);
int GDI_Pie(DC *dc, int left, int top, int right, int bottom, int x1, int y1, int x2, int y2);
// A filled sector without its two radii.
int GDI_PieNS(DC *dc, int left, int top, int right, int bottom, int x1, int y1, int x2, int y2);
// An outlined chord: the arc and the straight line between its ends, never filled.
int GDI_Chord(DC *dc, int left, int top, int right, int bottom, int x1, int y1, int x2, int y2);

// Fills a polygon by the even-odd rule with the current pen (its colour,
// style and width): each span is a horizontal line. 0 (nothing drawn) for
// fewer than 3 points, more than kMaxPolygonPoints, or more than
// kMaxPolygonEdges edges that are not horizontal.
int GDI_FillPolygon(DC *dc, const POINT *points, int n);
constexpr int kMaxPolygonEdges = 32;

// Bitmaps. Draws the region of `dib` from (src_x, src_y), at most width x
// height, at (x, y), clipped; 1 when something was handed to the driver.
int GDI_WriteDIB(DC *dc, int x, int y, int width, int height, const DIB *dib, int src_x, int src_y);
// Draws a one-bit bitmap (raw rows) turned by a quarter: direction 16 turns it
// anticlockwise (its rows read upwards from (x, y)), any other clockwise.
// Clipped. 0 for a bitmap that is not one bit deep or not raw rows.
int GDI_RotateC2DIB(DC *dc, const DIB *dib, int x, int y, int direction);
constexpr int kRotateUp = 16;
// Copies a block from another context's buffer through the destination's
// raster operation, clipped to the destination; 0 when nothing is left.
int GDI_BitBlt(DC *dc, int x, int y, int width, int height, DC *src, int src_x, int src_y);

// ---------------------------------------------------------------------------
// The rasteriser, shared with the gradient fills.

// A ray table: the run table of a line, one entry per row.
//   e[0] direction code: 0 right and up, 1 right and down, 2 left and down,
//        3 left and up
//   e[1] steps along x, e[2] steps along y (less what a left-out end point
//        takes away)
//   e[3] 0, the x count before the first row
//   e[4 + k] the cumulative x count at the end of row k; the entry after the
//        last row closes the table.
struct RayTable {
    RayTable() : RayTable(0) {}
    explicit RayTable(int capacity_rows) : e(size_t(capacity_rows < 0 ? 0 : capacity_rows) + 6) {}
    int capacity() const { return int(e.size()) - 6; }
    std::vector<uint16_t> e;
    int rows = 0;        // rows the last build wrote
    bool ymajor = false; // one pixel per row (else one per column)
};

// An ellipse profile: e[0] = a, e[j] the half width of the row j rows from
// the centre row (j = 1 .. b, e[b] the top row), e[b + 1] = 0.
struct Profile {
    Profile() = default;
    explicit Profile(int entries) : e(size_t(entries < 0 ? 0 : entries)) {}
    std::vector<uint16_t> e;
    int a = 0, b = 0;
};

// Builds the ray of (dx, dy) into `table`; the end point is left out when the
// limits equal the distances, else rows run to |limit dy| and x counts stop
// at |limit dx| + 1. Rows beyond the table's capacity are cut off. Returns
// the direction code.
int CreateRay(int dx, int dy, int limit_dx, int limit_dy, RayTable &table);
// Draws a built ray from (x, y) with the context's pen; 0 when a thick pen's
// round nib cannot be built.
int DrawRay(DC *dc, RayTable &table, int x, int y);
// The line from (x1, y1) to (x2, y2) without its end point, of any length:
// rows beyond the table are drawn through a window of the rows that reach
// the clip.
int DrawLine(DC *dc, int x1, int y1, int x2, int y2, RayTable &table);
// Stamps a pen nib: corner -1 at (x, y), corners 0-3 at (x, y) from the
// centre of that quadrant. With a profile a round nib, else a square one of
// the pen's width.
void DrawPoint(DC *dc, int x, int y, int corner, const Profile *nib);

// The figure's inclusive box grown (outer) and shrunk (inner) by the pen,
// into the context's work fields; 0 when the box is empty.
int DimObjToPen(DC *dc, int left, int top, int right, int bottom);
// Fill and outline of the work boxes (inclusive box).
int DrawRectangle(DC *dc, int left, int top, int right, int bottom);
// Centre fields from the outer box: the second centre is one further on an
// axis of odd extent.
void SetObjCenter(DC *dc);

// Builds the profile of radii a, b; returns b, or 0 when a or b is not
// positive or the profile does not fit.
int CreateEllipse(int a, int b, Profile &profile);
// Fill and outline of an ellipse (or of the corners of a rounded rectangle)
// around the centre fields; 0 when its profile cannot be built.
int DrawEllipse(DC *dc, int a, int b);
// A thin patterned quarter arc, or the part of it between the point
// (start x, start row) nearer the horizontal axis and (end x, end row)
// nearer the vertical one, clockwise for the quadrant (0 top right, 1 bottom
// right, 2 bottom left, 3 top left). The whole quarter is (a, 0, 0, b).
void DrawEllipseSegment(DC *dc, const Profile &profile, int start_x, int start_row, int end_x,
                        int end_row, int quadrant);
// Figure flags of DrawAPC.
constexpr int kApcFill = 1, kApcThin = 2, kApcThick = 4, kApcOutline = 8, kApcPie = 16,
              kApcChord = 32, kApcNoSides = 64;
// Arc, pie or chord of the ellipse of radii a, b around the centre fields,
// between the rays to (x1, y1) and (x2, y2) from the centre; 0 when the
// profile cannot be built.
int DrawAPC(DC *dc, int a, int b, int x1, int y1, int x2, int y2, int flags);

// An edge of a polygon being filled: from its upper end (x0, y0) to the
// first row no longer covered (x1, y1), with its x on the current scan row
// and the error term of the x stepping. In the active list y0 is 0, so that
// the edges sort by x alone.
struct PolyEdge {
    int32_t x0, y0, x1, y1, x, error, dx, dy;
};
// Orders PolyEdge records by y0, then by the current x.
int edge_cmp(const void *a, const void *b);

// The largest vertical radius a profile holds for a screen of this height,
// and the rows of a ray table.
int Shapes_MaxRadius(int screen_height);
int Shapes_RayRows(int screen_height);

// Forgets the rasteriser's tables (tests).
void Shapes_Reset();
