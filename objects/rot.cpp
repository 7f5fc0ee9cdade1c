// ROT objects: a pointer that turns about the centre of its rectangle through
// a configured arc in proportion to a register, its length optionally a
// percentage from a second register; drawn as a line (with hub and tail), a
// filled arrow or a triangle, optionally over a dial picture with a
// seven-segment counter window. They take no input.
#include "objects/rot.h"
#include "base/le.h"
#include "gdi/gradient.h"
#include "gdi/shapes.h"
#include "gdi/util.h"
#include "objects/obj_int.h"
#include "objects/picture.h"
#include "objects/records.h"
#include "regs/plc_reg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

using namespace rec::rot;

constexpr uint32_t kFlash = 0x2;
// Style word.
constexpr uint16_t kBackwards = 0x1, kHubTail = 0x2, kLengthReg = 0x10, kDial = 0x20,
                   kShapeByte = 0x40;
constexpr float kTwoPi = 6.2831853f, kHalfPi = 1.5707963f, kTwelfth = 0.2617994f;
constexpr uint32_t kRefFirst = 1025, kRefEnd = 1025u + 0x10030BFEu;

struct RotInst {
    ObjInst hdr;
    RECT rect; // the record's, inclusive
    COLOR colour;
    uint32_t raw;
    float span;
    RCB *value, *state;
    int16_t cx, cy;
    POINT tip;
    int16_t length;
    uint8_t phase, flash_hidden, whole, dial;
    float angle;
    DIB dib;
    int16_t base;
};

// A finite angle in 0 .. 2 pi; anything else is 0.
float reduce(float t) {
    if (!std::isfinite(t)) return 0;
    t = std::fmod(t, kTwoPi);
    if (t < 0) t += kTwoPi;
    return t >= kTwoPi ? 0 : t;
}

// The dial-picture extension, the record's last 56 bytes after the class's
// fields; only a record carrying its own length has one.
const uint8_t *tail(const uint8_t *def, size_t bytes) {
    if (!(le32(def + rec::kFlags) & objflag::kOwnLength)) return nullptr;
    const size_t length = le16(def + rec::kOwnLength);
    if (length < kLength + bytes) return nullptr;
    return obj::Holds(def, length - bytes, bytes) ? def + length - bytes : nullptr;
}
uint16_t style_of(const uint8_t *def) {
    return le16(def + kStyle);
}
const uint8_t *dial_of(const uint8_t *def) {
    return (style_of(def) & kDial) ? tail(def, kDialBytes) : nullptr;
}
int shape_of(const uint8_t *def) {
    if (const uint8_t *x = dial_of(def)) return x[kDialShape];
    if (style_of(def) & kShapeByte)
        if (const uint8_t *t = tail(def, kShapeTail)) return t[0];
    return 0;
}

int16_t create(const uint8_t *def, ObjInst *inst) {
    auto *p = reinterpret_cast<RotInst *>(inst);
    p->whole = obj::Holds(def, 0, kLength) ? 1 : 0;
    p->dib = DIB{};
    p->dial = 0;
    if (!p->whole) {
        inst->state = 0;
        return int16_t(sizeof(RotInst));
    }
    const uint32_t flags = le32(def + rec::kFlags);
    const RECT r = obj::Rect(def);
    p->rect = RECT{r.left, r.top, int16_t(r.right - 1), int16_t(r.bottom - 1)};
    inst->area = p->rect;
    p->cx = int16_t((p->rect.left + p->rect.right) / 2);
    p->cy = int16_t((p->rect.top + p->rect.bottom) / 2);
    const int base = std::min(p->cx - p->rect.left, p->cy - p->rect.top) - def[kPenWidth] / 2;
    p->base = int16_t(std::max(base, 0));
    p->length = p->base;
    const float start = reduce(UTIL_GetFloat(def + kStart)),
                end = reduce(UTIL_GetFloat(def + kEnd));
    float span = end - start;
    if (span < 0) span += kTwoPi;
    if (span == 0) span = kTwoPi;
    p->span = span;
    p->angle = start;
    p->tip = POINT{p->cx, p->cy};
    p->raw = 0;
    p->phase = p->flash_hidden = 0;
    p->colour = le16(def + kColour);
    if (const uint8_t *x = dial_of(def)) {
        p->dial = 1;
        obj::PictureOfSize(le32(x + kDialPicture), r.right - r.left, r.bottom - r.top,
                           x[kDialDepth], le16(x + kDialTransparent), &p->dib);
    }
    p->value = obj::LinkReg(le16(def + kValue), def[kValueSize]);
    p->state = nullptr;
    inst->state = (flags & 1) ? kInstShown : 0;
    if (le16(def + rec::kStateLink)) {
        p->state = obj::LinkReg(le16(def + rec::kStateLink), 16);
        if (le16(def + rec::kStateMask) & 1) inst->state |= kInstHidden;
    }
    return int16_t(sizeof(RotInst));
}

// The pointer's length by the length field: a percentage of the half side.
int pointer_length(const uint8_t *def, const RotInst *p) {
    const uint32_t field = le32(def + kPercent);
    if (!(style_of(def) & kLengthReg) || field == 0) return p->base;
    const RECT &r = p->rect;
    const int base =
        r.right - r.left >= r.bottom - r.top ? std::abs(p->cy - r.top) : std::abs(r.left - p->cx);
    uint32_t percent = 100; // a field that is neither a percentage nor a register
    if (field <= 100) {
        percent = field;
    } else if (field >= kRefFirst && field < kRefEnd) {
        uint8_t v[2] = {};
        if (PlcReg_Get(v, field, 16)) percent = le16(v);
    }
    percent = std::min<uint32_t>(percent, 100);
    float length = float(base * int(percent) / 100);
    if (const uint8_t *x = dial_of(def)) {
        length *= 0.88f;
        if (le16(x + kDialKind) != 1) length *= 0.95f;
    }
    return int(length);
}

uint16_t update(const uint8_t *def, RotInst *p, uint32_t force) {
    ObjInst *inst = &p->hdr;
    // A pointer hidden by its flashing counts as shown to the state update.
    if (p->flash_hidden) inst->state |= kInstShown;
    uint32_t flags = 0;
    uint16_t r = obj::StateUpdate(def, inst, p->state, kLength, le16(def + kColour), &p->colour,
                                  &flags, true);
    if (!(flags & 1)) {
        p->flash_hidden = 0;
        return r;
    }
    const uint8_t phase = (flags & kFlash) && obj::Flash() ? 1 : 0;
    p->phase = phase;
    if (phase) {
        inst->state &= uint16_t(~kInstShown);
        if (!p->flash_hidden) {
            p->flash_hidden = 1;
            return uint16_t((r & ~objmsg::kShow) | objmsg::kHide | objmsg::kRepaint);
        }
        return uint16_t(r & ~(objmsg::kShow | objmsg::kRepaint));
    }
    if (p->flash_hidden) {
        p->flash_hidden = 0;
        r |= objmsg::kShow | objmsg::kRepaint;
        force = 1;
    }
    uint8_t raw[4];
    obj::ReadReg(p->value, raw, 4);
    const uint32_t v = le32(raw);
    const int length = pointer_length(def, p);
    if (v == p->raw && length == p->length && !force) return r;
    p->raw = v;
    p->length = int16_t(length);
    const float fraction = UTIL_F32Scale(int(v), def[kValueSize], int(le32(def + kMax)),
                                         int(le32(def + kMin)), p->span);
    const float start = reduce(UTIL_GetFloat(def + kStart)),
                end = reduce(UTIL_GetFloat(def + kEnd));
    float a = (style_of(def) & kBackwards) ? end - fraction : start + fraction;
    if (a >= kTwoPi) a -= kTwoPi;
    if (a < 0) a += kTwoPi;
    p->angle = a;
    GetPoints(inst, a, length, &p->tip);
    return r | objmsg::kErase | objmsg::kRepaint;
}

uint16_t signal(const uint8_t *def, ObjInst *inst, int msg, uint32_t force) {
    auto *p = reinterpret_cast<RotInst *>(inst);
    if (msg != objmsg::kUpdate || !p->whole) return 0;
    return update(def, p, force);
}

POINT at(const RotInst *p, float t, int r) {
    POINT q{};
    GetPoints(&p->hdr, t, r, &q);
    return q;
}

void hub(DC *dc, const RotInst *p, float fraction, bool metallic) {
    const int d = int(fraction * float(p->base));
    const int l = p->cx - d, t = p->cy - d, r = p->cx + d, b = p->cy + d;
    if (metallic) {
        GDI_SetPen(dc, 0, 0, kColorNone);
        GDI_MetallicEllipse(dc, l, t, r, b);
    } else {
        GDI_Ellipse(dc, l, t, r, b);
    }
}

// Segments of the seven-segment digits: the digits each one lights, and its
// box in twelfths of the cell's width and fifteenths of its height.
struct Segment {
    uint16_t digits; // bit d: lit for digit d
    float k0, k1, j0, j1;
};
// clang-format off
constexpr Segment kSegments[] = {
    {0x3ED, 3.0f, 8.0f, 1.0f, 2.0f},    // top: 0 2 3 5 6 7 8 9
    {0x39F, 8.5f, 9.5f, 2.5f, 7.5f},    // upper right: 0 1 2 3 4 7 8 9
    {0x3FB, 8.5f, 9.5f, 9.5f, 14.5f},   // lower right: 0 1 3 4 5 6 7 8 9
    {0x36D, 3.0f, 8.0f, 15.0f, 16.0f},  // bottom: 0 2 3 5 6 8 9
    {0x145, 0.5f, 1.5f, 9.5f, 14.5f},   // lower left: 0 2 6 8
    {0x3F1, 0.5f, 1.5f, 2.5f, 7.5f},    // upper left: 0 4 5 6 7 8 9
    {0x37C, 3.0f, 8.0f, 8.0f, 9.0f},    // middle: 2 3 4 5 6 8 9
};
// clang-format on

void digit(DC *dc, int d, int x0, int y0, int W, int H) {
    for (const Segment &s : kSegments) {
        if (!(s.digits & (1u << d))) continue;
        const int l = x0 + int(float(W) * s.k0 / 12), r = x0 + int(float(W) * s.k1 / 12);
        const int t = y0 + int(float(H) * s.j0 / 15), b = y0 + int(float(H) * s.j1 / 15);
        GDI_Rectangle(dc, l, t, std::max(r, l + 1), std::max(b, t + 1));
    }
}

void counter(const uint8_t *def, const RotInst *p, DC *dc, const uint8_t *x) {
    const COLOR c = le16(x + kDialCounterColour);
    GDI_SetPen(dc, 1, 1, c);
    GDI_SetFillColor(dc, c);
    const float B = p->base;
    const int left = int(float(p->cx) - 0.25f * B);
    const float start = UTIL_GetFloat(def + kStart), end = UTIL_GetFloat(def + kEnd);
    int top, bottom;
    if (start < 3.7175512f || end > 2.5307274f) {
        top = int(float(p->cy) + 0.5f * B - 0.3f * B);
        bottom = int(float(p->cy) + 0.5f * B - 0.15f * B);
    } else {
        const float m = le16(x + kDialKind) == 2 ? B / 2.2f : 0.5f * B;
        top = int(float(p->cy) + m + B / 6);
        bottom = int(float(p->cy) + m + B / 3);
    }
    const int H = (bottom - 2) - (top + 2), W = H * 10 / 13;
    char text[8];
    ROT_CounterText(p->raw, text);
    const int y0 = top + 2;
    int advance = 0;
    for (int i = 0; text[i]; ++i) {
        const int x0 = left + advance;
        if (text[i] == '.') {
            advance += p->base * 16 / 250;
            continue;
        }
        digit(dc, text[i] - '0', x0, y0, W, H);
        if (text[i + 1] == '.') {
            const int l = x0 + 14 * W / 12, t = y0 + 14 * H / 15;
            const int r = x0 + 15 * W / 12 + W / 7, b = y0 + H + W / 7;
            if (r - l > 2 && b - t > 2)
                GDI_Ellipse(dc, l, t, r, b);
            else
                GDI_SetPixel(dc, l, t, c);
        }
        advance += p->base * 32 / 250;
    }
}

void paint(const uint8_t *def, ObjInst *inst, int mode) {
    auto *p = reinterpret_cast<RotInst *>(inst);
    DC *dc = inst->dc;
    if (!dc || !p->whole || !(mode & 2)) return;
    const uint8_t *x = dial_of(def);
    const RECT R = obj::Rect(def);
    RECT saved{};
    if (x) {
        GDI_SetClipRect(dc, &R, &saved);
        if (p->dib.pixels)
            GDI_WriteDIB(dc, R.left, R.top, p->dib.width, p->dib.height, &p->dib, 0, 0);
    }
    const int style = def[kPenStyle];
    GDI_SetPen(dc, style, def[kPenWidth], p->colour);
    GDI_SetFillColor(dc, p->colour);
    const bool metallic = x && le16(x + kDialKind) == 2;
    const POINT C{p->cx, p->cy}, T = p->tip;
    const float a = p->angle;
    const int L = p->length;
    switch (shape_of(def)) {
    case 0:
        GDI_MoveTo(dc, C.x, C.y);
        GDI_LineTo(dc, T.x, T.y);
        if (x) {
            hub(dc, p, 0.1f, metallic);
        } else if (style_of(def) & kHubTail) {
            hub(dc, p, 0.1f, false);
            GDI_SetPen(dc, style, def[kPenWidth], p->colour);
            GDI_MoveTo(dc, C.x, C.y);
            GDI_LineTo(dc, 2 * C.x - T.x, 2 * C.y - T.y);
        }
        break;
    case 2: {
        const POINT pts[4] = {T, at(p, a - kTwelfth, L / 4), C, at(p, a + kTwelfth, L / 4)};
        GDI_SetPen(dc, style, 3, p->colour);
        GDI_FillPolygon(dc, pts, 4);
        hub(dc, p, 0.1f, metallic);
        break;
    }
    case 1: {
        const POINT pts[3] = {T, at(p, a - kTwelfth, L / 10), at(p, a + kTwelfth, L / 10)};
        GDI_SetPen(dc, style, 1, p->colour);
        GDI_Polygon(dc, pts, 3);
        GDI_SetPen(dc, style, 2, p->colour);
        GDI_FillPolygon(dc, pts, 3);
        hub(dc, p, 0.12f, metallic);
        break;
    }
    default:
        break; // no pointer
    }
    GDI_SetFillColor(dc, kColorNone);
    if (x && (le16(x + kDialCounter) & 1)) counter(def, p, dc, x);
    GDI_SetFillColor(dc, kColorNone);
    if (x) GDI_SetClipRect(dc, &saved, nullptr);
}

} // namespace

void GetPoints(const ObjInst *inst, float angle, int length, POINT *point) {
    const auto *p = reinterpret_cast<const RotInst *>(inst);
    const float t = reduce(angle);
    const int q = std::min(int(t / kHalfPi), 3);
    const float u = t - float(q) * kHalfPi;
    const float s = std::sin(u), c = std::cos(u), r = float(length);
    float dx, dy; // right and down
    switch (q) {
    case 0:
        dx = r * s;
        dy = -r * c;
        break;
    case 1:
        dx = r * c;
        dy = r * s;
        break;
    case 2:
        dx = -r * s;
        dy = r * c;
        break;
    default:
        dx = -r * c;
        dy = -r * s;
        break;
    }
    // The offsets are truncated toward zero, so that the quadrants mirror
    // each other pixel for pixel.
    point->x = int16_t(p->cx + int(dx));
    point->y = int16_t(p->cy + int(dy));
}

void ROT_CounterText(uint32_t value, char *out) {
    char full[16];
    if (value < 1000)
        std::snprintf(full, sizeof full, "%08u.00", unsigned(value));
    else
        std::snprintf(full, sizeof full, "%010u", unsigned(value));
    std::memcpy(out, full + 5, std::strlen(full + 5) + 1);
}

const ObjClass ROT_Class{kLength, create, paint, signal, nullptr, sizeof(RotInst), nullptr};
