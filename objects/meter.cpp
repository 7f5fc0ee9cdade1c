// METER objects: a needle instrument showing a register, either a drawn dial
// (an arc with tick marks, a baseline, a hub and a line needle, with an
// optional caption and bound labels) or a picture gauge (a dial picture of
// the bitmap area with a triangular needle computed over it). They take no
// input.
#include "objects/meter.h"
#include "base/le.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "objects/obj_int.h"
#include "objects/picture.h"
#include "objects/records.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace dial {

int32_t Sine(int x) {
    // x (0x9B9AA1 - 34 x^2) passes 2^31 near the quarter turn: 64 bits.
    const int64_t v = int64_t(x) * (0x9B9AA1 - 34 * int64_t(x) * x) + 0x4000;
    return int32_t(v >> 15);
}

int Scaled(int length, int x) {
    return int((int64_t(length) * Sine(x) + 0x8000) >> 16);
}

POINT NeedleTip(int cx, int cy, int n, int p) {
    const int a = p + kSweepStart;
    if (a <= kQuarter)
        return POINT{int16_t(cx - Scaled(n, kQuarter - a)), int16_t(cy - Scaled(n, a))};
    const int b = kHalf - a;
    return POINT{int16_t(cx + Scaled(n, kQuarter - b)), int16_t(cy - Scaled(n, b))};
}

int TickAngles(int n, int *angles) {
    if (n <= 0) return 0;
    const int m = n - 1, half = (n + 1) / 2;
    int k = 0;
    for (int i = 1; i <= half; ++i)
        angles[k++] = m ? kSweepStart + (i - 1) * kSweep / m : kSweepStart;
    for (int i = half; i >= 1 && k < n; --i)
        if (angles[i - 1] != kQuarter) angles[k++] = kHalf - angles[i - 1];
    return k;
}

} // namespace dial

namespace {

using namespace rec::meter;

constexpr uint32_t kLabels = 0x10, kHasCaption = 0x800;
constexpr uint8_t kPictureGauge = 0x20;

struct MeterInst {
    ObjInst hdr;
    RECT caption; // exclusive
    RECT needle;  // P of the picture gauge, exclusive
    int16_t cx, cy, arc, length, tick, hub, yb;
    COLOR colour;
    RCB *value, *state;
    uint32_t raw;
    POINT tip, drawn;
    uint8_t picture, whole;
    DIB dib;
};

int width(const RECT &r) {
    return r.right - r.left;
}
int height(const RECT &r) {
    return r.bottom - r.top;
}

// The picture extension: only a record that carries its own length has one,
// in its last 20 bytes, after the class's fields.
const uint8_t *extension(const uint8_t *def) {
    if (!(le32(def + rec::kFlags) & objflag::kOwnLength)) return nullptr;
    const size_t length = le16(def + rec::kOwnLength);
    if (length < kLength + kExtBytes) return nullptr;
    const size_t at = length - kExtBytes;
    return obj::Holds(def, at, kExtBytes) ? def + at : nullptr;
}

void create_gauge(const uint8_t *def, MeterInst *m, const RECT &r, const uint8_t *x) {
    m->picture = 1;
    obj::PictureOfSize(le32(x + kExtPicture), width(r), height(r), x[kExtDepth],
                       le16(x + kExtTransparent), &m->dib);
    // The needle's area: a centred square, less 5, less a tenth of its height.
    const int side = std::min(width(r), height(r));
    RECT p{int16_t(r.left + (width(r) - side) / 2), int16_t(r.top + (height(r) - side) / 2), 0, 0};
    p.right = int16_t(p.left + side);
    p.bottom = int16_t(p.top + side);
    GDI_DeflateRect(&p, 5, 5);
    const int tenth = height(p) / 10;
    GDI_DeflateRect(&p, tenth, tenth);
    m->needle = p;
    m->cx = int16_t((p.left + p.right) / 2);
    m->cy = int16_t((p.top + p.bottom) / 2);
    (void)def;
}

void create_dial(const uint8_t *def, MeterInst *m, const RECT &r) {
    ObjInst *inst = &m->hdr;
    RECT area = r;
    if (le32(def + rec::kFlags) & kHasCaption) {
        m->caption = RECT{int16_t(r.left + 3), int16_t(r.top + 3), int16_t(r.right - 4),
                          int16_t(r.bottom - 4)};
        const void *text = obj::Text(le32(def + kCaption));
        int fh = 0;
        if (inst->dc) GDI_SelectFont(inst->dc, def[kFont], nullptr, &fh);
        const int lines = text ? UTIL_StringLines(text) : 0;
        m->caption.bottom = int16_t(std::min<int>(m->caption.bottom, m->caption.top + lines * fh));
        area.top = std::max(area.top, m->caption.bottom);
    }
    const int H = height(area), W = width(area), bottom = area.bottom;
    int cy = bottom - H / 6;
    int radius = cy - area.top;
    if (radius > W / 2) {
        cy += (radius - W / 2) / 2; // centred in the area
        radius = W / 2;
    }
    radius = std::max(radius, 0);
    const int R = std::max(radius - 1 - radius / 16, 0);
    const int N = R > 40 ? R - 3 : R >= 9 ? R - 2 : R;
    const int cx = area.left + W / 2, d = bottom - cy;
    m->cx = int16_t(cx);
    m->cy = int16_t(cy);
    m->arc = int16_t(R);
    m->length = int16_t(N);
    m->tick = int16_t(1 + R / 16);
    m->hub = int16_t(std::max(1, 3 * d / 8));
    m->yb = int16_t(bottom - 1 - d - d / 2);
    // The needle is drawn above the baseline only.
    inst->area = RECT{int16_t(cx - N), int16_t(cy - N), int16_t(cx + N),
                      int16_t(std::max(cy - N, m->yb - 1))};
}

int16_t create(const uint8_t *def, ObjInst *inst) {
    auto *m = reinterpret_cast<MeterInst *>(inst);
    m->whole = obj::Holds(def, 0, kLength) ? 1 : 0;
    m->picture = 0;
    m->dib = DIB{};
    if (!m->whole) {
        inst->state = 0;
        return int16_t(sizeof(MeterInst));
    }
    const uint32_t flags = le32(def + rec::kFlags);
    const RECT r = obj::Rect(def);
    inst->area = RECT{r.left, r.top, int16_t(r.right - 1), int16_t(r.bottom - 1)};
    m->caption = r;
    const uint8_t *x = extension(def);
    if ((def[kStyle] & kPictureGauge) && x && (le16(x + kExtPresent) & 1))
        create_gauge(def, m, r, x);
    else
        create_dial(def, m, r);
    m->colour = le16(def + kNeedle);
    m->raw = 0;
    m->tip = m->drawn = POINT{0, 0};
    m->value = obj::LinkReg(le16(def + kValue), def[kValueSize]);
    m->state = nullptr;
    inst->state = (flags & 1) ? kInstShown : 0;
    if (le16(def + rec::kStateLink)) {
        m->state = obj::LinkReg(le16(def + rec::kStateLink), 16);
        if (le16(def + rec::kStateMask) & 1) inst->state |= kInstHidden;
    }
    return int16_t(sizeof(MeterInst));
}

POINT gauge_tip(const uint8_t *def, const MeterInst *m, int32_t v) {
    const int32_t lo = int32_t(le32(def + kMin)), hi = int32_t(le32(def + kMax));
    float percent = 0;
    if (v > hi)
        percent = 100;
    else if (v >= lo && hi != lo)
        percent = float(double(int64_t(v) - lo) * 100.0 / double(int64_t(hi) - lo));
    const double angle = (double(percent) * 180.0 / 100.0 + 180.0) * M_PI / 180.0;
    const double radius = 0.88 * (width(m->needle) / 2);
    return POINT{int16_t(m->cx + int(radius * std::cos(angle))),
                 int16_t(m->cy + int(radius * std::sin(angle)))};
}

uint16_t signal(const uint8_t *def, ObjInst *inst, int msg, uint32_t force) {
    auto *m = reinterpret_cast<MeterInst *>(inst);
    if (msg != objmsg::kUpdate || !m->whole) return 0;
    uint32_t flags = 0;
    uint16_t r = obj::StateUpdate(def, inst, m->state, kLength, le16(def + kNeedle), &m->colour,
                                  &flags, true);
    if (!(flags & 1)) return r;
    if (r & objmsg::kShow) force = 1; // just shown: always recomputed
    uint8_t raw[4];
    obj::ReadReg(m->value, raw, 4);
    const uint32_t v = le32(raw);
    if (!force && v == m->raw) return r;
    m->raw = v;
    if (m->picture) {
        m->tip = gauge_tip(def, m, int32_t(v));
    } else {
        const int p = UTIL_U16Scale(int(v), def[kValueSize], int(le32(def + kMax)),
                                    int(le32(def + kMin)), dial::kSweep);
        m->tip = dial::NeedleTip(m->cx, m->cy, m->length, p);
    }
    if (force || m->tip.x != m->drawn.x || m->tip.y != m->drawn.y) {
        r |= objmsg::kRepaint;
        if (le16(def + kBackground) == kColorNone) r |= objmsg::kErase;
    }
    return r;
}

void line(DC *dc, int x1, int y1, int x2, int y2) {
    GDI_MoveTo(dc, x1, y1);
    GDI_LineTo(dc, x2, y2);
}

void bound_label(DC *dc, int32_t bound, int flags, const RECT &r) {
    char text[20] = {1}; // one line: the count stands before the text
    std::snprintf(text + 1, 19, "%d", int(int16_t(bound)));
    GDI_RectByteTextOut(dc, flags, &r, text + 1);
}

void ticks(const uint8_t *def, const MeterInst *m, DC *dc) {
    const int n = def[kTicks], mm = n - 1, Ra = m->arc, t = m->tick, cx = m->cx, cy = m->cy;
    for (int i = 1; i <= (n + 1) / 2; ++i) {
        const int a = mm ? dial::kSweepStart + (i - 1) * dial::kSweep / mm : dial::kSweepStart;
        const int dy = dial::Scaled(Ra, a), dx = dial::Scaled(Ra, dial::kQuarter - a);
        int ox, oy;
        if (dy < dx) {
            ox = dx + t;
            oy = dy + t * dy / dx;
        } else {
            oy = dy + t;
            ox = dx == 0 ? dx : std::max(dx + t * dx / dy, dx + 1);
        }
        const int in = i == 1 ? 1 : 0; // the first pair ends a pixel nearer the middle
        line(dc, cx - ox, cy - oy, cx - dx + in, cy - dy);
        line(dc, cx + ox, cy - oy, cx + dx - in, cy - dy);
    }
}

void paint_dial_frame(const uint8_t *def, MeterInst *m, DC *dc) {
    const uint32_t flags = le32(def + rec::kFlags);
    const COLOR dial = le16(def + kColour);
    const RECT O = obj::Rect(def);
    GDI_SetPen(dc, 1, 1, dial);
    GDI_SetFillColor(dc, le16(def + kBackground));
    const int round = width(O) / 12;
    if (round >= 2)
        GDI_RoundRect(dc, O.left, O.top, O.right, O.bottom, round, round);
    else
        GDI_Rectangle(dc, O.left, O.top, O.right, O.bottom);
    GDI_SetFillColor(dc, kColorNone);
    GDI_SetTextColor(dc, dial);
    if (flags & kHasCaption) {
        if (const void *text = obj::Text(le32(def + kCaption))) {
            GDI_SelectFont(dc, def[kFont], nullptr, nullptr);
            GDI_RectTextOut(dc, def[kAlign], &m->caption, text);
        }
    }
    const int Ra = m->arc, cx = m->cx, cy = m->cy;
    const int u = (Ra * 61590 + 32768) >> 16, v = (Ra * 22903 + 32768) >> 16;
    if (flags & kLabels) {
        GDI_SelectFont(dc, def[kLabelFont], nullptr, nullptr);
        bound_label(dc, int32_t(le32(def + kMin)), 33,
                    RECT{int16_t(cx - u), m->yb, int16_t(cx), O.bottom});
        bound_label(dc, int32_t(le32(def + kMax)), 34,
                    RECT{int16_t(cx), m->yb, int16_t(cx + u), O.bottom});
    }
    // The dial's arc runs over the top, from its left end to its right end:
    // the drawing layer turns arcs clockwise on the screen.
    GDI_Arc(dc, cx - Ra, cy - Ra, cx + Ra + 1, cy + Ra + 1, cx - u, cy - v, cx + u, cy - v);
    if (def[kTicks]) ticks(def, m, dc);
    line(dc, O.left, m->yb, O.right, m->yb);
    const int h = m->hub;
    if (h == 1) {
        GDI_SetPixel(dc, cx, cy, dial);
    } else {
        GDI_SetFillColor(dc, dial);
        GDI_SetPen(dc, 0, 1, 0x0000);
        GDI_Ellipse(dc, cx + 1 - h, cy + 1 - h, cx + h, cy + h);
        GDI_SetFillColor(dc, kColorNone);
    }
}

void paint_dial_needle(const uint8_t *def, MeterInst *m, DC *dc) {
    const COLOR back = le16(def + kBackground);
    if (back != kColorNone) {
        GDI_SetPen(dc, 1, 1, back);
        line(dc, m->cx, m->cy, m->drawn.x, m->drawn.y);
    }
    GDI_SetPen(dc, 1, 1, m->colour);
    line(dc, m->cx, m->cy, m->tip.x, m->tip.y);
    m->drawn = m->tip;
}

void paint_gauge(const uint8_t *def, MeterInst *m, DC *dc, int mode) {
    const RECT O = obj::Rect(def);
    RECT saved{};
    GDI_SetClipRect(dc, &O, &saved);
    if (m->dib.pixels) GDI_WriteDIB(dc, O.left, O.top, m->dib.width, m->dib.height, &m->dib, 0, 0);
    if (mode & 2) {
        GDI_SetPen(dc, 1, 2, m->colour);
        const POINT tri[3] = {{int16_t(m->cx + 1), int16_t(m->cy + 1)},
                              {int16_t(m->cx - 1), int16_t(m->cy - 1)},
                              m->tip};
        GDI_Polygon(dc, tri, 3);
        GDI_FillPolygon(dc, tri, 3);
        const COLOR dial = le16(def + kColour);
        const int q = width(m->needle) / 20;
        GDI_SetFillColor(dc, dial);
        GDI_SetPen(dc, 0, 1, dial);
        GDI_Ellipse(dc, m->cx - q, m->cy - q, m->cx + q, m->cy + q);
        GDI_SetFillColor(dc, kColorNone);
        m->drawn = m->tip;
    }
    GDI_SetClipRect(dc, &saved, nullptr);
}

void paint(const uint8_t *def, ObjInst *inst, int mode) {
    auto *m = reinterpret_cast<MeterInst *>(inst);
    DC *dc = inst->dc;
    if (!dc || !m->whole) return;
    if (m->picture) {
        paint_gauge(def, m, dc, mode);
        return;
    }
    if (mode & 1) paint_dial_frame(def, m, dc);
    if (mode & 2) paint_dial_needle(def, m, dc);
}

} // namespace

const ObjClass METER_Class{kLength, create, paint, signal, nullptr, sizeof(MeterInst), nullptr};
