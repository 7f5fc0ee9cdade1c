// SHAPE objects: a line, rectangle, ellipse or rounded rectangle in a pen
// and a plain or gradient fill; its state register shows, hides, recolours
// and flashes it.
#include "base/le.h"
#include "gdi/gradient.h"
#include "gdi/shapes.h"
#include "objects/obj_int.h"
#include "objects/records.h"

#include <algorithm>

namespace {

using namespace rec::shape;

constexpr uint32_t kVertical = 0x10, kHorizontal = 0x20;

struct ShapeInst {
    ObjInst hdr;
    RECT rect; // exclusive
    COLOR colour;
    COLOR fill, end;
    RCB *state;
    uint8_t phase;
    uint8_t drives_fill; // the state register's colours replace the fill
};

bool transparent(const uint8_t *def) {
    return !obj::HasGradient(def) && le16(def + kFill) == kColorNone;
}

int16_t create(const uint8_t *def, ObjInst *inst) {
    auto *s = reinterpret_cast<ShapeInst *>(inst);
    s->rect = obj::Rect(def);
    inst->area =
        RECT{s->rect.left, s->rect.top, int16_t(s->rect.right - 1), int16_t(s->rect.bottom - 1)};
    s->phase = 0;
    obj::Gradient gr{};
    const bool gradient = obj::HasGradient(def) && obj::GradientAt(def, le16(def + kFill), &gr);
    s->fill = gradient ? gr.start : le16(def + kFill);
    s->end = gradient ? gr.end : s->fill;
    s->drives_fill = def[kKind] >= 2 && (gradient || le16(def + kFill) != kColorNone);
    s->colour = s->drives_fill ? s->fill : le16(def + kPen);
    const uint32_t flags = le32(def + rec::kFlags);
    inst->state = (flags & 1) ? kInstShown : 0;
    if (transparent(def)) inst->state |= kInstHidden;
    s->state = nullptr;
    const uint16_t link = le16(def + rec::kStateLink);
    if (link) {
        s->state = obj::LinkReg(link, 16);
        if (le16(def + rec::kStateMask) & 1) inst->state |= kInstHidden;
    }
    return int16_t(sizeof(ShapeInst));
}

uint16_t signal(const uint8_t *def, ObjInst *inst, int msg, uint32_t) {
    if (msg != objmsg::kUpdate) return 0;
    auto *s = reinterpret_cast<ShapeInst *>(inst);
    const COLOR normal = s->drives_fill ? s->fill : le16(def + kPen);
    uint32_t flags = 0;
    uint16_t r = obj::StateUpdate(def, inst, s->state, kLength, normal, &s->colour, &flags,
                                  !transparent(def));
    const bool shown = (inst->state & kInstShown) != 0;
    const uint8_t flash = obj::Flash() ? 1 : 0;
    if ((flags & 2) && shown) {
        if (flash != s->phase) {
            s->phase = flash;
            r |= objmsg::kRepaint | (s->phase ? objmsg::kHide : objmsg::kShow);
        }
    } else if (!(flags & 2) && s->phase) {
        s->phase = 0;
        r |= objmsg::kRepaint;
        if (transparent(def) && shown) r |= objmsg::kShow;
    }
    return r;
}

void paint(const uint8_t *def, ObjInst *inst, int) {
    auto *s = reinterpret_cast<ShapeInst *>(inst);
    DC *dc = inst->dc;
    if (!dc || s->phase) return;
    const int kind = def[kKind];
    const int width = def[kPenWidth];
    COLOR pen = s->drives_fill ? le16(def + kPen) : s->colour;
    COLOR fill = s->drives_fill ? s->colour : s->fill;
    GDI_SetPen(dc, pen == kColorNone ? 0 : def[kPenStyle], width, pen);
    GDI_SetFillColor(dc, fill);
    RECT r = s->rect;
    if (kind >= 2 && kind <= 4 && width > 1) {
        r.left = int16_t(r.left + width / 2);
        r.top = int16_t(r.top + width / 2);
        r.right = int16_t(r.right - width / 2);
        r.bottom = int16_t(r.bottom - width / 2);
        if (width % 2 == 0) {
            r.right = int16_t(r.right + 1);
            r.bottom = int16_t(r.bottom + 1);
        }
    }
    const uint32_t flags = le32(def + rec::kFlags);
    const uint8_t *in = def + kInsets;
    obj::Gradient gr{};
    const bool gradient = obj::HasGradient(def) && obj::GradientAt(def, le16(def + kFill), &gr);
    if (gradient) {
        GDI_SetGradient(dc, gr.mode);
        GDI_SetEndColor(dc, s->end);
    }
    // Lines run between the first and last pixel of the rectangle.
    const int last_x = r.right - 1, last_y = r.bottom - 1;
    switch (kind) {
    case 0: {
        const int L = r.left + in[0], T = r.top + in[1], R = last_x - in[2], B = last_y - in[3];
        GDI_MoveTo(dc, L, T);
        if (flags & kVertical)
            GDI_LineTo(dc, L, B + 1);
        else if (flags & kHorizontal)
            GDI_LineTo(dc, R + 1, T);
        else
            GDI_LineTo(dc, R + 1, B + 1);
        break;
    }
    case 1: {
        // The horizontal insets apply mirrored: the line rises to the right.
        const int L = r.left + in[2], T = r.top + in[1], R = last_x - in[0], B = last_y - in[3];
        GDI_MoveTo(dc, L, B);
        GDI_LineTo(dc, R + 1, T - 1);
        break;
    }
    case 2:
        if (gradient)
            GDI_GradientRect(dc, gr.p1, gr.p2, r.left, r.top, r.right, r.bottom);
        else
            GDI_Rectangle(dc, r.left, r.top, r.right, r.bottom);
        break;
    case 3:
        if (gradient)
            GDI_GradEllipse(dc, gr.p1, gr.p2, r.left, r.top, r.right, r.bottom);
        else
            GDI_Ellipse(dc, r.left, r.top, r.right, r.bottom);
        break;
    case 4: {
        const int side = std::min(r.right - r.left, r.bottom - r.top);
        const int radius = side < 75 ? side / 3 : 25;
        if (gradient)
            GDI_GradRoundRect(dc, gr.p1, gr.p2, r.left, r.top, r.right, r.bottom, radius, radius);
        else
            GDI_RoundRect(dc, r.left, r.top, r.right, r.bottom, radius, radius);
        break;
    }
    default:
        break; // kinds 5 and above draw nothing
    }
    if (gradient) GDI_SetGradient(dc, 0);
}

} // namespace

const ObjClass SHAPE_Class{kLength, create, paint, signal, nullptr, sizeof(ShapeInst), nullptr};
