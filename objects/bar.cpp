// BAR objects: a horizontal or vertical bar whose filled length shows a
// 16-bit register between two bounds, with an optional scale of marks,
// minimum and maximum labels and a caption; they take no input.
#include "base/le.h"
#include "gdi/shapes.h"
#include "gdi/text.h"
#include "gdi/util.h"
#include "objects/obj_int.h"
#include "objects/records.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

using namespace rec::bar;

constexpr uint32_t kLabels = 0x10, kHasCaption = 0x800;

struct BarInst {
    ObjInst hdr;
    RECT bar;  // B, exclusive
    RECT text; // T: caption and labels
    COLOR colour;
    RCB *value, *state;
    uint32_t raw;
    uint8_t reversed, vertical;
    int16_t drawn, length, full;
    int16_t s0, s1; // where the marks end and where the spine lies
    uint8_t whole;  // the record holds every field of the class
};

int width(const RECT &r) {
    return r.right - r.left;
}
int height(const RECT &r) {
    return r.bottom - r.top;
}
int16_t bound(const uint8_t *def, size_t at) {
    return int16_t(le16(def + at));
}

int16_t create(const uint8_t *def, ObjInst *inst) {
    auto *b = reinterpret_cast<BarInst *>(inst);
    // A record shorter than the class's has no fields to read: the object
    // stays hidden and inert.
    b->whole = obj::Holds(def, 0, kLength) ? 1 : 0;
    if (!b->whole) {
        inst->state = 0;
        return int16_t(sizeof(BarInst));
    }
    const uint32_t flags = le32(def + rec::kFlags);
    const RECT r = obj::Rect(def);
    inst->area = RECT{r.left, r.top, int16_t(r.right - 1), int16_t(r.bottom - 1)};
    const bool scale = def[kMarks] != 0;
    const bool beside = (flags & (kLabels | kHasCaption)) != 0;
    b->vertical = width(r) <= height(r) ? 1 : 0;
    RECT bar;
    if (b->vertical) {
        const int W = width(r), s = scale ? W / 6 : 0;
        const int xb = beside ? r.right - W / 2 : r.right - s;
        bar = RECT{int16_t(r.left + 1), int16_t(r.top + 1), int16_t(xb - 1), int16_t(r.bottom - 1)};
        b->full = int16_t(height(bar) + 1);
        b->s1 = int16_t(xb + W / 12 - 1);
        b->s0 = int16_t(xb + s - 2);
        b->text = RECT{int16_t(xb + s), r.top, r.right, r.bottom};
    } else {
        const int H = height(r), s = scale ? H / 6 : 0;
        const int yb = beside ? r.top + H / 2 : r.top + s;
        bar =
            RECT{int16_t(r.left + 1), int16_t(yb + 1), int16_t(r.right - 1), int16_t(r.bottom - 1)};
        b->full = int16_t(width(bar) + 1);
        b->s1 = int16_t(yb - H / 12);
        b->s0 = int16_t(yb + 1 - s);
        b->text = RECT{r.left, r.top, r.right, int16_t(yb + 1 - s)};
    }
    b->bar = bar;
    b->reversed = bound(def, kMin) > bound(def, kMax) ? 1 : 0;
    b->colour = le16(def + kBarColour);
    b->raw = 0;
    b->drawn = b->length = 0;
    b->value = obj::LinkReg(le16(def + kValue), def[kValueSize]);
    b->state = nullptr;
    inst->state = (flags & 1) ? kInstShown : 0;
    if (le16(def + rec::kStateLink)) {
        b->state = obj::LinkReg(le16(def + rec::kStateLink), 16);
        if (le16(def + rec::kStateMask) & 1) inst->state |= kInstHidden;
    }
    return int16_t(sizeof(BarInst));
}

uint16_t signal(const uint8_t *def, ObjInst *inst, int msg, uint32_t force) {
    auto *b = reinterpret_cast<BarInst *>(inst);
    if (msg != objmsg::kUpdate || !b->whole) return 0;
    uint32_t flags = 0;
    uint16_t r = obj::StateUpdate(def, inst, b->state, kLength, le16(def + kBarColour), &b->colour,
                                  &flags, true);
    if (!(flags & 1)) return r;
    uint8_t raw[4];
    obj::ReadReg(b->value, raw, 4);
    const uint32_t v = le32(raw);
    if (!force && v == b->raw) return r;
    b->raw = v;
    const int16_t lo = std::min(bound(def, kMin), bound(def, kMax));
    const int16_t hi = std::max(bound(def, kMin), bound(def, kMax));
    b->length = int16_t(UTIL_U16Scale(int16_t(v), def[kValueSize], hi, lo, b->full));
    if (b->length != b->drawn || force) {
        r |= objmsg::kRepaint;
        // A see-through bar has what lies under it restored first.
        if (le16(def + kBackground) == kColorNone) r |= objmsg::kErase;
    }
    return r;
}

void labels(const uint8_t *def, const BarInst *b, DC *dc) {
    int fh = 0;
    GDI_SelectFont(dc, def[kLabelFont], nullptr, &fh);
    GDI_SetTextColor(dc, le16(def + kColour));
    char lo[20], hi[20];
    std::snprintf(lo, sizeof lo, "%d", int(bound(def, kMin)));
    std::snprintf(hi, sizeof hi, "%d", int(bound(def, kMax)));
    const RECT &t = b->text;
    if (b->vertical) {
        GDI_SetTextAlign(dc, 3);
        GDI_ByteTextOut(dc, t.left, t.top, hi);
        GDI_ByteTextOut(dc, t.left, t.bottom - 1 - fh * int(std::strlen(lo)), lo);
    } else {
        GDI_SetTextAlign(dc, 0);
        GDI_ByteTextOut(dc, t.left, t.bottom - 1 - fh, lo);
        GDI_SetTextAlign(dc, 1);
        GDI_ByteTextOut(dc, t.right - 1, t.bottom - 1 - fh, hi);
    }
    GDI_SetTextAlign(dc, 0);
}

void scale(const uint8_t *def, const BarInst *b, DC *dc) {
    const RECT &B = b->bar;
    const int F = b->full, m = def[kMarks] - 1;
    auto line = [&](int x1, int y1, int x2, int y2) {
        GDI_MoveTo(dc, x1, y1);
        GDI_LineTo(dc, x2, y2);
    };
    if (b->vertical) {
        line(b->s1, B.bottom, b->s1, B.top - 2);
        const int y0 = b->reversed ? B.top - 1 : B.bottom;
        line(b->s0, y0, b->s1, y0);
        for (int k = 1; k <= m; ++k) {
            const int y = b->reversed ? y0 + k * F / m : y0 - k * F / m;
            line(b->s0, y, b->s1, y);
        }
    } else {
        line(B.left - 1, b->s1, B.right + 1, b->s1);
        const int x0 = b->reversed ? B.right : B.left - 1;
        line(x0, b->s0, x0, b->s1);
        for (int k = 1; k <= m; ++k) {
            const int x = b->reversed ? x0 - k * F / m : x0 + k * F / m;
            line(x, b->s0, x, b->s1);
        }
    }
}

void paint_frame(const uint8_t *def, BarInst *b, DC *dc) {
    const uint32_t flags = le32(def + rec::kFlags);
    const COLOR frame = le16(def + kColour);
    const RECT r = obj::Rect(def);
    GDI_SetPen(dc, 0, 1, kColorNone);
    GDI_SetFillColor(dc, le16(def + kBackground));
    GDI_Rectangle(dc, r.left, r.top, r.right, r.bottom);
    GDI_SetFillColor(dc, kColorNone);
    GDI_SetPen(dc, 1, 1, frame);
    const RECT &B = b->bar;
    GDI_Rectangle(dc, B.left - 1, B.top - 1, B.right + 1, B.bottom + 1);
    if (flags & kHasCaption) {
        if (const void *text = obj::Text(le32(def + kCaption))) {
            GDI_SetTextColor(dc, frame);
            GDI_SelectFont(dc, def[kFont], nullptr, nullptr);
            GDI_RectTextOut(dc, def[kAlign], &b->text, text);
        }
    }
    if (flags & kLabels) labels(def, b, dc);
    if (def[kMarks]) scale(def, b, dc);
}

void paint_bar(const uint8_t *def, BarInst *b, DC *dc) {
    b->drawn = b->length;
    const int L = b->length;
    const RECT &B = b->bar;
    RECT fill = B, rest = B;
    if (b->vertical && !b->reversed) {
        const int y = std::max(B.bottom - L, int(B.top));
        fill.top = rest.bottom = int16_t(y);
    } else if (b->vertical) {
        const int y = std::min(B.top + L, int(B.bottom));
        fill.bottom = rest.top = int16_t(y);
    } else if (!b->reversed) {
        const int x = std::min(B.left + L, int(B.right));
        fill.right = rest.left = int16_t(x);
    } else {
        const int x = std::max(B.right - L, int(B.left));
        fill.left = rest.right = int16_t(x);
    }
    GDI_SetPen(dc, 0, 1, 0x0000);
    GDI_SetFillColor(dc, b->colour);
    GDI_Rectangle(dc, fill.left, fill.top, fill.right, fill.bottom);
    GDI_SetFillColor(dc, le16(def + kBackground));
    GDI_Rectangle(dc, rest.left, rest.top, rest.right, rest.bottom);
}

void paint(const uint8_t *def, ObjInst *inst, int mode) {
    auto *b = reinterpret_cast<BarInst *>(inst);
    DC *dc = inst->dc;
    if (!dc || !b->whole) return;
    if (mode & 1) paint_frame(def, b, dc);
    if (mode & 2) paint_bar(def, b, dc);
}

} // namespace

const ObjClass BAR_Class{kLength, create, paint, signal, nullptr, sizeof(BarInst), nullptr};
